// One page, one request: compile, run, end, release.
#include "host/asp/page_runner.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "host/asp/form_data.h"
#include "host/asp/intrinsics.h"
#include "host/asp/page_cache.h"
#include "host/asp/page_parser.h"
#include "host/asp/script_engine.h"
#include "host/asp/web_application.h"

namespace quill::asp {

namespace {

// The program's writes, into the response body under its cap; nothing once
// the page has ended.
class BodySink : public OutputSink {
 public:
  explicit BodySink(PageEnvironment& env) : env_(env) {}
  void Write(std::string_view utf8) override {
    if (env_.ended) return;
    if (env_.writer != nullptr) {
      env_.writer->Write(utf8);
      return;
    }
    std::string& body = env_.response->body;
    if (body.size() + utf8.size() > env_.max_response_bytes) {
      throw std::runtime_error("the response is larger than the " +
                               std::to_string(env_.max_response_bytes) + " bytes allowed");
    }
    body.append(utf8);
  }

 private:
  PageEnvironment& env_;
};

RenderResult Failure(int status, const std::string& title, const std::string& message,
                     const std::string& where, bool debug = true) {
  RenderResult result;
  result.response.status = status;
  result.response.reason = title;
  result.response.content_type = "text/html";
  result.response.charset = "utf-8";
  // Without debug a server failure tells the client nothing of the site's
  // files, lines or source; the log has it all.
  result.response.body = debug || status != 500
                             ? ErrorPage(status, title, message, where)
                             : ErrorPage(status, title, "The page cannot be shown because of an error on the server.", "");
  result.error = where.empty() ? message : message + " (" + where + ")";
  return result;
}

constexpr int kMaxExecuteDepth = 8;

// The whole request: what Server.Execute needs besides the environment.
struct RunContext {
  const SiteRoot& site;
  const PageRequest& request;
  const HostOptions& options;
  ResponseChannel* channel;
  std::chrono::steady_clock::time_point deadline;
  int depth = 0;
  // Where an executed page failed, so that its caller's failure names the
  // place in the page that went wrong.
  std::optional<LastError> executed_failure;
  // The application and, once a page of the request names Session, its
  // session: the turn is held until the request has ended, so that requests
  // of one session run one at a time.
  WebApplication* app = nullptr;
  std::unique_ptr<SessionManager::Turn> turn{};
  ActiveSession session{};
  bool new_session = false;
  std::string session_cookie{};  // Set-Cookie value not yet sent
};

// True when the program names Session as a word of its own: such a page
// runs in a session; any other sends no session cookie.
bool NamesSession(const std::string& script) {
  auto ident = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
  };
  for (size_t at = script.find("Session"); at != std::string::npos; at = script.find("Session", at + 7)) {
    if ((at == 0 || !ident(script[at - 1])) && (at + 7 >= script.size() || !ident(script[at + 7]))) return true;
  }
  return false;
}

std::string SessionCookie(const std::string& id, bool secure) {
  return std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : "");
}

// Joins the session of the request's cookie (a new one when it names none
// that lives) when `page` is the first of the request to name Session.
// Answers true when the session is new: Session_OnStart is then due.
bool EnterSession(RunContext& run, const CompiledPage& page) {
  if (run.app == nullptr || run.turn != nullptr || !NamesSession(page.script)) return false;
  SessionRecord record;
  for (const auto& [name, value] : ParseCookies(run.request.headers)) {
    if (name == kSessionCookie && IsSessionIdForm(value)) {
      run.turn = run.app->sessions().Open(value, &record);
      break;
    }
  }
  if (record.id.empty()) {
    run.turn.reset();
    run.turn = run.app->sessions().Create(&record);
    run.new_session = true;
    run.session_cookie = SessionCookie(record.id, run.request.https);
  }
  run.session.id = record.id;
  run.session.timeout_seconds = record.timeout_seconds;
  run.session.max_bytes = run.app->settings().sessions.max_session_bytes;
  if (!record.data.empty() && !run.session.values.Parse(record.data)) run.session.values.Clear();
  return run.new_session;
}

// Stores the session of the request, if it has one, and lets the next
// request of the session run.
void LeaveSession(RunContext& run) {
  if (run.turn == nullptr) return;
  SessionRecord record;
  record.id = run.session.id;
  record.timeout_seconds = run.session.timeout_seconds;
  record.data = run.session.values.Serialise();
  run.app->sessions().Save(record);
  if (run.session.abandoned) run.app->sessions().End(run.session.id);
  run.turn.reset();
}

// Application and Session of one page environment (a page and the pages it
// executes share them).
class StateObjects {
 public:
  StateObjects(RunContext& run, PageEnvironment& env) : run_(run), env_(env) {
    if (run.app != nullptr) {
      application_ = NewApplicationObject(run.app->state(), &env, run.deadline);
    }
  }
  ~StateObjects() {
    if (run_.app != nullptr) run_.app->state().ReleaseLocks(&env_);
    application_.Reset();
    session_.Reset();
  }
  StateObjects(const StateObjects&) = delete;
  StateObjects& operator=(const StateObjects&) = delete;

  IDispatch* application() const { return application_.get(); }
  // The Session object, once the request has a session.
  IDispatch* session() {
    if (!session_ && run_.turn != nullptr) session_ = NewSessionObject(run_.session);
    return session_.get();
  }

 private:
  RunContext& run_;
  PageEnvironment& env_;
  olert::ComPtr<IDispatch> application_;
  olert::ComPtr<IDispatch> session_;
};

// The text of line `line` of the site's file `virtual_path`, trimmed.
std::string SourceLineText(const SiteRoot& site, const std::string& virtual_path, int line) {
  if (line <= 0 || virtual_path.empty()) return "";
  const std::optional<std::filesystem::path> file = site.Resolve(virtual_path);
  if (!file) return "";
  std::ifstream in(*file, std::ios::binary);
  std::string text;
  for (int i = 0; i < line && std::getline(in, text); ++i) {
  }
  if (!in && text.empty()) return "";
  const size_t first = text.find_first_not_of(" \t\r");
  const size_t last = text.find_last_not_of(" \t\r");
  text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  if (text.size() > 300) text = text.substr(0, 300) + "...";
  return text;
}

LastError FromOutcome(const SiteRoot& site, const ScriptOutcome& outcome, const std::string& page_path) {
  LastError e;
  e.description = outcome.message;
  e.file = outcome.file.empty() ? page_path : outcome.file;
  e.line = outcome.line;
  if (outcome.kind == ScriptOutcome::Kind::kTimedOut) {
    e.number = E_ABORT;
    e.category = "Page host";
    e.asp_code = "ASP 0113";
    e.asp_description = "Script timed out";
  } else {
    e.number = outcome.number != 0 ? outcome.number : E_FAIL;
    e.category = outcome.message.rfind("SyntaxError", 0) == 0 ? "JScript compilation" : "JScript runtime";
  }
  e.source = SourceLineText(site, e.file, e.line);
  return e;
}

LastError FromPageError(const SiteRoot& site, const PageError& error) {
  LastError e;
  e.number = E_FAIL;
  e.description = error.message();
  e.file = error.file();
  e.line = error.line();
  e.category = "Page compilation";
  e.source = SourceLineText(site, e.file, e.line);
  return e;
}

// Defines the page objects in `engine`, for `page`; joins the session first
// when the page is the first of the request to use it (Session_OnStart runs
// then, before the page).
void DefineIntrinsics(ScriptEngine& engine, PageObjects& objects, RunContext& run, StateObjects& state,
                      const CompiledPage& page) {
  engine.DefineObject("Request", objects.request());
  engine.DefineObject("Response", objects.response());
  engine.DefineObject("Server", objects.server());
  if (run.app == nullptr) return;
  const bool started = EnterSession(run, page);
  engine.DefineObject("Application", state.application());
  if (IDispatch* session = state.session()) engine.DefineObject("Session", session);
  if (started) {
    EventObjects with{state.application(), state.session(), objects.request(), objects.response(), objects.server()};
    run.app->SessionStarted(with);
  }
}

// The Set-Cookie headers that go with the head of a page's response: the
// new session's, then the page's own.
void AddCookieHeaders(RunContext& run, PageEnvironment& env, PageResponse& response) {
  if (!run.session_cookie.empty() && !run.session.abandoned) {
    response.headers.emplace_back("Set-Cookie", run.session_cookie);
    run.session_cookie.clear();
  }
  if (env.response_cookies != nullptr) {
    for (const std::string& c : SetCookieHeaders(env.response_cookies)) response.headers.emplace_back("Set-Cookie", c);
  }
}

RenderResult Run(RunContext& run, const std::string& url_path, const LastError* handling, int status);

// The failure `error` of a page: the site's 500 page when it has one (and
// the failing page is not that page), else the host's own. `writer`, when
// given, tells whether part of the answer is out already.
RenderResult Fail(RunContext& run, const LastError& error, const ResponseWriter* writer, bool in_error_page) {
  const std::string logged = error.Describe();
  if (writer != nullptr && writer->committed()) {
    RenderResult result;
    result.error = logged;
    result.cut_off = true;
    return result;
  }
  const auto page = run.options.error_pages.find(500);
  if (!in_error_page && page != run.options.error_pages.end()) {
    RenderResult result = Run(run, page->second, &error, 500);
    result.error = result.error.empty() ? logged : logged + "; the error page failed too: " + result.error;
    return result;
  }
  std::string message = error.description;
  if (error.number != 0 && error.number != E_FAIL && error.number != E_ABORT) {
    message += " [error " + olert::HresultText(error.number).substr(2) + "]";  // the digits alone
  }
  std::string where = error.file;
  if (error.line > 0) where += ", line " + std::to_string(error.line);
  return Failure(500, "Internal Server Error", message, where, run.options.debug);
}

// Server.Execute of `target` from the page running in `env`.
void ExecuteChild(RunContext& run, PageEnvironment& env, PageObjects& objects, StateObjects& state,
                  const std::string& target) {
  if (run.depth >= kMaxExecuteDepth) {
    throw AutomationError(E_FAIL, "Server.Execute: pages run one another more than " +
                                      std::to_string(kMaxExecuteDepth) + " deep");
  }
  const std::optional<std::filesystem::path> file = run.site.Resolve(target);
  std::error_code ec;
  if (!file || !std::filesystem::is_regular_file(*file, ec)) {
    throw AutomationError(E_INVALIDARG, "Server.Execute: there is no page " + target);
  }
  const std::string page_path = run.site.VirtualPath(*file);
  std::shared_ptr<const CompiledPage> page;
  std::shared_ptr<ProgramCode> code;
  try {
    page = LoadPage(run.site, page_path, run.options.cache, &code);
  } catch (const PageError& e) {
    run.executed_failure = FromPageError(run.site, e);
    throw AutomationError(E_FAIL, e.message());
  } catch (const std::exception& e) {
    throw AutomationError(E_FAIL, "Server.Execute: cannot read " + page_path + ": " + e.what());
  }
  EngineLimits limits;
  limits.timeout = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                run.deadline - std::chrono::steady_clock::now()),
                            std::chrono::milliseconds(1));
  limits.max_heap_bytes = run.options.max_heap_bytes;
  const std::string caller_path = env.page_path;
  const std::filesystem::path caller_file = env.page_file;
  std::function<void()> caller_stop = env.stop;
  ScriptOutcome outcome;
  {
    PooledEngine engine(limits);
    env.page_path = page_path;
    env.page_file = *file;
    env.stop = [&engine] { engine->RequestStop(); };
    BodySink sink(env);
    engine->SetOutput(&sink);
    ++run.depth;
    try {
      DefineIntrinsics(*engine, objects, run, state, *page);
      outcome = engine->Run(*page, code.get());
    } catch (...) {
      --run.depth;
      env.page_path = caller_path;
      env.page_file = caller_file;
      env.stop = caller_stop;
      throw;
    }
    --run.depth;
    engine->SetOutput(nullptr);
    env.page_path = caller_path;
    env.page_file = caller_file;
    env.stop = caller_stop;
  }
  if (outcome.kind == ScriptOutcome::Kind::kFailed || outcome.kind == ScriptOutcome::Kind::kTimedOut) {
    // The page run from here may itself have run one that failed.
    if (!run.executed_failure || run.executed_failure->description != outcome.message) {
      run.executed_failure = FromOutcome(run.site, outcome, page_path);
    }
    throw AutomationError(outcome.number != 0 ? outcome.number : E_FAIL, outcome.message);
  }
  // Response.End in the executed page ends its caller too.
  if (env.ended && env.stop) env.stop();
}

RenderResult Run(RunContext& run, const std::string& url_path, const LastError* handling, int status) {
  const SiteRoot& site = run.site;
  const HostOptions& options = run.options;
  // The request's own page was resolved by the front end already.
  const bool resolved = handling == nullptr && !run.request.file.empty() && url_path == run.request.url_path;
  const std::optional<std::filesystem::path> file = resolved ? run.request.file : site.Resolve(url_path);
  std::error_code ec;
  if (!file || (!resolved && !std::filesystem::is_regular_file(*file, ec))) {
    if (handling != nullptr) {
      return Failure(500, "Internal Server Error", "the error page " + url_path + " does not exist", "",
                     options.debug);
    }
    return RenderStatusPage(site, run.request, options, 404, "Not Found",
                            "The page " + url_path + " does not exist.", run.channel);
  }
  const std::string page_path = site.VirtualPath(*file);
  std::shared_ptr<const CompiledPage> page;
  std::shared_ptr<ProgramCode> code;
  try {
    page = LoadPage(site, page_path, options.cache, &code);
  } catch (const PageError& e) {
    return Fail(run, FromPageError(site, e), nullptr, handling != nullptr);
  } catch (const std::exception& e) {
    LastError error;
    error.number = E_FAIL;
    error.description = std::string("cannot read the page: ") + e.what();
    error.file = page_path;
    error.category = "Page host";
    return Fail(run, error, nullptr, handling != nullptr);
  }

  RenderResult result;
  if (handling != nullptr) {
    result.response.status = status;
    result.response.reason = status == 404 ? "Not Found" : "Internal Server Error";
  }
  ResponseWriter writer(result.response, options.max_response_bytes, run.channel);
  PageEnvironment env;
  env.site = &site;
  env.page_path = page_path;
  env.page_file = *file;
  env.request = &run.request;
  env.response = &result.response;
  env.max_response_bytes = options.max_response_bytes;
  env.timeout_seconds = static_cast<int>((options.timeout.count() + 999) / 1000);
  env.writer = &writer;
  env.last_error = handling;
  ScriptOutcome outcome;
  {
    // The objects outlive the engine's page: script holds them until the
    // engine is given back.
    PageObjects objects(env);
    StateObjects state(run, env);
    // Cookies go out with the head: at the first flush of a streamed page,
    // else when the page has run.
    writer.OnHead([&run, &env](PageResponse& head) { AddCookieHeaders(run, env, head); });
    EngineLimits limits;
    limits.timeout = options.timeout;
    limits.max_heap_bytes = options.max_heap_bytes;
    PooledEngine engine(limits);
    env.stop = [&engine] { engine->RequestStop(); };
    env.execute = [&run, &env, &objects, &state](const std::string& target) {
      ExecuteChild(run, env, objects, state, target);
    };
    BodySink sink(env);
    engine->SetOutput(&sink);
    DefineIntrinsics(*engine, objects, run, state, *page);
    outcome = engine->Run(*page, code.get());
    objects.EndPage();
    engine->SetOutput(nullptr);
    env.stop = nullptr;
    env.execute = nullptr;
    if (outcome.kind == ScriptOutcome::Kind::kCompleted || outcome.kind == ScriptOutcome::Kind::kStopped) {
      writer.CompleteHead();
    }
    writer.OnHead(nullptr);
  }
  switch (outcome.kind) {
    case ScriptOutcome::Kind::kCompleted:
    case ScriptOutcome::Kind::kStopped:
      if (handling != nullptr) result.response.status = status;  // the error page answers with its status
      if (writer.committed()) writer.Flush();  // the rest follows what was sent
      return result;
    case ScriptOutcome::Kind::kTimedOut:
    case ScriptOutcome::Kind::kFailed: {
      LastError error = FromOutcome(site, outcome, page_path);
      if (run.executed_failure && outcome.message.find(run.executed_failure->description) != std::string::npos) {
        error = *run.executed_failure;  // the place is in the page that was executed
      }
      return Fail(run, error, &writer, handling != nullptr);
    }
  }
  return result;
}

}  // namespace

std::string ErrorPage(int status, const std::string& title, const std::string& message,
                      const std::string& where) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     std::to_string(status) + " " + HtmlEncode(title) + "</title></head>\n<body><h1>" +
                     std::to_string(status) + " " + HtmlEncode(title) + "</h1>\n<p class=\"message\">" +
                     HtmlEncode(message) + "</p>\n";
  if (!where.empty()) page += "<p class=\"where\">" + HtmlEncode(where) + "</p>\n";
  page += "</body></html>\n";
  return page;
}

RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        ResponseChannel* channel) {
  // One request, but a whole application: global.asa runs, and a page that
  // uses Session or Application works as it would when served.
  WebApplication app(site, ApplicationSettings{});
  RenderResult result = RenderPage(site, request, options, &app, channel);
  app.Shutdown();
  return result;
}

RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        WebApplication* app, ResponseChannel* channel) {
  ComScope com;
  try {
    std::shared_lock<std::shared_mutex> running;
    if (app != nullptr) running = app->Enter();
    RunContext run{site, request, options, channel, std::chrono::steady_clock::now() + options.timeout, 0, std::nullopt};
    run.app = app;
    RenderResult result = Run(run, request.url_path, nullptr, 0);
    // A page that failed before its head went out still starts its session.
    if (!run.session_cookie.empty() && !run.session.abandoned && !result.cut_off) {
      result.response.headers.emplace_back("Set-Cookie", run.session_cookie);
    }
    LeaveSession(run);
    return result;
  } catch (const std::exception& e) {
    return Failure(500, "Internal Server Error", std::string("the host failed: ") + e.what(), request.url_path,
                   options.debug);
  } catch (...) {
    return Failure(500, "Internal Server Error", "the host failed", request.url_path, options.debug);
  }
}

}  // namespace quill::asp

namespace quill::asp {

RenderResult RenderStatusPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                              int status, const std::string& title, const std::string& message,
                              ResponseChannel* channel, WebApplication* app) {
  const auto page = options.error_pages.find(status);
  if (page == options.error_pages.end()) return Failure(status, title, message, "");
  ComScope com;
  try {
    std::shared_lock<std::shared_mutex> running;
    if (app != nullptr) running = app->Enter();
    LastError error;
    error.description = message;
    error.file = request.url_path;
    error.category = "Page host";
    RunContext run{site, request, options, channel, std::chrono::steady_clock::now() + options.timeout, 0, std::nullopt};
    run.app = app;
    RenderResult result = Run(run, page->second, &error, status);
    if (!run.session_cookie.empty() && !run.session.abandoned && !result.cut_off) {
      result.response.headers.emplace_back("Set-Cookie", run.session_cookie);
    }
    LeaveSession(run);
    result.error = result.error.empty() ? std::string() : "the error page failed: " + result.error;
    return result;
  } catch (const std::exception& e) {
    return Failure(500, "Internal Server Error", std::string("the host failed: ") + e.what(), request.url_path,
                   options.debug);
  }
}

}  // namespace quill::asp

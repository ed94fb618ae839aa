// One page, one request: compile, run, end, release.
#include "host/asp/page_runner.h"

#include <cstdio>
#include <stdexcept>

#include "host/asp/form_data.h"
#include "host/asp/intrinsics.h"
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

// Initialises the automation runtime for the current thread while it lives,
// unless the thread did so already.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%08X", static_cast<unsigned>(hr));
  return buf;
}

RenderResult Failure(int status, const std::string& title, const std::string& message,
                     const std::string& where) {
  RenderResult result;
  result.response.status = status;
  result.response.reason = title;
  result.response.content_type = "text/html";
  result.response.charset = "utf-8";
  result.response.body = ErrorPage(status, title, message, where);
  result.error = where.empty() ? message : message + " (" + where + ")";
  return result;
}

RenderResult Finish(RenderResult result, const ScriptOutcome& outcome, const std::string& page_path);

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

RenderResult Run(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                 WebApplication* app) {
  const std::optional<std::filesystem::path> file = site.Resolve(request.url_path);
  std::error_code ec;
  if (!file || !std::filesystem::is_regular_file(*file, ec)) {
    return Failure(404, "Not Found", "The page " + request.url_path + " does not exist.", "");
  }
  const std::string page_path = site.VirtualPath(*file);
  SiteSource source(site);
  CompiledPage page;
  try {
    page = CompilePage(source.Open(page_path), source);
  } catch (const PageError& e) {
    return Failure(500, "Internal Server Error", e.message(), e.file() + ", line " + std::to_string(e.line()));
  } catch (const std::exception& e) {
    return Failure(500, "Internal Server Error", std::string("cannot read the page: ") + e.what(), page_path);
  }

  std::shared_lock<std::shared_mutex> running;
  if (app != nullptr) running = app->Enter();
  // The session, when the page uses one: the turn is held until the page has
  // ended, so that requests of one session run one at a time.
  std::unique_ptr<SessionManager::Turn> turn;
  ActiveSession session;
  bool new_session = false;
  if (app != nullptr && NamesSession(page.script)) {
    SessionRecord record;
    for (const auto& [name, value] : ParseCookies(request.headers)) {
      if (name == kSessionCookie && IsSessionIdForm(value)) {
        turn = app->sessions().Open(value, &record);
        break;
      }
    }
    if (record.id.empty()) {
      turn.reset();
      turn = app->sessions().Create(&record);
      new_session = true;
    }
    session.id = record.id;
    session.timeout_seconds = record.timeout_seconds;
    session.max_bytes = app->settings().sessions.max_session_bytes;
    if (!record.data.empty() && !session.values.Parse(record.data)) session.values.Clear();
  }

  RenderResult result;
  PageEnvironment env;
  env.site = &site;
  env.page_path = page_path;
  env.request = &request;
  env.response = &result.response;
  env.max_response_bytes = options.max_response_bytes;
  env.timeout_seconds = static_cast<int>((options.timeout.count() + 999) / 1000);
  ScriptOutcome outcome;
  std::vector<std::string> cookies;  // Set-Cookie values
  {
    // The objects outlive the engine: script holds them until the heap goes.
    PageObjects objects(env);
    EngineLimits limits;
    limits.timeout = options.timeout;
    limits.max_heap_bytes = options.max_heap_bytes;
    ScriptEngine engine(limits);
    env.stop = [&engine] { engine.RequestStop(); };
    BodySink sink(env);
    engine.SetOutput(&sink);
    engine.DefineObject("Request", objects.request());
    engine.DefineObject("Response", objects.response());
    engine.DefineObject("Server", objects.server());
    IDispatch* application = nullptr;
    IDispatch* session_object = nullptr;
    if (app != nullptr) {
      application = NewApplicationObject(app->state(), &env, std::chrono::steady_clock::now() + options.timeout);
      engine.DefineObject("Application", application);
      if (turn != nullptr) {
        session_object = NewSessionObject(session);
        engine.DefineObject("Session", session_object);
      }
    }
    if (new_session) {
      EventObjects with{application, session_object, objects.request(), objects.response(), objects.server()};
      app->SessionStarted(with);
    }
    outcome = engine.Run(page);
    objects.EndPage();
    engine.SetOutput(nullptr);
    env.stop = nullptr;
    if (app != nullptr) app->state().ReleaseLocks(&env);
    if (application != nullptr) application->Release();
    if (session_object != nullptr) session_object->Release();
    cookies = SetCookieHeaders(env.response_cookies);
  }
  if (turn != nullptr) {
    SessionRecord record;
    record.id = session.id;
    record.timeout_seconds = session.timeout_seconds;
    record.data = session.values.Serialise();
    app->sessions().Save(record);
    if (session.abandoned) app->sessions().End(session.id);
    turn.reset();
    if (new_session && !session.abandoned) cookies.insert(cookies.begin(), SessionCookie(session.id, request.secure));
  }
  RenderResult finished = Finish(std::move(result), outcome, page_path);
  for (const std::string& c : cookies) finished.response.headers.emplace_back("Set-Cookie", c);
  return finished;
}

RenderResult Finish(RenderResult result, const ScriptOutcome& outcome, const std::string& page_path) {
  switch (outcome.kind) {
    case ScriptOutcome::Kind::kCompleted:
    case ScriptOutcome::Kind::kStopped:
      return result;
    case ScriptOutcome::Kind::kTimedOut:
      return Failure(500, "Internal Server Error", outcome.message, page_path);
    case ScriptOutcome::Kind::kFailed: {
      std::string message = outcome.message;
      if (outcome.number != 0) message += " [error " + Hex(outcome.number) + "]";
      std::string where = outcome.file;
      if (outcome.line > 0) where += ", line " + std::to_string(outcome.line);
      return Failure(500, "Internal Server Error", message, where);
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

RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options) {
  // One request, but a whole application: global.asa runs, and a page that
  // uses Session or Application works as it would when served.
  WebApplication app(site, ApplicationSettings{});
  RenderResult result = RenderPage(site, request, options, &app);
  app.Shutdown();
  return result;
}

RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        WebApplication* app) {
  ComScope com;
  try {
    return Run(site, request, options, app);
  } catch (const std::exception& e) {
    return Failure(500, "Internal Server Error", std::string("the host failed: ") + e.what(), request.url_path);
  } catch (...) {
    return Failure(500, "Internal Server Error", "the host failed", request.url_path);
  }
}

}  // namespace quill::asp

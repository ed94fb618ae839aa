// The application of a site: start, restart, shutdown, and its events.
#include "host/asp/web_application.h"

#include <sys/stat.h>

#include <cstdio>

#include "host/asp/intrinsics.h"

namespace quill::asp {

namespace {

}  // namespace

WebApplication::WebApplication(const SiteRoot& site, const ApplicationSettings& settings,
                               std::unique_ptr<SessionStore> store)
    : site_(site), settings_(settings) {
  if (store == nullptr) store = NewMemorySessionStore();
  sessions_ = std::make_unique<SessionManager>(settings_.sessions, std::move(store),
                                               [this](const SessionRecord& r) { SessionEnded(r); });
}

WebApplication::~WebApplication() {
  Shutdown();
  sessions_.reset();  // stops the sweeper before the rest goes
}

std::shared_lock<std::shared_mutex> WebApplication::Enter() {
  {
    std::shared_lock<std::shared_mutex> running(running_);
    if (started_ && !AsaChanged()) return running;
  }
  {
    std::unique_lock<std::shared_mutex> exclusive(running_);
    if (!started_) {
      Start();
    } else if (AsaChanged()) {
      Stop();
      Start();
    }
  }
  return std::shared_lock<std::shared_mutex>(running_);
}

void WebApplication::Shutdown() {
  ComScope com;
  std::unique_lock<std::shared_mutex> exclusive(running_);
  if (started_) Stop();
}

// One look at the file, for every request: a system call is dear.
WebApplication::AsaStamp WebApplication::StampOfAsa(const std::filesystem::path& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return AsaStamp{};
  return AsaStamp{true, static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec};
}

bool WebApplication::AsaChanged() {
  std::lock_guard<std::mutex> lock(asa_mutex_);
  return StampOfAsa(site_.path() / "global.asa") != asa_stamp_;
}

std::shared_ptr<const GlobalAsa> WebApplication::Asa() {
  std::lock_guard<std::mutex> lock(asa_mutex_);
  return asa_;
}

void WebApplication::Start() {
  const std::filesystem::path file = site_.path() / "global.asa";
  {
    std::lock_guard<std::mutex> lock(asa_mutex_);
    asa_stamp_ = StampOfAsa(file);
    asa_.reset();
    if (asa_stamp_.exists) {
      try {
        if (std::optional<GlobalAsa> asa = LoadGlobalAsa(file, "/global.asa")) {
          asa_ = std::make_shared<const GlobalAsa>(std::move(*asa));
        }
      } catch (const PageError& e) {
        if (settings_.log) std::fprintf(stderr, "quill-asp: %s\n", e.what());
      }
    }
  }
  started_ = true;
  RunEvent("Application_OnStart", nullptr);
}

void WebApplication::Stop() {
  sessions_->EndAll();
  RunEvent("Application_OnEnd", nullptr);
  state_.Clear();
  started_ = false;
}

void WebApplication::SessionStarted(const EventObjects& objects) {
  const std::shared_ptr<const GlobalAsa> asa = Asa();
  if (asa == nullptr) return;
  Log("Session_OnStart", RunGlobalAsaEvent(*asa, "Session_OnStart", objects, settings_.events));
}

void WebApplication::SessionEnded(const SessionRecord& record) {
  const std::shared_ptr<const GlobalAsa> asa = Asa();
  if (asa == nullptr || !asa->Has("Session_OnEnd")) return;
  ActiveSession session;
  session.id = record.id;
  session.timeout_seconds = record.timeout_seconds;
  session.values.Parse(record.data);
  session.max_bytes = settings_.sessions.max_session_bytes;
  RunEvent("Session_OnEnd", NewSessionObject(session).get());
}

void WebApplication::RunEvent(const std::string& event, IDispatch* session) {
  const std::shared_ptr<const GlobalAsa> asa = Asa();
  if (asa == nullptr || !asa->Has(event)) return;
  PageRequest request;
  request.url_path = "/global.asa";
  PageResponse response;
  PageEnvironment env;
  env.site = &site_;
  env.page_path = "/global.asa";
  env.request = &request;
  env.response = &response;
  env.timeout_seconds = static_cast<int>((settings_.events.timeout.count() + 999) / 1000);
  std::string error;
  {
    PageObjects objects(env);
    const olert::ComPtr<IDispatch> application =
        NewApplicationObject(state_, &env, std::chrono::steady_clock::now() + settings_.events.timeout);
    EventObjects with;
    with.application = application.get();
    with.session = session;
    with.server = objects.server();
    error = RunGlobalAsaEvent(*asa, event, with, settings_.events);
    objects.EndPage();
    state_.ReleaseLocks(&env);
  }
  Log(event, error);
}

void WebApplication::Log(const std::string& event, const std::string& error) {
  if (!error.empty() && settings_.log) {
    std::fprintf(stderr, "quill-asp: global.asa %s failed: %s\n", event.c_str(), error.c_str());
  }
}

}  // namespace quill::asp

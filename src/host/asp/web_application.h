// WebApplication: what the pages of one site share within a host process:
// Application's values, the sessions, and the events of global.asa.
//
// The application starts with the first request (Application_OnStart) and
// ends at shutdown (sessions that die with the process end first, with
// Session_OnEnd; then Application_OnEnd). A request checks whether
// global.asa changed; when it did, the application restarts in place: the
// requests under way finish, the sessions of this process end, OnEnd runs
// with the old file and OnStart with the new one, and Application's values
// start empty. An error in an event is logged and stops nothing.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "host/asp/global_asa.h"
#include "host/asp/session_state.h"
#include "host/asp/site_root.h"
#include "host/asp/state_objects.h"

namespace quill::asp {

struct ApplicationSettings {
  SessionSettings sessions;
  EngineLimits events;  // how long and how much a global.asa event may run
  bool log = true;      // event errors on stderr
};

// The name of the session cookie.
inline constexpr const char* kSessionCookie = "QuillSessionID";

class WebApplication {
 public:
  // Sessions live in `store` (null: in memory). REQUIRES: `site` outlives
  // the application.
  WebApplication(const SiteRoot& site, const ApplicationSettings& settings,
                 std::unique_ptr<SessionStore> store = nullptr);
  // Shutdown, if that was not done.
  ~WebApplication();
  WebApplication(const WebApplication&) = delete;
  WebApplication& operator=(const WebApplication&) = delete;

  // Held by a request while it runs: starts the application on the first
  // request, restarts it when global.asa changed.
  std::shared_lock<std::shared_mutex> Enter();
  // Ends the sessions that die with the process and the application. Later
  // requests start it again.
  void Shutdown();

  ApplicationState& state() { return state_; }
  SessionManager& sessions() { return *sessions_; }
  const ApplicationSettings& settings() const { return settings_; }

  // Runs Session_OnStart of a new session with the request's objects.
  void SessionStarted(const EventObjects& objects);

 private:
  void Start();
  void Stop();
  bool AsaChanged();
  void SessionEnded(const SessionRecord& record);
  // Runs `event` outside a request, with a Server object of its own.
  void RunEvent(const std::string& event, IDispatch* session);
  std::shared_ptr<const GlobalAsa> Asa();
  void Log(const std::string& event, const std::string& error);

  const SiteRoot& site_;
  ApplicationSettings settings_;
  std::shared_mutex running_;
  std::mutex asa_mutex_;
  std::shared_ptr<const GlobalAsa> asa_;
  // global.asa as last read: whether it was a file, its size and time.
  struct AsaStamp {
    bool exists = false;
    long long size = 0;
    long long seconds = 0;
    long nanoseconds = 0;
    bool operator==(const AsaStamp&) const = default;
  };
  static AsaStamp StampOfAsa(const std::filesystem::path& file);
  AsaStamp asa_stamp_;
  bool started_ = false;
  ApplicationState state_;
  std::unique_ptr<SessionManager> sessions_;
};

}  // namespace quill::asp

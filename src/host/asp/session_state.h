// Sessions: ids, stores, the one-at-a-time rule, expiry and caps.
//
// A session is a record in a SessionStore: its id, its values (a
// serialised ValueMap) and its timeout. The store in memory is the default;
// a store in a MySQL-protocol server lets several host processes share
// sessions. The SessionManager in front of it
//   - makes ids: 192 bits from the system's secure random source;
//   - runs the requests of one session one at a time, in arrival order
//     (a turn per id, within this process), those of different sessions
//     side by side;
//   - ends sessions that timed out, and beyond the cap on live sessions the
//     oldest idle ones, on a sweeper thread, handing each ended session to
//     the `on_end` callback (Session_OnEnd). A store answers each ended
//     session to one process only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quill::asp {

struct SessionSettings {
  std::chrono::seconds timeout{20 * 60};          // Session.Timeout of a new session
  size_t max_sessions = 10000;                    // live sessions; beyond it the oldest idle end
  size_t max_session_bytes = 64u << 10;           // what one session may store (serialised)
  std::chrono::milliseconds sweep_interval{1000};  // how often expiry is looked for
};

struct SessionRecord {
  std::string id;
  std::string data;         // ValueMap::Serialise()
  int timeout_seconds = 1200;
};

// Where sessions live. Every member is safe to call from any thread.
class SessionStore {
 public:
  virtual ~SessionStore() = default;
  // The live session `id`, marked as used now; false when there is none
  // (never created, expired or ended).
  virtual bool Load(const std::string& id, SessionRecord* out) = 0;
  // Writes the session (creating it when `is_new`) and marks it used now.
  virtual void Save(const SessionRecord& record, bool is_new) = 0;
  // Removes `id`; true, with what it held, when this call removed it.
  virtual bool Remove(const std::string& id, SessionRecord* out) = 0;
  // Removes and answers (at most `max`) the sessions that timed out and,
  // while more than `keep` live, the least recently used; sessions in
  // `busy` are left alone.
  virtual std::vector<SessionRecord> TakeEnded(const std::set<std::string>& busy, size_t keep, size_t max) = 0;
  // Every session (for the end of a process whose sessions die with it);
  // false when sessions outlive the process (a shared store).
  virtual bool TakeAll(std::vector<SessionRecord>* out) = 0;
  virtual size_t Count() = 0;
};

std::unique_ptr<SessionStore> NewMemorySessionStore();

// A new session id: 192 random bits as 32 URL-safe characters. Raises
// std::runtime_error when the random source fails.
std::string NewSessionId();
// True when `id` has the form NewSessionId gives.
bool IsSessionIdForm(const std::string& id);

class SessionManager {
 public:
  using EndCallback = std::function<void(const SessionRecord&)>;

  // Starts the sweeper. `on_end` runs on the sweeper thread or on the thread
  // that ends a session.
  SessionManager(const SessionSettings& settings, std::unique_ptr<SessionStore> store, EndCallback on_end);
  // Stops the sweeper. Does not end sessions: call EndAll first for that.
  ~SessionManager();
  SessionManager(const SessionManager&) = delete;
  SessionManager& operator=(const SessionManager&) = delete;

  // The turn of one request in a session: while it lives, no other request
  // of this process runs in that session.
  class Turn {
   public:
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    const std::string& id() const { return id_; }

   private:
    friend class SessionManager;
    Turn(SessionManager& manager, std::string id) : manager_(manager), id_(std::move(id)) {}
    SessionManager& manager_;
    std::string id_;
  };

  // Waits for the turn of session `id` (in arrival order) and loads it into
  // *out. Answers the turn, with *out filled when the session lives, or an
  // empty record (id "") when it does not.
  std::unique_ptr<Turn> Open(const std::string& id, SessionRecord* out);
  // A new session with a fresh id, stored at once; ends the oldest idle
  // sessions first when the cap is reached.
  std::unique_ptr<Turn> Create(SessionRecord* out);
  // Saves the session's values at the end of a request.
  void Save(const SessionRecord& record) { store_->Save(record, false); }
  // Ends the session (Abandon): removes it and calls on_end.
  void End(const std::string& id);
  // Ends every session the store lets this process end (shutdown, restart).
  void EndAll();
  // One sweep now (the sweeper calls it too).
  void Sweep();

  const SessionSettings& settings() const { return settings_; }
  SessionStore& store() { return *store_; }

 private:
  void Release(const std::string& id);
  std::unique_ptr<Turn> Wait(const std::string& id);
  void SweeperLoop();

  SessionSettings settings_;
  std::unique_ptr<SessionStore> store_;
  EndCallback on_end_;

  struct TurnQueue {
    uint64_t next = 0;
    uint64_t serving = 0;
  };
  std::mutex turns_mutex_;
  std::condition_variable turns_changed_;
  std::map<std::string, TurnQueue> turns_;

  std::mutex sweeper_mutex_;
  std::condition_variable sweeper_wake_;
  bool stopping_ = false;
  std::thread sweeper_;
};

}  // namespace quill::asp

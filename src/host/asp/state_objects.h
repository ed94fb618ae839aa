// Session and Application as pages see them.
//
//   Session(name), Session(name) = value      names ignore case
//   Session.Contents (Count, Item, Key, Remove, RemoveAll, enumerable)
//   Session.SessionID, Session.Timeout (minutes), Session.Abandon()
//   Application(name), Application(name) = value, Application.Contents
//   Application.Lock(), Application.Unlock()
//
// Application's values are shared by every page of the process; a write
// waits while another page holds Application.Lock, and a page that ends
// holding the lock gives it up (ApplicationState::ReleaseLocks).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "host/asp/automation_object.h"
#include "host/asp/value_store.h"

namespace quill::asp {

// The session a request runs in.
struct ActiveSession {
  std::string id;
  ValueMap values;
  int timeout_seconds = 1200;
  bool abandoned = false;
  size_t max_bytes = 64u << 10;  // the serialised values may not exceed it
};

class ApplicationState {
 public:
  ValueMap& values() { return values_; }
  std::mutex& values_mutex() { return values_mutex_; }

  // Application.Lock for `page` (reentrant). Raises AutomationError when
  // another page holds the lock past `deadline`.
  void Lock(const void* page, std::chrono::steady_clock::time_point deadline);
  // Application.Unlock; nothing when `page` does not hold the lock.
  void Unlock(const void* page);
  // Gives up the lock if `page` holds it (the page has ended).
  void ReleaseLocks(const void* page);
  // Waits until no page other than `page` holds the lock (or raises at
  // `deadline`).
  void WaitWritable(const void* page, std::chrono::steady_clock::time_point deadline);
  // Drops every value (a restart of the application).
  void Clear();

 private:
  std::mutex values_mutex_;
  ValueMap values_;
  std::mutex lock_mutex_;
  std::condition_variable lock_changed_;
  const void* owner_ = nullptr;
  int depth_ = 0;
};

// The Session object over `session`.
// REQUIRES: `session` outlives the object's use by script.
olert::ComPtr<IDispatch> NewSessionObject(ActiveSession& session);

// The Application object of `page` (any address unique to the running
// page) over `state`; Lock and writes give up waiting at `deadline`.
olert::ComPtr<IDispatch> NewApplicationObject(ApplicationState& state, const void* page,
                                              std::chrono::steady_clock::time_point deadline);

}  // namespace quill::asp

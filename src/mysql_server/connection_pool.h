// TConnectionPool: the process-wide pool of idle client connections.
//
// Opening a connection costs several round trips and an authentication;
// a page that connects, runs a few statements and disconnects spends most
// of its time there. Connections the module opened therefore go back to
// this pool when a component lets go of them, and the next component that
// connects with the same parameters takes one back instead of opening a new
// one.
//
// A connection given back is reset on the server (open transaction rolled
// back, temporary tables, user and session variables gone), so the next
// user starts with a fresh session; one that fails the reset is closed.
// A connection whose session only read since it was new or reset needs no
// reset and gets none (ClientSessionMayHaveChanged).
// A connection taken out is checked first: one the server has ended
// (restart, idle timeout) shows it on its socket, and is closed and the
// next one tried, so the caller never sees it. Connections idle longer than the idle limit are closed when the pool
// is next used; no thread or timer of its own runs.
//
// Settings, read from the environment the first time the pool is used:
//   QUILL_POOL_SIZE          idle connections kept per key (default 0:
//                            every connection given back is closed, as
//                            without a pool)
//   QUILL_POOL_IDLE_SECONDS  longest idle time kept (default 60)
//   QUILL_POOL_RESET         "always": reset every connection given back,
//                            also one that only read (for pages that call
//                            stored functions with lasting effects)
//
// Thread safety: every member may be called from any thread. A connection
// is used by one thread at a time: whoever took it, or the pool.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mysql_server/mysql_client.h"

namespace quill {

// What a pooled connection was opened with; connections are shared only
// between equal keys.
struct TPoolKey {
  std::string Host;
  uint16_t Port = 0;
  std::string User;
  std::string Password;
  std::string Database;
  bool Compression = false;
  unsigned ClientFlags = 0;

  bool operator==(const TPoolKey&) const = default;
};

class TConnectionPool {
 public:
  // The pool of the process, made with the environment's settings.
  static TConnectionPool& Instance();

  TConnectionPool(size_t size, int idle_seconds, bool reset_always = false)
      : size_(size), idle_seconds_(idle_seconds), reset_always_(reset_always) {}
  // Closes every idle connection.
  ~TConnectionPool();
  TConnectionPool(const TConnectionPool&) = delete;
  TConnectionPool& operator=(const TConnectionPool&) = delete;

  // A live idle connection opened with `key`, the most recently given back
  // first, or null when there is none. The caller owns it.
  MySQLHandle* Take(const TPoolKey& key);
  // Takes `handle` back (null is ignored): resets it and keeps it for
  // `key`, or closes it when pooling is off, the reset fails or `key`
  // already has Size() idle connections.
  void Give(const TPoolKey& key, MySQLHandle* handle);

  size_t Size() const { return size_; }
  int IdleSeconds() const { return idle_seconds_; }
  // Idle connections held now, over all keys.
  size_t IdleCount() const;
  // Closes every idle connection.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  struct Idle {
    TPoolKey Key;
    MySQLHandle* Handle;
    Clock::time_point Since;
  };
  // Moves the entries idle too long out of idle_. REQUIRES: mutex_ held.
  void TakeExpired(Clock::time_point now, std::vector<MySQLHandle*>& out);

  const size_t size_;
  const int idle_seconds_;
  const bool reset_always_;
  mutable std::mutex mutex_;
  std::vector<Idle> idle_;  // oldest first
};

}  // namespace quill

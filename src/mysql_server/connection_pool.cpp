// The idle-connection pool. Network calls (reset, close) run outside
// the lock, so that one slow server does not hold up pages on others.
#include "mysql_server/connection_pool.h"

#include <cstdlib>
#include <string_view>

#include "base/string_list.h"

namespace quill {

namespace {

long EnvNumber(const char* name, long fallback, long lowest, long highest) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < lowest) return fallback;
  return value > highest ? highest : value;
}

// Whether the setting `name` is `value`, in any case.
bool EnvIs(const char* name, std::string_view value) {
  const char* text = std::getenv(name);
  return text != nullptr && SameText(text, value);
}

void CloseAll(const std::vector<MySQLHandle*>& handles) {
  for (MySQLHandle* h : handles) ClientClose(h);
}

}  // namespace

TConnectionPool& TConnectionPool::Instance() {
  static TConnectionPool pool(static_cast<size_t>(EnvNumber("QUILL_POOL_SIZE", 0, 0, 1000)),
                              static_cast<int>(EnvNumber("QUILL_POOL_IDLE_SECONDS", 60, 0,
                                                         86400 * 365)),
                              EnvIs("QUILL_POOL_RESET", "always"));
  return pool;
}

TConnectionPool::~TConnectionPool() { Clear(); }

void TConnectionPool::TakeExpired(Clock::time_point now, std::vector<MySQLHandle*>& out) {
  const auto limit = std::chrono::seconds(idle_seconds_);
  std::erase_if(idle_, [&](const Idle& idle) {
    if (now - idle.Since <= limit) return false;
    out.push_back(idle.Handle);
    return true;
  });
}

MySQLHandle* TConnectionPool::Take(const TPoolKey& key) {
  if (size_ == 0) return nullptr;
  for (;;) {
    MySQLHandle* found = nullptr;
    std::vector<MySQLHandle*> expired;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      TakeExpired(Clock::now(), expired);
      for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if (it->Key != key) continue;
        found = it->Handle;
        idle_.erase(std::next(it).base());
        break;
      }
    }
    CloseAll(expired);
    if (found == nullptr) return nullptr;
    // A connection the server ended (restart, idle timeout, kill) shows it
    // on its socket; looking there costs no round trip, which on a busy
    // machine is worth more than the connect the pool saves. A dead one is
    // replaced.
    if (ClientSocketLooksAlive(found)) return found;
    ClientClose(found);
  }
}

void TConnectionPool::Give(const TPoolKey& key, MySQLHandle* handle) {
  if (handle == nullptr) return;
  if (size_ == 0) {
    ClientClose(handle);
    return;
  }
  // Without reconnecting behind our back: a connection that cannot be reset
  // is closed. The reset keeps the character set the connection was opened
  // with. A session that only read needs none: the reset costs the server
  // more than the read did.
  if (reset_always_ || ClientSessionMayHaveChanged(handle)) {
    ClientSetReconnect(handle, false);
    const bool reset = ClientResetConnection(handle);
    ClientSetReconnect(handle, true);
    if (!reset) {
      ClientClose(handle);
      return;
    }
  }
  std::vector<MySQLHandle*> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    TakeExpired(now, dropped);
    size_t same = 0;
    for (const Idle& idle : idle_) same += idle.Key == key ? 1 : 0;
    if (same < size_) {
      idle_.push_back(Idle{key, handle, now});
    } else {
      dropped.push_back(handle);
    }
  }
  CloseAll(dropped);
}

size_t TConnectionPool::IdleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

void TConnectionPool::Clear() {
  std::vector<MySQLHandle*> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Idle& idle : idle_) all.push_back(idle.Handle);
    idle_.clear();
  }
  CloseAll(all);
}

}  // namespace quill

// Session ids, the store in memory, and the manager's turns and sweeper.
#include "host/asp/session_state.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <stdexcept>
#include <unordered_map>

#include "platform/olert/olert.h"

namespace quill::asp {

namespace {

constexpr size_t kIdBytes = 24;
constexpr const char* kIdAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

class MemoryStore final : public SessionStore {
 public:
  bool Load(const std::string& id, SessionRecord* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(id);
    if (found == sessions_.end()) return false;
    const auto now = Clock::now();
    if (Expired(found->second, now)) return false;  // the sweeper ends it
    found->second.used = now;
    *out = found->second.record;
    return true;
  }

  void Save(const SessionRecord& record, bool is_new) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(record.id);
    if (found == sessions_.end()) {
      if (!is_new) return;  // ended meanwhile: its values go with it
      sessions_.emplace(record.id, Entry{record, Clock::now()});
      return;
    }
    found->second.record = record;
    found->second.used = Clock::now();
  }

  bool Remove(const std::string& id, SessionRecord* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(id);
    if (found == sessions_.end()) return false;
    *out = std::move(found->second.record);
    sessions_.erase(found);
    return true;
  }

  std::vector<SessionRecord> TakeEnded(const std::set<std::string>& busy, size_t keep, size_t max) override {
    std::vector<SessionRecord> out;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    for (auto it = sessions_.begin(); it != sessions_.end() && out.size() < max;) {
      if (Expired(it->second, now) && busy.count(it->first) == 0) {
        out.push_back(std::move(it->second.record));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
    if (sessions_.size() > keep && out.size() < max) {
      std::vector<std::pair<Clock::time_point, std::string>> idle;
      for (const auto& [id, entry] : sessions_) {
        if (busy.count(id) == 0) idle.emplace_back(entry.used, id);
      }
      std::sort(idle.begin(), idle.end());
      for (const auto& [used, id] : idle) {
        if (sessions_.size() <= keep || out.size() >= max) break;
        auto found = sessions_.find(id);
        out.push_back(std::move(found->second.record));
        sessions_.erase(found);
      }
    }
    return out;
  }

  bool TakeAll(std::vector<SessionRecord>* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, entry] : sessions_) out->push_back(std::move(entry.record));
    sessions_.clear();
    return true;
  }

  size_t Count() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.size();
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    SessionRecord record;
    Clock::time_point used;
  };
  static bool Expired(const Entry& e, Clock::time_point now) {
    return now - e.used >= std::chrono::seconds(e.record.timeout_seconds);
  }

  std::mutex mutex_;
  std::unordered_map<std::string, Entry> sessions_;
};

}  // namespace

std::unique_ptr<SessionStore> NewMemorySessionStore() { return std::make_unique<MemoryStore>(); }

std::string NewSessionId() {
  unsigned char bytes[kIdBytes];
  size_t got = 0;
  while (got < sizeof(bytes)) {
    const ssize_t n = getrandom(bytes + got, sizeof(bytes) - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("the system's random source failed");
    }
    got += static_cast<size_t>(n);
  }
  // 24 bytes, 6 bits a character: 32 characters.
  std::string id;
  for (size_t i = 0; i < kIdBytes; i += 3) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int k = 3; k >= 0; --k) id.push_back(kIdAlphabet[(v >> (6 * k)) & 63]);
  }
  return id;
}

bool IsSessionIdForm(const std::string& id) {
  return id.size() == kIdBytes / 3 * 4 &&
         std::all_of(id.begin(), id.end(), [](char c) { return std::strchr(kIdAlphabet, c) != nullptr && c != 0; });
}

// ---------------------------------------------------------------------------
// SessionManager

SessionManager::SessionManager(const SessionSettings& settings, std::unique_ptr<SessionStore> store,
                               EndCallback on_end)
    : settings_(settings), store_(std::move(store)), on_end_(std::move(on_end)) {
  sweeper_ = std::thread([this] { SweeperLoop(); });
}

SessionManager::~SessionManager() {
  {
    std::lock_guard<std::mutex> lock(sweeper_mutex_);
    stopping_ = true;
  }
  sweeper_wake_.notify_all();
  sweeper_.join();
}

SessionManager::Turn::~Turn() { manager_.Release(id_); }

std::unique_ptr<SessionManager::Turn> SessionManager::Wait(const std::string& id) {
  std::unique_lock<std::mutex> lock(turns_mutex_);
  TurnQueue& queue = turns_[id];
  const uint64_t mine = queue.next++;
  // The map never moves its nodes, so `queue` stays valid while waiting.
  turns_changed_.wait(lock, [&] { return queue.serving == mine; });
  return std::unique_ptr<Turn>(new Turn(*this, id));
}

void SessionManager::Release(const std::string& id) {
  {
    std::lock_guard<std::mutex> lock(turns_mutex_);
    auto found = turns_.find(id);
    if (found == turns_.end()) return;
    if (++found->second.serving == found->second.next) turns_.erase(found);
  }
  turns_changed_.notify_all();
}

std::unique_ptr<SessionManager::Turn> SessionManager::Open(const std::string& id, SessionRecord* out) {
  *out = SessionRecord{};
  std::unique_ptr<Turn> turn = Wait(id);
  SessionRecord loaded;
  if (store_->Load(id, &loaded)) *out = std::move(loaded);
  return turn;
}

std::unique_ptr<SessionManager::Turn> SessionManager::Create(SessionRecord* out) {
  if (store_->Count() >= settings_.max_sessions) {
    std::set<std::string> busy;
    {
      std::lock_guard<std::mutex> lock(turns_mutex_);
      for (const auto& [id, queue] : turns_) busy.insert(id);
    }
    const size_t keep = settings_.max_sessions > 0 ? settings_.max_sessions - 1 : 0;
    for (const SessionRecord& ended : store_->TakeEnded(busy, keep, 1000)) {
      if (on_end_) on_end_(ended);
    }
  }
  SessionRecord record;
  record.id = NewSessionId();
  record.timeout_seconds = static_cast<int>(settings_.timeout.count());
  record.data.clear();
  std::unique_ptr<Turn> turn = Wait(record.id);
  store_->Save(record, true);
  *out = record;
  return turn;
}

void SessionManager::End(const std::string& id) {
  SessionRecord ended;
  if (store_->Remove(id, &ended) && on_end_) on_end_(ended);
}

void SessionManager::EndAll() {
  std::vector<SessionRecord> all;
  if (!store_->TakeAll(&all)) return;
  for (const SessionRecord& ended : all) {
    if (on_end_) on_end_(ended);
  }
}

void SessionManager::Sweep() {
  std::set<std::string> busy;
  {
    std::lock_guard<std::mutex> lock(turns_mutex_);
    for (const auto& [id, queue] : turns_) busy.insert(id);
  }
  while (true) {
    std::vector<SessionRecord> ended = store_->TakeEnded(busy, settings_.max_sessions, 500);
    for (const SessionRecord& record : ended) {
      if (on_end_) on_end_(record);
    }
    if (ended.size() < 500) break;
  }
}

void SessionManager::SweeperLoop() {
  // Session_OnEnd may create automation objects: the thread is an apartment of its own.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::unique_lock<std::mutex> lock(sweeper_mutex_);
  while (!stopping_) {
    sweeper_wake_.wait_for(lock, settings_.sweep_interval, [this] { return stopping_; });
    if (stopping_) break;
    lock.unlock();
    try {
      Sweep();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quill-asp: session expiry failed: %s\n", e.what());
    }
    lock.lock();
  }
  if (SUCCEEDED(hr)) CoUninitialize();
}

}  // namespace quill::asp

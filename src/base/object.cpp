// The process-wide handle table behind TObject.
#include "base/object.h"

#include <atomic>
#include <cassert>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace quill {
namespace {

// The table lives for the whole process, so it must not hold plain pointers:
// they would keep every object it lists reachable, and an object nobody
// deletes would never show up as a leak in a leak checker (LeakSanitizer,
// valgrind). It holds them disguised instead, which no checker takes for a
// reference.
uintptr_t Disguise(TObject* object) { return ~reinterpret_cast<uintptr_t>(object); }
TObject* Reveal(uintptr_t disguised) { return reinterpret_cast<TObject*>(~disguised); }

// Split by handle, so that threads making and dropping objects at once
// seldom wait for each other's lock; a shard to a cache line of its own, so
// that they do not take each other's line away either.
struct alignas(64) HandleShard {
  std::mutex mutex;
  std::unordered_map<ObjectHandle, uintptr_t> objects;  // disguised pointers
};

struct HandleTable {
  static constexpr size_t kShards = 16;
  HandleShard shards[kShards];
  alignas(64) std::atomic<ObjectHandle> next{1};

  HandleShard& ShardOf(ObjectHandle handle) { return shards[handle % kShards]; }
};

HandleTable& Table() {
  // Leaked on purpose: objects destroyed during static destruction must
  // still find the table.
  static HandleTable* table = new HandleTable;
  return *table;
}

}  // namespace

const TClassInfo TObject::StaticClassInfo{"TObject", nullptr, {}};

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent) {
    if (c == &other) return true;
  }
  return false;
}

TObject::TObject() {
  HandleTable& t = Table();
  // After the counter wraps, a handle still held by a live object is
  // skipped: two objects must never share one.
  while (true) {
    handle_ = t.next.fetch_add(1, std::memory_order_relaxed);
    if (handle_ == kNoHandle) continue;
    HandleShard& shard = t.ShardOf(handle_);
    std::lock_guard<std::mutex> lock(shard.mutex);
    if (shard.objects.emplace(handle_, Disguise(this)).second) break;
  }
}

TObject::~TObject() {
  HandleShard& shard = Table().ShardOf(handle_);
  std::lock_guard<std::mutex> lock(shard.mutex);
  [[maybe_unused]] size_t erased = shard.objects.erase(handle_);
  assert(erased == 1);
}

const TClassInfo& TObject::ClassInfo() const { return StaticClassInfo; }

TObject* ResolveHandle(ObjectHandle handle) {
  if (handle == kNoHandle) return nullptr;
  HandleShard& shard = Table().ShardOf(handle);
  std::lock_guard<std::mutex> lock(shard.mutex);
  auto it = shard.objects.find(handle);
  return it == shard.objects.end() ? nullptr : Reveal(it->second);
}

void SetNextHandleForTesting(ObjectHandle next) {
  Table().next.store(next == kNoHandle ? 1 : next, std::memory_order_relaxed);
}

size_t LiveObjectCount() {
  size_t count = 0;
  for (HandleShard& shard : Table().shards) {
    std::lock_guard<std::mutex> lock(shard.mutex);
    count += shard.objects.size();
  }
  return count;
}

}  // namespace quill

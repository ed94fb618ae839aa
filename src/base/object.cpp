// The process-wide handle table behind TObject.
#include "base/object.h"

#include <atomic>
#include <cassert>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quill {
namespace {

constexpr size_t kShards = 16;

// The table lives for the whole process, so it must not hold plain pointers:
// they would keep every object it lists reachable, and an object nobody
// deletes would never show up as a leak in a leak checker (LeakSanitizer,
// valgrind). It holds them disguised instead, which no checker takes for a
// reference.
uintptr_t Disguise(TObject* object) { return ~reinterpret_cast<uintptr_t>(object); }
TObject* Reveal(uintptr_t disguised) { return reinterpret_cast<TObject*>(~disguised); }

// The handles of one shard, in open addressing: a shard's handles are
// mostly consecutive (every kShards-th), so a handle's slot is its number
// within the shard, and making or dropping an object allocates nothing.
class HandleMap {
 public:
  // False when `handle` is taken.
  bool Insert(ObjectHandle handle, uintptr_t value) {
    if ((count_ + 1) * 2 > slots_.size()) Resize(slots_.empty() ? kMinSlots : slots_.size() * 2);
    size_t i = Home(handle);
    for (; slots_[i].handle != kNoHandle; i = Next(i)) {
      if (slots_[i].handle == handle) return false;
    }
    slots_[i] = Slot{handle, value};
    ++count_;
    return true;
  }

  bool Erase(ObjectHandle handle) {
    if (slots_.empty()) return false;
    size_t i = Home(handle);
    for (; slots_[i].handle != handle; i = Next(i)) {
      if (slots_[i].handle == kNoHandle) return false;
    }
    // Later handles of the same run move up into the hole, so that every
    // handle stays reachable from its home slot without markers.
    for (size_t j = Next(i);; j = Next(j)) {
      if (slots_[j].handle == kNoHandle) break;
      const size_t home = Home(slots_[j].handle);
      // Stays when its home lies cyclically in (i, j].
      if (i <= j ? (i < home && home <= j) : (i < home || home <= j)) continue;
      slots_[i] = slots_[j];
      i = j;
    }
    slots_[i] = Slot{};
    --count_;
    // A burst of objects does not keep its table once they are gone.
    if (slots_.size() > kMinSlots && count_ * 8 < slots_.size()) Resize(slots_.size() / 2);
    return true;
  }

  uintptr_t Find(ObjectHandle handle) const {
    if (slots_.empty()) return 0;
    for (size_t i = Home(handle); slots_[i].handle != kNoHandle; i = Next(i)) {
      if (slots_[i].handle == handle) return slots_[i].value;
    }
    return 0;
  }

  size_t size() const { return count_; }

 private:
  struct Slot {
    ObjectHandle handle = kNoHandle;
    uintptr_t value = 0;
  };
  static constexpr size_t kMinSlots = 256;

  size_t Home(ObjectHandle handle) const { return (handle / kShards) & (slots_.size() - 1); }
  size_t Next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

  void Resize(size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.handle == kNoHandle) continue;
      size_t i = Home(s.handle);
      while (slots_[i].handle != kNoHandle) i = Next(i);
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;  // a power of two of them, at most half in use
  size_t count_ = 0;
};

// Split by handle, so that threads making and dropping objects at once
// seldom wait for each other's lock; a shard to a cache line of its own, so
// that they do not take each other's line away either.
struct alignas(64) HandleShard {
  std::mutex mutex;
  HandleMap objects;  // disguised pointers
};

struct HandleTable {
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
    if (shard.objects.Insert(handle_, Disguise(this))) break;
  }
}

TObject::~TObject() {
  HandleShard& shard = Table().ShardOf(handle_);
  std::lock_guard<std::mutex> lock(shard.mutex);
  [[maybe_unused]] const bool erased = shard.objects.Erase(handle_);
  assert(erased);
}

const TClassInfo& TObject::ClassInfo() const { return StaticClassInfo; }

TObject* ResolveHandle(ObjectHandle handle) {
  if (handle == kNoHandle) return nullptr;
  HandleShard& shard = Table().ShardOf(handle);
  std::lock_guard<std::mutex> lock(shard.mutex);
  const uintptr_t found = shard.objects.Find(handle);
  return found == 0 ? nullptr : Reveal(found);
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

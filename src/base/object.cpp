// The process-wide handle table behind TObject.
#include "base/object.h"

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

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<ObjectHandle, uintptr_t> objects;  // disguised pointers
  ObjectHandle next = 1;
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
  std::lock_guard<std::mutex> lock(t.mutex);
  // After the counter wraps, a handle still held by a live object is
  // skipped: two objects must never share one.
  do {
    handle_ = t.next++;
    if (t.next == kNoHandle) t.next = 1;
  } while (t.objects.contains(handle_));
  t.objects.emplace(handle_, Disguise(this));
}

TObject::~TObject() {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  [[maybe_unused]] size_t erased = t.objects.erase(handle_);
  assert(erased == 1);
}

const TClassInfo& TObject::ClassInfo() const { return StaticClassInfo; }

TObject* ResolveHandle(ObjectHandle handle) {
  if (handle == kNoHandle) return nullptr;
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(handle);
  return it == t.objects.end() ? nullptr : Reveal(it->second);
}

void SetNextHandleForTesting(ObjectHandle next) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.next = next == kNoHandle ? 1 : next;
}

size_t LiveObjectCount() {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.objects.size();
}

}  // namespace quill

// The registry of live shells: a list of shells and, per wrapped object, the
// lock the shells over it share together with how many shells keep it.
#include "activex_shell/shell_registry.h"

#include <algorithm>
#include <cassert>

#include "activex_shell/activex_shell.h"

namespace quill {

namespace {

// The registry lives for the whole process, so it keeps no plain pointers to
// the shells: they would keep every registered shell reachable, and a shell
// nobody releases would never show up as a leak in a leak checker. A
// disguised pointer is no reference to it.
uintptr_t disguised(const Tactivex_shell* shell) { return ~reinterpret_cast<uintptr_t>(shell); }

}  // namespace

Tthread_lock* Tglobal_activex_shell_list::register_shell(Tactivex_shell* shell) {
  assert(shell != nullptr);
  std::lock_guard<std::mutex> guard(mutex_);
  assert(std::find(shells_.begin(), shells_.end(), disguised(shell)) == shells_.end());
  Entry& entry = locks_[shell->identity()];
  if (!entry.lock) entry.lock = std::make_unique<Tthread_lock>();
  ++entry.shells;
  shells_.push_back(disguised(shell));
  return entry.lock.get();
}

void Tglobal_activex_shell_list::unregister_shell(Tactivex_shell* shell) {
  std::unique_ptr<Tthread_lock> freed;  // destroyed after the registry lock is left
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = std::find(shells_.begin(), shells_.end(), disguised(shell));
    assert(it != shells_.end());
    if (it == shells_.end()) return;
    shells_.erase(it);
    auto entry = locks_.find(shell->identity());
    assert(entry != locks_.end() && entry->second.shells > 0);
    if (--entry->second.shells == 0) {
      freed = std::move(entry->second.lock);
      locks_.erase(entry);
    }
  }
}

size_t Tglobal_activex_shell_list::count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return shells_.size();
}

size_t Tglobal_activex_shell_list::lock_count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return locks_.size();
}

Tthread_lock* Tglobal_activex_shell_list::lock_of(ObjectHandle h) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto entry = locks_.find(h);
  return entry == locks_.end() ? nullptr : entry->second.lock.get();
}

Tglobal_activex_shell_list& shell_registry() {
  static Tglobal_activex_shell_list* registry = new Tglobal_activex_shell_list;
  return *registry;
}

}  // namespace quill

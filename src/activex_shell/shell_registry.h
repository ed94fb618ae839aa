// The registry of live shells and the per-object locks it hands out.
//
// Script hosts may call shells from several threads. Every call through a
// shell holds the lock of the object it wraps, and all shells over the same
// object share that lock, so one object sees one script call at a time
// whichever shell the call comes through. The registry creates an object's
// lock when the first shell over it registers and destroys it when the last
// one leaves.
//
// Objects are told apart by their handle (base/object.h), never by address:
// a handle is never reused, so a shell that outlived its object keeps a lock
// of its own and can never share one with a newer object at the same address.
//
// Lock order: a thread may take the registry's lock while it holds a
// per-object lock (a call creating or releasing shells), never the reverse;
// the registry takes no other lock while it holds its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/object.h"

namespace quill {

class Tactivex_shell;

// A recursive lock: the thread that holds it may enter it again, so a call
// can reach another shell over the same object on the same thread.
class Tthread_lock {
 public:
  Tthread_lock() = default;
  Tthread_lock(const Tthread_lock&) = delete;
  Tthread_lock& operator=(const Tthread_lock&) = delete;

  void enter() { mutex_.lock(); }
  // REQUIRES: the calling thread holds the lock.
  void leave() { mutex_.unlock(); }

  // std::lock_guard support.
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  std::recursive_mutex mutex_;
};

class Tglobal_activex_shell_list {
 public:
  Tglobal_activex_shell_list() = default;
  Tglobal_activex_shell_list(const Tglobal_activex_shell_list&) = delete;
  Tglobal_activex_shell_list& operator=(const Tglobal_activex_shell_list&) = delete;

  // Adds `shell` to the list and returns the lock of the object whose
  // handle the shell keeps (its identity(); 0 for nothing): the lock already
  // shared by the live shells over that object, or a new one.
  // REQUIRES: `shell` is not registered.
  Tthread_lock* register_shell(Tactivex_shell* shell);

  // Removes `shell` from the list; destroys its object's lock when no other
  // registered shell keeps the same handle.
  // REQUIRES: `shell` is registered; no thread holds the lock unless
  // another registered shell shares it.
  void unregister_shell(Tactivex_shell* shell);

  // Number of registered shells.
  size_t count() const;
  // Number of per-object locks alive.
  size_t lock_count() const;
  // The lock shared by the shells over the object with handle `h`, or null
  // when no registered shell keeps that handle.
  Tthread_lock* lock_of(ObjectHandle h) const;

 private:
  struct Entry {
    std::unique_ptr<Tthread_lock> lock;
    size_t shells = 0;
  };

  mutable std::mutex mutex_;
  // In the order they registered, disguised (see shell_registry.cpp).
  std::vector<uintptr_t> shells_;
  std::unordered_map<ObjectHandle, Entry> locks_;
};

// The one registry of the process. Created on first use (the first shell)
// and deliberately never destroyed: a script host may release shells during
// process exit, after static destructors have run, and a shell must always
// find the registry it registered with. First use instead of module load
// also spares every caller a question of static initialisation order.
Tglobal_activex_shell_list& shell_registry();

}  // namespace quill

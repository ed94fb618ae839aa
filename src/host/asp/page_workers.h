// PageWorkers: the threads pages run on.
//
// A page that may send its output while it runs runs apart from the
// threads that read and write connections: the connection thread writes
// what the page thread produces. Each worker has initialised the automation
// runtime for itself (one apartment per thread). The HTTP front end's
// connection threads are a pool of this kind too.
#pragma once

#include <semaphore.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quill::asp {

class PageWorkers {
 public:
  explicit PageWorkers(int count);
  // Runs what is queued, then joins the threads.
  ~PageWorkers();
  PageWorkers(const PageWorkers&) = delete;
  PageWorkers& operator=(const PageWorkers&) = delete;

  void Submit(std::function<void()> job);

 private:
  void Work();

  std::vector<std::thread> threads_;
  std::deque<std::function<void()>> jobs_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool done_ = false;
};

// The pages that may run at once, wherever they run. Waiting pages get a
// slot in the order they asked: first come, first served, so that no page
// waits much longer than the others.
class PageSlots {
 public:
  explicit PageSlots(int count) : free_(count) {}
  PageSlots(const PageSlots&) = delete;
  PageSlots& operator=(const PageSlots&) = delete;

  void Acquire();
  void Release();

 private:
  // A waiting page's own semaphore: the slot is handed over after the
  // lock is let go, so the page that gets it does not wake only to wait
  // for the lock. (A semaphore may go as soon as its wait returned, which
  // a condition variable signalled outside its lock may not.)
  struct Waiter {
    Waiter();
    ~Waiter();
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;
    void Wait();
    void Post();
    sem_t granted;
  };

  std::mutex mutex_;
  int free_;
  std::deque<Waiter*> waiting_;
};

// One of them, held for a scope.
class PageSlot {
 public:
  explicit PageSlot(PageSlots& slots) : slots_(slots) { slots_.Acquire(); }
  ~PageSlot() { slots_.Release(); }
  PageSlot(const PageSlot&) = delete;
  PageSlot& operator=(const PageSlot&) = delete;

 private:
  PageSlots& slots_;
};

// Pages that may run at once when nothing says otherwise: pages mostly wait
// for the database, so a few per core.
int DefaultPageThreads();

}  // namespace quill::asp

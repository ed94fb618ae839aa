// The page threads.
#include "host/asp/page_workers.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "host/asp/automation_object.h"

namespace quill::asp {

PageWorkers::PageWorkers(int count) {
  for (int i = 0; i < std::max(count, 1); ++i) threads_.emplace_back([this] { Work(); });
}

PageWorkers::~PageWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void PageWorkers::Submit(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  ready_.notify_one();
}

void PageWorkers::Work() {
  const ComScope com;
  while (true) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return done_ || !jobs_.empty(); });
      if (jobs_.empty()) break;  // done, and nothing left to do
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    try {
      job();
    } catch (...) {
      // A page (or connection) that fails must not take the thread with it.
    }
  }
}

PageSlots::Waiter::Waiter() { sem_init(&granted, 0, 0); }

PageSlots::Waiter::~Waiter() { sem_destroy(&granted); }

void PageSlots::Waiter::Wait() {
  while (sem_wait(&granted) != 0 && errno == EINTR) {
  }
}

void PageSlots::Waiter::Post() { sem_post(&granted); }

void PageSlots::Acquire() {
  std::optional<Waiter> waiter;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_ > 0 && waiting_.empty()) {
      --free_;
      return;
    }
    waiter.emplace();
    waiting_.push_back(&*waiter);
  }
  waiter->Wait();
}

void PageSlots::Release() {
  Waiter* next = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.empty()) {
      ++free_;
      return;
    }
    // The slot passes straight to the longest waiting page.
    next = waiting_.front();
    waiting_.pop_front();
  }
  next->Post();
}

int DefaultPageThreads() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::clamp(4u * cores, 8u, 64u));
}

}  // namespace quill::asp

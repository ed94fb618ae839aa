// The page threads.
#include "host/asp/page_workers.h"

#include <algorithm>

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

void PageSlots::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (free_ > 0 && waiting_.empty()) {
    --free_;
    return;
  }
  Waiter waiter;
  waiting_.push_back(&waiter);
  waiter.granted.wait(lock, [&waiter] { return waiter.has_slot; });
}

void PageSlots::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.empty()) {
    ++free_;
    return;
  }
  // The slot passes straight to the longest waiting page.
  Waiter* next = waiting_.front();
  waiting_.pop_front();
  next->has_slot = true;
  next->granted.notify_one();
}

int DefaultPageThreads() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::clamp(4u * cores, 8u, 64u));
}

}  // namespace quill::asp

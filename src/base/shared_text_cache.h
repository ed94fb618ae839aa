// SharedTextCache: values made from a text once per process and shared,
// immutable, between threads (a compiled format, the names a template
// holds). A lookup holds the lock only to find or store; the value is made
// outside it, and when two threads make the same one at once the first
// stored wins (both are alike). When the cache holds `capacity` values it
// starts afresh; callers keep the values they hold.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quill {

template <typename T>
class SharedTextCache {
 public:
  explicit SharedTextCache(size_t capacity) : capacity_(capacity) {}

  // The value of `key`, made by `make()` (a std::shared_ptr<const T>) the
  // first time.
  template <typename Make>
  std::shared_ptr<const T> Get(std::string_view key, Make&& make) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      auto found = values_.find(key);
      if (found != values_.end()) return found->second;
    }
    std::shared_ptr<const T> made = make();
    std::lock_guard<std::mutex> hold(mutex_);
    if (values_.size() >= capacity_) values_.clear();
    return values_.emplace(std::string(key), std::move(made)).first->second;
  }

 private:
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };

  const size_t capacity_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<const T>, TextHash, std::equal_to<>> values_;
};

}  // namespace quill

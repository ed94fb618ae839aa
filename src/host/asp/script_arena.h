// Memory for one script heap. A heap makes tens of thousands of small
// allocations for its built-in objects alone and frees them all when the
// request ends; the C library's allocator spent a sixth of a small page's
// time on them. Here small blocks come from per-size free lists carved out
// of large chunks, a few chunks are kept for the next heaps, and the whole
// arena goes at once.
//
// One arena belongs to one heap and is used by one thread at a time (the
// heap's); it locks only to take or give back a chunk. Under
// AddressSanitizer every block is its own allocation, so that the sanitizer
// still sees each one.
#pragma once

#include <cstddef>
#include <vector>

namespace quill::asp {

class ScriptArena {
 public:
  ScriptArena() = default;
  // Frees everything still allocated; the chunks go back to the cache.
  ~ScriptArena();
  ScriptArena(const ScriptArena&) = delete;
  ScriptArena& operator=(const ScriptArena&) = delete;

  // A block of `size` bytes aligned for any type, or null when memory ran
  // out. REQUIRES: size > 0.
  void* Allocate(size_t size);
  // The block at `p` resized to `size` bytes, its contents kept up to the
  // smaller size; null when memory ran out (then `p` is unchanged).
  // REQUIRES: p came from this arena, size > 0.
  void* Reallocate(void* p, size_t size);
  // Gives the block back. REQUIRES: p is null or came from this arena.
  void Release(void* p);
  // The size the block at `p` was asked with. REQUIRES: p came from here.
  static size_t SizeOf(const void* p);

 private:
  static constexpr size_t kGranule = 16;
  static constexpr size_t kClasses = 64;  // blocks up to 1 KiB
  struct FreeBlock {
    FreeBlock* next;
  };

  void* Carve(size_t block_bytes);

  FreeBlock* free_[kClasses + 1] = {};
  std::vector<void*> chunks_;
  char* next_ = nullptr;  // unused space in the newest chunk
  char* end_ = nullptr;
};

}  // namespace quill::asp

// Size-class free lists over thread-cached chunks for the script heap.
#include "host/asp/script_arena.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define QUILL_ARENA_PLAIN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL_ARENA_PLAIN 1
#endif
#endif

namespace quill::asp {

namespace {

// Every block starts with the size it was asked with.
struct alignas(std::max_align_t) Header {
  size_t size;
};

constexpr size_t kChunkBytes = 64 * 1024;
// Chunks kept between heaps: enough for a few small pages' heaps, little
// enough that an idle host stays small.
constexpr size_t kCachedChunks = 16;

struct ChunkCache {
  std::mutex mutex;
  void* chunks[kCachedChunks];
  size_t count = 0;
};

// Never destroyed: an arena may go after the process's statics.
ChunkCache& Cache() {
  static auto* cache = new ChunkCache;
  return *cache;
}

void* TakeChunk() {
  ChunkCache& cache = Cache();
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.count > 0) return cache.chunks[--cache.count];
  }
  return std::malloc(kChunkBytes);
}

}  // namespace

#ifdef QUILL_ARENA_PLAIN
constexpr bool kPlain = true;
#else
constexpr bool kPlain = false;
#endif

ScriptArena::~ScriptArena() {
  ChunkCache& cache = Cache();
  size_t kept = 0;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    for (; kept < chunks_.size() && cache.count < kCachedChunks; ++kept) cache.chunks[cache.count++] = chunks_[kept];
  }
  for (; kept < chunks_.size(); ++kept) std::free(chunks_[kept]);
}

void* ScriptArena::Carve(size_t block_bytes) {
  if (static_cast<size_t>(end_ - next_) < block_bytes) {
    void* chunk = TakeChunk();
    if (chunk == nullptr) return nullptr;
    chunks_.push_back(chunk);
    next_ = static_cast<char*>(chunk);
    end_ = next_ + kChunkBytes;
  }
  void* block = next_;
  next_ += block_bytes;
  return block;
}

void* ScriptArena::Allocate(size_t size) {
  const size_t cls = (size + kGranule - 1) / kGranule;
  Header* block;
  if (kPlain || cls > kClasses) {
    if (size > static_cast<size_t>(-1) - sizeof(Header)) return nullptr;
    block = static_cast<Header*>(std::malloc(sizeof(Header) + size));
  } else if (free_[cls] != nullptr) {
    FreeBlock* f = free_[cls];
    free_[cls] = f->next;
    block = reinterpret_cast<Header*>(f);
  } else {
    block = static_cast<Header*>(Carve(sizeof(Header) + cls * kGranule));
  }
  if (block == nullptr) return nullptr;
  block->size = size;
  return block + 1;
}

void* ScriptArena::Reallocate(void* p, size_t size) {
  Header* block = static_cast<Header*>(p) - 1;
  const size_t old_cls = (block->size + kGranule - 1) / kGranule;
  const size_t new_cls = (size + kGranule - 1) / kGranule;
  if (!kPlain) {
    if (old_cls <= kClasses && new_cls == old_cls) {
      block->size = size;
      return p;
    }
    if (old_cls <= kClasses || new_cls <= kClasses) {
      void* moved = Allocate(size);
      if (moved == nullptr) return nullptr;
      std::memcpy(moved, p, block->size < size ? block->size : size);
      Release(p);
      return moved;
    }
  }
  if (size > static_cast<size_t>(-1) - sizeof(Header)) return nullptr;
  auto* grown = static_cast<Header*>(std::realloc(block, sizeof(Header) + size));
  if (grown == nullptr) return nullptr;
  grown->size = size;
  return grown + 1;
}

void ScriptArena::Release(void* p) {
  if (p == nullptr) return;
  Header* block = static_cast<Header*>(p) - 1;
  const size_t cls = (block->size + kGranule - 1) / kGranule;
  if (kPlain || cls > kClasses) {
    std::free(block);
    return;
  }
  auto* f = reinterpret_cast<FreeBlock*>(block);
  f->next = free_[cls];
  free_[cls] = f;
}

size_t ScriptArena::SizeOf(const void* p) { return (static_cast<const Header*>(p) - 1)->size; }

}  // namespace quill::asp

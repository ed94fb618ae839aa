// Record images, the record buffers built on them and the row cache with
// its arena. Offsets are read and written with memcpy, so an image is plain
// bytes and may be copied as such.
#include "mysql_dataset/record_cache.h"

#include <cassert>
#include <cstring>
#include <new>

#include "base/errors.h"

namespace quill {

namespace {

constexpr uint32_t kNullBit = TRecordView::kNullBit;
// Arena chunks hold many rows each; a larger row gets a chunk of its own.
constexpr size_t kChunkSize = 256 << 10;

void StoreU32(char* p, uint32_t v) { std::memcpy(p, &v, 4); }

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

[[noreturn]] void TooLarge() { throw EDatabaseError("Row too large to be cached"); }

}  // namespace

// --- Images --------------------------------------------------------------------

size_t TRecordView::Size() const {
  const size_t data = columns_ == 0 ? 0 : (End(columns_ - 1) & TRecordView::kOffsetMask);
  return EmptyImageSize(columns_) + data;
}

void WriteEmptyImage(char* dest, int columns) {
  for (int i = 0; i < columns; ++i) StoreU32(dest + 4 * i, kNullBit);
}

size_t ReplacedImageSize(const TRecordView& from, int column,
                         std::optional<std::string_view> value) {
  const size_t old_size = from.Cell(column).Bytes.size();
  const size_t new_size = value ? value->size() : 0;
  const size_t total = from.Size() - old_size + new_size;
  if (total - EmptyImageSize(from.Columns()) > kMaxRecordBytes) TooLarge();
  return total;
}

void WriteReplacedImage(const TRecordView& from, int column,
                        std::optional<std::string_view> value, char* dest) {
  const int n = from.Columns();
  char* data = dest + EmptyImageSize(n);
  uint32_t end = 0;
  for (int i = 0; i < n; ++i) {
    TCell cell = from.Cell(i);
    if (i == column) {
      cell.Null = !value.has_value();
      cell.Bytes = value ? *value : std::string_view();
    }
    if (!cell.Bytes.empty()) std::memcpy(data + end, cell.Bytes.data(), cell.Bytes.size());
    end += static_cast<uint32_t>(cell.Bytes.size());
    StoreU32(dest + 4 * i, end | (cell.Null ? kNullBit : 0));
  }
}

// --- TMySQLRecord ----------------------------------------------------------------

void TMySQLRecord::Reset(int columns) {
  columns_ = columns;
  image_.assign(EmptyImageSize(columns), '\0');
  WriteEmptyImage(image_.data(), columns);
}

void TMySQLRecord::CopyFrom(const TCachedRow& row, int columns) {
  columns_ = columns;
  image_.assign(row.Image(), row.Image() + row.ImageSize);
  RowNumber = row.RowNumber;
  BookmarkFlag = row.BookmarkFlag;
}

void TMySQLRecord::CopyFrom(const TMySQLRecord& other) {
  columns_ = other.columns_;
  image_ = other.image_;
  RowNumber = other.RowNumber;
  BookmarkFlag = other.BookmarkFlag;
}

void TMySQLRecord::SetCell(int column, std::optional<std::string_view> value) {
  const TRecordView from = View();
  std::vector<char> next(ReplacedImageSize(from, column, value));
  WriteReplacedImage(from, column, value, next.data());
  image_.swap(next);
}

// --- TRowCache -----------------------------------------------------------------------

TRowCache::TRowCache(int columns) : columns_(columns) {}

TRowCache::~TRowCache() {
  for (TCachedRow* row : rows_) FreeRow(row);
}

char* TRowCache::ArenaAllocate(size_t bytes) {
  bytes = Align8(bytes);
  if (bytes > kChunkSize / 4) {
    // A big row gets a chunk of its own; the current chunk keeps filling.
    chunks_.push_back(std::unique_ptr<char[]>(new char[bytes]));
    chunk_bytes_ += bytes;
    return chunks_.back().get();
  }
  if (bytes > chunk_left_) {
    chunks_.push_back(std::unique_ptr<char[]>(new char[kChunkSize]));
    chunk_bytes_ += kChunkSize;
    chunk_next_ = chunks_.back().get();
    chunk_left_ = kChunkSize;
  }
  char* at = chunk_next_;
  chunk_next_ += bytes;
  chunk_left_ -= bytes;
  return at;
}

TCachedRow* TRowCache::NewRow(size_t image_size, bool own_block) {
  const size_t bytes = sizeof(TCachedRow) + image_size;
  char* block;
  if (own_block) {
    block = new char[bytes];
    own_block_bytes_ += bytes;
  } else {
    block = ArenaAllocate(bytes);
  }
  TCachedRow* row = new (block) TCachedRow();
  row->ImageSize = static_cast<uint32_t>(image_size);
  row->OwnBlock = own_block ? 1 : 0;
  return row;
}

void TRowCache::FreeRow(TCachedRow* row) {
  if (row->OwnBlock) {
    own_block_bytes_ -= sizeof(TCachedRow) + row->ImageSize;
    delete[] reinterpret_cast<char*>(row);
  }
}

void TRowCache::AppendFetched(const char* const* values, const unsigned long* lengths) {
  // The sizes first, so that the row is one block, then the bytes.
  size_t data = 0;
  for (int i = 0; i < columns_; ++i) {
    if (values[i] != nullptr) data += lengths[i];
  }
  if (data > kMaxRecordBytes) TooLarge();
  TCachedRow* row = NewRow(EmptyImageSize(columns_) + data, false);
  row->RowNumber = Count();
  char* image = row->Image();
  char* out = image + EmptyImageSize(columns_);
  uint32_t end = 0;
  for (int i = 0; i < columns_; ++i) {
    if (values[i] == nullptr) {
      StoreU32(image + 4 * i, end | kNullBit);
      continue;
    }
    const size_t length = lengths[i];
    if (length != 0) std::memcpy(out + end, values[i], length);
    end += static_cast<uint32_t>(length);
    StoreU32(image + 4 * i, end);
  }
  rows_.push_back(row);
}

void TRowCache::Insert(int64_t index, const TMySQLRecord& record) {
  assert(index >= 0 && index <= Count());
  assert(record.Columns() == columns_);
  const TRecordView view = record.View();
  TCachedRow* row = NewRow(view.Size(), true);
  std::memcpy(row->Image(), view.Data(), view.Size());
  row->RowNumber = record.RowNumber;
  row->BookmarkFlag = record.BookmarkFlag;
  rows_.insert(rows_.begin() + index, row);
}

void TRowCache::Remove(int64_t index) {
  assert(index >= 0 && index < Count());
  FreeRow(rows_[static_cast<size_t>(index)]);
  rows_.erase(rows_.begin() + index);
}

void TRowCache::SetCell(int64_t index, int column, std::optional<std::string_view> value) {
  assert(index >= 0 && index < Count());
  TCachedRow* old = rows_[static_cast<size_t>(index)];
  const TRecordView from(old->Image(), columns_);
  TCachedRow* row = NewRow(ReplacedImageSize(from, column, value), true);
  WriteReplacedImage(from, column, value, row->Image());
  row->RowNumber = old->RowNumber;
  row->BookmarkFlag = old->BookmarkFlag;
  rows_[static_cast<size_t>(index)] = row;
  FreeRow(old);
}

void TRowCache::Compact() { rows_.shrink_to_fit(); }

void TRowCache::Renumber() {
  for (size_t i = 0; i < rows_.size(); ++i) rows_[i]->RowNumber = static_cast<int64_t>(i);
}

size_t TRowCache::MemoryBytes() const {
  return chunk_bytes_ + own_block_bytes_ + rows_.capacity() * sizeof(TCachedRow*);
}

}  // namespace quill

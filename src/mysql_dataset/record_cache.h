// The record layout shared by cached rows and record buffers, and the row
// cache that holds a whole result in memory.
//
// A record is an image: for n columns, n 32-bit end offsets (the top bit
// marks NULL) followed by the bytes of every cell side by side. A cell is
// either NULL or a byte string (empty allowed). The MySQL dataset keeps a
// text column's value as its cell (NULL: no value) and a blob column's bytes
// as its cell (NULL and empty alike mean "no bytes").
//
// A cached row is one allocation: a 16-byte header (RowNumber, bookmark
// flag) followed by its image. Rows of a fetched result are carved out of
// large arena chunks, so reading a result costs no allocation per row or per
// cell; a row changed later (an edit, an insert) is rebuilt in a block of
// its own and the old bytes are left to the arena. A record buffer owns one
// growable byte vector holding its image, so copying a row into it is one
// copy and usually no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "mysql_dataset/dataset.h"
#include "mysql_dataset/field_types.h"

namespace quill {

struct TCell {
  std::string_view Bytes;
  bool Null = true;
};

// A read-only view of a record image with `columns` cells.
class TRecordView {
 public:
  TRecordView(const char* image, int columns) : image_(image), columns_(columns) {}
  int Columns() const { return columns_; }
  // REQUIRES: 0 <= column < Columns().
  TCell Cell(int column) const {
    const uint32_t end = End(column);
    const uint32_t start = column == 0 ? 0 : (End(column - 1) & kOffsetMask);
    const char* data = image_ + 4 * static_cast<size_t>(columns_);
    return TCell{std::string_view(data + start, (end & kOffsetMask) - start), (end & kNullBit) != 0};
  }
  // Bytes of the whole image (offsets and cells).
  size_t Size() const;
  const char* Data() const { return image_; }

  static constexpr uint32_t kNullBit = 0x80000000u;
  static constexpr uint32_t kOffsetMask = 0x7FFFFFFFu;

 private:
  // Offsets are copied out byte-wise: an image is plain bytes.
  uint32_t End(int column) const {
    uint32_t v;
    std::memcpy(&v, image_ + 4 * static_cast<size_t>(column), 4);
    return v;
  }
  const char* image_;
  int columns_;
};

// Largest number of cell bytes one record may hold.
inline constexpr size_t kMaxRecordBytes = 0x7FFFFFFFu;

// Bytes of an image of `columns` NULL cells.
inline size_t EmptyImageSize(int columns) { return static_cast<size_t>(columns) * 4; }
// Writes an image of `columns` NULL cells to `dest`.
void WriteEmptyImage(char* dest, int columns);
// Size of `from` with the cell of `column` replaced by `value` (none: NULL).
size_t ReplacedImageSize(const TRecordView& from, int column,
                         std::optional<std::string_view> value);
// Writes `from` with one cell replaced to `dest`, which must have room for
// ReplacedImageSize bytes and may not overlap `from`.
void WriteReplacedImage(const TRecordView& from, int column,
                        std::optional<std::string_view> value, char* dest);

struct TCachedRow {
  int64_t RowNumber = 0;
  uint32_t ImageSize = 0;
  TBookmarkFlag BookmarkFlag = TBookmarkFlag::Current;
  uint8_t OwnBlock = 0;  // 1: allocated alone, freed with the row
  uint16_t Reserved = 0;

  const char* Image() const { return reinterpret_cast<const char*>(this + 1); }
  char* Image() { return reinterpret_cast<char*>(this + 1); }
};
static_assert(sizeof(TCachedRow) == 16, "a cached row's header is 16 bytes");

// A record buffer of the MySQL dataset's window.
class TMySQLRecord : public TRecordBuffer {
 public:
  explicit TMySQLRecord(int columns) { Reset(columns); }

  int64_t RowNumber = 0;
  TBookmarkFlag BookmarkFlag = TBookmarkFlag::Current;

  int Columns() const { return columns_; }
  TRecordView View() const { return TRecordView(image_.data(), columns_); }
  TCell Cell(int column) const { return View().Cell(column); }
  // Every cell NULL, for `columns` columns; RowNumber and flag unchanged.
  void Reset(int columns);
  // Takes the image, RowNumber and flag of `row`, a row of `columns` cells.
  void CopyFrom(const TCachedRow& row, int columns);
  // Takes the cells, RowNumber and flag of another buffer.
  void CopyFrom(const TMySQLRecord& other);
  // Replaces one cell (none: NULL).
  void SetCell(int column, std::optional<std::string_view> value);

 private:
  int columns_ = 0;
  std::vector<char> image_;
};

class TRowCache {
 public:
  explicit TRowCache(int columns);
  ~TRowCache();
  TRowCache(const TRowCache&) = delete;
  TRowCache& operator=(const TRowCache&) = delete;

  int Columns() const { return columns_; }
  int64_t Count() const { return static_cast<int64_t>(rows_.size()); }
  // REQUIRES (all taking an index): 0 <= index < Count().
  const TCachedRow& Row(int64_t index) const { return *rows_[static_cast<size_t>(index)]; }
  TRecordView View(int64_t index) const {
    return TRecordView(Row(index).Image(), columns_);
  }

  // Appends a row read from the client library: values[i] null is NULL,
  // else all lengths[i] bytes (NUL bytes included: nothing the server sent
  // is cut off). RowNumber is the row's position. Fails (EDatabaseError)
  // when the row's bytes exceed kMaxRecordBytes.
  void AppendFetched(const char* const* values, const unsigned long* lengths);
  // Inserts a copy of `record`'s cells at `index` (0 <= index <= Count()),
  // with the record's RowNumber and flag.
  void Insert(int64_t index, const TMySQLRecord& record);
  // Removes the row at `index`.
  void Remove(int64_t index);
  // Replaces one cell of the row at `index` (none: NULL).
  void SetCell(int64_t index, int column, std::optional<std::string_view> value);
  // Gives every row its position as RowNumber.
  void Renumber();
  // Gives back the row index's spare capacity (after a result is read).
  void Compact();

  // Bytes the cache holds: arena chunks, rows allocated alone and the row
  // index.
  size_t MemoryBytes() const;

 private:
  TCachedRow* NewRow(size_t image_size, bool own_block);
  void FreeRow(TCachedRow* row);
  char* ArenaAllocate(size_t bytes);

  int columns_;
  std::vector<TCachedRow*> rows_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t chunk_bytes_ = 0;
  char* chunk_next_ = nullptr;
  size_t chunk_left_ = 0;
  size_t own_block_bytes_ = 0;
};

}  // namespace quill

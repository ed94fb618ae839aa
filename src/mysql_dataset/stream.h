// TStream: a byte stream with a position, the interface through which blob
// and memo fields read and write their content.
//
// Fields never hold blob bytes themselves: a dataset hands out a stream
// over one blob column of its current record (TDataSet::OpenBlobStream),
// and the field reads or writes through it. Destroying the stream is what
// finishes a write, so callers keep it in a unique_ptr and let it go when
// they are done.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

enum class TSeekOrigin : int { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Copies up to `count` bytes from the current position into `dest` and
  // advances the position by the number copied, which is returned (0 at or
  // past the end, or when count <= 0).
  virtual int32_t Read(void* dest, int32_t count) = 0;
  // Writes `count` bytes from `source` at the current position, lengthening
  // the stream as needed, and advances the position. Returns the number of
  // bytes written (0 when the stream cannot be written).
  virtual int32_t Write(const void* source, int32_t count) = 0;
  // Moves the position and returns the new one. An unknown origin leaves
  // the position unchanged.
  virtual int32_t Seek(int32_t offset, TSeekOrigin origin) = 0;
  // Number of bytes in the stream.
  virtual int32_t Size() = 0;

  int32_t Position() { return Seek(0, TSeekOrigin::FromCurrent); }

  // The whole content, read from the start; the position ends at the end.
  std::string ReadAll();
  // Writes all of `bytes` at the current position (the content beyond
  // the written range is kept).
  void WriteAll(const std::string& bytes);
};

}  // namespace quill

// TMySQLBlobStream: a byte stream over the blob of one field in the current
// record of a MySQL dataset.
//
// The stream holds no copy of the blob: every read sees the record's (or
// the cached row's) current bytes, every write stores the whole new blob
// back through the dataset. It remembers its dataset and field by object
// handle, so a stream kept after either was destroyed reads and writes
// nothing instead of touching freed memory.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/object.h"
#include "mysql_dataset/dataset.h"
#include "mysql_dataset/stream.h"

namespace quill {

class TMySQLDataset;

class TMySQLBlobStream : public TStream {
 public:
  using Mode = TDataSet::TBlobStreamMode;

  // Opens a stream on `field` (a blob or memo field of a TMySQLDataset) in
  // the dataset's active record buffer. Unless the field was already given
  // a value in this record, a stream for writing fails with "Field is
  // readonly" on a read-only field and with "Dataset not in edit or insert
  // mode" outside editing and inserting. A stream for writing empties the
  // blob at once. Without an active record buffer the stream stays
  // unopened: it reads and writes nothing and its size is 0.
  TMySQLBlobStream(TField& field, Mode mode);
  // After a write: marks the column modified and notifies the dataset's
  // consumers that the field changed (a failure there is swallowed).
  ~TMySQLBlobStream() override;

  int32_t Read(void* dest, int32_t count) override;
  // Writes only when opened on the active buffer in a writing mode; a gap
  // left by seeking past the end is filled with zero bytes.
  int32_t Write(const void* source, int32_t count) override;
  int32_t Seek(int32_t offset, TSeekOrigin origin) override;
  int32_t Size() override;

  bool Opened() const { return opened_; }
  bool AtActiveBuffer() const { return at_active_buffer_; }
  bool Written() const { return written_; }

 private:
  // The dataset and field while both live, else null.
  TMySQLDataset* LiveDataSet() const;
  TField* LiveField() const;
  // The bytes the stream reads now.
  std::string_view Data() const;

  ObjectHandle dataset_handle_;
  ObjectHandle field_handle_;
  const TRecordBuffer* buffer_ = nullptr;
  Mode mode_;
  bool opened_ = false;
  bool at_active_buffer_ = false;
  bool written_ = false;
  int32_t position_ = 0;
};

}  // namespace quill

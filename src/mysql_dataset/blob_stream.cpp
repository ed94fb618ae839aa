// Blob streams of the MySQL dataset. A stream re-reads its data from the
// dataset on every call and checks first that the dataset, the field and
// (for the active buffer) the buffer are still the ones it was opened on.
#include "mysql_dataset/blob_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "base/errors.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

namespace {
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();
}

TMySQLBlobStream::TMySQLBlobStream(TField& field, Mode mode) : mode_(mode) {
  auto* dataset = dynamic_cast<TMySQLDataset*>(&field.DataSet());
  if (dataset == nullptr) throw EDatabaseError("A blob stream needs a field of a MySQL dataset");
  dataset_handle_ = dataset->Handle();
  field_handle_ = field.Handle();
  TRecordBuffer* buffer = dataset->ActiveRecordBuffer();
  if (buffer == nullptr) return;
  buffer_ = buffer;
  const TFieldInfo* info = dataset->ColumnOf(field);
  const bool modified = info != nullptr && info->Modified;
  if (!modified && mode != Mode::Read) {
    if (field.ReadOnly()) throw EDatabaseError("Field is readonly");
    if (dataset->State() != dsEdit && dataset->State() != dsInsert) dataset->Fail(kMsgNotEditing);
    at_active_buffer_ = true;
  } else {
    at_active_buffer_ = buffer == dataset->ActiveBuffer();
  }
  opened_ = true;
  if (mode == Mode::Write) {
    dataset->SetBlobText(field, *buffer, std::string_view());
    written_ = true;
  }
}

TMySQLBlobStream::~TMySQLBlobStream() {
  if (!written_) return;
  TMySQLDataset* dataset = LiveDataSet();
  TField* field = LiveField();
  if (dataset == nullptr || field == nullptr) return;
  if (opened_) {
    if (TFieldInfo* info = dataset->ColumnOf(*field)) info->Modified = true;
  }
  try {
    dataset->FieldChanged(*field);
  } catch (...) {
    // A destructor cannot report; the value itself is written already.
  }
}

TMySQLDataset* TMySQLBlobStream::LiveDataSet() const {
  return static_cast<TMySQLDataset*>(ResolveHandle(dataset_handle_));
}

TField* TMySQLBlobStream::LiveField() const {
  return static_cast<TField*>(ResolveHandle(field_handle_));
}

std::string_view TMySQLBlobStream::Data() const {
  TMySQLDataset* dataset = LiveDataSet();
  TField* field = LiveField();
  if (!opened_ || dataset == nullptr || field == nullptr) return {};
  if (at_active_buffer_) {
    // Compared before use: the buffer may be gone since the stream opened.
    if (buffer_ != dataset->ActiveRecordBuffer()) return {};
    return dataset->BlobView(*field, *buffer_);
  }
  const int64_t count = dataset->RowCount();
  const int column = field->FieldNo() - 1;
  if (count <= 0 || column < 0 || column >= dataset->ColumnCount()) return {};
  const int64_t row = std::clamp<int64_t>(dataset->RowIndex(), 0, count - 1);
  return dataset->RowAt(row).Cell(column).Bytes;
}

int32_t TMySQLBlobStream::Size() {
  return static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(Data().size()), kMaxSize));
}

int32_t TMySQLBlobStream::Read(void* dest, int32_t count) {
  if (!opened_) return 0;
  const std::string_view data = Data();
  const int64_t size = std::min<int64_t>(static_cast<int64_t>(data.size()), kMaxSize);
  const int64_t n = std::min<int64_t>(count, size - position_);
  // A read never answers a negative count, also past the end.
  if (n <= 0 || position_ < 0) return 0;
  std::memcpy(dest, data.data() + position_, static_cast<size_t>(n));
  position_ += static_cast<int32_t>(n);
  return static_cast<int32_t>(n);
}

int32_t TMySQLBlobStream::Write(const void* source, int32_t count) {
  if (!opened_ || !at_active_buffer_ || mode_ == Mode::Read || count <= 0 || position_ < 0) {
    return 0;
  }
  if (static_cast<int64_t>(position_) + count > kMaxSize) return 0;
  TMySQLDataset* dataset = LiveDataSet();
  TField* field = LiveField();
  if (dataset == nullptr || field == nullptr) return 0;
  TRecordBuffer* active = dataset->ActiveRecordBuffer();
  if (active == nullptr || active != buffer_) return 0;
  std::string data(dataset->BlobView(*field, *active));
  const size_t end = static_cast<size_t>(position_) + static_cast<size_t>(count);
  if (data.size() < end) data.resize(end, '\0');
  std::memcpy(data.data() + position_, source, static_cast<size_t>(count));
  dataset->SetBlobText(*field, *active, data);
  position_ += count;
  written_ = true;
  return count;
}

int32_t TMySQLBlobStream::Seek(int32_t offset, TSeekOrigin origin) {
  int64_t position = position_;
  switch (origin) {
    case TSeekOrigin::FromBeginning:
      position = offset;
      break;
    case TSeekOrigin::FromCurrent:
      position = static_cast<int64_t>(position_) + offset;
      break;
    case TSeekOrigin::FromEnd:
      position = static_cast<int64_t>(Size()) + offset;
      break;
  }
  position_ = static_cast<int32_t>(std::clamp<int64_t>(position, std::numeric_limits<int32_t>::min(), kMaxSize));
  return position_;
}

}  // namespace quill

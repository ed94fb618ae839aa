// The MySQL dataset's field values: every value is held as the text the
// server sent (blob columns as bytes); reading converts that text for the
// field's type, writing makes the text the server will take back, and both
// go through the active record (and, while editing, the cached row).
#include <algorithm>
#include <array>
#include <charconv>

#include "base/errors.h"
#include "base/number_text.h"
#include "base/utf8.h"
#include "mysql_dataset/blob_stream.h"
#include "mysql_dataset/mysql_dataset.h"
#include "mysql_dataset/sql_date_text.h"

namespace quill {

namespace {

bool IsDecimalType(uint8_t type) { return type == 0 || type == 246; }

// The text a DECIMAL column with `scale` decimals takes and gives back: a
// number given as text digit for digit (its fraction padded with zeros to
// the scale, as the server shows it), a double in fixed notation with the
// scale's digits. So the cached text is the server's.
std::string DecimalText(const TFieldValue& value, uint32_t scale) {
  scale = std::min<uint32_t>(scale, 38);
  if (value.Text.empty()) {
    std::array<char, 400> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                            value.Float, std::chars_format::fixed,
                                            static_cast<int>(scale));
    if (error != std::errc()) return FloatToStrDot(value.Float);
    return std::string(buffer.data(), end);
  }
  const std::string& text = value.Text;
  // Only plain decimal notation is padded; anything else goes as given.
  const size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  size_t point = std::string::npos;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '.' && point == std::string::npos) {
      point = i;
    } else if (text[i] < '0' || text[i] > '9') {
      return text;
    }
  }
  const size_t fraction = point == std::string::npos ? 0 : text.size() - point - 1;
  if (fraction >= scale) return text;
  std::string out = text;
  if (point == std::string::npos) out += '.';
  out.append(scale - fraction, '0');
  return out;
}

// True when `text` holds a character other than blanks and control
// characters: what the blank rule asks, without trimming.
bool HasNonBlank(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 32) return true;
  }
  return false;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

}  // namespace

// --- Field values -------------------------------------------------------------------------

TFieldInfo* TMySQLDataset::ColumnOf(const TField& field) {
  const int number = field.FieldNo();
  if (&field.DataSet() != this || number <= 0 || number > ColumnCount()) return nullptr;
  return &ColumnInfo(number - 1);
}

bool TMySQLDataset::ReadFieldValue(const TField& field, TFieldValue* dest) {
  const auto* record = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  if (record == nullptr) return false;
  const int column = field.FieldNo() - 1;
  // Calculated and lookup fields are not built: an unbound field has no
  // value.
  if (column < 0 || column >= ColumnCount() || column >= record->Columns()) return false;
  const TFieldInfo& info = ColumnInfo(column);
  const TFieldType type = field.DataType();
  // An empty blob or text is a value; only NULL is none.
  if (type == ftBlob || type == ftMemo) return !BlobCell(field, *record).Null;
  const TCell cell = record->Cell(column);
  // A blob column has no text value, except for a field that shows raw
  // bytes.
  if (cell.Null || (info.IsBlob() && type != ftUnknown)) return false;
  if (dest == nullptr) return true;
  if (type == ftUnknown) {  // raw bytes: no blank rule
    dest->Text.assign(cell.Bytes);
    return true;
  }
  // Blank text reads as NULL, although asking without a destination says
  // there is a value.
  const std::string_view t = TrimView(cell.Bytes);
  if (t.empty()) return false;
  switch (type) {
    case ftString:
    case ftVariant:
      dest->Text.assign(cell.Bytes);
      break;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: {
      int32_t value = 0;
      if (!TryStrToInt(t, &value)) throw EConvertError(InvalidIntegerMessage(std::string(t)));
      dest->Integer = value;
      break;
    }
    case ftLargeint: {
      int64_t value = 0;
      if (!TryStrToInt64(t, &value)) throw EConvertError(InvalidIntegerMessage(std::string(t)));
      dest->Integer = value;
      break;
    }
    case ftFloat: {
      double value = 0;
      if (!TryStrToFloatDot(t, &value)) throw EConvertError(InvalidFloatMessage(std::string(t)));
      dest->Float = value;
      // A DECIMAL's text is exact, its double may not be: the text goes along.
      if (IsDecimalType(info.FieldType)) dest->Text.assign(t);
      break;
    }
    case ftDate:
      dest->DateTime = SqlTextToDate(t);
      break;
    case ftTime:
      dest->DateTime = SqlTextToTime(t);
      break;
    case ftDateTime:
      dest->DateTime =
          info.FieldType == kTimestampType ? SqlTextToTimestamp(t) : SqlTextToDateTime(t);
      break;
    default:
      break;
  }
  return true;
}

TDataSet::TKeptText TMySQLDataset::PeekFieldText(const TField& field, std::string_view* text) {
  // The checks of ReadFieldValue up to the conversion, in its order.
  const auto* record = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  if (record == nullptr) return TKeptText::Null;
  const int column = field.FieldNo() - 1;
  if (column < 0 || column >= ColumnCount() || column >= record->Columns()) return TKeptText::Null;
  const TFieldType type = field.DataType();
  if (type == ftBlob || type == ftMemo) return TKeptText::Unknown;
  const TFieldInfo& info = ColumnInfo(column);
  const TCell cell = record->Cell(column);
  if (cell.Null || (info.IsBlob() && type != ftUnknown)) return TKeptText::Null;
  // A float column's value is its double, not its text.
  if (type == ftFloat && !IsDecimalType(info.FieldType)) return TKeptText::Unknown;
  *text = cell.Bytes;
  return TKeptText::Text;
}

TDataSet::TKeptText TMySQLDataset::PeekStringText(const TField& field, std::string_view* text) {
  // The rules of ReadFieldValue for text fields, without an intermediate
  // value.
  const TFieldType type = field.DataType();
  if (type != ftString && type != ftVariant && type != ftUnknown) return TKeptText::Unknown;
  const auto* record = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  const int column = field.FieldNo() - 1;
  if (record != nullptr && column >= 0 && column < ColumnCount() && column < record->Columns()) {
    const TCell cell = record->Cell(column);
    const bool readable = type == ftUnknown ? !cell.Null
                                            : !cell.Null && !ColumnInfo(column).IsBlob() &&
                                                  HasNonBlank(cell.Bytes);
    if (readable) {
      *text = cell.Bytes;
      return TKeptText::Text;
    }
  }
  return TKeptText::Null;
}

bool TMySQLDataset::ReadFieldText(const TField& field, std::string* out) {
  // The path of every text read.
  std::string_view text;
  switch (PeekStringText(field, &text)) {
    case TKeptText::Unknown:
      return TDataSet::ReadFieldText(field, out);
    case TKeptText::Text:
      out->assign(text);
      return true;
    case TKeptText::Null:
      break;
  }
  out->clear();
  return false;
}

std::string TMySQLDataset::FieldText(const TField& field, const TFieldInfo& info,
                                      const TFieldValue& value) const {
  switch (field.DataType()) {
    case ftString:
      // A width of 0 is no width the server reported; the server judges.
      if (info.Length == 0) return value.Text;
      if (info.IsBinary()) return value.Text.substr(0, info.Length);
      return std::string(Utf8Prefix(value.Text, info.Length));
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return std::to_string(static_cast<int32_t>(value.Integer));
    case ftLargeint:
      return std::to_string(value.Integer);
    case ftFloat:
      if (IsDecimalType(info.FieldType)) return DecimalText(value, info.Decimals);
      return FloatToStrDot(value.Float);
    case ftDate:
      return DateToSqlText(value.DateTime);
    case ftTime:
      return TimeToSqlText(value.DateTime);
    case ftDateTime:
      return info.FieldType == kTimestampType ? DateTimeToTimestamp14(value.DateTime)
                                              : DateTimeToSqlText(value.DateTime);
    case ftVariant:
    case ftUnknown:
      return value.Text;
    default:
      return std::string();
  }
}

void TMySQLDataset::WriteFieldValue(TField& field, const TFieldValue* source) {
  auto* record = static_cast<TMySQLRecord*>(ActiveRecordBuffer());
  if (record == nullptr) return;
  const int column = field.FieldNo() - 1;
  if (column >= ColumnCount() || column >= record->Columns()) return;
  if (column >= 0) {
    TFieldInfo& info = ColumnInfo(column);
    try {
      field.Validate(source);
      // The text is made before anything is changed, so that a failure
      // leaves the old value in place.
      std::optional<std::string> text;
      if (source != nullptr) text = FieldText(field, info, *source);
      info.Modified = true;
      const std::optional<std::string_view> cell =
          text ? std::optional<std::string_view>(*text) : std::nullopt;
      record->SetCell(column, cell);
      if (State() == dsEdit && CursorInRows()) rows_->SetCell(cursor_, column, cell);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      throw EAbort();
    }
  }
  FieldChanged(field);
}

std::unique_ptr<TStream> TMySQLDataset::OpenBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TMySQLBlobStream>(field, mode);
}

TCell TMySQLDataset::BlobCell(const TField& field, const TRecordBuffer& buffer) const {
  if (&buffer != ActiveRecordBuffer()) return {};
  const int column = field.FieldNo() - 1;
  if (column < 0 || column >= ColumnCount()) return {};
  const auto& record = static_cast<const TMySQLRecord&>(buffer);
  if ((State() == dsBrowse || State() == dsEdit) && record.RowNumber >= 0 &&
      record.RowNumber < RowsCount()) {
    return rows_->View(record.RowNumber).Cell(column);
  }
  if (column >= record.Columns()) return {};
  return record.Cell(column);
}

void TMySQLDataset::SetBlobText(const TField& field, TRecordBuffer& buffer,
                                std::string_view bytes) {
  if (&buffer != ActiveRecordBuffer()) return;
  if (State() == dsFilter) Fail(kMsgNotEditing);
  const int column = field.FieldNo() - 1;
  auto& record = static_cast<TMySQLRecord&>(buffer);
  if (column < 0 || column >= ColumnCount() || column >= record.Columns()) return;
  record.SetCell(column, bytes);
  if (State() == dsEdit && CursorInRows()) rows_->SetCell(cursor_, column, bytes);
  ColumnInfo(column).Modified = true;
}

}  // namespace quill

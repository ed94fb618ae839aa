// JSON and row arrays straight from the row cache and the fields.
//
// The JSON writer reads the cached cells, which hold the server's own text,
// instead of going through typed field values: a DECIMAL then keeps every
// digit, and the cost per row stays that of copying the bytes once.
#include "script_object/row_export.h"

#include <cassert>
#include <new>

#include "activex_shell/variant_convert.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

namespace {

enum class JsonKind { Number, Date, DateTime, Time, Bytes, Text, Null };

JsonKind KindOf(const TFieldInfo& info) {
  switch (static_cast<MySQLType>(info.FieldType)) {
    case MySQLType::Decimal:
    case MySQLType::NewDecimal:
    case MySQLType::Tiny:
    case MySQLType::Short:
    case MySQLType::Long:
    case MySQLType::Int24:
    case MySQLType::LongLong:
    case MySQLType::Float:
    case MySQLType::Double:
    case MySQLType::Year:
      return JsonKind::Number;
    case MySQLType::Date:
    case MySQLType::NewDate:
      return JsonKind::Date;
    case MySQLType::DateTime:
    case MySQLType::Timestamp:
      return JsonKind::DateTime;
    case MySQLType::Time:
      return JsonKind::Time;
    case MySQLType::Null:
      return JsonKind::Null;
    case MySQLType::Bit:
      return JsonKind::Bytes;
    default:
      return info.IsBinary() ? JsonKind::Bytes : JsonKind::Text;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` is a number as JSON writes one. The server's text
// normally is; anything else ("-0.", "inf") goes out as a string rather
// than as broken JSON.
bool IsJsonNumber(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && text[i] == '-') ++i;
  if (i >= n || !IsDigit(text[i])) return false;
  if (text[i] == '0' && i + 1 < n && IsDigit(text[i + 1])) return false;
  while (i < n && IsDigit(text[i])) ++i;
  if (i < n && text[i] == '.') {
    ++i;
    if (i >= n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) ++i;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) ++i;
  }
  return i == n;
}

// "yyyymmddhhnnss" from servers that wrote TIMESTAMP without separators.
bool IsCompactTimestamp(std::string_view text) {
  if (text.size() != 14) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

void AppendValue(std::string& out, JsonKind kind, std::string_view text) {
  switch (kind) {
    case JsonKind::Number:
      if (IsJsonNumber(text)) {
        out.append(text);
      } else {
        AppendJsonString(out, text);
      }
      return;
    case JsonKind::DateTime:
      if (IsCompactTimestamp(text)) {
        std::string iso;
        iso.reserve(19);
        iso.append(text.substr(0, 4)).append("-").append(text.substr(4, 2)).append("-");
        iso.append(text.substr(6, 2)).append("T").append(text.substr(8, 2)).append(":");
        iso.append(text.substr(10, 2)).append(":").append(text.substr(12, 2));
        AppendJsonString(out, iso);
      } else if (text.size() > 10 && text[10] == ' ') {
        out += '"';
        out.append(text.substr(0, 10));
        out += 'T';
        out.append(text.substr(11));
        out += '"';
      } else {
        AppendJsonString(out, text);
      }
      return;
    case JsonKind::Bytes:
      out += '"';
      AppendBase64(out, text);
      out += '"';
      return;
    case JsonKind::Null:
      out += "null";
      return;
    case JsonKind::Date:
    case JsonKind::Time:
    case JsonKind::Text:
      AppendJsonString(out, text);
      return;
  }
}

Variant FieldValue(TField& field, const TFieldInfo* info) {
  if (field.IsBlob() && info != nullptr && info->IsBinary() && !field.IsNull()) {
    return ByteArrayValue(field.AsString());
  }
  return field.AsVariant();
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t run = 0;  // start of the bytes still to copy unchanged
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(text.substr(run));
  out += '"';
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t left = bytes.size() - i;
  if (left == 0) return;
  uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
  if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
  out += kAlphabet[(v >> 18) & 63];
  out += kAlphabet[(v >> 12) & 63];
  out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  out += '=';
}

void RowsAsJson(const TMySQLDataset& dataset, std::string& out) {
  assert(dataset.Active());
  const int columns = dataset.ColumnCount();
  // Each row starts with the same keys: escape them once.
  std::vector<std::string> keys(static_cast<size_t>(columns));
  std::vector<JsonKind> kinds(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    std::string key(1, c == 0 ? '{' : ',');
    AppendJsonString(key, dataset.ColumnDisplayName(c));
    key += ':';
    keys[static_cast<size_t>(c)] = std::move(key);
    kinds[static_cast<size_t>(c)] = KindOf(dataset.ColumnInfo(c));
  }
  const int64_t rows = dataset.RowCount();
  const size_t start = out.size();
  out += '[';
  for (int64_t r = 0; r < rows; ++r) {
    const TRecordView row = dataset.RowAt(r);
    if (r > 0) out += ',';
    if (columns == 0) out += '{';
    for (int c = 0; c < columns && c < row.Columns(); ++c) {
      out += keys[static_cast<size_t>(c)];
      const TCell cell = row.Cell(c);
      if (cell.Null) {
        out += "null";
      } else {
        AppendValue(out, kinds[static_cast<size_t>(c)], cell.Bytes);
      }
    }
    out += '}';
    if (r == 0 && rows > 1) {
      // One row tells how long rows are; reserve for the rest at once.
      const size_t row = out.size() - start;
      out.reserve(start + row * static_cast<size_t>(rows) + row / 4 + 64);
    }
  }
  out += ']';
}

void ReadRowsArray(TMySQLDataset& dataset, const std::vector<TField*>& fields, int64_t rows,
                   VARIANT* out) {
  std::vector<const TFieldInfo*> infos;
  infos.reserve(fields.size());
  for (TField* f : fields) infos.push_back(dataset.ColumnOf(*f));
  // Values are collected first: the row count is known only at the end.
  std::vector<Variant> values;
  int64_t read = 0;
  while (!dataset.Eof() && (rows < 0 || read < rows)) {
    for (size_t i = 0; i < fields.size(); ++i) values.push_back(FieldValue(*fields[i], infos[i]));
    ++read;
    dataset.MoveNext();
  }
  if (read > INT32_MAX) throw std::bad_alloc();
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(fields.size()), 0},
                              {static_cast<ULONG>(read), 0}};
  FillNewArray(SafeArrayCreate(VT_VARIANT, 2, bounds), VT_VARIANT, out, [&values](void* data) {
    // Storage order: the first index (the field) varies fastest.
    auto* cells = static_cast<VARIANT*>(data);
    for (size_t k = 0; k < values.size(); ++k) ValueToVariant(values[k], &cells[k]);
  });
}

}  // namespace quill

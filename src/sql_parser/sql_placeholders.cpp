// Placeholder binding: the tokenizer finds the "?" tokens, the values
// become SQL literals, and the statement is rebuilt around them.
#include "sql_parser/sql_placeholders.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/date_time.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "sql_parser/basic_parser.h"

namespace quill {

namespace {

std::string Plural(size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

[[noreturn]] void CannotBind(const Variant& value, size_t position, const char* why) {
  throw EConvertError("Parameter " + std::to_string(position) + ": " + why + " (" +
                      VarTypeName(value.Type()) + ")");
}

// A byte array arrives as an array of integers 0..255; answers false for
// any other array.
bool HexLiteral(const VariantArray& array, std::string* out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex = "0x";
  hex.reserve(2 + 2 * array.Items.size());
  for (const Variant& item : array.Items) {
    if (item.Type() != VarType::Integer) return false;
    const int64_t b = item.RawInt();
    if (b < 0 || b > 255) return false;
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  *out = array.Items.empty() ? "''" : hex;
  return true;
}

}  // namespace

std::vector<size_t> FindPlaceholders(std::string_view sql) {
  std::vector<size_t> found;
  TBasicParser parser(sql);
  ConfigureForSplit(parser);
  for (;;) {
    const TTokenProps& token = parser.NextToken(true);
    if (token.Kind == ptEnd) break;
    if (token.Kind == '?') found.push_back(static_cast<size_t>(token.Position));
  }
  return found;
}

std::string SqlLiteral(const Variant& value, const TSqlEscape& escape, size_t position) {
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null:
      return "NULL";
    case VarType::Integer:
    case VarType::Int64:
      return std::to_string(value.RawInt());
    case VarType::Double: {
      const double d = value.RawDouble();
      if (!std::isfinite(d)) CannotBind(value, position, "a number SQL cannot hold");
      // The shortest text that reads back as the same double: fifteen
      // digits would change 2^53 - 1 and its neighbours.
      char text[32];
      const auto end = std::to_chars(text, text + sizeof(text), d).ptr;
      return std::string(text, end);
    }
    case VarType::Currency:
      return CurrToStrDot(value.RawCurrency());
    case VarType::Boolean:
      return value.RawInt() != 0 ? "1" : "0";
    case VarType::Date: {
      const TDateTime when = value.AsDateTime();
      const DateParts d = DecodeDate(when);
      const TimeParts t = DecodeTime(when);
      if (d.Year == 0) CannotBind(value, position, "a date outside the years 1 to 9999");
      char text[32];
      std::snprintf(text, sizeof(text), "'%04d-%02d-%02d %02d:%02d:%02d'", d.Year, d.Month, d.Day,
                    t.Hour, t.Minute, t.Second);
      return text;
    }
    case VarType::String:
      return "'" + escape(value.RawString()) + "'";
    case VarType::Array: {
      std::string hex;
      if (HexLiteral(value.RawArray(), &hex)) return hex;
      CannotBind(value, position, "only byte arrays bind as values");
    }
    default:
      CannotBind(value, position, "a value of this type cannot be bound");
  }
}

std::string BindPlaceholders(std::string_view sql, std::span<const Variant> values,
                             const TSqlEscape& escape) {
  const std::vector<size_t> at = FindPlaceholders(sql);
  if (at.size() != values.size()) {
    throw EDatabaseError(Plural(at.size(), "placeholder") + " in the SQL but " +
                         Plural(values.size(), "value") + " given");
  }
  std::string out;
  out.reserve(sql.size() + 16 * values.size());
  size_t copied = 0;
  for (size_t i = 0; i < at.size(); ++i) {
    out.append(sql.substr(copied, at[i] - copied));
    out += SqlLiteral(values[i], escape, i + 1);
    copied = at[i] + 1;
  }
  out.append(sql.substr(copied));
  return out;
}

}  // namespace quill

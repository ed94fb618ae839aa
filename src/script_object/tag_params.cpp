// Splitting and decoding of template tag parameters (see tag_params.h).
#include "script_object/tag_params.h"

#include "base/errors.h"

namespace quill {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsFieldWhite(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

std::string DecodeParam(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < field.size() && field[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else {
      const std::string_view digits = field.substr(i + 1, 2);
      const int hi = digits.size() == 2 ? HexValue(digits[0]) : -1;
      const int lo = digits.size() == 2 ? HexValue(digits[1]) : -1;
      if (hi < 0 || lo < 0) {
        throw EConvertError(InvalidIntegerMessage("$" + std::string(digits)));
      }
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    }
  }
  return out;
}

std::string StripQuoteChars(std::string_view field, bool strip) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    if (strip && (c == '"' || c == '\'')) continue;
    out.push_back(c);
  }
  return out;
}

void SplitTagParams(std::string_view text, bool strip_quotes, TStringList& params) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && IsFieldWhite(text[i])) ++i;
    if (i >= n) break;
    size_t start = i;
    size_t end;   // one past the field's last byte
    size_t next;  // where the next field's search starts
    while (i < n && !IsFieldWhite(text[i]) && text[i] != '"') ++i;
    if (i < n && text[i] == '"') {
      const size_t close = text.find('"', i + 1);
      if (i == start) {
        // The run opened the field: its quotes are not part of it.
        start = i + 1;
        end = close == std::string_view::npos ? n : close;
        next = close == std::string_view::npos ? n : close + 1;
      } else {
        // The run belongs to the field; the byte after it is the end mark.
        end = close == std::string_view::npos ? n : close + 1;
        next = close == std::string_view::npos ? n : close + 2;
      }
    } else {
      end = i;
      next = i + 1;
    }
    if (end > start) {
      params.Add(StripQuoteChars(DecodeParam(text.substr(start, end - start)), strip_quotes));
    }
    i = next;
  }
}

}  // namespace quill

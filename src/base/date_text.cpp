// Date-time text reading for conversions of script values.
#include "base/date_text.h"

#include <cctype>
#include <cstdint>

namespace quill {
namespace {

struct Cursor {
  std::string_view s;
  size_t i = 0;
  bool AtEnd() const { return i >= s.size(); }
  char Peek() const { return AtEnd() ? '\0' : s[i]; }
  void SkipBlanks() {
    while (!AtEnd() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  // Reads 1..max_digits decimal digits.
  bool Number(int max_digits, int* out, int* digits = nullptr) {
    int n = 0, v = 0;
    while (!AtEnd() && n < max_digits && std::isdigit(static_cast<unsigned char>(s[i]))) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (digits) *digits = n;
    if (n == 0) return false;
    *out = v;
    return true;
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i;
    return true;
  }
};

bool ReadTime(Cursor& c, TDateTime* out) {
  int h = 0, n = 0, sec = 0, ms = 0;
  if (!c.Number(2, &h) || !c.Take(':') || !c.Number(2, &n)) return false;
  if (c.Take(':')) {
    if (!c.Number(2, &sec)) return false;
    if (c.Take('.')) {
      int digits = 0;
      if (!c.Number(3, &ms, &digits)) return false;
      while (digits++ < 3) ms *= 10;
    }
  }
  c.SkipBlanks();
  if (!c.AtEnd()) {
    char a = static_cast<char>(std::toupper(static_cast<unsigned char>(c.Peek())));
    if ((a == 'A' || a == 'P') && c.i + 1 < c.s.size() &&
        std::toupper(static_cast<unsigned char>(c.s[c.i + 1])) == 'M') {
      if (h < 1 || h > 12) return false;
      if (a == 'A' && h == 12) h = 0;
      if (a == 'P' && h != 12) h += 12;
      c.i += 2;
    }
  }
  return TryEncodeTime(h, n, sec, ms, out);
}

bool ReadDate(Cursor& c, TDateTime* out) {
  size_t start = c.i;
  int a = 0, b = 0, d = 0, digits = 0;
  if (!c.Number(4, &a, &digits)) return false;
  if (digits == 4 && c.Take('-')) {  // yyyy-mm-dd
    if (!c.Number(2, &b) || !c.Take('-') || !c.Number(2, &d)) return false;
    return TryEncodeDate(a, b, d, out);
  }
  if (digits <= 2 && c.Take('/')) {  // m/d/yyyy
    if (!c.Number(2, &b) || !c.Take('/') || !c.Number(4, &d, &digits)) return false;
    if (digits <= 2) d += d < 50 ? 2000 : 1900;
    return TryEncodeDate(d, a, b, out);
  }
  c.i = start;
  return false;
}

}  // namespace

bool TryStrToDateTime(std::string_view text, TDateTime* out) {
  Cursor c{text};
  c.SkipBlanks();
  TDateTime date = 0, time = 0;
  size_t start = c.i;
  bool has_date = ReadDate(c, &date);
  if (!has_date) c.i = start;
  c.SkipBlanks();
  bool has_time = false;
  if (!c.AtEnd()) {
    if (!ReadTime(c, &time)) return false;
    has_time = true;
  }
  c.SkipBlanks();
  if (!c.AtEnd() || (!has_date && !has_time)) return false;
  *out = date < 0 ? date - time : date + time;
  return true;
}

}  // namespace quill

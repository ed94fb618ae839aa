// variant_text.cpp: English number and date text for VariantChangeType.
//
// Numbers read from text are kept as exact decimal digits so that "0.5",
// "2.5" and "12345678901234567890" round and range-check exactly instead of
// through a double. Numbers printed as text use the shortest form that reads
// back as the same value, so a round trip through text loses nothing.
#include "platform/olert/variant_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/core/civil_date.h"

namespace olert::detail {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view Trim(std::u16string_view t) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  return t;
}

bool ParseRadixLiteral(std::u16string_view t, size_t i, TextNumber& out) {
  if (i >= t.size()) return false;
  unsigned shift;
  if (t[i] == u'H' || t[i] == u'h') {
    shift = 4;
  } else if (t[i] == u'O' || t[i] == u'o') {
    shift = 3;
  } else {
    return false;
  }
  ++i;
  if (i >= t.size()) return false;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    unsigned d;
    if (IsDigit(c)) {
      d = c - u'0';
    } else if (shift == 4 && c >= u'a' && c <= u'f') {
      d = c - u'a' + 10;
    } else if (shift == 4 && c >= u'A' && c <= u'F') {
      d = c - u'A' + 10;
    } else {
      return false;
    }
    if (d >= (1u << shift)) return false;
    if (v >> (64 - shift) != 0) return false;  // more bits than 64
    v = v << shift | d;
  }
  out.radix_literal = true;
  out.radix_value = v;
  return true;
}

// A radix literal as the value the other conversions see: up to 32 bits it
// is a signed 32-bit pattern, as the Windows runtime reads "&HFFFFFFFF" as -1.
int64_t RadixAsSigned(uint64_t v) {
  if (v <= 0xFFFFFFFFu) return static_cast<int32_t>(static_cast<uint32_t>(v));
  return static_cast<int64_t>(v);
}

std::string Shortest(double v, int digits_before_exponent, bool is_float) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0) return "0";
  char buf[64];
  std::to_chars_result r = is_float
                               ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v),
                                               std::chars_format::scientific)
                               : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  bool negative = sci.front() == '-';
  if (negative) sci.remove_prefix(1);
  size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= digits_before_exponent) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out += digits.substr(1);
    }
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += ebuf;
  } else if (exponent >= 0) {
    size_t int_len = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= int_len) {
      out += digits;
      out.append(int_len - digits.size(), '0');
    } else {
      out += digits.substr(0, int_len);
      out += '.';
      out += digits.substr(int_len);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

// A cursor over ASCII date text.
class DateScanner {
 public:
  explicit DateScanner(std::string_view t) : t_(t) {}

  bool AtEnd() const { return i_ >= t_.size(); }
  char Peek() const { return AtEnd() ? '\0' : t_[i_]; }
  size_t Pos() const { return i_; }
  void Rewind(size_t pos) { i_ = pos; }
  void Skip() { ++i_; }
  void SkipBlanks() {
    while (!AtEnd() && (t_[i_] == ' ' || t_[i_] == '\t')) ++i_;
  }
  // Reads 1 to 9 digits; `len` is how many there were.
  bool Number(int64_t& v, size_t& len) {
    v = 0;
    len = 0;
    while (!AtEnd() && t_[i_] >= '0' && t_[i_] <= '9') {
      if (len == 9) return false;
      v = v * 10 + (t_[i_] - '0');
      ++i_;
      ++len;
    }
    return len > 0;
  }
  // Reads AM/PM/A/P in any case; 1 for PM, 0 for AM, -1 when absent.
  int Meridiem() {
    char c = static_cast<char>(Peek() | 0x20);
    if (c != 'a' && c != 'p') return -1;
    int result = c == 'p' ? 1 : 0;
    ++i_;
    if ((Peek() | 0x20) == 'm') ++i_;
    return result;
  }

 private:
  std::string_view t_;
  size_t i_ = 0;
};

// h[:nn[:ss[.fff]]] [AM|PM]; a bare hour needs AM or PM.
bool ParseTime(DateScanner& s, double& seconds) {
  int64_t h, n = 0, sec = 0;
  size_t len;
  if (!s.Number(h, len) || len > 2) return false;
  double fraction = 0;
  bool has_minutes = false;
  if (s.Peek() == ':') {
    s.Skip();
    if (!s.Number(n, len) || len > 2) return false;
    has_minutes = true;
    if (s.Peek() == ':') {
      s.Skip();
      if (!s.Number(sec, len) || len > 2) return false;
      if (s.Peek() == '.') {
        s.Skip();
        int64_t f;
        if (!s.Number(f, len)) return false;
        fraction = static_cast<double>(f) / std::pow(10.0, static_cast<double>(len));
      }
    }
  }
  s.SkipBlanks();
  int pm = s.Meridiem();
  if (pm < 0 && !has_minutes) return false;
  if (pm >= 0) {
    if (h > 12) return false;
    if (h == 12) h = 0;
    if (pm == 1) h += 12;
  }
  if (h > 23 || n > 59 || sec > 59) return false;
  seconds = static_cast<double>(h * 3600 + n * 60 + sec) + fraction;
  return true;
}

}  // namespace

bool ParseNumber(std::u16string_view text, TextNumber& out) {
  out = TextNumber();
  std::u16string_view t = Trim(text);
  size_t i = 0;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
    out.negative = t[i] == u'-';
    ++i;
  }
  if (i < t.size() && t[i] == u'&') {
    return !out.negative && ParseRadixLiteral(t, i + 1, out);
  }
  std::string all;
  size_t int_digits = 0, frac_digits = 0;
  while (i < t.size() && (IsDigit(t[i]) || t[i] == u',')) {
    if (t[i] == u',') {
      // A thousands separator sits between digits.
      if (int_digits == 0 || i + 1 >= t.size() || !IsDigit(t[i + 1])) return false;
    } else {
      all += static_cast<char>(t[i]);
      ++int_digits;
    }
    ++i;
  }
  if (i < t.size() && t[i] == u'.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) {
      all += static_cast<char>(t[i]);
      ++frac_digits;
      ++i;
    }
  }
  if (int_digits + frac_digits == 0) return false;
  long exponent = 0;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    ++i;
    bool exp_negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
      exp_negative = t[i] == u'-';
      ++i;
    }
    if (i >= t.size() || !IsDigit(t[i])) return false;
    while (i < t.size() && IsDigit(t[i])) {
      // Past a million the value is out of every range anyway.
      if (exponent < 1000000) exponent = exponent * 10 + (t[i] - u'0');
      ++i;
    }
    if (exp_negative) exponent = -exponent;
  }
  if (i != t.size()) return false;

  exponent -= static_cast<long>(frac_digits);
  size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) {
    out.digits.clear();
    out.exponent = 0;
    return true;
  }
  all.erase(0, first);
  while (all.back() == '0') {
    all.pop_back();
    ++exponent;
  }
  out.digits = all;
  out.exponent = static_cast<int>(exponent);
  return true;
}

Conversion NumberToInteger(const TextNumber& n, __int128 lo, __int128 hi, int bits,
                           __int128& out) {
  if (n.radix_literal) {
    unsigned __int128 v = n.radix_value;
    unsigned __int128 limit = static_cast<unsigned __int128>(1) << bits;
    if (v >= limit) return Conversion::kOverflow;
    __int128 value = static_cast<__int128>(v);
    if (lo < 0 && v >= limit / 2) value -= static_cast<__int128>(limit);
    if (value < lo || value > hi) return Conversion::kOverflow;
    out = value;
    return Conversion::kOk;
  }
  const std::string& d = n.digits;
  long size = static_cast<long>(d.size());
  long int_len = size + n.exponent;
  if (d.empty() || int_len < 0) {
    out = 0;  // below 0.1 in magnitude: rounds to zero
    return Conversion::kOk;
  }
  if (int_len > 20) return Conversion::kOverflow;
  unsigned __int128 acc = 0;
  for (long k = 0; k < int_len; ++k) acc = acc * 10 + static_cast<unsigned>(k < size ? d[k] - '0' : 0);
  if (int_len < size) {
    char first = d[int_len];
    bool rest = int_len + 1 < size;  // digits carry no trailing zeros
    if (first > '5' || (first == '5' && (rest || (acc & 1) != 0))) ++acc;
  }
  __int128 value = static_cast<__int128>(acc);
  if (n.negative) value = -value;
  if (value < lo || value > hi) return Conversion::kOverflow;
  out = value;
  return Conversion::kOk;
}

Conversion NumberToDouble(const TextNumber& n, double& out) {
  if (n.radix_literal) {
    out = static_cast<double>(RadixAsSigned(n.radix_value));
    return Conversion::kOk;
  }
  if (n.digits.empty()) {
    out = 0;
    return Conversion::kOk;
  }
  // No decimal point is written, so the reading does not depend on locale.
  std::string text = (n.negative ? "-" : "") + n.digits + "e" + std::to_string(n.exponent);
  double v = std::strtod(text.c_str(), nullptr);
  if (std::isinf(v)) return Conversion::kOverflow;
  out = v;
  return Conversion::kOk;
}

Conversion NumberToCurrency(const TextNumber& n, int64_t& out) {
  __int128 v;
  if (n.radix_literal) {
    v = static_cast<__int128>(RadixAsSigned(n.radix_value)) * 10000;
    if (v < INT64_MIN || v > INT64_MAX) return Conversion::kOverflow;
  } else {
    TextNumber scaled = n;
    if (!scaled.digits.empty()) scaled.exponent += 4;
    if (NumberToInteger(scaled, INT64_MIN, INT64_MAX, 64, v) != Conversion::kOk) {
      return Conversion::kOverflow;
    }
  }
  out = static_cast<int64_t>(v);
  return Conversion::kOk;
}

std::string FormatDouble(double v) { return Shortest(v, 15, false); }

std::string FormatFloat(float v) { return Shortest(v, 7, true); }

std::string FormatCurrency(int64_t cy) {
  uint64_t magnitude = cy < 0 ? 0 - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
  std::string out = cy < 0 ? "-" : "";
  out += std::to_string(magnitude / 10000);
  unsigned frac = static_cast<unsigned>(magnitude % 10000);
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%04u", frac);
    std::string f = buf;
    while (f.back() == '0') f.pop_back();
    out += f;
  }
  return out;
}

bool FormatDate(double date, std::string& out) {
  if (!(date > kDateMin && date < kDateMax)) return false;
  // Before 1899-12-30 the fraction is still the time of day, counted
  // forward: -1.25 is 1899-12-29 06:00.
  double whole = std::trunc(date);
  auto day = static_cast<int64_t>(whole);
  auto secs = static_cast<int64_t>(std::llround(std::fabs(date - whole) * 86400.0));
  if (secs >= 86400) {
    secs -= 86400;
    day += 1;
  }
  // Rounded to the second, the last half second of 9999-12-31 would print
  // as a day that no date text reads back.
  if (day >= static_cast<int64_t>(kDateMax)) return false;
  char date_text[32] = "";
  char time_text[32] = "";
  if (day != 0) {
    int64_t y;
    unsigned m, d;
    quill::core::CivilFromDays(day + quill::core::kDateOriginDays, &y, &m, &d);
    std::snprintf(date_text, sizeof date_text, "%u/%u/%04lld", m, d, static_cast<long long>(y));
  }
  if (secs != 0 || day == 0) {
    int h = static_cast<int>(secs / 3600);
    int h12 = h % 12 == 0 ? 12 : h % 12;
    std::snprintf(time_text, sizeof time_text, "%d:%02d:%02d %s", h12,
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                  h < 12 ? "AM" : "PM");
  }
  out = date_text;
  if (date_text[0] != '\0' && time_text[0] != '\0') out += ' ';
  out += time_text;
  return true;
}

bool ParseDate(std::u16string_view text, double& out) {
  std::u16string_view t = Trim(text);
  std::string ascii;
  for (char16_t c : t) {
    if (c >= 0x80) return false;
    ascii += static_cast<char>(c);
  }
  DateScanner s(ascii);
  int64_t a;
  size_t len_a;
  if (!s.Number(a, len_a)) return false;
  char sep = s.Peek();
  int64_t serial = 0;
  double seconds = 0;
  if (sep == '/' || sep == '-') {
    s.Skip();
    int64_t b, c;
    size_t len_b, len_c;
    if (!s.Number(b, len_b) || s.Peek() != sep) return false;
    s.Skip();
    if (!s.Number(c, len_c)) return false;
    int64_t y, m, d;
    if (len_a >= 3) {
      y = a, m = b, d = c;
    } else {
      m = a, d = b, y = c;
      if (len_c <= 2) y += y < 30 ? 2000 : 1900;
    }
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 ||
        d > quill::core::DaysInMonth(y, static_cast<unsigned>(m))) {
      return false;
    }
    serial = quill::core::DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) -
             quill::core::kDateOriginDays;
    if (s.Peek() == 'T' || s.Peek() == 't') {
      s.Skip();
      if (!ParseTime(s, seconds)) return false;
    } else {
      s.SkipBlanks();
      if (!s.AtEnd() && !ParseTime(s, seconds)) return false;
    }
  } else {
    s.Rewind(0);
    if (!ParseTime(s, seconds)) return false;
  }
  s.SkipBlanks();
  if (!s.AtEnd()) return false;
  double fraction = seconds / 86400.0;
  out = serial >= 0 ? static_cast<double>(serial) + fraction : static_cast<double>(serial) - fraction;
  return true;
}

}  // namespace olert::detail

// Picture formats of numbers. A section is scanned twice: once to learn how
// many integer and fraction placeholders it has (which fixes the rounding
// and the digits to produce), once to write the digits into the
// placeholders with the literal text around them.
#include "mysql_dataset/format_float.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/number_text.h"

namespace quill {

namespace {

// Splits `format` at ";" outside quotes.
std::vector<std::string_view> SplitSections(std::string_view format) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(format.substr(start));
  return sections;
}

bool IsExponentAt(std::string_view s, size_t i) {
  return (s[i] == 'E' || s[i] == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-');
}

struct Layout {
  int int_places = 0;       // 0 and # before the decimal point
  int int_zeros = 0;        // places from the first 0 to the point
  int frac_places = 0;      // 0 and # after the point
  int frac_zeros = 0;       // places up to the last 0 after the point
  bool has_point = false;
  bool thousands = false;
  bool scientific = false;
  bool exp_plus = false;
  int exp_digits = 0;
};

Layout Analyse(std::string_view s) {
  Layout l;
  char quote = 0;
  bool seen_int_zero = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (l.scientific) {
      continue;
    } else if (IsExponentAt(s, i)) {
      l.scientific = true;
      l.exp_plus = s[i + 1] == '+';
      size_t j = i + 2;
      while (j < s.size() && s[j] == '0') {
        ++l.exp_digits;
        ++j;
      }
    } else if (c == '.') {
      l.has_point = true;
    } else if (c == ',') {
      if (!l.has_point) l.thousands = true;
    } else if (c == '0' || c == '#') {
      if (l.has_point) {
        ++l.frac_places;
        if (c == '0') l.frac_zeros = l.frac_places;
      } else {
        ++l.int_places;
        if (c == '0') seen_int_zero = true;
        if (seen_int_zero) ++l.int_zeros;
      }
    }
  }
  return l;
}

// Digits of |value| rounded half away from zero to `decimals` fraction
// digits, working on the value's 15 significant decimal digits (so 2.675
// rounds to 2.68, as the number reads): the integer digits ("" for zero)
// and exactly `decimals` fraction digits.
void FixedDigits(double magnitude, int decimals, std::string* int_digits,
                 std::string* frac_digits) {
  int_digits->clear();
  frac_digits->assign(static_cast<size_t>(decimals), '0');
  if (magnitude == 0) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", magnitude);
  std::string digits;
  const char* p = buf;
  for (; *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  int point = std::atoi(p + 1) + 1;  // digits before the decimal point
  const int keep = point + decimals;
  if (keep < 0) return;
  if (keep < static_cast<int>(digits.size())) {
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i) digits[static_cast<size_t>(i)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(0, "1");
        ++point;
      }
    }
  }
  if (point > 0) {
    while (static_cast<int>(digits.size()) < point) digits += '0';
    *int_digits = digits.substr(0, static_cast<size_t>(point));
    digits.erase(0, static_cast<size_t>(point));
  } else {
    digits.insert(0, static_cast<size_t>(-point), '0');
  }
  for (int i = 0; i < decimals && i < static_cast<int>(digits.size()); ++i) {
    (*frac_digits)[static_cast<size_t>(i)] = digits[static_cast<size_t>(i)];
  }
  size_t lead = 0;
  while (lead < int_digits->size() && (*int_digits)[lead] == '0') ++lead;
  int_digits->erase(0, lead);
}

std::string FormatSection(std::string_view s, double magnitude, bool minus) {
  const Layout l = Analyse(s);
  std::string int_digits, frac_digits, exponent;
  if (l.scientific) {
    const int lead = std::max(l.int_places, 1);
    int exp10 = 0;
    double mantissa = magnitude;
    if (magnitude != 0) {
      exp10 = static_cast<int>(std::floor(std::log10(magnitude))) - (lead - 1);
      mantissa = magnitude / std::pow(10.0, exp10);
    }
    FixedDigits(mantissa, l.frac_places, &int_digits, &frac_digits);
    if (static_cast<int>(int_digits.size()) > lead) {  // rounding carried into a new digit
      ++exp10;
      FixedDigits(magnitude / std::pow(10.0, exp10), l.frac_places, &int_digits, &frac_digits);
    }
    std::string digits = std::to_string(std::abs(exp10));
    while (static_cast<int>(digits.size()) < l.exp_digits) digits.insert(0, "0");
    exponent = (exp10 < 0 ? "-" : (l.exp_plus ? "+" : "")) + digits;
  } else {
    FixedDigits(magnitude, l.frac_places, &int_digits, &frac_digits);
  }
  // Trailing fraction zeros beyond the last 0 placeholder are dropped.
  while (static_cast<int>(frac_digits.size()) > l.frac_zeros && !frac_digits.empty() &&
         frac_digits.back() == '0') {
    frac_digits.pop_back();
  }
  while (static_cast<int>(int_digits.size()) < l.int_zeros) int_digits.insert(0, "0");

  std::string out;
  // A value that rounds to zero shows no minus.
  const bool nonzero = (int_digits + frac_digits).find_first_not_of('0') != std::string::npos;
  if (minus && nonzero) out += '-';
  const int int_count = static_cast<int>(int_digits.size());
  int int_place = 0;   // integer placeholders met so far
  int frac_place = 0;  // fraction placeholders met so far
  bool after_point = false;
  char quote = 0;
  auto put_int_digit = [&](int index) {  // index into int_digits
    out += int_digits[static_cast<size_t>(index)];
    const int right = int_count - index - 1;
    if (l.thousands && right > 0 && right % 3 == 0) out += ',';
  };
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        out += c;
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (IsExponentAt(s, i)) {
      out += c;
      out += exponent;
      i += 1;
      while (i + 1 < s.size() && s[i + 1] == '0') ++i;
    } else if (c == '.') {
      if (!after_point) {
        after_point = true;
        // Without integer placeholders the integer digits go before the point.
        if (int_place == 0) {
          for (int k = 0; k < int_count; ++k) put_int_digit(k);
        }
        if (!frac_digits.empty()) out += '.';
      }
    } else if (c == ',') {
      // Grouping is decided per section, not per position.
    } else if (c == '0' || c == '#') {
      if (!after_point) {
        // The digit this placeholder stands for, counted from the right;
        // the first placeholder also takes every digit to its left.
        const int from_right = l.int_places - int_place - 1;
        const int index = int_count - 1 - from_right;
        if (int_place == 0) {
          for (int k = 0; k < index; ++k) put_int_digit(k);
        }
        if (index >= 0) put_int_digit(index);
        ++int_place;
      } else {
        if (frac_place < static_cast<int>(frac_digits.size())) {
          out += frac_digits[static_cast<size_t>(frac_place)];
        }
        ++frac_place;
      }
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FloatToStrGeneral(double value, int precision) {
  if (precision <= 0 || precision >= 15 || !std::isfinite(value)) return FloatToStrDot(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
  return FloatToStrDot(std::strtod(buf, nullptr));
}

std::string FormatFloat(std::string_view format, double value) {
  if (!std::isfinite(value) || format.empty()) return FloatToStrDot(value);
  const std::vector<std::string_view> sections = SplitSections(format);
  std::string_view section = sections[0];
  bool minus = value < 0;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    minus = false;
  }
  if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    section = sections[2];
    minus = false;
  }
  return FormatSection(section, std::fabs(value), minus);
}

}  // namespace quill

// Number text that is the same on every host.
//
// std::to_chars and std::from_chars never consult the locale, so the
// conversions need no process-wide decimal separator and are safe on any
// thread. from_chars is more permissive than the grammar the system accepts
// (it reads "inf" and "nan"), so the text is checked against the grammar
// first and only then handed over for the correctly rounded value.
#include "base/number_text.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/errors.h"

namespace quill {

namespace {

// Significant digits of the general format.
constexpr int kGeneralPrecision = 15;
// The plain form is used for decimal exponents from kMinPlainExponent to
// kGeneralPrecision - 1 (0.0001 up to 15 integer digits).
constexpr int kMinPlainExponent = -4;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Takes an optional leading sign off `text`; true when it was a minus.
bool TakeSign(std::string_view* text) {
  if (text->empty() || (text->front() != '+' && text->front() != '-')) return false;
  const bool negative = text->front() == '-';
  text->remove_prefix(1);
  return negative;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <typename T>
bool TryStrToInteger(std::string_view text, T* out) {
  static_assert(std::numeric_limits<T>::is_signed);
  text = TrimBlanks(text);
  const bool negative = TakeSign(&text);
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;

  // The magnitude is gathered unsigned so that the most negative value,
  // whose magnitude the signed type cannot hold, is still read.
  const uint64_t max_magnitude = static_cast<uint64_t>(std::numeric_limits<T>::max()) +
                                 (negative ? 1 : 0);
  uint64_t magnitude = 0;
  for (char c : text) {
    const int digit = base == 16 ? HexDigitValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) return false;
    if (magnitude > (max_magnitude - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
      return false;
    }
    magnitude = magnitude * base + digit;
  }
  if (negative) {
    *out = magnitude == max_magnitude ? std::numeric_limits<T>::min()
                                      : static_cast<T>(-static_cast<T>(magnitude));
  } else {
    *out = static_cast<T>(magnitude);
  }
  return true;
}

}  // namespace

std::string FloatToStrDot(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";  // -0 too

  // Rounded to 15 significant digits: [-]d.dddddddddddddde<sign><digits>.
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                          std::chars_format::scientific, kGeneralPrecision - 1);
  assert(error == std::errc());
  std::string_view scientific(buffer, static_cast<size_t>(end - buffer));
  const bool negative = scientific.front() == '-';
  if (negative) scientific.remove_prefix(1);
  const size_t e = scientific.find('e');
  assert(e != std::string_view::npos && e >= 1);

  std::string digits(1, scientific[0]);
  if (e > 2) digits.append(scientific.substr(2, e - 2));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string_view exponent_text = scientific.substr(e + 1);
  const bool negative_exponent = TakeSign(&exponent_text);
  int exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  if (negative_exponent) exponent = -exponent;

  std::string result = negative ? "-" : "";
  if (exponent >= kGeneralPrecision || exponent < kMinPlainExponent) {
    result += digits[0];
    if (digits.size() > 1) {
      result += '.';
      result.append(digits, 1);
    }
    result += 'E';
    result += std::to_string(exponent);
  } else if (exponent >= 0) {
    const size_t integer_digits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integer_digits) {
      result += digits;
      result.append(integer_digits - digits.size(), '0');
    } else {
      result.append(digits, 0, integer_digits);
      result += '.';
      result.append(digits, integer_digits);
    }
  } else {
    result += "0.";
    result.append(static_cast<size_t>(-exponent - 1), '0');
    result += digits;
  }
  return result;
}

bool TryStrToFloatDot(std::string_view text, double* out) {
  text = TrimBlanks(text);
  const bool negative = TakeSign(&text);

  // digits [ "." digits ] [ ("e" | "E") [sign] digits ], at least one
  // mantissa digit.
  size_t i = 0;
  size_t first_significant = std::string_view::npos;  // index among mantissa digits
  size_t integer_digits = 0;
  size_t mantissa_digits = 0;
  auto mantissa_digit = [&](char c) {
    if (c != '0' && first_significant == std::string_view::npos) first_significant = mantissa_digits;
    ++mantissa_digits;
  };
  while (i < text.size() && IsDigit(text[i])) mantissa_digit(text[i++]);
  integer_digits = mantissa_digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) mantissa_digit(text[i++]);
  }
  if (mantissa_digits == 0) return false;
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    std::string_view rest = text.substr(i);
    const bool negative_exponent = TakeSign(&rest);
    i = text.size() - rest.size();
    const size_t exponent_start = i;
    while (i < text.size() && IsDigit(text[i])) {
      // Saturate: anything this large is out of range either way.
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (i == exponent_start) return false;
    if (negative_exponent) exponent = -exponent;
  }
  if (i != text.size()) return false;

  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // Too small to represent rounds to zero; too large is not a value.
    assert(first_significant != std::string_view::npos);
    const long long magnitude =
        static_cast<long long>(integer_digits) - static_cast<long long>(first_significant) + exponent;
    if (magnitude > 0) return false;
    value = 0;
  } else if (error != std::errc() || end != text.data() + text.size()) {
    return false;
  }
  *out = negative ? -value : value;
  return true;
}

bool IsCanonicalInteger(std::string_view text, bool wide) {
  const bool negative = !text.empty() && text[0] == '-';
  std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > (wide ? 19 : 10)) return false;
  if (digits[0] == '0') return digits.size() == 1 && !negative;
  for (const char c : digits) {
    if (!IsDigit(c)) return false;
  }
  const std::string_view limit = wide ? (negative ? "9223372036854775808" : "9223372036854775807")
                                      : (negative ? "2147483648" : "2147483647");
  return digits.size() < limit.size() || digits <= limit;
}

bool IsPlainDecimal(std::string_view text) {
  if (text.size() > 80) return false;
  size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
  const size_t start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  if (i == start) return false;
  if (i == text.size()) return true;
  if (text[i] != '.') return false;
  const size_t fraction = ++i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i > fraction && i == text.size();
}

double StrToFloatDot(std::string_view text) {
  double value = 0;
  if (!TryStrToFloatDot(text, &value)) throw EConvertError(InvalidFloatMessage(std::string(text)));
  return value;
}

bool TryStrToInt(std::string_view text, int32_t* out) { return TryStrToInteger(text, out); }

bool TryStrToInt64(std::string_view text, int64_t* out) { return TryStrToInteger(text, out); }

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, &value)) throw EConvertError(InvalidIntegerMessage(std::string(text)));
  return value;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, &value)) throw EConvertError(InvalidIntegerMessage(std::string(text)));
  return value;
}

std::string CurrToStrDot(int64_t currency) {
  // Unsigned, so that the most negative amount has a magnitude too.
  const uint64_t magnitude =
      currency < 0 ? 0 - static_cast<uint64_t>(currency) : static_cast<uint64_t>(currency);
  std::string result = currency < 0 ? "-" : "";
  result += std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    result += '.';
    result += digits;
  }
  return result;
}

}  // namespace quill

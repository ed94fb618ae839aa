// variant_text.h: the English text forms of numbers and dates used by
// VariantChangeType. Internal to the runtime.
#ifndef QUILL_PLATFORM_OLERT_VARIANT_TEXT_H_
#define QUILL_PLATFORM_OLERT_VARIANT_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace olert::detail {

// A number read from text, kept exact: value = digits * 10^exponent, or a
// hexadecimal/octal literal ("&H1F", "&O17") kept as its bit pattern.
struct TextNumber {
  bool negative = false;
  std::string digits;  // no leading zeros; empty means zero
  int exponent = 0;
  bool radix_literal = false;
  uint64_t radix_value = 0;
};

// Reads an English number: blanks around it, an optional sign, digits with
// optional "," thousands separators, an optional "." fraction and an
// optional exponent; or &H/&O literals. False for anything else.
bool ParseNumber(std::u16string_view text, TextNumber& out);

enum class Conversion { kOk, kOverflow };

// The number rounded to an integer with banker's rounding, checked against
// [lo, hi]. `bits` is the width of the target, used to read &H literals as
// two's complement for signed targets.
Conversion NumberToInteger(const TextNumber& n, __int128 lo, __int128 hi, int bits,
                           __int128& out);
// The number as a double (overflow when it is beyond the double range).
Conversion NumberToDouble(const TextNumber& n, double& out);
// The number times 10,000, rounded half to even, as currency.
Conversion NumberToCurrency(const TextNumber& n, int64_t& out);

// Shortest text that reads back as the same value, "." as decimal point,
// switching to "1E+20" style exponents as the Windows runtime does (past 15
// integer digits for doubles, 7 for floats, and below 1E-04).
std::string FormatDouble(double v);
std::string FormatFloat(float v);
// Currency with up to four decimals and no trailing zeros.
std::string FormatCurrency(int64_t cy);

// Valid DATE values lie strictly between these.
inline constexpr double kDateMin = -657435.0;  // 0100-01-01 is -657434
inline constexpr double kDateMax = 2958466.0;  // 9999-12-31 is 2958465

// "m/d/yyyy h:nn:ss AM"; only the date when the time is midnight, only the
// time when the day is 1899-12-30. False for a date out of range.
bool FormatDate(double date, std::string& out);
// Reads "m/d/yyyy", "m/d/yy", "yyyy-mm-dd", "yyyy/mm/dd", each optionally
// followed (after blanks or "T") by "h:nn[:ss[.fff]] [AM|PM]", or a time
// alone. False for anything else or an impossible date or time.
bool ParseDate(std::u16string_view text, double& out);

}  // namespace olert::detail

#endif  // QUILL_PLATFORM_OLERT_VARIANT_TEXT_H_

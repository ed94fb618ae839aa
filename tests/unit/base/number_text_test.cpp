// Locale-independent number text: the general float format, the float and
// integer readers with their rejections and messages, and currency text.
#include "base/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <random>
#include <string>
#include <utility>

#include "base/errors.h"

namespace quill {
namespace {

TEST(FloatToStrDot, GeneralFormat) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0"}, {-0.0, "0"}, {1.5, "1.5"}, {-1.5, "-1.5"}, {3, "3"}, {100, "100"},
      {0.1, "0.1"}, {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"}, {-98765.4321, "-98765.4321"},
      // Up to 15 integer digits stay plain, more use the exponent form.
      {999999999999999, "999999999999999"}, {1e15, "1E15"},
      {999999999999999.9, "1E15"},  // rounding to 15 digits reaches 1E15
      {1e20, "1E20"}, {123456789012345678.0, "1.23456789012346E17"}, {-2.5e100, "-2.5E100"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      // Down to 0.0001 stays plain, smaller uses the exponent form.
      {0.0001, "0.0001"}, {-0.000123456789, "-0.000123456789"}, {0.00001, "1E-5"},
      {0.00009999, "9.999E-5"}, {1.5e-7, "1.5E-7"}, {5e-324, "4.94065645841247E-324"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FloatToStrDot(value), text) << text;
}

// What is written reads back as the value to 15 significant digits.
TEST(FloatToStrDot, ReadsBack) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    const std::string text = FloatToStrDot(value);
    double back = 0;
    ASSERT_TRUE(TryStrToFloatDot(text, &back)) << text;
    // Half a unit in the 15th digit plus half a unit of the double read back.
    ASSERT_LE(std::fabs(back - value), std::fabs(value) * 5.2e-15) << text;
  }
}

TEST(TryStrToFloatDot, Accepts) {
  const std::pair<const char*, double> cases[] = {
      {"1.5", 1.5}, {" 1.5 ", 1.5}, {"\t-2\t", -2}, {"+3", 3}, {"1.", 1}, {".5", 0.5},
      {"-.5", -0.5}, {"00012", 12}, {"1e3", 1000}, {"1E-3", 0.001}, {"1.5e+2", 150},
      {"1e-400", 0}, {"123456789012345678901234567890", 1.2345678901234568e29},
      {"1.7976931348623157e308", 1.7976931348623157e308},
  };
  for (const auto& [text, expected] : cases) {
    double value = -999;
    EXPECT_TRUE(TryStrToFloatDot(text, &value)) << text;
    EXPECT_EQ(value, expected) << text;
    EXPECT_EQ(StrToFloatDot(text), expected) << text;
  }
  EXPECT_TRUE(std::signbit(StrToFloatDot("-0")));
}

TEST(TryStrToFloatDot, RejectsAndLeavesTheOutputAlone) {
  const char* const texts[] = {
      "",     " ",    "abc",  "1,5",   "1.5x", "x1.5", "nan", "NaN", "inf", "-inf", "infinity",
      "0x1F", "$1F",  "1e",   "1e+",   ".",    "-",    "+",   "--1", "+-1", "- 1",  "1 2",
      "1..2", "e5",   ".e5",  "1e400", "-1e400", "1e99999999999999999999", "1_000", "\n1"};
  for (const char* text : texts) {
    double value = 42;
    EXPECT_FALSE(TryStrToFloatDot(text, &value)) << "'" << text << "'";
    EXPECT_EQ(value, 42);
  }
  double value = 42;
  EXPECT_FALSE(TryStrToFloatDot(std::string_view("1\0", 2), &value));
  try {
    StrToFloatDot("1,5");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
  }
}

// The host's number punctuation never leaks into the conversions.
TEST(NumberText, IgnoresTheProcessLocale) {
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
  }
  double value = 0;
  EXPECT_EQ(StrToFloatDot("1.5"), 1.5);
  EXPECT_FALSE(TryStrToFloatDot("1,5", &value));
  EXPECT_EQ(FloatToStrDot(1234.5), "1234.5");
  std::setlocale(LC_NUMERIC, "C");
  std::locale::global(previous);
}

TEST(TryStrToInt, AcceptsDecimalAndHex) {
  const std::pair<const char*, int32_t> cases[] = {
      {"0", 0}, {" 42 ", 42}, {"\t-42", -42}, {"+42", 42}, {"007", 7}, {"$1F", 31},
      {"$1f", 31}, {"0x1F", 31}, {"0X1f", 31}, {"-$1F", -31}, {"+0x10", 16},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"$7FFFFFFF", 2147483647},
      {"-$80000000", -2147483647 - 1}, {"00000000000000000000001", 1},
  };
  for (const auto& [text, expected] : cases) {
    int32_t value = -1;
    int64_t wide = -1;
    EXPECT_TRUE(TryStrToInt(text, &value)) << text;
    EXPECT_TRUE(TryStrToInt64(text, &wide)) << text;
    EXPECT_EQ(value, expected) << text;
    EXPECT_EQ(wide, expected) << text;
  }
}

TEST(TryStrToInt, RejectsAndLeavesTheOutputAlone) {
  const char* const texts[] = {"",     " ",     "abc",  "12a", "1.5", "1e3", "- 1", "--1",
                               "+",    "0x",    "$",    "$-1", "0x-1", "$$1", "$G",  "1 2",
                               "2147483648", "-2147483649", "$80000000", "$FFFFFFFF"};
  for (const char* text : texts) {
    int32_t value = 5;
    EXPECT_FALSE(TryStrToInt(text, &value)) << "'" << text << "'";
    EXPECT_EQ(value, 5);
  }
  int64_t wide = 3;
  EXPECT_TRUE(TryStrToInt64("-9223372036854775808", &wide));
  EXPECT_EQ(wide, std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(TryStrToInt64("$7FFFFFFFFFFFFFFF", &wide));
  EXPECT_EQ(wide, std::numeric_limits<int64_t>::max());
  for (const char* text : {"9223372036854775808", "-9223372036854775809", "18446744073709551616",
                           "$8000000000000000"}) {
    EXPECT_FALSE(TryStrToInt64(text, &wide)) << text;
  }
  EXPECT_EQ(wide, std::numeric_limits<int64_t>::max());
}

TEST(StrToInt, RaisesTheConversionMessageWithTheOriginalText) {
  try {
    StrToInt(" abc");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "' abc' is not a valid integer value");
  }
  EXPECT_EQ(StrToInt64("$10"), 16);
  EXPECT_THROW(StrToInt64("99999999999999999999"), EConvertError);
}

TEST(CurrToStrDot, Table) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"}, {30000, "3"}, {125000, "12.5"}, {-125000, "-12.5"}, {1, "0.0001"},
      {-1, "-0.0001"}, {10, "0.001"}, {-5000, "-0.5"}, {10000000, "1000"},
      {123456789, "12345.6789"},
      {std::numeric_limits<int64_t>::max(), "922337203685477.5807"},
      {std::numeric_limits<int64_t>::min(), "-922337203685477.5808"},
  };
  for (const auto& [currency, text] : cases) EXPECT_EQ(CurrToStrDot(currency), text) << currency;
}

}  // namespace
}  // namespace quill

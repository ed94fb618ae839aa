// Picture formats of numeric fields.
#include <gtest/gtest.h>

#include "mysql_dataset/format_float.h"

namespace quill {
namespace {

TEST(FormatFloat, PlaceholdersGroupingAndRounding) {
  EXPECT_EQ(FormatFloat("0.00", 3.14159), "3.14");
  EXPECT_EQ(FormatFloat("0.0", 3.25), "3.3");  // half away from zero
  EXPECT_EQ(FormatFloat("0.00", 2.675), "2.68");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1,234,567.89");
  EXPECT_EQ(FormatFloat("#,##0", 999.5), "1,000");
  EXPECT_EQ(FormatFloat("000", 7), "007");
  EXPECT_EQ(FormatFloat("#.##", 0.5), ".5");
  EXPECT_EQ(FormatFloat("0.##", 2), "2");
  EXPECT_EQ(FormatFloat("#", 0), "");
  EXPECT_EQ(FormatFloat("0", 123456), "123456");
  EXPECT_EQ(FormatFloat(".00", 12.5), "12.50");
}

TEST(FormatFloat, SectionsLiteralsAndSigns) {
  EXPECT_EQ(FormatFloat("0.0;(0.0);zero", -1.25), "(1.3)");
  EXPECT_EQ(FormatFloat("0.0;(0.0);zero", 0), "zero");
  EXPECT_EQ(FormatFloat("0.0", -1.25), "-1.3");
  EXPECT_EQ(FormatFloat("0.0", -0.01), "0.0");
  EXPECT_EQ(FormatFloat("\"$\"#,##0.00", 5), "$5.00");
  EXPECT_EQ(FormatFloat("0 'kg'", 3), "3 kg");
}

TEST(FormatFloat, ScientificNotation) {
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1.23E+04");
  EXPECT_EQ(FormatFloat("0.0E-0", 0.00015), "1.5E-4");
  EXPECT_EQ(FormatFloat("0.0E+0", 9.96), "1.0E+1");
}

TEST(FormatFloat, EmptyFormatAndOddValuesUseTheGeneralForm) {
  EXPECT_EQ(FormatFloat("", 1.5), "1.5");
  EXPECT_EQ(FloatToStrGeneral(1.0 / 3.0, 4), "0.3333");
  EXPECT_EQ(FloatToStrGeneral(2.5, 15), "2.5");
}

}  // namespace
}  // namespace quill

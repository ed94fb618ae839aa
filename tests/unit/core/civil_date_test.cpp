// The calendar: fixed points, the leap-year rule, and that counting days
// and reading dates back agree over the whole range the system uses.
#include "platform/core/civil_date.h"

#include <gtest/gtest.h>

namespace quill::core {
namespace {

TEST(CivilDate, CountsDaysOnTheProlepticGregorianCalendar) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1899, 12, 30), -25569);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);
  EXPECT_EQ(DaysFromCivil(1900, 3, 1) - DaysFromCivil(1900, 2, 28), 1);
  EXPECT_EQ(DaysFromCivil(1, 1, 1), -719162);
  EXPECT_EQ(DaysFromCivil(0, 12, 31), -719163);  // year 0 is a leap year
  for (int64_t y : {0, 4, 400, 2000, -4, -400}) EXPECT_TRUE(IsLeapYear(y)) << y;
  for (int64_t y : {1, 100, 1900, 2100, -1, -100}) EXPECT_FALSE(IsLeapYear(y)) << y;
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2001, 4), 30);
  EXPECT_EQ(DaysInMonth(2001, 0), 0);
  EXPECT_EQ(DaysInMonth(2001, 13), 0);

  // Day by day from year -100 to 10000: each day is the one after the last.
  int64_t y = -101;
  unsigned m = 12, d = 31;
  for (int64_t days = DaysFromCivil(-100, 1, 1); days <= DaysFromCivil(10000, 12, 31); ++days) {
    int64_t ny;
    unsigned nm, nd;
    CivilFromDays(days, &ny, &nm, &nd);
    const bool next_day = ny == y && nm == m && nd == d + 1;
    const bool next_month = ny == y && nm == m + 1 && nd == 1 && d == unsigned(DaysInMonth(y, m));
    const bool next_year = ny == y + 1 && nm == 1 && nd == 1 && m == 12 && d == 31;
    ASSERT_TRUE(next_day || next_month || next_year) << days;
    ASSERT_EQ(DaysFromCivil(ny, nm, nd), days);
    y = ny, m = nm, d = nd;
  }
}

}  // namespace
}  // namespace quill::core

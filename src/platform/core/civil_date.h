// The one civil-date calendar of the system: the proleptic Gregorian
// calendar as a count of days, with the 400-year cycle worked out in closed
// form, so that every year (negative ones included) converts without tables
// or loops. Callers put their own origin on top: the automation DATE counts
// from 1899-12-30 (kDateOriginDays), the shared layer's day numbers from
// 0001-01-01.
#ifndef QUILL_PLATFORM_CORE_CIVIL_DATE_H_
#define QUILL_PLATFORM_CORE_CIVIL_DATE_H_

#include <cstdint>

namespace quill::core {

constexpr bool IsLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// Days of month `m` of year `y`; 0 when `m` is not 1..12.
constexpr int DaysInMonth(int64_t y, unsigned m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to y-m-d (negative before it).
// REQUIRES: 1 <= m <= 12 and 1 <= d <= 31; a day past the month's end counts
// on into the next month.
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;                                     // [0, 399]
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
  return era * 146097 + doe - 719468;
}

// The calendar date `days` days after 1970-01-01 (before it when negative).
constexpr void CivilFromDays(int64_t days, int64_t* y, unsigned* m, unsigned* d) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;                                       // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  *d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

// 1899-12-30, day 0 of the automation DATE, counted from 1970-01-01.
inline constexpr int64_t kDateOriginDays = DaysFromCivil(1899, 12, 30);
static_assert(kDateOriginDays == -25569);

}  // namespace quill::core

#endif  // QUILL_PLATFORM_CORE_CIVIL_DATE_H_

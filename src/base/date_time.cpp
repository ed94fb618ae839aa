// Calendar arithmetic for TDateTime and TTimeStamp.
//
// Everything goes through the timestamp pair: a TDateTime is split into a
// day number and the time of day rounded to the nearest millisecond, and the
// calendar date is derived from the day number with the 400-year cycle of
// the proleptic Gregorian calendar. Rounding once, at the split, is what
// keeps 0.5 minus a representation error at 12:00:00.000 instead of
// 11:59:59.999, and lets a time that rounds up to midnight carry into the
// next day.
#include "base/date_time.h"

#include <cassert>
#include <cmath>

namespace quill {

namespace {

constexpr int32_t kDaysPer400Years = 146097;
constexpr int32_t kDaysPer100Years = 36524;
constexpr int32_t kDaysPer4Years = 1461;
constexpr int32_t kMaxDayNumber = 3652059;  // 9999-12-31

constexpr int kCumulativeDays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

// REQUIRES: 1 <= day_number <= kMaxDayNumber.
DateParts DayNumberToParts(int32_t day_number) {
  assert(day_number >= 1 && day_number <= kMaxDayNumber);
  int32_t d = day_number - 1;
  const int32_t n400 = d / kDaysPer400Years;
  d %= kDaysPer400Years;
  int32_t n100 = d / kDaysPer100Years;
  d %= kDaysPer100Years;
  if (n100 == 4) {  // the last day of a 400-year cycle
    n100 = 3;
    d += kDaysPer100Years;
  }
  const int32_t n4 = d / kDaysPer4Years;
  d %= kDaysPer4Years;
  int32_t n1 = d / 365;
  d %= 365;
  if (n1 == 4) {  // the last day of a leap year
    n1 = 3;
    d += 365;
  }
  DateParts parts;
  parts.Year = n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1;
  const int(&cumulative)[13] = kCumulativeDays[IsLeapYear(parts.Year) ? 1 : 0];
  int month = 1;
  while (d >= cumulative[month]) ++month;
  parts.Month = month;
  parts.Day = d - cumulative[month - 1] + 1;
  // 0001-01-01 was a Monday (2 when Sunday is 1).
  parts.DayOfWeek = day_number % 7 + 1;
  assert(IsValidDate(parts.Year, parts.Month, parts.Day));
  return parts;
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  const int(&cumulative)[13] = kCumulativeDays[IsLeapYear(year) ? 1 : 0];
  return cumulative[month] - cumulative[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int msec) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         msec >= 0 && msec < 1000;
}

int32_t DateToDayNumber(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) return 0;
  const int32_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 +
         kCumulativeDays[IsLeapYear(year) ? 1 : 0][month - 1] + day;
}

bool TryEncodeDate(int year, int month, int day, TDateTime* out) {
  if (!IsValidDate(year, month, day)) return false;
  *out = static_cast<TDateTime>(DateToDayNumber(year, month, day) - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime* out) {
  if (!IsValidTime(hour, minute, second, msec)) return false;
  const int32_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
  *out = static_cast<TDateTime>(ms) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  [[maybe_unused]] const bool ok = TryEncodeDate(year, month, day, &result);
  assert(ok);
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime result = 0;
  [[maybe_unused]] const bool ok = TryEncodeTime(hour, minute, second, msec, &result);
  assert(ok);
  return result;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime* out) {
  if (!IsValidDate(year, month, day) || !IsValidTime(hour, minute, second, msec)) return false;
  const TTimeStamp stamp{((hour * 60 + minute) * 60 + second) * 1000 + msec,
                         DateToDayNumber(year, month, day)};
  *out = TimeStampToDateTime(stamp);
  return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec) {
  TDateTime result = 0;
  [[maybe_unused]] const bool ok =
      TryEncodeDateTime(year, month, day, hour, minute, second, msec, &result);
  assert(ok);
  return result;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  // The bounds keep the conversions below within int32 and reject NaN.
  if (!(value > -kDateDelta - 1.0 && value < kMaxDayNumber - kDateDelta + 1.0)) return {};
  double whole = 0;
  const double fraction = std::modf(value, &whole);
  int64_t day = static_cast<int64_t>(whole) + kDateDelta;
  int64_t ms = std::llround(std::fabs(fraction) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {  // rounded up to the next midnight
    ms -= kMSecsPerDay;
    ++day;
  }
  if (day < 0 || day > kMaxDayNumber) return {};
  return TTimeStamp{static_cast<int32_t>(ms), static_cast<int32_t>(day)};
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  const TDateTime date = static_cast<TDateTime>(stamp.Date) - kDateDelta;
  const TDateTime time = static_cast<TDateTime>(stamp.Time) / kMSecsPerDay;
  // Before the origin the fraction still counts forward from midnight.
  return date < 0 ? date - time : date + time;
}

DateParts DecodeDate(TDateTime value) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  if (stamp.Date < 1) return {};
  return DayNumberToParts(stamp.Date);
}

TimeParts DecodeTime(TDateTime value) {
  int32_t ms = DateTimeToTimeStamp(value).Time;
  TimeParts parts;
  parts.MSec = ms % 1000;
  ms /= 1000;
  parts.Second = ms % 60;
  ms /= 60;
  parts.Minute = ms % 60;
  parts.Hour = ms / 60;
  return parts;
}

}  // namespace quill

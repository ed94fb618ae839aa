// Calendar arithmetic for TDateTime and TTimeStamp.
//
// Everything goes through the timestamp pair: a TDateTime is split into a
// day number and the time of day rounded to the nearest millisecond, and the
// calendar date is derived from the day number by the system's one calendar
// (platform/core/civil_date.h). Rounding once, at the split, is what keeps
// 0.5 minus a representation error at 12:00:00.000 instead of
// 11:59:59.999, and lets a time that rounds up to midnight carry into the
// next day.
#include "base/date_time.h"

#include <cassert>
#include <cmath>

#include "platform/core/civil_date.h"

namespace quill {

namespace {

constexpr int32_t kMaxDayNumber = 3652059;  // 9999-12-31

// Day number 0 (the day before 0001-01-01), counted from 1970-01-01.
constexpr int64_t kDayZero = core::DaysFromCivil(1, 1, 1) - 1;
static_assert(core::kDateOriginDays - kDayZero == kDateDelta);
static_assert(core::DaysFromCivil(9999, 12, 31) - kDayZero == kMaxDayNumber);

// REQUIRES: 1 <= day_number <= kMaxDayNumber.
DateParts DayNumberToParts(int32_t day_number) {
  assert(day_number >= 1 && day_number <= kMaxDayNumber);
  int64_t year = 0;
  unsigned month = 0, day = 0;
  core::CivilFromDays(day_number + kDayZero, &year, &month, &day);
  DateParts parts;
  parts.Year = static_cast<int>(year);
  parts.Month = static_cast<int>(month);
  parts.Day = static_cast<int>(day);
  // 0001-01-01 was a Monday (2 when Sunday is 1).
  parts.DayOfWeek = day_number % 7 + 1;
  assert(IsValidDate(parts.Year, parts.Month, parts.Day));
  return parts;
}

}  // namespace

bool IsLeapYear(int year) { return core::IsLeapYear(year); }

int DaysInMonth(int year, int month) {
  return month < 1 ? 0 : core::DaysInMonth(year, static_cast<unsigned>(month));
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
  return static_cast<int32_t>(
      core::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      kDayZero);
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
  // Every date text of a page comes through here, so the whole part and the
  // rounding are done without library calls: the cast truncates toward zero
  // as modf does, value - whole is exact, and the milliseconds round half
  // away from zero as llround does.
  const int64_t whole = static_cast<int64_t>(value);
  const double scaled = std::fabs(value - static_cast<double>(whole)) * kMSecsPerDay;
  int64_t day = whole + kDateDelta;
  int64_t ms = static_cast<int64_t>(scaled);
  if (scaled - static_cast<double>(ms) >= 0.5) ++ms;
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

// Date-time values of the system.
//
// A TDateTime is the automation DATE: days since 1899-12-30 at midnight, the
// fraction being the time of day. Before that day the fraction still counts
// forward from midnight as an absolute value (-1.25 is 1899-12-29 06:00).
//
// A TTimeStamp is the pair the SQL text readers produce: the time of day in
// milliseconds since midnight and the date as a day number on the proleptic
// Gregorian calendar with 0001-01-01 as day 1. The zero pair means "no valid
// value".
#pragma once

#include <cstdint>

namespace quill {

using TDateTime = double;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // day number, 0001-01-01 is 1; 0 is "no date"
  bool IsZero() const { return Time == 0 && Date == 0; }
  bool operator==(const TTimeStamp&) const = default;
};

// Day number of 1899-12-30, the TDateTime origin.
inline constexpr int32_t kDateDelta = 693594;
inline constexpr int32_t kMSecsPerDay = 86400000;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// True when year 1..9999, month 1..12 and day within the month.
bool IsValidDate(int year, int month, int day);
// True when hour < 24, minute < 60, second < 60 and msec < 1000.
bool IsValidTime(int hour, int minute, int second, int msec);

// Encoders return false (and leave *out alone) for values that do not form a
// valid date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime* out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime* out);
// REQUIRES: the arguments form a valid date / time (asserted).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);

// Date and time together. Unlike EncodeDate + EncodeTime this is also right
// before 1899-12-30, where the time of day must be subtracted.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime* out);
// REQUIRES: the arguments form a valid date and time (asserted).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec);

struct DateParts {
  int Year = 0, Month = 0, Day = 0, DayOfWeek = 0;  // DayOfWeek 1 = Sunday
};
struct TimeParts {
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};
// Split a TDateTime into calendar date and time of day, the time rounded to
// the nearest millisecond (a time that rounds up to 24:00 moves to the next
// day). DecodeDate gives the zero parts for values outside the years
// 1..9999; DecodeTime gives the time of day whenever DateTimeToTimeStamp
// gives a pair, and zero parts otherwise.
DateParts DecodeDate(TDateTime value);
TimeParts DecodeTime(TDateTime value);

// Day number (0001-01-01 = 1) of a date; 0 when the date is not valid.
int32_t DateToDayNumber(int year, int month, int day);

// The day is the whole part of `value` plus kDateDelta, the time its
// fraction taken as an absolute value and rounded to the nearest
// millisecond. Day numbers 0 ("no date") to 9999-12-31 are kept, so that a
// time-only pair survives the round trip; anything else (NaN, infinities,
// values beyond those days) gives the zero pair.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// The inverse, with the same offset for every day number: the zero pair
// gives -693594.0 (the day before 0001-01-01, not a calendar date), and
// {t, 0} gives -693594 - t / kMSecsPerDay. Callers that want "no value" to
// become something else test IsZero() first.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

}  // namespace quill

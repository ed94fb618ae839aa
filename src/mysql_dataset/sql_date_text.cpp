// Dates and times as the server writes them, read with the sql_parser's
// text readers and written with fixed-width numbers.
#include "mysql_dataset/sql_date_text.h"

#include <cstdio>

#include "platform/core/civil_date.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

TDateTime StampToDateTime(const TTimeStamp& stamp) {
  if (stamp.IsZero()) return 0;
  if (stamp.Date == 0) return static_cast<double>(stamp.Time) / kMSecsPerDay;
  // TimeStampToDateTime, inline for the cells of a page.
  const TDateTime date = static_cast<TDateTime>(stamp.Date) - kDateDelta;
  const TDateTime time = static_cast<TDateTime>(stamp.Time) / kMSecsPerDay;
  return date < 0 ? date - time : date + time;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string Print(const char* format, int a, int b, int c, int d = 0, int e = 0, int f = 0) {
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, format, a, b, c, d, e, f);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// The server writes dates and times in one fixed form; those texts are
// read here directly, with the very results of the general readers (which
// split the text into words first), and anything else goes to them.
bool TwoDigits(std::string_view text, size_t at, int* out) {
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  *out = (a - '0') * 10 + (b - '0');
  return true;
}

int OneIfZero(int value) { return value == 0 ? 1 : value; }

// Day number 0 (the day before 0001-01-01), counted from 1970-01-01.
constexpr int64_t kDayZero = core::DaysFromCivil(1, 1, 1) - 1;

// The numbers of "yyyy-mm-dd" at the start of `text` (which has at least
// 10 characters), as written.
bool DateNumbers(std::string_view text, int* year, int* month, int* day) {
  int century;
  if (text[4] != '-' || text[7] != '-' || !TwoDigits(text, 0, &century) ||
      !TwoDigits(text, 2, year) || !TwoDigits(text, 5, month) || !TwoDigits(text, 8, day)) {
    return false;
  }
  *year += century * 100;
  return true;
}

// The numbers of "hh:mm:ss" at `at` of `text` (which has at least at + 8
// characters).
bool TimeNumbers(std::string_view text, size_t at, int* hour, int* minute, int* second) {
  return text[at + 2] == ':' && text[at + 5] == ':' && TwoDigits(text, at, hour) &&
         TwoDigits(text, at + 3, minute) && TwoDigits(text, at + 6, second);
}

// The day number of a date, 0 for none. Every date cell of a page comes
// through here: the calendar inline.
int32_t DayNumber(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > core::DaysInMonth(year, static_cast<unsigned>(month))) {
    return 0;
  }
  return static_cast<int32_t>(
      core::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDayZero);
}

// "yyyy-mm-dd" at the start of `text` (which has at least 10 characters).
bool ServerDate(std::string_view text, int32_t* date) {
  int year, month, day;
  if (!DateNumbers(text, &year, &month, &day)) return false;
  // A part of 0 reads as 1, and an invalid date as no date, as in ParseDate.
  *date = DayNumber(OneIfZero(year), OneIfZero(month), OneIfZero(day));
  return true;
}

// "hh:mm:ss" at `at` of `text` (which has at least at + 8 characters).
bool ServerTime(std::string_view text, size_t at, int32_t* time) {
  int hour, minute, second;
  if (!TimeNumbers(text, at, &hour, &minute, &second)) return false;
  // An invalid time reads as midnight, as in ParseTime.
  *time = IsValidTime(hour, minute, second, 0) ? ((hour * 60 + minute) * 60 + second) * 1000 : 0;
  return true;
}

}  // namespace

TDateTime SqlTextToDate(std::string_view text) {
  int32_t date;
  if (text.size() == 10 && ServerDate(text, &date)) return StampToDateTime(TTimeStamp{0, date});
  return StampToDateTime(ParseDate(text));
}
TDateTime SqlTextToTime(std::string_view text) {
  int32_t time;
  if (text.size() == 8 && ServerTime(text, 0, &time)) return StampToDateTime(TTimeStamp{time, 0});
  return StampToDateTime(ParseTime(text));
}
TDateTime SqlTextToDateTime(std::string_view text) {
  int32_t date, time;
  if (text.size() == 19 && text[10] == ' ' && ServerDate(text, &date) &&
      ServerTime(text, 11, &time)) {
    return StampToDateTime(TTimeStamp{time, date});
  }
  return StampToDateTime(ParseDateTime(text));
}
TDateTime SqlTextToTimestamp(std::string_view text) {
  return AllDigits(text) ? StampToDateTime(ParseTimestamp14(text)) : SqlTextToDateTime(text);
}

bool ServerDateParts(std::string_view text, DateParts* date) {
  int year, month, day;
  if (text.size() != 10 || !DateNumbers(text, &year, &month, &day) || year == 0) return false;
  const int32_t day_number = DayNumber(year, month, day);
  if (day_number == 0) return false;
  // Day 1, 0001-01-01, was a Monday (2 when Sunday is 1).
  *date = DateParts{year, month, day, day_number % 7 + 1};
  return true;
}

bool ServerTimeParts(std::string_view text, TimeParts* time) {
  int hour, minute, second;
  if (text.size() != 8 || !TimeNumbers(text, 0, &hour, &minute, &second) ||
      !IsValidTime(hour, minute, second, 0)) {
    return false;
  }
  *time = TimeParts{hour, minute, second, 0};
  return true;
}

std::string DateToSqlText(TDateTime value) {
  const DateParts d = DecodeDate(value);
  return Print("%04d-%02d-%02d", d.Year, d.Month, d.Day);
}

std::string TimeToSqlText(TDateTime value) {
  const TimeParts t = DecodeTime(value);
  return Print("%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
}

std::string DateTimeToSqlText(TDateTime value) {
  return DateToSqlText(value) + " " + TimeToSqlText(value);
}

std::string DateTimeToTimestamp14(TDateTime value) {
  const DateParts d = DecodeDate(value);
  const TimeParts t = DecodeTime(value);
  return Print("%04d%02d%02d%02d%02d%02d", d.Year, d.Month, d.Day, t.Hour, t.Minute, t.Second);
}

}  // namespace quill

// Dates and times as the server writes them, read with the sql_parser's
// text readers and written with fixed-width numbers.
#include "mysql_dataset/sql_date_text.h"

#include <cstdio>

#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

TDateTime StampToDateTime(const TTimeStamp& stamp) {
  if (stamp.IsZero()) return 0;
  if (stamp.Date == 0) return static_cast<double>(stamp.Time) / kMSecsPerDay;
  return TimeStampToDateTime(stamp);
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

}  // namespace

TDateTime SqlTextToDate(std::string_view text) { return StampToDateTime(ParseDate(text)); }
TDateTime SqlTextToTime(std::string_view text) { return StampToDateTime(ParseTime(text)); }
TDateTime SqlTextToDateTime(std::string_view text) {
  return StampToDateTime(ParseDateTime(text));
}
TDateTime SqlTextToTimestamp(std::string_view text) {
  return AllDigits(text) ? StampToDateTime(ParseTimestamp14(text)) : SqlTextToDateTime(text);
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

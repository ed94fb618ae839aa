// Calendar arithmetic: validity, encoding and decoding across the whole
// calendar, the negative-date convention and the timestamp pair.
#include "base/date_time.h"

#include <gtest/gtest.h>

#include <limits>

namespace quill {
namespace {

constexpr int32_t kLastDay = 3652059;  // 9999-12-31
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Calendar, LeapYearsAndMonthLengths) {
  for (int year : {4, 400, 1600, 2000, 2004, 9996}) EXPECT_TRUE(IsLeapYear(year)) << year;
  for (int year : {1, 100, 1900, 2001, 2100, 9999}) EXPECT_FALSE(IsLeapYear(year)) << year;
  EXPECT_EQ(DaysInMonth(2001, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2001, 4), 30);
  EXPECT_EQ(DaysInMonth(2001, 12), 31);
  EXPECT_EQ(DaysInMonth(2001, 0), 0);
  EXPECT_EQ(DaysInMonth(2001, 13), 0);
}

TEST(Calendar, InvalidDatesAndTimesAreRefusedAndLeaveTheOutputAlone) {
  const int dates[][3] = {{0, 1, 1},    {10000, 1, 1}, {-1, 1, 1},   {2001, 2, 29},
                          {1900, 2, 29}, {2001, 4, 31}, {2001, 13, 1}, {2001, 0, 1},
                          {2001, 1, 0}, {2001, 1, 32}, {2001, -1, 1}};
  for (const auto& d : dates) {
    TDateTime out = 123;
    EXPECT_FALSE(TryEncodeDate(d[0], d[1], d[2], &out)) << d[0] << "-" << d[1] << "-" << d[2];
    EXPECT_FALSE(TryEncodeDateTime(d[0], d[1], d[2], 0, 0, 0, 0, &out));
    EXPECT_EQ(out, 123);
    EXPECT_EQ(DateToDayNumber(d[0], d[1], d[2]), 0);
  }
  const int times[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000},
                          {-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, -1}};
  for (const auto& t : times) {
    TDateTime out = 7;
    EXPECT_FALSE(TryEncodeTime(t[0], t[1], t[2], t[3], &out)) << t[0] << ":" << t[1] << ":" << t[2];
    EXPECT_FALSE(TryEncodeDateTime(2001, 1, 1, t[0], t[1], t[2], t[3], &out));
    EXPECT_EQ(out, 7);
  }
  EXPECT_TRUE(IsValidDate(1, 1, 1));
  EXPECT_TRUE(IsValidDate(9999, 12, 31));
  EXPECT_TRUE(IsValidTime(23, 59, 59, 999));
}

TEST(Encode, KnownDates) {
  struct Case {
    int y, m, d;
    double value;
  };
  const Case cases[] = {{1899, 12, 30, 0},    {1899, 12, 29, -1},    {1900, 1, 1, 2},
                        {1900, 3, 1, 61},     {2000, 3, 1, 36586},   {1, 1, 1, -693593},
                        {9999, 12, 31, 2958465}};
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.value) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(DateToDayNumber(c.y, c.m, c.d), c.value + kDateDelta);
  }
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);  // time counts forward
  EXPECT_EQ(EncodeDateTime(1, 1, 1, 18, 0, 0, 0), -693593.75);
}

// Every day of the calendar decodes to a valid date with its own day number;
// consecutive days are consecutive dates and the weekday advances by one.
TEST(Decode, EveryDayRoundTrips) {
  DateParts previous = DecodeDate(1 - kDateDelta);
  ASSERT_EQ(previous.Year * 10000 + previous.Month * 100 + previous.Day, 10101);
  ASSERT_EQ(previous.DayOfWeek, 2);       // 0001-01-01 was a Monday
  ASSERT_EQ(DecodeDate(0).DayOfWeek, 7);  // 1899-12-30 a Saturday
  for (int32_t day = 2; day <= kLastDay; ++day) {
    const DateParts p = DecodeDate(day - kDateDelta);
    ASSERT_EQ(DateToDayNumber(p.Year, p.Month, p.Day), day);
    ASSERT_EQ(p.DayOfWeek, previous.DayOfWeek % 7 + 1) << day;
    const bool same_month = p.Year == previous.Year && p.Month == previous.Month;
    const bool next_month = p.Day == 1 && previous.Day == DaysInMonth(previous.Year, previous.Month) &&
                            (p.Year * 12 + p.Month == previous.Year * 12 + previous.Month + 1);
    ASSERT_TRUE((same_month && p.Day == previous.Day + 1) || next_month) << day;
    previous = p;
  }
  EXPECT_EQ(previous.Year * 10000 + previous.Month * 100 + previous.Day, 99991231);
}

// The time of day survives encoding at the origin, on both sides of it and
// at the ends of the calendar, where a double has least room for it.
TEST(Decode, TimesRoundTrip) {
  const int dates[][3] = {{1899, 12, 30}, {1899, 12, 29}, {1, 1, 1}, {9999, 12, 31}};
  for (const auto& date : dates) {
    for (int second = 0; second < 86400; second += 7) {
      for (int ms : {0, 1, 499, 500, 999}) {
        const int h = second / 3600, n = second / 60 % 60, s = second % 60;
        const TDateTime value = EncodeDateTime(date[0], date[1], date[2], h, n, s, ms);
        const TimeParts t = DecodeTime(value);
        ASSERT_EQ(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.MSec, second * 1000 + ms)
            << value;
        ASSERT_EQ(DecodeDate(value).Day, date[2]) << value;
      }
    }
  }
}

TEST(Decode, RoundsToTheNearestMillisecondAndCarries) {
  struct Case {
    double value;
    int day, hour, msec;
  };
  const double tiny = 1e-11;  // below a millisecond (1.16e-8 days)
  const Case cases[] = {
      {-1.25, 29, 6, 0},
      {-0.25, 30, 6, 0},  // whole part 0: the origin day
      {0.5 - tiny, 30, 12, 0},
      {0.5 + tiny, 30, 12, 0},
      {EncodeTime(11, 59, 59, 999) + tiny, 30, 11, 999},
      {1 - tiny, 31, 0, 0},   // rounds up into the next day
      {-2 + tiny, 30, 0, 0},  // 1899-12-29 at 24:00 is the origin day
  };
  for (const Case& c : cases) {
    const TimeParts t = DecodeTime(c.value);
    EXPECT_EQ(DecodeDate(c.value).Day, c.day) << c.value;
    EXPECT_EQ(t.Hour, c.hour) << c.value;
    EXPECT_EQ(t.MSec, c.msec) << c.value;
  }
}

TEST(Decode, ValuesOutsideTheCalendarGiveZeroParts) {
  for (double value : {kNaN, kInf, -kInf, 1e300, -1e300, 2958466.0, -693594.0, -700000.0,
                       2958465.9999999995}) {
    const DateParts d = DecodeDate(value);
    EXPECT_EQ(d.Year + d.Month + d.Day + d.DayOfWeek, 0) << value;
  }
  EXPECT_EQ(DecodeTime(kNaN).Hour, 0);
  EXPECT_EQ(DecodeTime(1e300).Minute, 0);
}

TEST(TimeStamp, FromDateTime) {
  struct Case {
    double value;
    TTimeStamp stamp;
  };
  const Case cases[] = {
      {0, {0, kDateDelta}},
      {-1.25, {21600000, kDateDelta - 1}},
      {EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), {86399999, kLastDay}},
      {-693594.25, {21600000, 0}},  // a time without a date
      {-693594.0, {}},
      {-693595.0, {}},
      {2958466.0, {}},
      {kNaN, {}},
      {-kInf, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToTimeStamp(c.value), c.stamp) << c.value;
}

TEST(TimeStamp, ToDateTimeAndBack) {
  const TTimeStamp stamps[] = {{0, 0},           {21600000, 0},          {0, 1},
                               {86399999, 1},    {43200000, kDateDelta}, {1, kDateDelta - 1},
                               {86399999, kLastDay}, {12345678, 730000}};
  for (const TTimeStamp& s : stamps) {
    EXPECT_EQ(DateTimeToTimeStamp(TimeStampToDateTime(s)), s) << s.Date << " " << s.Time;
  }
  EXPECT_EQ(TimeStampToDateTime({}), -693594.0);
  EXPECT_EQ(TimeStampToDateTime({21600000, kDateDelta - 1}), -1.25);
  EXPECT_EQ(TimeStampToDateTime({43200000, kDateDelta + 1}), 1.5);
}

}  // namespace
}  // namespace quill

// The date-time format language: every specifier, the context rules (M after
// H, the 12-hour clock), quoting, nesting of regional formats, the length cut
// and hostile formats.
#include "base/format_date_time.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quill {
namespace {

// Saturday 2001-02-03 04:05:06.007, and 13:05 the same day.
const TDateTime kSample = EncodeDateTime(2001, 2, 3, 4, 5, 6, 7);
const TDateTime kAfternoon = EncodeDateTime(2001, 2, 3, 13, 5, 0, 0);

struct Row {
  const char* format;
  const char* expected;
};

template <size_t N>
void ExpectRows(const Row (&rows)[N], TDateTime value,
                const TFormatSettings& settings = RegionalSettings()) {
  for (const Row& row : rows) {
    EXPECT_EQ(FormatDateTime(row.format, value, settings), row.expected)
        << "format \"" << row.format << "\"";
  }
}

TEST(FormatDateTime, Specifiers) {
  const Row rows[] = {
      {"d", "3"}, {"dd", "03"}, {"ddd", "Sat"}, {"dddd", "Saturday"}, {"ddddd", "2/3/2001"},
      {"dddddd", "Saturday, February 3, 2001"}, {"ddddddddd", "Saturday, February 3, 2001"},
      {"m", "2"}, {"mm", "02"}, {"mmm", "Feb"}, {"mmmm", "February"}, {"mmmmmm", "February"},
      {"y", "01"}, {"yy", "01"}, {"yyy", "2001"}, {"yyyyyy", "2001"},
      {"h", "4"}, {"hh", "04"}, {"hhh", "04"}, {"n", "5"}, {"nn", "05"}, {"nnn", "05"},
      {"s", "6"}, {"ss", "06"}, {"z", "7"}, {"zz", "07"}, {"zzz", "007"}, {"zzzz", "007"},
      {"t", "4:05 AM"}, {"tt", "4:05:06 AM"}, {"ttt", "4:05:06 AM"},
      {"c", "2/3/2001 4:05:06 AM"},
      {"am/pm", "am"}, {"AM/PM", "AM"}, {"Am/pM", "Am"}, {"a/p", "a"}, {"A/P", "A"},
      {"ampm", "AM"}, {"aaa", "Sat"}, {"aaaa", "Saturday"}, {"aaaaaa", "Saturday"},
      {"e", "2001"}, {"g", "A.D."}, {"gg", "A.D."}, {"/", "/"}, {":", ":"}, {"//", "//"},
      // Upper case works alike; a run is one character in one case.
      {"DDDD", "Saturday"}, {"MMMM", "February"}, {"YYYY", "2001"}, {"HH:NN:SS.ZZZ", "04:05:06.007"},
      {"T", "4:05 AM"}, {"C", "2/3/2001 4:05:06 AM"}, {"E G", "2001 A.D."},
      {"yY", "0101"}, {"Dd", "33"}, {"mM", "22"}, {"Dddd", "3Sat"},
  };
  ExpectRows(rows, kSample);
}

TEST(FormatDateTime, LiteralsAndQuotes) {
  const Row rows[] = {
      {"x", "x"}, {"b", "b"}, {"A", "A"}, {"a", "a"}, {"aa", "aa"}, {"%&#", "%&#"},
      {"'yyyy'", "yyyy"}, {"\"d\"", "d"}, {"'a\"b'", "a\"b"}, {"''", ""},
      {"'abc", "abc"},  // an unclosed quote runs to the end
      {"d 'of' mmmm", "3 of February"}, {"yyyy-mm-dd", "2001-02-03"},
      {"\xC3\xA9l\xC3\xA8v d", "\xC3\xA9l\xC3\xA8v 3"},
  };
  ExpectRows(rows, kSample);
}

TEST(FormatDateTime, MonthAfterHourGivesMinutes) {
  const Row rows[] = {
      {"hh:mm", "04:05"}, {"HH:MM:SS", "04:05:06"},
      {"h'x'm", "4x5"},        // quoted letters do not count
      {"h x m", "4 x 2"},      // any other letter in between does
      {"hh mmm", "04 Feb"},    // names stay month names
      {"mm/dd hh", "02/03 04"}, {"hm m", "45 2"},
  };
  ExpectRows(rows, kSample);
}

TEST(FormatDateTime, TwelveHourClock) {
  const std::pair<int, const char*> hours[] = {
      {0, "12 AM"}, {1, "1 AM"}, {11, "11 AM"}, {12, "12 PM"}, {13, "1 PM"}, {23, "11 PM"}};
  for (const auto& [hour, expected] : hours) {
    EXPECT_EQ(FormatDateTime("h AM/PM", EncodeTime(hour, 30, 0, 0)), expected) << hour;
  }
  const Row rows[] = {
      {"h:nn AM/PM", "1:05 PM"}, {"hh:nn am/pm", "01:05 pm"}, {"h A/P", "1 P"},
      {"h a/p", "1 p"}, {"h ampm", "1 PM"}, {"t", "1:05 PM"},
      {"AM/PM h", "PM 1"},       // a marker earlier also counts
      {"h h AM/PM", "13 1 PM"},  // the first h meets another h first
      {"h 'AM/PM'", "13 AM/PM"}, {"h A", "13 A"}, {"hh:nn", "13:05"},
      {"h AAAM/PM", "13 Sat2/P2"},  // the day name takes the A of "AM/PM"
  };
  ExpectRows(rows, kAfternoon);
}

TEST(FormatDateTime, DefaultFormatCAndTheEmptyFormat) {
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD HH:NN:SS", 0), "1899-12-30 00:00:00");
  TFormatSettings dotted;  // dashes are literal, colons the regional separator
  dotted.TimeSeparator = '.';
  dotted.DateSeparator = '-';
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD HH:NN:SS", 0, dotted), "1899-12-30 00.00.00");
  EXPECT_EQ(FormatDateTime("d/m/yy", 0, dotted), "30-12-99");

  const TDateTime date = EncodeDate(2001, 2, 3);
  const Row rows[] = {{"c", "2/3/2001"}, {"", "2/3/2001"}};
  ExpectRows(rows, date);
  ExpectRows(rows, date + EncodeTime(0, 0, 0, 500));  // milliseconds alone are no time
  EXPECT_EQ(FormatDateTime("c", date + EncodeTime(0, 0, 1, 0)), "2/3/2001 12:00:01 AM");
  EXPECT_EQ(FormatDateTime("", date + 0.5), "2/3/2001 12:00:00 PM");
  EXPECT_EQ(DateToStr(kSample), "2/3/2001");
  EXPECT_EQ(TimeToStr(kSample), "4:05:06 AM");
  EXPECT_EQ(DateTimeToStr(kSample), "2/3/2001 4:05:06 AM");
}

TEST(FormatDateTime, RegionalFormatsNestTwoLevels) {
  TFormatSettings s;  // short date -> short time -> short date: not expanded again
  s.ShortDateFormat = "'<'t'>'";
  s.ShortTimeFormat = "'['ddddd']'";
  EXPECT_EQ(FormatDateTime("ddddd", kSample, s), "<[ddddd]>");
  EXPECT_EQ(FormatDateTime("t", kSample, s), "[<t>]");
  s.LongDateFormat = "dddddd";  // formats that name themselves end too
  s.LongTimeFormat = "TT";
  EXPECT_EQ(FormatDateTime("dddddd tt", kSample, s), "dddddd TT");
  s.ShortDateFormat = "'('c')'";
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2001, 2, 3), s), "((c))");

  TFormatSettings two;  // two levels are expanded fully
  two.ShortDateFormat = "yyyy";
  two.LongDateFormat = "ddddd!";
  two.LongTimeFormat = "h";  // the 12-hour rule looks at the hour's own text
  two.ShortTimeFormat = "";  // an empty regional format writes nothing
  EXPECT_EQ(FormatDateTime("dddddd", kSample, two), "2001!");
  EXPECT_EQ(FormatDateTime("tt AM/PM", kAfternoon, two), "13 PM");
  EXPECT_EQ(FormatDateTime("[t]", kSample, two), "[]");
}

TEST(FormatDateTime, NegativeAndOutOfRangeValues) {
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn dddd", -1.25), "1899-12-29 06:00 Friday");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd yy e ee", EncodeDate(1, 1, 1)), "0001-01-01 01 1 01");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", EncodeDateTime(9999, 12, 31, 23, 59, 59, 999)),
            "9999-12-31 23:59:59.999");
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", 0.5 - 1e-12), "12:00:00.000");
  // Outside the calendar: zero numbers, no names, no failure.
  const Row rows[] = {{"yyyy-mm-dd", "0000-00-00"}, {"[dddd mmmm aaa]", "[  ]"}, {"c", "0/0/0000"}};
  for (double value : {std::numeric_limits<double>::quiet_NaN(), 1e10,
                       -std::numeric_limits<double>::infinity()}) {
    ExpectRows(rows, value);
  }
}

TEST(FormatDateTime, ResultIsCutAfter256BytesOnASequenceBoundary) {
  EXPECT_EQ(FormatDateTime(std::string(256, 'x'), 0), std::string(256, 'x'));
  EXPECT_EQ(FormatDateTime(std::string(300, 'x'), 0), std::string(256, 'x'));
  EXPECT_EQ(FormatDateTime("'" + std::string(1000, 'x'), 0), std::string(256, 'x'));
  std::string many_dates;
  for (int i = 0; i < 100; ++i) many_dates += "dddddd ";
  EXPECT_EQ(FormatDateTime(many_dates, kSample).size(), 256u);
  // {x prefix, sequence, expected size}: a sequence the cut would split is
  // dropped whole, one that ends at the cut is kept.
  const std::tuple<size_t, const char*, size_t> cases[] = {
      {255, "\xC3\xA9", 255},         {254, "\xC3\xA9", 256},     {254, "\xE2\x82\xAC", 254},
      {253, "\xE2\x82\xAC", 256},     {255, "\xE2\x82\xAC", 255}, {253, "\xF0\x9F\x98\x80", 253},
      {252, "\xF0\x9F\x98\x80", 256}, {255, "\xF0\x9F\x98\x80", 255}};
  for (const auto& [prefix, sequence, size] : cases) {
    const std::string result = FormatDateTime(std::string(prefix, 'x') + sequence + "xxxx", 0);
    EXPECT_EQ(result.size(), size) << prefix << " " << sequence;
    EXPECT_EQ(result.compare(0, prefix, std::string(prefix, 'x')), 0);
  }
}

// The regional texts come from formats compiled once and reused; they must
// say what the parts of the value say, for every kind of value: years
// below 100, day 0 and before it, and times that round up to midnight.
TEST(FormatDateTime, ReusedFormatsMatchTheDecodedParts) {
  std::vector<TDateTime> values = {0, -0.0, -1.25, -693593.5, -693594.25, 1e10, 2958465.9999999, 1.0 - 0.4e-8,
                                   -1.0 + 0.4e-8, 0.5 - 1e-12};
  std::mt19937 random(7);
  std::uniform_real_distribution<double> day(-693593, 2958466), early(-693593, -657000);
  for (int i = 0; i < 3000; ++i) values.push_back(i % 3 == 0 ? early(random) : day(random));
  for (int year : {1, 9, 10, 99, 100, 1899, 1900, 2000, 9999}) {
    values.push_back(EncodeDateTime(year, 12, 31, 23, 59, 59, 999) + 0.6 / kMSecsPerDay);
    values.push_back(EncodeDate(year, 1, 1) - 1e-9);
  }
  const TFormatSettings copy = RegionalSettings();  // compiled again on every call
  std::string date_text, time_text, both_text;      // one string each, reused
  for (const TDateTime value : values) {
    const DateParts d = DecodeDate(value);
    const TimeParts t = DecodeTime(value);
    const std::string date = std::to_string(d.Month) + "/" + std::to_string(d.Day) + "/" +
                             (d.Year < 1000 ? std::string(d.Year < 10 ? 3 : d.Year < 100 ? 2 : 1, '0') : "") +
                             std::to_string(d.Year);
    const std::string minutes_seconds = (t.Minute < 10 ? ":0" : ":") + std::to_string(t.Minute) +
                                        (t.Second < 10 ? ":0" : ":") + std::to_string(t.Second);
    const std::string time = std::to_string(t.Hour % 12 == 0 ? 12 : t.Hour % 12) + minutes_seconds +
                             (t.Hour < 12 ? " AM" : " PM");
    const bool midnight = t.Hour == 0 && t.Minute == 0 && t.Second == 0;
    DateToStr(value, &date_text);
    TimeToStr(value, &time_text);
    DateTimeToStr(value, &both_text);
    ASSERT_EQ(date_text, date) << value;
    ASSERT_EQ(time_text, time) << value;
    ASSERT_EQ(both_text, midnight ? date : date + " " + time) << value;
    ASSERT_EQ(DateTimeToStr(value), both_text);
    for (const char* format : {"yyyy-mm-dd hh:nn:ss.zzz dddd mmm", "c", "t ampm yy"}) {
      ASSERT_EQ(FormatDateTime(format, value), FormatDateTime(format, value, copy)) << value;
    }
  }
}

// No format text makes formatting fail or read out of bounds; the sanitizer
// build gives this its teeth.
TEST(FormatDateTime, HostileFormatsNeverFail) {
  const char alphabet[] = "cdmyhnstzaepgCDMYHNSTZAEPG/:'\" -xAMPM";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> length(0, 48), pick(0, 3), byte(0, 255);
  std::uniform_int_distribution<int> letter(0, sizeof alphabet - 2);
  const double values[] = {0, kSample, -1.25, -693594.5, 2958465.99999, 1e300,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::denorm_min()};
  TFormatSettings looping;
  looping.ShortDateFormat = "c t ddddd";
  looping.LongDateFormat = "dddddd tt";
  looping.ShortTimeFormat = "tt c";
  looping.LongTimeFormat = "t dddddd";
  for (int round = 0; round < 20000; ++round) {
    std::string format;
    for (int i = length(random); i > 0; --i) {
      format += pick(random) == 0 ? static_cast<char>(byte(random)) : alphabet[letter(random)];
    }
    const TDateTime value = values[round % std::size(values)];
    ASSERT_LE(FormatDateTime(format, value).size(), 256u) << format;
    ASSERT_LE(FormatDateTime(format, value, looping).size(), 256u) << format;
  }
  std::string long_format;
  for (int i = 0; i < 100000; ++i) long_format += (i % 3 == 0) ? "h" : "x AM/PM";
  EXPECT_EQ(FormatDateTime(long_format, kSample).size(), 256u);
  EXPECT_EQ(FormatDateTime(std::string(1 << 20, 'h'), kSample), "04");
  EXPECT_EQ(FormatDateTime(std::string(1 << 20, '\''), kSample), "");
  EXPECT_EQ(FormatDateTime(std::string_view("d\0d", 3), kSample), std::string("3\0" "3", 3));
}

}  // namespace
}  // namespace quill

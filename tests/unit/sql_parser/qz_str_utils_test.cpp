// TQzStringList's text rules, word and field extraction, the server's date
// and time texts, and the locale-independent number text.
#include "sql_parser/qz_str_utils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <ostream>
#include <string>
#include <vector>

#include "base/errors.h"

namespace quill {
namespace {

using Lines = std::vector<std::string>;

// --- TQzStringList ---------------------------------------------------------

TEST(QzStringList, EmptySeparatorConcatenates) {
  TQzStringList list;
  list.SetLineSeparator("");
  list.Add("select ");
  list.Add("1");
  EXPECT_EQ(list.Text(), "select 1");
}

TEST(QzStringList, DefaultSeparatorFollowsEveryItem) {
  TQzStringList list;
  EXPECT_EQ(list.LineSeparator(), "\r\n");
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(list.Text(), "a\r\nb\r\n");
  list.SetLineSeparator("|");
  EXPECT_EQ(list.Text(), "a|b|");
  list.Clear();
  EXPECT_EQ(list.Text(), "");
}

struct TextRow {
  const char* name;
  std::string separator;
  std::string text;
  Lines items;
};

std::ostream& operator<<(std::ostream& out, const TextRow& row) { return out << row.name; }

const TextRow kTextRows[] = {
    {"empty_text", "\r\n", "", {}},
    {"two_crlf_pairs", "\r\n", "a\r\n\r\nb", {"a", "b"}},
    {"trailing_break", "\r\n", "a\r\n", {"a"}},
    {"leading_break", "\r\n", "\r\na", {"", "a"}},
    {"only_breaks", "\r\n", "\n\r\r\n", {""}},
    {"lone_cr_and_lf", "\r\n", "a\rb\nc", {"a", "b", "c"}},
    {"blanks_kept", "\r\n", " a \r\n\tb", {" a ", "\tb"}},
    {"empty_separator", "", "a\r\nb", {"a\r\nb"}},
    {"custom_separator", "|", "a|b||c|", {"a", "b", "c"}},
    {"two_char_separator", ", ", "a, b,c d", {"a", "b", "c", "d"}},
    {"crlf_kept_with_custom", "|", "a\r\nb|c", {"a\r\nb", "c"}},
    {"nul_ends_text", "\r\n", std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
};

class QzTextTable : public ::testing::TestWithParam<TextRow> {};

TEST_P(QzTextTable, SetText) {
  const TextRow& row = GetParam();
  TQzStringList list;
  list.SetLineSeparator(row.separator);
  list.Add("old");
  TStringList& base = list;  // the override is reached through the base too
  base.SetText(row.text);
  EXPECT_EQ(list.Lines(), row.items);
}

INSTANTIATE_TEST_SUITE_P(QzStringList, QzTextTable, ::testing::ValuesIn(kTextRows),
                         [](const ::testing::TestParamInfo<TextRow>& info) { return std::string(info.param.name); });

TEST(QzStringList, RoundTripAndOneNotification) {
  TQzStringList list;
  int changes = 0;
  list.OnChange = [&changes] { ++changes; };
  list.SetText("x\r\ny\r\nz");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.Text(), "x\r\ny\r\nz\r\n");
  TQzStringList copy;
  copy.SetText(list.Text());
  EXPECT_EQ(copy.Lines(), list.Lines());
  EXPECT_EQ(list.ClassName(), "TQzStringList");
  EXPECT_TRUE(list.InheritsFrom(TStringList::StaticClassInfo));
}

// --- ExtractWord / ExtractField --------------------------------------------

struct WordRow {
  int n;
  std::string text;
  std::string delimiters;
  std::string word;
};

std::ostream& operator<<(std::ostream& out, const WordRow& r) {
  return out << r.n << " of \"" << r.text << "\" at \"" << r.delimiters << "\"";
}

const WordRow kWordRows[] = {
    {1, "[$FIELDS]", "[,]", "$FIELDS"},
    {2, "a,,b", ",", "b"},
    {1, "id;name", ",;", "id"},
    {2, "id;name", ",;", "name"},
    {3, "id;name", ",;", ""},
    {0, "id;name", ",;", ""},
    {1, "", ",", ""},
    {1, ",,,", ",", ""},
    {1, "a b", "", "a b"},
    {3, "3.23.49-nt", ".- ", "49"},
    {2, "enum('a','b')", "()", "'a','b'"},
    {2, "<%,%>", ",;", "%>"},
    {1, "\xc3\xa9,x", ",", "\xc3\xa9"},
};

class WordTable : public ::testing::TestWithParam<WordRow> {};

TEST_P(WordTable, ExtractWord) {
  const WordRow& r = GetParam();
  EXPECT_EQ(ExtractWord(static_cast<uint8_t>(r.n), r.text, r.delimiters), r.word);
}

INSTANTIATE_TEST_SUITE_P(QzStrUtils, WordTable, ::testing::ValuesIn(kWordRows));

TEST(QzStrUtils, ExtractWordUpTo255) {
  std::string text;
  for (int i = 1; i <= 300; ++i) text += "w" + std::to_string(i) + " ";
  EXPECT_EQ(ExtractWord(255, text, " "), "w255");
  EXPECT_EQ(ExtractWord(1, text, " "), "w1");
}

struct FieldRow {
  std::string text;
  std::string separator;
  int n;
  std::string field;
};

std::ostream& operator<<(std::ostream& out, const FieldRow& r) {
  return out << r.n << " of \"" << r.text << "\" at \"" << r.separator << "\"";
}

const FieldRow kFieldRows[] = {
    {"PROMPT$x$Label$$*", "$", 1, "PROMPT"},
    {"PROMPT$x$Label$$*", "$", 2, "x"},
    {"PROMPT$x$Label$$*", "$", 3, "Label"},
    {"PROMPT$x$Label$$*", "$", 4, ""},
    {"PROMPT$x$Label$$*", "$", 5, "*"},
    {"PROMPT$x$Label$$*", "$", 6, ""},
    {"PROMPT$x$Label$$*", "$", 0, "PROMPT"},
    {"abc", "$", 1, "abc"},
    {"abc", "$", 2, ""},
    {"", "$", 1, ""},
    {"abc", "", 1, ""},
    {"a$", "$", 2, ""},
    {"$a", "$", 1, ""},
    {"$a", "$", 2, "a"},
    {"a::b::c", "::", 2, "b"},
    {"a::b::c", "::", 3, "c"},
    {"a:b", "::", 2, ""},
};

class FieldTable : public ::testing::TestWithParam<FieldRow> {};

TEST_P(FieldTable, ExtractField) {
  const FieldRow& r = GetParam();
  EXPECT_EQ(ExtractField(r.text, r.separator, r.n), r.field);
}

INSTANTIATE_TEST_SUITE_P(QzStrUtils, FieldTable, ::testing::ValuesIn(kFieldRows));

// --- dates and times -------------------------------------------------------

TTimeStamp Stamp(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return TTimeStamp{((hour * 60 + minute) * 60 + second) * 1000, DateToDayNumber(year, month, day)};
}

constexpr TTimeStamp kZero{};

enum class Reader { kDate, kTime, kDateTime, kTimestamp14 };

struct StampRow {
  Reader reader;
  std::string text;
  TTimeStamp expected;
};

std::ostream& operator<<(std::ostream& out, const StampRow& r) {
  return out << static_cast<int>(r.reader) << " \"" << r.text.substr(0, 40) << "\"";
}

const StampRow kStampRows[] = {
    {Reader::kDate, "2001-02-03", Stamp(2001, 2, 3)},
    {Reader::kDate, "2001/2/3", Stamp(2001, 2, 3)},
    {Reader::kDate, "2001\\02\\03", Stamp(2001, 2, 3)},
    {Reader::kDate, " 2001 02  03 ", Stamp(2001, 2, 3)},
    {Reader::kDate, "2001-02-30", kZero},
    {Reader::kDate, "1900-02-29", kZero},
    {Reader::kDate, "2000-02-29", Stamp(2000, 2, 29)},
    {Reader::kDate, "2008-08-09", Stamp(2008, 8, 9)},  // leading zeros are not octal
    {Reader::kDate, "10000-01-01", kZero},
    {Reader::kDate, "0000-00-00", Stamp(1, 1, 1)},
    {Reader::kDate, "2001-00-00", Stamp(2001, 1, 1)},
    {Reader::kDate, "2001-xx-05", Stamp(2001, 1, 5)},
    {Reader::kDate, "", Stamp(1, 1, 1)},
    {Reader::kDate, "99999999999-01-01", Stamp(1, 1, 1)},  // out of range reads as 0
    {Reader::kDate, "2001-02-03" + std::string(300, ' ') + "x", Stamp(2001, 2, 3)},
    // Only the first 255 characters count: the day lies beyond them.
    {Reader::kDate, "2001-02" + std::string(260, ' ') + "-05", Stamp(2001, 2, 1)},
    {Reader::kTime, "04:05:06", TTimeStamp{14706000, 0}},
    {Reader::kTime, "23:59:59", TTimeStamp{86399000, 0}},
    {Reader::kTime, "12", TTimeStamp{43200000, 0}},
    {Reader::kTime, "24:00:00", kZero},
    {Reader::kTime, "23:59:60", kZero},
    {Reader::kTime, "838:59:59", kZero},
    {Reader::kTime, "ab:cd", kZero},
    {Reader::kTime, "-01:02:03", TTimeStamp{3723000, 0}},
    {Reader::kDateTime, "2001-02-03 04:05:06", Stamp(2001, 2, 3, 4, 5, 6)},
    {Reader::kDateTime, "2001-02-03", Stamp(2001, 2, 3)},
    {Reader::kDateTime, "2001-02-30 04:05:06", TTimeStamp{14706000, 0}},
    {Reader::kDateTime, "2001-02-03 25:00:00", Stamp(2001, 2, 3)},
    {Reader::kDateTime, "  2001-02-03   04:05:06  ", Stamp(2001, 2, 3, 4, 5, 6)},
    {Reader::kTimestamp14, "20010203040506", Stamp(2001, 2, 3, 4, 5, 6)},
    {Reader::kTimestamp14, "20010230040506", kZero},
    {Reader::kTimestamp14, "20010203240000", kZero},
    {Reader::kTimestamp14, "00000000000000", Stamp(1, 1, 1)},
    {Reader::kTimestamp14, "2001", Stamp(2001, 1, 1)},
    {Reader::kTimestamp14, "2001020304", Stamp(2001, 2, 3, 4)},
    {Reader::kTimestamp14, "200102030405xx", Stamp(2001, 2, 3, 4, 5)},
    {Reader::kTimestamp14, "", Stamp(1, 1, 1)},
    {Reader::kTimestamp14, "20010203040506789", Stamp(2001, 2, 3, 4, 5, 6)},
};

class StampTable : public ::testing::TestWithParam<StampRow> {};

TEST_P(StampTable, Parse) {
  const StampRow& r = GetParam();
  TTimeStamp got;
  switch (r.reader) {
    case Reader::kDate: got = ParseDate(r.text); break;
    case Reader::kTime: got = ParseTime(r.text); break;
    case Reader::kDateTime: got = ParseDateTime(r.text); break;
    case Reader::kTimestamp14: got = ParseTimestamp14(r.text); break;
  }
  EXPECT_EQ(got.Date, r.expected.Date);
  EXPECT_EQ(got.Time, r.expected.Time);
}

INSTANTIATE_TEST_SUITE_P(QzStrUtils, StampTable, ::testing::ValuesIn(kStampRows));

// --- numbers ---------------------------------------------------------------

// A host whose numbers use a decimal comma, as far as this machine offers
// one: the C++ global locale always, the C locale when one is installed.
class CommaLocale {
 public:
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
  };
  CommaLocale() : saved_(std::locale::global(std::locale(std::locale::classic(), new CommaPunct))) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
      if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
    }
  }
  ~CommaLocale() {
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(saved_);
  }

 private:
  std::locale saved_;
};

TEST(QzStrUtils, NumbersUseDotWhateverTheLocale) {
  CommaLocale comma;
  EXPECT_EQ(StrToFloatDot("1.5"), 1.5);
  EXPECT_EQ(StrToFloatDot("-2.25E+2"), -225.0);
  EXPECT_EQ(FloatToStrDot(1.5), "1.5");
  EXPECT_EQ(FloatToStrDot(1234567.25), "1234567.25");
  EXPECT_THROW(StrToFloatDot("1,5"), EConvertError);
  EXPECT_THROW(StrToFloatDot("abc"), EConvertError);
  EXPECT_THROW(StrToFloatDot(""), EConvertError);
}

}  // namespace
}  // namespace quill

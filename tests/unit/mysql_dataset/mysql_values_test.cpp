// The MySQL dataset over prepared results: column description and type
// mapping, names, key lists, values read and written as text, display
// texts, blob streams, row numbers and bookmarks, and the cache side of
// editing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "base/format_date_time.h"
#include "base/published.h"
#include "fake_result.h"
#include "mysql_dataset/blob_stream.h"
#include "mysql_dataset/mysql_string_field.h"
#include "support/error_text.h"

namespace quill::test {
namespace {

constexpr unsigned kNotNullPriAuto = kNotNullFlag | kPriKeyFlag | kAutoIncrementFlag;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDateTime(y, mo, d, h, mi, s, 0);
}

std::string CachedText(TMySQLDataset& ds, int64_t row, int column) {
  const TCell cell = ds.Rows()->View(row).Cell(column);
  return cell.Null ? "(null)" : std::string(cell.Bytes);
}

// --- Column description and type mapping ---------------------------------------------------

TEST(MySQLColumns, EveryServerTypeMapsToItsFieldTypeAndSize) {
  TFakeMySQLDataset ds;
  ds.OpenOver(
      {
          Col("c_newdecimal", MySQLType::NewDecimal, 0, 12),
          Col("c_decimal", MySQLType::Decimal, 0, 12),
          Col("c_float", MySQLType::Float),
          Col("c_double", MySQLType::Double),
          Col("c_tiny", MySQLType::Tiny),
          Col("c_utiny", MySQLType::Tiny, kUnsignedFlag),
          Col("c_short", MySQLType::Short),
          Col("c_ushort", MySQLType::Short, kUnsignedFlag),
          Col("c_long", MySQLType::Long),
          Col("c_ulong", MySQLType::Long, kUnsignedFlag),
          Col("c_null", MySQLType::Null),
          Col("c_timestamp", MySQLType::Timestamp),
          Col("c_datetime", MySQLType::DateTime),
          Col("c_newdate", MySQLType::NewDate),
          Col("c_bigint", MySQLType::LongLong),
          Col("c_int24", MySQLType::Int24),
          Col("c_date", MySQLType::Date),
          Col("c_time", MySQLType::Time),
          Col("c_year", MySQLType::Year),
          Col("c_enum", MySQLType::String, kEnumFlag, 4),
          Col("c_set", MySQLType::String, kSetFlag, 12),
          Col("c_text", MySQLType::Blob, kBlobFlag, 65535),
          Col("c_blob", MySQLType::Blob, kBlobFlag | kBinaryFlag, 65535, "t", kBinaryCharsetNr),
          Col("c_bintext", MySQLType::Blob, kBlobFlag | kBinaryFlag, 4 * 65535, "t", 46),
          Col("c_varchar", MySQLType::VarString, 0, 1020),
          Col("c_varbinary", MySQLType::VarString, kBinaryFlag, 100, "t", kBinaryCharsetNr),
          Col("c_wide", MySQLType::VarString, 0, 12000),
          Col("c_char2049", MySQLType::String, 0, 2049 * 4),
          Col("c_json", MySQLType::Json, 0, 4294967295u),
          Col("c_bit", MySQLType::Bit, kUnsignedFlag, 8, "t", kBinaryCharsetNr),
          Col("c_geometry", MySQLType::Geometry, kBlobFlag | kBinaryFlag, 4294967295u, "t",
              kBinaryCharsetNr),
      },
      {});
  struct Expect {
    const char* name;
    TFieldType type;
    int32_t size;
  };
  const Expect expected[] = {
      {"c_newdecimal", ftFloat, 0},  {"c_decimal", ftFloat, 0},    {"c_float", ftFloat, 0},
      {"c_double", ftFloat, 0},      {"c_tiny", ftSmallint, 0},    {"c_utiny", ftWord, 0},
      {"c_short", ftSmallint, 0},    {"c_ushort", ftWord, 0},      {"c_long", ftInteger, 0},
      {"c_ulong", ftLargeint, 0},    {"c_null", ftVariant, 0},     {"c_timestamp", ftDateTime, 0},
      {"c_datetime", ftDateTime, 0}, {"c_newdate", ftDateTime, 0}, {"c_bigint", ftLargeint, 0},
      {"c_int24", ftInteger, 0},     {"c_date", ftDate, 0},        {"c_time", ftTime, 0},
      {"c_year", ftWord, 0},         {"c_enum", ftString, 1},      {"c_set", ftString, 3},
      {"c_text", ftMemo, 16383},     {"c_blob", ftBlob, 65535},    {"c_bintext", ftMemo, 65535},
      {"c_varchar", ftString, 255},
      {"c_varbinary", ftString, 100}, {"c_wide", ftMemo, 3000},    {"c_char2049", ftMemo, 2049},
      {"c_json", ftMemo, 1073741823}, {"c_bit", ftUnknown, 0},     {"c_geometry", ftUnknown, 0},
  };
  ASSERT_EQ(ds.FieldCount(), static_cast<int>(std::size(expected)));
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    TField& f = ds.RequireField(e.name);
    EXPECT_EQ(f.DataType(), e.type);
    if (e.size != 0) {
      EXPECT_EQ(f.Size(), e.size);
    }
  }
  EXPECT_EQ(ds.ColumnInfo(0).FieldType, 246);  // kept as the server reported it
  EXPECT_EQ(ds.ColumnInfo(19).FieldType, 247);
  EXPECT_EQ(ds.ColumnInfo(20).FieldType, 248);
  EXPECT_EQ(ds.ColumnInfo(24).Length, 255u);
  EXPECT_NE(dynamic_cast<TMySQLStringField*>(&ds.RequireField("c_varchar")), nullptr);
  EXPECT_NE(dynamic_cast<TUnknownField*>(&ds.RequireField("c_bit")), nullptr);
}

TEST(MySQLColumns, ReadOnlyAndRequiredFollowTableFlagsAndAutoIncrement) {
  TFakeMySQLDataset ds;
  ds.OpenOver(
      {
          Col("id", MySQLType::Long, kNotNullPriAuto),
          Col("name", MySQLType::VarString, kNotNullFlag, 40),
          Col("note", MySQLType::VarString, 0, 40),
          Col("count(*)", MySQLType::LongLong, kNotNullFlag, 21, ""),
          Col("tmp", MySQLType::Long, kNotNullFlag, 11, "#sql-1f_2"),
      },
      {});
  TField& id = ds.RequireField("id");
  EXPECT_EQ(id.DataType(), ftAutoInc);
  EXPECT_TRUE(id.ReadOnly());
  EXPECT_FALSE(id.Required());
  EXPECT_TRUE(ds.RequireField("name").Required());
  EXPECT_FALSE(ds.RequireField("name").ReadOnly());
  EXPECT_FALSE(ds.RequireField("note").Required());
  TField& computed = ds.RequireField("count(*)");
  EXPECT_TRUE(computed.ReadOnly());
  EXPECT_FALSE(computed.Required());
  EXPECT_EQ(computed.FieldKind(), fkInternalCalc);
  EXPECT_EQ(ds.ColumnInfo(4).Table, "");
  EXPECT_TRUE(ds.RequireField("tmp").ReadOnly());
  EXPECT_EQ(ds.ResultTables(), (std::vector<std::string>{"t"}));
}

TEST(MySQLColumns, SharedNamesAreQualifiedAndSingleNamesStayPlain) {
  TFakeMySQLDataset ds;
  ds.OpenOver(
      {
          Col("id", MySQLType::Long, 0, 11, "b"),
          Col("id", MySQLType::Long, 0, 11, "A"),
          Col("name", MySQLType::VarString, 0, 40, "b"),
          Col("x", MySQLType::Long, 0, 11, ""),
          Col("x", MySQLType::Long, 0, 11, ""),
          Col("code", MySQLType::Long, 0, 11, "a"),
          Col("code", MySQLType::Long, 0, 11, ""),
      },
      {});
  std::vector<std::string> names;
  for (int i = 0; i < ds.FieldCount(); ++i) names.push_back(ds.Field(i).FieldName());
  EXPECT_EQ(names, (std::vector<std::string>{"b.id", "A.id", "name", "x", "x_1", "a.code",
                                             ".code"}));
  EXPECT_EQ(ds.ResultTables(), (std::vector<std::string>{"A", "b"}));  // "a" and "A" are one
  EXPECT_EQ(ds.IndexOfColumn("B.ID"), 0);
}

TEST(MySQLColumns, KeyListsFollowColumnOrderAndKeyFieldsAreSubstrings) {
  TFakeMySQLDataset ds;
  ds.OpenOver(
      {
          Col("id", MySQLType::Long, kPriKeyFlag),
          Col("code", MySQLType::Long, kUniqueKeyFlag),
          Col("userid", MySQLType::Long, kMultipleKeyFlag),
          Col("grp", MySQLType::Long, kMultipleKeyFlag | kPriKeyFlag),
          Col("plain", MySQLType::Long),
      },
      {});
  EXPECT_EQ(ds.PrimaryFields(), "id,grp");
  EXPECT_EQ(ds.UniqueFields(), "code");
  EXPECT_EQ(ds.MultiFields(), "userid,grp");
  EXPECT_TRUE(ds.IsKeyField(ds.RequireField("id")));  // "id" is inside "userid"
  EXPECT_TRUE(ds.IsKeyField(ds.RequireField("grp")));
  EXPECT_FALSE(ds.IsKeyField(ds.RequireField("code")));
  EXPECT_FALSE(ds.IsKeyField(ds.RequireField("plain")));
}

TEST(MySQLColumns, ResultWithoutColumnsOpensEmpty) {
  TFakeMySQLDataset ds;
  ds.OpenOver({}, {});
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(ds.RowCount(), 0);
  EXPECT_TRUE(ds.IsEmpty());
}

// --- Values ---------------------------------------------------------------------------------

class MySQLValues : public ::testing::Test {
 protected:
  void OpenTypes(std::vector<Cells> rows) {
    ds.OpenOver(
        {
            Col("id", MySQLType::Long, kNotNullPriAuto),
            Col("name", MySQLType::VarString, 0, 255 * 4),
            Col("small", MySQLType::Short),
            Col("big", MySQLType::LongLong),
            [] {  // decimal(10,2)
              MySQLFieldDesc price = Col("price", MySQLType::NewDecimal, 0, 10);
              price.Decimals = 2;
              return price;
            }(),
            Col("born", MySQLType::Date),
            Col("at", MySQLType::Time),
            Col("seen", MySQLType::DateTime),
            Col("stamp", MySQLType::Timestamp),
            Col("kind", MySQLType::String, kEnumFlag, 4),
            Col("data", MySQLType::Blob, kBlobFlag | kBinaryFlag, 65535, "t", kBinaryCharsetNr),
            Col("memo", MySQLType::Blob, kBlobFlag, 65535),
            Col("nothing", MySQLType::Null),
        },
        std::move(rows));
  }
  TField& F(const char* name) { return ds.RequireField(name); }
  TFakeMySQLDataset ds;
};

Cells FullRow() {
  return {"7",          "Alice",      "-12",   "9000000000", "3.25",   "2001-12-31", "23:59:59",
          "2001-12-31 00:00:00", "20011231235959", "b", std::string("\x00\x01\x02", 3), "text",
          "n"};
}

TEST_F(MySQLValues, TextsConvertToEveryFieldType) {
  OpenTypes({FullRow()});
  EXPECT_EQ(F("id").AsInteger(), 7);
  EXPECT_EQ(F("name").AsString(), "Alice");
  EXPECT_EQ(F("small").AsInteger(), -12);
  EXPECT_EQ(F("big").AsLargeInt(), 9000000000);
  EXPECT_DOUBLE_EQ(F("price").AsFloat(), 3.25);
  EXPECT_DOUBLE_EQ(F("born").AsDateTime(), At(2001, 12, 31));
  EXPECT_NEAR(F("at").AsDateTime(), (23 * 3600 + 59 * 60 + 59) / 86400.0, 1e-9);
  EXPECT_DOUBLE_EQ(F("seen").AsDateTime(), At(2001, 12, 31));
  EXPECT_NEAR(F("stamp").AsDateTime(), At(2001, 12, 31, 23, 59, 59), 1e-9);
  EXPECT_EQ(F("kind").AsString(), "b");
  EXPECT_EQ(F("data").AsString(), std::string("\x00\x01\x02", 3));
  EXPECT_EQ(F("memo").AsString(), "text");
  EXPECT_EQ(F("nothing").AsVariant().AsString(), "n");
  EXPECT_EQ(F("big").AsVariant().Type(), VarType::Int64);
  EXPECT_EQ(F("price").AsVariant().Type(), VarType::Double);
  EXPECT_EQ(F("born").AsVariant().Type(), VarType::Date);
}

TEST_F(MySQLValues, DisplayTextsUseTheRegionalFormats) {
  OpenTypes({FullRow()});
  EXPECT_EQ(F("price").DisplayText(), "3.25");
  EXPECT_EQ(F("born").DisplayText(), "12/31/2001");
  EXPECT_EQ(F("at").DisplayText(), "11:59:59 PM");
  EXPECT_EQ(F("seen").DisplayText(), "12/31/2001");  // midnight: no time
  EXPECT_EQ(F("stamp").DisplayText(), "12/31/2001 11:59:59 PM");
  EXPECT_EQ(F("data").DisplayText(), "(BLOB)");
  EXPECT_EQ(F("memo").DisplayText(), "(MEMO)");
  static_cast<TFloatField&>(F("price")).DisplayFormat = "#,##0.00";
  EXPECT_EQ(F("price").DisplayText(), "3.25");
  static_cast<TFloatField&>(F("price")).DisplayFormat = "0.0";
  EXPECT_EQ(F("price").DisplayText(), "3.3");
  static_cast<TDateTimeField&>(F("born")).DisplayFormat = "yyyy-mm-dd";
  EXPECT_EQ(F("born").DisplayText(), "2001-12-31");
  static_cast<TDateTimeField&>(F("born")).DisplayFormat = "mmm yyyy";  // a change is seen
  EXPECT_EQ(F("born").DisplayText(), "Dec 2001");
  static_cast<TDateTimeField&>(F("born")).DisplayFormat.clear();
  EXPECT_EQ(F("born").DisplayText(), "12/31/2001");
  static_cast<TIntegerField&>(F("small")).DisplayFormat = "000";
  EXPECT_EQ(F("small").DisplayText(), "-012");
}

// Display texts are taken from the server's text where it is in its own
// form, and from the value otherwise: both ways must give the same text,
// or fail the same way.
TEST_F(MySQLValues, DisplayTextsFromTheServersTextMatchThoseOfTheValue) {
  const std::vector<std::vector<std::string>> texts = {
      /* small */ {"0", "-0", "007", "+5", " 5", "2147483647", "2147483648", "-2147483648", "1e3"},
      /* big */ {"9223372036854775807", "-9223372036854775808", "9223372036854775808", "09", "-1"},
      /* price */ {"3.25", "-0.50", "12", "1e3", " 3.25", "3.", "-.5", "0.10"},
      /* born */ {"2001-12-31", "0000-00-00", "2001-02-30", "1600-02-29", "0001-01-01",
                  "9999-12-31", "2001-1-31", "2001-12-31 ", "2001-12-00"},
      /* at */ {"23:59:59", "00:00:00", "25:00:00", "-01:00:00", "100:00:00", "12:60:00"},
      /* seen */ {"2001-12-31 00:00:00", "1899-12-30 12:00:00", "1850-06-15 13:14:15",
                  "2001-02-30 10:00:00", "0000-00-00 00:00:00", "2001-12-31T10:00:00",
                  "2001-12-31 24:00:00"},
      /* stamp */ {"20011231235959", "2001-12-31 23:59:59", "1970-01-01 00:00:01"}};
  // Random dates and times of every era, before 1899-12-30 too.
  std::vector<std::string> dates, times;
  uint32_t seed = 99;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  char buffer[32];
  for (int i = 0; i < 400; ++i) {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", 1 + next() % 9999,
                  1 + next() % 12, 1 + next() % 28);
    dates.push_back(buffer);
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", next() % 24, next() % 60,
                  i % 5 == 0 ? 0 : next() % 60);
    times.push_back(buffer);
  }
  std::vector<Cells> rows;
  for (size_t i = 0; i < 400; ++i) {
    Cells row(13, std::nullopt);
    row[0] = std::to_string(i + 1);
    for (size_t column = 0; column < texts.size(); ++column) {
      const auto& list = texts[column];
      if (i < list.size()) row[column + 2] = list[i];
    }
    if (i >= texts[3].size()) row[5] = dates[i];
    if (i >= texts[4].size()) row[6] = times[i];
    if (i >= texts[5].size()) row[7] = dates[i] + " " + times[i];
    rows.push_back(row);
  }
  OpenTypes(rows);
  // What the text of each field's value is, read the long way.
  auto from_value = [this](const char* name) -> std::string {
    TField& f = F(name);
    if (f.IsNull()) return "";
    switch (f.DataType()) {
      case ftSmallint: case ftLargeint: return std::to_string(f.AsLargeInt());
      case ftFloat: return f.AsString();
      case ftDate: return DateToStr(f.AsDateTime());
      case ftTime: return TimeToStr(f.AsDateTime());
      default: return DateTimeToStr(f.AsDateTime());
    }
  };
  auto outcome = [](const std::function<std::string()>& read) {
    try {
      return read();
    } catch (const std::exception& e) {
      return std::string("failed: ") + e.what();
    }
  };
  auto& seen = static_cast<TDateTimeField&>(F("seen"));
  for (; !ds.Eof(); ds.MoveNext()) {
    for (const char* name : {"small", "big", "price", "born", "at", "seen", "stamp"}) {
      EXPECT_EQ(outcome([&] { return F(name).DisplayText(); }),
                outcome([&] { return from_value(name); }))
          << name << " in row " << ds.RowIndex();
    }
    seen.DisplayFormat = "dddd d mmmm yyyy, hh:nn:ss am/pm";  // names and 12 hours
    EXPECT_EQ(seen.DisplayText(),
              seen.IsNull() ? "" : FormatDateTime(seen.DisplayFormat, seen.AsDateTime()));
    seen.DisplayFormat.clear();
  }
}

TEST_F(MySQLValues, NullAndBlankTextsFollowTheirRules) {
  Cells row(13, std::nullopt);
  row[1] = "   ";
  row[2] = " 5 ";
  OpenTypes({row});
  TField& name = F("name");
  EXPECT_FALSE(name.IsNull());  // asked without a destination: a value is there
  EXPECT_EQ(name.AsString(), "");
  EXPECT_TRUE(name.AsVariant().IsNull());
  EXPECT_EQ(F("small").AsInteger(), 5);  // blanks around numbers are trimmed
  EXPECT_TRUE(F("big").IsNull());
  EXPECT_EQ(F("big").AsString(), "");
  EXPECT_EQ(F("born").DisplayText(), "");
  EXPECT_TRUE(F("data").IsNull());
  EXPECT_EQ(F("data").DisplayText(), "(Blob)");
  EXPECT_EQ(F("memo").DisplayText(), "(Memo)");
}

TEST_F(MySQLValues, ZeroAndImpossibleDatesReadAsDocumented) {
  Cells row(13, std::nullopt);
  row[5] = "0000-00-00";
  row[6] = "25:00:00";
  row[7] = "2001-02-30 10:00:00";
  row[8] = "2001-12-31 23:59:59";  // today's servers send TIMESTAMP like DATETIME
  OpenTypes({row});
  EXPECT_DOUBLE_EQ(F("born").AsDateTime(), At(1, 1, 1));
  EXPECT_DOUBLE_EQ(F("at").AsDateTime(), 0.0);
  EXPECT_NEAR(F("seen").AsDateTime(), 10 / 24.0, 1e-9);  // the time survives alone
  EXPECT_NEAR(F("stamp").AsDateTime(), At(2001, 12, 31, 23, 59, 59), 1e-9);
}

TEST_F(MySQLValues, TextThatIsNoNumberFailsWithTheConversionMessage) {
  Cells row(13, std::nullopt);
  row[2] = "abc";
  row[4] = "1,5";
  OpenTypes({row});
  EXPECT_EQ(MessageOf([&] { F("small").AsInteger(); }), "'abc' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { F("price").AsFloat(); }),
            "'1,5' is not a valid floating point value");
}

TEST_F(MySQLValues, WritesProduceTheServersTextForms) {
  OpenTypes({FullRow()});
  ds.BeginEdit();
  F("price").SetAsFloat(3.5);
  F("born").SetAsDateTime(At(2002, 1, 2, 13, 0, 0));
  F("at").SetAsDateTime(At(2002, 1, 2, 13, 4, 5));
  F("seen").SetAsDateTime(At(2001, 12, 31, 23, 59, 59));
  F("stamp").SetAsDateTime(At(2001, 12, 31, 23, 59, 59));
  F("big").SetAsString("-9000000000");
  F("small").SetAsVariant(Variant(std::string("42")));
  EXPECT_EQ(CachedText(ds, 0, 4), "3.50");  // the decimal's text as the server gives it
  EXPECT_EQ(CachedText(ds, 0, 5), "2002-01-02");
  EXPECT_EQ(CachedText(ds, 0, 6), "13:04:05");
  EXPECT_EQ(CachedText(ds, 0, 7), "2001-12-31 23:59:59");
  EXPECT_EQ(CachedText(ds, 0, 8), "20011231235959");
  EXPECT_EQ(CachedText(ds, 0, 3), "-9000000000");
  EXPECT_EQ(CachedText(ds, 0, 2), "42");
  EXPECT_NEAR(F("stamp").AsDateTime(), At(2001, 12, 31, 23, 59, 59), 1e-9);
}

TEST_F(MySQLValues, BadValuesAreRefusedWithClearMessages) {
  OpenTypes({FullRow()});
  ds.BeginEdit();
  EXPECT_EQ(MessageOf([&] { F("small").SetAsString("abc"); }),
            "'abc' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { F("small").SetAsInteger(40000); }),
            "40000 is not a valid value for field 'small'. The allowed range is -32768 to 32767");
  EXPECT_EQ(MessageOf([&] { F("price").SetAsString("x"); }),
            "'x' is not a valid floating point value");
  EXPECT_EQ(MessageOf([&] { F("born").SetAsString("31.31.2001"); }),
            "'31.31.2001' is not a valid date");
  EXPECT_EQ(MessageOf([&] { F("id").SetAsInteger(1); }), "Field 'id' cannot be modified");
  EXPECT_EQ(F("small").AsInteger(), -12);  // nothing was written
}

TEST_F(MySQLValues, TextIsCutToTheColumnWidthInWholeCharacters) {
  OpenTypes({FullRow()});
  ds.BeginEdit();
  F("name").SetAsString(std::string(300, 'x'));
  EXPECT_EQ(F("name").AsString().size(), 255u);
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";  // é, two bytes each
  F("name").SetAsString(accents);
  EXPECT_EQ(F("name").AsString(), accents.substr(0, 510));
}

TEST_F(MySQLValues, ValidationFailureAbortsSilentlyAndKeepsTheValue) {
  OpenTypes({FullRow()});
  ds.BeginEdit();
  F("name").OnValidate = [](TField&, const TFieldValue*) { throw EDatabaseError("no"); };
  EXPECT_THROW(F("name").SetAsString("Bob"), EAbort);
  EXPECT_EQ(F("name").AsString(), "Alice");
  EXPECT_FALSE(ds.ColumnInfo(1).Modified);
}

TEST_F(MySQLValues, TextWithNulBytesIsKeptWhole) {
  Cells row(13, std::nullopt);
  row[1] = std::string("a\0b", 3);
  OpenTypes({row});
  EXPECT_EQ(F("name").AsString(), std::string("a\0b", 3));
}

TEST_F(MySQLValues, EnumFieldKnowsItsKindAndPermittedValues) {
  OpenTypes({FullRow()});
  ds.ColumnInfo(9).EnumValues = "\"a\",\"b c\"";
  auto& kind = static_cast<TMySQLStringField&>(F("kind"));
  EXPECT_EQ(kind.StringType(), stEnum);
  EXPECT_EQ(kind.StringValues().Lines(), (std::vector<std::string>{"a", "b c"}));
  auto& name = static_cast<TMySQLStringField&>(F("name"));
  EXPECT_EQ(name.StringType(), stNormal);
  name.SetStringType(stSet);
  EXPECT_EQ(name.StringType(), stNormal);  // a bound field follows its column
  EXPECT_TRUE(name.StringValues().Empty());
}

// --- Editing and the cache ---------------------------------------------------------------------

TEST_F(MySQLValues, EditWritesThroughAndCancelRestoresTheCachedRow) {
  OpenTypes({FullRow(), FullRow(), FullRow()});
  ds.SetRowIndex(1);
  ds.BeginEdit();
  F("name").SetAsString("Bob");
  EXPECT_EQ(CachedText(ds, 1, 1), "Bob");
  F("small").Clear();
  EXPECT_EQ(CachedText(ds, 1, 2), "(null)");
  EXPECT_TRUE(F("small").IsNull());
  ds.CancelRecord();
  EXPECT_EQ(CachedText(ds, 1, 1), "Alice");
  EXPECT_EQ(CachedText(ds, 1, 2), "-12");
  EXPECT_EQ(F("name").AsString(), "Alice");
  EXPECT_FALSE(ds.ColumnInfo(1).Modified);

  ds.BeginEdit();
  F("small").Clear();
  ds.PostRecord();
  EXPECT_EQ(CachedText(ds, 1, 2), "(null)");
  EXPECT_EQ(ds.RowIndex(), 1);
}

TEST_F(MySQLValues, InsertStartsFromDefaultsAndPostsIntoTheCache) {
  ds.result.fields = {Col("id", MySQLType::Long, kNotNullPriAuto),
                      Col("name", MySQLType::VarString, 0, 160),
                      Col("data", MySQLType::Blob, kBlobFlag | kBinaryFlag, 255, "t", 63)};
  ds.result.fields[1].HasDefault = true;
  ds.result.fields[1].Default = "anon";
  ds.result.rows = {{"1", "x", std::nullopt}, {"2", "y", std::nullopt}};
  ds.OpenDataset();
  ds.MoveNext();
  ds.BeginInsert();
  EXPECT_EQ(F("name").AsString(), "anon");
  EXPECT_TRUE(ds.ColumnInfo(1).Modified);
  EXPECT_TRUE(ds.ColumnInfo(0).Modified);  // a key column is always written
  EXPECT_FALSE(F("id").IsNull());          // an empty text, not NULL
  EXPECT_TRUE(F("data").IsNull());
  ds.PostRecord();
  ASSERT_EQ(ds.RowCount(), 3);
  EXPECT_EQ(CachedText(ds, 1, 1), "anon");
  EXPECT_EQ(CachedText(ds, 1, 0), "0");  // the insert id: no connection here
  EXPECT_EQ(CachedText(ds, 2, 1), "y");
  EXPECT_EQ(ds.RowIndex(), 1);
  EXPECT_EQ(ds.Rows()->Row(2).RowNumber, 2);
  EXPECT_FALSE(ds.ColumnInfo(1).Modified);
}

TEST_F(MySQLValues, DeleteRemovesTheCachedRowAndShowsTheNext) {
  OpenTypes({FullRow(), FullRow(), FullRow()});
  ds.BeginEdit();
  F("name").SetAsString("first");
  ds.PostRecord();
  ds.DeleteRecord();
  EXPECT_EQ(ds.RowCount(), 2);
  EXPECT_EQ(ds.RowIndex(), 0);
  EXPECT_EQ(F("name").AsString(), "Alice");
  ds.MoveLast();
  ds.DeleteRecord();
  EXPECT_EQ(ds.RowIndex(), 0);
  ds.DeleteRecord();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.Cursor(), -1);
}

TEST_F(MySQLValues, EmptyDeleteTemplateKeepsTheRow) {
  OpenTypes({FullRow()});
  ds.SQLDelete().Clear();
  ds.DeleteRecord();
  EXPECT_EQ(ds.RowCount(), 1);
}

// --- Blobs ----------------------------------------------------------------------------------

TEST_F(MySQLValues, BlobStreamOnAnInsertedRowWritesExactlyWhatWasGiven) {
  OpenTypes({FullRow()});
  ds.BeginAppend();
  TField& data = F("data");
  {
    std::unique_ptr<TStream> stream = ds.OpenBlobStream(data, TDataSet::TBlobStreamMode::Write);
    EXPECT_EQ(stream->Size(), 0);
    EXPECT_EQ(stream->Write("0123456789", 10), 10);
    EXPECT_EQ(stream->Size(), 10);
    EXPECT_EQ(stream->Seek(0, TSeekOrigin::FromEnd), 10);
    char byte = 'z';
    EXPECT_EQ(stream->Read(&byte, 1), 0);
    EXPECT_EQ(byte, 'z');
    EXPECT_EQ(stream->Seek(-4, TSeekOrigin::FromCurrent), 6);
    EXPECT_EQ(stream->Write("AB", 2), 2);
    EXPECT_EQ(stream->Seek(12, TSeekOrigin::FromBeginning), 12);
    EXPECT_EQ(stream->Write("!", 1), 1);  // the gap is zero-filled
  }
  EXPECT_EQ(data.AsString(), std::string("012345AB89\0\0!", 13));
  EXPECT_TRUE(ds.Modified());
  ds.PostRecord();
  EXPECT_EQ(ds.RowCount(), 2);
  EXPECT_EQ(std::string(ds.RowAt(1).Cell(10).Bytes), std::string("012345AB89\0\0!", 13));
}

TEST_F(MySQLValues, BlobStreamsRefuseWritesOutsideEditingAndOnReadOnlyFields) {
  OpenTypes({FullRow()});
  EXPECT_EQ(MessageOf([&] { ds.OpenBlobStream(F("data"), TDataSet::TBlobStreamMode::Write); }),
            "Dataset not in edit or insert mode");
  std::unique_ptr<TStream> reader = ds.OpenBlobStream(F("data"), TDataSet::TBlobStreamMode::Read);
  EXPECT_EQ(reader->Size(), 3);
  EXPECT_EQ(reader->Write("x", 1), 0);
  ds.BeginEdit();
  F("data").SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { ds.OpenBlobStream(F("data"), TDataSet::TBlobStreamMode::Write); }),
            "Field is readonly");
}

TEST_F(MySQLValues, MovingOntoAnEmptyBlobShowsItEmpty) {
  Cells second = FullRow();
  second[10] = std::nullopt;
  second[11] = "";
  OpenTypes({FullRow(), second});
  EXPECT_EQ(F("data").AsString().size(), 3u);
  ds.MoveNext();
  EXPECT_EQ(F("data").AsString(), "");
  EXPECT_TRUE(F("data").IsNull());
  EXPECT_FALSE(F("memo").IsNull());  // empty text is a value
}

TEST_F(MySQLValues, EditedBlobReachesTheCachedRowAndCancelRestoresIt) {
  OpenTypes({FullRow()});
  ds.BeginEdit();
  F("memo").SetAsString("new text");
  EXPECT_EQ(std::string(ds.RowAt(0).Cell(11).Bytes), "new text");
  ds.CancelRecord();
  EXPECT_EQ(F("memo").AsString(), "text");
  ds.BeginEdit();
  F("memo").Clear();
  ds.PostRecord();
  EXPECT_TRUE(F("memo").IsNull());
}

TEST_F(MySQLValues, StreamKeptAfterCloseReadsNothing) {
  OpenTypes({FullRow()});
  std::unique_ptr<TStream> stream = ds.OpenBlobStream(F("data"), TDataSet::TBlobStreamMode::Read);
  ds.CloseDataset();
  char buffer[4];
  EXPECT_EQ(stream->Read(buffer, 4), 0);
  EXPECT_EQ(stream->Size(), 0);
}

// --- Rows, bookmarks -------------------------------------------------------------------------

TEST(MySQLRows, RowIndexCountsFromZeroAndClampsOutOfRangeWrites) {
  TFakeMySQLDataset ds;
  std::vector<Cells> rows;
  for (int i = 0; i < 10; ++i) rows.push_back({std::to_string(i)});
  ds.OpenOver({Col("n", MySQLType::Long)}, rows);
  EXPECT_EQ(ds.RowCount(), 10);
  EXPECT_EQ(ds.RowIndex(), 0);
  ds.MoveLast();
  EXPECT_EQ(ds.RowIndex(), 9);
  ds.SetRowIndex(4);
  EXPECT_EQ(ds.RequireField("n").AsInteger(), 4);
  ds.SetRowIndex(99);
  EXPECT_EQ(ds.RowIndex(), 9);
  ds.SetRowIndex(-5);
  EXPECT_EQ(ds.RowIndex(), 0);
  EXPECT_TRUE(ds.BookmarkValid(9));
  EXPECT_FALSE(ds.BookmarkValid(10));
  EXPECT_FALSE(ds.BookmarkValid(-1));
  EXPECT_FALSE(ds.BookmarkValid(std::nullopt));
  EXPECT_EQ(ds.CompareBookmarks(10, 3), -1);
  EXPECT_EQ(ds.CompareBookmarks(3, 10), 1);
  EXPECT_EQ(ds.CompareBookmarks(3, 3), 0);
  ds.CloseDataset();
  EXPECT_EQ(ds.RowCount(), 0);
  EXPECT_EQ(ds.RowIndex(), -1);
}

TEST(MySQLRows, MovingAlongReadsEveryRowOnce) {
  TFakeMySQLDataset ds;
  std::vector<Cells> rows;
  for (int i = 0; i < 50; ++i) rows.push_back({std::to_string(i), "r" + std::to_string(i)});
  ds.OpenOver({Col("n", MySQLType::Long), Col("s", MySQLType::VarString, 0, 40)}, rows);
  int expected = 0;
  for (; !ds.Eof(); ds.MoveNext()) {
    EXPECT_EQ(ds.RequireField("n").AsInteger(), expected);
    EXPECT_EQ(ds.RequireField("s").AsString(), "r" + std::to_string(expected));
    ++expected;
  }
  EXPECT_EQ(expected, 50);
}

TEST(MySQLRows, ClosedDatasetWithoutServerDestroysQuietlyAndRefusesToOpen) {
  auto ds = std::make_unique<TMySQLDataset>();
  ds->SQL().SetText("select 1");
  try {
    ds->OpenDataset();
    FAIL() << "opened without a server";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "No server selected for open");
  }
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(MessageOf([&] { ds->CloseLink(); }), "No server selected for close");
  ds.reset();
}

// --- Published properties -------------------------------------------------------------------------

TEST(MySQLPublished, DatasetPublishesItsPropertiesAndEvents) {
  TMySQLDataset ds;
  for (const char* name :
       {"TableName", "FieldName", "MacroDel", "Macros", "MacrosEnabled", "SQL", "SQLUpdate",
        "SQLInsert", "SQLDelete", "SQLBatch", "Server", "DatabaseName", "CachedUpdates",
        "ReadOnly", "ShareConnection", "MasterFields", "MasterSource", "AllFieldValues",
        "Filtered", "Filter", "Active", "Name", "Tag", "OnExecSQL", "BeforeOpen", "AfterScroll",
        "OnPostError", "OnNewRecord"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(FindProperty(ds.ClassInfo(), name), nullptr);
  }
  const PropertyInfo* macro_del = FindProperty(ds.ClassInfo(), "macrodel");
  EXPECT_EQ(macro_del->Read(ds).AsString(), "[,]");
  macro_del->Write(ds, Variant(std::string("{;}")));
  EXPECT_EQ(ds.MacroOpen(), "{");
  EXPECT_EQ(ds.MacroClose(), "}");
  EXPECT_EQ(FindProperty(ds.ClassInfo(), "ReadOnly")->Read(ds).AsBoolean(), false);
  EXPECT_EQ(FindProperty(ds.ClassInfo(), "AfterOpen")->Kind, PropertyKind::Event);
  EXPECT_FALSE(FindProperty(ds.ClassInfo(), "AfterOpen")->Writable());
  TStringList sql;
  sql.SetText("select 2");
  FindProperty(ds.ClassInfo(), "SQL")->WriteObject(ds, &sql);
  EXPECT_EQ(ds.SQL().Text(), "select 2\r\n");
  FindProperty(ds.ClassInfo(), "SQL")->WriteObject(ds, nullptr);  // an owned list stays
  EXPECT_EQ(ds.SQL().Text(), "select 2\r\n");
}

TEST(MySQLPublished, FieldsPublishTheirClassProperties) {
  TFakeMySQLDataset ds;
  ds.OpenOver({Col("n", MySQLType::Long), Col("s", MySQLType::String, kEnumFlag, 4),
               Col("f", MySQLType::Double), Col("m", MySQLType::Blob, kBlobFlag, 400),
               Col("b", MySQLType::LongLong)},
              {});
  TField& n = ds.RequireField("n");
  EXPECT_EQ(FindProperty(n.ClassInfo(), "ProviderFlags")->Read(n).AsInteger(), 3);
  EXPECT_EQ(FindProperty(n.ClassInfo(), "Alignment")->Read(n).AsInteger(), taRightJustify);
  EXPECT_EQ(FindProperty(n.ClassInfo(), "MaxValue")->Kind, PropertyKind::Integer);
  EXPECT_FALSE(FindProperty(n.ClassInfo(), "HasConstraints")->Writable());
  EXPECT_EQ(FindProperty(n.ClassInfo(), "Visible")->Read(n).AsBoolean(), true);
  TField& s = ds.RequireField("s");
  EXPECT_EQ(FindProperty(s.ClassInfo(), "StringType")->Read(s).AsInteger(), stEnum);
  EXPECT_EQ(FindProperty(s.ClassInfo(), "Alignment")->Read(s).AsInteger(), taLeftJustify);
  EXPECT_EQ(FindProperty(s.ClassInfo(), "Size")->Default, "20");
  TField& f = ds.RequireField("f");
  EXPECT_NE(FindProperty(f.ClassInfo(), "Currency"), nullptr);
  EXPECT_EQ(FindProperty(f.ClassInfo(), "Precision")->Read(f).AsInteger(), 15);
  TField& m = ds.RequireField("m");
  const PropertyInfo* blob_type = FindProperty(m.ClassInfo(), "BlobType");
  EXPECT_EQ(blob_type->EnumNames[static_cast<size_t>(blob_type->Read(m).AsInteger())], "ftMemo");
  EXPECT_NE(FindProperty(m.ClassInfo(), "Transliterate"), nullptr);
  TField& b = ds.RequireField("b");
  EXPECT_EQ(FindProperty(b.ClassInfo(), "MinValue")->Kind, PropertyKind::Int64);
  FindProperty(n.ClassInfo(), "FieldName")->Write(n, Variant(std::string("renamed")));
  EXPECT_EQ(ds.LookupField("renamed"), &n);
  EXPECT_EQ(FindProperty(n.ClassInfo(), "DisplayLabel")->Read(n).AsString(), "renamed");
}

}  // namespace
}  // namespace quill::test

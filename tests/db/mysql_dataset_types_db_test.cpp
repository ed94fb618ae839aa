// One fixture table with a column of every server type the type mapping
// knows: field types and sizes, values read back, NULLs, blob streams,
// bookmarks and row numbers over a real result.
#include <gtest/gtest.h>

#include "mysql_dataset/mysql_string_field.h"
#include "mysql_dataset_test_support.h"

namespace quill::test {
namespace {

class DatasetTypesTest : public DatasetDbTest {
 protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    if (IsSkipped()) return;
    Exec(server(), "drop table if exists ds_types");
    Exec(server(),
         "create table ds_types ("
         " id int not null auto_increment primary key,"
         " c_tiny tinyint, c_utiny tinyint unsigned, c_small smallint,"
         " c_usmall smallint unsigned, c_int int not null default 0, c_uint int unsigned,"
         " c_medium mediumint, c_big bigint, c_ubig bigint unsigned,"
         " c_dec decimal(10,2), c_float float, c_double double,"
         " c_date date, c_time time, c_datetime datetime, c_ts timestamp null default null,"
         " c_year year, c_enum enum('a','b'), c_set set('x','y','z'),"
         " c_char char(10), c_varchar varchar(255), c_wide varchar(3000), c_text text,"
         " c_blob blob, c_varbinary varbinary(16), c_bit bit(8), c_json json,"
         " key (c_int), unique key (c_char))");
    Exec(server(),
         "insert into ds_types values (1, -128, 255, -32768, 65535, -2147483648, 4294967295,"
         " -8388608, -9223372036854775808, 18446744073709551615, 12345678.91, 1.5, 2.25,"
         " '2001-12-31', '23:59:59', '2001-12-31 23:59:59', '2001-12-31 23:59:59', 2001,"
         " 'b', 'x,z', 'char', 'varchar \xC3\xA9', repeat('w', 3000), 'text', 0x000102,"
         " 0x00ff, b'101', '{\"k\": 1}')");
    Exec(server(), "insert into ds_types (id) values (2)");
  }
};

TEST_F(DatasetTypesTest, EveryColumnTypeGivesItsFieldTypeAndSize) {
  auto ds = NewDataset("select * from ds_types order by id");
  ds->OpenDataset();
  struct Expect {
    const char* name;
    TFieldType type;
    int32_t size;
  };
  const Expect expected[] = {
      {"id", ftAutoInc, 0},        {"c_tiny", ftSmallint, 0},   {"c_utiny", ftWord, 0},
      {"c_small", ftSmallint, 0},  {"c_usmall", ftWord, 0},     {"c_int", ftInteger, 0},
      {"c_uint", ftLargeint, 0},   {"c_medium", ftInteger, 0},  {"c_big", ftLargeint, 0},
      {"c_ubig", ftLargeint, 0},   {"c_dec", ftFloat, 0},       {"c_float", ftFloat, 0},
      {"c_double", ftFloat, 0},    {"c_date", ftDate, 0},       {"c_time", ftTime, 0},
      {"c_datetime", ftDateTime, 0}, {"c_ts", ftDateTime, 0},   {"c_year", ftWord, 0},
      {"c_enum", ftString, 1},     {"c_set", ftString, 5},      {"c_char", ftString, 10},
      {"c_varchar", ftString, 255}, {"c_wide", ftMemo, 3000},   {"c_text", ftMemo, 65535},
      {"c_blob", ftBlob, 65535},   {"c_varbinary", ftString, 16}, {"c_bit", ftUnknown, 0},
      {"c_json", ftMemo, 1073741823},
  };
  ASSERT_EQ(ds->FieldCount(), static_cast<int>(std::size(expected)));
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    TField& f = ds->RequireField(e.name);
    EXPECT_EQ(f.DataType(), e.type);
    if (e.size != 0) {
      EXPECT_EQ(f.Size(), e.size);
    }
  }
  EXPECT_EQ(ds->ColumnInfo(10).FieldType, 246);  // DECIMAL keeps its code
  EXPECT_EQ(ds->ColumnInfo(18).FieldType, 247);
  EXPECT_EQ(ds->ColumnInfo(19).FieldType, 248);
  EXPECT_EQ(ds->ColumnInfo(19).EnumValues, "\"x\",\"y\",\"z\"");
  EXPECT_EQ(static_cast<TMySQLStringField&>(ds->RequireField("c_set")).StringType(), stSet);
  EXPECT_EQ(ds->UniqueFields(), "c_char");
  EXPECT_EQ(ds->MultiFields(), "c_int");
}

TEST_F(DatasetTypesTest, ValuesReadAsTheirTypes) {
  auto ds = NewDataset("select * from ds_types order by id");
  ds->OpenDataset();
  auto f = [&](const char* name) -> TField& { return ds->RequireField(name); };
  EXPECT_EQ(f("c_tiny").AsInteger(), -128);
  EXPECT_EQ(f("c_utiny").AsInteger(), 255);
  EXPECT_EQ(f("c_small").AsInteger(), -32768);
  EXPECT_EQ(f("c_usmall").AsInteger(), 65535);
  EXPECT_EQ(f("c_int").AsInteger(), -2147483648);
  EXPECT_EQ(f("c_uint").AsLargeInt(), 4294967295);
  EXPECT_EQ(f("c_medium").AsInteger(), -8388608);
  EXPECT_EQ(f("c_big").AsLargeInt(), INT64_MIN);
  // Above the largest 64-bit signed value: a clear conversion error.
  EXPECT_EQ(ErrorOf([&] { f("c_ubig").AsLargeInt(); }),
            "'18446744073709551615' is not a valid integer value");
  EXPECT_DOUBLE_EQ(f("c_dec").AsFloat(), 12345678.91);
  EXPECT_DOUBLE_EQ(f("c_float").AsFloat(), 1.5);
  EXPECT_DOUBLE_EQ(f("c_double").AsFloat(), 2.25);
  EXPECT_EQ(f("c_year").AsInteger(), 2001);
  EXPECT_EQ(f("c_enum").AsString(), "b");
  EXPECT_EQ(f("c_set").AsString(), "x,z");
  EXPECT_EQ(f("c_varchar").AsString(), "varchar \xC3\xA9");
  EXPECT_EQ(f("c_wide").AsString(), std::string(3000, 'w'));
  EXPECT_EQ(f("c_text").AsString(), "text");
  EXPECT_EQ(f("c_blob").AsString(), std::string("\x00\x01\x02", 3));
  EXPECT_EQ(f("c_varbinary").AsString(), std::string("\x00\xff", 2));
  EXPECT_EQ(f("c_bit").AsString(), "\x05");
  EXPECT_EQ(f("c_json").AsString(), "{\"k\": 1}");
  EXPECT_EQ(f("c_date").DisplayText(), "12/31/2001");
  EXPECT_EQ(f("c_datetime").DisplayText(), "12/31/2001 11:59:59 PM");
  EXPECT_EQ(f("c_blob").DisplayText(), "(BLOB)");
  EXPECT_EQ(f("c_text").DisplayText(), "(MEMO)");
}

TEST_F(DatasetTypesTest, NullRowReadsNullEverywhere) {
  auto ds = NewDataset("select * from ds_types order by id");
  ds->OpenDataset();
  ds->MoveNext();
  for (int i = 0; i < ds->FieldCount(); ++i) {
    TField& field = ds->Field(i);
    SCOPED_TRACE(field.FieldName());
    if (field.FieldName() == "id" || field.FieldName() == "c_int") continue;
    EXPECT_TRUE(field.IsNull());
    EXPECT_TRUE(field.AsVariant().IsNull());
  }
  EXPECT_EQ(ds->RequireField("c_blob").DisplayText(), "(Blob)");
  EXPECT_EQ(ds->RequireField("c_int").AsInteger(), 0);
}

TEST_F(DatasetTypesTest, BlobStreamOnAnInsertedRow) {
  auto ds = NewDataset("select * from ds_types order by id");
  ds->OpenDataset();
  ds->BeginAppend();
  TField& blob = ds->RequireField("c_blob");
  {
    std::unique_ptr<TStream> stream = ds->OpenBlobStream(blob, TDataSet::TBlobStreamMode::Write);
    EXPECT_EQ(stream->Write("0123456789", 10), 10);
    EXPECT_EQ(stream->Seek(0, TSeekOrigin::FromEnd), 10);
    char byte = 0;
    EXPECT_EQ(stream->Read(&byte, 1), 0);
  }
  EXPECT_EQ(blob.AsString(), "0123456789");
  ds->CancelRecord();
  EXPECT_EQ(ds->RowCount(), 2);
}

TEST_F(DatasetTypesTest, RowNumbersAndBookmarksOverTenRows) {
  Exec(server(), "drop table if exists ds_ten");
  Exec(server(), "create table ds_ten (n int)");
  Exec(server(), "insert into ds_ten values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)");
  auto ds = NewDataset("select n from ds_ten order by n");
  ds->OpenDataset();
  EXPECT_EQ(ds->RowCount(), 10);
  EXPECT_EQ(ds->RowIndex(), 0);
  ds->MoveLast();
  EXPECT_EQ(ds->RowIndex(), 9);
  EXPECT_FALSE(ds->BookmarkValid(10));
  const std::optional<int64_t> last = ds->GetBookmark();
  ds->MoveFirst();
  ds->GotoBookmark(*last);
  EXPECT_EQ(ds->RequireField("n").AsInteger(), 9);
  ds->SetRowIndex(12);
  EXPECT_EQ(ds->RequireField("n").AsInteger(), 9);
}

}  // namespace
}  // namespace quill::test

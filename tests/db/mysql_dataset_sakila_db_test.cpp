// Every table and view of the sample database, opened as a dataset and
// checked column by column against what the server's "show columns" says:
// field type, size, enum and set values, default and the required rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "mysql_dataset/mysql_string_field.h"
#include "mysql_dataset_test_support.h"
#include "sql_parser/qz_str_utils.h"

namespace quill::test {
namespace {

struct ShownColumn {
  std::string field, type, null, key, extra;
  std::optional<std::string> default_text;
};

std::vector<ShownColumn> ShowColumns(TMySQLServer& server, const std::string& table) {
  std::vector<ShownColumn> out;
  const std::string sql = "show columns from sakila." + server.QuoteName(table);
  if (!ClientRealQuery(server.Handle(), sql)) {
    ADD_FAILURE() << sql << ": " << ClientError(server.Handle());
    return out;
  }
  MySQLResult rows = ClientStoreResult(server.Handle());
  while (rows && rows.Next()) {
    ShownColumn c;
    c.field = rows.Text(0);
    c.type = rows.Text(1);
    c.null = rows.Text(2);
    c.key = rows.Text(3);
    if (!rows.IsNull(4)) c.default_text = std::string(rows.Text(4));
    c.extra = rows.Text(5);
    out.push_back(c);
  }
  return out;
}

struct Expected {
  TFieldType type = ftUnknown;
  int32_t size = -1;  // -1: not checked
  std::string values;
};

// What the type mapping must make of a "show columns" type text.
Expected FromShownType(const std::string& shown) {
  const std::string type = LowerCase(shown);
  const size_t paren = type.find('(');
  const std::string base = type.substr(0, std::min(type.find(' '), paren));
  const std::string args =
      paren == std::string::npos ? "" : shown.substr(paren + 1, shown.rfind(')') - paren - 1);
  const bool is_unsigned = type.find("unsigned") != std::string::npos;
  Expected e;
  if (base == "tinyint" || base == "smallint") {
    e.type = is_unsigned ? ftWord : ftSmallint;
  } else if (base == "mediumint") {
    e.type = ftInteger;
  } else if (base == "int") {
    e.type = is_unsigned ? ftLargeint : ftInteger;
  } else if (base == "bigint") {
    e.type = ftLargeint;
  } else if (base == "decimal" || base == "float" || base == "double") {
    e.type = ftFloat;
  } else if (base == "date") {
    e.type = ftDate;
  } else if (base == "time") {
    e.type = ftTime;
  } else if (base == "datetime" || base == "timestamp") {
    e.type = ftDateTime;
  } else if (base == "year") {
    e.type = ftWord;
  } else if (base == "char" || base == "varchar" || base == "binary" || base == "varbinary") {
    e.size = std::stoi(args);
    e.type = e.size <= 2048 ? ftString : ftMemo;
  } else if (base == "enum" || base == "set") {
    e.type = ftString;
    TStringList items;
    std::string values = args;
    std::replace(values.begin(), values.end(), '\'', '"');
    e.values = values;
    items.SetCommaText(values);
    int longest = 0, total = 0;
    for (const std::string& item : items.Lines()) {
      longest = std::max(longest, static_cast<int>(item.size()));
      total += static_cast<int>(item.size());
    }
    e.size = base == "enum" ? longest : total + items.Count() - 1;
  } else if (base == "tinytext") {
    e = {ftMemo, 255, ""};
  } else if (base == "text") {
    e = {ftMemo, 65535, ""};
  } else if (base == "mediumtext") {
    e = {ftMemo, 16777215, ""};
  } else if (base == "longtext") {
    e = {ftMemo, 1073741823, ""};
  } else if (base == "tinyblob") {
    e = {ftBlob, 255, ""};
  } else if (base == "blob") {
    e = {ftBlob, 65535, ""};
  } else if (base == "mediumblob") {
    e = {ftBlob, 16777215, ""};
  } else if (base == "longblob") {
    e = {ftBlob, 0x7FFFFFFF, ""};
  } else {
    e.type = ftUnknown;  // geometry, bit and the like
  }
  return e;
}

bool IsTemporalOrNumeric(TFieldType type) {
  switch (type) {
    case ftString:
    case ftMemo:
    case ftBlob:
    case ftUnknown:
      return false;
    default:
      return true;
  }
}

TEST_F(DatasetDbTest, EverySakilaTableAndViewMatchesShowColumns) {
  if (!settings_.sakila) GTEST_SKIP() << "sakila not loaded: run the tests through scripts/run-tests";
  TStringList tables;
  server().GetTableNames("sakila", tables);
  ASSERT_GE(tables.Count(), 20);
  for (const std::string& table : tables.Lines()) {
    SCOPED_TRACE(table);
    auto ds = std::make_unique<TMySQLDataset>();
    ds->SetServer(&server());
    ds->SetDatabaseName("sakila");
    ds->SQL().SetText("select * from " + server().QuoteName(table) + " limit 5");
    ds->OpenDataset();
    const std::vector<ShownColumn> shown = ShowColumns(server(), table);
    ASSERT_EQ(ds->ColumnCount(), static_cast<int>(shown.size()));
    for (int i = 0; i < ds->ColumnCount(); ++i) {
      const ShownColumn& c = shown[static_cast<size_t>(i)];
      SCOPED_TRACE(c.field + " " + c.type);
      const TFieldInfo& info = ds->ColumnInfo(i);
      TField& field = ds->Field(i);
      EXPECT_EQ(info.Name, c.field);
      const Expected e = FromShownType(c.type);
      // A view's column keeps the auto-increment flag of its table's column,
      // which the view's listing does not show.
      const bool auto_increment = c.extra.find("auto_increment") != std::string::npos ||
                                  (info.Flags & kAutoIncrementFlag) != 0;
      // A 64-bit counter keeps its 64-bit field.
      EXPECT_EQ(static_cast<int>(field.DataType()),
                auto_increment && e.type != ftLargeint ? ftAutoInc : e.type);
      if (e.size >= 0) {
        EXPECT_EQ(field.Size(), e.size);
      }
      EXPECT_EQ(info.EnumValues, e.values);
      if (!e.values.empty()) {
        auto& string_field = static_cast<TMySQLStringField&>(field);
        EXPECT_EQ(string_field.StringType(), c.type.rfind("set", 0) == 0 ? stSet : stEnum);
      }
      std::string wanted_default = c.default_text.value_or("");
      const bool expression = !wanted_default.empty() && std::isalpha(static_cast<unsigned char>(
                                                             wanted_default[0])) &&
                              IsTemporalOrNumeric(e.type);
      if (expression) wanted_default.clear();
      EXPECT_EQ(info.Default, wanted_default);
      // A default the server computes is the server's to fill in: a new row
      // leaves the column NULL and need not give it.
      EXPECT_EQ(info.ServerDefault, expression);
      const bool computed = info.Table.empty();
      EXPECT_EQ(field.ReadOnly(), computed || auto_increment);
      EXPECT_EQ(field.Required(), c.null == "NO" && !computed && !auto_increment && !expression);
    }
    // Every row reads without a conversion failure.
    for (ds->MoveFirst(); !ds->Eof(); ds->MoveNext()) {
      for (int i = 0; i < ds->FieldCount(); ++i) (void)ds->Field(i).DisplayText();
    }
  }
}

}  // namespace
}  // namespace quill::test

// The MySQL dataset's collaborators on their own, without a server: the
// column description, the SQL template expansion, the row condition and the
// row search.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "fake_result.h"
#include "memory_dataset.h"
#include "mysql_dataset/column_description.h"
#include "mysql_dataset/row_condition.h"
#include "mysql_dataset/row_search.h"
#include "mysql_dataset/sql_expander.h"
#include "support/error_text.h"

namespace quill::test {
namespace {

TEST(DatasetParts, ColumnDescriptionNamesKeysTablesAndTypes) {
  TColumnDescription columns;
  MySQLFieldDesc counted = Col("n", MySQLType::LongLong, 0, 21, "");
  MySQLFieldDesc temporary = Col("t", MySQLType::Long, 0, 11, "#sql-1");
  columns.Describe({Col("id", MySQLType::Long, kPriKeyFlag, 11, "b"),
                    Col("id", MySQLType::Long, kUniqueKeyFlag, 11, "a"),
                    Col("kind", MySQLType::String, kEnumFlag | kMultipleKeyFlag, 40, "a"),
                    Col("name", MySQLType::VarString, 0, 160, "a"), counted, counted, temporary});
  ASSERT_EQ(columns.Count(), 7);
  EXPECT_EQ(columns.DisplayName(0), "b.id");
  EXPECT_EQ(columns.DisplayName(1), "a.id");
  EXPECT_EQ(columns.DisplayName(2), "kind");
  EXPECT_EQ(columns.DisplayName(5), "n_1");  // computed twins get numbers
  EXPECT_EQ(columns.IndexOf("A.ID"), 1);
  EXPECT_EQ(columns.IndexOf("nosuch"), -1);
  EXPECT_EQ(columns.ResultTables(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(columns.PrimaryFields(), "id");
  EXPECT_EQ(columns.UniqueFields(), "id");
  EXPECT_EQ(columns.MultiFields(), "kind");
  EXPECT_EQ(columns.Info(2).FieldType, kEnumType);
  EXPECT_EQ(columns.Info(3).Length, 40u);  // utf8mb4 bytes to characters
  EXPECT_TRUE(columns.Info(4).Table.empty());
  EXPECT_TRUE(columns.Info(6).Table.empty());
  EXPECT_EQ(MapColumnType(columns.Info(3)).Type, ftString);
  columns.Clear();
  EXPECT_TRUE(columns.Empty() && columns.ResultTables().empty() && columns.PrimaryFields().empty());

  // The cache's controls; statements of any shape are taken without harm.
  EXPECT_EQ(TColumnDescription::CacheMaxAge(), std::chrono::seconds(60));
  TColumnDescription::SetCacheMaxAge(std::chrono::milliseconds(-5));
  EXPECT_EQ(TColumnDescription::CacheMaxAge().count(), 0);
  TColumnDescription::SetCacheMaxAge(std::chrono::seconds(60));
  TMySQLServer server;
  for (const char* sql : {"", "alter table `t``x", "drop table 'open", "rename /* table",
                          "truncate -- t", "select 1; drop table t, u", "\xff\xfe;;;"}) {
    TColumnDescription::StatementSent(server, sql);
  }
}

// Names, condition and macros for the expander, without fields or records.
class FixedContext : public TMacroContext {
 public:
  std::string QuoteName(const std::string& name) const override { return "`" + name + "`"; }
  std::string EscapeString(std::string_view text) const override {
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("\\'") : std::string(1, c);
    return out;
  }
  const std::string& DatabaseName() const override { return database; }
  const std::string& TableName() const override { return table; }
  const std::string& FieldNames() const override { return field_names; }
  std::string Condition() const override { return condition; }
  std::string FieldListText() const override { return "*"; }
  void ReloadPrivileges() override { ++reloads; }
  const TColumnDescription& Columns() const override { return columns; }
  const TField* LookupField(std::string_view) const override { return nullptr; }
  const TMySQLRecord* CurrentRecord() const override { return nullptr; }
  const TMySQLRecord* EditStartRecord() const override { return nullptr; }
  const TMySQLMacros& Macros() const override { return macros; }

  std::string database = "shop", table = "order", field_names = "id;name", condition;
  int reloads = 0;
  TColumnDescription columns;
  TMySQLMacros macros;
};

TEST(DatasetParts, SqlExpanderReplacesMacrosAndInsertsTheCondition) {
  FixedContext context;
  context.macros.AddMacro("LIMIT").Value = Variant("LIMIT 5");
  TSqlExpander expander(context, "[", "]");
  EXPECT_EQ(expander.Expand("select [$FIELDS] from [$TABLENAME] [WHERE] [LIMIT]", true),
            "select * from `order`  LIMIT 5");  // the empty macro keeps its blanks
  EXPECT_FALSE(expander.Notes().Limit);  // the macro's text is not the statement's
  EXPECT_EQ(expander.Expand("select '[$TABLENAME]' from t -- [$TABLENAME]", false),
            "select '[$TABLENAME]' from t -- [$TABLENAME]");
  EXPECT_EQ(expander.MacroValue("$DATABASENAME"), "`shop`");
  EXPECT_EQ(expander.MacroValue("$FIELDNAME"), "`id`");
  EXPECT_EQ(expander.MacroValue("$WHERE"), "");
  EXPECT_EQ(expander.MacroValue("nosuch"), "");
  EXPECT_EQ(expander.MacroValue("$RELOAD"), "");
  EXPECT_EQ(context.reloads, 1);

  context.condition = "(a=1)";
  EXPECT_EQ(expander.Expand("select * from t order by x", true),
            "select * from t  WHERE (a=1) order by x");
  EXPECT_EQ(expander.Expand("select * from t where b=2 limit 3", true),
            "select * from t  WHERE (a=1) AND b=2 limit 3");
  EXPECT_TRUE(expander.Notes().Limit);
  EXPECT_EQ(expander.Expand("update t set a=2", true), "update t set a=2");
  EXPECT_EQ(expander.MacroValue("$WHERE"), "WHERE (a=1)");
  EXPECT_EQ(expander.Expand("select [unterminated", true).substr(0, 6), "select");
  EXPECT_EQ(TSqlExpander::HexStr(std::string("\x01\xAB", 2)), "0x01AB");
  EXPECT_EQ(TSqlExpander::HexStr(""), "NULL");
}

TEST(DatasetParts, RowConditionJoinsFilterAndMasterLink) {
  const auto escape = [](std::string_view text) {
    std::string out(text);
    for (size_t at = out.find('\''); at != std::string::npos; at = out.find('\'', at + 2)) {
      out.insert(at, 1, '\\');
    }
    return out;
  };
  TRowCondition condition;
  EXPECT_EQ(condition.Build(nullptr, escape), "");
  EXPECT_TRUE(condition.SetFilter("a = ?"));
  EXPECT_FALSE(condition.SetFilter("a = ?"));
  EXPECT_EQ(condition.Build(nullptr, escape), "");  // not Filtered yet
  EXPECT_TRUE(condition.SetFiltered(true));
  EXPECT_EQ(condition.Build(nullptr, escape), "(a = ?)");
  condition.SetFilterParams(std::vector<Variant>{Variant("it's")});
  EXPECT_EQ(condition.Build(nullptr, escape), "(a = 'it\\'s')");
  condition.SetFilterParams(std::vector<Variant>{});
  EXPECT_NE(MessageOf([&] { condition.Build(nullptr, escape); }).find("placeholder"),
            std::string::npos);
  condition.SetFilterParams(std::nullopt);

  EXPECT_TRUE(condition.SetMasterFields("cust=id,name=name"));
  EXPECT_FALSE(condition.SetMasterFields("cust=id name=name"));
  EXPECT_EQ(condition.MasterFieldNames(), "id;name");
  TMemoryDataSet master;
  master.rows = {{"7", "O'Brien"}};
  master.OpenDataset();
  EXPECT_EQ(condition.Build(&master, escape),
            "(cust='7') AND (name='O\\'Brien') AND (a = ?)");
  condition.SetFiltered(false);
  EXPECT_EQ(condition.Build(&master, escape), "(cust='7') AND (name='O\\'Brien')");
  EXPECT_EQ(condition.Build(nullptr, escape), "");
}

TEST(DatasetParts, RowSearchMatchesAndLocates) {
  TMemoryDataSet ds;
  ds.MakeRows(5);
  ds.rows[3][1] = "Ärger Row";
  ds.OpenDataset();
  ds.MoveNext();  // on id 1
  EXPECT_TRUE(TRowSearch(ds, "name", Variant("ROW 1"), true, false).Matches());
  EXPECT_FALSE(TRowSearch(ds, "name", Variant("ROW 1"), false, false).Matches());
  EXPECT_TRUE(TRowSearch(ds, " id ; name", Variant(VariantArray{0, {Variant("1"), Variant("row 1")}}),
                         false, false)
                  .Matches());
  EXPECT_TRUE(TRowSearch(ds, "name", Variant("ärger"), true, true).Locate());
  EXPECT_EQ(ds.ActiveId(), 3);
  EXPECT_FALSE(TRowSearch(ds, "name", Variant("nothing"), false, true).Locate());
  EXPECT_EQ(ds.ActiveId(), 3);  // back where it started
  EXPECT_EQ(MessageOf([&] { TRowSearch(ds, "id;nosuch", Variant(), false, false); }),
            "Field 'nosuch' not found");
  EXPECT_EQ(TRowSearch::SplitNames(" a ;;b; "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(TRowSearch::FoldCase("abc äöü ÷"), "ABC ÄÖÜ ÷");
}

}  // namespace
}  // namespace quill::test

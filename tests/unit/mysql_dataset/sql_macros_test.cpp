// The macro engine of the MySQL dataset over prepared results: macro names,
// expansion, literals, PROMPT macros, conditions, the statements the editing
// hooks would send, search, and the published tables of the engine.
#include <gtest/gtest.h>

#include "base/published.h"
#include "fake_result.h"
#include "support/scripted_ui.h"
#include "support/error_text.h"

namespace quill::test {
namespace {

// A connection that never connects but has a server's version, so that the
// version rules (quoting, final ";") apply.
class VersionedServer : public TMySQLServer {
 public:
  explicit VersionedServer(const std::string& version) { SetVersionForTesting(version); }
};

constexpr unsigned kPriAuto = kNotNullFlag | kPriKeyFlag | kAutoIncrementFlag;

class MacroTest : public ::testing::Test {
 protected:
  // orders(id auto-increment key, cust, price, note, data blob).
  void OpenOrders(std::vector<Cells> rows = {{"7", "5", "3.25", "first", std::string("\x01\xAB", 2)},
                                             {"8", "6", "1.5", std::nullopt, std::nullopt}}) {
    ds.SetTableName("orders");
    ds.OpenOver({Col("id", MySQLType::Long, kPriAuto), Col("cust", MySQLType::VarString, 0, 160),
                 Col("price", MySQLType::NewDecimal, 0, 10), Col("note", MySQLType::VarString, 0, 400),
                 Col("data", MySQLType::Blob, kBlobFlag | kBinaryFlag, 255, "t", kBinaryCharsetNr)},
                std::move(rows));
  }
  std::string Expand(const std::string& sql) { return ds.ExpandSQL(sql, true); }
  TField& F(const char* name) { return ds.RequireField(name); }

  TFakeMySQLDataset ds;
};

// --- Names and expansion ---------------------------------------------------------------

TEST_F(MacroTest, TemplateNamesAreCollectedAndRecollected) {
  std::vector<std::string> names;
  for (int i = 0; i < ds.Macros().Count(); ++i) names.push_back(ds.Macros().Macro(i).Name);
  EXPECT_EQ(names, (std::vector<std::string>{"$FIELDS", "$TABLENAME", "JOIN", "WHERE", "GROUPBY",
                                             "ORDER", "LIMIT", "$MODIFIED$FIELDS&VALUES",
                                             "$PRIMARYFIELDS&VALUES"}));
  ds.Macros().FindMacro("ORDER")->Value = Variant(std::string("order by id"));
  TStringList same;
  same.SetText(ds.SQLInsert().Text());
  ds.SetSQLInsert(same);  // the same text: nothing changes
  EXPECT_EQ(ds.Macros().FindMacro("order")->AsString(), "order by id");
  same.SetText("update t set x=[NEW] # [IN_COMMENT]");
  ds.SetSQLBatch(same);  // a change: names again, values lost
  EXPECT_NE(ds.Macros().FindMacro("NEW"), nullptr);
  EXPECT_EQ(ds.Macros().FindMacro("IN_COMMENT"), nullptr);
  EXPECT_EQ(ds.Macros().FindMacro("ORDER")->AsString(), "");

  TMySQLMacros macros;  // first words only, no stray closers, hostile text ends
  macros.ParseSQL("select '[a]', [b], [c,d] /* [e] */ ] [B] [unterminated 'x [y]", "[,]", true);
  macros.ParseSQL(std::string("[n\0ul]", 6), "[,]", true);
  macros.ParseSQL("[z]", "[,]", false);
  names.clear();
  for (int i = 0; i < macros.Count(); ++i) names.push_back(macros.Macro(i).Name);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "unterminated ", "n"}));
  TMySQLMacros other;  // the same text with other delimiters names other macros
  other.ParseSQL("select '[a]', [b], [c,d] /* [e] */ ] [B] [unterminated 'x [y]", "[;]", true);
  EXPECT_NE(other.FindMacro("c,d"), nullptr);
}

TEST_F(MacroTest, ExpansionReplacesMacrosAndNormalisesBlanks) {
  ds.SetTableName("orders");
  EXPECT_EQ(Expand(ds.SQL()[0]), "select * from orders     ");
  ds.Macros().FindMacro("WHERE")->Value = Variant(std::string("where a='x' or 1=1"));
  ds.Macros().FindMacro("LIMIT")->Value = Variant(int32_t{10});
  EXPECT_EQ(Expand(ds.SQL()[0]), "select * from orders  where a='x' or 1=1   10");
  const std::pair<const char*, const char*> cases[] = {
      {"select\t*\tfrom\tt", "select*fromt"},  // only a blank after a token is kept
      {"select *\r\nfrom   t\n", "select * from t "},
      {"select '[X]', \"[Y]\" /* [Z] */ -- [W]\n# [V]", "select '[X]', \"[Y]\" /* [Z] */ -- [W] # [V]"},
      {"a [NOWHERE] b", "a  b"},
      {"[unclosed 'x", "'x"},  // the name ends in a blank: no macro
      {"", ""},
  };
  for (const auto& [sql, expanded] : cases) EXPECT_EQ(Expand(sql), expanded) << sql;

  ds.SetTableName("order lines");
  EXPECT_EQ(Expand("[$TABLENAME]"), "order lines");  // no server: unquoted
  VersionedServer modern("10.11.6-MariaDB"), old("3.23.5");
  ds.SetServer(&modern);
  EXPECT_EQ(Expand("[$TABLENAME]"), "`order lines`");
  ds.SetServer(&old);
  EXPECT_EQ(Expand("[$TABLENAME]"), "order lines");
  ds.SetServer(nullptr);

  ds.SetMacroDel("{;}");  // expansion follows, collection stays with [ ]
  EXPECT_EQ(ds.MacroDel(), "{,}");
  EXPECT_EQ(Expand("{$TABLENAME} [$TABLENAME]"), "order lines [$TABLENAME]");
  TStringList sql;
  sql.SetText("select {ONE} [TWO]");
  ds.SetSQL(sql);
  EXPECT_EQ(ds.Macros().FindMacro("ONE"), nullptr);
  EXPECT_NE(ds.Macros().FindMacro("[TWO]"), nullptr);  // split at "{,}" only
}

TEST_F(MacroTest, MacroValueHoldingAMacroIsExpandedByTheSecondPassOnly) {
  ds.Macros().AddMacro("INNER").Value = Variant(std::string("42"));
  ds.Macros().AddMacro("OUTER").Value = Variant(std::string("id=[INNER]"));
  EXPECT_EQ(Expand("select * from t where [OUTER]"), "select * from t where id=[INNER]");
  ds.SetFilter("1=1");
  ds.SetFiltered(true);
  EXPECT_EQ(Expand("select * from t where [OUTER]"), "select * from t  WHERE (1=1) AND id=42");
}

TEST_F(MacroTest, DollarAndFieldMacrosOfTheCurrentAndOldRow) {
  ds.SetDatabaseName("shop");
  ds.SetFieldName("cust;price");
  OpenOrders();
  ds.Macros().AddMacro("note").Value = Variant(std::string("macro"));
  ds.Macros().AddMacro("other").Value = Variant(std::string("macro"));
  const std::pair<const char*, const char*> cases[] = {
      {"$DATABASENAME", "shop"},
      {"$FIELDNAME", "cust"},
      {"$FIELDS", "*"},
      {"$RELOAD", ""},  // no server: nothing to reload
      {"$WHERE", ""},
      {"$FIELDNAME$VALUE", "'5'"},
      {"$FIELDNAMES&VALUES$COMMA", "cust='5',price='3.25'"},
      {"$FIELDNAMES&VALUES", "(cust='5') AND (price='3.25')"},
      {"$PRIMARYFIELDS&VALUES", "(id='7')"},
      {"$UNIQUEFIELDS&VALUES", ""},
      {"$MODIFIED$FIELDS&VALUES", ""},
      // The read-only id is left out of the lists, not out of key conditions.
      {"$UNMODIFIED$FIELDS&VALUES", "cust='5',price='3.25',note='first',data=0x01AB"},
      {"$UNMODIFIED$FIELD$NAMES", "cust,price,note,data"},
      {"$UNMODIFIED$FIELD$VALUES", "'5','3.25','first',0x01AB"},
      {"$OLD$FIELDS&VALUES",
       "(id='7') AND (cust='5') AND (price='3.25') AND (note='first') AND (data=0x01AB)"},
      {"note", "'first'"},  // a field wins over a macro of its name
      {"other", "macro"},
  };
  for (const auto& [name, text] : cases) EXPECT_EQ(ds.MacroValue(name), text) << name;
  ds.BeginEdit();
  F("note").SetAsString("second");
  EXPECT_EQ(Expand("[note] [OLD$note] [$OLD$NOTE] [$MODIFIED$FIELD$NAMES]"),
            "'second' 'first' 'first' note");
  ds.CancelRecord();
  ds.CloseDataset();
  EXPECT_EQ(Expand("[note]"), "macro");  // no field without an open result
}

TEST_F(MacroTest, LiteralsEscapeTextAndMarkNullAndBlobs) {
  OpenOrders({{"1", "O'Brien \\ \"q\"", std::nullopt, "", ""}});
  // An empty blob is a value: '' (NULL only for NULL).
  EXPECT_EQ(Expand("[cust]|[price]|[note]|[data]"), "'O\\'Brien \\\\ \\\"q\\\"'|NULL|''|''");
  EXPECT_EQ(TMySQLDataset::HexStr(std::string("abc\x00\xff", 5)), "0x61626300FF");
  EXPECT_EQ(TMySQLDataset::HexStr(""), "NULL");
  TFakeMySQLDataset persistent;  // $FIELDS names persistent data fields
  persistent.MakePersistentFields({Col("id", MySQLType::Long), Col("name", MySQLType::VarString)},
                                  {});
  persistent.OpenDataset();
  EXPECT_EQ(persistent.ExpandSQL("select [$FIELDS] from t", true), "select id,name from t");
}

TEST_F(MacroTest, PromptAsksTheUserAndQuotesTheAnswerAsAValue) {
  EXPECT_EQ(Expand("[PROMPT$a$Label$default]"), "'default'");  // no user: the default
  auto ui = std::make_shared<ScriptedUi>();
  ui->input_query_answers = {std::string("O'Hara"), std::nullopt, std::string(300, 'x')};
  ScopedUiProvider use(ui);
  EXPECT_EQ(Expand("name=[PROMPT$1$Name$Smith$*]"), "name='O\\'Hara'");
  EXPECT_EQ(Expand("[PROMPT$1$Name$Smith$]"), "'Smith'");  // Cancel
  EXPECT_EQ(Expand("[PROMPT$a$L$" + std::string(300, 'd') + "]"), "'" + std::string(255, 'x') + "'");
  ASSERT_EQ(ui->calls.size(), 3u);
  EXPECT_EQ(ui->calls[0].caption, "Value for Name");
  EXPECT_EQ(ui->calls[0].text, "Name");
  EXPECT_EQ(ui->calls[0].value, "Smith");
  EXPECT_EQ(ui->calls[0].mask, '*');
  EXPECT_EQ(ui->calls[1].mask, '\0');
  EXPECT_EQ(ui->calls[2].value, std::string(255, 'd'));  // the box holds 255 characters
}

// --- Conditions --------------------------------------------------------------------------

TEST_F(MacroTest, ConditionGoesBeforeTheFirstClauseOfASelectOnly) {
  ds.SetFilter("cust='5'");
  EXPECT_EQ(Expand("select * from t"), "select * from t");  // not Filtered
  ds.SetFiltered(true);
  const std::pair<const char*, const char*> cases[] = {
      {"select * from orders where paid=1 order by id",
       "select * from orders  WHERE (cust='5') AND paid=1 order by id"},
      {"select * from orders order by id", "select * from orders  WHERE (cust='5') order by id"},
      {"select count(*) from orders", "select count(*) from orders WHERE (cust='5') "},
      {"SELECT a FROM t GROUP BY a", "SELECT a FROM t  WHERE (cust='5') GROUP BY a"},
      {"select * from t where a in (select b from u where c=1)",
       "select * from t  WHERE (cust='5') AND a in (select b from u where c=1)"},
      {"select * from orders [$WHERE]", "select * from orders  WHERE (cust='5') AND (cust='5')"},
      {"select 'where' from `order` /* limit */", "select 'where' from `order` /* limit */ WHERE (cust='5') "},
      {"update orders set x=1 where id=2", "update orders set x=1 where id=2"},
      {"delete from orders", "delete from orders"},
  };
  for (const auto& [sql, expanded] : cases) EXPECT_EQ(Expand(sql), expanded) << sql;
  EXPECT_EQ(ds.ExpandSQL("select * from t", false), "select * from t");
  ds.SetFilter("");
  EXPECT_EQ(ds.BuildCondition(), "");
}

TEST_F(MacroTest, MasterValuesAreEscapedAndLinksMayNotCircle) {
  TFakeMySQLDataset master;
  master.OpenOver({Col("id", MySQLType::Long), Col("name", MySQLType::VarString, 0, 40)},
                  {{"5", "Smith"}, {"6", "O'Brien"}});
  auto source = std::make_unique<TDataSource>();
  source->SetDataSet(&master);
  ds.SetMasterFields("cust=id");
  EXPECT_EQ(ds.BuildCondition(), "");  // no master yet
  ds.SetMasterSource(source.get());
  EXPECT_EQ(ds.BuildCondition(), "(cust='5')");
  ds.SetFilter("total>100");
  ds.SetFiltered(true);
  EXPECT_EQ(ds.BuildCondition(), "(cust='5') AND (total>100)");
  ds.SetFiltered(false);
  master.MoveNext();
  ds.SetMasterFields("name=name, \"missing=nothing\" who=id");
  EXPECT_EQ(ds.MasterFields(), "name=name,missing=nothing,who=id");
  EXPECT_EQ(ds.BuildCondition(), "(name='O\\'Brien') AND (who='6')");

  TDataSource to_detail, to_self;
  to_detail.SetDataSet(&ds);
  to_self.SetDataSet(&master);
  EXPECT_EQ(MessageOf([&] { master.SetMasterSource(&to_self); }), "Circular Reference");
  EXPECT_EQ(MessageOf([&] { master.SetMasterSource(&to_detail); }), "Circular Reference");
  EXPECT_EQ(master.MasterSource(), nullptr);

  master.CloseDataset();
  EXPECT_EQ(ds.BuildCondition(), "");  // a closed master narrows nothing
  source.reset();
  EXPECT_EQ(ds.MasterSource(), nullptr);  // a freed source is forgotten
}

// --- Statements the hooks send ----------------------------------------------------------------

TEST_F(MacroTest, HooksSendTheTemplatesOnceExpanded) {
  OpenOrders();
  ds.BeginEdit();
  F("price").SetAsString("9.5");
  ds.PostRecord();
  ds.BeginEdit();
  ds.PostRecord();  // nothing written: nothing sent
  ds.SetFieldName("price");
  ds.ColumnInfo(3).ServerDefault = true;  // note DEFAULT uuid(), say
  ds.BeginAppend();
  EXPECT_TRUE(F("note").IsNull());
  F("data").SetAsString(std::string("\x00\x01", 2));
  ds.PostRecord();
  EXPECT_EQ(F("id").AsString(), "0");  // no connection: no insert id
  ds.MoveFirst();
  ds.DeleteRecord();
  TStringList update;
  update.SetText("update a set x=[OLD$id];\n;\nx;\nupdate b set y=[id]");
  ds.SetSQLUpdate(update);
  ds.BeginEdit();
  F("cust").SetAsString("z");
  ds.PostRecord();
  EXPECT_EQ(ds.sent, (std::vector<std::string>{
                         "update orders set price='9.5' where (id='7')",
                         "insert into orders set price='',data=0x0001",  // key (read-only) and FieldName
                         "delete from orders where (id='7')",
                         "update a set x='8';",  // short statements are skipped
                         "update b set y='8'"}));
  ds.SQLInsert().Clear();
  ds.BeginAppend();
  ds.PostRecord();  // an empty template adds no row, silently
  EXPECT_EQ(ds.RowCount(), 2);
  ds.SetMacrosEnabled(false);
  EXPECT_TRUE(ds.ExecStatements(ds.SQLDelete(), false, false));
  EXPECT_EQ(ds.sent.back(), "delete from [$TABLENAME] where [$PRIMARYFIELDS&VALUES]");
}

TEST_F(MacroTest, KeysMatchByWholeNameAndNullKeysUseIsNull) {
  ds.SetTableName("u");
  ds.SetFieldName("name");
  ds.OpenOver({Col("userid", MySQLType::Long, kNotNullFlag | kPriKeyFlag),
               Col("id", MySQLType::Long), Col("name", MySQLType::VarString, 0, 40),
               Col("nickname", MySQLType::VarString, 0, 40)},
              {{"1", std::nullopt, "a", std::nullopt}});
  ds.BeginInsert();
  F("userid").SetAsInteger(3);
  ds.PostRecord();
  EXPECT_EQ(ds.sent.back(), "insert into u set userid='3',name=''");
  TStringList del;
  del.SetText("delete from u where [$OLD$FIELDS&VALUES]");
  ds.SetSQLDelete(del);
  ds.MoveLast();
  ds.DeleteRecord();
  EXPECT_EQ(ds.sent.back(),
            "delete from u where (userid='1') AND (id IS NULL) AND (name='a') AND (nickname IS NULL) "
            "LIMIT 1");
}

TEST_F(MacroTest, OnExecSQLRewritesOrCancelsAndOldServersLoseTheFinalSemicolon) {
  VersionedServer old("3.21.33");
  ds.SetServer(&old);
  OpenOrders();
  ds.OnExecSQL = [](TMySQLDataset&, std::string& sql, bool& go_on) {
    go_on = sql.rfind("delete", 0) != 0;
    sql += ";";
  };
  ds.BeginEdit();
  F("cust").SetAsString("z");
  ds.PostRecord();
  EXPECT_EQ(ds.RealSQL(), "update orders set cust='z' where (id='7');");
  EXPECT_EQ(ds.sent.back(), "update orders set cust='z' where (id='7')");
  auto ui = std::make_shared<ScriptedUi>();
  ScopedUiProvider use(ui);
  EXPECT_THROW(ds.DeleteRecord(), EAbort);
  EXPECT_EQ(ds.RowCount(), 2);  // the row stays
  EXPECT_EQ(ds.sent.size(), 1u);
  EXPECT_EQ(ui->max_busy_depth, 1);  // the busy cursor came and went
  EXPECT_EQ(ui->busy_depth, 0);
  ds.CloseDataset();
  ds.SetServer(nullptr);
}

TEST_F(MacroTest, StatementListsAddMacroNamesAndDeferWhenAsked) {
  OpenOrders();
  TStringList lines;
  EXPECT_FALSE(ds.ExecStatements(lines, true, false));
  lines.SetText("-- only a comment");
  EXPECT_FALSE(ds.ExecStatements(lines, true, false));
  lines.SetText("update t set a=[NEWMACRO]; update u set b=1");
  EXPECT_TRUE(ds.ExecStatements(lines, true, true));
  EXPECT_NE(ds.Macros().FindMacro("NEWMACRO"), nullptr);
  EXPECT_TRUE(ds.sent.empty());
  EXPECT_EQ(ds.PendingStatements().Lines(),
            (std::vector<std::string>{"update t set a=;", "update u set b=1"}));
  ds.ApplyPending();
  EXPECT_EQ(ds.sent.size(), 2u);
  EXPECT_EQ(ds.PendingStatements().Count(), 0);
  ds.SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), "Cannot modify a read-only dataset");
}

// --- Search ----------------------------------------------------------------------------------

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.OpenOver({Col("id", MySQLType::Long, kPriAuto), Col("name", MySQLType::VarString, 0, 40),
                 Col("city", MySQLType::VarString, 0, 40)},
                {{"1", "Jones", "Oslo"},
                 {"2", "Blacksmith", "Rome"},
                 {"3", "Smith", "Oslo"},
                 {"4", "\xC3\xA9mile", std::nullopt}});
  }
  bool From(const char* keys, Variant values, bool ci, bool partial) {
    return ds.LocateFromFirst(keys, std::move(values), ci, partial);
  }
  TFakeMySQLDataset ds;
};

TEST_F(SearchTest, OptionsDecideWhatMatchesAndAFailureGoesBack) {
  EXPECT_TRUE(From("name", Variant(std::string("SMI")), true, true));
  EXPECT_EQ(ds.RowIndex(), 1);  // Blacksmith before Smith
  EXPECT_TRUE(ds.LocateRecord("name", Variant(std::string("smi")), true, true));
  EXPECT_EQ(ds.RowIndex(), 1);  // the current row is tested first
  EXPECT_FALSE(From("name", Variant(std::string("smith")), false, false));
  EXPECT_EQ(ds.RowIndex(), 0);  // back where the scan began
  EXPECT_TRUE(From("name", Variant(std::string("Smith")), false, false));
  EXPECT_EQ(ds.RowIndex(), 2);
  EXPECT_TRUE(From("name", Variant(std::string("\xC3\x89MILE")), true, false));
  EXPECT_EQ(ds.RowIndex(), 3);
  EXPECT_FALSE(ds.LocateRecord("name", Variant(std::string("nobody")), true, true));
  EXPECT_EQ(ds.RowIndex(), 3);
  EXPECT_FALSE(ds.ControlsDisabled());

  VariantArray keys;
  keys.Items = {Variant(std::string("Smith")), Variant(std::string("Oslo"))};
  EXPECT_TRUE(From("name; city", Variant(keys), false, false));
  EXPECT_EQ(ds.RowIndex(), 2);
  keys.Items = {Variant(int32_t{4}), Variant::Null()};  // NULL is the empty text
  EXPECT_TRUE(From("id;city", Variant(keys), false, false));
  EXPECT_EQ(ds.RowIndex(), 3);
  EXPECT_EQ(ds.LookupValues("name", Variant(std::string("Smith")), "city").AsString(), "Oslo");
  const Variant both = ds.LookupValues("id", Variant(int32_t{2}), "name;city");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both.RawArray().Items[1].AsString(), "Rome");
  EXPECT_TRUE(ds.LookupValues("name", Variant(std::string("x")), "city").IsNull());
}

TEST_F(SearchTest, EditsArePostedFirstAndBadCallsFailClearly) {
  ds.BeginEdit();
  ds.RequireField("name").SetAsString("Nobody");
  EXPECT_TRUE(From("name", Variant(std::string("Nobody")), false, false));
  EXPECT_EQ(ds.sent.size(), 1u);
  EXPECT_EQ(MessageOf([&] { From("nope", Variant(), false, false); }), "Field 'nope' not found");
  ds.CloseDataset();
  EXPECT_EQ(MessageOf([&] { ds.LocateRecord("name", Variant(), false, false); }),
            "Cannot perform this operation on a closed dataset");
  ds.OpenOver(ds.result.fields, {});
  EXPECT_FALSE(ds.LocateRecord("nope", Variant(), false, false));  // no rows: no search
}

// --- Published properties ----------------------------------------------------------------------

TEST(PublishedEngineProperties, DatasetMacroAndDataSourceTables) {
  TFakeMySQLDataset ds;
  const TClassInfo& cls = ds.ClassInfo();
  for (const char* name :
       {"TableName", "FieldName", "MacroDel", "Macros", "MacrosEnabled", "SQL", "SQLUpdate",
        "SQLInsert", "SQLDelete", "SQLBatch", "Server", "DatabaseName", "CachedUpdates",
        "ReadOnly", "ShareConnection", "MasterFields", "MasterSource", "AllFieldValues",
        "Filtered", "Filter", "Active", "OnExecSQL", "Name", "Tag"}) {
    const PropertyInfo* p = FindProperty(cls, name);
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->Writable(), p->Kind != PropertyKind::Event) << name;
  }
  FindProperty(cls, "macrodel")->Write(ds, Variant(std::string("<;>")));
  EXPECT_EQ(ds.MacroOpen(), "<");
  FindProperty(cls, "MasterFields")->Write(ds, Variant(std::string("a=b c=d")));
  EXPECT_EQ(FindProperty(cls, "MasterFields")->Read(ds).AsString(), "a=b,c=d");
  FindProperty(cls, "Filter")->Write(ds, Variant(std::string("x>1")));
  FindProperty(cls, "Filtered")->Write(ds, Variant(true));
  EXPECT_EQ(ds.BuildCondition(), "(x>1)");
  TDataSource back;
  back.SetDataSet(&ds);
  EXPECT_EQ(MessageOf([&] { FindProperty(cls, "MasterSource")->WriteObject(ds, &back); }),
            "Circular Reference");

  TMySQLMacro& macro = *ds.Macros().FindMacro("ORDER");
  const TClassInfo& mcls = macro.ClassInfo();
  FindProperty(mcls, "value")->Write(macro, Variant(std::string("order by 1")));
  EXPECT_EQ(ds.ExpandSQL("<ORDER>", false), "order by 1");
  FindProperty(mcls, "DataType")->Write(macro, Variant(int32_t{ftString}));
  EXPECT_EQ(macro.DataType, ftString);
  EXPECT_EQ(FindProperty(mcls, "ParamType")->EnumNames.back(), "ptResult");
  EXPECT_NE(FindProperty(mcls, "Name"), nullptr);

  const TClassInfo& scls = back.ClassInfo();
  EXPECT_TRUE(FindProperty(scls, "AutoEdit")->Read(back).AsBoolean());
  EXPECT_TRUE(FindProperty(scls, "Enabled")->Read(back).AsBoolean());
  EXPECT_EQ(FindProperty(scls, "DataSet")->ReadObject(back), &ds);
  EXPECT_EQ(FindProperty(scls, "OnDataChange")->Kind, PropertyKind::Event);
}

}  // namespace
}  // namespace quill::test

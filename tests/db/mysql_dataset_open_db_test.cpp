// Opening MySQL datasets on the private server: statement lists, refused
// statements, column names and flags, the "show columns" pass, links and
// connection sharing, refresh, and values as the server sends and takes
// them.
#include <gtest/gtest.h>

#include "mysql_dataset/mysql_string_field.h"
#include "mysql_dataset_test_support.h"

namespace quill::test {
namespace {

class DatasetOpenTest : public DatasetDbTest {
 protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    if (IsSkipped()) return;
    Exec(server(), "drop table if exists ds_a, ds_b, ds_u, ds_dates");
    Exec(server(),
         "create table ds_a (id int not null auto_increment primary key, "
         "name varchar(40) not null, kind enum('a','b') not null default 'b', "
         "note varchar(20) default 'none', hits int not null default 0, "
         "seen timestamp not null default current_timestamp, key (name))");
    Exec(server(), "create table ds_b (id int not null primary key, v varchar(10))");
    Exec(server(), "create table ds_u (x int)");
    Exec(server(), "insert into ds_a (name, kind) values ('one','a'), ('two','b'), ('three','a')");
    Exec(server(), "insert into ds_b values (1, 'x'), (2, 'y')");
    Exec(server(), "insert into ds_u values (42)");
  }
};

TEST_F(DatasetOpenTest, FirstStatementWithRowsWinsAndLaterOnesAreNotSent) {
  auto ds = NewDataset(
      "update ds_b set v = 'z' where id = 1; select * from ds_b order by id; "
      "select * from no_such_table");
  ds->OpenDataset();
  EXPECT_EQ(ds->RowCount(), 2);
  EXPECT_EQ(ds->RequireField("v").AsString(), "z");  // the update ran first
  EXPECT_EQ(ds->RealSQL(), "select * from ds_b order by id;");
}

TEST_F(DatasetOpenTest, StatementsWithoutRowsOpenAnEmptyDataset) {
  auto ds = NewDataset("update ds_b set v = v; delete from ds_u where x = 0");
  ds->OpenDataset();
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->FieldCount(), 0);
  EXPECT_EQ(ds->RowCount(), 0);
  EXPECT_TRUE(ds->Bof() && ds->Eof());
}

TEST_F(DatasetOpenTest, RefusedStatementFailsWithTheServersMessageAndStaysClosed) {
  auto ds = NewDataset("select * from no_such_table");
  EXPECT_EQ(ErrorOf([&] { ds->OpenDataset(); }),
            "1146 - Table '" + settings_.database + ".no_such_table' doesn't exist");
  EXPECT_FALSE(ds->Active());
  ds->SQL().Clear();
  EXPECT_EQ(ErrorOf([&] { ds->OpenDataset(); }), "Must have SQL");
  ds->SQL().SetText("select * from ds_u");
  ds->OpenDataset();  // the connection is still usable
  EXPECT_EQ(ds->RequireField("x").AsInteger(), 42);
}

TEST_F(DatasetOpenTest, ExecSqlHandlerCanRewriteOrAbandonTheStatement) {
  auto ds = NewDataset("select * from ds_b");
  ds->OnExecSQL = [](TMySQLDataset&, std::string& sql, bool&) { sql = "select * from ds_u"; };
  ds->OpenDataset();
  EXPECT_EQ(ds->RealSQL(), "select * from ds_u");
  EXPECT_NE(ds->LookupField("x"), nullptr);
  ds->CloseDataset();
  ds->OnExecSQL = [](TMySQLDataset&, std::string&, bool& go_on) { go_on = false; };
  EXPECT_THROW(ds->OpenDataset(), EAbort);
  EXPECT_FALSE(ds->Active());
}

TEST_F(DatasetOpenTest, NamesSharedAcrossAJoinAreQualified) {
  auto ds = NewDataset("select ds_a.id, ds_b.id, name from ds_a, ds_b where ds_a.id = ds_b.id");
  ds->OpenDataset();
  EXPECT_NE(ds->LookupField("ds_a.id"), nullptr);
  EXPECT_NE(ds->LookupField("ds_b.id"), nullptr);
  EXPECT_NE(ds->LookupField("name"), nullptr);
  EXPECT_EQ(ds->ResultTables(), (std::vector<std::string>{"ds_a", "ds_b"}));
  auto aliased = NewDataset("select x.id, y.id from ds_a x join ds_a y on y.id = x.id + 1");
  aliased->OpenDataset();
  EXPECT_NE(aliased->LookupField("x.id"), nullptr);
  EXPECT_NE(aliased->LookupField("y.id"), nullptr);
}

TEST_F(DatasetOpenTest, ComputedColumnIsReadOnlyAndFlaggedAsComputed) {
  auto ds = NewDataset("select count(*), max(name) as top from ds_a");
  ds->OpenDataset();
  TField& count = ds->RequireField("count(*)");
  EXPECT_TRUE(count.ReadOnly());
  EXPECT_FALSE(count.Required());
  EXPECT_EQ(count.FieldKind(), fkInternalCalc);
  EXPECT_EQ(count.AsInteger(), 3);  // the value still comes from the row
  EXPECT_EQ(ds->ColumnInfo(0).Table, "");
  EXPECT_TRUE(ds->ResultTables().empty());
}

TEST_F(DatasetOpenTest, TemporaryAndDerivedTablesOpen) {
  // This server reports a temporary table under its given name (older ones
  // used "#sql..." names, which the column description treats as no table):
  // its columns are those of a table of the session and stay editable.
  Exec(server(), "create temporary table ds_tmp (a int not null, b varchar(5))");
  Exec(server(), "insert into ds_tmp values (1, 'q')");
  auto ds = NewDataset("select * from ds_tmp");
  ds->OpenDataset();
  EXPECT_EQ(ds->RequireField("b").AsString(), "q");
  EXPECT_EQ(ds->ColumnInfo(0).Table, "ds_tmp");
  EXPECT_TRUE(ds->RequireField("a").Required());
  auto derived = NewDataset("select * from (select id, name from ds_a) as d");
  derived->OpenDataset();
  EXPECT_EQ(derived->RowCount(), 3);
  EXPECT_EQ(derived->RequireField("name").AsString(), "one");
}

TEST_F(DatasetOpenTest, FlagsMakeRequiredReadOnlyAndKeyFields) {
  auto ds = NewDataset("select * from ds_a");
  ds->OpenDataset();
  TField& id = ds->RequireField("id");
  EXPECT_EQ(id.DataType(), ftAutoInc);
  EXPECT_TRUE(id.ReadOnly());
  EXPECT_FALSE(id.Required());
  EXPECT_TRUE(ds->RequireField("name").Required());
  EXPECT_TRUE(ds->RequireField("hits").Required());  // a default does not change it
  EXPECT_FALSE(ds->RequireField("note").Required());
  EXPECT_EQ(ds->PrimaryFields(), "id");
  EXPECT_EQ(ds->MultiFields(), "name");
  EXPECT_TRUE(ds->IsKeyField(ds->RequireField("name")));
}

TEST_F(DatasetOpenTest, ShowColumnsCompletesEnumValuesAndDefaults) {
  auto ds = NewDataset("select * from ds_a");
  ds->OpenDataset();
  const TFieldInfo& kind = ds->ColumnInfo(2);
  EXPECT_EQ(kind.FieldType, 247);
  EXPECT_EQ(kind.EnumValues, "\"a\",\"b\"");
  EXPECT_EQ(kind.Default, "b");
  auto& field = static_cast<TMySQLStringField&>(ds->RequireField("kind"));
  EXPECT_EQ(field.StringType(), stEnum);
  EXPECT_EQ(field.StringValues().Lines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ds->ColumnInfo(3).Default, "none");
  EXPECT_EQ(ds->ColumnInfo(4).Default, "0");
  // An expression default is no text a new row could start with.
  EXPECT_EQ(ds->ColumnInfo(5).Default, "");

  auto bare = NewDataset("select * from ds_a");
  bare->SetAllFieldValues(false);
  bare->OpenDataset();
  EXPECT_EQ(bare->ColumnInfo(2).EnumValues, "");
  EXPECT_EQ(bare->ColumnInfo(3).Default, "");
  EXPECT_EQ(static_cast<TMySQLStringField&>(bare->RequireField("kind")).StringType(), stEnum);
}

TEST_F(DatasetOpenTest, NewRowStartsWithTheServersDefaults) {
  auto ds = NewDataset("select * from ds_a");
  ds->OpenDataset();
  ds->BeginAppend();
  EXPECT_EQ(ds->RequireField("kind").AsString(), "b");
  EXPECT_EQ(ds->RequireField("note").AsString(), "none");
  EXPECT_EQ(ds->RequireField("hits").AsInteger(), 0);
  EXPECT_FALSE(ds->RequireField("name").IsNull());
  ds->CancelRecord();
}

TEST_F(DatasetOpenTest, FieldDefsBuiltWhileClosedAreReusedByTheOpen) {
  auto ds = NewDataset("select * from ds_b");
  int sent = 0;
  ds->OnExecSQL = [&](TMySQLDataset&, std::string&, bool&) { ++sent; };
  ds->BuildFieldDefs();
  EXPECT_EQ(ds->FieldDefs().Count(), 2);
  EXPECT_NE(ds->LinkHandle(), nullptr);
  ds->OpenDataset();
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(ds->RowCount(), 2);
  ds->CloseDataset();
  EXPECT_EQ(ds->LinkHandle(), nullptr);
  ds->SQL().SetText("select * from ds_u");  // not answered by the old result
  ds->OpenDataset();
  EXPECT_EQ(sent, 2);
  EXPECT_NE(ds->LookupField("x"), nullptr);
}

TEST_F(DatasetOpenTest, SeparateConnectionIsMadeAndDroppedWithTheDataset) {
  auto ds = NewDataset("select * from ds_b");
  ds->SetShareConnection(false);
  ds->OpenDataset();
  ASSERT_NE(ds->LinkHandle(), nullptr);
  EXPECT_NE(ds->LinkHandle(), server().Handle());
  EXPECT_EQ(server().DatasetCount(), 1);
  ds->CloseDataset();
  EXPECT_EQ(ds->LinkHandle(), nullptr);
  EXPECT_EQ(server().DatasetCount(), 0);
}

TEST_F(DatasetOpenTest, DisconnectingTheServerClosesTheDataset) {
  auto ds = NewDataset("select * from ds_b");
  ds->OpenDataset();
  server().Disconnect();
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->LinkHandle(), nullptr);
  ds->OpenDataset();  // connects again
  EXPECT_EQ(ds->RowCount(), 2);
}

TEST_F(DatasetOpenTest, ClosedDatasetSurvivesAReconnectOfItsServer) {
  auto ds = NewDataset("select * from ds_b");
  ds->BuildFieldDefs();  // holds the server's handle while closed
  server().Disconnect();
  server().Connect();
  ds->SQL().SetText("select * from ds_u");
  ds->OpenDataset();
  EXPECT_EQ(ds->RequireField("x").AsInteger(), 42);
}

TEST_F(DatasetOpenTest, SettingTheServerLendsItsDatabaseAndClosesTheDataset) {
  auto ds = std::make_unique<TMySQLDataset>();
  ds->SetServer(&server());
  EXPECT_EQ(ds->DatabaseName(), settings_.database);
  ds->SQL().SetText("select * from ds_b");
  ds->OpenDataset();
  ds->SetTableName("ds_b");
  EXPECT_FALSE(ds->Active());
  ds->OpenDataset();
  ds->SetServer(nullptr);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(server().DatasetCount(), 0);
}

TEST_F(DatasetOpenTest, RefreshReadsNewRowsAndKeepsThePosition) {
  auto ds = NewDataset("select * from ds_b order by id");
  ds->OpenDataset();
  ds->MoveNext();
  Exec(server(), "insert into ds_b values (3, 'w')");
  ds->RefreshRows();
  EXPECT_EQ(ds->RowCount(), 3);
  EXPECT_EQ(ds->RowIndex(), 1);
  EXPECT_EQ(ds->RequireField("id").AsInteger(), 2);
  ds->MoveLast();
  Exec(server(), "delete from ds_b where id >= 2");
  ds->RefreshRows();
  EXPECT_EQ(ds->RowCount(), 1);
  EXPECT_EQ(ds->RowIndex(), 0);
}

TEST_F(DatasetOpenTest, NamedDatasetPrefixesItsLayerErrors) {
  auto ds = NewDataset("select * from ds_b");
  ds->SetName("orders");
  EXPECT_EQ(ErrorOf([&] { ds->MoveNext(); }),
            "orders: Cannot perform this operation on a closed dataset");
}

class DatasetDatesTest : public DatasetDbTest {
 protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    if (IsSkipped()) return;
    Exec(server(), "drop table if exists ds_dates");
    Exec(server(),
         "create table ds_dates (id int primary key, d date, t time, dt datetime, "
         "ts timestamp null default null, v varchar(10))");
    Exec(server(),
         "insert into ds_dates values (1, '2001-12-31', '23:59:59', '2001-12-31 23:59:59', "
         "'2001-12-31 23:59:59', '   '), (2, '0000-00-00', '00:00:00', "
         "'0000-00-00 00:00:00', null, null)");
  }
};

TEST_F(DatasetDatesTest, DatesAndTimestampsReadAndWriteTheirTextForms) {
  Exec(server(), "set session sql_mode = ''");
  auto ds = NewDataset("select * from ds_dates order by id");
  ds->SetTableName("ds_dates");
  ds->OpenDataset();
  const TDateTime last_second = EncodeDateTime(2001, 12, 31, 23, 59, 59, 0);
  EXPECT_NEAR(ds->RequireField("dt").AsDateTime(), last_second, 1e-9);
  EXPECT_NEAR(ds->RequireField("ts").AsDateTime(), last_second, 1e-9);
  EXPECT_DOUBLE_EQ(ds->RequireField("d").AsDateTime(), EncodeDate(2001, 12, 31));
  ds->BeginEdit();
  ds->RequireField("ts").SetAsDateTime(EncodeDateTime(2002, 1, 2, 3, 4, 5, 0));
  ds->RequireField("dt").SetAsDateTime(EncodeDateTime(2002, 1, 2, 3, 4, 5, 0));
  EXPECT_EQ(std::string(ds->RowAt(0).Cell(4).Bytes), "20020102030405");
  EXPECT_EQ(std::string(ds->RowAt(0).Cell(3).Bytes), "2002-01-02 03:04:05");
  // The server takes both forms back as they are written.
  ds->PostRecord();
  EXPECT_EQ(ds->RealSQL(),
            "update ds_dates set dt='2002-01-02 03:04:05',ts='20020102030405' where (id='1')");
  ds->RefreshRows();
  EXPECT_NEAR(ds->RequireField("ts").AsDateTime(), EncodeDateTime(2002, 1, 2, 3, 4, 5, 0), 1e-9);
  EXPECT_NEAR(ds->RequireField("dt").AsDateTime(), EncodeDateTime(2002, 1, 2, 3, 4, 5, 0), 1e-9);

  ds->MoveNext();
  EXPECT_DOUBLE_EQ(ds->RequireField("d").AsDateTime(), EncodeDate(1, 1, 1));
  EXPECT_TRUE(ds->RequireField("ts").IsNull());
}

TEST_F(DatasetDatesTest, BlankTextIsAValueThatReadsAsNull) {
  auto ds = NewDataset("select * from ds_dates order by id");
  ds->OpenDataset();
  TField& v = ds->RequireField("v");
  EXPECT_FALSE(v.IsNull());
  EXPECT_EQ(v.AsString(), "");
  EXPECT_TRUE(v.AsVariant().IsNull());
  ds->MoveNext();
  EXPECT_TRUE(v.IsNull());
}

}  // namespace
}  // namespace quill::test

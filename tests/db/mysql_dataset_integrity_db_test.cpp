// Writes that must never report success while the server did something
// else: rows changed or deleted behind the dataset's back, tables without a
// key, deletes during an edit, empty values, reserved names, big counters,
// exact decimals and datasets of two databases on one connection. After
// every write the server's rows are read on a connection of their own
// through the client library, never through a dataset.
#include <gtest/gtest.h>

#include "mysql_dataset_test_support.h"

namespace quill::test {
namespace {

class IntegrityDbTest : public DatasetDbTest {
 protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    if (IsSkipped()) return;
    // The other client: changes rows behind the dataset and reads them back.
    other_ = server().NewHandle();
    ASSERT_NE(other_, nullptr);
    ASSERT_TRUE(ClientSelectDb(other_, settings_.database));
  }
  void TearDown() override {
    if (other_ != nullptr) server().DropHandle(other_);
  }

  // Runs `sql` as the other client.
  void Other(const std::string& sql) {
    ASSERT_TRUE(ClientRealQuery(other_, sql)) << sql << ": " << ClientError(other_);
    MySQLResult drop = ClientUseResult(other_);
  }
  // Every row of `sql` as "a|b;c|d;" ("NULL" for null), read by the other
  // client.
  std::string Rows(const std::string& sql) {
    if (!ClientRealQuery(other_, sql)) return sql + ": " + ClientError(other_);
    MySQLResult rows = ClientStoreResult(other_);
    std::string out;
    const size_t columns = rows ? rows.Fields().size() : 0;
    while (rows && rows.Next()) {
      for (size_t i = 0; i < columns; ++i) {
        out += rows.IsNull(static_cast<unsigned>(i)) ? std::string("NULL")
                                                     : std::string(rows.Text(static_cast<unsigned>(i)));
        out += i + 1 < columns ? "|" : ";";
      }
    }
    return out;
  }

  std::unique_ptr<TMySQLDataset> Table(const std::string& table) {
    auto ds = std::make_unique<TMySQLDataset>();
    ds->SetServer(&server());
    ds->SetTableName(table);
    ds->OpenDataset();
    return ds;
  }

  MySQLHandle* other_ = nullptr;
};

TEST_F(IntegrityDbTest, AWriteThatMatchesNoRowFailsAndKeepsTheDatasetsState) {
  Exec(server(), "drop table if exists integ_rows");
  Exec(server(), "create table integ_rows (id int primary key, name varchar(20))");
  Exec(server(), "insert into integ_rows values (1, 'a'), (2, 'b')");
  auto ds = Table("integ_rows");
  TField& name = ds->RequireField("name");

  // The statement of a keyed table is unchanged; an unchanged value still
  // matches its row.
  ds->BeginEdit();
  name.SetAsString("x");
  ds->PostRecord();
  EXPECT_EQ(ds->RealSQL(), "update integ_rows set name='x' where (id='1')");
  ds->BeginEdit();
  name.SetAsString("x");
  EXPECT_NO_THROW(ds->PostRecord());
  EXPECT_EQ(ds->AffectedRows(), "1");

  // Another client moves the row away: the post fails, the edit stays.
  Other("update integ_rows set id = 10 where id = 1");
  ds->BeginEdit();
  name.SetAsString("y");
  EXPECT_EQ(ErrorOf([&] { ds->PostRecord(); }), kMsgRowNotFound);
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_EQ(name.AsString(), "y");
  ds->CancelRecord();
  EXPECT_EQ(name.AsString(), "x");
  EXPECT_EQ(Rows("select id, name from integ_rows order by id"), "2|b;10|x;");

  // Another client deletes the row: the delete fails, the row stays cached.
  ds->SetRowIndex(1);
  Other("delete from integ_rows where id = 2");
  EXPECT_EQ(ErrorOf([&] { ds->DeleteRecord(); }), kMsgRowNotFound);
  EXPECT_EQ(ds->RowCount(), 2);
  EXPECT_EQ(ds->RequireField("id").AsString(), "2");

  // Held back, the statement fails when sent and stays held back.
  ds->SetCachedUpdates(true);
  ds->SetRowIndex(0);
  ds->BeginEdit();
  name.SetAsString("z");
  ds->PostRecord();
  EXPECT_EQ(ErrorOf([&] { ds->SetCachedUpdates(false); }), kMsgRowNotFound);
  ASSERT_EQ(ds->PendingStatements().Count(), 1);
  EXPECT_EQ(ds->PendingStatements()[0], "update integ_rows set name='z' where (id='1')");
  ds->DiscardPending();
  EXPECT_EQ(Rows("select id, name from integ_rows order by id"), "10|x;");
}

TEST_F(IntegrityDbTest, WritesWithoutAKeyTouchOneOfTwoIdenticalRows) {
  Exec(server(), "drop table if exists integ_twins");
  Exec(server(), "create table integ_twins (a int, b varchar(10))");
  Exec(server(), "insert into integ_twins values (1, 'x'), (1, 'x')");
  auto ds = Table("integ_twins");
  ds->BeginEdit();
  ds->RequireField("b").SetAsString("y");
  ds->PostRecord();
  EXPECT_EQ(ds->RealSQL(), "update integ_twins set b='y' where (a='1') AND (b='x') LIMIT 1");
  EXPECT_EQ(Rows("select a, b from integ_twins order by b"), "1|x;1|y;");
  ds->SetRowIndex(1);
  ds->DeleteRecord();
  EXPECT_EQ(ds->RealSQL(), "delete from integ_twins where (a='1') AND (b='x') LIMIT 1");
  EXPECT_EQ(Rows("select a, b from integ_twins"), "1|y;");
  ASSERT_EQ(ds->RowCount(), 1);
  EXPECT_EQ(ds->RequireField("b").AsString(), "y");
}

TEST_F(IntegrityDbTest, DeletingAnEditedRowDeletesItAsItWas) {
  Exec(server(), "drop table if exists integ_edit_del");
  Exec(server(), "create table integ_edit_del (a int, b varchar(10))");
  Exec(server(), "insert into integ_edit_del values (1, 'p'), (2, 'q'), (3, 'r')");
  auto ds = Table("integ_edit_del");
  TField& a = ds->RequireField("a");
  TField& b = ds->RequireField("b");

  // Edited to equal the second row, then deleted after another client took
  // the row away: the delete fails and cancel still restores the row.
  ds->SetRowIndex(2);
  ds->BeginEdit();
  a.SetAsString("2");
  b.SetAsString("q");
  Other("delete from integ_edit_del where a = 3");
  EXPECT_EQ(ErrorOf([&] { ds->DeleteRecord(); }), kMsgRowNotFound);
  EXPECT_EQ(ds->State(), dsEdit);
  ds->CancelRecord();
  EXPECT_EQ(a.AsString() + b.AsString(), "3r");
  EXPECT_EQ(Rows("select a, b from integ_edit_del order by a"), "1|p;2|q;");

  // Edited to equal the second row and deleted: the first row goes.
  ds->SetRowIndex(0);
  ds->BeginEdit();
  a.SetAsString("2");
  b.SetAsString("q");
  ds->DeleteRecord();
  EXPECT_EQ(ds->RealSQL(), "delete from integ_edit_del where (a='1') AND (b='p') LIMIT 1");
  EXPECT_EQ(Rows("select a, b from integ_edit_del order by a"), "2|q;");
  EXPECT_EQ(ds->State(), dsBrowse);
}

TEST_F(IntegrityDbTest, EmptyTextAndBlobAreValuesNotNull) {
  Exec(server(), "drop table if exists integ_empty");
  Exec(server(),
       "create table integ_empty (id int primary key, t text not null, b blob null, n int null)");
  Exec(server(), "insert into integ_empty values (1, '', '', null), (2, 'x', null, null)");
  auto ds = Table("integ_empty");
  TField& t = ds->RequireField("t");
  TField& b = ds->RequireField("b");
  EXPECT_FALSE(t.IsNull());
  EXPECT_FALSE(b.IsNull());
  EXPECT_EQ(t.AsString(), "");
  // A row holding '' in a required column can be edited.
  ds->BeginEdit();
  ds->RequireField("n").SetAsString("5");
  ds->PostRecord();
  EXPECT_EQ(Rows("select id, t is null, b is null, n from integ_empty order by id"),
            "1|0|0|5;2|0|1|NULL;");
  // Writing empty text stores ''; clearing stores NULL.
  ds->SetRowIndex(1);
  EXPECT_TRUE(b.IsNull());
  ds->BeginEdit();
  t.SetAsString("");
  b.SetAsString("");
  ds->PostRecord();
  EXPECT_EQ(Rows("select t, b is null, length(b) from integ_empty where id = 2"), "|0|0;");
  ds->BeginEdit();
  b.Clear();
  ds->PostRecord();
  EXPECT_EQ(Rows("select b is null from integ_empty where id = 2"), "1;");
  // A new row given empty values stores them as such.
  ds->BeginAppend();
  ds->RequireField("id").SetAsString("3");
  t.SetAsString("");
  b.SetAsString("");
  ds->PostRecord();
  EXPECT_EQ(Rows("select t, b is null from integ_empty where id = 3"), "|0;");
  EXPECT_FALSE(b.IsNull());
}

TEST_F(IntegrityDbTest, ReservedWordsAsTableAndColumnNames) {
  Exec(server(), "drop table if exists `order`");
  Exec(server(), "create table `order` (`key` int primary key, `desc` varchar(10), `group` int)");
  Exec(server(), "insert into `order` values (1, 'one', 7)");
  auto ds = Table("order");
  ds->BeginEdit();
  ds->RequireField("desc").SetAsString("uno");
  ds->PostRecord();
  EXPECT_EQ(ds->RealSQL(), "update `order` set `desc`='uno' where (`key`='1')");
  ds->BeginAppend();
  ds->RequireField("key").SetAsString("2");
  ds->RequireField("group").SetAsString("8");
  ds->PostRecord();
  EXPECT_EQ(Rows("select `key`, `desc`, `group` from `order` order by `key`"), "1|uno|7;2|NULL|8;");
  ds->SetRowIndex(0);
  ds->DeleteRecord();
  EXPECT_EQ(Rows("select `key` from `order`"), "2;");
  ds->CloseDataset();
  // Plain names stay plain.
  EXPECT_EQ(server().QuoteName("orders"), "orders");
  EXPECT_EQ(server().QuoteName("Order"), "`Order`");
  Exec(server(), "drop table `order`");
}

TEST_F(IntegrityDbTest, BigAutoIncrementIdsReadWriteAndKeyExactly) {
  for (const auto& [type, first] :
       {std::pair<std::string, std::string>{"int unsigned", "3000000000"},
        std::pair<std::string, std::string>{"bigint", "9007199254740000"}}) {
    SCOPED_TRACE(type);
    Exec(server(), "drop table if exists integ_big");
    Exec(server(), "create table integ_big (id " + type +
                       " not null auto_increment primary key, name varchar(10)) auto_increment=" +
                       first);
    auto ds = Table("integ_big");
    TField& id = ds->RequireField("id");
    EXPECT_EQ(id.DataType(), ftLargeint);
    EXPECT_TRUE(id.ReadOnly());
    ds->BeginAppend();
    ds->RequireField("name").SetAsString("n");
    ds->PostRecord();
    EXPECT_EQ(ds->LastInsertID(), first);
    EXPECT_EQ(id.AsString(), first);
    ds->BeginEdit();
    ds->RequireField("name").SetAsString("m");
    ds->PostRecord();
    EXPECT_EQ(Rows("select id, name from integ_big"), first + "|m;");
    ds->RefreshRows();
    EXPECT_EQ(std::to_string(id.AsLargeInt()), first);
    ds->DeleteRecord();
    EXPECT_EQ(Rows("select count(*) from integ_big"), "0;");
  }
}

TEST_F(IntegrityDbTest, DecimalTextIsExactBothWays) {
  Exec(server(), "drop table if exists integ_dec");
  Exec(server(), "create table integ_dec (id int primary key, d decimal(20,4), p decimal(8,2))");
  Exec(server(), "insert into integ_dec values (1, 1234567890123456.7891, 0.5)");
  auto ds = Table("integ_dec");
  TField& d = ds->RequireField("d");
  EXPECT_EQ(d.AsString(), "1234567890123456.7891");
  EXPECT_EQ(d.DisplayText(), "1234567890123456.7891");
  EXPECT_EQ(ds->RequireField("p").DisplayText(), "0.50");
  EXPECT_DOUBLE_EQ(d.AsFloat(), 1234567890123456.7891);
  ds->BeginEdit();
  d.SetAsString("9876543210987654.3219");
  ds->PostRecord();
  EXPECT_EQ(Rows("select d from integ_dec"), "9876543210987654.3219;");
  EXPECT_EQ(d.AsString(), "9876543210987654.3219");
  ds->BeginEdit();
  EXPECT_THROW(d.SetAsString("12,5"), EConvertError);
  d.SetAsVariant(Variant("-0.0001"));
  ds->PostRecord();
  EXPECT_EQ(Rows("select d from integ_dec"), "-0.0001;");
}

TEST_F(IntegrityDbTest, DatasetsOfTwoDatabasesShareOneConnection) {
  const std::string second = settings_.database + "_second";
  Exec(server(), "create database if not exists `" + second + "`");
  Exec(server(), "drop table if exists `" + second + "`.integ_db");
  Exec(server(), "drop table if exists integ_db");
  Exec(server(), "create table `" + second + "`.integ_db (id int primary key, v varchar(10))");
  Exec(server(), "create table integ_db (id int primary key, v varchar(10))");
  Exec(server(), "insert into `" + second + "`.integ_db values (1, 'second')");
  Exec(server(), "insert into integ_db values (1, 'first')");
  auto first_ds = Table("integ_db");
  auto second_ds = std::make_unique<TMySQLDataset>();
  second_ds->SetServer(&server());
  second_ds->SetDatabaseName(second);
  second_ds->SetTableName("integ_db");
  second_ds->OpenDataset();
  EXPECT_EQ(second_ds->RequireField("v").AsString(), "second");
  // The first dataset, opened first, writes to its own database.
  first_ds->BeginEdit();
  first_ds->RequireField("v").SetAsString("first!");
  first_ds->PostRecord();
  second_ds->BeginEdit();
  second_ds->RequireField("v").SetAsString("second!");
  second_ds->PostRecord();
  first_ds->RefreshRows();
  EXPECT_EQ(first_ds->RequireField("v").AsString(), "first!");
  EXPECT_EQ(Rows("select v from integ_db"), "first!;");
  EXPECT_EQ(Rows("select v from `" + second + "`.integ_db"), "second!;");
  // Also after a statement of the script's own moved the connection.
  Exec(server(), "use `" + second + "`");
  first_ds->DeleteRecord();
  EXPECT_EQ(Rows("select count(*) from integ_db"), "0;");
  EXPECT_EQ(Rows("select count(*) from `" + second + "`.integ_db"), "1;");
  second_ds->CloseDataset();
  first_ds->CloseDataset();
  Exec(server(), "drop database `" + second + "`");
}

}  // namespace
}  // namespace quill::test

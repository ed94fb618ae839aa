// The connection members, the dataset registry with master/detail links,
// ExecSQL, and what happens to the scripts' shells when the object dies.
#include "script_object_test_support.h"

namespace quill::test {
namespace {

class LifecycleTest : public QuillDbTest {};

TEST_F(LifecycleTest, ServerWithoutHostKeepsTheConnection) {
  Dispatch server = Dispatch::From(q.Get(u"Server"));
  ASSERT_TRUE(server);
  EXPECT_EQ(server.Get(u"Connected").Text(), "True");
  EXPECT_EQ(server.Get(u"DatabaseName").Text(), this->server().database);
  Dispatch again = Dispatch::From(q.Get(u"Connection"));
  EXPECT_EQ(again.Get(u"Connected").Text(), "True");
  EXPECT_EQ(again.Get(u"address").Text(), server.Get(u"address").Text());
}

TEST_F(LifecycleTest, ServerWithAHostReconnectsWithTheDefaultsForTheRest) {
  // Only host and port given: the user is "root" with an empty password.
  // Whether the server lets that user in depends on its accounts; either
  // way the attempt was made with the defaults.
  Outcome r = q.Get(u"Server", {Arg::Str(server().host), Arg::Missing(), Arg::Missing(),
                                Arg::I4(static_cast<int32_t>(server().port))});
  Dispatch shell = Dispatch::From(q.Get(u"Server"));
  EXPECT_EQ(shell.Get(u"UserName").Text(), "root");
  EXPECT_EQ(shell.Get(u"Password").Text(), "");
  EXPECT_EQ(shell.Get(u"DatabaseName").Text(), this->server().database) << "kept";
  if (r.ok()) {
    EXPECT_EQ(shell.Get(u"Connected").Text(), "True");
    ASSERT_NE(Dispatch::From(r).get(), nullptr) << "the member answers the connection shell";
  } else {
    EXPECT_EQ(r.error, "Could not connect using: root@" + server().host);
    EXPECT_EQ(shell.Get(u"Connected").Text(), "False");
  }
}

TEST_F(LifecycleTest, ConnectKeepsTheDatabaseWhenNoneIsGiven) {
  Exec("create database if not exists quill_test_other");
  std::vector<Arg> args = ConnectArgs();
  args[4] = Arg::Str("quill_test_other");
  ASSERT_TRUE(q.Method(u"Connect", args).ok());
  Dispatch shell = Dispatch::From(q.Get(u"Server"));
  EXPECT_EQ(shell.Get(u"DatabaseName").Text(), "quill_test_other");
  args[4] = Arg::Str("");
  ASSERT_TRUE(q.Method(u"Connect", args).ok());
  EXPECT_EQ(shell.Get(u"DatabaseName").Text(), "quill_test_other");
  EXPECT_EQ(shell.Get(u"Connected").Text(), "True");
  Exec("drop database quill_test_other");
}

TEST_F(LifecycleTest, PortAbove65535UsesItsLow16Bits) {
  Outcome r = q.Method(u"Connect", ConnectArgs(65536u + server().port));
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(Dispatch::From(q.Get(u"Server")).Get(u"Port").Text(), std::to_string(server().port));
}

TEST_F(LifecycleTest, ConnectClosesTheDatasetsOfTheConnection) {
  Table("life_items", "id int primary key", "(1)");
  Dispatch d = Open("items", "life_items");
  EXPECT_EQ(d.Get(u"Active").Text(), "True");
  ASSERT_TRUE(q.Method(u"Connect", ConnectArgs()).ok());
  EXPECT_EQ(d.Get(u"Active").Text(), "False");
}

TEST_F(LifecycleTest, ExecSQLConnectsWhenGivenAHostAndReportsRefusals) {
  std::vector<Arg> args{Arg::Str("create table if not exists life_exec (id int)")};
  for (Arg& a : ConnectArgs()) args.push_back(a);
  Outcome r = q.Method(u"ExecSQL", args);
  ASSERT_TRUE(r.ok()) << r.error;
  Exec("insert into life_exec values (7)");
  EXPECT_EQ(Rows("select id from life_exec"), "7|;");
  r = q.Method(u"ExecSQL", {Arg::Str("selec nothing"), Arg::Str("")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error.rfind("1064 - ", 0), 0u) << r.error;
  Exec("drop table life_exec");
}

TEST_F(LifecycleTest, ADatasetWhoseMasterIsMissingIsStillMadeAndOpened) {
  Table("life_items", "id int primary key", "(1), (2)");
  Outcome r = q.Get(u"Dataset", {Arg::Str("d"), Arg::Str("life_items"), Arg::Bool(true),
                                 Arg::Str("m"), Arg::Str("id=id")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Master dataset \"m\" not found.");
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("D")}));
  EXPECT_EQ(d.Get(u"Active").Text(), "True");
  EXPECT_EQ(d.Get(u"RecordCount").Text(), "2");
}

TEST_F(LifecycleTest, DetailFollowsItsMaster) {
  Table("life_orders", "id int primary key, customer_id int, total int",
        "(10, 1, 5), (11, 1, 6), (12, 2, 7)");
  Table("life_customers", "id int primary key, name varchar(10)", "(1, 'ann'), (2, 'bob'), (3, 'cy')");
  Open("customers", "life_customers");
  Outcome r = q.Get(u"Dataset", {Arg::Str("orders"), Arg::Str("life_orders"), Arg::Bool(true),
                                 Arg::Str("customers"), Arg::Str("customer_id=id")});
  ASSERT_TRUE(r.ok()) << r.error;
  const std::string body = "<#id>,";
  auto orders = [&] {
    return q.Get(u"ContentTable", {Arg::Str("orders"), Arg::Bool(false), Arg::Str(""),
                                   Arg::Str(body), Arg::Str("")})
        .Text();
  };
  EXPECT_EQ(orders(), "10,11,");
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("next"), Arg::Str("customers")}).ok());
  EXPECT_EQ(orders(), "12,");
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("next"), Arg::Str("customers")}).ok());
  EXPECT_EQ(orders(), "");
  // Unlinked, the detail shows every row again once it is re-read.
  ASSERT_TRUE(q.Method(u"UnLink", {Arg::Str("orders")}).ok());
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("refresh"), Arg::Str("orders")}).ok());
  EXPECT_EQ(orders(), "10,11,12,");
}

TEST_F(LifecycleTest, ReleasingTheObjectClosesEverythingAndLeavesShellsOverNothing) {
  Table("life_items", "id int primary key, name varchar(10)", "(1, 'one'), (2, 'two')");
  Dispatch d = Open("items", "life_items");
  Dispatch field = Dispatch::From(d.Method(u"FieldByName", {Arg::Str("name")}));
  ASSERT_TRUE(field);
  EXPECT_EQ(field.Get(u"AsString").Text(), "one");
  EXPECT_EQ(d.Get(u"Active").Text(), "True");
  Dispatch server = Dispatch::From(q.Get(u"Server"));
  const std::string id_sql = "select connection_id()";
  // The connection's id, seen from the object itself.
  Dispatch ids = Dispatch::From(q.Get(u"Dataset", {Arg::Str("ids")}));
  Dispatch::From(ids.Get(u"SQL")).Put(u"text", Arg::Str(id_sql));
  const std::string id =
      q.Get(u"ContentTable", {Arg::Str("ids"), Arg::Bool(false), Arg::Str(""), Arg::Str("<#FIELDVALUES>"),
                              Arg::Str("")})
          .Text();
  ASSERT_FALSE(id.empty());
  EXPECT_NE(Rows("select id from information_schema.processlist where id = " + id), "");

  q.Reset();  // the script lets the object go while holding shells

  EXPECT_EQ(Rows("select id from information_schema.processlist where id = " + id), "")
      << "the connection is closed";
  EXPECT_EQ(d.Get(u"address").Text(), "0");
  EXPECT_EQ(field.Get(u"address").Text(), "0");
  EXPECT_EQ(server.Get(u"address").Text(), "0");
  Outcome r = field.Get(u"AsString");
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(d.Get(u"active").hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(d.Method(u"MoveNext").ok()) << "verbs over nothing do nothing";
}

}  // namespace
}  // namespace quill::test

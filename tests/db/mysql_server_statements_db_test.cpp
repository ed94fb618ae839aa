// Statements, escaping, table lists and the version-dependent rules of the
// connection component against the private server, and the parts of the
// client binding that the dataset layer relies on.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/string_list.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"
#include "mysql_server_test_support.h"

namespace quill::test {
namespace {

using namespace std::string_literals;

// A connected component on the test database with a clean scratch table.
class ServerStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto settings = TestServerFromEnv();
    if (!settings) GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests";
    settings_ = *settings;
    server_ = ServerFor(settings_, /*with_database=*/true);
    server_->Connect();
    ASSERT_TRUE(server_->RunStatement("drop table if exists ms_scratch"));
    ASSERT_TRUE(server_->RunStatement(
        "create table ms_scratch (id int primary key, txt text, bin blob) "
        "character set utf8mb4"));
  }
  void TearDown() override {
    if (server_ && server_->Connected()) server_->RunStatement("drop table if exists ms_scratch");
  }

  std::string Message(std::string_view sql) {
    try {
      server_->RunStatement(sql);
    } catch (const EDatabaseError& e) {
      return e.what();
    }
    return "<accepted>";
  }

  TestServerSettings settings_;
  std::unique_ptr<TestableServer> server_;
};

TEST_F(ServerStatements, SendsTheExactBytes) {
  // A NUL byte inside a literal: a length taken from the C string would cut
  // the statement short and the server would refuse it.
  const std::string sql = "insert into ms_scratch (id, bin) values (1, 'a\0b\xFF')"s;
  ASSERT_TRUE(server_->RunStatement(sql));
  EXPECT_EQ(QueryText(server_->Handle(), "select hex(bin) from ms_scratch where id = 1"),
            "610062FF");
  // A view of part of a larger text sends only that part.
  const std::string longer = "do 1; garbage";
  EXPECT_TRUE(server_->RunStatement(std::string_view(longer).substr(0, 4)));
}

TEST_F(ServerStatements, RefusalCarriesTheServersNumberAndText) {
  const std::string message = Message("selec 1");
  EXPECT_EQ(message.rfind("1064 - You have an error in your SQL syntax", 0), 0u) << message;
  EXPECT_EQ(Message("insert into ms_no_such_table values (1)"),
            "1146 - Table '" + settings_.database + ".ms_no_such_table' doesn't exist");
  // The connection stays usable.
  EXPECT_TRUE(server_->RunStatement("do 1"));
}

TEST_F(ServerStatements, RowsOfAStatementAreDropped) {
  ASSERT_TRUE(server_->RunStatement("insert into ms_scratch (id) values (1), (2), (3)"));
  EXPECT_TRUE(server_->RunStatement("select * from ms_scratch"));
  // Nothing is left unread on the connection.
  EXPECT_TRUE(server_->RunStatement("update ms_scratch set txt = 'x'"));
  EXPECT_EQ(QueryText(server_->Handle(), "select count(*) from ms_scratch where txt = 'x'"), "3");
  TStringList tables;
  EXPECT_TRUE(server_->RunStatement("show tables"));
  server_->GetTableNames("", tables);
  EXPECT_GE(tables.IndexOf("ms_scratch"), 0);
}

TEST_F(ServerStatements, FinalSemicolonRemovedOnlyBelow32200) {
  // The server drops final semicolons itself, so what was sent shows only in
  // the bytes it received: the difference between two statements' counts is
  // the difference of their lengths.
  auto received = [&](const std::string& text) {
    const std::string sql =
        "select variable_value from information_schema.session_status "
        "where variable_name = 'BYTES_RECEIVED'";
    const long before = std::stol(QueryText(server_->Handle(), sql));
    EXPECT_TRUE(server_->RunStatement(text));
    return std::stol(QueryText(server_->Handle(), sql)) - before;
  };
  const long plain = received("do 1");
  EXPECT_EQ(received("do 1;") - plain, 1);
  server_->SetVersionForTesting("3.22.0");
  EXPECT_EQ(received("do 1;") - plain, 1);
  server_->SetVersionForTesting("3.21.33");
  EXPECT_EQ(received("do 1;") - plain, 0);
  // One semicolon goes, not all of them, and only at the very end.
  EXPECT_EQ(received("do 1;;") - plain, 1);
  EXPECT_EQ(received("do 1; ") - plain, 2);
  EXPECT_EQ(received("do 1") - plain, 0);
}

TEST_F(ServerStatements, ErrorNumberShownAbove32170) {
  server_->SetVersionForTesting("3.21.33");
  EXPECT_EQ(Message("selec 1").rfind("0 - You have an error", 0), 0u);
  server_->SetVersionForTesting("3.21.70");
  EXPECT_EQ(Message("selec 1").rfind("0 - You have an error", 0), 0u);
  server_->SetVersionForTesting("3.21.71");
  EXPECT_EQ(Message("selec 1").rfind("1064 - You have an error", 0), 0u);
}

TEST_F(ServerStatements, EscapedTextsComeBackUnchanged) {
  const std::string texts[] = {
      "it's",
      "say \"hi\"",
      "back\\slash\\",
      "nul\0inside"s,
      "\0"s,
      "'; drop table ms_scratch; -- ",
      "\r\n\t\x1A",
      "\\'",
      "",
  };
  int id = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE(id);
    ++id;
    const std::string escaped = server_->EscapeString(text);
    EXPECT_EQ(escaped.find('\0'), std::string::npos);
    ASSERT_TRUE(server_->RunStatement("insert into ms_scratch (id, bin) values (" +
                                      std::to_string(id) + ", '" + escaped + "')"));
    const auto back = QueryValue(server_->Handle(),
                                 "select bin from ms_scratch where id = " + std::to_string(id));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, text);
  }
  EXPECT_EQ(QueryText(server_->Handle(), "select count(*) from ms_scratch"),
            std::to_string(std::size(texts)));
  EXPECT_EQ(server_->EscapeString("it's \\ \0"s), "it\\'s \\\\ \\0");
}

TEST_F(ServerStatements, NonAsciiTextRoundTrip) {
  // Latin, Cyrillic, CJK and a character outside the basic plane (4 bytes).
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  ASSERT_TRUE(server_->RunStatement("insert into ms_scratch (id, txt) values (1, '" +
                                    server_->EscapeString(text) + "')"));
  EXPECT_EQ(QueryText(server_->Handle(), "select txt from ms_scratch where id = 1"), text);
  // The server saw characters, not bytes read as Latin-1.
  EXPECT_EQ(QueryText(server_->Handle(), "select char_length(txt) from ms_scratch where id = 1"),
            "14");
  EXPECT_EQ(QueryText(server_->Handle(), "select length(txt) from ms_scratch where id = 1"),
            std::to_string(text.size()));
}

TEST_F(ServerStatements, TableNamesOfTheCurrentAndOfANamedDatabase) {
  ASSERT_TRUE(server_->RunStatement("drop table if exists ms_second"));
  ASSERT_TRUE(server_->RunStatement("create table ms_second (i int)"));
  TStringList list;
  list.Add("stale line");
  int changes = 0;
  list.OnChange = [&changes] { ++changes; };

  server_->GetTableNames("", list);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.IndexOf("stale line"), -1);
  EXPECT_GE(list.IndexOf("ms_scratch"), 0);
  EXPECT_GE(list.IndexOf("ms_second"), 0);
  const std::vector<std::string> current = list.Lines();

  // The same list by name, from a component with no database selected.
  auto other = ServerFor(settings_);
  TStringList named;
  other->GetTableNames(settings_.database, named);  // connects first
  EXPECT_TRUE(other->Connected());
  EXPECT_EQ(named.Lines(), current);
  server_->RunStatement("drop table ms_second");
}

TEST_F(ServerStatements, TableNamesOfADatabaseNameThatNeedsQuoting) {
  const std::string db = "ms quoted`db-\xC3\xA9";
  const std::string quoted = server_->QuoteName(db);
  EXPECT_EQ(quoted, "`ms quoted``db-\xC3\xA9`");
  ASSERT_TRUE(server_->RunStatement("drop database if exists " + quoted));
  ASSERT_TRUE(server_->RunStatement("create database " + quoted));
  ASSERT_TRUE(server_->RunStatement("create table " + quoted + ".`t\xC3\xA4 b` (i int)"));
  ASSERT_TRUE(server_->RunStatement("create table " + quoted + ".plain (i int)"));
  TStringList list;
  server_->GetTableNames(db, list);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_GE(list.IndexOf("plain"), 0);
  EXPECT_GE(list.IndexOf("t\xC3\xA4 b"), 0);
  EXPECT_TRUE(server_->SelectDatabase(server_->Handle(), db));
  EXPECT_EQ(QueryText(server_->Handle(), "select database()"), db);
  EXPECT_TRUE(server_->SelectDatabase(server_->Handle(), settings_.database));
  ASSERT_TRUE(server_->RunStatement("drop database " + quoted));
}

TEST_F(ServerStatements, TableNamesFailuresReportTheServer) {
  TStringList list;
  list.Add("kept?");
  try {
    server_->GetTableNames("ms_no_such_database", list);
    FAIL() << "listed a missing database";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "1049 - Unknown database 'ms_no_such_database'");
  }
  EXPECT_TRUE(list.Empty());  // cleared before the statement was sent
  auto bare = ServerFor(settings_);
  try {
    bare->GetTableNames("", list);
    FAIL() << "listed without a database";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "1046 - No database selected");
  }
  EXPECT_TRUE(server_->RunStatement("do 1"));
}

// --- The binding as the dataset layer will use it ----------------------------

TEST_F(ServerStatements, BindingDescribesColumns) {
  ASSERT_TRUE(server_->RunStatement(
      "create temporary table ms_desc (id int unsigned not null auto_increment primary key, "
      "name varchar(10) character set utf8mb4 default 'x', data blob, "
      "kind enum('a','b'), at datetime)"));
  ASSERT_TRUE(ClientRealQuery(server_->Handle(), "select id, name as n, data, kind, at from ms_desc d"));
  MySQLResult rows = ClientStoreResult(server_->Handle());
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows.FieldCount(), 5u);
  const std::vector<MySQLFieldDesc> fields = rows.Fields();
  ASSERT_EQ(fields.size(), 5u);

  EXPECT_EQ(fields[0].Name, "id");
  EXPECT_EQ(fields[0].Type, MySQLType::Long);
  EXPECT_NE(fields[0].Flags & kPriKeyFlag, 0u);
  EXPECT_NE(fields[0].Flags & kAutoIncrementFlag, 0u);
  EXPECT_NE(fields[0].Flags & kUnsignedFlag, 0u);
  EXPECT_NE(fields[0].Flags & kNotNullFlag, 0u);
  EXPECT_EQ(fields[0].Table, "d");
  EXPECT_EQ(fields[0].OrgTable, "ms_desc");
  EXPECT_EQ(fields[0].Db, settings_.database);

  EXPECT_EQ(fields[1].Name, "n");
  EXPECT_EQ(fields[1].OrgName, "name");
  EXPECT_EQ(fields[1].Type, MySQLType::VarString);
  EXPECT_EQ(fields[1].MaxBytesPerChar, 4u);
  EXPECT_EQ(fields[1].Length, 40u);  // ten characters of four bytes

  EXPECT_EQ(fields[2].Type, MySQLType::Blob);
  EXPECT_NE(fields[2].Flags & kBlobFlag, 0u);
  EXPECT_EQ(fields[2].CharsetNr, kBinaryCharsetNr);
  EXPECT_EQ(fields[2].MaxBytesPerChar, 1u);

  EXPECT_NE(fields[3].Flags & kEnumFlag, 0u);
  EXPECT_EQ(fields[4].Type, MySQLType::DateTime);
  EXPECT_EQ(rows.RowCount(), 0u);
  EXPECT_FALSE(rows.Next());
}

TEST_F(ServerStatements, BindingHandsOutRowsWithLengthsAndNulls) {
  ASSERT_TRUE(server_->RunStatement(
      "insert into ms_scratch values (1, 'one', 'a\\0b'), (2, null, ''), (3, 'three', null)"));
  EXPECT_EQ(ClientAffectedRows(server_->Handle()), 3u);
  ASSERT_TRUE(ClientRealQuery(server_->Handle(), "select id, txt, bin from ms_scratch order by id"));
  MySQLResult rows = ClientUseResult(server_->Handle());
  ASSERT_TRUE(rows);
  ASSERT_TRUE(rows.Next());
  EXPECT_EQ(rows.Text(0), "1");
  EXPECT_EQ(rows.Text(1), "one");
  EXPECT_EQ(rows.Lengths()[2], 3u);
  EXPECT_EQ(std::string(rows.Values()[2], rows.Lengths()[2]), "a\0b"s);
  ASSERT_TRUE(rows.Next());
  EXPECT_TRUE(rows.IsNull(1));
  EXPECT_FALSE(rows.IsNull(2));
  EXPECT_EQ(rows.Lengths()[2], 0u);
  ASSERT_TRUE(rows.Next());
  EXPECT_TRUE(rows.IsNull(2));
  EXPECT_FALSE(rows.Next());
  EXPECT_EQ(ClientErrno(server_->Handle()), 0u);
  EXPECT_EQ(rows.RowCount(), 3u);
  rows.Free();
  EXPECT_FALSE(rows);
  rows.Free();  // harmless twice

  // A row-by-row result freed early leaves the connection in step.
  ASSERT_TRUE(ClientRealQuery(server_->Handle(), "select * from ms_scratch"));
  {
    MySQLResult partial = ClientUseResult(server_->Handle());
    ASSERT_TRUE(partial.Next());
  }
  EXPECT_TRUE(server_->RunStatement("do 1"));
}

TEST_F(ServerStatements, BindingReportsInsertIds) {
  ASSERT_TRUE(server_->RunStatement(
      "create temporary table ms_auto (id int auto_increment primary key, v int)"));
  ASSERT_TRUE(server_->RunStatement("insert into ms_auto (v) values (10)"));
  EXPECT_EQ(ClientInsertId(server_->Handle()), 1u);
  ASSERT_TRUE(server_->RunStatement("insert into ms_auto (id, v) values (41, 11)"));
  ASSERT_TRUE(server_->RunStatement("insert into ms_auto (v) values (12)"));
  EXPECT_EQ(ClientInsertId(server_->Handle()), 42u);
  EXPECT_EQ(ClientFieldCount(server_->Handle()), 0u);
}

}  // namespace
}  // namespace quill::test

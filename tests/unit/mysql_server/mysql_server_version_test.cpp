// Version parsing and the rules that depend on the server version: name
// quoting, error numbers. No server is needed; the version of old servers is
// set through the component's test seam.
#include <string>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"

namespace quill {
namespace {

// Opens the version seam to the tests.
class VersionedServer : public TMySQLServer {
 public:
  using TMySQLServer::SetVersionForTesting;
};

struct VersionCase {
  const char* text;
  uint16_t major, minor, build;
  uint32_t int_ver;
};

TEST(ServerVersion, ParsesTheThreeNumbers) {
  const VersionCase cases[] = {
      {"3.23.49-nt", 3, 23, 49, 32349},
      {"4.0.12-log", 4, 0, 12, 40012},
      {"5.0.27-community-nt", 5, 0, 27, 50027},
      {"10.11.6-MariaDB-0+deb12u1", 10, 11, 6, 101106},
      {"11.4.2-MariaDB", 11, 4, 2, 110402},
      {"3.21.33", 3, 21, 33, 32133},
      {"8.0.36 MySQL Community Server", 8, 0, 36, 80036},
      // Letters glued to the build number still leave the number.
      {"3.23.6a", 3, 23, 6, 32306},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.text);
    const ServerVersionNumbers v = ParseServerVersion(c.text);
    EXPECT_EQ(v.Major, c.major);
    EXPECT_EQ(v.Minor, c.minor);
    EXPECT_EQ(v.Build, c.build);
    EXPECT_EQ(v.IntVer(), c.int_ver);
  }
}

TEST(ServerVersion, UnreadableWordsKeepTheirDefaults) {
  const VersionCase cases[] = {
      {"", 3, 21, 0, 32100},
      {"unknown", 3, 21, 0, 32100},
      {"...--", 3, 21, 0, 32100},
      {"5", 5, 21, 0, 52100},
      {"5.1", 5, 1, 0, 50100},
      // A word beyond 16 bits is no version number.
      {"70000.1.2", 3, 1, 2, 30102},
      // Letters separate build words, so "x" leaves only "4" and "7".
      {"4.x.7", 4, 21, 0, 42100},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.text);
    const ServerVersionNumbers v = ParseServerVersion(c.text);
    EXPECT_EQ(v.Major, c.major);
    EXPECT_EQ(v.Minor, c.minor);
    EXPECT_EQ(v.Build, c.build);
    EXPECT_EQ(v.IntVer(), c.int_ver);
  }
}

TEST(ServerVersion, SeamFillsTheComponentsFields) {
  VersionedServer server;
  server.SetVersionForTesting("4.1.22-standard");
  EXPECT_EQ(server.ServerVersion(), "4.1.22-standard");
  EXPECT_EQ(server.Major(), 4);
  EXPECT_EQ(server.Minor(), 1);
  EXPECT_EQ(server.Build(), 22);
  EXPECT_EQ(server.IntVer(), 40122u);
}

TEST(QuoteName, BackquotesFromVersion32306Only) {
  VersionedServer server;
  server.SetVersionForTesting("3.23.5");
  EXPECT_EQ(server.QuoteName("my table"), "my table");
  server.SetVersionForTesting("3.23.6");
  EXPECT_EQ(server.QuoteName("my table"), "`my table`");
  // A fresh component stands for 3.21.0: no backquotes.
  TMySQLServer fresh;
  EXPECT_EQ(fresh.QuoteName("my table"), "my table");
}

TEST(QuoteName, PlainNamesAndEmptyStayUnchanged) {
  VersionedServer server;
  server.SetVersionForTesting("10.11.6-MariaDB");
  EXPECT_EQ(server.QuoteName(""), "");
  EXPECT_EQ(server.QuoteName("items"), "items");
  EXPECT_EQ(server.QuoteName("Order_Lines_2"), "Order_Lines_2");
  EXPECT_EQ(server.QuoteName("0123"), "0123");
}

TEST(QuoteName, AnyOtherCharacterQuotes) {
  VersionedServer server;
  server.SetVersionForTesting("10.11.6-MariaDB");
  EXPECT_EQ(server.QuoteName("order-lines"), "`order-lines`");
  EXPECT_EQ(server.QuoteName("db.table"), "`db.table`");
  EXPECT_EQ(server.QuoteName("caf\xC3\xA9"), "`caf\xC3\xA9`");
  EXPECT_EQ(server.QuoteName("a;drop table x"), "`a;drop table x`");
}

TEST(QuoteName, InnerBackquotesAreDoubled) {
  VersionedServer server;
  server.SetVersionForTesting("10.11.6-MariaDB");
  EXPECT_EQ(server.QuoteName("a`b"), "`a``b`");
  EXPECT_EQ(server.QuoteName("`"), "````");
  // Without doubling this would close the name and run the rest as SQL.
  EXPECT_EQ(server.QuoteName("x` ; drop database y; -- "), "`x`` ; drop database y; -- `");
}

TEST(ServerError, GivenMessageIsUsedUnchanged) {
  try {
    RaiseServerError(nullptr, "Could not connect using: a@b", 32100);
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Could not connect using: a@b");
  }
}

// A refused connection to a closed local port leaves the library with an
// error on the handle: enough to see the error-number rule without a server.
TEST(ServerError, NumberIsZeroUpTo32170) {
  MySQLHandle* handle = ClientInit();
  ASSERT_NE(handle, nullptr);
  ASSERT_FALSE(ClientRealConnect(handle, "127.0.0.1", "nobody", "", nullptr, 1, nullptr, 0));
  const unsigned number = ClientErrno(handle);
  const std::string text = ClientError(handle);
  ASSERT_NE(number, 0u);
  ASSERT_FALSE(text.empty());

  EXPECT_EQ(ServerErrorMessage(handle, 32170), "0 - " + text);
  EXPECT_EQ(ServerErrorMessage(handle, 32171), std::to_string(number) + " - " + text);
  try {
    RaiseServerError(handle, "", 101106);
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), std::to_string(number) + " - " + text);
  }
  ClientClose(handle);
}

TEST(ServerError, NullHandleStillGivesAMessage) {
  EXPECT_EQ(ServerErrorMessage(nullptr, 101106), "0 - Not connected");
  EXPECT_THROW(RaiseServerError(nullptr, "", 101106), EDatabaseError);
}

TEST(ClientBinding, EscapesWithoutAHandle) {
  using namespace std::string_literals;
  EXPECT_EQ(ClientEscapeString(nullptr, "it's"), "it\\'s");
  EXPECT_EQ(ClientEscapeString(nullptr, "a\\b\"c"), "a\\\\b\\\"c");
  EXPECT_EQ(ClientEscapeString(nullptr, "x\0y\r\n\x1A"s), "x\\0y\\r\\n\\Z");
  EXPECT_EQ(ClientEscapeString(nullptr, ""), "");
  // UTF-8 passes through untouched.
  EXPECT_EQ(ClientEscapeString(nullptr, "\xC3\xA9\xE2\x82\xAC"), "\xC3\xA9\xE2\x82\xAC");
  // Worst case: every byte escaped.
  EXPECT_EQ(ClientEscapeString(nullptr, std::string(1000, '\'')).size(), 2000u);
}

TEST(ClientBinding, MaxBytesPerCharOfCommonSets) {
  EXPECT_EQ(ClientMaxBytesPerChar(kBinaryCharsetNr), 1u);
  EXPECT_EQ(ClientMaxBytesPerChar(45), 4u);   // utf8mb4_general_ci
  EXPECT_EQ(ClientMaxBytesPerChar(33), 3u);   // utf8mb3_general_ci
  EXPECT_EQ(ClientMaxBytesPerChar(8), 1u);    // latin1_swedish_ci
  EXPECT_EQ(ClientMaxBytesPerChar(99999), 1u);  // unknown
}

// Which statements leave a pooled connection's session as it was, so that
// the pool may give it on without a reset.
TEST(ClientStatements, OnlyPlainReadsLeaveTheSessionAsItWas) {
  for (const char* sql : {"select * from t order by id limit 20", "  SELECT count(*) FROM t",
                          "show columns from `t`", "describe t", "Explain select 1"}) {
    EXPECT_TRUE(ClientStatementOnlyReads(sql)) << sql;
  }
  for (const char* sql : {"", "set @a = 1", "select @a := 1", "select 1 into @a", "select get_lock('x', 0)",
                          "select * from t for update; set @b = 2", "select nextval(s)", "select last_insert_id(5)",
                          "/*! set @a = 1 */ select 1", "selectx 1", "do release_lock('x')", "call p()",
                          "insert into t values (1)", "start transaction", "select * from t lock in share mode"}) {
    EXPECT_FALSE(ClientStatementOnlyReads(sql)) << sql;
  }
}

}  // namespace
}  // namespace quill

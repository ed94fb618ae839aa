// Checks the private test server itself, with the client library and nothing
// of ours: the test account reaches it over TCP and through the socket, the
// test database exists, and the sakila sample is complete when it is loaded.
// When this fails, every other db test is about the server, not about Quill.
#include <mysql.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/test_server.h"

namespace {

using Connection = std::unique_ptr<MYSQL, decltype(&mysql_close)>;

Connection Connect(const quill::test::TestServerSettings& s, bool via_socket) {
  Connection c(mysql_init(nullptr), &mysql_close);
  if (!c) return c;
  mysql_options(c.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  const bool ok =
      via_socket ? mysql_real_connect(c.get(), "localhost", s.user.c_str(), s.password.c_str(),
                                      s.database.c_str(), 0, s.socket.c_str(), 0) != nullptr
                 : mysql_real_connect(c.get(), s.host.c_str(), s.user.c_str(), s.password.c_str(),
                                      s.database.c_str(), s.port, nullptr, 0) != nullptr;
  EXPECT_TRUE(ok) << (via_socket ? "socket " + s.socket : s.host + ":" + std::to_string(s.port))
                  << ": " << mysql_error(c.get());
  if (!ok) c.reset();
  return c;
}

// Answers the first column of the first row of a query, or "<error>".
std::string QueryOne(MYSQL* c, const std::string& sql) {
  if (mysql_real_query(c, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << sql << ": " << mysql_error(c);
    return "<error>";
  }
  std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> res(mysql_store_result(c),
                                                               &mysql_free_result);
  if (!res) return "<error>";
  MYSQL_ROW row = mysql_fetch_row(res.get());
  return row && row[0] ? std::string(row[0]) : std::string("<null>");
}

TEST(ServerSmoke, AnswersOverTcp) {
  QUILL_REQUIRE_SERVER(server);
  Connection c = Connect(server, /*via_socket=*/false);
  ASSERT_TRUE(c);
  const std::string version = QueryOne(c.get(), "select version()");
  ASSERT_FALSE(version.empty());
  EXPECT_TRUE(version[0] >= '0' && version[0] <= '9') << version;
  EXPECT_EQ(QueryOne(c.get(), "select database()"), server.database);
  EXPECT_EQ(QueryOne(c.get(), "select @@character_set_connection"), "utf8mb4");
}

TEST(ServerSmoke, AnswersThroughSocket) {
  QUILL_REQUIRE_SERVER(server);
  if (server.socket.empty()) GTEST_SKIP() << "no socket announced";
  Connection c = Connect(server, /*via_socket=*/true);
  ASSERT_TRUE(c);
  EXPECT_EQ(QueryOne(c.get(), "select 1 + 1"), "2");
}

TEST(ServerSmoke, SakilaIsComplete) {
  QUILL_REQUIRE_SAKILA(server);
  Connection c = Connect(server, /*via_socket=*/false);
  ASSERT_TRUE(c);
  EXPECT_EQ(QueryOne(c.get(), "select count(*) from sakila.actor"), "200");
  EXPECT_EQ(QueryOne(c.get(), "select count(*) from sakila.rental"), "16044");
}

}  // namespace

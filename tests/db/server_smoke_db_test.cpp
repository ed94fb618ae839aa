// Checks the private test server itself, with the client library and nothing
// of ours: the test account reaches it over TCP and through the socket, the
// test database exists, and the sakila sample is complete when it is loaded.
// When this fails, every other db test is about the server, not about Quill.
#include <string>

#include <gtest/gtest.h>

#include "support/sql_client.h"
#include "support/test_server.h"

namespace {

using quill::test::SqlClient;

TEST(ServerSmoke, AnswersOverTcp) {
  QUILL_REQUIRE_SERVER(server);
  SqlClient c;
  ASSERT_TRUE(c.Connect(server));
  const std::string version = c.QueryOne("select version()");
  ASSERT_FALSE(version.empty());
  EXPECT_TRUE(version[0] >= '0' && version[0] <= '9') << version;
  EXPECT_EQ(c.QueryOne("select database()"), server.database);
  EXPECT_EQ(c.QueryOne("select @@character_set_connection"), "utf8mb4");
}

TEST(ServerSmoke, AnswersThroughSocket) {
  QUILL_REQUIRE_SERVER(server);
  if (server.socket.empty()) GTEST_SKIP() << "no socket announced";
  SqlClient c;
  ASSERT_TRUE(c.Connect(server, 0, /*via_socket=*/true));
  EXPECT_EQ(c.QueryOne("select 1 + 1"), "2");
}

TEST(ServerSmoke, SakilaIsComplete) {
  QUILL_REQUIRE_SAKILA(server);
  SqlClient c;
  ASSERT_TRUE(c.Connect(server));
  EXPECT_EQ(c.QueryOne("select count(*) from sakila.actor"), "200");
  EXPECT_EQ(c.QueryOne("select count(*) from sakila.rental"), "16044");
}

}  // namespace

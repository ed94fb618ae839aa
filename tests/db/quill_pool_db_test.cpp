// The connection pool as pages meet it: objects that connect one after the
// other share one server connection, each starts with a fresh session, and
// connections killed by a server restart are replaced unseen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "server_control.h"
#include "support/quill_client.h"
#include "support/test_server.h"

namespace quill::test {
namespace {

class PoolTest : public ::testing::Test {
 public:
  void SetUp() override {
    // Read by the module when it first pools; nothing before this test
    // has used it in this process.
    setenv("QUILL_POOL_SIZE", "2", 1);
    settings_ = TestServerFromEnv();
    if (!settings_) GTEST_SKIP() << "no private test server";
  }

  Dispatch Connected() {
    Dispatch q = CreateQuill();
    const TestServerSettings& s = *settings_;
    Outcome r = q.Method(u"Connect", {Arg::Str(s.host), Arg::Str(s.user), Arg::Str(s.password),
                                      Arg::I4(static_cast<int32_t>(s.port)), Arg::Str(s.database)});
    EXPECT_TRUE(r.ok()) << r.error;
    return q;
  }

  static std::string Value(Dispatch& q, const std::string& sql, const std::string& field) {
    Outcome r = q.Get(u"Query", {Arg::Str("v"), Arg::Str(sql)});
    if (!r.ok()) return "<" + r.error + ">";
    Outcome v = Dispatch::From(r).Method(u"fieldvalues", {Arg::Str(field)});
    return v.ok() ? v.Text() : "<" + v.error + ">";
  }

  // One page: its connection id and the user variable it found, after
  // which it leaves session state behind.
  std::string Page() {
    Dispatch q = Connected();
    const std::string seen = Value(q, "select concat(connection_id(), ':', ifnull(@left, '-'), ':', "
                                   "@@character_set_connection) as s", "s");
    Outcome r = q.Method(u"Exec", {Arg::Str("set @left = 'x'")});
    EXPECT_TRUE(r.ok()) << r.error;
    r = q.Method(u"Exec", {Arg::Str("create temporary table pool_tmp (a int)")});
    EXPECT_TRUE(r.ok()) << r.error;
    return seen;
  }

  std::optional<TestServerSettings> settings_;
};

TEST_F(PoolTest, ReusesResetsAndSurvivesARestart) {
  Dispatch watcher = Connected();
  // Session defaults other than the connection's own character set show
  // whether a reset connection still reads and writes utf8mb4.
  for (const char* name : {"character_set_client", "character_set_connection", "character_set_results"}) {
    Outcome r = watcher.Method(u"Exec", {Arg::Str(std::string("set global ") + name + " = latin1")});
    ASSERT_TRUE(r.ok()) << r.error;
  }
  struct Restore {
    PoolTest* test;
    ~Restore() {
      Dispatch q = test->Connected();
      q.Method(u"Exec", {Arg::Str("set global character_set_client = utf8mb4, "
                                  "character_set_connection = utf8mb4, character_set_results = utf8mb4")});
    }
  } restore{this};
  const std::string threads_sql = "select count(*) as n from information_schema.processlist";
  const std::string first = Page();
  ASSERT_NE(first.find(":-:utf8mb4"), std::string::npos) << first;
  const std::string threads = Value(watcher, threads_sql, "n");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Page(), first) << "same connection, fresh session";
  EXPECT_EQ(Value(watcher, threads_sql, "n"), threads);
  watcher.Reset();

  ServerControl control(*settings_);
  if (!control.Available()) GTEST_SKIP() << "the server cannot be restarted here";
  ASSERT_TRUE(control.Restart()) << control.Output();
  const std::string after = Page();
  EXPECT_NE(after, first);
  EXPECT_NE(after.find(":-:utf8mb4"), std::string::npos) << after;
  EXPECT_EQ(Page(), after);
}

TEST_F(PoolTest, AReadThatLeavesStateBehindStillResetsTheSession) {
  Dispatch watcher = Connected();
  // Only plain reads skip the reset; these look like reads but are not.
  {
    Dispatch q = Connected();
    EXPECT_EQ(Value(q, "select @kept := 'y' as s", "s"), "y");
    EXPECT_EQ(Value(q, "select get_lock('quill_pool_test', 0) as s", "s"), "1");
  }
  EXPECT_EQ(Value(watcher, "select is_free_lock('quill_pool_test') as s", "s"), "1") << "the lock went with the page";
  for (int i = 0; i < 2; ++i) {
    Dispatch q = Connected();
    EXPECT_EQ(Value(q, "select ifnull(@kept, '-') as s", "s"), "-");
  }
}

}  // namespace
}  // namespace quill::test

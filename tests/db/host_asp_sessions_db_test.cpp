// Two quill-asp processes sharing sessions through the private server:
// what one stores the other reads, an abandoned session ends for both, an
// id neither knows is replaced, and the session table holds what it should.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/asp/form_data.h"
#include "host/asp/mysql_session_store.h"
#include "host/asp/session_state.h"
#include "support/asp_test_component.h"
#include "support/cookie_jar.h"
#include "support/test_server.h"

namespace quill::asp {
namespace {

using quill::test::CookieJar;

// The session store of the private server, as `--session-store` takes it.
std::string StoreUrl(const quill::test::TestServerSettings& s) {
  return "mysql://" + UrlEncode(s.user) + ":" + UrlEncode(s.password) + "@" + s.host + ":" + std::to_string(s.port) +
         "/" + s.database;
}

TEST(SessionStoreDb, TwoHostProcessesShareSessions) {
  const auto settings = quill::test::TestServerFromEnv();
  if (!settings || settings->host.empty()) GTEST_SKIP() << "no private test server over TCP";
  test::TempSite site("SessionStoreDb");
  site.Write("set.asp", "<% Session(\"who\") = Request.QueryString(\"who\") + \"\"; Session(\"list\") = [1, {a: 2}]; %>"
                        "<%= Session.SessionID %>");
  site.Write("get.asp", "<%= Session.SessionID %>|<%= Session(\"who\") %>|<%= Session(\"list\") ? Session(\"list\")[1].a : \"\" %>");
  site.Write("abandon.asp", "<% Session.Abandon() %>");
  const std::vector<std::string> args = {"--root", site.root().string(), "--port", "0", "--session-store",
                                         StoreUrl(*settings)};
  quill::test::HostProcess one(QUILL_ASP_PROGRAM, args, (site.base() / "one.log").string());
  quill::test::HostProcess two(QUILL_ASP_PROGRAM, args, (site.base() / "two.log").string());
  const int port_one = one.WaitServing();
  const int port_two = two.WaitServing();
  ASSERT_GT(port_one, 0);
  ASSERT_GT(port_two, 0);
  httplib::Client a = quill::test::LocalClient(port_one, 10);
  httplib::Client b = quill::test::LocalClient(port_two, 10);

  CookieJar jar;
  auto r = jar.Get(a, "/set.asp?who=Ann");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  const std::string id = r->body;
  r = jar.Get(b, "/get.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, id + "|Ann|2") << "the other process reads the session";
  EXPECT_FALSE(r->has_header("Set-Cookie"));

  ASSERT_TRUE(jar.Get(b, "/abandon.asp"));
  r = jar.Get(a, "/get.asp");
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.substr(0, id.size()), id) << "an abandoned session is gone for both";
  ASSERT_NE(r->body.find('|'), std::string::npos) << r->body;
  EXPECT_EQ(r->body.substr(r->body.find('|')), "||");

  CookieJar forged;
  forged.Set("QuillSessionID", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB");
  r = forged.Get(b, "/get.asp");
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.substr(0, 32), "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB");
}

TEST(SessionStoreDb, ExpiryEndsEachSessionOnceAcrossHosts) {
  const auto settings = quill::test::TestServerFromEnv();
  if (!settings || settings->host.empty()) GTEST_SKIP() << "no private test server over TCP";
  const std::string store = StoreUrl(*settings);
  std::mutex mutex;
  std::map<std::string, int> ended;
  auto on_end = [&](const SessionRecord& r) {
    std::lock_guard<std::mutex> lock(mutex);
    ++ended[r.id];
  };
  SessionSettings s;
  s.timeout = std::chrono::seconds(1);
  s.sweep_interval = std::chrono::milliseconds(50);
  SessionManager one(s, NewMySQLSessionStore(store), on_end);
  SessionManager two(s, NewMySQLSessionStore(store), on_end);
  std::vector<std::string> ids;
  for (int i = 0; i < 20; ++i) {
    SessionRecord r;
    auto turn = (i % 2 == 0 ? one : two).Create(&r);
    ids.push_back(r.id);
  }
  // Sessions other tests left in the table end too; these are the ones counted.
  auto all_ended = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& id : ids) {
      if (ended.count(id) == 0) return false;
    }
    return true;
  };
  for (int waited = 0; waited < 60 && !all_ended(); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a second end would come now
  std::lock_guard<std::mutex> lock(mutex);
  for (const std::string& id : ids) EXPECT_EQ(ended[id], 1) << id;
}

TEST(SessionStoreDb, UnreachableStoreIsAClearError) {
  const auto [status, out] = quill::test::RunCommand(
      std::string(QUILL_ASP_PROGRAM) + " serve --root /tmp --port 0 --session-store mysql://nobody@127.0.0.1:1/x 2>&1");
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("session store: cannot connect to 127.0.0.1:1"), std::string::npos) << out;
}

}  // namespace
}  // namespace quill::asp

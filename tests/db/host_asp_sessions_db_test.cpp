// Two quill-asp processes sharing sessions through the private server:
// what one stores the other reads, an abandoned session ends for both, an
// id neither knows is replaced, and the session table holds what it should.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "host/asp/form_data.h"
#include "host/asp/mysql_session_store.h"
#include "host/asp/session_state.h"
#include "site_fixture.h"
#include "support/cookie_jar.h"
#include "support/test_server.h"

namespace quill::asp {
namespace {

using quill::test::CookieJar;

// `quill-asp serve` on a free port, until the object goes.
class HostProcess {
 public:
  HostProcess(const std::string& root, const std::string& store) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 2);
      close(out[0]);
      close(out[1]);
      execl(QUILL_ASP_PROGRAM, QUILL_ASP_PROGRAM, "serve", "--root", root.c_str(), "--port", "0",
            "--session-store", store.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // "quill-asp: serving DIR on http://127.0.0.1:PORT/"
    FILE* err = fdopen(out[0], "r");
    char line[4096];
    while (err != nullptr && std::fgets(line, sizeof(line), err) != nullptr) {
      const std::string text = line;
      const size_t at = text.find("http://127.0.0.1:");
      if (at != std::string::npos) {
        port_ = std::atoi(text.c_str() + at + 17);
        break;
      }
      std::fputs(line, stderr);
    }
    err_ = err;
  }
  ~HostProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (err_ != nullptr) std::fclose(err_);
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  FILE* err_ = nullptr;
};

TEST(SessionStoreDb, TwoHostProcessesShareSessions) {
  const auto settings = quill::test::TestServerFromEnv();
  if (!settings || settings->host.empty()) GTEST_SKIP() << "no private test server over TCP";
  test::TempSite site("SessionStoreDb");
  site.Write("set.asp", "<% Session(\"who\") = Request.QueryString(\"who\") + \"\"; Session(\"list\") = [1, {a: 2}]; %>"
                        "<%= Session.SessionID %>");
  site.Write("get.asp", "<%= Session.SessionID %>|<%= Session(\"who\") %>|<%= Session(\"list\") ? Session(\"list\")[1].a : \"\" %>");
  site.Write("abandon.asp", "<% Session.Abandon() %>");
  const std::string store = "mysql://" + UrlEncode(settings->user) + ":" + UrlEncode(settings->password) + "@" +
                            settings->host + ":" + std::to_string(settings->port) + "/" + settings->database;
  HostProcess one(site.root().string(), store);
  HostProcess two(site.root().string(), store);
  ASSERT_GT(one.port(), 0);
  ASSERT_GT(two.port(), 0);
  httplib::Client a("127.0.0.1", one.port());
  httplib::Client b("127.0.0.1", two.port());
  for (httplib::Client* c : {&a, &b}) c->set_read_timeout(10);

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
  const std::string store = "mysql://" + UrlEncode(settings->user) + ":" + UrlEncode(settings->password) + "@" +
                            settings->host + ":" + std::to_string(settings->port) + "/" + settings->database;
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
  const std::string command = std::string(QUILL_ASP_PROGRAM) +
                              " serve --root /tmp --port 0 --session-store mysql://nobody@127.0.0.1:1/x 2>&1";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof(buf), p) != nullptr) out += buf;
  EXPECT_NE(pclose(p), 0);
  EXPECT_NE(out.find("session store: cannot connect to 127.0.0.1:1"), std::string::npos) << out;
}

}  // namespace
}  // namespace quill::asp

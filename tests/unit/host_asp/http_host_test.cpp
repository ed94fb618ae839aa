// The HTTP front end on 127.0.0.1 and the command line, end to end. Every
// request is bounded in time; the server runs on a free port of its own.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "host/asp/http_host.h"
#include "host/asp/page_workers.h"
#include "support/asp_test_component.h"

namespace quill::asp {
namespace {

using test::TempSite;

class ServeTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    test::RegisterTestComponent();
    site_.Write("hello.asp", "Hello <%= Request.QueryString('name') %> from <%= Request.ServerVariables('REQUEST_METHOD') %>");
    site_.Write("form.asp",
                "<% var c = Server.CreateObject('QuillAspTest.Component') %><%= c.FormSummary() %>"
                "|<%= Request.Form('who') %>");
    site_.Write("fail.asp", "<% throw new Error('<i>broken</i>') %>");
    site_.Write("static.txt", "plain file");
    site_.Write("lib.inc", "<% var password = 'hidden' %>");
    site_.Write(".hidden.txt", "hidden");
    site_.Write("sub/default.asp", "index of sub");
    site_.Write("secret.txt", "secret", /*outside=*/true);
    std::filesystem::create_symlink(site_.base() / "secret.txt", site_.root() / "out.txt");
    ServeOptions options;
    options.threads = 2;
    options.max_body_bytes = 4096;
    options.log = false;
    options.page.timeout = std::chrono::milliseconds(500);
    Serve(options);
  }
};

TEST_F(ServeTest, ServesPagesAndStaticFiles) {
  auto client = Client();
  auto r = client.Get("/hello.asp?name=Ann%20B");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "Hello Ann B from GET");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
  r = client.Get("/static.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "plain file");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  r = client.Get("/sub/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "index of sub");
  r = client.Post("/static.txt", "a=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 405);
}

TEST_F(ServeTest, PostedFormsReachPagesAndComponents) {
  auto client = Client();
  httplib::Params params{{"who", "Zoë & co"}, {"n", "1"}};
  auto r = client.Post("/form.asp", params);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("who=Zo\xC3\xAB & co;"), std::string::npos) << r->body;
  EXPECT_NE(r->body.find("|Zo\xC3\xAB & co"), std::string::npos) << r->body;

  httplib::MultipartFormDataItems items = {{"who", "multi", "", ""}, {"file", "data", "f.txt", "text/plain"}};
  r = client.Post("/form.asp", items);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "who=multi;|multi");
  EXPECT_EQ(test::TestComponentCounts().live, 0);
}

TEST_F(ServeTest, NothingOutsideTheRootOrNotMeantToBeSeenIsServed) {
  auto client = Client();
  for (const char* path : {"/../secret.txt", "/%2e%2e/secret.txt", "/sub/../../secret.txt", "/out.txt",
                           "/lib.inc", "/.hidden.txt", "/missing.asp", "/sub/..%2f..%2fsecret.txt", "/static.txt%00.asp"}) {
    auto r = client.Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404) << path;
    EXPECT_EQ(r->body.find("secret"), std::string::npos) << path;
    EXPECT_EQ(r->body.find("hidden"), std::string::npos) << path;
  }
}

TEST_F(ServeTest, BadRequestsAreAnsweredAndTheServerGoesOn) {
  auto client = Client();
  auto r = client.Post("/hello.asp", std::string(10000, 'x'), "application/x-www-form-urlencoded");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  EXPECT_NE(r->body.find("4096 bytes"), std::string::npos) << r->body;

  // Without debugging the client learns nothing of the failure.
  r = client.Get("/fail.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_EQ(r->body.find("broken"), std::string::npos);
  EXPECT_EQ(r->body.find("fail.asp"), std::string::npos);

  site_.Write("loop.asp", "<% for (;;) {} %>");
  r = client.Get("/loop.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);

  r = client.Get("/hello.asp?name=again");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "Hello again from GET");
}

TEST_F(ServeTest, RequestsRunSideBySide) {
  std::vector<std::future<int>> answers;
  for (int i = 0; i < 6; ++i) {
    answers.push_back(std::async(std::launch::async, [this, i] {
      auto client = Client();
      auto r = client.Get(("/hello.asp?name=" + std::to_string(i)).c_str());
      return r && r->body == "Hello " + std::to_string(i) + " from GET" ? r->status : -1;
    }));
  }
  for (auto& a : answers) EXPECT_EQ(a.get(), 200);
}

TEST(PageSlots, NoMorePagesRunThanSlotsAndWaitersGetThemInTurn) {
  PageSlots slots(2);
  // Under churn the bound holds and no waiter is left asleep.
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  std::vector<std::thread> pages;
  for (int t = 0; t < 6; ++t) {
    pages.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        PageSlot slot(slots);
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        --running;
      }
    });
  }
  for (std::thread& t : pages) t.join();
  EXPECT_LE(most.load(), 2);
  // With both slots held, pages that ask one after the other get them in
  // the order they asked.
  slots.Acquire();
  slots.Acquire();
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread> waiting;
  for (int i = 0; i < 3; ++i) {
    waiting.emplace_back([&, i] {
      PageSlot slot(slots);
      std::lock_guard<std::mutex> lock(mutex);
      order.push_back(i);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // queued before the next asks
  }
  slots.Release();
  for (std::thread& t : waiting) t.join();
  slots.Release();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

// Runs quill-asp with `args`; answers its exit status and standard output.
std::pair<int, std::string> RunProgram(const std::string& args) {
  return quill::test::RunCommand(std::string(QUILL_ASP_PROGRAM) + " " + args + " 2>/dev/null");
}

TEST(CommandLine, RenderWritesThePageAndReportsFailureInItsStatus) {
  TempSite site("CommandLine");
  test::RegisterTestComponent();
  site.Write("p.asp", "<%= Request.Form('a') %>,<%= Request.QueryString('q') %>,<%= Request.ServerVariables('REQUEST_METHOD') %>");
  site.Write("sub/e.asp", "<% nope() %>");
  const std::string page = (site.root() / "p.asp").string();
  auto [status, out] = RunProgram("render " + page + " --form a=x%20y --query q=1");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "x%20y,1,POST");
  std::tie(status, out) = RunProgram("render " + page + " --headers");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Status: 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n,,GET");
  std::tie(status, out) = RunProgram("render " + (site.root() / "sub/e.asp").string() + " --root " + site.root().string());
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("/sub/e.asp, line 1"), std::string::npos) << out;
  EXPECT_EQ(RunProgram("render " + page + " --root " + (site.root() / "sub").string()).first, 2);
  EXPECT_EQ(RunProgram("render").first, 2);
  EXPECT_EQ(RunProgram("render " + page + " --form novalue").first, 2);
  EXPECT_EQ(RunProgram("render " + page + " --timeout 0").first, 2);
  EXPECT_EQ(RunProgram("render /no/such/page.asp").first, 1);
  EXPECT_EQ(RunProgram("frobnicate").first, 2);
  EXPECT_EQ(RunProgram("serve").first, 2);
  EXPECT_EQ(RunProgram("serve --root " + site.root().string() + " --port 70000").first, 2);
  EXPECT_EQ(RunProgram("serve --root " + site.root().string() + " --error-page 200=/p.asp").first, 2);
  EXPECT_EQ(RunProgram("serve --root " + site.root().string() + " --error-page 500=/nope.asp").first, 1);
}

}  // namespace
}  // namespace quill::asp

// Sessions, Application, cookies and global.asa over HTTP, with a cookie jar,
// against a PageServer on a free port of 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <fstream>
#include <chrono>
#include <future>
#include <thread>

#include "host/asp/cookies.h"
#include "host/asp/http_host.h"
#include "support/asp_test_component.h"
#include "support/cookie_jar.h"

namespace quill::asp {
namespace {

using quill::test::CookieJar;

constexpr const char* kGlobalAsa =
    "<script language=\"JScript\" runat=\"server\">\n"
    "function Application_OnStart() { Application(\"log\") = \"start\"; }\n"
    "function Session_OnStart() { Application(\"log\") += \"|s\"; Session(\"started\") = true; }\n"
    "function Session_OnEnd() { Application(\"log\") += \"|e:\" + Session(\"name\"); }\n"
    "</script>\n";

class SessionTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    test::RegisterTestComponent();
    site_.Write("global.asa", kGlobalAsa);
    site_.Write("set.asp",
                "<% Session(\"name\") = Request.QueryString(\"name\") + \"\";\n"
                "Session(\"n\") = 42; Session(\"x\") = 1.5; Session(\"ok\") = false; Session(\"nothing\") = null;\n"
                "Session(\"when\") = new Date(2020, 1, 29, 13, 45, 10);\n"
                "Session(\"vb\") = Server.CreateObject(\"QuillAspTest.Component\").Echo([1, \"b\"]);\n"
                "Session(\"list\") = [1, \"two\", {three: [3, new Date(0)]}];\n"
                "Session.Contents(\"obj\") = {a: \"x\", nested: {b: null, c: [true]}};\n"
                "Session.Contents(\"gone\") = 1; Session.Contents.Remove(\"GONE\"); %>ok");
    site_.Write("get.asp",
                "<% var l = Session(\"list\"), o = Session(\"obj\"), w = Session(\"when\");\n"
                "var keys = []; for (var e = new Enumerator(Session.Contents); !e.atEnd(); e.moveNext()) keys.push(e.item());\n"
                "Response.Write([Session(\"NAME\"), typeof Session(\"n\"), Session(\"n\") + 1, Session(\"x\"),\n"
                "  Session(\"ok\") === false, Session(\"nothing\") === null, w.getFullYear(), w.getMonth(), w.getSeconds(),\n"
                "  Session(\"vb\").toArray().join(\"+\"), Array.isArray(l), l[2].three[1].getTime(), o.nested.c[0] === true,\n"
                "  o.nested.b === null, Session.Contents.Count, Session.Contents.Key(1), keys.join(\"+\"),\n"
                "  Session.Contents(2), Session(\"started\") === true, Session.Timeout].join(\",\")); %>");
    site_.Write("plain.asp", "no session here");
    site_.Write("id.asp", "<%= Session.SessionID %>");
    site_.Write("abandon.asp", "<% Session.Abandon() %><%= Session(\"name\") %>");
    site_.Write("log.asp", "<%= Application(\"log\") %>");
    site_.Write("store-object.asp", "<% Session(\"q\") = Server.CreateObject(\"QuillAspTest.Component\") %>");
    site_.Write("big.asp", "<% var s = \"\"; for (var i = 0; i < 3000; i++) s += \"0123456789\"; Session(\"big\") = s; %>");
    site_.Write("count.asp",
                "<% Application.Lock(); var n = Application(\"count\") || 0;\n"
                "for (var i = 0; i < 2000; i++) {}\n"
                "Application(\"count\") = n; ++Application(\"count\"); Application.Unlock(); %><%= Application(\"count\") %>");
    site_.Write("hold-lock.asp", "<% Application.Lock(); Application(\"held\") = 1; %>");
    site_.Write("slow.asp",
                "<% var t = new Date().getTime(); while (new Date().getTime() - t < 500) {} Session(\"slow\") = 1; %>ok");
    site_.Write("cookies.asp",
                "<% var p = Request.Cookies(\"prefs\");\n"
                "Response.Write([Request.Cookies(\"theme\"), p.HasKeys, p(\"lang\"), p(\"x y\"), Request.Cookies(\"theme\").HasKeys,\n"
                "  Request.Cookies(\"missing\") + \"\", Request.Cookies.Count].join(\",\"));\n"
                "Response.Cookies(\"theme\") = \"dark blue\";\n"
                "Response.Cookies(\"prefs\")(\"lang\") = \"en\"; Response.Cookies(\"prefs\")(\"x y\") = \"a b\";\n"
                "var c = Response.Cookies(\"prefs\"); c.Expires = new Date(2030, 0, 2, 3, 4, 5); c.Domain = \"example.org\";\n"
                "c.Path = \"/shop\"; c.Secure = true; c.HttpOnly = true; c.SameSite = \"strict\"; %>");
    site_.Write("cookie-too-big.asp",
                "<% var s = \"\"; for (var i = 0; i < 410; i++) s += \"0123456789\"; Response.Cookies(\"big\") = s; %>");
    Start();
  }

  void Start(size_t max_sessions = 10000) {
    ServeOptions options;
    options.threads = 4;
    options.log = false;
    options.trusted_proxies = {"127.0.0.1"};  // the test client stands for a proxy that ends HTTPS
    options.debug = true;  // failures show their messages, which the cases look for
    options.page.timeout = std::chrono::seconds(5);
    options.application.log = false;
    options.application.sessions.timeout = std::chrono::seconds(1);
    options.application.sessions.sweep_interval = std::chrono::milliseconds(100);
    options.application.sessions.max_session_bytes = 16u << 10;
    options.application.sessions.max_sessions = max_sessions;
    Serve(options);
  }

  std::string Body(CookieJar& jar, const std::string& path) {
    auto client = Client();
    auto r = jar.Get(client, path);
    return r ? std::to_string(r->status) + " " + r->body : "no answer";
  }
};

TEST_F(SessionTest, ValuesSurviveAcrossRequestsWithTheirTypes) {
  CookieJar jar;
  auto client = Client();
  auto r = jar.Get(client, "/plain.asp");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->has_header("Set-Cookie")) << "a page that does not use Session starts none";
  r = jar.Get(client, "/set.asp?name=Ann");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->body, "ok");
  const std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie.find("QuillSessionID="), 0u);
  EXPECT_NE(cookie.find("; Path=/"), std::string::npos);
  EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("; SameSite=Lax"), std::string::npos);
  EXPECT_EQ(cookie.find("Secure"), std::string::npos);
  EXPECT_GE(jar.Get("QuillSessionID").size(), 32u);  // 192 bits
  EXPECT_EQ(Body(jar, "/get.asp"),
            "200 Ann,number,43,1.5,true,true,2020,1,10,1+b,true,0,true,true,10,started,"
            "started+name+n+x+ok+nothing+when+vb+list+obj,Ann,true,1");
  // The same session: no new cookie.
  r = jar.Get(client, "/id.asp");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->has_header("Set-Cookie"));
  EXPECT_EQ(r->body, jar.Get("QuillSessionID"));

  EXPECT_NE(Body(jar, "/store-object.asp").find("an automation object"), std::string::npos);
  EXPECT_NE(Body(jar, "/big.asp").find("more than the 16384 allowed"), std::string::npos);
  EXPECT_EQ(Body(jar, "/get.asp").substr(0, 8), "200 Ann,") << "refused writes leave the session as it was";

  // An id the host never gave out is not adopted; over HTTPS (through a
  // trusted proxy) the cookie is Secure.
  CookieJar forged;
  forged.Set("QuillSessionID", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  r = forged.Get(client, "/id.asp", {{"X-Forwarded-Proto", "https"}});
  ASSERT_TRUE(r);
  EXPECT_NE(r->body, "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  EXPECT_EQ(r->body, forged.Get("QuillSessionID"));
  EXPECT_NE(r->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
}

TEST_F(SessionTest, AbandonAndTimeoutEndSessionsWithTheirEvents) {
  CookieJar jar;
  EXPECT_EQ(Body(jar, "/set.asp?name=Ann"), "200 ok");
  const std::string first = jar.Get("QuillSessionID");
  EXPECT_EQ(Body(jar, "/abandon.asp"), "200 Ann") << "the values stay readable until the page ends";
  EXPECT_EQ(Body(jar, "/log.asp"), "200 start|s|e:Ann");
  const std::string next = Body(jar, "/id.asp").substr(4);
  EXPECT_EQ(next, jar.Get("QuillSessionID"));
  EXPECT_NE(next, first);

  EXPECT_EQ(Body(jar, "/set.asp?name=Bo"), "200 ok");
  const std::string second = jar.Get("QuillSessionID");
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));  // the timeout is 1 s
  EXPECT_EQ(Body(jar, "/log.asp"), "200 start|s|e:Ann|s|e:Bo");
  EXPECT_NE(Body(jar, "/id.asp").substr(4), second);
}

TEST_F(SessionTest, RequestsOfOneSessionRunOneAtATime) {
  CookieJar a, b;
  EXPECT_EQ(Body(a, "/id.asp").substr(0, 3), "200");
  EXPECT_EQ(Body(b, "/id.asp").substr(0, 3), "200");
  auto timed = [this](std::vector<CookieJar*> jars) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::future<std::string>> runs;
    for (CookieJar* jar : jars) {
      runs.push_back(std::async(std::launch::async, [this, jar] {
        CookieJar copy = *jar;
        return Body(copy, "/slow.asp");
      }));
    }
    for (auto& run : runs) EXPECT_EQ(run.get(), "200 ok");
    return std::chrono::steady_clock::now() - start;
  };
  EXPECT_GE(timed({&a, &a}), std::chrono::milliseconds(1000));  // one after the other
  EXPECT_LT(timed({&a, &b}), std::chrono::milliseconds(950));   // side by side, with room for a busy machine
}

TEST_F(SessionTest, ApplicationLockCountsExactlyUnderConcurrentRequests) {
  CookieJar jar;
  EXPECT_EQ(Body(jar, "/hold-lock.asp"), "200 ") << "a page that ends holding the lock gives it up";
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, &failures] {
      CookieJar none;
      for (int i = 0; i < 25; ++i) {
        if (Body(none, "/count.asp").substr(0, 3) != "200") ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Body(jar, "/count.asp"), "200 101");
}

TEST_F(SessionTest, CookiesWithKeysAndAttributes) {
  auto client = Client();
  auto r = client.Get("/cookies.asp", {{"Cookie", "theme=light%20grey; prefs=lang=de&x+y=1%202; ;=bad; junk; empty="}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "light grey,true,de,1 2,false,,3");
  ASSERT_EQ(r->get_header_value_count("Set-Cookie"), 2u);
  EXPECT_EQ(r->get_header_value("Set-Cookie", 0), "theme=dark+blue; Path=/");
  std::tm expires{};  // 2030-01-02 03:04:05, local time as the page wrote it
  expires.tm_year = 130;
  expires.tm_mday = 2;
  expires.tm_hour = 3;
  expires.tm_min = 4;
  expires.tm_sec = 5;
  expires.tm_isdst = -1;
  EXPECT_EQ(r->get_header_value("Set-Cookie", 1),
            "prefs=lang=en&x+y=a+b; Expires=" + HttpDate(std::mktime(&expires)) +
                "; Domain=example.org; Path=/shop; Secure; HttpOnly; SameSite=Strict");
  r = client.Get("/cookie-too-big.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("more than the 4096 a browser keeps"), std::string::npos);
}

TEST_F(SessionTest, ExecutedAndStreamedPagesKeepTheSessionAndCookies) {
  site_.Write("outer.asp", "<% Server.Execute(\"inner.asp\") %>|outer");
  site_.Write("inner.asp", "<% Session(\"who\") = \"inner\" %>inner");
  site_.Write("who.asp", "<% Server.Transfer(\"show.asp\") %>");
  site_.Write("show.asp", "<%= Session(\"who\") %>");
  site_.Write("stream.asp",
              "<% Response.Buffer = false; Response.Cookies(\"early\") = \"1\"; Session(\"n\") = 1;\n"
              "Response.Write(\"a\"); Response.Flush();\n"
              "try { Response.Cookies(\"late\") = \"1\"; } catch (e) { Response.Write(\"|refused\"); } %>");
  // A session a page run by Server.Execute starts is the request's: its
  // cookie goes out, and a transferred page of the next request sees it.
  CookieJar jar;
  EXPECT_EQ(Body(jar, "/outer.asp"), "200 inner|outer");
  EXPECT_FALSE(jar.Get("QuillSessionID").empty());
  EXPECT_EQ(Body(jar, "/who.asp"), "200 inner");
  // A streamed page sends its cookies with the head; one set afterwards is
  // refused rather than lost silently.
  CookieJar streamed;
  EXPECT_EQ(Body(streamed, "/stream.asp"), "200 a|refused");
  EXPECT_FALSE(streamed.Get("QuillSessionID").empty());
  EXPECT_EQ(streamed.Get("early"), "1");
  EXPECT_EQ(streamed.Get("late"), "");
}

TEST_F(SessionTest, GlobalAsaChangeRestartsTheApplication) {
  CookieJar jar;
  EXPECT_EQ(Body(jar, "/set.asp?name=Ann"), "200 ok");
  EXPECT_EQ(Body(jar, "/log.asp"), "200 start|s");
  const std::string before = jar.Get("QuillSessionID");
  std::string changed = kGlobalAsa;
  changed.replace(changed.find("\"start\""), 7, "\"start 2\"");
  site_.Write("global.asa", changed);
  EXPECT_EQ(Body(jar, "/log.asp"), "200 start 2") << "OnEnd ran with the old file, OnStart with the new";
  EXPECT_NE(Body(jar, "/id.asp").substr(4), before) << "the sessions ended with the application";
  // An error in an event stops nothing.
  site_.Write("global.asa", "<script runat=server>function Application_OnStart() { throw new Error('x'); }</script>");
  EXPECT_EQ(Body(jar, "/plain.asp"), "200 no session here");
}

TEST_F(SessionTest, CapAndExpiryKeepMemoryFlat) {
  CookieJar jar;
  EXPECT_EQ(Body(jar, "/plain.asp"), "200 no session here");  // serving: a stop now is not lost
  StopServing();
  site_.Write("global.asa",
              "<script language=\"JScript\" runat=\"server\">\n"
              "function Session_OnStart() { Application.Lock(); Application(\"started\")++; Application.Unlock(); }\n"
              "function Session_OnEnd() { Application.Lock(); Application(\"ended\")++; Application.Unlock(); }\n"
              "function Application_OnStart() { Application(\"started\") = 0; Application(\"ended\") = 0; }\n"
              "</script>\n");
  site_.Write("counts.asp", "<%= Application(\"started\") %>/<%= Application(\"ended\") %>");
  site_.Write("new.asp", "<% Session(\"payload\") = [Session.SessionID, {when: new Date()}]; %>ok");
  Start(/*max_sessions=*/100);
  auto round = [this] {
    auto client = Client();
    for (int i = 0; i < 500; ++i) {
      auto r = client.Get("/new.asp");  // no cookie: a new session each time
      if (!r || r->status != 200) {
        ADD_FAILURE() << "request " << i << " failed";
        return;
      }
    }
  };
  round();
  const long warm_kb = quill::test::MemoryKb();
  for (int i = 0; i < 3; ++i) round();
  // Over the cap the oldest idle sessions ended, each with Session_OnEnd.
  const std::string counts = Body(jar, "/counts.asp");
  const int started = std::atoi(counts.c_str() + 4);
  const int ended = std::atoi(counts.c_str() + counts.find('/') + 1);
  EXPECT_EQ(started, 2000) << counts;
  EXPECT_GE(ended, 2000 - 100) << counts;
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));  // past the timeout
  EXPECT_EQ(Body(jar, "/counts.asp"), "200 2000/2000");
  const long end_kb = quill::test::MemoryKb();
  std::printf("session soak: VmRSS %ld kB after warm-up, %ld kB after 1500 more sessions\n", warm_kb, end_kb);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' quarantine grows with every allocation: resident memory
  // says nothing about leaks there; the leak checker does.
#else
  EXPECT_LE(end_kb - warm_kb, 4096);
#endif
}

}  // namespace
}  // namespace quill::asp

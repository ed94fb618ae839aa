// A site over HTTP: pages running one another, the site's error pages,
// streamed answers, the request collections, the page cache, and the
// production options of `quill-asp serve` (access log, SIGHUP, SIGTERM).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <regex>

#include "host/asp/page_cache.h"
#include "support/asp_test_component.h"
#include "support/page_host.h"

namespace quill::asp {
namespace {

using namespace std::chrono_literals;
using quill::test::ServedSite;
using test::TempSite;

ServeOptions Options(const TempSite& site, bool debug) {
  ServeOptions options;
  options.root = site.root();
  options.threads = 2;
  options.log = false;
  options.debug = debug;
  options.page.timeout = 3s;
  return options;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' own memory grows with every allocation, and they are slow:
// a smaller export, and resident memory is not compared.
constexpr bool kMemoryIsMeasurable = false;
constexpr int kExportChunks = 200;
#else
constexpr bool kMemoryIsMeasurable = true;
constexpr int kExportChunks = 1600;  // of 64 KiB: 100 MiB
#endif

// A page that keeps its thread busy for `ms` milliseconds.
std::string BusyWait(int ms) {
  return "var t0 = new Date().getTime(); while (new Date().getTime() - t0 < " + std::to_string(ms) + ") {}";
}

TEST(PageFlow, ExecuteAndTransferShareTheRequestAndStayInTheSite) {
  TempSite site("ExecuteTransfer");
  site.Write("shop/main.asp",
             "<% var mine = 1; %>[<% Server.Execute('part.asp'); %>]<%= typeof shared %>"
             "<% Server.Execute('/common/tail.asp'); %>");
  site.Write("shop/part.asp",
             "part <%= Request.QueryString('q') %> <%= typeof mine %> "
             "<%= Request.ServerVariables('SCRIPT_NAME') %><% var shared = 1; "
             "Response.AddHeader('X-Part', 'yes'); %>");
  site.Write("common/tail.asp", "|tail");
  site.Write("transfer.asp", "before<% Server.Transfer('common/tail.asp'); %>after");
  site.Write("ends.asp", "a<% Server.Execute('end.asp'); %>not shown");
  site.Write("end.asp", "b<% Response.End(); %>");
  site.Write("confined.asp",
             "<% var out = []; ['../../secret.asp', 'missing.asp'].forEach(function (p) {"
             " try { Server.Execute(p); out.push('ran'); } catch (e) { out.push('refused'); } }); %>"
             "<%= out.join(',') %>");
  site.Write("secret.asp", "SECRET", /*outside=*/true);
  site.Write("loop.asp", "<% Server.Execute('loop.asp'); %>");
  ServedSite served(Options(site, true));
  auto client = served.Client();

  auto r = client.Get("/shop/main.asp?q=7");
  ASSERT_TRUE(r);
  // The request's variables are the requested page's, also where a page it
  // runs reads them first.
  EXPECT_EQ(r->body, "[part 7 undefined /shop/main.asp]undefined|tail");
  EXPECT_EQ(r->get_header_value("X-Part"), "yes");
  r = client.Get("/transfer.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "before|tail");
  r = client.Get("/ends.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "ab");
  r = client.Get("/confined.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "refused,refused");
  r = client.Get("/loop.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("deep"), std::string::npos) << r->body;
}

TEST(PageFlow, SiteErrorPagesAnswerWithTheirStatusAndTellWhatFailed) {
  TempSite site("ErrorPages");
  test::RegisterTestComponent();
  site.Write("errors/500.asp",
             "<% var e = Server.GetLastError(); %>500 page:<%= e.Number %>|<%= e.Description %>|<%= e.Source %>|"
             "<%= e.File %>|<%= e.Line %>|<%= e.Column %>|<%= e.Category %>|<%= e.ASPCode %>");
  site.Write("errors/404.asp", "404 page for <%= Server.GetLastError().File %>");
  site.Write("bad.asp", "partial output\n<% var v = 1;\n   missing.call(); %>\n");
  site.Write("caller.asp", "<% Server.Execute('sub/broken.asp'); %>");
  site.Write("sub/broken.asp", "\n<% throw new Error('broken here'); %>");
  site.Write("slow.asp", "<% for (;;) {} %>");
  site.Write("caught.asp",
             "<% var c = Server.CreateObject('QuillAspTest.Component'); c.OnEndPage();"
             " try { c.FormSummary(); } catch (e) { %><%= e.number %>:<%= e.description %><% } %>");
  ServeOptions options = Options(site, false);
  options.page.timeout = 1s;
  options.page.error_pages = {{404, "/errors/404.asp"}, {500, "/errors/500.asp"}};
  ServedSite served(options);
  auto client = served.Client();

  auto r = client.Get("/bad.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_EQ(r->body,
            "500 page:-2147467259|ReferenceError: identifier 'missing' undefined|missing.call(); %>|/bad.asp|3|-1|"
            "JScript runtime|");
  r = client.Get("/caller.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("|Error: broken here|<% throw new Error('broken here'); %>|/sub/broken.asp|2|"),
            std::string::npos)
      << r->body;
  r = client.Get("/slow.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("|Page host|ASP 0113"), std::string::npos) << r->body;
  for (const char* missing : {"/nope.asp", "/nope.txt", "/lib/"}) {
    r = client.Get(missing);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << missing;
    EXPECT_EQ(r->body, std::string("404 page for ") + missing);
  }
  // A module's error reaches the page's catch with its number and text.
  r = client.Get("/caught.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "-2147418113:no scripting context");

  // A failing error page, and no error page at all: the host's own page,
  // with nothing of the site in it unless debugging.
  site.Write("errors/500.asp", "<% throw new Error('the error page at /errors/500.asp fails'); %>");
  for (const bool debug : {false, true}) {
    ServeOptions plain = Options(site, debug);
    if (!debug) plain.page.error_pages = options.page.error_pages;
    ServedSite other(plain);
    r = other.Client().Get("/bad.asp");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 500);
    for (const char* detail : {"missing", "bad.asp", "line", "partial"}) {
      EXPECT_EQ(r->body.find(detail) != std::string::npos, debug && std::string(detail) != "partial")
          << detail << " in " << r->body;
    }
    EXPECT_EQ(r->body.find("error page"), std::string::npos) << r->body;
  }
}

TEST(PageFlow, StreamedAnswersReachTheClientAsWrittenWithFlatMemory) {
  TempSite site("Streaming");
  site.Write("flush.asp",
             "<% Response.Write('first'); Response.Flush(); " + BusyWait(1500) + " %>last"
             "<% try { Response.AddHeader('X-Late', '1'); } catch (e) { Response.Write('|late refused'); } %>");
  site.Write("big.asp",
             "<% Response.ContentType = 'text/csv'; Response.Buffer = false; Response.ContentType = 'text/plain';"
             " var s = new Array(65537).join('x'); for (var i = 0; i < " + std::to_string(kExportChunks) +
             "; i++) Response.Write(s); %>");
  site.Write("buffered.asp", "<% var s = new Array(65537).join('x'); for (var i = 0; i < 40; i++) Response.Write(s); %>");
  site.Write("endless.asp",
             "<% Response.Buffer = false; var s = new Array(4097).join('y');"
             " while (Response.IsClientConnected) Response.Write(s); %>");
  site.Write("hello.asp", "hello");
  ServeOptions options = Options(site, true);
  options.threads = 1;  // a page that never noticed its client left would block the next
  options.page.timeout = 60s;  // 100 MiB on a busy machine
  options.page.max_response_bytes = 1u << 20;
  ServedSite served(options);
  auto client = served.Client();

  // The first chunk arrives while the page still runs, also once the page
  // is compiled and kept.
  for (int run = 0; run < 2; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::chrono::milliseconds first_at{-1};
    std::string body;
    auto flushed = client.Get("/flush.asp", [&](const char* data, size_t n) {
      if (body.empty()) {
        first_at = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      }
      body.append(data, n);
      return true;
    });
    ASSERT_TRUE(flushed);
    EXPECT_EQ(flushed->status, 200);
    EXPECT_EQ(body, "firstlast|late refused");
    EXPECT_LT(first_at.count(), 1000) << "run " << run;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
  }

  // 100 MiB pass through with the host's memory flat.
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  const bool can_reset_peak = f != nullptr;
  if (f != nullptr) {
    std::fputs("5", f);
    std::fclose(f);
  }
  const long before = quill::test::MemoryKb("VmRSS");
  uint64_t received = 0;
  auto r = client.Get("/big.asp", [&](const char*, size_t n) {
    received += n;
    return true;
  });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(received, static_cast<uint64_t>(kExportChunks) * 65536);
  const long peak = quill::test::MemoryKb("VmHWM");
  if (kMemoryIsMeasurable && can_reset_peak && before > 0 && peak > 0) {
    EXPECT_LT(peak - before, 48 * 1024) << "KiB";
  }

  // Buffered, the same page would pass the limit: a clear error instead.
  r = client.Get("/buffered.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("larger than the 1048576 bytes allowed"), std::string::npos) << r->body.substr(0, 300);

  // A client that leaves: the page sees it and ends, and the one page
  // thread serves the next request.
  size_t got = 0;
  r = client.Get("/endless.asp", [&](const char*, size_t n) {
    got += n;
    return got < 100000;
  });
  EXPECT_FALSE(r);
  r = served.Client(5).Get("/hello.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "hello");
}

TEST(PageFlow, RequestCollectionsAndServerVariables) {
  TempSite site("Collections");
  site.Write("vars.asp",
             "<% var q = Request.QueryString; var keys = [];"
             " for (var en = new Enumerator(q); !en.atEnd(); en.moveNext()) keys.push(en.item()); %>"
             "<%= q('a').Count %>|<%= q('a')(2) %>|<%= q.Key(2) %>|<%= q.Item('b') %>|<%= q.Count %>|<%= keys %>|"
             "<% var v = Request.ServerVariables; %>"
             "<%= v('REQUEST_METHOD') %>|<%= v('QUERY_STRING') %>|<%= v('REMOTE_ADDR') %>|<%= v('HTTPS') %>|"
             "<%= v('SERVER_PROTOCOL') %>|<%= v('URL') %>|<%= v('SCRIPT_NAME') %>|<%= v('HTTP_X_TEST') %>|"
             "<%= String(v('ALL_RAW')).indexOf('X-Test: yes\\r\\n') >= 0 %>|<%= String(v('ALL_HTTP')).indexOf('HTTP_X_TEST:yes\\n') >= 0 %>|"
             "<%= v('PATH_TRANSLATED') == Server.MapPath('vars.asp') %>|<%= v('SERVER_PORT') > 0 %>");
  site.Write("post.asp",
             "<%= Request.TotalBytes %>|<%= Request.BinaryRead(3).toArray() %>|<%= Request.BinaryRead(100).toArray().length %>|"
             "<%= Request.Form('k').Count %>|<%= Request.Form.Key(1) %>|<%= Request.ServerVariables('CONTENT_LENGTH') %>|"
             "<%= Request.ServerVariables('CONTENT_TYPE') %>");
  ServeOptions options = Options(site, true);
  options.trusted_proxies = {"127.0.0.1"};
  ServedSite trusting(options);
  ServedSite plain(Options(site, true));

  const httplib::Headers headers = {{"X-Test", "yes"}, {"X-Forwarded-For", "10.1.1.1, 192.0.2.7"},
                                    {"X-Forwarded-Proto", "https"}};
  auto r = trusting.Client().Get("/vars.asp?a=1&b=x&a=2", headers);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "2|2|b|x|2|a,b|GET|a=1&b=x&a=2|192.0.2.7|on|HTTP/1.1|/vars.asp|/vars.asp|yes|True|True|True|True");
  r = plain.Client().Get("/vars.asp?a=1&b=x&a=2", headers);
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("|127.0.0.1|off|"), std::string::npos) << r->body;

  r = plain.Client().Post("/post.asp", "k=AB&k=2", "application/x-www-form-urlencoded");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "8|107,61,65|5|2|k|8|application/x-www-form-urlencoded");
}

TEST(PageFlow, CompiledPagesAreReusedUntilAFileChangesAndNoGlobalOutlivesItsRequest) {
  TempSite site("Cache");
  site.Write("counter.asp",
             "<!--#include file=\"part.inc\"--><% if (typeof counter == 'undefined') counter = 0; counter++;"
             " var seen = typeof ({}).polluted, trim = typeof ''.trim; Object.prototype.polluted = 1;"
             " String.prototype.trim = null; %><%= counter %> <%= seen %> <%= trim %>");
  site.Write("part.inc", "v1 ");
  ServedSite served(Options(site, true));
  auto client = served.Client();
  for (int i = 0; i < 3; ++i) {
    auto r = client.Get("/counter.asp");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "v1 1 undefined function");
  }
  EXPECT_EQ(served.server().cache().compiles(), 1u);
  // A reused program still knows its lines.
  site.Write("err.asp", "\n\n<% nope(); %>");
  for (int i = 0; i < 2; ++i) {
    auto r = client.Get("/err.asp");
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("/err.asp, line 3"), std::string::npos) << r->body;
  }

  site.Write("part.inc", "v2 edited ");
  std::this_thread::sleep_for(1100ms);  // the files are looked at once a second at most
  auto r = client.Get("/counter.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "v2 edited 1 undefined function");
  EXPECT_EQ(served.server().cache().compiles(), 3u);
}

TEST(PageFlow, TheServiceLogsReopensItsLogAndDrainsOnSigterm) {
  TempSite site("Service");
  site.Write("hello.asp", "hello");
  site.Write("slow.asp", "<% " + BusyWait(1500) + " %>done");
  site.Write("stream.asp", "<% Response.Buffer = false; Response.Write('abc'); %>");
  const std::string log = (site.base() / "access.log").string();
  quill::test::HostProcess host(QUILL_ASP_PROGRAM,
                         {"--root", site.root().string(), "--port", "0", "--access-log", log, "--threads", "2"},
                         (site.base() / "serve.log").string());
  const int port = host.WaitServing();
  ASSERT_GT(port, 0);
  auto client = quill::test::LocalClient(port);
  auto r = client.Get("/hello.asp?x=1", {{"User-Agent", "tester \"one\""}, {"Referer", "http://r.example/"}});
  ASSERT_TRUE(r);
  EXPECT_TRUE(std::regex_match(quill::test::ReadWholeFile(log),
                               std::regex("127\\.0\\.0\\.1 - - \\[\\d\\d/[A-Z][a-z]{2}/\\d{4}:\\d\\d:\\d\\d:\\d\\d \\+0000\\] "
                                          "\"GET /hello\\.asp\\?x=1 HTTP/1\\.1\" 200 5 \"http://r\\.example/\" "
                                          "\"tester \\\\x22one\\\\x22\"\n")))
      << quill::test::ReadWholeFile(log);

  // Rotated away, then reopened on SIGHUP.
  std::filesystem::rename(log, log + ".1");
  host.Signal(SIGHUP);
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(client.Get("/static-missing.txt"));
  EXPECT_NE(quill::test::ReadWholeFile(log).find("\"GET /static-missing.txt HTTP/1.1\" 404"), std::string::npos);
  EXPECT_EQ(quill::test::ReadWholeFile(log + ".1").find("missing"), std::string::npos);
  ASSERT_TRUE(client.Post("/hello.asp", std::string(2 << 20, 'x'), "application/x-www-form-urlencoded"));
  ASSERT_TRUE(client.Get("/stream.asp"));
  std::this_thread::sleep_for(200ms);  // a streamed answer is logged once the connection is done with it
  EXPECT_NE(quill::test::ReadWholeFile(log).find("\"POST /hello.asp HTTP/1.1\" 413"), std::string::npos);
  EXPECT_NE(quill::test::ReadWholeFile(log).find("\"GET /stream.asp HTTP/1.1\" 200 3 "), std::string::npos);

  // SIGTERM while a page runs: it finishes, then the host exits.
  auto slow = std::async(std::launch::async, [port] {
    auto r = quill::test::LocalClient(port).Get("/slow.asp");
    return r ? std::to_string(r->status) + " " + r->body : std::string("no answer");
  });
  std::this_thread::sleep_for(400ms);
  host.Signal(SIGTERM);
  EXPECT_EQ(slow.get(), "200 done");
  EXPECT_EQ(host.WaitExit(10), 0) << host.log();
  EXPECT_FALSE(quill::test::LocalClient(port).Get("/hello.asp"));
}

}  // namespace
}  // namespace quill::asp

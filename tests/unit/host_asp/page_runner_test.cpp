// Whole pages through the runner: what they answer, how they fail, and that
// nothing they created outlives the request.
#include <gtest/gtest.h>

#include <chrono>

#include "host/asp/automation_object.h"
#include "host/asp/page_runner.h"
#include "host/asp/script_engine.h"
#include "support/asp_test_component.h"

namespace quill::asp {
namespace {


class RunnerTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    test::RegisterTestComponent();
    baseline_ = AutomationObject::LiveObjects();
  }
  void TearDown() override { EXPECT_EQ(AutomationObject::LiveObjects(), baseline_); }

  int baseline_ = 0;
};

TEST_F(RunnerTest, RendersAPageWithItsIncludesAndForm) {
  site_.Write("inc/head.inc", "<h1><%= title %></h1>");
  site_.Write("shop/list.asp",
              "<%@ Language=\"JScript\" %><% var title = 'Shop' %>"
              "<!--#include virtual=\"/inc/head.inc\"-->"
              "<p><%= Request.Form('name') %> <%= Server.MapPath('x.txt') == Server.MapPath('/shop/x.txt') %></p>");
  const RenderResult r = Render("/shop/list.asp", {{"name", "Ann <b>"}});
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.status, 200);
  EXPECT_EQ(r.response.body, "<h1>Shop</h1><p>Ann <b> True</p>");
  EXPECT_EQ(r.response.FullContentType(), "text/html; charset=utf-8");
}

TEST_F(RunnerTest, PagesThatDoNotExistAnswer404) {
  site_.Write("secret.asp", "<%= 'TOP' + 'SECRET' %>", /*outside=*/true);
  for (const char* path : {"/missing.asp", "/../secret.asp", "/", "relative.asp"}) {
    const RenderResult r = Render(path);
    EXPECT_EQ(r.response.status, 404) << path;
    EXPECT_EQ(r.response.body.find("TOPSECRET"), std::string::npos);
  }
}

TEST_F(RunnerTest, ErrorsAnswer500NamingThePlaceWithEverythingEscaped) {
  site_.Write("bad.asp", "ok\n<% var x = 1;\n throw new Error('<script>alert(1)</script> & more'); %>");
  RenderResult r = Render("/bad.asp");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.response.body.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"), std::string::npos)
      << r.response.body;
  EXPECT_EQ(r.response.body.find("<script>"), std::string::npos);
  EXPECT_NE(r.response.body.find("/bad.asp, line 3"), std::string::npos);
  EXPECT_EQ(r.response.body.find("ok\n"), std::string::npos);  // the partial page is not sent
  EXPECT_EQ(r.error, "Error: <script>alert(1)</script> & more (/bad.asp, line 3)");

  site_.Write("syntax.asp", "<%\n if ( %>");
  r = Render("/syntax.asp");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("/syntax.asp, line 2"), std::string::npos) << r.error;

  site_.Write("outside.inc", "x", /*outside=*/true);
  site_.Write("inc.asp", "a\n<!--#include file=\"../outside.inc\"-->");
  r = Render("/inc.asp");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("/inc.asp, line 2"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("leaves the site root"), std::string::npos) << r.error;

  site_.Write("vb.asp", "<%@ Language=\"VBScript\" %>");
  EXPECT_NE(Render("/vb.asp").error.find("\"VBScript\" is not supported"), std::string::npos);

  site_.Write("auto.asp", "<% Server.CreateObject('Not.Registered') %>");
  r = Render("/auto.asp");
  EXPECT_NE(r.error.find("Server.CreateObject: the class \"Not.Registered\" is not registered"), std::string::npos)
      << r.error;
}

TEST_F(RunnerTest, ARunawayPageAnswers500InTime) {
  site_.Write("loop.asp", "<% Response.Write('x'); while (true) {} %>");
  HostOptions options;
  options.timeout = std::chrono::milliseconds(400);
  const auto start = std::chrono::steady_clock::now();
  const RenderResult r = Render("/loop.asp", {}, options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("ran longer than"), std::string::npos) << r.error;
}

TEST_F(RunnerTest, EndRedirectAndStatusShapeTheResponse) {
  site_.Write("end.asp", "kept<% Response.End() %>lost");
  EXPECT_EQ(Render("/end.asp").response.body, "kept");
  site_.Write("go.asp", "x<% Response.Redirect('/there.asp'); Response.Write('no') %>");
  RenderResult r = Render("/go.asp");
  EXPECT_EQ(r.response.status, 302);
  EXPECT_EQ(r.response.headers, (NameValueList{{"Location", "/there.asp"}}));
  site_.Write("status.asp", "<% Response.Status = '404 Gone Fishing'; Response.ContentType = 'text/plain' %>nope");
  r = Render("/status.asp");
  EXPECT_EQ(r.response.status, 404);
  EXPECT_EQ(r.response.reason, "Gone Fishing");
  EXPECT_EQ(r.response.FullContentType(), "text/plain; charset=utf-8");
  EXPECT_EQ(r.response.body, "nope");
}

TEST_F(RunnerTest, ResponsesAreCapped) {
  site_.Write("big.asp", "<% var s = new Array(1001).join('x'); for (var i = 0; i < 100; i++) { %><%= s %><% } %>");
  HostOptions options;
  options.max_response_bytes = 10000;
  const RenderResult r = Render("/big.asp", {}, options);
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("larger than the 10000 bytes"), std::string::npos) << r.error;
}

TEST_F(RunnerTest, ResponseWriteOfScriptTextIsExactAndFailsAsAnyCall) {
  site_.Write("text.asp",
              "<% function tryit(f) { try { f(); return 'ok'; }"
              "   catch (e) { return (e.number >>> 0).toString(16) + ' ' + e.message; } }\n"
              "var s = ['caf\\u00e9 \\u20ac', '\\uD83D\\uDE00', 'a\\uD800b', '\\uDC00', '', 'x\\uDBFF\\uDFFFy'];\n"
              "for (var i = 0; i < s.length; i++) { Response.Write(s[i]); Response.Write('|'); }\n"
              "Response.write('a'); Response.WRITE(12); Response.Write(null); Response.Write(['b', 'c']);"
              " Response.Write('two', 'args');\n"
              "var errors = [tryit(function () { Response.Write(); }), tryit(function () { Response.Write(Symbol()); }),"
              "  tryit(function () { Response.Write(new Array(3000).join('z')); })];\n"
              "Response.Write('|' + errors.join('|') + '|'); Response.Buffer = false; Response.Write(s[0]);\n"
              "try { Response.End(); } finally { Response.Write('after the end'); } %>");
  HostOptions options;
  options.max_response_bytes = 2000;
  const RenderResult r = Render("/text.asp", {}, options);
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body,
            "caf\xC3\xA9 \xE2\x82\xAC|\xF0\x9F\x98\x80|a\xEF\xBF\xBD" "b|\xEF\xBF\xBD||x\xF4\x8F\xBF\xBFy|"
            "a12b,ctwo|8002000f Response.Write: argument 1 is missing|"
            "0 a Symbol cannot be passed to an automation object|"
            "8007000e the buffered response is larger than the 2000 bytes allowed;"
            " set Response.Buffer = false to send it as it is written|caf\xC3\xA9 \xE2\x82\xAC");
}

TEST_F(RunnerTest, ComponentsGetStartAndEndAndNothingOutlivesTheRequest) {
  site_.Write("component.asp",
              "<% var c = Server.CreateObject('QuillAspTest.Component');"
              "   var d = Server.CreateObject('QuillAspTest.Component'); %>"
              "<%= c.FormSummary() %>|<%= c.HasContext %>|<%= c.Echo(c) === undefined %>");
  const test::ComponentCounts before = test::TestComponentCounts();
  const RenderResult r = Render("/component.asp", {{"a", "1"}, {"b", "x y"}, {"a", "2"}});
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body, "a=1, 2;b=x y;|True|False");
  const test::ComponentCounts after = test::TestComponentCounts();
  EXPECT_EQ(after.started - before.started, 2);
  EXPECT_EQ(after.ended - before.ended, 2);
  EXPECT_EQ(after.live, 0);
  EXPECT_EQ(test::TestComponentCanUnloadNow(), S_OK);
}

TEST_F(RunnerTest, APageThatFailsStillEndsItsComponents) {
  site_.Write("fails.asp",
              "<% var kept = [Server.CreateObject('QuillAspTest.Component')]; kept[0].NoSuchMember(); %>");
  const test::ComponentCounts before = test::TestComponentCounts();
  const RenderResult r = Render("/fails.asp");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("'NoSuchMember'"), std::string::npos) << r.error;
  const test::ComponentCounts after = test::TestComponentCounts();
  EXPECT_EQ(after.ended - before.ended, 1);
  EXPECT_EQ(after.live, 0);
}

TEST_F(RunnerTest, APageThatRunsOutOfTimeStillEndsItsComponents) {
  site_.Write("slow.asp", "<% var c = Server.CreateObject('QuillAspTest.Component'); for (;;) { c.HasContext; } %>");
  HostOptions options;
  options.timeout = std::chrono::milliseconds(300);
  const test::ComponentCounts before = test::TestComponentCounts();
  EXPECT_EQ(Render("/slow.asp", {}, options).response.status, 500);
  const test::ComponentCounts after = test::TestComponentCounts();
  EXPECT_EQ(after.ended - before.ended, 1);
  EXPECT_EQ(after.live, 0);
}

// A thread's next page runs in the heap of its last one: it must find none
// of that page's globals, every built-in as new, and no component alive.
TEST_F(RunnerTest, EachPageFindsTheEngineAsNew) {
  site_.Write("globals.asp",
              "<% var kept = 1; function helper() {} this.added = 2; Response.Cookies('k') = 'v';"
              "   var c = Server.CreateObject('QuillAspTest.Component');"
              "   var cycle = {c: c}; cycle.self = cycle; (function () { var o = {c: c}; o.o = o; })(); %>set");
  site_.Write("after.asp", "<%= typeof kept + typeof helper + typeof added + typeof c + typeof cycle %>");
  const char* check =
      "<%= [typeof [].extra, ' a '.trim(), typeof Math.max, typeof escape, Object.isExtensible(Object.prototype),"
      "     Object.getPrototypeOf(Array.prototype) === Object.prototype, Array.prototype.length,"
      "     typeof JSON.stringify.cache, typeof Duktape.errCreate, typeof ({}).x, typeof Response].join() %>";
  const std::string pristine = "undefined,a,function,function,true,true,0,undefined,undefined,undefined,function";
  site_.Write("check.asp", check);
  EXPECT_EQ(Render("/globals.asp").response.body, "set");
  EXPECT_EQ(test::TestComponentCounts().live, 0);
  const size_t heaps = ScriptEngine::HeapsCreated();
  EXPECT_EQ(Render("/after.asp").response.body, "undefinedundefinedundefinedundefinedundefined");
  EXPECT_EQ(Render("/globals.asp").response.body, "set");
  EXPECT_EQ(test::TestComponentCounts().live, 0);
  EXPECT_EQ(Render("/check.asp").response.body, pristine);
  EXPECT_EQ(ScriptEngine::HeapsCreated(), heaps) << "the heap was not reused";

  const char* changes[] = {
      "Array.prototype.extra = 3;",
      "String.prototype.trim = function () { return 'changed'; };",
      "Math.max = null;",
      "delete escape;",
      "escape = 5;",
      "Object.freeze(Object.prototype);",
      "Object.setPrototypeOf(Array.prototype, null);",
      "Array.prototype.push(5);",
      "JSON.stringify.cache = {};",
      "Duktape.errCreate = function (e) { return e; };",
      "Object.defineProperty(Object.prototype, 'x', {get: function () { return 1; }});",
      "Object.defineProperty(this, 'Math', {value: 1});",
  };
  for (const char* change : changes) {
    site_.Write("change.asp", std::string("<% ") + change + " %>done");
    EXPECT_EQ(Render("/change.asp").response.body, "done") << change;
    EXPECT_EQ(Render("/check.asp").response.body, pristine) << change;
  }
  // A page that stopped or failed leaves the engine as new too.
  site_.Write("end.asp", "<% var late = 1; Response.End(); %>");
  site_.Write("fail.asp", "<% var late = 1; throw new Error('no'); %>");
  site_.Write("late.asp", "<%= typeof late %>");
  Render("/end.asp");
  EXPECT_EQ(Render("/late.asp").response.body, "undefined");
  Render("/fail.asp");
  EXPECT_EQ(Render("/late.asp").response.body, "undefined");
}

}  // namespace
}  // namespace quill::asp

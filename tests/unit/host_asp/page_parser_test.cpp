// The page compiler: what pages write once compiled and run, the directive,
// includes, and the places errors are reported at.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "host/asp/call_assignment.h"
#include "host/asp/page_parser.h"
#include "host/asp/script_engine.h"
#include "host/asp/site_root.h"
#include "script_fixture.h"

namespace quill::asp {
namespace {

using test::CapturedOutput;
using test::NoIncludes;

// Files by virtual path; includes resolve as on a site.
class MemorySource : public PageSource {
 public:
  std::map<std::string, std::string> files;
  int opened = 0;

  SourceFile Include(const std::string& from, bool is_virtual, const std::string& path) override {
    if (!is_virtual && !path.empty() && path[0] == '/') throw std::runtime_error("file= paths are relative");
    const std::string name = SiteRoot::CombineVirtual(VirtualFolder(from), path);
    auto found = files.find(name);
    if (found == files.end()) throw std::runtime_error("not found");
    ++opened;
    return SourceFile{name, found->second};
  }
};

struct Ran {
  ScriptOutcome outcome;
  std::string output;
};

Ran CompileAndRun(const std::string& text, PageSource& source, const std::string& name = "/page.asp") {
  const CompiledPage page = CompilePage(SourceFile{name, text}, source);
  ScriptEngine engine;
  CapturedOutput out;
  engine.SetOutput(&out);
  Ran ran{engine.Run(page), ""};
  ran.output = out.text;
  return ran;
}

std::string Output(const std::string& text) {
  NoIncludes source;
  const Ran ran = CompileAndRun(text, source);
  EXPECT_EQ(ran.outcome.kind, ScriptOutcome::Kind::kCompleted) << ran.outcome.Describe();
  return ran.output;
}

// Compiling `text` fails; answers the error.
PageError CompileError(const std::string& text, PageSource& source) {
  try {
    CompilePage(SourceFile{"/page.asp", text}, source);
  } catch (const PageError& e) {
    return e;
  }
  ADD_FAILURE() << "no error for: " << text;
  return PageError("", 0, "");
}

PageError CompileError(const std::string& text) {
  NoIncludes source;
  return CompileError(text, source);
}

TEST(PageBlocks, TextCodeAndExpressionsWriteInOrder) {
  EXPECT_EQ(Output("plain text\n"), "plain text\n");
  EXPECT_EQ(Output("a<% var x = 2 %>b<%= x * 21 %>c"), "ab42c");
  EXPECT_EQ(Output("<% for (var i = 0; i < 3; i++) { %>[<%= i %>]<% } %>"), "[0][1][2]");
  EXPECT_EQ(Output(""), "");
  EXPECT_EQ(Output("<% %><%  %>"), "");
}

TEST(PageBlocks, TextBetweenBlocksIsAStatementOfItsOwn) {
  // The text after an if without braces is its body, as authors expect.
  EXPECT_EQ(Output("<% var a = false %><% if (a) %>hidden<% %>shown"), "shown");
  EXPECT_EQ(Output("<% var a = true %><% if (a) %>yes"), "yes");
  // No ';' needed at the end of a block.
  EXPECT_EQ(Output("<% var s = 'x' %><%= s %>"), "x");
}

TEST(PageBlocks, ExpressionEndingInALineCommentStillCloses) {
  EXPECT_EQ(Output("<%= 1 + 1 // two %>!"), "2!");
}

TEST(PageBlocks, TextKeepsEveryCharacter) {
  const std::string tricky = "quote \" backslash \\ tab\t cr\r\nlf\n \xE2\x80\xA8 sep \xC3\xBC \xF0\x9F\x98\x80 </script>";
  EXPECT_EQ(Output(tricky), tricky);
  // Invalid UTF-8 cannot end up in the program; it reads as U+FFFD.
  EXPECT_EQ(Output("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  // A byte order mark is not page text.
  EXPECT_EQ(Output("\xEF\xBB\xBFhi"), "hi");
}

TEST(PageBlocks, PercentSignsOutsideBlocksAreText) {
  EXPECT_EQ(Output("100% sure %> <"), "100% sure %> <");
}

TEST(PageBlocks, UnclosedBlockIsAnErrorAtItsLine) {
  const PageError e = CompileError("line 1\nline 2 <% var x = 1;\n\n");
  EXPECT_EQ(e.file(), "/page.asp");
  EXPECT_EQ(e.line(), 2);
  EXPECT_NE(e.message().find("'<%' is not closed"), std::string::npos);
}

TEST(PageBlocks, AssignmentToACallBecomesAPropertyPut) {
  EXPECT_EQ(RewriteCallAssignments("Session(\"a\") = 1;"), "Session[__quill_put(\"\", \"a\")] = 1;");
  EXPECT_EQ(RewriteCallAssignments("Response.Cookies(\"p\")(k) += v"),
            "Response.Cookies(\"p\")[__quill_put(\"\", k)] += v");
  EXPECT_EQ(RewriteCallAssignments("o.Item(f(1), 2)\n = x; o.Count()++"),
            "o[__quill_put(\"Item\", f(1), 2)]\n = x; o[__quill_put(\"Count\")]++");
  EXPECT_EQ(RewriteCallAssignments("Application(\"n\")--"), "Application[__quill_put(\"\", \"n\")]--");
  EXPECT_EQ(RewriteCallAssignments("x = ++Session(\"n\") * 2; --a.b(c(1))[0].Item(k)\n++Count()"),
            "x = ++Session[__quill_put(\"\", \"n\")] * 2; --a.b(c(1))[0][__quill_put(\"Item\", k)]\n++Count[__quill_put(\"\")]");
  // Comparisons, arrows, parentheses, keywords, strings, comments and
  // regular expressions stay as they are.
  for (const char* same : {"if (a(1) == 2) x = 1", "var f = (a) => 1", "(a) = 1", "while (x) = 1",
                           "s = 'f(1) = 2' // g(1) = 2", "/* h(1) = 2 */ r = /\\)(a) = /", "f(1)\n--y",
                           "++a.f(1).b", "++a[f(1)]", "(++x)(1)", "++x; f(1)", "-- g(1)(2).c"}) {
    EXPECT_EQ(RewriteCallAssignments(same), same);
  }
  // On anything but an automation object it is the error the language
  // gives, at the page's line.
  NoIncludes source;
  const Ran ran = CompileAndRun("<%\nvar o = {f: function () {}};\n\no.f(1) = 2; %>", source);
  EXPECT_EQ(ran.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(ran.outcome.line, 4);
  EXPECT_EQ(ran.outcome.message.rfind("ReferenceError: invalid assignment", 0), 0u) << ran.outcome.message;
}

TEST(PageDirective, JScriptIsTheLanguage) {
  EXPECT_EQ(Output("<%@ Language=\"JScript\" %>ok"), "ok");
  EXPECT_EQ(Output("<%@ LANGUAGE=javascript CodePage=65001 %>ok"), "ok");
  EXPECT_EQ(Output("<%@language='JScript'%>ok"), "ok");
}

TEST(PageDirective, OtherLanguagesAndMalformedDirectivesAreErrors) {
  PageError e = CompileError("\n<%@ Language=\"VBScript\" %>");
  EXPECT_EQ(e.line(), 2);
  EXPECT_NE(e.message().find("\"VBScript\" is not supported"), std::string::npos) << e.what();
  e = CompileError("<%@ Language=\"JScript\" %>\n<%@ Language=\"JScript\" %>");
  EXPECT_EQ(e.line(), 2);
  EXPECT_NE(e.message().find("only one"), std::string::npos);
  e = CompileError("<%@ Language %>");
  EXPECT_NE(e.message().find("malformed directive"), std::string::npos);
  e = CompileError("<%@ Language=\"JScript %>");
  EXPECT_NE(e.message().find("unclosed quote"), std::string::npos);
}

TEST(PageIncludes, FileIsRelativeToTheIncludingFileAndVirtualToTheRoot) {
  MemorySource source;
  source.files["/lib/a.inc"] = "A<!--#include file=\"b.inc\"-->";  // /lib/b.inc
  source.files["/lib/b.inc"] = "B<% var fromB = 'b' %>";
  source.files["/top.inc"] = "T";
  const Ran ran = CompileAndRun(
      "<!--#include file=\"lib/a.inc\" -->|<!-- #include virtual=\"/top.inc\" -->|"
      "<!--#INCLUDE VIRTUAL='lib/b.inc'-->|<%= fromB %>",
      source, "/page.asp");
  EXPECT_EQ(ran.outcome.kind, ScriptOutcome::Kind::kCompleted) << ran.outcome.Describe();
  EXPECT_EQ(ran.output, "AB|T|B|b");
}

TEST(PageIncludes, OrdinaryCommentsStayText) {
  EXPECT_EQ(Output("<!-- a comment --><!--#notinclude-->x"), "<!-- a comment --><!--#notinclude-->x");
}

TEST(PageIncludes, FaultsNameThePlaceOfTheDirective) {
  MemorySource source;
  source.files["/self.inc"] = "<!--#include virtual=\"/self.inc\"-->";
  source.files["/ping.inc"] = "x\n<!--#include file=\"pong.inc\"-->";
  source.files["/pong.inc"] = "<!--#include file=\"ping.inc\"-->";

  PageError e = CompileError("one\ntwo <!--#include file=\"missing.inc\" -->", source);
  EXPECT_EQ(e.file(), "/page.asp");
  EXPECT_EQ(e.line(), 2);
  EXPECT_NE(e.message().find("cannot include \"missing.inc\""), std::string::npos) << e.what();

  e = CompileError("<!--#include file=\"/abs.inc\"-->", source);
  EXPECT_NE(e.message().find("relative"), std::string::npos) << e.what();

  e = CompileError("<!--#include virtual=\"/self.inc\"-->", source);
  EXPECT_EQ(e.file(), "/self.inc");
  EXPECT_NE(e.message().find("includes itself"), std::string::npos) << e.what();

  e = CompileError("<!--#include file=\"ping.inc\"-->", source);
  EXPECT_EQ(e.file(), "/pong.inc");

  e = CompileError("<!--#include file=\"../up.inc\"-->", source);
  EXPECT_NE(e.message().find("leaves the site root"), std::string::npos) << e.what();

  for (const char* bad : {"<!--#include -->", "<!--#include file -->", "<!--#include file=x.inc -->",
                          "<!--#include file=\"x.inc -->", "<!--#include file=\"\" -->",
                          "<!--#include file=\"a.inc\" junk -->", "<!--#include file=\"a.inc\""}) {
    e = CompileError(bad, source);
    EXPECT_NE(e.message().find("include"), std::string::npos) << bad << ": " << e.what();
  }
}

TEST(PageIncludes, NestingIsBounded) {
  MemorySource source;
  for (int i = 0; i < 40; ++i) {
    source.files["/n" + std::to_string(i) + ".inc"] =
        "<!--#include file=\"n" + std::to_string(i + 1) + ".inc\"-->";
  }
  const PageError e = CompileError("<!--#include file=\"n0.inc\"-->", source);
  EXPECT_NE(e.message().find("nested deeper"), std::string::npos) << e.what();
  EXPECT_LE(source.opened, kMaxIncludeDepth + 1);
}

TEST(PageIncludes, TotalSizeIsBounded) {
  MemorySource source;
  source.files["/big.inc"] = std::string(kMaxPageBytes / 2 + 1, 'x');
  const PageError e =
      CompileError("<!--#include file=\"big.inc\"--><!--#include file=\"big.inc\"-->", source);
  EXPECT_NE(e.message().find("exceed"), std::string::npos) << e.what();
}

// Where errors at run time are reported: the file and line the author wrote.
TEST(PageIncludes, APageThatMayStreamIsKnownThroughItsIncludes) {
  MemorySource source;
  source.files["/flush.inc"] = "<% response.FLUSH() %>";
  source.files["/plain.inc"] = "<% var total = 1; %>";
  const std::pair<const char*, bool> pages[] = {
      {"<% Response.Write(Request.QueryString('n')); %>rows", false},
      {"<!--#include virtual=\"/plain.inc\"-->", false},
      {"<!--#include virtual=\"/flush.inc\"-->", true},
      {"<% Response.Buffer = false; %>", true},
      {"<% while (Response.IsClientConnected) {} %>", true},
      {"<% Server.Execute('/other.asp'); %>", true},
      {"<% Server.Transfer('/other.asp'); %>", true},
  };
  for (const auto& [text, may_stream] : pages) {
    EXPECT_EQ(CompilePage(SourceFile{"/page.asp", text}, source).may_stream, may_stream) << text;
  }
}

TEST(PageLines, ErrorsPointAtTheAuthorsLineThroughTextAndIncludes) {
  MemorySource source;
  source.files["/inc/lib.inc"] = "lib line 1\nlib line 2\n<%\n  function boom() {\n    throw new Error('from lib');\n  }\n%>";
  const std::string page =
      "<!--#include file=\"inc/lib.inc\"-->\n"  // 1
      "text\n"                                    // 2
      "more <%= 'x' %>\n"                         // 3
      "<% var a = 1;\n"                           // 4
      "   var b = 2;\n"                           // 5
      "   undefinedFunction(); %>\n";             // 6
  Ran ran = CompileAndRun(page, source);
  EXPECT_EQ(ran.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(ran.outcome.file, "/page.asp");
  EXPECT_EQ(ran.outcome.line, 6);

  ran = CompileAndRun("<!--#include file=\"inc/lib.inc\"-->\nx\n<% boom() %>", source);
  EXPECT_EQ(ran.outcome.file, "/inc/lib.inc");
  EXPECT_EQ(ran.outcome.line, 5);
  EXPECT_EQ(ran.outcome.message, "Error: from lib");

  // A syntax error, after an include of several lines.
  ran = CompileAndRun("<!--#include file=\"inc/lib.inc\"-->\n\n<% var = ; %>", source);
  EXPECT_EQ(ran.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(ran.outcome.file, "/page.asp");
  EXPECT_EQ(ran.outcome.line, 3);
  EXPECT_EQ(ran.outcome.message.rfind("SyntaxError", 0), 0u) << ran.outcome.message;

  // An error inside a multi-line expression.
  ran = CompileAndRun("a\n<%= 1 +\n  nothing.here %>", source);
  EXPECT_EQ(ran.outcome.line, 3);

  // A thrown value that is no Error.
  ran = CompileAndRun("\n\n<% throw 'plain' %>", source);
  EXPECT_EQ(ran.outcome.line, 3);
  EXPECT_EQ(ran.outcome.message, "plain");
}

TEST(PageLines, OriginClampsOutOfRangeLines) {
  NoIncludes source;
  const CompiledPage page = CompilePage(SourceFile{"/p.asp", "a\n<% x %>\n"}, source);
  ASSERT_FALSE(page.lines.empty());
  EXPECT_EQ(page.Origin(0).line, page.lines.front().line);
  EXPECT_EQ(page.Origin(100000).line, page.lines.back().line);
  EXPECT_EQ(page.Describe(-5), "/p.asp, line 1");
  EXPECT_EQ(CompiledPage{}.Origin(3).line, 1);
}

}  // namespace
}  // namespace quill::asp

// Rendering datasets of the private server through Content and
// ContentTable: the exact default output, positioning, templates from text
// and files, field tags, and the parsed body that must render exactly as
// the streamed one.
#include <cstdio>
#include <fstream>

#include "script_object_test_support.h"

namespace quill::test {
namespace {

class RenderTest : public QuillDbTest {
 protected:
  void SetUp() override {
    QuillDbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Table("render_items", "id int primary key, name varchar(20)", "(1, 'apple'), (2, 'pear')");
  }
};

TEST_F(RenderTest, DefaultContentTableIsOneHtmlTableWithoutLineBreaks) {
  Open("items", "render_items");
  Outcome r = q.Get(u"ContentTable", {Arg::Str("items")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(),
            "<table><tr><td>id</td><td>name</td></tr><tr><td>1</td><td>apple</td></tr>"
            "<tr><td>2</td><td>pear</td></tr></table>");
}

TEST_F(RenderTest, ContentTableOpensAClosedDatasetAndEndsAtItsEnd) {
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("items"), Arg::Str("render_items")}));
  EXPECT_EQ(d.Get(u"Active").Text(), "False");
  EXPECT_EQ(q.Get(u"ContentTable", {Arg::Str("items")}).Text(),
            "<table><tr><td>id</td><td>name</td></tr><tr><td>1</td><td>apple</td></tr>"
            "<tr><td>2</td><td>pear</td></tr></table>");
  EXPECT_EQ(d.Get(u"Active").Text(), "True");
  EXPECT_EQ(d.Get(u"Eof").Text(), "True");
  // At the end the current row stays the last one.
  EXPECT_EQ(q.Get(u"Content", {Arg::Str("items")}).Text(), " 2  pear ");
}

TEST_F(RenderTest, ContentTableStartsAtTheFirstRowWhereverTheDatasetStands) {
  Table("render_three", "id int primary key", "(1), (2), (3)");
  Dispatch d = Open("three", "render_three");
  EXPECT_TRUE(q.Method(u"Execute", {Arg::Str("Next"), Arg::Str("three")}).ok());
  EXPECT_EQ(Content("three", "<#id>"), "2");
  EXPECT_EQ(q.Get(u"ContentTable", {Arg::Str("three"), Arg::Bool(false), Arg::Str("["),
                                    Arg::Str("<#id>,"), Arg::Str("]")})
                .Text(),
            "[1,2,3,]");
}

TEST_F(RenderTest, ContentShowsTheCurrentRowWithoutMovingOrOpening) {
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("items"), Arg::Str("render_items")}));
  // Closed: a FIELDVALUES tag gives its PREFIX and POSTFIX only.
  EXPECT_EQ(Content("items", "<#FIELDVALUES PREFIX=[ POSTFIX=] FIELDPREFIX=< >"), "[]");
  EXPECT_EQ(Content("items", "<#FIELDNAMES PREFIX=[ POSTFIX=] FIELDPREFIX=x>"), "[]");
  EXPECT_EQ(d.Get(u"Active").Text(), "False");
  d.Method(u"Open");
  EXPECT_EQ(q.Get(u"Content", {Arg::Str("items")}).Text(), " 1  apple ");
  EXPECT_EQ(q.Get(u"Content", {Arg::Str("items")}).Text(), " 1  apple ") << "Content does not move";
}

TEST_F(RenderTest, FileTemplatesOpenTheDataset) {
  const std::string path = ::testing::TempDir() + "/quill_render_row.html";
  std::ofstream(path, std::ios::binary) << "<p><#name></p>\r\n";
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("items"), Arg::Str("render_items")}));
  Outcome r = q.Get(u"Content", {Arg::Str("items"), Arg::Bool(true), Arg::Str(path)});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(), "<p>apple</p>\r\n");
  EXPECT_EQ(d.Get(u"Active").Text(), "True");
  r = q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(true), Arg::Str(path), Arg::Str(path),
                              Arg::Str(path)});
  EXPECT_EQ(r.Text(), "<p>apple</p>\r\n<p>apple</p>\r\n<p>pear</p>\r\n<p>pear</p>\r\n");
  r = q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(true), Arg::Str(path),
                              Arg::Str(path + ".missing"), Arg::Str(path)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Cannot open file " + path + ".missing");
  std::remove(path.c_str());
}

TEST_F(RenderTest, FieldTagsAndOtherTags) {
  Open("items", "render_items");
  // A field's name as a tag without parameters is its value, in any case;
  // with a parameter it goes to the handler, which knows only FIELDNAMES and
  // FIELDVALUES; other tags vanish.
  EXPECT_EQ(Content("items", "<#NAME>|<#name x=1>|<#other>|<#Id>"), "apple|||1");
  EXPECT_EQ(Content("items", "<#FIELDNAMES PREFIX=( POSTFIX=) FIELDPREFIX=%5b FIELDPOSTFIX=%5d>"),
            "([id][name])");
  EXPECT_EQ(Content("items", "<#fieldvalues fieldpostfix=;>"), "1;apple;");
  // FIELDVALUES in the head shows the first row: the dataset has moved there.
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Last"), Arg::Str("items")}).ok());
  EXPECT_EQ(q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(false),
                                    Arg::Str("<#FIELDVALUES FIELDPOSTFIX=,>|"), Arg::Str(""),
                                    Arg::Str("")})
                .Text(),
            "1,apple,|");
}

TEST_F(RenderTest, ValuesAreInsertedUnescapedAndNullIsEmpty) {
  Table("render_values",
        "id int primary key, txt varchar(20), kind enum('fruit','dairy'), price decimal(8,2), "
        "born date",
        "(1, 'a<b & \"c\"', 'dairy', 7.9, '2020-01-02'), (2, NULL, NULL, NULL, NULL)");
  Open("v", "render_values");
  Outcome r = q.Get(u"ContentTable", {Arg::Str("v"), Arg::Bool(false), Arg::Str(""),
                                      Arg::Str("<#FIELDVALUES POSTFIX=%0a FIELDPOSTFIX=|>"),
                                      Arg::Str("")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(), "1|a<b & \"c\"|dairy|7.90|1/2/2020|\n2|||||\n");  // DECIMAL: the server's text
}

TEST_F(RenderTest, BodyWithoutTagsIsRepeatedPerRow) {
  Open("items", "render_items");
  const std::string body = "  row\r\n\t";
  EXPECT_EQ(q.Get(u"ContentTable",
                  {Arg::Str("items"), Arg::Bool(false), Arg::Str("H"), Arg::Str(body), Arg::Str("F")})
                .Text(),
            "H" + body + body + "F");
}

TEST_F(RenderTest, BodyErrorsAppearOnlyWhenABodyIsRendered) {
  Open("items", "render_items");
  const std::string bad = std::string(5000, 'x');
  Outcome r = q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(false), Arg::Str(""),
                                      Arg::Str(bad), Arg::Str("")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Line too long on line 1");
  r = q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(false), Arg::Str(""),
                              Arg::Str("<#id><#T P=%g0>"), Arg::Str("")});
  EXPECT_EQ(r.error, "'$g0' is not a valid integer value");
  Table("render_empty", "id int primary key");
  Open("empty", "render_empty");
  r = q.Get(u"ContentTable", {Arg::Str("empty"), Arg::Bool(false), Arg::Str("<"), Arg::Str(bad),
                              Arg::Str(">")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(), "<>") << "no row, so the body is never read";
}

TEST_F(RenderTest, ParsedBodyRendersAsContentDoesRowByRow) {
  std::string rows;
  for (int i = 1; i <= 300; ++i) {
    if (i > 1) rows += ",";
    rows += "(" + std::to_string(i) + ", " + (i % 7 == 0 ? "NULL" : "'n" + std::to_string(i * 37) + "'") +
            ", " + std::to_string(i * 1.25) + ")";
  }
  Table("render_many", "id int primary key, name varchar(20), amount double", rows);
  Open("many", "render_many");
  const std::string body =
      "<tr>\r\n <#FIELDVALUES PREFIX=%3ctd%3e FIELDPOSTFIX=\"%3c/td%3e \"> <#name>|<#AMOUNT>"
      "|<#nosuch>< x\n";
  Outcome table = q.Get(u"ContentTable",
                        {Arg::Str("many"), Arg::Bool(false), Arg::Str(""), Arg::Str(body), Arg::Str("")});
  ASSERT_TRUE(table.ok()) << table.error;
  std::string expected;
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("First"), Arg::Str("many")}).ok());
  for (int i = 0; i < 300; ++i) {
    expected += Content("many", body);
    ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Next"), Arg::Str("many")}).ok());
  }
  EXPECT_EQ(table.Text(), expected);
}

}  // namespace
}  // namespace quill::test

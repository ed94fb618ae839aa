// ENCODE on field tags, FIELDNAMES and FIELDVALUES: each encoding over one
// row of hostile text (markup, quotes, ampersands, other scripts, control
// characters, bytes that are no UTF-8, a NULL), rendered by a dataset
// producer with the script object's own tag handler; and templates without
// ENCODE rendering exactly as they always have.
#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "fake_result.h"
#include "script_object/page_producer.h"
#include "script_object/quill.h"
#include "script_object/text_encoding.h"

namespace quill {
namespace {

using test::Col;

// Markup, both quotes, an ampersand, Latin and CJK letters, a euro sign,
// control characters and a character outside the BMP.
const std::string kHostile = "<a href=\"x\" title='y'>Tom & Jerry</a> é日本 €\x01\t\r\n😀";
// A stray byte between two letters, and a sequence cut short at the end.
const std::string kBroken = "x\xFFy\xE6\x97";

// A producer over one row (id, t = kHostile, n = NULL, b = kBroken) whose
// tags go to the script object's handler, as Content renders them.
class EncodingTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    dataset_.OpenOver({Col("id", MySQLType::Long, kPriKeyFlag | kNotNullFlag),
                       Col("t", MySQLType::VarString, 0, 80), Col("n", MySQLType::VarString, 0, 80),
                       Col("b", MySQLType::VarString, 0, 80)},
                      {{"1", kHostile, std::nullopt, kBroken}});
    object_ = static_cast<TQuill*>(NewQuillObject());
    object_->AddRef();
    object_->Initialize();
    producer_.SetDataSet(&dataset_);
    producer_.OnHTMLTag = [this](TPageProducer&, TTag, const std::string& name,
                                 const TStringList& params, std::string& replace) {
      object_->HandleFieldTags(producer_, name, params, replace);
    };
  }
  void TearDown() override { object_->Release(); }

  std::string Render(const std::string& text) { return producer_.RenderText(text); }
  // `text` rendered from its parsed form, as the body of a table is.
  std::string RenderParsed(const std::string& text) {
    TStringSource source(text);
    const TParsedTemplate parsed = producer_.Parse(source);
    std::string out;
    producer_.AppendParsed(parsed, out);
    return out;
  }

  test::TFakeMySQLDataset dataset_;
  TQuill* object_ = nullptr;
  TDataSetPageProducer producer_;
};

TEST_F(EncodingTemplate, HTMLEscapesTheFiveMarkupCharactersOnly) {
  const std::string t =
      "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;Tom &amp; Jerry&lt;/a&gt; é日本 €\x01\t\r\n😀";
  EXPECT_EQ(Render("[<#t ENCODE=HTML>]"), "[" + t + "]");
  EXPECT_EQ(Render("[<#T encode=\"html\">]"), "[" + t + "]") << "names and values in any case";
  EXPECT_EQ(Render("[<#n ENCODE=HTML>]"), "[]") << "NULL";
  EXPECT_EQ(Render("<#b ENCODE=HTML>"), kBroken) << "bytes are copied";
  // PREFIX and the other texts of the tag are the template's own: as written.
  EXPECT_EQ(Render("<#FIELDVALUES PREFIX=\"%3ctr%3e\" POSTFIX=\"%3c/tr%3e\" FIELDPREFIX=\"%3ctd%3e\" "
                   "FIELDPOSTFIX=\"%3c/td%3e\" ENCODE=HTML>"),
            "<tr><td>1</td><td>" + t + "</td><td></td><td>" + kBroken + "</td></tr>");
  EXPECT_EQ(RenderParsed("<#FIELDVALUES FIELDPOSTFIX=| ENCODE=HTML>"), "1|" + t + "||" + kBroken + "|");
  dataset_.LookupField("t")->SetDisplayLabel("Title <b> & \"co\"");
  EXPECT_EQ(Render("<#FIELDNAMES PREFIX=( POSTFIX=) FIELDPOSTFIX=, ENCODE=HTML>"),
            "(id,Title &lt;b&gt; &amp; &quot;co&quot;,n,b,)");
}

TEST_F(EncodingTemplate, ATTRLeavesOnlyLettersDigitsAndThreeMarks) {
  const std::string t =
      "&lt;a&#x20;href&#x3D;&quot;x&quot;&#x20;title&#x3D;&#39;y&#39;&gt;Tom&#x20;&amp;&#x20;Jerry"
      "&lt;&#x2F;a&gt;&#x20;é日本&#x20;&#x20AC;&#x1;&#x9;&#xD;&#xA;&#x1F600;";
  EXPECT_EQ(Render("<#t ENCODE=ATTR>"), t);
  EXPECT_EQ(Render("[<#n ENCODE=ATTR>]"), "[]");
  EXPECT_EQ(Render("<#b ENCODE=ATTR>"), "x&#xFFFD;y&#xFFFD;&#xFFFD;");
  EXPECT_EQ(Render("<#FIELDVALUES FIELDPREFIX=%20 ENCODE=ATTR>"),
            " 1 " + t + "  x&#xFFFD;y&#xFFFD;&#xFFFD;");
  std::string out;
  // Letters of other scripts with their combining marks stay; their
  // punctuation, spaces and symbols do not.
  AppendEncoded(out, "Ελληνικά हिन्दी a-b_c.d,ÿ×\xC2\xA0\xE2\x80\x94", TTextEncoding::Attr);
  EXPECT_EQ(out, "Ελληνικά&#x20;हिन्दी&#x20;a-b_c.d&#x2C;ÿ&#xD7;&#xA0;&#x2014;");
}

TEST_F(EncodingTemplate, URLPercentEncodesEveryByteButTheUnreserved) {
  const std::string t =
      "%3Ca%20href%3D%22x%22%20title%3D%27y%27%3ETom%20%26%20Jerry%3C%2Fa%3E%20%C3%A9%E6%97%A5%E6%9C%AC"
      "%20%E2%82%AC%01%09%0D%0A%F0%9F%98%80";
  EXPECT_EQ(Render("<#t ENCODE=URL>"), t);
  EXPECT_EQ(Render("[<#n ENCODE=URL>]"), "[]");
  EXPECT_EQ(Render("<#b ENCODE=URL>"), "x%FFy%E6%97");
  EXPECT_EQ(Render("<a href=\"?id=<#id ENCODE=URL>&amp;q=<#t ENCODE=URL>\">"),
            "<a href=\"?id=1&amp;q=" + t + "\">");
  EXPECT_EQ(Render("<#FIELDVALUES PREFIX=? FIELDPREFIX=v= FIELDPOSTFIX=%26 ENCODE=url>"),
            "?v=1&v=" + t + "&v=&v=x%FFy%E6%97&");
  std::string out;
  AppendEncoded(out, "AZaz09-_.~+", TTextEncoding::URL);
  EXPECT_EQ(out, "AZaz09-_.~%2B");
}

TEST_F(EncodingTemplate, JSONGivesTheInsideOfAStringSafeInAScriptElement) {
  const std::string t =
      R"(\u003ca href=\"x\" title=\u0027y\u0027\u003eTom \u0026 Jerry\u003c/a\u003e é日本 €\u0001\t\r\n😀)";
  EXPECT_EQ(Render("<#t ENCODE=JSON>"), t);
  EXPECT_EQ(Render("[<#n ENCODE=JSON>]"), "[]");
  EXPECT_EQ(Render("<#b ENCODE=JSON>"), R"(x\ufffdy\ufffd\ufffd)");
  EXPECT_EQ(Render("<#FIELDVALUES PREFIX=[ POSTFIX=] FIELDPOSTFIX=, ENCODE=JSON>"),
            "[1," + t + ",,x\\ufffdy\\ufffd\\ufffd,]");
  std::string out;
  AppendEncoded(out, std::string("\\/\b\f\x7F\0\xE2\x80\xA8\xE2\x80\xA9", 12), TTextEncoding::JSON);
  EXPECT_EQ(out, R"(\\/\b\f\u007f\u0000\u2028\u2029)");
}

TEST_F(EncodingTemplate, WithoutEncodeTemplatesRenderAsBefore) {
  // Texts go in as they are; a field tag with a parameter is the handler's
  // alone and becomes nothing.
  EXPECT_EQ(Render("<#t>|<#n>|<#b>|<#t CLASS=x>|<#t ENCODE=HTML CLASS=x>|<#nofield ENCODE=HTML>"),
            kHostile + "||" + kBroken + "|||");
  EXPECT_EQ(Render("<#FIELDVALUES PREFIX=\"\" POSTFIX=\"\" FIELDPREFIX=\"%20\" FIELDPOSTFIX=\"%20\" >"),
            " 1  " + kHostile + "    " + kBroken + " ");
  EXPECT_EQ(Render("<#FIELDVALUES FIELDPOSTFIX=| ENCODE=NONE><#t ENCODE=none>"),
            "1|" + kHostile + "||" + kBroken + "|" + kHostile);
  // An encoding nobody knows is an error, not text let through unescaped.
  for (const char* bad : {"<#t ENCODE=HTM>", "<#t ENCODE>", "<#FIELDVALUES ENCODE=>",
                          "<#FIELDNAMES ENCODE=XML>"}) {
    try {
      RenderParsed(bad);
      ADD_FAILURE() << bad << " rendered";
    } catch (const EConvertError& e) {
      EXPECT_NE(std::string(e.what()).find("is not a valid encoding (HTML, ATTR, URL, JSON or NONE)"),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_THROW(Render("x<#FIELDVALUES ENCODE=HTM>"), EConvertError);
}

}  // namespace
}  // namespace quill

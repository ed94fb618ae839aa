// The template engine without a dataset: token copying, tag recognition,
// parameter splitting and decoding, the buffer's line rule, and the parsed
// form that must behave exactly like streaming.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "script_object/copy_parser.h"
#include "script_object/page_producer.h"
#include "script_object/tag_params.h"

namespace quill {
namespace {

struct SeenTag {
  TTag kind;
  std::string name;
  std::vector<std::string> params;
};

// A producer whose handler records every tag and replaces it by
// "[NAME|p1|p2...]".
class RecordingProducer {
 public:
  RecordingProducer() {
    producer.OnHTMLTag = [this](TPageProducer&, TTag kind, const std::string& name,
                                const TStringList& params, std::string& replace) {
      EXPECT_EQ(replace, "") << "the replacement must start empty";
      SeenTag tag{kind, name, params.Lines()};
      tags.push_back(tag);
      if (name == "BOOM") throw Exception("handler failed at BOOM");
      replace = "[" + name;
      for (const std::string& p : params.Lines()) replace += "|" + p;
      replace += "]";
    };
  }
  std::string Render(const std::string& text) { return producer.RenderText(text); }

  TPageProducer producer;
  std::vector<SeenTag> tags;
};

std::vector<std::string> Split(const std::string& text, bool strip = true) {
  TStringList list;
  SplitTagParams(text, strip, list);
  return list.Lines();
}

using Lines = std::vector<std::string>;

// --- Copying text -------------------------------------------------------------------

TEST(TemplateText, TextWithoutTagsIsCopiedByteForByte) {
  RecordingProducer r;
  const std::string samples[] = {
      "",
      "plain",
      "  leading and trailing blanks  ",
      "tabs\there\tand\r\nCRLF\r\nand lone\rCR and\nLF\n\n",
      "digits 0123 and punctuation !\"#$%&'()*+,-./:;=?@[\\]^_`{|}~ and >",
      "UTF-8: \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \x01\x02 control",
      "#hash without less-than",
  };
  for (const std::string& s : samples) EXPECT_EQ(r.Render(s), s) << s;
  EXPECT_TRUE(r.tags.empty());
}

TEST(TemplateText, LongTextAcrossManyBuffersIsCopied) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " \t with blanks   \n";
  ASSERT_GT(text.size(), 10 * TCopyParser::kBufferSize);
  RecordingProducer r;
  EXPECT_EQ(r.Render(text), text);
}

TEST(TemplateText, BlanksAfterALessThanThatOpensNoTagAreDropped) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("a < b"), "a <b");
  EXPECT_EQ(r.Render("x <\n\t y"), "x <y");
  EXPECT_EQ(r.Render("1<2"), "1<2");
  EXPECT_EQ(r.Render("ends with <"), "ends with <");
  EXPECT_EQ(r.Render("<p>para</p>"), "<p>para</p>");
  // The second "<" is taken as the token after the first, so no tag opens.
  EXPECT_EQ(r.Render("<<#X>"), "<<#X>");
  EXPECT_TRUE(r.tags.empty());
}

TEST(TemplateText, NulEndsTheTemplate) {
  RecordingProducer r;
  EXPECT_EQ(r.Render(std::string("before\0after <#X>", 17)), "before");
  EXPECT_TRUE(r.tags.empty());
}

// --- Tags -------------------------------------------------------------------------------

TEST(TemplateTags, TagIsReplacedAndBlanksAroundItAreKept) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("a <#X> b\n<#Y P=1>  c"), "a [X] b\n[Y|P=1]  c");
  ASSERT_EQ(r.tags.size(), 2u);
  EXPECT_EQ(r.tags[1].params, Lines{"P=1"});
}

TEST(TemplateTags, BlanksBeforeAndAfterTheHashAreAllowed) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("< #A>|<# FIELDVALUES>|<\n#\tB >"), "[A]|[FIELDVALUES]|[B]");
}

TEST(TemplateTags, NameIsOneSymbolOrOneCharacter) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("<#field_1x>"), "[field_1x]");
  // A name that does not start with a letter or "_" is one character; the
  // rest goes to the parameters.
  EXPECT_EQ(r.Render("<#1abc>"), "[1|abc]");
  // Less-than, hash, greater-than: the name is ">" and there are no
  // parameters.
  EXPECT_EQ(r.Render("x<#>y"), "x[>]y");
}

TEST(TemplateTags, TagEndsAtTheFirstGreaterThanEvenInsideQuotes) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("<#T A=\"x>y\">rest"), "[T|A=x]y\">rest");
  ASSERT_EQ(r.tags.size(), 1u);
  EXPECT_EQ(r.tags[0].params, Lines{"A=x"});
}

TEST(TemplateTags, UnterminatedTagTakesTheRestAsParameters) {
  RecordingProducer r;
  EXPECT_EQ(r.Render("head <#T a=1\n b=2  "), "head [T|a=1|b=2]");
  EXPECT_EQ(r.Render("<#"), "[]");
}

TEST(TemplateTags, KindIsChosenByTheWholeNameInAnyCase) {
  RecordingProducer r;
  r.Render("<#Link><#imagemap><#LINKS><#x>");
  ASSERT_EQ(r.tags.size(), 4u);
  EXPECT_EQ(r.tags[0].kind, TagLink);
  EXPECT_EQ(r.tags[1].kind, TagImageMap);
  EXPECT_EQ(r.tags[2].kind, TagCustom);
  EXPECT_EQ(r.tags[3].kind, TagCustom);
}

TEST(TemplateTags, ProducerWithoutHandlerDropsTagsAndBaseProducerWritesThemBack) {
  TPageProducer plain;
  EXPECT_EQ(plain.RenderText("a<#X P=1>b"), "ab");
  TCustomPageProducer base;
  EXPECT_EQ(base.RenderText("a<#X P=1 Q=2>b"), "a<#X>b");
  TCustomContentProducer nothing;
  EXPECT_EQ(nothing.RenderText("anything"), "");
}

TEST(TemplateTags, HandlerFailureEndsTheRendering) {
  RecordingProducer r;
  try {
    r.Render("a<#X>b<#BOOM>c<#Y>");
    FAIL() << "no failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "handler failed at BOOM");
  }
  EXPECT_EQ(r.tags.size(), 2u);
}

// --- Parameters -----------------------------------------------------------------------

TEST(TagParams, DecodeParamHandlesPlusPercentAndHex) {
  EXPECT_EQ(DecodeParam("a+b"), "a b");
  EXPECT_EQ(DecodeParam("100%25"), "100%");
  EXPECT_EQ(DecodeParam("100%%"), "100%");
  EXPECT_EQ(DecodeParam("%3ctd%3E"), "<td>");
  EXPECT_EQ(DecodeParam("%41%62"), "Ab");
  EXPECT_EQ(DecodeParam("%C3%A9"), "\xC3\xA9");
  EXPECT_EQ(DecodeParam(""), "");
}

TEST(TagParams, DecodeParamRejectsBadEscapes) {
  auto message = [](const std::string& field) -> std::string {
    try {
      DecodeParam(field);
    } catch (const EConvertError& e) {
      return e.what();
    }
    return "no failure";
  };
  EXPECT_EQ(message("%zz"), "'$zz' is not a valid integer value");
  EXPECT_EQ(message("a%g1"), "'$g1' is not a valid integer value");
  EXPECT_EQ(message("end%4"), "'$4' is not a valid integer value");
  EXPECT_EQ(message("end%"), "'$' is not a valid integer value");
  EXPECT_EQ(message("%-1"), "'$-1' is not a valid integer value");
}

TEST(TagParams, StripQuoteCharsRemovesBothQuotesOnlyWhenAsked) {
  EXPECT_EQ(StripQuoteChars("A=\"it's\"", true), "A=its");
  EXPECT_EQ(StripQuoteChars("A=\"it's\"", false), "A=\"it's\"");
}

TEST(TagParams, SplitFollowsTheQuoteRules) {
  EXPECT_EQ(Split("PREFIX=\"%3ctr%3e\""), Lines{"PREFIX=<tr>"});
  EXPECT_EQ(Split("PREFIX=a+b"), Lines{"PREFIX=a b"});
  EXPECT_EQ(Split("PREFIX=100%25"), Lines{"PREFIX=100%"});
  EXPECT_EQ(Split("P=\"a%22b\" Q='c'"), (Lines{"P=ab", "Q=c"}));
  // Blanks inside a quoted run stay in the value.
  EXPECT_EQ(Split("A=\"x y\"  B=z"), (Lines{"A=x y", "B=z"}));
  // The byte after a closing quote inside a field ends the field and is
  // lost, so B disappears.
  EXPECT_EQ(Split("A=\"x\"B=\"y\""), (Lines{"A=x", "=y"}));
  // A run that opens the field is not part of it; its closing quote ends it.
  EXPECT_EQ(Split("\"a b\"c d"), (Lines{"a b", "c", "d"}));
  EXPECT_EQ(Split("\"\" x"), Lines{"x"});
  // Only blank, CR and LF separate; a tab does not.
  EXPECT_EQ(Split("PREFIX=a\tPOSTFIX=b"), Lines{"PREFIX=a\tPOSTFIX=b"});
  EXPECT_EQ(Split("PREFIX=a\r\nPOSTFIX=b"), (Lines{"PREFIX=a", "POSTFIX=b"}));
  // An escaped blank does not separate.
  EXPECT_EQ(Split("A=x%20y"), Lines{"A=x y"});
  // An unclosed quote takes the rest of the text.
  EXPECT_EQ(Split("A=\"x y"), Lines{"A=x y"});
  EXPECT_EQ(Split("\"x y"), Lines{"x y"});
  EXPECT_EQ(Split(""), Lines{});
  EXPECT_EQ(Split("   "), Lines{});
  EXPECT_EQ(Split("A=\"x\"", false), Lines{"A=\"x\""});
}

TEST(TagParams, BadEscapeInATagFailsTheRendering) {
  RecordingProducer r;
  try {
    r.Render("ok<#X P=%zz>");
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$zz' is not a valid integer value");
  }
  EXPECT_TRUE(r.tags.empty());
}

// --- The buffer's line rule -------------------------------------------------------------

std::string LineTooLongMessage(const std::string& text) {
  RecordingProducer r;
  try {
    r.Render(text);
  } catch (const EParserError& e) {
    return e.what();
  }
  return "rendered";
}

TEST(TemplateBuffer, AFullBufferWithoutLineFeedIsRefused) {
  EXPECT_EQ(LineTooLongMessage(std::string(4096, 'x')), "Line too long on line 1");
  EXPECT_EQ(LineTooLongMessage(std::string(10000, 'x') + "\nrest"), "Line too long on line 1");
  // A template that does not fill the buffer has no line to cut.
  EXPECT_EQ(LineTooLongMessage(std::string(4095, 'x')), "rendered");
}

TEST(TemplateBuffer, TheLineNumberCountsLineFeedsPassed) {
  EXPECT_EQ(LineTooLongMessage("one\ntwo\nthree\n" + std::string(5000, 'y')),
            "Line too long on line 4");
}

TEST(TemplateBuffer, LinesOfAThousandBytesRender) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(999, static_cast<char>('a' + i % 26)) + "\n";
  text += "<#END>";
  RecordingProducer r;
  std::string expected = text.substr(0, text.size() - 6) + "[END]";
  EXPECT_EQ(r.Render(text), expected);
}

TEST(TemplateBuffer, TagsAndBlanksSpanningARefillAreRead) {
  // Put a tag with parameters across every possible buffer boundary.
  for (size_t pad = 4000; pad < 4200; ++pad) {
    std::string prefix(pad, 'p');
    for (size_t i = 99; i < pad; i += 100) prefix[i] = '\n';
    const std::string text = prefix + "\n   <#TAG A=1\n  B=\"x y\">  tail\n";
    RecordingProducer r;
    ASSERT_EQ(r.Render(text), prefix + "\n   [TAG|A=1|B=x y]  tail\n") << pad;
  }
}

// --- Documents and files -----------------------------------------------------------------

TEST(TemplateDocument, HTMLDocLinesAreRenderedWithCRLF) {
  RecordingProducer r;
  TStringList lines;
  lines.Add("a <#X>");
  lines.Add("b");
  r.producer.SetHTMLDoc(lines);
  EXPECT_EQ(r.producer.RenderDocument(), "a [X]\r\nb\r\n");
}

TEST(TemplateDocument, FileAndDocReplaceEachOther) {
  const std::string path = ::testing::TempDir() + "/quill_template_doc.html";
  {
    std::ofstream out(path, std::ios::binary);
    out << "from <#FILE> \r\n";
  }
  RecordingProducer r;
  TStringList lines;
  lines.Add("doc");
  r.producer.SetHTMLDoc(lines);
  r.producer.SetHTMLFile(path);
  EXPECT_EQ(r.producer.HTMLDoc().Count(), 0);
  EXPECT_EQ(r.producer.RenderDocument(), "from [FILE] \r\n");
  r.producer.SetHTMLDoc(lines);
  EXPECT_EQ(r.producer.HTMLFile(), "");
  EXPECT_EQ(r.producer.RenderDocument(), "doc\r\n");
  std::remove(path.c_str());
}

TEST(TemplateDocument, OnlyADifferentFileNameClearsTheDoc) {
  TPageProducer p;
  p.SetHTMLFile("/tmp/A.html");
  p.HTMLDoc().Add("x");
  p.SetHTMLFile("/tmp/a.HTML");  // the same name, ignoring case
  EXPECT_EQ(p.HTMLDoc().Count(), 1);
  EXPECT_EQ(p.HTMLFile(), "/tmp/A.html");
  p.SetHTMLFile("/tmp/b.html");
  EXPECT_EQ(p.HTMLDoc().Count(), 0);
}

TEST(TemplateDocument, MissingFileFailsWithItsName) {
  TPageProducer p;
  p.SetHTMLFile("/nonexistent/dir/page.html");
  try {
    p.RenderDocument();
    FAIL() << "no failure";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Cannot open file /nonexistent/dir/page.html");
  }
  p.SetHTMLFile("/");
  EXPECT_THROW(p.RenderDocument(), EFOpenError);
}

// --- Parsed form --------------------------------------------------------------------------

// Renders `text` both ways and returns (output or failure text) of each.
std::pair<std::string, std::string> BothWays(const std::string& text, int repeat = 3) {
  auto outcome = [&](bool parsed) {
    RecordingProducer r;
    std::string out;
    try {
      if (parsed) {
        TStringSource source(text);
        TParsedTemplate form = r.producer.Parse(source);
        for (int i = 0; i < repeat; ++i) r.producer.AppendParsed(form, out);
      } else {
        for (int i = 0; i < repeat; ++i) r.producer.RenderTextTo(text, out);
      }
    } catch (const std::exception& e) {
      return std::string("failed: ") + typeid(e).name() + ": " + e.what() + " after " +
             std::to_string(r.tags.size()) + " tags";
    }
    return out;
  };
  return {outcome(false), outcome(true)};
}

TEST(TemplateParsed, RendersExactlyAsStreaming) {
  const std::string samples[] = {
      "",
      "no tags at all\r\n\t",
      "<#A>",
      "x <#A P=\"%3ctd%3e\"  Q=a+b > y < z <# B>",
      "<#>tail",
      "head <#OPEN a=1",
      "<#T A=\"x>y\">rest",
      std::string(5000, 'a'),
      "ok\n" + std::string(3000, 'b') + "\n<#T>\n" + std::string(3000, 'c') + "\n",
      "a<#X>b<#BOOM>c<#Y P=%zz>",
      "a<#X>b<#Y P=%zz>c<#BOOM>",
      std::string("a<#X>\0<#Y>", 10),
  };
  for (const std::string& s : samples) {
    auto [streamed, parsed] = BothWays(s);
    EXPECT_EQ(streamed, parsed) << s.substr(0, 60);
  }
}

TEST(TemplateParsed, FailureIsRaisedAtTheSamePointEveryTime) {
  RecordingProducer r;
  TStringSource source("a<#X>b<#Y P=%zz>c");
  TParsedTemplate form = r.producer.Parse(source);
  ASSERT_TRUE(form.Error() != nullptr);
  std::string out;
  for (int i = 0; i < 2; ++i) {
    EXPECT_THROW(r.producer.AppendParsed(form, out), EConvertError);
  }
  EXPECT_EQ(r.tags.size(), 2u);  // X resolved on each attempt, Y never
}

}  // namespace
}  // namespace quill

// Web encodings and the engine's string form.
#include <gtest/gtest.h>

#include <utility>

#include "base/utf8.h"
#include "host/asp/duk_text.h"
#include "host/asp/form_data.h"

namespace quill::asp {
namespace {

TEST(UrlEncoding, DecodesEscapesAndKeepsBrokenOnes) {
  EXPECT_EQ(UrlDecode("a+b%20c%2B%c3%bc"), "a b c+\xC3\xBC");
  EXPECT_EQ(UrlDecode("a+b", false), "a+b");
  EXPECT_EQ(UrlDecode("100%"), "100%");
  EXPECT_EQ(UrlDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(UrlDecode("%00x"), std::string("\0x", 2));
}

TEST(UrlEncoding, ParsesPairsInOrder) {
  const NameValueList pairs = ParseUrlEncoded("a=1&b=&c&a=2&&=v&x=y=z");
  const NameValueList expected = {{"a", "1"}, {"b", ""}, {"c", ""}, {"a", "2"}, {"", "v"}, {"x", "y=z"}};
  EXPECT_EQ(pairs, expected);
  EXPECT_TRUE(ParseUrlEncoded("").empty());
  EXPECT_EQ(ParseUrlEncoded(std::string(100000, '&') + "a=1").size(), 1u);
  std::string many;
  for (int i = 0; i < 20; ++i) many += "k=v&";
  EXPECT_EQ(ParseUrlEncoded(many, 5).size(), 5u);
}

TEST(UrlEncoding, EncodesWhatServerURLEncodeEncodes) {
  EXPECT_EQ(UrlEncode("a b&c=d/\xC3\xBC-_.*~"), "a+b%26c%3Dd%2F%C3%BC-_.*%7E");
  EXPECT_EQ(BuildUrlEncoded({{"n a", "v&1"}, {"x", ""}}), "n+a=v%261&x=");
  EXPECT_EQ(ParseUrlEncoded(BuildUrlEncoded({{"k=&", "\xF0\x9F\x98\x80 +%"}})),
            (NameValueList{{"k=&", "\xF0\x9F\x98\x80 +%"}}));
}

TEST(HtmlEncoding, EscapesMarkup) {
  EXPECT_EQ(HtmlEncode("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(HtmlEncode("plain \xC3\xBC"), "plain \xC3\xBC");
}

TEST(EngineText, SurrogatesAreEncodedOneUnitAtATime) {
  const std::u16string smile = u"a\U0001F600b";
  const std::string engine = Utf16ToDuk(smile);
  EXPECT_EQ(engine, "a\xED\xA0\xBD\xED\xB8\x80" "b");
  EXPECT_EQ(DukToUtf16(engine), smile);
  EXPECT_EQ(DukToUtf8(engine), "a\xF0\x9F\x98\x80" "b");
  // Four-byte sequences are read too, and make the same pair.
  EXPECT_EQ(DukToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf8ToDuk("\xF0\x9F\x98\x80"), "\xED\xA0\xBD\xED\xB8\x80");
  // Long ASCII runs go in blocks: a character of each width at every place
  // of a run, and text that ends inside a block, come out the same.
  const std::pair<std::u16string, std::u16string> odd_ones[] = {
      {u"\u00E9", u"\u00E9"}, {u"\u20AC", u"\u20AC"}, {u"\U0001F600", u"\U0001F600"},
      {std::u16string{0xD800}, u"\uFFFD"}, {std::u16string{0xDC00, u'x'}, u"\uFFFDx"}};
  for (const auto& [odd, as_read] : odd_ones) {
    for (size_t at = 0; at <= 40; at += 3) {
      const std::u16string a(at, u'a');
      const std::u16string b(40 - at, u'b');
      const std::string engine = Utf16ToDuk(a + odd + b);
      EXPECT_EQ(DukToUtf16(engine), a + odd + b);
      const std::string utf8 = Utf16ToUtf8(a + odd + b);
      EXPECT_EQ(Utf8ToUtf16(utf8), a + as_read + b);
      EXPECT_EQ(DukToUtf8(engine), utf8);
    }
  }
}

TEST(EngineText, BrokenBytesBecomeReplacementCharacters) {
  EXPECT_EQ(DukToUtf16("a\xFF\xC3"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(DukToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(DukToUtf8("\xED\xA0\xBD"), "\xEF\xBF\xBD");  // a lone surrogate
  EXPECT_EQ(DukDecodedLength("\xF4\x90\x80\x80"), 4u);    // beyond U+10FFFF: four replacements
  const char16_t mixed[] = {u'a', 0x00FC, 0x20AC, 0xD800};  // ends in a lone surrogate
  EXPECT_EQ(DukEncodedLength(std::u16string_view(mixed, 4)), 1u + 2u + 3u + 3u);
}

}  // namespace
}  // namespace quill::asp

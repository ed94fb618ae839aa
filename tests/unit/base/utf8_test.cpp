// UTF-8 / UTF-16 conversion and character-aware cutting.
#include "base/utf8.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(Utf8, RoundTripsEveryPlane) {
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8Length(text), 4u);
  std::string with_nul("a\0b", 3);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(with_nul)), with_nul);
}

TEST(Utf8, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");            // truncated
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Utf8, CuttingNeverSplitsASequence) {
  std::string text = "\xC3\xA9t\xC3\xA9";  // été
  EXPECT_EQ(Utf8Prefix(text, 2), "\xC3\xA9t");
  EXPECT_EQ(Utf8Prefix(text, 10), text);
  EXPECT_EQ(Utf8Prefix(text, 0), "");
  EXPECT_EQ(Utf8PrefixBytes(text, 1), "");
  EXPECT_EQ(Utf8PrefixBytes(text, 4), "\xC3\xA9t");
  EXPECT_EQ(Utf8PrefixBytes(text, 5), text);
}

}  // namespace
}  // namespace quill

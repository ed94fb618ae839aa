// The codec: what round-trips, what becomes U+FFFD, and that the
// block-wise ASCII path agrees with the character-wise one.
#include "platform/core/utf.h"

#include <gtest/gtest.h>

namespace quill::core {
namespace {

TEST(Utf, ConvertsBothWaysAndReplacesWhatIsMalformed) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const std::u16string wide = u"a\u00E9\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(text), wide);
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(std::string("a\0b", 3))), std::string("a\0b", 3));

  // One U+FFFD per byte that starts no well-formed sequence.
  EXPECT_EQ(Utf8ToUtf16("\x80x"), u"\uFFFDx");                          // stray continuation
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");                  // truncated
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD");        // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xB0\x80"), u"\uFFFD\uFFFD\uFFFD");        // surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, u'x', 0xD800}), "\xEF\xBF\xBDx\xEF\xBF\xBD");

  char32_t cp = 0;
  EXPECT_EQ(Utf8CharAt(text, 3, &cp), 3u);
  EXPECT_EQ(cp, U'\u20AC');
  EXPECT_EQ(Utf8CharAt(text, 2, &cp), 0u);  // inside a sequence

  // A non-ASCII character at every place around the 16-byte blocks.
  for (size_t at = 0; at < 40; ++at) {
    std::string mixed(40, 'x');
    mixed.replace(at, 1, "\xF0\x9F\x98\x80\xFF");
    std::u16string expected(40, u'x');
    expected.replace(at, 1, u"\U0001F600\uFFFD");
    std::u16string into(mixed.size(), u'\0');
    into.resize(Utf8ToUtf16(mixed, into.data()));
    EXPECT_EQ(into, expected) << at;
    EXPECT_EQ(Utf8ToUtf16(mixed), expected) << at;
    EXPECT_EQ(Utf16Length(mixed), expected.size()) << at;
  }
}

}  // namespace
}  // namespace quill::core

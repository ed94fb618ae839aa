// UTF-8 helpers. Text inside the system is UTF-8; UTF-16 exists only at the
// COM boundary, converted by these two functions and nowhere else.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// Invalid sequences become U+FFFD; nothing is ever dropped silently.
std::u16string Utf8ToUtf16(std::string_view text);
// The same conversion into `dest`, which must hold text.size() units (a
// UTF-8 text never needs more); returns the number of units written. Lets a
// caller convert straight into a buffer of its own (a BSTR) without a
// second copy of a large text.
size_t Utf8ToUtf16(std::string_view text, char16_t* dest);
// The number of units Utf8ToUtf16 writes for `text`, without writing them:
// lets a caller size a buffer exactly before converting into it.
size_t Utf16Length(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The character that starts at byte `i` of `text`: its code point in *cp
// and its length in bytes; 0 when the bytes there are no well-formed UTF-8
// sequence (overlong forms, surrogates and code points above U+10FFFF
// included). REQUIRES: i < text.size().
size_t Utf8CharAt(std::string_view text, size_t i, char32_t* cp);

// Number of characters (code points) in `text`; an invalid byte counts as one.
size_t Utf8Length(std::string_view text);
// The first `max_chars` characters of `text`, never splitting a sequence.
std::string_view Utf8Prefix(std::string_view text, size_t max_chars);
// The longest prefix of at most `max_bytes` bytes that ends on a character
// boundary.
std::string_view Utf8PrefixBytes(std::string_view text, size_t max_bytes);

}  // namespace quill

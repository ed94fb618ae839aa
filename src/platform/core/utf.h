// The one UTF-8 / UTF-16 codec of the system. Text inside the system is
// UTF-8; UTF-16 exists only at the COM boundary, and every conversion
// between the two, in the runtime as in the layers above it, comes here.
//
// Malformed input never stops a conversion and is never dropped silently:
// each byte that starts no well-formed UTF-8 sequence becomes one U+FFFD, and
// so does each unpaired surrogate of UTF-16.
#ifndef QUILL_PLATFORM_CORE_UTF_H_
#define QUILL_PLATFORM_CORE_UTF_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quill::core {

// The character that starts at byte `i` of `text`: its code point in *cp
// and its length in bytes; 0 when the bytes there are no well-formed UTF-8
// sequence (overlong forms, surrogates and code points above U+10FFFF
// included). REQUIRES: i < text.size().
size_t Utf8CharAt(std::string_view text, size_t i, char32_t* cp);

// UTF-8 to UTF-16; a malformed byte becomes U+FFFD and the conversion goes
// on at the next byte.
std::u16string Utf8ToUtf16(std::string_view text);
// The same conversion into `dest`, which must hold text.size() units (a
// UTF-8 text never needs more); returns the number of units written. Lets a
// caller convert straight into a buffer of its own (a BSTR) without a
// second copy of a large text.
size_t Utf8ToUtf16(std::string_view text, char16_t* dest);
// The number of units Utf8ToUtf16 writes for `text`, without writing them:
// lets a caller size a buffer exactly before converting into it.
size_t Utf16Length(std::string_view text);

// The number of ASCII bytes at the start of `text`, found sixteen at a
// time: the run every conversion out of UTF-8 (here and the engine's own
// encoding) starts with.
size_t AsciiPrefix(std::string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Copies the leading ASCII units of text[0..n) into `dest` as bytes, up to
// the first unit above U+007F; answers how many. Every conversion out of
// UTF-16 (here and the engine's own encoding) starts its runs with it.
size_t NarrowAscii(const char16_t* text, size_t n, char* dest);

}  // namespace quill::core

#endif  // QUILL_PLATFORM_CORE_UTF_H_

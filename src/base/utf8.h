// UTF-8 helpers. Text inside the system is UTF-8; UTF-16 exists only at the
// COM boundary, converted by the one codec below the runtime
// (platform/core/utf.h), whose names this layer passes on as its own.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/utf.h"

namespace quill {

// Invalid sequences become U+FFFD; nothing is ever dropped silently.
using core::Utf8ToUtf16;
using core::Utf16Length;
// Unpaired surrogates become U+FFFD.
using core::Utf16ToUtf8;
// The character at a byte offset: its code point and length, 0 when the
// bytes there are no well-formed sequence.
using core::Utf8CharAt;

// Number of characters (code points) in `text`; an invalid byte counts as one.
size_t Utf8Length(std::string_view text);
// The first `max_chars` characters of `text`, never splitting a sequence.
std::string_view Utf8Prefix(std::string_view text, size_t max_chars);
// The longest prefix of at most `max_bytes` bytes that ends on a character
// boundary.
std::string_view Utf8PrefixBytes(std::string_view text, size_t max_bytes);

}  // namespace quill

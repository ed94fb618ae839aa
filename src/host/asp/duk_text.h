// Text at the script engine's boundary.
//
// Duktape keeps strings as bytes in an extended UTF-8 where each UTF-16 code
// unit of an ECMAScript string that is a surrogate is encoded on its own
// (three bytes), so that string lengths and indexes follow the language's
// UTF-16 semantics. Text entering the engine is encoded that way; text
// leaving it is decoded from it, accepting four-byte sequences too. The
// UTF-16/UTF-8 step itself is the system's one conversion (base/utf8.h).
#pragma once

#include <string>
#include <string_view>

namespace quill::asp {

// Decodes engine bytes into UTF-16. A byte that starts no valid sequence
// becomes U+FFFD; nothing is dropped.
std::u16string DukToUtf16(std::string_view bytes);
// Encodes UTF-16 into engine bytes; surrogates, paired or not, are encoded
// one code unit at a time.
std::string Utf16ToDuk(std::u16string_view text);
// Engine bytes to standard UTF-8 (pairs joined, lone surrogates U+FFFD).
std::string DukToUtf8(std::string_view bytes);
// The same text without a copy when it needs no conversion (ASCII): either
// `bytes` itself or the conversion, made in *scratch.
std::string_view DukAsUtf8(std::string_view bytes, std::string* scratch);
// Standard UTF-8 (invalid bytes U+FFFD) to engine bytes.
std::string Utf8ToDuk(std::string_view text);

// The same conversions into buffers the caller provides, for code that must
// not own memory while the engine may throw. They never fail.
// Number of UTF-16 code units DukToUtf16 gives for `bytes`.
size_t DukDecodedLength(std::string_view bytes) noexcept;
// REQUIRES: `out` has room for DukDecodedLength(bytes) code units.
void DukDecode(std::string_view bytes, char16_t* out) noexcept;
// Number of bytes Utf16ToDuk gives for `text`; never more than three per
// code unit.
size_t DukEncodedLength(std::u16string_view text) noexcept;
// Encodes in one pass; answers the number of bytes written.
// REQUIRES: `out` has room for DukEncodedLength(text) bytes (3 * text.size()
// always suffices).
size_t DukEncode(std::u16string_view text, char* out) noexcept;

}  // namespace quill::asp

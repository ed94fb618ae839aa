// Character-aware measuring and cutting of UTF-8 text, on the codec's
// reading of one character.
#include "base/utf8.h"

namespace quill {
namespace {

// Bytes taken by the character at text[i]: an invalid byte counts as one.
size_t CharBytes(std::string_view text, size_t i) {
  char32_t cp;
  const size_t n = Utf8CharAt(text, i, &cp);
  return n == 0 ? 1 : n;
}

}  // namespace

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) i += CharBytes(text, i);
  return count;
}

std::string_view Utf8Prefix(std::string_view text, size_t max_chars) {
  size_t i = 0;
  for (size_t count = 0; i < text.size() && count < max_chars; ++count) i += CharBytes(text, i);
  return text.substr(0, i);
}

std::string_view Utf8PrefixBytes(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t i = 0;
  while (i < text.size()) {
    const size_t n = CharBytes(text, i);
    if (i + n > max_bytes) break;
    i += n;
  }
  return text.substr(0, i);
}

}  // namespace quill

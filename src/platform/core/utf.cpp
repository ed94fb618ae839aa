// utf.cpp: the UTF-8 / UTF-16 codec.
//
// Decoding accepts exactly the well-formed sequences (no overlong forms, no
// encoded surrogates, nothing above U+10FFFF); anything else costs one
// U+FFFD per byte, so a stray byte never swallows the characters after it.
// Pages are mostly ASCII, so runs of ASCII are widened sixteen bytes at a
// time.
#include "platform/core/utf.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quill::core {
namespace {

// Length of the well-formed sequence starting at s[i], or 0 when invalid.
size_t SequenceLength(std::string_view s, size_t i, char32_t* cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t n;
  char32_t v, min;
  if ((c & 0xE0) == 0xC0) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

void Append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the prefix of p[0..n) that is whole 16-byte blocks of ASCII.
size_t AsciiRun(const char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  while (i + 16 <= n) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (_mm_movemask_epi8(block) != 0) break;
    i += 16;
  }
#else
  while (i + 16 <= n) {
    uint64_t a, b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + i + 8, 8);
    if (((a | b) & 0x8080808080808080ull) != 0) break;
    i += 16;
  }
#endif
  return i;
}

// dest[k] = p[k] for ASCII p[0..n), n a multiple of 16.
void WidenAscii(const char* p, size_t n, char16_t* dest) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (size_t i = 0; i < n; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_unpacklo_epi8(block, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 8), _mm_unpackhi_epi8(block, zero));
  }
#else
  for (size_t i = 0; i < n; ++i) dest[i] = static_cast<unsigned char>(p[i]);
#endif
}

}  // namespace

size_t Utf8CharAt(std::string_view text, size_t i, char32_t* cp) {
  return SequenceLength(text, i, cp);
}

size_t Utf8ToUtf16(std::string_view text, char16_t* dest) {
  char16_t* o = dest;
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      // Pages are mostly ASCII: widen whole blocks while they last.
      const size_t run = AsciiRun(text.data() + i, size - i);
      if (run > 0) {
        WidenAscii(text.data() + i, run, o);
        o += run;
        i += run;
        continue;
      }
      *o++ = c;
      ++i;
      continue;
    }
    char32_t cp;
    size_t n = SequenceLength(text, i, &cp);
    if (n == 0) {
      *o++ = u'\uFFFD';
      ++i;
      continue;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
  }
  return static_cast<size_t>(o - dest);
}

size_t Utf16Length(std::string_view text) {
  const size_t size = text.size();
  size_t units = 0;
  for (size_t i = 0; i < size;) {
    const size_t run = AsciiRun(text.data() + i, size - i);
    units += run;
    i += run;
    if (i >= size) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++units;
      ++i;
      continue;
    }
    char32_t cp;
    const size_t n = SequenceLength(text, i, &cp);
    if (n == 0) {
      ++units;
      ++i;
    } else {
      units += cp >= 0x10000 ? 2 : 1;
      i += n;
    }
  }
  return units;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  // Sized once and written in place; pages of many megabytes cross the COM
  // boundary through here.
  std::u16string out(text.size(), u'\0');
  out.resize(Utf8ToUtf16(text, out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  // Page text is mostly ASCII: narrow runs of it without the per-character
  // append (a page's whole output passes through here on Response.Write).
  size_t i = 0;
  while (i < text.size()) {
    size_t run = i;
    while (run < text.size() && text[run] < 0x80) ++run;
    if (run > i) {
      const size_t at = out.size();
      out.resize(at + (run - i));
      for (size_t k = i; k < run; ++k) out[at + (k - i)] = static_cast<char>(text[k]);
      i = run;
      if (i == text.size()) break;
    }
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    Append(out, c);
    ++i;
  }
  return out;
}

}  // namespace quill::core

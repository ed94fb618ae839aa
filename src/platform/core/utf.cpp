// utf.cpp: the UTF-8 / UTF-16 codec.
//
// Decoding accepts exactly the well-formed sequences (no overlong forms, no
// encoded surrogates, nothing above U+10FFFF); anything else costs one
// U+FFFD per byte, so a stray byte never swallows the characters after it.
// Pages are mostly ASCII, so runs of ASCII are widened and narrowed sixteen
// units at a time.
#include "platform/core/utf.h"

#include <algorithm>
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

size_t AsciiPrefix(std::string_view text) {
  size_t i = AsciiRun(text.data(), text.size());
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

size_t NarrowAscii(const char16_t* text, size_t n, char* dest) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8));
    const __m128i over = _mm_and_si128(_mm_or_si128(a, b), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_packus_epi16(a, b));
    i += 16;
  }
#else
  while (i + 8 <= n) {
    uint64_t a, b;
    std::memcpy(&a, text + i, 8);
    std::memcpy(&b, text + i + 4, 8);
    if (((a | b) & 0xFF80FF80FF80FF80ull) != 0) break;
    for (size_t k = 0; k < 8; ++k) dest[i + k] = static_cast<char>(text[i + k]);
    i += 8;
  }
#endif
  while (i < n && text[i] < 0x80) {
    dest[i] = static_cast<char>(text[i]);
    ++i;
  }
  return i;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // Every unit gives at least one byte, so the output is sized for that
  // once and grows only for characters that need more. A page's whole
  // output passes through here, and is mostly ASCII.
  const size_t size = text.size();
  std::string out(size, '\0');
  size_t o = 0;
  size_t i = 0;
  while (i < size) {
    const size_t run = NarrowAscii(text.data() + i, size - i, out.data() + o);
    i += run;
    o += run;
    if (i == size) break;
    char32_t c = text[i];
    size_t used = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      used = 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    i += used;
    const size_t bytes = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    const size_t need = o + bytes + (size - i);
    if (need > out.size()) out.resize(std::max(need, out.size() + out.size() / 2));
    char* d = out.data() + o;
    if (bytes == 2) {
      d[0] = static_cast<char>(0xC0 | (c >> 6));
      d[1] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (bytes == 3) {
      d[0] = static_cast<char>(0xE0 | (c >> 12));
      d[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      d[2] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      d[0] = static_cast<char>(0xF0 | (c >> 18));
      d[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      d[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      d[3] = static_cast<char>(0x80 | (c & 0x3F));
    }
    o += bytes;
  }
  out.resize(o);
  return out;
}

}  // namespace quill::core

// Conversion between the engine's extended UTF-8 and UTF-16.
#include "host/asp/duk_text.h"

#include <cstdint>
#include <cstring>

#include "base/utf8.h"

namespace quill::asp {

namespace {

// Decodes the sequence at bytes[i]; answers its length in bytes and stores
// the code point (U+FFFD for a byte that starts no valid sequence).
size_t DecodeOne(std::string_view bytes, size_t i, char32_t* cp) noexcept {
  const unsigned char c = static_cast<unsigned char>(bytes[i]);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t len = 0;
  char32_t value = 0;
  char32_t min = 0;
  if ((c & 0xE0) == 0xC0) {
    len = 2, value = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, value = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, value = c & 0x07, min = 0x10000;
  }
  bool ok = len != 0 && i + len <= bytes.size();
  for (size_t k = 1; ok && k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ok = false;
    } else {
      value = (value << 6) | (cc & 0x3F);
    }
  }
  if (!ok || value < min || value > 0x10FFFF) {
    *cp = 0xFFFD;
    return 1;
  }
  *cp = value;  // surrogates included, as the engine keeps them
  return len;
}

// The number of ASCII bytes from bytes[i] on.
size_t AsciiRun(std::string_view bytes, size_t i) noexcept {
  return core::AsciiPrefix(bytes.substr(i));
}

}  // namespace

size_t DukDecodedLength(std::string_view bytes) noexcept {
  size_t units = 0;
  for (size_t i = 0; i < bytes.size();) {
    const size_t run = AsciiRun(bytes, i);
    units += run;
    i += run;
    if (i == bytes.size()) break;
    char32_t cp = 0;
    i += DecodeOne(bytes, i, &cp);
    units += cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

void DukDecode(std::string_view bytes, char16_t* out) noexcept {
  for (size_t i = 0; i < bytes.size();) {
    const size_t run = AsciiRun(bytes, i);
    for (size_t k = 0; k < run; ++k) out[k] = static_cast<unsigned char>(bytes[i + k]);
    out += run;
    i += run;
    if (i == bytes.size()) break;
    char32_t cp = 0;
    i += DecodeOne(bytes, i, &cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(cp);
    }
  }
}

size_t DukEncodedLength(std::u16string_view text) noexcept {
  size_t bytes = 0;
  for (const char16_t u : text) bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
  return bytes;
}

size_t DukEncode(std::u16string_view text, char* out) noexcept {
  char* const start = out;
  const char16_t* p = text.data();
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    // ASCII, byte for byte, in blocks; then the run of other units.
    const size_t run = core::NarrowAscii(p + i, n - i, out);
    i += run;
    out += run;
    for (; i < n && p[i] >= 0x80; ++i) {
      const char16_t u = p[i];
      if (u < 0x800) {
        *out++ = static_cast<char>(0xC0 | (u >> 6));
        *out++ = static_cast<char>(0x80 | (u & 0x3F));
      } else {
        *out++ = static_cast<char>(0xE0 | (u >> 12));
        *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (u & 0x3F));
      }
    }
  }
  return static_cast<size_t>(out - start);
}

std::u16string DukToUtf16(std::string_view bytes) {
  std::u16string out(DukDecodedLength(bytes), u'\0');
  DukDecode(bytes, out.data());
  return out;
}

std::string Utf16ToDuk(std::u16string_view text) {
  std::string out(DukEncodedLength(text), '\0');
  DukEncode(text, out.data());
  return out;
}

std::string_view DukAsUtf8(std::string_view bytes, std::string* scratch) {
  // Plain ASCII, by far the common case, needs no conversion; otherwise
  // the ASCII prefix is kept as it is (no sequence spans an ASCII byte, so
  // the rest converts on its own to the same text).
  const size_t ascii = AsciiRun(bytes, 0);
  if (ascii == bytes.size()) return bytes;
  scratch->assign(bytes.data(), ascii);
  scratch->append(Utf16ToUtf8(DukToUtf16(bytes.substr(ascii))));
  return *scratch;
}

std::string DukToUtf8(std::string_view bytes) {
  std::string out;
  if (DukAsUtf8(bytes, &out).data() != out.data()) out.assign(bytes);
  return out;
}

std::string Utf8ToDuk(std::string_view text) {
  bool ascii = true;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(text);
  return Utf16ToDuk(Utf8ToUtf16(text));
}

}  // namespace quill::asp

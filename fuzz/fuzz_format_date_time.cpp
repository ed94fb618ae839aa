// Fuzzes FormatDateTime with any format bytes and any date value. The first
// input byte picks how the value is made (its eight bytes as a double, one of
// the edge values, or a day number and a fraction taken from the input);
// the rest is the format. Checked: no exception escapes, the result is cut
// after 256 bytes, a well-formed UTF-8 format gives a well-formed UTF-8
// result (the format's letters are replaced by ASCII, the regional English
// texts are ASCII, and the cut never splits a sequence), and the empty format
// writes what "C" writes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "base/format_date_time.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    char32_t v = 0, min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2, v = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3, v = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4, v = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      v = (v << 6) | (b & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

constexpr double kEdgeValues[] = {
    0.0,
    -0.0,
    1.0,
    -1.25,  // 1899-12-29 06:00
    -0.5,
    0.999999999,
    36526.5,
    2958465.99999999,  // 9999-12-31 late
    2958466.0,         // just past 9999
    -657434.0,         // 0100-01-01
    -693593.0,         // 0001-01-01
    -693594.0,         // the day before 0001-01-01
    -693595.5,
    1e300,
    -1e300,
    std::numeric_limits<double>::max(),
    std::numeric_limits<double>::lowest(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::signaling_NaN(),
    9.2233720368547758e18,
    2147483648.0,
    -2147483649.0,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;

  double value = 0;
  switch (selector % 3) {
    case 0:  // eight raw bytes
      if (size >= 8) {
        std::memcpy(&value, data, 8);
        data += 8;
        size -= 8;
      }
      break;
    case 1:  // an edge value
      value = kEdgeValues[(selector / 3) % (sizeof kEdgeValues / sizeof kEdgeValues[0])];
      break;
    default: {  // a signed day number and a fraction of a day
      if (size >= 4) {
        int16_t day = 0;
        uint16_t part = 0;
        std::memcpy(&day, data, 2);
        std::memcpy(&part, data + 2, 2);
        data += 4;
        size -= 4;
        const double fraction = part / 65536.0;
        value = static_cast<double>(day) * 64.0 + (day < 0 ? -fraction : fraction);
      }
      break;
    }
  }

  // The format in a heap buffer of exactly its size, so that a read past its
  // end is reported.
  std::string format(reinterpret_cast<const char*>(data), size);
  std::string result;
  try {
    result = quill::FormatDateTime(format, value);
  } catch (...) {
    Check(false);  // documented never to fail
  }
  Check(result.size() <= 256);
  if (IsUtf8(format)) Check(IsUtf8(result));
  if (format.empty()) Check(result == quill::FormatDateTime("C", value));
  return 0;
}

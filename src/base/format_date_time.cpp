// The date-time format language.
//
// A format text is first cut into tokens, then written. The two passes exist
// because two rules look beyond the character at hand: an M directly after
// an H (ignoring non-letters and quoted text) means minutes, and an hour is
// written on the 12-hour clock when an AM/PM marker follows it before the
// next hour or came anywhere before it. Tokens make both rules see the
// format exactly as the writer does, so "hh'AM/PM'" (a quoted marker) or
// "h AAAM/PM" (a day name, then month, separator, P and month again, though
// "AM/PM" can be read inside it) cannot fool one pass and not the other.
//
// Regional formats (C, DDDDD, DDDDDD, T, TT) are written by the same code
// one nesting level down. At the deepest level their letters are copied as
// written instead, so settings whose short date format names itself still
// end. Output stops growing once it passes the cut length; every format
// text, however long or odd, yields a result.
#include "base/format_date_time.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/utf8.h"

namespace quill {

namespace {

// Regional formats nest at most this deep below the caller's format.
constexpr int kMaxNesting = 2;
// The result is cut after this many bytes, at a UTF-8 sequence boundary.
constexpr size_t kMaxResult = 256;
// Writing stops a little past the cut, so that a sequence that the cut
// falls into is complete and recognised as one.
constexpr size_t kStopWriting = kMaxResult + 4;

enum class Kind : uint8_t {
  kText,           // copied as it stands
  kDateTime,       // C
  kDay,            // D..DDDDDD
  kMonth,          // M..MMMM
  kYear,           // Y..YYYY
  kHour,           // H, HH
  kMinute,         // N, NN, or M, MM after an H
  kSecond,         // S, SS
  kMSec,           // Z, ZZ, ZZZ
  kTime,           // T, TT
  kAmPm,           // AM/PM in the case written
  kAP,             // A/P in the case written
  kAmPmRegional,   // AMPM
  kDayName,        // AAA, AAAA
  kEraYear,        // E
  kEraName,        // G
  kDateSeparator,  // /
  kTimeSeparator,  // :
};

struct Token {
  Kind kind;
  int count;              // length of the run of the same character
  std::string_view text;  // kText: what to copy; otherwise the characters as written
  bool twelve_hour = false;  // kHour only
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (ToUpper(text[pos + i]) != word[i]) return false;
  }
  return true;
}

bool IsMarker(Kind kind) {
  return kind == Kind::kAmPm || kind == Kind::kAP || kind == Kind::kAmPmRegional;
}

std::vector<Token> Tokenize(std::string_view format) {
  std::vector<Token> tokens;
  char previous_letter = 0;  // upper case; the last letter outside quoted text
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    const char upper = ToUpper(c);

    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) close = format.size();
      tokens.push_back({Kind::kText, 1, format.substr(i + 1, close - i - 1)});
      i = close < format.size() ? close + 1 : close;
      continue;
    }
    if (upper == 'A') {
      struct Marker {
        std::string_view word;
        Kind kind;
      };
      static constexpr Marker kMarkers[] = {
          {"AM/PM", Kind::kAmPm}, {"A/P", Kind::kAP}, {"AMPM", Kind::kAmPmRegional}};
      bool matched = false;
      for (const Marker& marker : kMarkers) {
        if (StartsWithNoCase(format, i, marker.word)) {
          tokens.push_back({marker.kind, 1, format.substr(i, marker.word.size())});
          previous_letter = marker.word.back();
          i += marker.word.size();
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }

    size_t end = i + 1;
    while (end < format.size() && format[end] == c) ++end;
    // Any run this long already says "the longest form".
    const int count = static_cast<int>(std::min<size_t>(end - i, 64));
    const std::string_view run = format.substr(i, end - i);
    Kind kind = Kind::kText;
    switch (upper) {
      case 'C': kind = Kind::kDateTime; break;
      case 'D': kind = Kind::kDay; break;
      case 'M':
        kind = (count <= 2 && previous_letter == 'H') ? Kind::kMinute : Kind::kMonth;
        break;
      case 'Y': kind = Kind::kYear; break;
      case 'H': kind = Kind::kHour; break;
      case 'N': kind = Kind::kMinute; break;
      case 'S': kind = Kind::kSecond; break;
      case 'Z': kind = Kind::kMSec; break;
      case 'T': kind = Kind::kTime; break;
      case 'E': kind = Kind::kEraYear; break;
      case 'G': kind = Kind::kEraName; break;
      case 'A': kind = count >= 3 ? Kind::kDayName : Kind::kText; break;
      case '/': kind = Kind::kDateSeparator; break;
      case ':': kind = Kind::kTimeSeparator; break;
      default: break;
    }
    if (kind == Kind::kDateSeparator || kind == Kind::kTimeSeparator) {
      // Each separator character stands for one separator.
      for (size_t k = i; k < end; ++k) tokens.push_back({kind, 1, format.substr(k, 1)});
    } else {
      tokens.push_back({kind, count, run});
    }
    if (IsLetter(c)) previous_letter = upper;
    i = end;
  }

  // An hour is on the 12-hour clock when a marker came earlier, or when one
  // follows before the next hour.
  bool marker_seen = false;
  for (size_t t = 0; t < tokens.size(); ++t) {
    if (IsMarker(tokens[t].kind)) {
      marker_seen = true;
    } else if (tokens[t].kind == Kind::kHour) {
      bool twelve = marker_seen;
      for (size_t u = t + 1; !twelve && u < tokens.size() && tokens[u].kind != Kind::kHour; ++u) {
        twelve = IsMarker(tokens[u].kind);
      }
      tokens[t].twelve_hour = twelve;
    }
  }
  return tokens;
}

// Index into a table of names; a value outside the calendar (decoded as
// month 0, weekday 0) has no name rather than reading outside the table.
template <size_t N>
std::string_view NameAt(const std::array<std::string, N>& names, int one_based) {
  if (one_based < 1 || one_based > static_cast<int>(N)) return {};
  return names[one_based - 1];
}

// Formats are few and used for many values (a date column's display
// texts), so each thread keeps the tokens of the formats it used last. The
// tokens point into the cached copy of their text.
constexpr size_t kMaxCachedFormat = 256;
constexpr size_t kMaxCachedFormats = 16;

struct CachedFormat {
  std::string text;
  std::vector<Token> tokens;
};

thread_local std::vector<std::unique_ptr<CachedFormat>> format_cache;

// Called once per FormatDateTime before any lookup: a nested Write must
// never drop the tokens an outer one still walks, and one call adds at
// most the caller's format and the regional ones.
void TrimFormatCache() {
  if (format_cache.size() >= kMaxCachedFormats) format_cache.clear();
}

const std::vector<Token>& CachedTokens(std::string_view format) {
  for (const auto& cached : format_cache) {
    if (cached->text == format) return cached->tokens;
  }
  auto cached = std::make_unique<CachedFormat>();
  cached->text.assign(format);
  cached->tokens = Tokenize(cached->text);
  format_cache.push_back(std::move(cached));
  return format_cache.back()->tokens;
}

class Writer {
 public:
  Writer(const TFormatSettings& settings, TDateTime value)
      : settings_(settings), date_(DecodeDate(value)), time_(DecodeTime(value)) {
    out_.reserve(32);  // a date and a time with their separators, in one allocation
  }

  void Write(std::string_view format, int depth) {
    assert(depth >= 0 && depth <= kMaxNesting);
    if (format.size() > kMaxCachedFormat) {
      WriteTokens(Tokenize(format), depth);
    } else {
      WriteTokens(CachedTokens(format), depth);
    }
  }

  // The text written, cut after kMaxResult bytes without splitting a UTF-8
  // sequence.
  std::string Result() && {
    if (out_.size() > kMaxResult) out_.resize(Utf8PrefixBytes(out_, kMaxResult).size());
    return std::move(out_);
  }

 private:
  void WriteTokens(const std::vector<Token>& tokens, int depth) {
    for (const Token& token : tokens) {
      if (out_.size() >= kStopWriting) return;
      WriteToken(token, depth);
    }
  }

  // The decimal text of `value` (a minus sign counted as a digit), padded
  // in front with zeros to `min_digits`.
  void Number(int value, int min_digits) {
    char digits[12];
    char* end = digits + sizeof digits;
    char* p = end;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    const int length = static_cast<int>(end - p);
    if (length < min_digits) out_.append(static_cast<size_t>(min_digits - length), '0');
    out_.append(p, static_cast<size_t>(length));
  }

  // A regional format one level down, or the specifier's own letters at the
  // deepest level.
  void Nested(const std::string& format, const Token& token, int depth) {
    if (depth < kMaxNesting) {
      Write(format, depth + 1);
    } else {
      out_ += token.text;
    }
  }

  void WriteToken(const Token& token, int depth) {
    const int count = token.count;
    switch (token.kind) {
      case Kind::kText:
        out_ += token.text;
        break;
      case Kind::kDateTime:
        if (depth < kMaxNesting) {
          Write(settings_.ShortDateFormat, depth + 1);
          if (time_.Hour != 0 || time_.Minute != 0 || time_.Second != 0) {
            out_ += ' ';
            Write(settings_.LongTimeFormat, depth + 1);
          }
        } else {
          out_ += token.text;
        }
        break;
      case Kind::kDay:
        if (count <= 2) {
          Number(date_.Day, count);
        } else if (count == 3) {
          out_ += NameAt(settings_.ShortDayNames, date_.DayOfWeek);
        } else if (count == 4) {
          out_ += NameAt(settings_.LongDayNames, date_.DayOfWeek);
        } else if (count == 5) {
          Nested(settings_.ShortDateFormat, token, depth);
        } else {
          Nested(settings_.LongDateFormat, token, depth);
        }
        break;
      case Kind::kMonth:
        if (count <= 2) {
          Number(date_.Month, count);
        } else if (count == 3) {
          out_ += NameAt(settings_.ShortMonthNames, date_.Month);
        } else {
          out_ += NameAt(settings_.LongMonthNames, date_.Month);
        }
        break;
      case Kind::kYear:
        if (count <= 2) {
          Number(date_.Year % 100, 2);
        } else {
          Number(date_.Year, 4);
        }
        break;
      case Kind::kHour: {
        int hour = time_.Hour;
        if (token.twelve_hour) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        Number(hour, count >= 2 ? 2 : 1);
        break;
      }
      case Kind::kMinute:
        Number(time_.Minute, count >= 2 ? 2 : 1);
        break;
      case Kind::kSecond:
        Number(time_.Second, count >= 2 ? 2 : 1);
        break;
      case Kind::kMSec:
        Number(time_.MSec, count >= 3 ? 3 : count);
        break;
      case Kind::kTime:
        Nested(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, token, depth);
        break;
      case Kind::kAmPm:
        assert(token.text.size() == 5);
        out_ += time_.Hour < 12 ? token.text.substr(0, 2) : token.text.substr(3, 2);
        break;
      case Kind::kAP:
        assert(token.text.size() == 3);
        out_ += time_.Hour < 12 ? token.text[0] : token.text[2];
        break;
      case Kind::kAmPmRegional:
        out_ += time_.Hour < 12 ? settings_.TimeAMString : settings_.TimePMString;
        break;
      case Kind::kDayName:
        out_ += NameAt(count == 3 ? settings_.ShortDayNames : settings_.LongDayNames,
                       date_.DayOfWeek);
        break;
      case Kind::kEraYear:
        // The Gregorian calendar's one era starts with year 1, so the year
        // of the era is the year.
        Number(date_.Year, count >= 2 ? 2 : 1);
        break;
      case Kind::kEraName:
        out_ += settings_.EraName;
        break;
      case Kind::kDateSeparator:
        out_ += settings_.DateSeparator;
        break;
      case Kind::kTimeSeparator:
        out_ += settings_.TimeSeparator;
        break;
    }
  }

  const TFormatSettings& settings_;
  const DateParts date_;
  const TimeParts time_;
  std::string out_;
};

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings) {
  TrimFormatCache();
  Writer writer(settings, value);
  writer.Write(format.empty() ? std::string_view("C") : format, 0);
  return std::move(writer).Result();
}

std::string DateToStr(TDateTime value) { return FormatDateTime("ddddd", value); }

std::string TimeToStr(TDateTime value) { return FormatDateTime("tt", value); }

std::string DateTimeToStr(TDateTime value) { return FormatDateTime("c", value); }

}  // namespace quill

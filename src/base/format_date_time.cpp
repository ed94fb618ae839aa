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
// Tokens are then compiled into a flat list of steps for one set of
// settings: regional formats (C, DDDDD, DDDDDD, T, TT) are tokenized one
// nesting level down and inlined, separators become literal text, and the
// time part of C becomes a step that skips it at midnight. At the deepest
// level the regional specifiers' letters are copied as written instead, so
// settings whose short date format names itself still end. Writing a value
// is then one pass over the steps into a buffer on the stack, the date
// decoded once: a date column's display texts cost no tokenizing, no
// lookup and no allocation beyond the result's.
//
// Output stops growing once it passes the cut length, so compiling stops
// at the first step that could never be reached, and every format text,
// however long or odd, yields a result.
#include "base/format_date_time.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/shared_text_cache.h"
#include "base/utf8.h"
#include "platform/core/civil_date.h"

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

// What a kNumber step writes: an index into the numbers of a value.
enum Number : uint8_t { kNDay, kNMonth, kNYear, kNYear2, kNHour, kNHour12, kNMinute, kNSecond,
                        kNMSec, kNumberCount };
// What a kName step's index is (its `digits`).
enum NameIndex : uint8_t { kByDayOfWeek, kByMonth };

// Texts longer than the writing ever gets are kept only that long.
std::string_view Clamp(std::string_view text) { return text.substr(0, kStopWriting); }

// Short texts are copied as one 8-byte word: literals_ ends in this much
// padding and the buffer has this much slack.
constexpr size_t kWord = 8;

// "00" to "99".
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes `value` (0..9999) padded in front with zeros to `min_digits`
// (at most 4); answers the new end.
inline char* PutNumber(char* p, unsigned value, unsigned min_digits) {
  assert(value <= 9999 && min_digits <= 4);
  if (value < 10 && min_digits <= 1) {
    *p = static_cast<char>('0' + value);
    return p + 1;
  }
  if (value < 100 && min_digits == 2) {
    std::memcpy(p, &kDigitPairs[2 * value], 2);
    return p + 2;
  }
  const unsigned length = value < 10 ? 1 : value < 100 ? 2 : value < 1000 ? 3 : 4;
  // Four digits with leading zeros, of which the last `width` are kept.
  char digits[4];
  std::memcpy(digits, &kDigitPairs[2 * (value / 100)], 2);
  std::memcpy(digits + 2, &kDigitPairs[2 * (value % 100)], 2);
  switch (std::max(length, min_digits)) {
    case 1: *p = digits[3]; return p + 1;
    case 2: std::memcpy(p, digits + 2, 2); return p + 2;
    case 3: std::memcpy(p, digits + 1, 3); return p + 3;
    default: std::memcpy(p, digits, 4); return p + 4;
  }
}

// Copies `length` bytes of `text` to p, never past `stop`; answers the new
// end.
inline char* PutClamped(char* p, const char* stop, const char* text, size_t length) {
  length = std::min(length, static_cast<size_t>(stop - p));
  std::memcpy(p, text, length);
  return p + length;
}

// Copies `length` bytes of `text` to p, which has room for them and kWord
// more; `text` may be read kWord bytes on. Answers the new end.
inline char* PutPadded(char* p, const char* text, size_t length) {
  if (length <= kWord) {
    std::memcpy(p, text, kWord);
  } else {
    std::memcpy(p, text, length);
  }
  return p + length;
}

// The calendar date of a day number (0001-01-01 is 1), as DecodeDate
// gives it: zero parts for day 0, which is no date.
DateParts DayNumberToDate(int32_t day_number) {
  if (day_number < 1) return {};
  int64_t year = 0;
  unsigned month = 0, day = 0;
  core::CivilFromDays(day_number - kDateDelta + core::kDateOriginDays, &year, &month, &day);
  // 0001-01-01 was a Monday (2 when Sunday is 1).
  return DateParts{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                   day_number % 7 + 1};
}

// The time of day of milliseconds since midnight, as DecodeTime gives it.
TimeParts MSecsToTime(int32_t ms) {
  assert(ms >= 0 && ms < kMSecsPerDay);
  const int32_t seconds = ms / 1000;
  const int32_t minutes = seconds / 60;
  return TimeParts{minutes / 60, minutes % 60, seconds % 60, ms % 1000};
}

}  // namespace

// Builds the steps of a TDateTimeFormat. Each Add answers how many bytes
// its steps surely write (the least any value gives), so that steps that
// could only run after the writing stopped are never made.
class TDateTimeFormatCompiler {
 public:
  TDateTimeFormatCompiler(TDateTimeFormat& format, const TFormatSettings& settings)
      : format_(format), settings_(settings) {}

  // Appends the steps of `text` at nesting `depth`, where `before` bytes are
  // sure to be written already.
  size_t Add(std::string_view text, int depth, size_t before) {
    assert(depth >= 0 && depth <= kMaxNesting);
    const std::vector<Token> tokens = Tokenize(text);
    size_t sure = 0;
    for (const Token& token : tokens) {
      if (before + sure >= kStopWriting) break;
      sure += AddToken(token, depth, before + sure);
    }
    return sure;
  }

  // Pads the literals and tells whether any value's text stays below the
  // cut.
  void Finish() {
    size_t longest = 0;
    for (const Step& step : format_.steps_) {
      longest += step.length;
      switch (step.op) {
        case Op::kNumber: longest += 4; break;
        case Op::kName:
          for (uint32_t k = 0; k < step.what; ++k) {
            name_longest_ = std::max<size_t>(name_longest_, format_.names_[step.other + k].length);
          }
          longest += name_longest_;
          break;
        case Op::kChoose: longest += step.other_length; break;
        default: break;
      }
    }
    format_.bounded_ = longest < kStopWriting;
    for (const Step& step : format_.steps_) {
      if (step.op == Op::kNumber) {
        (step.what <= kNYear2 ? format_.needs_date_ : format_.needs_time_) = true;
      } else if (step.op == Op::kName) {
        format_.needs_date_ = true;
      } else if (step.op != Op::kText) {
        format_.needs_time_ = true;
      }
    }
    format_.literals_.append(kWord, '\0');
    format_.shape_ = ShapeOf(format_.steps_);
  }

 private:
  using Op = TDateTimeFormat::Op;
  using Step = TDateTimeFormat::Step;

  using Shape = TDateTimeFormat::Shape;

  static bool IsNumber(const Step& step, Number what, int digits, size_t suffix) {
    return step.op == Op::kNumber && step.what == what && step.digits == digits &&
           step.length == suffix;
  }
  // m/d/yyyy with any one-byte separators.
  static bool IsDate(const Step* steps) {
    return IsNumber(steps[0], kNMonth, 1, 1) && IsNumber(steps[1], kNDay, 1, 1) &&
           IsNumber(steps[2], kNYear, 4, 0);
  }
  // h:nn:ss, a one-byte text and a choice of morning and afternoon texts
  // of at most kWord bytes.
  static bool IsTime(const Step* steps) {
    return IsNumber(steps[0], kNHour12, 1, 1) && IsNumber(steps[1], kNMinute, 2, 1) &&
           IsNumber(steps[2], kNSecond, 2, 1) && steps[3].op == Op::kChoose &&
           steps[3].length <= kWord && steps[3].other_length <= kWord;
  }
  static Shape ShapeOf(const std::vector<Step>& steps) {
    if (steps.size() == 3 && IsDate(steps.data())) return Shape::kDate;
    if (steps.size() == 4 && IsTime(steps.data())) return Shape::kTime;
    if (steps.size() == 8 && IsDate(steps.data()) && steps[3].op == Op::kIfTime &&
        steps[3].other == 4 && steps[3].length == 1 && IsTime(steps.data() + 4)) {
      return Shape::kDateTime;
    }
    return Shape::kSteps;
  }

  uint32_t AddLiteral(std::string_view text) {
    const auto at = static_cast<uint32_t>(format_.literals_.size());
    format_.literals_.append(text);
    return at;
  }

  size_t AddText(std::string_view text) {
    text = Clamp(text);
    if (text.empty()) return 0;
    auto& steps = format_.steps_;
    // The text ends the step before when nothing can jump between them.
    if (steps.size() > barrier_ && steps.back().op != Op::kChoose &&
        steps.back().length + text.size() <= kStopWriting) {
      Step& last = steps.back();
      if (last.length == 0) {
        last.at = AddLiteral(text);
        last.length = static_cast<uint16_t>(text.size());
        return text.size();
      }
      if (last.at + last.length == format_.literals_.size()) {
        AddLiteral(text);
        last.length = static_cast<uint16_t>(last.length + text.size());
        return text.size();
      }
    }
    Step step{Op::kText};
    step.at = AddLiteral(text);
    step.length = static_cast<uint16_t>(text.size());
    steps.push_back(step);
    return text.size();
  }

  size_t AddNumber(Number what, int digits) {
    Step step{Op::kNumber};
    step.what = what;
    step.digits = static_cast<uint8_t>(digits);
    format_.steps_.push_back(step);
    return static_cast<size_t>(std::max(digits, 1));
  }

  template <size_t N>
  size_t AddName(const std::array<std::string, N>& table, NameIndex index) {
    Step step{Op::kName};
    step.what = static_cast<uint8_t>(N);
    step.digits = index;
    // Each table is copied once, however many steps use it.
    const auto found = std::find(tables_.begin(), tables_.end(), table.data());
    if (found != tables_.end()) {
      step.other = table_at_[static_cast<size_t>(found - tables_.begin())];
    } else {
      step.other = static_cast<uint32_t>(format_.names_.size());
      for (const std::string& name : table) {
        const std::string_view text = Clamp(name);
        format_.names_.push_back({AddLiteral(text), static_cast<uint16_t>(text.size())});
      }
      tables_.push_back(table.data());
      table_at_.push_back(step.other);
    }
    format_.steps_.push_back(step);
    return 0;  // names may be empty
  }

  size_t AddChoice(std::string_view am, std::string_view pm) {
    am = Clamp(am);
    pm = Clamp(pm);
    Step step{Op::kChoose};
    step.at = AddLiteral(am);
    step.length = static_cast<uint16_t>(am.size());
    step.other = AddLiteral(pm);
    step.other_length = static_cast<uint16_t>(pm.size());
    format_.steps_.push_back(step);
    return std::min(am.size(), pm.size());
  }

  // A regional format one level down, or the specifier's own letters at
  // the deepest level.
  size_t AddNested(const std::string& text, const Token& token, int depth, size_t before) {
    return depth < kMaxNesting ? Add(text, depth + 1, before) : AddText(token.text);
  }

  size_t AddToken(const Token& token, int depth, size_t before) {
    const int count = token.count;
    switch (token.kind) {
      case Kind::kText:
        return AddText(token.text);
      case Kind::kDateTime: {
        if (depth >= kMaxNesting) return AddText(token.text);
        const size_t sure = Add(settings_.ShortDateFormat, depth + 1, before);
        auto& steps = format_.steps_;
        const size_t skip_at = steps.size();
        steps.push_back(Step{Op::kIfTime});
        const size_t blank = AddText(" ");
        Add(settings_.LongTimeFormat, depth + 1, before + sure + blank);
        steps[skip_at].other = static_cast<uint32_t>(steps.size() - skip_at - 1);
        barrier_ = steps.size();
        return sure;  // the time part may be skipped
      }
      case Kind::kDay:
        if (count <= 2) return AddNumber(kNDay, count);
        if (count == 3) return AddName(settings_.ShortDayNames, kByDayOfWeek);
        if (count == 4) return AddName(settings_.LongDayNames, kByDayOfWeek);
        return AddNested(count == 5 ? settings_.ShortDateFormat : settings_.LongDateFormat, token,
                         depth, before);
      case Kind::kMonth:
        if (count <= 2) return AddNumber(kNMonth, count);
        return count == 3 ? AddName(settings_.ShortMonthNames, kByMonth)
                          : AddName(settings_.LongMonthNames, kByMonth);
      case Kind::kYear:
        return count <= 2 ? AddNumber(kNYear2, 2) : AddNumber(kNYear, 4);
      case Kind::kHour:
        return AddNumber(token.twelve_hour ? kNHour12 : kNHour, count >= 2 ? 2 : 1);
      case Kind::kMinute:
        return AddNumber(kNMinute, count >= 2 ? 2 : 1);
      case Kind::kSecond:
        return AddNumber(kNSecond, count >= 2 ? 2 : 1);
      case Kind::kMSec:
        return AddNumber(kNMSec, count >= 3 ? 3 : count);
      case Kind::kTime:
        return AddNested(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, token,
                         depth, before);
      case Kind::kAmPm:
        assert(token.text.size() == 5);
        return AddChoice(token.text.substr(0, 2), token.text.substr(3, 2));
      case Kind::kAP:
        assert(token.text.size() == 3);
        return AddChoice(token.text.substr(0, 1), token.text.substr(2, 1));
      case Kind::kAmPmRegional:
        return AddChoice(settings_.TimeAMString, settings_.TimePMString);
      case Kind::kDayName:
        return count == 3 ? AddName(settings_.ShortDayNames, kByDayOfWeek)
                          : AddName(settings_.LongDayNames, kByDayOfWeek);
      case Kind::kEraYear:
        // The Gregorian calendar's one era starts with year 1, so the year
        // of the era is the year.
        return AddNumber(kNYear, count >= 2 ? 2 : 1);
      case Kind::kEraName:
        return AddText(settings_.EraName);
      case Kind::kDateSeparator:
        return AddText(std::string_view(&settings_.DateSeparator, 1));
      case Kind::kTimeSeparator:
        return AddText(std::string_view(&settings_.TimeSeparator, 1));
    }
    return 0;
  }

  TDateTimeFormat& format_;
  const TFormatSettings& settings_;
  // Steps before this index may be jumped over: no text joins them.
  size_t barrier_ = 0;
  size_t name_longest_ = 0;
  // The name tables copied so far, and where each begins in names_.
  std::vector<const std::string*> tables_;
  std::vector<uint32_t> table_at_;
};

TDateTimeFormat::TDateTimeFormat(std::string_view format, const TFormatSettings& settings)
    : text_(format) {
  TDateTimeFormatCompiler compiler(*this, settings);
  compiler.Add(format.empty() ? std::string_view("C") : format, 0, 0);
  compiler.Finish();
}

// Writes the steps for `date` and `time` into `buffer` (kStopWriting +
// 2 * kWord bytes) and answers the length. Bounded: no text can reach the
// cut, so nothing is checked. Otherwise the writing stops once the cut is
// passed, with every text clamped there (numbers may pass it a little).
template <bool kBounded>
size_t TDateTimeFormat::Write(const DateParts& date, const TimeParts& time, char* buffer) const {
  const int hour12 = time.Hour % 12 == 0 ? 12 : time.Hour % 12;
  const unsigned numbers[kNumberCount] = {
      static_cast<unsigned>(date.Day),    static_cast<unsigned>(date.Month),
      static_cast<unsigned>(date.Year),   static_cast<unsigned>(date.Year % 100),
      static_cast<unsigned>(time.Hour),   static_cast<unsigned>(hour12),
      static_cast<unsigned>(time.Minute), static_cast<unsigned>(time.Second),
      static_cast<unsigned>(time.MSec)};
  const bool midnight = time.Hour == 0 && time.Minute == 0 && time.Second == 0;
  const bool before_noon = time.Hour < 12;
  const char* const literals = literals_.data();
  char* p = buffer;
  const char* const stop = buffer + kStopWriting;
  auto put = [&](uint32_t at, size_t length) {
    p = kBounded ? PutPadded(p, literals + at, length) : PutClamped(p, stop, literals + at, length);
  };
  const Step* const steps = steps_.data();
  const size_t count = steps_.size();
  for (size_t i = 0; i < count; ++i) {
    if (!kBounded && p >= stop) break;
    const Step& step = steps[i];
    switch (step.op) {
      case Op::kText:
        break;
      case Op::kNumber:
        p = PutNumber(p, numbers[step.what], step.digits);
        break;
      case Op::kName: {
        // A value outside the calendar (month 0, weekday 0) has no name.
        const unsigned index =
            static_cast<unsigned>(step.digits == kByMonth ? date.Month : date.DayOfWeek);
        if (index >= 1 && index <= step.what) {
          const Name& name = names_[step.other + index - 1];
          put(name.at, name.length);
        }
        break;
      }
      case Op::kChoose:
        if (before_noon) {
          put(step.at, step.length);
        } else {
          put(step.other, step.other_length);
        }
        continue;  // no text of its own follows
      case Op::kIfTime:
        if (midnight) {
          i += step.other;
          continue;
        }
        break;
    }
    if (step.length != 0 && (kBounded || p < stop)) put(step.at, step.length);
  }
  return static_cast<size_t>(p - buffer);
}

size_t TDateTimeFormat::WriteShape(const DateParts& date, const TimeParts& time,
                                   char* buffer) const {
  // What Write<true> makes of the same steps, without walking them.
  const Step* const steps = steps_.data();
  const char* const literals = literals_.data();
  char* p = buffer;
  if (shape_ != Shape::kTime) {
    p = PutNumber(p, static_cast<unsigned>(date.Month), 1);
    *p++ = literals[steps[0].at];
    p = PutNumber(p, static_cast<unsigned>(date.Day), 1);
    *p++ = literals[steps[1].at];
    p = PutNumber(p, static_cast<unsigned>(date.Year), 4);
    if (shape_ == Shape::kDate || (time.Hour == 0 && time.Minute == 0 && time.Second == 0)) {
      return static_cast<size_t>(p - buffer);
    }
    *p++ = literals[steps[3].at];
  }
  const Step* const clock = shape_ == Shape::kTime ? steps : steps + 4;
  p = PutNumber(p, static_cast<unsigned>(time.Hour % 12 == 0 ? 12 : time.Hour % 12), 1);
  *p++ = literals[clock[0].at];
  std::memcpy(p, &kDigitPairs[2 * static_cast<unsigned>(time.Minute)], 2);
  p[2] = literals[clock[1].at];
  std::memcpy(p + 3, &kDigitPairs[2 * static_cast<unsigned>(time.Second)], 2);
  p[5] = literals[clock[2].at];
  p += 6;
  const Step& choice = clock[3];
  p = time.Hour < 12 ? PutPadded(p, literals + choice.at, choice.length)
                     : PutPadded(p, literals + choice.other, choice.other_length);
  return static_cast<size_t>(p - buffer);
}

void TDateTimeFormat::Format(TDateTime value, std::string* out) const {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  // A date's text needs no time of day, a time's no calendar.
  Format(needs_date_ ? DayNumberToDate(stamp.Date) : DateParts{},
         needs_time_ ? MSecsToTime(stamp.Time) : TimeParts{}, out);
}

void TDateTimeFormat::Format(const DateParts& date, const TimeParts& time,
                             std::string* out) const {
  char buffer[kStopWriting + 2 * kWord];
  const size_t length = shape_ != Shape::kSteps ? WriteShape(date, time, buffer)
                        : bounded_             ? Write<true>(date, time, buffer)
                                               : Write<false>(date, time, buffer);
  std::string_view text(buffer, length);
  if (text.size() > kMaxResult) text = Utf8PrefixBytes(text, kMaxResult);
  out->assign(text.data(), text.size());
}

std::string TDateTimeFormat::Format(TDateTime value) const {
  std::string out;
  Format(value, &out);
  return out;
}

namespace {

// Formats longer than this are compiled for their one call.
constexpr size_t kMaxCachedFormat = 256;
// The cache starts afresh when it holds this many formats; callers keep
// the ones they hold.
constexpr size_t kMaxCachedFormats = 64;

SharedTextCache<TDateTimeFormat>& RegionalFormats() {
  static auto* cache = new SharedTextCache<TDateTimeFormat>(kMaxCachedFormats);  // used from exit paths too
  return *cache;
}

const TDateTimeFormat& RegionalShortDate() {
  static const TDateTimeFormat format("ddddd", RegionalSettings());
  return format;
}

const TDateTimeFormat& RegionalLongTime() {
  static const TDateTimeFormat format("tt", RegionalSettings());
  return format;
}

const TDateTimeFormat& RegionalDateTime() {
  static const TDateTimeFormat format("c", RegionalSettings());
  return format;
}

}  // namespace

std::shared_ptr<const TDateTimeFormat> RegionalDateTimeFormat(std::string_view format) {
  if (format.size() > kMaxCachedFormat) {
    return std::make_shared<const TDateTimeFormat>(format, RegionalSettings());
  }
  return RegionalFormats().Get(
      format, [format] { return std::make_shared<const TDateTimeFormat>(format, RegionalSettings()); });
}

std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings) {
  if (&settings == &RegionalSettings()) return RegionalDateTimeFormat(format)->Format(value);
  return TDateTimeFormat(format, settings).Format(value);
}

std::string DateToStr(TDateTime value) { return RegionalShortDate().Format(value); }
std::string TimeToStr(TDateTime value) { return RegionalLongTime().Format(value); }
std::string DateTimeToStr(TDateTime value) { return RegionalDateTime().Format(value); }
void DateToStr(TDateTime value, std::string* out) { RegionalShortDate().Format(value, out); }
void TimeToStr(TDateTime value, std::string* out) { RegionalLongTime().Format(value, out); }
void DateTimeToStr(TDateTime value, std::string* out) { RegionalDateTime().Format(value, out); }
void DateToStr(const DateParts& date, std::string* out) {
  RegionalShortDate().Format(date, TimeParts{}, out);
}
void TimeToStr(const TimeParts& time, std::string* out) {
  static const DateParts day_zero = DecodeDate(0);
  RegionalLongTime().Format(day_zero, time, out);
}
void DateTimeToStr(const DateParts& date, const TimeParts& time, std::string* out) {
  RegionalDateTime().Format(date, time, out);
}

}  // namespace quill

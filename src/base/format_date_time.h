// The date-time format language shared by the script object's FormatDateTime
// and the display texts of date and time fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "base/regional_settings.h"

namespace quill {

// Formats `value` by `format`. Letters are recognised in either case; a
// specifier's count is the length of the run of the same character, same
// case ("yY" is two one-letter runs):
//   C             short date, then a blank and the long time when hour,
//                 minute or second is not zero (a run of C counts once)
//   D DD          day; DDD DDDD short/long day name; DDDDD short date,
//                 six or more D long date
//   M MM          month, or minutes when the nearest preceding ASCII letter
//                 outside quoted text is an H; MMM short name, MMMM+ long
//                 name (month names even after an H)
//   Y YY          two-digit year; YYY+ four digits
//   H HH          hour (HHH+ as HH), 12-hour (0 shows as 12) when an AM/PM,
//                 A/P or AMPM marker follows before the next H or came
//                 anywhere earlier in the same format text
//   N NN, S SS    minute, second (longer runs as NN, SS)
//   Z ZZ ZZZ      milliseconds with at least 1, 2, 3 digits (longer as ZZZ)
//   T TT          short / long time format (TTT+ as TT)
//   AM/PM A/P     the part before or after the slash (hour < 12 or not),
//                 in the case written; AMPM the regional designator
//   AAA AAAA      short / long day name (AAAAA+ long); A and AA are text
//   E EE          year of the era without / with at least two digits
//   G             era name (any run length)
//   / :           the regional separators, one per character
//   "..." '...'   literal text (an unclosed quote runs to the end)
//   anything else copied unchanged, byte for byte
// Regional formats inside C, DDDDD, DDDDDD, T and TT are expanded with the
// same language, nested at most two levels deep: inside a regional format
// that is itself nested, those specifiers are copied as written. The 12-hour
// and minute rules look only at the format text they occur in. An empty
// `format` behaves as "C" (an empty regional format writes nothing). A value
// outside the years 1..9999 writes its date as zero numbers and empty names.
// Never fails; the result is cut after 256 bytes, dropping a UTF-8 sequence
// that the cut would split.
std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings = RegionalSettings());

// The process's regional short date ("ddddd"), long time ("tt") and the
// combined "c" text. The forms with `out` replace its content, reusing its
// capacity.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
void DateToStr(TDateTime value, std::string* out);
void TimeToStr(TDateTime value, std::string* out);
void DateTimeToStr(TDateTime value, std::string* out);
// The same of a value already taken apart (see TDateTimeFormat::Format).
void DateToStr(const DateParts& date, std::string* out);
void TimeToStr(const TimeParts& time, std::string* out);
void DateTimeToStr(const DateParts& date, const TimeParts& time, std::string* out);

// A format text read once, to write many values: Format(value) is
// FormatDateTime(text, value, settings) without reading the text again.
// Immutable once built, so one object may serve several threads.
class TDateTimeFormat {
 public:
  // An empty `format` behaves as "C", as in FormatDateTime. What the text
  // needs of `settings` is copied: later changes to them are not seen.
  TDateTimeFormat(std::string_view format, const TFormatSettings& settings);
  TDateTimeFormat(const TDateTimeFormat&) = delete;
  TDateTimeFormat& operator=(const TDateTimeFormat&) = delete;

  // The format text as given.
  const std::string& Text() const { return text_; }
  std::string Format(TDateTime value) const;
  // Replaces the content of *out with Format(value), reusing its capacity.
  void Format(TDateTime value, std::string* out) const;
  // The same for a value already taken apart, as DecodeDate and DecodeTime
  // give it (a time of day writes the date of day 0, 1899-12-30).
  void Format(const DateParts& date, const TimeParts& time, std::string* out) const;

 private:
  friend class TDateTimeFormatCompiler;
  enum class Op : uint8_t { kText, kNumber, kName, kChoose, kIfTime };
  // One step of the writing. Every step but kChoose ends with the text
  // literals_[at, at + length) (for kText that text is all it writes).
  // kNumber writes number `what` with at least `digits` digits; kName the
  // entry of names_[other, other + what) that the day of the week or the
  // month (per `digits`) picks; kChoose literals_[at, at + length) before
  // noon, else literals_[other, other + other_length); kIfTime skips the
  // next `other` steps when hour, minute and second are all zero.
  struct Step {
    Op op;
    uint8_t what = 0;
    uint8_t digits = 0;
    uint16_t length = 0;
    uint16_t other_length = 0;
    uint32_t at = 0;
    uint32_t other = 0;
  };
  struct Name {
    uint32_t at;
    uint16_t length;
  };

  // The shape's writing; REQUIRES: shape_ is not kSteps.
  size_t WriteShape(const DateParts& date, const TimeParts& time, char* buffer) const;
  template <bool kBounded>
  size_t Write(const DateParts& date, const TimeParts& time, char* buffer) const;

  std::string text_;
  // Literal texts and names, followed by padding, so that short texts can
  // be copied as one word.
  std::string literals_;
  std::vector<Name> names_;
  std::vector<Step> steps_;
  // True when no value's text can reach the cut: writing needs no checks.
  bool bounded_ = false;
  // Whether any step writes a part of the date / of the time of day.
  bool needs_date_ = false;
  bool needs_time_ = false;
  // Step lists of the common shapes (the regional short date, long time and
  // both) are written by straight code instead of step by step.
  enum class Shape : uint8_t { kSteps, kDate, kTime, kDateTime };
  Shape shape_ = Shape::kSteps;
};

// The compiled form of `format` for the process's regional settings, from a
// process-wide cache (formats are few and used for many values). Safe to
// call from any thread.
std::shared_ptr<const TDateTimeFormat> RegionalDateTimeFormat(std::string_view format);

}  // namespace quill

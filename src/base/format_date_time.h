// The date-time format language shared by the script object's FormatDateTime
// and the display texts of date and time fields.
#pragma once

#include <string>
#include <string_view>

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
// combined "c" text.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);

}  // namespace quill

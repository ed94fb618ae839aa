// Small text routines shared by the tokenizer, the dataset and the
// connection: a string list with a settable line separator, word and field
// extraction from delimited texts, the readers of the date and time texts a
// MySQL server returns, and number text that always uses "." as decimal
// separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/date_time.h"
#include "base/number_text.h"
#include "base/string_list.h"

namespace quill {

// A string list whose line separator can be changed. Only the whole text
// behaves differently from TStringList: it is written with LineSeparator()
// and read by the rules of SetText. With an empty separator the text is the
// plain concatenation of the items, which is how callers glue token texts
// back together.
class TQzStringList : public TStringList {
  QUILL_DECLARE_CLASS()

 public:
  TQzStringList() = default;
  ~TQzStringList() override = default;

  // The separator written after every item by Text(); "\r\n" by default.
  const std::string& LineSeparator() const { return line_separator_; }
  // Changes the separator; leaves the items unchanged.
  void SetLineSeparator(std::string separator) { line_separator_ = std::move(separator); }

  // Text(), inherited, is every item followed by LineSeparator(), the last
  // one included, concatenated in order.
  std::string LineBreak() const override { return line_separator_; }

  // Replaces the items by the pieces of `text`, which ends at its first NUL.
  // An item runs up to the first character that occurs in LineSeparator();
  // then every following character that occurs in LineSeparator() is
  // skipped. So with the default separator a lone CR or LF also ends an
  // item, runs of line breaks make no empty items, a trailing line break
  // makes no empty last item and a leading one makes one empty first item.
  // With an empty separator the whole text is one item; an empty text gives
  // no item. Change notifications fire once.
  void SetText(std::string_view text) override;

 private:
  std::string line_separator_ = "\r\n";
};

// The n-th word of `text` (counting from 1). Words are maximal runs of
// characters that are not in `delimiters`; delimiters never make empty
// words. Returns an empty text when there are fewer than n words or n is 0.
// ExtractWord(1, "[$FIELDS]", "[,]") is "$FIELDS"; ExtractWord(2, "a,,b", ",")
// is "b".
std::string ExtractWord(uint8_t n, std::string_view text, std::string_view delimiters);
// The same word, as a view into `text`.
std::string_view ExtractWordView(uint8_t n, std::string_view text, std::string_view delimiters);

// The n-th field of `text` (counting from 1). Fields are the pieces between
// occurrences of `separator`; empty fields count. Returns an empty text when
// `text` or `separator` is empty, when there are fewer than n fields, or when
// n is 2 or more and `separator` does not occur in `text`. n of 1 or less
// gives the first field, which is the whole text when there is no separator.
// ExtractField("PROMPT$x$Label$$*", "$", 3) is "Label", field 4 is "" and
// field 5 is "*".
std::string ExtractField(std::string_view text, std::string_view separator, int n);

// The readers below take texts as a MySQL server writes them and return a
// timestamp pair; the zero pair stands for "no valid value". They look at
// the first 255 characters of `text` only; anything after them is ignored.
// Numbers are read as by TryStrToInt, a piece that is not a number counting
// as 0. They never throw except std::bad_alloc.

// "yyyy-mm-dd": year, month and day are words 1 to 3 of `text` delimited by
// any of "-", "/", "\", ".", ":" and blank. A year, month or day of 0 becomes
// 1, so "0000-00-00" gives 0001-01-01. Returns the date's day number with
// Time 0, or the zero pair when the three do not form a valid date.
TTimeStamp ParseDate(std::string_view text);

// "hh:mm:ss": hour, minute and second are words 1 to 3 with the delimiters
// of ParseDate. Returns the time of day in milliseconds with Date 0, or the
// zero pair when they do not form a valid time (each part must be at least
// 0; hour below 24, minute and second below 60).
TTimeStamp ParseTime(std::string_view text);

// "yyyy-mm-dd hh:mm:ss": the Date of ParseDate of the first blank-delimited
// word and the Time of ParseTime of the second. A part that does not parse
// is 0 without disturbing the other.
TTimeStamp ParseDateTime(std::string_view text);

// "yyyymmddhhmmss": characters 1-4 year, 5-6 month, 7-8 day, 9-10 hour,
// 11-12 minute, 13-14 second; missing characters give 0. A year, month or
// day of 0 becomes 1. Returns the zero pair when the date or the time is
// not valid.
TTimeStamp ParseTimestamp14(std::string_view text);

// StrToFloatDot and FloatToStrDot (declared in base/number_text.h, included
// above) are the number conversions of this unit: "." is the decimal
// separator whatever the host's locale, and no process-wide state changes.
//   double StrToFloatDot(std::string_view text);  // EConvertError if no number
//   std::string FloatToStrDot(double value);      // general, 15 digits

}  // namespace quill

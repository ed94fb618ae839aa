// TQzStringList's text rules, word and field extraction, and the readers of
// the date and time texts a MySQL server returns (DATE, TIME, DATETIME and
// the 14-digit TIMESTAMP). The number conversions of this unit are those of
// base/number_text, re-exported by the header.
#include "sql_parser/qz_str_utils.h"

#include <cstring>

namespace quill {

const TClassInfo TQzStringList::StaticClassInfo{"TQzStringList", &TStringList::StaticClassInfo, {}};

void TQzStringList::SetText(std::string_view text) {
  // The text ends at its first NUL, as the tokenizer's texts do.
  const void* nul = text.empty() ? nullptr : std::memchr(text.data(), '\0', text.size());
  if (nul != nullptr) text = text.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - text.data()));
  const std::string_view separator = line_separator_;

  BeginUpdate();
  Clear();
  size_t i = 0;
  while (i < text.size()) {
    const size_t stop = separator.empty() ? std::string_view::npos : text.find_first_of(separator, i);
    const size_t item_end = stop == std::string_view::npos ? text.size() : stop;
    Add(std::string(text.substr(i, item_end - i)));
    i = item_end;
    while (i < text.size() && separator.find(text[i]) != std::string_view::npos) ++i;
  }
  EndUpdate();
}

std::string_view ExtractWordView(uint8_t n, std::string_view text, std::string_view delimiters) {
  if (n == 0) return {};
  unsigned count = 0;
  size_t i = 0;
  while (i < text.size()) {
    i = text.find_first_not_of(delimiters, i);
    if (i == std::string_view::npos) break;
    size_t end = text.find_first_of(delimiters, i);
    if (end == std::string_view::npos) end = text.size();
    if (++count == n) return text.substr(i, end - i);
    i = end;
  }
  return {};
}

std::string ExtractWord(uint8_t n, std::string_view text, std::string_view delimiters) {
  return std::string(ExtractWordView(n, text, delimiters));
}

std::string ExtractField(std::string_view text, std::string_view separator, int n) {
  if (text.empty() || separator.empty()) return std::string();
  if (n >= 2 && text.find(separator) == std::string_view::npos) return std::string();
  for (int k = 1; k < n; ++k) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) return std::string();
    text.remove_prefix(at + separator.size());
    if (text.empty()) return std::string();
  }
  return std::string(text.substr(0, text.find(separator)));
}

namespace {

// The server's texts are short; longer ones are looked at only this far.
constexpr size_t kMaxDateText = 255;
constexpr std::string_view kDateDelimiters = "-/\\.: ";

std::string_view Head(std::string_view text) { return text.substr(0, kMaxDateText); }

int NumberOrZero(std::string_view text) {
  int32_t value = 0;
  return TryStrToInt(text, &value) ? value : 0;
}

int OneIfZero(int value) { return value == 0 ? 1 : value; }

// Day number of the date, 0 when it is not valid.
int32_t DayNumber(int year, int month, int day) {
  year = OneIfZero(year);
  month = OneIfZero(month);
  day = OneIfZero(day);
  return IsValidDate(year, month, day) ? DateToDayNumber(year, month, day) : 0;
}

// Milliseconds since midnight, or -1 when the time is not valid.
int32_t TimeOfDay(int hour, int minute, int second) {
  if (!IsValidTime(hour, minute, second, 0)) return -1;
  return ((hour * 60 + minute) * 60 + second) * 1000;
}

}  // namespace

TTimeStamp ParseDate(std::string_view text) {
  text = Head(text);
  const int year = NumberOrZero(ExtractWord(1, text, kDateDelimiters));
  const int month = NumberOrZero(ExtractWord(2, text, kDateDelimiters));
  const int day = NumberOrZero(ExtractWord(3, text, kDateDelimiters));
  return TTimeStamp{0, DayNumber(year, month, day)};
}

TTimeStamp ParseTime(std::string_view text) {
  text = Head(text);
  const int hour = NumberOrZero(ExtractWord(1, text, kDateDelimiters));
  const int minute = NumberOrZero(ExtractWord(2, text, kDateDelimiters));
  const int second = NumberOrZero(ExtractWord(3, text, kDateDelimiters));
  const int32_t time = TimeOfDay(hour, minute, second);
  return time < 0 ? TTimeStamp{} : TTimeStamp{time, 0};
}

TTimeStamp ParseDateTime(std::string_view text) {
  text = Head(text);
  return TTimeStamp{ParseTime(ExtractWord(2, text, " ")).Time, ParseDate(ExtractWord(1, text, " ")).Date};
}

TTimeStamp ParseTimestamp14(std::string_view text) {
  text = Head(text);
  // substr past the end would throw; a missing piece simply reads as 0.
  auto piece = [text](size_t from, size_t length) {
    return from < text.size() ? NumberOrZero(text.substr(from, length)) : 0;
  };
  const int32_t date = DayNumber(piece(0, 4), piece(4, 2), piece(6, 2));
  const int32_t time = TimeOfDay(piece(8, 2), piece(10, 2), piece(12, 2));
  if (date == 0 || time < 0) return TTimeStamp{};
  return TTimeStamp{time, date};
}

}  // namespace quill

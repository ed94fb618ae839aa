// The text forms in which a MySQL server sends and takes dates and times,
// converted to and from TDateTime.
//
// Readers never fail: a text that is no valid value gives 0 (1899-12-30
// 00:00:00), the zero date-time of the system, and a date-time whose date
// part is no valid date keeps its time of day on day 0.
#pragma once

#include <string>
#include <string_view>

#include "base/date_time.h"

namespace quill {

// "yyyy-mm-dd" (any of - / \ . : and blank between the parts; 0 parts
// become 1, so "0000-00-00" reads as 0001-01-01).
TDateTime SqlTextToDate(std::string_view text);
// "hh:nn:ss"; a negative time or one of 24 hours or more reads as 0.
TDateTime SqlTextToTime(std::string_view text);
// "yyyy-mm-dd hh:nn:ss", each part read on its own.
TDateTime SqlTextToDateTime(std::string_view text);
// A TIMESTAMP column's text: the compact "yyyymmddhhnnss" when the text is
// digits only (older servers, and what this system writes), else the
// date-time form.
TDateTime SqlTextToTimestamp(std::string_view text);

// The server's fixed forms taken straight apart, for texts that need no
// general reader: "yyyy-mm-dd" with no zero part and a valid date (the
// parts as DecodeDate gives them for the value SqlTextToDate reads), and
// "hh:nn:ss" with a valid time (as DecodeTime gives them). False for
// anything else: such a text is read as a TDateTime instead.
bool ServerDateParts(std::string_view text, DateParts* date);
bool ServerTimeParts(std::string_view text, TimeParts* time);

std::string DateToSqlText(TDateTime value);        // "yyyy-mm-dd"
std::string TimeToSqlText(TDateTime value);        // "hh:nn:ss"
std::string DateTimeToSqlText(TDateTime value);    // "yyyy-mm-dd hh:nn:ss"
std::string DateTimeToTimestamp14(TDateTime value);  // "yyyymmddhhnnss"

}  // namespace quill

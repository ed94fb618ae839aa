// The regional settings used for display texts and date-time formats.
//
// A server host has no user whose preferences could apply, so the system uses
// one fixed English set: "/" and ":" separators, English day and month names,
// AM/PM designators. Nothing reads the process locale.
#pragma once

#include <array>
#include <string>

namespace quill {

struct TFormatSettings {
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char DecimalSeparator = '.';
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",
                                             "May",     "June",     "July",      "August",
                                             "September", "October", "November", "December"};
  // Index 0 is Sunday.
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  // The Gregorian calendar has one era; E gives the year of it, G its name.
  std::string EraName = "A.D.";
};

// The process's settings: the fixed English set. Never changes at run time,
// so it is safe to read from any thread.
const TFormatSettings& RegionalSettings();

}  // namespace quill

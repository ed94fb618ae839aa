// Reading date-time values from the texts a script or a user writes.
#pragma once

#include <string_view>

#include "base/date_time.h"

namespace quill {

// Accepts, with blanks around: "yyyy-mm-dd", "m/d/yyyy" (the regional short
// date order), either followed by a time; or a time alone. A time is
// "h:nn", "h:nn:ss" or "h:nn:ss.zzz", optionally followed by AM or PM (any
// case). A time alone gives day 0. Returns false for anything else and for
// values that are no valid date or time.
bool TryStrToDateTime(std::string_view text, TDateTime* out);

}  // namespace quill

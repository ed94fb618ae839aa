// Number display formats for the DisplayFormat and EditFormat of numeric
// fields.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// Formats `value` by a picture `format`:
//   0        a digit, or 0 when the number has none at that place
//   #        a digit, or nothing
//   .        the decimal separator (the first one; further ones are ignored)
//   ,        anywhere before the decimal point: group thousands with ","
//   E+ E- e+ e-  scientific notation; the 0s after it give the least number
//           of exponent digits; E+ always writes the sign, E- only a minus
//   "..." '...'  literal text
//   ;        separates the sections for positive, negative and zero values;
//           the negative section shows the number without its minus, an
//           absent or empty one falls back to the first section with a minus
//   anything else is copied.
// Digits beyond the integer placeholders are all written; the fraction is
// rounded to the number of fraction placeholders. An empty `format` gives
// the general 15-digit form. Non-finite values give "NAN", "INF", "-INF".
std::string FormatFloat(std::string_view format, double value);

// The general form with at most `precision` significant digits (1..15; other
// values mean 15), "." as decimal separator.
std::string FloatToStrGeneral(double value, int precision);

}  // namespace quill

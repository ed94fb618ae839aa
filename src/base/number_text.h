// Locale-independent number text: "." is always the decimal separator and no
// thousands separators are written or read. Nothing here touches process-wide
// state, so conversions on several threads never disturb each other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

// General format with up to 15 significant digits (rounded to nearest):
// integers without a fraction ("3"), fractions without trailing zeros
// ("1.5", "0.333333333333333"), no thousands separators. With the rounded
// value written as d.ddd x 10^e, the plain form is used for e from -4 to 14
// ("0.0001", "123456789012345"); otherwise the exponent form: the digits,
// "E", a minus only for a negative exponent, no leading zeros ("1E15",
// "1.5E-7", "1E-5", "-2.5E100"). Zero and minus zero give "0"; NaN and
// infinities give "NAN", "INF", "-INF".
std::string FloatToStrDot(double value);

// Reads a decimal number: optional blanks (spaces, tabs) around it, an
// optional sign, digits with an optional "." fraction (at least one digit,
// so "1." and ".5" count) and an optional exponent ("e" or "E", optional
// sign, digits). Returns false, leaving *out alone, for anything else: an
// empty text, trailing garbage, "," as the separator, "inf"/"nan", hex, and
// a value too large for a double. A value too small for one reads as zero.
bool TryStrToFloatDot(std::string_view text, double* out);
// As TryStrToFloatDot, but raises EConvertError
// "'<text>' is not a valid floating point value".
double StrToFloatDot(std::string_view text);

// Decimal integers with optional blanks around them and an optional sign,
// and hexadecimal with a "$" or "0x"/"0X" prefix after the sign ("-$1F" is
// -31). Hex gives a value, not a bit pattern: "$FFFFFFFF" is out of range
// for TryStrToInt. Out of range or not a number gives false and leaves *out
// alone.
bool TryStrToInt(std::string_view text, int32_t* out);
bool TryStrToInt64(std::string_view text, int64_t* out);
// True when `text` is exactly what std::to_string writes for an integer
// between the bounds of int64_t (`wide`) or int32_t: an optional "-" and
// decimal digits without leading zeros, no blanks, no "+", no "-0". Such a
// text reads as that integer and is its own decimal text again.
bool IsCanonicalInteger(std::string_view text, bool wide);
// True when `text` is an optional "-", digits, and optionally "." and more
// digits, with no blanks and at most 80 characters: a decimal that
// TryStrToFloatDot surely reads.
bool IsPlainDecimal(std::string_view text);
// Raise EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);

// Currency: an int64 holding the value times 10,000, written with "." and
// without trailing zeros (125000 -> "12.5", -1 -> "-0.0001", 30000 -> "3").
std::string CurrToStrDot(int64_t currency);

}  // namespace quill

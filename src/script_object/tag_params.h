// The parameters of a template tag: splitting the text after the tag name
// into NAME=VALUE lines, decoding %-escapes and dropping quote characters.
//
// The grammar is deliberately simple. Blanks separate parameters; a double
// quote groups blanks into a value until the next double quote; decoding
// happens after splitting, so an escaped blank (%20) or escaped quote never
// separates or groups anything. Only the double quote groups: the apostrophe
// has no role but is stripped along with it.
#pragma once

#include <string>
#include <string_view>

#include "base/string_list.h"

namespace quill {

// Decodes one parameter field, left to right: "+" becomes a blank, "%%" a
// "%", "%" and two hexadecimal digits (either case) the byte they spell;
// every other byte is copied. A "%" not followed by two hexadecimal digits
// (also at the end of the field) raises EConvertError
// "'$xy' is not a valid integer value" with the characters that follow it.
std::string DecodeParam(std::string_view field);

// When `strip` is true, returns `field` without any double quote or
// apostrophe; otherwise returns it unchanged.
std::string StripQuoteChars(std::string_view field, bool strip);

// Appends the fields of `text` to `params`, one line per non-empty field,
// each decoded (DecodeParam) and then stripped (StripQuoteChars). A field
// starts after blanks, carriage returns and line feeds and ends at the next
// of them; a double quote opens a run that only the next double quote
// closes. A run that opened the field is excluded from it and its closing
// quote ends the field; a run inside a field belongs to it, and the one
// character after its closing quote ends the field and is dropped, whatever
// it is (A="x"B="y" gives A=x and =y). An unclosed run takes the rest of the
// text. Raises what DecodeParam raises; `params` then holds the fields
// before the bad one.
void SplitTagParams(std::string_view text, bool strip_quotes, TStringList& params);

}  // namespace quill

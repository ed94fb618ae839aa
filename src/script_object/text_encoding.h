// The encodings a template asks for with the ENCODE parameter of a field
// tag, FIELDNAMES or FIELDVALUES, so that field texts can go into HTML text,
// an attribute value, a query string or a JSON string without the page
// escaping them beforehand.
//
// Texts are UTF-8. An encoding treats a character as a whole: it copies all
// of its bytes, or writes one escape for the whole code point (ATTR, JSON),
// or escapes each of its bytes (URL); it never leaves part of a character
// unescaped. Bytes that form no well-formed character are handled one by
// one, as each encoding says.
#pragma once

#include <string>
#include <string_view>

#include "base/string_list.h"

namespace quill {

enum class TTextEncoding {
  // The text as it is.
  None,
  // For HTML text and quoted attribute values: & < > " ' become &amp; &lt;
  // &gt; &quot; &#39;; every other byte is copied.
  HTML,
  // For any attribute value, quoted or not: as HTML, and every other
  // character except ASCII letters and digits, "-", "_", "." and the letters
  // of other scripts (with their combining marks) becomes a numeric
  // reference "&#xHH;". A byte that starts no well-formed character becomes
  // "&#xFFFD;".
  Attr,
  // For a value in a query string: every byte except ASCII letters and
  // digits, "-", "_", "." and "~" becomes "%HH" (upper-case hex); a blank is
  // "%20".
  URL,
  // The inside of a JSON string: " and \ are escaped, control characters
  // become \b \f \n \r \t or \u00hh, and < > & ' U+2028 U+2029 become \u
  // escapes as well, so that the string is also safe inside an HTML script
  // element or attribute. A byte that starts no well-formed character
  // becomes \ufffd, since JSON text must be UTF-8.
  JSON,
};

// The encoding named `name`, ASCII case ignored: "NONE", "HTML", "ATTR",
// "URL" or "JSON". Raises EConvertError
// "'%s' is not a valid encoding (HTML, ATTR, URL, JSON or NONE)" for any
// other text, the empty one included.
TTextEncoding TextEncodingByName(std::string_view name);

// The encoding that the ENCODE line of a tag's parameter list names (the
// first line whose name is ENCODE, ASCII case ignored); None when there is
// no such line. Raises as TextEncodingByName.
TTextEncoding EncodeParam(const TStringList& params);

// Whether `params` is exactly one ENCODE line (whatever its value).
bool IsOnlyEncodeParam(const TStringList& params);

// Appends `text` to `out`, encoded as `encoding` says.
void AppendEncoded(std::string& out, std::string_view text, TTextEncoding encoding);

}  // namespace quill

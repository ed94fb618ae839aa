// Text encodings of the web: URL-encoded forms and query strings, and the
// escaping Server.HTMLEncode and Server.URLEncode offer to pages.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill::asp {

using NameValueList = std::vector<std::pair<std::string, std::string>>;

// Decodes %XX escapes and, when `plus_is_space`, '+' as a space. A '%' not
// followed by two hexadecimal digits stays as it is; nothing is dropped.
std::string UrlDecode(std::string_view text, bool plus_is_space = true);

// Splits "a=1&b=2&a=3" into its pairs, decoded, in order; a part without
// '=' is a name with an empty value, empty parts are skipped. At most
// `max_pairs` pairs are read (the rest ignored), so a hostile body cannot
// make the list huge.
NameValueList ParseUrlEncoded(std::string_view text, size_t max_pairs = 10000);

// Percent-encodes everything but ASCII letters, digits and "-_.*"; spaces
// become '+' (as Server.URLEncode does).
std::string UrlEncode(std::string_view text);

// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string HtmlEncode(std::string_view text);

// "a=1&b=x+y" from pairs, each part URL-encoded.
std::string BuildUrlEncoded(const NameValueList& pairs);

// True when `text` holds an ASCII control character (below 0x20, or DEL),
// which no header, cookie or class name may carry.
bool HasControl(std::string_view text);

}  // namespace quill::asp

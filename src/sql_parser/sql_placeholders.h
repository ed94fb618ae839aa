// Binding "?" placeholders of SQL text to values.
//
// Pages used to build statements by pasting escaped text into SQL; a
// placeholder lets the value travel as a value instead. The placeholders
// are found with the split configuration of the tokenizer, so a "?"
// inside a quoted string, a backquoted name, a comment or a macro bracket
// is text, not a placeholder. Each placeholder is replaced by the SQL
// literal of its value (SqlLiteral); everything else in the statement is
// copied byte for byte.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"

namespace quill {

// Escapes text for use between single quotes on some connection.
using TSqlEscape = std::function<std::string(std::string_view)>;

// Offsets of the placeholders of `sql`, in order.
std::vector<size_t> FindPlaceholders(std::string_view sql);

// The SQL literal of one value:
//   Empty, Null                 NULL
//   Integer, Int64              decimal digits
//   Double                      the shortest "." text that reads back as the
//                               same double ("1.5", "1e+20"); NaN and
//                               infinities fail
//   Currency                    exact "." text
//   Boolean                     1 or 0
//   Date                        'yyyy-mm-dd hh:nn:ss'
//   String                      the text escaped by `escape`, in single quotes
//   Array of integers 0..255    a hexadecimal literal, 0x... ('' when empty):
//                               script hosts hand byte arrays over this way
// Anything else (objects, other arrays) fails with EConvertError naming the
// placeholder's 1-based position `position` and the value's type.
std::string SqlLiteral(const Variant& value, const TSqlEscape& escape, size_t position);

// `sql` with its placeholders replaced, in order, by the literals of
// `values`. Fails with EDatabaseError "<n> placeholder(s) in the SQL but
// <m> value(s) given" when the counts differ, and as SqlLiteral for a value
// that has no literal; nothing is produced then.
std::string BindPlaceholders(std::string_view sql, std::span<const Variant> values,
                             const TSqlEscape& escape);

}  // namespace quill

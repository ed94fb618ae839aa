// Rows of a dataset handed out as data rather than as page text: as JSON
// for pages that answer scripts in the browser, and as the two-dimensional
// array that page authors read rows into instead of walking them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/olert/olert.h"

namespace quill {

class TField;
class TMySQLDataset;

// Every cached row of `dataset`, first to last, as a JSON array of objects
// keyed by column name, in column order. Numbers are JSON numbers (DECIMAL
// as the server's exact text), NULL is null, dates and times ISO 8601 text
// ("2024-05-01", "2024-05-01T12:30:00", "12:30:00"), binary columns base64
// text, other text JSON strings (UTF-8 kept, control characters escaped).
// Reads the row cache only: the position does not change.
// Appended to `out`. REQUIRES: dataset is open.
void RowsAsJson(const TMySQLDataset& dataset, std::string& out);

// Appends `text` as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
// Appends the base64 text of `bytes` (standard alphabet, padded).
void AppendBase64(std::string& out, std::string_view bytes);

// Reads up to `rows` rows (all when negative) of `fields` from the current
// row on, moving past each, into *out: VT_ARRAY | VT_VARIANT with two
// dimensions from 0, the first the fields and the second the rows. Binary
// blobs are byte arrays, other values as the fields give them.
// REQUIRES: dataset is open; *out holds nothing to free.
void ReadRowsArray(TMySQLDataset& dataset, const std::vector<TField*>& fields, int64_t rows,
                   VARIANT* out);

}  // namespace quill

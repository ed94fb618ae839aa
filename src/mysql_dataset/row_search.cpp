// Searching the rows a dataset holds: the key texts, the match of one row
// and the walk over the rows that Locate and Lookup make.
#include "mysql_dataset/row_search.h"

#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

// The key value for the key field at `index` of `count`: one field takes
// the value itself (or an array's first element), several take the array's
// elements by position. A missing value is NULL.
Variant KeyValueAt(const Variant& values, size_t index, size_t count) {
  if (values.IsArray()) {
    const std::vector<Variant>& items = values.RawArray().Items;
    return index < items.size() ? items[index] : Variant::Null();
  }
  return index == 0 || count == 1 ? values : Variant::Null();
}

}  // namespace

std::string TRowSearch::FoldCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    } else if (c == 0xC3 && i + 1 < out.size()) {
      const auto next = static_cast<unsigned char>(out[i + 1]);
      if (next >= 0xA0 && next <= 0xBE && next != 0xB7) out[i + 1] = static_cast<char>(next - 0x20);
      ++i;
    }
  }
  return out;
}

std::vector<std::string> TRowSearch::SplitNames(std::string_view names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string_view::npos) end = names.size();
    std::string name = Trim(names.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

TRowSearch::TRowSearch(TDataSet& dataset, std::string_view key_fields, const Variant& key_values,
                       bool case_insensitive, bool partial_key)
    : dataset_(dataset), case_insensitive_(case_insensitive), partial_key_(partial_key) {
  for (const std::string& name : SplitNames(key_fields)) {
    fields_.push_back(&dataset.RequireField(name));
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    keys_.push_back(KeyValueAt(key_values, i, fields_.size()));
  }
}

bool TRowSearch::Matches() const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    // Converted where they are compared, as a key that cannot be text
    // fails only when the fields before it matched.
    std::string key_text = keys_[i].IsClear() ? std::string() : keys_[i].AsString();
    std::string field_text = fields_[i]->AsString();
    if (case_insensitive_) {
      key_text = FoldCase(key_text);
      field_text = FoldCase(field_text);
    }
    const bool match = partial_key_ ? field_text.find(key_text) != std::string::npos
                                    : field_text == key_text;
    if (!match) return false;
  }
  return true;
}

bool TRowSearch::Locate() {
  if (Matches()) return true;
  const std::optional<int64_t> start = dataset_.GetBookmark();
  bool found = false;
  dataset_.DisableControls();
  try {
    dataset_.MoveFirst();
    while (!dataset_.Eof()) {
      if (Matches()) {
        found = true;
        break;
      }
      dataset_.MoveNext();
    }
    if (!found && start) dataset_.GotoBookmark(*start);
  } catch (...) {
    dataset_.EnableControls();
    throw;
  }
  dataset_.EnableControls();
  return found;
}

}  // namespace quill

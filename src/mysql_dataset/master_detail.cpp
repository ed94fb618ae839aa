// Narrowing and searching a MySQL dataset: the master link and the
// properties that drive it (MasterSource, MasterFields), the filter, the
// condition built from both, and the search of the cached rows by field
// values (LocateRecord, LocateFromFirst, LookupValues).
//
// Narrowing always happens on the server: the condition goes into the
// SELECT the dataset sends (sql_macros.cpp), and any change of it re-reads
// the rows. Searching happens on the rows already fetched.
#include <algorithm>
#include <cassert>
#include <vector>

#include "mysql_dataset/fields.h"
#include "mysql_dataset/master_data_link.h"
#include "mysql_dataset/mysql_dataset.h"
#include "sql_parser/sql_placeholders.h"

namespace quill {

namespace {

// Upper case for comparisons that ignore case: ASCII letters and the
// letters of the Latin-1 range (U+00E0..U+00FE but U+00F7), which is what
// the regional settings of this system cover.
std::string FoldCase(std::string_view text) {
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

// The names of a ";"-separated list, each trimmed; empty names are skipped.
std::vector<std::string> SplitNames(std::string_view names) {
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

// --- The master link ------------------------------------------------------------------

void TMasterDataLink::ActiveChanged() {
  if (Active()) {
    detail_.MasterChanged();
    return;
  }
  // The master is closing or going away (or its source is): that must
  // complete whatever the detail meets, and a destructor may be on the
  // stack. A detail that cannot re-read keeps the rows it has.
  try {
    detail_.MasterChanged();
  } catch (...) {
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (field == nullptr) detail_.MasterChanged();
}

void TMySQLDataset::MasterChanged() {
  // A circle of links would re-read forever; a dataset being destroyed or
  // closed has nothing to re-read.
  if (following_master_ || Destroying() || !Active()) return;
  following_master_ = true;
  try {
    RefreshRows();
  } catch (...) {
    following_master_ = false;
    throw;
  }
  following_master_ = false;
}

void TMySQLDataset::RefreshIfOpen() {
  if (Active()) RefreshRows();
}

// --- Properties ---------------------------------------------------------------------

void TMySQLDataset::SetMasterFields(const std::string& fields) {
  TStringList pairs;
  pairs.SetCommaText(fields);
  if (pairs.Lines() == master_fields_.Lines()) return;
  master_fields_.Assign(pairs);
  std::string names;
  for (int i = 0; i < master_fields_.Count(); ++i) {
    if (i > 0) names += ';';
    names += master_fields_.ValueFromIndex(i);
  }
  master_link_->SetFieldNames(std::move(names));
  RefreshIfOpen();
}

void TMySQLDataset::SetMasterSource(TDataSource* source) {
  if (source == master_source_) return;
  if (source != nullptr) {
    // Walk the chain of masters; the walk stops at a dataset seen before,
    // so a circle that does not pass through this dataset ends it too.
    std::vector<const TDataSet*> seen;
    for (const TDataSet* master = source->DataSet(); master != nullptr;) {
      if (master == this) throw EDatabaseError("Circular Reference");
      if (std::find(seen.begin(), seen.end(), master) != seen.end()) break;
      seen.push_back(master);
      const auto* mysql = dynamic_cast<const TMySQLDataset*>(master);
      const TDataSource* next = mysql != nullptr ? mysql->MasterSource() : nullptr;
      master = next != nullptr ? next->DataSet() : nullptr;
    }
  }
  if (master_source_ != nullptr) RemoveFreeNotification(master_source_);
  master_source_ = source;
  if (source != nullptr) FreeNotification(source);
  // The link's own notice would come only when the master's activity
  // differs; the rows are re-read once, for the new master, either way.
  following_master_ = true;
  try {
    master_link_->SetDataSource(source);
  } catch (...) {
    following_master_ = false;
    throw;
  }
  following_master_ = false;
  RefreshIfOpen();
}

void TMySQLDataset::SetFilter(const std::string& filter) {
  if (filter == filter_) return;
  filter_ = filter;
  RefreshIfOpen();
}

void TMySQLDataset::SetFiltered(bool value) {
  if (value == filtered_) return;
  filtered_ = value;
  RefreshIfOpen();
}

void TMySQLDataset::SetFilterParams(std::optional<std::vector<Variant>> values) {
  filter_params_ = std::move(values);
  if (filtered_ && !filter_.empty()) RefreshIfOpen();
}

// --- The condition ------------------------------------------------------------------

std::string TMySQLDataset::BuildCondition() const {
  std::string filter_part;
  if (filtered_ && !filter_.empty()) {
    filter_part = "(" +
                  (filter_params_ ? BindPlaceholders(filter_, *filter_params_,
                                                     [this](std::string_view text) {
                                                       return EscapeString(text);
                                                     })
                                  : filter_) +
                  ")";
  }
  if (master_fields_.Count() == 0) return filter_part;
  std::string link;
  const TDataSet* master = master_link_->DataSet();
  if (master != nullptr && master_link_->Active() && master->Active()) {
    for (int i = 0; i < master_fields_.Count(); ++i) {
      const TField* field = master->LookupField(master_fields_.ValueFromIndex(i));
      if (field == nullptr) continue;
      // The master's value is data: a quote in it must not end the literal.
      link += "(" + master_fields_.Name(i) + "='" + EscapeString(field->AsString()) + "') AND ";
    }
  }
  if (link.empty() || !filter_part.empty()) return link + filter_part;
  assert(link.ends_with(") AND "));
  link.resize(link.size() - 5);  // the last " AND "
  return link;
}

// --- Search -------------------------------------------------------------------------

bool TMySQLDataset::RowMatches(const std::vector<TField*>& fields, const Variant& key_values,
                               bool case_insensitive, bool partial_key) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    const Variant key = KeyValueAt(key_values, i, fields.size());
    std::string key_text = key.IsClear() ? std::string() : key.AsString();
    std::string field_text = fields[i]->AsString();
    if (case_insensitive) {
      key_text = FoldCase(key_text);
      field_text = FoldCase(field_text);
    }
    const bool match =
        partial_key ? field_text.find(key_text) != std::string::npos : field_text == key_text;
    if (!match) return false;
  }
  return true;
}

bool TMySQLDataset::LocateRecord(std::string_view key_fields, const Variant& key_values,
                                 bool case_insensitive, bool partial_key) {
  EnsureBrowse();
  if (Bof() && Eof()) return false;
  std::vector<TField*> fields;
  for (const std::string& name : SplitNames(key_fields)) fields.push_back(&RequireField(name));
  if (RowMatches(fields, key_values, case_insensitive, partial_key)) return true;

  const std::optional<int64_t> start = GetBookmark();
  bool found = false;
  DisableControls();
  try {
    MoveFirst();
    while (!Eof()) {
      if (RowMatches(fields, key_values, case_insensitive, partial_key)) {
        found = true;
        break;
      }
      MoveNext();
    }
    if (!found && start) GotoBookmark(*start);
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  return found;
}

bool TMySQLDataset::LocateFromFirst(std::string_view key_fields, const Variant& key_values,
                                    bool case_insensitive, bool partial_key) {
  MoveFirst();
  return LocateRecord(key_fields, key_values, case_insensitive, partial_key);
}

Variant TMySQLDataset::LookupValues(std::string_view key_fields, const Variant& key_values,
                                    std::string_view result_fields) {
  if (!LocateRecord(key_fields, key_values, false, false)) return Variant::Null();
  const std::vector<std::string> names = SplitNames(result_fields);
  if (names.size() == 1) return RequireField(names.front()).AsVariant();
  VariantArray values;
  for (const std::string& name : names) values.Items.push_back(RequireField(name).AsVariant());
  return Variant(std::move(values));
}

}  // namespace quill

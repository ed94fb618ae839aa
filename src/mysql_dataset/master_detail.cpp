// Narrowing and searching a MySQL dataset: the master link and the
// properties that drive it (MasterSource, MasterFields), the filter, and
// the dataset's search verbs (LocateRecord, LocateFromFirst, LookupValues).
// The condition is built by TRowCondition (row_condition.h), the search
// done by TRowSearch (row_search.h).
//
// Narrowing always happens on the server: the condition goes into the
// SELECT the dataset sends, and any change of it re-reads the rows.
// Searching happens on the rows already fetched.
#include <algorithm>
#include <cassert>
#include <vector>

#include "mysql_dataset/fields.h"
#include "mysql_dataset/master_data_link.h"
#include "mysql_dataset/mysql_dataset.h"
#include "mysql_dataset/row_search.h"

namespace quill {

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
  if (!condition_.SetMasterFields(fields)) return;
  master_link_->SetFieldNames(condition_.MasterFieldNames());
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
  if (condition_.SetFilter(filter)) RefreshIfOpen();
}

void TMySQLDataset::SetFiltered(bool value) {
  if (condition_.SetFiltered(value)) RefreshIfOpen();
}

void TMySQLDataset::SetFilterParams(std::optional<std::vector<Variant>> values) {
  condition_.SetFilterParams(std::move(values));
  if (condition_.FilterApplies()) RefreshIfOpen();
}

std::string TMySQLDataset::BuildCondition() const {
  const TDataSet* master = master_link_->DataSet();
  const bool open = master != nullptr && master_link_->Active() && master->Active();
  return condition_.Build(open ? master : nullptr,
                          [this](std::string_view text) { return EscapeString(text); });
}

// --- Search -------------------------------------------------------------------------

bool TMySQLDataset::LocateRecord(std::string_view key_fields, const Variant& key_values,
                                 bool case_insensitive, bool partial_key) {
  EnsureBrowse();
  if (Bof() && Eof()) return false;
  TRowSearch search(*this, key_fields, key_values, case_insensitive, partial_key);
  return search.Locate();
}

bool TMySQLDataset::LocateFromFirst(std::string_view key_fields, const Variant& key_values,
                                    bool case_insensitive, bool partial_key) {
  MoveFirst();
  return LocateRecord(key_fields, key_values, case_insensitive, partial_key);
}

Variant TMySQLDataset::LookupValues(std::string_view key_fields, const Variant& key_values,
                                    std::string_view result_fields) {
  if (!LocateRecord(key_fields, key_values, false, false)) return Variant::Null();
  const std::vector<std::string> names = TRowSearch::SplitNames(result_fields);
  if (names.size() == 1) return RequireField(names.front()).AsVariant();
  VariantArray values;
  for (const std::string& name : names) values.Items.push_back(RequireField(name).AsVariant());
  return Variant(std::move(values));
}

}  // namespace quill

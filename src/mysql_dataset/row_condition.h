// TRowCondition: which rows a dataset asks its server for.
//
// Two things narrow a dataset: a Filter (SQL condition text, optionally
// with "?" placeholders bound to values) and a master link (pairs
// detail-field=master-field, matched against the master's current row).
// Both become one condition, which the SQL expansion inserts into every
// SELECT the dataset sends; the rows are always narrowed on the server.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/string_list.h"
#include "base/variant.h"

namespace quill {

class TDataSet;

class TRowCondition {
 public:
  // Escapes a value for use between single quotes.
  using TEscape = std::function<std::string(std::string_view)>;

  const std::string& Filter() const { return filter_; }
  // Each setter answers whether the value changed.
  bool SetFilter(const std::string& filter);
  bool Filtered() const { return filtered_; }
  bool SetFiltered(bool value);
  // The values of the "?" placeholders of Filter, in order; none sends
  // Filter as written.
  const std::optional<std::vector<Variant>>& FilterParams() const { return filter_params_; }
  void SetFilterParams(std::optional<std::vector<Variant>> values) {
    filter_params_ = std::move(values);
  }
  // True while Filter takes part in the condition.
  bool FilterApplies() const { return filtered_ && !filter_.empty(); }

  // The pairs detail-field=master-field.
  const TStringList& MasterFields() const { return master_fields_; }
  // Parses comma text (items separated by "," or blanks, double quotes
  // around items holding them). Answers whether the pairs changed.
  bool SetMasterFields(const std::string& fields);
  // The master field names, separated by ";".
  std::string MasterFieldNames() const;

  // "(filter)" while FilterApplies() (its placeholders bound, each value
  // escaped), then "(detail='master value') AND ..." for every pair whose
  // master field exists in `master` (null: no open master), the master
  // values escaped, all joined by " AND ". "" for none. Fails when the
  // placeholder values do not fit Filter.
  std::string Build(const TDataSet* master, const TEscape& escape) const;

 private:
  std::string filter_;
  bool filtered_ = false;
  std::optional<std::vector<Variant>> filter_params_;
  TStringList master_fields_;
};

}  // namespace quill

// The row condition of a dataset: its filter and master-link pairs, and
// the SQL condition text built from them.
#include "mysql_dataset/row_condition.h"

#include <cassert>

#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"
#include "sql_parser/sql_placeholders.h"

namespace quill {

bool TRowCondition::SetFilter(const std::string& filter) {
  if (filter == filter_) return false;
  filter_ = filter;
  return true;
}

bool TRowCondition::SetFiltered(bool value) {
  if (value == filtered_) return false;
  filtered_ = value;
  return true;
}

bool TRowCondition::SetMasterFields(const std::string& fields) {
  TStringList pairs;
  pairs.SetCommaText(fields);
  if (pairs.Lines() == master_fields_.Lines()) return false;
  master_fields_.Assign(pairs);
  return true;
}

std::string TRowCondition::MasterFieldNames() const {
  std::string names;
  for (int i = 0; i < master_fields_.Count(); ++i) {
    if (i > 0) names += ';';
    names += master_fields_.ValueFromIndex(i);
  }
  return names;
}

std::string TRowCondition::Build(const TDataSet* master, const TEscape& escape) const {
  std::string filter_part;
  if (FilterApplies()) {
    filter_part =
        "(" + (filter_params_ ? BindPlaceholders(filter_, *filter_params_, escape) : filter_) + ")";
  }
  if (master_fields_.Count() == 0) return filter_part;
  std::string link;
  if (master != nullptr) {
    for (int i = 0; i < master_fields_.Count(); ++i) {
      const TField* field = master->LookupField(master_fields_.ValueFromIndex(i));
      if (field == nullptr) continue;
      // The master's value is data: a quote in it must not end the literal.
      link += "(" + master_fields_.Name(i) + "='" + escape(field->AsString()) + "') AND ";
    }
  }
  if (link.empty() || !filter_part.empty()) return link + filter_part;
  assert(link.ends_with(") AND "));
  link.resize(link.size() - 5);  // the last " AND "
  return link;
}

}  // namespace quill

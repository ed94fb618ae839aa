// TMasterDataLink: how a detail dataset follows its master.
//
// The link joins the master's data source (the detail's MasterSource) and
// tells the detail whenever the master opens or closes, moves to another
// row or has its data changed; the detail then re-reads its rows with a
// condition built from the master's current field values. The link also
// keeps the master field names of the detail's MasterFields pairs.
#pragma once

#include <string>

#include "mysql_dataset/data_source.h"

namespace quill {

class TMySQLDataset;

class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TMySQLDataset& detail) : detail_(detail) {}

  // The master field names, separated by ";".
  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(std::string names) { field_names_ = std::move(names); }

 protected:
  // Re-reads the detail. Failures reach the caller when the master opens;
  // when it closes they are dropped, so that the close completes.
  void ActiveChanged() override;
  // A field edited in the master does not move it; only whole-record
  // changes (a scroll, a post, a refresh) make the detail follow.
  void RecordChanged(TField* field) override;

 private:
  TMySQLDataset& detail_;
  std::string field_names_;
};

}  // namespace quill

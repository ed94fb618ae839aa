// TRowSearch: finding a row of a dataset by the values of some of its
// fields, among the rows it already holds (no statement is sent).
//
// A search names its key fields (separated by ";") and gives one key value,
// or an array of one value per field; a missing value and NULL count as
// "". A row matches when every key field's text equals its key's text, or
// (partial) contains it, ignoring case on request (ASCII and Latin-1
// letters).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"

namespace quill {

class TDataSet;
class TField;

class TRowSearch {
 public:
  // Looks the key fields up in `dataset`; fails with "Field '%s' not
  // found" for a name it does not have.
  // REQUIRES: `dataset` outlives the search.
  TRowSearch(TDataSet& dataset, std::string_view key_fields, const Variant& key_values,
             bool case_insensitive, bool partial_key);

  // True when the dataset's active record matches.
  bool Matches() const;

  // Tests the active record, then (when it does not match) every row from
  // the first. Stays on the row found and answers true; otherwise goes
  // back to the row it started from and answers false. Posts or cancels an
  // edit first; fails on a closed dataset. Consumers see no moves in
  // between.
  bool Locate();

  // The names of a ";"-separated list, each trimmed; empty names skipped.
  static std::vector<std::string> SplitNames(std::string_view names);
  // Upper case of ASCII and Latin-1 letters (UTF-8).
  static std::string FoldCase(std::string_view text);

 private:
  TDataSet& dataset_;
  std::vector<TField*> fields_;
  std::vector<Variant> keys_;  // one per field
  bool case_insensitive_;
  bool partial_key_;
};

}  // namespace quill

// TMySQLStringField: the field of every string column of a MySQL dataset.
// Besides the text it knows whether its column is an ENUM or a SET and which
// values the column permits, both read from the column's description.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "base/string_list.h"
#include "mysql_dataset/fields.h"

namespace quill {

enum TMySQLStringTypes : uint8_t { stNone, stNormal, stEnum, stSet };
// "stNone", "stNormal", "stEnum", "stSet".
std::span<const std::string_view> MySQLStringTypeNames();

class TMySQLStringField : public TStringField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TMySQLStringField(TDataSet& dataset);
  ~TMySQLStringField() override;

  // On a field bound to a column of a MySQL dataset: stSet for a SET column,
  // stEnum for an ENUM column, else stNormal (and that is stored). On any
  // other field: the value last set (stNormal at first).
  TMySQLStringTypes StringType() const;
  void SetStringType(TMySQLStringTypes type) { string_type_ = type; }

  // The permitted values of an ENUM or SET column, one per line, refilled
  // from the column's description when it has them; otherwise the list as
  // last set. The list is owned by the field.
  TStringList& StringValues() const;
  // Copies the lines when their text differs from the current list's.
  void SetStringValues(const TStringList& values);

 private:
  mutable TMySQLStringTypes string_type_ = stNormal;
  std::unique_ptr<TStringList> string_values_;
};

}  // namespace quill

// TMySQLMacros: a dataset's collection of named macros, each a name and a
// value that the SQL templates refer to by name. This file holds the
// collection as data (names, values, published properties); collecting the
// names from the templates and expanding them belong to the macro engine.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/collection.h"
#include "base/variant.h"
#include "mysql_dataset/field_types.h"

namespace quill {

enum class TParamType : uint8_t { Unknown, Input, Output, InputOutput, Result };
// "ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult".
std::span<const std::string_view> ParamTypeNames();

class TMySQLMacro : public TCollectionItem {
  QUILL_DECLARE_CLASS()

 public:
  explicit TMySQLMacro(TCollection* collection) : TCollectionItem(collection) {}

  std::string Name;
  Variant Value;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = TParamType::Unknown;

  // The value as text ("" for Empty and Null).
  std::string AsString() const { return Value.AsString(); }
};

class TMySQLMacros : public TCollection {
  QUILL_DECLARE_CLASS()

 public:
  TMySQLMacros() = default;

  std::string_view ItemClassName() const override { return "TMySQLMacro"; }
  // REQUIRES: 0 <= index < Count(); else EListError.
  TMySQLMacro& Macro(int index) const { return static_cast<TMySQLMacro&>(*Item(index)); }
  // The first macro named `name` (ASCII case ignored), or null.
  TMySQLMacro* FindMacro(std::string_view name) const;
  // Appends a macro with that name and an Empty value.
  TMySQLMacro& AddMacro(std::string name);
  // Copies the values of the macros of `other` whose names exist here.
  void AssignValues(const TMySQLMacros& other);

 protected:
  std::unique_ptr<TCollectionItem> NewItem() override {
    return std::make_unique<TMySQLMacro>(this);
  }
};

}  // namespace quill

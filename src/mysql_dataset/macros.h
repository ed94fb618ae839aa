// TMySQLMacros: a dataset's collection of named macros, each a name and a
// value that the SQL templates refer to by name. The collection holds the
// names and values (and the published properties scripts reach them by);
// ParseSQL collects the names a template uses, and the dataset's expansion
// (TMySQLDataset::ExpandSQL) reads the values.
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

  // Scripts know the item class by this name.
  std::string_view ItemClassName() const override { return "TParam"; }
  // REQUIRES: 0 <= index < Count(); else EListError.
  TMySQLMacro& Macro(int index) const { return static_cast<TMySQLMacro&>(*Item(index)); }
  // The first macro named `name` (ASCII case ignored), or null.
  TMySQLMacro* FindMacro(std::string_view name) const;
  // Appends a macro with that name and an Empty value.
  TMySQLMacro& AddMacro(std::string name);
  // Copies the values of the macros of `other` whose names exist here.
  void AssignValues(const TMySQLMacros& other);
  // Reads `sql` for macros written between "[" and "]" (whatever the
  // dataset's delimiters are) and takes the first word of each, words being
  // separated by any character of `macro_del`. With `do_create`, a name not
  // yet in the collection is appended with an Empty value. Never fails on
  // malformed SQL: unterminated strings and comments end at the line end or
  // the end of the text.
  void ParseSQL(std::string_view sql, std::string_view macro_del, bool do_create);

 protected:
  std::unique_ptr<TCollectionItem> NewItem() override {
    return std::make_unique<TMySQLMacro>(this);
  }
};

}  // namespace quill

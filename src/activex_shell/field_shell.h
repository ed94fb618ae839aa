// Tactivex_shell_field: the shell over one field of a dataset. It reads and
// writes the value in several forms (variant, text, bytes), reports type
// and nullness, exposes the column description the MySQL dataset keeps,
// and falls back on the generic shell for everything else (so the field's
// published properties are reachable too).
//
// The verbs are the members of Tshell_field_method, each named "f_" and the
// verb; a script name is looked up by prefixing "f_" and comparing without
// regard to case. Which operation answers which verb:
//
//   verb                 read  call  write   value
//   fieldname, name       x     x            the field's FieldName (writes
//                                            go to the published FieldName
//                                            and Name)
//   "" (empty), value     x     x     x      the value; NULL reads as Null;
//                                            Empty clears the field
//   asstring              x     x     x      the text form
//   isblob, isnull,       x     x            Booleans; isindexfield: the
//   isindexfield                             field is in one of the
//                                            dataset's keys
//   type                  x     x            the field type's ordinal
//   mysqlname, mysqltable, mysqltype,        the column description, found
//   mysqldefault, mysqlvalues, mysqllength,  by the field's name; Empty when
//   mysqlmaxlength, mysqlflags, mysqldec     no column has that name. Read
//                         x                  only (a call answers Empty)
//   asblob                x     x     x      a blob field's bytes as an array
//                                            of bytes (VT_ARRAY | VT_UI1)
//                                            from 0; Empty for other fields.
//                                            A write takes the low 8 bits of
//                                            every element of an array;
//                                            non-arrays and non-blob fields
//                                            are left alone
//   clear                       x            sets the field to NULL
//
// Every other name, and every verb in an operation it lacks a mark for,
// goes to the generic operation. Over nothing (a findfield miss), every
// read and write fails with PropertyNotFound and every call answers Empty.
// Unsigned column numbers beyond the Integer range read as Int64.
#pragma once

#include <array>
#include <bitset>
#include <string>
#include <string_view>

#include "activex_shell/activex_shell.h"

namespace quill {

class TField;

enum Tshell_field_method : uint8_t {
  f_fieldname, f_name, f_, f_value, f_asstring, f_isblob, f_isnull, f_isindexfield, f_type,
  f_mysqlname, f_mysqltable, f_mysqltype, f_mysqldefault, f_mysqlvalues, f_mysqllength,
  f_mysqlmaxlength, f_mysqlflags, f_mysqldec, f_asblob, f_clear,
};
inline constexpr size_t kShellFieldMethodCount = f_clear + 1;
using Tshell_field_methods = std::bitset<kShellFieldMethodCount>;

// The member names ("f_fieldname", "f_name", "f_", ...) by ordinal.
extern const std::array<std::string_view, kShellFieldMethodCount> kShellFieldMethodNames;

class Tactivex_shell_field : public Tactivex_shell {
 public:
  // REQUIRES: `object` is a TField or null.
  explicit Tactivex_shell_field(TObject* object) : Tactivex_shell(object) {}

  Variant get_property(const std::string& name) override;
  void set_property(const std::string& name, const Variant& value) override;
  Variant call_method(const std::string& name, const Variant& params) override;
  bool has_name(const std::string& name) override;

 private:
  TField* field() const;
};

// The member for a script name ("f_" + name, case ignored), or false.
bool find_field_method(std::string_view name, Tshell_field_method* out);

// A new field shell over `field` (null: over nothing) as a Dispatch value.
// Unlike shell_value, a null field still gets the field vocabulary, so
// that its reads fail with PropertyNotFound rather than as unknown names.
Variant field_shell_value(TField* field);

}  // namespace quill

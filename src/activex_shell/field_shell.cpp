// The field shell's verbs.
#include "activex_shell/field_shell.h"

#include <limits>

#include "activex_shell/variant_convert.h"
#include "base/string_list.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

const std::array<std::string_view, kShellFieldMethodCount> kShellFieldMethodNames = {
    "f_fieldname",   "f_name",        "f_",           "f_value",        "f_asstring",
    "f_isblob",      "f_isnull",      "f_isindexfield", "f_type",       "f_mysqlname",
    "f_mysqltable",  "f_mysqltype",   "f_mysqldefault", "f_mysqlvalues", "f_mysqllength",
    "f_mysqlmaxlength", "f_mysqlflags", "f_mysqldec", "f_asblob",       "f_clear",
};

namespace {

Tshell_field_methods Members(std::initializer_list<Tshell_field_method> members) {
  Tshell_field_methods set;
  for (Tshell_field_method m : members) set.set(m);
  return set;
}

const Tshell_field_methods kReadable = ~Members({f_clear});
const Tshell_field_methods kCallable =
    Members({f_fieldname, f_name, f_, f_value, f_asstring, f_isblob, f_isnull, f_isindexfield,
             f_type, f_asblob, f_clear});
const Tshell_field_methods kWritable = Members({f_, f_value, f_asstring, f_asblob});

Variant Unsigned(uint32_t v) {
  if (v > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return Variant(static_cast<int64_t>(v));
  }
  return Variant(static_cast<int32_t>(v));
}

// The column description of the field's name in its MySQL dataset, or null.
const TFieldInfo* ColumnInfoOf(const TField& field) {
  auto* ds = dynamic_cast<const TMySQLDataset*>(&field.DataSet());
  if (ds == nullptr) return nullptr;
  int index = ds->IndexOfColumn(field.FieldName());
  return index < 0 ? nullptr : &ds->ColumnInfo(index);
}

Variant ColumnItem(const TField& field, Tshell_field_method verb) {
  const TFieldInfo* info = ColumnInfoOf(field);
  if (info == nullptr) return Variant();
  switch (verb) {
    case f_mysqlname: return Variant(info->Name);
    case f_mysqltable: return Variant(info->Table);
    case f_mysqltype: return Variant(static_cast<int32_t>(info->FieldType));
    case f_mysqldefault: return Variant(info->Default);
    case f_mysqlvalues: return Variant(info->EnumValues);
    case f_mysqllength: return Unsigned(info->Length);
    case f_mysqlmaxlength: return Unsigned(info->MaxLength);
    case f_mysqlflags: return Unsigned(info->Flags);
    case f_mysqldec: return Unsigned(info->Decimals);
    default: return Variant();
  }
}

// A value read or called.
Variant Read(TField& field, Tshell_field_method verb) {
  switch (verb) {
    case f_fieldname:
    case f_name: return Variant(field.FieldName());
    case f_:
    case f_value: return field.AsVariant();
    case f_asstring: return Variant(field.AsString());
    case f_isblob: return Variant(field.IsBlob());
    case f_isnull: return Variant(field.IsNull());
    case f_isindexfield: {
      auto* ds = dynamic_cast<const TMySQLDataset*>(&field.DataSet());
      return Variant(ds != nullptr && ds->IsKeyField(field));
    }
    case f_type: return Variant(static_cast<int32_t>(field.DataType()));
    case f_asblob: return field.IsBlob() ? ByteArrayValue(field.AsString()) : Variant();
    case f_clear: field.Clear(); return Variant();
    default: return ColumnItem(field, verb);
  }
}

// One byte per element, from the array's low bound to its high bound. An
// element that is no whole number from 0 to 255 fails: cutting it to a byte
// would store something else than the script gave.
std::string BytesOf(const VariantArray& array) {
  std::string bytes;
  bytes.reserve(array.Items.size());
  for (size_t i = 0; i < array.Items.size(); ++i) {
    const Variant& item = array.Items[i];
    const double number = item.IsNumeric() ? item.AsDouble() : -1;
    if (!(number >= 0 && number <= 255) || number != static_cast<double>(static_cast<int>(number))) {
      throw EVariantError("Element " + std::to_string(i + static_cast<size_t>(array.LowBound)) +
                          " of the byte array is not a byte value (0 to 255)");
    }
    bytes += static_cast<char>(static_cast<int>(number));
  }
  return bytes;
}

// Writes a script value into a field: an array as the bytes of a blob field
// (any other field refuses it), anything else through SetAsVariant.
void WriteValue(TField& field, const Variant& value) {
  if (!value.IsArray()) {
    field.SetAsVariant(value);
    return;
  }
  if (!field.IsBlob()) {
    throw EVariantError("Field '" + field.FieldName() + "' cannot take an array value");
  }
  field.SetAsString(BytesOf(value.RawArray()));
}

}  // namespace

bool find_field_method(std::string_view name, Tshell_field_method* out) {
  std::string member = "f_" + std::string(name);
  for (size_t i = 0; i < kShellFieldMethodNames.size(); ++i) {
    if (SameText(kShellFieldMethodNames[i], member)) {
      *out = static_cast<Tshell_field_method>(i);
      return true;
    }
  }
  return false;
}

Variant field_shell_value(TField* field) {
  // The value takes the new shell's first reference.
  return Variant(static_cast<IDispatch*>(new Tactivex_shell_field(field)));
}

TField* Tactivex_shell_field::field() const { return dynamic_cast<TField*>(wrapped()); }

bool Tactivex_shell_field::has_name(const std::string& name) {
  if (Tactivex_shell::has_name(name)) return true;
  std::string member = "f_" + name;
  for (std::string_view known : kShellFieldMethodNames) {
    if (known == member) return true;
  }
  return false;
}

Variant Tactivex_shell_field::get_property(const std::string& name) {
  TField* f = field();
  if (f == nullptr) throw PropertyNotFound(name);
  Tshell_field_method verb;
  if (find_field_method(name, &verb) && kReadable.test(verb)) return Read(*f, verb);
  return Tactivex_shell::get_property(name);
}

void Tactivex_shell_field::set_property(const std::string& name, const Variant& value) {
  TField* f = field();
  if (f == nullptr) throw PropertyNotFound(name);
  Tshell_field_method verb;
  if (!find_field_method(name, &verb) || !kWritable.test(verb)) {
    Tactivex_shell::set_property(name, value);
    return;
  }
  switch (verb) {
    case f_asstring: f->SetAsString(value_text(value)); return;
    case f_asblob:
      if (!f->IsBlob()) {
        throw EVariantError("Field '" + f->FieldName() + "' is not a blob field");
      }
      WriteValue(*f, value);
      return;
    default: WriteValue(*f, value); return;  // the empty name and value
  }
}

Variant Tactivex_shell_field::call_method(const std::string& name, const Variant& params) {
  TField* f = field();
  if (f == nullptr) return Variant();
  Tshell_field_method verb;
  if (find_field_method(name, &verb) && kCallable.test(verb)) return Read(*f, verb);
  return Tactivex_shell::call_method(name, params);
}

}  // namespace quill

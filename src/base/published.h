// Published-property tables: the reflection that lets a shell read and write
// the ordinary properties of any object by name.
//
// Each reflectable class declares a constant table of PropertyInfo entries in
// its TClassInfo; lookup searches the class's table, then its parent's, up to
// the root, and takes the first entry whose name equals the requested one
// without regard to ASCII case.
//
// Readers and writers move values in one representation per kind:
//   Integer, Char   Variant Integer (a character as its code)
//   Enumeration     Variant Integer holding the ordinal
//   Float           Variant Double
//   String          Variant String
//   Set             Variant Integer, bit n for the member of ordinal n
//   Variant         any Variant
//   Int64           Variant Int64
//   Object          TObject* through ObjectReader / ObjectWriter
//   Event           nothing: no reader, no writer
// The rules that turn script values into these (enumerations set by name,
// Booleans only from a boolean or a name) belong to the shells.
#pragma once

#include <span>
#include <string_view>

#include "base/object.h"
#include "base/variant.h"

namespace quill {

enum class PropertyKind : uint8_t {
  Integer,
  Char,
  Enumeration,
  Float,
  String,
  Set,
  Object,
  Event,
  Variant,
  Int64,
};

using PropertyReader = quill::Variant (*)(const TObject& self);
using PropertyWriter = void (*)(TObject& self, const quill::Variant& value);
using ObjectReader = TObject* (*)(const TObject& self);
using ObjectWriter = void (*)(TObject& self, TObject* value);

struct PropertyInfo {
  std::string_view Name;
  PropertyKind Kind;
  // Enumerations: the value names in ordinal order; sets: the member names.
  std::span<const std::string_view> EnumNames = {};
  // Object properties: the class of the referenced object.
  const TClassInfo* ObjectClass = nullptr;
  PropertyReader Read = nullptr;
  PropertyWriter Write = nullptr;  // null: read-only
  ObjectReader ReadObject = nullptr;
  ObjectWriter WriteObject = nullptr;  // null: read-only
  // The declared default, as text ("3306", "True", "taLeftJustify"); empty
  // when the class declares none.
  std::string_view Default = {};

  bool IsBoolean() const;
  bool Writable() const { return Write != nullptr || WriteObject != nullptr; }
};

inline constexpr std::string_view kBooleanNames[] = {"False", "True"};

// The first entry named `name` (ASCII case ignored) in `cls` or its parents,
// or null.
const PropertyInfo* FindProperty(const TClassInfo& cls, std::string_view name);

// Every entry visible on `cls`, the class's own first, each name once.
std::vector<const PropertyInfo*> ListProperties(const TClassInfo& cls);

// Ordinal of `name` among `names` (ASCII case ignored), or -1.
int EnumOrdinal(std::span<const std::string_view> names, std::string_view name);

// Builders for table entries.
constexpr PropertyInfo IntegerProp(std::string_view name, PropertyReader r, PropertyWriter w,
                                   std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Integer, {}, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo StringProp(std::string_view name, PropertyReader r, PropertyWriter w,
                                  std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::String, {}, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo FloatProp(std::string_view name, PropertyReader r, PropertyWriter w,
                                 std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Float, {}, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo BooleanProp(std::string_view name, PropertyReader r, PropertyWriter w,
                                   std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Enumeration, kBooleanNames, nullptr, r, w,
                      nullptr, nullptr, def};
}
constexpr PropertyInfo EnumProp(std::string_view name, std::span<const std::string_view> names,
                                PropertyReader r, PropertyWriter w, std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Enumeration, names, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo SetProp(std::string_view name, std::span<const std::string_view> names,
                               PropertyReader r, PropertyWriter w, std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Set, names, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo VariantProp(std::string_view name, PropertyReader r, PropertyWriter w) {
  return PropertyInfo{name, PropertyKind::Variant, {}, nullptr, r, w, nullptr, nullptr, {}};
}
constexpr PropertyInfo Int64Prop(std::string_view name, PropertyReader r, PropertyWriter w,
                                 std::string_view def = {}) {
  return PropertyInfo{name, PropertyKind::Int64, {}, nullptr, r, w, nullptr, nullptr, def};
}
constexpr PropertyInfo ObjectProp(std::string_view name, const TClassInfo* cls, ObjectReader r,
                                  ObjectWriter w) {
  return PropertyInfo{name, PropertyKind::Object, {}, cls, nullptr, nullptr, r, w, {}};
}
constexpr PropertyInfo EventProp(std::string_view name) {
  return PropertyInfo{name, PropertyKind::Event, {}, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
}

}  // namespace quill

// The macro collection as data, with the published properties of a macro.
#include "mysql_dataset/macros.h"

#include "base/published.h"
#include "base/string_list.h"

namespace quill {

namespace {

constexpr std::string_view kParamTypeNameTable[] = {"ptUnknown", "ptInput", "ptOutput",
                                                    "ptInputOutput", "ptResult"};

const TMySQLMacro& M(const TObject& o) { return static_cast<const TMySQLMacro&>(o); }
TMySQLMacro& M(TObject& o) { return static_cast<TMySQLMacro&>(o); }

const PropertyInfo kMacroProps[] = {
    EnumProp(
        "DataType", FieldTypeNames(),
        [](const TObject& o) { return Variant(static_cast<int32_t>(M(o).DataType)); },
        [](TObject& o, const Variant& v) {
          const int32_t type = v.AsInteger();
          if (type >= 0 && type < kFieldTypeCount) M(o).DataType = static_cast<TFieldType>(type);
        }),
    StringProp(
        "Name", [](const TObject& o) { return Variant(M(o).Name); },
        [](TObject& o, const Variant& v) { M(o).Name = v.AsString(); }),
    EnumProp(
        "ParamType", kParamTypeNameTable,
        [](const TObject& o) { return Variant(static_cast<int32_t>(M(o).ParamType)); },
        [](TObject& o, const Variant& v) {
          const int32_t type = v.AsInteger();
          if (type >= 0 && type <= static_cast<int32_t>(TParamType::Result)) {
            M(o).ParamType = static_cast<TParamType>(type);
          }
        }),
    VariantProp(
        "Value", [](const TObject& o) { return M(o).Value; },
        [](TObject& o, const Variant& v) { M(o).Value = v; }),
};

}  // namespace

std::span<const std::string_view> ParamTypeNames() { return kParamTypeNameTable; }

const TClassInfo TMySQLMacro::StaticClassInfo{"TMySQLMacro", &TCollectionItem::StaticClassInfo,
                                              kMacroProps};
const TClassInfo TMySQLMacros::StaticClassInfo{"TMySQLMacros", &TCollection::StaticClassInfo, {}};

TMySQLMacro* TMySQLMacros::FindMacro(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    TMySQLMacro& macro = Macro(i);
    if (SameText(macro.Name, name)) return &macro;
  }
  return nullptr;
}

TMySQLMacro& TMySQLMacros::AddMacro(std::string name) {
  auto& macro = static_cast<TMySQLMacro&>(*Add());
  macro.Name = std::move(name);
  return macro;
}

void TMySQLMacros::AssignValues(const TMySQLMacros& other) {
  for (int i = 0; i < other.Count(); ++i) {
    const TMySQLMacro& source = other.Macro(i);
    if (TMySQLMacro* target = FindMacro(source.Name)) target->Value = source.Value;
  }
}

}  // namespace quill

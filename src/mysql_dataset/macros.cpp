// The macro collection: names and values, the published properties of a
// macro, and the collecting of macro names from SQL text.
#include "mysql_dataset/macros.h"

#include "base/published.h"
#include "base/string_list.h"
#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

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

void TMySQLMacros::ParseSQL(std::string_view sql, std::string_view macro_del, bool do_create) {
  TBasicParser parser(sql);
  ConfigureForMacros(parser);
  for (;;) {
    const TTokenProps& token = parser.NextToken(false);
    if (token.Kind == ptEnd) break;
    if (token.Kind != ptBracket) continue;
    std::string name = ExtractWord(1, token.Text, macro_del);
    // A stray closer names nothing.
    if (name.empty()) continue;
    if (do_create && FindMacro(name) == nullptr) AddMacro(std::move(name));
  }
}

}  // namespace quill

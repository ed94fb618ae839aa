// The macro collection: names and values, the published properties of a
// macro, and the collecting of macro names from SQL text.
#include "mysql_dataset/macros.h"

#include <memory>
#include <vector>

#include "base/published.h"
#include "base/shared_text_cache.h"
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

// The macro names of one SQL text, in the order written (repeats kept).
using MacroNameList = std::vector<std::string>;

MacroNameList CollectNames(std::string_view sql, std::string_view macro_del) {
  MacroNameList names;
  TBasicParser parser(sql);
  ConfigureForMacros(parser);
  for (;;) {
    const TTokenProps& token = parser.NextToken(false);
    if (token.Kind == ptEnd) break;
    if (token.Kind != ptBracket) continue;
    std::string name = ExtractWord(1, token.Text, macro_del);
    // A stray closer names nothing.
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

// Every dataset starts with the same default templates, and pages create
// datasets on every request: the names of a text are collected once per
// process and shared, immutable, between threads. Long texts (a script's
// own SQL) are read each time; the cache starts afresh when full.
constexpr size_t kMaxCachedText = 4096;
constexpr size_t kMaxCachedTexts = 256;

std::shared_ptr<const MacroNameList> MacroNamesOf(std::string_view sql,
                                                  std::string_view macro_del) {
  if (sql.size() > kMaxCachedText) {
    return std::make_shared<const MacroNameList>(CollectNames(sql, macro_del));
  }
  // The delimiters' length goes first, so that no two pairs make one key.
  std::string key = std::to_string(macro_del.size());
  key += ':';
  key.append(macro_del);
  key.append(sql);
  static auto* cache = new SharedTextCache<MacroNameList>(kMaxCachedTexts);  // used from exit paths too
  return cache->Get(key, [&] { return std::make_shared<const MacroNameList>(CollectNames(sql, macro_del)); });
}

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
  if (!do_create) return;  // reading alone changes nothing
  const std::shared_ptr<const MacroNameList> names = MacroNamesOf(sql, macro_del);
  for (const std::string& name : *names) {
    if (FindMacro(name) == nullptr) AddMacro(name);
  }
}

}  // namespace quill

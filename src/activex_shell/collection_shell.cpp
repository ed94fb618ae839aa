// The collection shell's names and verbs.
#include "activex_shell/collection_shell.h"

#include "base/collection.h"
#include "base/string_list.h"

namespace quill {

TCollection* Tactivex_shell_collection::collection() const {
  return dynamic_cast<TCollection*>(wrapped());
}

bool Tactivex_shell_collection::has_name(const std::string& name) {
  return Tactivex_shell::has_name(name) || name_in_list(name, kNames);
}

Variant Tactivex_shell_collection::get_property(const std::string& name) {
  TCollection* items = collection();
  if (items == nullptr || name.empty()) throw PropertyNotFound(name);
  if (SameText(name, "count")) return Variant(static_cast<int32_t>(items->Count()));
  if (SameText(name, "itemclass")) return Variant(items->ItemClassName());
  return Tactivex_shell::get_property(name);
}

Variant Tactivex_shell_collection::call_method(const std::string& name, const Variant& params) {
  TCollection* items = collection();
  if (items == nullptr || name.empty()) return Variant();
  const size_t argc = param_count(params);

  if (name == "item") {
    if (argc < 1) return Variant();
    int32_t i = index_value(param(params, 0));
    if (i < 0 || i >= items->Count()) return Variant();
    return shell_value(items->Item(i));
  }
  if (name == "finditemid") {
    if (argc < 1) return Variant();
    int32_t id = index_value(param(params, 0));
    TCollectionItem* item = items->FindItemID(id);
    if (item != nullptr || (id >= 0 && id < items->Count())) return shell_value(item);
    return Variant();
  }
  if (name == "add") return shell_value(items->Add());
  if (name == "clear") {
    items->Clear();
    return Variant();
  }
  return Tactivex_shell::call_method(name, params);
}

}  // namespace quill

// The string-list shell's names and verbs.
#include "activex_shell/strings_shell.h"

#include "base/string_list.h"

namespace quill {

TStringList* Tactivex_shell_strings::list() const { return dynamic_cast<TStringList*>(wrapped()); }

bool Tactivex_shell_strings::has_name(const std::string& name) {
  return Tactivex_shell::has_name(name) || name_in_list(name, kNames);
}

Variant Tactivex_shell_strings::get_property(const std::string& name) {
  TStringList* lines = list();
  if (lines == nullptr || name.empty()) throw PropertyNotFound(name);
  if (SameText(name, "count")) return Variant(static_cast<int32_t>(lines->Count()));
  if (SameText(name, "text")) return Variant(lines->Text());
  return Tactivex_shell::get_property(name);
}

void Tactivex_shell_strings::set_property(const std::string& name, const Variant& value) {
  TStringList* lines = list();
  if (lines == nullptr || name.empty()) throw PropertyNotFound(name);
  if (SameText(name, "text")) {
    lines->SetText(value_text(value));
    return;
  }
  Tactivex_shell::set_property(name, value);
}

Variant Tactivex_shell_strings::call_method(const std::string& name, const Variant& params) {
  TStringList* lines = list();
  if (lines == nullptr || name.empty()) return Variant();
  const size_t argc = param_count(params);
  auto in_range = [lines](int32_t i) { return i >= 0 && i < lines->Count(); };

  if (name == "strings" || name == "item") {
    if (argc < 1) return Variant();
    int32_t i = index_value(param(params, 0));
    return Variant(in_range(i) ? (*lines)[i] : std::string());
  }
  if (name == "setstrings" || name == "setitem") {
    if (argc < 2) return Variant();
    int32_t i = index_value(param(params, 0));
    if (in_range(i)) lines->Put(i, value_text(param(params, 1)));
    return Variant();
  }
  if (name == "add" || name == "append") {
    if (argc < 1) return Variant();
    return Variant(static_cast<int32_t>(lines->Add(value_text(param(params, 0)))));
  }
  if (name == "clear") {
    lines->Clear();
    return Variant();
  }
  if (name == "exchange" || name == "move") {
    if (argc < 2) return Variant();
    int32_t i = index_value(param(params, 0));
    int32_t j = index_value(param(params, 1));
    if (in_range(i) && in_range(j)) {
      if (name == "exchange") {
        lines->Exchange(i, j);
      } else {
        lines->Move(i, j);
      }
    }
    return Variant();
  }
  if (name == "indexof") {
    if (argc < 1) return Variant();
    return Variant(static_cast<int32_t>(lines->IndexOf(value_text(param(params, 0)))));
  }
  if (name == "insert") {
    if (argc < 2) return Variant();
    int32_t i = index_value(param(params, 0));
    if (i >= 0 && i <= lines->Count()) lines->Insert(i, value_text(param(params, 1)));
    return Variant();
  }
  if (name == "loadfromfile") {
    if (argc < 1) return Variant();
    lines->LoadFromFile(value_text(param(params, 0)));
    return Variant();
  }
  if (name == "savetofile") {
    if (argc < 1) return Variant();
    lines->SaveToFile(value_text(param(params, 0)));
    return Variant();
  }
  return Tactivex_shell::call_method(name, params);
}

}  // namespace quill

// The census of the modules pages created objects from (module_census.h).
// A module is found as activation finds it, through the registry; it is
// asked only when it is loaded already (RTLD_NOLOAD), so that asking never
// runs a module's start-up code.
#include "host/asp/module_census.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/utf8.h"

namespace quill::asp {

namespace {

std::mutex g_mutex;
std::vector<CLSID>& NotedClasses() {
  static auto* classes = new std::vector<CLSID>();  // lives past exit
  return *classes;
}

std::string GuidText(const CLSID& clsid) {
  OLECHAR text[40];
  if (StringFromGUID2(clsid, text, 40) == 0) return std::string();
  return Utf16ToUtf8(text);
}

// The module path registered for `clsid`; empty when there is none.
std::string RegisteredModule(const std::string& clsid_text) {
  HKEY key = nullptr;
  const std::string path = "CLSID\\" + clsid_text + "\\InprocServer32";
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  DWORD type = 0, size = 0;
  std::string value;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    value.resize(size);
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      value.clear();
    }
    value.resize(std::min<size_t>(size, value.size()));
  }
  RegCloseKey(key);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

HRESULT AskModule(const std::string& path) {
  if (path.empty()) return E_FAIL;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return E_FAIL;
  auto can_unload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  const HRESULT hr = can_unload != nullptr ? can_unload() : E_FAIL;
  dlclose(module);  // only the reference RTLD_NOLOAD added
  return hr;
}

}  // namespace

void NoteCreatedClass(const CLSID& clsid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<CLSID>& classes = NotedClasses();
  const auto same = [&clsid](const CLSID& c) { return std::memcmp(&c, &clsid, sizeof(CLSID)) == 0; };
  if (std::none_of(classes.begin(), classes.end(), same)) classes.push_back(clsid);
}

std::vector<ModuleState> CreatedModuleStates() {
  std::vector<CLSID> classes;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    classes = NotedClasses();
  }
  std::vector<ModuleState> states;
  for (const CLSID& clsid : classes) {
    ModuleState state;
    state.clsid = GuidText(clsid);
    state.path = RegisteredModule(state.clsid);
    const bool known = std::any_of(states.begin(), states.end(), [&state](const ModuleState& s) {
      return !state.path.empty() && s.path == state.path;
    });
    if (known) continue;
    state.can_unload = AskModule(state.path);
    states.push_back(std::move(state));
  }
  return states;
}

}  // namespace quill::asp

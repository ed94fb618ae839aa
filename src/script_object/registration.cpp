// Writing and removing the module's registry entries.
#include "script_object/registration.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "base/utf8.h"
#include "platform/olert/automation.h"
#include "script_object/quill_interface.h"
#include "script_object/type_library.h"

namespace quill {

namespace {

// A function of the automation runtime found by name at run time, or null
// when the runtime lacks it.
void* RuntimeFunction(const char* name) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SysAllocString), &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  void* runtime = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (runtime == nullptr) return nullptr;
  void* fn = dlsym(runtime, name);
  dlclose(runtime);
  return fn;
}

void SetKey(const std::string& key, const char* value_name, const std::string& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    throw Exception("Error creating system registry entry");
  }
  const LSTATUS status =
      RegSetValueExA(handle, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) throw Exception("Error creating system registry entry");
}

}  // namespace

std::string GuidText(const GUID& guid) {
  OLECHAR buffer[40];
  const int n = StringFromGUID2(guid, buffer, 40);
  return n > 0 ? Utf16ToUtf8(std::u16string_view(buffer, static_cast<size_t>(n - 1)))
               : std::string();
}

void RegisterQuillServer(const std::string& module_path) {
  const std::string clsid = GuidText(CLSID_Quill);
  const std::string class_key = "CLSID\\" + clsid;
  char version[32];
  std::snprintf(version, sizeof(version), "%d.%d", kTypeLibrary.MajorVersion,
                kTypeLibrary.MinorVersion);
  SetKey(class_key, nullptr, kClassDescription);
  SetKey(class_key + "\\InprocServer32", nullptr, module_path);
  SetKey(class_key + "\\InprocServer32", "ThreadingModel", "Apartment");
  SetKey(kProgID, nullptr, kClassDescription);
  SetKey(std::string(kProgID) + "\\Clsid", nullptr, clsid);
  SetKey(class_key + "\\ProgID", nullptr, kProgID);
  SetKey(class_key + "\\Version", nullptr, version);
  SetKey(class_key + "\\TypeLib", nullptr, GuidText(LIBID_Harrow));

  // The type library lives in the module as data and is served from there;
  // a runtime that keeps a type-library registry of its own is told about
  // it too.
  using LoadFn = HRESULT (*)(LPCOLESTR, IUnknown**);
  using RegisterFn = HRESULT (*)(IUnknown*, LPCOLESTR, LPCOLESTR);
  auto load = reinterpret_cast<LoadFn>(RuntimeFunction("LoadTypeLib"));
  auto reg = reinterpret_cast<RegisterFn>(RuntimeFunction("RegisterTypeLib"));
  if (load != nullptr && reg != nullptr) {
    std::u16string path = Utf8ToUtf16(module_path);
    olert::ComPtr<IUnknown> library;
    if (SUCCEEDED(load(path.c_str(), library.Receive())) && library) {
      if (FAILED(reg(library.get(), path.c_str(), nullptr))) {
        throw Exception("Error creating system registry entry");
      }
    }
  }
}

void UnregisterQuillServer() noexcept {
  try {
    using UnregisterFn = HRESULT (*)(const GUID&, WORD, WORD, LCID, int);
    if (auto unreg = reinterpret_cast<UnregisterFn>(RuntimeFunction("UnRegisterTypeLib"))) {
      unreg(LIBID_Harrow, kTypeLibrary.MajorVersion, kTypeLibrary.MinorVersion,
            kTypeLibrary.Locale, 1 /* SYS_WIN32 */);
    }
    const std::string class_key = "CLSID\\" + GuidText(CLSID_Quill);
    const std::string keys[] = {class_key + "\\TypeLib",       class_key + "\\Version",
                                class_key + "\\ProgID",        std::string(kProgID) + "\\Clsid",
                                kProgID,                       class_key + "\\InprocServer32",
                                class_key};
    for (const std::string& key : keys) RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
  } catch (...) {
    // Out of memory: whatever was not deleted stays.
  }
}

}  // namespace quill

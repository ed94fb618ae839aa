// activation.cpp: apartment bookkeeping, ProgID lookup and the activation of
// in-process servers.
//
// A class is found through HKCR\CLSID\{clsid}\InprocServer32, whose default
// value is the path of the module. Each module is loaded once and stays
// loaded for the life of the process: objects and factories it handed out
// may be alive anywhere, and unloading code under them would crash.
//
// The apartment calls only count per thread. Activation does not insist on
// them, so a client that forgets CoInitializeEx still works.
#include <dlfcn.h>

#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/core/utf.h"
#include "platform/olert/automation.h"
#include "platform/olert/internal.h"
#include "platform/olert/olert.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

thread_local int t_init_count = 0;
thread_local DWORD t_init_model = 0;

std::mutex g_modules_mutex;
std::map<std::string, GetClassObjectFn>& LoadedModules() {
  static auto* modules = new std::map<std::string, GetClassObjectFn>();  // lives past exit
  return *modules;
}

// The default value of a key under HKCR as text; false when either is absent
// or the value is not a string.
bool ReadDefaultString(const std::string& key_path, std::string& out) {
  DWORD type = 0;
  std::string data;
  if (olert::detail::QueryValue(HKEY_CLASSES_ROOT, key_path.c_str(), nullptr, type, data) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  while (!data.empty() && data.back() == '\0') data.pop_back();
  out = std::move(data);
  return true;
}

// The module's DllGetClassObject, loading the module on first use.
HRESULT FindEntryPoint(const std::string& path, GetClassObjectFn& entry) {
  std::lock_guard<std::mutex> lock(g_modules_mutex);
  auto& modules = LoadedModules();
  auto it = modules.find(path);
  if (it != modules.end()) {
    entry = it->second;
    return S_OK;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  entry = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  if (entry == nullptr) {
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  modules.emplace(path, entry);
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(void* /*pvReserved*/, DWORD dwCoInit) {
  DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (t_init_count > 0 && model != t_init_model) return RPC_E_CHANGED_MODE;
  t_init_model = model;
  return t_init_count++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void* pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_init_count > 0) --t_init_count;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = CLSID_NULL;
  if (lpszProgID == nullptr) return E_INVALIDARG;
  try {
    std::string progid = quill::core::Utf16ToUtf8(lpszProgID);
    if (progid.empty() || progid.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    std::string text;
    if (!ReadDefaultString(progid + "\\CLSID", text)) return CO_E_CLASSSTRING;
    std::u16string wide = quill::core::Utf8ToUtf16(text);
    if (!olert::detail::ParseGuid(wide, *lpclsid)) {
      *lpclsid = CLSID_NULL;
      return CO_E_CLASSSTRING;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* /*pvReserved*/, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if ((dwClsContext & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
  try {
    std::string path;
    std::string key = "CLSID\\" + olert::detail::FormatGuid(rclsid) + "\\InprocServer32";
    if (!ReadDefaultString(key, path)) return REGDB_E_CLASSNOTREG;
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    GetClassObjectFn entry;
    HRESULT hr = FindEntryPoint(path, entry);
    if (FAILED(hr)) return hr;
    hr = entry(rclsid, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;  // a careless server may leave it set
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  olert::ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_NOINTERFACE;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

}  // extern "C"

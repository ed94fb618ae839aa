// The four entry points of Quill.so, the only symbols the module exports.
// Everything else in the module is hidden (see quill.map).
#include "base/errors.h"
#include "platform/olert/olert.h"
#include "script_object/com_server.h"
#include "script_object/registration.h"

#define QUILL_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The server object exists from the moment the module is loaded; it only
// counts and never touches the registry.
[[maybe_unused]] const bool kServerReady = (quill::TComServer::Instance(), true);

}  // namespace

QUILL_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  quill::TAutoObjectFactory* factory = quill::TComServer::Instance().FindFactory(clsid);
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, object);
}

QUILL_MODULE_EXPORT HRESULT DllCanUnloadNow() {
  return quill::TComServer::Instance().CanUnloadNow();
}

QUILL_MODULE_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::string path = quill::TComServer::Instance().ModulePath();
    if (path.empty()) return E_FAIL;
    quill::RegisterQuillServer(path);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

QUILL_MODULE_EXPORT HRESULT DllUnregisterServer() {
  quill::UnregisterQuillServer();
  return S_OK;
}

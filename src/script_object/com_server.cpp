// The server object (counts, module path, factories) and the class factory.
#include "script_object/com_server.h"

#include <dlfcn.h>

#include <memory>

#include "activex_shell/shell_registry.h"
#include "platform/ui/ui_services.h"
#include "script_object/auto_object.h"
#include "script_object/quill.h"
#include "script_object/type_library.h"

namespace quill {

TComServer& TComServer::Instance() {
  // Lives as long as the module: objects and factories may report to it
  // until the very end.
  static TComServer* server = new TComServer;
  return *server;
}

HRESULT TComServer::CanUnloadNow() const {
  if (ObjectCount() != 0 || LockCount() != 0) return S_FALSE;
  // Shells handed to scripts run the module's code too, and may outlive
  // the object that made them.
  return shell_registry().count() != 0 ? S_FALSE : S_OK;
}

std::string TComServer::ModulePath() const {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&CreationErrorText), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path = info.dli_fname;
  // The loader may know the module by a relative name; the registry needs
  // a path that works from any directory.
  if (!path.empty() && path[0] != '/') {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      path = resolved;
      free(resolved);
    }
  }
  return path;
}

TAutoObjectFactory* TComServer::FindFactory(REFCLSID clsid) {
  static TAutoObjectFactory* quill_factory =
      new TAutoObjectFactory(CLSID_Quill, [] { return NewQuillObject(); });
  return clsid == quill_factory->ClassID() ? quill_factory : nullptr;
}

// --- TAutoObjectFactory ------------------------------------------------------------

std::string CreationErrorText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

TAutoObjectFactory::TAutoObjectFactory(const CLSID& clsid, Creator creator)
    : clsid_(clsid), creator_(std::move(creator)) {}

const char* TAutoObjectFactory::ClassName() const { return kClassName; }

const char* TAutoObjectFactory::Description() const { return kClassDescription; }

const IID& TAutoObjectFactory::ErrorIID() const { return IID_IQuill; }

HRESULT TAutoObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  TAutoObject* created = nullptr;
  try {
    created = creator_ ? creator_() : nullptr;
    if (created == nullptr) throw Exception("No object could be created");
    created->SetOuter(outer);
    created->Initialize();
  } catch (const std::exception& e) {
    delete created;
    ui::CurrentUiProvider()->MessageBox(CreationErrorText(e.what()), "VEV Error",
                                        ui::MB_OK | ui::MB_ICONSTOP | ui::MB_SETFOREGROUND);
    return E_UNEXPECTED;
  } catch (...) {
    delete created;
    ui::CurrentUiProvider()->MessageBox("Unexpected failure.", "VEV Error",
                                        ui::MB_OK | ui::MB_ICONSTOP | ui::MB_SETFOREGROUND);
    return E_UNEXPECTED;
  }
  // The first reference comes from this query; a failed query leaves none,
  // and the object is freed.
  const HRESULT hr = created->InnerUnknown()->QueryInterface(riid, object);
  if (FAILED(hr)) {
    *object = nullptr;
    delete created;
  }
  return hr;
}

HRESULT TAutoObjectFactory::LockServer(BOOL lock) {
  TComServer::Instance().LockServer(lock != FALSE);
  return S_OK;
}

}  // namespace quill

// Reference counting, aggregation, type-library-driven IDispatch, error
// information support and class information of the automation object, and
// the page scope (scripting context) of TASPObject.
#include "script_object/auto_object.h"

#include "script_object/com_server.h"
#include "script_object/dispatch_invoke.h"
#include "script_object/error_guard.h"
#include "script_object/type_info_object.h"

namespace quill {

// --- TAutoObject ------------------------------------------------------------------

TAutoObject::TAutoObject() { TComServer::Instance().ObjectCreated(); }

TAutoObject::~TAutoObject() { TComServer::Instance().ObjectDestroyed(); }

void* TAutoObject::FindInterface(REFIID riid) {
  // One vtable answers IDispatch, IQuill and IQuill2: IQuill2's slots begin
  // with IQuill's.
  if (riid == IID_IDispatch || riid == IID_IQuill || riid == IID_IQuill2) {
    return static_cast<IQuill2*>(this);
  }
  if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
  if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
  return nullptr;
}

HRESULT TAutoObject::TInnerUnknown::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  void* found = owner_.FindInterface(riid);
  *object = found;
  if (found == nullptr) return E_NOINTERFACE;
  // Interfaces handed out count on the controlling unknown.
  owner_.controlling_->AddRef();
  return S_OK;
}

ULONG TAutoObject::TInnerUnknown::AddRef() { return ++owner_.refs_; }

ULONG TAutoObject::TInnerUnknown::Release() {
  const ULONG left = --owner_.refs_;
  if (left == 0) delete &owner_;
  return left;
}

HRESULT TAutoObject::QueryInterface(REFIID riid, void** object) {
  return controlling_->QueryInterface(riid, object);
}

ULONG TAutoObject::AddRef() { return controlling_->AddRef(); }

ULONG TAutoObject::Release() { return controlling_->Release(); }

HRESULT TAutoObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TAutoObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = NewQuillTypeInfo();
  return *info != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TAutoObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return QuillGetIDsOfNames(names, count, ids);
}

HRESULT TAutoObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* arg_error) {
  // A put request is passed on with both put flags, as the automation
  // runtime does; no member can be written, so it ends as "not found".
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  }
  return QuillInvoke(static_cast<IQuill*>(this), id, flags, params, result, excep, arg_error);
}

HRESULT TAutoObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IUnknown || FindInterface(riid) != nullptr ? S_OK : S_FALSE;
}

HRESULT TAutoObject::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = NewQuillClassInfo();
  return *info != nullptr ? S_OK : E_OUTOFMEMORY;
}

// --- TASPObject -------------------------------------------------------------------

void* TASPObject::FindInterface(REFIID riid) {
  if (riid == IID_IPageEvents) return static_cast<IPageEvents*>(this);
  return TAutoObject::FindInterface(riid);
}

HRESULT TASPObject::OnStartPage(IUnknown* context) {
  return GuardedCall([&] {
    olert::ComPtr<IUnknown> kept;
    if (context != nullptr &&
        (FAILED(context->QueryInterface(IID_IScriptingContext, kept.ReceiveVoid())) || !kept)) {
      throw Exception("Interface not supported");
    }
    scripting_context_ = std::move(kept);
  });
}

HRESULT TASPObject::OnEndPage() {
  return GuardedCall([&] { scripting_context_.Reset(); });
}

}  // namespace quill

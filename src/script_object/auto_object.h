// TAutoObject and TASPObject: the COM plumbing under the script object.
//
// TAutoObject is an automation object described by the module's type
// library: reference counting (with aggregation by an outer object), the
// IDispatch of the dual interface driven by the type library, error
// information support and class information. TASPObject adds what a page
// host gives the object: the scripting context of the current page, set by
// OnStartPage (through IQuill or IPageEvents) and released by OnEndPage.
//
// Interfaces answered: IUnknown; IDispatch, IQuill and IQuill2 (one vtable);
// ISupportErrorInfo; IProvideClassInfo; IPageEvents.
#pragma once

#include <atomic>

#include "platform/olert/automation.h"
#include "script_object/quill_interface.h"

namespace quill {

class TAutoObject : public IQuill2, public ISupportErrorInfo, public IProvideClassInfo {
 public:
  TAutoObject(const TAutoObject&) = delete;
  TAutoObject& operator=(const TAutoObject&) = delete;

  // Runs right after construction, before the object is handed out. May
  // raise; the factory then reports the failure and frees the object.
  virtual void Initialize() {}

  // Makes the object part of `outer` (null: standalone). REQUIRES: called
  // once, before the first reference is taken.
  void SetOuter(IUnknown* outer) { controlling_ = outer != nullptr ? outer : &inner_; }
  // The non-delegating IUnknown: the reference an aggregating outer object
  // keeps, and the one a standalone object hands out as IUnknown.
  IUnknown* InnerUnknown() { return &inner_; }

  // IUnknown, delegated to the controlling unknown.
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch over the type library. GetTypeInfoCount answers 1;
  // GetTypeInfo the IQuill2 type information for index 0, DISP_E_BADINDEX
  // otherwise; GetIDsOfNames and Invoke as dispatch_invoke.h describes.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override;

  // ISupportErrorInfo: S_OK for an interface the object answers, S_FALSE
  // for any other.
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;
  // IProvideClassInfo: the type information of the class Quill.
  HRESULT GetClassInfo(ITypeInfo** info) override;

 protected:
  TAutoObject();
  virtual ~TAutoObject();

  // The interface pointer for `riid`, or null. Derived classes add theirs.
  virtual void* FindInterface(REFIID riid);

 private:
  friend class TAutoObjectFactory;  // frees an object that failed to start

  class TInnerUnknown final : public IUnknown {
   public:
    explicit TInnerUnknown(TAutoObject& owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

   private:
    TAutoObject& owner_;
  };

  TInnerUnknown inner_{*this};
  IUnknown* controlling_ = &inner_;
  std::atomic<ULONG> refs_{0};
};

class TASPObject : public TAutoObject, public IPageEvents {
 public:
  // IUnknown for the IPageEvents part, the same object.
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return TAutoObject::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return TAutoObject::AddRef(); }
  ULONG Release() override { return TAutoObject::Release(); }

  // Keeps `context` queried for IScriptingContext; a null context clears the
  // one kept. An object without that interface fails with "Interface not
  // supported" and keeps the context it had.
  HRESULT OnStartPage(IUnknown* context) override;
  // Releases the scripting context.
  HRESULT OnEndPage() override;

  // The context of the current page (not AddRef'd), or null.
  IUnknown* ScriptingContext() const { return scripting_context_.get(); }

 protected:
  TASPObject() = default;
  ~TASPObject() override = default;
  void* FindInterface(REFIID riid) override;

 private:
  olert::ComPtr<IUnknown> scripting_context_;
};

}  // namespace quill

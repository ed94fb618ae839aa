// error_info.cpp: error objects and the per-thread error slot.
//
// A failing COM call may leave a description of the failure for its caller
// on the calling thread. The slot holds one reference; GetErrorInfo hands
// that reference over and empties the slot, so an error is reported once.
// The slot's reference is dropped when the thread ends.
#include <atomic>
#include <new>

#include "platform/olert/internal.h"
#include "platform/olert/olert.h"

namespace {

// The error object: written through ICreateErrorInfo, read through
// IErrorInfo. Its strings are copied in and copied out.
class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG Release() override {
    ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* p) override { return CopyOut(source_, p); }
  HRESULT GetDescription(BSTR* p) override { return CopyOut(description_, p); }
  HRESULT GetHelpFile(BSTR* p) override { return CopyOut(help_file_, p); }
  HRESULT GetHelpContext(DWORD* p) override {
    if (p == nullptr) return E_INVALIDARG;
    *p = help_context_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR s) override { return CopyIn(s, source_); }
  HRESULT SetDescription(LPOLESTR s) override { return CopyIn(s, description_); }
  HRESULT SetHelpFile(LPOLESTR s) override { return CopyIn(s, help_file_); }
  HRESULT SetHelpContext(DWORD c) override {
    help_context_ = c;
    return S_OK;
  }

 private:
  ~ErrorInfo() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(help_file_);
  }

  static HRESULT CopyIn(LPOLESTR s, BSTR& field) {
    BSTR copy = nullptr;
    if (s != nullptr && (copy = SysAllocString(s)) == nullptr) return E_OUTOFMEMORY;
    SysFreeString(field);
    field = copy;
    return S_OK;
  }
  static HRESULT CopyOut(BSTR field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (field == nullptr) return S_OK;
    *out = SysAllocStringLen(field, SysStringLen(field));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  std::atomic<ULONG> refs_{1};
  GUID guid_ = GUID_NULL;
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR help_file_ = nullptr;
  DWORD help_context_ = 0;
};

class ThreadErrorSlot {
 public:
  ~ThreadErrorSlot() { Reset(nullptr); }
  // Takes over one reference of `info`.
  void Reset(IErrorInfo* info) {
    IErrorInfo* old = info_;
    info_ = info;
    if (old != nullptr) old->Release();
  }
  IErrorInfo* Take() {
    IErrorInfo* info = info_;
    info_ = nullptr;
    return info;
  }

 private:
  IErrorInfo* info_ = nullptr;
};

thread_local ThreadErrorSlot t_error_slot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = new (std::nothrow) ErrorInfo();
  return *pperrinfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  t_error_slot.Reset(perrinfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_error_slot.Take();
  return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

}  // extern "C"

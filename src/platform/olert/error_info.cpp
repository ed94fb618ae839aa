// error_info.cpp: error objects and the per-thread error slot.
//
// A failing COM call may leave a description of the failure for its caller
// on the calling thread. The slot holds one reference; GetErrorInfo hands
// that reference over and empties the slot, so an error is reported once.
// The slot's reference is dropped when the thread ends.
#include <new>

#include "platform/olert/automation.h"
#include "platform/olert/olert.h"

namespace {

// The error object: written through ICreateErrorInfo, read through
// IErrorInfo. Its strings are copied in and copied out. Created with the
// one reference that CreateErrorInfo hands out.
class ErrorInfo final : public olert::RefCounted<IErrorInfo, ICreateErrorInfo> {
 public:
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
  static HRESULT CopyIn(LPOLESTR s, olert::ScopedBstr& field) {
    olert::ScopedBstr copy(s == nullptr ? nullptr : SysAllocString(s));
    if (s != nullptr && copy.get() == nullptr) return E_OUTOFMEMORY;
    field = std::move(copy);
    return S_OK;
  }
  static HRESULT CopyOut(const olert::ScopedBstr& field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (field.get() == nullptr) return S_OK;
    *out = SysAllocStringLen(field.get(), field.size());
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  GUID guid_ = GUID_NULL;
  olert::ScopedBstr source_;
  olert::ScopedBstr description_;
  olert::ScopedBstr help_file_;
  DWORD help_context_ = 0;
};

// The thread's error object; released when the thread ends.
thread_local olert::ComPtr<IErrorInfo> t_error_slot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = new (std::nothrow) ErrorInfo();
  return *pperrinfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  t_error_slot = olert::ComPtr<IErrorInfo>::Retain(perrinfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_error_slot.Detach();
  return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

}  // extern "C"

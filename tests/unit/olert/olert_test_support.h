// olert_test_support.h: small tools shared by the runtime's tests: owning
// variant and BSTR holders, a reference-counting IUnknown, a dispatch
// object with a default value, and a private registry file per test.
#ifndef QUILL_TESTS_UNIT_OLERT_OLERT_TEST_SUPPORT_H_
#define QUILL_TESTS_UNIT_OLERT_OLERT_TEST_SUPPORT_H_

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/olert/olert.h"
#include "support/registry_file.h"

namespace olert_test {

inline std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

inline std::string Ascii(BSTR b) {
  std::string out;
  for (UINT i = 0; i < SysStringLen(b); ++i) out += static_cast<char>(b[i]);
  return out;
}

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  VARIANT* operator->() { return &v; }
};

// An IUnknown that counts references; it is not freed at zero so that tests
// can look at the count after the last release.
class CountingUnknown final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};

// An IDispatch whose default property (DISPID_VALUE) answers `value`, or
// fails with `invoke_result` when that is a failure.
class ValueDispatch final : public IDispatch {
 public:
  ValueDispatch() { VariantInit(&value); }
  ~ValueDispatch() { VariantClear(&value); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** p) override {
    *p = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    ++invokes;
    last_id = id;
    last_flags = flags;
    last_arg_count = params == nullptr ? 99 : params->cArgs;
    if (FAILED(invoke_result)) return invoke_result;
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, &value);
  }

  VARIANT value;
  HRESULT invoke_result = S_OK;
  std::atomic<ULONG> refs{1};
  int invokes = 0;
  DISPID last_id = 1234;
  WORD last_flags = 0;
  UINT last_arg_count = 0;
};

// A private registry file per test (tests/support).
using quill::test::ScopedRegistry;

}  // namespace olert_test

#endif  // QUILL_TESTS_UNIT_OLERT_OLERT_TEST_SUPPORT_H_

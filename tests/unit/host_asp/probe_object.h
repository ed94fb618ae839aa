// ProbeObject: an IDispatch of the tests' own that records how it is called.
//
// Members are added with a name, a DISPID and a handler; every Invoke is
// recorded (member, flags, arguments in call order, named arguments) and
// GetIDsOfNames calls are counted, so tests can see exactly what the bridge
// asked of an automation object.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "platform/olert/automation.h"

namespace quill::asp::test {

// A VARIANT that frees what it holds.
class Var {
 public:
  Var() { VariantInit(&v_); }
  ~Var() { VariantClear(&v_); }
  Var(const Var& other) {
    VariantInit(&v_);
    VariantCopy(&v_, &other.v_);
  }
  Var& operator=(const Var& other) {
    if (this != &other) VariantCopy(&v_, &other.v_);
    return *this;
  }
  explicit Var(const VARIANT& v) {
    VariantInit(&v_);
    VariantCopy(&v_, &v);
  }
  static Var I4(int32_t x) {
    Var v;
    v.v_.vt = VT_I4;
    v.v_.lVal = x;
    return v;
  }
  static Var Text(const std::string& utf8) {
    Var v;
    const std::u16string w = Utf8ToUtf16(utf8);
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return v;
  }
  VARIANT& get() { return v_; }
  const VARIANT& get() const { return v_; }
  VARTYPE vt() const { return v_.vt; }
  std::string text() const {
    return v_.vt == VT_BSTR ? Utf16ToUtf8(std::u16string_view(v_.bstrVal, SysStringLen(v_.bstrVal))) : "";
  }

 private:
  VARIANT v_;
};

class ProbeObject final : public olert::RefCounted<IDispatch> {
 public:
  struct Call {
    std::string member;
    DISPID id = 0;
    WORD flags = 0;
    std::vector<Var> args;     // positional, in call order
    std::vector<DISPID> named;
    std::vector<Var> named_values;
  };
  // Answers the call: fills *result (initialised, may be null) or *excep.
  using Handler = std::function<HRESULT(const Call&, VARIANT* result, EXCEPINFO* excep)>;

  static ProbeObject* Create() { return new ProbeObject(); }

  void Add(const std::string& name, DISPID id, Handler handler) {
    members_.push_back(Member{name, id, std::move(handler)});
  }
  // A member that stores a value on put and answers it on get.
  void AddProperty(const std::string& name, DISPID id, Var initial);

  std::vector<Call> calls;
  int lookups = 0;
  ULONG refs() const { return RefCount(); }

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT*) override;

 private:
  struct Member {
    std::string name;
    DISPID id;
    Handler handler;
  };
  ProbeObject() = default;
  ~ProbeObject() override = default;

  std::vector<Member> members_;
};

// Fills EXCEPINFO as a failing member does.
HRESULT Fail(EXCEPINFO* excep, HRESULT scode, const std::string& description);

}  // namespace quill::asp::test

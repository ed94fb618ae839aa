// Calls IDispatch exactly as a script host does: names through
// GetIDsOfNames, arguments last-first in DISPPARAMS, a property put's value
// as the named argument DISPID_PROPERTYPUT, failures read from EXCEPINFO.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/object.h"
#include "platform/olert/olert.h"

namespace quill::testing {

// A VARIANT that frees what it holds.
class Var {
 public:
  Var() { VariantInit(&v_); }
  ~Var() { VariantClear(&v_); }
  Var(const Var& other) {
    VariantInit(&v_);
    VariantCopy(&v_, &other.v_);
  }
  Var(Var&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Var& operator=(Var other) {
    std::swap(v_, other.v_);
    return *this;
  }
  // Takes over `v`.
  static Var Adopt(VARIANT v) {
    Var out;
    out.v_ = v;
    return out;
  }

  VARIANT* ptr() { return &v_; }
  const VARIANT& get() const { return v_; }
  VARIANT& get() { return v_; }
  VARTYPE vt() const { return v_.vt; }

  // The value read back, for assertions; a value of another type fails the
  // running test and answers a stand-in.
  int32_t i4() const;           // VT_I4
  bool boolean() const;         // VT_BOOL
  double r8() const;            // VT_R8
  std::string text() const;     // VT_BSTR, as UTF-8
  IDispatch* dispatch() const;  // VT_DISPATCH

 private:
  VARIANT v_;
};

Var I4(int32_t v);
Var R8(double v);
Var Bool(bool v);
Var Text(std::string_view utf8);
Var Null();
Var Missing();                // an omitted optional argument
Var Disp(IDispatch* d);       // AddRefs
Var RefTo(VARIANT* target);   // VT_BYREF | VT_VARIANT
// A VT_ARRAY | VT_VARIANT array of the values (copied), lower bound `low`.
Var Array(std::vector<Var> items, int32_t low = 0);

// One reference to a dispatch object.
class Obj {
 public:
  Obj() = default;
  explicit Obj(IDispatch* d) : d_(d) {}  // takes over a reference
  // Takes over the reference of a VT_DISPATCH variant.
  static Obj FromVariant(VARIANT v);
  // A new shell over `o` (shell_variant).
  static Obj ShellOver(TObject* o);
  ~Obj() { reset(); }
  Obj(const Obj&) = delete;
  Obj& operator=(const Obj&) = delete;
  Obj(Obj&& other) noexcept : d_(std::exchange(other.d_, nullptr)) {}
  Obj& operator=(Obj&& other) noexcept {
    if (this != &other) {
      reset();
      d_ = std::exchange(other.d_, nullptr);
    }
    return *this;
  }
  void reset() {
    if (d_) std::exchange(d_, nullptr)->Release();
  }
  IDispatch* get() const { return d_; }
  explicit operator bool() const { return d_ != nullptr; }

 private:
  IDispatch* d_ = nullptr;
};

// What one Invoke gave back.
struct Outcome {
  HRESULT hr = S_OK;
  Var result;
  std::string error;  // EXCEPINFO description (UTF-8)
  SCODE scode = 0;
  bool ok() const { return hr == S_OK; }
};

// DISPID of `name`, or the failing HRESULT as a negative value's stand-in:
// returns false and leaves *id when GetIDsOfNames refuses it.
bool IdOf(IDispatch* d, std::string_view name, DISPID* id);

// Invoke with the arguments in script order (not owned; copied shallowly
// into DISPPARAMS in reverse order). A put passes the value as the named
// argument DISPID_PROPERTYPUT.
Outcome InvokeId(IDispatch* d, DISPID id, WORD flags, const std::vector<const Var*>& args = {});

// By name, as a host does: `obj.name` (DISPATCH_PROPERTYGET), `obj.name =
// v`, `obj.name(args)` (DISPATCH_METHOD). A name that GetIDsOfNames refuses
// gives DISP_E_UNKNOWNNAME without an Invoke.
Outcome Get(IDispatch* d, std::string_view name);
Outcome Put(IDispatch* d, std::string_view name, const Var& value);
Outcome Call(IDispatch* d, std::string_view name, const std::vector<const Var*>& args = {});
Outcome CallFlags(IDispatch* d, std::string_view name, WORD flags,
                  const std::vector<const Var*>& args = {});

}  // namespace quill::testing

// The C++ vocabulary for automation values: owners for the runtime's
// reference-counted and allocated things, so that a caller never writes
// Release, VariantClear or SysFreeString by hand, nor a try/catch whose only
// purpose is to release.
//
//   ComPtr<I>          an owning interface pointer
//   ScopedVariant      an owning VARIANT
//   ScopedBstr         an owning BSTR
//   SafeArrayElements  read-only access to a SAFEARRAY's elements as VARIANTs
//   RefCounted<I...>   the IUnknown part of an object implemented here
//   HresultText        an HRESULT as the text people read ("0x80004005")
//
// Header-only on purpose: libolert.so exports C functions and identifiers
// only, and these templates must not add a symbol to it.
#ifndef QUILL_PLATFORM_OLERT_AUTOMATION_H_
#define QUILL_PLATFORM_OLERT_AUTOMATION_H_

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/olert/olert.h"

namespace olert {

// ---------------------------------------------------------------------------
// ComPtr<I>: holds one reference to an interface and releases it.
// ---------------------------------------------------------------------------

template <class I>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}  // NOLINT: null converts implicitly

  // Takes over a reference the caller already owns (an out-parameter's).
  static ComPtr Adopt(I* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  // Adds a reference of its own to `p` (which may be null).
  static ComPtr Retain(I* p) noexcept {
    if (p != nullptr) p->AddRef();
    return Adopt(p);
  }

  ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(const ComPtr& o) noexcept {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  ~ComPtr() { Reset(); }

  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  I& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Releases the reference held, if any.
  void Reset() noexcept {
    if (I* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Gives the reference to the caller, who must release it.
  [[nodiscard]] I* Detach() noexcept { return std::exchange(p_, nullptr); }
  // For an out-parameter: releases what is held and returns the slot to fill.
  I** Receive() noexcept {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }
  // An additional reference for the caller (an out-parameter), or null.
  I* Share() const noexcept {
    if (p_ != nullptr) p_->AddRef();
    return p_;
  }

  // QueryInterface for `riid`, as an owner of the answer (null when refused).
  template <class J>
  ComPtr<J> Query(REFIID riid) const noexcept {
    ComPtr<J> out;
    if (p_ != nullptr) p_->QueryInterface(riid, out.ReceiveVoid());
    return out;
  }

  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  I* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// ScopedVariant: a VARIANT that is initialised on construction and cleared on
// destruction. Movable, not copyable (VariantCopy can fail: use CopyFrom).
// ---------------------------------------------------------------------------

class ScopedVariant {
 public:
  ScopedVariant() noexcept { VariantInit(&v_); }
  // Takes over `v`'s contents; `v` is left empty.
  static ScopedVariant Adopt(VARIANT& v) noexcept {
    ScopedVariant r;
    r.v_ = v;
    VariantInit(&v);
    return r;
  }
  ScopedVariant(ScopedVariant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  ScopedVariant& operator=(ScopedVariant&& o) noexcept {
    if (this != &o) {
      VariantClear(&v_);
      v_ = o.v_;
      VariantInit(&o.v_);
    }
    return *this;
  }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { VariantClear(&v_); }

  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT& operator*() noexcept { return v_; }
  const VARIANT& operator*() const noexcept { return v_; }
  VARIANT* operator->() noexcept { return &v_; }
  const VARIANT* operator->() const noexcept { return &v_; }
  VARTYPE vt() const noexcept { return v_.vt; }

  // Clears the value; it is VT_EMPTY afterwards.
  void Reset() noexcept { VariantClear(&v_); }
  // For an out-parameter: clears the value and returns the slot to fill.
  VARIANT* Receive() noexcept {
    VariantClear(&v_);
    return &v_;
  }
  // Gives the contents to the caller, who must clear them; this is left empty.
  [[nodiscard]] VARIANT Detach() noexcept {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }
  // Replaces the value with a copy of `from` (a string duplicated, an object
  // AddRef'ed). On failure the value is empty.
  HRESULT CopyFrom(const VARIANT& from) noexcept { return VariantCopy(Receive(), &from); }

 private:
  VARIANT v_;
};

// ---------------------------------------------------------------------------
// ScopedBstr: owns one BSTR (null is the empty string).
// ---------------------------------------------------------------------------

class ScopedBstr {
 public:
  ScopedBstr() noexcept = default;
  // Takes over `b`, which the caller owned.
  explicit ScopedBstr(BSTR b) noexcept : b_(b) {}
  // A new BSTR holding `text`; get() is null when memory ran out.
  static ScopedBstr Copy(std::u16string_view text) noexcept {
    return ScopedBstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  }
  ScopedBstr(ScopedBstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  ScopedBstr& operator=(ScopedBstr&& o) noexcept {
    if (this != &o) {
      SysFreeString(b_);
      b_ = std::exchange(o.b_, nullptr);
    }
    return *this;
  }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr() { SysFreeString(b_); }

  BSTR get() const noexcept { return b_; }
  UINT size() const noexcept { return SysStringLen(b_); }
  std::u16string_view view() const noexcept {
    return b_ == nullptr ? std::u16string_view() : std::u16string_view(b_, SysStringLen(b_));
  }
  void Reset() noexcept { SysFreeString(std::exchange(b_, nullptr)); }
  // For an out-parameter: frees what is held and returns the slot to fill.
  BSTR* Receive() noexcept {
    Reset();
    return &b_;
  }
  [[nodiscard]] BSTR Detach() noexcept { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

// Frees the three strings an EXCEPINFO may hold and empties them.
inline void ClearExcepInfo(EXCEPINFO& e) noexcept {
  SysFreeString(std::exchange(e.bstrSource, nullptr));
  SysFreeString(std::exchange(e.bstrDescription, nullptr));
  SysFreeString(std::exchange(e.bstrHelpFile, nullptr));
}

// ---------------------------------------------------------------------------
// SafeArrayElements: the elements of an array, in storage order (the first
// index varies fastest), each seen as a VARIANT of the array's element type.
// REQUIRES: the array outlives this object and is not resized meanwhile.
// ---------------------------------------------------------------------------

class SafeArrayElements {
 public:
  explicit SafeArrayElements(SAFEARRAY* array) noexcept : array_(array) {
    if (array_ == nullptr) return;
    status_ = SafeArrayGetVartype(array_, &type_);
    count_ = array_->cDims > 0 ? 1 : 0;
    for (UINT d = 0; d < array_->cDims; ++d) count_ *= array_->rgsabound[d].cElements;
  }

  // S_OK, or why the element type could not be read (then size() is still
  // the element count, and elements read as VT_VARIANT).
  HRESULT status() const noexcept { return status_; }
  size_t size() const noexcept { return count_; }
  VARTYPE type() const noexcept { return type_; }

  // Element k as a VARIANT that shares the element's storage: read it, never
  // clear it. REQUIRES: k < size().
  VARIANT View(size_t k) const noexcept { return ViewAs(k, type_); }
  // The same, seen as `type`: for an array that keeps no record of its
  // element type (type() is then VT_EMPTY) whose type the caller knows.
  // REQUIRES: k < size(); one element of `type` fills exactly one element.
  VARIANT ViewAs(size_t k, VARTYPE type) const noexcept {
    const void* data = static_cast<const char*>(array_->pvData) + k * array_->cbElements;
    VARIANT v;
    VariantInit(&v);
    if (type == VT_VARIANT) {
      v = *static_cast<const VARIANT*>(data);
    } else if (type == VT_DECIMAL) {
      // A DECIMAL fills the whole VARIANT but its type word.
      v.decVal = *static_cast<const DECIMAL*>(data);
      v.vt = VT_DECIMAL;
    } else {
      std::memcpy(&v.llVal, data, array_->cbElements <= 8 ? array_->cbElements : 8);
      v.vt = type;
    }
    return v;
  }
  // Element k copied into *out (a string duplicated, an object AddRef'ed).
  // REQUIRES: k < size(); *out holds nothing that needs clearing.
  HRESULT CopyTo(size_t k, VARIANT* out) const noexcept {
    const VARIANT view = View(k);
    return VariantCopy(out, &view);
  }

 private:
  SAFEARRAY* array_;
  HRESULT status_ = S_OK;
  VARTYPE type_ = VT_VARIANT;
  size_t count_ = 0;
};

// ---------------------------------------------------------------------------
// RefCounted<I...>: reference counting and QueryInterface for an object that
// implements the interfaces I... (each derived from IUnknown). The object is
// created with one reference (`new`, then hand that reference on) and
// deletes itself when the last one is released. QueryInterface answers
// IUnknown (as the first interface) and each listed interface whose
// identifier InterfaceId<> knows; a class with more to answer overrides
// QueryInterface and falls back on QueryListed.
// ---------------------------------------------------------------------------

template <class I>
struct InterfaceId;  // specialise with `static const IID& Get()` for a new interface
template <> struct InterfaceId<IUnknown> { static const IID& Get() { return IID_IUnknown; } };
template <> struct InterfaceId<IDispatch> { static const IID& Get() { return IID_IDispatch; } };
template <> struct InterfaceId<IClassFactory> { static const IID& Get() { return IID_IClassFactory; } };
template <> struct InterfaceId<IErrorInfo> { static const IID& Get() { return IID_IErrorInfo; } };
template <> struct InterfaceId<ICreateErrorInfo> {
  static const IID& Get() { return IID_ICreateErrorInfo; }
};
template <> struct InterfaceId<ISupportErrorInfo> {
  static const IID& Get() { return IID_ISupportErrorInfo; }
};
template <> struct InterfaceId<IEnumVARIANT> { static const IID& Get() { return IID_IEnumVARIANT; } };
template <> struct InterfaceId<IProvideClassInfo> {
  static const IID& Get() { return IID_IProvideClassInfo; }
};
template <> struct InterfaceId<IObjectSafety> { static const IID& Get() { return IID_IObjectSafety; } };

template <class First, class... Rest>
class RefCounted : public First, public Rest... {
  static_assert(std::is_base_of_v<IUnknown, First> && (std::is_base_of_v<IUnknown, Rest> && ...));

 public:
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  HRESULT QueryInterface(REFIID riid, void** out) override { return QueryListed(riid, out); }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() noexcept = default;
  virtual ~RefCounted() = default;

  ULONG RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

  // The QueryInterface answer for IUnknown and the listed interfaces.
  HRESULT QueryListed(REFIID riid, void** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      Find<First, Rest...>(riid, out);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

 private:
  template <class I, class... More>
  void Find(REFIID riid, void** out) noexcept {
    if (riid == InterfaceId<I>::Get()) {
      *out = static_cast<I*>(this);
      return;
    }
    if constexpr (sizeof...(More) > 0) Find<More...>(riid, out);
  }

  std::atomic<ULONG> refs_{1};
};

// ---------------------------------------------------------------------------
// HresultText: "0x" and eight upper-case hex digits, as error messages show
// an HRESULT.
// ---------------------------------------------------------------------------

inline std::string HresultText(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace olert

#endif  // QUILL_PLATFORM_OLERT_AUTOMATION_H_

// variant_convert.cpp: VariantChangeType.
//
// A conversion reads the source through any VT_BYREF, builds the result in a
// variant of its own that owns all it holds, and only then clears the
// destination and moves the result in. So a failure leaves the destination
// as it was, and converting a variant in place is safe even when the old
// value is freed by the clear.
//
// Numbers travel between kinds as one of: a signed or unsigned 64-bit
// integer, a double (also dates), currency, a Boolean, or exact text digits.
// Each target reads that and checks its own range; floating values and
// currency reach integers with banker's rounding.
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "platform/olert/automation.h"
#include "platform/olert/internal.h"
#include "platform/olert/olert.h"
#include "platform/olert/variant_text.h"

namespace {

using olert::detail::Conversion;
using olert::detail::TextNumber;

// Default properties that are themselves objects are followed this deep.
constexpr int kMaxValueDepth = 4;

struct Number {
  enum Kind { kSigned, kUnsigned, kReal, kCurrency, kBool, kText } kind = kSigned;
  int64_t s = 0;
  uint64_t u = 0;
  double r = 0;
  bool b = false;
  TextNumber text;
};

// Reads any number-like source. Empty reads as 0; Null, objects, errors,
// arrays and text that is no number are a type mismatch.
HRESULT ReadNumber(const VARIANT& v, Number& n) {
  switch (v.vt) {
    case VT_EMPTY: n.kind = Number::kSigned; n.s = 0; return S_OK;
    case VT_I1: n.kind = Number::kSigned; n.s = static_cast<signed char>(v.cVal); return S_OK;
    case VT_I2: n.kind = Number::kSigned; n.s = v.iVal; return S_OK;
    case VT_I4: n.kind = Number::kSigned; n.s = v.lVal; return S_OK;
    case VT_INT: n.kind = Number::kSigned; n.s = v.intVal; return S_OK;
    case VT_I8: n.kind = Number::kSigned; n.s = v.llVal; return S_OK;
    case VT_UI1: n.kind = Number::kUnsigned; n.u = v.bVal; return S_OK;
    case VT_UI2: n.kind = Number::kUnsigned; n.u = v.uiVal; return S_OK;
    case VT_UI4: n.kind = Number::kUnsigned; n.u = v.ulVal; return S_OK;
    case VT_UINT: n.kind = Number::kUnsigned; n.u = v.uintVal; return S_OK;
    case VT_UI8: n.kind = Number::kUnsigned; n.u = v.ullVal; return S_OK;
    case VT_R4: n.kind = Number::kReal; n.r = v.fltVal; return S_OK;
    case VT_R8: n.kind = Number::kReal; n.r = v.dblVal; return S_OK;
    case VT_DATE: n.kind = Number::kReal; n.r = v.date; return S_OK;
    case VT_CY: n.kind = Number::kCurrency; n.s = v.cyVal.int64; return S_OK;
    case VT_BOOL: n.kind = Number::kBool; n.b = v.boolVal != 0; return S_OK;
    case VT_BSTR:
      n.kind = Number::kText;
      return olert::detail::ParseNumber(olert::detail::BstrView(v.bstrVal), n.text)
                 ? S_OK
                 : DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool IsZero(const Number& n) {
  switch (n.kind) {
    case Number::kSigned: case Number::kCurrency: return n.s == 0;
    case Number::kUnsigned: return n.u == 0;
    case Number::kReal: return n.r == 0;
    case Number::kBool: return !n.b;
    case Number::kText: return n.text.radix_literal ? n.text.radix_value == 0 : n.text.digits.empty();
  }
  return true;
}

// Rounds half to even; the default floating-point environment does that.
HRESULT RoundDouble(double r, __int128 lo, __int128 hi, __int128& out) {
  if (std::isnan(r)) return DISP_E_OVERFLOW;
  double rounded = std::nearbyint(r);
  // Compare in double first so that huge values never reach the cast.
  if (rounded < -1.8446744073709552e19 || rounded > 1.8446744073709552e19) return DISP_E_OVERFLOW;
  __int128 v = static_cast<__int128>(rounded);
  if (v < lo || v > hi) return DISP_E_OVERFLOW;
  out = v;
  return S_OK;
}

__int128 RoundCurrency(int64_t cy) {
  __int128 q = cy / 10000;
  int64_t r = cy % 10000;
  int64_t half = r < 0 ? -r : r;
  if (half > 5000 || (half == 5000 && (q & 1) != 0)) q += cy < 0 ? -1 : 1;
  return q;
}

// `bits` is the width of the target; true reads as all bits set (-1 for
// signed targets, the maximum for unsigned ones).
HRESULT ToInteger(const Number& n, __int128 lo, __int128 hi, int bits, __int128& out) {
  switch (n.kind) {
    case Number::kSigned: out = n.s; break;
    case Number::kUnsigned: out = n.u; break;
    case Number::kReal: return RoundDouble(n.r, lo, hi, out);
    case Number::kCurrency: out = RoundCurrency(n.s); break;
    case Number::kBool: out = n.b ? (lo < 0 ? -1 : hi) : 0; return S_OK;
    case Number::kText:
      return olert::detail::NumberToInteger(n.text, lo, hi, bits, out) == Conversion::kOk
                 ? S_OK
                 : DISP_E_OVERFLOW;
  }
  return out < lo || out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToDouble(const Number& n, double& out) {
  switch (n.kind) {
    case Number::kSigned: out = static_cast<double>(n.s); return S_OK;
    case Number::kUnsigned: out = static_cast<double>(n.u); return S_OK;
    case Number::kReal: out = n.r; return S_OK;
    case Number::kCurrency: out = static_cast<double>(n.s) / 10000.0; return S_OK;
    case Number::kBool: out = n.b ? -1.0 : 0.0; return S_OK;
    case Number::kText:
      return olert::detail::NumberToDouble(n.text, out) == Conversion::kOk ? S_OK : DISP_E_OVERFLOW;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToCurrency(const Number& n, int64_t& out) {
  __int128 v = 0;
  switch (n.kind) {
    case Number::kSigned: v = static_cast<__int128>(n.s) * 10000; break;
    case Number::kUnsigned: v = static_cast<__int128>(n.u) * 10000; break;
    case Number::kCurrency: out = n.s; return S_OK;
    case Number::kBool: v = n.b ? -10000 : 0; break;
    case Number::kReal: {
      HRESULT hr = RoundDouble(n.r * 10000.0, INT64_MIN, INT64_MAX, v);
      if (FAILED(hr)) return hr;
      break;
    }
    case Number::kText:
      return olert::detail::NumberToCurrency(n.text, out) == Conversion::kOk ? S_OK : DISP_E_OVERFLOW;
  }
  if (v < INT64_MIN || v > INT64_MAX) return DISP_E_OVERFLOW;
  out = static_cast<int64_t>(v);
  return S_OK;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::u16string_view TrimBlanks(std::u16string_view t) {
  while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == u' ' || t.back() == u'\t')) t.remove_suffix(1);
  return t;
}

HRESULT SetText(VARIANT& r, const std::string& ascii) {
  r.bstrVal = olert::detail::AllocBstr(ascii);
  if (r.bstrVal == nullptr) return E_OUTOFMEMORY;
  r.vt = VT_BSTR;
  return S_OK;
}

HRESULT ToText(const VARIANT& s, USHORT flags, VARIANT& r) {
  switch (s.vt) {
    case VT_EMPTY: return SetText(r, "");
    case VT_I1: return SetText(r, std::to_string(static_cast<signed char>(s.cVal)));
    case VT_I2: return SetText(r, std::to_string(s.iVal));
    case VT_I4: return SetText(r, std::to_string(s.lVal));
    case VT_INT: return SetText(r, std::to_string(s.intVal));
    case VT_I8: return SetText(r, std::to_string(s.llVal));
    case VT_UI1: return SetText(r, std::to_string(s.bVal));
    case VT_UI2: return SetText(r, std::to_string(s.uiVal));
    case VT_UI4: return SetText(r, std::to_string(s.ulVal));
    case VT_UINT: return SetText(r, std::to_string(s.uintVal));
    case VT_UI8: return SetText(r, std::to_string(s.ullVal));
    case VT_R4: return SetText(r, olert::detail::FormatFloat(s.fltVal));
    case VT_R8: return SetText(r, olert::detail::FormatDouble(s.dblVal));
    case VT_CY: return SetText(r, olert::detail::FormatCurrency(s.cyVal.int64));
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        return SetText(r, s.boolVal != 0 ? "True" : "False");
      }
      return SetText(r, s.boolVal != 0 ? "-1" : "0");
    case VT_DATE: {
      std::string text;
      if (!olert::detail::FormatDate(s.date, text)) return DISP_E_OVERFLOW;
      return SetText(r, text);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToBool(const VARIANT& s, VARIANT& r) {
  if (s.vt == VT_BSTR) {
    std::u16string_view t = TrimBlanks(olert::detail::BstrView(s.bstrVal));
    if (EqualsIgnoringCase(t, u"true") || EqualsIgnoringCase(t, u"#true#")) {
      r.boolVal = VARIANT_TRUE;
      r.vt = VT_BOOL;
      return S_OK;
    }
    if (EqualsIgnoringCase(t, u"false") || EqualsIgnoringCase(t, u"#false#")) {
      r.boolVal = VARIANT_FALSE;
      r.vt = VT_BOOL;
      return S_OK;
    }
  }
  Number n;
  HRESULT hr = ReadNumber(s, n);
  if (FAILED(hr)) return hr;
  r.boolVal = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
  r.vt = VT_BOOL;
  return S_OK;
}

HRESULT ToDate(const VARIANT& s, VARIANT& r) {
  double d = 0;
  if (s.vt == VT_BSTR) {
    if (!olert::detail::ParseDate(olert::detail::BstrView(s.bstrVal), d)) return DISP_E_TYPEMISMATCH;
  } else {
    Number n;
    HRESULT hr = ReadNumber(s, n);
    if (SUCCEEDED(hr)) hr = ToDouble(n, d);
    if (FAILED(hr)) return hr;
  }
  if (!(d > olert::detail::kDateMin && d < olert::detail::kDateMax)) return DISP_E_OVERFLOW;
  r.date = d;
  r.vt = VT_DATE;
  return S_OK;
}

HRESULT ToReal(const VARIANT& s, VARTYPE vt, VARIANT& r) {
  Number n;
  double d = 0;
  HRESULT hr = ReadNumber(s, n);
  if (SUCCEEDED(hr)) hr = ToDouble(n, d);
  if (FAILED(hr)) return hr;
  if (vt == VT_R4) {
    // Overflow only where rounding to float would give infinity: from the
    // largest float plus half its last place on. So the largest float, as
    // a double or as its shortest text "3.4028235E+38", still converts.
    if (std::isfinite(d) && std::fabs(d) >= 0x1.ffffffp+127) return DISP_E_OVERFLOW;
    r.fltVal = static_cast<float>(d);
  } else {
    r.dblVal = d;
  }
  r.vt = vt;
  return S_OK;
}

HRESULT ToIntegerVariant(const VARIANT& s, VARTYPE vt, VARIANT& r) {
  __int128 lo = 0, hi = 0;
  int bits = 0;
  switch (vt) {
    case VT_I1: lo = INT8_MIN, hi = INT8_MAX, bits = 8; break;
    case VT_I2: lo = INT16_MIN, hi = INT16_MAX, bits = 16; break;
    case VT_I4: case VT_INT: lo = INT32_MIN, hi = INT32_MAX, bits = 32; break;
    case VT_I8: lo = INT64_MIN, hi = INT64_MAX, bits = 64; break;
    case VT_UI1: lo = 0, hi = UINT8_MAX, bits = 8; break;
    case VT_UI2: lo = 0, hi = UINT16_MAX, bits = 16; break;
    case VT_UI4: case VT_UINT: lo = 0, hi = UINT32_MAX, bits = 32; break;
    case VT_UI8: lo = 0, hi = UINT64_MAX, bits = 64; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  Number n;
  __int128 v = 0;
  HRESULT hr = ReadNumber(s, n);
  if (SUCCEEDED(hr)) hr = ToInteger(n, lo, hi, bits, v);
  if (FAILED(hr)) return hr;
  switch (vt) {
    case VT_I1: r.cVal = static_cast<CHAR>(static_cast<int8_t>(v)); break;
    case VT_I2: r.iVal = static_cast<SHORT>(v); break;
    case VT_I4: r.lVal = static_cast<LONG>(v); break;
    case VT_INT: r.intVal = static_cast<INT>(v); break;
    case VT_I8: r.llVal = static_cast<LONGLONG>(v); break;
    case VT_UI1: r.bVal = static_cast<BYTE>(v); break;
    case VT_UI2: r.uiVal = static_cast<USHORT>(v); break;
    case VT_UI4: r.ulVal = static_cast<ULONG>(v); break;
    case VT_UINT: r.uintVal = static_cast<UINT>(v); break;
    case VT_UI8: r.ullVal = static_cast<ULONGLONG>(v); break;
  }
  r.vt = vt;
  return S_OK;
}

// The value of an object's default property (DISPID_VALUE) into `out`.
HRESULT FetchDefaultValue(const VARIANT& s, olert::ScopedVariant& out) {
  olert::ComPtr<IDispatch> disp;
  if (s.vt == VT_DISPATCH) {
    disp = olert::ComPtr<IDispatch>::Retain(s.pdispVal);
  } else if (s.punkVal != nullptr) {
    void* p = nullptr;
    // A refusing object may leave the pointer set: it is not ours then.
    if (SUCCEEDED(s.punkVal->QueryInterface(IID_IDispatch, &p))) {
      disp = olert::ComPtr<IDispatch>::Adopt(static_cast<IDispatch*>(p));
    }
  }
  if (disp == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            out.Receive(), nullptr, nullptr);
  if (FAILED(hr)) {
    out.Reset();
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT ToInterface(const VARIANT& s, VARTYPE vt, VARIANT& r) {
  if (s.vt == VT_EMPTY) {
    r.punkVal = nullptr;
    r.vt = vt;
    return S_OK;
  }
  if (s.vt != VT_DISPATCH && s.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  void* p = nullptr;
  if (s.punkVal != nullptr &&
      FAILED(s.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p))) {
    return DISP_E_TYPEMISMATCH;
  }
  r.punkVal = static_cast<IUnknown*>(p);
  r.vt = vt;
  return S_OK;
}

// Converts the dereferenced source `s` into the empty variant `r`; `r` owns
// what it holds on success and is empty on failure.
HRESULT Convert(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT& r, int depth) {
  if (vt == VT_EMPTY) return S_OK;
  if (s.vt == vt) return VariantCopy(&r, &s);
  if (vt == VT_NULL) {
    if (s.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    r.vt = VT_NULL;
    return S_OK;
  }
  if (s.vt == VT_NULL || (vt & VT_ARRAY) || (s.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return ToInterface(s, vt, r);
  if (s.vt == VT_DISPATCH || s.vt == VT_UNKNOWN) {
    if ((flags & VARIANT_NOVALUEPROP) || depth >= kMaxValueDepth) return DISP_E_TYPEMISMATCH;
    olert::ScopedVariant value;
    HRESULT hr = FetchDefaultValue(s, value);
    if (FAILED(hr)) return hr;
    VARIANT inner;
    hr = olert::detail::ReadThrough(*value, inner);
    if (SUCCEEDED(hr)) hr = Convert(inner, vt, flags, r, depth + 1);
    return hr;
  }
  switch (vt) {
    case VT_BSTR: return ToText(s, flags, r);
    case VT_BOOL: return ToBool(s, r);
    case VT_DATE: return ToDate(s, r);
    case VT_R4: case VT_R8: return ToReal(s, vt, r);
    case VT_CY: {
      Number n;
      int64_t cy;
      HRESULT hr = ReadNumber(s, n);
      if (SUCCEEDED(hr)) hr = ToCurrency(n, cy);
      if (FAILED(hr)) return hr;
      r.cyVal.int64 = cy;
      r.vt = VT_CY;
      return S_OK;
    }
    default:
      return ToIntegerVariant(s, vt, r);
  }
}

}  // namespace

extern "C" {

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID /*lcid*/,
                            USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if ((vt & VT_BYREF) || !olert::detail::IsValidVariantType(vt) ||
      !olert::detail::IsValidVariantType(pvarSrc->vt)) {
    return DISP_E_BADVARTYPE;
  }
  VARIANT source;
  HRESULT hr = olert::detail::ReadThrough(*pvarSrc, source);
  if (FAILED(hr)) return hr;
  // All bytes zero, so that a result that fills less than the value union
  // leaves nothing undefined behind in the destination.
  olert::ScopedVariant result;
  std::memset(result.get(), 0, sizeof(VARIANT));
  try {
    hr = Convert(source, vt, wFlags, *result, 0);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  *pvargDest = result.Detach();
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

}  // extern "C"

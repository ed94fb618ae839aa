// variant.cpp: the life cycle of VARIANTs (init, clear, copy) and the
// type-validity rules that every variant function shares.
//
// Ownership: a variant owns its BSTR, its array and one reference on its
// interface; a VT_BYREF variant owns nothing. Copies are made complete before
// the destination is cleared, so a failed copy leaves the destination
// intact and a source that lives inside the destination is still readable.
#include <cstring>

#include "platform/olert/internal.h"
#include "platform/olert/olert.h"

namespace olert::detail {

namespace {

bool IsScalarType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsValidVariantType(VARTYPE vt) {
  VARTYPE base = vt & VT_TYPEMASK;
  VARTYPE flags = vt & ~VT_TYPEMASK;
  if ((flags & ~(VT_ARRAY | VT_BYREF)) != 0) return false;
  if (flags == 0) return IsScalarType(base);
  if (base == VT_EMPTY || base == VT_NULL) return false;
  return IsScalarType(base) || base == VT_VARIANT;
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1:
      return 1;
    case VT_I2: case VT_UI2: case VT_BOOL:
      return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
      return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE:
      return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

HRESULT ReadThrough(const VARIANT& src, VARIANT& out) {
  if ((src.vt & VT_BYREF) == 0) {
    out = src;
    return S_OK;
  }
  if (!IsValidVariantType(src.vt)) return DISP_E_BADVARTYPE;
  if (src.byref == nullptr) return E_INVALIDARG;
  VARTYPE base = src.vt & ~VT_BYREF;
  if (base == VT_VARIANT) {
    const VARIANT& inner = *src.pvarVal;
    // One level of VT_VARIANT indirection is what callers pass; a variant
    // that refers to yet another variant is refused rather than followed.
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    return ReadThrough(inner, out);
  }
  std::memset(&out, 0, sizeof out);
  if (base & VT_ARRAY) {
    out.parray = *src.pparray;
  } else if (base == VT_DECIMAL) {
    out.decVal = *src.pdecVal;
  } else {
    ULONG size = ElementSize(base);
    std::memcpy(&out.llVal, src.byref, size);
  }
  out.vt = base;
  return S_OK;
}

}  // namespace olert::detail

using olert::detail::IsValidVariantType;

namespace {

// Makes `dst` an owning copy of `src` (which is not VT_BYREF-dereferenced).
// On failure `dst` is VT_EMPTY.
HRESULT CopyInto(VARIANT& dst, const VARIANT& src) {
  if (!IsValidVariantType(src.vt)) return DISP_E_BADVARTYPE;
  dst = src;
  if (src.vt & VT_BYREF) return S_OK;
  HRESULT hr = S_OK;
  if (src.vt & VT_ARRAY) {
    if (src.parray != nullptr) hr = SafeArrayCopy(src.parray, &dst.parray);
  } else if (src.vt == VT_BSTR) {
    if (src.bstrVal != nullptr) {
      dst.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal),
                                          SysStringByteLen(src.bstrVal));
      if (dst.bstrVal == nullptr) hr = E_OUTOFMEMORY;
    }
  } else if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) {
    if (src.punkVal != nullptr) src.punkVal->AddRef();
  }
  if (FAILED(hr)) VariantInit(&dst);
  return hr;
}

// Clears `dest` and moves `value` in; `value` is released if clearing fails.
HRESULT Replace(VARIANT* dest, VARIANT& value) {
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  *dest = value;
  return S_OK;
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  VARTYPE vt = pvarg->vt;
  if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) == 0) {
    if (vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
    }
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy;
  HRESULT hr = CopyInto(copy, *pvargSrc);
  if (FAILED(hr)) return hr;
  return Replace(pvargDest, copy);
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  VARIANT shallow;
  HRESULT hr = olert::detail::ReadThrough(*pvargSrc, shallow);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyInto(copy, shallow);
  if (FAILED(hr)) return hr;
  return Replace(pvarDest, copy);
}

}  // extern "C"

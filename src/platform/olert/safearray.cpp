// safearray.cpp: SAFEARRAY descriptors, their data and their elements.
//
// A descriptor made here is one block: 16 bytes in front of the SAFEARRAY
// header (the element VARTYPE sits in the 4 bytes right before it, as
// FADF_HAVEVARTYPE promises), the header, and one bound per dimension. The
// bounds are stored right-most dimension first, as on Windows; indexes come
// in left-most first, and the first index varies fastest in memory.
//
// Arrays flagged FADF_AUTO, FADF_STATIC or FADF_EMBEDDED were laid out by
// their creator: their elements are released here but their memory is not.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/olert/internal.h"
#include "platform/olert/olert.h"

namespace {

constexpr size_t kPrefix = 16;
constexpr USHORT kForeignMemory = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
constexpr ULONG kMaxLocks = 0xFFFF;

size_t DescriptorSize(UINT cDims) {
  return offsetof(SAFEARRAY, rgsabound) + static_cast<size_t>(cDims) * sizeof(SAFEARRAYBOUND);
}

void StoreVartype(SAFEARRAY* psa, VARTYPE vt) {
  DWORD v = vt;
  std::memcpy(reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD), &v, sizeof v);
}

VARTYPE LoadVartype(SAFEARRAY* psa) {
  DWORD v;
  std::memcpy(&v, reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD), sizeof v);
  return static_cast<VARTYPE>(v);
}

// What the elements are, as far as ownership goes; VT_EMPTY for plain bytes.
VARTYPE ElementKind(SAFEARRAY* psa) {
  if (psa->fFeatures & FADF_BSTR) return VT_BSTR;
  if (psa->fFeatures & FADF_VARIANT) return VT_VARIANT;
  if (psa->fFeatures & FADF_DISPATCH) return VT_DISPATCH;
  if (psa->fFeatures & FADF_UNKNOWN) return VT_UNKNOWN;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    VARTYPE vt = LoadVartype(psa);
    if (vt == VT_BSTR || vt == VT_VARIANT || vt == VT_DISPATCH || vt == VT_UNKNOWN) return vt;
  }
  return VT_EMPTY;
}

USHORT FeaturesFor(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    default: return FADF_HAVEVARTYPE;
  }
}

// Elements in the whole array; false when the count or the byte size
// overflows.
bool ElementCount(SAFEARRAY* psa, size_t& count) {
  unsigned __int128 n = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    n *= psa->rgsabound[i].cElements;
    if (n * (psa->cbElements == 0 ? 1 : psa->cbElements) > (static_cast<unsigned __int128>(1) << 46)) {
      return false;
    }
  }
  count = static_cast<size_t>(n);
  return true;
}

// Byte offset of the element at rgIndices (left-most dimension first).
HRESULT CellOffset(SAFEARRAY* psa, const LONG* rgIndices, size_t& offset) {
  size_t cell = 0, stride = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - i];
    int64_t rel = static_cast<int64_t>(rgIndices[i]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<int64_t>(b.cElements)) return DISP_E_BADINDEX;
    cell += static_cast<size_t>(rel) * stride;
    stride *= b.cElements;
  }
  offset = cell * psa->cbElements;
  return S_OK;
}

void ReleaseElement(VARTYPE kind, void* cell) {
  switch (kind) {
    case VT_BSTR: {
      BSTR* p = static_cast<BSTR*>(cell);
      SysFreeString(*p);
      *p = nullptr;
      break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown** p = static_cast<IUnknown**>(cell);
      if (*p != nullptr) (*p)->Release();
      *p = nullptr;
      break;
    }
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(cell));
      break;
    default:
      break;
  }
}

// Copies one element from `src` into the zeroed cell `dst` of the same kind.
HRESULT CopyElement(VARTYPE kind, ULONG size, const void* src, void* dst) {
  switch (kind) {
    case VT_BSTR: {
      BSTR from = *static_cast<const BSTR*>(src);
      BSTR copy = nullptr;
      if (from != nullptr) {
        copy = SysAllocStringByteLen(reinterpret_cast<const char*>(from), SysStringByteLen(from));
        if (copy == nullptr) return E_OUTOFMEMORY;
      }
      *static_cast<BSTR*>(dst) = copy;
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* p = *static_cast<IUnknown* const*>(src);
      if (p != nullptr) p->AddRef();
      *static_cast<IUnknown**>(dst) = p;
      return S_OK;
    }
    case VT_VARIANT:
      VariantInit(static_cast<VARIANT*>(dst));
      return VariantCopy(static_cast<VARIANT*>(dst), static_cast<const VARIANT*>(src));
    default:
      std::memcpy(dst, src, size);
      return S_OK;
  }
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) { return std::atomic_ref<ULONG>(psa->cLocks); }

}  // namespace

extern "C" {

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (cDims == 0 || cDims > 0xFFFF) return E_INVALIDARG;
  auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefix + DescriptorSize(cDims)));
  if (block == nullptr) return E_OUTOFMEMORY;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
  psa->cDims = static_cast<USHORT>(cDims);
  *ppsaOut = psa;
  return S_OK;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  ULONG size = olert::detail::ElementSize(vt);
  if (size == 0) return E_INVALIDARG;
  HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
  if (FAILED(hr)) return hr;
  (*ppsaOut)->cbElements = size;
  (*ppsaOut)->fFeatures = FeaturesFor(vt);
  StoreVartype(*ppsaOut, vt);
  return S_OK;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  size_t count;
  if (!ElementCount(psa, count)) return E_OUTOFMEMORY;
  size_t bytes = count * psa->cbElements;
  psa->pvData = std::calloc(bytes == 0 ? 1 : bytes, 1);
  return psa->pvData == nullptr ? E_OUTOFMEMORY : S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (rgsabound == nullptr) return nullptr;
  SAFEARRAY* psa;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) return nullptr;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(SafeArrayAllocData(psa))) {
    SafeArrayDestroyDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound = {cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (Locks(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  if (psa->pvData == nullptr) return S_OK;
  VARTYPE kind = ElementKind(psa);
  size_t count = 0;
  if (!ElementCount(psa, count)) return E_UNEXPECTED;
  if (kind != VT_EMPTY) {
    auto* data = static_cast<unsigned char*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) ReleaseElement(kind, data + i * psa->cbElements);
  }
  if (psa->fFeatures & kForeignMemory) {
    std::memset(psa->pvData, 0, count * psa->cbElements);
  } else {
    std::free(psa->pvData);
    psa->pvData = nullptr;
  }
  return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (Locks(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  if ((psa->fFeatures & kForeignMemory) == 0) {
    std::free(reinterpret_cast<unsigned char*>(psa) - kPrefix);
  }
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (Locks(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  HRESULT hr = SafeArrayDestroyData(psa);
  if (FAILED(hr)) return hr;
  return SafeArrayDestroyDescriptor(psa);
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAY* copy;
  HRESULT hr = SafeArrayAllocDescriptor(psa->cDims, &copy);
  if (FAILED(hr)) return hr;
  copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~kForeignMemory);
  copy->cbElements = psa->cbElements;
  std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  if (psa->fFeatures & FADF_HAVEVARTYPE) StoreVartype(copy, LoadVartype(psa));
  if (psa->pvData == nullptr) {
    *ppsaOut = copy;
    return S_OK;
  }
  hr = SafeArrayAllocData(copy);
  if (FAILED(hr)) {
    SafeArrayDestroyDescriptor(copy);
    return hr;
  }
  size_t count = 0;
  ElementCount(copy, count);
  VARTYPE kind = ElementKind(psa);
  auto* from = static_cast<const unsigned char*>(psa->pvData);
  auto* to = static_cast<unsigned char*>(copy->pvData);
  for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    hr = CopyElement(kind, psa->cbElements, from + i * psa->cbElements, to + i * psa->cbElements);
  }
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    *pvt = LoadVartype(psa);
    return S_OK;
  }
  VARTYPE kind = ElementKind(psa);
  if (kind == VT_EMPTY) {
    *pvt = VT_EMPTY;
    return E_INVALIDARG;
  }
  *pvt = kind;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (Locks(psa).fetch_add(1) >= kMaxLocks) {
    Locks(psa).fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ULONG current = Locks(psa).load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  *ppvData = nullptr;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (ppvData != nullptr) *ppvData = nullptr;
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  if (psa->pvData == nullptr) return E_INVALIDARG;
  size_t offset;
  HRESULT hr = CellOffset(psa, rgIndices, offset);
  if (FAILED(hr)) return hr;
  *ppvData = static_cast<unsigned char*>(psa->pvData) + offset;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (pv == nullptr) return E_INVALIDARG;
  void* cell;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  SafeArrayLock(psa);
  hr = CopyElement(ElementKind(psa), psa->cbElements, cell, pv);
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  void* cell;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  VARTYPE kind = ElementKind(psa);
  if (pv == nullptr && kind != VT_BSTR && kind != VT_UNKNOWN && kind != VT_DISPATCH) {
    return E_INVALIDARG;
  }
  SafeArrayLock(psa);
  switch (kind) {
    case VT_BSTR: {
      auto from = static_cast<BSTR>(pv);
      BSTR copy = nullptr;
      if (from != nullptr) {
        copy = SysAllocStringByteLen(reinterpret_cast<const char*>(from), SysStringByteLen(from));
        if (copy == nullptr) hr = E_OUTOFMEMORY;
      }
      if (SUCCEEDED(hr)) {
        SysFreeString(*static_cast<BSTR*>(cell));
        *static_cast<BSTR*>(cell) = copy;
      }
      break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      auto* p = static_cast<IUnknown*>(pv);
      if (p != nullptr) p->AddRef();
      IUnknown* old = *static_cast<IUnknown**>(cell);
      *static_cast<IUnknown**>(cell) = p;
      if (old != nullptr) old->Release();
      break;
    }
    case VT_VARIANT:
      hr = VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
      break;
    default:
      std::memcpy(cell, pv, psa->cbElements);
      break;
  }
  SafeArrayUnlock(psa);
  return hr;
}

}  // extern "C"

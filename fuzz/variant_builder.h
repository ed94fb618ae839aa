// Builds automation VARIANTs from fuzz input, for the targets that feed the
// runtime's variant functions and the shells.
//
// Every VARIANT built is one a client could build in good faith: a VT_BYREF
// value points at live storage of its type (or is null), an array is made by
// the runtime's own array functions, interfaces are real objects. Storage
// keeps everything a reference may point at alive until it is destroyed, so
// the VARIANTs themselves can be copied, converted and cleared freely while
// it lives. The objects are ValueObjects: a dispatch object whose default
// property answers a value fixed when it was made, counted so that a target
// can check that every reference it was given back was released.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/olert/olert.h"

namespace fuzzing {

// Aborts (a finding) with the place of the failed check.
inline void CheckAt(bool ok, const char* file, int line) {
  if (ok) return;
  std::fprintf(stderr, "check failed at %s:%d\n", file, line);
  std::abort();
}
#define FUZZ_CHECK(ok) ::fuzzing::CheckAt((ok), __FILE__, __LINE__)

// Reads the input front to back; past its end every read answers zero.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  size_t left() const { return n_; }
  uint8_t Byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  bool Bit() { return (Byte() & 1) != 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
  uint64_t U64() { return static_cast<uint64_t>(U32()) | (static_cast<uint64_t>(U32()) << 32); }
  // Up to `max` bytes, fewer when the input runs out.
  std::string_view Bytes(size_t max) {
    size_t n = std::min(max, n_);
    std::string_view out(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    n_ -= n;
    return out;
  }
  // A length byte, then that many bytes (at most `max`).
  std::string_view Chunk(size_t max) { return Bytes(std::min<size_t>(Byte(), max)); }
  double Double() {
    static constexpr double kEdges[] = {
        0.0, -0.0, 0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 1.0, -1.0, -1.25, 0.1, 1e20, 1e-5,
        127.5, 128.0, -128.5, 255.5, 32767.5, 65535.5, 2147483647.5, -2147483648.5,
        4294967295.5, 9.2233720368547758e18, -9.2233720368547758e18, 1.8446744073709552e19,
        922337203685477.5807, 3.402823466e38, 3.5e38, 1e308,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -657434.0, -657435.0, 2958465.0, 2958466.0,
        2958465.9999999, -657434.9999999, -1.9999999, 0.99999999,
    };
    uint8_t how = Byte();
    if (how < 128) return kEdges[how % (sizeof kEdges / sizeof kEdges[0])];
    uint64_t bits = U64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

// A dispatch object whose default property (DISPID_VALUE) answers a copy of
// its value, or fails when it was made to. With `dispatch` false it answers
// IUnknown only.
class ValueObject final : public IDispatch {
 public:
  static int& Live() {
    static int live = 0;
    return live;
  }
  // Takes over `value`.
  ValueObject(VARIANT value, bool dispatch, bool fails)
      : value_(value), dispatch_(dispatch), fails_(fails) {
    ++Live();
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || (dispatch_ && riid == IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    FUZZ_CHECK(refs_ > 0);
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_VALUE || fails_) return DISP_E_MEMBERNOTFOUND;
    if (result == nullptr) return S_OK;
    return VariantCopy(result, &value_);
  }

 private:
  ~ValueObject() {
    VariantClear(&value_);
    --Live();
  }
  VARIANT value_;
  bool dispatch_;
  bool fails_;
  ULONG refs_ = 0;
};

// What VT_BYREF values point at, alive until destroyed. Slots never move.
class Storage {
 public:
  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;
  ~Storage() {
    // Variants may hold arrays and objects whose own values point into the
    // other slots; those pointers are never followed while clearing.
    for (VARIANT& v : variants_) VariantClear(&v);
    for (BSTR b : bstrs_) SysFreeString(b);
    for (SAFEARRAY* a : arrays_) SafeArrayDestroy(a);
    for (IUnknown* u : objects_) {
      if (u != nullptr) u->Release();
    }
  }
  // Sixteen zeroed, suitably aligned bytes.
  void* Cell() {
    cells_.emplace_back();
    return &cells_.back();
  }
  BSTR* Bstr(BSTR value) {
    bstrs_.push_back(value);
    return &bstrs_.back();
  }
  SAFEARRAY** Array(SAFEARRAY* value) {
    arrays_.push_back(value);
    return &arrays_.back();
  }
  IUnknown** Object(IUnknown* value) {
    objects_.push_back(value);
    return &objects_.back();
  }
  VARIANT* Variant(VARIANT value) {
    variants_.push_back(value);
    return &variants_.back();
  }
  // A text buffer of exactly `size` bytes.
  char* Text(size_t size) {
    texts_.emplace_back(size);
    return texts_.back().data();
  }

 private:
  struct alignas(16) Bytes16 {
    unsigned char b[16] = {};
  };
  std::deque<Bytes16> cells_;
  std::deque<BSTR> bstrs_;
  std::deque<SAFEARRAY*> arrays_;
  std::deque<IUnknown*> objects_;
  std::deque<VARIANT> variants_;
  std::deque<std::vector<char>> texts_;
};

// Clears a VARIANT that Builder::Make gave. VariantClear refuses VT_ARRAY
// without an element type (no variant may hold it), so such an array is
// destroyed here, as the client that made it would.
inline void ClearBuilt(VARIANT& v) {
  if (v.vt == VT_ARRAY) {
    FUZZ_CHECK(SafeArrayDestroy(v.parray) == S_OK);
    v.vt = VT_EMPTY;
    return;
  }
  VariantClear(&v);  // a type no variant may hold owns nothing
}

struct BuildOptions {
  // VT_BYREF | VT_I1 points at a NUL-terminated text, or at exactly
  // `byref_text_bound` bytes that may lack the NUL (the shells' rule); else
  // at one byte.
  bool byref_text = false;
  size_t byref_text_bound = 0;
  // Arrays may carry a VARIANT type that names no element type (VT_ARRAY
  // alone, at the top level only) or another one than theirs.
  bool loose_array_types = true;
  // Dispatch objects a value may refer to besides new ValueObjects
  // (borrowed; a value that uses one takes its own reference).
  std::vector<IDispatch*> objects;
};

inline constexpr VARTYPE kScalarTypes[] = {
    VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR,
    VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
};
inline constexpr VARTYPE kElementTypes[] = {
    VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT,
    VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
};

template <size_t N>
VARTYPE Pick(Input& in, const VARTYPE (&types)[N]) {
  return types[in.Byte() % N];
}

class Builder {
 public:
  Builder(Input& in, Storage& storage, BuildOptions options = {})
      : in_(in), storage_(storage), options_(std::move(options)) {}

  // A VARIANT the caller owns (clear it) while the storage lives.
  VARIANT Make(int depth = 0) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    const uint8_t shape = in_.Byte();
    if (depth >= 3) {
      FillScalar(v, Pick(in_, kScalarTypes), depth);
      return v;
    }
    switch (shape % 8) {
      case 0:
      case 1:
      case 2:
        FillScalar(v, Pick(in_, kScalarTypes), depth);
        break;
      case 3:
        FillArray(v, depth);
        break;
      case 4:
      case 5:
        FillByRef(v, depth);
        break;
      case 6: {
        // Any type at all over a zeroed value: owns nothing, whatever the
        // type says, so every answer is safe to clear or leave.
        v.vt = in_.U16();
        break;
      }
      default:
        FillScalar(v, VT_BSTR, depth);
        break;
    }
    return v;
  }

  // Text as UTF-16 units: one per byte (ASCII/Latin-1, what numbers and
  // dates are written in) or raw pairs of bytes (surrogates, NULs).
  BSTR Text() {
    const bool wide = in_.Bit();
    std::string_view bytes = in_.Chunk(wide ? 128 : 64);
    std::vector<OLECHAR> units;
    if (wide) {
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<OLECHAR>(static_cast<uint8_t>(bytes[i]) |
                                             (static_cast<uint8_t>(bytes[i + 1]) << 8)));
      }
    } else {
      for (char c : bytes) units.push_back(static_cast<OLECHAR>(static_cast<uint8_t>(c)));
    }
    BSTR out = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
    FUZZ_CHECK(out != nullptr);
    return out;
  }

  // An object for a value of type `vt` (VT_UNKNOWN or VT_DISPATCH, where
  // the pointer must answer IDispatch), or null; the caller owns the
  // reference.
  IUnknown* ObjectOf(VARTYPE vt, int depth) {
    IUnknown* u = Object(depth);
    if (vt != VT_DISPATCH || u == nullptr) return u;
    IDispatch* d = nullptr;
    if (FAILED(u->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) d = nullptr;
    u->Release();
    return d;
  }

  IUnknown* Object(int depth) {
    const uint8_t how = in_.Byte();
    if (how % 5 == 0) return nullptr;
    if (how % 5 == 1 && !options_.objects.empty()) {
      IDispatch* d = options_.objects[in_.Byte() % options_.objects.size()];
      d->AddRef();
      return d;
    }
    VARIANT value = depth < 4 ? Make(depth + 1) : VARIANT{};
    auto* object = new ValueObject(value, (how & 0x10) == 0, (how & 0x20) != 0);
    object->AddRef();
    return object;
  }

 private:
  // The value bytes of a scalar type into `cell` (at least 16 bytes).
  void ScalarBytes(VARTYPE vt, void* cell, int depth) {
    switch (vt) {
      case VT_R4: {
        float f = static_cast<float>(in_.Double());
        if (in_.Bit()) {
          uint32_t bits = in_.U32();
          std::memcpy(&f, &bits, sizeof f);
        }
        std::memcpy(cell, &f, sizeof f);
        break;
      }
      case VT_R8:
      case VT_DATE: {
        double d = in_.Double();
        std::memcpy(cell, &d, sizeof d);
        break;
      }
      case VT_BOOL: {
        const uint8_t b = in_.Byte();
        const VARIANT_BOOL v = b < 100   ? VARIANT_TRUE
                               : b < 200 ? VARIANT_FALSE
                                         : static_cast<VARIANT_BOOL>(b);
        std::memcpy(cell, &v, sizeof v);
        break;
      }
      case VT_BSTR: {
        BSTR b = in_.Byte() % 8 == 0 ? nullptr : Text();
        std::memcpy(cell, &b, sizeof b);
        break;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: {
        IUnknown* u = ObjectOf(vt, depth);
        std::memcpy(cell, &u, sizeof u);
        break;
      }
      case VT_DECIMAL: {
        DECIMAL d;
        std::memset(&d, 0, sizeof d);
        d.scale = in_.Byte() % 32;
        d.sign = in_.Bit() ? 0x80 : 0;
        d.Hi32 = in_.U32();
        d.Lo64 = in_.U64();
        std::memcpy(cell, &d, sizeof d);
        break;
      }
      default: {
        uint64_t bits = in_.U64();
        std::memcpy(cell, &bits, ValueSize(vt));
        break;
      }
    }
  }

  static size_t ValueSize(VARTYPE vt) {
    switch (vt) {
      case VT_I1: case VT_UI1: return 1;
      case VT_I2: case VT_UI2: case VT_BOOL: return 2;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
      case VT_DECIMAL: return 16;
      default: return 8;
    }
  }

  void FillScalar(VARIANT& v, VARTYPE vt, int depth) {
    if (vt == VT_EMPTY || vt == VT_NULL) {
      v.vt = vt;
      return;
    }
    alignas(16) unsigned char cell[16] = {};
    ScalarBytes(vt, cell, depth);
    if (vt == VT_DECIMAL) {
      std::memcpy(&v.decVal, cell, sizeof(DECIMAL));  // covers vt, set after
    } else {
      std::memcpy(&v.llVal, cell, 8);
    }
    v.vt = vt;
  }

  // Fills the zeroed element at `cell` with an owned value of type `et`.
  void Element(VARTYPE et, void* cell, int depth) {
    if (et == VT_VARIANT) {
      VARIANT e = Make(depth + 1);
      std::memcpy(cell, &e, sizeof e);
    } else {
      ScalarBytes(et, cell, depth + 1);  // BSTRs and objects are owned by the array
    }
  }

  SAFEARRAY* NewArray(VARTYPE* declared, bool* recorded, int depth) {
    const uint8_t how = in_.Byte();
    const UINT dims = 1 + (how % 7 == 0 ? 2 : how % 5 == 0 ? 1 : 0);
    SAFEARRAYBOUND bounds[3];
    for (UINT d = 0; d < dims; ++d) {
      bounds[d].cElements = in_.Byte() % 5;
      const uint8_t low = in_.Byte();
      bounds[d].lLbound = low < 200 ? static_cast<LONG>(low % 8) - 2 : static_cast<LONG>(in_.U32());
    }
    SAFEARRAY* psa = nullptr;
    VARTYPE et = Pick(in_, kElementTypes);
    if ((how & 0x80) == 0) {
      psa = SafeArrayCreate(et, dims, bounds);
    } else {
      // A descriptor of the caller's own: no element type recorded, only
      // the size and, for owning kinds, the feature flag.
      static constexpr struct {
        ULONG size;
        USHORT features;
        VARTYPE vt;
      } kKinds[] = {{1, 0, VT_UI1},        {2, 0, VT_I2},
                    {4, 0, VT_I4},         {8, 0, VT_R8},
                    {16, 0, VT_DECIMAL},   {sizeof(BSTR), FADF_BSTR, VT_BSTR},
                    {sizeof(VARIANT), FADF_VARIANT, VT_VARIANT},
                    {sizeof(void*), FADF_UNKNOWN, VT_UNKNOWN},
                    {sizeof(void*), FADF_DISPATCH, VT_DISPATCH}};
      const auto& kind = kKinds[in_.Byte() % (sizeof kKinds / sizeof kKinds[0])];
      if (FAILED(SafeArrayAllocDescriptor(dims, &psa))) return nullptr;
      psa->cbElements = kind.size;
      psa->fFeatures = kind.features;
      for (UINT d = 0; d < dims; ++d) psa->rgsabound[dims - 1 - d] = bounds[d];
      if (FAILED(SafeArrayAllocData(psa))) {
        SafeArrayDestroyDescriptor(psa);
        return nullptr;
      }
      et = kind.vt;
      *recorded = kind.features != 0;
    }
    if (psa == nullptr) return nullptr;
    size_t count = 1;
    for (UINT d = 0; d < dims; ++d) count *= bounds[d].cElements;
    void* data = nullptr;
    FUZZ_CHECK(SUCCEEDED(SafeArrayAccessData(psa, &data)));
    auto* bytes = static_cast<unsigned char*>(data);
    for (size_t i = 0; i < count && i < 12; ++i) {
      Element(et, bytes + i * psa->cbElements, depth);
    }
    SafeArrayUnaccessData(psa);
    *declared = et;
    return psa;
  }

  // The VARIANT type of an array whose elements are `et`: the right one,
  // or (loose types) VT_ARRAY alone at the top level, or another element
  // type when the array records its own (which then wins). An array that
  // records no type is never declared as holding something else: that
  // would be a client lying about its memory.
  VARTYPE ArrayType(VARTYPE et, bool recorded, int depth) {
    if (options_.loose_array_types) {
      const uint8_t how = in_.Byte();
      if (how % 4 == 0 && depth == 0) return VT_ARRAY;
      if (how % 4 == 1 && recorded) et = Pick(in_, kElementTypes);
    }
    return static_cast<VARTYPE>(VT_ARRAY | et);
  }

  void FillArray(VARIANT& v, int depth) {
    VARTYPE et = VT_EMPTY;
    bool recorded = true;
    SAFEARRAY* psa = in_.Byte() % 16 == 0 ? nullptr : NewArray(&et, &recorded, depth);
    if (psa == nullptr) et = Pick(in_, kElementTypes);
    v.parray = psa;
    v.vt = ArrayType(et, recorded, depth);
  }

  void FillByRef(VARIANT& v, int depth) {
    const uint8_t how = in_.Byte();
    VARTYPE base;
    if (how % 4 == 0) {
      base = VT_VARIANT;
    } else if (how % 4 == 1) {
      // A reference to an array variable: its type follows the array.
      VARTYPE et = VT_EMPTY;
      bool recorded = true;
      SAFEARRAY* psa = in_.Byte() % 16 == 0 ? nullptr : NewArray(&et, &recorded, depth);
      if (psa == nullptr) et = Pick(in_, kElementTypes);
      v.pparray = storage_.Array(psa);
      v.vt = static_cast<VARTYPE>(VT_BYREF | ArrayType(et, recorded, depth));
      if (how >= 240) v.pparray = nullptr;  // a null reference
      return;
    } else if (how % 8 == 2) {
      base = VT_I1;
    } else {
      base = Pick(in_, kScalarTypes);
      if (base == VT_EMPTY || base == VT_NULL) base = VT_I4;
    }
    v.vt = static_cast<VARTYPE>(VT_BYREF | base);
    if (how >= 240) {
      v.byref = nullptr;  // a null reference
      return;
    }
    if (base == VT_VARIANT) {
      v.pvarVal = storage_.Variant(Make(depth + 1));
    } else if (base == VT_BSTR) {
      v.pbstrVal = storage_.Bstr(in_.Byte() % 8 == 0 ? nullptr : Text());
    } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
      v.ppunkVal = storage_.Object(ObjectOf(base, depth));
    } else if (base == VT_I1 && options_.byref_text) {
      v.pcVal = ByRefText();
    } else {
      void* cell = storage_.Cell();
      ScalarBytes(base, cell, depth);
      v.byref = cell;
    }
  }

  // Text behind VT_BYREF | VT_I1: NUL-terminated, or exactly the bound's
  // size with or without a NUL inside.
  char* ByRefText() {
    const uint8_t how = in_.Byte();
    std::string_view bytes = in_.Chunk(255);
    if (how % 3 != 0) {
      char* p = storage_.Text(bytes.size() + 1);
      std::memcpy(p, bytes.data(), bytes.size());
      p[bytes.size()] = '\0';
      return p;
    }
    const size_t bound = options_.byref_text_bound;
    char* p = storage_.Text(bound);
    for (size_t i = 0; i < bound; ++i) {
      p[i] = bytes.empty() ? static_cast<char>('a' + i % 26) : bytes[i % bytes.size()];
    }
    if (how % 2 == 0 && bound > 0) {
      for (size_t i = 0; i < bound; ++i) {  // no NUL anywhere within the bound
        if (p[i] == '\0') p[i] = '0';
      }
    }
    return p;
  }

  Input& in_;
  Storage& storage_;
  BuildOptions options_;
};

}  // namespace fuzzing

// The VARIANT <-> Variant conversions of the COM boundary.
//
// Reading a VARIANT never trusts its shape: by-reference values are checked
// for null, arrays for their dimension count and element size, and nesting
// (arrays of VARIANTs holding arrays, references to VARIANTs) is bounded so
// that a cyclic structure cannot exhaust the stack.
#include "activex_shell/variant_convert.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "base/errors.h"
#include "base/utf8.h"
#include "platform/olert/automation.h"

namespace quill {
namespace {

// Arrays of VARIANTs may hold arrays and references; deeper than this is
// treated as a malformed (probably cyclic) value.
constexpr int kMaxNesting = 64;

[[noreturn]] void Fail(const std::string& message) { throw EVariantError(message); }

[[noreturn]] void Unsupported(VARTYPE vt) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(vt));
  Fail(std::string("Unsupported variant type (0x") + text + ")");
}

// Bytes one value of a scalar type occupies, in a safe array or behind a
// VT_BYREF pointer; 0 for types that are not scalars here.
size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// A non-owning VARIANT of type `vt` whose value is copied from `p`. Never
// clear it: BSTRs and interfaces in it still belong to the caller.
VARIANT ViewOf(VARTYPE vt, const void* p) {
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  if (vt == VT_VARIANT) {
    std::memcpy(&v, p, sizeof v);
  } else if (vt == VT_DECIMAL) {
    std::memcpy(&v.decVal, p, sizeof(DECIMAL));  // overlays vt, set below
    v.vt = VT_DECIMAL;
  } else {
    std::memcpy(&v.llVal, p, ScalarSize(vt));
    v.vt = vt;
  }
  return v;
}

Variant FromUnsigned32(uint32_t v) {
  if (v <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return Variant(static_cast<int32_t>(v));
  }
  return Variant(static_cast<int64_t>(v));
}

double DecimalToDouble(const DECIMAL& d) {
  double mantissa = static_cast<double>(d.Hi32) * 18446744073709551616.0 +
                    static_cast<double>(d.Lo64);
  double value = mantissa / std::pow(10.0, d.scale);
  return (d.sign & 0x80) ? -value : value;
}

// A by-value scalar VARIANT (VT_BYREF and VT_ARRAY excluded).
Variant ScalarToValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::Null();
    case VT_I1: return Variant(static_cast<int32_t>(static_cast<signed char>(v.cVal)));
    case VT_UI1: return Variant(static_cast<int32_t>(v.bVal));
    case VT_I2: return Variant(static_cast<int32_t>(v.iVal));
    case VT_UI2: return Variant(static_cast<int32_t>(v.uiVal));
    case VT_I4: return Variant(static_cast<int32_t>(v.lVal));
    case VT_INT: return Variant(static_cast<int32_t>(v.intVal));
    case VT_ERROR: return Variant(static_cast<int32_t>(v.scode));
    case VT_UI4: return FromUnsigned32(v.ulVal);
    case VT_UINT: return FromUnsigned32(v.uintVal);
    case VT_I8: return Variant(static_cast<int64_t>(v.llVal));
    case VT_UI8:
      if (v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max())) {
        Fail("Overflow while converting variant of type (UInt64) into type (Int64)");
      }
      return Variant(static_cast<int64_t>(v.ullVal));
    case VT_R4: return Variant(static_cast<double>(v.fltVal));
    case VT_R8: return Variant(v.dblVal);
    case VT_DECIMAL: return Variant(DecimalToDouble(v.decVal));
    case VT_CY: return Variant::FromCurrency(v.cyVal.int64);
    case VT_DATE: return Variant::FromDate(v.date);
    case VT_BSTR: return Variant(BstrToString(v.bstrVal));
    case VT_BOOL: return Variant(v.boolVal != VARIANT_FALSE);
    case VT_DISPATCH: return Variant(v.pdispVal);
    case VT_UNKNOWN: return Variant(v.punkVal);
    default: Unsupported(v.vt);
  }
}

Variant Convert(const VARIANT& v, int depth);

// Keeps a safe array's data locked while it lives (when it could lock it).
class ArrayAccess {
 public:
  explicit ArrayAccess(SAFEARRAY* psa)
      : psa_(psa), locked_(SUCCEEDED(SafeArrayAccessData(psa_, &data_))) {}
  ~ArrayAccess() {
    if (locked_) SafeArrayUnaccessData(psa_);
  }
  ArrayAccess(const ArrayAccess&) = delete;
  ArrayAccess& operator=(const ArrayAccess&) = delete;
  bool locked() const { return locked_; }
  void* data() const { return data_; }

 private:
  SAFEARRAY* psa_;
  void* data_ = nullptr;
  bool locked_;
};

// The element type of a safe array: its own record of it when it keeps one,
// else what the VARIANT's type says, else what its feature flags say.
VARTYPE ElementType(SAFEARRAY* psa, VARTYPE declared) {
  VARTYPE vt = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(psa, &vt)) && vt != VT_EMPTY) return vt;
  if (declared != VT_EMPTY) return declared;
  if (psa->fFeatures & FADF_VARIANT) return VT_VARIANT;
  if (psa->fFeatures & FADF_BSTR) return VT_BSTR;
  if (psa->fFeatures & FADF_DISPATCH) return VT_DISPATCH;
  if (psa->fFeatures & FADF_UNKNOWN) return VT_UNKNOWN;
  Fail("The element type of the array is unknown");
}

Variant ArrayToValue(SAFEARRAY* psa, VARTYPE declared, int depth) {
  if (psa == nullptr) Fail("Variant array reference is null");
  if (depth > kMaxNesting) Fail("Variant arrays are nested too deeply");
  if (SafeArrayGetDim(psa) != 1) Fail("Only one-dimensional variant arrays are supported");
  VARTYPE et = ElementType(psa, declared);
  size_t size = ScalarSize(et);
  if (size == 0) Unsupported(static_cast<VARTYPE>(VT_ARRAY | et));
  if (psa->cbElements != size) Fail("The elements of the array do not match their type");
  LONG low = 0;
  if (FAILED(SafeArrayGetLBound(psa, 1, &low))) Fail("Cannot read the bounds of the array");
  ULONG count = psa->rgsabound[0].cElements;

  VariantArray out;
  out.LowBound = low;
  out.Items.reserve(count);
  const ArrayAccess access(psa);
  if (!access.locked()) Fail("Cannot read the elements of the array");
  const olert::SafeArrayElements elements(psa);
  for (ULONG i = 0; i < count; ++i) out.Items.push_back(Convert(elements.ViewAs(i, et), depth + 1));
  return Variant(std::move(out));
}

Variant Convert(const VARIANT& v, int depth) {
  if (depth > kMaxNesting) Fail("Variant references are nested too deeply");
  if (v.vt & (VT_VECTOR | VT_RESERVED)) Unsupported(v.vt);
  if (v.vt & VT_BYREF) {
    VARTYPE target = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
    if (v.byref == nullptr) Fail("Variant reference is null");
    if (target & VT_ARRAY) return ArrayToValue(*v.pparray, target & VT_TYPEMASK, depth);
    if (target == VT_VARIANT) {
      // A reference to a reference to a VARIANT is no value a client builds
      // in good faith; refusing it also ends any reference cycle.
      if (v.pvarVal->vt == (VT_BYREF | VT_VARIANT)) Fail("Variant reference chain is too deep");
      return Convert(*v.pvarVal, depth + 1);
    }
    if (ScalarSize(target) == 0) Unsupported(v.vt);
    return ScalarToValue(ViewOf(target, v.byref));
  }
  if (v.vt & VT_ARRAY) return ArrayToValue(v.parray, v.vt & VT_TYPEMASK, depth);
  return ScalarToValue(v);
}

// VT_I1 by value: one character. A lone byte above 0x7F cannot be a UTF-8
// character, so it is read as the Latin-1 character of that code.
Variant CharText(CHAR c) {
  auto b = static_cast<unsigned char>(c);
  if (b < 0x80) return Variant(std::string(1, static_cast<char>(b)));
  std::string text;
  text += static_cast<char>(0xC0 | (b >> 6));
  text += static_cast<char>(0x80 | (b & 0x3F));
  return Variant(std::move(text));
}

// VT_BYREF | VT_I1: the referenced bytes up to their NUL, within the bound.
Variant ByRefText(const CHAR* p) {
  if (p == nullptr) Fail("Variant reference is null");
  size_t n = strnlen(p, kMaxByRefCharText);
  std::string_view bytes(p, n);
  if (n == kMaxByRefCharText) bytes = Utf8PrefixBytes(bytes, n);  // cut whole characters
  return Variant(std::string(bytes));
}

// {5C1E3B2A-8F47-4D6B-9A0E-2B7C4D1E6F30}: answered only by ByteBlock, so
// that ValueToVariant can tell its own byte values from script objects.
constexpr IID kIID_ByteBlock = {
    0x5C1E3B2A, 0x8F47, 0x4D6B, {0x9A, 0x0E, 0x2B, 0x7C, 0x4D, 0x1E, 0x6F, 0x30}};

class ByteBlock final : public olert::RefCounted<IUnknown> {
 public:
  explicit ByteBlock(std::string_view bytes) : bytes_(bytes) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object != nullptr && riid == kIID_ByteBlock) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return QueryListed(riid, object);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// The byte block inside an Unknown value, or null (no new reference).
const ByteBlock* AsByteBlock(IUnknown* unknown) {
  if (unknown == nullptr) return nullptr;
  olert::ComPtr<IUnknown> block;
  if (FAILED(unknown->QueryInterface(kIID_ByteBlock, block.ReceiveVoid())) || !block) {
    return nullptr;
  }
  return static_cast<const ByteBlock*>(block.get());  // `unknown` keeps it alive
}

void BytesToVariant(const std::string& bytes, VARIANT* out) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  FillNewArray(psa, VT_UI1, out, [&bytes](void* data) {
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  });
}

}  // namespace

void FillNewArray(SAFEARRAY* array, VARTYPE vt, VARIANT* out,
                  const std::function<void(void* data)>& fill) {
  if (array == nullptr) throw std::bad_alloc();
  olert::ScopedVariant owned;
  owned->parray = array;
  owned->vt = VT_ARRAY | vt;
  {
    const ArrayAccess access(array);
    if (!access.locked()) throw std::bad_alloc();
    fill(access.data());
  }
  *out = owned.Detach();
}

Variant ByteArrayValue(std::string_view bytes) {
  // The value takes a reference of its own; the block's first one goes here.
  const auto block = olert::ComPtr<IUnknown>::Adopt(new ByteBlock(bytes));
  return Variant(block.get());
}

std::string BstrToString(BSTR text) {
  if (text == nullptr) return std::string();
  return Utf16ToUtf8(std::u16string_view(text, SysStringLen(text)));
}

BSTR StringToBstr(std::string_view text) {
  std::u16string wide = Utf8ToUtf16(text);
  BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (out == nullptr) throw std::bad_alloc();
  return out;
}

Variant arg_to_value(const VARIANT& arg) {
  // Arrays of any element type, by value (what a page host passes for a
  // script array) or by reference, arrive as arrays: never as nothing.
  if ((arg.vt & VT_ARRAY) && !(arg.vt & (VT_VECTOR | VT_RESERVED))) return Convert(arg, 0);
  switch (arg.vt) {
    case VT_I2:
    case VT_I4:
    case VT_ERROR:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_BSTR:
    case VT_BOOL:
    case VT_DISPATCH:
    case VT_UNKNOWN: return ScalarToValue(arg);
    case VT_DATE: return Variant(arg.date);
    case VT_I1: return CharText(arg.cVal);
    case VT_BYREF | VT_VARIANT: return Convert(arg, 0);
    case VT_BYREF | VT_I1: return ByRefText(arg.pcVal);
    case VT_BYREF | VT_DATE:
      if (arg.pdate == nullptr) Fail("Variant reference is null");
      return Variant(*arg.pdate);
    case VT_BYREF | VT_I2:
    case VT_BYREF | VT_I4:
    case VT_BYREF | VT_R4:
    case VT_BYREF | VT_R8:
    case VT_BYREF | VT_CY:
    case VT_BYREF | VT_BSTR:
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_ERROR:
    case VT_BYREF | VT_BOOL:
    case VT_BYREF | VT_UNKNOWN:
    case VT_BYREF | VT_UI1:
    case VT_BYREF | VT_UI2:
    case VT_BYREF | VT_UI4:
    case VT_BYREF | VT_INT:
    case VT_BYREF | VT_UINT: return Convert(arg, 0);
    default: return Variant();
  }
}

Variant VariantToValue(const VARIANT& value) { return Convert(value, 0); }

void ValueToVariant(const Variant& value, VARIANT* out) {
  assert(out != nullptr);
  std::memset(out, 0, sizeof *out);
  switch (value.Type()) {
    case VarType::Empty: out->vt = VT_EMPTY; return;
    case VarType::Null: out->vt = VT_NULL; return;
    case VarType::Integer:
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(value.RawInt());
      return;
    case VarType::Int64: {
      constexpr int64_t kExactDouble = int64_t{1} << 53;
      int64_t v = value.RawInt();
      if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(v);
      } else if (v >= -kExactDouble && v <= kExactDouble) {
        out->vt = VT_R8;
        out->dblVal = static_cast<double>(v);
      } else {
        out->bstrVal = StringToBstr(std::to_string(v));
        out->vt = VT_BSTR;
      }
      return;
    }
    case VarType::Double:
      out->vt = VT_R8;
      out->dblVal = value.RawDouble();
      return;
    case VarType::Currency:
      out->vt = VT_CY;
      out->cyVal.int64 = value.RawCurrency();
      return;
    case VarType::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = value.RawInt() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VarType::Date:
      out->vt = VT_DATE;
      out->date = value.RawDouble();
      return;
    case VarType::String:
      out->bstrVal = StringToBstr(value.RawString());
      out->vt = VT_BSTR;
      return;
    case VarType::Dispatch:
      out->pdispVal = value.RawDispatch();
      if (out->pdispVal) out->pdispVal->AddRef();
      out->vt = VT_DISPATCH;
      return;
    case VarType::Unknown:
      if (const ByteBlock* block = AsByteBlock(value.RawUnknown())) {
        BytesToVariant(block->bytes(), out);
        return;
      }
      out->punkVal = value.RawUnknown();
      if (out->punkVal) out->punkVal->AddRef();
      out->vt = VT_UNKNOWN;
      return;
    case VarType::Array: {
      const VariantArray& array = value.RawArray();
      SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, array.LowBound,
                                             static_cast<ULONG>(array.Items.size()));
      FillNewArray(psa, VT_VARIANT, out, [&array](void* data) {
        auto* elements = static_cast<VARIANT*>(data);
        for (size_t i = 0; i < array.Items.size(); ++i) ValueToVariant(array.Items[i], &elements[i]);
      });
      return;
    }
  }
}

}  // namespace quill

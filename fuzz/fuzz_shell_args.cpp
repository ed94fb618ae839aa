// Fuzzes the shells' conversions between the automation VARIANT and the
// system's Variant (activex_shell/variant_convert.h): arg_to_value and
// VariantToValue over VARIANTs built from the input (fuzz/variant_builder.h:
// every VARTYPE, VT_BYREF combinations pointing at live storage, by-reference
// single-byte text with and without a NUL within the bound, safe arrays of
// several dimensions and element types), then ValueToVariant of what they
// gave.
//
// Checked, as the header documents it:
//   - the only failure is EVariantError, and the caller's VARIANT is never
//     changed;
//   - both give each VARTYPE the value type the header lists for it;
//     arg_to_value answers Empty for every type outside its list, one
//     character for VT_I1 and at most kMaxByRefCharText bytes for
//     VT_BYREF | VT_I1;
//   - ValueToVariant then VariantToValue gives the same value back (an
//     Int64 may come back as Integer, Double or String, as documented);
//   - every object reference taken is released again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "base/object.h"
#include "variant_builder.h"

namespace {

using fuzzing::Builder;
using fuzzing::BuildOptions;
using fuzzing::Input;
using fuzzing::Storage;
using quill::Variant;
using quill::VarType;

bool InArgumentList(VARTYPE vt) {
  // Arrays of any element type, by value or by reference.
  if ((vt & VT_ARRAY) && !(vt & (VT_VECTOR | VT_RESERVED))) return true;
  switch (vt) {
    case VT_I2: case VT_I4: case VT_ERROR: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_BSTR: case VT_BOOL:
    case VT_DISPATCH: case VT_UNKNOWN: case VT_DATE: case VT_I1: case VT_ARRAY:
    case VT_BYREF | VT_ARRAY: case VT_BYREF | VT_VARIANT: case VT_BYREF | VT_I1:
    case VT_BYREF | VT_DATE: case VT_BYREF | VT_I2: case VT_BYREF | VT_I4:
    case VT_BYREF | VT_R4: case VT_BYREF | VT_R8: case VT_BYREF | VT_CY:
    case VT_BYREF | VT_BSTR: case VT_BYREF | VT_DISPATCH: case VT_BYREF | VT_ERROR:
    case VT_BYREF | VT_BOOL: case VT_BYREF | VT_UNKNOWN: case VT_BYREF | VT_UI1:
    case VT_BYREF | VT_UI2: case VT_BYREF | VT_UI4: case VT_BYREF | VT_INT:
    case VT_BYREF | VT_UINT:
      return true;
    default:
      return false;
  }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    char32_t v = 0, min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2, v = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3, v = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4, v = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      v = (v << 6) | (b & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

// The type VariantToValue gives a by-value scalar of type `vt`, and whether
// the header names one (Integer stands for "Integer or Int64" where an
// unsigned 32-bit value may exceed the Integer range).
bool ScalarResult(VARTYPE vt, VarType* out) {
  switch (vt) {
    case VT_EMPTY: *out = VarType::Empty; return true;
    case VT_NULL: *out = VarType::Null; return true;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_ERROR:
    case VT_UI4: case VT_UINT: *out = VarType::Integer; return true;
    case VT_I8: case VT_UI8: *out = VarType::Int64; return true;
    case VT_R4: case VT_R8: case VT_DECIMAL: *out = VarType::Double; return true;
    case VT_CY: *out = VarType::Currency; return true;
    case VT_DATE: *out = VarType::Date; return true;
    case VT_BSTR: *out = VarType::String; return true;
    case VT_BOOL: *out = VarType::Boolean; return true;
    case VT_DISPATCH: *out = VarType::Dispatch; return true;
    case VT_UNKNOWN: *out = VarType::Unknown; return true;
    default: return false;
  }
}

bool SameKind(VarType want, const Variant& got, VARTYPE vt) {
  if (got.Type() == want) return true;
  return want == VarType::Integer && got.Type() == VarType::Int64 &&
         (vt == VT_UI4 || vt == VT_UINT) && got.RawInt() > INT32_MAX;
}

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// True when `back` is what ValueToVariant and VariantToValue make of `v`.
bool SameAfterTrip(const Variant& v, const Variant& back) {
  if (v.Type() == VarType::Int64) {
    switch (back.Type()) {
      case VarType::Integer: return back.RawInt() == v.RawInt();
      case VarType::Double: return back.RawDouble() == static_cast<double>(v.RawInt());
      case VarType::String: return back.RawString() == std::to_string(v.RawInt());
      default: return false;
    }
  }
  if (v.Type() != back.Type()) return false;
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: return true;
    case VarType::Integer:
    case VarType::Boolean: return v.RawInt() == back.RawInt();
    case VarType::Double:
    case VarType::Date: return SameDouble(v.RawDouble(), back.RawDouble());
    case VarType::Currency: return v.RawCurrency() == back.RawCurrency();
    case VarType::String:
      // Bytes that are no UTF-8 cannot cross as UTF-16 unchanged.
      return v.RawString() == back.RawString() || !IsUtf8(v.RawString());
    case VarType::Dispatch: return v.RawDispatch() == back.RawDispatch();
    case VarType::Unknown: return v.RawUnknown() == back.RawUnknown();
    case VarType::Array: {
      const auto& a = v.RawArray();
      const auto& b = back.RawArray();
      if (a.LowBound != b.LowBound || a.Items.size() != b.Items.size()) return false;
      for (size_t i = 0; i < a.Items.size(); ++i) {
        if (!SameAfterTrip(a.Items[i], b.Items[i])) return false;
      }
      return true;
    }
    default: return false;
  }
}

// Hands `value` out as a VARIANT and reads it back.
void RoundTrip(const Variant& value) {
  VARIANT out;
  std::memset(&out, 0xA5, sizeof out);  // overwritten whole
  quill::ValueToVariant(value, &out);
  Variant back;
  try {
    back = quill::VariantToValue(out);
  } catch (const quill::EVariantError&) {
    FUZZ_CHECK(false);  // everything ValueToVariant makes reads back
  }
  FUZZ_CHECK(SameAfterTrip(value, back));
  FUZZ_CHECK(VariantClear(&out) == S_OK);
}

void ConvertArgument(const VARIANT& arg) {
  const VARIANT before = arg;
  bool raised = false;
  Variant value;
  try {
    value = quill::arg_to_value(arg);
  } catch (const quill::EVariantError&) {
    raised = true;
  }
  FUZZ_CHECK(std::memcmp(&arg, &before, sizeof arg) == 0);
  if (!raised) {
    if (!InArgumentList(arg.vt)) FUZZ_CHECK(value.Type() == VarType::Empty);
    if (arg.vt == VT_I1) FUZZ_CHECK(value.Type() == VarType::String && !value.RawString().empty());
    // The listed types by value and by reference: as VariantToValue, but
    // dates as their day count.
    const VARTYPE base = static_cast<VARTYPE>(arg.vt & ~VT_BYREF);
    VarType want;
    if (InArgumentList(arg.vt) && base != VT_I1 && base != VT_VARIANT &&
        ScalarResult(base, &want)) {
      if (want == VarType::Date) want = VarType::Double;
      FUZZ_CHECK(SameKind(want, value, base));
    }
    if (InArgumentList(arg.vt) && (base & VT_ARRAY)) FUZZ_CHECK(value.Type() == VarType::Array);
    if (arg.vt == (VT_BYREF | VT_I1)) {
      FUZZ_CHECK(value.Type() == VarType::String);
      FUZZ_CHECK(value.RawString().size() <= quill::kMaxByRefCharText);
      FUZZ_CHECK(value.RawString().find('\0') == std::string::npos);
    }
    RoundTrip(value);
  }

  raised = false;
  try {
    value = quill::VariantToValue(arg);
  } catch (const quill::EVariantError&) {
    raised = true;
  }
  FUZZ_CHECK(std::memcmp(&arg, &before, sizeof arg) == 0);
  if (!raised) {
    const VARTYPE base = static_cast<VARTYPE>(arg.vt & ~VT_BYREF);
    VarType want;
    if (base != VT_VARIANT && ScalarResult(base, &want)) FUZZ_CHECK(SameKind(want, value, base));
    if (base & VT_ARRAY) FUZZ_CHECK(value.Type() == VarType::Array);
    RoundTrip(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const size_t baseline_objects = quill::LiveObjectCount();
  Input in(data, size);
  {
    Storage storage;
    BuildOptions options;
    options.byref_text = true;
    options.byref_text_bound = quill::kMaxByRefCharText;
    Builder build(in, storage, options);
    for (int i = 0; i < 4 && !in.empty(); ++i) {
      VARIANT arg = build.Make();
      ConvertArgument(arg);
      fuzzing::ClearBuilt(arg);
    }
  }
  FUZZ_CHECK(fuzzing::ValueObject::Live() == 0);
  FUZZ_CHECK(quill::LiveObjectCount() == baseline_objects);
  return 0;
}

// Fuzzes the runtime's VariantChangeType, VariantCopy, VariantCopyInd and
// VariantClear over VARIANTs built from the input (fuzz/variant_builder.h):
// every VARTYPE a variant may hold, by-reference values, arrays of several
// dimensions and element types, objects whose default property answers a
// value, and types no variant may hold.
//
// Checked, as olert.h documents them:
//   - a failed conversion leaves the destination exactly as it was, in place
//     or not; a successful one gives the requested type;
//   - Null converts to nothing but Null and Empty; Empty gives "" and 0;
//   - a double goes to a 32-bit integer with banker's rounding;
//   - Booleans print as True/False or -1/0 and go to -1 or all bits set;
//   - finite numbers survive a trip through text unchanged, dates to within
//     the half second the text rounds to;
//   - every object reference handed out is released again (the objects
//     count themselves), and AddressSanitizer sees every BSTR and array freed
//     exactly once.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "variant_builder.h"

namespace {

using fuzzing::Builder;
using fuzzing::Input;
using fuzzing::Storage;

constexpr VARTYPE kTargets[] = {
    VT_EMPTY, VT_NULL, VT_I2,   VT_I4,    VT_R4,   VT_R8,      VT_CY,   VT_DATE,
    VT_BSTR,  VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1,
    VT_UI2,   VT_UI4,  VT_I8,   VT_UI8,   VT_INT,  VT_UINT,
};

bool SameBytes(const VARIANT& a, const VARIANT& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

VARTYPE TargetType(Input& in) {
  const uint8_t how = in.Byte();
  if (how < 200) return kTargets[how % (sizeof kTargets / sizeof kTargets[0])];
  if (how < 230) return static_cast<VARTYPE>(VT_ARRAY | kTargets[in.Byte() % 22]);
  return in.U16();  // anything, most of it no variant type
}

// Reads a BSTR result through to its end, so that a bad length shows.
void Touch(const VARIANT& v) {
  if (v.vt == VT_BSTR && v.bstrVal != nullptr) {
    const UINT n = SysStringLen(v.bstrVal);
    volatile OLECHAR sink = 0;
    for (UINT i = 0; i < n; ++i) sink = static_cast<OLECHAR>(sink ^ v.bstrVal[i]);
    FUZZ_CHECK(v.bstrVal[n] == 0);
  }
}

// The value the source stands for, one reference level down.
VARIANT Deref(const VARIANT& v) {
  VARIANT out;
  std::memset(&out, 0, sizeof out);
  VariantCopyInd(&out, &v);  // Empty when it cannot
  return out;
}

// Converts `value` (a number of type `vt`) to text and back.
void CheckTextRoundTrip(const VARIANT& value) {
  VARIANT text, back;
  VariantInit(&text);
  VariantInit(&back);
  FUZZ_CHECK(VariantChangeType(&text, &value, 0, VT_BSTR) == S_OK);
  Touch(text);
  const HRESULT hr = VariantChangeType(&back, &text, 0, value.vt);
  FUZZ_CHECK(hr == S_OK);
  FUZZ_CHECK(back.vt == value.vt);
  switch (value.vt) {
    case VT_R8: FUZZ_CHECK(back.dblVal == value.dblVal); break;
    case VT_R4: FUZZ_CHECK(back.fltVal == value.fltVal); break;
    case VT_I8: FUZZ_CHECK(back.llVal == value.llVal); break;
    case VT_UI8: FUZZ_CHECK(back.ullVal == value.ullVal); break;
    case VT_I4: FUZZ_CHECK(back.lVal == value.lVal); break;
    case VT_CY: FUZZ_CHECK(back.cyVal.int64 == value.cyVal.int64); break;
    default: break;
  }
  VariantClear(&text);
  VariantClear(&back);
}

bool IsScalarTarget(VARTYPE vt) {
  for (VARTYPE t : kTargets) {
    if (t == vt) return true;
  }
  return false;
}

// Converts `source` into a fresh variant and checks the rules olert.h states
// for the value it stands for.
// A DATE as days from the origin on one straight time line: before the
// origin the fraction still counts forward from that day's midnight.
double TimeLine(double date) {
  const double whole = std::trunc(date);
  return whole + std::fabs(date - whole);
}

// A date that prints reads back within the half second the text rounds to.
void CheckDateRoundTrip(double date) {
  VARIANT value, text, back;
  value.vt = VT_DATE;
  value.date = date;
  VariantInit(&text);
  VariantInit(&back);
  if (VariantChangeType(&text, &value, 0, VT_BSTR) == S_OK) {
    FUZZ_CHECK(VariantChangeType(&back, &text, 0, VT_DATE) == S_OK);
    FUZZ_CHECK(std::fabs(TimeLine(back.date) - TimeLine(date)) <= 0.5 / 86400 + 1e-9);
  }
  VariantClear(&text);
  VariantClear(&back);
}

// Booleans print as True/False with the alpha-bool flag and -1/0 without;
// true is -1 for signed targets and all bits set for unsigned ones.
void CheckBooleanRules(bool value) {
  VARIANT b, out;
  b.vt = VT_BOOL;
  b.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  VariantInit(&out);
  FUZZ_CHECK(VariantChangeType(&out, &b, VARIANT_ALPHABOOL, VT_BSTR) == S_OK);
  FUZZ_CHECK(std::u16string_view(out.bstrVal, SysStringLen(out.bstrVal)) ==
             (value ? u"True" : u"False"));
  FUZZ_CHECK(VariantChangeType(&out, &b, 0, VT_BSTR) == S_OK);
  FUZZ_CHECK(std::u16string_view(out.bstrVal, SysStringLen(out.bstrVal)) == (value ? u"-1" : u"0"));
  FUZZ_CHECK(VariantChangeType(&out, &b, 0, VT_UI2) == S_OK && out.uiVal == (value ? 0xFFFF : 0));
  FUZZ_CHECK(VariantChangeType(&out, &b, 0, VT_I4) == S_OK && out.lVal == (value ? -1 : 0));
  VariantClear(&out);
}

void CheckDocumentedRules(const VARIANT& source, VARTYPE vt, USHORT flags) {
  if (!IsScalarTarget(vt)) return;
  VARIANT dest;
  VariantInit(&dest);
  const HRESULT hr = VariantChangeType(&dest, &source, flags, vt);
  VARIANT s = Deref(source);
  if (s.vt == VT_NULL && vt != VT_NULL && vt != VT_EMPTY) FUZZ_CHECK(hr == DISP_E_TYPEMISMATCH);
  if (source.vt == VT_EMPTY) {
    if (vt == VT_BSTR) FUZZ_CHECK(hr == S_OK && SysStringLen(dest.bstrVal) == 0);
    if (vt == VT_I4) FUZZ_CHECK(hr == S_OK && dest.lVal == 0);
    if (vt == VT_R8) FUZZ_CHECK(hr == S_OK && dest.dblVal == 0);
  }
  if (s.vt == VT_R8 && vt == VT_I4 && std::isfinite(s.dblVal)) {
    const double r = std::nearbyint(s.dblVal);  // ties to even
    if (r >= -2147483648.0 && r <= 2147483647.0) {
      FUZZ_CHECK(hr == S_OK && dest.lVal == static_cast<int32_t>(r));
    } else {
      FUZZ_CHECK(hr == DISP_E_OVERFLOW);
    }
  }
  if (((s.vt == VT_R8 || s.vt == VT_DATE) && std::isfinite(s.dblVal)) ||
      (s.vt == VT_R4 && std::isfinite(s.fltVal)) || s.vt == VT_I8 || s.vt == VT_UI8 ||
      s.vt == VT_I4 || s.vt == VT_CY) {
    VARIANT number = s;
    if (number.vt == VT_DATE) number.vt = VT_R8;
    CheckTextRoundTrip(number);
  }
  if ((s.vt == VT_DATE || s.vt == VT_R8) && std::isfinite(s.dblVal)) CheckDateRoundTrip(s.dblVal);
  if (s.vt == VT_BOOL) CheckBooleanRules(s.boolVal != 0);
  VariantClear(&s);
  VariantClear(&dest);
}

void ChangeNotInPlace(Input& in, Builder& build, const VARIANT& source) {
  const VARTYPE vt = TargetType(in);
  const USHORT flags = in.U16();
  VARIANT dest = build.Make();
  const VARIANT dest_before = dest;
  const VARIANT source_before = source;
  const HRESULT hr = VariantChangeType(&dest, &source, flags, vt);
  FUZZ_CHECK(SameBytes(source, source_before));
  if (FAILED(hr)) {
    FUZZ_CHECK(SameBytes(dest, dest_before));
  } else {
    FUZZ_CHECK(hr == S_OK && dest.vt == vt);
    Touch(dest);
  }
  CheckDocumentedRules(source, vt, flags);
  fuzzing::ClearBuilt(dest);
}

void ChangeInPlace(Input& in, VARIANT& value) {
  const VARTYPE vt = TargetType(in);
  const USHORT flags = in.U16();
  const VARIANT before = value;
  const HRESULT hr = VariantChangeType(&value, &value, flags, vt);
  if (FAILED(hr)) {
    FUZZ_CHECK(SameBytes(value, before));
  } else {
    FUZZ_CHECK(hr == S_OK && value.vt == vt);
    Touch(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  {
    Storage storage;
    Builder build(in, storage);
    VARIANT source = build.Make();

    for (int step = 0; step < 4 && !in.empty(); ++step) {
      switch (in.Byte() % 4) {
        case 0: ChangeNotInPlace(in, build, source); break;
        case 1: {
          VARIANT copy;
          VariantInit(&copy);
          const HRESULT hr = VariantCopy(&copy, &source);
          if (SUCCEEDED(hr)) {
            FUZZ_CHECK(copy.vt == source.vt);
            ChangeInPlace(in, copy);
          } else {
            FUZZ_CHECK(copy.vt == VT_EMPTY);
          }
          VariantClear(&copy);
          break;
        }
        case 2: {
          VARIANT copy;
          VariantInit(&copy);
          const HRESULT hr = VariantCopyInd(&copy, &source);
          if (SUCCEEDED(hr)) {
            FUZZ_CHECK((copy.vt & VT_BYREF) == 0);
            Touch(copy);
          }
          VariantClear(&copy);
          break;
        }
        default:
          ChangeInPlace(in, source);
          break;
      }
    }
    // A variant that holds a type no variant may hold owns nothing (the
    // builder gives such types a zeroed value), so a refused clear is fine.
    const VARIANT before = source;
    if (source.vt != VT_ARRAY && FAILED(VariantClear(&source))) {
      FUZZ_CHECK(SameBytes(source, before));
    }
    fuzzing::ClearBuilt(source);
  }
  FUZZ_CHECK(fuzzing::ValueObject::Live() == 0);
  return 0;
}

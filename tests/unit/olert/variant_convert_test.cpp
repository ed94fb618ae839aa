// VariantChangeType conformance: one table of value conversions, then the
// rules around them (in place, byref, destination on failure, objects).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::Ascii;
using olert_test::CountingUnknown;
using olert_test::ValueDispatch;
using olert_test::Var;

using Maker = std::function<void(VARIANT&)>;

Maker I1(int v) { return [v](VARIANT& x) { x.vt = VT_I1; x.cVal = static_cast<CHAR>(v); }; }
Maker I2(int v) { return [v](VARIANT& x) { x.vt = VT_I2; x.iVal = static_cast<SHORT>(v); }; }
Maker I4(int64_t v) { return [v](VARIANT& x) { x.vt = VT_I4; x.lVal = static_cast<LONG>(v); }; }
Maker Int(int v) { return [v](VARIANT& x) { x.vt = VT_INT; x.intVal = v; }; }
Maker I8(int64_t v) { return [v](VARIANT& x) { x.vt = VT_I8; x.llVal = v; }; }
Maker UI1(unsigned v) { return [v](VARIANT& x) { x.vt = VT_UI1; x.bVal = static_cast<BYTE>(v); }; }
Maker UI2(unsigned v) { return [v](VARIANT& x) { x.vt = VT_UI2; x.uiVal = static_cast<USHORT>(v); }; }
Maker UI4(uint64_t v) { return [v](VARIANT& x) { x.vt = VT_UI4; x.ulVal = static_cast<ULONG>(v); }; }
Maker UInt(unsigned v) { return [v](VARIANT& x) { x.vt = VT_UINT; x.uintVal = v; }; }
Maker UI8(uint64_t v) { return [v](VARIANT& x) { x.vt = VT_UI8; x.ullVal = v; }; }
Maker R4(float v) { return [v](VARIANT& x) { x.vt = VT_R4; x.fltVal = v; }; }
Maker R8(double v) { return [v](VARIANT& x) { x.vt = VT_R8; x.dblVal = v; }; }
Maker Cy(int64_t scaled) { return [scaled](VARIANT& x) { x.vt = VT_CY; x.cyVal.int64 = scaled; }; }
Maker Date(double v) { return [v](VARIANT& x) { x.vt = VT_DATE; x.date = v; }; }
Maker Bool(bool v) { return [v](VARIANT& x) { x.vt = VT_BOOL; x.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; }; }
Maker Str(const char* text) {
  std::u16string wide = olert_test::U16(text);
  return [wide](VARIANT& x) {
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  };
}
Maker Empty() { return [](VARIANT& x) { x.vt = VT_EMPTY; }; }
Maker Null() { return [](VARIANT& x) { x.vt = VT_NULL; }; }

std::string Describe(const VARIANT& v) {
  std::string type = "vt=" + std::to_string(v.vt) + " ";
  switch (v.vt) {
    case VT_BSTR: return type + "\"" + Ascii(v.bstrVal) + "\"";
    case VT_R4: return type + std::to_string(v.fltVal);
    case VT_R8: case VT_DATE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.dblVal);
      return type + buf;
    }
    case VT_UI8: return type + std::to_string(v.ullVal);
    default: return type + std::to_string(v.llVal);
  }
}

::testing::AssertionResult Same(const VARIANT& got, const VARIANT& want) {
  bool same = got.vt == want.vt;
  if (same) {
    switch (want.vt) {
      case VT_EMPTY: case VT_NULL: break;
      case VT_I1: case VT_UI1: same = got.bVal == want.bVal; break;
      case VT_I2: case VT_UI2: case VT_BOOL: same = got.uiVal == want.uiVal; break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: same = got.ulVal == want.ulVal; break;
      case VT_R4: same = got.fltVal == want.fltVal; break;
      case VT_BSTR: same = Ascii(got.bstrVal) == Ascii(want.bstrVal); break;
      default: same = got.ullVal == want.ullVal; break;  // 64-bit kinds compare bit for bit
    }
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << Describe(got) << ", want " << Describe(want);
}

struct Case {
  const char* name;
  Maker from;
  VARTYPE to;
  HRESULT hr;
  Maker want;  // null for failures
  USHORT flags = 0;
};

constexpr HRESULT kOverflow = DISP_E_OVERFLOW;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;

const Case kCases[] = {
    // Integer ranges.
    {"I4 32767 to I2", I4(32767), VT_I2, S_OK, I2(32767)},
    {"I4 32768 to I2", I4(32768), VT_I2, kOverflow, nullptr},
    {"I4 -32768 to I2", I4(-32768), VT_I2, S_OK, I2(-32768)},
    {"I4 -32769 to I2", I4(-32769), VT_I2, kOverflow, nullptr},
    {"I4 -1 to UI1", I4(-1), VT_UI1, kOverflow, nullptr},
    {"I4 255 to UI1", I4(255), VT_UI1, S_OK, UI1(255)},
    {"I4 256 to UI1", I4(256), VT_UI1, kOverflow, nullptr},
    {"I4 -1 to UI4", I4(-1), VT_UI4, kOverflow, nullptr},
    {"UI4 max to I4", UI4(0xFFFFFFFFu), VT_I4, kOverflow, nullptr},
    {"UI4 max to I8", UI4(0xFFFFFFFFu), VT_I8, S_OK, I8(0xFFFFFFFFll)},
    {"I8 2^31 to I4", I8(2147483648ll), VT_I4, kOverflow, nullptr},
    {"I8 max to UI8", I8(INT64_MAX), VT_UI8, S_OK, UI8(INT64_MAX)},
    {"UI8 max to I8", UI8(UINT64_MAX), VT_I8, kOverflow, nullptr},
    {"I1 -128 to I2 keeps the sign", I1(-128), VT_I2, S_OK, I2(-128)},
    {"UI1 200 to I1", UI1(200), VT_I1, kOverflow, nullptr},
    {"I4 -5 to INT", I4(-5), VT_INT, S_OK, Int(-5)},
    {"I4 -5 to UINT", I4(-5), VT_UINT, kOverflow, nullptr},
    {"UI2 65535 to I4", UI2(65535), VT_I4, S_OK, I4(65535)},
    {"UINT 7 to I2", UInt(7), VT_I2, S_OK, I2(7)},
    // Banker's rounding from floating values and currency.
    {"R8 2.5 to I4", R8(2.5), VT_I4, S_OK, I4(2)},
    {"R8 3.5 to I4", R8(3.5), VT_I4, S_OK, I4(4)},
    {"R8 -2.5 to I4", R8(-2.5), VT_I4, S_OK, I4(-2)},
    {"R8 -3.5 to I4", R8(-3.5), VT_I4, S_OK, I4(-4)},
    {"R8 0.5 to I4", R8(0.5), VT_I4, S_OK, I4(0)},
    {"R8 2.5000001 to I4", R8(2.5000001), VT_I4, S_OK, I4(3)},
    {"R8 2147483647.4 to I4", R8(2147483647.4), VT_I4, S_OK, I4(2147483647)},
    {"R8 2147483647.5 to I4", R8(2147483647.5), VT_I4, kOverflow, nullptr},
    {"R8 -2147483648.5 to I4", R8(-2147483648.5), VT_I4, S_OK, I4(INT32_MIN)},
    {"R8 -0.4 to UI1", R8(-0.4), VT_UI1, S_OK, UI1(0)},
    {"R8 NaN to I4", R8(std::nan("")), VT_I4, kOverflow, nullptr},
    {"R8 1e30 to I8", R8(1e30), VT_I8, kOverflow, nullptr},
    {"R4 2.5 to I2", R4(2.5f), VT_I2, S_OK, I2(2)},
    {"CY 2.5 to I4", Cy(25000), VT_I4, S_OK, I4(2)},
    {"CY 3.5 to I4", Cy(35000), VT_I4, S_OK, I4(4)},
    {"CY -2.5 to I4", Cy(-25000), VT_I4, S_OK, I4(-2)},
    {"CY -2.5001 to I4", Cy(-25001), VT_I4, S_OK, I4(-3)},
    {"DATE 1.5 to I4", Date(1.5), VT_I4, S_OK, I4(2)},
    // Floating and currency.
    {"I4 to R8", I4(-7), VT_R8, S_OK, R8(-7)},
    {"R8 1e300 to R4", R8(1e300), VT_R4, kOverflow, nullptr},
    {"R8 1e300 to CY", R8(1e300), VT_CY, kOverflow, nullptr},
    {"R8 1.23456 to CY", R8(1.23456), VT_CY, S_OK, Cy(12346)},
    {"I8 max to CY", I8(INT64_MAX), VT_CY, kOverflow, nullptr},
    {"I4 to CY", I4(-3), VT_CY, S_OK, Cy(-30000)},
    {"CY to R8", Cy(15000), VT_R8, S_OK, R8(1.5)},
    // Text to numbers.
    {"\"12\" to I4", Str("12"), VT_I4, S_OK, I4(12)},
    {"\" 12 \" to I4", Str(" 12 "), VT_I4, S_OK, I4(12)},
    {"\"+7\" to I4", Str("+7"), VT_I4, S_OK, I4(7)},
    {"\"-7\" to I4", Str("-7"), VT_I4, S_OK, I4(-7)},
    {"\"1.5\" to I4", Str("1.5"), VT_I4, S_OK, I4(2)},
    {"\"2.5\" to I4", Str("2.5"), VT_I4, S_OK, I4(2)},
    {"\"1e3\" to I4", Str("1e3"), VT_I4, S_OK, I4(1000)},
    {"\"1,000\" to I4", Str("1,000"), VT_I4, S_OK, I4(1000)},
    {"\"&H1F\" to I4", Str("&H1F"), VT_I4, S_OK, I4(31)},
    {"\"&HFFFF\" to I2", Str("&HFFFF"), VT_I2, S_OK, I2(-1)},
    {"\"&O17\" to I4", Str("&O17"), VT_I4, S_OK, I4(15)},
    {"\"&H1FFFF\" to I2", Str("&H1FFFF"), VT_I2, kOverflow, nullptr},
    {"\"32768\" to I2", Str("32768"), VT_I2, kOverflow, nullptr},
    {"\"-1\" to UI1", Str("-1"), VT_UI1, kOverflow, nullptr},
    {"\"-0.4\" to UI1", Str("-0.4"), VT_UI1, S_OK, UI1(0)},
    {"\"18446744073709551615\" to UI8", Str("18446744073709551615"), VT_UI8, S_OK, UI8(UINT64_MAX)},
    {"\"-9223372036854775808\" to I8", Str("-9223372036854775808"), VT_I8, S_OK, I8(INT64_MIN)},
    {"\"99999999999999999999\" to I8", Str("99999999999999999999"), VT_I8, kOverflow, nullptr},
    {"\"1e400\" to I4", Str("1e400"), VT_I4, kOverflow, nullptr},
    {"\"1e-400\" to I4", Str("1e-400"), VT_I4, S_OK, I4(0)},
    {"\"abc\" to I4", Str("abc"), VT_I4, kMismatch, nullptr},
    {"\"\" to I4", Str(""), VT_I4, kMismatch, nullptr},
    {"\"12abc\" to I4", Str("12abc"), VT_I4, kMismatch, nullptr},
    {"\"1.2.3\" to I4", Str("1.2.3"), VT_I4, kMismatch, nullptr},
    {"\",5\" to I4", Str(",5"), VT_I4, kMismatch, nullptr},
    {"\"1e\" to I4", Str("1e"), VT_I4, kMismatch, nullptr},
    {"\"True\" to I4", Str("True"), VT_I4, kMismatch, nullptr},
    {"\"1.5\" to R8", Str("1.5"), VT_R8, S_OK, R8(1.5)},
    {"\"0.1\" to R8", Str("0.1"), VT_R8, S_OK, R8(0.1)},
    {"\"-1e3\" to R8", Str("-1e3"), VT_R8, S_OK, R8(-1000)},
    {"\"1e400\" to R8", Str("1e400"), VT_R8, kOverflow, nullptr},
    {"\"1e39\" to R4", Str("1e39"), VT_R4, kOverflow, nullptr},
    {"\"1.23456\" to CY", Str("1.23456"), VT_CY, S_OK, Cy(12346)},
    {"\"1.23455\" to CY", Str("1.23455"), VT_CY, S_OK, Cy(12346)},
    {"\"1.23445\" to CY", Str("1.23445"), VT_CY, S_OK, Cy(12344)},
    {"CY max text", Str("922337203685477.5807"), VT_CY, S_OK, Cy(INT64_MAX)},
    {"CY max text + 1", Str("922337203685477.5808"), VT_CY, kOverflow, nullptr},
    // Booleans.
    {"\"True\" to BOOL", Str("True"), VT_BOOL, S_OK, Bool(true)},
    {"\" TRUE \" to BOOL", Str(" TRUE "), VT_BOOL, S_OK, Bool(true)},
    {"\"false\" to BOOL", Str("false"), VT_BOOL, S_OK, Bool(false)},
    {"\"0\" to BOOL", Str("0"), VT_BOOL, S_OK, Bool(false)},
    {"\"2\" to BOOL", Str("2"), VT_BOOL, S_OK, Bool(true)},
    {"\"yes\" to BOOL", Str("yes"), VT_BOOL, kMismatch, nullptr},
    {"I4 5 to BOOL", I4(5), VT_BOOL, S_OK, Bool(true)},
    {"R8 0.1 to BOOL", R8(0.1), VT_BOOL, S_OK, Bool(true)},
    {"R8 0 to BOOL", R8(0), VT_BOOL, S_OK, Bool(false)},
    {"CY 0 to BOOL", Cy(0), VT_BOOL, S_OK, Bool(false)},
    {"BOOL true to I4", Bool(true), VT_I4, S_OK, I4(-1)},
    {"BOOL true to I2", Bool(true), VT_I2, S_OK, I2(-1)},
    {"BOOL true to UI1", Bool(true), VT_UI1, S_OK, UI1(255)},
    {"BOOL false to I4", Bool(false), VT_I4, S_OK, I4(0)},
    {"BOOL true to R8", Bool(true), VT_R8, S_OK, R8(-1)},
    {"BOOL true to CY", Bool(true), VT_CY, S_OK, Cy(-10000)},
    {"BOOL true to text, alpha", Bool(true), VT_BSTR, S_OK, Str("True"), VARIANT_ALPHABOOL},
    {"BOOL false to text, alpha", Bool(false), VT_BSTR, S_OK, Str("False"), VARIANT_ALPHABOOL},
    {"BOOL true to text, local", Bool(true), VT_BSTR, S_OK, Str("True"), VARIANT_LOCALBOOL},
    {"BOOL true to text", Bool(true), VT_BSTR, S_OK, Str("-1")},
    {"BOOL false to text", Bool(false), VT_BSTR, S_OK, Str("0")},
    // Empty and Null.
    {"Empty to I4", Empty(), VT_I4, S_OK, I4(0)},
    {"Empty to R8", Empty(), VT_R8, S_OK, R8(0)},
    {"Empty to text", Empty(), VT_BSTR, S_OK, Str("")},
    {"Empty to BOOL", Empty(), VT_BOOL, S_OK, Bool(false)},
    {"Empty to DATE", Empty(), VT_DATE, S_OK, Date(0)},
    {"Empty to CY", Empty(), VT_CY, S_OK, Cy(0)},
    {"Empty to Null", Empty(), VT_NULL, S_OK, Null()},
    {"Null to Null", Null(), VT_NULL, S_OK, Null()},
    {"Null to Empty", Null(), VT_EMPTY, S_OK, Empty()},
    {"Null to I4", Null(), VT_I4, kMismatch, nullptr},
    {"Null to text", Null(), VT_BSTR, kMismatch, nullptr},
    {"Null to BOOL", Null(), VT_BOOL, kMismatch, nullptr},
    {"Null to DATE", Null(), VT_DATE, kMismatch, nullptr},
    {"I4 to Null", I4(1), VT_NULL, kMismatch, nullptr},
    {"text to Empty", Str("x"), VT_EMPTY, S_OK, Empty()},
    // Numbers to text.
    {"I4 to text", I4(-42), VT_BSTR, S_OK, Str("-42")},
    {"I1 to text", I1(-5), VT_BSTR, S_OK, Str("-5")},
    {"UI8 max to text", UI8(UINT64_MAX), VT_BSTR, S_OK, Str("18446744073709551615")},
    {"I8 min to text", I8(INT64_MIN), VT_BSTR, S_OK, Str("-9223372036854775808")},
    {"R8 1.5 to text", R8(1.5), VT_BSTR, S_OK, Str("1.5")},
    {"R8 0.1 to text", R8(0.1), VT_BSTR, S_OK, Str("0.1")},
    {"R8 -2.5 to text", R8(-2.5), VT_BSTR, S_OK, Str("-2.5")},
    {"R8 1e20 to text", R8(1e20), VT_BSTR, S_OK, Str("1E+20")},
    {"R8 1e15 to text", R8(1e15), VT_BSTR, S_OK, Str("1E+15")},
    {"R8 15 digits to text", R8(123456789012345.0), VT_BSTR, S_OK, Str("123456789012345")},
    {"R8 0.0001 to text", R8(0.0001), VT_BSTR, S_OK, Str("0.0001")},
    {"R8 0.00001 to text", R8(0.00001), VT_BSTR, S_OK, Str("1E-05")},
    {"R8 -1.5e-300 to text", R8(-1.5e-300), VT_BSTR, S_OK, Str("-1.5E-300")},
    {"R8 1/3 to text", R8(1.0 / 3), VT_BSTR, S_OK, Str("0.3333333333333333")},
    {"R8 0.1+0.2 keeps every digit", R8(0.1 + 0.2), VT_BSTR, S_OK, Str("0.30000000000000004")},
    {"R8 -0 to text", R8(-0.0), VT_BSTR, S_OK, Str("0")},
    {"R4 0.1 to text", R4(0.1f), VT_BSTR, S_OK, Str("0.1")},
    {"R4 1e7 to text", R4(1e7f), VT_BSTR, S_OK, Str("1E+07")},
    {"CY 1.2345 to text", Cy(12345), VT_BSTR, S_OK, Str("1.2345")},
    {"CY 1.5 to text", Cy(15000), VT_BSTR, S_OK, Str("1.5")},
    {"CY -1 to text", Cy(-10000), VT_BSTR, S_OK, Str("-1")},
    {"CY -0.0001 to text", Cy(-1), VT_BSTR, S_OK, Str("-0.0001")},
    {"CY min to text", Cy(INT64_MIN), VT_BSTR, S_OK, Str("-922337203685477.5808")},
    // Dates to text.
    {"DATE 0 to text", Date(0), VT_BSTR, S_OK, Str("12:00:00 AM")},
    {"DATE 2000-01-01 to text", Date(36526), VT_BSTR, S_OK, Str("1/1/2000")},
    {"DATE noon to text", Date(36526.5), VT_BSTR, S_OK, Str("1/1/2000 12:00:00 PM")},
    {"DATE time only to text", Date(0.25), VT_BSTR, S_OK, Str("6:00:00 AM")},
    {"DATE before 1899-12-30", Date(-1.25), VT_BSTR, S_OK, Str("12/29/1899 6:00:00 AM")},
    {"DATE rounds to the next day", Date(36526.9999999), VT_BSTR, S_OK, Str("1/2/2000")},
    {"DATE 1900-01-01", Date(2), VT_BSTR, S_OK, Str("1/1/1900")},
    {"DATE last day", Date(2958465), VT_BSTR, S_OK, Str("12/31/9999")},
    {"DATE first day", Date(-657434), VT_BSTR, S_OK, Str("1/1/0100")},
    {"DATE 1e7 to text", Date(1e7), VT_BSTR, kOverflow, nullptr},
    // Text to dates.
    {"\"1/1/2000\"", Str("1/1/2000"), VT_DATE, S_OK, Date(36526)},
    {"\"2000-01-01\"", Str("2000-01-01"), VT_DATE, S_OK, Date(36526)},
    {"\"2000/01/01\"", Str("2000/01/01"), VT_DATE, S_OK, Date(36526)},
    {"\"2000-01-01 12:00\"", Str("2000-01-01 12:00"), VT_DATE, S_OK, Date(36526.5)},
    {"\"2000-01-01T18:00:00\"", Str("2000-01-01T18:00:00"), VT_DATE, S_OK, Date(36526.75)},
    {"\"1/1/2000 6:00 PM\"", Str("1/1/2000 6:00 PM"), VT_DATE, S_OK, Date(36526.75)},
    {"\"12:00:00 AM\"", Str("12:00:00 AM"), VT_DATE, S_OK, Date(0)},
    {"\"6:00 am\"", Str("6:00 am"), VT_DATE, S_OK, Date(0.25)},
    {"\"6 PM\"", Str("6 PM"), VT_DATE, S_OK, Date(0.75)},
    {"\"12/29/1899 6:00:00 AM\"", Str("12/29/1899 6:00:00 AM"), VT_DATE, S_OK, Date(-1.25)},
    {"\"1/1/99\"", Str("1/1/99"), VT_DATE, S_OK, Date(36161)},
    {"\"1/1/29\"", Str("1/1/29"), VT_DATE, S_OK, Date(47119)},
    {"\"2/29/2000\"", Str("2/29/2000"), VT_DATE, S_OK, Date(36585)},
    {"\"2/29/1900\"", Str("2/29/1900"), VT_DATE, kMismatch, nullptr},
    {"\"2/30/2000\"", Str("2/30/2000"), VT_DATE, kMismatch, nullptr},
    {"\"13/1/2000\"", Str("13/1/2000"), VT_DATE, kMismatch, nullptr},
    {"\"25:00\"", Str("25:00"), VT_DATE, kMismatch, nullptr},
    {"\"13:00 PM\"", Str("13:00 PM"), VT_DATE, kMismatch, nullptr},
    {"\"1/1/2000 x\"", Str("1/1/2000 x"), VT_DATE, kMismatch, nullptr},
    {"\"abc\" to DATE", Str("abc"), VT_DATE, kMismatch, nullptr},
    {"\"12\" to DATE", Str("12"), VT_DATE, kMismatch, nullptr},
    {"\"1-1/2000\"", Str("1-1/2000"), VT_DATE, kMismatch, nullptr},
    {"I4 to DATE", I4(36526), VT_DATE, S_OK, Date(36526)},
    {"R8 1e7 to DATE", R8(1e7), VT_DATE, kOverflow, nullptr},
    {"R8 -657434 to DATE", R8(-657434), VT_DATE, S_OK, Date(-657434)},
    {"R8 -657435 to DATE", R8(-657435), VT_DATE, kOverflow, nullptr},
    {"DATE to R8", Date(36526.5), VT_R8, S_OK, R8(36526.5)},
    {"BOOL to DATE", Bool(true), VT_DATE, S_OK, Date(-1)},
    // Kinds that do not convert.
    {"text to DISPATCH", Str("x"), VT_DISPATCH, kMismatch, nullptr},
    {"I4 to UNKNOWN", I4(1), VT_UNKNOWN, kMismatch, nullptr},
    {"text to ERROR", Str("x"), VT_ERROR, kMismatch, nullptr},
    {"I4 to DECIMAL", I4(1), VT_DECIMAL, kMismatch, nullptr},
    {"I4 to array", I4(1), VT_ARRAY | VT_I4, kMismatch, nullptr},
};

TEST(VariantChangeType, ConversionTable) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Var src, dst;
    c.from(src.v);
    dst->vt = VT_I2;
    dst->iVal = 12345;
    HRESULT hr = VariantChangeType(&dst.v, &src.v, c.flags, c.to);
    EXPECT_EQ(hr, c.hr) << std::hex << hr;
    if (c.want) {
      Var want;
      c.want(want.v);
      EXPECT_TRUE(Same(dst.v, want.v));
    } else {
      EXPECT_EQ(dst->vt, VT_I2);
      EXPECT_EQ(dst->iVal, 12345);
    }
  }
}

TEST(VariantChangeType, DatesSurviveARoundTripThroughText) {
  const double dates[] = {0.5, 1, 36526.25, 45000.5 + 1.0 / 86400, -1.75, -657434, 2958465.5};
  for (double d : dates) {
    SCOPED_TRACE(d);
    Var v;
    v->vt = VT_DATE;
    v->date = d;
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_DATE), S_OK) << Ascii(v->bstrVal);
    EXPECT_NEAR(v->date, d, 0.5 / 86400);
  }
}

TEST(VariantChangeType, DatesThatRoundPastTheLastDayDoNotPrint) {
  Var v;
  v->vt = VT_DATE;
  v->date = 2958465.99999;  // 9999-12-31 23:59:59.136
  Var text;
  ASSERT_EQ(VariantChangeType(&text.v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Ascii(text->bstrVal), "12/31/9999 11:59:59 PM");
  v->date = 2958465.9999999;  // 23:59:59.991, which rounds to 10000-01-01
  EXPECT_EQ(VariantChangeType(&text.v, &v.v, 0, VT_BSTR), DISP_E_OVERFLOW);
  EXPECT_EQ(text->vt, VT_BSTR);  // left as it was
}

TEST(VariantChangeType, DoublesSurviveARoundTripThroughText) {
  const double values[] = {0.1, 1.0 / 3, 123456.789, -9.87654321e-12, 6.02214076e23,
                           std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()};
  for (double d : values) {
    Var v;
    v->vt = VT_R8;
    v->dblVal = d;
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_R8), S_OK);
    EXPECT_EQ(v->dblVal, d);
  }
}

TEST(VariantChangeType, FloatsSurviveARoundTripThroughText) {
  const float values[] = {0.1f, -1.5e-7f, 16777216.0f, std::numeric_limits<float>::max(),
                          -std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::denorm_min()};
  for (float f : values) {
    SCOPED_TRACE(f);
    Var v;
    v->vt = VT_R4;
    v->fltVal = f;
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_R4), S_OK) << Ascii(v->bstrVal);
    EXPECT_EQ(v->fltVal, f);
  }
}

TEST(VariantChangeType, R4OverflowsOnlyWhereRoundingGivesInfinity) {
  Var v;
  v->vt = VT_R8;
  v->dblVal = std::numeric_limits<float>::max();
  Var r4;
  ASSERT_EQ(VariantChangeType(&r4.v, &v.v, 0, VT_R4), S_OK);
  EXPECT_EQ(r4->fltVal, std::numeric_limits<float>::max());
  v->dblVal = 0x1.fffffefffffffp+127;  // just under the halfway point: rounds down
  ASSERT_EQ(VariantChangeType(&r4.v, &v.v, 0, VT_R4), S_OK);
  EXPECT_EQ(r4->fltVal, std::numeric_limits<float>::max());
  v->dblVal = 0x1.ffffffp+127;  // halfway to the next power of two: infinity
  EXPECT_EQ(VariantChangeType(&r4.v, &v.v, 0, VT_R4), DISP_E_OVERFLOW);
  v->dblVal = -0x1.ffffffp+127;
  EXPECT_EQ(VariantChangeType(&r4.v, &v.v, 0, VT_R4), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, ConvertsInPlace) {
  Var v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(u"12");
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK);  // the BSTR is freed
  EXPECT_EQ(v->vt, VT_I4);
  EXPECT_EQ(v->lVal, 12);
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Ascii(v->bstrVal), "12");
  // A failure in place leaves the value as it was.
  VariantClear(&v.v);
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(u"abc");
  BSTR before = v->bstrVal;
  EXPECT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(v->bstrVal, before);
}

TEST(VariantChangeType, ClearsTheOldDestinationOnlyOnSuccess) {
  Var src, dst;
  dst->vt = VT_BSTR;
  dst->bstrVal = SysAllocString(u"old");
  src->vt = VT_R8;
  src->dblVal = 1e300;
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(Ascii(dst->bstrVal), "old");
  src->dblVal = 3;
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), S_OK);  // "old" freed
  EXPECT_EQ(dst->lVal, 3);
  EXPECT_EQ(src->vt, VT_R8);
}

TEST(VariantChangeType, ReadsThroughReferences) {
  LONG number = 5;
  BSTR text = SysAllocString(u"7");
  VARIANT inner;
  inner.vt = VT_R8;
  inner.dblVal = 2.5;
  struct Row {
    VARTYPE vt;
    void* ref;
    VARTYPE to;
    const char* want_text;
  } rows[] = {
      {VT_BYREF | VT_I4, &number, VT_BSTR, "5"},
      {VT_BYREF | VT_BSTR, &text, VT_BSTR, "7"},
      {VT_BYREF | VT_VARIANT, &inner, VT_BSTR, "2.5"},
  };
  for (const Row& r : rows) {
    Var src, dst;
    src->vt = r.vt;
    src->byref = r.ref;
    ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, r.to), S_OK);
    EXPECT_EQ(Ascii(dst->bstrVal), r.want_text);
    EXPECT_EQ(src->vt, r.vt);  // the source still refers
  }
  Var src, dst;
  src->vt = VT_BYREF | VT_BSTR;
  src->pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), S_OK);
  EXPECT_EQ(dst->lVal, 7);
  EXPECT_EQ(Ascii(text), "7");  // what it refers to is untouched
  src->pbstrVal = nullptr;
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), E_INVALIDARG);
  src->vt = VT_EMPTY;
  SysFreeString(text);
}

TEST(VariantChangeType, RejectsBadArguments) {
  Var src, dst;
  src->vt = VT_I4;
  src->lVal = 1;
  EXPECT_EQ(VariantChangeType(nullptr, &src.v, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(&dst.v, nullptr, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, 15), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_VARIANT), DISP_E_BADVARTYPE);
  src->vt = 0x7FFF;
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I2), DISP_E_BADVARTYPE);
  src->vt = VT_EMPTY;
}

TEST(VariantChangeType, ArraysOnlyCopyToTheirOwnType) {
  Var src, dst;
  src->vt = VT_ARRAY | VT_I4;
  src->parray = SafeArrayCreateVector(VT_I4, 0, 2);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_ARRAY | VT_I4), S_OK);
  EXPECT_NE(dst->parray, src->parray);
  EXPECT_EQ(SafeArrayGetDim(dst->parray), 1u);
}

TEST(VariantChangeType, ObjectsConvertThroughTheirDefaultValue) {
  ValueDispatch disp;
  disp.value.vt = VT_I4;
  disp.value.lVal = 42;
  Var src;
  src->vt = VT_DISPATCH;
  src->pdispVal = &disp;
  disp.AddRef();
  {
    Var dst;
    ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Ascii(dst->bstrVal), "42");
    EXPECT_EQ(disp.last_id, DISPID_VALUE);
    EXPECT_EQ(disp.last_flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(disp.last_arg_count, 0u);
    ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_R8), S_OK);
    EXPECT_EQ(dst->dblVal, 42.0);
    EXPECT_EQ(VariantChangeType(&dst.v, &src.v, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  }
  {
    // Through IUnknown, the object is asked for IDispatch first.
    Var unk;
    unk->vt = VT_UNKNOWN;
    unk->punkVal = &disp;
    disp.AddRef();
    Var dst;
    ASSERT_EQ(VariantChangeType(&dst.v, &unk.v, 0, VT_I2), S_OK);
    EXPECT_EQ(dst->iVal, 42);
    ASSERT_EQ(VariantChangeType(&dst.v, &unk.v, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(dst->pdispVal, &disp);
  }
  {
    // A default value that is Null converts no further.
    VariantClear(&disp.value);
    disp.value.vt = VT_NULL;
    Var dst;
    EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    disp.invoke_result = DISP_E_MEMBERNOTFOUND;
    EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dst->vt, VT_EMPTY);
  }
  VariantClear(&src.v);
  EXPECT_EQ(disp.refs, 1u);  // every reference taken was given back
}

TEST(VariantChangeType, ObjectDefaultValuesThatAreObjectsStopAtADepth) {
  ValueDispatch disp;
  disp.value.vt = VT_DISPATCH;  // its own default value is itself
  disp.value.pdispVal = &disp;
  disp.AddRef();
  Var src, dst;
  src->vt = VT_DISPATCH;
  src->pdispVal = &disp;
  disp.AddRef();
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&src.v);
  VariantClear(&disp.value);
  EXPECT_EQ(disp.refs, 1u);
}

TEST(VariantChangeType, InterfacesConvertByQuery) {
  CountingUnknown plain;
  Var src, dst;
  src->vt = VT_UNKNOWN;
  src->punkVal = &plain;
  plain.AddRef();
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dst->vt, VT_EMPTY);

  ValueDispatch disp;
  VariantClear(&src.v);
  src->vt = VT_DISPATCH;
  src->pdispVal = &disp;
  disp.AddRef();
  ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(dst->punkVal, static_cast<IUnknown*>(&disp));
  EXPECT_EQ(disp.refs, 3u);
  VariantClear(&dst.v);

  src->pdispVal = nullptr;
  disp.Release();
  ASSERT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(dst->punkVal, nullptr);
  EXPECT_EQ(VariantChangeType(&dst.v, &src.v, 0, VT_I4), DISP_E_TYPEMISMATCH);

  Var empty;
  ASSERT_EQ(VariantChangeType(&dst.v, &empty.v, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dst->vt, VT_DISPATCH);
  EXPECT_EQ(dst->pdispVal, nullptr);
  EXPECT_EQ(plain.refs, 1u);
  EXPECT_EQ(disp.refs, 1u);
}

TEST(VariantChangeType, HostileTextOnlyConvertsOrFails) {
  // Texts made of the characters the number and date readers look at.
  const char kAlphabet[] = "0123456789+-.,eE&HhOo:/ AaPpMmTt\t9";
  const VARTYPE kTargets[] = {VT_I1, VT_I2, VT_I4, VT_I8, VT_UI1, VT_UI8, VT_INT,
                              VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL};
  std::mt19937 rng(20240601);
  for (int round = 0; round < 4000; ++round) {
    std::u16string text;
    size_t length = rng() % 26;
    for (size_t i = 0; i < length; ++i) text += static_cast<char16_t>(kAlphabet[rng() % (sizeof kAlphabet - 1)]);
    if (round % 50 == 0) text += std::u16string(400, u'9');  // very long numbers
    Var src;
    src->vt = VT_BSTR;
    src->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    for (VARTYPE vt : kTargets) {
      Var dst;
      HRESULT hr = VariantChangeType(&dst.v, &src.v, 0, vt);
      ASSERT_TRUE(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW)
          << std::hex << hr << " for \"" << std::string(text.begin(), text.end()) << "\"";
      EXPECT_EQ(dst->vt, hr == S_OK ? vt : VT_EMPTY);
    }
  }
}

}  // namespace

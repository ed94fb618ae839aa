// VARIANT <-> Variant: the shells' argument table, the full conversion and
// the results handed back, with malformed VARIANTs a client might build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "script_host.h"

namespace quill::testing {
namespace {

VARIANT Raw(VARTYPE vt, int64_t bits = 0) {
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  v.llVal = bits;
  return v;
}

SAFEARRAY* IntVector(int32_t low, std::initializer_list<int32_t> values) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, low, static_cast<ULONG>(values.size()));
  LONG i = low;
  for (int32_t v : values) {
    SafeArrayPutElement(psa, &i, &v);
    ++i;
  }
  return psa;
}

TEST(ArgToValue, ScalarsByTheirExactType) {
  EXPECT_EQ(arg_to_value(Raw(VT_I2, -3)), Variant(-3));
  EXPECT_EQ(arg_to_value(Raw(VT_UI1, 200)), Variant(200));
  EXPECT_EQ(arg_to_value(Raw(VT_ERROR, DISP_E_PARAMNOTFOUND)), Variant(DISP_E_PARAMNOTFOUND));
  EXPECT_EQ(arg_to_value(Raw(VT_UI4, 4000000000LL)).Type(), VarType::Int64);  // nothing lost
  EXPECT_EQ(arg_to_value(R8(2.5).get()), Variant(2.5));
  VARIANT date = Raw(VT_DATE);
  date.date = 36526.5;
  EXPECT_EQ(arg_to_value(date).Type(), VarType::Double);  // the day count only
  VARIANT cy = Raw(VT_CY, 12345);
  EXPECT_EQ(arg_to_value(cy).RawCurrency(), 12345);
  EXPECT_EQ(arg_to_value(Text("héllo").get()), Variant("héllo"));
  EXPECT_EQ(arg_to_value(Bool(true).get()), Variant(true));
  EXPECT_EQ(arg_to_value(Raw(VT_I1, 'x')), Variant("x"));
  EXPECT_EQ(arg_to_value(Raw(VT_I1, 0xE9)), Variant("é"));  // a lone high byte as Latin-1
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_I8, VT_UI8, VT_DECIMAL, VT_RECORD, VT_ILLEGAL}) {
    EXPECT_TRUE(arg_to_value(Raw(vt, 1)).IsEmpty()) << vt;
  }
}

TEST(ArgToValue, ByReference) {
  int32_t i = 77;
  VARIANT ref = Raw(VT_BYREF | VT_I4);
  ref.plVal = &i;
  EXPECT_EQ(arg_to_value(ref), Variant(77));
  Var text = Text("inner");
  BSTR b = text.get().bstrVal;
  ref = Raw(VT_BYREF | VT_BSTR);
  ref.pbstrVal = &b;
  EXPECT_EQ(arg_to_value(ref), Variant("inner"));
  // A referenced VARIANT is copied in full, dates and Int64 included.
  VARIANT inner = Raw(VT_DATE);
  inner.date = 2.25;
  ref = Raw(VT_BYREF | VT_VARIANT);
  ref.pvarVal = &inner;
  EXPECT_EQ(arg_to_value(ref).Type(), VarType::Date);
  // Single-byte text stops at its NUL or at the bound.
  char chars[] = "abc\0def";
  ref = Raw(VT_BYREF | VT_I1);
  ref.pcVal = chars;
  EXPECT_EQ(arg_to_value(ref), Variant("abc"));
  std::string endless(kMaxByRefCharText + 100, 'z');
  ref.pcVal = endless.data();
  EXPECT_EQ(arg_to_value(ref).RawString().size(), kMaxByRefCharText);
  // Null references and reference cycles are refused, not followed.
  for (VARTYPE vt : {VT_I4, VT_VARIANT, VT_I1, VT_ARRAY, VT_DATE}) {
    VARIANT null_ref = Raw(VT_BYREF | vt);
    EXPECT_THROW(arg_to_value(null_ref), EVariantError) << vt;
  }
  VARIANT self = Raw(VT_BYREF | VT_VARIANT);
  self.pvarVal = &self;
  EXPECT_THROW(arg_to_value(self), EVariantError);
  // A by-reference type the table does not list is Empty.
  int64_t wide = 5;
  ref = Raw(VT_BYREF | VT_I8);
  ref.pllVal = &wide;
  EXPECT_TRUE(arg_to_value(ref).IsEmpty());
}

TEST(ArgToValue, Arrays) {
  SAFEARRAY* psa = IntVector(3, {10, 20});
  VARIANT untyped = Raw(VT_ARRAY);
  untyped.parray = psa;
  Variant v = arg_to_value(untyped);
  ASSERT_TRUE(v.IsArray());
  EXPECT_EQ(v.RawArray().LowBound, 3);
  EXPECT_EQ(v.RawArray().Items, (std::vector<Variant>{Variant(10), Variant(20)}));
  VARIANT by_ref = Raw(VT_BYREF | VT_ARRAY);
  by_ref.pparray = &psa;
  EXPECT_EQ(arg_to_value(by_ref), v);
  VARIANT typed = Raw(VT_ARRAY | VT_I4);  // an element type by value: an array too
  typed.parray = psa;
  EXPECT_EQ(arg_to_value(typed), v);
  EXPECT_EQ(VariantToValue(typed), v);
  SafeArrayDestroy(psa);

  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  psa = SafeArrayCreate(VT_I4, 2, bounds);
  untyped.parray = psa;
  EXPECT_THROW(arg_to_value(untyped), EVariantError);
  SafeArrayDestroy(psa);
}

TEST(VariantToValue, EverythingAVariantCanCarry) {
  EXPECT_EQ(VariantToValue(Raw(VT_I8, int64_t{1} << 40)), Variant(int64_t{1} << 40));
  EXPECT_EQ(VariantToValue(Raw(VT_I1, -1)), Variant(-1));
  EXPECT_THROW(VariantToValue(Raw(VT_UI8, -1)), EVariantError);
  VARIANT dec;
  std::memset(&dec, 0, sizeof dec);
  dec.decVal.scale = 2;
  dec.decVal.sign = 0x80;
  dec.decVal.Lo64 = 12345;
  dec.vt = VT_DECIMAL;
  EXPECT_DOUBLE_EQ(VariantToValue(dec).AsDouble(), -123.45);
  EXPECT_TRUE(VariantToValue(Raw(VT_NULL)).IsNull());
  EXPECT_THROW(VariantToValue(Raw(VT_RECORD)), EVariantError);
  EXPECT_THROW(VariantToValue(Raw(VT_VECTOR | VT_I4)), EVariantError);

  // An array of VARIANTs that holds itself is refused, not followed forever.
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT* elements = nullptr;
  SafeArrayAccessData(psa, reinterpret_cast<void**>(&elements));
  elements[0].vt = VT_ARRAY | VT_VARIANT;
  elements[0].parray = psa;
  SafeArrayUnaccessData(psa);
  VARIANT cyclic = Raw(VT_ARRAY | VT_VARIANT);
  cyclic.parray = psa;
  EXPECT_THROW(VariantToValue(cyclic), EVariantError);
  SafeArrayAccessData(psa, reinterpret_cast<void**>(&elements));
  elements[0].vt = VT_EMPTY;
  SafeArrayUnaccessData(psa);
  SafeArrayDestroy(psa);
}

TEST(ValueToVariant, ResultsForScript) {
  auto convert = [](const Variant& value) {
    Var out;
    ValueToVariant(value, out.ptr());
    return out;
  };
  EXPECT_EQ(convert(Variant()).vt(), VT_EMPTY);
  EXPECT_EQ(convert(Variant::Null()).vt(), VT_NULL);
  EXPECT_EQ(convert(Variant(true)).get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(convert(Variant::FromDate(2.5)).vt(), VT_DATE);
  EXPECT_EQ(convert(Variant::FromCurrency(5)).get().cyVal.int64, 5);
  EXPECT_EQ(convert(Variant(int64_t{-7})).i4(), -7);
  EXPECT_EQ(convert(Variant(int64_t{1} << 53)).r8(), std::ldexp(1.0, 53));
  EXPECT_EQ(convert(Variant((int64_t{1} << 53) + 1)).text(), "9007199254740993");
  EXPECT_EQ(convert(Variant("€ 😀")).text(), "€ 😀");
  Var empty = convert(Variant(""));
  ASSERT_EQ(empty.vt(), VT_BSTR);
  EXPECT_NE(empty.get().bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(empty.get().bstrVal), 0u);

  Variant nested(VariantArray{-2, {Variant("a"), Variant(VariantArray{1, {Variant(1.5)}})}});
  Var array = convert(nested);
  ASSERT_EQ(array.vt(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(VariantToValue(array.get()), nested);
  EXPECT_EQ(convert(Variant(VariantArray{})).vt(), VT_ARRAY | VT_VARIANT);
}

}  // namespace
}  // namespace quill::testing

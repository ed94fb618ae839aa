// Conversions and copying of Variant.
#include "base/variant.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace quill {
namespace {

struct CountingDispatch : IDispatch {
  int refs = 0;
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

TEST(VariantInteger, ConvertsFromEveryScalarKind) {
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_EQ(Variant(int32_t{7}).AsInteger(), 7);
  EXPECT_EQ(Variant("12").AsInteger(), 12);
  EXPECT_EQ(Variant(" -3 ").AsInteger(), -3);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);  // banker's rounding
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);
  EXPECT_EQ(Variant::FromCurrency(25000).AsInteger(), 2);
  EXPECT_EQ(Variant::FromCurrency(35000).AsInteger(), 4);
  EXPECT_EQ(Variant::FromCurrency(-35000).AsInteger(), -4);
}

TEST(VariantInteger, FailuresCarryTheUserMessage) {
  try {
    Variant("abc").AsInteger();
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  try {
    Variant::Null().AsInteger();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Could not convert variant of type (Null) into type (Integer)");
  }
  EXPECT_THROW(Variant(int64_t{1} << 40).AsInteger(), EVariantError);
  EXPECT_THROW(Variant("99999999999").AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_THROW(Variant(VariantArray{}).AsInteger(), EVariantError);
}

TEST(VariantText, NumbersUseDotAndBooleansTheirNames) {
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_EQ(Variant::Null().AsString(), "");
  EXPECT_EQ(Variant(int64_t{-5}).AsString(), "-5");
  EXPECT_EQ(Variant(1.5).AsString(), "1.5");
  EXPECT_EQ(Variant(false).AsString(), "False");
  EXPECT_EQ(Variant::FromCurrency(125000).AsString(), "12.5");
  EXPECT_EQ(Variant::FromDate(0).AsString(), "12/30/1899");
}

TEST(VariantBoolean, AcceptsNamesAndNumbersOnly) {
  EXPECT_TRUE(Variant("TRUE").AsBoolean());
  EXPECT_FALSE(Variant("false").AsBoolean());
  EXPECT_TRUE(Variant("2").AsBoolean());
  EXPECT_FALSE(Variant(0.0).AsBoolean());
  try {
    Variant("yes").AsBoolean();
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'yes' is not a valid boolean value");
  }
}

TEST(VariantDouble, ReadsDotTextOnly) {
  EXPECT_DOUBLE_EQ(Variant("1.5").AsDouble(), 1.5);
  EXPECT_DOUBLE_EQ(Variant::FromCurrency(15).AsDouble(), 0.0015);
  EXPECT_THROW(Variant("1,5").AsDouble(), EConvertError);
}

TEST(VariantDate, ReadsIsoAndRegionalTexts) {
  EXPECT_DOUBLE_EQ(Variant("1899-12-31").AsDateTime(), 1.0);
  EXPECT_DOUBLE_EQ(Variant("12/31/1899 6:00 PM").AsDateTime(), 1.75);
  EXPECT_DOUBLE_EQ(Variant("06:00:00").AsDateTime(), 0.25);
  EXPECT_DOUBLE_EQ(Variant("2").AsDateTime(), 2.0);
  try {
    Variant("2001-02-30").AsDateTime();
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'2001-02-30' is not a valid date and time");
  }
}

TEST(VariantCopy, ArraysAreDeepAndReferencesCounted) {
  CountingDispatch d;
  {
    Variant a(static_cast<IDispatch*>(&d));
    EXPECT_EQ(d.refs, 1);
    Variant b = a;
    EXPECT_EQ(d.refs, 2);
    Variant c = std::move(b);
    EXPECT_EQ(d.refs, 2);
    EXPECT_TRUE(b.IsEmpty());
    c = Variant(int32_t{1});
    EXPECT_EQ(d.refs, 1);
  }
  EXPECT_EQ(d.refs, 0);

  VariantArray arr;
  arr.LowBound = 1;
  arr.Items = {Variant("x"), Variant(int32_t{2})};
  Variant v(arr);
  Variant w = v;
  w.RawArray().Items[0] = Variant("changed");
  EXPECT_EQ(v.RawArray().Items[0].AsString(), "x");
  EXPECT_EQ(w.RawArray().LowBound, 1);
  EXPECT_FALSE(v == w);
}

TEST(VariantEquality, NumbersCompareByValueAcrossKinds) {
  EXPECT_TRUE(Variant(int32_t{2}) == Variant(int64_t{2}));
  EXPECT_TRUE(Variant(2.0) == Variant(int32_t{2}));
  EXPECT_FALSE(Variant("2") == Variant(int32_t{2}));
  EXPECT_TRUE(Variant::Null() == Variant::Null());
  EXPECT_FALSE(Variant::Null() == Variant());
}

}  // namespace
}  // namespace quill

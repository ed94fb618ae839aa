// The header-only owners over the runtime: each releases exactly what it
// holds, once.
#include "platform/olert/automation.h"

#include <gtest/gtest.h>

namespace {

using olert::ComPtr;
using olert::RefCounted;
using olert::SafeArrayElements;
using olert::ScopedBstr;
using olert::ScopedVariant;

int g_live = 0;

class Probe final : public RefCounted<IDispatch, IEnumVARIANT> {
 public:
  Probe() { ++g_live; }
  ULONG Count() const { return RefCount(); }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT Next(ULONG, VARIANT*, ULONG*) override { return S_FALSE; }
  HRESULT Skip(ULONG) override { return S_FALSE; }
  HRESULT Reset() override { return S_OK; }
  HRESULT Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 private:
  ~Probe() override { --g_live; }
};

TEST(Automation, ComPtrAndRefCountedKeepTheCountsRight) {
  {
    auto probe = ComPtr<Probe>::Adopt(new Probe);
    EXPECT_EQ(probe->Count(), 1u);
    ComPtr<IDispatch> copy = ComPtr<IDispatch>::Retain(probe.get());
    EXPECT_EQ(probe->Count(), 2u);
    ComPtr<IEnumVARIANT> e = copy.Query<IEnumVARIANT>(IID_IEnumVARIANT);
    ASSERT_TRUE(e);
    EXPECT_EQ(probe->Count(), 3u);
    ComPtr<IUnknown> u1 = e.Query<IUnknown>(IID_IUnknown);
    ComPtr<IUnknown> u2 = copy.Query<IUnknown>(IID_IUnknown);
    EXPECT_EQ(u1, u2);  // one identity whichever interface asks
    EXPECT_FALSE(copy.Query<IErrorInfo>(IID_IErrorInfo));
    ComPtr<IDispatch> moved = std::move(copy);
    EXPECT_FALSE(copy);
    IDispatch* raw = moved.Detach();
    EXPECT_EQ(raw->Release(), 4u);
    *e.Receive() = nullptr;  // releases what it held
    EXPECT_EQ(probe->Count(), 3u);
    EXPECT_EQ(g_live, 1);
  }
  EXPECT_EQ(g_live, 0);
}

TEST(Automation, ScopedVariantAndBstrFreeWhatTheyOwn) {
  ScopedVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(u"text");
  ScopedVariant copy;
  ASSERT_EQ(copy.CopyFrom(*v), S_OK);
  EXPECT_NE(copy->bstrVal, v->bstrVal);
  VARIANT raw = v.Detach();
  EXPECT_EQ(v.vt(), VT_EMPTY);
  ScopedVariant back = ScopedVariant::Adopt(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(back.vt(), VT_BSTR);
  EXPECT_EQ(back.Receive()->vt, VT_EMPTY);

  ScopedBstr b = ScopedBstr::Copy(u"abc");
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(b.view(), u"abc");
  ScopedBstr other = std::move(b);
  EXPECT_EQ(b.get(), nullptr);
  EXPECT_EQ(other.view(), u"abc");
  EXPECT_EQ(olert::HresultText(E_FAIL), "0x80004005");
}

TEST(Automation, SafeArrayElementsReadEveryElementType) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 1}};
  SAFEARRAY* ints = SafeArrayCreate(VT_I2, 2, bounds);
  ASSERT_NE(ints, nullptr);
  for (int k = 0; k < 4; ++k) static_cast<SHORT*>(ints->pvData)[k] = static_cast<SHORT>(10 + k);
  SafeArrayElements view(ints);
  ASSERT_EQ(view.status(), S_OK);
  ASSERT_EQ(view.size(), 4u);
  EXPECT_EQ(view.View(3).vt, VT_I2);
  EXPECT_EQ(view.View(3).iVal, 13);
  SafeArrayDestroy(ints);

  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 1);
  static_cast<BSTR*>(texts->pvData)[0] = SysAllocString(u"x");
  ScopedVariant copy;
  ASSERT_EQ(SafeArrayElements(texts).CopyTo(0, copy.get()), S_OK);
  EXPECT_NE(copy->bstrVal, static_cast<BSTR*>(texts->pvData)[0]);  // a copy, not a view
  SafeArrayDestroy(texts);
  EXPECT_EQ(std::u16string_view(copy->bstrVal), u"x");
  EXPECT_EQ(SafeArrayElements(nullptr).size(), 0u);

  SAFEARRAY* untyped = nullptr;  // no record of its element type
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &untyped), S_OK);
  untyped->cbElements = sizeof(LONG);
  untyped->rgsabound[0] = {1, 0};
  ASSERT_EQ(SafeArrayAllocData(untyped), S_OK);
  static_cast<LONG*>(untyped->pvData)[0] = 42;
  const VARIANT seen = SafeArrayElements(untyped).ViewAs(0, VT_I4);
  EXPECT_EQ(seen.vt, VT_I4);
  EXPECT_EQ(seen.lVal, 42);
  SafeArrayDestroy(untyped);
}

}  // namespace

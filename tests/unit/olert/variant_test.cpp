// Variant life cycle: what VariantClear frees and VariantCopy duplicates.
#include <gtest/gtest.h>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::Ascii;
using olert_test::CountingUnknown;
using olert_test::Var;

TEST(VariantClear, ReleasesWhatTheVariantOwns) {
  CountingUnknown unk;
  Var a;
  a->vt = VT_UNKNOWN;
  a->punkVal = &unk;
  unk.AddRef();
  EXPECT_EQ(VariantClear(&a.v), S_OK);
  EXPECT_EQ(a->vt, VT_EMPTY);
  EXPECT_EQ(unk.refs, 1u);

  Var b;  // a leaked BSTR or array would show under the leak checker
  b->vt = VT_BSTR;
  b->bstrVal = SysAllocString(u"text");
  EXPECT_EQ(VariantClear(&b.v), S_OK);
  b->vt = VT_ARRAY | VT_BSTR;
  b->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG i = 1;
  BSTR element = SysAllocString(u"x");
  ASSERT_EQ(SafeArrayPutElement(b->parray, &i, element), S_OK);  // stores a copy
  SysFreeString(element);
  EXPECT_EQ(VariantClear(&b.v), S_OK);
  EXPECT_EQ(b->vt, VT_EMPTY);

  VARIANT null_dispatch;
  null_dispatch.vt = VT_DISPATCH;
  null_dispatch.pdispVal = nullptr;
  EXPECT_EQ(VariantClear(&null_dispatch), S_OK);
}

TEST(VariantClear, NeverTouchesWhatAByrefPoints) {
  CountingUnknown unk;
  IUnknown* target = &unk;
  Var a;
  a->vt = VT_BYREF | VT_UNKNOWN;
  a->ppunkVal = &target;
  EXPECT_EQ(VariantClear(&a.v), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(target, &unk);
}

TEST(VariantClear, RefusesBadTypesAndLockedArrays) {
  VARIANT bad;
  bad.vt = 0x7FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 0x7FFF);
  bad.vt = VT_VARIANT;  // only valid with VT_BYREF or VT_ARRAY
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

  Var a;
  a->vt = VT_ARRAY | VT_I4;
  a->parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_EQ(SafeArrayLock(a->parray), S_OK);
  EXPECT_EQ(VariantClear(&a.v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(a->vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayUnlock(a->parray), S_OK);
}

TEST(VariantCopy, DuplicatesStringsAndArraysAndAddRefsInterfaces) {
  Var src, dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocStringLen(u"a\0b", 3);
  ASSERT_EQ(VariantCopy(&dst.v, &src.v), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, src->bstrVal);
  EXPECT_EQ(std::u16string(dst->bstrVal, 3), std::u16string(u"a\0b", 3));

  CountingUnknown unk;
  VariantClear(&src.v);
  src->vt = VT_UNKNOWN;
  src->punkVal = &unk;
  unk.AddRef();
  ASSERT_EQ(VariantCopy(&dst.v, &src.v), S_OK);  // also frees the old BSTR in dst
  EXPECT_EQ(dst->punkVal, &unk);
  EXPECT_EQ(unk.refs, 3u);
  VariantClear(&dst.v);
  VariantClear(&src.v);
  EXPECT_EQ(unk.refs, 1u);

  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = SafeArrayCreateVector(VT_BSTR, 1, 1);
  LONG i = 1;
  BSTR text = SysAllocString(u"element");
  ASSERT_EQ(SafeArrayPutElement(src->parray, &i, text), S_OK);
  SysFreeString(text);
  ASSERT_EQ(VariantCopy(&dst.v, &src.v), S_OK);
  ASSERT_NE(dst->parray, src->parray);
  BSTR a = nullptr, b = nullptr;
  ASSERT_EQ(SafeArrayGetElement(src->parray, &i, &a), S_OK);
  ASSERT_EQ(SafeArrayGetElement(dst->parray, &i, &b), S_OK);
  EXPECT_EQ(Ascii(a), "element");
  EXPECT_EQ(Ascii(b), "element");
  SysFreeString(a);
  SysFreeString(b);
}

TEST(VariantCopy, CopiesAByrefAsTheSameReference) {
  LONG target = 5;
  Var src, dst;
  src->vt = VT_BYREF | VT_I4;
  src->plVal = &target;
  ASSERT_EQ(VariantCopy(&dst.v, &src.v), S_OK);
  EXPECT_EQ(dst->vt, VT_BYREF | VT_I4);
  EXPECT_EQ(dst->plVal, &target);
}

TEST(VariantCopy, CopyIndReadsThroughTheReference) {
  BSTR text = SysAllocString(u"ref");
  Var src, dst;
  src->vt = VT_BYREF | VT_BSTR;
  src->pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&dst.v, &src.v), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, text);
  EXPECT_EQ(Ascii(dst->bstrVal), "ref");
  // In place: the variant becomes the value it referred to.
  ASSERT_EQ(VariantCopyInd(&src.v, &src.v), S_OK);
  EXPECT_EQ(src->vt, VT_BSTR);
  EXPECT_EQ(Ascii(src->bstrVal), "ref");
  SysFreeString(text);
}

TEST(VariantCopy, BadArgumentsLeaveTheDestination) {
  Var src, dst;
  dst->vt = VT_I4;
  dst->lVal = 9;
  src->vt = 0x7FFF;
  EXPECT_EQ(VariantCopy(&dst.v, &src.v), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst->vt, VT_I4);
  EXPECT_EQ(dst->lVal, 9);
  src->vt = VT_EMPTY;
  EXPECT_EQ(VariantCopy(nullptr, &src.v), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&dst.v, nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&dst.v, &dst.v), S_OK);
  EXPECT_EQ(dst->lVal, 9);
}

}  // namespace

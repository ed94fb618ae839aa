// Safe arrays: bounds in several dimensions, element layout, ownership of
// BSTR/VARIANT/interface elements, locks and bad indexes.
#include <gtest/gtest.h>

#include <vector>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::Ascii;
using olert_test::CountingUnknown;

// A 3-D array of I4 with bounds [1..2][-2..0][5..8] (left to right).
struct Cube {
  static constexpr LONG kLower[3] = {1, -2, 5};
  static constexpr ULONG kCount[3] = {2, 3, 4};
  SAFEARRAY* psa = nullptr;
  Cube() {
    SAFEARRAYBOUND b[3];
    for (int d = 0; d < 3; ++d) b[d] = {kCount[d], kLower[d]};
    psa = SafeArrayCreate(VT_I4, 3, b);
  }
  ~Cube() { SafeArrayDestroy(psa); }
  static LONG Code(const LONG* idx) { return idx[0] * 10000 + (idx[1] + 10) * 100 + idx[2]; }
};

TEST(SafeArray, BoundsAreKeptPerDimensionInWindowsOrder) {
  Cube cube;
  ASSERT_NE(cube.psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(cube.psa), 3u);
  EXPECT_EQ(SafeArrayGetElemsize(cube.psa), 4u);
  for (UINT d = 1; d <= 3; ++d) {
    LONG lo = 0, hi = 0;
    ASSERT_EQ(SafeArrayGetLBound(cube.psa, d, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(cube.psa, d, &hi), S_OK);
    EXPECT_EQ(lo, Cube::kLower[d - 1]);
    EXPECT_EQ(hi, Cube::kLower[d - 1] + static_cast<LONG>(Cube::kCount[d - 1]) - 1);
  }
  // rgsabound[0] is the right-most dimension.
  EXPECT_EQ(cube.psa->rgsabound[0].cElements, 4u);
  EXPECT_EQ(cube.psa->rgsabound[0].lLbound, 5);
  EXPECT_EQ(cube.psa->rgsabound[2].cElements, 2u);
  EXPECT_EQ(cube.psa->rgsabound[2].lLbound, 1);
  LONG out;
  EXPECT_EQ(SafeArrayGetLBound(cube.psa, 0, &out), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(cube.psa, 4, &out), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &out), E_INVALIDARG);
  VARTYPE vt;
  ASSERT_EQ(SafeArrayGetVartype(cube.psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_I4);
  EXPECT_TRUE(cube.psa->fFeatures & FADF_HAVEVARTYPE);
}

TEST(SafeArray, ElementsRoundTripAndLieFirstIndexFastest) {
  Cube cube;
  LONG idx[3];
  for (idx[0] = 1; idx[0] <= 2; ++idx[0])
    for (idx[1] = -2; idx[1] <= 0; ++idx[1])
      for (idx[2] = 5; idx[2] <= 8; ++idx[2]) {
        LONG v = Cube::Code(idx);
        ASSERT_EQ(SafeArrayPutElement(cube.psa, idx, &v), S_OK);
      }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(cube.psa, reinterpret_cast<void**>(&data)), S_OK);
  for (idx[0] = 1; idx[0] <= 2; ++idx[0])
    for (idx[1] = -2; idx[1] <= 0; ++idx[1])
      for (idx[2] = 5; idx[2] <= 8; ++idx[2]) {
        LONG got = 0;
        ASSERT_EQ(SafeArrayGetElement(cube.psa, idx, &got), S_OK);
        EXPECT_EQ(got, Cube::Code(idx));
        size_t cell = (idx[0] - 1) + (idx[1] + 2) * 2 + (idx[2] - 5) * 2 * 3;
        EXPECT_EQ(data[cell], Cube::Code(idx));
        void* p = nullptr;
        ASSERT_EQ(SafeArrayPtrOfIndex(cube.psa, idx, &p), S_OK);
        EXPECT_EQ(p, &data[cell]);
      }
  ASSERT_EQ(SafeArrayUnaccessData(cube.psa), S_OK);
}

TEST(SafeArray, IndexesOutsideTheBoundsAreRefused) {
  Cube cube;
  const LONG bad[][3] = {{0, -2, 5}, {3, -2, 5}, {1, -3, 5}, {1, 1, 5}, {1, -2, 4}, {1, -2, 9}};
  for (const auto& b : bad) {
    LONG idx[3] = {b[0], b[1], b[2]};
    LONG v = 1;
    void* p = &v;
    EXPECT_EQ(SafeArrayPutElement(cube.psa, idx, &v), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetElement(cube.psa, idx, &v), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPtrOfIndex(cube.psa, idx, &p), DISP_E_BADINDEX);
    EXPECT_EQ(p, nullptr);
  }
  LONG idx[3] = {1, -2, 5};
  EXPECT_EQ(SafeArrayGetElement(cube.psa, idx, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(cube.psa, idx, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(nullptr, idx, idx), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(cube.psa, nullptr, idx), E_INVALIDARG);
}

TEST(SafeArray, StringElementsAreCopiedInAndOut) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, -3, 3);
  ASSERT_NE(psa, nullptr);
  EXPECT_TRUE(psa->fFeatures & FADF_BSTR);
  BSTR mine = SysAllocString(u"first");
  LONG i = -3;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, mine), S_OK);
  BSTR second = SysAllocString(u"second");
  ASSERT_EQ(SafeArrayPutElement(psa, &i, second), S_OK);  // frees the first copy
  SysFreeString(second);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
  EXPECT_EQ(Ascii(got), "second");
  SysFreeString(got);
  EXPECT_EQ(Ascii(mine), "first");  // the caller's string stays the caller's
  SysFreeString(mine);
  i = -1;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, nullptr), S_OK);  // null BSTR element
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, DestroyIsDeepForInterfacesAndVariants) {
  CountingUnknown a, b;
  SAFEARRAY* units = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(units, &i, &a), S_OK);
  EXPECT_EQ(a.refs, 2u);
  ASSERT_EQ(SafeArrayPutElement(units, &i, &b), S_OK);  // replaces a
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 2u);
  IUnknown* out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(units, &i, &out), S_OK);
  EXPECT_EQ(out, &b);
  EXPECT_EQ(b.refs, 3u);
  out->Release();

  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  VARIANT v;
  v.vt = VT_UNKNOWN;
  v.punkVal = &a;
  i = 1;
  ASSERT_EQ(SafeArrayPutElement(variants, &i, &v), S_OK);
  EXPECT_EQ(a.refs, 2u);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"in a variant");
  i = 2;
  ASSERT_EQ(SafeArrayPutElement(variants, &i, &v), S_OK);
  VARIANT got;
  ASSERT_EQ(SafeArrayGetElement(variants, &i, &got), S_OK);
  EXPECT_EQ(Ascii(got.bstrVal), "in a variant");
  EXPECT_NE(got.bstrVal, v.bstrVal);
  VariantClear(&got);
  VariantClear(&v);

  EXPECT_EQ(SafeArrayDestroy(units), S_OK);
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 1u);
}

TEST(SafeArray, LocksNestAndBlockDestruction) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(data, psa->pvData);
  EXPECT_EQ(psa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(psa), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, CopyIsDeep) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG i = 0;
  BSTR s = SysAllocString(u"copy me");
  ASSERT_EQ(SafeArrayPutElement(psa, &i, s), S_OK);
  SysFreeString(s);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  BSTR* a = static_cast<BSTR*>(psa->pvData);
  BSTR* b = static_cast<BSTR*>(copy->pvData);
  EXPECT_NE(a[0], b[0]);
  EXPECT_EQ(Ascii(b[0]), "copy me");
  VARTYPE vt;
  ASSERT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  SafeArrayDestroy(psa);
  SafeArrayDestroy(copy);
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);
}

TEST(SafeArray, CreationRefusesWhatItCannotHold) {
  SAFEARRAYBOUND b = {4, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &b), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &b), nullptr);
  SAFEARRAYBOUND huge[3] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, huge), nullptr);
  SAFEARRAY* empty = SafeArrayCreateVector(VT_I4, 0, 0);
  ASSERT_NE(empty, nullptr);
  LONG i = 0, v;
  EXPECT_EQ(SafeArrayGetElement(empty, &i, &v), DISP_E_BADINDEX);
  LONG ub;
  ASSERT_EQ(SafeArrayGetUBound(empty, 1, &ub), S_OK);
  EXPECT_EQ(ub, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
}

TEST(SafeArray, ElementSizesFollowTheType) {
  const struct {
    VARTYPE vt;
    UINT size;
  } rows[] = {{VT_UI1, 1}, {VT_I2, 2}, {VT_BOOL, 2}, {VT_I4, 4}, {VT_R4, 4}, {VT_ERROR, 4},
              {VT_R8, 8},  {VT_CY, 8}, {VT_DATE, 8}, {VT_I8, 8}, {VT_BSTR, 8}, {VT_DISPATCH, 8},
              {VT_DECIMAL, 16}, {VT_VARIANT, 24}};
  for (const auto& r : rows) {
    SAFEARRAY* psa = SafeArrayCreateVector(r.vt, 0, 1);
    ASSERT_NE(psa, nullptr) << r.vt;
    EXPECT_EQ(SafeArrayGetElemsize(psa), r.size) << r.vt;
    VARTYPE vt;
    ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, r.vt);
    SafeArrayDestroy(psa);
  }
}

}  // namespace

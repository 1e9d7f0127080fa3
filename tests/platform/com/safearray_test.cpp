// SAFEARRAY: bounds, indexing across dimensions, element ownership, locking, resizing, copies.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/counting_unknown.h"

namespace {

TEST(SafeArray, BoundsAreReportedLeftMostFirst) {
  SAFEARRAYBOUND b[2] = {{3, 1}, {4, -2}};
  vkr::SafeArrayHolder sa(SafeArrayCreate(VT_I4, 2, b));
  ASSERT_NE(sa.Get(), nullptr);
  EXPECT_EQ(SafeArrayGetDim(sa.Get()), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(sa.Get()), 4u);
  LONG lo, hi;
  ASSERT_EQ(SafeArrayGetLBound(sa.Get(), 1, &lo), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(sa.Get(), 1, &hi), S_OK);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 3);
  ASSERT_EQ(SafeArrayGetLBound(sa.Get(), 2, &lo), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(sa.Get(), 2, &hi), S_OK);
  EXPECT_EQ(lo, -2);
  EXPECT_EQ(hi, 1);
  EXPECT_EQ(SafeArrayGetLBound(sa.Get(), 0, &lo), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(sa.Get(), 3, &hi), DISP_E_BADINDEX);
  VARTYPE vt;
  ASSERT_EQ(SafeArrayGetVartype(sa.Get(), &vt), S_OK);
  EXPECT_EQ(vt, VT_I4);
}

TEST(SafeArray, FirstIndexVariesFastestInMemory) {
  SAFEARRAYBOUND b[2] = {{3, 0}, {2, 10}};
  vkr::SafeArrayHolder sa(SafeArrayCreate(VT_I4, 2, b));
  for (LONG j = 10; j < 12; ++j)
    for (LONG i = 0; i < 3; ++i) {
      LONG idx[2] = {i, j};
      LONG value = i + 100 * j;
      ASSERT_EQ(SafeArrayPutElement(sa.Get(), idx, &value), S_OK);
    }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa.Get(), reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0], 1000);
  EXPECT_EQ(data[1], 1001);
  EXPECT_EQ(data[3], 1100);
  EXPECT_EQ(SafeArrayUnaccessData(sa.Get()), S_OK);
  LONG outside[2] = {3, 10};
  LONG value = 0;
  EXPECT_EQ(SafeArrayGetElement(sa.Get(), outside, &value), DISP_E_BADINDEX);
  LONG below[2] = {0, 9};
  EXPECT_EQ(SafeArrayPutElement(sa.Get(), below, &value), DISP_E_BADINDEX);
}

TEST(SafeArray, BstrElementsAreCopiedInAndOut) {
  vkr::SafeArrayHolder sa(SafeArrayCreateVector(VT_BSTR, 0, 2));
  BSTR s = SysAllocString(u"one");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(sa.Get(), &i, s), S_OK);
  SysFreeString(s);  // the array keeps its own copy
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(sa.Get(), &i, &out), S_OK);
  EXPECT_EQ(vkr::View(out), u"one");
  SysFreeString(out);
  // Replacing an element frees the old one; a null BSTR is stored as null.
  ASSERT_EQ(SafeArrayPutElement(sa.Get(), &i, nullptr), S_OK);
  ASSERT_EQ(SafeArrayGetElement(sa.Get(), &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST(SafeArray, LockedArraysCannotBeDestroyedOrResized) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* data;
  ASSERT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND nb{8, 0};
  EXPECT_EQ(SafeArrayRedim(sa, &nb), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(sa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, RedimKeepsElementsAndFreesDroppedOnes) {
  vkr::SafeArrayHolder sa(SafeArrayCreateVector(VT_BSTR, 1, 3));
  for (LONG i = 1; i <= 3; ++i) {
    vkr::Bstr s(i == 1 ? u"a" : i == 2 ? u"b" : u"c");
    ASSERT_EQ(SafeArrayPutElement(sa.Get(), &i, s.Get()), S_OK);
  }
  SAFEARRAYBOUND smaller{1, 1};
  ASSERT_EQ(SafeArrayRedim(sa.Get(), &smaller), S_OK);  // "b" and "c" freed (ASan checks)
  SAFEARRAYBOUND larger{5, 1};
  ASSERT_EQ(SafeArrayRedim(sa.Get(), &larger), S_OK);
  LONG hi;
  SafeArrayGetUBound(sa.Get(), 1, &hi);
  EXPECT_EQ(hi, 5);
  BSTR out = nullptr;
  LONG i = 1;
  ASSERT_EQ(SafeArrayGetElement(sa.Get(), &i, &out), S_OK);
  EXPECT_EQ(vkr::View(out), u"a");
  SysFreeString(out);
  i = 4;
  ASSERT_EQ(SafeArrayGetElement(sa.Get(), &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST(SafeArray, EmptyArraysAndBadTypes) {
  vkr::SafeArrayHolder empty(SafeArrayCreateVector(VT_VARIANT, 0, 0));
  ASSERT_NE(empty.Get(), nullptr);
  LONG lo, hi;
  SafeArrayGetLBound(empty.Get(), 1, &lo);
  SafeArrayGetUBound(empty.Get(), 1, &hi);
  EXPECT_EQ(hi, lo - 1);
  LONG i = 0;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(SafeArrayGetElement(empty.Get(), &i, &v), DISP_E_BADINDEX);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(empty.Get(), &copy), S_OK);
  SafeArrayDestroy(copy);

  EXPECT_EQ(SafeArrayCreateVector(VT_LPSTR, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  SAFEARRAYBOUND b{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
  // Element counts whose byte size overflows are refused rather than wrapped.
  SAFEARRAYBOUND huge[2] = {{0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 2, huge), nullptr);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &lo), E_INVALIDARG);
}

TEST(SafeArray, CopyIsDeepForInterfacesAndVariants) {
  vkr::test::CountingUnknown obj;
  {
    vkr::SafeArrayHolder sa(SafeArrayCreateVector(VT_UNKNOWN, 0, 2));
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(sa.Get(), &i, &obj), S_OK);
    EXPECT_EQ(obj.refs, 2);
    vkr::SafeArrayHolder copy;
    ASSERT_EQ(SafeArrayCopy(sa.Get(), copy.Put()), S_OK);
    EXPECT_EQ(obj.refs, 3);
    IUnknown* got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(copy.Get(), &i, &got), S_OK);
    EXPECT_EQ(got, &obj);
    got->Release();
  }
  EXPECT_EQ(obj.refs, 1);
}

}  // namespace

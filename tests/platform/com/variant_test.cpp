// VARIANT lifetime: clears free everything, copies are deep, references dereference.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/counting_unknown.h"

namespace {

BSTR Text(const char16_t* s) { return SysAllocString(s); }

// An array of VARIANTs: a BSTR, a number and a nested array of VARIANTs holding a BSTR.
SAFEARRAY* NestedArray() {
  SAFEARRAY* inner = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG i = 0;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Text(u"deep");
  SafeArrayPutElement(inner, &i, &v);
  VariantClear(&v);

  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  v.vt = VT_BSTR;
  v.bstrVal = Text(u"top");
  SafeArrayPutElement(outer, &i, &v);
  VariantClear(&v);
  i = 1;
  v.vt = VT_I4;
  v.lVal = -7;
  SafeArrayPutElement(outer, &i, &v);
  i = 2;
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = inner;
  SafeArrayPutElement(outer, &i, &v);
  VariantClear(&v);  // destroys inner: the outer array holds its own copy
  return outer;
}

std::u16string DeepText(const VARIANT& v) {
  LONG i = 2;
  VARIANT nested;
  VariantInit(&nested);
  if (FAILED(SafeArrayGetElement(v.parray, &i, &nested))) return u"?";
  i = 0;
  VARIANT leaf;
  VariantInit(&leaf);
  SafeArrayGetElement(nested.parray, &i, &leaf);
  std::u16string s(vkr::View(leaf.bstrVal));
  VariantClear(&leaf);
  VariantClear(&nested);
  return s;
}

TEST(Variant, DeepCopyOfNestedArraysIsIndependent) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_ARRAY | VT_VARIANT;
  a.parray = NestedArray();
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.parray, a.parray);
  EXPECT_EQ(DeepText(b), u"deep");
  ASSERT_EQ(VariantClear(&a), S_OK);
  EXPECT_EQ(a.vt, VT_EMPTY);
  EXPECT_EQ(DeepText(b), u"deep");  // still readable after the source is gone (ASan checks)
  EXPECT_EQ(VariantClear(&b), S_OK);
}

TEST(Variant, CopyIntoTheVariantThatOwnsTheSource) {
  vkr::Variant holder;
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = NestedArray();
  VARIANT* first = nullptr;
  ASSERT_EQ(SafeArrayAccessData(holder.parray, reinterpret_cast<void**>(&first)), S_OK);
  VARIANT element = *first;  // borrowed view of element 0 ("top")
  SafeArrayUnaccessData(holder.parray);
  ASSERT_EQ(VariantCopy(&holder, &element), S_OK);
  EXPECT_EQ(holder.vt, VT_BSTR);
  EXPECT_EQ(vkr::View(holder.bstrVal), u"top");
  EXPECT_EQ(VariantCopy(&holder, &holder), S_OK);
  EXPECT_EQ(vkr::View(holder.bstrVal), u"top");
}

TEST(Variant, BadTypesAndNullPointers) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(nullptr, &v), E_INVALIDARG);
  VARIANT bad;
  VariantInit(&bad);
  for (VARTYPE vt : {VARTYPE(15), VARTYPE(VT_VARIANT), VARTYPE(VT_LPSTR), VARTYPE(VT_VECTOR | VT_I4), VARTYPE(0x7FFF)}) {
    bad.vt = vt;
    EXPECT_EQ(VariantCopy(&v, &bad), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE) << vt;
  }
  // A failed copy of a bad type leaves the destination as it was.
  v.vt = VT_I4;
  v.lVal = 5;
  bad.vt = VT_LPSTR;
  EXPECT_EQ(VariantCopy(&v, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 5);
}

TEST(Variant, CopyIndDereferences) {
  BSTR s = Text(u"ref");
  DECIMAL d{};
  d.scale = 2;
  d.sign = DECIMAL_NEG;
  d.Lo64 = 12345;
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_R8;
  inner.dblVal = 2.5;

  VARIANT r, out;
  VariantInit(&r);
  VariantInit(&out);
  r.vt = VT_BYREF | VT_BSTR;
  r.pbstrVal = &s;
  ASSERT_EQ(VariantCopyInd(&out, &r), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, s);
  EXPECT_EQ(vkr::View(out.bstrVal), u"ref");

  r.vt = VT_BYREF | VT_DECIMAL;
  r.pdecVal = &d;
  ASSERT_EQ(VariantCopyInd(&out, &r), S_OK);
  EXPECT_EQ(out.vt, VT_DECIMAL);
  EXPECT_EQ(out.decVal.Lo64, 12345u);
  EXPECT_EQ(out.decVal.scale, 2);
  EXPECT_EQ(out.decVal.sign, DECIMAL_NEG);

  r.vt = VT_BYREF | VT_VARIANT;
  r.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&out, &r), S_OK);
  EXPECT_EQ(out.vt, VT_R8);
  EXPECT_EQ(out.dblVal, 2.5);

  // In place: the reference is replaced by its value.
  r.vt = VT_BYREF | VT_BSTR;
  r.pbstrVal = &s;
  ASSERT_EQ(VariantCopyInd(&r, &r), S_OK);
  EXPECT_EQ(r.vt, VT_BSTR);
  EXPECT_NE(r.bstrVal, s);
  VariantClear(&r);
  VariantClear(&out);
  SysFreeString(s);
}

// Every allocation of a deep copy may fail: the copy reports it, the destination is empty, and
// nothing leaks (the sanitizer build checks the last part).
TEST(Variant, CopyFailsCleanlyAtEveryAllocation) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_ARRAY | VT_VARIANT;
  src.parray = NestedArray();
  for (unsigned n = 1;; ++n) {
    VARIANT dst;
    VariantInit(&dst);
    dst.vt = VT_BSTR;
    dst.bstrVal = Text(u"old");
    vkr::platform::SetAllocationFault(n);
    HRESULT hr = VariantCopy(&dst, &src);
    bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (!reached) {
      ASSERT_EQ(hr, S_OK);
      EXPECT_EQ(DeepText(dst), u"deep");
      VariantClear(&dst);
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
    EXPECT_EQ(dst.vt, VT_EMPTY) << "allocation " << n;
    VariantClear(&dst);
    ASSERT_LT(n, 100u);
  }
  VariantClear(&src);
}

TEST(Variant, InterfaceReferencesAreCounted) {
  vkr::test::CountingUnknown obj;
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_UNKNOWN;
  a.punkVal = &obj;
  obj.AddRef();
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(obj.refs, 3);
  VariantClear(&a);
  VariantClear(&b);
  EXPECT_EQ(obj.refs, 1);
  a.vt = VT_UNKNOWN;
  a.punkVal = nullptr;  // a null interface is a valid value
  EXPECT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(VariantClear(&b), S_OK);
}

}  // namespace

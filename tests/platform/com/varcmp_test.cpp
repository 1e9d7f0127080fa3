// VarCmp, VarBstrCmp and VarBstrCat.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/platform.h"

namespace {

using vkr::Variant;

Variant Of(VARTYPE vt) {
  Variant v;
  v.vt = vt;
  return v;
}
Variant I4(LONG x) { auto v = Of(VT_I4); v.lVal = x; return v; }
Variant UI4(ULONG x) { auto v = Of(VT_UI4); v.ulVal = x; return v; }
Variant I8(LONGLONG x) { auto v = Of(VT_I8); v.llVal = x; return v; }
Variant UI8(ULONGLONG x) { auto v = Of(VT_UI8); v.ullVal = x; return v; }
Variant UI1(BYTE x) { auto v = Of(VT_UI1); v.bVal = x; return v; }
Variant R4(FLOAT x) { auto v = Of(VT_R4); v.fltVal = x; return v; }
Variant R8(DOUBLE x) { auto v = Of(VT_R8); v.dblVal = x; return v; }
Variant Cy(LONGLONG scaled) { auto v = Of(VT_CY); v.cyVal.int64 = scaled; return v; }
Variant Date(DATE x) { auto v = Of(VT_DATE); v.date = x; return v; }
Variant Bool(bool x) { auto v = Of(VT_BOOL); v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
Variant Err(SCODE x) { auto v = Of(VT_ERROR); v.scode = x; return v; }
Variant Str(const char16_t* s) {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}
Variant NullStr() {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = nullptr;
  return v;
}
Variant Dec(ULONGLONG lo, BYTE scale = 0, bool negative = false, ULONG hi = 0) {
  Variant v;
  v.decVal.Lo64 = lo;
  v.decVal.Hi32 = hi;
  v.decVal.scale = scale;
  v.decVal.sign = negative ? DECIMAL_NEG : 0;
  v.vt = VT_DECIMAL;
  return v;
}

struct CmpRow {
  const char* what;
  Variant left;
  Variant right;
  HRESULT want;
  ULONG flags = 0;
};

constexpr LONGLONG kI8Max = std::numeric_limits<LONGLONG>::max();

TEST(VarCmp, ComparesByTheTable) {
  const CmpRow rows[] = {
      {"same integers", I4(5), I4(5), VARCMP_EQ},
      {"signed against unsigned", I4(-1), UI4(0xFFFFFFFFu), VARCMP_LT},
      {"integer against double", I4(5), R8(5.0), VARCMP_EQ},
      {"integer below a fraction", I4(5), R8(5.25), VARCMP_LT},
      {"negative fraction below integer", R8(-5.25), I4(-5), VARCMP_LT},
      {"byte against I8", UI1(200), I8(200), VARCMP_EQ},
      {"I8 max against 2^63 as a double", I8(kI8Max), R8(9223372036854775808.0), VARCMP_LT},
      {"UI8 max above I8 -1", UI8(std::numeric_limits<ULONGLONG>::max()), I8(-1), VARCMP_GT},
      {"R4 widened: 0.1f above 0.1", R4(0.1f), R8(0.1), VARCMP_GT},
      {"R4 against R4", R4(1.5f), R8(1.5), VARCMP_EQ},
      {"decimal against double", Dec(15, 1), R8(1.5), VARCMP_EQ},
      {"decimal against currency", Dec(15, 1), Cy(15000), VARCMP_EQ},
      {"decimal scales", Dec(150, 2), Dec(15, 1), VARCMP_EQ},
      {"decimal sign", Dec(1, 0, true), Dec(0), VARCMP_LT},
      {"decimal against integer", Dec(0, 0, false, 1), UI8(std::numeric_limits<ULONGLONG>::max()), VARCMP_GT},
      {"bool true is -1", Bool(true), I4(-1), VARCMP_EQ},
      {"bool false is 0", Bool(false), R8(0), VARCMP_EQ},
      {"dates are numbers", Date(43831.5), R8(43831.5), VARCMP_EQ},
      {"empty is 0 against numbers", Variant(), I4(0), VARCMP_EQ},
      {"empty below 1", Variant(), R8(1), VARCMP_LT},
      {"two empties", Variant(), Variant(), VARCMP_EQ},
      {"empty is \"\" against texts", Variant(), Str(u""), VARCMP_EQ},
      {"empty below a text", Variant(), Str(u"a"), VARCMP_LT},
      {"null left", Of(VT_NULL), I4(1), VARCMP_NULL},
      {"null right", Str(u"a"), Of(VT_NULL), VARCMP_NULL},
      {"two nulls", Of(VT_NULL), Of(VT_NULL), VARCMP_NULL},
      {"texts by code unit", Str(u"abc"), Str(u"abd"), VARCMP_LT},
      {"case matters", Str(u"abc"), Str(u"ABC"), VARCMP_GT},
      {"case ignored", Str(u"abc"), Str(u"ABC"), VARCMP_EQ, NORM_IGNORECASE},
      {"case ignored, still ordered", Str(u"abc"), Str(u"ABD"), VARCMP_LT, NORM_IGNORECASE},
      {"umlauts fold", Str(u"\u00C4rger"), Str(u"\u00E4RGER"), VARCMP_EQ, NORM_IGNORECASE},
      {"cyrillic folds", Str(u"\u0416"), Str(u"\u0436"), VARCMP_EQ, NORM_IGNORECASE},
      {"prefix is less", Str(u"ab"), Str(u"abc"), VARCMP_LT},
      {"null text is empty", NullStr(), Str(u""), VARCMP_EQ},
      {"number below text", I4(5), Str(u"5"), VARCMP_LT},
      {"text above number", Str(u"1"), R8(9), VARCMP_GT},
      {"errors by code", Err(E_FAIL), Err(E_FAIL), VARCMP_EQ},
      {"error against number", Err(E_FAIL), I4(0), DISP_E_TYPEMISMATCH},
      {"arrays are not compared", Of(VT_ARRAY | VT_I4), Of(VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH},
      {"objects are not compared", Of(VT_UNKNOWN), I4(1), DISP_E_TYPEMISMATCH},
      {"NaN equals NaN", R8(NAN), R8(NAN), VARCMP_EQ},
      {"NaN above numbers", R8(NAN), R8(INFINITY), VARCMP_GT},
      {"integer below NaN", I4(1), R8(NAN), VARCMP_LT},
      {"bad type", Of(15), I4(1), DISP_E_BADVARTYPE},
      {"width flag cannot be honoured", Str(u"a"), Str(u"a"), E_NOTIMPL, NORM_IGNOREWIDTH},
      {"unknown flag", Str(u"a"), Str(u"a"), E_INVALIDARG, 0x100},
  };
  for (const CmpRow& row : rows) {
    // VarCmp takes non-const pointers but changes nothing.
    auto* left = const_cast<VARIANT*>(row.left.Ptr());
    auto* right = const_cast<VARIANT*>(row.right.Ptr());
    EXPECT_EQ(VarCmp(left, right, LOCALE_USER_DEFAULT, row.flags), row.want) << row.what;
  }
}

TEST(VarCmp, IsAntisymmetricOverMixedTypes) {
  Variant values[] = {I4(-3), R8(-2.5), Dec(25, 1, true), Cy(-20000), Bool(true), Variant(), UI1(0),
                      R4(0.5f), Date(1), I8(2), UI8(3), Dec(35, 1), R8(1e300)};
  for (auto& a : values) {
    for (auto& b : values) {
      const HRESULT ab = VarCmp(a.Ptr(), b.Ptr(), LOCALE_USER_DEFAULT, 0);
      const HRESULT ba = VarCmp(b.Ptr(), a.Ptr(), LOCALE_USER_DEFAULT, 0);
      ASSERT_GE(ab, VARCMP_LT);
      ASSERT_LE(ab, VARCMP_GT);
      EXPECT_EQ(ab, VARCMP_GT - ba) << "vt " << a.vt << " against vt " << b.vt;
    }
  }
}

TEST(VarCmp, FollowsReferencesAndRefusesNullPointers) {
  Variant five = I4(5);
  DOUBLE d = 5.0;
  Variant ref;
  ref.vt = VT_BYREF | VT_R8;
  ref.pdblVal = &d;
  EXPECT_EQ(VarCmp(five.Ptr(), ref.Ptr(), LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  EXPECT_EQ(VarCmp(nullptr, five.Ptr(), LOCALE_USER_DEFAULT, 0), E_INVALIDARG);
  EXPECT_EQ(VarCmp(five.Ptr(), nullptr, LOCALE_USER_DEFAULT, 0), E_INVALIDARG);
}

TEST(VarBstrCmp, ComparesTextsWithNullAsEmpty) {
  vkr::Bstr abc(u"abc"), ABC(u"ABC"), empty(u""), withZero(std::u16string_view(u"a\0b", 3)), a(u"a");
  EXPECT_EQ(VarBstrCmp(nullptr, nullptr, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, empty, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, a, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(a, nullptr, LOCALE_USER_DEFAULT, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(abc, ABC, LOCALE_USER_DEFAULT, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(abc, ABC, 0, NORM_IGNORECASE), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(abc, abc, 0x400, 0), VARCMP_EQ);
  // The whole length counts, embedded zeros included.
  EXPECT_EQ(VarBstrCmp(a, withZero, 0x400, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(abc, abc, 0x400, NORM_IGNORESYMBOLS), E_NOTIMPL);
}

TEST(VarBstrCat, JoinsWholeTexts) {
  vkr::Bstr ab(u"ab"), zero(std::u16string_view(u"\0c", 2));
  vkr::Bstr joined;
  ASSERT_EQ(VarBstrCat(ab, zero, joined.Put()), S_OK);
  EXPECT_EQ(joined.View(), std::u16string_view(u"ab\0c", 4));

  vkr::Bstr empty;
  ASSERT_EQ(VarBstrCat(nullptr, nullptr, empty.Put()), S_OK);
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(empty.Length(), 0u);

  EXPECT_EQ(VarBstrCat(ab, ab, nullptr), E_INVALIDARG);

  BSTR untouched = reinterpret_cast<BSTR>(0x1);
  vkr::platform::SetAllocationFault(1);
  EXPECT_EQ(VarBstrCat(ab, ab, &untouched), E_OUTOFMEMORY);
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1));
}

}  // namespace

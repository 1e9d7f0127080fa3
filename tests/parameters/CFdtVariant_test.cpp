// Parameter values: the conversion engine, equality and display text.
#include <gtest/gtest.h>

#include "parameters/CFdtVariant.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

TEST(ChangeVariantType, DecimalToSixtyFourBitIntegers) {
  struct Case {
    const char* what;
    vkr::Variant src;
    VARTYPE vt;
    HRESULT hr;
    LONGLONG value;
  };
  const Case cases[] = {
      {"1.5 has a fraction", Dec(false, 1, 15), VT_I8, DISP_E_OVERFLOW, 0},
      {"-1 to unsigned", Dec(true, 0, 1), VT_UI8, DISP_E_OVERFLOW, 0},
      {"-0 to unsigned is 0", Dec(true, 0, 0), VT_UI8, S_OK, 0},
      {"beyond 64 bits", Dec(false, 0, 1, 1), VT_I8, DISP_E_OVERFLOW, 0},
      {"2^63 does not fit signed", Dec(false, 0, 0x8000000000000000ULL), VT_I8, DISP_E_OVERFLOW, 0},
      {"-2^63 fits signed", Dec(true, 0, 0x8000000000000000ULL), VT_I8, S_OK, INT64_MIN},
      {"-42", Dec(true, 0, 42), VT_I8, S_OK, -42},
      {"2^64-1 unsigned", Dec(false, 0, ~0ULL), VT_UI8, S_OK, -1},
  };
  for (const Case& c : cases) {
    vkr::Variant out = I4(7);
    HRESULT hr = ChangeVariantType(&out, &c.src, c.vt);
    EXPECT_EQ(hr, c.hr) << c.what;
    if (SUCCEEDED(c.hr)) {
      EXPECT_EQ(out.vt, c.vt) << c.what;
      EXPECT_EQ(out.llVal, c.value) << c.what;
    } else {
      EXPECT_EQ(out.vt, VT_I4) << c.what << ": a failed conversion leaves dest alone";
      EXPECT_EQ(out.lVal, 7) << c.what;
    }
  }
}

TEST(ChangeVariantType, SixtyFourBitIntegersToDecimal) {
  vkr::Variant out;
  vkr::Variant minus5 = I8(-5);
  ASSERT_EQ(ChangeVariantType(&out, &minus5, VT_DECIMAL), S_OK);
  EXPECT_EQ(out.vt, VT_DECIMAL);
  EXPECT_EQ(out.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(out.decVal.scale, 0);
  EXPECT_EQ(out.decVal.Lo64, 5u);
  EXPECT_EQ(out.decVal.Hi32, 0u);

  // The extremes survive the way there and back.
  for (LONGLONG v : {LONGLONG{INT64_MIN}, LONGLONG{INT64_MAX}, LONGLONG{0}}) {
    vkr::Variant src = I8(v), dec, back;
    ASSERT_EQ(ChangeVariantType(&dec, &src, VT_DECIMAL), S_OK) << v;
    ASSERT_EQ(ChangeVariantType(&back, &dec, VT_I8), S_OK) << v;
    EXPECT_EQ(back.llVal, v);
  }
  vkr::Variant big = UI8(~0ULL), back;
  ASSERT_EQ(ChangeVariantType(&out, &big, VT_DECIMAL), S_OK);
  ASSERT_EQ(ChangeVariantType(&back, &out, VT_UI8), S_OK);
  EXPECT_EQ(back.ullVal, ~0ULL);
}

TEST(ChangeVariantType, EmptyTextIsZeroOrAnEmptyArray) {
  vkr::Variant empty = Text(u""), nullText = Text(nullptr);
  for (VARTYPE vt : {VT_UI1, VT_I2, VT_R8, VT_BOOL, VT_UI4, VT_DATE}) {
    for (vkr::Variant* src : {&empty, &nullText}) {
      vkr::Variant out;
      ASSERT_EQ(ChangeVariantType(&out, src, vt), S_OK) << vt;
      EXPECT_EQ(out.vt, vt);
      EXPECT_EQ(out.llVal & (vt == VT_UI1 ? 0xFF : vt == VT_I2 || vt == VT_BOOL ? 0xFFFF : ~0LL), 0) << vt;
    }
  }
  vkr::Variant out;
  ASSERT_EQ(ChangeVariantType(&out, &empty, VT_ARRAY | VT_VARIANT), S_OK);
  EXPECT_EQ(out.vt, VT_ARRAY | VT_VARIANT);
  LONG ub = 0;
  SafeArrayGetUBound(out.parray, 1, &ub);
  EXPECT_EQ(ub, -1);
  ASSERT_EQ(ChangeVariantType(&out, &empty, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(out.vt, VT_ARRAY | VT_UI1);
  SafeArrayGetUBound(out.parray, 1, &ub);
  EXPECT_EQ(ub, -1);
}

TEST(ChangeVariantType, ByteArraysAndHexText) {
  vkr::Variant bytes = Bytes({0x0C, 0xAB, 0x00}), text;
  ASSERT_EQ(ChangeVariantType(&text, &bytes, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(text), u"0CAB00");

  vkr::Variant lower = Text(u"0cab00"), back;
  ASSERT_EQ(ChangeVariantType(&back, &lower, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_TRUE(IsVariantEqual(back, bytes));

  for (const char16_t* bad : {u"ABC", u"0G", u"0C AB"}) {
    vkr::Variant src = Text(bad), out = I4(1);
    EXPECT_EQ(ChangeVariantType(&out, &src, VT_ARRAY | VT_UI1), E_INVALIDARG) << Utf8(bad);
    EXPECT_EQ(out.vt, VT_I4);
  }
}

TEST(ChangeVariantType, ArraysToScalarsAndBack) {
  vkr::Variant reals = Array(VT_R8, {R8(2.5), R8(3.5)}), out;
  ASSERT_EQ(ChangeVariantType(&out, &reals, VT_R8), S_OK);
  EXPECT_EQ(out.vt, VT_R8);
  EXPECT_EQ(out.dblVal, 2.5);
  ASSERT_EQ(ChangeVariantType(&out, &reals, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out), u"2.5");
  // The first element of an array with another lower bound.
  vkr::Variant shifted = Array(VT_I4, {I4(9), I4(8)}, 3);
  ASSERT_EQ(ChangeVariantType(&out, &shifted, VT_UI1), S_OK);
  EXPECT_EQ(out.bVal, 9);

  vkr::Variant seven = I4(7);
  ASSERT_EQ(ChangeVariantType(&out, &seven, VT_ARRAY | VT_I2), S_OK);
  ASSERT_EQ(out.vt, VT_ARRAY | VT_I2);
  LONG lb = -1, ub = -1;
  SafeArrayGetLBound(out.parray, 1, &lb);
  SafeArrayGetUBound(out.parray, 1, &ub);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, 0);
  SHORT element = 0;
  LONG zero = 0;
  SafeArrayGetElement(out.parray, &zero, &element);
  EXPECT_EQ(element, 7);

  vkr::Variant nothing;
  ASSERT_EQ(ChangeVariantType(&out, &nothing, VT_ARRAY | VT_I4), S_OK);
  SafeArrayGetUBound(out.parray, 1, &ub);
  EXPECT_EQ(ub, -1);

  // An element that does not fit fails the whole conversion.
  vkr::Variant big = Array(VT_I4, {I4(1), I4(300)});
  vkr::Variant kept = I4(5);
  EXPECT_EQ(ChangeVariantType(&kept, &big, VT_ARRAY | VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(kept.vt, VT_I4);

  // A VARIANT array has no element type of its own to convert from.
  vkr::Variant mixed = Array(VT_VARIANT, {I4(1)});
  EXPECT_EQ(ChangeVariantType(&out, &mixed, VT_I4), DISP_E_BADVARTYPE);
}

TEST(ChangeVariantType, ArrayToArrayKeepsShapeAndBounds) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, -1}};
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  for (LONG i = 1; i <= 2; ++i)
    for (LONG j = -1; j <= 1; ++j) {
      LONG idx[2] = {i, j};
      LONG v = i * 10 + j;
      SafeArrayPutElement(psa, idx, &v);
    }
  vkr::Variant src;
  src.vt = VT_ARRAY | VT_I4;
  src.parray = psa;
  vkr::Variant out;
  ASSERT_EQ(ChangeVariantType(&out, &src, VT_ARRAY | VT_BSTR), S_OK);
  ASSERT_EQ(SafeArrayGetDim(out.parray), 2u);
  LONG lb = 0;
  SafeArrayGetLBound(out.parray, 2, &lb);
  EXPECT_EQ(lb, -1);
  LONG idx[2] = {2, 1};
  BSTR element = nullptr;
  ASSERT_EQ(SafeArrayGetElement(out.parray, idx, &element), S_OK);
  EXPECT_EQ(vkr::View(element), u"21");
  SysFreeString(element);
}

TEST(ChangeVariantType, InPlaceAndRefusals) {
  vkr::Variant v = Text(u"12");
  ASSERT_EQ(ChangeVariantType(&v, &v, VT_UI1), S_OK);
  EXPECT_EQ(v.vt, VT_UI1);
  EXPECT_EQ(v.bVal, 12);

  vkr::Variant minus = I4(-1), out;
  EXPECT_EQ(ChangeVariantType(&out, &minus, VT_UI4), DISP_E_OVERFLOW);
  vkr::Variant word = Text(u"abc");
  EXPECT_EQ(ChangeVariantType(&word, &word, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(TextOf(word), u"abc");
  EXPECT_EQ(ChangeVariantType(nullptr, &word, VT_I4), E_INVALIDARG);
  EXPECT_EQ(ChangeVariantType(&out, nullptr, VT_I4), E_INVALIDARG);
}

TEST(ChangeVariantType, NumbersBecomeDates) {
  vkr::Variant out;
  vkr::Variant real = R8(45000.5);
  ASSERT_EQ(ChangeVariantType(&out, &real, VT_DATE), S_OK);
  EXPECT_EQ(out.vt, VT_DATE);
  EXPECT_EQ(out.date, 45000.5);
  vkr::Variant far = R8(1e12);
  EXPECT_TRUE(FAILED(ChangeVariantType(&out, &far, VT_DATE)));
}

TEST(ConvertVariantElement, BooleansAsText) {
  BSTR text = nullptr;
  VARIANT_BOOL t = VARIANT_TRUE, f = VARIANT_FALSE;
  ASSERT_EQ(ConvertVariantElement(&t, &text, VT_BOOL, VT_BSTR, 0, 0), S_OK);
  EXPECT_EQ(vkr::View(text), u"-1");
  SysFreeString(text);
  ASSERT_EQ(ConvertVariantElement(&f, &text, VT_BOOL, VT_BSTR, 0, 0), S_OK);
  EXPECT_EQ(vkr::View(text), u"0");
  SysFreeString(text);
  ASSERT_EQ(ConvertVariantElement(&t, &text, VT_BOOL, VT_BSTR, 0, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(vkr::View(text), u"True");
  SysFreeString(text);
}

TEST(ConvertVariantElement, PairsWrappingAndRefusals) {
  INT native = -9;
  LONG l = 0;
  EXPECT_EQ(ConvertVariantElement(&native, &l, VT_INT, VT_I4, 0, 0), S_OK);
  EXPECT_EQ(l, -9);

  // Text sources take the locale: a German decimal comma.
  BSTR comma = SysAllocString(u"1,5");
  double d = 0;
  EXPECT_EQ(ConvertVariantElement(&comma, &d, VT_BSTR, VT_R8, 1031, VARIANT_NOUSEROVERRIDE), S_OK);
  EXPECT_EQ(d, 1.5);
  SysFreeString(comma);

  LONG five = 5;
  VARIANT wrapped;
  ASSERT_EQ(ConvertVariantElement(&five, &wrapped, VT_I4, VT_VARIANT, 0, 0), S_OK);
  EXPECT_EQ(wrapped.vt, VT_I4);
  EXPECT_EQ(wrapped.lVal, 5);
  VariantClear(&wrapped);

  LONGLONG big = 1;
  EXPECT_EQ(ConvertVariantElement(&big, &l, VT_I8, VT_I4, 0, 0), DISP_E_BADVARTYPE);
  EXPECT_EQ(ConvertVariantElement(&five, &big, VT_I4, VT_I8, 0, 0), DISP_E_BADVARTYPE);
  EXPECT_EQ(ConvertVariantElement(nullptr, &l, VT_I4, VT_I4, 0, 0), E_INVALIDARG);
}

TEST(IsVariantEqual, ByTypeThenValue) {
  struct Case {
    const char* what;
    vkr::Variant a, b;
    bool equal;
  };
  const Case cases[] = {
      {"I4 5 and UI4 5 differ in type", I4(5), UI4(5), false},
      {"two empties", vkr::Variant(), vkr::Variant(), true},
      {"two nulls", Null(), Null(), true},
      {"null text and empty text", Text(nullptr), Text(u""), true},
      {"texts by case", Text(u"a"), Text(u"A"), false},
      {"same texts", Text(u"Level"), Text(u"Level"), true},
      {"same bytes", Bytes({1, 2}), Bytes({1, 2}), true},
      {"same bytes, other lower bound", Bytes({1, 2}, 0), Bytes({1, 2}, 4), true},
      {"bytes of other length", Bytes({1, 2}), Bytes({1, 2, 3}), false},
      {"other bytes", Bytes({1, 2}), Bytes({1, 3}), false},
      {"reals", R8(0.25), R8(0.25), true},
      {"reals differ", R4(0.25f), R4(0.5f), false},
      {"64-bit", I8(-3), I8(-3), true},
      {"booleans", Bool(true), Bool(true), true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsVariantEqual(c.a, c.b), c.equal) << c.what;
}

TEST(IsVariantEqual, DatesCompareToTheSecond) {
  vkr::Variant a, b, c;
  a.vt = b.vt = c.vt = VT_DATE;
  a.date = 45000.5;
  b.date = 45000.5 + 0.2 / 86400;  // 0.2 s later
  c.date = 45000.5 + 2.0 / 86400;
  EXPECT_TRUE(IsVariantEqual(a, b));
  EXPECT_FALSE(IsVariantEqual(a, c));
}

TEST(IsVariantDifferent, NullsArraysAndTypes) {
  EXPECT_FALSE(IsVariantDifferent(Null(), Null()));
  EXPECT_TRUE(IsVariantDifferent(I4(1), I2(1)));
  EXPECT_FALSE(IsVariantDifferent(R8(2), R8(2)));
  // Arrays do not compare, so even equal ones count as different.
  EXPECT_TRUE(IsVariantDifferent(Bytes({1}), Bytes({1})));
}

TEST(VariantToText, EveryType) {
  struct Case {
    vkr::Variant v;
    const char16_t* text;
  };
  vkr::Variant cy;
  cy.vt = VT_CY;
  cy.cyVal.int64 = 10000;
  vkr::Variant error;
  error.vt = VT_ERROR;
  error.scode = E_FAIL;
  vkr::Variant integer;
  integer.vt = VT_INT;
  integer.intVal = -12;
  const Case cases[] = {
      {vkr::Variant(), u""},
      {Null(), u""},
      {I2(-3), u"-3"},
      {I4(-70000), u"-70000"},
      {integer, u"-12"},
      {R4(0.3f), u"0.300000"},
      {R8(2.5), u"2.500000"},
      {Text(u"Tank"), u"Tank"},
      {Text(nullptr), u""},
      {error, u"0x80004005"},
      {Bool(true), u"True"},
      {I2(1), u"1"},
      {UI1(255), u"255"},
      {UI4(4000000000u), u"4000000000"},
      {I8(INT64_MIN), u"-9223372036854775808"},
      {UI8(~0ULL), u"18446744073709551615"},
      {Bytes({0xDE, 0xAD}), u"DEAD"},
      {cy, u"..."},
  };
  for (const Case& c : cases) {
    BSTR text = nullptr;
    VariantToText(&c.v, &text);
    EXPECT_EQ(vkr::View(text), std::u16string_view(c.text)) << "VARTYPE " << c.v.vt;
    SysFreeString(text);
  }
  // Only VARIANT_TRUE is "True".
  vkr::Variant one;
  one.vt = VT_BOOL;
  one.boolVal = 1;
  BSTR text = nullptr;
  VariantToText(&one, &text);
  EXPECT_EQ(vkr::View(text), u"False");
  SysFreeString(text);
  VariantToText(&one, nullptr);  // nothing to write, nothing happens
}

TEST(IsTypeTextMatch, AlternativesAndBlanks) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool match;
  };
  const Case cases[] = {
      {u"VT_UI1", u"VT_UI1", true},
      {u"VT_UI1", u"VT_UI2", false},
      {u"VT_UI1 | VT_ARRAY", u"VT_ARRAY|VT_UI1", true},
      {u"VT_UI1|VT_ARRAY", u"VT_UI1", false},
      {u"VT_UI1", u"VT_UI1|VT_ARRAY", false},
      {u" VT_R4 ", u"VT_R4", true},
  };
  for (const Case& c : cases) {
    vkr::Bstr a(c.a), b(c.b);
    EXPECT_EQ(IsTypeTextMatch(a, b), c.match) << Utf8(c.a) << " / " << Utf8(c.b);
  }
}

TEST(DoubleAndTextToVariant, ConvertOrClear) {
  vkr::Variant out = Text(u"old");
  EXPECT_TRUE(DoubleToVariant(2.5, VT_I4, &out));
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 2);  // half to even
  EXPECT_FALSE(DoubleToVariant(300.0, VT_UI1, &out));
  EXPECT_EQ(out.vt, VT_EMPTY);

  ASSERT_TRUE(TextToVariant("0A0B", VT_ARRAY | VT_UI1, &out));
  EXPECT_TRUE(IsVariantEqual(out, Bytes({0x0A, 0x0B})));
  ASSERT_TRUE(TextToVariant("", VT_ARRAY | VT_UI1, &out));
  EXPECT_EQ(out.vt, VT_ARRAY | VT_UI1);
  ASSERT_TRUE(TextToVariant("12.5", VT_R4, &out));
  EXPECT_EQ(out.fltVal, 12.5f);
  EXPECT_FALSE(TextToVariant("x", VT_I4, &out));
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST(CFdtVariant, ConstructorsAndFailures) {
  CFdtVariant id(1075u);
  EXPECT_EQ(id.vt, VT_UI4);
  EXPECT_EQ(id.ulVal, 1075u);
  CFdtVariant text(u"Level");
  EXPECT_EQ(TextOf(text), u"Level");
  CFdtVariant copy(text);
  EXPECT_EQ(TextOf(copy), u"Level");
  EXPECT_NE(copy.bstrVal, text.bstrVal);

  vkr::platform::SetAllocationFault(1);
  EXPECT_THROW(CFdtVariant(u"no memory"), vkr::HResultError);
  vkr::platform::SetAllocationFault(0);

  EXPECT_EQ(VariantToLong(Text(u"42")), 42);
  EXPECT_THROW(VariantToLong(Text(u"forty")), vkr::HResultError);
  ULONG u = 0;
  EXPECT_EQ(VariantToULong(&id, &u), S_OK);
  EXPECT_EQ(u, 1075u);
  vkr::Variant minus = I4(-1);
  EXPECT_EQ(VariantToULong(&minus, &u), DISP_E_OVERFLOW);
}

}  // namespace

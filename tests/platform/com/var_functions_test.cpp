// The per-pair conversions: they run on the same core as VariantChangeType, so these tests cover
// their own contracts (signatures, flags, out-parameters) and the pairs the system calls.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/platform.h"

namespace {

std::u16string Take(BSTR s) {
  vkr::Bstr holder;
  holder.Attach(s);
  return holder.Str();
}

TEST(VarFunctions, IntegerPairsCheckTheirRange) {
  SHORT i2 = 7;
  EXPECT_EQ(VarI2FromI4(40000, &i2), DISP_E_OVERFLOW);
  EXPECT_EQ(i2, 7) << "a failure leaves the out-parameter";
  EXPECT_EQ(VarI2FromI4(-32768, &i2), S_OK);
  EXPECT_EQ(i2, -32768);
  BYTE b = 0;
  EXPECT_EQ(VarUI1FromR8(254.5, &b), S_OK);
  EXPECT_EQ(b, 254);
  EXPECT_EQ(VarUI1FromI2(-1, &b), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI1FromBool(VARIANT_TRUE, &b), S_OK);
  EXPECT_EQ(b, 255);
  USHORT us = 9;
  EXPECT_EQ(VarUI2FromBool(VARIANT_TRUE, &us), DISP_E_OVERFLOW);
  EXPECT_EQ(us, 9);
  EXPECT_EQ(VarUI2FromBool(VARIANT_FALSE, &us), S_OK);
  EXPECT_EQ(us, 0);
  ULONG ul = 0;
  EXPECT_EQ(VarUI4FromBool(VARIANT_TRUE, &ul), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI4FromI4(-1, &ul), DISP_E_OVERFLOW);
  LONG l = 0;
  EXPECT_EQ(VarI4FromR4(2.5f, &l), S_OK);
  EXPECT_EQ(l, 2);
  CY cy;
  cy.int64 = 12345;
  EXPECT_EQ(VarI4FromCy(cy, &l), S_OK);
  EXPECT_EQ(l, 1);
  CHAR c = 0;
  EXPECT_EQ(VarI1FromUI1(200, &c), DISP_E_OVERFLOW);
  LONG64 i8 = 0;
  EXPECT_EQ(VarI8FromUI8(std::numeric_limits<ULONG64>::max(), &i8), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI2FromI4(1, nullptr), E_INVALIDARG);
}

TEST(VarFunctions, TextsTakeTheirLocale) {
  FLOAT f = 0;
  EXPECT_EQ(VarR4FromStr(u"1,5", 1031, 0, &f), S_OK);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(VarR4FromStr(u"1,5", 1033, 0, &f), S_OK);
  EXPECT_EQ(f, 15.0f);
  EXPECT_EQ(VarR4FromStr(u"1,5", 1033, LOCALE_NOUSEROVERRIDE, &f), S_OK);
  BYTE b = 9;
  EXPECT_EQ(VarUI1FromStr(u"256", 1033, 0, &b), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI1FromStr(u"x", 1033, 0, &b), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(b, 9);
  EXPECT_EQ(VarUI1FromStr(nullptr, 1033, 0, &b), E_INVALIDARG);
  EXPECT_EQ(VarUI1FromStr(u"1", 1036, 0, &b), E_INVALIDARG);
  DOUBLE d = 0;
  EXPECT_EQ(VarR8FromStr(u" 1e3 ", LOCALE_USER_DEFAULT, 0, &d), S_OK);
  EXPECT_EQ(d, 1000.0);

  BSTR s = nullptr;
  ASSERT_EQ(VarBstrFromR8(1.5, 1031, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"1,5");
  ASSERT_EQ(VarBstrFromR4(0.1f, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"0.1");
  ASSERT_EQ(VarBstrFromR8(1e20, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"1E+20");
  ASSERT_EQ(VarBstrFromI4(-12, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"-12");
}

TEST(VarFunctions, BoolTextsAreWords) {
  BSTR s = nullptr;
  ASSERT_EQ(VarBstrFromBool(VARIANT_TRUE, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"True");
  ASSERT_EQ(VarBstrFromBool(VARIANT_FALSE, 1031, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"False");
  ASSERT_EQ(VarBstrFromBool(VARIANT_TRUE, 1031, VAR_LOCALBOOL, &s), S_OK);
  EXPECT_EQ(Take(s), u"Wahr");
  VARIANT_BOOL b = VARIANT_FALSE;
  EXPECT_EQ(VarBoolFromStr(u"Wahr", 1031, VAR_LOCALBOOL, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(VarBoolFromStr(u"#FALSE#", 1033, 0, &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  EXPECT_EQ(VarBoolFromR8(-0.0, &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  EXPECT_EQ(VarBoolFromI1(3, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
}

TEST(VarFunctions, DatesInTextWithTheirParts) {
  DATE d = 0;
  ASSERT_EQ(VarDateFromStr(u"1/2/2020 3:04:05 PM", 1033, 0, &d), S_OK);
  const DATE time = (15 * 3600 + 4 * 60 + 5) / 86400.0;
  const DATE expected = 43832 + time;
  EXPECT_DOUBLE_EQ(d, expected);
  ASSERT_EQ(VarDateFromStr(u"02.01.2020 15:04:05", 1031, 0, &d), S_OK);
  EXPECT_DOUBLE_EQ(d, expected);
  ASSERT_EQ(VarDateFromStr(u"1/2/2020 3:04:05 PM", 1033, VAR_DATEVALUEONLY, &d), S_OK);
  EXPECT_EQ(d, 43832.0);
  ASSERT_EQ(VarDateFromStr(u"1/2/2020 3:04:05 PM", 1033, VAR_TIMEVALUEONLY, &d), S_OK);
  EXPECT_DOUBLE_EQ(d, time);

  BSTR s = nullptr;
  ASSERT_EQ(VarBstrFromDate(expected, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"1/2/2020 3:04:05 PM");
  ASSERT_EQ(VarBstrFromDate(expected, 1031, VAR_DATEVALUEONLY, &s), S_OK);
  EXPECT_EQ(Take(s), u"02.01.2020");
  ASSERT_EQ(VarBstrFromDate(expected, 1031, VAR_TIMEVALUEONLY, &s), S_OK);
  EXPECT_EQ(Take(s), u"15:04:05");
  ASSERT_EQ(VarBstrFromDate(0, 1033, VAR_DATEVALUEONLY, &s), S_OK);
  EXPECT_EQ(Take(s), u"12/30/1899");
  EXPECT_EQ(VarBstrFromDate(expected, 1033, VAR_CALENDAR_HIJRI, &s), E_NOTIMPL);
  EXPECT_EQ(VarDateFromI4(3000000, &d), DISP_E_OVERFLOW);
}

TEST(VarFunctions, DecimalsAtTheSixtyFourBitEdges) {
  DECIMAL dec{};
  ASSERT_EQ(VarDecFromR8(0.1, &dec), S_OK);
  EXPECT_EQ(dec.Lo64, 1u);
  EXPECT_EQ(dec.scale, 1);
  EXPECT_EQ(dec.wReserved, 0);
  ASSERT_EQ(VarDecFromI8(std::numeric_limits<LONG64>::min(), &dec), S_OK);
  EXPECT_EQ(dec.sign, DECIMAL_NEG);
  EXPECT_EQ(dec.Lo64, 0x8000000000000000ULL);
  LONG64 i8 = 0;
  ASSERT_EQ(VarI8FromDec(&dec, &i8), S_OK);
  EXPECT_EQ(i8, std::numeric_limits<LONG64>::min());
  dec.sign = 0;
  EXPECT_EQ(VarI8FromDec(&dec, &i8), DISP_E_OVERFLOW);
  ULONG64 u8 = 0;
  ASSERT_EQ(VarUI8FromDec(&dec, &u8), S_OK);
  EXPECT_EQ(u8, 0x8000000000000000ULL);
  ASSERT_EQ(VarDecFromUI8(std::numeric_limits<ULONG64>::max(), &dec), S_OK);
  ASSERT_EQ(VarUI8FromDec(&dec, &u8), S_OK);
  EXPECT_EQ(u8, std::numeric_limits<ULONG64>::max());
  dec.Hi32 = 1;
  EXPECT_EQ(VarUI8FromDec(&dec, &u8), DISP_E_OVERFLOW);
  dec.scale = 29;
  EXPECT_EQ(VarUI8FromDec(&dec, &u8), E_INVALIDARG);
  EXPECT_EQ(VarUI8FromDec(nullptr, &u8), E_INVALIDARG);
  ASSERT_EQ(VarDecFromStr(u"-1,25", 1031, 0, &dec), S_OK);
  BSTR s = nullptr;
  ASSERT_EQ(VarBstrFromDec(&dec, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"-1.25");
  CY cy;
  ASSERT_EQ(VarCyFromDec(&dec, &cy), S_OK);
  EXPECT_EQ(cy.int64, -12500);
}

// An object whose Value property is a fixed text.
struct TextObject : IDispatch {
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(u"2,5");
    return S_OK;
  }
};

TEST(VarFunctions, ObjectsGiveTheirValue) {
  TextObject object;
  LONG l = 0;
  ASSERT_EQ(VarI4FromDisp(&object, 1031, &l), S_OK);
  EXPECT_EQ(l, 2);
  BSTR s = nullptr;
  ASSERT_EQ(VarBstrFromDisp(&object, 1033, 0, &s), S_OK);
  EXPECT_EQ(Take(s), u"2,5");
  EXPECT_EQ(VarI4FromDisp(nullptr, 1033, &l), E_INVALIDARG);
}

TEST(VariantTime, ConvertsToAndFromSystemTime) {
  struct Row {
    DATE date;
    WORD year, month, day, hour, minute, second, dayOfWeek;
  };
  const Row rows[] = {
      {2.0, 1900, 1, 1, 0, 0, 0, 1},         {2.5, 1900, 1, 1, 12, 0, 0, 1},
      {3.25, 1900, 1, 2, 6, 0, 0, 2},        {0.0, 1899, 12, 30, 0, 0, 0, 6},
      {-1.25, 1899, 12, 29, 6, 0, 0, 5},     {43831.75, 2020, 1, 1, 18, 0, 0, 3},
      {-657434.0, 100, 1, 1, 0, 0, 0, 5},    {2958465.5, 9999, 12, 31, 12, 0, 0, 5},
      {45351.0, 2024, 2, 29, 0, 0, 0, 4},
  };
  for (const Row& r : rows) {
    SYSTEMTIME st{};
    ASSERT_TRUE(VariantTimeToSystemTime(r.date, &st)) << r.date;
    EXPECT_EQ(st.wYear, r.year) << r.date;
    EXPECT_EQ(st.wMonth, r.month) << r.date;
    EXPECT_EQ(st.wDay, r.day) << r.date;
    EXPECT_EQ(st.wHour, r.hour) << r.date;
    EXPECT_EQ(st.wMinute, r.minute) << r.date;
    EXPECT_EQ(st.wSecond, r.second) << r.date;
    EXPECT_EQ(st.wDayOfWeek, r.dayOfWeek) << r.date;
    EXPECT_EQ(st.wMilliseconds, 0) << r.date;
    DATE back = -1;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &back)) << r.date;
    EXPECT_DOUBLE_EQ(back, r.date);
  }
}

TEST(VariantTime, RoundsToTheSecondAndFixesDays) {
  SYSTEMTIME st{};
  ASSERT_TRUE(VariantTimeToSystemTime(1.0 - 0.4 / 86400, &st));
  EXPECT_EQ(st.wDay, 31);
  EXPECT_EQ(st.wMonth, 12);
  EXPECT_EQ(st.wHour, 0);  // rounded up to the next midnight
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(NAN, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(1.0, nullptr));

  auto date = [](WORD y, WORD m, WORD d, WORD ms = 0) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = m;
    t.wDay = d;
    t.wMilliseconds = ms;
    t.wDayOfWeek = 6;  // ignored
    DATE out = -1;
    return SystemTimeToVariantTime(&t, &out) ? out : -1.0;
  };
  EXPECT_EQ(date(2001, 2, 29), date(2001, 3, 1));
  EXPECT_EQ(date(2001, 2, 0), date(2001, 1, 31));
  EXPECT_EQ(date(2001, 3, 1, 999), date(2001, 3, 1));
  EXPECT_EQ(date(2001, 13, 1), -1.0);
  EXPECT_EQ(date(2001, 0, 1), -1.0);
  EXPECT_EQ(date(2001, 1, 32), -1.0);
  EXPECT_EQ(date(99, 1, 1), -1.0);
  EXPECT_EQ(date(10000, 1, 1), -1.0);
  SYSTEMTIME bad{};
  bad.wYear = 2000;
  bad.wMonth = 1;
  bad.wDay = 1;
  bad.wHour = 24;
  DATE out;
  EXPECT_FALSE(SystemTimeToVariantTime(&bad, &out));
  EXPECT_FALSE(SystemTimeToVariantTime(nullptr, &out));
}

}  // namespace

// Locale number formats and number texts.
#include <gtest/gtest.h>

#include <cstring>

#include "parameters/SNumberFormat.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

SNumberFormat FormatOf(LCID lcid, VARTYPE vt, UINT digits) {
  SNumberFormat f;
  EXPECT_EQ(GetLocaleNumberFormat(&f, lcid), S_OK) << lcid;
  f.vtValue = vt;
  f.nNumDigits = digits;
  return f;
}

std::u16string Formatted(const VARIANT& v, const SNumberFormat& f) {
  BSTR text = nullptr;
  HRESULT hr = FormatNumberText(v, &text, &f);
  std::u16string s = SUCCEEDED(hr) ? std::u16string(vkr::View(text)) : u"<failed>";
  SysFreeString(text);
  return s;
}

TEST(GetLocaleNumberFormat, EnglishAndGerman) {
  SNumberFormat en;
  ASSERT_EQ(GetLocaleNumberFormat(&en, 1033), S_OK);
  EXPECT_STREQ(en.szDecimalSep, ".");
  EXPECT_STREQ(en.szThousandSep, ",");
  EXPECT_EQ(en.nGrouping, 3u);
  EXPECT_EQ(en.nNumDigits, 2u);
  EXPECT_EQ(en.nLeadingZero, 1u);
  EXPECT_EQ(en.nNegativeOrder, 1u);
  EXPECT_EQ(en.nExponentLimit, 1000u);
  EXPECT_EQ(en.bKeepTrailingZeros, 0);
  EXPECT_EQ(en.lcid, 1033u);

  SNumberFormat de;
  ASSERT_EQ(GetLocaleNumberFormat(&de, 1031), S_OK);
  EXPECT_STREQ(de.szDecimalSep, ",");
  EXPECT_STREQ(de.szThousandSep, ".");
}

TEST(GetLocaleNumberFormat, FailuresAreErrors) {
  // An unsupported locale is a failure HRESULT, not the positive Win32 code.
  SNumberFormat f;
  HRESULT hr = GetLocaleNumberFormat(&f, 0x0411);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(GetLocaleNumberFormat(nullptr, 1033), E_INVALIDARG);
}

TEST(FormatNumberText, FloatingPointValues) {
  const SNumberFormat en = FormatOf(1033, VT_R8, 5);
  EXPECT_EQ(Formatted(R8(0.0005), en), u"5.000000e-04");  // below 1/1000: exponent form
  EXPECT_EQ(Formatted(R8(0), en), u"0");                   // no fraction, never exponent form
  EXPECT_EQ(Formatted(R8(0.5), en), u"0.5");
  EXPECT_EQ(Formatted(R8(12.5), en), u"12.5");
  EXPECT_EQ(Formatted(R8(-1234.25), en), u"-1,234.25");
  EXPECT_EQ(Formatted(R8(1.234567), en), u"1.23457");  // rounded to the digits asked
  SNumberFormat keep = en;
  keep.bKeepTrailingZeros = TRUE;
  EXPECT_EQ(Formatted(R8(12.5), keep), u"12.50000");
  SNumberFormat noLimit = en;
  noLimit.nExponentLimit = 0;
  EXPECT_EQ(Formatted(R8(0.0005), noLimit), u"0.0005");

  const SNumberFormat de = FormatOf(1031, VT_R4, 5);
  EXPECT_EQ(Formatted(R4(12.5f), de), u"12,5");
  const SNumberFormat deWhole = FormatOf(1031, VT_R8, 0);
  EXPECT_EQ(Formatted(R8(1000), deWhole), u"1.000");  // no separator: its zeros stay
}

TEST(FormatNumberText, OtherValues) {
  const SNumberFormat en = FormatOf(1033, VT_I4, 2);
  EXPECT_EQ(Formatted(I4(1234567), en), u"1,234,567");
  EXPECT_EQ(Formatted(Bool(true), en), u"true");
  EXPECT_EQ(Formatted(Bool(false), en), u"false");
  EXPECT_EQ(Formatted(Text(u"as is"), en), u"as is");
  EXPECT_EQ(Formatted(vkr::Variant(), en), u"");
  EXPECT_EQ(Formatted(Bytes({1, 2}), en), u"");
  // All 96 bits of a DECIMAL: 2^70.
  EXPECT_EQ(Formatted(Dec(false, 0, 0, 64), en), u"1,180,591,620,717,411,303,424");
  EXPECT_EQ(Formatted(Dec(true, 3, 1500), en), u"-1.5");

  BSTR text = nullptr;
  EXPECT_EQ(FormatNumberText(I4(1), nullptr, &en), E_INVALIDARG);
  EXPECT_EQ(FormatNumberText(I4(1), &text, nullptr), E_INVALIDARG);
  EXPECT_EQ(FormatNumberText(Text(u"x"), &text, &en), S_OK);
  SysFreeString(text);
  vkr::Variant notNumber = Array(VT_VARIANT, {I4(1)});
  EXPECT_TRUE(FAILED(FormatNumberText(notNumber, &text, &en)));
}

}  // namespace

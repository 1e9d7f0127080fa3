// Value texts: rendering by typed formats, the readers, and round trips value -> text -> value for
// every kind of value in both supported locales.
#include "ui/framework/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "parameters/CFdtVariant.h"

namespace vkr::ui {
namespace {

Variant Make(VARTYPE vt, double number) {
  Variant v;
  v.vt = vt;
  switch (vt) {
    case VT_I1: v.cVal = static_cast<CHAR>(number); break;
    case VT_UI1: v.bVal = static_cast<BYTE>(number); break;
    case VT_I2: v.iVal = static_cast<SHORT>(number); break;
    case VT_UI2: v.uiVal = static_cast<USHORT>(number); break;
    case VT_I4: v.lVal = static_cast<LONG>(number); break;
    case VT_UI4: v.ulVal = static_cast<ULONG>(number); break;
    case VT_BOOL: v.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_R4: v.fltVal = static_cast<float>(number); break;
    case VT_R8: v.dblVal = number; break;
    case VT_DATE: v.date = number; break;
    default: break;
  }
  return v;
}

Variant Text(const char16_t* text) {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

Variant Bytes(std::vector<BYTE> bytes) {
  Variant v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
  SafeArrayUnaccessData(v.parray);
  return v;
}

std::string Render(const char* format, const VARIANT& value, const char* separator = ".") {
  SValueLocale locale;
  locale.lcid = 1033;
  locale.decimalSeparator = separator;
  std::string text = "unchanged";
  if (!FormatValueText(ParseValueFormat(format), value, locale, &text)) return "<nothing>";
  return text;
}

// What a field shows for a value: well-formed formats as printf shows them, the rest in the
// value's default form, never more than a field holds.
TEST(ValueText, RendersEveryValueKindWithItsFormat) {
  struct Case {
    const char* format;
    Variant value;
    const char* separator;
    std::string expected;
  } cases[] = {
      {"%.3f", Make(VT_R8, 12.5), ",", "12,500"},
      {"%.3f", Make(VT_R4, 12.5), ".", "12.500"},
      {"%.1f", Make(VT_R8, 3.5), ",,", "3.5"},  // a two-character separator leaves the point
      {"%.0f", Make(VT_R8, 2.5), ",", "2"},
      {"%.2f m", Make(VT_R8, -0.126), ",", "-0,13 m"},
      {"%8.2f|", Make(VT_R8, 3.14159), ".", "    3.14|"},
      {"%-8.1f|", Make(VT_R8, 3.14159), ".", "3.1     |"},
      {"%+08.2f", Make(VT_R8, 3.14159), ".", "+0003.14"},
      {"%e", Make(VT_R8, 1234.5), ".", "1.234500e+03"},
      {"%.3g", Make(VT_R8, 0.000123456), ",", "0,000123"},
      {"%.1f", Make(VT_R8, std::numeric_limits<double>::infinity()), ".", "1.#INF"},
      {"%.1f", Make(VT_R8, -std::numeric_limits<double>::infinity()), ".", "-1.#INF"},
      {"%d", Make(VT_I4, -42), ".", "-42"},
      {"%d", Make(VT_BOOL, 1), ".", "-1"},
      {"%u", Make(VT_I4, -1), ".", "4294967295"},
      {"%u", Make(VT_UI1, 200), ".", "200"},
      {"%04X", Make(VT_UI2, 255), ".", "00FF"},
      {"%#x", Make(VT_UI4, 255), ".", "0xff"},
      {"%o", Make(VT_UI1, 8), ".", "10"},
      {"%5d|", Make(VT_I2, -7), ".", "   -7|"},
      {"%lu", Make(VT_UI4, 4000000000.0), ".", "4000000000"},
      {"%s", Text(u"Tank 1"), ".", "Tank 1"},
      {"%.3s", Text(u"F\u00fcllstand"), ".", "F\xc3\xbcl"},  // precision counts characters
      {"Tag: %s", Text(u"LT-101"), ".", "Tag: LT-101"},
      {"100%% %d", Make(VT_I4, 5), ".", "100% 5"},
      // Conversions that do not fit the value: the value, never what printf would make of it.
      {"%d", Make(VT_R8, 2.6), ".", "3"},
      {"%.1f", Make(VT_I4, 5), ",", "5,0"},
      {"%d", Text(u"abc"), ".", "abc"},
      {"%s", Make(VT_R4, 0.1), ",", "0,1"},
      {"%s", Make(VT_UI4, 7), ".", "7"},
      {"%s %s", Make(VT_I4, 9), ".", "9"},
      {"%n", Make(VT_I4, 9), ".", "9"},
      {"%", Make(VT_I4, 9), ".", "9"},
      {"", Make(VT_I4, 9), ".", "9"},
      {"no number", Make(VT_I4, 9), ".", "no number"},
      {"%999999.999999f", Make(VT_R8, 1.0), ".", std::string(22, ' ') + "1." + std::string(40, '0')},
      // Values of no number kind.
      {"%d", Variant(), ".", ""},
      {"%d", Bytes({0x01, 0xAB}), ".", "01 AB "},
      {"%d", Bytes({}), ".", ""},
      {"%d", Make(VT_CY, 0), ".", "<nothing>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Render(c.format, c.value, c.separator), c.expected) << "format \"" << c.format << "\" vt " << c.value.vt;

  std::string huge = Render("%f", Make(VT_R8, 1e300));
  EXPECT_LE(huge.size(), kMaxValueText);
  EXPECT_DOUBLE_EQ(std::stod(huge), 1e300);
}

// What a user may type, and what it reads as.
TEST(ValueText, ReadsTypedNumbersAndByteStrings) {
  struct FloatCase {
    const char* text;
    const char* format;
    HRESULT hr;
    float value;
  } floats[] = {
      {"1,5", "%.1f", S_OK, 1.5f},
      {"1.5", "%.1f", S_OK, 1.5f},
      {"e2", "%.1f", S_OK, 100.0f},
      {"-e2", "%.1f", S_OK, -100.0f},
      // A field shows its own decimals; the value keeps every digit typed. A whole-number field
      // takes whole numbers.
      {"2.6", "%.0f", S_OK, 2.6f},
      {"0.26", "%.1f", S_OK, 0.26f},
      {"2.71828", "%.3f", S_OK, 2.71828f},
      {"0.984252036", "%.3f", S_OK, 0.984252036f},
      {"1.0004", "%.3f m", S_OK, 1.0004f},
      {"2.6", "%d", S_OK, 3.0f},
      {"2.71828", "%s", S_OK, 2.71828f},
      {" 12.5 m ", "%.1f m", S_OK, 12.5f},
      {"1.#INF", "%.1f", S_OK, std::numeric_limits<float>::infinity()},
      {"-1.#inf", "%.1f", S_OK, -std::numeric_limits<float>::infinity()},
      {"abc", "%.1f", E_FAIL, 0},
      {"", "%.1f", E_FAIL, 0},
      {"1.5abc", "%.1f", E_FAIL, 0},
      {"inf", "%.1f", E_FAIL, 0},
      {"nan", "%.1f", E_FAIL, 0},
      {"0x10", "%.1f", E_FAIL, 0},
      {"1e40", "%.1f", E_FAIL, 0},
      {"1e400", "%.1f", E_FAIL, 0},
      // Too small for a float is zero; below zero it stays below, for a lower limit of 0 to refuse.
      {"4.44744686e-203", "%.3f", S_OK, 0.0f},
      {"1e-400", "%.3f", S_OK, 0.0f},
      {"-4e-203", "%.3f", S_OK, -std::numeric_limits<float>::denorm_min()},
  };
  for (const FloatCase& c : floats) {
    float value = -99;
    EXPECT_EQ(ReadFloatText(c.text, ParseValueFormat(c.format), &value), c.hr) << '"' << c.text << "\" " << c.format;
    if (c.hr == S_OK) {
      EXPECT_EQ(value, c.value) << '"' << c.text << "\" " << c.format;
    }
  }

  struct IntegerCase {
    const char* text;
    const char* format;
    VARTYPE vt;
    HRESULT hr;
    LONGLONG value;
  } integers[] = {
      {"42", "%d", VT_I4, S_OK, 42},
      {" -42 ", "%d", VT_I2, S_OK, -42},
      {"300", "%u", VT_UI1, DISP_E_OVERFLOW, 0},
      {"-1", "%u", VT_UI2, DISP_E_OVERFLOW, 0},
      {"FFFF", "%04X", VT_I2, S_OK, -1},
      {"0x1f", "%x", VT_UI4, S_OK, 31},
      {"4294967295", "%u", VT_I4, S_OK, -1},
      {"2147483648", "%d", VT_I4, DISP_E_OVERFLOW, 0},
      {"12 mA", "%d mA", VT_UI2, S_OK, 12},
      {"12a", "%d", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"", "%d", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"-1", "%d", VT_BOOL, S_OK, -1},
  };
  for (const IntegerCase& c : integers) {
    Variant value;
    EXPECT_EQ(ReadIntegerText(ParseValueFormat(c.format), c.text, c.vt, &value), c.hr) << '"' << c.text << "\" " << c.format;
    if (c.hr != S_OK) continue;
    Variant wide;
    ASSERT_EQ(VariantChangeType(&wide, &value, 0, VT_I8), S_OK);
    EXPECT_EQ(value.vt, c.vt);
    EXPECT_EQ(wide.llVal, c.value) << '"' << c.text << "\" " << c.format;
  }

  LONG choice = 0;
  EXPECT_TRUE(ScanFormattedInteger(ParseValueFormat("%d"), " 3 ", &choice));
  EXPECT_EQ(choice, 3);
  EXPECT_FALSE(ScanFormattedInteger(ParseValueFormat("%s"), "3", &choice));  // only integer conversions
  EXPECT_FALSE(ScanFormattedInteger(ParseValueFormat("%d"), "3 apples", &choice));

  std::vector<BYTE> bytes;
  EXPECT_EQ(HexTextToBytes("0a:1b 2", &bytes), S_OK);
  EXPECT_EQ(bytes, (std::vector<BYTE>{0x0A, 0x1B, 0x20}));
  EXPECT_EQ(HexTextToBytes("0G", &bytes), E_INVALIDARG);
  EXPECT_TRUE(bytes.empty());
}

// value -> text -> value for every kind, in en-US and de-DE: what a field shows reads back as the
// same value.
TEST(ValueText, RoundTripsEveryKindInBothLocales) {
  for (LCID lcid : {1033u, 1031u}) {
    SCOPED_TRACE(lcid);
    SValueLocale locale = SValueLocale::Of(lcid);
    EXPECT_EQ(locale.decimalSeparator, lcid == 1031 ? "," : ".");

    struct FloatCase {
      const char* format;
      float value;
    } floats[] = {{"%.3f", 12.5f}, {"%.3f", -0.125f}, {"%.1f mm", 1500.5f}, {"%.2f", 0.0f}, {"%e", 1234.5f},
                  {"%d", 7.0f},    {"%s", 0.1f},      {"%.1f", std::numeric_limits<float>::infinity()}};
    for (const FloatCase& c : floats) {
      SValueFormat format = ParseValueFormat(c.format);
      std::string text;
      ASSERT_TRUE(FormatValueText(format, Make(VT_R4, c.value), locale, &text));
      if (lcid == 1031 && format.IsFloat() && std::isfinite(c.value)) {
        EXPECT_NE(text.find(','), std::string::npos) << text;
      }
      float back = 0;
      EXPECT_EQ(ReadFloatText(text, format, &back), S_OK) << text;
      EXPECT_EQ(back, c.value) << c.format << " shown as " << text;
    }

    struct IntegerCase {
      const char* format;
      VARTYPE vt;
      double value;
    } integers[] = {{"%d", VT_I4, -123456}, {"%u", VT_UI4, 4000000000.0}, {"%04X", VT_UI2, 0xBEEF}, {"%o", VT_UI1, 200},
                    {"%d", VT_I1, -128},    {"%u", VT_I2, -2},            {"%d", VT_BOOL, 1},        {"%d %%", VT_UI1, 55}};
    for (const IntegerCase& c : integers) {
      SValueFormat format = ParseValueFormat(c.format);
      Variant value = Make(c.vt, c.value);
      std::string text;
      ASSERT_TRUE(FormatValueText(format, value, locale, &text));
      Variant back;
      EXPECT_EQ(ReadIntegerText(format, text, c.vt, &back), S_OK) << text;
      EXPECT_TRUE(IsVariantEqual(back, value)) << c.format << " shown as " << text;
    }

    // Dates: the locale's own form, and back to the same second.
    for (double date : {45000.0, 45000.5, 36526.25}) {
      std::string text;
      ASSERT_EQ(DateToText(date, lcid, &text), S_OK);
      DATE back = 0;
      EXPECT_EQ(TextToDate(text, lcid, &back), S_OK) << text;
      EXPECT_NEAR(back, date, 1.0 / 86400) << text;
    }
    std::string christmas;
    DateToText(46016.0, lcid, &christmas);  // 2025-12-25
    EXPECT_EQ(christmas, lcid == 1031 ? "25.12.2025" : "12/25/2025");
  }

  // Byte strings and bit sets do not depend on the locale.
  for (const std::vector<BYTE>& bytes : {std::vector<BYTE>{}, std::vector<BYTE>{0x00, 0xFF, 0x7E}, std::vector<BYTE>(120, 0x5A)}) {
    std::vector<BYTE> back{0x11};
    EXPECT_EQ(HexTextToBytes(BytesToHexText(bytes.data(), bytes.size()), &back), S_OK);
    EXPECT_EQ(back, bytes);
  }
  std::vector<SChoice> choices = {{0, "None"}, {1, "High"}, {2, "Very High"}, {4, "Low"}, {8, "LowLow"}, {6, "Both"}};
  for (ULONG value : {0u, 1u, 2u, 3u, 4u, 8u, 12u, 15u}) {
    std::string text = BitSetText(choices, value);
    EXPECT_EQ(BitSetFromText(choices, text), value) << text;
  }
  EXPECT_EQ(BitSetText(choices, 5), "High | Low");
  // Free text without separators still names every label it holds.
  EXPECT_EQ(BitSetFromText(choices, "High and Low"), 5u);
}

}  // namespace
}  // namespace vkr::ui

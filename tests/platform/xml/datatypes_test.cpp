// XDR data types: which texts each type accepts, and the typed values and texts it converts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "platform/xml/datatypes.h"

namespace vkr::xml {
namespace {

TEST(DataTypes, AcceptAndRefuseTexts) {
  struct Case {
    const char16_t* type;
    const char16_t* text;
    bool valid;
  } cases[] = {
      {u"string", u" any <thing> ", true},
      {u"int", u"-2147483648", true},      {u"int", u"2147483648", false},   {u"int", u"1.0", false},
      {u"int", u" 42 ", true},             {u"int", u"", false},             {u"int", u"+7", true},
      {u"i1", u"-128", true},              {u"i1", u"128", false},           {u"i2", u"-32769", false},
      {u"i8", u"-9223372036854775808", true}, {u"i8", u"9223372036854775808", false},
      {u"ui1", u"255", true},              {u"ui1", u"256", false},          {u"ui1", u"-1", false},
      {u"ui2", u"65535", true},            {u"ui4", u"4294967295", true},    {u"ui4", u"4294967296", false},
      {u"ui8", u"18446744073709551615", true}, {u"ui8", u"18446744073709551616", false},
      {u"ui4", u"-0", true},
      {u"r8", u"-1.5e10", true},           {u"r8", u"1,5", false},           {u"r8", u"1e999", false},
      {u"float", u".5", true},             {u"float", u"abc", false},        {u"r4", u"1e39", false},
      {u"number", u"12.5E-3", true},       {u"number", u"12.", true},        {u"number", u"e5", false},
      {u"fixed.14.4", u"12345678901234.1234", true}, {u"fixed.14.4", u"123456789012345", false},
      {u"fixed.14.4", u"1.12345", false},
      {u"boolean", u"0", true},            {u"boolean", u"1", true},         {u"boolean", u"true", false},
      {u"date", u"2024-02-29", true},      {u"date", u"2023-02-29", false},  {u"date", u"2024-13-01", false},
      {u"dateTime", u"2024-01-02T03:04:05", true}, {u"dateTime", u"2024-01-02T03:04:05.123456789", true},
      {u"dateTime", u"2024-01-02", true},  {u"dateTime", u"2024-01-02T25:00", false},
      {u"dateTime", u"2024-01-02T03:04:05Z", false}, {u"dateTime.tz", u"2024-01-02T03:04:05+01:00", true},
      {u"time", u"23:59:59", true},        {u"time", u"24:00", false},       {u"time.tz", u"12:00Z", true},
      {u"uuid", u"036D1498-387B-11D4-86E1-00E0987270B9", true}, {u"uuid", u"036D1498-387B", false},
      {u"uuid", u"036D1498387B11D486E100E0987270B9", true}, {u"uuid", u"036d1498387b11d4-86e1-00e0987270b9", true},
      {u"uuid", u"{036D1498-387B-11D4-86E1-00E0987270B9}", true}, {u"uuid", u" 036D1498387B11D486E100E0987270B9 ", true},
      {u"uuid", u"036D1498387B11D486E100E0987270B", false}, {u"uuid", u"036D1498387B11D486E100E0987270B9A", false},
      {u"uuid", u"-036D1498387B11D486E100E0987270B9", false}, {u"uuid", u"036D1498387B11D486E100E0987270BG", false},
      {u"bin.hex", u"00aaFF", true},       {u"bin.hex", u"abc", false},      {u"bin.hex", u"zz", false},
      {u"bin.base64", u"AAEC", true},      {u"bin.base64", u"AAE=", true},   {u"bin.base64", u"AA=E", false},
      {u"bin.base64", u"A", false},
      {u"char", u"x", true},               {u"char", u"xy", false},
      {u"id", u"a1", true},                {u"id", u"1a", false},            {u"idrefs", u"a b c", true},
      {u"nmtoken", u"1-a.b", true},        {u"nmtoken", u"a b", false},      {u"nmtokens", u"1 2", true},
  };
  for (const auto& c : cases) {
    DataType t = DataTypeFromName(c.type);
    ASSERT_NE(t, DataType::None) << Utf16ToUtf8(c.type);
    EXPECT_EQ(CheckValue(t, c.text, nullptr), c.valid) << Utf16ToUtf8(c.type) << " '" << Utf16ToUtf8(c.text) << "'";
  }
  EXPECT_EQ(DataTypeFromName(u"integer"), DataType::None);
  std::vector<std::u16string> values{u"red", u"green"};
  EXPECT_TRUE(CheckValue(DataType::Enumeration, u"green", &values));
  EXPECT_FALSE(CheckValue(DataType::Enumeration, u"blue", &values));
}

TEST(DataTypes, TypedValuesHaveTheirVariantTypes) {
  struct Case {
    DataType type;
    const char16_t* text;
    VARTYPE vt;
  } cases[] = {
      {DataType::String, u"x", VT_BSTR},   {DataType::Number, u"1.5", VT_BSTR}, {DataType::Int, u"1", VT_I4},
      {DataType::I1, u"1", VT_I1},         {DataType::I2, u"1", VT_I2},         {DataType::I4, u"1", VT_I4},
      {DataType::I8, u"1", VT_I8},         {DataType::UI1, u"1", VT_UI1},       {DataType::UI2, u"1", VT_UI2},
      {DataType::UI4, u"1", VT_UI4},       {DataType::UI8, u"1", VT_UI8},       {DataType::R4, u"1", VT_R4},
      {DataType::R8, u"1", VT_R8},         {DataType::Float, u"1", VT_R8},      {DataType::Fixed14_4, u"1", VT_CY},
      {DataType::Boolean, u"1", VT_BOOL},  {DataType::Date, u"2000-01-01", VT_DATE},
      {DataType::Time, u"12:00", VT_DATE}, {DataType::Uuid, u"036D1498-387B-11D4-86E1-00E0987270B9", VT_BSTR},
      {DataType::BinHex, u"00", VT_ARRAY | VT_UI1}, {DataType::BinBase64, u"AA==", VT_ARRAY | VT_UI1},
      {DataType::Char, u"A", VT_UI2},
  };
  for (const auto& c : cases) {
    vkr::Variant v;
    ASSERT_EQ(TypedValue(c.type, c.text, v.Put()), S_OK) << Utf16ToUtf8(DataTypeName(c.type));
    EXPECT_EQ(v.vt, c.vt) << Utf16ToUtf8(DataTypeName(c.type));
  }
  vkr::Variant v;
  EXPECT_EQ(TypedValue(DataType::Int, u"x", v.Put()), XML_E_BAD_VALUE);
  ASSERT_EQ(TypedValue(DataType::Fixed14_4, u"-12.3456", v.Put()), S_OK);
  EXPECT_EQ(v.cyVal.int64, -123456);
  ASSERT_EQ(TypedValue(DataType::Date, u"1899-12-30", v.Put()), S_OK);
  EXPECT_EQ(v.date, 0.0);
  ASSERT_EQ(TypedValue(DataType::DateTime, u"1899-12-29T06:00:00", v.Put()), S_OK);
  EXPECT_EQ(v.date, -1.25) << "before the epoch the time counts away from zero";
  ASSERT_EQ(TypedValue(DataType::BinBase64, u"AQID", v.Put()), S_OK);
  LONG ub = 0;
  SafeArrayGetUBound(v.parray, 1, &ub);
  EXPECT_EQ(ub, 2);
}

TEST(DataTypes, TextsForVariants) {
  auto text = [](DataType t, VARIANT v) {
    std::u16string out;
    HRESULT hr = TextFromVariant(t, v, &out);
    return hr == S_OK ? Utf16ToUtf8(out) : "hr=" + std::to_string(hr);
  };
  VARIANT v;
  v.vt = VT_R8;
  v.dblVal = 0.1;
  EXPECT_EQ(text(DataType::R8, v), "0.1");
  EXPECT_EQ(text(DataType::Int, v), "hr=" + std::to_string(XML_E_BAD_VALUE));
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_EQ(text(DataType::Boolean, v), "1");
  EXPECT_EQ(text(DataType::None, v), "True");
  v.vt = VT_CY;
  v.cyVal.int64 = -15000;
  EXPECT_EQ(text(DataType::Fixed14_4, v), "-1.5");
  v.vt = VT_DATE;
  v.date = 45351.5;
  EXPECT_EQ(text(DataType::DateTime, v), "2024-02-29T12:00:00");
  EXPECT_EQ(text(DataType::Date, v), "2024-02-29");
  EXPECT_EQ(text(DataType::Time, v), "12:00:00");
  v.vt = VT_UI4;
  v.ulVal = 300;
  EXPECT_EQ(text(DataType::UI1, v), "hr=" + std::to_string(XML_E_BAD_VALUE));
  EXPECT_EQ(text(DataType::UI2, v), "300");
  v.vt = VT_UNKNOWN;
  v.punkVal = nullptr;
  EXPECT_EQ(text(DataType::String, v), "hr=" + std::to_string(DISP_E_TYPEMISMATCH));
  BYTE bytes[] = {0x01, 0xAB, 0xFF};
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 3);
  void* data;
  SafeArrayAccessData(sa, &data);
  std::memcpy(data, bytes, 3);
  SafeArrayUnaccessData(sa);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = sa;
  EXPECT_EQ(text(DataType::BinHex, v), "01abff");
  EXPECT_EQ(text(DataType::BinBase64, v), "Aav/");
  SafeArrayDestroy(sa);
}

}  // namespace
}  // namespace vkr::xml

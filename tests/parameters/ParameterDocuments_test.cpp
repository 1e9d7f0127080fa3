// The helpers of the parameter documents: splitting names at separators, the FDT variant element
// and its reader, the data-type words and the state texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/ParameterDocuments.h"
#include "tests/support/variant_values.h"
#include "xml/XmlHelpers.h"

using namespace vkr::test;

namespace {

// The components a repeated split gives, "|"-joined, and the last noSeparator.
std::string Walk(const char16_t* path) {
  BSTR text = SysAllocString(path);
  BSTR head = nullptr;
  std::string out;
  for (int guard = 0; guard < 100; ++guard) {
    BOOL last = FALSE;
    EXPECT_EQ(SplitNameAtSeparator(&text, kNameSeparators, &head, &last), S_OK);
    if (guard > 0) out += '|';
    out += vkr::Utf16ToUtf8(vkr::View(head));
    if (last) break;
  }
  EXPECT_EQ(SysStringLen(text), 0u) << "the text is used up";
  SysFreeString(text);
  SysFreeString(head);
  return out;
}

TEST(SplitNameAtSeparator, WalksAPathComponentByComponent) {
  const struct {
    const char16_t* path;
    const char* parts;
  } cases[] = {
      {u"Outer.Inner", "Outer|Inner"}, {u"A", "A"},           {u"A.", "A"},
      {u"A..B", "A||B"},               {u".A", "|A"},         {u"a b,c:d;e/f", "a|b|c|d|e|f"},
      {u"Ärger/Größe", "Ärger|Größe"},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.path), c.parts) << vkr::Utf16ToUtf8(c.path);
}

TEST(SplitNameAtSeparator, OneSplitGivesHeadRestAndFlag) {
  BSTR text = SysAllocString(u"/rest/more");
  BSTR head = SysAllocString(u"old");
  BOOL none = TRUE;
  ASSERT_EQ(SplitNameAtSeparator(&text, kNameSeparators, &head, &none), S_OK);
  EXPECT_EQ(vkr::View(head), u"") << "a leading separator gives an empty head";
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(vkr::View(text), u"rest/more");
  EXPECT_EQ(none, FALSE);
  SysFreeString(text);
  SysFreeString(head);

  text = SysAllocString(u"whole");
  head = nullptr;
  ASSERT_EQ(SplitNameAtSeparator(&text, kNameSeparators, &head, &none), S_OK);
  EXPECT_EQ(vkr::View(head), u"whole");
  EXPECT_EQ(SysStringLen(text), 0u);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(none, TRUE);
  SysFreeString(text);
  SysFreeString(head);
}

TEST(SplitNameAtSeparator, LeavesEverythingWithoutSomethingToSplit) {
  BSTR head = SysAllocString(u"keep");
  BOOL none = FALSE;
  BSTR empty = SysAllocString(u"");
  BSTR null = nullptr;
  BSTR text = SysAllocString(u"a.b");
  for (BSTR* t : {&empty, &null}) {
    none = FALSE;
    EXPECT_EQ(SplitNameAtSeparator(t, kNameSeparators, &head, &none), S_OK);
    EXPECT_EQ(none, TRUE);
    EXPECT_EQ(vkr::View(head), u"keep");
  }
  none = FALSE;
  EXPECT_EQ(SplitNameAtSeparator(&text, u"", &head, &none), S_OK);
  EXPECT_EQ(vkr::View(text), u"a.b");
  EXPECT_EQ(none, TRUE);
  EXPECT_EQ(SplitNameAtSeparator(nullptr, kNameSeparators, &head, &none), E_POINTER);
  EXPECT_EQ(SplitNameAtSeparator(&text, kNameSeparators, nullptr, &none), E_POINTER);
  EXPECT_EQ(SplitNameAtSeparator(&text, kNameSeparators, &head, nullptr), E_POINTER);
  SysFreeString(head);
  SysFreeString(empty);
  SysFreeString(text);
}

TEST(DataTypeToVarType, KnowsTheEightWordsExactly) {
  const struct {
    const char16_t* word;
    bool known;
    VARTYPE vt;
  } cases[] = {
      {u"byte", true, VT_UI1},     {u"float", true, VT_R4},        {u"double", true, VT_R8},
      {u"int", true, VT_I4},       {u"unsigned", true, VT_UI4},    {u"ascii", true, VT_BSTR},
      {u"hexString", true, VT_ARRAY | VT_UI1}, {u"dateAndTime", true, VT_DATE},
      {u"Byte", false, 0},         {u"int ", false, 0},            {u"", false, 0},
  };
  for (const auto& c : cases) {
    VARTYPE vt = VT_EMPTY;
    vkr::Bstr word(c.word);
    EXPECT_EQ(DataTypeToVarType(word.Get(), &vt), c.known) << vkr::Utf16ToUtf8(c.word);
    if (c.known) {
      EXPECT_EQ(vt, c.vt) << vkr::Utf16ToUtf8(c.word);
    }
  }
  EXPECT_FALSE(DataTypeToVarType(nullptr, nullptr));
}

class FdtVariantXml : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override {
    vkr::platform::SetUserDefaultLocale(1033);
    vkr::platform::SetSystemDefaultLocale(1033);
    CoUninitialize();
  }
  static std::string Write(const VARIANT& v) {
    vkr::Bstr xml;
    HRESULT hr = WriteFdtVariantXml(&v, xml.Put());
    if (hr != S_OK) return "hr " + std::to_string(hr);
    return vkr::Utf16ToUtf8(xml.View());
  }
  // Parses the element and reads it back.
  static HRESULT Read(std::u16string_view xml, vkr::Variant* out) {
    vkr::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    vkr::Bstr text(xml);
    EXPECT_EQ(LoadXmlFromString(text.Get(), doc.Put(), &loaded), S_OK);
    if (!loaded) return E_UNEXPECTED;
    vkr::ComPtr<IXMLDOMElement> root;
    doc->get_documentElement(root.Put());
    vkr::ComPtr<IXMLDOMNode> node;
    root->QueryInterface(IXMLDOMNode::iid, node.PutVoid());
    return ReadFdtVariantXml(node.Get(), out);
  }
};

TEST_F(FdtVariantXml, WritesEachTypeWithItsWord) {
  const std::string head = "<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"";
  const struct {
    vkr::Variant value;
    std::string rest;
  } cases[] = {
      {I2(-3), "int\"> <fdt:NumberData number=\"-3\" /></fdt:Variant>"},
      {Bool(true), "int\"> <fdt:NumberData number=\"-1\" /></fdt:Variant>"},
      {R4(1.5f), "float\"> <fdt:NumberData number=\"1.5\" /></fdt:Variant>"},
      {R8(-0.25), "double\"> <fdt:NumberData number=\"-0.25\" /></fdt:Variant>"},
      {UI1(200), "byte\"> <fdt:NumberData number=\"200\" /></fdt:Variant>"},
      {UI4(4000000000u), "unsigned\"> <fdt:NumberData number=\"4000000000\" /></fdt:Variant>"},
      {Text(u"a<\"b\"&"), "ascii\"> <fdt:StringData string=\"a&lt;&quot;b&quot;&amp;\" /></fdt:Variant>"},
      {Bytes({0x01, 0xAB}), "hexString\"> <fdt:StringData string=\"01AB\" /></fdt:Variant>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Write(c.value), head + c.rest) << c.rest;
  EXPECT_EQ(Write(vkr::Variant()), "hr 1") << "VT_EMPTY has no variant form";
  EXPECT_EQ(Write(I8(5)), "hr 1");
  EXPECT_EQ(WriteFdtVariantXml(nullptr, nullptr), E_POINTER);
}

TEST_F(FdtVariantXml, ADecimalCommaLocaleStillWritesAPointAndReadsBack) {
  vkr::platform::SetUserDefaultLocale(1031);
  vkr::platform::SetSystemDefaultLocale(1031);
  const std::string xml = Write(R4(1.5f));
  EXPECT_NE(xml.find("number=\"1.5\""), std::string::npos) << xml;
  vkr::Variant back;
  ASSERT_EQ(Read(vkr::Utf8ToUtf16(xml), &back), S_OK);
  ASSERT_EQ(back.vt, VT_R4);
  EXPECT_FLOAT_EQ(back.fltVal, 1.5f);
}

TEST_F(FdtVariantXml, EveryWrittenValueReadsBack) {
  const vkr::Variant values[] = {I4(-70000), R8(3.25), UI1(7), UI4(12), Text(u"x & <y>"), Bytes({0, 0xFF}),
                                 Bytes({})};
  for (const vkr::Variant& v : values) {
    const std::string xml = Write(v);
    vkr::Variant back;
    ASSERT_EQ(Read(vkr::Utf8ToUtf16(xml), &back), S_OK) << xml;
    EXPECT_TRUE(IsVariantEqual(v, back) || (v.vt == VT_UI4 && back.vt == VT_UI4 && v.ulVal == back.ulVal)) << xml;
  }
}

TEST_F(FdtVariantXml, TheReaderRefusesWhatItCannotRead) {
  const std::u16string ns = u" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"";
  const struct {
    std::u16string xml;
    HRESULT expected;
  } cases[] = {
      {u"<fdt:Variant" + ns + u"><fdt:NumberData number=\"1\"/></fdt:Variant>", E_FAIL},  // no dataType
      {u"<fdt:Variant" + ns + u" dataType=\"Int\"><fdt:NumberData number=\"1\"/></fdt:Variant>", S_FALSE},
      {u"<fdt:Variant" + ns + u" dataType=\"int\"><fdt:StringData string=\"1\"/></fdt:Variant>", E_FAIL},
      {u"<fdt:Variant" + ns + u" dataType=\"hexString\"><fdt:StringData string=\"ABC\"/></fdt:Variant>",
       E_INVALIDARG},
      {u"<fdt:Variant" + ns + u" dataType=\"hexString\"><fdt:StringData string=\"ZZ\"/></fdt:Variant>", E_INVALIDARG},
      {u"<fdt:Variant" + ns + u" dataType=\"hexString\"/>", E_FAIL},
  };
  for (const auto& c : cases) {
    vkr::Variant out = I4(99);
    EXPECT_EQ(Read(c.xml, &out), c.expected) << vkr::Utf16ToUtf8(c.xml);
    EXPECT_EQ(out.vt, VT_I4) << "untouched: " << vkr::Utf16ToUtf8(c.xml);
  }
  vkr::Variant out;
  EXPECT_EQ(ReadFdtVariantXml(nullptr, &out), E_INVALIDARG);
  // A number that does not convert is refused with the conversion's failure.
  vkr::Variant bad = I4(99);
  EXPECT_TRUE(FAILED(
      Read(u"<fdt:Variant" + ns + u" dataType=\"byte\"><fdt:NumberData number=\"300\"/></fdt:Variant>", &bad)));
  EXPECT_EQ(bad.vt, VT_I4);
}

TEST(StateTexts, NameEveryStateAndNothingElse) {
  EXPECT_EQ(std::u16string(StorageStateText(0)), u"persistent");
  EXPECT_EQ(std::u16string(StorageStateText(1)), u"transient");
  EXPECT_EQ(StorageStateText(2), nullptr);
  const char16_t* expected[] = {u"default", u"validModified", u"invalidModified", u"allDataLoaded"};
  for (ULONG i = 0; i < 4; ++i) EXPECT_EQ(std::u16string(DataSetStateText(i)), expected[i]);
  EXPECT_EQ(DataSetStateText(4), nullptr);
}

}  // namespace

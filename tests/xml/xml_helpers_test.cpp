// DOM and XPath helpers: typed reads, searches, element and attribute writing, escaping, string
// loading and fragments.
#include "xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vkr::Bstr;
using vkr::ComPtr;
using vkr::Variant;

class XmlHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }

  ComPtr<IXMLDOMDocument2> Load(const char16_t* text) {
    ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(LoadXmlFromString(Bstr(text), doc.Put(), &loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE) << vkr::Utf16ToUtf8(text);
    return doc;
  }
  static ComPtr<IXMLDOMNode> Node(IXMLDOMNode* context, const char16_t* path) {
    ComPtr<IXMLDOMNode> node;
    context->selectSingleNode(Bstr(path), node.Put());
    return node;
  }
  static std::u16string Xml(IXMLDOMNode* node) {
    Bstr xml;
    node->get_xml(xml.Put());
    return xml.Str();
  }
  // The element names of the children of node, in order.
  static std::vector<std::u16string> ChildNames(IXMLDOMNode* node) {
    std::vector<std::u16string> names;
    ComPtr<IXMLDOMNode> child;
    node->get_firstChild(child.Put());
    while (child) {
      Bstr name;
      child->get_nodeName(name.Put());
      names.push_back(name.Str());
      ComPtr<IXMLDOMNode> next;
      child->get_nextSibling(next.Put());
      child = next;
    }
    return names;
  }
};

constexpr char16_t kDocument[] =
    u"<FDT xmlns=\"x-schema:DTMParameterSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" tag=\"top\">"
    u"<DtmDevice fdt:id=\"12\" small=\"200\" big=\"300\" neg=\"-5\" empty=\"\" flag=\"true\" one=\"1\" zero=\"0\""
    u" word=\"abc\" real=\"1.5\" comma=\"1,5\" hex=\"0A0B\">"
    u"<Name>Level<b>meter</b></Name>"
    u"<Inner tag=\"inner\"><Deep><Deepest/></Deep></Inner>"
    u"</DtmDevice></FDT>";

TEST_F(XmlHelpersTest, TypedReadsConvertAttributeValues) {
  auto doc = Load(kDocument);
  auto device = Node(doc.Get(), u"FDT/DtmDevice");
  ASSERT_TRUE(device);

  ULONG u4 = 99;
  EXPECT_EQ(GetXmlValueUI4(&u4, device.Get(), Bstr(u"@fdt:id")), S_OK);
  EXPECT_EQ(u4, 12u);
  LONG i4 = 99;
  EXPECT_EQ(GetXmlValueI4(&i4, device.Get(), Bstr(u"@neg")), S_OK);
  EXPECT_EQ(i4, -5);
  BYTE u1 = 9;
  EXPECT_EQ(GetXmlValueUI1(&u1, device.Get(), Bstr(u"@small")), S_OK);
  EXPECT_EQ(u1, 200);
  // An empty text is 0 for number types.
  EXPECT_EQ(GetXmlValueUI4(&u4, device.Get(), Bstr(u"@empty")), S_OK);
  EXPECT_EQ(u4, 0u);
  for (const auto& [path, expected] : {std::pair{u"@flag", true}, {u"@one", true}, {u"@zero", false}}) {
    bool b = !expected;
    EXPECT_EQ(GetXmlValueBool(&b, device.Get(), Bstr(path)), S_OK) << vkr::Utf16ToUtf8(path);
    EXPECT_EQ(b, expected) << vkr::Utf16ToUtf8(path);
  }
  Bstr text;
  EXPECT_EQ(GetXmlValueBstr(text.Put(), device.Get(), Bstr(u"Inner/@tag")), S_OK);
  EXPECT_EQ(text.View(), u"inner");

  Variant bytes;
  ASSERT_EQ(GetXmlValue(device.Get(), Bstr(u"@hex"), &bytes, VT_ARRAY | VT_UI1), S_OK);
  ASSERT_EQ(bytes.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(bytes.parray->rgsabound[0].cElements, 2u);
}

TEST_F(XmlHelpersTest, FailedReadsLeaveTheValueAlone) {
  auto doc = Load(kDocument);
  auto device = Node(doc.Get(), u"FDT/DtmDevice");
  const struct {
    const char16_t* path;
    HRESULT expected;
  } cases[] = {
      {u"@missing", E_FAIL},
      {u"@word", DISP_E_TYPEMISMATCH},
      {u"@big", DISP_E_OVERFLOW},  // 300 does not fit a byte
      {u"@neg", DISP_E_OVERFLOW},  // a negative byte
  };
  for (const auto& c : cases) {
    BYTE u1 = 7;
    EXPECT_EQ(GetXmlValueUI1(&u1, device.Get(), Bstr(c.path)), c.expected) << vkr::Utf16ToUtf8(c.path);
    EXPECT_EQ(u1, 7) << vkr::Utf16ToUtf8(c.path);
  }
  ULONG u4 = 7;
  EXPECT_EQ(GetXmlValueUI4(&u4, nullptr, Bstr(u"@fdt:id")), E_FAIL);
  EXPECT_EQ(GetXmlValueUI4(&u4, device.Get(), Bstr(u"")), E_FAIL);
  EXPECT_EQ(GetXmlValueUI4(nullptr, device.Get(), Bstr(u"@fdt:id")), E_POINTER);
  EXPECT_EQ(u4, 7u);

  Variant v;
  EXPECT_EQ(GetXmlValue(nullptr, Bstr(u"@a"), &v, VT_I4), E_POINTER);
  EXPECT_EQ(GetXmlValue(device.Get(), Bstr(u"@a"), nullptr, VT_I4), E_POINTER);
  EXPECT_EQ(GetXmlValue(device.Get(), nullptr, &v, VT_I4), E_INVALIDARG);
  EXPECT_EQ(GetXmlValue(device.Get(), Bstr(u"@missing"), &v, VT_I4), E_FAIL);
}

TEST_F(XmlHelpersTest, ElementPathGivesNoValueButSelectNodeTextGivesItsText) {
  auto doc = Load(kDocument);
  auto device = Node(doc.Get(), u"FDT/DtmDevice");
  Bstr text(u"unchanged");
  EXPECT_TRUE(FAILED(GetXmlValueBstr(text.Put(), device.Get(), Bstr(u"Name")))) << "an element has no nodeValue";
  ASSERT_EQ(SelectNodeText(device.Get(), Bstr(u"Name"), text.Put()), S_OK);
  EXPECT_EQ(text.View(), u"Levelmeter");
  ASSERT_EQ(SelectNodeXml(device.Get(), Bstr(u"Name/b"), text.Put()), S_OK);
  EXPECT_TRUE(text.View().starts_with(u"<b") && text.View().ends_with(u">meter</b>")) << vkr::Utf16ToUtf8(text.View());
  EXPECT_EQ(SelectNodeText(device.Get(), Bstr(u"Nothing"), text.Put()), E_FAIL);
  EXPECT_EQ(SelectNodeText(device.Get(), Bstr(u""), text.Put()), E_INVALIDARG);
  EXPECT_EQ(SelectNodeText(nullptr, Bstr(u"Name"), text.Put()), E_POINTER);
  EXPECT_EQ(SelectNodeXml(device.Get(), Bstr(u"Name"), nullptr), E_POINTER);
  // A path the selector cannot parse is refused, not treated as "nothing found".
  EXPECT_TRUE(FAILED(SelectNodeText(device.Get(), Bstr(u"Name[@"), text.Put())));
}

TEST_F(XmlHelpersTest, RealsReadWithEitherSeparatorInEitherLocale) {
  auto doc = Load(kDocument);
  auto device = Node(doc.Get(), u"FDT/DtmDevice");
  for (LCID locale : {1033u, 1031u}) {
    ASSERT_TRUE(vkr::platform::SetSystemDefaultLocale(locale));
    ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(locale));
    for (const char16_t* path : {u"@real", u"@comma"}) {
      Variant v;
      ASSERT_EQ(GetXmlValue(device.Get(), Bstr(path), &v, VT_R8), S_OK) << locale << vkr::Utf16ToUtf8(path);
      EXPECT_EQ(v.vt, VT_R8);
      EXPECT_DOUBLE_EQ(v.dblVal, 1.5) << locale << vkr::Utf16ToUtf8(path);
      ASSERT_EQ(GetXmlValue(device.Get(), Bstr(path), &v, VT_R4), S_OK);
      EXPECT_FLOAT_EQ(v.fltVal, 1.5f);
    }
  }
  vkr::platform::SetSystemDefaultLocale(1033);
  vkr::platform::SetUserDefaultLocale(1033);
}

TEST_F(XmlHelpersTest, OptionalReads) {
  auto doc = Load(kDocument);
  auto device = Node(doc.Get(), u"FDT/DtmDevice");
  ULONG u4 = 5;
  bool present = true;
  EXPECT_EQ(GetOptionalXmlValueUI4(&u4, &present, device.Get(), Bstr(u"@missing")), S_OK);
  EXPECT_FALSE(present);
  EXPECT_EQ(u4, 5u);
  EXPECT_EQ(GetOptionalXmlValueUI4(&u4, &present, device.Get(), Bstr(u"@big")), S_OK);
  EXPECT_TRUE(present);
  EXPECT_EQ(u4, 300u);
  BYTE u1 = 5;
  EXPECT_EQ(GetOptionalXmlValueUI1(&u1, &present, device.Get(), Bstr(u"@word")), DISP_E_TYPEMISMATCH);
  EXPECT_FALSE(present);
  EXPECT_EQ(u1, 5);
  bool flag = false;
  EXPECT_EQ(GetOptionalXmlValueBool(&flag, &present, device.Get(), Bstr(u"@flag")), S_OK);
  EXPECT_TRUE(present && flag);
  // Null out-pointers are refused by all three.
  EXPECT_EQ(GetOptionalXmlValueUI4(nullptr, &present, device.Get(), Bstr(u"@big")), E_INVALIDARG);
  EXPECT_EQ(GetOptionalXmlValueUI4(&u4, nullptr, device.Get(), Bstr(u"@big")), E_INVALIDARG);
  EXPECT_EQ(GetOptionalXmlValueUI1(nullptr, &present, device.Get(), Bstr(u"@small")), E_INVALIDARG);
  EXPECT_EQ(GetOptionalXmlValueUI1(&u1, nullptr, device.Get(), Bstr(u"@small")), E_INVALIDARG);
  EXPECT_EQ(GetOptionalXmlValueBool(nullptr, &present, device.Get(), Bstr(u"@flag")), E_INVALIDARG);
  EXPECT_EQ(GetOptionalXmlValueBool(&flag, nullptr, device.Get(), Bstr(u"@flag")), E_INVALIDARG);

  Bstr text;
  bool found = true;
  ASSERT_EQ(GetXmlString(text.Put(), &found, device.Get(), Bstr(u"@nothing")), S_OK);
  EXPECT_FALSE(found);
  EXPECT_NE(text.Get(), nullptr);
  EXPECT_EQ(text.View(), u"");
  ASSERT_EQ(GetXmlString(text.Put(), &found, device.Get(), Bstr(u"@word")), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(text.View(), u"abc");
  EXPECT_TRUE(XmlNodeExists(device.Get(), Bstr(u"Inner/Deep")));
  EXPECT_FALSE(XmlNodeExists(device.Get(), Bstr(u"Inner/Shallow")));
  EXPECT_FALSE(XmlNodeExists(nullptr, Bstr(u"Inner")));
  EXPECT_FALSE(XmlNodeExists(device.Get(), nullptr));
}

TEST_F(XmlHelpersTest, FindXmlValueBstrSearchesOutwardsOrDownwards) {
  auto doc = Load(kDocument);
  auto deepest = Node(doc.Get(), u"//Deepest");
  ASSERT_TRUE(deepest);
  Bstr text;
  bool found = false;
  ASSERT_EQ(FindXmlValueBstr(text.Put(), &found, deepest.Get(), Bstr(u"@tag"), false), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(text.View(), u"inner");  // the nearest ancestor's, not the root's "top"

  auto fdt = Node(doc.Get(), u"FDT");
  ASSERT_EQ(FindXmlValueBstr(text.Put(), &found, fdt.Get(), Bstr(u"@fdt:id"), true), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(text.View(), u"12");

  EXPECT_TRUE(SUCCEEDED(FindXmlValueBstr(text.Put(), &found, deepest.Get(), Bstr(u"@absent"), false)));
  EXPECT_FALSE(found);
  EXPECT_EQ(FindXmlValueBstr(text.Put(), &found, nullptr, Bstr(u"@tag"), false), S_FALSE);
  EXPECT_FALSE(found);
  // Found, but not readable as text: the read's failure is returned and the search stops.
  EXPECT_TRUE(FAILED(FindXmlValueBstr(text.Put(), &found, deepest.Get(), Bstr(u"ancestor::Inner"), false)));
  EXPECT_FALSE(found);
}

TEST_F(XmlHelpersTest, WritingElementsAndAttributes) {
  auto doc = Load(u"<FDT><Parameters/></FDT>");
  auto parameters = Node(doc.Get(), u"FDT/Parameters");
  ComPtr<IXMLDOMNode> element;
  ASSERT_EQ(AppendElement(doc.Get(), parameters.Get(), Bstr(u"fdt:Parameter"), Bstr(u"x-schema:FDTDataTypesSchema.xml"),
                          element.Put()),
            S_OK);
  ASSERT_TRUE(element);
  Variant value;
  value.vt = VT_I4;
  value.lVal = 12;
  ASSERT_EQ(SetXmlAttribute(doc.Get(), element.Get(), Bstr(u"id"), value), S_OK);
  Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"a<b");
  ASSERT_EQ(SetXmlAttribute(doc.Get(), element.Get(), Bstr(u"name"), text), S_OK);
  EXPECT_EQ(Xml(element.Get()),
            u"<fdt:Parameter xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" id=\"12\" name=\"a&lt;b\"/>");

  ComPtr<IXMLDOMNode> second;
  ASSERT_EQ(AppendElementAtPath(doc.Get(), Bstr(u"FDT/Parameters"), Bstr(u"Plain"), Bstr(u""), second.Put()), S_OK);
  EXPECT_EQ(ChildNames(parameters.Get()), (std::vector<std::u16string>{u"fdt:Parameter", u"Plain"}));
  EXPECT_EQ(AppendElementAtPath(doc.Get(), Bstr(u"FDT/Nothing"), Bstr(u"Plain"), Bstr(u""), second.Put()), S_FALSE);
  EXPECT_EQ(second.Get(), nullptr);
  EXPECT_EQ(ChildNames(parameters.Get()).size(), 2u);

  ASSERT_EQ(SetSelectedNodeValue(doc.Get(), Bstr(u"FDT/Parameters/Plain"), text), S_OK);
  Bstr read;
  ASSERT_EQ(SelectNodeText(doc.Get(), Bstr(u"FDT/Parameters/Plain"), read.Put()), S_OK);
  EXPECT_EQ(read.View(), u"a<b");
  EXPECT_EQ(SetSelectedNodeValue(doc.Get(), Bstr(u"FDT/None"), text), E_FAIL);
  EXPECT_EQ(SetSelectedNodeValue(nullptr, Bstr(u"FDT"), text), E_POINTER);

  const struct {
    IXMLDOMDocument* doc;
    IXMLDOMNode* parent;
    const char16_t* name;
    bool nullNamespace;
    HRESULT expected;
  } bad[] = {
      {nullptr, parameters.Get(), u"A", false, E_POINTER},
      {doc.Get(), nullptr, u"A", false, E_POINTER},
      {doc.Get(), parameters.Get(), u"", false, E_INVALIDARG},
      {doc.Get(), parameters.Get(), u"A", true, E_INVALIDARG},
  };
  for (const auto& b : bad) {
    ComPtr<IXMLDOMNode> out;
    EXPECT_EQ(AppendElement(b.doc, b.parent, Bstr(b.name), b.nullNamespace ? nullptr : Bstr(u"").Get(), out.Put()),
              b.expected)
        << vkr::Utf16ToUtf8(b.name);
    EXPECT_EQ(out.Get(), nullptr);
  }
  EXPECT_EQ(AppendElement(doc.Get(), parameters.Get(), Bstr(u"A"), Bstr(u""), nullptr), E_POINTER);
  EXPECT_EQ(AppendElementAtPath(doc.Get(), nullptr, Bstr(u"A"), Bstr(u""), second.Put()), E_INVALIDARG);
  EXPECT_EQ(SetXmlAttribute(nullptr, element.Get(), Bstr(u"id"), value), E_POINTER);
  EXPECT_EQ(ChildNames(parameters.Get()).size(), 2u);

  ComPtr<IXMLDOMNode> node;
  EXPECT_EQ(QueryXmlNode(doc.Get(), node.Put()), S_OK);
  EXPECT_EQ(QueryXmlNode(nullptr, node.Put()), E_POINTER);
}

TEST_F(XmlHelpersTest, AppendParsedXmlMovesTheFirstNodeAcrossDocuments) {
  auto doc = Load(u"<FDT><List/></FDT>");
  auto list = Node(doc.Get(), u"FDT/List");
  ComPtr<IXMLDOMNode> appended;
  ASSERT_EQ(AppendParsedXml(doc.Get(), list.Get(), Bstr(u"<Item id=\"1\"><Sub/></Item>"), Bstr(u""), appended.Put()),
            S_OK);
  ASSERT_TRUE(appended);
  EXPECT_EQ(Xml(list.Get()), u"<List><Item id=\"1\"><Sub/></Item></List>");
  ComPtr<IXMLDOMDocument> owner;
  appended->get_ownerDocument(owner.Put());
  ComPtr<IXMLDOMDocument> expected;
  doc->QueryInterface(IID_IXMLDOMDocument, expected.PutVoid());
  EXPECT_EQ(owner.Get(), expected.Get());

  EXPECT_EQ(AppendParsedXml(doc.Get(), list.Get(), Bstr(u"<not well formed"), Bstr(u""), appended.Put()), E_FAIL);
  EXPECT_EQ(appended.Get(), nullptr);
  EXPECT_EQ(AppendParsedXml(doc.Get(), list.Get(), Bstr(u""), Bstr(u""), appended.Put()), E_INVALIDARG);
  EXPECT_EQ(AppendParsedXml(doc.Get(), list.Get(), Bstr(u"<a/>"), nullptr, appended.Put()), E_INVALIDARG);
  EXPECT_EQ(AppendParsedXml(doc.Get(), nullptr, Bstr(u"<a/>"), Bstr(u""), appended.Put()), E_POINTER);
  EXPECT_EQ(Xml(list.Get()), u"<List><Item id=\"1\"><Sub/></Item></List>");
}

TEST_F(XmlHelpersTest, EscapingAsAnAttributeValue) {
  const struct {
    const char16_t* text;
    const char16_t* escaped;
  } cases[] = {
      {u"a<b&c\"d", u"a&lt;b&amp;c&quot;d"},
      {u"plain", u"plain"},
      {u"", u""},
      {u"it's > 5", u"it's &gt; 5"},
  };
  for (const auto& c : cases) {
    Bstr escaped;
    ASSERT_EQ(XmlEscapeText(Bstr(c.text), escaped.Put()), S_OK) << vkr::Utf16ToUtf8(c.text);
    EXPECT_NE(escaped.Get(), nullptr);
    EXPECT_EQ(escaped.View(), c.escaped) << vkr::Utf16ToUtf8(c.text);
    // Whatever the text, the escaped form reads back to it inside an attribute.
    auto doc = Load((u"<a v=\"" + escaped.Str() + u"\"/>").c_str());
    Bstr back;
    ASSERT_EQ(GetXmlValueBstr(back.Put(), doc.Get(), Bstr(u"a/@v")), S_OK);
    EXPECT_EQ(back.View(), c.text);
  }
  Bstr escaped;
  ASSERT_EQ(XmlEscapeText(nullptr, escaped.Put()), S_OK);
  EXPECT_EQ(escaped.View(), u"");
  EXPECT_EQ(XmlEscapeText(Bstr(u"x"), nullptr), E_POINTER);
}

// Characters no XML document can carry, not even as references, are refused rather than passed
// on or replaced; the ones it can carry (also beyond the first plane) are kept.
TEST_F(XmlHelpersTest, EscapingRefusesWhatNoDocumentCanHold) {
  const std::u16string refused[] = {u"A\x01" u"B", u"\x08", u"tag\x0B", u"\x0C", u"\x1F end", u"\xFFFE",
                                    u"x\xFFFF",    u"\xD800", u"\xD800x",   u"\xDC00\xD800", std::u16string(u"a\0b", 3)};
  for (const std::u16string& text : refused) {
    Bstr escaped;
    BSTR in = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    EXPECT_EQ(XmlEscapeText(in, escaped.Put()), E_INVALIDARG) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(escaped.Get(), nullptr);
    SysFreeString(in);
  }
  for (const std::u16string text : {u"\t\n\r", u"\xD834\xDD1E clef", u"\x7F\xFFFD\xE000"}) {
    Bstr escaped;
    ASSERT_EQ(XmlEscapeText(Bstr(text), escaped.Put()), S_OK) << vkr::Utf16ToUtf8(text);
    auto doc = Load((u"<a v=\"" + escaped.Str() + u"\"/>").c_str());
    ASSERT_TRUE(doc) << vkr::Utf16ToUtf8(escaped.View());
    Bstr back;
    ASSERT_EQ(GetXmlValueBstr(back.Put(), doc.Get(), Bstr(u"a/@v")), S_OK);
    EXPECT_EQ(back.View(), text);
  }
}

TEST_F(XmlHelpersTest, LoadXmlFromStringReportsParsingThroughTheFlag) {
  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(LoadXmlFromString(Bstr(u"<a><b></a>"), doc.Put(), &loaded), S_OK);
  EXPECT_EQ(loaded, VARIANT_FALSE);
  EXPECT_TRUE(doc);
  // No schema cache: x-schema namespaces are plain namespaces.
  EXPECT_EQ(LoadXmlFromString(Bstr(u"<a xmlns=\"x-schema:Missing.xml\"/>"), doc.Put(), &loaded), S_OK);
  EXPECT_EQ(loaded, VARIANT_TRUE);
  EXPECT_EQ(LoadXmlFromString(Bstr(u"<a/>"), nullptr, &loaded), E_INVALIDARG);
  EXPECT_EQ(LoadXmlFromString(Bstr(u"<a/>"), doc.Put(), nullptr), E_INVALIDARG);
}

TEST_F(XmlHelpersTest, FragmentsParseIntoTheirNamespace) {
  ComPtr<IXMLDOMNodeList> nodes;
  ASSERT_EQ(ParseXmlFragment(Bstr(u"<a x=\"1\"/><b><c/></b>"), Bstr(u"x-schema:FDTDataTypesSchema.xml"), nodes.Put()),
            S_OK);
  LONG length = 0;
  nodes->get_length(&length);
  ASSERT_EQ(length, 2);
  for (LONG i = 0; i < 2; ++i) {
    ComPtr<IXMLDOMNode> item;
    nodes->get_item(i, item.Put());
    Bstr ns, name;
    item->get_namespaceURI(ns.Put());
    item->get_nodeName(name.Put());
    EXPECT_EQ(ns.View(), u"x-schema:FDTDataTypesSchema.xml");
    EXPECT_EQ(name.View(), i == 0 ? u"a" : u"b");
  }
  ASSERT_EQ(ParseXmlFragment(Bstr(u"<a/>"), Bstr(u""), nodes.Put()), S_OK);
  nodes->get_length(&length);
  EXPECT_EQ(length, 1);
  // A namespace with a quote stays inside its attribute.
  ASSERT_EQ(ParseXmlFragment(Bstr(u"<a/>"), Bstr(u"urn:\"odd\""), nodes.Put()), S_OK);
  nodes->get_length(&length);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(ParseXmlFragment(Bstr(u""), Bstr(u""), nodes.Put()), E_INVALIDARG);
  EXPECT_EQ(nodes.Get(), nullptr);
  EXPECT_EQ(ParseXmlFragment(Bstr(u"<a/>"), nullptr, nodes.Put()), E_INVALIDARG);
  EXPECT_EQ(ParseXmlFragment(Bstr(u"<a/>"), Bstr(u""), nullptr), E_POINTER);
}

TEST_F(XmlHelpersTest, FragmentsKeepTheirOrderBeforeAfterAndInside) {
  const struct {
    const char* name;
    HRESULT (*place)(IXMLDOMDocument*, IXMLDOMNode*, BSTR, BSTR, IXMLDOMNode**);
    std::vector<std::u16string> rootChildren;
    std::vector<std::u16string> targetChildren;
  } cases[] = {
      {"before", InsertXmlFragmentBefore, {u"first", u"A", u"B", u"target", u"last"}, {u"old"}},
      {"after", InsertXmlFragmentAfter, {u"first", u"target", u"A", u"B", u"last"}, {u"old"}},
      {"append", AppendXmlFragment, {u"first", u"target", u"last"}, {u"old", u"A", u"B"}},
  };
  for (const auto& c : cases) {
    auto doc = Load(u"<root><first/><target><old/></target><last/></root>");
    auto target = Node(doc.Get(), u"root/target");
    ComPtr<IXMLDOMNode> last;
    ASSERT_EQ(c.place(doc.Get(), target.Get(), Bstr(u"<A/><B/>"), Bstr(u""), last.Put()), S_OK) << c.name;
    EXPECT_EQ(ChildNames(Node(doc.Get(), u"root").Get()), c.rootChildren) << c.name;
    EXPECT_EQ(ChildNames(target.Get()), c.targetChildren) << c.name;
    ASSERT_TRUE(last) << c.name;
    Bstr name;
    last->get_nodeName(name.Put());
    EXPECT_EQ(name.View(), u"B") << c.name;
  }
  // The target as the last child: "after" appends, still in order.
  auto doc = Load(u"<root><target/></root>");
  auto target = Node(doc.Get(), u"root/target");
  ASSERT_EQ(InsertXmlFragmentAfter(nullptr, target.Get(), Bstr(u"<A/><B/><C/>"), Bstr(u""), nullptr), S_OK);
  EXPECT_EQ(ChildNames(Node(doc.Get(), u"root").Get()), (std::vector<std::u16string>{u"target", u"A", u"B", u"C"}));
}

TEST_F(XmlHelpersTest, FragmentInsertionRefusals) {
  auto doc = Load(u"<root><target/></root>");
  auto target = Node(doc.Get(), u"root/target");
  ComPtr<IXMLDOMNode> last;
  EXPECT_EQ(InsertXmlNodes(target.Get(), nullptr, last.Put(), true, false), E_FAIL);
  EXPECT_EQ(AppendXmlFragment(nullptr, target.Get(), Bstr(u""), Bstr(u""), last.Put()), E_INVALIDARG);
  // Text without elements gives an empty list: nothing placed.
  EXPECT_EQ(AppendXmlFragment(nullptr, target.Get(), Bstr(u"just text"), Bstr(u""), last.Put()), E_FAIL);
  EXPECT_EQ(AppendXmlFragment(nullptr, target.Get(), Bstr(u"<a>"), Bstr(u""), last.Put()), E_FAIL);
  EXPECT_EQ(ChildNames(target.Get()).size(), 0u);
  // A document element has no parent element to be placed beside in: nothing moves.
  auto root = Node(doc.Get(), u"root");
  EXPECT_EQ(InsertXmlFragmentBefore(nullptr, root.Get(), Bstr(u"<A/>"), Bstr(u""), last.Put()), E_FAIL);
  EXPECT_EQ(ChildNames(root.Get()), (std::vector<std::u16string>{u"target"}));
}

}  // namespace

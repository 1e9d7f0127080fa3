// The DOM document and nodes: loading, navigation, editing, moves between documents, the xml
// text, and refusal of bad input.
#include "tests/support/dom_helpers.h"

namespace vkr::xmltest {
namespace {

class Dom : public ::testing::Test {
 protected:
  ComScope com;
  ComPtr<IXMLDOMDocument2> doc = NewDocument();

  ComPtr<IXMLDOMElement> Root() {
    ComPtr<IXMLDOMElement> e;
    doc->get_documentElement(e.Put());
    return e;
  }
};

TEST_F(Dom, CreatedThroughCoCreateInstanceWithBothClassIds) {
  ASSERT_TRUE(doc);
  ComPtr<IXMLDOMDocument> plain;
  EXPECT_EQ(doc.As(&plain), S_OK);
  ComPtr<IXMLDOMNode> node;
  EXPECT_EQ(doc.As(&node), S_OK);
  ComPtr<IXMLDOMElement> notElement;
  EXPECT_EQ(doc.As(&notElement), E_NOINTERFACE);
  EXPECT_TRUE(NewCache());
}

TEST_F(Dom, LoadsAndNavigates) {
  ASSERT_TRUE(Load(doc.Get(), "<a x='1'><b>one</b><!--c--><c:d xmlns:c='urn:c' c:y='2'>two</c:d></a>"));
  auto root = Root();
  ASSERT_TRUE(root);
  EXPECT_EQ(Name(root.Get()), "a");
  Variant v;
  root->get_nodeValue(v.Put());
  EXPECT_EQ(v.vt, VT_NULL);
  EXPECT_EQ(Text(root.Get()), "onetwo");

  ComPtr<IXMLDOMNode> b, comment, d, none;
  EXPECT_EQ(root->get_firstChild(b.Put()), S_OK);
  EXPECT_EQ(Name(b.Get()), "b");
  EXPECT_EQ(b->get_nextSibling(comment.Put()), S_OK);
  DOMNodeType t;
  comment->get_nodeType(&t);
  EXPECT_EQ(t, NODE_COMMENT);
  EXPECT_EQ(comment->get_nextSibling(d.Put()), S_OK);
  EXPECT_EQ(d->get_nextSibling(none.Put()), S_FALSE);
  EXPECT_FALSE(none);

  Bstr prefix, base, ns;
  d->get_prefix(prefix.Put());
  d->get_baseName(base.Put());
  d->get_namespaceURI(ns.Put());
  EXPECT_EQ(N(prefix.View()), "c");
  EXPECT_EQ(N(base.View()), "d");
  EXPECT_EQ(N(ns.View()), "urn:c");

  ComPtr<IXMLDOMNode> parent;
  d->get_parentNode(parent.Put());
  EXPECT_TRUE(parent.IsSameObject(root.Get())) << "one object per node";

  ComPtr<IXMLDOMNodeList> kids;
  root->get_childNodes(kids.Put());
  LONG n = 0;
  kids->get_length(&n);
  EXPECT_EQ(n, 3);
  ComPtr<IXMLDOMNode> item;
  EXPECT_EQ(kids->get_item(3, item.Put()), S_FALSE);

  ComPtr<IXMLDOMDocument> owner;
  d->get_ownerDocument(owner.Put());
  EXPECT_TRUE(owner.IsSameObject(doc.Get()));
}

TEST_F(Dom, AttributesThroughElementAndMap) {
  ASSERT_TRUE(Load(doc.Get(), "<a x='1' xmlns:p='urn:p' p:y='2'/>"));
  auto root = Root();
  Variant v;
  EXPECT_EQ(root->getAttribute(Bstr(u"x"), v.Put()), S_OK);
  EXPECT_EQ(N(View(v.bstrVal)), "1");
  EXPECT_EQ(root->getAttribute(Bstr(u"zz"), v.Put()), S_FALSE);
  EXPECT_EQ(v.vt, VT_NULL);

  Variant num;
  num.vt = VT_I4;
  num.lVal = -42;
  EXPECT_EQ(root->setAttribute(Bstr(u"n"), num), S_OK);
  Variant flag;
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  EXPECT_EQ(root->setAttribute(Bstr(u"f"), flag), S_OK);

  ComPtr<IXMLDOMNamedNodeMap> map;
  root->get_attributes(map.Put());
  LONG len = 0;
  map->get_length(&len);
  EXPECT_EQ(len, 5) << "namespace declarations are attributes of the DOM";
  ComPtr<IXMLDOMNode> y;
  EXPECT_EQ(map->getNamedItem(Bstr(u"p:y"), y.Put()), S_OK);
  Bstr ns;
  y->get_namespaceURI(ns.Put());
  EXPECT_EQ(N(ns.View()), "urn:p");

  ComPtr<IXMLDOMAttribute> created;
  doc->createAttribute(Bstr(u"x"), created.Put());
  Variant val;
  val.vt = VT_BSTR;
  val.bstrVal = SysAllocString(u"replaced");
  created->put_nodeValue(val);
  ComPtr<IXMLDOMNode> placed;
  EXPECT_EQ(map->setNamedItem(created.Get(), placed.Put()), S_OK);
  EXPECT_EQ(Xml(root.Get()), "<a x=\"replaced\" xmlns:p=\"urn:p\" p:y=\"2\" n=\"-42\" f=\"True\"/>");

  ComPtr<IXMLDOMNode> removed;
  EXPECT_EQ(map->removeNamedItem(Bstr(u"n"), removed.Put()), S_OK);
  EXPECT_EQ(root->removeAttribute(Bstr(u"f")), S_OK);
  EXPECT_EQ(root->removeAttribute(Bstr(u"f")), S_FALSE);
  EXPECT_EQ(Xml(root.Get()), "<a x=\"replaced\" xmlns:p=\"urn:p\" p:y=\"2\"/>");
}

TEST_F(Dom, SerialisesAsTheDomWritesIt) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"<a/>", "<a/>\r\n"},
      {"<?xml version=\"1.0\"?>\n<a/>", "<?xml version=\"1.0\"?>\r\n<a/>\r\n"},
      {"<?xml version='1.0' encoding='UTF-16'?><a/>", "<?xml version='1.0' encoding='UTF-16'?>\r\n<a/>\r\n"},
      {"<a b='x&amp;&lt;&gt;&quot;y'>t&amp;&lt;&gt;\"'</a>", "<a b=\"x&amp;&lt;&gt;&quot;y\">t&amp;&lt;&gt;\"'</a>\r\n"},
      {"<a>\n  <b/>\n  <c>x</c>\n</a>", "<a><b/><c>x</c></a>\r\n"},
      {"<a><![CDATA[<&>]]><?pi data?><!--c--></a>", "<a><![CDATA[<&>]]><?pi data?><!--c--></a>\r\n"},
      {"<a b='line&#10;tab&#9;'/>", "<a b=\"line&#xA;tab&#x9;\"/>\r\n"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Load(doc.Get(), c.in)) << c.in;
    EXPECT_EQ(Xml(doc.Get()), c.out) << c.in;
  }
}

TEST_F(Dom, SubNodeXmlCarriesItsNamespacesAndParsesAgain) {
  ASSERT_TRUE(Load(doc.Get(),
                   "<FDT xmlns='x-schema:A.xml' xmlns:fdt='x-schema:F.xml'><DtmDevice fdt:tag='t'>"
                   "<fdt:Value/></DtmDevice></FDT>"));
  auto device = Select1(doc.Get(), "FDT/DtmDevice");
  ASSERT_TRUE(device);
  std::string text = Xml(device.Get());
  EXPECT_EQ(text, "<DtmDevice xmlns=\"x-schema:A.xml\" xmlns:fdt=\"x-schema:F.xml\" fdt:tag=\"t\"><fdt:Value/></DtmDevice>");
  auto again = NewDocument();
  ASSERT_TRUE(Load(again.Get(), text));
  auto value = Select1(again.Get(), "DtmDevice/fdt:Value");
  ASSERT_TRUE(value);
  Bstr ns;
  value->get_namespaceURI(ns.Put());
  EXPECT_EQ(N(ns.View()), "x-schema:F.xml");
}

TEST_F(Dom, NotWellFormedGivesReasonAndPosition) {
  struct Case {
    const char* text;
    LONG line;
  } cases[] = {
      {"<a>\n<b></a>", 2},
      {"", 0},
      {"<a x='1' x='2'/>", 1},
      {"<a>\n\n<p:b/></a>", 3},
      {"<a>&undefined;</a>", 1},
      {"<a/><b/>", 1},
      {"text", 1},
      {"<a xmlns:p=''/>", 1},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Load(doc.Get(), "<ok/>"));
    HRESULT hr;
    EXPECT_FALSE(Load(doc.Get(), c.text, &hr)) << c.text;
    EXPECT_EQ(hr, S_FALSE) << c.text;
    ErrorInfo e = ParseErrorOf(doc.Get());
    EXPECT_LT(e.code, 0) << c.text;
    EXPECT_FALSE(e.reason.empty()) << c.text;
    if (c.line) {
      EXPECT_EQ(e.line, c.line) << c.text << ": " << e.reason;
    }
    EXPECT_FALSE(Root()) << "a failed load leaves the document empty: " << c.text;
  }
  ASSERT_TRUE(Load(doc.Get(), "<ok/>"));
  EXPECT_EQ(ParseErrorOf(doc.Get()).code, 0);
}

TEST_F(Dom, UndeclaredPrefixNamesThePrefix) {
  EXPECT_FALSE(Load(doc.Get(), "<a>\n  <p:b/></a>"));
  ErrorInfo e = ParseErrorOf(doc.Get());
  EXPECT_NE(e.reason.find("'p'"), std::string::npos) << e.reason;
  EXPECT_EQ(e.srcText, "  <p:b/></a>");
}

TEST_F(Dom, BuildsDocumentsWithNamespaces) {
  ComPtr<IXMLDOMNode> fdt;
  Variant type;
  type.vt = VT_I4;
  type.lVal = NODE_ELEMENT;
  ASSERT_EQ(doc->createNode(type, Bstr(u"FDT"), Bstr(u"x-schema:P.xml"), fdt.Put()), S_OK);
  ComPtr<IXMLDOMNode> added;
  ASSERT_EQ(doc->appendChild(fdt.Get(), added.Put()), S_OK);
  ComPtr<IXMLDOMNode> child;
  ASSERT_EQ(doc->createNode(type, Bstr(u"fdt:Variant"), Bstr(u"x-schema:F.xml"), child.Put()), S_OK);
  ASSERT_EQ(fdt->appendChild(child.Get(), nullptr), S_OK);
  ComPtr<IXMLDOMText> text;
  doc->createTextNode(Bstr(u"a<b"), text.Put());
  ASSERT_EQ(child->appendChild(text.Get(), nullptr), S_OK);
  EXPECT_EQ(Xml(doc.Get()),
            "<FDT xmlns=\"x-schema:P.xml\"><fdt:Variant xmlns:fdt=\"x-schema:F.xml\">a&lt;b</fdt:Variant></FDT>\r\n");

  // A second document element is refused; text directly under the document too.
  ComPtr<IXMLDOMElement> other;
  doc->createElement(Bstr(u"Other"), other.Put());
  EXPECT_EQ(doc->appendChild(other.Get(), nullptr), E_FAIL);
  ComPtr<IXMLDOMText> loose;
  doc->createTextNode(Bstr(u"x"), loose.Put());
  EXPECT_EQ(doc->appendChild(loose.Get(), nullptr), E_FAIL);
  // A node cannot go below itself.
  EXPECT_EQ(child->appendChild(fdt.Get(), nullptr), E_FAIL);
  EXPECT_EQ(doc->createElement(Bstr(u"1bad"), other.Put()), E_INVALIDARG);
}

TEST_F(Dom, InsertRemoveReplaceKeepOrder) {
  ASSERT_TRUE(Load(doc.Get(), "<r><a/><b/><c/></r>"));
  auto r = Root();
  auto a = Select1(r.Get(), "a"), b = Select1(r.Get(), "b"), c = Select1(r.Get(), "c");
  Variant ref;
  ref.vt = VT_UNKNOWN;
  ref.punkVal = a.Get();
  a->AddRef();
  ASSERT_EQ(r->insertBefore(c.Get(), ref, nullptr), S_OK);
  EXPECT_EQ(Xml(r.Get()), "<r><c/><a/><b/></r>");
  ComPtr<IXMLDOMNode> old;
  ASSERT_EQ(r->replaceChild(b.Get(), a.Get(), old.Put()), S_OK);
  EXPECT_EQ(Xml(r.Get()), "<r><c/><b/></r>");
  EXPECT_EQ(Name(old.Get()), "a");
  ComPtr<IXMLDOMNode> p;
  EXPECT_EQ(old->get_parentNode(p.Put()), S_FALSE);
  ASSERT_EQ(r->removeChild(c.Get(), nullptr), S_OK);
  EXPECT_EQ(Xml(r.Get()), "<r><b/></r>");
  EXPECT_EQ(r->removeChild(c.Get(), nullptr), E_INVALIDARG) << "no longer a child";
  ASSERT_EQ(r->appendChild(c.Get(), nullptr), S_OK) << "a removed node can go back";
  ASSERT_EQ(r->appendChild(old.Get(), nullptr), S_OK);
  EXPECT_EQ(Xml(r.Get()), "<r><b/><c/><a/></r>");
}

TEST_F(Dom, NodesMoveBetweenDocumentsAndOutliveThem) {
  ComPtr<IXMLDOMNode> moved;
  {
    auto other = NewDocument();
    ASSERT_TRUE(Load(other.Get(), "<f xmlns='x-schema:F.xml'><x a='1'><y/></x><z/></f>"));
    auto list = SelectAll(other.Get(), "//f/*");
    ASSERT_EQ(list.size(), 2u);
    moved = Select1(other.Get(), "f/x");
  }  // the other document object is gone; the node keeps its data
  ASSERT_TRUE(moved);
  ASSERT_TRUE(Load(doc.Get(), "<root/>"));
  auto root = Root();
  ComPtr<IXMLDOMNode> parent;
  ASSERT_EQ(moved->get_parentNode(parent.Put()), S_OK);
  ASSERT_EQ(parent->removeChild(moved.Get(), nullptr), S_OK);
  ASSERT_EQ(root->appendChild(moved.Get(), nullptr), S_OK);
  EXPECT_EQ(Xml(root.Get()), "<root><x xmlns=\"x-schema:F.xml\" a=\"1\"><y/></x></root>");
  ComPtr<IXMLDOMDocument> owner;
  moved->get_ownerDocument(owner.Put());
  EXPECT_TRUE(owner.IsSameObject(doc.Get()));
  auto y = Select1(moved.Get(), "y");
  ASSERT_TRUE(y);
  y->get_ownerDocument(owner.Put());
  EXPECT_TRUE(owner.IsSameObject(doc.Get())) << "the whole subtree moves";
}

TEST_F(Dom, DocumentReleasedFirstLeavesNodesUsable) {
  ASSERT_TRUE(Load(doc.Get(), "<a><b>text</b></a>"));
  auto b = Select1(doc.Get(), "a/b");
  doc = nullptr;
  ASSERT_TRUE(b);
  EXPECT_EQ(Text(b.Get()), "text");
  ComPtr<IXMLDOMDocument> owner;
  ASSERT_EQ(b->get_ownerDocument(owner.Put()), S_OK);
  ComPtr<IXMLDOMElement> root;
  owner->get_documentElement(root.Put());
  EXPECT_EQ(Name(root.Get()), "a");
}

TEST_F(Dom, CloneNodeCopiesDeepOrShallow) {
  ASSERT_TRUE(Load(doc.Get(), "<a x='1'><b>t</b></a>"));
  auto root = Root();
  ComPtr<IXMLDOMNode> deep, shallow;
  ASSERT_EQ(root->cloneNode(VARIANT_TRUE, deep.Put()), S_OK);
  ASSERT_EQ(root->cloneNode(VARIANT_FALSE, shallow.Put()), S_OK);
  EXPECT_EQ(Xml(deep.Get()), "<a x=\"1\"><b>t</b></a>");
  EXPECT_EQ(Xml(shallow.Get()), "<a x=\"1\"/>");
  ComPtr<IXMLDOMNode> p;
  EXPECT_EQ(deep->get_parentNode(p.Put()), S_FALSE);
  ComPtr<IXMLDOMNode> docCopy;
  ASSERT_EQ(doc->cloneNode(VARIANT_TRUE, docCopy.Put()), S_OK);
  EXPECT_EQ(Xml(docCopy.Get()), "<a x=\"1\"><b>t</b></a>\r\n");
}

TEST_F(Dom, TextAndValuesOfEachKind) {
  ASSERT_TRUE(Load(doc.Get(), "<a>  lead <b> mid </b> tail  </a>"));
  auto root = Root();
  EXPECT_EQ(Text(root.Get()), "lead  mid  tail");
  ASSERT_EQ(root->put_text(Bstr(u"new & text")), S_OK);
  EXPECT_EQ(Xml(root.Get()), "<a>new &amp; text</a>");
  Variant typed;
  ASSERT_EQ(root->get_nodeTypedValue(typed.Put()), S_OK);
  EXPECT_EQ(typed.vt, VT_BSTR) << "untyped nodes give their text";
  Variant v;
  v.vt = VT_R8;
  v.dblVal = 1.5;
  ASSERT_EQ(root->put_nodeTypedValue(v), S_OK);
  EXPECT_EQ(Text(root.Get()), "1.5") << "numbers use '.' whatever the locale";
  // The escape helper's way: an attribute's xml is name="value" with the markup escaped.
  ComPtr<IXMLDOMAttribute> attr;
  doc->createAttribute(Bstr(u"test"), attr.Put());
  Variant s;
  s.vt = VT_BSTR;
  s.bstrVal = SysAllocString(u"<a href=\"x\">&</a>");
  attr->put_nodeValue(s);
  EXPECT_EQ(Xml(attr.Get()), "test=\"&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;\"");
}

// A data type put on an element stands in its xml text as the dt:dt attribute, so the text
// reloads typed without a schema; a second type replaces the first, and a declaration already in
// scope is not repeated.
TEST_F(Dom, DataTypePutOnAnElementIsWrittenAsDtDt) {
  struct Case {
    const char* document;
    const char* path;
    const char16_t* type;
    const char* xml;
  } cases[] = {
      {"<root/>", "root", u"int", "<root xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"int\"/>"},
      {"<a xmlns:dt='urn:schemas-microsoft-com:datatypes'><b/></a>", "a/b", u"ui2",
       "<a xmlns:dt=\"urn:schemas-microsoft-com:datatypes\"><b dt:dt=\"ui2\"/></a>"},
      {"<a xmlns:t='urn:schemas-microsoft-com:datatypes' t:dt='int'/>", "a", u"r8",
       "<a xmlns:t=\"urn:schemas-microsoft-com:datatypes\" t:dt=\"r8\"/>"},
      {"<a x='1'/>", "a", u"boolean", "<a x=\"1\" xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"boolean\"/>"},
  };
  for (const Case& c : cases) {
    auto d = NewDocument();
    ASSERT_TRUE(Load(d.Get(), c.document)) << c.document;
    auto node = Select1(d.Get(), c.path);
    ASSERT_TRUE(node) << c.document;
    ASSERT_EQ(node->put_dataType(Bstr(c.type)), S_OK) << c.document;
    EXPECT_EQ(Xml(d.Get()), std::string(c.xml) + "\r\n") << c.document;
  }

  // Typed as MSXML's own example does, then written out and read back without a schema.
  ASSERT_TRUE(Load(doc.Get(), "<root/>"));
  auto root = Root();
  ASSERT_EQ(root->put_dataType(Bstr(u"int")), S_OK);
  ASSERT_EQ(root->put_dataType(Bstr(u"i2")), S_OK);  // replaces, never adds a second
  Variant five;
  five.vt = VT_I4;
  five.lVal = 5;
  ASSERT_EQ(root->put_nodeTypedValue(five), S_OK);
  const std::string text = Xml(doc.Get());
  EXPECT_EQ(text, "<root xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"i2\">5</root>\r\n");
  auto again = NewDocument();
  ASSERT_TRUE(Load(again.Get(), text));
  ComPtr<IXMLDOMElement> back;
  again->get_documentElement(back.Put());
  Variant type, value;
  EXPECT_EQ(back->get_dataType(type.Put()), S_OK);
  EXPECT_EQ(N(View(type.bstrVal)), "i2");
  ASSERT_EQ(back->get_nodeTypedValue(value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_I2);
  EXPECT_EQ(value.iVal, 5);

  // The prefix dt taken by another namespace, an unknown type and a text node are refused and
  // change nothing; an attribute keeps its type on the node, having no place for dt:dt.
  ASSERT_TRUE(Load(doc.Get(), "<dt:a xmlns:dt='urn:other' k='1'/>"));
  root = Root();
  EXPECT_EQ(root->put_dataType(Bstr(u"int")), E_FAIL);
  EXPECT_EQ(root->put_dataType(Bstr(u"integer")), E_FAIL);
  EXPECT_EQ(Xml(root.Get()), "<dt:a xmlns:dt=\"urn:other\" k=\"1\"/>");
  ComPtr<IXMLDOMNode> text1;
  ASSERT_TRUE(Load(doc.Get(), "<a k='7'>t</a>"));
  root = Root();
  root->get_firstChild(text1.Put());
  EXPECT_EQ(text1->put_dataType(Bstr(u"int")), E_FAIL);
  auto k = Select1(doc.Get(), "a/@k");
  ASSERT_EQ(k->put_dataType(Bstr(u"ui1")), S_OK);
  Variant kv;
  ASSERT_EQ(k->get_nodeTypedValue(kv.Put()), S_OK);
  EXPECT_EQ(kv.vt, VT_UI1);
  EXPECT_EQ(Xml(root.Get()), "<a k=\"7\">t</a>");
}

TEST_F(Dom, PreserveWhiteSpaceKeepsBlankText) {
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  ASSERT_TRUE(Load(doc.Get(), "<a> <b/> </a>"));
  EXPECT_EQ(Xml(doc.Get()), "<a> <b/> </a>\r\n");
}

TEST_F(Dom, LoadReadsFilesAndStreams) {
  TempDir dir;
  std::string path = dir.Write("d.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA4</a>");
  Variant src;
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(U(path).c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(doc->load(src, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Text(Root().Get()), "\xC3\xA4");

  Variant missing;
  missing.vt = VT_BSTR;
  missing.bstrVal = SysAllocString(U(dir.Path() + "/none.xml").c_str());
  EXPECT_EQ(doc->load(missing, &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(ParseErrorOf(doc.Get()).code, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

  const char bytes[] = "<s>stream</s>";
  ComPtr<IStream> stream;
  ASSERT_EQ(vkr::CreateMemoryStream(bytes, sizeof bytes - 1, stream.Put()), S_OK);
  Variant sv;
  sv.vt = VT_UNKNOWN;
  sv.punkVal = stream.Get();
  stream->AddRef();
  ASSERT_EQ(doc->load(sv, &ok), S_OK);
  EXPECT_EQ(Text(Root().Get()), "stream");
}

TEST_F(Dom, PropertiesTheSystemSets) {
  VARIANT_BOOL b;
  doc->get_async(&b);
  EXPECT_EQ(b, VARIANT_TRUE);
  doc->put_async(VARIANT_FALSE);
  doc->get_async(&b);
  EXPECT_EQ(b, VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->get_resolveExternals(&b);
  EXPECT_EQ(b, VARIANT_FALSE);
  Variant lang;
  lang.vt = VT_BSTR;
  lang.bstrVal = SysAllocString(u"XPath");
  EXPECT_EQ(doc->setProperty(Bstr(u"SelectionLanguage"), lang), S_OK);
  Variant got;
  EXPECT_EQ(doc->getProperty(Bstr(u"SelectionLanguage"), got.Put()), S_OK);
  EXPECT_EQ(N(View(got.bstrVal)), "XPath");
  EXPECT_EQ(doc->setProperty(Bstr(u"NoSuchProperty"), lang), E_INVALIDARG);
  Variant schemas;
  EXPECT_EQ(doc->get_schemas(schemas.Put()), S_FALSE);
  EXPECT_EQ(schemas.vt, VT_NULL);
}

// The selection language the document reports is the one its paths are evaluated in: XPath,
// whose position predicates count from 1 (XSL Patterns would count from 0). A language the
// evaluator does not speak is refused, not taken under its name.
TEST_F(Dom, SelectionLanguageIsTheLanguagePathsAreEvaluatedIn) {
  auto language = [&] {
    Variant got;
    EXPECT_EQ(doc->getProperty(Bstr(u"SelectionLanguage"), got.Put()), S_OK);
    return got.vt == VT_BSTR ? N(View(got.bstrVal)) : std::string("<not text>");
  };
  EXPECT_EQ(language(), "XPath");
  ASSERT_TRUE(Load(doc.Get(), "<a><b>first</b><b>second</b><b>third</b></a>"));
  struct Case {
    const char* path;
    const char* text;
  } cases[] = {{"a/b[1]", "first"}, {"a/b[2]", "second"}, {"a/b[last()]", "third"}, {"a/b[position() = 1]", "first"}};
  for (const Case& c : cases) {
    auto node = Select1(doc.Get(), c.path);
    ASSERT_TRUE(node) << c.path;
    EXPECT_EQ(Text(node.Get()), c.text) << c.path;
  }
  EXPECT_FALSE(Select1(doc.Get(), "a/b[4]"));

  struct Setting {
    const char16_t* value;
    HRESULT hr;
  } settings[] = {{u"XSLPattern", E_NOTIMPL}, {u"xpath", E_FAIL}, {u"", E_FAIL}, {u"XPath", S_OK}};
  for (const Setting& s : settings) {
    Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s.value);
    EXPECT_EQ(doc->setProperty(Bstr(u"SelectionLanguage"), v), s.hr) << N(s.value);
    EXPECT_EQ(language(), "XPath") << N(s.value);
  }
  // A document made from this one keeps the same language.
  ComPtr<IXMLDOMNode> clone;
  ASSERT_EQ(doc->cloneNode(VARIANT_TRUE, clone.Put()), S_OK);
  ComPtr<IXMLDOMDocument2> copy;
  ASSERT_EQ(clone.As(&copy), S_OK);
  Variant got;
  EXPECT_EQ(copy->getProperty(Bstr(u"SelectionLanguage"), got.Put()), S_OK);
  EXPECT_EQ(N(View(got.bstrVal)), "XPath");
}

// Hostile input: every case ends in a parse error with a reason, quickly.
TEST_F(Dom, RefusesHostileInput) {
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<e>";
  for (int i = 0; i < 1000; ++i) deep += "</e>";
  std::string bomb =
      "<!DOCTYPE b [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><b>&d;&d;&d;</b>";
  std::string external = "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>";
  std::string network = "<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/x.dtd\"><a/>";
  std::string unclosed(100000, '<');
  struct Case {
    const std::string* text;
    HRESULT code;
  } cases[] = {
      {&deep, XML_E_TOO_DEEP},
      {&bomb, XML_E_DTD_PROHIBITED},
      {&external, XML_E_DTD_PROHIBITED},
      {&network, XML_E_DTD_PROHIBITED},
      {&unclosed, XML_E_NOT_WELL_FORMED},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Load(doc.Get(), *c.text)) << c.text->substr(0, 60);
    ErrorInfo e = ParseErrorOf(doc.Get());
    EXPECT_EQ(e.code, c.code) << c.text->substr(0, 60) << ": " << e.reason;
    EXPECT_FALSE(e.reason.empty());
  }
  std::string ok;
  for (int i = 0; i < XML_MAX_ELEMENT_DEPTH; ++i) ok += "<e>";
  for (int i = 0; i < XML_MAX_ELEMENT_DEPTH; ++i) ok += "</e>";
  EXPECT_TRUE(Load(doc.Get(), ok)) << "the limit itself is accepted";
}

// Trees built through the DOM have no depth limit; walking them must not recurse.
TEST_F(Dom, DeepBuiltTreeSerialisesAndFrees) {
  // Built from the bottom up, so that each step is cheap; the walks over it must not recurse.
  ComPtr<IXMLDOMNode> top;
  for (int i = 0; i <= 100000; ++i) {
    ComPtr<IXMLDOMElement> e;
    doc->createElement(Bstr(u"e"), e.Put());
    if (top) {
      ASSERT_EQ(e->appendChild(top.Get(), nullptr), S_OK);
    }
    top = e.Get();
  }
  EXPECT_EQ(Xml(top.Get()).size(), 100000u * 7 + 4);  // "<e>" ... "</e>" around one "<e/>"
  ComPtr<IXMLDOMNode> copy;
  EXPECT_EQ(top->cloneNode(VARIANT_TRUE, copy.Put()), S_OK);
  EXPECT_EQ(Text(top.Get()), "");
}

}  // namespace
}  // namespace vkr::xmltest

namespace vkr::xmltest {
namespace {

// Every text, array and value the DOM hands out is allocated through the platform; when the
// N-th allocation fails the call reports E_OUTOFMEMORY and the scenario goes on without leaks.
TEST(DomFaults, AllocationFailuresAreReported) {
  ComScope com;
  TempDir dir;
  std::string schema = dir.Write("B.xml", R"(<Schema xmlns="urn:schemas-microsoft-com:xml-data"
      xmlns:dt="urn:schemas-microsoft-com:datatypes"><ElementType name="b" content="textOnly" dt:type="bin.hex"/></Schema>)");
  auto cache = NewCache();
  ASSERT_EQ(AddSchema(cache.Get(), "x-schema:B.xml", schema), S_OK);
  Bstr text(U("<b xmlns='x-schema:B.xml'>0aff</b>"));
  Bstr bad(U("<b xmlns='x-schema:B.xml'>zz</b>"));
  Bstr path(u"b");
  for (unsigned n = 1;; ++n) {
    auto doc = NewDocument();
    Attach(doc.Get(), cache.Get());
    vkr::platform::SetAllocationFault(n);
    std::vector<HRESULT> results;
    VARIANT_BOOL ok;
    results.push_back(doc->loadXML(text, &ok));
    ComPtr<IXMLDOMNode> b;
    results.push_back(doc->selectSingleNode(path, b.Put()));
    Bstr xml, name, reason;
    Variant typed;
    if (b) {
      results.push_back(b->get_xml(xml.Put()));
      results.push_back(b->get_nodeName(name.Put()));
      results.push_back(b->get_nodeTypedValue(typed.Put()));
    }
    results.push_back(doc->loadXML(bad, &ok));
    ComPtr<IXMLDOMParseError> error;
    if (SUCCEEDED(doc->get_parseError(error.Put()))) results.push_back(error->get_reason(reason.Put()));
    unsigned counted = vkr::platform::AllocationsSinceFaultArmed();
    vkr::platform::SetAllocationFault(0);
    int failures = 0;
    for (HRESULT hr : results) {
      EXPECT_TRUE(hr == S_OK || hr == S_FALSE || hr == E_OUTOFMEMORY) << "fault " << n << ": " << std::hex << hr;
      failures += hr == E_OUTOFMEMORY;
    }
    if (counted < n) {
      EXPECT_EQ(failures, 0);
      break;
    }
    EXPECT_EQ(failures, 1) << "fault " << n << " is reported by exactly the call that met it";
  }
}

}  // namespace
}  // namespace vkr::xmltest

namespace vkr::xmltest {
namespace {

TEST(DomFiles, SaveWritesWhatLoadReads) {
  ComScope com;
  TempDir dir;
  auto doc = NewDocument();
  ASSERT_TRUE(Load(doc.Get(), "<?xml version=\"1.0\"?><a b='\xC3\xA4'>t</a>"));
  Variant dest;
  dest.vt = VT_BSTR;
  dest.bstrVal = SysAllocString(U("file://" + dir.Path() + "/out.xml").c_str());
  ASSERT_EQ(doc->save(dest), S_OK);
  auto again = NewDocument();
  VARIANT_BOOL ok;
  ASSERT_EQ(again->load(dest, &ok), S_OK);
  EXPECT_EQ(Xml(again.Get()), Xml(doc.Get()));
  Variant nowhere;
  nowhere.vt = VT_BSTR;
  nowhere.bstrVal = SysAllocString(U(dir.Path() + "/missing/dir/out.xml").c_str());
  EXPECT_EQ(doc->save(nowhere), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  Variant directory;
  directory.vt = VT_BSTR;
  directory.bstrVal = SysAllocString(U(dir.Path()).c_str());
  EXPECT_EQ(again->load(directory, &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
}

}  // namespace
}  // namespace vkr::xmltest

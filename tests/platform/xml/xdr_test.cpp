// XDR schema collection and validation: schema loading, content models, attributes, data
// types, cross-schema references and the missing-schema error.
#include "tests/support/dom_helpers.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vkr::xmltest {
namespace {

constexpr const char* kTypesSchema = R"(<?xml version="1.0"?>
<Schema name="F" xmlns="urn:schemas-microsoft-com:xml-data" xmlns:dt="urn:schemas-microsoft-com:datatypes">
  <description>Data types shared by the other schemas.</description>
  <AttributeType name="tag" dt:type="string"/>
  <AttributeType name="id" dt:type="ui4"/>
  <AttributeType name="dataType" dt:type="enumeration" dt:values="float ascii int"/>
  <AttributeType name="number" dt:type="r8"/>
  <AttributeType name="statusFlag" dt:type="enumeration" dt:values="ok failure" default="ok"/>
  <ElementType name="NumberData" content="empty" model="closed">
    <attribute type="number" required="yes"/>
  </ElementType>
  <ElementType name="StringData" content="empty" model="closed">
    <AttributeType name="string" dt:type="string" required="yes"/>
    <attribute type="string"/>
  </ElementType>
  <ElementType name="Variant" content="eltOnly" model="closed">
    <attribute type="dataType" required="yes"/>
    <group order="one"><element type="NumberData"/><element type="StringData"/></group>
  </ElementType>
</Schema>)";

constexpr const char* kMainSchema = R"(<Schema xmlns="urn:schemas-microsoft-com:xml-data"
    xmlns:dt="urn:schemas-microsoft-com:datatypes" xmlns:fdt="x-schema:F.xml">
  <AttributeType name="kind" dt:type="enumeration" dt:values="a b" default="a"/>
  <ElementType name="Count" content="textOnly" dt:type="int"/>
  <ElementType name="Flag" content="textOnly" dt:type="boolean"/>
  <ElementType name="When" content="textOnly"><datatype dt:type="dateTime"/></ElementType>
  <ElementType name="Blob" content="textOnly" dt:type="bin.hex"/>
  <ElementType name="Note" content="mixed" model="closed"><element type="Count"/></ElementType>
  <ElementType name="Empty" content="empty"/>
  <ElementType name="Item" content="eltOnly" model="closed">
    <attribute type="fdt:tag" required="yes"/>
    <attribute type="kind"/>
    <attribute type="fdt:statusFlag"/>
    <element type="fdt:Variant" minOccurs="0" maxOccurs="*"/>
  </ElementType>
  <ElementType name="FDT" content="eltOnly" model="closed" order="seq">
    <element type="Count"/>
    <element type="Item" minOccurs="0" maxOccurs="*"/>
    <group order="one" minOccurs="0"><element type="Flag"/><element type="When"/></group>
    <element type="Blob" minOccurs="0"/>
    <element type="Note" minOccurs="0"/>
    <element type="Empty" minOccurs="0"/>
  </ElementType>
  <ElementType name="Open" content="eltOnly"><element type="Count"/></ElementType>
  <ElementType name="Any" content="eltOnly" order="many" model="closed">
    <element type="Count"/><element type="Flag" minOccurs="0"/>
  </ElementType>
</Schema>)";

constexpr const char* kHead = R"(<FDT xmlns="x-schema:P.xml" xmlns:fdt="x-schema:F.xml">)";

class Xdr : public ::testing::Test {
 protected:
  void SetUp() override {
    typesPath = dir.Write("F.xml", kTypesSchema);
    mainPath = dir.Write("P.xml", kMainSchema);
    ASSERT_EQ(AddSchema(cache.Get(), "x-schema:F.xml", typesPath), S_OK);
    ASSERT_EQ(AddSchema(cache.Get(), "x-schema:P.xml", mainPath), S_OK);
    Attach(doc.Get(), cache.Get());
  }

  bool LoadBody(const std::string& body) { return Load(doc.Get(), std::string(kHead) + body + "</FDT>"); }

  ComScope com;
  TempDir dir;
  std::string typesPath, mainPath;
  ComPtr<IXMLDOMDocument2> doc = NewDocument();
  ComPtr<IXMLDOMSchemaCollection> cache = NewCache();
};

TEST_F(Xdr, ValidDocumentLoadsWithTypedValuesAndDefaults) {
  ASSERT_TRUE(LoadBody(
      "\n<Count>5</Count>"
      "<Item fdt:tag='t'><fdt:Variant dataType='float'><fdt:NumberData number='1.5'/></fdt:Variant>"
      "<fdt:Variant dataType='ascii'><fdt:StringData string='x'/></fdt:Variant></Item>"
      "<Item fdt:tag='u' kind='b'/>"
      "<When>2024-02-29T13:45:30</When><Blob>00fF</Blob><Note>text <Count>1</Count> more</Note><Empty/>"))
      << ParseErrorOf(doc.Get()).reason;

  Variant v;
  auto count = Select1(doc.Get(), "FDT/Count");
  ASSERT_EQ(count->get_nodeTypedValue(v.Put()), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 5);

  auto number = Select1(doc.Get(), "//fdt:NumberData/@number");
  ASSERT_EQ(number->get_nodeTypedValue(v.Put()), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, 1.5);

  auto when = Select1(doc.Get(), "FDT/When");
  ASSERT_EQ(when->get_nodeTypedValue(v.Put()), S_OK);
  EXPECT_EQ(v.vt, VT_DATE);
  EXPECT_NEAR(v.date, 45351.0 + (13 * 3600 + 45 * 60 + 30) / 86400.0, 1e-9);

  auto blob = Select1(doc.Get(), "FDT/Blob");
  ASSERT_EQ(blob->get_nodeTypedValue(v.Put()), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  BYTE* bytes = nullptr;
  SafeArrayAccessData(v.parray, reinterpret_cast<void**>(&bytes));
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0xFF);
  SafeArrayUnaccessData(v.parray);

  // Defaults join the tree for reading but are not written out.
  auto kind = Select1(doc.Get(), "FDT/Item[1]/@kind");
  ASSERT_TRUE(kind);
  EXPECT_EQ(Text(kind.Get()), "a");
  VARIANT_BOOL specified;
  kind->get_specified(&specified);
  EXPECT_EQ(specified, VARIANT_FALSE);
  EXPECT_EQ(Text(Select1(doc.Get(), "FDT/Item[1]/@fdt:statusFlag").Get()), "ok");
  EXPECT_EQ(Xml(Select1(doc.Get(), "FDT/Item[2]").Get()),
            "<Item xmlns=\"x-schema:P.xml\" xmlns:fdt=\"x-schema:F.xml\" fdt:tag=\"u\" kind=\"b\"/>");

  // Typed writes check the type.
  Variant bad;
  bad.vt = VT_BSTR;
  bad.bstrVal = SysAllocString(u"seven");
  EXPECT_EQ(count->put_nodeTypedValue(bad), XML_E_BAD_VALUE);
  Variant good;
  good.vt = VT_I2;
  good.iVal = 7;
  EXPECT_EQ(count->put_nodeTypedValue(good), S_OK);
  EXPECT_EQ(Text(count.Get()), "7");
  auto flagHolder = NewDocument();
  Attach(flagHolder.Get(), cache.Get());
  ASSERT_TRUE(Load(flagHolder.Get(), std::string(kHead) + "<Count>1</Count><Flag>0</Flag></FDT>"));
  auto flag = Select1(flagHolder.Get(), "FDT/Flag");
  flag->get_nodeTypedValue(v.Put());
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_FALSE);
  Variant yes;
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  ASSERT_EQ(flag->put_nodeTypedValue(yes), S_OK);
  EXPECT_EQ(Text(flag.Get()), "1");
}

TEST_F(Xdr, InvalidDocumentsNameWhatIsWrong) {
  struct Case {
    std::string body;
    std::string reasonHas;
    LONG line;
  } cases[] = {
      {"\n<Item fdt:tag='t'/>", "'Item' is unexpected", 2},
      {"<Count>x</Count>", "valid int", 1},
      {"<Count>99999999999</Count>", "valid int", 1},
      {"<Count>1</Count>\n\n<Item/>", "Required attribute 'tag'", 3},
      {"<Count>1</Count><Item fdt:tag='t' kind='c'/>", "'kind'", 1},
      {"<Count>1</Count><Flag>1</Flag><When>2020-01-01</When>", "'When' is unexpected", 1},
      {"<Count>1</Count><Flag>yes</Flag>", "valid boolean", 1},
      {"<Count>1</Count><When>2020-02-30</When>", "valid dateTime", 1},
      {"<Count>1</Count><Count>2</Count>", "'Count' is unexpected", 1},
      {"<Count>1</Count><Unknown/>", "'Unknown' is unexpected", 1},
      {"<Count>1</Count><Empty>x</Empty>", "'Empty' must be empty", 1},
      {"<Count>1</Count><Empty><Count>1</Count></Empty>", "'Empty' must be empty", 1},
      {"<Count>1</Count>stray text", "elements only", 1},
      {"<Count>1</Count><Item fdt:tag='t'><fdt:Variant dataType='float'/></Item>", "incomplete", 1},
      {"<Count>1</Count><Item fdt:tag='t'><fdt:Variant dataType='int'><fdt:NumberData number='1'/>"
       "<fdt:StringData string='s'/></fdt:Variant></Item>",
       "'fdt:StringData' is unexpected", 1},
      {"<Count>1</Count><Item fdt:tag='t' other='1'/>", "'other' is not allowed", 1},
      {"<Count>1</Count><Item fdt:tag='t' fdt:statusFlag='bad'/>", "'fdt:statusFlag'", 1},
      {"<Count>1</Count><Item fdt:tag='t'><fdt:Unknown/></Item>", "'fdt:Unknown'", 1},
      {"<Count>1</Count><Item fdt:tag='t'><fdt:Variant dataType='float'><fdt:NumberData number='abc'/>"
       "</fdt:Variant></Item>",
       "valid r8", 1},
      {"<Count>1</Count><Blob>0g</Blob>", "valid bin.hex", 1},
      {"<Count>1</Count><Note>text<Flag>1</Flag></Note>", "'Flag' is unexpected", 1},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(LoadBody(c.body)) << c.body;
    ErrorInfo e = ParseErrorOf(doc.Get());
    EXPECT_EQ(e.code, XML_E_INVALID) << c.body << ": " << e.reason;
    EXPECT_NE(e.reason.find(c.reasonHas), std::string::npos) << c.body << ": " << e.reason;
    EXPECT_EQ(e.line, c.line) << c.body << ": " << e.reason;
    EXPECT_GT(e.linepos, 0) << c.body;
  }
}

TEST_F(Xdr, OrderManyAndOpenModels) {
  EXPECT_TRUE(Load(doc.Get(), "<Any xmlns='x-schema:P.xml'><Flag>1</Flag><Count>1</Count><Count>2</Count></Any>"))
      << ParseErrorOf(doc.Get()).reason;
  EXPECT_TRUE(Load(doc.Get(), "<Any xmlns='x-schema:P.xml'/>")) << "many: any number, also none";
  EXPECT_FALSE(Load(doc.Get(), "<Any xmlns='x-schema:P.xml'><Flag>1</Flag><When>2020-01-01</When></Any>"));
  EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("'When' is unexpected"), std::string::npos);
  // Open content takes elements of other namespaces, and declared ones of its own.
  EXPECT_TRUE(Load(doc.Get(), "<Open xmlns='x-schema:P.xml' xmlns:o='urn:other' o:x='1'><o:y/><Count>1</Count><Flag>1</Flag></Open>"))
      << ParseErrorOf(doc.Get()).reason;
  // ... and still validates what they are.
  EXPECT_FALSE(Load(doc.Get(), "<Open xmlns='x-schema:P.xml'><Count>1</Count><Flag>2</Flag></Open>"));
  EXPECT_FALSE(Load(doc.Get(), "<Open xmlns='x-schema:P.xml'><Count>1</Count><Undeclared/></Open>"));
  EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("not declared"), std::string::npos);
  EXPECT_FALSE(Load(doc.Get(), "<Nope xmlns='x-schema:P.xml'/>"));
  EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("'Nope' is used but not declared"), std::string::npos);
}

TEST_F(Xdr, ElementsOutsideSchemaNamespacesAreNotValidated) {
  EXPECT_TRUE(Load(doc.Get(), "<free anything='1'><more/>text</free>"));
  // ... but schema elements and attributes inside them are.
  EXPECT_FALSE(Load(doc.Get(), "<free xmlns:fdt='x-schema:F.xml'><fdt:NumberData/></free>"));
  EXPECT_FALSE(Load(doc.Get(), "<free xmlns:fdt='x-schema:F.xml' fdt:id='-1'/>"));
  EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("fdt:id"), std::string::npos);
  EXPECT_TRUE(Load(doc.Get(), "<free xmlns:fdt='x-schema:F.xml' fdt:id='7'/>"));
}

TEST_F(Xdr, MissingSchemaFailsWithItsFileNameAndLoadsAfterAdding) {
  std::string text = std::string(R"(<FDT xmlns="x-schema:P.xml" xmlns:fdt="x-schema:F.xml")") +
                     "\n     xmlns:h=\"x-schema:H.xml\"><Count>1</Count></FDT>";
  EXPECT_FALSE(Load(doc.Get(), text));
  ErrorInfo e = ParseErrorOf(doc.Get());
  EXPECT_EQ(static_cast<ULONG>(e.code), 0x800C0006u);
  EXPECT_NE(e.reason.find("H.xml"), std::string::npos) << e.reason;
  EXPECT_EQ(e.reason.find(".xml"), e.reason.find("H.xml") + 1) << "the reason names only that file: " << e.reason;
  std::string hPath = dir.Write("H.xml", "<Schema xmlns='urn:schemas-microsoft-com:xml-data'/>");
  ASSERT_EQ(AddSchema(cache.Get(), "x-schema:H.xml", hPath), S_OK);
  EXPECT_TRUE(Load(doc.Get(), text)) << ParseErrorOf(doc.Get()).reason;
}

TEST_F(Xdr, MissingReferencedSchemaNamesIt) {
  auto onlyMain = NewCache();
  ASSERT_EQ(AddSchema(onlyMain.Get(), "x-schema:P.xml", mainPath), S_OK);
  Attach(doc.Get(), onlyMain.Get());
  EXPECT_FALSE(Load(doc.Get(), "<FDT xmlns='x-schema:P.xml'><Count>1</Count><Item/></FDT>"));
  ErrorInfo e = ParseErrorOf(doc.Get());
  EXPECT_EQ(e.code, INET_E_OBJECT_NOT_FOUND);
  EXPECT_NE(e.reason.find("F.xml"), std::string::npos) << e.reason;
}

TEST_F(Xdr, WithoutCacheOrValidationNothingIsChecked) {
  auto plain = NewDocument();
  EXPECT_TRUE(Load(plain.Get(), std::string(kHead) + "<Nonsense/></FDT>"));
  doc->put_validateOnParse(VARIANT_FALSE);
  EXPECT_TRUE(LoadBody("<Nonsense/>"));
  doc->put_validateOnParse(VARIANT_TRUE);
  Variant none;
  ASSERT_EQ(doc->putref_schemas(none), S_OK);
  EXPECT_TRUE(LoadBody("<Nonsense/>"));
}

TEST_F(Xdr, CollectionHoldsSchemasByNamespace) {
  LONG n = 0;
  cache->get_length(&n);
  EXPECT_EQ(n, 2);
  Bstr ns;
  ASSERT_EQ(cache->get_namespaceURI(1, ns.Put()), S_OK);
  EXPECT_EQ(N(ns.View()), "x-schema:P.xml");
  EXPECT_EQ(cache->get_namespaceURI(2, ns.Put()), E_INVALIDARG);
  ComPtr<IXMLDOMNode> schema;
  ASSERT_EQ(cache->get(Bstr(u"x-schema:F.xml"), schema.Put()), S_OK);
  EXPECT_EQ(Name(schema.Get()), "Schema");
  EXPECT_EQ(cache->get(Bstr(u"x-schema:none.xml"), schema.Put()), S_FALSE);
  // Adding again replaces; removing drops.
  ASSERT_EQ(AddSchema(cache.Get(), "x-schema:F.xml", typesPath), S_OK);
  cache->get_length(&n);
  EXPECT_EQ(n, 2);
  ASSERT_EQ(cache->remove(Bstr(u"x-schema:F.xml")), S_OK);
  cache->get_length(&n);
  EXPECT_EQ(n, 1);
  Variant schemas;
  ASSERT_EQ(doc->get_schemas(schemas.Put()), S_OK);
  EXPECT_EQ(schemas.vt, VT_UNKNOWN);
}

TEST_F(Xdr, AddRefusesWhatIsNotAnXdrSchema) {
  const std::string ns = "urn:schemas-microsoft-com:xml-data";
  struct Case {
    std::string text;
    HRESULT code;
  } cases[] = {
      {"<Schema xmlns='" + ns + "'><ElementType", XML_E_NOT_WELL_FORMED},
      {"<schema xmlns='http://www.w3.org/2001/XMLSchema'/>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType/></Schema>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' content='lots'/></Schema>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' model='half'/></Schema>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' content='eltOnly'><element type='b'/></ElementType></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' content='mixed' order='seq'/></Schema>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' content='eltOnly'><element type='a' minOccurs='2'/></ElementType></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "' xmlns:dt='urn:schemas-microsoft-com:datatypes'><AttributeType name='x' dt:type='integer'/></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "' xmlns:dt='urn:schemas-microsoft-com:datatypes'><AttributeType name='x' dt:type='enumeration'/></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "' xmlns:dt='urn:schemas-microsoft-com:datatypes'><AttributeType name='x' dt:type='int' default='q'/></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a'><attribute type='nope'/></ElementType></Schema>", XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a' content='empty'><element type='a'/></ElementType></Schema>",
       XML_E_BAD_SCHEMA},
      {"<Schema xmlns='" + ns + "'><ElementType name='a'/><ElementType name='a'/></Schema>", XML_E_BAD_SCHEMA},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::string path = dir.Write("bad" + std::to_string(i++) + ".xml", c.text);
    EXPECT_EQ(AddSchema(cache.Get(), "x-schema:bad.xml", path), c.code) << c.text;
  }
  EXPECT_EQ(AddSchema(cache.Get(), "x-schema:gone.xml", dir.Path() + "/gone.xml"), INET_E_OBJECT_NOT_FOUND);
  LONG n = 0;
  cache->get_length(&n);
  EXPECT_EQ(n, 2) << "a failed add changes nothing";
}

TEST_F(Xdr, IdsAreUniqueAndReferencesResolve) {
  std::string s = dir.Write("I.xml", R"(<Schema xmlns="urn:schemas-microsoft-com:xml-data"
      xmlns:dt="urn:schemas-microsoft-com:datatypes">
    <AttributeType name="key" dt:type="id"/><AttributeType name="ref" dt:type="idref"/>
    <ElementType name="e" content="eltOnly" model="closed"><attribute type="key"/><attribute type="ref"/>
      <element type="e" minOccurs="0" maxOccurs="*"/></ElementType></Schema>)");
  ASSERT_EQ(AddSchema(cache.Get(), "x-schema:I.xml", s), S_OK);
  EXPECT_TRUE(Load(doc.Get(), "<e xmlns='x-schema:I.xml' key='a'><e key='b' ref='a'/><e ref='b'/></e>"))
      << ParseErrorOf(doc.Get()).reason;
  EXPECT_FALSE(Load(doc.Get(), "<e xmlns='x-schema:I.xml' key='a'><e key='a'/></e>"));
  EXPECT_FALSE(Load(doc.Get(), "<e xmlns='x-schema:I.xml'><e ref='zz'/></e>"));
  EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("'zz'"), std::string::npos);
}

// Schema files are read once for the process while they stay as they were; a file changed on disk
// (whatever its size and time stamp) is read again by the next collection that adds it, and collections on several threads share
// the models (run under ThreadSanitizer).
TEST_F(Xdr, ASchemaFileIsReadAgainWhenItChangesAndSharedAcrossThreads) {
  constexpr const char* kOld = R"(<Schema xmlns="urn:schemas-microsoft-com:xml-data">
    <ElementType name="R" content="empty"/></Schema>)";
  constexpr const char* kNew = R"(<Schema xmlns="urn:schemas-microsoft-com:xml-data">
    <ElementType name="R" content="mixed"/></Schema>)";
  const std::string path = dir.Write("R.xml", kOld);
  auto loads = [&](const char* text) {
    ComPtr<IXMLDOMSchemaCollection> c = NewCache();
    EXPECT_EQ(AddSchema(c.Get(), "x-schema:R.xml", path), S_OK);
    ComPtr<IXMLDOMDocument2> d = NewDocument();
    Attach(d.Get(), c.Get());
    VARIANT_BOOL ok = VARIANT_FALSE;
    d->loadXML(Bstr(U(text)), &ok);
    return ok == VARIANT_TRUE;
  };
  const char* const kWithText = R"(<R xmlns="x-schema:R.xml">text</R>)";
  const char* const kEmpty = R"(<R xmlns="x-schema:R.xml"/>)";
  EXPECT_FALSE(loads(kWithText));
  EXPECT_TRUE(loads(kEmpty));

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      ComScope threadCom;
      for (int i = 0; i < 20; ++i)
        if (loads(kWithText) || !loads(kEmpty)) ++failures;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);

  // The same size, another time: read again.
  const auto before = std::filesystem::last_write_time(path);
  dir.Write("R.xml", kNew);
  std::filesystem::last_write_time(path, before + std::chrono::seconds(2));
  EXPECT_TRUE(loads(kWithText));
  // Rewritten with the same size and the same time stamp: read again all the same.
  const auto stamp = std::filesystem::last_write_time(path);
  dir.Write("R.xml", kOld);
  std::filesystem::last_write_time(path, stamp);
  EXPECT_FALSE(loads(kWithText));
  EXPECT_TRUE(loads(kEmpty));
  // A collection that holds the old model keeps it; get() reads the file's document.
  ComPtr<IXMLDOMNode> schema;
  ComPtr<IXMLDOMSchemaCollection> c = NewCache();
  ASSERT_EQ(AddSchema(c.Get(), "x-schema:R.xml", path), S_OK);
  ASSERT_EQ(c->get(Bstr(u"x-schema:R.xml"), schema.Put()), S_OK);
  EXPECT_EQ(Name(schema.Get()), "Schema");
}

}  // namespace
}  // namespace vkr::xmltest

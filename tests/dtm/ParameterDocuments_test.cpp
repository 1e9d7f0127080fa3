// IDtmParameter: the parameter document GetParameters writes (validated as a frame validates it)
// and SetParameters reads, with its refusals: wrong state or user level, a refused lock, documents
// that do not validate or carry values that do not fit, and hostile texts. A refused document
// changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <filesystem>

#include "include/CommunicationInterfaces.h"
#include "frame/FrameContainer.h"
#include "tests/support/dtm_fakes.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "tests/support/schema_validator.h"
#include "tests/support/source_tree.h"

namespace {

using namespace vkr::test;
namespace fs = std::filesystem;

const fs::path kFrameSchemas = vkr::test::FrameSchemas();
vkr::Bstr SchemaDir() { return vkr::Bstr(vkr::Utf8ToUtf16(kFrameSchemas.string())); }

// Validates documents as a frame does.
struct ParameterSchemas {
  static constexpr const char* files[] = {"DTMParameterSchema.xml", "FDTDataTypesSchema.xml", ""};
};
using Validator = FrameSchemaValidator<ParameterSchemas>;

// The communication client's bus-information side, as the test wants it to answer.
class FakeProtocol : public vkr::Implements<IovFdtCommClientParameterProtocol> {
 public:
  std::u16string busInformation;
  HRESULT getResult = S_OK;
  HRESULT setResult = S_OK;
  VARIANT_BOOL setDone = VARIANT_TRUE;
  int setCalls = 0;
  std::string tagSeen;

  VKR_TEST_DISPATCH
  HRESULT GetBusInformation(BSTR* information, VARIANT_BOOL* done) override {
    *information = SysAllocStringLen(busInformation.data(), static_cast<UINT>(busInformation.size()));
    *done = VARIANT_TRUE;
    return getResult;
  }
  HRESULT SetBusInformation(IUnknown* document, VARIANT_BOOL* done) override {
    ++setCalls;
    vkr::ComPtr<IXMLDOMNode> node;
    if (document && SUCCEEDED(document->QueryInterface(IXMLDOMNode::iid, node.PutVoid()))) {
      vkr::Bstr tag;
      if (SelectNodeText(node.Get(), vkr::Bstr(u"FDT/DtmDevice/@fdt:tag"), tag.Put()) == S_OK)
        tagSeen = vkr::Utf16ToUtf8(tag.View());
    }
    *done = setDone;
    return setResult;
  }
  HRESULT GetParameterProtocolInfo(VARIANT, BSTR* text) override {
    *text = nullptr;
    return E_NOTIMPL;
  }
};

class FakeExtension : public vkr::Implements<IovFdtParameterDocumentExtension> {
 public:
  VKR_TEST_DISPATCH
  HRESULT GetParameterDocumentTexts(BSTR* device, BSTR* bus) override {
    *device = SysAllocString(u"<!-- device -->");
    *bus = SysAllocString(u"<!-- bus -->");
    return S_OK;
  }
};

// A frame container that grants or refuses the data-set lock.
class LockingContainer : public FakeContainer {
 public:
  bool grant = true;
  int locks = 0, unlocks = 0;
  HRESULT LockDataSet(BSTR, VARIANT_BOOL* granted) override {
    ++locks;
    *granted = grant ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT UnlockDataSet(BSTR, VARIANT_BOOL* done) override {
    ++unlocks;
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT SaveRequest(BSTR, VARIANT_BOOL* done) override {
    *done = VARIANT_TRUE;
    return S_OK;
  }
};

class ParamDtm : public TestDtm {
 public:
  vkr::ComPtr<vkr::ComObject<FakeProtocol>> protocol;  // null: the DTM's own communication client
  vkr::ComPtr<vkr::ComObject<FakeExtension>> extension;

  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (riid == IovFdtCommClientParameterProtocol::iid && protocol) return protocol->QueryInterface(riid, ppv);
    if (riid == IovFdtParameterDocumentExtension::iid && extension) return extension->QueryInterface(riid, ppv);
    return TestDtm::QueryExtraInterface(riid, ppv);
  }
  // A set of this parameter fails, as a store that runs out of memory would.
  ULONG failSetId = 0;
  HRESULT SetParameterValue(VARIANT id, VARIANT value) override {
    if (failSetId != 0 && id.vt == VT_UI4 && id.ulVal == failSetId) return E_OUTOFMEMORY;
    return TestDtm::SetParameterValue(id, value);
  }
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  HRESULT InitSchemas() { return InitializeDtmSchemaCache(SchemaDir()); }
  ULONG LockCount() const { return m_nLockCount; }
};

// Records added to the device's own for the exported variables (the device exports none).
constexpr ULONG kNumber = 9001, kText = 9002, kInner = 9003, kOuter = 9004, kHidden = 9005, kRefused = 9006,
                kOddName = 9007, kNoAccess = 9008;

class ParameterDocuments : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<ParamDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeProtocol>(&dtm->protocol), S_OK);
    ASSERT_EQ(vkr::MakeObject<LockingContainer>(&container), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    dtm->journal = &journal;
    dtm->SetThread(thread.Get());
    dtm->SetContainer(container.Get());
    dtm->ForceState(dsCONFIGURED);
    dtm->SetUserLevel(8);
    ASSERT_EQ(dtm->InitSchemas(), S_OK);
    ASSERT_EQ(validator.InitializeSchemaCache(SchemaDir()), S_OK);
  }
  void TearDown() override {
    dtm = nullptr;
    vkr::platform::SetUserDefaultLocale(1033);
    vkr::platform::SetSystemDefaultLocale(1033);
    CoUninitialize();
  }

  // A DTM-only record (settable, readable) with an export kind, group path and string id.
  void AddExported(ULONG id, VARTYPE vt, const VARIANT& value, ULONG kind, const char16_t* path,
                   const char16_t* strId, ULONG flags = 0x71, const char16_t* name = u"Name") {
    ParInfo r;
    r.m_nId = id;
    r.m_vt = vt;
    r.m_dwFlags = flags;
    r.m_dwExportKind = kind;
    r.m_bstrUnit = vkr::Bstr(path);
    r.m_bstrStrId = vkr::Bstr(strId);
    r.m_bstrName = vkr::Bstr(name);
    VariantCopy(&r.m_vValue, &value);
    if (vt == VT_I4) {
      r.m_vMin = vkr::Variant(vkr::I4(0));
      r.m_vMax = vkr::Variant(vkr::I4(100));
    }
    ASSERT_EQ(dtm->AddParInfo(r), S_OK) << id;
  }
  void AddExportedSet() {
    AddExported(kNumber, VT_I4, vkr::I4(42), 2, u"", u"Level");
    AddExported(kText, VT_BSTR, Text(u"a<b>&\"c\""), 1, u"Outer.Inner", u"Note", 0x71, u"");
    AddExported(kInner, VT_R4, R4(2.5f), 2, u"Outer.Inner", u"Gain");
    AddExported(kOuter, VT_BSTR, Text(u"x"), 1, u"Outer", u"Unit");
    AddExported(kHidden, VT_BSTR, Text(u"h"), 1, u"", u"Hidden", 0x18);  // not exported: 0x08
    AddExported(kRefused, VT_BSTR, Text(u"r"), 3, u"", u"KindThree");
    AddExported(kOddName, VT_BSTR, Text(u"o"), 1, u"A..B", u"Odd\"Name']");
  }
  static vkr::Variant Text(const char16_t* s) {
    vkr::Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  }
  static vkr::Variant R4(float f) {
    vkr::Variant v;
    v.vt = VT_R4;
    v.fltVal = f;
    return v;
  }
  std::string Value(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(dtm->GetValueById(id, &v), S_OK) << id;
    return Show(v) + (v.vt == VT_R4 ? "=" + std::to_string(v.fltVal) : "");
  }
  vkr::Bstr Get() {
    vkr::Bstr text;
    EXPECT_EQ(dtm->GetParameters(nullptr, text.Put()), S_OK);
    return text;
  }
  vkr::ComPtr<IXMLDOMDocument2> Validated(BSTR text) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    validator.errors.clear();
    EXPECT_EQ(validator.LoadXMLDocument(text, document.Put(), &loaded), S_OK) << validator.errors;
    EXPECT_EQ(loaded, VARIANT_TRUE) << validator.errors << vkr::Utf16ToUtf8(vkr::View(text));
    return document;
  }
  static LONG Count(IXMLDOMNode* node, const char16_t* path) {
    vkr::ComPtr<IXMLDOMNodeList> list;
    LONG n = 0;
    if (node->selectNodes(vkr::Bstr(path), list.Put()) == S_OK && list) list->get_length(&n);
    return n;
  }
  static std::string At(IXMLDOMNode* node, const char16_t* path) {
    vkr::Bstr text;
    if (SelectNodeText(node, vkr::Bstr(path), text.Put()) != S_OK) return "(none)";
    return vkr::Utf16ToUtf8(text.View());
  }
  HRESULT Set(const std::u16string& text, VARIANT_BOOL* result) {
    vkr::Bstr t(text);
    return dtm->SetParameters(nullptr, t.Get(), result);
  }
  // The exported variables' values and the tag, for "nothing changed".
  std::string Snapshot() {
    std::string s = Value(1);
    for (ULONG id : {kNumber, kText, kInner, kOuter, kOddName, kNoAccess})
      if (dtm->HasParameter(id)) s += " | " + Value(id);
    return s;
  }

  Journal journal;
  Validator validator;
  vkr::ComPtr<vkr::ComObject<ParamDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<LockingContainer>> container;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
};

// ---- GetParameters -----------------------------------------------------------------------------

TEST_F(ParameterDocuments, GetParametersAnswersOnlyInStatesEightToTwelve) {
  EXPECT_EQ(dtm->GetParameters(nullptr, nullptr), E_INVALIDARG);
  for (EDtmState state : {dsCREATED, dsINITNEWPERSIST, dsLOADED, dsENVIRONMENTSET, dsINITIALIZED}) {
    dtm->ForceState(state);
    BSTR untouched = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(dtm->GetParameters(nullptr, &untouched), S_FALSE) << state;
    EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1)) << state;
  }
  for (EDtmState state : {dsCONFIGURED, dsCOMMUNICATIONSET, dsGOINGONLINE, dsGOINGOFFLINE, dsONLINE}) {
    dtm->ForceState(state);
    vkr::Bstr text;
    EXPECT_EQ(dtm->GetParameters(nullptr, text.Put()), S_OK) << state;
  }
}

TEST_F(ParameterDocuments, WithoutExportedVariablesTheDocumentIsTheTemplateExactly) {
  dtm->protocol->busInformation = u"<BusInformation><SlaveAddress slaveAddress=\"3\"/></BusInformation>";
  ASSERT_EQ(dtm->SetValueById(1, Text(u"Tank <1> & \"2\"")), S_OK);
  vkr::Bstr text = Get();
  // A data set the frame never stored is transient.
  const std::u16string expected =
      u"<?xml version=\"1.0\"?> <FDT xmlns\t\t\t\t=\"x-schema:DTMParameterSchema.xml\" \txmlns:fdt\t\t\t="
      u"\"x-schema:FDTDataTypesSchema.xml\" \tfdt:storageState\t=\"transient\" \tfdt:dataSetState\t=\"default\"> \t"
      u" \t<DtmDevice fdt:tag=\"Tank &lt;1&gt; &amp; &quot;2&quot;\"> \t \t"
      u"<BusInformation><SlaveAddress slaveAddress=\"3\"/></BusInformation>\t</DtmDevice> </FDT> ";
  EXPECT_EQ(vkr::Utf16ToUtf8(text.View()), vkr::Utf16ToUtf8(expected));
  auto doc = Validated(text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmDevice/@fdt:tag"), "Tank <1> & \"2\"");
}

TEST_F(ParameterDocuments, EmptyTextsAreASpaceAndTheExtensionAddsItsTexts) {
  ASSERT_EQ(dtm->SetValueById(1, Text(u"")), S_OK);
  vkr::Bstr text = Get();
  EXPECT_NE(text.View().find(u"fdt:tag=\" \"> \t \t \t</DtmDevice>"), std::u16string::npos)
      << vkr::Utf16ToUtf8(text.View());
  ASSERT_EQ(vkr::MakeObject<FakeExtension>(&dtm->extension), S_OK);
  text = Get();
  EXPECT_NE(text.View().find(u"fdt:tag=\" \"> \t<!-- device -->\t <!-- bus -->\t</DtmDevice>"), std::u16string::npos)
      << vkr::Utf16ToUtf8(text.View());
}

// A tag holding a character no XML document can carry gives no document, never one that no frame
// can load; the characters a document can carry come back as they were.
TEST_F(ParameterDocuments, ATagNoDocumentCanHoldGivesNoDocument) {
  for (const char16_t* tag : {u"TAG\x01", u"A\x1B[1mB", u"\x0B", u"T\xFFFE", u"T\xFFFF", u"T\xDBFF"}) {
    ASSERT_EQ(dtm->SetValueById(1, Text(tag)), S_OK);
    vkr::Bstr text;
    const HRESULT hr = dtm->GetParameters(nullptr, text.Put());
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr << " " << vkr::Utf16ToUtf8(text.View());
    EXPECT_EQ(text.Get(), nullptr);
  }
  for (const char16_t* tag : {u"Tank\t1\r\nA", u"\xD834\xDD1E", u"\x7F\xFFFD"}) {
    ASSERT_EQ(dtm->SetValueById(1, Text(tag)), S_OK);
    auto doc = Validated(Get());
    ASSERT_TRUE(doc);
    vkr::Bstr back;
    ASSERT_EQ(SelectNodeText(doc.Get(), vkr::Bstr(u"FDT/DtmDevice/@fdt:tag"), back.Put()), S_OK);
    EXPECT_EQ(back.View(), tag);
  }
}

TEST_F(ParameterDocuments, GetParametersReturnsTheFailuresOfItsSources) {
  ASSERT_EQ(dtm->SetValueById(1, vkr::I4(5)), S_OK);
  vkr::Bstr text;
  EXPECT_EQ(dtm->GetParameters(nullptr, text.Put()), E_INVALIDARG) << "a tag that is not a text";
  ASSERT_EQ(dtm->SetValueById(1, Text(u"T")), S_OK);
  dtm->protocol->getResult = E_OUTOFMEMORY;
  EXPECT_EQ(dtm->GetParameters(nullptr, text.Put()), E_OUTOFMEMORY);
}

TEST_F(ParameterDocuments, TheDtmsOwnClientIsAskedForTheBusInformation) {
  // The communication client is built elsewhere; whatever it answers now is passed on.
  dtm->protocol = nullptr;
  vkr::Bstr text;
  const HRESULT hr = dtm->GetParameters(nullptr, text.Put());
  if (hr == S_OK) {
    Validated(text);
  } else {
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  }
}

TEST_F(ParameterDocuments, ExportedVariablesAreGroupedByTheirPathAndValidate) {
  AddExportedSet();
  vkr::Bstr text = Get();
  auto doc = Validated(text);
  ASSERT_TRUE(doc);
  const char16_t* root = u"FDT/DtmDevice/ExportedVariables/fdt:DtmVariables[@name='ExportedVariables']";
  EXPECT_EQ(Count(doc.Get(), u"FDT/DtmDevice/ExportedVariables"), 1);
  EXPECT_EQ(Count(doc.Get(), root), 1);
  const std::u16string r(root);
  // Level: kind 2, at the top, with a variant and a display.
  EXPECT_EQ(At(doc.Get(), (r + u"/fdt:DtmVariable[@name='Level']/fdt:Value/fdt:Variant/@dataType").c_str()), "int");
  EXPECT_EQ(At(doc.Get(), (r + u"/fdt:DtmVariable[@name='Level']/fdt:Value/fdt:Display/@string").c_str()), "42");
  EXPECT_EQ(At(doc.Get(), (r + u"/fdt:DtmVariable[@name='Level']/@descriptor").c_str()), "Name");
  EXPECT_EQ(At(doc.Get(), (r + u"/fdt:DtmVariable[@name='Level']/fdt:Value/@readAccess").c_str()), "1");
  EXPECT_EQ(At(doc.Get(), (r + u"/fdt:DtmVariable[@name='Level']/fdt:Value/@writeAccess").c_str()), "1");
  // Outer.Inner nests two groups; Outer alone reuses the outer one.
  const std::u16string outer = r + u"/fdt:DtmVariables[@name='Outer']";
  EXPECT_EQ(Count(doc.Get(), (r + u"/fdt:DtmVariables[@name='Outer']").c_str()), 1);
  EXPECT_EQ(Count(doc.Get(), (outer + u"/fdt:DtmVariables[@name='Inner']/fdt:DtmVariable").c_str()), 2);
  EXPECT_EQ(Count(doc.Get(), (outer + u"/fdt:DtmVariable[@name='Unit']").c_str()), 1);
  // A kind-1 variable has only its display; an empty name gives no descriptor; markup is escaped once.
  const std::u16string note = outer + u"/fdt:DtmVariables[@name='Inner']/fdt:DtmVariable[@name='Note']";
  EXPECT_EQ(Count(doc.Get(), (note + u"/fdt:Value/fdt:Variant").c_str()), 0);
  EXPECT_EQ(At(doc.Get(), (note + u"/fdt:Value/fdt:Display/@string").c_str()), "a<b>&\"c\"");
  EXPECT_EQ(Count(doc.Get(), (note + u"/@descriptor").c_str()), 0);
  // A..B makes A, an unnamed group and B.
  EXPECT_EQ(Count(doc.Get(), (r + u"/fdt:DtmVariables[@name='A']/fdt:DtmVariables[@name='']/fdt:DtmVariables[@name='B']"
                                  u"/fdt:DtmVariable").c_str()),
            1);
  // 0x08 keeps a variable out; kind 3 leaves an empty value.
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DtmVariable[@name='Hidden']"), 0);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DtmVariable[@name='KindThree']/fdt:Value"), 1);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DtmVariable[@name='KindThree']/fdt:Value/*"), 0);
}

TEST_F(ParameterDocuments, AccessFollowsTheKindWord) {
  const struct {
    ULONG addressed, flags;
    const char* read;
    const char* write;
  } cases[] = {{1, 0x10, "1", "0"}, {1, 0x30, "1", "1"}, {0, 0x10, "1", "0"}, {0, 0x11, "1", "1"}, {0, 0x31, "1", "1"}};
  ULONG id = 9100;
  for (const auto& c : cases) {
    ParInfo r;
    r.m_nId = ++id;
    r.m_vt = VT_BSTR;
    r.m_dwAddressed = c.addressed;
    r.m_dwFlags = c.flags;
    r.m_dwExportKind = 1;
    r.m_bstrStrId = vkr::Bstr(u"V");
    r.m_vValue = Text(u"v");
    ASSERT_EQ(dtm->AddParInfo(r), S_OK);
    vkr::Bstr text = Get();
    auto doc = Validated(text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(At(doc.Get(), u"//fdt:DtmVariable[@name='V']/fdt:Value/@readAccess"), c.read) << c.flags;
    EXPECT_EQ(At(doc.Get(), u"//fdt:DtmVariable[@name='V']/fdt:Value/@writeAccess"), c.write) << c.flags;
    ASSERT_EQ(dtm->RemoveParameter(id), S_OK);
  }
}

// ---- SetParameters -----------------------------------------------------------------------------

std::u16string Document(const std::u16string& tag, const std::u16string& variables) {
  return u"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMParameterSchema.xml\" "
         u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" fdt:storageState=\"persistent\" "
         u"fdt:dataSetState=\"default\"><DtmDevice" +
         (tag.empty() ? std::u16string() : u" fdt:tag=\"" + tag + u"\"") + u">" +
         (variables.empty() ? std::u16string()
                            : u"<ExportedVariables><fdt:DtmVariables name=\"ExportedVariables\">" + variables +
                                  u"</fdt:DtmVariables></ExportedVariables>") +
         u"</DtmDevice></FDT>";
}
std::u16string Display(const std::u16string& name, const std::u16string& value) {
  return u"<fdt:DtmVariable name=\"" + name + u"\"><fdt:Value readAccess=\"1\" writeAccess=\"1\">"
         u"<fdt:Display string=\"" + value + u"\"/></fdt:Value></fdt:DtmVariable>";
}
std::u16string Variant(const std::u16string& name, const std::u16string& type, const std::u16string& number) {
  return u"<fdt:DtmVariable name=\"" + name + u"\"><fdt:Value readAccess=\"1\" writeAccess=\"1\">"
         u"<fdt:Variant dataType=\"" + type + u"\"><fdt:NumberData number=\"" + number +
         u"\"/></fdt:Variant></fdt:Value></fdt:DtmVariable>";
}

TEST_F(ParameterDocuments, AValidDocumentSetsTheTagAndTheVariables) {
  AddExportedSet();
  VARIANT_BOOL result = VARIANT_FALSE;
  const std::u16string vars = Variant(u"Level", u"int", u"17") + u"<fdt:DtmVariables name=\"Outer\">" +
                              Display(u"Unit", u"m &amp; s") + Variant(u"Gain", u"float", u"0.75") +
                              u"</fdt:DtmVariables>" + Display(u"Odd\"Name']", u"odd");
  // The string id with quotes is written escaped: &quot;.
  std::u16string doc = Document(u"New &lt;Tag&gt;", vars);
  const std::u16string odd = u"name=\"Odd\"Name']\"";
  doc.replace(doc.find(odd), odd.size(), u"name=\"Odd&quot;Name']\"");
  ASSERT_EQ(Set(doc, &result), S_OK) << vkr::Utf16ToUtf8(doc);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Value(1), "bstr:New <Tag>");
  EXPECT_EQ(Value(kNumber), "i4:17");
  EXPECT_EQ(Value(kOuter), "bstr:m & s");
  EXPECT_EQ(Value(kInner), "vt:4=0.750000");
  EXPECT_EQ(Value(kOddName), "bstr:odd");
  EXPECT_EQ(dtm->GetDataSetState(), DSS_VALID_MODIFIED);
  EXPECT_EQ(dtm->protocol->setCalls, 1);
  EXPECT_EQ(dtm->protocol->tagSeen, "New <Tag>") << "the client gets the frame's document";
  EXPECT_EQ(container->locks, 1);
  EXPECT_EQ(dtm->LockCount(), 0u) << "the lock is given back";
}

TEST_F(ParameterDocuments, ADecimalCommaLocaleReadsBothSeparators) {
  vkr::platform::SetUserDefaultLocale(1031);
  vkr::platform::SetSystemDefaultLocale(1031);
  AddExportedSet();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Set(Document(u"T", Variant(u"Gain", u"float", u"1.25")), &result), S_OK);
  EXPECT_EQ(Value(kInner), "vt:4=1.250000");
}

TEST_F(ParameterDocuments, OnlyTagWithoutVariables) {
  AddExportedSet();
  const std::string before = Snapshot();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Set(Document(u"OnlyTag", u""), &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Value(1), "bstr:OnlyTag");
  EXPECT_EQ(Snapshot().substr(Snapshot().find('|')), before.substr(before.find('|')));
}

TEST_F(ParameterDocuments, VariablesWithoutAccessOrExportAreIgnored) {
  AddExportedSet();
  AddExported(kNoAccess, VT_BSTR, Text(u"keep"), 1, u"", u"NoAccess", 0x70);  // no 0x01
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Set(Document(u"T", Display(u"NoAccess", u"changed") + Display(u"Hidden", u"changed") +
                                   Display(u"KindThree", u"changed") + Display(u"Nobody", u"x")),
                &result),
            S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Value(kNoAccess), "bstr:keep");
  EXPECT_EQ(Value(kRefused), "bstr:r");
}

TEST_F(ParameterDocuments, RefusedCallsChangeNothing) {
  AddExportedSet();
  const std::string before = Snapshot();
  const std::u16string good = Document(u"Changed", Variant(u"Level", u"int", u"5"));
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(dtm->SetParameters(nullptr, vkr::Bstr(good), nullptr), E_INVALIDARG);

  const struct {
    const char* name;
    std::function<void()> arrange;
    std::u16string text;
  } cases[] = {
      {"state 7", [&] { dtm->ForceState(dsINITIALIZED); }, good},
      {"observer", [&] { dtm->SetUserLevel(1); }, good},
      {"lock refused", [&] { container->grant = false; }, good},
      {"null text", [] {}, std::u16string()},
      {"not XML", [] {}, u"<FDT><DtmDevice"},
      {"wrong root", [] {}, u"<FDT xmlns=\"x-schema:DTMParameterSchema.xml\"/>"},
      {"unknown schema", [] {}, u"<FDT xmlns=\"x-schema:NoSuchSchema.xml\"/>"},
      {"no tag", [] {}, Document(u"", Variant(u"Level", u"int", u"5"))},
      {"out of range", [] {}, Document(u"Changed", Display(u"Unit", u"y") + Variant(u"Level", u"int", u"500"))},
      {"client refuses", [&] { dtm->protocol->setDone = VARIANT_FALSE; }, good},
      {"client fails", [&] { dtm->protocol->setResult = E_FAIL; }, good},
      {"entity expansion",
       [] {},
       u"<?xml version=\"1.0\"?><!DOCTYPE FDT [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
       u"<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
       u"<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>" +
           Document(u"&f;", u"").substr(21)},
      {"external entity",
       [] {},
       u"<?xml version=\"1.0\"?><!DOCTYPE FDT [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
           Document(u"&x;", u"").substr(21)},
      {"deep nesting",
       [] {},
       Document(u"Changed", [] {
                                  std::u16string s;
                                  for (int i = 0; i < 5000; ++i) s += u"<fdt:DtmVariables name=\"g\">";
                                  for (int i = 0; i < 5000; ++i) s += u"</fdt:DtmVariables>";
                                  return s;
                                }())},
  };
  for (const auto& c : cases) {
    c.arrange();
    result = VARIANT_TRUE;
    journal.Clear();
    const HRESULT hr = c.text.empty() ? dtm->SetParameters(nullptr, nullptr, &result) : Set(c.text, &result);
    EXPECT_EQ(hr, S_FALSE) << c.name;
    EXPECT_EQ(result, VARIANT_FALSE) << c.name;
    EXPECT_EQ(Snapshot(), before) << c.name;
    EXPECT_EQ(dtm->GetDataSetState(), DSS_DEFAULT) << c.name;
    EXPECT_EQ(dtm->LockCount(), 0u) << c.name;
    // Restore the defaults of the arrangement.
    dtm->ForceState(dsCONFIGURED);
    dtm->SetUserLevel(8);
    container->grant = true;
    dtm->protocol->setDone = VARIANT_TRUE;
    dtm->protocol->setResult = S_OK;
  }
}

TEST_F(ParameterDocuments, AFailedImportIsReportedWithItsMessage) {
  // Documents that validate but cannot be taken over: the user sees message 2001, and nothing
  // changes.
  AddExportedSet();
  const std::string before = Snapshot();
  const struct {
    const char* name;
    std::u16string text;
  } cases[] = {
      {"no tag", Document(u"", Variant(u"Level", u"int", u"5"))},
      {"a value the parameter does not take", Document(u"T", Variant(u"Level", u"int", u"500"))},
  };
  for (const auto& c : cases) {
    std::string reason;
    ASSERT_EQ(vkr::frame::FrameContainer::Validate(vkr::Bstr(c.text), &reason), S_OK) << c.name << ": " << reason;
    journal.Clear();
    const std::size_t earlier = dtm->InitErrors().size();
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(Set(c.text, &result), S_FALSE) << c.name;
    EXPECT_EQ(result, VARIANT_FALSE) << c.name;
    std::vector<std::string> reported(dtm->InitErrors().begin() + static_cast<std::ptrdiff_t>(earlier),
                                      dtm->InitErrors().end());
    reported.insert(reported.end(), journal.entries.begin(), journal.entries.end());
    const bool seen = std::any_of(reported.begin(), reported.end(), [](const std::string& e) {
      return e.find("An error occurred during IDtmParameter::SetParameters") != std::string::npos;
    });
    EXPECT_TRUE(seen) << c.name << ": " << testing::PrintToString(reported);
    EXPECT_EQ(Snapshot(), before) << c.name;
    EXPECT_EQ(dtm->GetDataSetState(), DSS_DEFAULT) << c.name;
  }
}

TEST_F(ParameterDocuments, WhatGetParametersWritesSetParametersReadsBack) {
  AddExportedSet();
  ASSERT_EQ(dtm->SetValueById(1, Text(u"Round & trip")), S_OK);
  vkr::Bstr text = Get();
  vkr::ComPtr<vkr::ComObject<ParamDtm>> second;
  ASSERT_EQ(vkr::MakeObject<ParamDtm>(&second), S_OK);
  std::swap(dtm, second);
  ASSERT_EQ(vkr::MakeObject<FakeProtocol>(&dtm->protocol), S_OK);
  dtm->SetThread(thread.Get());
  dtm->SetContainer(container.Get());
  dtm->ForceState(dsCONFIGURED);
  dtm->SetUserLevel(8);
  ASSERT_EQ(dtm->InitSchemas(), S_OK);
  AddExported(kNumber, VT_I4, vkr::I4(0), 2, u"", u"Level");
  AddExported(kText, VT_BSTR, Text(u""), 1, u"Outer.Inner", u"Note", 0x71, u"");
  AddExported(kInner, VT_R4, R4(0), 2, u"Outer.Inner", u"Gain");
  AddExported(kOuter, VT_BSTR, Text(u""), 1, u"Outer", u"Unit");
  AddExported(kOddName, VT_BSTR, Text(u""), 1, u"A..B", u"Odd\"Name']");
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(dtm->SetParameters(nullptr, text.Get(), &result), S_OK) << vkr::Utf16ToUtf8(text.View());
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Value(1), "bstr:Round & trip");
  EXPECT_EQ(Value(kNumber), "i4:42");
  EXPECT_EQ(Value(kText), "bstr:a<b>&\"c\"");
  EXPECT_EQ(Value(kInner), "vt:4=2.500000");
  EXPECT_EQ(Value(kOuter), "bstr:x");
  EXPECT_EQ(Value(kOddName), "bstr:o");
}

}  // namespace

namespace {

// ---- The parameter-changed document --------------------------------------------------------

TEST_F(ParameterDocuments, TheSavedDataSetSendsTheChangedPersistedParameters) {
  AddExportedSet();
  ASSERT_EQ(dtm->SetParameterValue(vkr::UI4(kNumber), vkr::I4(7)), S_OK);  // marks it: flag 0x100
  ParInfo transient;
  ASSERT_EQ(dtm->GetParInfoById(kText, &transient), S_OK);
  transient.m_bPersist = 0;
  ASSERT_EQ(dtm->SetParInfoFields(kText, PIF_PERSIST, transient), S_OK);
  ASSERT_EQ(dtm->SetParameterValue(vkr::UI4(kText), Text(u"not persisted")), S_OK);
  journal.Clear();
  ASSERT_EQ(dtm->SetDataSetModified(FALSE), S_OK);
  const auto sent = journal.With("job 16");
  ASSERT_EQ(sent.size(), 1u) << journal.Joined();
  EXPECT_EQ(sent[0],
            "job 16 bstr:<?xml version=\"1.0\"?> \r\n<OnParameterChangedDocument> \r\n\t<PARAMETERS> \r\n"
            "<Parameter \r\n\tid    =\"9001\" \r\n\tstr_id=\"Level\" \r\n\tname  =\"Name\" \r\n\ttype  =\"VT_I4\" "
            "\r\n\tvalue =\"7\" \r\n/> \r\n</PARAMETERS> \r\n \r\n</OnParameterChangedDocument> \r\n");
}

}  // namespace

namespace {

TEST_F(ParameterDocuments, TheDeviceTypeOfTheDataSetGoesInUnchanged) {
  // The device type as InitNew keeps it: the element's own XML from the frame's document.
  vkr::ComPtr<IXMLDOMDocument2> frameDoc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(LoadXmlFromString(vkr::Bstr(u"<FDT xmlns=\"x-schema:DTMDeviceTypeSchema.xml\" "
                                        u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType>"
                                        u"<fdt:VersionInformation name=\"VKR 2x\" vendor=\"Vorntec\" version=\"1.0\"/>"
                                        u"</fdt:DtmDeviceType></FDT>"),
                              frameDoc.Put(), &loaded),
            S_OK);
  ASSERT_TRUE(loaded);
  vkr::Bstr deviceType;
  ASSERT_EQ(SelectNodeXml(frameDoc.Get(), vkr::Bstr(u"FDT/fdt:DtmDeviceType"), deviceType.Put()), S_OK);
  dtm->SetDeviceType(deviceType.Get());
  AddExportedSet();
  for (bool exported : {false, true}) {
    if (!exported) {
      for (ULONG id : {kNumber, kText, kInner, kOuter, kHidden, kRefused, kOddName})
        ASSERT_EQ(dtm->RemoveParameter(id), S_OK);
    } else {
      AddExportedSet();
    }
    vkr::Bstr text = Get();
    if (!exported) {
      EXPECT_NE(text.View().find(deviceType.View()), std::u16string::npos) << vkr::Utf16ToUtf8(text.View());
    }
    auto doc = Validated(text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(At(doc.Get(), u"FDT/fdt:DtmDeviceType/fdt:VersionInformation/@name"), "VKR 2x");
  }
}

}  // namespace

namespace {

TEST_F(ParameterDocuments, ASetThatFailsPutsBackWhatWasSetBeforeIt) {
  AddExportedSet();
  const std::string before = Snapshot();
  dtm->failSetId = kOuter;
  VARIANT_BOOL result = VARIANT_TRUE;
  const std::u16string vars = Variant(u"Level", u"int", u"17") + Variant(u"Gain", u"float", u"0.5") +
                              Display(u"Unit", u"cm");
  ASSERT_EQ(Set(Document(u"Changed", vars), &result), S_FALSE);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(dtm->LockCount(), 0u);
  dtm->failSetId = 0;
  ASSERT_EQ(Set(Document(u"Changed", vars), &result), S_OK);
  EXPECT_EQ(Value(kOuter), "bstr:cm");
}

}  // namespace

namespace {

TEST_F(ParameterDocuments, TheDtmsOwnClientTakesTheDocumentWholeOrNotAtAll) {
  // The communication client is built elsewhere; whatever it answers, nothing is half taken.
  dtm->protocol = nullptr;
  AddExportedSet();
  const std::string before = Snapshot();
  VARIANT_BOOL result = VARIANT_FALSE;
  const HRESULT set = Set(Document(u"ClientTag", Variant(u"Level", u"int", u"9")), &result);
  if (set == S_OK) {
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(Value(1), "bstr:ClientTag");
    EXPECT_EQ(Value(kNumber), "i4:9");
  } else {
    EXPECT_EQ(set, S_FALSE);
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(Snapshot(), before);
  }
}

}  // namespace

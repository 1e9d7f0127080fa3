// The XML document handler: schema cache set-up, validating loads, the missing-schema retry, the
// registry's second schema directory, the file search and the error texts.
#include "xml/CovFDTXMLHandlerImpl.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"
#include "tests/support/source_tree.h"

namespace fs = std::filesystem;

namespace {

using vkr::Bstr;
using vkr::ComPtr;

const fs::path kFrameSchemas = vkr::test::FrameSchemas();
const fs::path kSamples = vkr::test::SourceTree() / "tests" / "data" / "xml";

// A small owner: its schema list is chosen per test; its error sink keeps the texts.
class TestOwner : public CovFDTXMLHandlerImpl<TestOwner> {
 public:
  static inline const char* const* s_list = kSchemaFilesConnection;
  static const char* const* GetSchemaFileList() { return s_list; }
  void OnError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    errors.push_back(FormatErrorTextV(format, args));
    va_end(args);
  }
  std::vector<std::string> errors;
};

std::u16string U16(const fs::path& p) { return vkr::Utf8ToUtf16(p.string()); }

Bstr ReadSample(const std::string& relative) {
  return Bstr(vkr::Utf8ToUtf16(vkr::test::ReadFileText(kSamples / relative)));
}

LONG CacheLength(TestOwner& owner) {
  LONG length = -1;
  owner.m_spSchemaCache->get_length(&length);
  return length;
}

bool CacheHolds(TestOwner& owner, const char16_t* fileName) {
  return vkr::xml_detail::CacheHolds(owner.m_spSchemaCache.Get(), u"x-schema:" + std::u16string(fileName));
}

class XmlHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    root_ = vkr::test::TestDirectory() / ("handler" + std::to_string(++counter_));
    fs::create_directories(root_);
    vkr::platform::UseRegistryFile((root_ / "registry.reg").string());
    TestOwner::s_list = kSchemaFilesConnection;
  }
  void TearDown() override {
    vkr::platform::UseRegistryFile("");
    CoUninitialize();
  }
  // Copies frame schemas into dir (created as needed).
  void Place(const fs::path& dir, std::initializer_list<const char*> files) {
    fs::create_directories(dir);
    for (const char* f : files) fs::copy_file(kFrameSchemas / f, dir / f, fs::copy_options::overwrite_existing);
  }
  void SetRegistrySchemaDirectory(const fs::path& dir) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Osgrove\\ov FDT Toolkit\\XML\\SchemaPaths", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string value = dir.string();
    ASSERT_EQ(RegSetValueExA(key, "value0", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  fs::path root_;
  static inline int counter_ = 0;
};

TEST_F(XmlHandlerTest, RefusesToLoadWithoutCacheOrArguments) {
  TestOwner owner;
  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(owner.LoadXMLDocument(Bstr(u"<a/>"), doc.Put(), &ok), E_POINTER);
  EXPECT_EQ(ok, VARIANT_TRUE);  // nothing touched before the cache test
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_))), S_OK);
  EXPECT_EQ(owner.LoadXMLDocument(nullptr, doc.Put(), &ok), E_INVALIDARG);
  EXPECT_EQ(owner.LoadXMLDocument(Bstr(u"<a/>"), nullptr, &ok), E_POINTER);
  EXPECT_EQ(owner.LoadXMLDocument(Bstr(u"<a/>"), doc.Put(), nullptr), E_POINTER);
}

TEST_F(XmlHandlerTest, MissingSchemaFilesAreReportedOneByOneButInitialisationSucceeds) {
  TestOwner::s_list = kSchemaFilesDtm;
  TestOwner owner;
  EXPECT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "empty"))), S_OK);
  ASSERT_EQ(owner.errors.size(), 10u);
  EXPECT_EQ(owner.errors[0],
            "::InitializeSchemaCache\nProblems while loading schema \"DTMInformationSchema.xml\".\n"
            "IXMLDOMSchemaCollection->add() returns 00000001.");
  EXPECT_NE(owner.errors[9].find("\"FDTHARTCommunicationSchema.xml\""), std::string::npos);
  EXPECT_EQ(CacheLength(owner), 0);
  EXPECT_EQ(vkr::View(owner.m_bsSchemaPath), U16(root_ / "empty"));
}

TEST_F(XmlHandlerTest, LoadsValidDocumentsWithTheFrameSchemas) {
  TestOwner::s_list = kSchemaFilesDtm;
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(kFrameSchemas))), S_OK);
  EXPECT_TRUE(owner.errors.empty()) << owner.errors.front();
  EXPECT_EQ(CacheLength(owner), 10);
  // A second initialisation reuses the cache and adds the list again without growing it.
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(kFrameSchemas))), S_OK);
  EXPECT_EQ(CacheLength(owner), 10);

  IXMLDOMDocument2* doc = nullptr;
  for (const char* sample : {"valid/user_message_question.xml", "valid/function_call.xml", "valid/functions.xml",
                             "valid/hart_data_exchange_request.xml", "valid/state_online.xml"}) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    // The document pointer is reused: the reference it held must be released, not leaked.
    ASSERT_EQ(owner.LoadXMLDocument(ReadSample(sample), &doc, &ok), S_OK) << sample;
    EXPECT_EQ(ok, VARIANT_TRUE) << sample << (owner.errors.empty() ? "" : owner.errors.back());
    EXPECT_NE(doc, nullptr) << sample;
  }
  if (doc) doc->Release();
  // DTMStateSchema.xml is not in the list: it was found and added by the retry.
  EXPECT_TRUE(CacheHolds(owner, u"DTMStateSchema.xml"));
}

TEST_F(XmlHandlerTest, MissingSchemaInASubDirectoryIsAddedAndTheDocumentParses) {
  Place(root_ / "schemas", {"FDTDataTypesSchema.xml"});
  Place(root_ / "schemas" / "more" / "deeper", {"DTMStateSchema.xml"});
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "schemas"))), S_OK);
  ASSERT_FALSE(CacheHolds(owner, u"DTMStateSchema.xml"));

  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(owner.LoadXMLDocument(ReadSample("valid/state_online.xml"), doc.Put(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_TRUE(owner.errors.empty());
  EXPECT_TRUE(CacheHolds(owner, u"DTMStateSchema.xml"));
  ComPtr<IXMLDOMNode> schema;
  Bstr location;
  ASSERT_EQ(owner.m_spSchemaCache->get(Bstr(u"x-schema:DTMStateSchema.xml"), schema.Put()), S_OK);
}

TEST_F(XmlHandlerTest, OtherParseErrorsAreNeverRetriedAndAreReported) {
  Place(root_ / "schemas", {"FDTDataTypesSchema.xml", "FDTUserMessageSchema.xml"});
  TestOwner::s_list = kSchemaFilesUi;  // lacks FDTUserMessageSchema.xml
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "schemas"))), S_OK);
  owner.errors.clear();
  const LONG before = CacheLength(owner);

  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_TRUE;
  // Not well-formed, though its text names a schema file that could be found.
  Bstr broken(u"<FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\"><unclosed></FDT>");
  EXPECT_EQ(owner.LoadXMLDocument(broken, doc.Put(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_FALSE(doc);
  EXPECT_EQ(CacheLength(owner), before);
  ASSERT_EQ(owner.errors.size(), 1u);
  EXPECT_EQ(owner.errors[0].rfind("::LoadXMLDocument (ParseError)\nError 0x", 0), 0u) << owner.errors[0];
}

TEST_F(XmlHandlerTest, WithoutParseErrorDisplayNothingIsReportedAndTheParserResultReturned) {
  TestOwner owner;
  owner.m_bShowParseError = FALSE;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(kFrameSchemas))), S_OK);
  ComPtr<IXMLDOMDocument2> previous;
  VARIANT_BOOL ok = VARIANT_TRUE;
  ASSERT_EQ(LoadXmlFromString(Bstr(u"<kept/>"), previous.Put(), &ok), S_OK);
  IXMLDOMDocument2* out = previous.Get();
  EXPECT_EQ(owner.LoadXMLDocument(Bstr(u"<a><b></a>"), &out, &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(out, previous.Get());  // untouched
  EXPECT_TRUE(owner.errors.empty());
}

TEST_F(XmlHandlerTest, ParseErrorTextHasCodeLineColumnAndReason) {
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "nothing"))), S_OK);
  owner.errors.clear();
  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_TRUE;
  const Bstr text(u"<?xml version=\"1.0\"?>\n<!-- x -->\n  <FDT xmlns=\"x-schema:DTMUnknownSchema.xml\"/>");
  EXPECT_EQ(owner.LoadXMLDocument(text, doc.Put(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  ASSERT_EQ(owner.errors.size(), 1u);
  const std::string& report = owner.errors[0];
  EXPECT_EQ(report.rfind("::LoadXMLDocument (ParseError)\nError 0x800c0006\nLine 3, Column ", 0), 0u) << report;
  const std::size_t reasonAt = report.find("\n\n");
  ASSERT_NE(reasonAt, std::string::npos);
  EXPECT_NE(report.find("DTMUnknownSchema.xml", reasonAt), std::string::npos) << report;

  // GetParseError frees what the out-pointer held and refuses null pointers.
  ComPtr<IXMLDOMDocument2> failed;
  ASSERT_EQ(LoadXmlFromString(Bstr(u"<a>"), failed.Put(), &ok), S_OK);
  BSTR held = SysAllocString(u"old text");
  ASSERT_EQ(owner.GetParseError(failed.Get(), &held), S_OK);
  EXPECT_EQ(vkr::View(held).rfind(u"Error 0x", 0), 0u);
  SysFreeString(held);
  EXPECT_EQ(owner.GetParseError(nullptr, &held), E_POINTER);
  EXPECT_EQ(owner.GetParseError(failed.Get(), nullptr), E_POINTER);
}

TEST_F(XmlHandlerTest, NamespaceWithAPathEndsInsteadOfLoopingForEver) {
  Place(root_ / "schemas", {"FDTDataTypesSchema.xml", "DTMStateSchema.xml"});
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "schemas"))), S_OK);
  // The name found in the reason is "DTMStateSchema.xml", cached under a namespace the document
  // does not use; the second round finds it cached and stops.
  const Bstr text(
      u"<FDT xmlns=\"x-schema:sub/DTMStateSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      u"<DtmStateTransition/></FDT>");
  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(owner.LoadXMLDocument(text, doc.Put(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_TRUE(CacheHolds(owner, u"DTMStateSchema.xml"));

  // And a reason naming a schema the cache already holds is no progress either.
  VARIANT_BOOL added = VARIANT_TRUE;
  ComPtr<IXMLDOMDocument2> failed;
  ASSERT_EQ(LoadXmlFromString(Bstr(u"<a/>"), failed.Put(), &ok), S_OK);
  ASSERT_EQ(failed->putref_schemas([&] {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = owner.m_spSchemaCache.Get();
    return v;
  }()), S_OK);
  failed->loadXML(text, &ok);
  EXPECT_EQ(owner.ResolveMissingSchema(failed.Get(), &added), S_OK);
  EXPECT_EQ(added, VARIANT_FALSE);
}

TEST_F(XmlHandlerTest, RegistryDirectoryIsSearchedWithoutReplacingTheFramesDirectory) {
  Place(root_ / "frame", {"FDTDataTypesSchema.xml"});
  Place(root_ / "registry" / "x", {"FDTApplicationIdSchema.xml", "DTMStateSchema.xml"});
  SetRegistrySchemaDirectory(root_ / "registry");
  TestOwner::s_list = kSchemaFilesUi;  // DTMFunctionCallSchema.xml is nowhere
  TestOwner owner;
  ASSERT_EQ(owner.InitializeSchemaCache(Bstr(U16(root_ / "frame"))), S_OK);
  ASSERT_EQ(owner.errors.size(), 1u);
  EXPECT_NE(owner.errors[0].find("DTMFunctionCallSchema.xml"), std::string::npos);
  EXPECT_TRUE(CacheHolds(owner, u"FDTDataTypesSchema.xml"));
  EXPECT_TRUE(CacheHolds(owner, u"FDTApplicationIdSchema.xml"));
  EXPECT_EQ(vkr::View(owner.m_bsSchemaPath), U16(root_ / "frame"));

  // Later look-ups still search the frame's directory first, and the registry's after it.
  Place(root_ / "frame", {"FDTUserMessageSchema.xml"});
  BOOL added = FALSE;
  EXPECT_EQ(owner.AddSchema(Bstr(u"FDTUserMessageSchema.xml"), &added), S_OK);
  EXPECT_TRUE(added);
  ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(owner.LoadXMLDocument(ReadSample("valid/state_online.xml"), doc.Put(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(owner.AddSchema(Bstr(u"NoSuchSchema.xml"), &added), S_FALSE);
  EXPECT_FALSE(added);
}

TEST_F(XmlHandlerTest, AddSchemaWithoutCacheOrFile) {
  TestOwner owner;
  BOOL added = TRUE;
  EXPECT_EQ(owner.AddSchema(Bstr(u"FDTDataTypesSchema.xml"), &added), S_FALSE);
  EXPECT_FALSE(added);
  EXPECT_EQ(owner.AddSchemaFromDirectory(Bstr(U16(kFrameSchemas)), Bstr(u"FDTDataTypesSchema.xml"), &added), S_FALSE);
  ASSERT_EQ(owner.InitializeSchemaCache(nullptr), S_OK);  // no directory: every file reported
  EXPECT_EQ(owner.m_bsSchemaPath, nullptr);
  EXPECT_EQ(owner.errors.size(), 1u);
  EXPECT_EQ(owner.AddSchemaFromDirectory(Bstr(U16(root_ / "missing")), Bstr(u"FDTDataTypesSchema.xml"), &added),
            S_FALSE);
  EXPECT_EQ(owner.AddSchemaFromDirectory(Bstr(U16(kFrameSchemas)), Bstr(u"FDTDataTypesSchema.xml"), &added), S_OK);
  EXPECT_TRUE(added);
  // A file that is no schema: the cache refuses it and stays as it was.
  fs::create_directories(root_ / "junk");
  vkr::test::WriteFileText(root_ / "junk" / "Broken.xml", "<Schema");
  EXPECT_TRUE(FAILED(owner.AddSchemaFromDirectory(Bstr(U16(root_ / "junk")), Bstr(u"Broken.xml"), &added)));
  EXPECT_FALSE(added);
  EXPECT_FALSE(CacheHolds(owner, u"Broken.xml"));
}

TEST_F(XmlHandlerTest, FileSearchFindsTheSameWithOrWithoutTrailingSeparator) {
  fs::create_directories(root_ / "tree" / "b_dir" / "c");
  vkr::test::WriteFileText(root_ / "tree" / "a_file.txt", "listed before the directories");
  vkr::test::WriteFileText(root_ / "tree" / "b_dir" / "c" / "Target.xml", "<x/>");
  TestOwner owner;
  const std::u16string base = U16(root_ / "tree");
  const std::u16string expected = base + u"\\b_dir\\c\\Target.xml";
  for (const std::u16string& dir : {base, base + u"\\", base + u"/"}) {
    Bstr found;
    ASSERT_EQ(owner.FindFileRecursive(Bstr(dir), Bstr(u"Target.xml"), found.Put()), S_OK) << vkr::Utf16ToUtf8(dir);
    std::string native;
    ASSERT_EQ(vkr::platform::MapPath(found.View(), &native), 0u);
    EXPECT_TRUE(fs::equivalent(native, root_ / "tree" / "b_dir" / "c" / "Target.xml")) << native;
  }
  Bstr found;
  ASSERT_EQ(owner.FindFileRecursive(Bstr(base), Bstr(u"Target.xml"), found.Put()), S_OK);
  EXPECT_EQ(found.View(), expected);
  BSTR untouched = nullptr;
  EXPECT_EQ(owner.FindFileRecursive(Bstr(base), Bstr(u"Absent.xml"), &untouched), S_FALSE);
  EXPECT_EQ(untouched, nullptr);
  EXPECT_EQ(owner.FindFileRecursive(Bstr(U16(root_ / "no such dir")), Bstr(u"Target.xml"), &untouched), S_FALSE);
  EXPECT_EQ(owner.FindFileRecursive(nullptr, Bstr(u"Target.xml"), &untouched), E_INVALIDARG);
  EXPECT_EQ(owner.FindFileRecursive(Bstr(base), Bstr(u""), &untouched), E_INVALIDARG);
  EXPECT_EQ(owner.FindFileRecursive(Bstr(base), Bstr(u"Target.xml"), nullptr), E_INVALIDARG);
}

TEST_F(XmlHandlerTest, SearchDepthIsBounded) {
  fs::path deep = root_ / "deep";
  for (int i = 0; i < vkr::xml_detail::kMaxSearchDepth + 2; ++i) deep /= "d";
  fs::create_directories(deep);
  vkr::test::WriteFileText(deep / "Deep.xml", "<x/>");
  // A directory that contains itself must not send the search round for ever.
  fs::create_directory_symlink(root_ / "deep", root_ / "deep" / "loop");
  TestOwner owner;
  Bstr found;
  EXPECT_EQ(owner.FindFileRecursive(Bstr(U16(root_ / "deep")), Bstr(u"Deep.xml"), found.Put()), S_FALSE);
  EXPECT_EQ(owner.FindFileRecursive(Bstr(U16(root_ / "deep")), Bstr(u"Nowhere.xml"), found.Put()), S_FALSE);
}

TEST(SchemaFileNames, ReasonsAreScannedForEveryXmlName) {
  const struct {
    const char16_t* reason;
    std::vector<std::u16string> names;
  } cases[] = {
      {u"The schema \"x-schema:DTMStateSchema.xml\" is not in the schema cache.", {u"DTMStateSchema.xml"}},
      {u"'A.xml' and \"dir\\B.xml\" and C:\\x\\C.xml", {u"A.xml", u"B.xml", u"C.xml"}},
      {u"A.xmlB.xml", {u"A.xml", u"B.xml"}},  // the walk back stops where the previous name ended
      {u"no file here", {}},
      {u".xml alone", {}},
      {u"path/to/Z.xml?query", {u"Z.xml"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vkr::xml_detail::SchemaFileNamesIn(c.reason), c.names) << vkr::Utf16ToUtf8(c.reason);
}

TEST(ErrorText, IsCutAt4095BytesWithoutSplittingACharacter) {
  auto format = [](const char* f, ...) {
    va_list args;
    va_start(args, f);
    std::string s = FormatErrorTextV(f, args);
    va_end(args);
    return s;
  };
  EXPECT_EQ(format("Code %08X: %s", 0x800C0006u, "text"), "Code 800C0006: text");
  const std::string longText(5000, 'x');
  EXPECT_EQ(format("%s", longText.c_str()).size(), 4095u);
  std::string umlauts;
  for (int i = 0; i < 3000; ++i) umlauts += "\xc3\xa4";
  const std::string cut = format("%s", umlauts.c_str());
  EXPECT_EQ(cut.size(), 4094u);
  EXPECT_EQ(vkr::Utf8ToUtf16(cut), std::u16string(2047, u'\u00e4'));
  EXPECT_EQ(format(nullptr), "");
}

}  // namespace

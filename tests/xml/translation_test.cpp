// The translation document and its services: look-ups with their language fallbacks, the language
// list and selection, loading and keeping documents, merging a function's file, the file's
// location and reading, and the entry and message look-ups with their built-in texts.
#include "xml/IovFdtTranslationImpl.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"
#include "tests/support/stub_dispatch.h"
#include "xml/Conversions.h"
#include "xml/Translation.h"

namespace fs = std::filesystem;

namespace {

using vkr::Bstr;
using vkr::ComPtr;

constexpr const char* kNoSchemas[] = {""};

// The smallest owner: an error sink that keeps its texts and an XML handler without schemas.
class Owner final : public CovFDTXMLHandlerImpl<Owner>, public IovFdtTranslationImpl<Owner> {
 public:
  static const char* const* GetSchemaFileList() { return kNoSchemas; }
  void OnError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    errors.push_back(FormatErrorTextV(format, args));
    va_end(args);
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IovFdtTranslation::iid) return E_NOINTERFACE;
    *ppv = static_cast<IovFdtTranslation*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  VKR_NO_DISPATCH

  std::u16string Code() const { return m_bstrLanguageCode.Str(); }
  bool HasDocument() const { return HasTranslationDocument(); }
  std::vector<std::string> errors;
};

struct Lookup {
  HRESULT hr;
  bool found;
  std::string text;
};

Lookup Translate(IovFdtTranslation& t, const std::u16string& path) {
  BSTR text = reinterpret_cast<BSTR>(1);  // must be overwritten
  VARIANT_BOOL found = VARIANT_TRUE;
  Lookup r{};
  r.hr = t.GetTranslation(Bstr(path), &text, &found);
  r.found = found != VARIANT_FALSE;
  r.text = text ? vkr::Utf16ToUtf8(vkr::View(text)) : "<null>";
  SysFreeString(text);
  return r;
}

// Languages: the document's list covers the selection cases; texts cover the fallbacks.
constexpr char16_t kDocument[] = uR"(<localization>
  <general><languages>
    <language lcid="1033" code="en-us"/>
    <language lcid="1031" code="de-de"/>
    <language lcid="3079" code="de-at"/>
    <language lcid="2057" code="EN-US"/>
    <language code="xx"/>
    <language lcid="1036"/>
    <language lcid="12" code='q"uote'/>
    <language lcid="13" code="b'o&quot;th"/>
    <language lcid="14" code="x"/>
  </languages></general>
  <T>
    <Full><locale code="de-de">full de-de</locale><locale code="de">full de</locale><locale code="en-us">full en-us</locale><locale code="en">full en</locale></Full>
    <Primary><locale code="de">primary de</locale><locale code="en-us">primary en-us</locale></Primary>
    <English><locale code="en-us">english en-us</locale><locale code="en">english en</locale></English>
    <Neutral><locale code="en">neutral en</locale></Neutral>
    <Empty><locale code="de-de"/><locale code="en-us">empty en-us</locale></Empty>
    <Quoted><locale code='q"uote'>quoted</locale><locale code="en-us">quoted en-us</locale></Quoted>
    <None><locale code="fr-fr">none fr</locale></None>
  </T>
</localization>)";

class Translation : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    Load(kDocument);
  }
  void TearDown() override { CoUninitialize(); }
  void Load(const std::u16string& text) {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ASSERT_EQ(owner.LoadTranslationXml(Bstr(text), &loaded), S_OK) << testing::PrintToString(owner.errors);
    ASSERT_EQ(loaded, VARIANT_TRUE);
  }
  void Select(ULONG lcid) {
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(owner.SetLanguage(lcid, &done), S_OK) << lcid;
    ASSERT_EQ(done, VARIANT_TRUE) << lcid;
  }
  Owner owner;
};

TEST_F(Translation, LookUpsFallBackFromTheLanguageToItsPrimaryPartToEnglish) {
  struct Case {
    ULONG lcid;  // selects the current code
    const char16_t* path;
    HRESULT hr;
    bool found;
    const char* text;
  };
  const Case cases[] = {
      {1031, u"localization/T/Full", S_OK, true, "full de-de"},
      {1031, u"localization/T/Primary", S_OK, true, "primary de"},
      {3079, u"localization/T/Primary", S_OK, true, "primary de"},
      {1031, u"localization/T/English", S_OK, true, "english en-us"},
      {1031, u"localization/T/Neutral", S_OK, true, "neutral en"},  // "en-us" cut to "en"
      {1031, u"localization/T/Empty", S_OK, true, ""},              // an empty locale counts
      {1031, u"localization/T/None", S_FALSE, false, "<null>"},
      {1031, u"localization/T/Missing", S_FALSE, false, "<null>"},
      {1033, u"localization/T/Full", S_OK, true, "full en-us"},
      {1033, u"localization/T/Neutral", S_OK, true, "neutral en"},
      {1033, u"localization/T/None", S_FALSE, false, "<null>"},
      // Codes compare exactly: "EN-US" finds nothing itself, but the English retry still runs.
      {2057, u"localization/T/English", S_OK, true, "english en-us"},
      // A code with a double quote still matches; one with both quotes matches nothing of its own.
      {12, u"localization/T/Quoted", S_OK, true, "quoted"},
      {13, u"localization/T/Quoted", S_OK, true, "quoted en-us"},
      {14, u"localization/T/Full", S_OK, true, "full en-us"},  // too short to cut
  };
  for (const Case& c : cases) {
    Select(c.lcid);
    const Lookup r = Translate(owner, c.path);
    const std::string where = std::to_string(c.lcid) + " " + vkr::Utf16ToUtf8(c.path);
    EXPECT_EQ(r.hr, c.hr) << where;
    EXPECT_EQ(r.found, c.found) << where;
    EXPECT_EQ(r.text, c.text) << where;
  }
}

TEST_F(Translation, GetLocaleTextCutsTheCodeAtItsFirstDashOnly) {
  BSTR text = nullptr;
  VARIANT_BOOL found = VARIANT_FALSE;
  // "de-de-x" becomes "de", not "de-de".
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"de-de-x"), Bstr(u"localization/T/Full"), &text, &found), S_OK);
  EXPECT_EQ(vkr::View(text), u"full de");
  SysFreeString(text);
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"-de"), Bstr(u"localization/T/Full"), &text, &found), S_FALSE);
  EXPECT_EQ(found, VARIANT_FALSE);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"de"), Bstr(u""), &text, &found), E_INVALIDARG);
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"de"), Bstr(u"x"), nullptr, &found), E_POINTER);
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"de"), Bstr(u"x"), &text, nullptr), E_POINTER);
  // A path that is no XPath at all is "not found", not a failure the caller has to handle.
  EXPECT_EQ(owner.GetLocaleText(Bstr(u"de-de"), Bstr(u"localization/T[["), &text, &found), S_FALSE);
}

TEST_F(Translation, GetTranslationRefusesNullOutPointers) {
  BSTR text = nullptr;
  VARIANT_BOOL found = VARIANT_FALSE;
  EXPECT_EQ(owner.GetTranslation(Bstr(u"localization/T/Full"), nullptr, &found), E_INVALIDARG);
  EXPECT_EQ(owner.GetTranslation(Bstr(u"localization/T/Full"), &text, nullptr), E_INVALIDARG);
}

TEST_F(Translation, WithoutADocumentEveryCallFailsSoftly) {
  Owner empty;
  const Lookup r = Translate(empty, u"localization/T/Full");
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, "<null>");
  LONG count = 7;
  EXPECT_EQ(empty.GetLanguageCount(&count), S_FALSE);
  EXPECT_EQ(count, 0);
  ULONG lcid = 42;
  EXPECT_EQ(empty.GetLanguageId(0, &lcid), S_FALSE);
  EXPECT_EQ(lcid, 42u);
  VARIANT_BOOL flag = VARIANT_TRUE;
  EXPECT_EQ(empty.SetLanguage(1031, &flag), E_FAIL);
  EXPECT_EQ(flag, VARIANT_FALSE);
  EXPECT_EQ(empty.Code(), u"en-us");
  flag = VARIANT_TRUE;
  EXPECT_EQ(empty.HasTranslationNode(Bstr(u"localization"), &flag), E_FAIL);
  EXPECT_EQ(flag, VARIANT_FALSE);
  EXPECT_TRUE(empty.errors.empty());
}

TEST_F(Translation, TheLanguageListCountsOnlyLanguagesWithAnLcid) {
  LONG count = 0;
  ASSERT_EQ(owner.GetLanguageCount(&count), S_OK);
  EXPECT_EQ(count, 8);
  const ULONG expected[] = {1033, 1031, 3079, 2057, 1036, 12, 13, 14};
  for (LONG i = 0; i < count; ++i) {
    ULONG lcid = 0;
    EXPECT_EQ(owner.GetLanguageId(i, &lcid), S_OK) << i;
    EXPECT_EQ(lcid, expected[i]) << i;
  }
  ULONG lcid = 99;
  EXPECT_EQ(owner.GetLanguageId(count, &lcid), E_FAIL);
  EXPECT_EQ(owner.GetLanguageId(-1, &lcid), E_FAIL);
  EXPECT_EQ(lcid, 99u);
  EXPECT_EQ(owner.GetLanguageCount(nullptr), E_POINTER);
  EXPECT_EQ(owner.GetLanguageId(0, nullptr), E_POINTER);
}

TEST_F(Translation, AnLcidThatIsNoNumberLeavesThatLanguageOutAndIsReportedOnce) {
  owner.errors.clear();
  Load(uR"(<localization><general><languages>
      <language lcid="ten" code="x"/><language lcid="1033" code="en-us"/><language lcid="-5" code="y"/>
      <language lcid="99999999999" code="z"/><language lcid="7" code="de"/></languages></general></localization>)");
  LONG count = 0;
  ASSERT_EQ(owner.GetLanguageCount(&count), S_OK);
  ASSERT_EQ(count, 2);
  const ULONG expected[] = {1033, 7};
  for (LONG i = 0; i < count; ++i) {
    ULONG lcid = 0;
    EXPECT_EQ(owner.GetLanguageId(i, &lcid), S_OK) << i;
    EXPECT_EQ(lcid, expected[i]) << i;
  }
  ULONG lcid = 5;
  EXPECT_EQ(owner.GetLanguageId(2, &lcid), E_FAIL);
  EXPECT_EQ(lcid, 5u);
  ASSERT_EQ(owner.errors.size(), 1u);
  EXPECT_EQ(owner.errors[0],
            "Invalid translation file:\r\n"
            "language 1: lcid=\"ten\" is not a language id (a number from 0 to 4294967295); the language is left out\r\n"
            "language 3: lcid=\"-5\" is not a language id (a number from 0 to 4294967295); the language is left out\r\n"
            "language 4: lcid=\"99999999999\" is not a language id (a number from 0 to 4294967295); the language is "
            "left out");
  // The counting and the look-ups report nothing more.
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(owner.SetLanguage(7, &done), S_OK);
  EXPECT_EQ(owner.errors.size(), 1u);
}

TEST_F(Translation, SetLanguageSelectsByLcidThenByItsLowByte) {
  struct Case {
    const char16_t* languages;
    ULONG lcid;
    HRESULT hr;
    bool done;
    const char16_t* code;  // afterwards; the code before is "en-us"
  };
  const Case cases[] = {
      {uR"(<language lcid="1031" code="de-de"/>)", 1031, S_OK, true, u"de-de"},
      {uR"(<language lcid="7" code="de"/>)", 1031, S_OK, true, u"de"},
      {uR"(<language lcid="7" code="de"/><language lcid="1031" code="de-de"/>)", 1031, S_OK, true, u"de-de"},
      {uR"(<language lcid="7" code="de"/>)", 3079, S_OK, true, u"de"},
      {uR"(<language lcid="1031" code="de-de"/>)", 1036, S_FALSE, false, u"en-us"},
      {uR"(<language lcid="1031"/>)", 1031, S_FALSE, false, u"en-us"},  // no code
      {uR"(<language code="de-de"/>)", 1031, S_FALSE, false, u"en-us"},  // no lcid
      {uR"(<language lcid="01031" code="de-de"/>)", 1031, S_FALSE, false, u"en-us"},  // compared as text
  };
  for (const Case& c : cases) {
    Owner fresh;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const std::u16string text = u"<localization><general><languages>" + std::u16string(c.languages) +
                                u"</languages></general></localization>";
    ASSERT_EQ(fresh.LoadTranslationXml(Bstr(text), &loaded), S_OK);
    VARIANT_BOOL done = VARIANT_TRUE;
    const std::string where = vkr::Utf16ToUtf8(c.languages) + " " + std::to_string(c.lcid);
    EXPECT_EQ(fresh.SetLanguage(c.lcid, &done), c.hr) << where;
    EXPECT_EQ(done != VARIANT_FALSE, c.done) << where;
    EXPECT_EQ(fresh.Code(), c.code) << where;
  }
  EXPECT_EQ(owner.SetLanguage(1031, nullptr), E_POINTER);
}

TEST_F(Translation, ALanguageTheFileDoesNotListKeepsTheCurrentOne) {
  Select(1031);
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(owner.SetLanguage(1041, &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(owner.Code(), u"de-de");
  EXPECT_EQ(Translate(owner, u"localization/T/Full").text, "full de-de");
}

TEST_F(Translation, ATextThatDoesNotParseIsReportedAndKeepsTheEarlierDocument) {
  Select(1031);
  const char16_t* bad[] = {u"<localization><general>", u"", u"not xml at all", u"<a/><b/>",
                           u"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"};
  for (const char16_t* text : bad) {
    owner.errors.clear();
    VARIANT_BOOL loaded = VARIANT_TRUE;
    EXPECT_EQ(owner.LoadTranslationXml(Bstr(text), &loaded), E_FAIL) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(loaded, VARIANT_FALSE);
    ASSERT_EQ(owner.errors.size(), 1u) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(owner.errors[0].rfind("Invalid translation file:\r\nError 0x", 0), 0u) << owner.errors[0];
  }
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(owner.LoadTranslationXml(nullptr, &loaded), E_FAIL);
  EXPECT_EQ(owner.LoadTranslationXml(Bstr(u"<a/>"), nullptr), E_POINTER);
  // The earlier document and the language chosen in it are still in use.
  EXPECT_EQ(Translate(owner, u"localization/T/Full").text, "full de-de");
}

TEST_F(Translation, ANewDocumentReplacesTheOldOneButNotTheLanguage) {
  Select(1031);
  Load(uR"(<localization><T><Full><locale code="de-de">neu</locale></Full></T></localization>)");
  EXPECT_EQ(owner.Code(), u"de-de");
  EXPECT_EQ(Translate(owner, u"localization/T/Full").text, "neu");
  EXPECT_FALSE(Translate(owner, u"localization/T/Primary").found);
  LONG count = 5;
  EXPECT_EQ(owner.GetLanguageCount(&count), S_OK);
  EXPECT_EQ(count, 0);
}

TEST_F(Translation, HasTranslationNodeTellsWhetherAPathSelectsANode) {
  VARIANT_BOOL exists = VARIANT_FALSE;
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"localization/T/Full"), &exists), S_OK);
  EXPECT_EQ(exists, VARIANT_TRUE);
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"localization/T/Nothing"), &exists), S_FALSE);
  EXPECT_EQ(exists, VARIANT_FALSE);
  EXPECT_TRUE(FAILED(owner.HasTranslationNode(Bstr(u"localization/T[["), &exists)));
  EXPECT_EQ(exists, VARIANT_FALSE);
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"localization"), nullptr), E_POINTER);
}

TEST_F(Translation, SelectTranslationNodesHandsOutTheNodesAPathSelects) {
  struct Case {
    const char16_t* path;
    HRESULT hr;  // E_FAIL stands for any failure of the selection
    LONG count;
  } cases[] = {
      {u"localization/general/languages/language[@code]", S_OK, 8},
      {u"localization/T/*", S_OK, 7},
      {u"localization/T/Nothing", S_OK, 0},
      {u"localization/T[[", E_FAIL, 0},
      {u"", E_FAIL, 0},
  };
  for (const Case& c : cases) {
    ComPtr<IXMLDOMNodeList> nodes;
    const HRESULT hr = owner.SelectTranslationNodes(Bstr(c.path), nodes.Put());
    const std::string what = vkr::Utf16ToUtf8(c.path);
    if (c.hr != S_OK) {
      EXPECT_TRUE(FAILED(hr)) << what;
      EXPECT_FALSE(nodes) << what;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << what;
    ASSERT_TRUE(nodes) << what;
    LONG length = -1;
    ASSERT_EQ(nodes->get_length(&length), S_OK) << what;
    EXPECT_EQ(length, c.count) << what;
  }
  EXPECT_EQ(owner.SelectTranslationNodes(Bstr(u"localization"), nullptr), E_POINTER);
  Owner empty;
  IXMLDOMNodeList* none = reinterpret_cast<IXMLDOMNodeList*>(1);
  EXPECT_EQ(empty.SelectTranslationNodes(Bstr(u"localization"), &none), E_FAIL);
  EXPECT_EQ(none, nullptr);

  // The nodes are the owner's own: a change through them leaves a DTM that shares the text alone.
  Owner other;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(other.LoadTranslationXml(Bstr(kDocument), &loaded), S_OK);
  ComPtr<IXMLDOMNodeList> full;
  ASSERT_EQ(owner.SelectTranslationNodes(Bstr(u"localization/T/Full"), full.Put()), S_OK);
  ComPtr<IXMLDOMNode> node, parent, removed;
  ASSERT_EQ(full->get_item(0, node.Put()), S_OK);
  ASSERT_EQ(node->get_parentNode(parent.Put()), S_OK);
  ASSERT_EQ(parent->removeChild(node, removed.Put()), S_OK);
  EXPECT_FALSE(Translate(owner, u"localization/T/Full").found);
  EXPECT_EQ(Translate(other, u"localization/T/Full").text, "full en-us");
}

// ---- A function's own translation file -------------------------------------------------------

class MergeTest : public Translation {
 protected:
  void SetUp() override {
    Translation::SetUp();
    dir = vkr::test::TestDirectory() / ("merge" + std::to_string(++counter));
    fs::create_directories(dir);
    ASSERT_EQ(owner.InitializeSchemaCache(Bstr(vkr::Utf8ToUtf16(dir.string()))), S_OK);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    vkr::test::WriteFileText(dir / name, bytes);
    return (dir / name).string();
  }
  fs::path dir;
  static inline int counter = 0;
};

TEST_F(MergeTest, TakesTheFirstFunctionAndActiveXWithTheIdInPlace) {
  Load(uR"(<localization><DTM><FunctionList/></DTM><ActiveXList/></localization>)");
  const std::string file = Write("f.xml",
                                 "<Translation><Function id=\"%d\"><Name><locale code=\"en-us\">50 % done %s</locale>"
                                 "</Name></Function><Function id=\"99\"/>"
                                 "<ActiveX classname=\"Fn%d Ctrl\"><Title><locale code=\"en-us\">T</locale></Title>"
                                 "</ActiveX><ActiveX classname=\"Other\"/></Translation>");
  ASSERT_EQ(owner.MergeTranslationFile(17, file.c_str()), S_OK) << testing::PrintToString(owner.errors);
  EXPECT_EQ(Translate(owner, u"localization/DTM/FunctionList/Function[@id=\"17\"]/Name").text, "50 % done %s");
  EXPECT_EQ(Translate(owner, u"localization/ActiveXList/ActiveX[@classname=\"Fn17 Ctrl\"]/Title").text, "T");
  VARIANT_BOOL exists = VARIANT_TRUE;
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"localization/DTM/FunctionList/Function[@id=\"99\"]"), &exists), S_FALSE);
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"localization/ActiveXList/ActiveX[@classname=\"Other\"]"), &exists),
            S_FALSE);
}

// DTMs of one thread that load the same text read one document; a merge changes only the
// merging DTM's translation, also for DTMs that load the text later.
TEST_F(MergeTest, AMergeChangesOnlyTheMergingOwnersDocument) {
  constexpr char16_t kText[] = uR"(<localization><DTM><FunctionList/></DTM><ActiveXList/></localization>)";
  Load(kText);
  Owner other;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(other.LoadTranslationXml(Bstr(kText), &loaded), S_OK);
  const std::string file = Write("h.xml", "<Translation><Function id=\"%d\"><Name><locale code=\"en-us\">F</locale>"
                                          "</Name></Function></Translation>");
  ASSERT_EQ(owner.MergeTranslationFile(5, file.c_str()), S_OK) << testing::PrintToString(owner.errors);
  const std::u16string merged = u"localization/DTM/FunctionList/Function[@id=\"5\"]/Name";
  EXPECT_EQ(Translate(owner, merged).text, "F");
  EXPECT_FALSE(Translate(other, merged).found);
  Owner later;
  ASSERT_EQ(later.LoadTranslationXml(Bstr(kText), &loaded), S_OK);
  EXPECT_FALSE(Translate(later, merged).found);
  // The merging owner merges again into its own copy.
  ASSERT_EQ(owner.MergeTranslationFile(6, file.c_str()), S_OK);
  EXPECT_EQ(Translate(owner, u"localization/DTM/FunctionList/Function[@id=\"6\"]/Name").text, "F");
  EXPECT_FALSE(Translate(later, u"localization/DTM/FunctionList/Function[@id=\"6\"]/Name").found);
}

TEST_F(MergeTest, NothingIsMergedWhereTheDocumentHasNoList) {
  const std::string file = Write("g.xml", "<Translation><Function id=\"%d\"/><ActiveX classname=\"a\"/></Translation>");
  EXPECT_EQ(owner.MergeTranslationFile(3, file.c_str()), S_OK);
  VARIANT_BOOL exists = VARIANT_TRUE;
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"//Function"), &exists), S_FALSE);
  EXPECT_EQ(owner.HasTranslationNode(Bstr(u"//ActiveX"), &exists), S_FALSE);
}

TEST_F(MergeTest, FailuresOfTheFileOrTheDocumentAreReturned) {
  EXPECT_EQ(owner.MergeTranslationFile(3, (dir / "missing.xml").string().c_str()), E_FAIL);
  const std::string broken = Write("broken.xml", "<Translation><Function>");
  owner.errors.clear();
  EXPECT_EQ(owner.MergeTranslationFile(3, broken.c_str()), E_FAIL);
  EXPECT_FALSE(owner.errors.empty());
  const std::string good = Write("good.xml", "<Translation><Function id=\"%d\"/></Translation>");
  Owner withoutDocument;
  ASSERT_EQ(withoutDocument.InitializeSchemaCache(Bstr(vkr::Utf8ToUtf16(dir.string()))), S_OK);
  EXPECT_EQ(withoutDocument.MergeTranslationFile(3, good.c_str()), E_FAIL);
}

TEST(SubstituteFunctionId, OnlyThePlaceholderIsReplaced) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  };
  const Case cases[] = {
      {u"<F id=\"%d\"/>", u"<F id=\"42\"/>"},
      {u"%d%d", u"4242"},
      {u"50 % done", u"50 % done"},
      {u"%s %n %x %5d", u"%s %n %x %5d"},
      {u"100%%", u"100%"},
      {u"%%d", u"%d"},
      {u"trailing %", u"trailing %"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    BSTR out = nullptr;
    ASSERT_EQ(SubstituteFunctionId(Bstr(c.in), 42, &out), S_OK);
    EXPECT_EQ(vkr::View(out), std::u16string_view(c.out)) << vkr::Utf16ToUtf8(c.in);
    SysFreeString(out);
  }
  BSTR out = nullptr;
  ASSERT_EQ(SubstituteFunctionId(Bstr(u"%d"), -7, &out), S_OK);
  EXPECT_EQ(vkr::View(out), u"-7");
  SysFreeString(out);
  EXPECT_EQ(SubstituteFunctionId(Bstr(u"%d"), 1, nullptr), E_POINTER);
}

// ---- Location and reading of files -------------------------------------------------------------

class TranslationFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir = vkr::test::TestDirectory() / ("files" + std::to_string(++counter));
    fs::create_directories(dir);
    vkr::platform::UseRegistryFile((dir / "registry.reg").string());
  }
  void TearDown() override { vkr::platform::UseRegistryFile(""); }
  void SetValue(DWORD type, const std::u16string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::u16string name = vkr::Utf8ToUtf16(kTranslationPathValue);
    RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
  }
  static std::u16string Path() {
    BSTR path = nullptr;
    EXPECT_EQ(GetTranslationPath(&path), S_OK);
    std::u16string text(vkr::View(path));
    SysFreeString(path);
    return text;
  }
  static std::u16string ModuleDirectory() {
    Bstr module, directory;
    module.Attach(GetModulePath());
    directory.Attach(DirectoryOfPath(module));
    return directory.Str();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    vkr::test::WriteFileText(dir / name, bytes);
    return (dir / name).string();
  }
  fs::path dir;
  static inline int counter = 0;
};

TEST_F(TranslationFiles, TheDirectoryComesFromTheRegistryOrIsBesideTheModule) {
  EXPECT_EQ(Path(), ModuleDirectory() + u".\\");
  struct Case {
    DWORD type;
    std::u16string value;
    std::u16string expected;
  };
  const Case cases[] = {
      {REG_SZ, u"D:\\Texts", u"D:\\Texts\\"},
      {REG_SZ, u"D:\\Texts\\", u"D:\\Texts\\"},
      {REG_EXPAND_SZ, u"/opt/vkr/texts", u"/opt/vkr/texts\\"},
      {REG_SZ, u"texts", ModuleDirectory() + u"texts\\"},
      {REG_SZ, u"", ModuleDirectory() + u".\\"},
      {REG_BINARY, u"D:\\Texts", ModuleDirectory() + u".\\"},
      {REG_SZ, u"D:\\" + std::u16string(300, u'x'), ModuleDirectory() + u".\\"},  // longer than the buffer
  };
  for (const Case& c : cases) {
    SetValue(c.type, c.value);
    EXPECT_EQ(Path(), c.expected) << vkr::Utf16ToUtf8(c.value.substr(0, 20));
  }
  EXPECT_EQ(GetTranslationPath(nullptr), E_INVALIDARG);
}

TEST_F(TranslationFiles, TextFilesAreDecodedByTheirByteOrderMark) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"<a>\xC3\xA4</a>", u"<a>\u00E4</a>"},
      {"\xEF\xBB\xBF<a>\xC3\xA4</a>", u"<a>\u00E4</a>"},
      {std::string("\xFF\xFE<\0a\0>\0\xE4\0", 10), u"<a>\u00E4"},
      {std::string("\xFE\xFF\0<\0a\0>\0\xE4", 10), u"<a>\u00E4"},
      {"", u""},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string file = Write("text" + std::to_string(++n), c.bytes);
    BSTR text = nullptr;
    ASSERT_EQ(ReadTextFile(file.c_str(), &text), S_OK) << n;
    EXPECT_EQ(vkr::View(text), c.text) << n;
    EXPECT_NE(text, nullptr) << n;
    SysFreeString(text);
  }
}

TEST_F(TranslationFiles, UnreadableFilesAreRefused) {
  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(ReadTextFile((dir / "missing").string().c_str(), &text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(ReadTextFile(dir.string().c_str(), &text), E_FAIL);  // a directory
  const std::string odd = Write("odd", std::string("\xFF\xFE<\0a", 5));
  EXPECT_EQ(ReadTextFile(odd.c_str(), &text), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(ReadTextFile(nullptr, &text), E_POINTER);
  EXPECT_EQ(ReadTextFile(odd.c_str(), nullptr), E_POINTER);
}

// The root element a DTM took from a translation file is kept for the next DTM while the file's
// bytes stay; a file rewritten with the same size and time stamp but other words is read again.
TEST_F(TranslationFiles, AKeptFileIsReadAgainWhenItsBytesChange) {
  const std::string file = Write("VornExampleDtmTranslation.xml", "<localization>Hallo</localization>");
  const std::u16string path = vkr::Utf8ToUtf16(file);
  vkr::KeepReadTranslationFile(path, u"<localization>Hallo</localization>");
  std::u16string xml;
  ASSERT_TRUE(vkr::FindReadTranslationFile(path, &xml));
  EXPECT_EQ(xml, u"<localization>Hallo</localization>");
  const auto stamp = fs::last_write_time(file);
  Write("VornExampleDtmTranslation.xml", "<localization>Hello</localization>");
  fs::last_write_time(file, stamp);
  ASSERT_EQ(fs::file_size(file), 34u);
  EXPECT_FALSE(vkr::FindReadTranslationFile(path, &xml));
}

// ---- Entry texts and toolkit messages ----------------------------------------------------------

TEST_F(Translation, EnumerationEntryTextsAreFoundInEitherLayout) {
  Load(uR"(<localization><DTM><EnumerationList>
      <Enumeration id="991">
        <EnumerationEntry id="0"><Label><locale code="en-us">labelled</locale></Label></EnumerationEntry>
        <EnumerationEntry id="-3"><locale code="en-us">direct</locale></EnumerationEntry>
        <EnumerationEntry id="4"><Description><locale code="en-us">only a description</locale></Description></EnumerationEntry>
      </Enumeration></EnumerationList></DTM></localization>)");
  struct Case {
    LONG value;
    HRESULT hr;
    const char16_t* text;
  };
  const Case cases[] = {{0, S_OK, u"labelled"}, {-3, S_OK, u"direct"}, {4, E_FAIL, nullptr}, {5, E_FAIL, nullptr}};
  for (const Case& c : cases) {
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(GetEnumerationEntryText(static_cast<IovFdtTranslation*>(&owner), 991, c.value, &text), c.hr) << c.value;
    if (c.text)
      EXPECT_EQ(vkr::View(text), std::u16string_view(c.text)) << c.value;
    else
      EXPECT_EQ(text, nullptr) << c.value;
    SysFreeString(text);
  }
  BSTR text = nullptr;
  EXPECT_EQ(GetEnumerationEntryText(nullptr, 991, 0, &text), E_FAIL);
  EXPECT_EQ(GetEnumerationEntryText(static_cast<IovFdtTranslation*>(&owner), 991, 0, nullptr), E_POINTER);
}

TEST_F(Translation, ToolkitMessagesFallBackToTheirBuiltInEnglish) {
  Load(uR"(<localization><general><languages><language lcid="1031" code="de-de"/></languages></general>
      <ToolkitMessages><Message id="4001"><locale code="de-de">Warnung</locale></Message></ToolkitMessages>
      </localization>)");
  Select(1031);
  struct Case {
    IUnknown* dtm;
    ULONG id;
    const char16_t* text;
  };
  IUnknown* dtm = static_cast<IovFdtTranslation*>(&owner);
  const Case cases[] = {
      {dtm, 4001, u"Warning"},  // replaced below by the translation
      {dtm, 4002, u"Apply changes?"},
      {dtm, 1001, u"There was an error during upload parameters.\r\nDo you want to stop upload?"},
      {nullptr, 4001, u"Warning"},
      {dtm, 7, nullptr},
      {nullptr, 7, nullptr},
  };
  for (const Case& c : cases) {
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(GetToolkitMessageText(c.dtm, c.id, &text), S_OK) << c.id;
    const char16_t* expected = (c.dtm && c.id == 4001) ? u"Warnung" : c.text;
    if (expected)
      EXPECT_EQ(vkr::View(text), std::u16string_view(expected)) << c.id;
    else
      EXPECT_EQ(text, nullptr) << c.id;
    SysFreeString(text);
  }
  EXPECT_EQ(GetToolkitMessageText(dtm, 4001, nullptr), E_POINTER);
}

}  // namespace

// ---- Allocation faults -------------------------------------------------------------------------

// The N-th allocation fails, for N = 1, 2, ... until a run reaches no fault. A load that fails
// keeps the earlier document; a look-up that fails finds nothing rather than a wrong text.
TEST_F(Translation, AllocationFaultsNeverLeaveAHalfLoadedDocumentOrAWrongText) {
  Select(1031);
  const Bstr replacement(uR"(<localization><general><languages><language lcid="1031" code="de-de"/>
      </languages></general><T><Full><locale code="de-de">replaced</locale></Full></T></localization>)");
  const Bstr path(u"localization/T/Full");
  for (unsigned n = 1;; ++n) {
    ASSERT_LT(n, 5000u) << "the sweep did not end";
    vkr::platform::SetAllocationFault(n);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT load = owner.LoadTranslationXml(replacement, &loaded);
    BSTR text = nullptr;
    VARIANT_BOOL found = VARIANT_FALSE;
    const HRESULT lookUp = owner.GetTranslation(path, &text, &found);
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    const std::string text8 = text ? vkr::Utf16ToUtf8(vkr::View(text)) : "<null>";
    SysFreeString(text);
    EXPECT_EQ(SUCCEEDED(load), loaded != VARIANT_FALSE) << n;
    if (found) {
      EXPECT_EQ(lookUp, S_OK) << n;
      EXPECT_EQ(text8, SUCCEEDED(load) ? "replaced" : "full de-de") << n;
    } else {
      EXPECT_EQ(text8, "<null>") << n;
    }
    if (SUCCEEDED(load)) Load(kDocument);  // back to the earlier document for the next run
    if (!reached) {
      EXPECT_EQ(load, S_OK);
      EXPECT_TRUE(found);
      EXPECT_GT(n, 1u) << "no allocation was ever made to fail";
      break;
    }
  }
}

// The DTM's translation: the translation file found and loaded at creation (beside the module, or
// where the registry says), a missing or malformed file, switching the language through the
// frame's call with its fallback to English, the parameter and enumeration texts copied into the
// parameter model, the re-translate broadcast to open user interfaces, the about file, and the
// shipped file's texts against the built-in English ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/dtm_fakes.h"
#include "tests/support/temp_files.h"
#include "xml/Conversions.h"
#include "xml/Translation.h"

namespace {

using namespace vkr::test;
using vkr::Bstr;

constexpr ULONG kBroadcastLanguage = 0x2700;

// A file of the shipped shape with texts these tests can tell apart.
constexpr char kSmallFile[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<localization>
  <general><languages>
    <language lcid="1033" code="en-us"/><language lcid="1031" code="de-de"/><language lcid="7" code="de"/>
  </languages></general>
  <DTM>
    <ParameterList>
      <Parameter parId="121"><Name><locale code="en-us">Short address</locale><locale code="de-de">Kurzadresse</locale></Name>
        <Description><locale code="de">Adresse im Bus</locale></Description></Parameter>
      <Parameter parId="77777"><Name><locale code="en-us">nobody</locale></Name></Parameter>
      <Parameter parId="many"><Name><locale code="en-us">unreadable</locale></Name></Parameter>
      <Parameter parId="991"><Description><locale code="en-us">overwritten by the enumeration</locale></Description></Parameter>
    </ParameterList>
    <EnumerationList>
      <Enumeration id="991">
        <Label><locale code="de-de">Gerätetyp</locale></Label>
        <Description><locale code="en-us">Kind &lt;of&gt; device &amp; more</locale></Description>
        <EnumerationEntry id="0"><Label><locale code="de-de">Geführtes Radar</locale></Label>
          <Description><locale code="en-us">radar "GWR"</locale></Description></EnumerationEntry>
      </Enumeration>
      <Enumeration id="1064">
        <EnumerationEntry id="6"><Label><locale code="de-de">Sechs</locale></Label></EnumerationEntry>
      </Enumeration>
      <Enumeration id="1065"><Label><locale code="en-us">not enumerated</locale></Label></Enumeration>
    </EnumerationList>
  </DTM>
  <StringList><AboutFile><locale code="de-de">about_de.htm</locale></AboutFile></StringList>
  <ToolkitMessages><Message id="2004"><locale code="de-de">Entsperren fehlgeschlagen</locale></Message></ToolkitMessages>
</localization>
)";

class DtmTranslation : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override {
    dtm = nullptr;
    thread = nullptr;
    ui = nullptr;
    CoUninitialize();
  }

  // The registry's translation directory is `texts`, which holds `content` as the file (none
  // when null).
  void UseFile(const char* content) {
    SetTranslationPath(texts.path());
    const std::string file = texts / "VornExampleDtmTranslation.xml";
    std::filesystem::remove(file);
    if (content) WriteFileText(file, content);
  }
  void SetTranslationPath(const std::string& directory) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, kTranslationPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                   static_cast<DWORD>(directory.size() + 1));
    RegCloseKey(key);
  }
  void Create() {
    ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    dtm->SetThread(thread.Get());
    ASSERT_EQ(vkr::MakeObject<FakeUserInterface>(&ui), S_OK);
    ui->journal = &journal;
  }
  // Through the frame's call, in a state that admits it.
  HRESULT SetLanguage(LCID language, VARIANT_BOOL* result) {
    dtm->ForceState(dsCONFIGURED);
    return static_cast<IDtm&>(*dtm).SetLanguage(language, result);
  }
  LCID Language() {
    LCID language = 0;
    dtm->GetCurLanguageId(&language);
    return language;
  }
  std::string Field(ULONG id, ULONG mask) {
    vkr::Variant value;
    const HRESULT hr = static_cast<IovFdtParameterInfo&>(*dtm).GetParameterField(UI4(id), I4(static_cast<LONG>(mask)),
                                                                                value.Put());
    if (FAILED(hr)) return "<failed>";
    if (value.vt == (VT_ARRAY | VT_BSTR)) {
      std::string all;
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(value.parray, 1, &lower);
      SafeArrayGetUBound(value.parray, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        BSTR entry = nullptr;
        SafeArrayGetElement(value.parray, &i, &entry);
        all += (all.empty() ? "" : "|") + vkr::Utf16ToUtf8(vkr::View(entry));
        SysFreeString(entry);
      }
      return all;
    }
    return value.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(value.bstrVal)) : Show(value);
  }
  HRESULT SetField(ULONG id, ULONG mask, const VARIANT& value) {
    return static_cast<IovFdtParameterInfo&>(*dtm).SetParameterField(UI4(id), I4(static_cast<LONG>(mask)), value);
  }
  std::string Message(ULONG id) {
    Bstr text;
    dtm->TranslateBaseDtmMessage(id, text.Put());
    return vkr::Utf16ToUtf8(text.View());
  }
  IovFdtTranslation& Translation() { return static_cast<IovFdtTranslation&>(*dtm); }
  IovFdtDtmTranslation& Control() { return static_cast<IovFdtDtmTranslation&>(*dtm); }

  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  TempDir texts;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
};

// ---- Finding and loading the file --------------------------------------------------------------

TEST_F(DtmTranslation, TheShippedFileIsFoundBesideTheModuleWithoutAnySetting) {
  Create();
  EXPECT_TRUE(dtm->InitErrors().empty()) << dtm->InitErrors().front();
  LONG count = 0;
  ASSERT_EQ(Translation().GetLanguageCount(&count), S_OK);
  EXPECT_EQ(count, 2);
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Language(), 1031u);
  EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
  EXPECT_EQ(Message(2004), "Der DTM-Datensatz kann nicht entsperrt werden");
  ASSERT_EQ(SetLanguage(1033, &result), S_OK);
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  EXPECT_EQ(Message(2004), "Unable to unlock DTM data set");
}

// Every text the system looks up exists in both languages, and the English ones are the built-in
// texts: loading the file changes nothing for an English user.
TEST_F(DtmTranslation, TheShippedEnglishTextsAreTheBuiltInOnesAndEachHasAGermanOne) {
  // The built-in texts: a DTM whose registry points at a directory without the file.
  UseFile(nullptr);
  Create();
  const ULONG baseMessages[] = {1009, 1010, 1011, 2001, 2002, 2003, 2004, 3001, 3002, 6001, 6002};
  std::map<ULONG, std::string> builtIn;
  for (ULONG id : baseMessages) builtIn[id] = Message(id);
  std::map<ULONG, std::string> names;
  for (ULONG i = 0; i < 200; ++i) {
    vkr::Variant id;
    if (FAILED(static_cast<IovFdtParameterInfo&>(*dtm).GetParameterIdAt(UI4(i), id.Put()))) break;
    names[id.ulVal] = Field(id.ulVal, PIF_NAME);
  }
  const std::string enumeration = Field(991, PIF_ENUM_LIST);
  dtm = nullptr;

  // The shipped file, as the module finds it.
  vkr::Bstr module, directory;
  module.Attach(GetModulePath());
  directory.Attach(DirectoryOfPath(module));
  SetTranslationPath(vkr::Utf16ToUtf8(directory.View()));
  Create();
  ASSERT_TRUE(dtm->InitErrors().empty()) << dtm->InitErrors().front();
  for (ULONG id : baseMessages) EXPECT_EQ(Message(id), builtIn[id]) << id;
  for (const auto& [id, name] : names) EXPECT_EQ(Field(id, PIF_NAME), name) << id;
  EXPECT_EQ(Field(991, PIF_ENUM_LIST), enumeration);

  const ULONG uiMessages[] = {1001, 1002, 1003, 1004, 1005, 1006, 4001, 4002};
  auto toolkit = [&](ULONG id) {
    Bstr text;
    GetToolkitMessageText(static_cast<IovFdtTranslation*>(dtm.Get()), id, text.Put());
    return vkr::Utf16ToUtf8(text.View());
  };
  auto threadText = [&](ULONG id) {
    Bstr path(u"localization/ToolkitMessages/Message[@id=\"" + vkr::DecimalText(id) + u"\"]"), text;
    VARIANT_BOOL found = VARIANT_FALSE;
    Translation().GetTranslation(path, text.Put(), &found);
    return vkr::Utf16ToUtf8(text.View());
  };
  for (ULONG id : uiMessages) EXPECT_EQ(toolkit(id), vkr::Utf16ToUtf8(BuiltInToolkitMessageText(id))) << id;
  // The DTM thread's reports of a failed transfer and their built-in texts.
  EXPECT_EQ(threadText(1007), "Download parameters failed");
  EXPECT_EQ(threadText(1008), "Upload parameters failed");

  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  for (ULONG id : baseMessages) {
    EXPECT_NE(Message(id), builtIn[id]) << id;
    EXPECT_FALSE(Message(id).empty()) << id;
  }
  for (ULONG id : uiMessages) EXPECT_NE(toolkit(id), vkr::Utf16ToUtf8(BuiltInToolkitMessageText(id))) << id;
  for (ULONG id : {1007u, 1008u}) EXPECT_NE(threadText(id).find("fehlgeschlagen"), std::string::npos) << id;
  EXPECT_EQ(Field(991, PIF_ENUM_LIST), "0;Füllstandmessung mit geführtem Radar, 4-20 mA und HART");
}

TEST_F(DtmTranslation, AMissingFileIsReportedOnceAndTheDtmStaysEnglish) {
  UseFile(nullptr);
  Create();
  ASSERT_EQ(dtm->InitErrors().size(), 1u);
  const std::string& error = dtm->InitErrors()[0];
  EXPECT_EQ(error.rfind("Invalid translation file:\r\n", 0), 0u) << error;
  EXPECT_NE(error.find("VornExampleDtmTranslation.xml"), std::string::npos) << error;
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  EXPECT_EQ(Message(2004), "Unable to unlock DTM data set");

  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(Control().LoadTranslationFile(&loaded), E_FAIL);
  EXPECT_EQ(loaded, VARIANT_FALSE);
  // German cannot be had: English stays, and the frame learns that its language was not taken.
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(SetLanguage(1031, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(Language(), 1033u);
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
}

TEST_F(DtmTranslation, AMalformedFileIsReportedAndAnEarlierDocumentStays) {
  UseFile("<localization><general>");
  Create();
  ASSERT_EQ(dtm->InitErrors().size(), 1u);
  EXPECT_EQ(dtm->InitErrors()[0].rfind("Invalid translation file:\r\nError 0x", 0), 0u) << dtm->InitErrors()[0];
  EXPECT_NE(dtm->InitErrors()[0].find("Line 1"), std::string::npos) << dtm->InitErrors()[0];
  EXPECT_EQ(Message(2004), "Unable to unlock DTM data set");

  // A good file, then a broken one: the good document stays in use.
  UseFile(kSmallFile);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(Control().LoadTranslationFile(&loaded), S_OK);
  EXPECT_EQ(loaded, VARIANT_TRUE);
  UseFile("\xFF\xFE garbage");
  dtm->StopCollectInitError();
  journal.Clear();
  EXPECT_EQ(Control().LoadTranslationFile(&loaded), E_FAIL);
  EXPECT_EQ(loaded, VARIANT_FALSE);
  // After the initialisation the report goes to the frame through the DTM thread.
  ASSERT_EQ(journal.With("job 17 bstr:Invalid translation file:").size(), 1u) << journal.Joined();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Message(2004), "Entsperren fehlgeschlagen");
}

// ---- Languages ---------------------------------------------------------------------------------

TEST_F(DtmTranslation, SwitchingTheLanguageRetranslatesAndTellsTheOpenUserInterfaces) {
  UseFile(kSmallFile);
  Create();
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(journal.With("ui command"),
            std::vector<std::string>{"ui command " + Show(UI4(kBroadcastLanguage)) + " " + Show(UI4(1031))})
      << journal.Joined();
  EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
  EXPECT_EQ(Field(121, PIF_DESCRIPTION), "Adresse im Bus");  // through the primary language "de"

  // A language the file does not list: English, and the user interfaces hear English.
  journal.Clear();
  ASSERT_EQ(SetLanguage(1041, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(Language(), 1033u);
  EXPECT_EQ(journal.With("ui command"),
            std::vector<std::string>{"ui command " + Show(UI4(kBroadcastLanguage)) + " " + Show(UI4(1033))})
      << journal.Joined();
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  // A text the file has only in German stays as the last language left it.
  EXPECT_EQ(Field(121, PIF_DESCRIPTION), "Adresse im Bus");

  // Austrian German has no element of its own: the low byte finds "de".
  ASSERT_EQ(SetLanguage(3079, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Language(), 3079u);
  EXPECT_EQ(Field(121, PIF_DESCRIPTION), "Adresse im Bus");
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");  // no "de" name: the English one
}

TEST_F(DtmTranslation, SetDtmLanguageSelectsOnlyWhatChanges) {
  UseFile(kSmallFile);
  Create();
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(Control().SetDtmLanguage(1033, &done), S_OK);  // the DTM's own language
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Control().SetDtmLanguage(1041, &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(Control().SetDtmLanguage(1031, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Language(), 1033u);  // storing it is the caller's
  EXPECT_EQ(Control().SetDtmLanguage(1031, nullptr), E_POINTER);
  EXPECT_EQ(Control().LoadTranslationFile(nullptr), E_POINTER);
  EXPECT_EQ(Control().GetTranslationEnabled(nullptr), E_POINTER);
  VARIANT_BOOL enabled = VARIANT_FALSE;
  EXPECT_EQ(Control().GetTranslationEnabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
  // Loading the file again puts the look-ups back to English.
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(Control().LoadTranslationFile(&loaded), S_OK);
  EXPECT_EQ(Message(2004), "Unable to unlock DTM data set");
}

// ---- Parameter and enumeration texts -----------------------------------------------------------

TEST_F(DtmTranslation, OnlyParametersOfTheDeviceAreTouched) {
  UseFile(kSmallFile);
  Create();
  vkr::Variant count;
  ASSERT_EQ(static_cast<IovFdtParameterInfo&>(*dtm).GetParameterCount(count.Put()), S_OK);
  EXPECT_EQ(count.ulVal, 138u);
  EXPECT_FALSE(static_cast<IovFdtParameterHandler4&>(*dtm).HasParameter(77777));
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
}

// DTMs of one thread read one parse of the file and its texts, but each has its own language and
// its own parameter texts: a switch, or a text a DTM is given, stays with that DTM.
TEST_F(DtmTranslation, DtmsSharingTheFileKeepTheirOwnLanguageAndTexts) {
  UseFile(kSmallFile);
  Create();
  auto first = dtm;
  auto firstThread = thread;
  Create();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  ASSERT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
  EXPECT_EQ(Field(121, PIF_DESCRIPTION), "Adresse im Bus");
  std::swap(dtm, first);
  EXPECT_EQ(Language(), 1033u);
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  vkr::Variant mine;
  mine.vt = VT_BSTR;
  mine.bstrVal = SysAllocString(u"mine");
  EXPECT_EQ(SetField(121, PIF_NAME, mine), S_OK);
  std::swap(dtm, first);
  EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
  // A DTM made later starts from the file in the DTM's default language.
  auto second = dtm;
  Create();
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  ASSERT_EQ(SetLanguage(1033, &result), S_OK);
  EXPECT_EQ(Field(121, PIF_NAME), "Short address");
  std::swap(dtm, second);
  EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
  std::swap(dtm, first);
  EXPECT_EQ(Field(121, PIF_NAME), "mine");
}

// A DTM whose look-ups of the texts fail for want of memory goes on without those texts; what it
// could not look up is never kept for the DTMs after it, which find every text. Each round loads a
// file of its own, so that its texts are looked up under the fault.
TEST_F(DtmTranslation, AnAllocationFaultWhileTextsAreLookedUpIsNotKeptForOtherDtms) {
  const auto file = [](unsigned round) {
    return "<localization round=\"" + std::to_string(round) + R"("><general><languages>
      <language lcid="1033" code="en-us"/><language lcid="1031" code="de-de"/></languages></general>
      <DTM><ParameterList><Parameter parId="none"><Name><locale code="de-de">never</locale></Name></Parameter>
      <Parameter parId="121"><Name><locale code="de-de">Kurzadresse</locale></Name>
        <Description><locale code="de-de">Adresse im Bus</locale></Description></Parameter>
      </ParameterList></DTM></localization>)";
  };
  UseFile(file(0).c_str());
  Create();
  auto other = dtm;
  auto otherThread = thread;
  Create();
  VARIANT_BOOL result = VARIANT_FALSE;
  for (unsigned n = 1;; ++n) {
    ASSERT_LT(n, 20000u) << "the sweep did not end";
    UseFile(file(n).c_str());
    ASSERT_EQ(Control().LoadTranslationFile(&result), S_OK) << n;
    vkr::platform::SetAllocationFault(n);
    SetLanguage(1031, &result);
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (!reached) {
      EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse");
    }
    // A new DTM: its texts are the built-in ones until the file's are written.
    std::swap(dtm, other);
    std::swap(thread, otherThread);
    Create();
    ASSERT_EQ(SetLanguage(1031, &result), S_OK) << n;
    EXPECT_EQ(Field(121, PIF_NAME), "Kurzadresse") << n;
    EXPECT_EQ(Field(121, PIF_DESCRIPTION), "Adresse im Bus") << n;
    std::swap(dtm, other);
    std::swap(thread, otherThread);
    ASSERT_EQ(SetLanguage(1033, &result), S_OK) << n;
    if (!reached) {
      EXPECT_GT(n, 1u) << "no allocation was ever made to fail";
      break;
    }
  }
}

// Texts are looked up by the parameter's id: of repeated elements the first text in document
// order wins, whichever element holds it.
TEST_F(DtmTranslation, ARepeatedParameterTakesEachTextFromTheFirstElementThatHasIt) {
  UseFile(R"(<localization><DTM><ParameterList>
      <Parameter parId="121"><Name><locale code="en-us">first</locale></Name></Parameter>
      <Parameter parId="121"><Name><locale code="en-us">second</locale></Name>
        <Description><locale code="en-us">only in the second</locale></Description></Parameter>
      </ParameterList></DTM></localization>)");
  Create();
  EXPECT_EQ(Field(121, PIF_NAME), "first");
  EXPECT_EQ(Field(121, PIF_DESCRIPTION), "only in the second");
}

TEST_F(DtmTranslation, EnumerationsTakeTranslatedLabelsAndAnEscapedDescription) {
  UseFile(kSmallFile);
  Create();
  // Make 1064 an enumeration with one entry without a label.
  vkr::Variant list;
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 0;
  SafeArrayPutElement(list.parray, &index, Bstr(u"5;").Get());
  index = 1;
  SafeArrayPutElement(list.parray, &index, Bstr(u"6;Six").Get());
  ASSERT_EQ(SetField(1064, PIF_ENUM_LIST, list), S_OK);
  ASSERT_EQ(SetField(1064, PIF_KIND, I4(2)), S_OK);
  const std::string before1065 = Field(1065, PIF_NAME);

  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  EXPECT_EQ(Field(1064, PIF_ENUM_LIST), "5;EnumValue = 5|6;Sechs");
  EXPECT_EQ(Field(991, PIF_ENUM_LIST), "0;Geführtes Radar");
  EXPECT_EQ(Field(991, PIF_NAME), "Gerätetyp");
  // The enumeration's text wins over the parameter's description, and its texts are escaped.
  EXPECT_EQ(Field(991, PIF_DESCRIPTION),
            "<Enumeration id=\"991\"><Description id=\"991\">Kind &lt;of&gt; device &amp; more</Description>"
            "<EnumerationEntries><Description id=\"0\">radar &quot;GWR&quot;</Description></EnumerationEntries>"
            "</Enumeration>");
  EXPECT_EQ(Field(1064, PIF_DESCRIPTION),
            "<Enumeration id=\"1064\"><Description id=\"1064\"></Description><EnumerationEntries>"
            "</EnumerationEntries></Enumeration>");
  EXPECT_EQ(Field(1065, PIF_NAME), before1065);  // not an enumeration

  // Translating again keeps the entries and their values; back in English the labels are the
  // ones the German translation left where English has none.
  ASSERT_EQ(static_cast<IovFdtTranslationEvent&>(*dtm).OnTranslate(1031), S_OK);
  EXPECT_EQ(Field(1064, PIF_ENUM_LIST), "5;EnumValue = 5|6;Sechs");
  ASSERT_EQ(SetLanguage(1033, &result), S_OK);
  EXPECT_EQ(Field(1064, PIF_ENUM_LIST), "5;EnumValue = 5|6;Sechs");
  EXPECT_EQ(Field(991, PIF_NAME), "Gerätetyp");
}

TEST_F(DtmTranslation, EmptyLabelsOfTheDeviceTypeEnumerationStayEmpty) {
  UseFile(kSmallFile);
  Create();
  vkr::Variant list;
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 0;
  SafeArrayPutElement(list.parray, &index, Bstr(u"0;").Get());
  index = 1;
  SafeArrayPutElement(list.parray, &index, Bstr(u"5;").Get());
  ASSERT_EQ(SetField(991, PIF_ENUM_LIST, list), S_OK);
  ASSERT_EQ(static_cast<IovFdtTranslationEvent&>(*dtm).OnTranslate(1033), S_OK);
  EXPECT_EQ(Field(991, PIF_ENUM_LIST), "0;|5;");
}

TEST_F(DtmTranslation, TheParameterHandlerGetsEnumerationEntryTextsFromTheTranslation) {
  UseFile(kSmallFile);
  Create();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  // The handler's own re-translation of one enumeration (as a relation runs it).
  vkr::Variant list;
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 0;
  SafeArrayPutElement(list.parray, &index, Bstr(u"0;radar").Get());
  index = 1;
  SafeArrayPutElement(list.parray, &index, Bstr(u"1;other").Get());
  ASSERT_EQ(SetField(991, PIF_ENUM_LIST, list), S_OK);
  EXPECT_EQ(dtm->TranslateEnumerationTexts(991), S_OK);
  EXPECT_EQ(Field(991, PIF_ENUM_LIST), "0;Geführtes Radar|1;other");
  Bstr text;
  EXPECT_EQ(GetEnumerationEntryText(static_cast<IovFdtTranslation*>(dtm.Get()), 991, 0, text.Put()), S_OK);
  EXPECT_EQ(text.View(), u"Geführtes Radar");
  EXPECT_EQ(GetEnumerationEntryText(static_cast<IovFdtTranslation*>(dtm.Get()), 991, 1, text.Put()), E_FAIL);
}

TEST_F(DtmTranslation, WithoutADocumentTheTextOperationsChangeNothing) {
  UseFile(nullptr);
  Create();
  const std::string name = Field(121, PIF_NAME);
  EXPECT_EQ(dtm->TranslateParameters(), E_POINTER);
  EXPECT_EQ(dtm->TranslateEnumerations(), E_POINTER);
  EXPECT_EQ(static_cast<IovFdtTranslationEvent&>(*dtm).OnTranslate(1031), S_OK);
  EXPECT_EQ(Field(121, PIF_NAME), name);
}

// ---- The about file ----------------------------------------------------------------------------

TEST_F(DtmTranslation, TheAboutFileIsBesideTheModuleUnlessTheTranslationNamesAnother) {
  vkr::Bstr module, directory;
  module.Attach(GetModulePath());
  directory.Attach(DirectoryOfPath(module));
  UseFile(nullptr);
  Create();
  IovFDT_AboutInformations& about = static_cast<IovFDT_AboutInformations&>(*dtm);
  Bstr path;
  // No text and no file anywhere: the module's directory.
  ASSERT_EQ(about.GetAboutFile(path.Put()), S_OK);
  EXPECT_EQ(path.View(), directory.Str() + u"AboutFile.htm");
  EXPECT_EQ(about.GetAboutFile(nullptr), E_POINTER);

  // The German name in the translation directory, where the file is.
  UseFile(kSmallFile);
  WriteFileText(texts / "about_de.htm", "<html/>");
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(static_cast<IovFdtDtmTranslation&>(*dtm).LoadTranslationFile(&loaded), S_OK);
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(SetLanguage(1031, &result), S_OK);
  ASSERT_EQ(about.GetAboutFile(path.Put()), S_OK);
  EXPECT_EQ(path.View(), vkr::Utf8ToUtf16(texts.path()) + u"\\about_de.htm");
}

TEST_F(DtmTranslation, AnAbsoluteAboutFileIsNotPutIntoTheTranslationDirectory) {
  const std::string elsewhere = drives / "about.htm";
  WriteFileText(elsewhere, "<html/>");
  const std::string file = std::string(R"(<localization><StringList><AboutFile><locale code="en-us">)") + elsewhere +
                           "</locale></AboutFile></StringList></localization>";
  UseFile(file.c_str());
  Create();
  Bstr path;
  ASSERT_EQ(static_cast<IovFDT_AboutInformations&>(*dtm).GetAboutFile(path.Put()), S_OK);
  EXPECT_EQ(path.View(), vkr::Utf8ToUtf16(elsewhere));
}

}  // namespace

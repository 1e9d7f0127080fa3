// The DTM's documents and device pictures, the services that answer from its function table
// (ActiveX information, documentation, applications opened with the shell) and the frame's events
// about the data-set lock and another DTM's changes, as a frame meets them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/FrameContainer.h"
#include "module/VornExampleDtmModule.h"
#include "tests/dtm/DtmTestSupport.h"
#include "tests/support/source_tree.h"
#include "tests/support/temp_files.h"
#include "xml/Conversions.h"

namespace {

using namespace vkr::test;

std::string Text(BSTR b) { return vkr::Utf16ToUtf8(vkr::View(b)); }

vkr::Bstr Call(LONG functionId) {
  vkr::Bstr call;
  EXPECT_EQ(vkr::FormatFunctionCall(functionId, call.Put()), S_OK);
  return call;
}

// The DTM with its state, level and function table settable, and a parameter-change sink on
// request.
class DocumentsDtm : public TestDtm, public IovFdtParameterChangeSink {
 public:
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  HRESULT InitSchemas() {
    return InitializeDtmSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(vkr::test::FrameSchemas().string())));
  }
  // Adds an entry before the end of the table.
  void AddFunction(const SFunctionEntry& entry) { m_functions.insert(m_functions.end() - 1, entry); }
  ULONG LockCount() const { return m_nLockCount; }

  VKR_TEST_DISPATCH
  bool offerSink = false;
  HRESULT sinkResult = S_OK;
  std::vector<std::string> channelChanges;
  HRESULT OnParametersChanged(BSTR) override { return E_NOTIMPL; }
  HRESULT OnChannelCollectionChanged(BSTR channels) override {
    channelChanges.push_back(Text(channels));
    return sinkResult;
  }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (offerSink && riid == IovFdtParameterChangeSink::iid) {
      auto* sink = static_cast<IovFdtParameterChangeSink*>(this);
      sink->AddRef();
      *ppv = sink;
      return S_OK;
    }
    return TestDtm::QueryExtraInterface(riid, ppv);
  }
};

class Documents : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<DocumentsDtm>(&dtm), S_OK);
    ASSERT_EQ(dtm->InitSchemas(), S_OK);
    dtm->journal = &journal;
  }
  void TearDown() override {
    vkr::platform::SetShellRunner(nullptr);
    dtm = nullptr;
    CoUninitialize();
  }
  // Loads the text as a frame does: with the frame's schema set.
  static void ExpectValid(const std::u16string& text) {
    std::string reason;
    EXPECT_EQ(vkr::frame::FrameContainer::Validate(vkr::Bstr(text), &reason), S_OK)
        << reason << "\n" << vkr::Utf16ToUtf8(text);
  }
  // Each line of a fragment list is one element that a frame loads on its own.
  static void ExpectEachLineValid(BSTR list) {
    const std::u16string text(vkr::View(list));
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find(u'\n', at);
      ExpectValid(text.substr(at, end - at));
      at = end == std::u16string::npos ? text.size() : end + 1;
    }
  }

  ScopedRegistry registry;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<DocumentsDtm>> dtm;
};

TEST_F(Documents, EachRecordGivesItsFragmentForItsDeviceTypeAndTheFrameLoadsIt) {
  TempDir dir;
  const std::string existing = dir.path() + "/manual.pdf";
  WriteFileText(existing, "%PDF");
  vkr::Bstr moduleDirectory;
  {
    vkr::Bstr module;
    module.Attach(GetModulePath());
    moduleDirectory.Attach(DirectoryOfPath(module));
  }
  const std::string beside = Text(moduleDirectory.Get()) + "missing.chm";
  const std::u16string file = vkr::Utf8ToUtf16(existing);
  const SExtDocument records[] = {
      {u"Manual & <notes>", u"Say \"hi\"", 2, 1033, kDocumentFile, file, 0, u"", u""},
      {u"Help", u"", 1, 1031, kDocumentFile, u"missing.chm", 0, u"", u"T1"},
      {u"Shop", u"", 3, 1033, kDocumentUrl, u"https://example.com/vkr?a=1&b=2", 0, u"", u""},
      {u"Viewer", u"", 4, 1033, kDocumentExe, file, 0, u"-page 2", u""},
      {u"Other type", u"", 1, 1033, kDocumentFile, file, 0, u"", u"T2"},
      {u"No classification", u"", 0, 1033, kDocumentFile, file, 0, u"", u""},
      {u"", u"", 0, 0, kDeviceBitmap, file, 2, u"", u""},
      {u"", u"", 0, 0, kDeviceBitmap, file, 0, u"", u"t1"},
      {u"", u"", 0, 0, kDeviceBitmap, file, 1, u"", u"T2"},
      {u"", u"", 0, 0, kDeviceIcon, file, 3, u"", u"T1"},
  };
  for (const SExtDocument& r : records) dtm->AddDocument(r);
  const std::string ns = "<fdt:%s xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" ";

  IovFdtExtDocument* documents = dtm.Get();
  vkr::Bstr list, bitmaps, icons;
  ASSERT_EQ(documents->GetDocumentList(list.Put(), vkr::Bstr(u"T1")), S_OK);
  ASSERT_EQ(documents->GetDeviceBitmap(bitmaps.Put(), vkr::Bstr(u"T1")), S_OK);
  ASSERT_EQ(documents->GetDeviceIcon(icons.Put(), vkr::Bstr(u"T1")), S_OK);
  // Texts are escaped, a URL stays what it is, a file that is not where it says is looked for
  // beside the module; records of another device type or without classification are left out.
  EXPECT_EQ(Text(list.Get()),
            "<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"Manual &amp; &lt;notes&gt;\" "
            "help=\"Say &quot;hi&quot;\"  documentClassification=\"technicalDocumentation\" documentLanguageId=\"1033\">"
            "\t<fdt:DocumentFile file=\"" + existing + "\" /></fdt:DtmDocument>\n"
            "<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"Help\" help=\"\"  "
            "documentClassification=\"help\" documentLanguageId=\"1031\">\t<fdt:DocumentFile file=\"" + beside +
            "\" /></fdt:DtmDocument>\n"
            "<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"Shop\" help=\"\"  "
            "documentClassification=\"orderingInformation\" documentLanguageId=\"1033\">\t<fdt:DocumentUrl "
            "url=\"https://example.com/vkr?a=1&amp;b=2\" /></fdt:DtmDocument>\n"
            "<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"Viewer\" help=\"\"  "
            "documentClassification=\"miscellaneous\" documentLanguageId=\"1033\">\t<fdt:DocumentExe file=\"" +
                existing + "\" parameters=\"-page 2\" /></fdt:DtmDocument>\n");
  // The filter compares case by case ("t1" is another device type); a picture without a state
  // has no state attribute.
  EXPECT_EQ(Text(bitmaps.Get()),
            "<fdt:DeviceBitmap xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" deviceGraphicState=\"diagnosis\" path=\"" +
                existing + "\" />\n");
  const std::string diagnosisBitmap = Text(bitmaps.Get());
  ASSERT_EQ(documents->GetDeviceBitmap(bitmaps.Put(), vkr::Bstr(u"t1")), S_OK);
  EXPECT_EQ(Text(bitmaps.Get()), diagnosisBitmap + "<fdt:DeviceBitmap xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"  path=\"" +
                                     existing + "\" />\n");
  ExpectEachLineValid(bitmaps);
  EXPECT_EQ(Text(icons.Get()), "<fdt:DeviceIcon xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" deviceGraphicState=\"oem\" path=\"" +
                                   existing + "\" />\n");
  ExpectEachLineValid(list);
  ExpectEachLineValid(bitmaps);
  ExpectEachLineValid(icons);

  // Another device type: only what belongs to every device type and to that one.
  ASSERT_EQ(documents->GetDeviceIcon(icons.Put(), vkr::Bstr(u"T3")), S_OK);
  EXPECT_EQ(Text(icons.Get()), "");
  ASSERT_EQ(documents->GetDocumentList(list.Put(), vkr::Bstr(u"T2")), S_OK);
  EXPECT_NE(Text(list.Get()).find("label=\"Other type\""), std::string::npos);
  EXPECT_EQ(Text(list.Get()).find("label=\"Help\""), std::string::npos);
  EXPECT_EQ(documents->GetDocumentList(nullptr, nullptr), E_POINTER);

  // A text no document can carry fails the call instead of breaking the frame's document.
  dtm->AddDocument({std::u16string(u"bad\x01"), u"", 1, 1033, kDocumentFile, file, 0, u"", u""});
  EXPECT_EQ(documents->GetDocumentList(list.Put(), vkr::Bstr(u"T1")), E_INVALIDARG);
  EXPECT_EQ(list.Get(), nullptr);
}

TEST_F(Documents, TheFragmentsMergeIntoTheInformationDocumentTheFrameLoads) {
  TempDir dir;
  const std::string icon = dir.path() + "/vkr.ico";
  WriteFileText(icon, "icon");
  const std::u16string typeId = u"5E0C2A41-7B9D-4F16-A3C8-2D4E6F80B1C7";
  dtm->AddDocument({u"Manual", u"", 2, 1033, kDocumentUrl, u"https://example.com/vkr.pdf", 0, u"", u""});
  dtm->AddDocument({u"Elsewhere", u"", 2, 1033, kDocumentUrl, u"https://example.com/x.pdf", 0, u"", u"OTHER"});
  dtm->AddDocument({u"", u"", 0, 0, kDeviceIcon, vkr::Utf8ToUtf16(icon), 1, u"", typeId});
  dtm->AddDocument({u"", u"", 0, 0, kDeviceBitmap, vkr::Utf8ToUtf16(icon), 2, u"", u""});
  // The FDT 1.2.1 document names its device type.
  vkr::ComPtr<vkr::ComObject<FakeStateEvents>> stateEvents;
  ASSERT_EQ(vkr::MakeObject<FakeStateEvents>(&stateEvents), S_OK);
  dtm->SetFdt121(stateEvents.Get());
  dtm->ForceState(dsENVIRONMENTSET);
  vkr::Bstr information;
  ASSERT_EQ(dtm->GetInformation(nullptr, information.Put()), S_OK);
  // A device type that keeps documents: the template's place for them.
  std::u16string text(information.View());
  const std::size_t end = text.find(u"</fdt:DtmDeviceType>");
  ASSERT_NE(end, std::u16string::npos);
  text.insert(end, u"<fdt:DtmDocuments/>");
  vkr::Bstr merged;
  ASSERT_EQ(dtm->MergeDtmDocuments(vkr::Bstr(text), merged.Put()), S_OK);
  const std::string result = Text(merged.Get());
  ExpectValid(std::u16string(merged.View()));
  const std::size_t iconAt = result.find("deviceGraphicState=\"device\" path=\"" + icon + "\"");
  const std::size_t documents = result.find("<fdt:DtmDocuments>");
  const std::size_t manual = result.find("label=\"Manual\"");
  const std::size_t bitmap = result.find("deviceGraphicState=\"diagnosis\"");
  ASSERT_NE(iconAt, std::string::npos) << result;
  ASSERT_NE(manual, std::string::npos) << result;
  ASSERT_NE(bitmap, std::string::npos) << result;
  EXPECT_TRUE(iconAt < documents && documents < manual && manual < bitmap) << result;
  EXPECT_EQ(result.find("Elsewhere"), std::string::npos) << result;
}

TEST_F(Documents, EveryFunctionNamesItsUserInterfaceOnceTheClassesAreRegistered) {
  dtm->ForceState(dsENVIRONMENTSET);
  IDtmActiveXInformation* info = dtm.Get();
  vkr::Bstr text;
  // Before registration no ProgID leads to a class.
  EXPECT_EQ(info->GetActiveXGuid(Call(1), text.Put()), S_FALSE);
  EXPECT_EQ(text.Get(), nullptr);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  int functions = 0;
  for (const SFunctionEntry* e = kVornExampleDtmFunctions; e->nType != 0; ++e, ++functions) {
    SCOPED_TRACE("function " + std::to_string(e->nFunctionId));
    OLECHAR expected[40] = {};
    ASSERT_NE(StringFromGUID2(*e->pClassId, expected, 40), 0);
    ASSERT_EQ(info->GetActiveXGuid(Call(e->nFunctionId), text.Put()), S_OK);
    EXPECT_EQ(text.View(), std::u16string_view(expected));
    ASSERT_EQ(info->GetActiveXProgId(Call(e->nFunctionId), text.Put()), S_OK);
    EXPECT_EQ(text.View(), vkr::View(e->pszProgId));
  }
  EXPECT_EQ(functions, 8);

  // What has no user interface to name.
  dtm->AddFunction({2, 0, 30, u"NoProgId", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"", 0, 0, u"", u"", u""});
  dtm->AddFunction({2, 0, 31, u"Unknown", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"No.Such.Class", 0, 0,
                    u"", u"", u""});
  const struct {
    const char* what;
    vkr::Bstr call;
    HRESULT guid, progId;
  } cases[] = {
      {"no ProgID", Call(30), S_FALSE, S_FALSE},
      {"an unregistered ProgID", Call(31), S_FALSE, S_OK},
      {"an unknown function", Call(99), S_FALSE, S_FALSE},
      {"an unreadable call", vkr::Bstr(u"<FDT"), S_FALSE, S_FALSE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(info->GetActiveXGuid(c.call, text.Put()), c.guid) << c.what;
    EXPECT_EQ(info->GetActiveXProgId(c.call, text.Put()), c.progId) << c.what;
  }
  EXPECT_EQ(info->GetActiveXProgId(Call(1), nullptr), E_POINTER);
  EXPECT_EQ(info->GetActiveXGuid(Call(1), nullptr), E_POINTER);
  // Only from the environment on.
  dtm->ForceState(dsLOADED);
  EXPECT_EQ(info->GetActiveXGuid(Call(1), text.Put()), S_FALSE);
  EXPECT_EQ(info->GetActiveXProgId(Call(1), text.Put()), S_FALSE);
}

TEST_F(Documents, OnlyProgramsOfTheTableAreStartedWithTheShell) {
  std::vector<vkr::platform::ShellRequest> requests;
  INT_PTR answer = 42;
  vkr::platform::SetShellRunner([&](const vkr::platform::ShellRequest& r) {
    requests.push_back(r);
    return answer;
  });
  dtm->AddFunction({2, 0, 20, u"Viewer", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"", 0, 0, u"manual.pdf",
                    u"C:\\Tools\\viewer.exe", nullptr});
  dtm->AddFunction({3, 0, 21, u"Notes", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"", 0, 0, nullptr,
                    u"C:\\Docs\\notes.txt", nullptr});
  dtm->AddFunction({1, 0, 22, u"Plain", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"", 0, 0, u"",
                    u"C:\\Tools\\viewer.exe", nullptr});
  dtm->AddFunction({2, 0, 23, u"Nothing", u"", u"", u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, u"", 0, 0, u"", u"",
                    nullptr});
  dtm->ForceState(dsENVIRONMENTSET);
  IDtmApplication* application = dtm.Get();
  const vkr::Bstr id(u"invoke"), title(u"");
  const struct {
    const char* what;
    LONG function;
    HRESULT result;
    bool started;
  } cases[] = {
      {"a program with parameters", 20, S_OK, true},
      {"a document of a standard function", 21, S_OK, true},
      {"a function without user interface", 22, S_FALSE, false},
      {"a function without program", 23, S_FALSE, false},
      {"a function with a user interface", 1, S_FALSE, false},
      {"an unknown function", 99, S_FALSE, false},
  };
  for (const auto& c : cases) {
    VARIANT_BOOL started = VARIANT_TRUE;
    EXPECT_EQ(application->StartApplication(id, Call(c.function), title, &started), c.result) << c.what;
    EXPECT_EQ(started != VARIANT_FALSE, c.started) << c.what;
  }
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].operation, "open");
  EXPECT_EQ(requests[0].file, "C:\\Tools\\viewer.exe");
  EXPECT_EQ(requests[0].parameters, "manual.pdf");
  EXPECT_EQ(requests[0].directory, "");
  EXPECT_EQ(requests[0].show, SW_SHOWNORMAL);
  EXPECT_EQ(requests[1].file, "C:\\Docs\\notes.txt");
  EXPECT_EQ(requests[1].parameters, "");

  // The shell could not open it: nothing started, and the call itself went through.
  answer = SE_ERR_NOASSOC;
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(application->StartApplication(id, Call(21), title, &started), S_OK);
  EXPECT_FALSE(started);
  dtm->ForceState(dsLOADED);
  EXPECT_EQ(application->StartApplication(id, Call(20), title, &started), S_FALSE);
  EXPECT_EQ(requests.size(), 3u);
  EXPECT_EQ(application->StartApplication(id, Call(20), title, nullptr), E_POINTER);
}

TEST_F(Documents, DocumentationAnswersInTheWorkingStatesForAnOperator) {
  IDtmDocumentation* documentation = dtm.Get();
  const struct {
    EDtmState state;
    ULONG level;
    const char16_t* call;
    HRESULT result;
  } cases[] = {
      {dsINITIALIZED, 8, nullptr, S_FALSE}, {dsCONFIGURED, 1, nullptr, S_FALSE}, {dsCONFIGURED, 2, nullptr, S_OK},
      {dsONLINE, 8, nullptr, S_OK},         {dsONLINE, 8, u"<FDT/>", S_FALSE},  {dsPREPAREDTODELETE, 8, nullptr, S_FALSE},
  };
  for (const auto& c : cases) {
    dtm->ForceState(c.state);
    dtm->SetUserLevel(c.level);
    vkr::Bstr document;
    const HRESULT hr = documentation->GetDocumentation(c.call ? vkr::Bstr(c.call) : Call(1), document.Put());
    EXPECT_EQ(hr, c.result) << "state " << c.state << " level " << c.level;
    // This DTM keeps no documentation of its own; a refusal is an empty text.
    if (hr == S_OK)
      EXPECT_EQ(document.Get(), nullptr);
    else
      EXPECT_EQ(Text(document.Get()), "");
  }
  EXPECT_EQ(documentation->GetDocumentation(Call(1), nullptr), E_POINTER);
}

TEST_F(Documents, TheFramesLockForAnotherPartyReachesTheUserInterfaces) {
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
  ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&frame), S_OK);
  vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
  ASSERT_EQ(vkr::MakeObject<FakeUserInterface>(&ui), S_OK);
  ui->journal = &journal;
  dtm->SetContainer(frame.Get());
  dtm->AddOpenUserInterface(u"ui", static_cast<IovFdtActiveX4*>(ui.Get()));
  IFdtEvents* events = dtm.Get();
  const vkr::Bstr tag(u"VKR-1");
  const std::string lockState = "ui command ui4:9993 ";

  // Locked by the frame: the user interfaces leave edit mode, and the DTM asks for no lock meanwhile.
  ASSERT_EQ(events->OnDataSetLocked(tag), S_OK);
  EXPECT_EQ(journal.With(lockState), std::vector<std::string>{lockState + "bool:0"});
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  EXPECT_EQ(frame->lockRequests, 0);

  // Unlocked while the DTM's own operation holds the data set: the DTM asks for the lock again and
  // tells the user interfaces whether it has it.
  const struct {
    bool grant;
    std::string broadcast;
  } cases[] = {{false, "bool:0"}, {true, "bool:1"}};
  for (const auto& c : cases) {
    ASSERT_EQ(events->OnDataSetLocked(tag), S_OK);
    journal.Clear();
    frame->grantLock = c.grant;
    const int requests = frame->lockRequests;
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(events->OnDataSetUnlocked(tag, &done), S_OK);
    EXPECT_TRUE(done);
    EXPECT_EQ(frame->lockRequests, requests + 1);
    EXPECT_EQ(journal.With(lockState), std::vector<std::string>{lockState + c.broadcast}) << journal.Joined();
    EXPECT_EQ(dtm->IsDataSetLockedByFrame(), c.grant);
  }
  EXPECT_EQ(dtm->LockCount(), 1u) << "the frame's events count no lock of the DTM's";

  // With nothing of its own holding the data set the DTM neither asks nor tells.
  ASSERT_EQ(dtm->UnlockDataset(), S_OK);
  ASSERT_EQ(events->OnDataSetLocked(tag), S_OK);
  journal.Clear();
  const int requests = frame->lockRequests;
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(events->OnDataSetUnlocked(tag, &done), S_OK);
  EXPECT_TRUE(done);
  EXPECT_EQ(frame->lockRequests, requests);
  EXPECT_TRUE(journal.With(lockState).empty()) << journal.Joined();
  EXPECT_EQ(events->OnDataSetUnlocked(tag, nullptr), E_POINTER);
  dtm->SetContainer(nullptr);
}

TEST_F(Documents, ChannelChangesOfAnotherDtmGoToTheParameterChangeSink) {
  IFdtEvents* events = dtm.Get();
  const vkr::Bstr tag(u"VKR-2");
  const vkr::Bstr document(
      u"<OnParameterChangedDocument><ChannelCollection><Channel id=\"1\"/></ChannelCollection>"
      u"</OnParameterChangedDocument>");
  EXPECT_EQ(events->OnParameterChanged(tag, document), S_FALSE) << "without a receiver";
  dtm->offerSink = true;
  EXPECT_EQ(events->OnParameterChanged(tag, document), S_OK);
  ASSERT_EQ(dtm->channelChanges.size(), 1u);
  EXPECT_EQ(dtm->channelChanges[0], "<ChannelCollection><Channel id=\"1\"/></ChannelCollection>");
  dtm->sinkResult = E_FAIL;
  EXPECT_EQ(events->OnParameterChanged(tag, document), S_FALSE);
}

}  // namespace

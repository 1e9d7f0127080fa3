// The function container of the DTM: user messages through the frame, starting and finishing
// user interfaces with their data-set locks, closing them, the function list and the functions
// defined in the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "frame/FrameContainer.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/temp_files.h"

namespace {

using namespace vkr::test;

std::string Text(LPCWSTR b) { return vkr::Utf16ToUtf8(vkr::View(b)); }

// The DTM with the user level and the operation phase settable.
class FunctionDtm : public TestDtm {
 public:
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  void SetPhase(ULONG phase) { m_nOperationPhase = phase; }
  void SetPrivateDialog(bool on) { m_bPrivateDialog = on; }
  size_t OpenCount() const { return m_openUserInterfaces.size(); }
  ULONG LockCount() const { return m_nLockCount; }
  std::vector<SFunctionEntry> Table() const { return m_functions; }
  // The frame's schema set, as IDtm::Environment gives it.
  HRESULT InitSchemas() {
    return InitializeDtmSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(vkr::frame::SchemaDirectory())));
  }
};

// A user interface opened with a function call; records what it is told.
class OpenedUi : public vkr::Implements<IovFdtActiveX4, IovFdtActiveXInfo> {
 public:
  VKR_ACTIVEX4_NOT_IMPLEMENTED
  Journal* journal = nullptr;
  std::u16string functionCall;
  HRESULT stateResult = S_OK;
  std::function<void()> onCommand;

  VKR_TEST_DISPATCH
  HRESULT OnDtmStateChanged(ULONG state) override {
    journal->Add("ui state " + std::to_string(state));
    return stateResult;
  }
  HRESULT ReportError(BSTR) override { return E_NOTIMPL; }
  HRESULT ReportErrorText(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override {
    journal->Add("ui command " + Show(command) + " " + Show(argument));
    if (onCommand) onCommand();
    return S_OK;
  }
  HRESULT SetInfo(VARIANT id, VARIANT* value) override {
    if (id.vt != VT_UI4 || id.ulVal != 1) return S_FALSE;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(functionCall.c_str());
    return S_OK;
  }
  HRESULT IsInfoSupported(VARIANT) override { return S_FALSE; }
  HRESULT SetSchemaSource(IUnknown* container) override {
    journal->Add(std::string("ui schema source ") + (container ? "set" : "null"));
    return S_OK;
  }
};

// The frame's container with user messages, hosting and the data-set lock.
class Frame : public StubContainer<IFdtDialog, IFdtActiveXHost> {
 public:
  Journal* journal = nullptr;
  std::u16string reply;
  HRESULT dialogResult = S_OK;
  std::string lastMessage;
  bool closeAnswer = true;
  std::function<void(BSTR)> onClose;

  HRESULT LockDataSet(BSTR, VARIANT_BOOL* granted) override {
    journal->Add("frame lock");
    *granted = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT UnlockDataSet(BSTR, VARIANT_BOOL* done) override {
    journal->Add("frame unlock");
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT GetXmlSchemaPath(BSTR* path) override {
    *path = SysAllocString(u"C:\\Schemas");
    return S_OK;
  }
  HRESULT UserDialog(BSTR, BSTR message, BSTR* answer) override {
    lastMessage = Text(message);
    *answer = SysAllocString(reply.c_str());
    return dialogResult;
  }
  HRESULT OpenActiveXControl(BSTR systemTag, BSTR functionCall, VARIANT_BOOL* opened) override {
    journal->Add("frame open " + Text(systemTag) + " " + Text(functionCall));
    *opened = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT CloseActiveXControl(BSTR invokeId, VARIANT_BOOL* closed) override {
    journal->Add("frame close " + Text(invokeId));
    if (onClose) onClose(invokeId);
    *closed = closeAnswer ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

class FunctionContainer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    SetLogEnabled(false);
    ASSERT_EQ(vkr::MakeObject<FunctionDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<Frame>(&frame), S_OK);
    frame->journal = &journal;
    dtm->SetThread(thread.Get());
    dtm->SetUserLevel(8);
  }
  void TearDown() override {
    frame->onClose = nullptr;
    dtm = nullptr;
    thread = nullptr;
    frame = nullptr;
    CoUninitialize();
  }
  void Attach() { dtm->SetContainer(frame.Get()); }
  vkr::ComPtr<vkr::ComObject<OpenedUi>> NewUi(LONG functionId) {
    vkr::ComPtr<vkr::ComObject<OpenedUi>> ui;
    EXPECT_EQ(vkr::MakeObject<OpenedUi>(&ui), S_OK);
    ui->journal = &journal;
    vkr::Bstr call;
    EXPECT_EQ(dtm->GetFunctionCallDocument(functionId, call.Put()), S_OK);
    ui->functionCall = call.Str();
    return ui;
  }
  HRESULT Start(const char16_t* id, OpenedUi* ui, ULONG flags = 0) {
    return dtm->StartFunction(vkr::Bstr(id), static_cast<IovFdtActiveX4*>(ui), flags);
  }
  HRESULT Ask(ULONG flags, LONG* answer, const char16_t* text = u"Really?") {
    return dtm->ShowUserMessage(vkr::Bstr(u"Title"), vkr::Bstr(text), UI4(flags), answer);
  }

  ScopedRegistry registry;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<FunctionDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<Frame>> frame;
};

// ---- User messages ----

TEST_F(FunctionContainer, WithoutTheFrameTheDefaultButtonOfTheFlagsIsTheAnswer) {
  const struct {
    ULONG flags;
    LONG answer;
  } cases[] = {
      {0x000, 1}, {0x006, 1}, {0x00F, 1},  // OK and unknown buttons
      {0x001, 1}, {0x101, 2},              // OK/Cancel
      {0x002, 3}, {0x102, 4}, {0x202, 5},  // Abort/Retry/Ignore
      {0x003, 6}, {0x103, 7}, {0x203, 2},  // Yes/No/Cancel
      {0x024, 6}, {0x124, 7}, {0x224, 6},  // Yes/No (a third default does not exist)
      {0x005, 4}, {0x105, 2},              // Retry/Cancel
  };
  for (const auto& c : cases) {
    LONG answer = -1;
    EXPECT_EQ(Ask(c.flags, &answer), S_FALSE) << std::hex << c.flags;
    EXPECT_EQ(answer, c.answer) << std::hex << c.flags;
  }
  LONG answer = 0;
  EXPECT_EQ(dtm->ShowUserMessage(vkr::Bstr(u"t"), vkr::Bstr(u"x"), UI4(0), nullptr), E_POINTER);
  vkr::Variant word;
  word.vt = VT_BSTR;
  word.bstrVal = SysAllocString(u"many");
  EXPECT_FALSE(SUCCEEDED(dtm->ShowUserMessage(vkr::Bstr(u"t"), vkr::Bstr(u"x"), word, &answer)));
}

TEST_F(FunctionContainer, TheFrameIsAskedWithTheWordsOfTheFlagsAndItsReplyIsTheAnswer) {
  Attach();
  const struct {
    ULONG flags;
    const char* type;
    const char* buttons;
    const char* def;
  } cases[] = {
      {0x134, "messageExclamation", "buttonsYesNo", "buttonNo"},
      {0x212, "messageStop", "buttonsAbortRetryIgnore", "buttonIgnore"},
      {0x023, "messageQuestion", "buttonsYesNoCancel", "buttonYes"},
      {0x041, "messageInformation", "buttonsOkCancel", "buttonOk"},
      {0x105, "messageInformation", "buttonsRetryCancel", "buttonCancel"},
      {0x009, "messageInformation", "buttonsOk", "buttonOk"},
  };
  frame->reply = u"<FDT><UserMessageResult resultMessage=\"buttonNo\"/></FDT>";
  for (const auto& c : cases) {
    LONG answer = 0;
    EXPECT_EQ(Ask(c.flags, &answer), S_OK) << std::hex << c.flags;
    EXPECT_EQ(answer, 7) << std::hex << c.flags;
    const std::string& m = frame->lastMessage;
    EXPECT_NE(m.find(std::string("messageType=\"") + c.type + "\""), std::string::npos) << m;
    EXPECT_NE(m.find(std::string("messageButtons=\"") + c.buttons + "\""), std::string::npos) << m;
    EXPECT_NE(m.find(std::string("messageDefault=\"") + c.def + "\""), std::string::npos) << m;
  }
}

TEST_F(FunctionContainer, TitleAndTextAreEscapedInTheMessageDocument) {
  Attach();
  frame->reply = u"<FDT><R resultMessage=\"buttonOk\"/></FDT>";
  LONG answer = 0;
  EXPECT_EQ(dtm->ShowUserMessage(vkr::Bstr(u"A \"B\""), vkr::Bstr(u"x < y & z"), UI4(0), &answer), S_OK);
  EXPECT_EQ(answer, 1);
  const std::string& m = frame->lastMessage;
  EXPECT_NE(m.find("title=\"A &quot;B&quot;\""), std::string::npos) << m;
  EXPECT_NE(m.find("x &lt; y &amp; z"), std::string::npos) << m;
  vkr::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(LoadXmlFromString(vkr::Bstr(vkr::Utf8ToUtf16(m)), doc.Put(), &loaded), S_OK);
  EXPECT_TRUE(loaded) << m;
}

TEST_F(FunctionContainer, AReplyWithoutAnAnswerLeavesTheDefault) {
  Attach();
  const struct {
    const char16_t* reply;
    HRESULT dialog;
    HRESULT result;
    LONG answer;
  } cases[] = {
      {u"<FDT><R/></FDT>", S_OK, S_FALSE, 7},                           // no attribute
      {u"<FDT><R resultMessage=", S_OK, S_FALSE, 7},                   // not XML
      {u"<FDT><R resultMessage=\"buttonYes\"/></FDT>", E_FAIL, S_FALSE, 7},  // the call failed
      {u"<FDT><R resultMessage=\"maybe\"/></FDT>", S_OK, S_OK, 0},      // an unknown word
      {u"<FDT><R resultMessage=\"buttonYes\"/></FDT>", S_OK, S_OK, 6},
  };
  for (const auto& c : cases) {
    frame->reply = c.reply;
    frame->dialogResult = c.dialog;
    LONG answer = -1;
    EXPECT_EQ(Ask(0x124, &answer), c.result) << Text(vkr::Bstr(c.reply));
    EXPECT_EQ(answer, c.answer) << Text(vkr::Bstr(c.reply));
  }
  // An empty text asks nothing.
  frame->lastMessage.clear();
  LONG answer = -1;
  EXPECT_EQ(Ask(0x124, &answer, u""), S_FALSE);
  EXPECT_EQ(answer, 7);
  EXPECT_TRUE(frame->lastMessage.empty());
}

// ---- Starting and finishing user interfaces ----

TEST_F(FunctionContainer, AStartedUserInterfaceHearsTheStateAndTheStartupMessagesInOrder) {
  Attach();
  dtm->NotifyStateChanged(9);
  dtm->SetPrivateDialog(true);
  auto ui = NewUi(6);  // takes part in locking
  journal.Clear();
  ASSERT_EQ(Start(u"inv-1", ui.Get()), S_OK) << journal.Joined();
  EXPECT_EQ(dtm->OpenCount(), 1u);
  const std::vector<std::string> ui_lines = journal.With("ui ");
  ASSERT_GE(ui_lines.size(), 7u) << journal.Joined();
  EXPECT_EQ(ui_lines[0], "ui schema source set");
  EXPECT_EQ(ui_lines[1], "ui state 9");
  EXPECT_EQ(ui_lines[2].rfind("ui command ui4:9996 ", 0), 0u) << ui_lines[2];  // start-up text
  EXPECT_EQ(ui_lines[3], "ui command ui4:9988 ui4:8");                       // user level
  EXPECT_EQ(ui_lines[4].rfind("ui command ui4:9995 bstr:", 0), 0u) << ui_lines[4];  // translation path
  EXPECT_EQ(ui_lines[5].rfind("ui command ui4:9984 i4:", 0), 0u) << ui_lines[5];    // language
  EXPECT_EQ(ui_lines[6], "ui command ui4:9998 bool:1");                      // private dialogs allowed
  EXPECT_TRUE(journal.Has("frame lock"));
  EXPECT_EQ(dtm->GetLockingFunctionCount(), 1u);
}

TEST_F(FunctionContainer, TheSameInvokeIdIsOpenOnceAndPrivateDialogsAreNotListed) {
  Attach();
  auto ui = NewUi(3);
  ASSERT_EQ(Start(u"inv-1", ui.Get()), S_OK);
  ASSERT_EQ(Start(u"inv-1", ui.Get()), S_OK);
  EXPECT_EQ(dtm->OpenCount(), 1u);
  auto dialog = NewUi(3);
  journal.Clear();
  ASSERT_EQ(Start(u"private", dialog.Get(), 1), S_OK);
  EXPECT_EQ(dtm->OpenCount(), 1u);
  EXPECT_EQ(journal.Joined(), "ui schema source set");
  // A user interface whose function call does not parse is not opened.
  auto broken = NewUi(3);
  broken->functionCall = u"<FDT";
  EXPECT_EQ(Start(u"inv-2", broken.Get()), E_FAIL);
  EXPECT_EQ(dtm->OpenCount(), 1u);
}

TEST_F(FunctionContainer, EveryLockingUserInterfaceGivesItsLockBackWhenItFinishes) {
  Attach();
  auto a = NewUi(6);
  auto b = NewUi(7);
  ASSERT_EQ(Start(u"a", a.Get()), S_OK);
  ASSERT_EQ(Start(u"b", b.Get()), S_OK);
  EXPECT_EQ(dtm->LockCount(), 2u);
  EXPECT_EQ(dtm->GetLockingFunctionCount(), 2u);
  journal.Clear();
  EXPECT_EQ(dtm->FunctionFinished(vkr::Bstr(u"a")), S_OK);
  EXPECT_EQ(dtm->LockCount(), 1u);
  EXPECT_FALSE(journal.Has("frame unlock")) << journal.Joined();
  EXPECT_TRUE(journal.Has("job 22 bstr:a")) << journal.Joined();
  EXPECT_EQ(dtm->FunctionFinished(vkr::Bstr(u"b")), S_OK);
  EXPECT_EQ(dtm->LockCount(), 0u);
  EXPECT_EQ(dtm->GetLockingFunctionCount(), 0u);
  EXPECT_EQ(dtm->OpenCount(), 0u);
  EXPECT_EQ(dtm->FunctionFinished(vkr::Bstr(u"b")), E_FAIL);
}

TEST_F(FunctionContainer, WithoutTheFrameNoLockIsTaken) {
  auto ui = NewUi(6);
  ASSERT_EQ(Start(u"a", ui.Get()), S_OK);
  EXPECT_EQ(dtm->LockCount(), 0u);
  EXPECT_EQ(dtm->FunctionFinished(vkr::Bstr(u"a")), S_OK);
  EXPECT_EQ(dtm->LockCount(), 0u);
}

// ---- Closing ----

TEST_F(FunctionContainer, ClosingAllAsksTheFrameForEachAndSurvivesUserInterfacesFinishing) {
  Attach();
  auto a = NewUi(3);
  auto b = NewUi(4);
  auto c = NewUi(5);
  ASSERT_EQ(Start(u"a", a.Get()), S_OK);
  ASSERT_EQ(Start(u"b", b.Get()), S_OK);
  ASSERT_EQ(Start(u"p", c.Get(), 1), S_OK);  // a private dialog: not the frame's
  // The frame finishes each user interface while it closes it.
  frame->onClose = [this](BSTR id) { dtm->FunctionFinished(id); };
  journal.Clear();
  VARIANT_BOOL closed = VARIANT_FALSE;
  EXPECT_EQ(dtm->CloseAllUserInterfaces(VARIANT_FALSE, &closed), S_OK);
  EXPECT_TRUE(closed);
  EXPECT_EQ(journal.With("frame close"), (std::vector<std::string>{"frame close a", "frame close b"}));
  EXPECT_EQ(dtm->OpenCount(), 0u);
}

TEST_F(FunctionContainer, AUserInterfaceTheFrameKeepsOpenFailsClosingAll) {
  Attach();
  auto a = NewUi(3);
  ASSERT_EQ(Start(u"a", a.Get()), S_OK);
  frame->closeAnswer = false;
  VARIANT_BOOL closed = VARIANT_TRUE;
  EXPECT_EQ(dtm->CloseAllUserInterfaces(VARIANT_FALSE, &closed), E_FAIL);
  EXPECT_FALSE(closed);
  EXPECT_EQ(dtm->CloseUserInterface(vkr::Bstr(u"unknown"), &closed), E_FAIL);
  EXPECT_EQ(dtm->CloseUserInterface(vkr::Bstr(u"a"), nullptr), E_POINTER);
}

// A user interface opens another function's user interface: the frame is asked with that
// function's call document.
TEST_F(FunctionContainer, OpeningAFunctionAsksTheFrameWithItsCall) {
  VARIANT_BOOL opened = VARIANT_TRUE;
  EXPECT_EQ(dtm->OpenUserInterface(8, &opened), E_FAIL);  // no frame
  EXPECT_FALSE(opened);
  EXPECT_EQ(dtm->OpenUserInterface(8, nullptr), E_POINTER);
  Attach();
  vkr::Bstr call, tag;
  ASSERT_EQ(dtm->GetFunctionCallDocument(8, call.Put()), S_OK);
  ASSERT_EQ(dtm->GetSystemTag(tag.Put()), S_OK);
  journal.Clear();
  EXPECT_EQ(dtm->OpenUserInterface(8, &opened), S_OK);
  EXPECT_TRUE(opened);
  EXPECT_EQ(journal.With("frame open"),
            (std::vector<std::string>{"frame open " + Text(tag.Get()) + " " + Text(call.Get())}));
}

// ---- The function list ----

TEST_F(FunctionContainer, TheListShowsWhatTheUserLevelAndThePhaseAdmit) {
  const struct {
    ULONG level;
    ULONG phase;
    std::vector<int> ids;
  } cases[] = {
      {8, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
      {1, 0, {3, 4, 6, 7, 8}},  // 1, 2 and 5 need an operator
      {8, 4, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const auto& c : cases) {
    dtm->SetUserLevel(c.level);
    dtm->SetPhase(c.phase);
    vkr::Bstr list;
    ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
    const std::string text = Text(list.Get());
    std::vector<int> ids;
    for (size_t at = text.find("functionId =\""); at != std::string::npos; at = text.find("functionId =\"", at + 1))
      ids.push_back(std::stoi(text.substr(at + 13)));
    EXPECT_EQ(ids, c.ids) << "level " << c.level << " phase " << c.phase << ": " << text;
  }
  EXPECT_EQ(dtm->GetFunctionList(nullptr), E_POINTER);
}

TEST_F(FunctionContainer, TheFunctionElementsParseInsideTheFunctionsDocument) {
  vkr::Bstr list;
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  const std::u16string doc = u"<FDT xmlns:fdt=\"f\" xmlns:appId=\"a\"><Functions>" + list.Str() + u"</Functions></FDT>";
  vkr::ComPtr<IXMLDOMDocument2> loaded;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(LoadXmlFromString(vkr::Bstr(doc), loaded.Put(), &ok), S_OK);
  EXPECT_TRUE(ok) << Text(list.Get());
}

// ---- Registry-defined functions ----

void SetRegString(const std::string& path, const char* name, const std::string& text) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
  RegCloseKey(h);
}
void SetRegDword(const std::string& path, const char* name, DWORD value) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(h);
}

TEST_F(FunctionContainer, RegistryFunctionsFollowTheBuiltInOnesWithTheNextIds) {
  const std::string key = "SOFTWARE\\Vorntec\\VKR Series DTM\\";
  SetRegDword(key + "Files", "Something", 1);  // no ProgID: not a function
  SetRegString(key + "Extra", "ProgID", "Vendor.Extra");
  SetRegString(key + "Labelled", "ProgID", "Vendor.Labelled");
  SetRegString(key + "Labelled", "Label", "A <label>");
  SetRegDword(key + "Labelled", "UserLevel", 4);
  SetRegDword(key + "Labelled", "Printable", 7);
  SetRegString(key + "Labelled", "ClassID", "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  const std::vector<SFunctionEntry> table = dtm->Table();
  ASSERT_EQ(table.size(), 11u);  // 8 built-in, 2 from the registry, the end
  EXPECT_EQ(table.back().nType, 0u);
  std::map<std::string, SFunctionEntry> added;
  for (size_t i = 8; i < 10; ++i) added[Text((table[i].pszName))] = table[i];
  ASSERT_EQ(added.size(), 2u);
  const SFunctionEntry& extra = added["Extra"];
  EXPECT_EQ(Text((extra.pszLabel)), "Extra");
  EXPECT_EQ(extra.nType, 2u);
  EXPECT_EQ(extra.nRequiredUserLevel, 1u);
  EXPECT_EQ(extra.nResizable, 1u);
  EXPECT_EQ(extra.pClassId, nullptr);
  const SFunctionEntry& labelled = added["Labelled"];
  EXPECT_EQ(Text((labelled.pszLabel)), "A <label>");
  EXPECT_EQ(labelled.nRequiredUserLevel, 4u);
  ASSERT_NE(labelled.pClassId, nullptr);
  EXPECT_EQ(labelled.pClassId->Data1, 0x01234567u);
  std::vector<LONG> ids{table[8].nFunctionId, table[9].nFunctionId};
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<LONG>{9, 10}));
  // The list escapes the registry's label and writes printable as 1.
  vkr::Bstr list;
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  const std::string text = Text(list.Get());
  EXPECT_NE(text.find("label =\"A &lt;label&gt;\""), std::string::npos) << text;
  EXPECT_NE(text.find("printable=\"1\""), std::string::npos) << text;
  // Reading again gives the same table, not the registry's functions twice.
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  const std::vector<SFunctionEntry> again = dtm->Table();
  ASSERT_EQ(again.size(), 11u);
  EXPECT_EQ(again[8].nFunctionId + again[9].nFunctionId, 19);
}

TEST_F(FunctionContainer, WithoutTheRegistryKeyTheTableStays) {
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  EXPECT_EQ(dtm->Table().size(), 9u);
}

}  // namespace

namespace {

TEST_F(FunctionContainer, RegistryTypesGiveTheirElements) {
  const std::string key = "SOFTWARE\\Vorntec\\VKR Series DTM\\";
  SetRegString(key + "Sep", "ProgID", "Vendor.Sep");
  SetRegDword(key + "Sep", "FunctionType", 9);
  SetRegString(key + "Zero", "ProgID", "Vendor.Zero");
  SetRegDword(key + "Zero", "FunctionType", 0);  // would end the table
  SetRegString(key + "Hidden", "ProgID", "Vendor.Hidden");
  SetRegDword(key + "Hidden", "Concealed", 1);
  SetRegString(key + "Engineering", "ProgID", "Vendor.Engineering");
  SetRegDword(key + "Engineering", "OperationPhase", 1);
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  ASSERT_EQ(dtm->Table().size(), 13u);
  dtm->SetPhase(4);
  vkr::Bstr list;
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  std::string text = Text(list.Get());
  EXPECT_NE(text.find("fdt:name =\"Sep\" \thelp =\"\" \thasGUI =\"0\""), std::string::npos) << text;
  EXPECT_NE(text.find("separator =\"1\""), std::string::npos) << text;
  EXPECT_NE(text.find("fdt:name =\"Zero\""), std::string::npos) << text;
  EXPECT_EQ(text.find("Hidden"), std::string::npos) << text;
  EXPECT_EQ(text.find("Engineering"), std::string::npos) << text;
  dtm->SetPhase(1);
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  text = Text(list.Get());
  EXPECT_NE(text.find("Engineering"), std::string::npos) << text;
}

TEST_F(FunctionContainer, GetFunctionsAnswersInItsStatesAndFollowsThePhase) {
  ASSERT_EQ(dtm->InitSchemas(), S_OK);
  const vkr::Bstr runtime(u"<FDT operationPhase=\"runtime\"/>");
  vkr::Bstr out;
  dtm->ForceState(dsENVIRONMENTSET);
  EXPECT_EQ(dtm->GetFunctions(runtime, out.Put()), S_FALSE);
  EXPECT_TRUE(out.Empty());
  EXPECT_EQ(dtm->GetFunctions(runtime, nullptr), E_INVALIDARG);
  dtm->ForceState(dsINITIALIZED);
  EXPECT_EQ(dtm->GetFunctions(nullptr, out.Put()), S_FALSE);
  EXPECT_EQ(dtm->GetFunctions(vkr::Bstr(u"<FDT"), out.Put()), S_FALSE);
  ASSERT_EQ(dtm->GetFunctions(runtime, out.Put()), S_OK);
  EXPECT_EQ(Text(out.Get()).find("functionId"), std::string::npos) << Text(out.Get());
  dtm->ForceState(dsCONFIGURED);
  ASSERT_EQ(dtm->GetFunctions(vkr::Bstr(u"<FDT operationPhase=\"service\"/>"), out.Put()), S_OK);
  EXPECT_NE(Text(out.Get()).find("functionId =\"8\""), std::string::npos) << Text(out.Get());
  vkr::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(LoadXmlFromString(out.Get(), doc.Put(), &ok), S_OK);
  EXPECT_TRUE(ok) << Text(out.Get());
  // An unknown phase word keeps the previous phase.
  ASSERT_EQ(dtm->GetFunctions(vkr::Bstr(u"<FDT operationPhase=\"lunch\"/>"), out.Put()), S_OK);
  EXPECT_EQ(dtm->FunctionOperationPhase(), 8u);
}

TEST_F(FunctionContainer, InvokingAFunctionNeedsStateLevelAndAHandler) {
  vkr::Bstr call;
  ASSERT_EQ(dtm->GetFunctionCallDocument(3, call.Put()), S_OK);
  VARIANT_BOOL invoked = VARIANT_TRUE;
  EXPECT_EQ(dtm->InvokeFunctionRequest(vkr::Bstr(u"i"), call, nullptr), E_POINTER);
  dtm->ForceState(dsCONFIGURED);
  dtm->SetUserLevel(1);
  EXPECT_EQ(dtm->InvokeFunctionRequest(vkr::Bstr(u"i"), call, &invoked), S_FALSE);
  EXPECT_FALSE(invoked);
  dtm->SetUserLevel(2);
  // The DTM's functions all have user interfaces: none runs here.
  EXPECT_EQ(dtm->InvokeFunctionRequest(vkr::Bstr(u"i"), call, &invoked), S_FALSE);
  EXPECT_EQ(dtm->InvokeFunctionRequest(vkr::Bstr(u"i"), vkr::Bstr(u"<x/>"), &invoked), S_FALSE);
  EXPECT_FALSE(invoked);
}

}  // namespace


namespace {

// The stand-in frame checks the message against its schemas and answers from its script.
TEST_F(FunctionContainer, TheStandInFrameTakesTheMessageAndAnswersFromItsScript) {
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> standIn;
  ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&standIn), S_OK);
  dtm->SetContainer(standIn.Get());
  standIn->userAnswers.push_back("buttonCancel");
  LONG answer = 0;
  EXPECT_EQ(dtm->ShowUserMessage(vkr::Bstr(u"Release"), vkr::Bstr(u"Close <all>?"), UI4(0x123), &answer), S_OK);
  EXPECT_EQ(answer, 2);
  EXPECT_TRUE(standIn->invalidDocuments.empty()) << standIn->invalidDocuments.front();
  ASSERT_EQ(standIn->userMessages.size(), 1u);
  EXPECT_EQ(standIn->userMessages[0],
            "message messageQuestion buttonsYesNoCancel Release: Close <all>? -> buttonCancel");
  // With an empty script the frame presses the first button.
  EXPECT_EQ(dtm->ShowUserMessage(vkr::Bstr(u"t"), vkr::Bstr(u"x"), UI4(0x104), &answer), S_OK);
  EXPECT_EQ(answer, 6);
  dtm->SetContainer(nullptr);
}

}  // namespace

namespace {

TEST_F(FunctionContainer, TranslatedTextsReplaceTheTableTextsEscaped) {
  vkr::ComPtr<IovFdtTranslation> translation;
  ASSERT_EQ(dtm->QueryInterface(IovFdtTranslation::iid, translation.PutVoid()), S_OK);
  VARIANT_BOOL taken = VARIANT_FALSE;
  ASSERT_EQ(translation->LoadTranslationXml(
                vkr::Bstr(u"<localization><general><languages><language lcid=\"1033\" code=\"en-us\"/></languages>"
                          u"</general><DTM><FunctionList><Function id=\"3\"><Label><locale code=\"en-us\">Online "
                          u"&lt;param&gt;</locale></Label></Function></FunctionList></DTM></localization>"),
                &taken),
            S_OK);
  ASSERT_TRUE(taken);
  VARIANT_BOOL selected = VARIANT_FALSE;
  translation->SetLanguage(1033, &selected);
  vkr::Bstr text;
  ASSERT_EQ(dtm->GetFunctionText(nullptr, 3, vkr::Bstr(u"Label"), text.Put()), S_OK);
  EXPECT_EQ(Text(text.Get()), "Online <param>");
  EXPECT_TRUE(FAILED(dtm->GetFunctionText(nullptr, 3, vkr::Bstr(u"Help"), text.Put())));
  EXPECT_EQ(dtm->GetFunctionText(nullptr, 3, vkr::Bstr(u"Help"), nullptr), E_POINTER);
  vkr::Bstr list;
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  const std::string all = Text(list.Get());
  EXPECT_NE(all.find("label =\"Online &lt;param&gt;\" \tfdt:name =\"OnlineParam\""), std::string::npos) << all;
}

}  // namespace

namespace {

// ---- The function list as a frame reads it ----

vkr::Bstr PhaseDocument(const char16_t* word) {
  return vkr::Bstr(std::u16string(u"<?xml version=\"1.0\" ?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" "
                                  u"operationPhase=\"") +
                   word + u"\"/>");
}

// The text of the first node the path selects in the document, or "(none)".
std::string Selected(IXMLDOMDocument2* document, const char16_t* path) {
  vkr::Bstr text;
  if (FAILED(SelectNodeText(document, vkr::Bstr(path), text.Put()))) return "(none)";
  return Text(text.Get());
}

TEST_F(FunctionContainer, TheFunctionListValidatesInEveryStateWithEveryKindOfEntry) {
  ASSERT_EQ(dtm->InitSchemas(), S_OK);
  // Registry functions of every type; the registry lists its keys by name, which gives the nesting.
  const struct {
    const char* name;
    DWORD type;
    DWORD applicationId;
  } entries[] = {
      {"A Group", 5, 0},       {"B Inner", 2, 0},   {"C Manual", 4, 0},      {"D Group end", 6, 0},
      {"E Standard", 7, 5},    {"F Diagnosis", 3, 5}, {"G Standard end", 8, 0}, {"H Separator", 9, 0},
      {"I Without id", 3, 0},  {"J Unknown id", 3, 99}, {"K Plain group", 7, 0}, {"L Plain end", 8, 0},
  };
  const std::string key = "SOFTWARE\\Vorntec\\VKR Series DTM\\";
  for (const auto& e : entries) {
    SetRegString(key + e.name, "ProgID", std::string("Vendor.") + e.name);
    SetRegDword(key + e.name, "FunctionType", e.type);
    SetRegDword(key + e.name, "ApplicationID", e.applicationId);
  }
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  for (EDtmState state : {dsINITIALIZED, dsCONFIGURED, dsCOMMUNICATIONSET, dsGOINGONLINE, dsGOINGOFFLINE, dsONLINE}) {
    dtm->ForceState(state);
    vkr::Bstr list;
    ASSERT_EQ(dtm->GetFunctions(PhaseDocument(u"engineering"), list.Put()), S_OK) << state;
    std::string reason;
    ASSERT_EQ(vkr::frame::FrameContainer::Validate(list.Get(), &reason), S_OK)
        << "state " << state << ": " << reason << "\n" << Text(list.Get());
    vkr::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(LoadXmlFromString(list.Get(), doc.Put(), &ok), S_OK);
    if (state == dsINITIALIZED) {
      EXPECT_EQ(Selected(doc.Get(), u"//@functionId"), "(none)");
      continue;
    }
    // The standard functions name their application by its word.
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunction[@functionId=\"1\"]/appId:ApplicationId/@applicationId"),
              "fdtOnlineParameterize");
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunction[@functionId=\"2\"]/appId:ApplicationId/@applicationId"),
              "fdtObserve");
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunction[@functionId=\"5\"]/appId:ApplicationId/@applicationId"),
              "fdtOfflineParameterize");
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunctions/StandardFunction/appId:ApplicationId/@applicationId"),
              "fdtDiagnosis");
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunctions[@fdt:name=\"E Standard\"]/appId:ApplicationId/@applicationId"),
              "fdtDiagnosis");
    // A standard function without an application the frame knows stays reachable as a function
    // with its user interface; a group without one has no application element.
    EXPECT_EQ(Selected(doc.Get(), u"//Function[@fdt:name=\"I Without id\"]/@hasGUI"), "1");
    EXPECT_EQ(Selected(doc.Get(), u"//Function[@fdt:name=\"J Unknown id\"]/@hasGUI"), "1");
    EXPECT_EQ(Selected(doc.Get(), u"//StandardFunctions[@fdt:name=\"K Plain group\"]/appId:ApplicationId"), "(none)");
    // The document carries its label, help and path only.
    EXPECT_EQ(Selected(doc.Get(), u"//Functions[@fdt:name=\"A Group\"]/Document/@label"), "C Manual");
    EXPECT_EQ(Selected(doc.Get(), u"//Document/*"), "(none)");
  }
}

TEST_F(FunctionContainer, GetFunctionsTakesOnlyAnOperationPhaseDocumentThatValidates) {
  ASSERT_EQ(dtm->InitSchemas(), S_OK);
  dtm->ForceState(dsCONFIGURED);
  dtm->SetPhase(2);
  const std::u16string head = u"<FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" ";
  const struct {
    const char* name;
    std::u16string document;
  } refused[] = {
      {"no phase", head + u"/>"},
      {"a nested root", head + u"operationPhase=\"service\"><FDT operationPhase=\"service\"/></FDT>"},
      {"a foreign element", head + u"operationPhase=\"service\"><x:y xmlns:x=\"urn:x\"/></FDT>"},
      {"not XML", head + u"operationPhase=\"service\">"},
  };
  for (const auto& c : refused) {
    vkr::Bstr out;
    EXPECT_EQ(dtm->GetFunctions(vkr::Bstr(c.document), out.Put()), S_FALSE) << c.name;
    EXPECT_NE(out.Get(), nullptr) << c.name;
    EXPECT_TRUE(out.Empty()) << c.name;
    EXPECT_EQ(dtm->FunctionOperationPhase(), 2u) << c.name;
  }
  vkr::Bstr out;
  ASSERT_EQ(dtm->GetFunctions(PhaseDocument(u"service"), out.Put()), S_OK);
  EXPECT_EQ(dtm->FunctionOperationPhase(), 8u);
  // Outside its states the answer is an empty text, whatever the document.
  const vkr::Bstr service = PhaseDocument(u"service");
  for (EDtmState state : {dsCREATED, dsENVIRONMENTSET, dsPREPAREDTORELEASE}) {
    dtm->ForceState(state);
    for (BSTR document : {service.Get(), static_cast<BSTR>(nullptr)}) {
      vkr::Bstr text;
      EXPECT_EQ(dtm->GetFunctions(document, text.Put()), S_FALSE) << state;
      EXPECT_NE(text.Get(), nullptr) << state;
      EXPECT_TRUE(text.Empty()) << state;
    }
  }
}

TEST_F(FunctionContainer, ARegistryFunctionBringsItsOwnTranslation) {
  ASSERT_EQ(dtm->InitSchemas(), S_OK);
  vkr::ComPtr<IovFdtTranslation> translation;
  ASSERT_EQ(dtm->QueryInterface(IovFdtTranslation::iid, translation.PutVoid()), S_OK);
  VARIANT_BOOL taken = VARIANT_FALSE;
  ASSERT_EQ(translation->LoadTranslationXml(
                vkr::Bstr(u"<localization><general><languages><language lcid=\"1033\" code=\"en-us\"/></languages>"
                          u"</general><DTM><FunctionList/></DTM><ActiveXList/></localization>"),
                &taken),
            S_OK);
  TempDir files;
  const std::string file = files / "extra.xml";
  {
    std::ofstream out(file, std::ios::binary);
    out << "<Translation><Function id=\"%d\"><Label><locale code=\"en-us\">Level &amp; echo</locale></Label>"
           "<Help><locale code=\"en-us\">How the echo looks</locale></Help></Function></Translation>";
  }
  const std::string key = "SOFTWARE\\Vorntec\\VKR Series DTM\\";
  SetRegString(key + "Extra", "ProgID", "Vendor.Extra");
  SetRegString(key + "Extra", "Translation", file);
  SetRegString(key + "Plain", "ProgID", "Vendor.Plain");
  SetRegString(key + "Plain", "Translation", files / "missing.xml");  // keeps its own texts
  ASSERT_EQ(dtm->ReadFunctionKeys(), S_OK);
  vkr::Bstr list;
  ASSERT_EQ(dtm->GetFunctionList(list.Put()), S_OK);
  const std::string text = Text(list.Get());
  EXPECT_NE(text.find("label =\"Level &amp; echo\" \tfdt:name =\"Extra\" \thelp =\"How the echo looks\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("label =\"Plain\" \tfdt:name =\"Plain\" \thelp =\"\""), std::string::npos) << text;
}

}  // namespace

// The control layer end to end: the frame opens the tests' own control through IFdtActiveXHost for
// a function of the real DTM, online with the simulated transmitter behind the frame's channel.
// The control starts, registers with the DTM's function container, shows what the transmitter
// holds, reads cyclically at the rates it asks for, closes by Escape, Cancel and OK through the
// close request, asks about unsaved changes, and lets everything go on every road out.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/controls/OutsideControls.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/test_control.h"
#include "tests/support/test_user_interface.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;
namespace wire = vkr::frame::wire;
using vkr::frame::Bytes;
using vkr::frame::FrameChannel;
using vkr::frame::SimulatedDevice;

// The DTM's functions the tests open: online parameterization (application 12), offline
// parameterization (10), and a function without an application id (3).
constexpr LONG kOnlineFunction = 1;
constexpr LONG kOfflineFunction = 5;
constexpr LONG kPlainFunction = 3;

// Command 13/18's members: the tag (6 packed characters), the descriptor (12), day, month, year.
constexpr ULONG kDescriptorId = 1055;
constexpr ULONG kDayId = 1056;
constexpr ULONG kMonthId = 1057;
constexpr ULONG kYearId = 1058;
constexpr UINT kWriteTagCommand = 18;

Bytes TagDescriptorDate(const std::string& tag, const std::string& descriptor, int day, int month, int year) {
  Bytes data = wire::PackAscii(tag, 6);
  const Bytes text = wire::PackAscii(descriptor, 12);
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(static_cast<std::uint8_t>(day));
  data.push_back(static_cast<std::uint8_t>(month));
  data.push_back(static_cast<std::uint8_t>(year));
  return data;
}

vkr::Variant Text(const char16_t* text) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}
vkr::Variant Byte(int n) {
  vkr::Variant v;
  v.vt = VT_UI1;
  v.bVal = static_cast<BYTE>(n);
  return v;
}

// The real DTM, naming the tests' control for every function; a start can be made to fail at the
// function list or at the parameter interface.
class ControlDtm : public CommDtm {
 public:
  bool brokenFunctionList = false;
  bool withoutParameterHandler = false;
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  // The DTM messages the user interfaces sent, in order.
  std::vector<LONG> messages;
  // The control whose download ends as soon as it is asked for.
  IovFdtActiveX4* downloading = nullptr;
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override {
    vkr::Variant number;
    if (SUCCEEDED(VariantChangeType(&number, &id, 0, VT_I4))) messages.push_back(number.lVal);
    // The transfer itself needs the DTM's thread, which this fixture does not run: a download the
    // control waits for ends at once, done, as the DTM tells it when it is over.
    if (number.vt == VT_I4 && number.lVal == 50 && downloading)
      downloading->ExecuteCommand(vkr::UI4(10013), vkr::BoolVariant(true));
    if (number.vt == VT_I4 && (number.lVal == 49 || number.lVal == 50)) return S_OK;
    return CommDtm::DtmMessage(id, argument);
  }

  HRESULT GetActiveXGuid(BSTR, BSTR* classId) override {
    OLECHAR text[40] = {};
    StringFromGUID2(CLSID_TestControl, text, 40);
    *classId = SysAllocString(text);
    return S_OK;
  }
  // The question goes to the frame, whose user answers it.
  HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT style, LONG* reply) override {
    return TestDtm::ShowUserMessage(title, text, style, reply);
  }
  HRESULT GetFunctions(BSTR request, BSTR* functions) override {
    if (brokenFunctionList) {
      *functions = SysAllocString(u"<FDT><unclosed>");
      return S_OK;
    }
    return CommDtm::GetFunctions(request, functions);
  }
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (withoutParameterHandler && riid == IovFdtParameterHandler4::iid) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return CommDtm::QueryExtraInterface(riid, ppv);
  }
};

class ControlEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CTestControl::liveCount = 0;
    ASSERT_EQ(RegisterTestControl(), S_OK);
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject<ControlDtm>(&dtm), S_OK);
    dtm->SetThread(thread.Get());
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    ASSERT_EQ(dtm->InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR))), S_OK);
    dtm->SetContainer(static_cast<IFdtContainer*>(frame.Get()));
    dtm->SetUserLevel(8);  // an engineer: the standard functions are offered
    frame->dtm = static_cast<IDtm*>(dtm.Get());
    ASSERT_EQ(frame->QueryInterface(IFdtActiveXHost::iid, host.PutVoid()), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    device = channel->devices.front();
    ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(channel.Get()), S_OK);
  }
  void TearDown() override {
    frame->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(CTestControl::liveCount, 0) << "a control was kept after the frame let it go";
    if (dtm->State() == dsONLINE) {
      dtm->ForceState(dsGOINGOFFLINE);
      VARIANT_BOOL done = VARIANT_FALSE;
      dtm->GoOffline(&done);
      PumpUntil([&] { return dtm->State() == dsCOMMUNICATIONSET; });
    }
    dtm->DropChannel();
    frame->dtm = nullptr;
    dtm->SetContainer(nullptr);
    host = nullptr;
    dtm = nullptr;
    frame = nullptr;
    channel = nullptr;
    CoRevokeClassObject(cookie);
    RevokeTestControl();
    DrainQueue();
    CoUninitialize();
  }

  void GoOnline() {
    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();
  }
  // The DTM reads the parameter from the transmitter (its device value).
  void ReadFromTransmitter(LONG id) {
    vkr::ComPtr<IovFdtParameterHandler4> handler;
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    VARIANT_BOOL read = VARIANT_FALSE;
    ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(static_cast<ULONG>(id)), &read), S_OK);
    ASSERT_EQ(read, VARIANT_TRUE);
  }
  // Opens the function through the frame; the control, or null.
  CTestControl* Open(LONG functionId, HRESULT expected = S_OK) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(functionId));
    EXPECT_EQ(host->OpenActiveXControl(vkr::Bstr(u"tag"), call, &opened), expected);
    Settle();
    if (!opened || frame->activeX.OpenControls().empty()) return nullptr;
    return AsTestControl(frame->activeX.OpenControls().back().control.Get());
  }
  HWND Item(CTestControl* control, UINT id) const { return GetDlgItem(control->ControlWindow(), static_cast<int>(id)); }
  std::string ItemText(CTestControl* control, UINT id) const {
    char text[256] = {};
    GetWindowTextA(Item(control, id), text, sizeof text);
    return text;
  }
  void Type(CTestControl* control, UINT field, const char* text) {
    vkr::ui::Click(Item(control, field));
    SendMessageA(Item(control, field), EM_SETSEL, 0, -1);
    SendMessageA(Item(control, field), WM_CLEAR, 0, 0);
    vkr::ui::TypeText(Item(control, field), text);
    vkr::ui::PumpUntilIdle();
  }
  // The last status of the cyclic reading the control reported (0 none).
  static ULONG CyclicStatus(const CTestControl* control) {
    ULONG last = 0;
    for (const auto& [kind, value] : control->statuses)
      if (kind == 2) last = value;
    return last;
  }
  void Settle() {
    ASSERT_TRUE(PumpUntil([&] { return channel->PendingAnswers() == 0; }));
    ASSERT_TRUE(PumpUntilQuiet());
  }
  // The frame closes the control it opened last, as its own close would, and lets it go.
  void CloseLastControl() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    ASSERT_EQ(host->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(frame->activeX.OpenControls().back().invokeId)),
                                        &closed),
              S_OK);
    EXPECT_TRUE(closed);
    vkr::ui::PumpUntilIdle();
  }
  std::size_t Count(const std::string& prefix) const {
    std::size_t n = 0;
    for (const std::string& r : frame->activeX.record) n += r.rfind(prefix, 0) == 0;
    return n;
  }

  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
  DWORD cookie = 0;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
  vkr::ComPtr<vkr::ComObject<ControlDtm>> dtm;
  vkr::ComPtr<IFdtActiveXHost> host;
  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  std::shared_ptr<SimulatedDevice> device;
};

// Opened by the frame for the DTM's online parameterization while the DTM is online: the control
// registers with the function container (which asks it for its cyclic parameters by the frame's
// invoke id), reads the transmitter, reports that it reads cyclically, changes and stops its
// cyclic reads at the rates it asks for, and closes by Escape: a repeating key asks the frame once,
// and the frame lets the control go.
TEST_F(ControlEndToEnd, StartsReadsUpdatesCyclicallyAndClosesByEscape) {
  device->config.tagDescriptorDate = TagDescriptorDate("LT-101", "LEVEL", 1, 2, 120);
  GoOnline();
  ReadFromTransmitter(kTestTagId);
  CTestControl* control = Open(kOnlineFunction);
  ASSERT_NE(control, nullptr);
  const std::string invokeId = frame->activeX.OpenControls().back().invokeId;
  EXPECT_EQ(vkr::Utf16ToUtf8(control->InstanceId().View()), invokeId);
  EXPECT_EQ(control->ApplicationId(), static_cast<ULONG>(kAppIdOnlineParameterize));
  EXPECT_EQ(control->m_nDialogType, 4u);
  EXPECT_EQ(ItemText(control, kTestTagEdit), "LT-101  ") << "the transmitter's tag is not shown";
  EXPECT_EQ(CyclicStatus(control), 1u) << "cyclic reading not reported as running";

  journal.Clear();
  ASSERT_EQ(control->ChangeUpdateRate(kTestDampingId, 500), S_OK);
  EXPECT_EQ(journal.With("job "), (std::vector<std::string>{"job 6 id 1022 rate 500", "job 6 id 1048 rate 1000"}));
  journal.Clear();
  ASSERT_EQ(control->ChangeUpdateRate(kTestDampingId, 0), S_OK);
  ASSERT_EQ(control->ChangeUpdateRate(kTestCurrentValueId, 0), S_OK);
  EXPECT_EQ(journal.With("job "), (std::vector<std::string>{"job 7 id 1022 rate 500", "job 7 id 1048 rate 1000"}));
  EXPECT_EQ(CyclicStatus(control), 2u) << "stopped cyclic reading still reported";

  // F1 names the help file the DTM's translation gives the class.
  dtm->translations["localization/ActiveXList/ActiveX[@classname=\"Vorn Test Control\"]/HelpFile"] = u"vkr-de.chm";
  SendMessageW(Item(control, kTestTagEdit), WM_HELP, 0, 0);
  EXPECT_EQ(vkr::Utf16ToUtf8(control->LastHelpFile().View()), "vkr-de.chm");

  // Escape held down: the key repeats before the host loop serves the first close request.
  HWND edit = Item(control, kTestDampingEdit);
  vkr::ui::Click(edit);
  vkr::ui::PumpUntilIdle();
  PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0x40010001);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Count("prepare "), 1u);
  EXPECT_TRUE(frame->activeX.OpenControls().empty());
  EXPECT_EQ(CTestControl::liveCount, 0) << "the DTM still holds the control";
}

// The function decides the dialog: online parameterization reads the device (type 4), offline
// parameterization does not (type 2), a function without an application id leaves the dialog as
// the class made it. A second Init on a started control is refused and registers nothing twice.
TEST_F(ControlEndToEnd, TheFunctionChoosesTheDialog) {
  GoOnline();
  struct Row {
    LONG function;
    ULONG applicationId;
    ULONG dialogType;
    const char* name;
  };
  const Row rows[] = {
      {kOnlineFunction, kAppIdOnlineParameterize, 4, "OnlineParameterization..."},
      {kOfflineFunction, kAppIdOfflineParameterize, 2, "OfflineParam"},
      {kPlainFunction, kAppIdNone, 2, "OnlineParam"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.function);
    CTestControl* control = Open(row.function);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->FunctionId(), row.function);
    EXPECT_EQ(control->ApplicationId(), row.applicationId);
    EXPECT_EQ(control->m_nDialogType, row.dialogType);
    EXPECT_EQ(vkr::Utf16ToUtf8(control->FunctionName().View()), row.name);

    VARIANT_BOOL again = VARIANT_TRUE;
    EXPECT_EQ(control->Init(vkr::Bstr(u"other").Get(), control->FunctionCall().Get(), static_cast<IDtm*>(dtm.Get()),
                            &again),
              S_FALSE);
    EXPECT_EQ(again, VARIANT_FALSE);
    EXPECT_EQ(vkr::Utf8ToUtf16(frame->activeX.OpenControls().back().invokeId), control->InstanceId().View());
    CloseLastControl();
    EXPECT_EQ(CTestControl::liveCount, 0) << "a refused second Init left a registration behind";
  }
  // The names of the function list, exactly as written.
  const char16_t* names[] = {u"fdtAdjustSetValue", u"fdtAssetManagement",     u"fdtAuditTrail",
                             u"fdtConfiguration",  u"fdtDiagnosis",           u"fdtForce",
                             u"fdtManagement",     u"fdtObserve",             u"fdtOfflineCompare",
                             u"fdtOfflineParameterize", u"fdtOnlineCompare",  u"fdtOnlineParameterize",
                             u"fdtMainOperation"};
  for (ULONG i = 0; i < 13; ++i) {
    ULONG id = 99;
    EXPECT_EQ(CovFDT_IDtmActiveXControlImpl::ApplicationIdFromName(names[i], &id), S_OK);
    EXPECT_EQ(id, i + 1);
  }
  ULONG id = 99;
  EXPECT_EQ(CovFDT_IDtmActiveXControlImpl::ApplicationIdFromName(u"fdtobserve", &id), E_FAIL);
  EXPECT_EQ(id, 99u);
}

// A start refused after the control registered with the function container withdraws the
// registration: the frame lets the control go without asking it to release, and the container
// must not keep it (nor broadcast to it). An empty invoke id is refused before anything is
// registered under it.
TEST_F(ControlEndToEnd, ARefusedStartLeavesNoRegistrationBehind) {
  GoOnline();
  struct Row {
    const char* what;
    bool brokenFunctionList;
    bool withoutParameterHandler;
    HRESULT expected;
  };
  const Row rows[] = {
      {"function list that does not load", true, false, E_FAIL},
      {"DTM without parameter interface", false, true, S_FALSE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    dtm->brokenFunctionList = row.brokenFunctionList;
    dtm->withoutParameterHandler = row.withoutParameterHandler;
    frame->activeX.record.clear();
    EXPECT_EQ(Open(kOnlineFunction, row.expected), nullptr);
    EXPECT_EQ(Count("init "), 1u);
    EXPECT_EQ(Count("closed "), 1u);
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(CTestControl::liveCount, 0) << "the function container kept the refused control";
    // Nothing is left to hear the DTM's broadcasts.
    EXPECT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastUserLevel), vkr::UI4(8)), S_OK);
  }
  dtm->brokenFunctionList = false;
  dtm->withoutParameterHandler = false;

  vkr::ComPtr<IDtmActiveXControl> bare;
  ASSERT_EQ(CoCreateInstance(CLSID_TestControl, nullptr, CLSCTX_INPROC_SERVER, IDtmActiveXControl::iid,
                             bare.PutVoid()),
            S_OK);
  VARIANT_BOOL started = VARIANT_TRUE;
  const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOnlineFunction));
  EXPECT_EQ(bare->Init(vkr::Bstr(u"").Get(), call.Get(), static_cast<IDtm*>(dtm.Get()), &started), S_FALSE);
  EXPECT_EQ(started, VARIANT_FALSE);
  EXPECT_EQ(bare->Init(vkr::Bstr(u"x").Get(), call.Get(), nullptr, &started), S_FALSE);
  EXPECT_EQ(bare->Init(vkr::Bstr(u"x").Get(), call.Get(), static_cast<IDtm*>(dtm.Get()), nullptr), E_POINTER);
  bare = nullptr;
  EXPECT_EQ(CTestControl::liveCount, 0) << "the empty invoke id was registered";
}

// OK applies the changes and closes only when they were taken: a tag too long for the transmitter
// brings the user back to it and nothing is written or closed; Enter on a valid tag (the default
// button) writes it with the group's other members as the data set holds them, then closes, after
// the question about the changes now in the device.
TEST_F(ControlEndToEnd, OkWritesAndClosesOnlyWhenEveryEntryIsValid) {
  device->config.tagDescriptorDate = TagDescriptorDate("OLDTAG", "OLD DESCRIPT", 3, 4, 101);
  GoOnline();
  ReadFromTransmitter(kTestTagId);
  CTestControl* control = Open(kOnlineFunction);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(ItemText(control, kTestTagEdit), "OLDTAG  ");
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastUserLevel), vkr::UI4(8)), S_OK);
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastLockState), vkr::BoolVariant(true)), S_OK);
  ASSERT_EQ(dtm->SetValueById(kDescriptorId, Text(u"DATASET DESC")), S_OK);
  ASSERT_EQ(dtm->SetValueById(kDayId, Byte(7)), S_OK);
  ASSERT_EQ(dtm->SetValueById(kMonthId, Byte(8)), S_OK);
  ASSERT_EQ(dtm->SetValueById(kYearId, Byte(109)), S_OK);
  vkr::ui::PumpUntilIdle();
  auto writes = [&] {
    std::size_t n = 0;
    for (const auto& r : device->received) n += r.command == kWriteTagCommand;
    return n;
  };

  Type(control, kTestTagEdit, "MUCHTOOLONG");
  vkr::ui::Click(Item(control, IDOK));
  vkr::ui::PumpUntilIdle();
  Settle();
  EXPECT_EQ(writes(), 0u) << "refused input went out";
  EXPECT_EQ(Count("prepare "), 0u) << "OK closed with an invalid entry";
  EXPECT_EQ(GetFocus(), Item(control, kTestTagEdit)) << "the user is not back at the field";

  frame->userAnswers.push_back("buttonNo");
  Type(control, kTestTagEdit, "NEWTAG");
  vkr::ui::PressKey(VK_RETURN, 0, Item(control, kTestTagEdit));
  vkr::ui::PumpUntilIdle();
  Settle();
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(writes(), 1u);
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate),
            wire::ToHex(TagDescriptorDate("NEWTAG", "DATASET DESC", 7, 8, 109)));
  ASSERT_EQ(frame->userMessages.size(), 1u);
  EXPECT_NE(frame->userMessages[0].find("Upload Parameters"), std::string::npos) << frame->userMessages[0];
  EXPECT_EQ(Count("prepare "), 1u);
  EXPECT_TRUE(frame->activeX.OpenControls().empty());
}

// Disabling Apply takes the default mark from a push button, but leaves an owner-drawn button
// owner-drawn: its style is its look.
TEST_F(ControlEndToEnd, DisablingApplyKeepsAnOwnerDrawnButtonOwnerDrawn) {
  GoOnline();
  CTestControl* control = Open(kOnlineFunction);
  ASSERT_NE(control, nullptr);
  HWND apply = Item(control, kApplyButtonId);
  ASSERT_NE(apply, nullptr);
  const struct {
    DWORD type, expected;
  } cases[] = {{BS_DEFPUSHBUTTON, BS_PUSHBUTTON}, {BS_OWNERDRAW, BS_OWNERDRAW}, {BS_PUSHBUTTON, BS_PUSHBUTTON}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EnableWindow(apply, TRUE);
    const LONG others = GetWindowLongA(apply, GWL_STYLE) & ~0x0FL;
    SetWindowLongA(apply, GWL_STYLE, others | static_cast<LONG>(c.type));
    ASSERT_EQ(control->EnableApplyButton(FALSE), S_OK);
    EXPECT_FALSE(IsWindowEnabled(apply));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(apply, GWL_STYLE)) & 0x0F, c.expected);
    EXPECT_EQ(GetWindowLongA(apply, GWL_STYLE) & ~0x0FL & ~static_cast<LONG>(WS_DISABLED), others) << "the other bits stay";
  }
  CloseLastControl();
}

// Closing with changes applied asks the user, through the frame, whether they are to be taken
// over: changes written to the transmitter ask to load them into the DTM, changes kept in the DTM
// ask to store them to the device. Cancel keeps the control open and working; Yes sends the DTM
// the upload or download before the control goes; No lets it go; an offline DTM never asks.
TEST_F(ControlEndToEnd, UnsavedChangesAreAskedAboutOnTheWayOut) {
  struct Row {
    const char* what;
    bool online;
    const char* answer;
    const char* tag;    // typed and applied (each row's own: the data set keeps the last)
    const char* title;  // of the question; null: none asked
    bool closes;
    LONG message;  // DTM message sent on the way out, 0 none
  };
  const Row rows[] = {
      {"device, cancel", true, "buttonCancel", "CHG-1", "Upload Parameters", false, 0},
      {"device, yes", true, "buttonYes", "CHG-2", "Upload Parameters", true, 49},
      {"device, no", true, "buttonNo", "CHG-3", "Upload Parameters", true, 0},
      {"DTM only, yes", false, "buttonYes", "CHG-4", "Download Parameters", true, 50},
      {"offline DTM", false, "buttonYes", "CHG-5", nullptr, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.online && dtm->State() != dsONLINE) GoOnline();
    if (!row.online) dtm->ForceState(row.title ? dsCOMMUNICATIONSET : dsCONFIGURED);
    CTestControl* control = Open(row.online ? kOnlineFunction : kOfflineFunction);
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastUserLevel), vkr::UI4(8)), S_OK);
    ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastLockState), vkr::BoolVariant(true)), S_OK);
    Type(control, kTestTagEdit, row.tag);
    // Changes the data set alone took are offered for download at Apply already; cancelled there,
    // the way out asks again.
    if (!row.online && row.title) frame->userAnswers.push_back("buttonCancel");
    vkr::ui::Click(Item(control, kApplyButtonId));
    vkr::ui::PumpUntilIdle();
    Settle();
    ASSERT_TRUE(control->m_bDeviceChanged || control->m_bDtmChanged) << "Apply changed nothing";
    EXPECT_EQ(control->m_bDeviceChanged != 0, row.online);

    frame->userMessages.clear();
    frame->userAnswers.push_back(row.answer);
    dtm->messages.clear();
    dtm->downloading = control;
    frame->activeX.record.clear();
    vkr::ui::Click(Item(control, IDCANCEL));
    vkr::ui::PumpUntilIdle();
    dtm->downloading = nullptr;
    if (row.title) {
      ASSERT_EQ(frame->userMessages.size(), 1u);
      EXPECT_NE(frame->userMessages[0].find(row.title), std::string::npos) << frame->userMessages[0];
    } else {
      EXPECT_TRUE(frame->userMessages.empty()) << frame->userMessages[0];
      frame->userAnswers.clear();
    }
    EXPECT_EQ(frame->activeX.OpenControls().empty(), row.closes);
    const bool sent = std::find(dtm->messages.begin(), dtm->messages.end(), row.message) != dtm->messages.end();
    if (row.message) {
      EXPECT_TRUE(sent) << "message " << row.message << " not sent";
    }
    for (LONG m : {49, 50}) {
      if (m != row.message) {
        EXPECT_EQ(std::find(dtm->messages.begin(), dtm->messages.end(), m), dtm->messages.end()) << m;
      }
    }
    if (!row.closes) {
      // Still open and still taking the DTM's commands; the next close goes through.
      EXPECT_NE(control->m_nAccessMode, 4);
      EXPECT_EQ(control->ExecuteCommand(vkr::UI4(kBroadcastUserLevel), vkr::UI4(2)), S_OK);
      frame->userAnswers.push_back("buttonNo");
      vkr::ui::Click(Item(control, IDCANCEL));
      vkr::ui::PumpUntilIdle();
      EXPECT_TRUE(frame->activeX.OpenControls().empty());
    }
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(CTestControl::liveCount, 0);
  }
}

// The close request a control posts to its own window acts for that window's control, whatever
// the message carries, and one still queued when the frame closed the control some other way is
// dropped with the window.
TEST_F(ControlEndToEnd, TheCloseRequestBelongsToItsWindow) {
  GoOnline();
  CTestControl* control = Open(kOnlineFunction);
  ASSERT_NE(control, nullptr);
  PostMessageW(control->ControlWindow(), kCloseRequestMessage, 0, static_cast<LPARAM>(0x5A5A5A50));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Count("prepare "), 1u);
  EXPECT_TRUE(frame->activeX.OpenControls().empty());
  EXPECT_EQ(CTestControl::liveCount, 0);

  control = Open(kOnlineFunction);
  ASSERT_NE(control, nullptr);
  ASSERT_EQ(control->PostCloseRequest(), S_OK);
  CloseLastControl();
  EXPECT_EQ(Count("prepare "), 2u) << "the queued request of a closed control was acted on";
  EXPECT_EQ(CTestControl::liveCount, 0);
}

// The window of a control class with hosted display controls: the class's listed display learns
// the status kinds the control passes on, the other display nothing.
TEST(ControlWindow, TheListedDisplayControlsGetTheOptionBits) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  {
    vkr::ComPtr<vkr::ComObject<CTestControl>> control;
    ASSERT_EQ(vkr::MakeObject<CTestControl>(&control, true), S_OK);
    control->m_nStatusSubscription = 0x300;
    HWND parent = CreateWindowExW(0, vkr::frame::FrameWindowClass(), u"", WS_POPUP | WS_VISIBLE, 0, 0, 500, 300,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    CTestControl* ui = control.Get();  // ComObject's own Create (the factory's) hides the window's
    HWND window = ui->Create(parent);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    auto options = [&](UINT item) {
      vkr::ComPtr<IUnknown> display;
      EXPECT_EQ(control->GetDlgControl(static_cast<int>(item), IID_IUnknown, display.PutVoid()), S_OK);
      std::vector<std::string> lines;
      for (const std::string& line : vkr::frame::RecordedCalls(display.Get()))
        if (line.rfind("SetOption", 0) == 0) lines.push_back(line);
      return lines;
    };
    EXPECT_EQ(options(kTestListedDisplay),
              (std::vector<std::string>{"SetOption1 0x100", "SetOption2 0x200", "SetOption3 0x0"}));
    EXPECT_TRUE(options(kTestUnlistedDisplay).empty());
    DestroyWindow(parent);
    vkr::ui::PumpUntilIdle();
  }
  EXPECT_EQ(CTestControl::liveCount, 0);
  vkr::frame::RevokeOutsideControls();
  CoUninitialize();
}
}  // namespace

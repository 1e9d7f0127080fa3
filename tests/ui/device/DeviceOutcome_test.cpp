// What the user is told of a device access that did not happen: the DTM's error texts classified,
// the sentences built from them, and every device access of the online frame's pages under every fault.
#include "ui/device/kit/DeviceOutcome.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "frame/FrameChannel.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/live_page_host.h"
#include "tests/support/text_log.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/DiagPP.h"
#include "ui/device/EchoPP.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/StatusPP.h"
#include "ui/device/kit/ResponseBytes.h"

namespace {

using namespace vkr::dui;

std::string Narrow(const std::u16string& text) { return vkr::Utf16ToUtf8(text); }

// Every kind of failure text the DTM reports, and what the user reads of a write of Hi Level
// (command 35) that ended so.
TEST(DeviceOutcome, EveryFailureTextTellsWhatDidNotHappenAndWhy) {
  struct Row {
    const char16_t* text;
    EDeviceOutcome kind;
    int code;
    const char* told;
  };
  const Row rows[] = {
      {u"error: device status = 0x40 command response = 0x09", EDeviceOutcome::Refused, 9,
       "Hi Level was not written: the device refused it: 0x09 (lower range value too high)."},
      {u"error: command response = 0x02", EDeviceOutcome::Refused, 2,
       "Hi Level was not written: the device refused it: 0x02 (invalid selection)."},
      {u"error: command response = 0x41", EDeviceOutcome::Refused, 0x41,
       "Hi Level was not written: the device refused it: 0x41."},
      {u"error: device status = 0x00 command response = 0x20", EDeviceOutcome::Busy, 32,
       "Hi Level was not written: the device is busy."},
      {u"error: communication status = 0x88", EDeviceOutcome::Lost, -1,
       "Hi Level was not written: the device's answer was lost."},
      {u"unknownError, descriptor: the answer was lost", EDeviceOutcome::Lost, -1,
       "Hi Level was not written: the device's answer was lost."},
      {u"busy", EDeviceOutcome::Busy, -1, "Hi Level was not written: the device is busy."},
      {u"noConnection, descriptor: the link to the device is lost", EDeviceOutcome::LinkGone, -1,
       "Hi Level was not written: the connection to the device is lost."},
      {u"Error: no answer in time", EDeviceOutcome::NoAnswer, -1,
       "Hi Level was not written: the device did not answer."},
      {u"timeout", EDeviceOutcome::NoAnswer, -1, "Hi Level was not written: the device did not answer."},
      {u"Error: the request was not taken", EDeviceOutcome::NotTaken, -1,
       "Hi Level was not written: the request did not reach the device."},
      {u"something else", EDeviceOutcome::Lost, -1, "Hi Level was not written: the device's answer was lost."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    const SDeviceOutcome outcome = ClassifyFailureText(row.text);
    EXPECT_EQ(outcome.kind, row.kind);
    EXPECT_EQ(outcome.responseCode, row.code);
    EXPECT_EQ(Narrow(NotWrittenText({u"Hi Level"}, outcome, 35)), row.told);
  }
}

// The sentences for one name and several, a read, a procedure, an invalid entry.
TEST(DeviceOutcome, SentencesNameEveryThingNotDone) {
  SDeviceOutcome silent;
  silent.kind = EDeviceOutcome::NoAnswer;
  SDeviceOutcome refused;
  refused.kind = EDeviceOutcome::Refused;
  refused.responseCode = 7;
  SDeviceOutcome offline;
  offline.kind = EDeviceOutcome::Offline;
  SDeviceOutcome notTaken;
  notTaken.kind = EDeviceOutcome::NotTaken;
  const std::pair<std::u16string, const char*> rows[] = {
      {NotWrittenText({u"Low Level", u"Hi Level"}, refused),
       "Low Level and Hi Level were not written: the device refused them: 0x07 (in write protect mode)."},
      {NotWrittenText({u"A", u"B", u"C"}, offline), "A, B and C were not written: no device is connected."},
      {NotReadText({u"Additional Device Status"}, silent),
       "Additional Device Status could not be read: the device did not answer."},
      {NotDoneText(u"Master Reset", notTaken), "Master Reset failed: the request did not reach the device."},
      {InvalidEntryText({u"Hi Level"}), "Hi Level was not written: its entry is not valid."},
      {InvalidEntryText({u"Hi Level", u"Damping"}),
       "Hi Level and Damping were not written: their entries are not valid."},
      {kNothingWrittenOffline, "Nothing was written: no device is connected."},
      {CarriesUnreadText({u"Sensitivity"}, {u"Blanking"}),
       "Sensitivity was not written: it goes to the device with Blanking, which could not be read."},
      {CarriesUnreadText({u"Polling Address", u"Sensitivity"}, {u"Blanking", u"Distance Offset"}),
       "Polling Address and Sensitivity were not written: they go to the device with Blanking and Distance Offset, "
       "which could not be read."},
      {CarriesUnreadText({}, {u"Polling Address", u"Loop Current Mode"}),
       "Polling Address and Loop Current Mode were not written: they could not be read."},
      // A download: what failed, what it wrote before it stopped, and the changes the device lacks.
      {DownloadFailureText(NotWrittenText({u"\"Range Values\""}, notTaken), {}, {u"\"Range Values\""}),
       "The download did not go through: \"Range Values\" was not written: the request did not reach the device. "
       "The device was not changed: it holds none of the changes (\"Range Values\"); they stay in the data set."},
      {DownloadFailureText(u"\"Range Values\" was not written: the device is busy", {u"\"Message\"", u"\"Damping Value\""},
                           {u"\"Range Values\"", u"\"PV unit\""}),
       "The download did not go through: \"Range Values\" was not written: the device is busy. The device now holds "
       "what the download wrote before it stopped (\"Message\" and \"Damping Value\"), not the changes \"Range "
       "Values\" and \"PV unit\"; they stay in the data set."},
      {DownloadFailureText(u"\"Display Mode\" was not written: the device did not answer.", {u"\"Message\""}, {}),
       "The download did not go through: \"Display Mode\" was not written: the device did not answer. The device now "
       "holds what the download wrote before it stopped (\"Message\")."},
      {DownloadFailureText(u"the DTM could not go online to the device", {}, {}),
       "The download did not go through: the DTM could not go online to the device. The device was not changed; the "
       "changes stay in the data set."},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(Narrow(text), expected);
}

}  // namespace

// ---- Every device access of the online frame's pages, under every fault -------------------------
//
// The module's frame and pages on the DTM online to the simulated transmitter through the frame's
// channel. Each row is a command a page sends and what sends it (Send, Refresh, Read or a page's
// own button); each runs under the five faults (the link lost last: nothing goes through after it).
// Each time the user is told once what did not happen and why, no field shows a value or a mark
// the device did not give, and the transmitter holds what it held.

namespace {

using namespace vkr::test;
using vkr::frame::Bytes;
using Config = vkr::frame::SimulatedDevice::Configuration;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;
namespace wire = vkr::frame::wire;

std::string Held(const Config& c) { return vkr::test::StoredSettings(c); }

class PageAccess;
// One command of a page: the tree index of the page, the HART command, what the user does (the
// fault is already waiting), the start of what the user is told (the reason follows, then `end`),
// and what the fields show afterwards (may be null).
struct SAccess {
  const char* name;
  ULONG page;
  int command;
  std::function<void(PageAccess&)> act;
  const char* told;
  const char* end;
  std::function<void(PageAccess&)> fields;
};

// The module's online frame on the simulated transmitter, its pages reached as the user reaches
// them.
class LivePages : public LivePageHostTest {
 public:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartSession()); }
  void TearDown() override {
    if (session_ && session_->Dtm()) session_->Frame()->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    LivePageHostTest::TearDown();
  }

  void OpenFrame(bool online) {
    if (!online) session_->Channel()->devices.clear();
    IUnknown* opened = OpenFunction(1);
    ASSERT_NE(opened, nullptr);
    vkr::ComPtr<IPPFrameCtrl> control;
    opened->QueryInterface(IPPFrameCtrl::iid, control.PutVoid());
    frame = dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(control.Get()));
    ASSERT_NE(frame, nullptr);
    if (online) {
      ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
    }
    vkr::frame::WaitUntilQuiet();
  }
  void Show(ULONG page) {
    shown = page;
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(page)));
    vkr::frame::WaitUntilQuiet();
  }
  template <class T = CovFDT_BaseActiveXImpl>
  T* Page() const {
    return dynamic_cast<T*>(frame->Page(shown));
  }
  HWND Item(UINT id) const { return GetDlgItem(Page()->DialogWindow(), static_cast<int>(id)); }
  std::string Text(UINT id) const { return vkr::ui::WindowText(Item(id)); }
  std::string MessageLine() const { return vkr::ui::WindowText(frame->GetDlgItem(kOnlineMessage)); }
  void Type(UINT id, const char* text) {
    HWND control = Item(id);
    if (vkr::ui::SelectItem(control, std::string_view(text))) return;
    ASSERT_TRUE(vkr::ui::Click(control));
    SendMessageA(control, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(control, text));
  }
  void ClickItem(UINT id) { ASSERT_TRUE(vkr::ui::Click(Item(id))); }
  void ClickFrame(UINT id) { ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(static_cast<int>(id)))); }
  bool Changed(LONG parameter) const {
    const LONG index = Page()->FindParameterIndex(parameter);
    return index >= 0 && (Page()->ParameterTable()[index].m_nState & vkr::dui::kStateChanged) != 0;
  }
  bool Enabled(UINT id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  bool ReadOnly(UINT id) const { return (GetWindowLongA(Item(id), GWL_STYLE) & ES_READONLY) != 0; }
  void Inject(const char* kind, int command) {
    if (std::string(kind) == "silent") {
      vkr::frame::CommandFault silent;
      silent.command = command;
      silent.silent = true;
      device_->InjectFault(silent);
      return;
    }
    Fault fault;
    fault.command = command;
    fault.word = "unknownError";
    fault.kind = std::string(kind) == "refused" ? FaultKind::Refuse
                 : std::string(kind) == "busy"  ? FaultKind::Busy
                 : std::string(kind) == "lost"  ? FaultKind::CommunicationError
                                                : FaultKind::Disconnect;
    session_->Channel()->faults.push_back(fault);
  }
  const std::vector<std::string>& Told() const { return session_->Frame()->userMessages; }

  // The fields of the page shown that wait for a device value ("Loading...").
  std::vector<std::string> Waiting() const {
    std::vector<std::string> waiting;
    for (HWND child = GetWindow(Page()->DialogWindow(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const std::string text = vkr::ui::WindowText(child);
      if (IsWindowVisible(child) && (text == "Loading..." || text == "..."))
        waiting.push_back(std::to_string(GetDlgCtrlID(child)));
    }
    return waiting;
  }
  // The entries of the page shown that carry a mark of these state bits.
  std::vector<LONG> Marked(ULONG bits) const {
    std::vector<LONG> marked;
    const CActXParInfo* table = Page()->ParameterTable();
    for (ULONG i = 0; table && !table[i].IsEnd(); ++i)
      if (table[i].m_nCtrlId != 0 && (table[i].m_nState & bits)) marked.push_back(table[i].m_nParamId);
    return marked;
  }

  COnlineParameterization* frame = nullptr;
  ULONG shown = 0;
};

class PageAccess : public LivePages, public ::testing::WithParamInterface<SAccess> {};

// The reason each fault is told with.
const std::pair<const char*, const char*> kFaults[] = {
    {"refused", "the request did not reach the device"},
    {"silent", "the device did not answer"},
    {"busy", "the device is busy"},
    {"lost", "the device's answer was lost"},
    {"linkgone", "the connection to the device is lost"},
};

// The page's read again: the frame's Refresh, or Read where the page has no Refresh.
void ReadAgain(PageAccess& t) {
  HWND refresh = t.frame->GetDlgItem(kOnlineRefresh);
  t.ClickFrame(IsWindowVisible(refresh) && IsWindowEnabled(refresh) ? kOnlineRefresh : kOnlineRead);
}

// A field a failed read should have filled: "Not read", no mark.
std::function<void(PageAccess&)> NotRead(UINT control, LONG parameter) {
  return [=](PageAccess& t) {
    EXPECT_EQ(t.Text(control), "Not read");
    const LONG index = t.Page()->FindParameterIndex(parameter);
    ASSERT_GE(index, 0);
    EXPECT_EQ(t.Page()->ParameterTable()[index].m_nState & (vkr::dui::kStateInvalid | vkr::dui::kStateChanged), 0u);
  };
}

void SendAfter(PageAccess& t, UINT id, const char* text) {
  t.Type(id, text);
  t.ClickFrame(kOnlineSend);
}

// Lamps and texts a failed read leaves: nothing lit as if the device had said so.
void StatusNotRead(PageAccess& t) {
  for (UINT lamp : vkr::dui::kStatusFaultLamps)
    EXPECT_EQ(SendMessageA(t.Item(lamp), STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << lamp;
  EXPECT_EQ(t.Text(vkr::dui::kStatusStateText), "Not read");
}

const SAccess kAccesses[] = {
    {"CommandHiLevel", 0, 35, [](PageAccess& t) { SendAfter(t, 544, "5"); }, "Hi Level was not written: ", ".",
     nullptr},
    {"CommandDamping", 0, 34, [](PageAccess& t) { SendAfter(t, 542, "3"); }, "Damping was not written: ", ".", nullptr},
    {"CommandFailTime", 0, 136, [](PageAccess& t) { SendAfter(t, 448, "30"); }, "Fail Time was not written: ", ".",
     nullptr},
    {"CommandDigitizeRead", 0, 135,
     [](PageAccess& t) {
       t.ClickItem(702);
       t.Type(547, "3");
       t.ClickItem(546);
     },
     "Auto-Digitize routine failed: ", ".", nullptr},
    {"CommandDigitize", 0, 136,
     [](PageAccess& t) {
       t.ClickItem(702);
       t.Type(547, "3");
       t.ClickItem(546);
     },
     "Auto-Digitize routine failed: ", ".", nullptr},
    {"ProcessLowRange", 1, 35, [](PageAccess& t) { SendAfter(t, 397, "0.2"); },
     "Lower Range Value was not written: ", ".", [](PageAccess& t) { EXPECT_EQ(t.Text(397), "0.2"); }},
    {"ProcessDamping", 1, 34, [](PageAccess& t) { SendAfter(t, 399, "3"); }, "Damping was not written: ", ".", nullptr},
    {"DeviceTag", 3, 18, [](PageAccess& t) { SendAfter(t, 205, "NEWTAG"); }, "Tag was not written: ", ".", nullptr},
    {"AdvancedBlanking", 4, 138, [](PageAccess& t) { SendAfter(t, 555, "1.5"); }, "Blanking was not written: ", ".",
     nullptr},
    {"AdvancedProbeFaultRead", 4, 131, [](PageAccess& t) { t.ClickFrame(kOnlineRefresh); },
     "Probe Fault could not be read: ", ".",
     [](PageAccess& t) {
       EXPECT_EQ(t.Text(vkr::dui::kAdvancedProbeFaultCombo), "Not read");
       EXPECT_FALSE(t.Changed(vkr::dui::kParProbeFaultUser));
     }},
    {"StatusAdditional", 5, 48, [](PageAccess& t) { t.ClickFrame(kOnlineRead); },
     "Additional Device Status could not be read: ", ".", StatusNotRead},
    {"ProcessRead", 1, 15, ReadAgain, "Upper Range Value, Lower Range Value, Damping and Transfer Function", ".",
     NotRead(399, vkr::dui::kParDampingUser)},
    // What the line names depends on where the read stopped (a lost link stops those after it);
    // the fields say which were not read.
    {"DeviceRead", 3, 13, ReadAgain, "could not be read: ", ".", NotRead(357, vkr::dui::kParDescriptor)},
    {"HartLoopCurrentMode", 6, 6, [](PageAccess& t) { SendAfter(t, 700, "Disabled"); },
     "Loop Current Mode was not written: ", ".", nullptr},
    // The settings shown before are no answer to the read that failed.
    {"HartSettingsRead", 6, 7, ReadAgain, "Polling Address and Loop Current Mode could not be read: ", ".",
     [](PageAccess& t) {
       EXPECT_EQ(t.Text(534), "Not read");
       EXPECT_EQ(t.Text(700), "Not read");
     }},
    {"DiagResetFlag", 7, 38, [](PageAccess& t) { t.ClickItem(vkr::dui::kDiagResetFlagButton); },
     "Reset Configuration Changed Flag failed: ", ".", nullptr},
    {"DiagMasterReset", 7, 42, [](PageAccess& t) { t.ClickItem(vkr::dui::kDiagMasterResetButton); },
     "Master Reset failed: ", ".", nullptr},
    {"DiagSelfTest", 7, 41, [](PageAccess& t) { t.ClickItem(vkr::dui::kDiagSelfTestButton); },
     "Self Test failed: ", ".", nullptr},
    {"EchoRead", 9, 131, [](PageAccess& t) { t.ClickItem(vkr::dui::kEchoReadButton); },
     "Reading the echo data failed: ", "",
     [](PageAccess& t) {
       for (const auto& row : vkr::dui::kEchoTableEdits)
         for (UINT cell : row) EXPECT_EQ(t.Text(cell), "Not read") << cell;
     }},
};

TEST_P(PageAccess, EveryFaultIsToldOnceAndNothingShowsWhatTheDeviceDidNotGive) {
  const SAccess& access = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenFrame(true));
  ASSERT_NO_FATAL_FAILURE(Show(access.page));
  for (const auto& [kind, reason] : kFaults) {
    SCOPED_TRACE(kind);
    SendMessageW(frame->m_hWnd, vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
    const std::size_t before = Told().size();
    const std::string held = Held(device_->config);
    const std::string expected = std::string(access.told) + reason + access.end;
    // Told: the line, or a message, names what did not happen and why (the line may say more,
    // for instance what else the same failure left unread).
    auto names = [&](const std::string& text) {
      return text.find(access.told) != std::string::npos && text.find(reason) != std::string::npos;
    };
    auto mentions = [&] {
      std::size_t count = names(MessageLine()) ? 1 : 0;
      for (std::size_t i = before; i < Told().size(); ++i) count += Told()[i].find(access.told) != std::string::npos;
      return count;
    };
    Inject(kind, access.command);
    ASSERT_NO_FATAL_FAILURE(access.act(*this));
    EXPECT_TRUE(PumpUntil([&] { return mentions() > 0; }, 20000)) << MessageLine();
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(mentions(), 1u) << "line: " << MessageLine();
    bool found = names(MessageLine());
    for (std::size_t i = before; i < Told().size(); ++i) found = found || Told()[i].find(expected) != std::string::npos;
    EXPECT_TRUE(found) << expected;
    if (access.fields) access.fields(*this);
    EXPECT_EQ(Held(device_->config), held);
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PageAccess, ::testing::ValuesIn(kAccesses),
                         [](const ::testing::TestParamInfo<SAccess>& info) { return std::string(info.param.name); });

// Offline: every device field and lamp says the device is not connected, nothing that writes to
// it takes input, and a Send that reaches a page says that nothing was written.
TEST_F(PageAccess, OfflineEveryPageSaysNotConnectedAndTakesNoInput) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame(false));
  ASSERT_NE(ui::DtmState(session_->Dtm()), dsONLINE);
  // Command: entries read-only, choices closed, Digitize greyed.
  ASSERT_NO_FATAL_FAILURE(Show(0));
  for (UINT edit : {544u, 545u, 542u, 448u}) EXPECT_TRUE(ReadOnly(edit)) << edit;
  for (UINT combo : {381u, 383u, 385u, 388u, 391u}) EXPECT_FALSE(Enabled(combo)) << combo;
  EXPECT_FALSE(Enabled(702));
  EXPECT_EQ(Text(544), "Not connected");
  // A Send the frame passes on anyway writes nothing and says so.
  Page()->SetControlValueById(vkr::dui::kParButtonSend, [] {
    VARIANT v = vkr::EmptyVariant();
    v.vt = VT_UI1;
    v.bVal = 1;
    return v;
  }());
  EXPECT_EQ(MessageLine(), vkr::Utf16ToUtf8(vkr::dui::kNothingWrittenOffline));
  // Status: no lamp lit or grey, and why.
  ASSERT_NO_FATAL_FAILURE(Show(5));
  for (UINT lamp : vkr::dui::kStatusBitLamps) EXPECT_EQ(SendMessageA(Item(lamp), STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_EQ(Text(vkr::dui::kStatusStateText), "Not connected");
  // Diagnostics: the procedures that write wait for a device.
  ASSERT_NO_FATAL_FAILURE(Show(7));
  for (UINT button : {vkr::dui::kDiagSelfTestButton, vkr::dui::kDiagMasterResetButton, vkr::dui::kDiagResetFlagButton})
    EXPECT_FALSE(Enabled(button)) << button;
  EXPECT_EQ(Text(vkr::dui::kDiagCounterEdit), "Not connected");
  // Echo: every cell says it (or its short form where the words do not fit), Read waits.
  ASSERT_NO_FATAL_FAILURE(Show(9));
  EXPECT_FALSE(Enabled(vkr::dui::kEchoReadButton));
  for (const auto& row : vkr::dui::kEchoTableEdits)
    for (UINT cell : row) EXPECT_TRUE(Text(cell) == "Not connected" || Text(cell) == "--") << cell;
}

// An unanswered command 0 is a lost answer: read again, and no identity message or greyed buttons.
TEST_F(PageAccess, AnUnansweredIdentityIsReadAgainNotAnotherDevice) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame(true));
  for (const auto& [kind, reason] : kFaults) {
    SCOPED_TRACE(kind);
    if (std::string(kind) == "linkgone") continue;
    Inject(kind, 0);
    ASSERT_EQ(frame->SetControlValueById(vkr::dui::kParCommand0Complete,
                                         [] {
                                           vkr::Variant v;
                                           EXPECT_EQ(vkr::dui::MakeByteArray(std::vector<BYTE>{254}, &v), S_OK);
                                           return v;
                                         }()),
              S_OK);
    vkr::frame::WaitUntilQuiet();
    EXPECT_FALSE(frame->IdentityRefused());
    EXPECT_EQ(MessageLine().find("not a VKR device"), std::string::npos) << MessageLine();
    EXPECT_TRUE(IsWindowEnabled(frame->GetDlgItem(kOnlineRefresh)));
  }
}


// ---- After a lost link ---------------------------------------------------------------------------
//
// The link goes with a read of the first page (the frame's tag, the Command page's settings or its
// range); every page shown after it says of each device field why it has no value, tells that the
// connection is lost (not that a request did not reach the device), waits for nothing ("Loading..."
// with no request on the channel) and marks no entry nobody touched; a Send says that the
// connection is lost, and the transmitter holds what it held.

// Where the link goes, on a transmitter in metres or millimetres, at once or at a HART line's speed.
struct SLostLink {
  const char* name;
  int command;
  bool millimetres;
  bool wireSpeed;
};

class LostLink : public LivePages, public ::testing::WithParamInterface<SLostLink> {
 public:
  void SetUp() override {
    if (GetParam().millimetres) {
      device_->config.pvUnit = device_->config.rangeUnit = 0x31;
      device_->config.upperRange = 500.0f;
      device_->config.lowerRange = 7500.0f;
    }
    ASSERT_NO_FATAL_FAILURE(StartSession());
    if (GetParam().wireSpeed) session_->Channel()->wireBitsPerSecond = vkr::frame::kHartBitsPerSecond;
  }
};

TEST_P(LostLink, EveryPageShownAfterItSaysWhyAndNothingWaits) {
  const std::string held = Held(device_->config);
  Inject("linkgone", GetParam().command);
  ASSERT_NO_FATAL_FAILURE(OpenFrame(true));
  // Command, Process / Output, Values, Device, Advanced, Status, HART, Diagnostics.
  for (ULONG page = 0; page <= 7; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    ASSERT_NO_FATAL_FAILURE(Show(page));
    EXPECT_EQ(Waiting(), std::vector<std::string>{});
    // (The Advanced page's value entries carry the changed mark from the start: an edit of any of
    // them must make the page dirty, so there the mark says nothing of a read.)
    EXPECT_EQ(Marked(vkr::dui::kStateInvalid | (page == 4 ? 0u : vkr::dui::kStateChanged)), std::vector<LONG>{});
    const std::string line = MessageLine();
    EXPECT_NE(line.find("could not be read: the connection to the device is lost."), std::string::npos) << line;
    EXPECT_EQ(line.find("did not reach the device"), std::string::npos) << line;
  }
  ASSERT_NO_FATAL_FAILURE(Show(1));
  for (UINT field : {302u, 392u, 393u, 395u, 397u, 399u, 401u}) EXPECT_EQ(Text(field), "Not read") << field;
  ASSERT_NO_FATAL_FAILURE(Type(399, "3"));
  ClickFrame(kOnlineSend);
  vkr::frame::WaitUntilQuiet();
  EXPECT_NE(MessageLine().find("Damping was not written: the connection to the device is lost."), std::string::npos)
      << MessageLine();
  EXPECT_EQ(Text(399), "3");
  EXPECT_TRUE(Changed(vkr::dui::kParDampingUser));
  EXPECT_EQ(Held(device_->config), held);
}

const SLostLink kLostLinks[] = {
    {"Tag", 13, false, false},          {"Range", 15, false, false},         {"Settings", 135, false, false},
    {"RangeInMm", 15, true, false},      {"TagAtWireSpeed", 13, false, true}, {"RangeInMmAtWireSpeed", 15, true, true},
};

INSTANTIATE_TEST_SUITE_P(Reads, LostLink, ::testing::ValuesIn(kLostLinks),
                         [](const ::testing::TestParamInfo<SLostLink>& info) { return std::string(info.param.name); });

// ---- Timed reads -----------------------------------------------------------------------------------
//
// The reads a page or the frame makes again and again (the Process page's commands 1 and 2, the
// Values page's command 3, the frame's distance reading) failing at a later occurrence, under each
// fault: the failure is told on the message line while the fields it fills say "Not read" (a
// measured value of a moment ago is not the device's now), and the next answer brings the values
// back and ends the word. Time is the fake clock's, moved in steps with the threads served.

// One timed read: the tree index of the page shown, the HART command, the fields it fills (of the
// page, or with `frameField` the frame's own) and the start of the sentence that tells it.
struct STimedRead {
  const char* name;
  ULONG page;
  int command;
  std::vector<UINT> fields;
  bool frameField;
  const char* told;
};

class TimedReads : public LivePages, public ::testing::WithParamInterface<STimedRead> {
 public:
  void SetUp() override {
    // The fake clock before anything sets a timer.
    clock_ = std::make_unique<vkr::test::FakeTickCount>(100000);
    vkr::test::FakeClockDriver driver;
    ASSERT_NO_FATAL_FAILURE(StartSession());
  }
  void TearDown() override {
    {
      vkr::test::FakeClockDriver driver;
      session_->Channel()->faults.clear();
      device_->ClearFaults();
      LivePages::TearDown();
    }
    vkr::test::DrainQueue();
    clock_.reset();
  }
  // Moves the fake clock in steps until done() holds, at most `ms` of fake time.
  bool RunUntil(const std::function<bool()>& done, DWORD ms) {
    for (DWORD passed = 0; passed <= ms; passed += 50) {
      if (done()) return true;
      clock_->Advance(50);
      vkr::test::PumpUntilQuiet();
    }
    return false;
  }
  std::string Field(UINT id) const {
    return GetParam().frameField ? vkr::ui::WindowText(frame->GetDlgItem(static_cast<int>(id))) : Text(id);
  }

  std::unique_ptr<vkr::test::FakeTickCount> clock_;
};

TEST_P(TimedReads, AFailureAtALaterReadIsToldAndItsValuesGo) {
  const STimedRead& read = GetParam();
  {
    vkr::test::FakeClockDriver driver;
    ASSERT_NO_FATAL_FAILURE(OpenFrame(true));
    ASSERT_NO_FATAL_FAILURE(Show(read.page));
  }
  auto numbers = [&] {
    for (UINT field : read.fields)
      if (Field(field).empty() || Field(field).find_first_not_of("-0123456789.") != std::string::npos) return false;
    return true;
  };
  ASSERT_TRUE(RunUntil(numbers, 30000)) << Field(read.fields.front());
  const HWND line = frame->GetDlgItem(kOnlineMessage);
  std::vector<std::string> fieldsWhenTold;
  std::string expected;
  vkr::test::CTextLog::Watch(line, [&](const std::string& text) {
    if (!expected.empty() && text.find(expected) != std::string::npos && fieldsWhenTold.empty())
      for (UINT field : read.fields) fieldsWhenTold.push_back(Field(field));
  });
  for (const auto& [kind, reason] : kFaults) {
    if (std::string(kind) == "linkgone") continue;  // nothing comes after it: the lost link has its own test
    SCOPED_TRACE(kind);
    vkr::test::CTextLog::Reset();
    fieldsWhenTold.clear();
    expected = std::string(read.told) + reason + ".";
    const std::size_t before = device_->received.size();
    Inject(kind, read.command);
    // Told, with the fields saying that they were not read; then the next answer brings values.
    EXPECT_TRUE(RunUntil([&] { return !fieldsWhenTold.empty(); }, 30000)) << MessageLine();
    EXPECT_EQ(fieldsWhenTold, std::vector<std::string>(read.fields.size(), "Not read"));
    EXPECT_TRUE(RunUntil([&] { return numbers() && MessageLine().find(read.told) == std::string::npos; }, 30000))
        << MessageLine();
    EXPECT_GT(device_->received.size(), before);
  }
  vkr::test::CTextLog::Unhook(line);
}

const STimedRead kTimedReads[] = {
    {"ProcessLoopCurrent", 1, 2, {392, 393}, false, "Analog Value and Percent Range could not be read: "},
    {"ProcessPv", 1, 1, {302}, false, "PV could not be read: "},
    {"Values", 2, 3, {408, 394, 396, 398, 400}, false, "The Values page's values could not be read: "},
    {"FrameReading", 0, 1, {kOnlineReading}, true, "The distance reading could not be read: "},
};

INSTANTIATE_TEST_SUITE_P(Cyclic, TimedReads, ::testing::ValuesIn(kTimedReads),
                         [](const ::testing::TestParamInfo<STimedRead>& info) { return std::string(info.param.name); });

// ---- What a write carries ---------------------------------------------------------------------------
//
// A read of the page fails (the device busy) while the others bring their values; the user types
// one entry and clicks Send. A record that would carry a field the device never gave is not
// written, and the line says which could not be read; limits the device never gave are not
// applied (the level goes as typed, and the device decides). The transmitter holds what it held.
TEST_F(PageAccess, AWriteCarriesNothingTheDeviceDidNotGive) {
  struct Row {
    const char* name;
    ULONG page;
    int failing;       // the read that fails
    UINT entry;
    const char* typed;
    int written;       // the command the write would send
    bool sent;         // whether it goes to the device
    const char* told;  // on the message line
  };
  const Row rows[] = {
      {"Hi Level", 0, 14, 544, "0.1", 35, true, "Hi Level was not written: the device refused it: 0x0C"},
      {"tag", 3, 13, 205, "NEWT", 18, false,
       "Tag was not written: it goes to the device with Descriptor and Date, which could not be read."},
      {"descriptor", 3, 13, 357, "NEW", 18, false,
       "Descriptor was not written: it goes to the device with Tag and Date, which could not be read."},
      {"day", 3, 13, 358, "3", 18, false,
       "Date was not written: it goes to the device with Tag and Descriptor, which could not be read."},
      {"year", 3, 13, 364, "2024", 18, false,
       "Date was not written: it goes to the device with Tag and Descriptor, which could not be read."},
  };
  // The sensor limits fail at the first read of all: the frame opens on the Command page. The data
  // set holds limits of another sensor (a project of another transmitter), which are none of this
  // one's.
  auto handler = Query<IovFdtParameterHandler4>(session_->Dtm());
  ASSERT_TRUE(handler);
  VARIANT metres = vkr::EmptyVariant();
  metres.vt = VT_UI1;
  metres.bVal = 45;
  ASSERT_EQ(handler->SetParameterValue(vkr::UI4(1115), metres), S_OK);
  for (const auto& [id, limit] : {std::pair{1116UL, 0.2f}, {1117UL, 6.0f}, {1118UL, 0.1f}}) {
    VARIANT value = vkr::EmptyVariant();
    value.vt = VT_R4;
    value.fltVal = limit;
    ASSERT_EQ(handler->SetParameterValue(vkr::UI4(id), value), S_OK);
  }
  Inject("busy", 14);
  ASSERT_NO_FATAL_FAILURE(OpenFrame(true));
  bool opening = true;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string held = Held(device_->config);
    if (!std::exchange(opening, false)) {
      ASSERT_NO_FATAL_FAILURE(Show(row.page));
      Inject("busy", row.failing);
      ReadAgain(*this);
      vkr::frame::WaitUntilQuiet();
    }
    ASSERT_NE(MessageLine().find("could not be read: the device is busy."), std::string::npos) << MessageLine();
    const std::size_t before = device_->received.size();
    ASSERT_NO_FATAL_FAILURE(Type(row.entry, row.typed));
    ClickFrame(kOnlineSend);
    vkr::frame::WaitUntilQuiet();
    std::size_t sent = 0;
    for (std::size_t i = before; i < device_->received.size(); ++i) sent += device_->received[i].command == row.written;
    EXPECT_EQ(sent, row.sent ? 1u : 0u);
    EXPECT_NE(MessageLine().find(row.told), std::string::npos) << MessageLine();
    EXPECT_EQ(MessageLine().find("the sensor's limit"), std::string::npos) << MessageLine();
    EXPECT_EQ(Text(row.entry), row.typed);
    EXPECT_EQ(Held(device_->config), held);
    // The user gives the entry up: the page reads everything again.
    ReadAgain(*this);
    vkr::frame::WaitUntilQuiet();
  }
}

}  // namespace

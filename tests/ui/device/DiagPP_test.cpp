// The Diagnostics page: the counter decoder on short and full answers; its procedures' dialogues
// on a fake DTM (every confirmation refused in turn, offline, a failed write, the outcomes); and
// the module's page online to the simulated transmitter: counter and flag from the device, the
// flag's reset, self test and master reset only after the user confirmed, faults during its
// transactions, and its picture.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/Quiet.h"
#include "include/ProgramIds.h"
#include "tests/support/device_ui_fixture.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DiagPP.h"
#include "ui/device/kit/Kit.h"

namespace {

using namespace vkr::dui;
using vkr::test::dui::FakeDeviceDtm;
using vkr::test::ui::FakeParameter;

// ---- Decoders -----------------------------------------------------------------------------------

TEST(DiagDecoders, TheCounterNeedsTheWholeAnswerUpToItAndTheFlagIsBit6) {
  std::vector<BYTE> answer(22, 0xEE);
  answer[14] = 0x01, answer[15] = 0x02;
  const struct {
    std::size_t size;
    std::optional<USHORT> counter;
  } cases[] = {{0, std::nullopt}, {15, std::nullopt}, {16, 258}, {22, 258}};
  for (const auto& c : cases)
    EXPECT_EQ(DecodeConfigChangeCounter(std::vector<BYTE>(answer.begin(), answer.begin() + static_cast<long>(c.size))),
              c.counter)
        << c.size;
  const struct {
    BYTE status;
    const char* text;
  } flags[] = {{0x40, "ON"}, {0xBF, "OFF"}, {0xFF, "ON"}, {0x00, "OFF"}};
  for (const auto& f : flags) EXPECT_STREQ(ConfigChangedFlagText(f.status), f.text) << int(f.status);
}

// ---- The procedures on a fake DTM ---------------------------------------------------------------

// The page of the test program, whose object the tests reach.
class TestDiagPP : public CDiagPP {
 public:
  using CDiagPP::m_bBusy;
  using CDiagPP::m_bUpdatingControls;
};

vkr::Variant Byte(BYTE value) {
  vkr::Variant v;
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

class DiagOnFake : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    dtm = FakeDeviceDtm::Create();
    // The page's parameters the shared fake lacks.
    const struct {
      ULONG id;
      VARTYPE vt;
      bool device;
    } rows[] = {{kParMasterResetResponse, VT_UI1, false},
                {kParSelfTest, VT_UI1, true},
                {kParMasterReset, VT_UI1, true},
                {1111, VT_ARRAY | VT_UI1, true},
                {1112, VT_UI2, false}};
    for (const auto& row : rows) {
      FakeParameter p;
      p.id = row.id;
      p.name = u"p";
      p.vt = row.vt;
      if (row.vt == (VT_ARRAY | VT_UI1)) {
        p.value = vkr::test::ui::ByteArray({});
        p.maximum.vt = VT_UI4;
        p.maximum.ulVal = 256;
      } else {
        p.value.vt = row.vt;
        p.value.ulVal = 0;
      }
      p.deviceValue = p.value;
      p.addressed = row.device ? 1 : 0;
      dtm->AddParameter(std::move(p));
    }
    std::vector<BYTE> command0(22, 0);
    command0[14] = 0x01, command0[15] = 0x02;
    ASSERT_EQ(dtm->SetResponse(kParCommand0Complete, command0), S_OK);
    dtm->SetState(dsONLINE);
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<TestDiagPP>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<TestDiagPP>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_DiagPP, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    page = std::make_unique<vkr::test::dui::DevicePageHarness>(CLSID_DiagPP, static_cast<IovFdtBaseDTM*>(dtm.Get()));
    ASSERT_TRUE(page->Ok());
    dtm->Deliver();
  }
  void TearDown() override {
    page.reset();
    if (cookie) CoRevokeClassObject(cookie);
    dtm = nullptr;
    CoUninitialize();
  }
  TestDiagPP& Object() { return *dynamic_cast<TestDiagPP*>(page->Ui()); }

  // The dialogue from message `from` on: "caption: text" per message, "open n" per opened function.
  std::vector<std::string> Dialogue(std::size_t from = 0) const {
    std::vector<std::string> lines;
    for (std::size_t i = from; i < dtm->UserMessages().size(); ++i) {
      const auto& m = dtm->UserMessages()[i];
      lines.push_back(vkr::Utf16ToUtf8(m.title.empty() ? m.text : m.title + u": " + m.text));
    }
    return lines;
  }

  vkr::ComPtr<vkr::ComObject<FakeDeviceDtm>> dtm;
  std::unique_ptr<vkr::test::dui::DevicePageHarness> page;
  DWORD cookie = 0;
};

// Each procedure's dialogue, with every confirmation refused in turn, offline and with a failed
// write: what the user is told, what is opened and whether the device is asked to run anything.
TEST_F(DiagOnFake, ProceduresAskTellAndRunOnlyAsConfirmed) {
  constexpr LONG OK = 1, CANCEL = kAnswerCancel;
  // What the user is told, each but the opened functions under the procedure's title.
  const std::string ok = "Select OK to run procedure", loop = "WARN-Loop should be removed from automatic control",
                    note = "NOTE-Loop may be returned to automatic control", meter = "Connect reference meter",
                    self = "About to perform Limited Selftest", master = "About to perform Master Reset";
  const struct {
    UINT button;
    const char* title;
    std::vector<LONG> answers;
    EDtmState state;
    bool writeFails;
    std::vector<std::string> dialogue;
    LONG written;  // the procedure parameter written (0: none)
  } cases[] = {
      {kDiagLoopTestButton, "Loop Test", {OK, OK}, dsONLINE, false, {ok, loop, "open 4"}, 0},
      {kDiagLoopTestButton, "Loop Test", {CANCEL}, dsONLINE, false, {ok}, 0},
      {kDiagLoopTestButton, "Loop Test", {OK, CANCEL}, dsONLINE, false, {ok, loop}, 0},
      {kDiagDacTrimButton, "DAC Trim", {OK, OK}, dsONLINE, false, {loop, meter, "open 7"}, 0},
      {kDiagDacTrimButton, "DAC Trim", {OK, CANCEL}, dsONLINE, false, {loop, meter}, 0},
      {kDiagSelfTestButton, "Self Test", {OK, OK, OK}, dsONLINE, false, {ok, loop, self}, kParSelfTest},
      {kDiagSelfTestButton, "Self Test", {OK, CANCEL}, dsONLINE, false, {ok, loop}, 0},
      {kDiagSelfTestButton, "Self Test", {OK, OK, CANCEL}, dsONLINE, false, {ok, loop, self, note}, 0},
      {kDiagSelfTestButton,
       "Self Test",
       {OK, OK, OK},
       dsCONFIGURED,
       false,
       {ok, loop, self, "DTM isn't online, self test aborted", note},
       0},
      {kDiagSelfTestButton,
       "Self Test",
       {OK, OK, OK},
       dsONLINE,
       true,
       {ok, loop, self, "Self Test failed: the request did not reach the device.", note},
       0},
      {kDiagMasterResetButton, "Master Reset", {OK, OK, OK}, dsONLINE, false, {ok, loop, master}, kParMasterReset},
      {kDiagMasterResetButton,
       "Master Reset",
       {OK, OK, OK},
       dsONLINE,
       true,
       {ok, loop, master, "Master Reset failed: the request did not reach the device.", note},
       0},
      {kDiagMasterResetButton,
       "Master Reset",
       {OK, OK, OK},
       dsCONFIGURED,
       false,
       {ok, loop, master, "DTM isn't online, master reset aborted", note},
       0},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(row++);
    dtm->SetState(c.state);
    dtm->AnswerUserMessages({});
    for (LONG a : c.answers) dtm->AnswerUserMessages({a});
    const std::size_t before = dtm->UserMessages().size();
    dtm->ClearCalls();
    dtm->ClearFailures();
    if (c.writeFails) dtm->FailCall("WriteDeviceParameter", S_FALSE);
    vkr::ui::Click(page->Item(static_cast<int>(c.button)));
    vkr::ui::PumpUntilIdle();
    std::vector<std::string> dialogue;
    for (const std::string& line : c.dialogue)
      dialogue.push_back(line.rfind("open ", 0) == 0 ? line : c.title + (": " + line));
    EXPECT_EQ(Dialogue(before), dialogue);
    const std::size_t writes = dtm->CountOf("WriteDeviceParameter");
    if (c.written) {
      EXPECT_EQ(writes, 1u);
      EXPECT_EQ(dtm->CountOf("WriteDeviceParameter", static_cast<ULONG>(c.written)), 1u);
    } else {
      EXPECT_EQ(writes, c.writeFails ? 1u : 0u);
    }
  }
  dtm->ClearFailures();

  // Without the function container no procedure does anything.
  dtm->SetState(dsONLINE);
  dtm->Withdraw(IovFdtActiveXContainer::iid);
  const std::size_t before = dtm->UserMessages().size();
  dtm->ClearCalls();
  for (UINT button : {kDiagSelfTestButton, kDiagMasterResetButton, kDiagLoopTestButton, kDiagDacTrimButton})
    vkr::ui::Click(page->Item(static_cast<int>(button)));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(dtm->UserMessages().size(), before);
  EXPECT_EQ(dtm->CountOf("WriteDeviceParameter"), 0u);
}

// The outcomes of self test and master reset as the DTM reports them; none while the page reads
// all its entries. Only a test that ran opens its results.
TEST_F(DiagOnFake, OutcomesOpenTheResultsAndTellFailures) {
  const std::string note = "NOTE-Loop may be returned to automatic control";
  const struct {
    LONG id;
    BYTE outcome;
    bool readingAll;
    std::vector<std::string> dialogue;
  } cases[] = {
      {kParSelfTestResponse, 0, false, {"open 8"}},
      {kParSelfTestResponse, 32, false, {"Self Test: Self Test failed: the device is busy.", "Self Test: " + note}},
      {kParSelfTestResponse, 0, true, {}},
      {kParSelfTestResponse, 3, true, {}},
      {kParMasterResetResponse, 0, false, {}},
      {kParMasterResetResponse,
       5,
       false,
       {"Master Reset: Master Reset failed: the device refused it: 0x05 (too few data bytes).",
        "Master Reset: " + note}},
      {kParMasterResetResponse, 5, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + std::to_string(c.outcome) + (c.readingAll ? " reading all" : ""));
    const std::size_t before = dtm->UserMessages().size();
    Object().m_bBusy = c.readingAll;
    EXPECT_EQ(Object().SetControlValueById(c.id, Byte(c.outcome)), S_OK);
    Object().m_bBusy = FALSE;
    EXPECT_EQ(Dialogue(before), c.dialogue);
  }
}

// Counter and flag from the device's answers; the flag reset sends the counter the device last
// gave, and only online; Enter runs the focused procedure except the master reset.
TEST_F(DiagOnFake, ShowsCounterAndFlagAndResetsWithTheKnownCounter) {
  EXPECT_EQ(page->Text(kDiagCounterEdit), "258");
  EXPECT_EQ(dtm->Value(1112).uiVal, 258);
  EXPECT_EQ(Object().SetControlValueById(kParDeviceStatus, Byte(0x40)), S_OK);
  EXPECT_EQ(page->Text(kDiagFlagEdit), "ON");
  EXPECT_EQ(Object().SetControlValueById(kParDeviceStatus, Byte(0xBF)), S_OK);
  EXPECT_EQ(page->Text(kDiagFlagEdit), "OFF");
  // 15 bytes hold no counter: the display stays.
  vkr::Variant shortAnswer;
  ASSERT_EQ(MakeByteArray(std::vector<BYTE>(15, 0x09), &shortAnswer), S_OK);
  EXPECT_EQ(Object().SetControlValueById(kParCommand0Complete, shortAnswer), S_OK);
  EXPECT_EQ(page->Text(kDiagCounterEdit), "258");

  dtm->ClearCalls();
  vkr::ui::Click(page->Item(kDiagResetFlagButton));
  vkr::ui::PumpUntilIdle();
  const auto writes = dtm->CallsOf("WriteDeviceParameterEx", 1111);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(vkr::test::ui::BytesOf(writes[0].argument), (std::vector<BYTE>{0x01, 0x02}));
  dtm->SetState(dsCONFIGURED);
  dtm->ClearCalls();
  vkr::ui::Click(page->Item(kDiagResetFlagButton));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(dtm->CountOf("WriteDeviceParameterEx"), 0u);
  dtm->SetState(dsONLINE);

  // Showing and hiding read command 0 and the device status again.
  dtm->ClearCalls();
  page->Show(false);
  page->Show(true);
  EXPECT_EQ(dtm->CountOf("ReadDeviceParameter", kParCommand0Complete), 2u);
  EXPECT_EQ(dtm->CountOf("ReadDeviceParameter", kParDeviceStatus), 2u);

  // Enter on the master reset does nothing; on the self test it starts it.
  auto press = [&](UINT button) {
    SetFocus(page->Item(static_cast<int>(button)));
    MSG key{};
    key.hwnd = page->Item(static_cast<int>(button));
    key.message = WM_KEYDOWN;
    key.wParam = VK_RETURN;
    return page->Page()->TranslateAccelerator(&key);
  };
  std::size_t before = dtm->UserMessages().size();
  EXPECT_EQ(press(kDiagMasterResetButton), S_OK);
  EXPECT_EQ(dtm->UserMessages().size(), before);
  dtm->AnswerUserMessages({kAnswerCancel});
  EXPECT_EQ(press(kDiagSelfTestButton), S_OK);
  ASSERT_EQ(dtm->UserMessages().size(), before + 1);
  EXPECT_EQ(Dialogue().back(), "Self Test: Select OK to run procedure");
}

// Before any command 0 answer there is no counter: the reset sends nothing rather than a made-up
// one. An answer that cannot be read, or an outcome with no container to tell it through, does not
// leave the page taking the user's input for its own updates.
TEST(DiagPage, NothingIsLeftBehindByMissingOrBrokenValues) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    auto dtm = FakeDeviceDtm::Create();
    dtm->SetState(dsONLINE);
    vkr::ComPtr<vkr::ComObject<TestDiagPP>> made;
    ASSERT_EQ(vkr::MakeObject<TestDiagPP>(&made), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    made->InitializeUI(static_cast<IovFdtBaseDTM*>(dtm.Get()), &ok);
    EXPECT_FALSE(made->IsCounterKnown());
    EXPECT_EQ(made->OnResetConfigChangedFlag(), S_FALSE);
    EXPECT_EQ(dtm->CountOf("WriteDeviceParameterEx"), 0u);
    // The user learns why nothing was sent (no frame's message line: a message).
    const std::size_t told = dtm->UserMessages().size();
    EXPECT_EQ(told, 1u);

    VARIANT broken = vkr::EmptyVariant();
    broken.vt = VT_ARRAY | VT_UI1;  // no array behind it
    EXPECT_TRUE(FAILED(made->SetControlValueById(kParCommand0Complete, broken)));
    EXPECT_FALSE(made->m_bUpdatingControls);
    EXPECT_FALSE(made->IsCounterKnown());
    dtm->Withdraw(IovFdtActiveXContainer::iid);
    EXPECT_EQ(made->SetControlValueById(kParSelfTestResponse, Byte(3)), S_OK);
    EXPECT_FALSE(made->m_bUpdatingControls);
    EXPECT_EQ(dtm->UserMessages().size(), told);
    VARIANT_BOOL done = VARIANT_FALSE;
    made->UninitializeUI(&done);
  }
  CoUninitialize();
}

// ---- The module's page online to the simulated transmitter --------------------------------------

class LiveDiag : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    device_->config.configChangeCounter = 258;
    device_->config.configChanged = {true, true};
    StartSession();
    Open(CLSID_DiagPP);
    ASSERT_TRUE(WaitFor([&] { return Text(kDiagCounterEdit) == "258" && Text(kDiagFlagEdit) == "ON"; }))
        << Text(kDiagCounterEdit) << " " << Text(kDiagFlagEdit);
    vkr::frame::WaitUntilQuiet();
  }

  std::string Text(UINT id) const { return vkr::ui::WindowText(vkr::test::FindItem(Window(), static_cast<int>(id))); }
  void Click(UINT id) {
    ASSERT_TRUE(vkr::ui::Click(vkr::test::FindItem(Window(), static_cast<int>(id))));
    vkr::ui::PumpUntilIdle();
  }
  int Received(int command) const {
    int n = 0;
    for (const auto& r : device_->received) n += r.command == command;
    return n;
  }
  // Hides and shows the page, which reads counter and flag again.
  void ShowAgain() {
    vkr::ComPtr<IPropertyPage> shown;
    page_->Page()->QueryInterface(IPropertyPage::iid, shown.PutVoid());
    shown->Show(SW_HIDE);
    shown->Show(SW_SHOW);
  }
  std::vector<std::string>& Messages() { return session_->Frame()->userMessages; }
  std::deque<std::string>& Answers() { return session_->Frame()->userAnswers; }
  // How many times the frame was asked to open the class.
  int Opened(const CLSID& clsid) const {
    LPOLESTR text = nullptr;
    StringFromCLSID(clsid, &text);
    const std::string name = vkr::Utf16ToUtf8(vkr::View(text));
    CoTaskMemFree(text);
    int n = 0;
    for (const std::string& line : session_->Frame()->activeX.record)
      n += line.rfind("open ", 0) == 0 && line.find(name) != std::string::npos;
    return n;
  }
};

// The page with the transmitter's counter and flag looks as kept. The flag reset with the counter
// the device gave clears the device's flag; a self test and a master reset refused at the
// announcement send nothing; confirmed they run on the device, and the self test's outcome opens
// the results.
TEST_F(LiveDiag, ResetsTheFlagAndRunsProceduresOnlyWhenConfirmed) {
  SetFocus(nullptr);
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(Window(), "diag_page");

  device_->received.clear();
  Click(kDiagResetFlagButton);
  ASSERT_TRUE(WaitFor([&] { return Received(38) == 1; }));
  EXPECT_EQ(device_->received.back().request, (vkr::frame::Bytes{0x01, 0x02}));
  // The flag of the master the page speaks for; the other master has still to learn of the change.
  EXPECT_EQ(device_->config.configChanged, (std::array<bool, 2>{false, true}));
  ShowAgain();
  EXPECT_TRUE(WaitFor([&] { return Text(kDiagFlagEdit) == "OFF"; })) << Text(kDiagFlagEdit);

  for (UINT button : {kDiagSelfTestButton, kDiagMasterResetButton}) {
    Messages().clear();
    device_->received.clear();
    Answers() = {"buttonOk", "buttonOk", "buttonCancel"};
    Click(button);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(Received(41) + Received(42), 0) << button;
    ASSERT_EQ(Messages().size(), 4u) << button;
    EXPECT_NE(Messages()[3].find("NOTE-Loop may be returned to automatic control"), std::string::npos);
  }

  device_->config.fixedCurrent = 12.0f;
  Messages().clear();
  device_->received.clear();
  // A second click while the first question is open starts nothing more.
  session_->Frame()->whileAsking.push_back([&] { vkr::ui::Click(vkr::test::FindItem(Window(), kDiagSelfTestButton)); });
  Click(kDiagSelfTestButton);
  ASSERT_TRUE(WaitFor([&] { return Received(41) == 1; }));
  EXPECT_TRUE(WaitFor([&] { return Opened(CLSID_SelfTestResults) == 1; }));
  EXPECT_EQ(Messages().size(), 3u);
  Click(kDiagMasterResetButton);
  ASSERT_TRUE(WaitFor([&] { return Received(42) == 1; }));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(device_->config.fixedCurrent, 0.0f);
  EXPECT_EQ(Received(41), 1);
  EXPECT_EQ(Messages().size(), 6u);

  // Loop test and DAC trim, confirmed, ask the frame for their user interfaces.
  Click(kDiagLoopTestButton);
  Click(kDiagDacTrimButton);
  EXPECT_EQ(Opened(CLSID_OutputLevelSelection), 1);
  EXPECT_EQ(Opened(CLSID_DACTrimAdj), 1);
  EXPECT_EQ(Messages().size(), 10u);
}

// Faults on the channel during the page's transactions: the page shows what it has, tells the
// failures of its procedures, keeps working, and never takes a counter from a short answer.
TEST_F(LiveDiag, FaultsLeaveThePageWorking) {
  using Kind = vkr::frame::FrameChannel::FaultKind;
  vkr::frame::FrameChannel* channel = session_->Channel();
  auto wire = [](Kind kind, std::uint8_t command) {
    vkr::frame::FrameChannel::Fault fault;
    fault.kind = kind;
    fault.command = command;
    return fault;
  };

  // No answer to command 0: the counter shown before is not the device's any more (it holds 300
  // now), and the page says that it could not be read.
  device_->config.configChangeCounter = 300;
  // Hiding and showing read twice.
  channel->faults.push_back(wire(Kind::NoAnswer, 0));
  channel->faults.push_back(wire(Kind::NoAnswer, 0));
  ShowAgain();
  EXPECT_TRUE(WaitFor([&] { return Text(kDiagCounterEdit) == "Not read"; })) << Text(kDiagCounterEdit);
  vkr::frame::WaitUntilQuiet();

  // Command 0 cut short before the counter: no counter taken from it, and none left waiting.
  vkr::frame::CommandFault cut;
  cut.command = 0;
  cut.truncateTo = 15;
  cut.persistent = true;
  device_->InjectFault(cut);
  ShowAgain();
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Text(kDiagCounterEdit), "Not read");
  device_->ClearFaults();

  // The next read shows the device's counter again.
  ShowAgain();
  EXPECT_TRUE(WaitFor([&] { return Text(kDiagCounterEdit) == "300"; })) << Text(kDiagCounterEdit);

  // The device busy during the self test: the failure is told with why, and no results open (the
  // test did not run).
  channel->faults.push_back(wire(Kind::Busy, 41));
  Messages().clear();
  Click(kDiagSelfTestButton);
  ASSERT_TRUE(WaitFor([&] { return Messages().size() >= 5; })) << Messages().size();
  EXPECT_NE(Messages()[3].find("Self Test failed: the device is busy."), std::string::npos) << Messages()[3];
  EXPECT_NE(Messages()[4].find("NOTE-Loop may be returned to automatic control"), std::string::npos);
  EXPECT_EQ(Opened(CLSID_SelfTestResults), 0);

  // And the page still works: a reset goes out with the counter it now knows.
  device_->received.clear();
  Click(kDiagResetFlagButton);
  ASSERT_TRUE(WaitFor([&] { return Received(38) == 1; }));
  EXPECT_EQ(device_->received.back().request, (vkr::frame::Bytes{0x01, 0x2C}));
}

}  // namespace

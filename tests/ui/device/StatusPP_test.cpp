// The Status page and the self-test results control: the command 48 decoder on short and full
// answers, and both user interfaces of the real module online to the simulated transmitter: the
// lamps as a person sees them (red, neutral, green) from the device's status bytes, the faults of
// the wire and the device during their reads, and their pictures.
#include <gtest/gtest.h>
#include "frame/Quiet.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "include/DtmMessages.h"
#include "include/ProgramIds.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/SelfTestResults.h"
#include "ui/device/StatusPP.h"
#include "ui/device/kit/Kit.h"

namespace {

using namespace vkr::dui;
using Bytes = std::vector<BYTE>;
using vkr::frame::FrameChannel;

// ---- Decoder ------------------------------------------------------------------------------------

std::vector<std::size_t> Set(const AdditionalStatusFaults& faults) {
  std::vector<std::size_t> set;
  for (std::size_t i = 0; i < faults.size(); ++i)
    if (faults[i]) set.push_back(i);
  return set;
}

TEST(AdditionalStatusDecoder, FaultsOnlyFromAnAnswerOfFourBytesOrMore) {
  EXPECT_FALSE(DecodeAdditionalStatus(Bytes{}));
  EXPECT_FALSE(DecodeAdditionalStatus(Bytes{0xFF, 0xFF, 0x01}));
  const struct {
    Bytes data;
    std::vector<std::size_t> faults;
  } cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, {}},
      {{0x01, 0x00, 0x00, 0x00}, {}},  // byte 0 bit 0 has no lamp
      {{0x02, 0x00, 0x00, 0x00}, {0}},
      {{0x06, 0x00, 0x01, 0x00}, {0, 1, 15}},
      {{0x00, 0x00, 0xFE, 0xFF}, {}},  // byte 2 above bit 0 and byte 3 carry nothing
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xAA}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
  };
  for (const auto& c : cases) {
    const auto faults = DecodeAdditionalStatus(c.data);
    ASSERT_TRUE(faults);
    EXPECT_EQ(Set(*faults), c.faults) << c.data.size() << " bytes, first " << int(c.data[0]);
  }
  // Each fault from its own bit and from no other.
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
    Bytes data(24, 0);
    data[kAdditionalStatusFaults[i].byteIndex] = static_cast<BYTE>(1u << kAdditionalStatusFaults[i].bit);
    EXPECT_EQ(Set(*DecodeAdditionalStatus(data)), std::vector<std::size_t>{i}) << kAdditionalStatusFaults[i].label;
  }
}

// ---- Lamps as they look ----------------------------------------------------------------------------

enum class Lamp { Hidden, Red, Neutral, Green, Other };

// The colour in the middle of each lamp of `root`'s picture.
std::vector<Lamp> Lamps(HWND root, const UINT* ids, std::size_t n, HWND dialog) {
  vkr::ui::Picture picture;
  EXPECT_TRUE(vkr::ui::RenderWindow(root, &picture));
  RECT origin{};
  GetWindowRect(root, &origin);
  std::vector<Lamp> lamps;
  for (std::size_t i = 0; i < n; ++i) {
    HWND lamp = GetDlgItem(dialog, static_cast<int>(ids[i]));
    if (!lamp || !IsWindowVisible(lamp)) {
      lamps.push_back(Lamp::Hidden);
      continue;
    }
    RECT r{};
    GetWindowRect(lamp, &r);
    const COLORREF c = picture.At((r.left + r.right) / 2 - origin.left, (r.top + r.bottom) / 2 - origin.top);
    const int red = GetRValue(c), green = GetGValue(c), blue = GetBValue(c);
    if (red > 200 && green < 60 && blue < 60)
      lamps.push_back(Lamp::Red);
    else if (green > 150 && red < 60 && blue < 60)
      lamps.push_back(Lamp::Green);
    else if (red > 130 && red < 190 && red == green && green == blue)
      lamps.push_back(Lamp::Neutral);
    else
      lamps.push_back(Lamp::Other);
  }
  return lamps;
}

std::string Describe(const std::vector<Lamp>& lamps) {
  static const char* const names[] = {"hidden", "red", "neutral", "green", "other"};
  std::string text;
  for (Lamp l : lamps) text += std::string(names[static_cast<int>(l)]) + " ";
  return text;
}

// Red where `red` lists the lamp's index, `rest` elsewhere.
std::vector<Lamp> Expect(std::size_t n, std::vector<std::size_t> red, Lamp rest) {
  std::vector<Lamp> lamps(n, rest);
  for (std::size_t i : red) lamps[i] = Lamp::Red;
  return lamps;
}

// A fault of the device's next answer to command 48.
vkr::frame::CommandFault DeviceFault(std::optional<BYTE> deviceStatus, std::optional<std::size_t> truncateTo,
                                     std::optional<BYTE> response = std::nullopt) {
  vkr::frame::CommandFault f;
  f.command = 48;
  f.deviceStatus = deviceStatus;
  f.truncateTo = truncateTo;
  f.commandResponse = response;
  return f;
}
// A fault of the wire for the next command 48.
FrameChannel::Fault WireFault(FrameChannel::FaultKind kind) {
  FrameChannel::Fault f;
  f.kind = kind;
  f.command = 48;
  return f;
}

using vkr::test::Query;

// ---- The real module online to the simulated transmitter ------------------------------------------

class LiveStatus : public vkr::test::LivePageSiteTest {
 protected:
  // The DTM on its channel, still offline (StartDtm goes online at once).
  void StartOffline() {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    m_registry = std::make_unique<vkr::test::ScopedRegistry>();
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    m_session = std::make_unique<vkr::frame::TransferSession>();
    ASSERT_EQ(m_session->Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    dtm = m_session->Dtm();
  }
  void GoOnline() {
    if (!m_session) {
      StartDtm();
    } else {
      ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
      ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
    }
    Settle();
  }

  void OpenStatusPage() {
    OpenPage(CLSID_StatusPP, "Status");
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(vkr::Utf16ToUtf8(info.pszHelpFile), "VornExampleDtm.chm::/Status.html#wp1102904");
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);
    dialog = GetParent(host->Item(kStatusReadAdditionalButton));
  }

  // Opens the DTM's function 8 as the Diagnostics page has the frame open it.
  HWND OpenSelfTest() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(8));
    EXPECT_EQ(m_session->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened) return nullptr;
    const auto& open = m_session->Frame()->activeX.OpenControls().back();
    m_controlId = open.invokeId;
    HWND lamp = vkr::test::FindItem(open.window, static_cast<int>(kSelfTestLamps[0]));
    dialog = lamp ? GetParent(lamp) : nullptr;
    return open.window;
  }
  bool CloseSelfTest() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(m_session->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(m_controlId)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }

  void TearDown() override {
    ClosePage();
    if (m_session) m_session->Frame()->activeX.CloseAll();
    LivePageSiteTest::TearDown();
  }

  static void Settle() { vkr::frame::WaitUntilQuiet(); }
  std::string Text(UINT id) const { return vkr::ui::WindowText(GetDlgItem(dialog, static_cast<int>(id))); }
  bool Enabled(UINT id) const { return IsWindowEnabled(GetDlgItem(dialog, static_cast<int>(id))) != FALSE; }
  HWND Root() const { return host ? host->Hwnd() : m_session->Frame()->activeX.OpenControls().back().window; }
  std::vector<Lamp> BitLamps() const { return Lamps(Root(), kStatusBitLamps, 8, dialog); }
  std::vector<Lamp> FaultLamps() const { return Lamps(Root(), kStatusFaultLamps, 16, dialog); }
  std::vector<Lamp> SelfTestLamps() const { return Lamps(Root(), kSelfTestLamps, 16, dialog); }
  bool WaitFor(const std::function<std::vector<Lamp>()>& lamps, const std::vector<Lamp>& expected, int ms = 10000) {
    const bool ok = vkr::test::PumpUntil([&] { return lamps() == expected; }, ms);
    EXPECT_TRUE(ok) << "lamps: " << Describe(lamps()) << "\nwanted: " << Describe(expected);
    return ok;
  }
  // A person's click: a disabled button does nothing.
  void ClickReadAdditional() {
    vkr::ui::Click(GetDlgItem(dialog, kStatusReadAdditionalButton));
  }
  // The frame's Read button.
  void PressRead() { PressButton(kParButtonRead); }
  // Every command 48 went without request data: reading acknowledges nothing.
  void ExpectReadsAcknowledgeNothing() const {
    for (const auto& r : device->received)
      if (r.command == 48) {
        EXPECT_TRUE(r.request.empty());
      }
  }
  void SetAdditionalStatus(Bytes leading) {
    std::copy(leading.begin(), leading.end(), device->config.additionalStatus.begin());
  }

  HWND dialog = nullptr;
  std::string m_controlId;
};

constexpr std::size_t kMoreStatusLamp = 4, kMalfunctionLamp = 7;

// The status bits light from the device's answers; the fault section comes on request and shows
// the answer to its own read, not the one read when the page was shown. Then the button's read
// meets a silent wire, a busy device, a short answer: the lamps keep what they showed, nothing is
// read past the answer, and the next read works.
TEST_F(LiveStatus, LampsFollowTheDevicesStatusBytesThroughFaults) {
  SetAdditionalStatus({0x02, 0x00, 0x00, 0x00});  // probe fault: the device reports more status
  GoOnline();
  OpenStatusPage();
  WaitFor([&] { return BitLamps(); }, Expect(8, {kMoreStatusLamp}, Lamp::Neutral));
  EXPECT_TRUE(Enabled(kStatusReadAdditionalButton));
  EXPECT_EQ(FaultLamps(), Expect(16, {}, Lamp::Hidden));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, kStatusFaultGroup)));
  EXPECT_TRUE(Text(kStatusRawEdits[0]).empty());

  // The status changes after the page read it: the button's read shows the new faults.
  // A late answer: the button stays off until it is there, so no second read starts meanwhile.
  SetAdditionalStatus({0x06, 0x00, 0x01, 0x00});
  FrameChannel::Fault late = WireFault(FrameChannel::FaultKind::None);
  late.delayMs = 1000;
  m_session->Channel()->faults.push_back(late);
  const int reads = Received(48);
  ClickReadAdditional();
  EXPECT_FALSE(Enabled(kStatusReadAdditionalButton));
  ClickReadAdditional();
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, kStatusFaultGroup)));
  WaitFor([&] { return FaultLamps(); }, Expect(16, {0, 1, 15}, Lamp::Neutral));
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Enabled(kStatusReadAdditionalButton); }, 5000));
  EXPECT_EQ(Received(48), reads + 1);
  ExpectReadsAcknowledgeNothing();

  // The frame's Read: malfunction alone, so the button goes off again.
  device->InjectFault(DeviceFault(0x80, std::nullopt));
  PressRead();
  WaitFor([&] { return BitLamps(); }, Expect(8, {kMalfunctionLamp}, Lamp::Neutral));
  EXPECT_FALSE(Enabled(kStatusReadAdditionalButton));

  // Hiding and showing hides the fault section and forgets its lamps; Read while hidden reads
  // nothing.
  ASSERT_EQ(page->Show(SW_HIDE), S_OK);
  Settle();
  const int hidden = Received(48);
  PressRead();
  Settle();
  EXPECT_EQ(Received(48), hidden);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);
  EXPECT_EQ(FaultLamps(), Expect(16, {}, Lamp::Hidden));
  WaitFor([&] { return BitLamps(); }, Expect(8, {kMoreStatusLamp}, Lamp::Neutral));
  ClickReadAdditional();
  WaitFor([&] { return FaultLamps(); }, Expect(16, {0, 1, 15}, Lamp::Neutral));
  Settle();
  vkr::test::ExpectLooksAsKept(host->Hwnd(), "status_page");

  const struct {
    const char* name;
    std::function<void()> inject;
  } faults[] = {
      {"short data", [&] { device->InjectFault(DeviceFault(std::nullopt, 3)); }},
      {"busy", [&] { device->InjectFault(DeviceFault(std::nullopt, 0, vkr::frame::hart::kBusy)); }},
      {"busy wire", [&] { m_session->Channel()->faults.push_back(WireFault(FrameChannel::FaultKind::Busy)); }},
      {"no answer", [&] { m_session->Channel()->faults.push_back(WireFault(FrameChannel::FaultKind::NoAnswer)); }},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    // The button may still be off after the previous fault; the frame's Read brings it back.
    PressRead();
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return Enabled(kStatusReadAdditionalButton); }, 15000));
    Settle();
    const std::vector<Lamp> before = FaultLamps();
    // What the device would answer now differs from what the lamps show.
    SetAdditionalStatus(before[1] == Lamp::Red ? Bytes{0x02, 0x00, 0x00, 0x00} : Bytes{0xFE, 0xFF, 0x01, 0x00});
    const int reads = Received(48);
    f.inject();
    ClickReadAdditional();
    // Unanswered, the read ends when the DTM's time for it runs out.
    EXPECT_TRUE(WaitForText(kStatusStateText, "Not read", 60000)) << Text(kStatusStateText);
    Settle();
    // A read that brought no status leaves the lamps empty: neither the old state nor all clear.
    EXPECT_EQ(FaultLamps(), Expect(16, {}, Lamp::Other)) << Describe(FaultLamps());
    EXPECT_LE(Received(48), reads + 1);
  }
  SetAdditionalStatus({0xFE, 0xFF, 0x01, 0x00});
  // Nothing is pending any more: the next read shows the device's faults.
  PressRead();
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Enabled(kStatusReadAdditionalButton); }, 15000));
  ClickReadAdditional();
  WaitFor([&] { return FaultLamps(); }, std::vector<Lamp>(16, Lamp::Red));
}

// The DTM tells that the status byte or the additional status could not be read: the page lights
// nothing as if the device had said so (neither the old state nor all clear), its state says "Not
// read", the user is told once what could not be read and why; the next read that comes shows the
// device's state again and the word is over.
TEST_F(LiveStatus, AFailedStatusReadSaysNotReadAndLightsNothing) {
  SetAdditionalStatus({0x02, 0x00, 0x00, 0x00});
  GoOnline();
  OpenStatusPage();
  WaitFor([&] { return BitLamps(); }, Expect(8, {kMoreStatusLamp}, Lamp::Neutral));
  auto container = Query<IovFdtActiveXContainer>(dtm);
  ASSERT_TRUE(container);
  auto& told = m_session->Frame()->userMessages;
  const struct {
    LONG parameter;
    const char* errorText;
    const char* message;
  } rows[] = {
      {1001, "error: [device status = 0x00] command response = 0x20", "Device Status could not be read: the device is busy."},
      {1036, "Error: no answer in time", "Additional Device Status could not be read: the device did not answer."},
  };
  ULONG number = 0x7E000000;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    ClickReadAdditional();
    WaitFor([&] { return FaultLamps(); }, Expect(16, {0}, Lamp::Neutral));
    const std::size_t before = told.size();
    vkr::Variant failure;
    failure.vt = VT_ARRAY | VT_VARIANT;
    failure.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    vkr::Variant parts[3] = {vkr::Variant(vkr::UI4(static_cast<ULONG>(row.parameter))),
                             vkr::Variant(vkr::TextVariant(vkr::Bstr(vkr::Utf8ToUtf16(row.errorText)).Get())),
                             vkr::Variant(vkr::UI4(number++))};
    for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(failure.parray, &i, &parts[i]);
    // Told to every user interface, twice here: once is what the user hears.
    for (int twice = 0; twice < 2; ++twice)
      ASSERT_EQ(container->BroadcastToActiveX(vkr::UI4(kBroadcastDeviceAccessFailed), failure), S_OK);
    Settle();
    EXPECT_EQ(Text(kStatusStateText), "Not read");
    // The lamps of what failed: empty; the others keep what their own answer showed.
    if (row.parameter == 1001) {
      EXPECT_EQ(BitLamps(), Expect(8, {}, Lamp::Other)) << Describe(BitLamps());
    } else {
      EXPECT_EQ(FaultLamps(), Expect(16, {}, Lamp::Other)) << Describe(FaultLamps());
    }
    std::size_t mentions = 0;
    for (std::size_t i = before; i < told.size(); ++i) mentions += told[i].find(row.message) != std::string::npos;
    EXPECT_EQ(mentions, 1u);
    // The next read brings the device's state back, and "Not read" goes.
    PressRead();
    WaitFor([&] { return BitLamps(); }, Expect(8, {kMoreStatusLamp}, Lamp::Neutral));
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return Text(kStatusStateText).empty(); }, 10000)) << Text(kStatusStateText);
  }
}

// The self-test results control reads command 48 itself when it opens: a line per fault, PASS or
// FAIL with its lamp, and the summary; without a usable answer it says so.
TEST_F(LiveStatus, SelfTestResultsShowTheDevicesAnswer) {
  GoOnline();
  const struct {
    const char* name;
    Bytes status;
    std::function<void()> inject;
    std::vector<std::size_t> failed;
    const char* summary;
  } cases[] = {
      {"all pass", {0x00, 0x00, 0x00, 0x00}, nullptr, {}, "SELF TEST PASSED"},
      {"bit 0 ignored", {0x01, 0x00, 0x00, 0x00}, nullptr, {}, "SELF TEST PASSED"},
      {"three fail", {0x06, 0x00, 0x01, 0x00}, nullptr, {0, 1, 15}, "3 test(s) FAILED!, SELF TEST FAILED"},
      {"short data", {0x06, 0x00, 0x01, 0x00}, [&] { device->InjectFault(DeviceFault(std::nullopt, 3)); }, {},
       "Self test results could not be read: "},
      {"busy", {0x06, 0x00, 0x01, 0x00},
       [&] { m_session->Channel()->faults.push_back(WireFault(FrameChannel::FaultKind::Busy)); }, {},
       "Self test results could not be read: "},
      {"no answer", {0x06, 0x00, 0x01, 0x00},
       [&] { m_session->Channel()->faults.push_back(WireFault(FrameChannel::FaultKind::NoAnswer)); }, {},
       "Self test results could not be read: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetAdditionalStatus(c.status);
    if (c.inject) c.inject();
    ASSERT_TRUE(OpenSelfTest());
    const bool read = std::string(c.summary).rfind("Self test results could not be read: ", 0) != 0;
    for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
      const bool failed = std::find(c.failed.begin(), c.failed.end(), i) != c.failed.end();
      EXPECT_EQ(Text(kSelfTestResultEdits[i]), !read ? kSelfTestNotRead : failed ? "FAIL" : "PASS") << i;
    }
    EXPECT_EQ(Text(kSelfTestSummaryEdit).rfind(c.summary, 0), 0u) << Text(kSelfTestSummaryEdit);
    if (read)
      EXPECT_EQ(SelfTestLamps(), Expect(16, c.failed, Lamp::Green));
    else
      EXPECT_EQ(SelfTestLamps(), Expect(16, {}, Lamp::Neutral)) << Describe(SelfTestLamps());
    EXPECT_TRUE(CloseSelfTest());
    m_session->Channel()->faults.clear();
    device->ClearFaults();
    Settle();
  }
  ExpectReadsAcknowledgeNothing();
}

// Offline the control says the device is not connected (no "Loading..." that never ends), and
// reads the results when the DTM goes online while it is open. Later answers the DTM reports
// repaint the lamps, never the texts; a short one changes nothing. Closed while its read waits for
// the device (Escape, the frame): the control goes, nothing is left open, and the DTM stays usable.
TEST_F(LiveStatus, SelfTestFollowsLaterAnswersAndClosesWhileReading) {
  StartOffline();
  ASSERT_TRUE(OpenSelfTest());
  for (UINT edit : kSelfTestResultEdits) EXPECT_EQ(Text(edit), kNotConnectedShortText) << edit;
  EXPECT_EQ(Text(kSelfTestSummaryEdit), "Not connected");
  EXPECT_EQ(Received(48), 0);
  SetAdditionalStatus({0x06, 0x00, 0x01, 0x00});
  GoOnline();
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Text(kSelfTestSummaryEdit) == "3 test(s) FAILED!, SELF TEST FAILED"; },
                                   10000))
      << Text(kSelfTestSummaryEdit);
  EXPECT_EQ(Text(kSelfTestResultEdits[0]), "FAIL");
  EXPECT_EQ(Received(48), 1);
  EXPECT_TRUE(CloseSelfTest());

  ASSERT_TRUE(OpenSelfTest());
  ASSERT_EQ(Text(kSelfTestSummaryEdit), "3 test(s) FAILED!, SELF TEST FAILED");
  auto handler = Query<IovFdtParameterHandler4>(dtm);
  ASSERT_TRUE(handler);
  auto report = [&](const Bytes& bytes) {
    vkr::Variant value;
    ASSERT_EQ(MakeByteArray(bytes, value.Put()), S_OK);
    handler->SetParameterValue(vkr::UI4(kParCommand48Complete), value);
    Settle();
  };
  report({0x00, 0x80, 0x00});
  EXPECT_EQ(SelfTestLamps(), Expect(16, {0, 1, 15}, Lamp::Green));
  report({0x00, 0x80, 0x00, 0x00});
  EXPECT_EQ(SelfTestLamps(), Expect(16, {14}, Lamp::Green));
  EXPECT_EQ(Text(kSelfTestResultEdits[0]), "FAIL");
  EXPECT_EQ(Text(kSelfTestResultEdits[14]), "PASS");
  report({0x06, 0x00, 0x01, 0x00});
  vkr::test::ExpectLooksAsKept(m_session->Frame()->activeX.OpenControls().back().window, "self_test_results");
  // OK closes it through the function container.
  vkr::ui::Click(GetDlgItem(dialog, IDOK));
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return m_session->Frame()->activeX.OpenControls().empty(); }, 5000));

  FrameChannel::Fault late = WireFault(FrameChannel::FaultKind::None);
  late.delayMs = 800;
  m_session->Channel()->faults.push_back(late);
  bool posted = false;
  m_session->Channel()->onDataExchange = [&](std::size_t) {
    if (posted || m_session->Frame()->activeX.OpenControls().empty()) return;
    HWND summary = vkr::test::FindItem(m_session->Frame()->activeX.OpenControls().back().window,
                                       static_cast<int>(kSelfTestSummaryEdit));
    if (!summary) return;
    posted = PostMessageA(GetParent(summary), kCloseRequestMessage, 0, 0) != FALSE;
  };
  VARIANT_BOOL opened = VARIANT_FALSE;
  const vkr::Bstr call(vkr::frame::FunctionCallDocument(8));
  m_session->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened);
  vkr::ui::PumpUntilIdle();
  Settle();
  m_session->Channel()->onDataExchange = nullptr;
  EXPECT_TRUE(posted);
  EXPECT_TRUE(m_session->Frame()->activeX.OpenControls().empty());
  // The DTM still answers: the next opening reads the results.
  ASSERT_TRUE(OpenSelfTest());
  EXPECT_EQ(Text(kSelfTestSummaryEdit), "3 test(s) FAILED!, SELF TEST FAILED");
}
}  // namespace

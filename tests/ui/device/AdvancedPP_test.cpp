// The Advanced settings and Raw HART command pages: their decoders and input readers, and the
// module's pages online to the simulated transmitter through the live DTM: values shown, every
// setting changed and sent and checked on the transmitter's bytes, the probe-fault word written
// back with its other bits kept, raw commands sent as typed and malformed entries refused, the
// channel's faults during their transactions, and their pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/Quiet.h"
#include "include/ProgramIds.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/RawCommandPP.h"

namespace {

using namespace vkr::dui;
using Bytes = std::vector<std::uint8_t>;
namespace wire = vkr::frame::wire;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;

Fault MakeFault(FaultKind kind, int command, std::size_t keep = 0) {
  Fault f;
  f.kind = kind;
  f.command = command;
  f.keepBytes = keep;
  return f;
}

// ---- Decoders and input readers ---------------------------------------------------------------

Bytes Command137Bytes(std::uint8_t sensitivity, std::uint8_t mode, float blanking, float offset) {
  Bytes b{sensitivity, mode, 0, 0, 0, 0, 0, 0, 0, 0};
  wire::PutFloat(&b, 2, blanking);
  wire::PutFloat(&b, 6, offset);
  return b;
}

// A short command 137 answer gives only the fields it holds whole; a full one all four.
TEST(AdvancedDecoders, Command137FieldsAppearOnlyWhenWhole) {
  const Bytes full = Command137Bytes(125, 6, 1.5f, -0.25f);
  const struct {
    std::size_t n;
    bool sensitivity, mode, blanking, offset;
  } cases[] = {{0, false, false, false, false}, {1, true, false, false, false}, {5, true, true, false, false},
               {6, true, true, true, false},    {9, true, true, true, false},   {10, true, true, true, true}};
  for (const auto& c : cases) {
    const SCommand137Response a = DecodeCommand137(std::span<const BYTE>(full.data(), c.n));
    EXPECT_EQ(a.sensitivityCode.has_value(), c.sensitivity) << c.n;
    EXPECT_EQ(a.analogMode.has_value(), c.mode) << c.n;
    EXPECT_EQ(a.blanking.has_value(), c.blanking) << c.n;
    EXPECT_EQ(a.distanceOffset.has_value(), c.offset) << c.n;
  }
  const SCommand137Response a = DecodeCommand137(full);
  EXPECT_EQ(*a.sensitivityCode, 125);
  EXPECT_EQ(*a.analogMode, 6);
  EXPECT_EQ(*a.blanking, 1.5f);
  EXPECT_EQ(*a.distanceOffset, -0.25f);
}

// The sensitivity code is the percent x 2.5 cut to a whole number, a step typed as shown being
// its own code; a percent beyond 0 to 100 or a text that is no number gives none (never the
// device's largest code, nor the byte's low bits).
TEST(AdvancedInput, SensitivityCodesOfTypedPercents) {
  const struct {
    HRESULT parsed;
    float percent;
    int code;  // -1: none
  } cases[] = {{S_OK, 100.0f, 250}, {S_OK, 0.3f, 0},    {S_OK, 0.0f, 0},     {S_OK, 20.4f, 51},
               {S_OK, 20.3f, 50},   {S_OK, 99.6f, 249}, {S_OK, 100.1f, -1},  {S_OK, 102.0f, -1},
               {S_OK, 110.0f, -1},  {S_OK, -1.0f, -1},  {E_FAIL, 0.0f, -1}};
  for (const auto& c : cases) {
    const std::optional<BYTE> code = SensitivityCodeOfText(c.parsed, c.percent);
    EXPECT_EQ(code ? int{*code} : -1, c.code) << c.percent;
  }
}

// The typed request: whole hex bytes, blanks between them allowed, at most 255 bytes.
TEST(RawCommandInput, RequestBytesAreWholeHexBytesOnly) {
  const struct {
    std::string text;
    std::optional<Bytes> bytes;
  } cases[] = {{"", Bytes{}},
               {"0A0B", Bytes{0x0A, 0x0B}},
               {"0a 0b", Bytes{0x0A, 0x0B}},
               {" 00 7C  00 01 ", Bytes{0x00, 0x7C, 0x00, 0x01}},
               {"A", std::nullopt},
               {"0A0", std::nullopt},
               {"0 A", std::nullopt},
               {"0G", std::nullopt},
               {"0x0A", std::nullopt},
               {std::string(510, 'F'), Bytes(255, 0xFF)},
               {std::string(512, 'F'), std::nullopt}};
  for (const auto& c : cases) {
    const auto bytes = RequestBytesOfText(c.text);
    EXPECT_EQ(bytes.has_value(), c.bytes.has_value()) << c.text;
    if (bytes && c.bytes) {
      EXPECT_EQ(*bytes, *c.bytes) << c.text;
    }
  }
}

// The real module's DTM online to the simulated transmitter, and one page of the module hosted as
// a page frame hosts it (site, objects, window, start, show).
class LivePage : public vkr::test::LivePageSiteTest {
 protected:
  void StartDtm() {
    device->config.echoSettings = {125, 4, 0, 0, 0, 0, 0, 0, 0, 0};  // 50.0 %, Park 4 mA
    wire::PutFloat(&device->config.echoSettings, 2, 0.25f);
    wire::PutFloat(&device->config.echoSettings, 6, -0.125f);
    device->config.memory[0x007C] = 0x1234;  // probe fault off, other bits set
    LivePageSiteTest::StartDtm();
  }
  // Picks a drop-down list's item by its text as a person does (the selection and its notice).
  void Choose(UINT id, const char* text) {
    HWND combo = host->Item(static_cast<int>(id));
    const LRESULT item = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
    ASSERT_GE(item, 0) << text;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    vkr::ui::PumpUntilIdle();
  }
  std::vector<Bytes> Requests(int command) const {
    std::vector<Bytes> requests;
    for (const auto& r : device->received)
      if (r.command == command) requests.push_back(r.request);
    return requests;
  }
  vkr::frame::FrameChannel& Channel() { return *m_session->Channel(); }
  std::size_t Messages() const { return m_session->Frame()->userMessages.size(); }
  void GoOffline() {
    ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) != dsONLINE; }, 10000));
    Settle();
  }
  // The frame's Send, true when nothing reached the device.
  bool SendsNothing() {
    device->received.clear();
    PressSend();
    Settle();
    return device->received.empty();
  }
  // Send from the frame, and the probe-fault word's write (command 134) landed.
  bool SendAndWaitForTheWrite() {
    PressSend();
    const bool written = vkr::test::PumpUntil([&] { return Received(134) == 1; }, 10000);
    Settle();
    return written;
  }
};

class LiveAdvancedPage : public LivePage {
 protected:
  void SetUp() override {
    StartDtm();
    if (HasFatalFailure()) return;
    OpenPage(CLSID_AdvancedPP, "Advanced");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForText(kAdvancedOffsetEdit, "-0.125")) << Text(kAdvancedOffsetEdit);
    ASSERT_TRUE(WaitForText(kAdvancedProbeFaultCombo, "Disable")) << Text(kAdvancedProbeFaultCombo);
    Settle();
  }
};

// What the transmitter holds is what the page shows; every setting changed and sent ends up in the
// transmitter byte for byte, and the probe fault changes only bit 6 of its word.
TEST_F(LiveAdvancedPage, ShowsTheSettingsAndWritesEveryOneChanged) {
  EXPECT_EQ(Text(kAdvancedSensitivityEdit), "50.0");
  EXPECT_EQ(Text(kAdvancedAnalogModeCombo), "Park 4 mA");
  EXPECT_EQ(Text(kAdvancedBlankingEdit), "0.250");
  EXPECT_EQ(Text(kAdvancedBlankingUnit), "meters");
  EXPECT_EQ(Text(kAdvancedOffsetUnit), "meters");

  device->received.clear();
  Type(kAdvancedSensitivityEdit, "80.0");
  Choose(kAdvancedAnalogModeCombo, "20 - 4 mA");
  Type(kAdvancedBlankingEdit, "0.75");
  Type(kAdvancedOffsetEdit, "0.375");
  Choose(kAdvancedProbeFaultCombo, "Enable");
  ASSERT_TRUE(SendAndWaitForTheWrite());
  EXPECT_EQ(device->config.echoSettings, Command137Bytes(200, 1, 0.75f, 0.375f));
  EXPECT_EQ(Requests(134), (std::vector<Bytes>{{0x00, 0x7C, 0x52, 0x34}}));
  EXPECT_EQ(device->config.memory[0x007C], 0x5234);
  EXPECT_TRUE(WaitForText(kAdvancedSensitivityEdit, "80.0")) << Text(kAdvancedSensitivityEdit);
  EXPECT_TRUE(WaitForText(kAdvancedProbeFaultCombo, "Enable")) << Text(kAdvancedProbeFaultCombo);

  // Disable clears the bit again and keeps the rest of the word as the device holds it.
  device->config.memory[0x007C] = 0x7FFF;
  device->received.clear();
  Choose(kAdvancedProbeFaultCombo, "Disable");
  ASSERT_TRUE(SendAndWaitForTheWrite());
  EXPECT_EQ(device->config.memory[0x007C], 0x3FFF);

  // The distances' unit follows the device's PV unit.
  device->config.pvUnit = 44;
  PressButton(kParButtonRefresh);
  EXPECT_TRUE(WaitForText(kAdvancedBlankingUnit, "ft")) << Text(kAdvancedBlankingUnit);
  EXPECT_EQ(Text(kAdvancedOffsetUnit), "ft");
}

// Entries that do not fit their device fields are marked and focused on Send, and nothing goes out.
TEST_F(LiveAdvancedPage, RefusesEntriesThatDoNotFitTheDevice) {
  const struct {
    UINT edit;
    const char* bad;
  } cases[] = {{kAdvancedSensitivityEdit, "110"},
               {kAdvancedSensitivityEdit, "abc"},
               {kAdvancedSensitivityEdit, ""},
               {kAdvancedBlankingEdit, "x"},
               {kAdvancedOffsetEdit, "0.5.5"}};
  for (const auto& c : cases) {
    const std::string before = Text(c.edit);
    Type(c.edit, c.bad);
    device->received.clear();
    PressSend();
    Settle();
    EXPECT_EQ(Received(138) + Received(131) + Received(134), 0) << c.edit << " \"" << c.bad << "\"";
    EXPECT_EQ(GetFocus(), host->Item(static_cast<int>(c.edit))) << c.edit;
    Type(c.edit, before);
  }
  device->received.clear();
  EXPECT_TRUE(SendAndWaitForTheWrite());
}

// The channel's faults during the probe-fault read-modify-write: the word is never written from a
// read that did not deliver it whole (or to a busy device), the user is told what was not written
// and why, and the page keeps working; faults during its refresh leave the fields waiting and a
// later refresh fills them.
TEST_F(LiveAdvancedPage, ChannelFaultsDuringItsTransactions) {
  const struct {
    const char* name;
    Fault fault;
    const char* why;
  } cases[] = {{"no answer to 131", MakeFault(FaultKind::NoAnswer, 131), "the device did not answer"},
               {"busy at 131", MakeFault(FaultKind::Busy, 131), "the device is busy"},
               {"131 with one byte", MakeFault(FaultKind::TruncatedData, 131, 1), "the device's answer was lost"},
               {"refused at 131", MakeFault(FaultKind::Refuse, 131), "the request did not reach the device"},
               {"busy at 134", MakeFault(FaultKind::Busy, 134), "the device is busy"}};
  Choose(kAdvancedProbeFaultCombo, "Enable");
  for (const auto& c : cases) {
    const std::size_t messages = Messages();
    Channel().faults.push_back(c.fault);
    device->received.clear();
    PressSend();
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return Messages() > messages; }, 15000)) << c.name;
    Settle();
    // (A busy device does not run the write it is sent.)
    EXPECT_EQ(Received(134), 0) << c.name;
    EXPECT_EQ(device->config.memory[0x007C], 0x1234) << c.name;
    EXPECT_EQ(m_session->Frame()->userMessages.back(),
              std::string("message messageStop buttonsOk Advanced: Probe Fault was not written: ") + c.why +
                  ". -> buttonOk")
        << c.name;
    // The choice stays the user's, to be sent again.
    EXPECT_EQ(Text(kAdvancedProbeFaultCombo), "Enable") << c.name;
  }
  Channel().faults.clear();
  PressSend();
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return device->config.memory[0x007C] == 0x5234; }, 10000));
  Settle();

  // A command 137 answer cut short is lost; busy or silent, nothing comes: the fields say they were
  // not read instead of waiting.
  device->config.echoSettings = Command137Bytes(150, 0, 2.0f, 0.5f);
  Channel().faults.push_back(MakeFault(FaultKind::TruncatedData, 137, 5));
  PressButton(kParButtonRefresh);
  Settle();
  EXPECT_TRUE(WaitForText(kAdvancedBlankingEdit, "Not read"));
  for (UINT field : {kAdvancedSensitivityEdit, kAdvancedAnalogModeCombo, kAdvancedOffsetEdit})
    EXPECT_EQ(Text(field), "Not read") << field;
  // Command 138 carries all four: a typed sensitivity does not go out with values nobody read.
  const std::size_t said = Messages();
  Type(kAdvancedSensitivityEdit, "40.0");
  device->received.clear();
  PressSend();
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Messages() > said; }, 10000));
  EXPECT_EQ(Received(138), 0);
  EXPECT_EQ(device->config.echoSettings, Command137Bytes(150, 0, 2.0f, 0.5f));
  EXPECT_EQ(m_session->Frame()->userMessages.back(),
            "message messageStop buttonsOk Advanced: Sensitivity was not written: it goes to the device with Analog "
            "Mode, Blanking and Distance Offset, which could not be read. -> buttonOk");
  EXPECT_EQ(Text(kAdvancedSensitivityEdit), "40.0");
  for (FaultKind kind : {FaultKind::Busy, FaultKind::NoAnswer}) {
    Channel().faults.push_back(MakeFault(kind, 137));
    PressButton(kParButtonRefresh);
    // Unanswered, the read ends when the DTM's time for it runs out.
    EXPECT_TRUE(WaitForText(kAdvancedSensitivityEdit, "Not read", 60000)) << Text(kAdvancedSensitivityEdit);
    vkr::frame::WaitUntilQuiet();
  }
  PressButton(kParButtonRefresh);
  EXPECT_TRUE(WaitForText(kAdvancedBlankingEdit, "2.000")) << Text(kAdvancedBlankingEdit);
  EXPECT_EQ(Text(kAdvancedSensitivityEdit), "60.0");
  EXPECT_EQ(Text(kAdvancedAnalogModeCombo), "4 - 20 mA");
}

// Offline, showing the page shows "Not connected" and nothing goes to the device; the settings
// take no input (only a device takes them), and Send writes nothing and says so. Going online
// fills the fields, and Send writes what the user then typed.
TEST_F(LiveAdvancedPage, OfflineSaysNotConnectedAndGoingOnlineFillsTheFields) {
  ASSERT_NO_FATAL_FAILURE(GoOffline());
  device->received.clear();
  page->Show(SW_HIDE);
  page->Show(SW_SHOW);
  Settle();
  // No value is coming: the fields say why instead of waiting for ever, the combos too (no choice
  // a device never gave).
  for (UINT id : {kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit, kAdvancedAnalogModeCombo,
                  kAdvancedProbeFaultCombo})
    EXPECT_EQ(Text(id), "Not connected") << id;
  EXPECT_EQ(SendMessageA(host->Item(kAdvancedAnalogModeCombo), CB_GETCOUNT, 0, 0), 6);
  for (UINT edit : {kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit})
    EXPECT_NE(GetWindowLongA(host->Item(static_cast<int>(edit)), GWL_STYLE) & ES_READONLY, 0) << edit;
  for (UINT combo : {kAdvancedAnalogModeCombo, kAdvancedProbeFaultCombo})
    EXPECT_FALSE(IsWindowEnabled(host->Item(static_cast<int>(combo)))) << combo;
  const std::size_t messages = Messages();
  PressSend();
  Settle();
  EXPECT_TRUE(device->received.empty());
  ASSERT_EQ(Messages(), messages + 1);
  EXPECT_NE(m_session->Frame()->userMessages.back().find("Nothing was written: no device is connected."),
            std::string::npos)
      << m_session->Frame()->userMessages.back();

  // Selected again while the DTM goes online: the fields wait, then show the device's values.
  page->Show(SW_HIDE);
  ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
  ASSERT_NE(vkr::test::ui::DtmState(dtm), dsONLINE);
  page->Show(SW_SHOW);
  EXPECT_TRUE(WaitForText(kAdvancedProbeFaultCombo, "Disable")) << Text(kAdvancedProbeFaultCombo);
  EXPECT_TRUE(WaitForText(kAdvancedAnalogModeCombo, "Park 4 mA")) << Text(kAdvancedAnalogModeCombo);
  Settle();
  EXPECT_EQ(Text(kAdvancedSensitivityEdit), "50.0");
  Type(kAdvancedSensitivityEdit, "40.0");
  Type(kAdvancedBlankingEdit, "0.5");
  Type(kAdvancedOffsetEdit, "0.0");
  ASSERT_TRUE(SendAndWaitForTheWrite());
  EXPECT_EQ(device->config.echoSettings, Command137Bytes(100, 4, 0.5f, 0.0f));
}

TEST_F(LiveAdvancedPage, LooksAsKept) { vkr::test::ExpectLooksAsKept(host->Page(), "advanced_page"); }

class LiveRawPage : public LivePage {
 protected:
  void SetUp() override {
    StartDtm();
    if (HasFatalFailure()) return;
    OpenPage(CLSID_RawCommandPP, "RawCommand");
    if (HasFatalFailure()) return;
    Settle();
  }
  // The command and request typed and sent; true when the answer's byte count came.
  bool Send(const char* command, const char* request) {
    Type(kRawCommandEdit, command);
    Type(kRawRequestDataEdit, request);
    device->received.clear();
    PressSend();
    const bool answered = vkr::test::PumpUntil([&] { return !Text(kRawResponseCountEdit).empty(); }, 10000);
    Settle();
    return answered;
  }
};

// The typed command goes to the transmitter as typed, and its answer is shown; a write command
// typed by hand changes the transmitter's bytes.
TEST_F(LiveRawPage, SendsWhatTheUserTypesAndShowsTheAnswer) {
  ASSERT_TRUE(Send("1", ""));
  EXPECT_EQ(Requests(1), (std::vector<Bytes>{Bytes{}}));
  EXPECT_EQ(Text(kRawResponseCodeEdit), "0");
  EXPECT_EQ(Text(kRawDeviceStatusEdit), std::to_string(device->DeviceStatus()));
  EXPECT_EQ(Text(kRawResponseCountEdit), "5");
  EXPECT_EQ(Text(kRawResponseDataEdit), "2D 40 20 00 00 ");

  Type(kRawRequestDataEdit, "00 7c 00 01");
  EXPECT_EQ(Text(kRawRequestCountEdit), "4");
  ASSERT_TRUE(Send("131", "00 7c 00 01"));
  EXPECT_EQ(Requests(131), (std::vector<Bytes>{{0x00, 0x7C, 0x00, 0x01}}));
  EXPECT_EQ(Text(kRawResponseCountEdit), "2");
  EXPECT_EQ(Text(kRawResponseDataEdit), "12 34 ");

  ASSERT_TRUE(Send("134", "007C5678"));
  EXPECT_EQ(Requests(134), (std::vector<Bytes>{{0x00, 0x7C, 0x56, 0x78}}));
  EXPECT_EQ(device->config.memory[0x007C], 0x5678);
  EXPECT_EQ(Text(kRawDeviceStatusEdit), std::to_string(device->DeviceStatus()));
}

// A malformed entry is refused on the page: marked, focused, nothing sent, the last answer kept.
TEST_F(LiveRawPage, RefusesMalformedEntriesWithNothingSent) {
  ASSERT_TRUE(Send("1", ""));
  const struct {
    UINT edit;
    std::string bad;
  } cases[] = {{kRawRequestDataEdit, "0A0"},
               {kRawRequestDataEdit, "0G"},
               {kRawRequestDataEdit, std::string(512, 'F')},
               {kRawCommandEdit, "256"},
               {kRawCommandEdit, ""}};
  for (const auto& c : cases) {
    Type(kRawCommandEdit, "1");
    Type(kRawRequestDataEdit, "");
    Type(c.edit, c.bad);
    if (c.edit == kRawRequestDataEdit) {
      EXPECT_EQ(Text(kRawRequestCountEdit), "0") << c.bad;
    }
    EXPECT_TRUE(SendsNothing()) << c.bad;
    EXPECT_EQ(GetFocus(), host->Item(static_cast<int>(c.edit))) << c.bad;
    EXPECT_EQ(Text(kRawResponseCountEdit), "5") << c.bad;
  }
}

// The channel's faults: no answer leaves the answer fields empty and tells the user; a busy
// device shows its response code; short data shows only the bytes that came. A hidden page
// ignores the frame's Send.
TEST_F(LiveRawPage, ChannelFaultsShowOnThePage) {
  const struct {
    Fault fault;
    const char *code, *count, *data;  // code nullptr: not looked at
  } cases[] = {{MakeFault(FaultKind::NoAnswer, 1), "", "", ""},
               {MakeFault(FaultKind::Busy, 1), "32", "0", ""},
               {MakeFault(FaultKind::TruncatedData, 1, 2), nullptr, "2", "2D 40 "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault.kind));
    Channel().faults.push_back(c.fault);
    const std::size_t messages = Messages();
    const bool answered = Send("1", "");
    if (c.fault.kind == FaultKind::NoAnswer) {
      EXPECT_TRUE(vkr::test::PumpUntil([&] { return Messages() > messages; }, 15000));
    } else {
      ASSERT_TRUE(answered);
    }
    Settle();
    if (c.code) {
      EXPECT_EQ(Text(kRawResponseCodeEdit), c.code);
    }
    EXPECT_EQ(Text(kRawResponseCountEdit), c.count);
    EXPECT_EQ(Text(kRawResponseDataEdit), c.data);
  }
  ASSERT_TRUE(Send("1", ""));
  EXPECT_EQ(Text(kRawResponseCountEdit), "5");

  page->Show(SW_HIDE);
  Settle();
  EXPECT_TRUE(SendsNothing());
}

// Offline, Send empties the answer fields and sends nothing.
TEST_F(LiveRawPage, OfflineSendEmptiesTheAnswerAndSendsNothing) {
  ASSERT_TRUE(Send("1", ""));
  ASSERT_NO_FATAL_FAILURE(GoOffline());
  EXPECT_TRUE(SendsNothing());
  for (UINT id : {kRawResponseCodeEdit, kRawDeviceStatusEdit, kRawResponseCountEdit, kRawResponseDataEdit})
    EXPECT_EQ(Text(id), "") << id;
}

TEST_F(LiveRawPage, LooksAsKept) {
  ASSERT_TRUE(Send("131", "007C0001"));
  vkr::test::ExpectLooksAsKept(host->Page(), "raw_command_page");
}

}  // namespace

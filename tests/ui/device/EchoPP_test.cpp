// The Echo curve page: its decoder on short and full answers, the bars' placement, and the page of
// the real module online to the simulated transmitter: the echoes read on request (again on every
// request, the same trigger value reported each time), the table and the bars from the device's
// words, the feet unit, the full scale, faults of the channel during the read, and its picture.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "include/ParameterHandlerInterfaces.h"
#include "include/ProgramIds.h"
#include "tests/support/device_ui_fixture.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/EchoPP.h"

namespace {

using namespace vkr::dui;
using Bytes = std::vector<BYTE>;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;

Bytes Words(std::initializer_list<USHORT> words) {
  Bytes b;
  for (USHORT w : words) b.insert(b.end(), {static_cast<BYTE>(w >> 8), static_cast<BYTE>(w)});
  return b;
}

// ---- Decoder and placement ----------------------------------------------------------------------

TEST(EchoTable, OnlyWordsWhollyInTheAnswerAreTaken) {
  Bytes full;
  for (USHORT w = 1; w <= 20; ++w) full.insert(full.end(), {static_cast<BYTE>(w >> 8), static_cast<BYTE>(w * 3)});
  const struct {
    std::size_t bytes;
    std::size_t words;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {15, 7}, {39, 19}, {40, 20}};
  for (const auto& c : cases) {
    const auto words = DecodeEchoTable(std::span<const BYTE>(full.data(), c.bytes));
    for (std::size_t i = 0; i < kEchoWords; ++i) {
      EXPECT_EQ(words[i].has_value(), i < c.words) << c.bytes << " bytes, word " << i;
      if (words[i]) {
        EXPECT_EQ(*words[i], full[2 * i] << 8 | full[2 * i + 1]) << i;
      }
    }
  }
  // Bytes past the table are not the table's.
  Bytes longer = full;
  longer.insert(longer.end(), {0xFF, 0xFF});
  EXPECT_EQ(*DecodeEchoTable(longer)[19], 20 * 3);
  // The fourth echo's peak above 20000 is the device's "none": 0.
  Bytes table(40, 0);
  for (USHORT peak : {USHORT{20000}, USHORT{20001}, USHORT{0xFFFF}}) {
    table[32] = static_cast<BYTE>(peak >> 8), table[33] = static_cast<BYTE>(peak);
    table[2] = static_cast<BYTE>(peak >> 8), table[3] = static_cast<BYTE>(peak);
    const auto words = DecodeEchoTable(table);
    EXPECT_EQ(*words[16], peak > 20000 ? 0 : peak) << peak;
    EXPECT_EQ(*words[1], peak) << "only the fourth echo's peak is clipped";
  }
}

TEST(EchoTable, BarsStandOnTheChartsBaseAndRiseOnePixelPerCount) {
  constexpr float kFeet = 0.00328084f * 1000.0f;
  const struct {
    ULONG peak, size;
    float scale, range;
    int marker;
    std::optional<SEchoBar> bar;
  } cases[] = {
      {3500, 204, 1.0f, 20000, 2, SEchoBar{114, 271, 2, 199}},   // 20 m: 2-pixel bars
      {3500, 204, 1.0f, 10000, 5, SEchoBar{183, 271, 5, 199}},   // 10 m: 5-pixel bars
      {20000, 255, 1.0f, 20000, 2, SEchoBar{444, 220, 2, 250}},  // 2.5 V at the full scale
      {0, 41, 1.0f, 20000, 2, SEchoBar{44, 434, 2, 36}},         // a clipped peak: the left edge
      {1000, 100, kFeet, 70000, 2, SEchoBar{62, 375, 2, 95}},    // feet: 3.28 ft of 70
      {3500, 0, 1.0f, 20000, 2, std::nullopt},                   // no size: no bar
      {10001, 100, 1.0f, 10000, 5, std::nullopt},                // beyond the full scale
      {3500, 5, 1.0f, 20000, 2, std::nullopt},                   // no height left
      {3500, 6, 1.0f, 20000, 2, SEchoBar{114, 469, 2, 1}},
      {3500, 1000, 1.0f, 20000, 2, SEchoBar{114, 205, 2, 265}},  // above the plot: its top
  };
  for (const auto& c : cases) {
    const auto bar = PlaceEchoBar(c.peak, c.size, c.scale, c.range, 400, 270, c.marker);
    ASSERT_EQ(bar.has_value(), c.bar.has_value()) << c.peak << " " << c.size;
    if (!bar) continue;
    EXPECT_EQ((std::array{bar->x, bar->y, bar->width, bar->height}),
              (std::array{c.bar->x, c.bar->y, c.bar->width, c.bar->height}))
        << c.peak << " " << c.size;
    EXPECT_EQ(bar->y + bar->height, 470) << "every bar stands on the chart's base";
  }
}

// ---- The page online to the simulated transmitter ---------------------------------------------

using vkr::test::Query;

// The bar's or any item's rectangle in its parent's client pixels.
RECT ClientRect(HWND item) {
  RECT r{};
  GetWindowRect(item, &r);
  MapWindowPoints(nullptr, GetParent(item), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class LiveEchoPage : public vkr::test::LivePageSiteTest {
 protected:
  void SetUp() override {
    StartDtm();
    if (HasFatalFailure()) return;
    OpenPage(CLSID_EchoPP, "EchoPP");
    if (HasFatalFailure()) return;
    // The host made as wide as the 787-pixel chart; the page tall enough for the axis title.
    MoveWindow(host->Hwnd(), 0, 0, 800, 560, TRUE);
    EXPECT_GE(ClientRect(host->Page()).bottom, 520);
    Settle();
  }

  HWND Item(UINT id) const { return host->Item(static_cast<int>(id)); }
  std::string Cell(std::size_t echo, std::size_t value) const { return Text(kEchoTableEdits[echo][value]); }

  int Reads() const {
    int n = 0;
    for (const auto& r : device->received) n += r.command == 131 && r.request == Words({0x02E9, 0x0014});
    return n;
  }
  // Clicks "Read/Refresh Echo Data" and waits for the read to end: the click disables the button
  // until then.
  void Read() {
    ASSERT_TRUE(IsWindowEnabled(Item(kEchoReadButton)));
    vkr::ui::Click(Item(kEchoReadButton));
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return IsWindowEnabled(Item(kEchoReadButton)) != FALSE; }, 15000));
    Settle();
  }
  // A byte parameter set on the DTM, which reports it to its user interfaces.
  HRESULT Report(LONG id, BYTE value) {
    VARIANT v = vkr::EmptyVariant();
    v.vt = VT_UI1;
    v.bVal = value;
    return Query<IovFdtParameterHandler4>(dtm)->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), v);
  }
  void SetDtm(LONG id, BYTE value) {
    ASSERT_EQ(Report(id, value), S_OK);
    Settle();
  }
  // The bar's rectangle in the page's client pixels; absent when hidden.
  std::optional<RECT> Bar(std::size_t echo) const {
    HWND bar = Item(kEchoFirstBar + static_cast<UINT>(echo));
    if (!IsWindowVisible(bar)) return std::nullopt;
    return ClientRect(bar);
  }
  void ExpectNoBars(std::size_t from = 0) const {
    for (std::size_t e = from; e < kEchoCount; ++e) EXPECT_FALSE(Bar(e)) << e;
  }
  // The distance axis's eleven ticks, `step` apart.
  void ExpectTicks(int step) const {
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(Text(kEchoFirstTick + static_cast<UINT>(i)), std::to_string(step * i)) << i;
  }
  void ExpectBar(std::size_t echo, int x, int top, int width) const {
    SCOPED_TRACE("echo " + std::to_string(echo + 1));
    const auto r = Bar(echo);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->left, x);
    EXPECT_EQ(r->top, top);
    EXPECT_EQ(r->right - r->left, width);
    EXPECT_EQ(r->bottom, 470);
  }
};

// Shown, the page has read nothing: an empty table, no bars, the axes of 20 metres. Each click
// reads the table once (the same trigger value reported every time); the table and the bars follow
// the device's words.
TEST_F(LiveEchoPage, ReadsOnEveryRequestAndPlacesTheBarsFromTheDevicesWords) {
  EXPECT_EQ(Reads(), 0);
  EXPECT_EQ(Cell(0, kEchoStart), "");
  ExpectNoBars();
  ExpectTicks(2000);
  const char* volts[] = {"0.00", "0.50", "1.00", "1.50", "2.00", "2.50"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Text(kEchoVoltageLabels[i]), volts[i]);
  EXPECT_EQ(Text(kEchoAxisTitle), "Distance (mm)");
  // The chart in the page's pixels: the frame, the lowest band, a tick, a voltage label, the title.
  const struct {
    UINT id;
    RECT at;
  } placed[] = {{kEchoChartFrame, {45, 195, 445, 473}}, {kEchoBands[0], {45, 415, 445, 473}},
                {kEchoFirstTick + 10, {440, 475, 476, 505}}, {kEchoVoltageLabels[5], {20, 210, 40, 240}},
                {kEchoAxisTitle, {200, 490, 320, 520}}};
  for (const auto& p : placed) {
    const RECT r = ClientRect(Item(p.id));
    EXPECT_TRUE(EqualRect(&r, &p.at)) << p.id << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  }
  EXPECT_EQ(Text(kEchoMetricCombo), "20 meters");
  EXPECT_FALSE(IsWindowVisible(Item(kEchoFeetCombo)));
  for (UINT hidden : {651u, 652u, 653u, 654u}) EXPECT_FALSE(IsWindowVisible(Item(hidden))) << hidden;

  Read();
  EXPECT_EQ(Reads(), 1);
  const char* expected[4][5] = {{"3420", "3500", "2.0", "12", "3590"},
                                {"560", "610", "0.7", "8", "670"},
                                {"6900", "7000", "0.9", "20", "7110"},
                                {"7880", "7950", "0.4", "24", "8020"}};
  for (std::size_t e = 0; e < 4; ++e)
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(Cell(e, k), expected[e][k]) << e << "," << k;
  ExpectBar(0, 114, 271, 2);  // 3500 mm of 20000 over 400 pixels, 204 counts
  ExpectBar(1, 56, 404, 2);
  ExpectBar(2, 184, 383, 2);
  ExpectBar(3, 203, 434, 2);

  // The device's echoes change; the next click reads again. An echo without size has no bar, one
  // past the full scale neither, a fourth peak above 20000 shows 0 at the left edge, 255 counts
  // show 2.5 V with a bar 250 pixels high.
  device->SetEcho(0, {1000, 1100, 255, 3, 1200});
  device->SetEcho(1, {500, 600, 0, 3, 700});
  device->SetEcho(2, {20000, 20001, 90, 3, 20002});
  device->SetEcho(3, {100, 20001, 60, 3, 200});
  Read();
  EXPECT_EQ(Reads(), 2);
  EXPECT_EQ(Cell(0, kEchoSize), "2.5");
  ExpectBar(0, 44 + 22, 220, 2);
  EXPECT_FALSE(Bar(1));
  EXPECT_FALSE(Bar(2));
  EXPECT_EQ(Cell(3, kEchoPeak), "0");
  ExpectBar(3, 44, 415, 2);

  // Another full scale empties the table and hides the bars; the next read draws 5-pixel bars.
  HWND combo = Item(kEchoMetricCombo);
  SendMessageA(combo, CB_SETCURSEL, 3, 0);
  SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(kEchoMetricCombo, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  Settle();
  EXPECT_EQ(Cell(0, kEchoPeak), "");
  ExpectNoBars();
  ExpectTicks(1000);
  Read();
  ExpectBar(0, 44 - 2 + 45, 220, 5);  // 1100 mm of 10000
  EXPECT_EQ(Reads(), 3);

  // The trigger reported without a click (as another user interface setting it) reads as well.
  SetDtm(kParEchoReadTrigger, 0);
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Reads() == 4; }, 10000));

  // A report that arrives while the read waits for the device starts no second read.
  m_session->Channel()->onDataExchange = [&](std::size_t) { Report(kParEchoReadTrigger, 0); };
  Read();
  m_session->Channel()->onDataExchange = nullptr;
  Settle();
  EXPECT_EQ(Reads(), 5);
}

// With the feet unit the combo of feet shows, distances read in feet (gains and sizes as they
// are), the ticks in feet of the full scale, the headers name feet.
TEST_F(LiveEchoPage, FeetUnitShowsFeet) {
  SetDtm(1115, 44);  // the device's length unit: feet
  page->Show(SW_HIDE);
  page->Show(SW_SHOW);
  Settle();
  EXPECT_TRUE(IsWindowVisible(Item(kEchoFeetCombo)));
  EXPECT_FALSE(IsWindowVisible(Item(kEchoMetricCombo)));
  EXPECT_EQ(Text(kEchoFeetCombo), "70 feet");
  EXPECT_EQ(Text(kEchoAxisTitle), "Distance (ft)");
  EXPECT_EQ(Text(kEchoStartHeader), "Start (ft)");
  EXPECT_EQ(Text(kEchoPeakHeader), "Peak dist. (ft)");
  EXPECT_EQ(Text(kEchoEndHeader), "End (ft)");
  EXPECT_EQ(Text(kEchoFirstTick + 1), "7.0");
  EXPECT_EQ(Text(kEchoFirstTick + 10), "70.0");
  device->SetEcho(0, {1000, 3500, 204, 12, 3590});
  Read();
  EXPECT_EQ(Cell(0, kEchoStart), "3.28");
  EXPECT_EQ(Cell(0, kEchoGain), "12");
  EXPECT_EQ(Cell(0, kEchoSize), "2.0");
  // 3500 mm = 11483 thousandths of a foot of 70000 over 400 pixels.
  ExpectBar(0, 65 - 1 + 45, 271, 2);
}

// The channel's faults during the read: the user is told, the page keeps what it had and reads
// again on the next click; a short answer shows only the words it holds.
TEST_F(LiveEchoPage, FaultsDuringTheReadAreToldAndThePageKeepsWorking) {
  Read();
  ASSERT_EQ(Cell(0, kEchoPeak), "3500");
  auto& messages = m_session->Frame()->userMessages;
  auto fault = [](FaultKind kind, std::size_t keep = 0) {
    Fault f;
    f.kind = kind;
    f.command = 131;
    f.keepBytes = keep;
    return f;
  };
  const struct {
    const char* name;
    Fault fault;
    const char* told;
  } cases[] = {
      {"busy", fault(FaultKind::Busy), "Reading the echo data failed: the device is busy"},
      {"no answer", fault(FaultKind::NoAnswer), "Reading the echo data failed: the device did not answer"},
  };
  for (const auto& c : cases) {
    messages.clear();
    m_session->Channel()->faults.push_back(c.fault);
    Read();
    ASSERT_EQ(messages.size(), 1u) << c.name;
    EXPECT_NE(messages[0].find("Reading the echo data failed"), std::string::npos) << c.name << ": " << messages[0];
    EXPECT_NE(messages[0].find(c.told), std::string::npos) << c.name << ": " << messages[0];
    // What the page had stays, nothing reads "Loading...".
    EXPECT_EQ(Cell(0, kEchoPeak), "3500") << c.name;
    EXPECT_EQ(Cell(3, kEchoEnd), "8020") << c.name;
    ExpectBar(0, 114, 271, 2);
    EXPECT_TRUE(IsWindowEnabled(Item(kEchoReadButton))) << c.name;
  }

  // Fifteen bytes: seven whole words. Echo 1 whole, echo 2's start and peak; nothing else.
  messages.clear();
  m_session->Channel()->faults.push_back(fault(FaultKind::TruncatedData, 15));
  device->SetEcho(1, {500, 600, 90, 3, 700});
  Read();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("7 of 20"), std::string::npos) << messages[0];
  EXPECT_EQ(Cell(0, kEchoEnd), "3590");
  EXPECT_EQ(Cell(1, kEchoStart), "500");
  EXPECT_EQ(Cell(1, kEchoPeak), "600");
  EXPECT_EQ(Cell(1, kEchoSize), "Not read");
  EXPECT_EQ(Cell(3, kEchoEnd), "Not read");
  ExpectBar(0, 114, 271, 2);
  ExpectNoBars(1);

  // And the next read is whole again.
  messages.clear();
  Read();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Cell(1, kEchoSize), "0.9");
  EXPECT_EQ(Cell(3, kEchoEnd), "8020");
  ExpectBar(1, 56, 475 - 90, 2);
}

// On the fake DTM: offline the table says the device is not connected and Read waits for one;
// online a failed transaction is told with why, its cells say "Not read", and the button is ready
// again, never left disabled.
TEST(EchoPageOnFakeDtm, EveryEndingOfTheReadLeavesTheButtonReady) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    DWORD cookie = 0;
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CEchoPP>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CEchoPP>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_EchoPP, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    auto fake = vkr::test::dui::FakeDeviceDtm::Create();
    {
      vkr::test::dui::DevicePageHarness harness(CLSID_EchoPP, static_cast<IovFdtBaseDTM*>(fake.Get()), 800, 560);
      ASSERT_TRUE(harness.Ok());
      HWND button = harness.Item(static_cast<int>(kEchoReadButton));
      // Offline: nothing can be read, and the cells say why instead of a "Loading..." for ever.
      EXPECT_FALSE(IsWindowEnabled(button));
      fake->Deliver();
      EXPECT_TRUE(fake->Hart().Calls().empty());
      const std::string offline = harness.Text(static_cast<int>(kEchoTableEdits[2][kEchoGain]));
      EXPECT_TRUE(offline == "Not connected" || offline == "--") << offline;
      EXPECT_TRUE(fake->UserMessages().empty());

      fake->SetState(dsONLINE);
      ASSERT_EQ(harness.Ui()->OnDtmStateChanged(dsONLINE), S_OK);
      EXPECT_TRUE(IsWindowEnabled(button));
      fake->Hart().Script(131, vkr::test::dui::FakeTransaction::Failure(u"0x80004005; error during transaction"));
      vkr::ui::Click(button);
      fake->Deliver();
      const auto calls = fake->Hart().CallsOf(131);
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(Bytes(calls[0].request.begin(), calls[0].request.end()), Words({0x02E9, 0x0014}));
      ASSERT_EQ(fake->UserMessages().size(), 1u);
      EXPECT_EQ(fake->UserMessages()[0].text, u"Reading the echo data failed: the request did not reach the device");
      EXPECT_EQ(fake->UserMessages()[0].style, 0x10);  // OK with the error icon
      EXPECT_EQ(harness.Text(static_cast<int>(kEchoTableEdits[2][kEchoGain])), "Not read");
      EXPECT_TRUE(IsWindowEnabled(button));
      harness.Close();
    }
    fake->DetachAll();
    CoRevokeClassObject(cookie);
    vkr::ui::PumpUntilIdle();
  }
  CoUninitialize();
}

// The page with the transmitter's echoes looks as kept (VKR_UPDATE_PICTURES=1 writes it anew): a
// pixel matches when no channel differs by more than 8, the picture when at most 2 per mille
// do not.
TEST_F(LiveEchoPage, LooksAsKept) {
  Read();
  SetFocus(nullptr);
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(host->Page(), "echo_page");
}

}  // namespace

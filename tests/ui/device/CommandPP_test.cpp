// The Command page against the real DTM (the module as a frame creates it) on the simulated
// transmitter: what it shows, what Send writes into the transmitter, what it refuses, its
// decoders on short and full answers, and the digitize routine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "include/ActiveXInterfaces.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/kept_picture.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"
#include "ui/device/CommandPP.h"
#include "ui/device/kit/ResponseBytes.h"

namespace {

using vkr::frame::Bytes;
using vkr::frame::SimulatedDevice;

constexpr int kComboDisplayMode = 383;
constexpr int kComboDisplayUnit = 381;
constexpr int kComboTracking = 385;
constexpr int kComboDielectric = 388;
constexpr int kComboFailMode = 391;
constexpr int kEditLowLevel = 545;
constexpr int kEditHighLevel = 544;
constexpr int kEditDamping = 542;
constexpr int kEditFailTime = 448;
constexpr int kEditDistance = 547;
constexpr int kButtonDigitize = 702;
constexpr int kButtonRunDigitize = 546;

Bytes Float(float value) {
  Bytes b(4);
  vkr::frame::wire::PutFloat(&b, 0, value);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

vkr::Variant ByteArray(const Bytes& bytes) {
  vkr::Variant v;
  EXPECT_EQ(vkr::dui::MakeByteArray(bytes, v.Put()), S_OK);
  return v;
}

// A transmitter whose limits are those of a level radar: the upper range is the short distance
// (at least 0.5 m), the lower range the long one (at most 20 m), 0.5 m apart at least.
std::shared_ptr<SimulatedDevice> RadarDevice() {
  auto device = std::make_shared<SimulatedDevice>();
  auto& c = device->config;
  c.limitsUnit = 45;
  c.upperSensorLimit = 0.5f;
  c.lowerSensorLimit = 20.0f;
  c.minimumSpan = 0.5f;
  c.rangeUnit = 45;
  c.upperRange = 1.0f;
  c.lowerRange = 15.0f;
  c.damping = 0.5f;
  c.pvUnit = 45;
  c.displaySettings = Concat({{3, 1, 1, 1, 5, 0}, Float(0.0f)});
  c.memory[0x0035] = 1250;
  return device;
}

// The page made in this process, shown in a page site, started on the real DTM as the online
// frame starts its pages.
class CommandPage : public ::testing::Test {
 protected:
  void Open(bool online) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    registry_ = std::make_unique<vkr::test::ScopedRegistry>();
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    session_ = std::make_unique<vkr::frame::TransferSession>();
    ASSERT_EQ(session_->Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    dtm_ = session_->Dtm();
    if (online) {
      ASSERT_EQ(vkr::test::ui::GoOnline(dtm_), S_OK);
      ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm_) == dsONLINE; }, 20000));
    }
    ASSERT_EQ(dtm_->QueryInterface(IovFdtParameterHandler4::iid, handler_.PutVoid()), S_OK);
    ASSERT_EQ(vkr::MakeObject<CCommandPP>(&page_), S_OK);
    host_ = std::make_unique<vkr::test::PageSiteHarness>(480, 360);
    IPropertyPage* page = static_cast<IPropertyPage*>(page_.Get());
    ASSERT_EQ(page->SetPageSite(host_->Site()), S_OK);
    const RECT rect{0, 0, 450, 347};
    ASSERT_EQ(page->Activate(host_->Hwnd(), &rect, FALSE), S_OK);
    IUnknown* objects[] = {dtm_};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    vkr::ComPtr<IovFdtActiveXContainer> container;
    ASSERT_EQ(dtm_->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid()), S_OK);
    vkr::Bstr call;
    ASSERT_EQ(container->GetFunctionCallDocument(1, call.Put()), S_OK);
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(static_cast<IovFdtPropertyPageControl*>(page_.Get())->Init(vkr::Bstr(u"command-1"), call.Get(), dtm_,
                                                                          &started),
              S_OK);
    ASSERT_TRUE(started);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    if (online) {
      char high[32] = {};
      std::snprintf(high, sizeof high, "%.3f", static_cast<double>(device->config.upperRange));
      const std::string failTime = std::to_string(device->config.displaySettings.at(4));
      ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kEditHighLevel) == high && Text(kEditFailTime) == failTime; },
                                       10000))
          << "shows \"" << Text(kEditHighLevel) << "\"";
    }
    vkr::frame::WaitUntilQuiet();
  }

  void TearDown() override {
    if (page_) {
      IPropertyPage* page = static_cast<IPropertyPage*>(page_.Get());
      VARIANT_BOOL ready = VARIANT_FALSE;
      static_cast<IovFdtPropertyPageControl*>(page_.Get())->PrepareToRelease(&ready);
      page->Deactivate();
      page->SetObjects(0, nullptr);
      page->SetPageSite(nullptr);
      page_ = nullptr;
    }
    host_.reset();
    handler_ = nullptr;
    if (session_) {
      EXPECT_EQ(session_->Close(), S_OK);
    }
    session_.reset();
    vkr::frame::RevokeOutsideControls();
    registry_.reset();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  HWND Item(int id) const { return host_->Item(id); }
  std::string Text(int id) const { return vkr::ui::WindowText(Item(id)); }
  // Replaces an edit's text as a paste does (one change notification), the focus in it.
  void Paste(int id, const std::string& text) {
    vkr::ui::Click(Item(id));
    SetWindowTextA(Item(id), text.c_str());
    vkr::ui::PumpUntilIdle();
  }
  void Choose(int combo, const char* text) {
    ASSERT_TRUE(vkr::ui::SelectItem(Item(combo), std::string_view(text))) << text;
    vkr::ui::PumpUntilIdle();
  }
  // The frame's buttons reach the page as the DTM-side values 1041 and 1042.
  void Press(LONG button) {
    ASSERT_EQ(handler_->SetParameterValue(vkr::UI4(static_cast<ULONG>(button)), vkr::I4(1)), S_OK);
    vkr::ui::PumpUntilIdle();
  }
  float DtmFloat(ULONG id) {
    vkr::Variant v = vkr::test::ui::ParameterValue(dtm_, id), f;
    return SUCCEEDED(VariantChangeType(&f, &v, 0, VT_R4)) ? f.fltVal : NAN;
  }
  int DtmByte(ULONG id) {
    vkr::Variant v = vkr::test::ui::ParameterValue(dtm_, id), b;
    return SUCCEEDED(VariantChangeType(&b, &v, 0, VT_I4)) ? static_cast<int>(b.lVal) : -1;
  }
  void SetDtm(ULONG id, const VARIANT& value) { ASSERT_EQ(handler_->SetParameterValue(vkr::UI4(id), value), S_OK); }
  int Writes(std::uint8_t command) const {
    int n = 0;
    for (const auto& r : device->received) n += r.command == command;
    return n;
  }
  const Bytes* LastRequest(std::uint8_t command) const {
    for (auto it = device->received.rbegin(); it != device->received.rend(); ++it)
      if (it->command == command) return &it->request;
    return nullptr;
  }

  std::shared_ptr<SimulatedDevice> device = RadarDevice();
  std::unique_ptr<vkr::test::ScopedRegistry> registry_;
  std::unique_ptr<vkr::frame::TransferSession> session_;
  IUnknown* dtm_ = nullptr;
  vkr::ComPtr<IovFdtParameterHandler4> handler_;
  vkr::ComPtr<vkr::ComObject<CCommandPP>> page_;
  std::unique_ptr<vkr::test::PageSiteHarness> host_;
};

// The page as the frame shows it with the transmitter's values looks as its kept picture. Every
// setting of the page changed, then the frame's Send: the transmitter holds exactly the new unit
// (command 44), range (35: the range unit, high and low level), damping (34) and settings record
// (136: display mode, tracking, dielectric, fail-safe, fail time), each written once per click; the
// page then shows what the transmitter reads back.
TEST_F(CommandPage, LooksAsKeptAndSendWritesEverySettingIntoTheTransmitter) {
  Open(true);
  SetFocus(nullptr);
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(host_->Page(), "command_page");
  EXPECT_EQ(Text(kComboDisplayMode), "Level");
  EXPECT_EQ(Text(kComboDisplayUnit), "Metres (m)");
  EXPECT_EQ(Text(kEditLowLevel), "15.000");
  EXPECT_EQ(Text(kEditDamping), "0.500");
  EXPECT_EQ(Text(kComboTracking), "Medium");
  EXPECT_EQ(Text(kComboDielectric), " < 5");
  EXPECT_EQ(Text(kComboFailMode), "3.80 mA");
  EXPECT_EQ(page_->ProbeLength(), 1250u);

  // Right after opening, one change alone goes out: nothing the page shows stands in its way.
  Paste(kEditDamping, "1.75");
  device->received.clear();
  Press(1042);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return device->config.damping == 1.75f; }, 10000));
  EXPECT_EQ(Writes(34), 1);
  EXPECT_EQ(Writes(35) + Writes(44) + Writes(136), 0);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kEditDamping) == "1.750"; }, 10000));

  Choose(kComboDisplayUnit, "Feet (ft)");
  Paste(kEditHighLevel, "2.5");
  Paste(kEditLowLevel, "12");
  Paste(kEditDamping, "3.25");
  Choose(kComboDisplayMode, "Distance");
  Choose(kComboTracking, "Fast");
  Choose(kComboDielectric, " < 40");
  Choose(kComboFailMode, "Last Known");
  Paste(kEditFailTime, "30");
  vkr::ui::Click(Item(kEditDamping));
  vkr::ui::PumpUntilIdle();
  device->received.clear();

  Press(1042);
  const Bytes settings = {5, 2, 4, 3, 30};
  auto written = [&] {
    const auto& c = device->config;
    return c.pvUnit == 44 && c.upperRange == 2.5f && c.lowerRange == 12.0f && c.damping == 3.25f &&
           c.displaySettings.size() == 10 && Bytes(c.displaySettings.begin(), c.displaySettings.begin() + 5) == settings;
  };
  ASSERT_TRUE(vkr::test::PumpUntil(written, 10000))
      << "unit " << int(device->config.pvUnit) << ", range " << device->config.upperRange << " / "
      << device->config.lowerRange << ", damping " << device->config.damping << ", settings "
      << vkr::frame::wire::ToHex(device->config.displaySettings);
  EXPECT_EQ(device->config.rangeUnit, 45);
  const std::pair<std::uint8_t, Bytes> requests[] = {{35, Concat({{45}, Float(2.5f), Float(12.0f)})},
                                                      {44, Bytes{44}},
                                                      {34, Float(3.25f)},
                                                      {136, Concat({{5, 2, 4, 3, 30, 0}, Float(0.0f)})}};
  for (const auto& [command, request] : requests) {
    SCOPED_TRACE(int(command));
    ASSERT_NE(LastRequest(command), nullptr);
    EXPECT_EQ(*LastRequest(command), request);
    // The settings record may go out again after its write; the others exactly once.
    EXPECT_TRUE(command == 136 ? Writes(command) >= 1 : Writes(command) == 1) << Writes(command);
  }
  // The settings record keeps the device's digitize bytes as they were read: no digitize command.
  EXPECT_EQ(device->config.displaySettings[5], 0);

  // After the send the page reads the transmitter again and shows it.
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Text(kComboTracking) == "Fast" && Text(kEditFailTime) == "30"; }, 10000));
  EXPECT_EQ(Text(kComboDisplayUnit), "Feet (ft)");
  EXPECT_EQ(Text(kEditHighLevel), "2.500");

  // A second click writes again, once more: the trigger is the value set, not its change.
  device->received.clear();
  Paste(kEditDamping, "4");
  Press(1042);
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return device->config.damping == 4.0f; }, 10000));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Writes(34), 1);

  // The frame's Refresh: the page reads the transmitter once per click.
  device->received.clear();
  Press(1041);
  vkr::frame::WaitUntilQuiet();
  for (std::uint8_t command : {14, 131, 135, 15}) EXPECT_EQ(Writes(command), 1) << int(command);
}

// A device answer that arrives after the user changed a field (another user interface reads the
// transmitter, which meanwhile holds other values) leaves the user's entry on the page, and Send
// writes it; fields the user left alone show the answer. On the default transmitter.
TEST_F(CommandPage, LateAnswersNeverOverwriteTheUsersEntryAndSendWritesIt) {
  device = std::make_shared<SimulatedDevice>();
  Open(true);
  struct Field {
    int control;
    const char* typed;  // the user's entry (empty: a choice)
    const char* chosen;
  } const fields[] = {
      {kEditDamping, "2.25", nullptr},
      {kEditFailTime, "42", nullptr},
      {kComboTracking, "", "Fast"},
  };
  for (const Field& f : fields) {
    if (f.chosen)
      Choose(f.control, f.chosen);
    else
      Paste(f.control, f.typed);
  }
  // The transmitter changes (as through another tool) and answers the DTM's next reads.
  auto& c = device->config;
  c.damping = 0.9f;
  c.displaySettings[1] = 0;  // tracking "Slow"
  c.displaySettings[4] = 9;  // fail time
  c.displaySettings[2] = 3;  // dielectric " < 20", which the user left alone
  for (ULONG command : {1033u, 1059u}) {
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(handler_->ReadDeviceParameter(vkr::UI4(command), &done), S_OK);
  }
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kComboDielectric) == " < 20"; }, 10000)) << Text(kComboDielectric);
  vkr::frame::WaitUntilQuiet();
  for (const Field& f : fields) EXPECT_EQ(Text(f.control), f.chosen ? f.chosen : f.typed) << f.control;

  device->received.clear();
  Press(1042);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return c.damping == 2.25f && c.displaySettings[4] == 42; }, 10000))
      << "damping " << c.damping << ", settings " << vkr::frame::wire::ToHex(c.displaySettings);
  EXPECT_EQ(c.displaySettings[1], 2);
  EXPECT_EQ(c.displaySettings[2], 3);
  EXPECT_EQ(Writes(34), 1);
  // Written and read back: the page shows the transmitter again, and later answers fill it.
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kEditDamping) == "2.250"; }, 10000)) << Text(kEditDamping);
  c.damping = 1.5f;
  Press(1041);
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return Text(kEditDamping) == "1.500"; }, 10000)) << Text(kEditDamping);
}

// Entries that do not fit the device are refused on the page: the entry is marked and focused,
// and nothing reaches the transmitter, not even the valid changes made beside it.
TEST_F(CommandPage, InvalidEntriesAreRefusedAndNothingIsSent) {
  Open(true);
  struct Case {
    int control;
    const char* text;
  };
  const Case cases[] = {
      {kEditFailTime, "300"},  // more than the byte the device keeps
      {kEditFailTime, "-1"},   {kEditFailTime, "ten"}, {kEditDamping, "slow"},
      {kEditHighLevel, "x"},   {kEditLowLevel, ""},    {kComboDisplayUnit, "yards"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.control) + " \"" + c.text + "\"");
    Choose(kComboTracking, "Test");
    if (c.control != kEditDamping) Paste(kEditDamping, "7.5");
    if (c.control == kComboDisplayUnit) {
      HWND edit = GetWindow(Item(kComboDisplayUnit), GW_CHILD);  // the combo's edit field
      vkr::ui::Click(edit);
      SendMessageA(edit, EM_SETSEL, 0, -1);
      vkr::ui::TypeText(edit, c.text);
      vkr::ui::PumpUntilIdle();
      ASSERT_EQ(Text(kComboDisplayUnit), c.text);
    } else {
      Paste(c.control, c.text);
    }
    device->received.clear();
    Press(1042);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(Writes(34) + Writes(35) + Writes(44) + Writes(136), 0);
    EXPECT_EQ(device->config.damping, 0.5f);
    HWND focus = GetFocus();
    EXPECT_TRUE(focus == Item(c.control) || IsChild(Item(c.control), focus)) << "the refused entry has the focus";
    if (c.control == kComboDisplayUnit) {
      // Leaving the combo puts back the unit the device reported, by the display control's text.
      vkr::ui::Click(Item(kEditDamping));
      vkr::ui::PumpUntilIdle();
      EXPECT_EQ(Text(kComboDisplayUnit), "Metres (m)");
    }
    // A valid entry again; the frame's Refresh shows the device's values.
    Paste(c.control == kComboDisplayUnit ? kEditFailTime : c.control, c.control == kEditDamping ? "0.5" : "5");
    if (c.control == kComboDisplayUnit) Choose(kComboDisplayUnit, "Metres (m)");
    if (c.control == kEditHighLevel) Paste(kEditHighLevel, "1");
    if (c.control == kEditLowLevel) Paste(kEditLowLevel, "15");
    Press(1041);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kComboTracking) == "Medium" && Text(kEditDamping) == "0.500"; }, 10000));
  }
}

// The decoders on short and full answers: each field only when all its bytes came; the settings
// bytes go on only when they changed since the last refresh, the fail time always.
TEST_F(CommandPage, DecodersTakeOnlyWholeFields) {
  Open(false);
  CCommandPP& page = *page_.Get();
  // Commands 15 and 14: a unit byte, then three floats; each stored only once all its bytes came
  // (the range of command 15, its unit and two values, only whole).
  struct Answer {
    LONG complete;  // the page's entry of the whole answer
    Bytes bytes;
    std::vector<size_t> lengths;
    ULONG unitId;
    size_t unitEnd;
    ULONG floatIds[3];
    size_t floatEnds[3];
    float floats[3];
    float before;  // what the DTM held before
  };
  const Answer answers[] = {
      {1033, Concat({{0, 0, 44}, Float(1.5f), Float(9.0f), Float(2.0f), {0, 0x60, 0}}), {0, 2, 3, 7, 10, 11, 15, 18},
       1025, 11, {1026, 1027, 1040}, {11, 11, 15}, {1.5f, 9.0f, 2.0f}, 33.0f},
      {1032, Concat({{0, 0x10, 0x01, 44}, Float(0.25f), Float(18.0f), Float(0.2f)}), {3, 4, 8, 12, 16},
       1115, 4, {1116, 1117, 1118}, {8, 12, 16}, {0.25f, 18.0f, 0.2f}, 50.0f},
  };
  for (const Answer& a : answers) {
    for (size_t n : a.lengths) {
      SCOPED_TRACE("entry " + std::to_string(a.complete) + ", " + std::to_string(n) + " bytes");
      SetDtm(a.unitId, vkr::I4(0));
      for (ULONG id : a.floatIds) SetDtm(id, vkr::I4(static_cast<LONG>(a.before)));
      ASSERT_EQ(page.SetControlValueById(a.complete, ByteArray(Bytes(a.bytes.begin(), a.bytes.begin() + n))), S_OK);
      EXPECT_EQ(DtmByte(a.unitId), n >= a.unitEnd ? 44 : 0);
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DtmFloat(a.floatIds[i]), n >= a.floatEnds[i] ? a.floats[i] : a.before) << i;
    }
    if (a.complete == 1033) {
      EXPECT_EQ(page.RangeUnitCode(), 44);
    }
  }
  // Command 1: the PV unit, when there is one.
  SetDtm(1039, vkr::I4(45));
  ASSERT_EQ(page.SetControlValueById(1029, ByteArray({})), S_OK);
  EXPECT_EQ(DtmByte(1039), 45);
  ASSERT_EQ(page.SetControlValueById(1029, ByteArray(Concat({{44}, Float(2.0f)}))), S_OK);
  EXPECT_EQ(DtmByte(1039), 44);
  EXPECT_EQ(Text(kComboDisplayUnit), "Feet (ft)");
  // Command 131: the probe length word of a whole answer only.
  ASSERT_EQ(page.SetControlValueById(1100, ByteArray({0x04, 0xE2})), S_OK);
  EXPECT_EQ(page.ProbeLength(), 0u);
  ASSERT_EQ(page.SetControlValueById(1100, ByteArray({0x04, 0xE2, 0, 0})), S_OK);
  EXPECT_EQ(page.ProbeLength(), 1250u);
  EXPECT_EQ(DtmFloat(1114), 1250.0f);

  // Command 135 into the five settings the DTM holds (9 before each answer).
  auto settingsAfter = [&](const Bytes& answer) {
    std::vector<int> held;
    for (ULONG id : {1063UL, 1065UL, 1067UL, 1069UL, 1072UL}) SetDtm(id, vkr::I4(9));
    EXPECT_EQ(page.SetControlValueById(1059, ByteArray(answer)), S_OK);
    for (ULONG id : {1063UL, 1065UL, 1067UL, 1069UL, 1072UL}) held.push_back(DtmByte(id));
    return held;
  };
  // Short: the first three settings only.
  EXPECT_EQ(settingsAfter({4, 2, 3}), (std::vector<int>{4, 2, 3, 9, 9}));
  // The same bytes again: only what changed and the fail time go on.
  EXPECT_EQ(settingsAfter({4, 2, 5, 6, 20, 0, 0, 0, 0, 0}), (std::vector<int>{9, 9, 5, 6, 20}));
  EXPECT_EQ(Text(kComboFailMode), "> 21.50 mA");
  EXPECT_EQ(Text(kEditFailTime), "20");
  // After a refresh every byte goes on again; a display mode the page does not know selects none
  // of its modes (offline the combo keeps saying why it has none).
  ASSERT_EQ(page.OnRefresh(), S_OK);
  ASSERT_EQ(page.SetControlValueById(1059, ByteArray({6, 2, 5, 6, 20})), S_OK);
  EXPECT_EQ(DtmByte(1063), 6);
  EXPECT_EQ(DtmByte(1065), 2);
  EXPECT_EQ(Text(kComboDisplayMode), "Not connected");
  // Other types than byte arrays are ignored.
  EXPECT_EQ(page.SetControlValueById(1033, vkr::I4(7)), S_OK);
}

// Showing, hiding and refreshing offline leaves one placeholder per combo, which says that the
// device is not connected; a value shown in a combo removes its placeholder.
TEST_F(CommandPage, LoadingItemsDoNotPileUp) {
  Open(false);
  IPropertyPage* page = static_cast<IPropertyPage*>(page_.Get());
  for (int i = 0; i < 3; ++i) {
    page->Show(SW_HIDE);
    page->Show(SW_SHOW);
    Press(1041);
  }
  const std::pair<int, LRESULT> combos[] = {{kComboDisplayUnit, 5}, {kComboDisplayMode, 3}, {kComboTracking, 5},
                                            {kComboDielectric, 7}, {kComboFailMode, 6}};
  for (const auto& [combo, items] : combos) {
    EXPECT_EQ(SendMessageA(Item(combo), CB_GETCOUNT, 0, 0), items + 1) << combo;
    EXPECT_EQ(Text(combo), "Not connected") << combo;
  }
  ASSERT_EQ(page_->SetControlValueById(1063, vkr::I4(4)), S_OK);
  for (const auto& [combo, items] : combos)
    EXPECT_EQ(SendMessageA(Item(combo), CB_GETCOUNT, 0, 0), combo == kComboDisplayMode ? items : items + 1) << combo;
  EXPECT_EQ(Text(kComboDisplayMode), "% Level");
  EXPECT_EQ(Text(kComboTracking), "Not connected");
}

// The range rules on the levels the user enters, as they show when the edit is left.
TEST_F(CommandPage, RangeRulesKeepTheLevelsWithinTheSensor) {
  Open(true);
  struct Case {
    const char* high;
    const char* low;
    const char* shownHigh;
    const char* shownLow;
  } cases[] = {
      // A level the rules move is shown with three decimals; one they keep stays as typed.
      {"0.25", "15", "0.500", "15"},     // above the upper limit: moved to it
      {"-1", "15", "-1", "15"},          // a negative level is left alone
      {"25", "15", "14.500", "15.000"},  // past the lower limit, then one span above the low level
      {"5", "5.25", "5", "5.500"},       // closer than the span: the low level moves away
      {"5", "5", "5", "5.500"},          // equal levels: only the low level moves
      {"5", "30", "5", "20.000"},        // low level past the lower limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.high) + " / " + c.low);
    Paste(kEditHighLevel, c.high);
    Paste(kEditLowLevel, c.low);
    vkr::ui::Click(Item(kEditDamping));
    vkr::ui::PumpUntilIdle();
    // The high level's rules see the low level as it stands after its own rules.
    Paste(kEditHighLevel, Text(kEditHighLevel));
    vkr::ui::Click(Item(kEditDamping));
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(Text(kEditHighLevel), c.shownHigh);
    EXPECT_EQ(Text(kEditLowLevel), c.shownLow);
  }
}

// The transmitter a user meets first (the default one): the rules keep a level within its sensor
// limits (0.3 m to 8.0 m from the flange, 0.1 m span at least), and a Hi Level typed and sent
// becomes the upper range the transmitter holds, the low level untouched.
TEST_F(CommandPage, OnTheDefaultTransmitterATypedHighLevelBecomesItsUpperRange) {
  device = std::make_shared<SimulatedDevice>();
  Open(true);
  EXPECT_EQ(Text(kEditLowLevel), "7.500");
  struct Case {
    const char* high;
    const char* shownHigh;
  } cases[] = {
      {"0.1", "0.300"},  // above the upper sensor limit: moved to it
      {"9", "7.400"},    // past the lower limit, then one span above the low level
      {"5", "5"},        // within the sensor: kept as typed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.high);
    Paste(kEditHighLevel, c.high);
    vkr::ui::Click(Item(kEditDamping));
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(Text(kEditHighLevel), c.shownHigh);
  }
  device->received.clear();
  Press(1042);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return device->config.upperRange == 5.0f; }, 10000))
      << device->config.upperRange;
  ASSERT_NE(LastRequest(35), nullptr);
  EXPECT_EQ(*LastRequest(35), Concat({{45}, Float(5.0f), Float(7.5f)}));
  EXPECT_EQ(device->config.lowerRange, 7.5f);
  EXPECT_EQ(Writes(35), 1);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Text(kEditHighLevel) == "5.000"; }, 10000));
}

// The digitize routine: the proposed distance, the question, the settings sent back with the
// digitize command and the distance, the ten-second pause on its clock (whatever second it starts
// at), the messages; a cancelled question, a short settings answer and a refused command each
// end it with the controls as they were; a distance that is no number is told before anything
// is asked.
TEST_F(CommandPage, DigitizeRunsOnceAndAlwaysRestoresItsControls) {
  Open(true);
  DWORD now = 50 * 1000 + 123;  // the second the old wait never left
  page_->SetDigitizeClock({[&] { return now; }, [&](DWORD ms) { now += ms; }});
  auto& messages = session_->Frame()->userMessages;
  // Runs the routine already opened, with the messages and requests cleared first.
  auto run = [&] {
    messages.clear();
    device->received.clear();
    vkr::ui::Click(Item(kButtonRunDigitize));
    vkr::ui::PumpUntilIdle();
  };
  auto restored = [&] {
    return IsWindowVisible(Item(kButtonDigitize)) && !IsWindowVisible(Item(kButtonRunDigitize)) &&
           !IsWindowVisible(Item(kEditDistance)) && IsWindowEnabled(Item(kButtonRunDigitize)) &&
           IsWindowEnabled(Item(kEditDistance));
  };

  SetDtm(1119, vkr::I4(0));
  vkr::ui::Click(Item(kButtonDigitize));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(IsWindowVisible(Item(kButtonRunDigitize)));
  EXPECT_EQ(Text(kEditDistance), "1.000") << "a reading of 0 proposes 1 m";
  EXPECT_EQ(Text(597), "meters") << "beside it the PV unit";
  Paste(kEditDistance, "7.25");

  // Cancelled: nothing is sent.
  session_->Frame()->userAnswers.push_back("buttonCancel");
  run();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(Writes(135) + Writes(136), 0);
  EXPECT_TRUE(restored());

  // Run.
  vkr::ui::Click(Item(kButtonDigitize));
  Paste(kEditDistance, "7.25");
  const DWORD start = now;
  run();
  ASSERT_NE(LastRequest(136), nullptr);
  EXPECT_EQ(*LastRequest(136), Concat({{3, 1, 1, 1, 5, 3}, Float(7.25f)}));
  EXPECT_GE(now - start, 10000u);
  EXPECT_LT(now - start, 10200u);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_NE(messages[0].find("Digitize: About to perfom Auto-Digitization routine. Continue?"), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("Auto-Digitize routine completed successfully"), std::string::npos) << messages[1];
  EXPECT_NE(messages[2].find("Loop may be returned to automatic control"), std::string::npos) << messages[2];
  EXPECT_TRUE(restored());

  // A distance that is no number, or none: nothing is asked and nothing goes out; the user is
  // told why and mends it where it is.
  vkr::ui::Click(Item(kButtonDigitize));
  for (const char* distance : {"far", ""}) {
    Paste(kEditDistance, distance);
    run();
    EXPECT_EQ(Writes(135) + Writes(136), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("The digitize distance must lie between 0.000 and 66.000 meters."), std::string::npos)
        << messages[0];
    EXPECT_TRUE(IsWindowVisible(Item(kEditDistance)));
  }
  Paste(kEditDistance, "7.25");

  // A settings answer too short to send back: nothing goes out, and the routine's failure is told
  // once; nothing says the loop may return to automatic control, as after a routine that ran.
  vkr::frame::CommandFault cut;
  cut.command = 135;
  cut.truncateTo = 3;
  device->InjectFault(cut);
  vkr::ui::Click(Item(kButtonDigitize));
  run();
  EXPECT_GE(Writes(135), 1);
  EXPECT_EQ(Writes(136), 0);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].find("Auto-Digitize routine failed: the device's answer was lost."), std::string::npos)
      << messages[1];
  EXPECT_TRUE(restored());

  // The transmitter refuses the command: told once with the refusal's meaning, the error first.
  vkr::frame::CommandFault refused;
  refused.command = 136;
  refused.commandResponse = vkr::frame::hart::kWriteProtected;
  device->InjectFault(refused);
  vkr::ui::Click(Item(kButtonDigitize));
  run();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].find("message messageStop"), std::string::npos) << messages[1];
  EXPECT_NE(messages[1].find("Auto-Digitize routine failed: the device refused it: 0x07 (in write protect mode)."),
            std::string::npos)
      << messages[1];
  EXPECT_TRUE(restored());
}

}  // namespace

// The HART identity and Values pages online to the simulated transmitter through the live DTM: the
// module's pages as the frame host shows them (identity, the command 6 write checked on the
// transmitter, refusal of bad addresses, faults on the frame's channel), and pages of the test
// program for their decoders on short and full answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/Quiet.h"
#include "include/ProgramIds.h"
#include "tests/support/device_ui_fixture.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/device/HartPP.h"
#include "ui/device/ValuesPP.h"

namespace {

using namespace vkr::dui;
using vkr::frame::Bytes;
using vkr::frame::FrameChannel;
using vkr::frame::SimulatedDevice;

std::string Text(HWND root, int id) { return vkr::ui::WindowText(vkr::test::FindItem(root, id)); }

Bytes BigEndian(float value) {
  Bytes bytes(4);
  vkr::frame::wire::PutFloat(&bytes, 0, value);
  return bytes;
}

std::vector<Bytes> Requests(const SimulatedDevice& device, std::uint8_t command) {
  std::vector<Bytes> requests;
  for (const auto& r : device.received)
    if (r.command == command) requests.push_back(r.request);
  return requests;
}

// An answer of the command as the DTM delivers it to the page.
template <class TPage>
HRESULT Deliver(TPage* page, LONG id, const Bytes& bytes) {
  vkr::Variant answer;
  EXPECT_EQ(vkr::dui::MakeByteArray(bytes, answer.Put()), S_OK);
  return page->SetControlValueById(id, answer);
}

FrameChannel::Fault WireFault(FrameChannel::FaultKind kind, std::uint8_t command, std::size_t keepBytes = 0) {
  FrameChannel::Fault fault;
  fault.kind = kind;
  fault.command = command;
  fault.keepBytes = keepBytes;
  return fault;
}

struct Shown {
  UINT id;
  const char* text;
};
void ExpectTexts(HWND root, std::initializer_list<Shown> texts) {
  for (const Shown& t : texts) EXPECT_EQ(Text(root, static_cast<int>(t.id)), t.text) << t.id;
}

// The page's title and help reference.
std::u16string PageTitle(IUnknown* object) {
  vkr::ComPtr<IPropertyPage> page;
  if (FAILED(object->QueryInterface(IPropertyPage::iid, page.PutVoid()))) return {};
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  if (FAILED(page->GetPageInfo(&info))) return {};
  std::u16string title = info.pszTitle ? info.pszTitle : u"";
  std::u16string help = info.pszHelpFile ? info.pszHelpFile : u"";
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
  return title + u"|" + help;
}

class HartValuesPage : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    device_->config.deviceId = {0x0A, 0xBC, 0xDE};
    device_->config.softwareRevision = 23;
    device_->config.configChangeCounter = 0x0102;
    device_->config.privateLabel = 0x43;
    StartSession();
  }
  FrameChannel* Channel() const { return session_->Channel(); }

  // Shows or hides the page as the frame does when the user leaves it and comes back.
  void Show(UINT command) {
    vkr::ComPtr<IPropertyPage> page;
    ASSERT_EQ(page_->Page()->QueryInterface(IPropertyPage::iid, page.PutVoid()), S_OK);
    ASSERT_EQ(page->Show(command), S_OK);
  }
  // The page shown again while every answer of the command has the fault; then without it.
  void ShowWithFault(FrameChannel::Fault fault) {
    Show(SW_HIDE);
    vkr::frame::WaitUntilQuiet();
    Channel()->alwaysFault = fault;
    Show(SW_SHOW);
    vkr::frame::WaitUntilQuiet();
  }
  void ShowWithoutFault() {
    Show(SW_HIDE);
    Channel()->alwaysFault = FrameChannel::Fault{};
    vkr::frame::WaitUntilQuiet();
    Show(SW_SHOW);
  }
  bool IdentityShown() { return Text(Window(), kHartDistributorEdit) == "0043"; }
};

// ---- The HART identity page ---------------------------------------------------------------------

// The identity from command 0 as the transmitter holds it, and the page's picture; then a new
// polling address and loop current mode (both different from the device's) sent: the transmitter
// holds exactly them, every command 6 it received carried them, and the page shows what it reads
// back.
TEST_F(HartValuesPage, HartShowsIdentityAndSendWritesCommand6) {
  device_->config.pollingAddress = 0;
  device_->config.loopCurrentMode = 1;
  Open(CLSID_HartPP);
  EXPECT_EQ(PageTitle(page_->Page()), u"HART|VornExampleDtm.chm::/HART.html#wp1102897");
  ASSERT_TRUE(WaitFor([&] { return IdentityShown(); })) << Text(Window(), kHartDistributorEdit);
  // The serial number 0x0ABCDE.
  ExpectTexts(Window(), {{kHartManufacturerEdit, "60"}, {kHartDeviceTypeEdit, "60E6"}, {kHartSerialEdit, "703710"},
                         {kHartPreamblesEdit, "5"}, {kHartRevisionEdit, "7"}, {kHartDeviceRevisionEdit, "1"},
                         {kHartSoftwareRevisionEdit, "2.3"}, {kHartHardwareRevisionEdit, "1"},
                         {kHartCounterEdit, "258"}});
  ASSERT_TRUE(WaitFor([&] { return Text(Window(), kHartLoopCurrentCombo) == "Enabled"; }));
  ExpectTexts(Window(), {{kHartPollingAddressEdit, "0"}, {kHartLoopCurrentText, "Enabled"}});
  const vkr::Variant counter = vkr::test::ui::ParameterValue(session_->Dtm(), kParConfigCounter);
  EXPECT_EQ(counter.vt, VT_UI2);
  EXPECT_EQ(counter.uiVal, 258);
  vkr::frame::WaitUntilQuiet();
  SetFocus(nullptr);
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(Window(), "hart_page");

  Type(kHartPollingAddressEdit, "5");
  ASSERT_TRUE(vkr::ui::SelectItem(vkr::test::FindItem(Window(), kHartLoopCurrentCombo), 0));
  vkr::ui::PumpUntilIdle();
  device_->received.clear();
  Press(kParButtonSend);
  ASSERT_TRUE(WaitFor([&] { return device_->config.pollingAddress == 5; }));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(device_->config.loopCurrentMode, 0);
  const std::vector<Bytes> writes = Requests(*device_, 6);
  ASSERT_FALSE(writes.empty());
  for (const Bytes& request : writes) EXPECT_EQ(request, (Bytes{5, 0}));
  // Read back with command 7 after the send.
  EXPECT_FALSE(Requests(*device_, 7).empty());
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartLoopCurrentText) == "Disabled"; }));
  ExpectTexts(Window(), {{kHartPollingAddressEdit, "5"}, {kHartLoopCurrentCombo, "Disabled"}});
}

// Shown while the DTM is offline the identity says that the device is not connected instead of
// "Loading..." for ever; when the DTM goes online again while the page is shown, the page reads
// the transmitter and shows it.
TEST_F(HartValuesPage, HartSaysNotConnectedOfflineAndReadsWhenOnline) {
  Open(CLSID_HartPP);
  ASSERT_TRUE(WaitFor([&] { return IdentityShown(); })) << Text(Window(), kHartDistributorEdit);
  ASSERT_EQ(vkr::test::ui::GoOffline(session_->Dtm()), S_OK);
  ASSERT_TRUE(WaitFor([&] { return vkr::test::ui::DtmState(session_->Dtm()) == dsCOMMUNICATIONSET; }, 20000));
  Show(SW_HIDE);
  Show(SW_SHOW);
  vkr::frame::WaitUntilQuiet();
  ExpectTexts(Window(), {{kHartManufacturerEdit, "Not connected"},
                         {kHartDistributorEdit, "Not connected"},
                         {kHartPollingAddressEdit, "Not connected"}});
  device_->config.privateLabel = 0x44;
  ASSERT_EQ(vkr::test::ui::GoOnline(session_->Dtm()), S_OK);
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartDistributorEdit) == "0044"; }, 20000))
      << Text(Window(), kHartDistributorEdit);
  EXPECT_EQ(Text(Window(), kHartManufacturerEdit), "60");
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartPollingAddressEdit) == "0"; })) << Text(Window(), kHartPollingAddressEdit);
}

// A polling address that is not a number, that no device takes, or that the DTM's limits refuse is
// refused on the page: marked, focused, kept as typed, and no command 6 reaches the transmitter.
TEST_F(HartValuesPage, HartRefusesBadPollingAddresses) {
  Open(CLSID_HartPP);
  ASSERT_TRUE(WaitFor([&] { return Text(Window(), kHartPollingAddressEdit) == "0"; }));
  for (const char* text : {"abc", "64", "300", "-1", "2.5", " ", "40"}) {
    SCOPED_TRACE(text);
    Type(kHartPollingAddressEdit, text);
    vkr::ui::PumpUntilIdle();
    device_->received.clear();
    Press(kParButtonSend);
    vkr::frame::WaitUntilQuiet();
    EXPECT_TRUE(Requests(*device_, 6).empty());
    EXPECT_EQ(GetFocus(), vkr::test::FindItem(Window(), kHartPollingAddressEdit));
    EXPECT_EQ(Text(Window(), kHartPollingAddressEdit), text);
  }
  EXPECT_EQ(device_->config.pollingAddress, 0);
  // The lamps of the two entries (the refused one red) lie clear of every label: the whole lamp
  // shows, not a sliver of it.
  HWND dialog = GetParent(vkr::test::FindItem(Window(), kHartPollingAddressEdit));
  std::vector<HWND> lamps, labels;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (!IsWindowVisible(child) || std::string(name) != "Static") continue;
    const bool lamp = (GetWindowLongA(child, GWL_STYLE) & 0x1F) == SS_ICON;
    if (lamp || !vkr::ui::WindowText(child).empty()) (lamp ? lamps : labels).push_back(child);
  }
  EXPECT_EQ(lamps.size(), 2u);
  for (HWND lamp : lamps) {
    RECT a{}, b{}, overlap{};
    GetWindowRect(lamp, &a);
    for (HWND label : labels) {
      GetWindowRect(label, &b);
      EXPECT_FALSE(IntersectRect(&overlap, &a, &b)) << vkr::ui::WindowText(label);
    }
  }
  // Corrected, the same page sends.
  Type(kHartPollingAddressEdit, "12");
  vkr::ui::PumpUntilIdle();
  Press(kParButtonSend);
  EXPECT_TRUE(WaitFor([&] { return device_->config.pollingAddress == 12; }));
}

// Faults on the frame's channel while the page reads: no answer, busy and short data. The page
// shows only what arrived (the rest says "Not read"), never reads past it, and works again on
// the next showing.
TEST_F(HartValuesPage, HartKeepsWorkingThroughChannelFaults) {
  Open(CLSID_HartPP);
  ASSERT_TRUE(WaitFor([&] { return IdentityShown(); }));
  vkr::frame::WaitUntilQuiet();

  for (FrameChannel::FaultKind kind : {FrameChannel::FaultKind::NoAnswer, FrameChannel::FaultKind::Busy}) {
    ShowWithFault(WireFault(kind, 0));
    // No answer comes (the unanswered one in the DTM's time): the fields say so instead of waiting.
    EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartDistributorEdit) == "Not read"; }, 10000));
    ExpectTexts(Window(), {{kHartManufacturerEdit, "Not read"}, {kHartDistributorEdit, "Not read"}});
    ShowWithoutFault();
    ASSERT_TRUE(WaitFor([&] { return IdentityShown(); }, 20000)) << "works again after the fault";
  }

  // Twelve data bytes: at most the identity up to the serial number, never the counter nor the
  // distributor.
  ShowWithFault(WireFault(FrameChannel::FaultKind::TruncatedData, 0, 12));
  for (UINT id : {kHartManufacturerEdit, kHartSerialEdit, kHartSoftwareRevisionEdit}) {
    const std::string text = Text(Window(), static_cast<int>(id));
    EXPECT_TRUE(text == "Not read" || text == "60" || text == std::to_string(0x0ABCDE) || text == "2.3") << text;
  }
  ExpectTexts(Window(), {{kHartCounterEdit, "Not read"}, {kHartDistributorEdit, "Not read"}});
  ShowWithoutFault();
  ASSERT_TRUE(WaitFor([&] { return IdentityShown(); }, 20000));

  // Command 7 answered with one byte: the settings are not read (the mode shown before is no
  // answer to this read, and an address alone is no pair to send); the next refresh reads both
  // again.
  device_->config.pollingAddress = 9;
  vkr::frame::CommandFault shortSeven;
  shortSeven.command = 7;
  shortSeven.truncateTo = 1;
  device_->InjectFault(shortSeven);
  Press(kParButtonRefresh);
  vkr::frame::WaitUntilQuiet();
  ExpectTexts(Window(), {{kHartLoopCurrentCombo, "Not read"}, {kHartPollingAddressEdit, "Not read"}});
  device_->config.loopCurrentMode = 0;
  Press(kParButtonRefresh);
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartLoopCurrentCombo) == "Disabled"; }));
  EXPECT_EQ(Text(Window(), kHartPollingAddressEdit), "9");
}

// The decoders on short and full answers, as the DTM delivers them to the page.
TEST_F(HartValuesPage, HartDecodesShortAndFullAnswers) {
  Open<CHartPP>(CLSID_HartPP);
  CHartPP* page = Object<CHartPP>();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(WaitFor([&] { return IdentityShown(); }));
  vkr::frame::WaitUntilQuiet();
  HWND dialog = GetParent(vkr::test::FindItem(Window(), kHartSerialEdit));
  for (UINT id : {kHartManufacturerEdit, kHartDeviceTypeEdit, kHartSerialEdit, kHartPreamblesEdit, kHartRevisionEdit,
                  kHartDeviceRevisionEdit, kHartSoftwareRevisionEdit, kHartHardwareRevisionEdit, kHartCounterEdit,
                  kHartDistributorEdit})
    SetDlgItemTextA(dialog, static_cast<int>(id), "-");

  // One byte is the expansion code alone; two bring the manufacturer.
  EXPECT_EQ(Deliver(page, kParCommand0Complete, {254}), S_OK);
  EXPECT_EQ(Text(Window(), kHartManufacturerEdit), "-");
  EXPECT_EQ(Deliver(page, kParCommand0Complete, {254, 0x12}), S_OK);
  ExpectTexts(Window(), {{kHartManufacturerEdit, "12"}, {kHartDeviceTypeEdit, "-"}});
  // Twelve bytes: everything up to the serial number.
  EXPECT_EQ(Deliver(page, kParCommand0Complete, {254, 0x12, 0x34, 5, 7, 2, 23, 0x29, 0, 0x01, 0x02, 0x03}), S_OK);
  // The serial number 0x010203.
  ExpectTexts(Window(), {{kHartDeviceTypeEdit, "1234"}, {kHartPreamblesEdit, "5"}, {kHartRevisionEdit, "7"},
                         {kHartDeviceRevisionEdit, "2"}, {kHartSoftwareRevisionEdit, "2.3"},
                         {kHartHardwareRevisionEdit, "5"}, {kHartSerialEdit, "66051"}, {kHartCounterEdit, "-"},
                         {kHartDistributorEdit, "-"}});
  // Twenty bytes: the counter (also into 1112), one byte short of the distributor.
  Bytes twenty{254, 0x12, 0x34, 5, 7, 2, 23, 0x29, 0, 1, 2, 3, 5, 4, 0xFF, 0xFE, 0, 0, 0x60, 0xAB};
  EXPECT_EQ(Deliver(page, kParCommand0Complete, twenty), S_OK);
  EXPECT_EQ(Text(Window(), kHartCounterEdit), "65534");
  EXPECT_TRUE(WaitFor([&] { return vkr::test::ui::ParameterValue(session_->Dtm(), kParConfigCounter).uiVal == 65534; }));
  EXPECT_EQ(Text(Window(), kHartDistributorEdit), "-");
  twenty.push_back(0xCD);
  EXPECT_EQ(Deliver(page, kParCommand0Complete, twenty), S_OK);
  EXPECT_EQ(Text(Window(), kHartDistributorEdit), "ABCD");

  // Command 7: a loop current byte other than 0 and 1 empties the hidden text and leaves the
  // combo; not a byte array: ignored.
  ASSERT_TRUE(WaitFor([&] { return Text(Window(), kHartLoopCurrentCombo) == "Enabled"; }));
  EXPECT_EQ(Deliver(page, kParCommand6Complete, {7, 2}), S_OK);
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kHartPollingAddressEdit) == "7"; }));
  vkr::frame::WaitUntilQuiet();
  ExpectTexts(Window(), {{kHartLoopCurrentText, ""}, {kHartLoopCurrentCombo, "Enabled"}});
  EXPECT_EQ(page->SetControlValueById(kParCommand0Complete, vkr::I4(3)), S_OK);
  EXPECT_EQ(Text(Window(), kHartDistributorEdit), "ABCD");
}

// Focusing a control of the page makes the frame's "Close" button the default, "Help" not.
TEST(HartPage, FocusMakesCloseTheDefaultButton) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    HWND frame = CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    HWND help = CreateWindowExA(0, "BUTTON", "Help", WS_CHILD | BS_DEFPUSHBUTTON, 0, 0, 50, 14, frame, nullptr, nullptr, nullptr);
    HWND close = CreateWindowExA(0, "BUTTON", "Close", WS_CHILD | BS_PUSHBUTTON, 60, 0, 50, 14, frame, nullptr, nullptr, nullptr);
    HWND area = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 20, 300, 200, frame, nullptr, nullptr, nullptr);
    HWND dialog = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 300, 200, area, nullptr, nullptr, nullptr);
    vkr::ComPtr<vkr::ComObject<CHartPP>> page;
    ASSERT_EQ(vkr::MakeObject<CHartPP>(&page), S_OK);
    page->AttachDialogWindow(dialog);
    EXPECT_EQ(page->OnControlSetFocus(EN_SETFOCUS, kHartPollingAddressEdit, nullptr), S_OK);
    EXPECT_TRUE(GetWindowLongA(close, GWL_STYLE) & BS_DEFPUSHBUTTON);
    EXPECT_FALSE(GetWindowLongA(help, GWL_STYLE) & BS_DEFPUSHBUTTON);
    page->AttachDialogWindow(nullptr);
    DestroyWindow(frame);
  }
  CoUninitialize();
}

// A failing identity read when the page first comes up leaves it reading its settings (none of
// its fields waits for a read nobody made) and hearing the frame: the frame's Refresh still reads
// command 7 and fills the polling address.
TEST(HartPageOnFakeDtm, AFailedIdentityReadLeavesTheShownPageHearingTheFrame) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    DWORD cookie = 0;
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CHartPP>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CHartPP>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_HartPP, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    auto fake = vkr::test::dui::FakeDeviceDtm::Create();
    struct Row {
      ULONG id;
      VARTYPE vt;
      bool device;
    };
    for (const Row& row : {Row{kParCommand6Complete, VT_ARRAY | VT_UI1, true}, Row{kParPollingAddressWrite, VT_UI1, true},
                           Row{kParLoopCurrentWrite, VT_UI1, true}, Row{kParPollingAddress, VT_UI1, false},
                           Row{kParLoopCurrentMode, VT_UI1, false}, Row{kParConfigCounter, VT_UI2, false}}) {
      vkr::test::ui::FakeParameter p;
      p.id = row.id;
      p.vt = row.vt;
      if (row.vt == (VT_ARRAY | VT_UI1)) {
        p.value = vkr::test::ui::ByteArray({});
      } else {
        p.value.vt = row.vt;
      }
      p.deviceValue = p.value;
      p.defaultValue = p.value;
      p.addressed = row.device ? 1 : 0;
      fake->AddParameter(std::move(p));
    }
    fake->SetState(dsONLINE);
    ASSERT_EQ(fake->SetResponse(kParCommand6Complete, {4, 0}), S_OK);
    fake->FailCall("ReadDeviceParameter", E_FAIL, 1);
    {
      vkr::test::dui::DevicePageHarness harness(CLSID_HartPP, static_cast<IovFdtBaseDTM*>(fake.Get()));
      fake->Deliver();
      EXPECT_GE(fake->CountOf("ReadDeviceParameter", kParCommand6Complete), 1u);
      EXPECT_EQ(harness.Text(kHartPollingAddressEdit), "4");
      ASSERT_EQ(fake->SetResponse(kParCommand6Complete, {5, 0}), S_OK);
      fake->ClearCalls();
      VARIANT one = vkr::EmptyVariant();
      one.vt = VT_UI1;
      one.bVal = 1;
      ASSERT_EQ(fake->SetParameterValue(vkr::UI4(kParButtonRefresh), one), S_OK);
      fake->Deliver();
      EXPECT_GE(fake->CountOf("ReadDeviceParameter", kParCommand6Complete), 1u);
      EXPECT_EQ(harness.Text(kHartPollingAddressEdit), "5");
      EXPECT_EQ(harness.Text(kHartLoopCurrentText), "Disabled");
      harness.Close();
    }
    CoRevokeClassObject(cookie);
  }
  CoUninitialize();
}

// ---- The Values page ----------------------------------------------------------------------------

// Shown, the page reads command 3 at once and then cyclically at the registry's period (never
// below 50 ms), with the units' texts; hidden, it shows "Loading..." and the reading stops; and it
// decodes short and full answers.
TEST_F(HartValuesPage, ValuesFollowTheDeviceWhileShownAndDecodeAnswers) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kValuesSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD twenty = 20;
  ASSERT_EQ(RegSetValueExA(key, kValuesPeriodValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&twenty), sizeof twenty),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(ValuesRefreshPeriod(), 50u);

  Open<CValuesPP>(CLSID_ValuesPP);
  CValuesPP* page = Object<CValuesPP>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->RefreshPeriod(), 50u);
  ASSERT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[0]) == "2.500"; }));
  char current[32];
  std::snprintf(current, sizeof current, "%.3f", static_cast<double>(device_->LoopCurrent()));
  ExpectTexts(Window(), {{kValuesValueEdits[1], "3.500"}, {kValuesValueEdits[2], "21.000"},
                         {kValuesValueEdits[3], "41.700"}, {kValuesUnitTexts[0], "Metres (m)"},
                         {kValuesUnitTexts[3], "Percent (%)"}, {kValuesCurrentEdit, current}});
  // The values follow the device.
  device_->config.pv = 4.25f;
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[0]) == "4.250"; }));

  Show(SW_HIDE);
  EXPECT_EQ(page->RefreshPeriod(), 0u);
  ExpectTexts(Window(), {{kValuesCurrentEdit, "Loading..."}, {kValuesValueEdits[3], "Loading..."}});
  vkr::frame::WaitUntilQuiet();
  device_->received.clear();
  vkr::frame::WaitUntilQuiet();
  EXPECT_TRUE(Requests(*device_, 3).empty()) << "no reading while hidden";

  // The decoder on short and full answers (hidden: no cyclic answers in between); a unit comes only
  // with its value.
  EXPECT_EQ(Deliver(page, kParCommand3Complete, {0x40, 0xA0, 0x00}), S_OK);
  EXPECT_EQ(Text(Window(), kValuesCurrentEdit), "Loading...");
  EXPECT_EQ(Deliver(page, kParCommand3Complete, {0x40, 0xA0, 0x00, 0x00}), S_OK);
  ExpectTexts(Window(), {{kValuesCurrentEdit, "5.000"}, {kValuesValueEdits[0], "Loading..."}});
  Bytes full = BigEndian(12.0f);
  for (std::uint8_t k = 0; k < 4; ++k) {
    full.push_back(k == 1 ? 44 : 45);
    const Bytes value = BigEndian(1.5f + k);
    full.insert(full.end(), value.begin(), value.end());
  }
  ASSERT_EQ(full.size(), 24u);
  EXPECT_EQ(Deliver(page, kParCommand3Complete, Bytes(full.begin(), full.begin() + 23)), S_OK);
  ExpectTexts(Window(), {{kValuesValueEdits[2], "3.500"},
                         {kValuesUnitTexts[3], "Percent (%)"},
                         {kValuesValueEdits[3], "Loading..."}});
  EXPECT_EQ(Deliver(page, kParCommand3Complete, full), S_OK);
  ExpectTexts(Window(),
              {{kValuesCurrentEdit, "12.000"}, {kValuesUnitTexts[1], "Feet (ft)"}, {kValuesValueEdits[3], "4.500"}});
  EXPECT_EQ(page->SetControlValueById(kParCommand3Complete, vkr::I4(1)), S_OK);
  EXPECT_EQ(Text(Window(), kValuesValueEdits[3]), "4.500");
}

// The page's picture; then faults on the frame's channel during the cyclic reading: the fields
// keep what they had, a short answer shows only what is wholly there, and the page goes on with
// the next answer.
TEST_F(HartValuesPage, ValuesKeepWorkingThroughChannelFaults) {
  Open(CLSID_ValuesPP);
  EXPECT_EQ(PageTitle(page_->Page()), u"Values|VornExampleDtm.chm");
  ASSERT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[3]) == "41.700"; }));
  vkr::frame::WaitUntilQuiet();
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(Window(), "values_page");
  ASSERT_EQ(Text(Window(), kValuesValueEdits[0]), "2.500");

  for (FrameChannel::FaultKind kind : {FrameChannel::FaultKind::NoAnswer, FrameChannel::FaultKind::Busy}) {
    ShowWithFault(WireFault(kind, 3));
    EXPECT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[0]) == "Not read"; }, 10000))
        << Text(Window(), kValuesValueEdits[0]);
    ShowWithoutFault();
    ASSERT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[0]) == "2.500"; }, 20000));
  }

  // Fourteen bytes: current, primary value with its unit, the secondary unit, no further value.
  device_->config.svUnit = 44;
  ShowWithFault(WireFault(FrameChannel::FaultKind::TruncatedData, 3, 14));
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kValuesUnitTexts[1]) == "Feet (ft)"; }));
  EXPECT_EQ(Text(Window(), kValuesValueEdits[0]), "2.500");
  // What was not in the answer is no new value: the field says it was not read or keeps the
  // device's last one.
  for (int k : {1, 2, 3}) {
    const std::string text = Text(Window(), static_cast<int>(kValuesValueEdits[k]));
    EXPECT_TRUE(text == "Not read" || text == "Loading..." ||
                text == (k == 1   ? "3.500"
                         : k == 2 ? "21.000"
                                  : "41.700"))
        << k << text;
  }
  ShowWithoutFault();
  EXPECT_TRUE(WaitFor([&] { return Text(Window(), kValuesValueEdits[3]) == "41.700"; }, 20000));
}

}  // namespace

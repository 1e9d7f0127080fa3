// State display of the user-interface base on the test dialog: the state word on the controls, the
// status icons beside them, refreshes from the fake DTM, and editing granted and withdrawn as the
// real DTM tells its open user interfaces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "frame/controls/OutsideControls.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_user_interface.h"

namespace {

namespace t = vkr::test;
using t::CTestUserInterface;
using t::TestUserInterfaceHost;

// The base's status icons, in their order (664, 667, 671, 673, 669).
struct IconAccess : CTestUserInterface {
  static HICON Icon(CovFDT_BaseActiveXImpl& ui, size_t index) { return (ui.*(&IconAccess::m_ahStatusIcons))[index]; }
};

bool Visible(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }
bool ReadOnly(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & ES_READONLY) != 0; }

class StateTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(EUiFamily::Page); }
  void TearDown() override {
    host_.reset();
    dtm_->DetachAll();
  }
  void Open(EUiFamily family) {
    host_.reset();
    dtm_ = t::ui::FakeUiDtm::Create();
    host_ = std::make_unique<TestUserInterfaceHost>(family);
    ASSERT_EQ(host_->Open(dtm_->GetControllingUnknown()), S_OK);
    dtm_->Deliver();
  }
  CTestUserInterface* Ui() { return host_->Ui(); }
  CActXParInfo& Entry(LONG index) { return Ui()->Entry(index); }
  HWND Control(LONG index) { return host_->Item(Entry(index).m_nCtrlId); }
  HICON Icon(size_t index) { return IconAccess::Icon(*Ui(), index); }
  HICON Shown(LONG index) {
    return reinterpret_cast<HICON>(SendMessageW(Entry(index).m_hWndIndicator, STM_GETIMAGE, IMAGE_ICON, 0));
  }

  vkr::ComPtr<vkr::ComObject<t::ui::FakeUiDtm>> dtm_;
  std::unique_ptr<TestUserInterfaceHost> host_;
};

// Hidden hides the control and its companions; not usable disables a control but only makes an
// edit read-only; the mask guards bits; an entry without a control keeps its state only; every
// entry of an id takes it.
TEST_F(StateTest, TheStateWordShowsOnTheControlAndItsCompanions) {
  struct Case {
    LONG entry;
    ULONG mask, state, stored;
    bool shown, enabled, readOnly;
  } const cases[] = {
      {t::kEntryDamping, ~0u, 0x1, 0x1, true, true, false}, {t::kEntryDamping, ~0u, 0x0, 0x0, true, true, true},
      {t::kEntryDamping, ~0u, 0x9, 0x9, false, true, false}, {t::kEntryPvUnit, ~0u, 0x0, 0x0, true, false, false},
      {t::kEntryDeviceStatus, ~0u, 0x80, 0x80, true, false, false}, {t::kEntryAddressing, ~0u, 0x8, 0x8, false, false, false},
      {t::kEntryTag, ~0u, 0x1, 0x1, true, true, false},     {t::kEntryTag, 0x0, 0x8, 0x1, true, true, false},
      {t::kEntryTag, 0x8, 0x8, 0x9, false, true, false},    {t::kEntryTag, 0x8, 0x0, 0x1, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.entry) + " state " + std::to_string(c.state));
    Entry(c.entry).m_nStateMask = c.mask;
    ASSERT_EQ(Ui()->SetControlState(c.entry, c.state), S_OK);
    EXPECT_EQ(Entry(c.entry).m_nState, c.stored);
    EXPECT_EQ(std::vector<bool>({Visible(Control(c.entry)), IsWindowEnabled(Control(c.entry)) != FALSE,
                                 ReadOnly(Control(c.entry)), Visible(Entry(c.entry).m_hWndIndicator)}),
              std::vector<bool>({c.shown, c.enabled, c.readOnly, c.shown}));
    if (c.entry == t::kEntryDamping) {
      for (UINT companion : {t::kTestDampingLabel, t::kTestDampingUnit}) EXPECT_EQ(Visible(host_->Item(companion)), c.shown);
    }
  }
  EXPECT_EQ(Ui()->SetControlState(t::kEntryActivateSend, 0x8), S_OK);
  EXPECT_EQ(Entry(t::kEntryActivateSend).m_nState, 0x8u);
  EXPECT_EQ(Ui()->SetControlState(t::kTestEntryCount, 0x1), E_INVALIDARG);
  EXPECT_EQ(Ui()->SetControlStateById(t::kTestPvUnitId, 0x9), S_OK);
  for (LONG e : {t::kEntryPvUnit, t::kEntryPvUnitText}) EXPECT_FALSE(Visible(Control(e))) << e;
}

// Icons: 1 no value from the device, 2 changed, 3 a status request while online, 4 rejected; a
// later rule wins; the device-bound ones count only where the dialog shows device values.
TEST_F(StateTest, StatusIconsFollowTheStateAndWhereTheValueLives) {
  for (size_t i = 0; i < 5; ++i) ASSERT_NE(Icon(i), nullptr) << i;
  const LONG device = t::kEntryDamping, dataSet = t::kEntryShortAddress;
  struct Case {
    LONG entry;
    ULONG dialogType, dtmState, options, state;
    size_t icon;
  } const cases[] = {
      {device, 4, 8, 0, 0x1, 0},      {device, 4, 8, 0, 0x401, 1},     {device, 2, 8, 0, 0x401, 0},
      {device, 1, 8, 0x200, 0x401, 1}, {device, 1, 8, 0, 0x401, 0},     {dataSet, 4, 8, 0, 0x401, 0},
      {device, 2, 8, 0, 0x3, 2},      {device, 4, 8, 0, 0x403, 2},     {device, 4, 12, 0, 0x801, 3},
      {device, 4, 8, 0, 0x801, 0},    {device, 4, 12, 0, 0xC07, 4},    {dataSet, 2, 8, 0, 0x5, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.entry) + " state " + std::to_string(c.state));
    Ui()->m_nDialogType = c.dialogType;
    Ui()->m_nDtmState = c.dtmState;
    Entry(c.entry).m_nCtrlKind = c.options;
    ASSERT_EQ(Ui()->SetStatusIndicator(c.entry, c.state, ~c.state, FALSE), S_OK);
    EXPECT_EQ(Shown(c.entry), Icon(c.icon));
  }
  // Unchanged changes nothing unless forced; SetControlState passes its change on.
  ASSERT_EQ(Ui()->SetControlState(t::kEntryTag, 0x5), S_OK);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x1, 0x1, FALSE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(4));
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x1, 0x1, TRUE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(0));
  // Only the device question needs the parameter information.
  dtm_->Withdraw(IovFdtParameterInfo::iid);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x401, 0x1, FALSE), E_POINTER);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x3, 0x1, FALSE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(2));
}

// Every indicator of the test dialog shows whole: no other control of the dialog covers any part
// of it.
TEST_F(StateTest, NoControlCoversAnIndicator) {
  ASSERT_EQ(Ui()->CreateStatusIndicators(TRUE), S_OK);
  if (const char* path = std::getenv("VKR_TEST_UI_PICTURE")) vkr::ui::RenderWindowToPng(host_->Window(), path);
  for (LONG e = 0; e < t::kTestEntryCount; ++e) {
    HWND indicator = Entry(e).m_hWndIndicator;
    if (!Entry(e).m_bIndicator || !Entry(e).m_nCtrlId) continue;
    ASSERT_NE(indicator, nullptr) << "entry " << e;
    RECT icon{};
    GetWindowRect(indicator, &icon);
    for (HWND other = GetWindow(host_->Dialog(), GW_CHILD); other; other = GetWindow(other, GW_HWNDNEXT)) {
      if (other == indicator || !Visible(other)) continue;
      RECT rc{}, overlap{};
      GetWindowRect(other, &rc);
      EXPECT_FALSE(IntersectRect(&overlap, &icon, &rc))
          << "entry " << e << "'s indicator is under control " << GetDlgCtrlID(other) << " \""
          << vkr::ui::WindowText(other) << "\"";
    }
  }
}

// The indicators are made once, on the first show, beside their controls, with the entry's state
// already on them; a page shows its stored states again each time and tells the DTM.
TEST_F(StateTest, IndicatorsAreMadeOnceAndShowsReshowTheStates) {
  for (EUiFamily family : {EUiFamily::Control, EUiFamily::Page}) {
    Open(family);
    HWND dialog = host_->Dialog();
    ASSERT_EQ(Ui()->DestroyIndicatorWindows(), S_OK);
    Entry(t::kEntryDamping).m_nState = 0x3;
    Entry(t::kEntryTag).m_nState = 0x9;
    Ui()->m_bstrSystemTag = vkr::Bstr(u"page-7");
    dtm_->ClearCalls();
    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOW);
    for (LONG e = 0; e < t::kTestEntryCount; ++e) {
      const CActXParInfo& entry = Entry(e);
      if (!entry.m_bIndicator || !entry.m_nCtrlId) {
        EXPECT_EQ(entry.m_hWndIndicator, nullptr) << e;
        continue;
      }
      RECT control{}, indicator{};
      GetWindowRect(entry.m_hWndCtrl, &control);
      GetWindowRect(entry.m_hWndIndicator, &indicator);
      // Left of the control by a third of the System font's height (16), vertically centred.
      EXPECT_EQ(indicator.right, control.left - 16 / 3) << e;
      EXPECT_EQ(indicator.top - control.top, (control.bottom - control.top - 16) / 2) << e;
      EXPECT_EQ(Visible(entry.m_hWndIndicator), !(entry.m_nState & 0x8)) << e;
    }
    EXPECT_EQ(Shown(t::kEntryDamping), Icon(2));
    const HWND first = Entry(t::kEntryDamping).m_hWndIndicator;
    Entry(t::kEntryUpperRange).m_nState = 0x0;
    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOW);
    EXPECT_EQ(Entry(t::kEntryDamping).m_hWndIndicator, first);
    const bool page = family == EUiFamily::Page;
    EXPECT_EQ(ReadOnly(Control(t::kEntryUpperRange)), page);
    const auto messages = dtm_->CallsOf("DtmMessage", 3);
    ASSERT_EQ(messages.size(), page ? 4u : 0u);
    for (const auto& m : messages) EXPECT_EQ(m.argument.vt == VT_BSTR ? std::u16string(m.argument.bstrVal) : u"", u"page-7");
  }
}

// A hosted parameter-group display is told the state and shows it itself.
TEST_F(StateTest, AHostedDisplayControlIsToldTheState) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  AtlAxWinInit();
  HWND window = nullptr;
  vkr::ComPtr<IUnknown> display;
  ASSERT_EQ(vkr::atl::CreateHostedControl(host_->Dialog(), kProgIdParamGroupDisplay, 900, WS_CHILD | WS_VISIBLE, 0,
                                          RECT{10, 300, 110, 330}, {}, &window, display.Put()),
            S_OK);
  Entry(t::kEntryTag).m_nCtrlId = 900;
  EXPECT_EQ(Ui()->SetControlState(t::kEntryTag, 0x9), S_OK);
  EXPECT_EQ(vkr::frame::RecordedCalls(display.Get()),
            (std::vector<std::string>{"SetParameterState " + std::to_string(t::kTestTagId) + " 9"}));
  EXPECT_TRUE(Visible(window));
  DestroyWindow(window);
  display = nullptr;
  vkr::ui::PumpUntilIdle();
  vkr::frame::RevokeOutsideControls();
  CoUninitialize();
}

// A refresh shows the DTM's value with the marks of a user's edit gone; an online dialog leaves
// entries without the refresh option to the device's own refresh.
TEST_F(StateTest, RefreshShowsTheDtmsValueAndState) {
  Ui()->m_bAccessGranted = TRUE;  // no comparison: the marks below are the refresh's own
  Ui()->m_nDialogType = 2;
  vkr::Variant device, address;
  device.vt = VT_R4;
  device.fltVal = 2.5f;
  address.vt = VT_UI1;
  address.bVal = 7;
  ASSERT_EQ(dtm_->SetDeviceValue(t::kTestDampingId, device), S_OK);
  ASSERT_EQ(dtm_->SetParameterValue(vkr::UI4(t::kTestShortAddressId), address), S_OK);
  dtm_->Deliver();
  dtm_->Parameter(t::kTestDampingId)->flags |= 0x4;  // the DTM still holds a rejected value's mark
  Entry(t::kEntryDamping).m_nState = 0x7;
  Entry(t::kEntryShortAddress).m_nState = 0x3;
  ASSERT_EQ(Ui()->RefreshParameter(t::kTestDampingId), S_OK);
  ASSERT_EQ(Ui()->RefreshAllParameters(t::kTestShortAddressId), S_OK);
  EXPECT_EQ(host_->Text(t::kTestDampingEdit), "2.50");
  EXPECT_EQ(host_->Text(t::kTestShortAddressEdit), "7");
  EXPECT_EQ(Entry(t::kEntryDamping).m_nState & 0x6, 0u);
  EXPECT_EQ(Entry(t::kEntryShortAddress).m_nState & 0x2, 0u);

  Ui()->m_nDialogType = 1;
  SetDlgItemTextA(host_->Dialog(), static_cast<int>(t::kTestDampingEdit), "typed");
  Entry(t::kEntryDamping).m_nState = 0x3;
  EXPECT_EQ(Ui()->RefreshParameter(t::kTestDampingId), S_OK);
  EXPECT_EQ(Ui()->RefreshAllParameters(t::kTestDampingId), S_OK);
  EXPECT_EQ(host_->Text(t::kTestDampingEdit), "typed");
  EXPECT_EQ(Entry(t::kEntryDamping).m_nState, 0x3u);
  Entry(t::kEntryDamping).m_nCtrlKind = 0x200;
  EXPECT_EQ(Ui()->RefreshParameter(t::kTestDampingId), S_OK);
  EXPECT_EQ(host_->Text(t::kTestDampingEdit), "2.50");
}

// The real DTM behind an online dialog: going online and offline, the data-set lock and the user
// level reach the fields as the DTM tells its open user interfaces, and where a value lives (in the
// device or in the data set only) is the DTM's own answer.
TEST(StateWithRealDtm, TheDtmsStateLockAndUserLevelDecideWhatTheUserMayEdit) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    t::ScopedRegistry registry;
    vkr::ComPtr<vkr::ComObject<t::HeadlessDtm>> dtm;
    ASSERT_EQ(vkr::MakeObject<t::HeadlessDtm>(&dtm), S_OK);
    dtm->ForceState(dsCONFIGURED);
    dtm->SetUserLevel(8);
    IovFdtActiveXContainer& container = *dtm;
    IUnknown* unknown = static_cast<IovFdtParameterHandler4*>(dtm.Get());
    TestUserInterfaceHost host(EUiFamily::Control);
    CTestUserInterface& ui = *host.Ui();
    ui.SetDialogType(0x4);
    vkr::Bstr call;
    ASSERT_EQ(container.GetFunctionCallDocument(5, call.Put()), S_OK);
    ui.functionCall = call.Str();
    ASSERT_EQ(host.Open(unknown), S_OK);
    IovFdtActiveXManagement& management = *dtm;
    ASSERT_EQ(management.StartFunction(vkr::Bstr(u"ui-1"), static_cast<IovFdtActiveX4*>(&ui), 0), S_OK);

    vkr::ComPtr<IovFdtParameterInfo> info;
    ASSERT_EQ(unknown->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    auto inDevice = [&](LONG entry) {
      vkr::Variant answer;
      EXPECT_EQ(info->GetParameterField(vkr::UI4(static_cast<ULONG>(ui.Entry(entry).m_nParamId)), vkr::I4(1), answer.Put()), S_OK);
      return answer.vt == VT_UI4 && answer.ulVal == 1;
    };
    ASSERT_TRUE(inDevice(t::kEntryDamping));
    ASSERT_FALSE(inDevice(t::kEntryUpperRange));
    auto expectEditable = [&](const char* when, auto rule) {
      for (LONG e : {t::kEntryDamping, t::kEntryUpperRange, t::kEntryTag, t::kEntryShortAddress})
        EXPECT_EQ(!ReadOnly(host.Item(ui.Entry(e).m_nCtrlId)), rule(e)) << when << ", entry " << e;
    };
    auto broadcast = [&](ULONG id, const VARIANT& argument) { return container.BroadcastToActiveX(vkr::UI4(id), argument); };
    auto state = [&](EDtmState s) {
      dtm->ForceState(s);
      return container.NotifyStateChanged(s);
    };

    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("offline", [&](LONG e) { return !inDevice(e); });
    ASSERT_EQ(state(dsONLINE), S_OK);
    expectEditable("online", [](LONG) { return true; });
    ASSERT_EQ(state(dsCOMMUNICATIONSET), S_OK);
    expectEditable("offline again", [&](LONG e) { return !inDevice(e); });
    ASSERT_EQ(state(dsONLINE), S_OK);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(false)), S_OK);
    expectEditable("locked by another", [](LONG) { return false; });
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("released", [](LONG) { return true; });
    ASSERT_EQ(broadcast(9988, vkr::UI4(1)), S_OK);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(false)), S_OK);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("observer", [](LONG) { return false; });
    // An offline dialog grants editing of everything the data set holds.
    ASSERT_EQ(broadcast(9988, vkr::UI4(8)), S_OK);
    ui.SetDialogType(0x2);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("offline dialog", [](LONG) { return true; });
    EXPECT_EQ(management.FunctionFinished(vkr::Bstr(u"ui-1")), S_OK);
  }
  CoUninitialize();
}

}  // namespace

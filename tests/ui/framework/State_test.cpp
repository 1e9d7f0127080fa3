// State display of the user-interface base: the state word on the controls, the status icons
// beside them, editing granted and withdrawn by the access rights, and parameters refreshed from
// a DTM, on the test dialog over the fake DTM.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "frame/controls/OutsideControls.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_user_interface.h"

namespace {

using vkr::test::CTestUserInterface;
using vkr::test::TestUserInterfaceHost;
using vkr::test::ui::FakeUiDtm;
namespace t = vkr::test;

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
    if (dtm_) dtm_->DetachAll();
  }

  void Open(EUiFamily family) {
    host_.reset();
    dtm_ = FakeUiDtm::Create();
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

  vkr::ComPtr<vkr::ComObject<FakeUiDtm>> dtm_;
  std::unique_ptr<TestUserInterfaceHost> host_;
};

// Hidden hides the control and its companions; not usable disables a control, but only makes an
// edit read-only, so its text stays readable.
TEST_F(StateTest, TheStateWordShowsOnTheControlAndItsCompanions) {
  struct Case {
    LONG entry;
    ULONG state;
    bool shown, enabled, readOnly;
  } const cases[] = {
      {t::kEntryDamping, 0x1, true, true, false},       {t::kEntryDamping, 0x0, true, true, true},
      {t::kEntryDamping, 0x9, false, true, false},      {t::kEntryDamping, 0x71, true, true, false},
      {t::kEntryPvUnit, 0x0, true, false, false},       {t::kEntryPvUnit, 0x1, true, true, false},
      {t::kEntryDeviceStatus, 0x80, true, false, false}, {t::kEntryAddressing, 0x0, true, false, false},
      {t::kEntryPrimaryMaster, 0x1, true, true, false}, {t::kEntryAddressing, 0x8, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.entry) + " state " + std::to_string(c.state));
    ASSERT_EQ(Ui()->SetControlState(c.entry, c.state), S_OK);
    EXPECT_EQ(Entry(c.entry).m_nState, c.state);
    HWND control = Control(c.entry);
    EXPECT_EQ(Visible(control), c.shown);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, c.enabled);
    EXPECT_EQ(ReadOnly(control), c.readOnly);
    if (c.entry == t::kEntryDamping) {
      EXPECT_EQ(Visible(host_->Item(t::kTestDampingLabel)), c.shown);
      EXPECT_EQ(Visible(host_->Item(t::kTestDampingUnit)), c.shown);
      ASSERT_NE(Entry(c.entry).m_hWndIndicator, nullptr);
      EXPECT_EQ(Visible(Entry(c.entry).m_hWndIndicator), c.shown);
    }
  }
}

// The mask decides which bits a new state may change; an entry without a control keeps its state
// only; every entry of a parameter id takes the state.
TEST_F(StateTest, MaskCommandEntriesAndSharedIds) {
  ASSERT_EQ(Ui()->SetControlState(t::kEntryTag, 0x1), S_OK);
  Entry(t::kEntryTag).m_nStateMask = 0;
  EXPECT_EQ(Ui()->SetControlState(t::kEntryTag, 0x8), S_OK);
  EXPECT_EQ(Entry(t::kEntryTag).m_nState, 0x1u);
  EXPECT_TRUE(Visible(Control(t::kEntryTag)));

  Entry(t::kEntryTag).m_nStateMask = 0x8;
  EXPECT_EQ(Ui()->SetControlState(t::kEntryTag, 0x8), S_OK);
  EXPECT_EQ(Entry(t::kEntryTag).m_nState, 0x9u);
  EXPECT_FALSE(Visible(Control(t::kEntryTag)));
  EXPECT_EQ(Ui()->SetControlState(t::kEntryTag, 0x0), S_OK);
  EXPECT_EQ(Entry(t::kEntryTag).m_nState, 0x1u);  // usable stays: the mask guards it
  EXPECT_TRUE(Visible(Control(t::kEntryTag)));
  EXPECT_FALSE(ReadOnly(Control(t::kEntryTag)));

  EXPECT_EQ(Ui()->SetControlState(t::kEntryActivateSend, 0x8), S_OK);
  EXPECT_EQ(Entry(t::kEntryActivateSend).m_nState, 0x8u);
  EXPECT_EQ(Ui()->SetControlState(-1, 0x1), E_INVALIDARG);
  EXPECT_EQ(Ui()->SetControlState(t::kTestEntryCount, 0x1), E_INVALIDARG);

  EXPECT_EQ(Ui()->SetControlStateById(t::kTestPvUnitId, 0x9), S_OK);
  for (LONG e : {t::kEntryPvUnit, t::kEntryPvUnitText}) {
    EXPECT_EQ(Entry(e).m_nState, 0x9u) << e;
    EXPECT_FALSE(Visible(Control(e))) << e;
  }
  const ULONG before = Entry(t::kEntryDamping).m_nState;
  EXPECT_EQ(Ui()->SetControlStateById(-1, 0x0), S_OK);
  EXPECT_EQ(Ui()->SetControlStateById(4242, 0x0), S_OK);
  EXPECT_EQ(Entry(t::kEntryDamping).m_nState, before);
}

// A hosted parameter-group display shows the entry's state itself: it is told, and its window is
// left as it is.
TEST_F(StateTest, AHostedDisplayControlIsToldTheState) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  AtlAxWinInit();
  HWND window = nullptr;
  vkr::ComPtr<IUnknown> display;
  const RECT place{10, 300, 110, 330};
  ASSERT_EQ(vkr::atl::CreateHostedControl(host_->Dialog(), kProgIdParamGroupDisplay, 900, WS_CHILD | WS_VISIBLE, 0,
                                          place, {}, &window, display.Put()),
            S_OK);
  Entry(t::kEntryTag).m_nCtrlId = 900;
  EXPECT_EQ(Ui()->SetControlState(t::kEntryTag, 0x9), S_OK);
  EXPECT_EQ(Entry(t::kEntryTag).m_nState, 0x9u);
  EXPECT_EQ(vkr::frame::RecordedCalls(display.Get()),
            (std::vector<std::string>{"SetParameterState " + std::to_string(t::kTestTagId) + " 9"}));
  EXPECT_TRUE(Visible(window));
  DestroyWindow(window);
  display = nullptr;
  vkr::ui::PumpUntilIdle();
  vkr::frame::RevokeOutsideControls();
  CoUninitialize();
}

// Icons: 1 no value from the device, 2 changed, 3 a status request while online, 4 rejected; a
// later rule wins. The device-bound ones count only where the dialog shows device values.
TEST_F(StateTest, StatusIconsFollowTheStateAndWhereTheValueLives) {
  for (size_t i = 0; i < 5; ++i) ASSERT_NE(Icon(i), nullptr) << i;
  struct Case {
    LONG entry;
    ULONG dialogType, dtmState, options, state;
    size_t icon;
  } const cases[] = {
      {t::kEntryDamping, 4, 8, 0, 0x1, 0},          {t::kEntryDamping, 4, 8, 0, 0x401, 1},
      {t::kEntryDamping, 2, 8, 0, 0x401, 0},        {t::kEntryDamping, 1, 8, 0x200, 0x401, 1},
      {t::kEntryDamping, 1, 8, 0, 0x401, 0},        {t::kEntryShortAddress, 4, 8, 0, 0x401, 0},
      {t::kEntryDamping, 2, 8, 0, 0x3, 2},          {t::kEntryDamping, 4, 8, 0, 0x403, 2},
      {t::kEntryDamping, 4, 12, 0, 0x801, 3},       {t::kEntryDamping, 4, 8, 0, 0x801, 0},
      {t::kEntryDamping, 4, 12, 0, 0xC07, 4},       {t::kEntryShortAddress, 2, 8, 0, 0x5, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.entry) + " state " + std::to_string(c.state) + " dialog " +
                 std::to_string(c.dialogType));
    Ui()->m_nDialogType = c.dialogType;
    Ui()->m_nDtmState = c.dtmState;
    Entry(c.entry).m_nCtrlKind = c.options;
    ASSERT_EQ(Ui()->SetStatusIndicator(c.entry, c.state, ~c.state, FALSE), S_OK);
    EXPECT_EQ(Shown(c.entry), Icon(c.icon));
  }

  // An unchanged state changes nothing unless forced.
  Ui()->m_nDialogType = 2;
  ASSERT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x5, 0x1, FALSE), S_OK);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x1, 0x1, FALSE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(4));
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x1, 0x1, TRUE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(0));

  // A state change reaches the icon through SetControlState.
  ASSERT_EQ(Ui()->SetControlState(t::kEntryTag, 0x3), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(2));

  // The device question needs the parameter information; the other rules do not.
  dtm_->Withdraw(IovFdtParameterInfo::iid);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x401, 0x1, FALSE), E_POINTER);
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryTag, 0x3, 0x1, FALSE), S_OK);
  EXPECT_EQ(Shown(t::kEntryTag), Icon(2));
  // An entry without an indicator has nothing to show.
  EXPECT_EQ(Ui()->SetStatusIndicator(t::kEntryPvUnitText, 0x5, 0x1, TRUE), S_OK);
}

// The indicators are made on the first show, beside their controls, once; an entry's state at that
// moment is on them at once, and a hidden entry's indicator stays hidden.
TEST_F(StateTest, IndicatorWindowsAreMadeOnceBesideTheirControls) {
  Open(EUiFamily::Control);
  HWND dialog = host_->Dialog();
  ASSERT_EQ(Ui()->DestroyIndicatorWindows(), S_OK);
  EXPECT_EQ(Entry(t::kEntryDamping).m_hWndIndicator, nullptr);
  Entry(t::kEntryDamping).m_nState = 0x3;
  Entry(t::kEntryTag).m_nState = 0x9;
  ShowWindow(dialog, SW_HIDE);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_FALSE(Ui()->m_bIndicatorsPending);

  for (LONG e = 0; e < t::kTestEntryCount; ++e) {
    SCOPED_TRACE("entry " + std::to_string(e));
    const CActXParInfo& entry = Entry(e);
    EXPECT_EQ(entry.m_hWndCtrl, entry.m_nCtrlId ? host_->Item(entry.m_nCtrlId) : nullptr);
    if (!entry.m_bIndicator || !entry.m_nCtrlId) {
      EXPECT_EQ(entry.m_hWndIndicator, nullptr);
      continue;
    }
    ASSERT_TRUE(IsWindow(entry.m_hWndIndicator));
    EXPECT_EQ(GetParent(entry.m_hWndIndicator), dialog);
    RECT control{}, indicator{};
    GetWindowRect(entry.m_hWndCtrl, &control);
    GetWindowRect(entry.m_hWndIndicator, &indicator);
    // Left of the control by a third of the System font's height (16), vertically centred.
    EXPECT_EQ(indicator.right, control.left - 16 / 3);
    EXPECT_EQ(indicator.bottom - indicator.top, 16);
    EXPECT_EQ(indicator.top - control.top, (control.bottom - control.top - 16) / 2);
    EXPECT_EQ(Visible(entry.m_hWndIndicator), !(entry.m_nState & 0x8));
  }
  EXPECT_EQ(Shown(t::kEntryDamping), Icon(2));

  // Shown again: the same windows.
  const HWND first = Entry(t::kEntryDamping).m_hWndIndicator;
  ShowWindow(dialog, SW_HIDE);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_EQ(Entry(t::kEntryDamping).m_hWndIndicator, first);

  EXPECT_EQ(Ui()->DestroyIndicatorWindows(), S_OK);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(Entry(t::kEntryDamping).m_hWndIndicator, nullptr);
}

// A page shows its stored states each time it comes up and tells the DTM, under its instance
// text, that it was shown or hidden.
TEST_F(StateTest, APageShowsItsStoredStatesAndTellsTheDtm) {
  HWND dialog = host_->Dialog();
  Ui()->m_bstrSystemTag = vkr::Bstr(u"page-7");
  dtm_->ClearCalls();
  ShowWindow(dialog, SW_HIDE);
  EXPECT_TRUE(Ui()->m_bPageHidden);
  Entry(t::kEntryTag).m_nState = 0x9;
  Entry(t::kEntryDamping).m_nState = 0x0;
  ShowWindow(dialog, SW_SHOW);
  EXPECT_FALSE(Ui()->m_bPageHidden);
  EXPECT_FALSE(Visible(Control(t::kEntryTag)));
  EXPECT_TRUE(ReadOnly(Control(t::kEntryDamping)));

  const auto messages = dtm_->CallsOf("DtmMessage", 3);
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    ASSERT_EQ(m.argument.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(m.argument.bstrVal), u"page-7");
  }
}

// Who may edit: the dialog type, the data-set lock, the access mode and the user level decide,
// and for the per-parameter road whether the value lives in the device.
TEST_F(StateTest, OnlineAccessGrantsOrWithdrawsEditing) {
  struct Case {
    const char* what;
    ULONG dialogType;
    BOOL locked;
    LONG accessMode;
    BOOL observer;
    BOOL editable;
    ULONG before;           // both entries' state before
    ULONG device, dataSet;  // after: the device parameter's entry, the data-set parameter's entry
    BOOL granted;
  } const cases[] = {
      {"offline dialog, editable", 2, FALSE, 8, FALSE, TRUE, 0x80, 0x1, 0x1, TRUE},
      {"offline dialog, observer", 2, FALSE, 8, TRUE, TRUE, 0x1, 0x80, 0x80, FALSE},
      {"offline dialog, not editable", 2, FALSE, 8, FALSE, FALSE, 0x1, 0x80, 0x80, FALSE},
      {"offline dialog, data set locked", 2, TRUE, 8, FALSE, TRUE, 0x1, 0x80, 0x80, FALSE},
      {"online dialog, online", 4, FALSE, 9, FALSE, TRUE, 0x80, 0x1, 0x1, TRUE},
      {"online dialog, offline, locked entries", 4, FALSE, 8, FALSE, TRUE, 0x80, 0x80, 0x1, FALSE},
      {"online dialog, offline, usable entries", 4, FALSE, 8, FALSE, TRUE, 0x1, 0x80, 0x1, FALSE},
      {"online dialog, online, not editable", 4, FALSE, 9, FALSE, FALSE, 0x1, 0x80, 0x80, FALSE},
      {"reading dialog, observer, online", 1, FALSE, 9, TRUE, TRUE, 0x1, 0x80, 0x80, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ui()->m_nDialogType = c.dialogType;
    Ui()->m_bDataSetLocked = c.locked;
    Ui()->m_nAccessMode = c.accessMode;
    Ui()->m_bObserver = c.observer;
    Ui()->m_bAccessGranted = !c.granted;
    Ui()->SetControlState(t::kEntryDamping, c.before);
    Ui()->SetControlState(t::kEntryShortAddress, c.before);
    EXPECT_EQ(Ui()->ApplyOnlineAccess(c.editable), S_OK);
    EXPECT_EQ(Entry(t::kEntryDamping).m_nState, c.device);
    EXPECT_EQ(Entry(t::kEntryShortAddress).m_nState, c.dataSet);
    EXPECT_EQ(Ui()->m_bAccessGranted, c.granted);
    EXPECT_EQ(ReadOnly(Control(t::kEntryDamping)), (c.device & 0x1) == 0);
  }

  // Without the parameter information nothing changes.
  dtm_->Withdraw(IovFdtParameterInfo::iid);
  Ui()->m_nDialogType = 2;
  Ui()->m_bObserver = TRUE;
  Entry(t::kEntryDamping).m_nState = 0x1;
  EXPECT_EQ(Ui()->ApplyOnlineAccess(TRUE), S_OK);
  EXPECT_EQ(Entry(t::kEntryDamping).m_nState, 0x1u);
}

// A refresh shows the DTM's value and its state with the marks of a user's edit gone; an online
// dialog leaves entries without the refresh option to the device's own refresh.
TEST_F(StateTest, RefreshShowsTheDtmsValueAndState) {
  Ui()->m_bAccessGranted = TRUE;  // no comparison: the marks below are the refresh's own
  Ui()->m_nDialogType = 2;

  // The value last read from the device.
  vkr::Variant device;
  device.vt = VT_R4;
  device.fltVal = 2.5f;
  ASSERT_EQ(dtm_->SetDeviceValue(t::kTestDampingId, device), S_OK);
  Entry(t::kEntryDamping).m_nState = 0x7;
  ASSERT_EQ(Ui()->RefreshParameter(t::kTestDampingId), S_OK);
  EXPECT_EQ(host_->Text(t::kTestDampingEdit), "2.50");
  EXPECT_EQ(Entry(t::kEntryDamping).m_nState & 0x6, 0u);
  EXPECT_FALSE(ReadOnly(Control(t::kEntryDamping)));

  // The data set's value.
  vkr::Variant address;
  address.vt = VT_UI1;
  address.bVal = 7;
  ASSERT_EQ(dtm_->SetParameterValue(vkr::UI4(t::kTestShortAddressId), address), S_OK);
  dtm_->Deliver();
  Entry(t::kEntryShortAddress).m_nState = 0x3;
  ASSERT_EQ(Ui()->RefreshAllParameters(t::kTestShortAddressId), S_OK);
  EXPECT_EQ(host_->Text(t::kTestShortAddressEdit), "7");
  EXPECT_EQ(Entry(t::kEntryShortAddress).m_nState & 0x2, 0u);

  // An online dialog: device values of entries without the refresh options stay as they are.
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
// level reach the fields as the DTM tells its open user interfaces, and where a value lives (in
// the device or in the data set only) is the DTM's own answer.
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
    EXPECT_EQ(host.Text(t::kTestUpperRangeEdit), "0.500");
    IovFdtActiveXManagement& management = *dtm;
    ASSERT_EQ(management.StartFunction(vkr::Bstr(u"ui-1"), static_cast<IovFdtActiveX4*>(&ui), 0), S_OK);

    // Where each value lives, as the DTM tells it.
    vkr::ComPtr<IovFdtParameterInfo> info;
    ASSERT_EQ(unknown->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    auto inDevice = [&](LONG id) {
      vkr::Variant answer;
      EXPECT_EQ(info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(1), answer.Put()), S_OK);
      return answer.vt == VT_UI4 && answer.ulVal == 1;
    };
    ASSERT_TRUE(inDevice(t::kTestDampingId));
    ASSERT_FALSE(inDevice(t::kTestUpperRangeId));
    const LONG edits[] = {t::kEntryDamping, t::kEntryUpperRange, t::kEntryTag, t::kEntryShortAddress};
    auto editable = [&](LONG entry) {
      return !(GetWindowLongW(host.Item(ui.Entry(entry).m_nCtrlId), GWL_STYLE) & ES_READONLY);
    };
    auto expectEditable = [&](const char* when, auto rule) {
      for (LONG e : edits) EXPECT_EQ(editable(e), rule(e)) << when << ", entry " << e;
    };
    auto broadcast = [&](ULONG id, const VARIANT& argument) {
      return container.BroadcastToActiveX(vkr::UI4(id), argument);
    };

    // Offline, the data set free: what lives in the device waits for the device.
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("offline", [&](LONG e) { return !inDevice(ui.Entry(e).m_nParamId); });

    // Online: everything may be edited.
    dtm->ForceState(dsONLINE);
    ASSERT_EQ(container.NotifyStateChanged(dsONLINE), S_OK);
    expectEditable("online", [](LONG) { return true; });

    // Offline again: the device's values are withdrawn, the data set's stay.
    dtm->ForceState(dsCOMMUNICATIONSET);
    ASSERT_EQ(container.NotifyStateChanged(dsCOMMUNICATIONSET), S_OK);
    expectEditable("offline again", [&](LONG e) { return !inDevice(ui.Entry(e).m_nParamId); });

    // Online, but another user interface holds the data set: nothing may be edited; its release
    // grants editing again.
    dtm->ForceState(dsONLINE);
    ASSERT_EQ(container.NotifyStateChanged(dsONLINE), S_OK);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(false)), S_OK);
    expectEditable("locked", [](LONG) { return false; });
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("released", [](LONG) { return true; });

    // An observer never gets the granting road.
    ASSERT_EQ(broadcast(9988, vkr::UI4(1)), S_OK);
    ASSERT_EQ(broadcast(9993, vkr::BoolVariant(true)), S_OK);
    expectEditable("observer", [](LONG) { return false; });

    EXPECT_EQ(management.FunctionFinished(vkr::Bstr(u"ui-1")), S_OK);
  }
  CoUninitialize();
}

}  // namespace

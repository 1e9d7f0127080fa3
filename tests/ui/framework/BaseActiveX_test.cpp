// The user-interface base: its record and table, the command dispatcher of pages and controls,
// the information interface, the DTM state, the table walks the DTM's broadcasts start, errors
// and the shared message map; last, the base started by the real DTM's function container.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "parameters/CovVAPacker.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/source_tree.h"
#include "tests/support/temp_files.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/test_user_interface.h"

namespace {

using vkr::test::CTestUserInterface;
using vkr::test::TestUserInterfaceHost;
using vkr::test::ui::FakeUiDtm;

std::string Hex(ULONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

// The test user interface with the operations of the other areas recorded instead of run.
class RecordingUi : public CTestUserInterface {
 public:
  using CTestUserInterface::CTestUserInterface;
  std::vector<std::string> calls;
  std::set<LONG> failingReads;
  HRESULT stateResult = S_OK;
  ULONG infoFlags = 0;

  HRESULT ReadParameter(LONG index) override {
    calls.push_back("read " + std::to_string(index) + (m_bBusy ? " busy" : ""));
    return failingReads.count(index) ? E_FAIL : S_OK;
  }
  HRESULT SetControlStateById(LONG id, ULONG state) override {
    calls.push_back("state " + std::to_string(id) + " " + Hex(state));
    return stateResult;
  }
  HRESULT ApplyOnlineAccess(BOOL editable) override {
    calls.push_back("access " + std::to_string(editable));
    return S_OK;
  }
  HRESULT SetStatusIndicator(ULONG index, ULONG, ULONG, BOOL force) override {
    calls.push_back("indicator " + std::to_string(index) + (force ? " forced" : ""));
    return S_OK;
  }
  HRESULT RefreshParameter(LONG id) override {
    calls.push_back("refresh " + std::to_string(id));
    return S_OK;
  }
  HRESULT RefreshAllParameters(LONG id) override {
    calls.push_back("refresh all " + std::to_string(id));
    return S_OK;
  }
  HRESULT OnNotifyParameter(LONG id) override {
    calls.push_back("notify " + std::to_string(id));
    return S_OK;
  }
  HRESULT GetParameterInfoValue(LONG id, ULONG* flags) override {
    calls.push_back("info " + std::to_string(id));
    *flags = infoFlags;
    return S_OK;
  }
  HRESULT OnControlSetFocus(UINT code, UINT id, HWND control) override {
    calls.push_back("set focus " + std::to_string(id) + " " + Hex(code));
    return CTestUserInterface::OnControlSetFocus(code, id, control);
  }
  HRESULT OnControlKillFocus(UINT code, WPARAM wParam, LPARAM, BOOL*) override {
    calls.push_back("kill focus " + std::to_string(LOWORD(wParam)) + " " + Hex(code));
    return S_OK;
  }
  HRESULT OnControlChange(UINT code, UINT id, HWND) override {
    calls.push_back("change " + std::to_string(id) + " " + Hex(code));
    return S_OK;
  }
  std::vector<std::string> Take() { return std::exchange(calls, {}); }
};

vkr::ComPtr<vkr::ComObject<RecordingUi>> MakeRecordingUi(EUiFamily family = EUiFamily::Page,
                                                        ParameterMapFunction map = &CTestUserInterface::GetParameterMap) {
  vkr::ComPtr<vkr::ComObject<RecordingUi>> ui;
  EXPECT_EQ(vkr::MakeObject<RecordingUi>(&ui, family, map), S_OK);
  return ui;
}

vkr::Variant Text(const char16_t* text) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

// A table's view of a VARIANT that a named holder owns.
VARIANT View(const vkr::Variant& held) { return static_cast<const VARIANT&>(held); }

VARIANT R8(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

VARIANT Ui2(USHORT value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI2;
  v.uiVal = value;
  return v;
}

class BaseActiveX : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// ---- The record and the table --------------------------------------------------------------

TEST(CActXParInfoTest, TableCopyEndsWithDefaultEntryAndOwnsItsNames) {
  int count = -1;
  CActXParInfo* copy = CTestUserInterface::GetParameterMap(&count, TRUE);
  ASSERT_EQ(count, vkr::test::kTestEntryCount);
  const CActXParInfo& end = copy[count];
  EXPECT_EQ(end.m_nParamId, -1);
  EXPECT_EQ(end.m_pszName, nullptr);
  EXPECT_EQ(end.m_nState, 0x71u);
  EXPECT_EQ(end.m_nCtrlKind, 0x80000000u);
  EXPECT_EQ(end.m_nStateMask, 0xFFFFFFFFu);

  // An owned name and a text value survive the destruction of the record they were copied from.
  auto* owner = new CActXParInfo(copy[0]);
  owner->SetOwnedName("Level");
  owner->m_vValue.vt = VT_BSTR;
  owner->m_vValue.bstrVal = SysAllocString(u"m");
  CActXParInfo second(*owner);
  delete owner;
  EXPECT_STREQ(second.m_pszName, "Level");
  EXPECT_EQ(std::u16string(second.m_vValue.bstrVal), u"m");
  second = copy[1];  // an owned name given up for a static one
  EXPECT_EQ(second.m_pszName, copy[1].m_pszName);
  EXPECT_FALSE(second.m_bOwnsName);
  delete[] copy;
}

// ---- Commands ------------------------------------------------------------------------------

TEST_F(BaseActiveX, PageCommandsActOnTheirArgumentsAndRefuseWrongTypesWithoutChange) {
  const vkr::Variant notNumber = Text(u"abc"), languageText = Text(u"9984"), path = Text(u"C:\\VKR\\t.xml");
  const vkr::Variant pair = vkr::test::ui::PackParameterPair(1022, vkr::I4(15));
  vkr::Variant converted;
  const HRESULT conversionFailure = VariantChangeType(&converted, &notNumber, 0, VT_UI4);
  ASSERT_TRUE(FAILED(conversionFailure));

  struct Case {
    const char* what;
    VARIANT command;
    VARIANT argument;
    HRESULT expected;
    std::function<void(CTestUserInterface&)> check;
  };
  const Case cases[] = {
      {"language as a text command", View(languageText), vkr::I4(1031), S_OK,
       [](CTestUserInterface& ui) { EXPECT_EQ(ui.m_nLanguage, 1031u); }},
      {"language that is no number", vkr::UI4(9984), View(notNumber), conversionFailure,
       [](CTestUserInterface& ui) { EXPECT_EQ(ui.m_nLanguage, 1033u); }},
      {"user level as a double command", R8(9988.0), vkr::UI4(4), S_OK,
       [](CTestUserInterface& ui) {
         EXPECT_EQ(ui.m_nUserLevel, 4u);
         EXPECT_FALSE(ui.m_bObserver);
       }},
      {"observer", vkr::UI4(9988), vkr::UI4(1), S_OK, [](CTestUserInterface& ui) { EXPECT_TRUE(ui.m_bObserver); }},
      {"a command that is no number", View(notNumber), vkr::UI4(1), conversionFailure,
       [](CTestUserInterface& ui) { EXPECT_EQ(ui.m_nUserLevel, 1u); }},
      {"translation path of another type", vkr::UI4(9995), vkr::I4(5), S_FALSE,
       [](CTestUserInterface& ui) { EXPECT_EQ(ui.m_bstrTranslationPath.Get(), nullptr); }},
      {"translation path", vkr::UI4(9995), View(path), S_OK,
       [](CTestUserInterface& ui) { EXPECT_EQ(ui.m_bstrTranslationPath.Str(), u"C:\\VKR\\t.xml"); }},
      {"data set editable, not a boolean", vkr::UI4(9993), vkr::I4(0), E_INVALIDARG,
       [](CTestUserInterface& ui) { EXPECT_FALSE(ui.m_bDataSetLocked); }},
      {"data set locked", vkr::UI4(9993), vkr::BoolVariant(false), S_OK,
       [](CTestUserInterface& ui) { EXPECT_TRUE(ui.m_bDataSetLocked); }},
      {"private dialogs, not a boolean", vkr::UI4(9998), vkr::I4(1), E_INVALIDARG,
       [](CTestUserInterface& ui) { EXPECT_FALSE(ui.m_bDisplayOption); }},
      {"private dialogs", vkr::UI4(9998), vkr::BoolVariant(true), S_OK,
       [](CTestUserInterface& ui) { EXPECT_TRUE(ui.m_bDisplayOption); }},
      {"schema folder that is no text", vkr::UI4(9992), vkr::I4(7), E_INVALIDARG, nullptr},
      {"notify parameter, not VT_UI4", vkr::UI4(10010), vkr::I4(1022), E_INVALIDARG, nullptr},
      {"an id the base ignores", vkr::UI4(9986), vkr::EmptyVariant(), S_FALSE, nullptr},
      {"an id outside the commands", vkr::UI4(20000), vkr::EmptyVariant(), S_FALSE, nullptr},
      {"refresh of all without a DTM", vkr::UI4(9985), View(pair), E_FAIL,
       nullptr},
      {"upload ended without success", vkr::UI4(10012), vkr::BoolVariant(false), S_OK,
       [](CTestUserInterface& ui) { EXPECT_TRUE(ui.m_bDirty); }},
      {"download ended on an offline dialog", vkr::UI4(10013), vkr::BoolVariant(true), S_OK,
       [](CTestUserInterface& ui) { EXPECT_TRUE(ui.m_bDirty); }},
      {"upload ended", vkr::UI4(10012), vkr::BoolVariant(true), S_OK,
       [](CTestUserInterface& ui) { EXPECT_FALSE(ui.m_bDirty); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestUserInterfaceHost host;
    CTestUserInterface& ui = *host.Ui();
    ui.m_bDirty = TRUE;
    EXPECT_EQ(ui.ExecuteCommand(c.command, c.argument), c.expected);
    if (c.check) c.check(ui);
  }
}

TEST_F(BaseActiveX, APageTellsItsSiteOnlyWhenTheDirtyStateChanges) {
  TestUserInterfaceHost host;
  vkr::ComPtr<vkr::ComObject<vkr::test::RecordingPageSite>> site;
  ASSERT_EQ(vkr::MakeObject<vkr::test::RecordingPageSite>(&site), S_OK);
  host.Ui()->m_spPageSite = site.Get();
  host.Ui()->SetDirty(TRUE);
  host.Ui()->SetDirty(TRUE);
  host.Ui()->ExecuteCommand(vkr::UI4(10012), vkr::BoolVariant(true));
  host.Ui()->ExecuteCommand(vkr::UI4(10012), vkr::BoolVariant(true));
  EXPECT_EQ(site->statusChanges, (std::vector<DWORD>{PROPPAGESTATUS_DIRTY, PROPPAGESTATUS_CLEAN}));
  // Released by its frame: no site, and nothing to tell.
  host.Ui()->m_spPageSite = nullptr;
  EXPECT_EQ(host.Ui()->SetDirty(TRUE), S_OK);
}

TEST_F(BaseActiveX, AClosingUserInterfaceIgnoresEveryCommandButStillRefusesAnUnreadableOne) {
  TestUserInterfaceHost host;
  CTestUserInterface& ui = *host.Ui();
  ui.SetAccessMode(4);
  EXPECT_EQ(ui.ExecuteCommand(vkr::UI4(9984), vkr::I4(1031)), S_FALSE);
  EXPECT_EQ(ui.ExecuteCommand(vkr::UI4(30000), vkr::EmptyVariant()), S_FALSE);
  EXPECT_EQ(ui.m_nLanguage, 1033u);
  const vkr::Variant command = Text(u"abc");
  EXPECT_TRUE(FAILED(ui.ExecuteCommand(command, vkr::EmptyVariant())));
  // Going online does not bring a closing user interface back.
  ui.OnDtmStateChanged(12);
  EXPECT_EQ(ui.GetAccessMode(), 4);
  EXPECT_EQ(ui.ExecuteCommand(vkr::UI4(9984), vkr::I4(1031)), S_FALSE);
}

TEST_F(BaseActiveX, ControlCommandsReachTheStatusNotificationsTheyAreMeantFor) {
  struct Case {
    const char* what;
    ULONG command;
    VARIANT argument;
    ULONG dialogType;
    ULONG subscription;
    LONG accessMode;
    HRESULT expected;
    std::vector<std::pair<ULONG, ULONG>> statuses;
    std::vector<BOOL> applyButton;
  };
  const Case cases[] = {
      {"data-set state", 9999, Ui2(2), 2, 0, 8, S_OK, {{4, 2}}, {}},
      {"data-set state above 3", 9999, Ui2(5), 2, 0, 8, S_OK, {}, {}},
      {"data-set state of another type", 9999, vkr::I4(2), 2, 0, 8, E_INVALIDARG, {}, {}},
      {"lock notice true", 10000, vkr::BoolVariant(true), 2, 0, 8, S_OK, {{5, 1}}, {}},
      {"lock notice false", 10000, vkr::BoolVariant(false), 2, 0, 8, S_OK, {{5, 2}}, {}},
      {"status word, subscribed", 10001, Ui2(9), 2, 0x100, 8, S_OK, {{0x100, 9}}, {}},
      {"status word, not subscribed", 10001, Ui2(9), 2, 0, 8, S_OK, {}, {}},
      {"user level, subscribed", 9988, vkr::UI4(8), 2, 0x200, 8, S_OK, {{0x200, 8}}, {}},
      {"data set locked on an offline dialog", 9993, vkr::BoolVariant(false), 2, 0, 8, S_OK, {{6, 2}, {3, 2}}, {}},
      {"data set editable on a writing online dialog", 9993, vkr::BoolVariant(true), 4 | 8, 0, 8, S_OK,
       {{6, 1}, {3, 4}}, {}},
      {"data set editable, not a boolean", 9993, vkr::I4(1), 2, 0, 8, E_INVALIDARG, {}, {}},
      {"upload ended, true but not VARIANT_TRUE", 10012, vkr::BoolVariant(true), 2, 0, 8, S_OK, {}, {FALSE}},
      {"download ended on an offline dialog", 10013, vkr::BoolVariant(true), 2, 0, 8, S_OK, {}, {}},
      {"download ended on an online dialog", 10013, vkr::BoolVariant(true), 4, 0, 8, S_OK, {}, {FALSE}},
      {"closing: data-set state still handled", 9999, Ui2(1), 2, 0, 4, S_OK, {{4, 1}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestUserInterfaceHost host(EUiFamily::Control);
    CTestUserInterface& ui = *host.Ui();
    ui.m_nDialogType = c.dialogType;
    ui.m_nStatusSubscription = c.subscription;
    ui.SetAccessMode(c.accessMode);
    EXPECT_EQ(ui.ExecuteCommand(vkr::UI4(c.command), c.argument), c.expected);
    EXPECT_EQ(ui.statuses, c.statuses);
    EXPECT_EQ(ui.applyButtonChanges, c.applyButton);
  }
  // A VARIANT_BOOL of 1 is true to a page but not to a control's apply button.
  TestUserInterfaceHost host(EUiFamily::Control);
  VARIANT one;
  VariantInit(&one);
  one.vt = VT_BOOL;
  one.boolVal = 1;
  EXPECT_EQ(host.Ui()->ExecuteCommand(vkr::UI4(10012), one), S_OK);
  EXPECT_TRUE(host.Ui()->applyButtonChanges.empty());
}

// ---- Information ---------------------------------------------------------------------------

// A map whose count claims more entries than its table holds before the end entry.
CActXParInfo* OvercountedMap(int* count, BOOL) {
  static CActXParInfo table[] = {CActXParInfo(1022, "Damping Value", 300), CActXParInfo()};
  if (count) *count = 5;
  return CopyParameterTable(table, nullptr);
}

CActXParInfo* EmptyMap(int* count, BOOL copy) {
  static CActXParInfo end[1];
  if (!copy) {
    if (count) *count = 0;
    return end;
  }
  return CopyParameterTable(end, count);
}

TEST_F(BaseActiveX, InformationItemsListTheTableAndItsCyclicEntries) {
  TestUserInterfaceHost host;
  CTestUserInterface& ui = *host.Ui();
  vkr::Variant ids;
  ASSERT_EQ(ui.SetInfo(vkr::UI4(16), &ids), S_OK);
  ASSERT_EQ(ids.vt, VT_ARRAY | VT_UI4);
  std::vector<ULONG> listed(static_cast<size_t>(ids.parray->rgsabound[0].cElements));
  for (LONG i = 0; i < static_cast<LONG>(listed.size()); ++i) SafeArrayGetElement(ids.parray, &i, &listed[i]);
  std::vector<ULONG> expected;
  for (LONG i = 0; i < vkr::test::kTestEntryCount; ++i) expected.push_back(static_cast<ULONG>(ui.Entry(i).m_nParamId));
  EXPECT_EQ(listed, expected);

  // The item id may come as a text; the cyclic list is one record per entry with a rate.
  vkr::Variant packed;
  const vkr::Variant item = Text(u"32");
  ASSERT_EQ(ui.SetInfo(item, &packed), S_OK);
  std::vector<SParamUpdateInfo> updates;
  ASSERT_EQ(UnpackParamUpdateInfos(updates, packed), S_OK);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].nParameterId, static_cast<ULONG>(vkr::test::kTestCurrentValueId));
  EXPECT_EQ(updates[0].nUpdateRate, 1000u);
  // A hidden page wants nothing read cyclically.
  ui.m_bPageHidden = TRUE;
  ASSERT_EQ(ui.SetInfo(vkr::UI4(32), packed.Put()), S_OK);
  ASSERT_EQ(UnpackParamUpdateInfos(updates, packed), S_OK);
  EXPECT_TRUE(updates.empty());

  vkr::Variant none;
  EXPECT_EQ(ui.SetInfo(vkr::UI4(1), &none), S_FALSE);
  EXPECT_EQ(ui.SetInfo(vkr::UI4(77), &none), S_FALSE);
  EXPECT_EQ(ui.IsInfoSupported(vkr::UI4(16)), S_FALSE);

  // The schema source: a container without a folder fails, none at all is let go of.
  vkr::ComPtr<vkr::ComObject<vkr::test::FakeContainer>> silent;
  ASSERT_EQ(vkr::MakeObject<vkr::test::FakeContainer>(&silent), S_OK);
  EXPECT_EQ(ui.SetSchemaSource(static_cast<IFdtContainer*>(silent.Get())), E_NOTIMPL);
  EXPECT_EQ(ui.SetSchemaSource(nullptr), S_FALSE);
  EXPECT_EQ(ui.SetInfo(vkr::UI4(16), nullptr), E_POINTER);

  vkr::ComPtr<vkr::ComObject<CTestUserInterface>> empty;
  ASSERT_EQ(vkr::MakeObject<CTestUserInterface>(&empty, EUiFamily::Page, &EmptyMap), S_OK);
  ASSERT_EQ(empty->SetInfo(vkr::UI4(16), ids.Put()), S_OK);
  ASSERT_EQ(ids.vt, VT_ARRAY | VT_UI4);
  EXPECT_EQ(ids.parray->rgsabound[0].cElements, 0u);
  EXPECT_EQ(empty->FindParameterIndex(1022), -1);

  // The table ends at its end entry whatever count came with it.
  vkr::ComPtr<vkr::ComObject<CTestUserInterface>> overcounted;
  ASSERT_EQ(vkr::MakeObject<CTestUserInterface>(&overcounted, EUiFamily::Page, &OvercountedMap), S_OK);
  EXPECT_EQ(overcounted->ParameterCount(), 1u);
  ASSERT_EQ(overcounted->SetInfo(vkr::UI4(16), ids.Put()), S_OK);
  EXPECT_EQ(ids.parray->rgsabound[0].cElements, 1u);
}

// ---- The DTM's state ------------------------------------------------------------------------

TEST_F(BaseActiveX, DtmStatesSetTheAccessModeAndOnlineDialogsFollowTheCrossingOfOnline) {
  struct Step {
    ULONG state;
    LONG accessMode;
    BOOL online;
    std::vector<std::string> calls;
  };
  // An online-reading dialog: crossing the online state applies the access and re-shows the
  // indicators of the cyclic entry (index 11); a mode below 8 stays until online set it.
  const std::vector<Step> onlineDialog = {
      {9, 0, FALSE, {}},
      {12, 9, TRUE, {"access 1", "indicator 11 forced"}},
      {12, 9, TRUE, {}},
      {11, 8, FALSE, {"access 0", "indicator 11 forced"}},
      {9, 8, FALSE, {}},
  };
  auto ui = MakeRecordingUi();
  ui->m_nDialogType = 4;
  for (const Step& step : onlineDialog) {
    SCOPED_TRACE(step.state);
    EXPECT_EQ(ui->OnDtmStateChanged(step.state), S_OK);
    EXPECT_EQ(ui->GetAccessMode(), step.accessMode);
    EXPECT_EQ(ui->m_bOnline, step.online);
    EXPECT_EQ(ui->Take(), step.calls);
  }
  // An offline dialog keeps its access rights; only the indicators of cyclic entries change.
  auto offline = MakeRecordingUi();
  offline->OnDtmStateChanged(12);
  EXPECT_EQ(offline->Take(), (std::vector<std::string>{"indicator 11 forced"}));
  EXPECT_TRUE(offline->m_bOnline);

  // A control tells its status: the dialog type (kinds 6 and 3), the state (1), the cyclic reading (2).
  const struct {
    ULONG state;
    std::vector<std::pair<ULONG, ULONG>> statuses;
  } control[] = {
      {10, {{6, 2}, {3, 4}, {1, 1}, {2, 2}}},
      {12, {{6, 2}, {3, 4}, {1, 2}, {2, 1}}},
      {11, {{6, 2}, {3, 4}, {1, 3}, {2, 2}}},
      {8, {{6, 2}, {3, 4}, {1, 4}, {2, 2}}},
  };
  auto controlUi = MakeRecordingUi(EUiFamily::Control);
  controlUi->m_nDialogType = 4;
  for (const auto& c : control) {
    SCOPED_TRACE(c.state);
    controlUi->statuses.clear();
    EXPECT_EQ(controlUi->OnDtmStateChanged(c.state), S_OK);
    EXPECT_EQ(controlUi->statuses, c.statuses);
  }
}

// ---- Table walks started by the DTM ---------------------------------------------------------

TEST_F(BaseActiveX, ReadingAllEntriesMarksTheFailedOnesAndStopsWhenTheirStateCannotBeShown) {
  auto ui = MakeRecordingUi();
  EXPECT_EQ(ui->ReadAllParameters(), E_INVALIDARG);  // no DTM yet
  auto fake = FakeUiDtm::Create();
  ASSERT_EQ(fake->QueryInterface(IovFdtParameterHandler4::iid, ui->m_spDtm.PutVoid()), S_OK);

  ui->failingReads = {vkr::test::kEntryTag};
  ui->Entry(vkr::test::kEntryTag).m_nState = 0x71 | 0x2;
  ASSERT_EQ(ui->ReadAllParameters(), S_OK);
  std::vector<std::string> expected;
  for (LONG i = 0; i < vkr::test::kTestEntryCount; ++i) {
    expected.push_back("read " + std::to_string(i) + " busy");
    if (i == vkr::test::kEntryTag) expected.push_back("state 1054 0x7d");  // usable, invalid, hidden; not changed
  }
  EXPECT_EQ(ui->Take(), expected);
  EXPECT_FALSE(ui->m_bBusy);

  // A state that cannot be shown ends the walk with its failure, and the walk is over.
  ui->failingReads = {vkr::test::kEntryDamping, vkr::test::kEntryTag};
  ui->stateResult = E_UNEXPECTED;
  EXPECT_EQ(ui->ReadAllParameters(), E_UNEXPECTED);
  EXPECT_EQ(ui->Take(), (std::vector<std::string>{"read 0 busy", "state 1022 0x7d"}));
  EXPECT_FALSE(ui->m_bBusy);
  ui->m_spDtm = nullptr;
}

TEST_F(BaseActiveX, BroadcastsOfTheDtmRefreshOnlyWhatTheDialogTypeAsksFor) {
  using vkr::test::ui::PackParameterPair;
  const LONG level = vkr::test::kTestDampingId;       // a device parameter of the fake
  const LONG offset = vkr::test::kTestUpperRangeId;   // lives in the data set only
  struct Case {
    const char* what;
    ULONG dialogType;
    ULONG command;
    vkr::Variant argument;
    HRESULT expected;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"device value on an offline dialog", 2, 9997, PackParameterPair(level, vkr::I4(3)), S_OK, {}},
      {"device value on an online dialog", 1, 9997, PackParameterPair(level, vkr::I4(3)), S_OK,
       {"refresh " + std::to_string(level)}},
      {"device value of a parameter not shown", 4, 9997, PackParameterPair(4711, vkr::I4(3)), S_OK, {}},
      {"device value that is no pair", 4, 9997, vkr::Variant(vkr::I4(3)), E_UNEXPECTED, {}},
      {"data-set value of a device parameter, online reading dialog", 4, 9985, PackParameterPair(level, vkr::I4(3)),
       S_OK, {}},
      {"data-set value of a device parameter, offline dialog", 2, 9985, PackParameterPair(level, vkr::I4(3)), S_OK,
       {"refresh all " + std::to_string(level)}},
      {"data-set value of a data-set parameter, online reading dialog", 4, 9985,
       PackParameterPair(offset, vkr::I4(3)), S_OK, {"refresh all " + std::to_string(offset)}},
      {"device reached online, online reading dialog", 4, 10003, vkr::Variant(vkr::I4(67)), S_OK,
       {"read 0 busy", "read 1 busy"}},
      {"device reached online, offline dialog", 2, 10003, vkr::Variant(vkr::I4(67)), S_OK, {}},
      {"another DTM message", 4, 10003, vkr::Variant(vkr::I4(66)), S_OK, {}},
      {"flag word changed", 2, 9994, vkr::Variant(vkr::UI4(static_cast<ULONG>(level))), S_OK,
       {"info " + std::to_string(level), "state " + std::to_string(level) + " 0x93"}},
      {"language", 2, 9984, vkr::Variant(vkr::I4(1031)), S_OK, {}},
  };
  auto fake = FakeUiDtm::Create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto ui = MakeRecordingUi();
    ASSERT_EQ(fake->QueryInterface(IovFdtParameterHandler4::iid, ui->m_spDtm.PutVoid()), S_OK);
    ui->m_nDialogType = c.dialogType;
    ui->infoFlags = 0x91;
    ui->Entry(vkr::test::kEntryDamping).m_nState = 0x71 | 0x2;  // the user changed it
    ui->failingReads = {};
    EXPECT_EQ(ui->ExecuteCommand(vkr::UI4(c.command), c.argument), c.expected);
    std::vector<std::string> calls = ui->Take();
    if (c.command == 10003 && calls.size() > 2) calls.resize(2);  // every entry is read; two show it
    if (c.command == 9984) {
      // The language goes to every entry's parameter, in table order.
      ASSERT_EQ(calls.size(), static_cast<size_t>(vkr::test::kTestEntryCount));
      EXPECT_EQ(calls.front(), "notify " + std::to_string(vkr::test::kTestDampingId));
      EXPECT_EQ(ui->m_nLanguage, 1031u);
      calls.clear();
    }
    EXPECT_EQ(calls, c.calls);
    ui->m_spDtm = nullptr;
  }
  // Without the DTM's parameter information a refresh of all cannot decide: E_FAIL.
  auto ui = MakeRecordingUi();
  fake->Withdraw(IovFdtParameterInfo::iid);
  ASSERT_EQ(fake->QueryInterface(IovFdtParameterHandler4::iid, ui->m_spDtm.PutVoid()), S_OK);
  EXPECT_EQ(ui->ExecuteCommand(vkr::UI4(9985), PackParameterPair(level, vkr::I4(3))), E_FAIL);
  ui->m_spDtm = nullptr;
}

// ---- Errors, names, lookups ------------------------------------------------------------------

TEST_F(BaseActiveX, ErrorTextsAreCutAtTheirBuffersAndNeverTakeTheTextAsAFormat) {
  TestUserInterfaceHost host;
  CTestUserInterface& ui = *host.Ui();
  const std::string longText(5000, 'x');
  EXPECT_EQ(ui.ErrorMessage("%s", longText.c_str()), S_OK);
  ui.OnError("%s", longText.c_str());
  EXPECT_EQ(ui.ErrorMessage(nullptr), S_OK);
  EXPECT_EQ(ui.ErrorMessage("hRes = %08X!", 1u), S_OK);
  ASSERT_EQ(ui.errors.size(), 4u);
  EXPECT_EQ(ui.errors[0].size(), 511u);
  EXPECT_EQ(ui.errors[1].size(), 4095u);
  EXPECT_EQ(ui.errors[2], u"");
  EXPECT_EQ(ui.errors[3], u"hRes = 00000001!");
  // A character is never split at the cut.
  ui.errors.clear();
  std::string text;
  for (int i = 0; i < 300; ++i) text += "\xC3\xA4";
  ui.ErrorMessage("%s", text.c_str());
  EXPECT_EQ(ui.errors[0], std::u16string(255, u'\u00E4'));
}

TEST_F(BaseActiveX, OperationPhasesAndEntryLookupsAnswerAsTheirTablesSay) {
  const struct {
    const char16_t* name;
    HRESULT result;
    ULONG phase;
  } phases[] = {{u"notSupported", S_OK, 0}, {u"engineering", S_OK, 1}, {u"commissioning", S_OK, 2},
                {u"runtime", S_OK, 4},      {u"service", S_OK, 8},     {u"Runtime", E_FAIL, 99},
                {u"", E_FAIL, 99}};
  for (const auto& p : phases) {
    ULONG phase = 99;
    EXPECT_EQ(CovFDT_BaseActiveXImpl::OperationPhaseFromName(p.name, &phase), p.result);
    EXPECT_EQ(phase, p.phase);
  }
  EXPECT_EQ(CovFDT_BaseActiveXImpl::OperationPhaseFromName(u"runtime", nullptr), E_POINTER);

  TestUserInterfaceHost host;
  CTestUserInterface& ui = *host.Ui();
  EXPECT_EQ(ui.FindParameterIndex(vkr::test::kTestPvUnitId), vkr::test::kEntryPvUnit);  // the first of two
  EXPECT_EQ(ui.FindParameterIndex(4711), -1);
  ui.Entry(vkr::test::kEntryActivateSend).m_nParamId = -1;
  EXPECT_EQ(ui.FindParameterIndex(-1), -1);

  BSTR folder = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(ui.GetImageFolder(&folder), S_OK);
  EXPECT_EQ(folder, nullptr);
  ui.SetImageFolder(u"C:\\images\\");
  ASSERT_EQ(ui.GetImageFolder(&folder), S_OK);
  EXPECT_EQ(std::u16string(folder), u"C:\\images\\");
  SysFreeString(folder);
  EXPECT_EQ(ui.GetImageFolder(nullptr), E_POINTER);
}

LRESULT PlainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(BaseActiveX, ControlTypesComeFromTheWholeClassNameWithoutRegardToCase) {
  TestUserInterfaceHost host;
  CTestUserInterface& ui = *host.Ui();
  const struct {
    const char16_t* className;
    LONG type;
  } cases[] = {
      {u"Static", 1},          {u"edit", 2},           {u"RICHEDIT", 3},        {u"RichEdit20A", 0},
      {u"ComboBox", 4},        {u"LISTBOX", 5},        {u"Button", 6},          {u"ScrollBar", 7},
      {u"SysListView32", 8},   {u"SysTreeView32", 9},  {u"SysAnimate32", 10},   {u"SysHeader32", 11},
      {u"SysTabControl32", 12}, {u"SysMonthCal32", 13}, {u"SysDateTimePick32", 14}, {u"SysIPAddress32", 15},
      {u"ComboBoxEx32", 16},   {u"msctls_updown32", 17}, {u"msctls_progress32", 18}, {u"msctls_hotkey32", 19},
      {u"msctls_trackbar32", 20}, {u"#32770", 0},      {u"EditX", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(vkr::Utf16ToUtf8(c.className));
    HWND window = CreateWindowExW(0, c.className, u"", WS_CHILD, 0, 0, 10, 10, host.Dialog(), nullptr, nullptr, nullptr);
    if (!window) {
      // A class the window system does not make: one of that name for the test.
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &PlainWindowProc;
      wc.lpszClassName = c.className;
      RegisterClassExW(&wc);
      window = CreateWindowExW(0, c.className, u"", WS_CHILD, 0, 0, 10, 10, host.Dialog(), nullptr, nullptr, nullptr);
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ui.GetControlType(window), c.type);
    DestroyWindow(window);
  }
  EXPECT_EQ(ui.GetControlType(nullptr), 0);
  EXPECT_EQ(ui.GetControlTypeById(vkr::test::kTestPvUnitCombo), 4);
  EXPECT_EQ(ui.GetControlTypeById(4711), 0);
}

// ---- The shared message map ------------------------------------------------------------------

TEST_F(BaseActiveX, ControlNotificationsAreReadByTheSendersClassAndTheFocusedValueIsKept) {
  auto ui = MakeRecordingUi();
  TestUserInterfaceHost host(ui.Get());
  HWND edit = host.Item(vkr::test::kTestDampingEdit);
  HWND combo = host.Item(vkr::test::kTestPvUnitCombo);
  HWND list = host.Item(vkr::test::kTestDeviceStatusList);
  HWND check = host.Item(vkr::test::kTestAddressingCheck);
  SetWindowTextA(edit, "1.50");
  for (const char* item : {"m", "ft"}) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  for (const char* item : {"low", "high"}) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SendMessageA(combo, CB_SETCURSEL, 1, 0);
  ui->Entry(vkr::test::kEntryDamping).m_nState = 0x73;
  SetFocus(host.Item(vkr::test::kTestApplyButton));
  ui->Take();

  ASSERT_TRUE(vkr::ui::Click(edit));
  ASSERT_EQ(ui->m_vFocusSnapshot.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(ui->m_vFocusSnapshot.bstrVal), u"1.50");
  EXPECT_EQ(ui->m_nFocusedEntryState, 0x73u);
  ASSERT_TRUE(vkr::ui::Click(combo));
  ASSERT_EQ(ui->m_vFocusSnapshot.vt, VT_I4);
  EXPECT_EQ(ui->m_vFocusSnapshot.lVal, 1);
  vkr::ui::SelectItem(combo, 0);
  vkr::ui::PressKey(VK_ESCAPE);
  ASSERT_TRUE(vkr::ui::Click(list));
  ASSERT_TRUE(vkr::ui::Click(check));
  EXPECT_EQ(ui->m_vFocusSnapshot.vt, VT_UI1);
  ASSERT_TRUE(vkr::ui::Click(edit));
  vkr::ui::PumpUntilIdle();

  // The codes the controls sent, as each class means them (a button's losing the focus is no
  // commit, and the snapshot of the edit comes before anything else of it).
  std::vector<std::string> calls = ui->Take();
  auto has = [&calls](const std::string& call) { return std::find(calls.begin(), calls.end(), call) != calls.end(); };
  EXPECT_TRUE(has("set focus 300 0x100")) << testing::PrintToString(calls);
  EXPECT_TRUE(has("kill focus 300 0x200"));
  EXPECT_TRUE(has("set focus 305 0x3"));
  EXPECT_TRUE(has("change 305 0x1"));
  EXPECT_TRUE(has("kill focus 305 0x4"));
  EXPECT_TRUE(has("set focus 306 0x4"));
  EXPECT_TRUE(has("kill focus 306 0x5"));
  EXPECT_TRUE(has("set focus 307 0x6"));
  EXPECT_TRUE(has("change 307 0x0"));
  EXPECT_FALSE(has("kill focus 307 0x7"));
  for (const std::string& call : calls) EXPECT_EQ(call.find("kill focus 307"), std::string::npos);

  // The indicators have id 0: what they send is nobody's input.
  LRESULT result = -1;
  EXPECT_FALSE(ui->ProcessWindowMessage(host.Dialog(), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED),
                                        reinterpret_cast<LPARAM>(host.Item(vkr::test::kTestPvUnitText)), &result));
  EXPECT_TRUE(ui->Take().empty());
}

// ---- Started by the real DTM ----------------------------------------------------------------

// The frame's container as the DTM reaches it: the frame's schema folder, and a lock it refuses.
class RefusingFrame : public vkr::test::StubContainer<> {
 public:
  HRESULT GetXmlSchemaPath(BSTR* path) override {
    *path = SysAllocString(vkr::Utf8ToUtf16(vkr::test::FrameSchemas().string()).c_str());
    return S_OK;
  }
  HRESULT LockDataSet(BSTR, VARIANT_BOOL* granted) override {
    *granted = VARIANT_FALSE;
    return S_OK;
  }
};

class FramedDtm : public vkr::test::HeadlessDtm {
 public:
  void SetContainer(IFdtContainer* container) { m_pContainer = container; }
};

TEST_F(BaseActiveX, TheRealDtmStartsTheControlAndItsStateAndBroadcastsReachIt) {
  vkr::test::ScopedRegistry registry;
  vkr::ComPtr<vkr::ComObject<FramedDtm>> dtm;
  ASSERT_EQ(vkr::MakeObject<FramedDtm>(&dtm), S_OK);
  vkr::ComPtr<vkr::ComObject<RefusingFrame>> frame;
  ASSERT_EQ(vkr::MakeObject<RefusingFrame>(&frame), S_OK);
  dtm->SetContainer(frame.Get());
  dtm->ForceState(dsCONFIGURED);
  dtm->SetUserLevel(1);
  IovFdtActiveXContainer& container = *dtm;

  TestUserInterfaceHost host(EUiFamily::Control);
  CTestUserInterface& ui = *host.Ui();
  ui.SetDialogType(0x4);
  vkr::Bstr call;
  ASSERT_EQ(container.GetFunctionCallDocument(5, call.Put()), S_OK);  // a function that locks the data set
  ui.functionCall = call.Str();
  IUnknown* dtmObject = static_cast<IovFdtParameterHandler4*>(dtm.Get());
  ASSERT_EQ(host.Open(dtmObject), S_OK);
  EXPECT_EQ(ui.GetAccessMode(), 0);  // offline, and never online yet

  // Started as a frame starts it: the DTM's user level, language and lock reach the control.
  ui.statuses.clear();
  IovFdtActiveXManagement& management = *dtm;
  ASSERT_EQ(management.StartFunction(vkr::Bstr(u"ui-1"), static_cast<IovFdtActiveX4*>(&ui), 0), S_OK);
  EXPECT_EQ(ui.m_nUserLevel, 1u);
  EXPECT_TRUE(ui.m_bObserver);
  EXPECT_EQ(ui.m_nLanguage, 1033u);
  EXPECT_TRUE(ui.m_bDataSetLocked) << "the frame refused the lock";
  const std::vector<std::pair<ULONG, ULONG>> lockStatuses = {{6, 2}, {3, 8}};
  ASSERT_GE(ui.statuses.size(), 2u);
  using Statuses = std::vector<std::pair<ULONG, ULONG>>;
  EXPECT_EQ(Statuses(ui.statuses.end() - 2, ui.statuses.end()), lockStatuses);
  // The schema folder came from the frame: the function call loads through the control's cache.
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  EXPECT_EQ(ui.LoadXMLDocument(call.Get(), document.Put(), &loaded), S_OK);
  EXPECT_EQ(loaded, VARIANT_TRUE);

  // Online and offline again, as the DTM tells its open user interfaces.
  ui.statuses.clear();
  dtm->ForceState(dsONLINE);
  ASSERT_EQ(container.NotifyStateChanged(dsONLINE), S_OK);
  EXPECT_EQ(ui.GetAccessMode(), 9);
  EXPECT_TRUE(ui.m_bOnline);
  EXPECT_NE(std::find(ui.statuses.begin(), ui.statuses.end(), std::pair<ULONG, ULONG>(1, 2)), ui.statuses.end());
  EXPECT_NE(std::find(ui.statuses.begin(), ui.statuses.end(), std::pair<ULONG, ULONG>(2, 1)), ui.statuses.end())
      << "cyclic reading runs";
  dtm->ForceState(dsCOMMUNICATIONSET);
  ASSERT_EQ(container.NotifyStateChanged(dsCOMMUNICATIONSET), S_OK);
  EXPECT_EQ(ui.GetAccessMode(), 8);
  EXPECT_FALSE(ui.m_bOnline);

  // Being released: nothing the DTM says reaches it any more.
  ui.SetAccessMode(4);
  EXPECT_EQ(container.BroadcastToActiveX(vkr::UI4(9984), vkr::I4(1031)), S_OK);
  EXPECT_EQ(ui.m_nLanguage, 1033u);
  EXPECT_EQ(management.FunctionFinished(vkr::Bstr(u"ui-1")), S_OK);
}

}  // namespace

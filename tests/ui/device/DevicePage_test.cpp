// The bodies the device pages share, the kit's helpers that need a dialog or a DTM, and the
// device-UI fixture itself, on a small page of the tests built on CDevicePropertyPage.
#include <gtest/gtest.h>

#include "frame/controls/OutsideControls.h"
#include "tests/support/device_ui_fixture.h"
#include "ui/device/DevicePage.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/Kit.h"

namespace vkr::test::dui {
namespace {

using namespace vkr::dui;
using Bytes = std::vector<BYTE>;

constexpr CLSID kSharedBodiesPageClsid = vkr::MakeGuid("5C2D7E10-8A41-4B3F-9E62-1D0A7B6C5E01");

// The Process page's controls that the shared OnControlChange knows, and a value edit of 1040.
constexpr const char kTemplate[] = R"(
9301 DIALOGEX 0, 0, 240, 120
STYLE DS_CONTROL | WS_CHILD
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "", 381, "ComboBox", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 70, 5, 80, 60
  EDITTEXT 395, 70, 22, 60, 12, ES_AUTOHSCROLL
  EDITTEXT 397, 70, 37, 60, 12, ES_AUTOHSCROLL
  EDITTEXT 399, 70, 52, 60, 12, ES_AUTOHSCROLL
  COMBOBOX 383, 70, 70, 80, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
END
)";

// Routes every shared slot to its body; which ReadParameter it uses is the test's choice.
class CSharedBodiesPage : public CDevicePropertyPage {
 public:
  CSharedBodiesPage() : CDevicePropertyPage(Class()) { m_nDialogType = kDialogTypeOnlineReading; }
  static bool s_readWithDataSet;
  static SPropertyPageClass Class();

  static CActXParInfo* GetParameterMap(int* count, BOOL copy) {
    static CActXParInfo entries[] = {
        CActXParInfo(kParCommand1Complete, "Command 1 complete", 0, "", 0, FALSE, 0x80000000),
        CActXParInfo(kParCommand2Complete, "Command 2 complete", 0, "", 0, FALSE, 0x80000000),
        CActXParInfo(kParDampingUser, "Damping value user", 399, "%.3f", 0, TRUE, 0),
        CActXParInfo(kParPvUnitUser, "PV unit user", 0, "", 0, FALSE, 0x80000000),
        CActXParInfo(kParButtonRefresh, "Button Refresh", 0, "", 0, FALSE, 0x80000000),
        CActXParInfo(),
    };
    if (!copy) {
      if (count) *count = 5;
      return entries;
    }
    return CopyParameterTable(entries, count);
  }

  HRESULT ReadParameter(LONG index) override {
    return s_readWithDataSet ? ReadParameterOrDataSet(index) : ReadParameterOnline(index);
  }
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override { return UninitializeStoppingResponses(ok); }
  HRESULT OnControlChange(UINT code, UINT id, HWND control) override {
    return OnCommandPageControlChange(code, id, control);
  }
  HRESULT SetControlValueById(LONG id, VARIANT value) override {
    shown.emplace_back(id, vkr::Variant(value));
    return CDevicePropertyPage::SetControlValueById(id, value);
  }
  bool LoadPageString(UINT, std::u16string* text) override {
    *text = u"Shared";
    return true;
  }

  ULONG StateOf(LONG id) const { return m_pParInfo[FindParameterIndex(id)].m_nState; }
  using CovFDT_BaseActiveXImpl::ChangeUpdateRate;
  using CDevicePropertyPage::MarkEntryInvalid;
  using CovFDT_BaseActiveXImpl::m_bUpdatingControls;
  using CovFDT_BaseActiveXImpl::m_nDtmState;
  std::vector<std::pair<LONG, vkr::Variant>> shown;
};
bool CSharedBodiesPage::s_readWithDataSet = false;

SPropertyPageClass CSharedBodiesPage::Class() {
  SPropertyPageClass c;
  c.clsid = kSharedBodiesPageClsid;
  c.parameterMap = &CSharedBodiesPage::GetParameterMap;
  c.dialogId = 9301;
  c.templateText = kTemplate;
  return c;
}

class DevicePage : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CSharedBodiesPage>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CSharedBodiesPage>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(kSharedBodiesPageClsid, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    dtm = FakeDeviceDtm::Create();
    CSharedBodiesPage::s_readWithDataSet = false;
  }
  void TearDown() override {
    harness.reset();
    if (dtm) dtm->DetachAll();
    dtm = nullptr;
    CoRevokeClassObject(cookie);
    vkr::ui::PumpUntilIdle();
    CoUninitialize();
  }
  void Open() {
    harness = std::make_unique<DevicePageHarness>(kSharedBodiesPageClsid, static_cast<IovFdtBaseDTM*>(dtm.Get()));
    ASSERT_TRUE(harness->Ok());
    page = dynamic_cast<CSharedBodiesPage*>(harness->Ui());
    ASSERT_NE(page, nullptr);
  }
  std::vector<LONG> ShownIds() const {
    std::vector<LONG> ids;
    for (const auto& [id, value] : page->shown) ids.push_back(id);
    return ids;
  }

  DWORD cookie = 0;
  vkr::ComPtr<vkr::ComObject<FakeDeviceDtm>> dtm;
  std::unique_ptr<DevicePageHarness> harness;
  CSharedBodiesPage* page = nullptr;
};

// Online, the Command page's read shows the device values of device parameters and marks a device
// parameter without one "no value"; the DTM's own values show as the data set holds them, never
// marked invalid (Send would stop at them). The Device page's read falls back to the data set for
// every entry. Offline neither reads the device.
TEST_F(DevicePage, ReadParameterOnlineAndWithDataSetFallback) {
  struct Case {
    EDtmState state;
    bool dataSet;
    std::vector<LONG> shown;  // in table order during InitializeUI
  };
  const Case cases[] = {
      {dsONLINE, false, {kParCommand1Complete, kParDampingUser, kParPvUnitUser, kParButtonRefresh}},
      {dsONLINE, true, {kParCommand1Complete, kParCommand2Complete, kParDampingUser, kParPvUnitUser, kParButtonRefresh}},
      {dsCONFIGURED, false, {kParDampingUser, kParPvUnitUser, kParButtonRefresh}},
      {dsCONFIGURED, true, {kParCommand1Complete, kParCommand2Complete, kParDampingUser, kParPvUnitUser, kParButtonRefresh}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + (c.dataSet ? " data set" : " online"));
    TearDown();
    SetUp();
    CSharedBodiesPage::s_readWithDataSet = c.dataSet;
    dtm->SetState(c.state);
    ASSERT_EQ(dtm->SetResponse(kParCommand1Complete, {45, 0x40, 0x20, 0, 0}), S_OK);
    dtm->Parameter(kParCommand2Complete)->deviceValue.Clear();  // the device gave no answer yet
    dtm->Parameter(kParDampingUser)->value = vkr::Variant(vkr::I4(2));
    Open();
    EXPECT_EQ(ShownIds(), c.shown);
    if (!c.dataSet) {
      // Offline the entry without a value is no fault of anybody's: it is not marked invalid.
      EXPECT_EQ(page->StateOf(kParCommand2Complete) & 0x404u, c.state == dsONLINE ? 0x404u : 0u);
      EXPECT_EQ(page->StateOf(kParDampingUser) & 0x4u, 0u);
      EXPECT_EQ(page->SetFocusToControl(), S_OK) << "a DTM-side value stops Send";
    }
    EXPECT_EQ(harness->Text(399), "2.000");
  }
  // A parameter the DTM does not know is refused.
  dtm->RemoveParameter(kParPvUnitUser);
  EXPECT_EQ(page->ReadParameter(page->FindParameterIndex(kParPvUnitUser)), E_FAIL);
  EXPECT_EQ(page->ReadParameter(99), E_INVALIDARG);
}

// Typing into the range and damping edits or choosing a unit enables the frame's Send (1045);
// the program's own writes into them do not.
TEST_F(DevicePage, ControlChangesEnableSendOnlyForTheUsersInput) {
  // Online: offline no device field takes typing.
  dtm->SetState(dsONLINE);
  Open();
  const SComboCode units[] = {{"Metres (m)", 45}, {"Feet (ft)", 44}};
  ASSERT_EQ(FillCodeCombo(harness->Item(381) ? GetParent(harness->Item(381)) : nullptr, 381, units), S_OK);
  dtm->ClearCalls();
  auto sendEnabled = [&] {
    vkr::ui::PumpUntilIdle();
    return dtm->CountOf("SetParameterValue", kParActivateButtonSend);
  };
  page->SetControlValueById(kParDampingUser, vkr::Variant(vkr::I4(7)));  // the program writes 399
  EXPECT_EQ(sendEnabled(), 0u);
  vkr::ui::TypeText(harness->Item(395), "5");
  EXPECT_EQ(sendEnabled(), 1u);
  vkr::ui::SelectItem(harness->Item(381), 1);
  EXPECT_EQ(sendEnabled(), 2u);
  EXPECT_EQ(harness->Text(381), "Feet (ft)");
  vkr::ui::TypeText(harness->Item(397), "1");
  EXPECT_EQ(sendEnabled(), 3u);

  // An entry marked invalid takes the focus when the page checks its input; nothing else does.
  ASSERT_EQ(page->SetControlStateById(kParDampingUser, kStateUsable), S_OK);
  ASSERT_EQ(page->SetFocusToControl(), S_OK);
  ASSERT_EQ(page->MarkEntryInvalid(kParDampingUser), S_OK);
  EXPECT_EQ(page->SetFocusToControl(), E_FAIL);
  EXPECT_EQ(GetFocus(), harness->Item(399));
  EXPECT_EQ(page->MarkEntryInvalid(kParButtonSend), E_INVALIDARG);
}

// UninitializeUI stops the cyclic reads of commands 1 and 2 before the DTM is let go.
TEST_F(DevicePage, UninitializeStopsTheCyclicReadsOfCommandsOneAndTwo) {
  Open();
  ASSERT_EQ(page->ChangeUpdateRate(kParCommand1Complete, 5000), S_OK);
  ASSERT_EQ(page->ChangeUpdateRate(kParCommand2Complete, 5000), S_OK);
  dtm->ClearCalls();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(page->UninitializeUI(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(dtm->CountOf("DtmMessage", kMsgUpdateRateChanged), 2u);
  EXPECT_EQ(page->ParameterTable()[0].m_nUpdateRate, 0u);
  EXPECT_EQ(page->ParameterTable()[1].m_nUpdateRate, 0u);
}

// The display control is made at construction where its class is registered, and its texts
// are the unit combo's; without it the page still opens and the texts are empty.
TEST_F(DevicePage, DisplayControlGivesUnitTextsOrNothing) {
  Open();
  EXPECT_EQ(page->ParamGroupDisplay(), nullptr);
  EXPECT_EQ(page->UnitText(45), "");
  harness.reset();

  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  Open();
  ASSERT_NE(page->ParamGroupDisplay(), nullptr);
  EXPECT_EQ(page->UnitText(45), "Metres (m)");
  EXPECT_EQ(page->UnitText(44), "Feet (ft)");
  EXPECT_FALSE(page->TransferFunctionText(0).empty());
  harness.reset();
  vkr::frame::RevokeOutsideControls();
}

// One instance's count: message 10 from states 9 and 11, message 11 only from the instance that
// counted when the count reaches 0 online or going online; an uncounted instance changes nothing.
TEST_F(DevicePage, OnlineUsageCounterCountsOutOnlyWhatItCountedIn) {
  Open();
  struct Step {
    int instance;  // 0 or 1
    bool in;
    ULONG state;
    ULONG countAfter;
    std::vector<ULONG> messages;  // DTM messages 10/11 sent by the step
  };
  const Step steps[] = {
      {1, false, 12, 0, {}},     // never counted: nothing, not even message 11 at 0
      {0, true, 9, 1, {10}},
      {1, true, 12, 2, {}},
      {0, true, 12, 2, {}},      // counting twice is once
      {0, false, 12, 1, {}},
      {0, false, 12, 1, {}},     // counting out twice is once
      {1, false, 10, 0, {11}},
      {0, true, 11, 1, {10}},
      {0, false, 8, 0, {}},      // offline already: no message
  };
  COnlineUsageCounter counters[2];
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(n++));
    dtm->ClearCalls();
    HRESULT hr = s.in ? counters[s.instance].CountIn(*page, s.state) : counters[s.instance].CountOut(*page, s.state);
    EXPECT_TRUE(SUCCEEDED(hr));
    std::vector<ULONG> messages;
    for (const auto& call : dtm->CallsOf("DtmMessage"))
      if (call.id == 10 || call.id == 11) messages.push_back(call.id);
    EXPECT_EQ(messages, s.messages);
    EXPECT_EQ(dtm->Value(kParOnlineAxCounter).ulVal, s.countAfter);
  }
}

// Showing, refreshing and hiding any number of times leaves one placeholder; a value removes it
// wherever it sits; code tables look up exact texts only.
TEST_F(DevicePage, PlaceholderIsAddedOnceAndCodeTablesMatchExactly) {
  Open();
  HWND dialog = GetParent(harness->Item(383));
  const SComboCode dielectric[] = {{" < 2", 0}, {" < 5", 1}, {" > 80", 6}};
  ASSERT_EQ(FillCodeCombo(dialog, 383, dielectric), S_OK);
  for (int i = 0; i < 3; ++i) ShowComboPlaceholder(dialog, 383);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 383, CB_GETCOUNT, 0, 0), 4);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 383, CB_GETCURSEL, 0, 0), 3);
  EXPECT_FALSE(SelectedCode(dialog, 383, dielectric));
  EXPECT_TRUE(RemoveComboPlaceholder(dialog, 383));
  EXPECT_FALSE(RemoveComboPlaceholder(dialog, 383));
  EXPECT_EQ(SendDlgItemMessageA(dialog, 383, CB_GETCOUNT, 0, 0), 3);

  EXPECT_TRUE(SelectCode(dialog, 383, dielectric, 6));
  EXPECT_EQ(SelectedCode(dialog, 383, dielectric), BYTE{6});
  EXPECT_EQ(CodeOfComboText(dialog, 383, dielectric), BYTE{6});
  EXPECT_FALSE(SelectCode(dialog, 383, dielectric, 3));  // no such code: selection kept
  EXPECT_EQ(SelectedCode(dialog, 383, dielectric), BYTE{6});

  const SComboCode units[] = {{"Metres (m)", 45}, {"Feet (ft)", 44}};
  ASSERT_EQ(FillCodeCombo(dialog, 381, units), S_OK);
  SetDlgItemTextA(dialog, 381, "metres (m)");
  EXPECT_FALSE(CodeOfComboText(dialog, 381, units));  // the text must be the item's exactly
  SetDlgItemTextA(dialog, 381, "Feet (ft)");

  EXPECT_EQ(CodeOfComboText(dialog, 381, units), BYTE{44});
  EXPECT_EQ(FillCodeCombo(dialog, 999, units), E_INVALIDARG);
}

// The shared decoders give a field exactly when its bytes arrived, and store only those; the range
// (unit, upper and lower value) comes whole or not at all.
TEST_F(DevicePage, CommandFifteenDecodedAndStoredByLength) {
  const Bytes full = {1, 2, 45, 0x41, 0x20, 0, 0, 0x3F, 0x80, 0, 0, 0x40, 0x00, 0, 0};
  struct Case {
    size_t length;
    bool unit, upper, lower, damping;
  };
  const Case cases[] = {{2, false, false, false, false},
                        {3, false, false, false, false},
                        {10, false, false, false, false},
                        {11, true, true, true, false},
                        {15, true, true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    const SCommand15Response r = DecodeCommand15({full.data(), c.length});
    EXPECT_EQ(r.transferFunction, BYTE{2});
    EXPECT_EQ(r.rangeUnit.has_value(), c.unit);
    EXPECT_EQ(r.upperRange.has_value(), c.upper);
    EXPECT_EQ(r.lowerRange.has_value(), c.lower);
    EXPECT_EQ(r.damping.has_value(), c.damping);
    dtm->ClearCalls();
    BYTE unit = 0;
    ASSERT_EQ(StoreCommand15Values(dtm.Get(), r, &unit), S_OK);
    EXPECT_EQ(dtm->CountOf("SetParameterValue"), size_t{c.unit} + c.upper + c.lower + c.damping);
  }
  EXPECT_EQ(dtm->Value(kParRangeUnit).bVal, 45);
  EXPECT_EQ(dtm->Value(kParUpperRange).fltVal, 10.0f);
  EXPECT_EQ(dtm->Value(kParLowerRange).fltVal, 1.0f);
  EXPECT_EQ(dtm->Value(kParDampingUser).fltVal, 2.0f);

  const SCommand1Response one = DecodeCommand1(Bytes{44, 0x3F, 0x80, 0});
  EXPECT_EQ(one.pvUnit, BYTE{44});
  EXPECT_FALSE(one.pv);
  USHORT last = 0xFFFF;
  EXPECT_EQ(StorePvUnitIfChanged(dtm.Get(), 44, &last), S_OK);
  EXPECT_EQ(StorePvUnitIfChanged(dtm.Get(), 44, &last), S_FALSE);
  EXPECT_EQ(last, 44);
  const SCommand2Response two = DecodeCommand2(Bytes{0x41, 0x80, 0, 0, 0x42, 0xC8, 0, 0});
  EXPECT_EQ(two.loopCurrent, 16.0f);
  EXPECT_EQ(two.percentOfRange, 100.0f);
  const SCommand14Response fourteen = DecodeCommand14(Bytes{0x01, 0x02, 0x03, 45, 0x41, 0x20, 0, 0});
  EXPECT_EQ(fourteen.sensorSerialNumber, 0x010203u);
  EXPECT_EQ(fourteen.upperLimit, 10.0f);
  EXPECT_FALSE(fourteen.lowerLimit);
}

// The fixture: scripted transactions, user-message answers, equal values broadcast again, and
// a clock that a page's Sleep moves, wall clock included.
TEST_F(DevicePage, FixtureScriptsAndClock) {
  FakeHartService& hart = dtm->Hart();
  hart.Script(135, FakeTransaction::Answer({3, 1, 2, 4, 10}));
  hart.Script(136, FakeTransaction::Answer({}, 5));
  hart.Script(136, FakeTransaction::Failure(u"0x80004005; unexpected response content"));
  vkr::ComPtr<IovFdtConnectionManagement> connections;
  ASSERT_EQ(static_cast<IovFdtBaseDTM*>(dtm.Get())->QueryInterface(IovFdtConnectionManagement::iid,
                                                                  connections.PutVoid()),
            S_OK);
  vkr::ComPtr<IUnknown> connection;
  ASSERT_EQ(connections->GetConnection(0, connection.Put()), S_OK);
  vkr::ComPtr<IovFdtHartServiceInterface> service;
  ASSERT_EQ(connection->QueryInterface(IovFdtHartServiceInterface::iid, service.PutVoid()), S_OK);
  struct Expect {
    BYTE command;
    const char16_t* request;
    HRESULT result;
    BYTE code;
    std::u16string response;
    std::u16string error;
  };
  const Expect expects[] = {
      {135, nullptr, S_OK, 0, u"030102040A", u""},
      {136, u"0301020403", S_OK, 5, u"", u""},
      {136, u"00", S_FALSE, 0, u"", u"0x80004005; unexpected response content"},
      {136, u"00", S_FALSE, 0, u"", u"0x80004005; unexpected response content"},  // the last repeats
      {48, nullptr, S_FALSE, 0, u"", u"0x80004005; error during transaction"},
  };
  for (const Expect& e : expects) {
    BYTE status = 0xEE, code = 0xEE;
    vkr::Bstr response, error;
    EXPECT_EQ(service->Transaction(e.command, vkr::Bstr(e.request ? e.request : u"").Get(), &status, &code,
                                   response.Put(), error.Put()),
              e.result);
    if (e.result == S_OK) {
      EXPECT_EQ(code, e.code);
    }
    EXPECT_EQ(response.Str(), e.response);
    EXPECT_EQ(error.Str(), e.error);
  }
  ASSERT_EQ(hart.CallsOf(136).size(), 3u);
  EXPECT_EQ(hart.CallsOf(136)[0].request, (Bytes{3, 1, 2, 4, 3}));
  EXPECT_EQ(connections->GetConnection(1, connection.Put()), DISP_E_BADINDEX);

  dtm->AnswerUserMessages({kAnswerCancel});
  LONG answer = 0;
  EXPECT_EQ(ShowDeviceMessage(static_cast<IovFdtBaseDTM*>(dtm.Get()), u"Digitize", u"Continue?", kMessageOkCancelInfo,
                              &answer),
            S_OK);
  EXPECT_EQ(answer, kAnswerCancel);
  EXPECT_EQ(ShowDeviceMessage(static_cast<IovFdtBaseDTM*>(dtm.Get()), u"Digitize", u"Done", kMessageInformation, &answer),
            S_OK);
  EXPECT_EQ(answer, 1);
  ASSERT_EQ(dtm->UserMessages().size(), 2u);
  EXPECT_EQ(dtm->UserMessages()[0].title, u"Digitize");
  EXPECT_EQ(dtm->UserMessages()[0].text, u"Continue?");
  EXPECT_EQ(dtm->UserMessages()[0].style, 0x41);

  // The frame's trigger set twice to 1 reaches the page twice, as VT_UI1.
  Open();
  page->shown.clear();
  for (int i = 0; i < 2; ++i) page->SetDtmParameterValue(kParButtonRefresh, vkr::I4(1));
  EXPECT_TRUE(page->shown.empty());  // nothing before the test pumps
  vkr::ui::PumpUntilIdle();
  ASSERT_EQ(ShownIds(), (std::vector<LONG>{kParButtonRefresh, kParButtonRefresh}));
  EXPECT_EQ(page->shown[0].second.vt, VT_UI1);
  // Held back, the values wait through any pumping until the test hands them over.
  page->shown.clear();
  dtm->HoldDeliveries(true);
  page->SetDtmParameterValue(kParButtonRefresh, vkr::I4(1));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(page->shown.empty());
  EXPECT_TRUE(dtm->Deliver());
  EXPECT_EQ(ShownIds(), (std::vector<LONG>{kParButtonRefresh}));
  page->SetDtmParameterValue(kParButtonRefresh, vkr::I4(1));
  dtm->HoldDeliveries(false);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(ShownIds(), (std::vector<LONG>{kParButtonRefresh, kParButtonRefresh}));

  FakeClock clock(10, 0, 55);
  SYSTEMTIME before{}, after{};
  GetLocalTime(&before);
  const DWORD ticks = GetTickCount();
  Sleep(10000);
  GetLocalTime(&after);
  EXPECT_EQ(GetTickCount() - ticks, 10000u);
  EXPECT_EQ((after.wSecond + 60 - before.wSecond) % 60, 10);
  EXPECT_EQ(clock.Elapsed(), 10000u);
}

}  // namespace
}  // namespace vkr::test::dui

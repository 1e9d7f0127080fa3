// Values between parameters and controls: a dialog of every kind of field over the fake DTM, driven
// as a person drives it (typing, leaving a field), in both supported locales.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/FrameDocuments.h"
#include "frame/controls/OutsideControls.h"
#include "module/VornExampleDtmModule.h"
#include "parameters/CFdtVariant.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/module_classes.h"
#include "tests/support/test_user_interface.h"
#include "tests/support/threading.h"
#include "ui/framework/BaseActiveX.h"

namespace vkr::test::ui {
namespace {

enum : UINT {
  kDampingEdit = 201, kDampingUnit = 301, kDistanceEdit = 202, kShortEdit = 203, kUnitCombo = 204, kStatusList = 205,
  kStatusText = 211, kUnitText = 212, kAddressingCheck = 206, kMessageEdit = 207, kDateEdit = 208, kTagEdit = 209,
  kLoopEdit = 210, kOverlapList = 213, kUpperEdit = 214, kHeader = 217,
};
constexpr ULONG kOverlapping = 1100;  // a bit set whose items share bits: 1 "A", 3 "A and B"

constexpr char kTemplate[] = R"(100 DIALOGEX 0, 0, 300, 200
STYLE WS_POPUP | WS_VISIBLE
FONT 8, "MS Sans Serif"
BEGIN
  EDITTEXT 201, 10, 10, 80, 12
  LTEXT "", 301, 95, 10, 30, 8
  EDITTEXT 202, 10, 25, 80, 12
  EDITTEXT 203, 10, 40, 80, 12
  COMBOBOX 204, 10, 55, 80, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LISTBOX 205, 10, 75, 80, 40, LBS_MULTIPLESEL | LBS_NOTIFY | WS_TABSTOP
  EDITTEXT 211, 100, 75, 190, 12
  LTEXT "", 212, 100, 55, 80, 8
  AUTO3STATE "Addressing", 206, 10, 120, 80, 10
  EDITTEXT 207, 10, 135, 80, 12
  EDITTEXT 208, 10, 150, 80, 12
  EDITTEXT 209, 10, 165, 80, 12
  EDITTEXT 210, 100, 165, 80, 12
  LISTBOX 213, 200, 10, 80, 40, LBS_MULTIPLESEL | LBS_NOTIFY
  EDITTEXT 214, 100, 150, 80, 12
  CONTROL "", 217, "VornDlgObjects.HeaderDisplay", 0, 200, 60, 80, 20
END
)";

CActXParInfo* ValuesMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(kFakeDamping, "Damping", kDampingEdit, "%.3f", 0x71, FALSE, 0, kDampingUnit),
      CActXParInfo(kFakeDistance, "Distance", kDistanceEdit, "%.2f m", 0x71, FALSE, 0),
      CActXParInfo(kFakeShortAddress, "Short address", kShortEdit, "%d", 0x71, FALSE, 0),
      CActXParInfo(kFakePvUnit, "PV unit", kUnitCombo, "", 0x71, FALSE, 0),
      CActXParInfo(kFakePvUnit, "PV unit text", kUnitText, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeDeviceStatus, "Device status", kStatusList, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeDeviceStatus, "Device status text", kStatusText, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeAddressing, "Addressing", kAddressingCheck, "%d", 0x71, FALSE, 0),
      CActXParInfo(kFakeMessage, "Message", kMessageEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeDate, "Date", kDateEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeTag, "Tag", kTagEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeLoopCurrent, "Loop current", kLoopEdit, "%d mA", 0x71, FALSE, 0),
      CActXParInfo(kOverlapping, "Overlapping", kOverlapList, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeUpperRange, "Upper range", kUpperEdit, "%.3f", 0x71, FALSE, 0),
      CActXParInfo(kFakeDistance, "Header distance", kHeader, "%.2f m", 0x71, FALSE, 0),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = CountParameterEntries(table);
    return table;
  }
  return CopyParameterTable(table, count);
}

// The base with a log of what the dialog's notifications made of it.
class ValuesUi : public CovFDT_BaseActiveXImpl {
 public:
  ValuesUi() : CovFDT_BaseActiveXImpl(CLSID{}, &ValuesMap) {}
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override {
    log.push_back("change " + std::to_string(controlId) + (m_bUpdatingControls ? " while updating" : ""));
    return CovFDT_BaseActiveXImpl::OnControlChange(code, controlId, control);
  }
  HRESULT SetDirty(BOOL dirty) override {
    log.push_back(dirty ? "dirty" : "clean");
    return CovFDT_BaseActiveXImpl::SetDirty(dirty);
  }
  BOOL Updating() const { return m_bUpdatingControls; }
  ULONG StateOf(LONG id) const { return ParameterTable()[FindParameterIndex(id)].m_nState; }
  std::vector<std::string> log;
};

INT_PTR DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* ui = reinterpret_cast<ValuesUi*>(GetWindowLongPtrW(dialog, DWLP_USER));
  LRESULT result = 0;
  if (!ui || !ui->ProcessWindowMessage(dialog, message, wParam, lParam, &result)) return FALSE;
  SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

Variant Of(VARTYPE vt, double number) {
  Variant v;
  VARIANT r8 = EmptyVariant();
  r8.vt = VT_R8;
  r8.dblVal = number;
  if (vt == VT_DATE) {
    v.vt = VT_DATE;
    v.date = number;
  } else {
    VariantChangeType(&v, &r8, 0, vt);
  }
  return v;
}

Variant TextOf(const char16_t* text) {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

class ValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    AtlAxWinInit();
    fake = FakeUiDtm::Create();
    FakeParameter overlapping;
    overlapping.id = kOverlapping;
    overlapping.name = u"Overlapping";
    overlapping.vt = VT_UI4;
    overlapping.kind = 2;
    overlapping.value = Of(VT_UI4, 0);
    overlapping.deviceValue = Of(VT_UI4, 0);
    const char16_t* items[] = {u"1;A", u"3;A and B"};
    overlapping.enumeration.vt = VT_ARRAY | VT_BSTR;
    overlapping.enumeration.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    for (LONG i = 0; i < 2; ++i) {
      BSTR item = SysAllocString(items[i]);
      SafeArrayPutElement(overlapping.enumeration.parray, &i, item);
      SysFreeString(item);
    }
    fake->AddParameter(std::move(overlapping));
    ASSERT_EQ(MakeObject<ValuesUi>(&ui), S_OK);
    dialog = CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(kTemplate), nullptr, &DialogProc,
                                        reinterpret_cast<LPARAM>(ui.Get()));
    ASSERT_NE(dialog, nullptr);
    ui->AttachDialogWindow(dialog);
  }
  void TearDown() override {
    VARIANT_BOOL done = VARIANT_FALSE;
    ui->UninitializeUI(&done);
    fake->DetachAll();
    DestroyWindow(dialog);
    ui = nullptr;
    fake = nullptr;
    vkr::ui::PumpUntilIdle();
    vkr::frame::RevokeOutsideControls();
    CoUninitialize();
    SetLocales(1033);
  }
  void Open(ULONG dialogType, EDtmState state) {
    fake->SetState(state);
    ui->SetDialogType(dialogType);
    // A user who may edit, as the frame tells it, and editing granted.
    ui->ExecuteCommand(UI4(9988), I4(2));
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(ui->InitializeUI(static_cast<IovFdtParameterHandler4*>(fake.Get()), &ok), S_OK);
    ui->ApplyOnlineAccess(TRUE);
    fake->Attach(static_cast<IovFdtActiveX4*>(ui.Get()));
    fake->Deliver();
    ui->log.clear();
  }
  static void SetLocales(LCID lcid) {
    vkr::platform::SetSystemDefaultLocale(lcid);
    vkr::platform::SetUserDefaultLocale(lcid);
  }
  HWND Item(UINT id) const { return GetDlgItem(dialog, static_cast<int>(id)); }
  // What a person sees in the field: the text, the selected items, or the check.
  std::string Shown(UINT id) const {
    HWND item = Item(id);
    std::string kind = vkr::ui::ClassName(item);
    char text[128] = {};
    if (kind == "ComboBox") {
      LRESULT at = SendMessageA(item, CB_GETCURSEL, 0, 0);
      if (at >= 0) SendMessageA(item, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
      return text;
    }
    if (kind == "ListBox") {
      std::string shown;
      for (LRESULT i = 0, n = SendMessageA(item, LB_GETCOUNT, 0, 0); i < n; ++i) {
        if (SendMessageA(item, LB_GETSEL, static_cast<WPARAM>(i), 0) <= 0) continue;
        SendMessageA(item, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        shown += (shown.empty() ? "" : " | ") + std::string(text);
      }
      return shown;
    }
    if (kind == "Button") return SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? "checked" : "unchecked";
    return vkr::ui::WindowText(item);
  }
  // Types the text into the field and leaves it for the next one, as a person does.
  void TypeAndLeave(UINT id, std::string_view text, UINT next) {
    vkr::ui::Click(Item(id));
    SendMessageA(Item(id), EM_SETSEL, 0, -1);
    SendMessageA(Item(id), WM_CLEAR, 0, 0);
    vkr::ui::TypeText(Item(id), text);
    vkr::ui::Click(Item(next));
    vkr::ui::PumpUntilIdle();
  }

  ComPtr<ComObject<FakeUiDtm>> fake;
  ComPtr<ComObject<ValuesUi>> ui;
  HWND dialog = nullptr;
};

// value -> field -> value for every kind of field, in en-US and de-DE: the field shows the value
// in the locale's form, and what it shows reads back as the same value.
TEST_F(ValuesTest, EveryFormatRoundTripsThroughItsFieldInBothLocales) {
  Open(0x2 | 0x8, dsCONFIGURED);
  EXPECT_EQ(Shown(kUnitCombo), "m");  // the values read at start-up
  EXPECT_EQ(Shown(kStatusList), "PV out of limits | Configuration changed");
  for (LCID lcid : {1033u, 1031u}) {
    SCOPED_TRACE(lcid);
    SetLocales(lcid);
    const bool de = lcid == 1031;
    struct Case {
      ULONG id;
      UINT field;
      Variant value;
      std::string shown;
    } cases[] = {
        {kFakeDamping, kDampingEdit, Of(VT_R4, 12.5), de ? "12,500" : "12.500"},
        {kFakeDistance, kDistanceEdit, Of(VT_R8, -3.25), de ? "-3,25 m" : "-3.25 m"},
        {kFakeShortAddress, kShortEdit, Of(VT_UI1, 12), "12"},
        {kFakePvUnit, kUnitCombo, Of(VT_UI1, 48), "cm"},
        {kFakePvUnit, kUnitText, Of(VT_UI1, 49), "mm"},
        {kFakeDeviceStatus, kStatusList, Of(VT_UI1, 0x43), "PV out of limits | Non-PV out of limits | Configuration changed"},
        // "PV out of limits" stands within "Non-PV out of limits": each reads back as itself.
        {kFakeDeviceStatus, kStatusText, Of(VT_UI1, 0x1), "PV out of limits"},
        {kFakeDeviceStatus, kStatusText, Of(VT_UI1, 0x2), "Non-PV out of limits"},
        {kFakeAddressing, kAddressingCheck, Of(VT_BOOL, 1), "checked"},  // a 3-state box is a check box
        {kFakeAddressing, kAddressingCheck, Of(VT_BOOL, 0), "unchecked"},
        {kFakeMessage, kMessageEdit, ByteArray({0x01, 0xAB, 0xFF}), "01 AB FF "},
        {kFakeDate, kDateEdit, Of(VT_DATE, 46016), de ? "25.12.2025" : "12/25/2025"},
        {kFakeTag, kTagEdit, TextOf(u"F\u00fcll-1"), "F\xc3\xbcll-1"},
        {kFakeLoopCurrent, kLoopEdit, Of(VT_UI1, 3), "3 mA"},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(ui->SetControlValueById(static_cast<LONG>(c.id), c.value), S_OK) << c.id;
      // The alarms show in a list and a text field alike.
      if (c.field == kStatusList) {
        EXPECT_EQ(Shown(kStatusText), c.shown);
      }
      EXPECT_EQ(Shown(c.field), c.shown) << c.id;
      LONG index = ui->FindParameterIndex(static_cast<LONG>(c.id));
      while (ui->ParameterTable()[index].m_nCtrlId != c.field) ++index;
      Variant back;
      EXPECT_EQ(ui->GetControlValue(static_cast<ULONG>(index), &back), S_OK) << c.id;
      EXPECT_TRUE(SameValue(back, c.value)) << c.id << " read back as vt " << back.vt;
    }
    EXPECT_EQ(Shown(kDampingUnit), "s");
  }
}

// Typing a value and leaving the field writes it; input the DTM refuses, that is not a number or
// that is missing is marked, the user is brought back to it, and nothing is sent.
TEST_F(ValuesTest, LeavingAFieldWritesValidInputAndHoldsTheUserAtInvalidInput) {
  SetLocales(1031);
  Open(0x4 | 0x8, dsONLINE);
  struct Case {
    const char* typed;
    bool written;
    float value;
  } cases[] = {
      {"7,5", true, 7.5f}, {"75", false, 0}, {"abc", false, 0}, {"", false, 0}, {"1.234,5", false, 0}, {"e1", true, 10.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    fake->ClearCalls();
    TypeAndLeave(kDampingEdit, c.typed, kDistanceEdit);
    std::vector<FakeCall> writes = fake->CallsOf("WriteDeviceParameterEx", kFakeDamping);
    if (c.written) {
      ASSERT_EQ(writes.size(), 1u);
      EXPECT_FLOAT_EQ(writes[0].argument.fltVal, c.value);
      fake->Deliver();
      EXPECT_FLOAT_EQ(fake->Parameter(kFakeDamping)->deviceValue.fltVal, c.value);
      EXPECT_EQ(GetFocus(), Item(kDistanceEdit));
      EXPECT_EQ(ui->StateOf(kFakeDamping) & 0x4, 0u);
    } else {
      EXPECT_TRUE(writes.empty());
      EXPECT_EQ(fake->CountOf("WriteDeviceParameter"), 0u);
      EXPECT_EQ(ui->StateOf(kFakeDamping) & 0x4, 0x4u) << "marked invalid";
      EXPECT_EQ(GetFocus(), Item(kDampingEdit)) << "the user is back at the field";
      EXPECT_EQ(ui->SetFocusToControl(), E_FAIL);
    }
  }

  // An offline dialog keeps what is typed in the data set, validated, and never writes the device.
  ui->SetDialogType(0x2 | 0x8);
  fake->ClearCalls();
  TypeAndLeave(kUpperEdit, "3,5", kTagEdit);
  TypeAndLeave(kLoopEdit, "2 mA", kTagEdit);
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeUpperRange)->value.fltVal, 3.5f);
  EXPECT_EQ(fake->Parameter(kFakeLoopCurrent)->value.bVal, 2);
  EXPECT_EQ(fake->CountOf("WriteDeviceParameterEx"), 0u);
  EXPECT_EQ(ui->SetFocusToControl(), S_OK);
}

// A program write is no input: the change it makes the control send arrives while the flag is
// set and marks nothing, and the flag is clear again after every write, failed ones included.
TEST_F(ValuesTest, ProgramWritesAreNoInputAndAlwaysClearTheUpdateFlag) {
  Open(0x2 | 0x8, dsCONFIGURED);
  EXPECT_EQ(ui->SetControlValueById(kFakeDamping, Of(VT_R4, 3)), S_OK);
  EXPECT_FALSE(ui->Updating());
  vkr::ui::Click(Item(kDampingEdit));
  vkr::ui::TypeText(Item(kDampingEdit), "1");
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(ui->log, (std::vector<std::string>{"change 201 while updating", "change 201", "dirty"}));

  struct Failing {
    ULONG id;
    Variant value;
  } failing[] = {
      {kFakeAddressing, TextOf(u"maybe")},    // no truth value
      {kFakePvUnit, TextOf(u"ft")},           // no number to look up
      {kFakeDeviceStatus, Of(VT_R8, -1e12)},  // no bit set
      {0xDEAD, Of(VT_I4, 1)},                 // no entry
  };
  for (const Failing& f : failing) {
    ui->SetControlValueById(static_cast<LONG>(f.id), f.value);
    EXPECT_FALSE(ui->Updating()) << f.id;
  }
  ui->log.clear();
  ui->ReadAllParameters();
  EXPECT_FALSE(ui->Updating());
  for (const std::string& entry : ui->log) EXPECT_EQ(entry.find("dirty"), std::string::npos) << entry;
}

// A hosted value control takes and gives the value itself, learns the language once, and is asked
// to take the focus when its entry holds refused input.
TEST_F(ValuesTest, AHostedValueControlIsServedThroughItsOwnInterface) {
  Open(0x2 | 0x8, dsCONFIGURED);
  ComPtr<IUnknown> header;
  ASSERT_EQ(ui->GetHostedControl(kHeader, IID_IUnknown, header.PutVoid()), S_OK);
  ULONG index = 0;
  while (ui->ParameterTable()[index].m_nCtrlId != kHeader) ++index;
  EXPECT_EQ(ui->SetControlValue(static_cast<LONG>(index), Of(VT_R8, 7.25)), S_OK);
  Variant back;
  EXPECT_EQ(ui->GetControlValue(index, &back), S_OK);
  EXPECT_TRUE(SameValue(back, Of(VT_R8, 7.25)));
  EXPECT_EQ(ui->FillControlChoices(index), S_OK);
  EXPECT_EQ(ui->FillControlChoices(index), S_OK);
  ui->ParameterTable()[index].m_nState = 0x5;
  EXPECT_EQ(ui->SetFocusToControl(), S_OK);  // the control did not take the focus

  std::vector<std::string> calls = vkr::frame::RecordedCalls(header.Get());
  auto count = [&calls](std::string_view start) {
    return std::count_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(start, 0) == 0; });
  };
  EXPECT_EQ(count("SetLanguage 1033"), 1);
  EXPECT_EQ(count("SetValue 2002 R8 12.500"), count("SetValue 2002") - 1);  // what the DTM holds, then 7.25
  EXPECT_EQ(count("SetValue 2002 R8 7.250"), 1);
  EXPECT_EQ(count("GetValue 2002"), 1);
  EXPECT_EQ(count("SelectValue 1"), 1);
  EXPECT_EQ(Shown(kDistanceEdit), "12.50 m");  // the window control of the same parameter
}

// Where the two descriptions of these operations disagree, the decisions taken.
TEST_F(ValuesTest, DecisionsOnConflictingDescriptions) {
  Open(0x2 | 0x8, dsCONFIGURED);
  // Bad arguments are errors, never S_OK without effect.
  const ULONG levelIndex = static_cast<ULONG>(ui->FindParameterIndex(kFakeDamping));
  EXPECT_EQ(ui->SetControlValue(99, Of(VT_I4, 1)), E_INVALIDARG);
  EXPECT_EQ(ui->SetComboBoxValue(levelIndex, Of(VT_I4, 1)), E_INVALIDARG);
  EXPECT_EQ(ui->SetListBoxValue(99, Of(VT_I4, 1)), E_INVALIDARG);
  Variant value;
  EXPECT_EQ(ui->GetCheckValue(levelIndex, &value), S_FALSE);
  EXPECT_EQ(ui->GetListValue(levelIndex, &value), S_FALSE);
  EXPECT_EQ(ui->GetControlValue(99, &value), S_FALSE);

  // A set of bits read from a list box is the OR of its items, not their sum.
  SendMessageA(Item(kOverlapList), LB_SETSEL, TRUE, 0);
  SendMessageA(Item(kOverlapList), LB_SETSEL, TRUE, 1);
  EXPECT_EQ(ui->GetControlValueById(kOverlapping, &value), S_OK);
  EXPECT_EQ(value.ulVal, 3u);

  // The user's own separator reads floats even where the system's differs; the other one makes
  // no number (in English "1,250" is no 1.25).
  struct Read {
    LCID user;
    const char* text;
    HRESULT result;
    float number;
  };
  for (const Read& r : {Read{1031, "2,5", S_OK, 2.5f}, Read{1031, "2.5", E_FAIL, 0.0f},
                        Read{1033, "2.5", S_OK, 2.5f}, Read{1033, "1,250", E_FAIL, 0.0f}}) {
    SCOPED_TRACE(r.text);
    vkr::platform::SetSystemDefaultLocale(r.user == 1033 ? 1031 : 1033);
    vkr::platform::SetUserDefaultLocale(r.user);
    float number = 0;
    SetDlgItemTextA(dialog, static_cast<int>(kDampingEdit), r.text);
    EXPECT_EQ(ui->GetDlgItemFloat(kDampingEdit, "%.1f", &number), r.result);
    if (r.result == S_OK) {
      EXPECT_FLOAT_EQ(number, r.number);
    }
  }

  // Equal values answer S_FALSE, different ones S_OK.
  EXPECT_EQ(ui->ConvertValue(Of(VT_I4, 5), Of(VT_I4, 5)), S_FALSE);
  EXPECT_EQ(ui->ConvertValue(Of(VT_I4, 5), Of(VT_I2, 5)), S_OK);
}

}  // namespace
}  // namespace vkr::test::ui

namespace vkr::test::ui {
namespace {

// The real DTM as its module makes it, online through the stand-in frame's channel to the simulated
// transmitter, with the test user interface on it.
class ValuesWithRealDtm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(classes.Register(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, dtm.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IDtm::iid, idtm.PutVoid()), S_OK);
    ASSERT_EQ(MakeObject<vkr::frame::FrameContainer>(&frame), S_OK);
    ASSERT_EQ(MakeObject<vkr::frame::FrameChannel>(&channel), S_OK);
    channel->fdt121 = true;
    device = channel->devices.front();
    ComPtr<IDtm2> idtm2;
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid()), S_OK);
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(persist->InitNew(), S_OK);
    ASSERT_EQ(idtm2->Environment2(Bstr(vkr::frame::kSystemTag), frame.Get(), Bstr(vkr::frame::kFrameVersion), &result), S_OK);
    ASSERT_EQ(idtm->InitNew(Bstr(vkr::frame::kDeviceType), &result), S_OK);
    ASSERT_EQ(idtm->Config(Bstr(vkr::frame::kUserInformation), &result), S_OK);
    ASSERT_EQ(idtm->SetCommunication(channel.Get(), &result), S_OK);
  }
  void TearDown() override {
    if (idtm) {
      VARIANT_BOOL result = VARIANT_FALSE;
      // As a frame does: the communication goes back once the DTM said it may.
      const std::size_t seen = frame->notifications.size();
      if (DtmState(dtm.Get()) == dsONLINE && idtm->PrepareToReleaseCommunication(&result) == S_OK)
        frame->WaitForNotification("prepared to release communication", seen, 20000);
      if (DtmState(dtm.Get()) == dsCOMMUNICATIONSET) idtm->ReleaseCommunication(&result);
      idtm->PrepareToRelease(&result);
    }
    idtm = nullptr;
    dtm = nullptr;
    classes.Revoke();
    channel = nullptr;
    frame = nullptr;
    vkr::test::DrainQueue();
    CoUninitialize();
    vkr::platform::SetSystemDefaultLocale(1033);
    vkr::platform::SetUserDefaultLocale(1033);
  }

  vkr::test::ModuleClasses classes;
  ComPtr<IUnknown> dtm;
  ComPtr<IDtm> idtm;
  ComPtr<ComObject<vkr::frame::FrameContainer>> frame;
  ComPtr<ComObject<vkr::frame::FrameChannel>> channel;
  std::shared_ptr<vkr::frame::SimulatedDevice> device;
};

// In de-DE, a value read from the transmitter shows with a decimal comma, and a damping typed with
// one reaches the transmitter as the float it means when the field is left.
TEST_F(ValuesWithRealDtm, ATypedValueInTheLocalesFormReachesTheTransmitter) {
  vkr::platform::SetSystemDefaultLocale(1031);
  vkr::platform::SetUserDefaultLocale(1031);
  device->config.damping = 0.75f;  // the data set holds 0, the typed value will be 2.5
  ASSERT_EQ(GoOnline(dtm.Get()), S_OK);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return DtmState(dtm.Get()) == dsONLINE; }, 20000));

  vkr::test::TestUserInterfaceHost host;
  CTestUserInterface* ui = host.Ui();
  ui->SetDialogType(0x4 | 0x8);
  ui->ExecuteCommand(UI4(9988), I4(2));
  ASSERT_EQ(host.Open(dtm.Get()), S_OK);
  ui->ApplyOnlineAccess(TRUE);
  // The loop current read from the transmitter (command 3), with the decimal comma.
  std::string current = std::to_string(std::lround(device->LoopCurrent() * 1000.0f));
  current = current.substr(0, current.size() - 3) + "," + current.substr(current.size() - 3);
  EXPECT_EQ(host.Text(vkr::test::kTestCurrentValueText), current);

  vkr::ui::Click(host.Item(vkr::test::kTestDampingEdit));
  SendMessageA(host.Item(vkr::test::kTestDampingEdit), EM_SETSEL, 0, -1);
  vkr::ui::TypeText(host.Item(vkr::test::kTestDampingEdit), "2,5");
  vkr::ui::Click(host.Item(vkr::test::kTestUpperRangeEdit));
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return device->config.damping == 2.5f; }, 20000)) << device->config.damping;
  // Command 34 carried the damping alone, as the IEEE float 2.5 in big-endian order.
  const vkr::frame::SimulatedDevice::Received* write = nullptr;
  for (const auto& r : device->received)
    if (r.command == 34) write = &r;
  ASSERT_NE(write, nullptr);
  EXPECT_EQ(write->request, (vkr::frame::Bytes{0x40, 0x20, 0x00, 0x00}));
  EXPECT_EQ(ui->Entry(vkr::test::kEntryDamping).m_nState & 0x4, 0u);
}

// On the test dialog over the fake DTM: a command entry's push button keeps its caption whatever
// value its parameter holds; a check box reads back in its parameter's type (1 for a number, the
// true of VT_BOOL for a flag), so that a checked box on a 0-1 number passes the DTM's validation.
TEST(TestDialogValues, CommandButtonsKeepTheirCaptionAndCheckBoxesReadBackInTheParametersType) {
  auto fake = FakeUiDtm::Create();
  {
    vkr::test::TestUserInterfaceHost host;
    CTestUserInterface& ui = *host.Ui();
    ASSERT_EQ(host.Open(fake->GetControllingUnknown()), S_OK);
    fake->Deliver();
    VARIANT zero = vkr::EmptyVariant();
    zero.vt = VT_UI1;
    EXPECT_EQ(ui.SetControlValue(vkr::test::kEntryRefreshButton, zero), S_OK);
    EXPECT_EQ(ui.SetControlValueById(vkr::test::kTestRefreshButtonId, zero), S_OK);
    EXPECT_EQ(host.Text(vkr::test::kTestRefreshButton), "Refresh");

    struct Case {
      LONG entry;
      UINT check;
      VARTYPE vt;
      LONG value;
    } const cases[] = {
        {vkr::test::kEntryPrimaryMaster, BST_CHECKED, VT_UI1, 1},
        {vkr::test::kEntryPrimaryMaster, BST_UNCHECKED, VT_UI1, 0},
        {vkr::test::kEntryAddressing, BST_CHECKED, VT_BOOL, VARIANT_TRUE},
        {vkr::test::kEntryAddressing, BST_UNCHECKED, VT_BOOL, VARIANT_FALSE},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE("entry " + std::to_string(c.entry) + " check " + std::to_string(c.check));
      SendMessageW(host.Item(ui.Entry(c.entry).m_nCtrlId), BM_SETCHECK, c.check, 0);
      vkr::Variant read;
      ASSERT_EQ(ui.GetControlValue(static_cast<ULONG>(c.entry), read.Put()), S_OK);
      EXPECT_EQ(read.vt, c.vt);
      EXPECT_EQ(c.vt == VT_BOOL ? LONG{read.boolVal} : LONG{read.bVal}, c.value);
      ULONG result = 0;
      ASSERT_EQ(fake->ValidateParameter(UI4(static_cast<ULONG>(ui.Entry(c.entry).m_nParamId)), read, &result), S_OK);
      EXPECT_EQ(result & 0x4, 0u) << "refused";
    }
  }
  fake->DetachAll();
}

}  // namespace
}  // namespace vkr::test::ui

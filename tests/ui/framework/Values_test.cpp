// Values between parameters and controls: a dialog of every kind of field over the fake DTM, driven
// as a person drives it (typing, leaving a field), in both supported locales.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "tests/support/fake_ui_dtm.h"
#include "ui/framework/BaseActiveX.h"

namespace vkr::test::ui {
namespace {

enum : UINT {
  kLevelEdit = 201, kLevelUnit = 301, kDampingEdit = 202, kCounterEdit = 203, kUnitCombo = 204, kAlarmList = 205,
  kAlarmText = 211, kUnitText = 212, kProtectCheck = 206, kSerialEdit = 207, kDateEdit = 208, kTagEdit = 209,
  kOffsetEdit = 210, kOverlapList = 213,
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
  EDITTEXT 211, 100, 75, 120, 12
  LTEXT "", 212, 100, 55, 80, 8
  AUTO3STATE "Write protect", 206, 10, 120, 80, 10
  EDITTEXT 207, 10, 135, 80, 12
  EDITTEXT 208, 10, 150, 80, 12
  EDITTEXT 209, 10, 165, 80, 12
  EDITTEXT 210, 100, 165, 80, 12
  LISTBOX 213, 200, 10, 80, 40, LBS_MULTIPLESEL | LBS_NOTIFY
END
)";

CActXParInfo* ValuesMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(kFakeLevel, "Level", kLevelEdit, "%.3f", 0x71, FALSE, 0, kLevelUnit),
      CActXParInfo(kFakeDamping, "Damping", kDampingEdit, "%.2f s", 0x71, FALSE, 0),
      CActXParInfo(kFakeCounter, "Counter", kCounterEdit, "%u", 0x71, FALSE, 0),
      CActXParInfo(kFakeUnitCode, "Unit", kUnitCombo, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeUnitCode, "Unit text", kUnitText, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeAlarms, "Alarms", kAlarmList, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeAlarms, "Alarms text", kAlarmText, "", 0x71, FALSE, 0),
      CActXParInfo(kFakeWriteProtect, "Write protect", kProtectCheck, "%d", 0x71, FALSE, 0),
      CActXParInfo(kFakeSerial, "Serial", kSerialEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeDate, "Date", kDateEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeTag, "Tag", kTagEdit, "%s", 0x71, FALSE, 0),
      CActXParInfo(kFakeOffset, "Offset", kOffsetEdit, "%d mm", 0x71, FALSE, 0),
      CActXParInfo(kOverlapping, "Overlapping", kOverlapList, "", 0x71, FALSE, 0),
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
    vkr::ui::PumpUntilIdle();
    SetLocales(1033);
  }
  void Open(ULONG dialogType, EDtmState state) {
    fake->SetState(state);
    ui->SetDialogType(dialogType);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(ui->InitializeUI(static_cast<IovFdtParameterHandler4*>(fake.Get()), &ok), S_OK);
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
  EXPECT_EQ(Shown(kUnitCombo), "Meter");  // the values read at start-up
  EXPECT_EQ(Shown(kAlarmList), "Low | Very High");
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
        {kFakeLevel, kLevelEdit, Of(VT_R4, 12.5), de ? "12,500" : "12.500"},
        {kFakeDamping, kDampingEdit, Of(VT_R8, 3.25), de ? "3,25 s" : "3.25 s"},
        {kFakeCounter, kCounterEdit, Of(VT_UI4, 4000000), "4000000"},
        {kFakeUnitCode, kUnitCombo, Of(VT_UI1, 2), "Feet"},
        {kFakeUnitCode, kUnitText, Of(VT_UI1, 3), "Inch"},
        {kFakeAlarms, kAlarmList, Of(VT_UI2, 6), "High | Very High"},
        {kFakeAlarms, kAlarmText, Of(VT_UI2, 6), "High | Very High"},  // "High" within "Very High"
        {kFakeWriteProtect, kProtectCheck, Of(VT_BOOL, 1), "checked"},   // a 3-state box is a check box
        {kFakeWriteProtect, kProtectCheck, Of(VT_BOOL, 0), "unchecked"},
        {kFakeSerial, kSerialEdit, ByteArray({0x01, 0xAB, 0xFF}), "01 AB FF "},
        {kFakeDate, kDateEdit, Of(VT_DATE, 46016), de ? "25.12.2025" : "12/25/2025"},
        {kFakeTag, kTagEdit, TextOf(u"F\u00fcll-1"), "F\xc3\xbcll-1"},
        {kFakeOffset, kOffsetEdit, Of(VT_I2, -42), "-42 mm"},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(ui->SetControlValueById(static_cast<LONG>(c.id), c.value), S_OK) << c.id;
      // The alarms show in a list and a text field alike.
      if (c.field == kAlarmList) {
        EXPECT_EQ(Shown(kAlarmText), c.shown);
      }
      EXPECT_EQ(Shown(c.field), c.shown) << c.id;
      LONG index = ui->FindParameterIndex(static_cast<LONG>(c.id));
      while (ui->ParameterTable()[index].m_nCtrlId != c.field) ++index;
      Variant back;
      EXPECT_EQ(ui->GetControlValue(static_cast<ULONG>(index), &back), S_OK) << c.id;
      EXPECT_TRUE(SameValue(back, c.value)) << c.id << " read back as vt " << back.vt;
    }
    EXPECT_EQ(Shown(kLevelUnit), "m");
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
      {"7,5", true, 7.5f}, {"25", false, 0}, {"abc", false, 0}, {"", false, 0}, {"1.234,5", false, 0}, {"e1", true, 10.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    fake->ClearCalls();
    TypeAndLeave(kLevelEdit, c.typed, kDampingEdit);
    std::vector<FakeCall> writes = fake->CallsOf("WriteDeviceParameterEx", kFakeLevel);
    if (c.written) {
      ASSERT_EQ(writes.size(), 1u);
      EXPECT_FLOAT_EQ(writes[0].argument.fltVal, c.value);
      fake->Deliver();
      EXPECT_FLOAT_EQ(fake->Parameter(kFakeLevel)->deviceValue.fltVal, c.value);
      EXPECT_EQ(GetFocus(), Item(kDampingEdit));
      EXPECT_EQ(ui->StateOf(kFakeLevel) & 0x4, 0u);
    } else {
      EXPECT_TRUE(writes.empty());
      EXPECT_EQ(fake->CountOf("WriteDeviceParameter"), 0u);
      EXPECT_EQ(ui->StateOf(kFakeLevel) & 0x4, 0x4u) << "marked invalid";
      EXPECT_EQ(GetFocus(), Item(kLevelEdit)) << "the user is back at the field";
      EXPECT_EQ(ui->SetFocusToControl(), E_FAIL);
    }
  }

  // An offline dialog keeps what is typed in the data set, validated, and never writes the device.
  ui->SetDialogType(0x2 | 0x8);
  fake->ClearCalls();
  TypeAndLeave(kLevelEdit, "3,5", kDampingEdit);  // leaves the refused input behind first
  TypeAndLeave(kOffsetEdit, "-7 mm", kTagEdit);
  EXPECT_EQ(fake->Parameter(kFakeOffset)->value.iVal, -7);
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeLevel)->value.fltVal, 3.5f);
  EXPECT_EQ(fake->CountOf("WriteDeviceParameterEx"), 0u);
  EXPECT_EQ(ui->SetFocusToControl(), S_OK);
}

// A program write is no input: the change it makes the control send arrives while the flag is
// set and marks nothing, and the flag is clear again after every write, failed ones included.
TEST_F(ValuesTest, ProgramWritesAreNoInputAndAlwaysClearTheUpdateFlag) {
  Open(0x2 | 0x8, dsCONFIGURED);
  EXPECT_EQ(ui->SetControlValueById(kFakeLevel, Of(VT_R4, 3)), S_OK);
  EXPECT_FALSE(ui->Updating());
  vkr::ui::Click(Item(kLevelEdit));
  vkr::ui::TypeText(Item(kLevelEdit), "1");
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(ui->log, (std::vector<std::string>{"change 201 while updating", "change 201", "dirty"}));

  struct Failing {
    ULONG id;
    Variant value;
  } failing[] = {
      {kFakeWriteProtect, TextOf(u"maybe")},  // no truth value
      {kFakeUnitCode, TextOf(u"Feet")},       // no number to look up
      {kFakeAlarms, Of(VT_R8, -1e12)},        // no bit set
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

// Where the two descriptions of these operations disagree, the decisions taken.
TEST_F(ValuesTest, DecisionsOnConflictingDescriptions) {
  Open(0x2 | 0x8, dsCONFIGURED);
  // Bad arguments are errors, never S_OK without effect.
  const ULONG levelIndex = static_cast<ULONG>(ui->FindParameterIndex(kFakeLevel));
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

  // The user's own separator reads floats even where the system's differs; a ',' always does.
  vkr::platform::SetSystemDefaultLocale(1033);
  vkr::platform::SetUserDefaultLocale(1031);
  float number = 0;
  SetDlgItemTextA(dialog, kLevelEdit, "2,5");
  EXPECT_EQ(ui->GetDlgItemFloat(kLevelEdit, "%.1f", &number), S_OK);
  EXPECT_FLOAT_EQ(number, 2.5f);

  // Two labels, one inside the other: the text shown for one reads back as that one alone.
  EXPECT_EQ(ui->SetControlValueById(kFakeAlarms, Of(VT_UI2, 4)), S_OK);
  EXPECT_EQ(Shown(kAlarmText), "Very High");
  const ULONG textIndex = static_cast<ULONG>(ui->FindParameterIndex(kFakeAlarms) + 1);
  EXPECT_EQ(ui->GetListValue(textIndex, &value), S_OK);
  EXPECT_EQ(value.uiVal, 4u);

  // Equal values answer S_FALSE, different ones S_OK.
  EXPECT_EQ(ui->ConvertValue(Of(VT_I4, 5), Of(VT_I4, 5)), S_FALSE);
  EXPECT_EQ(ui->ConvertValue(Of(VT_I4, 5), Of(VT_I2, 5)), S_OK);
}

}  // namespace
}  // namespace vkr::test::ui

// The test user interface: its table, its dialog and the window that hosts it.
#include "tests/support/test_user_interface.h"

namespace vkr::test {

const CLSID CTestUserInterface::kClassId = vkr::MakeGuid("7A1F0C52-3E9B-4D61-8F20-5B6C7D8E9F01");

namespace {

// Kinds and options of the table.
constexpr ULONG kValue = 0;
constexpr ULONG kChoice = 4;
constexpr ULONG kCommand = 0x80000000;
constexpr ULONG kRadioLook = 0x10;
constexpr ULONG kCheckLook = 0x20;

// One dialog of 320 x 250 dialog units: labels left, value controls in the middle, display texts
// right; the two buttons at the bottom. Each status indicator goes left of its control, so the
// labels end short of the controls and no control stands where the indicator of the next one is.
constexpr const char kTemplate[] = R"(
9001 DIALOGEX 0, 0, 320, 250
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Damping", 400, 5, 7, 60, 8
  EDITTEXT 300, 80, 5, 70, 12, ES_AUTOHSCROLL
  LTEXT "", 500, 160, 7, 40, 8
  LTEXT "Upper range", -1, 5, 22, 60, 8
  EDITTEXT 301, 80, 20, 70, 12, ES_AUTOHSCROLL
  LTEXT "Tag", -1, 5, 37, 60, 8
  EDITTEXT 302, 80, 35, 70, 12, ES_AUTOHSCROLL
  LTEXT "Message", -1, 5, 52, 60, 8
  EDITTEXT 303, 80, 50, 160, 12, ES_AUTOHSCROLL
  LTEXT "Short address", -1, 5, 67, 60, 8
  EDITTEXT 304, 80, 65, 40, 12, ES_AUTOHSCROLL
  LTEXT "PV unit", -1, 5, 82, 60, 8
  COMBOBOX 305, 80, 80, 70, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "", 311, 160, 82, 80, 8
  LTEXT "Device status", -1, 5, 97, 60, 8
  LISTBOX 306, 80, 95, 100, 40, LBS_MULTIPLESEL | LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP
  AUTOCHECKBOX "Addressing", 307, 80, 140, 80, 10, BS_AUTOCHECKBOX | BS_NOTIFY | WS_TABSTOP
  CONTROL "Primary master", 308, "Button", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, 80, 153, 65, 10
  CONTROL "Loop current", 309, "Button", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, 170, 153, 80, 10
  LTEXT "Date", -1, 5, 170, 60, 8
  EDITTEXT 310, 80, 168, 70, 12, ES_AUTOHSCROLL
  LTEXT "Distance", -1, 5, 185, 60, 8
  EDITTEXT 312, 80, 183, 70, 12, ES_AUTOHSCROLL
  LTEXT "Current value", -1, 5, 200, 60, 8
  LTEXT "", 314, 80, 200, 70, 8
  PUSHBUTTON "Refresh", 313, 80, 225, 50, 14
  PUSHBUTTON "Apply", 102, 140, 225, 50, 14
END
)";

// One table in TestEntry's order from the ids of each entry.
struct TestIds {
  LONG damping, upperRange, tag, message, shortAddress, pvUnit, deviceStatus, addressing, primaryMaster, loopCurrent,
      currentValue, date, distance;
  const char* distanceFormat;
};

void FillTable(CActXParInfo (&entries)[kTestEntryCount + 1], const TestIds& ids) {
  auto set = [&entries](LONG index, LONG id, const char* name, UINT ctrl, const char* format, ULONG kind,
                        BOOL indicator, UINT textCtrl = 0, UINT extraCtrl = 0) {
    entries[index] = CActXParInfo(id, name, ctrl, format, 0x71, indicator, kind, textCtrl, extraCtrl);
  };
  set(kEntryDamping, ids.damping, "Damping Value", kTestDampingEdit, "%.2f", kValue, TRUE, kTestDampingUnit,
      kTestDampingLabel);
  set(kEntryUpperRange, ids.upperRange, "Upper range", kTestUpperRangeEdit, "%.3f", kValue, TRUE);
  set(kEntryTag, ids.tag, "Tag", kTestTagEdit, "%s", kValue, TRUE);
  set(kEntryMessage, ids.message, "Message", kTestMessageEdit, "", kValue, TRUE);
  set(kEntryShortAddress, ids.shortAddress, "Short address", kTestShortAddressEdit, "%d", kValue, TRUE);
  set(kEntryPvUnit, ids.pvUnit, "PV unit", kTestPvUnitCombo, "", kChoice, TRUE);
  set(kEntryPvUnitText, ids.pvUnit, "PV unit text", kTestPvUnitText, "", kChoice, FALSE);
  set(kEntryDeviceStatus, ids.deviceStatus, "DeviceStatus", kTestDeviceStatusList, "", kChoice, TRUE);
  set(kEntryAddressing, ids.addressing, "Addressing type", kTestAddressingCheck, "", kValue, TRUE);
  set(kEntryPrimaryMaster, ids.primaryMaster, "Primary master", kTestPrimaryMasterButton, "", kCheckLook, TRUE);
  set(kEntryLoopCurrent, ids.loopCurrent, "Loop current", kTestLoopCurrentButton, "", kRadioLook, TRUE);
  set(kEntryCurrentValue, ids.currentValue, "Current value", kTestCurrentValueText, "%.3f", kValue, FALSE);
  entries[kEntryCurrentValue].m_nUpdateRate = 1000;
  set(kEntryDate, ids.date, "Calibration date", kTestDateEdit, "", kValue, TRUE);
  set(kEntryDistance, ids.distance, "Distance", kTestDistanceEdit, ids.distanceFormat, kValue, TRUE);
  set(kEntryRefreshButton, kTestRefreshButtonId, "Button Refresh", kTestRefreshButton, "", kCommand, FALSE);
  set(kEntryActivateSend, kTestActivateSendId, "Activate Button Send", 0, "", kCommand, FALSE);
}

CActXParInfo* HandOut(CActXParInfo* table, int* count, BOOL copy) {
  if (!copy) {
    if (count) *count = kTestEntryCount;
    return table;
  }
  return CopyParameterTable(table, count);
}

}  // namespace

CActXParInfo* CTestUserInterface::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[kTestEntryCount + 1];
  static const bool filled = [] {
    FillTable(entries, {kTestDampingId, kTestUpperRangeId, kTestTagId, kTestMessageId, kTestShortAddressId,
                        kTestPvUnitId, kTestDeviceStatusId, kTestAddressingId, kTestPrimaryMasterId,
                        kTestLoopCurrentId, kTestCurrentValueId, kTestDateId, kTestDistanceId, "%.1f"});
    return true;
  }();
  (void)filled;
  return HandOut(entries, count, copy);
}

const char* CTestUserInterface::DialogTemplateText() { return kTemplate; }

CTestUserInterface::CTestUserInterface(EUiFamily family, ParameterMapFunction map)
    : CovFDT_BaseActiveXImpl(kClassId, map, family) {
  m_nApplyButtonId = kTestApplyButton;
}

CTestUserInterface::~CTestUserInterface() { DestroyDialogWindow(); }

HWND CTestUserInterface::CreateDialogWindow(HWND parent) {
  if (m_hWndDialog) return m_hWndDialog;
  return CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(kTemplate), parent,
                                    &CTestUserInterface::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CTestUserInterface::DestroyDialogWindow() {
  HWND dialog = m_hWndDialog;
  if (!dialog) return;
  if (IsWindow(dialog)) DestroyWindow(dialog);
  AttachDialogWindow(nullptr);
}

INT_PTR CTestUserInterface::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  CTestUserInterface* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CTestUserInterface*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    self->AttachDialogWindow(dialog);
    return TRUE;
  }
  self = reinterpret_cast<CTestUserInterface*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_NCDESTROY) {
    self->AttachDialogWindow(nullptr);
    return FALSE;
  }
  LRESULT result = 0;
  if (!self->ProcessWindowMessage(dialog, message, wParam, lParam, &result)) return FALSE;
  switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
      return static_cast<INT_PTR>(result);
    default:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

HRESULT CTestUserInterface::ReportError(BSTR text) {
  errors.emplace_back(text ? std::u16string(text, SysStringLen(text)) : std::u16string());
  return S_OK;
}

HRESULT CTestUserInterface::NotifyStatus(ULONG kind, ULONG value) {
  statuses.emplace_back(kind, value);
  return S_OK;
}

HRESULT CTestUserInterface::EnableApplyButton(BOOL enable) {
  applyButtonChanges.push_back(enable);
  return CovFDT_BaseActiveXImpl::EnableApplyButton(enable);
}

HRESULT CTestUserInterface::SetInfo(VARIANT id, VARIANT* value) {
  if (!functionCall.empty() && id.vt == VT_UI4 && id.ulVal == 1 && value) {
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(functionCall.data(), static_cast<UINT>(functionCall.size()));
    return value->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  return CovFDT_BaseActiveXImpl::SetInfo(id, value);
}

TestUserInterfaceHost::TestUserInterfaceHost(EUiFamily family, ParameterMapFunction map, int width, int height) {
  vkr::ComPtr<vkr::ComObject<CTestUserInterface>> ui;
  vkr::MakeObject<CTestUserInterface>(&ui, family, map);
  m_ui = ui.Get();
  if (m_ui) m_ui->QueryInterface(IID_IUnknown, m_hold.PutVoid());
  MakeWindow(width, height);
}

TestUserInterfaceHost::TestUserInterfaceHost(CTestUserInterface* ui, int width, int height) : m_ui(ui) {
  if (m_ui) m_ui->QueryInterface(IID_IUnknown, m_hold.PutVoid());
  MakeWindow(width, height);
}

void TestUserInterfaceHost::MakeWindow(int width, int height) {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = &DefWindowProcW;
    wc.lpszClassName = u"VkrTestUserInterfaceHost";
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  m_window = CreateWindowExW(WS_EX_CONTROLPARENT, u"VkrTestUserInterfaceHost", u"user interface",
                             WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr, nullptr, nullptr);
  if (m_ui) m_ui->CreateDialogWindow(m_window);
}

TestUserInterfaceHost::~TestUserInterfaceHost() {
  if (m_ui) {
    if (m_opened) m_ui->UninitializeUI(nullptr);
    m_ui->DestroyDialogWindow();
  }
  if (m_window && IsWindow(m_window)) DestroyWindow(m_window);
  m_ui = nullptr;
  m_hold = nullptr;
}

std::string TestUserInterfaceHost::Text(UINT controlId) const {
  char text[1024] = {};
  GetDlgItemTextA(Dialog(), static_cast<int>(controlId), text, sizeof text);
  return text;
}

HRESULT TestUserInterfaceHost::Open(IUnknown* dtm) {
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = m_ui->InitializeUI(dtm, &ok);
  m_opened = true;
  return hr;
}

}  // namespace vkr::test

// The Values page: its table, its decoder of the command 3 answer and the cyclic reading while it
// is shown.
#include "ui/device/ValuesPP.h"

#include <cstdio>
#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kNoControl = 0x80000000;

SPropertyPageClass ValuesClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_ValuesPP;
  c.parameterMap = &CValuesPP::GetParameterMap;
  c.dialogId = kValuesDialogId;
  c.controlNames = vkr::dui::kValuesControlNames;
  c.titleId = kValuesTitleId;
  c.helpFileId = kValuesHelpFileId;
  c.docStringId = kValuesDocStringId;
  return c;
}

void ShowFloat(HWND dialog, UINT controlId, float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
  ::SetDlgItemTextA(dialog, static_cast<int>(controlId), text);
}

}  // namespace

SCommand3Response DecodeCommand3(std::span<const BYTE> data) {
  const CByteReader reader(data);
  SCommand3Response answer;
  answer.loopCurrent = reader.Float(0);
  // A variable is its unit with its value: a unit alone would relabel the value shown before.
  for (std::size_t k = 0; k < answer.variables.size(); ++k) {
    answer.variables[k].value = reader.Float(5 + 5 * k);
    if (answer.variables[k].value) answer.variables[k].unit = reader.U8(4 + 5 * k);
  }
  return answer;
}

ULONG ValuesRefreshPeriod() { return ProcessValueUpdatePeriod(kValuesDefaultPeriod); }

ULONG ProcessValueUpdatePeriod(ULONG fallback) {
  ULONG period = fallback;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kValuesSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExA(key, kValuesPeriodValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value)
      period = value;
    RegCloseKey(key);
  }
  return period < kValuesShortestPeriod ? kValuesShortestPeriod : period;
}

CValuesPP::CValuesPP() : CDevicePropertyPage(ValuesClass()) { m_nDialogType = kDialogTypeOnlineReading; }

CValuesPP::~CValuesPP() = default;

CActXParInfo* CValuesPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[2];
  static const bool filled = [] {
    entries[0] = CActXParInfo(kParCommand3Complete, "Command 3 complete", 0, "", 113, FALSE, kNoControl);
    // entries[1]: the end entry (id -1) as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 1;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

HRESULT CValuesPP::ReadParameter(LONG index) { return ReadParameterOnline(index); }

ULONG CValuesPP::RefreshPeriod() const {
  const LONG index = FindParameterIndex(kParCommand3Complete);
  return index < 0 ? 0 : m_pParInfo[index].m_nUpdateRate;
}

HRESULT CValuesPP::SetControlValueById(LONG id, VARIANT value) {
  CUpdatingControls updating(*this);
  if (id != kParCommand3Complete) return CDevicePropertyPage::SetControlValueById(id, value);
  std::vector<BYTE> bytes;
  const HRESULT hr = ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  const SCommand3Response answer = DecodeCommand3(bytes);
  if (answer.loopCurrent) ShowFloat(m_hWndDialog, kValuesCurrentEdit, *answer.loopCurrent);
  for (std::size_t k = 0; k < answer.variables.size(); ++k) {
    const auto& variable = answer.variables[k];
    if (variable.unit) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(kValuesUnitTexts[k]), UnitText(*variable.unit).c_str());
    if (variable.value) ShowFloat(m_hWndDialog, kValuesValueEdits[k], *variable.value);
  }
  return S_OK;
}

BOOL CValuesPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                     DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_SHOWWINDOW) {
    BOOL handled = TRUE;
    OnShowWindow(message, wParam, lParam, &handled);
    if (handled) {
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

HRESULT CValuesPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  // Shown, the values follow the device; hidden, the device is left alone (nobody sees them).
  ChangeUpdateRate(kParCommand3Complete, wParam ? ValuesRefreshPeriod() : 0);
  // The fields wait from here: a read that fails at once says so in them.
  {
    CUpdatingControls updating(*this);
    SetLoadingText(m_hWndDialog, {kValuesCurrentEdit, kValuesValueEdits[0], kValuesValueEdits[1],
                                  kValuesValueEdits[2], kValuesValueEdits[3]});
  }
  UpdatePlaceholders();
  // The cyclic reading brings its first answer only after a whole period (ten seconds by
  // default): one read now fills the page as it comes up.
  if (wParam && m_spDtm && m_nDtmState == kDtmStateOnline) {
    VARIANT_BOOL read = VARIANT_FALSE;
    m_spDtm->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(kParCommand3Complete)), &read);
  }
  return CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
}

void CValuesPP::UpdatePlaceholders() {
  CUpdatingControls updating(*this);
  MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(),
                    {kValuesCurrentEdit, kValuesValueEdits[0], kValuesValueEdits[1], kValuesValueEdits[2],
                     kValuesValueEdits[3]});
}

std::vector<UINT> CValuesPP::LiveFieldsOfRead(LONG id) const {
  if (id != kParCommand3Complete) return {};
  return {kValuesCurrentEdit, kValuesValueEdits[0], kValuesValueEdits[1], kValuesValueEdits[2], kValuesValueEdits[3]};
}

void CValuesPP::OnDeviceOnline() {
  if (!m_spDtm || !m_hWndDialog || !::IsWindowVisible(m_hWndDialog)) return;
  VARIANT_BOOL read = VARIANT_FALSE;
  m_spDtm->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(kParCommand3Complete)), &read);
}

}  // namespace vkr::dui

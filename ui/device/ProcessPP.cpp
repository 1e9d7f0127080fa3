// The Process / Output page: its table, its decoders of the command 1, 2 and 15 answers, the
// values it builds from its controls, and its refresh and send.
#include "ui/device/ProcessPP.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kSelectionList = 4;
constexpr ULONG kNoControl = 0x80000000;
constexpr const char* kFloatFormat = "%.3f";

// Table indices the page's code names.
constexpr LONG kEntryPvUnitUser = 0;
constexpr LONG kEntryDampingUser = 3;
constexpr LONG kEntryRangeValues = 4;

SPropertyPageClass ProcessClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_ProcessPP;
  c.parameterMap = &CProcessPP::GetParameterMap;
  c.dialogId = kProcessDialogId;
  c.controlNames = vkr::dui::kProcessControlNames;
  c.titleId = kProcessTitleId;
  c.helpFileId = kProcessHelpFileId;
  c.docStringId = kProcessDocStringId;
  return c;
}

VARIANT R4(float value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

// A pressed frame button: a non-zero VT_UI1.
bool IsPressed(const VARIANT& value) { return value.vt == VT_UI1 && value.bVal != 0; }

}  // namespace

CProcessPP::CProcessPP() : CDevicePropertyPage(ProcessClass()) {
  // Online reading: the base reads every entry again when the DTM reports it is online (message 67).
  m_nDialogType = kDialogTypeOnlineReading;
}

CProcessPP::~CProcessPP() = default;

CActXParInfo* CProcessPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[14];
  static const bool filled = [] {
    entries[0] = CActXParInfo(kParPvUnitUser, "PV unit user", kProcessUnitCombo, "", 0, TRUE, kSelectionList);
    entries[1] = CActXParInfo(kParUpperRange, "Upper range", kProcessUpperRangeEdit, kFloatFormat, 0, TRUE, 0);
    entries[2] = CActXParInfo(kParLowerRange, "Lower range", kProcessLowerRangeEdit, kFloatFormat, 0, TRUE, 0);
    entries[3] = CActXParInfo(kParDampingUser, "Damping value user", kProcessDampingEdit, kFloatFormat, 0, TRUE, 0);
    entries[4] = CActXParInfo(kParRangeValues, "Range values", 0, "", 0, FALSE, kNoControl);
    entries[5] = CActXParInfo(kParRangeUnit, "Range unit", 0, "", 0, FALSE, kNoControl);
    entries[6] = CActXParInfo(kParPvUnit, "PV unit", 0, "", 0, FALSE, kNoControl);
    entries[7] = CActXParInfo(kParDamping, "Damping value", 0, kFloatFormat, 0, FALSE, kNoControl);
    entries[8] = CActXParInfo(kParCommand1Complete, "Command 1 complete", 0, "", 0, FALSE, kNoControl);
    entries[9] = CActXParInfo(kParCommand2Complete, "Command 2 complete", 0, "", 0, FALSE, kNoControl);
    entries[10] = CActXParInfo(kParCommand15Complete, "Command 15 complete", 0, "", 0, FALSE, kNoControl);
    entries[11] = CActXParInfo(kParButtonRefresh, "Button Refresh", 0, "", 0, FALSE, kNoControl);
    entries[12] = CActXParInfo(kParButtonSend, "Button Send", 0, "", 0, FALSE, kNoControl);
    // entries[13]: the end entry (id -1, state 0x71, kind 0x80000000) as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 13;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

// ---- Start and end -----------------------------------------------------------------------------

HRESULT CProcessPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  m_nPvUnit = 0xFFFF;
  FillCodeCombo(m_hWndDialog, kProcessUnitCombo, LengthUnitItems());

  const HRESULT hr = CDevicePropertyPage::InitializeUI(dtm, ok);
  // The PV and the loop current follow the device while the page lives.
  ChangeUpdateRate(kParCommand1Complete, 5000);
  ChangeUpdateRate(kParCommand2Complete, 5000);
  return hr;
}

HRESULT CProcessPP::UninitializeUI(VARIANT_BOOL* ok) { return UninitializeStoppingResponses(ok); }

HRESULT CProcessPP::ReadParameter(LONG index) { return ReadParameterOnline(index); }

HRESULT CProcessPP::OnControlChange(UINT code, UINT controlId, HWND control) {
  return OnCommandPageControlChange(code, controlId, control);
}

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT CProcessPP::SetControlValueById(LONG id, VARIANT value) {
  // A late answer never overwrites what the user typed or chose and has not sent.
  if (IsUserEntry(id)) return S_OK;
  RemoveComboPlaceholder(m_hWndDialog, kProcessUnitCombo);
  CUpdatingControls updating(*this);

  switch (id) {
    case kParRangeUnit: {
      LONG code = 0;
      if (ReadNumber(value, &code)) {
        // Once the device gave its range unit, a new one is the device's unit changing (another
        // page wrote the PV unit, or read the range anew): the levels typed follow it.
        if (m_bRangeUnitKnown) FollowRangeUnit(static_cast<BYTE>(code & 0xFF));
        const std::string text = UnitText(static_cast<BYTE>(code & 0xFF));
        ::SetDlgItemTextA(m_hWndDialog, kProcessUpperUnitText, text.c_str());
        ::SetDlgItemTextA(m_hWndDialog, kProcessLowerUnitText, text.c_str());
      }
      return S_OK;
    }
    case kParCommand1Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand1Response answer = DecodeCommand1(bytes);
      if (answer.pvUnit) {
        // The unit text names the PV shown beside it: a unit without a PV leaves a PV shown
        // under the unit it came in.
        float shown = 0.0f;
        if (answer.pv || FAILED(GetDlgItemFloat(kProcessPvEdit, kFloatFormat, &shown)))
          ::SetDlgItemTextA(m_hWndDialog, kProcessPvUnitText, UnitText(*answer.pvUnit).c_str());
        StorePvUnitIfChanged(m_spDtm.Get(), *answer.pvUnit, &m_nPvUnit);
      }
      if (answer.pv) SetDlgItemFloat(kProcessPvEdit, kFloatFormat, *answer.pv);
      return S_OK;
    }
    case kParCommand2Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand2Response answer = DecodeCommand2(bytes);
      if (answer.loopCurrent) SetDlgItemFloat(kProcessLoopCurrentEdit, kFloatFormat, *answer.loopCurrent);
      if (answer.percentOfRange) SetDlgItemFloat(kProcessPercentEdit, kFloatFormat, *answer.percentOfRange);
      return S_OK;
    }
    case kParCommand15Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand15Response answer = DecodeCommand15(bytes);
      if (answer.transferFunction)
        ::SetDlgItemTextA(m_hWndDialog, kProcessTransferFunctionEdit,
                          TransferFunctionText(*answer.transferFunction).c_str());
      // The values come back to the page through their own entries; the levels typed follow a
      // unit that changed before the entries hear of it.
      if (answer.rangeUnit && m_bRangeUnitKnown) FollowRangeUnit(*answer.rangeUnit);
      StoreCommand15Values(m_spDtm.Get(), answer, &m_nRangeUnit);
      if (answer.rangeUnit) {
        m_bRangeUnitKnown = true;
        RecheckDistances();
      }
      return S_OK;
    }
    case kParPvUnitUser: {
      LONG code = 0;
      if (ReadNumber(value, &code)) SelectUnit(static_cast<BYTE>(code & 0xFF));
      return S_OK;
    }
    case kParButtonRefresh:
      if (AcceptRefresh(IsPressed(value), m_bShown != 0)) return OnRefresh();
      return S_OK;
    case kParButtonSend:
      if (AcceptSend(IsPressed(value), m_bShown != 0)) return OnSend();
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

// ---- Values from the controls ------------------------------------------------------------------

HRESULT CProcessPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  float number = 0.0f;
  switch (id) {
    case kParDamping:
    case kParDampingUser: {
      const HRESULT hr = GetDlgItemFloat(kProcessDampingEdit, m_pParInfo[kEntryDampingUser].m_pszFormat, &number);
      if (FAILED(hr)) return hr;
      VariantClear(value);
      *value = R4(number);
      return S_OK;
    }
    case kParUpperRange:
    case kParLowerRange: {
      const UINT control = id == kParUpperRange ? kProcessUpperRangeEdit : kProcessLowerRangeEdit;
      const HRESULT hr = GetDlgItemFloat(static_cast<LONG>(control), kFloatFormat, &number);
      if (FAILED(hr)) return hr;
      VariantClear(value);
      *value = R4(number);
      return S_OK;
    }
    case kParRangeValues: {
      // The record carries the range unit the device reported; without one there is no record
      // to write (unit 0 would change the device's unit).
      if (!m_bRangeUnitKnown) return E_FAIL;
      float upper = 0.0f, lower = 0.0f;
      HRESULT hr = GetDlgItemFloat(kProcessUpperRangeEdit, kFloatFormat, &upper);
      if (FAILED(hr)) return hr;
      hr = GetDlgItemFloat(kProcessLowerRangeEdit, kFloatFormat, &lower);
      if (FAILED(hr)) return hr;
      CByteWriter record;
      record.U8(m_nRangeUnit).Float(upper).Float(lower);
      return MakeByteArray(record.Data(), value);
    }
    case kParPvUnit:
    case kParPvUnitUser: {
      // The whole text, without regard to case, among the items.
      const std::string text = DialogItemText(m_hWndDialog, kProcessUnitCombo);
      const LRESULT item = ::SendDlgItemMessageA(m_hWndDialog, kProcessUnitCombo, CB_FINDSTRINGEXACT,
                                                 static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
      const std::span<const SComboCode> units = LengthUnitItems();
      if (item < 0 || static_cast<std::size_t>(item) >= units.size()) return E_FAIL;
      VariantClear(value);
      *value = UI1(units[static_cast<std::size_t>(item)].code);
      return S_OK;
    }
    default:
      return CDevicePropertyPage::GetControlValueById(id, value);
  }
}

// The range values are one record on the device: a change of either edit marks the record, and
// the record's state reaches both edits.
HRESULT CProcessPP::SetControlStateById(LONG id, ULONG state) {
  if (id == kParRangeValues) {
    // The record's hidden bit is the DTM's mark of a byte record it does not check, not a reason
    // to hide the edits: they keep their own. So does each its invalid mark: the record is invalid
    // because one of them is, and the record's state shown again must not hand the mark to the
    // other one.
    // Likewise the changed mark, once the user typed into either: it stays on the one typed.
    const bool typed = IsUserEntry(kParUpperRange) || IsUserEntry(kParLowerRange);
    for (LONG edit : {kParUpperRange, kParLowerRange}) {
      const LONG index = FindParameterIndex(edit);
      const ULONG kOwn = 0x8 | kStateInvalid | (typed ? kStateChanged : 0);
      const ULONG own = index >= 0 ? m_pParInfo[index].m_nState & kOwn : 0;
      CDevicePropertyPage::SetControlStateById(edit, (state & ~kOwn) | own);
    }
    return CDevicePropertyPage::SetControlStateById(kParRangeValues, state);
  }
  if (id == kParUpperRange || id == kParLowerRange) {
    // The record is changed (or invalid) while either level is: a check of one level keeps the
    // change of the other.
    const LONG other = FindParameterIndex(id == kParUpperRange ? kParLowerRange : kParUpperRange);
    const ULONG kept = other >= 0 ? m_pParInfo[other].m_nState & (kStateChanged | kStateInvalid) : 0;
    CDevicePropertyPage::SetControlStateById(kParRangeValues, state | kept);
    return CDevicePropertyPage::SetControlStateById(id, state);
  }
  if (id == kParPvUnitUser && UnitChosenUnread()) state |= kStateUsable | kStateChanged;
  return CDevicePropertyPage::SetControlStateById(id, state);
}

bool CProcessPP::UnitChosenUnread() const {
  // The DTM weighs a choice against the unit it last stored, which need not be the device's when
  // its read failed: a unit the user chose then is a change until the device confirms it.
  return m_nPvUnit > 0xFF && IsUserEntry(kParPvUnitUser);
}

// ---- Window messages ---------------------------------------------------------------------------

BOOL CProcessPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD mapId) {
  if (mapId != 0) return FALSE;
  BOOL handled = TRUE;
  switch (message) {
    case WM_SHOWWINDOW:
      OnShowWindow(message, wParam, lParam, &handled);
      result = 0;
      return TRUE;
    case WM_CTLCOLOREDIT: {
      const LRESULT brush = OnCtlColorEdit(message, wParam, lParam, &handled);
      if (handled && brush) {
        result = brush;
        return TRUE;
      }
      break;
    }
    case WM_COMMAND: {
      const UINT code = HIWORD(wParam);
      const UINT control = LOWORD(wParam);
      if (code == EN_CHANGE || code == 1 || code == 5) {
        OnControlChange(code, control, reinterpret_cast<HWND>(lParam));
        result = 0;
        return TRUE;
      }
      if (code == EN_KILLFOCUS) {
        OnControlKillFocus(code, wParam, lParam, &handled);
        result = 0;
        return TRUE;
      }
      if (control == kProcessUnitCombo && code == CBN_KILLFOCUS) {
        OnUnitChange(code, wParam, lParam, &handled);
        result = 0;
        return TRUE;
      }
      if (control == kFrameRefreshButton && code == 0) {
        ReleaseUserEntries();
        OnRefresh();
        result = 0;
        return TRUE;
      }
      if (control == kFrameSendButton && code == 0) {
        OnSend();
        result = 0;
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

HRESULT CProcessPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  if (wParam) {
    m_bShown = 1;
    if (m_bFirstShow) {
      m_nPvUnit = 0xFFFF;
      m_bFirstShow = 0;
      // The fields wait from here (a read that fails at once says so in them), as the frame's
      // Refresh, pressed for the page, reads them: every shown page reads its values.
      ShowLoading(false);
      RequestFirstRefresh();
    }
  } else {
    m_bShown = 0;
  }
  // Shown again, the page keeps what it showed (values, or why there are none): only whether a
  // value may still come is brought up to date.
  UpdatePlaceholders();
  return CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
}

HRESULT CProcessPP::OnUnitChange(UINT code, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  HWND combo = ::GetDlgItem(m_hWndDialog, kProcessUnitCombo);
  char text[257] = {};
  ::GetWindowTextA(combo, text, 256);
  LRESULT item = ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
  if (item >= 0) {
    ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
  } else if (m_spParamGroupDisplay && m_nPvUnit <= 0xFF) {
    const std::string unit = UnitText(static_cast<BYTE>(m_nPvUnit));
    if (!unit.empty()) {
      item = ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(unit.c_str()));
      if (item >= 0) ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    }
  }
  return OnControlKillFocus(code, wParam, lParam, handled);
}

// ---- Refresh and Send --------------------------------------------------------------------------

void CProcessPP::ShowLoading(bool rangeFields) {
  PutComboPlaceholder(kProcessUnitCombo);
  PutLoadingText({kProcessPvEdit, kProcessLoopCurrentEdit, kProcessPercentEdit, kProcessTransferFunctionEdit});
  if (rangeFields) PutLoadingText({kProcessUpperRangeEdit, kProcessLowerRangeEdit, kProcessDampingEdit});
  UpdatePlaceholders();
}

void CProcessPP::UpdatePlaceholders() {
  CUpdatingControls updating(*this);
  MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(),
                    {kProcessPvEdit, kProcessLoopCurrentEdit, kProcessPercentEdit, kProcessTransferFunctionEdit,
                     kProcessUpperRangeEdit, kProcessLowerRangeEdit, kProcessDampingEdit},
                    {kProcessUnitCombo});
  LockDeviceEntries({kProcessUpperRangeEdit, kProcessLowerRangeEdit, kProcessDampingEdit}, {kProcessUnitCombo});
}

HRESULT CProcessPP::OnRefresh() {
  ShowLoading(true);
  m_nPvUnit = 0xFFFF;
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (state == dsONLINE) {
    BeginReadRound();
    VARIANT_BOOL read = VARIANT_FALSE;
    for (LONG id : {kParCommand15Complete, kParCommand1Complete, kParCommand2Complete})
      ReadFromDevice(id, &read);
  }
  SetDirtyAfterRefresh();
  return S_OK;
}

HRESULT CProcessPP::OnSend() {
  const CSendRun run(*this);
  if (!BeginSend()) return S_FALSE;
  RecheckDistances();
  // An entry holding an invalid value has the focus now: nothing goes to the device.
  if (StopsAtInvalidEntries()) return S_FALSE;
  HRESULT hr = S_OK;
  bool unitWritten = false;
  // A Send that wrote the unit and stopped later reads the unit and the range values back, as a
  // whole Send does: the device converted them, and the page follows it (the entries not sent stay).
  const auto stopped = [&](HRESULT failed) {
    if (unitWritten) {
      BeginReadRound();
      VARIANT_BOOL read = VARIANT_FALSE;
      for (LONG id : {kParCommand15Complete, kParCommand1Complete}) ReadFromDevice(id, &read);
    }
    return failed;
  };
  if ((m_pParInfo[kEntryPvUnitUser].m_nState & kStateChanged) || UnitChosenUnread()) {
    vkr::Variant unit;
    // A unit that cannot be read is no unit to write: the page stays dirty.
    if (FAILED(hr = GetControlValueById(kParPvUnitUser, &unit))) return hr;
    m_nPvUnit = unit.bVal;
    if (FAILED(hr = SendPvUnit(unit))) return hr;
    unitWritten = true;
  }
  if (m_pParInfo[kEntryRangeValues].m_nState & kStateChanged) {
    // The record carries both range values: one the device never gave is not made up.
    if (WriteNeedsUnread({kParUpperRange, kParLowerRange})) return stopped(E_FAIL);
    SetControlStateById(kParRangeValues, kStateUsableChanged);
    if (FAILED(hr = SendEntry(kParRangeValues, {kParUpperRange, kParLowerRange}))) return stopped(hr);
  }
  if (m_pParInfo[kEntryDampingUser].m_nState & kStateChanged) {
    vkr::Variant damping;
    if (FAILED(hr = GetControlValueById(kParDampingUser, &damping))) return stopped(hr);
    SetControlStateById(kParDamping, kStateUsableChanged);
    if (FAILED(hr = SendEntry(kParDamping, {kParDampingUser}, {{kParDamping, damping}}))) return stopped(hr);
  }
  EndSend();
  SetDirty(FALSE);
  return OnRefresh();
}

std::optional<std::vector<UINT>> CProcessPP::FieldsOfRead(LONG id) const {
  switch (id) {
    case kParCommand15Complete:
      return std::vector<UINT>{kProcessUpperRangeEdit, kProcessLowerRangeEdit, kProcessDampingEdit,
                               kProcessTransferFunctionEdit};
    case kParCommand1Complete: return std::vector<UINT>{kProcessPvEdit, kProcessUnitCombo};
    case kParCommand2Complete: return std::vector<UINT>{kProcessLoopCurrentEdit, kProcessPercentEdit};
    default: return std::nullopt;
  }
}

std::vector<UINT> CProcessPP::LiveFieldsOfRead(LONG id) const {
  if (id == kParCommand1Complete) return {kProcessPvEdit};
  if (id == kParCommand2Complete) return {kProcessLoopCurrentEdit, kProcessPercentEdit};
  return {};
}

void CProcessPP::FollowRangeUnit(BYTE code) {
  const BYTE from = m_nRangeUnit;
  m_nRangeUnit = code;
  FollowUnitChange({kParUpperRange, kParLowerRange}, from, code);
}

bool CProcessPP::IsLengthEntry(LONG id) const { return id == kParUpperRange || id == kParLowerRange; }

std::optional<BYTE> CProcessPP::ShownLengthUnit(LONG id) const {
  if (!IsLengthEntry(id) || !m_bRangeUnitKnown) return std::nullopt;
  return m_nRangeUnit;
}

HRESULT CProcessPP::ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags) {
  const HRESULT hr = CDevicePropertyPage::ValidateEntryValue(id, value, flags);
  vkr::Variant number;
  if (SUCCEEDED(hr) && flags && (id == kParUpperRange || id == kParLowerRange) && !m_bRangeUnitKnown &&
      SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8)) && std::isfinite(number.dblVal))
    *flags &= ~vkr::dui::kStateInvalid;
  return hr;
}

// Selects the combo item of a unit code; other codes leave the selection as it is.
void CProcessPP::SelectUnit(BYTE code) { SelectCode(m_hWndDialog, kProcessUnitCombo, LengthUnitItems(), code); }

}  // namespace vkr::dui

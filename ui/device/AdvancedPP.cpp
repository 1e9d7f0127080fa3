// The Advanced settings page: its table, the decoders of the command 137 and 1 answers and of the
// probe-fault word, the values it builds from its controls, its refresh and send, and the
// probe-fault read-modify-write.
#include "ui/device/AdvancedPP.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "communication/HartResponseTexts.h"
#include "include/CommunicationInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kSelectionList = 4;
constexpr ULONG kNoControl = 0x80000000;
constexpr const char* kSensitivityFormat = "%.1f";
constexpr const char* kDistanceFormat = "%.3f";
// The request of parameter 1100: word 0x007C, two words (its answer carries the probe fault in
// byte 0); the page's own read asks for the one word it writes back.
constexpr BYTE kProbeWordThroughDtm[] = {0x00, 0x7C, 0x00, 0x02};
constexpr BYTE kProbeWordDirect[] = {0x00, 0x7C, 0x00, 0x01};
constexpr BYTE kCommandReadWords = 131;
constexpr BYTE kCommandWriteWord = 134;

constexpr SComboCode kAnalogModes[] = {
    {"4 - 20 mA", 0}, {"20 - 4 mA", 1}, {"Park 4 mA", 4}, {"Park 8 mA", 5}, {"Park 12 mA", 6},
};
constexpr SComboCode kProbeFaultChoices[] = {{"Disable", 0x00}, {"Enable", kProbeFaultBit}};

// Table indices of the five value entries (records 1-5): sensitivity, analog mode, blanking,
// offset, probe fault, in that order.
constexpr LONG kEntrySensitivityUser = 0;
constexpr LONG kEntryProbeFaultUser = 4;

SPropertyPageClass AdvancedClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_AdvancedPP;
  c.parameterMap = &CAdvancedPP::GetParameterMap;
  c.dialogId = kAdvancedDialogId;
  c.controlNames = vkr::dui::kAdvancedControlNames;
  c.titleId = kAdvancedTitleId;
  c.helpFileId = kAdvancedHelpFileId;
  c.docStringId = kAdvancedDocStringId;
  return c;
}

void ShowNumber(HWND dialog, UINT controlId, const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  ::SetDlgItemTextA(dialog, static_cast<int>(controlId), text);
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

VARIANT R4(float value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

bool IsPressed(const VARIANT& value) { return value.vt == VT_UI1 && value.bVal != 0; }

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> result;
  if (object) object->QueryInterface(Interface::iid, result.PutVoid());
  return result;
}

}  // namespace

SCommand137Response DecodeCommand137(std::span<const BYTE> data) {
  const CByteReader reader(data);
  SCommand137Response answer;
  answer.sensitivityCode = reader.U8(0);
  answer.analogMode = reader.U8(1);
  answer.blanking = reader.Float(2);
  answer.distanceOffset = reader.Float(6);
  return answer;
}

std::span<const SComboCode> AnalogModeCodes() { return kAnalogModes; }

std::optional<BYTE> SensitivityCodeOfText(HRESULT parsed, float percent) {
  // 100 % is code 250, the device's largest; nothing beyond is cut to a code it would take.
  if (FAILED(parsed) || !(percent >= 0.0f && percent <= 100.0f)) return std::nullopt;
  const double scaled = static_cast<double>(percent) * 2.5;
  // A step typed as the page shows it ("20.4", a float a hair below) is that step, not the one below.
  const double step = std::round(scaled);
  return static_cast<BYTE>(std::fabs(scaled - step) < 1e-3 ? step : std::floor(scaled));
}

CAdvancedPP::CAdvancedPP() : CDevicePropertyPage(AdvancedClass()) {
  // Online reading: the device answers the page asks for reach it as they arrive.
  m_nDialogType = kDialogTypeOnlineReading;
}

CAdvancedPP::~CAdvancedPP() = default;

CActXParInfo* CAdvancedPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[16];
  static const bool filled = [] {
    int i = 0;
    auto add = [&](LONG id, const char* name, UINT control, const char* format, BOOL indicator, ULONG kind) {
      CActXParInfo& e = entries[i++];
      e = CActXParInfo(id, name, control, format, 0, indicator, kind);
      e.m_nStateMask = 0xFFFFFFFF;
    };
    add(kParSensitivityUser, "Sensitivity", kAdvancedSensitivityEdit, kSensitivityFormat, TRUE, 0);
    add(kParAnalogModeUser, "Analog Mode", kAdvancedAnalogModeCombo, "", TRUE, kSelectionList);
    add(kParBlankingUser, "Blanking distance", kAdvancedBlankingEdit, kDistanceFormat, TRUE, 0);
    add(kParDistanceOffsetUser, "Distance offset", kAdvancedOffsetEdit, kDistanceFormat, TRUE, 0);
    add(kParProbeFaultUser, "Probe Fault", kAdvancedProbeFaultCombo, "", TRUE, kSelectionList);
    add(kParButtonRefresh, "Button Refresh", 0, "", FALSE, kNoControl);
    add(kParButtonSend, "Button Send", 0, "", FALSE, kNoControl);
    add(kParSpCmd2, "SpCMD2", 0, "", FALSE, 0);
    add(kParSensitivity, "eSensitivityID", 0, "", FALSE, kNoControl);
    add(kParAnalogMode, "eAnalogID", 0, "", FALSE, kNoControl);
    add(kParBlanking, "eBlankingID", 0, "", FALSE, kNoControl);
    add(kParDistanceOffset, "eDistanceOffsetID", 0, "", FALSE, kNoControl);
    add(kParCommand1Complete, "Command 1 complete", 0, "", FALSE, kNoControl);
    add(kParProbeFaultCmd, "command 131", 0, "", FALSE, kNoControl);
    add(kParCommand131, "command 131", 0, "", FALSE, kNoControl);
    // entries[15]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 15;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

HRESULT CAdvancedPP::GetTypeInfoCount(UINT* count) { return CDevicePropertyPage::GetTypeInfoCount(count); }
HRESULT CAdvancedPP::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CDevicePropertyPage::GetTypeInfo(index, locale, info);
}
HRESULT CAdvancedPP::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return CDevicePropertyPage::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CAdvancedPP::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argError) {
  return CDevicePropertyPage::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

void* CAdvancedPP::FindInterface(REFIID riid) {
  if (riid == IAdvancedPP::iid) return static_cast<IAdvancedPP*>(this);
  return CDevicePropertyPage::FindInterface(riid);
}

// ---- Start and end -----------------------------------------------------------------------------

HRESULT CAdvancedPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  m_font.Create("Tahoma", 14, 600);
  m_font.SetOn(m_hWndDialog, {kAdvancedGroup});
  m_wLastAnalogMode = 0xFFFF;
  FillCodeCombo(m_hWndDialog, kAdvancedAnalogModeCombo, kAnalogModes);
  for (std::size_t i = 0; i < m_abyAnalogModeCodes.size(); ++i) m_abyAnalogModeCodes[i] = kAnalogModes[i].code;
  FillCodeCombo(m_hWndDialog, kAdvancedProbeFaultCombo, kProbeFaultChoices);
  for (std::size_t i = 0; i < m_abyProbeFaultCodes.size(); ++i) m_abyProbeFaultCodes[i] = kProbeFaultChoices[i].code;
  return CDevicePropertyPage::InitializeUI(dtm, ok);
}

HRESULT CAdvancedPP::UninitializeUI(VARIANT_BOOL* ok) { return CDevicePropertyPage::UninitializeUI(ok); }

HRESULT CAdvancedPP::ReadParameter(LONG) { return S_OK; }

HRESULT CAdvancedPP::SetControlStateById(LONG id, ULONG state) {
  const HRESULT hr = CDevicePropertyPage::SetControlStateById(id, state);
  LockSettings();
  return hr;
}

void CAdvancedPP::LockSettings() {
  // Only a device takes these settings: without one that may answer they take no input.
  if (!m_hWndDialog || DeviceMayAnswer()) return;
  for (UINT edit : {kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit})
    ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(edit), EM_SETREADONLY, TRUE, 0);
  for (UINT combo : {kAdvancedAnalogModeCombo, kAdvancedProbeFaultCombo})
    ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(combo)), FALSE);
}

HRESULT CAdvancedPP::OnControlChange(UINT code, UINT controlId, HWND control) {
  return CDevicePropertyPage::OnControlChange(code, controlId, control);
}

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT CAdvancedPP::SetControlValueById(LONG id, VARIANT value) {
  // A late answer never overwrites what the user typed or chose and has not sent.
  if (IsUserEntry(id)) return S_OK;
  RemoveComboPlaceholder(m_hWndDialog, kAdvancedAnalogModeCombo);
  RemoveComboPlaceholder(m_hWndDialog, kAdvancedProbeFaultCombo);
  CUpdatingControls updating(*this);

  switch (id) {
    case kParCommand1Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand1Response answer = DecodeCommand1(bytes);
      // The device keeps blanking and offset in its PV unit.
      if (answer.pvUnit) {
        // Another page wrote the PV unit, or it was read anew: the distances typed follow it.
        const std::optional<BYTE> before = std::exchange(m_pvUnit, *answer.pvUnit);
        m_bPvUnitUnread = false;
        if (before) FollowUnitChange({kParBlankingUser, kParDistanceOffsetUser}, *before, *answer.pvUnit);
        RecheckDistances();
        const std::string unit = LengthUnitLabel(*answer.pvUnit);
        ::SetDlgItemTextA(m_hWndDialog, kAdvancedBlankingUnit, unit.c_str());
        ::SetDlgItemTextA(m_hWndDialog, kAdvancedOffsetUnit, unit.c_str());
      }
      return S_OK;
    }
    // The page shows its own failures; the frame's press itself went through.
    case kParButtonRefresh:
      if (AcceptRefresh(IsPressed(value), m_bPageVisible)) OnRefresh();
      return S_OK;
    case kParButtonSend:
      if (AcceptSend(IsPressed(value), m_bPageVisible)) OnSend();
      return S_OK;
    case kParSpCmd2: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      // The DTM reports each value back through this operation.
      const SCommand137Response answer = DecodeCommand137(bytes);
      if (!m_spDtm) return S_OK;
      if (answer.sensitivityCode) m_spDtm->SetParameterValue(vkr::UI4(kParSensitivityUser), UI1(*answer.sensitivityCode));
      if (answer.analogMode && *answer.analogMode != m_wLastAnalogMode) {
        m_wLastAnalogMode = *answer.analogMode;
        m_spDtm->SetParameterValue(vkr::UI4(kParAnalogModeUser), UI1(*answer.analogMode));
      }
      if (answer.blanking) m_spDtm->SetParameterValue(vkr::UI4(kParBlankingUser), R4(*answer.blanking));
      if (answer.distanceOffset) m_spDtm->SetParameterValue(vkr::UI4(kParDistanceOffsetUser), R4(*answer.distanceOffset));
      return S_OK;
    }
    case kParSensitivityUser: {
      LONG code = 0;
      if (ReadNumber(value, &code)) ShowNumber(m_hWndDialog, kAdvancedSensitivityEdit, kSensitivityFormat, (code & 0xFF) * 0.4);
      return S_OK;
    }
    case kParAnalogModeUser: {
      LONG code = 0;
      if (ReadNumber(value, &code)) SelectCode(m_hWndDialog, kAdvancedAnalogModeCombo, kAnalogModes, static_cast<BYTE>(code & 0xFF));
      return S_OK;
    }
    case kParBlankingUser:
    case kParDistanceOffsetUser: {
      vkr::Variant number;
      // Through the page's number display, so that an untouched distance goes back exactly.
      if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R4)))
        SetDlgItemFloat(id == kParBlankingUser ? kAdvancedBlankingEdit : kAdvancedOffsetEdit, kDistanceFormat,
                        number.fltVal);
      return S_OK;
    }
    case kParCommand131: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      // The two words asked for; a shorter answer holds no setting to show.
      if (bytes.size() >= 4 && m_spDtm)
        m_spDtm->SetParameterValue(vkr::UI4(kParProbeFaultUser), UI1(static_cast<BYTE>(bytes[0] & kProbeFaultBit)));
      return S_OK;
    }
    case kParProbeFaultCmd:
      m_bFirstShow = false;
      return S_OK;
    case kParProbeFaultUser: {
      LONG code = 0;
      if (ReadNumber(value, &code)) SelectCode(m_hWndDialog, kAdvancedProbeFaultCombo, kProbeFaultChoices, static_cast<BYTE>(code & 0xFF));
      return S_OK;
    }
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

// ---- Values from the controls ------------------------------------------------------------------

HRESULT CAdvancedPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  switch (id) {
    case kParSensitivity:
    case kParSensitivityUser: {
      float percent = 0.0f;
      const HRESULT parsed = GetDlgItemFloat(kAdvancedSensitivityEdit, kSensitivityFormat, &percent);
      // A text that is no number, or a percent the code byte cannot hold, is no value.
      const std::optional<BYTE> code = SensitivityCodeOfText(parsed, percent);
      if (!code) return E_FAIL;
      VariantClear(value);
      *value = UI1(*code);
      return S_OK;
    }
    case kParAnalogMode:
    case kParAnalogModeUser: {
      const std::optional<BYTE> code = CodeOfComboText(m_hWndDialog, kAdvancedAnalogModeCombo, kAnalogModes);
      if (!code) return E_FAIL;
      VariantClear(value);
      *value = UI1(*code);
      return S_OK;
    }
    case kParBlanking:
    case kParBlankingUser:
    case kParDistanceOffset:
    case kParDistanceOffsetUser: {
      const bool blanking = id == kParBlanking || id == kParBlankingUser;
      float number = 0.0f;
      const HRESULT hr =
          GetDlgItemFloat(blanking ? kAdvancedBlankingEdit : kAdvancedOffsetEdit, kDistanceFormat, &number);
      if (FAILED(hr)) return E_FAIL;
      VariantClear(value);
      *value = R4(number);
      return S_OK;
    }
    case kParCommand131:
      return MakeByteArray(kProbeWordThroughDtm, value);
    case kParProbeFaultCmd: {
      // Only the choice: the device is written by WriteProbeFault, never as a side effect of
      // asking for a value.
      const std::optional<BYTE> code = CodeOfComboText(m_hWndDialog, kAdvancedProbeFaultCombo, kProbeFaultChoices);
      if (!code) return E_FAIL;
      VariantClear(value);
      *value = UI1(*code);
      return S_OK;
    }
    default:
      return CDevicePropertyPage::GetControlValueById(id, value);
  }
}

HRESULT CAdvancedPP::GetParameterText(LONG id, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (id == kParProbeFaultUser) {
    // A new choice counts as a change: the page becomes dirty.
    vkr::Variant choice;
    GetControlValueById(kParProbeFaultUser, &choice);
    SetControlStateById(kParProbeFaultUser, kStateUsableChanged);
    return S_OK;
  }
  return CDevicePropertyPage::GetParameterText(id, valid);
}

// ---- Window messages ---------------------------------------------------------------------------

BOOL CAdvancedPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
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
      if (code == EN_CHANGE || code == CBN_SELCHANGE || code == CBN_EDITCHANGE) {
        OnControlChange(code, control, reinterpret_cast<HWND>(lParam));
        result = 0;
        return TRUE;
      }
      if (code == EN_KILLFOCUS || (control == 381 && code == CBN_KILLFOCUS)) {
        OnControlKillFocus(code, wParam, lParam, &handled);
        result = 0;
        return TRUE;
      }
      // The frame turns its buttons into 1041 and 1042; a page that gets their clicks directly
      // acts the same.
      if (control == kFrameRefreshButton && code == BN_CLICKED) {
        ReleaseUserEntries();
        BeginReadRound();
        OnRefresh();
        result = 0;
        return TRUE;
      }
      if (control == kFrameSendButton && code == BN_CLICKED) {
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

HRESULT CAdvancedPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  ShowLoading();
  if (wParam == 1) {
    m_bPageVisible = true;
    if (m_bFirstShow) {
      RequestFirstRefresh();
      m_bFirstShow = false;
    }
  } else {
    m_bPageVisible = false;
  }
  OnRefresh();
  const HRESULT hr = CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  // After the base showed the entries' marks: the mark only makes an edit count, no lamp shows it.
  MarkValueEntriesChanged();
  return hr;
}

// ---- Refresh and Send --------------------------------------------------------------------------

void CAdvancedPP::ShowLoading() {
  PutLoadingText({kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit});
  PutComboPlaceholder(kAdvancedAnalogModeCombo);
  PutComboPlaceholder(kAdvancedProbeFaultCombo);
}

void CAdvancedPP::UpdatePlaceholders() {
  {
    CUpdatingControls updating(*this);
    MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(),
                      {kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit},
                      {kAdvancedAnalogModeCombo, kAdvancedProbeFaultCombo});
  }
  // No read is coming: the marks a read set for Send go with it.
  if (!DeviceMayAnswer())
    ForgetUnreadMarks(
        {kParSensitivityUser, kParAnalogModeUser, kParBlankingUser, kParDistanceOffsetUser, kParProbeFaultUser});
  LockSettings();
}

void CAdvancedPP::OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) {
  if (!m_hWndDialog) return;
  if (id == kParCommand131 || id == kParProbeFaultCmd) {
    TellNotRead(kParCommand131, {kAdvancedProbeFaultCombo}, u"Probe Fault", outcome, kCommandReadWords);
    ForgetUnreadMarks({kParProbeFaultUser});
    return;
  }
  if (id == kParSpCmd2) {
    TellNotRead(id, {kAdvancedSensitivityEdit, kAdvancedBlankingEdit, kAdvancedOffsetEdit, kAdvancedAnalogModeCombo},
                u"The advanced settings", outcome, 137);
    ForgetUnreadMarks({kParSensitivityUser, kParAnalogModeUser, kParBlankingUser, kParDistanceOffsetUser});
    return;
  }
  // The numbers are the device's, in its PV unit: what is missing is the unit's name. One read
  // before may be the device's no longer (another page may have changed it since).
  if (id == kParCommand1Complete) {
    m_bPvUnitUnread = true;
    TellNotRead(id, {}, u"The unit of Blanking and Distance Offset", outcome, 1);
    // A blank label would read as a number without a unit; the label says why instead.
    for (UINT label : {kAdvancedBlankingUnit, kAdvancedOffsetUnit}) ::SetDlgItemTextA(m_hWndDialog, label, kNotReadText);
  }
}

void CAdvancedPP::ForgetUnreadMarks(std::initializer_list<LONG> ids) {
  // The read marked them for Send, not the user: an entry left without a value shows no lamp.
  for (LONG id : ids) {
    const LONG index = FindParameterIndex(id);
    if (index < 0 || IsUserEntry(id) || !ShowsPlaceholder(m_hWndDialog, m_pParInfo[index].m_nCtrlId)) continue;
    SetControlStateById(id, m_pParInfo[index].m_nState & ~(kStateChanged | kStateInvalid));
  }
}

void CAdvancedPP::OnDeviceOnline() {
  if (m_bPageVisible) OnRefresh();
}

// The five value entries count as changed, so that an edit of any of them makes the page dirty;
// the usable and invalid marks stay as they are.
void CAdvancedPP::MarkValueEntriesChanged() {
  // Offline no entry takes an edit: a "changed" lamp there would tell of work nobody did.
  if (!m_pParInfo || !DeviceMayAnswer()) return;
  for (LONG i = kEntrySensitivityUser; i <= kEntryProbeFaultUser; ++i) {
    // The user's entry already has the mark its text earned, and its lamp shows it. The lamp
    // changes only when the state does: a mark slipped in here unseen would make the entry's next
    // real change (typed away from the device's value) look like none, and leave the lamp plain.
    if (IsUserEntry(m_pParInfo[i].m_nParamId)) continue;
    m_pParInfo[i].m_nState |= kStateChanged;
  }
}

HRESULT CAdvancedPP::OnRefresh() {
  if (m_pParInfo && DeviceMayAnswer()) m_pParInfo[kEntryProbeFaultUser].m_nState |= kStateChanged;
  m_wLastAnalogMode = 0xFFFF;
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  bool clean = true;
  if (state == dsONLINE && m_spDtm) {
    ShowLoading();
    VARIANT_BOOL asked = VARIANT_FALSE;
    ReadFromDevice(kParSpCmd2, &asked);
    ReadFromDevice(kParCommand1Complete, &asked);
    vkr::Variant request;
    clean = SUCCEEDED(GetControlValueById(kParCommand131, &request));
    if (clean) {
      const SDeviceOutcome sent = StartDeviceWrite(m_spDtm.Get(), kParCommand131, request);
      if (!sent.Ok()) OnDeviceAccessFailed(kParCommand131, sent);
    }
  } else if (state != dsGOINGONLINE) {
    // No answer is coming until the DTM goes online (then OnDeviceOnline reads).
    UpdatePlaceholders();
  }
  if (clean) SetDirtyAfterRefresh();
  return S_OK;
}

HRESULT CAdvancedPP::OnSend() {
  // The probe-fault transactions wait with the messages flowing: a second Send meanwhile would
  // write everything again.
  if (m_bSending) return S_FALSE;
  m_bSending = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_bSending};

  const CSendRun run(*this);
  if (!BeginSend()) return S_FALSE;
  if (m_pParInfo) m_pParInfo[kEntryProbeFaultUser].m_nState |= kStateChanged;
  static constexpr LONG kUserIds[] = {kParSensitivityUser, kParAnalogModeUser, kParBlankingUser,
                                      kParDistanceOffsetUser};
  // Command 138 carries all four settings: one the device never gave is not made up.
  if (CarriesUnread(kUserIds)) return E_FAIL;
  // Blanking and offset go as numbers the device takes in its PV unit: typed while that unit
  // could not be read, they may mean another distance, and are not written.
  if (!m_pvUnit || m_bPvUnitUnread) {
    std::vector<std::u16string> typed;
    for (LONG id : {kParBlankingUser, kParDistanceOffsetUser})
      if (IsUserEntry(id)) typed.push_back(EntryLabel(id));
    if (!typed.empty()) {
      TellSendStopped(JoinNames(typed) + (typed.size() == 1 ? u" was not written: the unit it is given in"
                                                            : u" were not written: the unit they are given in") +
                          u" could not be read.",
                      {kParBlankingUser, kParDistanceOffsetUser});
      return E_FAIL;
    }
  }
  // Entries that hold no value for their device field are marked; the first gets the focus and
  // nothing goes out.
  for (LONG id : kUserIds) {
    vkr::Variant probe;
    // (A field that was not read is no entry of the user's.)
    const LONG index = FindParameterIndex(id);
    if (FAILED(GetControlValueById(id, &probe)) &&
        (IsUserEntry(id) || !ShowsPlaceholder(m_hWndDialog, m_pParInfo[index].m_nCtrlId)))
      MarkEntryInvalid(id);
  }
  RecheckDistances();
  if (StopsAtInvalidEntries()) return S_OK;
  const std::u16string step = SensitivityStepText();

  static constexpr LONG kDeviceIds[] = {kParSensitivity, kParAnalogMode, kParBlanking, kParDistanceOffset};
  // Command 138 carries all four: the data set takes them when the device took the write. Only a
  // change among them writes it: fields left unread by a lost link keep no other write back.
  bool changed = false;
  for (LONG i = 0; i < static_cast<LONG>(std::size(kDeviceIds)); ++i)
    changed = changed || (m_pParInfo[kEntrySensitivityUser + i].m_nState & kStateChanged) != 0;
  vkr::Variant v[std::size(kUserIds)];
  for (std::size_t i = 0; changed && i < std::size(kUserIds); ++i) {
    HRESULT hr = GetControlValueById(kUserIds[i], &v[i]);
    if (FAILED(hr)) {
      TellNotWritten({kUserIds[0], kUserIds[1], kUserIds[2], kUserIds[3]}, ENotWritten::Unread);
      return hr;
    }
  }
  for (std::size_t i = 0; changed && i < std::size(kDeviceIds); ++i) {
    if (!(m_pParInfo[kEntrySensitivityUser + static_cast<LONG>(i)].m_nState & kStateChanged)) continue;
    SetControlStateById(kDeviceIds[i], kStateUsableChanged);
    // Command 138 carries all four settings: confirmed, all four are written.
    const HRESULT hr = SendEntry(kDeviceIds[i], {kUserIds[0], kUserIds[1], kUserIds[2], kUserIds[3]},
                                 {{kDeviceIds[0], v[0]}, {kDeviceIds[1], v[1]}, {kDeviceIds[2], v[2]}, {kDeviceIds[3], v[3]}});
    if (FAILED(hr)) return hr;
  }
  // Only a step the device took is told as set.
  if (!step.empty() && !IsUserEntry(kParSensitivityUser)) TellNote(step);
  vkr::Variant probeFault;
  // A probe fault that was not read and that the user did not choose has nothing to write.
  if (SUCCEEDED(GetControlValueById(kParProbeFaultCmd, &probeFault))) {
    if (const HRESULT hr = WriteProbeFault(probeFault.bVal); FAILED(hr)) return hr;
  }
  EndSend();
  SetDirty(FALSE);
  OnRefresh();
  return S_OK;
}

bool CAdvancedPP::CarriesUnread(std::span<const LONG> ids) {
  std::vector<std::u16string> typed, unread;
  std::vector<LONG> typedIds;
  for (LONG id : ids) {
    const LONG index = FindParameterIndex(id);
    if (index < 0) continue;
    if (IsUserEntry(id)) {
      typed.push_back(EntryLabel(id));
      typedIds.push_back(id);
    } else if (ShowsPlaceholder(m_hWndDialog, m_pParInfo[index].m_nCtrlId)) {
      unread.push_back(EntryLabel(id));
    }
  }
  // Nothing the user entered goes out: no write carries the fields that were not read.
  if (typed.empty() || unread.empty()) return false;
  TellSendStopped(CarriesUnreadText(typed, unread), typedIds);
  return true;
}

std::u16string CAdvancedPP::LimitsText(LONG id) {
  if (id != kParSensitivityUser && id != kParSensitivity) return CDevicePropertyPage::LimitsText(id);
  vkr::Variant minimum, maximum;
  std::u16string text;
  if (SUCCEEDED(GetParameterInfoText(id, minimum.Put(), maximum.Put())))
    text = vkr::dui::EntryLimitsText(minimum, maximum, SensitivityShown());
  return text.empty() ? u"0 to 100 %" : text;
}

std::u16string SensitivityStepNote(const std::u16string& label, HRESULT parsed, float percent) {
  const std::optional<BYTE> code = SensitivityCodeOfText(parsed, percent);
  if (!code || std::fabs(SensitivityPercent(*code) - percent) < 1e-3) return {};
  char step[32];
  std::snprintf(step, sizeof step, kSensitivityFormat, SensitivityPercent(*code));
  return label + u" was set to " + vkr::Utf8ToUtf16(step) + u" %, the step of 0.4 % below the entry.";
}

std::u16string CAdvancedPP::SensitivityStepText() {
  if (!m_hWndDialog || !IsUserEntry(kParSensitivityUser)) return {};
  float percent = 0.0f;
  const HRESULT parsed = GetDlgItemFloat(kAdvancedSensitivityEdit, kSensitivityFormat, &percent);
  return SensitivityStepNote(EntryLabel(kParSensitivityUser), parsed, percent);
}

bool CAdvancedPP::IsLengthEntry(LONG id) const { return id == kParBlankingUser || id == kParDistanceOffsetUser; }

std::optional<BYTE> CAdvancedPP::ShownLengthUnit(LONG id) const {
  if (!IsLengthEntry(id)) return std::nullopt;
  return m_pvUnit;
}

SDeviceOutcome CAdvancedPP::Transaction(BYTE command, std::span<const BYTE> request, std::vector<BYTE>* response,
                                        BYTE* warning) {
  response->clear();
  if (warning) *warning = 0;
  auto connections = Query<IovFdtConnectionManagement>(m_spDtmObject.Get());
  vkr::ComPtr<IUnknown> connection;
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  if (connections && SUCCEEDED(connections->GetConnection(0, connection.Put())) && connection)
    hart = Query<IovFdtHartServiceInterface>(connection.Get());
  // Without the DTM's connection nothing reaches the device.
  if (!hart) return SDeviceOutcome{EDeviceOutcome::NotTaken};
  vkr::Bstr requestHex, responseHex, error;
  if (FAILED(HexOfBytes(request, requestHex.Put()))) return SDeviceOutcome{EDeviceOutcome::NotTaken};
  BYTE deviceStatus = 0, responseCode = 0;
  const HRESULT hr =
      hart->Transaction(command, requestHex.Get(), &deviceStatus, &responseCode, responseHex.Put(), error.Put());
  SDeviceOutcome outcome = ServiceOutcome(hr, responseCode, error.View(), command);
  // A warning says the device did it: the answer stands, and the warning goes to the caller.
  if (outcome.Ok() && responseCode != 0) {
    if (vkr::hart::IsWarning(command, responseCode)) {
      if (warning) *warning = responseCode;
    } else {
      outcome = SDeviceOutcome{EDeviceOutcome::Refused, responseCode};
    }
  }
  if (outcome.Ok() && FAILED(BytesOfHex(responseHex.Get(), response))) outcome = SDeviceOutcome{EDeviceOutcome::Lost};
  return outcome;
}

HRESULT CAdvancedPP::WriteProbeFault(BYTE code) {
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  if (!Query<IovFdtConnectionManagement>(m_spDtmObject.Get())) return S_OK;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (state != dsONLINE) return S_FALSE;

  std::vector<BYTE> word;
  // The word's other bits go back as the device holds them: without both bytes there is nothing
  // that may be written.
  SDeviceOutcome outcome = Transaction(kCommandReadWords, kProbeWordDirect, &word);
  if (outcome.Ok() && word.size() < 2) outcome = SDeviceOutcome{EDeviceOutcome::Lost};
  if (!outcome.Ok()) {
    TellNotWritten({kParProbeFaultUser}, ENotWritten::Unconfirmed, outcome, kCommandReadWords);
    return E_FAIL;
  }
  const BYTE first = code == kProbeFaultBit ? static_cast<BYTE>(word[0] | kProbeFaultBit)
                                            : static_cast<BYTE>(word[0] & ~kProbeFaultBit);
  CByteWriter request;
  request.U16(kProbeFaultWordAddress).U8(first).U8(word[1]);
  std::vector<BYTE> echo;
  BYTE warning = 0;
  outcome = Transaction(kCommandWriteWord, request.Data(), &echo, &warning);
  if (!outcome.Ok()) {
    TellNotWritten({kParProbeFaultUser}, ENotWritten::Unconfirmed, outcome, kCommandWriteWord);
    return E_FAIL;
  }
  MarkWritten({kParProbeFaultUser});
  if (warning != 0) TellWarning({EntryLabel(kParProbeFaultUser)}, kCommandWriteWord, warning);
  return S_OK;
}

}  // namespace vkr::dui

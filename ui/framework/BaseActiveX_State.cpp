// State display of the user-interface base: an entry's state word shown on its controls (visible,
// usable, read-only), its status icon beside the control, editing granted or withdrawn by the
// access rights, and one parameter refreshed from the DTM with its state.
//
// State word bits: 1 usable, 2 changed by the user, 4 input rejected, 8 hidden, 0x80 locked
// against editing, 0x400 no value, 0x800 a status request while online.
#include "ui/framework/BaseActiveX.h"

namespace {

constexpr ULONG kUsable = 0x1;
constexpr ULONG kChanged = 0x2;
constexpr ULONG kInvalid = 0x4;
constexpr ULONG kHidden = 0x8;
constexpr ULONG kLocked = 0x80;
constexpr ULONG kNoValue = 0x400;
constexpr ULONG kStatusRequest = 0x800;

constexpr ULONG kDialogOnline = 0x1;
constexpr ULONG kDialogOffline = 0x2;
constexpr ULONG kDialogReadsDevice = 0x4;

constexpr ULONG kOptionRefreshAll = 0x100;
constexpr ULONG kOptionCompare = 0x200;

constexpr ULONG kFieldDeviceParameter = 0x1;
constexpr ULONG kDtmOnline = 12;
constexpr LONG kAccessOnline = 9;

constexpr int kIndicatorSize = 16;
constexpr DWORD kIndicatorStyle = 0x40000103;  // WS_CHILD | SS_ICON | SS_NOTIFY
constexpr UINT kRedraw = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

void Redraw(HWND window) {
  if (window && IsWindow(window)) RedrawWindow(window, nullptr, nullptr, kRedraw);
}

void Show(HWND window, int command) {
  if (window && IsWindow(window)) ShowWindow(window, command);
}

// A field read as a flag: any non-zero number is TRUE.
bool IsSet(const VARIANT& answer) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(number.Ptr(), &answer, 0, VT_I4))) return false;
  return number.lVal != 0;
}

// The entry's parameter information: whether its value lives in the device (field 1).
HRESULT AskDeviceParameter(IovFdtParameterInfo* info, LONG id, bool* inDevice) {
  vkr::Variant answer;
  HRESULT hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(static_cast<LONG>(kFieldDeviceParameter)),
                                       answer.Put());
  if (FAILED(hr)) return hr;
  *inDevice = IsSet(answer);
  return S_OK;
}

}  // namespace

HRESULT CovFDT_BaseActiveXImpl::SetControlState(LONG index, ULONG state) {
  if (index < 0 || static_cast<ULONG>(index) >= m_nParInfoCount || !m_pParInfo) return E_INVALIDARG;
  CActXParInfo& entry = m_pParInfo[index];
  const ULONG oldState = entry.m_nState;
  const ULONG newState = (entry.m_nStateMask & state) | (~entry.m_nStateMask & oldState);
  entry.m_nState = newState;
  if (entry.m_nCtrlId == 0) return S_OK;

  // A hosted parameter-group display shows the state itself.
  if (IsHostedControl(entry.m_nCtrlId, IParamGroupDisplay::iid)) {
    vkr::ComPtr<IParamGroupDisplay> display;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IParamGroupDisplay::iid, display.PutVoid())) || !display)
      return E_UNEXPECTED;
    display->SetParameterState(entry.m_nParamId, static_cast<LONG>(newState));
    Redraw(entry.m_hWndIndicator);
    return S_OK;
  }

  HWND control = entry.m_hWndCtrl && IsWindow(entry.m_hWndCtrl) ? entry.m_hWndCtrl
                                                                 : GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  const int show = (newState & kHidden) ? SW_HIDE : SW_SHOW;
  Show(control, show);
  if (entry.m_nTextCtrlId) Show(GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nTextCtrlId)), show);
  if (entry.m_nExtraCtrlId) Show(GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nExtraCtrlId)), show);
  Show(entry.m_hWndIndicator, show);

  if (control) {
    const bool usable = (newState & kUsable) != 0;
    const LONG type = GetControlType(control);
    if (type == 2 || type == 3) {
      // Edits stay enabled, so their text stays readable and selectable.
      SendMessageA(control, EM_SETREADONLY, usable ? FALSE : TRUE, 0);
    } else {
      EnableWindow(control, usable ? TRUE : FALSE);
      if (type == 4) {
        if (HWND edit = GetWindow(control, GW_CHILD)) {
          if (!usable) EnableWindow(edit, TRUE);
          SendMessageA(edit, EM_SETREADONLY, usable ? FALSE : TRUE, 0);
        }
      }
    }
  }
  Redraw(control);
  Redraw(entry.m_hWndIndicator);
  SetStatusIndicator(static_cast<ULONG>(index), newState, oldState, FALSE);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetControlStateById(LONG id, ULONG state) {
  HRESULT hr = S_OK;
  if (id == -1 || !m_pParInfo) return hr;
  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i)
    if (m_pParInfo[i].m_nParamId == id) hr = SetControlState(static_cast<LONG>(i), state);
  return hr;
}

HRESULT CovFDT_BaseActiveXImpl::SetStatusIndicator(ULONG index, ULONG newState, ULONG oldState, BOOL force) {
  if (index >= m_nParInfoCount || !m_pParInfo) return E_INVALIDARG;
  const CActXParInfo& entry = m_pParInfo[index];
  if (!entry.m_hWndIndicator || !IsWindow(entry.m_hWndIndicator)) return S_OK;
  if (!force && newState == oldState) return S_OK;

  // The device flag is asked only when a rule needs it, and once.
  vkr::ComPtr<IovFdtParameterInfo> info;
  bool asked = false, inDevice = false;
  auto deviceStatusShown = [&](bool* shown) -> HRESULT {
    if (!asked) {
      if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
        return E_POINTER;
      HRESULT hr = AskDeviceParameter(info.Get(), entry.m_nParamId, &inDevice);
      if (FAILED(hr)) return hr;
      asked = true;
    }
    *shown = inDevice && ((m_nDialogType & kDialogReadsDevice) ||
                          ((m_nDialogType & kDialogOnline) && (entry.m_nCtrlKind & kOptionCompare)));
    return S_OK;
  };

  // Later rules win.
  size_t icon = 0;
  bool shown = false;
  if (newState & kNoValue) {
    if (HRESULT hr = deviceStatusShown(&shown); FAILED(hr)) return hr;
    if (shown) icon = 1;
  }
  if (newState & kChanged) icon = 2;
  if ((newState & kStatusRequest) && m_nDtmState == kDtmOnline) {
    if (HRESULT hr = deviceStatusShown(&shown); FAILED(hr)) return hr;
    if (shown) icon = 3;
  }
  if (newState & kInvalid) icon = 4;
  SendMessageA(entry.m_hWndIndicator, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_ahStatusIcons[icon]));
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ApplyOnlineAccess(BOOL editable) {
  const ULONG type = m_nDialogType;
  const bool locked = m_bDataSetLocked != FALSE;
  const LONG mode = GetAccessMode();
  bool grant = (type & kDialogOffline) && editable && !locked;
  bool offlineCheck = false;
  if (type & (kDialogOnline | kDialogReadsDevice)) {
    if (editable && mode == kAccessOnline && !locked) grant = true;
    offlineCheck = mode != kAccessOnline && !locked;
  }
  if (!m_pParInfo) return S_OK;

  if (grant && !m_bObserver) {
    m_bAccessGranted = TRUE;
    for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
      const ULONG s = m_pParInfo[i].m_nState;
      if (s & kLocked) SetControlStateById(m_pParInfo[i].m_nParamId, (s & ~kLocked) | kUsable);
    }
    return S_OK;
  }

  vkr::ComPtr<IovFdtParameterInfo> info;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info) return S_OK;
  m_bAccessGranted = FALSE;
  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const LONG id = m_pParInfo[i].m_nParamId;
    bool inDevice = false;
    if (HRESULT hr = AskDeviceParameter(info.Get(), id, &inDevice); FAILED(hr)) return hr;
    const ULONG s = m_pParInfo[i].m_nState;
    if (offlineCheck && !inDevice && (s & kLocked))
      SetControlStateById(id, (s & ~kLocked) | kUsable);
    else if ((!offlineCheck || inDevice) && (s & kUsable))
      SetControlStateById(id, (s & ~kUsable) | kLocked);
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::RefreshAllParameters(LONG id) {
  vkr::Variant value;
  HRESULT hr = GetDtmParameterValue(id, value.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info) return E_FAIL;
  bool inDevice = false;
  if (hr = AskDeviceParameter(info.Get(), id, &inDevice); FAILED(hr)) return hr;
  ULONG flags = 0;
  if (hr = GetParameterInfoValue(id, &flags); FAILED(hr)) return hr;

  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if (entry.m_nParamId != id || id == -1) continue;
    // An online dialog leaves device values to the device's own refresh.
    if ((m_nDialogType & kDialogOnline) && !(entry.m_nCtrlKind & kOptionRefreshAll) && inDevice) continue;
    if (hr = SetControlValueById(id, value); FAILED(hr)) return hr;
    if (value.vt == VT_EMPTY) flags |= kNoValue | kInvalid;
    if (!m_bAccessGranted && (flags & kUsable)) {
      if (hr = CompareValues(vkr::UI4(static_cast<ULONG>(id)), &flags); FAILED(hr)) return hr;
    }
    flags &= ~kChanged;
    SetControlStateById(id, flags);
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::RefreshParameter(LONG id) {
  vkr::Variant value;
  HRESULT hr = QueryParameterInfo(id, value.Put());
  if (FAILED(hr)) return hr;
  ULONG flags = 0;
  if (hr = GetParameterInfoValue(id, &flags); FAILED(hr)) return hr;

  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if (entry.m_nParamId != id || id == -1) continue;
    if ((m_nDialogType & kDialogOnline) && !(entry.m_nCtrlKind & kOptionCompare)) continue;
    if (hr = SetControlValueById(id, value); FAILED(hr)) return hr;
    if (value.vt == VT_EMPTY) flags |= kNoValue | kInvalid;
    flags &= ~(kChanged | kInvalid);
    if (!m_bAccessGranted && (flags & kUsable)) {
      if (hr = CompareValues(vkr::UI4(static_cast<ULONG>(id)), &flags); FAILED(hr)) return hr;
    }
    SetControlStateById(id, flags);
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnShowWindow(UINT, WPARAM wParam, LPARAM, BOOL*) {
  const BOOL shown = wParam != 0 ? TRUE : FALSE;
  if (m_eFamily == EUiFamily::Control) {
    if (!shown) return S_OK;
    InitializeMembers();
    if (!m_bIndicatorsPending) return S_OK;
    return CreateStatusIndicators(TRUE);
  }

  // Pages: the stored states are shown again each time the page comes up, and the DTM learns
  // which page is visible.
  const HRESULT created = CreateStatusIndicators(shown);
  m_bPageHidden = shown ? FALSE : TRUE;
  if (shown) {
    for (ULONG i = 0; i < m_nParInfoCount && m_pParInfo && !m_pParInfo[i].IsEnd(); ++i)
      SetControlStateById(m_pParInfo[i].m_nParamId, m_pParInfo[i].m_nState);
    m_bIndicatorsPending = FALSE;
  }
  vkr::Variant instance;
  instance.vt = VT_BSTR;
  if (HRESULT hr = m_bstrSystemTag.CopyTo(&instance.bstrVal); FAILED(hr)) return hr;
  if (HRESULT hr = SendDtmMessage(3, instance); FAILED(hr)) return hr;
  return created;
}

HRESULT CovFDT_BaseActiveXImpl::CreateStatusIndicators(BOOL show) {
  if (!show || !m_bIndicatorsPending) return S_OK;
  if (!m_hWndDialog || !IsWindow(m_hWndDialog) || !m_pParInfo) return E_UNEXPECTED;

  // Where the dialog's client area starts on the screen: a child at (0, 0) tells.
  RECT origin{};
  if (HWND probe = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, m_hWndDialog, nullptr, nullptr, nullptr)) {
    GetWindowRect(probe, &origin);
    DestroyWindow(probe);
  }

  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    CActXParInfo& entry = m_pParInfo[i];
    if (entry.m_nCtrlId == 0) {
      entry.m_hWndCtrl = nullptr;
      continue;
    }
    entry.m_hWndCtrl = GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
    if (!entry.m_hWndCtrl || !entry.m_bIndicator || entry.m_hWndIndicator) continue;

    RECT rc{};
    GetWindowRect(entry.m_hWndCtrl, &rc);
    TEXTMETRICA tm{};
    if (HDC dc = GetDC(entry.m_hWndCtrl)) {
      GetTextMetricsA(dc, &tm);
      ReleaseDC(entry.m_hWndCtrl, dc);
    }
    const int x = rc.left - tm.tmHeight / 3 - origin.left - kIndicatorSize;
    const int y = (rc.bottom - rc.top - kIndicatorSize) / 2 - origin.top + rc.top;
    entry.m_hWndIndicator = CreateWindowExA(0, "STATIC", nullptr, kIndicatorStyle, x, y, kIndicatorSize, kIndicatorSize,
                                            m_hWndDialog, nullptr, nullptr, nullptr);
    if (!entry.m_hWndIndicator) continue;
    // The state was set before the indicator existed: show its icon now, and keep a hidden
    // entry's indicator hidden with it.
    SetStatusIndicator(i, entry.m_nState, entry.m_nState, TRUE);
    ShowWindow(entry.m_hWndIndicator, (entry.m_nState & kHidden) ? SW_HIDE : SW_SHOW);
  }
  m_bIndicatorsPending = FALSE;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::DestroyIndicatorWindows() {
  if (!m_pParInfo) return S_OK;
  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    CActXParInfo& entry = m_pParInfo[i];
    if (entry.m_hWndIndicator && IsWindow(entry.m_hWndIndicator)) DestroyWindow(entry.m_hWndIndicator);
    entry.m_hWndIndicator = nullptr;
  }
  // A user interface shown again after its indicators went makes them anew.
  m_bIndicatorsPending = TRUE;
  return S_OK;
}

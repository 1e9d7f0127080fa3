// The Setup page: its empty table, its decoders and its refresh.
#include "ui/device/SetupPP.h"

#include <cstdio>
#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

SPropertyPageClass SetupClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_SetupPP;
  c.parameterMap = &CSetupPP::GetParameterMap;
  c.dialogId = kSetupDialogId;
  c.controlNames = vkr::dui::kSetupControlNames;
  c.titleId = kSetupTitleId;
  c.helpFileId = kSetupHelpFileId;
  c.docStringId = kSetupDocStringId;
  return c;
}

void ShowFloat(HWND dialog, UINT controlId, float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
  ::SetDlgItemTextA(dialog, static_cast<int>(controlId), text);
}

// The ids the page's own code acts on.
bool IsOwnId(LONG id) {
  switch (id) {
    case kParCommand1Complete:
    case kParCommand2Complete:
    case kParCommand15Complete:
    case kParRangeUnit:
    case kParPvUnitUser:
    case kParButtonRefresh:
    case kParButtonSend:
      return true;
    default:
      return false;
  }
}

}  // namespace

CSetupPP::CSetupPP() : CDevicePropertyPage(SetupClass()) {}

CSetupPP::~CSetupPP() = default;

CActXParInfo* CSetupPP::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

HRESULT CSetupPP::GetTypeInfoCount(UINT* count) { return CDevicePropertyPage::GetTypeInfoCount(count); }
HRESULT CSetupPP::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CDevicePropertyPage::GetTypeInfo(index, locale, info);
}
HRESULT CSetupPP::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return CDevicePropertyPage::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CSetupPP::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) {
  return CDevicePropertyPage::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

void* CSetupPP::FindInterface(REFIID riid) {
  if (riid == ISetupPP::iid) return static_cast<ISetupPP*>(this);
  return CDevicePropertyPage::FindInterface(riid);
}

HRESULT CSetupPP::ReadParameter(LONG index) { return ReadParameterOnline(index); }

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT CSetupPP::SetControlValueById(LONG id, VARIANT value) {
  CUpdatingControls updating(*this);
  switch (id) {
    case kParCommand1Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand1Response answer = DecodeCommand1(bytes);
      if (answer.pvUnit) StorePvUnitIfChanged(m_spDtm.Get(), *answer.pvUnit, &m_nPvUnit);
      return S_OK;
    }
    case kParCommand15Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand15Response answer = DecodeCommand15(bytes);
      StoreCommand15Values(m_spDtm.Get(), answer, &m_nRangeUnit);
      // The page's three edits show what the device holds, the range in its unit.
      if (answer.rangeUnit) {
        const std::string unit = LengthUnitLabel(*answer.rangeUnit);
        for (UINT label : {kSetupUpperUnitText, kSetupLowerUnitText})
          ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(label), unit.c_str());
      }
      if (answer.upperRange) ShowFloat(m_hWndDialog, kSetupUpperRangeEdit, *answer.upperRange);
      if (answer.lowerRange) ShowFloat(m_hWndDialog, kSetupLowerRangeEdit, *answer.lowerRange);
      if (answer.damping) ShowFloat(m_hWndDialog, kSetupDampingEdit, *answer.damping);
      return S_OK;
    }
    case kParCommand2Complete:
    case kParRangeUnit:
    case kParPvUnitUser:
    case kParButtonSend:
      // The Process / Output page shows these; this dialog has no place for them.
      return S_OK;
    case kParButtonRefresh:
      if (AcceptRefresh(value.vt == VT_UI1 && value.bVal != 0, m_bShown != 0)) return OnRefresh();
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

HRESULT CSetupPP::GetControlValueById(LONG, VARIANT* value) {
  // The caller's VARIANT is an out value: never give back what happened to be in it.
  if (value) VariantInit(value);
  return S_OK;
}

bool CSetupPP::TakeOwnNotification(const VARIANT& event, HRESULT* result) {
  LONG id = -1;
  vkr::Variant value;
  if (FAILED(UnpackParameterEvent(event, &id, &value)) || !IsOwnId(id)) return false;
  if (value.vt == VT_EMPTY && m_spDtm) m_spDtm->GetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value.Put());
  const HRESULT hr = SetControlValueById(id, value);
  *result = FAILED(hr) ? hr : S_OK;
  return true;
}

HRESULT CSetupPP::OnParameterRefreshEvent(VARIANT event) {
  HRESULT hr = S_OK;
  if (TakeOwnNotification(event, &hr)) return hr;
  return CDevicePropertyPage::OnParameterRefreshEvent(event);
}

HRESULT CSetupPP::OnRefreshAllEvent(VARIANT event) {
  HRESULT hr = S_OK;
  if (TakeOwnNotification(event, &hr)) return hr;
  return CDevicePropertyPage::OnRefreshAllEvent(event);
}

HRESULT CSetupPP::OnParameterChangedEvent(VARIANT event) {
  HRESULT hr = S_OK;
  if (TakeOwnNotification(event, &hr)) return hr;
  return CDevicePropertyPage::OnParameterChangedEvent(event);
}

// ---- The user's edits and the page's showing ---------------------------------------------------

HRESULT CSetupPP::OnControlChange(UINT code, UINT controlId, HWND control) {
  if (m_bUpdatingControls || m_bBusy) return S_OK;
  if (controlId == kSetupUpperRangeEdit || controlId == kSetupLowerRangeEdit || controlId == kSetupDampingEdit)
    SetDtmParameterValue(kParActivateButtonSend, vkr::I4(1));
  return CDevicePropertyPage::OnControlChange(code, controlId, control);
}

HRESULT CSetupPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  if (wParam) {
    m_bShown = 1;
    if (m_bFirstShow) {
      RequestFirstRefresh();
      m_nPvUnit = 0xFFFF;
      m_bFirstShow = 0;
    }
  } else {
    m_bShown = 0;
  }
  return CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
}

BOOL CSetupPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                    DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_COMMAND) {
    const UINT code = HIWORD(wParam);
    const UINT control = LOWORD(wParam);
    if (code == EN_CHANGE) {
      OnControlChange(code, control, reinterpret_cast<HWND>(lParam));
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
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

HRESULT CSetupPP::OnRefresh() {
  m_nPvUnit = 0xFFFF;
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (state == dsONLINE) {
    VARIANT_BOOL read = VARIANT_FALSE;
    m_spDtm->ReadDeviceParameter(vkr::UI4(kParCommand15Complete), &read);
  }
  SetDirty(FALSE);
  return S_OK;
}

}  // namespace vkr::dui

// The controls that keep the DTM online: the shared counting and write, and the online parameter
// control.
#include "ui/device/OnlineParam.h"

#include "include/ParameterHandlerInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr LONG kFieldReadFromDevice = 0x1;
constexpr ULONG kDialogTypeOffline = 0x2;
constexpr ULONG kDialogTypeOnline = 0x1;
constexpr ULONG kOptionStoreInDtm = 0x100;
constexpr LONG kFieldDeviceValue = 0x200000;

template <class Interface>
vkr::ComPtr<Interface> QueryOf(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object) object->QueryInterface(Interface::iid, found.PutVoid());
  return found;
}

// The audit-trail switch's argument: VT_I2 -1 (on) or 0 (off).
VARIANT AuditTrail(SHORT on) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_I2;
  v.iVal = on;
  return v;
}

bool IsIdentificationPart(LONG id) { return id >= 1054 && id <= 1058; }

SCompositeControlClass ControlClass(UINT dialogId) {
  SCompositeControlClass cls;
  cls.dialogId = dialogId;
  return cls;
}

// Switches the audit trail off when the write leaves, whichever way it leaves.
class CAuditTrailOff {
 public:
  explicit CAuditTrailOff(CovFDT_BaseActiveXImpl& ui) : m_ui(ui) {}
  ~CAuditTrailOff() {
    if (!m_bSent) m_ui.SendDtmMessage(kDtmMessageAuditTrail, AuditTrail(0));
  }
  CAuditTrailOff(const CAuditTrailOff&) = delete;
  CAuditTrailOff& operator=(const CAuditTrailOff&) = delete;
  // The switch-off now, with its result.
  HRESULT Send() {
    m_bSent = true;
    return m_ui.SendDtmMessage(kDtmMessageAuditTrail, AuditTrail(0));
  }

 private:
  CovFDT_BaseActiveXImpl& m_ui;
  bool m_bSent = false;
};

}  // namespace

// ===== Shared part ==================================================================================

COnlineCountedControl::COnlineCountedControl(const CLSID& clsid, ParameterMapFunction parameterMap, UINT dialogId)
    : CovFDT_IDtmActiveXControlImpl(clsid, parameterMap, ControlClass(dialogId)) {
  m_nApplyButtonId = kApplyButtonId;
}

ULONG COnlineCountedControl::CurrentDtmState() const {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  if (vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(dtm)) {
    EDtmState state = dsUNDEFINED;
    if (SUCCEEDED(base->GetDTMState(&state))) return static_cast<ULONG>(state);
  }
  return m_nDtmState;
}

HRESULT COnlineCountedControl::StartControl(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  const HRESULT started = CovFDT_IDtmActiveXControlImpl::Init(instanceId, functionCall, dtm, result);
  if (started != S_OK || !*result) return started;
  if (!QueryOf<IovFdtBaseDTM>(dtm)) {
    // The frame lets a control go whose Init failed without releasing it: the start is undone
    // here, so that the function container does not keep it.
    VARIANT_BOOL released = VARIANT_FALSE;
    CovFDT_IDtmActiveXControlImpl::PrepareToRelease(&released);
    *result = VARIANT_FALSE;
    return E_NOINTERFACE;
  }
  return S_OK;
}

HRESULT COnlineCountedControl::ApplyParameterChanges() {
  if (m_nDialogType == kDialogTypeOffline) return CovFDT_IDtmActiveXControlImpl::ApplyParameterChanges();
  HRESULT hr = SetFocusToControl();
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtParameterInfo> info = QueryOf<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  hr = SendDtmMessage(kDtmMessageAuditTrail, AuditTrail(-1));
  if (FAILED(hr)) return hr;
  CAuditTrailOff auditTrailOff(*this);

  bool identificationChanged = false;
  for (ULONG i = 0; i < m_nParInfoCount; ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if (!(entry.m_nState & kStateChanged)) continue;
    const LONG id = entry.m_nParamId;
    vkr::Variant field;
    hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(kFieldReadFromDevice), &field);
    if (FAILED(hr)) return hr;
    LONG fromDevice = 0;
    ReadNumber(field, &fromDevice);
    const bool toDevice = fromDevice != 0 && !(m_nDialogType & kDialogTypeOffline) &&
                          (!(m_nDialogType & kDialogTypeOnline) || !(entry.m_nCtrlKind & kOptionStoreInDtm));
    if (!toDevice) {
      hr = ValidateControlValue(id);
    } else if (IsIdentificationPart(id)) {
      // Stored in the data set now, written to the device together below: the identification
      // write takes tag, descriptor and date from the data set (the device-value field would
      // leave the old ones there, and the device would get them back).
      identificationChanged = true;
      vkr::Variant value;
      hr = GetControlValueById(id, &value);
      if (SUCCEEDED(hr)) hr = m_spDtm ? m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value) : E_POINTER;
    } else {
      hr = ApplyDeviceEntry(id);
    }
    if (FAILED(hr)) return hr;
  }
  if (identificationChanged) {
    // The device gets tag, descriptor and date in one command: the parts the user left alone go
    // with the values the control shows (the device's), never with whatever the data set held.
    for (ULONG i = 0; i < m_nParInfoCount; ++i) {
      const CActXParInfo& entry = m_pParInfo[i];
      if (!IsIdentificationPart(entry.m_nParamId) || (entry.m_nState & kStateChanged)) continue;
      // A part the device never answered with is not known: writing would put a guess there.
      vkr::Variant read;
      hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(entry.m_nParamId)), vkr::I4(kFieldDeviceValue), &read);
      if (FAILED(hr) || read.vt == VT_EMPTY) {
        ShowDeviceMessage(m_spDtmObject.Get(), kIdentificationCaption, kIdentificationUnread, kMessageError);
        return E_FAIL;
      }
      vkr::Variant value;
      hr = GetControlValueById(entry.m_nParamId, &value);
      if (SUCCEEDED(hr))
        hr = m_spDtm ? m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(entry.m_nParamId)), value) : E_POINTER;
      if (FAILED(hr)) return hr;
    }
    VARIANT_BOOL written = VARIANT_FALSE;
    hr = m_spDtm ? m_spDtm->WriteDeviceParameterEx(vkr::I4(kParIdentification), vkr::EmptyVariant(), &written)
                 : E_POINTER;
    if (FAILED(hr)) return hr;
    if (!written) {
      TellUser(u"Write Parameters", u"The device did not take the new identification. The change was not written.");
      return E_FAIL;
    }
  }
  hr = auditTrailOff.Send();
  if (FAILED(hr)) return hr;
  EnableApplyButton(FALSE);
  return S_OK;
}

// ===== Online parameter control =====================================================================

COnlineParam::COnlineParam()
    : COnlineCountedControl(CLSID_OnlineParam, &COnlineParam::GetParameterMap, kOnlineParamDialogId) {
  // The dialog reads the device while the DTM is online.
  m_nDialogType = kDialogTypeOnlineReading;
}

COnlineParam::~COnlineParam() = default;

CActXParInfo* COnlineParam::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

void* COnlineParam::FindInterface(REFIID riid) {
  if (riid == IOnlineParam::iid) return static_cast<IOnlineParam*>(this);
  return COnlineCountedControl::FindInterface(riid);
}

HRESULT COnlineParam::GetTypeInfoCount(UINT* count) { return COnlineCountedControl::GetTypeInfoCount(count); }
HRESULT COnlineParam::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return COnlineCountedControl::GetTypeInfo(index, lcid, info);
}
HRESULT COnlineParam::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return COnlineCountedControl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT COnlineParam::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argumentError) {
  return COnlineCountedControl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

HRESULT COnlineParam::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  const HRESULT hr = StartControl(instanceId, functionCall, dtm, result);
  if (hr != S_OK) return hr;
  // The go-online request is not checked: the control works offline too, and counts either way.
  m_usage.CountIn(*this, CurrentDtmState());
  return S_OK;
}

HRESULT COnlineParam::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  m_usage.CountOut(*this, CurrentDtmState());
  return COnlineCountedControl::PrepareToRelease(result);
}

HRESULT COnlineParam::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  const HRESULT hr = COnlineCountedControl::InitializeUI(dtm, ok);
  if (FAILED(hr) || !ok || !*ok) return hr;
  if (SUCCEEDED(CallActiveXContainer(kOnlineParamFunction, 0))) m_bFunctionDisabled = true;
  // No field of the form is bound to a parameter: nothing typed there could ever be written.
  for (UINT id : kValuesFormFields)
    ::SendDlgItemMessageA(DialogWindow(), static_cast<int>(id), EM_SETREADONLY, TRUE, 0);
  ShowConnection(CurrentDtmState());
  return S_OK;
}

HRESULT COnlineParam::OnDtmStateChanged(ULONG state) {
  const HRESULT hr = COnlineCountedControl::OnDtmStateChanged(state);
  ShowConnection(state);
  return hr;
}

void COnlineParam::ShowConnection(ULONG state) {
  HWND dialog = DialogWindow();
  if (!dialog) return;
  // The form shows no device value; without a device it says why it stays empty.
  const bool connected = state == kDtmStateOnline || state == kDtmStateGoingOnline;
  for (UINT id : kValuesFormFields) {
    if (connected) {
      if (ShowsPlaceholder(dialog, id)) ::SetDlgItemTextA(dialog, static_cast<int>(id), "");
    } else {
      SetLoadingText(dialog, {id});
      MatchPlaceholders(dialog, false, {id}, {});
    }
  }
}

HRESULT COnlineParam::UninitializeUI(VARIANT_BOOL* ok) {
  if (m_bFunctionDisabled) {
    CallActiveXContainer(kOnlineParamFunction, 1);
    m_bFunctionDisabled = false;
  }
  return COnlineCountedControl::UninitializeUI(ok);
}

BOOL COnlineParam::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      if (result) *result = TRUE;
      return TRUE;
    case WM_SIZE:
      // The form is laid out by its dialog; nothing is drawn over it.
      if (result) *result = 0;
      return TRUE;
    default: break;
  }
  // Close: the close request. The shared maps take every button's click as an entry's change,
  // so it is taken before them (no entry is bound to it).
  if (message == WM_COMMAND && LOWORD(wParam) == kValuesFormClose && HIWORD(wParam) == BN_CLICKED) {
    PostCloseRequest();
    if (result) *result = 0;
    return TRUE;
  }
  // OK, Cancel and Apply: the control family's handlers (OK and Apply write through
  // ApplyParameterChanges above), then the shared maps.
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

}  // namespace vkr::dui

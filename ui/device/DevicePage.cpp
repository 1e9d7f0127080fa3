// CDevicePropertyPage: the bodies the device pages share (see DevicePage.h).
#include "ui/device/DevicePage.h"

#include "include/ParameterHandlerInterfaces.h"
#include "ui/device/DeviceUiIds.h"

namespace {

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> result;
  if (object) object->QueryInterface(Interface::iid, result.PutVoid());
  return result;
}

// Information fields of IovFdtParameterInfo.
constexpr LONG kFieldExists = static_cast<LONG>(0x80000000);
constexpr LONG kFieldReadFromDevice = 0x1;
constexpr LONG kFieldValue = 0x200000;

// The edits and the unit combo whose changes enable the frame's Send (Process page's dialog).
constexpr UINT kUpperRangeEdit = 395;
constexpr UINT kLowerRangeEdit = 397;
constexpr UINT kDampingEdit = 399;
constexpr UINT kUnitCombo = 381;

HRESULT InfoField(IovFdtParameterInfo* info, LONG id, LONG field, VARIANT* answer) {
  VariantClear(answer);
  return info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(field), answer);
}

// An answer that names nothing: empty, false or zero.
bool IsNone(const VARIANT& answer) {
  if (answer.vt == VT_EMPTY || answer.vt == VT_NULL) return true;
  if (answer.vt == VT_BOOL) return answer.boolVal == VARIANT_FALSE;
  LONG number = 0;
  return CovFDT_BaseActiveXImpl::ReadNumber(answer, &number) && number == 0;
}

std::string Ansi(const vkr::Bstr& text) {
  if (text.Empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.Get(), static_cast<int>(text.Length()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.Get(), static_cast<int>(text.Length()), out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

CDevicePropertyPage::CDevicePropertyPage(const SPropertyPageClass& pageClass) : CovFDT_PropertyPageImpl(pageClass) {}

CDevicePropertyPage::~CDevicePropertyPage() { m_spParamGroupDisplay = nullptr; }

HRESULT CDevicePropertyPage::FinalConstruct() {
  CoCreateInstance(CLSID_ParamGroupDisplay, nullptr, CLSCTX_ALL, IParamGroupDisplay::iid,
                   m_spParamGroupDisplay.PutVoid());
  return S_OK;
}

void CDevicePropertyPage::FinalRelease() { m_spParamGroupDisplay = nullptr; }

std::string CDevicePropertyPage::UnitText(BYTE unitCode) const {
  if (!m_spParamGroupDisplay) return {};
  vkr::Bstr text;
  if (FAILED(m_spParamGroupDisplay->GetUnitText(unitCode, text.Put()))) return {};
  return Ansi(text);
}

std::string CDevicePropertyPage::TransferFunctionText(BYTE code) const {
  if (!m_spParamGroupDisplay) return {};
  vkr::Bstr text;
  if (FAILED(m_spParamGroupDisplay->GetTransferFunctionText(code, text.Put()))) return {};
  return Ansi(text);
}

HRESULT CDevicePropertyPage::OnDtmStateChanged(ULONG state) {
  const bool wasOnline = m_nDtmState == vkr::dui::kDtmStateOnline;
  const HRESULT hr = CovFDT_PropertyPageImpl::OnDtmStateChanged(state);
  if (FAILED(hr)) return hr;
  UpdatePlaceholders();
  if (!wasOnline && state == vkr::dui::kDtmStateOnline) OnDeviceOnline();
  return hr;
}

bool CDevicePropertyPage::DeviceMayAnswer() const {
  const ULONG state = CurrentDtmState();
  return state == vkr::dui::kDtmStateOnline || state == vkr::dui::kDtmStateGoingOnline;
}

ULONG CDevicePropertyPage::CurrentDtmState() const {
  vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  if (base) base->GetDTMState(&state);
  return static_cast<ULONG>(state);
}

// ---- Reading one entry --------------------------------------------------------------------------

HRESULT CDevicePropertyPage::ReadDeviceValue(LONG index, bool* fromDevice, VARIANT* value) {
  *fromDevice = false;
  VariantClear(value);
  if (!m_pParInfo || index < 0 || static_cast<ULONG>(index) >= m_nParInfoCount) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  const CActXParInfo& entry = m_pParInfo[index];

  vkr::Variant answer;
  HRESULT hr = InfoField(info.Get(), entry.m_nParamId, kFieldExists, &answer);
  if (FAILED(hr)) return hr;
  if (IsNone(answer)) return E_FAIL;
  if (FAILED(hr = InfoField(info.Get(), entry.m_nParamId, kFieldReadFromDevice, &answer))) return hr;
  LONG device = 0;
  CovFDT_BaseActiveXImpl::ReadNumber(answer, &device);
  *fromDevice = device == 1;

  const bool wanted = (m_nDialogType & 4) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & 0x200));
  if (m_nDtmState == vkr::dui::kDtmStateOnline && device == 1 && wanted) {
    // A device value the DTM cannot give counts as none.
    if (FAILED(InfoField(info.Get(), entry.m_nParamId, kFieldValue, value))) VariantClear(value);
  }
  return S_OK;
}

HRESULT CDevicePropertyPage::ShowEntry(LONG index, const VARIANT& value, bool returnDisplayFailure) {
  const LONG id = m_pParInfo[index].m_nParamId;
  const ULONG kind = m_pParInfo[index].m_nCtrlKind;
  ULONG state = 0;
  HRESULT hr = ReadParameterInfo(static_cast<ULONG>(index));
  if (SUCCEEDED(hr)) hr = GetParameterInfoValue(id, &state);
  if (SUCCEEDED(hr)) hr = FillControlChoices(static_cast<ULONG>(index));
  if (FAILED(hr)) return hr;
  if (value.vt != VT_EMPTY) {
    hr = SetControlValueById(id, value);
    if (FAILED(hr) && returnDisplayFailure) return hr;
  } else {
    state |= 0x404;
  }
  if ((m_nDialogType & 2) || ((m_nDialogType & 1) && (kind & 0x100))) state &= ~vkr::dui::kStateChanged;
  return SetControlStateById(id, state);
}

HRESULT CDevicePropertyPage::ReadParameterOnline(LONG index) {
  bool fromDevice = false;
  vkr::Variant value;
  HRESULT hr = ReadDeviceValue(index, &fromDevice, &value);
  if (FAILED(hr)) return hr;
  // A value the DTM keeps itself has no device answer to wait for: marked "no value" (0x404, which
  // includes the invalid bit) it would stop every Send at it until the user touched it. It shows
  // the data set's value instead.
  if (value.vt == VT_EMPTY && !fromDevice && FAILED(GetDtmParameterValue(m_pParInfo[index].m_nParamId, value.Put())))
    value.Clear();
  return ShowEntry(index, value, false);
}

HRESULT CDevicePropertyPage::ReadParameterOrDataSet(LONG index) {
  bool fromDevice = false;
  vkr::Variant value;
  HRESULT hr = ReadDeviceValue(index, &fromDevice, &value);
  if (FAILED(hr)) return hr;
  if (value.vt == VT_EMPTY) {
    hr = GetDtmParameterValue(m_pParInfo[index].m_nParamId, value.Put());
    if (FAILED(hr)) return hr;
  }
  return ShowEntry(index, value, true);
}

// ---- Input and release --------------------------------------------------------------------------

HRESULT CDevicePropertyPage::OnCommandPageControlChange(UINT code, UINT controlId, HWND control) {
  if (m_bUpdatingControls || m_bBusy) return S_OK;
  if (controlId == kUpperRangeEdit || controlId == kLowerRangeEdit || controlId == kDampingEdit) {
    SetDtmParameterValue(vkr::dui::kParActivateButtonSend, vkr::I4(1));
  } else if (controlId == kUnitCombo && code == CBN_SELCHANGE) {
    SetDtmParameterValue(vkr::dui::kParActivateButtonSend, vkr::I4(1));
    HWND combo = control ? control : ::GetDlgItem(m_hWndDialog, static_cast<int>(kUnitCombo));
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected >= 0) {
      const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
      if (length >= 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text.data()));
        SetWindowTextA(combo, text.c_str());
      }
    }
  }
  return CovFDT_PropertyPageImpl::OnControlChange(code, controlId, control);
}

HRESULT CDevicePropertyPage::UninitializeStoppingResponses(VARIANT_BOOL* ok) {
  ChangeUpdateRate(vkr::dui::kParCommand1Complete, 0);
  ChangeUpdateRate(vkr::dui::kParCommand2Complete, 0);
  return CovFDT_PropertyPageImpl::UninitializeUI(ok);
}

HRESULT CDevicePropertyPage::MarkEntryInvalid(LONG id) {
  const LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  return SetControlStateById(id, m_pParInfo[index].m_nState | vkr::dui::kStateUsable | vkr::dui::kStateInvalid);
}

// ---- Parameter map without entries --------------------------------------------------------------

CActXParInfo* EmptyParameterMap(int* count, BOOL copy) {
  static CActXParInfo end[1];
  if (!copy) {
    if (count) *count = 0;
    return end;
  }
  return CopyParameterTable(end, count);
}

// CovFDT_BaseActiveXImpl: values from the DTM into the dialog's controls (reading an entry,
// choice lists, showing a value by control kind and type, display texts, parameter events).
//
// Every write into a control runs with m_bUpdatingControls set, so that the notifications the
// control sends back are not taken for the user's input; the flag is restored on every exit.
#include <cstring>

#include "parameters/CFdtVariant.h"
#include "parameters/EnumList.h"
#include "ui/framework/BaseActiveX.h"
#include "ui/framework/ValueText.h"

using vkr::ui::SValueFormat;
using vkr::ui::SValueLocale;

namespace {

// Sets m_bUpdatingControls for a scope and puts back what it held, so that a nested writer never
// clears the flag under its caller.
class UpdatingControls {
 public:
  explicit UpdatingControls(BOOL& flag) : m_flag(flag), m_saved(flag) { m_flag = TRUE; }
  ~UpdatingControls() { m_flag = m_saved; }
  UpdatingControls(const UpdatingControls&) = delete;
  UpdatingControls& operator=(const UpdatingControls&) = delete;

 private:
  BOOL& m_flag;
  BOOL m_saved;
};

bool IsChoiceList(const VARIANT& choices) { return choices.vt == (VT_ARRAY | VT_BSTR); }

bool HasFormat(const CActXParInfo& entry) { return entry.m_pszFormat && *entry.m_pszFormat; }

// A bit set as VT_UI4: numbers convert, a negative 32-bit number gives its pattern.
HRESULT BitsOf(const VARIANT& value, ULONG* bits) {
  vkr::Variant converted;
  HRESULT hr = VariantChangeType(&converted, &value, 0, VT_UI4);
  if (SUCCEEDED(hr)) {
    *bits = converted.ulVal;
    return S_OK;
  }
  if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_I4))) {
    *bits = static_cast<ULONG>(converted.lVal);
    return S_OK;
  }
  return hr;
}

}  // namespace

std::vector<vkr::ui::SChoice> CovFDT_BaseActiveXImpl::ChoicesOf(const VARIANT& list) {
  std::vector<vkr::ui::SChoice> choices;
  ULONG count = 0;
  if (FAILED(GetEnumListCount(list, &count))) return choices;
  for (ULONG i = 0; i < count; ++i) {
    LONG value = 0;
    vkr::Bstr label;
    if (FAILED(GetEnumListEntry(list, i, &value, label.Put()))) break;
    choices.push_back({value, vkr::ui::NarrowText(label)});
  }
  return choices;
}

const SValueFormat& CovFDT_BaseActiveXImpl::ValueFormatOf(const char* format) {
  std::string_view text = format ? format : "";
  auto found = m_mapValueFormats.find(text);
  if (found == m_mapValueFormats.end())
    found = m_mapValueFormats.emplace(std::string(text), vkr::ui::ParseValueFormat(text)).first;
  return found->second;
}

vkr::ComPtr<IovFdtParameterInfo> CovFDT_BaseActiveXImpl::ParameterInfo() const {
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (m_spDtm) m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
  return info;
}

HRESULT CovFDT_BaseActiveXImpl::ReadInfoField(IovFdtParameterInfo* info, LONG id, ULONG field, VARIANT* value) {
  VariantClear(value);
  return info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(static_cast<LONG>(field)), value);
}

HRESULT CovFDT_BaseActiveXImpl::ReadInfoFlag(IovFdtParameterInfo* info, LONG id, ULONG field, bool* set) {
  vkr::Variant flag;
  HRESULT hr = ReadInfoField(info, id, field, &flag);
  if (FAILED(hr)) return hr;
  vkr::Variant number;
  *set = SUCCEEDED(VariantChangeType(&number, &flag, 0, VT_I4)) && number.lVal != 0;
  return hr;
}

std::string CovFDT_BaseActiveXImpl::ItemText(UINT controlId) const {
  HWND item = ::GetDlgItem(m_hWndDialog, static_cast<int>(controlId));
  if (!item) return {};
  int length = GetWindowTextLengthA(item);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(item, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

bool CovFDT_BaseActiveXImpl::IsCheckButton(HWND control) {
  if (!control || GetControlType(control) != 6) return false;
  switch (static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return true;
    case BS_OWNERDRAW:  // drawn by the base as a check box or radio button when its entry has that look
      return std::any_of(m_pParInfo, m_pParInfo + m_nParInfoCount, [id = static_cast<UINT>(GetDlgCtrlID(control))](const CActXParInfo& e) { return e.m_nCtrlId == id && (e.m_nCtrlKind & 0x30) && !(e.m_nCtrlKind & 0x80000000); });
    default:
      return false;
  }
}

bool CovFDT_BaseActiveXImpl::IsValidIndex(LONG index) const {
  return m_pParInfo && index >= 0 && static_cast<ULONG>(index) < m_nParInfoCount;
}

// ===== Reading an entry ==========================================================================

HRESULT CovFDT_BaseActiveXImpl::ReadParameter(LONG index) {
  if (!IsValidIndex(index)) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_POINTER;
  const LONG id = m_pParInfo[index].m_nParamId;

  // The parameter must exist: an unknown one answers nothing or false.
  vkr::Variant exists;
  HRESULT hr = ReadInfoField(info.Get(), id, 0x80000000, &exists);
  if (FAILED(hr)) return hr;
  if (exists.vt == VT_EMPTY || (exists.vt == VT_BOOL && exists.boolVal == VARIANT_FALSE)) return E_FAIL;

  bool device = false;
  if (FAILED(hr = ReadInfoFlag(info.Get(), id, 0x1, &device))) return hr;

  vkr::Variant value;
  const ULONG kind = m_pParInfo[index].m_nCtrlKind;
  bool online = m_nDtmState == 12 && device && ((m_nDialogType & 4) || ((m_nDialogType & 1) && (kind & 0x200)));
  if (online) {
    hr = ReadInfoField(info.Get(), id, 0x200000, &value);
    if (SUCCEEDED(hr) && value.vt == VT_EMPTY && m_pParInfo[index].m_bNoDeviceRead == 0) {
      if (SUCCEEDED(ReadDeviceParameterEx(id)))
        hr = ReadInfoField(info.Get(), id, 0x200000, &value);
      else
        hr = GetDtmParameterValue(id, value.Put());
    }
  } else {
    hr = GetDtmParameterValue(id, value.Put());
  }
  if (FAILED(hr)) return hr;

  ULONG flags = 0;
  if (FAILED(hr = ReadParameterInfo(static_cast<ULONG>(index)))) return hr;
  if (FAILED(hr = GetParameterInfoValue(id, &flags))) return hr;
  if (FAILED(hr = FillControlChoices(static_cast<ULONG>(index)))) return hr;

  if (value.vt != VT_EMPTY) {
    if (FAILED(hr = SetControlValueById(id, value))) return hr;
  } else {
    flags |= 0x404;
  }
  if ((m_nDialogType & 2) || ((m_nDialogType & 1) && (m_pParInfo[index].m_nCtrlKind & 0x100))) flags &= ~0x2u;
  return SetControlStateById(id, flags);
}

HRESULT CovFDT_BaseActiveXImpl::FillControlChoices(ULONG index) {
  if (!IsValidIndex(static_cast<LONG>(index))) return E_INVALIDARG;
  CActXParInfo& entry = m_pParInfo[index];

  if (entry.m_nCtrlId > 0 && IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
    // A hosted control fills its own choices; it needs the language once.
    if (entry.m_nCtrlId == m_nLastHostedControl) return S_OK;
    m_nLastHostedControl = entry.m_nCtrlId;
    vkr::ComPtr<IHostedControlSetup> setup;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedControlSetup::iid, setup.PutVoid())) || !setup) return E_UNEXPECTED;
    HRESULT hr = setup->SetLanguage(static_cast<LONG>(m_nLanguage));
    return FAILED(hr) ? hr : S_OK;
  }
  if (entry.m_vValue.vt == VT_EMPTY) return S_OK;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_NOINTERFACE;

  UINT reset = 0, add = 0, setData = 0;
  switch (GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId))) {
    case 4:
      reset = CB_RESETCONTENT, add = CB_ADDSTRING, setData = CB_SETITEMDATA;
      break;
    case 5:
      reset = LB_RESETCONTENT, add = LB_ADDSTRING, setData = LB_SETITEMDATA;
      break;
    default:
      return S_OK;
  }
  vkr::Variant list;
  ULONG count = 0;
  if (FAILED(ReadInfoField(info.Get(), entry.m_nParamId, 0x10000, &list)) || FAILED(GetEnumListCount(list, &count))) return S_OK;

  UpdatingControls updating(m_bUpdatingControls);
  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  SendMessageA(control, reset, 0, 0);
  for (ULONG i = 0; i < count; ++i) {
    LONG value = 0;
    vkr::Bstr label;
    HRESULT hr = GetEnumListEntry(list, i, &value, label.Put());
    if (FAILED(hr)) return hr;
    // A bit set has no item for the empty set.
    if (entry.m_wMode == 2 && value == 0) continue;
    std::string text = vkr::ui::NarrowText(label);
    LRESULT item = SendMessageA(control, add, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (item != -1) SendMessageA(control, setData, static_cast<WPARAM>(item), static_cast<LPARAM>(value));
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::CommitControlValue(LONG index) {
  if (!IsValidIndex(index)) return E_INVALIDARG;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_wMode != 1 && entry.m_wMode != 2) return S_OK;
  const LONG id = entry.m_nParamId;
  vkr::Variant value;
  HRESULT hr = GetControlValueById(id, &value);
  ReadParameterInfo(static_cast<ULONG>(index));
  FillControlChoices(static_cast<ULONG>(index));
  // Refilling the list lost the selection: show the value read before.
  if (hr == S_OK) SetControlValueById(id, value);
  return S_OK;
}

// ===== Showing a value ===========================================================================

HRESULT CovFDT_BaseActiveXImpl::SetControlValue(LONG index, VARIANT value) {
  if (!IsValidIndex(index)) return E_INVALIDARG;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_nCtrlId == 0) return S_OK;
  // A command's button shows what it does, never its parameter's value; a hosted display (the
  // frame's header, 217) shows the value whatever the entry's kind.
  if ((entry.m_nCtrlKind & 0x80000000) && !IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) return S_OK;
  UpdatingControls updating(m_bUpdatingControls);
  ShowParameterDisplayText(entry.m_nParamId);

  if (!HasFormat(entry)) {
    if (entry.m_wMode == 1) return SetComboBoxValue(static_cast<ULONG>(index), value);
    if (entry.m_wMode == 2) return SetListBoxValue(static_cast<ULONG>(index), value);
  }
  if (IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
    vkr::ComPtr<IHostedValueControl> hosted;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedValueControl::iid, hosted.PutVoid())) || !hosted) return E_UNEXPECTED;
    HRESULT hr = hosted->SetValue(entry.m_nParamId, value);
    return FAILED(hr) ? hr : S_OK;
  }
  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  if (IsCheckButton(control)) {
    vkr::Variant on;
    HRESULT hr = ChangeVariantType(&on, &value, VT_BOOL);
    if (FAILED(hr)) return hr;
    SendMessageA(control, BM_SETCHECK, on.boolVal != VARIANT_FALSE ? BST_CHECKED : BST_UNCHECKED, 0);
    return S_OK;
  }
  // A command's push button only triggers the command: its caption stays the dialog's text.
  if ((entry.m_nCtrlKind & 0x80000000) && GetControlType(control) == 6 &&
      (static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON)
    return S_OK;
  std::string text;
  if (vkr::ui::FormatValueText(ValueFormatOf(entry.m_pszFormat), value, SValueLocale::Of(LOCALE_SYSTEM_DEFAULT),
                               &text)) {
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(entry.m_nCtrlId), text.c_str());
    if (value.vt == VT_R4) RememberShownNumber(entry.m_nCtrlId, value.fltVal);
    if (value.vt == VT_R8) RememberShownNumber(entry.m_nCtrlId, value.dblVal);
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetControlValueById(LONG id, VARIANT value) {
  if (!m_pParInfo || id == -1) return S_OK;
  UpdatingControls updating(m_bUpdatingControls);
  HRESULT hr = S_OK;
  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    if (m_pParInfo[i].m_nParamId != id) continue;
    hr = SetControlValue(static_cast<LONG>(i), value);
    if (FAILED(hr)) break;
  }
  return hr;
}

HRESULT CovFDT_BaseActiveXImpl::SetComboBoxValue(ULONG index, VARIANT value) {
  if (!IsValidIndex(static_cast<LONG>(index)) || !IsChoiceList(m_pParInfo[index].m_vValue)) return E_INVALIDARG;
  const CActXParInfo& entry = m_pParInfo[index];
  if (IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
    vkr::ComPtr<IHostedValueControl> hosted;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedValueControl::iid, hosted.PutVoid())) || !hosted) return E_UNEXPECTED;
    HRESULT hr = hosted->SetValue(entry.m_nParamId, value);
    return FAILED(hr) ? hr : S_OK;
  }
  UpdatingControls updating(m_bUpdatingControls);
  const LONG type = GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId));
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_NOINTERFACE;
  vkr::Variant list;
  if (FAILED(ReadInfoField(info.Get(), entry.m_nParamId, 0x10000, &list))) return S_OK;

  vkr::Variant number;
  HRESULT hr = VariantChangeType(&number, &value, 0, VT_I4);
  if (FAILED(hr)) return hr;
  LONG key = number.lVal;
  if (value.vt == VT_BOOL && value.boolVal == VARIANT_TRUE) key = 1;

  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  switch (type) {
    case 1:
    case 2: {
      ULONG count = 0;
      if (FAILED(hr = GetEnumListCount(list, &count))) return hr;
      vkr::Bstr label;
      std::string text = FindEnumListEntryByValue(list, key, nullptr, label.Put()) ? vkr::ui::NarrowText(label) : "<Out of Range>";
      SetWindowTextA(control, text.c_str());
      break;
    }
    case 4:
    case 5: {
      const bool combo = type == 4;
      if (SendMessageA(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0) == -1) break;
      ULONG position = 0;
      LONG select = FindEnumListEntryByValue(list, key, &position, nullptr) ? static_cast<LONG>(position) : -1;
      SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(select), 0);
      break;
    }
    case 6:
      SendMessageA(control, BM_SETCHECK, key != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    default:
      break;
  }
  return hr;
}

HRESULT CovFDT_BaseActiveXImpl::SetListBoxValue(ULONG index, VARIANT value) {
  if (!IsValidIndex(static_cast<LONG>(index)) || !IsChoiceList(m_pParInfo[index].m_vValue)) return E_INVALIDARG;
  const CActXParInfo& entry = m_pParInfo[index];
  if (IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
    vkr::ComPtr<IHostedValueControl> hosted;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedValueControl::iid, hosted.PutVoid())) || !hosted) return E_UNEXPECTED;
    HRESULT hr = hosted->SetValue(entry.m_nParamId, value);
    return FAILED(hr) ? hr : S_OK;
  }
  UpdatingControls updating(m_bUpdatingControls);
  const LONG type = GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId));
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_NOINTERFACE;
  vkr::Variant list;
  if (FAILED(ReadInfoField(info.Get(), entry.m_nParamId, 0x10000, &list))) return S_OK;
  ULONG bits = 0;
  HRESULT hr = BitsOf(value, &bits);
  if (FAILED(hr)) return hr;

  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  switch (type) {
    case 1:
    case 2:
      SetWindowTextA(control, vkr::ui::BitSetText(ChoicesOf(list), bits).c_str());
      break;
    case 5: {
      LRESULT count = SendMessageA(control, LB_GETCOUNT, 0, 0);
      if (count == LB_ERR) break;
      SendMessageA(control, LB_SETSEL, FALSE, -1);
      for (LRESULT i = 0; i < count; ++i) {
        ULONG item = static_cast<ULONG>(SendMessageA(control, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        if (item != 0 && (bits & item) == item) SendMessageA(control, LB_SETSEL, TRUE, i);
      }
      break;
    }
    case 6:
      SendMessageA(control, BM_SETCHECK, (bits & 1) ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    default:
      break;
  }
  return S_OK;
}

// ===== Display texts =============================================================================

HRESULT CovFDT_BaseActiveXImpl::ShowParameterDisplayText(LONG id) {
  LONG index = FindParameterIndex(id);
  if (index < 0) return S_OK;
  vkr::Bstr text;
  HRESULT hr = GetParameterDisplayText(id, text.Put());
  if (FAILED(hr)) return hr;
  const UINT label = m_pParInfo[index].m_nTextCtrlId;
  if (label != 0 && text.Get()) {
    UpdatingControls updating(m_bUpdatingControls);
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(label), vkr::ui::NarrowText(text).c_str());
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterDisplayText(LONG id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_NOINTERFACE;
  vkr::Variant reference;
  HRESULT hr = ReadInfoField(info.Get(), id, 0x40000, &reference);
  if (FAILED(hr)) return hr;
  if (reference.vt == VT_BSTR) return vkr::Bstr(reference.bstrVal).CopyTo(text);
  if (reference.vt != VT_UI4) return S_OK;

  // The text is the value of another parameter, or the label of that value in its enumeration.
  const LONG other = static_cast<LONG>(reference.ulVal);
  LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  vkr::Variant value;
  if ((m_nDialogType & 4) || ((m_nDialogType & 1) && (m_pParInfo[index].m_nCtrlKind & 0x200)))
    hr = ReadInfoField(info.Get(), other, 0x200000, &value);
  else
    hr = m_spDtm->GetParameterValue(vkr::UI4(reference.ulVal), value.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant shown;
  if (FAILED(hr = ChangeVariantType(&shown, &value, VT_BSTR))) return hr;
  vkr::Variant mode, modeNumber, number;
  if (FAILED(hr = ReadInfoField(info.Get(), other, 0x20000, &mode))) return hr;
  if (FAILED(hr = ChangeVariantType(&modeNumber, &mode, VT_UI2))) return hr;
  if (FAILED(hr = ChangeVariantType(&number, &value, VT_I4))) return hr;
  if (modeNumber.uiVal == 1) {
    vkr::Variant list;
    if (FAILED(hr = ReadInfoField(info.Get(), other, 0x10000, &list))) return hr;
    vkr::Bstr label;
    if (FindEnumListEntryByValue(list, number.lVal, nullptr, label.Put())) return label.CopyTo(text);
  }
  *text = shown.bstrVal;
  shown.vt = VT_EMPTY;
  return S_OK;
}

// ===== DTM reads and events ======================================================================

HRESULT CovFDT_BaseActiveXImpl::ReadDeviceParameterEx(LONG id) {
  if (!m_spDtm) return E_POINTER;
  VARIANT_BOOL done = VARIANT_FALSE;
  HRESULT hr = m_spDtm->ReadDeviceParameterEx(vkr::UI4(static_cast<ULONG>(id)), &done);
  if (FAILED(hr)) return hr;
  return done != VARIANT_FALSE ? S_OK : E_FAIL;
}

HRESULT CovFDT_BaseActiveXImpl::OnParameterChangedEvent(VARIANT event) {
  LONG id = -1;
  vkr::Variant value;
  HRESULT hr = UnpackParameterEvent(event, &id, &value);
  if (FAILED(hr)) return hr;
  LONG index = FindParameterIndex(id);
  if (index < 0) return S_OK;
  ReadParameterInfo(static_cast<ULONG>(index));
  FillControlChoices(static_cast<ULONG>(index));
  return ExecuteCommand(vkr::I4(9985), event);
}

HRESULT CovFDT_BaseActiveXImpl::ReportErrorText(LPCWSTR text) {
  // The text goes to the sink as it is: it is never read as a format.
  vkr::Bstr message(text ? text : u"");
  ReportError(message);
  return S_OK;
}

// ===== Numbers in dialog items ===================================================================

HRESULT CovFDT_BaseActiveXImpl::SetDlgItemNumber(LONG controlId, const char* format, double value) {
  std::string text;
  VARIANT number = vkr::EmptyVariant();
  number.vt = VT_R8;
  number.dblVal = value;
  vkr::ui::FormatValueText(ValueFormatOf(format), number, SValueLocale::Of(LOCALE_SYSTEM_DEFAULT), &text);
  UpdatingControls updating(m_bUpdatingControls);
  ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(controlId), text.c_str());
  RememberShownNumber(static_cast<UINT>(controlId), value);
  return S_OK;
}

void CovFDT_BaseActiveXImpl::RememberShownNumber(UINT controlId, double value) {
  if (!m_hWndDialog || controlId == 0) return;
  m_shownNumbers[controlId] = SShownNumber{ItemText(controlId), value};
}

HRESULT CovFDT_BaseActiveXImpl::SetDlgItemFloat(LONG controlId, const char* format, float value) {
  return SetDlgItemNumber(controlId, format, static_cast<double>(value));
}

HRESULT CovFDT_BaseActiveXImpl::SetDlgItemDouble(LONG controlId, const char* format, double value) {
  return SetDlgItemNumber(controlId, format, value);
}

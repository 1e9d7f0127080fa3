// CovFDT_BaseActiveXImpl: the user's input back into parameter values (reading a control by kind
// and the parameter's type), its validation and commit when a control loses the focus, and the
// focus on the first entry whose input was refused.
//
// Texts are read whole and through the typed readers of ValueText: a table's format is never
// handed to scanf, and a text that is not a value of the parameter's type (not a number, out of
// range, empty where a number is due) is refused rather than cut or read as 0.
#include <algorithm>
#include <cmath>
#include <string>

#include "parameters/CFdtVariant.h"
#include "parameters/EnumList.h"
#include "ui/framework/BaseActiveX.h"
#include "ui/framework/ValueText.h"

using vkr::ui::SValueFormat;

namespace {

// Fields of IovFdtParameterInfo: the parameter's type, its data-set value and its flag word.
constexpr LONG kFieldType = 0x10;
constexpr LONG kFieldValue = 0x80;
constexpr LONG kFieldFlags = 0x4000;

bool IsChoiceList(const VARIANT& choices) { return choices.vt == (VT_ARRAY | VT_BSTR); }

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
      return true;
    default:
      return false;
  }
}

bool IsNumberType(VARTYPE vt) {
  return IsIntegerType(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL || vt == VT_BOOL;
}

// The kill-focus notification of each control class; other codes that share the numbers mean
// something else for that class (a list box's 4 is its focus gain, a combo box's 5 an edit).
bool IsKillFocusCode(LONG type, UINT code) {
  switch (type) {
    case 2:
    case 3:
      return code == EN_KILLFOCUS;
    case 4:
      return code == CBN_KILLFOCUS;
    case 5:
      return code == LBN_KILLFOCUS;
    default:
      return false;
  }
}

// The choice value as the parameter's type.
HRESULT ChoiceAsParameterType(CovFDT_BaseActiveXImpl* ui, LONG id, const VARIANT& choice, VARIANT* value) {
  ULONG vt = VT_EMPTY;
  HRESULT hr = ui->GetParameterInfoField(id, &vt);
  if (FAILED(hr)) return hr;
  vkr::Variant converted;
  if (FAILED(hr = VariantChangeType(&converted, &choice, 0, static_cast<VARTYPE>(vt)))) return hr;
  VariantClear(value);
  converted.Detach(value);
  return S_OK;
}

}  // namespace

// ===== Reading a control =========================================================================

HRESULT CovFDT_BaseActiveXImpl::GetControlValue(ULONG index, VARIANT* value) {
  if (!IsValidIndex(static_cast<LONG>(index))) return S_FALSE;
  if (!value) return E_POINTER;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_nCtrlId == 0) return S_OK;
  const LONG id = entry.m_nParamId;

  if (IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
    vkr::ComPtr<IHostedValueControl> hosted;
    if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedValueControl::iid, hosted.PutVoid())) || !hosted) return E_UNEXPECTED;
    HRESULT hr = hosted->GetValue(id, value);
    return FAILED(hr) ? hr : S_OK;
  }
  if (entry.m_wMode == 1) return GetCheckValue(index, value);
  if (entry.m_wMode == 2) return GetListValue(index, value);

  std::string text = ItemText(entry.m_nCtrlId);
  VariantClear(value);
  if (!m_spDtm) return E_FAIL;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = m_spDtm->GetParameterInfo(vkr::UI4(static_cast<ULONG>(id)), nullptr, nullptr, &vt, nullptr, nullptr, nullptr, nullptr);
  if (FAILED(hr)) return hr;

  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  if (IsCheckButton(control)) {
    // Checked is 1 as a number (as a single choice reads it), and true as a flag: VARIANT_TRUE
    // converted would be 255 or -1, which a 0-1 number refuses.
    const bool checked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (vt != VT_BOOL && IsNumberType(vt)) {
      value->vt = VT_I4;
      value->lVal = checked ? 1 : 0;
    } else {
      value->vt = VT_BOOL;
      value->boolVal = checked ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return ChangeVariantType(value, value, vt);
  }

  const SValueFormat& format = ValueFormatOf(entry.m_pszFormat);
  std::string_view bare = vkr::ui::StripFormatText(format, text);
  // An empty field holds no number: it is refused, never read as 0.
  if (bare.empty() && IsNumberType(vt)) return vt == VT_R4 ? E_FAIL : DISP_E_TYPEMISMATCH;

  if (vt == VT_R4) {
    float number = 0;
    hr = GetDlgItemFloat(static_cast<LONG>(entry.m_nCtrlId), entry.m_pszFormat, &number);
    if (hr == S_OK) {
      value->vt = VT_R4;
      value->fltVal = number;
    }
    return hr;
  }
  if (vt == VT_R8) {
    // Either mark counts as the decimal separator, then the system locale reads it.
    std::string number(bare);
    size_t mark = number.find('.');
    if (mark == std::string::npos) mark = number.find(',');
    std::string separator = vkr::ui::SValueLocale::Of(LOCALE_SYSTEM_DEFAULT).decimalSeparator;
    if (mark != std::string::npos && separator.size() == 1) number[mark] = separator[0];
    vkr::Variant typed;
    typed.vt = VT_BSTR;
    typed.bstrVal = SysAllocString(vkr::ui::WideText(number).c_str());
    if (!typed.bstrVal) return E_OUTOFMEMORY;
    return ChangeVariantType(value, &typed, VT_R8, GetSystemDefaultLCID());
  }
  if (vt == (VT_ARRAY | VT_UI1)) {
    if (text.empty()) return S_OK;
    std::vector<BYTE> bytes;
    if (FAILED(hr = vkr::ui::HexTextToBytes(text, &bytes))) return hr;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array) return E_FAIL;
    for (LONG i = 0; i < static_cast<LONG>(bytes.size()); ++i) {
      if (FAILED(hr = SafeArrayPutElement(array, &i, &bytes[static_cast<size_t>(i)]))) {
        SafeArrayDestroy(array);
        return hr;
      }
    }
    value->vt = VT_ARRAY | VT_UI1;
    value->parray = array;
    return S_OK;
  }
  if (IsIntegerType(vt) || (vt == VT_BOOL && format.IsInteger())) return vkr::ui::ReadIntegerText(format, text, vt, value);
  if (vt == VT_DATE) {
    // Dates read in the locale they are shown in.
    DATE date = 0;
    if (FAILED(hr = vkr::ui::TextToDate(bare, LOCALE_SYSTEM_DEFAULT, &date))) return hr;
    value->vt = VT_DATE;
    value->date = date;
    return S_OK;
  }
  // A text keeps its blanks; only the literal text a format put around it goes.
  const bool framed = format.prefix.find_first_not_of(" \t") != std::string::npos ||
                      format.suffix.find_first_not_of(" \t") != std::string::npos;
  vkr::Variant typed;
  typed.vt = VT_BSTR;
  typed.bstrVal = SysAllocString(vkr::ui::WideText(vt == VT_BSTR && !framed ? std::string_view(text) : bare).c_str());
  if (!typed.bstrVal && !text.empty()) return E_OUTOFMEMORY;
  if (!typed.bstrVal) typed.bstrVal = SysAllocString(u"");
  return ChangeVariantType(value, &typed, vt, 0);
}

HRESULT CovFDT_BaseActiveXImpl::GetControlValueById(LONG id, VARIANT* value) {
  LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  return GetControlValue(static_cast<ULONG>(index), value);
}

HRESULT CovFDT_BaseActiveXImpl::GetCheckValue(ULONG index, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!IsValidIndex(static_cast<LONG>(index))) return S_FALSE;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_wMode != 1 || !IsChoiceList(entry.m_vValue)) return S_FALSE;

  LONG choice = 0;
  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  const SValueFormat& format = ValueFormatOf(entry.m_pszFormat);
  if (format.kind != vkr::ui::ValueKind::kChoice) {
    if (!vkr::ui::ScanFormattedInteger(format, ItemText(entry.m_nCtrlId), &choice)) return E_FAIL;
  } else {
    switch (GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId))) {
      case 1:
      case 2: {
        vkr::Bstr label(vkr::ui::WideText(ItemText(entry.m_nCtrlId)));
        if (!FindEnumListEntryByLabel(entry.m_vValue, label, nullptr, &choice)) return S_FALSE;
        break;
      }
      case 4:
      case 5: {
        const bool combo = GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId)) == 4;
        LRESULT selected = SendMessageA(control, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
        if (selected == -1) return S_FALSE;
        choice = static_cast<LONG>(SendMessageA(control, combo ? CB_GETITEMDATA : LB_GETITEMDATA, static_cast<WPARAM>(selected), 0));
        break;
      }
      case 6:
        choice = SendMessageA(control, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
        break;
      default:
        return S_FALSE;
    }
  }
  return ChoiceAsParameterType(this, entry.m_nParamId, vkr::I4(choice), value);
}

HRESULT CovFDT_BaseActiveXImpl::GetListValue(ULONG index, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!IsValidIndex(static_cast<LONG>(index))) return S_FALSE;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_wMode != 2 || !IsChoiceList(entry.m_vValue)) return S_FALSE;

  ULONG bits = 0;
  HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
  const SValueFormat& format = ValueFormatOf(entry.m_pszFormat);
  if (format.kind != vkr::ui::ValueKind::kChoice) {
    LONG scanned = 0;
    if (!vkr::ui::ScanFormattedInteger(format, ItemText(entry.m_nCtrlId), &scanned)) return E_FAIL;
    bits = static_cast<ULONG>(scanned);
  } else {
    switch (GetControlTypeById(static_cast<LONG>(entry.m_nCtrlId))) {
      case 5: {
        LRESULT count = SendMessageA(control, LB_GETCOUNT, 0, 0);
        if (count == LB_ERR) return S_FALSE;
        for (LRESULT i = 0; i < count; ++i) {
          LRESULT selected = SendMessageA(control, LB_GETSEL, static_cast<WPARAM>(i), 0);
          if (selected == LB_ERR) return S_FALSE;
          // The items are bits of one set: overlapping items must not add up.
          if (selected) bits |= static_cast<ULONG>(SendMessageA(control, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        }
        break;
      }
      case 1:
      case 2: {
        ULONG count = 0;
        HRESULT hr = GetEnumListCount(entry.m_vValue, &count);
        if (FAILED(hr)) return hr;
        bits = vkr::ui::BitSetFromText(ChoicesOf(entry.m_vValue), ItemText(entry.m_nCtrlId));
        break;
      }
      case 6:
        bits = SendMessageA(control, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
        break;
      default:
        return S_FALSE;
    }
  }
  return ChoiceAsParameterType(this, entry.m_nParamId, vkr::UI4(bits), value);
}

// ===== Checking input with the DTM ===============================================================

HRESULT CovFDT_BaseActiveXImpl::IsValueChanged(ULONG index, VARIANT* value, BOOLEAN* accepted) {
  if (!IsValidIndex(static_cast<LONG>(index))) return E_INVALIDARG;
  if (!accepted) return E_POINTER;
  *accepted = FALSE;
  if (!value) return E_POINTER;
  if (GetCheckValue(index, value) != S_OK) return S_FALSE;
  vkr::ComPtr<IovFdtParameterValidation> validation;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterValidation::iid, validation.PutVoid())) || !validation) return S_FALSE;
  ULONG flags = 0;
  HRESULT hr = validation->ValidateParameter(vkr::UI4(static_cast<ULONG>(m_pParInfo[index].m_nParamId)), *value, &flags);
  *accepted = SUCCEEDED(hr) && !(flags & 0x4);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::IsValueChangedEx(ULONG index, VARIANT* value, BOOLEAN* accepted) {
  if (!accepted) return E_POINTER;
  *accepted = FALSE;
  if (!value) return E_POINTER;
  if (!IsValidIndex(static_cast<LONG>(index))) return E_INVALIDARG;
  if (GetListValue(index, value) != S_OK) return S_FALSE;
  vkr::ComPtr<IovFdtParameterValidation> validation;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterValidation::iid, validation.PutVoid())) || !validation) return S_FALSE;
  ULONG flags = 0;
  HRESULT hr = validation->ValidateParameter(vkr::UI4(static_cast<ULONG>(m_pParInfo[index].m_nParamId)), *value, &flags);
  *accepted = SUCCEEDED(hr) && !(flags & 0x4);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ReadCheckedInput(LONG id, VARIANT* value) {
  LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  if (m_pParInfo[index].m_nState & 0x8) return S_FALSE;
  if (!m_spDtm) return E_POINTER;
  ULONG flags = 0;
  HRESULT hr = GetParameterInfoValue(id, &flags);
  if (FAILED(hr)) return hr;
  if (!((m_pParInfo[index].m_nState & 0x1) && (flags & 0x1))) return S_FALSE;
  if (FAILED(hr = GetControlValueById(id, value))) return hr;
  // Recomputes the entry's marks; a value the DTM refuses goes nowhere.
  VARIANT_BOOL valid = VARIANT_FALSE;
  if (FAILED(GetParameterText(id, &valid)) || valid == VARIANT_FALSE) return S_FALSE;
  // A control that holds no value (a choice list without selection) has nothing to give.
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseActiveXImpl::CheckParameterInput(LONG id) { return WriteCheckedInput(id, nullptr); }

HRESULT CovFDT_BaseActiveXImpl::WriteCheckedInput(LONG id, bool* refused) {
  if (refused) *refused = false;
  if (m_nDialogType & 0x2) {
    // Offline the data set is the only place the values go: stored, the staged ones stay with them.
    const HRESULT stored = ValidateControlValue(id);
    EndStagedValues(stored == S_OK);
    return stored;
  }
  vkr::Variant value;
  HRESULT hr = ReadCheckedInput(id, &value);
  if (hr != S_OK) {
    EndStagedValues(false);
    return hr;
  }
  VARIANT_BOOL written = VARIANT_FALSE;
  hr = m_spDtm->WriteDeviceParameterEx(vkr::UI4(static_cast<ULONG>(id)), value, &written);
  // The value went out and the device does not hold it: refused, failed, or the DTM is offline.
  const bool notHeld = FAILED(hr) || written == VARIANT_FALSE;
  if (refused) *refused = notHeld;
  EndStagedValues(!notHeld || DeviceTookWrite(id));
  if (FAILED(hr)) return hr;
  return written != VARIANT_FALSE ? S_OK : S_FALSE;
}

// Staged values go into the data set as its raw value, without the marks, events and relations of
// a change: nobody is told of a value that may not stay. Kept, they are given again as a change.
HRESULT CovFDT_BaseActiveXImpl::StageDtmParameterValue(LONG id, const VARIANT& value) {
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info || value.vt == VT_EMPTY) return E_FAIL;
  const VARIANT key = vkr::UI4(static_cast<ULONG>(id));
  vkr::Variant type, typed;
  LONG vt = 0;
  HRESULT hr = info->GetParameterField(key, vkr::I4(kFieldType), type.Put());
  if (FAILED(hr) || !ReadNumber(type, &vt)) return E_FAIL;
  if (value.vt == static_cast<VARTYPE>(vt))
    hr = VariantCopy(&typed, const_cast<VARIANT*>(&value));
  else
    hr = VariantChangeType(&typed, const_cast<VARIANT*>(&value), 0, static_cast<VARTYPE>(vt));
  if (FAILED(hr)) return E_FAIL;
  auto staged = std::find_if(m_stagedValues.begin(), m_stagedValues.end(),
                             [&](const SStagedValue& s) { return s.id == id; });
  if (staged == m_stagedValues.end()) {
    SStagedValue entry;
    entry.id = id;
    if (FAILED(info->GetParameterField(key, vkr::I4(kFieldValue), entry.held.Put())) ||
        FAILED(info->GetParameterField(key, vkr::I4(kFieldFlags), entry.flags.Put())))
      return E_FAIL;
    m_stagedValues.push_back(std::move(entry));
    staged = m_stagedValues.end() - 1;
  }
  if (FAILED(hr = info->SetParameterField(key, vkr::I4(kFieldValue), typed))) return hr;
  staged->staged = typed;
  return S_OK;
}

void CovFDT_BaseActiveXImpl::EndStagedValues(bool keep) {
  std::vector<SStagedValue> staged;
  staged.swap(m_stagedValues);
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return;
  for (const SStagedValue& s : staged) {
    const VARIANT key = vkr::UI4(static_cast<ULONG>(s.id));
    // A value that changed meanwhile (the device's answer, a change of another's) is not this
    // write's to take back or give.
    vkr::Variant now;
    if (FAILED(info->GetParameterField(key, vkr::I4(kFieldValue), now.Put())) ||
        !IsVariantEqual(now, s.staged))
      continue;
    info->SetParameterField(key, vkr::I4(kFieldValue), s.held);
    info->SetParameterField(key, vkr::I4(kFieldFlags), s.flags);
    // Kept: given as the change it is, with its marks and events (nothing when it was held already).
    if (keep && !IsVariantEqual(s.held, s.staged)) SetDtmParameterValue(s.id, s.staged);
  }
}

HRESULT CovFDT_BaseActiveXImpl::ApplyDeviceEntry(LONG id) {
  bool refused = false;
  const HRESULT hr = WriteCheckedInput(id, &refused);
  if (!refused) return hr;
  // The entry keeps the user's value and its changed mark: the page stays changed.
  const LONG index = FindParameterIndex(id);
  std::u16string text = u"The device did not take the new value";
  if (index >= 0 && m_pParInfo[index].m_pszName) {
    text += u" of \"";
    text += vkr::Utf8ToUtf16(m_pParInfo[index].m_pszName);
    text += u"\"";
  }
  text += u". The change was not written.";
  TellUser(u"Write Parameters", text);
  return FAILED(hr) ? hr : E_FAIL;
}

void CovFDT_BaseActiveXImpl::TellUser(std::u16string_view title, std::u16string_view text, ULONG style) {
  vkr::ComPtr<IovFdtActiveXContainer> container;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid())) || !container)
    return;
  LONG answer = 0;
  container->ShowUserMessage(vkr::Bstr(title).Get(), vkr::Bstr(text).Get(), vkr::UI4(style), &answer);
}

HRESULT CovFDT_BaseActiveXImpl::ValidateControlValue(LONG id) {
  vkr::Variant value;
  HRESULT hr = ReadCheckedInput(id, &value);
  if (hr != S_OK) return hr;
  vkr::ComPtr<IovFdtParameterValidation> validation;
  if (FAILED(m_spDtm->QueryInterface(IovFdtParameterValidation::iid, validation.PutVoid())) || !validation) return S_FALSE;
  // Validated and kept in the data set: an offline dialog has no other place for the value.
  VARIANT_BOOL stored = VARIANT_FALSE;
  hr = validation->ValidateAndSetParameter(vkr::UI4(static_cast<ULONG>(id)), value, &stored);
  if (FAILED(hr)) return hr;
  if (stored == VARIANT_FALSE) return S_FALSE;
  ULONG flags = 0;
  if (FAILED(hr = GetParameterInfoValue(id, &flags))) return hr;
  return SetControlStateById(id, flags & ~0x2u);
}

HRESULT CovFDT_BaseActiveXImpl::ValidateControlValueEx(LONG id) {
  vkr::Variant value;
  HRESULT hr = ReadCheckedInput(id, &value);
  if (hr != S_OK) return hr;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return S_FALSE;
  hr = info->SetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(0x200000), value);
  return FAILED(hr) ? hr : S_OK;
}

// ===== Notifications of the controls =============================================================

HRESULT CovFDT_BaseActiveXImpl::OnControlKillFocus(UINT code, WPARAM wParam, LPARAM, BOOL* handled) {
  const UINT controlId = LOWORD(wParam);
  LONG index = -1;
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    if (m_pParInfo[i].m_nCtrlId == controlId && controlId != 0) {
      index = static_cast<LONG>(i);
      break;
    }
  }
  if (index < 0 || !IsKillFocusCode(GetControlTypeById(static_cast<LONG>(controlId)), code)) {
    if (handled) *handled = FALSE;
    return S_OK;
  }
  if (!(m_nDialogType & 0x8)) return S_OK;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return S_OK;
  const LONG id = m_pParInfo[index].m_nParamId;
  bool device = false;
  if (FAILED(ReadInfoFlag(info.Get(), id, 0x1, &device))) return S_OK;

  const ULONG state = m_pParInfo[index].m_nState;
  if ((state & 0x3) == 0x3 && !(state & 0x4)) {
    if (device && !(m_nDialogType & 0x2) && !((m_nDialogType & 0x1) && (m_pParInfo[index].m_nCtrlKind & 0x100)))
      CheckParameterInput(id);
    else
      ValidateControlValue(id);
  }
  // Refused input stays in its field, marked, and the user is brought back to it.
  if ((m_pParInfo[index].m_nState & 0x5) == 0x5) SetFocusToControl();
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnControlChange(UINT, UINT controlId, HWND) {
  // The program's own writes (and a running read of all entries) are no input.
  if (m_bUpdatingControls || m_bBusy) return S_OK;
  bool bound = false;
  for (ULONG i = 0; m_pParInfo && controlId != 0 && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    if (m_pParInfo[i].m_nCtrlId != controlId) continue;
    bound = true;
    VARIANT_BOOL valid = VARIANT_FALSE;
    if (SUCCEEDED(GetParameterText(m_pParInfo[i].m_nParamId, &valid)) && (m_pParInfo[i].m_nState & 0x2)) SetDirty(TRUE);
    break;
  }
  // A field bound to no parameter gives Apply nothing to write: Apply stays as it was.
  if (bound && m_eFamily == EUiFamily::Control && !m_bUpdatingControls && !m_bBusy) EnableApplyButton(TRUE);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetFocusToControl() {
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if ((entry.m_nState & 0x5) != 0x5 || (entry.m_nState & 0x8) || entry.m_nCtrlId == 0) continue;
    if (IsHostedControl(entry.m_nCtrlId, IHostedValueControl::iid)) {
      vkr::ComPtr<IHostedValueControl> hosted;
      if (FAILED(GetHostedControl(entry.m_nCtrlId, IHostedValueControl::iid, hosted.PutVoid())) || !hosted) return E_UNEXPECTED;
      SHORT took = 0;
      HRESULT hr = hosted->SelectValue(1, vkr::UI4(static_cast<ULONG>(entry.m_nParamId)), &took);
      return took ? E_FAIL : hr;
    }
    HWND control = ::GetDlgItem(m_hWndDialog, static_cast<int>(entry.m_nCtrlId));
    ::SetFocus(control);
    SendMessageA(control, EM_SETSEL, 0, -1);
    return E_FAIL;
  }
  return S_OK;
}

// ===== Comparisons ===============================================================================

HRESULT CovFDT_BaseActiveXImpl::CompareValues(VARIANT id, ULONG* state) {
  if (!state) return E_POINTER;
  vkr::ComPtr<IovFdtParameterInfo> info = ParameterInfo();
  if (!info) return E_NOINTERFACE;
  vkr::Variant device;
  HRESULT hr = info->GetParameterField(id, vkr::I4(0x1), &device);
  if (FAILED(hr)) return hr;
  vkr::Variant number;
  bool isDevice = SUCCEEDED(VariantChangeType(&number, &device, 0, VT_I4)) && number.lVal != 0;
  // Only the data-set parameters of an online dialog that is offline stay usable here.
  if (!((m_nDialogType & 0x4) && !m_bOnline && !isDevice)) *state = (*state & ~0x1u) | 0x80;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ConvertValue(VARIANT first, VARIANT second) {
  return IsVariantEqual(first, second) ? S_FALSE : S_OK;
}

// ===== Floats in dialog items ====================================================================

HRESULT CovFDT_BaseActiveXImpl::GetDlgItemFloat(LONG controlId, const char* format, float* value) {
  if (!value) return E_INVALIDARG;
  std::string text = ItemText(static_cast<UINT>(controlId));
  // Untouched: the number as it was given, not as its text rounds it.
  if (const auto shown = m_shownNumbers.find(static_cast<UINT>(controlId));
      shown != m_shownNumbers.end() && shown->second.text == text && !text.empty()) {
    *value = static_cast<float>(shown->second.value);
    return S_OK;
  }
  // Only the user's own decimal separator makes a decimal point: in English "1,250" is no 1.25
  // (a thousands grouping, or a typo), so a separator of the other kind makes the text no number.
  const std::string separator = vkr::ui::SValueLocale::Of(LOCALE_USER_DEFAULT).decimalSeparator;
  const bool comma = separator.find(',') != std::string::npos;
  if (text.find(comma ? '.' : ',') != std::string::npos) return E_FAIL;
  if (!separator.empty()) {
    const size_t at = text.find(separator);
    if (at != std::string::npos) text = text.substr(0, at) + '.' + text.substr(at + separator.size());
  }
  return vkr::ui::ReadFloatText(text, ValueFormatOf(format), value);
}

HRESULT CovFDT_BaseActiveXImpl::ParseFloatText(char* text, const char* format, float* value) {
  if (!text || !format || !value) return E_INVALIDARG;
  return vkr::ui::ReadFloatText(text, vkr::ui::ParseValueFormat(format), value);
}

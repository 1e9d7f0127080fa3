// CovFDT_BaseActiveXImpl: parameter access through the DTM. A user interface never touches the
// parameter model: it reads, writes and asks about parameters through the DTM's parameter handler
// (kept by InitializeUI), and reaches the DTM's other interfaces (information, validation,
// messages) by asking that handler for them at each use.
#include "parameters/CFdtVariant.h"
#include "parameters/SNumberFormat.h"
#include "ui/framework/BaseActiveX.h"

namespace {

// DTM messages the base sends.
constexpr ULONG kMsgUpdateRate = 3;
constexpr ULONG kMsgAuditTrail = 52;

// Information fields of IovFdtParameterInfo::GetParameterField.
constexpr LONG kFieldDeviceParameter = 0x1;
constexpr LONG kFieldDataType = 0x10;
constexpr LONG kFieldEnumeration = 0x10000;
constexpr LONG kFieldMode = 0x20000;
constexpr LONG kFieldComparisonValue = 0x200000;

// Entry state bits.
constexpr ULONG kStateUsable = 0x1;
constexpr ULONG kStateChanged = 0x2;
constexpr ULONG kStateInvalid = 0x4;
constexpr ULONG kStateHidden = 0x8;

// Entry options.
constexpr ULONG kOptionStoreInDtm = 0x100;
constexpr ULONG kOptionCompareOffline = 0x200;

// Events of the parameter-group display control.
constexpr LONG kDisplaySelection = 2;
constexpr LONG kDisplayEdited = 3;
constexpr LONG kDisplayValueChanged = 4;

// Floating-point values are compared as the texts they show at this many fraction digits.
constexpr UINT kComparePrecision = 5;

VARIANT I2(SHORT n) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_I2;
  v.iVal = n;
  return v;
}

// The parameter id as the DTM takes it.
VARIANT IdOf(LONG id) { return vkr::UI4(static_cast<ULONG>(id)); }

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* dtm) {
  vkr::ComPtr<Interface> found;
  if (dtm && FAILED(dtm->QueryInterface(Interface::iid, found.PutVoid()))) found = nullptr;
  return found;
}

// A 32-bit number of an information answer; false for a type that does not convert.
bool NumberOf(const VARIANT& value, ULONG* number) {
  vkr::Variant converted;
  if (FAILED(VariantChangeType(&converted, &value, 0, VT_UI4)) || converted.vt != VT_UI4) return false;
  *number = converted.ulVal;
  return true;
}

}  // namespace

// ---- DTM messages -------------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::SendDtmMessage(ULONG message, VARIANT argument) {
  vkr::ComPtr<IovFdtDtmEvents> events = Query<IovFdtDtmEvents>(m_spDtm.Get());
  if (!events) return E_FAIL;
  const HRESULT hr = events->DtmMessage(vkr::UI4(message), argument);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ChangeUpdateRate(LONG id, ULONG rate) {
  const LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_nUpdateRate == rate) return S_OK;
  const ULONG previous = entry.m_nUpdateRate;
  entry.m_nUpdateRate = rate;
  vkr::Variant tag;
  tag.vt = VT_BSTR;
  HRESULT hr = m_bstrSystemTag.CopyTo(&tag.bstrVal);
  if (SUCCEEDED(hr)) hr = SendDtmMessage(kMsgUpdateRate, tag);
  // The DTM did not hear of the new rate: keeping it would make a retry a silent no-op.
  if (FAILED(hr)) entry.m_nUpdateRate = previous;
  return FAILED(hr) ? hr : S_OK;
}

// ---- One parameter in the device ----------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::ReadDeviceParameter(ULONG index) {
  if (!m_spDtm) {
    ReportError(vkr::Bstr(u" Could not retrieve private interface of dtm!").Get());
    return S_OK;
  }
  if (!m_pParInfo) {
    ErrorMessage("No Parameter Map available!");
    return E_UNEXPECTED;
  }
  if (m_nParInfoCount == 0) {
    ErrorMessage("No Parameter in Paramter Map!");
    return S_FALSE;
  }
  if (index >= m_nParInfoCount) return E_INVALIDARG;
  VARIANT_BOOL read = VARIANT_FALSE;
  const HRESULT hr = m_spDtm->ReadDeviceParameter(IdOf(m_pParInfo[index].m_nParamId), &read);
  if (hr == S_FALSE || FAILED(hr)) {
    ErrorMessage("ReadDeviceParameter failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::WriteDeviceParameter(ULONG index) {
  if (!m_spDtm) {
    ReportError(vkr::Bstr(u"Could not retrieve private interface of dtm!").Get());
    return S_OK;
  }
  if (!m_pParInfo) {
    ErrorMessage("No Parameter Map available!");
    return E_UNEXPECTED;
  }
  if (m_nParInfoCount == 0) {
    ErrorMessage("No Parameter Map in Parameter Map!");
    return S_FALSE;
  }
  if (index >= m_nParInfoCount) return E_INVALIDARG;
  const LONG id = m_pParInfo[index].m_nParamId;
  vkr::Variant value;
  HRESULT hr = GetControlValueById(id, &value);
  if (FAILED(hr)) {
    ErrorMessage("ReadParameterDisplayByID failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = m_spDtm->WriteDeviceParameter(IdOf(id), value, &done);
  if (hr == S_FALSE || FAILED(hr)) {
    ErrorMessage("WriteDeviceParameter failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  return S_OK;
}

// ---- Values and information of the DTM ----------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::GetDtmParameterValue(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!m_spDtm) return E_FAIL;
  return m_spDtm->GetParameterValue(IdOf(id), value);
}

HRESULT CovFDT_BaseActiveXImpl::SetDtmParameterValue(LONG id, VARIANT value) {
  if (value.vt == VT_EMPTY) return E_INVALIDARG;
  if (!m_spDtm) return E_FAIL;
  return m_spDtm->SetParameterValue(IdOf(id), value);
}

HRESULT CovFDT_BaseActiveXImpl::QueryParameterInfo(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_FAIL;
  const HRESULT hr = info->GetParameterField(IdOf(id), vkr::I4(kFieldComparisonValue), value);
  return FAILED(hr) ? hr : S_OK;
}

// The three accessors ask for all seven outputs and keep some; the rest go with the locals.
HRESULT CovFDT_BaseActiveXImpl::GetParameterInfoValue(LONG id, ULONG* flags) {
  if (!flags) return E_POINTER;
  if (!m_spDtm) return E_FAIL;
  vkr::Variant value, minimum, maximum, defaultValue, status;
  vkr::Bstr name;
  VARTYPE type = VT_EMPTY;
  const HRESULT hr = m_spDtm->GetParameterInfo(IdOf(id), &value, name.Put(), &type, &minimum, &maximum,
                                               &defaultValue, &status);
  if (FAILED(hr)) return hr;
  ULONG word = 0;
  if (!NumberOf(status, &word)) return E_UNEXPECTED;
  *flags = word;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterInfoText(LONG id, VARIANT* first, VARIANT* second) {
  if (!first || !second) return E_POINTER;
  if (!m_spDtm) return E_FAIL;
  vkr::Variant value, minimum, maximum, defaultValue, status;
  vkr::Bstr name;
  VARTYPE type = VT_EMPTY;
  const HRESULT hr = m_spDtm->GetParameterInfo(IdOf(id), &value, name.Put(), &type, &minimum, &maximum,
                                               &defaultValue, &status);
  if (FAILED(hr)) return hr;
  VariantClear(first);
  minimum.Detach(first);
  VariantClear(second);
  maximum.Detach(second);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterInfoField(LONG id, ULONG* field) {
  if (!field) return E_POINTER;
  if (!m_spDtm) return E_FAIL;
  vkr::Variant value, minimum, maximum, defaultValue, status;
  vkr::Bstr name;
  VARTYPE type = VT_EMPTY;
  const HRESULT hr = m_spDtm->GetParameterInfo(IdOf(id), &value, name.Put(), &type, &minimum, &maximum,
                                               &defaultValue, &status);
  if (FAILED(hr)) return hr;
  *field = type;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ReadParameterInfo(ULONG index) {
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  if (index >= m_nParInfoCount) return E_INVALIDARG;
  CActXParInfo& entry = m_pParInfo[index];
  vkr::Variant answer, mode;
  HRESULT hr = info->GetParameterField(IdOf(entry.m_nParamId), vkr::I4(kFieldMode), &answer);
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(&mode, &answer, 0, VT_UI2);
  if (FAILED(hr)) return hr;
  entry.m_wMode = mode.uiVal;
  if (entry.m_wMode == 0 || entry.m_wMode == 4 || entry.m_wMode == 8) return S_OK;
  vkr::Variant choices;
  hr = info->GetParameterField(IdOf(entry.m_nParamId), vkr::I4(kFieldEnumeration), &choices);
  if (FAILED(hr)) return hr;
  if (choices.vt == (VT_ARRAY | VT_BSTR)) {
    VariantClear(&entry.m_vValue);
    choices.Detach(&entry.m_vValue);
  }
  return S_OK;
}

// ---- Applying the changed entries ---------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::ApplyParameterChanges() {
  HRESULT hr = SetFocusToControl();
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  hr = SendDtmMessage(kMsgAuditTrail, I2(-1));
  if (FAILED(hr)) return hr;
  // The first failing entry ends the writes: the entries before it stay written, and the closing
  // audit-trail message is not sent.
  for (ULONG i = 0; i < m_nParInfoCount; ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if (!(entry.m_nState & kStateChanged)) continue;
    const LONG id = entry.m_nParamId;
    const ULONG options = entry.m_nCtrlKind;
    vkr::Variant field;
    hr = info->GetParameterField(IdOf(id), vkr::I4(kFieldDeviceParameter), &field);
    if (FAILED(hr)) return hr;
    ULONG device = 0;
    NumberOf(field, &device);
    const bool storeInDtm = (m_nDialogType & 2) || ((m_nDialogType & 1) && (options & kOptionStoreInDtm));
    if (device != 0 && !storeInDtm) {
      hr = ApplyDeviceEntry(id);
      m_bDeviceChanged = 1;
    } else {
      hr = ValidateControlValue(id);
      m_bDtmChanged = 1;
    }
    if (FAILED(hr)) return hr;
  }
  hr = SendDtmMessage(kMsgAuditTrail, I2(0));
  if (FAILED(hr)) return hr;
  EnableApplyButton(FALSE);
  return S_OK;
}

// ---- The changed and invalid marks of one entry -------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::FormatParameterText(LONG id, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  const LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  if (!m_spDtm) return E_FAIL;
  const CActXParInfo& entry = m_pParInfo[index];
  if (entry.m_nState & kStateHidden) return S_OK;

  // The value shown, or the DTM's for an entry without control.
  vkr::Variant current;
  HRESULT hr = S_OK;
  if (entry.m_nCtrlId == 0) {
    hr = m_spDtm->GetParameterValue(IdOf(id), &current);
    if (FAILED(hr)) return hr;
  } else if (FAILED(GetControlValueById(id, &current))) {
    // The text does not make a value: the entry shows its error.
    return SetControlStateById(id, entry.m_nState | kStateInvalid);
  }

  // A value the DTM cannot check counts as invalid.
  ULONG flags = kStateInvalid;
  if (FAILED(ValidateEntryValue(id, current, &flags))) flags = kStateInvalid;
  ULONG state = entry.m_nState;
  if (state & kStateUsable) state = (state & ~(kStateChanged | kStateInvalid)) | (flags & (kStateChanged | kStateInvalid));

  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return S_OK;
  vkr::Variant field;
  hr = info->GetParameterField(IdOf(id), vkr::I4(kFieldDeviceParameter), &field);
  if (FAILED(hr)) return hr;
  ULONG device = 0;
  NumberOf(field, &device);
  const bool compare = (m_nDialogType & 4) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & kOptionCompareOffline));
  if (device == 1 && compare) {
    // Changed means: differs from what the device holds.
    vkr::Variant type, comparison;
    hr = info->GetParameterField(IdOf(id), vkr::I4(kFieldDataType), &type);
    if (FAILED(hr)) return hr;
    hr = info->GetParameterField(IdOf(id), vkr::I4(kFieldComparisonValue), &comparison);
    if (FAILED(hr)) return hr;
    ULONG vt = VT_EMPTY;
    NumberOf(type, &vt);
    bool same = false;
    if (vt == VT_R4 || vt == VT_R8) {
      SNumberFormat format;
      hr = GetLocaleNumberFormat(&format, m_nLanguage);
      if (FAILED(hr)) return hr;
      format.vtValue = static_cast<VARTYPE>(vt);
      format.nNumDigits = kComparePrecision;
      vkr::Bstr shown, held;
      // A value that has no number text differs from any other.
      same = SUCCEEDED(FormatNumberText(current, shown.Put(), &format)) &&
             SUCCEEDED(FormatNumberText(comparison, held.Put(), &format)) && shown.View() == held.View();
    } else {
      same = IsVariantEqual(current, comparison);
    }
    state = same ? (state & ~kStateChanged) : (state | kStateChanged);
  }
  hr = SetControlStateById(id, state);
  *valid = (state & kStateInvalid) ? VARIANT_FALSE : VARIANT_TRUE;
  return hr;
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterText(LONG id, VARIANT_BOOL* valid) { return FormatParameterText(id, valid); }

HRESULT CovFDT_BaseActiveXImpl::ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags) {
  vkr::ComPtr<IovFdtParameterValidation> validation = Query<IovFdtParameterValidation>(m_spDtm.Get());
  if (!validation) return E_NOINTERFACE;
  return validation->ValidateParameter(IdOf(id), value, flags);
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterTextByIndex(LONG index, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (index < 0 || static_cast<ULONG>(index) >= m_nParInfoCount) return E_INVALIDARG;
  return FormatParameterText(m_pParInfo[index].m_nParamId, valid);
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterTextOfMode1(ULONG index, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (index >= m_nParInfoCount || m_pParInfo[index].m_wMode != 1) return E_INVALIDARG;
  return FormatParameterText(m_pParInfo[index].m_nParamId, valid);
}

HRESULT CovFDT_BaseActiveXImpl::GetParameterTextOfMode2(ULONG index, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (index >= m_nParInfoCount || m_pParInfo[index].m_wMode != 2) return E_INVALIDARG;
  return FormatParameterText(m_pParInfo[index].m_nParamId, valid);
}

// ---- Events of the parameter-group display control ----------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT) {
  // The entry of the display control that shows the parameter.
  auto find = [&](LONG id) -> const CActXParInfo* {
    for (ULONG i = 0; i < m_nParInfoCount; ++i)
      if (static_cast<LONG>(m_pParInfo[i].m_nCtrlId) == controlId && m_pParInfo[i].m_nParamId == id)
        return &m_pParInfo[i];
    return nullptr;
  };
  // The user edited the parameter in the display: recompute its marks; a change dirties the page.
  auto edited = [&](const CActXParInfo& entry) {
    VARIANT_BOOL valid = VARIANT_FALSE;
    if (FAILED(GetParameterText(entry.m_nParamId, &valid))) return;
    if (entry.m_nState & kStateChanged) SetDirty(TRUE);
  };
  switch (kind) {
    case kDisplaySelection:
      return data.vt == (VT_ARRAY | VT_VARIANT) || data.vt == VT_UI4 ? S_OK : E_UNEXPECTED;
    case kDisplayEdited: {
      if (data.vt != VT_UI4) return E_UNEXPECTED;
      const CActXParInfo* entry = find(static_cast<LONG>(data.ulVal));
      if (!entry) return E_FAIL;
      edited(*entry);
      return S_OK;
    }
    case kDisplayValueChanged: {
      if (data.vt != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
      if (!data.parray) return E_POINTER;
      LONG lower = 0;
      HRESULT hr = SafeArrayGetLBound(data.parray, 1, &lower);
      if (FAILED(hr)) return hr;
      vkr::Variant first, second;
      LONG at = lower;
      hr = SafeArrayGetElement(data.parray, &at, &first);
      if (FAILED(hr)) return hr;
      if (first.vt != VT_UI4) return E_UNEXPECTED;
      at = lower + 1;
      hr = SafeArrayGetElement(data.parray, &at, &second);
      if (FAILED(hr)) return hr;
      const LONG id = static_cast<LONG>(first.ulVal);
      const CActXParInfo* entry = find(id);
      if (!entry) return E_FAIL;
      edited(*entry);
      SetControlValueById(id, second);
      return S_OK;
    }
    default:
      return S_OK;
  }
}

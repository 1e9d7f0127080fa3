// CovFDT_BaseActiveXImpl: the services on the parameter table: finding entries, reading them
// all, the walks the DTM's broadcasts start (refresh, flag words, DTM messages, the language),
// the dirty state, the information items and the release of hosted display controls.
#include <vector>

#include "parameters/CovVAPacker.h"
#include "ui/framework/BaseActiveX.h"

namespace {

constexpr ULONG kParameterRefreshDialogs = 0x5;  // dialog types 1 and 4
constexpr ULONG kRefreshAllDialogs = 0x3;        // dialog types 1 and 2

// Sets a flag for the life of a scope and clears it on every way out.
class FlagScope {
 public:
  explicit FlagScope(BOOL& flag) : m_flag(flag) { m_flag = TRUE; }
  ~FlagScope() { m_flag = FALSE; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  BOOL& m_flag;
};

}  // namespace

// ---- Packed parameter events --------------------------------------------------------------------

HRESULT UnpackParameterEvent(const VARIANT& event, LONG* id, VARIANT* value) {
  if (!id || !value) return E_POINTER;
  if (event.vt != (VT_ARRAY | VT_VARIANT) || !event.parray) return E_UNEXPECTED;
  LONG lower = 0, upper = -1;
  HRESULT hr = SafeArrayGetLBound(event.parray, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(event.parray, 1, &upper);
  if (FAILED(hr)) return hr;
  if (upper - lower < 1) return E_UNEXPECTED;
  vkr::Variant first;
  LONG index = lower;
  hr = SafeArrayGetElement(event.parray, &index, &first);
  if (FAILED(hr)) return hr;
  LONG number = 0;
  if (!CovFDT_BaseActiveXImpl::ReadNumber(first, &number)) return E_UNEXPECTED;
  vkr::Variant second;
  index = lower + 1;
  hr = SafeArrayGetElement(event.parray, &index, &second);
  if (FAILED(hr)) return hr;
  *id = number;
  VariantClear(value);
  second.Detach(value);
  return S_OK;
}

HRESULT PackParameterEvent(LONG id, const VARIANT& value, VARIANT* event) {
  if (!event) return E_POINTER;
  VariantInit(event);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return E_OUTOFMEMORY;
  VARIANT first = vkr::UI4(static_cast<ULONG>(id));
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(array, &index, &first);
  index = 1;
  if (SUCCEEDED(hr)) hr = SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) {
    SafeArrayDestroy(array);
    return hr;
  }
  event->vt = VT_ARRAY | VT_VARIANT;
  event->parray = array;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnParameterRefreshEvent(VARIANT event) {
  if (!(m_nDialogType & kParameterRefreshDialogs)) return S_OK;
  LONG id = -1;
  vkr::Variant value;
  HRESULT hr = UnpackParameterEvent(event, &id, &value);
  if (FAILED(hr)) return hr;
  if (FindParameterIndex(id) < 0) return S_OK;
  hr = RefreshParameter(id);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnRefreshAllEvent(VARIANT event) {
  LONG id = -1;
  vkr::Variant value;
  HRESULT hr = UnpackParameterEvent(event, &id, &value);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_FAIL;
  vkr::Variant field;
  hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(1), field.Put());
  if (FAILED(hr)) return hr;
  LONG device = 0;
  ReadNumber(field, &device);
  if ((m_nDialogType & kRefreshAllDialogs) || device == 0) {
    if (FindParameterIndex(id) >= 0) {
      hr = RefreshAllParameters(id);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

// The DTM tells that a parameter's flag word changed (argument: the id, or an {id, value} pair):
// the entries of that id show the new flags, keeping what the user's input marked (changed,
// invalid).
HRESULT CovFDT_BaseActiveXImpl::OnParameterStateEvent(VARIANT event) {
  LONG id = -1;
  if (event.vt == (VT_ARRAY | VT_VARIANT)) {
    vkr::Variant value;
    HRESULT hr = UnpackParameterEvent(event, &id, &value);
    if (FAILED(hr)) return hr;
  } else if (!ReadNumber(event, &id)) {
    return E_INVALIDARG;
  }
  const LONG index = FindParameterIndex(id);
  if (index < 0) return S_OK;
  ULONG flags = 0;
  HRESULT hr = GetParameterInfoValue(id, &flags);
  if (FAILED(hr)) return hr;
  const ULONG input = m_pParInfo[index].m_nState & 0x6;
  hr = SetControlStateById(id, (flags & ~0x6UL) | input);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnDtmMessage(VARIANT message) {
  LONG number = 0;
  if (ReadNumber(message, &number) && number == 67 && (m_nDialogType & 0x4)) ReadAllParameters();
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetDirty(BOOL dirty) {
  if (m_eFamily == EUiFamily::Control) {
    m_bDirty = dirty;
    return S_OK;
  }
  const BOOL value = dirty ? TRUE : FALSE;
  if (value == m_bDirty) return S_OK;
  m_bDirty = value;
  // A page without a site (released by its frame) has nobody to tell.
  if (m_spPageSite) m_spPageSite->OnStatusChange(value ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_CLEAN);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::NoOperation() { return S_OK; }

HRESULT CovFDT_BaseActiveXImpl::NotifyAllParameters() {
  for (ULONG i = 0; i < m_nParInfoCount; ++i) OnNotifyParameter(m_pParInfo[i].m_nParamId);
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnNotifyParameter(LONG) { return S_OK; }

// ---- Reading all entries ------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::ReadAllParameters() {
  if (!m_spDtm) return E_INVALIDARG;
  FlagScope busy(m_bBusy);
  m_nReadWord = 0;
  for (ULONG i = 0; i < m_nParInfoCount; ++i) {
    if (SUCCEEDED(ReadParameter(static_cast<LONG>(i)))) continue;
    CActXParInfo& entry = m_pParInfo[i];
    const ULONG state = (entry.m_nState | 0x4 | 0x1 | 0x8) & ~0x2UL;
    const HRESULT hr = SetControlStateById(entry.m_nParamId, state);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

LONG CovFDT_BaseActiveXImpl::FindParameterIndex(LONG id) const {
  if (id == -1 || !m_pParInfo) return -1;
  for (ULONG i = 0; i < m_nParInfoCount; ++i)
    if (m_pParInfo[i].m_nParamId == id) return static_cast<LONG>(i);
  return -1;
}

HRESULT CovFDT_BaseActiveXImpl::ReleaseDisplayControls() {
  for (ULONG i = 0; i < m_nParInfoCount; ++i) {
    vkr::ComPtr<IParamGroupDisplay> display;
    if (FAILED(GetHostedControl(m_pParInfo[i].m_nCtrlId, IParamGroupDisplay::iid, display.PutVoid()))) continue;
    LONG bound = 0;
    display->ReleaseBinding(&bound);
  }
  return S_OK;
}

// ---- Information interface ----------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::SetInfo(VARIANT id, VARIANT* value) {
  ULONG item = 0;
  HRESULT hr = ReadCommandId(id, &item);
  if (FAILED(hr)) return hr;
  if (!value) return E_POINTER;
  if (m_eFamily == EUiFamily::Page && item == 1) return S_FALSE;
  if (item == 16) {
    NoOperation();
    SAFEARRAY* ids = SafeArrayCreateVector(VT_UI4, 0, m_nParInfoCount);
    if (!ids) return E_FAIL;
    for (ULONG i = 0; i < m_nParInfoCount; ++i) {
      LONG index = static_cast<LONG>(i);
      ULONG parameter = static_cast<ULONG>(m_pParInfo[i].m_nParamId);
      hr = SafeArrayPutElement(ids, &index, &parameter);
      if (FAILED(hr)) {
        SafeArrayDestroy(ids);
        return hr;
      }
    }
    VariantClear(value);
    value->vt = VT_ARRAY | VT_UI4;
    value->parray = ids;
    return S_OK;
  }
  if (item == 32) {
    std::vector<SParamUpdateInfo> updates;
    // A hidden page does not want its values read cyclically.
    if (!(m_eFamily == EUiFamily::Page && m_bPageHidden))
      for (ULONG i = 0; i < m_nParInfoCount; ++i)
        if (m_pParInfo[i].m_nUpdateRate != 0)
          updates.emplace_back(static_cast<ULONG>(m_pParInfo[i].m_nParamId), m_pParInfo[i].m_nUpdateRate);
    return PackParamUpdateInfos(updates, value);
  }
  return S_FALSE;
}

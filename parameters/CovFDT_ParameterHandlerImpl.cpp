// CovFDT_ParameterHandlerImpl: records, values, validation, device access and notifications.
#include "parameters/CovFDT_ParameterHandlerImpl.h"

#include <algorithm>
#include <string>
#include <vector>

#include "include/DtmMessages.h"
#include "parameters/CFdtVariant.h"
#include "parameters/EnumList.h"
#include "parameters/SNumberFormat.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::I4;
using vkr::UI4;

constexpr ULONG kNoParameter = 0xFFFFFFFF;
// The parameter-change events dispatched for the callback kinds 1 to 4.
constexpr ULONG kEventBeforeRead = 21;
constexpr ULONG kEventAfterRead = 37;
constexpr ULONG kEventBeforeWrite = 22;
constexpr ULONG kEventAfterWrite = 38;
// DTM message: a device response arrived.
// Digits a floating-point value is compared at.
constexpr UINT kComparePrecision = 5;
// Display texts longer than this are not shown.
constexpr size_t kMaxDisplayText = 260;

// A parameter id given as a VARIANT.
HRESULT IdOf(const VARIANT& id, ULONG* out) { return VariantToULong(&id, out); }



VARIANT Empty() {
  VARIANT r;
  VariantInit(&r);
  return r;
}

// The 32-bit pattern of a mask VARIANT: integers as their bits (so VT_I4 0x80000000 is the
// "exists" selector, not an overflow), anything else converted.
HRESULT MaskOf(const VARIANT& field, ULONG* mask) {
  switch (field.vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      *mask = field.ulVal;
      return S_OK;
    case VT_I2:
      *mask = static_cast<ULONG>(static_cast<LONG>(field.iVal));
      return S_OK;
    default:
      return VariantToULong(&field, mask);
  }
}

bool IsText(const VARIANT& v) { return v.vt == VT_BSTR; }

bool ContainsText(const VARIANT& v, const char16_t* what) {
  return v.vt == VT_BSTR && SysStringLen(v.bstrVal) > 0 && vkr::View(v.bstrVal).find(what) != std::u16string_view::npos;
}

// Two VARIANTs naming the same parameter id, whatever integer type each arrived in.
bool SameId(const VARIANT& a, const VARIANT& b) {
  ULONG x = 0, y = 0;
  if (SUCCEEDED(VariantToULong(&a, &x)) && SUCCEEDED(VariantToULong(&b, &y))) return x == y;
  return IsVariantEqual(a, b);
}

HRESULT CopyOut(VARIANT* out, const VARIANT& value) {
  VariantClear(out);
  return VariantCopy(out, &value);
}

std::string Narrow(const vkr::Bstr& text) { return vkr::Utf16ToUtf8(text.View()); }

// The "type" of the TypeInformation text's "TypeInformation/Simple" element; S_FALSE or a failure
// when it cannot be read.
HRESULT ReadTypeInformationType(const VARIANT& typeInformation, BSTR* type) {
  *type = nullptr;
  if (typeInformation.vt != VT_BSTR || SysStringLen(typeInformation.bstrVal) == 0) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(typeInformation.bstrVal, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded || !document) return S_FALSE;
  vkr::Bstr path(u"TypeInformation/Simple/@type");
  hr = GetXmlValueBstr(type, document.Get(), path);
  return FAILED(hr) ? S_FALSE : S_OK;
}

bool IsPlainKind(USHORT kind) { return kind == PK_PLAIN || kind == PK_PACKED_TEXT || kind == PK_RANGE_8; }

// The value of a field as GetParameterField answers it; false for a mask that is no single field.
bool FieldToVariant(const ParInfo& r, ULONG mask, vkr::Variant* out, HRESULT* hr) {
  *hr = S_OK;
  auto number = [&](ULONG v) {
    out->vt = VT_UI4;
    out->ulVal = v;
  };
  auto text = [&](const vkr::Bstr& s) {
    BSTR copy = nullptr;
    *hr = s.CopyTo(&copy);
    if (SUCCEEDED(*hr)) {
      out->vt = VT_BSTR;
      out->bstrVal = copy;
    }
  };
  auto copy = [&](const vkr::Variant& v) { *hr = VariantCopy(out, &v); };
  switch (mask) {
    case PIF_ADDRESSED: number(r.m_dwAddressed); break;
    case PIF_STRING_ID: text(r.m_bstrStrId); break;
    case PIF_ADDRESS: copy(r.m_vAddress); break;
    case PIF_NAME: text(r.m_bstrName); break;
    case PIF_STRING_RES_ID: number(r.m_nStringResId); break;
    case PIF_DESCRIPTION: text(r.m_bstrDescription); break;
    case PIF_VARTYPE: out->vt = VT_UI2; out->uiVal = r.m_vt; break;
    case PIF_KIND: out->vt = VT_UI2; out->uiVal = r.m_nKind; break;
    case PIF_MIN: copy(r.m_vMin); break;
    case PIF_MAX: copy(r.m_vMax); break;
    case PIF_DEFAULT: copy(r.m_vDefault); break;
    case PIF_VALUE: copy(r.m_vValue); break;
    case PIF_DEV_VALUE: copy(r.m_vDevValue); break;
    case PIF_ENUM_LIST: copy(r.m_vEnumList); break;
    case PIF_PERSIST:
      out->vt = VT_BOOL;
      out->boolVal = static_cast<VARIANT_BOOL>(r.m_bPersist & 0xFFFF);
      break;
    case PIF_FLAGS: number(r.m_dwFlags); break;
    case PIF_FLAG_WORD1: number(r.m_dwFlagWord1); break;
    case PIF_FLAG_WORD2: number(r.m_dwFlagWord2); break;
    case PIF_UNIT: text(r.m_bstrUnit); break;
    case PIF_EXPORT_KIND: number(r.m_dwExportKind); break;
    case PIF_FURTHER: copy(r.m_vFurther); break;
    case PIF_RELATION: copy(r.m_vRelation); break;
    case PIF_TYPE_INFORMATION: copy(r.m_vTypeInformation); break;
    case PIF_PRIVATE_PROPERTIES: copy(r.m_vPrivateProperties); break;
    default: return false;
  }
  return true;
}

// The mirror: puts a value into a field of a scratch record, converted to the field's type (a
// value of another type is converted, not reinterpreted). False for a mask that is no single field.
bool VariantToField(const VARIANT& value, ULONG mask, ParInfo* r, HRESULT* hr) {
  *hr = S_OK;
  vkr::Variant converted;
  auto as = [&](VARTYPE vt) {
    *hr = ChangeVariantType(&converted, &value, vt);
    return SUCCEEDED(*hr);
  };
  auto number = [&](ULONG* field) {
    if (as(VT_UI4)) *field = converted.ulVal;
  };
  auto text = [&](vkr::Bstr* field) {
    if (as(VT_BSTR)) {
      field->Attach(converted.bstrVal);
      converted.vt = VT_EMPTY;
    }
  };
  auto copy = [&](vkr::Variant* field) { *hr = VariantCopy(field, &value); };
  switch (mask) {
    case PIF_ADDRESSED: number(&r->m_dwAddressed); break;
    case PIF_STRING_ID: text(&r->m_bstrStrId); break;
    case PIF_ADDRESS: copy(&r->m_vAddress); break;
    case PIF_NAME: text(&r->m_bstrName); break;
    case PIF_STRING_RES_ID: number(&r->m_nStringResId); break;
    case PIF_DESCRIPTION: text(&r->m_bstrDescription); break;
    case PIF_VARTYPE:
      if (as(VT_UI2)) r->m_vt = converted.uiVal;
      break;
    case PIF_KIND:
      if (as(VT_UI2)) r->m_nKind = converted.uiVal;
      break;
    case PIF_MIN: copy(&r->m_vMin); break;
    case PIF_MAX: copy(&r->m_vMax); break;
    case PIF_DEFAULT: copy(&r->m_vDefault); break;
    case PIF_VALUE: copy(&r->m_vValue); break;
    case PIF_DEV_VALUE: copy(&r->m_vDevValue); break;
    case PIF_ENUM_LIST: copy(&r->m_vEnumList); break;
    case PIF_PERSIST:
      // VARIANT_TRUE is stored as -1, as the flag's 16 bits sign-extended.
      if (as(VT_BOOL)) r->m_bPersist = static_cast<ULONG>(static_cast<LONG>(converted.boolVal));
      break;
    case PIF_FLAGS: number(&r->m_dwFlags); break;
    case PIF_FLAG_WORD1: number(&r->m_dwFlagWord1); break;
    case PIF_FLAG_WORD2: number(&r->m_dwFlagWord2); break;
    case PIF_UNIT: text(&r->m_bstrUnit); break;
    case PIF_EXPORT_KIND: number(&r->m_dwExportKind); break;
    case PIF_FURTHER: copy(&r->m_vFurther); break;
    case PIF_RELATION: copy(&r->m_vRelation); break;
    case PIF_TYPE_INFORMATION: copy(&r->m_vTypeInformation); break;
    case PIF_PRIVATE_PROPERTIES: copy(&r->m_vPrivateProperties); break;
    default: return false;
  }
  return true;
}

}  // namespace

CovFDT_ParameterHandlerImpl::CovFDT_ParameterHandlerImpl(IovFdtParameterHandlerSite* site) : m_pSite(site) {}

CovFDT_ParameterHandlerImpl::~CovFDT_ParameterHandlerImpl() = default;

HRESULT CovFDT_ParameterHandlerImpl::QueryHandlerInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* found = nullptr;
  if (riid == IovFdtParameterHandler4::iid)
    found = static_cast<IovFdtParameterHandler4*>(this);
  else if (riid == IovFdtParameterInfo::iid)
    found = static_cast<IovFdtParameterInfo*>(this);
  else if (riid == IovFdtParameterValidation::iid)
    found = static_cast<IovFdtParameterValidation*>(this);
  else if (riid == IovFdtParametersImportExport::iid)
    found = static_cast<IovFdtParametersImportExport*>(this);
  else if (riid == IovFdtOnlineParameter::iid)
    found = static_cast<IovFdtOnlineParameter*>(this);
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  *ppv = found;
  return S_OK;
}

// ---- IDispatch ------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_INVALIDARG;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CovFDT_ParameterHandlerImpl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

// ---- Records -----------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::SetValueById(ULONG id, VARIANT value) {
  const HRESULT hr = m_collection.SetValue(id, value);
  if (FAILED(hr)) return hr;
  // A value stored is one the data set holds.
  ParInfo record;
  if (SUCCEEDED(GetParInfoFields(id, PIF_FLAGS, &record)) && (record.m_dwFlags & PFL_NOT_HELD)) {
    record.m_dwFlags &= ~static_cast<ULONG>(PFL_NOT_HELD);
    SetParInfoFields(id, PIF_FLAGS, record);
  }
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::GetValueById(ULONG id, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  return m_collection.GetValue(id, out);
}

HRESULT CovFDT_ParameterHandlerImpl::SetParInfoFields(ULONG id, ULONG mask, const ParInfo& record) {
  return m_collection.SetParInfoFields(id, mask, record);
}

HRESULT CovFDT_ParameterHandlerImpl::GetParInfoFields(ULONG id, ULONG mask, ParInfo* out) {
  if (!out) return E_INVALIDARG;
  return m_collection.GetParInfoFields(id, mask, out);
}

HRESULT CovFDT_ParameterHandlerImpl::AddParInfo(const ParInfo& record) { return m_collection.Add(record); }

HRESULT CovFDT_ParameterHandlerImpl::RemoveParameter(ULONG id) { return m_collection.Remove(id); }

HRESULT CovFDT_ParameterHandlerImpl::RemoveAllParameters() {
  m_collection.RemoveAll();
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetCollectionCount(ULONG* count) {
  if (!count) return E_INVALIDARG;
  *count = m_collection.Count();
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParInfoById(ULONG id, ParInfo* out) {
  if (!out) return E_INVALIDARG;
  const ParInfo* stored = m_collection.FindById(id);
  if (!stored) return E_INVALIDARG;
  return m_collection.CopyParInfo(*stored, out);
}

HRESULT CovFDT_ParameterHandlerImpl::GetParInfoAt(LONG index, ParInfo* out) { return m_collection.GetAt(index, out); }

HRESULT CovFDT_ParameterHandlerImpl::InvokeParameterCallback(ULONG id, ParameterCallbackKind kind, ULONG_PTR context) {
  return m_collection.InvokeCallback(id, kind, context);
}

LONG CovFDT_ParameterHandlerImpl::IndexOfParameter(ULONG id) { return m_collection.IndexOf(id); }

bool CovFDT_ParameterHandlerImpl::HasParameter(ULONG id) { return m_collection.FindById(id) != nullptr; }

HRESULT CovFDT_ParameterHandlerImpl::GetParameterCount(ULONG* count) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterCount()");
  return GetCollectionCount(count);
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterIdAt(LONG index, ULONG* id) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterIdAt()");
  if (!id) return E_INVALIDARG;
  return m_collection.IdAt(index, id);
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterCount(VARIANT* count) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterCount()");
  if (!count) return E_INVALIDARG;
  VariantClear(count);
  count->vt = VT_UI4;
  count->ulVal = m_collection.Count();
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterIdAt(VARIANT index, VARIANT* id) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterIdAt()");
  if (!id) return E_INVALIDARG;
  ULONG position = 0;
  HRESULT hr = VariantToULong(&index, &position);
  if (FAILED(hr)) return hr;
  if (position > 0x7FFFFFFF) return E_INVALIDARG;
  ULONG found = 0;
  hr = GetParameterIdAt(static_cast<LONG>(position), &found);
  if (FAILED(hr)) return hr;
  VariantClear(id);
  *id = UI4(found);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterInfo(VARIANT id, VARIANT* value, BSTR* name, VARTYPE* type,
                                                      VARIANT* minimum, VARIANT* maximum, VARIANT* defaultValue,
                                                      VARIANT* status) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterInfo()");
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ULONG word = 0;
  hr = GetParameterInfoById(nId, value, name, type, minimum, maximum, defaultValue, status ? &word : nullptr);
  if (status && SUCCEEDED(hr)) {
    VariantClear(status);
    *status = UI4(word);
  }
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterInfoById(ULONG id, VARIANT* value, BSTR* name, VARTYPE* type,
                                                          VARIANT* minimum, VARIANT* maximum, VARIANT* defaultValue,
                                                          ULONG* status) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterInfoById()");
  if (id == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  HRESULT hr = GetParInfoFields(id, PIF_ALL, &record);
  if (FAILED(hr)) return hr;
  HRESULT result = S_OK;
  auto copy = [&](VARIANT* out, const VARIANT& from) {
    if (!out) return;
    HRESULT h = CopyOut(out, from);
    if (FAILED(h)) result = h;
  };
  copy(value, record.m_vValue);
  if (name) {
    HRESULT h = record.m_bstrName.CopyTo(name);
    if (FAILED(h)) result = h;
  }
  if (type) *type = record.m_vt;
  copy(minimum, record.m_vMin);
  copy(maximum, record.m_vMax);
  copy(defaultValue, record.m_vDefault);
  if (status) *status = record.m_dwFlags;
  return result;
}

HRESULT CovFDT_ParameterHandlerImpl::SetParameterInfo(VARIANT id, VARIANT* value, VARIANT* status) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetParameterInfo()");
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ULONG word = 0;
  if (status) {
    hr = MaskOf(*status, &word);
    if (FAILED(hr)) return hr;
  }
  return SetValueAndStatusById(nId, value, status ? &word : nullptr);
}

HRESULT CovFDT_ParameterHandlerImpl::SetValueAndStatusById(ULONG id, VARIANT* value, ULONG* status) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetValueAndStatusById()");
  if (id == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  HRESULT hr = GetParInfoFields(id, PIF_VARTYPE | PIF_VALUE | PIF_PERSIST, &record);
  if (FAILED(hr)) return hr;
  ULONG mask = 0;
  bool changed = false;
  if (value) {
    vkr::Variant converted;
    hr = ChangeVariantType(&converted, value, record.m_vt);
    if (FAILED(hr)) return hr;
    changed = !IsVariantEqual(converted, record.m_vValue);
    hr = VariantCopy(&record.m_vValue, &converted);
    if (FAILED(hr)) return hr;
    mask |= PIF_VALUE;
  }
  if (status) {
    record.m_dwFlags = *status;
    mask |= PIF_FLAGS;
  }
  hr = SetParInfoFields(id, mask, record);
  // Stored without notifications, but the data set differs from its saved form all the same.
  if (SUCCEEDED(hr) && changed && record.m_bPersist && m_pSite) m_pSite->OnPersistedValueChanged();
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterValue(VARIANT id, VARIANT* value) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterValue()");
  if (!value) return E_INVALIDARG;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (nId == kNoParameter) return E_INVALIDARG;
  return GetValueById(nId, value);
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterAddress(VARIANT id, VARIANT* address) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterAddress()");
  if (!address) return E_INVALIDARG;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESS, &record);
  if (FAILED(hr)) return hr;
  return CopyOut(address, record.m_vAddress);
}

HRESULT CovFDT_ParameterHandlerImpl::SetParameterAddress(VARIANT id, VARIANT address) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetParameterAddress()");
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (nId == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  hr = VariantCopy(&record.m_vAddress, &address);
  if (FAILED(hr)) return hr;
  return SetParInfoFields(nId, PIF_ADDRESS, record);
}

HRESULT CovFDT_ParameterHandlerImpl::GetAddressedWord(VARIANT id, VARIANT* kind) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetAddressedWord()");
  if (!kind) return E_POINTER;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESSED, &record);
  if (FAILED(hr)) return hr;
  VariantClear(kind);
  *kind = UI4(record.m_dwAddressed);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::InitNewParameterHandler(VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::InitNewParameterHandler()");
  if (!done) return E_INVALIDARG;
  *done = VARIANT_TRUE;
  return S_OK;
}

// The list transfers are not part of this class yet; the "<PARAMETERS>" export is in
// ParameterExport.cpp, its import in ParameterImport.cpp, the parameter section of the data set in
// ParameterHandlerPersistence.cpp.

HRESULT CovFDT_ParameterHandlerImpl::UploadParameterList(BSTR, BSTR, VARIANT_BOOL* success) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::UploadParameterList()");
  if (success) *success = VARIANT_FALSE;
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::DownloadParameterList(BSTR, BSTR, VARIANT_BOOL* success) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::DownloadParameterList()");
  if (success) *success = VARIANT_FALSE;
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::UploadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::UploadOnlineParameters()");
  return UploadParameterList(parameterList, nullptr, success);
}

HRESULT CovFDT_ParameterHandlerImpl::DownloadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::DownloadOnlineParameters()");
  return DownloadParameterList(parameterList, nullptr, success);
}

HRESULT CovFDT_ParameterHandlerImpl::CancelTransfer(VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::CancelTransfer()");
  if (!done) return E_INVALIDARG;
  m_bAbortTransfer = true;
  CancelActiveTransfer();
  *done = VARIANT_TRUE;
  return S_OK;
}

void CovFDT_ParameterHandlerImpl::CancelActiveTransfer() {
  if (m_bstrActiveTransferId.Empty()) return;
  IovFdtParameterCommunication* client = m_pSite ? m_pSite->GetCommunicationClient() : nullptr;
  VARIANT_BOOL done = VARIANT_FALSE;
  if (client) client->CancelParamListTransfer(m_bstrActiveTransferId, &done);
}

HRESULT CovFDT_ParameterHandlerImpl::CancelOnlineParameters(BSTR invokeId, VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::CancelOnlineParameters()");
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  IovFdtParameterCommunication* client = m_pSite ? m_pSite->GetCommunicationClient() : nullptr;
  if (!client) return E_NOINTERFACE;
  HRESULT hr = client->CancelParamListTransfer(invokeId, done);
  if (SUCCEEDED(hr)) {
    m_bAbortTransfer = true;
    *done = VARIANT_TRUE;
  }
  return hr;
}

BOOL CovFDT_ParameterHandlerImpl::ParameterHookBool(ULONG, ULONG, ULONG, ULONG d) { return d != 0; }

ULONG CovFDT_ParameterHandlerImpl::ParameterHookMode(ULONG, ULONG, ULONG, ULONG d) { return d != 0 ? 2 : 0; }

HRESULT CovFDT_ParameterHandlerImpl::EvaluateEnumerationRelation(VARIANT, VARIANT* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::EvaluateEnumerationRelation()");
  if (!result) return E_INVALIDARG;
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterValues(ULONG id, VARIANT, ULONG what, VARIANT* out) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterValues()");
  if (!out) return E_INVALIDARG;
  VariantClear(out);
  vkr::Variant fetched;
  if (what & 1) {
    HRESULT hr = GetParameterValue(UI4(id), fetched.Put());
    if (FAILED(hr)) return hr;
  }
  if (what & 2) {
    HRESULT hr = GetParameterField(UI4(id), UI4(PIF_DEV_VALUE), fetched.Put());
    if (FAILED(hr)) return hr;
  }
  fetched.Detach(out);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterText(ULONG id, VARIANT reserved, ULONG what, BSTR* out) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterText()");
  if (!out) return E_POINTER;
  vkr::Variant type;
  if (FAILED(GetParameterField(UI4(id), UI4(PIF_VARTYPE), type.Put())) || type.vt != VT_UI2 || type.uiVal != VT_BSTR)
    return E_FAIL;
  vkr::Variant fetched;
  HRESULT hr = GetParameterValues(id, reserved, what, fetched.Put());
  if (FAILED(hr)) return hr;
  if (fetched.vt == VT_BSTR) {
    *out = SysAllocStringLen(fetched.bstrVal, SysStringLen(fetched.bstrVal));
    if (!*out) return E_OUTOFMEMORY;
  }
  return S_OK;
}

// ---- Field access by mask ------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::GetParameterField(VARIANT id, VARIANT field, VARIANT* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterField()");
  if (!result) return E_INVALIDARG;
  if (field.vt == VT_BSTR) return ReadPrivateProperties(id, field.bstrVal, result);
  ULONG nId = 0, mask = 0;
  HRESULT hr = IdOf(id, &nId);
  if (SUCCEEDED(hr)) hr = MaskOf(field, &mask);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, mask, &record);
  vkr::Variant answer;
  if (mask == PIF_EXISTS) {
    answer.vt = VT_BOOL;
    answer.boolVal = SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    if (FAILED(hr)) return hr;
    if (!FieldToVariant(record, mask, &answer, &hr)) return E_FAIL;
    if (FAILED(hr)) return hr;
  }
  VariantClear(result);
  answer.Detach(result);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::SetParameterField(VARIANT id, VARIANT field, VARIANT value) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetParameterField()");
  if (field.vt == VT_BSTR) return WritePrivateProperty(id, field.bstrVal, value);
  ULONG nId = 0, mask = 0;
  HRESULT hr = IdOf(id, &nId);
  if (SUCCEEDED(hr)) hr = MaskOf(field, &mask);
  if (FAILED(hr)) return hr;
  if (mask == PIF_EXISTS) return S_OK;
  ParInfo scratch;
  if (!VariantToField(value, mask, &scratch, &hr)) return E_FAIL;
  if (FAILED(hr)) return hr;
  return SetParInfoFields(nId, mask, scratch);
}

// ---- Links ---------------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::RegisterAlias(VARIANT alias, VARIANT id) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::RegisterAlias()");
  if (alias.vt == VT_EMPTY || id.vt == VT_EMPTY) return E_INVALIDARG;
  // A parameter linked to itself would be told twice about every change.
  if (SameId(alias, id)) return E_INVALIDARG;
  auto add = [&](const VARIANT& from, const VARIANT& to) -> HRESULT {
    for (const CVariantPair& link : m_aliasLinks)
      if (SameId(link.first, from) && SameId(link.second, to)) return S_OK;
    CVariantPair link;
    HRESULT hr = VariantCopy(&link.first, &from);
    if (SUCCEEDED(hr)) hr = VariantCopy(&link.second, &to);
    if (FAILED(hr)) return hr;
    m_aliasLinks.push_back(std::move(link));
    return S_OK;
  };
  HRESULT hr = add(alias, id);
  if (SUCCEEDED(hr)) hr = add(id, alias);
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::UnregisterAlias(VARIANT id) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::UnregisterAlias()");
  if (id.vt == VT_EMPTY) return E_INVALIDARG;
  // Only the id's own links go, both directions of each; links between other parameters stay.
  std::erase_if(m_aliasLinks,
                [&](const CVariantPair& link) { return SameId(link.first, id) || SameId(link.second, id); });
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetAliasLink(VARIANT id, VARIANT* linked) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetAliasLink()");
  if (id.vt == VT_EMPTY || !linked) return E_INVALIDARG;
  for (const CVariantPair& link : m_aliasLinks)
    if (SameId(link.first, id)) return CopyOut(linked, link.second);
  return E_FAIL;
}

// ---- Notifications -------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::NotifyActiveXContainer(VARIANT event, VARIANT id) {
  return NotifyActiveXContainerEx(event, id, Empty());
}

HRESULT CovFDT_ParameterHandlerImpl::NotifyActiveXContainerEx(VARIANT event, VARIANT id, VARIANT argument) {
  IovFdtParameterBroadcast* container = m_pSite ? m_pSite->GetActiveXContainer() : nullptr;
  if (!container) return S_OK;
  return container->NotifyActiveXContainer(event, id, argument);
}

HRESULT CovFDT_ParameterHandlerImpl::NotifyMirroredParameters(VARIANT event, VARIANT id, VARIANT value) {
  const HRESULT first = NotifyActiveXContainerEx(event, id, value);
  if (FAILED(first)) return first;
  // Copies: a notification may change the links.
  std::vector<vkr::Variant> linked;
  for (const CVariantPair& link : m_aliasLinks)
    if (SameId(link.first, id)) linked.push_back(link.second);
  for (vkr::Variant& other : linked) NotifyActiveXContainerEx(event, other, value);
  return first;
}

HRESULT CovFDT_ParameterHandlerImpl::SetDataSetState(ULONG state) {
  if (state == m_nDataSetState) return S_OK;
  if (m_pSite) m_pSite->SetDataSetModified(TRUE);
  m_nDataSetState = state;
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_UI2;
  argument.uiVal = static_cast<USHORT>(state);
  return NotifyActiveXContainerEx(UI4(PB_DATA_SET_STATE), UI4(PB_DATA_SET_STATE), argument);
}

HRESULT CovFDT_ParameterHandlerImpl::SetParameterStatus(ULONG id, ULONG status) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetParameterStatus()");
  if (id == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  record.m_dwFlags = status;
  HRESULT hr = SetParInfoFields(id, PIF_FLAGS, record);
  if (FAILED(hr)) return hr;
  hr = NotifyActiveXContainer(UI4(PB_STATUS_CHANGED), UI4(id));
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::FindValueSetRecord(ULONG id, ULONG mask, CValueSetRecord* record) {
  if (!record) return E_INVALIDARG;
  record->pfnHandler = nullptr;
  IovFDTParamList* lists = m_pSite ? m_pSite->GetParamList() : nullptr;
  if (!lists) return S_FALSE;
  for (const CValueSetRecord& candidate : m_valueSetRecords) {
    ULONG mask1 = 0, mask2 = 0;
    if (FAILED(MaskOf(candidate.vMask1, &mask1)) || FAILED(MaskOf(candidate.vMask2, &mask2))) continue;
    if (!(mask1 & mask) || !(mask2 & mask)) continue;
    vkr::Variant names;
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = lists->GetChildLists(m_vListSelection, names.Ptr(), &ok);
    if (FAILED(hr)) return hr;
    if (!ok) return E_FAIL;
    if (names.vt != (VT_ARRAY | VT_VARIANT) || !names.parray || SafeArrayGetDim(names.parray) != 1) continue;
    LONG lb = 0, ub = -1;
    SafeArrayGetLBound(names.parray, 1, &lb);
    SafeArrayGetUBound(names.parray, 1, &ub);
    for (LONG i = lb; i <= ub; ++i) {
      vkr::Variant name;
      if (FAILED(SafeArrayGetElement(names.parray, &i, name.Ptr())) || !IsVariantEqual(name, candidate.vList))
        continue;
      vkr::Variant entries;
      ok = VARIANT_FALSE;
      hr = lists->GetMembers(name, entries.Ptr(), &ok);
      if (FAILED(hr)) return hr;
      if (!ok || entries.vt != (VT_ARRAY | VT_VARIANT) || !entries.parray || SafeArrayGetDim(entries.parray) != 1)
        continue;
      LONG elb = 0, eub = -1;
      SafeArrayGetLBound(entries.parray, 1, &elb);
      SafeArrayGetUBound(entries.parray, 1, &eub);
      for (LONG e = elb; e <= eub; ++e) {
        vkr::Variant entry;
        ULONG entryId = 0;
        if (SUCCEEDED(SafeArrayGetElement(entries.parray, &e, entry.Ptr())) &&
            SUCCEEDED(VariantToULong(&entry, &entryId)) && entryId == id) {
          *record = candidate;
          return S_OK;
        }
      }
    }
  }
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::DispatchParameterEvent(VARIANT id, ULONG eventId, LONG* result) {
  IovFdtParameterCommunication* client = m_pSite ? m_pSite->GetCommunicationClient() : nullptr;
  if (!client) return E_POINTER;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  CValueSetRecord record;
  hr = FindValueSetRecord(nId, eventId, &record);
  if (record.pfnHandler) return record.pfnHandler(Self(), client, id, result);
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::NotifyParameterChanged(ULONG id, ParameterCallbackKind kind) {
  HRESULT hr = InvokeParameterCallback(id, kind, reinterpret_cast<ULONG_PTR>(Self()));
  if (FAILED(hr)) return hr;
  ULONG eventId = 0;
  switch (kind) {
    case PCK_BEFORE_READ: eventId = kEventBeforeRead; break;
    case PCK_AFTER_READ: eventId = kEventAfterRead; break;
    case PCK_BEFORE_WRITE: eventId = kEventBeforeWrite; break;
    case PCK_AFTER_WRITE: eventId = kEventAfterWrite; break;
    default: return hr;
  }
  LONG word = -1;
  return DispatchParameterEvent(UI4(id), eventId, &word);
}

// ---- Values --------------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ApplyParameterValue(ULONG id, VARIANT value, BOOL mark) {
  if (id == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  HRESULT hr = GetParInfoFields(id, PIF_ADDRESSED | PIF_NAME | PIF_VARTYPE | PIF_VALUE | PIF_PERSIST | PIF_FLAGS,
                                &record);
  if (FAILED(hr)) return hr;
  vkr::Variant converted;
  hr = ChangeVariantType(&converted, &value, record.m_vt);
  if (FAILED(hr)) return hr;
  const bool persist = record.m_bPersist != 0;

  // A stored value is one the data set holds, also when it equals the placeholder it replaces.
  if (record.m_dwFlags & PFL_NOT_HELD) {
    record.m_dwFlags &= ~static_cast<ULONG>(PFL_NOT_HELD);
    hr = SetParInfoFields(id, PIF_FLAGS, record);
    if (FAILED(hr)) return hr;
    if (persist && m_pSite) m_pSite->OnPersistedValueChanged();
  }
  if (IsVariantEqual(converted, record.m_vValue))
    return NotifyMirroredParameters(UI4(PB_VALUE_CHANGED), UI4(id), converted);

  if (m_pSite) m_pSite->SendVariableEvent(Narrow(record.m_bstrName).c_str(), record.m_vValue, converted);
  hr = VariantCopy(&record.m_vValue, &converted);
  if (FAILED(hr)) return hr;
  if (persist && m_pSite) {
    hr = m_pSite->DelaySaveRequest(TRUE);
    if (FAILED(hr)) return hr;
  }
  NotifyParameterChanged(id, PCK_BEFORE_CHANGE);
  hr = SetParInfoFields(id, PIF_VALUE, record);
  if (FAILED(hr)) {
    // Nothing was stored: announce nothing, but close the bracket opened above.
    if (persist && m_pSite) m_pSite->DelaySaveRequest(FALSE);
    return hr;
  }
  if (persist && m_pSite) m_pSite->OnPersistedValueChanged();
  if (record.m_dwAddressed == 1) SetDataSetState(DSS_VALID_MODIFIED);
  if (!m_bSuppressChangeEvents) NotifyParameterChanged(id, PCK_AFTER_CHANGE);
  NotifyMirroredParameters(UI4(PB_VALUE_CHANGED), UI4(id), converted);
  if (mark) {
    record.m_dwFlags |= PFL_EXPORT;
    SetParInfoFields(id, PIF_FLAGS, record);
    if (persist && m_pSite) m_pSite->SetDataSetModified(TRUE);
  }
  if (persist && m_pSite) m_pSite->DelaySaveRequest(FALSE);
  hr = EvaluateRelationsFor(id, 3, 1);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateRelationsFor(ULONG id, ULONG which, ULONG argument) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::EvaluateRelationsFor()");
  if (which == 0) return S_FALSE;
  HRESULT remembered = S_OK;
  if (which & 1) {
    ParInfo record;
    HRESULT hr = GetParInfoFields(id, PIF_RELATION, &record);
    if (FAILED(hr)) return hr;
    if (ContainsText(record.m_vRelation, u"update(")) {
      hr = ApplyUpdateExpression(id, record.m_vRelation.bstrVal);
      if (FAILED(hr)) remembered = hr;
    }
  }
  if (which & 2) {
    // Read from the record itself: a reference's own expressions, not its target's.
    const ParInfo* stored = m_collection.FindById(id);
    if (!stored) return E_INVALIDARG;
    if (ContainsText(stored->m_vRelation, u"relation(")) {
      vkr::Bstr text(stored->m_vRelation.bstrVal);
      HRESULT hr = ParseRelations(id, text.Get(), FALSE, argument);
      if (FAILED(hr)) remembered = hr;
    }
  }
  return remembered;
}

HRESULT CovFDT_ParameterHandlerImpl::ApplyUpdateExpression(ULONG id, BSTR expression) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ApplyUpdateExpression()");
  const std::u16string_view text = vkr::View(expression).substr(0, SysStringLen(expression));
  const size_t start = text.find(u"update(");
  if (start == std::u16string_view::npos || text.size() <= 7) return E_INVALIDARG;
  // A re-read answers through the device response, which runs the parameter's relations again: an
  // expression that names its own parameter (or a ring of them) would re-read without end.
  for (ULONG running : m_updatesRunning)
    if (running == id) return S_OK;
  m_updatesRunning.push_back(id);
  struct Done {
    std::vector<ULONG>& running;
    ~Done() { running.pop_back(); }
  } done{m_updatesRunning};
  HRESULT result = S_OK;
  size_t pos = start + 7;
  while (pos < text.size()) {
    // A piece ends at the nearer of ',' and ')'; ')' ends the list.
    const size_t end = text.find_first_of(u",)", pos);
    const std::u16string_view piece = text.substr(pos, end == std::u16string_view::npos ? std::u16string_view::npos
                                                                                         : end - pos);
    ULONG target = 0;
    bool digits = false;
    for (OLECHAR c : piece) {
      if (c >= u'0' && c <= u'9') {
        target = target * 10 + static_cast<ULONG>(c - u'0');
        digits = true;
      } else if (c != u' ' || digits) {
        break;
      }
    }
    if (digits) {
      VARIANT_BOOL read = VARIANT_FALSE;
      HRESULT hr = ReadDeviceParameterEx(UI4(target), &read);
      if (FAILED(hr)) result = hr;
    }
    if (end == std::u16string_view::npos || text[end] == u')') break;
    pos = end + 1;
  }
  return result;
}

// ---- Validation ----------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::CheckTextLength(const ParInfo& record, const VARIANT& text, bool* valid) {
  if (!IsText(record.m_vMax) || SysStringLen(record.m_vMax.bstrVal) == 0) return S_OK;
  vkr::Variant limit;
  if (FAILED(ChangeVariantType(&limit, &record.m_vMax, VT_I4))) return S_OK;
  const LONG maxLength = limit.lVal;
  LONGLONG length = SysStringLen(text.bstrVal);
  // An odd limit counts one character more: packed texts fill whole groups of characters.
  if ((maxLength & 1) && length == static_cast<LONGLONG>(maxLength) + 1) length = maxLength;
  if (length > 0 && length > maxLength) *valid = false;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::CheckTypeInformation(const ParInfo& record, const VARIANT& value, bool* valid) {
  vkr::Bstr typeName;
  HRESULT hr = ReadTypeInformationType(record.m_vTypeInformation, typeName.Put());
  if (hr != S_OK) return S_FALSE;
  VARTYPE vt = VT_EMPTY;
  VarTypeFromString(typeName.Get(), &vt);
  // A type the text does not name leaves the parameter's own.
  if (vt == VT_EMPTY) vt = record.m_vt;
  vkr::Variant converted;
  *valid = SUCCEEDED(ChangeVariantType(&converted, &value, vt));
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::CheckValueRange(const ParInfo& record, const VARIANT& value, bool* valid) {
  *valid = true;
  if (!IsPlainKind(record.m_nKind)) return E_FAIL;
  if (value.vt == VT_EMPTY) {
    *valid = false;
    return S_OK;
  }
  if (record.m_vt == VT_BSTR && value.vt == VT_BSTR) {
    CheckTextLength(record, value, valid);
    if (!*valid) return S_OK;
    // A packed text holds only the characters of the device's 6-bit set (a-z go as A-Z).
    if (record.m_nKind == PK_PACKED_TEXT) {
      const UINT len = SysStringLen(value.bstrVal);
      for (UINT i = 0; i < len && *valid; ++i) {
        OLECHAR c = value.bstrVal[i];
        if (c >= u'a' && c <= u'z') c = static_cast<OLECHAR>(c - u'a' + u'A');
        *valid = c >= 0x20 && c <= 0x5F;
      }
      if (!*valid) return S_OK;
    }
  }
  CheckTypeInformation(record, value, valid);
  if (!*valid) return S_OK;
  if (record.m_vt == VT_BSTR || record.m_vt == VT_BOOL || record.m_vt == (VT_ARRAY | VT_UI1)) return S_OK;
  if (IsVariantEqual(record.m_vMin, record.m_vMax)) return S_OK;
  vkr::Variant v, lo, hi;
  if (FAILED(ChangeVariantType(&v, &value, VT_R8)) || FAILED(ChangeVariantType(&lo, &record.m_vMin, VT_R8)) ||
      FAILED(ChangeVariantType(&hi, &record.m_vMax, VT_R8)))
    return S_OK;
  *valid = lo.dblVal <= v.dblVal && v.dblVal <= hi.dblVal;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::CheckEnumeration(const ParInfo& record, const VARIANT& value, bool* valid) {
  if (record.m_nKind != PK_ENUMERATION || record.m_vEnumList.vt != (VT_ARRAY | VT_BSTR)) return E_FAIL;
  vkr::Variant typed, number;
  HRESULT hr = ChangeVariantType(&typed, &value, record.m_vt);
  if (SUCCEEDED(hr)) hr = ChangeVariantType(&number, &typed, VT_I4);
  if (FAILED(hr)) return hr;
  LONG v = number.lVal;
  if (typed.vt == VT_BOOL && v == -1) v = 1;
  *valid = FindEnumListEntryByValue(record.m_vEnumList, v, nullptr, nullptr);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::CheckBitEnumeration(const ParInfo& record, const VARIANT& value, bool* valid) {
  if (record.m_vEnumList.vt != (VT_ARRAY | VT_BSTR)) return E_INVALIDARG;
  if (!record.m_vEnumList.parray) return E_UNEXPECTED;
  vkr::Variant number;
  HRESULT hr = ChangeVariantType(&number, &value, VT_UI4);
  if (FAILED(hr)) return hr;
  ULONG count = 0;
  hr = GetEnumListCount(record.m_vEnumList, &count);
  if (FAILED(hr)) return hr;
  ULONG allowed = 0;
  for (ULONG i = 0; i < count; ++i) {
    LONG entry = 0;
    vkr::Bstr label;
    hr = GetEnumListEntry(record.m_vEnumList, i, &entry, label.Put());
    if (FAILED(hr)) return hr;
    allowed |= static_cast<ULONG>(entry);
  }
  *valid = (number.ulVal & ~allowed) == 0;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::IsUnchanged(const ParInfo& record, const VARIANT& value, bool* unchanged) {
  // Compared as it would be stored; a value that does not convert is compared as given.
  vkr::Variant typed;
  if (FAILED(ChangeVariantType(&typed, &value, record.m_vt))) {
    HRESULT hr = VariantCopy(&typed, &value);
    if (FAILED(hr)) return hr;
  }
  if (record.m_vt != VT_R4 && record.m_vt != VT_R8) {
    *unchanged = IsVariantEqual(typed, record.m_vValue);
    return S_OK;
  }
  // Floating-point values that show alike at the comparison precision are the same value.
  // The locale's format is read once per language.
  const LCID language = m_pSite ? m_pSite->GetLanguage() : LOCALE_USER_DEFAULT;
  if (!m_bCompareFormatValid || m_compareFormatLanguage != language) {
    HRESULT hr = GetLocaleNumberFormat(&m_compareFormat, language);
    if (FAILED(hr)) return hr;
    m_compareFormatLanguage = language;
    m_bCompareFormatValid = true;
  }
  SNumberFormat format = m_compareFormat;
  format.vtValue = record.m_vt;
  format.nNumDigits = kComparePrecision;
  vkr::Bstr a, b;
  HRESULT hr = FormatNumberText(typed, a.Put(), &format);
  if (FAILED(hr)) return hr;
  // A held value that is no finite number (the device gave NaN) differs from every number: a
  // number the user enters for it is a change, not a value that cannot be checked.
  if (FAILED(FormatNumberText(record.m_vValue, b.Put(), &format))) {
    *unchanged = false;
    return S_OK;
  }
  *unchanged = a.View() == b.View();
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::ValidateParameter(VARIANT id, VARIANT value, ULONG* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ValidateParameter()");
  if (!result) return E_INVALIDARG;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoById(nId, &record);
  if (FAILED(hr)) return hr;
  ULONG flags = record.m_dwFlags;
  if (flags & PFL_DISABLED) {
    *result = flags;
    return S_OK;
  }
  bool valid = true;
  if (IsPlainKind(record.m_nKind))
    hr = CheckValueRange(record, value, &valid);
  else if (record.m_nKind == PK_ENUMERATION)
    hr = CheckEnumeration(record, value, &valid);
  else if (record.m_nKind == PK_BIT_ENUMERATION)
    hr = CheckBitEnumeration(record, value, &valid);
  else
    hr = E_FAIL;
  if (FAILED(hr)) return hr;
  if (valid)
    flags &= ~static_cast<ULONG>(PFL_INVALID);
  else
    flags |= PFL_INVALID;
  bool unchanged = false;
  hr = IsUnchanged(record, value, &unchanged);
  if (FAILED(hr)) return hr;
  if (!unchanged)
    flags |= PFL_MODIFIED;
  else if (record.m_dwAddressed != 0)
    flags &= ~static_cast<ULONG>(PFL_MODIFIED);
  *result = flags;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::ValidateAndSetParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ValidateAndSetParameter()");
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  ULONG word = 0;
  HRESULT hr = ValidateParameter(id, value, &word);
  if (FAILED(hr)) return hr;
  // A disabled parameter takes no value, and a refused value is not stored: the data set keeps
  // its value and flags, and done stays false.
  if (word & (PFL_DISABLED | PFL_INVALID)) return S_OK;
  ULONG nId = 0;
  hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESSED | PIF_FLAGS, &record);
  if (FAILED(hr)) return hr;
  const ULONG previous = record.m_dwFlags;
  record.m_dwFlags = record.m_dwAddressed == 0 ? (word & ~static_cast<ULONG>(PFL_MODIFIED)) : word;
  hr = SetParInfoFields(nId, PIF_FLAGS, record);
  if (FAILED(hr)) return hr;
  hr = SetParameterValue(id, value);
  if (FAILED(hr)) {
    // The flags describe the value the data set keeps.
    record.m_dwFlags = previous;
    SetParInfoFields(nId, PIF_FLAGS, record);
    return hr;
  }
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::GetParameterDisplayText(VARIANT id, VARIANT value, BSTR* text) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::GetParameterDisplayText()");
  if (!text) return E_INVALIDARG;
  vkr::Variant kind, type;
  HRESULT hr = GetParameterField(id, UI4(PIF_KIND), kind.Put());
  if (SUCCEEDED(hr)) hr = GetParameterField(id, UI4(PIF_VARTYPE), type.Put());
  if (FAILED(hr)) return hr;
  std::u16string shown;
  bool found = false;
  if (kind.uiVal == PK_ENUMERATION || kind.uiVal == PK_BIT_ENUMERATION) {
    vkr::Variant list;
    hr = GetParameterField(id, UI4(PIF_ENUM_LIST), list.Put());
    if (FAILED(hr)) return hr;
    if (kind.uiVal == PK_ENUMERATION) {
      vkr::Variant number;
      if (SUCCEEDED(ChangeVariantType(&number, &value, VT_I4))) {
        LONG v = number.lVal;
        if (type.uiVal == VT_BOOL && v == -1) v = 1;
        vkr::Bstr label;
        if (FindEnumListEntryByValue(list, v, nullptr, label.Put())) {
          shown = label.Str();
          found = true;
        }
      }
    } else {
      vkr::Variant number;
      ULONG count = 0;
      if (SUCCEEDED(ChangeVariantType(&number, &value, VT_UI4)) && SUCCEEDED(GetEnumListCount(list, &count))) {
        for (ULONG i = 0; i < count; ++i) {
          LONG entry = 0;
          vkr::Bstr label;
          if (FAILED(GetEnumListEntry(list, i, &entry, label.Put()))) continue;
          if (!(static_cast<ULONG>(entry) & number.ulVal)) continue;
          if (!shown.empty()) shown += u" | ";
          shown += label.View();
        }
        if (shown.empty()) shown.push_back(u' ');
        found = true;
      }
    }
  }
  if (!found) {
    vkr::Bstr plain;
    try {
      VariantToText(&value, plain.Put());
    } catch (const vkr::HResultError& e) {
      return e.Result();
    }
    shown = plain.Length() > kMaxDisplayText ? std::u16string() : plain.Str();
  }
  vkr::Bstr raw(shown);
  if (!raw.Get()) return E_OUTOFMEMORY;
  return XmlEscapeText(raw.Get(), text);
}

// ---- Writes from the user interfaces ---------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::WriteDeviceParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::WriteDeviceParameter()");
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (nId == kNoParameter || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESSED | PIF_FLAGS, &record);
  if (FAILED(hr)) return hr;
  const bool toDevice = record.m_dwAddressed == 1 && (record.m_dwFlags & PFL_WRITABLE);
  if (toDevice && m_pSite && m_pSite->GetDtmState() == dsONLINE) {
    IovFdtParameterCommunication* client = m_pSite->GetCommunicationClient();
    if (!client) return E_FAIL;
    hr = client->WriteParameter(UI4(nId), value, done);
    if (FAILED(hr)) return hr;
    // Not done without an error: the client's answer stands.
    if (hr != S_OK) return hr;
    *done = VARIANT_TRUE;
    return S_OK;
  }
  VARIANT_BOOL stored = VARIANT_FALSE;
  hr = ValidateAndSetParameter(UI4(nId), value, &stored);
  if (FAILED(hr)) return hr;
  if (!stored) return E_FAIL;
  // A device parameter changed offline still has to be written to the device.
  hr = GetParInfoFields(nId, PIF_FLAGS, &record);
  if (FAILED(hr)) return hr;
  const ULONG flags =
      toDevice ? (record.m_dwFlags | PFL_MODIFIED) : (record.m_dwFlags & ~static_cast<ULONG>(PFL_MODIFIED));
  hr = SetParameterStatus(nId, flags);
  if (FAILED(hr)) return hr;
  *done = VARIANT_TRUE;
  return S_OK;
}

// ---- Device access -------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ReadDevice(VARIANT id, VARIANT_BOOL* result, bool blocking) {
  if (blocking && !result) return E_INVALIDARG;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (!result || nId == kNoParameter) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!m_pSite || m_pSite->GetDtmState() != dsONLINE) return S_OK;
  IovFdtParameterCommunication* client = m_pSite->GetCommunicationClient();
  if (!client) return E_FAIL;
  hr = NotifyParameterChanged(nId, PCK_BEFORE_READ);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESSED | PIF_FLAGS, &record);
  if (FAILED(hr)) return hr;
  if (record.m_dwAddressed == 1 && (record.m_dwFlags & PFL_READABLE)) {
    hr = blocking ? client->ReadParameterSync(UI4(nId), result) : client->ReadParameter(UI4(nId), result);
    if (FAILED(hr)) {
      // A read whose answer was to come later and never will (the channel did not take it) is
      // reported as its failure, as an answer that failed would be: the user interface waiting
      // for it learns so.
      if (!blocking)
        HandleDevParResponse(VARIANT_FALSE, UI4(nId), vkr::Variant(), vkr::Bstr(u"Error: the request was not taken"));
      return hr;
    }
  }
  return NotifyParameterChanged(nId, PCK_AFTER_READ);
}

HRESULT CovFDT_ParameterHandlerImpl::ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ReadDeviceParameter()");
  return ReadDevice(id, result, false);
}

HRESULT CovFDT_ParameterHandlerImpl::ReadDeviceParameterEx(VARIANT id, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ReadDeviceParameterEx()");
  return ReadDevice(id, result, true);
}

HRESULT CovFDT_ParameterHandlerImpl::WriteDeviceParameterEx(VARIANT id, VARIANT value, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::WriteDeviceParameterEx()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (nId == kNoParameter) return E_INVALIDARG;
  if (!m_pSite || m_pSite->GetDtmState() != dsONLINE) return S_OK;
  IovFdtParameterCommunication* client = m_pSite->GetCommunicationClient();
  if (!client) return E_FAIL;
  hr = NotifyParameterChanged(nId, PCK_BEFORE_WRITE);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_ADDRESSED | PIF_FLAGS, &record);
  if (FAILED(hr)) return hr;
  if (record.m_dwAddressed == 1 && (record.m_dwFlags & PFL_WRITABLE)) {
    hr = client->WriteParameterSync(UI4(nId), value, result);
    if (FAILED(hr)) return hr;
  } else {
    // A parameter of the data set only: validated and stored there.
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = ValidateAndSetParameter(UI4(nId), value, &ok);
    if (FAILED(hr)) return hr;
    if (!ok) return E_FAIL;
    hr = GetParInfoFields(nId, PIF_FLAGS, &record);
    if (SUCCEEDED(hr)) hr = SetParameterStatus(nId, record.m_dwFlags & ~static_cast<ULONG>(PFL_MODIFIED));
    if (FAILED(hr)) return hr;
    *result = VARIANT_TRUE;
  }
  return NotifyParameterChanged(nId, PCK_AFTER_WRITE);
}

HRESULT CovFDT_ParameterHandlerImpl::HandleDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data,
                                                          BSTR errorText) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::HandleDevParResponse()");
  ULONG nId = 0;
  HRESULT hr = IdOf(id, &nId);
  if (FAILED(hr)) return hr;
  if (m_responseBatchDepth > 0) {
    m_batchedResponses.push_back(nId);  // told with the others of the response when it ends
  } else if (IovFdtParameterDtmEvents* events = m_pSite ? m_pSite->GetDtmEvents() : nullptr) {
    hr = events->DtmMessage(I4(kMsgResponse), UI4(nId));
    if (FAILED(hr)) return hr;
  }
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_FLAGS | PIF_VARTYPE, &record);
  if (FAILED(hr)) return hr;
  m_bLastResponseOk = success != VARIANT_FALSE;
  m_dwLastResponseWord = 0;
  if (m_bLastResponseOk) {
    // Data that does not fit the parameter changes nothing, the flags included.
    vkr::Variant converted;
    hr = ChangeVariantType(&converted, &data, record.m_vt);
    if (FAILED(hr)) return hr;
    m_bstrLastResponseError.Reset();
    hr = VariantCopy(&m_vLastResponse, &data);
    if (FAILED(hr)) return hr;
    const ULONG flags = record.m_dwFlags & ~static_cast<ULONG>(PFL_MODIFIED | PFL_ADDRESSED);
    hr = SetParameterField(UI4(nId), UI4(PIF_FLAGS), UI4(flags));
    if (FAILED(hr)) return hr;
    hr = StoreDeviceValue(nId, data);
    return FAILED(hr) ? hr : S_OK;
  }
  BSTR copy = nullptr;
  hr = vkr::Bstr(errorText).CopyTo(&copy);
  if (FAILED(hr)) return hr;
  m_bstrLastResponseError.Attach(copy);
  if (IovFdtParameterBroadcast* container = m_pSite ? m_pSite->GetActiveXContainer() : nullptr) {
    hr = container->ReportParameterError(UI4(nId), data, errorText);
    if (FAILED(hr)) return hr;
  }
  if (SysStringLen(errorText) > 0 && m_pSite) m_pSite->OnError(Narrow(m_bstrLastResponseError).c_str());
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::EndResponseBatch() {
  if (m_responseBatchDepth <= 0 || --m_responseBatchDepth > 0) return S_OK;
  std::vector<ULONG> ids;
  ids.swap(m_batchedResponses);
  IovFdtParameterDtmEvents* events = m_pSite ? m_pSite->GetDtmEvents() : nullptr;
  if (ids.empty() || !events) return S_OK;
  // One id goes as it always went; several as an array of them, in their order.
  if (ids.size() == 1) return events->DtmMessage(I4(kMsgResponse), UI4(ids.front()));
  vkr::Variant list;
  list.vt = VT_ARRAY | VT_UI4;
  list.parray = SafeArrayCreateVector(VT_UI4, 0, static_cast<ULONG>(ids.size()));
  if (!list.parray) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(list.parray, &data))) return E_FAIL;
  std::copy(ids.begin(), ids.end(), static_cast<ULONG*>(data));
  SafeArrayUnaccessData(list.parray);
  return events->DtmMessage(I4(kMsgResponse), list);
}

HRESULT CovFDT_ParameterHandlerImpl::StoreDeviceValue(ULONG id, VARIANT data) {
  if (id == kNoParameter) return E_INVALIDARG;
  ParInfo record;
  HRESULT hr = GetParInfoFields(id, PIF_VARTYPE, &record);
  if (SUCCEEDED(hr)) hr = ChangeVariantType(&record.m_vDevValue, &data, record.m_vt);
  if (SUCCEEDED(hr)) hr = SetParInfoFields(id, PIF_DEV_VALUE, record);
  if (SUCCEEDED(hr)) hr = NotifyMirroredParameters(UI4(PB_DEVICE_VALUE), UI4(id), record.m_vDevValue);
  if (FAILED(hr)) return hr;
  hr = EvaluateRelationsFor(id, 3, 2);
  return FAILED(hr) ? hr : S_OK;
}

// Packed records: the packer's passes and field exchanges, and the update-record lists.
#include "parameters/CovVAPacker.h"

namespace {
// A one-dimensional array; anything else is not a packed record.
bool IsVector(SAFEARRAY* psa) { return psa && SafeArrayGetDim(psa) == 1; }
}  // namespace

bool CovVAPacker::Pack(VARIANT* out) {
  if (!out) return false;
  m_nMode = kCount;
  m_nIndex = 0;
  m_psa = nullptr;
  if (!Serialize()) return false;
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(m_nIndex)));
  if (!psa.Get()) return false;
  m_nMode = kPack;
  m_nIndex = 0;
  m_psa = psa.Get();
  const bool ok = Serialize();
  m_psa = nullptr;
  if (!ok) return false;
  VariantClear(out);
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = psa.Detach();
  return true;
}

bool CovVAPacker::Unpack(const VARIANT& packed) {
  if (packed.vt != (VT_ARRAY | VT_VARIANT) || !IsVector(packed.parray)) return false;
  m_psa = packed.parray;
  m_nMode = kUnpack;
  m_nIndex = 0;
  const bool ok = Serialize();
  m_psa = nullptr;
  return ok;
}

bool CovVAPacker::Put(VARIANT& value) {
  if (m_nMode == kPack) {
    LONG index = m_nIndex;
    if (FAILED(SafeArrayPutElement(m_psa, &index, &value))) return false;
  }
  ++m_nIndex;
  return true;
}

bool CovVAPacker::Get(VARTYPE vt, bool anyType, vkr::Variant* element) {
  LONG index = m_nIndex;
  if (FAILED(SafeArrayGetElement(m_psa, &index, element->Put()))) return false;
  if (!anyType && element->vt != vt) return false;
  ++m_nIndex;
  return true;
}

bool CovVAPacker::ExchangeULong(ULONG& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_UI4, false, &e)) return false;
    field = e.ulVal;
    return true;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = field;
  return Put(v);
}

bool CovVAPacker::ExchangeLong(LONG& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_I4, false, &e)) return false;
    field = e.lVal;
    return true;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = field;
  return Put(v);
}

bool CovVAPacker::ExchangeBool(bool& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_BOOL, false, &e)) return false;
    field = e.boolVal != 0;
    return true;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = field ? VARIANT_TRUE : VARIANT_FALSE;
  return Put(v);
}

bool CovVAPacker::ExchangeByte(BYTE& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_UI1, false, &e)) return false;
    field = e.bVal;
    return true;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI1;
  v.bVal = field;
  return Put(v);
}

bool CovVAPacker::ExchangeBstr(vkr::Bstr& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_BSTR, false, &e)) return false;
    field.Attach(e.bstrVal);  // the element is a copy already; the record takes it over
    e.vt = VT_EMPTY;
    return true;
  }
  // The array keeps its own copy of the text.
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = field.Get();
  return Put(v);
}

bool CovVAPacker::ExchangeVariant(vkr::Variant& field) {
  if (m_nMode == kUnpack) {
    vkr::Variant e;
    if (!Get(VT_EMPTY, true, &e)) return false;
    field = std::move(e);
    return true;
  }
  return Put(field);
}

bool CovVAPacker::ExchangeRecord(CovVAPacker& record) {
  if (m_nMode == kCount) {
    ++m_nIndex;
    return true;
  }
  if (m_nMode == kPack) {
    vkr::Variant nested;
    // A nested record that cannot be packed fails the outer one.
    if (!record.Pack(&nested)) return false;
    return Put(nested);
  }
  vkr::Variant e;
  // A nested element of another type or one that does not unpack is a malformed record.
  if (!Get(VT_ARRAY | VT_VARIANT, false, &e)) return false;
  return record.Unpack(e);
}

HRESULT PackParamUpdateInfos(const std::vector<SParamUpdateInfo>& infos, VARIANT* out) {
  if (!out) return E_POINTER;
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(infos.size())));
  if (!psa.Get()) return E_OUTOFMEMORY;
  for (size_t i = 0; i < infos.size(); ++i) {
    SParamUpdateInfo record(infos[i]);
    vkr::Variant packed;
    if (!record.Pack(&packed)) return E_FAIL;
    LONG index = static_cast<LONG>(i);
    if (FAILED(SafeArrayPutElement(psa.Get(), &index, &packed))) return E_FAIL;
  }
  VariantClear(out);
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = psa.Detach();
  return S_OK;
}

HRESULT UnpackParamUpdateInfos(std::vector<SParamUpdateInfo>& infos, const VARIANT& packed) {
  infos.clear();
  if (packed.vt == VT_EMPTY) return S_OK;
  if (packed.vt != (VT_ARRAY | VT_VARIANT) || !IsVector(packed.parray)) return E_INVALIDARG;
  LONG lb = 0, ub = -1;
  HRESULT hr = SafeArrayGetLBound(packed.parray, 1, &lb);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(packed.parray, 1, &ub);
  if (FAILED(hr)) return hr;
  const LONGLONG count = static_cast<LONGLONG>(ub) - lb + 1;
  for (LONGLONG i = 0; i < count; ++i) {
    LONG index = static_cast<LONG>(lb + i);
    vkr::Variant element;
    hr = SafeArrayGetElement(packed.parray, &index, element.Ptr());
    if (FAILED(hr)) return hr;
    SParamUpdateInfo record;
    if (element.vt != (VT_ARRAY | VT_VARIANT) || !record.Unpack(element)) return E_FAIL;
    infos.push_back(record);
  }
  return S_OK;
}

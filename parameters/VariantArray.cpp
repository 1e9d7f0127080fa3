// Helpers for VARIANT arrays and enumeration lists built from text tables.
#include "parameters/VariantArray.h"

#include <string>

namespace {
bool IsVariantVector(const VARIANT& v) {
  return v.vt == (VT_ARRAY | VT_VARIANT) && v.parray && SafeArrayGetDim(v.parray) == 1;
}
}  // namespace

HRESULT GetVariantArrayElement(VARIANT* out, LONG index, const VARIANT& list) {
  if (!out) return E_INVALIDARG;
  VariantInit(out);
  if (!IsVariantVector(list)) return E_INVALIDARG;
  return SafeArrayGetElement(list.parray, &index, out);
}

HRESULT AppendToVariantArray(const VARIANT& value, VARIANT* list) {
  if (!list) return E_INVALIDARG;
  if (list->vt == VT_EMPTY) {
    vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, 1));
    if (!psa.Get()) return E_OUTOFMEMORY;
    LONG index = 0;
    HRESULT hr = SafeArrayPutElement(psa.Get(), &index, const_cast<VARIANT*>(&value));
    if (FAILED(hr)) return hr;
    list->vt = VT_ARRAY | VT_VARIANT;
    list->parray = psa.Detach();
    return S_OK;
  }
  if (!IsVariantVector(*list)) return E_INVALIDARG;
  LONG lb = 0, ub = -1;
  HRESULT hr = SafeArrayGetLBound(list->parray, 1, &lb);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(list->parray, 1, &ub);
  if (FAILED(hr)) return hr;
  const ULONG count = static_cast<ULONG>(static_cast<LONGLONG>(ub) - lb + 1);
  SAFEARRAYBOUND bound{count + 1, lb};
  hr = SafeArrayRedim(list->parray, &bound);
  if (FAILED(hr)) return hr;
  LONG index = lb + static_cast<LONG>(count);
  hr = SafeArrayPutElement(list->parray, &index, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) {
    // Keep the caller's list as it was rather than lose it.
    SAFEARRAYBOUND old{count, lb};
    SafeArrayRedim(list->parray, &old);
  }
  return hr;
}

HRESULT MakeVariantArray(const VARIANT& value, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  vkr::Variant array;
  HRESULT hr = AppendToVariantArray(value, &array);
  if (FAILED(hr)) return hr == E_INVALIDARG ? E_OUTOFMEMORY : hr;
  VariantClear(out);
  array.Detach(out);
  return S_OK;
}

HRESULT MakeVariantPair(const VARIANT& first, const VARIANT& second, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  vkr::Variant pair;
  HRESULT hr = AppendToVariantArray(first, &pair);
  if (SUCCEEDED(hr)) hr = AppendToVariantArray(second, &pair);
  if (FAILED(hr)) return hr;
  VariantClear(out);
  pair.Detach(out);
  return S_OK;
}

HRESULT GetVariantArrayBounds(ULONG* count, LONG* lowerBound, const VARIANT& value) {
  if (!count || !lowerBound) return E_INVALIDARG;
  *count = 0;
  *lowerBound = 0;
  if (!(value.vt & VT_ARRAY)) return S_OK;
  SAFEARRAY* psa = (value.vt & VT_BYREF) ? (value.pparray ? *value.pparray : nullptr) : value.parray;
  if (!psa) return E_INVALIDARG;
  LONG lb = 0, ub = -1;
  HRESULT hr = SafeArrayGetLBound(psa, 1, &lb);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(psa, 1, &ub);
  if (FAILED(hr)) return hr;
  *count = static_cast<ULONG>(static_cast<LONGLONG>(ub) - lb + 1);
  *lowerBound = lb;
  return S_OK;
}

VARIANT MakeEnumList(const char* const* entries) {
  VARIANT list;
  VariantInit(&list);
  if (!entries || !entries[0] || !entries[0][0]) return list;
  ULONG count = 0;
  while (entries[count] && entries[count][0]) ++count;
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_BSTR, 0, count));
  if (!psa.Get()) return list;
  for (ULONG i = 0; i < count; ++i) {
    const std::u16string text = vkr::Utf8ToUtf16(entries[i]);
    vkr::Bstr entry(text);
    LONG index = static_cast<LONG>(i);
    if (!entry.Get() || FAILED(SafeArrayPutElement(psa.Get(), &index, entry.Get()))) return list;
  }
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = psa.Detach();
  return list;
}

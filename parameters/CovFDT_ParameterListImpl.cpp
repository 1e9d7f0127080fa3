// CovFDT_ParameterListImpl: creating, searching and deleting named parameter lists, their members
// and their properties.
#include "parameters/CovFDT_ParameterListImpl.h"

#include <new>

#include "parameters/CFdtVariant.h"
#include "xml/Log.h"

namespace {

constexpr VARTYPE kVariantArray = VT_ARRAY | VT_VARIANT;

// Keys and property names: both VT_NULL, or one type and VarCmp equal. emptyMatches lets two
// VT_EMPTY keys match, which the search for root lists needs.
bool KeysEqual(const VARIANT& a, const VARIANT& b, bool emptyMatches = false) {
  if (a.vt == VT_NULL && b.vt == VT_NULL) return true;
  if (a.vt != b.vt) return false;
  if (a.vt == VT_EMPTY) return emptyMatches;
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

// The lower bound and element count of a one-dimensional VARIANT array; E_INVALIDARG for any other
// VARIANT.
HRESULT VariantArrayShape(const VARIANT& array, LONG* lowerBound, ULONG* count) {
  if (array.vt != kVariantArray || !array.parray || SafeArrayGetDim(array.parray) != 1) return E_INVALIDARG;
  LONG lb = 0, ub = -1;
  HRESULT hr = SafeArrayGetLBound(array.parray, 1, &lb);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array.parray, 1, &ub);
  if (FAILED(hr)) return hr;
  *lowerBound = lb;
  *count = static_cast<ULONG>(static_cast<LONGLONG>(ub) - lb + 1);
  return S_OK;
}

// A new VARIANT array (lower bound 0) holding copies of values, handed out through out.
HRESULT MakeArrayOf(const std::vector<const VARIANT*>& values, VARIANT* out) {
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size())));
  if (!psa.Get()) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
    HRESULT hr = SafeArrayPutElement(psa.Get(), &i, const_cast<VARIANT*>(values[static_cast<size_t>(i)]));
    if (FAILED(hr)) return hr;
  }
  VariantClear(out);
  out->vt = kVariantArray;
  out->parray = psa.Detach();
  return S_OK;
}

}  // namespace

CParamListEntry::~CParamListEntry() = default;

CovFDT_ParameterListImpl::~CovFDT_ParameterListImpl() = default;

HRESULT CovFDT_ParameterListImpl::QueryListInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IovFDTParamList::iid) return E_NOINTERFACE;
  IovFDTParamList* lists = this;
  lists->AddRef();
  *ppv = lists;
  return S_OK;
}

// ---- IDispatch ------------------------------------------------------------------------------

HRESULT CovFDT_ParameterListImpl::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_INVALIDARG;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterListImpl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CovFDT_ParameterListImpl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

// ---- Internal operations ------------------------------------------------------------------------

CParamListEntry* CovFDT_ParameterListImpl::FindListEntry(const VARIANT& key) const {
  for (const auto& entry : m_lists)
    if (entry && KeysEqual(entry->m_vKey, key)) return entry.get();
  return nullptr;
}

HRESULT CovFDT_ParameterListImpl::SetListProperty(CParamListEntry* entry, const VARIANT& name, const VARIANT& value) {
  if (!entry) return E_INVALIDARG;
  if (name.vt == VT_EMPTY) return E_UNEXPECTED;
  for (const auto& property : entry->m_properties) {
    if (!property || !KeysEqual(property->name, name)) continue;
    vkr::Variant copy;
    HRESULT hr = VariantCopy(&copy, &value);
    if (FAILED(hr)) return hr;
    property->value = std::move(copy);
    return S_FALSE;
  }
  auto property = std::unique_ptr<CParamListProperty>(new (std::nothrow) CParamListProperty);
  if (!property) return E_OUTOFMEMORY;
  HRESULT hr = VariantCopy(&property->name, &name);
  if (SUCCEEDED(hr)) hr = VariantCopy(&property->value, &value);
  if (FAILED(hr)) return hr;
  try {
    entry->m_properties.push_back(std::move(property));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::SetListProperties(CParamListEntry* entry, const VARIANT& names,
                                                    const VARIANT& values) {
  if (!entry) return E_INVALIDARG;
  if (names.vt != kVariantArray) return S_OK;
  LONG namesLb = 0, valuesLb = 0;
  ULONG namesCount = 0, valuesCount = 0;
  if (FAILED(VariantArrayShape(names, &namesLb, &namesCount)) ||
      FAILED(VariantArrayShape(values, &valuesLb, &valuesCount)) || namesCount != valuesCount)
    return E_INVALIDARG;
  for (ULONG i = 0; i < namesCount; ++i) {
    vkr::Variant name, value;
    LONG ni = namesLb + static_cast<LONG>(i), vi = valuesLb + static_cast<LONG>(i);
    HRESULT hr = SafeArrayGetElement(names.parray, &ni, name.Put());
    if (SUCCEEDED(hr)) hr = SafeArrayGetElement(values.parray, &vi, value.Put());
    if (FAILED(hr)) return hr;
    hr = SetListProperty(entry, name, value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// ---- IovFDTParamList ------------------------------------------------------------------------------

HRESULT CovFDT_ParameterListImpl::CreateList(VARIANT key, VARIANT parentKey, VARIANT propertyNames,
                                             VARIANT propertyValues, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::CreateList()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (key.vt == VT_EMPTY) return E_INVALIDARG;
  if (FindListEntry(key)) return S_FALSE;
  if (parentKey.vt != VT_EMPTY && !FindListEntry(parentKey)) return S_FALSE;
  auto entry = std::unique_ptr<CParamListEntry>(new (std::nothrow) CParamListEntry);
  if (!entry) return E_OUTOFMEMORY;
  HRESULT hr = SetListProperties(entry.get(), propertyNames, propertyValues);
  if (FAILED(hr)) return hr;
  hr = VariantCopy(&entry->m_vKey, &key);
  if (SUCCEEDED(hr)) hr = VariantCopy(&entry->m_vParentKey, &parentKey);
  if (FAILED(hr)) return hr;
  try {
    m_lists.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::DeleteList(VARIANT key, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::DeleteList()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!FindListEntry(key)) return S_FALSE;
  vkr::Variant children;
  VARIANT_BOOL listed = VARIANT_FALSE;
  HRESULT hr = GetChildLists(key, &children, &listed);
  if (FAILED(hr)) return hr;
  if (children.vt == kVariantArray) {
    LONG lb = 0;
    ULONG count = 0;
    hr = VariantArrayShape(children, &lb, &count);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < count; ++i) {
      vkr::Variant child;
      LONG index = lb + static_cast<LONG>(i);
      hr = SafeArrayGetElement(children.parray, &index, child.Put());
      if (FAILED(hr)) return hr;
      VARIANT_BOOL deleted = VARIANT_FALSE;
      hr = DeleteList(child, &deleted);
      if (FAILED(hr)) return hr;
      if (!deleted) return S_FALSE;
    }
  }
  // Deleting the children did not move this entry, but look it up again rather than rely on that.
  for (auto it = m_lists.begin(); it != m_lists.end(); ++it) {
    if (*it && KeysEqual((*it)->m_vKey, key)) {
      m_lists.erase(it);
      break;
    }
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::ListExists(VARIANT key, VARIANT_BOOL* exists, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::ListExists()");
  if (!exists || !result) return E_INVALIDARG;
  *exists = FindListEntry(key) ? VARIANT_TRUE : VARIANT_FALSE;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::GetChildLists(VARIANT key, VARIANT* keys, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::GetChildLists()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!keys) return E_INVALIDARG;
  VariantClear(keys);
  std::vector<const VARIANT*> found;
  try {
    for (const auto& entry : m_lists)
      if (entry && KeysEqual(entry->m_vParentKey, key, true)) found.push_back(&entry->m_vKey);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!found.empty()) {
    HRESULT hr = MakeArrayOf(found, keys);
    if (FAILED(hr)) return hr;
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::AddMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::AddMembers()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  CParamListEntry* entry = FindListEntry(key);
  if (!entry) return S_FALSE;
  LONG lb = 0;
  ULONG count = 0;
  HRESULT hr = VariantArrayShape(members, &lb, &count);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < count; ++i) {
    vkr::Variant member;
    LONG index = lb + static_cast<LONG>(i);
    hr = SafeArrayGetElement(members.parray, &index, member.Put());
    if (FAILED(hr)) return hr;
    try {
      entry->m_members.push_back(std::move(member));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::RemoveMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::RemoveMembers()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  CParamListEntry* entry = FindListEntry(key);
  if (!entry) return S_FALSE;
  LONG lb = 0;
  ULONG count = 0;
  HRESULT hr = VariantArrayShape(members, &lb, &count);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < count; ++i) {
    vkr::Variant member;
    LONG index = lb + static_cast<LONG>(i);
    hr = SafeArrayGetElement(members.parray, &index, member.Put());
    if (FAILED(hr)) return hr;
    if (std::erase_if(entry->m_members, [&](const vkr::Variant& m) { return IsVariantEqual(m, member); }) > 0)
      *result = VARIANT_TRUE;
  }
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::GetMembers(VARIANT key, VARIANT* members, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::GetMembers()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!members) return E_INVALIDARG;
  VariantClear(members);
  const CParamListEntry* entry = FindListEntry(key);
  if (!entry) return S_FALSE;
  if (!entry->m_members.empty()) {
    std::vector<const VARIANT*> copies;
    try {
      for (const vkr::Variant& member : entry->m_members) copies.push_back(&member);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = MakeArrayOf(copies, members);
    if (FAILED(hr)) return hr;
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::SetProperties(VARIANT key, VARIANT names, VARIANT values, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::SetProperties()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  CParamListEntry* entry = FindListEntry(key);
  if (!entry) return S_FALSE;
  HRESULT hr = SetListProperties(entry, names, values);
  if (FAILED(hr)) return hr;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterListImpl::GetProperties(VARIANT key, VARIANT names, VARIANT* values, VARIANT_BOOL* result) {
  WriteLog(u"CovFDT_ParameterListImpl::GetProperties()");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!values) return E_INVALIDARG;
  const CParamListEntry* entry = FindListEntry(key);
  if (!entry) return S_FALSE;
  LONG lb = 0;
  ULONG count = 0;
  HRESULT hr = VariantArrayShape(names, &lb, &count);
  if (FAILED(hr)) return hr;
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, count));
  if (!psa.Get()) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < count; ++i) {
    vkr::Variant name;
    LONG from = lb + static_cast<LONG>(i), to = static_cast<LONG>(i);
    hr = SafeArrayGetElement(names.parray, &from, name.Put());
    if (FAILED(hr)) return hr;
    for (const auto& property : entry->m_properties) {
      if (!property || !KeysEqual(property->name, name)) continue;
      hr = SafeArrayPutElement(psa.Get(), &to, &property->value);
      if (FAILED(hr)) return hr;
      break;
    }
  }
  VariantClear(values);
  values->vt = kVariantArray;
  values->parray = psa.Detach();
  *result = VARIANT_TRUE;
  return S_OK;
}

// CParamCollection: storage, index walks and the by-id operations with reference resolution.
#include "parameters/CParamCollection.h"

#include <iterator>
#include <new>

#include "parameters/CFdtVariant.h"

namespace {
// The fields a copied reference record takes from the record it refers to.
constexpr ULONG kCopyFromReferenced = PIF_VALUE | PIF_KIND | PIF_VARTYPE | PIF_MAX | PIF_MIN | PIF_DEFAULT |
                                      PIF_DEV_VALUE | PIF_FLAGS | PIF_ENUM_LIST | PIF_RELATION | PIF_FURTHER |
                                      PIF_NAME;
}  // namespace

HRESULT CParamCollection::Add(const ParInfo& record) {
  InvalidateCursor();
  if (m_records.count(record.m_nId)) return S_OK;
  ParInfo copy;
  HRESULT hr = copy.CopyAll(record);
  if (FAILED(hr)) return hr;
  if (copy.m_dwAddressed == 1) copy.m_dwFlags |= PFL_ADDRESSED;
  try {
    m_records.emplace(copy.m_nId, std::move(copy));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CParamCollection::Add(ParInfo&& record) {
  InvalidateCursor();
  if (m_records.count(record.m_nId)) return S_OK;
  if (record.m_dwAddressed == 1) record.m_dwFlags |= PFL_ADDRESSED;
  try {
    const ULONG id = record.m_nId;
    m_records.emplace(id, std::move(record));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CParamCollection::IdAt(LONG index, ULONG* id) {
  if (!id || index < 0 || static_cast<ULONG>(index) >= Count()) return E_INVALIDARG;
  MoveCursor(index);
  *id = m_cursor->first;
  return S_OK;
}

void CParamCollection::MoveCursor(LONG index) {
  if (m_nCursorIndex != index) {
    if (m_nCursorIndex != kNoCursor && index == m_nCursorIndex + 1) {
      ++m_cursor;
    } else {
      m_cursor = std::next(m_records.begin(), index);
    }
    m_nCursorIndex = index;
  }
}

HRESULT CParamCollection::GetAt(LONG index, ParInfo* out) {
  if (!out || index < 0 || static_cast<ULONG>(index) >= Count()) return E_INVALIDARG;
  MoveCursor(index);
  // Every path resolves references, so asking twice gives the same record.
  return CopyParInfo(m_cursor->second, out);
}

const ParInfo* CParamCollection::Referenced(const ParInfo& reference, HRESULT* hr) const {
  ULONG target = 0;
  *hr = VariantToULong(&reference.m_vValue, &target);
  if (FAILED(*hr)) {
    *hr = E_INVALIDARG;
    return nullptr;
  }
  const ParInfo* found = FindById(target);
  if (!found || found->IsReference()) {
    *hr = E_INVALIDARG;
    return nullptr;
  }
  *hr = S_OK;
  return found;
}

HRESULT CParamCollection::CopyParInfo(const ParInfo& stored, ParInfo* out) const {
  if (!out) return E_INVALIDARG;
  ParInfo copy;
  HRESULT hr = copy.CopyAll(stored);
  if (FAILED(hr)) return hr;
  if (stored.IsReference()) {
    const ParInfo* target = Referenced(stored, &hr);
    if (!target) return hr;
    hr = copy.CopyFields(*target, kCopyFromReferenced);
    if (FAILED(hr)) return hr;
  }
  out->Swap(copy);
  return S_OK;
}

const ParInfo* CParamCollection::FindById(ULONG id) const {
  auto it = m_records.find(id);
  return it == m_records.end() ? nullptr : &it->second;
}

ParInfo* CParamCollection::FindById(ULONG id) {
  auto it = m_records.find(id);
  return it == m_records.end() ? nullptr : &it->second;
}

HRESULT CParamCollection::FindOrInsert(ULONG id, ParInfo** record) {
  if (!record) return E_INVALIDARG;
  *record = FindById(id);
  if (*record) return S_OK;
  InvalidateCursor();
  try {
    ParInfo fresh;
    fresh.m_nId = id;
    *record = &m_records.emplace(id, std::move(fresh)).first->second;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CParamCollection::GetValue(ULONG id, VARIANT* out) const {
  if (!out) return E_INVALIDARG;
  const ParInfo* record = FindById(id);
  if (!record) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (record->IsReference() && !(record = Referenced(*record, &hr))) return hr;
  VariantClear(out);
  return VariantCopy(out, &record->m_vValue);
}

HRESULT CParamCollection::SetValue(ULONG id, const VARIANT& value) {
  ParInfo* record = FindById(id);
  if (!record) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (record->IsReference() && !(record = Referenced(*record, &hr))) return hr;
  hr = VariantClear(&record->m_vValue);
  if (FAILED(hr)) return hr;
  return VariantCopy(&record->m_vValue, &value);
}

HRESULT CParamCollection::GetParInfoFields(ULONG id, ULONG mask, ParInfo* out) const {
  if (!out) return E_INVALIDARG;
  const ParInfo* record = FindById(id);
  if (!record) return E_INVALIDARG;
  if (record->IsReference()) {
    HRESULT hr = S_OK;
    const ParInfo* target = Referenced(*record, &hr);
    if (!target) return hr;
    hr = out->CopyFields(*target, mask & PIF_REFERENCE_SUBSET);
    if (FAILED(hr)) return hr;
    out->m_nId = id;
    return out->CopyFields(*record, mask & ~static_cast<ULONG>(PIF_REFERENCE_SUBSET));
  }
  return out->CopyFields(*record, mask);
}

HRESULT CParamCollection::SetParInfoFields(ULONG id, ULONG mask, const ParInfo& given) {
  ParInfo* record = FindById(id);
  if (!record) return E_INVALIDARG;
  if (record->IsReference()) {
    HRESULT hr = S_OK;
    ParInfo* target = Referenced(*record, &hr);
    if (!target) return hr;
    hr = target->CopyFields(given, mask & PIF_REFERENCE_SUBSET);
    if (FAILED(hr)) return hr;
    mask &= ~static_cast<ULONG>(PIF_REFERENCE_SUBSET);
  }
  return record->CopyFields(given, mask);
}

HRESULT CParamCollection::InvokeCallback(ULONG id, ParameterCallbackKind kind, ULONG_PTR context) const {
  const ParInfo* record = FindById(id);
  if (!record || kind < PCK_BEFORE_READ || kind > PCK_AFTER_CHANGE) return E_INVALIDARG;
  ParameterCallback fn = record->Callback(kind);
  if (!fn) return S_FALSE;
  return fn(context, id);
}

HRESULT CParamCollection::Remove(ULONG id) {
  auto it = m_records.find(id);
  if (it == m_records.end()) return E_INVALIDARG;
  InvalidateCursor();
  m_records.erase(it);
  return S_OK;
}

void CParamCollection::RemoveAll() {
  InvalidateCursor();
  m_records.clear();
}

LONG CParamCollection::IndexOf(ULONG id) const {
  auto it = m_records.find(id);
  if (it == m_records.end()) return -1;
  return static_cast<LONG>(std::distance(m_records.begin(), it));
}

void CParamCollection::Swap(CParamCollection& other) noexcept {
  InvalidateCursor();
  other.InvalidateCursor();
  m_records.swap(other.m_records);
}

HRESULT CParamCollection::CopyFrom(const CParamCollection& other) {
  Map copy;
  try {
    for (const auto& [id, stored] : other.m_records) {
      ParInfo record;
      const HRESULT hr = record.CopyAll(stored);
      if (FAILED(hr)) return hr;
      copy.emplace_hint(copy.end(), id, std::move(record));  // in ascending order: at the end
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  InvalidateCursor();
  m_records.swap(copy);
  return S_OK;
}

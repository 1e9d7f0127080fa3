// CParamCollection: the parameter records of a DTM, ordered by parameter id, with a cached
// position for walking them by index.
//
// The collection owns its records; callers always receive copies. A reference record (kind 16)
// stands for the parameter whose id its value holds: reads and writes of the shared fields reach
// that parameter. A reference must name a plain record: one that names another reference (itself
// included) or a missing id is refused with E_INVALIDARG, so lookups never chase a cycle.
#pragma once

#include <map>

#include "parameters/ParInfo.h"

class CParamCollection {
 public:
  CParamCollection() = default;
  CParamCollection(const CParamCollection&) = delete;
  CParamCollection& operator=(const CParamCollection&) = delete;
  virtual ~CParamCollection() = default;

  ULONG Count() const { return static_cast<ULONG>(m_records.size()); }

  // Stores a copy under the record's id; an id already present keeps its first record (S_OK). An
  // addressed record (addressed word 1) gets flag 0x400. E_OUTOFMEMORY.
  HRESULT Add(const ParInfo& record);
  // The same, taking the record over instead of copying it (it is left empty when stored).
  HRESULT Add(ParInfo&& record);
  // The record at a zero-based position in ascending id order, copied as CopyParInfo gives it.
  // E_INVALIDARG for a null out or an index outside 0..Count()-1. Walking 0, 1, 2, ... costs one
  // step per record.
  HRESULT GetAt(LONG index, ParInfo* out);
  // The id at a position, as GetAt would give it, without copying the record.
  HRESULT IdAt(LONG index, ULONG* id);
  // A copy of a stored record for a caller; a reference record comes back with the value, kind,
  // VARTYPE, limits, default, device value, flags, enumeration list, relation text, further number
  // and name of the record it refers to (and its own id).
  HRESULT CopyParInfo(const ParInfo& stored, ParInfo* out) const;

  // The stored record, or null.
  const ParInfo* FindById(ULONG id) const;
  ParInfo* FindById(ULONG id);
  // The stored record for an id, a default record inserted under it when there is none.
  HRESULT FindOrInsert(ULONG id, ParInfo** record);

  // The by-id operations. Each answers E_INVALIDARG for an empty collection, an absent id or (for a
  // reference record) a reference that does not name a plain record.
  // m_vValue as it is, without conversion; for a reference, the referenced record's.
  HRESULT GetValue(ULONG id, VARIANT* out) const;
  HRESULT SetValue(ULONG id, const VARIANT& value);
  // Copies the selected fields into out; for a reference, the shared fields (0x2F41F0) come from the
  // referenced record, the others from the reference, and out carries the asked id. A failed copy
  // returns at once; fields copied before stay copied.
  HRESULT GetParInfoFields(ULONG id, ULONG mask, ParInfo* out) const;
  // The mirror: a reference forwards the shared fields to the referenced record.
  HRESULT SetParInfoFields(ULONG id, ULONG mask, const ParInfo& record);
  // Calls the record's callback for kind 1..6 with (context, id) and answers its result; S_FALSE
  // without one.
  HRESULT InvokeCallback(ULONG id, ParameterCallbackKind kind, ULONG_PTR context) const;
  HRESULT Remove(ULONG id);
  void RemoveAll();
  // The zero-based position of an id, -1 when absent.
  LONG IndexOf(ULONG id) const;

  // Exchanges the records of two collections; nothing is copied, so it cannot fail.
  void Swap(CParamCollection& other) noexcept;
  // Makes this collection hold copies of other's records exactly as they are stored. A failure
  // (E_OUTOFMEMORY or a VARIANT copy's) leaves this collection as it was.
  HRESULT CopyFrom(const CParamCollection& other);

 private:
  using Map = std::map<ULONG, ParInfo>;
  // The plain record a reference stands for, or null with the reason.
  const ParInfo* Referenced(const ParInfo& reference, HRESULT* hr) const;
  ParInfo* Referenced(const ParInfo& reference, HRESULT* hr) {
    return const_cast<ParInfo*>(static_cast<const CParamCollection*>(this)->Referenced(reference, hr));
  }
  void InvalidateCursor() { m_nCursorIndex = kNoCursor; }
  void MoveCursor(LONG index);

  static constexpr LONG kNoCursor = -5;
  Map m_records;
  Map::iterator m_cursor;
  LONG m_nCursorIndex = kNoCursor;
};

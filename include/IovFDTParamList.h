// IovFDTParamList: the DTM's named parameter lists (upload, download, working copies, temporary
// transfer lists), as the DTM object hands them out.
//
// A list has a key (usually a VT_BSTR name), an optional parent list (VT_EMPTY: a root list),
// members in the order added (usually parameter ids as VT_UI4; duplicates allowed) and named
// properties. Dual interface; operations in slot order after IDispatch. Every operation ends with
// a VARIANT_BOOL* result, set to VARIANT_FALSE on entry and VARIANT_TRUE on success; a null result
// pointer gives E_INVALIDARG. An unknown key answers S_FALSE with the result false. A VARIANT
// array is VT_ARRAY|VT_VARIANT. Some operations have a second name in parts of the system written
// from another description of the lists; it stands in the comment. Calls run on the DTM's
// apartment thread.
#pragma once

#include "platform/platform.h"

struct IovFDTParamList : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("439C3BB3-1F56-4F94-940D-B9056EAB26BF");
  using Base = IDispatch;
  // 7 (AddList): a new list. S_FALSE when the key exists or a parent key is given that does not.
  virtual HRESULT CreateList(VARIANT key, VARIANT parentKey, VARIANT propertyNames, VARIANT propertyValues,
                             VARIANT_BOOL* result) = 0;
  // 8 (RemoveList): deletes the list, its child lists first.
  virtual HRESULT DeleteList(VARIANT key, VARIANT_BOOL* result) = 0;
  // 9 (HasList)
  virtual HRESULT ListExists(VARIANT key, VARIANT_BOOL* exists, VARIANT_BOOL* result) = 0;
  // 10 (GetListNames): the keys of the lists whose parent key equals key (VT_EMPTY: the root
  // lists), as a VARIANT array, or VT_EMPTY when there is none.
  virtual HRESULT GetChildLists(VARIANT key, VARIANT* keys, VARIANT_BOOL* result) = 0;
  // 11 (AddListMembers): appends every element of the array, in order.
  virtual HRESULT AddMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) = 0;
  // 12: removes every member equal to one of the elements.
  virtual HRESULT RemoveMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) = 0;
  // 13 (GetListEntries): the members as a VARIANT array, VT_EMPTY when there are none.
  virtual HRESULT GetMembers(VARIANT key, VARIANT* members, VARIANT_BOOL* result) = 0;
  // 14: sets named properties (two VARIANT arrays of equal length).
  virtual HRESULT SetProperties(VARIANT key, VARIANT names, VARIANT values, VARIANT_BOOL* result) = 0;
  // 15: the values of the named properties (VT_EMPTY for a name the list lacks).
  virtual HRESULT GetProperties(VARIANT key, VARIANT names, VARIANT* values, VARIANT_BOOL* result) = 0;
};

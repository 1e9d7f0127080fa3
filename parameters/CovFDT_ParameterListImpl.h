// CovFDT_ParameterListImpl: the DTM object's named parameter lists, offered as IovFDTParamList.
//
// Lists form a tree: each has a key, the key of its parent (VT_EMPTY for a root list), members in
// the order added (duplicates kept) and named properties. The upload and download lists, the
// temporary lists of a transfer, the working copies and the event registrations of the parameter
// handler all live here.
//
// The DTM object carries the class as a base and answers IovFDTParamList from its own
// QueryInterface (QueryListInterface below), so the lists share the DTM's identity and reference
// count; the DTM hands the same lists to the parameter handler through its site.
//
// Keys and property names are equal when both are VT_NULL, or when they have the same VARTYPE and
// VarCmp (user-default locale, no flags) answers VARCMP_EQ; so keys of different types never are,
// and texts compare case included. Members are equal as IsVariantEqual says.
//
// Every operation runs on the DTM's apartment thread; nothing here takes a lock. Out VARIANTs must
// be initialised: they are cleared before they receive a value.
#pragma once

#include <memory>
#include <vector>

#include "include/IovFDTParamList.h"
#include "platform/platform.h"

// One named property of a list.
struct CParamListProperty {
  vkr::Variant name;
  vkr::Variant value;
};

// One list. Destroying it clears every VARIANT and frees every property record.
class CParamListEntry {
 public:
  CParamListEntry() = default;
  CParamListEntry(const CParamListEntry&) = delete;
  CParamListEntry& operator=(const CParamListEntry&) = delete;
  virtual ~CParamListEntry();

  vkr::Variant m_vKey;
  vkr::Variant m_vParentKey;
  std::vector<vkr::Variant> m_members;
  std::vector<std::unique_ptr<CParamListProperty>> m_properties;
};

class CovFDT_ParameterListImpl : public IovFDTParamList {
 public:
  CovFDT_ParameterListImpl() = default;
  CovFDT_ParameterListImpl(const CovFDT_ParameterListImpl&) = delete;
  CovFDT_ParameterListImpl& operator=(const CovFDT_ParameterListImpl&) = delete;
  virtual ~CovFDT_ParameterListImpl();

  // For the carrying object's QueryInterface: IovFDTParamList with a reference (AddRef goes to the
  // carrying object), or E_NOINTERFACE.
  HRESULT QueryListInterface(REFIID riid, void** ppv);

  // IDispatch: no type information; late-bound calls are refused.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // IovFDTParamList. A VT_EMPTY key names no list: CreateList refuses it with E_INVALIDARG (such a
  // list would be its own child, as VT_EMPTY is also the parent key of every root list).
  HRESULT CreateList(VARIANT key, VARIANT parentKey, VARIANT propertyNames, VARIANT propertyValues,
                     VARIANT_BOOL* result) override;
  HRESULT DeleteList(VARIANT key, VARIANT_BOOL* result) override;
  HRESULT ListExists(VARIANT key, VARIANT_BOOL* exists, VARIANT_BOOL* result) override;
  HRESULT GetChildLists(VARIANT key, VARIANT* keys, VARIANT_BOOL* result) override;
  HRESULT AddMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) override;
  HRESULT RemoveMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) override;
  HRESULT GetMembers(VARIANT key, VARIANT* members, VARIANT_BOOL* result) override;
  HRESULT SetProperties(VARIANT key, VARIANT names, VARIANT values, VARIANT_BOOL* result) override;
  HRESULT GetProperties(VARIANT key, VARIANT names, VARIANT* values, VARIANT_BOOL* result) override;

  // The list with that key, or null.
  CParamListEntry* FindListEntry(const VARIANT& key) const;
  // Sets one property: S_FALSE when a property of that name existed and got the new value, S_OK
  // when one was added. E_INVALIDARG for a null entry, E_UNEXPECTED for a VT_EMPTY name.
  HRESULT SetListProperty(CParamListEntry* entry, const VARIANT& name, const VARIANT& value);
  // Sets the properties named by the elements of names to the elements of values (two VARIANT
  // arrays of equal length). Names that are no VARIANT array set nothing (S_OK). A failure keeps the
  // properties set before it.
  HRESULT SetListProperties(CParamListEntry* entry, const VARIANT& names, const VARIANT& values);

 private:
  std::vector<std::unique_ptr<CParamListEntry>> m_lists;
};

// ParInfo: construction, deep copies and the copy of fields selected by a mask.
#include "parameters/ParInfo.h"

#include "parameters/CFdtVariant.h"

namespace {

HRESULT CopyText(vkr::Bstr& dest, const vkr::Bstr& src) {
  BSTR copy = nullptr;
  HRESULT hr = src.CopyTo(&copy);
  if (FAILED(hr)) return hr;
  dest.Attach(copy);
  return S_OK;
}

// VariantCopy clears the destination first.
HRESULT CopyValue(vkr::Variant& dest, const VARIANT& src) { return VariantCopy(&dest, &src); }

// Exchanges two VARIANTs as they are: no copy, nothing freed.
void SwapValue(vkr::Variant& a, vkr::Variant& b) noexcept {
  std::swap(static_cast<VARIANT&>(a), static_cast<VARIANT&>(b));
}

void SwapText(vkr::Bstr& a, vkr::Bstr& b) noexcept {
  BSTR x = a.Detach();
  a.Attach(b.Detach());
  b.Attach(x);
}

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw vkr::HResultError(hr);
}

// Takes over an argument text: the record keeps it, the caller's pointer is spent.
void TakeText(vkr::Bstr& field, BSTR text) { field.Attach(text); }

void CopyArgument(vkr::Variant& field, const VARIANT* value) {
  if (value) ThrowIfFailed(VariantCopy(&field, value));
}

}  // namespace

ParInfo::ParInfo() = default;

ParInfo::ParInfo(ULONG addressed, ULONG id, const VARIANT* address, BSTR name, ULONG stringResId, VARTYPE vt,
                 const VARIANT* minimum, const VARIANT* maximum, const VARIANT* defaultValue, const VARIANT* value,
                 ULONG persist, ULONG flags, ULONG flagWord1, ULONG flagWord2, BSTR unit, ULONG exportKind,
                 BSTR description, USHORT kind, const VARIANT* enumList, const VARIANT* further,
                 const VARIANT* relation, ParameterCallback beforeChange, ParameterCallback beforeRead,
                 ParameterCallback beforeWrite, ParameterCallback afterChange, ParameterCallback afterRead,
                 ParameterCallback afterWrite, BSTR stringId, ULONG itemKinds, VARIANT typeInformation,
                 VARIANT privateProperties)
    : m_dwAddressed(addressed),
      m_nId(id),
      m_nStringResId(stringResId),
      m_vt(vt),
      m_nKind(kind),
      m_bPersist(persist),
      m_dwFlags(flags),
      m_dwFlagWord1(flagWord1),
      m_dwFlagWord2(flagWord2),
      m_dwExportKind(exportKind),
      m_pfnBeforeChange(beforeChange),
      m_pfnBeforeRead(beforeRead),
      m_pfnBeforeWrite(beforeWrite),
      m_pfnAfterChange(afterChange),
      m_pfnAfterRead(afterRead),
      m_pfnAfterWrite(afterWrite),
      m_dwItemKinds(itemKinds) {
  // The texts and the by-value VARIANTs belong to the record from here on, whatever happens next.
  TakeText(m_bstrName, name);
  TakeText(m_bstrUnit, unit);
  TakeText(m_bstrDescription, description);
  TakeText(m_bstrStrId, stringId);
  static_cast<VARIANT&>(m_vTypeInformation) = typeInformation;
  static_cast<VARIANT&>(m_vPrivateProperties) = privateProperties;

  CopyArgument(m_vAddress, address);
  CopyArgument(m_vMin, minimum);
  CopyArgument(m_vMax, maximum);
  CopyArgument(m_vDefault, defaultValue);
  CopyArgument(m_vDevValue, defaultValue);
  CopyArgument(m_vValue, value);
  CopyArgument(m_vEnumList, enumList);
  CopyArgument(m_vFurther, further);
  CopyArgument(m_vRelation, relation);

  // Values are held in the record's type: those that do not convert are dropped, limits that do
  // not convert keep the form they were given in.
  if (FAILED(ChangeVariantType(&m_vValue, &m_vValue, m_vt))) m_vValue.Clear();
  if (FAILED(ChangeVariantType(&m_vDevValue, &m_vDevValue, m_vt))) m_vDevValue.Clear();
  ChangeVariantType(&m_vMin, &m_vMin, m_vt);
  ChangeVariantType(&m_vMax, &m_vMax, m_vt);
  if (FAILED(ChangeVariantType(&m_vDefault, &m_vDefault, m_vt))) m_vDefault.Clear();

  if (m_nStringResId != 0) LoadNameFromStringTable();
  if (m_bstrStrId.Empty() && !m_bstrName.Empty()) ThrowIfFailed(CopyText(m_bstrStrId, m_bstrName));
}

void ParInfo::LoadNameFromStringTable() {
  // The string table of the module this code is linked into (the DTM's).
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&ThrowIfFailed), &module))
    return;
  char text[256];
  const int length = LoadStringA(module, m_nStringResId, text, sizeof text);
  // Without such a string the given name stays.
  if (length <= 0) return;
  vkr::Bstr name(vkr::Utf8ToUtf16(std::string_view(text, static_cast<size_t>(length))));
  if (!name.Get()) throw vkr::HResultError(E_OUTOFMEMORY);
  m_bstrName = std::move(name);
}

ParInfo::ParInfo(const ParInfo& other) { ThrowIfFailed(CopyFrom(other)); }

ParInfo& ParInfo::operator=(const ParInfo& other) {
  if (this != &other) ThrowIfFailed(CopyFrom(other));
  return *this;
}

ParInfo::ParInfo(ParInfo&& other) noexcept { Swap(other); }

ParInfo& ParInfo::operator=(ParInfo&& other) noexcept {
  if (this != &other) Swap(other);
  return *this;
}

ParInfo::~ParInfo() = default;

HRESULT ParInfo::CopyFrom(const ParInfo& other) {
  if (this == &other) return S_OK;
  ParInfo copy;
  HRESULT hr = copy.CopyAll(other);
  if (FAILED(hr)) return hr;
  Swap(copy);
  return S_OK;
}

HRESULT ParInfo::CopyAll(const ParInfo& other) {
  HRESULT hr = CopyFields(other, PIF_ALL);
  if (FAILED(hr)) return hr;
  m_nId = other.m_nId;
  m_pfnBeforeChange = other.m_pfnBeforeChange;
  m_pfnBeforeRead = other.m_pfnBeforeRead;
  m_pfnBeforeWrite = other.m_pfnBeforeWrite;
  m_pfnAfterChange = other.m_pfnAfterChange;
  m_pfnAfterRead = other.m_pfnAfterRead;
  m_pfnAfterWrite = other.m_pfnAfterWrite;
  m_dwItemKinds = other.m_dwItemKinds;
  return S_OK;
}

void ParInfo::Swap(ParInfo& o) noexcept {
  using std::swap;
  swap(m_dwAddressed, o.m_dwAddressed);
  swap(m_nId, o.m_nId);
  SwapText(m_bstrStrId, o.m_bstrStrId);
  SwapValue(m_vAddress, o.m_vAddress);
  SwapText(m_bstrName, o.m_bstrName);
  swap(m_nStringResId, o.m_nStringResId);
  SwapText(m_bstrDescription, o.m_bstrDescription);
  swap(m_vt, o.m_vt);
  swap(m_nKind, o.m_nKind);
  SwapValue(m_vMin, o.m_vMin);
  SwapValue(m_vMax, o.m_vMax);
  SwapValue(m_vDefault, o.m_vDefault);
  SwapValue(m_vValue, o.m_vValue);
  SwapValue(m_vDevValue, o.m_vDevValue);
  SwapValue(m_vEnumList, o.m_vEnumList);
  swap(m_bPersist, o.m_bPersist);
  swap(m_dwFlags, o.m_dwFlags);
  swap(m_dwFlagWord1, o.m_dwFlagWord1);
  swap(m_dwFlagWord2, o.m_dwFlagWord2);
  SwapText(m_bstrUnit, o.m_bstrUnit);
  swap(m_dwExportKind, o.m_dwExportKind);
  SwapValue(m_vFurther, o.m_vFurther);
  SwapValue(m_vRelation, o.m_vRelation);
  swap(m_pfnBeforeChange, o.m_pfnBeforeChange);
  swap(m_pfnBeforeRead, o.m_pfnBeforeRead);
  swap(m_pfnBeforeWrite, o.m_pfnBeforeWrite);
  swap(m_pfnAfterChange, o.m_pfnAfterChange);
  swap(m_pfnAfterRead, o.m_pfnAfterRead);
  swap(m_pfnAfterWrite, o.m_pfnAfterWrite);
  swap(m_dwItemKinds, o.m_dwItemKinds);
  SwapValue(m_vTypeInformation, o.m_vTypeInformation);
  SwapValue(m_vPrivateProperties, o.m_vPrivateProperties);
}

HRESULT ParInfo::CopyFields(const ParInfo& src, ULONG mask) {
  if (this == &src) return S_OK;
  HRESULT hr = S_OK;
  auto text = [&](ULONG bit, vkr::Bstr& dest, const vkr::Bstr& from) {
    if (SUCCEEDED(hr) && (mask & bit)) hr = CopyText(dest, from);
  };
  auto value = [&](ULONG bit, vkr::Variant& dest, const vkr::Variant& from) {
    if (SUCCEEDED(hr) && (mask & bit)) hr = CopyValue(dest, from);
  };
  if (mask & PIF_ADDRESSED) m_dwAddressed = src.m_dwAddressed;
  text(PIF_STRING_ID, m_bstrStrId, src.m_bstrStrId);
  value(PIF_ADDRESS, m_vAddress, src.m_vAddress);
  text(PIF_NAME, m_bstrName, src.m_bstrName);
  if (FAILED(hr)) return hr;
  if (mask & PIF_STRING_RES_ID) m_nStringResId = src.m_nStringResId;
  text(PIF_DESCRIPTION, m_bstrDescription, src.m_bstrDescription);
  value(PIF_MIN, m_vMin, src.m_vMin);
  value(PIF_MAX, m_vMax, src.m_vMax);
  value(PIF_DEFAULT, m_vDefault, src.m_vDefault);
  value(PIF_VALUE, m_vValue, src.m_vValue);
  value(PIF_DEV_VALUE, m_vDevValue, src.m_vDevValue);
  value(PIF_ENUM_LIST, m_vEnumList, src.m_vEnumList);
  if (FAILED(hr)) return hr;
  if (mask & PIF_PERSIST) m_bPersist = src.m_bPersist;
  if (mask & PIF_FLAGS) m_dwFlags = src.m_dwFlags;
  if (mask & PIF_FLAG_WORD1) m_dwFlagWord1 = src.m_dwFlagWord1;
  if (mask & PIF_FLAG_WORD2) m_dwFlagWord2 = src.m_dwFlagWord2;
  text(PIF_UNIT, m_bstrUnit, src.m_bstrUnit);
  if (FAILED(hr)) return hr;
  if (mask & PIF_EXPORT_KIND) m_dwExportKind = src.m_dwExportKind;
  value(PIF_FURTHER, m_vFurther, src.m_vFurther);
  value(PIF_RELATION, m_vRelation, src.m_vRelation);
  value(PIF_TYPE_INFORMATION, m_vTypeInformation, src.m_vTypeInformation);
  value(PIF_PRIVATE_PROPERTIES, m_vPrivateProperties, src.m_vPrivateProperties);
  if (FAILED(hr)) return hr;
  // The kind, then the type, last: a reader never sees a value under the old type's rules.
  if (mask & PIF_KIND) m_nKind = src.m_nKind;
  if (mask & PIF_VARTYPE) m_vt = src.m_vt;
  return S_OK;
}

ParameterCallback ParInfo::Callback(ParameterCallbackKind kind) const {
  switch (kind) {
    case PCK_BEFORE_READ:
      return m_pfnBeforeRead;
    case PCK_AFTER_READ:
      return m_pfnAfterRead;
    case PCK_BEFORE_WRITE:
      return m_pfnBeforeWrite;
    case PCK_AFTER_WRITE:
      return m_pfnAfterWrite;
    case PCK_BEFORE_CHANGE:
      return m_pfnBeforeChange;
    case PCK_AFTER_CHANGE:
      return m_pfnAfterChange;
  }
  return nullptr;
}

void ParInfo::SetCallback(ParameterCallbackKind kind, ParameterCallback fn) {
  switch (kind) {
    case PCK_BEFORE_READ:
      m_pfnBeforeRead = fn;
      break;
    case PCK_AFTER_READ:
      m_pfnAfterRead = fn;
      break;
    case PCK_BEFORE_WRITE:
      m_pfnBeforeWrite = fn;
      break;
    case PCK_AFTER_WRITE:
      m_pfnAfterWrite = fn;
      break;
    case PCK_BEFORE_CHANGE:
      m_pfnBeforeChange = fn;
      break;
    case PCK_AFTER_CHANGE:
      m_pfnAfterChange = fn;
      break;
  }
}

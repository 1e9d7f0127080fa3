// The OLE helpers of the hosting: registered user types, advising connection points, ambient
// properties and task-memory texts.
#include <cstring>
#include <string>

#include "platform/com/holders.h"
#include "platform/com/memory.h"
#include "platform/com/object.h"
#include "platform/com/ole.h"
#include "platform/win/locale.h"
#include "platform/win/registry.h"

namespace {

// The default value (an empty name) of HKCR\CLSID\{clsid}\<sub>; false when the key or the value
// is missing or not a text.
bool ReadClassText(const std::u16string& keyPath, std::u16string* text, bool* keyFound) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(keyPath.c_str()), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  if (keyFound) *keyFound = true;
  DWORD type = 0;
  DWORD size = 0;
  bool ok = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ;
  if (ok) {
    std::u16string buffer(size / sizeof(char16_t) + 1, u'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    ok = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &bytes) ==
         ERROR_SUCCESS;
    if (ok) {
      buffer.resize(std::char_traits<char16_t>::length(buffer.c_str()));
      ok = !buffer.empty();
      *text = std::move(buffer);
    }
  }
  RegCloseKey(key);
  return ok;
}

}  // namespace

HRESULT OleRegGetUserType(REFCLSID clsid, DWORD dwFormOfType, LPOLESTR* pszUserType) {
  if (!pszUserType) return E_INVALIDARG;
  *pszUserType = nullptr;
  OLECHAR braced[40] = {};
  if (StringFromGUID2(clsid, braced, 40) == 0) return E_INVALIDARG;
  const std::u16string classKey = u"CLSID\\" + std::u16string(braced);
  std::u16string text;
  bool keyFound = false;
  bool found = false;
  if (dwFormOfType == USERCLASSTYPE_SHORT || dwFormOfType == USERCLASSTYPE_APPNAME) {
    const char16_t* which = dwFormOfType == USERCLASSTYPE_SHORT ? u"\\AuxUserType\\2" : u"\\AuxUserType\\3";
    found = ReadClassText(classKey + which, &text, nullptr);
  }
  if (!found) found = ReadClassText(classKey, &text, &keyFound);
  if (!found) return keyFound ? REGDB_E_READREGDB : REGDB_E_CLASSNOTREG;
  *pszUserType = vkr::CoTaskMemString(text);
  return *pszUserType ? S_OK : E_OUTOFMEMORY;
}

HRESULT AtlAdvise(IUnknown* pUnkCP, IUnknown* pUnk, REFIID iid, LPDWORD pdw) {
  if (!pUnkCP || !pdw) return E_INVALIDARG;
  vkr::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = pUnkCP->QueryInterface(IConnectionPointContainer::iid, container.PutVoid());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(iid, point.Put());
  if (FAILED(hr)) return hr;
  return point->Advise(pUnk, pdw);
}

HRESULT AtlUnadvise(IUnknown* pUnkCP, REFIID iid, DWORD dw) {
  if (!pUnkCP) return E_INVALIDARG;
  vkr::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = pUnkCP->QueryInterface(IConnectionPointContainer::iid, container.PutVoid());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(iid, point.Put());
  if (FAILED(hr)) return hr;
  return point->Unadvise(dw);
}

namespace vkr {

HRESULT GetAmbientProperty(IUnknown* site, DISPID id, VARIANT* value) {
  if (!value) return E_POINTER;
  VariantInit(value);
  if (!site) return E_NOINTERFACE;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = site->QueryInterface(IDispatch::iid, dispatch.PutVoid());
  if (FAILED(hr) || !dispatch) return E_NOINTERFACE;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return dispatch->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

bool AmbientUserMode(IUnknown* site) {
  Variant value;
  if (FAILED(GetAmbientProperty(site, DISPID_AMBIENT_USERMODE, value.Put())) || value.vt != VT_BOOL) return true;
  return value.boolVal != VARIANT_FALSE;
}

COLORREF AmbientBackColor(IUnknown* site, COLORREF fallback) {
  Variant value;
  if (FAILED(GetAmbientProperty(site, DISPID_AMBIENT_BACKCOLOR, value.Put()))) return fallback;
  if (value.vt == VT_I4 || value.vt == VT_UI4) return static_cast<COLORREF>(value.ulVal);
  return fallback;
}

HRESULT MakeCAUUID(const GUID* ids, ULONG count, CAUUID* out) {
  if (!out) return E_POINTER;
  out->cElems = 0;
  out->pElems = nullptr;
  if (count == 0) return S_OK;
  if (!ids) return E_POINTER;
  auto* elems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * count));
  if (!elems) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < count; ++i) elems[i] = ids[i];
  out->cElems = count;
  out->pElems = elems;
  return S_OK;
}

LPOLESTR CoTaskMemString(std::u16string_view text) {
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(OLECHAR));
  out[text.size()] = u'\0';
  return out;
}

}  // namespace vkr

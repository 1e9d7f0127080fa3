// Answer bytes between VARIANTs, hex texts and byte vectors (see ResponseBytes.h).
#include "ui/device/kit/ResponseBytes.h"

#include <algorithm>

#include "xml/Conversions.h"

namespace vkr::dui {

HRESULT BytesOfHex(BSTR hex, std::vector<BYTE>* bytes) {
  if (!bytes) return E_POINTER;
  bytes->assign(SysStringLen(hex) / 2, 0);
  if (bytes->empty()) return SysStringLen(hex) == 0 ? S_OK : E_INVALIDARG;
  const LONG count = HexStringToBytes(hex, bytes->data(), static_cast<ULONG>(bytes->size()));
  if (count < 0) {
    bytes->clear();
    return E_INVALIDARG;
  }
  bytes->resize(static_cast<size_t>(count));
  return S_OK;
}

HRESULT ResponseBytes(const VARIANT& value, std::vector<BYTE>* bytes) {
  if (!bytes) return E_POINTER;
  bytes->clear();
  if (value.vt != (VT_ARRAY | VT_UI1)) return S_FALSE;
  vkr::Bstr hex;
  HRESULT hr = ByteArrayToHexString(&value, hex.Put(), TRUE);
  if (FAILED(hr)) return hr;
  return BytesOfHex(hex, bytes);
}

HRESULT MakeByteArray(std::span<const BYTE> bytes, VARIANT* value) {
  if (!value) return E_POINTER;
  VariantClear(value);
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) return E_OUTOFMEMORY;
  if (!bytes.empty()) {
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(array);
  }
  value->vt = VT_ARRAY | VT_UI1;
  value->parray = array;
  return S_OK;
}

HRESULT HexOfBytes(std::span<const BYTE> bytes, BSTR* hex) {
  if (!hex) return E_POINTER;
  *hex = nullptr;
  if (bytes.empty()) return S_OK;
  return BytesToHexString(bytes.data(), static_cast<ULONG>(bytes.size()), hex);
}

}  // namespace vkr::dui

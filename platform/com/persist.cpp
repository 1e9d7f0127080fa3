// Objects and class ids in streams: WriteClassStm, ReadClassStm, OleSaveToStream and
// OleLoadFromStream, on the class creation of classes.cpp.
#include "platform/com/classes.h"
#include "platform/com/interfaces.h"
#include "platform/com/object.h"

namespace {

constexpr ULONG kClassIdBytes = 16;

// The object's stream persistence: IPersistStream, or else IPersistStreamInit, whose first
// methods are the same. Exactly one of the two is set on S_OK.
struct StreamPersistence {
  vkr::ComPtr<IPersistStream> stream;
  vkr::ComPtr<IPersistStreamInit> init;
  HRESULT Load(IStream* from) { return stream ? stream->Load(from) : init->Load(from); }
};

HRESULT FindStreamPersistence(IUnknown* object, StreamPersistence* out) {
  if (SUCCEEDED(object->QueryInterface(IID_IPersistStream, out->stream.PutVoid())) && out->stream) return S_OK;
  if (SUCCEEDED(object->QueryInterface(IID_IPersistStreamInit, out->init.PutVoid())) && out->init) return S_OK;
  return E_NOINTERFACE;
}

}  // namespace

HRESULT WriteClassStm(IStream* pStm, REFCLSID rclsid) {
  if (!pStm) return E_INVALIDARG;
  BYTE bytes[kClassIdBytes];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(rclsid.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<BYTE>(rclsid.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<BYTE>(rclsid.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes[8 + i] = rclsid.Data4[i];
  ULONG written = 0;
  const HRESULT hr = pStm->Write(bytes, kClassIdBytes, &written);
  if (FAILED(hr)) return hr;
  return written == kClassIdBytes ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadClassStm(IStream* pStm, CLSID* pclsid) {
  if (!pStm || !pclsid) return E_INVALIDARG;
  BYTE bytes[kClassIdBytes];
  ULONG got = 0;
  const HRESULT hr = pStm->Read(bytes, kClassIdBytes, &got);
  if (FAILED(hr)) return hr;
  if (got != kClassIdBytes) return STG_E_READFAULT;
  CLSID clsid{};
  for (int i = 0; i < 4; ++i) clsid.Data1 |= static_cast<DWORD>(bytes[i]) << (8 * i);
  clsid.Data2 = static_cast<WORD>(bytes[4] | (bytes[5] << 8));
  clsid.Data3 = static_cast<WORD>(bytes[6] | (bytes[7] << 8));
  for (int i = 0; i < 8; ++i) clsid.Data4[i] = bytes[8 + i];
  *pclsid = clsid;
  return S_OK;
}

HRESULT OleSaveToStream(IPersistStream* pPStm, IStream* pStm) {
  if (!pStm) return E_INVALIDARG;
  if (!pPStm) {
    const HRESULT hr = WriteClassStm(pStm, CLSID_NULL);
    return FAILED(hr) ? hr : OLE_E_BLANK;
  }
  CLSID clsid{};
  HRESULT hr = pPStm->GetClassID(&clsid);
  if (FAILED(hr)) return hr;
  hr = WriteClassStm(pStm, clsid);
  if (FAILED(hr)) return hr;
  return pPStm->Save(pStm, TRUE);
}

HRESULT OleLoadFromStream(IStream* pStm, REFIID iidInterface, LPVOID* ppvObj) {
  if (!ppvObj) return E_POINTER;
  *ppvObj = nullptr;
  if (!pStm) return E_INVALIDARG;
  CLSID clsid{};
  HRESULT hr = ReadClassStm(pStm, &clsid);
  if (FAILED(hr)) return hr;
  if (clsid == CLSID_NULL) return REGDB_E_CLASSNOTREG;
  vkr::ComPtr<IUnknown> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IID_IUnknown, object.PutVoid());
  if (FAILED(hr)) return hr;
  if (!object) return E_NOINTERFACE;
  StreamPersistence persistence;
  hr = FindStreamPersistence(object.Get(), &persistence);
  if (FAILED(hr)) return hr;
  hr = persistence.Load(pStm);
  if (FAILED(hr)) return hr;
  hr = object->QueryInterface(iidInterface, ppvObj);
  if (FAILED(hr)) *ppvObj = nullptr;
  return hr;
}

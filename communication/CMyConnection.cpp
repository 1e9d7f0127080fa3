// The VKR DTM's connection class.
#include "communication/CMyConnection.h"

#include "communication/MyHartProtocol.h"

CMyConnection::CMyConnection() { ReplaceProtocol(std::make_unique<MyHartProtocol>()); }

HRESULT CMyConnection::QueryExtraInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (riid == IMyConnection::iid) {
    *ppv = static_cast<IMyConnection*>(this);
    Self()->AddRef();
    return S_OK;
  }
  return CovFDT_HartConnectionImpl::QueryExtraInterface(riid, ppv);
}

HRESULT CMyConnection::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT CMyConnection::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CMyConnection::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CMyConnection::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

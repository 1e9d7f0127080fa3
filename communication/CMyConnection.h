// CMyConnection: the connection class of the VKR DTM (ProgID "Vorn.ExampleDtm_MyConnection"). The
// communication client creates one for every channel the frame hands over; it is the framework's
// HART connection with the device's own protocol object.
#pragma once

#include "communication/CovFDT_HartConnectionImpl.h"

class CMyConnection : public CovFDT_HartConnectionImpl, public IMyConnection {
 public:
  CMyConnection();

  // IDispatch of every dual interface: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override;

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
};

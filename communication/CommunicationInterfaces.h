// The interfaces of the communication client, which lives inside the DTM object: the parameter
// reads and writes, going online and offline, the connections' callbacks, device verification,
// subscriptions, the generic service, list transfers, direct access and the protocol's texts.
// Header only; the ids are this program's own.
//
// All are dual: their own methods follow the three IUnknown and four IDispatch slots (slot 7 is
// the first method named here).
#pragma once

#include "dtm/FdtInterfaces.h"
#include "platform/platform.h"

struct IovFdtCommunicationClient4 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F01");
  using Base = IDispatch;
  // 7: takes the frame's channel (null drops it).
  virtual HRESULT SetCommunication(IFdtCommunication* channel) = 0;
  virtual HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) = 0;                  // 8
  virtual HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;  // 9
  // 10 to 12: the connection side of the interface; the DTM side answers E_NOTIMPL.
  virtual HRESULT ConnectWithRequest(VARIANT request, VARIANT_BOOL* done) = 0;
  virtual HRESULT ConnectionReserved1(VARIANT argument) = 0;
  virtual HRESULT ConnectionReserved2(VARIANT argument) = 0;
};

struct IovFdtSyncCommunicationClient : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F02");
  using Base = IDispatch;
  virtual HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) = 0;                  // 7
  virtual HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;  // 8
};

struct IovFdtCommClientOnlineState : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F03");
  using Base = IDispatch;
  virtual HRESULT GoOnline(VARIANT_BOOL* ok) = 0;   // 7
  virtual HRESULT GoOffline(VARIANT_BOOL* ok) = 0;  // 8
};

struct IovFdtCommClientParameterProtocol : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F04");
  using Base = IDispatch;
  virtual HRESULT GetBusInformation(BSTR* information) = 0;                 // 7
  virtual HRESULT SetBusInformation(BSTR document, VARIANT_BOOL* ok) = 0;   // 8
  virtual HRESULT GetParameterProtocolInfo(VARIANT id, BSTR* text) = 0;     // 9
};

struct IovFDTGenericCommService : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F05");
  using Base = IDispatch;
  virtual HRESULT RequestService(BSTR protocolId, VARIANT service, VARIANT argument, VARIANT* result,
                                 VARIANT_BOOL* done) = 0;                                              // 7
  virtual HRESULT SendGenericRequest(BSTR protocolId, VARIANT request, VARIANT_BOOL* done) = 0;      // 8
  virtual HRESULT SendGenericRequestAsync(IUnknown* eventSink, VARIANT* requestHandle, VARIANT_BOOL* done) = 0;  // 9
  virtual HRESULT CancelGenericRequest(VARIANT requestHandle, VARIANT_BOOL* done) = 0;               // 10
};

struct IovFDTCommClientTransferParamList2 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F06");
  using Base = IDispatch;
  virtual HRESULT UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) = 0;    // 7
  virtual HRESULT DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) = 0;  // 8
  virtual HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) = 0;                                // 9
};

struct IovFdtDirectParameterAccess : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F07");
  using Base = IDispatch;
  virtual HRESULT ReadParameterDirect(VARIANT id, VARIANT* value) = 0;  // 7
  virtual HRESULT WriteParameterDirect(VARIANT id, VARIANT value) = 0;  // 8
};

// The connection objects' reports to the client.
struct IovFdtConnectionObjectCallback : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F08");
  using Base = IDispatch;
  virtual HRESULT OnConnectionReleased(BSTR key) = 0;                                      // 7
  virtual HRESULT OnConnected(BSTR key, VARIANT_BOOL success, VARIANT response) = 0;      // 8
  virtual HRESULT OnDisconnected(BSTR key, VARIANT_BOOL success, VARIANT response) = 0;   // 9
};

struct IovFdtSubscriptions : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F09");
  using Base = IDispatch;
  virtual HRESULT Subscribe(BSTR protocolId, VARIANT item) = 0;    // 7
  virtual HRESULT Unsubscribe(BSTR protocolId, VARIANT item) = 0;  // 8
};

// The verification of the connected device. The value's meaning is the client's; the DTM relies
// on 1 (the device failed verification) and 2 (there is nothing to wait for).
struct IovFdtDeviceVerification : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0A");
  using Base = IDispatch;
  virtual HRESULT VerifyDevice(VARIANT_BOOL* verified) = 0;                        // 7
  virtual HRESULT GetVerificationValue(VARIANT* value, VARIANT_BOOL* done) = 0;    // 8
  virtual HRESULT SetVerificationValue(VARIANT value, VARIANT_BOOL* done) = 0;     // 9
};

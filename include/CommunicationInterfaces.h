// The interfaces of the communication client, which lives inside the DTM object: the parameter
// reads and writes, going online and offline, the connections' callbacks, device verification,
// subscriptions, the generic service, list transfers, direct access and the protocol's texts.
// Header only; the ids are this program's own.
//
// All are dual: their own methods follow the three IUnknown and four IDispatch slots (slot 7 is
// the first method named here).
#pragma once

#include "include/FdtInterfaces.h"
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
  virtual HRESULT GetBusInformation(BSTR* information, VARIANT_BOOL* done) = 0;        // 7
  virtual HRESULT SetBusInformation(IUnknown* deviceDocument, VARIANT_BOOL* done) = 0;  // 8
  virtual HRESULT GetParameterProtocolInfo(VARIANT id, BSTR* text) = 0;                 // 9
};

struct IovFdtCommClientInfo : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0B");
  using Base = IDispatch;
  virtual HRESULT InfoRequest(VARIANT kind, VARIANT argument, VARIANT* result) = 0;  // 7
  virtual HRESULT InfoRequestEx(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                                ULONG) = 0;                                            // 8
};

// The protocol-neutral service of a connection: named services ("subscribe", "unsubscribe"),
// generic requests of registered clients, and the clients' registration.
struct IovFDTGenericCommService : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F05");
  using Base = IDispatch;
  virtual HRESULT RequestService(BSTR protocolId, VARIANT service, VARIANT argument, VARIANT* result,
                                 VARIANT_BOOL* done) = 0;                                               // 7
  virtual HRESULT SendGenericRequest(BSTR serviceId, VARIANT clientKey, BSTR requestText, VARIANT request1,
                                     VARIANT request2, VARIANT_BOOL* done) = 0;                        // 8
  virtual HRESULT SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey, VARIANT_BOOL* done) = 0;  // 9
  virtual HRESULT CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) = 0;                      // 10
};

// A queued background read of a parameter list for a registered client.
struct IovFDTGenericCommService2 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0C");
  using Base = IDispatch;
  virtual HRESULT SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId, VARIANT_BOOL* done) = 0;  // 7
};

struct IovFDTCommClientTransferParamList : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0D");
  using Base = IDispatch;
  virtual HRESULT UploadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) = 0;    // 7
  virtual HRESULT DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) = 0;  // 8
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
  virtual HRESULT OnConnectionReleased(BSTR connectionId) = 0;                                      // 7
  virtual HRESULT OnConnected(BSTR connectionId, VARIANT_BOOL connected, VARIANT requestContext,
                              BSTR text) = 0;  // 8
  virtual HRESULT OnDisconnected(BSTR connectionId, VARIANT_BOOL disconnected, VARIANT requestContext,
                                 BSTR text) = 0;  // 9
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
  virtual HRESULT GetDeviceVerificationStatus(VARIANT* value, VARIANT_BOOL* done) = 0;    // 8
  virtual HRESULT SetDeviceVerificationStatus(VARIANT value, VARIANT_BOOL* done) = 0;     // 9
};

// The communication client's management of its connections.
struct IovFdtConnectionManagement : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0E");
  using Base = IDispatch;
  virtual HRESULT GetConnectionCount(LONG* count) = 0;                              // 7
  virtual HRESULT GetConnection(LONG index, IUnknown** connection) = 0;             // 8
  virtual HRESULT GetConnectionById(BSTR connectionId, IUnknown** connection) = 0;  // 9
  virtual HRESULT GetConnectionsOfProtocol(BSTR protocolId, VARIANT* ids) = 0;      // 10
  virtual HRESULT GetOnlineConnections(VARIANT* ids) = 0;                           // 11
  virtual HRESULT CreateConnection(BSTR protocolId, BSTR* connectionId) = 0;        // 12
  virtual HRESULT ReleaseConnection(BSTR connectionId) = 0;                         // 13
};

// A connection object as its communication client creates it.
struct IovFDTConnectionObject : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F0F");
  using Base = IDispatch;
  virtual HRESULT InitConnection(BSTR protocolId, IUnknown* dtm, IUnknown* channel, BSTR schemaPath,
                                 BSTR* connectionId) = 0;                                            // 7
  virtual HRESULT GetConnectionIds(BSTR* connectionId, BSTR* protocolId, VARIANT_BOOL* online) = 0;  // 8
};

// A connection holds the DTM that made it without keeping it alive (the DTM holds its connections,
// and the frame's channel may hold a connection longer than the DTM lives). The communication
// client detaches each connection it lets go of, and all of them before the DTM goes; a detached
// connection no longer reaches any DTM.
struct IovFdtConnectionDetach : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F90");
  using Base = IUnknown;
  virtual HRESULT DetachDtm() = 0;  // 3
};

// HART services of a connection with readable error texts ("0x%08X; %s" and S_FALSE on failure).
struct IovFdtHartServiceInterface : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F10");
  using Base = IDispatch;
  virtual HRESULT Connect(BYTE shortAddress, BSTR* error) = 0;  // 7
  virtual HRESULT ConnectWithAddress(BYTE manufacturerId, BYTE deviceTypeId, BYTE address1, BYTE address2,
                                     BYTE address3, BSTR* error) = 0;  // 8
  virtual HRESULT Disconnect(BSTR* error) = 0;                      // 9
  virtual HRESULT Abort(BSTR* error) = 0;                           // 10
  virtual HRESULT Transaction(BYTE command, BSTR requestData, BYTE* deviceStatus, BYTE* statusByte,
                              BSTR* responseData, BSTR* error) = 0;  // 11
};

// The connection class's own dual interface (no methods of its own).
struct IMyConnection : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C6E1D5B0-2F7A-4E39-8D14-5A9B3C2E7F11");
  using Base = IDispatch;
};

// CovFDT_GenericCommClientImpl: the communication client inside the DTM object (a base of the
// DTM class T). Every exchange between the DTM and the device passes through it.
//
// It holds the frame's channel, the protocol objects the DTM registers (not owned) and the one
// chosen for the device, the connection classes (which COM class serves which protocol), the
// connection objects it made, and the list transfers that are running. Reads, writes, transfers,
// generic services, direct accesses and subscriptions go to the connection of the parameter's (or
// the list's, or the named) protocol; the connections report their online state back through
// IovFdtConnectionObjectCallback and the client turns that into DTM states: any online connection
// makes the DTM dsONLINE, none makes it dsCOMMUNICATIONSET again.
//
// The work sits in the class CovFDT_GenericCommClientCore: the data model, the routing, the
// transfers, the subscriptions and the online and offline roads in
// CovFDT_GenericCommClientImpl.cpp; protocol choice, connection creation and management, bus
// information and information requests in CovFDT_GenericCommClientImpl_Connections.cpp; the
// device verification in CovFDT_GenericCommClientImpl_Verification.cpp. The template over the DTM
// class ties it to the object it is part of: it answers the core's questions about the owner.
//
// What T supplies: GetControllingUnknown(); ExecuteJob(job, argument) of the DTM thread;
// GetVerificationEvent(), GetVerificationTimeout(), IsExtendedBusInformation(),
// AreProtocolsAttached() and SetProtocolsAttached() of the DTM core; m_bsSchemaPath, the schema
// directory of its XML handler.
//
// Everything runs on the DTM's apartment thread and takes no lock. Calls out (to connections, the
// frame, the user) may pump messages, so a callback can change the lists meanwhile: no iterator or
// element reference is held across a call out; the lists are searched again afterwards, or a copy
// (holding its own references) is walked.
#pragma once

#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "communication/CovFDT_BaseProtocolImpl.h"
#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/ProgramIds.h"
#include "include/TranslationInterfaces.h"
#include "parameters/CFdtVariant.h"
#include "include/IovFDTParamList.h"
#include "include/IovFdtParameterHandlerSite.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "xml/WaitWithMessageLoop.h"
#include "xml/XmlHelpers.h"

// The result of the last device verification.
enum EDeviceVerificationStatus : ULONG {
  dvsNOTVERIFIED = 0,  // none since the last reset, or the last ended without a result
  dvsFAILED = 1,       // the device did not match and the user disconnected, or the DTM left dsONLINE
  dvsVERIFIED = 2,     // matched, the user kept the connection, or nothing to verify
  dvsRUNNING = 3,
};

namespace vkr::commclient {

// Protocol ids compare without case (a null text is the empty one).
inline bool SameProtocol(LPCOLESTR a, LPCOLESTR b) { return lstrcmpiW(a ? a : u"", b ? b : u"") == 0; }
// Connection and transfer ids compare as BSTRs, case included.
inline bool SameId(BSTR a, BSTR b) { return VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ; }
// A copy of text into *out; E_OUTOFMEMORY when a non-null text cannot be copied.
inline HRESULT CopyText(BSTR text, vkr::Bstr* out) {
  if (!text) {
    out->Reset();
    return S_OK;
  }
  BSTR copy = SysAllocStringLen(text, SysStringLen(text));
  if (!copy) return E_OUTOFMEMORY;
  out->Attach(copy);
  return S_OK;
}

}  // namespace vkr::commclient

class CovFDT_GenericCommClientCore : public IovFdtCommunicationClient4,
                                     public IovFdtSyncCommunicationClient,
                                     public IovFdtCommClientOnlineState,
                                     public IovFdtCommClientParameterProtocol,
                                     public IovFdtCommClientInfo,
                                     public IovFDTGenericCommService,
                                     public IovFDTCommClientTransferParamList,
                                     public IovFDTCommClientTransferParamList2,
                                     public IovFdtConnectionManagement,
                                     public IovFdtDirectParameterAccess,
                                     public IovFdtConnectionObjectCallback,
                                     public IovFdtSubscriptions,
                                     public IFdtCommunicationEvents,
                                     public IFdtCommunicationEvents2,
                                     public IovFDTGenericCommService2,
                                     public IovFdtDeviceVerification,
                                     public IovFdtParameterCommunication {
 public:
  // Which COM class makes the connection object of which protocol.
  struct ConnectionClassEntry {
    CLSID clsid{};
    vkr::Bstr protocolId;
  };
  // A connection object this client made. Copies hold their own reference and texts.
  struct ConnectionEntry {
    vkr::ComPtr<IUnknown> connection;
    vkr::Bstr protocolId;
    vkr::Bstr connectionId;  // handed out by the connection when it was initialised
    bool online = false;
  };
  // A list transfer that is running, so that it can be cancelled by its id.
  struct TransferEntry {
    vkr::Bstr transferId;
    vkr::ComPtr<IUnknown> connection;
  };

  // Registers the HART connection class; lists empty, no channel, no protocol chosen.
  CovFDT_GenericCommClientCore();
  CovFDT_GenericCommClientCore(const CovFDT_GenericCommClientCore&) = delete;
  CovFDT_GenericCommClientCore& operator=(const CovFDT_GenericCommClientCore&) = delete;
  // Releases the transfers, the connections and the channel; the protocol objects are the DTM's.
  virtual ~CovFDT_GenericCommClientCore();

  // For the DTM object's QueryInterface: the client's interface for riid with a reference, or
  // E_NOINTERFACE.
  HRESULT QueryCommClientInterface(REFIID riid, void** ppv);

  // Appends a protocol object (not owned; it lives as long as the DTM object).
  void RegisterProtocol(CovFDT_BaseProtocolImpl* protocol);
  std::size_t GetProtocolCount() const { return m_protocols.size(); }
  CovFDT_BaseProtocolImpl* GetCurrentProtocol() const { return m_currentProtocol; }

  // ---- IovFdtCommunicationClient4 ----
  // Takes the frame's channel and chooses the protocol when none is chosen yet; null gives the
  // channel back, releases the connections made for it and detaches the protocols.
  HRESULT SetCommunication(IFdtCommunication* channel) override;
  HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) override;
  HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;
  // The connection side of the interface; nothing on the DTM side.
  HRESULT ConnectWithRequest(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved1(VARIANT) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved2(VARIANT) override { return E_NOTIMPL; }

  // ---- IovFdtSyncCommunicationClient ----
  HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) override;
  HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;

  // ---- IovFdtCommClientOnlineState ----
  HRESULT GoOnline(VARIANT_BOOL* done) override;
  HRESULT GoOffline(VARIANT_BOOL* done) override;

  // ---- IovFdtCommClientParameterProtocol (_Connections.cpp) ----
  HRESULT GetBusInformation(BSTR* text, VARIANT_BOOL* done) override;
  HRESULT SetBusInformation(IUnknown* deviceDocument, VARIANT_BOOL* done) override;
  HRESULT GetParameterProtocolInfo(VARIANT id, BSTR* text) override;

  // ---- IovFdtCommClientInfo (_Connections.cpp) ----
  HRESULT InfoRequest(VARIANT kind, VARIANT argument, VARIANT* result) override;
  HRESULT InfoRequestEx(ULONG a1, ULONG a2, ULONG a3, ULONG a4, ULONG a5, ULONG a6, ULONG a7, ULONG a8, ULONG a9,
                        ULONG a10, ULONG a11, ULONG a12) override;

  // ---- IovFDTGenericCommService ----
  HRESULT RequestService(BSTR protocolId, VARIANT service, VARIANT argument, VARIANT* result,
                         VARIANT_BOOL* done) override;
  HRESULT SendGenericRequest(BSTR protocolId, VARIANT clientKey, BSTR requestText, VARIANT request1,
                             VARIANT request2, VARIANT_BOOL* done) override;
  HRESULT SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey, VARIANT_BOOL* done) override;
  HRESULT CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) override;

  // ---- IovFDTCommClientTransferParamList, IovFDTCommClientTransferParamList2 ----
  HRESULT UploadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) override;

  // ---- IovFdtConnectionManagement (_Connections.cpp) ----
  HRESULT GetConnectionCount(LONG* count) override;
  HRESULT GetConnection(LONG index, IUnknown** connection) override;
  HRESULT GetConnectionById(BSTR connectionId, IUnknown** connection) override;
  HRESULT GetConnectionsOfProtocol(BSTR protocolId, VARIANT* ids) override;
  HRESULT GetOnlineConnections(VARIANT* ids) override;
  HRESULT CreateConnection(BSTR protocolId, BSTR* connectionId) override;
  HRESULT ReleaseConnection(BSTR connectionId) override;

  // ---- IovFdtDirectParameterAccess ----
  HRESULT ReadParameterDirect(VARIANT id, VARIANT* value) override;
  HRESULT WriteParameterDirect(VARIANT id, VARIANT value) override;

  // ---- IovFdtConnectionObjectCallback ----
  HRESULT OnConnectionReleased(BSTR connectionId) override;
  HRESULT OnConnected(BSTR connectionId, VARIANT_BOOL connected, VARIANT requestContext, BSTR text) override;
  HRESULT OnDisconnected(BSTR connectionId, VARIANT_BOOL disconnected, VARIANT requestContext, BSTR text) override;

  // ---- IovFdtSubscriptions ----
  HRESULT Subscribe(BSTR protocolId, VARIANT item) override { return RequestSubscription(protocolId, item, u"subscribe"); }
  HRESULT Unsubscribe(BSTR protocolId, VARIANT item) override {
    return RequestSubscription(protocolId, item, u"unsubscribe");
  }

  // ---- IFdtCommunicationEvents, IFdtCommunicationEvents2 ----
  // The frame's answers go to the connection objects, which gave the frame their own sinks.
  HRESULT OnAbort(BSTR) override { return S_OK; }
  HRESULT OnConnectResponse(BSTR, BSTR) override { return S_OK; }
  HRESULT OnDisconnectResponse(BSTR, BSTR) override { return S_OK; }
  HRESULT OnTransactionResponse(BSTR, BSTR) override { return S_OK; }
  HRESULT OnParentVersion(BSTR, BSTR, BSTR) override { return S_OK; }

  // ---- IovFDTGenericCommService2 ----
  HRESULT SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId, VARIANT_BOOL* done) override;

  // ---- IovFdtDeviceVerification (_Verification.cpp) ----
  HRESULT VerifyDevice(VARIANT_BOOL* done) override;
  HRESULT GetDeviceVerificationStatus(VARIANT* status, VARIANT_BOOL* done) override;
  HRESULT SetDeviceVerificationStatus(VARIANT status, VARIANT_BOOL* done) override;

  // ---- Own operations ----
  // Chooses the current protocol: the only one, the one that alone accepts the device document,
  // or the first whose id the frame lists among its bus categories.
  virtual HRESULT ChooseProtocolByBusCategory(IUnknown* deviceDocument);
  // Connects a connection, listed or new, for the first supported protocol of the frame's
  // BusCategories document.
  virtual HRESULT SelectProtocol(BSTR supportedProtocols, VARIANT_BOOL* done);
  // The connection of the protocol (null: the first connection); a new reference.
  virtual HRESULT GetConnectionOfProtocol(BSTR protocolId, IUnknown** connection);
  // The connection of the first protocol the parameter's address information names that has one,
  // else the first connection.
  virtual HRESULT GetConnectionForParameter(VARIANT id, IUnknown** connection);
  // The connection of the list's first device parameter, else the first connection.
  virtual HRESULT GetConnectionForParameterList(VARIANT listId, IUnknown** connection);
  // Detaches the protocol objects when the DTM core says they were attached.
  virtual HRESULT UninitializeProtocols();
  // Attaches the protocol object to the DTM and tells the DTM core so.
  bool AttachProtocol(CovFDT_BaseProtocolImpl* protocol);
  // Builds the parameter table of the current protocol, or of the first registered one; S_FALSE
  // when there is no protocol, else the build's result.
  virtual HRESULT InitializeCurrentProtocol();
  // Runs the verification and signals the DTM core's verification event, whatever the result.
  virtual HRESULT CallAndSignal();
  virtual HRESULT RunDeviceVerification();
  virtual HRESULT CompareVerificationValues(VARIANT* ids, IovFdtDirectParameterAccess* connection);
  // The message text by id from the translation, or its English default.
  virtual HRESULT GetVerificationText(ULONG id, BSTR* text);
  // Makes, initialises and lists one connection object of the class; *created (when given)
  // receives a copy of the listed entry.
  virtual HRESULT CreateConnectionObject(const ConnectionClassEntry& connectionClass, ConnectionEntry* created);

 protected:
  // What the client needs of the DTM object it is part of; the template over the DTM class
  // answers. The object itself (its controlling unknown), asked for its interfaces.
  virtual IUnknown* GetClientOwner() = 0;
  // The DTM core's manual-reset verification event and how long a new verification waits for
  // one still running.
  virtual HANDLE OwnerVerificationEvent() = 0;
  virtual DWORD OwnerVerificationTimeout() = 0;
  // Whether the bus information lists every protocol, each in its own element.
  virtual bool OwnerExtendedBusInformation() = 0;
  // The DTM core's flag: the protocol objects were attached to the DTM.
  virtual bool OwnerProtocolsAttached() = 0;
  virtual void SetOwnerProtocolsAttached(bool attached) = 0;
  // The schema directory of the DTM's XML handler (null when not set).
  virtual BSTR OwnerSchemaPath() = 0;
  // Hands a job to the DTM thread.
  virtual HRESULT RunOwnerJob(ULONG job, VARIANT argument) = 0;

  // Hooks of the connection events: points where a DTM class may react; these do nothing.
  virtual HRESULT OnConnectionStateChanged(VARIANT /*requestContext*/, VARIANT_BOOL /*connected*/, BSTR /*text*/) {
    return S_OK;
  }
  virtual HRESULT OnConnectionDisconnected(VARIANT /*requestContext*/, VARIANT_BOOL /*disconnected*/,
                                           BSTR /*text*/) {
    return S_OK;
  }
  virtual HRESULT OnConnectionRemoved(BSTR /*connectionId*/) { return S_OK; }

  // The DTM state through IovFdtBaseDTM; a failure when the DTM does not answer.
  HRESULT GetDtmState(EDtmState* state);
  bool IsDtmOnline();
  template <class Q>
  vkr::ComPtr<Q> QueryOwner() {
    vkr::ComPtr<Q> q;
    GetClientOwner()->QueryInterface(Q::iid, q.PutVoid());
    return q;
  }
  // Stores the connection's online flag and moves the DTM state to match.
  HRESULT SetConnectionOnline(BSTR connectionId, bool online);
  // Removes the first entry with the id; E_FAIL when there is none.
  HRESULT RemoveConnectionEntry(BSTR connectionId);
  // Releases a connection the list no longer holds. It no longer reaches the DTM (it does not keep
  // the DTM alive, and may outlive it in the frame's channel; one still open there is aborted), and
  // it lets go of the frame's channel: the frame may still hold the connection as the sink of a
  // connect it never answered, and the two would keep each other alive.
  static void LetGo(ConnectionEntry& entry);
  // Index of the first entry with the id, or -1.
  LONG FindConnectionIndex(BSTR connectionId) const;
  static HRESULT CopyEntry(const ConnectionEntry& from, ConnectionEntry* to);
  // The ids of the entries the predicate selects, as a VARIANT array of VT_BSTR; S_FALSE and
  // VT_EMPTY when none is selected.
  template <class Pred>
  HRESULT CollectConnectionIds(VARIANT* ids, Pred select);
  // Sets the verification status the way everybody else does, through the interface.
  void SetVerificationStatus(EDeviceVerificationStatus status);
  HRESULT Progress(USHORT percent, USHORT mode);

  // Looks the connection up, asks it for I and calls it; the routing of every forwarded request.
  template <class I, class Call>
  static HRESULT Forward(HRESULT lookup, const vkr::ComPtr<IUnknown>& connection, Call call);
  HRESULT TransferParamList2(bool upload, VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done);
  HRESULT RequestSubscription(BSTR protocolId, VARIANT item, LPCOLESTR service);

  ULONG m_eDeviceVerificationStatus = dvsNOTVERIFIED;
  vkr::ComPtr<IFdtCommunication> m_channel;
  CovFDT_BaseProtocolImpl* m_currentProtocol = nullptr;  // points into m_protocols
  std::vector<ConnectionClassEntry> m_connectionClasses;
  std::vector<ConnectionEntry> m_connections;  // in creation order
  std::vector<CovFDT_BaseProtocolImpl*> m_protocols;
  std::vector<TransferEntry> m_transfers;
};

// The client as a base of the DTM class T: the core, told how to reach the object it is part of.
template <class T>
class CovFDT_GenericCommClientImpl : public CovFDT_GenericCommClientCore {
 protected:
  IUnknown* GetClientOwner() override { return Self()->GetControllingUnknown(); }
  HANDLE OwnerVerificationEvent() override { return Self()->GetVerificationEvent(); }
  DWORD OwnerVerificationTimeout() override { return Self()->GetVerificationTimeout(); }
  bool OwnerExtendedBusInformation() override { return Self()->IsExtendedBusInformation(); }
  bool OwnerProtocolsAttached() override { return Self()->AreProtocolsAttached(); }
  void SetOwnerProtocolsAttached(bool attached) override { Self()->SetProtocolsAttached(attached); }
  BSTR OwnerSchemaPath() override { return Self()->m_bsSchemaPath; }
  HRESULT RunOwnerJob(ULONG job, VARIANT argument) override { return Self()->ExecuteJob(job, argument); }

 private:
  T* Self() { return static_cast<T*>(this); }
};

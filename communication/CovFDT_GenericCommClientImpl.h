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
// This header holds the data model, the routing, the transfers, the subscriptions and the online
// and offline roads. Protocol choice, connection creation and management, bus information and
// information requests are in CovFDT_GenericCommClientImpl_Connections.h; the device
// verification in CovFDT_GenericCommClientImpl_Verification.h.
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

template <class T>
class CovFDT_GenericCommClientImpl : public IovFdtCommunicationClient4,
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
  CovFDT_GenericCommClientImpl() {
    ConnectionClassEntry hart;
    hart.clsid = CLSID_MyConnection;
    hart.protocolId = vkr::Bstr(kHartProtocolId);
    try {
      m_connectionClasses.push_back(std::move(hart));
    } catch (...) {
      // Without the class no connection can be made: GoOnline then answers E_UNEXPECTED.
    }
  }
  CovFDT_GenericCommClientImpl(const CovFDT_GenericCommClientImpl&) = delete;
  CovFDT_GenericCommClientImpl& operator=(const CovFDT_GenericCommClientImpl&) = delete;
  // Releases the transfers, the connections and the channel; the protocol objects are the DTM's.
  virtual ~CovFDT_GenericCommClientImpl() {
    m_transfers.clear();
    for (ConnectionEntry& e : m_connections) LetGo(e);
    m_connections.clear();
    m_connectionClasses.clear();
    m_channel = nullptr;
  }

  // For the DTM object's QueryInterface: the client's interface for riid with a reference, or
  // E_NOINTERFACE.
  HRESULT QueryCommClientInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IovFdtCommunicationClient4::iid)
      found = static_cast<IovFdtCommunicationClient4*>(this);
    else if (riid == IovFdtSyncCommunicationClient::iid)
      found = static_cast<IovFdtSyncCommunicationClient*>(this);
    else if (riid == IovFdtCommClientOnlineState::iid)
      found = static_cast<IovFdtCommClientOnlineState*>(this);
    else if (riid == IovFdtCommClientParameterProtocol::iid)
      found = static_cast<IovFdtCommClientParameterProtocol*>(this);
    else if (riid == IovFdtCommClientInfo::iid)
      found = static_cast<IovFdtCommClientInfo*>(this);
    else if (riid == IovFDTGenericCommService::iid)
      found = static_cast<IovFDTGenericCommService*>(this);
    else if (riid == IovFDTCommClientTransferParamList::iid)
      found = static_cast<IovFDTCommClientTransferParamList*>(this);
    else if (riid == IovFDTCommClientTransferParamList2::iid)
      found = static_cast<IovFDTCommClientTransferParamList2*>(this);
    else if (riid == IovFdtConnectionManagement::iid)
      found = static_cast<IovFdtConnectionManagement*>(this);
    else if (riid == IovFdtDirectParameterAccess::iid)
      found = static_cast<IovFdtDirectParameterAccess*>(this);
    else if (riid == IovFdtConnectionObjectCallback::iid)
      found = static_cast<IovFdtConnectionObjectCallback*>(this);
    else if (riid == IovFdtSubscriptions::iid)
      found = static_cast<IovFdtSubscriptions*>(this);
    else if (riid == IFdtCommunicationEvents::iid)
      found = static_cast<IFdtCommunicationEvents*>(this);
    else if (riid == IFdtCommunicationEvents2::iid)
      found = static_cast<IFdtCommunicationEvents2*>(this);
    else if (riid == IovFDTGenericCommService2::iid)
      found = static_cast<IovFDTGenericCommService2*>(this);
    else if (riid == IovFdtDeviceVerification::iid)
      found = static_cast<IovFdtDeviceVerification*>(this);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
  }

  // Appends a protocol object (not owned; it lives as long as the DTM object).
  void RegisterProtocol(CovFDT_BaseProtocolImpl* protocol) {
    if (protocol) m_protocols.push_back(protocol);
  }
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

  // ---- IovFdtCommClientParameterProtocol (Connections header) ----
  HRESULT GetBusInformation(BSTR* text, VARIANT_BOOL* done) override;
  HRESULT SetBusInformation(IUnknown* deviceDocument, VARIANT_BOOL* done) override;
  HRESULT GetParameterProtocolInfo(VARIANT id, BSTR* text) override;

  // ---- IovFdtCommClientInfo (Connections header) ----
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

  // ---- IovFdtConnectionManagement (Connections header) ----
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

  // ---- IovFdtDeviceVerification (Verification header) ----
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
  HRESULT GetDtmState(EDtmState* state) {
    vkr::ComPtr<IovFdtBaseDTM> dtm = QueryOwner<IovFdtBaseDTM>();
    if (!dtm) return E_NOINTERFACE;
    return dtm->GetDTMState(state);
  }
  bool IsDtmOnline() {
    EDtmState state = dsUNDEFINED;
    return SUCCEEDED(GetDtmState(&state)) && state == dsONLINE;
  }
  template <class Q>
  vkr::ComPtr<Q> QueryOwner() {
    vkr::ComPtr<Q> q;
    Self()->GetControllingUnknown()->QueryInterface(Q::iid, q.PutVoid());
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
  static void LetGo(ConnectionEntry& entry) {
    vkr::ComPtr<IovFdtConnectionDetach> detach;
    if (entry.connection &&
        SUCCEEDED(entry.connection->QueryInterface(IovFdtConnectionDetach::iid, detach.PutVoid())) && detach)
      detach->DetachDtm();
    vkr::ComPtr<IovFdtCommunicationClient4> connection;
    if (entry.connection &&
        SUCCEEDED(entry.connection->QueryInterface(IovFdtCommunicationClient4::iid, connection.PutVoid())) &&
        connection)
      connection->SetCommunication(nullptr);
    entry.connection = nullptr;
  }
  // Index of the first entry with the id, or -1.
  LONG FindConnectionIndex(BSTR connectionId) const {
    for (std::size_t i = 0; i < m_connections.size(); ++i)
      if (vkr::commclient::SameId(m_connections[i].connectionId, connectionId)) return static_cast<LONG>(i);
    return -1;
  }
  static HRESULT CopyEntry(const ConnectionEntry& from, ConnectionEntry* to) {
    to->connection = from.connection;
    to->online = from.online;
    HRESULT hr = vkr::commclient::CopyText(from.protocolId, &to->protocolId);
    if (SUCCEEDED(hr)) hr = vkr::commclient::CopyText(from.connectionId, &to->connectionId);
    return hr;
  }
  // The ids of the entries the predicate selects, as a VARIANT array of VT_BSTR; S_FALSE and
  // VT_EMPTY when none is selected.
  template <class Pred>
  HRESULT CollectConnectionIds(VARIANT* ids, Pred select);
  // Sets the verification status the way everybody else does, through the interface.
  void SetVerificationStatus(EDeviceVerificationStatus status) {
    VARIANT_BOOL done = VARIANT_FALSE;
    SetDeviceVerificationStatus(vkr::I4(static_cast<LONG>(status)), &done);
  }
  HRESULT Progress(USHORT percent, USHORT mode);

  // Looks the connection up, asks it for I and calls it; the routing of every forwarded request.
  template <class I, class Call>
  static HRESULT Forward(HRESULT lookup, const vkr::ComPtr<IUnknown>& connection, Call call) {
    if (FAILED(lookup)) return lookup;
    if (!connection) return E_POINTER;
    vkr::ComPtr<I> target;
    if (FAILED(connection->QueryInterface(I::iid, target.PutVoid())) || !target) return E_NOINTERFACE;
    return call(target.Get());
  }
  HRESULT TransferParamList2(bool upload, VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done);
  HRESULT RequestSubscription(BSTR protocolId, VARIANT item, LPCOLESTR service);

  ULONG m_eDeviceVerificationStatus = dvsNOTVERIFIED;
  vkr::ComPtr<IFdtCommunication> m_channel;
  CovFDT_BaseProtocolImpl* m_currentProtocol = nullptr;  // points into m_protocols
  std::vector<ConnectionClassEntry> m_connectionClasses;
  std::vector<ConnectionEntry> m_connections;  // in creation order
  std::vector<CovFDT_BaseProtocolImpl*> m_protocols;
  std::vector<TransferEntry> m_transfers;

 private:
  T* Self() { return static_cast<T*>(this); }
};

// ---- Lookups ------------------------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::GetConnectionOfProtocol(BSTR protocolId, IUnknown** connection) {
  if (!connection) return E_INVALIDARG;
  *connection = nullptr;
  if (m_connections.empty()) return E_UNEXPECTED;
  const ConnectionEntry* entry = nullptr;
  if (!protocolId) {
    entry = &m_connections.front();
  } else {
    for (const ConnectionEntry& e : m_connections)
      if (vkr::commclient::SameProtocol(e.protocolId, protocolId)) {
        entry = &e;
        break;
      }
    if (!entry) return E_FAIL;
  }
  if (!entry->connection) return E_POINTER;
  *connection = entry->connection.Get();
  (*connection)->AddRef();
  return S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::GetConnectionForParameter(VARIANT id, IUnknown** connection) {
  if (!connection) return E_INVALIDARG;
  *connection = nullptr;
  if (m_connections.empty()) return E_UNEXPECTED;
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
  if (!handler) return E_NOINTERFACE;
  vkr::Variant address;
  HRESULT hr = handler->GetParameterAddress(id, address.Ptr());
  if (FAILED(hr)) return hr;
  vkr::Variant text;
  hr = VariantChangeType(text.Ptr(), address.Ptr(), 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (text.vt != VT_BSTR || SysStringLen(text.bstrVal) < 5 || text.bstrVal[0] != u'<') return E_FAIL;

  // The address's protocols are read once per text for the process.
  std::vector<std::u16string> protocolIds;
  hr = ProtocolIdsOfAddress(text.bstrVal, &protocolIds);
  for (const std::u16string& id : protocolIds) {
    vkr::ComPtr<IUnknown> found;
    if (SUCCEEDED(GetConnectionOfProtocol(vkr::Bstr(id), found.Put())) && found) {
      *connection = found.Detach();
      return S_OK;
    }
  }
  if (FAILED(hr)) return hr;
  return GetConnectionOfProtocol(nullptr, connection);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::GetConnectionForParameterList(VARIANT listId, IUnknown** connection) {
  if (!connection) return E_INVALIDARG;
  *connection = nullptr;
  if (m_connections.empty()) return E_UNEXPECTED;
  vkr::ComPtr<IovFDTParamList> lists = QueryOwner<IovFDTParamList>();
  if (!lists) return E_NOINTERFACE;
  vkr::Variant members;
  VARIANT_BOOL found = VARIANT_FALSE;
  HRESULT hr = lists->GetMembers(listId, members.Ptr(), &found);
  if (FAILED(hr)) return hr;
  if (!found) return E_FAIL;
  if (members.vt == VT_EMPTY) return GetConnectionOfProtocol(nullptr, connection);
  // Only a one-dimensional array of VARIANTs is read element by element.
  VARTYPE elementType = VT_EMPTY;
  if (members.vt != (VT_ARRAY | VT_VARIANT) || !members.parray || SafeArrayGetDim(members.parray) != 1 ||
      FAILED(SafeArrayGetVartype(members.parray, &elementType)) || elementType != VT_VARIANT)
    return E_UNEXPECTED;
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
  if (!handler) return E_NOINTERFACE;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(members.parray, 1, &lower);
  SafeArrayGetUBound(members.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    vkr::Variant element;
    hr = SafeArrayGetElement(members.parray, &i, element.Ptr());
    if (FAILED(hr)) return hr;
    vkr::Variant addressed;
    hr = handler->GetAddressedWord(element, addressed.Ptr());
    if (FAILED(hr)) return hr;
    if (addressed.vt != VT_UI4) return E_UNEXPECTED;
    if (addressed.ulVal == 1) return GetConnectionForParameter(element, connection);
  }
  return GetConnectionOfProtocol(nullptr, connection);
}

// ---- Routing ------------------------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::ReadParameter(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtCommunicationClient4>(hr, c, [&](auto* i) { return i->ReadParameter(id, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtCommunicationClient4>(hr, c, [&](auto* i) { return i->WriteParameter(id, value, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::ReadParameterSync(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtSyncCommunicationClient>(hr, c, [&](auto* i) { return i->ReadParameterSync(id, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtSyncCommunicationClient>(hr, c,
                                                [&](auto* i) { return i->WriteParameterSync(id, value, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::RequestService(BSTR protocolId, VARIANT service, VARIANT argument,
                                                        VARIANT* result, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_channel) return S_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(protocolId, c.Put());
  return Forward<IovFDTGenericCommService>(
      hr, c, [&](auto* i) { return i->RequestService(protocolId, service, argument, result, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::SendGenericRequest(BSTR protocolId, VARIANT clientKey, BSTR requestText,
                                                            VARIANT request1, VARIANT request2, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_channel) return S_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(protocolId, c.Put());
  return Forward<IovFDTGenericCommService>(hr, c, [&](auto* i) {
    return i->SendGenericRequest(protocolId, clientKey, requestText, request1, request2, done);
  });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey,
                                                                 VARIANT_BOOL* done) {
  if (!client || !clientKey || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(nullptr, c.Put());
  return Forward<IovFDTGenericCommService>(
      hr, c, [&](auto* i) { return i->SendGenericRequestAsync(client, clientKey, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(nullptr, c.Put());
  return Forward<IovFDTGenericCommService>(hr, c, [&](auto* i) { return i->CancelGenericRequest(clientKey, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId,
                                                              VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameterList(listId, c.Put());
  return Forward<IovFDTGenericCommService2>(
      hr, c, [&](auto* i) { return i->SendGenericRequestEx(clientKey, requestId, listId, done); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::ReadParameterDirect(VARIANT id, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtDirectParameterAccess>(hr, c, [&](auto* i) { return i->ReadParameterDirect(id, value); });
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::WriteParameterDirect(VARIANT id, VARIANT value) {
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtDirectParameterAccess>(hr, c, [&](auto* i) { return i->WriteParameterDirect(id, value); });
}

// ---- List transfers -----------------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::TransferParamList2(bool upload, VARIANT listId, BSTR transferId,
                                                            VARIANT_BOOL flag, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!QueryOwner<IovFdtBaseDTM>()) return E_POINTER;
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  HRESULT hr = GetConnectionForParameterList(listId, c.Put());
  if (FAILED(hr)) return hr;
  if (!c) return E_POINTER;
  vkr::ComPtr<IovFDTCommClientTransferParamList2> target;
  if (FAILED(c->QueryInterface(IovFDTCommClientTransferParamList2::iid, target.PutVoid())) || !target)
    return E_NOINTERFACE;
  const bool tracked = SysStringLen(transferId) > 0;
  if (tracked) {
    TransferEntry entry;
    hr = vkr::commclient::CopyText(transferId, &entry.transferId);
    if (FAILED(hr)) return hr;
    entry.connection = c;
    try {
      m_transfers.push_back(std::move(entry));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  hr = upload ? target->UploadParamList2(listId, transferId, flag, done)
              : target->DownloadParamList2(listId, transferId, flag, done);
  if (tracked) {
    // Searched again: a cancel or a nested transfer may have changed the list meanwhile.
    for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it)
      if (vkr::commclient::SameId(it->transferId, transferId)) {
        m_transfers.erase(it);
        break;
      }
  }
  return hr;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag,
                                                          VARIANT_BOOL* done) {
  return TransferParamList2(true, listId, transferId, flag, done);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag,
                                                            VARIANT_BOOL* done) {
  return TransferParamList2(false, listId, transferId, flag, done);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::UploadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return UploadParamList2(listId, nullptr, flag, done);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return DownloadParamList2(listId, nullptr, flag, done);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (SysStringLen(transferId) == 0) return S_FALSE;
  vkr::ComPtr<IUnknown> connection;
  bool found = false;
  for (const TransferEntry& e : m_transfers) {
    if (!e.transferId) continue;
    if (vkr::commclient::SameId(e.transferId, transferId)) {
      connection = e.connection;
      found = true;
      break;
    }
  }
  if (!found) return S_FALSE;
  return Forward<IovFDTCommClientTransferParamList2>(
      S_OK, connection, [&](auto* i) { return i->CancelParamListTransfer(transferId, done); });
}

// ---- Subscriptions ------------------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::RequestSubscription(BSTR protocolId, VARIANT item, LPCOLESTR service) {
  vkr::ComPtr<IUnknown> c;
  HRESULT hr = GetConnectionOfProtocol(protocolId, c.Put());
  if (FAILED(hr)) return hr;
  if (!c) return E_NOINTERFACE;
  vkr::ComPtr<IovFDTGenericCommService> generic;
  if (FAILED(c->QueryInterface(IovFDTGenericCommService::iid, generic.PutVoid())) || !generic) return E_NOINTERFACE;
  vkr::Variant name;
  name.vt = VT_BSTR;
  name.bstrVal = SysAllocString(service);
  if (!name.bstrVal) return E_OUTOFMEMORY;
  vkr::Variant result;
  VARIANT_BOOL done = VARIANT_FALSE;
  // Only the service's done flag counts: its HRESULT and result say nothing more here.
  generic->RequestService(protocolId, name, item, result.Ptr(), &done);
  return done ? S_OK : E_FAIL;
}

// ---- Channel and protocols ----------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::SetCommunication(IFdtCommunication* channel) {
  m_channel = nullptr;
  if (!channel) {
    // The connections were made for the channel the frame takes back and hold it (and the DTM):
    // they go with it. Taken out of the lists first, as releasing one may call back here.
    std::vector<TransferEntry> transfers;
    transfers.swap(m_transfers);
    std::vector<ConnectionEntry> connections;
    connections.swap(m_connections);
    transfers.clear();
    for (ConnectionEntry& entry : connections) LetGo(entry);
    connections.clear();
    UninitializeProtocols();
    return S_OK;
  }
  vkr::ComPtr<IFdtCommunication> held;
  const HRESULT hr = channel->QueryInterface(IFdtCommunication::iid, held.PutVoid());
  if (FAILED(hr)) return hr;
  if (!held) return E_FAIL;
  m_channel = held;
  if (m_currentProtocol) return S_OK;
  // A protocol the frame does not offer is found out when going online.
  ChooseProtocolByBusCategory(nullptr);
  return S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::UninitializeProtocols() {
  if (!Self()->AreProtocolsAttached()) return S_OK;
  m_currentProtocol = nullptr;
  for (CovFDT_BaseProtocolImpl* protocol : m_protocols)
    if (protocol) protocol->DetachDtm();
  Self()->SetProtocolsAttached(false);
  return S_OK;
}

template <class T>
bool CovFDT_GenericCommClientImpl<T>::AttachProtocol(CovFDT_BaseProtocolImpl* protocol) {
  // An attached protocol object holds the DTM's parameter handler, a reference to the DTM that
  // owns it: the DTM core's flag makes dropping the channel detach it again, or the DTM would
  // keep itself alive.
  Self()->SetProtocolsAttached(true);
  return protocol->AttachDtm(Self()->GetControllingUnknown());
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::InitializeCurrentProtocol() {
  CovFDT_BaseProtocolImpl* protocol = m_currentProtocol;
  if (!protocol && !m_protocols.empty()) protocol = m_protocols.front();
  if (!protocol) return S_FALSE;
  // The device type is initialised before the frame hands over its channel, so the protocol may
  // not know the DTM's parameter model yet: without it the table cannot be built at all.
  if (!protocol->GetParameterHandler() && !AttachProtocol(protocol)) return E_NOINTERFACE;
  return protocol->InitParameterTable();
}

// ---- Online and offline -------------------------------------------------------------------

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::GoOnline(VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_channel) return E_POINTER;
  EDtmState state = dsUNDEFINED;
  if (FAILED(GetDtmState(&state)) || state != dsGOINGONLINE) return E_FAIL;
  if (m_connectionClasses.empty()) return E_UNEXPECTED;
  vkr::Bstr protocols;
  const HRESULT hr = m_channel->GetSupportedProtocols(protocols.Put());
  if (FAILED(hr)) return hr;
  return SelectProtocol(protocols, done);
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::GoOffline(VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  EDtmState state = dsUNDEFINED;
  HRESULT hr = GetDtmState(&state);
  if (FAILED(hr)) return hr;
  if (state != dsGOINGOFFLINE) return E_FAIL;
  // A copy: the connections report their disconnection while they wait, which removes entries.
  std::vector<vkr::ComPtr<IUnknown>> connections;
  try {
    for (const ConnectionEntry& e : m_connections) connections.push_back(e.connection);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  for (const vkr::ComPtr<IUnknown>& c : connections) {
    if (!c) continue;
    vkr::ComPtr<IovFdtCommClientOnlineState> online;
    if (FAILED(c->QueryInterface(IovFdtCommClientOnlineState::iid, online.PutVoid())) || !online) continue;
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = online->GoOffline(&ok);
    if (FAILED(hr)) return hr;
    if (!ok) return S_FALSE;
  }
  *done = VARIANT_TRUE;
  return S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::SetConnectionOnline(BSTR connectionId, bool online) {
  const LONG index = FindConnectionIndex(connectionId);
  if (index < 0) return E_FAIL;
  m_connections[static_cast<std::size_t>(index)].online = online;
  vkr::ComPtr<IovFdtBaseDTM> dtm = QueryOwner<IovFdtBaseDTM>();
  EDtmState state = dsCOMMUNICATIONSET;
  if (dtm) dtm->GetDTMState(&state);
  if ((state == dsCOMMUNICATIONSET && !online) || (state == dsONLINE && online)) return S_OK;
  bool any = false;
  for (const ConnectionEntry& e : m_connections) any = any || e.online;
  if (!dtm) return S_OK;
  if (any) {
    if (state != dsONLINE && state != dsGOINGOFFLINE) dtm->SetDTMState(dsONLINE);
  } else if (state == dsGOINGOFFLINE || state == dsGOINGONLINE || state == dsONLINE) {
    dtm->SetDTMState(dsCOMMUNICATIONSET);
  }
  return S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::RemoveConnectionEntry(BSTR connectionId) {
  const LONG index = FindConnectionIndex(connectionId);
  if (index < 0) return E_FAIL;
  // Taken out first: releasing the connection may call back into this client.
  ConnectionEntry gone = std::move(m_connections[static_cast<std::size_t>(index)]);
  m_connections.erase(m_connections.begin() + index);
  LetGo(gone);
  return S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::OnConnected(BSTR connectionId, VARIANT_BOOL connected,
                                                     VARIANT requestContext, BSTR text) {
  HRESULT hr = OnConnectionStateChanged(requestContext, connected, text);
  if (FAILED(hr)) return hr;
  hr = SetConnectionOnline(connectionId, connected != VARIANT_FALSE);
  return FAILED(hr) ? hr : S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::OnDisconnected(BSTR connectionId, VARIANT_BOOL disconnected,
                                                        VARIANT requestContext, BSTR text) {
  HRESULT hr = SetConnectionOnline(connectionId, disconnected == VARIANT_FALSE);
  if (FAILED(hr)) return hr;
  OnConnectionDisconnected(requestContext, disconnected, text);
  if (!disconnected) return S_OK;
  hr = RemoveConnectionEntry(connectionId);
  return FAILED(hr) ? hr : S_OK;
}

template <class T>
HRESULT CovFDT_GenericCommClientImpl<T>::OnConnectionReleased(BSTR connectionId) {
  const HRESULT offline = SetConnectionOnline(connectionId, false);
  const HRESULT removed = RemoveConnectionEntry(connectionId);
  const HRESULT hook = OnConnectionRemoved(connectionId);
  if (FAILED(offline)) return offline;
  if (FAILED(removed)) return removed;
  return FAILED(hook) ? hook : S_OK;
}

#include "communication/CovFDT_GenericCommClientImpl_Connections.h"
#include "communication/CovFDT_GenericCommClientImpl_Verification.h"

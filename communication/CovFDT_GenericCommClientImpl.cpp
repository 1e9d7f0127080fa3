// The communication client's data model, routing, list transfers, subscriptions and online and
// offline roads. See CovFDT_GenericCommClientImpl.h.
#include <string>
#include <utility>
#include <vector>

#include "communication/CovFDT_GenericCommClientImpl.h"
#include "include/CommunicationInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/IovFDTParamList.h"
#include "include/ParameterHandlerInterfaces.h"
#include "include/ProgramIds.h"
#include "platform/platform.h"
#include "xml/XmlHelpers.h"

// ---- Construction and the object's interfaces ----------------------------------------------

CovFDT_GenericCommClientCore::CovFDT_GenericCommClientCore() {
  ConnectionClassEntry hart;
  hart.clsid = CLSID_MyConnection;
  hart.protocolId = vkr::Bstr(kHartProtocolId);
  try {
    m_connectionClasses.push_back(std::move(hart));
  } catch (...) {
    // Without the class no connection can be made: GoOnline then answers E_UNEXPECTED.
  }
}

CovFDT_GenericCommClientCore::~CovFDT_GenericCommClientCore() {
  m_transfers.clear();
  for (ConnectionEntry& e : m_connections) LetGo(e);
  m_connections.clear();
  m_connectionClasses.clear();
  m_channel = nullptr;
}

HRESULT CovFDT_GenericCommClientCore::QueryCommClientInterface(REFIID riid, void** ppv) {
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

void CovFDT_GenericCommClientCore::RegisterProtocol(CovFDT_BaseProtocolImpl* protocol) {
  if (protocol) m_protocols.push_back(protocol);
}

// ---- Helpers ------------------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::GetDtmState(EDtmState* state) {
  vkr::ComPtr<IovFdtBaseDTM> dtm = QueryOwner<IovFdtBaseDTM>();
  if (!dtm) return E_NOINTERFACE;
  return dtm->GetDTMState(state);
}

bool CovFDT_GenericCommClientCore::IsDtmOnline() {
  EDtmState state = dsUNDEFINED;
  return SUCCEEDED(GetDtmState(&state)) && state == dsONLINE;
}

void CovFDT_GenericCommClientCore::LetGo(ConnectionEntry& entry) {
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

LONG CovFDT_GenericCommClientCore::FindConnectionIndex(BSTR connectionId) const {
  for (std::size_t i = 0; i < m_connections.size(); ++i)
    if (vkr::commclient::SameId(m_connections[i].connectionId, connectionId)) return static_cast<LONG>(i);
  return -1;
}

template <class I, class Call>
HRESULT CovFDT_GenericCommClientCore::Forward(HRESULT lookup, const vkr::ComPtr<IUnknown>& connection, Call call) {
  if (FAILED(lookup)) return lookup;
  if (!connection) return E_POINTER;
  vkr::ComPtr<I> target;
  if (FAILED(connection->QueryInterface(I::iid, target.PutVoid())) || !target) return E_NOINTERFACE;
  return call(target.Get());
}

// ---- Lookups ------------------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::GetConnectionOfProtocol(BSTR protocolId, IUnknown** connection) {
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

HRESULT CovFDT_GenericCommClientCore::GetConnectionForParameter(VARIANT id, IUnknown** connection) {
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

HRESULT CovFDT_GenericCommClientCore::GetConnectionForParameterList(VARIANT listId, IUnknown** connection) {
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

HRESULT CovFDT_GenericCommClientCore::ReadParameter(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtCommunicationClient4>(hr, c, [&](auto* i) { return i->ReadParameter(id, done); });
}

HRESULT CovFDT_GenericCommClientCore::WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtCommunicationClient4>(hr, c, [&](auto* i) { return i->WriteParameter(id, value, done); });
}

HRESULT CovFDT_GenericCommClientCore::ReadParameterSync(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtSyncCommunicationClient>(hr, c, [&](auto* i) { return i->ReadParameterSync(id, done); });
}

HRESULT CovFDT_GenericCommClientCore::WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtSyncCommunicationClient>(hr, c,
                                                [&](auto* i) { return i->WriteParameterSync(id, value, done); });
}

HRESULT CovFDT_GenericCommClientCore::RequestService(BSTR protocolId, VARIANT service, VARIANT argument,
                                                     VARIANT* result, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_channel) return S_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(protocolId, c.Put());
  return Forward<IovFDTGenericCommService>(
      hr, c, [&](auto* i) { return i->RequestService(protocolId, service, argument, result, done); });
}

HRESULT CovFDT_GenericCommClientCore::SendGenericRequest(BSTR protocolId, VARIANT clientKey, BSTR requestText,
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

HRESULT CovFDT_GenericCommClientCore::SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey,
                                                              VARIANT_BOOL* done) {
  if (!client || !clientKey || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(nullptr, c.Put());
  return Forward<IovFDTGenericCommService>(
      hr, c, [&](auto* i) { return i->SendGenericRequestAsync(client, clientKey, done); });
}

HRESULT CovFDT_GenericCommClientCore::CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionOfProtocol(nullptr, c.Put());
  return Forward<IovFDTGenericCommService>(hr, c, [&](auto* i) { return i->CancelGenericRequest(clientKey, done); });
}

HRESULT CovFDT_GenericCommClientCore::SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId,
                                                           VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameterList(listId, c.Put());
  return Forward<IovFDTGenericCommService2>(
      hr, c, [&](auto* i) { return i->SendGenericRequestEx(clientKey, requestId, listId, done); });
}

HRESULT CovFDT_GenericCommClientCore::ReadParameterDirect(VARIANT id, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtDirectParameterAccess>(hr, c, [&](auto* i) { return i->ReadParameterDirect(id, value); });
}

HRESULT CovFDT_GenericCommClientCore::WriteParameterDirect(VARIANT id, VARIANT value) {
  if (!IsDtmOnline()) return E_FAIL;
  vkr::ComPtr<IUnknown> c;
  const HRESULT hr = GetConnectionForParameter(id, c.Put());
  return Forward<IovFdtDirectParameterAccess>(hr, c, [&](auto* i) { return i->WriteParameterDirect(id, value); });
}

// ---- List transfers -----------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::TransferParamList2(bool upload, VARIANT listId, BSTR transferId,
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

HRESULT CovFDT_GenericCommClientCore::UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag,
                                                       VARIANT_BOOL* done) {
  return TransferParamList2(true, listId, transferId, flag, done);
}

HRESULT CovFDT_GenericCommClientCore::DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag,
                                                         VARIANT_BOOL* done) {
  return TransferParamList2(false, listId, transferId, flag, done);
}

HRESULT CovFDT_GenericCommClientCore::UploadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return UploadParamList2(listId, nullptr, flag, done);
}

HRESULT CovFDT_GenericCommClientCore::DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return DownloadParamList2(listId, nullptr, flag, done);
}

HRESULT CovFDT_GenericCommClientCore::CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) {
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

HRESULT CovFDT_GenericCommClientCore::RequestSubscription(BSTR protocolId, VARIANT item, LPCOLESTR service) {
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

HRESULT CovFDT_GenericCommClientCore::SetCommunication(IFdtCommunication* channel) {
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

HRESULT CovFDT_GenericCommClientCore::UninitializeProtocols() {
  if (!OwnerProtocolsAttached()) return S_OK;
  m_currentProtocol = nullptr;
  for (CovFDT_BaseProtocolImpl* protocol : m_protocols)
    if (protocol) protocol->DetachDtm();
  SetOwnerProtocolsAttached(false);
  return S_OK;
}

bool CovFDT_GenericCommClientCore::AttachProtocol(CovFDT_BaseProtocolImpl* protocol) {
  // An attached protocol object holds the DTM's parameter handler, a reference to the DTM that
  // owns it: the DTM core's flag makes dropping the channel detach it again, or the DTM would
  // keep itself alive.
  SetOwnerProtocolsAttached(true);
  return protocol->AttachDtm(GetClientOwner());
}

HRESULT CovFDT_GenericCommClientCore::InitializeCurrentProtocol() {
  CovFDT_BaseProtocolImpl* protocol = m_currentProtocol;
  if (!protocol && !m_protocols.empty()) protocol = m_protocols.front();
  if (!protocol) return S_FALSE;
  // The device type is initialised before the frame hands over its channel, so the protocol may
  // not know the DTM's parameter model yet: without it the table cannot be built at all.
  if (!protocol->GetParameterHandler()) {
    if (!AttachProtocol(protocol)) return E_NOINTERFACE;
    // Attaching has just built the table from this very parameter model.
    protocol->ReuseTableOfAttach();
  }
  return protocol->InitParameterTable();
}

// ---- Online and offline -------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::GoOnline(VARIANT_BOOL* done) {
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

HRESULT CovFDT_GenericCommClientCore::GoOffline(VARIANT_BOOL* done) {
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

HRESULT CovFDT_GenericCommClientCore::SetConnectionOnline(BSTR connectionId, bool online) {
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

HRESULT CovFDT_GenericCommClientCore::RemoveConnectionEntry(BSTR connectionId) {
  const LONG index = FindConnectionIndex(connectionId);
  if (index < 0) return E_FAIL;
  // Taken out first: releasing the connection may call back into this client.
  ConnectionEntry gone = std::move(m_connections[static_cast<std::size_t>(index)]);
  m_connections.erase(m_connections.begin() + index);
  LetGo(gone);
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::OnConnected(BSTR connectionId, VARIANT_BOOL connected,
                                                  VARIANT requestContext, BSTR text) {
  HRESULT hr = OnConnectionStateChanged(requestContext, connected, text);
  if (FAILED(hr)) return hr;
  hr = SetConnectionOnline(connectionId, connected != VARIANT_FALSE);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_GenericCommClientCore::OnDisconnected(BSTR connectionId, VARIANT_BOOL disconnected,
                                                     VARIANT requestContext, BSTR text) {
  HRESULT hr = SetConnectionOnline(connectionId, disconnected == VARIANT_FALSE);
  if (FAILED(hr)) return hr;
  OnConnectionDisconnected(requestContext, disconnected, text);
  if (!disconnected) return S_OK;
  hr = RemoveConnectionEntry(connectionId);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_GenericCommClientCore::OnConnectionReleased(BSTR connectionId) {
  const HRESULT offline = SetConnectionOnline(connectionId, false);
  const HRESULT removed = RemoveConnectionEntry(connectionId);
  const HRESULT hook = OnConnectionRemoved(connectionId);
  if (FAILED(offline)) return offline;
  if (FAILED(removed)) return removed;
  return FAILED(hook) ? hook : S_OK;
}

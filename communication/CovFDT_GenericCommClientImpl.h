// CovFDT_GenericCommClientImpl: the communication client inside the DTM object (a base of the
// DTM class T). It keeps the frame's channel, the protocol objects the DTM registers and the
// current one, the connection entries with their connected flags, and the device-verification
// value, and hands out its interfaces from the DTM object's QueryInterface.
//
// Here the client keeps that state, records the connections' connected flags (which move the DTM
// between its communication states) and answers the verification value. Reading, writing,
// connecting, subscriptions, transfers and the verification itself belong to the communication
// subsystem: until it arrives they answer E_NOTIMPL. Everything runs on the DTM's apartment
// thread.
#pragma once

#include <vector>

#include "communication/CommunicationInterfaces.h"
#include "communication/CovFDT_BaseProtocolImpl.h"
#include "dtm/DtmInterfaces.h"
#include "parameters/IovFdtParameterHandlerSite.h"
#include "platform/platform.h"

template <class T>
class CovFDT_GenericCommClientImpl : public IovFdtCommunicationClient4,
                                     public IovFdtSyncCommunicationClient,
                                     public IovFdtCommClientOnlineState,
                                     public IovFdtCommClientParameterProtocol,
                                     public IovFDTGenericCommService,
                                     public IovFDTCommClientTransferParamList2,
                                     public IovFdtDirectParameterAccess,
                                     public IovFdtConnectionObjectCallback,
                                     public IovFdtSubscriptions,
                                     public IovFdtDeviceVerification,
                                     public IovFdtParameterCommunication {
 public:
  CovFDT_GenericCommClientImpl() = default;
  CovFDT_GenericCommClientImpl(const CovFDT_GenericCommClientImpl&) = delete;
  CovFDT_GenericCommClientImpl& operator=(const CovFDT_GenericCommClientImpl&) = delete;
  virtual ~CovFDT_GenericCommClientImpl() = default;

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
    else if (riid == IovFDTGenericCommService::iid)
      found = static_cast<IovFDTGenericCommService*>(this);
    else if (riid == IovFDTCommClientTransferParamList2::iid)
      found = static_cast<IovFDTCommClientTransferParamList2*>(this);
    else if (riid == IovFdtDirectParameterAccess::iid)
      found = static_cast<IovFdtDirectParameterAccess*>(this);
    else if (riid == IovFdtConnectionObjectCallback::iid)
      found = static_cast<IovFdtConnectionObjectCallback*>(this);
    else if (riid == IovFdtSubscriptions::iid)
      found = static_cast<IovFdtSubscriptions*>(this);
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

  // Initialises the parameter table of the current protocol, or of the first registered one;
  // S_FALSE when no protocol is registered.
  HRESULT InitializeCurrentProtocol() {
    CovFDT_BaseProtocolImpl* protocol = m_currentProtocol;
    if (!protocol && !m_protocols.empty()) protocol = m_protocols.front();
    if (!protocol) return S_FALSE;
    if (!protocol->GetParameterHandler()) return protocol->AttachDtm(Self()->GetControllingUnknown()) ? S_OK : E_NOINTERFACE;
    return protocol->InitParameterTable();
  }
  // Detaches the protocol objects from the channel: none is current any more.
  void UninitializeProtocols() { m_currentProtocol = nullptr; }

  // A connection the client tracks, by its key, not yet connected. The connection objects come
  // with the communication subsystem; tests add entries this way.
  void AddConnectionEntry(LPCOLESTR key) { m_connections.push_back({vkr::Bstr(key), false}); }
  bool IsAnyConnectionConnected() const {
    for (const ConnectionEntry& e : m_connections)
      if (e.connected) return true;
    return false;
  }

  // IovFdtCommunicationClient4
  HRESULT SetCommunication(IFdtCommunication* channel) override {
    m_channel = nullptr;
    if (!channel) {
      UninitializeProtocols();
      return S_OK;
    }
    vkr::ComPtr<IFdtCommunication> held;
    const HRESULT hr = channel->QueryInterface(IFdtCommunication::iid, held.PutVoid());
    if (FAILED(hr)) return hr;
    if (!held) return E_FAIL;
    m_channel = held;
    // The bus categories decide among several protocols; this DTM registers one.
    if (!m_currentProtocol && !m_protocols.empty()) m_currentProtocol = m_protocols.front();
    return S_OK;
  }
  HRESULT ReadParameter(VARIANT, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT WriteParameter(VARIANT, VARIANT, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT ConnectWithRequest(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved1(VARIANT) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved2(VARIANT) override { return E_NOTIMPL; }

  // IovFdtSyncCommunicationClient
  HRESULT ReadParameterSync(VARIANT, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT WriteParameterSync(VARIANT, VARIANT, VARIANT_BOOL* done) override { return NotYet(done); }

  // IovFdtCommClientOnlineState
  HRESULT GoOnline(VARIANT_BOOL* ok) override { return NotYet(ok); }
  HRESULT GoOffline(VARIANT_BOOL* ok) override { return NotYet(ok); }

  // IovFdtCommClientParameterProtocol
  HRESULT GetBusInformation(BSTR* information, VARIANT_BOOL* done) override {
    if (information) *information = nullptr;
    return NotYet(done);
  }
  HRESULT SetBusInformation(IUnknown*, VARIANT_BOOL* ok) override { return NotYet(ok); }
  HRESULT GetParameterProtocolInfo(VARIANT, BSTR* text) override {
    if (text) *text = nullptr;
    return E_NOTIMPL;
  }

  // IovFDTGenericCommService
  HRESULT RequestService(BSTR, VARIANT, VARIANT, VARIANT*, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT SendGenericRequest(BSTR, VARIANT, BSTR, VARIANT, VARIANT, VARIANT_BOOL* done) override {
    return NotYet(done);
  }
  HRESULT SendGenericRequestAsync(IUnknown*, VARIANT*, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT CancelGenericRequest(VARIANT, VARIANT_BOOL* done) override { return NotYet(done); }

  // IovFDTCommClientTransferParamList2 (and the parameter handler's cancel)
  HRESULT UploadParamList2(VARIANT, BSTR, VARIANT_BOOL, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT DownloadParamList2(VARIANT, BSTR, VARIANT_BOOL, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT CancelParamListTransfer(BSTR, VARIANT_BOOL* done) override { return NotYet(done); }

  // IovFdtDirectParameterAccess
  HRESULT ReadParameterDirect(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WriteParameterDirect(VARIANT, VARIANT) override { return E_NOTIMPL; }

  // IovFdtConnectionObjectCallback
  HRESULT OnConnectionReleased(BSTR) override { return E_NOTIMPL; }
  // Runs the connect hook (its failure is returned), then records the connection as connected
  // when success is true.
  HRESULT OnConnected(BSTR key, VARIANT_BOOL success, VARIANT response, BSTR) override {
    const HRESULT hr = OnConnectionStateChanged(key, success, response);
    if (FAILED(hr)) return hr;
    return success ? RecordConnectionState(key, true) : S_OK;
  }
  // Records the connection as not connected when success is true, then runs the disconnect hook.
  HRESULT OnDisconnected(BSTR key, VARIANT_BOOL success, VARIANT response, BSTR) override {
    HRESULT hr = S_OK;
    if (success) hr = RecordConnectionState(key, false);
    if (FAILED(hr)) return hr;
    return OnConnectionDisconnected(key, success, response);
  }

  // IovFdtSubscriptions
  HRESULT Subscribe(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT Unsubscribe(BSTR, VARIANT) override { return E_NOTIMPL; }

  // IovFdtDeviceVerification
  HRESULT VerifyDevice(VARIANT_BOOL* verified) override { return NotYet(verified); }
  HRESULT GetDeviceVerificationStatus(VARIANT* value, VARIANT_BOOL* done) override {
    if (!value || !done) return E_INVALIDARG;
    VariantClear(value);
    value->vt = VT_UI4;
    value->ulVal = m_verificationValue;
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT SetDeviceVerificationStatus(VARIANT value, VARIANT_BOOL* done) override {
    if (!done || value.vt == VT_EMPTY) return E_INVALIDARG;
    *done = VARIANT_FALSE;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &value, 0, VT_UI4)) || converted.vt != VT_UI4) {
      VariantClear(&converted);
      return E_FAIL;
    }
    m_verificationValue = converted.ulVal;
    *done = VARIANT_TRUE;
    return S_OK;
  }

 protected:
  // Hooks of the connection events; the framework's do nothing.
  virtual HRESULT OnConnectionStateChanged(BSTR, VARIANT_BOOL, VARIANT) { return S_OK; }
  virtual HRESULT OnConnectionDisconnected(BSTR, VARIANT_BOOL, VARIANT) { return S_OK; }

  // Sets the entry's flag and moves the DTM: some connection connected in a state other than 11
  // and 12 makes it online (12); none connected in 10, 11 or 12 makes it 9.
  HRESULT RecordConnectionState(BSTR key, bool connected) {
    ConnectionEntry* entry = nullptr;
    for (ConnectionEntry& e : m_connections)
      if (VarBstrCmp(e.key.Get(), key, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
        entry = &e;
        break;
      }
    if (!entry) return E_FAIL;
    entry->connected = connected;
    vkr::ComPtr<IovFdtBaseDTM> dtm;
    HRESULT hr = Self()->GetControllingUnknown()->QueryInterface(IovFdtBaseDTM::iid, dtm.PutVoid());
    if (FAILED(hr)) return hr;
    EDtmState state = dsUNDEFINED;
    hr = dtm->GetDTMState(&state);
    if (FAILED(hr)) return hr;
    const bool any = IsAnyConnectionConnected();
    if (any && state != dsGOINGOFFLINE && state != dsONLINE) return dtm->SetDTMState(dsONLINE);
    if (!any && (state == dsGOINGONLINE || state == dsGOINGOFFLINE || state == dsONLINE))
      return dtm->SetDTMState(dsCOMMUNICATIONSET);
    return S_OK;
  }

 private:
  struct ConnectionEntry {
    vkr::Bstr key;
    bool connected;
  };

  T* Self() { return static_cast<T*>(this); }
  static HRESULT NotYet(VARIANT_BOOL* flag) {
    if (flag) *flag = VARIANT_FALSE;
    return E_NOTIMPL;
  }

  vkr::ComPtr<IFdtCommunication> m_channel;
  std::vector<CovFDT_BaseProtocolImpl*> m_protocols;
  CovFDT_BaseProtocolImpl* m_currentProtocol = nullptr;
  std::vector<ConnectionEntry> m_connections;
  ULONG m_verificationValue = 0;
};

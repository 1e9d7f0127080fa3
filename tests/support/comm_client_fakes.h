// Test doubles around the communication client: connection objects made by a class factory that
// the tests register in process under the connection class id, a frame channel that answers a
// BusCategories document, protocol objects with scripted answers, and a DTM whose user question,
// progress reports and translation a test controls. Everything writes into one journal.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/dtm_fakes.h"

namespace vkr::test {

inline constexpr char kHart[] = "036D1498-387B-11D4-86E1-00E0987270B9";

// The frame's BusCategories document listing the categories, in order.
inline std::u16string BusCategories(const std::vector<std::string>& categories) {
  std::u16string doc = u"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:BusCategories>";
  for (const std::string& c : categories)
    doc += u"<fdt:BusCategory busCategory=\"" + vkr::Utf8ToUtf16(c) + u"\"/>";
  return doc + u"</fdt:BusCategories></FDT>";
}

// A connection object. Journal entries start with its name ("c1", "c2", ...).
class FakeConnection : public vkr::Implements<IovFDTConnectionObject, IovFdtCommClientOnlineState,
                                              IovFdtCommunicationClient4, IovFdtSyncCommunicationClient,
                                              IovFdtDirectParameterAccess, IovFDTGenericCommService,
                                              IovFDTGenericCommService2, IovFDTCommClientTransferParamList2> {
 public:
  Journal* journal = nullptr;
  std::string name;
  // What InitConnection received.
  std::string protocolId, schemaPath;
  IUnknown* dtm = nullptr;  // not held: the DTM holds the connection
  IUnknown* channel = nullptr;
  HRESULT initResult = S_OK;
  // GoOnline / GoOffline answers; hooks run inside the calls (after the journal entry).
  HRESULT onlineResult = S_OK;
  bool onlineDone = true;
  HRESULT offlineResult = S_OK;
  bool offlineDone = true;
  std::function<void()> onGoOnline, onGoOffline, onTransfer;
  // Direct reads: the value by parameter id; an id not here fails with E_FAIL.
  std::map<ULONG, vkr::Variant> deviceValues;
  std::function<void(ULONG)> onReadDirect;
  bool serviceDone = true;

  VKR_TEST_DISPATCH
  std::string Log(const std::string& what) {
    const std::string e = name + " " + what;
    if (journal) journal->Add(e);
    return e;
  }

  // IovFDTConnectionObject
  HRESULT InitConnection(BSTR protocol, IUnknown* owner, IUnknown* frameChannel, BSTR schema, BSTR* id) override {
    protocolId = Text(protocol);
    schemaPath = Text(schema);
    dtm = owner;
    channel = frameChannel;
    Log("InitConnection " + protocolId);
    if (FAILED(initResult)) return initResult;
    *id = SysAllocString(vkr::Utf8ToUtf16(name + "-id").c_str());
    return S_OK;
  }
  HRESULT GetConnectionIds(BSTR*, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IovFdtCommClientOnlineState
  HRESULT GoOnline(VARIANT_BOOL* done) override {
    Log("GoOnline");
    *done = onlineDone && SUCCEEDED(onlineResult) ? VARIANT_TRUE : VARIANT_FALSE;
    if (onGoOnline) onGoOnline();
    return onlineResult;
  }
  HRESULT GoOffline(VARIANT_BOOL* done) override {
    Log("GoOffline");
    *done = offlineDone ? VARIANT_TRUE : VARIANT_FALSE;
    if (onGoOffline) onGoOffline();
    return offlineResult;
  }

  // IovFdtCommunicationClient4
  HRESULT SetCommunication(IFdtCommunication*) override { return E_NOTIMPL; }
  HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) override {
    Log("ReadParameter " + Show(id));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override {
    Log("WriteParameter " + Show(id) + " " + Show(value));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT ConnectWithRequest(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved1(VARIANT) override { return E_NOTIMPL; }
  HRESULT ConnectionReserved2(VARIANT) override { return E_NOTIMPL; }

  // IovFdtSyncCommunicationClient
  HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) override {
    Log("ReadParameterSync " + Show(id));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) override {
    Log("WriteParameterSync " + Show(id) + " " + Show(value));
    *done = VARIANT_TRUE;
    return S_OK;
  }

  // IovFdtDirectParameterAccess
  HRESULT ReadParameterDirect(VARIANT id, VARIANT* value) override {
    Log("ReadParameterDirect " + Show(id));
    if (onReadDirect) onReadDirect(id.ulVal);
    auto it = deviceValues.find(id.ulVal);
    if (id.vt != VT_UI4 || it == deviceValues.end()) return E_FAIL;
    return VariantCopy(value, &it->second);
  }
  HRESULT WriteParameterDirect(VARIANT id, VARIANT value) override {
    Log("WriteParameterDirect " + Show(id) + " " + Show(value));
    return S_OK;
  }

  // IovFDTGenericCommService
  HRESULT RequestService(BSTR protocol, VARIANT service, VARIANT argument, VARIANT*, VARIANT_BOOL* done) override {
    Log("RequestService " + Text(protocol) + " " + Show(service) + " " + Show(argument));
    *done = serviceDone ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT SendGenericRequest(BSTR protocol, VARIANT key, BSTR text, VARIANT, VARIANT, VARIANT_BOOL* done) override {
    Log("SendGenericRequest " + Text(protocol) + " " + Show(key) + " " + Text(text));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT SendGenericRequestAsync(IUnknown*, VARIANT* key, VARIANT_BOOL* done) override {
    Log("SendGenericRequestAsync");
    VariantClear(key);
    *key = UI4(77);
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT CancelGenericRequest(VARIANT key, VARIANT_BOOL* done) override {
    Log("CancelGenericRequest " + Show(key));
    *done = VARIANT_TRUE;
    return S_OK;
  }

  // IovFDTGenericCommService2
  HRESULT SendGenericRequestEx(VARIANT key, BSTR requestId, VARIANT listId, VARIANT_BOOL* done) override {
    Log("SendGenericRequestEx " + Show(key) + " " + Text(requestId) + " " + Show(listId));
    *done = VARIANT_TRUE;
    return S_OK;
  }

  // IovFDTCommClientTransferParamList2
  HRESULT UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) override {
    Log("UploadParamList2 " + Show(listId) + " " + (transferId ? Text(transferId) : "null") + " " +
        std::to_string(flag));
    if (onTransfer) onTransfer();
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) override {
    Log("DownloadParamList2 " + Show(listId) + " " + (transferId ? Text(transferId) : "null") + " " +
        std::to_string(flag));
    if (onTransfer) onTransfer();
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) override {
    Log("CancelParamListTransfer " + Text(transferId));
    *done = VARIANT_TRUE;
    return S_OK;
  }
};

// Makes FakeConnections named c1, c2, ... and keeps them for the test; `prepare` adjusts each
// one before it is handed out.
class FakeConnectionFactory : public vkr::Implements<IClassFactory> {
 public:
  Journal* journal = nullptr;
  std::vector<vkr::ComPtr<vkr::ComObject<FakeConnection>>> made;
  std::function<void(FakeConnection&)> prepare;
  HRESULT createResult = S_OK;

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (FAILED(createResult)) return createResult;
    vkr::ComPtr<vkr::ComObject<FakeConnection>> c;
    HRESULT hr = vkr::MakeObject<FakeConnection>(&c);
    if (FAILED(hr)) return hr;
    c->journal = journal;
    c->name = "c" + std::to_string(made.size() + 1);
    if (journal) journal->Add("create " + c->name);
    if (prepare) prepare(*c);
    made.push_back(c);
    return c->QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

// The frame's channel: answers GetSupportedProtocols with `protocols` (or `protocolsResult`).
class BusChannel : public vkr::Implements<IFdtCommunication> {
 public:
  Journal* journal = nullptr;
  std::u16string protocols = BusCategories({kHart});
  HRESULT protocolsResult = S_OK;

  VKR_TEST_DISPATCH
  HRESULT GetSupportedProtocols(BSTR* out) override {
    if (journal) journal->Add("channel GetSupportedProtocols");
    if (FAILED(protocolsResult)) return protocolsResult;
    *out = SysAllocString(protocols.c_str());
    return S_OK;
  }
  HRESULT Abort(BSTR) override { return E_NOTIMPL; }
  HRESULT ConnectRequest(IFdtCommunicationEvents*, BSTR, BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DisconnectRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceBegin(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceEnd(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceStart(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT TransactionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

// A protocol object with scripted answers; journal entries start with "<name> ".
class FakeProtocol : public CovFDT_BaseProtocolImpl {
 public:
  FakeProtocol(Journal* j, std::string n, const std::string& id) : journal(j), name(std::move(n)) {
    m_bstrProtocolId = vkr::Bstr(vkr::Utf8ToUtf16(id));
  }
  Journal* journal;
  std::string name;
  bool acceptsDocument = false;
  std::u16string busAddress = u"<SlaveAddress slaveAddress=\"0\" />";
  bool busAddressDone = true;
  HRESULT tableResult = S_OK;
  std::u16string parameterText;  // answered with S_OK when not empty

  bool AttachDtm(IUnknown*) override {
    journal->Add(name + " AttachDtm");
    return true;
  }
  bool DetachDtm() override {
    journal->Add(name + " DetachDtm");
    return true;
  }
  HRESULT SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown*) override {
    journal->Add(name + " SetBusAddressFromXml");
    *changed = acceptsDocument ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT GetBusAddressXml(VARIANT_BOOL* done, BSTR* text) override {
    *done = busAddressDone ? VARIANT_TRUE : VARIANT_FALSE;
    *text = SysAllocString(busAddress.c_str());
    return S_OK;
  }
  HRESULT InitParameterTable() override {
    journal->Add(name + " InitParameterTable");
    return tableResult;
  }
  HRESULT InfoRequest(VARIANT kind, VARIANT, VARIANT*) override {
    journal->Add(name + " InfoRequest " + Show(kind));
    return E_INVALIDARG;
  }
  HRESULT InfoRequestEx(ULONG a, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                        ULONG l) override {
    journal->Add(name + " InfoRequestEx " + std::to_string(a) + " " + std::to_string(l));
    return S_OK;
  }
  HRESULT CheckTransferArguments(IUnknown*, VARIANT id, BSTR* text) override {
    journal->Add(name + " CheckTransferArguments " + Show(id));
    if (parameterText.empty()) return S_FALSE;
    *text = SysAllocString(parameterText.c_str());
    return S_OK;
  }
};

// The DTM with the client's lists reachable, and the user, the progress display and the
// translation under the test's control.
class CommDtm : public TestDtm {
 public:
  LONG answer = 7;  // to the user question
  std::vector<std::string> questions;  // "title|text"
  bool hideTranslation = false;
  std::map<std::string, std::u16string> translations;  // by translation path

  HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT style, LONG* reply) override {
    if (journal) journal->Add("question " + Show(style));
    questions.push_back(Text(title) + "|" + Text(text));
    *reply = answer;
    return S_OK;
  }
  HRESULT SendProgress(BSTR text, USHORT percent, USHORT mode) override {
    if (journal) journal->Add("progress " + Text(text) + " " + std::to_string(percent) + " " + std::to_string(mode));
    return S_OK;
  }
  HRESULT GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override {
    *found = VARIANT_FALSE;
    auto it = translations.find(Text(xpath));
    if (it == translations.end()) return S_FALSE;
    *text = SysAllocString(it->second.c_str());
    *found = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (hideTranslation && riid == IovFdtTranslation::iid) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return CVornExampleDtm::QueryExtraInterface(riid, ppv);
  }

  // The protocol objects replace the DTM's own; none is current.
  void UseProtocols(const std::vector<CovFDT_BaseProtocolImpl*>& protocols) {
    m_protocols = protocols;
    m_currentProtocol = nullptr;
    replacedProtocols = true;
  }
  // What a frame's release does for the communication: the channel dropped and the protocols
  // detached, so that the DTM no longer holds itself. A test's protocol fakes are gone by then.
  void DropChannel() {
    if (replacedProtocols) {
      m_protocols.clear();
      m_currentProtocol = nullptr;
    }
    static_cast<IovFdtCommunicationClient4*>(this)->SetCommunication(nullptr);
  }
  bool replacedProtocols = false;
  void AddConnectionClass(const std::string& protocolId) {
    ConnectionClassEntry c;
    c.clsid = CLSID_MyConnection;
    c.protocolId = vkr::Bstr(vkr::Utf8ToUtf16(protocolId));
    m_connectionClasses.push_back(std::move(c));
  }
  void ClearConnectionClasses() { m_connectionClasses.clear(); }
  std::size_t ConnectionClassCount() const { return m_connectionClasses.size(); }
  std::string ConnectionClassProtocol(std::size_t i) const { return Text(m_connectionClasses[i].protocolId); }
  void SetExtendedBusInformation(bool on) { m_bExtendedBusInformation = on; }
  void SetVerificationTimeout(DWORD ms) { m_dwVerificationTimeout = ms; }
  void SetSchemaPath(LPCOLESTR path) {
    SysFreeString(m_bsSchemaPath);
    m_bsSchemaPath = SysAllocString(path);
  }
  // "c1-id:on c2-id:off" in list order.
  std::string ConnectionStates() const {
    std::string s;
    for (const ConnectionEntry& e : m_connections) {
      if (!s.empty()) s += ' ';
      s += Text(e.connectionId);
      s += e.online ? ":on" : ":off";
    }
    return s;
  }
  ULONG VerificationStatus() const { return m_eDeviceVerificationStatus; }
  void SetVerificationStatusValue(ULONG s) { m_eDeviceVerificationStatus = s; }
  EDtmState State() const { return m_eDtmState; }
};

}  // namespace vkr::test

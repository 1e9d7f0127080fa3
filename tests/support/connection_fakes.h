// Fakes around a connection object: a DTM that records what the connection tells it, a frame
// channel that records requests and answers them when the test says (inside the call, later
// through a timer the waiting thread's message loop runs, or never), and a protocol object whose
// documents are plain texts the tests can read.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "communication/CovFDT_BaseProtocolImpl.h"
#include "tests/support/fake_dtm_stubs.h"
#include "tests/support/stub_dispatch.h"

namespace conntest {

inline std::string Narrow(BSTR s) { return vkr::Utf16ToUtf8(vkr::Bstr(s).View()); }
inline vkr::Bstr Wide(const std::string& s) { return vkr::Bstr(vkr::Utf8ToUtf16(s)); }

inline vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

// A one-dimensional array VARIANT of texts (VT_BSTR) or of VARIANTs holding VT_UI4 numbers.
inline vkr::Variant TextArray(const std::vector<std::string>& items) {
  vkr::Variant v;
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    vkr::Bstr b = Wide(items[static_cast<std::size_t>(i)]);
    SafeArrayPutElement(v.parray, &i, b.Get());
  }
  return v;
}
inline vkr::Variant NumberArray(const std::vector<ULONG>& items) {
  vkr::Variant v;
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    VARIANT n = vkr::UI4(items[static_cast<std::size_t>(i)]);
    SafeArrayPutElement(v.parray, &i, &n);
  }
  return v;
}

// ---- The DTM ---------------------------------------------------------------------------------

struct ProgressReport {
  std::string text;
  LONG percent;
  bool running;
};

class FakeDtm : public FakeDtmStubs {
 public:
  EDtmState state = dsONLINE;
  bool offersDtm2 = true;
  // What the connection reported.
  std::vector<std::string> ownerCalls;  // "connected:1", "disconnected:0", "released"
  std::vector<std::pair<ULONG, BYTE>> statusWrites;
  std::vector<ProgressReport> progress;
  std::vector<std::pair<ULONG, vkr::Variant>> appliedValues;
  std::vector<std::pair<ULONG, ULONG>> statusFields;
  // Parameter lists: members by list name; lists named here are cyclic.
  std::map<std::string, std::vector<ULONG>> lists;
  std::vector<std::string> cyclicLists;
  // Device values (field 0x200000) and validation results by id.
  std::map<ULONG, vkr::Variant> deviceValues;
  std::map<ULONG, ULONG> validation;
  std::function<void()> onReleased;

  HRESULT GetDTMState(EDtmState* s) override {
    *s = state;
    return S_OK;
  }
  HRESULT OnConnectionReleased(BSTR) override {
    ownerCalls.push_back("released");
    if (onReleased) onReleased();
    return S_OK;
  }
  HRESULT OnConnected(BSTR, VARIANT_BOOL connected, VARIANT, BSTR) override {
    ownerCalls.push_back(std::string("connected:") + (connected ? "1" : "0"));
    return S_OK;
  }
  HRESULT OnDisconnected(BSTR, VARIANT_BOOL disconnected, VARIANT, BSTR) override {
    ownerCalls.push_back(std::string("disconnected:") + (disconnected ? "1" : "0"));
    return S_OK;
  }
  HRESULT SetParameterValue(VARIANT id, VARIANT value) override {
    if (value.vt == VT_UI1) {
      statusWrites.emplace_back(id.ulVal, value.bVal);
    } else {
      appliedValues.emplace_back(id.ulVal, vkr::Variant(value));
    }
    return S_OK;
  }
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override {
    if (id.vt != VT_I4 || id.lVal != 18) return E_INVALIDARG;
    SProgressEvent event;
    if (!event.Unpack(argument)) return E_INVALIDARG;
    progress.push_back({Narrow(event.bstrText), event.nPercent, event.bFlag});
    return S_OK;
  }
  HRESULT GetTranslation(BSTR, BSTR* text, VARIANT_BOOL* found) override {
    *text = nullptr;
    *found = VARIANT_FALSE;
    return S_FALSE;
  }
  HRESULT GetMembers(VARIANT key, VARIANT* members, VARIANT_BOOL* result) override {
    *result = VARIANT_FALSE;
    VariantInit(members);
    auto it = lists.find(Narrow(key.bstrVal));
    if (it == lists.end()) return S_FALSE;
    *result = VARIANT_TRUE;
    if (!it->second.empty()) NumberArray(it->second).Detach(members);
    return S_OK;
  }
  HRESULT GetProperties(VARIANT key, VARIANT, VARIANT* values, VARIANT_BOOL* result) override {
    *result = VARIANT_TRUE;
    const bool cyclic =
        std::find(cyclicLists.begin(), cyclicLists.end(), Narrow(key.bstrVal)) != cyclicLists.end();
    vkr::Variant array;
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (cyclic) {
      vkr::Variant yes(Text(u"1"));
      LONG i = 0;
      SafeArrayPutElement(array.parray, &i, &yes);
    }
    array.Detach(values);
    return S_OK;
  }
  HRESULT GetParameterField(VARIANT id, VARIANT field, VARIANT* result) override {
    if (field.ulVal != 0x200000) return E_INVALIDARG;
    auto it = deviceValues.find(id.ulVal);
    if (it == deviceValues.end()) return E_INVALIDARG;
    return VariantCopy(result, &it->second);
  }
  HRESULT SetParameterField(VARIANT id, VARIANT field, VARIANT value) override {
    if (field.ulVal == 0x4000) statusFields.emplace_back(id.ulVal, value.ulVal);
    return S_OK;
  }
  HRESULT ValidateParameter(VARIANT id, VARIANT, ULONG* result) override {
    auto it = validation.find(id.ulVal);
    *result = it == validation.end() ? 0x72 : it->second;
    return S_OK;
  }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IDtm2::iid && offersDtm2) {
      *ppv = static_cast<IDtm2*>(this);
      static_cast<IovFdtBaseDTM*>(this)->AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
};

// ---- The frame's channel -----------------------------------------------------------------------

struct SentRequest {
  std::string kind;  // "connect", "disconnect", "transaction", "abort"
  vkr::Bstr invokeId;
  std::string document;
};

enum class AnswerMode { Never, Now, Later };

class FakeChannel : public vkr::Implements<IFdtCommunication> {
 public:
  std::vector<SentRequest> sent;
  vkr::ComPtr<IFdtCommunicationEvents> events;
  VARIANT_BOOL accept = VARIANT_TRUE;
  HRESULT callResult = S_OK;
  // How a request is answered: the answer text and its mode (Never: no answer).
  std::function<std::pair<AnswerMode, std::string>(const SentRequest&)> responder;
  // A hook that runs inside a transaction call after it was recorded.
  std::function<void(const SentRequest&)> onTransaction;

  VKR_NO_DISPATCH

  HRESULT Abort(BSTR document) override {
    sent.push_back({"abort", vkr::Bstr(), Narrow(document)});
    return callResult;
  }
  HRESULT ConnectRequest(IFdtCommunicationEvents* callback, BSTR invokeId, BSTR, BSTR document,
                         VARIANT_BOOL* result) override {
    events = callback;
    return Take("connect", invokeId, document, result);
  }
  HRESULT DisconnectRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override {
    return Take("disconnect", invokeId, document, result);
  }
  HRESULT GetSupportedProtocols(BSTR*) override { return E_NOTIMPL; }
  HRESULT SequenceBegin(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceEnd(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceStart(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT TransactionRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override {
    return Take("transaction", invokeId, document, result);
  }

  std::size_t Count(const std::string& kind) const {
    std::size_t n = 0;
    for (const SentRequest& r : sent) n += r.kind == kind;
    return n;
  }
  // Delivers an answer to the connection now.
  HRESULT Answer(const std::string& kind, BSTR invokeId, const std::string& response) {
    if (!target) return E_UNEXPECTED;
    vkr::Bstr text = Wide(response);
    if (kind == "connect") return target->OnConnectResponse(invokeId, text);
    if (kind == "disconnect") return target->OnDisconnectResponse(invokeId, text);
    return target->OnTransactionResponse(invokeId, text);
  }
  // Runs f from the waiting thread's message loop (a one-shot thread timer).
  static void Later(std::function<void()> f) {
    Queue().push_back(std::move(f));
    SetTimer(nullptr, 0, 1, &FakeChannel::Fire);
  }
  IFdtCommunicationEvents* target = nullptr;  // the connection (not held)

 private:
  static std::deque<std::function<void()>>& Queue() {
    static std::deque<std::function<void()>> queue;
    return queue;
  }
  static void Fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (Queue().empty()) return;
    std::function<void()> f = std::move(Queue().front());
    Queue().pop_front();
    f();
  }
  HRESULT Take(const char* kind, BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
    *result = VARIANT_FALSE;
    sent.push_back({kind, vkr::Bstr(invokeId), Narrow(document)});
    const SentRequest request = sent.back();
    if (FAILED(callResult)) return callResult;
    *result = accept;
    if (onTransaction && request.kind == "transaction") onTransaction(request);
    if (!responder || accept != VARIANT_TRUE) return callResult;
    auto [mode, text] = responder(request);
    if (mode == AnswerMode::Now) {
      Answer(request.kind, request.invokeId, text);
    } else if (mode == AnswerMode::Later) {
      vkr::Bstr id = request.invokeId;
      std::string k = request.kind;
      Later([this, k, id, text] { Answer(k, id, text); });
    }
    return callResult;
  }
};

// ---- The protocol object -----------------------------------------------------------------------

// Documents are "<Read id='N'/>", "<Write id='N'/>" and so on; an answer loads as a document and
// reports failure when its root is <Error/>.
class FakeProtocol : public CovFDT_HartProtocolImpl {
 public:
  struct Calls {
    std::vector<std::string> parsed;  // the answers spread over the parameters
    std::vector<ULONG> distributeFlags;
  };
  Calls* calls;
  bool attach = true;
  // Documents per list id for the list transfers ("" leaves a null document).
  std::map<std::string, std::vector<std::string>> listDocuments;
  // The answer CommandTransactionBlocking gets (HandleCommandResult's out VARIANT).
  std::function<void(VARIANT*)> commandAnswer;

  explicit FakeProtocol(Calls* c) : calls(c) {}

  bool AttachDtm(IUnknown*) override { return attach; }
  bool DetachDtm() override { return true; }
  HRESULT ParseConnectResponse(BSTR response, BSTR* reference, VARIANT_BOOL* ok, BSTR* text) override {
    const std::string r = Narrow(response);
    *text = SysAllocString(u"");
    if (r == "bad") return E_FAIL;
    *ok = r.rfind("ok:", 0) == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    *reference = *ok ? Wide(r.substr(3)).Detach() : nullptr;
    return S_OK;
  }
  HRESULT ParseDisconnectResponse(BSTR, BSTR response, VARIANT_BOOL* ok, BSTR* text) override {
    const std::string r = Narrow(response);
    *text = SysAllocString(u"");
    if (r == "bad") return E_FAIL;
    *ok = r == "ok" ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT ParseTransactionResponse(VARIANT, BSTR response, BSTR, VARIANT_BOOL distribute,
                                   VARIANT* bytes) override {
    const std::string r = Narrow(response);
    calls->parsed.push_back(r);
    calls->distributeFlags.push_back(static_cast<ULONG>(static_cast<USHORT>(distribute)));
    if (bytes && commandAnswer) commandAnswer(bytes);
    return r.find("<Error") != std::string::npos ? E_FAIL : S_OK;
  }
  HRESULT CreateReadRequest(VARIANT id, BSTR, VARIANT_BOOL, VARIANT_BOOL* created, BSTR* document,
                            VARIANT* record) override {
    *created = VARIANT_TRUE;
    *document = Wide("<Read id='" + std::to_string(id.ulVal) + "'/>").Detach();
    VariantInit(record);
    return S_OK;
  }
  HRESULT CreateWriteRequest(VARIANT id, VARIANT, BSTR, VARIANT_BOOL, VARIANT_BOOL* created, BSTR* document,
                             VARIANT* record) override {
    *created = VARIANT_TRUE;
    *document = Wide("<Write id='" + std::to_string(id.ulVal) + "'/>").Detach();
    VariantInit(record);
    return S_OK;
  }
  HRESULT CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId, VARIANT* record) override {
    *created = VARIANT_TRUE;
    *document = SysAllocString(u"<Connect/>");
    *protocolId = SysAllocString(kHartProtocolId);
    VariantInit(record);
    return S_OK;
  }
  HRESULT CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR, VARIANT* record) override {
    *created = VARIANT_TRUE;
    *document = SysAllocString(u"<Disconnect/>");
    VariantInit(record);
    return S_OK;
  }
  HRESULT GetReadCommand(VARIANT id, BSTR, VARIANT* record) override {
    // {reference, id, value}: the id is the second element, as in a packed transaction record.
    vkr::Variant v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    LONG i = 1;
    SafeArrayPutElement(v.parray, &i, &id);
    v.Detach(record);
    return S_OK;
  }
  HRESULT GetWriteCommand(VARIANT id, VARIANT, BSTR reference, VARIANT* record) override {
    return GetReadCommand(id, reference, record);
  }
  HRESULT CreateDataExchangeRequest(VARIANT, BSTR, BSTR* document) override {
    *document = SysAllocString(u"<DataExchange/>");
    return S_OK;
  }
  HRESULT SetParameterFromPdu(VARIANT, VARIANT pdu, VARIANT* value) override {
    // The decoded value: the PDU's first byte as a number.
    BYTE* data = nullptr;
    if (pdu.vt != (VT_ARRAY | VT_UI1) || FAILED(SafeArrayAccessData(pdu.parray, reinterpret_cast<void**>(&data))))
      return E_INVALIDARG;
    const BYTE first = data[0];
    SafeArrayUnaccessData(pdu.parray);
    *value = vkr::UI4(first);
    return S_OK;
  }
  HRESULT CreateReadTransactions(VARIANT listId, BSTR, VARIANT* documents, VARIANT* records) override {
    return Make(listId, documents, records);
  }
  HRESULT CreateWriteTransactions(VARIANT listId, BSTR, VARIANT_BOOL, VARIANT* documents,
                                  VARIANT* records) override {
    return Make(listId, documents, records);
  }

 private:
  HRESULT Make(VARIANT listId, VARIANT* documents, VARIANT* records) {
    auto it = listDocuments.find(Narrow(listId.bstrVal));
    if (it == listDocuments.end()) return E_FAIL;
    TextArray(it->second).Detach(documents);
    std::vector<ULONG> numbers;
    for (std::size_t i = 0; i < it->second.size(); ++i) numbers.push_back(static_cast<ULONG>(i));
    NumberArray(numbers).Detach(records);
    return S_OK;
  }
};

}  // namespace conntest

// The connection's core: initialisation, the send roads, answer matching by invoke id, the
// connect, disconnect and transaction answers, the blocking waits and going on- and offline.
#include "communication/CovFDT_BaseConnectionImpl.h"

#include <algorithm>
#include <cstdarg>
#include <map>
#include <mutex>
#include <string>

#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr UINT kInvokeIdLength = 36;

std::string Narrow(BSTR text) { return vkr::Utf16ToUtf8(std::u16string_view(text ? text : u"", SysStringLen(text))); }

void LogLine(const std::string& line) {
  if (IsLogEnabled()) WriteLogA(line.c_str());
}

bool SameText(BSTR a, BSTR b) {
  const UINT n = SysStringLen(a);
  if (n != SysStringLen(b)) return false;
  return n == 0 || std::char_traits<char16_t>::compare(a, b, n) == 0;
}

// A manual-reset, unsignalled event of a blocking request.
HANDLE NewWaitEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// What the owner and the parameter handler are told when a request ends without a usable answer
// (kTextNoAnswer is the header's).
constexpr OLECHAR kTextAborted[] = u"Error: the frame aborted the connection";
constexpr OLECHAR kTextUnreadable[] = u"Error: the answer could not be read";
constexpr OLECHAR kTextConnectRefused[] = u"Error: the connect response was refused";

// The connections whose expiry timers run, by timer id: a timer procedure gets only the id.
// Timers run on the thread that set them, the connection's own; the lock only keeps the map
// whole when connections of several threads use it.
std::mutex& ExpiryLock() {
  static std::mutex lock;
  return lock;
}
std::map<UINT_PTR, CovFDT_BaseConnectionImpl*>& ExpiryOwners() {
  static std::map<UINT_PTR, CovFDT_BaseConnectionImpl*> owners;
  return owners;
}

}  // namespace

// ---- Construction --------------------------------------------------------------------------

CovFDT_BaseConnectionImpl::GenericQueue::GenericQueue() {
  csReady = InitializeCriticalSectionAndSpinCount(&cs, 0) != FALSE;
}

CovFDT_BaseConnectionImpl::GenericQueue::~GenericQueue() {
  items.clear();
  if (csReady) DeleteCriticalSection(&cs);
}

CovFDT_BaseConnectionImpl::CovFDT_BaseConnectionImpl() {
  m_genericQueue.connection = this;
}

CovFDT_BaseConnectionImpl::~CovFDT_BaseConnectionImpl() {
  // Pending events belong to their waiters; nothing is set here. The expiry timers go, so that
  // none can reach this object afterwards.
  for (PendingRequest& record : m_pendingRequests) StopExpiry(record);
  if (m_pProtocol) m_pProtocol->DetachDtm();
}

void CovFDT_BaseConnectionImpl::OnError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatErrorTextV(format, args);
  va_end(args);
  LogLine("CovFDT_BaseConnectionImpl" + text);
}

HRESULT CovFDT_BaseConnectionImpl::QueryExtraInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (riid == IFdtCommunicationEvents2::iid) {
    // Only a DTM of FDT 1.2.1 (IDtm2) takes the frame's version report.
    vkr::ComPtr<IDtm2> dtm2;
    if (!m_pDTM || FAILED(m_pDTM->QueryInterface(IDtm2::iid, dtm2.PutVoid())) || !dtm2) return E_NOINTERFACE;
    *ppv = static_cast<IFdtCommunicationEvents2*>(this);
    Self()->AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT CovFDT_BaseConnectionImpl::LoadXMLDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* pSuccess) {
  return CovFDTXMLHandlerImpl<CovFDT_BaseConnectionImpl>::LoadXMLDocument(text, document, pSuccess);
}

// ---- Protocol-specific operations: the HART layer fills them ---------------------------------

HRESULT CovFDT_BaseConnectionImpl::BuildConnectRequest(VARIANT, BSTR* document) {
  if (document) *document = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseConnectionImpl::ParseTransactionResponse(BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::HandleDataExchangeResult(BSTR, VARIANT, BSTR, HANDLE) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::HandleCommandResult(BSTR, VARIANT, BSTR, HANDLE) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::DataExchangeBlocking(VARIANT, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::CommandTransactionBlocking(VARIANT, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::SendDataExchangeBlocking(CovVAPacker*, BSTR, CovVAPacker*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::WriteStatusParameters(BSTR) { return S_FALSE; }
HRESULT CovFDT_BaseConnectionImpl::AbortAtFrame(BSTR) { return E_NOTIMPL; }
void CovFDT_BaseConnectionImpl::ReportUnanswered(const VARIANT&, LPCOLESTR) {}

// ---- Helpers -------------------------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::NewInvokeId(vkr::Bstr* id) {
  HRESULT hr = CreateGuidString(id->Put());
  if (FAILED(hr)) return hr;
  return id->Length() == kInvokeIdLength ? S_OK : E_FAIL;
}

bool CovFDT_BaseConnectionImpl::AddPending(BSTR invokeId, const VARIANT& context, HANDLE event,
                                           std::shared_ptr<WaitSlot> slot, RequestKind kind) {
  PendingRequest record;
  record.invokeId = vkr::Bstr(std::u16string_view(invokeId, SysStringLen(invokeId)));
  if (!record.invokeId.Get()) return false;
  if (FAILED(VariantCopy(&record.context, &context))) return false;
  record.event = event;
  record.slot = std::move(slot);
  record.kind = kind;
  if (!event) {
    // Nobody waits for this answer: a timer of the request's time-out ends it.
    const DWORD timeout = kind == RequestKind::Connect      ? m_dwConnectTimeout
                          : kind == RequestKind::Disconnect ? m_dwDisconnectTimeout
                                                            : m_dwTransactionTimeout;
    record.expiry = SetTimer(nullptr, 0, timeout, &CovFDT_BaseConnectionImpl::ExpiryTimerProc);
    if (!record.expiry) return false;
    std::lock_guard lock(ExpiryLock());
    ExpiryOwners()[record.expiry] = this;
  }
  m_pendingRequests.push_back(std::move(record));
  return true;
}

void CovFDT_BaseConnectionImpl::StopExpiry(PendingRequest& record) {
  if (!record.expiry) return;
  {
    std::lock_guard lock(ExpiryLock());
    ExpiryOwners().erase(record.expiry);
  }
  KillTimer(nullptr, record.expiry);
  record.expiry = 0;
}

void CovFDT_BaseConnectionImpl::ExpiryTimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
  CovFDT_BaseConnectionImpl* connection = nullptr;
  {
    std::lock_guard lock(ExpiryLock());
    const auto it = ExpiryOwners().find(timer);
    if (it != ExpiryOwners().end()) connection = it->second;
  }
  if (!connection) {
    KillTimer(nullptr, timer);
    return;
  }
  connection->OnRequestExpired(timer);
}

void CovFDT_BaseConnectionImpl::OnRequestExpired(UINT_PTR timer) {
  ConnectionSelfRef self(Self());
  const auto it = std::find_if(m_pendingRequests.begin(), m_pendingRequests.end(),
                               [&](const PendingRequest& r) { return r.expiry == timer; });
  if (it == m_pendingRequests.end()) {
    KillTimer(nullptr, timer);
    return;
  }
  PendingRequest record = std::move(*it);
  m_pendingRequests.erase(it);
  StopExpiry(record);
  LogLine("request " + Narrow(record.invokeId) + " got no answer in time");
  switch (record.kind) {
    case RequestKind::Connect:
      ConnectFailed(record.context, kTextNoAnswer);
      break;
    case RequestKind::Disconnect:
      // Going offline waits for its own answer and ends the connection itself.
      break;
    case RequestKind::Transaction:
      if (ContextHasType(record.context, kRequestTypeGenericTransaction))
        HandleGenericResult(record.invokeId, record.context, nullptr, nullptr, nullptr);
      else
        ReportUnanswered(record.context, kTextNoAnswer);
      break;
  }
}

bool CovFDT_BaseConnectionImpl::TakePending(BSTR invokeId, vkr::Variant* context, HANDLE* event,
                                            std::shared_ptr<WaitSlot>* slot) {
  if (SysStringLen(invokeId) != kInvokeIdLength) return false;
  for (auto it = m_pendingRequests.begin(); it != m_pendingRequests.end(); ++it) {
    if (it->invokeId.Length() != kInvokeIdLength || !SameText(it->invokeId, invokeId)) continue;
    StopExpiry(*it);
    if (context) *context = std::move(it->context);
    if (event) *event = it->event;
    if (slot) *slot = std::move(it->slot);
    m_pendingRequests.erase(it);
    return true;
  }
  return false;
}

void CovFDT_BaseConnectionImpl::DropPending(BSTR invokeId) { TakePending(invokeId, nullptr, nullptr, nullptr); }

bool CovFDT_BaseConnectionImpl::DropPendingWithEvent(HANDLE event, vkr::Variant* context) {
  const auto it = std::find_if(m_pendingRequests.begin(), m_pendingRequests.end(),
                               [&](const PendingRequest& r) { return event && r.event == event; });
  if (it == m_pendingRequests.end()) return false;
  StopExpiry(*it);
  if (context) *context = std::move(it->context);
  m_pendingRequests.erase(it);
  return true;
}

void CovFDT_BaseConnectionImpl::ConnectFailed(const VARIANT& context, LPCOLESTR text) {
  if (!m_bstrCommunicationReference.Empty()) return;
  m_bConnected = false;
  vkr::Bstr why(text);
  if (vkr::ComPtr<IovFdtConnectionObjectCallback> owner = m_pOwnerCallback)
    owner->OnConnected(m_bstrConnectionId, VARIANT_FALSE, context, why);
}

void CovFDT_BaseConnectionImpl::FailPendingRequests(LPCOLESTR text) {
  // The records go first, so that nothing set later can touch a closed event.
  std::vector<PendingRequest> pending;
  pending.swap(m_pendingRequests);
  bool generic = false;
  for (PendingRequest& record : pending) {
    StopExpiry(record);
    if (record.slot) {
      record.slot->answered = false;
      record.slot->hr = E_ABORT;
    }
    if (record.event) {
      SetEvent(record.event);
    } else if (record.kind == RequestKind::Transaction) {
      if (ContextHasType(record.context, kRequestTypeGenericTransaction))
        generic = true;
      else
        ReportUnanswered(record.context, text);
    }
  }
  m_bConnectSucceeded = false;
  m_bDisconnectSucceeded = false;
  // The queued background reads will get no answers now.
  if (generic || GenericQueueLength() > 0) QueueFlush();
  if (m_hGoingOfflineEvent) SetEvent(m_hGoingOfflineEvent);
}

void CovFDT_BaseConnectionImpl::EndUnconfirmedConnection() {
  if (m_bstrCommunicationReference.Empty()) return;
  ConnectionSelfRef self(Self());
  vkr::Bstr reference = m_bstrCommunicationReference;
  LogLine("the disconnection of " + Narrow(reference) + " was not confirmed: the connection ends here");
  // The frame may have ended it already; then it refuses the abort, which changes nothing.
  AbortAtFrame(reference);
  m_bConnected = false;
  m_bstrCommunicationReference.Reset();
  FailPendingRequests(kTextAborted);
  if (vkr::ComPtr<IovFdtConnectionObjectCallback> owner = m_pOwnerCallback)
    owner->OnConnectionReleased(m_bstrConnectionId);
}

bool CovFDT_BaseConnectionImpl::TakeResult(BSTR invokeId, BlockingResult* out) {
  for (auto it = m_resultList.begin(); it != m_resultList.end(); ++it) {
    if (!SameText(it->invokeId, invokeId)) continue;
    if (out) *out = std::move(*it);
    m_resultList.erase(it);
    return true;
  }
  return false;
}

void CovFDT_BaseConnectionImpl::Wake(HANDLE event, const std::shared_ptr<WaitSlot>& slot, HRESULT hr) {
  if (slot) {
    slot->answered = true;
    slot->hr = hr;
  }
  if (event) SetEvent(event);
}

void CovFDT_BaseConnectionImpl::LogDocument(const char* what, BSTR invokeId, BSTR document) {
  if (!IsLogEnabled()) return;
  LogLine(std::string(what) + "(" + Narrow(invokeId) + ")" +
          (std::string(what).rfind("send ", 0) == 0 ? "" : " received"));
  LogLine(Narrow(document) + "\r\n");
}

bool CovFDT_BaseConnectionImpl::ContextHasType(const VARIANT& context, LPCWSTR type) {
  if (context.vt != (VT_ARRAY | VT_VARIANT) || !context.parray) return false;
  if (SafeArrayGetDim(context.parray) != 1) return false;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(context.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(context.parray, 1, &upper)) ||
      upper < lower)
    return false;
  vkr::Variant first;
  if (FAILED(SafeArrayGetElement(context.parray, &lower, first.Put()))) return false;
  if (first.vt != VT_BSTR) return false;
  return CovFDT_BaseConnectionImpl::TextOf(first.bstrVal) == std::u16string_view(type);
}

HRESULT CovFDT_BaseConnectionImpl::PackTypedContext(LPCWSTR type, const VARIANT& request, VARIANT* context) {
  if (!context) return E_INVALIDARG;
  vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_VARIANT, 0, 3));
  if (!array.Get()) return E_OUTOFMEMORY;
  vkr::Variant typeText;
  typeText.vt = VT_BSTR;
  typeText.bstrVal = SysAllocString(type);
  if (!typeText.bstrVal) return E_OUTOFMEMORY;
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(array.Get(), &index, &typeText);
  if (FAILED(hr)) return hr;
  index = 1;
  hr = SafeArrayPutElement(array.Get(), &index, const_cast<VARIANT*>(&request));
  if (FAILED(hr)) return hr;
  VariantClear(context);
  context->vt = VT_ARRAY | VT_VARIANT;
  context->parray = array.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::UnpackTypedContext(LPCWSTR type, const VARIANT& context, VARIANT* request) {
  if (!request) return E_INVALIDARG;
  if (!ContextHasType(context, type)) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(context.parray, 1, &lower);
  SafeArrayGetUBound(context.parray, 1, &upper);
  if (upper < lower + 1) return E_INVALIDARG;
  LONG index = lower + 1;
  VariantClear(request);
  return SafeArrayGetElement(context.parray, &index, request);
}

HRESULT CovFDT_BaseConnectionImpl::PackDataExchangeContext(VARIANT request, VARIANT* context) {
  return PackTypedContext(kRequestTypeDataExchange, request, context);
}
HRESULT CovFDT_BaseConnectionImpl::PackCommandContext(VARIANT request, VARIANT* context) {
  return PackTypedContext(kRequestTypeCommand, request, context);
}
HRESULT CovFDT_BaseConnectionImpl::UnpackDataExchangeContext(VARIANT context, VARIANT* request) {
  return UnpackTypedContext(kRequestTypeDataExchange, context, request);
}
HRESULT CovFDT_BaseConnectionImpl::UnpackCommandContext(VARIANT context, VARIANT* request) {
  return UnpackTypedContext(kRequestTypeCommand, context, request);
}

// ---- Initialisation ------------------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::InitConnection(BSTR protocolId, IUnknown* dtm, IUnknown* channel, BSTR schemaPath,
                                                  BSTR* connectionId) {
  LogLine("CovFDT_BaseConnectionImpl::InitConnection()");
  if (!dtm || !channel || !connectionId) return E_INVALIDARG;
  if (m_pFrameChannel) return E_UNEXPECTED;
  HRESULT hr = InitializeSchemaCache(schemaPath);
  if (FAILED(hr)) return hr;
  hr = CheckProtocolId(protocolId, dtm);
  if (FAILED(hr)) return hr;
  hr = NewInvokeId(&m_bstrConnectionId);
  if (FAILED(hr)) return hr;

  vkr::ComPtr<IovFdtConnectionObjectCallback> callback;
  vkr::ComPtr<IovFdtBaseDTM> baseDtm;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IFdtCommunication> frame;
  dtm->QueryInterface(IovFdtConnectionObjectCallback::iid, callback.PutVoid());
  dtm->QueryInterface(IovFdtBaseDTM::iid, baseDtm.PutVoid());
  dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
  channel->QueryInterface(IFdtCommunication::iid, frame.PutVoid());
  if (!callback || !baseDtm || !handler || !frame) return E_NOINTERFACE;
  m_pOwnerCallback = callback.Get();
  m_pDTM = baseDtm.Get();
  m_pParameterHandler = handler.Get();
  m_pFrameChannel = frame;
  *connectionId = nullptr;
  return m_bstrConnectionId.CopyTo(connectionId);
}

HRESULT CovFDT_BaseConnectionImpl::DetachDtm() {
  ConnectionSelfRef self(Self());
  m_pOwnerCallback = nullptr;
  m_pDTM = nullptr;
  m_pParameterHandler = nullptr;
  if (m_pProtocol) m_pProtocol->DetachDtm();
  // Nobody is left to take an answer: the waiters wake, and the frame's channel is let go (it
  // holds this connection while the connection is open on it, so each would keep the other).
  m_bConnected = false;
  m_bstrCommunicationReference.Reset();
  WakeAllWaiters();
  m_pFrameChannel = nullptr;
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::CheckProtocolId(BSTR protocolId, IUnknown* dtm) {
  if (!m_pProtocol) return E_POINTER;
  if (!m_pProtocol->AttachDtm(dtm)) return E_UNEXPECTED;
  const LPCWSTR own = m_pProtocol->GetProtocolId();
  const std::u16string_view ownView(own ? own : u"");
  return ownView == CovFDT_BaseConnectionImpl::TextOf(protocolId) ? S_OK : E_FAIL;
}

HRESULT CovFDT_BaseConnectionImpl::GetConnectionIds(BSTR* connectionId, BSTR* protocolId, VARIANT_BOOL* online) {
  if (!connectionId || !protocolId || !online) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *connectionId = nullptr;
  *protocolId = nullptr;
  HRESULT hr = m_bstrConnectionId.CopyTo(connectionId);
  if (FAILED(hr)) return hr;
  const LPCWSTR own = m_pProtocol->GetProtocolId();
  if (own && !(*protocolId = SysAllocString(own))) {
    SysFreeString(*connectionId);
    *connectionId = nullptr;
    return E_OUTOFMEMORY;
  }
  *online = m_bstrCommunicationReference.Empty() ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::SetCommunication(IFdtCommunication* channel) {
  m_pFrameChannel = nullptr;
  if (!channel) return S_OK;
  vkr::ComPtr<IFdtCommunication> frame;
  HRESULT hr = channel->QueryInterface(IFdtCommunication::iid, frame.PutVoid());
  if (FAILED(hr)) return hr;
  if (!frame) return E_FAIL;
  m_pFrameChannel = frame;
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::ConnectionReserved1(VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseConnectionImpl::ConnectionReserved2(VARIANT) { return E_NOTIMPL; }

// ---- Sending -------------------------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::SendConnectRequest(VARIANT context, BSTR document, BSTR protocolId, HANDLE event,
                                                      VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!m_pFrameChannel) return E_UNEXPECTED;
  vkr::ComPtr<IFdtCommunicationEvents> events;
  HRESULT hr = Self()->QueryInterface(IFdtCommunicationEvents::iid, events.PutVoid());
  if (FAILED(hr)) return hr;
  vkr::Bstr invokeId;
  hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  if (!AddPending(invokeId, context, event, nullptr, RequestKind::Connect)) return E_OUTOFMEMORY;
  LogDocument("send ConnectRequest", invokeId, document);
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  hr = frame->ConnectRequest(events.Get(), invokeId, protocolId, document, result);
  if (SUCCEEDED(hr) && *result == VARIANT_TRUE) return S_OK;
  DropPending(invokeId);
  *result = VARIANT_FALSE;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::SendDisconnectRequest(VARIANT context, BSTR document, HANDLE event,
                                                         VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!m_pFrameChannel) return E_UNEXPECTED;
  vkr::Bstr invokeId;
  HRESULT hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  if (!AddPending(invokeId, context, event, nullptr, RequestKind::Disconnect)) return E_OUTOFMEMORY;
  LogDocument("send DisconnectRequest", invokeId, document);
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  hr = frame->DisconnectRequest(invokeId, document, result);
  if (SUCCEEDED(hr) && *result == VARIANT_TRUE) {
    m_bDisconnectRequested = true;
    return S_OK;
  }
  DropPending(invokeId);
  *result = VARIANT_FALSE;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::SendTransactionRequest(VARIANT context, BSTR document, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!m_pFrameChannel) return E_UNEXPECTED;
  vkr::Bstr invokeId;
  HRESULT hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  if (!AddPending(invokeId, context, nullptr, nullptr)) return E_OUTOFMEMORY;
  LogDocument("send TransactionRequest", invokeId, document);
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  hr = frame->TransactionRequest(invokeId, document, result);
  if (SUCCEEDED(hr) && *result == VARIANT_TRUE) return S_OK;
  DropPending(invokeId);
  *result = VARIANT_FALSE;
  // No answer will come for it: its parameter fails now, as an answer's failure would.
  ReportUnanswered(context, NotTakenText());
  return E_FAIL;
}

HRESULT CovFDT_BaseConnectionImpl::SendAndWait(BSTR invokeId, BSTR document, HANDLE event, VARIANT_BOOL* taken) {
  LogDocument("send TransactionRequest", invokeId, document);
  VARIANT_BOOL accepted = VARIANT_FALSE;
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  HRESULT hr = frame ? frame->TransactionRequest(invokeId, document, &accepted) : E_UNEXPECTED;
  if (taken) *taken = accepted;
  if (FAILED(hr)) {
    DropPending(invokeId);
    return E_FAIL;
  }
  // A request the frame refused will never be answered: waiting for it would only hold the
  // caller (and every transaction of a list after it) for the whole time-out.
  if (accepted != VARIANT_TRUE) {
    DropPending(invokeId);
    return S_FALSE;
  }
  const BOOL signalled = WaitWithMessageLoop(event, m_dwTransactionTimeout);
  // The record goes before the event is closed: a late answer then finds nothing to set.
  DropPending(invokeId);
  return signalled ? S_OK : E_ABORT;
}

HRESULT CovFDT_BaseConnectionImpl::SendTransactionBlocking(VARIANT context, BSTR document, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!m_pFrameChannel) return E_UNEXPECTED;
  vkr::Bstr invokeId;
  HRESULT hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  HANDLE event = NewWaitEvent();
  if (!event) return HRESULT_FROM_WIN32(GetLastError());
  auto slot = std::make_shared<WaitSlot>();
  if (!AddPending(invokeId, context, event, slot)) {
    CloseHandle(event);
    return E_OUTOFMEMORY;
  }
  m_hrTransactionResult = S_OK;
  m_bLastTransactionAnswered = false;
  VARIANT_BOOL taken = VARIANT_FALSE;
  hr = SendAndWait(invokeId, document, event, &taken);
  CloseHandle(event);
  *result = taken;
  if (FAILED(hr) || hr == S_FALSE) return hr;
  // Woken without an answer (the frame aborted the connection): nothing was transferred.
  if (!slot->answered) return E_ABORT;
  m_bLastTransactionAnswered = true;
  m_hrTransactionResult = slot->hr;
  return slot->hr;
}

// ---- Answers -------------------------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::OnConnectResponse(BSTR invokeId, BSTR response) {
  ConnectionSelfRef self(Self());
  LogDocument("OnConnectResponse", invokeId, response);
  if (!m_pDTM) return E_ACCESSDENIED;
  vkr::Variant context;
  HANDLE event = nullptr;
  if (!TakePending(invokeId, &context, &event, nullptr)) return E_FAIL;
  // A refused answer still ends the connect: a blocking one wakes with failure, and the owner
  // learns that it did not connect (unless a connection stands already).
  auto refuse = [&](HRESULT hr) {
    ConnectFailed(context, kTextConnectRefused);
    if (event) {
      m_bConnectSucceeded = false;
      SetEvent(event);
    }
    return hr;
  };
  if (!m_pProtocol || !m_bstrCommunicationReference.Empty()) return refuse(E_UNEXPECTED);
  vkr::Bstr reference, text;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = m_pProtocol->ParseConnectResponse(response, reference.Put(), &ok, text.Put());
  if (FAILED(hr)) return refuse(hr);
  const bool success = ok == VARIANT_TRUE;
  if (success) {
    m_bstrCommunicationReference = reference;
    m_bLinkLost = false;
  }
  if (vkr::ComPtr<IovFdtConnectionObjectCallback> owner = m_pOwnerCallback)
    owner->OnConnected(m_bstrConnectionId, success ? VARIANT_TRUE : VARIANT_FALSE, context, text);
  m_bConnected = success;
  if (event) {
    m_bConnectSucceeded = success;
    SetEvent(event);
  }
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::OnDisconnectResponse(BSTR invokeId, BSTR response) {
  ConnectionSelfRef self(Self());
  LogDocument("OnDisconnectResponse", invokeId, response);
  if (!m_pDTM) return E_ACCESSDENIED;
  vkr::Variant context;
  HANDLE event = nullptr;
  if (!TakePending(invokeId, &context, &event, nullptr)) return E_FAIL;
  m_bDisconnectRequested = false;
  auto refuse = [&](HRESULT hr) {
    if (event) {
      m_bDisconnectSucceeded = false;
      SetEvent(event);
    }
    if (m_hGoingOfflineEvent) SetEvent(m_hGoingOfflineEvent);
    return hr;
  };
  if (!m_pProtocol) return refuse(E_UNEXPECTED);
  vkr::Bstr text;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = m_pProtocol->ParseDisconnectResponse(m_bstrCommunicationReference, response, &ok, text.Put());
  if (FAILED(hr)) return refuse(hr);
  const bool success = ok == VARIANT_TRUE;
  // A refused disconnection leaves the channel connected, and the reference with it.
  if (success) m_bstrCommunicationReference.Reset();
  if (vkr::ComPtr<IovFdtConnectionObjectCallback> owner = m_pOwnerCallback)
    owner->OnDisconnected(m_bstrConnectionId, success ? VARIANT_TRUE : VARIANT_FALSE, context, text);
  m_bConnected = !success;
  if (event) {
    m_bDisconnectSucceeded = success;
    SetEvent(event);
  }
  if (m_hGoingOfflineEvent) SetEvent(m_hGoingOfflineEvent);
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::OnTransactionResponse(BSTR invokeId, BSTR response) {
  ConnectionSelfRef self(Self());
  LogDocument("OnTransactionResponse", invokeId, response);
  // The frame's word that the link to the device is gone.
  if (const std::u16string_view text = TextOf(response);
      text.find(u"CommunicationError") != std::u16string_view::npos &&
      text.find(u"\"noConnection\"") != std::u16string_view::npos)
    m_bLinkLost = true;
  // An answer this object reads itself is loaded and validated once, here: the status parameters
  // and the protocol's reader share the document and what is read from it. Answers of the raw
  // transactions go to their own handlers as text.
  SovFDT_LoadedResponse answer;
  answer.text = response;
  bool loadedHere = false;
  HRESULT loadResult = S_OK;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (const VARIANT* pending = PendingContext(invokeId); pending && ReadsAnswerItself(*pending)) {
    loadedHere = true;
    loadResult = LoadXMLDocument(response, answer.document.Put(), &loaded);
    if (FAILED(loadResult) || loaded != VARIANT_TRUE) answer.document = nullptr;
  }
  // While this call lasts (the readers may call back into this object, which then sees the same
  // answer or none).
  struct Handing {
    SovFDT_LoadedResponse*& slot;
    SovFDT_LoadedResponse* old;
    std::unique_ptr<CovFDT_BaseProtocolImpl>& protocol;  // the current one at each end
    Handing(SovFDT_LoadedResponse*& s, SovFDT_LoadedResponse* now, std::unique_ptr<CovFDT_BaseProtocolImpl>& p)
        : slot(s), old(s), protocol(p) {
      slot = now;
      if (protocol) protocol->SetLoadedResponse(now);
    }
    ~Handing() {
      slot = old;
      if (protocol) protocol->SetLoadedResponse(old);
    }
  } handing(m_pLoadedResponse, &answer, m_pProtocol);
  // The status parameters come from every DataExchangeResponse, also one no request waits for.
  HRESULT hr = WriteStatusParameters(response);
  if (hr == E_POINTER) return hr;

  vkr::Variant context;
  HANDLE event = nullptr;
  std::shared_ptr<WaitSlot> slot;
  if (!TakePending(invokeId, &context, &event, &slot)) return E_FAIL;

  if (ContextHasType(context, kRequestTypeGenericTransaction))
    return HandleGenericResult(invokeId, context, response, event, slot);
  if (ContextHasType(context, kRequestTypeDataExchange))
    return HandleDataExchangeResult(invokeId, context, response, event);
  if (ContextHasType(context, kRequestTypeCommand)) return HandleCommandResult(invokeId, context, response, event);

  if (!loadedHere) {
    answer.document = nullptr;
    answer.reading.reset();
    loadResult = LoadXMLDocument(response, answer.document.Put(), &loaded);
  }
  if (FAILED(loadResult) || loaded != VARIANT_TRUE || !m_pProtocol) {
    // A waiter ends by its time-out; a read or write nobody waits for is reported failed now,
    // its record being gone.
    if (!event) ReportUnanswered(context, kTextUnreadable);
    if (FAILED(loadResult)) return loadResult;
    return loaded != VARIANT_TRUE ? E_FAIL : E_UNEXPECTED;
  }
  hr = m_pProtocol->ParseTransactionResponse(context, response, m_bstrCommunicationReference, VARIANT_TRUE, nullptr);
  if (event) {
    m_hrTransactionResult = hr;
    Wake(event, slot, hr);
  }
  return S_OK;
}

const VARIANT* CovFDT_BaseConnectionImpl::PendingContext(BSTR invokeId) const {
  if (SysStringLen(invokeId) != kInvokeIdLength) return nullptr;
  for (const PendingRequest& record : m_pendingRequests)
    if (record.invokeId.Length() == kInvokeIdLength && SameText(record.invokeId, invokeId)) return &record.context;
  return nullptr;
}

bool CovFDT_BaseConnectionImpl::ReadsAnswerItself(const VARIANT& context) {
  return !ContextHasType(context, kRequestTypeGenericTransaction) &&
         !ContextHasType(context, kRequestTypeDataExchange) && !ContextHasType(context, kRequestTypeCommand);
}

HRESULT CovFDT_BaseConnectionImpl::OnAbort(BSTR communicationReference) {
  ConnectionSelfRef self(Self());
  LogLine("OnAbort(" + Narrow(communicationReference) + ") received");
  if (!m_pDTM) return E_ACCESSDENIED;
  if (m_bstrCommunicationReference.Empty()) {
    // The frame ended a connection before confirming it: the frame's events reach this object
    // only for its own requests, so it is a connect of this object still waiting for its answer.
    std::vector<PendingRequest> connects;
    for (auto it = m_pendingRequests.begin(); it != m_pendingRequests.end();) {
      if (it->kind != RequestKind::Connect) {
        ++it;
        continue;
      }
      StopExpiry(*it);
      connects.push_back(std::move(*it));
      it = m_pendingRequests.erase(it);
    }
    if (connects.empty()) return E_FAIL;
    for (PendingRequest& record : connects) {
      ConnectFailed(record.context, kTextAborted);
      if (record.event) {
        m_bConnectSucceeded = false;
        SetEvent(record.event);
      }
    }
    return S_OK;
  }
  if (!SameText(communicationReference, m_bstrCommunicationReference)) return E_FAIL;
  // In any state: a connection the frame has ended is gone, also while the DTM goes on- or
  // offline (a DTM that waited for its disconnection would otherwise never get there).
  EDtmState state = dsUNDEFINED;
  HRESULT hr = m_pDTM->GetDTMState(&state);
  if (FAILED(hr)) return hr;
  m_bConnected = false;
  m_bstrCommunicationReference.Reset();
  // The waiters are told while the DTM is still reachable: the owner, told next, lets go of this
  // connection and with it of the DTM.
  WakeAllWaiters();
  if (vkr::ComPtr<IovFdtConnectionObjectCallback> owner = m_pOwnerCallback)
    owner->OnConnectionReleased(m_bstrConnectionId);
  return S_OK;
}

void CovFDT_BaseConnectionImpl::WakeAllWaiters() {
  m_bAborted = true;
  FailPendingRequests(kTextAborted);
}

HRESULT CovFDT_BaseConnectionImpl::OnParentVersion(BSTR invokeId, BSTR version, BSTR connectResponse) {
  ConnectionSelfRef self(Self());
  OnConnectResponse(invokeId, connectResponse);
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (!version || FAILED(::LoadXmlFromString(version, document.Put(), &loaded)) || loaded != VARIANT_TRUE ||
      !document)
    return S_FALSE;
  LONG major = -1, minor = -1, release = -1;
  const vkr::Bstr base(u"FDT/ParentVersion/fdtvers:FDTVersion/@");
  auto read = [&](const char16_t* name, LONG* out) {
    vkr::Bstr path(base.Str() + name);
    return SUCCEEDED(GetXmlValueI4(out, document.Get(), path));
  };
  if (!read(u"major", &major) || !read(u"minor", &minor) || !read(u"release", &release)) return S_FALSE;
  if (major == 1 && minor == 2 && release == 1) {
    m_bFrame121 = 1;
    return S_OK;
  }
  if (major == 1 && minor == 2 && release == 0) {
    m_bFrame121 = 0;
    return S_OK;
  }
  return S_FALSE;
}

// ---- Blocking connect and disconnect -------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::ConnectBlocking(BSTR document, BSTR protocolId) {
  if (m_bBusyConnecting) return E_ACCESSDENIED;
  m_bBusyConnecting = true;
  m_bConnectSucceeded = false;
  HANDLE event = NewWaitEvent();
  if (!event) {
    m_bBusyConnecting = false;
    return HRESULT_FROM_WIN32(GetLastError());
  }
  VARIANT_BOOL sent = VARIANT_FALSE;
  vkr::Variant empty;
  HRESULT hr = SendConnectRequest(empty, document, protocolId, event, &sent);
  if (FAILED(hr) || sent != VARIANT_TRUE) {
    m_bBusyConnecting = false;
    CloseHandle(event);
    return E_FAIL;
  }
  const BOOL signalled = WaitWithMessageLoop(event, m_dwConnectTimeout);
  // Without an answer the record is still there: it goes before the event is closed, and the
  // connect counts as refused.
  vkr::Variant context;
  if (DropPendingWithEvent(event, &context)) ConnectFailed(context, kTextNoAnswer);
  CloseHandle(event);
  m_bBusyConnecting = false;
  if (!signalled) return E_ABORT;
  return m_bConnectSucceeded ? S_OK : E_FAIL;
}

HRESULT CovFDT_BaseConnectionImpl::DisconnectBlocking(BSTR document) {
  if (m_bBusyDisconnecting) return E_ACCESSDENIED;
  m_bBusyDisconnecting = true;
  m_bDisconnectSucceeded = false;
  HANDLE event = NewWaitEvent();
  if (!event) {
    m_bBusyDisconnecting = false;
    return HRESULT_FROM_WIN32(GetLastError());
  }
  VARIANT_BOOL sent = VARIANT_FALSE;
  vkr::Variant empty;
  HRESULT hr = SendDisconnectRequest(empty, document, event, &sent);
  BOOL signalled = FALSE;
  if (SUCCEEDED(hr) && sent == VARIANT_TRUE) {
    signalled = WaitWithMessageLoop(event, m_dwDisconnectTimeout);
    DropPendingWithEvent(event, nullptr);
  }
  CloseHandle(event);
  m_bBusyDisconnecting = false;
  const bool confirmed = signalled && m_bDisconnectSucceeded;
  // Asked to disconnect, the connection ends, confirmed by the frame or not.
  EndUnconfirmedConnection();
  if (FAILED(hr) || sent != VARIANT_TRUE) return E_FAIL;
  if (!signalled) return E_ABORT;
  return confirmed ? S_OK : E_FAIL;
}

HRESULT CovFDT_BaseConnectionImpl::ConnectWithRequest(VARIANT request, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pProtocol) return E_UNEXPECTED;
  vkr::Bstr document;
  HRESULT hr = BuildConnectRequest(request, document.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr protocolId(m_pProtocol->GetProtocolId());
  vkr::Variant empty;
  hr = SendConnectRequest(empty, document, protocolId, nullptr, done);
  if (FAILED(hr)) return hr;
  return *done == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::Connect(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *result = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document, protocolId;
  vkr::Variant context;
  HRESULT hr = m_pProtocol->CreateConnectRequest(&created, document.Put(), protocolId.Put(), context.Put());
  if (FAILED(hr) || created != VARIANT_TRUE) return S_FALSE;
  hr = SendConnectRequest(context, document, protocolId, nullptr, result);
  if (FAILED(hr)) return hr;
  return *result == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::Disconnect(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *result = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant context;
  HRESULT hr =
      m_pProtocol->CreateDisconnectRequest(&created, document.Put(), m_bstrCommunicationReference, context.Put());
  if (FAILED(hr) || created != VARIANT_TRUE) return S_FALSE;
  hr = SendDisconnectRequest(context, document, nullptr, result);
  if (FAILED(hr)) return hr;
  return *result == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::GoOnline(VARIANT_BOOL* ok) {
  LogLine("CovFDT_BaseConnectionImpl::GoOnline()");
  if (!m_pDTM) return E_ACCESSDENIED;
  EDtmState state = dsUNDEFINED;
  if (FAILED(m_pDTM->GetDTMState(&state)) || state != dsGOINGONLINE) return E_FAIL;
  return Connect(ok);
}

HRESULT CovFDT_BaseConnectionImpl::GoOffline(VARIANT_BOOL* ok) {
  LogLine("CovFDT_BaseConnectionImpl::GoOffline()");
  if (!ok) return E_INVALIDARG;
  *ok = VARIANT_FALSE;
  if (!m_pDTM) return E_ACCESSDENIED;
  if (m_bstrCommunicationReference.Empty()) {
    *ok = VARIANT_TRUE;
    return S_OK;
  }
  HANDLE event = NewWaitEvent();
  if (!event) return HRESULT_FROM_WIN32(GetLastError());
  HANDLE outer = m_hGoingOfflineEvent;  // a GoOffline already waiting (re-entered) keeps its own
  m_hGoingOfflineEvent = event;
  VARIANT_BOOL sent = VARIANT_FALSE;
  Disconnect(&sent);
  if (sent == VARIANT_TRUE) WaitWithMessageLoop(event, m_dwDisconnectTimeout);
  m_hGoingOfflineEvent = outer;
  CloseHandle(event);
  // No confirmed disconnection (no answer, a refused answer, a request the frame refused): the
  // DTM goes offline all the same, or it would stay going offline for good.
  const bool confirmed = m_bstrCommunicationReference.Empty();
  EndUnconfirmedConnection();
  *ok = VARIANT_TRUE;
  return confirmed ? S_OK : S_FALSE;
}

// ---- Single parameters ---------------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::ReadParameter(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *done = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant context;
  HRESULT hr = m_pProtocol->CreateReadRequest(id, m_bstrCommunicationReference, VARIANT_FALSE, &created,
                                              document.Put(), context.Put());
  if (FAILED(hr)) return hr;
  if (created != VARIANT_TRUE) return S_FALSE;
  hr = SendTransactionRequest(context, document, done);
  if (FAILED(hr)) return hr;
  return *done == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *done = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant context;
  HRESULT hr = m_pProtocol->CreateWriteRequest(id, value, m_bstrCommunicationReference, VARIANT_FALSE, &created,
                                               document.Put(), context.Put());
  if (FAILED(hr)) return hr;
  if (created != VARIANT_TRUE) return S_FALSE;
  hr = SendTransactionRequest(context, document, done);
  if (FAILED(hr)) return hr;
  return *done == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::ReadParameterSync(VARIANT id, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *done = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant context;
  HRESULT hr = m_pProtocol->CreateReadRequest(id, m_bstrCommunicationReference, VARIANT_FALSE, &created,
                                              document.Put(), context.Put());
  if (FAILED(hr)) return hr;
  if (created != VARIANT_TRUE) return S_FALSE;
  hr = SendTransactionBlocking(context, document, done);
  // A request that got no answer (the channel did not take it, none came, the connection went)
  // fails its parameter as a refusing answer would: whoever waits for it learns why.
  if ((FAILED(hr) || *done != VARIANT_TRUE) && !m_bLastTransactionAnswered)
    ReportUnanswered(context, *done != VARIANT_TRUE ? NotTakenText() : kTextNoAnswer);
  if (FAILED(hr)) {
    *done = VARIANT_FALSE;
    return hr;
  }
  return *done == VARIANT_TRUE ? hr : S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  if (!m_pProtocol) return E_UNEXPECTED;
  *done = VARIANT_FALSE;
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant context;
  HRESULT hr = m_pProtocol->CreateWriteRequest(id, value, m_bstrCommunicationReference, VARIANT_TRUE, &created,
                                               document.Put(), context.Put());
  if (FAILED(hr)) return hr;
  if (created != VARIANT_TRUE) return S_FALSE;
  hr = SendTransactionBlocking(context, document, done);
  // A request that got no answer (the channel did not take it, none came, the connection went)
  // fails its parameter as a refusing answer would: whoever waits for it learns why.
  if ((FAILED(hr) || *done != VARIANT_TRUE) && !m_bLastTransactionAnswered)
    ReportUnanswered(context, *done != VARIANT_TRUE ? NotTakenText() : kTextNoAnswer);
  if (FAILED(hr)) {
    *done = VARIANT_FALSE;
    return hr;
  }
  return *done == VARIANT_TRUE ? hr : S_FALSE;
}

// The connection's generic service: registered clients, the queue of background list reads that
// runs one transaction at a time, named services (subscriptions) and generic requests.
#include <string>

#include "communication/CovFDT_BaseConnectionImpl.h"
#include "xml/Conversions.h"

namespace {

// Client keys are GUID texts; anything else compares by value.
bool SameKey(const VARIANT& a, const VARIANT& b) {
  if (a.vt == VT_BSTR && b.vt == VT_BSTR)
    return CovFDT_BaseConnectionImpl::TextOf(a.bstrVal) == CovFDT_BaseConnectionImpl::TextOf(b.bstrVal);
  if (a.vt == VT_EMPTY || b.vt == VT_EMPTY) return a.vt == b.vt;
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

// Bounds of a one-dimensional array VARIANT of the given type.
bool ArrayBounds(const VARIANT& v, VARTYPE vt, LONG* lower, LONG* upper) {
  if (v.vt != (VT_ARRAY | vt) || !v.parray || SafeArrayGetDim(v.parray) != 1) return false;
  return SUCCEEDED(SafeArrayGetLBound(v.parray, 1, lower)) && SUCCEEDED(SafeArrayGetUBound(v.parray, 1, upper));
}

}  // namespace

// ---- Queue items ---------------------------------------------------------------------------

bool CovFDT_BaseConnectionImpl::STransactionInfoUpdate::NextRequest(BSTR* document) {
  *document = nullptr;
  LONG lower = 0, upper = -1;
  if (!ArrayBounds(documents, VT_BSTR, &lower, &upper)) return false;
  for (; lower + nIndex <= upper; ++nIndex) {
    LONG index = lower + nIndex;
    BSTR text = nullptr;
    if (FAILED(SafeArrayGetElement(documents.parray, &index, &text))) return false;
    if (SysStringLen(text) > 0) {
      *document = text;
      return true;
    }
    SysFreeString(text);
  }
  return false;
}

void CovFDT_BaseConnectionImpl::STransactionInfoUpdate::Notify(IovFDTGenericCommServiceEvents* client) const {
  if (!client) return;
  vkr::Variant requestId;
  requestId.vt = VT_BSTR;
  requestId.bstrVal = SysAllocStringLen(bstrRequestId.Get(), bstrRequestId.Length());
  vkr::Variant empty;
  client->OnGenericCommServiceEvent(requestId, empty, contexts);
}

bool CovFDT_BaseConnectionImpl::STransactionInfoUpdate::HandleAnswer(CovFDT_BaseConnectionImpl* connection,
                                                                     BSTR response,
                                                                     IovFDTGenericCommServiceEvents* client) {
  LONG lower = 0, upper = -1;
  vkr::Variant context;
  LONG index = 0;
  if (!ArrayBounds(contexts, VT_VARIANT, &lower, &upper) || (index = lower + nIndex) > upper ||
      FAILED(SafeArrayGetElement(contexts.parray, &index, context.Put()))) {
    // The client still learns that its request ended, or it would wait for ever.
    Notify(client);
    return true;
  }
  if (!response) {
    // No answer came in time: the members of this transaction keep their values and the
    // handler learns of the failure; the item goes on with its next transaction.
    connection->ReportUnanswered(context, kTextNoAnswer);
  } else if (connection->m_pProtocol) {
    connection->m_pProtocol->ParseTransactionResponse(context, response, connection->m_bstrCommunicationReference,
                                                      VARIANT_TRUE, nullptr);
  }
  ++nIndex;
  vkr::Bstr next;
  const LONG saved = nIndex;
  const bool more = NextRequest(next.Put());
  nIndex = saved;
  if (more) return false;
  Notify(client);
  return true;
}

// ---- The queue -----------------------------------------------------------------------------

std::size_t CovFDT_BaseConnectionImpl::GenericQueueLength() {
  EnterCriticalSection(&m_genericQueue.cs);
  std::size_t n = m_genericQueue.items.size();
  LeaveCriticalSection(&m_genericQueue.cs);
  return n;
}

IovFDTGenericCommServiceEvents* CovFDT_BaseConnectionImpl::FindGenericClient(const VARIANT& key) {
  for (GenericClient& client : m_genericClients)
    if (SameKey(client.key, key)) return client.events.Get();
  return nullptr;
}

void CovFDT_BaseConnectionImpl::QueueAppend(std::unique_ptr<STransactionInfo> item) {
  EnterCriticalSection(&m_genericQueue.cs);
  m_genericQueue.items.push_back(std::move(item));
  LeaveCriticalSection(&m_genericQueue.cs);
  QueueSendNext();
}

void CovFDT_BaseConnectionImpl::QueueDropFront(bool notify) {
  std::unique_ptr<STransactionInfo> front;
  EnterCriticalSection(&m_genericQueue.cs);
  if (!m_genericQueue.items.empty()) {
    front = std::move(m_genericQueue.items.front());
    m_genericQueue.items.pop_front();
  }
  LeaveCriticalSection(&m_genericQueue.cs);
  if (!front || !notify) return;
  if (auto* update = dynamic_cast<STransactionInfoUpdate*>(front.get())) {
    vkr::ComPtr<IovFDTGenericCommServiceEvents> client = FindGenericClient(update->clientKey);
    update->Notify(client.Get());
  }
}

void CovFDT_BaseConnectionImpl::QueueFlush() {
  for (;;) {
    EnterCriticalSection(&m_genericQueue.cs);
    const bool empty = m_genericQueue.items.empty();
    m_genericQueue.busy = false;
    LeaveCriticalSection(&m_genericQueue.cs);
    if (empty) return;
    QueueDropFront(true);
  }
}

void CovFDT_BaseConnectionImpl::QueueSendNext() {
  for (;;) {
    STransactionInfo* front = nullptr;
    EnterCriticalSection(&m_genericQueue.cs);
    if (!m_genericQueue.items.empty() && !m_genericQueue.busy) {
      front = m_genericQueue.items.front().get();
      m_genericQueue.busy = true;
    }
    LeaveCriticalSection(&m_genericQueue.cs);
    if (!front) return;

    vkr::Bstr document;
    bool sent = false;
    if (front->NextRequest(document.Put())) {
      SGenericInfo info;
      info.requestType.vt = VT_BSTR;
      info.requestType.bstrVal = SysAllocString(kRequestTypeGenericTransaction);
      vkr::Variant context;
      VARIANT_BOOL taken = VARIANT_FALSE;
      if (info.requestType.bstrVal && info.Pack(&context)) {
        HRESULT hr = SendTransactionRequest(context, document, &taken);
        sent = SUCCEEDED(hr) && taken == VARIANT_TRUE;
      }
    }
    if (sent) return;
    // Nothing to send, or the frame refused it: the item cannot go on. It ends here and its
    // client is told, so the queue does not stay busy with no answer to come.
    EnterCriticalSection(&m_genericQueue.cs);
    const bool stillFront = !m_genericQueue.items.empty() && m_genericQueue.items.front().get() == front;
    LeaveCriticalSection(&m_genericQueue.cs);
    if (stillFront) QueueDropFront(true);
    EnterCriticalSection(&m_genericQueue.cs);
    m_genericQueue.busy = false;
    LeaveCriticalSection(&m_genericQueue.cs);
  }
}

HRESULT CovFDT_BaseConnectionImpl::HandleGenericResult(BSTR invokeId, const VARIANT& context, BSTR response,
                                                       HANDLE event, const std::shared_ptr<WaitSlot>& slot) {
  if (event) {
    // A generic blocking request: the protocol objects of this program have no generic answer.
    BlockingResult entry;
    entry.invokeId = vkr::Bstr(invokeId);
    entry.hr = E_NOTIMPL;
    m_resultList.push_back(std::move(entry));
    Wake(event, slot, E_NOTIMPL);
    return S_OK;
  }
  HRESULT hr = S_OK;
  SGenericInfo info;
  STransactionInfo* front = nullptr;
  EnterCriticalSection(&m_genericQueue.cs);
  if (!m_genericQueue.items.empty()) front = m_genericQueue.items.front().get();
  LeaveCriticalSection(&m_genericQueue.cs);
  if (m_bstrCommunicationReference.Empty())
    hr = E_UNEXPECTED;
  else if (!m_pProtocol)
    hr = E_POINTER;
  else if (!info.Unpack(context) || !front)
    hr = E_UNEXPECTED;
  if (FAILED(hr)) {
    // The item's answer cannot be used; it ends so the queue goes on.
    if (front) QueueDropFront(true);
  } else {
    vkr::ComPtr<IovFDTGenericCommServiceEvents> client = FindGenericClient(front->clientKey);
    if (front->HandleAnswer(this, response, client.Get())) QueueDropFront(false);
  }
  EnterCriticalSection(&m_genericQueue.cs);
  m_genericQueue.busy = false;
  LeaveCriticalSection(&m_genericQueue.cs);
  QueueSendNext();
  return hr;
}

// ---- IovFDTGenericCommService(2) -------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey, VARIANT_BOOL* done) {
  if (!client || !clientKey || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::Bstr key;
  if (FAILED(CreateGuidString(key.Put())) || key.Empty()) return S_FALSE;
  vkr::ComPtr<IovFDTGenericCommServiceEvents> events;
  if (FAILED(client->QueryInterface(IovFDTGenericCommServiceEvents::iid, events.PutVoid())) || !events)
    return S_FALSE;
  GenericClient entry;
  entry.key.vt = VT_BSTR;
  entry.key.bstrVal = key.Detach();
  entry.events = events;
  vkr::Variant copy(entry.key);
  m_genericClients.push_back(std::move(entry));
  VariantClear(clientKey);
  copy.Detach(clientKey);
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  for (auto it = m_genericClients.begin(); it != m_genericClients.end(); ++it) {
    if (!SameKey(it->key, clientKey)) continue;
    GenericClient gone = std::move(*it);
    m_genericClients.erase(it);
    *done = VARIANT_TRUE;
    return S_OK;  // gone releases the client's interface
  }
  return S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId,
                                                        VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pProtocol) return E_UNEXPECTED;
  vkr::Variant members;
  bool notArray = false;
  HRESULT hr = ResolveList(listId, members.Put(), &notArray);
  if (notArray) return E_FAIL;
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE) return S_FALSE;
  vkr::Variant documents, contexts;
  hr = m_pProtocol->CreateReadTransactions(listId, m_bstrCommunicationReference, documents.Put(), contexts.Put());
  if (FAILED(hr)) return hr;
  LONG lower = 0, upper = -1;
  if (!ArrayBounds(documents, VT_BSTR, &lower, &upper) || upper < lower) return S_FALSE;
  auto item = std::make_unique<STransactionInfoUpdate>(clientKey, requestId, documents, contexts);
  *done = VARIANT_TRUE;
  QueueAppend(std::move(item));
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::RequestService(BSTR protocolId, VARIANT service, VARIANT argument, VARIANT* result,
                                                  VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pProtocol) return E_UNEXPECTED;
  if (!m_pFrameChannel || m_bstrCommunicationReference.Empty()) return S_FALSE;
  const LPCWSTR own = m_pProtocol->GetProtocolId();
  if (service.vt == VT_BSTR && own && CovFDT_BaseConnectionImpl::TextOf(protocolId) == std::u16string_view(own)) {
    const vkr::Bstr serviceName(service.bstrVal);
    const std::u16string_view name = serviceName.View();
    if (name == u"subscribe") {
      vkr::Bstr invokeId;
      if (FAILED(NewInvokeId(&invokeId))) return S_FALSE;
      return SubscribeBlocking(invokeId, argument, done);
    }
    if (name == u"unsubscribe") {
      vkr::Bstr invokeId;
      if (!FindSubscription(argument, invokeId.Put())) return S_FALSE;
      return UnsubscribeBlocking(invokeId, done);
    }
  }
  // The generic blocking road: the protocol would write the service's document; no protocol
  // object of this program has one.
  (void)result;
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseConnectionImpl::SendGenericRequest(BSTR, VARIANT clientKey, BSTR, VARIANT, VARIANT,
                                                      VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pFrameChannel || m_bstrCommunicationReference.Empty() || !FindGenericClient(clientKey)) return S_FALSE;
  // The protocol would write the request's document; no protocol object of this program has one.
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseConnectionImpl::SubscribeBlocking(BSTR, VARIANT, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseConnectionImpl::UnsubscribeBlocking(BSTR, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return E_NOTIMPL;
}

bool CovFDT_BaseConnectionImpl::FindSubscription(const VARIANT&, BSTR* invokeId) {
  *invokeId = nullptr;
  return false;
}

HRESULT CovFDT_BaseConnectionImpl::ResolveList(const VARIANT& listId, VARIANT* members, bool* notArray) {
  *notArray = false;
  if (!m_pDTM) return E_UNEXPECTED;
  vkr::ComPtr<IovFDTParamList> lists;
  HRESULT hr = m_pDTM->QueryInterface(IovFDTParamList::iid, lists.PutVoid());
  if (FAILED(hr)) return hr;
  if (!lists) return E_NOINTERFACE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = lists->GetMembers(listId, members, &ok);
  if (FAILED(hr)) return hr;
  if (ok != VARIANT_TRUE) return E_FAIL;
  if (members->vt == VT_EMPTY) return S_FALSE;
  LONG lower = 0, upper = -1;
  if (!ArrayBounds(*members, VT_VARIANT, &lower, &upper)) {
    *notArray = true;
    return E_FAIL;
  }
  return upper < lower ? S_FALSE : S_OK;
}

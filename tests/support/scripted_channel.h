// A frame's communication channel run by a script: it keeps the request it was handed last
// (lastSent) and answers connect, disconnect and transaction requests inside the call with the
// documents the script holds, as a frame may; without an answer the request stays unanswered, and
// Inject hands an answer over later. Free of GoogleTest.
#pragma once

#include <optional>
#include <string>

#include "include/FdtInterfaces.h"
#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

class ScriptedChannel : public vkr::Implements<IFdtCommunication> {
 public:
  struct Sent {
    std::string kind;  // "connect", "disconnect", "transaction", "abort"
    vkr::Bstr invokeId;
    std::u16string document;
  };
  Sent lastSent;
  int requests = 0;
  // The answers given inside the call; none: the request stays unanswered.
  std::optional<std::u16string> connectAnswer, disconnectAnswer, transactionAnswer;
  // Whether the frame takes the requests.
  VARIANT_BOOL accept = VARIANT_TRUE;
  // The connection's events, from its connect request.
  vkr::ComPtr<IFdtCommunicationEvents> events;

  // Answers the transaction of invokeId as the frame would, after its request returned.
  HRESULT Inject(BSTR invokeId, const std::u16string& answer) {
    if (!events) return E_UNEXPECTED;
    vkr::ComPtr<IFdtCommunicationEvents> keep = events;
    return keep->OnTransactionResponse(invokeId, vkr::Bstr(answer));
  }

  VKR_TEST_DISPATCH

  HRESULT Abort(BSTR document) override {
    Record("abort", nullptr, document);
    return S_OK;
  }
  HRESULT ConnectRequest(IFdtCommunicationEvents* callback, BSTR invokeId, BSTR, BSTR document,
                         VARIANT_BOOL* result) override {
    events = callback;
    const HRESULT hr = Take("connect", invokeId, document, result);
    if (*result && connectAnswer && events) events->OnConnectResponse(invokeId, vkr::Bstr(*connectAnswer));
    return hr;
  }
  HRESULT DisconnectRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override {
    const HRESULT hr = Take("disconnect", invokeId, document, result);
    if (*result && disconnectAnswer && events) events->OnDisconnectResponse(invokeId, vkr::Bstr(*disconnectAnswer));
    return hr;
  }
  HRESULT TransactionRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override {
    const HRESULT hr = Take("transaction", invokeId, document, result);
    if (*result && transactionAnswer) Inject(invokeId, *transactionAnswer);
    return hr;
  }
  HRESULT GetSupportedProtocols(BSTR* protocols) override {
    if (protocols) *protocols = nullptr;
    return E_NOTIMPL;
  }
  HRESULT SequenceBegin(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceEnd(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceStart(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }

 private:
  void Record(const char* kind, BSTR invokeId, BSTR document) {
    lastSent.kind = kind;
    lastSent.invokeId = vkr::Bstr(invokeId);
    lastSent.document.assign(vkr::View(document));
    ++requests;
  }
  HRESULT Take(const char* kind, BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    Record(kind, invokeId, document);
    *result = accept;
    return S_OK;
  }
};

}  // namespace vkr::test

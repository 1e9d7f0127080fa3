// The HART layer of the connection: documents, status parameters, raw transactions, direct
// parameter access, subscriptions and the HART services.
#include "communication/CovFDT_HartConnectionImpl.h"

#include <cstdio>
#include <string>

#include "communication/HartResponseTexts.h"
#include "xml/XmlHelpers.h"

namespace {

VARIANT UI1(BYTE b) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = b;
  return v;
}

// Even-length text of hex digits only (the empty text included).
bool IsHexText(BSTR text) {
  const std::u16string_view view = CovFDT_BaseConnectionImpl::TextOf(text);
  if (view.size() % 2 != 0) return false;
  for (char16_t c : view)
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
  return true;
}

}  // namespace

CovFDT_HartConnectionImpl::CovFDT_HartConnectionImpl() { m_pProtocol = std::make_unique<CovFDT_HartProtocolImpl>(); }

HRESULT CovFDT_HartConnectionImpl::QueryExtraInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (riid == IovFdtHartServiceInterface::iid) {
    *ppv = static_cast<IovFdtHartServiceInterface*>(this);
    Self()->AddRef();
    return S_OK;
  }
  return CovFDT_BaseConnectionImpl::QueryExtraInterface(riid, ppv);
}

// ---- Documents -----------------------------------------------------------------------------

HRESULT CovFDT_HartConnectionImpl::BuildConnectRequest(VARIANT request, BSTR* document) {
  if (!document) return E_INVALIDARG;
  *document = nullptr;
  HARTConnectRequestInfo info;
  if (!info.Unpack(request)) return E_INVALIDARG;
  return info.WriteXml(document);
}

HRESULT CovFDT_HartConnectionImpl::ParseTransactionResponse(BSTR response, VARIANT* packedResponse) {
  if (!packedResponse) return E_INVALIDARG;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXMLDocument(response, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (loaded != VARIANT_TRUE || !document) return E_FAIL;
  HARTTransactResponseInfo info;
  hr = info.ReadXml(document.Get());
  if (FAILED(hr)) return hr;
  // A communication error is the frame's answer, which need not name the connection: the caller
  // learns from it why the device did not answer.
  if (info.nKind != kHartCommunicationError &&
      info.bstrCommunicationReference.View() != m_bstrCommunicationReference.View())
    return E_FAIL;
  return info.Pack(packedResponse) ? S_OK : E_FAIL;
}

HRESULT CovFDT_HartConnectionImpl::WriteStatusParameters(BSTR response) {
  // The response OnTransactionResponse has loaded is read from its document, once for all readers.
  if (m_pLoadedResponse && m_pLoadedResponse->text == response && m_pLoadedResponse->document) {
    const HARTTransactResponseInfo* info = nullptr;
    if (FAILED(ReadLoadedHartResponse(*m_pLoadedResponse, &info)) || !info) return S_FALSE;
    return WriteStatusFrom(*info);
  }
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (!response || FAILED(::LoadXmlFromString(response, document.Put(), &loaded)) || loaded != VARIANT_TRUE ||
      !document)
    return S_FALSE;
  HARTTransactResponseInfo info;
  if (FAILED(info.ReadXml(document.Get()))) return S_FALSE;
  return WriteStatusFrom(info);
}

HRESULT CovFDT_HartConnectionImpl::WriteStatusFrom(const HARTTransactResponseInfo& info) {
  if (info.nKind != kHartDataExchangeResponse) return S_FALSE;
  if (!info.pDataExchange) return E_POINTER;
  // Held for the four calls: each may reach the user interfaces, and the DTM may go meanwhile.
  vkr::ComPtr<IovFdtParameterHandler4> handler = m_pParameterHandler;
  if (!handler) return S_FALSE;
  const SovFDT_HART_DataExchangeResponse& data = *info.pDataExchange;
  handler->SetParameterValue(vkr::UI4(kParDeviceStatus), UI1(data.status.byDeviceStatus));
  handler->SetParameterValue(vkr::UI4(kParCommandResponse), UI1(data.status.byCommandResponse));
  if (data.byCommandNumber == 41)
    handler->SetParameterValue(vkr::UI4(kParCommand41Response), UI1(data.status.byCommandResponse));
  else if (data.byCommandNumber == 42)
    handler->SetParameterValue(vkr::UI4(kParCommand42Response), UI1(data.status.byCommandResponse));
  FollowPollingAddress(*handler.Get(), data);
  return S_OK;
}

void CovFDT_HartConnectionImpl::FollowPollingAddress(IovFdtParameterHandler4& handler,
                                                     const SovFDT_HART_DataExchangeResponse& data) {
  // Command 6 answers with the polling address the device now listens at. Once the device took
  // it, the DTM's own short address follows, or its next connect would look for the device
  // where it no longer is.
  constexpr BYTE kWritePollingAddress = 6;
  // A warning is the device's word that it took the address too.
  const BYTE response = data.status.byCommandResponse;
  if (data.byCommandNumber != kWritePollingAddress ||
      (response != 0 && !vkr::hart::IsWarning(kWritePollingAddress, response)) ||
      data.status.byCommunicationStatus != 0 || !data.bHasResponseData)
    return;
  const std::u16string_view hex = TextOf(data.bstrResponseData.Get());
  if (hex.size() < 2 || !IsHexText(data.bstrResponseData.Get())) return;
  auto digit = [](char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; };
  const BYTE address = static_cast<BYTE>(digit(hex[0]) << 4 | digit(hex[1]));
  // The same address again (a write of the loop current mode alone) leaves the data set as it is.
  vkr::Variant held;
  if (SUCCEEDED(handler.GetParameterValue(vkr::UI4(kParShortAddress), held.Put())) && held.vt == VT_UI1 &&
      held.bVal == address)
    return;
  handler.SetParameterValue(vkr::UI4(kParShortAddress), UI1(address));
}

HRESULT CovFDT_HartConnectionImpl::AbortAtFrame(BSTR communicationReference) {
  if (!m_pFrameChannel || SysStringLen(communicationReference) == 0) return E_UNEXPECTED;
  vkr::Bstr document;
  HRESULT hr = WriteAbortXml(communicationReference, document.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  return frame->Abort(document);
}

void CovFDT_HartConnectionImpl::ReportUnanswered(const VARIANT& context, LPCOLESTR text) {
  HARTTransactRequestInfo request;
  if (context.vt != (VT_ARRAY | VT_VARIANT) || !request.Unpack(context)) return;
  if (request.parameterId.vt == VT_EMPTY || !m_pParameterHandler) return;
  vkr::ComPtr<IovFdtParameterHandler4> handler = m_pParameterHandler;
  vkr::Variant none;
  // A write names its parameter, as a refusal from the device does.
  vkr::Bstr why(GetProtocol() ? GetProtocol()->DescribeFailedRequest(context, text) : std::u16string(text));
  handler->HandleDevParResponse(VARIANT_FALSE, request.parameterId, none, why);
}

// ---- Answers of raw transactions -----------------------------------------------------------

HRESULT CovFDT_HartConnectionImpl::StoreResult(BSTR invokeId, vkr::Variant&& answer, HRESULT parsed, HANDLE event) {
  if (!event) return S_OK;
  BlockingResult entry;
  entry.invokeId = vkr::Bstr(invokeId);
  if (!entry.invokeId.Get()) return E_OUTOFMEMORY;
  entry.answer = std::move(answer);
  entry.hr = parsed;
  m_resultList.push_back(std::move(entry));
  SetEvent(event);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::HandleDataExchangeResult(BSTR invokeId, VARIANT context, BSTR response,
                                                            HANDLE event) {
  if (m_bstrCommunicationReference.Empty()) return E_UNEXPECTED;
  if (!m_pProtocol) return E_POINTER;
  vkr::Variant request;
  HRESULT hr = UnpackDataExchangeContext(context, request.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXMLDocument(response, document.Put(), &loaded)) || loaded != VARIANT_TRUE) return E_FAIL;
  vkr::Variant answer;
  const HRESULT parsed = ParseTransactionResponse(response, answer.Put());
  return StoreResult(invokeId, std::move(answer), parsed, event);
}

HRESULT CovFDT_HartConnectionImpl::HandleCommandResult(BSTR invokeId, VARIANT context, BSTR response, HANDLE event) {
  if (m_bstrCommunicationReference.Empty()) return E_UNEXPECTED;
  if (!m_pProtocol) return E_POINTER;
  vkr::Variant request;
  HRESULT hr = UnpackCommandContext(context, request.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXMLDocument(response, document.Put(), &loaded)) || loaded != VARIANT_TRUE) return E_FAIL;
  vkr::Variant answer;
  const HRESULT parsed =
      m_pProtocol->ParseTransactionResponse(request, response, m_bstrCommunicationReference, 0, answer.Put());
  return StoreResult(invokeId, std::move(answer), parsed, event);
}

// ---- Blocking raw transactions -------------------------------------------------------------

HRESULT CovFDT_HartConnectionImpl::RunBlocking(BSTR invokeId, const VARIANT& context, BSTR document,
                                               vkr::Variant* answer) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) return HRESULT_FROM_WIN32(GetLastError());
  if (!AddPending(invokeId, context, event, nullptr)) {
    CloseHandle(event);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = SendAndWait(invokeId, document, event, nullptr);
  CloseHandle(event);
  // The entry goes on every path, so answers never pile up in the list.
  BlockingResult entry;
  const bool found = TakeResult(invokeId, &entry);
  if (FAILED(hr)) return hr;
  if (!found) return E_FAIL;
  if (FAILED(entry.hr)) return entry.hr;
  *answer = std::move(entry.answer);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::DataExchangeBlocking(VARIANT request, VARIANT* response) {
  if (!response) return E_INVALIDARG;
  if (!m_pProtocol || !m_pFrameChannel) return E_UNEXPECTED;
  vkr::Bstr invokeId;
  HRESULT hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  vkr::Variant context;
  hr = PackDataExchangeContext(request, context.Put());
  if (FAILED(hr)) return hr;
  // The document comes first: a request that cannot be written leaves nothing behind.
  vkr::Bstr document;
  hr = m_pProtocol->CreateDataExchangeRequest(request, m_bstrCommunicationReference, document.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant answer;
  hr = RunBlocking(invokeId, context, document, &answer);
  if (FAILED(hr)) return hr;
  VariantClear(response);
  answer.Detach(response);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::CommandTransactionBlocking(VARIANT request, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (!m_pProtocol || !m_pFrameChannel) return E_UNEXPECTED;
  vkr::Bstr invokeId;
  HRESULT hr = NewInvokeId(&invokeId);
  if (FAILED(hr)) return hr;
  vkr::Variant context;
  hr = PackCommandContext(request, context.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr document;
  hr = m_pProtocol->CreateDataExchangeRequest(request, m_bstrCommunicationReference, document.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant answer;
  hr = RunBlocking(invokeId, context, document, &answer);
  if (FAILED(hr)) return hr;

  // The request's second element is the parameter id.
  vkr::Variant id;
  if (request.vt == (VT_ARRAY | VT_VARIANT) && request.parray) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(request.parray, 1, &lower);
    SafeArrayGetUBound(request.parray, 1, &upper);
    LONG index = lower + 1;
    if (index <= upper) SafeArrayGetElement(request.parray, &index, id.Put());
  }
  if (id.vt == VT_EMPTY) return S_OK;
  if (answer.vt == VT_EMPTY) return E_FAIL;
  vkr::Variant decoded;
  if (answer.vt == (VT_ARRAY | VT_UI1)) {
    hr = m_pProtocol->SetParameterFromPdu(id, answer, decoded.Put());
    if (FAILED(hr)) return hr;
  } else {
    decoded = answer;
  }
  if (decoded.vt == VT_EMPTY) return E_FAIL;
  VariantClear(value);
  decoded.Detach(value);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::SendDataExchangeBlocking(CovVAPacker* request, BSTR invokeId,
                                                            CovVAPacker* response) {
  auto* requestInfo = dynamic_cast<HARTTransactRequestInfo*>(request);
  auto* responseInfo = dynamic_cast<HARTTransactResponseInfo*>(response);
  if (!requestInfo || !responseInfo) return E_INVALIDARG;
  if (!m_pProtocol || !m_pFrameChannel) return E_UNEXPECTED;
  vkr::Variant packed;
  if (!requestInfo->Pack(&packed)) return E_FAIL;
  vkr::Variant context;
  HRESULT hr = PackDataExchangeContext(packed, context.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr document;
  hr = requestInfo->WriteXml(document.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant answer;
  hr = RunBlocking(invokeId, context, document, &answer);
  if (FAILED(hr)) return hr;
  return responseInfo->Unpack(answer) ? S_OK : E_FAIL;
}

// ---- Direct parameter access ---------------------------------------------------------------

HRESULT CovFDT_BaseConnectionImpl::ReadParameterDirect(VARIANT id, VARIANT* value) {
  if (!m_pProtocol || !m_pFrameChannel) return E_UNEXPECTED;
  if (!value) return E_INVALIDARG;
  vkr::Variant request;
  HRESULT hr = m_pProtocol->GetReadCommand(id, m_bstrCommunicationReference, request.Put());
  if (FAILED(hr)) return hr;
  return CommandTransactionBlocking(request, value);
}

HRESULT CovFDT_BaseConnectionImpl::WriteParameterDirect(VARIANT id, VARIANT value) {
  if (!m_pProtocol || !m_pFrameChannel) return E_UNEXPECTED;
  vkr::Variant request;
  HRESULT hr = m_pProtocol->GetWriteCommand(id, value, m_bstrCommunicationReference, request.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant dropped;
  return CommandTransactionBlocking(request, dropped.Put());
}

// ---- Subscriptions -------------------------------------------------------------------------

bool CovFDT_HartConnectionImpl::FindSubscription(const VARIANT& clientKey, BSTR* invokeId) {
  *invokeId = nullptr;
  for (const Subscription& s : m_subscriptions) {
    if (s.clientKey.vt != clientKey.vt) continue;
    if (VarCmp(const_cast<vkr::Variant*>(&s.clientKey), const_cast<VARIANT*>(&clientKey), LOCALE_USER_DEFAULT, 0) !=
        VARCMP_EQ)
      continue;
    return SUCCEEDED(s.invokeId.CopyTo(invokeId));
  }
  return false;
}

HRESULT CovFDT_HartConnectionImpl::SubscribeBlocking(BSTR invokeId, VARIANT clientKey, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  vkr::Bstr existing;
  if (FindSubscription(clientKey, existing.Put())) return S_FALSE;
  HARTTransactRequestInfo request;
  request.SetCommunicationReference(m_bstrCommunicationReference);
  request.nKind = kHartSubscribeRequest;
  HARTTransactResponseInfo response;
  HRESULT hr = SendDataExchangeBlocking(&request, invokeId, &response);
  if (FAILED(hr) || response.nKind != kHartSubscribeResponse) return S_FALSE;
  Subscription entry;
  entry.clientKey = vkr::Variant(clientKey);
  entry.invokeId = vkr::Bstr(invokeId);
  m_subscriptions.push_back(std::move(entry));
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::UnsubscribeBlocking(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  auto owned = [&](const Subscription& s) { return s.invokeId.View() == CovFDT_BaseConnectionImpl::TextOf(invokeId); };
  bool exists = false;
  for (const Subscription& s : m_subscriptions) exists = exists || owned(s);
  if (!exists) return S_FALSE;
  HARTTransactRequestInfo request;
  request.SetCommunicationReference(m_bstrCommunicationReference);
  request.nKind = kHartUnsubscribeRequest;
  HARTTransactResponseInfo response;
  HRESULT hr = SendDataExchangeBlocking(&request, invokeId, &response);
  if (FAILED(hr) || response.nKind != kHartUnsubscribeResponse ||
      (response.pUnsubscribe && response.pUnsubscribe->bCommunicationErrorPresent))
    return S_FALSE;
  // The wait may have run other calls: find the entry again.
  for (auto it = m_subscriptions.begin(); it != m_subscriptions.end(); ++it) {
    if (owned(*it)) {
      m_subscriptions.erase(it);
      break;
    }
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- HART services -------------------------------------------------------------------------

HRESULT CovFDT_HartConnectionImpl::ServiceFailure(HRESULT hr, const char* message, BSTR* error) {
  char text[512];
  std::snprintf(text, sizeof text, "0x%08X; %s", static_cast<unsigned>(hr), message);
  SysFreeString(*error);
  *error = SysAllocString(vkr::Utf8ToUtf16(text).c_str());
  return S_FALSE;
}

HRESULT CovFDT_HartConnectionImpl::ConnectWithInfo(HARTConnectRequestInfo& info, BSTR* error) {
  if (!m_pProtocol) return ServiceFailure(E_POINTER, "protocol not set", error);
  vkr::Bstr document;
  HRESULT hr = info.WriteXml(document.Put());
  if (FAILED(hr)) return ServiceFailure(hr, "error from export request document", error);
  vkr::Bstr protocolId(m_pProtocol->GetProtocolId());
  hr = ConnectBlocking(document, protocolId);
  if (FAILED(hr)) return ServiceFailure(hr, "connecting failed", error);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::Connect(BYTE shortAddress, BSTR* error) {
  if (!error) return E_INVALIDARG;
  HARTConnectRequestInfo info;
  info.byShortAddress = shortAddress;
  return ConnectWithInfo(info, error);
}

HRESULT CovFDT_HartConnectionImpl::ConnectWithAddress(BYTE manufacturerId, BYTE deviceTypeId, BYTE address1,
                                                      BYTE address2, BYTE address3, BSTR* error) {
  if (!error) return E_INVALIDARG;
  HARTConnectRequestInfo info;
  info.bLongAddressPresent = true;
  info.longAddress.byManufacturerId = manufacturerId;
  info.longAddress.byDeviceTypeId = deviceTypeId;
  info.longAddress.byAddress1 = address1;
  info.longAddress.byAddress2 = address2;
  info.longAddress.byAddress3 = address3;
  return ConnectWithInfo(info, error);
}

HRESULT CovFDT_HartConnectionImpl::Disconnect(BSTR* error) {
  if (!error) return E_INVALIDARG;
  if (!m_pFrameChannel) return ServiceFailure(E_UNEXPECTED, "not online", error);
  HARTDisconnectRequestInfo info;
  info.SetCommunicationReference(m_bstrCommunicationReference);
  vkr::Bstr document;
  HRESULT hr = info.WriteXml(document.Put());
  if (FAILED(hr)) return ServiceFailure(hr, "error from export request document", error);
  hr = DisconnectBlocking(document);
  if (FAILED(hr)) return ServiceFailure(hr, "disconnecting failed", error);
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::Abort(BSTR* error) {
  if (!error) return E_INVALIDARG;
  if (!m_pFrameChannel || m_bstrCommunicationReference.Empty())
    return ServiceFailure(E_UNEXPECTED, "not online", error);
  vkr::Bstr document;
  HRESULT hr = WriteAbortXml(m_bstrCommunicationReference, document.Put());
  if (FAILED(hr)) return ServiceFailure(hr, "error creating request document", error);
  vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
  hr = frame->Abort(document);
  if (FAILED(hr)) return ServiceFailure(hr, "abort failed", error);
  vkr::Bstr reference = m_bstrCommunicationReference;
  OnAbort(reference);
  m_bConnected = false;
  return S_OK;
}

HRESULT CovFDT_HartConnectionImpl::DetachDtm() {
  if (m_pFrameChannel && !m_bstrCommunicationReference.Empty() && !m_bDisconnectRequested) {
    vkr::Bstr document;
    if (SUCCEEDED(WriteAbortXml(m_bstrCommunicationReference, document.Put()))) {
      vkr::ComPtr<IFdtCommunication> frame = m_pFrameChannel;
      frame->Abort(document);
    }
  }
  return CovFDT_BaseConnectionImpl::DetachDtm();
}

HRESULT CovFDT_HartConnectionImpl::Transaction(BYTE command, BSTR requestData, BYTE* deviceStatus, BYTE* statusByte,
                                               BSTR* responseData, BSTR* error) {
  if (!error) return E_INVALIDARG;
  if (!deviceStatus || !statusByte || !responseData) return ServiceFailure(E_POINTER, "response pointer is NULL", error);
  // The request text goes into the document as it is: only hex digits in pairs are taken.
  if (!IsHexText(requestData)) return ServiceFailure(E_INVALIDARG, "could not create structure", error);
  HARTTransactRequestInfo request;
  request.SetCommunicationReference(m_bstrCommunicationReference);
  request.nKind = kHartDataExchangeRequest;
  request.pPayload = std::make_unique<SovFDT_HART_DataExchangeRequest>();
  request.pPayload->byCommandNumber = command;
  request.pPayload->bHasRequestData = SysStringLen(requestData) > 0;
  request.pPayload->bstrRequestData = vkr::Bstr(requestData);
  vkr::Variant packed;
  if (!request.Pack(&packed)) return ServiceFailure(E_OUTOFMEMORY, "could not create structure", error);
  vkr::Variant answer;
  HRESULT hr = DataExchangeBlocking(packed, answer.Put());
  // After the frame's word that the link is gone, a request it does not take is lost with it.
  if (FAILED(hr))
    return ServiceFailure(hr, m_bLinkLost && hr != E_ABORT ? "communication error: noConnection" : "error during transaction",
                          error);
  HARTTransactResponseInfo response;
  if (response.Unpack(answer) && response.nKind == kHartCommunicationError) {
    // The frame's word of why nothing came back (busy, timeout, noConnection, ...) stays in it.
    const std::string word =
        "communication error: " + vkr::Utf16ToUtf8(response.communicationError.bstrCommunicationError.Str());
    return ServiceFailure(E_FAIL, word.c_str(), error);
  }
  if (response.nKind != kHartDataExchangeResponse)
    return ServiceFailure(E_UNEXPECTED, "unexpected response type", error);
  if (!response.pDataExchange) return ServiceFailure(E_POINTER, "response pointer is NULL", error);
  const SovFDT_HART_DataExchangeResponse& data = *response.pDataExchange;
  BYTE status = 0;
  if (data.status.bCommandResponsePresent)
    status = data.status.byCommandResponse;
  else if (data.status.bCommunicationStatusPresent)
    status = data.status.byCommunicationStatus;
  else
    return ServiceFailure(E_POINTER, "unexpected response content", error);
  *deviceStatus = data.status.byDeviceStatus;
  *statusByte = status;
  SysFreeString(*responseData);
  *responseData = nullptr;
  if (data.bHasResponseData) data.bstrResponseData.CopyTo(responseData);
  return S_OK;
}

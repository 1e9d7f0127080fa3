// CovFDT_HartConnectionImpl: the HART layer of a connection. It reads and writes the FDT HART
// communication documents for the protocol-neutral base, runs raw HART transactions (a command
// number with request bytes, or one parameter directly) as blocking requests whose answers wait in
// the result list for their caller, subscribes to burst data and offers the HART services with
// readable error texts ("0x%08X; %s", S_FALSE).
#pragma once

#include <string>
#include <vector>

#include "communication/CovFDT_BaseConnectionImpl.h"
#include "communication/HartRecords.h"

class CovFDT_HartConnectionImpl : public CovFDT_BaseConnectionImpl, public IovFdtHartServiceInterface {
 public:
  CovFDT_HartConnectionImpl();

  HRESULT BuildConnectRequest(VARIANT request, BSTR* document) override;
  HRESULT ParseTransactionResponse(BSTR response, VARIANT* packedResponse) override;
  HRESULT HandleDataExchangeResult(BSTR invokeId, VARIANT context, BSTR response, HANDLE event) override;
  HRESULT HandleCommandResult(BSTR invokeId, VARIANT context, BSTR response, HANDLE event) override;
  HRESULT DataExchangeBlocking(VARIANT request, VARIANT* response) override;
  HRESULT CommandTransactionBlocking(VARIANT request, VARIANT* value) override;
  HRESULT SendDataExchangeBlocking(CovVAPacker* request, BSTR invokeId, CovVAPacker* response) override;

  // ---- IovFdtHartServiceInterface ----
  HRESULT Connect(BYTE shortAddress, BSTR* error) override;
  HRESULT ConnectWithAddress(BYTE manufacturerId, BYTE deviceTypeId, BYTE address1, BYTE address2, BYTE address3,
                             BSTR* error) override;
  HRESULT Disconnect(BSTR* error) override;
  HRESULT Abort(BSTR* error) override;
  // A connection still open on the frame's channel is aborted there before it lets go.
  HRESULT DetachDtm() override;
  HRESULT Transaction(BYTE command, BSTR requestData, BYTE* deviceStatus, BYTE* statusByte, BSTR* responseData,
                      BSTR* error) override;
  // The base's own connect and disconnect stay reachable beside the HART services of those names.
  using CovFDT_BaseConnectionImpl::Connect;
  using CovFDT_BaseConnectionImpl::Disconnect;

  std::size_t SubscriptionCount() const { return m_subscriptions.size(); }

 protected:
  struct Subscription {
    vkr::Variant clientKey;
    vkr::Bstr invokeId;
  };

  // The status parameters from a DataExchangeResponse read.
  HRESULT WriteStatusFrom(const HARTTransactResponseInfo& info);
  // A confirmed write of the polling address (command 6) moves the DTM's short address with it.
  static void FollowPollingAddress(IovFdtParameterHandler4& handler, const SovFDT_HART_DataExchangeResponse& data);
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
  HRESULT WriteStatusParameters(BSTR response) override;
  HRESULT AbortAtFrame(BSTR communicationReference) override;
  // The request record of the context names the parameter; its handler hears of the failure.
  void ReportUnanswered(const VARIANT& context, LPCOLESTR text) override;
  HRESULT SubscribeBlocking(BSTR invokeId, VARIANT clientKey, VARIANT_BOOL* result) override;
  HRESULT UnsubscribeBlocking(BSTR invokeId, VARIANT_BOOL* result) override;
  bool FindSubscription(const VARIANT& clientKey, BSTR* invokeId) override;

  // Records the request under invokeId with a new event, sends document and waits; then takes
  // the result entry of the invoke id (none: E_FAIL; a failing parse: its HRESULT).
  HRESULT RunBlocking(BSTR invokeId, const VARIANT& context, BSTR document, vkr::Variant* answer);
  // Appends the answer for a waiter and wakes it; without an event the answer is dropped.
  HRESULT StoreResult(BSTR invokeId, vkr::Variant&& answer, HRESULT parsed, HANDLE event);
  // The HART services' failure: the text "0x%08X; message" and S_FALSE.
  static HRESULT ServiceFailure(HRESULT hr, const char* message, BSTR* error);
  HRESULT ConnectWithInfo(HARTConnectRequestInfo& info, BSTR* error);

  std::vector<Subscription> m_subscriptions;
};

// Placeholder bodies, replaced by the real ones.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "communication/MyHartProtocol.h"

HRESULT CovFDT_BaseProtocolImpl::ParseConnectResponse(BSTR response, BSTR* communicationReference, VARIANT_BOOL* ok, BSTR* errorText) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ParseDisconnectResponse(BSTR expectedReference, BSTR response, VARIANT_BOOL* ok, BSTR* errorText) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ParseTransactionResponse(VARIANT requestRecord, BSTR response, BSTR expectedReference, VARIANT_BOOL distribute, VARIANT* responseBytes) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateReadRequest(VARIANT id, BSTR communicationReference, VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created, BSTR* document, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateWriteRequest(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created, BSTR* document, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::SetParameterFromPdu(VARIANT id, VARIANT pdu, VARIANT* value) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetReadCommand(VARIANT id, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetWriteCommand(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateReadTransactions(VARIANT listId, BSTR communicationReference, VARIANT* documents, VARIANT* records) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateWriteTransactions(VARIANT listId, BSTR communicationReference, VARIANT_BOOL useDataSetValues, VARIANT* documents, VARIANT* records) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateTransactions(VARIANT listId, BSTR communicationReference, VARIANT_BOOL useDataSetValues, bool read, VARIANT* documents, VARIANT* records) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReduceToTransactionGroups(VARIANT listId, VARIANT* ids, VARIANT readFlag) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::BuildRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues, BSTR* requestData, ULONG flags) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateDataExchangeRequest(VARIANT record, BSTR communicationReference, BSTR* document) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues, BSTR* requestDataTemplate, BSTR* result, ULONG reserved) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::DistributeResult(VARIANT id, VARIANT responseBytes) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::ParseConnectResponse(BSTR response, BSTR* communicationReference, VARIANT_BOOL* ok, BSTR* errorText) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::ParseDisconnectResponse(BSTR expectedReference, BSTR response, VARIANT_BOOL* ok, BSTR* errorText) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::ParseTransactionResponse(VARIANT requestRecord, BSTR response, BSTR expectedReference, VARIANT_BOOL distribute, VARIANT* responseBytes) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::CreateReadRequest(VARIANT id, BSTR communicationReference, VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created, BSTR* document, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::CreateWriteRequest(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created, BSTR* document, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::GetReadCommand(VARIANT id, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::GetWriteCommand(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT* record) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::CreateDataExchangeRequest(VARIANT record, BSTR communicationReference, BSTR* document) { return E_NOTIMPL; }
HRESULT MyHartProtocol::BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues, BSTR* requestDataTemplate, BSTR* result, ULONG reserved) { return E_NOTIMPL; }
HRESULT MyHartProtocol::ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes) { return E_NOTIMPL; }

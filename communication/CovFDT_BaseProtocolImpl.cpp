// Placeholder bodies, replaced by the real ones.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "communication/MyHartProtocol.h"

CovFDT_BaseProtocolImpl::CovFDT_BaseProtocolImpl() = default;
CovFDT_BaseProtocolImpl::~CovFDT_BaseProtocolImpl() = default;
CovFDT_HartProtocolImpl::CovFDT_HartProtocolImpl() { m_bstrProtocolId = vkr::Bstr(kHartProtocolId); }
SovFDT_ParameterEntry* CovFDT_BaseProtocolImpl::FindParameterEntry(const VARIANT& id) const { return nullptr; }
SovFDT_TransactionGroup* CovFDT_BaseProtocolImpl::FindTransactionGroup(ULONG number) const { return nullptr; }
bool CovFDT_BaseProtocolImpl::AttachDtm(IUnknown* dtm) { return false; }
bool CovFDT_BaseProtocolImpl::DetachDtm() { return false; }
void CovFDT_BaseProtocolImpl::ReportMessage(const char* format, ...) {}
HRESULT CovFDT_BaseProtocolImpl::ReservedHookA(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReservedHookB(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetBusAddressXml(VARIANT_BOOL* done, BSTR* text) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown* deviceDocument) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReservedHookC(ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::InfoRequest(VARIANT kind, VARIANT argument, VARIANT* result) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::InfoRequestEx(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::RegisterParameter(VARIANT id, BSTR protocolAddress) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::InitParameterTable() { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReservedHookD(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::EncodeParameterValue(VARIANT value, const SovFDT_ParameterEntry* entry, ULONG bufferSize, BYTE* buffer, ULONG flags) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::DecodeParameterValue(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes, VARIANT* value, ULONG flags) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CheckTransferArguments(IUnknown* addressDocument, VARIANT id, BSTR* text) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetAddressKey(BSTR protocolAddress, VARIANT* key) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReadProtocolPduPosition(BSTR protocolAddress, ULONG* bitOffset, ULONG* bitLength) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::QueryTypeInformation(VARIANT id, BSTR xpath, BSTR* value) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetTypeInformationXml(VARIANT id, BSTR* text) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReorderByTypeInformation(VARIANT id, BYTE* bytes, ULONG count) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReorderArrayElements(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReorderSimpleElement(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition, bool swapWords) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ReorderStructElements(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::GetBusAddressXml(VARIANT_BOOL* done, BSTR* text) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown* deviceDocument) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::GetAddressKey(BSTR protocolAddress, VARIANT* key) { return E_NOTIMPL; }

// Placeholder bodies, replaced by the real ones.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "communication/MyHartProtocol.h"

HRESULT CovFDT_BaseProtocolImpl::GetChannelParameters(IUnknown* dtm, VARIANT id, BSTR channelId, BSTR keepChannelId, BSTR* document, VARIANT channelData, VARIANT* newChannelData) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::SetChannelParameters(IUnknown* dtm, VARIANT id, BSTR expectedChannelId, BSTR channelId, BSTR documentText, IUnknown* document, VARIANT channelData, VARIANT* newChannelData, bool* isProtected) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::GetChannelParameters(IUnknown* dtm, VARIANT id, BSTR channelId, BSTR keepChannelId, BSTR* document, VARIANT channelData, VARIANT* newChannelData) { return E_NOTIMPL; }
HRESULT CovFDT_HartProtocolImpl::SetChannelParameters(IUnknown* dtm, VARIANT id, BSTR expectedChannelId, BSTR channelId, BSTR documentText, IUnknown* document, VARIANT channelData, VARIANT* newChannelData, bool* isProtected) { return E_NOTIMPL; }

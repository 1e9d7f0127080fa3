// CSaveRequestState: delayed save requests and the modified flag of the data set.
#include "parameters/SaveRequestState.h"

#include "xml/Conversions.h"

namespace {

bool InStates(EDtmState state, EDtmState from, EDtmState to) { return state >= from && state <= to; }

constexpr const char16_t* kParameterChanged =
    u"<?xml version=\"1.0\"?> \r\n<OnParameterChangedDocument> \r\n\t%s \r\n</OnParameterChangedDocument> \r\n";

}  // namespace

HRESULT CSaveRequestState::DelaySaveRequest(BOOL begin, ISaveRequestSite* site) {
  if (begin) {
    ++m_nDelay;
    m_bDelay = true;
    return S_OK;
  }
  if (m_nDelay > 0) --m_nDelay;
  if (!m_bDelay || m_nDelay != 0) return S_OK;
  m_bDelay = false;
  if (!m_bModified || !site || !InStates(site->GetDtmState(), dsINITIALIZED, dsONLINE)) return S_OK;
  vkr::Bstr tag;
  if (FAILED(site->GetSystemTag(tag.Put()))) return S_FALSE;
  HRESULT hr = site->SaveRequest(tag.Get());
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CSaveRequestState::SetDataSetModified(BOOL modified, ISaveRequestSite* site) {
  if (!site) return E_POINTER;
  const EDtmState state = site->GetDtmState();
  if (!m_bModified && !InStates(state, dsCONFIGURED, dsONLINE)) return S_OK;
  m_bModified = modified != FALSE;
  vkr::Bstr tag;
  if (FAILED(site->GetSystemTag(tag.Put()))) return S_FALSE;
  if (m_bModified) {
    if (m_bDelay || !InStates(state, dsINITIALIZED, dsONLINE) || !site->HasFrameContainer()) return S_OK;
    HRESULT hr = site->SaveRequest(tag.Get());
    return FAILED(hr) ? hr : S_OK;
  }
  if (!site->HasFrameContainer()) return S_OK;
  vkr::Bstr parameters;
  HRESULT hr = site->GetParameterDocumentText(parameters.Put());
  if (FAILED(hr)) return hr;
  if (parameters.Length() == 0) return S_OK;
  vkr::Bstr document;
  hr = BstrFormat(document.Put(), kParameterChanged, parameters.Get());
  if (FAILED(hr)) return hr;
  hr = site->PostParameterChanged(document.Get());
  return FAILED(hr) ? hr : S_OK;
}

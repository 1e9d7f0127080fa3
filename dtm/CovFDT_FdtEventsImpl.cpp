// The frame's events to the DTM (IFdtEvents): parameters changed in another DTM, and the data set
// locked and unlocked by the frame for another party.
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/DtmMessages.h"

namespace {

VARIANT LockStateId() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = kBroadcastLockState;
  return v;
}

// The XML text of the element at path, or null when the document has none.
HRESULT ElementText(IXMLDOMDocument2* document, const char16_t* path, vkr::Bstr* text) {
  vkr::ComPtr<IXMLDOMNode> node;
  HRESULT hr = document->selectSingleNode(vkr::Bstr(path), node.Put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || !node) return S_FALSE;
  return node->get_xml(text->Put());
}

}  // namespace

HRESULT CovFDT_BaseDTMCore::OnParameterChanged(BSTR, BSTR document) {
  LogEntry("OnParameterChanged");
  vkr::ComPtr<IXMLDOMDocument2> loaded;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = LoadDtmDocument(document, loaded.Put(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok || !loaded) return S_FALSE;

  vkr::Bstr parameters;
  hr = ElementText(loaded.Get(), u"OnParameterChangedDocument/PARAMETERS", &parameters);
  if (FAILED(hr)) return S_FALSE;
  if (hr == S_OK && FAILED(ImportParameterText(parameters))) return S_FALSE;

  vkr::Bstr channels;
  hr = ElementText(loaded.Get(), u"OnParameterChangedDocument/ChannelCollection", &channels);
  if (FAILED(hr)) return S_FALSE;
  if (hr == S_OK) {
    // Without a receiver the channel changes are lost: the frame hears that they were not taken.
    vkr::ComPtr<IovFdtParameterChangeSink> sink = QueryDtm<IovFdtParameterChangeSink>();
    if (!sink || FAILED(sink->OnChannelCollectionChanged(channels))) return S_FALSE;
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::OnDataSetLocked(BSTR) {
  LogEntry("OnDataSetLocked");
  m_bFrameReportedLock = true;
  // The user interfaces leave edit mode: the data set is not theirs to change now.
  const HRESULT hr = Broadcast(LockStateId(), vkr::BoolVariant(false));
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::OnDataSetUnlocked(BSTR, VARIANT_BOOL* done) {
  LogEntry("OnDataSetUnlocked");
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  m_bFrameReportedLock = false;
  // The DTM's own operations (open editing user interfaces, a running transfer) still hold the
  // data set: they get the frame's lock back.
  if (m_nLockCount > 0) {
    HRESULT hr = LockDataset(false);
    if (FAILED(hr)) return hr;
    // The frame has let go either way: a user interface that does not listen changes nothing.
    Broadcast(LockStateId(), vkr::BoolVariant(m_bDataSetLocked));
  }
  *done = VARIANT_TRUE;
  return S_OK;
}

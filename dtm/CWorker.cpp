// The workers' single runs.
#include "dtm/CWorker.h"

HRESULT CStateReachedWorker::Execute(IFdtContainer*, IovFdtBaseDTM* dtm) {
  if (!dtm) return S_OK;
  vkr::ComPtr<IovFdtDtmEvents> events;
  if (SUCCEEDED(dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid())) && events)
    events->DtmMessage(m_vMessageId, m_vArgument);
  return S_OK;
}

HRESULT CActiveXMessageWorker::Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) {
  if (!container || !dtm) return E_FAIL;
  vkr::ComPtr<IovFdtActiveXContainer> functions;
  if (SUCCEEDED(dtm->QueryInterface(IovFdtActiveXContainer::iid, functions.PutVoid())) && functions) {
    VARIANT id, value;
    VariantInit(&id);
    VariantInit(&value);
    id.vt = VT_UI4;
    id.ulVal = 0x2713;
    value.vt = VT_UI4;
    value.ulVal = m_nValue;
    functions->BroadcastToActiveX(id, value);
  }
  return S_OK;
}

CProgressMessageWorker::~CProgressMessageWorker() { Done(); }

void CProgressMessageWorker::Done() {
  if (m_hDone) SetEvent(m_hDone);
  m_hDone = nullptr;
}

HRESULT CProgressMessageWorker::Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) {
  if (!container || !dtm) {
    Done();
    return E_FAIL;
  }
  vkr::Bstr tag;
  HRESULT hr = dtm->GetSystemTag(tag.Put());
  if (SUCCEEDED(hr)) {
    vkr::ComPtr<IDtmEvents> events;
    if (FAILED(container->QueryInterface(IDtmEvents::iid, events.PutVoid())) || !events)
      hr = E_FAIL;
    else
      hr = events->OnProgress(tag, m_bstrText, static_cast<SHORT>(m_nPercent),
                              m_nMode ? VARIANT_TRUE : VARIANT_FALSE);
  }
  Done();
  return FAILED(hr) ? hr : S_OK;
}

COnStateChangedWorker::~COnStateChangedWorker() { Done(); }

void COnStateChangedWorker::Done() {
  if (m_hDone) SetEvent(m_hDone);
  m_hDone = nullptr;
}

HRESULT COnStateChangedWorker::Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) {
  HRESULT hr = S_OK;
  if (!container || !dtm) {
    hr = E_FAIL;
  } else {
    vkr::Bstr tag;
    hr = dtm->GetSystemTag(tag.Put());
    if (SUCCEEDED(hr)) {
      vkr::ComPtr<IFrameDtmStateEvents> events;
      if (FAILED(container->QueryInterface(IFrameDtmStateEvents::iid, events.PutVoid())) || !events)
        hr = E_NOINTERFACE;
      else
        events->OnStateChanged(tag, m_bstrDocument);
    }
  }
  Done();
  return FAILED(hr) ? hr : S_OK;
}

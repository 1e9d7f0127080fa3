// The workers' single runs.
#include "dtm/CWorker.h"
#include "include/DtmMessages.h"

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
    id.ulVal = kBroadcastStateReached;
    value.vt = VT_UI4;
    value.ulVal = m_nValue;
    functions->BroadcastToActiveX(id, value);
  }
  return S_OK;
}

CProgressMessageWorker::~CProgressMessageWorker() {
  // A closed handle is refused harmlessly; an unset one would hang SendProgress.
  if (m_hDone) SetEvent(m_hDone);
}

HRESULT CProgressMessageWorker::Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) {
  if (!container || !dtm) return E_FAIL;
  vkr::Bstr tag;
  HRESULT hr = dtm->GetSystemTag(tag.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IDtmEvents> events;
  if (FAILED(container->QueryInterface(IDtmEvents::iid, events.PutVoid())) || !events) return E_FAIL;
  // The mode travels as the frame's show flag: 0xFFFF is VARIANT_TRUE.
  hr = events->OnProgress(tag, m_bstrText, static_cast<SHORT>(m_nPercent), static_cast<VARIANT_BOOL>(m_nMode));
  if (FAILED(hr)) return hr;
  SetEvent(m_hDone);
  return hr;
}

COnStateChangedWorker::~COnStateChangedWorker() {
  if (m_hDone) SetEvent(m_hDone);
}

HRESULT COnStateChangedWorker::Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) {
  if (!container || !dtm) return E_FAIL;
  vkr::Bstr tag;
  HRESULT hr = dtm->GetSystemTag(tag.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IFrameDtmStateEvents> events;
  if (FAILED(container->QueryInterface(IFrameDtmStateEvents::iid, events.PutVoid())) || !events) return E_NOINTERFACE;
  events->OnStateChanged(tag, m_bstrDocument);
  if (m_hDone) SetEvent(m_hDone);
  return S_OK;
}

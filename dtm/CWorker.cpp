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

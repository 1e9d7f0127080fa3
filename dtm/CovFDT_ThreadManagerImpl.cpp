// The thread manager's job calls.
#include "dtm/CovFDT_ThreadManagerImpl.h"

CovFDT_ThreadManagerImpl::~CovFDT_ThreadManagerImpl() {
  if (m_pStream) m_pStream->Release();
  if (m_hThread) CloseHandle(m_hThread);
}

HRESULT CovFDT_ThreadManagerImpl::ExecuteJob(ULONG job, VARIANT argument) {
  if (!m_pDtmThread) return E_FAIL;
  // The thread object may be released by a nested call while this one waits.
  vkr::ComPtr<IovFdtDtmThread> thread = m_pDtmThread;
  VARIANT id;
  VariantInit(&id);
  id.vt = VT_UI4;
  id.ulVal = job;
  vkr::Variant result;
  return thread->Execute(id, argument, &result);
}

HRESULT CovFDT_ThreadManagerImpl::ExecuteWorkerThread(CWorker* worker) {
  if (!worker) return E_INVALIDARG;
  delete worker;
  return E_NOTIMPL;
}

bool CovFDT_ThreadManagerImpl::StartDtmThread() { return static_cast<bool>(m_pDtmThread); }

bool CovFDT_ThreadManagerImpl::StopDtmThread() { return true; }

HRESULT CovFDT_ThreadManagerImpl::ExecuteMarshalledJob(ULONG, IUnknown*) {
  return m_pDtmThread ? E_NOTIMPL : E_FAIL;
}

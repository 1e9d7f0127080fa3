// CDtmThread: the framework's thread object under this DTM's class.
#include "module/CDtmThread.h"

#include "module/VornExampleDtmModule.h"

namespace {
constexpr UINT kRegistryScript = 125;
}

void CDtmThread::ModuleLock() { ::ModuleLock(); }
void CDtmThread::ModuleUnlock() { ::ModuleUnlock(); }

HRESULT CDtmThread::UpdateRegistry(BOOL bRegister) { return UpdateRegistryFromScript(kRegistryScript, bRegister); }

HRESULT CDtmThread::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<CDtmThread>(outer, riid, ppv);
}

HRESULT CDtmThread::Execute(VARIANT job, VARIANT argument, VARIANT* result) {
  return CovFDT_DtmThreadImpl::Execute(job, argument, result);
}

HRESULT CDtmThread::ExecuteAsync(VARIANT job, VARIANT argument) {
  return CovFDT_DtmThreadImpl::ExecuteAsync(job, argument);
}

// CDtmThread: the DTM thread object of this DTM, created by the thread manager inside the DTM
// thread's apartment. Everything it does is the framework's (CovFDT_DtmThreadImpl); the class
// adds its class id, its registration and the module's object count.
#pragma once

#include "dtm/CovFDT_DtmThreadImpl.h"
#include "include/ProgramIds.h"
#include "platform/platform.h"

class CDtmThread : public CovFDT_DtmThreadImpl {
 public:
  static constexpr bool kAggregatable = false;

  static void ModuleLock();
  static void ModuleUnlock();
  static HRESULT UpdateRegistry(BOOL bRegister);
  // The class factory's creation (the module's object map).
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

  HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) override;
  HRESULT ExecuteAsync(VARIANT job, VARIANT argument) override;
};

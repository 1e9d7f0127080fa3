// The DTM thread object's own interfaces beside IovFdtDtmThread: its empty class interface
// IDtmThread and the generic service's event sink IovFDTGenericCommServiceEvents, and the proxies
// that carry IovFdtDtmThread and the sink between apartments. Ids are this program's own.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"

// The DTM thread class's own dispatch interface; it has no methods.
struct IDtmThread : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A10");
  using Base = IDispatch;
};

// The sink the DTM thread registers with the communication client's generic service; the
// connection calls it when a queued request has finished.
struct IovFDTGenericCommServiceEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A11");
  using Base = IDispatch;
  virtual HRESULT OnGenericCommServiceEvent(VARIANT requestId, VARIANT data, VARIANT context) = 0;  // 7
};

// Registers the proxies of IovFdtDtmThread and IovFDTGenericCommServiceEvents (once; later calls
// do nothing). The thread manager calls it before it marshals the thread object.
void RegisterDtmThreadProxies();
// Removes them again; the module calls it when it is unloaded.
void UnregisterDtmThreadProxies();

// The protocol objects the communication client selects among: the framework's protocol base and
// its HART form. They group parameters into transactions and spread responses over them; that
// work arrives with the communication subsystem. Until then a protocol can be registered with the
// client and answers every operation with E_NOTIMPL.
#pragma once

#include "platform/platform.h"

class CovFDT_BaseProtocolImpl {
 public:
  CovFDT_BaseProtocolImpl() = default;
  CovFDT_BaseProtocolImpl(const CovFDT_BaseProtocolImpl&) = delete;
  CovFDT_BaseProtocolImpl& operator=(const CovFDT_BaseProtocolImpl&) = delete;
  virtual ~CovFDT_BaseProtocolImpl() = default;

  // The protocol's id (the FDT protocol category, upper case, no braces).
  virtual LPCWSTR GetProtocolId() const = 0;
  // Registers every parameter of the DTM whose address names this protocol.
  virtual HRESULT InitParameterTable(IUnknown* dtm) {
    (void)dtm;
    return E_NOTIMPL;
  }
};

class CovFDT_HartProtocolImpl : public CovFDT_BaseProtocolImpl {
 public:
  LPCWSTR GetProtocolId() const override { return u"036D1498-387B-11D4-86E1-00E0987270B9"; }
};

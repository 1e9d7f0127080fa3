// The VKR device's HART protocol object, a member of the DTM object registered with its
// communication client, and the protocol object of every connection. It differs from the
// framework's HART class in the request data of writes (empty groups, the device's Packed ASCII
// encoder) and in spreading responses (the whole answer of commands 3 and 48 to their parameters).
#pragma once

#include <typeinfo>

#include "communication/CovFDT_BaseProtocolImpl.h"

// The parameters that take a whole response, whatever its length.
inline constexpr ULONG eCommand3ID = 1031;
inline constexpr ULONG eCommand48ID = 1036;

class MyHartProtocol : public CovFDT_HartProtocolImpl {
 public:
  HRESULT BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues, BSTR* requestDataTemplate,
                               BSTR* result, ULONG reserved) override;
  HRESULT ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes) override;
  bool DecodesAsDeviceClass() const override { return true; }
  // It keeps the HART class's table building; a class derived from it says so for itself.
  bool BuildsTableFromAddressesAlone() const override { return typeid(*this) == typeid(MyHartProtocol); }
};

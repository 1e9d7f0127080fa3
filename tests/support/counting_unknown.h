// A stack object that only counts its references, for checking who AddRefs and Releases.
#pragma once

#include "platform/platform.h"

namespace vkr::test {
struct CountingUnknown : IUnknown {
  LONG refs = 1;
  HRESULT QueryInterface(REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
};
}  // namespace vkr::test

// Reading numbers that arrive as VARIANT arguments of DTM messages and DTM-thread jobs.
#pragma once

#include "platform/platform.h"

// A message id, job number or similar as VT_UI4: the conversion's error, or E_FAIL when it gives
// another type.
inline HRESULT ToUI4(const VARIANT& in, ULONG* out) {
  if (in.vt == VT_UI4) {
    *out = in.ulVal;
    return S_OK;
  }
  vkr::Variant converted;
  const HRESULT hr = VariantChangeType(&converted, &in, 0, VT_UI4);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_UI4) return E_FAIL;
  *out = converted.ulVal;
  return S_OK;
}

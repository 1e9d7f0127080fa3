// Building parameter records for the tests.
#pragma once

#include "parameters/ParInfo.h"
#include "tests/support/variant_values.h"

namespace vkr::test {

// A plain record of the given type and value, with optional limits.
inline ParInfo Record(ULONG id, VARTYPE vt, const VARIANT& value, const VARIANT* min = nullptr,
                      const VARIANT* max = nullptr, ULONG flags = PFL_DEFAULT, ULONG addressed = 0,
                      const char16_t* name = u"Param") {
  ParInfo r;
  r.m_nId = id;
  r.m_vt = vt;
  r.m_dwFlags = flags;
  r.m_dwAddressed = addressed;
  r.m_bstrName = vkr::Bstr(name);
  VariantCopy(&r.m_vValue, &value);
  VariantCopy(&r.m_vDevValue, &value);
  if (min) VariantCopy(&r.m_vMin, min);
  if (max) VariantCopy(&r.m_vMax, max);
  return r;
}

// A reference record standing for the parameter `target`.
inline ParInfo Reference(ULONG id, ULONG target, const char16_t* name = u"Alias") {
  ParInfo r;
  r.m_nId = id;
  r.m_nKind = PK_REFERENCE;
  r.m_vt = VT_UI4;
  r.m_bstrName = vkr::Bstr(name);
  r.m_vValue = UI4(target);
  return r;
}

}  // namespace vkr::test

// What the definition helpers' and the device table's tests read back: bytes and texts of values.
// Their handler and site are StackParameterHandler and FakeParameterSite (kSiteAlone).
#pragma once

#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "platform/platform.h"
#include "tests/support/fake_parameter_site.h"

namespace vkr::test {

// The bytes of a VT_ARRAY|VT_UI1 value; {0xFFFF} marks a value of another type.
inline std::vector<int> Bytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {0xFFFF};
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(v.parray, 1, &lo);
  SafeArrayGetUBound(v.parray, 1, &hi);
  std::vector<int> out;
  for (LONG i = lo; i <= hi; ++i) {
    BYTE b = 0;
    SafeArrayGetElement(v.parray, &i, &b);
    out.push_back(b);
  }
  return out;
}

inline std::string Text(BSTR b) { return vkr::Utf16ToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b))); }

// The text of a VT_BSTR value; "<vt N>" for a value of another type.
inline std::string Text(const VARIANT& v) {
  if (v.vt != VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return Text(v.bstrVal);
}

}  // namespace vkr::test

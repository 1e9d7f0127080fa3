// What the definition helpers' and the device table's tests read back: bytes and texts of values.
// Their handler and site are StackParameterHandler and FakeParameterSite (kSiteAlone).
#pragma once

#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "platform/platform.h"
#include "tests/support/fake_parameter_site.h"
#include "tests/support/variant_values.h"

namespace vkr::test {

inline std::string Text(BSTR b) { return vkr::Utf16ToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b))); }

// The text of a VT_BSTR value; "<vt N>" for a value of another type.
inline std::string Text(const VARIANT& v) {
  if (v.vt != VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return Text(v.bstrVal);
}

}  // namespace vkr::test

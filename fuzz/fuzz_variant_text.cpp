// Texts converted to every scalar type the system converts to: no crash, no hang, and a value that
// came from a text must come back from its own text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr std::size_t kMaxChars = 256;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const LCID lcid = (data[0] & 1) ? 1031 : 1033;
  const std::size_t chars = std::min((size - 1) / 2, kMaxChars);
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
  if (!text.bstrVal) return 0;
  std::memcpy(text.bstrVal, data + 1, chars * 2);

  const VARTYPE targets[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_R4,
                             VT_R8, VT_CY,  VT_DECIMAL, VT_DATE, VT_BOOL};
  for (VARTYPE vt : targets) {
    vkr::Variant value;
    if (FAILED(VariantChangeTypeEx(value.Ptr(), text.Ptr(), lcid, 0, vt))) continue;
    Check(value.vt == vt);
    vkr::Variant again;
    if (FAILED(VariantChangeTypeEx(again.Ptr(), value.Ptr(), lcid, 0, VT_BSTR))) {
      // Only a non-finite float has no text.
      Check((vt == VT_R4 && !std::isfinite(value.fltVal)) || (vt == VT_R8 && !std::isfinite(value.dblVal)));
      continue;
    }
    const HRESULT back = VariantChangeTypeEx(again.Ptr(), again.Ptr(), lcid, 0, vt);
    if (vt == VT_R8) {
      // 15 digits may round the largest doubles past the end of the range.
      Check(SUCCEEDED(back) || std::fabs(value.dblVal) > 1.7976931348623e308);
      if (SUCCEEDED(back)) Check(std::fabs(again.dblVal - value.dblVal) <= std::fabs(value.dblVal) * 1e-14);
    } else if (vt == VT_R4) {
      Check(SUCCEEDED(back) || std::fabs(value.fltVal) > 3.4028e38f);
      if (SUCCEEDED(back)) Check(std::fabs(again.fltVal - value.fltVal) <= std::fabs(value.fltVal) * 1e-6f);
    } else if (vt == VT_DATE) {
      Check(SUCCEEDED(back));
      Check(std::fabs(again.date - value.date) <= 1.0 / 86400.0);
    } else {
      Check(SUCCEEDED(back));
      Check(VarCmp(again.Ptr(), value.Ptr(), lcid, 0) == VARCMP_EQ);
    }
  }
  vkr::Variant other;
  other.vt = VT_R8;
  other.dblVal = 1.5;
  const HRESULT cmp = VarCmp(text.Ptr(), other.Ptr(), lcid, NORM_IGNORECASE);
  Check(cmp == VARCMP_GT);
  return 0;
}

// The limits of a number entry in words (see EntryLimits.h).
#include "ui/device/kit/EntryLimits.h"

#include <cstdio>

#include "ui/device/kit/LengthUnits.h"

namespace vkr::dui {

namespace {

// "%.3f" without the zeros after the last digit that counts: 66, 216.535, 0.5.
std::string Number(double value) {
  char text[48] = {};
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string shown = text;
  while (shown.find('.') != std::string::npos && (shown.back() == '0' || shown.back() == '.')) {
    const bool dot = shown.back() == '.';
    shown.pop_back();
    if (dot) break;
  }
  return shown == "-0" ? "0" : shown;
}

}  // namespace

std::u16string EntryLimitsText(const VARIANT& minimum, const VARIANT& maximum, const SShownLimits& shown) {
  vkr::Variant low, high;
  if (FAILED(VariantChangeType(&low, const_cast<VARIANT*>(&minimum), 0, VT_R8)) ||
      FAILED(VariantChangeType(&high, const_cast<VARIANT*>(&maximum), 0, VT_R8)) || low.dblVal >= high.dblVal)
    return {};
  double from = low.dblVal * shown.scale, to = high.dblVal * shown.scale;
  std::string sign(shown.sign);
  if (shown.lengthUnit) {
    const std::optional<double> a = ConvertLength(low.dblVal, kLengthUnitMetres, *shown.lengthUnit);
    const std::optional<double> b = ConvertLength(high.dblVal, kLengthUnitMetres, *shown.lengthUnit);
    if (!a || !b) return {};
    from = *a;
    to = *b;
    sign = LengthUnitSymbol(*shown.lengthUnit);
  }
  return vkr::Utf8ToUtf16(Number(from) + " to " + Number(to) + (sign.empty() ? "" : " " + sign));
}

}  // namespace vkr::dui

// What a number entry holds, in the words a refusal names it with: the parameter's limits in the
// unit the entry shows its number in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vkr::dui {

// How an entry shows its parameter's number: a distance (the parameter table's limits are
// metres) in lengthUnit; otherwise the number times scale (a code shown as what it stands for),
// followed by sign ("%", "Sec"; none when empty).
struct SShownLimits {
  std::optional<BYTE> lengthUnit;
  double scale = 1.0;
  std::string_view sign;
};

// "0 to 66 m", "-1.64 to 1.64 ft", "0 to 100 %", "0 to 255": the limits minimum and maximum (as
// the DTM gives them) as the entry shows them, up to three decimals. Empty when either is no
// number, the lower is not below the upper, or a distance is shown in a unit that is no length
// unit (its limits cannot be given in it).
std::u16string EntryLimitsText(const VARIANT& minimum, const VARIANT& maximum, const SShownLimits& shown = {});

}  // namespace vkr::dui

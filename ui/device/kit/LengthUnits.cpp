// HART length units (see LengthUnits.h).
#include "ui/device/kit/LengthUnits.h"

#include <algorithm>
#include <cmath>

namespace vkr::dui {

namespace {

struct SLengthUnit {
  BYTE code;
  const char* label;
  double metres;  // metres in one unit
};

constexpr SLengthUnit kUnits[] = {{kLengthUnitMetres, "meters", 1.0},
                                  {kLengthUnitFeet, "ft", 0.3048},
                                  {kLengthUnitInches, "in", 0.0254},
                                  {kLengthUnitCentimetres, "cm", 0.01},
                                  {kLengthUnitMillimetres, "mm", 0.001}};
constexpr SComboCode kItems[] = {{"Metres (m)", kLengthUnitMetres},
                                 {"Feet (ft)", kLengthUnitFeet},
                                 {"Inches (in)", kLengthUnitInches},
                                 {"Centimetres (cm)", kLengthUnitCentimetres},
                                 {"Millimetres (mm)", kLengthUnitMillimetres}};

const SLengthUnit* Find(BYTE code) {
  const auto* unit = std::find_if(std::begin(kUnits), std::end(kUnits), [code](const SLengthUnit& u) { return u.code == code; });
  return unit == std::end(kUnits) ? nullptr : unit;
}

}  // namespace

std::span<const SComboCode> LengthUnitItems() { return kItems; }

bool IsLengthUnit(BYTE code) { return Find(code) != nullptr; }

std::string LengthUnitLabel(BYTE code) {
  if (const SLengthUnit* unit = Find(code)) return unit->label;
  return "unit " + std::to_string(code);
}

std::optional<double> ConvertLength(double value, BYTE from, BYTE to) {
  const SLengthUnit* a = Find(from);
  const SLengthUnit* b = Find(to);
  if (!a || !b) return std::nullopt;
  if (from == to) return value;
  return value * a->metres / b->metres;
}

std::optional<bool> WithinMetreLimits(double value, BYTE unit, double minimumMetres, double maximumMetres) {
  const std::optional<double> lowest = ConvertLength(minimumMetres, kLengthUnitMetres, unit);
  const std::optional<double> highest = ConvertLength(maximumMetres, kLengthUnitMetres, unit);
  if (!lowest || !highest) return std::nullopt;
  // The shown value went through float and "%.3f": the limit typed as shown is taken.
  const double slack = 1e-6 * std::max({1.0, std::abs(*lowest), std::abs(*highest)});
  return value >= *lowest - slack && value <= *highest + slack;
}

}  // namespace vkr::dui

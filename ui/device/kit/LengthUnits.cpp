// HART length units (see LengthUnits.h).
#include "ui/device/kit/LengthUnits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vkr::dui {

namespace {

struct SLengthUnit {
  BYTE code;
  const char* label;
  const char* symbol;
  double metres;  // metres in one unit
};

constexpr SLengthUnit kUnits[] = {{kLengthUnitMetres, "meters", "m", 1.0},
                                  {kLengthUnitFeet, "ft", "ft", 0.3048},
                                  {kLengthUnitInches, "in", "in", 0.0254},
                                  {kLengthUnitCentimetres, "cm", "cm", 0.01},
                                  {kLengthUnitMillimetres, "mm", "mm", 0.001}};
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

std::string LengthUnitSymbol(BYTE code) {
  if (const SLengthUnit* unit = Find(code)) return unit->symbol;
  return "unit " + std::to_string(code);
}

std::string FormatLength(double value, BYTE code) {
  char number[48] = {};
  std::snprintf(number, sizeof number, "%.3f", value);
  return std::string(number) + " " + LengthUnitSymbol(code);
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
  // Only rounding is forgiven (a single-precision value holds about seven digits): a limit as its unit
  // gives it is taken, a number past it by any distance the device would store is not.
  const double slack = 1e-7 * std::abs(value);
  return value >= *lowest - slack && value <= *highest + slack;
}

}  // namespace vkr::dui

// The HART length units a level transmitter gives its distances in (level, range, blanking,
// offset): their codes, the texts the controls show for them, and conversion between them.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"
#include "ui/device/kit/ComboHelpers.h"

namespace vkr::dui {

inline constexpr BYTE kLengthUnitFeet = 44;
inline constexpr BYTE kLengthUnitMetres = 45;
inline constexpr BYTE kLengthUnitInches = 47;
inline constexpr BYTE kLengthUnitCentimetres = 48;
inline constexpr BYTE kLengthUnitMillimetres = 49;

// The items of a length-unit combo: "Metres (m)", "Feet (ft)", "Inches (in)", "Centimetres (cm)",
// "Millimetres (mm)" with their codes.
std::span<const SComboCode> LengthUnitItems();
bool IsLengthUnit(BYTE code);
// The short text shown beside a number: "meters", "ft", "in", "cm", "mm"; "unit N" for a code that
// is no length unit, so that a number is never shown under a unit it is not in.
std::string LengthUnitLabel(BYTE code);
// The unit's symbol in a sentence: "m", "ft", "in", "cm", "mm" ("unit N" for no length unit).
std::string LengthUnitSymbol(BYTE code);
// "7.400 m": a distance in a sentence, as the fields show it, with its unit.
std::string FormatLength(double value, BYTE code);
// value in `to` units (as the transmitter converts: through metres, in double); absent when either
// code is no length unit.
std::optional<double> ConvertLength(double value, BYTE from, BYTE to);
// Whether `value`, a distance in `unit`, lies within limits given in metres (the parameter table
// gives every distance's limits in metres, whatever unit the device shows it in); the limits are
// converted into `unit`, and a value at a limit itself is inside. Absent when `unit` is no length
// unit: the limits then cannot be given in it.
std::optional<bool> WithinMetreLimits(double value, BYTE unit, double minimumMetres, double maximumMetres);

}  // namespace vkr::dui

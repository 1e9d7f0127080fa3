// Decoders of the HART answers several device pages read from the "Command n complete"
// parameters, and the shared step that stores their values as the DTM-side parameters the pages
// show. Every field is present only when its bytes are (the answers may be short); the range of
// command 15 (unit, upper and lower value) only whole.
//
// Layouts (data bytes of the answer, big-endian, floats IEEE singles):
//   command 1   b0 PV unit; b1-4 PV
//   command 2   b0-3 loop current (mA); b4-7 percent of range
//   command 14  b0-2 sensor serial number; b3 limits unit; b4-7 upper limit; b8-11 lower limit;
//               b12-15 minimum span
//   command 15  b0 alarm selection; b1 transfer function; b2 range unit; b3-6 upper range value;
//               b7-10 lower range value; b11-14 damping (s)
#pragma once

#include <optional>
#include <span>

#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

namespace vkr::dui {

struct SCommand1Response {
  std::optional<BYTE> pvUnit;
  std::optional<float> pv;
};
struct SCommand2Response {
  std::optional<float> loopCurrent;
  std::optional<float> percentOfRange;
};
struct SCommand14Response {
  std::optional<ULONG> sensorSerialNumber;
  std::optional<BYTE> limitsUnit;
  std::optional<float> upperLimit;
  std::optional<float> lowerLimit;
  std::optional<float> minimumSpan;
};
struct SCommand15Response {
  std::optional<BYTE> alarmSelection;
  std::optional<BYTE> transferFunction;
  std::optional<BYTE> rangeUnit;
  std::optional<float> upperRange;
  std::optional<float> lowerRange;
  std::optional<float> damping;
};

SCommand1Response DecodeCommand1(std::span<const BYTE> data);
SCommand2Response DecodeCommand2(std::span<const BYTE> data);
SCommand14Response DecodeCommand14(std::span<const BYTE> data);
SCommand15Response DecodeCommand15(std::span<const BYTE> data);

// The PV unit of a command 1 answer into 1039 "PV unit user" (VT_UI1) through the DTM, only when
// it differs from *lastUnit (0xFFFF: none seen yet), which then takes it. S_FALSE when nothing was
// stored; the DTM's failure (and *lastUnit unchanged) otherwise.
HRESULT StorePvUnitIfChanged(IovFdtParameterHandler4* dtm, BYTE unit, USHORT* lastUnit);
// The present fields of a command 15 answer into the DTM-side values 1025 "Range unit" (VT_UI1),
// 1026 "Upper range", 1027 "Lower range" and 1040 "Damping value user" (VT_R4), in this order;
// the first failure ends it. *rangeUnit (may be null) takes the range unit when present.
HRESULT StoreCommand15Values(IovFdtParameterHandler4* dtm, const SCommand15Response& answer, BYTE* rangeUnit);

}  // namespace vkr::dui

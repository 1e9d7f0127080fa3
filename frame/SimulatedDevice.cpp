// The simulated VKR transmitter: its wire helpers, its configuration and its commands.
#include "frame/SimulatedDevice.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace vkr::frame {

// ---- Wire helpers ---------------------------------------------------------------------------

namespace wire {

std::string ToHex(const Bytes& bytes, bool lowerCase) {
  const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
  }
  return text;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

bool FromHex(std::string_view text, Bytes* out) {
  out->clear();
  if (text.size() % 2 != 0) return false;
  Bytes bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  *out = std::move(bytes);
  return true;
}

Bytes PackAscii(std::string_view text, std::size_t size) {
  const std::size_t chars = size / 3 * 4;
  Bytes out(size, 0);
  auto code = [&](std::size_t i) -> std::uint8_t {
    char c = i < text.size() ? text[i] : ' ';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 0x20 || c > 0x5F) c = '?';
    return static_cast<std::uint8_t>(c & 0x3F);
  };
  for (std::size_t group = 0; group * 4 < chars; ++group) {
    const std::uint8_t c0 = code(group * 4), c1 = code(group * 4 + 1), c2 = code(group * 4 + 2),
                       c3 = code(group * 4 + 3);
    out[group * 3] = static_cast<std::uint8_t>(c0 << 2 | c1 >> 4);
    out[group * 3 + 1] = static_cast<std::uint8_t>((c1 << 4 & 0xFF) | c2 >> 2);
    out[group * 3 + 2] = static_cast<std::uint8_t>((c2 << 6 & 0xFF) | c3);
  }
  return out;
}

std::string UnpackAscii(const Bytes& bytes) {
  std::string text;
  for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned>(bytes[i]) << 16 | static_cast<unsigned>(bytes[i + 1]) << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) {
      const unsigned c = v >> shift & 0x3F;
      text.push_back(static_cast<char>(c < 32 ? c + 64 : c));
    }
  }
  return text;
}

void PutU16(Bytes* bytes, std::size_t at, std::uint16_t value) {
  if (bytes->size() < at + 2) bytes->resize(at + 2);
  (*bytes)[at] = static_cast<std::uint8_t>(value >> 8);
  (*bytes)[at + 1] = static_cast<std::uint8_t>(value);
}

void PutFloat(Bytes* bytes, std::size_t at, float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if (bytes->size() < at + 4) bytes->resize(at + 4);
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}

float GetFloat(const Bytes& bytes, std::size_t at) {
  if (bytes.size() < at + 4) return 0.0f;
  std::uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits = bits << 8 | bytes[at + i];
  return std::bit_cast<float>(bits);
}

}  // namespace wire

std::string hart::StatusConditions(std::uint8_t status) {
  static constexpr const char* kNames[8] = {"primary variable out of limits",
                                            "non-primary variable out of limits",
                                            "loop current saturated",
                                            "loop current fixed",
                                            "more status available",
                                            "cold start",
                                            "configuration changed",
                                            "field device malfunction"};
  std::string text;
  for (int bit = 7; bit >= 0; --bit)
    if ((status >> bit & 1) && kNames[bit]) text += (text.empty() ? "" : ", ") + std::string(kNames[bit]);
  return text;
}

// ---- The device -----------------------------------------------------------------------------

namespace {

// The floats of the answers, by command: where each lies in the data
// and what it is.
struct AnswerFloat {
  std::uint8_t command;
  std::size_t at;
  const char* name;
};
constexpr AnswerFloat kAnswerFloats[] = {
    {1, 1, "primary variable"},       {2, 0, "loop current"},          {2, 4, "percent of range"},
    {3, 0, "loop current"},           {3, 5, "primary variable"},      {3, 10, "secondary variable"},
    {3, 15, "tertiary variable"},     {3, 20, "quaternary variable"},  {14, 4, "upper sensor limit"},
    {14, 8, "lower sensor limit"},    {14, 12, "minimum span"},        {15, 3, "upper range value"},
    {15, 7, "lower range value"},     {15, 11, "damping"},             {40, 0, "loop current"},
    {135, 6, "digitized distance"},   {137, 2, "blanking distance"},   {137, 6, "distance offset"},
};


Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  Bytes out(count, 0);
  for (std::size_t i = 0; i < count && from + i < bytes.size(); ++i) out[i] = bytes[from + i];
  return out;
}

// Commands that change the configuration (they are refused while the device is write-protected).
bool IsWriteCommand(std::uint8_t command) {
  switch (command) {
    case 6: case 17: case 18: case 19: case 22: case 34: case 35: case 44: case 134: case 136: case 138:
      return true;
    default:
      return false;
  }
}

// The request bytes a command needs; shorter requests get "too few data bytes".
std::size_t RequestSize(std::uint8_t command) {
  switch (command) {
    case 6: return 1;  // a HART 5 master sends the polling address only
    case 17: return 24;
    case 18: return 21;
    case 19: return 3;
    case 21: case 22: return 32;
    case 34: case 40: case 45: case 46: return 4;
    case 35: return 9;
    case 44: return 1;
    case 131: return 4;
    case 134: return 4;
    case 136: case 138: return 10;
    default: return 0;
  }
}

}  // namespace

SimulatedDevice::SimulatedDevice() {
  SetMessage("VKR RADAR LEVEL TRANSMITTER");
  SetTagAndDescriptor("LT-101", "TANK 1 LEVEL");
  config.tagDescriptorDate[18] = 7;    // day
  config.tagDescriptorDate[19] = 12;   // month
  config.tagDescriptorDate[20] = 126;  // 2026
  config.longTag = Bytes(32, 0);
  const std::string longTag = "LT-101 TANK 1 RADAR LEVEL";
  std::copy(longTag.begin(), longTag.end(), config.longTag.begin());
  config.displaySettings = {3, 1, 1, 1, 0, 0, 0, 0, 0, 0};
  wire::PutFloat(&config.displaySettings, 6, 0.0f);
  config.echoSettings = {50, kAnalog4To20, 0, 0, 0, 0, 0, 0, 0, 0};
  wire::PutFloat(&config.echoSettings, 2, 0.3f);
  wire::PutFloat(&config.echoSettings, 6, 0.0f);
  config.memory[0x0035] = 0x0320;  // probe length: 800 cm
  config.memory[0x0036] = 0x0000;
  // The echo profile of a tank with the surface 3.5 m below the antenna: a weak nozzle echo near
  // the top, the surface, its double bounce and the tank bottom beyond it.
  SetEcho(0, {3420, 3500, 204, 12, 3590});  // the surface: 2.0 V
  SetEcho(1, {560, 610, 71, 8, 670});       // the nozzle: 0.7 V
  SetEcho(2, {6900, 7000, 92, 20, 7110});   // the double bounce: 0.9 V
  SetEcho(3, {7880, 7950, 41, 24, 8020});   // the bottom: 0.4 V
}

void SimulatedDevice::SetEcho(std::size_t index, const Echo& echo) {
  if (index >= 4) return;
  const auto at = static_cast<std::uint16_t>(kEchoTableAddress + 5 * index);
  const std::uint16_t words[5] = {echo.start, echo.peak, echo.size, echo.gain, echo.end};
  for (std::uint16_t k = 0; k < 5; ++k) config.memory[static_cast<std::uint16_t>(at + k)] = words[k];
}

void SimulatedDevice::SetMessage(std::string_view text) { config.message = wire::PackAscii(text, 24); }

void SimulatedDevice::SetTagAndDescriptor(std::string_view tag, std::string_view descriptor) {
  Bytes date = Slice(config.tagDescriptorDate, 18, 3);
  config.tagDescriptorDate = wire::PackAscii(tag, 6);
  const Bytes d = wire::PackAscii(descriptor, 12);
  config.tagDescriptorDate.insert(config.tagDescriptorDate.end(), d.begin(), d.end());
  config.tagDescriptorDate.insert(config.tagDescriptorDate.end(), date.begin(), date.end());
}

std::string SimulatedDevice::Message() const { return wire::UnpackAscii(config.message); }
std::string SimulatedDevice::Tag() const { return wire::UnpackAscii(Slice(config.tagDescriptorDate, 0, 6)); }
std::string SimulatedDevice::Descriptor() const { return wire::UnpackAscii(Slice(config.tagDescriptorDate, 6, 12)); }

namespace {
// Metres in one unit of the length units the device knows; 0 for any other code.
double MetresPer(std::uint8_t unit) {
  switch (unit) {
    case hart::kUnitFeet: return 0.3048;
    case hart::kUnitMeter: return 1.0;
    case hart::kUnitInch: return 0.0254;
    case hart::kUnitCentimeter: return 0.01;
    case hart::kUnitMillimeter: return 0.001;
    default: return 0.0;
  }
}
}  // namespace

float SimulatedDevice::ConvertLength(float value, std::uint8_t from, std::uint8_t to) {
  const double a = MetresPer(from), b = MetresPer(to);
  if (from == to || a == 0.0 || b == 0.0) return value;
  return static_cast<float>(static_cast<double>(value) * a / b);
}

namespace {
// Limits converted between units carry float rounding: a value at the limit itself is taken.
bool Beyond(double value, double limit, bool above) {
  const double slack = 1e-6 * std::max(1.0, std::abs(limit));
  return above ? !(value <= limit + slack) : !(value >= limit - slack);
}
}  // namespace

std::uint8_t SimulatedDevice::CheckRange(std::uint8_t unit, float upper, float lower) const {
  // A range in a unit that converts into no length (a current, say) has no limits to hold to.
  if (unit != config.limitsUnit && (MetresPer(unit) == 0.0 || MetresPer(config.limitsUnit) == 0.0)) return 0;
  const double a = ConvertLength(config.upperSensorLimit, config.limitsUnit, unit);
  const double b = ConvertLength(config.lowerSensorLimit, config.limitsUnit, unit);
  const double lowest = std::min(a, b), highest = std::max(a, b);
  const double span = ConvertLength(config.minimumSpan, config.limitsUnit, unit);
  const bool upperHigh = Beyond(upper, highest, true), upperLow = Beyond(upper, lowest, false);
  const bool lowerHigh = Beyond(lower, highest, true), lowerLow = Beyond(lower, lowest, false);
  if ((upperHigh || upperLow) && (lowerHigh || lowerLow)) return hart::kRangeValuesOutOfLimits;
  if (lowerHigh) return hart::kLowerRangeTooHigh;
  if (lowerLow) return hart::kLowerRangeTooLow;
  if (upperHigh) return hart::kUpperRangeTooHigh;
  if (upperLow) return hart::kUpperRangeTooLow;
  if (upper == lower) return hart::kInvalidSpan;
  if (std::abs(static_cast<double>(upper) - lower) < span * (1.0 - 1e-6)) return hart::kSpanTooSmall;
  return 0;
}

double SimulatedDevice::ProbeEndMetres() const {
  // Limits in no length unit bound nothing.
  const double per = MetresPer(config.limitsUnit);
  const float farther = std::max(config.upperSensorLimit, config.lowerSensorLimit);
  return per == 0.0 ? std::numeric_limits<double>::infinity() : static_cast<double>(farther) * per;
}

std::uint8_t SimulatedDevice::CheckDistance(float value, double lowest, double highest) const {
  const double per = MetresPer(config.pvUnit);
  if (per == 0.0) return 0;
  const double metres = static_cast<double>(value) * per;
  if (Beyond(metres, highest, true)) return hart::kParameterTooLarge;
  if (Beyond(metres, lowest, false)) return hart::kParameterTooSmall;
  return 0;
}

std::uint8_t SimulatedDevice::AnalogModeCode() const {
  return config.echoSettings.size() > 1 ? config.echoSettings[1] : std::uint8_t{kAnalog4To20};
}

float SimulatedDevice::PercentOfRange() const {
  const float span = config.upperRange - config.lowerRange;
  const float pv = ConvertLength(config.pv, config.pvUnit, config.rangeUnit);
  return span == 0.0f ? 0.0f : (pv - config.lowerRange) / span * 100.0f;
}

namespace {
// The loop current's share of the range stops here: 3.8 and 20.5 mA (NAMUR NE 43).
constexpr float kLowestPercent = -1.25f;
constexpr float kHighestPercent = 103.125f;
}  // namespace

bool SimulatedDevice::PvOutsideSensorLimits() const {
  // Limits or a PV in no length unit cannot be held against each other.
  if (config.pvUnit != config.limitsUnit && (MetresPer(config.pvUnit) == 0.0 || MetresPer(config.limitsUnit) == 0.0))
    return false;
  const double pv = ConvertLength(config.pv, config.pvUnit, config.limitsUnit);
  const double lowest = std::min(config.upperSensorLimit, config.lowerSensorLimit);
  const double highest = std::max(config.upperSensorLimit, config.lowerSensorLimit);
  return Beyond(pv, highest, true) || Beyond(pv, lowest, false);
}

bool SimulatedDevice::CurrentFollowsPv() const {
  if (config.fixedCurrent != 0.0f || config.loopCurrentMode == 0) return false;
  const std::uint8_t mode = AnalogModeCode();
  return mode != kPark4 && mode != kPark8 && mode != kPark12;
}

float SimulatedDevice::LoopCurrent() const {
  if (config.fixedCurrent != 0.0f) return config.fixedCurrent;
  if (config.loopCurrentMode == 0) return 4.0f;
  const float share = std::clamp(PercentOfRange(), kLowestPercent, kHighestPercent) / 100.0f;
  switch (AnalogModeCode()) {
    case kAnalog20To4: return 20.0f - 16.0f * share;
    case kPark4: return 4.0f;
    case kPark8: return 8.0f;
    case kPark12: return 12.0f;
    default: return 4.0f + 16.0f * share;
  }
}

std::uint8_t SimulatedDevice::DeviceStatus(bool primaryMaster) const {
  const std::size_t master = Master(primaryMaster);
  std::uint8_t status = 0;
  if (config.malfunction) status |= hart::kStatusMalfunction;
  if (config.configChanged[master]) status |= hart::kStatusConfigChanged;
  if (config.coldStart[master]) status |= hart::kStatusColdStart;
  if (Command48Status() != config.acknowledgedStatus[master]) status |= hart::kStatusMoreStatus;
  const float percent = PercentOfRange();
  if (!CurrentFollowsPv())
    status |= hart::kStatusCurrentFixed;
  else if (percent < kLowestPercent || percent > kHighestPercent)
    status |= hart::kStatusCurrentSaturated;
  if (PvOutsideSensorLimits()) status |= hart::kStatusPvOutOfLimits;
  return status;
}

std::uint8_t SimulatedDevice::StatusAnswered() const {
  std::uint8_t told = 0;
  for (const Received& r : received)
    if (r.status) told |= *r.status;
  return told;
}

std::string SimulatedDevice::NonFiniteAnswered() const {
  std::vector<std::pair<std::string, std::vector<int>>> found;
  for (const SimulatedDevice::Received& r : received)
    for (const AnswerFloat& f : kAnswerFloats) {
      if (f.command != r.command || r.answer.size() < f.at + 4 || std::isfinite(wire::GetFloat(r.answer, f.at)))
        continue;
      auto it = std::find_if(found.begin(), found.end(), [&](const auto& e) { return e.first == f.name; });
      if (it == found.end()) it = found.insert(found.end(), {f.name, {}});
      if (std::find(it->second.begin(), it->second.end(), r.command) == it->second.end()) it->second.push_back(r.command);
    }
  std::string text;
  for (const auto& [name, commands] : found) {
    text += (text.empty() ? "" : ", ") + name + (commands.size() == 1 ? " (command " : " (commands ");
    for (std::size_t i = 0; i < commands.size(); ++i) text += (i == 0 ? "" : ", ") + std::to_string(commands[i]);
    text += ")";
  }
  return text;
}

std::uint8_t SimulatedDevice::ExtendedDeviceStatus() const {
  std::uint8_t status = 0;
  const auto faults = config.additionalStatus.begin();
  if (std::any_of(faults, faults + std::min<std::size_t>(6, config.additionalStatus.size()),
                  [](std::uint8_t b) { return b != 0; }))
    status |= hart::kExtendedMaintenanceRequired;
  if (PvOutsideSensorLimits()) status |= hart::kExtendedDeviceVariableAlert;
  if (config.fixedCurrent != 0.0f) status |= hart::kExtendedFunctionCheck;
  return status;
}

Bytes SimulatedDevice::Command48Status() const {
  Bytes status = config.additionalStatus;
  constexpr std::size_t kExtendedStatusByte = 6;
  if (status.size() > kExtendedStatusByte) status[kExtendedStatusByte] = ExtendedDeviceStatus();
  return status;
}

void SimulatedDevice::Changed() {
  config.configChanged = {true, true};
  ++config.configChangeCounter;
}

std::optional<CommandFault> SimulatedDevice::TakeFault(std::uint8_t command) {
  for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
    if (it->command >= 0 && it->command != command) continue;
    CommandFault fault = *it;
    if (!fault.persistent) m_faults.erase(it);
    return fault;
  }
  return std::nullopt;
}

HartReply SimulatedDevice::Execute(std::uint8_t command, const Bytes& request, bool primaryMaster) {
  received.push_back({command, request, primaryMaster, std::nullopt, {}});
  const std::optional<CommandFault> fault = TakeFault(command);
  HartReply reply;
  if (fault && fault->silent) {
    reply.answered = false;
    return reply;
  }
  bool reset = false;
  // What the device held, for a write its memory cannot keep: it then confirms nothing.
  std::optional<Configuration> held;
  if (keepMemory) held = config;
  if (fault && fault->communicationStatus && *fault->communicationStatus != 0) {
    // The device did not understand the frame: nothing runs, no data comes back.
    reply.communicationStatus = *fault->communicationStatus;
    reply.deviceStatus = DeviceStatus(primaryMaster);
  } else {
    reply = Run(command, request, primaryMaster);
    reset = command == 42 && reply.answered && reply.commandResponse == 0;
  }
  // The answer to the reset goes out before the device restarts; each master then learns of the
  // restart from the first answer it gets, whenever that comes.
  if (reply.answered) config.coldStart[Master(primaryMaster)] = false;
  if (reset) config.coldStart = {true, true};
  if (held && reply.answered && !keepMemory()) {
    config = *held;
    reply = HartReply{};
    reply.commandResponse = hart::kDeviceSpecificError;
    reply.deviceStatus = DeviceStatus(primaryMaster);
  }
  if (fault) {
    if (fault->commandResponse) reply.commandResponse = *fault->commandResponse;
    if (fault->deviceStatus) reply.deviceStatus = *fault->deviceStatus;
    if (fault->truncateTo && *fault->truncateTo < reply.data.size()) reply.data.resize(*fault->truncateTo);
    reply.data.insert(reply.data.end(), fault->extraData.begin(), fault->extraData.end());
  }
  if (reply.answered) {
    received.back().status = reply.deviceStatus;
    received.back().answer = reply.data;
  }
  return reply;
}

HartReply SimulatedDevice::Run(std::uint8_t command, const Bytes& request, bool primaryMaster) {
  HartReply reply;
  auto done = [&](Bytes data) {
    reply.data = std::move(data);
    reply.deviceStatus = DeviceStatus(primaryMaster);
    return reply;
  };
  auto refuse = [&](std::uint8_t code) {
    reply.commandResponse = code;
    reply.deviceStatus = DeviceStatus(primaryMaster);
    return reply;
  };
  if (request.size() < RequestSize(command)) return refuse(hart::kTooFewDataBytes);
  if (IsWriteCommand(command) && config.writeProtect == 1) return refuse(hart::kWriteProtected);
  // Longer requests are taken up to the length the command needs (read commands ignore data).
  const Bytes data = Slice(request, 0, RequestSize(command));
  Configuration& c = config;
  switch (command) {
    case 0: {
      Bytes r(22, 0);
      r[0] = 254;
      r[1] = c.manufacturerId;
      r[2] = c.deviceType;
      r[3] = c.preambles;
      r[4] = c.universalRevision;
      r[5] = c.deviceRevision;
      r[6] = c.softwareRevision;
      r[7] = 0x08;  // hardware revision 1, Bell 202 current
      r[8] = 0;
      r[9] = c.deviceId[0];
      r[10] = c.deviceId[1];
      r[11] = c.deviceId[2];
      r[12] = c.preambles;
      r[13] = 4;  // device variables
      wire::PutU16(&r, 14, c.configChangeCounter);
      r[16] = ExtendedDeviceStatus();
      wire::PutU16(&r, 17, c.manufacturerId);
      wire::PutU16(&r, 19, c.privateLabel);
      r[21] = 1;  // HART process automation device
      return done(r);
    }
    case 21:
      // Only the device whose long tag it is answers, with its identity.
      if (data != Slice(c.longTag, 0, 32)) {
        reply.answered = false;
        return reply;
      }
      return Run(0, {}, primaryMaster);
    case 1: {
      Bytes r{c.pvUnit};
      wire::PutFloat(&r, 1, c.pv);
      return done(r);
    }
    case 2: {
      Bytes r;
      wire::PutFloat(&r, 0, LoopCurrent());
      wire::PutFloat(&r, 4, PercentOfRange());
      return done(r);
    }
    case 3: {
      Bytes r;
      wire::PutFloat(&r, 0, LoopCurrent());
      r.push_back(c.pvUnit);
      wire::PutFloat(&r, 5, c.pv);
      r.push_back(c.svUnit);
      wire::PutFloat(&r, 10, c.sv);
      r.push_back(c.tvUnit);
      wire::PutFloat(&r, 15, c.tv);
      r.push_back(c.qvUnit);
      wire::PutFloat(&r, 20, c.qv);
      return done(r);
    }
    case 6: {
      if (data[0] > 63) return refuse(hart::kInvalidSelection);
      // Without the mode (HART 5) the address decides: 0 drives the loop current, any other
      // address is multidrop with the current parked.
      const std::uint8_t mode = request.size() >= 2 ? request[1] : (data[0] == 0 ? 1 : 0);
      if (mode > 1) return refuse(hart::kInvalidModeSelection);
      c.pollingAddress = data[0];
      c.loopCurrentMode = mode;
      Changed();
      return done({c.pollingAddress, c.loopCurrentMode});
    }
    case 7:
      return done({c.pollingAddress, c.loopCurrentMode});
    case 12:
      return done(Slice(c.message, 0, 24));
    case 13:
      return done(Slice(c.tagDescriptorDate, 0, 21));
    case 14: {
      Bytes r(c.sensorSerial.begin(), c.sensorSerial.end());
      r.push_back(c.limitsUnit);
      wire::PutFloat(&r, 4, c.upperSensorLimit);
      wire::PutFloat(&r, 8, c.lowerSensorLimit);
      wire::PutFloat(&r, 12, c.minimumSpan);
      return done(r);
    }
    case 15: {
      Bytes r{c.alarmSelect, c.transferFunction, c.rangeUnit};
      wire::PutFloat(&r, 3, c.upperRange);
      wire::PutFloat(&r, 7, c.lowerRange);
      wire::PutFloat(&r, 11, c.damping);
      r.push_back(c.writeProtect);
      r.push_back(c.privateLabel);
      r.push_back(c.analogChannelFlags);
      return done(r);
    }
    case 16:
      return done(Slice(c.finalAssembly, 0, 3));
    case 17:
      c.message = data;
      Changed();
      return done(data);
    case 18:
      c.tagDescriptorDate = data;
      Changed();
      return done(data);
    case 19:
      c.finalAssembly = data;
      Changed();
      return done(data);
    case 20:
      return done(Slice(c.longTag, 0, 32));
    case 22:
      c.longTag = data;
      Changed();
      return done(data);
    case 34:
      c.damping = wire::GetFloat(data, 0);
      Changed();
      return done(data);
    case 35: {
      const std::uint8_t check = CheckRange(data[0], wire::GetFloat(data, 1), wire::GetFloat(data, 5));
      if (check != 0 && check != hart::kSpanTooSmall) return refuse(check);
      c.rangeUnit = data[0];
      c.upperRange = wire::GetFloat(data, 1);
      c.lowerRange = wire::GetFloat(data, 5);
      Changed();
      reply.commandResponse = check;
      return done(data);
    }
    case 38: {
      // With a counter the flag is reset only when the counter is the device's.
      if (request.size() >= 2) {
        const std::uint16_t counter = static_cast<std::uint16_t>(request[0] << 8 | request[1]);
        if (counter != c.configChangeCounter) return refuse(hart::kCounterMismatch);
      }
      // Only for the master that sent it: the other still has a change to learn of.
      c.configChanged[Master(primaryMaster)] = false;
      // The answer carries the counter whether or not the master sent one.
      Bytes r;
      wire::PutU16(&r, 0, c.configChangeCounter);
      return done(r);
    }
    case 40: {
      // With the loop current mode off the current signals nothing a master could fix.
      if (c.loopCurrentMode == 0) return refuse(hart::kInMultidropMode);
      c.fixedCurrent = wire::GetFloat(data, 0);
      Bytes r;
      wire::PutFloat(&r, 0, LoopCurrent());
      return done(r);
    }
    case 41:
    case 42:
      if (command == 42) c.fixedCurrent = 0.0f;
      return done({});
    case 44: {
      // The PV, the range values, the sensor limits and the blanking and offset of command 137
      // (kept in the PV unit) are all given in the new unit from now on: the distances stay.
      const std::uint8_t unit = data[0];
      if (MetresPer(unit) == 0.0) return refuse(hart::kInvalidSelection);
      c.pv = ConvertLength(c.pv, c.pvUnit, unit);
      for (std::size_t at : {std::size_t{2}, std::size_t{6}})
        if (c.echoSettings.size() >= at + 4)
          wire::PutFloat(&c.echoSettings, at, ConvertLength(wire::GetFloat(c.echoSettings, at), c.pvUnit, unit));
      c.pvUnit = unit;
      // A range or limits in a unit that is no length unit cannot follow and keep their unit.
      if (MetresPer(c.rangeUnit) != 0.0) {
        c.upperRange = ConvertLength(c.upperRange, c.rangeUnit, unit);
        c.lowerRange = ConvertLength(c.lowerRange, c.rangeUnit, unit);
        c.rangeUnit = unit;
      }
      if (MetresPer(c.limitsUnit) != 0.0) {
        c.upperSensorLimit = ConvertLength(c.upperSensorLimit, c.limitsUnit, unit);
        c.lowerSensorLimit = ConvertLength(c.lowerSensorLimit, c.limitsUnit, unit);
        c.minimumSpan = ConvertLength(c.minimumSpan, c.limitsUnit, unit);
        c.limitsUnit = unit;
      }
      Changed();
      return done(data);
    }
    case 45:
    case 46: {
      // A trim is taken only while the current is fixed at the end of the range it trims; the
      // simulated loop stays exact, the trim is kept for the master to be checked against.
      const float end = command == 45 ? 4.0f : 20.0f;
      if (c.loopCurrentMode == 0) return refuse(hart::kInMultidropMode);
      if (c.fixedCurrent != end) return refuse(hart::kIncorrectLoopCurrentMode);
      (command == 45 ? c.zeroTrim : c.gainTrim) = wire::GetFloat(data, 0);
      return done(data);
    }
    case 48: {
      // Status bytes in the request acknowledge what the master read: when they are the current
      // status (byte 6 included), more-status-available is reset for that master until the
      // status changes again.
      const Bytes status = Command48Status();
      if (!request.empty()) {
        if (request.size() < status.size()) return refuse(hart::kTooFewDataBytes);
        if (!std::equal(status.begin(), status.end(), request.begin())) {
          reply.commandResponse = hart::kStatusBytesMismatch;
          return done(status);
        }
        c.acknowledgedStatus[Master(primaryMaster)] = status;
      }
      return done(status);
    }
    case 131: {
      const unsigned start = static_cast<unsigned>(data[0] << 8 | data[1]);
      const unsigned count = static_cast<unsigned>(data[2] << 8 | data[3]);
      // A HART answer carries at most 253 data bytes besides its two status bytes.
      if (count == 0 || count > 126 || start + count > 0x10000) return refuse(hart::kInvalidSelection);
      Bytes r;
      for (unsigned i = 0; i < count; ++i) {
        const auto it = c.memory.find(static_cast<std::uint16_t>(start + i));
        wire::PutU16(&r, r.size(), it == c.memory.end() ? 0 : it->second);
      }
      return done(r);
    }
    case 134: {
      const auto address = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
      const auto word = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
      // A word never written holds 0: writing 0 there keeps the memory as it was.
      const auto held = c.memory.find(address);
      if (held != c.memory.end() || word != 0) c.memory[address] = word;
      Changed();
      return done(data);
    }
    case 135:
      return done(Slice(c.displaySettings, 0, 10));
    case 136: {
      // Digitize (command byte 3) at a distance the probe does not reach is refused.
      constexpr std::uint8_t kDigitize = 3;
      if (data[5] == kDigitize)
        if (const std::uint8_t check = CheckDistance(wire::GetFloat(data, 6), 0.0, ProbeEndMetres()))
          return refuse(check);
      c.displaySettings = data;
      Changed();
      return done(data);
    }
    case 137:
      return done(Slice(c.echoSettings, 0, 10));
    case 138: {
      // Blanking from the flange to no further than the probe's end, the offset within 0.5 m.
      constexpr double kOffsetMetres = 0.5;
      if (const std::uint8_t check = CheckDistance(wire::GetFloat(data, 2), 0.0, ProbeEndMetres()))
        return refuse(check);
      if (const std::uint8_t check = CheckDistance(wire::GetFloat(data, 6), -kOffsetMetres, kOffsetMetres))
        return refuse(check);
      c.echoSettings = data;
      Changed();
      return done(data);
    }
    default:
      return refuse(hart::kNotImplemented);
  }
}

}  // namespace vkr::frame

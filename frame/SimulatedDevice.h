// The simulated VKR radar level transmitter that answers HART commands behind the frame's channel.
//
// The device keeps its configuration (what a write command stores, the matching read returns),
// its polling and long address, the device status byte and the configuration-change counter. It
// answers the universal and common-practice commands the DTM uses and the VKR's device-specific
// commands 131 and 134 to 138; any other command gets command response 64 (not implemented).
// Faults are injected per command: command response, communication status, device status,
// truncated or extended response data.
//
// It has its own hex, Packed ASCII and float helpers on purpose: sharing the DTM's codecs would
// hide a fault that both sides make alike. Not thread-safe: the frame's thread owns it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vkr::frame {

using Bytes = std::vector<std::uint8_t>;

// The device's wire helpers. Multi-byte numbers are most significant byte first; floats are IEEE
// 754 single precision.
namespace wire {
// Two upper-case (or lower-case) hex digits a byte, no separators.
std::string ToHex(const Bytes& bytes, bool lowerCase = false);
// False for an odd number of digits or a character that is no hex digit; *out is then empty.
bool FromHex(std::string_view text, Bytes* out);
// Packs the text into `size` bytes of Packed ASCII (four 6-bit characters in three bytes), padded
// with blanks; lower-case letters become upper case, characters outside the 6-bit set become '?'.
Bytes PackAscii(std::string_view text, std::size_t size);
// Unpacks every whole group of three bytes: codes below 32 are letters (+64).
std::string UnpackAscii(const Bytes& bytes);
void PutFloat(Bytes* bytes, std::size_t at, float value);
// 0 when fewer than four bytes are there.
float GetFloat(const Bytes& bytes, std::size_t at);
void PutU16(Bytes* bytes, std::size_t at, std::uint16_t value);
}  // namespace wire

// One answer of the device: the two status bytes and the response data.
struct HartReply {
  bool answered = true;                  // false: the device stays silent (the master times out)
  std::uint8_t commandResponse = 0;      // 0: success; other values as HART numbers them
  std::uint8_t communicationStatus = 0;  // 0: the device heard the request cleanly
  std::uint8_t deviceStatus = 0;
  Bytes data;
};

// A fault for the next answer to `command` (-1: to any command). A communication status other
// than 0 means the device did not understand the request: it does not run it and sends no data.
struct CommandFault {
  int command = -1;
  std::optional<std::uint8_t> commandResponse;
  std::optional<std::uint8_t> communicationStatus;
  std::optional<std::uint8_t> deviceStatus;
  std::optional<std::size_t> truncateTo;  // keep only this many data bytes
  Bytes extraData;                        // appended to the data
  bool persistent = false;                // false: used once
  bool silent = false;                    // the device does not answer at all (the master times out)
};

// HART numbers the device uses.
namespace hart {
constexpr std::uint8_t kSuccess = 0;
constexpr std::uint8_t kInvalidSelection = 2;
constexpr std::uint8_t kBusy = 32;
constexpr std::uint8_t kTooFewDataBytes = 5;
constexpr std::uint8_t kDeviceSpecificError = 6;  // a command the device could not carry out
constexpr std::uint8_t kWriteProtected = 7;
constexpr std::uint8_t kCounterMismatch = 9;
constexpr std::uint8_t kInvalidModeSelection = 12;
constexpr std::uint8_t kStatusBytesMismatch = 14;  // a warning: the data still comes back
constexpr std::uint8_t kNotImplemented = 64;
constexpr std::uint8_t kIncorrectLoopCurrentMode = 9;  // commands 45, 46: not fixed at 4 or 20 mA
constexpr std::uint8_t kInMultidropMode = 11;          // commands 40, 45, 46: the loop current mode is off
constexpr std::uint8_t kParameterTooLarge = 3;
constexpr std::uint8_t kParameterTooSmall = 4;
// Command 35 (write range values). "Too high" and "too low" are numeric: the VKR gives its range
// and limits as distances from the flange, so its upper sensor limit is the smaller number.
constexpr std::uint8_t kLowerRangeTooHigh = 9;
constexpr std::uint8_t kLowerRangeTooLow = 10;
constexpr std::uint8_t kUpperRangeTooHigh = 11;
constexpr std::uint8_t kUpperRangeTooLow = 12;
constexpr std::uint8_t kRangeValuesOutOfLimits = 13;
constexpr std::uint8_t kSpanTooSmall = 14;  // a warning: the range is taken
constexpr std::uint8_t kInvalidSpan = 29;

// The device status byte of every answer.
constexpr std::uint8_t kStatusMalfunction = 0x80;
constexpr std::uint8_t kStatusConfigChanged = 0x40;
constexpr std::uint8_t kStatusColdStart = 0x20;
constexpr std::uint8_t kStatusMoreStatus = 0x10;
constexpr std::uint8_t kStatusCurrentFixed = 0x08;
constexpr std::uint8_t kStatusCurrentSaturated = 0x04;
constexpr std::uint8_t kStatusPvOutOfLimits = 0x01;
// HART 7's extended device status (command 0 byte 16).
constexpr std::uint8_t kExtendedMaintenanceRequired = 0x01;
constexpr std::uint8_t kExtendedDeviceVariableAlert = 0x02;
constexpr std::uint8_t kExtendedFunctionCheck = 0x20;
// The names HART gives the set bits of a device status byte, most significant first,
// comma-separated; "" for none.
std::string StatusConditions(std::uint8_t status);

constexpr std::uint8_t kUnitFeet = 44;
constexpr std::uint8_t kUnitMeter = 45;
constexpr std::uint8_t kUnitInch = 47;
constexpr std::uint8_t kUnitCentimeter = 48;
constexpr std::uint8_t kUnitMillimeter = 49;
constexpr std::uint8_t kUnitMilliampere = 39;
constexpr std::uint8_t kUnitPercent = 57;
}  // namespace hart

class SimulatedDevice {
 public:
  // What the device stores. Byte fields hold the wire form, so a write is echoed and read back
  // exactly as it came.
  struct Configuration {
    std::uint8_t pollingAddress = 0;
    std::uint8_t loopCurrentMode = 1;  // 1: the loop current follows the PV
    // The long address: manufacturer, device type and the three device id bytes.
    std::uint8_t manufacturerId = 0x60;
    std::uint8_t deviceType = 0xE6;
    std::array<std::uint8_t, 3> deviceId{0x01, 0x23, 0x45};
    std::uint8_t preambles = 5;
    std::uint8_t universalRevision = 7;
    std::uint8_t deviceRevision = 1;
    std::uint8_t softwareRevision = 3;
    std::uint16_t configChangeCounter = 0;
    // What the device status tells each master, kept for each as HART keeps it (index kPrimary or
    // kSecondary, as the master bit of a request's address says):
    // configuration changed (0x40) from a change until that master sends command 38;
    std::array<bool, 2> configChanged{};
    // cold start (0x20) in the next answer to that master after a device reset (command 42);
    std::array<bool, 2> coldStart{};
    // more status available (0x10) while command 48's status bytes (byte 6 included) differ from
    // the ones that master last acknowledged by sending them back with command 48. A command 48
    // without data (older masters) only reads.
    std::array<Bytes, 2> acknowledgedStatus{Bytes(24, 0), Bytes(24, 0)};
    // A fault the device found in itself: field device malfunction (0x80) in every answer.
    bool malfunction = false;

    // Process values: the level (PV) and the distance (SV) in metres.
    std::uint8_t pvUnit = hart::kUnitMeter;
    float pv = 2.5f;
    std::uint8_t svUnit = hart::kUnitMeter;
    float sv = 3.5f;
    std::uint8_t tvUnit = 32;  // degrees Celsius
    float tv = 21.0f;
    std::uint8_t qvUnit = hart::kUnitPercent;
    float qv = 41.7f;
    float fixedCurrent = 0.0f;  // 0: not fixed
    // The loop-current trims as the master last gave them (commands 45 and 46: the reference
    // meter's reading in mA); absent until one came.
    std::optional<float> zeroTrim;
    std::optional<float> gainTrim;

    Bytes message;     // 24 bytes Packed ASCII
    Bytes tagDescriptorDate;  // 21 bytes: tag (6), descriptor (12), day, month, year - 1900
    Bytes finalAssembly{0x00, 0x00, 0x2A};
    Bytes longTag;     // 32 bytes

    std::array<std::uint8_t, 3> sensorSerial{0x00, 0x10, 0x01};
    // The sensor limits as a guided radar measures them, as distances from its flange: the upper
    // limit (the highest level it can see) at the end of the blanking distance, the lower at the
    // end of its 8 m probe, where the echo profile shows the probe's end.
    std::uint8_t limitsUnit = hart::kUnitMeter;
    float upperSensorLimit = 0.3f;
    float lowerSensorLimit = 8.0f;
    float minimumSpan = 0.1f;

    std::uint8_t alarmSelect = 0;
    std::uint8_t transferFunction = 0;
    // The range as distances too: 20 mA with the surface 0.5 m below the flange, 4 mA at 7.5 m.
    std::uint8_t rangeUnit = hart::kUnitMeter;
    float upperRange = 0.5f;
    float lowerRange = 7.5f;
    float damping = 0.5f;
    std::uint8_t writeProtect = 0;  // 1: write commands are refused
    std::uint8_t privateLabel = 0x60;
    std::uint8_t analogChannelFlags = 0;

    // Command 48's status bytes (byte 6 is the extended device status): a change shows 0x10 to
    // each master until that master acknowledges it.
    Bytes additionalStatus = Bytes(24, 0);
    Bytes displaySettings;  // commands 135/136: 10 bytes
    // Commands 137/138: 10 bytes; byte 1 is the analog mode the loop current follows (see
    // AnalogMode).
    Bytes echoSettings;
    // Device memory words of commands 131/134, by word address; absent words read 0.
    std::map<std::uint16_t, std::uint16_t> memory;
  };

  // The masters a HART device tells apart: their index in the status it keeps for each.
  static constexpr std::size_t kPrimary = 0;
  static constexpr std::size_t kSecondary = 1;
  static constexpr std::size_t Master(bool primaryMaster) { return primaryMaster ? kPrimary : kSecondary; }

  SimulatedDevice();

  Configuration config;

  // Runs one command of a master (the primary or the secondary, as the request's address says).
  // Never fails: errors are answered with a command response.
  HartReply Execute(std::uint8_t command, const Bytes& request, bool primaryMaster = true);
  // The device's memory (the frame host's device file): called when a command ran, before the
  // device answers it, with what the command changed in `config`. False when the memory could not
  // be written: the device then keeps what it held and answers the command as not done (response
  // code 6, device-specific command error), so that it never confirms what it did not keep.
  std::function<bool()> keepMemory;

  void InjectFault(const CommandFault& fault) { m_faults.push_back(fault); }
  void ClearFaults() { m_faults.clear(); }

  // The device status byte as the next answer to that master carries it (without injected
  // faults), as HART defines its bits:
  //   0x80 field device malfunction  the device found a fault in itself (`malfunction`)
  //   0x40 configuration changed   a write changed the configuration; that master's command 38
  //                                resets it for that master
  //   0x20 cold start              only in the first answer to each master after a device reset
  //                                (command 42)
  //   0x10 more status available   command 48's status bytes differ from the ones that master
  //                                last acknowledged
  //   0x08 loop current fixed      the current does not follow the PV (command 40, loop current
  //                                mode disabled, or parked by the analog mode)
  //   0x04 loop current saturated  the current follows the PV beyond the range and stops at 3.8
  //                                or 20.5 mA
  //   0x01 PV out of limits        the PV lies outside the sensor's limits
  std::uint8_t DeviceStatus(bool primaryMaster = true) const;
  // HART 7's extended device status of command 0 (byte 16) and command 48 (byte 6):
  //   0x01 maintenance required    command 48 reports a fault (a status byte 0 to 5 not zero)
  //   0x02 device variable alert   the PV lies outside the sensor's limits
  //   0x20 function check          a master fixed the loop current (command 40)
  std::uint8_t ExtendedDeviceStatus() const;
  // Command 48's status bytes as the device answers them: `additionalStatus` with the extended
  // device status in byte 6.
  Bytes Command48Status() const;
  // The analog modes of echo settings byte 1.
  enum AnalogMode : std::uint8_t { kAnalog4To20 = 0, kAnalog20To4 = 1, kPark4 = 4, kPark8 = 5, kPark12 = 6 };
  std::uint8_t AnalogModeCode() const;
  // Loop current in mA: the fixed current, or what the analog mode makes of the range (4 to 20
  // mA, 20 to 4 mA, or parked).
  float LoopCurrent() const;
  // The PV in per cent of the range, the PV taken into the range's unit.
  float PercentOfRange() const;
  // Whether the loop current follows the PV over the range (neither fixed nor parked nor
  // switched off by multidrop).
  bool CurrentFollowsPv() const;
  // A length in `to` units; unchanged when either unit is no length unit the device knows.
  static float ConvertLength(float value, std::uint8_t from, std::uint8_t to);

  // Texts of the stored configuration.
  void SetMessage(std::string_view text);
  // One echo of the device's echo table (command 131 reads it from word address 0x02E9: five
  // words per echo, four echoes): distances in millimetres, the size in counts of 1/102 V.
  struct Echo {
    std::uint16_t start = 0;
    std::uint16_t peak = 0;
    std::uint16_t size = 0;
    std::uint16_t gain = 0;
    std::uint16_t end = 0;
  };
  static constexpr std::uint16_t kEchoTableAddress = 0x02E9;
  // Stores echo `index` (0 to 3) in the device memory.
  void SetEcho(std::size_t index, const Echo& echo);
  void SetTagAndDescriptor(std::string_view tag, std::string_view descriptor);
  std::string Message() const;
  std::string Tag() const;
  std::string Descriptor() const;

  // Every command the device received, in order, with the master that sent it and the device
  // status byte of the answer (none when the device kept silent).
  struct Received {
    std::uint8_t command;
    Bytes request;
    bool primaryMaster = true;
    std::optional<std::uint8_t> status;
    Bytes answer;  // the answer's data
  };
  std::vector<Received> received;
  // The device status bits of every answer in `received`, together.
  std::uint8_t StatusAnswered() const;
  // The floats the answers in `received` gave that are not finite numbers, each once with the
  // commands that gave it ("loop current (commands 2, 3), damping (command 15)"); "" for none.
  std::string NonFiniteAnswered() const;

 private:
  HartReply Run(std::uint8_t command, const Bytes& request, bool primaryMaster);
  // What the device answers a range (command 35 data) it is asked to take: 0, a refusal it keeps
  // its own range under, or the warning kSpanTooSmall. A range in a unit that converts into no
  // length is taken as it comes.
  std::uint8_t CheckRange(std::uint8_t unit, float upper, float lower) const;
  // A distance in the PV unit that must lie in [lowest, highest] metres: 0, kParameterTooLarge or
  // kParameterTooSmall. Nothing is checked in a PV unit that is no length unit.
  std::uint8_t CheckDistance(float value, double lowest, double highest) const;
  // The end of the probe (the farther sensor limit, the lower one) in metres; unbounded when its
  // unit is no length unit.
  double ProbeEndMetres() const;
  bool PvOutsideSensorLimits() const;
  // Marks a configuration change (status bit 0x40 for every master, counter + 1).
  void Changed();
  std::optional<CommandFault> TakeFault(std::uint8_t command);

  std::deque<CommandFault> m_faults;
};

}  // namespace vkr::frame

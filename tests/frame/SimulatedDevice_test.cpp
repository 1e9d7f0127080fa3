// The simulated VKR transmitter: its wire helpers and the byte layout of every command it answers,
// run as one script on one device so that writes show in the reads after them.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "frame/SimulatedDevice.h"

namespace {

using vkr::frame::Bytes;
using vkr::frame::CommandFault;
using vkr::frame::HartReply;
using vkr::frame::SimulatedDevice;
namespace wire = vkr::frame::wire;
namespace hart = vkr::frame::hart;

Bytes Hex(const std::string& text) {
  Bytes bytes;
  EXPECT_TRUE(wire::FromHex(text, &bytes)) << text;
  return bytes;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(SimulatedDeviceWire, HexIsTwoDigitsAByteAndRefusesAnythingElse) {
  EXPECT_EQ(wire::ToHex({0x00, 0x0A, 0xFF, 0x3C}), "000AFF3C");
  EXPECT_EQ(wire::ToHex({0xAB}, true), "ab");
  Bytes out{1};
  EXPECT_TRUE(wire::FromHex("", &out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(wire::FromHex("0aFf", &out));
  EXPECT_EQ(out, (Bytes{0x0A, 0xFF}));
  for (const char* bad : {"0", "ABC", "0G", " 0A", "0x0A", "-1"}) {
    EXPECT_FALSE(wire::FromHex(bad, &out)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

TEST(SimulatedDeviceWire, PackedAsciiPacksFourCharactersIntoThreeBytes) {
  EXPECT_EQ(wire::PackAscii("ABCD", 3), Hex("0420C4"));
  // Padded with blanks, lower case raised, characters outside the set become '?'.
  EXPECT_EQ(wire::PackAscii("AB", 3), wire::PackAscii("AB  ", 3));
  EXPECT_EQ(wire::PackAscii("abcd", 3), Hex("0420C4"));
  EXPECT_EQ(wire::UnpackAscii(wire::PackAscii("a~{", 3)), "A?? ");
  EXPECT_EQ(wire::UnpackAscii(Hex("0420C4")), "ABCD");
  EXPECT_EQ(wire::UnpackAscii(Hex("820820")), "    ");
  // Only whole groups are unpacked: a stray byte or two is ignored.
  EXPECT_EQ(wire::UnpackAscii(Hex("0420C482")), "ABCD");
  const std::string tag = "LT-101_@";
  EXPECT_EQ(wire::UnpackAscii(wire::PackAscii(tag, 6)), tag);
}

TEST(SimulatedDeviceWire, FloatsAreBigEndianIeeeSingles) {
  Bytes b;
  wire::PutFloat(&b, 0, 1.0f);
  wire::PutFloat(&b, 4, -2.5f);
  EXPECT_EQ(wire::ToHex(b), "3F800000C0200000");
  EXPECT_EQ(wire::GetFloat(b, 4), -2.5f);
  EXPECT_EQ(wire::GetFloat(b, 5), 0.0f);  // short: no read past the end
  wire::PutU16(&b, 8, 0x1234);
  EXPECT_EQ(wire::ToHex(b).substr(16), "1234");
}

// A device with round numbers: PV 3 m in a 0..6 m range is 50 % and 12 mA.
SimulatedDevice RoundDevice() {
  SimulatedDevice d;
  d.config.pv = 3.0f;
  d.config.upperRange = 6.0f;
  d.config.lowerRange = 0.0f;
  d.config.qv = 50.0f;
  d.SetMessage("ABCD");
  return d;
}

struct Step {
  int command;
  std::string request;
  std::string response;
  std::uint8_t commandResponse;
};

TEST(SimulatedDevice, AnswersEveryCommandWithItsLayoutAndKeepsWhatIsWritten) {
  SimulatedDevice device = RoundDevice();
  const std::string blanks = Repeat("820820", 7);
  const std::string message = "0420C4" + blanks;
  const std::string newMessage = Repeat("0420C4", 8);
  const std::string tagDescriptorDate = "0420C4820820" + Repeat("0420C4", 4) + "010203";
  const std::string longTag = Repeat("41", 32);
  const Step script[] = {
      // Identity: 254, manufacturer 0x60, device type 0xE6, revisions, device id, counter 0.
      {0, "", "FE60E605070103080001234505040000000060006001", 0},
      {0, "00", "FE60E605070103080001234505040000000060006001", 0},  // read commands ignore data
      {1, "", "2D40400000", 0},
      {2, "", "4140000042480000", 0},
      {3, "", "414000002D404000002D4060000020" "41A800003942480000", 0},
      {7, "", "0001", 0},
      {12, "", message, 0},
      {14, "", "0010012D3E99999A410000003DCCCCCD", 0},  // 0.3 m to 8.0 m, span 0.1 m
      {15, "", "00002D40C00000000000003F000000006000", 0},
      {16, "", "00002A", 0},
      {48, "", Repeat("00", 24), 0},
      {131, "00350002", "03200000", 0},
      {135, "", "03010101000000000000", 0},
      {137, "", "3200" "3E99999A" "00000000", 0},  // analog mode 4 - 20 mA
      // Writes are echoed and read back.
      {6, "0501", "0501", 0},  // a polling address of a multidrop line, the current still signalling
      {7, "", "0501", 0},
      {17, newMessage, newMessage, 0},
      {12, "", newMessage, 0},
      {18, tagDescriptorDate, tagDescriptorDate, 0},
      {13, "", tagDescriptorDate, 0},
      {19, "010203", "010203", 0},
      {16, "", "010203", 0},
      {22, longTag, longTag, 0},
      {20, "", longTag, 0},
      // Command 21 finds the device by its long tag and answers with its identity.
      {21, longTag, "FE60E6050701030800012345050400050000600060" "01", 0},  // 5 changes so far
      {34, "3F800000", "3F800000", 0},
      {35, "2C412000003F800000", "2C412000003F800000", 0},
      {15, "", "00002C41200000" "3F800000" "3F800000" "006000", 0},
      {15, "0060", "00002C41200000" "3F800000" "3F800000" "006000", 0},  // a request is not a write
      {44, "2C", "2C", 0},
      {1, "", "2C411D7AF6", 0},  // the PV converted: 3 m is 9.8425 ft
      {136, "0C0A0A0A0A0340A00000", "0C0A0A0A0A0340A00000", 0},
      {135, "", "0C0A0A0A0A0340A00000", 0},
      {138, "FA0C3F8000003F000000", "FA0C3F8000003F000000", 0},
      {137, "", "FA0C3F8000003F000000", 0},
      // Device memory: a probe fault bit written and read back; the second word reads 0.
      {134, "007C4000", "007C4000", 0},
      {131, "007C0002", "40000000", 0},
      // Fixed current: the answer is the current; 0 leaves the mode.
      {40, "41000000", "41000000", 0},
      {2, "", "41000000", 0},             // 8 mA fixed (the percent is checked below)
      // Trims are taken only while the current is fixed at the end they trim.
      {45, "407F5C29", "", hart::kIncorrectLoopCurrentMode},  // fixed at 8 mA
      {40, "40800000", "40800000", 0},
      {45, "407F5C29", "407F5C29", 0},                          // 3.99 mA read at 4 mA
      {46, "41A00000", "", hart::kIncorrectLoopCurrentMode},
      {40, "41A00000", "41A00000", 0},
      {46, "41A0A3D7", "41A0A3D7", 0},                          // 20.08 mA read at 20 mA
      // With the loop current mode off the current takes no master's level or trim.
      {6, "0500", "0500", 0},
      {40, "00000000", "", hart::kInMultidropMode},
      {45, "407F5C29", "", hart::kInMultidropMode},
      {46, "41A00000", "", hart::kInMultidropMode},
      {41, "", "", 0},
      {42, "", "", 0},
      // Refusals.
      {34, "3F80", "", hart::kTooFewDataBytes},
      {6, "4000", "", hart::kInvalidSelection},
      {6, "0002", "", hart::kInvalidModeSelection},
      {131, "00000000", "", hart::kInvalidSelection},
      {131, "0000007F", "", hart::kInvalidSelection},
      {131, "FFFF0002", "", hart::kInvalidSelection},
      {131, "0035", "", hart::kTooFewDataBytes},
      {38, "FFFF", "", hart::kCounterMismatch},
      {200, "", "", hart::kNotImplemented},
      {5, "", "", hart::kNotImplemented},
  };
  for (const Step& s : script) {
    const std::string where = "command " + std::to_string(s.command) + " request " + s.request;
    HartReply r = device.Execute(static_cast<std::uint8_t>(s.command), Hex(s.request));
    if (s.command == 2 && s.request.empty() && device.config.fixedCurrent != 0.0f) {
      // The percent of range follows the PV (in feet since command 44) in the range 1..10 ft
      // written above.
      ASSERT_GE(r.data.size(), 8u) << where;
      EXPECT_EQ(wire::ToHex(r.data).substr(0, 8), "41000000") << where;
      EXPECT_NEAR(wire::GetFloat(r.data, 4), (3.0f / 0.3048f - 1.0f) / 9.0f * 100.0f, 1e-3) << where;
      continue;
    }
    EXPECT_EQ(wire::ToHex(r.data), s.response) << where;
    EXPECT_EQ(r.commandResponse, s.commandResponse) << where;
    EXPECT_EQ(r.communicationStatus, 0) << where;
  }
  EXPECT_EQ(device.received.size(), std::size(script));
  // Another long tag: the device keeps silent.
  EXPECT_FALSE(device.Execute(21, Bytes(32, 0x42)).answered);
  EXPECT_TRUE(device.Execute(21, Bytes(32, 0x41)).answered);
  EXPECT_EQ(device.Message(), "ABCDABCDABCDABCDABCDABCDABCDABCD");
  EXPECT_EQ(device.Tag(), "ABCD    ");
  EXPECT_EQ(device.config.pollingAddress, 5);
  EXPECT_EQ(device.config.zeroTrim, 3.99f);
  EXPECT_EQ(device.config.gainTrim, 20.08f);
}

TEST(SimulatedDevice, WritesRaiseConfigurationChangedUntilCommand38ResetsItWithTheCounter) {
  SimulatedDevice device;
  EXPECT_EQ(device.Execute(1, {}).deviceStatus, 0);
  EXPECT_EQ(device.Execute(44, {hart::kUnitMeter}).deviceStatus, hart::kStatusConfigChanged);
  EXPECT_EQ(device.Execute(34, Hex("3F800000")).deviceStatus, hart::kStatusConfigChanged);
  // Command 0 carries the counter in bytes 14-15.
  const HartReply identity = device.Execute(0, {});
  ASSERT_EQ(identity.data.size(), 22u);
  EXPECT_EQ(identity.data[14], 0);
  EXPECT_EQ(identity.data[15], 2);
  // A stale counter leaves the flag; the device's counter clears it and is echoed.
  EXPECT_EQ(device.Execute(38, Hex("0001")).commandResponse, hart::kCounterMismatch);
  EXPECT_EQ(device.config.configChanged, (std::array<bool, 2>{true, true}));
  const HartReply reset = device.Execute(38, Hex("0002"));
  EXPECT_EQ(reset.commandResponse, 0);
  EXPECT_EQ(wire::ToHex(reset.data), "0002");
  EXPECT_EQ(reset.deviceStatus, 0);
  // Without a counter (older masters) the flag is reset unconditionally.
  device.Execute(44, {hart::kUnitMeter});
  EXPECT_EQ(device.Execute(38, {}).deviceStatus, 0);
  // Fixed current and more-status-available show in every answer.
  device.config.additionalStatus[0] = 0x02;
  device.Execute(40, Hex("41000000"));
  EXPECT_EQ(device.Execute(48, {}).deviceStatus, hart::kStatusMoreStatus | hart::kStatusCurrentFixed);
}

// A new PV unit (command 44) takes the PV, the range values and the sensor limits with it, each
// from the unit it was in; the loop current, which follows the PV over the range, stays.
TEST(SimulatedDevice, AUnitChangeConvertsWhatTheDeviceReports) {
  SimulatedDevice device = RoundDevice();
  device.config.lowerRange = 0.5f;
  wire::PutFloat(&device.config.echoSettings, 6, -0.05f);  // the offset; the blanking is 0.3 m
  const float current = device.LoopCurrent();
  struct Step {
    std::uint8_t unit;
    float perMetre;
  };
  for (const Step& s : {Step{hart::kUnitFeet, 1.0f / 0.3048f}, Step{hart::kUnitMillimeter, 1000.0f},
                        Step{hart::kUnitMeter, 1.0f}}) {
    SCOPED_TRACE(int(s.unit));
    ASSERT_EQ(device.Execute(44, {s.unit}).commandResponse, 0);
    const HartReply pv = device.Execute(1, {});
    EXPECT_EQ(pv.data[0], s.unit);
    EXPECT_NEAR(wire::GetFloat(pv.data, 1), 3.0f * s.perMetre, 1e-3f * s.perMetre);
    const HartReply range = device.Execute(15, {});
    EXPECT_EQ(range.data[2], s.unit);
    EXPECT_NEAR(wire::GetFloat(range.data, 3), 6.0f * s.perMetre, 1e-3f * s.perMetre);
    EXPECT_NEAR(wire::GetFloat(range.data, 7), 0.5f * s.perMetre, 1e-3f * s.perMetre);
    const HartReply limits = device.Execute(14, {});
    EXPECT_EQ(limits.data[3], s.unit);
    EXPECT_NEAR(wire::GetFloat(limits.data, 4), 0.3f * s.perMetre, 1e-3f * s.perMetre);
    EXPECT_NEAR(wire::GetFloat(limits.data, 8), 8.0f * s.perMetre, 1e-3f * s.perMetre);
    EXPECT_NEAR(wire::GetFloat(limits.data, 12), 0.1f * s.perMetre, 1e-3f * s.perMetre);
    // Blanking and offset are kept in the PV unit.
    const HartReply echo = device.Execute(137, {});
    EXPECT_NEAR(wire::GetFloat(echo.data, 2), 0.3f * s.perMetre, 1e-3f * s.perMetre);
    EXPECT_NEAR(wire::GetFloat(echo.data, 6), -0.05f * s.perMetre, 1e-3f * s.perMetre);
    EXPECT_NEAR(device.LoopCurrent(), current, 1e-4f);
  }
  // Range values written in another unit keep theirs; the PV is compared in it.
  ASSERT_EQ(device.Execute(44, {hart::kUnitFeet}).commandResponse, 0);
  Bytes range{hart::kUnitMeter};
  wire::PutFloat(&range, 1, 5.5f);
  wire::PutFloat(&range, 5, 0.5f);
  ASSERT_EQ(device.Execute(35, range).commandResponse, 0);
  EXPECT_NEAR(device.PercentOfRange(), 50.0f, 1e-3f);
  // A range in a unit that is no length unit keeps its unit and its numbers.
  range[0] = hart::kUnitMilliampere;
  ASSERT_EQ(device.Execute(35, range).commandResponse, 0);
  ASSERT_EQ(device.Execute(44, {hart::kUnitMeter}).commandResponse, 0);
  EXPECT_EQ(device.config.rangeUnit, hart::kUnitMilliampere);
  EXPECT_EQ(device.config.upperRange, 5.5f);
  // No length unit: refused, nothing changes.
  EXPECT_EQ(device.Execute(44, {hart::kUnitPercent}).commandResponse, hart::kInvalidSelection);
  EXPECT_EQ(device.config.pvUnit, hart::kUnitMeter);
}

// The loop current follows the analog mode of the echo settings (the Advanced page's list):
// rising or falling with the level, or parked.
TEST(SimulatedDevice, TheLoopCurrentFollowsTheAnalogMode) {
  SimulatedDevice device = RoundDevice();
  device.config.pv = 4.5f;  // 75 % of 0..6 m
  struct Case {
    std::uint8_t mode;
    float current;
  };
  for (const Case& c : {Case{0, 16.0f}, Case{1, 8.0f}, Case{4, 4.0f}, Case{5, 8.0f}, Case{6, 12.0f}}) {
    SCOPED_TRACE(int(c.mode));
    Bytes settings = device.config.echoSettings;
    settings[1] = c.mode;
    ASSERT_EQ(device.Execute(138, settings).commandResponse, 0);
    const HartReply r = device.Execute(2, {});
    EXPECT_FLOAT_EQ(wire::GetFloat(r.data, 0), c.current);
  }
}

// The device status byte and HART 7's extended device status (command 0 byte 16) follow the
// device's state, each written by the command that makes it. A PV of 3 m in the range is 50 %.
TEST(SimulatedDevice, StatusBitsFollowTheStateAsHartDefinesThem) {
  struct Case {
    const char* state;
    std::vector<std::pair<int, std::string>> commands;  // run in order on a round device
    float pv;
    std::uint8_t status;
    std::uint8_t extended;
    float current;
    std::uint8_t fault = 0;  // command 48's first status byte
  };
  const std::string range5to05 = "2D40B000003F000000";  // metres, 5.5 to 0.5
  const Case cases[] = {
      {"in the range", {}, 3.0f, 0x00, 0x00, 12.0f},
      {"a write", {{34, "3F800000"}}, 3.0f, 0x40, 0x00, 12.0f},
      // Over the range, still short of 20.5 mA: the current follows, nothing to tell.
      {"PV at 102 %", {}, 6.12f, 0x00, 0x00, 20.32f},
      // Beyond the range the current saturates; beyond the sensor (0.3 to 8 m) the PV is out of
      // limits, and the device variable alerts.
      {"PV far above", {}, 9.0f, 0x15, 0x02, 20.5f},
      {"PV far below", {}, -1.0f, 0x15, 0x02, 3.8f},
      {"PV at the sensor's end", {}, 8.0f, 0x04, 0x00, 20.5f},
      // A range change takes the current and the bits with it at once.
      {"range moved away", {{35, "2D40F0000040A00000"}}, 3.0f, 0x44, 0x00, 3.8f},
      {"range moved back", {{35, "2D40F0000040A00000"}, {35, range5to05}}, 3.0f, 0x40, 0x00, 12.0f},
      {"reversed 20 to 4 mA", {{138, "32013E99999A00000000"}}, 9.0f, 0x55, 0x02, 3.5f},
      // The extended status is command 48's byte 6: its change is more status available.
      {"fixed by command 40", {{40, "41000000"}}, 3.0f, 0x18, 0x20, 8.0f},
      {"fixed and acknowledged", {{40, "41000000"}, {48, ""}}, 3.0f, 0x08, 0x20, 8.0f},
      // A fixed current is not saturated, whatever the PV.
      {"fixed, PV out", {{40, "41000000"}}, 9.0f, 0x19, 0x22, 8.0f},
      {"multidrop", {{6, "0500"}}, 3.0f, 0x48, 0x00, 4.0f},
      {"parked at 8 mA", {{138, "32053E99999A00000000"}}, 3.0f, 0x48, 0x00, 8.0f},
      {"a probe fault in command 48", {}, 3.0f, 0x10, 0x01, 12.0f, 0x02},
      {"the fault acknowledged", {{48, ""}}, 3.0f, 0x00, 0x01, 12.0f, 0x02},
      {"acknowledged, then fixed", {{48, ""}, {40, "41000000"}}, 3.0f, 0x18, 0x21, 8.0f, 0x02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    SimulatedDevice device = RoundDevice();
    device.config.pv = c.pv;
    device.config.additionalStatus[0] = c.fault;
    for (const auto& [command, request] : c.commands) {
      Bytes data = Hex(request);
      // Acknowledging sends back the status bytes read.
      if (command == 48) data = device.Execute(48, {}).data;
      ASSERT_EQ(device.Execute(static_cast<std::uint8_t>(command), data).commandResponse, 0) << command;
    }
    const HartReply identity = device.Execute(0, {});
    ASSERT_EQ(identity.data.size(), 22u);
    EXPECT_EQ(int(identity.deviceStatus), int(c.status));
    EXPECT_EQ(int(identity.data[16]), int(c.extended));
    // Command 48 carries the same extended status in its byte 6.
    const HartReply more = device.Execute(48, {});
    ASSERT_EQ(more.data.size(), 24u);
    EXPECT_EQ(int(more.data[6]), int(c.extended));
    EXPECT_EQ(int(more.data[0]), int(c.fault));
    EXPECT_NEAR(device.LoopCurrent(), c.current, 1e-3f);
  }
  EXPECT_EQ(hart::StatusConditions(0xFF),
            "field device malfunction, configuration changed, cold start, more status available, loop current fixed, "
            "loop current saturated, non-primary variable out of limits, primary variable out of limits");
  EXPECT_EQ(hart::StatusConditions(hart::kStatusConfigChanged), "configuration changed");
}

// After a device reset (command 42) the first answer to each master says cold start, once; the
// reset's own answer goes out before it.
TEST(SimulatedDevice, ColdStartIsToldToEachMasterOnceAfterAReset) {
  SimulatedDevice device;
  EXPECT_EQ(device.Execute(0, {}).deviceStatus & hart::kStatusColdStart, 0);
  EXPECT_EQ(device.Execute(42, {}).deviceStatus & hart::kStatusColdStart, 0);
  struct Step {
    bool primary;
    std::uint8_t command;
    bool coldStart;
  };
  for (const Step& s : {Step{true, 1, true}, Step{true, 0, false}, Step{false, 48, true}, Step{false, 1, false},
                        Step{true, 42, false}, Step{false, 3, true}, Step{true, 3, true}, Step{true, 3, false}}) {
    SCOPED_TRACE(std::to_string(s.command) + (s.primary ? " primary" : " secondary"));
    const HartReply r = device.Execute(s.command, {}, s.primary);
    EXPECT_EQ((r.deviceStatus & hart::kStatusColdStart) != 0, s.coldStart);
  }
  // A request the device did not hear leaves it to the next answer.
  ASSERT_EQ(device.Execute(42, {}).commandResponse, 0);
  CommandFault silent;
  silent.silent = true;
  device.InjectFault(silent);
  EXPECT_FALSE(device.Execute(1, {}).answered);
  EXPECT_NE(device.Execute(1, {}).deviceStatus & hart::kStatusColdStart, 0);
}

// The transmitter takes only what it can measure: a range within its sensor (0.3 to 8 m from the
// flange) of at least the minimum span (0.1 m), a blanking up to the probe's end (8 m), an offset
// within 0.5 m, a digitize distance on the probe; all in the unit the write gives. A refusal keeps
// what the device held, byte for byte; the span warning takes the write.
TEST(SimulatedDevice, RefusesRangesBlankingAndOffsetsItCannotMeasure) {
  struct Case {
    const char* what;
    std::uint8_t unit;  // the device's unit (command 44 first)
    int command;
    std::string request;
    int code;
    bool taken;
  };
  const Case cases[] = {
      {"range in the sensor", hart::kUnitMeter, 35, "2D3F00000040F00000", 0, true},
      {"lower beyond the probe", hart::kUnitMeter, 35, "2D3F00000041100000", hart::kLowerRangeTooHigh, false},
      {"lower inside the blanking", hart::kUnitMeter, 35, "2D3F0000003E4CCCCD", hart::kLowerRangeTooLow, false},
      {"upper beyond the probe", hart::kUnitMeter, 35, "2D4110000040F00000", hart::kUpperRangeTooHigh, false},
      {"upper at the flange", hart::kUnitMeter, 35, "2D3DCCCCCD40F00000", hart::kUpperRangeTooLow, false},
      {"upper not a number", hart::kUnitMeter, 35, "2D7FC0000040F00000", hart::kUpperRangeTooHigh, false},
      {"both outside", hart::kUnitMeter, 35, "2D411000003DCCCCCD", hart::kRangeValuesOutOfLimits, false},
      {"no span", hart::kUnitMeter, 35, "2D4000000040000000", hart::kInvalidSpan, false},
      {"span below the minimum", hart::kUnitMeter, 35, "2D4000000040033333", hart::kSpanTooSmall, true},
      {"a unit that is no length: nothing to hold it to", hart::kUnitMeter, 35, "FF4110000040F00000", 0, true},
      {"centimetres in the sensor", hart::kUnitCentimeter, 35, "3042480000443B8000", 0, true},
      {"centimetres beyond", hart::kUnitCentimeter, 35, "304248000044610000", hart::kLowerRangeTooHigh, false},
      {"inches in the sensor", hart::kUnitInch, 35, "2F419D7AF64393A347", 0, true},
      {"inches beyond", hart::kUnitInch, 35, "2F419D7AF643A00000", hart::kLowerRangeTooHigh, false},
      {"blanking and offset at their ends", hart::kUnitMeter, 138, "320040FCCCCDBF000000", 0, true},
      {"blanking beyond the probe", hart::kUnitMeter, 138, "32004110000000000000", hart::kParameterTooLarge, false},
      {"negative blanking", hart::kUnitMeter, 138, "3200BDCCCCCD00000000", hart::kParameterTooSmall, false},
      {"offset too far down", hart::kUnitMeter, 138, "32003E99999A3F19999A", hart::kParameterTooLarge, false},
      {"offset too far up", hart::kUnitMeter, 138, "32003E99999ABF19999A", hart::kParameterTooSmall, false},
      {"millimetres: blanking beyond", hart::kUnitMillimeter, 138, "32004604D00000000000", hart::kParameterTooLarge,
       false},
      {"millimetres: offset within", hart::kUnitMillimeter, 138, "32004396000043C80000", 0, true},
      {"feet: offset within", hart::kUnitFeet, 138, "32003F8000003F800000", 0, true},
      {"digitize beyond the probe", hart::kUnitMeter, 136, "03010101000341100000", hart::kParameterTooLarge, false},
      {"digitize on the probe", hart::kUnitMeter, 136, "03010101000340400000", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedDevice device;
    ASSERT_EQ(device.Execute(44, {c.unit}).commandResponse, 0);
    const SimulatedDevice::Configuration before = device.config;
    const HartReply r = device.Execute(static_cast<std::uint8_t>(c.command), Hex(c.request));
    EXPECT_EQ(int(r.commandResponse), c.code);
    EXPECT_EQ(wire::ToHex(r.data), c.taken ? c.request : "");
    // The settings the command writes, as the matching read gives them.
    const int read = c.command == 35 ? 15 : c.command - 1;
    std::string now = wire::ToHex(device.Execute(static_cast<std::uint8_t>(read), {}).data);
    SimulatedDevice held;
    held.config = before;
    const std::string was = wire::ToHex(held.Execute(static_cast<std::uint8_t>(read), {}).data);
    if (c.command == 35) {
      EXPECT_EQ(now.substr(4, 18), c.taken ? c.request : was.substr(4, 18));
    } else {
      EXPECT_EQ(now, c.taken ? c.request : was);
    }
    EXPECT_EQ(device.config.configChangeCounter, before.configChangeCounter + (c.taken ? 1 : 0));
  }
}

TEST(SimulatedDevice, WriteProtectionRefusesEveryWriteAndChangesNothing) {
  SimulatedDevice device;
  device.config.writeProtect = 1;
  const Bytes before = device.config.message;
  for (int command : {6, 17, 18, 19, 22, 34, 35, 44, 134, 136, 138}) {
    const HartReply r = device.Execute(static_cast<std::uint8_t>(command), Bytes(32, 0x01));
    EXPECT_EQ(r.commandResponse, hart::kWriteProtected) << "command " << command;
    EXPECT_TRUE(r.data.empty()) << "command " << command;
  }
  EXPECT_EQ(device.config.message, before);
  EXPECT_EQ(device.config.pollingAddress, 0);
  EXPECT_EQ(device.config.configChanged, (std::array<bool, 2>{}));
  // Reads still work and show the protection in command 15 byte 15.
  const HartReply r15 = device.Execute(15, {});
  ASSERT_EQ(r15.data.size(), 18u);
  EXPECT_EQ(r15.data[15], 1);
}

TEST(SimulatedDevice, InjectedFaultsChangeTheAnswerOnceOrForEveryCommandTheyName) {
  SimulatedDevice device;
  CommandFault busy;
  busy.command = 12;
  busy.commandResponse = 32;  // busy
  busy.deviceStatus = 0x80;
  device.InjectFault(busy);
  EXPECT_EQ(device.Execute(1, {}).commandResponse, 0);  // another command is not hit
  HartReply r = device.Execute(12, {});
  EXPECT_EQ(r.commandResponse, 32);
  EXPECT_EQ(r.deviceStatus, 0x80);
  EXPECT_EQ(r.data.size(), 24u);
  EXPECT_EQ(device.Execute(12, {}).commandResponse, 0);  // used once

  // A communication error: the device did not run the write, and sends no data.
  CommandFault parity;
  parity.communicationStatus = 0xC0;
  device.InjectFault(parity);
  r = device.Execute(44, {44});
  EXPECT_EQ(r.communicationStatus, 0xC0);
  EXPECT_TRUE(r.data.empty());
  EXPECT_EQ(device.config.pvUnit, hart::kUnitMeter);

  CommandFault shorter;
  shorter.command = 3;
  shorter.truncateTo = 9;
  shorter.persistent = true;
  device.InjectFault(shorter);
  EXPECT_EQ(device.Execute(3, {}).data.size(), 9u);
  EXPECT_EQ(device.Execute(3, {}).data.size(), 9u);
  device.ClearFaults();
  EXPECT_EQ(device.Execute(3, {}).data.size(), 24u);

  CommandFault longer;
  longer.extraData = {0xEE, 0xFF};
  device.InjectFault(longer);
  r = device.Execute(7, {});
  EXPECT_EQ(wire::ToHex(r.data), "0001EEFF");
}

}  // namespace

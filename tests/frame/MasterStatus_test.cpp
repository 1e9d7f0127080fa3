// What the simulated transmitter tells each master in its device status byte, as a HART 7 device
// keeps it for each: cold start in the first answer after a reset, more status available while
// command 48's bytes differ from what that master acknowledged, configuration changed until that
// master's command 38. All of it is the transmitter's memory: a transmitter loaded anew from its
// device file before every command answers as the one that never stopped.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/ProjectFiles.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::Bytes;
using vkr::frame::DeviceFile;
using vkr::frame::HartReply;
using vkr::frame::SimulatedDevice;
namespace wire = vkr::frame::wire;

constexpr bool kP = true, kS = false;  // the primary and the secondary master

// Command 48's 24 status bytes in hex: byte 0 the device's faults, byte 6 the extended status.
std::string Status48(std::uint8_t byte0, std::uint8_t byte6) {
  Bytes b(24, 0);
  b[0] = byte0;
  b[6] = byte6;
  return wire::ToHex(b);
}

struct Step {
  bool primary;
  std::uint8_t command;
  std::string request;  // hex
  std::uint8_t status;  // the device status byte of the answer
  std::string data;     // the answer's data in hex; "*" any
  std::uint8_t code;    // its response code
  // Lines the device file holds after the answer ("name value"); none: the file is byte for byte
  // what it was before the command.
  std::vector<std::string> lines;
};

struct Story {
  const char* what;
  std::vector<std::pair<std::string, std::string>> file;  // lines set in the default file ("": removed)
  std::uint8_t fault;  // command 48's byte 0 for every command, as --additional-status gives it
  std::vector<Step> steps;
};

std::string WithLines(const std::string& file, const std::vector<std::pair<std::string, std::string>>& lines) {
  std::string text = "\n" + file;
  for (const auto& [name, value] : lines) {
    const std::size_t at = text.find("\n" + name + " ");
    EXPECT_NE(at, std::string::npos) << name;
    const std::size_t end = text.find('\n', at + 1);
    text.replace(at + 1, end - at, value.empty() ? "" : name + " " + value + "\n");
  }
  return text.substr(1);
}

std::string LineOf(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + " ", 0) == 0) return line;
  return "";
}

// The transmitter of one command: loaded from its device file, which takes its memory before each
// answer, as the frame host keeps it.
struct Transmitter {
  explicit Transmitter(const std::string& path) : file(path) {
    std::string why;
    EXPECT_TRUE(file.Load(&device, &why)) << why;
    device.keepMemory = [this] {
      std::string problem;
      const bool kept = file.Save(device, &problem);
      EXPECT_TRUE(kept) << problem;
      return kept;
    };
  }
  DeviceFile file;
  SimulatedDevice device;
};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(MasterStatus, EachMasterIsToldWhatItHasNotYetLearnedAndTheDeviceFileKeepsIt) {
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  const std::string limit3m = Status48(0, 0x02), fixed = Status48(0, 0x20), probe = Status48(0x02, 0x01);
  const std::string zeros = Status48(0, 0);
  const Story stories[] = {
      {"a reset: each master's first answer after it, whenever it comes",
       {},
       0,
       {
           // The reset's own answer goes out before the restart.
           {kP, 42, "", 0x00, "", 0, {"coldStart 01"}},
           {kP, 1, "", 0x20, "*", 0, {"coldStart 0001"}},
           {kP, 1, "", 0x00, "*", 0, {}},
           {kS, 0, "", 0x20, "*", 0, {"coldStart 00"}},
           {kS, 0, "", 0x00, "*", 0, {}},
       }},
      {"a reset the secondary hears of first, and a second reset",
       {},
       0,
       {
           {kS, 42, "", 0x00, "", 0, {"coldStart 01"}},
           {kS, 48, "", 0x20, zeros, 0, {"coldStart 0100"}},
           {kP, 42, "", 0x20, "", 0, {"coldStart 01"}},
           {kS, 3, "", 0x20, "*", 0, {"coldStart 0100"}},
           {kP, 3, "", 0x20, "*", 0, {"coldStart 00"}},
           {kP, 3, "", 0x00, "*", 0, {}},
       }},
      // The level (2.5 m) lies above the upper sensor limit of 3.0 m: the device variable alerts
      // in byte 6, which no master has acknowledged yet.
      {"the level beyond the sensor's limit",
       {{"upperSensorLimit", "40400000"}},
       0,
       {
           {kP, 48, "", 0x11, limit3m, 0, {}},
           // An acknowledgement without byte 6 is not the status: it acknowledges nothing.
           {kP, 48, zeros, 0x11, limit3m, 14, {}},
           {kP, 48, limit3m, 0x01, limit3m, 0, {"acknowledgedStatus " + limit3m + zeros}},
           {kP, 1, "", 0x01, "*", 0, {}},
           {kS, 1, "", 0x11, "*", 0, {}},
           {kS, 48, limit3m, 0x01, limit3m, 0, {"acknowledgedStatus " + limit3m}},
           {kS, 0, "", 0x01, "*", 0, {}},
       }},
      {"the current fixed by command 40, and freed again",
       {},
       0,
       {
           {kP, 40, "41400000", 0x18, "41400000", 0, {"fixedCurrent 41400000", "acknowledgedStatus " + zeros}},
           {kP, 48, fixed, 0x08, fixed, 0, {"acknowledgedStatus " + fixed + zeros}},
           {kS, 2, "", 0x18, "*", 0, {}},
           // Freed, the status is again what the secondary last saw, and no longer the primary's.
           {kP, 40, "00000000", 0x10, "*", 0, {"fixedCurrent 00000000", "acknowledgedStatus " + fixed + zeros}},
           {kS, 2, "", 0x00, "*", 0, {}},
       }},
      {"a probe fault reported in command 48's first byte",
       {},
       0x02,
       {
           {kS, 48, "", 0x10, probe, 0, {}},
           {kS, 48, probe, 0x00, probe, 0, {"acknowledgedStatus " + zeros + probe}},
           {kS, 1, "", 0x00, "*", 0, {}},
           {kP, 1, "", 0x10, "*", 0, {}},
       }},
      {"a change each master resets for itself",
       {},
       0,
       {
           {kP, 34, "3F800000", 0x40, "3F800000", 0, {"configChanged 01", "configChangeCounter 0001"}},
           {kP, 38, "0001", 0x00, "0001", 0, {"configChanged 0001"}},
           {kS, 1, "", 0x40, "*", 0, {}},
           {kP, 1, "", 0x00, "*", 0, {}},
           // A stale counter resets nothing.
           {kS, 38, "0000", 0x40, "", 9, {}},
           {kS, 38, "0001", 0x00, "0001", 0, {"configChanged 00"}},
           {kS, 34, "3F000000", 0x40, "3F000000", 0, {"configChanged 01", "configChangeCounter 0002"}},
           {kP, 38, "", 0x00, "0002", 0, {"configChanged 0001"}},
           {kS, 0, "", 0x40, "*", 0, {}},
       }},
      // A file written before the status was kept for each master: one flag for both, no reset
      // pending, nothing acknowledged. Reads leave it as it is.
      {"a file written before",
       {{"configChanged", "01"}, {"coldStart", ""}, {"acknowledgedStatus", ""}},
       0,
       {
           {kS, 1, "", 0x40, "*", 0, {}},
           {kP, 1, "", 0x40, "*", 0, {}},
           {kP, 48, "", 0x40, zeros, 0, {}},
           {kP, 38, "0000", 0x00, "0000", 0, {"configChanged 0001"}},
           {kS, 0, "", 0x40, "*", 0, {}},
       }},
  };
  const std::string path = "C:\\VKR\\t.device", onDisk = drives / "c/VKR/t.device";
  std::filesystem::create_directories(drives / "c/VKR");
  for (const Story& story : stories) {
    // Once as one command, once as a command each: the same answers, the same file.
    std::string files[2];
    for (const bool reload : {false, true}) {
      SCOPED_TRACE(std::string(story.what) + (reload ? ", loaded anew for every command" : ", in one command"));
      std::ofstream(onDisk, std::ios::binary | std::ios::trunc)
          << WithLines(vkr::frame::DeviceFileText(SimulatedDevice().config), story.file);
      auto transmitter = std::make_unique<Transmitter>(path);
      for (std::size_t i = 0; i < story.steps.size(); ++i) {
        const Step& s = story.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1) + ": command " + std::to_string(s.command) +
                     (s.primary ? " of the primary" : " of the secondary"));
        if (reload && i > 0) transmitter = std::make_unique<Transmitter>(path);
        const std::string before = Read(onDisk);
        Bytes request;
        ASSERT_TRUE(wire::FromHex(s.request, &request));
        transmitter->device.config.additionalStatus[0] = story.fault;
        const HartReply r = transmitter->device.Execute(s.command, request, s.primary);
        EXPECT_EQ(int(r.commandResponse), int(s.code));
        EXPECT_EQ(int(r.deviceStatus), int(s.status));
        if (s.data != "*") {
          EXPECT_EQ(wire::ToHex(r.data), s.data);
        }
        const std::string after = Read(onDisk);
        if (s.lines.empty()) {
          EXPECT_EQ(after, before) << "a command that changed nothing rewrote the file";
        }
        for (const std::string& line : s.lines)
          EXPECT_EQ(LineOf(after, line.substr(0, line.find(' '))), line);
      }
      files[reload ? 1 : 0] = Read(onDisk);
    }
    EXPECT_EQ(files[1], files[0]) << story.what;
  }
}

}  // namespace

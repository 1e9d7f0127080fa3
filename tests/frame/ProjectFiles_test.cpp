// The device file's text: what the simulated transmitter holds is written as one "name hex" line a
// setting and read back as it was; a damaged file is refused naming its line and changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "frame/ProjectFiles.h"

namespace {

using vkr::frame::DeviceFileText;
using vkr::frame::DeviceFileTextLike;
using vkr::frame::ParseDeviceFile;
using vkr::frame::SimulatedDevice;
using Configuration = SimulatedDevice::Configuration;
namespace hart = vkr::frame::hart;

// A transmitter whose every kept setting differs from the default one's.
Configuration Distinct() {
  SimulatedDevice device;
  Configuration& c = device.config;
  device.SetMessage("DISTINCT");
  device.SetTagAndDescriptor("LT-7", "NORTH SILO");
  c.alarmSelect = 1;
  c.configChangeCounter = 0x0102;
  // What each master is told apart: the secondary has not reset the change, the primary has not
  // yet heard of a reset, and each acknowledged another status.
  c.configChanged = {false, true};
  c.coldStart = {true, false};
  c.acknowledgedStatus[SimulatedDevice::kPrimary][0] = 0x02;
  c.acknowledgedStatus[SimulatedDevice::kSecondary][6] = 0x20;
  c.damping = 1.5f;
  c.displaySettings = {5, 3, 4, 3, 42, 1, 0x3F, 0x40, 0, 0};
  c.echoSettings = {25, 5, 0x3E, 0xAA, 0x7E, 0xFA, 0x3E, 0, 0, 0};
  c.finalAssembly = {1, 2, 3};
  c.fixedCurrent = 12.0f;
  c.zeroTrim = 3.95f;
  c.gainTrim = 20.05f;
  c.limitsUnit = hart::kUnitMillimeter;
  c.upperSensorLimit = 300.0f;
  c.lowerSensorLimit = 8000.0f;
  c.minimumSpan = 100.0f;
  c.loopCurrentMode = 0;
  c.longTag = vkr::frame::Bytes(32, 'L');
  c.lowerRange = 7000.0f;
  c.upperRange = 60.0f;
  c.memory[0x007C] = 0x4000;
  c.pollingAddress = 7;
  c.pvUnit = hart::kUnitMillimeter;
  c.rangeUnit = hart::kUnitCentimeter;
  c.transferFunction = 1;
  c.writeProtect = 1;
  return c;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& lines, const char* end = "\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

// The text with the line of `name` replaced (by nothing: removed).
std::string Replace(const std::string& text, const std::string& name, const std::string& line) {
  std::vector<std::string> lines = Lines(text);
  for (std::string& l : lines)
    if (l.rfind(name + " ", 0) == 0) l = line;
  lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
  return Join(lines);
}

// A setting the transmitter changed goes into its line where the file has it: the file keeps its
// order, its line ends and its blank lines, and takes a line it lacked at its end only when that
// setting changed; read back, it holds the transmitter's memory.
TEST(DeviceFile, AChangedSettingTakesItsLineInTheFilesOwnForm) {
  const std::string plain = DeviceFileText(SimulatedDevice().config);
  Configuration changed = SimulatedDevice().config;
  changed.damping = 2.5f;
  changed.configChangeCounter = 1;
  Configuration trimmed = changed;
  trimmed.zeroTrim = 4.0f;
  std::vector<std::string> reversed = Lines(plain);
  std::reverse(reversed.begin(), reversed.end());
  std::string older = plain;
  for (const char* name : {"memory", "zeroTrim"}) older = Replace(older, name, "");
  struct Case {
    const char* what;
    std::string shape;
    std::string want;
    const Configuration* now = nullptr;  // the changed transmitter when not `changed`
  };
  const Case cases[] = {
      {"the usual form", plain,
       Replace(Replace(plain, "damping", "damping 40200000"), "configChangeCounter", "configChangeCounter 0001")},
      {"CRLF, another order, a blank line", Join(reversed, "\r\n") + "\r\n",
       Join(Lines(Replace(Replace(Join(reversed), "damping", "damping 40200000"), "configChangeCounter",
                          "configChangeCounter 0001")),
            "\r\n") +
           "\r\n"},
      {"the last line without its end", plain.substr(0, plain.size() - 1),
       Replace(Replace(plain, "damping", "damping 40200000"), "configChangeCounter", "configChangeCounter 0001")
           .substr(0, plain.size() - 1)},
      {"lines it lacked, their settings as they were", older,
       Replace(Replace(older, "damping", "damping 40200000"), "configChangeCounter", "configChangeCounter 0001")},
      {"a line it lacked, its setting changed", older,
       Replace(Replace(older, "damping", "damping 40200000"), "configChangeCounter", "configChangeCounter 0001") +
           "zeroTrim 40800000\n",
       &trimmed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Configuration& now = c.now ? *c.now : changed;
    const std::string text = DeviceFileTextLike(now, c.shape, plain);
    EXPECT_EQ(text, c.want);
    SimulatedDevice device;
    std::string why;
    ASSERT_TRUE(ParseDeviceFile(text, &device.config, &why)) << why;
    EXPECT_EQ(DeviceFileText(device.config), DeviceFileText(now));
  }
}

TEST(DeviceFile, ReadsBackWhatItHoldsAndRefusesADamagedFileNamingItsLine) {
  const std::string distinct = DeviceFileText(Distinct());
  const std::string plain = DeviceFileText(SimulatedDevice().config);
  std::vector<std::string> reversed = Lines(distinct);
  std::reverse(reversed.begin(), reversed.end());
  // The lines an older version did not keep: files written then load with the default's.
  std::string older = distinct;
  for (const char* name : {"fixedCurrent", "gainTrim", "zeroTrim", "limitsUnit", "lowerSensorLimit", "upperSensorLimit",
                           "minimumSpan", "memory", "coldStart", "acknowledgedStatus"})
    older = Replace(older, name, "");
  struct Case {
    const char* what;
    std::string text;
    std::string why;  // "" for a file that loads
    std::function<void(const Configuration&)> check = [](const Configuration&) {};
  };
  const Case cases[] = {
      {"every setting apart", distinct, "",
       [&](const Configuration& c) { EXPECT_EQ(DeviceFileText(c), distinct); }},
      // An untrimmed transmitter keeps no trims: an empty value, never a trim of 0 mA.
      {"untrimmed", plain, "",
       [&](const Configuration& c) {
         EXPECT_FALSE(c.zeroTrim);
         EXPECT_FALSE(c.gainTrim);
         EXPECT_NE(plain.find("\nzeroTrim \n"), std::string::npos) << plain;
         EXPECT_EQ(DeviceFileText(c), plain);
       }},
      {"a trim of 0 mA", Replace(plain, "zeroTrim", "zeroTrim 00000000"), "",
       [](const Configuration& c) { EXPECT_EQ(c.zeroTrim, 0.0f); }},
      {"CRLF, the lines in another order, blank lines", Join(reversed, "\r\n") + "\r\n  \r\n", "",
       [&](const Configuration& c) { EXPECT_EQ(DeviceFileText(c), distinct); }},
      {"written before the later lines", older, "",
       [&](const Configuration& c) {
         EXPECT_EQ(c.fixedCurrent, 0.0f);
         EXPECT_FALSE(c.zeroTrim);
         EXPECT_EQ(c.limitsUnit, hart::kUnitMeter);
         EXPECT_EQ(c.memory, SimulatedDevice().config.memory);
         EXPECT_EQ(c.coldStart, (std::array<bool, 2>{}));
         EXPECT_EQ(c.acknowledgedStatus, SimulatedDevice().config.acknowledgedStatus);
         EXPECT_EQ(c.pollingAddress, 7);
       }},
      // Its one flag was both masters' flag.
      {"one configuration-changed flag", Replace(distinct, "configChanged", "configChanged 01"), "",
       [](const Configuration& c) { EXPECT_EQ(c.configChanged, (std::array<bool, 2>{true, true})); }},
      // The level is measured, not kept: the same 2.5 m in the file's PV unit.
      {"the level in millimetres", distinct, "", [](const Configuration& c) { EXPECT_FLOAT_EQ(c.pv, 2500.0f); }},
      {"a line missing", Replace(distinct, "message", ""), "no line \"message\""},
      {"a line twice", distinct + "pvUnit 2D\n", "\"pvUnit\" twice"},
      {"an unknown line", distinct + "dampening 00\n", "a line \"dampening\" it does not keep"},
      {"a line that starts with a space", Replace(distinct, "damping", " damping 3FC00000"),
       "a line \" damping 3FC00000\" it does not keep"},
      {"not hex", Replace(distinct, "damping", "damping 3F00000G"), "\"damping\" is not hex"},
      {"an odd digit", Replace(distinct, "damping", "damping 3F00000"), "\"damping\" is not hex"},
      {"too short", Replace(distinct, "damping", "damping 3F0000"), "\"damping\" holds 3 bytes, not 4"},
      {"no value", Replace(distinct, "damping", "damping"), "\"damping\" holds 0 bytes, not 4"},
      {"a byte too long", Replace(distinct, "pvUnit", "pvUnit 2C2C"), "\"pvUnit\" holds 2 bytes, not 1"},
      {"a trim cut", Replace(distinct, "zeroTrim", "zeroTrim 41"), "\"zeroTrim\" holds 1 bytes, not 0 or 4"},
      {"a flag for three masters", Replace(distinct, "coldStart", "coldStart 010001"),
       "\"coldStart\" holds 3 bytes, not 1 or 2"},
      {"a status byte short", Replace(distinct, "acknowledgedStatus", "acknowledgedStatus " + std::string(94, '0')),
       "\"acknowledgedStatus\" holds 47 bytes, not 24 or 48"},
      {"a memory word cut", Replace(distinct, "memory", "memory 007C4000003"), "\"memory\" is not hex"},
      {"half a memory word", Replace(distinct, "memory", "memory 007C40000035"),
       "\"memory\" holds 6 bytes, not a multiple of 4"},
      {"memory out of order", Replace(distinct, "memory", "memory 007C400000350320"),
       "\"memory\" does not hold its words in rising address order"},
      {"a memory word twice", Replace(distinct, "memory", "memory 007C4000007C0000"),
       "\"memory\" does not hold its words in rising address order"},
      {"nothing", "", "no line \"alarmSelect\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedDevice device;
    const std::string before = DeviceFileText(device.config);
    std::string why;
    EXPECT_EQ(ParseDeviceFile(c.text, &device.config, &why), c.why.empty()) << why;
    EXPECT_EQ(why, c.why);
    if (c.why.empty())
      c.check(device.config);
    else
      EXPECT_EQ(DeviceFileText(device.config), before) << "a damaged file changed the device";
  }
}

}  // namespace

// The record of the last comparison: every way a record can be damaged (each cut, each byte with
// each of its bits flipped or made 00 or FF, data appended) is found, and so is a record without
// its check; the unknown record needs none. Counted, so that no road is left out unseen.
TEST(Record, EveryCutFlipAndAppendOfARecordIsFound) {
  using vkr::frame::RecordForm;
  // A record as an upload writes it: the verdict, the tag's name and value in hex, the CRC-32 of
  // these lines (the IEEE polynomial, as the project's container carries it).
  const std::string lines = "verdict uploaded\nvalue 546167 564B52205365726965732044544D\n";
  const std::string record = vkr::frame::CheckedRecord(lines);
  ASSERT_EQ(record, lines + "check FB5BAA4F\n");
  std::string read;
  ASSERT_EQ(vkr::frame::ReadRecordForm(record, &read), RecordForm::Checked);
  EXPECT_EQ(read, lines);
  EXPECT_EQ(vkr::frame::ReadRecordForm("verdict none\n", &read), RecordForm::Unknown);
  // An earlier version's record: its lines without the check.
  EXPECT_EQ(vkr::frame::ReadRecordForm(lines, &read), RecordForm::Unchecked);

  // Whether a damaged text is taken for what it is not: only the unknown record and a checked
  // record claim anything, and neither may come out of damage.
  int cuts = 0, flips = 0, appended = 0;
  auto judge = [&](const std::string& text, const std::string& what) {
    const RecordForm form = vkr::frame::ReadRecordForm(text, &read);
    EXPECT_TRUE(form == RecordForm::Damaged || form == RecordForm::Unchecked) << what;
    EXPECT_TRUE(read.empty()) << what;
  };
  for (const std::string& whole : {record, std::string("verdict none\n")}) {
    for (std::size_t length = 0; length < whole.size(); ++length, ++cuts)
      judge(whole.substr(0, length), "cut to " + std::to_string(length));
    for (std::size_t at = 0; at < whole.size(); ++at) {
      std::vector<char> changes;
      for (int bit = 0; bit < 8; ++bit) changes.push_back(static_cast<char>(whole[at] ^ (1 << bit)));
      for (char byte : {'\x00', '\xFF'})
        if (whole[at] != byte) changes.push_back(byte);
      for (char changed : changes) {
        std::string text = whole;
        text[at] = changed;
        judge(text, "byte " + std::to_string(at) + " made " + std::to_string(static_cast<unsigned char>(changed)));
        ++flips;
      }
    }
    for (const std::string& more : {std::string("\n"), std::string("x"), std::string("value 00 00\n"),
                                    std::string("check FB5BAA4F\n"), whole}) {
      judge(whole + more, "appended " + more);
      ++appended;
    }
  }
  // A cut only at a line's end before the check reads as a record without one: not compared, and
  // named so.
  EXPECT_EQ(vkr::frame::ReadRecordForm(record.substr(0, lines.size()), &read), RecordForm::Unchecked);
  // 74 and 13 bytes: each cut, ten changes of each byte, five appendings.
  EXPECT_EQ(cuts, 74 + 13);
  EXPECT_EQ(flips, (74 + 13) * 10);
  EXPECT_EQ(appended, 10);
}

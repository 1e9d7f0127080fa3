// The offline parameter control online, end to end: the module's DTM on the frame's channel to the
// simulated transmitter, the control opened by the frame, every field typed to a value of its own,
// then OK or Apply and the download question answered. Judged by what the user is told, whether
// the control stays open, its changed marks and Apply, and the transmitter's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/FrameDocuments.h"
#include "frame/FrameHost.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OfflineParam.h"

namespace {

using namespace vkr::dui;
using vkr::frame::Bytes;
using Config = vkr::frame::SimulatedDevice::Configuration;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;
namespace wire = vkr::frame::wire;
namespace hart = vkr::frame::hart;

enum class Kind { None, Refused, Silent, Busy, Lost, LinkGone };
const char* Name(Kind k) {
  const char* names[] = {"none", "refused", "silent", "busy", "lost", "linkgone"};
  return names[static_cast<int>(k)];
}

// The bytes of what one download command writes, as the transmitter holds them.
Bytes Group(const Config& c, int command) {
  Bytes b;
  auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) {
      Bytes four(4);
      wire::PutFloat(&four, 0, v);
      b.insert(b.end(), four.begin(), four.end());
    }
  };
  switch (command) {
    case 17: return c.message;
    case 18: return c.tagDescriptorDate;
    case 22: return c.longTag;
    case 34: floats({c.damping}); return b;
    case 35:
      b.push_back(c.rangeUnit);
      floats({c.upperRange, c.lowerRange});
      return b;
    case 44: return Bytes{c.pvUnit};
    case 136: return c.displaySettings;
    case 138: return c.echoSettings;
    default: return b;
  }
}
constexpr int kWritten[] = {17, 18, 22, 34, 35, 44, 136, 138};
// The control's entry whose mark tells whether the device holds the command's group (the unit was
// not typed: the range, typed, stands for it).
LONG MarkOf(int command) {
  switch (command) {
    case 17: return kParMessageText;
    case 18: return kParTagText;
    case 22: return kParLongTag2;
    case 34: return kParDampingOffline;
    case 136: return kParDisplayModeOffline;
    case 138: return kParSensitivityOffline;
    default: return kParUpperRangeOffline;
  }
}

// The transmitter's unit, and Hi and Low Level typed in it (in the transmitter's reach).
struct SUnit {
  BYTE code;
  float hi, low;
};
constexpr SUnit kMetres{hart::kUnitMeter, 1.25f, 6.5f};
constexpr SUnit kUnits[] = {kMetres,
                            {hart::kUnitFeet, 4.25f, 21.5f},
                            {hart::kUnitCentimeter, 125.0f, 650.0f},
                            {hart::kUnitMillimeter, 1250.0f, 6500.0f},
                            {hart::kUnitInch, 49.25f, 255.5f}};
Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct SRow {
  const char* what;
  SUnit unit;
  int button;          // IDOK or Apply (102)
  const char* answer;  // to the download question
  Kind fault;
  int command;  // the command the fault hits
};
std::string RowName(const testing::TestParamInfo<SRow>& info) { return info.param.what; }
void PrintTo(const SRow& row, std::ostream* out) { *out << row.what; }

std::vector<SRow> Rows() {
  std::vector<SRow> rows = {
      {"ok_yes_m", kMetres, IDOK, "buttonYes", Kind::None, 0},
      {"ok_yes_ft", kUnits[1], IDOK, "buttonYes", Kind::None, 0},
      {"ok_yes_cm", kUnits[2], IDOK, "buttonYes", Kind::None, 0},
      {"ok_yes_mm", kUnits[3], IDOK, "buttonYes", Kind::None, 0},
      {"ok_yes_in", kUnits[4], IDOK, "buttonYes", Kind::None, 0},
      {"apply_yes", kMetres, 102, "buttonYes", Kind::None, 0},
      {"ok_no", kMetres, IDOK, "buttonNo", Kind::None, 0},
      {"ok_cancel", kMetres, IDOK, "buttonCancel", Kind::None, 0},
      {"apply_cancel", kMetres, 102, "buttonCancel", Kind::None, 0},
      {"apply_yes_refused_35_ft", kUnits[1], 102, "buttonYes", Kind::Refused, 35},
  };
  static std::vector<std::string> names;
  for (Kind k : {Kind::Refused, Kind::Silent, Kind::Busy, Kind::Lost, Kind::LinkGone})
    for (int command : kWritten) names.push_back(std::string("ok_yes_") + Name(k) + "_" + std::to_string(command));
  std::size_t n = 0;
  for (Kind k : {Kind::Refused, Kind::Silent, Kind::Busy, Kind::Lost, Kind::LinkGone})
    for (int command : kWritten) rows.push_back({names[n++].c_str(), kMetres, IDOK, "buttonYes", k, command});
  return rows;
}

class OfflineParamDownload : public vkr::test::LivePageHostTest, public testing::WithParamInterface<SRow> {
 protected:
  void SetUp() override {
    const SUnit& unit = GetParam().unit;
    Config& c = device_->config;
    if (unit.code != hart::kUnitMeter) {
      // The transmitter's own range, in its unit.
      const float perMetre = unit.hi / kMetres.hi;
      c.pvUnit = c.rangeUnit = c.svUnit = unit.code;
      c.upperRange *= perMetre;
      c.lowerRange *= perMetre;
    }
    ASSERT_NO_FATAL_FAILURE(StartSession());
    bool uploaded = false;
    ASSERT_EQ(session_->Upload(&uploaded), S_OK);
    ASSERT_TRUE(uploaded);
    VARIANT_BOOL opened = VARIANT_FALSE;
    ASSERT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), vkr::Bstr(vkr::frame::FunctionCallDocument(5)),
                                                    &opened),
              S_OK);
    ASSERT_EQ(opened, VARIANT_TRUE);
    vkr::ui::PumpUntilIdle();
    const auto& open = session_->Frame()->activeX.OpenControls().back();
    window_ = GetParent(vkr::test::FindItem(open.window, kOfflineHiLevelEdit));
    invokeId_ = open.invokeId;
    vkr::ComPtr<IDtmActiveXControl> control;
    open.control->QueryInterface(IDtmActiveXControl::iid, control.PutVoid());
    control_ = dynamic_cast<COfflineParam*>(control.Get());
    ASSERT_NE(control_, nullptr);
  }
  void TearDown() override {
    session_->Frame()->questionAnswers.clear();
    session_->Frame()->answersChangeNothing = true;
    session_->Frame()->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    LivePageHostTest::TearDown();
  }
  bool IsOpen() const {
    for (const auto& open : session_->Frame()->activeX.OpenControls())
      if (open.invokeId == invokeId_) return true;
    return false;
  }
  HWND Item(int id) const { return vkr::test::FindItem(window_, id); }
  std::string Text(int id) const { return vkr::ui::WindowText(Item(id)); }
  void Enter(int id, const std::string& text) {
    HWND item = Item(id);
    if (vkr::ui::SelectItem(item, text)) return;
    ASSERT_TRUE(vkr::ui::Click(item));
    SendMessageA(item, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(item, text));
    vkr::ui::PumpUntilIdle();
  }
  bool Marked(LONG id) const {
    const LONG index = control_->FindParameterIndex(id);
    return index >= 0 && (control_->ParameterTable()[index].m_nState & kStateChanged) != 0;
  }
  std::vector<std::string> Told(std::size_t from) const {
    const auto& all = session_->Frame()->userMessages;
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
  }

  HWND window_ = nullptr;
  std::string invokeId_;
  COfflineParam* control_ = nullptr;
};

// Every field a value of its own, then the button and the answer. Yes downloads the data set and
// waits for it: the device holds every value, or, when a command the download writes fails (any
// way a write can fail), the user is told, the control stays open with its entries marked changed
// and Apply enabled, and the transmitter keeps that command's bytes as they were. No closes with
// the device untouched; Cancel stays with the device untouched and the marks kept.
TEST_P(OfflineParamDownload, TheDeviceHoldsTheDataSetOrTheUserIsTold) {
  const SRow& row = GetParam();
  const SUnit& unit = row.unit;
  char hi[32], low[32];
  std::snprintf(hi, sizeof hi, "%.3f", static_cast<double>(unit.hi));
  std::snprintf(low, sizeof low, "%.3f", static_cast<double>(unit.low));
  const std::pair<int, std::string> typed[] = {{kOfflineHiLevelEdit, hi},
                                               {kOfflineLowLevelEdit, low},
                                               {kOfflineDampingEdit, "2.5"},
                                               {kOfflineDisplayModeCombo, "Distance"},
                                               {kOfflineTrackingCombo, "Fast"},
                                               {kOfflineDielectricCombo, " < 20"},
                                               {kOfflineFailModeCombo, "4.00 mA"},
                                               {kOfflineFailTimeEdit, "42"},
                                               {kOfflineSensitivityEdit, "10.0"},
                                               {kOfflineAnalogModeCombo, "Park 8 mA"},
                                               {kOfflineTagEdit, "NEWTAG"},
                                               {kOfflineDescriptorEdit, "NORTH SILO"},
                                               {kOfflineMessageEdit, "KEEP DRY"},
                                               {kOfflineLongTagEdit, "TANK SEVEN"},
                                               {kOfflineDayEdit, "17"},
                                               {kOfflineMonthEdit, "9"},
                                               {kOfflineYearEdit, "2031"}};
  for (const auto& [id, text] : typed) ASSERT_NO_FATAL_FAILURE(Enter(id, text)) << id;
  const Config before = device_->config;
  if (row.fault == Kind::Silent) {
    vkr::frame::CommandFault silent;
    silent.command = row.command;
    silent.silent = true;
    device_->InjectFault(silent);
  } else if (row.fault != Kind::None) {
    Fault fault;
    fault.command = row.command;
    fault.kind = row.fault == Kind::Refused ? FaultKind::Refuse
                 : row.fault == Kind::Busy  ? FaultKind::Busy
                 : row.fault == Kind::Lost  ? FaultKind::CommunicationError
                                            : FaultKind::Disconnect;
    session_->Channel()->faults.push_back(fault);
  }
  const std::size_t told = session_->Frame()->userMessages.size();
  session_->Frame()->questionAnswers = {row.answer};
  const std::size_t received = device_->received.size();
  ASSERT_TRUE(vkr::ui::Click(Item(row.button)));
  WaitFor([&] { return !IsOpen(); }, 1500);

  const Config& after = device_->config;
  const std::vector<std::string> messages = Told(told);
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages[0].find("store the changes to the device? -> " + std::string(row.answer)), std::string::npos)
      << messages[0];
  const bool yes = std::string(row.answer) == "buttonYes";
  if (yes && row.fault == Kind::None) {
    // Every command of the download reached the transmitter, and it holds every value typed.
    std::vector<int> sent;
    for (std::size_t i = received; i < device_->received.size(); ++i) sent.push_back(device_->received[i].command);
    std::string list;
    for (int command : sent) list += " " + std::to_string(command);
    for (int command : kWritten)
      EXPECT_NE(std::find(sent.begin(), sent.end(), command), sent.end()) << "command " << command << " not in" << list;
    EXPECT_EQ(messages.size(), 1u) << messages.back();
    EXPECT_EQ(IsOpen(), row.button != IDOK);
    EXPECT_EQ(after.upperRange, unit.hi);
    EXPECT_EQ(after.lowerRange, unit.low);
    EXPECT_EQ(after.rangeUnit, unit.code);
    EXPECT_EQ(after.damping, 2.5f);
    EXPECT_EQ(Bytes(after.tagDescriptorDate.begin(), after.tagDescriptorDate.begin() + 18),
              Joined(wire::PackAscii("NEWTAG", 6), wire::PackAscii("NORTH SILO", 12)));
    EXPECT_EQ(Bytes(after.tagDescriptorDate.begin() + 18, after.tagDescriptorDate.end()), (Bytes{17, 9, 131}));
    EXPECT_EQ(after.message, wire::PackAscii("KEEP DRY", 24));
    EXPECT_EQ(std::string(after.longTag.begin(), after.longTag.begin() + 10), "TANK SEVEN");
    EXPECT_EQ(Bytes(after.displaySettings.begin(), after.displaySettings.begin() + 5), (Bytes{5, 2, 3, 4, 42}));
    EXPECT_EQ(Bytes(after.echoSettings.begin(), after.echoSettings.begin() + 2), (Bytes{25, 5}));
    if (IsOpen()) {
      EXPECT_FALSE(Marked(kParUpperRangeOffline));
      EXPECT_FALSE(IsWindowEnabled(Item(102)));
    }
    return;
  }
  // The device holds less than the data set: the control stays, nothing looks written.
  if (row.button == IDOK) {
    EXPECT_EQ(IsOpen(), std::string(row.answer) != "buttonNo");
  }
  if (!yes) {
    EXPECT_EQ(messages.size(), 1u) << messages.back();
    for (int command : kWritten) EXPECT_EQ(Group(after, command), Group(before, command)) << command;
    if (IsOpen()) {
      EXPECT_TRUE(Marked(kParUpperRangeOffline));
      EXPECT_TRUE(IsWindowEnabled(Item(102)));
    }
    return;
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].find("The download did not go through: "), std::string::npos) << messages[1];
  // What the notice says the device now holds, held against the transmitter: the download stops
  // at the failing command, so every other command it sent was one the device took.
  bool wroteAny = false;
  for (std::size_t i = received; i < device_->received.size(); ++i) {
    const int command = device_->received[i].command;
    if (command != row.command && std::find(std::begin(kWritten), std::end(kWritten), command) != std::end(kWritten))
      wroteAny = true;
  }
  EXPECT_EQ(messages[1].find("The device was not changed") != std::string::npos, !wroteAny) << messages[1];
  EXPECT_EQ(messages[1].find("The device now holds what the download wrote before it stopped (") != std::string::npos,
            wroteAny)
      << messages[1];
  EXPECT_NE(messages[1].find("-> buttonOk"), std::string::npos) << messages[1];
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(Group(after, row.command), Group(before, row.command));
  EXPECT_TRUE(Marked(MarkOf(row.command))) << MarkOf(row.command);
  EXPECT_TRUE(IsWindowEnabled(Item(102)));
  EXPECT_EQ(Text(kOfflineHiLevelEdit), hi);
}

INSTANTIATE_TEST_SUITE_P(Rows, OfflineParamDownload, testing::ValuesIn(Rows()), RowName);

}  // namespace

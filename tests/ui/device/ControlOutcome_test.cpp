// Every HART command a control of the DTM sends (functions 2 to 8 but the offline parameters, which
// include the controls the Diagnostics page opens), under every way it can fail, end to end: the
// real DTM on the frame's channel to the simulated transmitter, each control opened by the frame as
// a frame opens it. A row is judged by what the user is told (once), what the control's fields show
// and what the transmitter holds; the offline rows by what the fields say and whether an entry takes
// typing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/Quiet.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/live_page_host.h"
#include "tests/support/text_log.h"
#include "ui/device/DACTrimAdj.h"
#include "ui/device/OnlineParam.h"
#include "ui/device/OutputLevelSelection.h"
#include "ui/device/SelfTestResults.h"
#include "ui/device/TrendView.h"

namespace {

using namespace vkr::dui;
using vkr::frame::FrameChannel;
using vkr::test::FindItem;
using vkr::test::CTextLog;
using vkr::test::PumpUntil;

class ControlOutcomeTest;
using Step = std::function<void(ControlOutcomeTest&)>;

// One command of one control: the control's function, the user's work before the command (the
// fault is armed after it), the work that sends the command, and the judgement.
struct SCommandCase {
  const char* control;
  LONG function;
  int command;
  Step before;
  Step act;
  std::function<void(ControlOutcomeTest&, const std::string& kind)> judge;
};

// A row: a command case under a fault kind, or a control opened offline (command 0).
struct SRow {
  const SCommandCase* c;
  std::string kind;
  LONG offlineFunction;
};

class ControlOutcomeTest : public vkr::test::LivePageHostTest, public ::testing::WithParamInterface<SRow> {
 public:
  void SetUp() override {
    CTextLog::Reset();
    StartSession();
    dtm = session_->Dtm();
  }
  void TearDown() override {
    if (session_) {
      session_->Channel()->faults.clear();
      device_->ClearFaults();
      session_->Frame()->answersChangeNothing = true;
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    CTextLog::Reset();
    LivePageHostTest::TearDown();
  }

  vkr::frame::ActiveXHost& Host() { return session_->Frame()->activeX; }
  vkr::frame::SimulatedDevice& Device() { return *device_; }
  void GoOnline() {
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
  }
  void Offline() { session_->Channel()->devices.clear(); }
  // The next request of the command fails as the host's --fault KIND makes it fail.
  void Fail(int command, const std::string& kind) {
    vkr::frame::InjectNamedFault(*session_->Channel(), command, kind);
  }
  void Open(LONG function) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const size_t before = Host().OpenControls().size();
    ASSERT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                    vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened),
              S_OK);
    ASSERT_GT(Host().OpenControls().size(), before);
    id = Host().OpenControls().back().invokeId;
    for (UINT watched : {static_cast<UINT>(kTrendMessage), static_cast<UINT>(kTrendTag), kSelfTestSummaryEdit})
      CTextLog::Watch(Item(watched));
  }
  HWND Item(UINT item) {
    const auto* open = Host().Find(id);
    return open ? FindItem(open->window, static_cast<int>(item)) : nullptr;
  }
  template <class T>
  T* Object() {
    const auto* open = Host().Find(id);
    return open ? dynamic_cast<T*>(vkr::test::Query<IDispatch>(open->control.Get()).Get()) : nullptr;
  }
  std::string Text(UINT item) { return vkr::ui::WindowText(Item(item)); }
  std::vector<std::string> Shown(UINT item) { return CTextLog::Of(Item(item)); }
  void Click(UINT item) {
    ASSERT_TRUE(vkr::ui::Click(Item(item))) << item;
    vkr::frame::WaitUntilQuiet();
  }
  void Choose(UINT item, const char* text) { ASSERT_TRUE(vkr::ui::SelectItem(Item(item), std::string_view(text))); }
  void Type(UINT item, const std::string& text) {
    ASSERT_TRUE(vkr::ui::Click(Item(item)));
    SendMessageA(Item(item), EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(Item(item), text));
  }
  void Answer(std::initializer_list<const char*> answers) {
    for (const char* a : answers) session_->Frame()->questionAnswers.push_back(a);
  }
  static void Settle() { vkr::frame::WaitUntilQuiet(); }
  // The trend samples on its timer: waits until `more` samples were asked of the device, or the
  // trend stopped, and then for their answers.
  void AwaitTrendSamples(std::size_t more) {
    const auto samples = [&] {
      std::size_t n = 0;
      for (const auto& [command, occurrence] : session_->Channel()->requestLog) n += command == 3;
      return n;
    };
    const std::size_t from = samples();
    EXPECT_TRUE(PumpUntil([&] { return samples() >= from + more || Text(kTrendStartStop) == "Start"; }, 60000));
    Settle();
  }
  // The messages shown since the mark, as "title: text".
  std::vector<std::string> Told(size_t mark) {
    std::vector<std::string> told;
    const auto& all = session_->Frame()->userMessages;
    for (size_t i = mark; i < all.size(); ++i) {
      std::string m = all[i];
      // "message <type> <buttons> <title>: <text> -> <answer>"
      for (int words = 0; words < 3; ++words) m.erase(0, m.find(' ') + 1);
      told.push_back(m.substr(0, m.rfind(" -> ")));
    }
    return told;
  }
  size_t Mark() const { return session_->Frame()->userMessages.size(); }
  // What the transmitter holds that a control may change, but the loop current.
  std::string Stored() const {
    const auto& c = device_->config;
    return std::string(c.zeroTrim ? std::to_string(*c.zeroTrim) : "-") + "|" +
           (c.gainTrim ? std::to_string(*c.gainTrim) : "-") + "|" + vkr::frame::wire::ToHex(c.tagDescriptorDate) + "|" +
           std::to_string(c.upperRange) + "|" + std::to_string(c.lowerRange);
  }

  IUnknown* dtm = nullptr;
  std::string id;
  size_t mark = 0;
};

// The reason the user hears for each fault kind (the channel's refusal has no cause to tell).
std::string Reason(const std::string& kind) {
  if (kind == "silent") return "the device did not answer.";
  if (kind == "busy") return "the device is busy.";
  if (kind == "lost") return "the device's answer was lost.";
  if (kind == "linkgone") return "the connection to the device is lost.";
  return "";
}

size_t Count(const std::vector<std::string>& texts, const std::string& prefix) {
  return static_cast<size_t>(
      std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A read the trend makes when it opens (13: the tag, 14: the sensor limit). Read again as the
// DTM follows its state, it may still arrive: then nothing is left to tell. Otherwise its message
// line says once what could not be read and why, and the tag field "Not read". The tag field never
// shows a tag the device did not give.
void JudgeTrendHeader(ControlOutcomeTest& t, const std::string& kind, const std::string& what, bool tag) {
  std::vector<std::string> shown = t.Shown(kTrendMessage);
  const std::string now = t.Text(kTrendMessage);
  if (!now.empty() && (shown.empty() || shown.back() != now)) shown.push_back(now);
  EXPECT_LE(Count(shown, what + " could not be read: "), 1u) << ::testing::PrintToString(shown);
  const bool arrived = now.empty();
  if (kind == "linkgone") {
    EXPECT_FALSE(arrived);  // nothing is read again over a lost link
  }
  if (!arrived) {
    EXPECT_NE(now.find(" could not be read: "), std::string::npos) << now;
    // A lost link fails the other read under way as well: its answer is lost, or the channel no
    // longer takes it.
    EXPECT_TRUE(EndsWith(now, Reason(kind)) ||
                (kind == "linkgone" &&
                 (EndsWith(now, Reason("lost")) || EndsWith(now, "the request did not reach the device."))))
        << now;
  }
  const std::string shownTag = t.Text(kTrendTag);
  if (kind != "linkgone") {
    EXPECT_EQ(shownTag, arrived || !tag ? "LT-101  " : kTrendTagNotRead);
  }
  for (const std::string& s : t.Shown(kTrendTag))
    EXPECT_TRUE(s == "LT-101  " || s == kTrendTagNotRead || s == kLoadingText) << s;
  EXPECT_TRUE(t.Told(t.mark).empty());
}

// The trend view running on one pen with the loop current at the fastest rate.
void StartTrend(ControlOutcomeTest& t) {
  t.Choose(kTrendRateCombo, "1 Sec.");
  t.Click(kTrendStartStop);
  ASSERT_TRUE(PumpUntil([&] { return !t.Text(kTrendPenValues[0]).empty(); }, 10000));
}

// The loop test's fixed level (4 mA), and the trim's (the meter not matching yet).
void FixLoopTest(ControlOutcomeTest& t) {
  t.Click(kOutputLevelEnter);
  ASSERT_EQ(t.Device().config.fixedCurrent, 4.0f);
}
Step FixTrim(const char* level) {
  return [level](ControlOutcomeTest& t) {
    t.Choose(kDacTrimLevelList, level);
    t.Answer({"buttonOk", "buttonNo"});
    t.Click(kDacTrimEnter);
    ASSERT_NE(t.Device().config.fixedCurrent, 0.0f);
  };
}
// A button pressed, the question it brings answered.
Step Press(UINT button, const char* answer = nullptr) {
  return [=](ControlOutcomeTest& t) {
    if (answer) t.Answer({answer});
    t.Click(button);
  };
}
// The reference meter's reading entered for the trim.
Step Reading(const char* mA) {
  return [mA](ControlOutcomeTest& t) {
    t.Type(kDacTrimReadingEdit, mA);
    t.Click(kDacTrimEnter);
  };
}
// The messages told, one for each prefix and nothing more: a level or trim not confirmed is never
// told as done. `mayBeFixed`: the last says the current may still be fixed, and the control stays
// for the user's next request to leave.
std::function<void(ControlOutcomeTest&, const std::string&)> ToldOnly(std::vector<std::string> prefixes,
                                                                      bool mayBeFixed = false) {
  return [=](ControlOutcomeTest& t, const std::string&) {
    const auto told = t.Told(t.mark);
    ASSERT_EQ(told.size(), prefixes.size()) << ::testing::PrintToString(told);
    for (size_t i = 0; i < told.size(); ++i) EXPECT_EQ(told[i].rfind(prefixes[i], 0), 0u) << told[i];
    if (mayBeFixed) {
      EXPECT_NE(told.back().find("may still be fixed"), std::string::npos) << told.back();
      EXPECT_NE(t.Host().Find(t.id), nullptr);
    }
  };
}

const std::vector<SCommandCase>& Cases() {
  static const std::vector<SCommandCase> cases = {
      {"trend view", 2, 13, nullptr, nullptr,
       [](ControlOutcomeTest& t, const std::string& kind) { JudgeTrendHeader(t, kind, "Device Tag", true); }},
      {"trend view", 2, 14, nullptr, nullptr,
       [](ControlOutcomeTest& t, const std::string& kind) { JudgeTrendHeader(t, kind, "The sensor limit", false); }},
      {"trend view", 2, 3, StartTrend, [](ControlOutcomeTest& t) { t.AwaitTrendSamples(2); },
       [](ControlOutcomeTest& t, const std::string& kind) {
         const auto shown = t.Shown(kTrendMessage);
         if (kind == "linkgone") {
           // No value comes any more: the trend stops and says so once, naming the pen it sampled,
           // whose value field says it was not read.
           EXPECT_EQ(t.Text(kTrendStartStop), "Start");
           EXPECT_EQ(Count(shown, "The trend stopped: Primary Variable could not be read: ") +
                         Count(shown, "The device gave no values"),
                     1u)
               << ::testing::PrintToString(shown);
           EXPECT_EQ(t.Text(kTrendPenValues[0]), "Not read");
           EXPECT_FALSE(t.Object<CTrendView>()->IsRunning());
         } else {
           // One reading failed: said once, and the trend goes on with the device's next values. (A
           // request the channel refused reaches the user interfaces as a failure only where the DTM
           // reports a cyclic read it could not send; then it is told as the others are.)
           const size_t told = Count(shown, "Primary Variable could not be read: ");
           EXPECT_EQ(told, kind == "refused" ? std::min<size_t>(told, 1) : 1u) << ::testing::PrintToString(shown);
           if (!shown.empty() && !Reason(kind).empty()) {
             EXPECT_TRUE(EndsWith(shown.front(), Reason(kind))) << shown.front();
           }
           EXPECT_EQ(t.Text(kTrendStartStop), "Stop");
           EXPECT_EQ(t.Text(kTrendPenValues[0]), "2.500");
           EXPECT_EQ(t.Text(kTrendMessage), "");
         }
         EXPECT_TRUE(t.Told(t.mark).empty());
       }},
      {"trend view opened", 2, 3, nullptr,
       [](ControlOutcomeTest& t) {
         t.Choose(kTrendRateCombo, "1 Sec.");
         t.Click(kTrendStartStop);
         t.AwaitTrendSamples(2);
       },
       [](ControlOutcomeTest& t, const std::string& kind) {
         // The read the trend makes when it opens failed. Over a lost link Start runs nothing and
         // says why; otherwise the device's values come.
         if (kind == "linkgone") {
           EXPECT_EQ(t.Text(kTrendStartStop), "Start");
           EXPECT_EQ(t.Text(kTrendMessage), "The trend did not start: the connection to the device is lost.");
           for (UINT value : kTrendPenValues) EXPECT_EQ(t.Text(value), "") << value;
         } else {
           EXPECT_EQ(t.Text(kTrendStartStop), "Stop");
           EXPECT_EQ(t.Text(kTrendPenValues[0]), "2.500");
           EXPECT_EQ(t.Text(kTrendMessage), "");
         }
         EXPECT_TRUE(t.Told(t.mark).empty());
       }},
      {"self-test results", 8, 48, nullptr, nullptr,
       [](ControlOutcomeTest& t, const std::string& kind) {
         // No line waits for ever or shows a result the device did not give; the summary says why.
         EXPECT_TRUE(t.Shown(kSelfTestSummaryEdit).empty());  // said once, when it opened
         const std::string summary = t.Text(kSelfTestSummaryEdit);
         EXPECT_EQ(summary.rfind("Self test results could not be read: ", 0), 0u) << summary;
         if (kind == "busy") {
           EXPECT_TRUE(EndsWith(summary, Reason(kind))) << summary;
         }
         auto* control = t.Object<CSelfTestResults>();
         ASSERT_NE(control, nullptr);
         for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
           EXPECT_EQ(t.Text(kSelfTestResultEdits[i]), kSelfTestNotRead) << i;
           EXPECT_NE(control->LampImage(i), control->PassImage()) << i;
           EXPECT_NE(control->LampImage(i), control->FailImage()) << i;
         }
         EXPECT_TRUE(t.Told(t.mark).empty());
       }},
      {"loop test", 4, 40, nullptr, Press(kOutputLevelEnter),
       ToldOnly({"Loop Test: The field device did not confirm the output level of 4.000 mA"})},
      {"loop test", 4, 40, FixLoopTest, Press(kOutputLevelAbort), ToldOnly({"Loop Test: "}, true)},
      {"DAC trim", 7, 40, nullptr, Press(kDacTrimEnter, "buttonOk"),
       ToldOnly({"DAC Trim: Setting field device output to 4.000 mA",
                 "DAC Trim: The field device did not confirm the output level of 4.000 mA"})},
      {"DAC trim", 7, 45, FixTrim("4mA"), Reading("4.010"),
       ToldOnly({"DAC Trim: The field device did not confirm the trim"})},
      {"DAC trim", 7, 46, FixTrim("20mA"), Reading("19.950"),
       ToldOnly({"DAC Trim: The field device did not confirm the trim"})},
      {"DAC trim", 7, 40, FixTrim("4mA"), Press(kDacTrimAbort, "buttonYes"),
       ToldOnly({"DAC Trim: Exit DAC Trim Process?", "DAC Trim: "}, true)},
  };
  return cases;
}

std::vector<SRow> Rows() {
  std::vector<SRow> rows;
  for (const SCommandCase& c : Cases())
    for (const char* kind : {"refused", "silent", "busy", "lost", "linkgone"}) rows.push_back({&c, kind, 0});
  for (LONG function : {2, 3, 4, 6, 7, 8}) rows.push_back({nullptr, "offline", function});
  return rows;
}

void PrintTo(const SRow& row, std::ostream* out) {
  *out << (row.c ? std::string(row.c->control) + " command " + std::to_string(row.c->command) : "offline") << " "
       << row.kind;
}

std::string RowName(const ::testing::TestParamInfo<SRow>& info) {
  std::string name;
  if (info.param.c) {
    name = std::string(info.param.c->control) + "_" + std::to_string(info.param.c->command) + "_" + info.param.kind;
  } else {
    name = "function_" + std::to_string(info.param.offlineFunction) + "_offline";
  }
  for (char& ch : name)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name + "_" + std::to_string(info.index);
}

TEST_P(ControlOutcomeTest, TellsWhatDidNotHappen) {
  const SRow& row = GetParam();
  if (!row.c) {
    // Offline: every device field says the device is not connected, and nothing takes typing.
    Offline();
    ASSERT_NO_FATAL_FAILURE(Open(row.offlineFunction));
    Settle();
    switch (row.offlineFunction) {
      case 2:
        EXPECT_EQ(Text(kTrendTag), kNotConnectedText);
        Click(kTrendStartStop);
        EXPECT_EQ(Text(kTrendStartStop), "Start");
        EXPECT_EQ(Text(kTrendMessage), "The trend did not start: no device is connected.");
        break;
      case 3:
        for (UINT field : kValuesFormFields) {
          EXPECT_TRUE(Text(field) == kNotConnectedText || Text(field) == kNotConnectedShortText) << field;
          EXPECT_TRUE(GetWindowLongA(Item(field), GWL_STYLE) & ES_READONLY) << field;
        }
        Type(kValuesFormTag, "NEWTAG");
        EXPECT_EQ(Text(kValuesFormTag), kNotConnectedText);
        break;
      case 4:
      case 7: {
        // Nothing reaches the device, and nothing is said to be fixed.
        const size_t before = Mark();
        Answer({"buttonOk"});
        Click(row.offlineFunction == 4 ? kOutputLevelEnter : kDacTrimEnter);
        const auto told = Told(before);
        ASSERT_FALSE(told.empty());
        EXPECT_NE(told.back().find("not connected: no output level was written"), std::string::npos) << told.back();
        for (const std::string& m : told) EXPECT_EQ(m.find("is fixed at"), std::string::npos) << m;
        break;
      }
      case 6: break;  // the echo trace shows no device field
      default:
        for (UINT edit : kSelfTestResultEdits) EXPECT_EQ(Text(edit), kNotConnectedShortText) << edit;
        EXPECT_EQ(Text(kSelfTestSummaryEdit), kNotConnectedText);
        break;
    }
    EXPECT_TRUE(device_->received.empty());
    return;
  }
  const SCommandCase& c = *row.c;
  ASSERT_NO_FATAL_FAILURE(GoOnline());
  Settle();
  if (!c.before) Fail(c.command, row.kind);
  mark = Mark();
  ASSERT_NO_FATAL_FAILURE(Open(c.function));
  Settle();
  if (c.before) {
    ASSERT_NO_FATAL_FAILURE(c.before(*this));
    Settle();
    mark = Mark();
    Fail(c.command, row.kind);
  }
  const std::string stored = Stored();
  const int sent = static_cast<int>(device_->received.size());
  if (c.act) {
    ASSERT_NO_FATAL_FAILURE(c.act(*this));
  }
  Settle();
  ASSERT_NO_FATAL_FAILURE(c.judge(*this, row.kind));
  // What the device did not confirm it does not hold; a loop current stays fixed only where the
  // user heard that it may.
  EXPECT_EQ(Stored(), stored);
  bool toldFixed = false;
  for (const std::string& m : Told(mark)) toldFixed = toldFixed || m.find("may still be fixed") != std::string::npos;
  if (!toldFixed) {
    EXPECT_EQ(device_->config.fixedCurrent, 0.0f);
  }
  EXPECT_GE(static_cast<int>(device_->received.size()), sent);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, ControlOutcomeTest, ::testing::ValuesIn(Rows()), RowName);

}  // namespace

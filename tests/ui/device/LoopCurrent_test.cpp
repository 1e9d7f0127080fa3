// The loop-current trim and the loop test, end to end: the real DTM online through the frame's
// channel to the simulated transmitter, each control opened as its function, driven as a person
// drives it, and the transmitter's fixed current and trims checked after every step and every way
// out.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "include/DtmInterfaces.h"
#include "include/FdtInterfaces.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"
#include "ui/device/DACTrimAdj.h"
#include "ui/device/OutputLevelSelection.h"

namespace {

using namespace vkr::dui;
using vkr::frame::FrameChannel;

constexpr LONG kFunctionLoopTest = 4;
constexpr LONG kFunctionDacTrim = 7;

class LiveLoop : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartSession());
    GoOnline();
  }
  // After the DTM was released: a new one on a fresh transmitter.
  void Restart() {
    device_ = std::make_shared<vkr::frame::SimulatedDevice>();
    session_ = std::make_unique<vkr::frame::TransferSession>();
    ASSERT_EQ(session_->Open(u"Vorn.ExampleDtm", device_, ""), S_OK);
    GoOnline();
  }
  void GoOnline() {
    dtm = session_->Dtm();
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
    Settle();
  }
  void TearDown() override {
    if (session_) session_->Frame()->activeX.CloseAll();
    LivePageHostTest::TearDown();
  }

  // Opens the function as the Diagnostics page has the frame open it; the control's dialog.
  HWND Open(LONG function) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                    vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened),
              S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened) return nullptr;
    const auto& open = session_->Frame()->activeX.OpenControls().back();
    invokeId = open.invokeId;
    HWND enter = vkr::test::FindItem(open.window, function == kFunctionDacTrim ? kDacTrimEnter : kOutputLevelEnter);
    dialog = enter ? GetParent(enter) : nullptr;
    return dialog;
  }
  // The trim control opened, as its object.
  CDACTrimAdj* OpenTrim() {
    if (!Open(kFunctionDacTrim)) return nullptr;
    auto control = vkr::test::Query<IDtmActiveXControl>(session_->Frame()->activeX.OpenControls().back().control.Get());
    return dynamic_cast<CDACTrimAdj*>(control.Get());
  }
  bool IsOpen() const { return !session_->Frame()->activeX.OpenControls().empty(); }
  bool WaitClosed() {
    return vkr::test::PumpUntil([&] { return !IsOpen(); }, 5000);
  }
  // The frame closes the control (PrepareToRelease first); true when it went.
  bool CloseByFrame() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }

  void Choose(UINT list, int index) { SendDlgItemMessageA(dialog, static_cast<int>(list), LB_SETCURSEL, index, 0); }
  void Click(UINT id) {
    ASSERT_TRUE(vkr::ui::Click(GetDlgItem(dialog, static_cast<int>(id))));
    vkr::ui::PumpUntilIdle();
  }
  void Type(UINT id, const std::string& text) {
    HWND edit = GetDlgItem(dialog, static_cast<int>(id));
    ASSERT_TRUE(vkr::ui::Click(edit));
    SendMessageA(edit, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(edit, text));
  }
  std::string Text(UINT id) const { return vkr::ui::WindowText(GetDlgItem(dialog, static_cast<int>(id))); }
  bool Visible(UINT id) const { return IsWindowVisible(GetDlgItem(dialog, static_cast<int>(id))) != FALSE; }

  // The device's state, after the DTM's queue delivered what was sent.
  bool WaitFixed(float milliamps) {
    return vkr::test::PumpUntil([&] { return device_->config.fixedCurrent == milliamps; }, 10000);
  }
  bool DeviceFixed() const { return (device_->DeviceStatus() & vkr::frame::hart::kStatusCurrentFixed) != 0; }
  int Received(int command) const {
    int n = 0;
    for (const auto& r : device_->received) n += r.command == command;
    return n;
  }
  std::vector<std::string>& Messages() { return session_->Frame()->userMessages; }
  std::deque<std::string>& Answers() { return session_->Frame()->userAnswers; }
  bool Said(const std::string& text) const {
    for (const std::string& m : session_->Frame()->userMessages)
      if (m.find(text) != std::string::npos) return true;
    return false;
  }
  // The user was told exactly these, in order (each a part of its message).
  void ExpectTold(const std::vector<const char*>& parts) {
    ASSERT_EQ(Messages().size(), parts.size());
    std::size_t i = 0;
    for (const char* part : parts) {
      EXPECT_NE(Messages()[i].find(part), std::string::npos) << Messages()[i];
      ++i;
    }
  }
  static void Settle() { vkr::frame::WaitUntilQuiet(); }

  // The channel's fault on the next request of the command (CommunicationError: lost on the way,
  // it never reaches the transmitter).
  void AddFault(FrameChannel::FaultKind kind, int command) {
    FrameChannel::Fault f;
    f.kind = kind;
    f.command = command;
    session_->Channel()->faults.push_back(f);
  }

  // The loop current fixed at 20 mA by the control, as a person gets there.
  void FixAt20(LONG function) {
    if (function == kFunctionDacTrim) {
      Answers() = {"buttonOk", "buttonNo"};  // "Setting ... 20.000 mA", "... equal to reference meter?"
      Choose(kDacTrimLevelList, kTrim20mA);
      Click(kDacTrimEnter);
    } else {
      Choose(kOutputLevelList, kLevel20mA);
      Click(kOutputLevelEnter);
    }
    ASSERT_TRUE(WaitFixed(20.0f));
  }

  // The procedure's next write after FixAt20: a gain trim of 19.9 mA, or the loop at 4 mA.
  void NextWrite(LONG function) {
    if (function == kFunctionDacTrim) {
      Answers() = {"buttonNo"};
      Type(kDacTrimReadingEdit, "19.9");
      Click(kDacTrimEnter);
    } else {
      Choose(kOutputLevelList, kLevel4mA);
      Click(kOutputLevelEnter);
    }
  }

  IUnknown* dtm = nullptr;
  std::string invokeId;
  HWND dialog = nullptr;
};

// The whole trim at either end of the range (the control as it opens looks as kept): the current
// fixed there, a reading that is not a number refused, two readings sent as trims, the match
// confirmed (the current given back), and "End" closing the control.
TEST_F(LiveLoop, TrimFixesTrimsAndGivesTheLoopBack) {
  struct Case {
    int level;
    float target;
    const char* prefill;
    const char* setting;
    int trimCommand;
    std::optional<float> vkr::frame::SimulatedDevice::Configuration::*trim;
  };
  const Case cases[] = {
      {kTrim4mA, 4.0f, "4.000", "Setting field device output to 4.000 mA", 45,
       &vkr::frame::SimulatedDevice::Configuration::zeroTrim},
      {kTrim20mA, 20.0f, "20.000", "Setting field device output to 20.000 mA", 46,
       &vkr::frame::SimulatedDevice::Configuration::gainTrim},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefill);
    ASSERT_TRUE(Open(kFunctionDacTrim));
    if (c.level == kTrim4mA) {
      vkr::test::ExpectLooksAsKept(session_->Frame()->activeX.OpenControls().back().window, "dac_trim");
    }
    Messages().clear();
    device_->received.clear();
    EXPECT_FALSE(Visible(kDacTrimReadingEdit));

    // Cancel at the announcement writes nothing and keeps the list.
    Answers() = {"buttonCancel"};
    Choose(kDacTrimLevelList, c.level);
    Click(kDacTrimEnter);
    Settle();
    EXPECT_EQ(Received(40), 0);
    EXPECT_TRUE(Visible(kDacTrimLevelList));
    ExpectTold({c.setting});

    Answers() = {"buttonOk", "buttonNo"};
    Click(kDacTrimEnter);
    ASSERT_TRUE(WaitFixed(c.target));
    EXPECT_TRUE(DeviceFixed());
    EXPECT_EQ(Text(kDacTrimReadingEdit), c.prefill);
    EXPECT_TRUE(Visible(kDacTrimReadingEdit));
    EXPECT_FALSE(Visible(kDacTrimLevelList));
    EXPECT_TRUE(Said("equal to reference meter?"));

    // Readings no meter in the loop shows: said so, nothing sent, the count unchanged, the entry
    // focused for the next try. In English a ',' is no decimal point.
    const std::string far = c.target == 4.0f ? "5.5" : "18.5";
    const std::pair<std::string, const char*> refused[] = {
        {"abc", "not a number"}, {"", "not a number"}, {"1.#INF", "not a number"},
        {c.target == 4.0f ? "4,010" : "20,010", "not a number"}, {far, "within 1.000 mA"},
        {"400", "within 1.000 mA"}, {"-1", "within 1.000 mA"}, {"1e30", "within 1.000 mA"}};
    for (const auto& [typed, why] : refused) {
      SCOPED_TRACE(typed);
      Messages().clear();
      Type(kDacTrimReadingEdit, typed);
      Click(kDacTrimEnter);
      Settle();
      EXPECT_EQ(Received(c.trimCommand), 0);
      EXPECT_EQ(Messages().size(), 1u);
      EXPECT_TRUE(Said(why));
      EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kDacTrimReadingEdit));
    }

    const float first = c.target - 0.05f, second = c.target + 0.01f;
    Answers() = {"buttonNo"};
    Type(kDacTrimReadingEdit, c.target == 4.0f ? "3.950" : "19.950");
    Click(kDacTrimEnter);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return device_->config.*c.trim == first; }, 10000));
    EXPECT_EQ(Text(kDacTrimReadingEdit), c.prefill);
    EXPECT_TRUE(DeviceFixed());

    Answers() = {"buttonYes"};
    Type(kDacTrimReadingEdit, c.target == 4.0f ? "4.010" : "20.010");
    Click(kDacTrimEnter);
    EXPECT_TRUE(WaitFixed(0.0f));
    EXPECT_FALSE(DeviceFixed());
    EXPECT_EQ(device_->config.*c.trim, second);
    EXPECT_EQ(Received(c.trimCommand), 2);
    EXPECT_TRUE(Visible(kDacTrimLevelList));
    EXPECT_FALSE(Visible(kDacTrimReadingEdit));

    // "End": asked, the note, closed.
    Messages().clear();
    Answers() = {"buttonYes"};
    Choose(kDacTrimLevelList, kTrimEnd);
    Click(kDacTrimEnter);
    ASSERT_TRUE(WaitClosed());
    ExpectTold({"Exit DAC Trim Process?", "Loop may be returned to automatic control"});
    EXPECT_FALSE(DeviceFixed());
  }
}

// A level starts its own count of trims; nine trims without a match end in "Too many attempts",
// and declining the exit keeps the reading stage with the current still fixed.
TEST_F(LiveLoop, TrimGivesUpAfterNineAttempts) {
  CDACTrimAdj* trim = OpenTrim();
  ASSERT_TRUE(trim);
  // Three gain trims, the fourth matches.
  FixAt20(kFunctionDacTrim);
  for (const char* answer : {"buttonNo", "buttonNo", "buttonNo", "buttonYes"}) {
    Answers() = {answer};
    Click(kDacTrimEnter);
  }
  ASSERT_TRUE(WaitFixed(0.0f));
  EXPECT_EQ(Received(46), 4);
  EXPECT_EQ(trim->Stage(), 1);

  // 4 mA: nine zero trims are allowed, whatever went before at 20 mA.
  Answers() = {"buttonOk", "buttonNo"};
  Choose(kDacTrimLevelList, kTrim4mA);
  Click(kDacTrimEnter);
  ASSERT_TRUE(WaitFixed(4.0f));
  EXPECT_EQ(trim->Attempts(), 0);
  for (int i = 0; i < kDacTrimMaxAttempts; ++i) {
    Answers() = {"buttonNo"};
    Click(kDacTrimEnter);
  }
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Received(45) == kDacTrimMaxAttempts; }, 10000));
  Messages().clear();
  Answers() = {"buttonOk", "buttonNo"};
  Click(kDacTrimEnter);
  Settle();
  EXPECT_EQ(Received(45), kDacTrimMaxAttempts);
  ExpectTold({"Too many attempts to trim loop current zero", "Exit DAC Trim Process?"});
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(trim->Stage(), 0);
  EXPECT_EQ(trim->Attempts(), kDacTrimMaxAttempts);
  EXPECT_TRUE(DeviceFixed());

  // The next Enter offers the exit again; taken, the loop is given back.
  Answers() = {"buttonOk", "buttonYes"};
  Click(kDacTrimEnter);
  ASSERT_TRUE(WaitClosed());
  EXPECT_FALSE(DeviceFixed());
}

// The loop test's levels (the control as it opens looks as kept): each fixes the device and says
// so; an own level that is not a number is refused and nothing is written; Abort gives the output
// back before the note and closes.
TEST_F(LiveLoop, LoopTestFixesLevelsAndGivesTheOutputBack) {
  ASSERT_TRUE(Open(kFunctionLoopTest));
  vkr::test::ExpectLooksAsKept(session_->Frame()->activeX.OpenControls().back().window, "loop_test");
  EXPECT_EQ(Text(kOutputLevelLabel), "Choose analog output level");
  EXPECT_FALSE(Visible(kOutputLevelEdit));
  struct Step {
    int choice;
    const char* typed;  // for "Other"
    float fixed;
    const char* said;
  };
  const Step steps[] = {
      {kLevel4mA, nullptr, 4.0f, "Field device output is fixed at 4.000 mA"},
      {kLevel20mA, nullptr, 20.0f, "Field device output is fixed at 20.000 mA"},
      {kLevelOther, "12.5", 12.5f, "Field device output is fixed at 12.500 mA"},
      {kLevelOther, "twelve", 12.5f, "not a number"},
      {kLevelOther, "nan", 12.5f, "not a number"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.said);
    Messages().clear();
    device_->received.clear();
    Choose(kOutputLevelList, s.choice);
    Click(kOutputLevelEnter);
    if (s.typed) {
      EXPECT_EQ(Text(kOutputLevelLabel), "Enter analog output level");
      EXPECT_EQ(Text(kOutputLevelEdit), "20.000");
      EXPECT_FALSE(Visible(kOutputLevelList));
      Type(kOutputLevelEdit, s.typed);
      Click(kOutputLevelEnter);
    }
    Settle();
    ASSERT_TRUE(WaitFixed(s.fixed));
    EXPECT_TRUE(DeviceFixed());
    ExpectTold({s.said});
    const bool refused = std::string(s.said) == "not a number";
    EXPECT_EQ(Received(40), refused ? 0 : 1);
    // Refused: the own level stays open for a number; else the list is back.
    EXPECT_EQ(Visible(kOutputLevelEdit), refused);
    EXPECT_EQ(Visible(kOutputLevelList), !refused);
    if (refused) {
      Type(kOutputLevelEdit, "12.5");
      Click(kOutputLevelEnter);
    }
  }

  Messages().clear();
  device_->received.clear();
  Click(kOutputLevelAbort);
  ASSERT_TRUE(WaitClosed());
  EXPECT_FALSE(DeviceFixed());
  ASSERT_EQ(Received(40), 1);
  ExpectTold({"NOTE-Loop may be returned to automatic control"});

  // "End" before any level: the note, closed, nothing written.
  ASSERT_TRUE(Open(kFunctionLoopTest));
  device_->received.clear();
  Choose(kOutputLevelList, kLevelEnd);
  Click(kOutputLevelEnter);
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(Received(40), 0);
}

// Every way out of either control, with the loop current fixed, leaves the transmitter out of
// fixed-current mode: the frame closing it, Escape, the frame tearing its window down, the DTM's
// release (offline first, as a frame lets a DTM go), a write lost in the middle of the procedure.
// A release the transmitter did not confirm (lost, unanswered, answered short, busy) keeps the
// control open and says so; the next close gives the loop back.
TEST_F(LiveLoop, EveryWayOutGivesTheLoopBack) {
  enum class Road {
    FrameCloses,
    Escape,
    FrameTearsDown,
    DtmReleased,
    ErrorInTheMiddle,
    ReleaseNotTaken,
    ConnectionLost
  };
  struct Case {
    const char* name;
    LONG function;
    Road road;
    // ReleaseNotTaken: how the release goes wrong once (the channel's fault, or None: the device
    // answers busy).
    FrameChannel::FaultKind fault = FrameChannel::FaultKind::CommunicationError;
  };
  const Case cases[] = {
      {"trim, frame closes", kFunctionDacTrim, Road::FrameCloses},
      {"trim, Escape", kFunctionDacTrim, Road::Escape},
      {"trim, frame tears down", kFunctionDacTrim, Road::FrameTearsDown},
      {"trim, error in the middle", kFunctionDacTrim, Road::ErrorInTheMiddle},
      {"trim, release lost", kFunctionDacTrim, Road::ReleaseNotTaken},
      {"trim, release unanswered", kFunctionDacTrim, Road::ReleaseNotTaken, FrameChannel::FaultKind::NoAnswer},
      {"loop test, frame closes", kFunctionLoopTest, Road::FrameCloses},
      {"loop test, Escape", kFunctionLoopTest, Road::Escape},
      {"loop test, frame tears down", kFunctionLoopTest, Road::FrameTearsDown},
      {"loop test, error in the middle", kFunctionLoopTest, Road::ErrorInTheMiddle},
      {"loop test, release lost", kFunctionLoopTest, Road::ReleaseNotTaken},
      {"loop test, release answered short", kFunctionLoopTest, Road::ReleaseNotTaken,
       FrameChannel::FaultKind::TruncatedData},
      {"loop test, device busy", kFunctionLoopTest, Road::ReleaseNotTaken, FrameChannel::FaultKind::None},
      {"trim, connection lost", kFunctionDacTrim, Road::ConnectionLost},
      {"loop test, connection lost", kFunctionLoopTest, Road::ConnectionLost},
      {"loop test, DTM released", kFunctionLoopTest, Road::DtmReleased},
      {"trim, DTM released", kFunctionDacTrim, Road::DtmReleased},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!dtm) {
      ASSERT_NO_FATAL_FAILURE(Restart());
    }
    ASSERT_TRUE(Open(c.function));
    FixAt20(c.function);
    Messages().clear();
    switch (c.road) {
      case Road::FrameCloses: EXPECT_TRUE(CloseByFrame()); break;
      case Road::Escape:
        SetFocus(GetDlgItem(dialog, c.function == kFunctionDacTrim ? kDacTrimEnter : kOutputLevelEnter));
        vkr::ui::PressKey(VK_ESCAPE);
        WaitClosed();
        break;
      case Road::FrameTearsDown:
        // The control's window goes without the control being asked first.
        session_->Frame()->activeX.CloseAll();
        break;
      case Road::ErrorInTheMiddle:
        // The next write of the procedure is lost on the way: said so, the loop given back at
        // once; then the frame closes the control.
        AddFault(FrameChannel::FaultKind::CommunicationError, c.function == kFunctionDacTrim ? 46 : 40);
        NextWrite(c.function);
        EXPECT_TRUE(Said("did not confirm"));
        EXPECT_FALSE(DeviceFixed());
        EXPECT_TRUE(CloseByFrame());
        break;
      case Road::ReleaseNotTaken: {
        if (c.fault == FrameChannel::FaultKind::None) {
          vkr::frame::CommandFault busy;
          busy.command = 40;
          busy.commandResponse = vkr::frame::hart::kBusy;
          device_->InjectFault(busy);
        } else {
          AddFault(c.fault, 40);
        }
        EXPECT_FALSE(CloseByFrame());
        EXPECT_TRUE(IsOpen());
        // Lost on the way, the request never reached the transmitter.
        if (c.fault == FrameChannel::FaultKind::CommunicationError) {
          EXPECT_TRUE(DeviceFixed());
        }
        EXPECT_TRUE(Said("did not confirm"));
        EXPECT_TRUE(CloseByFrame());
        break;
      }
      case Road::ConnectionLost: {
        // The frame ends the connection in the middle of the procedure: the current cannot be
        // given back now, the user is told; back online, it is given back before the close.
        AddFault(FrameChannel::FaultKind::Abort, c.function == kFunctionDacTrim ? 46 : 40);
        NextWrite(c.function);
        ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) != dsONLINE; }, 5000));
        ASSERT_TRUE(vkr::test::PumpUntil([&] { return Said("connection to the field device was lost"); }, 5000));
        EXPECT_TRUE(DeviceFixed());
        ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
        EXPECT_TRUE(WaitFixed(0.0f));
        EXPECT_TRUE(CloseByFrame());
        break;
      }
      case Road::DtmReleased:
        // As a frame lets a DTM go: its communication first (the DTM goes offline with the
        // control still open), then the DTM.
        EXPECT_EQ(session_->Close(), S_OK);
        dtm = nullptr;
        break;
    }
    EXPECT_FALSE(IsOpen());
    EXPECT_TRUE(WaitFixed(0.0f));
    EXPECT_FALSE(DeviceFixed());
  }
}

// A level or trim the transmitter did not confirm, whatever the fault (the channel refusing the
// request or losing it, the transmitter silent or busy, the link to it gone), is told as such and
// never announced; the transmitter ends out of fixed-current mode and the control is back at its
// list: no reading is asked for, no trim follows. The frame then closes the control.
TEST_F(LiveLoop, AFaultIsToldAndTheLoopEndsFree) {
  enum class Fault { Refused, Lost, Silent, Busy, LinkGone };
  enum class Step { Level, Trim, TestLevel, TestOwnLevel };
  struct Case {
    const char* name;
    Step step;
    Fault fault;
  };
  const Case cases[] = {
      {"trim level, refused", Step::Level, Fault::Refused},
      {"trim level, silent", Step::Level, Fault::Silent},
      {"trim level, busy", Step::Level, Fault::Busy},
      {"trim level, link gone", Step::Level, Fault::LinkGone},
      {"trim, lost", Step::Trim, Fault::Lost},
      {"trim, silent", Step::Trim, Fault::Silent},
      {"trim, busy", Step::Trim, Fault::Busy},
      {"loop test level, refused", Step::TestLevel, Fault::Refused},
      {"loop test level, silent", Step::TestLevel, Fault::Silent},
      {"loop test level, busy", Step::TestLevel, Fault::Busy},
      {"loop test level, link gone", Step::TestLevel, Fault::LinkGone},
      {"loop test own level after 20 mA, lost", Step::TestOwnLevel, Fault::Lost},
      {"loop test own level after 20 mA, busy", Step::TestOwnLevel, Fault::Busy},
      {"loop test own level after 20 mA, link gone", Step::TestOwnLevel, Fault::LinkGone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!dtm || vkr::test::ui::DtmState(dtm) != dsONLINE) {
      if (session_) session_->Close();
      ASSERT_NO_FATAL_FAILURE(Restart());
    }
    const bool trim = c.step == Step::Level || c.step == Step::Trim;
    CDACTrimAdj* control = trim ? OpenTrim() : nullptr;
    ASSERT_TRUE(trim ? control != nullptr : Open(kFunctionLoopTest) != nullptr);
    if (c.step == Step::Trim || c.step == Step::TestOwnLevel) FixAt20(trim ? kFunctionDacTrim : kFunctionLoopTest);
    const int command = c.step == Step::Trim ? 46 : 40;
    switch (c.fault) {
      case Fault::Refused: AddFault(FrameChannel::FaultKind::Refuse, command); break;
      case Fault::Lost: AddFault(FrameChannel::FaultKind::CommunicationError, command); break;
      case Fault::LinkGone: AddFault(FrameChannel::FaultKind::Disconnect, command); break;
      case Fault::Busy: AddFault(FrameChannel::FaultKind::Busy, command); break;
      case Fault::Silent: {
        vkr::frame::CommandFault f;
        f.command = command;
        f.silent = true;
        device_->InjectFault(f);
        break;
      }
    }
    Messages().clear();
    device_->received.clear();
    switch (c.step) {
      case Step::Level:
        Answers() = {"buttonOk", "buttonNo"};
        Choose(kDacTrimLevelList, kTrim20mA);
        Click(kDacTrimEnter);
        break;
      case Step::Trim:
        Answers() = {"buttonNo"};
        Type(kDacTrimReadingEdit, "19.9");
        Click(kDacTrimEnter);
        break;
      case Step::TestLevel:
        Choose(kOutputLevelList, kLevel20mA);
        Click(kOutputLevelEnter);
        break;
      case Step::TestOwnLevel:
        Choose(kOutputLevelList, kLevelOther);
        Click(kOutputLevelEnter);
        Type(kOutputLevelEdit, "12");
        Click(kOutputLevelEnter);
        break;
    }
    Settle();
    EXPECT_TRUE(Said("did not confirm"));
    EXPECT_FALSE(Said("fixed at"));
    EXPECT_FALSE(Said("equal to reference meter?"));
    if (c.fault == Fault::LinkGone && c.step == Step::TestOwnLevel) {
      // The link gone with 20 mA held: the transmitter cannot be told, and the user hears that
      // the loop may still be fixed. Once the DTM is online again it is given back.
      EXPECT_TRUE(Said("may still be fixed"));
      EXPECT_TRUE(DeviceFixed());
      ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
      ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; }, 20000));
      ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
      ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
    }
    // The link gone, nothing reached the transmitter; busy, or refused by the channel, with no
    // level fixed before, it ran nothing and has nothing to give back; else it was told to leave
    // fixed-current mode.
    EXPECT_TRUE(WaitFixed(0.0f));
    EXPECT_FALSE(DeviceFixed());
    if ((c.fault == Fault::Busy || c.fault == Fault::Refused) && (c.step == Step::Level || c.step == Step::TestLevel)) {
      EXPECT_EQ(Received(40), 0);
    } else if (c.fault != Fault::LinkGone) {
      EXPECT_GE(Received(40), 1);
    }
    if (trim) {
      EXPECT_EQ(control->Stage(), 1);
      EXPECT_TRUE(Visible(kDacTrimLevelList));
      EXPECT_FALSE(Visible(kDacTrimReadingEdit));
      EXPECT_FALSE(device_->config.gainTrim);
    } else {
      EXPECT_TRUE(Visible(kOutputLevelList));
      EXPECT_FALSE(Visible(kOutputLevelEdit));
    }
    if (c.fault == Fault::LinkGone) {
      // The DTM cannot reach the transmitter any more: as a frame lets it go.
      EXPECT_EQ(session_->Close(), S_OK);
      dtm = nullptr;
      EXPECT_FALSE(IsOpen());
      continue;
    }
    EXPECT_TRUE(CloseByFrame());
    EXPECT_FALSE(IsOpen());
  }
}

// No road out traps the user when the transmitter cannot be told to give the loop back (the link
// to it gone, or it stopped answering command 40): one failure is told in one message, the user
// hears once that the loop current may still be fixed, and the request to leave after that closes
// the control, leaving the loop as it is without saying it may return to automatic control. When
// the transmitter answers again by then, the loop is given back on the way out and said so.
// Fault x control x request (the control's own Abort, or the frame's close).
TEST_F(LiveLoop, NoControlTrapsItsUserWhenTheLoopCannotBeGivenBack) {
  enum class Fault {
    LinkGoneAtTheLevel,    // the level's command 40 loses the link: nothing reaches the device again
    UnansweredAtTheLevel,  // the level and its give-back go unanswered, the transmitter answers again
    LinkGoneWhileFixed,    // 20 mA confirmed, then the give-back loses the link
    SilentWhileFixed,      // 20 mA confirmed, then the transmitter never answers command 40 again
  };
  enum class Request { Own, Frame };
  for (const LONG function : {kFunctionDacTrim, kFunctionLoopTest}) {
    for (const Fault fault :
         {Fault::LinkGoneAtTheLevel, Fault::UnansweredAtTheLevel, Fault::LinkGoneWhileFixed, Fault::SilentWhileFixed}) {
      for (const Request request : {Request::Own, Request::Frame}) {
        const bool trim = function == kFunctionDacTrim;
        SCOPED_TRACE(std::string(trim ? "trim" : "loop test") + ", fault " + std::to_string(static_cast<int>(fault)) +
                     (request == Request::Own ? ", Abort" : ", frame closes"));
        if (session_) session_->Close();
        ASSERT_NO_FATAL_FAILURE(Restart());
        ASSERT_TRUE(Open(function));
        const bool atTheLevel = fault == Fault::LinkGoneAtTheLevel || fault == Fault::UnansweredAtTheLevel;
        const bool linkGone = fault == Fault::LinkGoneAtTheLevel || fault == Fault::LinkGoneWhileFixed;
        if (!atTheLevel) FixAt20(function);
        if (linkGone) {
          AddFault(FrameChannel::FaultKind::Disconnect, 40);
        } else {
          vkr::frame::CommandFault silent;
          silent.command = 40;
          silent.silent = true;
          silent.persistent = fault == Fault::SilentWhileFixed;
          device_->InjectFault(silent);
          device_->InjectFault(silent);
        }
        Messages().clear();
        std::vector<const char*> told;
        if (atTheLevel) {
          if (trim) {
            Answers() = {"buttonOk"};
            Choose(kDacTrimLevelList, kTrim20mA);
            Click(kDacTrimEnter);
            told.push_back("Setting field device output to 20.000 mA");
          } else {
            Choose(kOutputLevelList, kLevel20mA);
            Click(kOutputLevelEnter);
          }
          // One failure, one message: neither "not fixed" nor "given back" beside "may still be fixed".
          told.push_back("did not confirm the output level of 20.000 mA, nor that it left fixed current mode");
        }
        // Told already at the level, the first request leaves; else the first one tells and stays.
        const int requests = atTheLevel ? 1 : 2;
        for (int i = 1; i <= requests; ++i) {
          SCOPED_TRACE(i);
          ASSERT_TRUE(IsOpen());
          if (request == Request::Frame) {
            EXPECT_EQ(CloseByFrame(), i == requests);
          } else {
            if (trim) {
              Answers() = {"buttonYes"};
              told.push_back("Exit DAC Trim Process?");
            }
            Click(trim ? kDacTrimAbort : kOutputLevelAbort);
            if (i == requests) {
              EXPECT_TRUE(WaitClosed());
            }
          }
          if (i < requests) told.push_back("did not confirm that it left fixed current mode");
        }
        EXPECT_FALSE(IsOpen());
        // Given back on the way out, the loop is said to be free; left as it is, it is not.
        if (fault == Fault::UnansweredAtTheLevel && request == Request::Own)
          told.push_back(trim ? "Loop may be returned to automatic control" : "NOTE-Loop may be returned");
        // Exactly these, in order: the doubt is told once.
        ASSERT_NO_FATAL_FAILURE(ExpectTold(told));
        // What the transmitter holds: a level it never took stays free; one it holds is left so.
        if (atTheLevel) {
          EXPECT_FALSE(DeviceFixed());
        } else {
          EXPECT_TRUE(DeviceFixed());
          EXPECT_EQ(device_->config.fixedCurrent, 20.0f);
        }
        device_->ClearFaults();
      }
    }
  }
}

// The trim's link to the current lost: the DTM leaves online while the transmitter holds 20 mA and
// the give-back does not reach it, the user hears that it may still be fixed; back online, the
// give-back is again not confirmed. The user has heard it once: the first close leaves, with no
// second warning, and the transmitter keeps the current.
TEST_F(LiveLoop, TheTrimToldOfALostLinkClosesOnTheFirstRequest) {
  ASSERT_TRUE(Open(kFunctionDacTrim));
  FixAt20(kFunctionDacTrim);
  // The frame's channel refuses every give-back: before going offline, on coming back, at the close.
  for (int i = 0; i < 8; ++i) AddFault(FrameChannel::FaultKind::Refuse, 40);
  Messages().clear();
  ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Said("connection to the field device was lost"); }, 20000));
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; }, 20000))
      << vkr::test::ui::DtmState(dtm);
  ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000))
      << vkr::test::ui::DtmState(dtm);
  Settle();
  EXPECT_TRUE(CloseByFrame());
  EXPECT_FALSE(IsOpen());
  ExpectTold({"connection to the field device was lost while its loop current was fixed"});
  EXPECT_TRUE(DeviceFixed());
  session_->Channel()->faults.clear();
}

// The DTM going offline and online again in the middle of the trim or the loop test: the control is
// back at its list, the user told; the current was given back before the connection ended, and
// nothing is written until a level is chosen again.
TEST_F(LiveLoop, OfflineAndOnlineAgainTheProcedureStartsOver) {
  for (LONG function : {kFunctionDacTrim, kFunctionLoopTest}) {
    SCOPED_TRACE(function);
    ASSERT_TRUE(Open(function));
    FixAt20(function);
    Messages().clear();
    ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; }, 10000))
        << vkr::test::ui::DtmState(dtm);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return Said("went offline"); }, 5000));
    EXPECT_FALSE(DeviceFixed());
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
    Settle();
    device_->received.clear();
    if (function == kFunctionDacTrim) {
      EXPECT_TRUE(Visible(kDacTrimLevelList));
      EXPECT_FALSE(Visible(kDacTrimReadingEdit));
      // Enter now starts over with the level question; declined, nothing is written.
      Messages().clear();
      Answers() = {"buttonCancel"};
      Click(kDacTrimEnter);
      ExpectTold({"Setting field device output to 20.000 mA"});
    } else {
      EXPECT_TRUE(Visible(kOutputLevelList));
    }
    Settle();
    EXPECT_TRUE(device_->received.empty());
    EXPECT_FALSE(DeviceFixed());
    EXPECT_TRUE(CloseByFrame());
  }
}

// The loop test's own level: 0 (which leaves fixed-current mode), what a loop cannot carry and
// what is no number are refused, said so, nothing written, the entry kept for the next try; the
// ends of what a loop carries are fixed.
TEST_F(LiveLoop, AnOwnLevelOutsideTheLoopIsRefused) {
  ASSERT_TRUE(Open(kFunctionLoopTest));
  Choose(kOutputLevelList, kLevelOther);
  Click(kOutputLevelEnter);
  struct Case {
    const char* typed;
    const char* said;
    float fixed;  // 0: refused
  };
  const Case cases[] = {
      {"0", "between 3.500 and 23.000 mA", 0.0f},   {"-5", "between 3.500 and 23.000 mA", 0.0f},
      {"25", "between 3.500 and 23.000 mA", 0.0f},  {"100", "between 3.500 and 23.000 mA", 0.0f},
      {"3.4", "between 3.500 and 23.000 mA", 0.0f}, {"12,5", "not a number", 0.0f},
      {"3.5", "fixed at 3.500 mA", 3.5f},           {"23", "fixed at 23.000 mA", 23.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Messages().clear();
    device_->received.clear();
    if (!Visible(kOutputLevelEdit)) {
      Choose(kOutputLevelList, kLevelOther);
      Click(kOutputLevelEnter);
    }
    Type(kOutputLevelEdit, c.typed);
    Click(kOutputLevelEnter);
    Settle();
    ExpectTold({c.said});
    if (c.fixed == 0.0f) {
      EXPECT_EQ(Received(40), 0);
      EXPECT_TRUE(Visible(kOutputLevelEdit));
      EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kOutputLevelEdit));
    } else {
      EXPECT_EQ(device_->config.fixedCurrent, c.fixed);
      EXPECT_TRUE(Visible(kOutputLevelList));
    }
  }
  EXPECT_TRUE(CloseByFrame());
  EXPECT_FALSE(DeviceFixed());
}

// With the DTM offline neither control writes to the device or speaks of a level as set: each
// says that nothing was written (the trim announces no level and asks for no meter reading) and
// stays at its list; "End" and Abort close them.
TEST_F(LiveLoop, OfflineTheDialoguesRunWithoutWrites) {
  ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) != dsONLINE; }, 10000));
  device_->received.clear();

  ASSERT_TRUE(Open(kFunctionDacTrim));
  for (int level : {kTrim4mA, kTrim20mA}) {
    Messages().clear();
    Choose(kDacTrimLevelList, level);
    Click(kDacTrimEnter);
    ExpectTold({"not connected: no output level was written"});
    EXPECT_TRUE(Visible(kDacTrimLevelList));
    EXPECT_FALSE(Visible(kDacTrimReadingEdit));
  }
  Messages().clear();
  Answers() = {"buttonYes"};
  Choose(kDacTrimLevelList, kTrimEnd);
  Click(kDacTrimEnter);
  ASSERT_TRUE(WaitClosed());
  ExpectTold({"Exit DAC Trim Process?", "Loop may be returned to automatic control"});

  // The loop test fixes nothing offline and says so.
  ASSERT_TRUE(Open(kFunctionLoopTest));
  Messages().clear();
  Choose(kOutputLevelList, kLevel20mA);
  Click(kOutputLevelEnter);
  Click(kOutputLevelAbort);
  ASSERT_TRUE(WaitClosed());
  ExpectTold({"not connected: no output level was written", "NOTE-Loop may be returned"});
  Settle();
  EXPECT_TRUE(device_->received.empty());
}

}  // namespace
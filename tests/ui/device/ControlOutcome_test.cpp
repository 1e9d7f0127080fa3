// Every HART command a control of the DTM sends (the functions 2 to 8 but the offline parameters,
// and the controls the Diagnostics page opens), under every way it can fail, end to end: the real
// DTM on the frame's channel to the simulated transmitter, the control opened by the frame as a
// frame opens it. Each row is judged by what the user is told (once), what the control's fields
// show, and what the transmitter holds; the offline rows by what the fields say and whether an
// entry takes typing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/live_page_host.h"

namespace {

using vkr::frame::FrameChannel;
using vkr::test::FindItem;
using vkr::test::PumpUntil;

class ControlOutcome : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    StartSession();
    dtm = session_->Dtm();
  }
  void TearDown() override {
    if (session_) {
      session_->Channel()->faults.clear();
      device_->ClearFaults();
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    LivePageHostTest::TearDown();
  }
  vkr::frame::ActiveXHost& Host() { return session_->Frame()->activeX; }
  void GoOnline() {
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
  }
  void Fail(int command, const std::string& kind) {
    if (kind == "silent") {
      vkr::frame::CommandFault silent;
      silent.command = command;
      silent.silent = true;
      device_->InjectFault(silent);
      return;
    }
    FrameChannel::Fault fault;
    fault.command = command;
    fault.kind = kind == "busy"      ? FrameChannel::FaultKind::Busy
                 : kind == "refused" ? FrameChannel::FaultKind::Refuse
                 : kind == "lost"    ? FrameChannel::FaultKind::CommunicationError
                                     : FrameChannel::FaultKind::Disconnect;
    if (fault.kind == FrameChannel::FaultKind::CommunicationError) {
      fault.word = "unknownError";
      fault.descriptor = "the answer was lost";
    }
    session_->Channel()->faults.push_back(fault);
  }
  std::string Open(LONG function) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const size_t before = Host().OpenControls().size();
    session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                          vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened);
    vkr::frame::TransferSession::Pump(1500);
    if (Host().OpenControls().size() == before) return "";
    return Host().OpenControls().back().invokeId;
  }
  HWND Window(const std::string& id) {
    const auto* open = Host().Find(id);
    return open ? open->window : nullptr;
  }
  std::string Text(const std::string& id, int item) { return vkr::ui::WindowText(FindItem(Window(id), item)); }
  void Click(const std::string& id, int item) {
    ASSERT_TRUE(vkr::ui::Click(FindItem(Window(id), item))) << item;
    vkr::frame::TransferSession::Pump(500);
  }

  IUnknown* dtm = nullptr;
};

TEST_F(ControlOutcome, Probe) {
  GoOnline();
  for (const char* kind : {"refused", "silent", "busy", "lost", "linkgone"}) {
    SCOPED_TRACE(kind);
    if (vkr::test::ui::DtmState(dtm) != dsONLINE) GoOnline();
    session_->Frame()->userMessages.clear();
    device_->received.clear();
    const int cmd = std::atoi(std::getenv("PCMD"));
    if (cmd != 3) Fail(cmd, kind);
    const std::string id = Open(2);
    ASSERT_FALSE(id.empty());
    if (cmd == 3) {
      vkr::ui::SelectItem(FindItem(Window(id), 703), std::string_view("1 Sec."));
      Click(id, 407);
      vkr::frame::TransferSession::Pump(1500);
      Fail(cmd, kind);
    }
    vkr::frame::TransferSession::Pump(5000);
    std::printf("%s: 407 '%s' 411 '%s'\n", kind, Text(id, 407).c_str(), Text(id, 411).c_str());
    std::printf("%s: tag '%s' msg '%s' state %d\n", kind, Text(id, 588).c_str(), Text(id, 6334).c_str(),
                static_cast<int>(vkr::test::ui::DtmState(dtm)));
    for (const auto& m : session_->Frame()->userMessages) std::printf("  told %s\n", m.c_str());
    for (const auto& r : device_->received) std::printf("  cmd %d\n", r.command);
    session_->Frame()->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
  }
}

}  // namespace

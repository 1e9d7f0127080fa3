// OK and Apply of a page frame over an online page, end to end: the module's DTM online to the
// simulated transmitter on the frame's channel, the tests' page frame opened for the DTM's online
// function (so its pages are online dialogs that write the device) with the tests' Settings page,
// whose damping goes to the device with command 34. A write the channel or the device does not
// carry out keeps the frame open with the page changed and the user told; one click writes once.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/live_page_host.h"
#include "tests/support/test_page_frame.h"
#include "tests/support/test_property_page.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;

constexpr LONG kOnlineFunction = 1;
constexpr int kDampingCommand = 34;

class FrameApply : public LivePageHostTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(pages_.Register(), S_OK);
    SetTestFramePages({kTestSettingsPageClsid});
    SetTestFrameAskApply(true);
    vkr::ui::ClearMessageBoxRecord();
    // The DTM names the online frame's class for its online function: the tests' frame serves it.
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CTestPageFrame>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CTestPageFrame>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_OnlineParameterization, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &frameCookie_),
              S_OK);
    device_->config.damping = 0.75f;
    ASSERT_NO_FATAL_FAILURE(StartSession());
    ASSERT_EQ(ui::GoOnline(Dtm()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsONLINE; }, 20000));
  }
  void TearDown() override {
    if (session_ && session_->Dtm()) {
      while (!session_->Frame()->activeX.OpenControls().empty()) {
        vkr::ui::SetMessageBoxScript({{IDNO, nullptr}});
        if (!CloseFrame()) break;
      }
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    if (frameCookie_) CoRevokeClassObject(frameCookie_);
    vkr::ui::ClearMessageBoxRecord();
    LivePageHostTest::TearDown();
    SetTestFrameAskApply(true);
  }

  IUnknown* Dtm() const { return session_->Dtm(); }
  vkr::frame::FrameChannel& Channel() const { return *session_->Channel(); }
  bool IsOpen() const { return !session_->Frame()->activeX.OpenControls().empty(); }

  CTestPageFrame* OpenFrame() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOnlineFunction));
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    vkr::frame::WaitUntilQuiet();
    if (!opened || !IsOpen()) return nullptr;
    invokeId_ = session_->Frame()->activeX.OpenControls().back().invokeId;
    CTestPageFrame* frame = AsTestPageFrame(session_->Frame()->activeX.OpenControls().back().control.Get());
    // The Settings page as an online page (the device pages' dialog type): its entries go to the
    // device.
    auto* settings = frame ? dynamic_cast<CTestSettingsPage*>(frame->Page(0)) : nullptr;
    if (!settings) return nullptr;
    EXPECT_EQ(settings->SetDialogType(4), S_OK);
    vkr::frame::WaitUntilQuiet();
    return frame;
  }
  bool CloseFrame() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_TRUE(SUCCEEDED(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId_)), &closed)));
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }
  // Types the damping as a person does, and leaves the field.
  static void TypeDamping(CTestPageFrame* frame, const char* text) {
    HWND field = frame->GetDlgItem(static_cast<int>(kSettingsDampingEdit));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(vkr::ui::Click(field));
    SendMessageA(field, EM_SETSEL, 0, -1);
    SendMessageA(field, WM_CLEAR, 0, 0);
    vkr::ui::TypeText(field, text);
    vkr::ui::PumpUntilIdle();
  }
  static void Press(CTestPageFrame* frame, UINT id) {
    ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(static_cast<int>(id)))) << id;
  }
  int Received(int command) const {
    int n = 0;
    for (const auto& r : device_->received) n += r.command == command;
    return n;
  }
  std::size_t WriteMessages() const {
    std::size_t n = 0;
    for (const std::string& m : session_->Frame()->userMessages) n += m.find("did not take") != std::string::npos;
    return n;
  }

  TestPropertyPageClasses pages_;
  DWORD frameCookie_ = 0;
  std::string invokeId_;
};

// OK and Apply over the roads of the damping write: the frame's channel refuses the request or
// fails it, the device answers busy or the link breaks. Each keeps the frame open with the page
// changed and the user's entry in place, tells the user once, and the transmitter keeps its
// damping; the default transmitter then takes the value with OK, which closes the frame.
TEST_F(FrameApply, AWriteTheDeviceDidNotTakeKeepsTheFrameOpenAndTellsTheUser) {
  CTestPageFrame* frame = OpenFrame();
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->m_nDialogType & 0x4, 0x4u) << "the online function opens online dialogs";
  TypeDamping(frame, "12.5");
  ASSERT_EQ(frame->Page(0)->IsPageDirty(), S_OK);

  struct Road {
    const char* what;
    FaultKind fault;
    UINT button;
  } const roads[] = {
      {"the channel refuses the request, OK", FaultKind::Refuse, kTestFrameOk},
      {"the channel fails the request, OK", FaultKind::Fail, kTestFrameOk},
      {"the device is busy, OK", FaultKind::Busy, kTestFrameOk},
      {"the channel refuses the request, Apply", FaultKind::Refuse, kTestFrameApply},
      {"the device is busy, Apply", FaultKind::Busy, kTestFrameApply},
  };
  std::size_t told = 0;
  for (const Road& road : roads) {
    SCOPED_TRACE(road.what);
    Fault fault;
    fault.kind = road.fault;
    fault.command = kDampingCommand;
    Channel().faults.push_back(fault);
    EXPECT_TRUE(IsWindowEnabled(frame->GetDlgItem(static_cast<int>(kTestFrameApply))));
    Press(frame, road.button);
    vkr::frame::WaitUntilQuiet();
    ASSERT_TRUE(IsOpen());
    EXPECT_FALSE(frame->IsClosing());
    EXPECT_EQ(frame->Page(0)->IsPageDirty(), S_OK);
    EXPECT_EQ(vkr::ui::WindowText(frame->GetDlgItem(static_cast<int>(kSettingsDampingEdit))), "12.5");
    EXPECT_EQ(device_->config.damping, 0.75f);
    EXPECT_EQ(WriteMessages(), ++told);
    Channel().faults.clear();
  }

  Press(frame, kTestFrameOk);
  EXPECT_TRUE(PumpUntil([&] { return !IsOpen(); }, 10000));
  EXPECT_EQ(device_->config.damping, 12.5f);
  EXPECT_EQ(WriteMessages(), told);
}

// OK, then Cancel and Yes to "Apply changes?" while OK's write waits for the device: one click,
// one write; the frame closes with the value on the device and no question asked.
TEST_F(FrameApply, CancelWhileOksWriteWaitsDoesNotWriteASecondTime) {
  CTestPageFrame* frame = OpenFrame();
  ASSERT_NE(frame, nullptr);
  TypeDamping(frame, "3.25");
  Fault slow;
  slow.kind = FaultKind::None;
  slow.command = kDampingCommand;
  slow.delayMs = 400;
  Channel().faults.push_back(slow);
  bool clicked = false;
  Channel().onDataExchange = [&](std::size_t) {
    if (clicked || !frame->IsClosing()) return;
    clicked = true;
    vkr::ui::SetMessageBoxScript({{IDYES, nullptr}});
    // Whatever of them the frame lets the user click.
    for (UINT id : {kTestFrameCancel, kTestFrameOk, kTestFrameApply})
      vkr::ui::Click(frame->GetDlgItem(static_cast<int>(id)));
  };
  const int before = Received(kDampingCommand);
  Press(frame, kTestFrameOk);
  EXPECT_TRUE(PumpUntil([&] { return !IsOpen(); }, 10000));
  Channel().onDataExchange = nullptr;
  vkr::frame::WaitUntilQuiet();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(Received(kDampingCommand) - before, 1);
  EXPECT_EQ(device_->config.damping, 3.25f);
  EXPECT_TRUE(vkr::ui::MessageBoxRecord().empty());
}

}  // namespace

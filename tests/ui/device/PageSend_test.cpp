// The pages' Send in the online parameterization frame, end to end: the module's frame and pages
// on the DTM online to the simulated transmitter through the frame's channel. A write the device
// does not confirm is told on the frame's message line and leaves the entry as the user made it;
// an entry typed while the page still reads stays the user's and is what Send writes; a write the
// device confirmed leaves the data set holding it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/FrameHost.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/live_page_host.h"
#include "tests/support/test_streams.h"
#include "tests/support/threading.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/framework/BaseActiveX.h"

namespace {

using namespace vkr::test;
using vkr::frame::Bytes;
using vkr::frame::SimulatedDevice;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;
namespace wire = vkr::frame::wire;

constexpr LONG kOnlineFunction = 1;

// One edit of a page with Send: the page's index in the tree, the control and what the user puts
// there (a combo box gets the item), the entry's parameter, the command its write goes out with,
// the label the message line names, and whether the transmitter then holds it.
struct SEdit {
  const char* page;
  ULONG index;
  UINT control;
  const char* text;
  LONG entry;
  int command;
  const char* label;
  std::function<bool(const SimulatedDevice::Configuration&)> holds;
};

const std::vector<SEdit>& Edits() {
  static const std::vector<SEdit> edits = {
      {"Command", 0, 544, "5", 1026, 35, "Hi Level", [](const auto& c) { return c.upperRange == 5.0f; }},
      {"Process", 1, 399, "3", 1040, 34, "Damping", [](const auto& c) { return c.damping == 3.0f; }},
      {"Device", 3, 205, "NEWTAG", 1012, 18, "Tag",
       [](const auto& c) { return Bytes(c.tagDescriptorDate.begin(), c.tagDescriptorDate.begin() + 6) == wire::PackAscii("NEWTAG", 6); }},
      {"Advanced", 4, 555, "1.5", 1079, 138, "Blanking",
       [](const auto& c) { return wire::GetFloat(c.echoSettings, 2) == 1.5f; }},
      {"HART", 6, 700, "Disabled", 1110, 6, "Loop Current Mode", [](const auto& c) { return c.loopCurrentMode == 0; }},
  };
  return edits;
}

// What the transmitter stores of everything the pages write, as one text.
std::string Stored(const SimulatedDevice::Configuration& c) {
  Bytes floats(16);
  wire::PutFloat(&floats, 0, c.upperRange);
  wire::PutFloat(&floats, 4, c.lowerRange);
  wire::PutFloat(&floats, 8, c.damping);
  wire::PutFloat(&floats, 12, c.fixedCurrent);
  std::string text = wire::ToHex(floats) + "|" + wire::ToHex(c.message) + "|" + wire::ToHex(c.tagDescriptorDate) + "|" +
                     wire::ToHex(c.finalAssembly) + "|" + wire::ToHex(c.longTag) + "|" + wire::ToHex(c.displaySettings) +
                     "|" + wire::ToHex(c.echoSettings) + "|" +
                     wire::ToHex(Bytes{c.rangeUnit, c.pvUnit, c.pollingAddress, c.loopCurrentMode});
  for (const auto& [address, word] : c.memory) text += "|" + std::to_string(address) + "=" + std::to_string(word);
  return text;
}

COnlineParameterization* AsOnlineFrame(IUnknown* control) {
  vkr::ComPtr<IPPFrameCtrl> frame;
  if (!control || FAILED(control->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid())) || !frame) return nullptr;
  return dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(frame.Get()));
}

class PageSend : public LivePageHostTest {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartSession()); }
  void TearDown() override {
    if (session_ && session_->Dtm()) {
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    LivePageHostTest::TearDown();
  }

  vkr::frame::FrameChannel& Channel() const { return *session_->Channel(); }
  // The DTM's function 1 as a frame opens it; with `settle` once its first answers are shown.
  COnlineParameterization* OpenFrame(bool settle) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOnlineFunction));
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    if (!opened) return nullptr;
    COnlineParameterization* frame = AsOnlineFrame(session_->Frame()->activeX.OpenControls().back().control.Get());
    if (frame && settle) {
      EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
      vkr::frame::TransferSession::Pump(1000);
    }
    return frame;
  }
  static CovFDT_BaseActiveXImpl* PageOf(COnlineParameterization* frame, ULONG index) {
    return dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(index));
  }
  static HWND Control(COnlineParameterization* frame, const SEdit& edit) {
    return GetDlgItem(PageOf(frame, edit.index)->DialogWindow(), static_cast<int>(edit.control));
  }
  static std::string Text(COnlineParameterization* frame, const SEdit& edit) {
    return vkr::ui::WindowText(Control(frame, edit));
  }
  static std::string MessageLine(COnlineParameterization* frame) {
    return vkr::ui::WindowText(frame->GetDlgItem(kOnlineMessage));
  }
  static bool Changed(COnlineParameterization* frame, const SEdit& edit) {
    CovFDT_BaseActiveXImpl* page = PageOf(frame, edit.index);
    const LONG index = page->FindParameterIndex(edit.entry);
    return index >= 0 && (page->ParameterTable()[index].m_nState & 0x2) != 0;
  }
  // Selects the page as a person clicks its tree item; with `settle` the messages that started
  // are handled.
  static void Select(COnlineParameterization* frame, ULONG index, bool settle) {
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(index)));
    if (settle) vkr::frame::TransferSession::Pump(500);
  }
  // Puts the user's text into the control as a person does: types into an edit, picks a combo's item.
  static void Enter(COnlineParameterization* frame, const SEdit& edit, const char* text) {
    HWND control = Control(frame, edit);
    ASSERT_NE(control, nullptr) << edit.page;
    char kind[16] = {};
    GetClassNameA(control, kind, sizeof kind);
    if (std::string(kind) == "ComboBox") {
      ASSERT_TRUE(vkr::ui::SelectItem(control, std::string_view(text))) << edit.page;
      return;
    }
    ASSERT_TRUE(vkr::ui::Click(control));
    SendMessageA(control, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(control, text));
  }
  // The frame's Send (its message line emptied first); true once the page's write reached the
  // transmitter or the message line spoke.
  bool Send(COnlineParameterization* frame, int command) {
    HWND line = frame->GetDlgItem(kOnlineMessage);
    SendMessageW(GetParent(line), vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
    const std::size_t before = device_->received.size();
    if (!vkr::ui::Click(frame->GetDlgItem(kOnlineSend))) return false;
    return PumpUntil(
        [&] {
          for (std::size_t i = before; i < device_->received.size(); ++i)
            if (device_->received[i].command == command) return true;
          return !MessageLine(frame).empty();
        },
        20000);
  }
  // Waits out a write that is not answered: true once the message line spoke.
  static bool Told(COnlineParameterization* frame) {
    const bool told = PumpUntil([&] { return !MessageLine(frame).empty(); }, 15000);
    vkr::frame::TransferSession::Pump(300);
    return told;
  }
};

// Every page with Send, every way a write can fail: refused by the frame's channel, the device
// busy, a communication error, no answer at all, and (last, as nothing goes through after it) the
// link lost. Each time the message line names the value that was not written, the entry keeps the
// user's text and its changed mark, the page stays dirty, and the transmitter holds what it held.
// Between them the same entry goes out without a fault and the transmitter holds it.
TEST_F(PageSend, AWriteTheDeviceDidNotConfirmIsToldAndTheEntryStays) {
  COnlineParameterization* frame = OpenFrame(true);
  ASSERT_NE(frame, nullptr);
  struct SFailure {
    const char* kind;
    std::function<void(int command)> inject;
  };
  auto channel = [&](FaultKind kind) {
    return [this, kind](int command) {
      Fault fault;
      fault.kind = kind;
      fault.command = command;
      Channel().faults.push_back(fault);
    };
  };
  const SFailure failures[] = {
      {"refused", channel(FaultKind::Refuse)},
      {"busy", channel(FaultKind::Busy)},
      {"lost", channel(FaultKind::CommunicationError)},
      {"silent",
       [this](int command) {
         vkr::frame::CommandFault silent;
         silent.command = command;
         silent.silent = true;
         device_->InjectFault(silent);
       }},
  };
  for (const SEdit& edit : Edits()) {
    SCOPED_TRACE(edit.page);
    Select(frame, edit.index, true);
    ASSERT_NO_FATAL_FAILURE(Enter(frame, edit, edit.text));
    const std::string told = std::string(edit.label) + " was not written: the device did not confirm it.";
    for (const SFailure& failure : failures) {
      SCOPED_TRACE(failure.kind);
      const std::string stored = Stored(device_->config);
      failure.inject(edit.command);
      EXPECT_TRUE(Send(frame, edit.command));
      EXPECT_TRUE(Told(frame));
      EXPECT_EQ(MessageLine(frame), told);
      EXPECT_EQ(Text(frame, edit), edit.text);
      EXPECT_TRUE(Changed(frame, edit));
      EXPECT_EQ(frame->Page(edit.index)->IsPageDirty(), S_OK);
      EXPECT_EQ(Stored(device_->config), stored);
      Channel().faults.clear();
      device_->ClearFaults();
    }
    // The entry the device did not take goes out with the next Send.
    ASSERT_TRUE(Send(frame, edit.command));
    EXPECT_TRUE(PumpUntil([&] { return edit.holds(device_->config); }, 10000));
    EXPECT_EQ(MessageLine(frame), "");
    EXPECT_FALSE(Changed(frame, edit));
  }

  // The link lost: told the same way, the transmitter as it was.
  const SEdit& edit = Edits().front();
  Select(frame, edit.index, true);
  ASSERT_NO_FATAL_FAILURE(Enter(frame, edit, "4"));
  const std::string stored = Stored(device_->config);
  Fault gone;
  gone.kind = FaultKind::Disconnect;
  gone.command = edit.command;
  Channel().faults.push_back(gone);
  EXPECT_TRUE(Send(frame, edit.command));
  EXPECT_TRUE(Told(frame));
  EXPECT_EQ(MessageLine(frame), "Hi Level was not written: the device did not confirm it.");
  EXPECT_EQ(Text(frame, edit), "4");
  EXPECT_TRUE(Changed(frame, edit));
  EXPECT_EQ(Stored(device_->config), stored);
}

// On every page with device answers, an entry typed while the page still reads is the user's:
// the answers that come after the keystroke (the channel holds every answer back a moment; a
// field beside it that the same answer fills shows "Loading..." until then) leave the entry and
// its changed mark, and Send writes it. The Command page is typed into during its first read after
// opening, the others during their first read when first shown, the Advanced page during the read
// of the frame's Refresh (its fields take input only once they were filled). The Values page shows
// only read-only values: nothing of the user's to keep.
TEST_F(PageSend, AnEntryTypedWhileThePageReadsIsKeptAndSent) {
  // Online first, as a frame host takes the DTM online before it opens the function.
  ASSERT_EQ(ui::GoOnline(session_->Dtm()), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  // Per page, a field the same answer fills: low level, lower range, descriptor, offset, address.
  const UINT witnesses[] = {545, 397, 357, 697, 534};
  auto holdBack = [&](bool on) { Channel().alwaysFault.delayMs = on ? 1000 : 0; };
  holdBack(true);
  COnlineParameterization* frame = OpenFrame(false);
  ASSERT_NE(frame, nullptr);
  for (std::size_t row = 0; row < Edits().size(); ++row) {
    const SEdit& edit = Edits()[row];
    SCOPED_TRACE(edit.page);
    holdBack(true);
    if (row > 0) Select(frame, edit.index, false);
    if (GetWindowLongA(Control(frame, edit), GWL_STYLE) & ES_READONLY) {
      ASSERT_TRUE(PumpUntil([&] { return !(GetWindowLongA(Control(frame, edit), GWL_STYLE) & ES_READONLY); }, 20000));
      ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(kOnlineRefresh)));
    }
    ASSERT_NO_FATAL_FAILURE(Enter(frame, edit, edit.text));
    holdBack(false);
    HWND witness = GetDlgItem(PageOf(frame, edit.index)->DialogWindow(), static_cast<int>(witnesses[row]));
    bool waited = false;
    EXPECT_TRUE(PumpUntil(
        [&] {
          waited = waited || vkr::ui::WindowText(witness) == "Loading...";
          return waited && vkr::ui::WindowText(witness) != "Loading...";
        },
        15000))
        << "the answer came before the keystroke";
    vkr::frame::TransferSession::Pump(1500);
    EXPECT_EQ(Text(frame, edit), edit.text);
    EXPECT_TRUE(Changed(frame, edit));
    ASSERT_TRUE(Send(frame, edit.command));
    EXPECT_TRUE(PumpUntil([&] { return edit.holds(device_->config); }, 10000));
    EXPECT_EQ(MessageLine(frame), "");
  }
}

// A write that the device confirmed leaves the data set holding it, whichever page wrote it, and
// the data set counts as changed, so that the frame saves it.
TEST_F(PageSend, AConfirmedWriteLeavesTheDataSetHoldingIt) {
  COnlineParameterization* frame = OpenFrame(true);
  ASSERT_NE(frame, nullptr);
  IUnknown* dtm = session_->Dtm();
  vkr::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid()), S_OK);
  Bytes range{45};
  range.resize(9);
  wire::PutFloat(&range, 1, 5.0f);
  wire::PutFloat(&range, 5, 7.5f);
  const struct {
    const SEdit& edit;
    ULONG kept;  // the data set's parameter of the write
    std::function<bool(const VARIANT&)> holds;
  } rows[] = {
      {Edits()[0], 1023, [&](const VARIANT& v) { return ui::BytesOf(v) == range; }},
      {Edits()[1], 1022, [](const VARIANT& v) { return v.vt == VT_R4 && v.fltVal == 3.0f; }},
      {Edits()[2], 1054, [](const VARIANT& v) { return v.vt == VT_BSTR && vkr::Utf16ToUtf8(v.bstrVal) == "NEWTAG  "; }},
      {Edits()[3], 1078, [](const VARIANT& v) { return v.vt == VT_R4 && v.fltVal == 1.5f; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.edit.page);
    ASSERT_EQ(persist->Save(EmptyStream().Get(), TRUE), S_OK);
    ASSERT_EQ(persist->IsDirty(), S_FALSE);
    Select(frame, row.edit.index, true);
    ASSERT_NO_FATAL_FAILURE(Enter(frame, row.edit, row.edit.text));
    ASSERT_FALSE(row.holds(ui::ParameterValue(dtm, row.kept)));
    ASSERT_TRUE(Send(frame, row.edit.command));
    ASSERT_TRUE(PumpUntil([&] { return row.edit.holds(device_->config); }, 10000));
    EXPECT_TRUE(row.holds(ui::ParameterValue(dtm, row.kept)));
    EXPECT_EQ(persist->IsDirty(), S_OK);
  }
}

}  // namespace

// The pages' Send in the online parameterization frame, end to end: the module's frame and pages
// on the DTM online to the simulated transmitter through the frame's channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "frame/FrameChannel.h"
#include "include/DtmMessages.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/live_page_host.h"
#include "tests/support/text_log.h"
#include "tests/support/test_streams.h"
#include "ui/device/CommandPP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/ValuesPP.h"
#include "ui/device/kit/LengthUnits.h"

namespace {

using namespace vkr::test;
using vkr::frame::Bytes;
using Device = vkr::frame::SimulatedDevice;
using Config = Device::Configuration;
using Fault = vkr::frame::FrameChannel::Fault;
using FaultKind = vkr::frame::FrameChannel::FaultKind;
namespace wire = vkr::frame::wire;

// One edit of each page with Send: the page's tree index, the control and what the user puts
// there (a combo box: the item), its entry, the command that writes it and the label the message
// line names; whether the transmitter holds it; the data set's parameter that keeps it (0: none)
// and whether it does; a field beside it that the same read fills.
struct SEdit {
  const char* page;
  ULONG index;
  UINT control;
  const char* text;
  LONG entry;
  int command;
  const char* label;
  std::function<bool(const Config&)> written;
  ULONG kept;
  std::function<bool(const VARIANT&)> keeps;
  UINT witness;
};

const std::vector<SEdit>& Edits() {
  static const Bytes range = [] {
    Bytes b{45, 0, 0, 0, 0, 0, 0, 0, 0};
    wire::PutFloat(&b, 1, 5.0f);
    wire::PutFloat(&b, 5, 7.5f);
    return b;
  }();
  auto single = [](float f) { return [f](const VARIANT& v) { return v.vt == VT_R4 && v.fltVal == f; }; };
  static const std::vector<SEdit> edits = {
      {"Command", 0, 544, "5", 1026, 35, "Hi Level", [](const Config& c) { return c.upperRange == 5.0f; }, 1023,
       [](const VARIANT& v) { return ui::BytesOf(v) == range; }, 545},
      {"Process", 1, 399, "3", 1040, 34, "Damping", [](const Config& c) { return c.damping == 3.0f; }, 1022,
       single(3.0f), 397},
      {"Device", 3, 205, "NEWTAG", 1012, 18, "Tag",
       [](const Config& c) {
         return Bytes(c.tagDescriptorDate.begin(), c.tagDescriptorDate.begin() + 6) == wire::PackAscii("NEWTAG", 6);
       },
       1054, [](const VARIANT& v) { return v.vt == VT_BSTR && vkr::Utf16ToUtf8(v.bstrVal) == "NEWTAG  "; }, 357},
      {"Advanced", 4, 555, "1.5", 1079, 138, "Blanking",
       [](const Config& c) { return wire::GetFloat(c.echoSettings, 2) == 1.5f; }, 1078, single(1.5f), 697},
      {"HART", 6, 700, "Disabled", 1110, 6, "Loop Current Mode", [](const Config& c) { return c.loopCurrentMode == 0; },
       0, nullptr, 534},
      // Writes whose record carries other fields of the page from the data set.
      {"Command fail time", 0, 448, "5", 1072, 136, "Fail Time", [](const Config& c) { return c.displaySettings[4] == 5; },
       1071, [](const VARIANT& v) { return v.vt == VT_UI1 && v.bVal == 5; }, 383},
      {"Command damping", 0, 542, "2", 1040, 34, "Damping", [](const Config& c) { return c.damping == 2.0f; }, 1022,
       single(2.0f), 545},
  };
  return edits;
}

std::string Stored(const Config& c) { return vkr::test::StoredSettings(c); }

// The data set as the project would keep it, values and marks, leaving its dirty flag alone.
std::vector<BYTE> DataSetBytes(IPersistStreamInit* dataSet) {
  vkr::ComPtr<IStream> stream = EmptyStream();
  EXPECT_EQ(dataSet->Save(stream.Get(), FALSE), S_OK);
  return BytesOf(stream.Get());
}

class PageSend : public LivePageHostTest {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartSession()); }
  void TearDown() override {
    if (session_ && session_->Dtm()) session_->Frame()->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    LivePageHostTest::TearDown();
  }

  vkr::frame::FrameChannel& Channel() const { return *session_->Channel(); }
  // The next request of COMMAND fails as KIND does.
  void FailNext(FaultKind kind, int command) {
    Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.word = "unknownError";
    Channel().faults.push_back(fault);
  }
  // The DTM's function 1 as a frame opens it, online.
  void OpenFrame() {
    IUnknown* opened = OpenFunction(1);
    ASSERT_NE(opened, nullptr);
    vkr::ComPtr<IPPFrameCtrl> control;
    opened->QueryInterface(IPPFrameCtrl::iid, control.PutVoid());
    frame = dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(control.Get()));
    ASSERT_NE(frame, nullptr);
  }
  CovFDT_BaseActiveXImpl* Page(const SEdit& edit) const {
    return dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(edit.index));
  }
  HWND Item(const SEdit& edit, UINT id) const { return GetDlgItem(Page(edit)->DialogWindow(), static_cast<int>(id)); }
  std::string Text(const SEdit& edit) const { return vkr::ui::WindowText(Item(edit, edit.control)); }
  std::string MessageLine() const { return vkr::ui::WindowText(frame->GetDlgItem(kOnlineMessage)); }
  bool Changed(const SEdit& edit) const {
    const LONG index = Page(edit)->FindParameterIndex(edit.entry);
    return index >= 0 && (Page(edit)->ParameterTable()[index].m_nState & 0x2) != 0;
  }
  // The user's text into the control: typed into an edit, a combo box's item picked.
  void Enter(const SEdit& edit, const char* text) {
    HWND control = Item(edit, edit.control);
    if (vkr::ui::SelectItem(control, std::string_view(text))) return;
    ASSERT_TRUE(vkr::ui::Click(control));
    SendMessageA(control, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(control, text));
  }
  // The frame's Send (its message line emptied first). With `told` until the message line spoke,
  // else until the transmitter holds the edit.
  bool Send(const SEdit& edit, bool told) {
    SendMessageW(frame->m_hWnd, vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
    if (!vkr::ui::Click(frame->GetDlgItem(kOnlineSend))) return false;
    const bool done = PumpUntil([&] { return told ? !MessageLine().empty() : edit.written(device_->config); }, 20000);
    vkr::frame::WaitUntilQuiet();
    return done;
  }

  COnlineParameterization* frame = nullptr;
};

// Every page with Send, every way a write can fail: refused by the frame's channel, the device
// busy, a communication error, no answer, and the link lost (last: nothing goes through after
// it). Each time the message line names the value that was not written, the entry keeps the
// user's text and its changed mark, the page stays dirty, and the transmitter holds what it held.
// The next Send without a fault writes the entry; the data set then holds it, changed.
TEST_F(PageSend, AWriteTheDeviceDidNotConfirmIsToldAndTheEntryStays) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  vkr::ComPtr<IPersistStreamInit> dataSet;
  ASSERT_EQ(session_->Dtm()->QueryInterface(IPersistStreamInit::iid, dataSet.PutVoid()), S_OK);
  // Each failure with the reason the message line gives.
  const std::vector<std::tuple<const char*, std::function<void(int)>, const char*>> failures = {
      {"refused", [&](int command) { FailNext(FaultKind::Refuse, command); }, "the request did not reach the device"},
      {"busy", [&](int command) { FailNext(FaultKind::Busy, command); }, "the device is busy"},
      {"lost", [&](int command) { FailNext(FaultKind::CommunicationError, command); }, "the device's answer was lost"},
      {"silent",
       [&](int command) {
         vkr::frame::CommandFault silent;
         silent.command = command;
         silent.silent = true;
         device_->InjectFault(silent);
       },
       "the device did not answer"},
  };
  for (const SEdit& edit : Edits()) {
    SCOPED_TRACE(edit.page);
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(edit.index)));
    vkr::frame::WaitUntilQuiet();
    ASSERT_NO_FATAL_FAILURE(Enter(edit, edit.text));
    ASSERT_EQ(dataSet->Save(EmptyStream().Get(), TRUE), S_OK);
    const std::vector<BYTE> held = DataSetBytes(dataSet.Get());
    for (const auto& [kind, inject, reason] : failures) {
      SCOPED_TRACE(kind);
      const std::string stored = Stored(device_->config);
      inject(edit.command);
      EXPECT_TRUE(Send(edit, true));
      EXPECT_EQ(MessageLine(), std::string(edit.label) + " was not written: " + reason + ".");
      EXPECT_EQ(Text(edit), edit.text);
      EXPECT_TRUE(Changed(edit));
      EXPECT_EQ(frame->Page(edit.index)->IsPageDirty(), S_OK);
      EXPECT_EQ(Stored(device_->config), stored);
      // Nothing the write carried stays in the data set: the project would be saved as it was.
      EXPECT_EQ(DataSetBytes(dataSet.Get()), held);
      EXPECT_NE(dataSet->IsDirty(), S_OK);
    }
    ASSERT_TRUE(Send(edit, false));
    EXPECT_EQ(MessageLine(), "");
    EXPECT_FALSE(Changed(edit));
    if (edit.kept) {
      EXPECT_TRUE(edit.keeps(ui::ParameterValue(session_->Dtm(), edit.kept)));
      EXPECT_EQ(dataSet->IsDirty(), S_OK);
    }
  }
  const SEdit& edit = Edits().front();
  ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(edit.index)));
  ASSERT_NO_FATAL_FAILURE(Enter(edit, "4"));
  const std::string stored = Stored(device_->config);
  const std::vector<BYTE> held = DataSetBytes(dataSet.Get());
  FailNext(FaultKind::Disconnect, edit.command);
  EXPECT_TRUE(Send(edit, true));
  EXPECT_EQ(MessageLine(), "Hi Level was not written: the connection to the device is lost.");
  EXPECT_EQ(Text(edit), "4");
  EXPECT_TRUE(Changed(edit));
  EXPECT_EQ(Stored(device_->config), stored);
  EXPECT_EQ(DataSetBytes(dataSet.Get()), held);
}

// A Send that stops at an entry the page cannot take writes nothing and says so on every page,
// naming the entry; the transmitter holds what it held.
TEST_F(PageSend, ASendStoppedByAnInvalidEntryNamesIt) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  // The page (its row of Edits()), the edit, what the user types, the entry's name and its limits
  // in the unit shown.
  const std::vector<std::tuple<size_t, UINT, const char*, const char*, const char*>> rows = {
      {0, 544, "abc", "Hi Level", "0 to 66 m"},          // Command: not a number
      {1, 397, "70", "Lower Range Value", "0 to 66 m"},  // Process: beyond 66 m
      {3, 555, "abc", "Blanking", "0 to 66 m"},          // Advanced: not a number
      {4, 534, "16", "Polling Address", "0 to 15"},      // HART: beyond the DTM's short address
  };
  for (const auto& [row, control, text, label, limits] : rows) {
    SCOPED_TRACE(label);
    SEdit edit = Edits()[row];
    edit.control = control;
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(edit.index)));
    vkr::frame::WaitUntilQuiet();
    const std::string was = vkr::ui::WindowText(Item(edit, control));
    ASSERT_NO_FATAL_FAILURE(Enter(edit, text));
    const std::string stored = Stored(device_->config);
    EXPECT_TRUE(Send(edit, true));
    const std::string told = std::string(label) + " was not written: its entry is not valid: ";
    if (limits)
      EXPECT_EQ(MessageLine(), told + limits + ".");
    else
      EXPECT_EQ(MessageLine().rfind(told, 0), 0u) << MessageLine();
    EXPECT_EQ(Stored(device_->config), stored);
    ASSERT_NO_FATAL_FAILURE(Enter(edit, was.c_str()));
  }
}

// A write the device took with a warning, then one it did not answer, was busy for or whose answer
// was lost, and no answer between them (the page's reads after the first do not reach the
// device): the warning was the first write's, and the second is told as not written; the
// transmitter and the data set keep what the first wrote.
TEST_F(PageSend, AWriteAfterAWarnedOneIsToldAsItsOwn) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  vkr::ComPtr<IPersistStreamInit> dataSet;
  ASSERT_EQ(session_->Dtm()->QueryInterface(IPersistStreamInit::iid, dataSet.PutVoid()), S_OK);
  SEdit upper = Edits()[1];
  upper.control = 395;
  upper.entry = 1026;
  SEdit lower = upper;
  lower.control = 397;
  ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(upper.index)));
  ASSERT_TRUE(PumpUntil([&] { return Text(upper) == "0.500"; }, 20000));
  // Each round warned anew: a span below the transmitter's minimum of 0.1 m, another each time.
  const char* warned[] = {"7.45", "7.44", "7.43"};
  int round = 0;
  const std::vector<std::pair<const char*, std::function<void()>>> failures = {
      {"the device did not answer",
       [&] {
         vkr::frame::CommandFault silent;
         silent.command = 35;
         silent.silent = true;
         device_->InjectFault(silent);
       }},
      {"the device is busy", [&] { FailNext(FaultKind::Busy, 35); }},
      {"the device's answer was lost", [&] { FailNext(FaultKind::CommunicationError, 35); }},
  };
  for (const auto& [reason, inject] : failures) {
    SCOPED_TRACE(reason);
    const char* span = warned[round++];
    ASSERT_NO_FATAL_FAILURE(Enter(lower, "7.5"));
    ASSERT_NO_FATAL_FAILURE(Enter(upper, span));
    for (int command : {15, 1, 2}) FailNext(FaultKind::Refuse, command);
    ASSERT_TRUE(Send(upper, true));
    EXPECT_EQ(MessageLine().rfind("Upper Range Value and Lower Range Value were written; the device warns: 0x0E", 0), 0u)
        << MessageLine();
    EXPECT_EQ(device_->config.upperRange, std::stof(span));
    const std::string stored = Stored(device_->config);
    const std::vector<BYTE> held = DataSetBytes(dataSet.Get());

    ASSERT_NO_FATAL_FAILURE(Enter(lower, "7.5"));
    ASSERT_NO_FATAL_FAILURE(Enter(upper, "3"));
    inject();
    EXPECT_TRUE(Send(upper, true));
    EXPECT_EQ(MessageLine().rfind(std::string("Upper Range Value and Lower Range Value were not written: ") + reason, 0),
              0u)
        << MessageLine();
    EXPECT_EQ(Text(upper), "3");
    EXPECT_TRUE(Changed(upper));
    EXPECT_EQ(Stored(device_->config), stored);
    EXPECT_EQ(DataSetBytes(dataSet.Get()), held);
  }
}

// A transmitter whose range and damping are none of the data set's own values: a field that
// showed the data set's value instead of the device's would show 0.500 or 0.700.
class PageReads : public PageSend {
 protected:
  void SetUp() override {
    device_->config.upperRange = 1.25f;
    device_->config.lowerRange = 6.5f;
    device_->config.damping = 1.5f;
    ASSERT_NO_FATAL_FAILURE(StartSession());
  }
  std::string PageText(UINT item) const {
    auto* page = dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(0));
    return vkr::ui::WindowText(GetDlgItem(page->DialogWindow(), static_cast<int>(item)));
  }
  // The DTM's broadcast that an access of `id` failed, as it tells every user interface.
  void TellFailure(LONG id, const char* errorText) {
    static ULONG number = 0x7D000000;
    vkr::Variant failure;
    failure.vt = VT_ARRAY | VT_VARIANT;
    failure.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    vkr::Variant parts[3] = {vkr::Variant(vkr::UI4(static_cast<ULONG>(id))),
                             vkr::Variant(vkr::TextVariant(vkr::Bstr(vkr::Utf8ToUtf16(errorText)).Get())),
                             vkr::Variant(vkr::UI4(number++))};
    for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(failure.parray, &i, &parts[i]);
    auto container = Query<IovFdtActiveXContainer>(session_->Dtm());
    ASSERT_TRUE(container);
    ASSERT_EQ(container->BroadcastToActiveX(vkr::UI4(kBroadcastDeviceAccessFailed), failure), S_OK);
  }
};

// The Command page's read of the range fails: its fields say Not read and the message line why;
// the DTM's word that it is online has the page read again, and then the fields show the device's
// values and the word goes. Then a write fails as the link goes, and a read after it fails too:
// the line tells the write's failure and the read's beside it, not instead.
TEST_F(PageReads, WhatWasNotReadOrWrittenIsToldAndNothingElseIsShown) {
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  ASSERT_TRUE(PumpUntil([&] { return PageText(544) == "1.250"; }, 20000)) << PageText(544);
  Fault refuse;
  refuse.kind = FaultKind::Refuse;
  refuse.command = 15;
  Channel().faults.push_back(refuse);
  ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(kOnlineRefresh)));
  const std::string notRead = "Low Level, Hi Level and Damping could not be read: the request did not reach the device.";
  EXPECT_TRUE(PumpUntil([&] { return MessageLine() == notRead; }, 20000)) << MessageLine();
  for (UINT field : {544u, 545u, 542u}) EXPECT_EQ(PageText(field), "Not read") << field;
  EXPECT_EQ(PageText(448), "0");
  auto container = Query<IovFdtActiveXContainer>(session_->Dtm());
  ASSERT_TRUE(container);
  ASSERT_EQ(container->BroadcastToActiveX(vkr::UI4(10003), vkr::UI4(67)), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return PageText(544) == "1.250" && PageText(545) == "6.500" && PageText(542) == "1.500"; },
                        20000))
      << PageText(544) << " " << PageText(545) << " " << PageText(542);
  EXPECT_EQ(MessageLine(), "");

  SEdit failTime = Edits().front();
  failTime.control = 448;
  ASSERT_NO_FATAL_FAILURE(Enter(failTime, "7"));
  Fault gone;
  gone.kind = FaultKind::Disconnect;
  gone.command = 136;
  Channel().faults.push_back(gone);
  EXPECT_TRUE(Send(failTime, true));
  const std::string notWritten = "Fail Time was not written: the connection to the device is lost.";
  EXPECT_EQ(MessageLine().rfind(notWritten, 0), 0u) << MessageLine();
  ASSERT_NO_FATAL_FAILURE(TellFailure(vkr::dui::kParCommand1Complete, "communication error: noConnection"));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(MessageLine(), notWritten + " The distance reading could not be read: the connection to the device is lost.");
  EXPECT_EQ(PageText(448), "7");
}

// The Values page reads cyclically: a read that failed is told and its fields say Not read, and
// the next answer shows the device's values and ends the word; a failure while the fields show
// values takes them away too (a measured value of a moment ago is not the device's now), as the
// frame does with its distance reading.
TEST_F(PageReads, TheValuesPagesWordOnAFailedReadGoesWithTheNextAnswer) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, vkr::dui::kValuesSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const DWORD period = 200;
  ASSERT_EQ(RegSetValueExA(key, vkr::dui::kValuesPeriodValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&period),
                           sizeof period),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  auto pv = [&] {
    auto* page = dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(2));
    return vkr::ui::WindowText(GetDlgItem(page->DialogWindow(), static_cast<int>(vkr::dui::kValuesValueEdits[0])));
  };
  const std::string told = "The Values page's values could not be read: the device is busy.";
  // The next answer may replace the word within one message of the frame's on a slow machine:
  // the texts the line took are judged, with the value shown at that moment.
  const HWND line = frame->GetDlgItem(kOnlineMessage);
  std::string pvWhenTold;
  CTextLog::Watch(line, [&](const std::string& text) {
    if (text == told) pvWhenTold = pv();
  });
  for (const char* before : {"the first read", "a later read"}) {
    SCOPED_TRACE(before);
    CTextLog::Reset();
    pvWhenTold.clear();
    Fault busy;
    busy.kind = FaultKind::Busy;
    busy.command = 3;
    Channel().faults.push_back(busy);
    const bool first = std::string(before) == "the first read";
    if (first) {
      ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), 2));
    }
    EXPECT_TRUE(PumpUntil([&] { return CTextLog::Saw(line, told); }, 20000)) << MessageLine();
    EXPECT_EQ(pvWhenTold, "Not read");
    EXPECT_TRUE(PumpUntil([&] { return MessageLine().empty() && pv() == "2.500"; }, 20000)) << MessageLine() << pv();
  }
  CTextLog::Unhook(line);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, vkr::dui::kValuesSettingsKey);
}

// ---- Numbers with their unit -----------------------------------------------------------------

// A transmitter in a length unit (its PV unit and range unit, its range in the range unit and its
// blanking in the PV unit), the unit texts each page shows beside its distances, what the user
// types as Hi Level, and the unit the user then chooses.
struct SUnitCase {
  const char* name;
  BYTE pvUnit, rangeUnit;
  float upper, lower, blanking;
  const char* levels;      // Command page, beside Low and Hi Level: the range unit
  const char* pvText;      // Process page, beside the PV and in both unit combos
  const char* rangeText;   // Process page, beside the range values
  const char* pvLabel;     // Advanced page, beside blanking and offset
  const char* reading;     // the frame, beside the distance reading
  const char* shownUpper;  // Hi Level as the pages show it
  const char* typed;
  const char* chosen;
  BYTE chosenUnit;
};

const SUnitCase kUnitCases[] = {
    {"m", 45, 45, 0.5f, 7.5f, 0.3f, "meters", "Metres (m)", "Metres (m)", "meters", "meters", "0.500", "0.6",
     "Millimetres (mm)", 49},
    {"ft", 44, 44, 1.5f, 24.5f, 1.0f, "ft", "Feet (ft)", "Feet (ft)", "ft", "feet", "1.500", "2.25", "Metres (m)", 45},
    {"mm", 49, 49, 500.0f, 7500.0f, 300.0f, "mm", "Millimetres (mm)", "Millimetres (mm)", "mm", "mm", "500.000", "600",
     "Feet (ft)", 44},
    {"cm_mm", 48, 49, 500.0f, 7500.0f, 30.0f, "mm", "Centimetres (cm)", "Millimetres (mm)", "cm", "cm", "500.000",
     "600", "Inches (in)", 47},
};

class PageUnits : public PageSend, public ::testing::WithParamInterface<SUnitCase> {
 protected:
  // The transmitter in the case's units, its limits in metres (the Command page compares them in
  // the range unit), every distance distinct; its data set uploaded.
  void SetUp() override {
    const SUnitCase& u = GetParam();
    auto& c = device_->config;
    c.pvUnit = u.pvUnit;
    c.rangeUnit = u.rangeUnit;
    c.upperRange = u.upper;
    c.lowerRange = u.lower;
    wire::PutFloat(&c.echoSettings, 2, u.blanking);
    wire::PutFloat(&c.echoSettings, 6, -u.blanking / 4);
    ASSERT_NO_FATAL_FAILURE(StartSession());
    bool uploaded = false;
    ASSERT_EQ(session_->Upload(&uploaded), S_OK);
    ASSERT_TRUE(uploaded);
  }
  // The page at the tree index shown, once its item shows the text.
  void Show(ULONG index, UINT item, const char* text) {
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(index)));
    EXPECT_TRUE(PumpUntil([&] { return PageText(index, item) == text; }, 20000)) << PageText(index, item);
  }
  std::string PageText(ULONG index, UINT item) const {
    auto* page = dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(index));
    return vkr::ui::WindowText(GetDlgItem(page->DialogWindow(), static_cast<int>(item)));
  }
  // What the transmitter keeps of the range, the units and the echo settings.
  std::string Held() const {
    const Config& c = device_->config;
    Bytes range{c.pvUnit, c.rangeUnit};
    wire::PutFloat(&range, 2, c.upperRange);
    wire::PutFloat(&range, 6, c.lowerRange);
    return wire::ToHex(range) + " " + wire::ToHex(c.echoSettings);
  }
};

// Each page shows every distance beside the unit it is in: the Command page its levels beside the
// range unit and the PV unit in its combo, the Process page the PV and range each beside its own,
// the Advanced page blanking and offset beside the PV unit, the frame the reading beside the PV
// unit. Hi Level typed and sent goes out as command 35 with the range unit and both levels in it,
// whatever the sensor limits' unit. A unit chosen and sent goes out as command 44 (one the device
// refused leaves the data set's unit); the transmitter converts its distances, the data set
// follows, and a download after it leaves the transmitter as it was.
TEST_P(PageUnits, EveryDistanceShowsItsUnitAndSendWritesNumbersInTheirs) {
  const SUnitCase& u = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  ASSERT_NO_FATAL_FAILURE(Show(1, 395, u.shownUpper));
  EXPECT_TRUE(PumpUntil([&] { return PageText(1, 382) == u.pvText; }, 10000)) << PageText(1, 382);
  for (UINT item : {384u, 386u}) EXPECT_EQ(PageText(1, item), u.rangeText);
  EXPECT_EQ(PageText(1, 381), u.pvText);
  ASSERT_NO_FATAL_FAILURE(Show(4, 596, u.pvLabel));
  EXPECT_EQ(PageText(4, 594), u.pvLabel);
  ASSERT_NO_FATAL_FAILURE(Show(0, 544, u.shownUpper));
  for (UINT item : {598u, 595u}) EXPECT_EQ(PageText(0, item), u.levels);
  EXPECT_EQ(PageText(0, 381), u.pvText);
  EXPECT_TRUE(PumpUntil([&] { return vkr::ui::WindowText(frame->GetDlgItem(kOnlineReadingUnit)) == u.reading; }, 15000))
      << vkr::ui::WindowText(frame->GetDlgItem(kOnlineReadingUnit));

  // Hi Level in the range unit.
  const float typed = std::stof(u.typed);
  SEdit hiLevel = Edits().front();
  hiLevel.written = [&](const Config& c) { return c.upperRange == typed; };
  ASSERT_NO_FATAL_FAILURE(Enter(hiLevel, u.typed));
  device_->received.clear();
  EXPECT_TRUE(Send(hiLevel, false));
  Bytes range{u.rangeUnit};
  wire::PutFloat(&range, 1, typed);
  wire::PutFloat(&range, 5, u.lower);
  const auto requests = [&](int command) {
    std::vector<Bytes> out;
    for (const auto& r : device_->received)
      if (r.command == command) out.push_back(r.request);
    return out;
  };
  EXPECT_EQ(requests(35), std::vector<Bytes>{range});
  EXPECT_TRUE(requests(44).empty());
  EXPECT_EQ(device_->config.rangeUnit, u.rangeUnit);
  EXPECT_EQ(device_->config.lowerRange, u.lower);
  EXPECT_EQ(MessageLine(), "");

  // Another unit chosen.
  SEdit unit = hiLevel;
  unit.control = 381;
  unit.written = [&](const Config& c) { return c.pvUnit == u.chosenUnit; };
  ASSERT_NO_FATAL_FAILURE(Enter(unit, u.chosen));
  // Refused first: the data set keeps its unit (its distances stay under theirs).
  Fault refuse;
  refuse.kind = FaultKind::Refuse;
  refuse.command = 44;
  Channel().faults.push_back(refuse);
  EXPECT_TRUE(Send(unit, true));
  EXPECT_EQ(MessageLine(), "Display Unit was not written: the request did not reach the device.");
  EXPECT_EQ(ui::ParameterValue(session_->Dtm(), 1024).bVal, u.pvUnit);
  device_->received.clear();
  EXPECT_TRUE(Send(unit, false));
  EXPECT_EQ(requests(44), std::vector<Bytes>{Bytes{u.chosenUnit}});
  EXPECT_FLOAT_EQ(wire::GetFloat(device_->config.echoSettings, 2),
                  Device::ConvertLength(u.blanking, u.pvUnit, u.chosenUnit));
  EXPECT_FLOAT_EQ(device_->config.upperRange, Device::ConvertLength(typed, u.rangeUnit, u.chosenUnit));
  EXPECT_TRUE(PumpUntil([&] { return PageText(0, 595) == vkr::dui::LengthUnitLabel(u.chosenUnit); }, 10000))
      << PageText(0, 595);
  session_->Frame()->activeX.CloseAll();
  vkr::ui::PumpUntilIdle();
  const std::string held = Held();
  bool downloaded = false;
  ASSERT_EQ(session_->Download(&downloaded), S_OK);
  EXPECT_TRUE(downloaded);
  EXPECT_EQ(Held(), held);
}

void PrintTo(const SUnitCase& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(LengthUnits, PageUnits, ::testing::ValuesIn(kUnitCases),
                         [](const ::testing::TestParamInfo<SUnitCase>& info) { return std::string(info.param.name); });

// ---- Distances checked in their unit, refused by the transmitter ------------------------------

// A distance the user enters on a page, in metres (typed in the transmitter's unit, as "%.3f"
// shows it), and what becomes of it: written, refused by the entry's check (its limits, 0 to 66 m
// for levels and blanking, 0.5 m either way for the offset, converted into the unit shown), or
// refused by the transmitter (its sensor reaches 0.3 to 8 m, the offset 0.5 m), which the message
// line names.
struct SDistanceRow {
  const char* what;
  ULONG page;
  UINT control;
  double metres;
  enum { Written, EntryRefused, DeviceRefused, Warned } outcome;
  const char* told = "";
};

const SDistanceRow kDistanceRows[] = {
    {"Process: Lower Range Value", 1, 397, 7.0, SDistanceRow::Written},
    {"Process: Lower Range Value near the probe's end", 1, 397, 7.6, SDistanceRow::Written},
    {"Process: Upper Range Value", 1, 395, 0.6, SDistanceRow::Written},
    {"Process: Lower Range Value beyond the probe", 1, 397, 9.0, SDistanceRow::DeviceRefused,
     "Lower Range Value was not written: the device refused it: 0x09 (lower range value too high)."},
    {"Process: Lower Range Value beyond its limits", 1, 397, 70.0, SDistanceRow::EntryRefused},
    {"Process: a span below the transmitter's minimum", 1, 395, 7.45, SDistanceRow::Warned,
     "Upper Range Value was written; the device warns: 0x0E (span too small, the device's accuracy may be impaired)."},
    {"Command: Low Level", 0, 545, 7.0, SDistanceRow::Written},
    {"Command: Hi Level", 0, 544, 0.6, SDistanceRow::Written},
    {"Command: Hi Level below its limits", 0, 544, -1.0, SDistanceRow::EntryRefused},
    {"Command: digitize distance", 0, 547, 3.0, SDistanceRow::Written},
    {"Command: digitize distance beyond its limits", 0, 547, 70.0, SDistanceRow::EntryRefused},
    {"Advanced: Blanking", 4, 555, 1.0, SDistanceRow::Written},
    {"Advanced: Blanking beyond its limits", 4, 555, 70.0, SDistanceRow::EntryRefused},
    {"Advanced: Blanking beyond the probe", 4, 555, 9.0, SDistanceRow::DeviceRefused,
     "Blanking was not written: the device refused it: 0x03 (passed parameter too large)."},
    {"Advanced: Distance Offset", 4, 697, 0.4, SDistanceRow::Written},
    {"Advanced: Distance Offset beyond its limits", 4, 697, 0.6, SDistanceRow::EntryRefused},
};

class PageDistances : public PageSend, public ::testing::WithParamInterface<BYTE> {
 protected:
  // The transmitter in the unit, its distances converted by its own unit change: a range of 0.5 to
  // 7.5 m, 0.3 m blanking and an offset of -12.3 mm, none of them a round number in inches or feet.
  void SetUp() override {
    wire::PutFloat(&device_->config.echoSettings, 6, -0.0123f);
    ASSERT_EQ(device_->Execute(44, {GetParam()}).commandResponse, 0);
    initial_ = device_->config;
    ASSERT_NO_FATAL_FAILURE(StartSession());
    bool uploaded = false;
    ASSERT_EQ(session_->Upload(&uploaded), S_OK);
    ASSERT_TRUE(uploaded);
  }
  // The transmitter's setting the control writes (range values, blanking, offset, the digitize
  // distance of command 136) and the other member of its record, which the user did not touch.
  static std::pair<float, float> Settings(const Config& c, UINT control) {
    const float blanking = wire::GetFloat(c.echoSettings, 2), offset = wire::GetFloat(c.echoSettings, 6);
    switch (control) {
      case 395:
      case 544: return {c.upperRange, c.lowerRange};
      case 397:
      case 545: return {c.lowerRange, c.upperRange};
      case 555: return {blanking, offset};
      case 697: return {offset, blanking};
      default: return {wire::GetFloat(c.displaySettings, 6), 0.0f};
    }
  }
  HWND PageItem(ULONG page, UINT id) const {
    return GetDlgItem(dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(page))->DialogWindow(), static_cast<int>(id));
  }
  Config initial_;
};

// Each distance on each page, on a transmitter in m, cm, mm, in and ft, from the same starting
// state: the entry's limits hold in the unit beside it (a value within them goes to the
// transmitter, one outside is marked and nothing is written), the transmitter refuses what it
// cannot measure and keeps what it held while the message line names the value and the reason,
// and the member of the record the user did not touch goes back bit for bit as it was read.
TEST_P(PageDistances, EveryDistanceIsCheckedInItsUnitAndRefusedByTheTransmitterBeyondItsSensor) {
  const BYTE unit = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenFrame());
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session_->Dtm()) == dsONLINE; }, 20000));
  DWORD ticks = 0;
  dynamic_cast<CCommandPP*>(frame->Page(0))->SetDigitizeClock({[&] { return ticks; }, [&](DWORD ms) { ticks += ms; }});
  const auto stored = [](const Config& c) { return Stored(c) + wire::ToHex(c.displaySettings); };
  for (const SDistanceRow& row : kDistanceRows) {
    SCOPED_TRACE(row.what);
    // Every row from the same transmitter, read again.
    device_->config = initial_;
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), static_cast<int>(row.page)));
    ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(kOnlineRefresh)));
    const UINT shown = row.control == 547 ? 544 : row.control;
    ASSERT_TRUE(PumpUntil(
        [&] {
          const std::string text = vkr::ui::WindowText(PageItem(row.page, shown));
          return !text.empty() && text != "Loading...";
        },
        20000));
    vkr::frame::WaitUntilQuiet();
    if (row.control == 547) {
      ASSERT_TRUE(vkr::ui::Click(PageItem(0, 702)));
    }
    char typed[32];
    std::snprintf(typed, sizeof typed, "%.3f", *vkr::dui::ConvertLength(row.metres, 45, unit));
    SEdit edit = Edits().front();
    edit.index = row.page;
    edit.control = row.control;
    ASSERT_NO_FATAL_FAILURE(Enter(edit, typed));
    device_->received.clear();
    session_->Frame()->userMessages.clear();
    SendMessageW(frame->m_hWnd, vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
    ASSERT_TRUE(vkr::ui::Click(row.control == 547 ? PageItem(0, 546) : frame->GetDlgItem(kOnlineSend)));
    const int command = row.control == 547 ? 136 : row.page == 4 ? 138 : 35;
    const auto sent = [&] {
      for (const auto& r : device_->received)
        if (r.command == command) return true;
      return false;
    };
    if (row.outcome == SDistanceRow::EntryRefused) {
      vkr::frame::WaitUntilQuiet();
      EXPECT_FALSE(sent());
      EXPECT_EQ(stored(device_->config), stored(initial_));
      if (row.control == 547) {
        ASSERT_FALSE(session_->Frame()->userMessages.empty());
        EXPECT_NE(session_->Frame()->userMessages.back().find("The digitize distance must lie between"),
                  std::string::npos)
            << session_->Frame()->userMessages.back();
      } else {
        auto* page = dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(row.page));
        const CActXParInfo* table = page->ParameterTable();
        bool marked = false;
        for (ULONG i = 0; !table[i].IsEnd(); ++i)
          if (table[i].m_nCtrlId == row.control) marked = (table[i].m_nState & 0x4) != 0;
        EXPECT_TRUE(marked);
      }
      continue;
    }
    if (row.outcome == SDistanceRow::DeviceRefused) {
      EXPECT_TRUE(PumpUntil([&] { return !MessageLine().empty(); }, 20000));
      EXPECT_TRUE(sent());
      EXPECT_EQ(MessageLine(), row.told);
      EXPECT_EQ(stored(device_->config), stored(initial_));
      continue;
    }
    if (row.outcome == SDistanceRow::Warned) {
      EXPECT_TRUE(PumpUntil([&] { return !MessageLine().empty(); }, 20000));
      EXPECT_EQ(MessageLine(), row.told);
    }
    const float number = std::stof(typed);
    EXPECT_TRUE(PumpUntil([&] { return Settings(device_->config, row.control).first == number; }, 20000))
        << typed << " " << Settings(device_->config, row.control).first;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(Settings(device_->config, row.control).second),
              std::bit_cast<std::uint32_t>(Settings(initial_, row.control).second));
    EXPECT_EQ(device_->config.rangeUnit, unit);
  }
}

INSTANTIATE_TEST_SUITE_P(LengthUnits, PageDistances, ::testing::Values(45, 48, 49, 47, 44),
                         [](const ::testing::TestParamInfo<BYTE>& info) {
                           return std::string(vkr::dui::LengthUnitLabel(info.param));
                         });

}  // namespace

// The controls that keep the DTM online (the online parameter control, function 3; the
// offline/online values control) and the echo trace control (function 6), end to end: the real
// DTM on the frame's channel to the simulated transmitter, the controls opened and closed by the
// frame as a frame does. What is checked is what the DTM and the transmitter hold afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/Quiet.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/EchoTrace.h"
#include "ui/device/OfflineOnlineParam.h"
#include "ui/device/OnlineParam.h"

namespace {

using namespace vkr::dui;
using vkr::frame::FrameChannel;
using vkr::test::FindItem;
using vkr::test::PumpUntil;

constexpr LONG kOnlineFunction = 1;   // online parameterization: the controls read the device
constexpr LONG kOfflineFunction = 5;  // offline parameterization: an offline dialog

// The offline/online values control with the DTM messages it sends on record; otherwise the
// module's class.
class CRecordingValues : public COfflineOnlineParam {
 public:
  HRESULT SendDtmMessage(ULONG message, VARIANT argument) override {
    if (message == kDtmMessageAuditTrail) auditTrail.push_back(argument.vt == VT_I2 ? argument.iVal : 99);
    return COfflineOnlineParam::SendDtmMessage(message, argument);
  }
  static std::vector<int> auditTrail;
};
std::vector<int> CRecordingValues::auditTrail;

// The real DTM on the frame's channel to a transmitter whose identification and values differ from
// everything a test writes; the controls are opened by the frame's host.
class OnlineControls : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    device_->SetTagAndDescriptor("LEVEL1", "TANK NORTH");
    device_->config.tagDescriptorDate[18] = 7;
    device_->config.tagDescriptorDate[19] = 3;
    device_->config.tagDescriptorDate[20] = 115;
    device_->SetMessage("FIRST MESSAGE");
    device_->config.pv = 2.75f;
    device_->config.sv = 3.25f;
    StartSession();
    dtm = session_->Dtm();
  }
  void TearDown() override {
    if (session_) session_->Frame()->activeX.CloseAll();
    LivePageHostTest::TearDown();
  }

  vkr::frame::ActiveXHost& Host() { return session_->Frame()->activeX; }
  // Opens the class for the function's call as the frame opens a control; its invoke id, or ""
  // when it did not open.
  std::string Open(const CLSID& clsid, LONG function) {
    return OpenWith(clsid, vkr::Bstr(vkr::frame::FunctionCallDocument(function)));
  }
  std::string OpenWith(const CLSID& clsid, const vkr::Bstr& call) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const HRESULT hr = Host().OpenClass(dtm, clsid, call.Get(), &opened);
    // An online control reads the device again when the DTM tells it is online: let those
    // answers arrive before the user types.
    vkr::frame::WaitUntilQuiet();
    if (hr != S_OK || !opened) return "";
    return Host().OpenControls().back().invokeId;
  }
  bool CloseByFrame(const std::string& id) {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(id)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }
  HWND Window(const std::string& id) {
    const auto* open = Host().Find(id);
    return open ? open->window : nullptr;
  }
  // The control's dialog (the frame's own windows carry ids too).
  HWND Dialog(const std::string& id) { return GetParent(FindItem(Window(id), kValuesFormCurrent)); }
  // A button of the control pressed: what the button tells its dialog when it is clicked.
  void Click(const std::string& id, int button) {
    HWND item = GetDlgItem(Dialog(id), button);
    ASSERT_TRUE(item) << button;
    ASSERT_TRUE(IsWindowEnabled(item)) << button;
    SendMessageA(Dialog(id), WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(item));
    vkr::ui::PumpUntilIdle();
  }
  void Type(const std::string& id, int item, const std::string& text) {
    HWND edit = FindItem(Window(id), item);
    ASSERT_TRUE(edit) << item;
    ASSERT_TRUE(vkr::ui::Click(edit));
    SendMessageA(edit, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(edit, text));
    vkr::ui::PumpUntilIdle();
  }
  // An item's text without the blanks the device pads its fields with.
  std::string Text(const std::string& id, int item) { return Trimmed(vkr::ui::WindowText(FindItem(Window(id), item))); }

  ULONG Counter() {
    LONG n = -1;
    CovFDT_BaseActiveXImpl::ReadNumber(vkr::test::ui::ParameterValue(dtm, kParOnlineAxCounter), &n);
    return static_cast<ULONG>(n);
  }
  EDtmState State() { return vkr::test::ui::DtmState(dtm); }
  bool WaitForState(EDtmState state) { return PumpUntil([&] { return State() == state; }, 20000); }
  void GoOnline() {
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(WaitForState(dsONLINE));
    vkr::frame::WaitUntilQuiet();  // the open controls read the device again
  }
  static std::string Trimmed(std::string text) { return text.erase(text.find_last_not_of(' ') + 1); }
  int Received(int command) const {
    int n = 0;
    for (const auto& r : device_->received) n += r.command == command;
    return n;
  }
  void RecordValuesControl() {
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CRecordingValues>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CRecordingValues>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_OfflineOnlineParam, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
    CRecordingValues::auditTrail.clear();
  }

  IUnknown* dtm = nullptr;
};

struct CountedControl {
  const char* name;
  CLSID clsid;
  LONG function;
  int ownClose;  // the control's own button that closes it
};
const CountedControl kCountedControls[] = {
    {"online parameters", CLSID_OnlineParam, 3, kValuesFormClose},
    {"offline/online values", CLSID_OfflineOnlineParam, kOnlineFunction, IDCANCEL},
};

// Two of a kind open: the first takes the DTM online, the count follows every opening and
// closing, closing the first by the frame leaves the DTM online, closing the last by its own
// button takes it offline.
TEST_F(OnlineControls, TheLastCountedControlToCloseTakesTheDtmOffline) {
  for (const CountedControl& c : kCountedControls) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(State(), dsCOMMUNICATIONSET);
    ASSERT_EQ(Counter(), 0u);
    const std::string first = Open(c.clsid, c.function);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(WaitForState(dsONLINE));
    EXPECT_EQ(Counter(), 1u);
    const std::string second = Open(c.clsid, c.function);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(Counter(), 2u);

    EXPECT_TRUE(CloseByFrame(first));
    EXPECT_EQ(Counter(), 1u);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(State(), dsONLINE);

    Click(second, c.ownClose);
    EXPECT_TRUE(PumpUntil([&] { return Host().Find(second) == nullptr; }, 5000));
    EXPECT_EQ(Counter(), 0u);
    EXPECT_TRUE(WaitForState(dsCOMMUNICATIONSET));
  }
}

// Instances that did not count in take nothing away: a control whose start failed, and the values
// control opened as an offline dialog, closed while an online parameter control is open, leave
// the count and the DTM online as they were; the counted one still takes the DTM offline.
TEST_F(OnlineControls, AnInstanceThatDidNotCountLeavesTheDtmOnline) {
  const std::string counted = Open(CLSID_OnlineParam, 3);
  ASSERT_FALSE(counted.empty());
  ASSERT_TRUE(WaitForState(dsONLINE));
  ASSERT_EQ(Counter(), 1u);

  const struct {
    const char* name;
    std::function<std::string()> open;
  } uncounted[] = {
      {"failed start, online parameters", [&] { return OpenWith(CLSID_OnlineParam, vkr::Bstr(u"<not a call")); }},
      {"failed start, values", [&] { return OpenWith(CLSID_OfflineOnlineParam, vkr::Bstr(u"<not a call")); }},
      {"offline values dialog", [&] { return Open(CLSID_OfflineOnlineParam, kOfflineFunction); }},
      {"echo trace", [&] { return Open(CLSID_EchoTrace, 6); }},
  };
  for (const auto& u : uncounted) {
    SCOPED_TRACE(u.name);
    const std::string id = u.open();
    EXPECT_EQ(Counter(), 1u);
    if (!id.empty()) {
      EXPECT_TRUE(CloseByFrame(id));
    }
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(Counter(), 1u);
    EXPECT_EQ(State(), dsONLINE);
  }
  EXPECT_TRUE(CloseByFrame(counted));
  EXPECT_EQ(Counter(), 0u);
  EXPECT_TRUE(WaitForState(dsCOMMUNICATIONSET));
}

// The values control shows the transmitter's values (and looks as kept) and writes what the user
// changed: the message on its own (command 17), tag, descriptor and date together once (command 18); an entry that does
// not fit the device is refused and nothing is sent.
TEST_F(OnlineControls, ValuesControlWritesTheChangedIdentificationToTheTransmitter) {
  GoOnline();
  const std::string id = Open(CLSID_OfflineOnlineParam, kOnlineFunction);
  ASSERT_FALSE(id.empty());
  const bool shown = PumpUntil([&] { return Text(id, kValuesFormTag) == "LEVEL1"; }, 10000);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(PumpUntil([&] { return Text(id, kValuesFormPv) == "2.750"; }, 10000)) << Text(id, kValuesFormPv);
  vkr::test::ExpectLooksAsKept(Window(id), "offline_online_values");
  EXPECT_EQ(Text(id, kValuesFormSv), "3.250");
  EXPECT_EQ(Text(id, kValuesFormDescriptor), "TANK NORTH");
  EXPECT_EQ(Text(id, kValuesFormMessage), "FIRST MESSAGE");
  EXPECT_EQ(Text(id, kValuesFormDay), "7");
  EXPECT_EQ(Text(id, kValuesFormMonth), "3");
  EXPECT_EQ(Text(id, kValuesFormYear), "115");

  using Bytes = vkr::frame::Bytes;
  const struct {
    const char* name;
    std::vector<std::pair<int, std::string>> typed;
    int button;
    int messageWrites, identificationWrites;
    std::string message, tag, descriptor;
    Bytes date;
  } cases[] = {
      {"message only", {{kValuesFormMessage, "SECOND MESSAGE"}}, kApplyButtonId, 1, 0, "SECOND MESSAGE", "LEVEL1",
       "TANK NORTH", {7, 3, 115}},
      {"tag, descriptor and date", {{kValuesFormTag, "LT200"}, {kValuesFormDescriptor, "SOUTH SILO"},
        {kValuesFormDay, "28"}, {kValuesFormMonth, "11"}, {kValuesFormYear, "126"}},
       kApplyButtonId, 0, 1, "SECOND MESSAGE", "LT200", "SOUTH SILO", {28, 11, 126}},
      {"tag only: descriptor and date stay the device's", {{kValuesFormTag, "LT300"}}, kApplyButtonId, 0, 1,
       "SECOND MESSAGE", "LT300", "SOUTH SILO", {28, 11, 126}},
      {"year out of range", {{kValuesFormYear, "300"}}, IDOK, 0, 0, "SECOND MESSAGE", "LT300", "SOUTH SILO",
       {28, 11, 126}},
      {"month out of range", {{kValuesFormYear, "126"}, {kValuesFormMonth, "13"}}, IDOK, 0, 0, "SECOND MESSAGE",
       "LT300", "SOUTH SILO", {28, 11, 126}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int messages = Received(17), identifications = Received(18);
    for (const auto& [item, text] : c.typed) Type(id, item, text);
    Click(id, c.button);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(Received(17) - messages, c.messageWrites);
    EXPECT_EQ(Received(18) - identifications, c.identificationWrites);
    EXPECT_EQ(Trimmed(device_->Message()), c.message);
    EXPECT_EQ(Trimmed(device_->Tag()), c.tag);
    EXPECT_EQ(Trimmed(device_->Descriptor()), c.descriptor);
    EXPECT_EQ(Bytes(device_->config.tagDescriptorDate.begin() + 18, device_->config.tagDescriptorDate.end()), c.date);
  }
  // OK with a refused entry kept the control open.
  EXPECT_NE(Host().Find(id), nullptr);
  EXPECT_TRUE(CloseByFrame(id));

  // Opened as an offline dialog the control edits the data set only.
  session_->Frame()->userAnswers.push_back("buttonNo");
  const std::string offline = Open(CLSID_OfflineOnlineParam, kOfflineFunction);
  ASSERT_FALSE(offline.empty());
  const int messages = Received(17);
  Type(offline, kValuesFormMessage, "PLANNED NOTE");
  Click(offline, IDOK);
  vkr::frame::WaitUntilQuiet();
  // Closing asks whether the changes go to the device; the user says no.
  ASSERT_FALSE(session_->Frame()->userMessages.empty());
  EXPECT_NE(session_->Frame()->userMessages.back().find("Download Parameters"), std::string::npos);
  EXPECT_EQ(Received(17), messages);
  EXPECT_EQ(Trimmed(device_->Message()), "SECOND MESSAGE");
  const vkr::Variant stored = vkr::test::ui::ParameterValue(dtm, 1051);
  ASSERT_EQ(stored.vt, VT_BSTR);
  EXPECT_EQ(Trimmed(vkr::Utf16ToUtf8(vkr::View(stored.bstrVal))), "PLANNED NOTE");
}

// A write that meets a fault (a silent wire, a busy transmitter, the DTM gone offline under the
// control) has the audit trail switched off again, and the transmitter holds either its old
// identification or the one typed, never a mix; the control keeps working and the next write goes
// through.
TEST_F(OnlineControls, AWriteThatMeetsAFaultSwitchesTheAuditTrailOffAndWritesNothingWrong) {
  RecordValuesControl();
  GoOnline();
  const std::string id = Open(CLSID_OfflineOnlineParam, kOnlineFunction);
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(PumpUntil([&] { return Text(id, kValuesFormTag) == "LEVEL1"; }, 10000));

  const struct {
    const char* name;
    const char* tag;
    std::function<void()> inject;
  } faults[] = {
      {"no answer", "SILENT",
       [&] {
         FrameChannel::Fault silent;
         silent.kind = FrameChannel::FaultKind::NoAnswer;
         silent.command = 18;
         session_->Channel()->faults.push_back(silent);
       }},
      {"busy", "BUSY",
       [&] {
         vkr::frame::CommandFault busy;
         busy.command = 18;
         busy.commandResponse = vkr::frame::hart::kBusy;
         device_->InjectFault(busy);
       }},
      {"offline", "OFFLN", [&] {
         ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK);
         ASSERT_TRUE(WaitForState(dsCOMMUNICATIONSET));
       }},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    const std::string before = Trimmed(device_->Tag());
    const vkr::frame::Bytes identification = device_->config.tagDescriptorDate;
    CRecordingValues::auditTrail.clear();
    Type(id, kValuesFormTag, f.tag);
    f.inject();
    Click(id, kApplyButtonId);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(CRecordingValues::auditTrail, (std::vector<int>{-1, 0}));
    const std::string after = Trimmed(device_->Tag());
    EXPECT_TRUE(after == before || after == f.tag) << after;
    EXPECT_EQ(vkr::frame::Bytes(device_->config.tagDescriptorDate.begin() + 6, device_->config.tagDescriptorDate.end()),
              vkr::frame::Bytes(identification.begin() + 6, identification.end()));
    if (f.name == std::string("offline")) {
      EXPECT_EQ(after, before);
    }
    session_->Channel()->faults.clear();
    device_->ClearFaults();
    ASSERT_NE(Host().Find(id), nullptr);
  }

  GoOnline();
  // OK with a write the frame's channel refuses: the control stays open with the entry, the user
  // is told, and the transmitter keeps its tag.
  {
    const std::string before = Trimmed(device_->Tag());
    const std::size_t told = session_->Frame()->userMessages.size();
    FrameChannel::Fault refused;
    refused.kind = FrameChannel::FaultKind::Refuse;
    refused.command = 18;
    session_->Channel()->faults.push_back(refused);
    Type(id, kValuesFormTag, "OKBUSY");
    Click(id, IDOK);
    vkr::frame::WaitUntilQuiet();
    EXPECT_NE(Host().Find(id), nullptr) << "OK closed the control over a write the device did not take";
    EXPECT_EQ(Trimmed(device_->Tag()), before);
    EXPECT_EQ(Text(id, kValuesFormTag), "OKBUSY");
    ASSERT_EQ(session_->Frame()->userMessages.size(), told + 1);
    EXPECT_NE(session_->Frame()->userMessages.back().find("did not take"), std::string::npos)
        << session_->Frame()->userMessages.back();
    session_->Channel()->faults.clear();
  }
  Type(id, kValuesFormTag, "GOOD");
  Click(id, IDOK);
  EXPECT_TRUE(PumpUntil([&] { return Trimmed(device_->Tag()) == "GOOD"; }, 10000)) << device_->Tag();
  EXPECT_TRUE(PumpUntil([&] { return Host().Find(id) == nullptr; }, 5000));
}

// A short answer to the identification read leaves descriptor and date unknown: a changed tag is
// then not written (the device would get guesses for the rest), the user is told, and the message,
// a command of its own, still goes.
TEST_F(OnlineControls, AnIdentificationTheDeviceDidNotGiveIsNotWritten) {
  vkr::frame::CommandFault shortAnswer;
  shortAnswer.command = 13;
  shortAnswer.truncateTo = 10;
  shortAnswer.persistent = true;
  device_->InjectFault(shortAnswer);
  GoOnline();
  const std::string id = Open(CLSID_OfflineOnlineParam, kOnlineFunction);
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(PumpUntil([&] { return Text(id, kValuesFormMessage) == "FIRST MESSAGE"; }, 10000));
  const vkr::frame::Bytes identification = device_->config.tagDescriptorDate;
  const std::size_t told = session_->Frame()->userMessages.size();
  Type(id, kValuesFormTag, "NEWTAG");
  Type(id, kValuesFormMessage, "STILL WRITTEN");
  Click(id, IDOK);
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Received(18), 0);
  EXPECT_EQ(device_->config.tagDescriptorDate, identification);
  EXPECT_EQ(Trimmed(device_->Message()), "STILL WRITTEN");
  ASSERT_EQ(session_->Frame()->userMessages.size(), told + 1);
  EXPECT_NE(session_->Frame()->userMessages.back().find("could not be read"), std::string::npos);
  EXPECT_NE(Host().Find(id), nullptr);
}

// The online parameter control and the echo trace look as kept; the online one greys function 3
// while it runs, its Apply stays greyed whatever is typed and its OK writes nothing (it binds no
// parameter); the echo trace opens and closes without touching the device.
TEST_F(OnlineControls, OnlineParameterAndEchoTraceControlsWriteNothing) {
  GoOnline();
  const int before = static_cast<int>(device_->received.size());
  const std::string online = Open(CLSID_OnlineParam, 3);
  ASSERT_FALSE(online.empty());
  vkr::test::ExpectLooksAsKept(Window(online), "online_parameters");
  const std::string echo = Open(CLSID_EchoTrace, 6);
  ASSERT_FALSE(echo.empty());
  vkr::test::ExpectLooksAsKept(Window(echo), "echo_trace");  // its buttons hidden, nothing else
  vkr::ComPtr<IUnknown> control = Host().Find(online)->control;
  auto* object = dynamic_cast<COnlineParam*>(vkr::test::Query<IOnlineParam>(control.Get()).Get());
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsFunctionDisabled());
  for (int item : {kValuesFormTag, kValuesFormDay}) Type(online, item, "7");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Dialog(online), kApplyButtonId)));
  Click(online, IDOK);
  EXPECT_TRUE(PumpUntil([&] { return Host().Find(online) == nullptr; }, 5000));
  EXPECT_FALSE(object->IsFunctionDisabled());
  control = nullptr;
  EXPECT_TRUE(CloseByFrame(echo));
  for (std::size_t i = static_cast<std::size_t>(before); i < device_->received.size(); ++i) {
    const int command = device_->received[i].command;
    EXPECT_TRUE(command != 17 && command != 18 && command != 6 && command != 22) << command;
  }
}

}  // namespace

// Every communication fault the stand-in frame's channel can inject, against everything the DTM
// does with the transmitter: going online, reading, writing, going offline and verifying the
// device. The real DTM with its thread, its communication client and the real connection object
// talk to the frame's channel and the simulated transmitter behind it. Each cell must end in a
// defined state with the failure reported, and nothing may stay stuck: afterwards the DTM goes
// online and offline again.
//
// The time-outs are the DTM's own (5000 ms a request, 60000 ms going online); the fake clock runs
// them in milliseconds.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <tuple>

#include "communication/CMyConnection.h"
#include "frame/FrameDocuments.h"
#include "module/CDtmThread.h"
#include "module/VornExampleDtmModule.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "tests/support/module_classes.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/threading.h"

namespace {

using vkr::frame::FrameChannel;
using vkr::frame::FrameContainer;
using vkr::test::Empty;
using vkr::test::UI4;
using Fault = FrameChannel::Fault;
using FaultKind = FrameChannel::FaultKind;

using vkr::frame::kSystemTag;
using vkr::frame::kFrameVersion;
using vkr::frame::kDeviceType;
using vkr::frame::kUserInformation;
constexpr char16_t kVerificationList[] = u"DeviceVerification\\036D1498-387B-11D4-86E1-00E0987270B9";

// The parameters and the HART commands that carry them.
constexpr ULONG kPrimaryValue = 1049;  // read with command 3 (24 bytes; the PV in bytes 5 to 8)
constexpr int kCommandRead = 3;        // also the first transaction of the upload list
constexpr ULONG kDamping = 1022;       // written with command 34 (4 bytes, echoed)
constexpr int kCommandWrite = 34;
constexpr ULONG kLoopCurrentMode = 1108;  // verified, read with command 7 (2 bytes)
constexpr int kCommandVerify = 7;

constexpr DWORD kRequestTimeout = 5000;
constexpr DWORD kLate = kRequestTimeout + 2000;
constexpr DWORD kLongestWait = 61000;  // going online waits 60000 ms
constexpr int kPumpMs = 30000;         // real time for a pumped wait; the fake clock needs far less

enum class Case {
  NoAnswer,
  Late,
  Duplicate,
  WrongInvokeId,
  Malformed,
  CommunicationError,
  Busy,
  ShortData,
  Disconnect,
  FrameAbort,
};
enum class Operation { GoOnline, Read, Write, GoOffline, Verification };

const char* const kCaseNames[] = {"NoAnswer",           "Late", "Duplicate", "WrongInvokeId", "Malformed",
                                  "CommunicationError", "Busy", "ShortData", "Disconnect",    "FrameAbort"};
const char* const kOperationNames[] = {"GoOnline", "Read", "Write", "GoOffline", "Verification"};

// The fault for the next request of `command` (-1: the next request of any kind); short data
// keeps `keep` bytes of a data exchange's answer.
Fault MakeFault(Case c, int command, std::size_t keep) {
  Fault f;
  f.command = command;
  switch (c) {
    case Case::NoAnswer: f.kind = FaultKind::NoAnswer; break;
    case Case::Late: f.delayMs = kLate; break;
    case Case::Duplicate: f.kind = FaultKind::TwoAnswers; break;
    case Case::WrongInvokeId: f.kind = FaultKind::WrongInvokeId; break;
    case Case::Malformed: f.kind = FaultKind::MalformedDocument; break;
    case Case::CommunicationError:
      f.kind = FaultKind::CommunicationError;
      f.word = "unknownError";
      break;
    case Case::Busy: f.kind = FaultKind::Busy; break;
    case Case::ShortData:
      f.kind = FaultKind::TruncatedData;
      f.keepBytes = keep;
      break;
    case Case::Disconnect: f.kind = FaultKind::Disconnect; break;
    case Case::FrameAbort: f.kind = FaultKind::Abort; break;
  }
  return f;
}

// Whether the request the fault hits fails. A duplicate answer is harmless; short data touches
// only requests that carry data.
bool Fails(Case c, Operation o) {
  if (c == Case::Duplicate) return false;
  if (c == Case::ShortData) return o == Operation::Read || o == Operation::Write || o == Operation::Verification;
  return true;
}
// Whether a blocking request waits out its time-out: no usable answer comes for it. (An answer
// that cannot be read leaves the waiter to its time-out.) Everything else ends at once, a request
// the frame refuses included.
bool WaitsForTimeout(Case c) {
  return c == Case::NoAnswer || c == Case::Late || c == Case::WrongInvokeId || c == Case::Malformed;
}

class CommunicationFaults : public testing::TestWithParam<std::tuple<Case, Operation>> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // The fake clock before anything sets a timer.
    clock = std::make_unique<vkr::test::FakeTickCount>(1000);
    // The module's classes the DTM creates by class id: its thread object and its connection.
    ASSERT_EQ(classes.Register(), S_OK);
    vkr::ComPtr<IClassFactory> dtmFactory;
    ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, dtmFactory.PutVoid()), S_OK);
    ASSERT_EQ(dtmFactory->CreateInstance(nullptr, IID_IUnknown, dtm.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IDtm::iid, idtm.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtDeviceVerification::iid, verification.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFDTCommClientTransferParamList2::iid, transfer.PutVoid()), S_OK);
    vkr::ComPtr<IDtm2> idtm2;
    vkr::ComPtr<IPersistStreamInit> persist;
    vkr::ComPtr<IovFDTParamList> lists;
    ASSERT_EQ(dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFDTParamList::iid, lists.PutVoid()), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    channel->fdt121 = true;
    device = channel->devices.front();

    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(persist->InitNew(), S_OK);
    ASSERT_EQ(idtm2->Environment2(vkr::Bstr(kSystemTag), frame.Get(), vkr::Bstr(kFrameVersion), &result), S_OK);
    ASSERT_EQ(idtm->InitNew(vkr::Bstr(kDeviceType), &result), S_OK);
    ASSERT_EQ(idtm->Config(vkr::Bstr(kUserInformation), &result), S_OK);
    ASSERT_EQ(idtm->SetCommunication(channel.Get(), &result), S_OK);
    ASSERT_EQ(State(), dsCOMMUNICATIONSET);

    // The device is verified by its loop current mode, which the transmitter and the data set
    // agree on (1).
    vkr::Variant key;
    key.vt = VT_BSTR;
    key.bstrVal = SysAllocString(kVerificationList);
    ASSERT_EQ(lists->CreateList(key, Empty(), Empty(), Empty(), &result), S_OK);
    vkr::Variant members;
    members.vt = VT_ARRAY | VT_VARIANT;
    members.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG index = 0;
    VARIANT id = UI4(kLoopCurrentMode);
    ASSERT_EQ(SafeArrayPutElement(members.parray, &index, &id), S_OK);
    ASSERT_EQ(lists->AddMembers(key, members, &result), S_OK);

    // The DTM thread runs now: from here on the clock runs with the frame's thread.
    driver = std::make_unique<vkr::test::FakeClockDriver>();
  }

  void TearDown() override {
    if (idtm) {
      if (channel) channel->faults.clear();
      VARIANT_BOOL result = VARIANT_FALSE;
      if (State() == dsONLINE) GoOffline();
      // As a frame does: the communication goes back once the DTM said it may.
      if (idtm->PrepareToReleaseCommunication(&result) == S_OK)
        Pump([&] { return Noted("prepared to release communication"); });
      idtm->ReleaseCommunication(&result);
      idtm->PrepareToRelease(&result);
    }
    driver.reset();
    transfer = nullptr;
    verification = nullptr;
    info = nullptr;
    handler = nullptr;
    events = nullptr;
    base = nullptr;
    idtm = nullptr;
    dtm = nullptr;
    classes.Revoke();
    channel = nullptr;
    frame = nullptr;
    vkr::test::DrainQueue();
    clock.reset();
    CoUninitialize();
  }

  EDtmState State() {
    EDtmState state = dsUNDEFINED;
    if (base) base->GetDTMState(&state);
    return state;
  }
  ULONG VerificationStatus() {
    vkr::Variant status;
    VARIANT_BOOL done = VARIANT_FALSE;
    verification->GetDeviceVerificationStatus(status.Put(), &done);
    return status.vt == VT_UI4 ? status.ulVal : 99;
  }
  // Serves the thread's messages until `until` holds; false once the fake clock has passed the
  // longest wait of the DTM (or, should it stand still, after kPumpMs of real time).
  bool Pump(const std::function<bool()>& until) {
    const DWORD start = GetTickCount();
    vkr::test::PumpUntil([&] { return until() || GetTickCount() - start > kLongestWait; }, kPumpMs);
    return until();
  }
  // Lets `ms` of the fake clock pass while the thread serves its messages.
  void Pass(DWORD ms) {
    const DWORD start = GetTickCount();
    Pump([&] { return GetTickCount() - start >= ms; });
  }

  // Online as a user interface asks for it (DTM message 10), the device verified.
  void GoOnline() {
    ASSERT_EQ(events->DtmMessage(UI4(10), Empty()), S_OK);
    ASSERT_TRUE(Pump([&] { return State() == dsONLINE && VerificationStatus() == 2; }))
        << "state " << State() << ", verification " << VerificationStatus() << Journal();
  }
  // What the channel and the frame saw, for a failure's message.
  std::string Journal() {
    std::string out;
    for (const auto& c : channel->calls) out += "\n  channel: " + c.method;
    for (const auto& f : channel->failures) out += "\n  refused: " + f;
    for (const auto& n : frame->notifications) out += "\n  frame: " + n;
    return out;
  }
  // Offline as a user interface asks for it (DTM message 11).
  void GoOffline() {
    ASSERT_EQ(events->DtmMessage(UI4(11), Empty()), S_OK);
    ASSERT_TRUE(Pump([&] { return State() == dsCOMMUNICATIONSET; })) << "state " << State();
  }

  bool Noted(const std::string& start) {
    for (const std::string& line : frame->notifications)
      if (line.rfind(start, 0) == 0) return true;
    return false;
  }
  std::size_t ErrorsToFrame() {
    std::size_t n = 0;
    for (const std::string& line : frame->notifications) n += line.rfind("error ", 0) == 0;
    return n;
  }
  bool FrameWasAskedToAbort() {
    for (const auto& call : channel->calls)
      if (call.method == "Abort") return true;
    return false;
  }
  // The device value the DTM holds for the parameter, as a float (NaN when it has none).
  float DeviceValue(ULONG id) {
    vkr::Variant value;
    if (FAILED(info->GetParameterField(UI4(id), UI4(0x200000), value.Put())) || value.vt != VT_R4)
      return std::numeric_limits<float>::quiet_NaN();
    return value.fltVal;
  }
  static VARIANT R4(float f) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = f;
    return v;
  }

  // Runs `call` (a blocking request) and checks how long it held the caller on the fake clock.
  template <class Call>
  void Timed(const char* what, Case c, Call call) {
    const DWORD start = GetTickCount();
    call();
    const DWORD held = GetTickCount() - start;
    if (WaitsForTimeout(c))
      EXPECT_GE(held, kRequestTimeout) << what;
    else
      EXPECT_LT(held, kRequestTimeout) << what << ": ended before its time-out";
  }

  void RunGoOnline(Case c);
  void RunRead(Case c);
  void RunWrite(Case c);
  void RunGoOffline(Case c);
  void RunVerification(Case c);
  // Nothing stuck: online and offline again, with a read between.
  void ReachableAgain();

  std::unique_ptr<vkr::test::FakeTickCount> clock;
  std::unique_ptr<vkr::test::FakeClockDriver> driver;
  vkr::test::ModuleClasses classes;
  vkr::ComPtr<IUnknown> dtm;
  vkr::ComPtr<IDtm> idtm;
  vkr::ComPtr<IovFdtBaseDTM> base;
  vkr::ComPtr<IovFdtDtmEvents> events;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IovFdtParameterInfo> info;
  vkr::ComPtr<IovFdtDeviceVerification> verification;
  vkr::ComPtr<IovFDTCommClientTransferParamList2> transfer;
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  std::shared_ptr<vkr::frame::SimulatedDevice> device;
};

// Going online the way the DTM's online services do it: the fault hits the connect.
void CommunicationFaults::RunGoOnline(Case c) {
  const bool fails = Fails(c, Operation::GoOnline);
  channel->faults.push_back(MakeFault(c, -1, 0));
  VARIANT_BOOL verified = fails ? VARIANT_TRUE : VARIANT_FALSE;
  ASSERT_EQ(base->TryToGoOnlineAndVerifyDevice(60000, 30000, &verified), S_OK);
  if (fails) {
    EXPECT_EQ(verified, VARIANT_FALSE) << "a DTM that did not get online was reported verified";
    EXPECT_TRUE(Pump([&] { return State() == dsCOMMUNICATIONSET; })) << "state " << State();
  } else {
    EXPECT_EQ(verified, VARIANT_TRUE);
    EXPECT_EQ(State(), dsONLINE);
  }
}

// Reading as the user interfaces do: a read nobody waits for, a blocking read, and the upload
// list (a list transfer), each hit by the fault.
void CommunicationFaults::RunRead(Case c) {
  const bool fails = Fails(c, Operation::Read);
  ASSERT_NO_FATAL_FAILURE(GoOnline());
  const std::size_t errors = ErrorsToFrame();
  channel->faults.push_back(MakeFault(c, kCommandRead, 4));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(handler->ReadDeviceParameter(UI4(kPrimaryValue), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE) << "the read was not sent";
  if (fails) {
    EXPECT_TRUE(Pump([&] { return ErrorsToFrame() > errors; })) << "the failed read was not reported";
    Pass(kLate);  // a late answer, if one comes, changes nothing now
    EXPECT_NE(DeviceValue(kPrimaryValue), device->config.pv);
  } else {
    EXPECT_TRUE(Pump([&] { return DeviceValue(kPrimaryValue) == device->config.pv; }));
    EXPECT_EQ(ErrorsToFrame(), errors);
  }

  channel->faults.clear();
  channel->faults.push_back(MakeFault(c, kCommandRead, 4));
  done = fails ? VARIANT_TRUE : VARIANT_FALSE;
  Timed("blocking read", c, [&] { handler->ReadDeviceParameterEx(UI4(kPrimaryValue), &done); });
  EXPECT_EQ(done, fails ? VARIANT_FALSE : VARIANT_TRUE) << "blocking read";

  // The upload of the device's parameters: a transaction that fails is one failed transaction,
  // and one the frame refuses fails at once.
  if (State() == dsONLINE) {
    channel->faults.clear();
    channel->faults.push_back(MakeFault(c, kCommandRead, 4));
    done = fails ? VARIANT_TRUE : VARIANT_FALSE;
    vkr::Variant list;
    list.vt = VT_BSTR;
    list.bstrVal = SysAllocString(u"UploadList");
    Timed("upload", c, [&] { transfer->UploadParamList2(list, nullptr, VARIANT_FALSE, &done); });
    EXPECT_EQ(done, fails ? VARIANT_FALSE : VARIANT_TRUE) << "upload";
  }
  EXPECT_EQ(State(), c == Case::FrameAbort ? dsCOMMUNICATIONSET : dsONLINE);
}

// Writing as the user interfaces do: a write nobody waits for and a blocking one.
void CommunicationFaults::RunWrite(Case c) {
  const bool fails = Fails(c, Operation::Write);
  ASSERT_NO_FATAL_FAILURE(GoOnline());
  const std::size_t errors = ErrorsToFrame();
  channel->faults.push_back(MakeFault(c, kCommandWrite, 2));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(handler->WriteDeviceParameter(UI4(kDamping), R4(0.75f), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE) << "the write was not sent";
  if (fails) {
    EXPECT_TRUE(Pump([&] { return ErrorsToFrame() > errors; })) << "the failed write was not reported";
  } else {
    EXPECT_TRUE(Pump([&] { return DeviceValue(kDamping) == 0.75f; }));
    EXPECT_EQ(ErrorsToFrame(), errors);
  }
  Pass(kLate);

  channel->faults.clear();
  channel->faults.push_back(MakeFault(c, kCommandWrite, 2));
  done = fails ? VARIANT_TRUE : VARIANT_FALSE;
  Timed("blocking write", c, [&] { handler->WriteDeviceParameterEx(UI4(kDamping), R4(0.5f), &done); });
  EXPECT_EQ(done, fails ? VARIANT_FALSE : VARIANT_TRUE) << "blocking write";
  if (!fails) {
    EXPECT_EQ(device->config.damping, 0.5f);
  }
  EXPECT_EQ(State(), c == Case::FrameAbort ? dsCOMMUNICATIONSET : dsONLINE);
}

// Going offline as a user interface asks for it: the fault hits the disconnect. The DTM gets
// offline in every case, and when the frame did not confirm the disconnection the DTM asks it to
// abort the connection, so that nothing stays open at the frame.
void CommunicationFaults::RunGoOffline(Case c) {
  const bool fails = Fails(c, Operation::GoOffline);
  ASSERT_NO_FATAL_FAILURE(GoOnline());
  channel->faults.push_back(MakeFault(c, -1, 0));
  ASSERT_NO_FATAL_FAILURE(GoOffline());
  EXPECT_EQ(FrameWasAskedToAbort(), fails && c != Case::FrameAbort);
  Pass(kLate);
  EXPECT_EQ(channel->ConnectionCount(), 0u) << "a connection stayed open at the frame";
  EXPECT_EQ(State(), dsCOMMUNICATIONSET);
}

// Verifying the device after going online: the fault hits the verification's read. The user is
// asked whether to disconnect (the frame answers yes) unless the connection is gone already.
void CommunicationFaults::RunVerification(Case c) {
  const bool fails = Fails(c, Operation::Verification);
  channel->faults.push_back(MakeFault(c, kCommandVerify, 1));
  VARIANT_BOOL verified = fails ? VARIANT_TRUE : VARIANT_FALSE;
  ASSERT_EQ(base->TryToGoOnlineAndVerifyDevice(60000, 30000, &verified), S_OK);
  EXPECT_EQ(verified, fails ? VARIANT_FALSE : VARIANT_TRUE);
  if (fails) {
    EXPECT_TRUE(Pump([&] { return State() == dsCOMMUNICATIONSET; })) << "state " << State();
    EXPECT_EQ(frame->userMessages.size(), c == Case::FrameAbort ? 0u : 1u);
  } else {
    EXPECT_EQ(State(), dsONLINE);
    EXPECT_TRUE(frame->userMessages.empty());
  }
}

void CommunicationFaults::ReachableAgain() {
  SCOPED_TRACE("afterwards");
  channel->faults.clear();
  Pass(kLate);
  if (State() == dsONLINE) {
    ASSERT_NO_FATAL_FAILURE(GoOffline());
  }
  ASSERT_EQ(State(), dsCOMMUNICATIONSET);
  ASSERT_NO_FATAL_FAILURE(GoOnline());
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(handler->ReadDeviceParameterEx(UI4(kPrimaryValue), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(DeviceValue(kPrimaryValue), device->config.pv);
  ASSERT_NO_FATAL_FAILURE(GoOffline());
}

TEST_P(CommunicationFaults, EndInADefinedStateWithTheFailureReportedAndNothingStuck) {
  const auto [c, operation] = GetParam();
  switch (operation) {
    case Operation::GoOnline: ASSERT_NO_FATAL_FAILURE(RunGoOnline(c)); break;
    case Operation::Read: ASSERT_NO_FATAL_FAILURE(RunRead(c)); break;
    case Operation::Write: ASSERT_NO_FATAL_FAILURE(RunWrite(c)); break;
    case Operation::GoOffline: ASSERT_NO_FATAL_FAILURE(RunGoOffline(c)); break;
    case Operation::Verification: ASSERT_NO_FATAL_FAILURE(RunVerification(c)); break;
  }
  ReachableAgain();
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommunicationFaults,
    testing::Combine(testing::Values(Case::NoAnswer, Case::Late, Case::Duplicate, Case::WrongInvokeId,
                                     Case::Malformed, Case::CommunicationError, Case::Busy, Case::ShortData,
                                     Case::Disconnect, Case::FrameAbort),
                     testing::Values(Operation::GoOnline, Operation::Read, Operation::Write, Operation::GoOffline,
                                     Operation::Verification)),
    [](const testing::TestParamInfo<std::tuple<Case, Operation>>& info) {
      return std::string(kCaseNames[static_cast<int>(std::get<0>(info.param))]) + "_" +
             kOperationNames[static_cast<int>(std::get<1>(info.param))];
    });

}  // namespace

// The DTM thread object on its own thread, driven through the thread manager with a fake DTM and
// a fake frame on the test thread: the job table, the request queue, cancel, going online and
// offline, and the cyclic reads under the fake clock.
#include <algorithm>
#include <gtest/gtest.h>

#include "tests/support/dtm_thread_fakes.h"
#include "tests/support/threading.h"

namespace vkr::test {
namespace {

using DtmThreadJobs = DtmThreadFixture;

TEST_F(DtmThreadJobs, NumbersOutsideTheTableAndJob23AreRefused) {
  for (ULONG job : {0u, 23u, 36u, 1000u}) EXPECT_EQ(Job(job), S_FALSE) << "job " << job;
  VARIANT notNumber = TextArg(u"three");
  EXPECT_EQ(manager.ExecuteJob(0, notNumber), S_FALSE);
  // A job number that is no number fails with the conversion's error.
  vkr::Variant id(notNumber), result;
  EXPECT_FALSE(SUCCEEDED(manager.GetDtmThread()->Execute(id, Empty(), &result)));
  VariantClear(&notNumber);
}

// The posted notifications: each reaches the frame (or the DTM) with the system tag.
TEST_F(DtmThreadJobs, PostedNotificationsReachTheFrame) {
  struct Case {
    ULONG job;
    const char16_t* argument;  // null: no argument
    const char* expected;
  } cases[] = {
      {13, nullptr, "frame scan TAG"},
      {14, nullptr, "frame released TAG"},
      {16, u"changed", "frame param TAG changed"},
      {17, u"it failed", "frame error TAG it failed"},
      {18, u"channel", "frame channel TAG channel"},
      {19, u"go there", "frame navigation TAG go there"},
      {22, u"INV-1", "frame closed INV-1"},
      {33, u"<state/>", "frame state TAG <state/>"},
  };
  dtm->state = dsCONFIGURED;
  for (const Case& c : cases) {
    const HRESULT hr = c.argument ? Job(c.job, c.argument) : Job(c.job);
    EXPECT_EQ(hr, S_OK) << "job " << c.job;
    EXPECT_TRUE(FrameHas(c.expected)) << "job " << c.job << ": " << frame->journal.Joined();
  }
  EXPECT_EQ(Job(21, UI4(1)), S_OK);
  EXPECT_TRUE(FrameHas("frame online TAG 1"));
  EXPECT_EQ(Job(21, UI4(0)), S_OK);
  EXPECT_TRUE(FrameHas("frame online TAG 0"));
  // 28 to 32 are DTM messages 64 to 68.
  for (ULONG job = 28; job <= 32; ++job) {
    EXPECT_EQ(Job(job, I4(5)), S_OK);
    EXPECT_TRUE(DtmHas("msg " + std::to_string(job + 36) + " i4:5")) << dtm->journal.Joined();
  }
}

TEST_F(DtmThreadJobs, ParameterChangeIsAnnouncedOnlyFromStateInitialized) {
  dtm->state = dsENVIRONMENTSET;
  EXPECT_EQ(Job(16, u"early"), S_OK);
  Fence();
  EXPECT_FALSE(frame->journal.Has("frame param TAG early"));
  dtm->state = dsINITIALIZED;
  EXPECT_EQ(Job(16, u"now"), S_OK);
  EXPECT_TRUE(FrameHas("frame param TAG now"));
}

TEST_F(DtmThreadJobs, DataAccessJobsGoToTheDtmsHandler) {
  EXPECT_EQ(Job(24, u"INV"), S_OK);
  EXPECT_TRUE(DtmHas("sda items INV"));
  EXPECT_EQ(Job(25, I4(3)), S_OK);
  EXPECT_TRUE(DtmHas("sda read i4:3"));
  EXPECT_EQ(Job(26, I4(4)), S_OK);
  EXPECT_TRUE(DtmHas("sda write i4:4"));
  // The cancel runs at once, while the caller waits.
  EXPECT_EQ(Job(27, u"INV"), S_OK);
  EXPECT_TRUE(dtm->journal.Has("sda cancel bstr:INV"));
  // Without the handler they succeed and do nothing.
  dtm->hidden.insert(IovSdaHandler::iid);
  EXPECT_EQ(Job(27, u"X"), S_OK);
  EXPECT_EQ(Job(24, u"X"), S_OK);
  Fence();
  EXPECT_TRUE(dtm->journal.With("sda items X").empty());
}

TEST_F(DtmThreadJobs, FunctionListIsAnnouncedOnlyWhenItChanges) {
  dtm->state = dsCONFIGURED;
  EXPECT_EQ(Job(12), S_OK);
  EXPECT_TRUE(FrameHas("frame functions TAG"));
  EXPECT_TRUE(dtm->journal.Has("functions"));  // asked with the operation-phase document
  EXPECT_EQ(Job(12), S_OK);
  Fence();
  EXPECT_EQ(Count(frame->journal, "frame functions TAG"), 1u);
  // Below state 7 a new list is kept but not announced.
  dtm->state = dsENVIRONMENTSET;
  dtm->functions = u"<FDT a=\"1\"/>";
  EXPECT_EQ(Job(12), S_OK);
  Fence();
  EXPECT_EQ(Count(frame->journal, "frame functions TAG"), 1u);
}

TEST_F(DtmThreadJobs, FrameWithoutEventInterfaceHearsNothing) {
  frame->hidden.insert(IDtmEvents::iid);
  frame->hidden.insert(IFrameDtmStateEvents::iid);
  EXPECT_EQ(Job(17, u"lost"), S_OK);  // posted; the notification fails on the thread
  EXPECT_EQ(Job(33, u"<s/>"), S_OK);
  DtmFence();
  EXPECT_TRUE(frame->journal.entries.empty()) << frame->journal.Joined();
}

TEST_F(DtmThreadJobs, HandOverJobsRefuseArgumentsWithoutEvent) {
  // Checked at once: the caller of these jobs waits for the event inside the array.
  EXPECT_EQ(Job(34, I4(1)), E_FAIL);
  EXPECT_EQ(Job(35, Empty()), E_FAIL);
  VARIANT nullArray;
  VariantInit(&nullArray);
  nullArray.vt = VT_ARRAY | VT_VARIANT;
  EXPECT_EQ(Job(34, nullArray), E_POINTER);
  // Jobs 1 and 2 need an interface.
  EXPECT_NE(Job(1, u"no object"), S_OK);
  // An object without the frame's container is not taken as the frame.
  EXPECT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IovFdtBaseDTM*>(dtm.Get())), S_OK);
  Fence();  // the old frame is still there: the fence reaches it
}

TEST_F(DtmThreadJobs, JobOneReplacesTheDtm) {
  vkr::ComPtr<vkr::ComObject<FakeDtm>> other;
  ASSERT_EQ(vkr::MakeObject(&other), S_OK);
  VARIANT object;
  VariantInit(&object);
  object.vt = VT_UNKNOWN;
  object.punkVal = static_cast<IovFdtBaseDTM*>(other.Get());
  EXPECT_EQ(Job(1, object), S_OK);
  EXPECT_EQ(Job(28, I4(0)), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return other->journal.Has("msg 64 i4:0"); }));
  EXPECT_FALSE(dtm->journal.Has("msg 64 i4:0"));
  // Give the thread its DTM back, so that the old one is released.
  object.punkVal = static_cast<IovFdtBaseDTM*>(dtm.Get());
  EXPECT_EQ(Job(1, object), S_OK);
  Fence();
  EXPECT_TRUE(PumpUntil([&] { return other->RefCount() == 1; }));
}

// ---- Transfers -------------------------------------------------------------------------------

using DtmThreadTransfers = DtmThreadFixture;

TEST_F(DtmThreadTransfers, UploadRunsAndReportsItsEnd) {
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(dtm->journal.Has("msg 48 bool:0"));  // sent while the caller waits
  EXPECT_TRUE(FrameHas("frame upload U1 1"));
  EXPECT_TRUE(dtm->journal.Has("upload U1 P"));
  // The next request is accepted once the first has ended.
  EXPECT_EQ(Job(4, Request(u"D1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame download D1 1"));
}

TEST_F(DtmThreadTransfers, SecondRequestIsRefusedWhileOneIsPending) {
  HRESULT second = S_OK, third = S_OK;
  dtm->onTransfer = [&](bool, const std::string&) {
    // The frame asks again while the first request runs.
    second = Job(3, Request(u"U2", u"P"));
    third = Job(4, Request(u"D2", u"P"));
    return S_OK;
  };
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U1 1"));
  EXPECT_EQ(second, E_FAIL);
  EXPECT_EQ(third, E_FAIL);
  // Going offline is refused too while a request is pending.
  HRESULT offline = S_OK;
  dtm->state = dsONLINE;
  dtm->onTransfer = [&](bool, const std::string&) {
    offline = Job(11);
    return S_OK;
  };
  EXPECT_EQ(Job(3, Request(u"U3", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U3 1"));
  EXPECT_EQ(offline, E_FAIL);
  EXPECT_EQ(dtm->state, dsONLINE);
}

TEST_F(DtmThreadTransfers, RequestsRunInArrivalOrderOneAtATime) {
  for (int i = 0; i < 3; ++i) {
    const std::u16string up = u"U" + std::u16string(1, char16_t(u'0' + i));
    const std::u16string down = u"D" + std::u16string(1, char16_t(u'0' + i));
    ASSERT_EQ(Job(3, Request(up.c_str(), u"P")), S_OK);
    ASSERT_TRUE(FrameHas("frame upload " + Text(vkr::Bstr(up.c_str())) + " 1"));
    ASSERT_EQ(Job(4, Request(down.c_str(), u"Q")), S_OK);
    ASSERT_TRUE(FrameHas("frame download " + Text(vkr::Bstr(down.c_str())) + " 1"));
  }
  std::vector<std::string> order;
  for (const auto& e : dtm->journal.entries)
    if (e.rfind("upload", 0) == 0 || e.rfind("download", 0) == 0) order.push_back(e);
  EXPECT_EQ(order, (std::vector<std::string>{"upload U0 P", "download D0 Q", "upload U1 P", "download D1 Q",
                                             "upload U2 P", "download D2 Q"}));
}

TEST_F(DtmThreadTransfers, RecordThatDoesNotUnpackLeavesNothingPending) {
  EXPECT_EQ(Job(3, I4(7)), E_FAIL);
  EXPECT_EQ(Job(3, PackedUpdate(1, 2)), E_FAIL);
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U1 1"));
}

TEST_F(DtmThreadTransfers, FailureIsReportedWithTextAndEnd) {
  dtm->transferSuccess = VARIANT_FALSE;
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U1 0"));
  EXPECT_TRUE(frame->journal.Has("frame error TAG Upload parameters failed"));
  EXPECT_TRUE(dtm->journal.Has("translate localization/ToolkitMessages/Message[@id=\"1008\"]"));
  // With a translation the text comes from there; a failed call counts as a failure.
  dtm->translation = u"Herunterladen fehlgeschlagen";
  dtm->transferSuccess = VARIANT_TRUE;
  dtm->transferResult = E_FAIL;
  EXPECT_EQ(Job(4, Request(u"D1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame download D1 0"));
  EXPECT_TRUE(frame->journal.Has("frame error TAG Herunterladen fehlgeschlagen"));
}

TEST_F(DtmThreadTransfers, CancelledUploadReportsNeitherFailureNorEnd) {
  HRESULT cancel = E_FAIL;
  dtm->onTransfer = [&](bool, const std::string& id) {
    cancel = Job(5, u"U1");
    EXPECT_EQ(id, "U1");
    return E_ABORT;
  };
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(DtmHas("cancel U1"));
  EXPECT_EQ(cancel, S_OK);
  Fence();
  EXPECT_TRUE(frame->journal.With("frame upload").empty()) << frame->journal.Joined();
  EXPECT_TRUE(frame->journal.With("frame error").empty());
  // The cancel cleared the pending request.
  dtm->onTransfer = nullptr;
  EXPECT_EQ(Job(3, Request(u"U2", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U2 1"));
}

TEST_F(DtmThreadTransfers, CancelOfAnotherIdDoesNothing) {
  HRESULT cancel = E_FAIL;
  dtm->onTransfer = [&](bool, const std::string&) {
    cancel = Job(5, u"OTHER");
    return S_OK;
  };
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U1 1"));
  EXPECT_EQ(cancel, S_OK);
  EXPECT_TRUE(dtm->journal.With("cancel").empty());
  // Without any transfer interface the cancel is refused.
  dtm->hidden = {IovFdtOnlineParameter::iid, IovFdtParameterHandler4::iid};
  EXPECT_EQ(Job(5, u"U1"), E_NOINTERFACE);
}

TEST_F(DtmThreadTransfers, CancelGoesToTheParameterHandlerWithoutOnlineParameters) {
  dtm->hidden.insert(IovFdtOnlineParameter::iid);
  dtm->onTransfer = [&](bool, const std::string&) {
    EXPECT_EQ(Job(5, u"U1"), S_OK);
    return E_ABORT;
  };
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(DtmHas("handler cancel"));
  EXPECT_TRUE(dtm->journal.Has("upload  P"));  // the handler's upload has no invoke id
}

// A request cancelled while it runs, and a new one accepted meanwhile: the old one's end must not
// be reported under the new id, and the new one reports its own end.
TEST_F(DtmThreadTransfers, EndIsReportedForTheRequestsOwnId) {
  HRESULT second = E_FAIL;
  dtm->onTransfer = [&](bool, const std::string& id) {
    if (id != "U1") return S_OK;
    EXPECT_EQ(Job(5, u"U1"), S_OK);
    second = Job(3, Request(u"U2", u"P"));
    return S_OK;  // the transfer ran to its end anyway
  };
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U2 1"));
  EXPECT_EQ(second, S_OK);
  Fence();
  EXPECT_EQ(frame->journal.With("frame upload"), std::vector<std::string>{"frame upload U2 1"});
}

TEST_F(DtmThreadTransfers, FrameWithoutEventsDoesNotBlockLaterRequests) {
  frame->hidden.insert(IDtmEvents::iid);
  EXPECT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  frame->hidden.clear();
  Fence();
  EXPECT_EQ(Job(3, Request(u"U2", u"P")), S_OK);
  EXPECT_TRUE(FrameHas("frame upload U2 1"));
}

// A user interface that waits for a download it asked for hears its end on every road the request
// takes once the DTM took it, after the DTM's word on a failure; an upload's end is none of theirs.
TEST_F(DtmThreadTransfers, EveryDownloadTakenEndsWithItsEndToldToTheUserInterfaces) {
  const struct {
    const char* road;
    std::function<void()> arrange;
    const char* end;  // the broadcast's success flag
    bool word;        // the DTM's word on the failure comes first
  } roads[] = {
      {"written", [] {}, "bool:1", false},
      {"not written", [&] { dtm->transferSuccess = VARIANT_FALSE; }, "bool:0", true},
      {"the call failed", [&] { dtm->transferResult = E_FAIL; }, "bool:0", true},
      {"cancelled", [&] { dtm->onTransfer = [](bool, const std::string&) { return E_ABORT; }; }, "bool:0", false},
      {"no frame to tell", [&] { frame->hidden.insert(IDtmEvents::iid); }, "bool:0", false},
      {"no transfer interface",
       [&] {
         dtm->hidden = {IovFdtOnlineParameter::iid, IovFdtParameterHandler4::iid};
       },
       "bool:0", false},
  };
  int n = 0;
  for (const auto& r : roads) {
    SCOPED_TRACE(r.road);
    dtm->transferSuccess = VARIANT_TRUE;
    dtm->transferResult = S_OK;
    dtm->onTransfer = nullptr;
    dtm->hidden.clear();
    frame->hidden.clear();
    r.arrange();
    dtm->journal.entries.clear();
    const std::u16string id = u"D" + std::u16string(1, char16_t(u'0' + n++));
    ASSERT_EQ(Job(4, Request(id.c_str(), u"P")), S_OK);
    const std::string end = "broadcast ui4:10013 " + std::string(r.end);
    ASSERT_TRUE(DtmHas(end)) << dtm->journal.Joined();
    DtmFence();
    const std::vector<std::string> ends = dtm->journal.With("broadcast ui4:10013");
    EXPECT_EQ(dtm->wrongThread, 0);
    EXPECT_EQ(ends.size(), 1u) << dtm->journal.Joined();
    const auto& entries = dtm->journal.entries;
    const auto word =
        std::find_if(entries.begin(), entries.end(), [](const std::string& e) { return e.rfind("ui error ", 0) == 0; });
    EXPECT_EQ(word != entries.end(), r.word) << dtm->journal.Joined();
    if (word != entries.end()) {
      EXPECT_LT(word - entries.begin(), std::find(entries.begin(), entries.end(), end) - entries.begin());
    }
  }
  // An upload's end is told to the frame only.
  dtm->hidden.clear();
  frame->hidden.clear();
  dtm->onTransfer = nullptr;
  dtm->journal.entries.clear();
  ASSERT_EQ(Job(3, Request(u"U9", u"P")), S_OK);
  ASSERT_TRUE(FrameHas("frame upload U9 1"));
  DtmFence();
  EXPECT_TRUE(dtm->journal.With("broadcast").empty()) << dtm->journal.Joined();
}

// ---- Online and offline ----------------------------------------------------------------------

using DtmThreadOnline = DtmThreadFixture;

TEST_F(DtmThreadOnline, GoOnlineFromCommunicationSet) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(Job(10, UI4(static_cast<ULONG>(reinterpret_cast<UINT_PTR>(done)))), S_OK);
  EXPECT_TRUE(dtm->journal.Has("state 10"));  // set while the caller waits
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  EXPECT_TRUE(dtm->journal.Has("comm online"));
  EXPECT_TRUE(dtm->journal.Has("generic async"));
  // The sink is the thread object, reached through a proxy; an event continues its queue.
  ASSERT_TRUE(dtm->genericSink);
  vkr::ComPtr<IovFDTGenericCommServiceEvents> sink;
  ASSERT_EQ(dtm->genericSink->QueryInterface(IovFDTGenericCommServiceEvents::iid, sink.PutVoid()), S_OK);
  EXPECT_TRUE(vkr::platform::IsProxy(sink.Get()));
  EXPECT_EQ(sink->OnGenericCommServiceEvent(Empty(), Empty(), Empty()), S_OK);
  CloseHandle(done);
  dtm->genericSink = nullptr;
}

TEST_F(DtmThreadOnline, OnlineRefusalsLeaveTheStateAlone) {
  for (EDtmState s : {dsCONFIGURED, dsGOINGONLINE, dsONLINE}) {
    dtm->state = s;
    EXPECT_EQ(Job(10, UI4(0)), E_FAIL) << "state " << s;
    EXPECT_EQ(dtm->state, s);
  }
  EXPECT_TRUE(dtm->journal.With("state").empty());
}

TEST_F(DtmThreadOnline, ConnectionRefusedGoesBackToCommunicationSet) {
  dtm->onlineOk = VARIANT_FALSE;
  EXPECT_EQ(Job(10, UI4(0)), S_OK);  // a zero handle is not signalled
  EXPECT_TRUE(DtmHas("state 9"));
  EXPECT_FALSE(dtm->journal.Has("generic async"));
}

TEST_F(DtmThreadOnline, GoOfflineCancelsTheGenericRequest) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(Job(10, UI4(static_cast<ULONG>(reinterpret_cast<UINT_PTR>(done)))), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  CloseHandle(done);
  dtm->state = dsONLINE;
  EXPECT_EQ(Job(11), S_OK);
  EXPECT_TRUE(dtm->journal.Has("state 11"));
  EXPECT_TRUE(DtmHas("comm offline"));
  EXPECT_TRUE(dtm->journal.Has("generic cancel bstr:H1"));
  // In state 11 the job answers at once and posts nothing.
  const std::size_t offlines = Count(dtm->journal, "comm offline");
  EXPECT_EQ(Job(11), S_OK);
  Fence();
  EXPECT_EQ(Count(dtm->journal, "comm offline"), offlines);
  dtm->genericSink = nullptr;
}

TEST_F(DtmThreadOnline, FailedOfflineGoesBackOnline) {
  dtm->state = dsONLINE;
  dtm->offlineResult = E_FAIL;
  EXPECT_EQ(Job(11), S_OK);
  EXPECT_TRUE(DtmHas("state 12"));
  dtm->state = dsCONFIGURED;
  EXPECT_EQ(Job(11), E_FAIL);
}

TEST_F(DtmThreadOnline, ReleaseOfCommunicationIsAnnouncedInState9) {
  dtm->state = dsCOMMUNICATIONSET;
  EXPECT_EQ(Job(15), S_OK);
  EXPECT_TRUE(FrameHas("frame released communication TAG"));
}

// ---- Cyclic reads ----------------------------------------------------------------------------

class DtmThreadCyclicReads : public DtmThreadFixture {
 protected:
  void SetUp() override {
    DtmThreadFixture::SetUp();
    ASSERT_EQ(manager.GetDtmThread()->SetUpdateRate(I4(100)), S_OK);
  }
  // Moves the fake clock; the thread's timer fires once for the whole step.
  void Tick(DWORD ms) {
    clock.Advance(ms);
    ASSERT_TRUE(PumpUntilQuiet());
  }
  FakeTickCount clock{1000};
};

TEST_F(DtmThreadCyclicReads, SmallestIntervalWinsAndLastUnregistrationStops) {
  ASSERT_EQ(Job(6, PackedUpdate(7, 1000)), S_OK);
  ASSERT_EQ(Job(6, PackedUpdate(7, 500)), S_OK);
  Tick(400);
  EXPECT_FALSE(dtm->journal.Has("read 7"));
  clock.Advance(100);
  EXPECT_TRUE(DtmHas("read 7"));
  // Pending until the DTM reports the read: the next period passes without a read.
  Tick(500);
  EXPECT_EQ(Count(dtm->journal, "read 7"), 1u);
  ASSERT_EQ(Job(9, UI4(7)), S_OK);
  clock.Advance(100);  // the missed read comes at the next tick after the completion
  EXPECT_TRUE(DtmHas("read 7", 2));
  ASSERT_EQ(Job(9, UI4(7)), S_OK);
  // One of two registrations gone: still read.
  ASSERT_EQ(Job(7, PackedUpdate(7, 500)), S_OK);
  clock.Advance(500);
  EXPECT_TRUE(DtmHas("read 7", 3));
  ASSERT_EQ(Job(9, UI4(7)), S_OK);
  ASSERT_EQ(Job(7, PackedUpdate(7, 500)), S_OK);
  EXPECT_EQ(Job(7, PackedUpdate(7, 500)), E_FAIL);  // no longer known
  EXPECT_EQ(Job(8, PackedUpdate(7, 100)), E_FAIL);
  ASSERT_EQ(Job(6, PackedUpdate(8, 500)), S_OK);
  clock.Advance(500);
  EXPECT_TRUE(DtmHas("read 8"));
  EXPECT_EQ(Count(dtm->journal, "read 7"), 3u);
}

TEST_F(DtmThreadCyclicReads, ReadNotStartedIsTriedAgainNextPeriod) {
  dtm->readAnswer = VARIANT_FALSE;
  ASSERT_EQ(Job(6, PackedUpdate(3, 200)), S_OK);
  clock.Advance(200);
  EXPECT_TRUE(DtmHas("read 3"));
  clock.Advance(200);
  EXPECT_TRUE(DtmHas("read 3", 2));  // no completion needed: the read never started
}

TEST_F(DtmThreadCyclicReads, LoweringTheIntervalCutsTheCountdown) {
  ASSERT_EQ(Job(6, PackedUpdate(4, 5000)), S_OK);
  ASSERT_EQ(Job(8, PackedUpdate(4, 9000)), S_OK);  // not lower: unchanged
  ASSERT_EQ(Job(8, PackedUpdate(4, 300)), S_OK);
  clock.Advance(300);
  EXPECT_TRUE(DtmHas("read 4"));
}

TEST_F(DtmThreadCyclicReads, SameRateKeepsTheTimerAndZeroStopsIt) {
  ASSERT_EQ(Job(6, PackedUpdate(5, 500)), S_OK);
  Tick(300);
  Tick(50);  // less than a period: no timer event
  // The same rate again does not restart the timer: the next tick still sees 200 ms since the
  // last event, not 150 ms since a restart.
  ASSERT_EQ(manager.GetDtmThread()->SetUpdateRate(I4(100)), S_OK);
  clock.Advance(150);
  EXPECT_TRUE(DtmHas("read 5"));
  ASSERT_EQ(Job(9, UI4(5)), S_OK);
  ASSERT_EQ(manager.GetDtmThread()->SetUpdateRate(I4(0)), S_OK);
  Tick(1000);
  Tick(1000);
  EXPECT_EQ(Count(dtm->journal, "read 5"), 1u);
}

// A read whose call lets the DTM remove registrations (a nested job) must not walk freed records.
TEST_F(DtmThreadCyclicReads, RegistrationsRemovedDuringAReadAreSkipped) {
  ASSERT_EQ(Job(6, PackedUpdate(1, 100)), S_OK);
  ASSERT_EQ(Job(6, PackedUpdate(2, 100)), S_OK);
  ASSERT_EQ(Job(6, PackedUpdate(3, 100)), S_OK);
  dtm->onRead = [&](ULONG id) {
    if (id != 1) return;
    EXPECT_EQ(Job(7, PackedUpdate(2, 100)), S_OK);
    EXPECT_EQ(Job(7, PackedUpdate(1, 100)), S_OK);
  };
  clock.Advance(100);
  EXPECT_TRUE(DtmHas("read 3"));
  EXPECT_FALSE(dtm->journal.Has("read 2"));
  dtm->onRead = nullptr;
}

// The update timer of an online DTM that reads nothing sleeps: no events however long it runs,
// its interval kept; work wakes it, and the first event counts from the wake, not from the sleep.
class CountingTimer : public CTimerImpl {
 public:
  std::vector<DWORD> events;
  void OnElapsed(DWORD elapsed) override { events.push_back(elapsed); }
};

TEST(DtmThreadTimer, SleepsWithoutWorkAndCountsFromTheWake) {
  FakeTickCount clock{1000};
  CountingTimer timer;
  ASSERT_EQ(timer.SetTimerWork(false), S_OK);
  ASSERT_EQ(timer.SetTimerInterval(100), S_OK);
  EXPECT_FALSE(timer.TimerRunning());
  EXPECT_EQ(timer.TimerInterval(), 100u);
  clock.Advance(500);
  ASSERT_TRUE(PumpUntilQuiet());
  EXPECT_TRUE(timer.events.empty());

  ASSERT_EQ(timer.SetTimerWork(true), S_OK);
  EXPECT_TRUE(timer.TimerRunning());
  clock.Advance(100);
  ASSERT_TRUE(PumpUntilQuiet());
  EXPECT_EQ(timer.events, (std::vector<DWORD>{100}));
  // The same interval again keeps the running timer.
  clock.Advance(50);
  ASSERT_EQ(timer.SetTimerInterval(100), S_OK);
  clock.Advance(50);
  ASSERT_TRUE(PumpUntilQuiet());
  EXPECT_EQ(timer.events, (std::vector<DWORD>{100, 100}));

  ASSERT_EQ(timer.SetTimerWork(false), S_OK);
  EXPECT_FALSE(timer.TimerRunning());
  clock.Advance(1000);
  ASSERT_TRUE(PumpUntilQuiet());
  EXPECT_EQ(timer.events.size(), 2u);
  // Stopped while asleep: work finds no interval and starts nothing.
  ASSERT_EQ(timer.SetTimerInterval(0), S_OK);
  ASSERT_EQ(timer.SetTimerWork(true), S_OK);
  EXPECT_FALSE(timer.TimerRunning());
}

// An owner with work every fiftieth interval is woken twice for it, not fifty times: once an
// interval before the work and once for it, on the grid its events would have without the gap.
// Work that comes sooner is planned onto the same grid.
class PlannedTimer : public CTimerImpl {
 public:
  std::vector<DWORD> events;
  int works = 0;
  DWORD period = 5000, countdown = 5000;  // as a cyclic read counts down
  using CTimerImpl::PlanNextEvent;
  void OnElapsed(DWORD elapsed) override {
    events.push_back(elapsed);
    if (countdown > elapsed) {
      countdown -= elapsed;
    } else {
      ++works;
      countdown = period;
    }
  }
  DWORD IntervalsUntilWork() override { return period ? std::max<DWORD>(1, (countdown + 99) / 100) : 0; }
};

TEST(DtmThreadTimer, IntervalsWithNothingToDoPassWithoutEvents) {
  FakeTickCount clock{1000};
  PlannedTimer timer;
  const auto step = [&](DWORD ms) {
    clock.Advance(ms);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  };
  ASSERT_EQ(timer.SetTimerInterval(100), S_OK);
  for (int i = 0; i < 100; ++i) step(100);
  EXPECT_EQ(timer.events, (std::vector<DWORD>{4900, 100, 4900, 100}));
  EXPECT_EQ(timer.works, 2);
  step(250);
  timer.countdown = 20;  // sooner work: at the grid point 300 ms after the last event
  timer.PlanNextEvent();
  step(40);
  EXPECT_EQ(timer.works, 2);
  step(10);
  EXPECT_EQ(timer.works, 3);
  EXPECT_EQ(timer.events.back(), 300u);
  timer.period = 0;  // nothing until planned again
  timer.PlanNextEvent();
  for (int i = 0; i < 100; ++i) step(100);
  EXPECT_EQ(timer.events.size(), 5u);
  EXPECT_EQ(timer.TimerInterval(), 100u);
}

// The DTM thread's timer has work only while registrations last.
TEST_F(DtmThreadCyclicReads, TheFirstReadComesAFullIntervalAfterTheRegistration) {
  Tick(950);  // online, nothing registered
  ASSERT_EQ(Job(6, PackedUpdate(6, 300)), S_OK);
  Tick(200);
  EXPECT_FALSE(dtm->journal.Has("read 6"));
  clock.Advance(100);
  EXPECT_TRUE(DtmHas("read 6"));
  ASSERT_EQ(Job(9, UI4(6)), S_OK);
  ASSERT_EQ(Job(7, PackedUpdate(6, 300)), S_OK);
  Tick(5000);
  ASSERT_EQ(Job(6, PackedUpdate(6, 300)), S_OK);
  Tick(250);  // the five idle seconds before count for nothing
  EXPECT_EQ(Count(dtm->journal, "read 6"), 1u);
  clock.Advance(100);
  EXPECT_TRUE(DtmHas("read 6", 2));
}

TEST_F(DtmThreadCyclicReads, TwoDtmThreadsRunTheirOwnTimers) {
  TestManager second;
  vkr::ComPtr<vkr::ComObject<FakeDtm>> otherDtm;
  ASSERT_EQ(vkr::MakeObject(&otherDtm), S_OK);
  second.dtm = static_cast<IovFdtBaseDTM*>(otherDtm.Get());
  second.frame = static_cast<IFdtContainer*>(frame.Get());
  ASSERT_TRUE(second.StartDtmThread());
  ASSERT_EQ(second.GetDtmThread()->SetUpdateRate(I4(250)), S_OK);
  ASSERT_EQ(Job(6, PackedUpdate(1, 100)), S_OK);
  ASSERT_EQ(second.ExecuteJob(6, PackedUpdate(2, 250)), S_OK);
  clock.Advance(250);
  EXPECT_TRUE(DtmHas("read 1"));
  EXPECT_TRUE(PumpUntil([&] { return otherDtm->journal.Has("read 2"); }));
  EXPECT_TRUE(second.StopDtmThread());
  EXPECT_EQ(otherDtm->RefCount(), 1);
}

}  // namespace
}  // namespace vkr::test

namespace vkr::test {
namespace {

// Jobs still queued when the loop ends are freed without running, and the hand-over's event is
// signalled: its caller waits without a time limit.
TEST(DtmThreadLoop, JobsLeftAtTheEndAreFreedAndTheirWaitersReleased) {
  struct Context {
    HANDLE event;
    HRESULT posted = E_FAIL;
    HRESULT text = E_FAIL;
  } context{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Context*>(p);
        CoInitialize(nullptr);
        vkr::ComPtr<IovFdtDtmThread> object;
        if (SUCCEEDED(vkr::CreateObject<CDtmThread>(nullptr, IovFdtDtmThread::iid, object.PutVoid()))) {
          PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
          SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
          VARIANT handle = UI4(static_cast<ULONG>(reinterpret_cast<UINT_PTR>(c->event)));
          LONG index = 0;
          SafeArrayPutElement(psa, &index, &handle);
          VARIANT argument;
          VariantInit(&argument);
          argument.vt = VT_ARRAY | VT_VARIANT;
          argument.parray = psa;
          vkr::Variant result;
          c->posted = object->Execute(UI4(34), argument, &result);
          VariantClear(&argument);
          VARIANT text = TextArg(u"never shown");
          c->text = object->Execute(UI4(17), text, &result);
          VariantClear(&text);
          object->Run();
        }
        object = nullptr;
        CoUninitialize();
        return 0;
      },
      &context, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(context.posted, S_OK);
  EXPECT_EQ(context.text, S_OK);
  EXPECT_EQ(WaitForSingleObject(context.event, 0), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(context.event);
}

}  // namespace
}  // namespace vkr::test

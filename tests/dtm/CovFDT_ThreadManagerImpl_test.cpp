// The thread manager: starting and stopping the DTM thread, its job calls, the pumping wait, and
// the worker threads with their notifications to the frame and the DTM.
#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/dtm_thread_fakes.h"
#include "tests/support/threading.h"

namespace vkr::test {
namespace {

class ThreadManagerStart : public DtmThreadFixture {
 protected:
  ThreadManagerStart() { startThread = false; }
};

TEST_F(ThreadManagerStart, StartsOneThreadAndStopsItWithNothingLeft) {
  EXPECT_EQ(Job(13), E_FAIL);  // before the start
  EXPECT_TRUE(manager.StopDtmThread());  // nothing to stop
  ASSERT_TRUE(manager.StartDtmThread());
  const DWORD id = manager.ThreadId();
  EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore + 1);
  ASSERT_TRUE(manager.StartDtmThread());  // a second start does nothing
  EXPECT_EQ(manager.ThreadId(), id);
  EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore + 1);
  // The thread object reaches the DTM (job 34) without keeping it alive: the DTM holds the
  // thread, and a frame's last release must end the DTM.
  EXPECT_EQ(dtm->RefCount(), 1);
  EXPECT_EQ(Job(28, I4(1)), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return DtmHas("msg 64 i4:1"); }));
  EXPECT_TRUE(manager.StopDtmThread());
  EXPECT_FALSE(manager.HasThread());
  EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore);
  EXPECT_EQ(dtm->RefCount(), 1);
  EXPECT_EQ(Job(13), E_FAIL);  // after the stop
  EXPECT_FALSE(PostThreadMessageA(id, WM_NULL, 0, 0));
}

TEST_F(ThreadManagerStart, ThreadWhoseObjectCannotBeMadeIsNotKept) {
  manager.threadClass = CLSID_EchoTrace;  // not creatable here
  EXPECT_FALSE(manager.StartDtmThread());
  EXPECT_FALSE(manager.HasThread());
  EXPECT_EQ(Job(13), E_FAIL);
  EXPECT_TRUE(vkr::platform::WaitForThreadsToEnd(5000));
}

TEST_F(ThreadManagerStart, StopWhileAJobRuns) {
  ASSERT_TRUE(manager.StartDtmThread());
  ASSERT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IFdtContainer*>(frame.Get())), S_OK);
  bool stopped = false;
  dtm->onTransfer = [&](bool, const std::string&) {
    // The frame's thread serves the upload while it waits inside the stop.
    EXPECT_FALSE(stopped);
    return S_OK;
  };
  ASSERT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  ASSERT_EQ(Job(6, PackedUpdate(1, 100)), S_OK);
  ASSERT_EQ(Job(17, u"queued"), S_OK);
  // Release of the frame and the DTM, as IDtm::PrepareToRelease does, with jobs still queued.
  EXPECT_EQ(Job(14), S_OK);
  EXPECT_EQ(manager.ExecuteMarshalledJob(35, nullptr), S_OK);
  EXPECT_TRUE(manager.StopDtmThread());
  stopped = true;
  EXPECT_FALSE(manager.HasThread());
  // The jobs posted before the stop ran in order.
  EXPECT_TRUE(dtm->journal.Has("upload U1 P"));
  const auto& f = frame->journal.entries;
  ASSERT_GE(f.size(), 3u) << frame->journal.Joined();
  EXPECT_EQ(f[0], "frame upload U1 1");
  EXPECT_EQ(f[1], "frame error TAG queued");
  EXPECT_EQ(f[2], "frame released TAG");
}

// The stop arrives while the thread sits in a long job (the wait for the release of the
// communication, which polls the DTM's state): its calls wait behind the job, the job ends, and
// the thread ends with nothing left behind.
TEST_F(ThreadManagerStart, StopWhileTheThreadWaitsInAJob) {
  ASSERT_TRUE(manager.StartDtmThread());
  ASSERT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IFdtContainer*>(frame.Get())), S_OK);
  dtm->state = dsGOINGOFFLINE;
  int polls = 0;
  dtm->onGetState = [&] {
    if (++polls == 3) dtm->state = dsCOMMUNICATIONSET;
  };
  ASSERT_EQ(Job(15), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return polls >= 1; }));  // the job runs
  EXPECT_TRUE(manager.StopDtmThread());
  EXPECT_GE(polls, 3);
  EXPECT_TRUE(frame->journal.Has("frame released communication TAG"));
  EXPECT_FALSE(manager.HasThread());
  dtm->onGetState = nullptr;
}

// A DTM whose last reference goes inside one of its thread's calls (the frame lets go of it while
// the thread's upload runs) cannot wait for the thread, which waits for that call: the thread is
// told to end, can no longer reach the DTM, and ends once the call has returned.
TEST_F(ThreadManagerStart, ReleasedInsideTheThreadsOwnCallTheThreadEndsByItself) {
  ASSERT_TRUE(manager.StartDtmThread());
  ASSERT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IFdtContainer*>(frame.Get())), S_OK);
  bool released = false;
  dtm->onTransfer = [&](bool, const std::string&) {
    manager.ReleaseDtmThread();
    released = true;
    return S_OK;
  };
  ASSERT_EQ(Job(3, Request(u"U1", u"P")), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return released; }));
  EXPECT_FALSE(manager.HasThread());
  EXPECT_TRUE(PumpUntil([&] { return vkr::platform::LiveThreadCount() == threadsBefore; }));
  // The thread still told the frame that the upload ended; nothing after the release reached the
  // DTM.
  EXPECT_TRUE(FrameHas("frame upload U1 1"));
  EXPECT_EQ(Count(dtm->journal, "state 12"), 0u);
  EXPECT_EQ(Job(13), E_FAIL);
  dtm->onTransfer = nullptr;
}

// A thread only begun gets ready without this thread's help: the DTM and the frame go with its
// start, the first job waits for it and reaches both, and a thread begun and stopped unused
// leaves nothing; one whose object cannot be made is found missing by the first job.
TEST_F(ThreadManagerStart, BegunThreadServesItsFirstJobAndEndsUnusedWithTheStop) {
  ASSERT_TRUE(manager.BeginDtmThread(static_cast<IFdtContainer*>(frame.Get())));
  EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore + 1);
  ASSERT_EQ(Job(13), S_OK);
  EXPECT_TRUE(FrameHas("frame scan TAG"));
  ASSERT_EQ(Job(28, I4(1)), S_OK);
  EXPECT_TRUE(DtmHas("msg 64 i4:1"));
  EXPECT_EQ(dtm->RefCount(), 1);
  EXPECT_GT(frame->RefCount(), 1);
  EXPECT_TRUE(manager.StopDtmThread());
  EXPECT_TRUE(PumpUntil([&] { return frame->RefCount() == 1; }));

  ASSERT_TRUE(manager.BeginDtmThread(nullptr));
  EXPECT_TRUE(manager.StopDtmThread());
  EXPECT_FALSE(manager.HasThread());
  EXPECT_TRUE(PumpUntil([&] { return vkr::platform::LiveThreadCount() == threadsBefore; }));

  manager.threadClass = CLSID_EchoTrace;  // not creatable here
  ASSERT_TRUE(manager.BeginDtmThread(nullptr));
  EXPECT_EQ(Job(13), E_FAIL);
  EXPECT_FALSE(manager.HasThread());
  EXPECT_EQ(dtm->RefCount(), 1);
}

TEST_F(ThreadManagerStart, HandOverWaitsForTheThreadToTakeTheObject) {
  ASSERT_TRUE(manager.StartDtmThread());
  EXPECT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IFdtContainer*>(frame.Get())), S_OK);
  EXPECT_GT(frame->RefCount(), 1);  // held by the thread object when the call returns
  EXPECT_EQ(manager.ExecuteMarshalledJob(35, nullptr), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return frame->RefCount() == 1; }));
  // Another job would never signal: refused rather than waited for.
  EXPECT_EQ(manager.ExecuteMarshalledJob(12, nullptr), E_INVALIDARG);
}

// ---- Pumping wait ----------------------------------------------------------------------------

TEST(WaitWithMessagePump, ReturnsWhenSignalledWhileMessagesKeepArriving) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  struct Context {
    DWORD target;
    HANDLE event;
    std::atomic<bool> stop{false};
  } context{GetCurrentThreadId(), event};
  HANDLE poster = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Context*>(p);
        for (int i = 0; !c->stop; ++i) {
          PostThreadMessageA(c->target, WM_USER + 7, 0, 0);
          if (i == 200) SetEvent(c->event);
          Sleep(0);
        }
        return 0;
      },
      &context, 0, nullptr);
  EXPECT_TRUE(CovFDT_ThreadManagerImpl::WaitWithMessagePump(event));
  context.stop = true;
  WaitForSingleObject(poster, INFINITE);
  CloseHandle(poster);
  DrainQueue();
  // A closed handle fails the wait instead of blocking.
  CloseHandle(event);
  EXPECT_FALSE(CovFDT_ThreadManagerImpl::WaitWithMessagePump(event));
  CoUninitialize();
}

TEST(WaitWithMessagePump, KeepsAQuitForTheOuterLoop) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ApartmentThread other;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PostQuitMessage(3);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
  // The other thread signals after a call into this thread has run: the wait must serve it.
  bool served = false;
  other.Run([&] {
    return vkr::platform::Apartment::Current() ? S_OK : E_FAIL;
  });
  HANDLE target = event;
  struct Ctx {
    HANDLE h;
  } ctx{target};
  HANDLE setter = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        // Once the test's thread waits (nothing else has anything to do).
        vkr::test::PumpUntil([] { return vkr::platform::ProcessIsIdle(); }, 30000);
        SetEvent(static_cast<Ctx*>(p)->h);
        return 0;
      },
      &ctx, 0, nullptr);
  EXPECT_TRUE(CovFDT_ThreadManagerImpl::WaitWithMessagePump(event));
  served = true;
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_TRUE(served);
  WaitForSingleObject(setter, INFINITE);
  CloseHandle(setter);
  CloseHandle(event);
  DrainQueue();
  other.Stop();
  CoUninitialize();
}

// ---- Workers ---------------------------------------------------------------------------------

using WorkerThreads = DtmThreadFixture;

TEST_F(WorkerThreads, RefuseNullAndMissingInterfaces) {
  EXPECT_EQ(manager.ExecuteWorkerThread(nullptr), E_INVALIDARG);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  manager.frame = nullptr;
  // The worker is deleted at once, and its event is set: nobody waits for a report that cannot come.
  EXPECT_EQ(manager.ExecuteWorkerThread(new CProgressMessageWorker(vkr::Bstr(u"t"), 1, 0, done)), E_FAIL);
  EXPECT_EQ(WaitForSingleObject(done, 0), WAIT_OBJECT_0);
  CloseHandle(done);
}

TEST_F(WorkerThreads, ProgressReachesTheFrameFromTheDtmsThread) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(manager.ExecuteWorkerThread(new CProgressMessageWorker(vkr::Bstr(u"Upload"), 40, 0xFFFF, done)), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  EXPECT_TRUE(frame->journal.Has("frame progress TAG Upload 40 -1"));
  CloseHandle(done);
}

// A frame that answers progress with an error must not leave SendProgress waiting for good.
TEST_F(WorkerThreads, ProgressErrorOfTheFrameStillSignals) {
  frame->progressResult = E_NOTIMPL;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(manager.ExecuteWorkerThread(new CProgressMessageWorker(vkr::Bstr(u"x"), 0, 0, done)), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  EXPECT_TRUE(frame->journal.Has("frame progress TAG x 0 0"));
  ResetEvent(done);
  // The same when the frame has no event interface at all.
  frame->hidden.insert(IDtmEvents::iid);
  ASSERT_EQ(manager.ExecuteWorkerThread(new CProgressMessageWorker(vkr::Bstr(u"y"), 0, 0, done)), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  CloseHandle(done);
}

TEST_F(WorkerThreads, StateChangedWorkerSignalsAlsoWithoutStateEvents) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(manager.ExecuteWorkerThread(new COnStateChangedWorker(vkr::Bstr(u"<doc/>"), done)), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  EXPECT_TRUE(frame->journal.Has("frame state TAG <doc/>"));
  ResetEvent(done);
  frame->hidden.insert(IFrameDtmStateEvents::iid);
  ASSERT_EQ(manager.ExecuteWorkerThread(new COnStateChangedWorker(vkr::Bstr(u"<lost/>"), done)), S_OK);
  EXPECT_TRUE(PumpUntilSignalled(done, 5000));
  EXPECT_FALSE(frame->journal.Has("frame state TAG <lost/>"));
  // Without an event it simply runs.
  frame->hidden.clear();
  ASSERT_EQ(manager.ExecuteWorkerThread(new COnStateChangedWorker(vkr::Bstr(u"<free/>"), nullptr)), S_OK);
  EXPECT_TRUE(FrameHas("frame state TAG <free/>"));
  CloseHandle(done);
}

TEST_F(WorkerThreads, MessageWorkersReachTheDtm) {
  ASSERT_EQ(manager.ExecuteWorkerThread(new CStateReachedWorker(UI4(66), I4(8))), S_OK);
  EXPECT_TRUE(DtmHas("msg 66 i4:8"));
  ASSERT_EQ(manager.ExecuteWorkerThread(new CActiveXMessageWorker(67)), S_OK);
  EXPECT_TRUE(DtmHas("broadcast ui4:10003 ui4:67"));
}

TEST_F(WorkerThreads, ManyWorkersAllEnd) {
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(manager.ExecuteWorkerThread(new CStateReachedWorker(UI4(64), I4(i))), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return dtm->journal.With("msg 64").size() == 20; })) << dtm->journal.Joined();
  // Only the DTM thread is left.
  EXPECT_TRUE(PumpUntil([&] { return vkr::platform::LiveThreadCount() == threadsBefore + 1; }));
}

// What the release waits for: every worker handed over, ordered or not, has delivered and its
// thread has ended when the wait returns, without a message pumped afterwards (the module that
// holds their code may go next).
TEST_F(WorkerThreads, AwaitingWorkersLeavesNoneRunning) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(manager.ExecuteWorkerThread(new CStateReachedWorker(UI4(64), I4(i))), S_OK);
    ASSERT_EQ(manager.ExecuteWorkerThread(new COnStateChangedWorker(vkr::Bstr(u"<w/>"), done)), S_OK);
  }
  EXPECT_TRUE(manager.AwaitWorkerThreads(10000));
  EXPECT_EQ(dtm->journal.With("msg 64").size(), 5u);
  EXPECT_EQ(frame->journal.With("frame state TAG <w/>").size(), 5u);
  EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore + 1);
  EXPECT_TRUE(manager.AwaitWorkerThreads(0));  // none left
  CloseHandle(done);
}

}  // namespace
}  // namespace vkr::test

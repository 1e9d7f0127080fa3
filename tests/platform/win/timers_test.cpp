// Thread timers under the fake clock: when WM_TIMER is made, coalescing, KillTimer, the 32-bit
// wrap, and the thread a timer belongs to.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/platform.h"
#include "tests/support/threading.h"

namespace {

constexpr DWORD kLong = 30000;

struct Fired {
  HWND hwnd;
  UINT message;
  UINT_PTR id;
  DWORD time;
  DWORD thread;
};
std::vector<Fired> g_fired;  // written by timer procedures on the test's thread (or joined threads)

void Record(HWND hwnd, UINT message, UINT_PTR id, DWORD time) {
  g_fired.push_back({hwnd, message, id, time, GetCurrentThreadId()});
}

class Timers : public ::testing::Test {
 protected:
  void SetUp() override {
    vkr::test::DrainQueue();
    g_fired.clear();
  }
  void TearDown() override {
    for (UINT_PTR id : ids) KillTimer(nullptr, id);
    vkr::test::DrainQueue();
  }
  UINT_PTR Set(UINT ms, TIMERPROC proc = &Record) {
    UINT_PTR id = SetTimer(nullptr, 0, ms, proc);
    EXPECT_NE(id, 0u);
    ids.push_back(id);
    return id;
  }
  // The next message, or WM_NULL when none is ready.
  static MSG Next(UINT remove = PM_REMOVE) {
    MSG m{};
    if (!PeekMessageW(&m, nullptr, 0, 0, remove)) m.message = WM_NULL;
    return m;
  }
  // Takes and dispatches what is ready; returns the number of WM_TIMER messages among it.
  static int PumpTimers() {
    int n = 0;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_TIMER) ++n;
      DispatchMessageW(&m);
    }
    return n;
  }

  vkr::test::FakeTickCount clock{5000};
  std::vector<UINT_PTR> ids;
};

TEST_F(Timers, FireOnTheirPeriodThroughTheirProcedure) {
  UINT_PTR id = Set(100);
  EXPECT_EQ(Next().message, WM_NULL);
  clock.Advance(99);
  EXPECT_EQ(Next().message, WM_NULL);
  clock.Advance(1);
  MSG m = Next();
  ASSERT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.wParam, id);
  EXPECT_EQ(m.lParam, reinterpret_cast<LPARAM>(&Record));
  clock.Advance(7);
  DispatchMessageA(&m);
  ASSERT_EQ(g_fired.size(), 1u);
  EXPECT_EQ(g_fired[0].hwnd, nullptr);
  EXPECT_EQ(g_fired[0].message, WM_TIMER);
  EXPECT_EQ(g_fired[0].id, id);
  EXPECT_EQ(g_fired[0].time, 5107u) << "the procedure gets the tick count of the dispatch";
  // The next period counts from the moment the message was taken.
  clock.Advance(92);
  EXPECT_EQ(Next().message, WM_NULL);
  clock.Advance(1);
  EXPECT_EQ(Next().message, WM_TIMER);
}

TEST_F(Timers, WmTimerWaitsForAnOtherwiseEmptyQueue) {
  Set(50);
  clock.Advance(50);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER + 105, 0, 0);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER + 106, 0, 0);
  EXPECT_EQ(Next().message, WM_USER + 105u);
  EXPECT_EQ(Next().message, WM_USER + 106u);
  EXPECT_EQ(Next().message, WM_TIMER);
  EXPECT_EQ(Next().message, WM_NULL);
}

TEST_F(Timers, AtMostOneIsPendingPerTimer) {
  UINT_PTR slow = Set(100);
  UINT_PTR fast = Set(10);
  clock.Advance(1000);  // a hundred periods of the fast one
  EXPECT_EQ(PumpTimers(), 2);
  ASSERT_EQ(g_fired.size(), 2u);
  EXPECT_EQ(g_fired[0].id, slow);
  EXPECT_EQ(g_fired[1].id, fast);
  EXPECT_EQ(PumpTimers(), 0);
  clock.Advance(10);
  EXPECT_EQ(PumpTimers(), 1);
  EXPECT_EQ(g_fired.back().id, fast);
}

TEST_F(Timers, PeekingWithoutRemovingLeavesTheTimerDue) {
  Set(20);
  clock.Advance(20);
  EXPECT_EQ(Next(PM_NOREMOVE).message, WM_TIMER);
  EXPECT_EQ(Next(PM_NOREMOVE).message, WM_TIMER);
  EXPECT_EQ(Next(PM_REMOVE).message, WM_TIMER);
  EXPECT_EQ(Next(PM_REMOVE).message, WM_NULL);
}

TEST_F(Timers, KillTimerStopsItEvenForAMessageAlreadyTaken) {
  UINT_PTR id = Set(30);
  clock.Advance(30);
  MSG taken = Next();
  ASSERT_EQ(taken.message, WM_TIMER);
  EXPECT_TRUE(KillTimer(nullptr, id));
  DispatchMessageW(&taken);
  EXPECT_TRUE(g_fired.empty()) << "a killed timer's procedure ran";
  clock.Advance(300);
  EXPECT_EQ(Next().message, WM_NULL);
  EXPECT_FALSE(KillTimer(nullptr, id));
}

TEST_F(Timers, PeriodsSpanTheThirtyTwoBitWrap) {
  vkr::platform::UseFakeTickCount(0xFFFFFF00);
  Set(0x200);
  clock.Advance(0x1FF);
  EXPECT_EQ(GetTickCount(), 0xFFu);
  EXPECT_EQ(Next().message, WM_NULL) << "the wrap made the timer fire early";
  clock.Advance(1);
  EXPECT_EQ(PumpTimers(), 1);
  EXPECT_EQ(g_fired.back().time, 0x100u);
}

TEST_F(Timers, ResettingAnIdChangesTheTimerAndNewIdsAreNeverReused) {
  UINT_PTR id = Set(100);
  EXPECT_EQ(SetTimer(nullptr, id, 300, &Record), id);
  clock.Advance(100);
  EXPECT_EQ(Next().message, WM_NULL) << "the old interval still ran";
  clock.Advance(200);
  EXPECT_EQ(Next().message, WM_TIMER);
  KillTimer(nullptr, id);
  UINT_PTR again = Set(100);
  EXPECT_NE(again, id);
}

TEST_F(Timers, TooShortIntervalsAreRaisedToTheMinimum) {
  Set(0);
  clock.Advance(USER_TIMER_MINIMUM - 1);
  EXPECT_EQ(Next().message, WM_NULL);
  clock.Advance(1);
  EXPECT_EQ(Next().message, WM_TIMER);
}

TEST_F(Timers, MsgWaitWakesForADueTimer) {
  Set(40);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_TIMER), WAIT_TIMEOUT);
  clock.Advance(40);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_TIMER), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_TIMER), WAIT_TIMEOUT) << "a reported timer is not new";
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_TIMER, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0);
}

struct OtherThread {
  HANDLE ready;
  UINT_PTR id = 0;
  MSG got{};
  std::vector<Fired> fired;
};

void RecordOnOther(HWND, UINT, UINT_PTR id, DWORD time);
thread_local OtherThread* t_other = nullptr;
void RecordOnOther(HWND hwnd, UINT message, UINT_PTR id, DWORD time) {
  t_other->fired.push_back({hwnd, message, id, time, GetCurrentThreadId()});
}

DWORD TimerThread(LPVOID p) {
  auto* o = static_cast<OtherThread*>(p);
  t_other = o;
  o->id = SetTimer(nullptr, 0, 250, &RecordOnOther);
  SetEvent(o->ready);
  // Blocks until the clock moves far enough.
  if (GetMessageW(&o->got, nullptr, 0, 0) > 0) DispatchMessageW(&o->got);
  KillTimer(nullptr, o->id);
  return 0;
}

TEST_F(Timers, ATimerBelongsToTheThreadThatSetIt) {
  OtherThread o;
  o.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  HANDLE t = CreateThread(nullptr, 0, &TimerThread, &o, 0, &tid);
  ASSERT_EQ(WaitForSingleObject(o.ready, kLong), WAIT_OBJECT_0);
  clock.Advance(250);  // wakes the other thread's GetMessage
  ASSERT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(Next().message, WM_NULL) << "another thread's timer reached this queue";
  EXPECT_EQ(o.got.message, WM_TIMER);
  ASSERT_EQ(o.fired.size(), 1u);
  EXPECT_EQ(o.fired[0].thread, tid);
  EXPECT_EQ(o.fired[0].id, o.id);
  CloseHandle(t);
  CloseHandle(o.ready);
}

TEST_F(Timers, TheNextDueTimerIsFoundAmongEveryThreadsTimers) {
  DWORD ticks = 0;
  EXPECT_FALSE(vkr::platform::TicksUntilNextTimer(&ticks)) << "a timer was found where there is none";
  Set(400);
  OtherThread o;
  o.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  HANDLE t = CreateThread(nullptr, 0, &TimerThread, &o, 0, &tid);
  ASSERT_EQ(WaitForSingleObject(o.ready, kLong), WAIT_OBJECT_0);
  clock.Advance(100);
  ASSERT_TRUE(vkr::platform::TicksUntilNextTimer(&ticks));
  EXPECT_EQ(ticks, 150u) << "the other thread's timer, due first, was not the one found";
  clock.Advance(150);
  ASSERT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
  ASSERT_TRUE(vkr::platform::TicksUntilNextTimer(&ticks));
  EXPECT_EQ(ticks, 150u);
  clock.Advance(200);
  EXPECT_FALSE(vkr::platform::TicksUntilNextTimer(&ticks)) << "a timer already due is no time to wait for";
  EXPECT_EQ(PumpTimers(), 1);
  ASSERT_TRUE(vkr::platform::TicksUntilNextTimer(&ticks));
  EXPECT_EQ(ticks, 400u) << "the period runs again from its firing";
  CloseHandle(t);
  CloseHandle(o.ready);
}

TEST_F(Timers, FireTimersNowMakesEveryTimerDue) {
  Set(60000);
  EXPECT_EQ(Next().message, WM_NULL);
  vkr::platform::FireTimersNow();
  EXPECT_EQ(PumpTimers(), 1);
  EXPECT_EQ(PumpTimers(), 0);
}

TEST(RealClockTimers, GetMessageWaitsForTheTimer) {
  vkr::test::DrainQueue();
  ASSERT_FALSE(vkr::platform::IsFakeTickCount());
  const DWORD start = GetTickCount();
  UINT_PTR id = SetTimer(nullptr, 0, 20, nullptr);
  MSG m;
  ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, id);
  EXPECT_GE(GetTickCount() - start, 20u);
  // Without a procedure, dispatching it does nothing.
  EXPECT_EQ(DispatchMessageW(&m), 0);
  HANDLE none = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &none, FALSE, kLong, QS_TIMER), WAIT_OBJECT_0 + 1);
  KillTimer(nullptr, id);
  CloseHandle(none);
  vkr::test::DrainQueue();
}

}  // namespace

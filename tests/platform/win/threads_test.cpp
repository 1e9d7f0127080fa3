// Threads, events, waits, critical sections, interlocked counters and the tick count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/win/thread_state.h"
#include "tests/support/threading.h"

namespace {

constexpr DWORD kLong = 30000;  // generous: a wait that reaches it is a failure, not a slow pass

HANDLE NewEvent(BOOL manual, BOOL initial) { return CreateEventW(nullptr, manual, initial, nullptr); }

// Events and waits.

TEST(Events, ManualResetReleasesEveryWaitUntilReset) {
  HANDLE e = NewEvent(TRUE, FALSE);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST(Events, AutoResetIsTakenByOneWait) {
  HANDLE e = NewEvent(FALSE, TRUE);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "the first wait did not reset the event";
  SetEvent(e);
  SetEvent(e);  // does not count up
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST(Events, AutoResetReleasesOneOfTwoBlockedThreads) {
  HANDLE e = NewEvent(FALSE, FALSE);
  std::atomic<int> released{0};
  auto waiter = [&] {
    WaitForSingleObject(e, INFINITE);
    ++released;
  };
  std::thread a(waiter), b(waiter);
  SetEvent(e);
  // Whichever thread took the signal, the event is consumed and the other one still waits.
  while (released.load() == 0) std::this_thread::yield();
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  SetEvent(e);
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 2);
  CloseHandle(e);
}

TEST(Events, NamedEventsAreNotSupported) {
  SetLastError(0);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"Global\\x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "x"), nullptr);
  HANDLE unnamed = CreateEventA(nullptr, TRUE, FALSE, "");
  EXPECT_NE(unnamed, nullptr);
  CloseHandle(unnamed);
}

TEST(Waits, AnyGivesTheLowestSignalledIndex) {
  HANDLE h[3] = {NewEvent(TRUE, FALSE), NewEvent(FALSE, TRUE), NewEvent(TRUE, TRUE)};
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  // The auto-reset event was taken; the manual one stays.
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  for (HANDLE x : h) CloseHandle(x);
}

TEST(Waits, AllTakesNothingUntilEveryObjectIsSignalled) {
  HANDLE autoEvent = NewEvent(FALSE, TRUE);
  HANDLE manual = NewEvent(TRUE, FALSE);
  HANDLE h[2] = {autoEvent, manual};
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0) << "a wait for all that timed out took an object";
  SetEvent(autoEvent);
  SetEvent(manual);
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  CloseHandle(autoEvent);
  CloseHandle(manual);
}

TEST(Waits, BadArgumentsFailWithTheWindowsErrors) {
  HANDLE e = NewEvent(TRUE, TRUE);
  HANDLE twice[2] = {e, e};
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, e);
  const struct {
    const char* what;
    DWORD count;
    const HANDLE* handles;
    BOOL all;
  } cases[] = {
      {"no handles", 0, &e, FALSE},
      {"a null array", 1, nullptr, FALSE},
      {"more than MAXIMUM_WAIT_OBJECTS", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE},
      {"one handle twice in a wait for all", 2, twice, TRUE},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
  }
  // The same handle twice is fine when any one will do.
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
  CloseHandle(e);
}

TEST(Waits, ATimeOutLastsAtLeastItsTime) {
  HANDLE e = NewEvent(TRUE, FALSE);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 30), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  CloseHandle(e);
}

TEST(Waits, ASignalFromAnotherThreadEndsAnInfiniteWait) {
  HANDLE e = NewEvent(FALSE, FALSE);
  std::thread t([&] { SetEvent(e); });
  EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
  t.join();
  CloseHandle(e);
}

// A signalled object wakes the threads that wait for it and no others: many threads ending (as
// when many DTMs start and stop workers) leave a thread that waits for something else asleep.
// Each wait kind waits for unrelated events while 200 threads start and end, then its events
// are set; the waiter counts how often it woke in that time (once for its own events).
enum class WaitKind { Single, All, Any, WithMessages };

struct UnrelatedWaiter {
  WaitKind kind;
  HANDLE events[2];
  HANDLE ready;
  DWORD result = WAIT_FAILED;
  std::uint64_t wakeups = 0;
};

DWORD WaitForUnrelated(LPVOID p) {
  auto* w = static_cast<UnrelatedWaiter*>(p);
  const std::uint64_t before = vkr::platform::WakeupCountOfCurrentThread();
  SetEvent(w->ready);
  switch (w->kind) {
    case WaitKind::Single: w->result = WaitForSingleObject(w->events[0], kLong); break;
    case WaitKind::All: w->result = WaitForMultipleObjects(2, w->events, TRUE, kLong); break;
    case WaitKind::Any: w->result = WaitForMultipleObjects(2, w->events, FALSE, kLong); break;
    case WaitKind::WithMessages:
      w->result = MsgWaitForMultipleObjects(2, w->events, FALSE, kLong, QS_ALLINPUT);
      break;
  }
  w->wakeups = vkr::platform::WakeupCountOfCurrentThread() - before;
  return 0;
}

DWORD EndAtOnce(LPVOID) { return 0; }

TEST(Waits, ThreadsEndingDoNotWakeAThreadThatWaitsForSomethingElse) {
  const struct {
    WaitKind kind;
    const char* name;
  } cases[] = {{WaitKind::Single, "WaitForSingleObject"},
               {WaitKind::All, "WaitForMultipleObjects, all"},
               {WaitKind::Any, "WaitForMultipleObjects, any"},
               {WaitKind::WithMessages, "MsgWaitForMultipleObjects"}};
  for (const auto& c : cases) {
    UnrelatedWaiter w{c.kind, {NewEvent(TRUE, FALSE), NewEvent(TRUE, FALSE)}, NewEvent(TRUE, FALSE)};
    HANDLE waiter = CreateThread(nullptr, 0, &WaitForUnrelated, &w, 0, nullptr);
    ASSERT_NE(waiter, nullptr);
    ASSERT_EQ(WaitForSingleObject(w.ready, kLong), WAIT_OBJECT_0);
    // Into its wait: then no thread but this one has anything to do.
    ASSERT_TRUE(vkr::test::PumpUntil([] { return vkr::platform::ProcessIsIdle(); }, kLong));
    for (int batch = 0; batch < 4; ++batch) {
      HANDLE threads[50];
      for (HANDLE& t : threads) ASSERT_NE(t = CreateThread(nullptr, 0, &EndAtOnce, nullptr, 0, nullptr), nullptr);
      ASSERT_EQ(WaitForMultipleObjects(50, threads, TRUE, kLong), WAIT_OBJECT_0) << c.name;
      for (HANDLE t : threads) CloseHandle(t);
    }
    EXPECT_EQ(WaitForSingleObject(waiter, 0), WAIT_TIMEOUT) << c.name;
    SetEvent(w.events[0]);
    SetEvent(w.events[1]);
    ASSERT_EQ(WaitForSingleObject(waiter, kLong), WAIT_OBJECT_0) << c.name;
    EXPECT_EQ(w.result, WAIT_OBJECT_0) << c.name;
    // Its own events' wake, and room for one spurious wake of the condition variable.
    EXPECT_LE(w.wakeups, 2u) << c.name << ": woken by threads it did not wait for";
    CloseHandle(waiter);
    CloseHandle(w.events[0]);
    CloseHandle(w.events[1]);
    CloseHandle(w.ready);
  }
}

// Threads.

struct StartRecord {
  HANDLE go;
  DWORD seenId = 0;
  MSG first{};
  BOOL gotMessage = FALSE;
};

DWORD RecordAndExit(LPVOID p) {
  auto* r = static_cast<StartRecord*>(p);
  WaitForSingleObject(r->go, INFINITE);
  r->seenId = GetCurrentThreadId();
  r->gotMessage = PeekMessageW(&r->first, nullptr, 0, 0, PM_REMOVE);
  return 42;
}

TEST(Threads, TheIdIsKnownAndPostableBeforeTheThreadRuns) {
  StartRecord r;
  r.go = NewEvent(TRUE, FALSE);
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, &RecordAndExit, &r, 0, &id);
  ASSERT_NE(t, nullptr);
  ASSERT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  ASSERT_TRUE(PostThreadMessageA(id, WM_USER + 105, 3, 4)) << "a new thread must accept messages at once";
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);

  SetEvent(r.go);
  ASSERT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(r.seenId, id);
  ASSERT_TRUE(r.gotMessage);
  EXPECT_EQ(r.first.message, WM_USER + 105);
  EXPECT_EQ(r.first.wParam, 3u);
  EXPECT_EQ(r.first.lParam, 4);
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  // Ended: it takes no more messages, and its id is not given to anyone else.
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  DWORD otherId = 0;
  HANDLE other = CreateThread(nullptr, 0, &RecordAndExit, &r, 0, &otherId);
  EXPECT_NE(otherId, id);
  WaitForSingleObject(other, kLong);
  CloseHandle(other);
  CloseHandle(t);
  CloseHandle(r.go);
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
  StartRecord r;
  r.go = NewEvent(TRUE, FALSE);
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, &RecordAndExit, &r, 0, &id);
  ASSERT_TRUE(CloseHandle(t));
  EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 0, 0));
  SetEvent(r.go);
  EXPECT_TRUE(vkr::platform::WaitForThreadsToEnd(kLong));
  EXPECT_EQ(r.seenId, id);
  CloseHandle(r.go);
}

// A library freed as soon as its thread has signalled stays loaded until the thread's routine has
// returned: the thread still runs the library's code after its signal.
TEST(Threads, ALibraryOutlivesItsFreeWhileItsThreadRuns) {
  HMODULE library = LoadLibraryA(VKR_THREAD_MODULE);
  ASSERT_NE(library, nullptr);
  using Start = HANDLE (*)(HANDLE);
  auto start = reinterpret_cast<Start>(GetProcAddress(library, "StartLingeringThread"));
  ASSERT_NE(start, nullptr);
  HANDLE signalled = NewEvent(TRUE, FALSE);
  HANDLE thread = start(signalled);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(signalled, kLong), WAIT_OBJECT_0);
  ASSERT_TRUE(FreeLibrary(library));
  ASSERT_EQ(WaitForSingleObject(thread, kLong), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
  CloseHandle(signalled);
}

TEST(Threads, UnsupportedCreationsFail) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateThread(nullptr, 0, &RecordAndExit, nullptr, CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(Threads, ThreadsTheyDidNotCreateGetIdsToo) {
  DWORD mine = GetCurrentThreadId();
  DWORD theirs = 0;
  std::thread([&] { theirs = GetCurrentThreadId(); }).join();
  EXPECT_NE(theirs, 0u);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(GetCurrentThreadId(), mine);
  EXPECT_FALSE(PostThreadMessageW(theirs, WM_USER, 0, 0)) << "a thread that ended still takes messages";
}

struct Stuck {
  HANDLE release;
  HANDLE finished;
};

DWORD BlockUntilReleased(LPVOID p) {
  auto* s = static_cast<Stuck*>(p);
  WaitForSingleObject(s->release, INFINITE);
  SetEvent(s->finished);
  return 0;
}

TEST(Threads, TerminateThreadAbandonsInsteadOfKilling) {
  Stuck s{NewEvent(TRUE, FALSE), NewEvent(TRUE, FALSE)};
  const std::size_t live = vkr::platform::LiveThreadCount();
  const std::size_t abandoned = vkr::platform::AbandonedThreadCount();
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, &BlockUntilReleased, &s, 0, &id);
  EXPECT_EQ(vkr::platform::LiveThreadCount(), live + 1);

  ASSERT_TRUE(TerminateThread(t, 1));
  // For everybody else the thread has ended.
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 1u);
  EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
  EXPECT_EQ(vkr::platform::LiveThreadCount(), live);
  EXPECT_EQ(vkr::platform::AbandonedThreadCount(), abandoned + 1);
  EXPECT_TRUE(TerminateThread(t, 2)) << "terminating an ended thread is no error";

  // It was left running, not killed: it still finishes its work.
  SetEvent(s.release);
  EXPECT_EQ(WaitForSingleObject(s.finished, kLong), WAIT_OBJECT_0);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 1u) << "the exit code of the abandonment stays";
  CloseHandle(t);
  CloseHandle(s.release);
  CloseHandle(s.finished);
}

DWORD TerminateSelf(LPVOID p) {
  HANDLE self = *static_cast<HANDLE*>(p);
  return TerminateThread(self, 5) ? 1 : GetLastError();
}

TEST(Threads, TerminateThreadRefusesTheCallingThread) {
  HANDLE go = NewEvent(TRUE, FALSE);
  HANDLE t = nullptr;
  struct Ctx {
    HANDLE* t;
    HANDLE go;
  } ctx{&t, go};
  t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        WaitForSingleObject(c->go, INFINITE);
        return TerminateSelf(c->t);
      },
      &ctx, 0, nullptr);
  SetEvent(go);
  ASSERT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  CloseHandle(t);
  CloseHandle(go);
}

// Critical sections and interlocked counters.

TEST(CriticalSection, TheOwnerEntersAgainAndOthersWaitForTheLastLeave) {
  CRITICAL_SECTION cs;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  auto othersTry = [&] {
    BOOL got = FALSE;
    std::thread([&] {
      got = TryEnterCriticalSection(&cs);
      if (got) LeaveCriticalSection(&cs);
    }).join();
    return got;
  };
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(othersTry()) << "released before the last Leave";
  // A Leave by a thread that does not own it changes nothing.
  std::thread([&] { LeaveCriticalSection(&cs); }).join();
  EXPECT_FALSE(othersTry());
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(othersTry());
  DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;  // deliberately not atomic: the lock must order the updates
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int n = 0; n < 5000; ++n) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 20000);
  DeleteCriticalSection(&cs);
}

TEST(Interlocked, CountsExactlyAcrossThreads) {
  LONG volatile value = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      for (int n = 0; n < 5000; ++n) InterlockedIncrement(&value);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(value, 40000);
  EXPECT_EQ(InterlockedDecrement(&value), 39999);
  EXPECT_EQ(InterlockedIncrement(&value), 40000);
  EXPECT_EQ(InterlockedExchange(&value, -3), 40000);
  EXPECT_EQ(value, -3);
}

// The tick count.

TEST(TickCount, TheFakeClockMovesOnlyWhenToldAndWraps) {
  vkr::test::FakeTickCount clock(0xFFFFFFF0);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  Sleep(2);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  const DWORD before = GetTickCount();
  clock.Advance(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);
  EXPECT_EQ(GetTickCount() - before, 0x20u) << "the unsigned difference spans the wrap";
}

// Asked to, Sleep on the fake clock's own thread moves the clock (and a fixed wall clock with it)
// instead of waiting; another thread's Sleep still waits and moves nothing.
TEST(TickCount, SleepMovesTheFakeClockOnItsOwnThreadWhenAsked) {
  vkr::test::FakeTickCount clock(5000);
  SYSTEMTIME fixed{};
  fixed.wYear = 2026;
  fixed.wMonth = 12;
  fixed.wDay = 8;
  fixed.wHour = 10;
  fixed.wSecond = 55;
  vkr::platform::SetFixedSystemTime(&fixed);
  vkr::platform::MoveFakeTickCountOnSleep(true);
  const auto started = std::chrono::steady_clock::now();
  Sleep(10000);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(GetTickCount(), 15000u);
  SYSTEMTIME now{};
  GetSystemTime(&now);
  EXPECT_EQ((std::vector<int>{now.wMinute, now.wSecond}), (std::vector<int>{1, 5}));
  std::thread other([] { Sleep(20); });
  other.join();
  EXPECT_EQ(GetTickCount(), 15000u);
  vkr::platform::SetFixedSystemTime(nullptr);
  vkr::platform::UseRealTickCount();
  vkr::platform::UseFakeTickCount(100);  // a new fake clock does not inherit the request
  Sleep(2);
  EXPECT_EQ(GetTickCount(), 100u);
}

TEST(TickCount, TheRealClockFollowsSleep) {
  ASSERT_FALSE(vkr::platform::IsFakeTickCount());
  const DWORD before = GetTickCount();
  Sleep(20);
  const DWORD elapsed = GetTickCount() - before;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, kLong);
}

}  // namespace

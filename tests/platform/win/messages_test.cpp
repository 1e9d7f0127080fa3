// Thread message queues: posting, filters, WM_QUIT, sent messages through the window seam, and
// the waits that wake on input.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/threading.h"

namespace {

constexpr DWORD kLong = 30000;
constexpr UINT kJob = WM_USER + 105;       // the DTM thread's "run a job" message
constexpr UINT kContinue = WM_USER + 106;  // and its "continue the queue" message
const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

// A few windows known to the queue through the window seam: an owner thread and a procedure.
class FakeWindows {
 public:
  using Proc = LRESULT (*)(const MSG&);
  static HWND Add(DWORD owner, Proc proc) {
    std::lock_guard lk(s_lock);
    HWND h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x7000 + ++s_next));
    s_windows[h] = {owner, proc};
    return h;
  }
  static void Install() {
    static const vkr::platform::WindowSystemHooks hooks{&Owner, &Dispatch, &IsUnicode};
    vkr::platform::SetWindowSystemHooks(&hooks);
  }
  static void Uninstall() {
    vkr::platform::SetWindowSystemHooks(nullptr);
    std::lock_guard lk(s_lock);
    s_windows.clear();
  }
  static inline std::atomic<bool> lastUnicode{false};

 private:
  struct Window {
    DWORD owner;
    Proc proc;
  };
  static DWORD Owner(HWND h) {
    std::lock_guard lk(s_lock);
    auto it = s_windows.find(h);
    return it == s_windows.end() ? 0 : it->second.owner;
  }
  static LRESULT Dispatch(const MSG& m, bool unicode) {
    Proc p = nullptr;
    {
      std::lock_guard lk(s_lock);
      auto it = s_windows.find(m.hwnd);
      if (it == s_windows.end()) return 0;
      p = it->second.proc;
    }
    lastUnicode = unicode;
    return p(m);
  }
  static bool IsUnicode(HWND h) { return Owner(h) != 0; }
  static inline std::mutex s_lock;
  static inline std::map<HWND, Window> s_windows;
  static inline int s_next = 0;
};

class Queue : public ::testing::Test {
 protected:
  void SetUp() override { vkr::test::DrainQueue(); }
  void TearDown() override {
    vkr::test::DrainQueue();
    FakeWindows::Uninstall();
  }
  DWORD me = GetCurrentThreadId();
};

std::vector<UINT> TakeAll() {
  std::vector<UINT> got;
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) got.push_back(m.message);
  return got;
}

TEST_F(Queue, PostedMessagesComeInOrderWithTheirParameters) {
  const LPARAM pointerSized = static_cast<LPARAM>(0x1122334455667788);
  ASSERT_TRUE(PostThreadMessageA(me, kJob, 1, pointerSized));
  ASSERT_TRUE(PostThreadMessageW(me, kContinue, 2, 0));
  ASSERT_TRUE(PostThreadMessageA(me, kJob, 3, 0));
  MSG m;
  ASSERT_GT(GetMessageA(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.message, kJob);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.lParam, pointerSized);
  ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, kContinue);
  ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, PeekLeavesOrTakesAsAsked) {
  PostThreadMessageW(me, kJob, 9, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE) == FALSE);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, RangeFiltersPickTheFirstMatchAndLeaveTheRest) {
  const struct {
    UINT min, max;
    UINT expected;  // 0: nothing matches
  } cases[] = {
      {0, 0, WM_USER},
      {WM_USER + 1, WM_USER + 0xFF, WM_USER + 1},
      {WM_APP, WM_APP, WM_APP},
      {WM_USER + 2, WM_USER + 0xFF, 0},
      {WM_TIMER, WM_TIMER, 0},
  };
  for (const auto& c : cases) {
    vkr::test::DrainQueue();
    PostThreadMessageW(me, WM_USER, 0, 0);
    PostThreadMessageW(me, WM_USER + 1, 0, 0);
    PostThreadMessageW(me, WM_APP, 0, 0);
    MSG m;
    BOOL got = PeekMessageW(&m, nullptr, c.min, c.max, PM_REMOVE);
    EXPECT_EQ(got != FALSE, c.expected != 0) << std::hex << c.min << ".." << c.max;
    if (got) {
      EXPECT_EQ(m.message, c.expected) << std::hex << c.min << ".." << c.max;
    }
    EXPECT_EQ(TakeAll().size(), got ? 2u : 3u) << "a filtered peek took more than its message";
  }
}

TEST_F(Queue, WmQuitPassesEveryFilter) {
  PostThreadMessageW(me, WM_QUIT, 5, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(GetMessageW(&m, nullptr, WM_APP, WM_APP), 0) << "GetMessage answers 0 for WM_QUIT";
  EXPECT_EQ(m.wParam, 5u);
}

TEST_F(Queue, PostedQuitIsInOrderButPostQuitMessageWaitsForTheRest) {
  PostThreadMessageW(me, kJob, 0, 0);
  PostThreadMessageW(me, WM_QUIT, 0, 0);
  PostThreadMessageW(me, kContinue, 0, 0);
  EXPECT_EQ(TakeAll(), (std::vector<UINT>{kJob, WM_QUIT, kContinue}));

  PostQuitMessage(3);
  PostThreadMessageW(me, kJob, 0, 0);
  MSG m;
  ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, kJob) << "a quit request goes behind messages posted after it";
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) << "one PostQuitMessage makes one WM_QUIT";
}

TEST_F(Queue, BadRetrievalArgumentsFail) {
  EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
  EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
  MSG m;
  SetLastError(0);
  EXPECT_EQ(GetMessageW(&m, reinterpret_cast<HWND>(std::uintptr_t{0x1234}), 0, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(PostThreadMessageW(0, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST_F(Queue, AThreadMessageIsDispatchedToNothing) {
  MSG m{nullptr, kJob, 1, 2, 0, {}};
  EXPECT_EQ(DispatchMessageA(&m), 0);
  EXPECT_EQ(DispatchMessageW(nullptr), 0);
  EXPECT_FALSE(TranslateMessage(&m));
  // PostMessage without a window is a thread message to the caller.
  ASSERT_TRUE(PostMessageW(nullptr, kContinue, 0, 0));
  EXPECT_EQ(TakeAll(), std::vector<UINT>{kContinue});
}

// Windows, through the seam.

std::atomic<DWORD> g_procThread{0};

LRESULT Doubler(const MSG& m) {
  g_procThread = GetCurrentThreadId();
  return static_cast<LRESULT>(m.wParam * 2);
}

TEST_F(Queue, WindowMessagesGoToTheOwnersQueueAndProcedure) {
  FakeWindows::Install();
  HWND w = FakeWindows::Add(me, &Doubler);
  ASSERT_TRUE(PostMessageW(w, WM_USER, 21, 0));
  PostThreadMessageW(me, kJob, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, kThreadOnly, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, kJob) << "(HWND)-1 takes thread messages only";
  ASSERT_TRUE(PeekMessageW(&m, w, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, w);
  EXPECT_EQ(DispatchMessageW(&m), 42);
  EXPECT_TRUE(FakeWindows::lastUnicode);
  EXPECT_EQ(DispatchMessageA(&m), 42);
  EXPECT_FALSE(FakeWindows::lastUnicode);
  EXPECT_TRUE(IsWindowUnicode(w));
  // Same thread: SendMessage calls the procedure directly.
  EXPECT_EQ(SendMessageW(w, WM_USER, 5, 0), 10);
  EXPECT_TRUE(TakeAll().empty());
}

TEST_F(Queue, UnknownWindowsAreRefused) {
  HWND nowhere = reinterpret_cast<HWND>(std::uintptr_t{0x6FFF});
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(nowhere, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(SendMessageW(nowhere, WM_USER, 1, 0), 0);
  EXPECT_EQ(SendMessageW(nullptr, WM_USER, 1, 0), 0);
  FakeWindows::Install();
  EXPECT_FALSE(PostMessageW(nowhere, WM_USER, 0, 0));
  MSG m{nowhere, WM_USER, 0, 0, 0, {}};
  EXPECT_EQ(DispatchMessageW(&m), 0);
  EXPECT_FALSE(IsWindowUnicode(nowhere));
}

std::atomic<HWND> g_callerWindow{nullptr};

LRESULT AsksBack(const MSG& m) {
  g_procThread = GetCurrentThreadId();
  if (m.message == WM_USER + 1) return SendMessageW(g_callerWindow, WM_USER, m.wParam, 0) + 1;
  return static_cast<LRESULT>(m.wParam * 2);
}

TEST_F(Queue, SendMessageAcrossThreadsRunsInsideTheReceiversRetrieval) {
  FakeWindows::Install();
  std::vector<UINT> loopSaw;
  std::mutex sawLock;
  vkr::test::ApartmentThread other([&](const MSG& m) {
    std::lock_guard lk(sawLock);
    loopSaw.push_back(m.message);
  });
  HWND theirs = FakeWindows::Add(other.Id(), &AsksBack);
  g_callerWindow = FakeWindows::Add(me, &Doubler);

  EXPECT_EQ(SendMessageW(theirs, WM_USER, 21, 0), 42);
  EXPECT_EQ(g_procThread.load(), other.Id());
  // The receiver's procedure sends back to us while we wait: we handle it without a loop.
  EXPECT_EQ(SendMessageW(theirs, WM_USER + 1, 4, 0), 9);
  EXPECT_EQ(g_procThread.load(), me);
  ASSERT_TRUE(other.Stop());
  {
    std::lock_guard lk(sawLock);
    EXPECT_TRUE(loopSaw.empty()) << "GetMessage returned a sent message";
  }
  // The owner has ended: the send fails at once.
  EXPECT_EQ(SendMessageW(theirs, WM_USER, 1, 0), 0);
}

// Waits that wake on input.

TEST_F(Queue, MsgWaitPrefersObjectsAndTellsInputApart) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  PostThreadMessageW(me, kJob, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  ResetEvent(e);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_TIMER | QS_SENDMESSAGE), static_cast<DWORD>(WAIT_TIMEOUT))
      << "a posted message woke a wait that did not ask for it";
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT)
      << "input reported once is no longer new";
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0)
      << "MWMO_INPUTAVAILABLE counts any queued input";
  CloseHandle(e);
}

TEST_F(Queue, LookingAtTheQueueMakesItsInputOld) {
  PostThreadMessageW(me, kJob, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0);
  PostThreadMessageW(me, kContinue, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0), WAIT_OBJECT_0);
  EXPECT_EQ(TakeAll(), (std::vector<UINT>{kJob, kContinue}));
}

TEST_F(Queue, APostFromAnotherThreadEndsAnInfiniteMsgWait) {
  DWORD target = me;
  std::thread t([&] { PostThreadMessageW(target, kJob, 0, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_POSTMESSAGE, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0);
  t.join();
}

TEST_F(Queue, MsgWaitRefusesWaitAllAndBadFlags) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  SetLastError(0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, TRUE, 0, QS_ALLINPUT), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &e, 0, QS_ALLINPUT, 0x80), WAIT_FAILED);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &e, 0, QS_ALLINPUT, MWMO_ALERTABLE), WAIT_OBJECT_0);
  CloseHandle(e);
}

// The waiting function the DTM uses on the frame's thread: wait for one event while taking and
// dispatching every message, with the whole time-out for every wait.
BOOL WaitWithMessageLoop(HANDLE event, DWORD timeout) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, timeout, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return TRUE;
    if (r != WAIT_OBJECT_0 + 1) return FALSE;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
      if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return TRUE;
    }
    if (timeout != INFINITE && GetTickCount() - start >= timeout) return FALSE;
  }
}

std::atomic<HANDLE> g_eventToSet{nullptr};
std::atomic<int> g_dispatched{0};
LRESULT SetsTheEvent(const MSG&) {
  ++g_dispatched;
  SetEvent(g_eventToSet);
  return 0;
}

TEST_F(Queue, WaitWithMessageLoopDropsThreadMessages) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PostThreadMessageA(me, kJob, 0, 0);
  EXPECT_FALSE(WaitWithMessageLoop(e, 0));
  EXPECT_TRUE(TakeAll().empty()) << "the job message should have been taken and dispatched to nothing";
  CloseHandle(e);
}

TEST_F(Queue, WaitWithMessageLoopReturnsRightAfterTheMessageThatSignals) {
  FakeWindows::Install();
  HWND w = FakeWindows::Add(me, &SetsTheEvent);
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_eventToSet = e;
  g_dispatched = 0;
  PostMessageA(w, WM_USER, 0, 0);
  PostMessageA(w, WM_USER, 0, 0);
  EXPECT_TRUE(WaitWithMessageLoop(e, kLong));
  EXPECT_EQ(g_dispatched.load(), 1);
  EXPECT_EQ(TakeAll().size(), 1u);
  // Already signalled: at once, without dispatching.
  PostMessageA(w, WM_USER, 0, 0);
  EXPECT_TRUE(WaitWithMessageLoop(e, 0));
  EXPECT_EQ(g_dispatched.load(), 1);
  CloseHandle(e);
}

}  // namespace

namespace {

// Whether the process becomes idle while the test thread serves its own queue; false after 10 s.
bool BecomesIdle() { return vkr::test::PumpUntil([] { return vkr::platform::ProcessIsIdle(); }, 10000); }

}  // namespace

// Idle is what a frame waits for instead of a time: every other thread asleep in a platform wait
// with nothing to wake it. A thread at work, a message queued, a wait just satisfied and a
// sleeping thread each keep the process busy; a timer that is not due does not.
TEST_F(Queue, TheProcessIsIdleOnlyWhenNoThreadHasAnythingToDoNow) {
  std::atomic<bool> working{false}, release{false};
  vkr::test::ApartmentThread worker([&](const MSG& msg) {
    if (msg.message != kJob) return;
    working = true;
    while (!release) std::this_thread::yield();  // busy without a wait of the platform
  });
  ASSERT_TRUE(BecomesIdle());

  // A message queued for a thread, and the thread at work on it.
  ASSERT_TRUE(PostThreadMessageW(worker.Id(), kJob, 0, 0));
  EXPECT_FALSE(vkr::platform::ProcessIsIdle());
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return working.load(); }));
  EXPECT_FALSE(vkr::platform::ProcessIsIdle());
  release = true;
  ASSERT_TRUE(BecomesIdle());

  // A message in the caller's own queue is work too.
  ASSERT_TRUE(PostThreadMessageW(me, kContinue, 0, 0));
  EXPECT_FALSE(vkr::platform::ProcessIsIdle());
  vkr::test::DrainQueue();

  // A thread waiting for an event is idle until the event is set, before it has even woken.
  struct Waiter {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> through{false};
  } w;
  HANDLE waiter = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* self = static_cast<Waiter*>(p);
        WaitForSingleObject(self->event, INFINITE);
        while (!self->through.load()) std::this_thread::yield();
        return 0;
      },
      &w, 0, nullptr);
  ASSERT_TRUE(BecomesIdle());
  ASSERT_TRUE(SetEvent(w.event));
  EXPECT_FALSE(vkr::platform::ProcessIsIdle());
  w.through = true;
  ASSERT_EQ(WaitForSingleObject(waiter, kLong), WAIT_OBJECT_0);
  CloseHandle(waiter);
  CloseHandle(w.event);

  // A timer far from due keeps nobody busy.
  ASSERT_TRUE(worker.Run([] { return SetTimer(nullptr, 0, 60000, nullptr) ? S_OK : E_FAIL; }) == S_OK);
  EXPECT_TRUE(BecomesIdle());
}

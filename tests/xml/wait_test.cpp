// Waiting for an event while the thread's messages keep being dispatched.
#include "xml/WaitWithMessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "tests/support/threading.h"

namespace {

// One fake window owned by the test thread; its procedure records the messages and signals the
// event when it sees kSignalMessage.
constexpr UINT kSignalMessage = WM_USER + 1;
constexpr UINT kOtherMessage = WM_USER + 2;
HWND const kWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x7777));
DWORD g_windowThread = 0;
HANDLE g_event = nullptr;
std::vector<UINT> g_dispatched;

const vkr::platform::WindowSystemHooks kHooks = {
    [](HWND hwnd) -> DWORD { return hwnd == kWindow ? g_windowThread : 0; },
    [](const MSG& msg, bool) -> LRESULT {
      g_dispatched.push_back(msg.message);
      if (msg.message == kSignalMessage) SetEvent(g_event);
      return 0;
    },
    [](HWND) { return false; },
};

// Steps taken on a thread of their own, one each time the test thread sleeps in its wait and
// nothing has woken it since (what the step before set going has been handled), so that a test
// says what happens while the wait sleeps, and whether it sleeps, without timing it. Finish tells
// how many were taken.
class AsleepSteps {
 public:
  using Step = std::function<void()>;
  explicit AsleepSteps(std::vector<Step> steps) : steps_(std::move(steps)), thread_([this] { Run(); }) {}
  ~AsleepSteps() { Finish(); }
  AsleepSteps(const AsleepSteps&) = delete;
  AsleepSteps& operator=(const AsleepSteps&) = delete;
  std::size_t Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return taken_;
  }

 private:
  void Run() {
    while (!stop_ && taken_ < steps_.size()) {
      if (vkr::platform::WaitTimeLeft(g_windowThread))
        steps_[taken_++]();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<Step> steps_;
  std::atomic<bool> stop_{false};
  std::size_t taken_ = 0;
  std::thread thread_;
};

// A time-out no wait reaches in real time: a wait ends by the (fake) tick count or not at all.
constexpr DWORD kTimeout = 600000;

// The step that ends a wait that should not be sleeping now (a TRUE or FALSE the test does not
// expect, and one step more taken).
void Unblock() {
  SetEvent(g_event);
  PostThreadMessageW(g_windowThread, WM_QUIT, 0, 0);
}

// What the test thread's wait had left of its time at each Message step, in real milliseconds.
std::vector<DWORD> g_left;

// The step of time passing, then a message.
void Message(vkr::test::FakeTickCount& clock, DWORD ms) {
  g_left.push_back(vkr::platform::WaitTimeLeft(g_windowThread).value_or(0));
  clock.Advance(ms);
  PostMessageW(kWindow, kOtherMessage, 0, 0);
}

class WaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_windowThread = GetCurrentThreadId();
    g_dispatched.clear();
    g_left.clear();
    g_event = event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event_, nullptr);
    vkr::platform::SetWindowSystemHooks(&kHooks);
    DrainQueue();
  }
  void TearDown() override {
    DrainQueue();
    vkr::platform::SetWindowSystemHooks(nullptr);
    CloseHandle(event_);
  }
  static void DrainQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HANDLE event_ = nullptr;
};

TEST_F(WaitTest, SignalledEventReturnsAtOnceWithoutDispatching) {
  SetEvent(event_);
  ASSERT_TRUE(PostMessageW(kWindow, kOtherMessage, 0, 0));
  EXPECT_TRUE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_TRUE(g_dispatched.empty());
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // still queued
  EXPECT_TRUE(WaitWithMessageLoop(event_, 0));  // the event is neither reset nor closed
}

TEST_F(WaitTest, ZeroTimeoutWithNothingPendingIsFalseAtOnce) {
  AsleepSteps watch({Unblock});
  EXPECT_FALSE(WaitWithMessageLoop(event_, 0));
  EXPECT_EQ(watch.Finish(), 0u) << "the wait slept";
}

TEST_F(WaitTest, ReturnsRightAfterTheMessageWhoseHandlingSignals) {
  ASSERT_TRUE(PostMessageW(kWindow, kOtherMessage, 1, 0));
  ASSERT_TRUE(PostMessageW(kWindow, kSignalMessage, 2, 0));
  ASSERT_TRUE(PostMessageW(kWindow, kOtherMessage, 3, 0));
  EXPECT_TRUE(WaitWithMessageLoop(event_, 1000));
  EXPECT_EQ(g_dispatched, (std::vector<UINT>{kOtherMessage, kSignalMessage}));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);  // the next message waits for the caller's own loop
}

// A wait that ended right after its own message leaves the next one queued, already seen by the
// thread: the next wait still serves it (a call from another apartment waiting there would
// otherwise wait for ever, and with it a caller that waits for that call's effect).
TEST_F(WaitTest, AMessageLeftQueuedByAnEarlierWaitIsServedByTheNext) {
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(PostMessageW(kWindow, kSignalMessage, 1, 0));
  ASSERT_TRUE(PostMessageW(kWindow, kSignalMessage, 2, 0));
  g_event = first;
  EXPECT_TRUE(WaitWithMessageLoop(first, INFINITE));
  g_event = event_;
  AsleepSteps watch({Unblock});
  EXPECT_TRUE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_EQ(watch.Finish(), 0u) << "the wait slept with the message queued";
  EXPECT_EQ(g_dispatched, (std::vector<UINT>{kSignalMessage, kSignalMessage}));
  CloseHandle(first);
}

TEST_F(WaitTest, MessagesFromAnotherThreadAreServedWhileWaiting) {
  AsleepSteps poster({[] { PostMessageW(kWindow, kSignalMessage, 0, 0); }, Unblock});
  EXPECT_TRUE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_EQ(poster.Finish(), 1u);
  EXPECT_EQ(g_dispatched, (std::vector<UINT>{kSignalMessage}));
}

// Messages that keep coming leave each wait only the time that is left by the tick count, and the
// wait ends when that is spent: ten messages each a tenth of the time-out apart end it with the
// tenth (a wait that went on meets the event next).
TEST_F(WaitTest, SteadyMessagesDoNotStretchTheTimeout) {
  vkr::test::FakeTickCount clock;
  std::vector<AsleepSteps::Step> steps(10, [&] { Message(clock, kTimeout / 10); });
  steps.push_back(Unblock);
  AsleepSteps messages(steps);
  const DWORD start = GetTickCount();
  EXPECT_FALSE(WaitWithMessageLoop(event_, kTimeout));
  EXPECT_EQ(GetTickCount() - start, kTimeout);
  EXPECT_EQ(messages.Finish(), 10u);
  EXPECT_EQ(g_dispatched, std::vector<UINT>(10, kOtherMessage));
  for (std::size_t i = 0; i < g_left.size(); ++i)
    EXPECT_LE(g_left[i], kTimeout - i * (kTimeout / 10)) << "each wait must get only the time that is left";
}

// A message late in the wait does not start the time-out again: a quarter of it passes and a
// message comes; the wait after it has three quarters left, and ends when they have passed.
TEST_F(WaitTest, LateMessageDoesNotRestartTheTimeout) {
  vkr::test::FakeTickCount clock;
  AsleepSteps messages({[&] { Message(clock, kTimeout / 4); }, [&] { Message(clock, kTimeout - kTimeout / 4); }, Unblock});
  const DWORD start = GetTickCount();
  EXPECT_FALSE(WaitWithMessageLoop(event_, kTimeout));
  EXPECT_EQ(GetTickCount() - start, kTimeout);
  EXPECT_EQ(messages.Finish(), 2u);
  ASSERT_EQ(g_left.size(), 2u);
  EXPECT_LE(g_left[1], kTimeout - kTimeout / 4) << "a wait woken by a message must not wait the whole time-out again";
}

TEST_F(WaitTest, SignalFromAnotherThreadEndsAnInfiniteWait) {
  HANDLE event = event_;
  std::thread signaller([event] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(event);
  });
  EXPECT_TRUE(WaitWithMessageLoop(event_, INFINITE));
  signaller.join();
}

TEST_F(WaitTest, CallsFromOtherApartmentsRunInsideTheWait) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const vkr::platform::Apartment here = vkr::platform::Apartment::Current();
  const DWORD waiter = GetCurrentThreadId();
  DWORD ranOn = 0;
  HRESULT callResult = E_FAIL;
  HANDLE event = event_;
  std::thread caller([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    callResult = here.Call([&]() -> HRESULT {
      ranOn = GetCurrentThreadId();
      SetEvent(event);
      return S_OK;
    });
    CoUninitialize();
  });
  EXPECT_TRUE(WaitWithMessageLoop(event_, 5000));
  caller.join();
  EXPECT_EQ(callResult, S_OK);
  EXPECT_EQ(ranOn, waiter);
  CoUninitialize();
}

TEST_F(WaitTest, QuitIsLeftForTheThreadsOwnLoop) {
  PostQuitMessage(7);
  AsleepSteps watch({Unblock});
  EXPECT_FALSE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_EQ(watch.Finish(), 0u) << "the wait slept with the quit queued";
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WaitTest, ClosedHandleFailsInsteadOfWaiting) {
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  AsleepSteps watch({Unblock});
  EXPECT_FALSE(WaitWithMessageLoop(closed, INFINITE));
  EXPECT_FALSE(WaitWithMessageLoop(nullptr, 5000));
  EXPECT_EQ(watch.Finish(), 0u) << "a wait on no event slept";
}

}  // namespace

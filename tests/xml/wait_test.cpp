// Waiting for an event while the thread's messages keep being dispatched.
#include "xml/WaitWithMessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

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

class WaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_windowThread = GetCurrentThreadId();
    g_dispatched.clear();
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
  const auto start = Clock::now();
  EXPECT_FALSE(WaitWithMessageLoop(event_, 0));
  EXPECT_LT(MillisecondsSince(start), 50);
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
  EXPECT_TRUE(WaitWithMessageLoop(first, 1000));
  g_event = event_;
  const auto start = Clock::now();
  EXPECT_TRUE(WaitWithMessageLoop(event_, 2000));
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(g_dispatched, (std::vector<UINT>{kSignalMessage, kSignalMessage}));
  CloseHandle(first);
}

TEST_F(WaitTest, MessagesFromAnotherThreadAreServedWhileWaiting) {
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostMessageW(kWindow, kSignalMessage, 0, 0);
  });
  const auto start = Clock::now();
  EXPECT_TRUE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_LT(MillisecondsSince(start), 1000);
  poster.join();
  EXPECT_EQ(g_dispatched, (std::vector<UINT>{kSignalMessage}));
}

TEST_F(WaitTest, SteadyMessagesDoNotStretchTheTimeout) {
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    while (!stop) {
      PostMessageW(kWindow, kOtherMessage, 0, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  const auto start = Clock::now();
  EXPECT_FALSE(WaitWithMessageLoop(event_, 100));
  const long elapsed = MillisecondsSince(start);
  stop = true;
  poster.join();
  EXPECT_GE(elapsed, 98);  // the tick count and this clock round differently
  EXPECT_LT(elapsed, 170) << "each wait must get only the time that is left";
  EXPECT_FALSE(g_dispatched.empty());
}

TEST_F(WaitTest, LateMessageDoesNotRestartTheTimeout) {
  // Wide margins: a loaded machine may run the poster late, but a wait that restarted on the
  // message would take the timeout again on top (about 500 ms).
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostMessageW(kWindow, kOtherMessage, 0, 0);
  });
  const auto start = Clock::now();
  EXPECT_FALSE(WaitWithMessageLoop(event_, 400));
  const long elapsed = MillisecondsSince(start);
  poster.join();
  EXPECT_GE(elapsed, 398);  // the tick count and this clock round differently
  EXPECT_LT(elapsed, 490) << "a wait woken by a message must not wait the whole time-out again";
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
  const auto start = Clock::now();
  EXPECT_FALSE(WaitWithMessageLoop(event_, INFINITE));
  EXPECT_LT(MillisecondsSince(start), 1000);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WaitTest, ClosedHandleFailsInsteadOfWaiting) {
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  const auto start = Clock::now();
  EXPECT_FALSE(WaitWithMessageLoop(closed, INFINITE));
  EXPECT_FALSE(WaitWithMessageLoop(nullptr, 5000));
  EXPECT_LT(MillisecondsSince(start), 1000);
}

}  // namespace

// Test helpers for threads and apartments: a fake clock guard, pumping waits, queue draining and
// a thread that is an apartment running a message loop.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace vkr::test {

// The fake clock for the lifetime of the guard.
class FakeTickCount {
 public:
  explicit FakeTickCount(DWORD start = 1000) { vkr::platform::UseFakeTickCount(start); }
  ~FakeTickCount() { vkr::platform::UseRealTickCount(); }
  FakeTickCount(const FakeTickCount&) = delete;
  FakeTickCount& operator=(const FakeTickCount&) = delete;
  void Advance(DWORD ms) { vkr::platform::AdvanceTickCount(ms); }
};

// Makes the fake clock run while the calling thread serves its messages, so that waits with
// time-outs of seconds end in milliseconds. A helper thread posts the calling thread one timer
// message at a time; each time the thread dispatches it (in any message loop, the pumping waits of
// the system under test included) the clock moves by `step` ms. The clock stands still while
// the thread is busy or inside a cross-apartment call (whose modal wait leaves timer messages
// queued), and while threads made by CreateThread after the driver started (short-lived workers)
// are running, so their calls into the thread are served before time passes. Faster than real
// time, and its steps follow the thread's own progress. One driver at a time; make the fake clock
// first.
class FakeClockDriver {
 public:
  explicit FakeClockDriver(DWORD step = 50)
      : m_step(step),
        m_owner(GetCurrentThreadId()),
        m_baseline(vkr::platform::LiveThreadCount()),
        m_timer(SetTimer(nullptr, 0, USER_TIMER_MAXIMUM, &FakeClockDriver::Step)) {
    Current().store(this);
    m_thread = std::thread([this] { Run(); });
  }
  ~FakeClockDriver() {
    m_stop.store(true);
    m_thread.join();
    Current().store(nullptr);
    // A message still queued finds its timer gone and does nothing.
    KillTimer(nullptr, m_timer);
  }
  FakeClockDriver(const FakeClockDriver&) = delete;
  FakeClockDriver& operator=(const FakeClockDriver&) = delete;

 private:
  static std::atomic<FakeClockDriver*>& Current() {
    static std::atomic<FakeClockDriver*> current{nullptr};
    return current;
  }
  static void Step(HWND, UINT, UINT_PTR, DWORD) {
    FakeClockDriver* self = Current().load();
    if (!self) return;
    vkr::platform::AdvanceTickCount(self->m_step);
    self->m_posted.store(false);
  }
  void Run() {
    while (!m_stop.load()) {
      if (!m_posted.load() && vkr::platform::LiveThreadCount() <= m_baseline) {
        m_posted.store(true);
        PostThreadMessageW(m_owner, WM_TIMER, m_timer, reinterpret_cast<LPARAM>(&FakeClockDriver::Step));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  const DWORD m_step;
  const DWORD m_owner;
  const std::size_t m_baseline;
  const UINT_PTR m_timer;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_posted{false};
  std::thread m_thread;
};

// Waits for h while taking and dispatching every message of the calling thread (as the frame's
// pumping waits do). False on time-out or a failed wait.
inline bool PumpUntilSignalled(HANDLE h, DWORD milliseconds = 30000) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD r = MsgWaitForMultipleObjectsEx(1, &h, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (milliseconds != INFINITE && !vkr::platform::IsFakeTickCount() && GetTickCount() - start >= milliseconds)
      return false;
  }
}

// Takes and dispatches the test thread's messages until pred holds; false after `ms` of real time.
inline bool PumpUntil(const std::function<bool()>& pred, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// Serves the calling thread's messages until no thread of the process has anything to do now (a
// timer not yet due does not count): what the last step set going has happened. False when `ms`
// of real time passed first. For a suite with the frame's channel, vkr::frame::WaitUntilQuiet
// waits for its answers too.
inline bool PumpUntilQuiet(int ms = 60000) {
  return PumpUntil(
      [] {
        vkr::ui::PumpUntilIdle();
        return vkr::platform::ProcessIsIdle();
      },
      ms);
}

// Takes every message out of the calling thread's queue without dispatching it.
inline void DrainQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// A thread that is a single-threaded apartment and runs GetMessage/DispatchMessage until WM_QUIT.
// onMessage (optional) sees every message the loop takes, before it is dispatched.
class ApartmentThread {
 public:
  explicit ApartmentThread(std::function<void(const MSG&)> onMessage = {}) : m_onMessage(std::move(onMessage)) {
    m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &Main, this, 0, &m_id);
    WaitForSingleObject(m_ready, INFINITE);
  }
  ~ApartmentThread() {
    Stop();
    CloseHandle(m_ready);
  }
  ApartmentThread(const ApartmentThread&) = delete;
  ApartmentThread& operator=(const ApartmentThread&) = delete;

  DWORD Id() const { return m_id; }
  HANDLE Handle() const { return m_thread; }
  const vkr::platform::Apartment& Apartment() const { return m_apartment; }

  // Runs fn on the thread as a cross-apartment call.
  template <class F>
  HRESULT Run(F&& fn) const {
    return m_apartment.Call(std::forward<F>(fn));
  }

  // Ends the loop and waits for the thread to end, serving the caller's messages meanwhile.
  bool Stop() {
    if (!m_thread) return true;
    PostThreadMessageW(m_id, WM_QUIT, 0, 0);
    bool ended = PumpUntilSignalled(m_thread);
    CloseHandle(m_thread);
    m_thread = nullptr;
    return ended;
  }

 private:
  static DWORD Main(LPVOID p) {
    auto* self = static_cast<ApartmentThread*>(p);
    CoInitialize(nullptr);
    self->m_apartment = vkr::platform::Apartment::Current();
    SetEvent(self->m_ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (self->m_onMessage) self->m_onMessage(msg);
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    CoUninitialize();
    return 0;
  }

  std::function<void(const MSG&)> m_onMessage;
  HANDLE m_ready = nullptr;
  HANDLE m_thread = nullptr;
  DWORD m_id = 0;
  vkr::platform::Apartment m_apartment;
};

}  // namespace vkr::test

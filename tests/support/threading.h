// Test helpers for threads and apartments: a fake clock guard, pumping waits, queue draining and
// a thread that is an apartment running a message loop.
#pragma once

#include <chrono>
#include <functional>
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

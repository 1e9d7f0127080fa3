// Thread message queues, thread timers, the waits that wake on input, and the modal wait.
#include "platform/win/messages.h"

#include <algorithm>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/thread_state.h"

namespace vkr::platform {
namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
constexpr UINT WM_PAINT_MESSAGE = 0x000F;  // WM_PAINT (windows.h)

std::mutex g_hooksLock;
WindowSystemHooks g_hooks{};
// The window system's own hooks, put back when a test removes its own.
WindowSystemHooks g_defaultHooks{};

WindowSystemHooks Hooks() {
  std::lock_guard lk(g_hooksLock);
  return g_hooks;
}

// The thread that owns a window, or 0 (ERROR_INVALID_WINDOW_HANDLE) when it is none.
DWORD WindowOwner(HWND hwnd) {
  WindowSystemHooks h = Hooks();
  DWORD owner = h.OwnerThread ? h.OwnerThread(hwnd) : 0;
  if (!owner) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return owner;
}

bool WindowIsUnicode(HWND hwnd) {
  WindowSystemHooks h = Hooks();
  return h.IsUnicode && h.IsUnicode(hwnd);
}

LRESULT CallWindowProcedure(const MSG& msg, bool unicode) {
  WindowSystemHooks h = Hooks();
  if (!h.Dispatch || !h.OwnerThread || !h.OwnerThread(msg.hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return h.Dispatch(msg, unicode);
}

// Process-unique thread timer ids, never reused; apart from the small ids callers pick for
// window timers.
UINT_PTR g_nextTimerId = 0x100;  // guarded by SyncMutex

bool Due(const ThreadTimer& t, DWORD now) { return t.forced || static_cast<DWORD>(now - t.start) >= t.interval; }

bool MatchesWindow(HWND msgHwnd, HWND filter) {
  if (!filter) return true;
  if (filter == kThreadMessagesOnly) return msgHwnd == nullptr;
  return msgHwnd == filter;
}

bool MatchesRange(UINT message, UINT min, UINT max) {
  if (min == 0 && max == 0) return true;
  return min <= message && message <= max;
}

bool Matches(const MSG& m, HWND filter, UINT min, UINT max) {
  // WM_QUIT is taken whatever the filter.
  if (m.message == WM_QUIT) return true;
  return MatchesWindow(m.hwnd, filter) && MatchesRange(m.message, min, max);
}

// Runs the oldest message sent to the thread. Lock held on entry and exit, released while the
// window procedure runs.
void HandleOneSentLocked(std::unique_lock<std::mutex>& lk, ThreadState& self) {
  std::shared_ptr<SentMessage> s = std::move(self.sent.front());
  self.sent.pop_front();
  lk.unlock();
  LRESULT r = CallWindowProcedure(s->msg, s->unicode);
  lk.lock();
  s->result = r;
  s->done = true;
  if (s->sender) WakeLocked(*s->sender);
}

// The retrieval of GetMessage and PeekMessage. Lock held, released only to run sent messages.
bool TakeMessageLocked(std::unique_lock<std::mutex>& lk, ThreadState& self, MSG* out, HWND filter, UINT min,
                       UINT max, bool remove, std::optional<SteadyTime>* timerDue) {
  while (!self.sent.empty()) HandleOneSentLocked(lk, self);
  MarkQueueSeenLocked(self);
  for (auto it = self.posted.begin(); it != self.posted.end(); ++it) {
    if (!Matches(*it, filter, min, max)) continue;
    *out = *it;
    if (remove) self.posted.erase(it);
    return true;
  }
  DWORD now = GetTickCount();
  if (self.quitPending) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(self.quitCode), 0, now, {}};
    if (remove) self.quitPending = false;
    return true;
  }
  // A paint stays until its window is validated, so taking it removes nothing.
  if (filter != kThreadMessagesOnly && MatchesRange(WM_PAINT_MESSAGE, min, max)) {
    WindowSystemHooks h = Hooks();
    if (h.NextPaint && h.NextPaint(self.id, filter, out)) {
      out->time = now;
      return true;
    }
  }
  if (!MatchesRange(WM_TIMER, min, max)) return false;
  for (auto& t : self.timers) {
    if (!MatchesWindow(t.hwnd, filter)) continue;
    if (Due(t, now)) {
      *out = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), now, {}};
      if (remove) {
        // The next period starts now: periods missed while the thread was busy are not made up.
        t.start = now;
        t.forced = false;
        t.reported = false;
      }
      return true;
    }
    auto at = RealTimeAfterTicks(t.interval - static_cast<DWORD>(now - t.start));
    if (at && (!*timerDue || *at < **timerDue)) *timerDue = at;
  }
  return false;
}

// Validates the arguments shared by GetMessage and PeekMessage.
bool CheckRetrieval(LPMSG msg, HWND hwnd) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (hwnd && hwnd != kThreadMessagesOnly && !WindowOwner(hwnd)) return false;
  return true;
}

BOOL GetMessageImpl(LPMSG msg, HWND hwnd, UINT min, UINT max) {
  if (!CheckRetrieval(msg, hwnd)) return -1;
  auto self = CurrentThreadShared();
  std::unique_lock lk(SyncMutex());
  for (;;) {
    std::optional<SteadyTime> timerDue;
    if (TakeMessageLocked(lk, *self, msg, hwnd, min, max, true, &timerDue)) break;
    SleepLocked(lk, *self, timerDue);
  }
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageImpl(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT removeMsg) {
  if (!CheckRetrieval(msg, hwnd)) return FALSE;
  auto self = CurrentThreadShared();
  std::unique_lock lk(SyncMutex());
  std::optional<SteadyTime> timerDue;
  return TakeMessageLocked(lk, *self, msg, hwnd, min, max, (removeMsg & PM_REMOVE) != 0, &timerDue) ? TRUE : FALSE;
}

BOOL PostToThread(DWORD threadId, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lk(SyncMutex());
  auto t = FindThreadLocked(threadId);
  if (!t || !PostLocked(*t, MSG{hwnd, message, wParam, lParam, GetTickCount(), {}})) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

BOOL PostMessageImpl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return PostToThread(GetCurrentThreadId(), nullptr, message, wParam, lParam);
  DWORD owner = WindowOwner(hwnd);
  if (!owner) return FALSE;
  if (!PostToThread(owner, hwnd, message, wParam, lParam)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

LRESULT SendMessageImpl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode) {
  if (!hwnd) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  DWORD owner = WindowOwner(hwnd);
  if (!owner) return 0;
  MSG msg{hwnd, message, wParam, lParam, GetTickCount(), {}};
  auto self = CurrentThreadShared();
  if (owner == self->id) return CallWindowProcedure(msg, unicode);

  auto item = std::make_shared<SentMessage>();
  item->msg = msg;
  item->unicode = unicode;
  item->sender = self;
  std::unique_lock lk(SyncMutex());
  auto target = FindThreadLocked(owner);
  if (!target || target->ended) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  target->sent.push_back(item);
  target->newSent = true;
  WakeLocked(*target);
  // As on Windows, a sender handles only messages sent to itself while it waits.
  while (!item->done) {
    if (!self->sent.empty())
      HandleOneSentLocked(lk, *self);
    else
      SleepLocked(lk, *self, std::nullopt);
  }
  return item->result;
}

LRESULT DispatchImpl(const MSG* msg, bool unicode) {
  if (!msg) return 0;
  if (!msg->hwnd && msg->message == kApartmentCallMessage) {
    DispatchApartmentCall(*msg);
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    bool live = false;
    {
      auto self = CurrentThreadShared();
      std::lock_guard lk(SyncMutex());
      live = std::any_of(self->timers.begin(), self->timers.end(), [&](const ThreadTimer& t) {
        return t.hwnd == msg->hwnd && t.id == msg->wParam && t.proc == proc;
      });
    }
    // A timer killed after its message was taken does not fire.
    if (live) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  return CallWindowProcedure(*msg, unicode);
}

}  // namespace

bool PostLocked(ThreadState& t, const MSG& msg) {
  if (t.ended) return false;
  t.posted.push_back(msg);
  t.newPosted = true;
  WakeLocked(t);
  return true;
}

bool QueueHasInputLocked(ThreadState& t, DWORD mask, bool anyInput, std::optional<SteadyTime>* timerDue) {
  if ((mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && (!t.posted.empty() || t.quitPending) &&
      (anyInput || t.newPosted))
    return true;
  if ((mask & QS_SENDMESSAGE) && !t.sent.empty() && (anyInput || t.newSent)) return true;
  if (mask & QS_TIMER) {
    DWORD now = GetTickCount();
    for (auto& tm : t.timers) {
      if (Due(tm, now)) {
        if (anyInput || !tm.reported) return true;
        continue;
      }
      auto at = RealTimeAfterTicks(tm.interval - static_cast<DWORD>(now - tm.start));
      if (at && (!*timerDue || *at < **timerDue)) *timerDue = at;
    }
  }
  return false;
}

void MarkQueueSeenLocked(ThreadState& t) {
  t.newPosted = false;
  t.newSent = false;
  DWORD now = GetTickCount();
  for (auto& tm : t.timers)
    if (Due(tm, now)) tm.reported = true;
}

bool ModalWaitLocked(std::unique_lock<std::mutex>& lk, ThreadState& self, bool (*done)(void*), void* ctx,
                     std::optional<SteadyTime> until) {
  for (;;) {
    if (done(ctx)) return true;
    if (!self.sent.empty()) {
      HandleOneSentLocked(lk, self);
      continue;
    }
    // Incoming calls and window messages run; thread messages, WM_TIMER and WM_QUIT stay queued
    // in their order for the thread's own loop.
    auto it = std::find_if(self.posted.begin(), self.posted.end(), [](const MSG& m) {
      if (!m.hwnd) return m.message == kApartmentCallMessage;
      return m.message != WM_TIMER && m.message != WM_QUIT;
    });
    if (it != self.posted.end()) {
      MSG m = *it;
      self.posted.erase(it);
      lk.unlock();
      DispatchImpl(&m, m.hwnd && WindowIsUnicode(m.hwnd));
      lk.lock();
      continue;
    }
    if (until && SteadyClock::now() >= *until) return false;
    SleepLocked(lk, self, until);
  }
}

void FireTimersNow() {
  std::lock_guard lk(SyncMutex());
  ForEachThreadLocked([](ThreadState& t) {
    for (auto& tm : t.timers) {
      tm.forced = true;
      tm.reported = false;
    }
    if (!t.timers.empty()) WakeLocked(t);
  });
}

std::size_t TimerCount() {
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  return self->timers.size();
}

bool TicksUntilNextTimer(DWORD* ticks) {
  std::lock_guard lk(SyncMutex());
  const DWORD now = GetTickCount();
  std::optional<DWORD> first;
  ForEachThreadLocked([&](ThreadState& t) {
    for (const auto& tm : t.timers) {
      if (Due(tm, now)) continue;  // its thread has it to do: no time to wait for
      const DWORD left = tm.interval - static_cast<DWORD>(now - tm.start);
      if (!first || left < *first) first = left;
    }
  });
  if (first && ticks) *ticks = *first;
  return first.has_value();
}

void SetWindowSystemHooks(const WindowSystemHooks* hooks) {
  std::lock_guard lk(g_hooksLock);
  g_hooks = hooks ? *hooks : g_defaultHooks;
}

void InstallDefaultWindowSystemHooks(const WindowSystemHooks& hooks) {
  std::lock_guard lk(g_hooksLock);
  // A test's own hooks stay until it removes them.
  if (!g_hooks.OwnerThread || g_hooks.OwnerThread == g_defaultHooks.OwnerThread) g_hooks = hooks;
  g_defaultHooks = hooks;
}

void KillWindowTimers(HWND hwnd) {
  std::lock_guard lk(SyncMutex());
  ForEachThreadLocked([&](ThreadState& t) {
    std::erase_if(t.timers, [&](const ThreadTimer& tm) { return tm.hwnd == hwnd; });
  });
}

}  // namespace vkr::platform

using namespace vkr::platform;

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostToThread(threadId, nullptr, message, wParam, lParam);
}
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostToThread(threadId, nullptr, message, wParam, lParam);
}
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageImpl(hwnd, message, wParam, lParam);
}
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageImpl(hwnd, message, wParam, lParam);
}
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageImpl(hwnd, message, wParam, lParam, false);
}
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageImpl(hwnd, message, wParam, lParam, true);
}

void PostQuitMessage(int exitCode) {
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  self->quitPending = true;
  self->quitCode = exitCode;
  self->newPosted = true;
}

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  return GetMessageImpl(msg, hwnd, filterMin, filterMax);
}
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  return GetMessageImpl(msg, hwnd, filterMin, filterMax);
}
BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  return PeekMessageImpl(msg, hwnd, filterMin, filterMax, removeMsg);
}
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  return PeekMessageImpl(msg, hwnd, filterMin, filterMax, removeMsg);
}

LRESULT DispatchMessageA(const MSG* msg) { return DispatchImpl(msg, false); }
LRESULT DispatchMessageW(const MSG* msg) { return DispatchImpl(msg, true); }

BOOL IsWindowUnicode(HWND hwnd) { return WindowIsUnicode(hwnd) ? TRUE : FALSE; }

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse, TIMERPROC proc) {
  elapse = std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  auto self = CurrentThreadShared();
  if (hwnd) {
    DWORD owner = WindowOwner(hwnd);
    if (!owner) return 0;
    if (owner != self->id) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  std::lock_guard lk(SyncMutex());
  if (self->ended) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return 0;
  }
  DWORD now = GetTickCount();
  for (auto& t : self->timers) {
    if (t.hwnd != hwnd || t.id != idEvent) continue;
    t.interval = elapse;
    t.proc = proc;
    t.start = now;
    t.forced = false;
    t.reported = false;
    return hwnd ? (idEvent ? idEvent : 1) : idEvent;
  }
  ThreadTimer t;
  t.hwnd = hwnd;
  t.id = hwnd ? idEvent : g_nextTimerId++;
  t.interval = elapse;
  t.proc = proc;
  t.start = now;
  self->timers.push_back(t);
  return hwnd ? (idEvent ? idEvent : 1) : t.id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR idEvent) {
  std::lock_guard lk(SyncMutex());
  bool found = false;
  ForEachThreadLocked([&](ThreadState& t) {
    auto it = std::find_if(t.timers.begin(), t.timers.end(),
                           [&](const ThreadTimer& tm) { return tm.hwnd == hwnd && tm.id == idEvent; });
    if (it != t.timers.end()) {
      t.timers.erase(it);
      found = true;
    }
  });
  if (!found) SetLastError(ERROR_INVALID_PARAMETER);
  return found ? TRUE : FALSE;
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags) {
  if (flags & MWMO_WAITALL) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  if (flags & ~(MWMO_ALERTABLE | MWMO_INPUTAVAILABLE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!ResolveWaitHandles(count, handles, false, true, &objects)) return WAIT_FAILED;
  return WaitCore(objects, false, milliseconds, wakeMask, (flags & MWMO_INPUTAVAILABLE) != 0);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask) {
  return MsgWaitForMultipleObjectsEx(count, handles, milliseconds, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

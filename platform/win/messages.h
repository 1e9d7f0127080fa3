// Thread message queues: posting, sending, getting and dispatching messages, thread timers, and
// the waits that wake on input.
//
// Every thread has one queue. It holds, in one FIFO, the messages posted to the thread or its
// windows and the calls that other apartments make into the thread's apartment (apartment.h), so
// posted work and incoming calls run in the order they arrived. Messages sent from other threads
// wait apart and are handled inside the receiver's next GetMessage/PeekMessage (or while it waits
// for a call or a send of its own), before any posted message, as on Windows.
//
// Retrieval order: sent messages (handled, never returned), then posted messages in FIFO order,
// then WM_QUIT when PostQuitMessage was called, then WM_TIMER for a due timer. WM_TIMER is made
// only when nothing else matches, and at most one per timer is pending: a timer that fell behind
// fires once, not once per missed period.
//
// Windows: the queue knows a window only through the hooks of SetWindowSystemHooks (its owner
// thread, its procedure, its paint requests), which the window system (platform/ui) installs; a
// handle they do not know is refused with ERROR_INVALID_WINDOW_HANDLE. A thread message (no
// window) is dispatched to nothing, as on Windows.
//
// The A and W forms differ only for messages that carry text, which windows will convert; here
// they share one implementation and pass the width on to the window procedure.
#pragma once

#include <optional>

#include "platform/win/threads.h"

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

constexpr DWORD QS_KEY = 0x0001;
constexpr DWORD QS_MOUSEMOVE = 0x0002;
constexpr DWORD QS_MOUSEBUTTON = 0x0004;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_PAINT = 0x0020;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_HOTKEY = 0x0080;
constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
constexpr DWORD QS_RAWINPUT = 0x0400;
constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
constexpr DWORD QS_ALLINPUT = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY | QS_SENDMESSAGE;
static_assert(QS_ALLINPUT == 0x4FF);

constexpr DWORD MWMO_WAITALL = 0x0001;
constexpr DWORD MWMO_ALERTABLE = 0x0002;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;

constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

using TIMERPROC = void (*)(HWND hwnd, UINT message, UINT_PTR idEvent, DWORD time);

// FALSE with ERROR_INVALID_THREAD_ID for a thread that is unknown or has ended.
VKR_API BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// A null window posts a thread message to the calling thread.
VKR_API BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the window procedure on the window's thread and returns its result. Across threads the
// sender waits and meanwhile handles messages sent to itself; 0 when the window is unknown or its
// thread ends before answering.
VKR_API LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Makes the thread's queue produce WM_QUIT (wParam = exitCode) once nothing else is queued.
VKR_API void PostQuitMessage(int exitCode);

// Filters: hwnd null takes every message of the thread, (HWND)-1 only thread messages, a window
// only that window's. min and max both 0 take every number; otherwise min <= message <= max.
// WM_QUIT is taken whatever the filter. GetMessage blocks until a message matches; it returns 0
// for WM_QUIT, -1 (ERROR_INVALID_PARAMETER / ERROR_INVALID_WINDOW_HANDLE) for a null msg or an
// unknown window, else non-zero. PeekMessage never blocks; PM_REMOVE takes the message out.
VKR_API BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
VKR_API BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
VKR_API BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
VKR_API BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
// WM_KEYDOWN and WM_SYSKEYDOWN of a character key post WM_CHAR or WM_SYSCHAR to the same window
// (the window system's key layout, windows.h); TRUE when it posted one.
VKR_API BOOL TranslateMessage(const MSG* msg);
// WM_TIMER with a TIMERPROC calls it (hwnd, WM_TIMER, id, GetTickCount()) while the timer still
// exists; an incoming cross-apartment call runs it; a window message goes to its window
// procedure; a thread message goes nowhere. Returns the procedure's result, else 0.
VKR_API LRESULT DispatchMessageA(const MSG* msg);
VKR_API LRESULT DispatchMessageW(const MSG* msg);
VKR_API BOOL IsWindowUnicode(HWND hwnd);

// Thread timers: hwnd null. A new timer gets a process-unique id that is never reused; an id of
// an existing timer of the calling thread changes that timer. Window timers (hwnd of a window of
// the calling thread) keep the caller's id. The interval is clamped to USER_TIMER_MINIMUM ..
// USER_TIMER_MAXIMUM. The timer belongs to the calling thread; its WM_TIMER comes from that
// thread's queue, with lParam = proc. Returns 0 on failure.
VKR_API UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse, TIMERPROC proc);
// After KillTimer no WM_TIMER of that timer is produced or dispatched, including one already
// taken from the queue.
VKR_API BOOL KillTimer(HWND hwnd, UINT_PTR idEvent);

// Waits for the objects (as WaitForMultipleObjects; count may be 0) or for input of the kinds in
// wakeMask (QS_*): WAIT_OBJECT_0 + count means input. Without MWMO_INPUTAVAILABLE only input
// that arrived since the thread last looked at its queue (GetMessage, PeekMessage or such a wait)
// counts; with it, any input in the queue counts. Objects win over input. Messages are neither
// taken nor handled here. MWMO_WAITALL is not supported (ERROR_NOT_SUPPORTED); MWMO_ALERTABLE is
// accepted and has no effect (there are no asynchronous procedure calls).
VKR_API DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                        DWORD wakeMask);
VKR_API DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask,
                                          DWORD flags);

namespace vkr::platform {

// Test hook: every thread timer of the process is due now (the next retrieval on its thread
// makes its WM_TIMER), whatever the clock says.
VKR_API void FireTimersNow();
// Whether nothing in the process has work to do now but the caller: every other thread sleeps in
// a wait of the platform (a message loop, an event, a call or send of its own) that nothing has
// woken since and whose time has not come, and no thread's queue, the caller's included, holds a
// posted or sent message or a quit. A timer that is not yet due does not count: what happens
// only when a time comes is not work to do now. A thread inside Sleep counts as busy.
VKR_API bool ProcessIsIdle();
// Test hook: the real milliseconds (rounded up) until thread `threadId`, asleep in a wait of the
// platform that nothing has woken since, wakes by itself (its time-out, or a timer of its that comes
// due); INFINITE for a wait without either; nullopt when the thread is not so asleep.
VKR_API std::optional<DWORD> WaitTimeLeft(DWORD threadId);
// Test hook: the timers of the calling thread, window and thread timers alike.
VKR_API std::size_t TimerCount();
// The ticks until the next timer of the process that is not due yet (of any thread, window and
// thread timers alike) becomes due; false when there is none. A frame that lets time pass on the
// fake clock moves it from one due timer to the next.
VKR_API bool TicksUntilNextTimer(DWORD* ticks);

// The seam to the window stand-in, installed by it (or by a test). OwnerThread answers the
// thread that owns a window, or 0 when hwnd is no window; Dispatch runs the window procedure of
// msg.hwnd on the calling thread (the owner); IsUnicode answers IsWindowUnicode. NextPaint, when
// set, makes the WM_PAINT of a window of the thread that needs painting (matching the window
// filter) when no posted message or WM_QUIT is there; it is called under the queue's lock.
// Null puts back the window system's own hooks (none before the window system is used).
struct WindowSystemHooks {
  DWORD (*OwnerThread)(HWND hwnd);
  LRESULT (*Dispatch)(const MSG& msg, bool unicode);
  bool (*IsUnicode)(HWND hwnd);
  bool (*NextPaint)(DWORD threadId, HWND filter, MSG* out) = nullptr;
};
VKR_API void SetWindowSystemHooks(const WindowSystemHooks* hooks);

// The message number that carries incoming cross-apartment calls through the queue (a thread
// message, so message loops dispatch it; a registered-message number, so it meets no message of
// the system). Message loops need not know it; RegisterWindowMessage must never return it.
constexpr UINT kApartmentCallMessage = 0xFFF0;

}  // namespace vkr::platform

// Threads, events, waits, critical sections, interlocked counters, Sleep and the tick count.
//
// Handles (threads, events) are 32-bit ids that are never reused (handles.h): a call with a
// closed or unknown handle fails with ERROR_INVALID_HANDLE and touches nothing else. A thread
// handle becomes signalled when its thread ends.
//
// Thread ids are the platform's own: non-zero, never reused, known before a created thread runs.
// Every thread has a message queue from its first platform call on (from creation for threads
// made by CreateThread); see messages.h.
//
// Clocks: GetTickCount and the thread timers follow an injectable clock (the fake clock below);
// wait time-outs and Sleep are real time.
#pragma once

#include <cstddef>

#include "platform/win/types.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD STILL_ACTIVE = 259;

constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x10000;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

// Removes the id from the handle table. The object lives on while it is in use: a thread keeps
// running, a wait in progress keeps its event. FALSE with ERROR_INVALID_HANDLE for an id that is
// not live, and for a search handle (FindClose closes those).
VKR_API BOOL CloseHandle(HANDLE h);

// Starts start(param) on a new thread. *threadId (optional) is set, and the thread can be posted
// to, before the thread runs. Stack size and security attributes are accepted and ignored;
// CREATE_SUSPENDED is not supported (ERROR_NOT_SUPPORTED). The handle is signalled when start
// returns; its exit code is start's result.
VKR_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                            LPVOID param, DWORD flags, LPDWORD threadId);
VKR_API DWORD GetCurrentThreadId();
// STILL_ACTIVE while the thread runs.
VKR_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// A thread cannot be killed safely here. TerminateThread abandons it instead: the thread is
// detached and left running, it counts as ended for everybody else (its handle is signalled with
// exitCode, posting to it fails, calls into its apartment fail with RPC_E_DISCONNECTED), and a
// line on the standard error output reports it. Returns TRUE; FALSE with ERROR_NOT_SUPPORTED
// for the calling thread itself.
VKR_API BOOL TerminateThread(HANDLE thread, DWORD exitCode);
// Real time; Sleep(0) yields.
VKR_API void Sleep(DWORD milliseconds);

// Events. Names are not supported (ERROR_NOT_SUPPORTED): the system uses unnamed events only.
VKR_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
VKR_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
// An auto-reset event releases one waiter and is reset by that release.
VKR_API BOOL SetEvent(HANDLE event);
VKR_API BOOL ResetEvent(HANDLE event);

// WAIT_OBJECT_0 (+ index), WAIT_TIMEOUT, or WAIT_FAILED with GetLastError: ERROR_INVALID_HANDLE
// for a handle that is not a live event or thread, ERROR_INVALID_PARAMETER for a count of 0 or
// above MAXIMUM_WAIT_OBJECTS or for a handle given twice to a wait for all. A wait for all takes
// the objects at one moment, when all are signalled; otherwise the lowest signalled index wins.
// Neither serves the thread's messages (see MsgWaitForMultipleObjects in messages.h).
VKR_API DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
VKR_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// A recursive lock. The owner may enter again and must leave as often; a Leave by a thread that
// does not own it is ignored. Initialisation cannot fail; the spin count is ignored. The storage
// holds the lock itself, so the structure must not be copied or moved while initialised.
struct CRITICAL_SECTION {
  DWORD OwningThread;
  LONG RecursionCount;
  alignas(16) unsigned char Lock[48];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

VKR_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
VKR_API BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount);
VKR_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
VKR_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
VKR_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
VKR_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Sequentially consistent; Increment and Decrement return the new value, Exchange the old one.
VKR_API LONG InterlockedIncrement(LONG volatile* target);
VKR_API LONG InterlockedDecrement(LONG volatile* target);
VKR_API LONG InterlockedExchange(LONG volatile* target, LONG value);

// Milliseconds since an arbitrary start, in 32 bits: it wraps after 49.7 days, so elapsed time is
// the unsigned difference of two readings.
VKR_API DWORD GetTickCount();

namespace vkr::platform {

// Test hooks for the clock behind GetTickCount and the thread timers. With the fake clock,
// GetTickCount answers `start` and moves only when AdvanceTickCount moves it (wrapping at 32
// bits); threads waiting for their timers are woken on every move. Process-wide.
VKR_API void UseFakeTickCount(DWORD start);
VKR_API void AdvanceTickCount(DWORD milliseconds);
// With on, Sleep on the thread that called UseFakeTickCount moves the fake clock by its time
// instead of waiting (other threads still wait); UseRealTickCount turns it off again.
VKR_API void MoveFakeTickCountOnSleep(bool on);
VKR_API void UseRealTickCount();
VKR_API bool IsFakeTickCount();

// Threads made by CreateThread that have not ended (abandoned ones not counted).
VKR_API std::size_t LiveThreadCount();
// Threads abandoned by TerminateThread since the process started.
VKR_API std::size_t AbandonedThreadCount();
// For module termination and test teardown: waits until every thread made by CreateThread
// (except the caller) has ended, serving the calling thread's incoming calls and sent messages
// meanwhile, as a cross-apartment call does. False when the time-out passed first.
VKR_API bool WaitForThreadsToEnd(DWORD milliseconds);

}  // namespace vkr::platform

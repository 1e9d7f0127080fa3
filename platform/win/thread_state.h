// Internal: the state of each thread behind thread ids, message queues, waits and apartments.
//
// One process-wide lock (SyncMutex) guards every queue, event, timer table and apartment. A wait
// checks everything it waits for under it and sleeps on its own thread's condition variable, and
// whatever changes a waited-for state does so under the lock and wakes the threads concerned.
// That makes "objects or input" waits exact without a protocol between separate locks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/win/handles.h"
#include "platform/win/messages.h"

namespace vkr::platform {

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;

std::mutex& SyncMutex();

struct ThreadState;
struct ApartmentState;

// A message sent from another thread, waiting for the receiver to run it.
struct SentMessage {
  MSG msg{};
  bool unicode = false;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<ThreadState> sender;
};

struct ThreadTimer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  DWORD interval = 0;
  TIMERPROC proc = nullptr;
  DWORD start = 0;         // tick of the start of the running period
  bool forced = false;     // FireTimersNow
  bool reported = false;   // due and already seen by a queue check (not "new" input any more)
};

// A thread handle's object: signalled when the thread ends or is abandoned.
class ThreadObject;

// Objects a thread can wait for. State and waiter lists are guarded by SyncMutex.
class Waitable : public HandleObject {
 public:
  virtual bool Signalled() const = 0;
  // Called for the object that satisfied a wait: an auto-reset event resets here.
  virtual void Acquire() {}
  // Wakes the threads waiting for this object.
  void WakeWaiters();

  std::vector<ThreadState*> waiters;
};

struct ThreadState {
  DWORD id = 0;
  std::condition_variable wake;
  // Returns from waiting on `wake` (SleepLocked), for the tests that check who is woken.
  std::uint64_t wakeups = 0;
  // Inside SleepLocked, and until when; `woken` once something it may wait for changed since it
  // went to sleep (WakeLocked). A thread asleep and not woken does nothing until its time comes.
  bool sleeping = false;
  bool woken = false;
  std::optional<SteadyTime> sleepUntil;
  bool ended = false;
  bool createdByPlatform = false;

  // The queue.
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quitPending = false;
  int quitCode = 0;
  bool newPosted = false;  // posted input not yet seen by a queue check
  bool newSent = false;
  std::vector<ThreadTimer> timers;

  std::shared_ptr<ApartmentState> apartment;
  std::shared_ptr<ThreadObject> handleObject;  // for threads made by CreateThread
};

// Sleeps on the thread's condition variable until woken or `until` passes, and counts the wake.
// Lock held (lk holds SyncMutex); every wait of the platform sleeps here.
void SleepLocked(std::unique_lock<std::mutex>& lk, ThreadState& self, std::optional<SteadyTime> until);
// Wakes the thread from SleepLocked to look again at what it waits for. Lock held.
void WakeLocked(ThreadState& t);
// How often the calling thread has woken from SleepLocked: a test hook.
std::uint64_t WakeupCountOfCurrentThread();

// The calling thread's state, created on first use.
ThreadState& CurrentThread();
std::shared_ptr<ThreadState> CurrentThreadShared();
// A live thread by id; null when unknown or ended. Lock held.
std::shared_ptr<ThreadState> FindThreadLocked(DWORD id);
// Calls fn(ThreadState&) for every live thread. Lock held.
template <class F>
void ForEachThreadLocked(F&& fn);
std::vector<std::shared_ptr<ThreadState>> LiveThreadsLocked();

// Appends a posted message and wakes the thread. Lock held; false when the thread has ended.
bool PostLocked(ThreadState& t, const MSG& msg);

// The core of every wait: the objects (all, or the first signalled), or input of wakeMask on the
// calling thread's queue when wakeMask is non-zero. Returns WAIT_OBJECT_0 + i, WAIT_OBJECT_0 +
// objects.size() for input, or WAIT_TIMEOUT. The objects must be live references.
DWORD WaitCore(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD milliseconds,
               DWORD wakeMask, bool anyInput);

// Whether t's queue has input of mask (only new input unless anyInput). Sets *timerDue to the
// real time at which a timer of t becomes due when that is the nearest reason to wake. Lock held.
bool QueueHasInputLocked(ThreadState& t, DWORD mask, bool anyInput, std::optional<SteadyTime>* timerDue);
// Marks the queue's input as seen (no longer new). Lock held.
void MarkQueueSeenLocked(ThreadState& t);

// The modal wait of a thread that waits for an answer (a cross-apartment call, a send to another
// thread, the end of other threads): until done(ctx) is true under the lock, handles messages
// sent to the thread, incoming cross-apartment calls and posted window messages, and leaves
// thread messages, WM_TIMER and WM_QUIT queued. `until` ends the wait early (false is returned);
// done is re-checked at every wake.
bool ModalWaitLocked(std::unique_lock<std::mutex>& lk, ThreadState& self, bool (*done)(void*), void* ctx,
                     std::optional<SteadyTime> until = std::nullopt);

// Resolves the handles of a wait into live references. False with the error set: an invalid
// count (0 unless allowEmpty, or above MAXIMUM_WAIT_OBJECTS), an invalid handle, or a handle
// given twice to a wait for all.
bool ResolveWaitHandles(DWORD count, const HANDLE* handles, bool waitAll, bool allowEmpty,
                        std::vector<std::shared_ptr<Waitable>>* out);

// Ends the calling thread's apartment, if any (apartment.cpp). Not under the lock; idempotent.
void EndApartmentOfCurrentThread();
// The apartment's thread was abandoned: calls into it fail from now on. Lock held.
void AbandonApartmentLocked(ApartmentState& a);
// Runs an incoming cross-apartment call taken from the queue (apartment.cpp).
void DispatchApartmentCall(const MSG& msg);
// The tick count in real time terms: the real steady time at which GetTickCount() will have
// advanced by `ticks`, or nullopt under the fake clock (its moves wake the waiters instead).
std::optional<SteadyTime> RealTimeAfterTicks(DWORD ticks);
// Wakes the live threads that have timers (the fake clock moved). Lock held.
void WakeTimerThreadsLocked();

// The window system's queue hooks: installed now unless a test has its own, and put back when a
// test removes its own. Not under the lock.
void InstallDefaultWindowSystemHooks(const WindowSystemHooks& hooks);
// Ends the timers of a destroyed window. Not under the lock.
void KillWindowTimers(HWND hwnd);

template <class F>
void ForEachThreadLocked(F&& fn) {
  for (auto& t : LiveThreadsLocked()) fn(*t);
}

}  // namespace vkr::platform

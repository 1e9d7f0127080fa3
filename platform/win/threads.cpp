// Threads and their ids, events, the wait core, critical sections, interlocked counters, Sleep
// and the tick count.
#include "platform/win/threads.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unordered_map>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/thread_state.h"

namespace vkr::platform {

class ThreadObject final : public Waitable {
 public:
  HandleKind Kind() const override { return HandleKind::Thread; }
  bool Signalled() const override { return ended; }

  std::weak_ptr<ThreadState> state;
  bool ended = false;
  bool abandoned = false;
  DWORD exitCode = STILL_ACTIVE;
};

namespace {

class EventObject final : public Waitable {
 public:
  EventObject(bool manualReset, bool initial) : manual(manualReset), signalled(initial) {}
  HandleKind Kind() const override { return HandleKind::Event; }
  bool Signalled() const override { return signalled; }
  void Acquire() override {
    if (!manual) signalled = false;
  }

  const bool manual;
  bool signalled;
};

// Thread ids start apart from handle ids (handles.cpp), so one mistaken for the other fails.
constexpr DWORD kFirstThreadId = 0x4000;

struct Registry {
  std::mutex sync;
  std::unordered_map<DWORD, std::shared_ptr<ThreadState>> threads;  // live threads
  DWORD nextId = kFirstThreadId;
  std::size_t liveCreated = 0;  // made by CreateThread, not ended, not abandoned
  std::size_t abandoned = 0;
  // Threads inside WaitForThreadsToEnd: the only ones a thread's end concerns beyond the waiters
  // of its handle. Waking every thread instead would cost each end a wake of all the others.
  std::vector<ThreadState*> endWaiters;
};

// A thread ended or was abandoned: the threads waiting for threads to end re-check. Lock held.
void WakeEndWaitersLocked(Registry& r) {
  for (ThreadState* t : r.endWaiters) WakeLocked(*t);
}

// Never destroyed: threads may end while the process exits.
Registry& TheRegistry() {
  static Registry* r = new Registry;
  return *r;
}

// Ties the state to the OS thread; ends the thread's platform life when the OS thread ends
// (for threads the platform did not create: the main thread, std::thread).
struct Binding {
  std::shared_ptr<ThreadState> state;
  ~Binding();
};
thread_local Binding t_binding;
// Plain values that outlive the binding, for platform calls from later thread-exit code.
thread_local DWORD t_id = 0;
thread_local bool t_unbound = false;

void EndThread(const std::shared_ptr<ThreadState>& state, DWORD exitCode);

Binding::~Binding() {
  if (state) EndThread(state, 0);
  t_unbound = true;
  state.reset();
}

DWORD NewThreadIdLocked(Registry& r) { return r.nextId++; }

void Bind(std::shared_ptr<ThreadState> state) {
  t_id = state->id;
  t_binding.state = std::move(state);
}

// Fails what waits for the thread and clears its queue. Lock held.
void ClearQueueLocked(ThreadState& t) {
  for (auto& s : t.sent) {
    s->done = true;
    s->result = 0;
    if (s->sender) WakeLocked(*s->sender);
  }
  t.sent.clear();
  t.posted.clear();
  t.timers.clear();
  t.quitPending = false;
}

void EndThread(const std::shared_ptr<ThreadState>& state, DWORD exitCode) {
  // The apartment goes first, while the thread still counts as alive: releasing its objects may
  // make calls that need this thread's queue.
  if (t_binding.state == state) EndApartmentOfCurrentThread();
  Registry& r = TheRegistry();
  std::lock_guard lk(r.sync);
  if (state->handleObject && !state->handleObject->ended) {
    ThreadObject& obj = *state->handleObject;
    obj.ended = true;
    obj.exitCode = exitCode;
    obj.WakeWaiters();
    if (state->createdByPlatform) --r.liveCreated;
  }
  if (state->ended) return;
  state->ended = true;
  r.threads.erase(state->id);
  ClearQueueLocked(*state);
  WakeEndWaitersLocked(r);
}

std::atomic<bool> g_fakeClock{false};
std::atomic<DWORD> g_fakeNow{0};
// The thread that turned the fake clock on, and whether its Sleep moves the clock instead of
// waiting.
std::atomic<DWORD> g_fakeOwner{0};
std::atomic<bool> g_sleepMovesFake{false};

DWORD RealTicks() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch()).count();
  return static_cast<DWORD>(static_cast<std::uint64_t>(ms));
}

// The handle's waitable object, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<Waitable> ReferenceWaitable(HANDLE h) {
  auto obj = LookupHandleObject(h);
  if (!obj) return nullptr;
  if (obj->Kind() != HandleKind::Event && obj->Kind() != HandleKind::Thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<Waitable>(obj);
}

// Takes the objects when the wait is satisfied. Lock held.
bool TrySatisfyLocked(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD* result) {
  if (objects.empty()) return false;
  if (waitAll) {
    for (auto& o : objects)
      if (!o->Signalled()) return false;
    for (auto& o : objects) o->Acquire();
    *result = WAIT_OBJECT_0;
    return true;
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->Signalled()) {
      objects[i]->Acquire();
      *result = WAIT_OBJECT_0 + static_cast<DWORD>(i);
      return true;
    }
  }
  return false;
}

std::optional<SteadyTime> Earliest(std::optional<SteadyTime> a, std::optional<SteadyTime> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

HANDLE NewEvent(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, bool named) {
  if (named) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  std::shared_ptr<EventObject> ev;
  try {
    ev = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE h = InsertHandleObject(std::move(ev));
  if (h) SetLastError(ERROR_SUCCESS);
  return h;
}

std::mutex& LockOf(CRITICAL_SECTION* cs) { return *std::launder(reinterpret_cast<std::mutex*>(cs->Lock)); }
static_assert(sizeof(std::mutex) <= sizeof(CRITICAL_SECTION::Lock));
static_assert(alignof(std::mutex) <= 16);

}  // namespace

std::mutex& SyncMutex() { return TheRegistry().sync; }

void SleepLocked(std::unique_lock<std::mutex>& lk, ThreadState& self, std::optional<SteadyTime> until) {
  self.sleeping = true;
  self.woken = false;
  self.sleepUntil = until;
  if (until)
    self.wake.wait_until(lk, *until);
  else
    self.wake.wait(lk);
  self.sleeping = false;
  ++self.wakeups;
}

void WakeLocked(ThreadState& t) {
  t.woken = true;
  t.wake.notify_all();
}

bool ProcessIsIdle() {
  auto self = CurrentThreadShared();
  const SteadyTime now = SteadyClock::now();
  std::lock_guard lk(SyncMutex());
  for (auto& [id, t] : TheRegistry().threads) {
    if (!t->posted.empty() || !t->sent.empty() || t->quitPending) return false;
    if (t.get() == self.get()) continue;
    if (!t->sleeping || t->woken || (t->sleepUntil && *t->sleepUntil <= now)) return false;
  }
  return true;
}

std::optional<DWORD> WaitTimeLeft(DWORD threadId) {
  const SteadyTime now = SteadyClock::now();
  std::lock_guard lk(SyncMutex());
  const std::shared_ptr<ThreadState> t = FindThreadLocked(threadId);
  if (!t || !t->sleeping || t->woken) return std::nullopt;
  if (!t->sleepUntil) return INFINITE;
  if (*t->sleepUntil <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*t->sleepUntil - now).count();
  return static_cast<DWORD>(std::min<long long>(left, INFINITE - 1));
}

std::uint64_t WakeupCountOfCurrentThread() {
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  return self->wakeups;
}

void Waitable::WakeWaiters() {
  for (ThreadState* t : waiters) WakeLocked(*t);
}

std::shared_ptr<ThreadState> CurrentThreadShared() {
  if (!t_unbound && t_binding.state) return t_binding.state;
  if (t_unbound) {
    // Called from thread-exit code after the thread's platform life ended: an ended stand-in
    // with the same id, so nothing can be queued for it.
    auto ghost = std::make_shared<ThreadState>();
    ghost->id = t_id;
    ghost->ended = true;
    return ghost;
  }
  auto state = std::make_shared<ThreadState>();
  Registry& r = TheRegistry();
  {
    std::lock_guard lk(r.sync);
    state->id = NewThreadIdLocked(r);
    r.threads.emplace(state->id, state);
  }
  Bind(state);
  return state;
}

std::shared_ptr<ThreadState> FindThreadLocked(DWORD id) {
  Registry& r = TheRegistry();
  auto it = r.threads.find(id);
  return it == r.threads.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<ThreadState>> LiveThreadsLocked() {
  std::vector<std::shared_ptr<ThreadState>> out;
  for (auto& [id, t] : TheRegistry().threads) out.push_back(t);
  return out;
}

void WakeTimerThreadsLocked() {
  for (auto& [id, t] : TheRegistry().threads)
    if (!t->timers.empty()) WakeLocked(*t);
}

DWORD WaitCore(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD milliseconds,
               DWORD wakeMask, bool anyInput) {
  auto self = CurrentThreadShared();
  std::optional<SteadyTime> deadline;
  if (milliseconds != INFINITE) deadline = SteadyClock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lk(SyncMutex());
  for (auto& o : objects) o->waiters.push_back(self.get());
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (TrySatisfyLocked(objects, waitAll, &result)) break;
    std::optional<SteadyTime> timerDue;
    if (wakeMask && QueueHasInputLocked(*self, wakeMask, anyInput, &timerDue)) {
      MarkQueueSeenLocked(*self);
      result = WAIT_OBJECT_0 + static_cast<DWORD>(objects.size());
      break;
    }
    if (deadline && SteadyClock::now() >= *deadline) {
      result = WAIT_TIMEOUT;
      break;
    }
    SleepLocked(lk, *self, Earliest(deadline, timerDue));
  }
  for (auto& o : objects) {
    auto it = std::find(o->waiters.begin(), o->waiters.end(), self.get());
    if (it != o->waiters.end()) o->waiters.erase(it);
  }
  return result;
}

std::optional<SteadyTime> RealTimeAfterTicks(DWORD ticks) {
  if (g_fakeClock.load()) return std::nullopt;
  return SteadyClock::now() + std::chrono::milliseconds(ticks);
}

void UseFakeTickCount(DWORD start) {
  g_fakeNow.store(start);
  g_fakeOwner.store(GetCurrentThreadId());
  g_fakeClock.store(true);
  std::lock_guard lk(SyncMutex());
  WakeTimerThreadsLocked();
}

void AdvanceTickCount(DWORD milliseconds) {
  g_fakeNow.fetch_add(milliseconds);
  std::lock_guard lk(SyncMutex());
  WakeTimerThreadsLocked();
}

void MoveFakeTickCountOnSleep(bool on) { g_sleepMovesFake.store(on); }

void UseRealTickCount() {
  g_fakeClock.store(false);
  g_sleepMovesFake.store(false);
  std::lock_guard lk(SyncMutex());
  WakeTimerThreadsLocked();
}

bool IsFakeTickCount() { return g_fakeClock.load(); }

std::size_t LiveThreadCount() {
  std::lock_guard lk(SyncMutex());
  return TheRegistry().liveCreated;
}

std::size_t AbandonedThreadCount() {
  std::lock_guard lk(SyncMutex());
  return TheRegistry().abandoned;
}

bool WaitForThreadsToEnd(DWORD milliseconds) {
  auto self = CurrentThreadShared();
  struct Ctx {
    Registry* r;
    std::size_t own;
  } ctx{&TheRegistry(), 0};
  std::unique_lock lk(SyncMutex());
  // A created thread that waits does not wait for itself.
  if (self->createdByPlatform && self->handleObject && !self->handleObject->ended) ctx.own = 1;
  auto done = [](void* p) {
    auto* c = static_cast<Ctx*>(p);
    return c->r->liveCreated <= c->own;
  };
  std::optional<SteadyTime> until;
  if (milliseconds != INFINITE) until = SteadyClock::now() + std::chrono::milliseconds(milliseconds);
  Registry& r = TheRegistry();
  r.endWaiters.push_back(self.get());
  struct Unlist {
    std::unique_lock<std::mutex>& lk;
    Registry& r;
    ThreadState* self;
    ~Unlist() {
      // The modal wait releases the lock while it runs calls; an exception may leave it so.
      if (!lk.owns_lock()) lk.lock();
      r.endWaiters.erase(std::find(r.endWaiters.begin(), r.endWaiters.end(), self));
    }
  } unlist{lk, r, self.get()};
  return ModalWaitLocked(lk, *self, done, &ctx, until);
}

}  // namespace vkr::platform

using namespace vkr::platform;

namespace {

// A reference to the loaded shared object that holds the address; null for the program itself or
// an address outside any.
void* PinModuleOf(const void* address) {
  // The program's own base, once found: its threads are many and the program never unloads, so
  // they need no lookup by name.
  static std::atomic<const void*> programBase{nullptr};
  Dl_info info{};
  if (!::dladdr(address, &info) || !info.dli_fname || !info.dli_fbase) return nullptr;
  if (info.dli_fbase == programBase.load(std::memory_order_relaxed)) return nullptr;
  void* self = ::dlopen(nullptr, RTLD_NOW);
  void* handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (self) ::dlclose(self);
  if (handle && handle == self) {
    ::dlclose(handle);
    programBase.store(info.dli_fbase, std::memory_order_relaxed);
    return nullptr;
  }
  return handle;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (flags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  std::shared_ptr<ThreadState> state;
  std::shared_ptr<ThreadObject> obj;
  try {
    state = std::make_shared<ThreadState>();
    obj = std::make_shared<ThreadObject>();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Registry& r = TheRegistry();
  state->createdByPlatform = true;
  state->handleObject = obj;
  obj->state = state;
  auto unregister = [&] {
    std::lock_guard lk(r.sync);
    r.threads.erase(state->id);
    state->ended = true;
    obj->ended = true;
    --r.liveCreated;
  };
  {
    // Registered before the thread runs: its id can be posted to at once.
    std::lock_guard lk(r.sync);
    state->id = NewThreadIdLocked(r);
    r.threads.emplace(state->id, state);
    ++r.liveCreated;
  }
  HANDLE h = InsertHandleObject(obj);
  if (!h) {
    unregister();
    return nullptr;
  }
  // The thread keeps the module its routine lives in loaded until the routine has returned: a
  // module freed as soon as the thread signalled its work done would pull the last instructions
  // from under it. The last reference may thus go on this thread.
  void* pin = PinModuleOf(reinterpret_cast<const void*>(start));
  try {
    std::thread([state, start, param, pin] {
      Bind(state);
      DWORD code = start(param);
      // The routine has returned: nothing of its module is left on this thread. The module is let
      // go before the thread counts as ended, so whoever waits for the thread's end waits for this.
      if (pin) ::dlclose(pin);
      EndThread(state, code);
    }).detach();
  } catch (const std::exception&) {
    if (pin) ::dlclose(pin);
    RemoveHandleObject(h, HandleKind::Thread);
    unregister();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = state->id;
  return h;
}

DWORD GetCurrentThreadId() {
  if (t_id) return t_id;
  return CurrentThreadShared()->id;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto obj = LookupHandleAs<ThreadObject>(thread, HandleKind::Thread);
  if (!obj) return FALSE;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lk(SyncMutex());
  *exitCode = obj->exitCode;
  return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
  auto obj = LookupHandleAs<ThreadObject>(thread, HandleKind::Thread);
  if (!obj) return FALSE;
  DWORD id = 0;
  {
    Registry& r = TheRegistry();
    std::lock_guard lk(r.sync);
    auto state = obj->state.lock();
    if (state && state == t_binding.state) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    if (obj->ended) return TRUE;
    obj->ended = true;
    obj->abandoned = true;
    obj->exitCode = exitCode;
    obj->WakeWaiters();
    --r.liveCreated;
    ++r.abandoned;
    if (state && !state->ended) {
      id = state->id;
      state->ended = true;
      r.threads.erase(state->id);
      ClearQueueLocked(*state);
      if (state->apartment) AbandonApartmentLocked(*state->apartment);
    }
    WakeEndWaitersLocked(r);
  }
  std::fprintf(stderr, "TerminateThread: thread %u cannot be killed safely; it is abandoned and left running\n",
               static_cast<unsigned>(id));
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  // Asked to, the fake clock's own thread sleeps by moving the clock, so a wait that polls the
  // time ends; other threads (channels, the DTM's) still wait for real.
  if (g_fakeClock.load() && g_sleepMovesFake.load() && GetCurrentThreadId() == g_fakeOwner.load()) {
    vkr::platform::AdvanceTickCount(milliseconds);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name) {
  return NewEvent(attributes, manualReset, initialState, name && *name);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  return NewEvent(attributes, manualReset, initialState, name && *name);
}

namespace {
BOOL SetEventState(HANDLE h, bool signalled) {
  auto ev = LookupHandleAs<EventObject>(h, HandleKind::Event);
  if (!ev) return FALSE;
  std::lock_guard lk(SyncMutex());
  ev->signalled = signalled;
  if (signalled) ev->WakeWaiters();
  return TRUE;
}
}  // namespace

BOOL SetEvent(HANDLE event) { return SetEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return SetEventState(event, false); }

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) { return WaitForMultipleObjects(1, &h, FALSE, milliseconds); }

namespace vkr::platform {
bool ResolveWaitHandles(DWORD count, const HANDLE* handles, bool waitAll, bool allowEmpty,
                        std::vector<std::shared_ptr<Waitable>>* out) {
  if ((count == 0 && !allowEmpty) || count > MAXIMUM_WAIT_OBJECTS || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    auto w = ReferenceWaitable(handles[i]);
    if (!w) return false;
    if (waitAll && std::find(out->begin(), out->end(), w) != out->end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    out->push_back(std::move(w));
  }
  return true;
}
}  // namespace vkr::platform

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!ResolveWaitHandles(count, handles, waitAll != FALSE, false, &objects)) return WAIT_FAILED;
  return WaitCore(objects, waitAll != FALSE, milliseconds, 0, false);
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  cs->OwningThread = 0;
  cs->RecursionCount = 0;
  new (cs->Lock) std::mutex;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
  InitializeCriticalSection(cs);
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  DWORD me = GetCurrentThreadId();
  std::atomic_ref<DWORD> owner(cs->OwningThread);
  if (owner.load() == me) {
    ++cs->RecursionCount;
    return;
  }
  LockOf(cs).lock();
  owner.store(me);
  cs->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  DWORD me = GetCurrentThreadId();
  std::atomic_ref<DWORD> owner(cs->OwningThread);
  if (owner.load() == me) {
    ++cs->RecursionCount;
    return TRUE;
  }
  if (!LockOf(cs).try_lock()) return FALSE;
  owner.store(me);
  cs->RecursionCount = 1;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  std::atomic_ref<DWORD> owner(cs->OwningThread);
  if (owner.load() != GetCurrentThreadId()) return;
  if (--cs->RecursionCount > 0) return;
  cs->RecursionCount = 0;
  owner.store(0);
  LockOf(cs).unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  LockOf(cs).~mutex();
  cs->OwningThread = 0;
  cs->RecursionCount = 0;
}

LONG InterlockedIncrement(LONG volatile* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

DWORD GetTickCount() { return g_fakeClock.load() ? g_fakeNow.load() : RealTicks(); }

// Apartments and cross-apartment calls: proxies run on the owner's thread, nested calls both ways,
// the modal wait that keeps thread messages queued, ended apartments, marshalling and the
// references behind proxies.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/threading.h"

namespace {

using vkr::ComPtr;
using vkr::platform::Apartment;
using vkr::test::ApartmentThread;

constexpr UINT kJob = WM_USER + 105;

// The test interface that crosses apartments, with a proxy class as later interfaces will have.
struct ITestCounter : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5C0A9E31-1D2B-4E7F-8A60-3B9C4D2E1F01");
  using Base = IUnknown;
  virtual HRESULT Add(LONG n, LONG* total) = 0;
  virtual HRESULT Where(DWORD* threadId) = 0;
  // Calls peer->Bounce(this, depth - 1, ...) until depth reaches 0, recording each step.
  virtual HRESULT Bounce(ITestCounter* peer, LONG depth, LONG* deepest) = 0;
  // Keeps the interface inside the VARIANT (as jobs 34/35 hand over the DTM and the frame).
  virtual HRESULT Keep(VARIANT held) = 0;
  virtual HRESULT AddToKept(LONG n, LONG* total) = 0;
  virtual HRESULT Fail() = 0;
};

// An interface that no proxy is registered for.
struct ITestLocalOnly : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5C0A9E31-1D2B-4E7F-8A60-3B9C4D2E1F02");
  using Base = IUnknown;
  virtual HRESULT Nothing() = 0;
};

class TestCounterProxy final : public vkr::platform::InterfaceProxy<ITestCounter> {
 public:
  using InterfaceProxy::InterfaceProxy;
  HRESULT Add(LONG n, LONG* total) override {
    return Forward([&](ITestCounter* t) { return t->Add(n, total); });
  }
  HRESULT Where(DWORD* threadId) override {
    return Forward([&](ITestCounter* t) { return t->Where(threadId); });
  }
  HRESULT Bounce(ITestCounter* peer, LONG depth, LONG* deepest) override {
    ComPtr<ITestCounter> wrapped;
    HRESULT hr = vkr::platform::WrapInterface(peer, wrapped.Put());
    if (FAILED(hr)) return hr;
    return Forward([&](ITestCounter* t) { return t->Bounce(wrapped.Get(), depth, deepest); });
  }
  HRESULT Keep(VARIANT held) override {
    vkr::Variant marshalled;
    HRESULT hr = vkr::platform::MarshalVariant(&marshalled, &held);
    if (FAILED(hr)) return hr;
    return Forward([&](ITestCounter* t) { return t->Keep(marshalled); });
  }
  HRESULT AddToKept(LONG n, LONG* total) override {
    return Forward([&](ITestCounter* t) { return t->AddToKept(n, total); });
  }
  HRESULT Fail() override {
    return Forward([&](ITestCounter* t) { return t->Fail(); });
  }
};
[[maybe_unused]] const bool kProxyRegistered = vkr::platform::RegisterProxy<ITestCounter, TestCounterProxy>();

// Every step of every call, in the order they ran, process-wide.
struct Step {
  std::string what;
  DWORD thread;
  LONG depth;
};
std::mutex g_stepsLock;
std::vector<Step> g_steps;
void Note(std::string what, LONG depth = 0) {
  std::lock_guard lk(g_stepsLock);
  g_steps.push_back({std::move(what), GetCurrentThreadId(), depth});
}
std::vector<Step> Steps() {
  std::lock_guard lk(g_stepsLock);
  return g_steps;
}

std::atomic<DWORD> g_destroyedOn{0};

class Counter : public vkr::Implements<ITestCounter, ITestLocalOnly> {
 public:
  Counter() : m_home(GetCurrentThreadId()) {}
  ~Counter() override { g_destroyedOn = GetCurrentThreadId(); }

  HRESULT Add(LONG n, LONG* total) override {
    if (!OnHome()) return E_UNEXPECTED;
    m_total += n;
    if (total) *total = m_total;
    return S_OK;
  }
  HRESULT Where(DWORD* threadId) override {
    *threadId = GetCurrentThreadId();
    return S_OK;
  }
  HRESULT Bounce(ITestCounter* peer, LONG depth, LONG* deepest) override {
    if (!OnHome()) return E_UNEXPECTED;
    Note("enter", depth);
    HRESULT hr = S_OK;
    if (depth == 0)
      *deepest = static_cast<LONG>(GetCurrentThreadId());
    else
      hr = peer->Bounce(this, depth - 1, deepest);
    Note("leave", depth);
    return hr;
  }
  HRESULT Keep(VARIANT held) override {
    if (!OnHome()) return E_UNEXPECTED;
    return VariantCopy(&m_kept, &held);
  }
  HRESULT AddToKept(LONG n, LONG* total) override {
    if (!OnHome()) return E_UNEXPECTED;
    if (m_kept.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
    VARIANT element;
    VariantInit(&element);
    LONG index = 1;
    HRESULT hr = SafeArrayGetElement(m_kept.parray, &index, &element);
    if (FAILED(hr)) return hr;
    ComPtr<ITestCounter> other;
    if (element.vt == VT_UNKNOWN && element.punkVal) element.punkVal->QueryInterface(ITestCounter::iid, other.PutVoid());
    VariantClear(&element);
    if (!other) return E_NOINTERFACE;
    if (!vkr::platform::IsProxy(other.Get())) return E_UNEXPECTED;
    return other->Add(n, total);
  }
  HRESULT Fail() override { throw std::runtime_error("thrown in the callee"); }
  HRESULT Nothing() override { return S_OK; }

  // Drops what Keep kept (releasing a proxy from this thread).
  void Forget() { m_kept.Clear(); }

 private:
  bool OnHome() const { return GetCurrentThreadId() == m_home; }
  const DWORD m_home;
  LONG m_total = 0;
  vkr::Variant m_kept;
};

ComPtr<ITestCounter> NewCounter() {
  ComPtr<ITestCounter> c;
  EXPECT_EQ(vkr::CreateObject<Counter>(nullptr, ITestCounter::iid, c.PutVoid()), S_OK);
  return c;
}

// Creates a counter on `home` and hands the caller a proxy of it through a marshalling stream.
ComPtr<ITestCounter> CounterOn(const ApartmentThread& home) {
  IStream* stream = nullptr;
  EXPECT_EQ(home.Run([&]() -> HRESULT {
              ComPtr<ITestCounter> c = NewCounter();
              return CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &stream);
            }),
            S_OK);
  ComPtr<ITestCounter> proxy;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, ITestCounter::iid, proxy.PutVoid()), S_OK);
  return proxy;
}

class Apartments : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    vkr::test::DrainQueue();
    std::lock_guard lk(g_stepsLock);
    g_steps.clear();
  }
  void TearDown() override {
    vkr::test::DrainQueue();
    CoUninitialize();
  }
  const DWORD me = GetCurrentThreadId();
};

TEST_F(Apartments, AProxyRunsEveryCallOnTheOwnersThread) {
  ApartmentThread home;
  ComPtr<ITestCounter> counter = CounterOn(home);
  ASSERT_TRUE(counter);
  EXPECT_TRUE(vkr::platform::IsProxy(counter.Get()));
  EXPECT_EQ(vkr::platform::ProxyOwner(counter.Get()), home.Apartment());
  DWORD where = 0;
  ASSERT_EQ(counter->Where(&where), S_OK);
  EXPECT_EQ(where, home.Id());
  LONG total = 0;
  EXPECT_EQ(counter->Add(5, &total), S_OK);
  EXPECT_EQ(counter->Add(6, &total), S_OK);
  EXPECT_EQ(total, 11) << "an out-parameter written on the owner's thread did not arrive";
}

TEST_F(Apartments, UnmarshallingAtHomeGivesTheObjectItself) {
  ComPtr<ITestCounter> c = NewCounter();
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &stream), S_OK);
  ComPtr<ITestCounter> back;
  ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, ITestCounter::iid, back.PutVoid()), S_OK);
  EXPECT_EQ(back.Get(), c.Get());
  EXPECT_FALSE(vkr::platform::IsProxy(back.Get()));
}

TEST_F(Apartments, NestedCallsBothWaysUnwindInOrder) {
  ApartmentThread home;
  ComPtr<ITestCounter> theirs = CounterOn(home);
  ComPtr<ITestCounter> mine = NewCounter();
  LONG deepest = 0;
  // Ours -> theirs -> ours -> ... six levels, each waiting for the next while serving its caller.
  ASSERT_EQ(theirs->Bounce(mine.Get(), 5, &deepest), S_OK);
  EXPECT_EQ(static_cast<DWORD>(deepest), me) << "depth 0 is reached on this thread (even number of hops)";
  auto steps = Steps();
  ASSERT_EQ(steps.size(), 12u);
  for (LONG i = 0; i < 6; ++i) {
    const Step& enter = steps[static_cast<std::size_t>(i)];
    const Step& leave = steps[static_cast<std::size_t>(11 - i)];
    EXPECT_EQ(enter.what, "enter");
    EXPECT_EQ(leave.what, "leave");
    EXPECT_EQ(enter.depth, 5 - i);
    EXPECT_EQ(leave.depth, 5 - i) << "the calls did not unwind in stack order";
    EXPECT_EQ(enter.thread, i % 2 == 0 ? home.Id() : me);
    EXPECT_EQ(leave.thread, enter.thread);
  }
}

// This thread waits for an outer call; while it serves a call coming in, it makes an inner call,
// and the outer answer may arrive during the inner one. Each call must get its own answer.
TEST_F(Apartments, AnOuterAnswerArrivingDuringAnInnerCallIsKept) {
  ApartmentThread slow, other;
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE outerDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Apartment here = Apartment::Current();
  HRESULT inner = E_FAIL;
  std::thread third([&] {
    // Comes in while this thread waits for the outer call.
    here.Call([&] {
      SetEvent(go);
      inner = other.Run([&] {
        WaitForSingleObject(outerDone, 30000);
        return S_FALSE;
      });
      return S_OK;
    });
  });
  HRESULT outer = slow.Run([&] {
    WaitForSingleObject(go, 30000);
    SetEvent(outerDone);
    return static_cast<HRESULT>(0x2A);
  });
  third.join();
  EXPECT_EQ(outer, 0x2A);
  EXPECT_EQ(inner, S_FALSE);
  CloseHandle(go);
  CloseHandle(outerDone);
}

TEST_F(Apartments, CallsFromManyThreadsAreSerialisedOnTheOwner) {
  ApartmentThread home;
  ComPtr<ITestCounter> counter = CounterOn(home);
  // Each caller thread gets its own proxy, as a worker thread would.
  std::vector<std::thread> callers;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i) {
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, counter.Get(), &stream), S_OK);
    callers.emplace_back([stream, &failures] {
      CoInitialize(nullptr);
      ComPtr<ITestCounter> c;
      if (FAILED(CoGetInterfaceAndReleaseStream(stream, ITestCounter::iid, c.PutVoid()))) ++failures;
      for (int n = 0; n < 100 && c; ++n)
        if (c->Add(1, nullptr) != S_OK) ++failures;
      c = nullptr;
      CoUninitialize();
    });
  }
  for (auto& t : callers) t.join();
  LONG total = 0;
  EXPECT_EQ(counter->Add(0, &total), S_OK);
  EXPECT_EQ(total, 400);
  EXPECT_EQ(failures.load(), 0);
}

// The DTM thread's situation: its own jobs (1129) and a due timer are queued while it waits for a
// call into the frame's apartment, which calls back into it.
TEST_F(Apartments, TheModalWaitServesCallsButLeavesThreadMessagesAndTimersInOrder) {
  vkr::test::FakeTickCount clock;
  std::vector<UINT> loopSaw;
  std::mutex sawLock;
  ApartmentThread dtm([&](const MSG& m) {
    std::lock_guard lk(sawLock);
    loopSaw.push_back(m.message == vkr::platform::kApartmentCallMessage ? 0 : m.message);
  });
  ComPtr<ITestCounter> frame = NewCounter();
  ComPtr<ITestCounter> frameForDtm;
  ASSERT_EQ(vkr::platform::WrapInterface(frame.Get(), frameForDtm.Put()), S_OK);
  ComPtr<ITestCounter> onDtm = CounterOn(dtm);

  const DWORD dtmId = dtm.Id();
  UINT firstLeft = 0, timerLeft = 0;
  std::thread later;
  ASSERT_EQ(dtm.Run([&]() -> HRESULT {
              PostThreadMessageA(dtmId, kJob, 1, 0);
              UINT_PTR timer = SetTimer(nullptr, 0, 100, nullptr);
              clock.Advance(100);
              LONG deepest = 0;
              HRESULT hr = frameForDtm->Bounce(onDtm.Get(), 2, &deepest);
              MSG m;
              if (PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE)) firstLeft = m.message;
              if (PeekMessageW(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE)) timerLeft = m.message;
              KillTimer(nullptr, timer);
              // A call that arrives now queues behind the job.
              later = std::thread([&] {
                DWORD where = 0;
                onDtm->Where(&where);
              });
              MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
              return hr;
            }),
            S_OK);
  later.join();
  ASSERT_TRUE(dtm.Stop());

  // Depth 2 ran here, depth 1 on the DTM thread inside its wait, depth 0 here again.
  auto steps = Steps();
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0].thread, me);
  EXPECT_EQ(steps[1].thread, dtmId);
  EXPECT_EQ(steps[2].thread, me);
  EXPECT_EQ(firstLeft, kJob) << "the modal wait took the thread's job message";
  EXPECT_EQ(timerLeft, WM_TIMER) << "the modal wait took the due timer";
  std::lock_guard lk(sawLock);
  // The call that made the counter, the call above, the job, the call that came after the job.
  EXPECT_EQ(loopSaw, (std::vector<UINT>{0, 0, kJob, 0})) << "the thread's own loop saw its queue out of order";
}

TEST_F(Apartments, AModalWaitLeavesAPostedQuitAndATimerForTheLoop) {
  vkr::test::FakeTickCount clock;
  ApartmentThread home;
  ComPtr<ITestCounter> theirs = CounterOn(home);
  PostThreadMessageA(me, kJob, 7, 0);
  PostThreadMessageA(me, WM_QUIT, 0, 0);
  UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
  clock.Advance(10);
  ComPtr<ITestCounter> mine = NewCounter();
  LONG deepest = 0;
  ASSERT_EQ(theirs->Bounce(mine.Get(), 1, &deepest), S_OK);
  EXPECT_EQ(static_cast<DWORD>(deepest), me) << "the call back into this apartment was not served";
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, kJob);
  EXPECT_EQ(m.wParam, 7u);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  KillTimer(nullptr, timer);
}

// The ways an apartment can end. A call that waits in its queue when it ends, and every call
// after, fail with RPC_E_DISCONNECTED at once.
enum class Ending { Uninitialised, ThreadEnded, Abandoned };

struct Ender {
  Ending how;
  HANDLE ready;
  HANDLE ended;    // the apartment has ended (not for ThreadEnded: wait for the thread)
  HANDLE release;  // lets a thread that stays go
  HANDLE finished;  // the thread's last step
  IStream* stream = nullptr;
};

DWORD ApartmentThatEnds(LPVOID p) {
  auto* e = static_cast<Ender*>(p);
  CoInitialize(nullptr);
  {
    ComPtr<ITestCounter> c = NewCounter();
    CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &e->stream);
  }
  SetEvent(e->ready);
  // Sees the call arrive, and does not serve it.
  MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
  switch (e->how) {
    case Ending::Uninitialised:
      CoUninitialize();
      SetEvent(e->ended);
      WaitForSingleObject(e->release, INFINITE);
      break;
    case Ending::ThreadEnded:
      break;  // without CoUninitialize: the end of the thread ends the apartment
    case Ending::Abandoned:
      SetEvent(e->ended);  // not really: stuck here until TerminateThread gives up on it
      WaitForSingleObject(e->release, INFINITE);
      CoUninitialize();
      break;
  }
  SetEvent(e->finished);
  return 0;
}

class EndedApartments : public Apartments, public ::testing::WithParamInterface<Ending> {};

TEST_P(EndedApartments, CallsIntoThemFailPromptly) {
  Ender e{GetParam(), CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr),
          CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD tid = 0;
  HANDLE t = CreateThread(nullptr, 0, &ApartmentThatEnds, &e, 0, &tid);
  ASSERT_EQ(WaitForSingleObject(e.ready, 30000), WAIT_OBJECT_0);
  ComPtr<ITestCounter> proxy;
  ASSERT_EQ(CoGetInterfaceAndReleaseStream(e.stream, ITestCounter::iid, proxy.PutVoid()), S_OK);
  g_destroyedOn = 0;

  HRESULT queued = S_OK;
  std::thread caller([&] { queued = proxy->Add(1, nullptr); });
  if (GetParam() == Ending::ThreadEnded) {
    ASSERT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
  } else {
    ASSERT_EQ(WaitForSingleObject(e.ended, 30000), WAIT_OBJECT_0);
    if (GetParam() == Ending::Abandoned) {
      ASSERT_TRUE(TerminateThread(t, 1));
    }
  }
  caller.join();
  EXPECT_EQ(queued, RPC_E_DISCONNECTED) << "the call that waited in the queue";
  if (GetParam() != Ending::Abandoned) {
    EXPECT_EQ(g_destroyedOn.load(), tid) << "the ending apartment did not release its object on its thread";
  }

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(proxy->Add(1, nullptr), RPC_E_DISCONNECTED);
  DWORD where = 0;
  EXPECT_EQ(proxy->Where(&where), RPC_E_DISCONNECTED);
  void* other = nullptr;
  EXPECT_EQ(proxy->QueryInterface(IID_IDispatch, &other), RPC_E_DISCONNECTED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  proxy = nullptr;  // releasing a proxy of an ended apartment is harmless

  SetEvent(e.release);
  ASSERT_EQ(WaitForSingleObject(e.finished, 30000), WAIT_OBJECT_0);
  // Even the abandoned thread, let go, releases its object on its own thread.
  EXPECT_EQ(g_destroyedOn.load(), tid);
  EXPECT_TRUE(vkr::platform::WaitForThreadsToEnd(30000));
  CloseHandle(t);
  for (HANDLE h : {e.ready, e.ended, e.release, e.finished}) CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Ways, EndedApartments,
                         ::testing::Values(Ending::Uninitialised, Ending::ThreadEnded, Ending::Abandoned),
                         [](const auto& info) {
                           switch (info.param) {
                             case Ending::Uninitialised: return std::string("Uninitialised");
                             case Ending::ThreadEnded: return std::string("ThreadEnded");
                             case Ending::Abandoned: return std::string("Abandoned");
                           }
                           return std::string();
                         });

TEST_F(Apartments, TheLastReleaseOfAProxyDestroysTheObjectOnItsThreadBeforeReturning) {
  ApartmentThread home;
  ComPtr<ITestCounter> proxy = CounterOn(home);
  g_destroyedOn = 0;
  proxy = nullptr;
  EXPECT_EQ(g_destroyedOn.load(), home.Id());
}

TEST_F(Apartments, AStreamDroppedUnreadGivesItsReferenceBack) {
  ApartmentThread home;
  IStream* stream = nullptr;
  ASSERT_EQ(home.Run([&]() -> HRESULT {
              ComPtr<ITestCounter> c = NewCounter();
              return CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &stream);
            }),
            S_OK);
  g_destroyedOn = 0;
  LARGE_INTEGER zero{};
  EXPECT_EQ(stream->Seek(zero, STREAM_SEEK_SET, nullptr), E_NOTIMPL) << "the marshalling stream pretends to be a stream";
  stream->Release();
  EXPECT_EQ(g_destroyedOn.load(), home.Id());
}

TEST_F(Apartments, MarshallingRefusesWhatItCannotCarry) {
  ComPtr<ITestCounter> c = NewCounter();
  IStream* stream = reinterpret_cast<IStream*>(1);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(ITestLocalOnly::iid, c.Get(), &stream), E_NOINTERFACE)
      << "an interface without a proxy";
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IStream, c.Get(), &stream), E_NOINTERFACE)
      << "an interface the object lacks";
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, nullptr, &stream), E_INVALIDARG);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), nullptr), E_INVALIDARG);

  HRESULT outside = S_OK;
  std::thread([&] {
    IStream* s = nullptr;
    outside = CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &s);
  }).join();
  EXPECT_EQ(outside, CO_E_NOTINITIALIZED);

  // A stream of another kind is refused, and released all the same.
  IStream* memory = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &memory), S_OK);
  memory->AddRef();
  void* p = nullptr;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(memory, ITestCounter::iid, &p), E_INVALIDARG);
  EXPECT_EQ(memory->Release(), 0u);
}

// Another module's copy of the counter's proxy class, as a second DTM module in the process
// would carry it.
vkr::platform::ProxyLink* OtherModulesCounterProxy(vkr::platform::ProxyManager* manager, void* target) {
  return new (std::nothrow) TestCounterProxy(manager, target);
}

// Two modules register the same interface; either taking its registration back (as at its
// unload) leaves the interface marshallable through the other's, in any order.
TEST_F(Apartments, AnInterfaceRegisteredByTwoModulesCrossesUntilBothTakeTheirsBack) {
  ComPtr<ITestCounter> c = NewCounter();
  auto crosses = [&] {
    IStream* stream = nullptr;
    const HRESULT hr = CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, c.Get(), &stream);
    if (stream) stream->Release();
    return hr;
  };
  auto ours = [] { vkr::platform::RegisterProxy<ITestCounter, TestCounterProxy>(); };
  auto dropOurs = [] { vkr::platform::UnregisterProxy<ITestCounter, TestCounterProxy>(); };
  auto theirs = [] { vkr::platform::RegisterProxyFactory(ITestCounter::iid, &OtherModulesCounterProxy); };
  auto dropTheirs = [] { vkr::platform::UnregisterProxyFactory(ITestCounter::iid, &OtherModulesCounterProxy); };

  theirs();
  dropTheirs();  // the later module goes first
  EXPECT_EQ(crosses(), S_OK);
  theirs();
  dropOurs();  // the earlier module goes first
  EXPECT_EQ(crosses(), S_OK);
  ApartmentThread home;
  EXPECT_EQ(CounterOn(home)->Add(2, nullptr), S_OK) << "the remaining proxy class serves calls";
  dropTheirs();
  EXPECT_EQ(crosses(), E_NOINTERFACE);
  ours();
  EXPECT_EQ(crosses(), S_OK);
}

TEST_F(Apartments, QueryInterfaceThroughAProxy) {
  ApartmentThread home;
  ComPtr<ITestCounter> proxy = CounterOn(home);
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(proxy.As(&a), S_OK);
  ASSERT_EQ(proxy.As(&b), S_OK);
  EXPECT_EQ(a.Get(), b.Get()) << "one identity per proxied object";
  ComPtr<ITestCounter> again;
  ASSERT_EQ(a.As(&again), S_OK);
  EXPECT_EQ(again.Get(), proxy.Get());
  ComPtr<ITestLocalOnly> local;
  EXPECT_EQ(proxy.As(&local), E_NOINTERFACE) << "the object has it, but it cannot cross";
  ComPtr<IStream> missing;
  EXPECT_EQ(proxy.As(&missing), E_NOINTERFACE);
}

TEST_F(Apartments, InterfacesInsideVariantsArriveAsProxiesOfTheirOwner) {
  ApartmentThread home;
  ComPtr<ITestCounter> theirs = CounterOn(home);
  ComPtr<ITestCounter> mine = NewCounter();
  // { event handle, interface } as the thread manager hands over the DTM.
  vkr::Variant arg;
  arg.vt = VT_ARRAY | VT_VARIANT;
  arg.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  LONG i = 0;
  vkr::Variant handle;
  handle.vt = VT_UI4;
  handle.ulVal = 0x1234;
  ASSERT_EQ(SafeArrayPutElement(arg.parray, &i, &handle), S_OK);
  i = 1;
  vkr::Variant unk;
  unk.vt = VT_UNKNOWN;
  unk.punkVal = mine.Get();
  mine->AddRef();
  ASSERT_EQ(SafeArrayPutElement(arg.parray, &i, &unk), S_OK);

  ASSERT_EQ(theirs->Keep(arg), S_OK);
  LONG total = 0;
  // The other thread calls what it kept; the call comes back here and runs on this thread.
  ASSERT_EQ(theirs->AddToKept(3, &total), S_OK);
  EXPECT_EQ(total, 3);
  ASSERT_EQ(mine->Add(0, &total), S_OK);
  EXPECT_EQ(total, 3);
}

TEST_F(Apartments, MarshalVariantRefusesReferencesThatCouldCarryPointers) {
  LONG number = 5;
  IUnknown* unknown = nullptr;
  VARIANT inner;
  VariantInit(&inner);
  const struct {
    const char* what;
    VARTYPE vt;
    void* ref;
    HRESULT expected;
  } cases[] = {
      {"by-reference number", VT_BYREF | VT_I4, &number, S_OK},
      {"by-reference interface", VT_BYREF | VT_UNKNOWN, &unknown, DISP_E_BADVARTYPE},
      {"by-reference VARIANT", VT_BYREF | VT_VARIANT, &inner, DISP_E_BADVARTYPE},
  };
  for (const auto& c : cases) {
    VARIANT src;
    VariantInit(&src);
    src.vt = c.vt;
    src.byref = c.ref;
    vkr::Variant dest;
    EXPECT_EQ(vkr::platform::MarshalVariant(&dest, &src), c.expected) << c.what;
    EXPECT_EQ(dest.vt, SUCCEEDED(c.expected) ? c.vt : static_cast<VARTYPE>(VT_EMPTY)) << c.what;
  }
}

TEST_F(Apartments, AnExceptionInTheCalleeBecomesAServerFault) {
  ApartmentThread home;
  ComPtr<ITestCounter> proxy = CounterOn(home);
  EXPECT_EQ(proxy->Fail(), RPC_E_SERVERFAULT);
  LONG total = 0;
  EXPECT_EQ(proxy->Add(2, &total), S_OK) << "the owner's loop survived";
}

TEST_F(Apartments, ApartmentCallRunsALambdaThereOrDirectlyAtHome) {
  ApartmentThread home;
  DWORD ranOn = 0;
  EXPECT_EQ(home.Apartment().Call([&] {
    ranOn = GetCurrentThreadId();
    return S_FALSE;
  }),
            S_FALSE);
  EXPECT_EQ(ranOn, home.Id());
  Apartment here = Apartment::Current();
  ASSERT_TRUE(here);
  EXPECT_TRUE(here.IsCurrent());
  EXPECT_EQ(here.ThreadId(), me);
  EXPECT_EQ(here.Call([&] {
    ranOn = GetCurrentThreadId();
    return S_OK;
  }),
            S_OK);
  EXPECT_EQ(ranOn, me);
  EXPECT_EQ(Apartment().Call([] { return S_OK; }), CO_E_NOTINITIALIZED);
  EXPECT_FALSE(home.Apartment().IsCurrent());
  EXPECT_TRUE(home.Apartment().IsAlive());
}

TEST_F(Apartments, WaitingForThreadsToEndServesTheirLastCalls) {
  ComPtr<ITestCounter> mine = NewCounter();
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(ITestCounter::iid, mine.Get(), &stream), S_OK);
  // A fire-and-forget worker: its handle is closed at once, and it calls back before it ends.
  HANDLE worker = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        CoInitialize(nullptr);
        ComPtr<ITestCounter> frame;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(static_cast<IStream*>(p), ITestCounter::iid, frame.PutVoid())))
          frame->Add(10, nullptr);
        frame = nullptr;
        CoUninitialize();
        return 0;
      },
      stream, 0, nullptr);
  CloseHandle(worker);
  ASSERT_TRUE(vkr::platform::WaitForThreadsToEnd(30000));
  LONG total = 0;
  mine->Add(0, &total);
  EXPECT_EQ(total, 10);
}

TEST_F(Apartments, AnApartmentCanBeginAgainAfterItEnded) {
  ComPtr<ITestCounter> c = NewCounter();
  ComPtr<ITestCounter> proxy;
  ASSERT_EQ(vkr::platform::WrapInterface(c.Get(), proxy.Put()), S_OK);
  Apartment first = Apartment::Current();
  CoUninitialize();
  EXPECT_FALSE(first.IsAlive());
  EXPECT_FALSE(Apartment::Current());
  EXPECT_EQ(proxy->Add(1, nullptr), RPC_E_DISCONNECTED);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_TRUE(Apartment::Current());
  EXPECT_FALSE(Apartment::Current() == first);
  proxy = nullptr;
  LONG total = 0;
  EXPECT_EQ(c->Add(1, &total), S_OK);
}

TEST(MultithreadedApartment, ObjectsAreCalledDirectly) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  Apartment mta = Apartment::Current();
  ASSERT_TRUE(mta);
  EXPECT_TRUE(mta.IsMultithreaded());
  EXPECT_EQ(mta.ThreadId(), 0u);
  ComPtr<ITestCounter> c = NewCounter();
  ComPtr<ITestCounter> wrapped;
  ASSERT_EQ(vkr::platform::WrapInterface(c.Get(), wrapped.Put()), S_OK);
  EXPECT_EQ(wrapped.Get(), c.Get());
  DWORD ranOn = 0;
  std::thread([&] { mta.Call([&] {
                      ranOn = GetCurrentThreadId();
                      return S_OK;
                    }); }).join();
  EXPECT_NE(ranOn, 0u);
  EXPECT_NE(ranOn, GetCurrentThreadId());
  CoUninitialize();
}

// A dual interface: its IDispatch part is forwarded by the proxy base.
struct ITestDual : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5C0A9E31-1D2B-4E7F-8A60-3B9C4D2E1F03");
  using Base = IDispatch;
  virtual HRESULT Ping() = 0;
};

class TestDualProxy final : public vkr::platform::InterfaceProxy<ITestDual> {
 public:
  using InterfaceProxy::InterfaceProxy;
  HRESULT Ping() override {
    return Forward([](ITestDual* t) { return t->Ping(); });
  }
};
[[maybe_unused]] const bool kDualRegistered = vkr::platform::RegisterProxy<ITestDual, TestDualProxy>();

class Dual : public vkr::Implements<ITestDual> {
 public:
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override {
    ids[0] = 7;
    return S_OK;
  }
  // Member 7 takes an interface and answers which thread it runs on and whether the interface
  // arrived as a proxy, and hands back an interface of its own.
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (member != 7 || params->cArgs != 1 || params->rgvarg[0].vt != VT_UNKNOWN) return DISP_E_MEMBERNOTFOUND;
    sawProxy = vkr::platform::IsProxy(params->rgvarg[0].punkVal);
    ranOn = GetCurrentThreadId();
    result->vt = VT_UNKNOWN;
    result->punkVal = static_cast<ITestDual*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT Ping() override { return S_FALSE; }
  static inline std::atomic<bool> sawProxy{false};
  static inline std::atomic<DWORD> ranOn{0};
};

TEST_F(Apartments, DualInterfacesForwardTheirDispatchPart) {
  ApartmentThread home;
  IStream* stream = nullptr;
  ASSERT_EQ(home.Run([&]() -> HRESULT {
              ComPtr<ITestDual> d;
              HRESULT hr = vkr::CreateObject<Dual>(nullptr, ITestDual::iid, d.PutVoid());
              if (FAILED(hr)) return hr;
              return CoMarshalInterThreadInterfaceInStream(ITestDual::iid, d.Get(), &stream);
            }),
            S_OK);
  ComPtr<ITestDual> dual;
  ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, ITestDual::iid, dual.PutVoid()), S_OK);
  EXPECT_EQ(dual->Ping(), S_FALSE);
  UINT n = 9;
  EXPECT_EQ(dual->GetTypeInfoCount(&n), S_OK);
  EXPECT_EQ(n, 0u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(dual->GetTypeInfo(0, 0, &info), E_NOTIMPL);
  EXPECT_EQ(info, nullptr);
  OLECHAR name[] = u"Which";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(dual->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 7);

  ComPtr<ITestCounter> mine = NewCounter();
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_UNKNOWN;
  arg.punkVal = mine.Get();
  DISPPARAMS params{&arg, nullptr, 1, 0};
  vkr::Variant result;
  ASSERT_EQ(dual->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(Dual::ranOn.load(), home.Id());
  EXPECT_TRUE(Dual::sawProxy.load()) << "an interface argument crossed as a raw pointer";
  ASSERT_EQ(result.vt, VT_UNKNOWN);
  EXPECT_TRUE(vkr::platform::IsProxy(result.punkVal)) << "an interface result crossed as a raw pointer";
  ComPtr<IDispatch> asDispatch;
  EXPECT_EQ(dual.As(&asDispatch), S_OK) << "the generic IDispatch proxy";
}

}  // namespace

// Apartments, cross-apartment calls, proxy managers, stubs and the marshalling stream.
#include "platform/com/apartment.h"

#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/com/classes.h"
#include "platform/com/object.h"
#include "platform/com/safearray.h"
#include "platform/win/thread_state.h"

namespace vkr::platform {

// One reference that a proxy holds on an object of another apartment. It is released on the
// owner's thread only: by the proxy's last Release (through a call) or, when the apartment ends
// first, by the ending thread.
struct Stub {
  explicit Stub(IUnknown* p) : ptr(p) {}
  IUnknown* ptr;
  bool released = false;  // touched on the owner's thread only
};

// A call waiting in, or running on, the owner's queue. Guarded by SyncMutex.
struct CallItem {
  HRESULT (*thunk)(void*) = nullptr;
  void* ctx = nullptr;
  HRESULT result = S_OK;
  bool done = false;
  std::shared_ptr<ThreadState> caller;
};

struct ApartmentState {
  bool multithreaded = false;
  DWORD threadId = 0;
  std::weak_ptr<ThreadState> thread;
  bool alive = true;
  // Calls posted and not yet taken up, by id. Guarded by SyncMutex.
  std::unordered_map<std::uint64_t, std::shared_ptr<CallItem>> pending;
  // References held for proxies elsewhere. Guarded by SyncMutex.
  std::unordered_set<std::shared_ptr<Stub>> stubs;
};

namespace {

std::atomic<std::uint64_t> g_nextCallId{1};

std::shared_ptr<ApartmentState> TheMultithreadedApartment() {
  static auto* mta = [] {
    auto* p = new std::shared_ptr<ApartmentState>(std::make_shared<ApartmentState>());
    (*p)->multithreaded = true;
    return p;
  }();
  return *mta;
}

HRESULT RunGuarded(HRESULT (*thunk)(void*), void* ctx) {
  try {
    return thunk(ctx);
  } catch (...) {
    // As a stub does: an exception never crosses back into the caller's apartment.
    return RPC_E_SERVERFAULT;
  }
}

// Answers every waiting call with RPC_E_DISCONNECTED. Lock held.
void FailPendingLocked(ApartmentState& a) {
  for (auto& [id, item] : a.pending) {
    item->result = RPC_E_DISCONNECTED;
    item->done = true;
    WakeLocked(*item->caller);
  }
  a.pending.clear();
}

// Registers a reference of the calling thread's apartment for a proxy elsewhere. Takes over p's
// reference; releases it on failure.
HRESULT NewStubHere(IUnknown* p, std::shared_ptr<Stub>* out) {
  std::shared_ptr<Stub> stub;
  try {
    stub = std::make_shared<Stub>(p);
  } catch (const std::bad_alloc&) {
    p->Release();
    return E_OUTOFMEMORY;
  }
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  auto& ap = self->apartment;
  if (!ap || !ap->alive) {
    // Unreachable through the public calls, which check first; kept for safety.
    stub->released = true;
    p->Release();
    return RPC_E_DISCONNECTED;
  }
  if (!ap->multithreaded) {
    try {
      ap->stubs.insert(stub);
    } catch (const std::bad_alloc&) {
      stub->released = true;
      p->Release();
      return E_OUTOFMEMORY;
    }
  }
  *out = std::move(stub);
  return S_OK;
}

// Releases stubs on the owner's thread (the caller is that thread, or any thread for the
// multithreaded apartment).
void ReleaseStubsHere(const std::vector<std::shared_ptr<Stub>>& stubs) {
  auto self = CurrentThreadShared();
  {
    std::lock_guard lk(SyncMutex());
    if (self->apartment)
      for (auto& s : stubs) self->apartment->stubs.erase(s);
  }
  for (auto& s : stubs) {
    if (!s || s->released) continue;
    s->released = true;
    s->ptr->Release();
  }
}

void ReleaseStubs(const Apartment& owner, const std::vector<std::shared_ptr<Stub>>& stubs) {
  // Disconnected: the ending apartment released them (or will, on its thread).
  owner.Call([&]() -> HRESULT {
    ReleaseStubsHere(stubs);
    return S_OK;
  });
}

std::mutex& FactoryLock() {
  static auto* m = new std::mutex;
  return *m;
}
// Every registration in force per interface, the latest last.
std::map<IID, std::vector<ProxyFactory>>& Factories() {
  static auto* f = new std::map<IID, std::vector<ProxyFactory>>;
  return *f;
}
ProxyFactory FindProxyFactory(REFIID iid) {
  std::lock_guard lk(FactoryLock());
  auto it = Factories().find(iid);
  return it == Factories().end() || it->second.empty() ? nullptr : it->second.back();
}

}  // namespace

// The identity of a proxied object in every apartment but its own; owns the interface proxies
// and the references (stubs) behind them. Its reference count is shared by its interface proxies.
class ProxyManager final : public IUnknown {
 public:
  // Asks an interface pointer whether it is a proxy; answered by the manager alone.
  static constexpr IID kIid = vkr::MakeGuid("6A1D3C52-7E0B-4C8F-9D41-2B5E8F07A3C1");

  ProxyManager(Apartment owner, std::shared_ptr<Stub> identity)
      : m_owner(std::move(owner)), m_identity(std::move(identity)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == kIid) {
      AddRef();
      *ppv = static_cast<IUnknown*>(this);
      return S_OK;
    }
    if (void* found = FindProxy(riid)) {
      *ppv = found;
      return S_OK;
    }
    ProxyFactory factory = FindProxyFactory(riid);
    if (!factory) return E_NOINTERFACE;
    void* target = nullptr;
    std::shared_ptr<Stub> stub;
    HRESULT hr = m_owner.Call([&]() -> HRESULT {
      HRESULT h = m_identity->ptr->QueryInterface(riid, &target);
      if (SUCCEEDED(h) && !target) h = E_NOINTERFACE;
      if (FAILED(h)) return h;
      return NewStubHere(static_cast<IUnknown*>(target), &stub);
    });
    if (FAILED(hr)) return hr;
    ProxyLink* proxy = factory(this, target);
    if (!proxy) {
      ReleaseStubs(m_owner, {stub});
      return E_OUTOFMEMORY;
    }
    void* existing = nullptr;
    bool stored = false;
    {
      std::lock_guard lk(m_lock);
      for (auto& e : m_entries)
        if (e.iid == riid) existing = e.proxy->InterfacePointer();
      if (!existing) {
        try {
          m_entries.push_back(Entry{riid, stub, proxy});
          stored = true;
        } catch (const std::bad_alloc&) {
        }
      }
    }
    if (!stored) {
      // Another thread made the same proxy meanwhile (keep that one), or no memory.
      delete proxy;
      ReleaseStubs(m_owner, {stub});
      if (!existing) return E_OUTOFMEMORY;
      AddRef();
      *ppv = existing;
      return S_OK;
    }
    AddRef();
    *ppv = proxy->InterfacePointer();
    return S_OK;
  }

  ULONG AddRef() override { return ++m_refs; }

  ULONG Release() override {
    ULONG left = --m_refs;
    if (left) return left;
    std::vector<std::shared_ptr<Stub>> stubs{m_identity};
    for (auto& e : m_entries) stubs.push_back(e.stub);
    ReleaseStubs(m_owner, stubs);
    for (auto& e : m_entries) delete e.proxy;
    delete this;
    return 0;
  }

  const Apartment& Owner() const { return m_owner; }
  // The object's IUnknown; to be used on the owner's thread only.
  IUnknown* Identity() const { return m_identity->ptr; }

 private:
  struct Entry {
    IID iid;
    std::shared_ptr<Stub> stub;
    ProxyLink* proxy;
  };

  void* FindProxy(REFIID riid) {
    std::lock_guard lk(m_lock);
    for (auto& e : m_entries) {
      if (e.iid == riid) {
        AddRef();
        return e.proxy->InterfacePointer();
      }
    }
    return nullptr;
  }

  std::atomic<ULONG> m_refs{1};
  const Apartment m_owner;
  const std::shared_ptr<Stub> m_identity;
  std::mutex m_lock;
  std::vector<Entry> m_entries;
};

namespace {

// The proxy manager behind p (AddRef'd), or null when p is no proxy.
ProxyManager* AsProxy(IUnknown* p) {
  if (!p) return nullptr;
  void* m = nullptr;
  if (FAILED(p->QueryInterface(ProxyManager::kIid, &m)) || !m) return nullptr;
  return static_cast<ProxyManager*>(static_cast<IUnknown*>(m));
}

// A proxy for p, a raw pointer of the calling thread's apartment.
HRESULT CreateProxy(IUnknown* p, REFIID riid, void** out) {
  Apartment here = Apartment::Current();
  if (!here) return CO_E_NOTINITIALIZED;
  if (here.IsMultithreaded()) return p->QueryInterface(riid, out);
  if (riid != IID_IUnknown && !FindProxyFactory(riid)) return E_NOINTERFACE;
  IUnknown* identity = nullptr;
  HRESULT hr = p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  if (FAILED(hr)) return hr;
  std::shared_ptr<Stub> stub;
  hr = NewStubHere(identity, &stub);
  if (FAILED(hr)) return hr;
  auto* manager = new (std::nothrow) ProxyManager(here, stub);
  if (!manager) {
    ReleaseStubsHere({stub});
    return E_OUTOFMEMORY;
  }
  hr = manager->QueryInterface(riid, out);
  manager->Release();
  return hr;
}

// The stream that carries one marshalled interface to one CoGetInterfaceAndReleaseStream.
struct IMarshalStream : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("6A1D3C52-7E0B-4C8F-9D41-2B5E8F07A3C2");
  using Base = IUnknown;
  // Hands over the marshalled pointer (a proxy, or the object in the multithreaded apartment).
  virtual IUnknown* Take() = 0;
};

class MarshalStream : public vkr::Implements<IStream, IMarshalStream> {
 public:
  explicit MarshalStream(IUnknown* held) : m_held(held) {}
  ~MarshalStream() override {
    if (m_held) m_held->Release();
  }

  IUnknown* Take() override {
    IUnknown* p = m_held;
    m_held = nullptr;
    return p;
  }

  HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

 private:
  IUnknown* m_held;
};

HRESULT WrapSlot(IUnknown** slot, REFIID riid) {
  if (!*slot) return S_OK;
  IUnknown* wrapped = nullptr;
  HRESULT hr = WrapInterface(*slot, riid, reinterpret_cast<void**>(&wrapped));
  if (FAILED(hr)) return hr;
  (*slot)->Release();
  *slot = wrapped;
  return S_OK;
}

HRESULT WrapVariantInPlace(VARIANT* v);

HRESULT WrapArray(SAFEARRAY* psa, VARTYPE elementType) {
  if (!psa) return S_OK;
  if (elementType != VT_VARIANT && elementType != VT_UNKNOWN && elementType != VT_DISPATCH) return S_OK;
  std::size_t count = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) count *= psa->rgsabound[d].cElements;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(psa, &data);
  if (FAILED(hr)) return hr;
  for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    if (elementType == VT_VARIANT)
      hr = WrapVariantInPlace(static_cast<VARIANT*>(data) + i);
    else
      hr = WrapSlot(static_cast<IUnknown**>(data) + i, elementType == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch);
  }
  SafeArrayUnaccessData(psa);
  return hr;
}

HRESULT WrapVariantInPlace(VARIANT* v) {
  const VARTYPE vt = v->vt;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_BYREF) {
    if ((vt & VT_ARRAY) || base == VT_UNKNOWN || base == VT_DISPATCH || base == VT_VARIANT) return DISP_E_BADVARTYPE;
    return S_OK;
  }
  if (vt & VT_ARRAY) return WrapArray(v->parray, base);
  if (vt == VT_UNKNOWN) return WrapSlot(&v->punkVal, IID_IUnknown);
  if (vt == VT_DISPATCH) return WrapSlot(reinterpret_cast<IUnknown**>(&v->pdispVal), IID_IDispatch);
  return S_OK;
}

// The generic proxy of IDispatch, for VT_DISPATCH values and QueryInterface of dual interfaces.
[[maybe_unused]] const bool kDispatchProxyRegistered = RegisterProxy<IDispatch, InterfaceProxy<IDispatch>>();

}  // namespace

Apartment Apartment::Current() {
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  return Apartment(self->apartment);
}

bool Apartment::IsCurrent() const {
  if (!m_state) return false;
  auto self = CurrentThreadShared();
  std::lock_guard lk(SyncMutex());
  return self->apartment == m_state;
}

bool Apartment::IsAlive() const {
  if (!m_state) return false;
  std::lock_guard lk(SyncMutex());
  return m_state->alive;
}

bool Apartment::IsMultithreaded() const { return m_state && m_state->multithreaded; }

DWORD Apartment::ThreadId() const { return m_state ? m_state->threadId : 0; }

HRESULT Apartment::CallThunk(HRESULT (*thunk)(void*), void* ctx) const {
  if (!m_state) return CO_E_NOTINITIALIZED;
  if (m_state->multithreaded) return RunGuarded(thunk, ctx);
  auto self = CurrentThreadShared();
  std::unique_lock lk(SyncMutex());
  if (!m_state->alive) return RPC_E_DISCONNECTED;
  if (m_state->threadId == self->id) {
    lk.unlock();
    return RunGuarded(thunk, ctx);
  }
  auto target = m_state->thread.lock();
  if (!target || target->ended) return RPC_E_DISCONNECTED;
  std::shared_ptr<CallItem> item;
  try {
    item = std::make_shared<CallItem>();
    item->thunk = thunk;
    item->ctx = ctx;
    item->caller = self;
    const std::uint64_t id = g_nextCallId++;
    m_state->pending.emplace(id, item);
    if (!PostLocked(*target, MSG{nullptr, kApartmentCallMessage, 0, static_cast<LPARAM>(id), GetTickCount(), {}})) {
      m_state->pending.erase(id);
      return RPC_E_DISCONNECTED;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ModalWaitLocked(lk, *self, [](void* p) { return static_cast<CallItem*>(p)->done; }, item.get());
  return item->result;
}

void DispatchApartmentCall(const MSG& msg) {
  auto self = CurrentThreadShared();
  std::shared_ptr<CallItem> item;
  {
    std::lock_guard lk(SyncMutex());
    auto& ap = self->apartment;
    if (!ap || !ap->alive) return;
    auto it = ap->pending.find(static_cast<std::uint64_t>(msg.lParam));
    // Not found: answered already (the apartment ended and began again), or not a call at all.
    if (it == ap->pending.end()) return;
    item = std::move(it->second);
    ap->pending.erase(it);
  }
  HRESULT hr = RunGuarded(item->thunk, item->ctx);
  std::shared_ptr<ThreadState> caller;
  {
    std::lock_guard lk(SyncMutex());
    item->result = hr;
    item->done = true;
    caller = item->caller;
    caller->woken = true;
  }
  // Told after the lock is given back: woken under it, the caller would only wait for the lock.
  caller->wake.notify_all();
}

void EnterApartment(bool singleThreaded) {
  auto self = CurrentThreadShared();
  std::shared_ptr<ApartmentState> ap;
  if (singleThreaded) {
    ap = std::make_shared<ApartmentState>();
    ap->threadId = self->id;
    ap->thread = self;
  } else {
    ap = TheMultithreadedApartment();
  }
  std::lock_guard lk(SyncMutex());
  if (!self->apartment) self->apartment = std::move(ap);
}

void LeaveApartment() { EndApartmentOfCurrentThread(); }

void EndApartmentOfCurrentThread() {
  auto self = CurrentThreadShared();
  std::unordered_set<std::shared_ptr<Stub>> stubs;
  {
    std::lock_guard lk(SyncMutex());
    std::shared_ptr<ApartmentState> ap = std::move(self->apartment);
    self->apartment.reset();
    // The multithreaded apartment lives on for its other threads.
    if (!ap || ap->multithreaded) return;
    ap->alive = false;
    FailPendingLocked(*ap);
    stubs.swap(ap->stubs);
  }
  // On the owner's thread, as the objects expect; their destructors may call out again.
  for (auto& s : stubs) {
    if (s->released) continue;
    s->released = true;
    s->ptr->Release();
  }
}

void AbandonApartmentLocked(ApartmentState& a) {
  a.alive = false;
  FailPendingLocked(a);
}

HRESULT ProxyLink::LinkQueryInterface(REFIID riid, void** ppv) { return m_manager->QueryInterface(riid, ppv); }
ULONG ProxyLink::LinkAddRef() { return m_manager->AddRef(); }
ULONG ProxyLink::LinkRelease() { return m_manager->Release(); }
const Apartment& ProxyLink::Owner() const { return m_manager->Owner(); }

void RegisterProxyFactory(REFIID iid, ProxyFactory factory) {
  if (!factory) return;
  std::lock_guard lk(FactoryLock());
  try {
    Factories()[iid].push_back(factory);
  } catch (const std::bad_alloc&) {
    // Not registered: wrapping the interface then answers E_NOINTERFACE, as for any other.
  }
}

void UnregisterProxyFactory(REFIID iid, ProxyFactory factory) {
  std::lock_guard lk(FactoryLock());
  auto it = Factories().find(iid);
  if (it == Factories().end()) return;
  std::vector<ProxyFactory>& in = it->second;
  // One registration is taken back, the latest of this factory: another module's stays.
  for (auto f = in.rbegin(); f != in.rend(); ++f) {
    if (*f == factory) {
      in.erase(std::next(f).base());
      break;
    }
  }
  if (in.empty()) Factories().erase(it);
}

bool HasProxyFactory(REFIID iid) { return FindProxyFactory(iid) != nullptr; }

HRESULT WrapInterface(IUnknown* p, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!p) return S_OK;
  if (ProxyManager* m = AsProxy(p)) {
    HRESULT hr = m->QueryInterface(riid, out);
    m->Release();
    return hr;
  }
  return CreateProxy(p, riid, out);
}

HRESULT MarshalVariant(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  HRESULT hr = VariantCopy(dest, src);
  if (FAILED(hr)) return hr;
  hr = WrapVariantInPlace(dest);
  if (FAILED(hr)) VariantClear(dest);
  return hr;
}

bool IsProxy(IUnknown* p) {
  ProxyManager* m = AsProxy(p);
  if (m) m->Release();
  return m != nullptr;
}

Apartment ProxyOwner(IUnknown* p) {
  ProxyManager* m = AsProxy(p);
  if (!m) return Apartment();
  Apartment owner = m->Owner();
  m->Release();
  return owner;
}

namespace detail {

HRESULT ForwardGetTypeInfoCount(const Apartment& owner, IDispatch* target, UINT* count) {
  return owner.Call([&]() -> HRESULT { return target->GetTypeInfoCount(count); });
}

HRESULT ForwardGetIDsOfNames(const Apartment& owner, IDispatch* target, REFIID riid, LPOLESTR* names, UINT count,
                             LCID lcid, DISPID* ids) {
  return owner.Call([&]() -> HRESULT { return target->GetIDsOfNames(riid, names, count, lcid, ids); });
}

HRESULT ForwardInvoke(const Apartment& owner, IDispatch* target, DISPID member, REFIID riid, LCID lcid, WORD flags,
                      DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (!params) return E_INVALIDARG;
  std::vector<VARIANT> args(params->cArgs);
  for (auto& a : args) VariantInit(&a);
  auto clear = [&] {
    for (auto& a : args) VariantClear(&a);
  };
  for (UINT i = 0; i < params->cArgs; ++i) {
    HRESULT hr = MarshalVariant(&args[i], &params->rgvarg[i]);
    if (FAILED(hr)) {
      if (argErr) *argErr = i;
      clear();
      return hr;
    }
  }
  DISPPARAMS copy{args.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};
  HRESULT hr = owner.Call([&]() -> HRESULT {
    VARIANT r;
    VariantInit(&r);
    HRESULT h = target->Invoke(member, riid, lcid, flags, &copy, result ? &r : nullptr, excepInfo, argErr);
    if (result) {
      HRESULT m = MarshalVariant(result, &r);
      VariantClear(&r);
      if (SUCCEEDED(h) && FAILED(m)) h = m;
    }
    return h;
  });
  clear();
  return hr;
}

}  // namespace detail

}  // namespace vkr::platform

using namespace vkr::platform;

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN pUnk, LPSTREAM* ppStm) {
  if (!ppStm) return E_INVALIDARG;
  *ppStm = nullptr;
  if (!pUnk) return E_INVALIDARG;
  if (!Apartment::Current()) return CO_E_NOTINITIALIZED;
  IUnknown* held = nullptr;
  HRESULT hr = WrapInterface(pUnk, riid, reinterpret_cast<void**>(&held));
  if (FAILED(hr)) return hr;
  hr = vkr::CreateObject<MarshalStream>(nullptr, IID_IStream, reinterpret_cast<void**>(ppStm), held);
  if (FAILED(hr)) held->Release();
  return hr;
}

HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM pStm, REFIID iid, LPVOID* ppv) {
  vkr::ComPtr<IStream> stream;
  stream.Attach(pStm);
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!pStm) return E_INVALIDARG;
  vkr::ComPtr<IMarshalStream> marshalled;
  if (FAILED(pStm->QueryInterface(IMarshalStream::iid, marshalled.PutVoid()))) return E_INVALIDARG;
  Apartment here = Apartment::Current();
  if (!here) return CO_E_NOTINITIALIZED;
  vkr::ComPtr<IUnknown> held;
  held.Attach(marshalled->Take());
  if (!held) return CO_E_OBJNOTCONNECTED;
  ProxyManager* m = AsProxy(held.Get());
  if (m && m->Owner() == here) {
    // Back home: the object itself, not a proxy of it.
    HRESULT hr = m->Identity()->QueryInterface(iid, ppv);
    m->Release();
    return hr;
  }
  if (m) m->Release();
  return held->QueryInterface(iid, ppv);
}

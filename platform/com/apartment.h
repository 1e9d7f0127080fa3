// Apartments, cross-apartment calls, proxies and interface marshalling between threads.
//
// A thread that calls CoInitialize(Ex) in the single-threaded model is an apartment: the objects
// it creates are called on it alone. Another thread reaches them through a proxy, whose calls
// are carried to the owner's thread as call items in its message queue (messages.h) and run
// there by whatever loop the owner is in (GetMessage/DispatchMessage, a pumping wait, or a
// cross-apartment call of its own). The caller waits meanwhile in a modal wait that runs the
// calls coming into its own apartment, messages sent to it and posted window messages, and
// leaves its thread messages (the DTM thread's 1129/1130), WM_TIMER and WM_QUIT queued for its
// own loop. So A can call B while B calls back into A, nested calls unwind in order, and a wait
// never swallows a thread's own jobs.
//
// A call into an apartment whose thread has ended, uninitialised or been abandoned fails with
// RPC_E_DISCONNECTED; it never hangs. When an apartment ends, its thread releases the references
// that proxies in other apartments held, so objects are destroyed on their own thread.
//
// Ownership follows COM: a raw interface pointer belongs to the apartment of the thread that
// holds it; marshalling it (CoMarshalInterThreadInterfaceInStream, WrapInterface) records that
// apartment as the owner. The multithreaded apartment has no thread of its own: its objects are
// called directly from any thread.
//
// Interfaces are plain C++ classes, so each interface that crosses apartments needs a proxy
// class, registered once:
//
//   class CounterProxy final : public vkr::platform::InterfaceProxy<ICounter> {
//    public:
//     using InterfaceProxy::InterfaceProxy;
//     HRESULT Add(LONG n, LONG* total) override {
//       return Forward([&](ICounter* target) { return target->Add(n, total); });
//     }
//   };
//   static const bool kRegistered = vkr::platform::RegisterProxy<ICounter, CounterProxy>();
//
// Forward runs the lambda on the owner's thread. Plain arguments pass by reference (the caller
// waits until the call ends); interface pointers must be wrapped on the side that owns them:
// in-arguments with WrapInterface (or MarshalVariant) before Forward, out-arguments inside the
// lambda. Dual interfaces get their IDispatch methods forwarded by InterfaceProxy itself.
// Where a holder keeps another apartment's pointer and a proxy class is not worth it,
// Apartment::Call runs any lambda on that apartment's thread in the same way.
#pragma once

#include <memory>
#include <new>
#include <type_traits>

#include "platform/com/interfaces.h"

// Marshals riid of pUnk for one unmarshalling in another thread of the process. The calling
// thread must be in an apartment (CO_E_NOTINITIALIZED), the object must answer riid
// (E_NOINTERFACE) and a proxy for riid must be registered (E_NOINTERFACE). The stream serves only
// CoGetInterfaceAndReleaseStream: its IStream methods answer E_NOTIMPL. Released without being
// unmarshalled, it gives its reference back to the owner.
VKR_API HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN pUnk, LPSTREAM* ppStm);
// Unmarshals the interface and releases the stream, whatever the result. In the owner's apartment
// the object itself comes back; elsewhere a proxy. E_INVALIDARG for a stream that
// CoMarshalInterThreadInterfaceInStream did not make, CO_E_NOTINITIALIZED outside an apartment.
VKR_API HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM pStm, REFIID iid, LPVOID* ppv);

namespace vkr::platform {

struct ApartmentState;

// A reference to an apartment; it may outlive the apartment, which then counts as ended.
class VKR_API Apartment {
 public:
  Apartment() = default;
  explicit Apartment(std::shared_ptr<ApartmentState> state) : m_state(std::move(state)) {}

  // The calling thread's apartment; empty when the thread has not called CoInitialize(Ex).
  static Apartment Current();

  explicit operator bool() const noexcept { return static_cast<bool>(m_state); }
  bool operator==(const Apartment& other) const noexcept { return m_state == other.m_state; }
  bool IsCurrent() const;
  bool IsAlive() const;
  bool IsMultithreaded() const;
  // The owner thread's id; 0 for the multithreaded apartment.
  DWORD ThreadId() const;

  // Runs fn() (returning HRESULT) on the apartment's thread and returns its result: directly when
  // called on that thread or for the multithreaded apartment, else through the owner's queue
  // with the caller in the modal wait. RPC_E_DISCONNECTED when the apartment has ended (or ends
  // before the call runs), CO_E_NOTINITIALIZED for an empty reference, RPC_E_SERVERFAULT when fn
  // throws.
  template <class F>
  HRESULT Call(F&& fn) const {
    using Fn = std::remove_reference_t<F>;
    static_assert(std::is_convertible_v<std::invoke_result_t<Fn&>, HRESULT>, "the call must return an HRESULT");
    return CallThunk([](void* ctx) -> HRESULT { return (*static_cast<Fn*>(ctx))(); },
                     const_cast<void*>(static_cast<const void*>(std::addressof(fn))));
  }

  const std::shared_ptr<ApartmentState>& State() const { return m_state; }

 private:
  HRESULT CallThunk(HRESULT (*thunk)(void*), void* ctx) const;

  std::shared_ptr<ApartmentState> m_state;
};

// The identity of one proxied object; it owns the interface proxies. Internal.
class ProxyManager;

// The part of an interface proxy that does not depend on its interface.
class VKR_API ProxyLink {
 public:
  ProxyLink(const ProxyLink&) = delete;
  ProxyLink& operator=(const ProxyLink&) = delete;
  virtual ~ProxyLink() = default;

  // The proxy as the interface it stands for.
  virtual void* InterfacePointer() = 0;

 protected:
  explicit ProxyLink(ProxyManager* manager) : m_manager(manager) {}
  HRESULT LinkQueryInterface(REFIID riid, void** ppv);
  ULONG LinkAddRef();
  ULONG LinkRelease();
  // The apartment the object lives in.
  const Apartment& Owner() const;

 private:
  ProxyManager* m_manager;
};

namespace detail {
// IDispatch of a dual interface, forwarded; in-arguments are marshalled with MarshalVariant on
// the caller's side, the result on the owner's. Type information does not cross (E_NOTIMPL).
VKR_API HRESULT ForwardGetTypeInfoCount(const Apartment& owner, IDispatch* target, UINT* count);
VKR_API HRESULT ForwardGetIDsOfNames(const Apartment& owner, IDispatch* target, REFIID riid, LPOLESTR* names,
                                     UINT count, LCID lcid, DISPID* ids);
VKR_API HRESULT ForwardInvoke(const Apartment& owner, IDispatch* target, DISPID member, REFIID riid, LCID lcid,
                              WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);
}  // namespace detail

template <class I>
class InterfaceProxyBase : public I, public ProxyLink {
 public:
  InterfaceProxyBase(ProxyManager* manager, void* target) : ProxyLink(manager), m_target(static_cast<I*>(target)) {}

  using IUnknown::QueryInterface;
  HRESULT QueryInterface(REFIID riid, void** ppv) final { return LinkQueryInterface(riid, ppv); }
  ULONG AddRef() final { return LinkAddRef(); }
  ULONG Release() final { return LinkRelease(); }
  void* InterfacePointer() final { return static_cast<I*>(this); }

 protected:
  // Runs fn(target) on the owner's thread (see Apartment::Call).
  template <class F>
  HRESULT Forward(F&& fn) {
    I* target = m_target;
    return Owner().Call([&]() -> HRESULT { return fn(target); });
  }
  // The object's interface; only to be called inside Forward.
  I* Target() const { return m_target; }

 private:
  I* m_target;
};

// The base of a proxy class for interface I (see the top of this file).
template <class I, bool = std::is_base_of_v<IDispatch, I>>
class InterfaceProxy : public InterfaceProxyBase<I> {
 public:
  using InterfaceProxyBase<I>::InterfaceProxyBase;
};

template <class I>
class InterfaceProxy<I, true> : public InterfaceProxyBase<I> {
 public:
  using InterfaceProxyBase<I>::InterfaceProxyBase;

  HRESULT GetTypeInfoCount(UINT* count) override {
    return detail::ForwardGetTypeInfoCount(this->Owner(), this->Target(), count);
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return detail::ForwardGetIDsOfNames(this->Owner(), this->Target(), riid, names, count, lcid, ids);
  }
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    return detail::ForwardInvoke(this->Owner(), this->Target(), member, riid, lcid, flags, params, result, excepInfo,
                                 argErr);
  }
};

// Makes the proxy of interface iid: `target` is the object's interface (as QueryInterface gave
// it), to be called only on the owner's thread. Null when out of memory.
using ProxyFactory = ProxyLink* (*)(ProxyManager* manager, void* target);

// Registers the proxy class of an interface; thread-safe. Several modules may register the same
// interface (each carries its own copy of the class): the latest registration still in force
// serves. A module that registers proxies takes its registrations back before it is unloaded;
// taking one back leaves the other modules' registrations in force.
VKR_API void RegisterProxyFactory(REFIID iid, ProxyFactory factory);
VKR_API void UnregisterProxyFactory(REFIID iid, ProxyFactory factory);
VKR_API bool HasProxyFactory(REFIID iid);

template <class I, class P>
ProxyLink* MakeProxy(ProxyManager* manager, void* target) {
  return new (std::nothrow) P(manager, target);
}

template <class I, class P>
bool RegisterProxy() {
  static_assert(std::is_base_of_v<InterfaceProxyBase<I>, P>, "P must derive from InterfaceProxy<I>");
  RegisterProxyFactory(I::iid, &MakeProxy<I, P>);
  return true;
}

template <class I, class P>
void UnregisterProxy() {
  UnregisterProxyFactory(I::iid, &MakeProxy<I, P>);
}

// An interface pointer that may be handed to another apartment: a proxy for a raw pointer of the
// calling thread's apartment (which becomes its owner), the same object's proxy for a proxy, the
// pointer itself in the multithreaded apartment; null stays null. *out holds a reference. Called
// on the side that owns p. CO_E_NOTINITIALIZED outside an apartment; E_NOINTERFACE when p lacks
// riid or riid has no registered proxy.
VKR_API HRESULT WrapInterface(IUnknown* p, REFIID riid, void** out);
template <class I>
HRESULT WrapInterface(I* p, I** out) {
  return WrapInterface(p, I::iid, reinterpret_cast<void**>(out));
}

// A deep copy of src (VariantCopy) in which every interface pointer, also inside arrays of
// VARIANTs or interfaces, is wrapped as WrapInterface does. By-reference values are copied as
// the reference (sound while the caller waits), except references to interfaces, VARIANTs and
// arrays, which could smuggle raw pointers across: DISP_E_BADVARTYPE. On failure dest is empty.
VKR_API HRESULT MarshalVariant(VARIANT* dest, const VARIANT* src);

// Whether p is a proxy, and the apartment its object lives in (empty for other pointers).
VKR_API bool IsProxy(IUnknown* p);
VKR_API Apartment ProxyOwner(IUnknown* p);

// Called by CoInitializeEx on a thread's first successful call: makes the thread a
// single-threaded apartment, or joins the multithreaded one. LeaveApartment is called by the
// CoUninitialize that matches it, and by the platform when a thread ends without it.
VKR_API void EnterApartment(bool singleThreaded);
VKR_API void LeaveApartment();

}  // namespace vkr::platform

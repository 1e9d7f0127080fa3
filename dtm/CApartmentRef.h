// CApartmentRef: an object of another apartment, held by a thread that reaches it only through
// the platform's cross-apartment call.
//
// The DTM thread and the worker threads receive the DTM and the frame as proxies. Rather than one
// proxy class for each of the many interfaces they use, the holder keeps the proxy (which keeps
// the object alive and gives the last reference back on the object's own thread) and runs each
// use as one call on the object's thread, where the object's own pointers are valid. The caller
// waits meanwhile and serves the calls coming into its own apartment.
#pragma once

#include <utility>

#include "platform/platform.h"

// An object that wants to know whether a holder's call is running on it: told on its own thread
// when each call begins and ends.
struct IApartmentCallObserver : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A90");
  using Base = IUnknown;
  virtual void OnCallBegin() = 0;
  virtual void OnCallEnd() = 0;
};

class CApartmentRef {
 public:
  CApartmentRef() = default;
  CApartmentRef(const CApartmentRef&) = delete;
  CApartmentRef& operator=(const CApartmentRef&) = delete;
  ~CApartmentRef() { Reset(); }

  // Takes p as the calling thread holds it: a proxy, whose object lives in the proxy's
  // apartment, or a pointer of the calling thread's own apartment. Null empties the holder.
  HRESULT Set(IUnknown* p);
  // The same for an object that must answer `required`, asked on its own thread in the same visit
  // that finds the object behind a proxy: E_NOINTERFACE when it does not, and the holder is then
  // left empty.
  HRESULT Set(IUnknown* p, REFIID required);
  // Takes an object of the calling thread's own apartment (no proxy: E_INVALIDARG) for another
  // thread of the process that will hold it: the object is asked here, directly, whether it
  // answers `required`, and the holder keeps a proxy of it, so that it may be handed to that
  // thread (Swap) without a visit back here.
  HRESULT SetForOtherThread(IUnknown* p, REFIID required);
  void Reset();
  void Swap(CApartmentRef& other) noexcept {
    m_keep.Swap(other.m_keep);
    std::swap(m_object, other.m_object);
    std::swap(m_observer, other.m_observer);
    std::swap(m_owner, other.m_owner);
  }
  explicit operator bool() const { return m_object != nullptr; }
  // The proxy (or the object) the holder keeps, for the holder's thread; null when empty.
  IUnknown* Held() const { return m_keep.Get(); }
  const vkr::platform::Apartment& Owner() const { return m_owner; }

  // Runs fn(IUnknown* object) on the object's thread and returns its result; E_POINTER when
  // empty, RPC_E_DISCONNECTED when that apartment has ended. An object that observes calls is
  // told of the call around fn.
  template <class F>
  HRESULT Call(F&& fn) const {
    if (!m_object) return E_POINTER;
    IUnknown* object = m_object;
    IApartmentCallObserver* observer = m_observer;
    return m_owner.Call([&]() -> HRESULT {
      ObservedCall scope(observer);
      return fn(object);
    });
  }

  // Runs fn(Q*) on the object's thread with the object's Q; `missing` when it lacks Q.
  template <class Q, class F>
  HRESULT CallAs(HRESULT missing, F&& fn) const {
    return Call([&](IUnknown* object) -> HRESULT {
      vkr::ComPtr<Q> q;
      if (FAILED(object->QueryInterface(Q::iid, q.PutVoid())) || !q) return missing;
      return fn(q.Get());
    });
  }

  // Whether the object answers Q (asked on its thread).
  template <class Q>
  bool Offers() const {
    return CallAs<Q>(E_NOINTERFACE, [](Q*) { return S_OK; }) == S_OK;
  }

 private:
  struct ObservedCall {
    explicit ObservedCall(IApartmentCallObserver* o) : observer(o) {
      if (observer) observer->OnCallBegin();
    }
    ~ObservedCall() {
      if (observer) observer->OnCallEnd();
    }
    ObservedCall(const ObservedCall&) = delete;
    ObservedCall& operator=(const ObservedCall&) = delete;
    IApartmentCallObserver* observer;
  };
  // The object's observer interface (borrowed from the object; on its own thread only), if any.
  static IApartmentCallObserver* ObserverOf(IUnknown* object);

  vkr::ComPtr<IUnknown> m_keep;     // the proxy or the object: keeps the object alive
  IUnknown* m_object = nullptr;     // the object's IUnknown, valid on its own thread only
  IApartmentCallObserver* m_observer = nullptr;
  vkr::platform::Apartment m_owner;
};

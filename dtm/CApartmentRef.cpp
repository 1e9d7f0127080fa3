// CApartmentRef: finding the object behind a proxy on the object's own thread.
#include "dtm/CApartmentRef.h"

IApartmentCallObserver* CApartmentRef::ObserverOf(IUnknown* object) {
  vkr::ComPtr<IApartmentCallObserver> observer;
  if (FAILED(object->QueryInterface(IApartmentCallObserver::iid, observer.PutVoid())) || !observer) return nullptr;
  // The holder keeps the object, and with it the observer.
  return observer.Get();
}

HRESULT CApartmentRef::Set(IUnknown* p) { return Set(p, IID_IUnknown); }

namespace {

// Whether the object answers riid; asked on the object's own thread.
bool Answers(IUnknown* object, REFIID riid) {
  if (riid == IID_IUnknown) return true;
  vkr::ComPtr<IUnknown> q;
  return SUCCEEDED(object->QueryInterface(riid, q.PutVoid())) && q;
}

}  // namespace

HRESULT CApartmentRef::Set(IUnknown* p, REFIID required) {
  Reset();
  if (!p) return S_OK;
  vkr::ComPtr<IUnknown> identity;
  HRESULT hr = p->QueryInterface(IID_IUnknown, identity.PutVoid());
  if (FAILED(hr)) return hr;
  if (!identity) return E_NOINTERFACE;
  if (!vkr::platform::IsProxy(identity.Get())) {
    vkr::platform::Apartment owner = vkr::platform::Apartment::Current();
    if (!owner) return CO_E_NOTINITIALIZED;
    if (!Answers(identity.Get(), required)) return E_NOINTERFACE;
    m_owner = std::move(owner);
    m_object = identity.Get();
    m_observer = ObserverOf(m_object);
    m_keep = std::move(identity);
    return S_OK;
  }
  vkr::platform::Apartment owner = vkr::platform::ProxyOwner(identity.Get());
  // Unmarshalled in its own apartment, a marshalled pointer gives back the object itself.
  IStream* stream = nullptr;
  hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, identity.Get(), &stream);
  if (FAILED(hr)) return hr;
  IUnknown* object = nullptr;
  IApartmentCallObserver* observer = nullptr;
  hr = owner.Call([&]() -> HRESULT {
    HRESULT h = CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&object));
    stream = nullptr;
    if (SUCCEEDED(h) && object) {
      if (!Answers(object, required)) h = E_NOINTERFACE;
      observer = ObserverOf(object);
      // The proxy holds the object; this pointer borrows that reference.
      object->Release();
    }
    return h;
  });
  if (stream) stream->Release();  // the call never ran
  if (FAILED(hr)) return hr;
  if (!object) return E_NOINTERFACE;
  m_owner = owner;
  m_object = object;
  m_observer = observer;
  m_keep = std::move(identity);
  return S_OK;
}

HRESULT CApartmentRef::SetForOtherThread(IUnknown* p, REFIID required) {
  Reset();
  if (!p) return S_OK;
  vkr::ComPtr<IUnknown> identity;
  HRESULT hr = p->QueryInterface(IID_IUnknown, identity.PutVoid());
  if (FAILED(hr)) return hr;
  if (!identity) return E_NOINTERFACE;
  if (vkr::platform::IsProxy(identity.Get())) return E_INVALIDARG;
  vkr::platform::Apartment owner = vkr::platform::Apartment::Current();
  if (!owner) return CO_E_NOTINITIALIZED;
  if (!Answers(identity.Get(), required)) return E_NOINTERFACE;
  vkr::ComPtr<IUnknown> proxy;
  hr = vkr::platform::WrapInterface(identity.Get(), IID_IUnknown, proxy.PutVoid());
  if (FAILED(hr)) return hr;
  if (!proxy) return E_NOINTERFACE;
  m_owner = std::move(owner);
  m_object = identity.Get();  // the proxy holds the object; this pointer borrows that reference
  m_observer = ObserverOf(m_object);
  m_keep = std::move(proxy);
  return S_OK;
}

void CApartmentRef::Reset() {
  m_object = nullptr;
  m_observer = nullptr;
  m_keep = nullptr;
  m_owner = vkr::platform::Apartment();
}

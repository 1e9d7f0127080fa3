// The proxies of the DTM thread's interfaces: every call runs on the thread object's apartment;
// interface pointers inside VARIANT arguments and results are wrapped for the side that
// receives them.
#include <mutex>

#include "include/DtmThreadInterfaces.h"

namespace {

using vkr::platform::InterfaceProxy;
using vkr::platform::MarshalVariant;

// An in-argument as the owner's side may see it: interface pointers become proxies.
HRESULT MarshalIn(vkr::Variant* out, const VARIANT& in) { return MarshalVariant(out->Put(), &in); }

class DtmThreadProxy final : public InterfaceProxy<IovFdtDtmThread> {
 public:
  using InterfaceProxy::InterfaceProxy;

  HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) override {
    vkr::Variant arg;
    HRESULT hr = MarshalIn(&arg, argument);
    if (FAILED(hr)) return hr;
    return Forward([&](IovFdtDtmThread* t) -> HRESULT {
      vkr::Variant r;
      HRESULT h = t->Execute(job, arg, result ? r.Ptr() : nullptr);
      if (result) {
        const HRESULT m = MarshalVariant(result, r.Ptr());
        if (SUCCEEDED(h) && FAILED(m)) h = m;
      }
      return h;
    });
  }
  HRESULT Run() override {
    return Forward([&](IovFdtDtmThread* t) { return t->Run(); });
  }
  HRESULT SetUpdateRate(VARIANT milliseconds) override {
    vkr::Variant ms;
    HRESULT hr = MarshalIn(&ms, milliseconds);
    if (FAILED(hr)) return hr;
    return Forward([&](IovFdtDtmThread* t) { return t->SetUpdateRate(ms); });
  }
  HRESULT ExecuteAsync(VARIANT job, VARIANT argument) override {
    vkr::Variant arg;
    HRESULT hr = MarshalIn(&arg, argument);
    if (FAILED(hr)) return hr;
    return Forward([&](IovFdtDtmThread* t) { return t->ExecuteAsync(job, arg); });
  }
  HRESULT OnThreadEvent(VARIANT job, VARIANT argument, BOOL* handled) override {
    vkr::Variant arg;
    HRESULT hr = MarshalIn(&arg, argument);
    if (FAILED(hr)) return hr;
    return Forward([&](IovFdtDtmThread* t) { return t->OnThreadEvent(job, arg, handled); });
  }
  HRESULT ProcessDownloadRequest(BSTR invokeId, BSTR parameters) override {
    return Forward([&](IovFdtDtmThread* t) { return t->ProcessDownloadRequest(invokeId, parameters); });
  }
  HRESULT ProcessUploadRequest(BSTR invokeId, BSTR parameters) override {
    return Forward([&](IovFdtDtmThread* t) { return t->ProcessUploadRequest(invokeId, parameters); });
  }
  HRESULT GoOnline() override {
    return Forward([&](IovFdtDtmThread* t) { return t->GoOnline(); });
  }
  HRESULT GoOffline() override {
    return Forward([&](IovFdtDtmThread* t) { return t->GoOffline(); });
  }
};

class GenericCommServiceEventsProxy final : public InterfaceProxy<IovFDTGenericCommServiceEvents> {
 public:
  using InterfaceProxy::InterfaceProxy;

  HRESULT OnGenericCommServiceEvent(VARIANT requestId, VARIANT data, VARIANT context) override {
    vkr::Variant id, d, c;
    HRESULT hr = MarshalIn(&id, requestId);
    if (SUCCEEDED(hr)) hr = MarshalIn(&d, data);
    if (SUCCEEDED(hr)) hr = MarshalIn(&c, context);
    if (FAILED(hr)) return hr;
    return Forward([&](IovFDTGenericCommServiceEvents* t) { return t->OnGenericCommServiceEvent(id, d, c); });
  }
};

std::mutex g_registrationLock;
bool g_registered = false;

}  // namespace

void RegisterDtmThreadProxies() {
  std::lock_guard lock(g_registrationLock);
  if (g_registered) return;
  vkr::platform::RegisterProxy<IovFdtDtmThread, DtmThreadProxy>();
  vkr::platform::RegisterProxy<IovFDTGenericCommServiceEvents, GenericCommServiceEventsProxy>();
  g_registered = true;
}

void UnregisterDtmThreadProxies() {
  std::lock_guard lock(g_registrationLock);
  if (!g_registered) return;
  vkr::platform::UnregisterProxy<IovFdtDtmThread, DtmThreadProxy>();
  vkr::platform::UnregisterProxy<IovFDTGenericCommServiceEvents, GenericCommServiceEventsProxy>();
  g_registered = false;
}

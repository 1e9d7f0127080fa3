// Connection points for objects that fire events (the ATL helper's counterpart).
//
// An object that fires events keeps one vkr::ConnectionPoint per event interface as a member,
// lists IConnectionPointContainer among its interfaces and answers FindConnectionPoint with
// FindConnectionPointIn. A point shares its owner's reference count (it lives inside the owner),
// holds each sink's event interface until Unadvise, and fires on a copy of the sink list, so a
// sink may unadvise itself, or another sink, from inside an event.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/ole.h"

namespace vkr {

class ConnectionPoint final : public IConnectionPoint {
 public:
  // owner: the object's container interface (its reference count is the point's).
  ConnectionPoint(IConnectionPointContainer* owner, REFIID eventIid) : m_owner(owner), m_iid(eventIid) {}
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;
  ~ConnectionPoint() = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IConnectionPoint::iid) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return m_owner->AddRef(); }
  ULONG Release() override { return m_owner->Release(); }

  HRESULT GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    *pIID = m_iid;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
    if (!ppCPC) return E_POINTER;
    *ppCPC = m_owner;
    m_owner->AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    ComPtr<IUnknown> sink;
    if (FAILED(pUnkSink->QueryInterface(m_iid, sink.PutVoid())) || !sink) return CONNECT_E_CANNOTCONNECT;
    *pdwCookie = m_nextCookie++;
    m_sinks.emplace_back(*pdwCookie, std::move(sink));
    return S_OK;
  }
  HRESULT Unadvise(DWORD dwCookie) override {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
      if (it->first == dwCookie) {
        ComPtr<IUnknown> gone = std::move(it->second);  // released after the list is consistent
        m_sinks.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT EnumConnections(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

  const IID& EventIid() const { return m_iid; }
  std::size_t SinkCount() const { return m_sinks.size(); }

  // Calls f(I*) for every sink advised when the call starts; I is the point's event interface.
  template <class I, class F>
  void Fire(F&& f) {
    std::vector<ComPtr<IUnknown>> snapshot;
    snapshot.reserve(m_sinks.size());
    for (auto& entry : m_sinks) snapshot.push_back(entry.second);
    for (auto& sink : snapshot) f(static_cast<I*>(static_cast<void*>(sink.Get())));
  }

 private:
  IConnectionPointContainer* m_owner;
  IID m_iid;
  DWORD m_nextCookie = 1;
  std::vector<std::pair<DWORD, ComPtr<IUnknown>>> m_sinks;
};

// FindConnectionPoint over the object's points.
inline HRESULT FindConnectionPointIn(std::initializer_list<ConnectionPoint*> points, REFIID riid,
                                     IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  for (ConnectionPoint* point : points) {
    if (point->EventIid() == riid) {
      point->AddRef();
      *ppCP = point;
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

}  // namespace vkr

// IUnknown and IClassFactory: the root of every interface, and the factory that creates objects.
//
// An interface is an abstract class of pure virtual methods in its Windows slot order. It names
// its id as `iid` and the interface it extends as `Base`, so the object base (object.h) can answer
// QueryInterface for the whole chain without a hand-written table.
#pragma once

#include "platform/com/guid.h"

struct IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00000000-0000-0000-C000-000000000046");
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

  // Typed QueryInterface: `unk->QueryInterface(&dtm)`.
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(Q::iid, reinterpret_cast<void**>(pp));
  }
};
using LPUNKNOWN = IUnknown*;
inline constexpr IID IID_IUnknown = IUnknown::iid;

struct IClassFactory : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00000001-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};
inline constexpr IID IID_IClassFactory = IClassFactory::iid;

namespace vkr {
// The id of an interface type, for templates (the counterpart of the Windows compiler keyword).
template <class I>
constexpr const IID& IidOf() {
  return I::iid;
}

// `IID_PPV_ARGS(&p)`: the id and the out-pointer of a typed interface pointer.
#define IID_PPV_ARGS(pp) ::vkr::IidOf<std::remove_pointer_t<std::remove_pointer_t<decltype(pp)>>>(), \
                         reinterpret_cast<void**>(pp)
}  // namespace vkr

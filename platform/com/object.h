// The object base of every COM class, the most-derived object that counts references, class
// factories and the interface smart pointer.
//
// A class lists the interfaces it implements:
//
//   class CThing : public vkr::Implements<IThing, IPersistStreamInit> { ... };
//
// and is created as a vkr::ComObject<CThing> by vkr::CreateObject. QueryInterface answers every
// listed interface and every interface each one extends (through its `Base`), IUnknown with one
// identity, and whatever the class adds by overriding QueryExtraInterface (an aggregated inner
// object, an interface of a member). A class may define FinalConstruct (its failure fails the
// creation) and FinalRelease (runs before the destructor, while the object is whole), and static
// ModuleLock/ModuleUnlock functions that count its live objects for its module.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/com/interfaces.h"

namespace vkr {

template <class I>
concept HasBaseInterface = requires { typename I::Base; };

class ObjectRoot {
 public:
  ObjectRoot(const ObjectRoot&) = delete;
  ObjectRoot& operator=(const ObjectRoot&) = delete;

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // The controlling unknown: the outer object's when aggregated, else this object's own.
  IUnknown* GetControllingUnknown() { return m_outer ? m_outer : IdentityUnknown(); }
  // The non-delegating unknown the outer object keeps for an aggregated object.
  IUnknown* GetInnerUnknown() { return &m_inner; }
  // The current reference count of this object (not of an outer one); for tests and diagnostics.
  LONG RefCount() const { return m_refs.load(); }

 protected:
  ObjectRoot() : m_inner(this) {}
  virtual ~ObjectRoot() = default;

  // Interfaces beyond the listed ones; return an AddRef'd pointer and S_OK, or E_NOINTERFACE.
  virtual HRESULT QueryExtraInterface(REFIID, void** ppv) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  // Supplied by Implements: the listed interface that answers riid, without AddRef, or null.
  virtual void* FindInterface(REFIID riid) = 0;
  virtual IUnknown* IdentityUnknown() = 0;
  // Supplied by ComObject: drops a reference and destroys the object at zero.
  virtual ULONG InnerRelease() = 0;

  ULONG InnerAddRef() { return static_cast<ULONG>(++m_refs); }
  HRESULT InnerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      // An aggregated object hands its non-delegating unknown to the outer object that asks.
      IUnknown* unk = m_outer ? static_cast<IUnknown*>(&m_inner) : IdentityUnknown();
      unk->AddRef();
      *ppv = unk;
      return S_OK;
    }
    if (void* p = FindInterface(riid)) {
      // Interfaces of an aggregated object count on the outer object, where their Release goes.
      if (m_outer)
        m_outer->AddRef();
      else
        InnerAddRef();
      *ppv = p;
      return S_OK;
    }
    return QueryExtraInterface(riid, ppv);
  }

  std::atomic<LONG> m_refs{0};
  IUnknown* m_outer = nullptr;

 private:
  struct InnerUnknown final : IUnknown {
    explicit InnerUnknown(ObjectRoot* o) : owner(o) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner->InnerQueryInterface(riid, ppv); }
    ULONG AddRef() override { return owner->InnerAddRef(); }
    ULONG Release() override { return owner->InnerRelease(); }
    ObjectRoot* owner;
  };
  InnerUnknown m_inner;

  template <class T>
  friend class ComObject;
};

namespace detail {
template <class Itf, class Self>
void* MatchInterface(Self* self, REFIID riid) {
  if (riid == Itf::iid) return static_cast<Itf*>(self);
  if constexpr (HasBaseInterface<Itf>) {
    using B = typename Itf::Base;
    if constexpr (!std::is_same_v<B, IUnknown>) return MatchInterface<B>(static_cast<Itf*>(self), riid);
  }
  return nullptr;
}
template <class First, class...>
struct FirstOf {
  using type = First;
};
}  // namespace detail

template <class... Itfs>
class Implements : public ObjectRoot, public Itfs... {
 public:
  // One declaration for all the interfaces, so the class can call them without naming a base;
  // ComObject implements them.
  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(Q::iid, reinterpret_cast<void**>(pp));
  }

 protected:
  void* FindInterface(REFIID riid) override {
    void* found = nullptr;
    ((found = found ? found : detail::MatchInterface<Itfs>(this, riid)), ...);
    return found;
  }
  IUnknown* IdentityUnknown() override {
    return static_cast<typename detail::FirstOf<Itfs...>::type*>(this);
  }
};

// The object as created: implements IUnknown for every interface of T, delegating to the outer
// object when aggregated.
template <class T>
class ComObject final : public T {
 public:
  template <class... Args>
  explicit ComObject(IUnknown* outer, Args&&... args) : T(std::forward<Args>(args)...) {
    this->m_outer = outer;
    if constexpr (requires { T::ModuleLock(); }) T::ModuleLock();
  }
  ~ComObject() override {
    if constexpr (requires { T::ModuleUnlock(); }) T::ModuleUnlock();
  }

  // Constructs the object and runs FinalConstruct; on success *out holds one reference of the
  // object's own count (not the outer's), on failure the object is gone.
  template <class... Args>
  static HRESULT Create(IUnknown* outer, ComObject** out, Args&&... args) {
    *out = nullptr;
    auto* obj = new (std::nothrow) ComObject(outer, std::forward<Args>(args)...);
    if (!obj) return E_OUTOFMEMORY;
    // The reference is held while FinalConstruct runs, so a QueryInterface/Release pair inside it
    // does not destroy the object.
    obj->InnerAddRef();
    HRESULT hr = obj->FinalConstruct();
    if (FAILED(hr)) {
      obj->InnerRelease();
      return hr;
    }
    *out = obj;
    return hr;
  }
  // Non-delegating access for the creation helpers.
  HRESULT QueryOwn(REFIID riid, void** ppv) { return this->InnerQueryInterface(riid, ppv); }
  ULONG ReleaseOwn() { return InnerRelease(); }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (this->m_outer) return this->m_outer->QueryInterface(riid, ppv);
    return this->InnerQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return this->m_outer ? this->m_outer->AddRef() : this->InnerAddRef(); }
  ULONG Release() override { return this->m_outer ? this->m_outer->Release() : InnerRelease(); }

 protected:
  ULONG InnerRelease() override {
    LONG left = --this->m_refs;
    if (left == 0) {
      // Guard against a FinalRelease that takes and drops a reference to itself.
      this->m_refs = 1;
      this->FinalRelease();
      delete this;
    }
    return static_cast<ULONG>(left);
  }
};

// Creates a T as its own object and hands out riid. With an outer unknown the object is aggregated
// and riid must be IID_IUnknown (CLASS_E_NOAGGREGATION otherwise, and for classes that set
// `static constexpr bool kAggregatable = false`).
template <class T, class... Args>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) {
    if constexpr (requires { T::kAggregatable; }) {
      if (!T::kAggregatable) return CLASS_E_NOAGGREGATION;
    }
    if (riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  }
  ComObject<T>* obj = nullptr;
  HRESULT hr = ComObject<T>::Create(outer, &obj, std::forward<Args>(args)...);
  if (FAILED(hr)) return hr;
  hr = obj->QueryOwn(riid, ppv);
  obj->ReleaseOwn();
  return hr;
}

// The smart pointer for interfaces: owns one reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : m_p(p) {  // NOLINT: implicit from a raw pointer, as the Windows helpers do
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  operator T*() const { return m_p; }

  // Releases the held pointer and gives the address to fill through an out-parameter.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  // Takes over a reference without AddRef.
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  // Gives up the reference without Release.
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }

  // Hands out an AddRef'd copy through an out-parameter.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = m_p;
    if (m_p) m_p->AddRef();
    return S_OK;
  }
  // QueryInterface into another smart pointer.
  template <class Q>
  HRESULT As(ComPtr<Q>* out) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(Q::iid, out->PutVoid());
  }
  HRESULT As(REFIID riid, void** out) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(riid, out);
  }

  // COM identity: two pointers name the same object when their IUnknowns are equal.
  template <class Q>
  bool IsSameObject(Q* other) const {
    if (!m_p || !other) return static_cast<void*>(m_p) == static_cast<void*>(other);
    ComPtr<IUnknown> a, b;
    m_p->QueryInterface(IID_IUnknown, a.PutVoid());
    other->QueryInterface(IID_IUnknown, b.PutVoid());
    return a.Get() == b.Get();
  }

 private:
  T* m_p = nullptr;
};

// Creates a T and returns a smart pointer to it (one reference).
template <class T, class... Args>
HRESULT MakeObject(ComPtr<ComObject<T>>* out, Args&&... args) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComObject<T>* obj = nullptr;
  HRESULT hr = ComObject<T>::Create(nullptr, &obj, std::forward<Args>(args)...);
  if (SUCCEEDED(hr)) out->Attach(obj);
  return hr;
}

// A class factory for T, with the server-lock count of T's module when T counts one.
template <class T>
class ClassFactory : public Implements<IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return CreateObject<T>(outer, riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if constexpr (requires { T::ModuleLock(); T::ModuleUnlock(); }) {
      if (lock)
        T::ModuleLock();
      else
        T::ModuleUnlock();
    }
    return S_OK;
  }
};

}  // namespace vkr

// The object base: reference counts, QueryInterface identity rules, construction hooks,
// aggregation and class factories.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

struct IAnimal : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("6F0C4A10-0000-4000-8000-000000000001");
  using Base = IUnknown;
  virtual int Legs() = 0;
};
struct IDog : IAnimal {
  static constexpr IID iid = vkr::MakeGuid("6F0C4A10-0000-4000-8000-000000000002");
  using Base = IAnimal;
  virtual int Bark() = 0;
};
struct IPet : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("6F0C4A10-0000-4000-8000-000000000003");
  using Base = IUnknown;
  virtual int Name() = 0;
};

int g_finalReleases = 0;
int g_liveObjects = 0;

class Dog : public vkr::Implements<IDog, IPet> {
 public:
  explicit Dog(HRESULT constructResult = S_OK) : m_constructResult(constructResult) {}
  HRESULT FinalConstruct() {
    // Taking and dropping a reference here must not destroy the object.
    vkr::ComPtr<IPet> self;
    QueryInterface(IPet::iid, self.PutVoid());
    return m_constructResult;
  }
  void FinalRelease() { ++g_finalReleases; }
  static void ModuleLock() { ++g_liveObjects; }
  static void ModuleUnlock() { --g_liveObjects; }
  int Legs() override { return 4; }
  int Bark() override { return 1; }
  int Name() override { return 42; }

 private:
  HRESULT m_constructResult;
};

TEST(Object, QueryInterfaceFollowsTheIdentityRules) {
  vkr::ComPtr<IDog> dog;
  ASSERT_EQ(vkr::CreateObject<Dog>(nullptr, IDog::iid, dog.PutVoid()), S_OK);
  vkr::ComPtr<IAnimal> animal;
  vkr::ComPtr<IPet> pet;
  vkr::ComPtr<IUnknown> u1, u2, u3;
  ASSERT_EQ(dog.As(&animal), S_OK);  // base interface through the chain
  ASSERT_EQ(animal.As(&pet), S_OK);  // symmetric across interfaces
  ASSERT_EQ(dog.As(&u1), S_OK);
  ASSERT_EQ(pet.As(&u2), S_OK);
  ASSERT_EQ(animal.As(&u3), S_OK);
  EXPECT_EQ(u1.Get(), u2.Get());
  EXPECT_EQ(u2.Get(), u3.Get());
  vkr::ComPtr<IDog> again;
  ASSERT_EQ(pet.As(&again), S_OK);  // transitive
  EXPECT_EQ(again.Get(), dog.Get());
  EXPECT_TRUE(pet.IsSameObject(dog.Get()));
  EXPECT_EQ(pet->Name(), 42);

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(dog->QueryInterface(IID_IStream, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(dog->QueryInterface(IDog::iid, nullptr), E_POINTER);
}

TEST(Object, ReferencesCountAndTheLastReleaseDestroys) {
  g_finalReleases = 0;
  IDog* raw = nullptr;
  ASSERT_EQ(vkr::CreateObject<Dog>(nullptr, IDog::iid, reinterpret_cast<void**>(&raw)), S_OK);
  EXPECT_EQ(g_liveObjects, 1);
  EXPECT_EQ(raw->AddRef(), 2u);
  IPet* pet = nullptr;
  raw->QueryInterface(&pet);
  EXPECT_EQ(pet->Release(), 2u);
  EXPECT_EQ(raw->Release(), 1u);
  EXPECT_EQ(g_finalReleases, 0);
  EXPECT_EQ(raw->Release(), 0u);
  EXPECT_EQ(g_finalReleases, 1);
  EXPECT_EQ(g_liveObjects, 0);
}

TEST(Object, FailedFinalConstructDestroysTheObject) {
  g_finalReleases = 0;
  IDog* raw = reinterpret_cast<IDog*>(1);
  EXPECT_EQ(vkr::CreateObject<Dog>(nullptr, IDog::iid, reinterpret_cast<void**>(&raw), E_ACCESSDENIED), E_ACCESSDENIED);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(g_liveObjects, 0);
  EXPECT_EQ(g_finalReleases, 1);
  vkr::ComPtr<vkr::ComObject<Dog>> made;
  EXPECT_EQ(vkr::MakeObject<Dog>(&made, E_FAIL), E_FAIL);
  EXPECT_FALSE(made);
  ASSERT_EQ(vkr::MakeObject<Dog>(&made), S_OK);
  EXPECT_EQ(made->RefCount(), 1);
}

// An outer object that aggregates a Dog and exposes its interfaces as its own.
struct IOwner : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("6F0C4A10-0000-4000-8000-000000000004");
  using Base = IUnknown;
  virtual int Own() = 0;
};
class Owner : public vkr::Implements<IOwner> {
 public:
  HRESULT FinalConstruct() {
    return vkr::CreateObject<Dog>(GetControllingUnknown(), IID_IUnknown, m_inner.PutVoid());
  }
  int Own() override { return 7; }

 protected:
  // The inner object is still being made while its own FinalConstruct asks through the outer one.
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (!m_inner) return vkr::ObjectRoot::QueryExtraInterface(riid, ppv);
    return m_inner->QueryInterface(riid, ppv);
  }

 private:
  vkr::ComPtr<IUnknown> m_inner;
};

TEST(Object, AggregatedObjectsShareTheOuterIdentity) {
  g_finalReleases = 0;
  vkr::ComPtr<IOwner> owner;
  ASSERT_EQ(vkr::CreateObject<Owner>(nullptr, IOwner::iid, owner.PutVoid()), S_OK);
  vkr::ComPtr<IDog> dog;
  ASSERT_EQ(owner.As(&dog), S_OK);
  EXPECT_EQ(dog->Bark(), 1);
  // From the inner object's interface back to the outer one, and the same IUnknown either way.
  vkr::ComPtr<IOwner> back;
  ASSERT_EQ(dog.As(&back), S_OK);
  EXPECT_EQ(back.Get(), owner.Get());
  EXPECT_TRUE(dog.IsSameObject(owner.Get()));
  dog = nullptr;
  back = nullptr;
  owner = nullptr;
  EXPECT_EQ(g_finalReleases, 1);  // the inner object went with the outer one
  EXPECT_EQ(g_liveObjects, 0);
}

TEST(Object, FactoryRefusesAggregationForAnythingButIUnknown) {
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(vkr::CreateObject<vkr::ClassFactory<Dog>>(nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
  vkr::ComPtr<IOwner> outer;
  ASSERT_EQ(vkr::CreateObject<Owner>(nullptr, IOwner::iid, outer.PutVoid()), S_OK);
  void* p = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IDog::iid, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  vkr::ComPtr<IDog> dog;
  ASSERT_EQ(factory->CreateInstance(nullptr, IDog::iid, dog.PutVoid()), S_OK);
  EXPECT_EQ(dog->Legs(), 4);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
}

TEST(ComPtr, OwnsExactlyOneReference) {
  vkr::ComPtr<vkr::ComObject<Dog>> dog;
  ASSERT_EQ(vkr::MakeObject<Dog>(&dog), S_OK);
  {
    vkr::ComPtr<IDog> a(dog.Get());
    vkr::ComPtr<IDog> b = a;
    vkr::ComPtr<IDog> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(dog->RefCount(), 3);
    IDog* out = nullptr;
    c.CopyTo(&out);
    EXPECT_EQ(dog->RefCount(), 4);
    out->Release();
    IDog* detached = c.Detach();
    EXPECT_EQ(dog->RefCount(), 3);
    c.Attach(detached);
  }
  EXPECT_EQ(dog->RefCount(), 1);
}

}  // namespace

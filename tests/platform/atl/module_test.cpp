// The module object: class objects from two maps, cached factories, the lock count, registration
// order and its first failure, categories and the type library.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/registry_view.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::KeyExists;
using vkr::test::ScopedRegistry;
using vkr::test::SubkeyNames;
using vkr::test::ValueText;

struct IProbe : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("6A0F49C2-9E43-4C38-8E58-0B1D2C3E4F50");
  using Base = IUnknown;
  virtual int Which() = 0;
};

vkr::ComModule* g_testModule = nullptr;
std::vector<std::string> g_journal;

template <int N>
class Probe : public vkr::Implements<IProbe> {
 public:
  int Which() override { return N; }
  static void ModuleLock() { g_testModule->Lock(); }
  static void ModuleUnlock() { g_testModule->Unlock(); }
};

constexpr CLSID kFirst = vkr::MakeGuid("00000000-0000-0000-0000-0000000000A1");
constexpr CLSID kSecond = vkr::MakeGuid("00000000-0000-0000-0000-0000000000A2");
constexpr CLSID kAuto = vkr::MakeGuid("00000000-0000-0000-0000-0000000000B1");
constexpr CLSID kUnknown = vkr::MakeGuid("00000000-0000-0000-0000-0000000000C1");
constexpr GUID kLibId = vkr::MakeGuid("00000000-0000-0000-0000-0000000000D1");
constexpr vkr::CATID kCat1 = vkr::MakeGuid("00000000-0000-0000-0000-0000000000E1");
constexpr vkr::CATID kCat2 = vkr::MakeGuid("00000000-0000-0000-0000-0000000000E2");

int g_factoriesMade = 0;
HRESULT MakeFactory(vkr::InstanceCreator create, REFIID riid, void** ppv) {
  ++g_factoriesMade;
  return vkr::CreateCachedClassFactory(g_testModule, create, riid, ppv);
}
template <int N>
HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<Probe<N>>(outer, riid, ppv);
}

HRESULT g_failUpdate = S_OK;
template <int N>
HRESULT Update(BOOL reg) {
  g_journal.push_back((reg ? "register " : "unregister ") + std::to_string(N));
  if (N == 2 && FAILED(g_failUpdate)) return g_failUpdate;
  const std::string key = "Probe" + std::to_string(N);
  if (reg) {
    HKEY h = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\{00000000-0000-0000-0000-0000000000A" + std::to_string(N) + "}").c_str(),
                    0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    RegCloseKey(h);
  }
  return S_OK;
}
const vkr::CategoryMapEntry kCategories[] = {
    {vkr::kCategoryImplemented, &kCat1}, {vkr::kCategoryImplemented, &kCat2}, {0, nullptr}};
const vkr::CategoryMapEntry* Categories() { return kCategories; }
template <int N>
void Main(bool starting) {
  g_journal.push_back((starting ? "start " : "stop ") + std::to_string(N));
}

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    g_testModule = &module;
    g_journal.clear();
    g_factoriesMade = 0;
    g_failUpdate = S_OK;
    module.Init(map, autoMap, vkr::platform::ModuleFromAddress(&g_testModule), &kLibId);
    module.SetTypeLibDescription(u"Probe 1.0 Type Library", 1, 0);
  }
  void TearDown() override { module.Term(); }

  vkr::ComModule module;
  vkr::ObjectMapEntry map[3] = {
      {&kFirst, Update<1>, MakeFactory, Create<1>, nullptr, 0, nullptr, nullptr, Main<1>},
      {&kSecond, Update<2>, MakeFactory, Create<2>, nullptr, 0, nullptr, Categories, Main<2>},
      {},
  };
  vkr::ObjectMapEntry autoEntry{&kAuto, Update<3>, MakeFactory, Create<3>, nullptr, 0, nullptr, nullptr, Main<3>};
  vkr::ObjectMapEntry* autoMap[2] = {&autoEntry, nullptr};
};

TEST_F(ModuleTest, InitAndTermRunObjectMainOfBothMaps) {
  EXPECT_EQ(g_journal, (std::vector<std::string>{"start 1", "start 2", "start 3"}));
  g_journal.clear();
  module.Term();
  EXPECT_EQ(g_journal, (std::vector<std::string>{"stop 1", "stop 2", "stop 3"}));
  module.Init(map, autoMap, nullptr, &kLibId);
}

TEST_F(ModuleTest, ClassObjectsComeFromBothMapsAndAreCached) {
  vkr::ComPtr<IClassFactory> a, again, b;
  ASSERT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, a.PutVoid()), S_OK);
  ASSERT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, again.PutVoid()), S_OK);
  EXPECT_EQ(a.Get(), again.Get());
  EXPECT_EQ(g_factoriesMade, 1);
  // The second map answers what the first does not know.
  ASSERT_EQ(module.GetClassObject(kAuto, IID_IClassFactory, b.PutVoid()), S_OK);
  vkr::ComPtr<IProbe> probe;
  ASSERT_EQ(b->CreateInstance(nullptr, IProbe::iid, probe.PutVoid()), S_OK);
  EXPECT_EQ(probe->Which(), 3);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(module.GetClassObject(kUnknown, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(module.GetClassObject(kFirst, IProbe::iid, &p), E_NOINTERFACE);
  EXPECT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ModuleTest, ConcurrentFirstCallsMakeOneFactory) {
  std::vector<std::thread> threads;
  std::vector<IUnknown*> got(8, nullptr);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { module.GetClassObject(kSecond, IID_IUnknown, reinterpret_cast<void**>(&got[i])); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(g_factoriesMade, 1);
  for (IUnknown* u : got) {
    EXPECT_EQ(u, got[0]);
    if (u) u->Release();
  }
}

TEST_F(ModuleTest, TheLockCountsObjectsHeldFactoriesAndServerLocks) {
  EXPECT_EQ(module.GetLockCount(), 0);
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(module.GetLockCount(), 1);  // the client's reference, not the cache's
  vkr::ComPtr<IProbe> probe;
  ASSERT_EQ(factory->CreateInstance(nullptr, IProbe::iid, probe.PutVoid()), S_OK);
  EXPECT_EQ(module.GetLockCount(), 2);
  factory->LockServer(TRUE);
  factory = nullptr;
  EXPECT_EQ(module.GetLockCount(), 2);
  probe = nullptr;
  EXPECT_EQ(module.GetLockCount(), 1);
  ASSERT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(FALSE);
  factory = nullptr;
  EXPECT_EQ(module.GetLockCount(), 0);
}

TEST_F(ModuleTest, RegistersInMapOrderWithCategoriesAndTheTypeLibrary) {
  ScopedRegistry registry;
  g_journal.clear();
  ASSERT_EQ(module.RegisterServer(TRUE), S_OK);
  EXPECT_EQ(g_journal, (std::vector<std::string>{"register 1", "register 2", "register 3"}));
  const std::string second = "CLSID\\{00000000-0000-0000-0000-0000000000A2}";
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, second + "\\Implemented Categories"),
            (std::vector<std::string>{"{00000000-0000-0000-0000-0000000000E1}",
                                      "{00000000-0000-0000-0000-0000000000E2}"}));
  const std::string lib = "TypeLib\\{00000000-0000-0000-0000-0000000000D1}\\1.0";
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, lib), "Probe 1.0 Type Library");
  EXPECT_NE(ValueText(HKEY_CLASSES_ROOT, lib + "\\0\\win32"), "<missing>");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, lib + "\\FLAGS"), "0");

  g_journal.clear();
  ASSERT_EQ(module.UnregisterServer(TRUE), S_OK);
  EXPECT_EQ(g_journal, (std::vector<std::string>{"unregister 1", "unregister 2", "unregister 3"}));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, second + "\\Implemented Categories"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{00000000-0000-0000-0000-0000000000D1}"));
  // Removing categories that are not there is no error.
  EXPECT_EQ(vkr::RegisterClassCategories(kSecond, kCategories, FALSE), S_OK);
}

TEST_F(ModuleTest, TheFirstRegistrationFailureStopsAndIsReturned) {
  ScopedRegistry registry;
  g_journal.clear();
  g_failUpdate = E_ACCESSDENIED;
  EXPECT_EQ(module.RegisterServer(TRUE), E_ACCESSDENIED);
  EXPECT_EQ(g_journal, (std::vector<std::string>{"register 1", "register 2"}));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-0000000000A2}\\Implemented Categories"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{00000000-0000-0000-0000-0000000000D1}"));
  g_journal.clear();
  EXPECT_EQ(module.UnregisterServer(TRUE), E_ACCESSDENIED);
  EXPECT_EQ(g_journal, (std::vector<std::string>{"unregister 1", "unregister 2"}));
}

TEST(ModuleWithoutInit, RefusesItsServices) {
  vkr::ComModule module;
  void* p = nullptr;
  EXPECT_EQ(module.GetClassObject(kFirst, IID_IClassFactory, &p), E_UNEXPECTED);
  EXPECT_EQ(module.RegisterServer(TRUE), E_UNEXPECTED);
  EXPECT_EQ(module.UnregisterServer(TRUE), E_UNEXPECTED);
}

}  // namespace

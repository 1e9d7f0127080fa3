// Apartment bookkeeping and class creation through registered class objects.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

struct IGreeter : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("0B7E2F10-0000-4000-8000-0000000000A1");
  using Base = IUnknown;
  virtual int Greet() = 0;
};
constexpr CLSID kGreeterClass = vkr::MakeGuid("0B7E2F10-0000-4000-8000-0000000000C1");

class Greeter : public vkr::Implements<IGreeter> {
 public:
  int Greet() override { return 5; }
};

class ComThread : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

TEST(ComInit, CountsNestedCallsAndRefusesTheOtherModel) {
  EXPECT_FALSE(vkr::platform::IsComInitialized());
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(kGreeterClass, nullptr, CLSCTX_ALL, IGreeter::iid, &p), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  EXPECT_TRUE(vkr::platform::IsComInitialized());
  CoUninitialize();
  EXPECT_FALSE(vkr::platform::IsComInitialized());
}

TEST_F(ComThread, RegisteredClassesAreCreatedUntilRevoked) {
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(vkr::CreateObject<vkr::ClassFactory<Greeter>>(nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kGreeterClass, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  vkr::ComPtr<IGreeter> g;
  ASSERT_EQ(CoCreateInstance(kGreeterClass, nullptr, CLSCTX_ALL, IGreeter::iid, g.PutVoid()), S_OK);
  EXPECT_EQ(g->Greet(), 5);
  // Aggregation asks for IUnknown or nothing.
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(kGreeterClass, g.Get(), CLSCTX_ALL, IGreeter::iid, &p), E_INVALIDARG);
  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(kGreeterClass, nullptr, CLSCTX_ALL, IGreeter::iid, g.PutVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(g);
}

TEST_F(ComThread, UnknownClassesAndProgIdsAreNotFound) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(vkr::MakeGuid("0B7E2F10-0000-4000-8000-0000000000FF"), nullptr, CLSCTX_ALL, IID_IUnknown, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(kGreeterClass, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  CLSID c;
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &c), CO_E_CLASSSTRING);
  LPOLESTR name = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(kGreeterClass, &name), REGDB_E_CLASSNOTREG);
}

}  // namespace

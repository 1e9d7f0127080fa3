// The communication client end to end: the module's connection class, the stand-in frame's HART
// channel and the simulated transmitter behind it. Online through the client, a direct read
// routed by the parameter's address, offline again, and the channel given back.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;


TEST(CommunicationClientWithFrame, GoesOnlineReadsAndGoesOfflineThroughTheFramesChannel) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    vkr::ComPtr<vkr::ComObject<CommDtm>> dtm;
    ASSERT_EQ(vkr::MakeObject<CommDtm>(&dtm), S_OK);
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameChannel>(&channel), S_OK);
    channel->devices.push_back(std::make_shared<vkr::frame::SimulatedDevice>());
    IovFdtCommunicationClient4* client = dtm.Get();
    ASSERT_EQ(client->SetCommunication(channel.Get()), S_OK);

    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();
    EXPECT_EQ(channel->ConnectionCount(), 1u);

    // The PV: a HART parameter, so the HART connection serves it.
    vkr::Variant value;
    ASSERT_EQ(dtm->ReadParameterDirect(vkr::UI4(1049), value.Put()), S_OK);
    EXPECT_EQ(value.vt, VT_R4);
    EXPECT_EQ(value.fltVal, 2.5f) << "the simulated transmitter's PV";

    dtm->ForceState(dsGOINGOFFLINE);
    ASSERT_EQ(dtm->GoOffline(&done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsCOMMUNICATIONSET; })) << "state " << dtm->State();
    EXPECT_EQ(dtm->ConnectionStates(), "");  // the disconnected connection is gone
    EXPECT_EQ(channel->ConnectionCount(), 0u);
    EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();

    ASSERT_EQ(client->SetCommunication(nullptr), S_OK);
    EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
    dtm = nullptr;
    CoRevokeClassObject(cookie);
  }
  DrainQueue();
  CoUninitialize();
}

}  // namespace

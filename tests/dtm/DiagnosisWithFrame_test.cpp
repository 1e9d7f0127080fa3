// The device status and the comparison against the simulated transmitter behind the stand-in
// frame's HART channel: every read goes through the communication client and the connection.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "tests/dtm/CommClientFakes.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;

class DiagnosisDtm : public CommDtm {
 public:
  HRESULT CompareAll(BSTR* error, VARIANT_BOOL* equal) { return CompareAllParameters(error, equal); }
};

TEST(DiagnosisWithFrame, ReadsTheTransmitterForStatusAndComparison) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    vkr::ComPtr<vkr::ComObject<DiagnosisDtm>> dtm;
    ASSERT_EQ(vkr::MakeObject<DiagnosisDtm>(&dtm), S_OK);
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameChannel>(&channel), S_OK);
    auto device = std::make_shared<vkr::frame::SimulatedDevice>();
    channel->devices.push_back(device);
    IovFdtCommunicationClient4* client = dtm.Get();
    ASSERT_EQ(client->SetCommunication(channel.Get()), S_OK);
    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();

    // The simulated transmitter does not run the self test or the reset (commands 41 and 42), so
    // reading their completion parameters fails and the status is "error".
    ULONG status = 9;
    ASSERT_EQ(dtm->InternalGetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 2u);
    // Without those two every readable parameter answers.
    vkr::ComPtr<IovFdtParameterInfo> info;
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    for (ULONG id : {1034u, 1035u}) {
      vkr::Variant flags;
      ASSERT_EQ(info->GetParameterField(UI4(id), I4(0x4000), flags.Put()), S_OK) << id;
      ASSERT_EQ(flags.vt, VT_UI4);
      ASSERT_EQ(info->SetParameterField(UI4(id), I4(0x4000), UI4(flags.ulVal & ~0x10u)), S_OK) << id;
    }
    ASSERT_EQ(dtm->InternalGetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u) << "every readable parameter answered";
    EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();

    // A fresh data set holds defaults, not what the transmitter reports: not equal, and no error.
    vkr::Bstr error;
    VARIANT_BOOL equal = VARIANT_TRUE;
    ASSERT_EQ(dtm->CompareAll(error.Put(), &equal), S_OK);
    EXPECT_EQ(error.Get(), nullptr);
    EXPECT_EQ(equal, VARIANT_FALSE);

    dtm->ForceState(dsGOINGOFFLINE);
    ASSERT_EQ(dtm->GoOffline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsCOMMUNICATIONSET; }));
    ASSERT_EQ(client->SetCommunication(nullptr), S_OK);
    dtm = nullptr;
    CoRevokeClassObject(cookie);
  }
  DrainQueue();
  CoUninitialize();
}

}  // namespace

// The device status and the comparison against the simulated transmitter behind the stand-in
// frame's HART channel: every read goes through the communication client and the connection, and
// none of them makes the transmitter act.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "parameters/TransferLists.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;

class DiagnosisDtm : public CommDtm {
 public:
  HRESULT CompareAll(BSTR* error, VARIANT_BOOL* equal) { return CompareAllParameters(error, equal); }
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  void SetCompareList(const VARIANT& key) { m_vCompareListId = vkr::Variant(key); }
  // The connected transmitter counts as the right one; its verification is tested elsewhere.
  HRESULT TryToGoOnlineAndVerifyDevice(DWORD, DWORD, VARIANT_BOOL* ok) override {
    *ok = VARIANT_TRUE;
    return S_OK;
  }
};

// The commands the transmitter received, as "3 13 41 ...".
std::string Commands(const vkr::frame::SimulatedDevice& device) {
  std::string s;
  for (const auto& r : device.received) s.append(s.empty() ? "" : " ").append(std::to_string(r.command));
  return s;
}

bool RanSelfTestOrReset(const vkr::frame::SimulatedDevice& device) {
  for (const auto& r : device.received)
    if (r.command == 41 || r.command == 42) return true;
  return false;
}

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
    std::shared_ptr<vkr::frame::SimulatedDevice> device = channel->devices.front();
    IovFdtCommunicationClient4* client = dtm.Get();
    ASSERT_EQ(client->SetCommunication(channel.Get()), S_OK);
    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();

    // Every readable parameter is read, except those read by the self test and the device reset
    // (commands 41 and 42): asking for the status must not make the transmitter act.
    ULONG status = 9;
    ASSERT_EQ(dtm->InternalGetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u) << "every parameter read answered";
    EXPECT_NE(Commands(*device).find("3"), std::string::npos) << Commands(*device);
    EXPECT_FALSE(RanSelfTestOrReset(*device)) << Commands(*device);
    EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();

    // The same through the frame's calls: the status document, and the comparison with the
    // device, also of a data set that stores the two parameters and a list that names them.
    dtm->SetUserLevel(8);
    device->received.clear();
    vkr::Bstr document;
    IDtmOnlineDiagnosis* diagnosis = dtm.Get();
    ASSERT_EQ(diagnosis->GetDeviceStatus(document.Put()), S_OK);
    EXPECT_NE(document.View().find(u"fdt:statusFlag=\"ok\""), std::u16string_view::npos)
        << vkr::Utf16ToUtf8(document.View());
    EXPECT_FALSE(device->received.empty());
    EXPECT_FALSE(RanSelfTestOrReset(*device)) << Commands(*device);

    vkr::ComPtr<IovFdtParameterInfo> info;
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    vkr::ComPtr<IovFDTParamList> lists;
    ASSERT_EQ(dtm->QueryInterface(IovFDTParamList::iid, lists.PutVoid()), S_OK);
    ASSERT_EQ(AddParameterList(lists.Get(), u"Actions", nullptr), S_OK);
    for (ULONG id : {1034u, 1035u}) {
      vkr::Variant stored;
      stored.vt = VT_BOOL;
      stored.boolVal = VARIANT_TRUE;
      ASSERT_EQ(info->SetParameterField(UI4(id), I4(0x200), stored), S_OK) << id;
      ASSERT_EQ(AddParameterListMember(lists.Get(), u"Actions", id), S_OK) << id;
    }
    for (bool byList : {false, true}) {
      vkr::Variant key;
      if (byList) {
        key.vt = VT_BSTR;
        key.bstrVal = SysAllocString(u"Actions");
      }
      dtm->SetCompareList(key);
      device->received.clear();
      ASSERT_EQ(diagnosis->Compare(document.Put()), S_OK) << byList;
      EXPECT_NE(document.View().find(u"CompareResult"), std::u16string_view::npos)
          << vkr::Utf16ToUtf8(document.View());
      EXPECT_FALSE(RanSelfTestOrReset(*device)) << byList << ": " << Commands(*device);
    }

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

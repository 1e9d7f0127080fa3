// The connection class end to end: the VKR DTM's protocol object, the stand-in frame's HART
// channel and the simulated transmitter behind it. Connect, read a parameter blocking and
// directly, run a raw command, disconnect; and the requests that get no answer end in time.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "communication/CMyConnection.h"
#include "include/DtmThreadInterfaces.h"
#include "frame/FrameChannel.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/source_tree.h"
#include "tests/support/threading.h"
#include "tests/support/stub_dispatch.h"

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
    ASSERT_EQ(vkr::MakeObject<CMyConnection>(&object), S_OK);
    ASSERT_EQ(object->QueryInterface(IovFDTConnectionObject::iid, connection.PutVoid()), S_OK);
    const std::filesystem::path schemas = vkr::test::FrameSchemas();
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
    object = nullptr;
    channel = nullptr;
    dtm = nullptr;
    vkr::test::DrainQueue();
    CoUninitialize();
  }

  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
  vkr::ComPtr<vkr::ComObject<CMyConnection>> object;
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

// The generic service's client: told when a queued request has ended.
class QueueClient : public vkr::Implements<IovFDTGenericCommServiceEvents> {
 public:
  int finished = 0;
  VKR_NO_DISPATCH
  HRESULT OnGenericCommServiceEvent(VARIANT, VARIANT, VARIANT) override {
    ++finished;
    return S_OK;
  }
};

// The HART services' blocking connect and disconnect and the generic queue, which a user
// interface or the DTM thread waits on, end after their time-out (5000 ms on the fake clock) when
// the frame's answer never comes, comes for another request or comes too late; afterwards the
// connection works again.
TEST_F(ConnectionWithFrame, UnansweredServicesAndQueuedRequestsEndAfterTheirTimeOut) {
  using FaultKind = vkr::frame::FrameChannel::FaultKind;
  constexpr DWORD kTimeout = 5000;
  struct Row {
    const char* name;
    FaultKind kind;
    DWORD delay;
  } const rows[] = {
      {"no answer", FaultKind::NoAnswer, 0},
      {"wrong invoke id", FaultKind::WrongInvokeId, 0},
      {"late", FaultKind::None, kTimeout + 2000},
  };
  vkr::test::FakeTickCount clock;
  vkr::test::FakeClockDriver driver;
  dtm->ForceState(dsONLINE);
  vkr::ComPtr<vkr::ComObject<QueueClient>> client;
  ASSERT_EQ(vkr::MakeObject<QueueClient>(&client), S_OK);
  vkr::ComPtr<IovFDTGenericCommService2> queue;
  ASSERT_EQ(connection->QueryInterface(IovFDTGenericCommService2::iid, queue.PutVoid()), S_OK);
  vkr::ComPtr<IovFDTGenericCommService> service;
  ASSERT_EQ(connection->QueryInterface(IovFDTGenericCommService::iid, service.PutVoid()), S_OK);
  auto online = [&] {
    vkr::Bstr id, protocol;
    VARIANT_BOOL on = VARIANT_FALSE;
    connection->GetConnectionIds(id.Put(), protocol.Put(), &on);
    return on == VARIANT_TRUE;
  };
  auto pass = [&](DWORD ms) {
    const DWORD start = GetTickCount();
    vkr::test::PumpUntil([&] { return GetTickCount() - start >= ms; }, 30000);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    vkr::frame::FrameChannel::Fault fault;
    fault.kind = row.kind;
    fault.delayMs = row.delay;

    // Connect: the caller gets its error text instead of waiting for ever.
    channel->faults.push_back(fault);
    vkr::Bstr error;
    DWORD start = GetTickCount();
    EXPECT_EQ(hart->Connect(0, error.Put()), S_FALSE);
    EXPECT_GE(GetTickCount() - start, kTimeout);
    EXPECT_EQ(Narrow(error), "0x80004004; connecting failed");
    EXPECT_FALSE(online());
    EXPECT_EQ(object->PendingRequestCount(), 0u);
    pass(kTimeout);  // a late answer finds nothing to connect
    EXPECT_FALSE(online());
    ASSERT_EQ(hart->Connect(0, error.Put()), S_OK) << Narrow(error);
    ASSERT_TRUE(online());
    const std::string reference = Narrow(object->CommunicationReference());

    // A queued background read of the upload list whose first transaction is not answered:
    // the queue goes on with the next ones and tells its client at the end.
    vkr::Variant key;
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(service->SendGenericRequestAsync(static_cast<IovFDTGenericCommServiceEvents*>(client.Get()),
                                               key.Put(), &done),
              S_OK);
    fault.command = 3;
    channel->faults.push_back(fault);
    vkr::Variant list;
    list.vt = VT_BSTR;
    list.bstrVal = SysAllocString(u"UploadList");
    const int finished = client->finished;
    start = GetTickCount();
    ASSERT_EQ(queue->SendGenericRequestEx(key, vkr::Bstr(u"cyclic"), list, &done), S_OK);
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return client->finished > finished; }, 30000))
        << "the queue stayed busy with the unanswered transaction";
    EXPECT_GE(GetTickCount() - start, kTimeout);
    EXPECT_EQ(object->GenericQueueLength(), 0u);
    EXPECT_EQ(object->PendingRequestCount(), 0u);
    ASSERT_EQ(service->CancelGenericRequest(key, &done), S_OK);
    fault.command = -1;

    // Disconnect: the error text, and the connection ends here all the same (the frame is asked
    // to abort its end).
    pass(kTimeout);
    channel->faults.push_back(fault);
    start = GetTickCount();
    EXPECT_EQ(hart->Disconnect(error.Put()), S_FALSE);
    EXPECT_GE(GetTickCount() - start, kTimeout);
    EXPECT_EQ(Narrow(error), "0x80004004; disconnecting failed");
    EXPECT_FALSE(online());
    EXPECT_EQ(channel->calls.back().method, "Abort");
    EXPECT_EQ(object->PendingRequestCount(), 0u);
    pass(kTimeout);
    // (The connects that got no answer left theirs at the frame: the DTM never learnt them.)
    for (const std::string& open : channel->References()) EXPECT_NE(open, reference) << "still open at the frame";
  }
  // The frame holds the connection as the sink of those connects: it lets go of the channel, as
  // the communication client has it do when the frame takes its channel back.
  vkr::ComPtr<IovFdtCommunicationClient4> client4;
  ASSERT_EQ(connection->QueryInterface(IovFdtCommunicationClient4::iid, client4.PutVoid()), S_OK);
  EXPECT_EQ(client4->SetCommunication(nullptr), S_OK);
}

}  // namespace

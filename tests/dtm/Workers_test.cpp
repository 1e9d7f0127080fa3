// The workers' single runs against a DTM, the thread manager without a thread, and the
// communication client's channel and protocol.
#include <gtest/gtest.h>

#include "module/CDtmThread.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;

class Workers : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeUserInterface>(&ui), S_OK);
    ui->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeContainer>(&container), S_OK);
    dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  }
  IovFdtBaseDTM* Base() { return static_cast<IovFdtBaseDTM*>(dtm.Get()); }

  Journal journal;
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
  vkr::ComPtr<vkr::ComObject<FakeContainer>> container;
};

TEST_F(Workers, AStateReachedWorkerSendsItsMessageToTheDtm) {
  CStateReachedWorker worker(UI4(64), I4(6));
  EXPECT_EQ(worker.Execute(container.Get(), Base()), S_OK);
  // Message 64 is the device verification's: it tells the user interfaces through a worker.
  EXPECT_EQ(journal.Joined(), "worker ax 64");
  // Without a DTM there is nobody to tell, and that is no error.
  EXPECT_EQ(worker.Execute(container.Get(), nullptr), S_OK);
}

TEST_F(Workers, AnActiveXMessageWorkerBroadcastsTheMessageReached) {
  CActiveXMessageWorker worker(67);
  EXPECT_EQ(worker.Execute(container.Get(), Base()), S_OK);
  EXPECT_EQ(journal.Joined(), "ui command ui4:10003 ui4:67");
  journal.Clear();
  EXPECT_EQ(worker.Execute(nullptr, Base()), E_FAIL);
  EXPECT_EQ(worker.Execute(container.Get(), nullptr), E_FAIL);
  EXPECT_TRUE(journal.entries.empty());
}

// Counts its destruction, to see that the manager takes the worker over.
class CountedWorker : public CWorker {
 public:
  static inline int destroyed = 0;
  ~CountedWorker() override { ++destroyed; }
  HRESULT Execute(IFdtContainer*, IovFdtBaseDTM*) override { return S_OK; }
};

TEST(ThreadManager, WithoutAThreadJobsFailAndWorkersAreRefused) {
  CovFDT_ThreadManagerImpl manager;
  EXPECT_EQ(manager.GetDtmThread(), nullptr);
  EXPECT_EQ(manager.ExecuteJob(12, Empty()), E_FAIL);
  CountedWorker::destroyed = 0;
  // Without the frame's container and the DTM the worker cannot run; it is deleted at once.
  EXPECT_EQ(manager.ExecuteWorkerThread(new CountedWorker), E_FAIL);
  EXPECT_EQ(CountedWorker::destroyed, 1);
  EXPECT_EQ(manager.ExecuteWorkerThread(nullptr), E_INVALIDARG);
}

TEST_F(Workers, AJobsResultIsPassedOnAndItsResultVariantCleared) {
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
  thread->journal = &journal;
  thread->jobResult = E_ABORT;
  dtm->SetThread(thread.Get());
  EXPECT_EQ(dtm->ExecuteJob(5, I4(1)), E_ABORT);
  EXPECT_EQ(journal.Joined(), "job 5 i4:1");
}

TEST_F(Workers, TheCommunicationClientKeepsTheChannelAndChoosesItsProtocol) {
  EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
  EXPECT_NE(dtm->InitializeCurrentProtocol(), S_FALSE);  // a protocol is registered
  vkr::ComPtr<vkr::ComObject<FakeChannel>> channel;
  ASSERT_EQ(vkr::MakeObject<FakeChannel>(&channel), S_OK);
  vkr::ComPtr<IovFdtCommunicationClient4> client;
  ASSERT_EQ(dtm->QueryInterface(IovFdtCommunicationClient4::iid, client.PutVoid()), S_OK);
  const LONG before = channel->RefCount();
  EXPECT_EQ(client->SetCommunication(channel.Get()), S_OK);
  EXPECT_EQ(channel->RefCount(), before + 1);
  EXPECT_NE(dtm->GetCurrentProtocol(), nullptr);
  EXPECT_EQ(vkr::Utf16ToUtf8(dtm->GetCurrentProtocol()->GetProtocolId()), "036D1498-387B-11D4-86E1-00E0987270B9");
  EXPECT_EQ(client->SetCommunication(nullptr), S_OK);
  EXPECT_EQ(channel->RefCount(), before);
  // Dropping the channel detaches the protocol; the next channel chooses again.
  EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
  EXPECT_FALSE(dtm->AreProtocolsAttached());
  // Without a connection there is nobody to read from.
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(client->ReadParameter(UI4(1), &done), E_UNEXPECTED);
  EXPECT_EQ(done, VARIANT_FALSE);
}

// The DTM as a frame has it, its workers on their own threads; it records the state-reached
// messages in the order they arrive.
class OrderDtm : public TestDtm {
 public:
  std::vector<ULONG> reached;
  HRESULT ExecuteWorkerThread(CWorker* worker) override { return CovFDT_ThreadManagerImpl::ExecuteWorkerThread(worker); }
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override {
    if (id.vt == VT_UI4 && id.ulVal >= 64 && id.ulVal <= 68) reached.push_back(id.ulVal);
    return TestDtm::DtmMessage(id, argument);
  }
};

std::string Sequence(const std::vector<ULONG>& ids, std::size_t from) {
  std::string s;
  for (std::size_t i = from; i < ids.size(); ++i) s += std::to_string(ids[i]) + " ";
  return s;
}

// Released and set again in quick succession, the communication's state messages (65 on
// reaching 8, 66 on reaching 9) reach the DTM, and their broadcasts the user interfaces, in the
// order the states were reached: 65 after 66 would reset a verification that runs.
TEST(StateMessages, ArriveInTheOrderTheStatesWereReached) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CDtmThread>>> factory;
    ASSERT_EQ(vkr::MakeObject(&factory), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_DtmThread, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    Journal journal;
    vkr::ComPtr<vkr::ComObject<OrderDtm>> dtm;
    vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
    vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
    vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
    ASSERT_EQ(vkr::MakeObject(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject(&ui), S_OK);
    ASSERT_EQ(vkr::MakeObject(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject(&channel), S_OK);
    ui->journal = &journal;
    dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
    IDtm& idtm = *dtm;
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(static_cast<IPersistStreamInit&>(*dtm).InitNew(), S_OK);
    ASSERT_EQ(idtm.Environment(vkr::Bstr(u"VKR-1"), frame.Get(), &result), S_OK);
    ASSERT_EQ(idtm.InitNew(vkr::Bstr(u"<FDT xmlns=\"x-schema:DTMDeviceTypeSchema.xml\" "
                                     u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType>"
                                     u"<fdt:VersionInformation name=\"VORN VKR HART DTM\" vendor=\"Vorntec\" "
                                     u"version=\"2.1.1\"/></fdt:DtmDeviceType></FDT>"),
                           &result),
              S_OK);
    ASSERT_EQ(idtm.Config(vkr::Bstr(u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation "
                                    u"userLevel=\"maintenance\"/></FDT>"),
                          &result),
              S_OK);
    ASSERT_EQ(idtm.SetCommunication(channel.Get(), &result), S_OK);
    ASSERT_EQ(result, VARIANT_TRUE);
    // The broadcast of each message reached (0x2713) to the open user interface.
    auto reachedBroadcasts = [&] { return journal.With("ui command ui4:10003 "); };
    // 64 initialised, 65 configured, 66 communication set.
    ASSERT_TRUE(PumpUntil([&] { return dtm->reached.size() == 3 && reachedBroadcasts().size() == 3; }))
        << Sequence(dtm->reached, 0);
    EXPECT_EQ(Sequence(dtm->reached, 0), "64 65 66 ");
    journal.Clear();

    constexpr int kPairs = 300;
    for (int i = 0; i < kPairs; ++i) {
      ASSERT_EQ(idtm.ReleaseCommunication(&result), S_OK);
      ASSERT_EQ(idtm.SetCommunication(channel.Get(), &result), S_OK);
    }
    const std::size_t expected = 3 + 2 * kPairs;
    ASSERT_TRUE(PumpUntil([&] { return dtm->reached.size() == expected && reachedBroadcasts().size() == 2 * kPairs; },
                          30000))
        << dtm->reached.size() << " messages, " << reachedBroadcasts().size() << " broadcasts";
    std::size_t outOfOrder = 0;
    for (std::size_t i = 3; i < expected; ++i)
      if (dtm->reached[i] != ((i - 3) % 2 == 0 ? 65u : 66u)) ++outOfOrder;
    EXPECT_EQ(outOfOrder, 0u) << Sequence(dtm->reached, 3);
    const std::vector<std::string> broadcasts = reachedBroadcasts();
    std::size_t broadcastsOutOfOrder = 0;
    for (std::size_t i = 0; i < broadcasts.size(); ++i)
      if (broadcasts[i] != std::string("ui command ui4:10003 ui4:") + (i % 2 == 0 ? "65" : "66")) ++broadcastsOutOfOrder;
    EXPECT_EQ(broadcastsOutOfOrder, 0u);

    dtm = nullptr;
    EXPECT_TRUE(vkr::platform::WaitForThreadsToEnd(5000));
    CoRevokeClassObject(cookie);
  }
  DrainQueue();
  CoUninitialize();
}

}  // namespace

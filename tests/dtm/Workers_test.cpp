// The workers' single runs against a DTM, the thread manager without a thread, and the
// communication client's channel and protocol.
#include <gtest/gtest.h>

#include "tests/dtm/DtmTestSupport.h"

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

}  // namespace

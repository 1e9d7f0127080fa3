// The connection object against a fake DTM, a fake frame channel and a fake protocol object:
// initialisation, answer matching, the blocking waits (answered inside the call, later from the
// waiting thread's message loop, or never), abort, going offline, the generic queue, list
// transfers and progress.
#include <gtest/gtest.h>

#include "tests/support/connection_fakes.h"
#include "tests/support/communication_helpers.h"
#include "tests/support/stub_dispatch.h"

using namespace conntest;

namespace {

constexpr char kReference[] = "REF-1";

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::ComObject<FakeDtm>::Create(nullptr, &dtm), S_OK);
    ASSERT_EQ(vkr::ComObject<FakeChannel>::Create(nullptr, &channel), S_OK);
    ASSERT_EQ(vkr::ComObject<CMyConnection>::Create(nullptr, &conn), S_OK);
    auto protocol = std::make_unique<FakeProtocol>(&calls);
    proto = protocol.get();
    conn->ReplaceProtocol(std::move(protocol));
    conn->SetTimeouts(150, 150);
    channel->target = static_cast<IFdtCommunicationEvents*>(conn);
  }
  // Safe after a SetUp that stopped early.
  void TearDown() override {
    if (channel) channel->events = nullptr;  // the channel's hold on the connection
    if (conn) conn->Release();
    if (channel) channel->Release();
    if (dtm) dtm->Release();
    CoUninitialize();
  }
  IUnknown* DtmUnknown() { return static_cast<IovFdtBaseDTM*>(dtm); }
  IUnknown* ChannelUnknown() { return static_cast<IFdtCommunication*>(channel); }

  HRESULT Init() {
    vkr::Bstr id;
    // The frame's schema directory: answers are validated as they arrive.
    vkr::Bstr schemas(vkr::Utf8ToUtf16(vkr::test::FrameSchemas().string()));
    return conn->InitConnection(vkr::Bstr(kHartProtocolId), DtmUnknown(), ChannelUnknown(), schemas, id.Put());
  }
  // Initialised and connected with reference REF-1, DTM online.
  void Online() {
    ASSERT_EQ(Init(), S_OK);
    dtm->state = dsGOINGONLINE;
    channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Now, std::string("ok:") + kReference); };
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(conn->GoOnline(&ok), S_OK);
    ASSERT_EQ(ok, VARIANT_TRUE);
    ASSERT_EQ(Narrow(conn->CommunicationReference()), kReference);
    dtm->state = dsONLINE;
    channel->responder = nullptr;
  }
  const SentRequest& Last() { return channel->sent.back(); }

  vkr::ComObject<FakeDtm>* dtm = nullptr;
  vkr::ComObject<FakeChannel>* channel = nullptr;
  vkr::ComObject<CMyConnection>* conn = nullptr;
  FakeProtocol::Calls calls;
  FakeProtocol* proto = nullptr;
};

// ---- Initialisation --------------------------------------------------------------------------

TEST_F(ConnectionTest, InitConnectionChecksItsArgumentsAndRunsOnce) {
  vkr::Bstr id;
  EXPECT_EQ(conn->InitConnection(vkr::Bstr(kHartProtocolId), nullptr, ChannelUnknown(), nullptr, id.Put()),
            E_INVALIDARG);
  EXPECT_EQ(conn->InitConnection(vkr::Bstr(kHartProtocolId), DtmUnknown(), nullptr, nullptr, id.Put()), E_INVALIDARG);
  EXPECT_EQ(conn->InitConnection(vkr::Bstr(kHartProtocolId), DtmUnknown(), ChannelUnknown(), nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(conn->InitConnection(vkr::Bstr(u"036D1498-0000-0000-0000-000000000000"), DtmUnknown(), ChannelUnknown(),
                                 nullptr, id.Put()),
            E_FAIL);
  // A channel that is no IFdtCommunication.
  EXPECT_EQ(conn->InitConnection(vkr::Bstr(kHartProtocolId), DtmUnknown(), DtmUnknown(), nullptr, id.Put()),
            E_NOINTERFACE);
  ASSERT_EQ(conn->InitConnection(vkr::Bstr(kHartProtocolId), DtmUnknown(), ChannelUnknown(), nullptr, id.Put()), S_OK);
  EXPECT_EQ(id.Length(), 36u);
  EXPECT_EQ(Init(), E_UNEXPECTED);

  vkr::Bstr connectionId, protocolId;
  VARIANT_BOOL online = VARIANT_TRUE;
  ASSERT_EQ(conn->GetConnectionIds(connectionId.Put(), protocolId.Put(), &online), S_OK);
  EXPECT_EQ(connectionId.View(), id.View());
  EXPECT_EQ(protocolId.View(), std::u16string_view(kHartProtocolId));
  EXPECT_EQ(online, VARIANT_FALSE);
  EXPECT_EQ(conn->GetConnectionIds(nullptr, protocolId.Put(), &online), E_INVALIDARG);
}

TEST_F(ConnectionTest, AProtocolThatCannotAttachRefusesInitialisation) {
  proto->attach = false;
  EXPECT_EQ(Init(), E_UNEXPECTED);
}

TEST_F(ConnectionTest, VersionEventsAreOfferedOnlyForADtmWithIDtm2) {
  vkr::ComPtr<IFdtCommunicationEvents2> events2;
  EXPECT_EQ(conn->QueryInterface(IFdtCommunicationEvents2::iid, events2.PutVoid()), E_NOINTERFACE)
      << "no DTM held yet";
  ASSERT_EQ(Init(), S_OK);
  EXPECT_EQ(conn->QueryInterface(IFdtCommunicationEvents2::iid, events2.PutVoid()), S_OK);
  events2 = nullptr;
  dtm->offersDtm2 = false;
  EXPECT_EQ(conn->QueryInterface(IFdtCommunicationEvents2::iid, events2.PutVoid()), E_NOINTERFACE);
  // The other interfaces are there as usual, with one identity.
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  vkr::ComPtr<IMyConnection> own;
  EXPECT_EQ(conn->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  EXPECT_EQ(conn->QueryInterface(IMyConnection::iid, own.PutVoid()), S_OK);
}

TEST_F(ConnectionTest, ParentVersionSetsOrClearsTheFrameFlag) {
  ASSERT_EQ(Init(), S_OK);
  auto version = [](const char* major, const char* minor, const char* release) {
    return Wide(std::string("<FDT xmlns:fdtvers=\"x-schema:FDTVersionSchema.xml\"><ParentVersion>"
                            "<fdtvers:FDTVersion major=\"") +
                major + "\" minor=\"" + minor + "\" release=\"" + release + "\"/></ParentVersion></FDT>");
  };
  vkr::Bstr noId(u"x");
  vkr::Bstr response(u"ok:R");
  EXPECT_EQ(conn->OnParentVersion(noId, version("1", "2", "1"), response), S_OK);
  EXPECT_TRUE(conn->IsFrame121());
  EXPECT_EQ(conn->OnParentVersion(noId, version("1", "3", "0"), response), S_FALSE);
  EXPECT_TRUE(conn->IsFrame121()) << "another version leaves the flag";
  EXPECT_EQ(conn->OnParentVersion(noId, vkr::Bstr(u"<FDT"), response), S_FALSE);
  EXPECT_TRUE(conn->IsFrame121());
  EXPECT_EQ(conn->OnParentVersion(noId, version("1", "2", "0"), response), S_OK);
  EXPECT_FALSE(conn->IsFrame121());
  // The connect response it carried matched no request: nothing connected.
  EXPECT_TRUE(conn->CommunicationReference().Empty());
}

// ---- Connect, answers by invoke id -----------------------------------------------------------

TEST_F(ConnectionTest, GoOnlineOnlyWhileTheDtmGoesOnline) {
  ASSERT_EQ(Init(), S_OK);
  VARIANT_BOOL ok = VARIANT_TRUE;
  for (EDtmState state : {dsCOMMUNICATIONSET, dsONLINE, dsGOINGOFFLINE}) {
    dtm->state = state;
    EXPECT_EQ(conn->GoOnline(&ok), E_FAIL) << "state " << state;
  }
  EXPECT_TRUE(channel->sent.empty());
  dtm->state = dsGOINGONLINE;
  ASSERT_EQ(conn->GoOnline(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  ASSERT_EQ(channel->Count("connect"), 1u);
  EXPECT_EQ(Last().document, "<Connect/>");
  // The frame was handed the connection's own event interface.
  vkr::ComPtr<IUnknown> a, b;
  channel->events->QueryInterface(IID_IUnknown, a.PutVoid());
  conn->QueryInterface(IID_IUnknown, b.PutVoid());
  EXPECT_EQ(a.Get(), b.Get());
}

TEST_F(ConnectionTest, AnAnswerFindsItsRequestOnlyByAnExact36CharacterInvokeId) {
  ASSERT_EQ(Init(), S_OK);
  dtm->state = dsGOINGONLINE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(conn->GoOnline(&ok), S_OK);
  ASSERT_EQ(conn->PendingRequestCount(), 1u);
  const std::u16string id(channel->sent[0].invokeId.View());
  ASSERT_EQ(id.size(), 36u);
  const std::u16string lower = [&] {
    std::u16string s = id;
    for (char16_t& c : s)
      if (c >= u'A' && c <= u'F') c = static_cast<char16_t>(c - u'A' + u'a');
    return s;
  }();
  struct Case {
    const char* what;
    std::u16string invokeId;
  } cases[] = {{"35 characters", id.substr(0, 35)},
               {"37 characters", id + u"0"},
               {"other case", lower != id ? lower : u"x"},
               {"empty", u""}};
  vkr::Bstr response(u"ok:REF-9");
  for (const Case& c : cases) {
    EXPECT_EQ(conn->OnConnectResponse(vkr::Bstr(c.invokeId), response), E_FAIL) << c.what;
    EXPECT_EQ(conn->PendingRequestCount(), 1u) << c.what;
    EXPECT_TRUE(conn->CommunicationReference().Empty()) << c.what;
  }
  EXPECT_TRUE(dtm->ownerCalls.empty());
  EXPECT_EQ(conn->OnConnectResponse(vkr::Bstr(id), response), S_OK);
  EXPECT_EQ(Narrow(conn->CommunicationReference()), "REF-9");
  EXPECT_EQ(dtm->ownerCalls, std::vector<std::string>{"connected:1"});
  EXPECT_TRUE(conn->IsConnected());
  // The same answer twice finds nothing the second time.
  EXPECT_EQ(conn->OnConnectResponse(vkr::Bstr(id), response), E_FAIL);
}

TEST_F(ConnectionTest, AFrameThatRefusesAConnectLeavesNothingPending) {
  ASSERT_EQ(Init(), S_OK);
  dtm->state = dsGOINGONLINE;
  channel->accept = VARIANT_FALSE;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(conn->GoOnline(&ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
  channel->accept = VARIANT_TRUE;
  channel->callResult = E_OUTOFMEMORY;
  EXPECT_EQ(conn->GoOnline(&ok), E_OUTOFMEMORY);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

TEST_F(ConnectionTest, BlockingConnectIsWokenByItsAnswerAndByARefusedAnswer) {
  ASSERT_EQ(Init(), S_OK);
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("ok:R2")); };
  EXPECT_EQ(conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)), S_OK);
  EXPECT_EQ(Narrow(conn->CommunicationReference()), "R2");
  // A second connect while one is held is refused by the connection, but the waiter still ends.
  EXPECT_EQ(conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)), E_FAIL);
  EXPECT_EQ(Narrow(conn->CommunicationReference()), "R2");
}

TEST_F(ConnectionTest, BlockingConnectEndsWhenTheProtocolRejectsTheAnswer) {
  ASSERT_EQ(Init(), S_OK);
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("bad")); };
  EXPECT_EQ(conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)), E_FAIL);
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("no")); };
  EXPECT_EQ(conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)), E_FAIL);
  // The owner hears of both: an answer the protocol rejects is a connect that failed too.
  EXPECT_EQ(dtm->ownerCalls, (std::vector<std::string>{"connected:0", "connected:0"}));
  EXPECT_FALSE(conn->IsConnected());
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

TEST_F(ConnectionTest, ASecondBlockingConnectWhileOneWaitsIsRefused) {
  ASSERT_EQ(Init(), S_OK);
  HRESULT inner = S_OK;
  channel->responder = [&](const SentRequest&) {
    FakeChannel::Later([&] { inner = conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)); });
    return std::make_pair(AnswerMode::Later, std::string("ok:R3"));
  };
  EXPECT_EQ(conn->ConnectBlocking(vkr::Bstr(u"<C/>"), vkr::Bstr(kHartProtocolId)), S_OK);
  EXPECT_EQ(inner, E_ACCESSDENIED);
}

// ---- Blocking transactions ---------------------------------------------------------------------

TEST_F(ConnectionTest, BlockingReadIsAnsweredInsideTheCallOrLaterWhileTheThreadPumps) {
  Online();
  for (AnswerMode mode : {AnswerMode::Now, AnswerMode::Later}) {
    channel->responder = [mode](const SentRequest&) { return std::make_pair(mode, std::string("<Answer/>")); };
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(conn->ReadParameterSync(vkr::UI4(1049), &done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    EXPECT_EQ(Last().document, "<Read id='1049'/>");
    EXPECT_EQ(conn->PendingRequestCount(), 0u);
  }
  ASSERT_EQ(calls.parsed.size(), 2u);
  EXPECT_EQ(calls.distributeFlags[0], 0xFFFFu) << "a plain transaction spreads its answer";
}

TEST_F(ConnectionTest, EachBlockingTransactionReturnsItsOwnAnswersResult) {
  Online();
  // The outer read's wait runs an inner read. The outer answer (success) arrives while the inner
  // waits, the inner answer (an error) after it: each caller gets its own answer's result.
  HRESULT inner = E_PENDING;
  vkr::Bstr outerId;
  channel->onTransaction = [&](const SentRequest& r) {
    if (!outerId.Empty()) return;
    outerId = r.invokeId;
    FakeChannel::Later([&] {
      channel->onTransaction = [&](const SentRequest& innerRequest) {
        channel->Answer("transaction", outerId, "<Answer/>");
        vkr::Bstr innerId = innerRequest.invokeId;
        FakeChannel::Later([this, innerId] { channel->Answer("transaction", innerId, "<Error/>"); });
      };
      VARIANT_BOOL d = VARIANT_FALSE;
      inner = conn->ReadParameterSync(vkr::UI4(2), &d);
    });
  };
  conn->SetTimeouts(5000, 5000);
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(conn->ReadParameterSync(vkr::UI4(1), &done), S_OK);
  EXPECT_EQ(inner, E_FAIL);
}

TEST_F(ConnectionTest, ATransactionWithoutAnswerTimesOutAndALateAnswerFindsNothing) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Never, std::string()); };
  VARIANT_BOOL done = VARIANT_FALSE;
  const DWORD start = GetTickCount();
  EXPECT_EQ(conn->ReadParameterSync(vkr::UI4(1049), &done), E_ABORT);
  EXPECT_GE(GetTickCount() - start, 150u);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
  // The late answer: no record, no event to set, nothing spread.
  EXPECT_EQ(channel->Answer("transaction", Last().invokeId, "<Answer/>"), E_FAIL);
  EXPECT_TRUE(calls.parsed.empty());
}

TEST_F(ConnectionTest, ARefusedTransactionAndAFailedCallEndAtOnce) {
  Online();
  channel->accept = VARIANT_FALSE;
  conn->SetTimeouts(5000, 5000);
  VARIANT_BOOL done = VARIANT_TRUE;
  const DWORD start = GetTickCount();
  EXPECT_EQ(conn->WriteParameterSync(vkr::UI4(1), vkr::UI4(5), &done), S_FALSE);
  EXPECT_LT(GetTickCount() - start, 4000u) << "nothing is answered that the frame refused";
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
  channel->accept = VARIANT_TRUE;
  channel->callResult = E_FAIL;
  EXPECT_EQ(conn->WriteParameterSync(vkr::UI4(1), vkr::UI4(5), &done), E_FAIL);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

TEST_F(ConnectionTest, AnAnswerThatDoesNotLoadWakesNobody) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("<broken")); };
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(conn->ReadParameterSync(vkr::UI4(1), &done), E_ABORT);
  EXPECT_TRUE(calls.parsed.empty());
}

TEST_F(ConnectionTest, NonBlockingReadSendsAndTheAnswerIsSpreadLater) {
  Online();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(conn->ReadParameter(vkr::UI4(7), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(conn->PendingRequestCount(), 1u);
  EXPECT_EQ(channel->Answer("transaction", Last().invokeId, "<Answer/>"), S_OK);
  EXPECT_EQ(calls.parsed, std::vector<std::string>{"<Answer/>"});
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
  channel->accept = VARIANT_FALSE;
  EXPECT_EQ(conn->WriteParameter(vkr::UI4(7), vkr::UI4(1), &done), E_FAIL);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

// ---- Abort ---------------------------------------------------------------------------------

TEST_F(ConnectionTest, AbortIsRefusedForAnotherReferenceAndTakenWhileGoingOffline) {
  Online();
  EXPECT_EQ(conn->OnAbort(vkr::Bstr(u"REF-2")), E_FAIL);
  EXPECT_EQ(conn->OnAbort(vkr::Bstr(u"ref-1")), E_FAIL) << "the comparison is case-sensitive";
  EXPECT_TRUE(conn->IsConnected());
  // A DTM on its way offline loses the connection too, or it would never get there.
  dtm->state = dsGOINGOFFLINE;
  EXPECT_EQ(conn->OnAbort(vkr::Bstr(u"REF-1")), S_OK);
  EXPECT_FALSE(conn->IsConnected());
  EXPECT_TRUE(conn->IsAborted());
  EXPECT_TRUE(conn->CommunicationReference().Empty());
  EXPECT_EQ(dtm->ownerCalls.back(), "released");
}

TEST_F(ConnectionTest, AbortWakesAWaitingTransactionWhichReportsNoSuccess) {
  Online();
  channel->responder = [&](const SentRequest&) {
    FakeChannel::Later([&] { conn->OnAbort(vkr::Bstr(u"REF-1")); });
    return std::make_pair(AnswerMode::Never, std::string());
  };
  conn->SetTimeouts(5000, 5000);
  VARIANT_BOOL done = VARIANT_FALSE;
  const DWORD start = GetTickCount();
  EXPECT_EQ(conn->ReadParameterSync(vkr::UI4(1), &done), E_ABORT);
  EXPECT_LT(GetTickCount() - start, 4000u) << "woken by the abort, not by the time-out";
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

TEST_F(ConnectionTest, AnOwnerThatDropsTheConnectionDuringAbortDoesNotPullItAway) {
  Online();
  conn->AddRef();  // the owner's reference, dropped from inside the callback
  dtm->onReleased = [this] { conn->Release(); };
  EXPECT_EQ(conn->OnAbort(vkr::Bstr(u"REF-1")), S_OK);
  EXPECT_TRUE(conn->IsAborted());
}

// ---- Going offline -------------------------------------------------------------------------

TEST_F(ConnectionTest, GoOfflineWithoutReferenceIsDoneAtOnce) {
  ASSERT_EQ(Init(), S_OK);
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(conn->GoOffline(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_TRUE(channel->sent.empty());
}

TEST_F(ConnectionTest, GoOfflineAnswersDoneAfterTheAnswerOrItsTimeout) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Never, std::string()); };
  VARIANT_BOOL ok = VARIANT_FALSE;
  const DWORD start = GetTickCount();
  // Unconfirmed: the connection ends all the same, and the frame is asked to abort its end.
  EXPECT_EQ(conn->GoOffline(&ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_GE(GetTickCount() - start, 150u);
  EXPECT_TRUE(conn->CommunicationReference().Empty());
  EXPECT_EQ(dtm->ownerCalls.back(), "released");
  EXPECT_EQ(channel->sent.back().kind, "abort");
  EXPECT_FALSE(conn->IsConnected());
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
  // The answer arrives after the wait: it finds nothing, and the closed event is not touched.
  EXPECT_EQ(channel->Answer("disconnect", channel->sent[channel->sent.size() - 2].invokeId, "ok"), E_FAIL);
  EXPECT_EQ(dtm->ownerCalls.back(), "released");
}

TEST_F(ConnectionTest, ARefusedDisconnectionStillEndsTheConnection) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("no")); };
  conn->SetTimeouts(5000, 5000);
  VARIANT_BOOL ok = VARIANT_FALSE;
  const DWORD start = GetTickCount();
  EXPECT_EQ(conn->GoOffline(&ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_LT(GetTickCount() - start, 4000u) << "the answer ends the wait";
  // The refusal is reported, then the connection ends here.
  EXPECT_EQ(dtm->ownerCalls, (std::vector<std::string>{"connected:1", "disconnected:0", "released"}));
  EXPECT_FALSE(conn->IsConnected());
  EXPECT_TRUE(conn->CommunicationReference().Empty());
  EXPECT_EQ(channel->sent.back().kind, "abort");
}

TEST_F(ConnectionTest, BlockingDisconnectIsWokenByAbortAndFails) {
  Online();
  channel->responder = [&](const SentRequest&) {
    FakeChannel::Later([&] { conn->OnAbort(vkr::Bstr(u"REF-1")); });
    return std::make_pair(AnswerMode::Never, std::string());
  };
  EXPECT_EQ(conn->DisconnectBlocking(vkr::Bstr(u"<D/>")), E_FAIL);
}

// ---- Generic service and queue -----------------------------------------------------------------

class RecordingClient : public vkr::Implements<IovFDTGenericCommServiceEvents> {
 public:
  std::vector<std::string> finished;
  VKR_NO_DISPATCH
  HRESULT OnGenericCommServiceEvent(VARIANT requestId, VARIANT, VARIANT) override {
    finished.push_back(Narrow(requestId.bstrVal));
    return S_OK;
  }
};

class GenericQueueTest : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    ASSERT_EQ(vkr::ComObject<RecordingClient>::Create(nullptr, &client), S_OK);
    Online();
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(conn->SendGenericRequestAsync(static_cast<IovFDTGenericCommServiceEvents*>(client), key.Put(), &done),
              S_OK);
    ASSERT_EQ(key.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(key.bstrVal), 36u);
  }
  void TearDown() override {
    if (client) client->Release();
    ConnectionTest::TearDown();
  }
  HRESULT Queue(const char* list, const char* requestId) {
    VARIANT_BOOL done = VARIANT_FALSE;
    vkr::Variant id(Text(vkr::Utf8ToUtf16(list).c_str()));
    return conn->SendGenericRequestEx(key, Wide(requestId), id, &done);
  }
  vkr::ComObject<RecordingClient>* client = nullptr;
  vkr::Variant key;
};

TEST_F(GenericQueueTest, ItemsRunInOrderOneTransactionAtATime) {
  dtm->lists = {{"A", {1, 2}}, {"B", {3}}};
  proto->listDocuments = {{"A", {"<a1/>", "", "<a2/>"}}, {"B", {"<b1/>"}}};
  ASSERT_EQ(Queue("A", "first"), S_OK);
  ASSERT_EQ(Queue("B", "second"), S_OK);
  std::vector<std::string> order;
  for (int i = 0; i < 5 && conn->PendingRequestCount() == 1; ++i) {
    EXPECT_EQ(channel->Count("transaction"), order.size() + 1) << "only one transaction is out";
    order.push_back(Last().document);
    EXPECT_EQ(channel->Answer("transaction", Last().invokeId, "<Answer/>"), S_OK);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"<a1/>", "<a2/>", "<b1/>"})) << "the empty document is passed over";
  EXPECT_EQ(client->finished, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(conn->GenericQueueLength(), 0u);
  EXPECT_EQ(calls.parsed.size(), 3u);
}

TEST_F(GenericQueueTest, AFrameThatRefusesEndsTheItemAndTheQueueGoesOn) {
  dtm->lists = {{"A", {1}}, {"B", {3}}};
  proto->listDocuments = {{"A", {"<a1/>"}}, {"B", {"<b1/>"}}};
  channel->accept = VARIANT_FALSE;
  ASSERT_EQ(Queue("A", "first"), S_OK);
  EXPECT_EQ(client->finished, std::vector<std::string>{"first"}) << "its client still hears the end";
  channel->accept = VARIANT_TRUE;
  ASSERT_EQ(Queue("B", "second"), S_OK);
  ASSERT_EQ(conn->PendingRequestCount(), 1u);
  EXPECT_EQ(Last().document, "<b1/>");
  EXPECT_EQ(channel->Answer("transaction", Last().invokeId, "<Answer/>"), S_OK);
  EXPECT_EQ(client->finished, (std::vector<std::string>{"first", "second"}));
}

TEST_F(GenericQueueTest, AnAnswerInsideTheSendCallKeepsTheOrder) {
  dtm->lists = {{"A", {1, 2}}};
  proto->listDocuments = {{"A", {"<a1/>", "<a2/>"}}};
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Now, std::string("<Answer/>")); };
  ASSERT_EQ(Queue("A", "first"), S_OK);
  ASSERT_EQ(Queue("A", "second"), S_OK);
  EXPECT_EQ(client->finished, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(calls.parsed.size(), 4u);
  EXPECT_EQ(conn->GenericQueueLength(), 0u);
}

TEST_F(GenericQueueTest, AbortFlushesTheQueueAndTellsEveryClient) {
  dtm->lists = {{"A", {1}}};
  proto->listDocuments = {{"A", {"<a1/>"}}};
  ASSERT_EQ(Queue("A", "first"), S_OK);
  ASSERT_EQ(Queue("A", "second"), S_OK);
  EXPECT_EQ(conn->OnAbort(vkr::Bstr(u"REF-1")), S_OK);
  EXPECT_EQ(client->finished, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(conn->GenericQueueLength(), 0u);
}

TEST_F(GenericQueueTest, RequestsThatCannotBeQueued) {
  dtm->lists = {{"Empty", {}}};
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(Queue("Empty", "x"), S_FALSE);
  EXPECT_EQ(Queue("Unknown", "x"), E_FAIL);
  EXPECT_EQ(conn->SendGenericRequestEx(key, Wide("x"), vkr::Variant(), nullptr), E_INVALIDARG);
  // Unregistering: an unknown key answers S_FALSE, the registered one once.
  vkr::Variant other(Text(u"not-a-key"));
  EXPECT_EQ(conn->CancelGenericRequest(other, &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(conn->CancelGenericRequest(key, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(conn->CancelGenericRequest(key, &done), S_FALSE);
  // A generic request for a key no client holds.
  EXPECT_EQ(conn->SendGenericRequest(Wide("svc"), key, Wide("r"), vkr::Variant(), vkr::Variant(), &done), S_FALSE);
  EXPECT_TRUE(channel->Count("transaction") == 0);
}

TEST_F(GenericQueueTest, OnlyTheSubscriptionServicesAreKnown) {
  VARIANT_BOOL done = VARIANT_TRUE;
  vkr::Variant result;
  vkr::Variant service(Text(u"readAll"));
  EXPECT_EQ(conn->RequestService(vkr::Bstr(kHartProtocolId), service, key, result.Put(), &done), E_NOTIMPL);
  vkr::Variant unsubscribe(Text(u"unsubscribe"));
  EXPECT_EQ(conn->RequestService(vkr::Bstr(kHartProtocolId), unsubscribe, key, result.Put(), &done), S_FALSE)
      << "no subscription to end";
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_TRUE(channel->sent.size() == 1) << "only the connect request went out";
}

// ---- List transfers ----------------------------------------------------------------------------

class TransferTest : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    Online();
    channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Now, std::string("<Answer/>")); };
  }
  HRESULT Upload(const char* list, const char* transferId, bool apply, VARIANT_BOOL* done) {
    vkr::Variant id(Text(vkr::Utf8ToUtf16(list).c_str()));
    return conn->UploadParamList2(id, Wide(transferId), apply ? VARIANT_TRUE : VARIANT_FALSE, done);
  }
  HRESULT Download(const char* list, VARIANT_BOOL* done) {
    vkr::Variant id(Text(vkr::Utf8ToUtf16(list).c_str()));
    return conn->DownloadParamList2(id, Wide("T"), VARIANT_FALSE, done);
  }
};

TEST_F(TransferTest, ProgressReportsEachLargerPercentAndCloses) {
  dtm->lists = {{"L", {1, 2, 3}}};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>", "<t2/>"}}};
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Upload("L", "", false, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  ASSERT_EQ(dtm->progress.size(), 4u);
  const LONG expected[] = {0, 33, 66, 0};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(dtm->progress[i].percent, expected[i]) << "report " << i;
  EXPECT_EQ(dtm->progress[0].text, " ");
  EXPECT_TRUE(dtm->progress[0].running);
  EXPECT_EQ(dtm->progress[3].text, "");
  EXPECT_FALSE(dtm->progress[3].running);
  EXPECT_EQ(channel->Count("transaction"), 3u);
}

TEST_F(TransferTest, ACyclicListReportsNoProgress) {
  dtm->lists = {{"L", {1, 2}}};
  dtm->cyclicLists = {"L"};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>"}}};
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Upload("L", "", false, &done), S_OK);
  EXPECT_TRUE(dtm->progress.empty());
  EXPECT_EQ(channel->Count("transaction"), 2u);
}

TEST_F(TransferTest, AnEmptyListIsDoneWithoutSending) {
  dtm->lists = {{"L", {}}};
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(Upload("L", "", false, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(channel->Count("transaction"), 0u);
  EXPECT_EQ(Upload("Missing", "", false, &done), S_FALSE);
}

TEST_F(TransferTest, CancelStopsBeforeTheNextTransactionAndCompletesTheOneUnderWay) {
  dtm->lists = {{"L", {1, 2, 3}}};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>", "<t2/>"}}};
  channel->responder = [&](const SentRequest& r) {
    if (r.document == "<t1/>") {
      VARIANT_BOOL cancelled = VARIANT_FALSE;
      EXPECT_EQ(conn->CancelParamListTransfer(Wide("T-1"), &cancelled), S_OK);
      EXPECT_EQ(cancelled, VARIANT_TRUE);
    }
    return std::make_pair(AnswerMode::Later, std::string("<Answer/>"));
  };
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(Upload("L", "T-1", false, &done), E_ABORT);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(channel->Count("transaction"), 2u);
  EXPECT_EQ(calls.parsed.size(), 2u) << "the transaction under way was answered";
  EXPECT_EQ(conn->TransferCount(), 0u);
  ASSERT_FALSE(dtm->progress.empty());
  EXPECT_FALSE(dtm->progress.back().running);
  // A cancel for a transfer that is not running changes nothing.
  EXPECT_EQ(conn->CancelParamListTransfer(Wide("T-1"), &done), S_FALSE);
}

TEST_F(TransferTest, UploadGoesOnAfterAFailureAndDownloadStops) {
  dtm->lists = {{"L", {1, 2, 3}}};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>", "<t2/>"}}};
  channel->responder = [](const SentRequest& r) {
    return std::make_pair(AnswerMode::Now, std::string(r.document == "<t0/>" ? "<Error/>" : "<Answer/>"));
  };
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(Upload("L", "", false, &done), S_FALSE);
  EXPECT_EQ(channel->Count("transaction"), 3u);
  channel->sent.clear();
  EXPECT_EQ(Download("L", &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(channel->Count("transaction"), 1u);
}

TEST_F(TransferTest, ListsWithUnequalBoundsSendNothing) {
  proto->listDocuments = {{"L", {"<t0/>"}}};
  vkr::Variant docs = TextArray({"<t0/>", "<t1/>"});
  vkr::Variant ctxs = NumberArray({0});
  EXPECT_EQ(conn->ExecuteTransactionList(docs, ctxs, nullptr, kRunReportProgress), E_UNEXPECTED);
  EXPECT_EQ(conn->ExecuteTransactionList(docs, vkr::Variant(), nullptr, 0), E_FAIL);
  EXPECT_EQ(channel->Count("transaction"), 0u);
  EXPECT_TRUE(dtm->progress.empty());
}

TEST_F(TransferTest, AConnectionLostDuringTheRunIsNoSuccess) {
  dtm->lists = {{"L", {1, 2}}};
  dtm->deviceValues = {{1, vkr::Variant(vkr::UI4(5))}};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>"}}};
  channel->responder = [&](const SentRequest&) {
    // The channel is disconnected normally after the first answer.
    FakeChannel::Later([&] { channel->Answer("transaction", Last().invokeId, "<Answer/>"); });
    return std::make_pair(AnswerMode::Never, std::string());
  };
  channel->onTransaction = [&](const SentRequest&) {
    FakeChannel::Later([&] {
      VARIANT_BOOL sent = VARIANT_FALSE;
      conn->Disconnect(&sent);
      channel->Answer("disconnect", Last().invokeId, "ok");
    });
  };
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(Upload("L", "", true, &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_TRUE(dtm->appliedValues.empty()) << "nothing of a partial upload is applied";
}

TEST_F(TransferTest, ApplySkipsDisabledAndUnansweredParameters) {
  dtm->lists = {{"L", {1, 2, 3}}};
  dtm->deviceValues = {{1, vkr::Variant(vkr::UI4(11))}, {2, vkr::Variant(vkr::UI4(22))}, {3, vkr::Variant()}};
  dtm->validation = {{1, 0x72}, {2, 0x7A}};
  proto->listDocuments = {{"L", {"<t0/>"}}};
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Upload("L", "", true, &done), S_OK);
  ASSERT_EQ(dtm->appliedValues.size(), 1u);
  EXPECT_EQ(dtm->appliedValues[0].first, 1u);
  EXPECT_EQ(dtm->appliedValues[0].second.ulVal, 11u);
  ASSERT_EQ(dtm->statusFields.size(), 1u);
  EXPECT_EQ(dtm->statusFields[0], (std::pair<ULONG, ULONG>(1, 0x70))) << "the modified bit is cleared";
}

TEST_F(TransferTest, AbortDuringAnUploadEndsItWithoutSuccess) {
  dtm->lists = {{"L", {1, 2}}};
  proto->listDocuments = {{"L", {"<t0/>", "<t1/>"}}};
  channel->responder = [&](const SentRequest&) {
    FakeChannel::Later([&] { conn->OnAbort(vkr::Bstr(u"REF-1")); });
    return std::make_pair(AnswerMode::Never, std::string());
  };
  conn->SetTimeouts(5000, 5000);
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(Upload("L", "", false, &done), S_FALSE);
  EXPECT_EQ(channel->Count("transaction"), 1u);
}

// ---- Direct access -------------------------------------------------------------------------

TEST_F(ConnectionTest, DirectReadDecodesAByteArrayAnswerAndHandsOthersOutUnchanged) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("<A/>")); };
  proto->commandAnswer = [](VARIANT* out) {
    vkr::Variant bytes;
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 2);
    BYTE* data = nullptr;
    SafeArrayAccessData(bytes.parray, reinterpret_cast<void**>(&data));
    data[0] = 42;
    SafeArrayUnaccessData(bytes.parray);
    bytes.Detach(out);
  };
  vkr::Variant value;
  ASSERT_EQ(conn->ReadParameterDirect(vkr::UI4(1049), value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_UI4);
  EXPECT_EQ(value.ulVal, 42u);
  EXPECT_EQ(calls.distributeFlags.back(), 0u) << "a command answer is not spread";
  proto->commandAnswer = [](VARIANT* out) { *out = vkr::I4(-7); };
  ASSERT_EQ(conn->ReadParameterDirect(vkr::UI4(1049), value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, -7);
  proto->commandAnswer = nullptr;
  EXPECT_EQ(conn->ReadParameterDirect(vkr::UI4(1049), value.Put()), E_FAIL) << "an empty answer";
  EXPECT_EQ(conn->ResultCount(), 0u) << "no answer is left behind";
  EXPECT_EQ(conn->ReadParameterDirect(vkr::UI4(1049), nullptr), E_INVALIDARG);
}

TEST_F(ConnectionTest, DirectAccessTimesOutAndAnAbortedWaiterFindsNoAnswer) {
  Online();
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Never, std::string()); };
  vkr::Variant value;
  EXPECT_EQ(conn->ReadParameterDirect(vkr::UI4(1), value.Put()), E_ABORT);
  channel->responder = [&](const SentRequest&) {
    FakeChannel::Later([&] { conn->OnAbort(vkr::Bstr(u"REF-1")); });
    return std::make_pair(AnswerMode::Never, std::string());
  };
  conn->SetTimeouts(5000, 5000);
  EXPECT_EQ(conn->WriteParameterDirect(vkr::UI4(1), vkr::UI4(3)), E_FAIL);
  EXPECT_EQ(conn->ResultCount(), 0u);
  EXPECT_EQ(conn->PendingRequestCount(), 0u);
}

}  // namespace

// ---- HART services -----------------------------------------------------------------------------

namespace {

TEST_F(ConnectionTest, HartServicesReportFailuresAsTextsWithS_FALSE) {
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  ASSERT_EQ(conn->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  vkr::Bstr error;
  // Before initialisation there is no channel: nothing is sent.
  EXPECT_EQ(hart->Disconnect(error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x8000FFFF; not online");
  EXPECT_EQ(hart->Abort(error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x8000FFFF; not online");
  EXPECT_TRUE(channel->sent.empty());
  EXPECT_EQ(hart->Disconnect(nullptr), E_INVALIDARG);
  EXPECT_EQ(hart->Connect(0, nullptr), E_INVALIDARG);
  // Without a protocol object.
  conn->ReplaceProtocol(nullptr);
  EXPECT_EQ(hart->Connect(0, error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x80004003; protocol not set");
}

TEST_F(ConnectionTest, TransactionRefusesRequestDataThatIsNotHexInPairs) {
  Online();
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  ASSERT_EQ(conn->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  BYTE deviceStatus = 0, statusByte = 0;
  const char* bad[] = {"0", "ABC", "0G", "12 4", "1\"/><x a=\""};
  for (const char* text : bad) {
    vkr::Bstr error, data;
    EXPECT_EQ(hart->Transaction(3, Wide(text), &deviceStatus, &statusByte, data.Put(), error.Put()), S_FALSE) << text;
    EXPECT_EQ(Narrow(error), "0x80070057; could not create structure") << text;
  }
  vkr::Bstr error;
  EXPECT_EQ(hart->Transaction(3, nullptr, nullptr, &statusByte, nullptr, error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x80004003; response pointer is NULL");
  EXPECT_EQ(channel->Count("transaction"), 0u);
}

}  // namespace

// ---- HART documents (the real records) -----------------------------------------------------------

namespace {

std::string DataExchangeResponse(const char* reference, int command, const char* status,
                                 const char* data = nullptr) {
  std::string text = std::string("<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DataExchangeResponse "
                                 "communicationReference=\"") +
                     reference + "\" commandNumber=\"" + std::to_string(command) + "\">";
  if (data) text += std::string("<fdt:CommunicationData byteArray=\"") + data + "\"/>";
  return text + status + "</DataExchangeResponse></FDT>";
}

TEST_F(ConnectionTest, EveryDataExchangeResponseWritesTheStatusParameters) {
  Online();
  using Writes = std::vector<std::pair<ULONG, BYTE>>;
  struct Case {
    int command;
    Writes expected;
  } cases[] = {
      {41, {{1001, 0x40}, {1113, 7}, {1019, 7}}},
      {42, {{1001, 0x40}, {1113, 7}, {1020, 7}}},
      {3, {{1001, 0x40}, {1113, 7}}},
  };
  const char* status = "<Status deviceStatus=\"64\"><CommandResponse value=\"7\"/></Status>";
  for (const Case& c : cases) {
    dtm->statusWrites.clear();
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(conn->ReadParameter(vkr::UI4(1), &done), S_OK);
    EXPECT_EQ(channel->Answer("transaction", Last().invokeId, DataExchangeResponse(kReference, c.command, status)),
              S_OK);
    EXPECT_EQ(dtm->statusWrites, c.expected) << "command " << c.command;
  }
  // A command 6 the device took moves the DTM's short address (121) to the polling address it
  // answers with; one it refused or did not understand leaves it.
  const struct {
    const char* status;
    const char* data;
    Writes expected;
  } polling[] = {
      {"<Status deviceStatus=\"64\"><CommandResponse value=\"0\"/></Status>",
       "0700",
       {{1001, 0x40}, {1113, 0}, {121, 7}}},
      {"<Status deviceStatus=\"64\"><CommandResponse value=\"2\"/></Status>", "0700", {{1001, 0x40}, {1113, 2}}},
      {"<Status deviceStatus=\"64\"><CommunicationStatus value=\"136\"/></Status>", nullptr, {{1001, 0x40}, {1113, 0}}},
  };
  for (const auto& c : polling) {
    dtm->statusWrites.clear();
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(conn->ReadParameter(vkr::UI4(1), &done), S_OK);
    channel->Answer("transaction", Last().invokeId, DataExchangeResponse(kReference, 6, c.status, c.data));
    EXPECT_EQ(dtm->statusWrites, c.expected) << c.status;
  }
  // Written before the answer is matched: also from an answer no request waits for.
  dtm->statusWrites.clear();
  EXPECT_EQ(channel->Answer("transaction", vkr::Bstr(u"00000000-0000-0000-0000-000000000000"),
                            DataExchangeResponse(kReference, 3, status)),
            E_FAIL);
  EXPECT_EQ(dtm->statusWrites.size(), 2u);
  // A communication error writes none.
  dtm->statusWrites.clear();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(conn->ReadParameter(vkr::UI4(1), &done), S_OK);
  EXPECT_EQ(channel->Answer("transaction", Last().invokeId,
                            "<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:CommunicationError "
                            "communicationError=\"busy\" tag=\"T\"/></FDT>"),
            S_OK);
  EXPECT_TRUE(dtm->statusWrites.empty());
}

TEST_F(ConnectionTest, TransactionTakesTheStatusByteByItsRules) {
  Online();
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  ASSERT_EQ(conn->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  struct Case {
    const char* what;
    std::string response;
    HRESULT hr;
    const char* error;
    BYTE status;
    const char* data;
  } cases[] = {
      {"command response wins",
       DataExchangeResponse(
           kReference, 3,
           "<Status deviceStatus=\"64\"><CommunicationStatus value=\"130\"/><CommandResponse value=\"7\"/></Status>",
           "0A0B"),
       S_OK, "", 7, "0A0B"},
      {"communication status",
       DataExchangeResponse(kReference, 3, "<Status deviceStatus=\"64\"><CommunicationStatus value=\"130\"/></Status>"),
       S_OK, "", 130, ""},
      {"neither", DataExchangeResponse(kReference, 3, "<Status deviceStatus=\"64\"/>"), S_FALSE,
       "0x80004003; unexpected response content", 0, ""},
      {"subscribe response", "<FDT><SubscribeResponse communicationReference=\"REF-1\" burstModeDetected=\"1\"/></FDT>",
       S_FALSE, "0x8000FFFF; unexpected response type", 0, ""},
      // The frame's answer to this request (its invoke id), which need not name the connection: its
      // word says why nothing came back.
      {"communication error",
       "<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:CommunicationError communicationError=\"busy\" "
       "tag=\"T\"/></FDT>",
       S_FALSE, "0x80004005; communication error: busy", 0, ""},
      {"another reference", DataExchangeResponse("REF-X", 3, "<Status deviceStatus=\"0\"/>"), S_FALSE,
       "0x80004005; error during transaction", 0, ""},
  };
  for (const Case& c : cases) {
    channel->responder = [&c](const SentRequest&) { return std::make_pair(AnswerMode::Later, c.response); };
    BYTE deviceStatus = 0, statusByte = 0;
    vkr::Bstr data, error;
    EXPECT_EQ(hart->Transaction(3, vkr::Bstr(u"0102"), &deviceStatus, &statusByte, data.Put(), error.Put()), c.hr)
        << c.what;
    EXPECT_EQ(Narrow(error), c.error) << c.what;
    if (c.hr == S_OK) {
      EXPECT_EQ(deviceStatus, 64) << c.what;
      EXPECT_EQ(statusByte, c.status) << c.what;
      EXPECT_EQ(Narrow(data), c.data) << c.what;
    }
    EXPECT_EQ(conn->ResultCount(), 0u) << c.what;
    EXPECT_EQ(conn->PendingRequestCount(), 0u) << c.what;
  }
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Never, std::string()); };
  BYTE deviceStatus = 0, statusByte = 0;
  vkr::Bstr data, error;
  EXPECT_EQ(hart->Transaction(3, nullptr, &deviceStatus, &statusByte, data.Put(), error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x80004004; error during transaction");
}

TEST_F(ConnectionTest, ASubscriptionIsMadeOncePerKeyAndEndedUnderItsInvokeId) {
  Online();
  vkr::Variant key(Text(u"client-1"));
  vkr::Variant subscribe(Text(u"subscribe")), unsubscribe(Text(u"unsubscribe"));
  vkr::Bstr protocolId(kHartProtocolId);
  vkr::Variant result;
  VARIANT_BOOL done = VARIANT_FALSE;
  channel->responder = [](const SentRequest&) {
    return std::make_pair(AnswerMode::Later, std::string("<FDT><SubscribeResponse communicationReference=\"REF-1\" "
                                                         "burstModeDetected=\"1\"/></FDT>"));
  };
  ASSERT_EQ(conn->RequestService(protocolId, subscribe, key, result.Put(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_NE(Last().document.find("SubscribeRequest"), std::string::npos);
  const vkr::Bstr subscriptionId = Last().invokeId;
  EXPECT_EQ(conn->SubscriptionCount(), 1u);
  const std::size_t sent = channel->sent.size();
  EXPECT_EQ(conn->RequestService(protocolId, subscribe, key, result.Put(), &done), S_FALSE);
  EXPECT_EQ(channel->sent.size(), sent) << "a second subscription sends nothing";
  // Answered with something else than a SubscribeResponse: no subscription.
  vkr::Variant other(Text(u"client-2"));
  channel->responder = [](const SentRequest&) {
    return std::make_pair(AnswerMode::Later, DataExchangeResponse(kReference, 3, "<Status deviceStatus=\"0\"/>"));
  };
  EXPECT_EQ(conn->RequestService(protocolId, subscribe, other, result.Put(), &done), S_FALSE);
  EXPECT_EQ(conn->SubscriptionCount(), 1u);
  channel->responder = [](const SentRequest&) {
    return std::make_pair(AnswerMode::Later,
                          std::string("<FDT><UnsubscribeResponse communicationReference=\"REF-1\"/></FDT>"));
  };
  EXPECT_EQ(conn->RequestService(protocolId, unsubscribe, key, result.Put(), &done), S_OK);
  EXPECT_EQ(Last().invokeId.View(), subscriptionId.View());
  EXPECT_NE(Last().document.find("UnsubscribeRequest"), std::string::npos);
  EXPECT_EQ(conn->SubscriptionCount(), 0u);
}

TEST_F(ConnectionTest, HartConnectSendsTheConnectDocumentAndWaits) {
  ASSERT_EQ(Init(), S_OK);
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  ASSERT_EQ(conn->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid()), S_OK);
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("no")); };
  vkr::Bstr error;
  EXPECT_EQ(hart->ConnectWithAddress(0x60, 0x9B, 1, 2, 3, error.Put()), S_FALSE);
  EXPECT_EQ(Narrow(error), "0x80004005; connecting failed");
  EXPECT_NE(Last().document.find("LongAddress"), std::string::npos) << Last().document;
  channel->responder = [](const SentRequest&) { return std::make_pair(AnswerMode::Later, std::string("ok:R7")); };
  error.Reset();
  EXPECT_EQ(hart->Connect(2, error.Put()), S_OK);
  EXPECT_TRUE(error.Empty());
  EXPECT_NE(Last().document.find("ConnectRequest"), std::string::npos) << Last().document;
  EXPECT_EQ(Narrow(conn->CommunicationReference()), "R7");
  // The HART abort sends the Abort document and releases the connection.
  dtm->state = dsONLINE;
  EXPECT_EQ(hart->Abort(error.Put()), S_OK);
  EXPECT_EQ(Last().kind, "abort");
  EXPECT_NE(Last().document.find("R7"), std::string::npos) << Last().document;
  EXPECT_EQ(dtm->ownerCalls.back(), "released");
  EXPECT_FALSE(conn->IsConnected());
}

}  // namespace

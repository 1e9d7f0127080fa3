// The communication client inside the DTM: connection creation and management, going online and
// offline with the connections' reports, routing by address information and by list, transfers
// and their cancel, subscriptions, protocol choice, bus information and information requests.
// The connections are fakes made by a class factory registered under the connection class id.
#include <gtest/gtest.h>

#include "communication/CMyConnection.h"
#include "tests/support/comm_client_fakes.h"

namespace {

using namespace vkr::test;

class CommunicationClient : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::MakeObject<CommDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    dtm->SetThread(thread.Get());
    ASSERT_EQ(vkr::MakeObject<FakeConnectionFactory>(&factory), S_OK);
    factory->journal = &journal;
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<BusChannel>(&channel), S_OK);
    channel->journal = &journal;
  }
  void TearDown() override {
    if (dtm) dtm->DropChannel();
    CoRevokeClassObject(cookie);
    dtm = nullptr;
    factory = nullptr;
    CoUninitialize();
  }
  IovFdtCommunicationClient4* Client() { return dtm.Get(); }
  void Connect() { ASSERT_EQ(Client()->SetCommunication(channel.Get()), S_OK); }
  // A connection made through the management interface; its id.
  std::string Create(const std::string& protocol = kHart) {
    vkr::Bstr id;
    vkr::Bstr p(vkr::Utf8ToUtf16(protocol));
    EXPECT_EQ(dtm->CreateConnection(p, id.Put()), S_OK) << protocol;
    return Text(id);
  }
  HRESULT Connected(const std::string& id, bool ok) {
    vkr::Bstr b(vkr::Utf8ToUtf16(id));
    return dtm->OnConnected(b, ok ? VARIANT_TRUE : VARIANT_FALSE, Empty(), nullptr);
  }
  HRESULT Disconnected(const std::string& id, bool ok) {
    vkr::Bstr b(vkr::Utf8ToUtf16(id));
    return dtm->OnDisconnected(b, ok ? VARIANT_TRUE : VARIANT_FALSE, Empty(), nullptr);
  }
  // A device parameter of the DTM whose address information names the protocols, in order.
  ULONG AddressedParameter(const std::vector<std::string>& protocols) {
    ParInfo first;
    EXPECT_EQ(dtm->GetParInfoAt(0, &first), S_OK);
    std::u16string address = u"<AddressInformation>";
    for (const std::string& p : protocols) address += u"<Protocol id=\"" + vkr::Utf8ToUtf16(p) + u"\"/>";
    address += u"</AddressInformation>";
    SetAddress(first.m_nId, address);
    return first.m_nId;
  }
  void SetAddress(ULONG id, const std::u16string& address) {
    vkr::Variant a;
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(address.c_str());
    ASSERT_EQ(dtm->SetParameterAddress(UI4(id), a), S_OK);
  }
  void SetAddressed(ULONG id, ULONG word) {
    ParInfo record;
    record.m_dwAddressed = word;
    ASSERT_EQ(dtm->SetParInfoFields(id, PIF_ADDRESSED, record), S_OK);
  }
  vkr::Variant Key(const char16_t* name) {
    vkr::Variant k;
    k.vt = VT_BSTR;
    k.bstrVal = SysAllocString(name);
    return k;
  }
  void MakeList(const char16_t* name, const std::vector<ULONG>& members) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(dtm->CreateList(Key(name), Empty(), Empty(), Empty(), &ok), S_OK);
    if (members.empty()) return;
    vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(members.size())));
    for (LONG i = 0; i < static_cast<LONG>(members.size()); ++i) {
      VARIANT v = UI4(members[static_cast<std::size_t>(i)]);
      SafeArrayPutElement(array.Get(), &i, &v);
    }
    vkr::Variant list;
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = array.Detach();
    ASSERT_EQ(dtm->AddMembers(Key(name), list, &ok), S_OK);
  }
  FakeConnection& Made(std::size_t i) { return *factory->made.at(i); }

  Journal journal;
  DWORD cookie = 0;
  vkr::ComPtr<vkr::ComObject<CommDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FakeConnectionFactory>> factory;
  vkr::ComPtr<vkr::ComObject<BusChannel>> channel;
};

// ---- Connection classes, creation, management ---------------------------------------------------

TEST_F(CommunicationClient, TheHartConnectionClassIsRegisteredAtConstruction) {
  ASSERT_EQ(dtm->ConnectionClassCount(), 1u);
  EXPECT_EQ(dtm->ConnectionClassProtocol(0), kHart);
  // The DTM hands out the client's interfaces, the four added ones among them.
  const std::pair<const char*, IID> interfaces[] = {
      {"IovFdtConnectionManagement", IovFdtConnectionManagement::iid},
      {"IovFdtCommClientInfo", IovFdtCommClientInfo::iid},
      {"IovFDTCommClientTransferParamList", IovFDTCommClientTransferParamList::iid},
      {"IovFDTGenericCommService2", IovFDTGenericCommService2::iid},
      {"IFdtCommunicationEvents", IFdtCommunicationEvents::iid},
      {"IFdtCommunicationEvents2", IFdtCommunicationEvents2::iid}};
  for (const auto& [name, iid] : interfaces) {
    vkr::ComPtr<IUnknown> p;
    EXPECT_EQ(dtm->QueryInterface(iid, p.PutVoid()), S_OK) << name;
  }
}

TEST_F(CommunicationClient, CreateConnectionInitialisesTheObjectWithTheDtmAndTheChannel) {
  vkr::Bstr id;
  vkr::Bstr hart(vkr::Utf8ToUtf16(kHart));
  EXPECT_EQ(dtm->CreateConnection(hart, id.Put()), E_POINTER);  // no channel yet
  EXPECT_EQ(dtm->CreateConnection(hart, nullptr), E_INVALIDARG);
  Connect();
  dtm->SetSchemaPath(u"C:\\FDT\\Schemas");
  vkr::Bstr lower(u"036d1498-387b-11d4-86e1-00e0987270b9");
  ASSERT_EQ(dtm->CreateConnection(lower, id.Put()), S_OK);
  EXPECT_EQ(Text(id), "c1-id");
  FakeConnection& c = Made(0);
  EXPECT_EQ(c.protocolId, kHart);  // the class entry's text, not the caller's
  EXPECT_EQ(c.schemaPath, "C:\\FDT\\Schemas");
  EXPECT_EQ(c.dtm, dtm->GetControllingUnknown());
  EXPECT_EQ(c.channel, static_cast<IUnknown*>(static_cast<IFdtCommunication*>(channel.Get())));
  EXPECT_EQ(dtm->ConnectionStates(), "c1-id:off");

  vkr::Bstr other(u"00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(dtm->CreateConnection(other, id.Put()), E_FAIL);
  dtm->ClearConnectionClasses();
  EXPECT_EQ(dtm->CreateConnection(hart, id.Put()), E_UNEXPECTED);
}

TEST_F(CommunicationClient, TheModulesConnectionClassIsMadeAndInitialisedTheSameWay) {
  CoRevokeClassObject(cookie);
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> real;
  ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&real), S_OK);
  ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(real.Get()), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  Connect();
  dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
  vkr::Bstr id, hart(vkr::Utf8ToUtf16(kHart));
  ASSERT_EQ(dtm->CreateConnection(hart, id.Put()), S_OK);
  EXPECT_EQ(id.Length(), 36u) << Text(id);  // a GUID text
  vkr::ComPtr<IUnknown> listed;
  ASSERT_EQ(dtm->GetConnectionById(id, listed.Put()), S_OK);
  vkr::ComPtr<IovFDTConnectionObject> connection;
  ASSERT_EQ(listed->QueryInterface(IovFDTConnectionObject::iid, connection.PutVoid()), S_OK);
  vkr::Bstr ownId, protocol;
  VARIANT_BOOL online = VARIANT_TRUE;
  ASSERT_EQ(connection->GetConnectionIds(ownId.Put(), protocol.Put(), &online), S_OK);
  EXPECT_EQ(ownId.Str(), id.Str());
  EXPECT_EQ(Text(protocol), kHart);
  EXPECT_EQ(online, VARIANT_FALSE);
  // It offers what the client routes to.
  for (const IID& iid : {IovFdtCommClientOnlineState::iid, IovFdtCommunicationClient4::iid,
                         IovFdtDirectParameterAccess::iid, IovFDTGenericCommService::iid,
                         IovFDTCommClientTransferParamList2::iid}) {
    vkr::ComPtr<IUnknown> p;
    EXPECT_EQ(listed->QueryInterface(iid, p.PutVoid()), S_OK);
  }
}

TEST_F(CommunicationClient, AConnectionThatCannotBeMadeOrInitialisedIsNotListed) {
  Connect();
  vkr::Bstr id;
  vkr::Bstr hart(vkr::Utf8ToUtf16(kHart));
  factory->prepare = [](FakeConnection& c) { c.initResult = E_ACCESSDENIED; };
  EXPECT_EQ(dtm->CreateConnection(hart, id.Put()), E_ACCESSDENIED);
  factory->prepare = nullptr;
  factory->createResult = E_OUTOFMEMORY;
  EXPECT_EQ(dtm->CreateConnection(hart, id.Put()), E_OUTOFMEMORY);
  LONG count = -1;
  EXPECT_EQ(dtm->GetConnectionCount(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(id.Get(), nullptr);
}

TEST_F(CommunicationClient, ManagementAnswersByIndexIdProtocolAndOnlineState) {
  Connect();
  dtm->AddConnectionClass("PROFI");
  const std::string c1 = Create(), c2 = Create("profi"), c3 = Create();
  LONG count = 0;
  EXPECT_EQ(dtm->GetConnectionCount(&count), S_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(dtm->GetConnectionCount(nullptr), E_INVALIDARG);

  vkr::ComPtr<IUnknown> c;
  struct {
    LONG index;
    HRESULT expected;
  } const indexes[] = {{-1, E_INVALIDARG}, {3, DISP_E_BADINDEX}, {4, DISP_E_BADINDEX}, {0, S_OK}, {2, S_OK}};
  for (const auto& t : indexes) EXPECT_EQ(dtm->GetConnection(t.index, c.Put()), t.expected) << "index " << t.index;
  EXPECT_EQ(c.Get(), static_cast<IUnknown*>(static_cast<IovFDTConnectionObject*>(factory->made[2].Get())));
  EXPECT_EQ(dtm->GetConnection(0, nullptr), E_INVALIDARG);

  vkr::Bstr id2(vkr::Utf8ToUtf16(c2)), missing(u"nobody"), upper(u"C2-ID");
  EXPECT_EQ(dtm->GetConnectionById(id2, c.Put()), S_OK);
  EXPECT_EQ(dtm->GetConnectionById(missing, c.Put()), E_FAIL);
  EXPECT_EQ(dtm->GetConnectionById(upper, c.Put()), E_FAIL);  // ids compare with their case

  vkr::Variant ids;
  vkr::Bstr hart(u"036d1498-387b-11d4-86e1-00e0987270b9");
  ASSERT_EQ(dtm->GetConnectionsOfProtocol(hart, ids.Ptr()), S_OK);
  ASSERT_EQ(ids.vt, VT_ARRAY | VT_VARIANT);
  LONG upperBound = -1;
  SafeArrayGetUBound(ids.parray, 1, &upperBound);
  ASSERT_EQ(upperBound, 1);
  std::vector<std::string> found;
  for (LONG i = 0; i <= upperBound; ++i) {
    vkr::Variant e;
    SafeArrayGetElement(ids.parray, &i, e.Ptr());
    found.push_back(Show(e));
  }
  EXPECT_EQ(found, (std::vector<std::string>{"bstr:" + c1, "bstr:" + c3}));
  vkr::Bstr none(u"none");
  EXPECT_EQ(dtm->GetConnectionsOfProtocol(none, ids.Ptr()), S_FALSE);
  EXPECT_EQ(ids.vt, VT_EMPTY);

  EXPECT_EQ(dtm->GetOnlineConnections(ids.Ptr()), S_FALSE);
  EXPECT_EQ(ids.vt, VT_EMPTY);
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected(c2, true), S_OK);
  ASSERT_EQ(dtm->GetOnlineConnections(ids.Ptr()), S_OK);
  LONG at = 0;
  vkr::Variant only;
  SafeArrayGetElement(ids.parray, &at, only.Ptr());
  EXPECT_EQ(Show(only), "bstr:" + c2);
  EXPECT_EQ(dtm->GetOnlineConnections(nullptr), E_INVALIDARG);
}

TEST_F(CommunicationClient, ReleasingAnOfflineConnectionRemovesItAndAnOnlineOneWaitsForItsReport) {
  Connect();
  const std::string c1 = Create(), c2 = Create();
  vkr::Bstr id1(vkr::Utf8ToUtf16(c1)), id2(vkr::Utf8ToUtf16(c2)), missing(u"x");
  EXPECT_EQ(dtm->ReleaseConnection(missing), E_INVALIDARG);
  EXPECT_EQ(dtm->ReleaseConnection(id1), S_OK);
  EXPECT_EQ(dtm->ConnectionStates(), "c2-id:off");
  EXPECT_TRUE(journal.With("c1 GoOffline").empty());

  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected(c2, true), S_OK);
  journal.Clear();
  EXPECT_EQ(dtm->ReleaseConnection(id2), S_OK);
  EXPECT_EQ(journal.Joined(), "c2 GoOffline");
  EXPECT_EQ(dtm->ConnectionStates(), "c2-id:on");  // listed until it reports
  ASSERT_EQ(Disconnected(c2, true), S_OK);
  EXPECT_EQ(dtm->ConnectionStates(), "");
}

TEST_F(CommunicationClient, GivingTheChannelBackReleasesTheConnectionsMadeForIt) {
  Connect();
  Create();
  Create();
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected("c1-id", true), S_OK);
  const LONG before = factory->made[0]->RefCount();
  ASSERT_EQ(Client()->SetCommunication(nullptr), S_OK);
  EXPECT_EQ(dtm->ConnectionStates(), "");
  EXPECT_EQ(factory->made[0]->RefCount(), before - 1);
  EXPECT_EQ(factory->made[1]->RefCount(), 1);  // the factory's own
}

// ---- Going online ------------------------------------------------------------------------------

TEST_F(CommunicationClient, GoOnlineChecksItsPreconditionsBeforeAskingTheFrame) {
  VARIANT_BOOL done = VARIANT_TRUE;
  dtm->ForceState(dsGOINGONLINE);
  EXPECT_EQ(dtm->GoOnline(&done), E_POINTER);  // no channel
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(dtm->GoOnline(nullptr), E_INVALIDARG);
  Connect();
  journal.Clear();
  for (EDtmState s : {dsCOMMUNICATIONSET, dsONLINE, dsGOINGOFFLINE}) {
    dtm->ForceState(s);
    EXPECT_EQ(dtm->GoOnline(&done), E_FAIL) << "state " << s;
  }
  dtm->ForceState(dsGOINGONLINE);
  channel->protocolsResult = E_ABORT;
  EXPECT_EQ(dtm->GoOnline(&done), E_ABORT);
  dtm->ClearConnectionClasses();
  EXPECT_EQ(dtm->GoOnline(&done), E_UNEXPECTED);
  EXPECT_EQ(journal.Joined(), "channel GetSupportedProtocols");
  EXPECT_TRUE(factory->made.empty());
}

TEST_F(CommunicationClient, AFrameWithoutTheHartCategoryMakesNoConnection) {
  Connect();
  dtm->ForceState(dsGOINGONLINE);
  channel->protocols = BusCategories({"11111111-2222-3333-4444-555555555555"});
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(dtm->GoOnline(&done), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_TRUE(factory->made.empty());
  // A document that does not parse has no categories either.
  channel->protocols = u"<FDT><fdt:BusCategories>";
  EXPECT_EQ(dtm->GoOnline(&done), E_FAIL);
}

TEST_F(CommunicationClient, GoOnlineMakesAConnectionForTheSupportedCategoryAndReusesItLater) {
  Connect();
  dtm->ForceState(dsGOINGONLINE);
  channel->protocols = BusCategories({"11111111-2222-3333-4444-555555555555", "036d1498-387b-11d4-86e1-00e0987270b9"});
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(dtm->GoOnline(&done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(journal.Joined(), std::string("channel GetSupportedProtocols | create c1 | c1 InitConnection ") + kHart +
                                  " | c1 GoOnline");
  // The connection reports; the DTM is online.
  ASSERT_EQ(Connected("c1-id", true), S_OK);
  EXPECT_EQ(dtm->State(), dsONLINE);
  // Offline again, then online again: the same connection is asked.
  dtm->ForceState(dsGOINGOFFLINE);
  ASSERT_EQ(Disconnected("c1-id", false), S_OK);  // a disconnect that failed keeps the entry
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected("c1-id", false), S_OK);
  EXPECT_EQ(dtm->ConnectionStates(), "c1-id:off");
  EXPECT_EQ(dtm->State(), dsCOMMUNICATIONSET);
  dtm->ForceState(dsGOINGONLINE);
  journal.Clear();
  ASSERT_EQ(dtm->GoOnline(&done), S_OK);
  EXPECT_EQ(journal.Joined(), "channel GetSupportedProtocols | c1 GoOnline");
  EXPECT_EQ(factory->made.size(), 1u);
}

TEST_F(CommunicationClient, AConnectionThatDoesNotComeOnlineStaysListedAndIsTheOneAskedAgain) {
  Connect();
  dtm->ForceState(dsGOINGONLINE);
  factory->prepare = [](FakeConnection& c) { c.onlineDone = false; };
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(dtm->GoOnline(&done), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(dtm->ConnectionStates(), "c1-id:off");
  // Retries do not pile up idle connections.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dtm->GoOnline(&done), E_FAIL);
  EXPECT_EQ(factory->made.size(), 1u);
  EXPECT_EQ(journal.With("c1 GoOnline").size(), 4u);
  Made(0).onlineDone = true;
  EXPECT_EQ(dtm->GoOnline(&done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
}

TEST_F(CommunicationClient, AConnectionThatCannotBeInitialisedEndsTheSelection) {
  Connect();
  dtm->ForceState(dsGOINGONLINE);
  dtm->AddConnectionClass(kHart);  // a second class for the same category is not tried
  factory->prepare = [](FakeConnection& c) { c.initResult = E_ACCESSDENIED; };
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(dtm->GoOnline(&done), E_ACCESSDENIED);
  EXPECT_EQ(factory->made.size(), 1u);
  EXPECT_EQ(dtm->ConnectionStates(), "");
}

// ---- Online-state flow --------------------------------------------------------------------------

TEST_F(CommunicationClient, TwoConnectionsMoveTheDtmOnlineAndBackWhenTheLastOneLeaves) {
  Connect();
  const std::string c1 = Create(), c2 = Create();
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected(c1, true), S_OK);
  EXPECT_EQ(dtm->State(), dsONLINE);
  ASSERT_EQ(Connected(c2, true), S_OK);
  ASSERT_EQ(Disconnected(c1, true), S_OK);
  EXPECT_EQ(dtm->State(), dsONLINE);  // c2 is still online
  EXPECT_EQ(dtm->ConnectionStates(), "c2-id:on");
  ASSERT_EQ(Disconnected(c2, true), S_OK);
  EXPECT_EQ(dtm->State(), dsCOMMUNICATIONSET);
  EXPECT_EQ(dtm->ConnectionStates(), "");
}

TEST_F(CommunicationClient, AReportMovesTheStateOnlyWhereTheTableSaysSo) {
  Connect();
  const std::string c1 = Create();
  struct {
    EDtmState before;
    bool connected;
    EDtmState after;
  } const cases[] = {
      {dsCOMMUNICATIONSET, true, dsONLINE}, {dsGOINGONLINE, true, dsONLINE},
      {dsGOINGOFFLINE, true, dsGOINGOFFLINE}, {dsONLINE, true, dsONLINE},
      {dsCOMMUNICATIONSET, false, dsCOMMUNICATIONSET}, {dsGOINGONLINE, false, dsCOMMUNICATIONSET},
      {dsGOINGOFFLINE, false, dsCOMMUNICATIONSET}, {dsONLINE, false, dsCOMMUNICATIONSET},
      {dsCONFIGURED, false, dsCONFIGURED},
  };
  for (const auto& t : cases) {
    dtm->ForceState(t.before);
    EXPECT_EQ(Connected(c1, t.connected), S_OK);
    EXPECT_EQ(dtm->State(), t.after) << "from " << t.before << " connected " << t.connected;
  }
  // An id that is not listed changes nothing.
  dtm->ForceState(dsGOINGONLINE);
  EXPECT_EQ(Connected("c9-id", true), E_FAIL);
  EXPECT_EQ(Disconnected("c9-id", true), E_FAIL);
  vkr::Bstr missing(u"c9-id");
  EXPECT_EQ(dtm->OnConnectionReleased(missing), E_FAIL);
  EXPECT_EQ(dtm->State(), dsGOINGONLINE);
}

TEST_F(CommunicationClient, AReleasedConnectionIsRemovedAndTheDtmGoesBackToCommunicationSet) {
  Connect();
  const std::string c1 = Create();
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected(c1, true), S_OK);
  vkr::Bstr id(vkr::Utf8ToUtf16(c1));
  ASSERT_EQ(dtm->OnConnectionReleased(id), S_OK);
  EXPECT_EQ(dtm->State(), dsCOMMUNICATIONSET);
  EXPECT_EQ(dtm->ConnectionStates(), "");
}

// ---- Going offline ------------------------------------------------------------------------------

TEST_F(CommunicationClient, GoOfflineAsksEveryConnectionInOrderAndStopsAtTheFirstRefusal) {
  VARIANT_BOOL done = VARIANT_FALSE;
  dtm->ForceState(dsONLINE);
  EXPECT_EQ(dtm->GoOffline(&done), E_FAIL);
  EXPECT_EQ(dtm->GoOffline(nullptr), E_INVALIDARG);
  dtm->ForceState(dsGOINGOFFLINE);
  EXPECT_EQ(dtm->GoOffline(&done), S_OK);  // nobody to ask
  EXPECT_EQ(done, VARIANT_TRUE);

  Connect();
  Create();
  Create();
  journal.Clear();
  dtm->ForceState(dsGOINGOFFLINE);
  ASSERT_EQ(dtm->GoOffline(&done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(journal.Joined(), "c1 GoOffline | c2 GoOffline");

  journal.Clear();
  Made(0).offlineDone = false;
  EXPECT_EQ(dtm->GoOffline(&done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(journal.Joined(), "c1 GoOffline");
  Made(0).offlineDone = true;
  Made(0).offlineResult = E_ABORT;
  EXPECT_EQ(dtm->GoOffline(&done), E_ABORT);
}

TEST_F(CommunicationClient, ConnectionsThatReportWhileGoingOfflineDoNotUpsetTheWalk) {
  Connect();
  const std::string c1 = Create(), c2 = Create();
  dtm->ForceState(dsGOINGONLINE);
  ASSERT_EQ(Connected(c1, true), S_OK);
  ASSERT_EQ(Connected(c2, true), S_OK);
  dtm->ForceState(dsGOINGOFFLINE);
  // Each reports its disconnection from inside its GoOffline, as a connection whose wait pumps
  // messages does; the first report removes an entry the walk has not reached yet.
  Made(0).onGoOffline = [&] { Disconnected(c2, true); Disconnected(c1, true); };
  journal.Clear();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(dtm->GoOffline(&done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(journal.Joined(), "c1 GoOffline | c2 GoOffline");
  EXPECT_EQ(dtm->ConnectionStates(), "");
  EXPECT_EQ(dtm->State(), dsCOMMUNICATIONSET);
}

// ---- Routing ------------------------------------------------------------------------------------

TEST_F(CommunicationClient, AParameterGoesToTheConnectionOfTheFirstProtocolItsAddressNames) {
  Connect();
  dtm->AddConnectionClass("PROFI");
  Create();          // c1: HART
  Create("PROFI");   // c2
  const ULONG id = AddressedParameter({"unknown", "profi", kHart});
  VARIANT_BOOL done = VARIANT_FALSE;
  journal.Clear();
  ASSERT_EQ(dtm->ReadParameter(UI4(id), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  ASSERT_EQ(dtm->WriteParameterSync(UI4(id), I4(5), &done), S_OK);
  EXPECT_EQ(journal.Joined(), "c2 ReadParameter ui4:" + std::to_string(id) + " | c2 WriteParameterSync ui4:" +
                                  std::to_string(id) + " i4:5");
  // No protocol of the address has a connection: the first connection serves.
  AddressedParameter({"unknown"});
  journal.Clear();
  ASSERT_EQ(dtm->ReadParameterSync(UI4(id), &done), S_OK);
  EXPECT_EQ(journal.Joined(), "c1 ReadParameterSync ui4:" + std::to_string(id));
}

TEST_F(CommunicationClient, AddressTextsThatAreNoAddressAreRefused) {
  Connect();
  ParInfo first;
  ASSERT_EQ(dtm->GetParInfoAt(0, &first), S_OK);
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(dtm->ReadParameter(UI4(first.m_nId), &done), E_UNEXPECTED);  // no connection at all
  EXPECT_EQ(done, VARIANT_FALSE);
  Create();
  struct {
    std::u16string address;
    HRESULT expected;
  } const cases[] = {
      {u"<A/>", E_FAIL},
      {u"AddressInformation", E_FAIL},
      {u"", E_FAIL},
      {u"<AddressInformation/>", E_UNEXPECTED},  // no protocol named at all
      {u"<Other><Protocol id=\"x\"/></Other>", E_UNEXPECTED},
      {u"<AddressInformation><Protocol/></AddressInformation>", E_FAIL},  // a protocol without id
  };
  for (const auto& t : cases) {
    SetAddress(first.m_nId, t.address);
    EXPECT_EQ(dtm->WriteParameter(UI4(first.m_nId), I4(1), &done), t.expected) << vkr::Utf16ToUtf8(t.address);
  }
  EXPECT_EQ(dtm->ReadParameter(UI4(first.m_nId), nullptr), E_INVALIDARG);
  EXPECT_TRUE(journal.With("c1 WriteParameter").empty());
}

TEST_F(CommunicationClient, DirectAccessAndListRequestsNeedTheOnlineStateAndTouchNoConnectionOtherwise) {
  Connect();
  Create();
  const ULONG id = AddressedParameter({kHart});
  MakeList(u"L", {id});
  vkr::Variant value;
  VARIANT_BOOL done = VARIANT_TRUE;
  vkr::Bstr transfer(u"t1"), request(u"r");
  for (EDtmState s : {dsCOMMUNICATIONSET, dsGOINGONLINE, dsGOINGOFFLINE}) {
    dtm->ForceState(s);
    EXPECT_EQ(dtm->ReadParameterDirect(UI4(id), value.Ptr()), E_FAIL) << s;
    EXPECT_EQ(dtm->WriteParameterDirect(UI4(id), I4(1)), E_FAIL) << s;
    EXPECT_EQ(dtm->SendGenericRequestEx(I4(1), request, Key(u"L"), &done), E_FAIL) << s;
    EXPECT_EQ(dtm->UploadParamList2(Key(u"L"), transfer, VARIANT_TRUE, &done), E_FAIL) << s;
    EXPECT_EQ(dtm->DownloadParamList2(Key(u"L"), transfer, VARIANT_TRUE, &done), E_FAIL) << s;
    EXPECT_EQ(done, VARIANT_FALSE);
  }
  EXPECT_TRUE(journal.With("c1 ").size() == 1) << journal.Joined();  // only its InitConnection
  dtm->ForceState(dsONLINE);
  Made(0).deviceValues[id] = vkr::Variant(I4(42));
  ASSERT_EQ(dtm->ReadParameterDirect(UI4(id), value.Ptr()), S_OK);
  EXPECT_EQ(Show(value), "i4:42");
  EXPECT_EQ(dtm->ReadParameterDirect(UI4(id), nullptr), E_INVALIDARG);
  ASSERT_EQ(dtm->SendGenericRequestEx(I4(1), request, Key(u"L"), &done), S_OK);
  EXPECT_TRUE(journal.Has("c1 SendGenericRequestEx i4:1 r bstr:L"));
}

TEST_F(CommunicationClient, AListGoesToTheConnectionOfItsFirstDeviceParameter) {
  Connect();
  dtm->AddConnectionClass("PROFI");
  Create();
  Create("PROFI");
  ParInfo a, b;
  ASSERT_EQ(dtm->GetParInfoAt(0, &a), S_OK);
  ASSERT_EQ(dtm->GetParInfoAt(1, &b), S_OK);
  SetAddressed(a.m_nId, 0);  // not a device parameter: not asked for its address
  SetAddress(a.m_nId, u"<AddressInformation><Protocol id=\"" + vkr::Utf8ToUtf16(kHart) + u"\"/></AddressInformation>");
  SetAddressed(b.m_nId, 1);
  SetAddress(b.m_nId, u"<AddressInformation><Protocol id=\"PROFI\"/></AddressInformation>");
  MakeList(u"Mixed", {a.m_nId, b.m_nId});
  MakeList(u"Empty", {});
  dtm->ForceState(dsONLINE);
  VARIANT_BOOL done = VARIANT_FALSE;
  journal.Clear();
  ASSERT_EQ(dtm->DownloadParamList(Key(u"Mixed"), VARIANT_TRUE, &done), S_OK);
  ASSERT_EQ(dtm->UploadParamList(Key(u"Empty"), VARIANT_FALSE, &done), S_OK);
  EXPECT_EQ(journal.Joined(), "c2 DownloadParamList2 bstr:Mixed null -1 | c1 UploadParamList2 bstr:Empty null 0");
  EXPECT_EQ(dtm->UploadParamList(Key(u"NoSuchList"), VARIANT_FALSE, &done), E_FAIL);
}

TEST_F(CommunicationClient, ATransferCanBeCancelledByItsIdOnlyWhileItRuns) {
  Connect();
  Create();
  const ULONG id = AddressedParameter({kHart});
  MakeList(u"L", {id});
  dtm->ForceState(dsONLINE);
  vkr::Bstr transfer(u"{T-1}");
  VARIANT_BOOL cancelled = VARIANT_FALSE;
  HRESULT during = E_UNEXPECTED;
  Made(0).onTransfer = [&] { during = dtm->CancelParamListTransfer(transfer, &cancelled); };
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(dtm->UploadParamList2(Key(u"L"), transfer, VARIANT_TRUE, &done), S_OK);
  EXPECT_EQ(during, S_OK);
  EXPECT_EQ(cancelled, VARIANT_TRUE);
  EXPECT_TRUE(journal.Has("c1 CancelParamListTransfer {T-1}"));
  // Ended: nothing to cancel; an empty or null id never names one.
  cancelled = VARIANT_TRUE;
  EXPECT_EQ(dtm->CancelParamListTransfer(transfer, &cancelled), S_FALSE);
  EXPECT_EQ(cancelled, VARIANT_FALSE);
  vkr::Bstr empty(u"");
  EXPECT_EQ(dtm->CancelParamListTransfer(empty, &cancelled), S_FALSE);
  EXPECT_EQ(dtm->CancelParamListTransfer(nullptr, &cancelled), S_FALSE);
  EXPECT_EQ(dtm->CancelParamListTransfer(transfer, nullptr), E_INVALIDARG);
  // Without an id a running transfer cannot be named.
  Made(0).onTransfer = [&] { during = dtm->CancelParamListTransfer(empty, &cancelled); };
  ASSERT_EQ(dtm->UploadParamList(Key(u"L"), VARIANT_TRUE, &done), S_OK);
  EXPECT_EQ(during, S_FALSE);
}

TEST_F(CommunicationClient, GenericServicesNeedTheChannelAndGoToTheNamedOrFirstConnection) {
  vkr::Bstr hart(vkr::Utf8ToUtf16(kHart));
  vkr::Variant result;
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(dtm->RequestService(hart, Key(u"s"), Empty(), result.Ptr(), &done), S_FALSE);  // no channel
  EXPECT_EQ(done, VARIANT_FALSE);
  vkr::Bstr text(u"req");
  EXPECT_EQ(dtm->SendGenericRequest(hart, I4(1), text, Empty(), Empty(), &done), S_FALSE);
  Connect();
  Create();
  ASSERT_EQ(dtm->SendGenericRequest(hart, I4(1), text, Empty(), Empty(), &done), S_OK);
  vkr::Variant key;
  EXPECT_EQ(dtm->SendGenericRequestAsync(nullptr, key.Ptr(), &done), E_INVALIDARG);
  EXPECT_EQ(dtm->SendGenericRequestAsync(dtm->GetControllingUnknown(), nullptr, &done), E_INVALIDARG);
  ASSERT_EQ(dtm->SendGenericRequestAsync(dtm->GetControllingUnknown(), key.Ptr(), &done), S_OK);
  EXPECT_EQ(Show(key), "ui4:77");
  ASSERT_EQ(dtm->CancelGenericRequest(key, &done), S_OK);
  vkr::Bstr other(u"other");
  EXPECT_EQ(dtm->RequestService(other, Key(u"s"), Empty(), result.Ptr(), &done), E_FAIL);
  EXPECT_EQ(journal.With("c1 ").size(), 4u) << journal.Joined();
}

TEST_F(CommunicationClient, ASubscriptionCountsOnlyWhenTheServiceSaysDone) {
  vkr::Bstr hart(vkr::Utf8ToUtf16(kHart));
  EXPECT_EQ(dtm->Subscribe(hart, I4(3)), E_UNEXPECTED);  // no connection
  Connect();
  Create();
  ASSERT_EQ(dtm->Subscribe(hart, I4(3)), S_OK);
  ASSERT_EQ(dtm->Unsubscribe(hart, I4(3)), S_OK);
  EXPECT_TRUE(journal.Has(std::string("c1 RequestService ") + kHart + " bstr:subscribe i4:3"));
  EXPECT_TRUE(journal.Has(std::string("c1 RequestService ") + kHart + " bstr:unsubscribe i4:3"));
  Made(0).serviceDone = false;
  EXPECT_EQ(dtm->Subscribe(hart, I4(3)), E_FAIL);
  vkr::Bstr other(u"other");
  EXPECT_EQ(dtm->Unsubscribe(other, I4(3)), E_FAIL);
}

// ---- Protocol choice ----------------------------------------------------------------------------

TEST_F(CommunicationClient, WithOneProtocolTheChannelMakesItCurrentWithoutAskingTheFrame) {
  FakeProtocol only(&journal, "p1", kHart);
  dtm->UseProtocols({&only});
  Connect();
  EXPECT_EQ(dtm->GetCurrentProtocol(), &only);
  EXPECT_EQ(journal.Joined(), "p1 AttachDtm");
  EXPECT_TRUE(dtm->AreProtocolsAttached());
  journal.Clear();
  Connect();
  EXPECT_EQ(journal.Joined(), "");  // chosen once
  // Dropping the channel detaches what was attached, and only that once.
  ASSERT_EQ(Client()->SetCommunication(nullptr), S_OK);
  EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
  EXPECT_FALSE(dtm->AreProtocolsAttached());
  ASSERT_EQ(Client()->SetCommunication(nullptr), S_OK);
  EXPECT_EQ(journal.Joined(), "p1 DetachDtm");
}

TEST_F(CommunicationClient, AmongSeveralProtocolsTheFramesFirstListedCategoryDecides) {
  FakeProtocol a(&journal, "pa", "AAAA"), b(&journal, "pb", "BBBB");
  dtm->UseProtocols({&a, &b});
  channel->protocols = BusCategories({"cccc", "bbbb", "aaaa"});
  Connect();
  EXPECT_EQ(dtm->GetCurrentProtocol(), &b);
  EXPECT_EQ(journal.Joined(), "channel GetSupportedProtocols | pb AttachDtm");
  EXPECT_EQ(dtm->ChooseProtocolByBusCategory(nullptr), E_UNEXPECTED);  // chosen once
}

TEST_F(CommunicationClient, TheDeviceDocumentDecidesWhenExactlyOneProtocolAcceptsIt) {
  FakeProtocol a(&journal, "pa", "AAAA"), b(&journal, "pb", "BBBB");
  dtm->UseProtocols({&a, &b});
  channel->protocols = BusCategories({"aaaa"});
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  vkr::Bstr xml(u"<Device/>");
  ASSERT_EQ(LoadXmlFromString(xml, document.Put(), &loaded), S_OK);
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(dtm->SetBusInformation(nullptr, &done), E_INVALIDARG);
  EXPECT_EQ(dtm->SetBusInformation(document.Get(), nullptr), E_INVALIDARG);
  // Neither accepts and there is no channel to ask: nothing chosen, nothing to do.
  ASSERT_EQ(dtm->SetBusInformation(document.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
  b.acceptsDocument = true;
  journal.Clear();
  ASSERT_EQ(dtm->SetBusInformation(document.Get(), &done), S_OK);
  EXPECT_EQ(dtm->GetCurrentProtocol(), &b);
  EXPECT_EQ(journal.Joined(),
            "pa AttachDtm | pa SetBusAddressFromXml | pb AttachDtm | pb SetBusAddressFromXml | pb SetBusAddressFromXml");
  // Both accept: the frame's categories decide.
  a.acceptsDocument = true;
  dtm->UseProtocols({&a, &b});
  Connect();
  EXPECT_EQ(dtm->GetCurrentProtocol(), &a);
  b.acceptsDocument = false;
  EXPECT_EQ(dtm->SetBusInformation(document.Get(), &done), S_OK);  // a accepts
  dtm->UseProtocols({});
  EXPECT_EQ(dtm->SetBusInformation(document.Get(), &done), E_UNEXPECTED);
}

TEST_F(CommunicationClient, InitializeCurrentProtocolBuildsTheTableAndReturnsItsResult) {
  dtm->UseProtocols({});
  EXPECT_EQ(dtm->InitializeCurrentProtocol(), S_FALSE);
  FakeProtocol a(&journal, "pa", "AAAA"), b(&journal, "pb", "BBBB");
  dtm->UseProtocols({&a, &b});
  a.tableResult = E_NOINTERFACE;
  EXPECT_EQ(dtm->InitializeCurrentProtocol(), E_NOINTERFACE);
  channel->protocols = BusCategories({"BBBB"});
  Connect();
  journal.Clear();
  EXPECT_EQ(dtm->InitializeCurrentProtocol(), S_OK);
  // The fake never holds the parameter model, so it is attached before every build.
  EXPECT_EQ(journal.Joined(), "pb AttachDtm | pb InitParameterTable");
}

// ---- Bus information ----------------------------------------------------------------------------

TEST_F(CommunicationClient, BusInformationIsOneBlockOrOneBlockPerProtocolInExtendedMode) {
  FakeProtocol a(&journal, "pa", "AAAA"), b(&journal, "pb", "BBBB");
  b.busAddress = u"<SlaveAddress slaveAddress=\"7\" />";
  dtm->UseProtocols({&a, &b});
  vkr::Bstr text;
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(dtm->GetBusInformation(text.Put(), nullptr), E_INVALIDARG);
  // No protocol chosen: the first one answers without becoming current.
  ASSERT_EQ(dtm->GetBusInformation(text.Put(), &done), S_OK);
  EXPECT_EQ(Text(text), "<BusInformation><SlaveAddress slaveAddress=\"0\" /></BusInformation>");
  EXPECT_EQ(dtm->GetCurrentProtocol(), nullptr);
  a.busAddressDone = false;
  EXPECT_EQ(dtm->GetBusInformation(text.Put(), &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);

  dtm->SetExtendedBusInformation(true);
  b.busAddressDone = true;
  ASSERT_EQ(dtm->GetBusInformation(text.Put(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Text(text), "<BusInformation fdt:busCategory=\"BBBB\"><SlaveAddress slaveAddress=\"7\" /></BusInformation>");
  a.busAddressDone = true;
  ASSERT_EQ(dtm->GetBusInformation(text.Put(), &done), S_OK);
  EXPECT_EQ(Text(text),
            "<BusInformation fdt:busCategory=\"AAAA\"><SlaveAddress slaveAddress=\"0\" /></BusInformation>"
            "<BusInformation fdt:busCategory=\"BBBB\"><SlaveAddress slaveAddress=\"7\" /></BusInformation>");
  a.busAddress = u" ";  // too short to be an address
  b.busAddressDone = false;
  ASSERT_EQ(dtm->GetBusInformation(text.Put(), &done), S_OK);
  EXPECT_EQ(text.Get(), nullptr);

  dtm->SetExtendedBusInformation(false);
  dtm->UseProtocols({});
  done = VARIANT_FALSE;
  EXPECT_EQ(dtm->GetBusInformation(text.Put(), &done), S_OK);  // nothing to tell
  EXPECT_EQ(done, VARIANT_TRUE);
}

TEST_F(CommunicationClient, ParameterProtocolTextsAreCollectedOnlyInExtendedModeForDeviceParameters) {
  FakeProtocol a(&journal, "pa", "AAAA"), b(&journal, "pb", "BBBB");
  b.parameterText = u"<B/>";
  dtm->UseProtocols({&a, &b});
  const ULONG id = AddressedParameter({kHart});
  SetAddressed(id, 1);
  vkr::Bstr text;
  EXPECT_EQ(dtm->GetParameterProtocolInfo(UI4(id), nullptr), E_INVALIDARG);
  EXPECT_EQ(dtm->GetParameterProtocolInfo(UI4(id), text.Put()), S_FALSE);
  dtm->SetExtendedBusInformation(true);
  ASSERT_EQ(dtm->GetParameterProtocolInfo(UI4(id), text.Put()), S_OK);
  EXPECT_EQ(Text(text), "<B/>");
  SetAddressed(id, 0);
  journal.Clear();
  ASSERT_EQ(dtm->GetParameterProtocolInfo(UI4(id), text.Put()), S_OK);
  EXPECT_EQ(Text(text), "");
  EXPECT_TRUE(journal.With("pa CheckTransferArguments").empty());
}

TEST_F(CommunicationClient, InfoRequestsOfKindOneAndTwoAnswerTheArgumentAsAnArray) {
  vkr::Variant result;
  EXPECT_EQ(dtm->InfoRequest(I4(2), UI4(5), nullptr), E_INVALIDARG);
  for (VARIANT kind : {I4(1), I4(2), UI4(2)}) {
    for (ULONG value : {0u, 5u, 0xFFFFFFFFu}) {
      ASSERT_EQ(dtm->InfoRequest(kind, UI4(value), result.Ptr()), S_OK) << Show(kind) << " " << value;
      ASSERT_EQ(result.vt, VT_ARRAY | VT_UI4);
      LONG lower = -1, upper = -1;
      SafeArrayGetLBound(result.parray, 1, &lower);
      SafeArrayGetUBound(result.parray, 1, &upper);
      EXPECT_EQ(lower, 0);
      EXPECT_EQ(upper, 0);
      ULONG element = 0;
      LONG at = 0;
      SafeArrayGetElement(result.parray, &at, &element);
      EXPECT_EQ(element, value);
    }
  }
  EXPECT_EQ(dtm->InfoRequest(I4(2), I4(5), result.Ptr()), E_INVALIDARG);
  // Other kinds are the current protocol's; without one nothing is answered.
  FakeProtocol a(&journal, "pa", "AAAA");
  dtm->UseProtocols({&a});
  result.Clear();
  EXPECT_EQ(dtm->InfoRequest(I4(3), UI4(5), result.Ptr()), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(dtm->InfoRequestEx(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12), S_OK);
  Connect();
  EXPECT_EQ(dtm->InfoRequest(I4(3), UI4(5), result.Ptr()), E_INVALIDARG);
  ASSERT_EQ(dtm->InfoRequestEx(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12), S_OK);
  EXPECT_EQ(journal.With("pa Info"), (std::vector<std::string>{"pa InfoRequest i4:3", "pa InfoRequestEx 1 12"}));
}

TEST_F(CommunicationClient, TheFramesAnswersToTheDtmItselfAreAccepted) {
  vkr::Bstr a(u"a");
  EXPECT_EQ(dtm->OnAbort(a), S_OK);
  EXPECT_EQ(dtm->OnConnectResponse(a, a), S_OK);
  EXPECT_EQ(dtm->OnDisconnectResponse(a, a), S_OK);
  EXPECT_EQ(dtm->OnTransactionResponse(a, a), S_OK);
  EXPECT_EQ(dtm->OnParentVersion(a, a, nullptr), S_OK);
  EXPECT_EQ(dtm->ConnectWithRequest(Empty(), nullptr), E_NOTIMPL);
}

}  // namespace

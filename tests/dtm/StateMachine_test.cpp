// The DTM state machine: what each transition does and in which order, the device class's
// function switching, the messages of the states reached, the admitted states of the FDT calls,
// the DTM message dispatch and the user interfaces' update subscriptions.
#include <gtest/gtest.h>

#include "tests/support/comm_client_fakes.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/temp_files.h"

namespace {

using namespace vkr::test;

class StateMachine : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeUserInterface>(&ui), S_OK);
    ui->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeContainer>(&container), S_OK);
    dtm->SetThread(thread.Get());
    dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  }
  // Walks the DTM along states without looking at what happens on the way.
  void Walk(std::initializer_list<EDtmState> states) {
    for (EDtmState s : states) dtm->SetDTMState(s);
    journal.Clear();
  }

  Journal journal;
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
  vkr::ComPtr<vkr::ComObject<FakeContainer>> container;
};

TEST_F(StateMachine, ReachingConfiguredRunsTheFunctionListJobAndTellsItsUserInterfaces) {
  Walk({dsINITNEWPERSIST, dsENVIRONMENTSET, dsINITIALIZED});
  ASSERT_EQ(dtm->SetDTMState(dsCONFIGURED), S_OK);
  EXPECT_EQ(journal.Joined(), "job 12 empty | ui state 8 | worker state ui4:65 i4:7");
}

TEST_F(StateMachine, ALoadedDataSetIsBroadcastBeforeTheFunctionListJob) {
  Walk({dsLOADED, dsINITIALIZED});
  dtm->SetDataSetLoaded(true);
  dtm->SetDTMState(dsCONFIGURED);
  EXPECT_EQ(journal.Joined(), "ui command i4:9991 empty | job 12 empty | ui state 8 | worker state ui4:65 i4:7");
  // Configured again from above: no second announcement.
  Walk({dsCOMMUNICATIONSET});
  dtm->SetDTMState(dsCONFIGURED);
  EXPECT_TRUE(journal.With("job 12").empty()) << journal.Joined();
}

TEST_F(StateMachine, SettingCommunicationEmptiesTheDeviceValuesFirst) {
  Walk({dsINITNEWPERSIST, dsENVIRONMENTSET, dsINITIALIZED, dsCONFIGURED});
  ULONG count = 0;
  ASSERT_EQ(dtm->GetCollectionCount(&count), S_OK);
  ASSERT_GT(count, 0u);
  ParInfo first;
  ASSERT_EQ(dtm->GetParInfoAt(0, &first), S_OK);
  ParInfo withValue;
  withValue.m_vDevValue.vt = VT_I4;
  withValue.m_vDevValue.lVal = 42;
  ASSERT_EQ(dtm->SetParInfoFields(first.m_nId, PIF_DEV_VALUE, withValue), S_OK);
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  ParInfo after;
  ASSERT_EQ(dtm->GetParInfoAt(0, &after), S_OK);
  EXPECT_EQ(after.m_vDevValue.vt, VT_EMPTY);
  EXPECT_EQ(journal.Joined(), "ui state 9 | worker state ui4:66 i4:8");
  EXPECT_TRUE(IsSignalled(dtm->StateSettledEvent()));
}

TEST_F(StateMachine, GoingOnlineAndOnlineStartTheUpdateAndTellTheFrame) {
  Walk({dsCOMMUNICATIONSET});
  ASSERT_TRUE(IsSignalled(dtm->StateSettledEvent()));
  dtm->SetDTMState(dsGOINGONLINE);
  EXPECT_FALSE(IsSignalled(dtm->StateSettledEvent()));
  EXPECT_EQ(journal.Joined(), "ui state 10");
  journal.Clear();
  dtm->SetDTMState(dsONLINE);
  EXPECT_TRUE(IsSignalled(dtm->StateSettledEvent()));
  EXPECT_EQ(journal.Joined(), "rate i4:100 | ui state 12 | job 21 ui4:1 | worker state ui4:67 i4:10");
}

TEST_F(StateMachine, LeavingOnlineStopsTheUpdateAndTellsTheFrame) {
  Walk({dsCOMMUNICATIONSET, dsGOINGONLINE, dsONLINE});
  dtm->SetDTMState(dsGOINGOFFLINE);
  EXPECT_EQ(journal.Joined(), "rate i4:0 | ui state 11 | job 21 ui4:0");
  EXPECT_FALSE(IsSignalled(dtm->StateSettledEvent()));
  journal.Clear();
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  EXPECT_EQ(journal.Joined(), "ui state 9 | worker state ui4:66 i4:11");
  // A lost connection goes from online straight back.
  Walk({dsONLINE});
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  EXPECT_EQ(journal.Joined(), "rate i4:0 | ui state 9 | job 21 ui4:0 | worker state ui4:66 i4:12");
}

TEST_F(StateMachine, OnlineAgainRunsEveryStepButTheChangeOfOnlineState) {
  Walk({dsCOMMUNICATIONSET, dsGOINGONLINE, dsONLINE});
  dtm->SetDTMState(dsONLINE);
  EXPECT_EQ(journal.Joined(), "ui state 12 | worker state ui4:67 i4:12");
}

TEST_F(StateMachine, AnFdt121FrameGetsTheStateDocumentInsteadOfTheOnlineJob) {
  vkr::ComPtr<vkr::ComObject<FakeStateEvents>> events;
  ASSERT_EQ(vkr::MakeObject<FakeStateEvents>(&events), S_OK);
  dtm->SetFdt121(events.Get());
  Walk({dsCOMMUNICATIONSET, dsGOINGONLINE});
  dtm->SetDTMState(dsONLINE);
  EXPECT_TRUE(journal.With("job 21").empty()) << journal.Joined();
  // Without the frame's state interface the job stands in.
  dtm->SetFdt121(nullptr);
  Walk({dsCOMMUNICATIONSET});
  dtm->SetDTMState(dsONLINE);
  EXPECT_EQ(journal.With("job 21"), std::vector<std::string>{"job 21 ui4:1"});
}

TEST_F(StateMachine, ReachingInitializedReportsTheCollectedErrorsFirst) {
  dtm->OnError("first %d", 1);
  dtm->OnError("%s", "second");
  EXPECT_EQ(dtm->InitErrors(), (std::vector<std::string>{"first 1", "second"}));
  EXPECT_TRUE(journal.entries.empty());
  Walk({dsINITNEWPERSIST, dsENVIRONMENTSET});
  dtm->SetDTMState(dsINITIALIZED);
  EXPECT_EQ(journal.Joined(), "ui state 7 | job 17 bstr:first 1 | job 17 bstr:second | worker state ui4:64 i4:6");
  EXPECT_FALSE(dtm->Collecting());
  EXPECT_EQ(dtm->StopCollectInitError(), S_FALSE);
  journal.Clear();
  dtm->OnError("%s", "later");
  EXPECT_EQ(journal.Joined(), "job 17 bstr:later");
}

TEST_F(StateMachine, ErrorTextsStopAtTheirLimitAndNullFormatsAreNothing) {
  const std::string longText(5000, 'x');
  dtm->OnError("%s", longText.c_str());
  dtm->OnError(static_cast<const char*>(nullptr));
  dtm->OnError("", 1);
  ASSERT_EQ(dtm->InitErrors().size(), 1u);
  EXPECT_EQ(dtm->InitErrors()[0], std::string(4096, 'x'));
}

TEST_F(StateMachine, PreparedToDeleteSendsItsMessage) {
  Walk({dsCONFIGURED});
  dtm->SetDTMState(dsPREPAREDTODELETE);
  EXPECT_EQ(journal.Joined(), "ui state 2 | worker state ui4:68 i4:8");
  dtm->SetDTMState(dsPREPAREDTORELEASE);
  EXPECT_EQ(journal.With("worker").size(), 1u) << journal.Joined();
}

TEST_F(StateMachine, CommunicationSwitchesTheCommunicationFunctions) {
  dtm->SetContainer(container.Get());
  Walk({dsCONFIGURED});
  EXPECT_FALSE(dtm->FunctionEnabled(1));
  EXPECT_FALSE(dtm->FunctionEnabled(2));
  EXPECT_TRUE(dtm->FunctionEnabled(3));
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  for (LONG id : {1, 2, 3, 4}) EXPECT_TRUE(dtm->FunctionEnabled(id)) << id;
  // Each switch lets the frame know (job 12 per function).
  EXPECT_EQ(journal.With("job 12").size(), 4u) << journal.Joined();
  journal.Clear();
  dtm->SetDTMState(dsONLINE);
  EXPECT_TRUE(journal.With("job 12").empty());
  dtm->SetDTMState(dsCONFIGURED);
  EXPECT_FALSE(dtm->FunctionEnabled(1));
  EXPECT_FALSE(dtm->FunctionEnabled(2));
  EXPECT_FALSE(dtm->FunctionEnabled(4));
  EXPECT_TRUE(dtm->FunctionEnabled(3));
  EXPECT_TRUE(dtm->FunctionEnabled(5));
}

TEST_F(StateMachine, FunctionsStayAsTheyAreWithoutTheFramesContainerOrAnnouncement) {
  Walk({dsCONFIGURED});
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  EXPECT_FALSE(dtm->FunctionEnabled(1));
  EXPECT_TRUE(journal.With("job 12").empty());
  dtm->SetContainer(container.Get());
  dtm->SetAnnouncingOff(true);
  Walk({dsCONFIGURED});
  dtm->SetDTMState(dsCOMMUNICATIONSET);
  EXPECT_TRUE(dtm->FunctionEnabled(1));
  EXPECT_TRUE(journal.With("job 12").empty()) << journal.Joined();
}

TEST_F(StateMachine, WithoutTheDtmThreadTheStepsFailQuietly) {
  dtm->SetThread(nullptr);
  Walk({dsCOMMUNICATIONSET});
  EXPECT_EQ(dtm->SetDTMState(dsONLINE), S_OK);
  EXPECT_EQ(dtm->CallStartParameterUpdate(), E_FAIL);
  EXPECT_EQ(journal.Joined(), "ui state 12 | worker state ui4:67 i4:9");
}

TEST_F(StateMachine, AUserInterfaceThatFailsDoesNotStopTheTransition) {
  ui->commandResult = E_FAIL;
  Walk({dsLOADED, dsINITIALIZED});
  dtm->SetDataSetLoaded(true);
  EXPECT_EQ(dtm->SetDTMState(dsCONFIGURED), S_OK);
  EXPECT_TRUE(journal.Has("job 12 empty"));
}

TEST_F(StateMachine, TheStateIsReadBack) {
  EDtmState state = dsONLINE;
  EXPECT_EQ(dtm->GetDTMState(nullptr), E_INVALIDARG);
  ASSERT_EQ(dtm->GetDTMState(&state), S_OK);
  EXPECT_EQ(state, dsCREATED);
}

// ---- Admission -----------------------------------------------------------------------------

struct CallCase {
  const char* name;
  std::vector<int> admitted;
  HRESULT (*call)(TestDtm& dtm, VARIANT_BOOL* result);
  HRESULT refusal = S_FALSE;  // the answer outside the admitted states
};

HRESULT CallEnvironment(TestDtm& d, VARIANT_BOOL* r) {
  vkr::ComPtr<vkr::ComObject<FakeContainer>> c;
  vkr::MakeObject<FakeContainer>(&c);
  vkr::Bstr tag(u"tag");
  return static_cast<IDtm&>(d).Environment(tag, c.Get(), r);
}
HRESULT CallEnvironment2(TestDtm& d, VARIANT_BOOL* r) {
  vkr::ComPtr<vkr::ComObject<FakeContainer>> c;
  vkr::MakeObject<FakeContainer>(&c);
  vkr::Bstr tag(u"tag"), version(u"<FDT/>");
  return static_cast<IDtm2&>(d).Environment2(tag, c.Get(), version, r);
}
HRESULT CallInitNew(TestDtm& d, VARIANT_BOOL* r) {
  vkr::Bstr doc(u"<FDT/>");
  return static_cast<IDtm&>(d).InitNew(doc, r);
}
HRESULT CallConfig(TestDtm& d, VARIANT_BOOL* r) {
  vkr::Bstr doc(u"<FDT/>");
  return static_cast<IDtm&>(d).Config(doc, r);
}
HRESULT CallSetCommunication(TestDtm& d, VARIANT_BOOL* r) {
  vkr::ComPtr<vkr::ComObject<FakeChannel>> c;
  vkr::MakeObject<FakeChannel>(&c);
  return static_cast<IDtm&>(d).SetCommunication(c.Get(), r);
}

TEST_F(StateMachine, EveryCallIsAdmittedOnlyInItsStates) {
  const CallCase cases[] = {
      {"Environment", {4, 5}, CallEnvironment},
      {"Environment2", {4, 5}, CallEnvironment2},
      {"InitNew", {6}, CallInitNew},
      {"Config", {7}, CallConfig, S_OK},
      {"SetCommunication", {8}, CallSetCommunication},
      {"ReleaseCommunication", {9}, [](TestDtm& d, VARIANT_BOOL* r) { return d.ReleaseCommunication(r); }},
      {"PrepareToReleaseCommunication",
       {9, 10, 11, 12},
       [](TestDtm& d, VARIANT_BOOL* r) { return d.PrepareToReleaseCommunication(r); }},
      {"PrepareToDelete", {8}, [](TestDtm& d, VARIANT_BOOL* r) { return d.PrepareToDelete(r); }},
      {"PrepareToRelease", {2, 6, 8}, [](TestDtm& d, VARIANT_BOOL* r) { return d.PrepareToRelease(r); }},
      {"SetLanguage",
       {7, 8, 9, 10, 11, 12},
       [](TestDtm& d, VARIANT_BOOL* r) { return static_cast<IDtm&>(d).SetLanguage(1031, r); }},
      {"PrivateDialogEnabled",
       {8, 9, 10, 11, 12},
       [](TestDtm& d, VARIANT_BOOL* r) { return d.PrivateDialogEnabled(VARIANT_TRUE, r); }},
      {"SetSystemGuiLabel",
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       [](TestDtm& d, VARIANT_BOOL* r) {
         vkr::Bstr label(u"<FDT/>");
         return d.SetSystemGuiLabel(label, r);
       }},
      {"TryToGoOnlineAndVerifyDevice",
       {9, 10, 12},
       [](TestDtm& d, VARIANT_BOOL* r) { return d.TryToGoOnlineAndVerifyDevice(60000, 30000, r); },
       E_FAIL},
  };
  for (const CallCase& c : cases) {
    for (int s = dsUNDEFINED; s <= dsONLINE; ++s) {
      const bool admitted = std::find(c.admitted.begin(), c.admitted.end(), s) != c.admitted.end();
      // What an admitted call does is the lifecycle tests' business.
      if (admitted) continue;
      dtm->ForceState(static_cast<EDtmState>(s));
      journal.Clear();
      VARIANT_BOOL result = VARIANT_TRUE;
      const HRESULT hr = c.call(*dtm, &result);
      // TryToGoOnlineAndVerifyDevice's flag says "not found unverified"; it starts TRUE.
      if (c.refusal != E_FAIL) {
        EXPECT_EQ(result, VARIANT_FALSE) << c.name << " in state " << s;
      }
      if (admitted)
        EXPECT_NE(hr, c.refusal) << c.name << " in state " << s;
      else
        EXPECT_EQ(hr, c.refusal) << c.name << " in state " << s;
      EDtmState after = dsUNDEFINED;
      dtm->GetDTMState(&after);
      EXPECT_EQ(after, s) << c.name << " in state " << s;
      EXPECT_TRUE(journal.entries.empty()) << c.name << " in state " << s << ": " << journal.Joined();
    }
  }
}

TEST_F(StateMachine, SetLanguageIsAlsoAdmittedInStateSixForAnFdt121Frame) {
  dtm->ForceState(dsENVIRONMENTSET);
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(static_cast<IDtm&>(*dtm).SetLanguage(1031, &result), S_FALSE);
  vkr::ComPtr<vkr::ComObject<FakeStateEvents>> events;
  vkr::MakeObject<FakeStateEvents>(&events);
  dtm->SetFdt121(events.Get());
  EXPECT_NE(static_cast<IDtm&>(*dtm).SetLanguage(1031, &result), S_FALSE);
}

TEST_F(StateMachine, NullResultsAreRefusedBeforeTheState) {
  struct NullCase {
    const char* name;
    HRESULT expected;
    HRESULT (*call)(TestDtm& dtm);
  };
  const NullCase cases[] = {
      {"Environment", E_INVALIDARG, [](TestDtm& d) { return CallEnvironment(d, nullptr); }},
      {"InitNew", E_POINTER, [](TestDtm& d) { return CallInitNew(d, nullptr); }},
      {"Config", E_INVALIDARG, [](TestDtm& d) { return CallConfig(d, nullptr); }},
      {"SetCommunication", E_INVALIDARG, [](TestDtm& d) { return CallSetCommunication(d, nullptr); }},
      {"PrepareToRelease", E_INVALIDARG, [](TestDtm& d) { return d.PrepareToRelease(nullptr); }},
      {"PrepareToReleaseCommunication", E_INVALIDARG,
       [](TestDtm& d) { return d.PrepareToReleaseCommunication(nullptr); }},
      {"ReleaseCommunication", E_POINTER, [](TestDtm& d) { return d.ReleaseCommunication(nullptr); }},
      {"PrepareToDelete", E_POINTER, [](TestDtm& d) { return d.PrepareToDelete(nullptr); }},
      {"SetLanguage", E_POINTER, [](TestDtm& d) { return static_cast<IDtm&>(d).SetLanguage(1033, nullptr); }},
      {"PrivateDialogEnabled", E_INVALIDARG, [](TestDtm& d) { return d.PrivateDialogEnabled(VARIANT_TRUE, nullptr); }},
  };
  for (const NullCase& c : cases)
    for (int s : {0, 5, 8, 12}) {
      dtm->ForceState(static_cast<EDtmState>(s));
      EXPECT_EQ(c.call(*dtm), c.expected) << c.name << " in state " << s;
    }
  // A missing argument is refused, and the environment's are errors.
  dtm->ForceState(dsINITNEWPERSIST);
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(static_cast<IDtm&>(*dtm).Environment(nullptr, nullptr, &result), E_INVALIDARG);
  EXPECT_EQ(result, VARIANT_FALSE);
  dtm->ForceState(dsCONFIGURED);
  EXPECT_EQ(static_cast<IDtm&>(*dtm).SetCommunication(nullptr, &result), S_FALSE);
  dtm->ForceState(dsENVIRONMENTSET);
  EXPECT_EQ(static_cast<IDtm&>(*dtm).InitNew(nullptr, &result), S_FALSE);
}

TEST(Admission, TheTableOfCallsAndStates) {
  EXPECT_TRUE(IsCallAdmitted(DtmCall::PrepareToRelease, dsPREPAREDTODELETE, false));
  EXPECT_FALSE(IsCallAdmitted(DtmCall::PrepareToRelease, dsPREPAREDTORELEASE, false));
  EXPECT_FALSE(IsCallAdmitted(DtmCall::SetLanguage, dsENVIRONMENTSET, false));
  EXPECT_TRUE(IsCallAdmitted(DtmCall::SetLanguage, dsENVIRONMENTSET, true));
  EXPECT_FALSE(IsCallAdmitted(DtmCall::TryToGoOnlineAndVerifyDevice, dsGOINGOFFLINE, false));
  EXPECT_FALSE(IsCallAdmitted(DtmCall::Environment, static_cast<EDtmState>(13), false));
  EXPECT_STREQ(DtmStateName(12), "dsONLINE");
  EXPECT_STREQ(DtmStateName(13), "?");
  EXPECT_STREQ(DtmStateName(-1), "?");
}

// ---- Messages --------------------------------------------------------------------------------

TEST_F(StateMachine, MessageIdsAreConvertedAndUnknownOnesRefused) {
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"9");
  EXPECT_EQ(dtm->DtmMessage(text, I4(5)), S_OK);
  EXPECT_EQ(journal.Joined(), "job 9 i4:5");
  EXPECT_EQ(dtm->DtmMessage(UI4(12345), Empty()), S_FALSE);
  vkr::Variant notNumber;
  notNumber.vt = VT_BSTR;
  notNumber.bstrVal = SysAllocString(u"nine");
  EXPECT_TRUE(FAILED(dtm->DtmMessage(notNumber, Empty())));
  vkr::Variant unknown;
  unknown.vt = VT_UNKNOWN;
  unknown.punkVal = nullptr;
  EXPECT_TRUE(FAILED(dtm->DtmMessage(unknown, Empty())));
  EXPECT_EQ(dtm->DtmMessage(UI4(10014), Empty()), S_OK);
}

TEST_F(StateMachine, GoOnlineAndOfflineMessagesRunTheirJobsWhateverTheyAnswer) {
  thread->jobResult = E_FAIL;
  EXPECT_EQ(dtm->DtmMessage(I4(10), UI4(0)), S_OK);
  EXPECT_EQ(dtm->DtmMessage(UI4(11), I4(0)), S_OK);
  EXPECT_EQ(journal.Joined(), "job 10 ui4:0 | job 11 i4:0");
}

TEST_F(StateMachine, StateReachedMessagesVerifyAndTellTheUserInterfaces) {
  // 65 clears the verification value and the verification event.
  vkr::ComPtr<IovFdtDeviceVerification> verification;
  ASSERT_EQ(dtm->QueryInterface(IovFdtDeviceVerification::iid, verification.PutVoid()), S_OK);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(verification->SetDeviceVerificationStatus(UI4(2), &done), S_OK);
  SetEvent(dtm->VerificationEvent());
  EXPECT_EQ(dtm->DtmMessage(UI4(65), I4(7)), S_OK);
  vkr::Variant value;
  ASSERT_EQ(verification->GetDeviceVerificationStatus(&value, &done), S_OK);
  EXPECT_EQ(Show(value), "ui4:0");
  EXPECT_FALSE(IsSignalled(dtm->VerificationEvent()));
  for (ULONG id : {64u, 66u, 67u, 68u}) EXPECT_EQ(dtm->DtmMessage(UI4(id), Empty()), S_OK) << id;
  EXPECT_EQ(journal.Joined(), "worker ax 65 | worker ax 64 | worker ax 66 | worker ax 67 | worker ax 68");
  EXPECT_EQ(dtm->HandleDtmMsgDeviceVerification(63, Empty()), E_INVALIDARG);
  EXPECT_EQ(dtm->HandleDtmMsgDeviceVerification(69, Empty()), E_INVALIDARG);
}

TEST_F(StateMachine, AReportedTextIsNeverUsedAsAFormat) {
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"100% %s %n done");
  EXPECT_EQ(dtm->DtmMessage(UI4(10004), text), S_OK);
  EXPECT_EQ(dtm->InitErrors(), std::vector<std::string>{"100% %s %n done"});
  EXPECT_EQ(dtm->DtmMessage(UI4(10004), I4(1)), E_UNEXPECTED);
}

TEST_F(StateMachine, TheUpDownloadMessageSetsTheOneTransferFlag) {
  EXPECT_EQ(dtm->DtmMessage(UI4(48), I4(1)), S_OK);
  EXPECT_TRUE(dtm->AbortFlag());
  vkr::Variant no;
  no.vt = VT_BSTR;
  no.bstrVal = SysAllocString(u"false");
  EXPECT_EQ(dtm->DtmMessage(UI4(48), no), S_OK);
  EXPECT_FALSE(dtm->AbortFlag());
  vkr::Variant bad;
  bad.vt = VT_BSTR;
  bad.bstrVal = SysAllocString(u"perhaps");
  EXPECT_TRUE(FAILED(dtm->DtmMessage(UI4(48), bad)));
  EXPECT_FALSE(dtm->AbortFlag());
}

// ---- Subscriptions ---------------------------------------------------------------------------

TEST_F(StateMachine, SubscriptionsAddChangeAndRemoveCyclicReads) {
  vkr::Bstr key(u"ui-1");
  dtm->OnDynamicParamChanged(key, {Update(100, 500), Update(101, 1000)});
  EXPECT_EQ(journal.Joined(), "job 6 id 100 rate 500 | job 6 id 101 rate 1000");
  journal.Clear();
  dtm->OnDynamicParamChanged(key, {Update(101, 1000), Update(100, 250), Update(102, 100)});
  EXPECT_EQ(journal.Joined(), "job 8 id 100 rate 250 | job 6 id 102 rate 100");
  journal.Clear();
  dtm->OnDynamicParamChanged(key, {Update(102, 100)});
  EXPECT_EQ(journal.Joined(), "job 7 id 100 rate 250 | job 7 id 101 rate 1000");
  EXPECT_EQ(dtm->Subscriptions(u"ui-1").size(), 1u);
  journal.Clear();
  dtm->OnDynamicParamChanged(key, {});
  EXPECT_EQ(journal.Joined(), "job 7 id 102 rate 100");
  EXPECT_EQ(dtm->SubscriptionCount(), 0u);
}

TEST_F(StateMachine, UserInterfacesAnswerTheirUpdateListsThroughTheirMessages) {
  ui->updates = {Update(7, 100)};
  vkr::Variant key;
  key.vt = VT_BSTR;
  key.bstrVal = SysAllocString(u"ui-1");
  EXPECT_EQ(dtm->DtmMessage(UI4(3), key), S_OK);
  EXPECT_EQ(journal.Joined(), "job 6 id 7 rate 100");
  journal.Clear();
  // Released: its reads go, whatever it would answer.
  EXPECT_EQ(dtm->DtmMessage(UI4(2), key), S_OK);
  EXPECT_EQ(journal.Joined(), "job 7 id 7 rate 100");
  // A key of no open user interface.
  vkr::Variant other;
  other.vt = VT_BSTR;
  other.bstrVal = SysAllocString(u"ui-9");
  EXPECT_EQ(dtm->DtmMessage(UI4(3), other), E_FAIL);
}

TEST_F(StateMachine, ASubscriptionChangedWhileItsJobsRunStaysConsistent) {
  vkr::Bstr key(u"ui-1");
  dtm->OnDynamicParamChanged(key, {Update(1, 100), Update(2, 100), Update(3, 100)});
  // While the first removal runs, the user interface closes.
  bool nested = false;
  thread->onJob = [&](ULONG job, const VARIANT&) {
    if (job == 7 && !nested) {
      nested = true;
      dtm->OnDynamicParamChanged(key, {});
    }
  };
  journal.Clear();
  dtm->OnDynamicParamChanged(key, {Update(3, 100)});
  EXPECT_EQ(dtm->SubscriptionCount(), 0u);
  EXPECT_EQ(journal.With("job 7").size(), 3u) << journal.Joined();
}

// ---- Communication client's reports ------------------------------------------------------------

TEST_F(StateMachine, ConnectionReportsMoveTheDtmBetweenItsCommunicationStates) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  vkr::ComPtr<vkr::ComObject<FakeConnectionFactory>> factory;
  ASSERT_EQ(vkr::MakeObject<FakeConnectionFactory>(&factory), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  vkr::ComPtr<vkr::ComObject<BusChannel>> channel;
  ASSERT_EQ(vkr::MakeObject<BusChannel>(&channel), S_OK);
  ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(channel.Get()), S_OK);
  vkr::Bstr hart(vkr::Utf8ToUtf16(kHart)), c1, c2, missing(u"c9");
  ASSERT_EQ(dtm->CreateConnection(hart, c1.Put()), S_OK);
  ASSERT_EQ(dtm->CreateConnection(hart, c2.Put()), S_OK);

  Walk({dsCOMMUNICATIONSET, dsGOINGONLINE});
  EXPECT_EQ(dtm->OnConnected(c1, VARIANT_TRUE, Empty(), nullptr), S_OK);
  EDtmState state = dsUNDEFINED;
  dtm->GetDTMState(&state);
  EXPECT_EQ(state, dsONLINE);
  EXPECT_EQ(dtm->OnConnected(c2, VARIANT_TRUE, Empty(), nullptr), S_OK);
  EXPECT_EQ(dtm->OnDisconnected(c1, VARIANT_TRUE, Empty(), nullptr), S_OK);
  dtm->GetDTMState(&state);
  EXPECT_EQ(state, dsONLINE);  // c2 is still connected
  // A failed connect records the connection as not connected: the last one leaves.
  EXPECT_EQ(dtm->OnConnected(c2, VARIANT_FALSE, Empty(), nullptr), S_OK);
  dtm->GetDTMState(&state);
  EXPECT_EQ(state, dsCOMMUNICATIONSET);
  // c1 went with its disconnection; an unknown connection is an error.
  EXPECT_EQ(dtm->OnConnected(c1, VARIANT_TRUE, Empty(), nullptr), E_FAIL);
  EXPECT_EQ(dtm->OnConnected(missing, VARIANT_TRUE, Empty(), nullptr), E_FAIL);
  // Going offline is not overturned by a late connect.
  dtm->ForceState(dsGOINGOFFLINE);
  EXPECT_EQ(dtm->OnConnected(c2, VARIANT_TRUE, Empty(), nullptr), S_OK);
  dtm->GetDTMState(&state);
  EXPECT_EQ(state, dsGOINGOFFLINE);

  // Dropping the channel detaches the protocol, which holds the DTM.
  static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(nullptr);
  dtm = nullptr;
  CoRevokeClassObject(cookie);
  CoUninitialize();
}

TEST_F(StateMachine, TheVerificationValueIsKeptAsANumber) {
  vkr::ComPtr<IovFdtDeviceVerification> verification;
  ASSERT_EQ(dtm->QueryInterface(IovFdtDeviceVerification::iid, verification.PutVoid()), S_OK);
  VARIANT_BOOL done = VARIANT_TRUE;
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"not a number");
  EXPECT_EQ(verification->SetDeviceVerificationStatus(text, &done), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(verification->SetDeviceVerificationStatus(Empty(), &done), E_INVALIDARG);
  EXPECT_EQ(verification->SetDeviceVerificationStatus(I4(1), nullptr), E_INVALIDARG);
  EXPECT_EQ(verification->GetDeviceVerificationStatus(nullptr, &done), E_INVALIDARG);
  vkr::Variant two;
  two.vt = VT_BSTR;
  two.bstrVal = SysAllocString(u"2");
  EXPECT_EQ(verification->SetDeviceVerificationStatus(two, &done), S_OK);
  vkr::Variant value;
  EXPECT_EQ(verification->GetDeviceVerificationStatus(&value, &done), S_OK);
  EXPECT_EQ(Show(value), "ui4:2");
}

}  // namespace

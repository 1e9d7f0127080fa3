// The DTM's life as a frame leads it: environment, device type, user level, communication,
// language, going online on demand, data-set locks, the messages of its user interfaces, the
// reports to the frame, and release. The frame is the stand-in frame's container; every state
// document the DTM sends it must validate against the frame's schema set.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "frame/FrameContainer.h"
#include "tests/support/dtm_fakes.h"

namespace {

using namespace vkr::test;
using vkr::frame::FrameContainer;

// The DTM with what the frame and the thread would give it settable, and its workers run at once
// on this thread (where their calls would arrive marshalled).
class LifecycleDtm : public TestDtm {
 public:
  bool acceptDeviceType = true;
  LONG storageState = -1;  // -1: the data set's own
  int workersRun = 0;
  bool refuseWorkers = false;
  bool holdWorkers = false;  // keep the notifications on their way until RunHeld
  std::vector<std::unique_ptr<CWorker>> held;
  void RunHeld() {
    std::vector<std::unique_ptr<CWorker>> now;
    now.swap(held);
    for (auto& w : now) w->Execute(m_pContainer.Get(), this);
  }

  bool CheckDeviceType(IXMLDOMNode*) override { return acceptDeviceType; }
  // No real DTM thread: the test's fake stands in for it.
  const CLSID& GetDtmThreadClassId() override {
    static const CLSID none{};
    return none;
  }
  // The protocol's parameter table comes with the communication subsystem: no protocol here.
  HRESULT InitializeCommunicationProtocol() override { return S_FALSE; }
  HRESULT GetStorageStateValue(ULONG* state) override {
    if (!state) return E_POINTER;
    if (storageState < 0) return CVornExampleDtm::GetStorageStateValue(state);
    *state = static_cast<ULONG>(storageState);
    return S_OK;
  }
  HRESULT ExecuteWorkerThread(CWorker* worker) override {
    if (!worker) return E_INVALIDARG;
    if (refuseWorkers) {
      delete worker;
      return E_FAIL;
    }
    if (dynamic_cast<CProgressMessageWorker*>(worker) || dynamic_cast<COnStateChangedWorker*>(worker)) {
      if (holdWorkers) {
        held.emplace_back(worker);
        return S_OK;
      }
      ++workersRun;
      const HRESULT hr = worker->Execute(m_pContainer.Get(), this);
      delete worker;
      return hr;
    }
    return TestDtm::ExecuteWorkerThread(worker);
  }
  void SetTimeouts(DWORD online, DWORD verification) {
    m_dwOnlineTimeout = online;
    m_dwVerificationTimeout = verification;
  }
  void SetProgress(LONG threshold, LONG step) {
    m_nProgressThreshold = threshold;
    m_nProgressStep = step;
  }
  void SetCommError(LPCOLESTR descriptor, LPCOLESTR code) {
    m_bCommErrorDescriptor = descriptor != nullptr;
    m_bstrCommErrorDescriptor = vkr::Bstr(descriptor);
    m_bCommErrorCode = code != nullptr;
    m_bstrCommErrorCode = vkr::Bstr(code);
  }
  void SetFrameReportedLock(bool on) { m_bFrameReportedLock = on; }
  bool Locked() const { return m_bDataSetLocked; }
  ULONG LockCount() const { return m_nLockCount; }
  bool Fdt121() const { return m_bFdt121Frame; }
  ULONG UserLevel() const { return m_nUserLevel; }
  bool PrivateDialog() const { return m_bPrivateDialog; }
  void SetProgressSuppressed(bool on) { m_bAbortTransfer = on; }
  IFrameDtmStateEvents* StateEvents() const { return m_pFdt121Events.Get(); }

  // A device type that names the device table, relation texts given to its parameters as they
  // are added, and a value relation (kind 5) that sets its target's value and notes it.
  bool decodeDeviceType = false;
  std::map<ULONG, std::u16string> relations;
  std::vector<std::string> applied;
  float relationValue = 0;
  BSTR DecodeDeviceTypeString(BSTR text) override {
    if (!decodeDeviceType) return CVornExampleDtm::DecodeDeviceTypeString(text);
    return SysAllocString(u"VKR");
  }
  HRESULT AddParInfo(const ParInfo& record) override {
    auto it = relations.find(record.m_nId);
    if (it == relations.end()) return CVornExampleDtm::AddParInfo(record);
    ParInfo copy(record);
    VariantClear(&copy.m_vRelation);
    copy.m_vRelation.vt = VT_BSTR;
    copy.m_vRelation.bstrVal = SysAllocString(it->second.c_str());
    return CVornExampleDtm::AddParInfo(copy);
  }
  HRESULT EvaluateValueRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG,
                                VARIANT*) override {
    applied.push_back(std::to_string(source) + "->" + std::to_string(target));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = ++relationValue;
    return service->SetParameterValue(UI4(target), value);
  }
};

constexpr char16_t kDeviceType[] =
    u"<FDT xmlns=\"x-schema:DTMDeviceTypeSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<fdt:DtmDeviceType><fdt:VersionInformation name=\"VKR 2x\" vendor=\"Vorntec\" version=\"1.0\"/>"
    u"</fdt:DtmDeviceType></FDT>";

std::u16string UserInformation(const std::u16string& level) {
  return u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation userLevel=\"" + level +
         u"\"/></FDT>";
}

std::u16string FrameVersion(const std::u16string& major, const std::u16string& minor, const std::u16string& release) {
  return u"<FDT xmlns=\"x-schema:FDTFrameVersionSchema.xml\" xmlns:fdtvers=\"x-schema:FDTDataTypesSchema.xml\">"
         u"<FrameVersion><fdtvers:FDTVersion major=\"" +
         major + u"\" minor=\"" + minor + u"\" release=\"" + release + u"\"/></FrameVersion></FDT>";
}

class Lifecycle : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::MakeObject<LifecycleDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeUserInterface>(&ui), S_OK);
    ui->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
    dtm->SetThread(thread.Get());
    dtm->SetTimeouts(200, 200);
    OnJob(nullptr);
  }
  // What the fake thread does in a job besides recording it. Jobs 34 and 35 signal the event of
  // their argument at once, as the thread does once it holds the object.
  void OnJob(std::function<void(ULONG, const VARIANT&)> more) {
    thread->onJob = [more](ULONG job, const VARIANT& argument) {
      if ((job == 34 || job == 35) && argument.vt == (VT_ARRAY | VT_VARIANT)) {
        vkr::Variant event;
        LONG index = 0;
        if (SUCCEEDED(SafeArrayGetElement(argument.parray, &index, &event)) && event.vt == VT_UI4)
          SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event.ulVal)));
      }
      if (more) more(job, argument);
    };
  }
  void TearDown() override {
    // Safe after a SetUp that stopped early (no frame yet).
    if (frame)
      for (const std::string& reason : frame->invalidDocuments) ADD_FAILURE() << "invalid state document: " << reason;
    // A frame gives the channel back before it lets go of the DTM; the attached protocol would
    // otherwise keep the DTM alive.
    if (dtm) static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(nullptr);
    dtm = nullptr;
    thread = nullptr;
    ui = nullptr;
    frame = nullptr;
    CoUninitialize();
  }
  IDtm& Dtm() { return static_cast<IDtm&>(*dtm); }

  // Persistence's InitNew stands here as the state it reaches.
  void ToEnvironment(bool fdt121) {
    dtm->ForceState(dsINITNEWPERSIST);
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr tag(u"VKR-1");
    if (fdt121) {
      vkr::Bstr version(FrameVersion(u"1", u"2", u"1"));
      ASSERT_EQ(static_cast<IDtm2&>(*dtm).Environment2(tag, frame.Get(), version, &result), S_OK);
    } else {
      ASSERT_EQ(Dtm().Environment(tag, frame.Get(), &result), S_OK) << Errors();
    }
    ASSERT_EQ(result, VARIANT_TRUE);
  }
  void ToConfigured(bool fdt121 = true) {
    ToEnvironment(fdt121);
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr type(kDeviceType);
    ASSERT_EQ(Dtm().InitNew(type, &result), S_OK) << Errors();
    ASSERT_EQ(result, VARIANT_TRUE);
    vkr::Bstr user(UserInformation(u"maintenance"));
    ASSERT_EQ(Dtm().Config(user, &result), S_OK);
    ASSERT_EQ(result, VARIANT_TRUE);
  }
  void ToCommunicationSet() {
    ToConfigured();
    vkr::ComPtr<vkr::ComObject<FakeChannel>> channel;
    vkr::MakeObject<FakeChannel>(&channel);
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(Dtm().SetCommunication(channel.Get(), &result), S_OK);
    ASSERT_EQ(result, VARIANT_TRUE);
  }
  std::string Errors() {
    std::string all;
    for (const std::string& e : dtm->InitErrors()) all += e + "; ";
    return all;
  }
  EDtmState State() {
    EDtmState s = dsUNDEFINED;
    dtm->GetDTMState(&s);
    return s;
  }

  Journal journal;
  vkr::ComPtr<vkr::ComObject<LifecycleDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FakeUserInterface>> ui;
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
};

// ---- The calling sequence --------------------------------------------------------------------

TEST_F(Lifecycle, AFrameTakesTheDtmFromInitialisationToRelease) {
  ToCommunicationSet();
  EXPECT_EQ(State(), dsCOMMUNICATIONSET);
  EXPECT_EQ(dtm->UserLevel(), 4u);
  // This DTM goes online on demand, not at SetCommunication.
  EXPECT_FALSE(journal.Has("job 10 " + Show(UI4(0)))) << journal.Joined();
  for (const std::string& e : journal.entries) EXPECT_NE(e.rfind("job 10 ", 0), 0u) << journal.Joined();

  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Dtm().PrepareToReleaseCommunication(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_TRUE(journal.Has("job 15 empty")) << journal.Joined();
  ASSERT_EQ(Dtm().ReleaseCommunication(&result), S_OK);
  EXPECT_EQ(State(), dsCONFIGURED);
  ASSERT_EQ(Dtm().PrepareToDelete(&result), S_OK);
  EXPECT_EQ(State(), dsPREPAREDTODELETE);
  journal.Clear();
  ASSERT_EQ(Dtm().PrepareToRelease(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(State(), dsPREPAREDTORELEASE);
  EXPECT_TRUE(journal.Has("job 14 empty")) << journal.Joined();
}

TEST_F(Lifecycle, EnvironmentKeepsTheFrameAndReachesItsState) {
  ToEnvironment(false);
  EXPECT_EQ(State(), dsENVIRONMENTSET);
  EXPECT_FALSE(dtm->Fdt121());
  vkr::Bstr tag;
  ASSERT_EQ(dtm->GetSystemTag(tag.Put()), S_OK);
  EXPECT_EQ(tag.Str(), u"VKR-1");
  // A second Environment is outside its states.
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(Dtm().Environment(tag, frame.Get(), &result), S_FALSE);
  EXPECT_EQ(result, VARIANT_FALSE);
}

TEST_F(Lifecycle, EnvironmentRefusesAContainerWithoutFrameEvents) {
  vkr::ComPtr<vkr::ComObject<FakeContainer>> bare;  // no IDtmEvents
  vkr::MakeObject<FakeContainer>(&bare);
  dtm->ForceState(dsINITNEWPERSIST);
  VARIANT_BOOL result = VARIANT_TRUE;
  vkr::Bstr tag(u"VKR-1");
  EXPECT_EQ(Dtm().Environment(tag, bare.Get(), &result), S_FALSE);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(State(), dsINITNEWPERSIST);
}

TEST_F(Lifecycle, FrameVersionsSelectTheStateDocuments) {
  struct Case {
    const char16_t *major, *minor, *release;
    HRESULT hr;
    bool fdt121;
  };
  const Case cases[] = {{u"1", u"2", u"1", S_OK, true},
                        {u"1", u"2", u"0", S_OK, false},
                        {u"1", u"2", u"2", S_FALSE, false},
                        {u"1", u"3", u"0", S_FALSE, false},
                        {u"2", u"2", u"1", S_FALSE, false}};
  for (const Case& c : cases) {
    vkr::ComPtr<vkr::ComObject<LifecycleDtm>> fresh;
    ASSERT_EQ(vkr::MakeObject<LifecycleDtm>(&fresh), S_OK);
    fresh->ForceState(dsINITNEWPERSIST);
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr tag(u"T"), version(FrameVersion(c.major, c.minor, c.release));
    const std::string name = vkr::Utf16ToUtf8(version.View());
    EXPECT_EQ(static_cast<IDtm2&>(*fresh).Environment2(tag, frame.Get(), version, &result), c.hr) << name;
    EXPECT_EQ(result, c.hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE) << name;
    EXPECT_EQ(fresh->Fdt121(), c.fdt121) << name;
    // The communication client writes bus information per protocol for FDT 1.2.1 frames.
    EXPECT_EQ(fresh->IsExtendedBusInformation(), c.fdt121) << name;
    EXPECT_EQ(fresh->StateEvents() != nullptr, c.fdt121) << name;
  }
}

TEST_F(Lifecycle, InitNewAndConfigRefuseWhatTheyCannotUse) {
  ToEnvironment(true);
  VARIANT_BOOL result = VARIANT_TRUE;
  vkr::Bstr broken(u"<FDT><unclosed></FDT>");
  EXPECT_EQ(Dtm().InitNew(broken, &result), S_FALSE);
  // An element in no namespace inside the device type would fall into the parameter document's
  // namespace where the text is pasted, making that document invalid: such a type is refused.
  vkr::Bstr unqualified(
      u"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType><fdt:VersionInformation "
      u"name=\"VORN VKR HART DTM\" vendor=\"\" version=\"\"/><fdt:BusCategories><f/></fdt:BusCategories>"
      u"</fdt:DtmDeviceType></FDT>");
  EXPECT_EQ(Dtm().InitNew(unqualified, &result), S_FALSE);
  EXPECT_EQ(State(), dsENVIRONMENTSET);
  dtm->acceptDeviceType = false;
  vkr::Bstr type(kDeviceType);
  EXPECT_EQ(Dtm().InitNew(type, &result), S_FALSE);
  EXPECT_EQ(State(), dsENVIRONMENTSET);
  dtm->acceptDeviceType = true;
  ASSERT_EQ(Dtm().InitNew(type, &result), S_OK);
  EXPECT_EQ(Dtm().InitNew(type, &result), S_FALSE);  // state 7 now
  EXPECT_EQ(result, VARIANT_FALSE);
  // A level word the DTM does not know is refused: the observer's level and state 7 stay, and the
  // device's function 3 is not touched (the frame hears of no change).
  EXPECT_EQ(dtm->UserLevel(), 1u);
  journal.Clear();
  vkr::Bstr unknown(UserInformation(u"engineer"));
  ASSERT_EQ(Dtm().Config(unknown, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(dtm->UserLevel(), 1u);
  EXPECT_EQ(State(), dsINITIALIZED);
  EXPECT_TRUE(dtm->FunctionEnabled(3));
  EXPECT_TRUE(journal.entries.empty()) << journal.Joined();
  vkr::Bstr known(UserInformation(u"operator"));
  ASSERT_EQ(Dtm().Config(known, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(dtm->UserLevel(), 2u);
  EXPECT_FALSE(dtm->FunctionEnabled(3));
}

// The device type's parameters and IDtm::Config rebuild every relation: registered once per
// target, applied once each after the build; Config's changes end in one save request.
TEST_F(Lifecycle, TheDeviceTypeAndConfigRebuildTheRelations) {
  dtm->decodeDeviceType = true;
  // Two sources name 1127: the first by id keeps it.
  dtm->relations = {{1124, u"relation(5,1127)"}, {1125, u"relation(5,1127,5,1126)"}};
  ToEnvironment(true);
  VARIANT_BOOL result = VARIANT_FALSE;
  vkr::Bstr type(kDeviceType);
  ASSERT_EQ(Dtm().InitNew(type, &result), S_OK) << Errors();
  EXPECT_EQ(dtm->applied, (std::vector<std::string>{"1124->1127", "1125->1126"}));
  dtm->applied.clear();
  const auto saves = [&] {
    int n = 0;
    for (const std::string& note : frame->notifications) n += note == "save VKR-1";
    return n;
  };
  ASSERT_EQ(saves(), 0);
  vkr::Bstr user(UserInformation(u"maintenance"));
  ASSERT_EQ(Dtm().Config(user, &result), S_OK);
  ASSERT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(dtm->applied, (std::vector<std::string>{"1124->1127", "1125->1126"}));
  EXPECT_EQ(saves(), 1);
  vkr::Variant value;
  ASSERT_EQ(dtm->GetParameterValue(UI4(1126), value.Ptr()), S_OK);
  EXPECT_EQ(value.vt, VT_R4);
  EXPECT_EQ(value.fltVal, 4.0f);
}

TEST_F(Lifecycle, UserLevelsAreReadWithoutRegardToCase) {
  const std::pair<const char16_t*, ULONG> cases[] = {
      {u"observer", 1}, {u"Operator", 2}, {u"Maintenance", 4}, {u"PLANNINGENGINEER", 8}, {u"engineer", 8}};
  for (const auto& [word, level] : cases) {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(word);
    // An unknown word is refused and keeps the level.
    EXPECT_EQ(dtm->CheckUserLevel(text), std::u16string_view(word) == u"engineer" ? E_INVALIDARG : S_OK);
    VariantClear(&text);
    EXPECT_EQ(dtm->UserLevel(), level) << vkr::Utf16ToUtf8(word);
  }
}

TEST_F(Lifecycle, ConfigInTheWrongStateAnswersOkWithAFalseResult) {
  ToEnvironment(true);
  VARIANT_BOOL result = VARIANT_TRUE;
  vkr::Bstr user(UserInformation(u"operator"));
  EXPECT_EQ(Dtm().Config(user, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(State(), dsENVIRONMENTSET);
  // A refused call changes nothing, the device's function 3 included.
  EXPECT_TRUE(dtm->FunctionEnabled(3));
  EXPECT_EQ(Dtm().Config(user, nullptr), E_INVALIDARG);
}

TEST_F(Lifecycle, PrepareToDeleteAndReleaseWaitForOpenUserInterfaces) {
  ToConfigured();
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(Dtm().PrepareToDelete(&result), S_FALSE);
  EXPECT_EQ(State(), dsCONFIGURED);
  // The function container cannot ask the user yet: the release is refused and nothing changes.
  EXPECT_EQ(Dtm().PrepareToRelease(&result), S_FALSE);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(State(), dsCONFIGURED);
}

// ---- Language, private dialogs, label ----------------------------------------------------------

TEST_F(Lifecycle, SetLanguageBroadcastsAndFallsBackToEnglish) {
  ToConfigured();
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(Dtm().SetLanguage(1033, &result), S_OK);  // the current one: nothing to do
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_TRUE(journal.entries.empty()) << journal.Joined();
  // No translation here: an unknown language cannot be had, so English stays and the answer is
  // FALSE (S_OK after the fallback, the translation's failure when even that fails).
  const HRESULT hr = Dtm().SetLanguage(1041, &result);
  EXPECT_TRUE(hr == S_OK || FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(result, VARIANT_FALSE);
  LCID language = 0;
  dtm->GetCurLanguageId(&language);
  EXPECT_EQ(language, 1033u);
}

TEST_F(Lifecycle, PrivateDialogsReachTheUserInterfacesAsAFlag) {
  ToConfigured();
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Dtm().PrivateDialogEnabled(7, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_TRUE(dtm->PrivateDialog());
  EXPECT_TRUE(journal.Has("ui command i4:9998 bool:1")) << journal.Joined();
  ASSERT_EQ(Dtm().PrivateDialogEnabled(VARIANT_FALSE, &result), S_OK);
  EXPECT_TRUE(journal.Has("ui command i4:9998 bool:0")) << journal.Joined();
}

TEST_F(Lifecycle, TheSystemGuiLabelBecomesParameterTwo) {
  ToConfigured();
  VARIANT_BOOL result = VARIANT_FALSE;
  vkr::Bstr none(u"<FDT xmlns=\"x-schema:FDTSystemGuiLabelSchema.xml\" "
                 u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><SystemGuiLabel/></FDT>");
  EXPECT_EQ(static_cast<IDtm2&>(*dtm).SetSystemGuiLabel(none, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  vkr::Bstr label(u"<FDT xmlns=\"x-schema:FDTSystemGuiLabelSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
                  u"<SystemGuiLabel fdt:systemGuiLabel=\"Tank 7 &lt;left&gt;\"/></FDT>");
  const HRESULT hr = static_cast<IDtm2&>(*dtm).SetSystemGuiLabel(label, &result);
  EXPECT_EQ(result == VARIANT_TRUE, hr == S_OK);
  if (hr == S_OK) {
    vkr::Variant value;
    ASSERT_EQ(dtm->GetParameterValue(I4(2), &value), S_OK);
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(vkr::View(value.bstrVal)), u"Tank 7 <left>");
  }
}

// ---- Going online, state documents --------------------------------------------------------------

TEST_F(Lifecycle, GoingOnlineRunsJobTenAndWaitsForTheOnlineState) {
  ToCommunicationSet();
  // The fake connection: job 10 makes the DTM go online, as the communication client would.
  OnJob([&](ULONG job, const VARIANT& argument) {
    if (job != 10) return;
    dtm->SetDTMState(dsGOINGONLINE);
    dtm->SetDTMState(dsONLINE);
    SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(argument.ulVal)));
  });
  VARIANT_BOOL verified = VARIANT_FALSE;
  ASSERT_EQ(dtm->TryToGoOnlineAndVerifyDevice(200, 200, &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_TRUE);
  EXPECT_EQ(State(), dsONLINE);
  EXPECT_TRUE(IsSignalled(dtm->StateSettledEvent()));
  // An FDT 1.2.1 frame heard of each step, in valid documents.
  const std::vector<std::string> expected = {"state VKR-1: communicationSet -> goingOnline",
                                             "state VKR-1: goingOnline -> online"};
  std::vector<std::string> states;
  for (const std::string& n : frame->notifications)
    if (n.rfind("state ", 0) == 0) states.push_back(n);
  EXPECT_EQ(states, expected);
  // Online again: returns at once.
  journal.Clear();
  ASSERT_EQ(dtm->TryToGoOnlineAndVerifyDevice(200, 200, &verified), S_OK);
  EXPECT_TRUE(journal.With("job 10").empty());

  // Going offline on the frame's request.
  OnJob([&](ULONG job, const VARIANT&) {
    if (job != 11) return;
    dtm->SetDTMState(dsGOINGOFFLINE);
    dtm->SetDTMState(dsCOMMUNICATIONSET);
  });
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(Dtm().PrepareToReleaseCommunication(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(State(), dsCOMMUNICATIONSET);
  EXPECT_TRUE(frame->invalidDocuments.empty());
  EXPECT_EQ(frame->stateDocuments.size(), 4u);
}

TEST_F(Lifecycle, AFailedGoOnlineJobLeavesTheSettledEventSignalled) {
  ToCommunicationSet();
  thread->jobResult = E_FAIL;
  VARIANT_BOOL verified = VARIANT_TRUE;
  const DWORD start = GetTickCount();
  EXPECT_EQ(dtm->TryToGoOnlineAndVerifyDevice(200, 200, &verified), S_FALSE);
  EXPECT_EQ(verified, VARIANT_FALSE) << "a device the DTM never reached is not verified";
  EXPECT_EQ(State(), dsCOMMUNICATIONSET);
  EXPECT_TRUE(IsSignalled(dtm->StateSettledEvent()));
  // The release that follows does not wait out the online time.
  thread->jobResult = S_OK;
  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(Dtm().PrepareToReleaseCommunication(&result), S_OK);
  EXPECT_LT(GetTickCount() - start, 150u);
}

TEST_F(Lifecycle, GoingOnlineThatNeverHappensTimesOutWithSuccess) {
  ToCommunicationSet();
  VARIANT_BOOL verified = VARIANT_FALSE;
  EXPECT_EQ(dtm->TryToGoOnlineAndVerifyDevice(100, 100, &verified), S_OK);  // job ran, nobody answered
  EXPECT_EQ(State(), dsCOMMUNICATIONSET);
  EXPECT_EQ(verified, VARIANT_FALSE) << "a device the DTM never reached is not verified";
  dtm->ForceState(dsCONFIGURED);
  EXPECT_EQ(dtm->TryToGoOnlineAndVerifyDevice(100, 100, &verified), E_FAIL);
  EXPECT_EQ(dtm->TryToGoOnlineAndVerifyDevice(100, 100, nullptr), E_POINTER);
}

TEST_F(Lifecycle, StateDocumentsFollowTheTransitionTable) {
  ToCommunicationSet();
  struct Case {
    EDtmState from, to;
    HRESULT hr;
    const char* note;  // the frame's record, or "" for nothing sent
  };
  const Case cases[] = {{dsONLINE, dsONLINE, S_OK, ""},
                        {dsCONFIGURED, dsCOMMUNICATIONSET, S_FALSE, ""},
                        {dsGOINGONLINE, dsONLINE, S_OK, "state VKR-1: goingOnline -> online"},
                        {dsONLINE, dsGOINGOFFLINE, S_OK, "state VKR-1: online -> goingOffline"}};
  for (const Case& c : cases) {
    frame->notifications.clear();
    EXPECT_EQ(dtm->IfOnlineStateChangeNotifyFrame(c.from, c.to), c.hr) << c.from << "->" << c.to;
    if (*c.note)
      EXPECT_EQ(frame->notifications, std::vector<std::string>{c.note});
    else
      EXPECT_TRUE(frame->notifications.empty()) << c.from << "->" << c.to;
  }
}

TEST_F(Lifecycle, ACommunicationErrorTravelsEscapedInTheStateDocument) {
  ToCommunicationSet();
  vkr::Variant tag;
  tag.vt = VT_BSTR;
  tag.bstrVal = SysAllocString(u"A&B \"7\" <x>");
  ASSERT_EQ(dtm->SetParameterValue(I4(1), tag), S_OK);
  dtm->SetCommError(u"no answer <%s>", nullptr);
  frame->notifications.clear();
  EXPECT_EQ(dtm->IfOnlineStateChangeNotifyFrame(dsGOINGONLINE, dsCOMMUNICATIONSET), S_OK);
  ASSERT_EQ(frame->notifications.size(), 1u);
  EXPECT_EQ(frame->notifications[0], "state VKR-1: goingOnline -> communicationSet (communication error)");
  ASSERT_FALSE(frame->stateDocuments.empty());
  EXPECT_NE(frame->stateDocuments.back().find("tag=\"A&amp;B &quot;7&quot; &lt;x&gt;\""), std::string::npos)
      << frame->stateDocuments.back();
  dtm->SetCommError(u"d", u"0x41");
  EXPECT_EQ(dtm->IfOnlineStateChangeNotifyFrame(dsCOMMUNICATIONSET, dsGOINGONLINE), S_OK);
}

TEST_F(Lifecycle, AnFdt12FrameGetsNoStateDocument) {
  ToConfigured(false);
  EXPECT_EQ(dtm->IfOnlineStateChangeNotifyFrame(dsGOINGONLINE, dsONLINE), E_UNEXPECTED);
  EXPECT_TRUE(frame->stateDocuments.empty());
}

// ---- Data-set lock -----------------------------------------------------------------------------

TEST_F(Lifecycle, NestedLocksAskTheFrameOnceAndUnlockAfterTheSave) {
  EXPECT_EQ(dtm->LockDataset(true), E_POINTER);  // no frame yet
  ToConfigured();
  dtm->storageState = 1;  // modified
  EXPECT_EQ(dtm->UnlockDataset(), E_UNEXPECTED);
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  EXPECT_EQ(frame->lockRequests, 1);
  EXPECT_TRUE(frame->locked);
  ASSERT_EQ(dtm->UnlockDataset(), S_OK);
  ASSERT_EQ(dtm->UnlockDataset(), S_OK);
  EXPECT_EQ(frame->unlockRequests, 0);  // not saved yet
  EXPECT_EQ(dtm->UnlockDataset(), E_UNEXPECTED);
  dtm->storageState = 0;  // saved
  ASSERT_EQ(dtm->UnlockDatasetWhenSaved(), S_OK);
  EXPECT_EQ(frame->unlockRequests, 1);
  EXPECT_FALSE(frame->locked);
  EXPECT_FALSE(dtm->Locked());
  ASSERT_EQ(dtm->UnlockDatasetWhenSaved(), S_OK);
  EXPECT_EQ(frame->unlockRequests, 1);  // once
}

TEST_F(Lifecycle, SavingTheDataSetGivesBackAPendingLock) {
  ToConfigured();
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  dtm->storageState = 1;  // modified
  ASSERT_EQ(dtm->UnlockDataset(), S_OK);
  EXPECT_TRUE(frame->locked);  // not saved yet
  dtm->storageState = 0;  // what the save leaves
  vkr::ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
  ASSERT_EQ(dtm->SaveToStream(stream.Get(), TRUE), S_OK);
  EXPECT_FALSE(frame->locked);
  EXPECT_EQ(frame->lockRequests, frame->unlockRequests);
}

TEST_F(Lifecycle, ARefusedLockCountsAndAnUncountedLockDoesNot) {
  ToConfigured();
  frame->grantLock = false;
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  EXPECT_FALSE(dtm->Locked());
  EXPECT_EQ(dtm->LockCount(), 1u);
  ASSERT_EQ(dtm->UnlockDataset(), S_OK);
  ASSERT_EQ(dtm->LockDataset(false), S_OK);
  EXPECT_EQ(dtm->LockCount(), 0u);
  EXPECT_EQ(dtm->UnlockDataset(), E_UNEXPECTED);
  // A data set the frame reported locked is not asked for again.
  frame->grantLock = true;
  dtm->SetFrameReportedLock(true);
  const int asked = frame->lockRequests;
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  EXPECT_EQ(frame->lockRequests, asked);
}

TEST_F(Lifecycle, ARefusedUnlockIsReportedToTheFrame) {
  ToConfigured();
  dtm->storageState = 0;
  frame->grantUnlock = false;
  ASSERT_EQ(dtm->LockDataset(true), S_OK);
  EXPECT_EQ(dtm->UnlockDataset(), E_FAIL);
  EXPECT_FALSE(dtm->Locked());
  EXPECT_EQ(frame->notifications.back(), "error VKR-1: UnlockDataSet failed. Please clean up the database!");
}

// ---- Messages and progress ------------------------------------------------------------------

VARIANT Packed(LPCOLESTR text, LONG percent, bool flag) {
  SProgressEvent e;
  e.bstrText = vkr::Bstr(text);
  e.nPercent = percent;
  e.bFlag = flag;
  VARIANT v;
  VariantInit(&v);
  e.Pack(&v);
  return v;
}

TEST_F(Lifecycle, ProgressReachesTheFrameAndTheThresholdSkipsSteps) {
  ToConfigured();
  vkr::Variant report;
  static_cast<VARIANT&>(report) = Packed(u"Reading", 40, false);
  ASSERT_EQ(dtm->DtmMessage(UI4(18), report), S_OK);
  EXPECT_EQ(frame->notifications.back(), "progress VKR-1: Reading 40 0");
  EXPECT_EQ(dtm->DtmMessage(UI4(18), I4(3)), E_FAIL);

  frame->notifications.clear();
  dtm->SetProgress(10, 10);
  vkr::Bstr text(u"Upload");
  for (ULONG done = 1; done <= 25; ++done) dtm->UpdateProgress(done, 100, text);
  EXPECT_EQ(frame->notifications,
            (std::vector<std::string>{"progress VKR-1: Upload 11 1", "progress VKR-1: Upload 21 1"}));
  dtm->SetProgressSuppressed(true);
  frame->notifications.clear();
  for (ULONG done = 26; done <= 60; ++done) dtm->UpdateProgress(done, 100, text);
  EXPECT_TRUE(frame->notifications.empty());
  EXPECT_EQ(dtm->UpdateProgress(5, 0, text), S_OK);  // no whole: nothing, no fault
}

TEST_F(Lifecycle, AProgressThatCannotBeDeliveredDoesNotBlockTheNext) {
  ToConfigured();
  dtm->refuseWorkers = true;
  vkr::Bstr text(u"x");
  EXPECT_EQ(dtm->SendProgress(text, 1, 0), E_FAIL);
  EXPECT_TRUE(IsSignalled(dtm->ProgressEvent()));
  dtm->refuseWorkers = false;
  EXPECT_EQ(dtm->SendProgress(text, 2, 0), S_OK);
  EXPECT_EQ(frame->notifications.back(), "progress VKR-1: x 2 0");
}

TEST_F(Lifecycle, AReportThatMayBeDroppedIsDroppedWhileOneIsOnItsWay) {
  ToConfigured();
  dtm->holdWorkers = true;
  vkr::Bstr first(u"first"), second(u"second"), third(u"third");
  EXPECT_EQ(dtm->SendProgress(first, 10, 0xFFFF), S_OK);
  EXPECT_FALSE(IsSignalled(dtm->ProgressEvent()));
  EXPECT_EQ(dtm->SendProgress(second, 20, 0xFFFF), S_OK);  // dropped
  EXPECT_EQ(dtm->held.size(), 1u);
  dtm->RunHeld();
  EXPECT_TRUE(IsSignalled(dtm->ProgressEvent()));
  EXPECT_EQ(dtm->SendProgress(third, 30, 0xFFFF), S_OK);
  dtm->RunHeld();
  std::vector<std::string> progress;
  for (const std::string& n : frame->notifications)
    if (n.rfind("progress", 0) == 0) progress.push_back(n);
  EXPECT_EQ(progress, (std::vector<std::string>{"progress VKR-1: first 10 1", "progress VKR-1: third 30 1"}));
  // Without the frame's events nothing is sent, and the next report is not held up.
  vkr::ComPtr<vkr::ComObject<LifecycleDtm>> alone;
  ASSERT_EQ(vkr::MakeObject<LifecycleDtm>(&alone), S_OK);
  EXPECT_EQ(alone->SendProgress(first, 1, 0), E_FAIL);
  EXPECT_TRUE(IsSignalled(alone->ProgressEvent()));
}

TEST_F(Lifecycle, TheUserLevelReachesTheOpenUserInterfaces) {
  ToEnvironment(true);
  VARIANT_BOOL result = VARIANT_FALSE;
  vkr::Bstr type(kDeviceType);
  ASSERT_EQ(Dtm().InitNew(type, &result), S_OK);
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  vkr::Bstr user(UserInformation(u"Operator"));
  ASSERT_EQ(Dtm().Config(user, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_TRUE(journal.Has("ui command ui4:9988 ui4:2")) << journal.Joined();
  // A document without the level is refused and changes nothing.
  dtm->ForceState(dsINITIALIZED);
  vkr::Bstr none(u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation/></FDT>");
  EXPECT_EQ(Dtm().Config(none, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(State(), dsINITIALIZED);
}

TEST_F(Lifecycle, ProgressMessagesCheckTheirElements) {
  ToConfigured();
  auto array = [](VARTYPE first) {
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    vkr::Variant a, b, c;
    a.vt = first;
    a.lVal = 0;
    a.iVal = 30;
    b.vt = VT_BSTR;
    b.bstrVal = SysAllocString(u"Step");
    c.vt = VT_BOOL;
    c.boolVal = VARIANT_FALSE;
    LONG i = 0;
    SafeArrayPutElement(sa, &i, &a);
    i = 1;
    SafeArrayPutElement(sa, &i, &b);
    i = 2;
    SafeArrayPutElement(sa, &i, &c);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = sa;
    return v;
  };
  vkr::Variant good, bad;
  static_cast<VARIANT&>(good) = array(VT_I2);
  static_cast<VARIANT&>(bad) = array(VT_I4);
  EXPECT_EQ(dtm->DtmMessage(UI4(10005), good), S_OK);
  EXPECT_EQ(frame->notifications.back(), "progress VKR-1: Step 30 0");
  EXPECT_EQ(dtm->DtmMessage(UI4(10005), bad), E_UNEXPECTED);
  EXPECT_EQ(dtm->DtmMessage(UI4(10005), I4(1)), E_UNEXPECTED);
}

TEST_F(Lifecycle, MessagesReachTheirHandlers) {
  ToConfigured();
  dtm->AddOpenUserInterface(u"ui-1", static_cast<IovFdtActiveX4*>(ui.Get()));
  journal.Clear();
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"100% done %s%n");
  // 16: the text reaches the frame as it is.
  EXPECT_EQ(dtm->DtmMessage(UI4(16), text), S_OK);
  EXPECT_TRUE(journal.Has("job 17 bstr:100% done %s%n")) << journal.Joined();
  // 17 and 19 run their jobs.
  EXPECT_EQ(dtm->DtmMessage(UI4(17), text), S_OK);
  EXPECT_TRUE(journal.Has("job 22 bstr:100% done %s%n")) << journal.Joined();
  EXPECT_EQ(dtm->DtmMessage(UI4(19), text), S_OK);
  EXPECT_TRUE(journal.Has("job 18 bstr:100% done %s%n")) << journal.Joined();
  // 4: an unlocked data set is announced to the user interfaces.
  EXPECT_EQ(dtm->DtmMessage(UI4(4), I4(0)), S_OK);
  EXPECT_TRUE(journal.Has("ui command ui4:9993 bool:0")) << journal.Joined();
  // 1: the data-set state goes to the user interfaces.
  journal.Clear();
  vkr::Variant key;
  key.vt = VT_BSTR;
  key.bstrVal = SysAllocString(u"ui-1");
  dtm->DtmMessage(UI4(1), key);
  ASSERT_FALSE(journal.With("ui command ui4:9999").empty()) << journal.Joined();
  // 48 sets the one transfer flag; 52 has nobody to switch; 0x10017 needs a flag.
  EXPECT_EQ(dtm->DtmMessage(UI4(48), I4(1)), S_OK);
  EXPECT_TRUE(dtm->AbortFlag());
  EXPECT_EQ(dtm->DtmMessage(UI4(52), I4(1)), S_OK);
  vkr::Variant notAFlag;
  notAFlag.vt = VT_BSTR;
  notAFlag.bstrVal = SysAllocString(u"perhaps");
  EXPECT_EQ(dtm->DtmMessage(UI4(0x10017), notAFlag), E_FAIL);
}

TEST_F(Lifecycle, ToolkitTextsHaveTheirDefaults) {
  vkr::Bstr text;
  ASSERT_EQ(dtm->TranslateBaseDtmMessage(2003, text.Put()), S_OK);
  EXPECT_EQ(text.Str(), u"Error occured during lock of DTM data set");
  ASSERT_EQ(dtm->TranslateBaseDtmMessage(3001, text.Put()), S_OK);
  EXPECT_EQ(text.Str(), u"There are active connections to the DTM.\nShall they be terminated now?");
  ASSERT_EQ(dtm->TranslateBaseDtmMessage(1234, text.Put()), S_OK);
  EXPECT_EQ(text.Get(), nullptr);
  EXPECT_EQ(dtm->TranslateBaseDtmMessage(1, nullptr), E_POINTER);
  EXPECT_EQ(dtm->GetString(0, text.Put()), E_INVALIDARG);
  EXPECT_EQ(dtm->GetString(70000, text.Put()), E_INVALIDARG);
}

}  // namespace

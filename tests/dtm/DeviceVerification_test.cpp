// The device verification of the communication client: the listed parameters read directly from
// the device and compared with their expected values, the user's question on a difference, the
// status and the verification event in every outcome.
#include <gtest/gtest.h>

#include "tests/support/comm_client_fakes.h"

namespace {

using namespace vkr::test;

const std::u16string kListId = u"DeviceVerification\\036D1498-387B-11D4-86E1-00E0987270B9";
const std::string kTranslationPrefix = "localization/ToolkitMessages/Message[@id=\"";

class DeviceVerification : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::MakeObject<CommDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    dtm->SetThread(thread.Get());
    ASSERT_EQ(vkr::MakeObject<FakeConnectionFactory>(&factory), S_OK);
    factory->journal = &journal;
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<BusChannel>(&channel), S_OK);
    ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(channel.Get()), S_OK);
    // Two parameters with known names and expected (default) values.
    for (LONG i : {0, 1}) {
      ParInfo p;
      ASSERT_EQ(dtm->GetParInfoAt(i, &p), S_OK);
      ids.push_back(p.m_nId);
      vkr::Variant name;
      ASSERT_EQ(dtm->GetParameterField(UI4(p.m_nId), I4(0x4), name.Ptr()), S_OK);
      vkr::Variant nameText;
      ASSERT_EQ(VariantChangeType(nameText.Ptr(), name.Ptr(), 0, VT_BSTR), S_OK);
      names.push_back(Text(nameText.bstrVal));
      vkr::Variant value, valueText;
      ASSERT_EQ(dtm->GetParameterField(UI4(p.m_nId), I4(0x100), value.Ptr()), S_OK);
      ASSERT_EQ(VariantChangeType(valueText.Ptr(), value.Ptr(), 0, VT_BSTR), S_OK);
      expected.push_back(vkr::View(valueText.bstrVal) == u"xyz" ? u"?" : std::u16string(vkr::View(valueText.bstrVal)));
    }
  }
  void TearDown() override {
    if (dtm) dtm->DropChannel();
    CoRevokeClassObject(cookie);
    dtm = nullptr;
    factory = nullptr;
    CoUninitialize();
  }
  // An online HART connection that answers the device values.
  // The device answers the expected values unless told otherwise.
  FakeConnection& OnlineConnection(std::u16string first = {}, std::u16string second = {}) {
    if (first.empty()) first = expected[0];
    if (second.empty()) second = expected[1];
    vkr::Bstr id, hart(vkr::Utf8ToUtf16(kHart));
    EXPECT_EQ(dtm->CreateConnection(hart, id.Put()), S_OK);
    dtm->ForceState(dsGOINGONLINE);
    EXPECT_EQ(dtm->OnConnected(id, VARIANT_TRUE, Empty(), nullptr), S_OK);
    EXPECT_EQ(dtm->State(), dsONLINE);
    FakeConnection& c = *factory->made.back();
    SetDeviceValue(c, 0, first.c_str());
    SetDeviceValue(c, 1, second.c_str());
    journal.Clear();
    return c;
  }
  void SetDeviceValue(FakeConnection& c, int index, const char16_t* value) {
    vkr::Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    c.deviceValues[ids[static_cast<std::size_t>(index)]] = v;
  }
  void MakeList(const std::u16string& name, const std::vector<ULONG>& members) {
    vkr::Variant key;
    key.vt = VT_BSTR;
    key.bstrVal = SysAllocString(name.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(dtm->CreateList(key, Empty(), Empty(), Empty(), &ok), S_OK);
    if (members.empty()) return;
    vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(members.size())));
    for (LONG i = 0; i < static_cast<LONG>(members.size()); ++i) {
      VARIANT v = UI4(members[static_cast<std::size_t>(i)]);
      SafeArrayPutElement(array.Get(), &i, &v);
    }
    vkr::Variant list;
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = array.Detach();
    ASSERT_EQ(dtm->AddMembers(key, list, &ok), S_OK);
  }
  // VerifyDevice's result, its flag and the status afterwards, with the event checked signalled.
  struct Outcome {
    HRESULT hr;
    bool done;
    ULONG status;
  };
  Outcome Verify() {
    ResetEvent(dtm->VerificationEvent());
    VARIANT_BOOL done = VARIANT_TRUE;
    const HRESULT hr = dtm->VerifyDevice(&done);
    EXPECT_TRUE(IsSignalled(dtm->VerificationEvent()));
    return {hr, done == VARIANT_TRUE, dtm->VerificationStatus()};
  }
  std::vector<std::string> Reads() const { return journal.With("c1 ReadParameterDirect"); }

  Journal journal;
  DWORD cookie = 0;
  std::vector<ULONG> ids;
  std::vector<std::string> names;
  std::vector<std::u16string> expected;  // the defaults as texts
  vkr::ComPtr<vkr::ComObject<CommDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FakeConnectionFactory>> factory;
  vkr::ComPtr<vkr::ComObject<BusChannel>> channel;
};

TEST_F(DeviceVerification, NothingToVerifyCountsAsVerified) {
  // No online connection with direct access.
  Outcome o = Verify();
  EXPECT_EQ(o.hr, S_OK);
  EXPECT_TRUE(o.done);
  EXPECT_EQ(o.status, dvsVERIFIED);
  // Online, but no list for the connection's protocol.
  dtm->SetVerificationStatusValue(dvsNOTVERIFIED);
  OnlineConnection();
  MakeList(u"DeviceVerification\\", {ids[0]});  // the list without a protocol is not this one
  o = Verify();
  EXPECT_EQ(o.status, dvsVERIFIED);
  // A list without members.
  dtm->SetVerificationStatusValue(dvsNOTVERIFIED);
  MakeList(kListId, {});
  o = Verify();
  EXPECT_EQ(o.hr, S_OK);
  EXPECT_EQ(o.status, dvsVERIFIED);
  EXPECT_TRUE(Reads().empty());
  EXPECT_TRUE(dtm->questions.empty());
}

TEST_F(DeviceVerification, EqualValuesVerifyWithProgressAndNoQuestion) {
  OnlineConnection();
  MakeList(kListId, {ids[0], ids[1]});
  const Outcome o = Verify();
  EXPECT_EQ(o.hr, S_OK);
  EXPECT_EQ(o.status, dvsVERIFIED);
  EXPECT_EQ(Reads().size(), 2u);
  EXPECT_EQ(journal.With("progress"),
            (std::vector<std::string>{"progress Device Verification 0 65535", "progress Device Verification 0 65535",
                                      "progress Device Verification 50 65535", "progress Device Verification 100 0"}));
  EXPECT_TRUE(dtm->questions.empty());
  // Verified stays verified until the core resets it: no second reading.
  journal.Clear();
  EXPECT_EQ(Verify().hr, S_OK);
  EXPECT_TRUE(Reads().empty());
}

TEST_F(DeviceVerification, ADifferenceAsksTheUserWhoMayKeepOrDropTheConnection) {
  OnlineConnection({}, u"xyz");
  MakeList(kListId, {ids[0], 0xFFFFFFF0u, ids[1]});  // an id that names no parameter is skipped
  const std::string expectedQuestion =
      "Error: Online Device Verification|The device verification between DTM and connected device failed.\n"
      "Further online use of this DTM might lead to unexpected results!\n\nWould you like to disconnect?\n\n"
      "Information: \texpected \t<>\tread from device\n\n\n\n" +
      names[1] + ": \t'" + vkr::Utf16ToUtf8(expected[1]) + "' \t<>\t'xyz'\n";
  // "No": the connection stays, the device counts as verified.
  Outcome o = Verify();
  EXPECT_EQ(o.hr, S_OK);
  EXPECT_EQ(o.status, dvsVERIFIED);
  ASSERT_EQ(dtm->questions.size(), 1u);
  EXPECT_EQ(dtm->questions[0], expectedQuestion);
  EXPECT_TRUE(journal.Has("question ui4:292"));
  EXPECT_EQ(Reads().size(), 2u);
  EXPECT_TRUE(journal.With("job 11").empty());
  // "Yes": going offline, failed.
  dtm->SetVerificationStatusValue(dvsNOTVERIFIED);
  dtm->answer = 6;
  journal.Clear();
  o = Verify();
  EXPECT_EQ(o.hr, S_FALSE);
  EXPECT_FALSE(o.done);
  EXPECT_EQ(o.status, dvsFAILED);
  EXPECT_EQ(journal.With("job 11"), (std::vector<std::string>{"job 11 empty"}));
}

TEST_F(DeviceVerification, AFailedReadIsADifference) {
  FakeConnection& c = OnlineConnection();
  c.deviceValues.erase(ids[0]);
  MakeList(kListId, {ids[0], ids[1]});
  EXPECT_EQ(Verify().status, dvsVERIFIED);  // the user said no
  ASSERT_EQ(dtm->questions.size(), 1u);
  const std::string& q = dtm->questions[0];
  EXPECT_EQ(q.substr(q.size() - (names[0].size() + 15)), names[0] + ": read failed\n\n") << q;
}

TEST_F(DeviceVerification, LeavingTheOnlineStateEndsTheComparisonAsFailedWithoutQuestion) {
  FakeConnection& c = OnlineConnection(expected[0] + u"1");
  MakeList(kListId, {ids[0], ids[1]});
  // The device drops the connection during the first read.
  c.onReadDirect = [&](ULONG) { dtm->ForceState(dsCOMMUNICATIONSET); };
  const Outcome o = Verify();
  EXPECT_EQ(o.hr, S_FALSE);
  EXPECT_EQ(o.status, dvsFAILED);
  EXPECT_EQ(Reads().size(), 1u);
  EXPECT_TRUE(dtm->questions.empty());
  EXPECT_EQ(journal.With("progress").back(), "progress Device Verification 100 0");
}

TEST_F(DeviceVerification, TranslatedTextsAreUsedAsTextsNeverAsFormats) {
  FakeConnection& c = OnlineConnection();
  c.deviceValues.erase(ids[0]);
  MakeList(kListId, {ids[0]});
  dtm->translations[kTranslationPrefix + "7003\"]"] = u"%s %n%s%d nicht gelesen";
  dtm->translations[kTranslationPrefix + "7002\"]"] = u"Frage %s%s%n";
  dtm->translations[kTranslationPrefix + "7004\"]"] = u"Titel %d";
  EXPECT_EQ(Verify().status, dvsVERIFIED);
  ASSERT_EQ(dtm->questions.size(), 1u);
  EXPECT_EQ(dtm->questions[0], "Titel %d|Frage %s%s%n\n\n" + names[0] + " %n%s%d nicht gelesen\n");
}

TEST_F(DeviceVerification, WithoutATranslationTheEnglishTextsAreAsked) {
  dtm->hideTranslation = true;
  FakeConnection& c = OnlineConnection();
  c.deviceValues.erase(ids[0]);
  MakeList(kListId, {ids[0]});
  Verify();
  ASSERT_EQ(dtm->questions.size(), 1u);
  EXPECT_EQ(dtm->questions[0].rfind("Error: Online Device Verification|The device verification", 0), 0u);
}

TEST_F(DeviceVerification, ARunningVerificationIsWaitedForThenTheSecondGoesOn) {
  FakeConnection& c = OnlineConnection();
  MakeList(kListId, {ids[0], ids[1]});
  dtm->SetVerificationTimeout(50);
  // A second request while the first reads its first value waits (up to the wait time), sees the
  // first one unfinished and runs itself.
  Outcome inner{E_UNEXPECTED, false, 0};
  bool nested = false;
  c.onReadDirect = [&](ULONG) {
    if (nested) return;
    nested = true;
    EXPECT_EQ(dtm->VerificationStatus(), dvsRUNNING);
    const DWORD start = GetTickCount();
    inner = Verify();
    EXPECT_GE(GetTickCount() - start, 40u);
  };
  const Outcome outer = Verify();
  EXPECT_EQ(inner.status, dvsVERIFIED);
  EXPECT_EQ(outer.hr, S_OK);
  EXPECT_EQ(outer.status, dvsVERIFIED);
  EXPECT_EQ(Reads().size(), 4u);
}

TEST_F(DeviceVerification, StatusIsReadAndWrittenAsANumber) {
  VARIANT_BOOL done = VARIANT_TRUE;
  vkr::Variant status;
  EXPECT_EQ(dtm->GetDeviceVerificationStatus(status.Ptr(), nullptr), E_INVALIDARG);
  EXPECT_EQ(dtm->GetDeviceVerificationStatus(nullptr, &done), E_INVALIDARG);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(dtm->SetDeviceVerificationStatus(Empty(), &done), E_INVALIDARG);
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"three");
  EXPECT_EQ(dtm->SetDeviceVerificationStatus(text, &done), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
  ASSERT_EQ(dtm->SetDeviceVerificationStatus(I4(1), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  ASSERT_EQ(dtm->GetDeviceVerificationStatus(status.Ptr(), &done), S_OK);
  EXPECT_EQ(Show(status), "ui4:1");
  EXPECT_EQ(dtm->VerifyDevice(nullptr), E_INVALIDARG);
}

}  // namespace

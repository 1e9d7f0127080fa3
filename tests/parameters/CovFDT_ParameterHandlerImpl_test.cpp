// The parameter handler: values, validation, device access, responses, notifications and links.
#include <gtest/gtest.h>

#include <array>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "tests/support/parameter_records.h"
#include "tests/support/fake_parameter_site.h"

using namespace vkr::test;

namespace {

FakeParameterSite* g_site = nullptr;
HRESULT g_callbackResult = S_OK;

template <int Kind>
HRESULT Journal(ULONG_PTR context, ULONG id) {
  // The handler passes its own interface as the context.
  EXPECT_NE(context, 0u);
  g_site->Log("callback " + std::to_string(Kind) + " " + std::to_string(id));
  return g_callbackResult;
}

HRESULT EventHandler(IovFdtParameterHandler4* handler, IovFdtParameterCommunication* client, VARIANT id, LONG* result) {
  EXPECT_NE(handler, nullptr);
  EXPECT_NE(client, nullptr);
  EXPECT_EQ(*result, -1);
  g_site->Log("event " + FakeParameterSite::Id(id));
  return S_OK;
}

void AllCallbacks(ParInfo& r) {
  r.SetCallback(PCK_BEFORE_READ, Journal<1>);
  r.SetCallback(PCK_AFTER_READ, Journal<2>);
  r.SetCallback(PCK_BEFORE_WRITE, Journal<3>);
  r.SetCallback(PCK_AFTER_WRITE, Journal<4>);
  r.SetCallback(PCK_BEFORE_CHANGE, Journal<5>);
  r.SetCallback(PCK_AFTER_CHANGE, Journal<6>);
}

// Parameters of the tests:
//   1  device parameter (addressed, readable, writable) VT_UI1 0..99, persisted, with callbacks
//   2  data-set parameter VT_R4 -10..10, not persisted
//   3  text of at most 5 characters
//   4  enumeration {0;Off, 1;On} of VT_BOOL
//   5  bit enumeration {1;A, 2;B, 4;C} of VT_UI4
//   6  disabled (flag 0x08) VT_I4
//   7  reference to 1
class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Display texts and type checks use the DOM, an apartment object.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    g_site = &site;
    g_callbackResult = S_OK;
    ASSERT_EQ(vkr::MakeObject<CFakeDtm>(&dtm, static_cast<IovFdtParameterHandlerSite*>(&site)), S_OK);
    h = dtm.Get();
    vkr::Variant lo = UI1(0), hi = UI1(99);
    ParInfo p1 = Record(1, VT_UI1, UI1(10), &lo, &hi, 0x71, 1, u"Level");
    AllCallbacks(p1);
    ASSERT_EQ(h->AddParInfo(p1), S_OK);
    vkr::Variant rlo = R4(-10), rhi = R4(10);
    ParInfo p2 = Record(2, VT_R4, R4(1.5f), &rlo, &rhi, 0x71, 0, u"Offset");
    p2.m_bPersist = 0;
    ASSERT_EQ(h->AddParInfo(p2), S_OK);
    vkr::Variant five = Text(u"5");
    ASSERT_EQ(h->AddParInfo(Record(3, VT_BSTR, Text(u"tag"), nullptr, &five, 0x71, 0, u"Tag")), S_OK);
    ParInfo p4 = Record(4, VT_BOOL, Bool(false), nullptr, nullptr, 0x71, 0, u"Switch");
    p4.m_nKind = PK_ENUMERATION;
    p4.m_vEnumList = EnumListOf({u"0;Off", u"1;On"});
    ASSERT_EQ(h->AddParInfo(p4), S_OK);
    ParInfo p5 = Record(5, VT_UI4, UI4(1), nullptr, nullptr, 0x71, 0, u"Bits");
    p5.m_nKind = PK_BIT_ENUMERATION;
    p5.m_vEnumList = EnumListOf({u"1;A", u"2;B", u"4;C"});
    ASSERT_EQ(h->AddParInfo(p5), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(6, VT_I4, I4(3), nullptr, nullptr, 0x71 | PFL_DISABLED, 0, u"Off")), S_OK);
    ASSERT_EQ(h->AddParInfo(Reference(7, 1)), S_OK);
    site.Clear();
  }
  void TearDown() override {
    g_site = nullptr;
    CoUninitialize();
  }

  ULONG Flags(ULONG id) {
    ParInfo r;
    EXPECT_EQ(h->GetParInfoFields(id, PIF_FLAGS, &r), S_OK);
    return r.m_dwFlags;
  }
  vkr::Variant Value(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(h->GetValueById(id, &v), S_OK);
    return v;
  }
  vkr::Variant DeviceValue(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(h->GetParameterField(UI4(id), UI4(PIF_DEV_VALUE), &v), S_OK);
    return v;
  }

  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<CFakeDtm>> dtm;
  CFakeDtm* h = nullptr;
};

TEST_F(HandlerTest, InterfacesComeFromTheCarryingObject) {
  vkr::ComPtr<IUnknown> unknown;
  ASSERT_EQ(dtm->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IovFdtParameterInfo> info;
  vkr::ComPtr<IovFdtParameterValidation> validation;
  vkr::ComPtr<IovFdtParametersImportExport> importExport;
  vkr::ComPtr<IovFdtOnlineParameter> online;
  ASSERT_EQ(unknown.As(&handler), S_OK);
  ASSERT_EQ(unknown.As(&info), S_OK);
  ASSERT_EQ(unknown.As(&validation), S_OK);
  ASSERT_EQ(unknown.As(&importExport), S_OK);
  ASSERT_EQ(unknown.As(&online), S_OK);
  EXPECT_TRUE(handler.IsSameObject(online.Get()));
  EXPECT_TRUE(info.IsSameObject(unknown.Get()));
  ULONG count = 0;
  ASSERT_EQ(handler->GetCollectionCount(&count), S_OK);
  EXPECT_EQ(count, 7u);
}

TEST_F(HandlerTest, SettingAValueSendsEverythingInOrder) {
  ASSERT_EQ(h->SetParameterValue(UI4(1), Text(u"42")), S_OK);
  EXPECT_EQ(Value(1).bVal, 42);
  EXPECT_EQ(Value(1).vt, VT_UI1);
  const std::vector<std::string> expected{
      "variable Level 10->42",   "delay open",
      "callback 5 1",            "modified",
      "broadcast 0x270F 9999 =1",  // the data-set state of a device parameter
      "callback 6 1",
      "broadcast 0x2701 1 =42",  "modified",
      "delay close",
  };
  EXPECT_EQ(site.journal, expected) << site.Joined();
  EXPECT_TRUE(Flags(1) & PFL_EXPORT);  // set by a user
  EXPECT_EQ(h->GetDataSetState(), DSS_VALID_MODIFIED);
}

TEST_F(HandlerTest, AnEqualValueOnlyBroadcasts) {
  // 10 as a text and as another integer type is the stored UI1 10.
  for (vkr::Variant same : {Text(u"10"), I4(10), UI1(10)}) {
    site.Clear();
    ASSERT_EQ(h->SetParameterValue(UI4(1), same), S_OK);
    EXPECT_EQ(site.journal, std::vector<std::string>{"broadcast 0x2701 1 =10"}) << site.Joined();
  }
  EXPECT_EQ(h->GetDataSetState(), DSS_DEFAULT);
}

TEST_F(HandlerTest, AValueThatDoesNotConvertChangesNothing) {
  EXPECT_EQ(h->SetParameterValue(UI4(1), Text(u"ten")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h->SetParameterValue(UI4(1), I4(300)), DISP_E_OVERFLOW);
  EXPECT_EQ(Value(1).bVal, 10);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
  EXPECT_EQ(h->SetParameterValue(UI4(99), I4(1)), E_INVALIDARG);
  EXPECT_EQ(h->SetParameterValue(UI4(0xFFFFFFFF), I4(1)), E_INVALIDARG);
  EXPECT_EQ(h->SetParameterValue(Text(u"one"), I4(1)), DISP_E_TYPEMISMATCH);
}

TEST_F(HandlerTest, DataSetParameterWithoutPersistenceAndSuppressedEvents) {
  h->m_bSuppressChangeEvents = true;
  ASSERT_EQ(h->ApplyParameterValue(2, R8(2.25), FALSE), S_OK);
  const std::vector<std::string> expected{"variable Offset 1.500000->2.250000", "broadcast 0x2701 2 =2.250000"};
  EXPECT_EQ(site.journal, expected) << site.Joined();
  EXPECT_FALSE(Flags(2) & PFL_EXPORT);
}

TEST_F(HandlerTest, LinkedParametersAreToldToo) {
  ASSERT_EQ(h->RegisterAlias(I4(2), UI4(3)), S_OK);  // ids in any integer type
  ASSERT_EQ(h->SetParameterValue(UI4(2), R4(3)), S_OK);
  EXPECT_TRUE(site.Has("broadcast 0x2701 2 =3.000000")) << site.Joined();
  EXPECT_TRUE(site.Has("broadcast 0x2701 3 =3.000000")) << site.Joined();

  vkr::Variant linked;
  ASSERT_EQ(h->GetAliasLink(UI4(3), &linked), S_OK);
  EXPECT_EQ(linked.lVal, 2);
  EXPECT_EQ(h->GetAliasLink(UI4(4), &linked), E_FAIL);
  EXPECT_EQ(h->GetAliasLink(vkr::Variant(), &linked), E_INVALIDARG);
  EXPECT_EQ(h->GetAliasLink(UI4(3), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->RegisterAlias(vkr::Variant(), UI4(3)), E_INVALIDARG);
  EXPECT_EQ(h->RegisterAlias(UI4(3), I4(3)), E_INVALIDARG);  // not to itself
}

TEST_F(HandlerTest, RemovingALinkKeepsTheOthers) {
  ASSERT_EQ(h->RegisterAlias(UI4(1), UI4(2)), S_OK);
  ASSERT_EQ(h->RegisterAlias(UI4(2), UI4(3)), S_OK);
  ASSERT_EQ(h->RegisterAlias(UI4(4), UI4(5)), S_OK);
  ASSERT_EQ(h->UnregisterAlias(UI4(1)), S_OK);
  vkr::Variant linked;
  EXPECT_EQ(h->GetAliasLink(UI4(1), &linked), E_FAIL);
  // 2 and 3 stay linked both ways, and so do 4 and 5.
  ASSERT_EQ(h->GetAliasLink(UI4(2), &linked), S_OK);
  EXPECT_EQ(linked.ulVal, 3u);
  ASSERT_EQ(h->GetAliasLink(UI4(3), &linked), S_OK);
  EXPECT_EQ(linked.ulVal, 2u);
  ASSERT_EQ(h->GetAliasLink(UI4(5), &linked), S_OK);
  EXPECT_EQ(h->UnregisterAlias(UI4(77)), S_OK);
  EXPECT_EQ(h->UnregisterAlias(vkr::Variant()), E_INVALIDARG);
}

TEST_F(HandlerTest, ValidationFlags) {
  struct Case {
    const char* what;
    ULONG id;
    vkr::Variant value;
    bool invalid;
  };
  const Case cases[] = {
      {"in range", 1, UI1(50), false},
      {"the limits themselves", 1, I4(99), false},
      {"above the maximum", 1, I4(100), true},
      {"below the minimum", 2, R8(-10.5), true},
      {"empty is never valid", 1, vkr::Variant(), true},
      {"text of 5", 3, Text(u"abcde"), false},
      {"text of 6 with an odd limit", 3, Text(u"abcdef"), false},
      {"text of 7", 3, Text(u"abcdefg"), true},
      {"enumeration entry", 4, Bool(true), false},
      {"enumeration entry as number", 4, I4(0), false},
      {"any true value of a boolean enumeration is its 1", 4, I4(2), false},
      {"bits of the entries", 5, UI4(5), false},
      {"a bit no entry has", 5, UI4(8), true},
  };
  for (const Case& c : cases) {
    ULONG word = 0;
    ASSERT_EQ(h->ValidateParameter(UI4(c.id), c.value, &word), S_OK) << c.what;
    EXPECT_EQ((word & PFL_INVALID) != 0, c.invalid) << c.what;
  }
  // A packed text takes only the device's 6-bit set (a-z go as A-Z), whoever stores it.
  vkr::Variant eight = Text(u"8");
  ParInfo packed = Record(9, VT_BSTR, Text(u"TAG"), nullptr, &eight, 0x71, 0, u"Packed");
  packed.m_nKind = PK_PACKED_TEXT;
  ASSERT_EQ(h->AddParInfo(packed), S_OK);
  const std::pair<const char16_t*, bool> texts[] = {
      {u"tank 7", false}, {u"!\"#?@[\\]", false}, {u"^_ 09AZ", false}, {u"T\u00C4G", true}, {u"A~", true}, {u"A{", true},
      {u"A\tB", true},    {u"TOOLONG12", true},
  };
  for (const auto& [text, invalid] : texts) {
    ULONG flags = 0;
    ASSERT_EQ(h->ValidateParameter(UI4(9), Text(text), &flags), S_OK);
    EXPECT_EQ((flags & PFL_INVALID) != 0, invalid) << vkr::Utf16ToUtf8(text);
  }
  // A parameter with equal limits has no range.
  vkr::Variant same = I4(4);
  ASSERT_EQ(h->AddParInfo(Record(8, VT_I4, I4(4), &same, &same)), S_OK);
  ULONG word = 0;
  ASSERT_EQ(h->ValidateParameter(UI4(8), I4(1000), &word), S_OK);
  EXPECT_FALSE(word & PFL_INVALID);
  // A disabled parameter is not checked: the word is its flags.
  ASSERT_EQ(h->ValidateParameter(UI4(6), Text(u"anything"), &word), S_OK);
  EXPECT_EQ(word, 0x71u | PFL_DISABLED);
  EXPECT_EQ(h->ValidateParameter(UI4(1), I4(1), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->ValidateParameter(UI4(99), I4(1), &word), E_INVALIDARG);
  EXPECT_EQ(h->ValidateParameter(UI4(4), Text(u"maybe"), &word), DISP_E_TYPEMISMATCH);
}

TEST_F(HandlerTest, ValidationComparesAsStored) {
  ULONG word = 0;
  // The stored UI1 10, given as I4 or as text, is no change.
  ASSERT_EQ(h->ValidateParameter(UI4(1), I4(10), &word), S_OK);
  EXPECT_FALSE(word & PFL_MODIFIED);
  ASSERT_EQ(h->ValidateParameter(UI4(1), Text(u"11"), &word), S_OK);
  EXPECT_TRUE(word & PFL_MODIFIED);
  // Floating-point values that agree to five digits are the same value.
  ASSERT_EQ(h->ValidateParameter(UI4(2), R8(1.5000001), &word), S_OK);
  EXPECT_FALSE(word & PFL_MODIFIED);
  ASSERT_EQ(h->ValidateParameter(UI4(2), R8(1.50001), &word), S_OK);
  EXPECT_TRUE(word & PFL_MODIFIED);
}

TEST_F(HandlerTest, UserWritesOffline) {
  site.state = dsCONFIGURED;
  VARIANT_BOOL done = VARIANT_FALSE;
  // A device parameter changed offline still has to go to the device.
  ASSERT_EQ(h->WriteDeviceParameter(UI4(1), I4(20), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Value(1).bVal, 20);
  EXPECT_TRUE(Flags(1) & PFL_MODIFIED);
  EXPECT_TRUE(site.Has("broadcast 0x270A 1")) << site.Joined();
  // A data-set parameter is done with once stored.
  ASSERT_EQ(h->SetValueAndStatusById(2, nullptr, std::array<ULONG, 1>{0x73}.data()), S_OK);
  ASSERT_EQ(h->WriteDeviceParameter(UI4(2), R4(4), &done), S_OK);
  EXPECT_EQ(Value(2).fltVal, 4.0f);
  EXPECT_FALSE(Flags(2) & PFL_MODIFIED);

  done = 7;
  EXPECT_EQ(h->WriteDeviceParameter(UI4(0xFFFFFFFF), I4(1), &done), E_INVALIDARG);
  EXPECT_EQ(done, 7);
  EXPECT_EQ(h->WriteDeviceParameter(UI4(1), I4(1), nullptr), E_INVALIDARG);
}

TEST_F(HandlerTest, RefusedWritesChangeNothing) {
  const ULONG flags = Flags(1);
  struct Case {
    const char* what;
    ULONG id;
    vkr::Variant value;
  };
  const Case cases[] = {
      {"out of range", 1, I4(150)},
      {"too long", 3, Text(u"much too long")},
      {"bits of no entry", 5, UI4(9)},
      {"disabled", 6, I4(4)},
  };
  for (const Case& c : cases) {
    const vkr::Variant before = Value(c.id);
    const ULONG beforeFlags = Flags(c.id);
    site.Clear();
    VARIANT_BOOL done = VARIANT_TRUE;
    EXPECT_EQ(h->WriteDeviceParameter(UI4(c.id), c.value, &done), E_FAIL) << c.what;
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
    EXPECT_TRUE(IsVariantEqual(Value(c.id), before)) << c.what;
    EXPECT_EQ(Flags(c.id), beforeFlags) << c.what;
    EXPECT_TRUE(site.journal.empty()) << c.what << ": " << site.Joined();
    VARIANT_BOOL stored = VARIANT_TRUE;
    EXPECT_EQ(h->ValidateAndSetParameter(UI4(c.id), c.value, &stored), S_OK) << c.what;
    EXPECT_EQ(stored, VARIANT_FALSE) << c.what;
  }
  EXPECT_EQ(Flags(1), flags);
  // A value of the wrong type is refused with the conversion's code.
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(h->WriteDeviceParameter(UI4(1), Text(u"ten"), &done), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Value(1).bVal, 10);
}

TEST_F(HandlerTest, UserWritesOnlineGoToTheDevice) {
  site.state = dsONLINE;
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(h->WriteDeviceParameter(UI4(1), I4(33), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(site.journal, std::vector<std::string>{"write 1 33"}) << site.Joined();
  EXPECT_EQ(Value(1).bVal, 10);  // the data set changes when the device answers

  site.deviceResult = S_FALSE;
  site.deviceDone = VARIANT_FALSE;
  EXPECT_EQ(h->WriteDeviceParameter(UI4(1), I4(33), &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
  site.deviceResult = E_ABORT;
  EXPECT_EQ(h->WriteDeviceParameter(UI4(1), I4(33), &done), E_ABORT);
  site.hasCommunication = false;
  EXPECT_EQ(h->WriteDeviceParameter(UI4(1), I4(33), &done), E_FAIL);
  // A data-set parameter is stored even online.
  ASSERT_EQ(h->WriteDeviceParameter(UI4(2), R4(-2), &done), S_OK);
  EXPECT_EQ(Value(2).fltVal, -2.0f);
}

TEST_F(HandlerTest, DeviceReads) {
  VARIANT_BOOL result = VARIANT_TRUE;
  // Offline: nothing happens.
  ASSERT_EQ(h->ReadDeviceParameter(UI4(1), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_TRUE(site.journal.empty());

  site.state = dsONLINE;
  ASSERT_EQ(h->ReadDeviceParameter(UI4(1), &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"callback 1 1", "read 1", "callback 2 1"})) << site.Joined();

  site.Clear();
  ASSERT_EQ(h->ReadDeviceParameterEx(UI4(1), &result), S_OK);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"callback 1 1", "readsync 1", "callback 2 1"}));

  // A data-set parameter is not read, and says so.
  site.Clear();
  ASSERT_EQ(h->ReadDeviceParameter(UI4(2), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();

  // A failing callback stops the read before the device.
  site.Clear();
  g_callbackResult = E_ACCESSDENIED;
  EXPECT_EQ(h->ReadDeviceParameter(UI4(1), &result), E_ACCESSDENIED);
  EXPECT_EQ(site.journal, std::vector<std::string>{"callback 1 1"});
  g_callbackResult = S_OK;

  site.hasCommunication = false;
  EXPECT_EQ(h->ReadDeviceParameter(UI4(1), &result), E_FAIL);
  EXPECT_EQ(h->ReadDeviceParameter(UI4(1), nullptr), E_INVALIDARG);
  // The blocking read checks its result pointer before the id.
  EXPECT_EQ(h->ReadDeviceParameterEx(Text(u"not an id"), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->ReadDeviceParameter(Text(u"not an id"), nullptr), DISP_E_TYPEMISMATCH);
}

TEST_F(HandlerTest, BlockingWrites) {
  VARIANT_BOOL result = VARIANT_TRUE;
  ASSERT_EQ(h->WriteDeviceParameterEx(UI4(2), R4(3), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);  // offline: nothing
  EXPECT_EQ(Value(2).fltVal, 1.5f);

  site.state = dsONLINE;
  ASSERT_EQ(h->WriteDeviceParameterEx(UI4(1), I4(5), &result), S_OK);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"callback 3 1", "writesync 1 5", "callback 4 1"}));
  // A data-set parameter is stored through validation, and the write is done.
  ASSERT_EQ(h->SetValueAndStatusById(2, nullptr, std::array<ULONG, 1>{0x73}.data()), S_OK);
  result = VARIANT_FALSE;
  ASSERT_EQ(h->WriteDeviceParameterEx(UI4(2), R4(3), &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Value(2).fltVal, 3.0f);
  EXPECT_FALSE(Flags(2) & PFL_MODIFIED);
  EXPECT_EQ(h->WriteDeviceParameterEx(UI4(2), R4(30), &result), E_FAIL);
  EXPECT_EQ(result, VARIANT_FALSE);
}

TEST_F(HandlerTest, DeviceResponses) {
  ULONG dirty = 0x71 | PFL_MODIFIED | PFL_ADDRESSED;
  ASSERT_EQ(h->SetValueAndStatusById(1, nullptr, &dirty), S_OK);
  ASSERT_EQ(h->HandleDevParResponse(VARIANT_TRUE, UI4(1), Text(u"77"), nullptr), S_OK);
  EXPECT_EQ(DeviceValue(1).vt, VT_UI1);
  EXPECT_EQ(DeviceValue(1).bVal, 77);
  EXPECT_EQ(Value(1).bVal, 10);  // the data set is not touched
  EXPECT_EQ(Flags(1), 0x71u);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"message 9 1", "broadcast 0x270D 1 =77"})) << site.Joined();
  EXPECT_TRUE(h->m_bLastResponseOk);

  // Data that does not fit changes neither the device value nor the flags.
  ASSERT_EQ(h->SetValueAndStatusById(1, nullptr, std::array<ULONG, 1>{0x73}.data()), S_OK);
  EXPECT_EQ(h->HandleDevParResponse(VARIANT_TRUE, UI4(1), Text(u"garbage"), nullptr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(DeviceValue(1).bVal, 77);
  EXPECT_EQ(Flags(1), 0x73u);

  // A failed access is reported to the user interfaces and the user.
  site.Clear();
  vkr::Bstr text(u"No response");
  ASSERT_EQ(h->HandleDevParResponse(VARIANT_FALSE, UI4(1), vkr::Variant(), text), S_OK);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"message 9 1", "report 1  No response", "error No response"}))
      << site.Joined();
  EXPECT_FALSE(h->m_bLastResponseOk);
  EXPECT_EQ(h->m_bstrLastResponseError.View(), u"No response");
  site.reportResult = E_UNEXPECTED;
  EXPECT_EQ(h->HandleDevParResponse(VARIANT_FALSE, UI4(1), vkr::Variant(), text), E_UNEXPECTED);

  site.messageResult = E_ABORT;
  EXPECT_EQ(h->HandleDevParResponse(VARIANT_TRUE, UI4(1), UI1(1), nullptr), E_ABORT);
  site.messageResult = S_OK;
  EXPECT_EQ(h->HandleDevParResponse(VARIANT_TRUE, UI4(99), UI1(1), nullptr), E_INVALIDARG);
}

TEST_F(HandlerTest, EventHandlersOfValueSetRecords) {
  CValueSetRecord record;
  record.vMask1 = UI4(0xFF);
  record.vMask2 = UI4(0xFF);
  record.vList = Text(u"Watched");
  record.pfnHandler = EventHandler;
  h->AddValueSetRecord(record);
  site.listNames = {u"Other", u"Watched"};
  site.listEntries[u"Watched"] = {1};
  site.state = dsONLINE;
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(h->ReadDeviceParameter(UI4(1), &result), S_OK);
  EXPECT_EQ(site.journal,
            (std::vector<std::string>{"callback 1 1", "event 1", "read 1", "callback 2 1", "event 1"}))
      << site.Joined();

  CValueSetRecord found;
  ASSERT_EQ(h->FindValueSetRecord(2, 21, &found), S_OK);
  EXPECT_EQ(found.pfnHandler, nullptr);  // 2 is in no watched list
  ASSERT_EQ(h->FindValueSetRecord(1, 0x100, &found), S_OK);
  EXPECT_EQ(found.pfnHandler, nullptr);  // masks do not match
  site.hasLists = false;
  EXPECT_EQ(h->FindValueSetRecord(1, 21, &found), S_FALSE);
  EXPECT_EQ(h->FindValueSetRecord(1, 21, nullptr), E_INVALIDARG);
}

TEST_F(HandlerTest, ReferenceRecordsThroughTheHandler) {
  ASSERT_EQ(h->SetValueById(7, UI1(55)), S_OK);
  EXPECT_EQ(Value(1).bVal, 55);
  ParInfo r;
  ASSERT_EQ(h->GetParInfoById(7, &r), S_OK);
  EXPECT_EQ(r.m_vt, VT_UI1);
  EXPECT_EQ(r.m_bstrName.View(), u"Level");
  EXPECT_EQ(h->IndexOfParameter(7), 6);
  EXPECT_EQ(h->IndexOfParameter(1), 0);
  EXPECT_EQ(h->IndexOfParameter(70), -1);
  EXPECT_TRUE(h->HasParameter(7));
  ASSERT_EQ(h->AddParInfo(Reference(9, 9)), S_OK);
  EXPECT_EQ(h->SetValueById(9, UI1(1)), E_INVALIDARG);
  EXPECT_EQ(h->GetParInfoById(9, &r), E_INVALIDARG);
}

TEST_F(HandlerTest, StatusWords) {
  ASSERT_EQ(h->SetParameterStatus(2, 0x31), S_OK);
  EXPECT_EQ(Flags(2), 0x31u);
  EXPECT_EQ(site.journal, std::vector<std::string>{"broadcast 0x270A 2"});
  site.Clear();
  EXPECT_EQ(h->SetParameterStatus(99, 0x31), E_INVALIDARG);
  EXPECT_EQ(h->SetParameterStatus(0xFFFFFFFF, 0x31), E_INVALIDARG);
  EXPECT_TRUE(site.journal.empty());

  ULONG status = 0;
  ASSERT_EQ(h->SetValueAndStatusById(2, nullptr, &status), S_OK);
  EXPECT_EQ(Flags(2), 0u);
  vkr::Variant bad = Text(u"x");
  EXPECT_EQ(h->SetValueAndStatusById(2, &bad, &status), DISP_E_TYPEMISMATCH);
  vkr::Variant word = I4(0x11);
  ASSERT_EQ(h->SetParameterInfo(UI4(2), nullptr, &word), S_OK);
  EXPECT_EQ(Flags(2), 0x11u);
  EXPECT_TRUE(site.journal.empty()) << "no notification: " << site.Joined();
}

TEST_F(HandlerTest, ParameterInformation) {
  vkr::Variant value, minimum, maximum, def, status;
  BSTR name = nullptr;
  VARTYPE vt = 0;
  ASSERT_EQ(h->GetParameterInfo(UI4(1), &value, &name, &vt, &minimum, &maximum, &def, &status), S_OK);
  EXPECT_EQ(value.bVal, 10);
  EXPECT_EQ(vkr::View(name), u"Level");
  SysFreeString(name);
  EXPECT_EQ(vt, VT_UI1);
  EXPECT_EQ(maximum.bVal, 99);
  EXPECT_EQ(status.vt, VT_UI4);
  EXPECT_EQ(status.ulVal, 0x71u | PFL_ADDRESSED);
  ASSERT_EQ(h->GetParameterInfo(UI4(1), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(h->GetParameterInfoById(0xFFFFFFFF, &value, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);

  vkr::Variant count, id;
  ASSERT_EQ(h->GetParameterCount(&count), S_OK);
  EXPECT_EQ(count.ulVal, 7u);
  ASSERT_EQ(h->GetParameterIdAt(I4(3), &id), S_OK);
  EXPECT_EQ(id.vt, VT_UI4);
  EXPECT_EQ(id.ulVal, 4u);
  EXPECT_EQ(h->GetParameterIdAt(UI4(7), &id), E_INVALIDARG);

  vkr::Variant kind;
  ASSERT_EQ(h->GetAddressedWord(UI4(1), &kind), S_OK);
  EXPECT_EQ(kind.ulVal, 1u);
  EXPECT_EQ(h->GetAddressedWord(UI4(1), nullptr), E_POINTER);
  ASSERT_EQ(h->SetParameterAddress(UI4(2), Text(u"<AddressInformation/>")), S_OK);
  vkr::Variant address;
  ASSERT_EQ(h->GetParameterAddress(UI4(2), &address), S_OK);
  EXPECT_EQ(TextOf(address), u"<AddressInformation/>");
}

TEST_F(HandlerTest, FieldsByMask) {
  struct Case {
    ULONG mask;
    VARTYPE vt;
  };
  const Case cases[] = {
      {PIF_ADDRESSED, VT_UI4}, {PIF_NAME, VT_BSTR},  {PIF_VARTYPE, VT_UI2},    {PIF_KIND, VT_UI2},
      {PIF_MAX, VT_UI1},       {PIF_VALUE, VT_UI1},  {PIF_PERSIST, VT_BOOL},   {PIF_FLAGS, VT_UI4},
      {PIF_UNIT, VT_BSTR},     {PIF_DEV_VALUE, VT_UI1}, {PIF_STRING_ID, VT_BSTR}, {PIF_FLAG_WORD1, VT_UI4},
  };
  for (const Case& c : cases) {
    vkr::Variant v;
    ASSERT_EQ(h->GetParameterField(UI4(1), UI4(c.mask), &v), S_OK) << std::hex << c.mask;
    EXPECT_EQ(v.vt, c.vt) << std::hex << c.mask;
  }
  vkr::Variant v;
  // The "exists" selector travels as a VT_I4 and is read as its bits.
  ASSERT_EQ(h->GetParameterField(UI4(1), I4(static_cast<LONG>(0x80000000)), &v), S_OK);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  ASSERT_EQ(h->GetParameterField(UI4(99), I4(static_cast<LONG>(0x80000000)), &v), S_OK);
  EXPECT_EQ(v.boolVal, VARIANT_FALSE);
  EXPECT_EQ(h->GetParameterField(UI4(99), UI4(PIF_NAME), &v), E_INVALIDARG);
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(0x6), &v), E_FAIL);
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(PIF_NAME), nullptr), E_INVALIDARG);

  // Writes convert to the field's type; what does not convert is refused, nothing written.
  ASSERT_EQ(h->SetParameterField(UI4(2), UI4(PIF_NAME), I4(12)), S_OK);
  ASSERT_EQ(h->GetParameterField(UI4(2), UI4(PIF_NAME), &v), S_OK);
  EXPECT_EQ(TextOf(v), u"12");
  EXPECT_EQ(h->SetParameterField(UI4(2), UI4(PIF_FLAGS), Text(u"lots")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Flags(2), 0x71u);
  ASSERT_EQ(h->SetParameterField(UI4(2), UI4(PIF_PERSIST), Bool(true)), S_OK);
  ParInfo r;
  ASSERT_EQ(h->GetParInfoFields(2, PIF_PERSIST, &r), S_OK);
  EXPECT_EQ(r.m_bPersist, 0xFFFFFFFFu);
  EXPECT_EQ(h->SetParameterField(UI4(2), UI4(0x80000000), I4(1)), S_OK);
  EXPECT_EQ(h->SetParameterField(UI4(2), UI4(0x3), I4(1)), E_FAIL);
}

TEST_F(HandlerTest, ValuesAndTextsByWhat) {
  ASSERT_EQ(h->HandleDevParResponse(VARIANT_TRUE, UI4(3), Text(u"dev"), nullptr), S_OK);
  vkr::Variant out;
  ASSERT_EQ(h->GetParameterValues(3, vkr::Variant(), 1, &out), S_OK);
  EXPECT_EQ(TextOf(out), u"tag");
  ASSERT_EQ(h->GetParameterValues(3, vkr::Variant(), 3, &out), S_OK);
  EXPECT_EQ(TextOf(out), u"dev");  // the last fetched
  BSTR text = nullptr;
  ASSERT_EQ(h->GetParameterText(3, vkr::Variant(), 1, &text), S_OK);
  EXPECT_EQ(vkr::View(text), u"tag");
  SysFreeString(text);
  EXPECT_EQ(h->GetParameterText(1, vkr::Variant(), 1, &text), E_FAIL);
  EXPECT_EQ(h->GetParameterText(3, vkr::Variant(), 1, nullptr), E_POINTER);
}

TEST_F(HandlerTest, RelationsAndUpdateExpressions) {
  EXPECT_EQ(h->EvaluateRelationsFor(1, 0, 0), S_FALSE);
  EXPECT_EQ(h->EvaluateRelationsFor(1, 3, 0), S_OK);  // no expressions: nothing to do
  site.state = dsONLINE;
  vkr::Bstr update(u"update(1, 2,3)");
  ASSERT_EQ(h->ApplyUpdateExpression(0, update), S_OK);
  EXPECT_TRUE(site.Has("readsync 1"));
  EXPECT_FALSE(site.Has("readsync 2"));  // a data-set parameter is not read
  site.Clear();
  // The list ends at its parenthesis: the relation after it names no parameter to re-read.
  ParInfo r;
  r.m_vRelation = Text(u"update(1) relation(2,5)");
  ASSERT_EQ(h->SetParInfoFields(2, PIF_RELATION, r), S_OK);
  EXPECT_EQ(h->EvaluateRelationsFor(2, 1, 0), S_OK);
  EXPECT_EQ(site.journal, (std::vector<std::string>{"callback 1 1", "readsync 1", "callback 2 1"})) << site.Joined();
  // Kind 2's default hook decides nothing.
  EXPECT_EQ(h->EvaluateRelationsFor(2, 2, 0), S_OK);
  vkr::Bstr nothing(u"update(");
  EXPECT_EQ(h->ApplyUpdateExpression(0, nothing), E_INVALIDARG);
  vkr::Bstr other(u"relation(1,2)");
  EXPECT_EQ(h->ApplyUpdateExpression(0, other), E_INVALIDARG);
}

TEST_F(HandlerTest, DisplayTexts) {
  struct Case {
    const char* what;
    ULONG id;
    vkr::Variant value;
    const char16_t* text;
  };
  const Case cases[] = {
      {"an enumeration's label", 4, I4(0), u"Off"},
      {"a boolean's -1 is its 1", 4, Bool(true), u"On"},
      {"the labels of the bits set", 5, UI4(5), u"A | C"},
      {"no bit of any entry", 5, UI4(8), u" "},
      {"a plain number", 1, UI1(7), u"7"},
      {"a value not in the list shows as it is", 4, I4(2), u"2"},
      {"markup is escaped", 3, Text(u"<a&b>"), u"&lt;a&amp;b&gt;"},
  };
  for (const Case& c : cases) {
    BSTR text = nullptr;
    ASSERT_EQ(h->GetParameterDisplayText(UI4(c.id), c.value, &text), S_OK) << c.what;
    EXPECT_EQ(vkr::View(text), std::u16string_view(c.text)) << c.what;
    SysFreeString(text);
  }
  // A rendering longer than 260 characters is not shown.
  std::u16string longText(261, u'x');
  BSTR text = nullptr;
  ASSERT_EQ(h->GetParameterDisplayText(UI4(3), Text(longText.c_str()), &text), S_OK);
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
  EXPECT_EQ(h->GetParameterDisplayText(UI4(3), Text(u"x"), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->GetParameterDisplayText(UI4(99), Text(u"x"), &text), E_INVALIDARG);
}

TEST_F(HandlerTest, TypeInformationNarrowsTheType) {
  vkr::Variant lo = I4(0), hi = I4(100000);
  ParInfo p = Record(9, VT_I4, I4(1), &lo, &hi);
  p.m_vTypeInformation = Text(u"<TypeInformation><Simple type=\"VT_UI1\"/></TypeInformation>");
  ASSERT_EQ(h->AddParInfo(p), S_OK);
  ULONG word = 0;
  ASSERT_EQ(h->ValidateParameter(UI4(9), I4(200), &word), S_OK);
  EXPECT_FALSE(word & PFL_INVALID);
  ASSERT_EQ(h->ValidateParameter(UI4(9), I4(300), &word), S_OK);
  EXPECT_TRUE(word & PFL_INVALID);  // in range, but no byte
  // A text that names no simple type (the device's arrays) does not narrow.
  ParInfo q = Record(10, VT_I4, I4(1), &lo, &hi);
  q.m_vTypeInformation = Text(u"<TypeInformation><Array><Simple type=\"VT_UI1\"/></Array></TypeInformation>");
  ASSERT_EQ(h->AddParInfo(q), S_OK);
  ASSERT_EQ(h->ValidateParameter(UI4(10), I4(300), &word), S_OK);
  EXPECT_FALSE(word & PFL_INVALID);
  q.m_nId = 11;
  q.m_vTypeInformation = Text(u"not xml");
  ASSERT_EQ(h->AddParInfo(q), S_OK);
  ASSERT_EQ(h->ValidateParameter(UI4(11), I4(300), &word), S_OK);
  EXPECT_FALSE(word & PFL_INVALID);
}

TEST_F(HandlerTest, AnUpdateNamingItsOwnParameterEnds) {
  site.state = dsONLINE;
  // The connection answers inside the blocking read; the answer runs the relations again.
  site.onReadSync = [this](ULONG id) { h->HandleDevParResponse(VARIANT_TRUE, UI4(id), UI1(5), nullptr); };
  ParInfo r;
  r.m_vRelation = Text(u"update(1)");
  ASSERT_EQ(h->SetParInfoFields(1, PIF_RELATION, r), S_OK);
  ASSERT_EQ(h->EvaluateRelationsFor(1, 1, 0), S_OK);
  int reads = 0;
  for (const std::string& e : site.journal) reads += e == "readsync 1";
  EXPECT_EQ(reads, 1) << site.Joined();
  EXPECT_EQ(DeviceValue(1).bVal, 5);
}

TEST_F(HandlerTest, DataSetState) {
  ASSERT_EQ(h->SetDataSetState(DSS_ALL_DATA_LOADED), S_OK);
  ASSERT_EQ(site.broadcasts.size(), 1u);
  EXPECT_EQ(site.broadcasts[0].event, 0x270Fu);
  EXPECT_EQ(site.broadcasts[0].argument.vt, VT_UI2);
  EXPECT_EQ(site.broadcasts[0].argument.uiVal, 3);
  EXPECT_TRUE(site.Has("modified"));
  site.Clear();
  ASSERT_EQ(h->SetDataSetState(DSS_ALL_DATA_LOADED), S_OK);
  EXPECT_TRUE(site.journal.empty());
}

TEST_F(HandlerTest, CancelsAndHooks) {
  VARIANT_BOOL done = VARIANT_FALSE;
  site.hasCommunication = false;
  EXPECT_EQ(h->CancelOnlineParameters(nullptr, &done), E_NOINTERFACE);
  EXPECT_FALSE(h->m_bAbortTransfer);
  site.hasCommunication = true;
  vkr::Bstr transfer(u"T1");
  ASSERT_EQ(h->CancelOnlineParameters(transfer, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_TRUE(h->m_bAbortTransfer);
  EXPECT_TRUE(site.Has("cancel T1"));
  h->m_bAbortTransfer = false;
  ASSERT_EQ(h->CancelTransfer(&done), S_OK);
  EXPECT_TRUE(h->m_bAbortTransfer);
  EXPECT_EQ(h->CancelTransfer(nullptr), E_INVALIDARG);

  EXPECT_TRUE(h->ParameterHookBool(0, 0, 0, 5));
  EXPECT_FALSE(h->ParameterHookBool(1, 1, 1, 0));
  EXPECT_EQ(h->ParameterHookMode(0, 0, 0, 1), 2u);
  EXPECT_EQ(h->ParameterHookMode(0, 0, 0, 0), 0u);
  EXPECT_EQ(h->InitNewParameterHandler(&done), S_OK);
  vkr::Variant unused;
  EXPECT_EQ(h->EvaluateEnumerationRelation(unused, nullptr), E_INVALIDARG);
  EXPECT_EQ(h->EvaluateEnumerationRelation(unused, &unused), E_NOTIMPL);
}

TEST_F(HandlerTest, OperationsNotBuiltYetSaySo) {
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(h->UploadOnlineParameters(nullptr, &done), E_NOTIMPL);
  EXPECT_EQ(h->DownloadOnlineParameters(nullptr, &done), E_NOTIMPL);
  vkr::Variant v;
  EXPECT_EQ(h->GetParameterField(UI4(1), Text(u"Property"), &v), E_NOTIMPL);
  UINT count = 9;
  EXPECT_EQ(h->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(h->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
}

}  // namespace

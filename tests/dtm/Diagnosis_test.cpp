// The diagnosis calls: the check of the data set (Verify), the comparison of the data set with the
// device (IDtmOnlineDiagnosis::Compare, by list or over all parameters), the device status, their
// entry rules, the exact documents and their validation against the frame's schemas.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "tests/support/dtm_fakes.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "tests/support/schema_validator.h"
#include "tests/support/source_tree.h"

namespace {

using namespace vkr::test;
namespace fs = std::filesystem;

const fs::path kFrameSchemas = vkr::test::FrameSchemas();

using Validator = SchemaValidator;

vkr::Variant R4(float f) {
  vkr::Variant v;
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

vkr::Variant Texts(const std::vector<std::u16string>& items) {
  vkr::Variant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    vkr::Variant item = Text(items[static_cast<std::size_t>(i)].c_str());
    SafeArrayPutElement(array, &i, &item);
  }
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = array;
  return v;
}

// A compared record: addressed, readable, stored in the data set.
ParInfo Record(ULONG id, float value) {
  ParInfo r;
  r.m_nId = id;
  r.m_dwAddressed = 1;
  r.m_dwFlags = PFL_DEFAULT;
  r.m_bPersist = 1;
  r.m_vValue = R4(value);
  return r;
}

// The DTM over a table of records and a device of values; it records reads, progress and errors.
class DiagDtm : public TestDtm {
 public:
  std::vector<ParInfo> records;
  std::set<ULONG> invalid;
  std::map<ULONG, float> device;  // a missing id fails its read
  std::vector<ULONG> reads;
  std::vector<std::string> progress;  // "percent/mode"
  std::vector<std::string> errors;
  bool verified = true;
  int goOnlineCalls = 0;

  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  void SetCompareList(const VARIANT& key) { m_vCompareListId = vkr::Variant(key); }

  HRESULT GetCollectionCount(ULONG* count) override {
    *count = static_cast<ULONG>(records.size());
    return S_OK;
  }
  HRESULT GetParInfoAt(LONG index, ParInfo* out) override {
    if (index < 0 || static_cast<std::size_t>(index) >= records.size()) return E_INVALIDARG;
    *out = records[static_cast<std::size_t>(index)];
    return S_OK;
  }
  HRESULT GetParInfoById(ULONG id, ParInfo* out) override {
    for (const ParInfo& r : records)
      if (r.m_nId == id) {
        *out = r;
        return S_OK;
      }
    return E_FAIL;
  }
  HRESULT ValidateParameter(VARIANT id, VARIANT, ULONG* result) override {
    *result = invalid.count(id.ulVal) ? ULONG{PFL_INVALID} : 0u;
    return S_OK;
  }
  HRESULT ReadParameterDirect(VARIANT id, VARIANT* value) override {
    reads.push_back(id.ulVal);
    auto it = device.find(id.ulVal);
    if (it == device.end()) return E_FAIL;
    VariantClear(value);
    value->vt = VT_R4;
    value->fltVal = it->second;
    return S_OK;
  }
  HRESULT TryToGoOnlineAndVerifyDevice(DWORD, DWORD, VARIANT_BOOL* ok) override {
    ++goOnlineCalls;
    *ok = verified ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT SendProgress(BSTR text, USHORT percent, USHORT mode) override {
    EXPECT_TRUE(text && !*text) << "progress text";
    progress.push_back(std::to_string(percent) + "/" + std::to_string(mode));
    return S_OK;
  }
  HRESULT TranslateBaseDtmMessage(ULONG id, BSTR* text) override {
    *text = SysAllocString(id == 2002 ? u"There are invalid parameters in the data set" : u"?");
    return S_OK;
  }
  void OnError(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    char buffer[256];
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    errors.push_back(buffer);
  }
};

const std::string kCompareHead =
    "<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMOnlineCompareSchema.xml\" "
    "\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t";
const std::string kEqual = kCompareHead + "<CompareResult statusFlag=\"equal\"/>  </FDT> ";
const std::string kNotEqual = kCompareHead + "<CompareResult statusFlag=\"notEqual\"/>  </FDT> ";
const std::string kCommError =
    kCompareHead + "<fdt:CommunicationError communicationError=\"dtmSpecific\" tag=\"tag\"/> </FDT> ";
std::string StatusDocument(const char* flag) {
  return std::string("<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMDeviceStatusSchema.xml\" "
                     "\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<DtmDeviceStatus fdt:statusFlag=\"") +
         flag + "\"/> </FDT> ";
}

class Diagnosis : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<DiagDtm>(&dtm), S_OK);
    ASSERT_EQ(validator.InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(kFrameSchemas.string()))), S_OK);
    dtm->ForceState(dsONLINE);
    dtm->SetUserLevel(2);
    ASSERT_EQ(dtm->QueryInterface(IovFDTParamList::iid, lists.PutVoid()), S_OK);
  }
  void TearDown() override {
    lists = nullptr;
    dtm = nullptr;
    CoUninitialize();
  }

  // The online compare document; it must validate against the frame's schemas.
  std::string CompareDocument() {
    vkr::Bstr text;
    IDtmOnlineDiagnosis* online = dtm.Get();
    EXPECT_EQ(online->Compare(text.Put()), S_OK);
    Validate(text);
    return text.Get() ? vkr::Utf16ToUtf8(text.View()) : "(none)";
  }
  std::string StatusDocumentOf() {
    vkr::Bstr text;
    EXPECT_EQ(dtm->GetDeviceStatus(text.Put()), S_OK);
    Validate(text);
    return text.Get() ? vkr::Utf16ToUtf8(text.View()) : "(none)";
  }
  void Validate(BSTR text) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    validator.errors.clear();
    EXPECT_EQ(validator.LoadXMLDocument(text, document.Put(), &loaded), S_OK) << validator.errors;
    EXPECT_EQ(loaded, VARIANT_TRUE) << validator.errors << (text ? vkr::Utf16ToUtf8(vkr::View(text)) : "");
  }
  void MakeList(const char16_t* key, const char16_t* parent, const std::vector<std::u16string>& members) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    vkr::Variant parentKey = parent ? Text(parent) : vkr::Variant();
    ASSERT_EQ(lists->CreateList(Text(key), parentKey, Texts({}), Texts({}), &ok), S_OK);
    ASSERT_EQ(ok, VARIANT_TRUE);
    if (!members.empty()) {
      ASSERT_EQ(lists->AddMembers(Text(key), Texts(members), &ok), S_OK);
    }
  }

  Validator validator;
  vkr::ComPtr<vkr::ComObject<DiagDtm>> dtm;
  vkr::ComPtr<IovFDTParamList> lists;
};

TEST(DeviceStatusText, NamesTheFourStatesAndRefusesOthers) {
  const std::pair<ULONG, const char16_t*> cases[] = {{0, u"ok"}, {1, u"warning"}, {2, u"error"}, {3, u"invalid"}};
  for (const auto& [value, name] : cases) {
    vkr::Bstr text;
    ASSERT_EQ(DeviceStatusText(value, text.Put()), S_OK) << value;
    EXPECT_EQ(text.Str(), name) << value;
  }
  vkr::Bstr text;
  EXPECT_EQ(DeviceStatusText(4, text.Put()), E_FAIL);
  EXPECT_EQ(DeviceStatusText(0xFFFFFFFF, text.Put()), E_FAIL);
  EXPECT_EQ(DeviceStatusText(0, nullptr), E_POINTER);
}

TEST_F(Diagnosis, TheSchemasRefuseWhatTheDocumentsMustNotSay) {
  // The check the document tests rely on: a wrong flag or a second result does not validate.
  const std::string bad[] = {
      kCompareHead + "<CompareResult statusFlag=\"same\"/>  </FDT> ",
      kCompareHead + "<CompareResult statusFlag=\"equal\"/><CompareResult statusFlag=\"equal\"/> </FDT> ",
      StatusDocument("fine"),
  };
  for (const std::string& text : bad) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_TRUE;
    validator.LoadXMLDocument(vkr::Bstr(vkr::Utf8ToUtf16(text)), document.Put(), &loaded);
    EXPECT_EQ(loaded, VARIANT_FALSE) << text;
  }
}

TEST_F(Diagnosis, VerifyReportsInvalidParametersOnceAndOnlyInWorkingStates) {
  for (ULONG id : {1u, 2u, 3u, 4u}) dtm->records.push_back(Record(id, 1.0f));
  dtm->invalid = {1, 3, 4};
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(dtm->Verify(nullptr), E_INVALIDARG);
  for (EDtmState state : {dsCREATED, dsLOADED, dsENVIRONMENTSET}) {
    dtm->ForceState(state);
    result = VARIANT_TRUE;
    EXPECT_EQ(dtm->Verify(&result), S_FALSE) << state;
    EXPECT_EQ(result, VARIANT_FALSE) << state;
  }
  EXPECT_TRUE(dtm->errors.empty());
  for (EDtmState state : {dsCONFIGURED, dsONLINE}) {
    dtm->errors.clear();
    dtm->ForceState(state);
    result = VARIANT_TRUE;
    EXPECT_EQ(dtm->Verify(&result), S_OK) << state;
    EXPECT_EQ(result, VARIANT_FALSE) << state;
    ASSERT_EQ(dtm->errors.size(), 1u) << "the message is sent once for three invalid values";
    EXPECT_EQ(dtm->errors[0], "There are invalid parameters in the data set");
  }
  dtm->invalid.clear();
  dtm->errors.clear();
  EXPECT_EQ(dtm->Verify(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_TRUE(dtm->errors.empty());
}

TEST_F(Diagnosis, EntryRulesOfTheOnlineCalls) {
  IDtmOnlineDiagnosis* online = dtm.Get();
  EXPECT_EQ(online->Compare(static_cast<BSTR*>(nullptr)), E_INVALIDARG);
  EXPECT_EQ(dtm->GetDeviceStatus(nullptr), E_POINTER);
  struct Case {
    EDtmState state;
    ULONG level;
  } refused[] = {{dsONLINE, 1}, {dsONLINE, 0}, {dsCONFIGURED, 8}, {dsENVIRONMENTSET, 8}, {dsCREATED, 8}};
  for (const Case& c : refused) {
    dtm->ForceState(c.state);
    dtm->SetUserLevel(c.level);
    BSTR text = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(online->Compare(&text), S_FALSE) << c.state << " level " << c.level;
    EXPECT_EQ(text, nullptr);
    text = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(dtm->GetDeviceStatus(&text), S_FALSE) << c.state << " level " << c.level;
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_EQ(dtm->goOnlineCalls, 0);
  EXPECT_TRUE(dtm->reads.empty());
}

TEST_F(Diagnosis, GoingOfflineIsWaitedOutThenRefusedWhenItEndsOffline) {
  // The transition has settled (event set) but the state stays 11: refused without a long wait.
  dtm->ForceState(dsGOINGOFFLINE);
  SetEvent(dtm->StateSettledEvent());
  const DWORD start = GetTickCount();
  vkr::Bstr text;
  EXPECT_EQ(dtm->GetDeviceStatus(text.Put()), S_FALSE);
  EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST_F(Diagnosis, CompareWithTheDeviceOverAllParameters) {
  dtm->records = {Record(10, 1.0f), Record(11, 2.0f), Record(12, 3.0f)};
  dtm->device = {{10, 1.0f}, {11, 2.0f}, {12, 3.0f}};
  EXPECT_EQ(CompareDocument(), kEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{10, 11, 12}));
  EXPECT_EQ(dtm->progress, (std::vector<std::string>{"0/65535", "33/65535", "66/65535", "0/0"}));

  // A difference does not end the comparison: every parameter is read, so that each one that
  // differs can be named; progress is reset at the end.
  dtm->device[10] = 9.0f;
  dtm->device[12] = 8.0f;
  dtm->reads.clear();
  dtm->progress.clear();
  EXPECT_EQ(CompareDocument(), kNotEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{10, 11, 12}));
  EXPECT_EQ(dtm->progress, (std::vector<std::string>{"0/65535", "33/65535", "66/65535", "0/0"}));
  dtm->device[12] = 3.0f;

  // A read failure is reported in the document, not as notEqual and not as an HRESULT.
  dtm->device = {{10, 1.0f}, {12, 3.0f}};
  dtm->reads.clear();
  EXPECT_EQ(CompareDocument(), kCommError);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{10, 11}));
}

TEST_F(Diagnosis, OnlyAddressedReadableStoredParametersAreCompared) {
  ParInfo unaddressed = Record(1, 5.0f);
  unaddressed.m_dwAddressed = 0;
  ParInfo unreadable = Record(2, 5.0f);
  unreadable.m_dwFlags = PFL_WRITABLE;
  ParInfo transient = Record(3, 5.0f);
  transient.m_bPersist = 0;
  dtm->records = {unaddressed, unreadable, transient};
  // Nothing compared: the whole-table comparison starts at notEqual.
  EXPECT_EQ(CompareDocument(), kNotEqual);
  EXPECT_TRUE(dtm->reads.empty());
  EXPECT_EQ(dtm->progress, (std::vector<std::string>{"0/0"}));

  dtm->records.push_back(Record(4, 7.0f));
  dtm->device = {{4, 7.0f}};
  EXPECT_EQ(CompareDocument(), kEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{4}));
}

TEST_F(Diagnosis, CompareByList) {
  ParInfo transient = Record(3, 5.0f);
  transient.m_bPersist = 0;
  dtm->records = {Record(1, 1.0f), Record(2, 2.0f), transient};
  dtm->device = {{1, 1.0f}, {2, 99.0f}};

  // A list with no compared member and no child list stays at its start: equal, where the whole
  // table (with a difference at 2) would not be.
  MakeList(u"Quiet", nullptr, {u"3", u"77"});
  dtm->SetCompareList(Text(u"Quiet"));
  EXPECT_EQ(CompareDocument(), kEqual);
  EXPECT_TRUE(dtm->reads.empty());

  // A list naming only the equal parameter.
  MakeList(u"Good", nullptr, {u"1"});
  dtm->SetCompareList(Text(u"Good"));
  EXPECT_EQ(CompareDocument(), kEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1}));

  // A difference in a child list counts.
  MakeList(u"Child", u"Good", {u"2"});
  dtm->reads.clear();
  EXPECT_EQ(CompareDocument(), kNotEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1, 2}));

  // A list that does not exist: every parameter is compared.
  dtm->SetCompareList(Text(u"Missing"));
  dtm->reads.clear();
  EXPECT_EQ(CompareDocument(), kNotEqual);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1, 2}));
}

TEST_F(Diagnosis, AListReadFailureEndsTheComparisonEvenWhenTheValueIsEmpty) {
  // An empty data-set value would compare equal to the empty value a failed read leaves; the
  // failure must still be reported and the next member not read.
  ParInfo empty = Record(1, 0.0f);
  empty.m_vValue.Clear();
  dtm->records = {empty, Record(2, 2.0f)};
  dtm->device = {{2, 2.0f}};
  MakeList(u"L", nullptr, {u"1", u"2"});
  dtm->SetCompareList(Text(u"L"));
  EXPECT_EQ(CompareDocument(), kCommError);
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1}));
}

TEST_F(Diagnosis, NotOnlineOrNotVerifiedGivesErrorDocuments) {
  dtm->records = {Record(1, 1.0f)};
  dtm->device = {{1, 1.0f}};
  struct Case {
    EDtmState state;
    bool verified;
  } cases[] = {{dsCOMMUNICATIONSET, true}, {dsGOINGONLINE, true}, {dsONLINE, false}};
  for (const Case& c : cases) {
    dtm->ForceState(c.state);
    dtm->verified = c.verified;
    EXPECT_EQ(CompareDocument(), kCommError) << c.state << " " << c.verified;
    EXPECT_EQ(StatusDocumentOf(), StatusDocument("error")) << c.state << " " << c.verified;
  }
  EXPECT_TRUE(dtm->reads.empty());
  EXPECT_EQ(dtm->goOnlineCalls, 6);
}

TEST_F(Diagnosis, DeviceStatusReadsEveryReadableAddressedParameter) {
  ParInfo transient = Record(3, 5.0f);
  transient.m_bPersist = 0;  // read for the status although not stored
  ParInfo unaddressed = Record(4, 5.0f);
  unaddressed.m_dwAddressed = 0;
  dtm->records = {Record(1, 1.0f), Record(2, 2.0f), transient, unaddressed};
  dtm->device = {{1, 8.0f}, {2, 2.0f}, {3, 5.0f}};
  EXPECT_EQ(StatusDocumentOf(), StatusDocument("ok"));
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1, 2, 3}));
  EXPECT_EQ(dtm->progress.back(), "0/0");

  // The first failing read makes the status "error" and ends the walk.
  dtm->device.erase(2);
  dtm->reads.clear();
  EXPECT_EQ(StatusDocumentOf(), StatusDocument("error"));
  EXPECT_EQ(dtm->reads, (std::vector<ULONG>{1, 2}));
  EXPECT_EQ(dtm->progress.back(), "0/0");

  ULONG status = 7;
  EXPECT_EQ(dtm->InternalGetDeviceStatus(nullptr), E_POINTER);
  dtm->records.clear();
  EXPECT_EQ(dtm->InternalGetDeviceStatus(&status), S_OK);
  EXPECT_EQ(status, 0u);
}

// The partner DTM: its parameters as the parameter-information interface gives them.
class FakePartner : public vkr::Implements<IovFdtParameterInfo> {
 public:
  std::vector<std::pair<ULONG, float>> parameters;
  bool countIsText = false;
  HRESULT fieldResult = S_OK;
  std::function<void()> onField;  // runs inside the field read, as a call pumped meanwhile would
  VKR_TEST_DISPATCH
  HRESULT GetParameterCount(VARIANT* count) override {
    if (countIsText) {
      count->vt = VT_BSTR;
      count->bstrVal = SysAllocString(u"2");
      return S_OK;
    }
    *count = UI4(static_cast<ULONG>(parameters.size()));
    return S_OK;
  }
  HRESULT GetParameterIdAt(VARIANT index, VARIANT* id) override {
    if (index.vt != VT_UI4 || index.ulVal >= parameters.size()) return E_INVALIDARG;
    *id = UI4(parameters[index.ulVal].first);
    return S_OK;
  }
  HRESULT GetParameterField(VARIANT id, VARIANT field, VARIANT* value) override {
    EXPECT_EQ(field.lVal, 0x80);
    if (onField) onField();
    if (FAILED(fieldResult)) return fieldResult;
    for (const auto& [key, v] : parameters)
      if (key == id.ulVal) {
        value->vt = VT_R4;
        value->fltVal = v;
        return S_OK;
      }
    return E_FAIL;
  }
  HRESULT SetParameterField(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
};

// The frame: its container and its topology, which hands out the partner of one tag.
class TopologyFrame : public StubContainer<IFdtTopology> {
 public:
  vkr::ComPtr<IUnknown> partner;
  std::vector<std::string> calls;
  VARIANT_BOOL releaseAnswer = VARIANT_TRUE;
  HRESULT TopologyService7() override { return E_NOTIMPL; }
  HRESULT TopologyService8() override { return E_NOTIMPL; }
  HRESULT TopologyService9() override { return E_NOTIMPL; }
  HRESULT TopologyService10() override { return E_NOTIMPL; }
  HRESULT TopologyService12() override { return E_NOTIMPL; }
  HRESULT TopologyService13() override { return E_NOTIMPL; }
  HRESULT GetDtmForSystemTag(BSTR tag, IUnknown** dtm) override {
    calls.push_back("get " + vkr::Utf16ToUtf8(vkr::View(tag)));
    *dtm = partner.Get();
    if (*dtm) (*dtm)->AddRef();
    return S_OK;
  }
  HRESULT ReleaseDtmForSystemTag(BSTR tag, VARIANT_BOOL* released) override {
    calls.push_back("release " + vkr::Utf16ToUtf8(vkr::View(tag)));
    *released = releaseAnswer;
    return S_OK;
  }
};

class PartnerCompare : public Diagnosis {
 protected:
  void SetUp() override {
    Diagnosis::SetUp();
    ASSERT_EQ(vkr::MakeObject<FakePartner>(&partner), S_OK);
    ASSERT_EQ(vkr::MakeObject<TopologyFrame>(&frame), S_OK);
    frame->partner = static_cast<IovFdtParameterInfo*>(partner.Get());
    dtm->SetContainer(frame.Get());
    dtm->ForceState(dsCONFIGURED);
  }
  void TearDown() override {
    frame = nullptr;
    partner = nullptr;
    Diagnosis::TearDown();
  }
  VARIANT_BOOL CompareResult(HRESULT expected = S_OK) {
    VARIANT_BOOL result = VARIANT_TRUE;
    IDtmDiagnosis* diagnosis = dtm.Get();
    EXPECT_EQ(diagnosis->Compare(&result), expected);
    return result;
  }
  vkr::ComPtr<vkr::ComObject<FakePartner>> partner;
  vkr::ComPtr<vkr::ComObject<TopologyFrame>> frame;
};

TEST_F(PartnerCompare, HeldFromInitCompareToReleaseCompare) {
  VARIANT_BOOL result = VARIANT_TRUE;
  // Before InitCompare there is nothing to compare with.
  EXPECT_EQ(CompareResult(), VARIANT_FALSE);
  EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"P1"), &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  // A second partner is refused; the first is kept.
  EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"P2"), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(CompareResult(), VARIANT_TRUE) << "two empty collections are equal";
  EXPECT_EQ(dtm->ReleaseCompare(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(frame->calls, (std::vector<std::string>{"get P1", "release P1"}));
  EXPECT_EQ(CompareResult(), VARIANT_FALSE);
  EXPECT_EQ(dtm->ReleaseCompare(&result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(frame->calls.size(), 2u) << "nothing more to give back";
}

TEST_F(PartnerCompare, AFrameThatKeepsThePartnerLeavesItHeld) {
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(dtm->InitCompare(vkr::Bstr(u"P1"), &result), S_OK);
  frame->releaseAnswer = VARIANT_FALSE;
  EXPECT_EQ(dtm->ReleaseCompare(&result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  dtm->records = {Record(1, 1.0f)};
  partner->parameters = {{1, 1.0f}};
  EXPECT_EQ(CompareResult(), VARIANT_TRUE);
}

TEST_F(PartnerCompare, ADtmWithoutParameterInformationGoesStraightBack) {
  vkr::ComPtr<vkr::ComObject<FakeStateEvents>> other;
  ASSERT_EQ(vkr::MakeObject<FakeStateEvents>(&other), S_OK);
  frame->partner = static_cast<IFrameDtmStateEvents*>(other.Get());
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"X"), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(frame->calls, (std::vector<std::string>{"get X", "release X"}));
  EXPECT_EQ(CompareResult(), VARIANT_FALSE);
  EXPECT_EQ(dtm->ReleaseCompare(&result), S_OK);
  EXPECT_EQ(frame->calls.size(), 2u) << "the refused DTM is not given back twice";
}

TEST_F(PartnerCompare, EntryRules) {
  VARIANT_BOOL result = VARIANT_TRUE;
  IDtmDiagnosis* diagnosis = dtm.Get();
  EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"P"), nullptr), E_INVALIDARG);
  EXPECT_EQ(diagnosis->Compare(static_cast<VARIANT_BOOL*>(nullptr)), E_INVALIDARG);
  EXPECT_EQ(dtm->ReleaseCompare(nullptr), E_INVALIDARG);
  struct Case {
    EDtmState state;
    ULONG level;
  } refused[] = {{dsCONFIGURED, 1}, {dsENVIRONMENTSET, 8}, {dsLOADED, 8}};
  for (const Case& c : refused) {
    dtm->ForceState(c.state);
    dtm->SetUserLevel(c.level);
    result = VARIANT_TRUE;
    EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"P"), &result), S_FALSE) << c.state;
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(CompareResult(S_FALSE), VARIANT_FALSE) << c.state;
    EXPECT_EQ(dtm->ReleaseCompare(&result), S_FALSE) << c.state;
  }
  EXPECT_TRUE(frame->calls.empty());
  // A frame without topology.
  dtm->ForceState(dsONLINE);
  dtm->SetUserLevel(2);
  dtm->SetContainer(nullptr);
  EXPECT_EQ(dtm->InitCompare(vkr::Bstr(u"P"), &result), E_POINTER);
}

TEST_F(PartnerCompare, ValuesOrderAndStoredFlagDecide) {
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(dtm->InitCompare(vkr::Bstr(u"P"), &result), S_OK);
  ParInfo transient = Record(3, 5.0f);
  transient.m_bPersist = 0;
  dtm->records = {Record(1, 1.0f), Record(2, 2.0f), transient};
  struct Case {
    std::vector<std::pair<ULONG, float>> partner;
    VARIANT_BOOL expected;
    const char* what;
  } cases[] = {
      {{{1, 1.0f}, {2, 2.0f}, {3, 5.0f}}, VARIANT_TRUE, "same"},
      {{{1, 1.0f}, {2, 2.0f}, {3, 6.0f}}, VARIANT_TRUE, "a value outside the data set may differ"},
      {{{1, 1.0f}, {2, 2.5f}, {3, 5.0f}}, VARIANT_FALSE, "a stored value differs"},
      {{{2, 2.0f}, {1, 1.0f}, {3, 5.0f}}, VARIANT_FALSE, "another order"},
      {{{1, 1.0f}, {2, 2.0f}}, VARIANT_FALSE, "another count"},
  };
  for (const Case& c : cases) {
    partner->parameters = c.partner;
    EXPECT_EQ(CompareResult(), c.expected) << c.what;
  }
  partner->parameters = cases[0].partner;
  partner->countIsText = true;
  EXPECT_EQ(CompareResult(), VARIANT_FALSE) << "a count that is not VT_UI4";
  partner->countIsText = false;
  partner->fieldResult = E_ACCESSDENIED;
  EXPECT_EQ(CompareResult(E_ACCESSDENIED), VARIANT_FALSE) << "the partner's failure is passed on";
}

TEST_F(PartnerCompare, AReleaseDuringTheComparisonIsRefused) {
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(dtm->InitCompare(vkr::Bstr(u"P"), &result), S_OK);
  dtm->records = {Record(1, 1.0f)};
  partner->parameters = {{1, 1.0f}};
  HRESULT inner = E_FAIL;
  VARIANT_BOOL released = VARIANT_TRUE;
  partner->onField = [&] { inner = dtm->ReleaseCompare(&released); };
  EXPECT_EQ(CompareResult(), VARIANT_TRUE);
  EXPECT_EQ(inner, S_OK);
  EXPECT_EQ(released, VARIANT_FALSE);
  partner->onField = nullptr;
  EXPECT_EQ(dtm->ReleaseCompare(&result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(frame->calls, (std::vector<std::string>{"get P", "release P"}));
}

}  // namespace

// The DTM's data set: its exact bytes in the stream and property-bag forms, loading it back,
// refusing damaged or foreign data sets without any change, the state rules of the persistence
// calls, and the import and export streams.
#include <gtest/gtest.h>

#include <map>

#include "dtm/DataSetStreams.h"
#include "parameters/CFdtVariant.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/persistable_objects.h"
#include "tests/support/test_streams.h"

namespace {

using namespace vkr::test;

// The DTM with the members these tests set or read, and the parameter list text of import and
// export standing in for the parameter handler's.
class PersistDtm : public TestDtm {
 public:
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  std::u16string DeviceType() const { return m_bstrDeviceType.Str(); }
  bool HasDeviceType() const { return m_bstrDeviceType.Get() != nullptr; }
  bool Loaded() const { return m_bDataSetLoaded; }
  DWORD formatInfo = 0;
  HRESULT GetDtmFormatInfo(DWORD* info) override {
    if (!info) return E_POINTER;
    *info = formatInfo;
    return S_OK;
  }
  std::u16string exportText;
  HRESULT exportResult = S_OK;
  std::u16string importedText;
  HRESULT BuildExportDocument(BSTR* text) override {
    if (FAILED(exportResult)) return exportResult;
    *text = exportText.empty() ? nullptr : SysAllocString(exportText.c_str());
    return S_OK;
  }
  HRESULT ImportParameterText(BSTR text) override {
    importedText = vkr::Bstr(text).Str();
    return S_OK;
  }
  // Whether a data set's device type names a parameter table (the device table) to rebuild.
  // A decoder that runs out of memory answers null, as for a device type it does not know.
  bool decodeDeviceType = false;
  bool decodeFailed = false;
  BSTR DecodeDeviceTypeString(BSTR text) override {
    if (!decodeDeviceType) return CVornExampleDtm::DecodeDeviceTypeString(text);
    BSTR decoded = SysStringLen(text) ? SysAllocString(text) : nullptr;
    decodeFailed = SysStringLen(text) && !decoded;
    return decoded;
  }
  bool Dirty() { return static_cast<IPersistStreamInit*>(this)->IsDirty() == S_OK; }
  ULONG Storage() {
    ULONG state = 9;
    GetStorageStateValue(&state);
    return state;
  }
};

class FakeBag : public vkr::Implements<IPropertyBag> {
 public:
  std::map<std::u16string, vkr::Variant> values;
  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto it = values.find(name);
    if (it == values.end()) return E_INVALIDARG;
    return VariantCopy(value, &it->second);
  }
  HRESULT Write(LPCOLESTR name, VARIANT* value) override {
    vkr::Variant copy;
    HRESULT hr = VariantCopy(&copy, value);
    if (SUCCEEDED(hr)) values[name] = copy;
    return hr;
  }
};

std::vector<BYTE> BytesOfArray(const VARIANT& v) {
  std::vector<BYTE> out;
  if (v.vt != (VT_ARRAY | VT_UI1)) return out;
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  out.assign(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + v.parray->rgsabound[0].cElements);
  SafeArrayUnaccessData(v.parray);
  return out;
}

constexpr char16_t kFormat[] = u"{00000000-0000-0000-0000-000000000000}";

// The data set of the small table below: device type "VKR", parameters 1 (VT_UI1 5, status
// 0x71) and 2 (text "ab", status 0x31), data-set state 1.
std::vector<BYTE> SmallDataSet(const char16_t* format = kFormat) {
  ByteWriter w;
  w.Text(u"VKR").Bstr(u"2.1.1").Bstr(format);
  w.I4(2).UI4(1).U16(VT_UI1).Raw({5}).UI4(0x71).UI4(2).Bstr(u"ab").UI4(0x31);
  w.UI4(1);
  return w.bytes;
}

std::vector<BYTE> WithTrailer(std::vector<BYTE> bytes, ULONG trailer = 0x0A00) {
  ByteWriter w;
  w.bytes = std::move(bytes);
  w.U32(trailer);
  return w.bytes;
}

class Persistence : public testing::Test {
 protected:
  void SetUp() override {
    a = Make();
    b = Make();
  }
  vkr::ComPtr<vkr::ComObject<PersistDtm>> Make() {
    vkr::ComPtr<vkr::ComObject<PersistDtm>> dtm;
    EXPECT_EQ(vkr::MakeObject<PersistDtm>(&dtm), S_OK);
    dtm->journal = &journal;
    return dtm;
  }
  // Replaces the device table by two parameters.
  static void SmallTable(PersistDtm* dtm, BYTE value = 0, const char16_t* text = u"", ULONG status = 0x71) {
    dtm->RemoveAllParameters();
    ParInfo p1;
    p1.m_nId = 1;
    p1.m_vt = VT_UI1;
    p1.m_vValue.vt = VT_UI1;
    p1.m_vValue.bVal = value;
    p1.m_dwFlags = status;
    ParInfo p2;
    p2.m_nId = 2;
    p2.m_vt = VT_BSTR;
    p2.m_vValue.vt = VT_BSTR;
    p2.m_vValue.bstrVal = SysAllocString(text);
    p2.m_dwFlags = status;
    ParInfo p3;  // not persisted
    p3.m_nId = 3;
    p3.m_vt = VT_I4;
    p3.m_bPersist = 0;
    ASSERT_EQ(dtm->AddParInfo(p1), S_OK);
    ASSERT_EQ(dtm->AddParInfo(p2), S_OK);
    ASSERT_EQ(dtm->AddParInfo(p3), S_OK);
  }
  // Everything of the data set as text, to compare before and after.
  static std::string Snapshot(PersistDtm* dtm) {
    std::string out = vkr::Utf16ToUtf8(dtm->DeviceType()) + (dtm->HasDeviceType() ? "" : "(null)");
    ULONG count = 0;
    dtm->GetCollectionCount(&count);
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
      ParInfo r;
      dtm->GetParInfoAt(i, &r);
      vkr::Bstr text;
      VariantToText(&r.m_vValue, text.Put());
      out.append(" ").append(std::to_string(r.m_nId)).append("=").append(vkr::Utf16ToUtf8(text.View()));
      out.append("/").append(std::to_string(r.m_dwFlags));
    }
    EDtmState state = dsUNDEFINED;
    dtm->GetDTMState(&state);
    return out + " dss " + std::to_string(dtm->GetDataSetState()) + " state " + std::to_string(state);
  }
  IPersistStreamInit* Stream(PersistDtm* dtm) { return static_cast<IPersistStreamInit*>(dtm); }
  // a's data set, saved in the stream form and loaded into b; a is then in b's state.
  void CarryAToB() {
    a->ForceState(dsCONFIGURED);
    auto s = EmptyStream();
    ASSERT_EQ(Stream(a.Get())->Save(s.Get(), TRUE), S_OK);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(Stream(b.Get())->Load(s.Get()), S_OK);
    a->ForceState(dsLOADED);
  }
  IPersistPropertyBag* Bag(PersistDtm* dtm) { return static_cast<IPersistPropertyBag*>(dtm); }

  Journal journal;
  vkr::ComPtr<vkr::ComObject<PersistDtm>> a, b;
};

TEST_F(Persistence, SavesTheExactBytesInBothForms) {
  SmallTable(a.Get(), 5, u"ab", 0x71);
  ParInfo status;
  status.m_dwFlags = 0x31;
  ASSERT_EQ(a->SetParInfoFields(2, PIF_FLAGS, status), S_OK);
  a->SetDeviceType(u"VKR");
  a->SetDataSetState(1);
  a->ForceState(dsCONFIGURED);
  auto s = EmptyStream();
  ASSERT_EQ(Stream(a.Get())->Save(s.Get(), TRUE), S_OK);
  EXPECT_EQ(BytesOf(s.Get()), WithTrailer(SmallDataSet()));

  vkr::ComPtr<vkr::ComObject<FakeBag>> bag;
  ASSERT_EQ(vkr::MakeObject<FakeBag>(&bag), S_OK);
  ASSERT_EQ(Bag(a.Get())->Save(bag.Get(), TRUE, TRUE), S_OK);
  const vkr::Variant& data = bag->values[u"DTM_DATA"];
  EXPECT_EQ(data.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(SafeArrayGetDim(data.parray), 1u);
  EXPECT_EQ(data.parray->rgsabound[0].lLbound, 0);
  EXPECT_EQ(BytesOfArray(data), SmallDataSet());

  ULARGE_INTEGER size{};
  ASSERT_EQ(Stream(a.Get())->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, WithTrailer(SmallDataSet()).size());
}

TEST_F(Persistence, LoadsTheDataSetBackWithEveryValue) {
  SmallTable(b.Get());
  auto s = StreamOf(WithTrailer(SmallDataSet()));
  ASSERT_EQ(Stream(b.Get())->Load(s.Get()), S_OK);
  EXPECT_EQ(Snapshot(b.Get()), "VKR 1=5/113 2=ab/49 3=/113 dss 1 state 5");
  EXPECT_EQ(Stream(b.Get())->IsDirty(), S_FALSE);
  EXPECT_TRUE(b->Loaded());
  BSTR encoded = b->EncodeDeviceTypeString();
  EXPECT_EQ(vkr::Bstr(encoded).Str(), u"VKR");
  SysFreeString(encoded);
}

TEST_F(Persistence, LoadsFromAPropertyBag) {
  SmallTable(b.Get());
  vkr::ComPtr<vkr::ComObject<FakeBag>> bag;
  ASSERT_EQ(vkr::MakeObject<FakeBag>(&bag), S_OK);
  const std::vector<BYTE> bytes = SmallDataSet();
  ASSERT_EQ(BytesToSafeArray(bytes.data(), static_cast<ULONG>(bytes.size()), &bag->values[u"DTM_DATA"]), S_OK);
  ASSERT_EQ(Bag(b.Get())->Load(bag.Get(), nullptr), S_OK);
  EXPECT_EQ(Snapshot(b.Get()), "VKR 1=5/113 2=ab/49 3=/113 dss 1 state 5");
}

TEST_F(Persistence, TheDeviceTableRoundTripsBetweenTwoDtms) {
  a->SetDeviceType(u"Brevant");
  a->SetDataSetState(3);
  // Change the status word of every persisted parameter, so the load has something to carry.
  ULONG count = 0, persisted = 0;
  ASSERT_EQ(a->GetCollectionCount(&count), S_OK);
  ASSERT_GT(count, 100u);
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    ParInfo r;
    ASSERT_EQ(a->GetParInfoAt(i, &r), S_OK);
    if (!r.m_bPersist) continue;
    ++persisted;
    ParInfo change;
    change.m_dwFlags = r.m_dwFlags ^ 0x02;
    a->SetParInfoFields(r.m_nId, PIF_FLAGS, change);
  }
  ASSERT_GT(persisted, 10u);
  CarryAToB();
  EXPECT_EQ(Snapshot(a.Get()), Snapshot(b.Get()));
}

TEST_F(Persistence, RefusedDataSetsChangeNothing) {
  SmallTable(b.Get(), 9, u"keep", 0x11);
  b->SetDeviceType(u"OLD");
  const std::string before = Snapshot(b.Get());
  struct Case {
    std::string what;
    std::vector<BYTE> bytes;
    bool dataSetGood = false;  // only the stream form's trailer is wrong
  };
  std::vector<Case> cases;
  const std::vector<BYTE> good = WithTrailer(SmallDataSet());
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    cases.push_back({"cut at " + std::to_string(cut), std::vector<BYTE>(good.begin(), good.begin() + cut),
                     cut >= SmallDataSet().size()});
  cases.push_back({"trailer 0x0A01", WithTrailer(SmallDataSet(), 0x0A01), true});
  cases.push_back({"37-character format", WithTrailer(SmallDataSet(u"{00000000-0000-0000-0000-00000000000}"))});
  cases.push_back({"first group not zero", WithTrailer(SmallDataSet(u"{00000001-0000-0000-0000-000000000000}"))});
  cases.push_back({"format digits not hex", WithTrailer(SmallDataSet(u"{00000000-00G0-0000-0000-000000000000}"))});
  auto build = [](auto f) {
    ByteWriter w;
    f(w);
    return WithTrailer(w.bytes);
  };
  cases.push_back({"huge device-type prefix", build([](ByteWriter& w) { w.U32(0xFFFFFFF0).Raw({0x41, 0, 0, 0}); })});
  cases.push_back({"odd device-type prefix", build([](ByteWriter& w) { w.U32(3).Raw({0x41, 0, 0}); })});
  cases.push_back({"version as VT_I4", build([](ByteWriter& w) {
                     w.Text(u"VKR").I4(2).Bstr(kFormat).I4(0).UI4(0);
                   })});
  cases.push_back({"format as VT_UI4", build([](ByteWriter& w) { w.Text(u"VKR").Bstr(u"2.1.1").UI4(0).I4(0).UI4(0); })});
  cases.push_back({"unknown VARTYPE in a value", build([](ByteWriter& w) {
                     w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(1).UI4(1).U16(0x7777).U32(0).UI4(0).UI4(0);
                   })});
  cases.push_back({"text for a number", build([](ByteWriter& w) {
                     w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(1).UI4(1).Bstr(u"x").UI4(0).UI4(0);
                   })});
  cases.push_back({"huge record count", build([](ByteWriter& w) {
                     w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(0x7FFFFFFF).UI4(1).U16(VT_UI1).Raw({1}).UI4(0);
                   })});
  cases.push_back({"data-set state as VT_I4", build([](ByteWriter& w) {
                     w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(0).I4(1);
                   })});
  cases.push_back({"data-set state 4", build([](ByteWriter& w) {
                     w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(0).UI4(4);
                   })});
  for (const Case& c : cases) {
    auto s = StreamOf(c.bytes);
    EXPECT_EQ(Stream(b.Get())->Load(s.Get()), S_FALSE) << c.what;
    EXPECT_EQ(Snapshot(b.Get()), before) << c.what;
    EXPECT_FALSE(b->Loaded()) << c.what;
    if (c.dataSetGood) continue;
    // The framework's load answers the failure itself, with done false.
    auto again = StreamOf(c.bytes);
    VARIANT_BOOL done = VARIANT_TRUE;
    b->LoadDtm(again.Get(), &done);
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
  }
  EXPECT_EQ(Snapshot(b.Get()), before);
}

// An object value travels in the data set as its class and its own bytes and comes back from its
// class. The VKR's own table has no object parameter: a data set holding an object for one of its
// parameters (a file naming any class this machine registers) is refused, and nothing is created.
TEST_F(Persistence, ObjectValuesTravelWithTheDataSetOnlyWhereTheTableHasThem) {
  PersistableClasses classes;
  auto setObject = [](PersistDtm* dtm, IUnknown* object) {
    ParInfo p;
    p.m_nId = 4;
    p.m_vt = p.m_vValue.vt = VT_UNKNOWN;
    p.m_vValue.punkVal = object;
    if (object) object->AddRef();
    ASSERT_EQ(dtm->AddParInfo(p), S_OK);
  };
  SmallTable(a.Get(), 5, u"ab");
  setObject(a.Get(), MakeTextObject<StreamTextObject>("probe A").Get());
  SmallTable(b.Get());
  setObject(b.Get(), nullptr);
  CarryAToB();
  EXPECT_EQ(Snapshot(b.Get()), Snapshot(a.Get()));
  vkr::Variant loaded;
  ASSERT_EQ(b->GetValueById(4, &loaded), S_OK);
  EXPECT_EQ(TextOf(loaded.punkVal), "probe A");

  auto c = Make();
  ULONG id = 0;
  for (LONG i = 0; !id; ++i) {
    ParInfo r;
    ASSERT_EQ(c->GetParInfoAt(i, &r), S_OK);
    if (r.m_bPersist) id = r.m_nId;
  }
  ByteWriter w;
  w.Text(u"VKR").Bstr(u"2.1.1").Bstr(kFormat).I4(1).UI4(id).U16(VT_UNKNOWN);
  w.Raw(ClassIdBytes(kStreamTextClass)).Raw(TextObjectBytes("x")).UI4(0).UI4(0);
  const std::string before = Snapshot(c.Get());
  const int created = StreamTextObject::Created();
  auto crafted = StreamOf(WithTrailer(w.bytes));
  EXPECT_EQ(Stream(c.Get())->Load(crafted.Get()), S_FALSE);
  EXPECT_EQ(Snapshot(c.Get()), before);
  EXPECT_EQ(StreamTextObject::Created(), created);
}

TEST_F(Persistence, AnotherVersionTextLoads) {
  SmallTable(b.Get());
  ByteWriter w;
  w.Text(u"VKR").Bstr(u"1.0.0").Bstr(kFormat).I4(0).UI4(0);
  auto s = StreamOf(WithTrailer(w.bytes, 0x09FF));
  EXPECT_EQ(Stream(b.Get())->Load(s.Get()), S_OK);
}

TEST_F(Persistence, StatesAdmitLoadingAndSaving) {
  a->ForceState(dsINITIALIZED);
  auto s = StreamOf(WithTrailer(SmallDataSet()));
  EXPECT_EQ(Stream(a.Get())->Load(s.Get()), S_FALSE);
  EXPECT_EQ(PositionOf(s.Get()), 0u);
  EXPECT_EQ(Stream(a.Get())->InitNew(), S_FALSE);
  auto out = EmptyStream();
  EXPECT_EQ(Stream(a.Get())->Save(out.Get(), TRUE), S_FALSE);
  EXPECT_TRUE(BytesOf(out.Get()).empty());
  a->ForceState(dsONLINE);
  EXPECT_EQ(Stream(a.Get())->Save(out.Get(), TRUE), S_OK);
}

TEST_F(Persistence, InitNewStartsADirtyDataSet) {
  a->SetDeviceType(u"VKR");
  ASSERT_EQ(Stream(a.Get())->InitNew(), S_OK);
  EXPECT_EQ(Stream(a.Get())->IsDirty(), S_OK);
  EXPECT_FALSE(a->HasDeviceType());
  EDtmState state = dsUNDEFINED;
  a->GetDTMState(&state);
  EXPECT_EQ(state, dsINITNEWPERSIST);
  // Saving with clearDirty clears it; without, it stays.
  a->ForceState(dsCONFIGURED);
  auto s = EmptyStream();
  ASSERT_EQ(Stream(a.Get())->Save(s.Get(), FALSE), S_OK);
  EXPECT_EQ(Stream(a.Get())->IsDirty(), S_OK);
  ASSERT_EQ(Stream(a.Get())->Save(s.Get(), TRUE), S_OK);
  EXPECT_EQ(Stream(a.Get())->IsDirty(), S_FALSE);
}

TEST_F(Persistence, AStreamThatRefusesDataFailsTheSaveAndKeepsItDirty) {
  SmallTable(a.Get(), 5, u"ab");
  ASSERT_EQ(Stream(a.Get())->InitNew(), S_OK);
  a->ForceState(dsCONFIGURED);
  std::size_t full = 0;
  {
    auto probe = EmptyStream();
    ASSERT_EQ(a->SaveToStream(probe.Get(), FALSE), S_OK);
    full = BytesOf(probe.Get()).size() + 4;
  }
  for (ULONG limit : {ULONG{0}, ULONG{4}, ULONG{20}, static_cast<ULONG>(full - 1)}) {
    vkr::ComPtr<vkr::ComObject<LimitedStream>> s;
    ASSERT_EQ(vkr::MakeObject<LimitedStream>(&s), S_OK);
    s->limit = limit;
    EXPECT_EQ(Stream(a.Get())->Save(s.Get(), TRUE), S_FALSE) << limit;
    EXPECT_EQ(Stream(a.Get())->IsDirty(), S_OK) << limit;
    EXPECT_EQ(a->SaveToStream(s.Get(), TRUE), STG_E_MEDIUMFULL) << limit;
  }
}

TEST_F(Persistence, PropertyBagsWithoutAByteArrayAreRefused) {
  SmallTable(b.Get(), 9, u"keep");
  const std::string before = Snapshot(b.Get());
  const std::vector<BYTE> good = SmallDataSet();
  struct Case {
    const char* what;
    vkr::Variant value;
  };
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"not bytes");
  vkr::Variant trailing;
  std::vector<BYTE> longer = good;
  longer.push_back(0);
  BytesToSafeArray(longer.data(), static_cast<ULONG>(longer.size()), &trailing);
  vkr::Variant twoDims;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  twoDims.parray = SafeArrayCreate(VT_UI1, 2, bounds);
  twoDims.vt = VT_ARRAY | VT_UI1;
  Case cases[] = {{"text", text}, {"bytes after the data set", trailing}, {"two dimensions", twoDims}};
  for (const Case& c : cases) {
    vkr::ComPtr<vkr::ComObject<FakeBag>> bag;
    ASSERT_EQ(vkr::MakeObject<FakeBag>(&bag), S_OK);
    bag->values[u"DTM_DATA"] = c.value;
    EXPECT_EQ(Bag(b.Get())->Load(bag.Get(), nullptr), S_FALSE) << c.what;
    EXPECT_EQ(Snapshot(b.Get()), before) << c.what;
  }
  vkr::ComPtr<vkr::ComObject<FakeBag>> empty;
  ASSERT_EQ(vkr::MakeObject<FakeBag>(&empty), S_OK);
  EXPECT_EQ(Bag(b.Get())->Load(empty.Get(), nullptr), S_FALSE);
  EXPECT_EQ(b->LoadFromPropertyBag(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(Persistence, FormatVersionString) {
  a->formatInfo = 0x1234ABCD;
  vkr::Bstr text;
  ASSERT_EQ(a->GetFormatVersionString(text.Put()), S_OK);
  EXPECT_EQ(text.Str(), u"{00000000-1234-ABCD-0000-000000000000}");
  EXPECT_EQ(a->GetFormatVersionString(nullptr), E_POINTER);
  struct Case {
    const char16_t* text;
    HRESULT expected;
  };
  const Case cases[] = {
      {u"{00000000-0000-0000-0000-000000000000}", S_OK},
      {u"{00000000-abcd-ef01-0000-000000000000}", S_OK},
      {u"{00000000-0000-0000-0000-00000000000}", E_INVALIDARG},
      {u"{00000010-0000-0000-0000-000000000000}", E_INVALIDARG},
      {u"[00000000-0000-0000-0000-000000000000}", E_INVALIDARG},
      {u"{00000000-0x00-0000-0000-000000000000}", E_INVALIDARG},
  };
  for (const Case& c : cases) {
    vkr::Bstr t(c.text);
    EXPECT_EQ(a->AnalyzeFormatVersionString(t), c.expected) << vkr::Utf16ToUtf8(c.text);
  }
  EXPECT_EQ(a->AnalyzeFormatVersionString(nullptr), E_INVALIDARG);
}

TEST_F(Persistence, ByteArrayHelpers) {
  vkr::Variant out;
  const BYTE bytes[] = {1, 2, 3};
  EXPECT_EQ(BytesToSafeArray(bytes, 0, &out), E_NOTIMPL);
  EXPECT_EQ(BytesToSafeArray(bytes, 3, nullptr), E_INVALIDARG);
  ASSERT_EQ(BytesToSafeArray(bytes, 3, &out), S_OK);
  vkr::ComPtr<IStream> s;
  ASSERT_EQ(SafeArrayToStream(out, s.Put()), S_OK);
  EXPECT_EQ(BytesOf(s.Get()), (std::vector<BYTE>{1, 2, 3}));
  vkr::Variant back;
  ASSERT_EQ(StreamToSafeArray(s.Get(), &back), S_OK);
  EXPECT_EQ(BytesOfArray(back), (std::vector<BYTE>{1, 2, 3}));
  EXPECT_EQ(StreamToSafeArray(EmptyStream().Get(), &back), E_NOTIMPL);
  EXPECT_EQ(SafeArrayToStream(vkr::Variant(), s.Put()), E_FAIL);
  EXPECT_EQ(StreamToSafeArray(nullptr, &back), E_POINTER);
}

TEST_F(Persistence, StorageStateAndClassId) {
  ULONG state = 7;
  // Transient until the frame stores or loads the data set.
  EXPECT_EQ(a->GetStorageStateValue(&state), S_OK);
  EXPECT_EQ(state, 1u);
  SmallTable(a.Get());
  auto s = StreamOf(WithTrailer(SmallDataSet()));
  ASSERT_EQ(Stream(a.Get())->Load(s.Get()), S_OK);
  EXPECT_EQ(a->GetStorageStateValue(&state), S_OK);
  EXPECT_EQ(state, 0u);
  EXPECT_EQ(a->GetStorageStateValue(nullptr), E_INVALIDARG);
  CLSID id{};
  EXPECT_EQ(Stream(a.Get())->GetClassID(&id), S_OK);
  EXPECT_EQ(id, CLSID_VornExampleDtm);
}

// Every allocation of a load or a save failing in turn: a load either completes or leaves the
// data set as it was; a save either completes or writes nothing to the frame's stream.
TEST_F(Persistence, AllocationFaultsNeverLeaveHalfADataSet) {
  auto reset = [&] {
    SmallTable(b.Get(), 9, u"keep", 0x11);
    b->SetDeviceType(u"OLD");
    b->SetDataSetState(0);
    b->ForceState(dsCREATED);
    b->SetDataSetLoaded(false);
  };
  reset();
  const std::string before = Snapshot(b.Get());
  const std::string after = "VKR 1=5/113 2=ab/49 3=/113 dss 1 state 5";
  const std::vector<BYTE> good = WithTrailer(SmallDataSet());
  bool reached = true;
  for (unsigned n = 1; n < 2000 && reached; ++n) {
    reset();
    auto s = StreamOf(good);
    vkr::platform::SetAllocationFault(n);
    const HRESULT hr = Stream(b.Get())->Load(s.Get());
    reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    // A failed allocation that only cost a cosmetic text may still load the whole data set.
    if (hr == S_OK) {
      EXPECT_EQ(Snapshot(b.Get()), after) << "fault at " << n;
    } else {
      b->ForceState(dsCREATED);
      EXPECT_EQ(Snapshot(b.Get()), before) << "fault at " << n;
    }
    if (!reached) {
      EXPECT_EQ(hr, S_OK) << "the load without a fault failed";
    }
  }

  SmallTable(a.Get(), 5, u"ab");
  a->SetDeviceType(u"VKR");
  a->ForceState(dsCONFIGURED);
  auto reference = EmptyStream();
  ASSERT_EQ(Stream(a.Get())->Save(reference.Get(), TRUE), S_OK);
  const std::vector<BYTE> expected = BytesOf(reference.Get());
  reached = true;
  for (unsigned n = 1; n < 2000 && reached; ++n) {
    auto s = EmptyStream();
    vkr::platform::SetAllocationFault(n);
    const HRESULT hr = Stream(a.Get())->Save(s.Get(), TRUE);
    reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (hr == S_OK) {
      EXPECT_EQ(BytesOf(s.Get()), expected) << "fault at " << n;
    } else {
      EXPECT_TRUE(BytesOf(s.Get()).empty()) << "fault at " << n;
    }
  }
}

// A data set whose device type rebuilds the parameters from the device table: the rebuild and the
// values are taken only when the whole data set read, and a rebuild or a commit that fails puts
// everything back. Every truncation and every allocation fault: a refused load leaves every value,
// the state and the dirty flag (and storage state) as they were; a load that succeeds is whole
// and clean.
TEST_F(Persistence, ARefusedLoadOfADeviceTypeLeavesEverythingAsItWas) {
  b->decodeDeviceType = true;
  auto reset = [&] {
    SmallTable(b.Get(), 9, u"keep", 0x11);
    b->SetDeviceType(u"OLD");
    b->SetDataSetState(0);
    b->ForceState(dsCREATED);
    b->SetDataSetLoaded(false);
    b->MarkDataSetChanged();
  };
  auto whole = [&] { return Snapshot(b.Get()) + (b->Dirty() ? " dirty" : " clean") + std::to_string(b->Storage()); };
  reset();
  const std::string before = whole();
  const std::vector<BYTE> good = WithTrailer(SmallDataSet());
  {
    auto s = StreamOf(good);
    ASSERT_EQ(Stream(b.Get())->Load(s.Get()), S_OK);
  }
  const std::string after = whole();
  ULONG count = 0;
  b->GetCollectionCount(&count);
  EXPECT_GT(count, 100u) << "the device table was not taken";
  EXPECT_NE(after.find(" 1=5/113 2=ab/49 "), std::string::npos) << after;
  EXPECT_NE(after.find("state 5 clean0"), std::string::npos) << after;

  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    reset();
    auto s = StreamOf(std::vector<BYTE>(good.begin(), good.begin() + cut));
    EXPECT_EQ(Stream(b.Get())->Load(s.Get()), S_FALSE) << "cut at " << cut;
    EXPECT_EQ(whole(), before) << "cut at " << cut;
    EXPECT_FALSE(b->Loaded()) << "cut at " << cut;
  }

  bool reached = true;
  for (unsigned n = 1; n < 20000 && reached; ++n) {
    reset();
    auto s = StreamOf(good);
    vkr::platform::SetAllocationFault(n);
    const HRESULT hr = Stream(b.Get())->Load(s.Get());
    reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    // Without its decoded device type the data set loads into the parameters it finds.
    if (b->decodeFailed) continue;
    EXPECT_EQ(whole(), hr == S_OK ? after : before) << "fault at " << n;
    if (!reached) {
      EXPECT_EQ(hr, S_OK) << "the load without a fault failed";
    }
  }
}

// ---- Import and export --------------------------------------------------------------------

TEST_F(Persistence, ExportWritesOneStringItem) {
  a->ForceState(dsCONFIGURED);
  a->SetUserLevel(2);
  a->exportText = u"<PARAMETERS/>";
  auto s = EmptyStream();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(a->Export(s.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  ByteWriter expected;
  expected.Text(u"<?xml version=\"1.0\"?> \r\n<PARAMETERS/>");
  EXPECT_EQ(BytesOf(s.Get()), expected.bytes);

  // The same stream imports into a second DTM.
  b->ForceState(dsCONFIGURED);
  b->SetUserLevel(8);
  LARGE_INTEGER zero{};
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(b->Import(s.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(b->importedText, u"<?xml version=\"1.0\"?> \r\n<PARAMETERS/>");
}

TEST_F(Persistence, AnEmptyParameterListExportsOnlyTheDeclaration) {
  a->ForceState(dsCONFIGURED);
  a->SetUserLevel(4);
  auto s = EmptyStream();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(a->Export(s.Get(), &done), S_OK);
  ByteWriter expected;
  expected.Text(u"<?xml version=\"1.0\"?> \r\n");
  EXPECT_EQ(BytesOf(s.Get()), expected.bytes);
}

TEST_F(Persistence, ImportAndExportAreRefusedOutsideTheirStateAndLevel) {
  struct Case {
    const char* what;
    EDtmState state;
    ULONG level;
  };
  const Case cases[] = {{"online", dsONLINE, 2}, {"observer", dsCONFIGURED, 1}, {"initialized", dsINITIALIZED, 8}};
  for (const Case& c : cases) {
    a->ForceState(c.state);
    a->SetUserLevel(c.level);
    auto s = EmptyStream();
    VARIANT_BOOL done = VARIANT_TRUE;
    EXPECT_EQ(a->Export(s.Get(), &done), S_FALSE) << c.what;
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
    EXPECT_TRUE(BytesOf(s.Get()).empty()) << c.what;
    auto in = StreamOf(ByteWriter().Text(u"x").bytes);
    done = VARIANT_TRUE;
    EXPECT_EQ(a->Import(in.Get(), &done), S_FALSE) << c.what;
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
  }
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(a->Export(nullptr, nullptr), E_POINTER);
  a->ForceState(dsCONFIGURED);
  a->SetUserLevel(2);
  EXPECT_EQ(a->Export(nullptr, &done), S_FALSE);
  a->exportResult = E_FAIL;
  EXPECT_EQ(a->Export(EmptyStream().Get(), &done), S_FALSE);
  EXPECT_EQ(done, VARIANT_FALSE);
}

TEST_F(Persistence, ImportRefusesDamagedStreams) {
  a->ForceState(dsCONFIGURED);
  a->SetUserLevel(2);
  const std::vector<std::vector<BYTE>> streams = {
      {}, {6, 0, 0}, {0xFF, 0xFF, 0xFF, 0x7F, 0x41, 0}, {5, 0, 0, 0, 0x41, 0, 0, 0, 0}, {4, 0, 0, 0, 0x41, 0, 0x42, 0}};
  for (const auto& bytes : streams) {
    auto s = StreamOf(bytes);
    VARIANT_BOOL done = VARIANT_TRUE;
    EXPECT_EQ(a->Import(s.Get(), &done), S_FALSE) << bytes.size();
    EXPECT_EQ(done, VARIANT_FALSE);
    EXPECT_TRUE(a->importedText.empty());
  }
}

TEST_F(Persistence, ReInitWithoutADeviceTypeKeepsTheCollection) {
  ULONG before = 0, after = 0;
  a->GetCollectionCount(&before);
  EXPECT_EQ(a->ReInitDevTypeParamCollection(nullptr), E_UNEXPECTED);
  vkr::Bstr empty(u"");
  EXPECT_EQ(a->ReInitDevTypeParamCollection(empty), E_UNEXPECTED);
  a->GetCollectionCount(&after);
  EXPECT_EQ(before, after);
}

TEST_F(Persistence, ReInitRebuildsTheTableAndMarksEveryParameter) {
  SmallTable(a.Get());
  vkr::Bstr type(u"VKR");
  a->ReInitDevTypeParamCollection(type);
  ULONG count = 0;
  a->GetCollectionCount(&count);
  EXPECT_GT(count, 100u);
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    ParInfo r;
    ASSERT_EQ(a->GetParInfoAt(i, &r), S_OK);
    EXPECT_TRUE(r.m_dwFlags & 0x100) << r.m_nId;
  }
}

}  // namespace

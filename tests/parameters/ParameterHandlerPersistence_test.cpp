// The parameter section of the data set and the stream form of its values: exact bytes, round
// trips, and refusal of damaged input without touching the live parameters.
#include <gtest/gtest.h>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/DeviceParameterTable.h"
#include "parameters/VariantStream.h"
#include "tests/support/parameter_records.h"
#include "tests/support/fake_parameter_site.h"
#include "tests/support/persistable_objects.h"
#include "tests/support/test_streams.h"

using namespace vkr::test;

namespace {

std::vector<BYTE> Stored(const VARIANT& v) {
  auto s = EmptyStream();
  EXPECT_EQ(vkr::WriteStoredVariant(s.Get(), v), S_OK);
  return BytesOf(s.Get());
}

TEST(VariantStream, ExactBytesOfEachEncoding) {
  struct Case {
    const char* what;
    vkr::Variant value;
    std::vector<BYTE> bytes;
  };
  const Case cases[] = {
      {"text AB", Text(u"AB"), {0x08, 0x00, 0x06, 0, 0, 0, 0x41, 0, 0x42, 0, 0, 0}},
      {"empty text", Text(u""), {0x08, 0x00, 0x02, 0, 0, 0, 0, 0}},
      {"bytes 03 AB", Bytes({0x03, 0xAB}), {0x11, 0x20, 10, 0, 0, 0, '0', 0, '3', 0, 'A', 0, 'B', 0, 0, 0}},
      {"R4 1.0", R4(1.0f), {0x04, 0x00, 0x00, 0x00, 0x80, 0x3F}},
      {"BOOL true", Bool(true), {0x0B, 0x00, 0xFF, 0xFF}},
      {"UI1 7", UI1(7), {0x11, 0x00, 7}},
      {"I4 -2", I4(-2), {0x03, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"UI4 0x01020304", UI4(0x01020304), {0x13, 0x00, 4, 3, 2, 1}},
      {"R8 2.0", R8(2.0), {0x05, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x40}},
      {"I8 -1", I8(-1), {0x14, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"EMPTY", vkr::Variant(), {0x00, 0x00, 0x02, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Stored(c.value), c.bytes) << c.what;
    auto s = StreamOf(c.bytes);
    vkr::Variant back;
    ASSERT_EQ(vkr::ReadStoredVariant(s.Get(), &back), S_OK) << c.what;
    EXPECT_TRUE(IsVariantEqual(back, c.value)) << c.what;
    EXPECT_EQ(PositionOf(s.Get()), c.bytes.size()) << c.what;
  }
}

TEST(VariantStream, RefusesDamagedItems) {
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
  };
  const Case cases[] = {
      {"nothing", {}},
      {"half a VARTYPE", {0x08}},
      {"I4 cut short", {0x03, 0x00, 1, 2}},
      {"text count cut short", {0x08, 0x00, 2, 0}},
      {"odd count", {0x08, 0x00, 3, 0, 0, 0, 0x41, 0, 0}},
      {"count 1", {0x08, 0x00, 1, 0, 0, 0, 0}},
      {"count beyond the stream", {0x08, 0x00, 8, 0, 0, 0, 0x41, 0, 0, 0}},
      {"huge count", {0x08, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x41, 0, 0, 0}},
      {"no terminating zero", {0x08, 0x00, 4, 0, 0, 0, 0x41, 0, 0x42, 0}},
      {"bad hex", {0x11, 0x20, 6, 0, 0, 0, 'Z', 0, 'Z', 0, 0, 0}},
      {"VT_VARIANT", {0x0C, 0x00, 0, 0}},
      {"VT_DISPATCH", {0x09, 0x00, 0, 0, 0, 0}},
      {"VT_NULL", {0x01, 0x00}},
      {"array of I4", {0x03, 0x20, 0, 0, 0, 0}},
      {"unknown 0x4444", {0x44, 0x44, 0, 0, 0, 0}},
      {"EMPTY with a text", {0x00, 0x00, 4, 0, 0, 0, 0x41, 0, 0, 0}},
      {"I2 as text that is no number", {0x02, 0x00}},
  };
  for (const Case& c : cases) {
    auto s = StreamOf(c.bytes);
    vkr::Variant back;
    EXPECT_TRUE(FAILED(vkr::ReadStoredVariant(s.Get(), &back))) << c.what;
    EXPECT_EQ(back.vt, VT_EMPTY) << c.what;
  }
}

TEST(VariantStream, NullTextAndRefusedWrites) {
  auto s = EmptyStream();
  EXPECT_EQ(vkr::WriteStoredText(s.Get(), nullptr), S_OK);
  EXPECT_EQ(BytesOf(s.Get()), (std::vector<BYTE>{0, 0, 0, 0}));
  LARGE_INTEGER zero{};
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(vkr::ReadStoredText(s.Get(), &text), S_OK);
  EXPECT_EQ(text, nullptr);

  EXPECT_EQ(vkr::WriteStoredVariant(EmptyStream().Get(), Null()), DISP_E_BADVARTYPE);
}

// Parameters of the section tests:
//   10 VT_UI1 persisted, 20 VT_R4 not persisted, 30 text persisted, 40 VT_BOOL persisted,
//   50 reference to 10 (persisted, as every record is by default).
class SectionTest : public ::testing::Test {
 protected:
  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<CFakeDtm>> dtm;
  CFakeDtm* h = nullptr;

  void SetUp() override {
    ASSERT_EQ(vkr::MakeObject<CFakeDtm>(&dtm, static_cast<IovFdtParameterHandlerSite*>(&site)), S_OK);
    h = dtm.Get();
  }
  void AddAll() {
    ASSERT_EQ(h->AddParInfo(Record(10, VT_UI1, UI1(10), nullptr, nullptr, 0x71)), S_OK);
    ParInfo p20 = Record(20, VT_R4, R4(1.5f));
    p20.m_bPersist = 0;
    ASSERT_EQ(h->AddParInfo(p20), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(30, VT_BSTR, Text(u"TAG"), nullptr, nullptr, 0x73)), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(40, VT_BOOL, Bool(false), nullptr, nullptr, 0x01)), S_OK);
  }
  vkr::Variant Value(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(h->GetValueById(id, &v), S_OK);
    return v;
  }
  ULONG Status(ULONG id) {
    ParInfo r;
    EXPECT_EQ(h->GetParInfoById(id, &r), S_OK);
    return r.m_dwFlags;
  }
  std::vector<BYTE> Save() {
    auto s = EmptyStream();
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(h->SaveParameterHandler(s.Get(), &done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    return BytesOf(s.Get());
  }
  HRESULT Load(const std::vector<BYTE>& bytes, VARIANT_BOOL* done) {
    auto s = StreamOf(bytes);
    return h->LoadParameterHandler(s.Get(), done);
  }
  // The live values and statuses, as text, to compare before and after a refused load.
  std::string Snapshot() {
    std::string out;
    for (ULONG id : {10u, 20u, 30u, 40u}) {
      vkr::Bstr text;
      vkr::Variant v = Value(id);
      VariantToText(&v, text.Put());
      out += std::to_string(id) + "=" + vkr::Utf16ToUtf8(text.View()) + "/" + std::to_string(Status(id)) + " ";
    }
    return out;
  }
};

TEST_F(SectionTest, NoPersistedParameterIsTheSixBytesOfCountZero) {
  ParInfo p = Record(1, VT_I4, I4(5));
  p.m_bPersist = 0;
  ASSERT_EQ(h->AddParInfo(p), S_OK);
  EXPECT_EQ(Save(), (std::vector<BYTE>{0x03, 0x00, 0, 0, 0, 0}));
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(Load({0x03, 0x00, 0, 0, 0, 0}, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_TRUE(IsVariantEqual(Value(1), I4(5)));
}

TEST_F(SectionTest, SavesPersistedRecordsInIdOrderWithValueInItsOwnType) {
  AddAll();
  // A value held in another type goes out in the parameter's type.
  ParInfo p;
  p.m_vValue = I4(77);
  ASSERT_EQ(h->SetParInfoFields(10, PIF_VALUE, p), S_OK);
  ByteWriter expected;
  expected.I4(3)
      .UI4(10).U16(VT_UI1).Raw({77}).UI4(0x71)
      .UI4(30).Bstr(u"TAG").UI4(0x73)
      .UI4(40).U16(VT_BOOL).U16(0).UI4(0x01);
  EXPECT_EQ(Save(), expected.bytes);
}

TEST_F(SectionTest, RoundTripRestoresValuesAndStatusWords) {
  AddAll();
  const std::vector<BYTE> saved = Save();
  const std::string before = Snapshot();
  ParInfo change;
  change.m_vValue = UI1(99);
  change.m_dwFlags = 0x02;
  ASSERT_EQ(h->SetParInfoFields(10, PIF_VALUE | PIF_FLAGS, change), S_OK);
  change.m_vValue = Text(u"OTHER");
  ASSERT_EQ(h->SetParInfoFields(30, PIF_VALUE | PIF_FLAGS, change), S_OK);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Load(saved, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(SectionTest, UnknownIdIsConsumedAndTheNextRecordStillLoads) {
  AddAll();
  ByteWriter w;
  w.I4(2).UI4(999).Bstr(u"not ours").UI4(0x71).UI4(10).U16(VT_UI1).Raw({42}).UI4(0x75);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Load(w.bytes, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_TRUE(IsVariantEqual(Value(10), UI1(42)));
  EXPECT_EQ(Status(10), 0x75u);
}

TEST_F(SectionTest, LoadOptionsConsumeTheOptionalFields) {
  AddAll();
  h->m_bLoadOption1 = true;
  h->m_bLoadOption2 = true;
  ByteWriter w;
  w.I4(1).UI4(10).U16(VT_UI1).Raw({8}).U16(VT_UI1).Raw({0}).U16(VT_UI1).Raw({200}).U16(VT_UI1).Raw({1})
      .UI4(0x31).I4(123);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Load(w.bytes, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_TRUE(IsVariantEqual(Value(10), UI1(8)));
  EXPECT_EQ(Status(10), 0x31u);
}

TEST_F(SectionTest, ValueOfAnotherTypeIsConvertedOrRefused) {
  AddAll();
  ByteWriter ok;
  ok.I4(1).UI4(10).I4(12).UI4(0x71);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Load(ok.bytes, &done), S_OK);
  EXPECT_EQ(Value(10).vt, VT_UI1);
  EXPECT_EQ(Value(10).bVal, 12);
}

TEST_F(SectionTest, DamagedSectionIsRefusedAndChangesNothing) {
  AddAll();
  const std::vector<BYTE> good = Save();
  const std::string before = Snapshot();
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
  };
  std::vector<Case> cases;
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    cases.push_back({"truncated", std::vector<BYTE>(good.begin(), good.begin() + cut)});
  auto with = [&](auto build) {
    ByteWriter w;
    build(w);
    return w.bytes;
  };
  cases.push_back({"negative count", with([](ByteWriter& w) { w.I4(-1); })});
  cases.push_back({"huge count", with([](ByteWriter& w) { w.I4(0x7FFFFFFF).UI4(10).U16(VT_UI1).Raw({1}).UI4(0); })});
  cases.push_back({"negative id", with([](ByteWriter& w) { w.I4(1).I4(-10).U16(VT_UI1).Raw({1}).UI4(0); })});
  cases.push_back({"negative status", with([](ByteWriter& w) { w.I4(1).UI4(10).U16(VT_UI1).Raw({1}).I4(-1); })});
  cases.push_back({"text for a number", with([](ByteWriter& w) { w.I4(1).UI4(10).Bstr(u"x").UI4(0); })});
  cases.push_back({"out of range for UI1", with([](ByteWriter& w) { w.I4(1).UI4(10).I4(300).UI4(0); })});
  cases.push_back({"unknown VARTYPE", with([](ByteWriter& w) { w.I4(1).UI4(10).U16(0x4444).U32(0).UI4(0); })});
  // A good first record followed by a bad second one: the first must not be taken either.
  cases.push_back({"good then bad",
                   with([](ByteWriter& w) { w.I4(2).UI4(10).U16(VT_UI1).Raw({55}).UI4(0).UI4(30).U16(0x4444); })});
  for (const Case& c : cases) {
    VARIANT_BOOL done = VARIANT_TRUE;
    EXPECT_TRUE(FAILED(Load(c.bytes, &done))) << c.what << " (" << c.bytes.size() << " bytes)";
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
    EXPECT_EQ(Snapshot(), before) << c.what;
  }
}

// The count, the ids and the status words are taken in whatever stored type converts to the one
// they stand for (VT_I4, VT_UI4, VT_UI4); what does not convert fails the load and changes
// nothing.
TEST_F(SectionTest, StructuralItemsOfAnotherTypeLoadWhenTheyConvert) {
  AddAll();
  auto i2 = [](SHORT v) {
    vkr::Variant x;
    x.vt = VT_I2;
    x.iVal = v;
    return x;
  };
  auto ui2 = [](USHORT v) {
    vkr::Variant x;
    x.vt = VT_UI2;
    x.uiVal = v;
    return x;
  };
  auto join = [](std::initializer_list<std::vector<BYTE>> parts) {
    std::vector<BYTE> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const std::vector<BYTE> value42 = Stored(UI1(42));
  struct Case {
    const char* what;
    vkr::Variant count, id, status;
    HRESULT hr;  // S_OK: parameter 10 takes 42 and status 0x75
  } cases[] = {
      {"all as written", I4(1), UI4(10), UI4(0x75), S_OK},
      {"count UI4", UI4(1), UI4(10), UI4(0x75), S_OK},
      {"count I2", i2(1), UI4(10), UI4(0x75), S_OK},
      {"count UI2", ui2(1), UI4(10), UI4(0x75), S_OK},
      {"count R8", R8(1.0), UI4(10), UI4(0x75), S_OK},
      {"count digits", Text(u"1"), UI4(10), UI4(0x75), S_OK},
      {"id I4", I4(1), I4(10), UI4(0x75), S_OK},
      {"id I2", I4(1), i2(10), UI4(0x75), S_OK},
      {"id UI2", I4(1), ui2(10), UI4(0x75), S_OK},
      {"id R8", I4(1), R8(10.0), UI4(0x75), S_OK},
      {"id digits", I4(1), Text(u"10"), UI4(0x75), S_OK},
      {"status I4", I4(1), UI4(10), I4(0x75), S_OK},
      {"status I2", I4(1), UI4(10), i2(0x75), S_OK},
      {"status UI2", I4(1), UI4(10), ui2(0x75), S_OK},
      {"status R8", I4(1), UI4(10), R8(117.0), S_OK},
      {"status digits", I4(1), UI4(10), Text(u"117"), S_OK},
      {"count garbage", Text(u"one"), UI4(10), UI4(0x75), DISP_E_TYPEMISMATCH},
      {"count beyond I4", R8(1e10), UI4(10), UI4(0x75), DISP_E_OVERFLOW},
      {"id garbage", I4(1), Text(u"ten"), UI4(0x75), DISP_E_TYPEMISMATCH},
      {"id negative", I4(1), I4(-10), UI4(0x75), DISP_E_OVERFLOW},
      {"id negative I2", I4(1), i2(-10), UI4(0x75), DISP_E_OVERFLOW},
      {"id empty text", I4(1), Text(u""), UI4(0x75), DISP_E_TYPEMISMATCH},
      {"status garbage", I4(1), UI4(10), Text(u"0x75"), DISP_E_TYPEMISMATCH},
      {"status negative", I4(1), UI4(10), I4(-1), DISP_E_OVERFLOW},
      {"status beyond UI4", I4(1), UI4(10), R8(5e9), DISP_E_OVERFLOW},
  };
  const std::string before = Snapshot();
  for (const Case& c : cases) {
    const std::vector<BYTE> bytes = join({Stored(c.count), Stored(c.id), value42, Stored(c.status)});
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(Load(bytes, &done), c.hr) << c.what;
    EXPECT_EQ(done, c.hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE) << c.what;
    if (c.hr == S_OK) {
      EXPECT_TRUE(IsVariantEqual(Value(10), UI1(42))) << c.what;
      EXPECT_EQ(Status(10), 0x75u) << c.what;
      // Back to the starting values for the next case.
      ParInfo reset;
      reset.m_vValue = UI1(10);
      reset.m_dwFlags = 0x71;
      ASSERT_EQ(h->SetParInfoFields(10, PIF_VALUE | PIF_FLAGS, reset), S_OK);
    }
    EXPECT_EQ(Snapshot(), before) << c.what;
  }
}

TEST_F(SectionTest, ArgumentsAreChecked) {
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(h->SaveParameterHandler(EmptyStream().Get(), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->LoadParameterHandler(nullptr, &done), E_INVALIDARG);
  EXPECT_EQ(done, VARIANT_FALSE);
  done = VARIANT_TRUE;
  EXPECT_EQ(h->SaveParameterHandler(nullptr, &done), E_INVALIDARG);
  EXPECT_EQ(done, VARIANT_FALSE);
}

TEST_F(SectionTest, WriteFailureIsReportedNotDone) {
  AddAll();
  const std::size_t full = Save().size();
  for (bool shortWrite : {false, true}) {
    for (ULONG limit = 0; limit < full; ++limit) {
      vkr::ComPtr<vkr::ComObject<LimitedStream>> s;
      ASSERT_EQ(vkr::MakeObject<LimitedStream>(&s), S_OK);
      s->limit = limit;
      s->shortWrite = shortWrite;
      VARIANT_BOOL done = VARIANT_TRUE;
      EXPECT_TRUE(FAILED(h->SaveParameterHandler(s.Get(), &done))) << "limit " << limit;
      EXPECT_EQ(done, VARIANT_FALSE) << "limit " << limit;
    }
  }
}

TEST_F(SectionTest, ValueThatDoesNotConvertFailsTheSave) {
  ASSERT_EQ(h->AddParInfo(Record(1, VT_UI1, UI1(1))), S_OK);
  ParInfo p;
  p.m_vValue = Text(u"not a number");
  ASSERT_EQ(h->SetParInfoFields(1, PIF_VALUE, p), S_OK);
  auto s = EmptyStream();
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_TRUE(FAILED(h->SaveParameterHandler(s.Get(), &done)));
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_TRUE(BytesOf(s.Get()).empty());
}

TEST_F(SectionTest, TheDeviceTableRoundTrips) {
  CParamCollection table;
  ULONG count = 0;
  ASSERT_EQ(InitDeviceParameterTable(*h, &table, &count), S_OK);
  for (LONG i = 0; i < static_cast<LONG>(table.Count()); ++i) {
    ParInfo r;
    ASSERT_EQ(table.GetAt(i, &r), S_OK);
    ASSERT_EQ(h->AddParInfo(r), S_OK);
  }
  ASSERT_GT(table.Count(), 100u);
  const std::vector<BYTE> saved = Save();
  // A second handler with the same table, its values moved away, takes every value back.
  vkr::ComPtr<vkr::ComObject<CFakeDtm>> other;
  ASSERT_EQ(vkr::MakeObject<CFakeDtm>(&other, static_cast<IovFdtParameterHandlerSite*>(&site)), S_OK);
  for (LONG i = 0; i < static_cast<LONG>(table.Count()); ++i) {
    ParInfo r;
    ASSERT_EQ(table.GetAt(i, &r), S_OK);
    r.m_dwFlags ^= 0x02;
    ASSERT_EQ(other->AddParInfo(r), S_OK);
  }
  auto s = StreamOf(saved);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(other->LoadParameterHandler(s.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(PositionOf(s.Get()), saved.size());
  for (LONG i = 0; i < static_cast<LONG>(table.Count()); ++i) {
    ParInfo a, b;
    ASSERT_EQ(h->GetParInfoAt(i, &a), S_OK);
    ASSERT_EQ(other->GetParInfoAt(i, &b), S_OK);
    if (!a.m_bPersist) continue;
    EXPECT_EQ(a.m_dwFlags, b.m_dwFlags) << "id " << a.m_nId;
    vkr::Variant va, vb;
    ChangeVariantType(&va, &a.m_vValue, a.m_vt);
    EXPECT_TRUE(IsVariantEqual(va, b.m_vValue)) << "id " << a.m_nId;
  }
}

// ---- Object values -------------------------------------------------------------------------

// The section with object parameters beside the others: 60 and 62 VT_UNKNOWN, 61 VT_DISPATCH.
class ObjectSectionTest : public SectionTest {
 protected:
  PersistableClasses classes;

  void SetObject(ULONG id, VARTYPE vt, IUnknown* object) {
    ParInfo p;
    p.m_vValue.vt = vt;
    p.m_vValue.punkVal = nullptr;
    if (object) object->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, PtrOf(p.m_vValue));
    if (h->HasParameter(id)) {
      ASSERT_EQ(h->SetParInfoFields(id, PIF_VALUE, p), S_OK);
    } else {  // status 0x71, 0x72, 0x73
      ASSERT_EQ(h->AddParInfo(Record(id, vt, p.m_vValue, nullptr, nullptr, 0x71 + (id - 60))), S_OK);
    }
  }
  static void** PtrOf(VARIANT& v) { return reinterpret_cast<void**>(&v.punkVal); }
  std::string TextAt(ULONG id) {
    vkr::Variant v = Value(id);
    return v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH ? TextOf(v.punkVal) : "<no object>";
  }
};

TEST_F(ObjectSectionTest, ObjectsRoundTripThroughTheirClassesAndANullObjectStaysNull) {
  AddAll();
  auto probe = MakeTextObject<StreamTextObject>("level probe");
  SetObject(60, VT_UNKNOWN, probe.Get());
  SetObject(61, VT_DISPATCH, MakeTextObject<InitTextObject>("init only").Get());
  SetObject(62, VT_UNKNOWN, nullptr);
  ByteWriter expected;
  expected.I4(6)
      .UI4(10).U16(VT_UI1).Raw({10}).UI4(0x71)
      .UI4(30).Bstr(u"TAG").UI4(0x73)
      .UI4(40).U16(VT_BOOL).U16(0).UI4(0x01)
      .UI4(60).U16(VT_UNKNOWN).Raw(ClassIdBytes(kStreamTextClass)).Raw(TextObjectBytes("level probe")).UI4(0x71)
      .UI4(61).U16(VT_DISPATCH).Raw(ClassIdBytes(kInitTextClass)).Raw(TextObjectBytes("init only")).UI4(0x72)
      .UI4(62).U16(VT_UNKNOWN).Raw(std::vector<BYTE>(16, 0)).UI4(0x73);
  const std::vector<BYTE> saved = Save();
  EXPECT_EQ(saved, expected.bytes);

  SetObject(60, VT_UNKNOWN, MakeTextObject<StreamTextObject>("changed").Get());
  SetObject(61, VT_DISPATCH, nullptr);
  SetObject(62, VT_UNKNOWN, probe.Get());
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Load(saved, &done), S_OK);
  EXPECT_EQ(TextAt(60), "level probe");
  EXPECT_FALSE(probe.IsSameObject(Value(60).punkVal));  // made anew from its class
  EXPECT_EQ(Value(61).vt, VT_DISPATCH);
  EXPECT_EQ(TextAt(61), "init only");
  EXPECT_EQ(Value(62).vt, VT_UNKNOWN);
  EXPECT_EQ(Value(62).punkVal, nullptr);
  EXPECT_EQ(Save(), saved);
}

TEST_F(ObjectSectionTest, AnObjectThatPersistsInNeitherWayFailsTheSaveWithNothingWritten) {
  AddAll();
  const vkr::ComPtr<IUnknown> plain = MakeTextObject<PlainTextObject>("plain");
  SetObject(62, VT_UNKNOWN, plain.Get());
  auto s = StreamOf({1, 2, 3});
  LARGE_INTEGER end{};
  s->Seek(end, STREAM_SEEK_END, nullptr);
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(h->SaveParameterHandler(s.Get(), &done), E_NOINTERFACE);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(BytesOf(s.Get()), (std::vector<BYTE>{1, 2, 3}));
  EXPECT_TRUE(plain.IsSameObject(Value(62).punkVal));
}

// A stored object creates the class it names, so it is read only for a parameter the table
// types as an object; anywhere else the data set is refused before anything is created.
TEST_F(ObjectSectionTest, AStoredObjectIsReadOnlyForAnObjectParameter) {
  AddAll();
  SetObject(60, VT_UNKNOWN, MakeTextObject<StreamTextObject>("kept").Get());
  const std::string before = Snapshot();
  ByteWriter good;
  good.Raw(ClassIdBytes(kStreamTextClass)).Raw(TextObjectBytes("new"));
  auto record = [](ULONG id, VARTYPE vt, const std::vector<BYTE>& object) {
    ByteWriter w;
    w.I4(1).UI4(id).U16(vt).Raw(object).UI4(0x75);
    return w.bytes;
  };
  ByteWriter goodThenBad;
  goodThenBad.I4(2).UI4(60).U16(VT_UNKNOWN).Raw(good.bytes).UI4(0x75).UI4(10).U16(0x4444);
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    HRESULT hr;
  } cases[] = {
      {"object for a byte parameter", record(10, VT_UNKNOWN, good.bytes), DISP_E_BADVARTYPE},
      {"object for a text parameter", record(30, VT_DISPATCH, good.bytes), DISP_E_BADVARTYPE},
      {"object for an id the table lacks", record(999, VT_UNKNOWN, good.bytes), DISP_E_BADVARTYPE},
      {"class id cut short", record(60, VT_UNKNOWN, {0xA1, 0x71}), E_FAIL},
      {"good object, then a damaged record", goodThenBad.bytes, DISP_E_BADVARTYPE},
  };
  for (const Case& c : cases) {
    const int created = StreamTextObject::Created();
    VARIANT_BOOL done = VARIANT_TRUE;
    EXPECT_EQ(Load(c.bytes, &done), c.hr) << c.what;
    EXPECT_EQ(done, VARIANT_FALSE) << c.what;
    EXPECT_EQ(Snapshot(), before) << c.what;
    EXPECT_EQ(TextAt(60), "kept") << c.what;
    EXPECT_EQ(StreamTextObject::Created() - created, c.bytes == goodThenBad.bytes ? 1 : 0) << c.what;
  }
}

}  // namespace

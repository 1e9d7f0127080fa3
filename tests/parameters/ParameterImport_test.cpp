// The "<PARAMETERS>" import, field access by mask and by name, and the private properties.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/DeviceParameterTable.h"
#include "tests/support/parameter_records.h"
#include "tests/support/fake_parameter_site.h"

using namespace vkr::test;

namespace {

using Journal = std::vector<std::string>;

// A DTM whose progress display writes to the site's journal.
class CImportDtm : public CFakeDtm {
 public:
  explicit CImportDtm(FakeParameterSite* site) : CFakeDtm(site), m_site(site) {}
  HRESULT UpdateProgress(ULONG done, ULONG total, BSTR text) override {
    m_site->Log("progress " + std::to_string(done) + "/" + std::to_string(total) + " " + Utf8(text));
    return S_OK;
  }

 private:
  FakeParameterSite* m_site;
};

// Parameters:
//   1  VT_BSTR "old"
//   2  VT_R4 0.25, -10..10, with the relation text "relation(11,3)"
//   3  VT_ARRAY|VT_UI1 00 00 00
//   4  VT_UI1 4
//   5  VT_I4 5, not in any import text
class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<CImportDtm>(&dtm, &site), S_OK);
    h = dtm.Get();
    ASSERT_EQ(h->AddParInfo(Record(1, VT_BSTR, Text(u"old"), nullptr, nullptr, PFL_DEFAULT, 0, u"Tag")), S_OK);
    vkr::Variant lo = R4(-10), hi = R4(10);
    ParInfo p2 = Record(2, VT_R4, R4(0.25f), &lo, &hi, PFL_DEFAULT, 0, u"Damping");
    p2.m_vRelation = Text(u"relation(11,3)");
    ASSERT_EQ(h->AddParInfo(p2), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(3, VT_ARRAY | VT_UI1, Bytes({0, 0, 0}), nullptr, nullptr, PFL_DEFAULT, 0, u"Bytes")),
              S_OK);
    ASSERT_EQ(h->AddParInfo(Record(4, VT_UI1, UI1(4), nullptr, nullptr, PFL_DEFAULT, 0, u"Small")), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(5, VT_I4, I4(5), nullptr, nullptr, PFL_DEFAULT, 0, u"Other")), S_OK);
    site.Clear();
  }
  void TearDown() override {
    dtm = nullptr;
    vkr::platform::SetUserDefaultLocale(1033);
    vkr::platform::SetSystemDefaultLocale(1033);
    CoUninitialize();
  }

  HRESULT Import(const char16_t* text, const char16_t* progress = nullptr) {
    vkr::Bstr t(text), p(progress);
    return h->ImportParameterValues(t.Get(), progress ? p.Get() : nullptr);
  }
  vkr::Variant Value(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(h->GetValueById(id, &v), S_OK);
    return v;
  }
  std::string Shown(ULONG id) { return FakeParameterSite::Show(Value(id)); }
  void SetPrivate(ULONG id, const VARIANT& text) {
    ParInfo r;
    ASSERT_EQ(VariantCopy(&r.m_vPrivateProperties, &text), S_OK);
    ASSERT_EQ(h->SetParInfoFields(id, PIF_PRIVATE_PROPERTIES, r), S_OK);
  }
  std::string PrivateText(ULONG id) {
    ParInfo r;
    EXPECT_EQ(h->GetParInfoFields(id, PIF_PRIVATE_PROPERTIES, &r), S_OK);
    return r.m_vPrivateProperties.vt == VT_BSTR ? Utf8(r.m_vPrivateProperties.bstrVal) : "<not text>";
  }
  HRESULT ReadProperty(ULONG id, const char16_t* name, vkr::Variant* out) {
    return h->GetParameterField(UI4(id), Text(name), out);
  }
  HRESULT WriteProperty(ULONG id, const char16_t* name, const VARIANT& value) {
    return h->SetParameterField(UI4(id), Text(name), value);
  }

  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<CImportDtm>> dtm;
  CImportDtm* h = nullptr;
};

// The layout ExportParameters writes: padded attribute names, one attribute a line.
constexpr const char16_t* kExport =
    u"<PARAMETERS> \r\n"
    u"<Parameter \r\n\tid    =\"1\" \r\n\tstr_id=\"Tag\" \r\n\tname  =\"Tag\" \r\n\ttype  =\"VT_BSTR\" \r\n"
    u"\tvalue =\"LT-101 &amp; co\" \r\n/> \r\n"
    u"<Parameter id=\"2\" type=\"VT_R4\" value=\"0.5\"/>\r\n"
    u"<Parameter id=\"3\" type=\"VT_UI1 | VT_ARRAY\" value=\"0A0b0C\"/>\r\n"
    u"<Parameter id=\"4\" type=\"VT_UI1\" value=\"7\"/>\r\n"
    u"<Parameter id=\"4\" type=\"VT_UI1\" value=\"9\"/>\r\n"
    u"<Parameter id=\"99\" type=\"VT_I4\" value=\"1\"/>\r\n"
    u"</PARAMETERS> \r\n";

TEST_F(ImportTest, AnExportTextSetsTheValues) {
  h->m_dwImportWord = 7;
  ASSERT_EQ(Import(kExport), S_OK);
  EXPECT_EQ(h->m_dwImportWord, 0u);
  EXPECT_EQ(TextOf(Value(1)), u"LT-101 & co");
  EXPECT_EQ(Value(2).vt, VT_R4);
  EXPECT_EQ(Value(2).fltVal, 0.5f);
  EXPECT_EQ(Shown(3), "0A0B0C");
  EXPECT_EQ(Value(4).bVal, 7);  // the first element with an id counts
  EXPECT_EQ(Value(5).lVal, 5);  // no element: unchanged
  // Set as the data set's values: relations run, no user's mark.
  EXPECT_TRUE(site.Has("broadcast 0x271A 3")) << site.Joined();
  EXPECT_TRUE(site.Has("broadcast 0x2701 1 =LT-101 & co")) << site.Joined();
  ParInfo r;
  ASSERT_EQ(h->GetParInfoFields(1, PIF_FLAGS, &r), S_OK);
  EXPECT_FALSE(r.m_dwFlags & PFL_EXPORT);
}

TEST_F(ImportTest, ElementsThatDoNotFitArePassedOver) {
  struct Case {
    const char16_t* element;
    ULONG id;
    std::string kept;
  };
  const Case cases[] = {
      {u"<Parameter id=\"2\" type=\"VT_R8\" value=\"2.5\"/>", 2, "0.250000"},       // another type
      {u"<Parameter id=\"2\" type=\"vt_r4\" value=\"2.5\"/>", 2, "0.250000"},       // case counts
      {u"<Parameter id=\"2\" type=\"VT_R4 \" value=\"2.5\"/>", 2, "0.250000"},      // so does a blank
      {u"<Parameter id=\"2\" value=\"2.5\"/>", 2, "0.250000"},                      // no type
      {u"<Parameter id=\"2\" type=\"VT_R4\"/>", 2, "0.250000"},                     // no value
      {u"<Parameter id=\"4\" type=\"VT_UI1\" value=\"300\"/>", 4, "4"},             // does not fit
      {u"<Parameter id=\"4\" type=\"VT_UI1\" value=\"four\"/>", 4, "4"},            // no number
      {u"<Parameter id=\"3\" type=\"VT_UI1 | VT_ARRAY\" value=\"0A0\"/>", 3, "000000"},  // odd hex
      {u"<Parameter id=\"+4\" type=\"VT_UI1\" value=\"8\"/>", 4, "4"},              // id not as written
      {u"<Other id=\"4\" type=\"VT_UI1\" value=\"8\"/>", 4, "4"},
  };
  for (const Case& c : cases) {
    const std::u16string text = u"<PARAMETERS>" + std::u16string(c.element) +
                                u"<Parameter id=\"5\" type=\"VT_I4\" value=\"55\"/></PARAMETERS>";
    ASSERT_EQ(Import(text.c_str()), S_OK) << Utf8(c.element);
    EXPECT_EQ(Shown(c.id), c.kept) << Utf8(c.element);
    // The rest of the text stands.
    EXPECT_EQ(Value(5).lVal, 55) << Utf8(c.element);
    ASSERT_EQ(h->SetValueById(5, I4(5)), S_OK);
  }
}

TEST_F(ImportTest, ProgressPerParameterAndAtTheEnd) {
  ASSERT_EQ(Import(u"<PARAMETERS/>", u"Import"), S_OK);
  EXPECT_EQ(site.journal, (Journal{"progress 0/5 Import", "progress 1/5 Import", "progress 2/5 Import",
                                   "progress 3/5 Import", "progress 4/5 Import", "progress 0/5 "}));
  site.Clear();
  ASSERT_EQ(Import(u"<PARAMETERS/>"), S_OK);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
  // The interface's import reports none.
  ASSERT_EQ(h->ImportParameters(vkr::Bstr(u"<PARAMETERS/>")), S_OK);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
}

TEST_F(ImportTest, TextsThatAreNoDocumentChangeNothing) {
  EXPECT_EQ(h->ImportParameterValues(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(h->ImportParameters(nullptr), E_POINTER);
  EXPECT_EQ(Import(u"<PARAMETERS><Parameter id=\"4\" type=\"VT_UI1\" value=\"8\"/>"), E_FAIL);
  EXPECT_EQ(Import(u""), E_FAIL);
  EXPECT_EQ(Import(u"<OTHER><Parameter id=\"4\" type=\"VT_UI1\" value=\"8\"/></OTHER>"), S_OK);
  EXPECT_EQ(Value(4).bVal, 4);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
}

TEST_F(ImportTest, NumbersReadWithEitherSeparatorInAGermanLocale) {
  ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(1031));
  ASSERT_TRUE(vkr::platform::SetSystemDefaultLocale(1031));
  ASSERT_EQ(Import(u"<PARAMETERS><Parameter id=\"2\" type=\"VT_R4\" value=\"1.5\"/></PARAMETERS>"), S_OK);
  EXPECT_EQ(Value(2).fltVal, 1.5f);
  ASSERT_EQ(Import(u"<PARAMETERS><Parameter id=\"2\" type=\"VT_R4\" value=\"2,5\"/></PARAMETERS>"), S_OK);
  EXPECT_EQ(Value(2).fltVal, 2.5f);
}

// ---- Fields by mask ---------------------------------------------------------------------------------

TEST_F(ImportTest, FieldsReadByMask) {
  ParInfo r;
  r.m_dwAddressed = 1;
  r.m_bstrName = vkr::Bstr(u"Tag");
  r.m_nKind = PK_PACKED_TEXT;
  r.m_bPersist = 1;
  r.m_dwFlags = 0x171;
  r.m_dwExportKind = 2;
  r.m_vAddress = Text(u"<AddressInformation/>");
  r.m_vTypeInformation = Text(u"<TypeInformation/>");
  ASSERT_EQ(h->SetParInfoFields(1, PIF_ADDRESSED | PIF_NAME | PIF_KIND | PIF_PERSIST | PIF_FLAGS | PIF_EXPORT_KIND |
                                       PIF_ADDRESS | PIF_TYPE_INFORMATION,
                                r),
            S_OK);
  struct Case {
    ULONG mask;
    VARTYPE vt;
    std::string shown;
  };
  const Case cases[] = {
      {PIF_ADDRESSED, VT_UI4, "1"},           {PIF_NAME, VT_BSTR, "Tag"},
      {PIF_VARTYPE, VT_UI2, "8"},             {PIF_KIND, VT_UI2, "4"},
      {PIF_VALUE, VT_BSTR, "old"},            {PIF_PERSIST, VT_BOOL, "False"},  // 1 as stored, not VARIANT_TRUE
      {PIF_FLAGS, VT_UI4, "369"},             {PIF_EXPORT_KIND, VT_UI4, "2"},
      {PIF_ADDRESS, VT_BSTR, "<AddressInformation/>"},
      {PIF_TYPE_INFORMATION, VT_BSTR, "<TypeInformation/>"},
      {PIF_EXISTS, VT_BOOL, "True"},
  };
  for (const Case& c : cases) {
    vkr::Variant v;
    ASSERT_EQ(h->GetParameterField(UI4(1), UI4(c.mask), &v), S_OK) << std::hex << c.mask;
    EXPECT_EQ(v.vt, c.vt) << std::hex << c.mask;
    EXPECT_EQ(FakeParameterSite::Show(v), c.shown) << std::hex << c.mask;
  }
  vkr::Variant persist;
  ASSERT_EQ(h->GetParameterField(UI4(1), UI4(PIF_PERSIST), &persist), S_OK);
  EXPECT_EQ(persist.boolVal, 1);
}

TEST_F(ImportTest, FieldAccessRefusals) {
  vkr::Variant v;
  // The exists selector as a negative VT_I4 is read by its bits.
  ASSERT_EQ(h->GetParameterField(UI4(42), I4(static_cast<LONG>(0x80000000)), &v), S_OK);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_FALSE);
  EXPECT_EQ(h->GetParameterField(UI4(42), UI4(PIF_NAME), &v), E_INVALIDARG);
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(0x6), &v), E_FAIL);  // two fields
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(0), &v), E_FAIL);
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(0x1000000), &v), E_FAIL);
  EXPECT_EQ(h->GetParameterField(Text(u"one"), UI4(PIF_NAME), &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h->GetParameterField(UI4(1), UI4(PIF_NAME), nullptr), E_INVALIDARG);
  EXPECT_EQ(h->GetParameterField(UI4(1), Text(u"Offset"), nullptr), E_INVALIDARG);
  ASSERT_EQ(h->GetParameterField(Text(u"1"), R8(4.0), &v), S_OK);  // id and mask converted
  EXPECT_EQ(TextOf(v), u"Tag");
}

TEST_F(ImportTest, FieldsWrittenByMaskTakeTheFieldsType) {
  ASSERT_EQ(h->SetParameterField(UI4(4), UI4(PIF_PERSIST), Bool(true)), S_OK);
  ParInfo r;
  ASSERT_EQ(h->GetParInfoFields(4, PIF_ALL, &r), S_OK);
  EXPECT_EQ(r.m_bPersist, 0xFFFFFFFFu);  // VARIANT_TRUE sign-extended
  // A value of another type is converted, never reinterpreted; one that does not convert is
  // refused and the record keeps its field.
  ASSERT_EQ(h->SetParameterField(UI4(4), UI4(PIF_NAME), I4(12)), S_OK);
  ASSERT_EQ(h->SetParameterField(UI4(4), UI4(PIF_FLAGS), Text(u"113")), S_OK);
  EXPECT_EQ(h->SetParameterField(UI4(4), UI4(PIF_FLAG_WORD2), Text(u"many")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h->SetParameterField(UI4(4), UI4(PIF_VARTYPE), I4(-1)), DISP_E_OVERFLOW);
  ASSERT_EQ(h->GetParInfoFields(4, PIF_ALL, &r), S_OK);
  EXPECT_EQ(Utf8(r.m_bstrName.Get()), "12");
  EXPECT_EQ(r.m_dwFlags, 113u);
  EXPECT_EQ(r.m_dwFlagWord2, 0u);
  EXPECT_EQ(r.m_vt, VT_UI1);
  // A VARIANT field takes the VARIANT as it is; the exists selector writes nothing.
  ASSERT_EQ(h->SetParameterField(UI4(4), UI4(PIF_MAX), R8(99.5)), S_OK);
  ASSERT_EQ(h->GetParInfoFields(4, PIF_MAX, &r), S_OK);
  EXPECT_EQ(r.m_vMax.vt, VT_R8);
  EXPECT_EQ(h->SetParameterField(UI4(4), UI4(PIF_EXISTS), I4(0)), S_OK);
  EXPECT_EQ(h->SetParameterField(UI4(4), UI4(0x6), I4(0)), E_FAIL);
  EXPECT_EQ(h->SetParameterField(UI4(42), UI4(PIF_FLAGS), I4(0)), E_INVALIDARG);
  // No event, no modified mark: the record is written directly.
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
}

// ---- Private properties --------------------------------------------------------------------------

TEST_F(ImportTest, PrivatePropertiesReadByName) {
  SetPrivate(1, Text(u"<PrivateProperties>"
                     u"<Property name=\"Offset\" value=\"1.5\" type=\"VT_R4\"/>"
                     u"<Property name=\"Plain\" value=\"1.5\"/>"
                     u"<Property name=\"Unknown\" value=\"x\" type=\"VT_NOTHING\"/>"
                     u"<Property name=\"NoValue\" type=\"VT_I4\"/>"
                     u"<Property name=\"Bare\"/>"
                     u"<Property name=\"Bad\" value=\"one\" type=\"VT_I4\"/>"
                     u"<Property name=\"Nested\"><Property name=\"inner\" value=\"1\"/></Property>"
                     u"<Property name='q\"uote' value=\"quoted\"/>"
                     u"</PrivateProperties>"));
  vkr::Variant v;
  ASSERT_EQ(ReadProperty(1, u"Offset", &v), S_OK);
  EXPECT_EQ(v.vt, VT_R4);
  EXPECT_EQ(v.fltVal, 1.5f);
  ASSERT_EQ(ReadProperty(1, u"Plain", &v), S_OK);
  EXPECT_EQ(TextOf(v), u"1.5");
  ASSERT_EQ(ReadProperty(1, u"Unknown", &v), S_OK);  // a type that names nothing: the text
  EXPECT_EQ(TextOf(v), u"x");
  ASSERT_EQ(ReadProperty(1, u"Nested", &v), S_OK);
  EXPECT_EQ(TextOf(v), u"<Property name=\"Nested\"><Property name=\"inner\" value=\"1\"/></Property>");
  ASSERT_EQ(ReadProperty(1, u"q\"uote", &v), S_OK);
  EXPECT_EQ(TextOf(v), u"quoted");
  // Nothing to read: the result stays as it was.
  v = I4(77);
  EXPECT_EQ(ReadProperty(1, u"NoValue", &v), S_OK);
  EXPECT_EQ(ReadProperty(1, u"Bare", &v), S_FALSE);
  EXPECT_EQ(ReadProperty(1, u"Missing", &v), S_FALSE);
  EXPECT_EQ(ReadProperty(1, u"offset", &v), S_FALSE);  // names compare exactly
  EXPECT_EQ(ReadProperty(1, u"inner", &v), S_FALSE);   // only the list's own properties
  EXPECT_EQ(ReadProperty(1, u"Bad", &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 77);
  EXPECT_EQ(ReadProperty(1, u"", &v), E_INVALIDARG);
  EXPECT_EQ(h->ReadPrivateProperties(UI4(1), vkr::Bstr(u"Offset"), nullptr), E_POINTER);
}

TEST_F(ImportTest, PrivatePropertiesThatAreNoListReadNothing) {
  vkr::Variant v = I4(77);
  EXPECT_EQ(ReadProperty(1, u"Offset", &v), E_NOTIMPL);  // VT_EMPTY: not a text
  SetPrivate(1, I4(3));
  EXPECT_EQ(ReadProperty(1, u"Offset", &v), E_NOTIMPL);
  for (const char16_t* text : {u"", u"<PrivateProperties>", u"<Other><Property name=\"Offset\" value=\"1\"/></Other>"}) {
    SetPrivate(1, Text(text));
    EXPECT_EQ(ReadProperty(1, u"Offset", &v), S_FALSE) << Utf8(text);
  }
  EXPECT_EQ(v.lVal, 77);
  EXPECT_EQ(ReadProperty(42, u"Offset", &v), E_INVALIDARG);
}

TEST_F(ImportTest, WritingAPropertyTwiceKeepsOneElement) {
  ASSERT_EQ(WriteProperty(2, u"Offset", R4(1.5f)), S_OK);
  EXPECT_EQ(PrivateText(2), "<PrivateProperties><Property name=\"Offset\" value=\"1.5\" type=\"VT_R4\"/></PrivateProperties>");
  // The property keeps its type: a text or an integer is brought to VT_R4.
  ASSERT_EQ(WriteProperty(2, u"Offset", Text(u"2.25")), S_OK);
  ASSERT_EQ(WriteProperty(2, u"Scale", I4(3)), S_OK);
  vkr::Variant v;
  ASSERT_EQ(ReadProperty(2, u"Offset", &v), S_OK);
  EXPECT_EQ(v.vt, VT_R4);
  EXPECT_EQ(v.fltVal, 2.25f);
  const std::string text = PrivateText(2);
  EXPECT_EQ(text.find("\"Offset\""), text.rfind("\"Offset\"")) << text;
  ASSERT_EQ(ReadProperty(2, u"Scale", &v), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  // Names with markup characters are written escaped and found again.
  ASSERT_EQ(WriteProperty(2, u"a<\"b\">&c", Text(u"x\"y")), S_OK);
  ASSERT_EQ(ReadProperty(2, u"a<\"b\">&c", &v), S_OK);
  EXPECT_EQ(TextOf(v), u"x\"y");
  // No event, no modified mark.
  EXPECT_TRUE(site.journal.empty()) << site.Joined();
}

TEST_F(ImportTest, APropertyValueThatDoesNotFitChangesNothing) {
  SetPrivate(2, Text(u"<PrivateProperties><Property name=\"Offset\" value=\"1\" type=\"VT_UI1\"/></PrivateProperties>"));
  const std::string before = PrivateText(2);
  EXPECT_EQ(WriteProperty(2, u"Offset", I4(300)), DISP_E_OVERFLOW);
  EXPECT_EQ(WriteProperty(2, u"Offset", Text(u"many")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(WriteProperty(2, u"", I4(1)), E_INVALIDARG);
  EXPECT_EQ(PrivateText(2), before);
  // A text that is no list, or a field that is no text, is not overwritten.
  SetPrivate(2, Text(u"<PrivateProperties>"));
  EXPECT_EQ(WriteProperty(2, u"Offset", I4(1)), E_FAIL);
  EXPECT_EQ(PrivateText(2), "<PrivateProperties>");
  SetPrivate(2, Text(u"<Other/>"));
  EXPECT_EQ(WriteProperty(2, u"Offset", I4(1)), E_FAIL);
  SetPrivate(2, I4(3));
  EXPECT_EQ(WriteProperty(2, u"Offset", I4(1)), E_NOTIMPL);
  EXPECT_EQ(WriteProperty(42, u"Offset", I4(1)), E_INVALIDARG);
}

// An import into the device's own table, through the interface a user interface holds: a value
// outside its range is stored, as the import stores what the text says, but marked invalid
// (0x04) as every other road into the data set marks it; an acceptable value clears the mark.
// The other flag bits stay as they were.
TEST(ImportIntoTheDeviceTable, ValuesOutsideTheirRangeAreMarkedInvalid) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    FakeParameterSite site;
    vkr::ComPtr<vkr::ComObject<CFakeDtm>> dtm;
    ASSERT_EQ(vkr::MakeObject<CFakeDtm>(&dtm, static_cast<IovFdtParameterHandlerSite*>(&site)), S_OK);
    CParamCollection table;
    ULONG count = 0;
    ASSERT_EQ(InitDeviceParameterTable(*dtm.Get(), &table, &count), S_OK);
    for (LONG i = 0; i < static_cast<LONG>(table.Count()); ++i) {
      ParInfo r;
      ASSERT_EQ(table.GetAt(i, &r), S_OK);
      ASSERT_EQ(dtm->AddParInfo(r), S_OK);
    }
    IovFdtParametersImportExport* importer = dtm.Get();
    struct Case {
      ULONG id;
      const char16_t* type;
      const char16_t* value;
      const char* stored;
      bool invalid;
    } cases[] = {
        // 1081 "Distance offset", -0.5 to 0.5.
        {1081, u"VT_R4", u"7.5", "7.500000", true},
        {1081, u"VT_R4", u"-0.5", "-0.500000", false},
        {1081, u"VT_R4", u"0.6", "0.600000", true},
        {1081, u"VT_R4", u"0.25", "0.250000", false},
        // 1136, the same range, persisted.
        {1136, u"VT_R4", u"-7", "-7.000000", true},
        // 121 "Short address", 0 to 15: the polling addresses the DTM reaches its device at.
        {121, u"VT_UI1", u"16", "16", true},
        {121, u"VT_UI1", u"15", "15", false},
    };
    for (const Case& c : cases) {
      ParInfo before;
      ASSERT_EQ(dtm->GetParInfoById(c.id, &before), S_OK);
      const std::u16string text = u"<PARAMETERS><Parameter id=\"" + vkr::Utf8ToUtf16(std::to_string(c.id)) +
                                  u"\" type=\"" + c.type + u"\" value=\"" + c.value + u"\"/></PARAMETERS>";
      ASSERT_EQ(importer->ImportParameters(vkr::Bstr(text)), S_OK) << Utf8(text);
      ParInfo after;
      ASSERT_EQ(dtm->GetParInfoById(c.id, &after), S_OK);
      EXPECT_EQ(FakeParameterSite::Show(after.m_vValue), c.stored) << Utf8(text);
      EXPECT_EQ((after.m_dwFlags & PFL_INVALID) != 0, c.invalid) << Utf8(text) << " flags 0x" << std::hex << after.m_dwFlags;
      EXPECT_EQ(after.m_dwFlags & ~PFL_INVALID, before.m_dwFlags & ~PFL_INVALID) << Utf8(text);
    }
  }
  CoUninitialize();
}

TEST_F(ImportTest, PropertyValuesReadBackInAnyLocale) {
  ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(1031));
  ASSERT_TRUE(vkr::platform::SetSystemDefaultLocale(1031));
  ASSERT_EQ(WriteProperty(2, u"Offset", R8(-1.25)), S_OK);
  EXPECT_NE(PrivateText(2).find("value=\"-1.25\""), std::string::npos) << PrivateText(2);
  vkr::Variant v;
  ASSERT_EQ(ReadProperty(2, u"Offset", &v), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, -1.25);
  ASSERT_EQ(WriteProperty(2, u"Bytes", Bytes({0xAB, 0x01})), S_OK);
  ASSERT_EQ(ReadProperty(2, u"Bytes", &v), S_OK);
  EXPECT_EQ(FakeParameterSite::Show(v), "AB01");
}

}  // namespace

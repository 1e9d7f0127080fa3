// The "<PARAMETERS>" text: its exact form, its filters and progress, and the round trip through
// the import for every parameter of the device's table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/DeviceParameterTable.h"
#include "tests/support/parameter_records.h"
#include "tests/support/fake_parameter_site.h"

using namespace vkr::test;

namespace {

class CExportDtm : public CFakeDtm {
 public:
  explicit CExportDtm(FakeParameterSite* site) : CFakeDtm(site), m_site(site) {}
  HRESULT UpdateProgress(ULONG done, ULONG total, BSTR text) override {
    m_site->Log("progress " + std::to_string(done) + "/" + std::to_string(total) + " " + Utf8(text));
    return S_OK;
  }
  void ResetProgressThreshold() override { m_site->Log("reset"); }
  CParamCollection& Records() { return Collection(); }

 private:
  FakeParameterSite* m_site;
};

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<CExportDtm>(&dtm, &site), S_OK);
    h = dtm.Get();
  }
  void TearDown() override {
    dtm = nullptr;
    other = nullptr;
    vkr::platform::SetUserDefaultLocale(1033);
    vkr::platform::SetSystemDefaultLocale(1033);
    CoUninitialize();
  }
  ParInfo Listed(ParInfo r, const char16_t* strId, ULONG extraFlags = PFL_EXPORT) {
    r.m_bstrStrId = vkr::Bstr(strId);
    r.m_dwFlags |= extraFlags;
    return r;
  }
  std::u16string Export(BOOL persisted, BOOL flagged, const char16_t* progress = nullptr) {
    vkr::Bstr text, p(progress);
    EXPECT_EQ(h->ExportParametersXml(progress ? p.Get() : nullptr, persisted, flagged, text.Put()), S_OK);
    EXPECT_NE(text.Get(), nullptr);
    return text.Str();
  }

  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<CExportDtm>> dtm, other;
  CExportDtm* h = nullptr;
};

TEST_F(ExportTest, ElementsFollowTheTemplateExactly) {
  ASSERT_EQ(h->AddParInfo(Listed(Record(7, VT_BSTR, Text(u"a<b & \"c\""), nullptr, nullptr, PFL_DEFAULT, 0, u"N&me"),
                                 u"Str'Id")),
            S_OK);
  ASSERT_EQ(h->AddParInfo(Listed(Record(3, VT_ARRAY | VT_UI1, Bytes({0x0A, 0xFF}), nullptr, nullptr, PFL_DEFAULT, 0,
                                        u"Bytes"),
                                 u"B")),
            S_OK);
  const std::u16string expected =
      u"<PARAMETERS> \r\n"
      u"<Parameter \r\n\tid    =\"3\" \r\n\tstr_id=\"B\" \r\n\tname  =\"Bytes\" \r\n\ttype  =\"VT_UI1 | VT_ARRAY\" "
      u"\r\n\tvalue =\"0AFF\" \r\n/> \r\n"
      u"<Parameter \r\n\tid    =\"7\" \r\n\tstr_id=\"Str'Id\" \r\n\tname  =\"N&amp;me\" \r\n\ttype  =\"VT_BSTR\" "
      u"\r\n\tvalue =\"a&lt;b &amp; &quot;c&quot;\" \r\n/> \r\n"
      u"</PARAMETERS> \r\n";
  EXPECT_EQ(vkr::Utf16ToUtf8(Export(FALSE, TRUE)), vkr::Utf16ToUtf8(expected));
  vkr::Bstr viaInterface;
  ASSERT_EQ(static_cast<IovFdtParametersImportExport*>(h)->ExportParameters(viaInterface.Put()), S_OK);
  EXPECT_EQ(viaInterface.Str(), expected);
}

TEST_F(ExportTest, FiltersChooseTheListedParameters) {
  ParInfo transient = Listed(Record(2, VT_I4, I4(2)), u"T");
  transient.m_bPersist = 0;
  ASSERT_EQ(h->AddParInfo(Listed(Record(1, VT_I4, I4(1)), u"P")), S_OK);       // persisted, flagged
  ASSERT_EQ(h->AddParInfo(transient), S_OK);                                 // transient, flagged
  ASSERT_EQ(h->AddParInfo(Listed(Record(3, VT_I4, I4(3)), u"U", 0)), S_OK);   // persisted, not flagged
  const struct {
    BOOL persisted, flagged;
    const char* ids;
  } cases[] = {{FALSE, FALSE, "123"}, {TRUE, FALSE, "13"}, {FALSE, TRUE, "12"}, {TRUE, TRUE, "1"}};
  for (const auto& c : cases) {
    const std::u16string text = Export(c.persisted, c.flagged);
    std::string ids;
    for (std::size_t at = text.find(u"id    =\""); at != std::u16string::npos; at = text.find(u"id    =\"", at + 1))
      ids += static_cast<char>(text[at + 8]);
    EXPECT_EQ(ids, c.ids) << "persisted " << c.persisted << " flagged " << c.flagged;
  }
}

TEST_F(ExportTest, NothingListedIsTheEmptyTextNotAnEmptyWrapper) {
  ASSERT_EQ(h->AddParInfo(Listed(Record(1, VT_I4, I4(1)), u"P", 0)), S_OK);
  EXPECT_EQ(Export(FALSE, TRUE), u"");
  vkr::Bstr none;
  ASSERT_EQ(static_cast<IovFdtParametersImportExport*>(h)->ExportParameters(none.Put()), S_OK);
  ASSERT_NE(none.Get(), nullptr) << "an empty text, not a null one";
  EXPECT_EQ(none.Length(), 0u);
  EXPECT_EQ(h->ExportParametersXml(nullptr, FALSE, FALSE, nullptr), E_POINTER);
}

TEST_F(ExportTest, ProgressIsReportedPerRecordAndEndedOnlyWithAText) {
  ASSERT_EQ(h->AddParInfo(Listed(Record(1, VT_I4, I4(1)), u"P")), S_OK);
  ASSERT_EQ(h->AddParInfo(Listed(Record(2, VT_I4, I4(2)), u"Q", 0)), S_OK);
  site.Clear();
  Export(TRUE, FALSE, u"Export");
  EXPECT_EQ(site.Joined(), "reset, progress 0/2 Export, progress 1/2 Export, progress 0/2 ");
  site.Clear();
  Export(TRUE, FALSE);
  EXPECT_EQ(site.Joined(), "reset");
}

// A value of the type in the middle of its limits (or a fixed one without limits), different
// from the default wherever the limits allow.
vkr::Variant DistinctValue(const ParInfo& r, int salt) {
  vkr::Variant out;
  if (r.m_vt == VT_BSTR) {
    std::u16string text = u"<T&g \"x\" 'y'>";
    text += static_cast<char16_t>(u'a' + salt % 26);
    ULONG max = 0;
    if (r.m_vMax.vt != VT_EMPTY && SUCCEEDED(VariantToULong(r.m_vMax.Ptr(), &max)) && max > 0 && max < text.size())
      text.resize(max);
    out.vt = VT_BSTR;
    out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return out;
  }
  if (r.m_vt == (VT_ARRAY | VT_UI1)) {
    vkr::Variant copy(r.m_vValue);
    if (copy.vt == (VT_ARRAY | VT_UI1) && copy.parray && copy.parray->rgsabound[0].cElements > 0) {
      static_cast<BYTE*>(copy.parray->pvData)[0] ^= 0x5A;
      return copy;
    }
    return Bytes({0x12, 0xAB});
  }
  double lo = 0, hi = 100;
  vkr::Variant d;
  if (r.m_vMin.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(d.Put(), r.m_vMin.Ptr(), 0, VT_R8))) lo = d.dblVal;
  if (r.m_vMax.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(d.Put(), r.m_vMax.Ptr(), 0, VT_R8))) hi = d.dblVal;
  if (!(hi > lo)) hi = lo;
  double value = lo + (hi - lo) * 0.37;
  value = (r.m_vt == VT_R4 || r.m_vt == VT_R8) ? std::round(value * 100) / 100 : std::floor(value);
  if (r.m_vt == VT_BOOL) value = salt % 2;
  vkr::Variant src;
  src.vt = VT_R8;
  src.dblVal = value;
  if (FAILED(VariantChangeType(out.Put(), src.Ptr(), 0, r.m_vt))) VariantCopy(out.Put(), r.m_vValue.Ptr());
  return out;
}

// Every parameter of the device's table survives export and import, in both locales.
TEST_F(ExportTest, EveryDeviceParameterSurvivesTheRoundTrip) {
  for (LCID locale : {LCID(1033), LCID(1031)}) {
    vkr::platform::SetUserDefaultLocale(locale);
    vkr::platform::SetSystemDefaultLocale(locale);
    dtm = nullptr;
    other = nullptr;
    ASSERT_EQ(vkr::MakeObject<CExportDtm>(&dtm, &site), S_OK);
    ASSERT_EQ(vkr::MakeObject<CExportDtm>(&other, &site), S_OK);
    h = dtm.Get();
    ULONG count = 0;
    ASSERT_EQ(InitDeviceParameterTable(*h, &h->Records(), &count), S_OK);
    ASSERT_EQ(InitDeviceParameterTable(*other.Get(), &other.Get()->Records(), nullptr), S_OK);
    ASSERT_GT(count, 50u);
    // Every value set to one of its type that the other DTM does not hold.
    for (ULONG i = 0; i < count; ++i) {
      ParInfo r;
      ASSERT_EQ(h->GetParInfoAt(static_cast<LONG>(i), &r), S_OK);
      if (r.IsReference()) continue;
      vkr::Variant v = DistinctValue(r, static_cast<int>(i));
      ASSERT_EQ(h->SetValueById(r.m_nId, v), S_OK) << r.m_nId;
    }
    vkr::Bstr text;
    ASSERT_EQ(h->ExportParametersXml(nullptr, FALSE, FALSE, text.Put()), S_OK);
    ASSERT_EQ(other.Get()->ImportParameterValues(text.Get(), nullptr), S_OK);
    ULONG compared = 0, changed = 0;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo a, b, fresh;
      ASSERT_EQ(h->GetParInfoAt(static_cast<LONG>(i), &a), S_OK);
      ASSERT_EQ(other.Get()->GetParInfoAt(static_cast<LONG>(i), &b), S_OK);
      if (a.IsReference() || a.m_vValue.vt != a.m_vt) continue;
      ++compared;
      if (a.m_vt == VT_R4) {
        // Six decimals are written; the values chosen here have two.
        EXPECT_NEAR(a.m_vValue.fltVal, b.m_vValue.fltVal, 1e-5) << "id " << a.m_nId << " locale " << locale;
      } else {
        EXPECT_TRUE(IsVariantEqual(a.m_vValue, b.m_vValue))
            << "id " << a.m_nId << " locale " << locale << ": " << FakeParameterSite::Show(a.m_vValue) << " became "
            << FakeParameterSite::Show(b.m_vValue) << "\n" << Utf8(text.Get());
      }
      if (!IsVariantEqual(a.m_vValue, a.m_vDefault)) ++changed;
    }
    EXPECT_GT(compared, count / 2) << "locale " << locale;
    EXPECT_GT(changed, compared / 2) << "the round trip must carry values other than the defaults";
  }
}

TEST_F(ExportTest, LongValuesAreNotCut) {
  std::u16string longText(300000, u'x');
  longText += u"&end";
  ASSERT_EQ(h->AddParInfo(Listed(Record(1, VT_BSTR, Text(longText.c_str())), u"L")), S_OK);
  const std::u16string text = Export(FALSE, TRUE);
  EXPECT_NE(text.find(u"x&amp;end\" \r\n/> \r\n</PARAMETERS> \r\n"), std::u16string::npos);
  ASSERT_EQ(h->SetValueById(1, Text(u"short")), S_OK);
  vkr::Bstr t(text);
  ASSERT_EQ(h->ImportParameterValues(t.Get(), nullptr), S_OK);
  vkr::Variant back;
  ASSERT_EQ(h->GetValueById(1, &back), S_OK);
  EXPECT_EQ(vkr::View(back.bstrVal).size(), longText.size());
}

}  // namespace

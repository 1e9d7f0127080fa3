// The texts of single device data access: item kinds, range elements, the time stamp and the item
// entries of an answer.
#include <gtest/gtest.h>

#include <string>

#include "parameters/DataAccessDocuments.h"
#include "tests/parameters/values.h"

namespace {

using namespace vkr::test;

// Escaping goes through a DOM document, which needs an apartment.
class DataAccessDocuments : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

std::string Kinds(ULONG flags) {
  vkr::Bstr text;
  EXPECT_EQ(ItemKindText(flags, text.Put()), S_OK);
  return Utf8(text.View());
}

std::string Range(const VARIANT& v) {
  vkr::Bstr xml;
  const HRESULT hr = RangeValueXml(v, xml.Put());
  return hr == S_OK ? Utf8(xml.View()) : "hr " + std::to_string(hr);
}

TEST_F(DataAccessDocuments, ItemKindsInBitOrderAndOthersWithoutAny) {
  EXPECT_EQ(Kinds(0), "<ItemKind itemKind=\"others\" />\n");
  EXPECT_EQ(Kinds(1u << 26), "<ItemKind itemKind=\"others\" />\n") << "bits above 25 have no word";
  EXPECT_EQ(Kinds(0x5), "<ItemKind itemKind=\"alarm\" />\n<ItemKind itemKind=\"analogOutput\" />\n");
  EXPECT_EQ(Kinds((1u << 25) | (1u << 17)), "<ItemKind itemKind=\"hart\" />\n<ItemKind itemKind=\"tune\" />\n");
  EXPECT_EQ(ItemKindText(0, nullptr), E_INVALIDARG);
}

// Limits in the document's own number form whatever the user's locale, texts escaped.
TEST_F(DataAccessDocuments, RangeElementsByType) {
  vkr::platform::SetUserDefaultLocale(1031);
  vkr::platform::SetSystemDefaultLocale(1031);
  EXPECT_EQ(Range(R4(-10.5f)), "<fdt:NumberData number=\"-10.5\" />");
  EXPECT_EQ(Range(R8(1234.25)), "<fdt:NumberData number=\"1234.25\" />");
  EXPECT_EQ(Range(UI1(48)), "<fdt:NumberData number=\"48\" />");
  EXPECT_EQ(Range(I2(-3)), "<fdt:NumberData number=\"-3\" />");
  EXPECT_EQ(Range(Text(u"A\"<&")), "<fdt:StringData string=\"A&quot;&lt;&amp;\" />");
  EXPECT_EQ(Range(Bytes({0x0A, 0xFF})), "<fdt:StringData string=\"0AFF\" />");
  EXPECT_EQ(Range(vkr::Variant()), "hr 1") << "an empty limit has no element";
  EXPECT_EQ(Range(Bool(true)), "hr 1");
  vkr::platform::SetUserDefaultLocale(1033);
  vkr::platform::SetSystemDefaultLocale(1033);
}

TEST_F(DataAccessDocuments, TimeStampIsUtcInSeconds) {
  SYSTEMTIME fixed{};
  fixed.wYear = 2024, fixed.wMonth = 2, fixed.wDay = 9, fixed.wHour = 7, fixed.wMinute = 5, fixed.wSecond = 3;
  vkr::platform::SetFixedSystemTime(&fixed);
  EXPECT_EQ(Utf8(GetXmlTimeStamp()), "2024-02-09T07:05:03");
  vkr::platform::SetFixedSystemTime(nullptr);
}

// An id or time stamp a request carried comes back escaped; one no document can carry is refused.
TEST_F(DataAccessDocuments, ItemEntriesEscapeWhatTheRequestHeld) {
  std::u16string document;
  ASSERT_EQ(AppendDtmItem(&document, u"a\"<&", u"t<", false, kItemErrorNoLock), S_OK);
  EXPECT_EQ(Utf8(document),
            "\t<DtmItem fdt:id=\"a&quot;&lt;&amp;\">\n\t\t<TimeStamp fdt:time=\"t&lt;\"/>\n\t\t<Quality  "
            "qualityBits=\"bad\"/>\n\t\t\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"noLock\"/>\n"
            "\t</ItemError>\n\t</DtmItem>\n");
  EXPECT_EQ(AppendDtmItem(&document, std::u16string(1, u'\x01'), u"", true, u""), E_INVALIDARG);
}

}  // namespace

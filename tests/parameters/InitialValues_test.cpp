// Initial values of byte-string bit fields from a TypeInformation text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/definition_fixture.h"
#include "tests/support/variant_values.h"

namespace {

using vkr::test::Bytes;
using ByteList = std::vector<int>;

class InitialValues : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }

  // The rebuilt bytes of value, or {-1} when the answer is not S_OK (the result must then be
  // untouched).
  ByteList Rebuild(const VARIANT& value, const char16_t* typeInformation, HRESULT* answer = nullptr) {
    vkr::Bstr text(typeInformation);
    vkr::Variant result = vkr::test::I4(-7);
    const HRESULT hr = handler.InitValuesFromTypeInformation(value, text.Get(), &result);
    if (answer) *answer = hr;
    if (hr != S_OK) {
      EXPECT_EQ(result.vt, VT_I4) << "result changed";
      return {-1};
    }
    LONG lb = -1;
    SafeArrayGetLBound(result.parray, 1, &lb);
    EXPECT_EQ(lb, 0);
    return Bytes(result);
  }

  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
};

std::u16string Simple(const char16_t* attributes) {
  return u"<TypeInformation><Simple " + std::u16string(attributes) + u"/></TypeInformation>";
}

TEST_F(InitialValues, FieldsAreWrittenAtTheirBits) {
  struct Case {
    const char16_t* attributes;
    ByteList before, after;
  };
  const Case cases[] = {
      {u"bitPosition=\"8\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"5\"", {0, 0, 0}, {0, 5, 0}},
      // Bit 0 is the first byte's most significant bit; a field's high bit comes first.
      {u"bitPosition=\"4\" bitLength=\"4\" type=\"VT_UI1\" initialValue=\"15\"", {0, 0}, {0x0F, 0}},
      {u"bitPosition=\"0\" bitLength=\"1\" type=\"VT_BOOL\" initialValue=\"True\"", {0x00}, {0x80}},
      {u"bitPosition=\"6\" bitLength=\"4\" type=\"VT_UI1\" initialValue=\"9\"", {0, 0}, {0x02, 0x40}},
      // The field's other bits are cleared, the bits around it kept.
      {u"bitPosition=\"2\" bitLength=\"3\" type=\"VT_UI1\" initialValue=\"0\"", {0xFF}, {0xC7}},
      // Only the low bitLength bits of a wider value.
      {u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_UI2\" initialValue=\"258\"", {0xFF, 0xFF}, {0x02, 0xFF}},
      {u"bitPosition=\"0\" bitLength=\"16\" type=\"VT_I2\" initialValue=\"-2\"", {0, 0, 0}, {0xFF, 0xFE, 0}},
      {u"bitPosition=\"8\" bitLength=\"32\" type=\"VT_R4\" initialValue=\"1.5\"", {0, 0, 0, 0, 0}, {0, 0x3F, 0xC0, 0, 0}},
      {u"bitPosition=\"0\" bitLength=\"64\" type=\"VT_R8\" initialValue=\"-2\"", {0, 0, 0, 0, 0, 0, 0, 0},
       {0xC0, 0, 0, 0, 0, 0, 0, 0}},
      // Fields that cannot be written are skipped.
      {u"bitPosition=\"16\" bitLength=\"16\" type=\"VT_UI2\" initialValue=\"1\"", {1, 2, 3}, {1, 2, 3}},
      {u"bitPosition=\"4294967295\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"0\" type=\"VT_UI1\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"72\" type=\"VT_UI1\" initialValue=\"1\"", {1, 1, 1, 1, 1, 1, 1, 1, 1},
       {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {u"bitPosition=\"-8\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"1\"", {1, 1}, {1, 1}},
      {u"bitLength=\"8\" type=\"VT_UI1\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" type=\"VT_UI1\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"8\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_NOTHING\" initialValue=\"1\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"300\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"five\"", {1}, {1}},
      {u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_BSTR\" initialValue=\"A\"", {1}, {1}},
  };
  for (const Case& c : cases) {
    vkr::Variant value;
    {
      SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(c.before.size()));
      for (LONG i = 0; i < static_cast<LONG>(c.before.size()); ++i) {
        BYTE b = static_cast<BYTE>(c.before[static_cast<size_t>(i)]);
        SafeArrayPutElement(psa, &i, &b);
      }
      value.vt = VT_ARRAY | VT_UI1;
      value.parray = psa;
    }
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Rebuild(value, Simple(c.attributes).c_str(), &hr), c.after) << vkr::Utf16ToUtf8(c.attributes);
    EXPECT_EQ(hr, S_OK) << vkr::Utf16ToUtf8(c.attributes);
  }
}

TEST_F(InitialValues, EveryFieldInDocumentOrder) {
  // A structure: its first field has an initial value, the second none, and the array's element
  // has no position of its own.
  const char16_t* text =
      u"<TypeInformation><Struct name=\"Loop test\" bitPosition=\"0\">"
      u"<Simple type=\"VT_UI1\" bitPosition=\"0\" bitLength=\"8\" initialValue=\"3\"/>"
      u"<Simple type=\"VT_R4\" bitPosition=\"8\" bitLength=\"32\"/>"
      u"<Array bitPosition=\"40\" elementCount=\"2\"><Simple type=\"VT_UI2\" bitLength=\"16\" initialValue=\"258\"/></Array>"
      u"</Struct><Simple type=\"VT_UI1\" bitPosition=\"0\" bitLength=\"4\" initialValue=\"10\"/></TypeInformation>";
  EXPECT_EQ(Rebuild(vkr::test::Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8}), text), (ByteList{0xA3, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// What a text gives is kept for it only when nothing failed for want of memory: after a failure
// at any allocation, the same text read again gives every field.
TEST_F(InitialValues, AnAnswerCutShortByMemoryIsNotKeptForItsText) {
  for (unsigned n = 1; n < 5000; ++n) {
    SCOPED_TRACE(n);
    // A text no earlier pass (or round) has read, so nothing is kept for it yet.
    static unsigned pass = 0;
    const std::u16string text = u"<TypeInformation name=\"" + vkr::Utf8ToUtf16(std::to_string(++pass)) + u"\">" +
                                u"<Simple type=\"VT_UI1\" bitPosition=\"8\" bitLength=\"8\" initialValue=\"5\"/>" +
                                u"<Simple type=\"VT_UI1\" bitPosition=\"16\" bitLength=\"8\" initialValue=\"7\"/>" +
                                u"</TypeInformation>";
    const vkr::Variant value = vkr::test::Bytes({0, 0, 0});
    vkr::platform::SetAllocationFault(n);
    Rebuild(value, text.c_str());
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    EXPECT_EQ(Rebuild(vkr::test::Bytes({0, 0, 0}), text.c_str()), (ByteList{0, 5, 7}));
    if (!reached) {
      EXPECT_GT(n, 1u) << "no allocation was made to fail";
      return;
    }
  }
  ADD_FAILURE() << "the sweep did not end";
}

TEST_F(InitialValues, NothingToDoLeavesTheValue) {
  const vkr::Variant three = vkr::test::Bytes({0, 0, 0});
  const std::u16string field = Simple(u"bitPosition=\"0\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"1\"");
  for (const char16_t* text : {u"", u"<TypeInformation", u"<TypeInformation/>",
                               u"<TypeInformation><Simple type=\"VT_UI1\" bitPosition=\"0\" bitLength=\"8\"/></TypeInformation>"}) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Rebuild(three, text, &hr), ByteList{-1}) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(hr, S_FALSE) << vkr::Utf16ToUtf8(text);
  }
  HRESULT hr = E_FAIL;
  EXPECT_EQ(Rebuild(three, nullptr, &hr), ByteList{-1});
  EXPECT_EQ(hr, S_FALSE);
  // A byte string without bytes has no field to fill; it stays as it is.
  EXPECT_EQ(Rebuild(vkr::test::Bytes({}), field.c_str(), &hr), ByteList{-1});
  EXPECT_EQ(hr, S_FALSE);
  // A value that is no byte string is refused.
  EXPECT_EQ(Rebuild(vkr::test::I4(0), field.c_str(), &hr), ByteList{-1});
  EXPECT_EQ(hr, E_INVALIDARG);
  vkr::Bstr t(field.c_str());
  EXPECT_EQ(handler.InitValuesFromTypeInformation(three, t.Get(), nullptr), E_POINTER);
}

TEST_F(InitialValues, TheDefinitionOfAByteStringTakesThem) {
  CParamCollection collection;
  handler.AddAddressedArrayParameter(
      &collection, 1, 7, "<AddressInformation/>", "Bytes", 0, VT_ARRAY | VT_UI1, "", "", "000000", "000000", 0, 0x71,
      2, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      nullptr, 0, "<TypeInformation><Simple bitPosition=\"8\" bitLength=\"8\" type=\"VT_UI1\" initialValue=\"5\"/></TypeInformation>",
      nullptr);
  const ParInfo* r = collection.FindById(7);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Bytes(r->m_vValue), (ByteList{0, 5, 0}));
  EXPECT_EQ(Bytes(r->m_vDefault), (ByteList{0, 0, 0}));
}

}  // namespace

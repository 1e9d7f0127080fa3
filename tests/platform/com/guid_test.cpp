// GUID text forms and creation.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/platform.h"

namespace {

constexpr GUID kSample = vkr::MakeGuid("1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809");

TEST(Guid, TextRoundTripsInBothForms) {
  OLECHAR buf[39];
  ASSERT_EQ(StringFromGUID2(kSample, buf, 39), 39);
  EXPECT_EQ(std::u16string(buf), u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}");
  CLSID back;
  ASSERT_EQ(CLSIDFromString(buf, &back), S_OK);
  EXPECT_EQ(back, kSample);
  IID iid;
  ASSERT_EQ(IIDFromString(u"{1a2b3c4d-5e6f-7081-92a3-b4c5d6e7f809}", &iid), S_OK);
  EXPECT_EQ(iid, kSample);

  RPC_CSTR text = nullptr;
  ASSERT_EQ(UuidToStringA(&kSample, &text), RPC_S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "1a2b3c4d-5e6f-7081-92a3-b4c5d6e7f809");
  UUID parsed;
  EXPECT_EQ(UuidFromStringA(text, &parsed), RPC_S_OK);
  EXPECT_EQ(parsed, kSample);
  RpcStringFreeA(&text);
  EXPECT_EQ(text, nullptr);

  LPOLESTR alloc = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &alloc), S_OK);
  EXPECT_EQ(std::u16string(alloc), u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}");
  CoTaskMemFree(alloc);
}

TEST(Guid, MalformedTextIsRefused) {
  const char16_t* bad[] = {
      u"",
      u"1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809",    // no braces
      u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F80}",   // one digit short
      u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F8090}", // one digit long
      u"{1A2B3C4D_5E6F-7081-92A3-B4C5D6E7F809}",  // wrong separator
      u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F8G9}",  // not hex
  };
  for (const char16_t* text : bad) {
    CLSID c = kSample;
    EXPECT_EQ(CLSIDFromString(text, &c), CO_E_CLASSSTRING) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(c, CLSID_NULL);
    IID i;
    EXPECT_EQ(IIDFromString(text, &i), E_INVALIDARG) << vkr::Utf16ToUtf8(text);
  }
  OLECHAR small[38];
  EXPECT_EQ(StringFromGUID2(kSample, small, 38), 0);
  GUID g;
  EXPECT_TRUE(GUIDFromStringW(u"1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809", &g));
  EXPECT_EQ(g, kSample);
  EXPECT_FALSE(GUIDFromStringW(u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809", &g));
}

TEST(Guid, NewIdsAreVersionFourAndDistinct) {
  std::set<GUID> seen;
  for (int i = 0; i < 1000; ++i) {
    GUID g;
    ASSERT_EQ(i % 2 ? CoCreateGuid(&g) : static_cast<HRESULT>(UuidCreate(&g)), S_OK);
    EXPECT_EQ(g.Data3 >> 12, 4);
    EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
    EXPECT_TRUE(seen.insert(g).second);
  }
}

}  // namespace

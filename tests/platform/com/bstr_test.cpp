// BSTR: length prefix, embedded zeros, null handling, reallocation.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"

namespace {

TEST(Bstr, PrefixHoldsByteLengthAndTextIsZeroTerminated) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], 0);
  SysFreeString(s);
}

TEST(Bstr, EmbeddedZerosCountInTheLength) {
  const OLECHAR text[] = {u'a', 0, u'b', 0, 0};
  BSTR s = SysAllocStringLen(text, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(s[2], u'b');
  vkr::Bstr copy;
  copy = vkr::Bstr(std::u16string_view(s, 4));
  EXPECT_EQ(copy.Length(), 4u);
  EXPECT_EQ(copy.View(), std::u16string_view(text, 4));
  SysFreeString(s);
}

TEST(Bstr, OddByteLengthKeepsItsBytesAndEndsInZeros) {
  BSTR s = SysAllocStringByteLen("xyz", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  const char* bytes = reinterpret_cast<const char*>(s);
  EXPECT_EQ(std::memcmp(bytes, "xyz", 3), 0);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[4], 0);
  SysFreeString(s);
}

TEST(Bstr, NullIsTheEmptyText) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR zeros = SysAllocStringLen(nullptr, 2);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(SysStringLen(zeros), 2u);
  EXPECT_EQ(zeros[0], 0);
  SysFreeString(zeros);
  vkr::Bstr empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.View(), u"");
}

TEST(Bstr, ReallocFromItsOwnTextAndFailureKeepsTheOld) {
  BSTR s = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocStringLen(&s, s + 6, 5));
  EXPECT_EQ(vkr::View(s), u"world");
  vkr::platform::SetAllocationFault(1);
  EXPECT_FALSE(SysReAllocString(&s, u"lost"));
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(vkr::View(s), u"world");
  SysFreeString(s);
}

TEST(Bstr, AllocationFailureGivesNull) {
  vkr::platform::SetAllocationFault(1);
  EXPECT_EQ(SysAllocString(u"x"), nullptr);
  EXPECT_EQ(vkr::platform::AllocationsSinceFaultArmed(), 1u);
  BSTR ok = SysAllocString(u"y");
  EXPECT_NE(ok, nullptr);
  SysFreeString(ok);
}

}  // namespace

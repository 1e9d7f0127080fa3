// The memory stream: reads, writes, seeks, sizes, clones and failed growth.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"

namespace {

LARGE_INTEGER Offset(long long v) {
  LARGE_INTEGER li;
  li.QuadPart = v;
  return li;
}

TEST(MemoryStream, WritesReadBackAfterSeekingAndReadsStopAtTheEnd) {
  vkr::ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.Put()), S_OK);
  ULONG n = 0;
  ASSERT_EQ(s->Write("hello", 5, &n), S_OK);
  EXPECT_EQ(n, 5u);
  ULARGE_INTEGER pos;
  ASSERT_EQ(s->Seek(Offset(-3), STREAM_SEEK_CUR, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 2u);
  char buf[8] = {};
  ASSERT_EQ(s->Read(buf, 8, &n), S_OK);
  EXPECT_EQ(n, 3u);
  EXPECT_STREQ(buf, "llo");
  ASSERT_EQ(s->Read(buf, 8, &n), S_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(s->Seek(Offset(-1), STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(s->Seek(Offset(0), 7, nullptr), STG_E_INVALIDFUNCTION);
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
  vkr::ComPtr<IStream> s;
  ASSERT_EQ(vkr::CreateMemoryStream("ab", 2, s.Put()), S_OK);
  ASSERT_EQ(s->Seek(Offset(4), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("z", 1, nullptr), S_OK);
  STATSTG st;
  ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(st.cbSize.QuadPart, 5u);
  s->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
  char buf[5];
  s->Read(buf, 5, nullptr);
  EXPECT_EQ(std::memcmp(buf, "ab\0\0z", 5), 0);
  ULARGE_INTEGER size;
  size.QuadPart = 1;
  ASSERT_EQ(s->SetSize(size), S_OK);
  s->Stat(&st, STATFLAG_NONAME);
  EXPECT_EQ(st.cbSize.QuadPart, 1u);
}

TEST(MemoryStream, ClonesShareBytesButNotThePosition) {
  vkr::ComPtr<IStream> s, c;
  ASSERT_EQ(vkr::CreateMemoryStream("abcdef", 6, s.Put()), S_OK);
  s->Seek(Offset(2), STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(s->Clone(c.Put()), S_OK);
  char x;
  c->Read(&x, 1, nullptr);
  EXPECT_EQ(x, 'c');
  c->Write("Z", 1, nullptr);
  s->Seek(Offset(3), STREAM_SEEK_SET, nullptr);
  s->Read(&x, 1, nullptr);
  EXPECT_EQ(x, 'Z');

  vkr::ComPtr<IStream> dst;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, dst.Put()), S_OK);
  s->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
  ULARGE_INTEGER all, read, written;
  all.QuadPart = 100;
  ASSERT_EQ(s->CopyTo(dst.Get(), all, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 6u);
  EXPECT_EQ(written.QuadPart, 6u);
}

TEST(MemoryStream, FailedGrowthWritesNothing) {
  vkr::ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.Put()), S_OK);
  vkr::platform::SetAllocationFault(1);
  ULONG n = 99;
  EXPECT_EQ(s->Write("abc", 3, &n), STG_E_MEDIUMFULL);
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(n, 0u);
  STATSTG st;
  s->Stat(&st, STATFLAG_NONAME);
  EXPECT_EQ(st.cbSize.QuadPart, 0u);
  EXPECT_EQ(CreateStreamOnHGlobal(reinterpret_cast<HGLOBAL>(1), TRUE, s.Put()), E_INVALIDARG);
}

}  // namespace

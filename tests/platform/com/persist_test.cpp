// Class ids and objects in streams: the bytes WriteClassStm writes, and what OleSaveToStream and
// OleLoadFromStream answer for a null object and for what cannot be loaded. (Objects that load
// are carried through the data set in the parameter and DTM tests.)
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/persistable_objects.h"
#include "tests/support/test_streams.h"

namespace {

using namespace vkr::test;

TEST(ClassStm, SixteenBytesInTheWindowsLayoutAndAShortStreamIsAReadFault) {
  constexpr CLSID kSample = vkr::MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");
  const std::vector<BYTE> bytes = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                   0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  auto s = EmptyStream();
  ASSERT_EQ(WriteClassStm(s.Get(), kSample), S_OK);
  EXPECT_EQ(BytesOf(s.Get()), bytes);
  EXPECT_EQ(ClassIdBytes(kSample), bytes);
  CLSID back{};
  ASSERT_EQ(ReadClassStm(StreamOf(bytes).Get(), &back), S_OK);
  EXPECT_EQ(back, kSample);
  back = CLSID_NULL;
  EXPECT_EQ(ReadClassStm(StreamOf({bytes.begin(), bytes.end() - 1}).Get(), &back), STG_E_READFAULT);
  EXPECT_EQ(back, CLSID_NULL);
  vkr::ComPtr<vkr::ComObject<LimitedStream>> limited;
  ASSERT_EQ(vkr::MakeObject<LimitedStream>(&limited), S_OK);
  limited->limit = 10;
  limited->shortWrite = true;
  EXPECT_EQ(WriteClassStm(limited.Get(), kSample), STG_E_MEDIUMFULL);
}

TEST(OleStreams, NullObjectsAndWhatCannotBeLoaded) {
  PersistableClasses classes;
  auto s = EmptyStream();
  EXPECT_EQ(OleSaveToStream(nullptr, s.Get()), OLE_E_BLANK);
  EXPECT_EQ(BytesOf(s.Get()), std::vector<BYTE>(16, 0));

  auto join = [](std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<BYTE> text = TextObjectBytes("abc");
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    IID iid;
    HRESULT hr;
  } cases[] = {
      {"CLSID_NULL names no class", std::vector<BYTE>(16, 0), IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"class id cut short", {1, 2, 3}, IID_IUnknown, STG_E_READFAULT},
      {"class not registered", join(ClassIdBytes(IID_IStream), text), IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"no stream persistence", join(ClassIdBytes(kPlainTextClass), text), IID_IUnknown, E_NOINTERFACE},
      {"object's bytes cut short", join(ClassIdBytes(kStreamTextClass), {3, 0, 0, 0}), IID_IUnknown, E_FAIL},
      {"interface the object lacks", join(ClassIdBytes(kStreamTextClass), text), IID_IStream, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(OleLoadFromStream(StreamOf(c.bytes).Get(), c.iid, &object), c.hr) << c.what;
    EXPECT_EQ(object, nullptr) << c.what;
  }
}

}  // namespace

// Class ids and objects in streams: the bytes WriteClassStm and OleSaveToStream write, and what
// OleLoadFromStream creates from them or answers when it cannot.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/persistable_objects.h"
#include "tests/support/test_streams.h"

namespace {

using namespace vkr::test;

constexpr CLSID kSample = vkr::MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");
const std::vector<BYTE> kSampleBytes = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

std::vector<BYTE> ClassBytes(REFCLSID clsid) {
  auto s = EmptyStream();
  EXPECT_EQ(WriteClassStm(s.Get(), clsid), S_OK);
  return BytesOf(s.Get());
}

std::vector<BYTE> Join(std::initializer_list<std::vector<BYTE>> parts) {
  std::vector<BYTE> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ClassStm, SixteenBytesInTheWindowsLayout) {
  EXPECT_EQ(ClassBytes(kSample), kSampleBytes);
  EXPECT_EQ(ClassBytes(CLSID_NULL), std::vector<BYTE>(16, 0));
  CLSID back{};
  ASSERT_EQ(ReadClassStm(StreamOf(kSampleBytes).Get(), &back), S_OK);
  EXPECT_EQ(back, kSample);

  // A stream that ends first, or takes fewer bytes, fails; the class id is left alone.
  back = kStreamTextClass;
  EXPECT_EQ(ReadClassStm(StreamOf({kSampleBytes.begin(), kSampleBytes.end() - 1}).Get(), &back), STG_E_READFAULT);
  EXPECT_EQ(back, kStreamTextClass);
  for (bool shortWrite : {false, true}) {
    vkr::ComPtr<vkr::ComObject<LimitedStream>> limited;
    ASSERT_EQ(vkr::MakeObject<LimitedStream>(&limited), S_OK);
    limited->limit = 10;
    limited->shortWrite = shortWrite;
    EXPECT_EQ(WriteClassStm(limited.Get(), kSample), STG_E_MEDIUMFULL) << shortWrite;
  }
  EXPECT_EQ(WriteClassStm(nullptr, kSample), E_INVALIDARG);
  EXPECT_EQ(ReadClassStm(nullptr, &back), E_INVALIDARG);
  EXPECT_EQ(ReadClassStm(StreamOf(kSampleBytes).Get(), nullptr), E_INVALIDARG);
}

class OleStreams : public testing::Test {
 protected:
  PersistableClasses classes;
};

TEST_F(OleStreams, AnObjectComesBackFromItsClassIdAndItsOwnBytes) {
  auto s = EmptyStream();
  auto saved = MakeTextObject<StreamTextObject, IPersistStream>("tank 1");
  ASSERT_EQ(OleSaveToStream(saved.Get(), s.Get()), S_OK);
  EXPECT_EQ(saved->IsDirty(), S_FALSE);  // saved with fClearDirty
  const std::vector<BYTE> bytes = BytesOf(s.Get());
  EXPECT_EQ(bytes, Join({ClassIdBytes(kStreamTextClass), TextObjectBytes("tank 1")}));

  // Each class by its own persistence; the stream is left right after the object.
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    IID iid;
  } cases[] = {
      {"IPersistStream, as IUnknown", bytes, IID_IUnknown},
      {"IPersistStream, as IDispatch", bytes, IID_IDispatch},
      {"IPersistStreamInit only", Join({ClassIdBytes(kInitTextClass), TextObjectBytes("init")}), IID_IUnknown},
  };
  for (const Case& c : cases) {
    auto in = StreamOf(Join({c.bytes, {0xEE}}));
    void* object = nullptr;
    ASSERT_EQ(OleLoadFromStream(in.Get(), c.iid, &object), S_OK) << c.what;
    vkr::ComPtr<IUnknown> loaded;
    loaded.Attach(static_cast<IUnknown*>(object));
    EXPECT_EQ(TextOf(loaded.Get()), c.bytes == bytes ? "tank 1" : "init") << c.what;
    EXPECT_FALSE(loaded.IsSameObject(saved.Get())) << c.what;
    EXPECT_EQ(PositionOf(in.Get()), c.bytes.size()) << c.what;
  }
}

TEST_F(OleStreams, ANullObjectIsTheNullClassIdAndNamesNoClass) {
  auto s = EmptyStream();
  EXPECT_EQ(OleSaveToStream(nullptr, s.Get()), OLE_E_BLANK);
  EXPECT_EQ(BytesOf(s.Get()), std::vector<BYTE>(16, 0));
  const int created = StreamTextObject::Created();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(OleLoadFromStream(StreamOf(std::vector<BYTE>(16, 0)).Get(), IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(StreamTextObject::Created(), created);
}

TEST_F(OleStreams, WhatCannotBeLoadedIsAnsweredAndNothingHandedOut) {
  const std::vector<BYTE> text = TextObjectBytes("abc");
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    IID iid;
    HRESULT hr;
  } cases[] = {
      {"class id cut short", {1, 2, 3}, IID_IUnknown, STG_E_READFAULT},
      {"class not registered", Join({kSampleBytes, text}), IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"class without stream persistence", Join({ClassIdBytes(kPlainTextClass), text}), IID_IUnknown, E_NOINTERFACE},
      {"object bytes cut short", Join({ClassIdBytes(kStreamTextClass), {3, 0, 0, 0, 'a'}}), IID_IUnknown, E_FAIL},
      {"interface the object lacks", Join({ClassIdBytes(kStreamTextClass), text}), IID_IPersistPropertyBag,
       E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(OleLoadFromStream(StreamOf(c.bytes).Get(), c.iid, &object), c.hr) << c.what;
    EXPECT_EQ(object, nullptr) << c.what;
  }
  EXPECT_EQ(OleLoadFromStream(StreamOf(text).Get(), IID_IUnknown, nullptr), E_POINTER);
  void* object = nullptr;
  EXPECT_EQ(OleLoadFromStream(nullptr, IID_IUnknown, &object), E_INVALIDARG);
  EXPECT_EQ(OleSaveToStream(nullptr, nullptr), E_INVALIDARG);

  // A save that fails leaves the class id and what the object wrote, as Windows does.
  auto failing = MakeTextObject<StreamTextObject, IPersistStream>("xyz");
  vkr::ComPtr<ITextObject> control;
  ASSERT_EQ(failing.As(&control), S_OK);
  control->FailSave() = true;
  auto s = EmptyStream();
  EXPECT_EQ(OleSaveToStream(failing.Get(), s.Get()), E_FAIL);
  EXPECT_EQ(BytesOf(s.Get()), Join({ClassIdBytes(kStreamTextClass), {3, 0, 0, 0}}));
}

}  // namespace

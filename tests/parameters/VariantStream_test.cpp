// Stored values in the data-set stream: read from hand-built bytes, and a write that fails.
#include <gtest/gtest.h>

#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/VariantStream.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

using Bytes_t = std::vector<BYTE>;

vkr::ComPtr<IStream> StreamOf(const Bytes_t& bytes) {
  vkr::ComPtr<IStream> stream;
  EXPECT_EQ(vkr::CreateMemoryStream(bytes.data(), bytes.size(), stream.Put()), S_OK);
  return stream;
}

// VARTYPE, then a stored text of the given UTF-16 units and its zero.
Bytes_t StoredText(VARTYPE vt, std::u16string_view text) {
  Bytes_t b{static_cast<BYTE>(vt & 0xFF), static_cast<BYTE>(vt >> 8)};
  const ULONG count = static_cast<ULONG>(text.size() * 2 + 2);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(count >> (8 * i)));
  for (char16_t c : text) {
    b.push_back(static_cast<BYTE>(c & 0xFF));
    b.push_back(static_cast<BYTE>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

TEST(ReadVariantFromStream, StoredValues) {
  struct Case {
    const char* what;
    Bytes_t bytes;
    vkr::Variant expected;
  };
  const Case cases[] = {
      {"byte", {0x11, 0x00, 0x2A}, UI1(42)},
      {"boolean", {0x0B, 0x00, 0xFF, 0xFF}, Bool(true)},
      {"32-bit", {0x03, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}, I4(-2)},
      {"unsigned 32-bit", {0x13, 0x00, 0x4B, 0x04, 0x00, 0x00}, UI4(1099)},
      {"double", {0x05, 0x00, 0, 0, 0, 0, 0, 0, 0x04, 0x40}, R8(2.5)},
      {"text", StoredText(VT_BSTR, u"ab"), Text(u"ab")},
      {"empty text has a count of 2", StoredText(VT_BSTR, u""), Text(u"")},
      {"null text has a count of 0", {0x08, 0x00, 0, 0, 0, 0}, Text(nullptr)},
      {"bytes as hex", StoredText(VT_ARRAY | VT_UI1, u"03AB"), Bytes({0x03, 0xAB})},
      {"a decimal as its text", StoredText(VT_DECIMAL, u"1.5"), Dec(false, 1, 15)},
      {"empty", StoredText(VT_EMPTY, u""), vkr::Variant()},
  };
  for (const Case& c : cases) {
    vkr::Variant v = I4(99);
    ASSERT_EQ(ReadVariantFromStream(StreamOf(c.bytes).Get(), &v), S_OK) << c.what;
    EXPECT_EQ(v.vt, c.expected.vt) << c.what;
    if (c.expected.vt == VT_DECIMAL)
      EXPECT_EQ(VarCmp(&v, const_cast<vkr::Variant*>(&c.expected), 0, 0), VARCMP_EQ) << c.what;
    else
      EXPECT_TRUE(IsVariantEqual(v, c.expected)) << c.what;
  }
  // Values follow each other without gaps.
  Bytes_t two = StoredText(VT_BSTR, u"x");
  for (BYTE b : Bytes_t{0x12, 0x00, 0x34, 0x12}) two.push_back(b);
  auto stream = StreamOf(two);
  vkr::Variant v;
  ASSERT_EQ(ReadVariantFromStream(stream.Get(), &v), S_OK);
  ASSERT_EQ(ReadVariantFromStream(stream.Get(), &v), S_OK);
  EXPECT_TRUE(IsVariantEqual(v, UI2(0x1234)));
  // A null object is its VARTYPE and the class id CLSID_NULL.
  Bytes_t nullObject{0x0D, 0x00};
  nullObject.resize(18, 0);
  ASSERT_EQ(ReadVariantFromStream(StreamOf(nullObject).Get(), &v), S_OK);
  EXPECT_EQ(v.vt, VT_UNKNOWN);
  EXPECT_EQ(v.punkVal, nullptr);
}

TEST(ReadVariantFromStream, BadStreamsChangeNothing) {
  struct Case {
    const char* what;
    Bytes_t bytes;
    HRESULT hr;
  };
  const Case cases[] = {
      {"nothing", {}, E_FAIL},
      {"half a VARTYPE", {0x03}, E_FAIL},
      {"short number", {0x03, 0x00, 1, 2}, E_FAIL},
      {"short count", {0x08, 0x00, 4, 0}, E_FAIL},
      {"odd count", {0x08, 0x00, 3, 0, 0, 0, 'a', 0, 0}, E_FAIL},
      {"no terminating zero", {0x08, 0x00, 4, 0, 0, 0, 'a', 0, 'b', 0}, E_FAIL},
      {"a count the stream cannot back", {0x08, 0x00, 0xF0, 0xFF, 0xFF, 0x7F, 'a', 0}, E_FAIL},
      {"bad hex", StoredText(VT_ARRAY | VT_UI1, u"0G"), E_INVALIDARG},
      {"a number text that is none", StoredText(VT_DECIMAL, u"four"), DISP_E_TYPEMISMATCH},
      {"an object whose class id is cut short", {0x0D, 0x00, 0, 0, 0, 0}, E_FAIL},
  };
  for (const Case& c : cases) {
    vkr::Variant v = I4(99);
    EXPECT_EQ(ReadVariantFromStream(StreamOf(c.bytes).Get(), &v), c.hr) << c.what;
    EXPECT_TRUE(IsVariantEqual(v, I4(99))) << c.what;
  }
  vkr::Variant v;
  EXPECT_EQ(ReadVariantFromStream(nullptr, &v), E_POINTER);
  EXPECT_EQ(ReadVariantFromStream(StreamOf({0x03, 0x00, 1, 0, 0, 0}).Get(), nullptr), E_POINTER);
}

// An object whose stream persistence fails in GetClassID, or in Save after it wrote part of its
// bytes.
class FailingObject : public vkr::Implements<IPersistStream> {
 public:
  bool classIdFails = false;
  HRESULT GetClassID(CLSID* out) override {
    if (classIdFails) return E_UNEXPECTED;
    *out = vkr::MakeGuid("0E7A2C55-6B1D-4F3E-9A08-31C5D2E4F601");
    return S_OK;
  }
  HRESULT IsDirty() override { return S_OK; }
  HRESULT Load(IStream*) override { return E_NOTIMPL; }
  HRESULT Save(IStream* stream, BOOL) override {
    const BYTE part[3] = {1, 2, 3};
    stream->Write(part, sizeof part, nullptr);
    return STG_E_MEDIUMFULL;
  }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
};

// The whole of a stream and where it stands.
std::pair<Bytes_t, ULONGLONG> Contents(IStream* stream) {
  LARGE_INTEGER none{};
  ULARGE_INTEGER at{};
  stream->Seek(none, STREAM_SEEK_CUR, &at);
  STATSTG st{};
  stream->Stat(&st, STATFLAG_NONAME);
  Bytes_t bytes(static_cast<std::size_t>(st.cbSize.QuadPart));
  stream->Seek(none, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  LARGE_INTEGER back{};
  back.QuadPart = static_cast<LONGLONG>(at.QuadPart);
  stream->Seek(back, STREAM_SEEK_SET, nullptr);
  return {bytes, at.QuadPart};
}

// An object that cannot be saved fails the value and leaves the data-set stream byte-equal (no
// VARTYPE, class id or part of the object's bytes), at the same place, for the next value.
TEST(WriteStoredVariant, AnObjectThatCannotBeSavedLeavesTheStreamAsItWas) {
  for (const bool classIdFails : {true, false}) {
    SCOPED_TRACE(classIdFails ? "GetClassID fails" : "Save fails");
    vkr::ComPtr<vkr::ComObject<FailingObject>> object;
    ASSERT_EQ(vkr::MakeObject<FailingObject>(&object), S_OK);
    object->classIdFails = classIdFails;
    vkr::ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    ASSERT_EQ(vkr::WriteStoredVariant(stream.Get(), UI2(0x1234)), S_OK);
    const auto before = Contents(stream.Get());
    vkr::Variant value;
    value.vt = VT_UNKNOWN;
    value.punkVal = static_cast<IPersistStream*>(object.Get());
    value.punkVal->AddRef();
    EXPECT_EQ(vkr::WriteStoredVariant(stream.Get(), value), classIdFails ? E_UNEXPECTED : STG_E_MEDIUMFULL);
    EXPECT_EQ(Contents(stream.Get()), before);
  }
}

}  // namespace

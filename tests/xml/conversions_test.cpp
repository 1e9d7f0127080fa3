// Hex text, BSTR formatting, text helpers, GUID text, VARTYPE names, path parts and records.
#include "xml/Conversions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/counting_unknown.h"
#include "xml/UtilityRecords.h"

namespace {

using vkr::Bstr;
using vkr::Variant;

// A one-dimensional VT_ARRAY|VT_UI1 holding bytes, with the given lower bound.
Variant ByteArray(const std::vector<BYTE>& bytes, LONG lowerBound = 0) {
  Variant v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, lowerBound, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
  SafeArrayUnaccessData(v.parray);
  return v;
}

std::vector<BYTE> BytesOf(const VARIANT& v) {
  std::vector<BYTE> out(v.parray->rgsabound[0].cElements);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (!out.empty()) std::copy_n(static_cast<const BYTE*>(data), out.size(), out.begin());
  SafeArrayUnaccessData(v.parray);
  return out;
}

// ---- Hex text. ----

TEST(HexText, BytesGiveUpperCaseTwoDigitsEach) {
  const BYTE bytes[] = {0x00, 0x1F, 0xA0};
  Bstr hex;
  ASSERT_EQ(BytesToHexString(bytes, 3, hex.Put()), S_OK);
  EXPECT_EQ(hex.View(), u"001FA0");

  Bstr fromArray;
  Variant v = ByteArray({0xDE, 0xAD, 0xBE, 0xEF}, 5);  // the lower bound is not used
  ASSERT_EQ(ByteArrayToHexString(&v, fromArray.Put(), FALSE), S_OK);
  EXPECT_EQ(fromArray.View(), u"DEADBEEF");

  Variant empty = ByteArray({});
  ASSERT_EQ(ByteArrayToHexString(&empty, fromArray.Put(), FALSE), S_OK);
  EXPECT_EQ(fromArray.View(), u"");
}

TEST(HexText, LowerCaseInputReadsBack) {
  BYTE buffer[3] = {};
  EXPECT_EQ(HexStringToBytes(Bstr(u"001fa0"), buffer, 3), 3);
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(buffer[1], 0x1F);
  EXPECT_EQ(buffer[2], 0xA0);

  Variant v;
  ASSERT_EQ(HexStringToByteArray(&v, Bstr(u"aBcD01"), FALSE), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  LONG lower = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(BytesOf(v), (std::vector<BYTE>{0xAB, 0xCD, 0x01}));
}

TEST(HexText, BadTextIsRefusedAndNothingIsWritten) {
  const struct {
    const char16_t* text;
    ULONG capacity;
  } cases[] = {
      {u"ABC", 8},     // odd length
      {u"0G", 8},      // not a hex digit
      {u"12 4", 8},    // a blank inside
      {u"0x12", 8},    // a prefix is no digit
      {u"AABBCC", 2},  // more bytes than room
      {u"\u0661\u0662", 8},  // digits of another script
  };
  for (const auto& c : cases) {
    BYTE buffer[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(HexStringToBytes(Bstr(c.text), buffer, c.capacity), -1) << vkr::Utf16ToUtf8(c.text);
    for (BYTE b : buffer) EXPECT_EQ(b, 0x55) << vkr::Utf16ToUtf8(c.text);
  }
  for (const char16_t* text : {u"ABC", u"0G", u"1-"}) {
    Variant v;
    v.vt = VT_I4;
    v.lVal = 42;
    EXPECT_EQ(HexStringToByteArray(&v, Bstr(text), TRUE), E_INVALIDARG) << vkr::Utf16ToUtf8(text);
    EXPECT_EQ(v.vt, VT_I4);  // the old value stays
    EXPECT_EQ(v.lVal, 42);
  }
  // A BSTR is read to its length: a NUL inside is a character that is no hex digit.
  const Bstr withNul(std::u16string(u"AB\0C", 4));
  BYTE buffer[8] = {0x55, 0x55};
  EXPECT_EQ(HexStringToBytes(withNul.Get(), buffer, 8), -1);
  EXPECT_EQ(buffer[0], 0x55);
  Variant array;
  EXPECT_EQ(HexStringToByteArray(&array, withNul.Get(), FALSE), E_INVALIDARG);
  EXPECT_EQ(HexStringToBytes(Bstr(u"00"), nullptr, 4), -1);
  EXPECT_EQ(HexStringToBytes(nullptr, nullptr, 0), 0);
  EXPECT_EQ(HexStringToByteArray(nullptr, Bstr(u"00"), FALSE), E_POINTER);
}

TEST(HexText, EmptyTextGivesEmptyVariantOrEmptyArray) {
  Variant v;
  v.vt = VT_I4;
  EXPECT_EQ(HexStringToByteArray(&v, nullptr, FALSE), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  ASSERT_EQ(HexStringToByteArray(&v, Bstr(u""), TRUE), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(v.parray->rgsabound[0].cElements, 0u);
}

TEST(HexText, ArrayToHexRefusesOtherShapes) {
  Bstr hex;
  Variant i4;
  i4.vt = VT_I4;
  EXPECT_EQ(ByteArrayToHexString(&i4, hex.Put(), FALSE), E_INVALIDARG);
  ASSERT_EQ(ByteArrayToHexString(&i4, hex.Put(), TRUE), S_OK);
  EXPECT_NE(hex.Get(), nullptr);
  EXPECT_EQ(hex.View(), u"");

  Variant twoDims;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  twoDims.vt = VT_ARRAY | VT_UI1;
  twoDims.parray = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(ByteArrayToHexString(&twoDims, hex.Put(), TRUE), E_INVALIDARG);

  VARIANT nullArray;
  VariantInit(&nullArray);
  nullArray.vt = VT_ARRAY | VT_UI1;
  nullArray.parray = nullptr;
  EXPECT_EQ(ByteArrayToHexString(&nullArray, hex.Put(), FALSE), E_UNEXPECTED);

  EXPECT_EQ(ByteArrayToHexString(nullptr, hex.Put(), FALSE), E_POINTER);
  EXPECT_EQ(ByteArrayToHexString(&i4, nullptr, FALSE), E_POINTER);
  const BYTE one = 1;
  EXPECT_EQ(BytesToHexString(&one, 0, hex.Put()), E_INVALIDARG);
  EXPECT_EQ(BytesToHexString(nullptr, 1, hex.Put()), E_POINTER);
}

TEST(HexText, RoundTripOfEveryByteValue) {
  std::vector<BYTE> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
  Bstr hex;
  ASSERT_EQ(BytesToHexString(all.data(), 256, hex.Put()), S_OK);
  ASSERT_EQ(hex.Length(), 512u);
  Variant back;
  ASSERT_EQ(HexStringToByteArray(&back, hex, FALSE), S_OK);
  EXPECT_EQ(BytesOf(back), all);
}

// ---- BstrFormat. ----

TEST(BstrFormat, WindowsRulesAndNullStrings) {
  Bstr out;
  ASSERT_EQ(BstrFormat(out.Put(), u"%s|%S|%08X|%d|%.3f|%I64u|%%", u"wide", "narrow", 0xBEEFu, -7, 1.5,
                       static_cast<ULONGLONG>(1) << 40),
            S_OK);
  EXPECT_EQ(out.View(), u"wide|narrow|0000BEEF|-7|1.500|1099511627776|%");
  // A null BSTR is COM's empty text; documents must never receive "(null)".
  ASSERT_EQ(BstrFormat(out.Put(), u"<a tag=\"%s\"/>", static_cast<BSTR>(nullptr)), S_OK);
  EXPECT_EQ(out.View(), u"<a tag=\"\"/>");
}

TEST(BstrFormat, LongOutputFitsUpToTheLimit) {
  const std::u16string long600(600, u'x');
  Bstr out;
  ASSERT_EQ(BstrFormat(out.Put(), u"%s", long600.c_str()), S_OK);
  EXPECT_EQ(out.Length(), 600u);

  const std::u16string justFits(0x80000 - 1, u'y');
  ASSERT_EQ(BstrFormat(out.Put(), u"%s", justFits.c_str()), S_OK);
  EXPECT_EQ(out.Length(), 0x80000u - 1);

  const std::u16string tooLong(0x80000, u'z');
  BSTR untouched = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(BstrFormat(&untouched, u"%s", tooLong.c_str()), E_FAIL);
  EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1));
}

TEST(BstrFormat, RefusesBadArguments) {
  Bstr out;
  EXPECT_EQ(BstrFormat(nullptr, u"x"), E_POINTER);
  EXPECT_EQ(BstrFormat(out.Put(), nullptr), E_INVALIDARG);
  int n = 0;
  EXPECT_EQ(BstrFormat(out.Put(), u"ab%n", &n), E_FAIL);
  EXPECT_EQ(n, 0);
}

// ---- Text helpers. ----

TEST(TextHelpers, RemoveCharactersDropsTheSet) {
  BSTR text = SysAllocString(u"a-b c");
  ASSERT_EQ(RemoveCharacters(&text, u" -"), S_OK);
  EXPECT_EQ(vkr::View(text), u"abc");
  ASSERT_EQ(RemoveCharacters(&text, nullptr), S_OK);
  EXPECT_EQ(vkr::View(text), u"abc");
  SysFreeString(text);
  BSTR empty = nullptr;
  EXPECT_EQ(RemoveCharacters(&empty, u"x"), S_OK);
  EXPECT_EQ(empty, nullptr);
  EXPECT_EQ(RemoveCharacters(nullptr, u"x"), E_POINTER);
}

TEST(TextHelpers, ToLowerTextFoldsAsciiLetters) {
  BSTR text = SysAllocString(u"HTTP://Server/ÄB");
  ASSERT_EQ(ToLowerText(&text), S_OK);
  EXPECT_EQ(vkr::View(text), u"http://server/Äb");
  SysFreeString(text);
  EXPECT_EQ(ToLowerText(nullptr), E_POINTER);
}

TEST(TextHelpers, VariantToBstrCopiesText) {
  Bstr out;
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"text");
  ASSERT_EQ(VariantToBstr(&v, out.Put()), S_OK);
  EXPECT_EQ(out.View(), u"text");
  EXPECT_NE(out.Get(), v.bstrVal);
  Variant nullText;
  nullText.vt = VT_BSTR;
  nullText.bstrVal = nullptr;
  ASSERT_EQ(VariantToBstr(&nullText, out.Put()), S_OK);
  EXPECT_EQ(out.Get(), nullptr);
  Variant number;
  number.vt = VT_I4;
  number.lVal = -42;
  ASSERT_EQ(VariantToBstr(&number, out.Put()), S_OK);
  EXPECT_EQ(out.View(), u"-42");
  Variant null;
  null.vt = VT_NULL;
  EXPECT_EQ(VariantToBstr(&null, out.Put()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(out.Get(), nullptr);
  EXPECT_EQ(VariantToBstr(nullptr, out.Put()), E_POINTER);
  EXPECT_EQ(VariantToBstr(&v, nullptr), E_POINTER);
}

TEST(TextHelpers, MakeStringArrayVariantStopsAtTheFirstEmptyString) {
  const LPCWSTR list[] = {u"one", u"two", u"", u"never"};
  Variant v;
  *v.Put() = MakeStringArrayVariant(list);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(v.parray->rgsabound[0].cElements, 2u);
  for (LONG i = 0; i < 2; ++i) {
    Bstr element;
    ASSERT_EQ(SafeArrayGetElement(v.parray, &i, element.Put()), S_OK);
    EXPECT_EQ(element.View(), list[i]);
  }
  const LPCWSTR none[] = {u""};
  *v.Put() = MakeStringArrayVariant(none);
  EXPECT_EQ(v.vt, VT_EMPTY);
  *v.Put() = MakeStringArrayVariant(nullptr);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

// ---- GUIDs. ----

TEST(GuidText, RegistryFormWithoutBraces) {
  constexpr GUID id = vkr::MakeGuid("036d1487-387b-11d4-86e1-00e0987270b9");
  Bstr text;
  ASSERT_EQ(GuidToString(&id, text.Put()), S_OK);
  EXPECT_EQ(text.View(), u"036D1487-387B-11D4-86E1-00E0987270B9");
  EXPECT_EQ(GuidToString(nullptr, text.Put()), E_POINTER);
  EXPECT_EQ(GuidToString(&id, nullptr), E_POINTER);
}

TEST(GuidText, NewGuidsAreDistinctAndWellFormed) {
  Bstr a, b;
  ASSERT_EQ(CreateGuidString(a.Put()), S_OK);
  ASSERT_EQ(CreateGuidString(b.Put()), S_OK);
  EXPECT_NE(a.View(), b.View());
  ASSERT_EQ(a.Length(), 36u);
  GUID parsed{};
  EXPECT_TRUE(GUIDFromStringW(a, &parsed));
  for (char16_t c : a.View()) EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || c == u'-');
  EXPECT_EQ(CreateGuidString(nullptr), E_INVALIDARG);
}

// ---- VARTYPE names. ----

TEST(VarTypeNames, NamesFlagsAndUnknownTypes) {
  const struct {
    VARTYPE vt;
    const char16_t* name;
  } cases[] = {
      {VT_UI4 | VT_ARRAY, u"VT_UI4 | VT_ARRAY"},
      {VT_BLOB_OBJECT, u"VT_BLOB_OBJECT"},
      {VT_DISPATCH, u"Unknown (9)"},
      {VT_EMPTY, u"VT_EMPTY"},
      {VT_BSTR | VT_VECTOR | VT_ARRAY | VT_RESERVED, u"VT_BSTR | VT_VECTOR | VT_ARRAY | VT_RESERVED"},
      {VT_UNKNOWN | VT_BYREF, u"Unknown (13)"},  // VT_BYREF has no name
  };
  for (const auto& c : cases) {
    BSTR name = nullptr;
    VarTypeToString(c.vt, &name);
    EXPECT_EQ(vkr::View(name), c.name) << c.vt;
    SysFreeString(name);
  }
  VarTypeToString(VT_I4, nullptr);  // does nothing
}

TEST(VarTypeNames, EveryNamedTypeReadsBack) {
  for (VARTYPE base = 0; base < 0x100; ++base)
    for (int flags : {0, int{VT_ARRAY}, VT_VECTOR | VT_RESERVED}) {
      const VARTYPE vt = static_cast<VARTYPE>(base | flags);
      Bstr name;
      VarTypeToString(vt, name.Put());
      if (name.View().starts_with(u"Unknown")) continue;
      VARTYPE back = 0xFFFF;
      VarTypeFromString(name, &back);
      EXPECT_EQ(back, vt) << vkr::Utf16ToUtf8(name.View());
    }
  VARTYPE vt = 0xFFFF;
  VarTypeFromString(nullptr, &vt);
  EXPECT_EQ(vt, VT_EMPTY);
  VarTypeFromString(Bstr(u"no type here"), &vt);
  EXPECT_EQ(vt, VT_EMPTY);
  VarTypeFromString(Bstr(u"VT_ARRAY"), &vt);
  EXPECT_EQ(vt, VT_EMPTY | VT_ARRAY);
}

// ---- Paths. ----

TEST(PathParts, DirectoryAndFileName) {
  const struct {
    const char16_t* path;
    const char16_t* directory;
    const char16_t* file;  // null: no file name
  } cases[] = {
      {u"C:\\dtm\\bin\\module.dll", u"C:\\dtm\\bin\\", u"module.dll"},
      {u"/opt/vkr/lib/module.so", u"/opt/vkr/lib/", u"module.so"},
      {u"mixed\\dir/file.xml", u"mixed\\dir/", u"file.xml"},
      {u"bare.xml", u"", u"bare.xml"},
      {u"C:\\dir\\", u"C:\\dir\\", nullptr},
      {u"", u"", nullptr},
  };
  for (const auto& c : cases) {
    Bstr dir, file;
    dir.Attach(DirectoryOfPath(c.path));
    file.Attach(FileNameOfPath(c.path));
    EXPECT_NE(dir.Get(), nullptr);
    EXPECT_EQ(dir.View(), c.directory) << vkr::Utf16ToUtf8(c.path);
    if (c.file)
      EXPECT_EQ(file.View(), c.file) << vkr::Utf16ToUtf8(c.path);
    else
      EXPECT_EQ(file.Get(), nullptr) << vkr::Utf16ToUtf8(c.path);
  }
}

TEST(PathParts, RelativeOrNot) {
  const struct {
    const char16_t* path;
    BOOL relative;
  } cases[] = {
      {u"file.xml", TRUE},
      {u"sub\\file.xml", TRUE},
      {u"sub/file.xml", TRUE},
      {u"..\\up.xml", TRUE},
      {u"", TRUE},
      {u"C:\\x\\file.xml", FALSE},
      {u"c:/x/file.xml", FALSE},
      {u"HTTP://host/x", FALSE},
      {u"http://host/x", FALSE},
      {u"Ftp://host/x", FALSE},
      {u"FILE://c/x", FALSE},
      // Rooted paths name their place themselves.
      {u"\\dir\\file.xml", FALSE},
      {u"\\\\server\\share\\file.xml", FALSE},
      {u"/opt/vkr/file.xml", FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRelativePath(c.path), c.relative) << vkr::Utf16ToUtf8(c.path);
}

// ---- Records. ----

TEST(Records, ConnectionRecordsReleaseWhatTheyOwn) {
  vkr::test::CountingUnknown connection;
  {
    ConnectionRecord record;
    connection.AddRef();
    record.m_pConnection = &connection;
    record.m_bsProtocolId = SysAllocString(u"036D1498-387B-11D4-86E1-00E0987270B9");
    record.m_bsConnectionId = SysAllocStringLen(u"id\0with zero", 12);
    Bstr text;
    ASSERT_EQ(record.GetRecordText(text.Put()), S_OK);
    EXPECT_EQ(text.Length(), 12u);
    EXPECT_EQ(text.View(), std::u16string_view(u"id\0with zero", 12));
    EXPECT_EQ(record.GetRecordText(nullptr), E_FAIL);
    ConnectionRecord empty;
    ASSERT_EQ(empty.GetRecordText(text.Put()), S_OK);
    EXPECT_EQ(text.Get(), nullptr);
  }
  EXPECT_EQ(connection.refs, 1);

  {
    ConnectionEntry entry;
    connection.AddRef();
    entry.m_pConnection = &connection;
    entry.m_bsProtocolId = SysAllocString(u"proto");
    entry.m_bOnline = true;
    ConnectionEntry copy;
    ASSERT_EQ(copy.CopyFrom(entry), S_OK);
    EXPECT_EQ(connection.refs, 3);
    EXPECT_EQ(vkr::View(copy.m_bsProtocolId), u"proto");
    EXPECT_NE(copy.m_bsProtocolId, entry.m_bsProtocolId);
    EXPECT_EQ(copy.m_bsConnectionId, nullptr);
    EXPECT_TRUE(copy.m_bOnline);
  }
  EXPECT_EQ(connection.refs, 1);
}

TEST(Records, DeleteOwnedObjectsDeletesFrontToBack) {
  struct Base {
    virtual ~Base() = default;
  };
  static std::vector<int> order;
  struct Tracked : Base {
    explicit Tracked(int n) : n(n) {}
    ~Tracked() override { order.push_back(n); }
    int n;
  };
  order.clear();
  std::vector<Base*> objects{new Tracked(1), new Tracked(2), new Tracked(3)};
  DeleteOwnedObjects(objects);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(objects.empty());
  EXPECT_EQ(objects.capacity(), 0u);

  CByteBuffer none(0), some(16);
  EXPECT_EQ(none.Get(), nullptr);
  ASSERT_NE(some.Get(), nullptr);
  EXPECT_EQ(TraceNothing("text"), 0);
  EXPECT_EQ(TraceNothing("%d in %s", 3, "file.h", 12), 0);
}

}  // namespace

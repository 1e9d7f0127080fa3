// The registry file format: what parses, what is refused with which line, and that writing and
// reading again never changes a value.
#include "platform/win/registry_store.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using vkr::platform::Hive;
using vkr::platform::ParseRegistryText;
using vkr::platform::RegistryParseError;
using vkr::platform::RegKey;
using vkr::platform::RegTree;
using vkr::platform::RegValue;
using vkr::platform::WriteRegistryText;

std::vector<BYTE> Utf16Bytes(std::u16string_view s) {
  std::vector<BYTE> out;
  for (char16_t c : s) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  return out;
}

const RegKey* Path(const RegTree& tree, Hive hive, std::initializer_list<std::u16string_view> names) {
  const RegKey* k = &tree.Root(hive);
  for (auto n : names) {
    if (!k) return nullptr;
    k = const_cast<RegKey*>(k)->FindSubkey(n);
  }
  return k;
}

bool SameKey(const RegKey& a, const RegKey& b) {
  if (a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    if (a.values[i].name != b.values[i].name || a.values[i].type != b.values[i].type ||
        a.values[i].data != b.values[i].data)
      return false;
  }
  auto ia = a.subkeys.begin();
  for (auto ib = b.subkeys.begin(); ib != b.subkeys.end(); ++ia, ++ib)
    if (ia->first != ib->first || !SameKey(*ia->second, *ib->second)) return false;
  return true;
}

TEST(RegistryFile, ReadsEveryDataForm) {
  const char* text =
      "\xEF\xBB\xBFVKR Registry 1\r\n"
      "; comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorntec\\VKR Series DTM]\r\n"
      "\"CommLogging\"=dword:1\r\n"
      "@=\"default \\\"quoted\\\" \\\\ text\"\r\n"
      "  \"Exp\" = expand:\"%TEMP%\\\\x\"  \r\n"
      "\"Multi\"=multi:\"a\", \"b c\"\r\n"
      "\"None\"=multi:\r\n"
      "\"Q\"=qword:0102030405060708\r\n"
      "\"Bin\"=hex:00,ff, 10\r\n"
      "\"Raw\"=hex(0):\r\n"
      "\"Grüße\"=\"Ärger\"\r\n"
      "# another comment\r\n"
      "[HKCR\\CLSID]\r\n"
      "[hkcu\\Software]\r\n";
  RegTree tree;
  RegistryParseError error;
  ASSERT_TRUE(ParseRegistryText(text, &tree, &error)) << error.line << ": " << error.reason;
  const RegKey* dtm = Path(tree, Hive::Machine, {u"software", u"VORNTEC", u"vkr series dtm"});
  ASSERT_NE(dtm, nullptr);
  ASSERT_EQ(dtm->values.size(), 9u);
  EXPECT_EQ(dtm->values[0].type, 4u);
  EXPECT_EQ(dtm->values[0].data, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_EQ(dtm->values[1].name, u"");
  std::vector<BYTE> expected = Utf16Bytes(u"default \"quoted\" \\ text");
  expected.insert(expected.end(), {0, 0});
  EXPECT_EQ(dtm->values[1].data, expected);
  EXPECT_EQ(dtm->values[2].type, 2u);
  expected = Utf16Bytes(u"a");
  expected.insert(expected.end(), {0, 0});
  auto b = Utf16Bytes(u"b c");
  expected.insert(expected.end(), b.begin(), b.end());
  expected.insert(expected.end(), {0, 0, 0, 0});
  EXPECT_EQ(dtm->values[3].type, 7u);
  EXPECT_EQ(dtm->values[3].data, expected);
  EXPECT_EQ(dtm->values[4].data, (std::vector<BYTE>{0, 0}));
  EXPECT_EQ(dtm->values[5].data, (std::vector<BYTE>{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(dtm->values[6].data, (std::vector<BYTE>{0, 0xFF, 0x10}));
  EXPECT_EQ(dtm->values[7].type, 0u);
  EXPECT_TRUE(dtm->values[7].data.empty());
  EXPECT_EQ(dtm->values[8].name, u"Grüße");
  EXPECT_NE(Path(tree, Hive::Machine, {u"SOFTWARE", u"Classes", u"CLSID"}), nullptr);
  EXPECT_NE(Path(tree, Hive::User, {u"Software"}), nullptr);
}

TEST(RegistryFile, BlankFileIsAnEmptyRegistry) {
  for (const char* text : {"", "\n\n  \n", "; only a comment\n"}) {
    RegTree tree;
    RegistryParseError error;
    EXPECT_TRUE(ParseRegistryText(text, &tree, &error)) << "[" << text << "]";
    EXPECT_TRUE(tree.machine.subkeys.empty());
  }
}

TEST(RegistryFile, RefusesBadLinesNamingTheLine) {
  struct Case {
    const char* text;
    std::size_t line;
    const char* reasonPart;
  };
  const Case cases[] = {
      {"Windows Registry Editor Version 5.00\n", 1, "VKR Registry 1"},
      {"VKR Registry 1\n\"a\"=\"b\"\n", 2, "before the first"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"C:\\Logging\"\n", 3, "unknown escape \\L"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"open\n", 3, "no closing quote"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=dword:123456789\n", 3, "too many hex digits"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=dword:\n", 3, "expected hex digits"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=hex:1,2\n", 3, "two hex digits"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=hex:01;02\n", 3, "expected ','"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=hex(zz):01\n", 3, "expected hex digits"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=string\n", 3, "unknown data form"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"b\" trailing\n", 3, "after the value"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"\"b\"\n", 3, "expected '='"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"1\"\n\"A\"=\"2\"\n", 4, "already set"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=multi:\"x\",\"\"\n", 3, "empty text"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"tab\there\"\n", 3, "control character"},
      {"VKR Registry 1\n[HKLM\\x]\n\"a\"=\"\xC3\x28\"\n", 3, "UTF-8"},
      {"VKR Registry 1\n[HKLM\\x\n", 2, "must end with ']'"},
      {"VKR Registry 1\n[HKEY_USERS\\x]\n", 2, "not a valid key"},
      {"VKR Registry 1\n[HKLM\\a\\\\b]\n", 2, "not a valid key"},
      {"VKR Registry 1\n[HKLM\\]\n", 2, "not a valid key"},
      {"VKR Registry 1\n[-HKLM\\a]\n", 2, "not supported"},
      {"VKR Registry 1\n[HKLM\\a]\nvalue\n", 3, "expected a [key] line"},
  };
  for (const Case& c : cases) {
    RegTree tree;
    RegistryParseError error;
    EXPECT_FALSE(ParseRegistryText(c.text, &tree, &error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reasonPart), std::string::npos) << c.text << " gave: " << error.reason;
  }
}

TEST(RegistryFile, RefusesAZeroByte) {
  static const char text[] = "VKR Registry 1\n[HKLM\\a]\n\"a\"=\"x\0y\"\n";
  RegTree tree;
  RegistryParseError error;
  EXPECT_FALSE(ParseRegistryText(std::string_view(text, sizeof text - 1), &tree, &error));
  EXPECT_EQ(error.line, 3u);
  EXPECT_NE(error.reason.find("zero byte"), std::string::npos) << error.reason;
}

TEST(RegistryFile, RefusesKeysAndNamesBeyondTheLimits) {
  std::string deep = "VKR Registry 1\n[HKLM";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  deep += "]\n";
  std::string longName = "VKR Registry 1\n[HKLM\\" + std::string(256, 'n') + "]\n";
  std::string bigValue = "VKR Registry 1\n[HKLM\\a]\n\"v\"=hex:00";
  for (std::size_t i = 0; i < vkr::platform::kMaxValueDataSize; ++i) bigValue += ",00";
  bigValue += "\n";
  for (const std::string* text : {&deep, &longName, &bigValue}) {
    RegTree tree;
    RegistryParseError error;
    EXPECT_FALSE(ParseRegistryText(*text, &tree, &error)) << text->substr(0, 60);
  }
  RegTree tree;
  RegistryParseError error;
  EXPECT_TRUE(ParseRegistryText("VKR Registry 1\n[HKLM\\" + std::string(255, 'n') + "]\n", &tree, &error));
}

// Values that the readable forms cannot hold exactly go out as hex(N) and come back unchanged.
TEST(RegistryFile, WritingAndReadingKeepsEveryValueExactly) {
  RegTree tree;
  RegKey* key = tree.machine.AddSubkey(u"Odd")->AddSubkey(u"Keys");
  auto add = [&](std::u16string name, DWORD type, std::vector<BYTE> data) {
    key->values.push_back(RegValue{std::move(name), type, std::move(data)});
  };
  add(u"", 1, {'a', 0, 0, 0});
  add(u"no zero", 1, {'a', 0});
  add(u"odd", 1, {'a', 0, 0});
  add(u"inner zero", 1, {'a', 0, 0, 0, 'b', 0, 0, 0});
  add(u"control", 1, {'\n', 0, 0, 0});
  add(u"lone surrogate", 1, {0x00, 0xD8, 0, 0});
  add(u"quote \" and \\", 2, {'"', 0, '\\', 0, 0, 0});
  add(u"multi empty item", 7, {'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0});
  add(u"multi double zero", 7, {0, 0, 0, 0});
  add(u"multi", 7, {'a', 0, 0, 0, 0, 0});
  add(u"short dword", 4, {1, 2});
  add(u"long qword", 11, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  add(u"big endian", 5, {0, 0, 0, 1});
  add(u"type beyond", 0x12345678, {0xAB});
  add(u"empty binary", 3, {});
  tree.user.values.push_back(RegValue{u"on the hive", 4, {1, 0, 0, 0}});
  tree.machine.AddSubkey(u"Ünïcödé")->AddSubkey(u"with ] bracket and \"quote\"");
  const std::string text = WriteRegistryText(tree);
  RegTree back;
  RegistryParseError error;
  ASSERT_TRUE(ParseRegistryText(text, &back, &error)) << error.line << ": " << error.reason << "\n" << text;
  EXPECT_TRUE(SameKey(tree.machine, back.machine)) << text;
  EXPECT_TRUE(SameKey(tree.user, back.user)) << text;
  EXPECT_EQ(WriteRegistryText(back), text);
}

TEST(RegistryFile, WritesReadableFormsWherePossible) {
  RegTree tree;
  RegKey* key = tree.machine.AddSubkey(u"SOFTWARE")->AddSubkey(u"Vorntec");
  key->values.push_back(RegValue{u"LoggingPath", 1, Utf16Bytes(std::u16string(u"C:\\Logging\0", 11))});
  key->values.push_back(RegValue{u"CommLogging", 4, {1, 0, 0, 0}});
  const std::string text = WriteRegistryText(tree);
  EXPECT_EQ(text,
            "VKR Registry 1\n"
            "; This file ends with the line \"; end of registry\"; without it the file was cut short.\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorntec]\n"
            "\"LoggingPath\"=\"C:\\\\Logging\"\n"
            "\"CommLogging\"=dword:00000001\n"
            "\n; end of registry\n");
}

// A written file cut short at any line boundary is refused; files without the note (earlier
// versions, hand-written ones) are read as they always were.
TEST(RegistryFile, AFileCutShortAtALineBoundaryIsRefused) {
  RegTree tree;
  RegKey* classes = tree.machine.AddSubkey(u"SOFTWARE")->AddSubkey(u"Classes");
  for (const char16_t* name : {u"A.1", u"B.1", u"C.1"})
    classes->AddSubkey(name)->values.push_back(RegValue{u"", 1, Utf16Bytes(std::u16string(u"x\0", 2))});
  const std::string text = WriteRegistryText(tree);
  std::size_t cuts = 0;
  for (std::size_t at = text.find('\n'); at + 1 < text.size(); at = text.find('\n', at + 1)) {
    const std::string cut = text.substr(0, at + 1);
    RegTree back;
    RegistryParseError error;
    const bool header = cut == "VKR Registry 1\n";  // the note is gone too: an empty registry
    EXPECT_EQ(ParseRegistryText(cut, &back, &error), header) << cut;
    if (!header) {
      EXPECT_NE(error.reason.find("cut short"), std::string::npos) << error.reason;
    }
    ++cuts;
  }
  EXPECT_GT(cuts, 8u);
  struct Case {
    std::string text;
    bool parses;
  };
  const std::string note(vkr::platform::kEndNote);
  const Case cases[] = {
      {text, true},
      {text + "; a comment after the end\n\n", true},
      {text + "[HKLM\\Later]\n", false},                          // keys after the end
      {"VKR Registry 1\n[HKLM\\Old]\n\"v\"=dword:1\n", true},  // an earlier version's file
      {"VKR Registry 1\n" + note + "\n[HKLM\\Old]\n\"v\"=dword:1", false},
  };
  for (const Case& c : cases) {
    RegTree back;
    RegistryParseError error;
    EXPECT_EQ(ParseRegistryText(c.text, &back, &error), c.parses) << c.text << "\n" << error.reason;
  }
}

TEST(RegistryFile, KeyNamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  RegTree tree;
  RegistryParseError error;
  ASSERT_TRUE(ParseRegistryText("VKR Registry 1\n[HKLM\\Straße\\ÄB]\n\"x\"=dword:1\n[HKLM\\STRASSE]\n"
                                "[hklm\\straße\\äb]\n\"y\"=dword:2\n",
                                &tree, &error))
      << error.reason;
  ASSERT_EQ(tree.machine.subkeys.size(), 2u);  // "ß" has no upper case of its own: STRASSE differs
  const RegKey* k = Path(tree, Hive::Machine, {u"STRAßE", u"äb"});
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->values.size(), 2u);
  EXPECT_EQ(tree.machine.subkeys.begin()->first, u"STRASSE");
  EXPECT_EQ(std::next(tree.machine.subkeys.begin())->first, u"Straße");
}

TEST(RegistryFile, SplitsKeyPathsAsRegOpenKeyTakesThem) {
  std::vector<std::u16string> names;
  EXPECT_TRUE(vkr::platform::SplitKeyPath(u"", &names));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(vkr::platform::SplitKeyPath(u"a\\b\\", &names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"b"}));
  for (std::u16string_view bad : {u"\\a", u"a\\\\b", u"a\\b\\\\", u"a\x01", u"\\"})
    EXPECT_FALSE(vkr::platform::SplitKeyPath(bad, &names));
}

}  // namespace

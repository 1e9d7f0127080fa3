// Resources compiled into the test program (tests/platform/win/resources/test.resources), found
// and loaded as the system finds its templates, scripts and strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string ResourceText(HMODULE module, WORD id, LPCSTR type) {
  HRSRC r = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!r) return "<missing>";
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, r)));
  return std::string(data, SizeofResource(module, r));
}

TEST(Resources, TheModuleFindsItsCompiledResources) {
  HMODULE self = GetModuleHandleA(nullptr);
  EXPECT_EQ(ResourceText(self, 235, RT_HTML), "<?xml version=\"1.0\"?>\n<FDT version=\"%s\"/>\n");
  EXPECT_EQ(ResourceText(nullptr, 235, RT_HTML), ResourceText(self, 235, RT_HTML));
  EXPECT_EQ(ResourceText(self, 101, "registry").substr(0, 5), "HKCR\n");
  EXPECT_EQ(ResourceText(self, 101, "#1000"), "<missing>");
  EXPECT_EQ(ResourceText(self, 9, MAKEINTRESOURCEA(1000)), ResourceText(self, 101, "REGISTRY"));
  const std::string bytes = ResourceText(self, 7, RT_RCDATA);
  ASSERT_EQ(bytes.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<unsigned char>(bytes[i]), i);
  EXPECT_EQ(ResourceText(self, 8, RT_RCDATA), "");
  // "#235" names the id as a number.
  EXPECT_NE(FindResourceA(self, "#235", RT_HTML), nullptr);
  EXPECT_NE(FindResourceW(self, u"#235", MAKEINTRESOURCEW(RT_HTML_ID)), nullptr);
  EXPECT_NE(FindResourceW(self, MAKEINTRESOURCEW(101), u"Registry"), nullptr);
}

TEST(Resources, MissingResourcesSayWhatIsMissing) {
  HMODULE self = GetModuleHandleA(nullptr);
  struct Case {
    HMODULE module;
    LPCSTR name;
    LPCSTR type;
    DWORD error;
  };
  const Case cases[] = {
      {self, MAKEINTRESOURCEA(236), RT_HTML, ERROR_RESOURCE_NAME_NOT_FOUND},
      {self, "TEMPLATE", RT_HTML, ERROR_RESOURCE_NAME_NOT_FOUND},
      {self, MAKEINTRESOURCEA(235), RT_MENU, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {self, MAKEINTRESOURCEA(235), "TYPELIB", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {reinterpret_cast<HMODULE>(0x1000), MAKEINTRESOURCEA(235), RT_HTML, ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(FindResourceA(c.module, c.name, c.type), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // A handle that is not a resource of the module loads nothing.
  HRSRC real = FindResourceA(self, MAKEINTRESOURCEA(235), RT_HTML);
  EXPECT_EQ(LoadResource(self, reinterpret_cast<HRSRC>(0x10)), nullptr);
  EXPECT_EQ(SizeofResource(reinterpret_cast<HMODULE>(0x1000), real), 0u);
}

TEST(Resources, LoadStringCopiesAndCuts) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  char a[64];
  EXPECT_EQ(LoadStringA(self, 4002, a, sizeof a), 14);
  EXPECT_STREQ(a, "Apply changes?");
  EXPECT_EQ(LoadStringA(nullptr, 65535, a, sizeof a), 4);
  // Cut to the buffer, never inside a UTF-8 character: "Gr" + "ö" (2 bytes) does not fit in 3.
  EXPECT_EQ(LoadStringA(self, 7, a, 4), 2);
  EXPECT_STREQ(a, "Gr");
  EXPECT_EQ(LoadStringA(self, 7, a, 5), 4);
  EXPECT_STREQ(a, "Grö");
  WCHAR w[64];
  const std::u16string full = u"Größe: \"%s\"\r\nnext\tline \\ end";
  EXPECT_EQ(LoadStringW(self, 7, w, 64), static_cast<int>(full.size()));
  EXPECT_EQ(std::u16string(w), full);
  EXPECT_EQ(LoadStringW(self, 7, w, 3), 2);
  EXPECT_EQ(std::u16string(w), u"Gr");
  // bufferMax 0: a pointer to the string itself.
  LPCWSTR direct = nullptr;
  EXPECT_EQ(LoadStringW(self, 1011, reinterpret_cast<LPWSTR>(&direct), 0), 47);
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(std::u16string(direct, 47), u"UnlockDataSet failed. Please clean up database.");
  SetLastError(0);
  a[0] = 'x';
  EXPECT_EQ(LoadStringA(self, 1012, a, sizeof a), 0);
  EXPECT_EQ(a[0], '\0');
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(LoadStringA(self, 0x10000 + 4002, a, sizeof a), 0);
  EXPECT_EQ(LoadStringA(self, 4002, nullptr, 10), 0);
  EXPECT_EQ(LoadStringA(self, 4002, a, 0), 0);
}

TEST(Resources, BadStringTablesAndClashesAreRefusedWhole) {
  const HMODULE fake = reinterpret_cast<HMODULE>(0x7000);
  struct Case {
    const char* table;
    const char* reasonPart;
  };
  const Case cases[] = {
      {"1 \"ok\"\nx \"no id\"\n", "line 2: a line must start with a decimal id"},
      {"65536 \"big\"\n", "line 1: the id is above 65535"},
      {"1 no quotes\n", "line 1: expected the text"},
      {"1 \"a\\q\"\n", "line 1: unknown escape \\q"},
      {"1 \"a \" b\"\n", "line 1: a quote inside"},
      {"1 \"\xFF\"\n", "line 1: the text is not valid UTF-8"},
      {"1 \"a\"\n1 \"b\"\n", "line 2: string 1 appears twice"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    const vkr::platform::ResourceTable table{nullptr, 0, c.table, std::strlen(c.table)};
    EXPECT_FALSE(vkr::platform::RegisterResources(fake, table)) << c.table;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.reasonPart), std::string::npos) << c.table << " gave: " << err;
    char buf[8];
    EXPECT_EQ(LoadStringA(fake, 1, buf, sizeof buf), 0) << "nothing was added for: " << c.table;
  }
  static const BYTE data[] = {1, 2, 3};
  const vkr::platform::ResourceItem items[] = {{RT_HTML_ID, nullptr, 5, data, 3}, {0, "registry", 5, data, 2}};
  ASSERT_TRUE(vkr::platform::RegisterResources(fake, {items, 2, "5 \"five\"\n", 9}));
  // Another registration for the module adds to it, but never a second resource 5 of a type.
  const vkr::platform::ResourceItem again[] = {{RT_HTML_ID, nullptr, 6, data, 1}, {0, "REGISTRY", 5, data, 1}};
  testing::internal::CaptureStderr();
  EXPECT_FALSE(vkr::platform::RegisterResources(fake, {again, 2, nullptr, 0}));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(FindResourceA(fake, MAKEINTRESOURCEA(6), RT_HTML), nullptr);
  EXPECT_EQ(SizeofResource(fake, FindResourceA(fake, MAKEINTRESOURCEA(5), "Registry")), 2u);
  vkr::platform::UnregisterResources(fake);
  EXPECT_EQ(FindResourceA(fake, MAKEINTRESOURCEA(5), RT_HTML), nullptr);
}

}  // namespace

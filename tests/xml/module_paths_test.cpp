// The module's path, paths resolved beside it, and HTML resources read as text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scratch_directory.h"
#include "xml/Conversions.h"

namespace fs = std::filesystem;

namespace {

using vkr::Bstr;

Bstr Owned(BSTR s) {
  Bstr b;
  b.Attach(s);
  return b;
}

fs::path Native(std::u16string_view windowsPath) {
  std::string native;
  vkr::platform::MapPath(windowsPath, &native);
  return native;
}

TEST(ModulePaths, ModulePathIsThisProgram) {
  Bstr module = Owned(GetModulePath());
  ASSERT_FALSE(module.Empty());
  EXPECT_TRUE(fs::equivalent(Native(module.View()), fs::canonical("/proc/self/exe")));
  Bstr directory = Owned(DirectoryOfPath(module));
  EXPECT_TRUE(fs::equivalent(Native(directory.View()), fs::canonical("/proc/self/exe").parent_path()));
}

TEST(ModulePaths, RelativePathsResolveBesideTheModule) {
  Bstr directory = Owned(DirectoryOfPath(Owned(GetModulePath())));
  EXPECT_EQ(Owned(MakeAbsolutePath(u"VornExampleDtmTranslation.xml")).View(),
            directory.Str() + u"VornExampleDtmTranslation.xml");
  EXPECT_EQ(Owned(MakeAbsolutePath(u"sub\\file.xml")).View(), directory.Str() + u"sub\\file.xml");
  for (const char16_t* absolute : {u"C:\\dtm\\file.xml", u"/opt/vkr/file.xml", u"http://host/file.xml"})
    EXPECT_EQ(Owned(MakeAbsolutePath(absolute)).View(), absolute) << vkr::Utf16ToUtf8(absolute);
}

TEST(ModulePaths, ResolveFallsBackToTheModuleDirectory) {
  Bstr directory = Owned(DirectoryOfPath(Owned(GetModulePath())));
  // Present where the path says: kept.
  const fs::path present = vkr::test::TestDirectory() / "present.xml";
  vkr::test::WriteFileText(present, "<x/>");
  const std::u16string presentPath = vkr::Utf8ToUtf16(present.string());
  EXPECT_EQ(Owned(ResolveFilePath(presentPath.c_str(), true)).View(), presentPath);
  // Missing: the module's directory and the file name, whether that exists or not.
  EXPECT_EQ(Owned(ResolveFilePath(u"C:\\gone\\away\\Missing.xml", true)).View(), directory.Str() + u"Missing.xml");
  EXPECT_EQ(Owned(ResolveFilePath(u"C:\\gone\\away\\Missing.xml", false)).View(), u"C:\\gone\\away\\Missing.xml");
  // A file that lies beside the module is found there.
  const std::u16string program = vkr::Utf8ToUtf16(fs::canonical("/proc/self/exe").filename().string());
  EXPECT_EQ(Owned(ResolveFilePath(program.c_str(), true)).View(), directory.Str() + program);
  EXPECT_EQ(Owned(ResolveFilePath((u"C:\\elsewhere\\" + program).c_str(), true)).View(), directory.Str() + program);
}

// Resources of this test program, registered at run time as the build does for a module.
const char kHtml[] = "<FDT attr=\"\xc3\xa4\"/>";
const char kWithZero[] = {'<', 'a', '/', '>', '\0', 'j', 'u', 'n', 'k'};
const vkr::platform::ResourceItem kItems[] = {
    {RT_HTML_ID, nullptr, 4711, reinterpret_cast<const BYTE*>(kHtml), sizeof(kHtml) - 1},
    {RT_HTML_ID, nullptr, 4712, reinterpret_cast<const BYTE*>(kWithZero), sizeof(kWithZero)},
    {RT_RCDATA_ID, nullptr, 4713, reinterpret_cast<const BYTE*>(kHtml), sizeof(kHtml) - 1},
};

TEST(HtmlResources, ReadAsTextUpToTheirSizeOrAZero) {
  static const int anchor = 0;
  HMODULE module = vkr::platform::ModuleFromAddress(&anchor);
  ASSERT_NE(module, nullptr);
  ASSERT_TRUE(vkr::platform::RegisterResources(module, {kItems, std::size(kItems), nullptr, 0}));
  EXPECT_EQ(Owned(LoadHtmlResourceText(4711, module)).View(), u"<FDT attr=\"\u00e4\"/>");
  EXPECT_EQ(Owned(LoadHtmlResourceText(4712, module)).View(), u"<a/>");
  EXPECT_EQ(LoadHtmlResourceText(4713, module), nullptr);  // not of type HTML
  EXPECT_EQ(LoadHtmlResourceText(4714, module), nullptr);  // missing
  vkr::platform::UnregisterResources(module);
  EXPECT_EQ(LoadHtmlResourceText(4711, module), nullptr);
}

}  // namespace

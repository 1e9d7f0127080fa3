// The registrar: the script form, what registering and unregistering leave in the registry, and
// refusals of bad scripts before anything changes.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/registry_view.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::KeyExists;
using vkr::test::ScopedRegistry;
using vkr::test::SubkeyNames;
using vkr::test::ValueNames;
using vkr::test::ValueText;

constexpr char kScript[] = R"(# A class with both ProgIDs.
key ForceRemove HKCR\Test.Thing.1 = 'Thing Class'
key HKCR\Test.Thing.1\CLSID = '{11111111-2222-3333-4444-555555555555}'
key NoRemove HKCR\CLSID
key ForceRemove HKCR\CLSID\{11111111-2222-3333-4444-555555555555} = 'Thing Class'
key HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32 = '%MODULE%'
value HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32 ThreadingModel = 'Apartment'
value HKCR\CLSID\{11111111-2222-3333-4444-555555555555} Flags = dword:0x10
key 'HKCR\CLSID\{11111111-2222-3333-4444-555555555555}\Odd name' = 'it''s quoted, 100%%'
)";
constexpr char kClassKey[] = "CLSID\\{11111111-2222-3333-4444-555555555555}";

TEST(Registrar, RegistersKeysValuesAndReplacements) {
  ScopedRegistry registry;
  vkr::Registrar r;
  ASSERT_EQ(r.AddReplacement(u"MODULE", u"/opt/vkr/Thing.so"), S_OK);
  ASSERT_EQ(r.StringRegister(kScript), S_OK) << r.Problem();
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, "Test.Thing.1"), "Thing Class");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, "Test.Thing.1\\CLSID"), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32"), "/opt/vkr/Thing.so");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, kClassKey, "Flags"), "dword:16");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Odd name"), "it's quoted, 100%");
  // HKCR is where the class look-up reads.
  EXPECT_EQ(ValueText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Test.Thing.1"), "Thing Class");
}

TEST(Registrar, ForceRemoveReplacesWhatWasThere) {
  ScopedRegistry registry;
  vkr::Registrar r;
  r.AddReplacement(u"MODULE", u"m");
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Stale\\Deeper").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  ASSERT_EQ(r.StringRegister(kScript), S_OK) << r.Problem();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale"));
  // Registering again gives the same tree.
  ASSERT_EQ(r.StringRegister(kScript), S_OK);
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kClassKey), (std::vector<std::string>{"InprocServer32", "Odd name"}));
}

TEST(Registrar, UnregisterRemovesWhatTheScriptOwnsAndKeepsNoRemoveKeys) {
  ScopedRegistry registry;
  vkr::Registrar r;
  r.AddReplacement(u"MODULE", u"m");
  // A neighbour under CLSID that the script does not name.
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{99999999-0000-0000-0000-000000000000}", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  ASSERT_EQ(r.StringRegister(kScript), S_OK);
  ASSERT_EQ(r.StringUnregister(kScript), S_OK) << r.Problem();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Test.Thing.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{99999999-0000-0000-0000-000000000000}"));
  // Twice is no error: what is gone is gone.
  EXPECT_EQ(r.StringUnregister(kScript), S_OK);
}

TEST(Registrar, APlainKeyStaysWhileItHoldsForeignKeysAndLosesTheScriptsValues) {
  ScopedRegistry registry;
  vkr::Registrar r;
  const char script[] = "key HKLM\\SOFTWARE\\T = 'mine'\nvalue HKLM\\SOFTWARE\\T V = 'mine too'\n";
  ASSERT_EQ(r.StringRegister(script), S_OK);
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\Foreign", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  ASSERT_EQ(r.StringUnregister(script), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\Foreign"));
  EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\T").empty());
}

TEST(Registrar, RefusesBadScriptsBeforeChangingAnything) {
  struct Case {
    const char* script;
    const char* problem;
  };
  const Case cases[] = {
      {"key HKCR\\A\nkey HKCR\\A\\B'C\n", "line 2: a quote inside a word"},
      {"key HKXX\\A\n", "line 1: a key path must start with HKCR, HKLM or HKCU"},
      {"key HKCR\\A = 'open\n", "line 1: a quoted text is not closed"},
      {"key HKCR\\A = '%NOPE%'\n", "line 1: no replacement for %NOPE%"},
      {"key HKCR\\A\nkey HKCR\\A\n", "line 2: a key named twice"},
      {"key HKCR\\A = dword:0x1FFFFFFFF\n", "line 1: a dword above 0xFFFFFFFF"},
      {"key HKCR\\A = unquoted\n", "line 1: a value is a quoted text or dword:N"},
      {"value HKCR\\A X = 'v'\n", "line 1: a value of a key that is not named before"},
      {"key HKCR\\A\\\\B\n", "line 1: a key path has an empty name"},
      {"key HKCR\\A\nkeys HKCR\\A\\B\n", "line 2: a line starts with 'key' or 'value'"},
      {"key HKCR\\A = 'x' extra\n", "line 1: expected '= VALUE' at the end of the line"},
  };
  for (const Case& c : cases) {
    ScopedRegistry registry;
    vkr::Registrar r;
    EXPECT_EQ(r.StringRegister(c.script), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << c.script;
    EXPECT_EQ(r.Problem(), c.problem) << c.script;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A")) << c.script;
  }
}

TEST(Registrar, AReplacementMayHoldQuotesAndBlanks) {
  ScopedRegistry registry;
  vkr::Registrar r;
  r.AddReplacement(u"MODULE", u"/a b/it's.so");
  ASSERT_EQ(r.StringRegister("key HKCR\\M = '%MODULE%, 105'\n"), S_OK) << r.Problem();
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, "M"), "/a b/it's.so, 105");
}

TEST(Registrar, ARegistryFailureStopsTheRunWithItsError) {
  ScopedRegistry registry;
  vkr::Registrar r;
  vkr::platform::SetRegistryWriteFault(2, ENOSPC);
  const HRESULT hr = r.StringRegister("key HKCR\\A = 'a'\nkey HKCR\\A\\B = 'b'\nkey HKCR\\A\\C = 'c'\n");
  vkr::platform::SetRegistryWriteFault(0, 0);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_FALSE(r.Problem().empty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A\\C"));
}

TEST(Registrar, RunsScriptsFromResources) {
  ScopedRegistry registry;
  vkr::Registrar r;
  const HMODULE self = GetModuleHandleA(nullptr);
  r.AddReplacement(u"MODULE", u"/x/test.so");
  ASSERT_EQ(r.ResourceRegister(self, 102, "REGISTRY"), S_OK) << r.Problem();
  const std::string key = "CLSID\\{00000000-0000-0000-0000-000000000002}";
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key), "Scripted Class");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\InprocServer32"), "/x/test.so");
  ASSERT_EQ(r.ResourceUnregister(self, 102, "REGISTRY"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_EQ(r.ResourceRegister(self, 4711, "REGISTRY"), HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(r.Problem(), "no resource 4711");
}

}  // namespace

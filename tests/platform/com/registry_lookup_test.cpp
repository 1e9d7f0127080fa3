// Class and ProgID look-ups through HKCR, as CoCreateInstance and CLSIDFromProgID make them.
#include <gtest/gtest.h>

#include <climits>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

constexpr CLSID kClass = vkr::MakeGuid("5A1E0C2B-7D3F-4B9A-8E61-0C2D4F6A8B01");

void SetDefault(const char* key, DWORD type, const std::u16string& text) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(h, nullptr, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(h);
}

constexpr char kServerKey[] = "CLSID\\{5A1E0C2B-7D3F-4B9A-8E61-0C2D4F6A8B01}\\InprocServer32";

TEST(RegistryLookup, InprocServerPathIsReadAndMapped) {
  ScopedRegistry reg;
  TempDir drives;
  ScopedEnv root("VKR_DRIVE_ROOT", drives.path());
  ScopedEnv var("VKR_TEST_LIB_DIR", "/opt/vkr/lib");
  std::u16string path;
  EXPECT_FALSE(vkr::platform::FindInprocServer(kClass, &path));
  struct Case {
    DWORD type;
    std::u16string stored;
    std::string found;  // empty: not found
  };
  const Case cases[] = {
      {REG_SZ, u"/opt/vkr/lib/libvkrdtm.so", "/opt/vkr/lib/libvkrdtm.so"},
      {REG_SZ, u"\"/opt/vkr lib/libvkrdtm.so\"", "/opt/vkr lib/libvkrdtm.so"},
      {REG_SZ, u"C:\\Program Files\\VKR\\dtm.so", drives.path() + "/c/Program Files/VKR/dtm.so"},
      {REG_EXPAND_SZ, u"%VKR_TEST_LIB_DIR%/libvkrdtm.so", "/opt/vkr/lib/libvkrdtm.so"},
      {REG_EXPAND_SZ, u"%NOT_SET_ANYWHERE%/x%%y.so", "%NOT_SET_ANYWHERE%/x%%y.so"},
      {REG_SZ, u"", ""},
      {REG_SZ, u"\\\\server\\share\\dtm.so", ""},
      {REG_BINARY, u"/opt/x.so", ""},
  };
  for (const Case& c : cases) {
    SetDefault(kServerKey, c.type, c.stored);
    path.clear();
    EXPECT_EQ(vkr::platform::FindInprocServer(kClass, &path), !c.found.empty()) << vkr::Utf16ToUtf8(c.stored);
    EXPECT_EQ(vkr::Utf16ToUtf8(path), c.found) << vkr::Utf16ToUtf8(c.stored);
  }
}

TEST(RegistryLookup, ProgIdsBothWays) {
  ScopedRegistry reg;
  SetDefault("Vorn.ExampleDtm.1\\CLSID", REG_SZ, u"{5a1e0c2b-7d3f-4b9a-8e61-0c2d4f6a8b01}");
  SetDefault("CLSID\\{5A1E0C2B-7D3F-4B9A-8E61-0C2D4F6A8B01}\\ProgID", REG_SZ, u"Vorn.ExampleDtm.1");
  CLSID found{};
  EXPECT_EQ(CLSIDFromProgID(u"vorn.exampledtm.1", &found), S_OK);
  EXPECT_EQ(found, kClass);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClass, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Vorn.ExampleDtm.1");
  CoTaskMemFree(progId);
  // Unregistered, malformed, and names that would reach other keys.
  EXPECT_EQ(CLSIDFromProgID(u"Vorn.ExampleDtm", &found), CO_E_CLASSSTRING);
  SetDefault("Broken\\CLSID", REG_SZ, u"not a guid");
  EXPECT_EQ(CLSIDFromProgID(u"Broken", &found), CO_E_CLASSSTRING);
  EXPECT_FALSE(vkr::platform::FindProgIdClass(u"CLSID\\{5A1E0C2B-7D3F-4B9A-8E61-0C2D4F6A8B01}", &found));
  EXPECT_FALSE(vkr::platform::FindProgIdClass(u"", &found));
  EXPECT_EQ(ProgIDFromCLSID(CLSID_NULL, &progId), REGDB_E_CLASSNOTREG);
}

TEST(RegistryLookup, CoCreateInstanceLoadsTheRegisteredModule) {
  ScopedRegistry reg;
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  SetDefault(kServerKey, REG_SZ, u"/nonexistent/libvkrdtm.so");
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_DLLNOTFOUND);
  // A real library that is no COM server: found, loaded, and refused for lack of DllGetClassObject.
  HMODULE math = LoadLibraryA("libm.so.6");
  ASSERT_NE(math, nullptr);
  WCHAR library[PATH_MAX];
  ASSERT_GT(GetModuleFileNameW(math, library, PATH_MAX), 0u);
  SetDefault(kServerKey, REG_SZ, library);
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
  FreeLibrary(math);
  CoUninitialize();
}

}  // namespace

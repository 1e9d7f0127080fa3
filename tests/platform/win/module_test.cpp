// Module handles and names through the dynamic loader.
#include <gtest/gtest.h>
#include <libxml/xmlversion.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

std::string Executable() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

void InThisProgram() {}

TEST(Module, TheMainProgramIsNullAndItsOwnAddresses) {
  HMODULE self = GetModuleHandleA(nullptr);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&InThisProgram)), self);
  HMODULE fromAddress = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(&InThisProgram), &fromAddress));
  EXPECT_EQ(fromAddress, self);
  char path[PATH_MAX];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  EXPECT_EQ(std::string(path, n), Executable());
  EXPECT_EQ(GetModuleFileNameA(self, path, sizeof path), n);
  WCHAR wide[PATH_MAX];
  EXPECT_EQ(GetModuleFileNameW(self, wide, PATH_MAX), n);
  EXPECT_EQ(vkr::Utf16ToUtf8(wide), Executable());
}

TEST(Module, ALibraryIsFoundByAddressAndByName) {
  // A library the program is linked with (the platform's tests link the platform itself in, so
  // the XML library it builds on stands in).
  HMODULE library = vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&xmlCheckVersion));
  ASSERT_NE(library, nullptr);
  EXPECT_NE(library, GetModuleHandleA(nullptr));
  char path[PATH_MAX];
  const DWORD n = GetModuleFileNameA(library, path, sizeof path);
  ASSERT_GT(n, 0u);
  const std::string name(path, n);
  EXPECT_EQ(name.front(), '/');
  EXPECT_EQ(name.substr(name.rfind('/') + 1).rfind("libxml2.so", 0), 0u) << name;
  // By the name the loader knows it by, and by its full path.
  EXPECT_EQ(GetModuleHandleA("libxml2.so.2"), library);
  EXPECT_EQ(GetModuleHandleA(name.c_str()), library);
  EXPECT_EQ(GetModuleHandleW(u"libxml2.so.2"), library);
  // The module path is what GetModulePath and %MODULE% hand to the path calls.
  EXPECT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Module, FileNameTooLongIsCutWithTheWindowsResult) {
  const std::string full = Executable();
  ASSERT_GT(full.size(), 4u);
  char buf[5] = {'#', '#', '#', '#', '#'};
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(buf), full.substr(0, 4));
  WCHAR w[3];
  EXPECT_EQ(GetModuleFileNameW(nullptr, w, 3), 3u);
  EXPECT_EQ(w[2], 0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 0), 0u);
}

TEST(Module, UnknownModulesAreNotFound) {
  char path[16];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1000), path, sizeof path), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA("no-such-library.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE m = reinterpret_cast<HMODULE>(1);
  EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(0x10), &m));
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(vkr::platform::ModuleFromAddress(nullptr), nullptr);
  EXPECT_FALSE(GetModuleHandleExA(0x100, nullptr, &m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace

namespace {

TEST(LoadLibrary, LoadsFindsExportsAndCountsLoads) {
  // The C math library is on every machine and exports plain C names.
  HMODULE m = LoadLibraryA("libm.so.6");
  ASSERT_NE(m, nullptr);
  using Cos = double (*)(double);
  auto cosine = reinterpret_cast<Cos>(GetProcAddress(m, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  // The handle is the library's address, as the other module calls know it.
  EXPECT_EQ(vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(cosine)), m);
  char path[4096];
  EXPECT_GT(GetModuleFileNameA(m, path, sizeof path), 0u);
  EXPECT_EQ(DisableThreadLibraryCalls(m), TRUE);

  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, "no_such_function_here"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(3)), nullptr);

  HMODULE again = LoadLibraryW(u"libm.so.6");
  EXPECT_EQ(again, m);
  EXPECT_EQ(FreeLibrary(again), TRUE);
  EXPECT_NE(GetProcAddress(m, "cos"), nullptr);  // still loaded once
  EXPECT_EQ(FreeLibrary(m), TRUE);
  EXPECT_EQ(FreeLibrary(m), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(m, "cos"), nullptr);
}

TEST(LoadLibrary, RefusesWhatIsNoLibrary) {
  vkr::test::TempDir dir;
  vkr::test::WriteFileText(dir / "not-a-library.so", "just text");
  struct Case {
    std::string name;
    DWORD error;
  };
  const Case cases[] = {{"", ERROR_INVALID_PARAMETER},
                        {dir / "missing.so", ERROR_MOD_NOT_FOUND},
                        {dir / "not-a-library.so", ERROR_MOD_NOT_FOUND}};
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(c.name.c_str()), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(DisableThreadLibraryCalls(nullptr), FALSE);
}

}  // namespace

// The Reg* calls: Windows error codes and buffer rules, handles and access, and the file behind
// them (persistence across processes, locking, corrupt files, failed and interrupted writes).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ReadFileText;
using vkr::test::ScopedRegistry;
using vkr::test::WriteFileText;

constexpr char kDtmKey[] = "SOFTWARE\\Vorntec\\VKR Series DTM";

// Opens or creates a key for the test; fails the test on error.
struct Key {
  HKEY h = nullptr;
  Key(HKEY root, const char* path, REGSAM access = KEY_ALL_ACCESS, bool create = true) {
    const LSTATUS r = create ? RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, &h, nullptr)
                             : RegOpenKeyExA(root, path, 0, access, &h);
    EXPECT_EQ(r, ERROR_SUCCESS) << path;
  }
  ~Key() {
    if (h) RegCloseKey(h);
  }
  operator HKEY() const { return h; }
};

LSTATUS SetString(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

LSTATUS SetDword(HKEY key, const char* name, DWORD v) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

std::string GetString(HKEY key, const char* name) {
  char buf[512] = {};
  DWORD size = sizeof buf;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
    return "<missing>";
  return std::string(buf, size ? size - 1 : 0);
}

DWORD GetDword(HKEY key, const char* name) {
  DWORD v = 0xDEADBEEF, size = sizeof v;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS)
      << name;
  return v;
}

TEST(Registry, CreateSetAndReadBack) {
  ScopedRegistry reg;
  DWORD disposition = 0;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\FDT\\DTMCatalogUpdates", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(SetString(key, "ModificationFlag", "{0f1e2d3c-0000-4000-8000-000000000001}"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "ModificationComment", ""), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\fdt\\dtmcatalogupdates", 0, nullptr, 0, KEY_READ, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(GetString(key, "modificationflag"), "{0f1e2d3c-0000-4000-8000-000000000001}");
  EXPECT_EQ(GetString(key, "ModificationComment"), "");
  RegCloseKey(key);
  EXPECT_NE(ReadFileText(reg.file()).find("\"ModificationFlag\"=\"{0f1e2d3c-0000-4000-8000-000000000001}\""),
            std::string::npos);
}

TEST(Registry, OpenFailuresGiveTheWindowsCodes) {
  ScopedRegistry reg;
  Key dtm(HKEY_LOCAL_MACHINE, kDtmKey);
  struct Case {
    HKEY root;
    const char* path;
    LSTATUS expected;
  };
  const Case cases[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", ERROR_FILE_NOT_FOUND},
      {HKEY_CURRENT_USER, kDtmKey, ERROR_FILE_NOT_FOUND},  // the hives are apart
      {HKEY_LOCAL_MACHINE, "\\SOFTWARE", ERROR_BAD_PATHNAME},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Vorntec", ERROR_BAD_PATHNAME},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\", ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "software\\VORNTEC\\vkr series dtm", ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "", ERROR_SUCCESS},
      {reinterpret_cast<HKEY>(0x12345), "x", ERROR_INVALID_HANDLE},
      {nullptr, "x", ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(c.root, c.path, 0, KEY_READ, &h), c.expected) << c.path;
    if (c.expected == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(h, nullptr) << c.path;
    }
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  HKEY h;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "a\\\x01", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "v", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr),
            ERROR_CALL_NOT_IMPLEMENTED);
}

TEST(Registry, QueryFollowsTheBufferRules) {
  ScopedRegistry reg;
  Key key(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetString(key, "LoggingPath", "C:\\Logging"), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  // Size only.
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 11u);
  // Too small: ERROR_MORE_DATA, the needed size, and the buffer untouched.
  char small[4] = {'#', '#', '#', '#'};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(std::string(small, 4), "####");
  // Exactly the size.
  char exact[11];
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", nullptr, &type, reinterpret_cast<BYTE*>(exact), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(exact, "C:\\Logging");
  // The wide form counts UTF-16 bytes.
  WCHAR wide[32];
  size = sizeof wide;
  EXPECT_EQ(RegQueryValueExW(key, u"LoggingPath", nullptr, &type, reinterpret_cast<BYTE*>(wide), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 22u);
  EXPECT_EQ(std::u16string(wide), u"C:\\Logging");
  // Data without a size, a reserved pointer, a missing value.
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", nullptr, &type, reinterpret_cast<BYTE*>(exact), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", &reserved, &type, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "IconPath", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // Neither data nor size: just whether the value is there.
  EXPECT_EQ(RegQueryValueExA(key, "LoggingPath", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

TEST(Registry, StringsComeBackAsStoredEvenWithoutTheirZero) {
  ScopedRegistry reg;
  Key key(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(RegSetValueExA(key, "NoZero", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "NoZero", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(buf[3], '#');
}

TEST(Registry, AnsiCallsCarryUtf8BothWays) {
  ScopedRegistry reg;
  Key key(HKEY_CURRENT_USER, "Grüße");
  ASSERT_EQ(SetString(key, "Größe", "Ärger €"), ERROR_SUCCESS);
  WCHAR wide[32];
  DWORD size = sizeof wide;
  ASSERT_EQ(RegQueryValueExW(key, u"GRÖSSE", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size),
            ERROR_FILE_NOT_FOUND);  // "ö" folds, "ß" does not become "SS"
  size = sizeof wide;
  ASSERT_EQ(RegQueryValueExW(key, u"GRÖßE", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(wide), u"Ärger €");
  EXPECT_EQ(size, 16u);
  // A multi-string through the A call: each part converted, the zeros kept.
  const char multi[] = "eins\0zwei\0drei\0";
  ASSERT_EQ(RegSetValueExA(key, "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi),
            ERROR_SUCCESS);
  char back[32];
  size = sizeof back;
  ASSERT_EQ(RegQueryValueExA(key, "List", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(back, size), std::string(multi, sizeof multi));
  EXPECT_NE(ReadFileText(reg.file()).find("\"List\"=multi:\"eins\",\"zwei\",\"drei\""), std::string::npos);
}

TEST(Registry, SettingAgainReplacesInPlaceAndDeletingRemoves) {
  ScopedRegistry reg;
  Key key(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetDword(key, "CommLogging", 0), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "DoNotDeleteLoggingFile", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "commlogging", "now text"), ERROR_SUCCESS);
  char name[64];
  DWORD cch = sizeof name, type = 0;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "CommLogging");  // the first spelling stays, and so does the place
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegDeleteValueA(key, "COMMLOGGING"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "CommLogging"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetDword(key, "DoNotDeleteLoggingFile"), 1u);
  // The default value is the empty or null name.
  ASSERT_EQ(SetString(key, nullptr, "default"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, ""), "default");
  EXPECT_EQ(RegSetValueExA(key, "bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "ctl\x01", 0, REG_BINARY, nullptr, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
}

TEST(Registry, EnumerationGoesInNameOrderWithTheSizeRules) {
  ScopedRegistry reg;
  Key root(HKEY_LOCAL_MACHINE, kDtmKey);
  for (const char* sub : {"Zeta", "alpha", "Beta"}) Key k(root, sub);
  char name[16];
  std::vector<std::string> seen;
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof name;
    LSTATUS r = RegEnumKeyExA(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(cch, std::strlen(name));
    seen.push_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"alpha", "Beta", "Zeta"}));
  // A buffer of the name's length has no room for the zero.
  DWORD cch = 5;
  EXPECT_EQ(RegEnumKeyExA(root, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 6;
  EXPECT_EQ(RegEnumKeyExA(root, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  FILETIME time{1, 1};
  char cls[4] = "x";
  DWORD cchClass = sizeof cls;
  cch = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root, 0, name, &cch, nullptr, cls, &cchClass, &time), ERROR_SUCCESS);
  EXPECT_EQ(cchClass, 0u);
  EXPECT_EQ(time.dwLowDateTime, 0u);

  ASSERT_EQ(SetString(root, "Name", "0123456789"), ERROR_SUCCESS);
  BYTE data[4];
  DWORD cbData = sizeof data, type = 0;
  cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(root, 0, name, &cch, nullptr, &type, data, &cbData), ERROR_MORE_DATA);
  EXPECT_EQ(cbData, 11u);
  cch = 4;
  cbData = sizeof data;
  EXPECT_EQ(RegEnumValueA(root, 0, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_MORE_DATA);
  cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(root, 1, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  WCHAR wname[16];
  cch = 16;
  EXPECT_EQ(RegEnumKeyExW(root, 2, wname, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(wname), u"Zeta");
}

TEST(Registry, AccessRightsOfAHandleAreChecked) {
  ScopedRegistry reg;
  { Key setup(HKEY_LOCAL_MACHINE, kDtmKey); }
  Key readOnly(HKEY_LOCAL_MACHINE, kDtmKey, KEY_READ, false);
  EXPECT_EQ(SetDword(readOnly, "x", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(readOnly, "x"), ERROR_ACCESS_DENIED);
  HKEY sub;
  EXPECT_EQ(RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED);
  Key writeOnly(HKEY_LOCAL_MACHINE, kDtmKey, KEY_WRITE, false);
  EXPECT_EQ(SetDword(writeOnly, "x", 1), ERROR_SUCCESS);
  DWORD v, size = sizeof v;
  EXPECT_EQ(RegQueryValueExA(writeOnly, "x", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
            ERROR_ACCESS_DENIED);
  char name[8];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(writeOnly, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  Key generic(HKEY_LOCAL_MACHINE, kDtmKey, GENERIC_READ, false);
  EXPECT_EQ(GetDword(generic, "x"), 1u);
}

TEST(Registry, DeletingKeys) {
  ScopedRegistry reg;
  { Key k(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{A}\\InprocServer32"); }
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{a}"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

  { Key k(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm.1\\CLSID"); }
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "vorn.exampledtm.1"), ERROR_SUCCESS);
  HKEY h;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm.1", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm.1"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);

  // With no subkey, the tree call empties the key and keeps it.
  Key k(HKEY_CURRENT_USER, "Box");
  { Key inner(k, "Inner"); }
  ASSERT_EQ(SetDword(k, "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(k, nullptr), ERROR_SUCCESS);
  char name[8];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, HandlesOfDeletedKeysAndClosedHandles) {
  ScopedRegistry reg;
  HKEY a = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Gone", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &a, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Gone"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(a, "v", 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(a, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  HKEY sub;
  EXPECT_EQ(RegCreateKeyExA(a, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
  // A closed handle is gone for good, and its number does not come back.
  EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetDword(a, "v", 1), ERROR_INVALID_HANDLE);
  HKEY b = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Gone", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &b, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(a, b);
  RegCloseKey(b);
  // The predefined keys close and stay usable.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  Key again(HKEY_LOCAL_MACHINE, "x");
}

TEST(Registry, ClassesRootIsMachineSoftwareClasses) {
  ScopedRegistry reg;
  // Nothing below HKCR yet: it still opens, and reads as empty.
  HKEY h;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &h), ERROR_SUCCESS);
  char name[8];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(h);
  { Key k(HKEY_CLASSES_ROOT, "CLSID\\{X}"); }
  Key viaMachine(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{x}", KEY_READ, false);
  EXPECT_NE(ReadFileText(reg.file()).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{X}]"), std::string::npos);
  // Values directly on HKCR land on the Classes key.
  ASSERT_EQ(SetString(HKEY_CLASSES_ROOT, "direct", "yes"), ERROR_SUCCESS);
  Key classes(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", KEY_READ, false);
  EXPECT_EQ(GetString(classes, "direct"), "yes");
}

// A file that does not parse is reported with its line, never overwritten, and every call fails
// until it is fixed.
TEST(Registry, CorruptFileIsReportedAndLeftAlone) {
  ScopedRegistry reg;
  const std::string bad = "VKR Registry 1\n[HKLM\\SOFTWARE]\n\"LoggingPath\"=\"C:\\Logging\"\n";
  WriteFileText(reg.file(), bad);
  testing::internal::CaptureStderr();
  HKEY h;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "v", 1), ERROR_BADDB);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(reg.file() + ":3: unknown escape \\L"), std::string::npos) << err;
  EXPECT_EQ(err.find("registry file"), err.rfind("registry file")) << "reported once: " << err;
  EXPECT_EQ(vkr::platform::RegistryProblem(), reg.file() + ":3: unknown escape \\L (write \\\\ for a backslash)");
  EXPECT_EQ(ReadFileText(reg.file()), bad);
  // Once fixed, the registry works again.
  WriteFileText(reg.file(), "VKR Registry 1\n[HKLM\\SOFTWARE]\n\"LoggingPath\"=\"C:\\\\Logging\"\n");
  Key k(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, false);
  EXPECT_EQ(GetString(k, "LoggingPath"), "C:\\Logging");
  EXPECT_EQ(vkr::platform::RegistryProblem(), "");
}

TEST(Registry, ChangesByAnotherWriterAreSeen) {
  ScopedRegistry reg;
  Key k(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetDword(k, "CommLogging", 0), ERROR_SUCCESS);
  // Someone edits the file by hand while the process runs.
  std::string text = ReadFileText(reg.file());
  const auto at = text.find("dword:00000000");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 14, "dword:00000001");
  WriteFileText(reg.file() + ".edit", text);
  std::filesystem::rename(reg.file() + ".edit", reg.file());
  EXPECT_EQ(GetDword(k, "CommLogging"), 1u);
}

TEST(Registry, FailedWritesChangeNothing) {
  ScopedRegistry reg;
  Key k(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetDword(k, "Kept", 7), ERROR_SUCCESS);
  const std::string before = ReadFileText(reg.file());
  struct Case {
    int error;
    LSTATUS expected;
  };
  for (const Case& c : {Case{ENOSPC, ERROR_DISK_FULL}, Case{EACCES, ERROR_ACCESS_DENIED},
                        Case{EROFS, ERROR_ACCESS_DENIED}, Case{EIO, ERROR_REGISTRY_IO_FAILED}}) {
    vkr::platform::SetRegistryWriteFault(1, c.error);
    EXPECT_EQ(SetDword(k, "Lost", 1), c.expected) << c.error;
    EXPECT_EQ(RegQueryValueExA(k, "Lost", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadFileText(reg.file()), before);
  }
  // The fault fired once: the next write goes through.
  EXPECT_EQ(SetDword(k, "Lost", 1), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(k, "Kept"), 7u);
}

// The registration's pattern (create a key, set two values) swept over every write: after each
// failure the file holds exactly the writes before it.
TEST(Registry, FaultSweepOverARegistration) {
  ScopedRegistry reg;
  auto scenario = [] {
    HKEY key = nullptr;
    LSTATUS r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\FDT\\DTMCatalogUpdates", 0, nullptr, 0,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (r) return r;
    r = SetString(key, "ModificationFlag", "{1}");
    if (!r) r = SetString(key, "ModificationComment", "");
    RegCloseKey(key);
    return r;
  };
  for (unsigned n = 1;; ++n) {
    std::filesystem::remove(reg.file());
    vkr::platform::SetRegistryWriteFault(n, ENOSPC, true);
    const LSTATUS r = scenario();
    vkr::platform::SetRegistryWriteFault(0, 0);
    const std::string text = ReadFileText(reg.file());
    if (r == ERROR_SUCCESS) {
      EXPECT_EQ(n, 4u) << "three writes: the key, then each value";
      EXPECT_NE(text.find("\"ModificationComment\"=\"\""), std::string::npos);
      break;
    }
    EXPECT_EQ(r, ERROR_DISK_FULL);
    EXPECT_EQ(text.find("ModificationFlag") != std::string::npos, n >= 3) << n;
    EXPECT_EQ(text.find("DTMCatalogUpdates") != std::string::npos, n >= 2) << n;
    ASSERT_LT(n, 10u);
  }
}

// A writer killed between writing its temporary file and the rename leaves the file as it was;
// the leftover is ignored by readers and cleared by the next writer.
TEST(Registry, CrashBetweenWriteAndRenameLosesOnlyThatWrite) {
  ScopedRegistry reg;
  Key k(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetDword(k, "Before", 1), ERROR_SUCCESS);
  const std::string before = ReadFileText(reg.file());
  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    vkr::platform::SetRegistryCrashBeforeRename(17);
    SetDword(k, "During", 2);
    _exit(0);  // not reached when the hook works
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 17);
  EXPECT_EQ(ReadFileText(reg.file()), before);
  int leftovers = 0;
  for (const auto& e : std::filesystem::directory_iterator(reg.dir().path()))
    if (e.path().filename().string().rfind("registry.reg.tmp.", 0) == 0) ++leftovers;
  EXPECT_EQ(leftovers, 1);
  EXPECT_EQ(RegQueryValueExA(k, "During", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetDword(k, "Before"), 1u);
  ASSERT_EQ(SetDword(k, "After", 3), ERROR_SUCCESS);
  for (const auto& e : std::filesystem::directory_iterator(reg.dir().path()))
    EXPECT_NE(e.path().filename().string().rfind("registry.reg.tmp.", 0), 0u) << e.path();
}

// Two processes writing at the same time lose none of each other's values.
TEST(Registry, TwoProcessesWritingKeepEveryValue) {
  ScopedRegistry reg;
  constexpr int kWrites = 40;
  { Key k(HKEY_LOCAL_MACHINE, kDtmKey); }
  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    HKEY key;
    int failures = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDtmKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS;
    for (int i = 0; i < kWrites; ++i)
      failures += SetDword(key, ("child" + std::to_string(i)).c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS;
    _exit(failures ? 1 : 0);
  }
  Key key(HKEY_LOCAL_MACHINE, kDtmKey, KEY_ALL_ACCESS, false);
  for (int i = 0; i < kWrites; ++i)
    EXPECT_EQ(SetDword(key, ("parent" + std::to_string(i)).c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(GetDword(key, ("child" + std::to_string(i)).c_str()), static_cast<DWORD>(i));
    EXPECT_EQ(GetDword(key, ("parent" + std::to_string(i)).c_str()), static_cast<DWORD>(i));
  }
}

TEST(Registry, ThreadsWritingTogetherKeepEveryValue) {
  ScopedRegistry reg;
  { Key k(HKEY_CURRENT_USER, "Threads"); }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      Key k(HKEY_CURRENT_USER, "Threads");
      for (int i = 0; i < 10; ++i) {
        std::string name = "t";
        name += std::to_string(t);
        name += '_';
        name += std::to_string(i);
        EXPECT_EQ(SetDword(k, name.c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
        EXPECT_EQ(GetDword(k, name.c_str()), static_cast<DWORD>(i));
      }
    });
  }
  for (auto& t : threads) t.join();
  Key k(HKEY_CURRENT_USER, "Threads", KEY_READ, false);
  DWORD count = 0;
  char name[16];
  for (DWORD cch = sizeof name; RegEnumValueA(k, count, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
       cch = sizeof name)
    ++count;
  EXPECT_EQ(count, 40u);
}

// A batch reads the file once and writes it once, at its outermost commit; meanwhile its changes
// are what this process reads, and another process that wants to write waits for the commit.
TEST(Registry, ABatchIsWrittenOnceAndHoldsOffOtherWriters) {
  ScopedRegistry reg;
  { Key k(HKEY_LOCAL_MACHINE, kDtmKey); }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    HKEY key;
    int failures = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDtmKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS;
    failures += SetDword(key, "child", 7) != ERROR_SUCCESS;
    _exit(failures ? 1 : 0);
  }
  const std::string before = ReadFileText(reg.file());
  const unsigned long writes = vkr::platform::RegistryWriteCount();
  ASSERT_EQ(vkr::platform::BeginRegistryBatch(), ERROR_SUCCESS);
  ASSERT_EQ(vkr::platform::BeginRegistryBatch(), ERROR_SUCCESS);  // nested: one batch
  ASSERT_EQ(write(go[1], "x", 1), 1);
  {
    Key k(HKEY_LOCAL_MACHINE, kDtmKey, KEY_ALL_ACCESS, false);
    for (int i = 0; i < 20; ++i) {
      std::string name = "v";
      name += std::to_string(i);
      EXPECT_EQ(SetDword(k, name.c_str(), 1), ERROR_SUCCESS);
    }
    Key sub(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM\\Files");
    EXPECT_EQ(SetString(sub, "LoggingPath", "C:\\Log"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(sub, "LoggingPath"), "C:\\Log");
    EXPECT_EQ(RegDeleteValueA(k, "v19"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(k, "none"), ERROR_FILE_NOT_FOUND);  // a failed change changes nothing
  }
  Sleep(200);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the other writer did not wait for the batch";
  EXPECT_EQ(ReadFileText(reg.file()), before);
  EXPECT_EQ(vkr::platform::CommitRegistryBatch(), ERROR_SUCCESS);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes);
  EXPECT_EQ(vkr::platform::CommitRegistryBatch(), ERROR_SUCCESS);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 1);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string text = ReadFileText(reg.file());
  EXPECT_NE(text.find("\"v18\"=dword:00000001"), std::string::npos) << text;
  EXPECT_EQ(text.find("\"v19\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"child\"=dword:00000007"), std::string::npos) << text;
  EXPECT_NE(text.find("\"LoggingPath\"=\"C:\\\\Log\""), std::string::npos) << text;
  close(go[0]);
  close(go[1]);

  EXPECT_EQ(vkr::platform::CommitRegistryBatch(), ERROR_INVALID_FUNCTION);
  // A file that cannot be used opens no batch.
  WriteFileText(reg.file(), "VKR Registry 1\n[HKLM\\a]\nbroken\n");
  EXPECT_EQ(vkr::platform::BeginRegistryBatch(), ERROR_BADDB);
  EXPECT_EQ(vkr::platform::CommitRegistryBatch(), ERROR_INVALID_FUNCTION);
  EXPECT_NE(vkr::platform::RegistryProblem().find(":3: expected a [key] line"), std::string::npos);
}

#ifdef VKR_REG_TOOL
// Runs vkr-reg on the test's registry file; returns its exit code and output.
int RunTool(const std::string& file, const std::string& args, std::string* output) {
  const std::string command = "VKR_REGISTRY='" + file + "' '" VKR_REG_TOOL "' " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[512];
  output->clear();
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) output->append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What one process writes another one reads, both ways, through the command-line tool.
TEST(Registry, ToolAndProcessShareTheFile) {
  ScopedRegistry reg;
  Key k(HKEY_LOCAL_MACHINE, kDtmKey);
  ASSERT_EQ(SetDword(k, "CommLogging", 0), ERROR_SUCCESS);
  std::string out;
  ASSERT_EQ(RunTool(reg.file(), "query 'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM' commlogging", &out), 0) << out;
  EXPECT_EQ(out, "\"CommLogging\"=dword:00000000\n");
  ASSERT_EQ(RunTool(reg.file(), "set 'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM' CommLogging dword 1", &out), 0) << out;
  ASSERT_EQ(RunTool(reg.file(), "set 'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM\\Files' LoggingPath sz 'D:\\A\\B'",
                    &out),
            0)
      << out;
  EXPECT_EQ(GetDword(k, "CommLogging"), 1u);
  Key files(k, "Files", KEY_READ, false);
  EXPECT_EQ(GetString(files, "LoggingPath"), "D:\\A\\B");
  ASSERT_EQ(RunTool(reg.file(), "delete 'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM\\Files'", &out), 0) << out;
  EXPECT_EQ(GetString(files, "LoggingPath"), "<missing>");
  ASSERT_EQ(RunTool(reg.file(), "list HKLM", &out), 0) << out;
  EXPECT_EQ(out,
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorntec]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorntec\\VKR Series DTM]\n\"CommLogging\"=dword:00000001\n\n");
}

TEST(Registry, ToolRefusesBadInputAndReportsFailures) {
  ScopedRegistry reg;
  struct Case {
    const char* args;
    int exitCode;
    const char* outputPart;
  };
  const Case cases[] = {
      {"", 2, "usage"},
      {"frobnicate", 2, "unknown command"},
      {"set 'HKLM\\a' v dword 4294967296", 2, "fits"},
      {"set 'HKLM\\a' v dword -1", 2, "fits"},
      {"set 'HKLM\\a' v dword 0x", 2, "fits"},
      {"set 'HKLM\\a' v binary 0g", 2, "hex bytes"},
      {"set 'HKLM\\a' v multi_sz a ''", 2, "empty text"},
      {"set 'HKLM\\a' v sz", 2, "usage"},
      {"set 'HKEY_USERS\\a' v sz x", 2, "not a valid key"},
      {"set 'HKLM\\a\\\\b' v sz x", 2, "not a valid key"},
      {"query 'HKLM\\missing' v", 1, "not found"},
      {"delete HKLM", 2, "hive"},
      {"delete 'HKLM\\missing'", 1, "not found"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(RunTool(reg.file(), c.args, &out), c.exitCode) << c.args << ": " << out;
    EXPECT_NE(out.find(c.outputPart), std::string::npos) << c.args << ": " << out;
  }
  std::string out;
  ASSERT_EQ(RunTool(reg.file(), "set 'HKCU\\a' q qword 0x1122334455667788", &out), 0) << out;
  ASSERT_EQ(RunTool(reg.file(), "set 'HKCU\\a' @ multi_sz 'one two' three", &out), 0) << out;
  ASSERT_EQ(RunTool(reg.file(), "list HKCU", &out), 0);
  EXPECT_EQ(out, "[HKEY_CURRENT_USER\\a]\n\"q\"=qword:1122334455667788\n@=multi:\"one two\",\"three\"\n\n");
  WriteFileText(reg.file(), "VKR Registry 1\n[HKLM\\a]\nbroken\n");
  EXPECT_EQ(RunTool(reg.file(), "list", &out), 1);
  EXPECT_NE(out.find(":3: expected a [key] line"), std::string::npos) << out;
}

// Keys near the top of a hive go only when asked for with --force; failures of the file name the
// error and say what is wrong with the file.
TEST(Registry, ToolGuardsTheTopOfTheHivesAndNamesWhatFailed) {
  ScopedRegistry reg;
  const std::string dtm = "'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM\\Files' LoggingPath sz 'C:\\Log'";
  const std::string server = "'HKCR\\CLSID\\{1}\\InprocServer32' @ sz /x.so";
  struct Case {
    std::string args;
    int exitCode;
    const char* outputPart;
    bool changes;  // whether the file changes
  };
  const Case cases[] = {
      {"set " + dtm, 0, "", true},
      {"set " + server, 0, "", true},
      {"file extra", 2, "file takes no arguments", false},
      {"delete HKCR", 2, "a hive cannot be deleted", false},
      {"delete 'HKLM\\SOFTWARE'", 1,
       "vkr-reg: delete HKEY_LOCAL_MACHINE\\SOFTWARE: the key holds 2 subkeys and is near the top of its hive; "
       "deleting it with everything below it needs --force",
       false},
      {"delete 'HKLM\\SOFTWARE\\Vorntec'", 1, "holds 1 subkey and", false},
      {"delete 'HKCR\\CLSID'", 1, "needs --force", false},
      {"delete 'HKCR\\CLSID\\{1}'", 0, "", true},                       // deep enough
      {"delete 'HKLM\\SOFTWARE\\Vorntec\\VKR Series DTM'", 0, "", true},  // deep enough
      {"delete 'HKCR\\CLSID'", 0, "", true},                             // nothing below it any more
      {"set " + server, 0, "", true},
      {"delete --force 'HKLM\\SOFTWARE'", 0, "", true},
      {"delete --force 'HKLM\\SOFTWARE'", 1, "ERROR_FILE_NOT_FOUND (2): not found", false},
  };
  for (const Case& c : cases) {
    const std::string before = ReadFileText(reg.file());
    std::string out;
    EXPECT_EQ(RunTool(reg.file(), c.args, &out), c.exitCode) << c.args << ": " << out;
    EXPECT_NE(out.find(c.outputPart), std::string::npos) << c.args << ": " << out;
    EXPECT_EQ(ReadFileText(reg.file()) != before, c.changes) << c.args;
  }
  std::string out;
  ASSERT_EQ(RunTool(reg.file(), "list", &out), 0);
  EXPECT_EQ(out, "");
  // A directory where the file should be, and a file where its directory should be.
  EXPECT_EQ(RunTool(reg.dir().path(), "list", &out), 1);
  EXPECT_EQ(out, "vkr-reg: list HKEY_LOCAL_MACHINE: ERROR_CANTREAD (1012): the registry file cannot be read (" +
                     reg.dir().path() + ": is a directory, not a registry file)\n");
  EXPECT_EQ(RunTool(reg.file() + "/inside.reg", "set 'HKLM\\a' v sz x", &out), 1);
  EXPECT_EQ(out, "vkr-reg: set HKEY_LOCAL_MACHINE\\a: ERROR_CANTREAD (1012): the registry file cannot be read (" +
                     reg.file() + "/inside.reg: cannot look at the file: Not a directory)\n");
}
#endif

}  // namespace

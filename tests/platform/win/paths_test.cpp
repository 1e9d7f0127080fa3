// Windows paths onto the file system.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ScopedEnv;
using vkr::test::TempDir;

TEST(Paths, MapsDrivesSeparatorsAndLeavesTheRest) {
  TempDir root;
  ScopedEnv env("VKR_DRIVE_ROOT", root.path() + "/");
  EXPECT_EQ(vkr::platform::DriveRoot(), root.path());
  struct Case {
    const char* windows;
    std::string native;
  };
  const Case cases[] = {
      {"C:\\Logging\\VornExampleDevDTM_Log.txt", root / "c/Logging/VornExampleDevDTM_Log.txt"},
      {"c:/Logging/", root / "c/Logging/"},
      {"D:\\A\\\\B", root / "d/A//B"},
      {"D:\\", root / "d/"},
      {"D:", root / "d"},
      {"E:name.xml", root / "e/name.xml"},
      {"sub\\file.xml", "sub/file.xml"},
      {"file.xml", "file.xml"},
      {".\\VornExampleDtmTranslation.xml", "./VornExampleDtmTranslation.xml"},
      {"\\dir\\x", "/dir/x"},
      {"/opt/vkr/lib/libdtm.so", "/opt/vkr/lib/libdtm.so"},
      {"Größe\\ä.txt", "Größe/ä.txt"},
      // ".." never leads out of the drive: at its root it stays there, as Windows keeps it.
      {"C:\\..\\..\\y.vkr", root / "c/y.vkr"},
      {"C:/a/../../../b", root / "c/b"},
      {"C:..\\y", root / "c/y"},
      {"C:\\VKR\\.\\sub\\..\\x.vkr", root / "c/VKR/x.vkr"},
      {"C:\\VKR\\\\..\\x", root / "c/x"},
      {"D:\\a\\..", root / "d/"},
      {"C:\\a\\..\\", root / "c/"},
      {"C:\\..a\\b..\\.x", root / "c/..a/b../.x"},
  };
  for (const Case& c : cases) {
    std::string native;
    EXPECT_EQ(vkr::platform::MapPath(c.windows, &native), static_cast<DWORD>(ERROR_SUCCESS)) << c.windows;
    EXPECT_EQ(native, c.native) << c.windows;
  }
  std::string native;
  EXPECT_EQ(vkr::platform::MapPath(u"C:\\W\\ß", &native), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(native, root / "c/W/ß");
  // Every drive used exists, as drives do on Windows.
  struct stat st;
  EXPECT_EQ(stat((root / "e").c_str(), &st), 0);
}

TEST(Paths, RefusesWhatHasNoPlaceHere) {
  struct Case {
    const char* windows;
    DWORD error;
  };
  const Case cases[] = {
      {"", ERROR_PATH_NOT_FOUND},
      {"\\\\server\\share\\x", ERROR_BAD_NETPATH},
      {"\\\\?\\C:\\x", ERROR_INVALID_NAME},
      {"\\\\.\\COM1", ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    std::string native = "unchanged";
    EXPECT_EQ(vkr::platform::MapPath(c.windows, &native), c.error) << c.windows;
    EXPECT_EQ(native, "") << c.windows;
  }
}

TEST(Paths, DriveRootDefaultsUnderTheUsersDataDirectory) {
  ScopedEnv noRoot("VKR_DRIVE_ROOT", std::nullopt);
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(vkr::platform::DriveRoot(), "/data/home/vkr/drives");
  }
  ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(vkr::platform::DriveRoot(), "/home/someone/.local/share/vkr/drives");
}

}  // namespace

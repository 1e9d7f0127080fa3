// The frame host against the real DTM module: registering it, listing its classes, creating the
// DTM through the registry as a frame does, releasing it, unregistering.
#include <gtest/gtest.h>

#include "frame/FrameHost.h"
#include "frame/controls/OutsideControls.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

class Frame : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
};

std::vector<vkr::frame::RegisteredClass> Classes() {
  std::vector<vkr::frame::RegisteredClass> classes;
  EXPECT_EQ(vkr::frame::ListRegisteredClasses(&classes), S_OK);
  return classes;
}

// The frame's own controls go into the registry file in one write when a user interface opens
// (each of their keys rewrote and fsynced the file), and in none when they are there already.
TEST_F(Frame, TheOutsideControlsAreRegisteredInOneWrite) {
  const unsigned long writes = vkr::platform::RegistryWriteCount();
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  vkr::frame::RevokeOutsideControls();
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 1);
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  vkr::frame::RevokeOutsideControls();
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 1);
}

TEST_F(Frame, RegistersListsCreatesAndUnregisters) {
  // One registration writes the registry file once, however many keys it makes.
  const unsigned long writes = vkr::platform::RegistryWriteCount();
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 1);
  const auto classes = Classes();
  EXPECT_EQ(classes.size(), 24u);
  int dtms = 0;
  for (const auto& c : classes) {
    EXPECT_EQ(c.threadingModel, "Apartment") << c.clsid;
    EXPECT_NE(c.module.find("VornExampleDtm.so"), std::string::npos) << c.module;
    EXPECT_EQ(c.progId.find("ProcessChannel"), std::string::npos);
    if (c.progId == "Vorn.ExampleDtm.1") {
      ++dtms;
      EXPECT_EQ(c.description, "VORN VKR Series DTM");
      EXPECT_EQ(c.categories.size(), 3u);
    } else {
      EXPECT_TRUE(c.categories.empty()) << c.clsid;
    }
  }
  EXPECT_EQ(dtms, 1);

  vkr::frame::DtmCreation created;
  ASSERT_EQ(vkr::frame::CreateAndReleaseDtm(u"Vorn.ExampleDtm", &created), S_OK);
  EXPECT_EQ(created.clsid, "{4370723C-41F5-4C73-BA95-4804A6D3BA81}");
  EXPECT_EQ(created.state, 1);
  EXPECT_STREQ(vkr::frame::StateName(created.state), "dsCREATED");
  EXPECT_EQ(created.canUnloadWhileAlive, S_FALSE);
  EXPECT_EQ(created.canUnloadAfterRelease, S_OK);

  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, false), S_OK);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 2);
  EXPECT_TRUE(Classes().empty());
  EXPECT_TRUE(FAILED(vkr::frame::CreateAndReleaseDtm(u"Vorn.ExampleDtm", &created)));
}

TEST_F(Frame, AModuleThatCannotBeLoadedOrRegisteredSaysSo) {
  // The loader's own reason, and the entry point a library without them lacks.
  std::string problem;
  EXPECT_EQ(vkr::frame::RunModuleRegistration(drives / "missing.so", true, &problem),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(problem.find("missing.so: cannot open shared object file"), std::string::npos) << problem;
  EXPECT_EQ(vkr::frame::RunModuleRegistration("libm.so.6", true, &problem), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(problem, "libm.so.6 does not export DllRegisterServer");
  EXPECT_TRUE(Classes().empty());
}

TEST_F(Frame, ARegisteredModuleThatIsGoneFailsTheCreation) {
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  // Point the DTM's class at a file that is no module.
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{4370723C-41F5-4C73-BA95-4804A6D3BA81}\\InprocServer32", 0,
                          KEY_ALL_ACCESS, &h),
            ERROR_SUCCESS);
  const std::string gone = drives / "gone.so";
  RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(gone.c_str()), static_cast<DWORD>(gone.size() + 1));
  RegCloseKey(h);
  vkr::frame::DtmCreation created;
  EXPECT_TRUE(FAILED(vkr::frame::CreateAndReleaseDtm(u"Vorn.ExampleDtm", &created)));
  EXPECT_EQ(created.state, -1);
  EXPECT_EQ(vkr::frame::ResultText(S_FALSE), "0x00000001 (S_FALSE)");
  EXPECT_EQ(vkr::frame::ResultText(0x12345678), "0x12345678");
}

}  // namespace

// The frame host as a user meets it: vkr-frame run as its own process on a registry and drive root
// of the test's, with what it exits with, prints, and says on stderr when a command fails.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "frame/FrameHost.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ReadFileText;
using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;
using vkr::test::WriteFileText;

constexpr char kDtmClassKey[] = "CLSID\\{4370723C-41F5-4C73-BA95-4804A6D3BA81}\\InprocServer32";

class HostCommands : public testing::Test {
 protected:
  struct Result {
    int exitCode = -1;
    std::string out, err;
  };
  // Runs vkr-frame with the arguments on `registryFile` (the test's registry unless set).
  // With `terminal`, standard error is a terminal (a pseudo terminal the test reads).
  Result Host(const std::string& args, bool terminal = false) {
    std::string errFile = scratch / "stderr";
    int master = -1;
    if (terminal) {
      master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
      if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
      errFile = ptsname(master);
    }
    // The test holds the terminal open too, so what the host wrote stays readable after it ends.
    const int held = master < 0 ? -1 : open(errFile.c_str(), O_RDWR | O_NOCTTY);
    const std::string command = "VKR_REGISTRY='" + (registryFile.empty() ? registry.file() : registryFile) +
                                "' VKR_DRIVE_ROOT='" + drives.path() + "' '" VKR_FRAME_HOST "' " + args + " 2>'" +
                                errFile + "'";
    Result r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (master < 0) {
      r.err = ReadFileText(errFile);
      return r;
    }
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) r.err.append(buf, static_cast<std::size_t>(n));
    if (held >= 0) close(held);
    close(master);
    return r;
  }
  void Register() { ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK); }
  void SetValue(HKEY root, const char* path, const char* name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  ScopedRegistry registry;
  TempDir drives;
  TempDir scratch;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  std::string registryFile;  // another registry file for the child, when set
};

TEST_F(HostCommands, EveryCommandExitsNonZeroWhenItFailsAndSaysWhy) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::string args;
    int exitCode;
    std::vector<std::string> outParts;
    std::vector<std::string> errParts;  // empty: stderr stays empty
  };
  const std::string broken = scratch / "broken.so";
  WriteFileText(broken, "not a library\n");
  const std::string missing = scratch / "missing.so";
  auto corrupt = [&] { WriteFileText(registry.file(), "VKR Registry 1\n[HKLM\\a]\nbroken\n"); };
  const std::string unusable = "0x800703F1 (ERROR_BADDB): the registry file is unusable; the registry file: " +
                               registry.file() + ":3: expected a [key] line, a value line or a comment";
  const Case cases[] = {
      {"an empty registry", [] {}, "classes", 0, {"0 registered classes\n"}, {}},
      {"a registry file that does not parse", corrupt, "classes", 1, {},
       {"vkr-frame: the registered classes cannot be listed: " + unusable + "\n"}},
      {"the registry path is a directory", [&] { registryFile = scratch.path(); }, "classes", 1, {},
       {"vkr-frame: the registered classes cannot be listed: 0x800703F4 (ERROR_CANTREAD): the registry file cannot "
        "be read; the registry file: " + scratch.path() + ": is a directory, not a registry file\n"}},
      {"a registry file cut short",
       [&] {
         Register();
         const std::string text = ReadFileText(registry.file());
         WriteFileText(registry.file(), text.substr(0, text.rfind("\n[") + 1));
       },
       "classes", 1, {}, {"cannot be listed: 0x800703F1 (ERROR_BADDB)", "it was cut short"}},
      {"a module that is not there", [] {}, "register '" + missing + "'", 1,
       {"DllRegisterServer: 0x8007007E (ERROR_MOD_NOT_FOUND): the module cannot be found or loaded\n"},
       {"vkr-frame: registering " + missing + " failed: 0x8007007E (ERROR_MOD_NOT_FOUND): the module cannot be found "
        "or loaded (" + missing + ": cannot open shared object file: No such file or directory)\n"}},
      {"a module that is no library", [] {}, "register '" + broken + "'", 1, {},
       {"failed: 0x8007007E (ERROR_MOD_NOT_FOUND): the module cannot be found or loaded (" + broken + ": "}},
      {"a library without the entry point", [] {}, "register libm.so.6", 1, {},
       {"vkr-frame: registering libm.so.6 failed: 0x8007007F (ERROR_PROC_NOT_FOUND): the module lacks the entry "
        "point (libm.so.6 does not export DllRegisterServer)\n"}},
      {"registering into a registry file that does not parse", corrupt, "register", 1, {},
       {"vkr-frame: registering " VKR_MODULE_PATH " failed: " + unusable + "\n"}},
      {"creating a class nobody registered", [] {}, "create", 1, {},
       {"vkr-frame: creating the DTM failed: 0x800401F3 (CO_E_CLASSSTRING): no class is registered under that "
        "name\n"}},
      {"creating a class whose module is gone",
       [&] {
         Register();
         SetValue(HKEY_CLASSES_ROOT, kDtmClassKey, nullptr, missing);
       },
       "create", 1, {"  class {4370723C-41F5-4C73-BA95-4804A6D3BA81} in " + missing + "\n"},
       {"vkr-frame: creating the DTM failed: 0x800401F8 (CO_E_DLLNOTFOUND): the class's module could not be loaded (" +
        missing + ": cannot open shared object file: No such file or directory)\n"}},
      {"creating a class whose module is no library",
       [&] {
         Register();
         SetValue(HKEY_CLASSES_ROOT, kDtmClassKey, nullptr, broken);
       },
       "create", 1, {}, {"0x800401F8 (CO_E_DLLNOTFOUND): the class's module could not be loaded (" + broken + ": "}},
      // An icon path the DTM cannot put into its information document: it refuses its device type.
      {"a lifecycle that stops early",
       [&] {
         Register();
         SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM\\Files", "IconPath", "C:\\icons\x01");
       },
       "lifecycle", 1, {"  IDtm::InitNew: 0x00000001 (S_FALSE), result FALSE", "  released\n"},
       {"vkr-frame: the lifecycle stopped early at IDtm::InitNew: the DTM refused the step\n"}},
      {"an unknown command", [] {}, "bogus", 2, {}, {"usage: vkr-frame"}},
      {"a command with an extra argument", [] {}, "classes extra", 2, {}, {"usage: vkr-frame"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(registry.file());
    registryFile.clear();
    c.setUp();
    const Result r = Host(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    for (const std::string& part : c.outParts) EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
    if (c.errParts.empty()) {
      EXPECT_EQ(r.err, "");
    }
    for (const std::string& part : c.errParts) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    // The failure is the last line (the registry may have said what is wrong with its file before).
    if (c.exitCode == 1) {
      const std::size_t last = r.err.rfind('\n', r.err.size() - 2);
      EXPECT_EQ(r.err.compare(last == std::string::npos ? 0 : last + 1, 11, "vkr-frame: "), 0) << r.err;
    }
  }
}

// The engineer's commands on one project, in the order a person runs them: what each prints,
// says on stderr and exits with. The DTM exports no parameter but the tag in its parameter
// document, so that is all show lists and all set can reach.
TEST_F(HostCommands, TheEngineersCommandsOnAProject) {
  Register();
  struct Step {
    std::string args;
    int exitCode;
    std::vector<std::string> outParts;
    std::vector<std::string> errParts;
    bool terminal = false;
    std::function<void()> before = [] {};
  };
  const std::string p = " --project 'C:\\VKR\\plant.vkr'";
  // What the project remembers of the device: "value <name hex> <value hex>" lines.
  const std::string record = drives / "c/VKR/plant.vkr.compared";
  auto deviceHeld = [&](const std::string& tag) {
    std::string hex;
    for (unsigned char ch : tag) hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
    WriteFileText(record, "verdict uploaded\nvalue 546167 " + hex + "\n");
  };
  const Step steps[] = {
      {"show" + p, 0,
       {"name  value                             unit      differs\n",
        "Tag   VKR Series DTM                              ?\n", "data set: default\n",
        "device: not compared yet (upload, download or compare first)\n",
        "the DTM's parameter document exports no parameter but the tag\n"},
       {}},
      // Not a terminal: one line for each percentage, none redrawn.
      {"upload" + p, 0, {"uploaded; data set saved to C:\\VKR\\plant.vkr\n"}, {"upload: 100%\n"}},
      {"show" + p, 0,
       {"Tag   VKR Series DTM                              no\n", "data set: allDataLoaded\n",
        "device: as the last upload read it\n"},
       {}},
      // The device held another tag when the project last read it.
      {"show" + p, 0, {"Tag   VKR Series DTM                              yes\n"}, {}, false,
       [&] { deviceHeld("LT-1"); }},
      {"set" + p + " 'Damping Value=2.5'", 1, {},
       {"vkr-frame: there is no parameter Damping Value in the DTM's parameter document (the DTM exports no "
        "parameter there but the tag)\n"}},
      {"set" + p + " Tag=LT-200", 1, {},
       {"vkr-frame: the DTM took Tag=LT-200 but its data set does not keep it: the project still holds \"VKR Series "
        "DTM\"\n"}},
      {"set" + p + " Tag", 2, {}, {"vkr-frame: set takes NAME=VALUE, not Tag\n"}},
      // A terminal: the bar is redrawn in place and its line ended once.
      {"download" + p, 0, {"downloaded; read back: the device "}, {"\rdownload: [", "] 100%\r\n"}, true},
      {"show" + p, 0, {"data set: allDataLoaded\n"}, {}},
      {"compare" + p, 0, {"the data set "}, {}},
      {"status" + p, 0, {"device status: ok\n"}, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    step.before();
    const Result r = Host(step.args, step.terminal);
    EXPECT_EQ(r.exitCode, step.exitCode) << r.out << r.err;
    for (const std::string& part : step.outParts) EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
    for (const std::string& part : step.errParts) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    if (!step.terminal) {
      EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    }
    if (step.errParts.empty()) {
      EXPECT_EQ(r.err, "");
    }
  }
}

// The whole lifecycle, online to the simulated transmitter and back, in well under a second: the
// host waits for the DTM's word that the communication may be released instead of releasing it
// under the DTM, whose release then polled for five seconds.
TEST_F(HostCommands, TheLifecycleEndsWithinASecond) {
  Register();
  // The fastest of up to three runs: a loaded machine may stretch one, a wait in the release
  // stretches all of them.
  Result r;
  long long took = 0;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    r = Host("lifecycle");
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    took = run == 0 ? ms : std::min(took, ms);
    if (took < 1000 || r.exitCode != 0) break;
  }
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LT(took, 1000) << r.out;
  const std::size_t prepared = r.out.find("    frame: prepared to release communication VKR-1\n");
  EXPECT_NE(prepared, std::string::npos) << r.out;
  EXPECT_LT(prepared, r.out.find("  IDtm::ReleaseCommunication: 0x00000000 (S_OK), result TRUE")) << r.out;
}

}  // namespace

// The frame host as a user meets it: vkr-frame run as its own process on a registry and drive root
// of the test's, with what it exits with, prints, and says on stderr when a command fails.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "frame/FrameHost.h"
#include "frame/ProjectFiles.h"
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
        "name; the DTM is not registered: run 'vkr-frame register' first\n"}},
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
    bool projectKept = false;  // the project file is byte for byte what it was
  };
  const std::string p = " --project 'C:\\VKR\\plant.vkr'";
  // What the project remembers of the device: "value <name hex> <value hex>" lines.
  const std::string record = drives / "c/VKR/plant.vkr.compared";
  auto deviceHeld = [&](const std::string& tag) {
    std::string hex;
    for (unsigned char ch : tag) hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
    WriteFileText(record, vkr::frame::CheckedRecord("verdict uploaded\nvalue 546167 " + hex + "\n"));
  };
  const std::string project = drives / "c/VKR/plant.vkr";
  const std::string device = project + ".device";
  const Step steps[] = {
      // Only an upload starts a project.
      {"show" + p, 1, {}, {"vkr-frame: there is no project file C:\\VKR\\plant.vkr (an upload creates one)\n"}},
      // Not a terminal: one line for each percentage, none redrawn.
      {"upload" + p, 0, {"uploaded; data set saved to C:\\VKR\\plant.vkr\n"}, {"upload: 100%\n"}},
      {"show" + p, 0,
       {"Tag   VKR Series DTM                              no\n", "data set: allDataLoaded\n",
        "device: as the last upload read it\n"},
       {}},
      // The device held another tag when the project last read it.
      {"show" + p, 0, {"Tag   VKR Series DTM                              yes\n"}, {}, false,
       [&] { deviceHeld("LT-1"); }},
      // The record holds another name's value but none of the tag: show does not know.
      {"show" + p, 0, {"Tag   VKR Series DTM                              ?\n"}, {}, false,
       [&] { WriteFileText(record, vkr::frame::CheckedRecord("verdict uploaded\nvalue 4E616D65 4C542D31\n")); }},
      {"set" + p + " 'Damping Value=2.5'", 1, {},
       {"vkr-frame: there is no parameter Damping Value in the DTM's parameter document (the DTM exports no "
        "parameter there but the tag)\n"}, false, [] {}, true},
      // A refused set leaves the project as it was, its data set state included.
      {"set" + p + " Tag=LT-200", 1, {},
       {"vkr-frame: the DTM took Tag=LT-200 but its data set does not keep it: the project still holds \"VKR Series "
        "DTM\" and was not changed\n"}, false, [] {}, true},
      {"set" + p + " Tag", 2, {}, {"vkr-frame: set takes NAME=VALUE, not Tag\n"}, false, [] {}, true},
      // Files the command cannot write: nothing reaches the device (its file stays as it was).
      {"download" + p, 1, {}, {"vkr-frame: nothing was done: C:\\VKR\\plant.vkr.compared cannot be written: "},
       false, [&] {
         std::filesystem::rename(project + ".compared", project + ".kept");
         std::filesystem::create_directory(project + ".compared");
         WriteFileText(device + ".before", ReadFileText(device));
       },
       true},
      {"upload" + p, 1, {}, {"vkr-frame: nothing was done: C:\\VKR\\plant.vkr.compared cannot be written: "}, false,
       [] {}, true},
      // A terminal: the bar is redrawn in place and its line ended once.
      {"download" + p, 0, {"downloaded; read back: the device "}, {"\rdownload: [", "] 100%\r\n"}, true,
       [&] {
         EXPECT_EQ(ReadFileText(device), ReadFileText(device + ".before"));
         std::filesystem::remove(project + ".compared");
         std::filesystem::rename(project + ".kept", project + ".compared");
       }},
      // The read back found the device equal: show compares each value with what it read.
      {"show" + p, 0,
       {"Tag   VKR Series DTM                              no\n", "data set: allDataLoaded\n",
        "device: as the last comparison found it\n"},
       {}},
      // A comparison replaces what the project knew of the device (here another tag) by what it read.
      {"compare" + p, 0, {"the data set equals the device\n"}, {"compare: 100%\n"}, false, [&] { deviceHeld("LT-1"); }},
      {"show" + p, 0,
       {"Tag   VKR Series DTM                              no\n", "device: as the last comparison found it\n"},
       {}},
      {"status" + p, 0, {"device status: ok\n"}, {"status: 100%\n"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    step.before();
    const std::string before = std::filesystem::exists(project) ? ReadFileText(project) : "";
    const Result r = Host(step.args, step.terminal);
    if (step.projectKept) {
      EXPECT_EQ(std::filesystem::exists(project) ? ReadFileText(project) : "", before);
    }
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

// The whole lifecycle, online to the simulated transmitter and back, each wait ended by what it
// waits for: the host waits for the DTM's word that the communication may be released before it
// releases it (released under the DTM, the DTM's release polled for five seconds and never said
// so), and no wait of the host ran out.
TEST_F(HostCommands, TheLifecycleReleasesTheCommunicationAfterTheDtmsWord) {
  Register();
  const Result r = Host("lifecycle");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::size_t prepared = r.out.find("    frame: prepared to release communication VKR-1\n");
  EXPECT_NE(prepared, std::string::npos) << r.out;
  EXPECT_LT(prepared, r.out.find("  IDtm::ReleaseCommunication: 0x00000000 (S_OK), result TRUE")) << r.out;
  EXPECT_EQ(r.out.find("did not come within"), std::string::npos) << r.out;
}

// The first line a person reads for each input, and the exit status: usage and help, a wrong
// command line (what is wrong comes first, then the usage), a project that is not there, a DTM that
// is not registered.
TEST_F(HostCommands, EachInputSaysFirstWhatHappened) {
  struct Case {
    std::string args;
    bool registered;
    int exitCode;
    std::string firstLine;  // of stdout for exit 0, else of stderr
  };
  const std::string usage = "usage: vkr-frame COMMAND [OPTIONS]";
  const std::string missing = "vkr-frame: there is no project file C:\\VKR\\none.vkr (an upload creates one)";
  const std::string none = " --project 'C:\\VKR\\none.vkr'";
  const std::string notRegistered = "; the DTM is not registered: run 'vkr-frame register' first";
  const Case cases[] = {
      {"", false, 2, "vkr-frame: no command given"},
      {"--help", false, 0, usage},
      {"-h", false, 0, usage},
      {"help", false, 0, usage},
      {"help upload", false, 0, "usage: vkr-frame upload [OPTIONS]"},
      {"upload --help", false, 0, "usage: vkr-frame upload [OPTIONS]"},
      {"ui 1 -h", false, 0, "usage: vkr-frame ui FUNCTION | --list | --test-control | --class CLASS [OPTIONS]"},
      {"register --help", false, 0, "usage: vkr-frame register [MODULE]"},
      {"bogus", false, 2, "vkr-frame: unknown command bogus"},
      {"classes extra", false, 2, "vkr-frame: classes takes no argument, not extra"},
      {"create --fast", false, 2, "vkr-frame: create: unknown option --fast"},
      {"upload --project", true, 2, "vkr-frame: upload: --project needs a value"},
      {"download --wire-delay", true, 2, "vkr-frame: download: --wire-delay needs a value"},
      {"status --wire-delay slow", true, 2, "vkr-frame: status: --wire-delay takes 0 or hart, not slow"},
      {"upload 'C:\\VKR\\x.vkr'", true, 2,
       "vkr-frame: upload takes no argument C:\\VKR\\x.vkr (a project is given with --project FILE)"},
      {"upload --with x", true, 2, "vkr-frame: upload: unknown option --with"},
      {"set", true, 2, "vkr-frame: set needs NAME=VALUE"},
      {"items --project", true, 2, "vkr-frame: items: --project needs a value"},
      {"ui abc", true, 2, "vkr-frame: ui: FUNCTION is a function id, a number from 1 to 2147483647 (ui --list lists them), not abc"},
      {"ui 0", true, 2, "vkr-frame: ui: FUNCTION is a function id, a number from 1 to 2147483647 (ui --list lists them), not 0"},
      {"ui 1 --page x", true, 2, "vkr-frame: ui: --page takes a page number or all, not x"},
      {"ui 8 --additional-status zz", true, 2,
       "vkr-frame: ui: --additional-status takes the status bytes in hex (e.g. 06000100), not zz"},
      {"ui 1 --png", true, 2, "vkr-frame: ui: --png needs a value"},
      {"ui", true, 2, "vkr-frame: ui: give one of FUNCTION, --list, --test-control or --class CLASS"},
      // Every command but upload on a project that is not there.
      {"download" + none, true, 1, missing},
      {"show" + none, true, 1, missing},
      {"set" + none + " Tag=A", true, 1, missing},
      {"status" + none, true, 1, missing},
      {"compare" + none, true, 1, missing},
      {"items" + none, true, 1, missing},
      {"ui 1" + none, true, 1, missing},
      // Before the DTM is registered.
      {"create", false, 1,
       "vkr-frame: creating the DTM failed: 0x800401F3 (CO_E_CLASSSTRING): no class is registered under that name" +
           notRegistered},
      {"upload", false, 1,
       "vkr-frame: the DTM could not be opened on C:\\VKR\\project.vkr: 0x800401F3 (CO_E_CLASSSTRING): no class is "
       "registered under that name" + notRegistered},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::filesystem::remove(registry.file());
    if (c.registered) Register();
    const Result r = Host(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    const std::string& text = c.exitCode == 0 ? r.out : r.err;
    EXPECT_EQ(text.substr(0, text.find('\n')), c.firstLine) << text;
    // A wrong command line shows the usage after its first line; help lists every command.
    if (c.exitCode == 2) {
      EXPECT_EQ(r.err.compare(r.err.find('\n') + 1, usage.size(), usage), 0) << r.err;
    }
    if (c.exitCode == 0 && c.firstLine == usage) {
      for (const char* command : {"register", "unregister", "classes", "create", "lifecycle", "info", "upload",
                                  "download", "show", "set", "compare", "status", "items", "ui", "help"})
        EXPECT_NE(r.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
    // Nothing made a project, the default one and the one named by mistake included.
    EXPECT_FALSE(std::filesystem::exists(drives / "c/VKR/project.vkr"));
    EXPECT_FALSE(std::filesystem::exists(drives / "c/VKR/x.vkr"));
    EXPECT_FALSE(std::filesystem::exists(drives / "c/VKR/none.vkr"));
  }
}

// A damaged project file, whatever the damage, is refused by every command alike with one line, and
// no file of the project changes (the device's neither).
TEST_F(HostCommands, EveryCommandRefusesADamagedProjectAndChangesNothing) {
  Register();
  const std::string p = " --project 'C:\\VKR\\plant.vkr'";
  ASSERT_EQ(Host("upload" + p).exitCode, 0);
  const std::string project = drives / "c/VKR/plant.vkr";
  const std::string good = ReadFileText(project);
  ASSERT_GT(good.size(), 64u);
  auto flip = [&](std::size_t at) {
    std::string b = good;
    b[at] = static_cast<char>(b[at] ^ 0x10);
    return b;
  };
  const std::pair<std::string, std::string> damages[] = {
      {"a flip in the mark", flip(2)},
      {"a flip in the length", flip(8)},
      {"a flip in the checksum", flip(13)},
      {"a flip in the device type text", flip(24)},
      {"a flip in the middle", flip(good.size() / 2)},
      {"a flip in the last byte", flip(good.size() - 1)},
      {"empty", ""},
      {"cut in the mark", good.substr(0, 5)},
      {"cut in the header", good.substr(0, 12)},
      {"cut in half", good.substr(0, good.size() / 2)},
      {"one byte short", good.substr(0, good.size() - 1)},
      {"one byte more", good + "x"},
      {"garbage", std::string("\x13\x37garbage\xff\x00 of no kind", 22)},
      {"a text file", "[project]\nname=plant\n"},
  };
  const std::string commands[] = {"show",    "upload", "set" + p + " Tag=A", "status", "compare",
                                  "items",   "download", "ui 1", "ui 5 --offline", "compare --with 'C:\\VKR\\twin.vkr'"};
  const std::string refusal = "vkr-frame: the project file C:\\VKR\\plant.vkr is not a data set this DTM can read (";
  for (const auto& [damage, bytes] : damages) {
    WriteFileText(project, bytes);
    // The partner of a comparison is a file of its own, damaged alike.
    const std::string twin = drives / "c/VKR/twin.vkr";
    WriteFileText(twin, bytes);
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(drives / "c/VKR"))
      files[entry.path().string()] = ReadFileText(entry.path().string());
    for (const std::string& command : commands) {
      SCOPED_TRACE(damage + ": " + command);
      const Result r = Host(command.rfind("set", 0) == 0 ? command : command + p);
      EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
      EXPECT_EQ(r.err.rfind(refusal, 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
      EXPECT_NE(r.err.find("); nothing was changed\n"), std::string::npos) << r.err;
      std::map<std::string, std::string> now;
      for (const auto& entry : std::filesystem::directory_iterator(drives / "c/VKR"))
        now[entry.path().string()] = ReadFileText(entry.path().string());
      EXPECT_EQ(now, files);
    }
  }
  // A project saved before the frame kept its data set in a container (the DTM's stream alone)
  // still loads, and the next save gives it the container.
  WriteFileText(project, good.substr(16));
  EXPECT_EQ(Host("show" + p).exitCode, 0);
  EXPECT_EQ(Host("upload" + p).exitCode, 0);
  EXPECT_EQ(ReadFileText(project), good);
}

// A command killed while it saves leaves every file of the project whole, old or new, and never a
// record of the device that the other files do not hold: the record is made unknown before the
// device changes and written last.
TEST_F(HostCommands, ACommandKilledAtEachSaveLeavesWholeAndAgreeingFiles) {
  Register();
  const std::string p = " --project 'C:\\VKR\\plant.vkr'";
  ASSERT_EQ(Host("upload" + p).exitCode, 0);
  const std::string project = drives / "c/VKR/plant.vkr", device = project + ".device", record = project + ".compared";
  const std::string paths[] = {project, device, record};
  auto files = [&] {
    std::vector<std::string> bytes;
    for (const std::string& path : paths) bytes.push_back(ReadFileText(path));
    return bytes;
  };
  auto restore = [&](const std::vector<std::string>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) WriteFileText(paths[i], bytes[i]);
  };
  const std::vector<std::string> before = files();
  ASSERT_EQ(before[2].rfind("verdict uploaded\n", 0), 0u) << before[2];
  // The device file's change counter: one more for each write the transmitter confirmed.
  auto counter = [](const std::string& device) {
    const std::size_t at = device.find("configChangeCounter ");
    return at == std::string::npos ? -1 : std::stoi(device.substr(at + 20, 4), nullptr, 16);
  };
  // Each command with the number of files it replaces besides the device file, which a download
  // replaces at each write the transmitter confirms.
  for (const auto& [command, saves] : {std::pair<std::string, int>{"download", 3}, {"upload", 3}, {"compare", 1}}) {
    restore(before);
    const Result done = Host(command + p);
    ASSERT_EQ(done.exitCode, 0) << done.err;
    const std::vector<std::string> after = files();
    const int writes = counter(after[1]) - counter(before[1]);
    if (command == "download") {
      ASSERT_GT(writes, 1);  // the download changed the device
    }
    int kills = 0;
    for (int save = 1;; ++save) {
      SCOPED_TRACE(command + " killed at save " + std::to_string(save));
      restore(before);
      setenv("VKR_FRAME_TEST_KILL_AT_SAVE", std::to_string(save).c_str(), 1);
      const Result r = Host(command + p);
      unsetenv("VKR_FRAME_TEST_KILL_AT_SAVE");
      if (r.exitCode == 0) break;  // no save left to kill at
      ++kills;
      EXPECT_EQ(r.exitCode, 9) << r.err;
      const std::vector<std::string> now = files();
      EXPECT_TRUE(now[0] == before[0] || now[0] == after[0]) << paths[0];
      EXPECT_TRUE(now[2] == before[2] || now[2] == after[2] || now[2] == "verdict none\n") << paths[2];
      // The device file holds the writes confirmed so far, in their order.
      EXPECT_TRUE(now[1] == before[1] || now[1] == after[1] ||
                  (counter(now[1]) > counter(before[1]) && counter(now[1]) < counter(after[1])))
          << now[1];
      // The record claims to know the device only while the device is as it says.
      if (now[2] == before[2]) {
        EXPECT_EQ(now[1], before[1]);
      }
      if (now[2] == after[2]) {
        EXPECT_EQ(now, after);
      }
      // The next commands find a project they can load; the next save of each file takes away what
      // the cut one left beside it.
      EXPECT_EQ(Host("show" + p).exitCode, 0);
      EXPECT_EQ(Host("upload" + p).exitCode, 0);
      for (const auto& entry : std::filesystem::directory_iterator(drives / "c/VKR"))
        EXPECT_EQ(entry.path().string().find(".new."), std::string::npos) << entry.path();
    }
    EXPECT_EQ(kills, saves + writes) << command;
  }
}

// The progress of an upload at the wire's speed arrives while it runs, not all at its end.
TEST_F(HostCommands, ProgressArrivesWhileTheTransferRuns) {
  Register();
  const std::string command = "VKR_REGISTRY='" + registry.file() + "' VKR_DRIVE_ROOT='" + drives.path() + "' '" +
                              VKR_FRAME_HOST "' upload --wire-delay hart 2>&1 >/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  using Clock = std::chrono::steady_clock;
  std::vector<std::pair<std::string, Clock::time_point>> lines;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) lines.emplace_back(line, Clock::now());
  const int status = pclose(pipe);
  const Clock::time_point end = Clock::now();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back().first, "upload: 100%\n");
  const auto& first = lines.front();
  EXPECT_EQ(first.first.rfind("upload: ", 0), 0u) << first.first;
  EXPECT_NE(first.first, "upload: 100%\n");
  // At 1200 bit/s each answer takes a good part of a second: the first percentage comes well
  // before the last.
  EXPECT_GT(std::chrono::duration_cast<std::chrono::milliseconds>(end - first.second).count(), 1000);
}

}  // namespace

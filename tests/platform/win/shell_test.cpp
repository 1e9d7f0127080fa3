// ShellExecuteA: the request a runner sees, and the default runner starting real programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ReadFileText;
using vkr::test::ScopedEnv;
using vkr::test::TempDir;
using vkr::test::WriteFileText;

INT_PTR Result(HINSTANCE h) { return reinterpret_cast<INT_PTR>(h); }

class ScopedRunner {
 public:
  explicit ScopedRunner(vkr::platform::ShellRunner r) : previous_(vkr::platform::SetShellRunner(std::move(r))) {}
  ~ScopedRunner() { vkr::platform::SetShellRunner(std::move(previous_)); }

 private:
  vkr::platform::ShellRunner previous_;
};

TEST(Shell, TheRunnerSeesMappedPaths) {
  TempDir root;
  ScopedEnv env("VKR_DRIVE_ROOT", root.path());
  std::vector<vkr::platform::ShellRequest> seen;
  ScopedRunner runner([&](const vkr::platform::ShellRequest& r) {
    seen.push_back(r);
    return INT_PTR{42};
  });
  EXPECT_GT(Result(ShellExecuteA(nullptr, "open", "C:\\Tools\\viewer", "\"D:\\Docs\\a b.pdf\"", "", SW_SHOWNORMAL)),
            32);
  EXPECT_GT(Result(ShellExecuteA(nullptr, nullptr, "https://example.com/x", nullptr, "C:\\Work", SW_HIDE)), 32);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].operation, "open");
  EXPECT_EQ(seen[0].target, root / "c/Tools/viewer");
  EXPECT_EQ(seen[0].parameters, "\"D:\\Docs\\a b.pdf\"");
  EXPECT_EQ(seen[0].directory, "");
  EXPECT_EQ(seen[0].show, SW_SHOWNORMAL);
  EXPECT_EQ(seen[1].target, "https://example.com/x");
  EXPECT_EQ(seen[1].directory, root / "c/Work");
  // What cannot name a file never reaches the runner.
  EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", "", nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);
  EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", nullptr, nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);
  EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", "\\\\srv\\x", nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_PNF);
  EXPECT_EQ(seen.size(), 2u);
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path) && !ReadFileText(path).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(Shell, DefaultRunnerStartsAProgramWithItsParameters) {
  TempDir dir;
  const std::string script = dir / "record.sh";
  // Writes each argument on a line, and the working directory, then renames into place so the
  // test never reads a half-written file.
  WriteFileText(script, "#!/bin/sh\n{ for a in \"$@\"; do echo \"[$a]\"; done; pwd; } > out.tmp && mv out.tmp out.txt\n");
  chmod(script.c_str(), 0755);
  const INT_PTR r = Result(ShellExecuteA(nullptr, "open", script.c_str(), "one \"two three\" a\\\"b \"\"",
                                         dir.path().c_str(), SW_SHOWNORMAL));
  EXPECT_GT(r, 32);
  ASSERT_TRUE(WaitForFile(dir / "out.txt"));
  EXPECT_EQ(ReadFileText(dir / "out.txt"), "[one]\n[two three]\n[a\"b]\n[]\n" + dir.path() + "\n");
}

TEST(Shell, DefaultRunnerFailuresUseTheWindowsCodes) {
  TempDir dir;
  const std::string document = dir / "readme.txt";
  WriteFileText(document, "text");
  TempDir emptyPath;  // no xdg-open on this PATH
  ScopedEnv path("PATH", emptyPath.path());
  struct Case {
    const char* operation;
    std::string file;
    std::string directory;
    INT_PTR expected;
  };
  const Case cases[] = {
      {"open", dir / "missing", "", SE_ERR_FNF},
      {"open", dir / "nodir/missing", "", SE_ERR_PNF},
      {"open", "no-such-program", "", SE_ERR_FNF},
      {"open", document, "", SE_ERR_NOASSOC},
      {"open", "https://example.com", "", SE_ERR_NOASSOC},
      {"print", document, "", SE_ERR_NOASSOC},
      {"open", "/bin/sh", dir / "nodir", SE_ERR_PNF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Result(ShellExecuteA(nullptr, c.operation, c.file.c_str(), "",
                                   c.directory.empty() ? nullptr : c.directory.c_str(), SW_SHOWNORMAL)),
              c.expected)
        << c.operation << " " << c.file;
  }
}

TEST(Shell, SplitsCommandLinesAsWindowsDoes) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {"  a   b\tc ", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"a\\\\b", {"a\\\\b"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"C:\\Docs\\file.pdf", {"C:\\Docs\\file.pdf"}},
      {"\"unterminated arg", {"unterminated arg"}},
  };
  for (const Case& c : cases) EXPECT_EQ(vkr::platform::SplitCommandLine(c.line), c.args) << c.line;
}

}  // namespace

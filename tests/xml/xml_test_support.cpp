// The drive root of the utility tests: one temporary directory per run, named in VKR_DRIVE_ROOT
// before main() so the platform maps "C:\..." into it.
#include "tests/xml/xml_test_support.h"

#include <cstdlib>
#include <string>

namespace vkr::test {
namespace {
std::filesystem::path MakeRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vkr_xml_tests_XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  std::filesystem::path root = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
  setenv("VKR_DRIVE_ROOT", root.c_str(), 1);
  return root;
}
const std::filesystem::path g_root = MakeRoot();

struct RemoveRoot {
  ~RemoveRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
} g_removeRoot;
}  // namespace

const std::filesystem::path& DriveRoot() { return g_root; }
}  // namespace vkr::test

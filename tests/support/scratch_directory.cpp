// The scratch directory of the utility tests.
#include "tests/support/scratch_directory.h"

#include <stdlib.h>

namespace vkr::test {
namespace {
struct ScratchDirectory {
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vkr-xml-tests-XXXXXX").string();
    path = ::mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};
}  // namespace

const std::filesystem::path& TestDirectory() {
  static ScratchDirectory scratch;
  return scratch.path;
}
}  // namespace vkr::test

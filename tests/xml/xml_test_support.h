// Shared helpers of the utility tests: a private drive root for Windows paths, file reading.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace vkr::test {

// The temporary drive root that Windows paths ("C:\...") of this test program map into; set up
// before the first platform call.
const std::filesystem::path& DriveRoot();

// The first file called `name` below `dir` (any depth), or an empty path.
inline std::filesystem::path FindFileBelow(const std::filesystem::path& dir, const std::string& name) {
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) return {};
  for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
    if (e.path().filename() == name) return e.path();
  return {};
}

inline std::string ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::u16string U16(const std::string& s) { return Utf8ToUtf16(s); }

}  // namespace vkr::test

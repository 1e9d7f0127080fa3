// Shared helpers of the utility tests: a private scratch directory, file reading and writing.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace vkr::test {

// A directory of this test program's own, removed when the program ends. Its path is a native
// absolute path, which the platform's Windows-path calls take unchanged.
const std::filesystem::path& TestDirectory();

inline std::string ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

inline std::u16string U16(const std::string& s) { return Utf8ToUtf16(s); }

}  // namespace vkr::test

// A private scratch directory of the utility tests; files are read and written with temp_files.h.
#pragma once

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace vkr::test {

// A directory of this test program's own, removed when the program ends. Its path is a native
// absolute path, which the platform's Windows-path calls take unchanged.
const std::filesystem::path& TestDirectory();

inline std::u16string U16(const std::string& s) { return Utf8ToUtf16(s); }

}  // namespace vkr::test

// Where the source tree lies, for tests, benchmarks and fuzz targets that read its data files.
// The path comes from the build, not from __FILE__: a compiler cache may rewrite source paths
// relative to the build directory, and the programs run from elsewhere.
#pragma once

#include <filesystem>

namespace vkr::test {

inline std::filesystem::path SourceTree() { return std::filesystem::path(VKR_SOURCE_DIR); }

inline std::filesystem::path FrameSchemas() { return SourceTree() / "frame" / "schemas"; }

}  // namespace vkr::test

// What the benchmark programs that drive the module share: a registry and drive root of the
// program's own, removed at the end, and a message pump of a fixed time.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/platform.h"

namespace vkr::test {

struct BenchScratch {
  explicit BenchScratch(const std::string& name) {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() / ("vkr-" + name + "-" + std::to_string(random()));
    std::filesystem::create_directories(dir / "drives");
    setenv("VKR_REGISTRY", (dir / "registry.reg").c_str(), 1);
    setenv("VKR_DRIVE_ROOT", (dir / "drives").c_str(), 1);
  }
  ~BenchScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::filesystem::path dir;
};

// Serves the thread's messages for ms milliseconds.
inline void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (GetTickCount() - start >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

}  // namespace vkr::test

// Runs a fuzz target without libFuzzer: every file of the directories and files named on the
// command line goes through the target once, in name order. The normal build links each target
// with this and replays its seed corpus as a test, so that the targets' checks hold for every seed
// with the compiler and sanitizers of that build. A broken check aborts with the file named.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  vkr::fuzz::Scratch::Directory();  // before any target touches the registry or the drives
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path given(argv[i]);
    if (fs::is_directory(given)) {
      for (const auto& e : fs::directory_iterator(given))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.push_back(given);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", file.string().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs\n", files.size());
  return 0;
}

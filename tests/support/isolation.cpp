// Keeps every test program away from the user's registry, drives and configuration: before any
// test runs, VKR_REGISTRY and VKR_DRIVE_ROOT point into a temporary directory that is removed at
// the end. Compiled into each test suite.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace {

class Isolation : public testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vkr-tests-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      ADD_FAILURE() << "cannot make a temporary directory for the tests";
      return;
    }
    dir_ = pattern;
    ::setenv("VKR_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    ::setenv("VKR_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::string dir_;
};

[[maybe_unused]] testing::Environment* const kIsolation = testing::AddGlobalTestEnvironment(new Isolation);

}  // namespace

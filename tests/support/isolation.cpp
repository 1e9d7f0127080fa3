// Keeps every test program away from the user's registry, drives and configuration: before any
// test runs, VKR_REGISTRY and VKR_DRIVE_ROOT point into a temporary directory that is removed at
// the end. It also names the seed of every shuffled round, which the brief output leaves out, so a
// failure that only some orders show can be run again. Compiled into each test suite.
#include <gtest/gtest.h>
#include <stdio.h>
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

// gtest moves the seed on by one each round, so the first round's seed with the same count of
// rounds gives the whole run again.
class SeedReport : public testing::EmptyTestEventListener {
 public:
  void OnTestIterationStart(const testing::UnitTest& unit_test, int iteration) override {
    // The full output names the seed itself.
    if (!GTEST_FLAG_GET(shuffle) || !GTEST_FLAG_GET(brief)) return;
    if (iteration == 0) {
      ::printf("Shuffled with --gtest_random_seed=%d (round 1)\n", unit_test.random_seed());
    } else {
      ::printf("Round %d shuffled with seed %d\n", iteration + 1, unit_test.random_seed());
    }
    ::fflush(stdout);
  }
};

[[maybe_unused]] const bool kSeedReport = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new SeedReport);
  return true;
}();

[[maybe_unused]] testing::Environment* const kIsolation = testing::AddGlobalTestEnvironment(new Isolation);

}  // namespace

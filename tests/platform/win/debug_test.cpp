// Debugger output reaches the sink installed, whole, from any thread.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ScopedEnv;

// Records what is written while it lives.
class Recorder {
 public:
  Recorder() {
    previous_ = vkr::platform::SetDebugOutputSink([this](std::string_view text) {
      std::lock_guard lock(mutex_);
      texts_.emplace_back(text);
    });
  }
  ~Recorder() { vkr::platform::SetDebugOutputSink(std::move(previous_)); }
  std::vector<std::string> texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  vkr::platform::DebugOutputSink previous_;
};

TEST(DebugOutput, TheSinkGetsTheExactText) {
  Recorder recorder;
  OutputDebugStringA("Vorn VKR Series DTM: CovFDT_BaseDTMImpl::SaveDtm()");
  OutputDebugStringW(u"Vorn VKR Series DTM: Größe");
  OutputDebugStringA(nullptr);
  OutputDebugStringA("line\r\n");
  EXPECT_EQ(recorder.texts(), (std::vector<std::string>{"Vorn VKR Series DTM: CovFDT_BaseDTMImpl::SaveDtm()",
                                                        "Vorn VKR Series DTM: Größe", "", "line\r\n"}));
}

TEST(DebugOutput, ManyThreadsLoseNothing) {
  Recorder recorder;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) OutputDebugStringA("x");
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(recorder.texts().size(), 1600u);
}

TEST(DebugOutput, DefaultGoesToStderrOnlyWhenAskedFor) {
  {
    ScopedEnv off("VKR_DEBUG_OUTPUT", std::nullopt);
    testing::internal::CaptureStderr();
    OutputDebugStringA("hidden");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  ScopedEnv on("VKR_DEBUG_OUTPUT", "1");
  testing::internal::CaptureStderr();
  OutputDebugStringA("shown");
  OutputDebugStringW(u"ended\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown\nended\n");
  // A test's sink takes over; removing it brings the default back.
  {
    Recorder recorder;
    testing::internal::CaptureStderr();
    OutputDebugStringA("recorded");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(recorder.texts().size(), 1u);
  }
  testing::internal::CaptureStderr();
  OutputDebugStringA("back");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "back\n");
}

}  // namespace

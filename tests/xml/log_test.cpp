// The service trace: switch, directory, line format and concurrent writers.
#include "xml/Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace {

// The log's lines: each must be "hh:mm:ss.mmm: " + text + " \r\n". Returns the texts; a byte that
// is not part of such a line is a failure.
std::vector<std::string> LineTexts(const std::string& log) {
  std::vector<std::string> texts;
  std::size_t at = 0;
  auto digits = [&](std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (from + i >= log.size() || log[from + i] < '0' || log[from + i] > '9') return false;
    return true;
  };
  while (at < log.size()) {
    const bool stamp = digits(at, 2) && log[at + 2] == ':' && digits(at + 3, 2) && log[at + 5] == ':' &&
                       digits(at + 6, 2) && log[at + 8] == '.' && digits(at + 9, 3) && log.compare(at + 12, 2, ": ") == 0;
    const std::size_t end = log.find(" \r\n", at);
    if (!stamp || end == std::string::npos || log.find('\n', at) < end) {
      ADD_FAILURE() << "not a log line at byte " << at << ": " << log.substr(at, 60);
      break;
    }
    texts.push_back(log.substr(at + 14, end - at - 14));
    at = end + 3;
  }
  return texts;
}

using vkr::test::ReadFileText;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = vkr::platform::SetDebugOutputSink([this](std::string_view text) {
      std::lock_guard lock(debugMutex_);
      debugLines_.emplace_back(text);
    });
    dirName_ = "log" + std::to_string(++counter_);
    SetLogDirectory((u"C:\\" + vkr::test::U16(dirName_)).c_str());
    std::filesystem::create_directories(NativeDir());
  }
  void TearDown() override {
    SetLogEnabled(false);
    SetLogDirectory(nullptr);
    vkr::platform::SetDebugOutputSink(previousSink_);
  }
  std::vector<std::string> DebugLines() {
    std::lock_guard lock(debugMutex_);
    return debugLines_;
  }
  // Where "C:\<dirName_>" lives on this machine.
  std::filesystem::path NativeDir() const {
    std::string native;
    vkr::platform::MapPath("C:\\" + dirName_, &native);
    return native;
  }
  std::string LogText() const { return ReadFileText(NativeDir() / kLogFileName); }

  std::string dirName_;
  static inline int counter_ = 0;
  vkr::platform::DebugOutputSink previousSink_;
  std::mutex debugMutex_;
  std::vector<std::string> debugLines_;
};

TEST(LogSwitch, StartsOffAndKeepsDirectoryCopies) {
  EXPECT_FALSE(IsLogEnabled());
  BSTR dir = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(GetLogDirectory(&dir), S_OK);
  EXPECT_EQ(dir, nullptr);

  std::u16string source = u"C:\\Logging";
  SetLogDirectory(source.c_str());
  source[0] = u'D';  // the setter copied the text
  ASSERT_EQ(GetLogDirectory(&dir), S_OK);
  EXPECT_EQ(vkr::View(dir), u"C:\\Logging");
  SysFreeString(dir);
  SetLogDirectory(nullptr);
  EXPECT_EQ(GetLogDirectory(nullptr), E_POINTER);
}

TEST_F(LogTest, OffWritesNothingEvenWithADirectory) {
  WriteLog(u"not written");
  WriteLogA("not written either");
  EXPECT_FALSE(std::filesystem::exists(NativeDir() / kLogFileName));
  EXPECT_TRUE(DebugLines().empty());
}

TEST_F(LogTest, OnWithoutDirectoryWritesNoFile) {
  SetLogDirectory(u"");
  SetLogEnabled(true);
  WriteLog(u"debugger only");
  WriteLog(nullptr);
  EXPECT_FALSE(std::filesystem::exists(NativeDir() / kLogFileName));
  EXPECT_EQ(DebugLines(), (std::vector<std::string>{"Vorn VKR Series DTM: debugger only", "Vorn VKR Series DTM: "}));
}

TEST_F(LogTest, LineHasTimeMillisecondsTextBlankAndCrLf) {
  SetLogEnabled(true);
  const char16_t text[] = u"CovFDT_BaseDTMImpl::SaveDtm()";  // 29 characters
  WriteLog(text);
  WriteLogA("abcdefghijklmnopqrstuvwxyz0123");  // 30 characters
  WriteLog(nullptr);
  const std::string log = LogText();
  const std::vector<std::string> texts = LineTexts(log);
  ASSERT_EQ(texts.size(), 3u) << log;
  EXPECT_EQ(texts[0], "CovFDT_BaseDTMImpl::SaveDtm()");
  EXPECT_EQ(texts[1], "abcdefghijklmnopqrstuvwxyz0123");
  EXPECT_EQ(texts[2], "");
  // Nothing but the lines: no header, no stray bytes.
  EXPECT_EQ(log.size(), 8u + 6u + 29u + 3u + 47u + 8u + 6u + 3u);
}

TEST_F(LogTest, DirectoryEndingWithBackslashStillFindsTheFile) {
  SetLogDirectory((u"C:\\" + vkr::test::U16(dirName_) + u"\\").c_str());
  SetLogEnabled(true);
  WriteLog(u"with trailing separator");
  EXPECT_NE(LogText().find("with trailing separator \r\n"), std::string::npos);
}

TEST_F(LogTest, NonAsciiTextSurvivesAsUtf8) {
  SetLogEnabled(true);
  WriteLog(u"Füllstand \u00b0C \u6e2c");
  EXPECT_NE(LogText().find("F\xc3\xbcllstand \xc2\xb0" "C \xe6\xb8\xac \r\n"), std::string::npos);
}

TEST_F(LogTest, ConcurrentWritersLoseAndInterleaveNothing) {
  SetLogEnabled(true);
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        const std::u16string s = vkr::test::U16("writer " + std::to_string(t) + " line " + std::to_string(i) +
                                                " ........................................");
        WriteLog(s.c_str());
      }
    });
  // The directory may change under the writers; they must keep working on a consistent copy.
  for (int i = 0; i < 50; ++i) SetLogDirectory((u"C:\\" + vkr::test::U16(dirName_)).c_str());
  for (auto& th : threads) th.join();

  std::vector<std::vector<int>> seen(kThreads);
  for (const std::string& text : LineTexts(LogText())) {
    int t = -1, i = -1;
    char dots[64] = {};
    ASSERT_EQ(std::sscanf(text.c_str(), "writer %d line %d %63s", &t, &i, dots), 3) << text;
    ASSERT_TRUE(t >= 0 && t < kThreads) << text;
    EXPECT_EQ(std::string(dots), std::string(40, '.')) << text;
    seen[t].push_back(i);
  }
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kLines)) << "writer " << t;
    for (int i = 0; i < kLines; ++i) EXPECT_EQ(seen[t][i], i) << "writer " << t;
  }
}

}  // namespace

// The service trace: switch, directory, line format and concurrent writers.
#include "xml/Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "tests/xml/xml_test_support.h"
#include "xml/PendingPlatform.h"

namespace {

using vkr::test::DriveRoot;
using vkr::test::FindFileBelow;
using vkr::test::ReadFileBytes;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CreateFileA || !GetLocalTime) GTEST_SKIP() << "the platform has no files or clock yet";
    dirName_ = "log" + std::to_string(++counter_);
    SetLogDirectory((u"C:\\" + vkr::test::U16(dirName_)).c_str());
    std::filesystem::create_directories(NativeDir());
  }
  void TearDown() override {
    SetLogEnabled(false);
    SetLogDirectory(nullptr);
  }
  // Where "C:\<dirName_>" lives on this machine.
  std::filesystem::path NativeDir() const { return DriveRoot() / "c" / dirName_; }
  std::string LogText() const {
    auto p = FindFileBelow(DriveRoot(), kLogFileName);
    return p.empty() ? std::string() : ReadFileBytes(p);
  }

  std::string dirName_;
  static inline int counter_ = 0;
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
  EXPECT_TRUE(FindFileBelow(DriveRoot(), kLogFileName).empty());
}

TEST_F(LogTest, OnWithoutDirectoryWritesNoFile) {
  SetLogDirectory(u"");
  SetLogEnabled(true);
  WriteLog(u"debugger only");
  EXPECT_TRUE(FindFileBelow(DriveRoot(), kLogFileName).empty());
}

TEST_F(LogTest, LineHasTimeMillisecondsTextBlankAndCrLf) {
  SetLogEnabled(true);
  const char16_t text[] = u"CovFDT_BaseDTMImpl::SaveDtm()";  // 29 characters
  WriteLog(text);
  WriteLogA("abcdefghijklmnopqrstuvwxyz0123");  // 30 characters
  WriteLog(nullptr);
  const std::string log = LogText();
  const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d: ([^\r\n]*) \r\n)");
  std::vector<std::string> texts;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    texts.push_back((*it)[1]);
    if (texts.size() == 2) {
      EXPECT_EQ(it->length(), 47) << it->str();
    }
  }
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

  const std::string log = LogText();
  const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d: writer (\d+) line (\d+) \.{40} \r\n)");
  std::vector<std::vector<int>> seen(kThreads);
  std::size_t covered = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    seen[std::stoi((*it)[1])].push_back(std::stoi((*it)[2]));
    covered += static_cast<std::size_t>(it->length());
  }
  EXPECT_EQ(covered, log.size()) << "a line was cut or mixed with another";
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kLines)) << "writer " << t;
    for (int i = 0; i < kLines; ++i) EXPECT_EQ(seen[t][i], i) << "writer " << t;
  }
}

}  // namespace

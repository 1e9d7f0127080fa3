// Files on mapped Windows paths: dispositions, reads and writes, appends from many threads,
// searches, directories, handles.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/platform.h"
#include "platform/win/handles.h"
#include "platform/win/native.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::ReadFileText;
using vkr::test::ScopedEnv;
using vkr::test::TempDir;
using vkr::test::WriteFileText;

// A temporary directory standing for the drives.
class Files : public testing::Test {
 protected:
  Files() : env_("VKR_DRIVE_ROOT", root_.path()) {}
  // The native path of a file below the drive root, with its directory made.
  std::string Native(const std::string& relative) const {
    const std::string path = root_ / relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return path;
  }

  TempDir root_;
  ScopedEnv env_;
};

BOOL Write(HANDLE h, std::string_view text) {
  DWORD written = 0;
  const BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  EXPECT_EQ(written, ok ? text.size() : written);
  return ok;
}

std::string ReadAll(HANDLE h) {
  std::string out;
  char buf[7];  // small, so reads take several calls
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  return out;
}

TEST_F(Files, DispositionsCreateOpenAndTruncate) {
  ASSERT_TRUE(CreateDirectoryA("C:\\Logging", nullptr));
  const char* path = "C:\\Logging\\VornExampleDevDTM_Log.txt";
  struct Step {
    DWORD disposition;
    DWORD access;
    bool opens;
    DWORD lastError;
    const char* contentAfter;  // after writing "x" when the handle may write
  };
  const Step steps[] = {
      {OPEN_EXISTING, GENERIC_READ, false, ERROR_FILE_NOT_FOUND, nullptr},
      {TRUNCATE_EXISTING, GENERIC_WRITE, false, ERROR_FILE_NOT_FOUND, nullptr},
      {CREATE_NEW, GENERIC_WRITE, true, ERROR_SUCCESS, "x"},
      {CREATE_NEW, GENERIC_WRITE, false, ERROR_FILE_EXISTS, "x"},
      {OPEN_ALWAYS, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, "x"},  // writes "x" over "x" at 0
      {OPEN_ALWAYS, FILE_APPEND_DATA, true, ERROR_ALREADY_EXISTS, "xx"},
      {CREATE_ALWAYS, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, "x"},
      {TRUNCATE_EXISTING, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "x"},
      {TRUNCATE_EXISTING, GENERIC_WRITE, true, ERROR_SUCCESS, "x"},
      {OPEN_EXISTING, GENERIC_READ, true, ERROR_SUCCESS, "x"},
      {0, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "x"},
      {6, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "x"},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    SetLastError(12345);
    HANDLE h = CreateFileA(path, s.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, s.disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, s.opens);
    EXPECT_EQ(GetLastError(), s.lastError);
    if (h != INVALID_HANDLE_VALUE) {
      if (s.access != GENERIC_READ) {
        EXPECT_TRUE(Write(h, "x"));
      }
      EXPECT_TRUE(CloseHandle(h));
    }
    if (s.contentAfter) {
      EXPECT_EQ(ReadFileText(Native("c/Logging/VornExampleDevDTM_Log.txt")), s.contentAfter);
    }
  }
}

TEST_F(Files, OpenFailuresTellFileFromPath) {
  struct Case {
    const char* path;
    DWORD disposition;
    DWORD error;
  };
  ASSERT_TRUE(CreateDirectoryA("C:\\dir", nullptr));
  const Case cases[] = {
      {"C:\\dir\\missing.txt", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"C:\\nodir\\missing.txt", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"C:\\nodir\\new.txt", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"C:\\dir", OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"C:\\dir\\*.txt", OPEN_ALWAYS, ERROR_INVALID_NAME},
      {"\\\\server\\share\\x.txt", OPEN_ALWAYS, ERROR_BAD_NETPATH},
      {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CreateFileA(c.path, GENERIC_READ, 0, nullptr, c.disposition, 0, nullptr), INVALID_HANDLE_VALUE)
        << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(Files, ReadsInPiecesAndAtTheEnd) {
  WriteFileText(Native("c/data.txt"), std::string("0123456789abcdefghij\0tail", 25));
  HANDLE h = CreateFileW(u"C:\\data.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 25u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(ReadAll(h), std::string("0123456789abcdefghij\0tail", 25));
  char buf[4];
  DWORD n = 99;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  // A read handle does not write.
  EXPECT_FALSE(Write(h, "no"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  OVERLAPPED ov{};
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(CloseHandle(h));
  // Writing only does not read.
  h = CreateFileA("C:\\data.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);
}

TEST_F(Files, SetFilePointerMovesAndRefusesToGoBeforeTheStart) {
  HANDLE h = CreateFileA("C:\\seek.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "0123456789"));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 10u);
  EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_CURRENT), 6u);
  char c[2];
  DWORD n;
  ASSERT_TRUE(ReadFile(h, c, 2, &n, nullptr));
  EXPECT_EQ(std::string(c, 2), "67");
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 8u);  // unchanged by the failure
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // With the high part, positions beyond 4 GiB are fine (the file stays sparse).
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), 0u);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_CURRENT), 5u);
  EXPECT_EQ(high, 1);
  // Without it, such a position does not fit the result.
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(h);
}

// The log's pattern, made safe: every thread opens for appending and writes whole lines.
TEST_F(Files, AppendingThreadsNeverOverwriteEachOther) {
  ASSERT_TRUE(CreateDirectoryA("C:\\Logging", nullptr));
  constexpr int kThreads = 8, kLines = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        HANDLE h = CreateFileA("C:\\Logging\\log.txt", FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, 0, nullptr, FILE_END);
        const std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + " \r\n";
        EXPECT_TRUE(Write(h, line));
        CloseHandle(h);
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::string text = ReadFileText(Native("c/Logging/log.txt"));
  std::size_t lines = 0;
  for (std::size_t pos = 0; (pos = text.find(" \r\n", pos)) != std::string::npos; pos += 3) ++lines;
  EXPECT_EQ(lines, static_cast<std::size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t)
    EXPECT_NE(text.find("thread " + std::to_string(t) + " line " + std::to_string(kLines - 1) + " \r\n"),
              std::string::npos);
}

TEST_F(Files, HandlesAreCheckedAndNeverReused) {
  HANDLE a = CreateFileA("C:\\h.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  EXPECT_NE(a, nullptr);
  EXPECT_LE(reinterpret_cast<std::uintptr_t>(a), 0xFFFFFFFFu);
  ASSERT_TRUE(CloseHandle(a));
  EXPECT_FALSE(CloseHandle(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(Write(a, "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE b = CreateFileA("C:\\h.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(a, b);
  EXPECT_FALSE(Write(a, "x"));  // the old number does not reach the new file
  EXPECT_EQ(ReadFileText(Native("c/h.txt")), "");
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234)}) {
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  }
  // Search handles are closed by FindClose only, and file handles not by it.
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CloseHandle(find));
  EXPECT_FALSE(FindClose(b));
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_EQ(vkr::platform::LookupHandleObject(find), nullptr) << "FindClose left the search in the table";
}

TEST_F(Files, SearchesMatchWithoutCaseInNameOrder) {
  ASSERT_TRUE(CreateDirectoryA("C:\\schemas", nullptr));
  for (const char* name : {"DTMInformationSchema.xml", "fdtdatatypesschema.XML", "b.txt", "A.xml"})
    WriteFileText(Native(std::string("c/schemas/") + name), "x");
  ASSERT_TRUE(CreateDirectoryA("C:\\schemas\\Sub", nullptr));
  auto list = [](const char* pattern, bool dirsOnly = false) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = dirsOnly ? FindFirstFileExA(pattern, FindExInfoStandard, &data, FindExSearchLimitToDirectories,
                                           nullptr, 0)
                        : FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName);
    } while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(h);
    return names;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(list("C:\\schemas\\*"),
            (Names{".", "..", "A.xml", "b.txt", "DTMInformationSchema.xml", "fdtdatatypesschema.XML", "Sub"}));
  EXPECT_EQ(list("C:\\schemas\\*.xml"), (Names{"A.xml", "DTMInformationSchema.xml", "fdtdatatypesschema.XML"}));
  EXPECT_EQ(list("C:/schemas/FDTDataTypesSchema.xml"), (Names{"fdtdatatypesschema.XML"}));
  EXPECT_EQ(list("C:\\schemas\\?.*"), (Names{"..", "A.xml", "b.txt"}));
  EXPECT_EQ(list("C:\\schemas\\*", true), (Names{".", "..", "Sub"}));
  // The data of an entry.
  WIN32_FIND_DATAW w;
  HANDLE h = FindFirstFileW(u"C:\\schemas\\dtminformationschema.xml", &w);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(w.cFileName), u"DTMInformationSchema.xml");
  EXPECT_EQ(w.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(w.nFileSizeLow, 1u);
  EXPECT_GT(w.ftLastWriteTime.dwHighDateTime, 0x01D00000u);  // after 2015
  FindClose(h);
  // Case-sensitive on request.
  WIN32_FIND_DATAA a;
  EXPECT_EQ(FindFirstFileExA("C:\\schemas\\a.XML", FindExInfoBasic, &a, FindExSearchNameMatch, nullptr,
                             FIND_FIRST_EX_CASE_SENSITIVE),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, SearchFailures) {
  struct Case {
    const char* pattern;
    DWORD error;
  };
  const Case cases[] = {
      {"C:\\missing\\*", ERROR_PATH_NOT_FOUND},
      {"C:\\*.none", ERROR_FILE_NOT_FOUND},
      {"C:\\", ERROR_FILE_NOT_FOUND},
      {"\\\\srv\\share\\*", ERROR_BAD_NETPATH},
  };
  for (const Case& c : cases) {
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(c.pattern, &data), INVALID_HANDLE_VALUE) << c.pattern;
    EXPECT_EQ(GetLastError(), c.error) << c.pattern;
  }
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileExA("C:\\*", FindExInfoStandard, &data, FindExSearchLimitToDevices, nullptr, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(FindFirstFileA("C:\\*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileA(reinterpret_cast<HANDLE>(0x99), &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The DTM creates its log directory step by step: "D:\", "D:\A\", "D:\A\B".
TEST_F(Files, DirectoriesStepByStepAttributesAndDeletion) {
  EXPECT_FALSE(CreateDirectoryA("D:\\", nullptr));  // the drive exists
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CreateDirectoryA("D:\\A\\", nullptr));
  EXPECT_TRUE(CreateDirectoryA("D:\\A\\B", nullptr));
  EXPECT_FALSE(CreateDirectoryA("D:\\A\\B", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(u"D:\\X\\Y", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("D:\\A\\B"), FILE_ATTRIBUTE_DIRECTORY);

  WriteFileText(Native("d/A/B/VornExampleDevDTM_Log.txt"), "old");
  EXPECT_EQ(GetFileAttributesW(u"D:\\A\\B\\VornExampleDevDTM_Log.txt"), FILE_ATTRIBUTE_NORMAL);
  chmod(Native("d/A/B/VornExampleDevDTM_Log.txt").c_str(), 0444);
  EXPECT_EQ(GetFileAttributesA("D:\\A\\B\\VornExampleDevDTM_Log.txt"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(GetFileAttributesA("D:\\A\\B\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("D:\\none\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_TRUE(DeleteFileA("D:\\A\\B\\VornExampleDevDTM_Log.txt"));
  EXPECT_FALSE(DeleteFileA("D:\\A\\B\\VornExampleDevDTM_Log.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(u"D:\\A\\B"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("D:\\A\\*"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

// A file written, flushed and renamed over another: the rename replaces only when asked to.
TEST_F(Files, AFlushedFileRenamedOverAnotherReplacesIt) {
  WriteFileText(Native("d/A/old.txt"), "old");
  HANDLE h = CreateFileA("D:\\A\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Write(h, "new"));
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  h = CreateFileA("D:\\A\\new.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);

  EXPECT_FALSE(MoveFileExA("D:\\A\\new.txt", "D:\\A\\old.txt", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadFileText(Native("d/A/old.txt")), "old");
  EXPECT_TRUE(MoveFileExA("D:\\A\\new.txt", "D:\\A\\old.txt", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(ReadFileText(Native("d/A/old.txt")), "new");
  EXPECT_EQ(GetFileAttributesA("D:\\A\\new.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(MoveFileExA("D:\\A\\new.txt", "D:\\A\\other.txt", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA("D:\\A\\old.txt", "D:\\none\\old.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA("D:\\A\\old.txt", "D:\\A\\x.txt", 0x2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Locks belong to a handle: another handle, of this process or any other, waits for them or is
// refused at once; closing the handle ends its locks. (The frame's tests lock across processes.)
TEST_F(Files, ALockHoldsAgainstEveryOtherHandleUntilItsHandleLetsGo) {
  WriteFileText(Native("d/A/locked.txt"), "held");
  auto open = [](DWORD access) {
    return CreateFileA("D:\\A\\locked.txt", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  const DWORD both = GENERIC_READ | GENERIC_WRITE, now = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
  HANDLE first = open(both), second = open(both), reader = open(GENERIC_READ);
  OVERLAPPED at{};
  ASSERT_TRUE(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at));
  EXPECT_FALSE(LockFileEx(second, now, 0, MAXDWORD, MAXDWORD, &at));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  EXPECT_FALSE(LockFileEx(reader, now, 0, MAXDWORD, MAXDWORD, &at));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(UnlockFileEx(second, 0, MAXDWORD, MAXDWORD, &at));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  std::atomic<int> stage{0};
  std::thread waiter([&] {
    stage = 1;
    stage = LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at) ? 2 : 3;
  });
  while (stage == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(stage.load(), 1);  // still waiting
  CloseHandle(first);
  waiter.join();
  EXPECT_EQ(stage.load(), 2);
  EXPECT_TRUE(UnlockFileEx(second, 0, MAXDWORD, MAXDWORD, &at));
  for (HANDLE h : {second, reader}) CloseHandle(h);
}

// Of many renames to one new name without MOVEFILE_REPLACE_EXISTING, exactly one succeeds: the
// name is checked in the same step as the rename.
TEST_F(Files, OnlyOneOfRacingRenamesTakesAFreeName) {
  constexpr int kThreads = 8;
  for (int t = 0; t < kThreads; ++t) WriteFileText(Native("d/A/racer" + std::to_string(t)), std::to_string(t));
  std::atomic<int> won{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const std::string from = "D:\\A\\racer" + std::to_string(t);
      if (MoveFileExA(from.c_str(), "D:\\A\\goal", MOVEFILE_WRITE_THROUGH))
        ++won;
      else if (GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        ++refused;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(won.load(), 1);
  EXPECT_EQ(refused.load(), kThreads - 1);
}

TEST_F(Files, TempPathAndLongNamesFollowTheSizeRule) {
  TempDir tmp;
  ScopedEnv env("TMPDIR", tmp.path());
  const std::string expected = tmp.path() + "/";
  char small[4] = "###";
  EXPECT_EQ(GetTempPathA(sizeof small, small), expected.size() + 1);
  EXPECT_STREQ(small, "###");
  char buf[512];
  EXPECT_EQ(GetTempPathA(sizeof buf, buf), expected.size());
  EXPECT_EQ(std::string(buf), expected);
  WCHAR wbuf[512];
  EXPECT_EQ(GetTempPathW(512, wbuf), expected.size());
  {
    ScopedEnv relative("TMPDIR", "relative/dir");
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 5u);
    EXPECT_STREQ(buf, "/tmp/");
  }
  // A file made there is reachable by the returned path.
  EXPECT_EQ(GetTempPathA(sizeof buf, buf), expected.size());
  HANDLE h = CreateFileA((std::string(buf) + "x.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  ASSERT_TRUE(CreateDirectoryA("C:\\Program Files", nullptr));
  EXPECT_EQ(GetLongPathNameA("C:\\Program Files", buf, sizeof buf), 16u);
  EXPECT_STREQ(buf, "C:\\Program Files");
  EXPECT_EQ(GetLongPathNameA("C:\\Program Files", buf, 16), 17u);
  EXPECT_EQ(GetLongPathNameA("C:\\Progra~1", buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetLongPathNameW(u"C:\\Program Files", wbuf, 512), 16u);
}

TEST_F(Files, AccessTestsExistenceAndPermission) {
  WriteFileText(Native("c/readonly.xml"), "x");
  chmod(Native("c/readonly.xml").c_str(), 0444);
  EXPECT_EQ(_access("C:\\readonly.xml", 0), 0);
  EXPECT_EQ(_waccess(u"C:\\readonly.xml", 4), 0);
  errno = 0;
  EXPECT_EQ(_waccess(u"C:\\missing.xml", 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(_access("C:\\readonly.xml", 1), -1);
  EXPECT_EQ(errno, EINVAL);
  if (geteuid() != 0) {  // root may write anything
    EXPECT_EQ(_access("C:\\readonly.xml", 2), -1);
    EXPECT_EQ(errno, EACCES);
  }
}

// Windows finds a name by any case of it, for the file and each folder on the way, and keeps the
// case the name was made with; a new name takes the case typed.
TEST_F(Files, NamesAreFoundInAnyCaseAndKeepTheirOwn) {
  WriteFileText(Native("c/VKR/Low.vkr"), "kept");
  HANDLE h = CreateFileA("C:\\vkr\\LOW.VKR", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char text[8] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, text, sizeof text - 1, &read, nullptr));
  EXPECT_STREQ(text, "kept");
  CloseHandle(h);
  h = CreateFileA("C:\\vKr\\New.Txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(MoveFileExA("C:\\VKR\\NEW.TXT", "C:\\vkr\\low.VKR", MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(CreateDirectoryA("C:\\Vkr\\Sub", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\VKR\\SUB", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileAttributesA("C:\\vkr\\sub"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(DeleteFileA("c:\\VKR\\LOW.VKR"));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root_.path())) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{root_ / "c", root_ / "c/VKR", root_ / "c/VKR/Sub"}));
}

// No call reaches a file through a link that leads out of the drive root, nor through an absolute
// one, whenever the link was put there; a relative link that stays inside is followed.
TEST_F(Files, NoLinkLeadsOutOfTheDriveRoot) {
  TempDir outside;
  WriteFileText(outside / "o.txt", "outside");
  WriteFileText(Native("c/VKR/p.txt"), "inside");
  const std::string links[][2] = {{"c/out", outside.path()}, {"c/up", "../.."}, {"c/abs", root_ / "c/VKR"}};
  for (const auto& [link, target] : links) ASSERT_EQ(symlink(target.c_str(), (root_ / link).c_str()), 0);
  ASSERT_EQ(symlink((outside / "o.txt").c_str(), Native("c/VKR/o.txt").c_str()), 0);
  ASSERT_EQ(symlink("VKR", Native("c/in").c_str()), 0);
  const std::string o = std::filesystem::path(outside.path()).filename().string();
  for (const std::string& folder : std::vector<std::string>{"C:\\out\\", "C:\\abs\\", "C:\\up\\" + o + "\\"}) {
    SCOPED_TRACE(folder);
    const std::string file = folder + (folder == "C:\\abs\\" ? "p.txt" : "o.txt");
    for (const DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, CREATE_NEW, OPEN_ALWAYS}) {
      EXPECT_EQ(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    }
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_FALSE(CreateDirectoryA((folder + "d").c_str(), nullptr));
    EXPECT_FALSE(MoveFileExA("C:\\VKR\\p.txt", (folder + "moved.txt").c_str(), 0));
    EXPECT_FALSE(MoveFileExA(file.c_str(), "C:\\VKR\\moved.txt", 0));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    WIN32_FIND_DATAA found;
    EXPECT_EQ(FindFirstFileA((folder + "*").c_str(), &found), INVALID_HANDLE_VALUE);
  }
  // The link at the file's own name: opening follows it (refused), a rename replaces the link.
  EXPECT_EQ(CreateFileA("C:\\VKR\\o.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(_access("C:\\VKR\\o.txt", 0), -1);
  HANDLE h = CreateFileA("C:\\in\\P.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(MoveFileExA("C:\\in\\p.txt", "C:\\VKR\\o.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadFileText(outside / "o.txt"), "outside");
  EXPECT_EQ(ReadFileText(root_ / "c/VKR/o.txt"), "inside");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(outside.path())) names.push_back(e.path().string());
  EXPECT_EQ(names, std::vector<std::string>{outside / "o.txt"});
}

// A standard handle is a console when its descriptor is a terminal, and not when it is redirected.
TEST(StdHandles, AConsoleIsATerminalAndARedirectedHandleIsNot) {
  const int saved = dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  auto onFd2 = [&](int fd) {
    fflush(stderr);
    CloseHandle(GetStdHandle(STD_ERROR_HANDLE));  // the next call takes the new descriptor
    ASSERT_GE(dup2(fd, STDERR_FILENO), 0);
  };
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);

  onFd2(terminal);
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), console);
  DWORD mode = 0;
  EXPECT_TRUE(GetConsoleMode(console, &mode));
  EXPECT_EQ(mode, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(console, "50%\r", 4, &written, nullptr));
  char echo[8] = {};
  EXPECT_EQ(read(master, echo, sizeof echo), 4);

  onFd2(pipeFds[1]);
  mode = 7;
  EXPECT_FALSE(GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(mode, 7u);
  EXPECT_FALSE(GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE + 5), &mode));
  EXPECT_EQ(GetStdHandle(1), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  onFd2(saved);
  CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
  for (int fd : {saved, master, terminal, pipeFds[0], pipeFds[1]}) close(fd);
}

}  // namespace

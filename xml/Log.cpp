// The service trace: switch, directory and the writing of one line.
#include "xml/Log.h"

#include <atomic>
#include <mutex>
#include <string>

namespace {

std::atomic<bool> g_logOn{false};

// Guards the directory, which may be replaced while other threads write lines.
std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}
std::u16string& LogDirectory() {
  static std::u16string dir;
  return dir;
}

void AppendToFile(const std::string& path, const std::string& line) {
  // Append access puts every write at the end in one piece, also against other processes.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void SetLogEnabled(bool on) { g_logOn.store(on); }

bool IsLogEnabled() { return g_logOn.load(); }

void SetLogDirectory(LPCWSTR directory) {
  std::u16string copy(vkr::View(directory));
  std::lock_guard lock(LogMutex());
  LogDirectory().swap(copy);
}

HRESULT GetLogDirectory(BSTR* directory) {
  if (!directory) return E_POINTER;
  *directory = nullptr;
  std::lock_guard lock(LogMutex());
  const std::u16string& dir = LogDirectory();
  if (dir.empty()) return S_OK;
  *directory = SysAllocStringLen(dir.data(), static_cast<UINT>(dir.size()));
  return *directory ? S_OK : E_OUTOFMEMORY;
}

void WriteLog(LPCWSTR text) {
  if (!g_logOn.load()) return;
  const std::string text8 = vkr::Utf16ToUtf8(vkr::View(text));

  OutputDebugStringA((std::string(kLogDebugPrefix) + text8).c_str());

  std::u16string dir;
  {
    std::lock_guard lock(LogMutex());
    dir = LogDirectory();
  }
  if (dir.empty()) return;
  // The separator is added even after a directory that ends with one; the file system takes it.
  const std::string path = vkr::Utf16ToUtf8(dir) + "\\" + kLogFileName;

  // One clock reading for the time of day and its milliseconds, so a line near a second's end
  // cannot be a second off.
  SYSTEMTIME now{};
  GetLocalTime(&now);
  std::string line = vkr::Format("%02u:%02u:%02u.%03u: ", static_cast<unsigned>(now.wHour),
                                 static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond),
                                 static_cast<unsigned>(now.wMilliseconds));
  line += text8;
  line += " \r\n";
  AppendToFile(path, line);
}

void WriteLogA(const char* text) {
  if (!g_logOn.load()) return;
  std::u16string wide = vkr::Utf8ToUtf16(text ? std::string_view(text) : std::string_view());
  WriteLog(wide.c_str());
}

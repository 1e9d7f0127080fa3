// Windows paths to native paths.
#include "platform/win/paths.h"

#include <cstdlib>

#include "platform/com/hresult.h"
#include "platform/win/native.h"
#include "platform/win/text.h"

namespace vkr::platform {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
}  // namespace

std::string DriveRoot() {
  std::string root;
  if (const char* env = std::getenv("VKR_DRIVE_ROOT"); env && *env) {
    root = env;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    root = std::string(xdg) + "/vkr/drives";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    root = std::string(home) + "/.local/share/vkr/drives";
  } else {
    root = "/tmp/vkr-drives";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

DWORD MapPath(std::string_view path, std::string* native) {
  native->clear();
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) return ERROR_INVALID_NAME;
    return ERROR_BAD_NETPATH;
  }
  std::string_view rest = path;
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') {
    const char drive = static_cast<char>(path[0] | 0x20);
    std::string dir = DriveRoot() + "/" + drive;
    MakeDirectories(dir);  // a failure shows as "path not found" in the call that uses the path
    *native = dir;
    rest = path.substr(2);
    // "C:" and "C:name" (relative to the drive's current directory on Windows) both start at the
    // drive's root here.
    if (!rest.empty() && !IsSeparator(rest.front())) *native += '/';
  }
  for (char c : rest) *native += c == '\\' ? '/' : c;
  return ERROR_SUCCESS;
}

DWORD MapPath(std::u16string_view path, std::string* native) {
  return MapPath(vkr::Utf16ToUtf8(path), native);
}

}  // namespace vkr::platform

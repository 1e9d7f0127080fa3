// Windows paths to native paths.
#include "platform/win/paths.h"

#include <cstdlib>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/win/native.h"
#include "platform/win/text.h"

namespace vkr::platform {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The part of a drive path after "X:" as the native path below the drive's folder ("" or starting
// with '/'). "C:" and "C:name" (relative to the drive's current directory on Windows) both start at
// the drive's root here. "." and ".." go as Windows resolves them, by name: ".." at the root stays
// at the root ("C:\..\y" is "C:\y"), so no drive path leads out of its drive.
std::string InsideDrive(std::string_view rest) {
  if (rest.empty()) return {};
  // The names between separators, empty ones (doubled separators) kept; [0] stands for the root.
  std::vector<std::string_view> names{std::string_view()};
  std::size_t at = IsSeparator(rest.front()) ? 1 : 0;
  for (;;) {
    std::size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string_view name = rest.substr(at, end - at);
    if (name == "..") {
      while (names.size() > 1 && names.back().empty()) names.pop_back();
      if (names.size() > 1) names.pop_back();
    } else if (name != ".") {
      names.push_back(name);
    }
    if (end >= rest.size()) break;
    at = end + 1;
  }
  if (names.size() == 1) return "/";
  std::string native;
  for (std::size_t i = 1; i < names.size(); ++i) native.append("/").append(names[i]);
  return native;
}
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
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') {
    const char drive = static_cast<char>(path[0] | 0x20);
    std::string dir = DriveRoot() + "/" + drive;
    MakeDirectories(dir);  // a failure shows as "path not found" in the call that uses the path
    *native = dir + InsideDrive(path.substr(2));
    return ERROR_SUCCESS;
  }
  for (char c : path) *native += c == '\\' ? '/' : c;
  return ERROR_SUCCESS;
}

DWORD MapPath(std::u16string_view path, std::string* native) {
  return MapPath(vkr::Utf16ToUtf8(path), native);
}

}  // namespace vkr::platform

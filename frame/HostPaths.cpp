// The files the host's command lines name.
#include "frame/HostPaths.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace vkr::frame {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

// Whether the bytes are UTF-8, the only 8-bit text a Windows name maps from here.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || (length == 2 && lead < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// The text for a person's screen: control characters, and the bytes of text that is not UTF-8, as \xNN.
std::string Shown(const std::string& text) {
  const bool utf8 = IsUtf8(text);
  std::string shown;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// Why Windows takes `name` (one name between separators, not "." or "..") for no file: "" when it does.
std::string NameProblem(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20)
      return "Windows allows no control character in a name (\"" + Shown(name) + "\" holds " + Shown(std::string(1, c)) + ")";
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
      return std::string("Windows allows no ") + c + " in a name (\"" + name + "\")";
  }
  // Windows drops a name's closing dots and spaces: the file would be another than the one named.
  if (name.back() == '.' || name.back() == ' ')
    return "Windows keeps no name that ends in a " + std::string(name.back() == '.' ? "dot" : "space") + " (\"" + name + "\")";
  // A device's name stays the device with any extension ("NUL.vkr"), and with spaces before it.
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' && stem[3] <= '9')
    device = true;
  if (device) return "\"" + name + "\" names the device " + stem + " on Windows, not a file";
  return "";
}

// The names of a path after its root, as Windows resolves them: empty names (doubled separators)
// dropped, "." dropped, ".." taking the name before it (none at the root).
bool Names(std::string_view rest, std::vector<std::string>* names, std::string* why) {
  std::size_t at = 0;
  while (at <= rest.size()) {
    std::size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string name(rest.substr(at, end - at));
    if (name == "..") {
      if (!names->empty()) names->pop_back();
    } else if (!name.empty() && name != ".") {
      if (std::string problem = NameProblem(name); !problem.empty()) {
        *why = std::move(problem);
        return false;
      }
      names->push_back(name);
    }
    at = end + 1;
  }
  return true;
}

// The names of a native path ("/a/b" is a, b).
std::vector<std::string> NativeNames(const std::string& path) {
  std::vector<std::string> names;
  for (const fs::path& part : fs::path(path).relative_path()) names.push_back(part.string());
  return names;
}

// The real place of a native absolute path: each existing link on its way followed (a link's
// target, itself with links, in its place), as opening or creating the file would; from the first
// name that is not there on, the rest by name. False when the links go round in a circle.
bool RealPlace(const std::string& path, std::vector<std::string>* real) {
  std::vector<std::string> todo = NativeNames(path), place;
  std::reverse(todo.begin(), todo.end());  // the next name last
  bool beyond = false;                     // past a name that is not there
  int links = 0;
  while (!todo.empty()) {
    const std::string name = std::move(todo.back());
    todo.pop_back();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!place.empty()) place.pop_back();
      continue;
    }
    place.push_back(name);
    if (beyond) continue;
    fs::path here("/");
    for (const std::string& n : place) here /= n;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(here, error);
    if (error || !fs::exists(status)) {
      beyond = true;
      continue;
    }
    if (!fs::is_symlink(status)) continue;
    const fs::path target = fs::read_symlink(here, error);
    if (error || ++links > 40) return false;
    place.pop_back();
    if (target.is_absolute()) place.clear();
    std::vector<std::string> more;
    for (const fs::path& part : target.relative_path()) more.push_back(part.string());
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  *real = std::move(place);
  return true;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& n : names) path += "/" + n;
  return path.empty() ? "/" : path;
}

}  // namespace

std::string FullWindowsPath(const std::string& given, std::string* full) {
  if (given.empty()) return "an empty path names no file";
  if (!IsUtf8(given)) return "the path is not UTF-8 text";
  if (given.size() >= 2 && IsSeparator(given[0]) && IsSeparator(given[1])) {
    if (given.size() >= 4 && (given[2] == '?' || given[2] == '.') && IsSeparator(given[3]))
      return "the host takes no path in the \\\\?\\ or \\\\.\\ name space, only a drive's";
    return "a network (UNC) path; the host has only the drives below $VKR_DRIVE_ROOT";
  }
  char drive = kCurrentFolder[0];
  std::string_view rest(given);
  if (const std::size_t colon = given.find(':'); colon != std::string::npos) {
    const std::string before = given.substr(0, colon);
    const bool inName = before.find_first_of("\\/") != std::string::npos;
    if (!inName && (colon != 1 || !IsLetter(given[0])))
      // Built by appending: g++ 12 at -O3 warns falsely on a literal + std::string.
      return std::string(1, '"').append(Shown(before)).append(":\" is not a drive (a drive is one letter, A to Z)");
    if (colon == 1) {
      drive = Upper(given[0]);
      rest.remove_prefix(2);
    }
  }
  // A path without a separator after its drive ("C:x", "x") starts in the drive's current folder,
  // which is its root here, as is the current drive's: every path resolves from a drive's root.
  std::vector<std::string> names;
  std::string why;
  if (!Names(rest, &names, &why)) return why;
  std::size_t last = rest.size();
  while (last > 0 && !IsSeparator(rest[last - 1])) --last;
  const std::string_view lastName = rest.substr(last);
  if (names.empty()) return "names the root folder of drive " + std::string(1, drive) + ":, not a file";
  if (lastName.empty() || lastName == "." || lastName == "..")
    return "names a folder, not a file";
  std::string path = std::string(1, drive) + ":";
  for (const std::string& n : names) path += "\\" + n;
  *full = std::move(path);
  return "";
}

std::string PathOptionRefused(const std::string& option, const std::string& given, const std::string& why) {
  return option + " " + Shown(given) + ": " + why;
}

std::string LinkOutOfDriveRoot(const std::vector<std::string>& files) {
  std::error_code error;
  const fs::path root = fs::absolute(vkr::platform::DriveRoot(), error);
  if (error) return "the drive root " + vkr::platform::DriveRoot() + " cannot be found: " + error.message();
  std::vector<std::string> inside, place;
  if (!RealPlace(root.lexically_normal().string(), &inside))
    return "the drive root " + root.string() + " cannot be reached: the links on its way go round in a circle";
  for (const std::string& file : files) {
    std::string native;
    if (vkr::platform::MapPath(file, &native) != ERROR_SUCCESS) continue;  // the command tells its failure
    if (!RealPlace(fs::absolute(native, error).lexically_normal().string(), &place))
      return "the file " + file + " cannot be reached: the links on its way go round in a circle; nothing was changed";
    const bool within = place.size() > inside.size() && std::equal(inside.begin(), inside.end(), place.begin());
    if (!within)
      return "the file " + file + " is, through a link on its way, at " + Joined(place) + ", outside the drive root " +
             Joined(inside) + "; nothing was changed";
  }
  return "";
}

void MakeFolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0) CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

}  // namespace vkr::frame

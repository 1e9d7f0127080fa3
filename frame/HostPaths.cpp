// The files the host's command lines name.
#include "frame/HostPaths.h"

#include <algorithm>
#include <cerrno>
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

// Whether the bytes are UTF-8, strictly: the only 8-bit text a Windows name maps from here. Each
// character in its shortest form, no surrogate (U+D800 to U+DFFF, which UTF-16 names cannot hold
// alone), none above U+10FFFF, no sequence cut short.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
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
  // The serial and parallel ports are numbered 0 to 9 and with the superscript digits 1, 2 and 3.
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if (stem.size() >= 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0)) {
    const std::string number = stem.substr(3);
    device = device || (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
             number == "\xC2\xB2" || number == "\xC2\xB3";  // ¹ ² ³ in UTF-8
  }
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

// What following the links of a path finds.
struct Walk {
  std::vector<std::string> place;  // the real place: each existing link on the way followed
  bool circle = false;             // links in a circle, or more than the kernel follows (40)
  std::string refused;             // the first link the resolution beneath the drive root refuses, and why
};

// The real place of the names below the folder `from` (a real place itself): each existing link on
// the way followed (a link's target, itself with links, in its place), as opening or creating the
// file would; from the first name that is not there on, the rest by name. A link the files of a
// drive are not opened through, beneath the drive root at `from`, is noted: one with an absolute
// target, or one that leads above `from` (even to come back).
Walk RealPlace(const std::vector<std::string>& from, const std::vector<std::string>& names) {
  Walk walk;
  std::vector<std::string> todo(names.rbegin(), names.rend());  // the next name last
  std::vector<std::string>& place = walk.place;
  place = from;
  auto within = [&] { return place.size() >= from.size() && std::equal(from.begin(), from.end(), place.begin()); };
  bool beyond = false;  // past a name that is not there
  int links = 0;
  std::string lastLink;  // the last link followed, where a ".." of its target climbs
  while (!todo.empty()) {
    const std::string name = std::move(todo.back());
    todo.pop_back();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (walk.refused.empty() && place.size() == from.size() && within())
        walk.refused = "the link " + lastLink + " leads above the drive root";
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
    if (error || ++links > 40) {
      walk.circle = true;
      return walk;
    }
    lastLink = here.string() + " -> " + target.string();
    if (target.is_absolute() && walk.refused.empty() && within())
      walk.refused = "the link " + lastLink + " names its target by an absolute path";
    place.pop_back();
    if (target.is_absolute()) place.clear();
    std::vector<std::string> more;
    for (const fs::path& part : target.relative_path()) more.push_back(part.string());
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  return walk;
}

// Why the files of the drives cannot be kept beneath the drive root, "" when they can: the files
// are opened beneath it with openat2, which kernels before Linux 5.6 lack.
std::string DriveRootProblem() {
  if (vkr::platform::KernelOpensBeneath()) return "";
  return "this system's kernel lacks openat2 (Linux 5.6 and later have it), without which the host cannot keep "
         "its files inside the drive root";
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
  const std::string drives = vkr::platform::DriveRoot();
  if (const std::string problem = DriveRootProblem(); !problem.empty()) return problem + "; nothing was done";
  std::error_code error;
  const fs::path root = fs::absolute(drives, error);
  if (error) return "the drive root " + drives + " cannot be found: " + error.message();
  const Walk inside = RealPlace({}, NativeNames(root.lexically_normal().string()));
  if (inside.circle)
    return "the drive root " + root.string() + " cannot be reached: the links on its way go round in a circle";
  for (const std::string& file : files) {
    std::string native;
    // (A path of the machine, or one with no place, the command tells itself.)
    if (vkr::platform::MapPath(file, &native) != ERROR_SUCCESS || native.rfind(drives + "/", 0) != 0) continue;
    // Built by appending: a literal plus a string makes g++ 12 at -O3 warn falsely.
    std::string below(1, '/');
    below += native.substr(drives.size() + 1);
    const Walk walk = RealPlace(inside.place, NativeNames(below));
    if (walk.circle)
      return "the file " + file + " cannot be reached: the links on its way go round in a circle; nothing was changed";
    const std::vector<std::string>& place = walk.place;
    const bool within =
        place.size() > inside.place.size() && std::equal(inside.place.begin(), inside.place.end(), place.begin());
    if (!within)
      return "the file " + file + " is, through a link on its way, at " + Joined(place) + ", outside the drive root " +
             Joined(inside.place) + "; nothing was changed";
    if (!walk.refused.empty())
      return "the file " + file + " is reached through a link the host does not follow: " + walk.refused +
             " (a link inside the drive root is followed when its target is relative and stays inside); nothing was "
             "changed";
  }
  return "";
}

void MakeFolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0) CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

}  // namespace vkr::frame

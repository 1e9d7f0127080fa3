// Which file a command's path really is.
#include "frame/FileRoles.h"

#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace vkr::frame {
namespace {

namespace fs = std::filesystem;

// Links followed on one way before it counts as a circle (the file system's own limit).
constexpr int kLinkLimit = 40;

bool SameName(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// The entry of folder `folder` that Windows finds for `name`: the name itself when it is there,
// else one that differs only in case; `name` when none is.
std::string EntryFor(const fs::path& folder, const std::string& name) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(folder / name, error))) return name;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (SameName(entry, name)) return entry;
  }
  return name;
}

fs::path Joined(const std::vector<std::string>& names) {
  fs::path path("/");
  for (const std::string& n : names) path /= n;
  return path;
}

// Follows `start` (an absolute native path) name by name to where it leads.
FilePlace Follow(const fs::path& start) {
  FilePlace place;
  std::vector<std::string> todo;  // the names still to walk, the next last
  for (const fs::path& part : start.relative_path()) todo.insert(todo.begin(), part.string());
  std::vector<std::string> at;
  bool beyond = false;  // a name on the way is not there: the rest is only named
  bool lastIsLink = false;  // the file's own name is a link
  int links = 0;
  while (!todo.empty()) {
    std::string name = todo.back();
    todo.pop_back();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!at.empty()) at.pop_back();
      continue;
    }
    if (beyond) {
      at.push_back(name);
      continue;
    }
    const fs::path folder = Joined(at);
    name = EntryFor(folder, name);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder / name, error);
    if (!fs::exists(status)) {
      at.push_back(name);
      beyond = true;
      continue;
    }
    if (!fs::is_symlink(status) || ++links > kLinkLimit) {
      at.push_back(name);
      continue;
    }
    const fs::path target = fs::read_symlink(folder / name, error);
    if (error) {
      at.push_back(name);
      continue;
    }
    lastIsLink = lastIsLink || todo.empty();
    if (target.is_absolute()) at.clear();
    std::vector<std::string> more;
    for (const fs::path& part : target.relative_path()) more.push_back(part.string());
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  const fs::path real = Joined(at);
  place.key = real.string();
  std::error_code error;
  place.exists = fs::exists(fs::status(real, error));
  if (!place.exists && lastIsLink) place.missingTarget = place.key;
  return place;
}

}  // namespace

FilePlace PlaceOf(const std::string& path, bool native) {
  std::error_code error;
  if (native) return Follow(fs::absolute(fs::path(path), error).lexically_normal());
  // "X:\a\b" lies at <drive root>/x/a/b: the drive's folder is named by its small letter.
  fs::path place = fs::absolute(fs::path(vkr::platform::DriveRoot()), error);
  if (path.size() < 2 || path[1] != ':') return Follow(place / path);
  place /= std::string(1, static_cast<char>(path[0] >= 'A' && path[0] <= 'Z' ? path[0] - 'A' + 'a' : path[0]));
  std::string name;
  for (std::size_t i = 2; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      if (!name.empty()) place /= name;
      name.clear();
    } else {
      name += path[i];
    }
  }
  return Follow(place.lexically_normal());
}

bool SamePlace(const FilePlace& a, const FilePlace& b) {
  std::error_code error;
  return SameName(a.key, b.key) || (a.exists && b.exists && fs::equivalent(a.key, b.key, error));
}

std::string RolesOnOneFile(const std::vector<FileRole>& roles) {
  std::vector<FilePlace> places;
  for (const FileRole& role : roles) places.push_back(PlaceOf(role.path, role.native));
  // An option with its value; a file the command derives from one ("the record of --project")
  // with its path after it.
  auto named = [&](std::size_t i) {
    const bool option = roles[i].name.rfind("--", 0) == 0;
    return roles[i].name + (option ? " " + roles[i].path : " (" + roles[i].path + ")");
  };
  for (std::size_t i = 0; i < roles.size(); ++i)
    for (std::size_t j = 0; j < roles.size(); ++j) {
      if (i == j) continue;
      const FilePlace &a = places[i], &b = places[j];
      if (i < j && SamePlace(a, b))
        return named(i) + " and " + named(j) + " are one file; each role needs a file of its own";
      // The new files of a replacement of `a` are "A.new.{GUID}", and what a cut-off one left is
      // removed by the next command: no other role may lie there.
      const std::string beside = a.key + ".new.{";
      if (b.key.size() > beside.size() && SameName(b.key.substr(0, beside.size()), beside))
        return named(j) + " is where the new files of " + named(i) +
               " are written (and removed when left over); each role needs a file of its own";
    }
  return "";
}

}  // namespace vkr::frame

// Windows paths to native paths.
#include "platform/win/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/win/casefold.h"
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

HeldRoot::~HeldRoot() {
  if (fd >= 0) ::close(fd);
}

namespace {

// openat2 beneath `dir`; glibc has no wrapper for it. ".." may fail with EAGAIN while a rename
// elsewhere races it: the kernel asks for a retry then.
int OpenBeneath(int dir, const char* path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<unsigned long long>(static_cast<unsigned>(flags));
  how.mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;  // openat2 takes no other
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd;
  int tries = 0;
  do {
    fd = ::syscall(SYS_openat2, dir, path, &how, sizeof how);
  } while (fd < 0 && (errno == EINTR || (errno == EAGAIN && ++tries < 100)));
  return static_cast<int>(fd);
}

// The drive root, opened when first needed and again only when VKR_DRIVE_ROOT names another one
// (or the one held was removed, as a test's temporary root is).
std::shared_ptr<const HeldRoot> HoldDriveRoot() {
  static std::mutex mutex;
  static std::shared_ptr<const HeldRoot> held;
  const std::string path = DriveRoot();
  std::lock_guard<std::mutex> lock(mutex);
  struct stat st;
  if (held && held->path == path && held->fd >= 0 && ::fstat(held->fd, &st) == 0 && st.st_nlink > 0) return held;
  auto root = std::make_shared<HeldRoot>();
  root->path = path;
  MakeDirectories(path);  // a failure shows as "path not found" in the call that uses the path
  root->fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root->fd < 0) root->error = errno;
  held = root;
  return held;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> names;
  std::size_t at = 0;
  for (;;) {
    const std::size_t slash = path.find('/', at);
    names.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
    if (slash == std::string::npos) return names;
    at = slash + 1;
  }
}

// The name in the folder that equals `name` but for case, Windows' way; "" when none does.
std::string NameInAnyCase(int folder, const std::string& name) {
  std::u16string wanted, found;
  if (!DecodeUtf8(name, &wanted)) return {};
  const int listing = ::dup(folder);
  if (listing < 0) return {};
  DIR* d = ::fdopendir(listing);
  if (!d) {
    ::close(listing);
    return {};
  }
  ::rewinddir(d);
  std::string best;
  std::u16string bestWide;
  while (const dirent* e = ::readdir(d)) {
    if (!DecodeUtf8(e->d_name, &found) || !EqualNoCase(found, wanted)) continue;
    // Of names here that differ only in case (Windows makes none), the first in order.
    if (best.empty() || found < bestWide) {
      best = e->d_name;
      bestWide = found;
    }
  }
  ::closedir(d);
  return best;
}

// The path below the root with each name that is there in another case spelt as its folder holds
// it; from the first name that is nowhere on, the names as typed.
std::string AsFound(int root, const std::string& relative) {
  std::vector<std::string> names = Split(relative);
  std::string prefix;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string& name = names[i];
    if (!name.empty() && name != "." && name != "..") {
      const int folder = OpenBeneath(root, prefix.empty() ? "." : prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
      if (folder < 0) break;
      struct stat st;
      bool there = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      if (!there) {
        std::string other = NameInAnyCase(folder, name);
        if (!other.empty()) {
          name = std::move(other);
          there = true;
        }
      }
      ::close(folder);
      if (!there) break;
    }
    if (i) prefix += '/';
    prefix += name;
  }
  std::string path;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) path += '/';
    path += names[i];
  }
  return path;
}

}  // namespace

DWORD Locate(std::string_view path, FilePlace* place) {
  *place = FilePlace{};
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) return ERROR_INVALID_NAME;
    return ERROR_BAD_NETPATH;
  }
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') {
    const char drive[] = {static_cast<char>(path[0] | 0x20), '\0'};
    place->root = HoldDriveRoot();
    place->dir = place->root->fd;
    // Appended, not a literal plus a string: g++ 12 at -O3 warns falsely on the latter.
    std::string relative(drive);
    relative += InsideDrive(path.substr(2));
    if (place->dir >= 0) {
      // On Windows the drive is always there (a failure shows in the call that uses the path).
      (void)::mkdirat(place->dir, drive, 0777);
      relative = AsFound(place->dir, relative);
    }
    place->native = place->root->path + "/" + relative;
    place->path = std::move(relative);
    return ERROR_SUCCESS;
  }
  place->dir = AT_FDCWD;
  for (char c : path) place->path += c == '\\' ? '/' : c;
  place->native = place->path;
  return ERROR_SUCCESS;
}

int OpenAt(const FilePlace& place, const std::string& path, int flags, mode_t mode) {
  if (!place.Beneath()) return ::open(path.c_str(), flags, mode);
  if (place.dir < 0) {
    errno = place.root->error ? place.root->error : ENOENT;
    return -1;
  }
  return OpenBeneath(place.dir, path.empty() ? "." : path.c_str(), flags, mode);
}

int OpenFolderOf(const FilePlace& place, std::string* name) {
  std::string path = place.path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return OpenAt(place, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

DWORD MapPath(std::string_view path, std::string* native) {
  native->clear();
  FilePlace place;
  if (const DWORD e = Locate(path, &place)) return e;
  *native = std::move(place.native);
  return ERROR_SUCCESS;
}

DWORD MapPath(std::u16string_view path, std::string* native) {
  return MapPath(vkr::Utf16ToUtf8(path), native);
}

bool KernelOpensBeneath() {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH;
  const long fd = ::syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how);
  if (fd >= 0) ::close(static_cast<int>(fd));
  return fd >= 0 || errno != ENOSYS;  // another failure is told with the file it concerns
}

}  // namespace vkr::platform

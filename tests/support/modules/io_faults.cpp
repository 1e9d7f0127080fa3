// A disk that fails, for the frame host's tests: preloaded into a process (LD_PRELOAD), it makes
// fsync fail with EIO where VKR_TEST_FSYNC_FAILS says: "folder" for every folder, any other text
// for each file whose path holds that text. VKR_TEST_DISK_FULL=TEXT[@N] fills the disk for the
// files whose path holds TEXT: the process writes N bytes into them in all (0 without @N); a
// write that does not fit is refused whole, and from then on every write or fsync of such a file
// fails with ENOSPC, as on a disk filled to the last byte. VKR_TEST_READ_ONLY=TEXT makes the disk
// read-only for the paths that hold TEXT: opening one to write, renaming or removing it fails with
// EROFS. Everything else goes to the C library.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The path of an open file, "" when it cannot be had.
std::string PathOf(int fd) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

bool IsFile(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool Fails(int fd) {
  const char* which = std::getenv("VKR_TEST_FSYNC_FAILS");
  if (!which || !*which) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (std::strcmp(which, "folder") == 0) return S_ISDIR(st.st_mode);
  return !S_ISDIR(st.st_mode) && PathOf(fd).find(which) != std::string::npos;
}

// The full disk: whether `fd` is one of its files, and the room left on it (the process's writes
// into its files count).
struct FullDisk {
  std::string text;
  unsigned long long room = 0;
  bool given = false;
  bool filled = false;  // a write found no room
};

FullDisk& Disk() {
  static FullDisk disk = [] {
    FullDisk d;
    const char* spec = std::getenv("VKR_TEST_DISK_FULL");
    if (!spec || !*spec) return d;
    d.given = true;
    d.text = spec;
    if (const std::size_t at = d.text.rfind('@'); at != std::string::npos) {
      d.room = std::strtoull(d.text.c_str() + at + 1, nullptr, 10);
      d.text.resize(at);
    }
    return d;
  }();
  return disk;
}

bool OnFullDisk(int fd) {
  const FullDisk& disk = Disk();
  return disk.given && IsFile(fd) && PathOf(fd).find(disk.text) != std::string::npos;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const Write next = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  if (count > 0 && OnFullDisk(fd)) {
    FullDisk& disk = Disk();
    if (count > disk.room) {
      disk.room = 0;
      disk.filled = true;
      errno = ENOSPC;
      return -1;
    }
    disk.room -= count;
  }
  return next ? next(fd, buffer, count) : (errno = ENOSYS, -1);
}

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  if (Fails(fd)) {
    errno = EIO;
    return -1;
  }
  if (OnFullDisk(fd) && Disk().filled) {
    errno = ENOSPC;
    return -1;
  }
  return next ? next(fd) : (errno = ENOSYS, -1);
}

namespace {

bool ReadOnly(const char* path) {
  const char* which = std::getenv("VKR_TEST_READ_ONLY");
  return which && *which && path && std::string(path).find(which) != std::string::npos;
}

template <class Open>
int OpenFile(const char* name, const char* path, int flags, va_list more) {
  static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, name));
  const mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(more, int)) : 0;
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && ReadOnly(path)) {
    errno = EROFS;
    return -1;
  }
  return next ? next(path, flags, mode) : (errno = ENOSYS, -1);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list more;
  va_start(more, flags);
  const int fd = OpenFile<int (*)(const char*, int, ...)>("open", path, flags, more);
  va_end(more);
  return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list more;
  va_start(more, flags);
  const int fd = OpenFile<int (*)(const char*, int, ...)>("open64", path, flags, more);
  va_end(more);
  return fd;
}

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  if (ReadOnly(from) || ReadOnly(to)) {
    errno = EROFS;
    return -1;
  }
  return next ? next(from, to) : (errno = ENOSYS, -1);
}

extern "C" int unlink(const char* path) {
  using Unlink = int (*)(const char*);
  static const Unlink next = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlink"));
  if (ReadOnly(path)) {
    errno = EROFS;
    return -1;
  }
  return next ? next(path) : (errno = ENOSYS, -1);
}

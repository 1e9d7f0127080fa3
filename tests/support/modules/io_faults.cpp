// A disk that fails, for the frame host's tests: preloaded into a process (LD_PRELOAD), it makes
// fsync fail with EIO where VKR_TEST_FSYNC_FAILS says: "folder" for every folder, any other text
// for each file whose path holds that text. VKR_TEST_DISK_FULL=TEXT[@N] fills the disk for the
// files whose path holds TEXT: the process writes N bytes into them in all (0 without @N); a
// write that does not fit is refused whole, and from then on every write or fsync of such a file
// fails with ENOSPC, as on a disk filled to the last byte. VKR_TEST_READ_ONLY=TEXT makes the disk
// read-only for the paths that hold TEXT: opening one to write, renaming or removing it fails with
// EROFS. VKR_TEST_DISK_SIZE=FOLDER@N makes the folder (a path of the machine) a disk of N bytes: a
// write that would take its files beyond that, each in whole 4 KiB blocks, fails with ENOSPC;
// removing or replacing a file frees its room.
// VKR_TEST_FAULT=CALL:TEXT:N[:ENOSPC|EIO] fails the Nth call of CALL on a path holding TEXT (EIO
// unless told): write, read and fsync of such a file, rename onto it, or "dirsync", the fsync of the
// folder that writes through a rename onto it. VKR_TEST_NO_OPENAT2=1 is a kernel older than
// Linux 5.6: openat2 fails with ENOSYS. Everything else goes to the C library. Paths given
// relative to a folder's descriptor (openat2 through syscall, unlinkat, renameat2) are judged
// whole: the folder's path, then the name.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <utility>

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

// The whole path of `path` taken relative to the folder `dir`.
std::string At(int dir, const char* path) {
  if (!path) return "";
  if (path[0] == '/' || dir == AT_FDCWD) return path;
  return PathOf(dir) + "/" + path;
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

// The one injected fault: the Nth matching call of its kind fails.
struct Fault {
  std::string call, text;
  int nth = 0, seen = 0, error = EIO;
  bool renamed = false;  // a rename onto a matching path waits for its folder's fsync
};

Fault& TheFault() {
  static Fault fault = [] {
    Fault f;
    const char* spec = std::getenv("VKR_TEST_FAULT");
    if (!spec || !*spec) return f;
    std::string rest = spec;
    auto take = [&rest] {
      const std::size_t colon = rest.find(':');
      std::string part = rest.substr(0, colon);
      rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
      return part;
    };
    f.call = take();
    f.text = take();
    f.nth = std::atoi(take().c_str());
    if (take() == "ENOSPC") f.error = ENOSPC;
    return f;
  }();
  return fault;
}

// Whether this call is the one to fail (counting the matching calls of its kind).
bool Injected(const char* call, const std::string& path) {
  Fault& f = TheFault();
  if (f.call != call || f.text.empty() || path.find(f.text) == std::string::npos) return false;
  if (++f.seen != f.nth) return false;
  errno = f.error;
  return true;
}

// The room the folder's files take, in whole blocks, with the file `fd` taking `size` bytes.
unsigned long long Taken(const std::string& folder, int fd, unsigned long long size) {
  constexpr unsigned long long kBlock = 4096;
  const auto blocks = [](unsigned long long bytes) { return (bytes + kBlock - 1) / kBlock * kBlock; };
  struct stat mine;
  if (::fstat(fd, &mine) != 0) return 0;
  unsigned long long taken = blocks(size);
  DIR* d = ::opendir(folder.c_str());
  if (!d) return taken;
  while (const dirent* e = ::readdir(d)) {
    struct stat st;
    const std::string path = folder + "/" + e->d_name;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino != mine.st_ino)
      taken += blocks(static_cast<unsigned long long>(st.st_size));
  }
  ::closedir(d);
  return taken;
}

// Whether writing `count` bytes into `fd` now goes beyond the disk that VKR_TEST_DISK_SIZE makes.
bool BeyondDisk(int fd, size_t count) {
  const char* spec = std::getenv("VKR_TEST_DISK_SIZE");
  if (!spec || !*spec || !IsFile(fd)) return false;
  std::string folder = spec;
  const std::size_t at = folder.rfind('@');
  if (at == std::string::npos) return false;
  const unsigned long long size = std::strtoull(folder.c_str() + at + 1, nullptr, 10);
  folder.resize(at);
  const std::string path = PathOf(fd);
  if (path.rfind(folder + "/", 0) != 0 || path.find('/', folder.size() + 1) != std::string::npos) return false;
  struct stat st;
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  if (::fstat(fd, &st) != 0 || offset < 0) return false;
  const unsigned long long end = static_cast<unsigned long long>(offset) + count;
  return Taken(folder, fd, std::max<unsigned long long>(end, static_cast<unsigned long long>(st.st_size))) > size;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const Write next = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  if (count > 0 && IsFile(fd) && Injected("write", PathOf(fd))) return -1;
  if (count > 0 && BeyondDisk(fd, count)) {
    errno = ENOSPC;
    return -1;
  }
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

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  using Read = ssize_t (*)(int, void*, size_t);
  static const Read next = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
  if (TheFault().call == "read" && count > 0 && IsFile(fd) && Injected("read", PathOf(fd))) return -1;
  return next ? next(fd, buffer, count) : (errno = ENOSYS, -1);
}

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  struct stat st;
  const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  if (folder && std::exchange(TheFault().renamed, false) && Injected("dirsync", TheFault().text)) return -1;
  if (!folder && Injected("fsync", PathOf(fd))) return -1;
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

extern "C" int unlink(const char* path) {
  using Unlink = int (*)(const char*);
  static const Unlink next = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlink"));
  if (ReadOnly(path)) {
    errno = EROFS;
    return -1;
  }
  return next ? next(path) : (errno = ENOSYS, -1);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  using Rename = int (*)(const char*, const char*);
  static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  if (ReadOnly(from) || ReadOnly(to)) {
    errno = EROFS;
    return -1;
  }
  if (Injected("rename", to)) return -1;
  const int done = next ? next(from, to) : (errno = ENOSYS, -1);
  if (done == 0 && !TheFault().text.empty() && std::string(to).find(TheFault().text) != std::string::npos)
    TheFault().renamed = true;
  return done;
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) noexcept {
  using Rename = int (*)(int, const char*, int, const char*, unsigned int);
  static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "renameat2"));
  const std::string fromPath = At(fromFolder, from), toPath = At(toFolder, to);
  if (ReadOnly(fromPath.c_str()) || ReadOnly(toPath.c_str())) {
    errno = EROFS;
    return -1;
  }
  if (Injected("rename", toPath)) return -1;
  const int done = next ? next(fromFolder, from, toFolder, to, flags) : (errno = ENOSYS, -1);
  if (done == 0 && !TheFault().text.empty() && toPath.find(TheFault().text) != std::string::npos)
    TheFault().renamed = true;
  return done;
}

extern "C" int unlinkat(int folder, const char* path, int flags) noexcept {
  using Unlink = int (*)(int, const char*, int);
  static const Unlink next = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlinkat"));
  if (ReadOnly(At(folder, path).c_str())) {
    errno = EROFS;
    return -1;
  }
  return next ? next(folder, path, flags) : (errno = ENOSYS, -1);
}

// openat2 has no wrapper in the C library: it comes through syscall, whose other calls pass on.
// A call passes as many arguments as its system call takes, up to six (the C library's own syscall
// reads six registers whatever was passed): the six are read as they lie, and a slot the caller did
// not fill is passed to a system call that ignores it. AddressSanitizer would call that read of the
// caller's stack an underflow, so it does not look at this function.
extern "C" __attribute__((no_sanitize("address"))) long syscall(long number, ...) noexcept {
  using Syscall = long (*)(long, ...);
  static const Syscall next = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
  va_list more;
  va_start(more, number);
  long a[6];
  for (long& v : a) v = va_arg(more, long);
  va_end(more);
  if (number == SYS_openat2) {
    if (const char* old = std::getenv("VKR_TEST_NO_OPENAT2"); old && *old == '1') {
      errno = ENOSYS;
      return -1;
    }
    const auto* how = reinterpret_cast<const open_how*>(a[2]);
    const std::string path = At(static_cast<int>(a[0]), reinterpret_cast<const char*>(a[1]));
    if (how && (how->flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && ReadOnly(path.c_str())) {
      errno = EROFS;
      return -1;
    }
  }
  return next ? next(number, a[0], a[1], a[2], a[3], a[4], a[5]) : (errno = ENOSYS, -1);
}

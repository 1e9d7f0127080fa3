// A disk that fails, for the frame host's tests: preloaded into a process (LD_PRELOAD), it makes
// fsync fail with EIO where VKR_TEST_FSYNC_FAILS says: "folder" for every folder, any other text
// for each file whose path holds that text. Everything else goes to the C library's fsync.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Fails(int fd) {
  const char* which = std::getenv("VKR_TEST_FSYNC_FAILS");
  if (!which || !*which) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (std::strcmp(which, "folder") == 0) return S_ISDIR(st.st_mode);
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return !S_ISDIR(st.st_mode) && std::strstr(path, which) != nullptr;
}

}  // namespace

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  if (Fails(fd)) {
    errno = EIO;
    return -1;
  }
  return next ? next(fd) : (errno = ENOSYS, -1);
}

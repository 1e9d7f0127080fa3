// errno mapping and directory helpers for the file-system stand-ins.
#include "platform/win/native.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/com/hresult.h"

namespace vkr::platform {

namespace {
thread_local int t_lastSystemError = 0;
}

DWORD ErrorFromErrno(int error) {
  t_lastSystemError = error;
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_IO_DEVICE;
    default: return ERROR_GEN_FAILURE;
  }
}

int LastSystemError() { return t_lastSystemError; }

int MakeDirectories(const std::string& path) {
  if (path.empty()) return ENOENT;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const std::string parent = DirectoryPart(path);
  if (parent != path && parent != "." && parent != "/") {
    if (int e = MakeDirectories(parent)) return e;
  }
  if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return 0;
  return errno;
}

std::string DirectoryPart(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string NamePart(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace vkr::platform

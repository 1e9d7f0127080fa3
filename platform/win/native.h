// Helpers shared by the platform's file-system stand-ins: errno to Win32 errors, directory
// creation, and the raw errno kept for the log. Private to the platform.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/win/types.h"

// The errors of a drive path whose links the resolution beneath the drive root does not follow:
// one leads out (an absolute link, or one above the root), or they go round in a circle.
constexpr LONG ERROR_CANT_ACCESS_FILE = 1920;
constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;

namespace vkr::platform {

// The Win32 error for an errno value. Keeps the errno as the thread's last system error, so a log
// line can give the underlying cause.
DWORD ErrorFromErrno(int error);
// The errno behind the thread's last Win32 error from a file or registry call (0 when none).
int LastSystemError();

// Creates `path` and its missing parents (mode 0777 less the umask). Returns 0 or the errno.
int MakeDirectories(const std::string& path);

// The directory part of a native path ("." for a bare name) and the last name.
std::string DirectoryPart(std::string_view path);
std::string NamePart(std::string_view path);

// Strict UTF-8 and UTF-16 conversions: false for invalid sequences or lone surrogates (where the
// lossy vkr::Utf8ToUtf16 would put U+FFFD), for names and texts that must come back unchanged.
bool DecodeUtf8(std::string_view in, std::u16string* out);
bool EncodeUtf8(std::u16string_view in, std::string* out);

// The drive root, opened once and held (see paths.h): its descriptor, or the errno of its open.
struct HeldRoot {
  std::string path;
  int fd = -1;
  int error = 0;
  ~HeldRoot();
};

// Where the file of a Windows path is: beneath the held drive root (a drive path: `dir` is the
// root's descriptor and `path` the names below it, "c/VKR/p.vkr", each in the case the folder
// holds), or a path of the machine (`dir` is AT_FDCWD). `native` is the whole path for the log.
struct FilePlace {
  std::shared_ptr<const HeldRoot> root;
  int dir = -1;
  std::string path;
  std::string native;
  bool Beneath() const { return root != nullptr; }
};

// The place of a Windows path: ERROR_SUCCESS or, as MapPath, the error of a path with no place.
DWORD Locate(std::string_view windowsPath, FilePlace* place);

// Opens `path` (a place's path, or a part of it) as open(2) would: beneath the drive root with
// openat2 when the place is there, else by name. -1 with errno (ENOSYS: a kernel without openat2;
// EXDEV: a link leads out of the root).
int OpenAt(const FilePlace& place, const std::string& path, int flags, mode_t mode = 0);

// Opens the folder that holds the place's file (O_RDONLY | O_DIRECTORY) and gives the file's own
// name in it. -1 with errno.
int OpenFolderOf(const FilePlace& place, std::string* name);

}  // namespace vkr::platform

// The file calls over POSIX file descriptors and directory listings.
#include "platform/win/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/win/casefold.h"
#include "platform/win/handles.h"
#include "platform/win/lasterror.h"
#include "platform/win/native.h"
#include "platform/win/paths.h"
#include "platform/win/text.h"

namespace vkr::platform {
namespace {

struct FileObject final : HandleObject {
  FileObject(int f, bool r, bool w) : fd(f), canRead(r), canWrite(w) {}
  ~FileObject() override {
    if (fd >= 0) ::close(fd);
  }
  HandleKind Kind() const override { return HandleKind::File; }
  int fd;
  bool canRead;
  bool canWrite;
  // The ranges the handle holds locked (offset, length), so that an unlock of a range it never
  // locked is refused as on Windows.
  std::mutex lockMutex;
  std::vector<std::pair<off_t, off_t>> locked;
};

struct FindEntry {
  std::string name;       // UTF-8, as the directory holds it
  std::u16string wide;    // the same name in UTF-16
  DWORD attributes = 0;
  FILETIME created{}, accessed{}, written{};
  ULONGLONG size = 0;
};

struct FindObject final : HandleObject {
  HandleKind Kind() const override { return HandleKind::Find; }
  std::mutex mutex;
  std::vector<FindEntry> entries;
  std::size_t next = 1;  // the first entry went out with FindFirstFile
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

DWORD FailWith(DWORD error, DWORD result) {
  SetLastError(error);
  return result;
}

// Keeps the errno for the log and gives the Win32 error the caller chose.
DWORD Because(int error, DWORD win32) {
  ErrorFromErrno(error);
  return win32;
}

// ENOENT for a path: ERROR_PATH_NOT_FOUND when the directory that should hold it is missing.
DWORD NotFound(const FilePlace& place) {
  std::string name;
  const int folder = OpenFolderOf(place, &name);
  if (folder < 0) return Because(ENOENT, ERROR_PATH_NOT_FOUND);
  ::close(folder);
  return ErrorFromErrno(ENOENT);
}

DWORD PathError(int error, const FilePlace& place) {
  return error == ENOENT ? NotFound(place) : ErrorFromErrno(error);
}

// The file's status, each link followed (beneath the drive root for a drive path). -1 with errno.
int StatOf(const FilePlace& place, const std::string& path, struct stat* st) {
  const int fd = OpenAt(place, path, O_PATH | O_CLOEXEC);
  if (fd < 0) return -1;
  const int done = ::fstat(fd, st);
  const int error = errno;
  ::close(fd);
  errno = error;
  return done;
}

bool HasWildcard(std::string_view path) { return path.find_first_of("*?") != std::string_view::npos; }

FILETIME FileTimeOf(const timespec& t) {
  constexpr long long kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970
  if (t.tv_sec < -kEpochDifference) return FILETIME{0, 0};
  const ULONGLONG ticks = static_cast<ULONGLONG>(t.tv_sec + kEpochDifference) * 10000000ULL +
                          static_cast<ULONGLONG>(t.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR)) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

std::shared_ptr<FileObject> FileOf(HANDLE h) {
  auto object = LookupHandleObject(h);
  if (!object || object->Kind() != HandleKind::File) return nullptr;
  return std::static_pointer_cast<FileObject>(object);
}

HANDLE OpenFile(std::string_view name, DWORD access, DWORD disposition) {
  FilePlace path;
  if (DWORD e = Locate(name, &path)) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  if (HasWildcard(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA;
  if (access & GENERIC_READ) access |= FILE_READ_DATA;
  if (access & GENERIC_WRITE) access |= FILE_WRITE_DATA | FILE_APPEND_DATA;
  const bool read = access & FILE_READ_DATA;
  const bool write = access & FILE_WRITE_DATA;
  const bool append = (access & FILE_APPEND_DATA) && !write;
  const bool writes = write || append;
  int flags = O_CLOEXEC | (append ? O_APPEND : 0);
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  // Truncation needs a writable descriptor even when the handle may only read.
  if (truncate) flags |= O_TRUNC;
  flags |= (read && writes) || (truncate && !writes) ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  struct stat before;
  const bool existed = StatOf(path, path.path, &before) == 0;
  if (existed && S_ISDIR(before.st_mode)) {
    SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ErrorFromErrno(EISDIR));
    return INVALID_HANDLE_VALUE;
  }
  int fd;
  do {
    fd = OpenAt(path, path.path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int e = errno;
    SetLastError(e == EEXIST ? Because(e, ERROR_FILE_EXISTS) : PathError(e, path));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = InsertHandleObject(std::make_shared<FileObject>(fd, read, writes));
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  const bool reportsExisting = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

// Windows wildcard match: '*' any run, '?' one character, "*.*" everything.
bool Matches(std::u16string_view pattern, std::u16string_view name, bool caseSensitive) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  auto same = [&](char16_t a, char16_t b) { return caseSensitive ? a == b : UpperCase(a) == UpperCase(b); };
  std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Lists the directory of a search pattern. On failure sets the last error and returns false.
bool Search(std::string_view pattern, bool directoriesOnly, bool caseSensitive, bool wide,
            std::vector<FindEntry>* out) {
  out->clear();
  std::size_t cut = pattern.size();
  while (cut > 0 && !IsSeparator(pattern[cut - 1])) --cut;
  std::string_view dir = pattern.substr(0, cut);
  std::string_view namePattern = pattern.substr(cut);
  if (cut == 0 && pattern.size() >= 2 && pattern[1] == ':') {
    dir = pattern.substr(0, 2);
    namePattern = pattern.substr(2);
  }
  if (namePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  std::u16string wanted;
  if (!DecodeUtf8(namePattern, &wanted)) return Fail(ERROR_INVALID_NAME);
  FilePlace place;
  place.dir = AT_FDCWD;
  place.path = ".";
  if (!dir.empty()) {
    if (DWORD e = Locate(dir, &place)) return Fail(e);
  }
  const int folder = OpenAt(place, place.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    const int e = errno;
    return Fail(e == ENOENT || e == ENOTDIR ? Because(e, ERROR_PATH_NOT_FOUND) : ErrorFromErrno(e));
  }
  // An entry's status: a link's target's beneath the drive root, else the link's own.
  auto status = [&](const std::string& entry, struct stat* st) {
    if (::fstatat(folder, entry.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    struct stat target;
    if (S_ISLNK(st->st_mode) && StatOf(place, place.path + "/" + entry, &target) == 0) *st = target;
    return true;
  };
  // A name without wildcards that is there as spelt is the one entry Windows would find (its file
  // systems hold no second name differing only in case): no need to list the directory.
  if (namePattern.find_first_of("*?") == std::string_view::npos && namePattern != "." && namePattern != "..") {
    struct stat st;
    if (status(std::string(namePattern), &st) &&
        (!directoriesOnly || S_ISDIR(st.st_mode)) && (wide ? wanted.size() : namePattern.size()) < MAX_PATH) {
      FindEntry entry;
      entry.name = std::string(namePattern);
      entry.wide = wanted;
      entry.attributes = AttributesOf(st);
      entry.created = FileTimeOf(st.st_ctim);
      entry.accessed = FileTimeOf(st.st_atim);
      entry.written = FileTimeOf(st.st_mtim);
      entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
      out->push_back(std::move(entry));
      ::close(folder);
      return true;
    }
  }
  DIR* d = ::fdopendir(folder);
  if (!d) {
    const int e = errno;
    ::close(folder);
    return Fail(ErrorFromErrno(e));
  }
  while (const dirent* ent = ::readdir(d)) {
    FindEntry entry;
    entry.name = ent->d_name;
    if (!DecodeUtf8(entry.name, &entry.wide)) continue;
    if ((wide ? entry.wide.size() : entry.name.size()) >= MAX_PATH) continue;
    if (!Matches(wanted, entry.wide, caseSensitive)) continue;
    struct stat st;
    if (!status(ent->d_name, &st)) continue;  // gone meanwhile
    entry.attributes = AttributesOf(st);
    if (directoriesOnly && !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    entry.created = FileTimeOf(st.st_ctim);
    entry.accessed = FileTimeOf(st.st_atim);
    entry.written = FileTimeOf(st.st_mtim);
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
    out->push_back(std::move(entry));
  }
  ::closedir(d);
  auto rank = [](const FindEntry& e) { return e.name == "." ? 0 : e.name == ".." ? 1 : 2; };
  std::sort(out->begin(), out->end(), [&](const FindEntry& a, const FindEntry& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    const int c = CompareNoCase(a.wide, b.wide);
    return c != 0 ? c < 0 : a.wide < b.wide;
  });
  if (out->empty()) return Fail(ERROR_FILE_NOT_FOUND);
  return true;
}

template <class Data>
void FillCommon(const FindEntry& e, Data* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = e.attributes;
  data->ftCreationTime = e.created;
  data->ftLastAccessTime = e.accessed;
  data->ftLastWriteTime = e.written;
  data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(e.size);
}

void Fill(const FindEntry& e, WIN32_FIND_DATAA* data) {
  FillCommon(e, data);
  std::memcpy(data->cFileName, e.name.data(), e.name.size());
}

void Fill(const FindEntry& e, WIN32_FIND_DATAW* data) {
  FillCommon(e, data);
  std::memcpy(data->cFileName, e.wide.data(), e.wide.size() * sizeof(WCHAR));
}

template <class Data>
HANDLE FindFirst(std::string_view pattern, Data* data, bool directoriesOnly, bool caseSensitive) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<FindObject>();
  if (!Search(pattern, directoriesOnly, caseSensitive, std::is_same_v<Data, WIN32_FIND_DATAW>, &find->entries))
    return INVALID_HANDLE_VALUE;
  Fill(find->entries.front(), data);
  HANDLE h = InsertHandleObject(find);
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

template <class Data>
HANDLE FindFirstEx(std::string_view pattern, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS op,
                   LPVOID filter, DWORD flags) {
  if ((level != FindExInfoStandard && level != FindExInfoBasic) || filter ||
      (flags & ~(FIND_FIRST_EX_CASE_SENSITIVE | FIND_FIRST_EX_LARGE_FETCH))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (op != FindExSearchNameMatch && op != FindExSearchLimitToDirectories) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  return FindFirst(pattern, static_cast<Data*>(data), op == FindExSearchLimitToDirectories,
                   flags & FIND_FIRST_EX_CASE_SENSITIVE);
}

template <class Data>
BOOL FindNext(HANDLE h, Data* data) {
  auto object = LookupHandleObject(h);
  if (!object || object->Kind() != HandleKind::Find) return Fail(ERROR_INVALID_HANDLE);
  if (!data) return Fail(ERROR_INVALID_PARAMETER);
  auto* find = static_cast<FindObject*>(object.get());
  std::lock_guard lock(find->mutex);
  if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  Fill(find->entries[find->next++], data);
  return TRUE;
}

std::string Narrow(LPCWSTR s) { return vkr::Utf16ToUtf8(vkr::View(s)); }

// Runs `call` on the folder that holds the file and the file's name in it; its errno on failure
// (ENOENT for a missing folder).
template <class Call>
int InFolderOf(const FilePlace& place, Call call) {
  std::string name;
  const int folder = OpenFolderOf(place, &name);
  if (folder < 0) return errno == ENOTDIR ? ENOENT : errno;
  const int done = call(folder, name.c_str());
  const int error = errno;
  ::close(folder);
  return done == 0 ? 0 : error;
}

BOOL CreateDirectoryPath(std::string_view name) {
  FilePlace path;
  if (DWORD e = Locate(name, &path)) return Fail(e);
  if (HasWildcard(name)) return Fail(ERROR_INVALID_NAME);
  const int e = InFolderOf(path, [](int folder, const char* leaf) { return ::mkdirat(folder, leaf, 0777); });
  if (e == 0) return TRUE;
  return Fail(e == ENOENT ? Because(e, ERROR_PATH_NOT_FOUND) : ErrorFromErrno(e));
}

BOOL DeletePath(std::string_view name) {
  FilePlace path;
  if (DWORD e = Locate(name, &path)) return Fail(e);
  if (HasWildcard(name)) return Fail(ERROR_INVALID_NAME);
  const int e = InFolderOf(path, [](int folder, const char* leaf) { return ::unlinkat(folder, leaf, 0); });
  if (e == 0) return TRUE;
  return Fail(e == ENOENT ? NotFound(path) : ErrorFromErrno(e == EISDIR ? EACCES : e));
}

DWORD AttributesOfPath(std::string_view name) {
  FilePlace path;
  DWORD e = Locate(name, &path);
  if (!e && HasWildcard(name)) e = ERROR_INVALID_NAME;
  struct stat st;
  if (!e && StatOf(path, path.path, &st) == 0) return AttributesOf(st);
  SetLastError(e ? e : PathError(errno, path));
  return INVALID_FILE_ATTRIBUTES;
}

// Copies a text under the "length, or size needed" rule of GetTempPath and GetLongPathName.
template <class Ch>
DWORD GiveText(const std::basic_string<Ch>& text, Ch* buffer, DWORD length) {
  if (!buffer || text.size() + 1 > length) return static_cast<DWORD>(text.size() + 1);
  std::memmove(buffer, text.data(), text.size() * sizeof(Ch));
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

std::string TempDirectory() {
  std::string dir = "/tmp";
  if (const char* env = std::getenv("TMPDIR"); env && env[0] == '/') dir = env;
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool PathExists(std::string_view name) {
  FilePlace path;
  if (DWORD e = Locate(name, &path)) return Fail(e);
  struct stat st;
  if (StatOf(path, path.path, &st) == 0) return true;
  return Fail(PathError(errno, path));
}

int Access(std::string_view name, int mode) {
  int how;
  switch (mode) {
    case 0: how = F_OK; break;
    case 2: how = W_OK; break;
    case 4: how = R_OK; break;
    case 6: how = R_OK | W_OK; break;
    default: errno = EINVAL; return -1;
  }
  FilePlace path;
  if (Locate(name, &path) != ERROR_SUCCESS) {
    errno = ENOENT;
    return -1;
  }
  if (!path.Beneath()) return ::access(path.path.c_str(), how);
  const int fd = OpenAt(path, path.path, O_PATH | O_CLOEXEC);
  if (fd < 0) return -1;
  const int done = how == F_OK ? 0 : ::faccessat(fd, "", how, AT_EMPTY_PATH);
  const int error = errno;
  ::close(fd);
  errno = error;
  return done;
}

}  // namespace

}  // namespace vkr::platform

using namespace vkr::platform;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
  if (!fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return OpenFile(fileName, desiredAccess, creationDisposition);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
  if (!fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return OpenFile(Narrow(fileName), desiredAccess, creationDisposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
  if (bytesRead) *bytesRead = 0;
  auto f = FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped) return Fail(ERROR_NOT_SUPPORTED);
  if (!f->canRead) return Fail(ERROR_ACCESS_DENIED);
  if (!buffer && bytesToRead) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  while (done < bytesToRead) {
    const ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, bytesToRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (bytesRead) *bytesRead = done;
      return Fail(ErrorFromErrno(errno));
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (bytesRead) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  auto f = FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped) return Fail(ERROR_NOT_SUPPORTED);
  if (!f->canWrite) return Fail(ERROR_ACCESS_DENIED);
  if (!buffer && bytesToWrite) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  while (done < bytesToWrite) {
    const ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, bytesToWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (bytesWritten) *bytesWritten = done;
      return Fail(ErrorFromErrno(errno));
    }
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten) *bytesWritten = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
  auto f = FileOf(file);
  if (!f) return FailWith(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  long long base = 0;
  if (moveMethod == FILE_CURRENT) {
    const off_t at = ::lseek(f->fd, 0, SEEK_CUR);
    if (at < 0) return FailWith(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
    base = at;
  } else if (moveMethod == FILE_END) {
    struct stat st;
    if (::fstat(f->fd, &st) != 0) return FailWith(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
    base = st.st_size;
  } else if (moveMethod != FILE_BEGIN) {
    return FailWith(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  const long long move =
      distanceHigh ? static_cast<long long>((static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                            static_cast<DWORD>(distance))
                   : static_cast<long long>(distance);
  if (move < 0 && base < -move) return FailWith(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  const long long target = base + move;
  if (!distanceHigh && target > 0xFFFFFFFFLL) return FailWith(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  if (::lseek(f->fd, static_cast<off_t>(target), SEEK_SET) < 0)
    return FailWith(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<ULONGLONG>(target) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = FileOf(file);
  if (!f) return FailWith(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return FailWith(ErrorFromErrno(errno), INVALID_FILE_SIZE);
  const auto size = static_cast<ULONGLONG>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  return FindFirst(fileName ? fileName : "", findData, false, false);
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  return FindFirst(Narrow(fileName), findData, false, false);
}

HANDLE FindFirstFileExA(LPCSTR fileName, FINDEX_INFO_LEVELS infoLevel, LPVOID findData, FINDEX_SEARCH_OPS searchOp,
                        LPVOID searchFilter, DWORD additionalFlags) {
  return FindFirstEx<WIN32_FIND_DATAA>(fileName ? fileName : "", infoLevel, findData, searchOp, searchFilter,
                                       additionalFlags);
}

HANDLE FindFirstFileExW(LPCWSTR fileName, FINDEX_INFO_LEVELS infoLevel, LPVOID findData, FINDEX_SEARCH_OPS searchOp,
                        LPVOID searchFilter, DWORD additionalFlags) {
  return FindFirstEx<WIN32_FIND_DATAW>(Narrow(fileName), infoLevel, findData, searchOp, searchFilter,
                                       additionalFlags);
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) { return FindNext(findFile, findData); }
BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) { return FindNext(findFile, findData); }

BOOL FindClose(HANDLE findFile) {
  if (RemoveHandleObject(findFile, HandleKind::Find)) return TRUE;
  return Fail(ERROR_INVALID_HANDLE);
}

BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) { return CreateDirectoryPath(pathName ? pathName : ""); }
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) { return CreateDirectoryPath(Narrow(pathName)); }

BOOL FlushFileBuffers(HANDLE file) {
  auto f = FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (!f->canWrite) return Fail(ERROR_ACCESS_DENIED);
  while (::fsync(f->fd) != 0)
    if (errno != EINTR) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

namespace {

// The range of a lock call: the OVERLAPPED's offset and the 64-bit length, as fcntl takes them.
bool LockRange(DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped, struct flock* lock) {
  if (!overlapped) return false;
  const unsigned long long start = static_cast<unsigned long long>(overlapped->OffsetHigh) << 32 | overlapped->Offset;
  const unsigned long long length = static_cast<unsigned long long>(bytesHigh) << 32 | bytesLow;
  // fcntl ranges are signed; a range reaching past the largest offset is taken to the end.
  constexpr unsigned long long kMax = 0x7FFFFFFFFFFFFFFFULL;
  if (start > kMax) return false;
  std::memset(lock, 0, sizeof *lock);
  lock->l_whence = SEEK_SET;
  lock->l_start = static_cast<off_t>(start);
  lock->l_len = length == 0 || length > kMax - start ? 0 : static_cast<off_t>(length);
  return true;
}

}  // namespace

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
  auto f = FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  struct flock lock;
  if (!LockRange(bytesLow, bytesHigh, overlapped, &lock) || (bytesLow == 0 && bytesHigh == 0))
    return Fail(ERROR_INVALID_PARAMETER);
  const bool exclusive = flags & LOCKFILE_EXCLUSIVE_LOCK;
  if (exclusive ? !f->canWrite : !f->canRead) return Fail(ERROR_ACCESS_DENIED);
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  // Open-file-description locks belong to the handle, as Windows locks do, not to the process.
  const int command = flags & LOCKFILE_FAIL_IMMEDIATELY ? F_OFD_SETLK : F_OFD_SETLKW;
  while (::fcntl(f->fd, command, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return Fail(Because(errno, ERROR_LOCK_VIOLATION));
    return Fail(ErrorFromErrno(errno));
  }
  std::lock_guard<std::mutex> hold(f->lockMutex);
  f->locked.emplace_back(lock.l_start, lock.l_len);
  return TRUE;
}

BOOL UnlockFileEx(HANDLE file, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
  auto f = FileOf(file);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  struct flock lock;
  if (!LockRange(bytesLow, bytesHigh, overlapped, &lock)) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> hold(f->lockMutex);
  const auto held = std::find(f->locked.begin(), f->locked.end(), std::make_pair(lock.l_start, lock.l_len));
  if (held == f->locked.end()) return Fail(ERROR_NOT_LOCKED);
  lock.l_type = F_UNLCK;
  if (::fcntl(f->fd, F_OFD_SETLK, &lock) != 0) return Fail(ErrorFromErrno(errno));
  f->locked.erase(held);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
  if (!existingFileName || !newFileName || (flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)))
    return Fail(ERROR_INVALID_PARAMETER);
  FilePlace from, to;
  if (DWORD e = Locate(existingFileName, &from)) return Fail(e);
  if (DWORD e = Locate(newFileName, &to)) return Fail(e);
  if (HasWildcard(existingFileName) || HasWildcard(newFileName)) return Fail(ERROR_INVALID_NAME);
  // Both names in their folders, each folder opened beneath the drive root: the rename moves the
  // entries themselves (a link at either name is moved or replaced, never written through).
  std::string fromName, toName;
  const int fromFolder = OpenFolderOf(from, &fromName);
  if (fromFolder < 0) return Fail(errno == ENOENT || errno == ENOTDIR ? Because(errno, ERROR_PATH_NOT_FOUND) : ErrorFromErrno(errno));
  const int toFolder = OpenFolderOf(to, &toName);
  if (toFolder < 0) {
    const int e = errno;
    ::close(fromFolder);
    return Fail(e == ENOENT || e == ENOTDIR ? Because(e, ERROR_PATH_NOT_FOUND) : ErrorFromErrno(e));
  }
  // Closes both folders and gives the failure, or goes on to write the rename through.
  auto finish = [&](DWORD error) {
    ::close(fromFolder);
    ::close(toFolder);
    return error ? Fail(error) : TRUE;
  };
  struct stat st;
  if (::fstatat(fromFolder, fromName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return finish(PathError(errno, from));
  if (flags & MOVEFILE_REPLACE_EXISTING) {
    if (::renameat2(fromFolder, fromName.c_str(), toFolder, toName.c_str(), 0) != 0) return finish(PathError(errno, to));
  } else if (::renameat2(fromFolder, fromName.c_str(), toFolder, toName.c_str(), RENAME_NOREPLACE) != 0) {
    // A file system without the no-replace rename: checked first, then renamed.
    if (errno != EINVAL && errno != ENOSYS) return finish(errno == EEXIST ? ERROR_ALREADY_EXISTS : PathError(errno, to));
    if (::fstatat(toFolder, toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return finish(ERROR_ALREADY_EXISTS);
    if (::renameat2(fromFolder, fromName.c_str(), toFolder, toName.c_str(), 0) != 0) return finish(PathError(errno, to));
  }
  if (flags & MOVEFILE_WRITE_THROUGH) {
    // The rename is on the disk once the folder that holds the name is.
    int synced;
    while ((synced = ::fsync(toFolder)) != 0 && errno == EINTR) {
    }
    if (synced != 0) return finish(ErrorFromErrno(errno));
  }
  return finish(ERROR_SUCCESS);
}

BOOL DeleteFileA(LPCSTR fileName) { return DeletePath(fileName ? fileName : ""); }
BOOL DeleteFileW(LPCWSTR fileName) { return DeletePath(Narrow(fileName)); }

DWORD GetFileAttributesA(LPCSTR fileName) { return AttributesOfPath(fileName ? fileName : ""); }
DWORD GetFileAttributesW(LPCWSTR fileName) { return AttributesOfPath(Narrow(fileName)); }

DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer) { return GiveText(TempDirectory(), buffer, bufferLength); }
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  return GiveText(vkr::Utf8ToUtf16(TempDirectory()), buffer, bufferLength);
}

DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  if (!shortPath) return Fail(ERROR_INVALID_PARAMETER);
  if (!PathExists(shortPath)) return 0;
  return GiveText(std::string(shortPath), longPath, bufferLength);
}

DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength) {
  if (!shortPath) return Fail(ERROR_INVALID_PARAMETER);
  if (!PathExists(Narrow(shortPath))) return 0;
  return GiveText(std::u16string(shortPath), longPath, bufferLength);
}

int _access(const char* path, int mode) {
  if (!path) {
    errno = EINVAL;
    return -1;
  }
  return Access(path, mode);
}

int _waccess(const char16_t* path, int mode) {
  if (!path) {
    errno = EINVAL;
    return -1;
  }
  return Access(Narrow(path), mode);
}

HANDLE GetStdHandle(DWORD stdHandle) {
  int fd = -1;
  if (stdHandle == STD_INPUT_HANDLE) fd = STDIN_FILENO;
  else if (stdHandle == STD_OUTPUT_HANDLE) fd = STDOUT_FILENO;
  else if (stdHandle == STD_ERROR_HANDLE) fd = STDERR_FILENO;
  if (fd < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // One handle per standard descriptor, made when first asked for (again after a CloseHandle).
  static std::mutex lock;
  static HANDLE handles[3] = {};
  std::lock_guard<std::mutex> guard(lock);
  HANDLE& handle = handles[fd];
  if (!handle || !FileOf(handle)) {
    // A duplicate, so that closing the handle leaves the process's own descriptor alone.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
      SetLastError(ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    handle = InsertHandleObject(std::make_shared<FileObject>(copy, fd == STDIN_FILENO, fd != STDIN_FILENO));
  }
  return handle;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  auto f = FileOf(console);
  if (!f || !::isatty(f->fd)) return Fail(ERROR_INVALID_HANDLE);
  if (mode) *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
  return TRUE;
}

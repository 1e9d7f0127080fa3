// Files and directories: CreateFile, ReadFile, WriteFile, searches, directories, attributes and
// the temporary directory, on Windows paths mapped as paths.h says.
//
// Every call sets GetLastError on failure with the Windows code; the errno behind it stays
// available through vkr::platform::LastSystemError (native.h) for the log.
//
// Differences from Windows, on purpose:
// - Share modes are accepted but not enforced: the file system here has no mandatory locks, and
//   the system only shares (log appends, shared reads).
// - Opening a directory with CreateFile fails with ERROR_ACCESS_DENIED; overlapped I/O is refused
//   with ERROR_NOT_SUPPORTED; file attributes and flags other than the access-related ones are
//   ignored.
// - Names compare exactly when opening; searches (FindFirstFile) match without regard to case, as
//   on Windows, and return names as the file system holds them, "." and ".." first, then in name
//   order. Entries whose names are not valid UTF-8 or do not fit MAX_PATH are left out.
//
// Appending: a handle opened with FILE_APPEND_DATA but without FILE_WRITE_DATA (or GENERIC_WRITE)
// writes every WriteFile call at the end of the file in one piece, whatever other writers do
// (O_APPEND). That is the safe way to share a log file between threads and processes.
#pragma once

#include "platform/win/access.h"
#include "platform/win/types.h"

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr ACCESS_MASK FILE_READ_DATA = 0x0001;
constexpr ACCESS_MASK FILE_LIST_DIRECTORY = 0x0001;
constexpr ACCESS_MASK FILE_WRITE_DATA = 0x0002;
constexpr ACCESS_MASK FILE_APPEND_DATA = 0x0004;
constexpr ACCESS_MASK FILE_READ_ATTRIBUTES = 0x0080;
constexpr ACCESS_MASK FILE_WRITE_ATTRIBUTES = 0x0100;
constexpr ACCESS_MASK FILE_GENERIC_READ = 0x00120089;
constexpr ACCESS_MASK FILE_GENERIC_WRITE = 0x00120116;
constexpr ACCESS_MASK FILE_ALL_ACCESS = 0x001F01FF;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;
using PLONG = LONG*;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

enum FINDEX_INFO_LEVELS { FindExInfoStandard = 0, FindExInfoBasic = 1 };
enum FINDEX_SEARCH_OPS {
  FindExSearchNameMatch = 0,
  FindExSearchLimitToDirectories = 1,
  FindExSearchLimitToDevices = 2
};
constexpr DWORD FIND_FIRST_EX_CASE_SENSITIVE = 0x1;
constexpr DWORD FIND_FIRST_EX_LARGE_FETCH = 0x2;

// Opens or creates a file. GENERIC_READ/GENERIC_WRITE or the FILE_* data rights say what the
// handle may do; ReadFile/WriteFile beyond them fail with ERROR_ACCESS_DENIED. After OPEN_ALWAYS
// and CREATE_ALWAYS, GetLastError is ERROR_ALREADY_EXISTS when the file was there, else 0.
// Failures: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (the directory
// is missing), ERROR_FILE_EXISTS (CREATE_NEW), ERROR_ACCESS_DENIED, ERROR_INVALID_NAME (wildcards
// in the name), ERROR_INVALID_PARAMETER (an unknown disposition, TRUNCATE_EXISTING without write
// access).
VKR_API HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                           DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
VKR_API HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                           DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Read to the end of the file gives TRUE with fewer bytes (0 at the end).
VKR_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
VKR_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
// Returns the low 32 bits of the new position. Without distanceHigh the distance is a signed
// 32-bit number and a position beyond 32 bits fails. INVALID_SET_FILE_POINTER with GetLastError
// 0 is a valid position; with ERROR_NEGATIVE_SEEK, ERROR_INVALID_HANDLE or ERROR_INVALID_PARAMETER
// it is a failure.
VKR_API DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod);
// The low 32 bits of the size, the high ones in *sizeHigh; INVALID_FILE_SIZE with GetLastError 0
// is a valid size.
VKR_API DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
// Closes a handle of this process's handle table. An unknown, closed or search handle fails with
// ERROR_INVALID_HANDLE and touches nothing.
VKR_API BOOL CloseHandle(HANDLE object);

// Searches: the pattern's last name may hold '*' and '?'; "*.*" matches every name. No match:
// ERROR_FILE_NOT_FOUND; a missing directory: ERROR_PATH_NOT_FOUND. FindNextFile at the end gives
// ERROR_NO_MORE_FILES. The listing is taken when the search starts. FindExSearchLimitToDirectories
// returns directories only (Windows may ignore it; here it always filters).
VKR_API HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
VKR_API HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
VKR_API HANDLE FindFirstFileExA(LPCSTR fileName, FINDEX_INFO_LEVELS infoLevel, LPVOID findData,
                                FINDEX_SEARCH_OPS searchOp, LPVOID searchFilter, DWORD additionalFlags);
VKR_API HANDLE FindFirstFileExW(LPCWSTR fileName, FINDEX_INFO_LEVELS infoLevel, LPVOID findData,
                                FINDEX_SEARCH_OPS searchOp, LPVOID searchFilter, DWORD additionalFlags);
VKR_API BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData);
VKR_API BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData);
VKR_API BOOL FindClose(HANDLE findFile);

// ERROR_ALREADY_EXISTS when the directory (or a file of that name) exists; ERROR_PATH_NOT_FOUND
// when its parent is missing.
VKR_API BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
VKR_API BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security);
// A directory cannot be deleted this way: ERROR_ACCESS_DENIED.
VKR_API BOOL DeleteFileA(LPCSTR fileName);
VKR_API BOOL DeleteFileW(LPCWSTR fileName);
// Writes what the file holds through to the disk (fsync). ERROR_INVALID_HANDLE for what is not an
// open file; a handle without write access is refused with ERROR_ACCESS_DENIED, as on Windows.
VKR_API BOOL FlushFileBuffers(HANDLE file);
// Renames a file or directory. An existing file of the new name is replaced only with
// MOVEFILE_REPLACE_EXISTING (else ERROR_ALREADY_EXISTS, decided in the same step as the rename, so
// of two renames to one new name only one succeeds), in one step: a reader finds the old file or
// the new one, never neither. MOVEFILE_WRITE_THROUGH returns once the rename is on the disk; when
// the folder cannot be written through, the rename is done but FALSE comes back with the error.
// Both names must lie on one drive (the rename does not copy); other flags: ERROR_INVALID_PARAMETER.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;
VKR_API BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
// Locks a byte range of an open file against the locks of every other handle, in this process or
// another (a lock belongs to the handle and ends with it). LOCKFILE_EXCLUSIVE_LOCK asks for an
// exclusive lock (the handle needs write access), else a shared one (read access); without
// LOCKFILE_FAIL_IMMEDIATELY the call waits until the range is free, with it a range held elsewhere
// fails at once with ERROR_LOCK_VIOLATION. The range starts at the OVERLAPPED's offset. A handle
// without the access the lock needs: ERROR_ACCESS_DENIED.
constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x00000001;
constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x00000002;
VKR_API BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                        LPOVERLAPPED overlapped);
// Releases a range the handle locked (the same offset and length); ERROR_NOT_LOCKED when it holds
// no lock there.
VKR_API BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped);
// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY (no write permission for the owner) or
// FILE_ATTRIBUTE_NORMAL; INVALID_FILE_ATTRIBUTES when the path does not exist.
VKR_API DWORD GetFileAttributesA(LPCSTR fileName);
VKR_API DWORD GetFileAttributesW(LPCWSTR fileName);

// The temporary directory as a native path ending in '/': $TMPDIR when it is absolute, else
// "/tmp/". Returns the length without the zero, or the size needed with it when the buffer is
// too small (the buffer is then left alone).
VKR_API DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer);
VKR_API DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);
// There are no short names here: the path comes back as given when it exists (ERROR_FILE_NOT_FOUND
// or ERROR_PATH_NOT_FOUND otherwise). Sizes as GetTempPath.
VKR_API DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength);
VKR_API DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength);

// The C runtime's existence and permission test: mode 0 exists, 2 writable, 4 readable, 6 both.
// 0 or -1 with errno (ENOENT, EACCES, EINVAL).
VKR_API int _access(const char* path, int mode);
VKR_API int _waccess(const char16_t* path, int mode);

// The standard handles of the process: standard input, output and error as file handles, the same
// handle on every call. Unlike Windows, CloseHandle on one leaves the process's descriptor open (the
// handle holds a duplicate), and a later call makes a new handle. INVALID_HANDLE_VALUE with
// ERROR_INVALID_PARAMETER for another number.
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
VKR_API HANDLE GetStdHandle(DWORD stdHandle);
// Whether the handle is a console (a terminal here): TRUE with the mode
// ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT (3); FALSE with ERROR_INVALID_HANDLE for a
// file, pipe or anything else, as Windows answers for a redirected standard handle.
constexpr DWORD ENABLE_PROCESSED_OUTPUT = 0x1;
constexpr DWORD ENABLE_WRAP_AT_EOL_OUTPUT = 0x2;
VKR_API BOOL GetConsoleMode(HANDLE console, LPDWORD mode);

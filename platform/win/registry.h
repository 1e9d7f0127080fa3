// The registry: keys and typed values under HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and
// HKEY_CLASSES_ROOT, with the Win32 calls, error codes and buffer rules.
//
// The store is one text file (format in registry_store.h): VKR_REGISTRY names it, otherwise
// $XDG_CONFIG_HOME/vkr/registry.reg or ~/.config/vkr/registry.reg. It is read at first use and
// again whenever another process has replaced it. Every change (or batch of changes, see
// BeginRegistryBatch) is made under an exclusive lock (flock on "<file>.lock"): the file is read
// afresh, the change applied, and the result written to a temporary file in the same directory
// that then replaces the file by rename, so a reader sees
// either the old or the new file and two processes never lose each other's writes. A file that
// does not parse is reported once on stderr with its line (RegistryProblem gives the text), is
// never overwritten, and every call fails with ERROR_BADDB until it is fixed.
//
// Differences from Windows, all on purpose:
// - HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes (no per-user classes).
// - Volatile keys (REG_OPTION_VOLATILE), class strings, security and last-write times are not
//   kept: the volatile option fails with ERROR_CALL_NOT_IMPLEMENTED, enumerated class strings are
//   empty and times are zero.
// - Key and value names may not hold control characters (ERROR_INVALID_PARAMETER), and a value's
//   data is at most 1 MiB.
// - The "A" calls use UTF-8 as the ANSI code page.
//
// Handles: every open key is a handle of its own, valid until RegCloseKey; it names its key by
// path, so a key deleted after it was opened answers ERROR_KEY_DELETED. Handles are never reused.
// The access a key was opened with is checked: setting or deleting values needs KEY_SET_VALUE,
// reading them KEY_QUERY_VALUE, enumerating subkeys KEY_ENUMERATE_SUB_KEYS (ERROR_ACCESS_DENIED).
// All calls are safe from any thread.
#pragma once

#include <string>

#include "platform/com/hresult.h"
#include "platform/win/access.h"
#include "platform/win/types.h"

using REGSAM = DWORD;
using PHKEY = HKEY*;
using LSTATUS = LONG;

// The predefined keys keep their Windows values (sign-extended 32-bit numbers).
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000000)));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000001)));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000002)));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_EXECUTE = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_RESERVED = 0x0;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_OPTION_VOLATILE = 0x1;
constexpr DWORD REG_OPTION_CREATE_LINK = 0x2;
constexpr DWORD REG_OPTION_BACKUP_RESTORE = 0x4;
constexpr DWORD REG_OPTION_OPEN_LINK = 0x8;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Every call returns ERROR_SUCCESS or a Win32 error code; none sets GetLastError.
//
// Open and create: subKey NULL or "" gives a new handle to hKey's own key; a leading '\' or an
// empty name inside the path gives ERROR_BAD_PATHNAME; a missing key ERROR_FILE_NOT_FOUND.
// *phkResult is NULL after a failure. RegCreateKeyEx creates every missing key of the path and
// says which in *disposition (may be NULL).
VKR_API LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY phkResult);
VKR_API LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY phkResult);
VKR_API LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM desired,
                                const SECURITY_ATTRIBUTES* security, PHKEY phkResult, LPDWORD disposition);
VKR_API LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY phkResult,
                                LPDWORD disposition);
// Predefined keys close successfully and stay usable; an unknown or closed handle gives
// ERROR_INVALID_HANDLE.
VKR_API LSTATUS RegCloseKey(HKEY hKey);

// Query: a NULL or empty name is the default value. With data NULL, *cbData (when given)
// receives the size; with a buffer smaller than the data the call gives ERROR_MORE_DATA, the
// needed size in *cbData and leaves the buffer alone; data without cbData is
// ERROR_INVALID_PARAMETER. Strings come back as stored: a value set without its terminating zero
// has none. The "A" form converts REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ to UTF-8 and counts the
// converted bytes.
VKR_API LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD cbData);
VKR_API LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD cbData);
// Set: stores cbData bytes as given (include the terminating zero of strings). The "A" form
// converts string data from UTF-8.
VKR_API LSTATUS RegSetValueExA(HKEY hKey, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
VKR_API LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD cbData);
VKR_API LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR valueName);
VKR_API LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName);
// Deletes a key without subkeys (a key with subkeys: ERROR_ACCESS_DENIED). The predefined keys
// cannot be deleted.
VKR_API LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR subKey);
VKR_API LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey);
// Deletes the subkey and everything below it in one change; subKey NULL empties hKey's key
// (its values and subkeys) and keeps it.
VKR_API LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR subKey);
VKR_API LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR subKey);

// Enumeration in name order: index past the end gives ERROR_NO_MORE_ITEMS. *cchName is the
// buffer size in characters including the zero; on success it receives the length without the
// zero. A name that does not fit gives ERROR_MORE_DATA. RegEnumValue gives ERROR_MORE_DATA with the
// needed size in *cbData when the data does not fit.
VKR_API LSTATUS RegEnumKeyExA(HKEY hKey, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD reserved, LPSTR keyClass,
                              LPDWORD cchClass, FILETIME* lastWriteTime);
VKR_API LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved, LPWSTR keyClass,
                              LPDWORD cchClass, FILETIME* lastWriteTime);
VKR_API LSTATUS RegEnumValueA(HKEY hKey, DWORD index, LPSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                              LPDWORD type, LPBYTE data, LPDWORD cbData);
VKR_API LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                              LPDWORD type, LPBYTE data, LPDWORD cbData);

namespace vkr::platform {

// The store's front, where tests redirect and break it.

// Uses `path` as the registry file from now on; an empty path goes back to VKR_REGISTRY or the
// default. Open handles stay valid and refer to the same key paths in the new file.
VKR_API void UseRegistryFile(std::string path);
// The file the registry is kept in now.
VKR_API std::string RegistryFile();
// Why the registry file is unusable ("<file>:<line>: <reason>"), or else why it could not be read
// or written the last time ("<file>: cannot open: Permission denied"); empty when it is fine.
VKR_API std::string RegistryProblem();

// Batches: between BeginRegistryBatch and CommitRegistryBatch the file is locked and read once,
// every change of this process goes to that copy, and the commit writes the file once (atomically,
// as every change). Batches nest; only the outermost commit writes. A change that fails inside a
// batch changes nothing, as outside one; what the other calls changed is written all the same.
// Begin gives the registry's error when the file cannot be used (nothing is open then); Commit the
// write's error (ERROR_INVALID_FUNCTION without an open batch). Meant for one thread's run of
// changes (a registration); other threads of the process see the batch's copy meanwhile, and
// other processes wait for the lock to change the file.
VKR_API LONG BeginRegistryBatch();
VKR_API LONG CommitRegistryBatch();
// How often this process has written the registry file.
VKR_API unsigned long RegistryWriteCount();

// Fault hook: the countdown-th write of the file from now on (1 = the next) fails with the errno
// value `error` (ENOSPC, EACCES...), and so does every later one while `sticky` is set; 0 switches
// it off. A failed write changes neither the file nor what the calls see.
VKR_API void SetRegistryWriteFault(unsigned countdown, int error, bool sticky = false);
// Crash hook for tests that run in a child process: the next write ends the process with
// _exit(exitCode) after the temporary file is complete and before it replaces the file.
VKR_API void SetRegistryCrashBeforeRename(int exitCode);

}  // namespace vkr::platform

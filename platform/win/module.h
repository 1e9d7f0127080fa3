// Module handles and file names: GetModuleFileName, GetModuleHandle(Ex); loading libraries
// (LoadLibrary, GetProcAddress, FreeLibrary); the entry-point conventions of a module.
//
// A module is an executable or shared library loaded in the process; its HMODULE is the address
// it is loaded at, as on Windows, so any address inside a module finds the module
// (GetModuleHandleEx with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, or ModuleFromAddress). NULL
// stands for the main program. File names are native absolute paths, which the path calls
// (paths.h) accept unchanged.
#pragma once

#include <string>

#include "platform/win/types.h"

constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// The module's path. When it does not fit, the path is cut to size - 1 characters and a zero,
// size is returned and GetLastError is ERROR_INSUFFICIENT_BUFFER (the Windows rule). An unknown
// module gives 0 and ERROR_MOD_NOT_FOUND.
VKR_API DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
VKR_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
// NULL: the main program. A name finds a loaded module by its file name (the last part of its
// path, compared exactly, or a full path); NULL and ERROR_MOD_NOT_FOUND otherwise.
VKR_API HMODULE GetModuleHandleA(LPCSTR moduleName);
VKR_API HMODULE GetModuleHandleW(LPCWSTR moduleName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, moduleName is any address inside the module.
// Modules are not reference-counted here (the loader keeps them), so the reference-count flags
// change nothing.
VKR_API BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);
VKR_API BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);

// Loads a shared library by path (a Windows or native path, mapped as paths.h says) and answers
// its handle: the address it is loaded at, as the calls above use it. Each successful load needs
// a FreeLibrary; the library is unloaded when the last one is freed. NULL with
// ERROR_MOD_NOT_FOUND when the file is missing or is no library this process can load (the
// loader's reason goes to the debugger output), ERROR_INVALID_PARAMETER for a null or empty name.
VKR_API HMODULE LoadLibraryA(LPCSTR fileName);
VKR_API HMODULE LoadLibraryW(LPCWSTR fileName);
// FALSE with ERROR_INVALID_HANDLE for a handle that LoadLibrary did not give (or freed already).
VKR_API BOOL FreeLibrary(HMODULE module);
// An exported function (or variable) of a module that LoadLibrary gave, by name; NULL with
// ERROR_PROC_NOT_FOUND when the module exports no such name, ERROR_INVALID_HANDLE for another
// handle. Ordinals are not supported (ERROR_PROC_NOT_FOUND).
using FARPROC = void (*)();
VKR_API FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

// The reasons a module's entry routine (DllMain) is called with. The loader here calls no entry
// routine: a module calls its own from a static object when it is loaded and unloaded, and
// threads never notify modules.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;
// Threads never notify modules here, so there is nothing to switch off: TRUE for a loaded module,
// FALSE with ERROR_INVALID_HANDLE otherwise.
VKR_API BOOL DisableThreadLibraryCalls(HMODULE module);

// The functions a module exports (its entry points): C linkage and visible outside the module,
// which is built with hidden visibility, e.g. `STDAPI DllCanUnloadNow();`.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT

namespace vkr::platform {
// The module that holds `address` (code or data), or NULL when no module does.
VKR_API HMODULE ModuleFromAddress(const void* address);

// The loader's own reason why the last module load on the calling thread failed: LoadLibrary, or
// the load of a class's module for CoGetClassObject and CoCreateInstance ("x.so: cannot open
// shared object file: No such file or directory"). Empty after a load that succeeded. Windows
// keeps no such text; it is here so that a host can tell a person why a module did not load.
VKR_API std::string LastLoadProblem();
// For the platform's loaders: records the reason (empty: the load succeeded).
VKR_API void SetLastLoadProblem(std::string reason);
}  // namespace vkr::platform

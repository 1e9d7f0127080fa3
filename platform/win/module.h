// Module handles and file names: GetModuleFileName, GetModuleHandle(Ex).
//
// A module is an executable or shared library loaded in the process; its HMODULE is the address
// it is loaded at, as on Windows, so any address inside a module finds the module
// (GetModuleHandleEx with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, or ModuleFromAddress). NULL
// stands for the main program. File names are native absolute paths, which the path calls
// (paths.h) accept unchanged.
#pragma once

#include "platform/win/types.h"

constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// The module's path. When it does not fit, the path is cut to size - 1 characters and a zero,
// size is returned and GetLastError is ERROR_INSUFFICIENT_BUFFER (the Windows rule). An unknown
// module gives 0 and ERROR_MOD_NOT_FOUND.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
// NULL: the main program. A name finds a loaded module by its file name (the last part of its
// path, compared exactly, or a full path); NULL and ERROR_MOD_NOT_FOUND otherwise.
HMODULE GetModuleHandleA(LPCSTR moduleName);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, moduleName is any address inside the module.
// Modules are not reference-counted here (the loader keeps them), so the reference-count flags
// change nothing.
BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);

namespace vkr::platform {
// The module that holds `address` (code or data), or NULL when no module does.
HMODULE ModuleFromAddress(const void* address);
}  // namespace vkr::platform

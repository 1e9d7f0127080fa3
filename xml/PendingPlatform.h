// Platform calls that the utilities use and that the platform layer does not provide yet.
//
// Declared weak with their Windows signatures so the code builds and links before they arrive;
// callers test the address first and skip the step while it is null. This header goes away as
// soon as the platform declares them.
#pragma once

#include "platform/platform.h"

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

[[gnu::weak]] void OutputDebugStringA(LPCSTR text);
[[gnu::weak]] void GetLocalTime(SYSTEMTIME* st);
[[gnu::weak]] HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile);
[[gnu::weak]] DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
[[gnu::weak]] BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                             LPOVERLAPPED overlapped);
[[gnu::weak]] BOOL CloseHandle(HANDLE handle);

namespace vkr::pending {
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kFileShareWrite = 0x00000002;
constexpr DWORD kOpenAlways = 4;
constexpr DWORD kFileAttributeNormal = 0x00000080;
constexpr DWORD kFileEnd = 2;
inline HANDLE InvalidHandle() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
}  // namespace vkr::pending

[[gnu::weak]] HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);

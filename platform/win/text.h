// Text between UTF-16 and the 8-bit code pages, and the string helpers of the Windows API.
//
// The 8-bit "ANSI" code page is UTF-8, so every text survives a round trip between the widths.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_MACCP = 2;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_PRECOMPOSED = 0x00000001;
constexpr DWORD MB_COMPOSITE = 0x00000002;
constexpr DWORD MB_USEGLYPHCHARS = 0x00000004;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
constexpr DWORD WC_DISCARDNS = 0x00000010;
constexpr DWORD WC_SEPCHARS = 0x00000020;
constexpr DWORD WC_DEFAULTCHAR = 0x00000040;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
constexpr DWORD WC_COMPOSITECHECK = 0x00000200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

// The Windows contract: cchSrc -1 means zero-terminated (the zero is converted and counted);
// cchDst 0 asks for the size needed. Returns the characters written, or 0 with GetLastError set:
//   ERROR_INVALID_PARAMETER   null source, source length 0 or below -1, negative or inconsistent
//                             destination, source and destination the same buffer, an unsupported
//                             code page (CP_MACCP included), a default character with CP_UTF8;
//   ERROR_INVALID_FLAGS       CP_UTF8 with a flag other than MB_ERR_INVALID_CHARS /
//                             WC_ERR_INVALID_CHARS (the ANSI pages accept their legacy flags,
//                             which change nothing for UTF-8);
//   ERROR_NO_UNICODE_TRANSLATION  an ill-formed sequence with MB_ERR_INVALID_CHARS /
//                             WC_ERR_INVALID_CHARS;
//   ERROR_INSUFFICIENT_BUFFER the output does not fit in cchDst.
// Without the strict flag, each ill-formed UTF-8 sequence (its maximal subpart, as Unicode
// defines it) and each lone surrogate becomes U+FFFD. On the ANSI pages WideCharToMultiByte puts
// defaultChar (its first character) in place of a lone surrogate when one is given and sets
// *usedDefaultChar when it replaced anything.
VKR_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbSrc, LPWSTR dst, int cchDst);
VKR_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchSrc, LPSTR dst, int cbDst,
                                LPCSTR defaultChar, BOOL* usedDefaultChar);

// Null-safe as on Windows: a null text has length 0; a copy or concatenation with a null pointer
// does nothing and returns null; comparisons take null as the empty text. lstrcmp(i) order
// letters as Windows' default sort does at its first level (case-insensitive, and at a tie lower
// case before upper case); other characters compare by code unit. The A forms take UTF-8.
VKR_API int lstrlenW(LPCWSTR s);
VKR_API int lstrlenA(LPCSTR s);
VKR_API LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
VKR_API LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
VKR_API LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxLen);
VKR_API LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int maxLen);
VKR_API LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
VKR_API LPSTR lstrcatA(LPSTR dst, LPCSTR src);
VKR_API int lstrcmpW(LPCWSTR a, LPCWSTR b);
VKR_API int lstrcmpiW(LPCWSTR a, LPCWSTR b);
VKR_API int lstrcmpA(LPCSTR a, LPCSTR b);
VKR_API int lstrcmpiA(LPCSTR a, LPCSTR b);
// The C runtime's wide helpers over UTF-16 (wchar_t is 32-bit here, so these take char16_t).
// The i forms fold ASCII letters only, as the runtime does in the "C" locale. A null pointer
// is the empty text (the runtime would fault).
VKR_API std::size_t wcslen(const char16_t* s);
VKR_API int wcscmp(const char16_t* a, const char16_t* b);
VKR_API int _wcsicmp(const char16_t* a, const char16_t* b);
VKR_API int _wcsnicmp(const char16_t* a, const char16_t* b, std::size_t n);
VKR_API int _stricmp(const char* a, const char* b);
VKR_API int _strnicmp(const char* a, const char* b, std::size_t n);

namespace vkr {
// Lossless conversions for the platform's and the system's own use (invalid sequences U+FFFD).
VKR_API std::u16string Utf8ToUtf16(std::string_view s);
VKR_API std::string Utf16ToUtf8(std::u16string_view s);
// A null pointer is the empty text.
inline std::u16string_view View(const char16_t* s) { return s ? std::u16string_view(s) : std::u16string_view(); }
}  // namespace vkr

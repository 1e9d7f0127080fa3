// The platform's printf family, with the Windows C runtime's rules.
//
// The system's format strings rely on those rules, which differ from glibc's: in a wide format
// %s and %c take wide text and %S / %C 8-bit text, in an 8-bit format the reverse; %ls / %lc are
// always wide and %hs / %hc always 8-bit; `l` is 32-bit (long is 32-bit on Windows), `ll` and
// `I64` are 64-bit, `I32` 32-bit, `I` pointer-sized; a null string prints as an empty text. Flags
// (- + space # 0), width and precision (also `*`) work as in C. Floating conversions (%e %E %f %g
// %G %a %A) print exactly as the C runtime does for finite values. %n is refused: the call fails
// and writes an empty text. Unknown conversions are printed as written.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/win/types.h"

// Windows' wsprintf: output capped at 1024 characters including the zero; returns the length.
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);
int wsprintfA(LPSTR buf, LPCSTR fmt, ...);
int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args);
int wvsprintfA(LPSTR buf, LPCSTR fmt, va_list args);

// _snprintf family: at most count characters; returns the length, or -1 when the output was
// truncated (then no terminating zero is written unless it fitted exactly... see the .cpp).
int _snwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, ...);
int _vsnwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, va_list args);
int _snprintf(char* buf, std::size_t count, const char* fmt, ...);
int _vsnprintf(char* buf, std::size_t count, const char* fmt, va_list args);

// Secure variants: the output always ends with a zero. When it does not fit, buf becomes the
// empty text and the result is -1 (the runtime's invalid-parameter path, without the abort).
int sprintf_s(char* buf, std::size_t size, const char* fmt, ...);
int vsprintf_s(char* buf, std::size_t size, const char* fmt, va_list args);
int swprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, ...);
int vswprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, va_list args);
// _TRUNCATE as count truncates to fit and returns -1 instead of failing.
constexpr std::size_t _TRUNCATE = static_cast<std::size_t>(-1);
int _snprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, ...);
int _vsnprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, va_list args);
int _snwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, ...);
int _vsnwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, va_list args);
// Length the output would have, without the zero; -1 for a refused format.
int _vscwprintf(const char16_t* fmt, va_list args);
int _vscprintf(const char* fmt, va_list args);

namespace vkr {
// The engine behind all of the above, for the platform's and the system's own use. `ok` is false
// for a refused format (%n); the text is then empty.
std::u16string FormatV(const char16_t* fmt, va_list args, bool* ok = nullptr);
std::string FormatV(const char* fmt, va_list args, bool* ok = nullptr);
std::u16string Format(const char16_t* fmt, ...);
std::string Format(const char* fmt, ...);
}  // namespace vkr

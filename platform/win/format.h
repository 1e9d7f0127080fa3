// The platform's printf family, with the Windows C runtime's rules.
//
// The system's format strings rely on those rules, which differ from glibc's: in a wide format
// %s and %c take wide text and %S / %C 8-bit text, in an 8-bit format the reverse; %ls / %lc are
// always wide and %hs / %hc always 8-bit; `l` is 32-bit (long is 32-bit on Windows), `ll` and
// `I64` are 64-bit, `I32` 32-bit, `I` (and `z` `t` `j`) pointer-sized, `h` short, `hh` char;
// `L` is ignored (long double is double on Windows). A null string prints as an empty text, not
// "(null)". Flags (- + space # 0), width and precision (also `*`) work as in C, except that the
// '0' flag pads characters and strings with zeros too, as the runtime does; width counts
// units of the output, a string's precision counts units of the argument but never cuts a
// character in two, and across widths the text is converted (UTF-8 <-> UTF-16). %p prints all
// 16 hex digits in upper case. Floating conversions (%e %E %f %F %g %G %a %A) print exactly as
// the modern runtime does for finite values (two-digit exponents; %a has 13 hex digits by
// default); infinities and NaNs print "inf" / "nan" with their sign (upper case for upper-case
// types). %n is refused: the call fails and writes an empty text, as does a width or precision
// beyond int. Unknown conversions are printed as written.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/win/types.h"

// Windows' wsprintf: output capped at 1024 characters including the zero; returns the length
// stored. A null format or a refused one stores the empty text and returns 0. It has no floating
// conversions: like any letter that is no conversion of its own, %f (%e %g %a ...) prints the
// letter alone and takes no argument. Floating values go through the _snwprintf / swprintf_s
// family instead.
VKR_API int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);
VKR_API int wsprintfA(LPSTR buf, LPCSTR fmt, ...);
VKR_API int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args);
VKR_API int wvsprintfA(LPSTR buf, LPCSTR fmt, va_list args);

// _snprintf family: at most count characters. Output shorter than count gets a terminating zero;
// output of exactly count characters gets none and returns count; longer output is cut to count
// characters, without a zero, and returns -1. A null buffer with count 0 returns the length the
// output needs. A refused format returns -1 and leaves an empty text when count > 0.
VKR_API int _snwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, ...);
VKR_API int _vsnwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, va_list args);
VKR_API int _snprintf(char* buf, std::size_t count, const char* fmt, ...);
VKR_API int _vsnprintf(char* buf, std::size_t count, const char* fmt, va_list args);

// Secure variants: the output always ends with a zero. When it does not fit, buf becomes the
// empty text and the result is -1 (the runtime's invalid-parameter path, without the abort).
VKR_API int sprintf_s(char* buf, std::size_t size, const char* fmt, ...);
VKR_API int vsprintf_s(char* buf, std::size_t size, const char* fmt, va_list args);
VKR_API int swprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, ...);
VKR_API int vswprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, va_list args);
// _snprintf_s: at most count characters and always a zero. When count (below size) or _TRUNCATE
// cuts the output, the cut text is kept and the result is -1; output that does not fit in size
// otherwise gives the empty text and -1. A count of 0 fails (-1, empty text).
constexpr std::size_t _TRUNCATE = static_cast<std::size_t>(-1);
VKR_API int _snprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, ...);
VKR_API int _vsnprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, va_list args);
VKR_API int _snwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, ...);
VKR_API int _vsnwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, va_list args);
// Length the output would have, without the zero; -1 for a refused format.
VKR_API int _vscwprintf(const char16_t* fmt, va_list args);
VKR_API int _vscprintf(const char* fmt, va_list args);
VKR_API int _scwprintf(const char16_t* fmt, ...);
VKR_API int _scprintf(const char* fmt, ...);

namespace vkr {
// The engine behind all of the above, for the platform's and the system's own use. `ok` is false
// for a refused format (%n); the text is then empty.
VKR_API std::u16string FormatV(const char16_t* fmt, va_list args, bool* ok = nullptr);
VKR_API std::string FormatV(const char* fmt, va_list args, bool* ok = nullptr);
VKR_API std::u16string Format(const char16_t* fmt, ...);
VKR_API std::string Format(const char* fmt, ...);
}  // namespace vkr

// Locales: LCIDs, the locale information calls and number formatting, for the locales the system
// supports (1033 en-US, 1031 de-DE and the invariant locale).
//
// The user-default and system-default locales are 1033 unless the environment variable VKR_LOCALE
// names another one when the process first asks ("1031", "0x0407" or "de-DE"; it sets both), or
// vkr::platform::SetUserDefaultLocale / SetSystemDefaultLocale change them. A thread's locale
// follows the user default until SetThreadLocale is called on that thread.
//
// LCIDs resolve as Windows resolves them: LOCALE_USER_DEFAULT (0x400) and LOCALE_NEUTRAL (0) are
// the user default, LOCALE_SYSTEM_DEFAULT (0x800) the system default, a primary language with
// SUBLANG_NEUTRAL its default country, the sort-id bits are ignored. Any other LCID is not
// supported: the calls fail with ERROR_INVALID_PARAMETER (conversions with E_INVALIDARG).
#pragma once

#include "platform/win/types.h"

using LCTYPE = DWORD;

constexpr WORD MAKELANGID(WORD primary, WORD sub) { return static_cast<WORD>((sub << 10) | primary); }
constexpr WORD PRIMARYLANGID(WORD langId) { return static_cast<WORD>(langId & 0x3FF); }
constexpr WORD SUBLANGID(WORD langId) { return static_cast<WORD>(langId >> 10); }
constexpr LCID MAKELCID(WORD langId, WORD sortId) { return (static_cast<DWORD>(sortId) << 16) | langId; }
constexpr LANGID LANGIDFROMLCID(LCID lcid) { return static_cast<LANGID>(lcid & 0xFFFF); }
constexpr WORD SORTIDFROMLCID(LCID lcid) { return static_cast<WORD>((lcid >> 16) & 0xF); }

constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_INVARIANT = 0x7F;
constexpr WORD LANG_GERMAN = 0x07;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_SYS_DEFAULT = 0x02;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
constexpr WORD SUBLANG_GERMAN = 0x01;
constexpr WORD SORT_DEFAULT = 0x0;

constexpr LANGID LANG_USER_DEFAULT = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
constexpr LANGID LANG_SYSTEM_DEFAULT = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);
constexpr LCID LOCALE_USER_DEFAULT = MAKELCID(LANG_USER_DEFAULT, SORT_DEFAULT);
constexpr LCID LOCALE_SYSTEM_DEFAULT = MAKELCID(LANG_SYSTEM_DEFAULT, SORT_DEFAULT);
constexpr LCID LOCALE_NEUTRAL = 0;
constexpr LCID LOCALE_INVARIANT = MAKELCID(MAKELANGID(LANG_INVARIANT, SUBLANG_NEUTRAL), SORT_DEFAULT);

// Flags of the locale calls.
constexpr DWORD LOCALE_NOUSEROVERRIDE = 0x80000000;
constexpr DWORD LOCALE_USE_CP_ACP = 0x40000000;
constexpr DWORD LOCALE_RETURN_NUMBER = 0x20000000;

// String comparison flags (VarCmp, VarBstrCmp).
constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr DWORD NORM_IGNORENONSPACE = 0x00000002;
constexpr DWORD NORM_IGNORESYMBOLS = 0x00000004;
constexpr DWORD NORM_IGNOREKANATYPE = 0x00010000;
constexpr DWORD NORM_IGNOREWIDTH = 0x00020000;
constexpr DWORD NORM_IGNOREKASHIDA = 0x00040000;

// LCTYPEs with their Windows values. Names, numbers ("I...") and formats are all returned as text
// unless LOCALE_RETURN_NUMBER asks for a numeric one as a DWORD.
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;
constexpr LCTYPE LOCALE_SLANGUAGE = 0x0002;
constexpr LCTYPE LOCALE_SLOCALIZEDDISPLAYNAME = 0x0002;
constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;
constexpr LCTYPE LOCALE_SNATIVELANGNAME = 0x0004;
constexpr LCTYPE LOCALE_SNATIVELANGUAGENAME = 0x0004;
constexpr LCTYPE LOCALE_ICOUNTRY = 0x0005;
constexpr LCTYPE LOCALE_SCOUNTRY = 0x0006;
constexpr LCTYPE LOCALE_SLOCALIZEDCOUNTRYNAME = 0x0006;
constexpr LCTYPE LOCALE_SABBREVCTRYNAME = 0x0007;
constexpr LCTYPE LOCALE_SNATIVECTRYNAME = 0x0008;
constexpr LCTYPE LOCALE_SNATIVECOUNTRYNAME = 0x0008;
constexpr LCTYPE LOCALE_IDEFAULTLANGUAGE = 0x0009;
constexpr LCTYPE LOCALE_IDEFAULTCOUNTRY = 0x000A;
constexpr LCTYPE LOCALE_SLIST = 0x000C;
constexpr LCTYPE LOCALE_IMEASURE = 0x000D;
constexpr LCTYPE LOCALE_SDECIMAL = 0x000E;
constexpr LCTYPE LOCALE_STHOUSAND = 0x000F;
constexpr LCTYPE LOCALE_SGROUPING = 0x0010;
constexpr LCTYPE LOCALE_IDIGITS = 0x0011;
constexpr LCTYPE LOCALE_ILZERO = 0x0012;
constexpr LCTYPE LOCALE_SNATIVEDIGITS = 0x0013;
constexpr LCTYPE LOCALE_SCURRENCY = 0x0014;
constexpr LCTYPE LOCALE_SINTLSYMBOL = 0x0015;
constexpr LCTYPE LOCALE_SMONDECIMALSEP = 0x0016;
constexpr LCTYPE LOCALE_SMONTHOUSANDSEP = 0x0017;
constexpr LCTYPE LOCALE_SMONGROUPING = 0x0018;
constexpr LCTYPE LOCALE_ICURRDIGITS = 0x0019;
constexpr LCTYPE LOCALE_IINTLCURRDIGITS = 0x001A;
constexpr LCTYPE LOCALE_ICURRENCY = 0x001B;
constexpr LCTYPE LOCALE_INEGCURR = 0x001C;
constexpr LCTYPE LOCALE_SDATE = 0x001D;
constexpr LCTYPE LOCALE_STIME = 0x001E;
constexpr LCTYPE LOCALE_SSHORTDATE = 0x001F;
constexpr LCTYPE LOCALE_SLONGDATE = 0x0020;
constexpr LCTYPE LOCALE_IDATE = 0x0021;
constexpr LCTYPE LOCALE_ILDATE = 0x0022;
constexpr LCTYPE LOCALE_ITIME = 0x0023;
constexpr LCTYPE LOCALE_ICENTURY = 0x0024;
constexpr LCTYPE LOCALE_ITLZERO = 0x0025;
constexpr LCTYPE LOCALE_IDAYLZERO = 0x0026;
constexpr LCTYPE LOCALE_IMONLZERO = 0x0027;
constexpr LCTYPE LOCALE_S1159 = 0x0028;
constexpr LCTYPE LOCALE_S2359 = 0x0029;
constexpr LCTYPE LOCALE_SDAYNAME1 = 0x002A;  // Monday; SDAYNAME7 (0x30) is Sunday
constexpr LCTYPE LOCALE_SABBREVDAYNAME1 = 0x0031;
constexpr LCTYPE LOCALE_SMONTHNAME1 = 0x0038;  // to SMONTHNAME12 = 0x43
constexpr LCTYPE LOCALE_SABBREVMONTHNAME1 = 0x0044;  // to SABBREVMONTHNAME12 = 0x4F
constexpr LCTYPE LOCALE_SPOSITIVESIGN = 0x0050;
constexpr LCTYPE LOCALE_SNEGATIVESIGN = 0x0051;
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;
constexpr LCTYPE LOCALE_SNAME = 0x005C;
constexpr LCTYPE LOCALE_SENGLISHDISPLAYNAME = 0x0072;
constexpr LCTYPE LOCALE_SNATIVEDISPLAYNAME = 0x0073;
constexpr LCTYPE LOCALE_SSHORTTIME = 0x0079;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;
constexpr LCTYPE LOCALE_SENGLISHLANGUAGENAME = 0x1001;
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;
constexpr LCTYPE LOCALE_SENGLISHCOUNTRYNAME = 0x1002;
constexpr LCTYPE LOCALE_STIMEFORMAT = 0x1003;
constexpr LCTYPE LOCALE_ITIMEMARKPOSN = 0x1005;
constexpr LCTYPE LOCALE_SYEARMONTH = 0x1006;
constexpr LCTYPE LOCALE_ICALENDARTYPE = 0x1009;
constexpr LCTYPE LOCALE_IFIRSTDAYOFWEEK = 0x100C;
constexpr LCTYPE LOCALE_IFIRSTWEEKOFYEAR = 0x100D;
constexpr LCTYPE LOCALE_INEGNUMBER = 0x1010;

constexpr int LOCALE_NAME_MAX_LENGTH = 85;

// Number format for GetNumberFormat. Grouping: the group sizes as decimal digits from the decimal
// point leftwards, the last repeating unless it is 0 (3 = "123,456,789", 32 = "12,34,56,789").
// NegativeOrder (LOCALE_INEGNUMBER): 0 "(1.1)", 1 "-1.1", 2 "- 1.1", 3 "1.1-", 4 "1.1 -".
struct NUMBERFMTA {
  UINT NumDigits;
  UINT LeadingZero;
  UINT Grouping;
  LPSTR lpDecimalSep;
  LPSTR lpThousandSep;
  UINT NegativeOrder;
};
struct NUMBERFMTW {
  UINT NumDigits;
  UINT LeadingZero;
  UINT Grouping;
  LPWSTR lpDecimalSep;
  LPWSTR lpThousandSep;
  UINT NegativeOrder;
};

VKR_API LCID GetUserDefaultLCID();
VKR_API LCID GetSystemDefaultLCID();
VKR_API LANGID GetUserDefaultLangID();
VKR_API LANGID GetSystemDefaultLangID();
VKR_API LCID GetThreadLocale();
// FALSE (ERROR_INVALID_PARAMETER) for a locale that is not supported.
VKR_API BOOL SetThreadLocale(LCID lcid);

// The Windows contract: cchData 0 asks for the size (characters with the terminating zero, bytes
// for the A form, whose text is UTF-8); 0 with GetLastError ERROR_INSUFFICIENT_BUFFER,
// ERROR_INVALID_PARAMETER (unsupported locale, bad buffer) or ERROR_INVALID_FLAGS (unknown LCTYPE).
// With LOCALE_RETURN_NUMBER a numeric LCTYPE is written as a DWORD (size 2 for W, 4 for A).
VKR_API int GetLocaleInfoW(LCID lcid, LCTYPE type, LPWSTR data, int cchData);
VKR_API int GetLocaleInfoA(LCID lcid, LCTYPE type, LPSTR data, int cchData);

// Formats a number text ("-" first when negative, digits, at most one "."; nothing else) with
// the format, or the locale's own when format is null: rounded half away from zero to NumDigits
// fraction digits, grouped, with the locale's separators and negative mode. flags must be 0 when a
// format is given, else 0 or LOCALE_NOUSEROVERRIDE (ERROR_INVALID_FLAGS). A value whose shown
// digits are all zero loses its minus sign. cchNumber 0 asks for the size, as GetLocaleInfo.
VKR_API int GetNumberFormatW(LCID lcid, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR numberStr,
                             int cchNumber);
VKR_API int GetNumberFormatA(LCID lcid, DWORD flags, LPCSTR value, const NUMBERFMTA* format, LPSTR numberStr,
                             int cchNumber);

// "en-US", "de-DE"; the invariant locale has the empty name. Returns the characters written with
// the terminating zero (cchName 0 asks for the size), 0 with GetLastError on failure.
VKR_API int LCIDToLocaleName(LCID lcid, LPWSTR name, int cchName, DWORD flags);
// Case-insensitive; 0 (ERROR_INVALID_PARAMETER) for a name that is not supported.
VKR_API LCID LocaleNameToLCID(LPCWSTR name, DWORD flags);

namespace vkr::platform {
// Sets the process-wide defaults; false (and nothing changed) for a locale that is not supported.
// Named LCIDs (0x400, 0x800, a neutral sub-language) resolve first.
VKR_API bool SetUserDefaultLocale(LCID lcid);
VKR_API bool SetSystemDefaultLocale(LCID lcid);
}  // namespace vkr::platform

// The locale table, the process and thread defaults, GetLocaleInfo and GetNumberFormat.
#include "platform/win/locale.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/locale_data.h"
#include "platform/win/text.h"

namespace vkr::platform {
namespace {

// The values are those Windows ships for these locales (without user overrides).
const LocaleData kLocales[] = {
    {
        0x0409, u"en-US", u"0409", u"English (United States)", u"English", u"ENU", u"English",
        u"English (United States)", u"1", u"United States", u"USA", u"United States", u"en", u"US",
        u",", u"1", u".", u",", u"3;0", u"2", u"1", u"1", u"0123456789", u"$", u"USD", u".", u",",
        u"3;0", u"2", u"0", u"0", u"/", u":", u"M/d/yyyy", u"dddd, MMMM d, yyyy", u"h:mm:ss tt",
        u"h:mm tt", u"MMMM yyyy", u"0", u"0", u"AM", u"PM", u"6", u"0", u"", u"-",
        {u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday", u"Sunday"},
        {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"},
        {u"January", u"February", u"March", u"April", u"May", u"June", u"July", u"August", u"September",
         u"October", u"November", u"December"},
        {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"},
        u"True", u"False",
    },
    {
        0x0407, u"de-DE", u"0407", u"German (Germany)", u"German", u"DEU", u"Deutsch",
        u"Deutsch (Deutschland)", u"49", u"Germany", u"DEU", u"Deutschland", u"de", u"DE", u";", u"0",
        u",", u".", u"3;0", u"2", u"1", u"1", u"0123456789", u"\u20AC", u"EUR", u",", u".", u"3;0",
        u"2", u"3", u"8", u".", u":", u"dd.MM.yyyy", u"dddd, d. MMMM yyyy", u"HH:mm:ss", u"HH:mm",
        u"MMMM yyyy", u"1", u"1", u"", u"", u"0", u"2", u"", u"-",
        {u"Montag", u"Dienstag", u"Mittwoch", u"Donnerstag", u"Freitag", u"Samstag", u"Sonntag"},
        {u"Mo", u"Di", u"Mi", u"Do", u"Fr", u"Sa", u"So"},
        {u"Januar", u"Februar", u"M\u00E4rz", u"April", u"Mai", u"Juni", u"Juli", u"August", u"September",
         u"Oktober", u"November", u"Dezember"},
        {u"Jan", u"Feb", u"M\u00E4r", u"Apr", u"Mai", u"Jun", u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez"},
        u"Wahr", u"Falsch",
    },
    {
        0x007F, u"", u"007F", u"Invariant Language (Invariant Country)", u"Invariant Language", u"IVL",
        u"Invariant Language", u"Invariant Language (Invariant Country)", u"1", u"Invariant Country",
        u"IVC", u"Invariant Country", u"iv", u"IV", u",", u"0", u".", u",", u"3;0", u"2", u"1", u"1",
        u"0123456789", u"\u00A4", u"XDR", u".", u",", u"3;0", u"2", u"0", u"0", u"/", u":",
        u"MM/dd/yyyy", u"dddd, dd MMMM yyyy", u"HH:mm:ss", u"HH:mm", u"yyyy MMMM", u"0", u"1", u"AM",
        u"PM", u"6", u"0", u"+", u"-",
        {u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday", u"Sunday"},
        {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"},
        {u"January", u"February", u"March", u"April", u"May", u"June", u"July", u"August", u"September",
         u"October", u"November", u"December"},
        {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"},
        u"True", u"False",
    },
};

const LocaleData* FindConcrete(LCID lcid) {
  for (const auto& l : kLocales)
    if (l.lcid == lcid) return &l;
  return nullptr;
}

// The concrete LCID a named one stands for; the defaults are not consulted here.
LCID Canonical(LCID lcid) {
  const LANGID lang = LANGIDFROMLCID(lcid);
  if (SUBLANGID(lang) == SUBLANG_NEUTRAL) {
    if (PRIMARYLANGID(lang) == LANG_ENGLISH) return 0x0409;
    if (PRIMARYLANGID(lang) == LANG_GERMAN) return 0x0407;
  }
  return lang;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

LCID LcidFromName(std::u16string_view name) {
  for (const auto& l : kLocales)
    if (EqualsIgnoreCase(name, l.name)) return l.lcid;
  return 0;
}

// "1031", "0x0407" or "de-DE"; 0 when the text names no supported locale.
LCID ParseLocaleSetting(const char* text) {
  std::string_view s(text);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (s.empty()) return 0;
  LCID lcid = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    for (char c : s.substr(2)) {
      int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (v < 0 || lcid > 0xFFFFF) return 0;
      lcid = lcid * 16 + static_cast<LCID>(v);
    }
  } else if (s.find_first_not_of("0123456789") == std::string_view::npos) {
    for (char c : s) {
      if (lcid > 0xFFFFF) return 0;
      lcid = lcid * 10 + static_cast<LCID>(c - '0');
    }
  } else {
    std::u16string wide(s.begin(), s.end());
    lcid = LcidFromName(wide);
  }
  const LCID concrete = Canonical(lcid);
  return FindConcrete(concrete) ? concrete : 0;
}

struct Defaults {
  std::atomic<LCID> user{0x0409};
  std::atomic<LCID> system{0x0409};
  Defaults() {
    const char* env = std::getenv("VKR_LOCALE");
    if (!env) return;
    if (const LCID lcid = ParseLocaleSetting(env)) {
      user = lcid;
      system = lcid;
    } else {
      std::fprintf(stderr, "VKR_LOCALE=\"%s\" names no supported locale (1033, 1031, en-US, de-DE); using 1033\n",
                   env);
    }
  }
};

Defaults& TheDefaults() {
  static Defaults defaults;
  return defaults;
}

thread_local LCID t_threadLocale = 0;

// The concrete LCID of any LCID the calls accept, or 0.
LCID Resolve(LCID lcid) {
  if (lcid >> 20) return 0;
  const LANGID lang = LANGIDFROMLCID(lcid);
  if (lang == LOCALE_NEUTRAL || lang == LANG_USER_DEFAULT) return TheDefaults().user;
  if (lang == LANG_SYSTEM_DEFAULT) return TheDefaults().system;
  const LCID concrete = Canonical(lcid);
  return FindConcrete(concrete) ? concrete : 0;
}

const char16_t* Field(const LocaleData& l, LCTYPE type) {
  if (type >= LOCALE_SDAYNAME1 && type < LOCALE_SDAYNAME1 + 7) return l.dayNames[type - LOCALE_SDAYNAME1];
  if (type >= LOCALE_SABBREVDAYNAME1 && type < LOCALE_SABBREVDAYNAME1 + 7)
    return l.abbrevDayNames[type - LOCALE_SABBREVDAYNAME1];
  if (type >= LOCALE_SMONTHNAME1 && type < LOCALE_SMONTHNAME1 + 12) return l.monthNames[type - LOCALE_SMONTHNAME1];
  if (type >= LOCALE_SABBREVMONTHNAME1 && type < LOCALE_SABBREVMONTHNAME1 + 12)
    return l.abbrevMonthNames[type - LOCALE_SABBREVMONTHNAME1];
  switch (type) {
    case LOCALE_ILANGUAGE: return l.languageId;
    case LOCALE_IDEFAULTLANGUAGE: return l.languageId;
    case LOCALE_SLANGUAGE: return l.displayName;
    case LOCALE_SENGLISHDISPLAYNAME: return l.displayName;
    case LOCALE_SENGLANGUAGE: return l.englishLanguage;
    case LOCALE_SABBREVLANGNAME: return l.abbrevLanguage;
    case LOCALE_SNATIVELANGNAME: return l.nativeLanguage;
    case LOCALE_SNATIVEDISPLAYNAME: return l.nativeDisplayName;
    case LOCALE_ICOUNTRY: return l.countryCode;
    case LOCALE_IDEFAULTCOUNTRY: return l.countryCode;
    case LOCALE_SCOUNTRY: return l.country;
    case LOCALE_SENGCOUNTRY: return l.country;
    case LOCALE_SABBREVCTRYNAME: return l.abbrevCountry;
    case LOCALE_SNATIVECTRYNAME: return l.nativeCountry;
    case LOCALE_SISO639LANGNAME: return l.iso639;
    case LOCALE_SISO3166CTRYNAME: return l.iso3166;
    case LOCALE_SNAME: return l.name;
    case LOCALE_SLIST: return l.list;
    case LOCALE_IMEASURE: return l.measure;
    case LOCALE_SDECIMAL: return l.decimal;
    case LOCALE_STHOUSAND: return l.thousand;
    case LOCALE_SGROUPING: return l.grouping;
    case LOCALE_IDIGITS: return l.digits;
    case LOCALE_ILZERO: return l.leadingZero;
    case LOCALE_INEGNUMBER: return l.negativeNumber;
    case LOCALE_SNATIVEDIGITS: return l.nativeDigits;
    case LOCALE_SCURRENCY: return l.currency;
    case LOCALE_SINTLSYMBOL: return l.intlSymbol;
    case LOCALE_SMONDECIMALSEP: return l.monDecimal;
    case LOCALE_SMONTHOUSANDSEP: return l.monThousand;
    case LOCALE_SMONGROUPING: return l.monGrouping;
    case LOCALE_ICURRDIGITS: return l.currDigits;
    case LOCALE_IINTLCURRDIGITS: return l.currDigits;
    case LOCALE_ICURRENCY: return l.currencyMode;
    case LOCALE_INEGCURR: return l.negCurrencyMode;
    case LOCALE_SDATE: return l.dateSep;
    case LOCALE_STIME: return l.timeSep;
    case LOCALE_SSHORTDATE: return l.shortDate;
    case LOCALE_SLONGDATE: return l.longDate;
    case LOCALE_STIMEFORMAT: return l.timeFormat;
    case LOCALE_SSHORTTIME: return l.shortTime;
    case LOCALE_SYEARMONTH: return l.yearMonth;
    case LOCALE_IDATE: return l.dateOrder;
    case LOCALE_ILDATE: return l.dateOrder;
    case LOCALE_ITIME: return l.time24;
    case LOCALE_ITIMEMARKPOSN: return u"0";
    case LOCALE_ICENTURY: return u"1";
    case LOCALE_ITLZERO: return l.time24;
    case LOCALE_IDAYLZERO: return l.lcid == 0x0407 ? u"1" : u"0";
    case LOCALE_IMONLZERO: return l.lcid == 0x0407 ? u"1" : u"0";
    case LOCALE_S1159: return l.am;
    case LOCALE_S2359: return l.pm;
    case LOCALE_ICALENDARTYPE: return u"1";
    case LOCALE_IFIRSTDAYOFWEEK: return l.firstDayOfWeek;
    case LOCALE_IFIRSTWEEKOFYEAR: return l.firstWeekOfYear;
    case LOCALE_SPOSITIVESIGN: return l.positiveSign;
    case LOCALE_SNEGATIVESIGN: return l.negativeSign;
    default: return nullptr;
  }
}

bool IsNumericType(LCTYPE type) {
  switch (type) {
    case LOCALE_ILANGUAGE: case LOCALE_IDEFAULTLANGUAGE: case LOCALE_ICOUNTRY: case LOCALE_IDEFAULTCOUNTRY:
    case LOCALE_IMEASURE: case LOCALE_IDIGITS: case LOCALE_ILZERO: case LOCALE_INEGNUMBER:
    case LOCALE_ICURRDIGITS: case LOCALE_IINTLCURRDIGITS: case LOCALE_ICURRENCY: case LOCALE_INEGCURR:
    case LOCALE_IDATE: case LOCALE_ILDATE: case LOCALE_ITIME: case LOCALE_ITIMEMARKPOSN: case LOCALE_ICENTURY:
    case LOCALE_ITLZERO: case LOCALE_IDAYLZERO: case LOCALE_IMONLZERO: case LOCALE_ICALENDARTYPE:
    case LOCALE_IFIRSTDAYOFWEEK: case LOCALE_IFIRSTWEEKOFYEAR:
      return true;
    default:
      return false;
  }
}

DWORD NumberOf(LCTYPE type, const char16_t* text) {
  const bool hex = type == LOCALE_ILANGUAGE || type == LOCALE_IDEFAULTLANGUAGE;
  DWORD v = 0;
  for (const char16_t* p = text; *p; ++p) {
    const char16_t c = *p;
    const DWORD d = (c >= u'0' && c <= u'9') ? c - u'0' : (c >= u'A' && c <= u'F') ? c - u'A' + 10 : 0;
    v = v * (hex ? 16 : 10) + d;
  }
  return v;
}

// Copies text and its zero into the caller's buffer with the size-query contract.
template <typename Ch>
int Deliver(std::basic_string_view<Ch> text, Ch* out, int cch) {
  const std::size_t need = text.size() + 1;
  if (cch == 0) return static_cast<int>(need);
  if (static_cast<std::size_t>(cch) < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.data(), text.size() * sizeof(Ch));
  out[text.size()] = 0;
  return static_cast<int>(need);
}

// Group sizes from the decimal point leftwards; the last one repeats when `repeat`.
struct Grouping {
  int sizes[8] = {};
  int count = 0;
  bool repeat = false;
};

bool GroupingFromNumber(UINT g, Grouping* out) {
  if (g > 99999999) return false;
  char digits[12];
  const int n = std::snprintf(digits, sizeof digits, "%u", g);
  Grouping r;
  for (int i = 0; i < n; ++i) r.sizes[r.count++] = digits[i] - '0';
  if (r.count && r.sizes[r.count - 1] == 0) {
    --r.count;
  } else {
    r.repeat = r.count > 0;
  }
  *out = r;
  return true;
}

Grouping GroupingFromText(const char16_t* text) {
  Grouping r;
  int current = 0;
  bool any = false;
  for (const char16_t* p = text;; ++p) {
    if (*p >= u'0' && *p <= u'9') {
      current = current * 10 + (*p - u'0');
      any = true;
    } else if (*p == u';' || *p == 0) {
      if (any && r.count < 8) r.sizes[r.count++] = current;
      current = 0;
      any = false;
      if (*p == 0) break;
    }
  }
  // "3;0" repeats the 3; "3" groups once.
  if (r.count && r.sizes[r.count - 1] == 0) {
    --r.count;
    r.repeat = r.count > 0;
  }
  return r;
}

UINT SmallNumber(const char16_t* text) { return static_cast<UINT>(NumberOf(0, text)); }

}  // namespace

const LocaleData* FindLocale(LCID lcid) {
  const LCID concrete = Resolve(lcid);
  return concrete ? FindConcrete(concrete) : nullptr;
}

bool SetUserDefaultLocale(LCID lcid) {
  const LCID concrete = Resolve(lcid);
  if (!concrete) return false;
  TheDefaults().user = concrete;
  return true;
}

bool SetSystemDefaultLocale(LCID lcid) {
  const LCID concrete = Resolve(lcid);
  if (!concrete) return false;
  TheDefaults().system = concrete;
  return true;
}

}  // namespace vkr::platform

using vkr::platform::FindLocale;
using vkr::platform::LocaleData;

LCID GetUserDefaultLCID() { return vkr::platform::TheDefaults().user; }
LCID GetSystemDefaultLCID() { return vkr::platform::TheDefaults().system; }
LANGID GetUserDefaultLangID() { return LANGIDFROMLCID(GetUserDefaultLCID()); }
LANGID GetSystemDefaultLangID() { return LANGIDFROMLCID(GetSystemDefaultLCID()); }

LCID GetThreadLocale() {
  const LCID own = vkr::platform::t_threadLocale;
  return own ? own : GetUserDefaultLCID();
}

BOOL SetThreadLocale(LCID lcid) {
  const LCID concrete = vkr::platform::Resolve(lcid);
  if (!concrete) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  vkr::platform::t_threadLocale = concrete;
  return TRUE;
}

int GetLocaleInfoW(LCID lcid, LCTYPE type, LPWSTR data, int cchData) {
  if (cchData < 0 || (cchData > 0 && !data)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const LocaleData* loc = FindLocale(lcid);
  if (!loc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const LCTYPE base = type & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER);
  const char16_t* text = vkr::platform::Field(*loc, base);
  if (!text || ((type & LOCALE_RETURN_NUMBER) && !vkr::platform::IsNumericType(base))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (type & LOCALE_RETURN_NUMBER) {
    constexpr int kChars = sizeof(DWORD) / sizeof(WCHAR);
    if (cchData == 0) return kChars;
    if (cchData < kChars) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    const DWORD v = vkr::platform::NumberOf(base, text);
    std::memcpy(data, &v, sizeof v);
    return kChars;
  }
  return vkr::platform::Deliver(std::u16string_view(text), data, cchData);
}

int GetLocaleInfoA(LCID lcid, LCTYPE type, LPSTR data, int cchData) {
  if (cchData < 0 || (cchData > 0 && !data)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (type & LOCALE_RETURN_NUMBER) {
    WCHAR number[2];
    if (!GetLocaleInfoW(lcid, type, number, 2)) return 0;
    if (cchData == 0) return static_cast<int>(sizeof(DWORD));
    if (cchData < static_cast<int>(sizeof(DWORD))) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(data, number, sizeof(DWORD));
    return static_cast<int>(sizeof(DWORD));
  }
  WCHAR wide[128];
  if (!GetLocaleInfoW(lcid, type, wide, 128)) return 0;
  const std::string text = vkr::Utf16ToUtf8(wide);
  return vkr::platform::Deliver(std::string_view(text), data, cchData);
}

int GetNumberFormatW(LCID lcid, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR numberStr,
                     int cchNumber) {
  if (cchNumber < 0 || (cchNumber > 0 && !numberStr) || !value) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((format && flags != 0) || (flags & ~LOCALE_NOUSEROVERRIDE)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const LocaleData* loc = FindLocale(lcid);
  if (!loc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  UINT numDigits, leadingZero, negativeOrder;
  const char16_t* decimalSep;
  const char16_t* thousandSep;
  vkr::platform::Grouping grouping;
  if (format) {
    if (format->NumDigits > 9 || format->LeadingZero > 1 || format->NegativeOrder > 4 || !format->lpDecimalSep ||
        !format->lpThousandSep || !vkr::platform::GroupingFromNumber(format->Grouping, &grouping)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    numDigits = format->NumDigits;
    leadingZero = format->LeadingZero;
    negativeOrder = format->NegativeOrder;
    decimalSep = format->lpDecimalSep;
    thousandSep = format->lpThousandSep;
  } else {
    numDigits = vkr::platform::SmallNumber(loc->digits);
    leadingZero = vkr::platform::SmallNumber(loc->leadingZero);
    negativeOrder = vkr::platform::SmallNumber(loc->negativeNumber);
    decimalSep = loc->decimal;
    thousandSep = loc->thousand;
    grouping = vkr::platform::GroupingFromText(loc->grouping);
  }

  // The input: an optional leading minus, digits, at most one point; at least one digit.
  std::u16string_view in(value);
  bool negative = false;
  if (!in.empty() && in.front() == u'-') {
    negative = true;
    in.remove_prefix(1);
  }
  std::string whole, fraction;
  bool point = false;
  for (char16_t c : in) {
    if (c == u'.' && !point) {
      point = true;
    } else if (c >= u'0' && c <= u'9') {
      (point ? fraction : whole).push_back(static_cast<char>(c));
    } else {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  if (whole.empty() && fraction.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  // Round half away from zero to numDigits, carrying into the whole part.
  if (fraction.size() > numDigits) {
    const bool up = fraction[numDigits] >= '5';
    fraction.resize(numDigits);
    if (up) {
      std::string all = whole + fraction;
      int i = static_cast<int>(all.size()) - 1;
      while (i >= 0 && all[static_cast<std::size_t>(i)] == '9') all[static_cast<std::size_t>(i--)] = '0';
      if (i >= 0) {
        ++all[static_cast<std::size_t>(i)];
      } else {
        all.insert(all.begin(), '1');
      }
      whole = all.substr(0, all.size() - numDigits);
      fraction = all.substr(all.size() - numDigits);
    }
  }
  fraction.resize(numDigits, '0');
  const auto first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? std::string() : whole.substr(first);
  if (whole.empty() && (leadingZero || numDigits == 0)) whole.push_back('0');
  if (whole.find_first_not_of('0') == std::string::npos && fraction.find_first_not_of('0') == std::string::npos)
    negative = false;

  std::u16string number;
  {
    // Group from the right, then reverse.
    std::u16string reversed;
    int group = 0, inGroup = 0;
    const std::u16string_view sep(thousandSep);
    for (auto it = whole.rbegin(); it != whole.rend(); ++it) {
      const int size = group < grouping.count ? grouping.sizes[group]
                       : grouping.repeat      ? grouping.sizes[grouping.count - 1]
                                              : 0;
      if (size > 0 && inGroup == size) {
        reversed.append(sep.rbegin(), sep.rend());
        inGroup = 0;
        ++group;
      }
      reversed.push_back(static_cast<char16_t>(*it));
      ++inGroup;
    }
    number.assign(reversed.rbegin(), reversed.rend());
  }
  if (numDigits > 0) {
    number += decimalSep;
    number.append(fraction.begin(), fraction.end());
  }
  if (negative) {
    switch (negativeOrder) {
      case 0: number = u"(" + number + u")"; break;
      case 1: number = u"-" + number; break;
      case 2: number = u"- " + number; break;
      case 3: number += u"-"; break;
      default: number += u" -"; break;
    }
  }
  return vkr::platform::Deliver(std::u16string_view(number), numberStr, cchNumber);
}

int GetNumberFormatA(LCID lcid, DWORD flags, LPCSTR value, const NUMBERFMTA* format, LPSTR numberStr,
                     int cchNumber) {
  if (cchNumber < 0 || (cchNumber > 0 && !numberStr) || !value ||
      (format && (!format->lpDecimalSep || !format->lpThousandSep))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string wideValue = vkr::Utf8ToUtf16(value);
  std::u16string decimalSep, thousandSep;
  NUMBERFMTW wideFormat{};
  if (format) {
    decimalSep = vkr::Utf8ToUtf16(format->lpDecimalSep);
    thousandSep = vkr::Utf8ToUtf16(format->lpThousandSep);
    wideFormat = {format->NumDigits, format->LeadingZero,  format->Grouping,
                  decimalSep.data(), thousandSep.data(), format->NegativeOrder};
  }
  const int need = GetNumberFormatW(lcid, flags, wideValue.c_str(), format ? &wideFormat : nullptr, nullptr, 0);
  if (!need) return 0;
  std::u16string wide(static_cast<std::size_t>(need), u'\0');
  GetNumberFormatW(lcid, flags, wideValue.c_str(), format ? &wideFormat : nullptr, wide.data(), need);
  wide.resize(static_cast<std::size_t>(need - 1));
  const std::string text = vkr::Utf16ToUtf8(wide);
  return vkr::platform::Deliver(std::string_view(text), numberStr, cchNumber);
}

int LCIDToLocaleName(LCID lcid, LPWSTR name, int cchName, DWORD flags) {
  constexpr DWORD kAllowNeutralNames = 0x08000000;
  if (flags & ~kAllowNeutralNames) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (cchName < 0 || (cchName > 0 && !name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const LocaleData* loc = FindLocale(lcid);
  if (!loc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return vkr::platform::Deliver(std::u16string_view(loc->name), name, cchName);
}

LCID LocaleNameToLCID(LPCWSTR name, DWORD flags) {
  constexpr DWORD kAllowNeutralNames = 0x08000000;
  if (flags & ~kAllowNeutralNames) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (!name) return GetUserDefaultLCID();
  const LCID lcid = vkr::platform::LcidFromName(name);
  if (!lcid) SetLastError(ERROR_INVALID_PARAMETER);
  return lcid;
}

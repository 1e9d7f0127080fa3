// The platform's own view of a supported locale: the texts GetLocaleInfo answers, kept as fields so
// that the conversions read them without a lookup. Private to the platform.
#pragma once

#include "platform/win/locale.h"

namespace vkr::platform {

struct LocaleData {
  LCID lcid;
  const char16_t* name;  // LOCALE_SNAME
  const char16_t* languageId;  // LOCALE_ILANGUAGE, hexadecimal
  const char16_t* displayName;  // LOCALE_SLANGUAGE, in the English user interface
  const char16_t* englishLanguage;
  const char16_t* abbrevLanguage;
  const char16_t* nativeLanguage;
  const char16_t* nativeDisplayName;
  const char16_t* countryCode;  // LOCALE_ICOUNTRY
  const char16_t* country;
  const char16_t* abbrevCountry;
  const char16_t* nativeCountry;
  const char16_t* iso639;
  const char16_t* iso3166;
  const char16_t* list;
  const char16_t* measure;
  const char16_t* decimal;
  const char16_t* thousand;
  const char16_t* grouping;
  const char16_t* digits;
  const char16_t* leadingZero;
  const char16_t* negativeNumber;
  const char16_t* nativeDigits;
  const char16_t* currency;
  const char16_t* intlSymbol;
  const char16_t* monDecimal;
  const char16_t* monThousand;
  const char16_t* monGrouping;
  const char16_t* currDigits;
  const char16_t* currencyMode;
  const char16_t* negCurrencyMode;
  const char16_t* dateSep;
  const char16_t* timeSep;
  const char16_t* shortDate;
  const char16_t* longDate;
  const char16_t* timeFormat;
  const char16_t* shortTime;
  const char16_t* yearMonth;
  const char16_t* dateOrder;  // LOCALE_IDATE: 0 M-D-Y, 1 D-M-Y, 2 Y-M-D
  const char16_t* time24;  // LOCALE_ITIME
  const char16_t* am;
  const char16_t* pm;
  const char16_t* firstDayOfWeek;
  const char16_t* firstWeekOfYear;
  const char16_t* positiveSign;
  const char16_t* negativeSign;
  const char16_t* dayNames[7];  // Monday first, as LOCALE_SDAYNAME1..7
  const char16_t* abbrevDayNames[7];
  const char16_t* monthNames[12];
  const char16_t* abbrevMonthNames[12];
  const char16_t* trueName;  // the locale's own words for VAR_LOCALBOOL
  const char16_t* falseName;
};

// The data of a supported locale after resolving the named LCIDs, or null.
const LocaleData* FindLocale(LCID lcid);

}  // namespace vkr::platform

// Locale-formatted number texts: the number format of a locale and the formatting of a value with
// it (for display and for comparing floating-point values at a given precision).
#pragma once

#include "platform/platform.h"

struct SNumberFormat {
  LCID lcid = 0;                 // 0: the system default locale, taken when formatting
  VARTYPE vtValue = VT_EMPTY;    // VT_R4 or VT_R8: the value is a floating-point number
  BOOL bKeepTrailingZeros = 0;   // keep the zeros that end the fraction
  ULONG nExponentLimit = 0;      // magnitudes below 1/limit are written "%e"; 0: never
  UINT nNumDigits = 0;           // fraction digits (LOCALE_IDIGITS)
  UINT nLeadingZero = 0;         // LOCALE_ILZERO
  UINT nGrouping = 0;            // LOCALE_SGROUPING as one number: "3;0" is 3, "3;2;0" 32
  char szDecimalSep[5] = {};     // LOCALE_SDECIMAL
  char szThousandSep[7] = {};    // LOCALE_STHOUSAND
  UINT nNegativeOrder = 0;       // LOCALE_INEGNUMBER
};

// Fills the record from the locale; lcid, nExponentLimit (1000) and bKeepTrailingZeros (0) are set,
// vtValue is left to the caller. E_INVALIDARG for a null record; a failing locale query (or a
// separator longer than its field) returns its error as an HRESULT and leaves the rest unfilled.
HRESULT GetLocaleNumberFormat(SNumberFormat* format, LCID lcid);

// The value as a number text of the record's locale:
//   VT_BSTR            the text itself
//   VT_EMPTY, bytes    ""
//   VT_BOOL            "true" / "false"
//   numbers            through DECIMAL, rounded to nNumDigits, grouped, the locale's separators;
//                      trailing fraction zeros dropped unless kept; a floating-point value with a
//                      fraction whose magnitude is below 1/nExponentLimit as "%e"
// E_INVALIDARG for a null text or record; conversion and locale failures are returned.
HRESULT FormatNumberText(const VARIANT& value, BSTR* text, const SNumberFormat* format);

// The numeric core of the OLE Automation conversions: every number is read into one of three exact
// forms, and every numeric target is written from them. Private to the platform.
//
//   Integer  the integer types and VT_BOOL (-1/0)
//   Real     VT_R4, VT_R8 and VT_DATE: a double, shown with 7 (R4) or 15 significant digits
//   Decimal  VT_CY, VT_DECIMAL and number texts: decimal digits and a power of ten
//
// Rounding to an integer (and to CY's four or DECIMAL's 28 places) is half to even. A value that
// does not fit the target gives DISP_E_OVERFLOW; a text that is not a number DISP_E_TYPEMISMATCH.
#pragma once

#include <string_view>

#include "platform/com/variant.h"
#include "platform/win/locale_data.h"

namespace vkr::platform {

constexpr int kMaxDigits = 40;

// ±d × 10^exp with d the n digits (no leading or trailing zeros; n == 0 is zero). `sticky` says a
// non-zero digit was dropped beyond the ones kept.
struct Digits {
  bool neg = false;
  bool sticky = false;
  int n = 0;
  int exp = 0;
  char d[kMaxDigits];
};

struct Number {
  enum Kind { kInteger, kReal, kDecimal };
  Kind kind = kInteger;
  __int128 i = 0;
  double r = 0;
  int precision = 15;  // significant digits of a Real shown as text or made a DECIMAL
  Digits dec;

  // Set in place: building a Number and copying it costs more than the conversion itself.
  void SetInteger(__int128 v) {
    kind = kInteger;
    i = v;
  }
  void SetReal(double v, int digits) {
    kind = kReal;
    r = v;
    precision = digits;
  }
  void SetDigits(const Digits& d) {
    kind = kDecimal;
    dec = d;
  }
};

// E_INVALIDARG for a DECIMAL whose scale is above 28 or whose sign byte is neither 0 nor 0x80.
HRESULT DigitsFromDecimal(const DECIMAL& value, Digits* out);
Digits DigitsFromCurrency(LONGLONG cy);

// Blanks around, a sign before or after (or parentheses), the locale's currency symbol before or
// after, digits with the locale's thousands separators between them, the locale's decimal
// separator, an exponent "e±n"; "&H" hexadecimal and "&O" octal are 16- or 32-bit patterns
// ("&HFFFF" is -1).
HRESULT ParseNumber(std::u16string_view text, const LocaleData& locale, Number* out);

HRESULT ToInteger(const Number& n, __int128* out);
HRESULT ToDouble(const Number& n, double* out);
HRESULT ToFloat(const Number& n, float* out);
HRESULT ToCurrency(const Number& n, LONGLONG* out);
HRESULT ToDecimal(const Number& n, DECIMAL* out);
bool IsZero(const Number& n);

// The text of a number: integers in full; a Real rounded to its significant digits, trailing zeros
// dropped, in exponent form ("1E+20", "1.5E-05") when its exponent is below -4 or reaches the digit
// count; Decimal digits in full, trailing zeros dropped. The locale gives the decimal separator and
// the leading zero. DISP_E_OVERFLOW for a Real that is not finite. `out` holds at least 128.
HRESULT NumberText(const Number& n, const LocaleData& locale, char16_t* out, int* length);

// -1, 0, 1 by value across the forms (a Real against a Decimal compares as doubles). NaN equals
// NaN and is above every other value.
int CompareNumbers(const Number& a, const Number& b);

}  // namespace vkr::platform

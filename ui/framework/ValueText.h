// Value texts of the user interfaces: a table's format text read once into a typed format, and the
// texts of numbers (with a locale's decimal separator), choices, bit sets, byte strings and dates.
//
// A parameter table gives each entry a printf-like format ("%d", "%.3f", "%s", or "" for a choice
// list). Such a text is never handed to printf or scanf: ParseValueFormat reads its one conversion
// and the literal text around it, FormatValueText renders a value with it, and the readers accept
// exactly what the format can show. A value that the conversion does not fit is rendered in its
// default form rather than misread. Every text made here is at most kMaxValueText bytes, except a
// text value, which is shown whole.
//
// Texts are in the thread's 8-bit code page (UTF-8 on this platform).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vkr::ui {

constexpr std::size_t kMaxValueText = 255;

enum class ValueKind {
  kChoice,   // the empty text: the entry shows a choice list
  kLiteral,  // text without a conversion
  kSigned,   // %d %i
  kUnsigned, // %u
  kHex,      // %x %X
  kOctal,    // %o
  kFixed,    // %f %F
  kExponent, // %e %E
  kGeneral,  // %g %G
  kText,     // %s %S
  kInvalid,  // more than one conversion, or one that no value fits (%n, %p, %c ...)
};

// One conversion with its flags, and the literal text before and after it ("%%" already undone).
struct SValueFormat {
  ValueKind kind = ValueKind::kChoice;
  std::string prefix;
  std::string suffix;
  bool leftAlign = false;  // '-'
  bool plusSign = false;   // '+'
  bool spaceSign = false;  // ' '
  bool alternate = false;  // '#'
  bool zeroPad = false;    // '0'
  bool upper = false;      // X, E, G
  int width = 0;           // at most 64
  int precision = -1;      // -1: none; at most 40

  bool IsInteger() const {
    return kind == ValueKind::kSigned || kind == ValueKind::kUnsigned || kind == ValueKind::kHex ||
           kind == ValueKind::kOctal;
  }
  bool IsFloat() const { return kind == ValueKind::kFixed || kind == ValueKind::kExponent || kind == ValueKind::kGeneral; }
};

SValueFormat ParseValueFormat(std::string_view text);

// What a value text needs of a locale: its decimal separator, and the locale for dates.
struct SValueLocale {
  LCID lcid = LOCALE_SYSTEM_DEFAULT;
  std::string decimalSeparator = ".";
  // GetLocaleInfoA (lcid, LOCALE_SDECIMAL); "." when the locale cannot tell.
  static SValueLocale Of(LCID lcid);
};

// Puts the separator in place of the first '.' of the text when the separator is exactly one
// character (one code point); a longer or empty separator leaves the point.
void ApplyDecimalSeparator(std::string* text, std::string_view separator);

// Renders a value with the format:
//   VT_EMPTY                          ""
//   integers, VT_BOOL (-1/0)          integer conversions as printf; float conversions with the
//                                     value as a double; others the decimal number
//   VT_R4, VT_R8                      float conversions as printf, the point replaced by the
//                                     locale's separator; integer conversions with the value
//                                     rounded half away from zero; others the shortest text that
//                                     reads back as the same number; infinities "1.#INF"/"-1.#INF"
//   VT_BSTR                           %s with width and precision; other conversions the text
//   VT_DATE                           the locale's short date (and time when it has one)
//   VT_ARRAY|VT_UI1                   BytesToHexText, the format unused
// The literal text of the format surrounds every rendering except the byte string. False for the
// other VARTYPEs (nothing is shown) and for a date or text that cannot be converted.
bool FormatValueText(const SValueFormat& format, const VARIANT& value, const SValueLocale& locale, std::string* out);

// Removes the format's literal prefix and suffix from a text that carries them (blanks in the
// format match any run of blanks, also none), and blanks around what remains.
std::string_view StripFormatText(const SValueFormat& format, std::string_view text);

// Reads one integer as the format's integer conversion shows it (%d %i %u decimal, %x hexadecimal
// with an optional 0x, %o octal), with the format's literal text around it. False
// for a format that is not an integer conversion, for anything but blanks after the number, and
// for a number outside 32 bits (%d and %i: signed; %u %x %o: the unsigned pattern).
bool ScanFormattedInteger(const SValueFormat& format, std::string_view text, LONG* out);

// The same for a 64-bit reading into a parameter of type vt (an integer VARTYPE or VT_BOOL): the
// number, in the format's radix, as the value of that type. DISP_E_TYPEMISMATCH for a text that is
// not a number, DISP_E_OVERFLOW for one that the type cannot hold (%u %x %o may give the unsigned
// pattern of a signed type).
HRESULT ReadIntegerText(const SValueFormat& format, std::string_view text, VARTYPE vt, VARIANT* out);

// A float as typed: the first ',' is a point, an exponent with no digits before it gets the
// mantissa 1 ("e3" is 1000), "1.#INF" and "-1.#INF" (any case) are the infinities; otherwise the
// whole text (blanks and the format's literal text around it allowed) must be one decimal number
// that a float holds. An integer conversion rounds it to a whole number; any other format keeps
// every digit typed (with "%.1f", 0.26 stays 0.26: the field shows its decimals, the value is the
// user's).
// E_FAIL for a text that is not such a number.
HRESULT ReadFloatText(std::string_view text, const SValueFormat& format, float* out);

// Each byte as two upper-case hexadecimal digits followed by a blank ("01 AB ").
std::string BytesToHexText(const BYTE* bytes, std::size_t count);
// The characters " .,:;" are dropped, the rest upper-cased, a "0" appended to an odd count; then
// every pair of hexadecimal digits is one byte. E_INVALIDARG for any other character.
HRESULT HexTextToBytes(std::string_view text, std::vector<BYTE>* bytes);

// One entry of an enumeration: its value and label.
struct SChoice {
  LONG value = 0;
  std::string label;
};

// The labels of the non-zero entries whose bits are all in the value, in list order, joined with
// " | ".
std::string BitSetText(const std::vector<SChoice>& choices, ULONG value);
// The OR of the entries named in the text. A part between '|' separators that equals a label
// (blanks around ignored) names that entry; a part that equals no label names every entry whose
// label occurs in it.
ULONG BitSetFromText(const std::vector<SChoice>& choices, std::string_view text);

// The date texts of a locale (VarBstrFromDate / VarDateFromStr); failures as those give them.
HRESULT DateToText(DATE date, LCID lcid, std::string* out);
HRESULT TextToDate(std::string_view text, LCID lcid, DATE* out);

// Text between the widths (the thread's code page); null is the empty text.
std::string NarrowText(const OLECHAR* text);
std::u16string WideText(std::string_view text);

}  // namespace vkr::ui

// OLE Automation conversions and comparisons: VariantChangeType(Ex), the VarXxxFromYyy functions,
// VarCmp, VarBstrCmp, VarBstrCat, and DATE <-> SYSTEMTIME.
//
// All conversions run on one core, so a VariantChangeType and the matching VarXxxFromYyy agree.
// The rules, as OLE Automation documents them:
//
//   from \ to     integers, R4, R8, CY, DECIMAL      BSTR                    BOOL           DATE
//   VT_EMPTY      0                                  ""                      FALSE          0
//   VT_NULL       DISP_E_TYPEMISMATCH (every target but VT_EMPTY and VT_NULL)
//   integers      by value; DISP_E_OVERFLOW when     decimal digits          0 FALSE,       by value (range
//                 it does not fit                                            else TRUE      checked)
//   R4, R8, DATE  rounded half to even to integers,  R4 7 and R8 15          0.0 FALSE      by value
//                 CY's 4 and DECIMAL's 28 places;    significant digits
//                 R4 -> DECIMAL keeps 7, R8 and      ("1.5", "0.1",
//                 DATE 15 significant digits         "1E+20", "1E-05")
//   CY, DECIMAL   exact, rounded half to even        all digits, no          0 FALSE        by value
//                                                    trailing zeros
//   BOOL          -1 / 0 (unsigned targets: all      "-1"/"0"; "True"/       -              -1 / 0
//                 bits set for TRUE, so 255 in UI1)  "False" with
//                                                    VARIANT_ALPHABOOL
//   BSTR          a number text in the locale (see   copy                    "True", "False",  the locale's
//                 below); DISP_E_TYPEMISMATCH        (also "#TRUE#",         short date and
//                 otherwise                          "#FALSE#", the locale's time forms
//                                                    words) or a number
//   DATE -> BSTR  the locale's short date and time form: the time alone on 1899-12-30, the date
//                 alone at midnight ("1/2/2020 3:04:05 PM", "02.01.2020 15:04:05").
//   VT_ERROR      only to VT_ERROR; VT_DISPATCH (and VT_UNKNOWN with IDispatch) through the object's
//                 Value property (DISPID_VALUE) unless VARIANT_NOVALUEPROP; VT_BYREF by the value
//                 it points to.
//
// Every valid source converts to VT_EMPTY (cleared) and VT_NULL. Arrays are refused with
// DISP_E_TYPEMISMATCH in both directions (an array converts only to its own type, as a copy), so
// the caller's own array handling runs. An unknown VARTYPE on either side is DISP_E_BADVARTYPE, a
// null pointer E_INVALIDARG, a locale the platform does not support E_INVALIDARG. A number text
// may have blanks around it, a sign before or after (or parentheses), the locale's currency symbol,
// the locale's thousands separators between digits ("1,5" is 15 in 1033 and 1.5 in 1031), the
// locale's decimal separator, an exponent ("1e3"), or be "&H" hexadecimal / "&O" octal.
//
// dest must hold a valid VARIANT: it is cleared (its BSTR freed, its object released) only when the
// conversion succeeds; a failure leaves it untouched. dest may be src (then src changes only on
// success).
#pragma once

#include "platform/com/interfaces.h"
#include "platform/win/locale.h"

// VariantChangeType(Ex) flags.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;
constexpr USHORT VARIANT_CALENDAR_THAI = 0x20;
constexpr USHORT VARIANT_CALENDAR_GREGORIAN = 0x40;
constexpr USHORT VARIANT_USE_NLS = 0x80;

// VarXxxFromYyy flags (with LOCALE_NOUSEROVERRIDE, which changes nothing here).
constexpr ULONG VAR_TIMEVALUEONLY = 0x001;
constexpr ULONG VAR_DATEVALUEONLY = 0x002;
constexpr ULONG VAR_VALIDDATE = 0x004;
constexpr ULONG VAR_CALENDAR_HIJRI = 0x008;
constexpr ULONG VAR_LOCALBOOL = 0x010;
constexpr ULONG VAR_FORMAT_NOSUBSTITUTE = 0x020;
constexpr ULONG VAR_FOURDIGITYEARS = 0x040;
constexpr ULONG VAR_CALENDAR_THAI = 0x080;
constexpr ULONG VAR_CALENDAR_GREGORIAN = 0x100;

// VarCmp and VarBstrCmp results (returned as the HRESULT).
constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr HRESULT VARCMP_NULL = 3;

// VariantChangeType uses LOCALE_USER_DEFAULT. The Hijri and Thai calendar flags give E_NOTIMPL.
VKR_API HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
VKR_API HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

// Compares by value: VARCMP_NULL when either side is VT_NULL; numbers of any types by their values
// (R4 widened to R8, so 0.1f > 0.1); texts as texts; a number is less than a text; VT_EMPTY is 0
// against a number and "" against a text. Texts compare by UTF-16 code unit, after case folding
// with NORM_IGNORECASE (the other NORM_ flags give E_NOTIMPL: no linguistic collation here);
// a null BSTR is the empty text. VT_ERROR compares only with VT_ERROR. Arrays, objects and
// records give DISP_E_TYPEMISMATCH.
VKR_API HRESULT VarCmp(LPVARIANT left, LPVARIANT right, LCID lcid, ULONG flags);
// VARCMP_LT / EQ / GT as VarCmp compares texts; a null BSTR equals "".
VKR_API HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);
// A new BSTR holding left then right (null is the empty text; embedded zeros are kept).
VKR_API HRESULT VarBstrCat(BSTR left, BSTR right, BSTR* result);

// TRUE on success. VariantTimeToSystemTime rounds to the second (wMilliseconds 0) and fails outside
// the DATE range. SystemTimeToVariantTime ignores wDayOfWeek and wMilliseconds, moves a day past
// the month's end into the next month (day 0 is the previous month's last day), and fails for a
// month outside 1..12, a day above 31, a year outside 100..9999 or a time field out of range.
VKR_API INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* st);
VKR_API INT SystemTimeToVariantTime(SYSTEMTIME* st, DOUBLE* vtime);

// The per-pair conversions. Texts (Str) and objects (Disp) take a locale; VarBstrFrom* take a locale
// and flags (VAR_LOCALBOOL for the locale's own words, VAR_DATEVALUEONLY / VAR_TIMEVALUEONLY for a
// date's parts). VarBstrFromBool gives "True"/"False". Null pointers give E_INVALIDARG; failures
// leave *out untouched.
VKR_API HRESULT VarUI1FromI2(SHORT in, BYTE* out);
VKR_API HRESULT VarUI1FromI4(LONG in, BYTE* out);
VKR_API HRESULT VarUI1FromI8(LONG64 in, BYTE* out);
VKR_API HRESULT VarUI1FromR4(FLOAT in, BYTE* out);
VKR_API HRESULT VarUI1FromR8(DOUBLE in, BYTE* out);
VKR_API HRESULT VarUI1FromCy(CY in, BYTE* out);
VKR_API HRESULT VarUI1FromDate(DATE in, BYTE* out);
VKR_API HRESULT VarUI1FromBool(VARIANT_BOOL in, BYTE* out);
VKR_API HRESULT VarUI1FromI1(CHAR in, BYTE* out);
VKR_API HRESULT VarUI1FromUI2(USHORT in, BYTE* out);
VKR_API HRESULT VarUI1FromUI4(ULONG in, BYTE* out);
VKR_API HRESULT VarUI1FromUI8(ULONG64 in, BYTE* out);
VKR_API HRESULT VarUI1FromDec(const DECIMAL* in, BYTE* out);
VKR_API HRESULT VarUI1FromStr(LPCOLESTR in, LCID lcid, ULONG flags, BYTE* out);
VKR_API HRESULT VarUI1FromDisp(IDispatch* in, LCID lcid, BYTE* out);

VKR_API HRESULT VarI2FromUI1(BYTE in, SHORT* out);
VKR_API HRESULT VarI2FromI4(LONG in, SHORT* out);
VKR_API HRESULT VarI2FromI8(LONG64 in, SHORT* out);
VKR_API HRESULT VarI2FromR4(FLOAT in, SHORT* out);
VKR_API HRESULT VarI2FromR8(DOUBLE in, SHORT* out);
VKR_API HRESULT VarI2FromCy(CY in, SHORT* out);
VKR_API HRESULT VarI2FromDate(DATE in, SHORT* out);
VKR_API HRESULT VarI2FromBool(VARIANT_BOOL in, SHORT* out);
VKR_API HRESULT VarI2FromI1(CHAR in, SHORT* out);
VKR_API HRESULT VarI2FromUI2(USHORT in, SHORT* out);
VKR_API HRESULT VarI2FromUI4(ULONG in, SHORT* out);
VKR_API HRESULT VarI2FromUI8(ULONG64 in, SHORT* out);
VKR_API HRESULT VarI2FromDec(const DECIMAL* in, SHORT* out);
VKR_API HRESULT VarI2FromStr(LPCOLESTR in, LCID lcid, ULONG flags, SHORT* out);
VKR_API HRESULT VarI2FromDisp(IDispatch* in, LCID lcid, SHORT* out);

VKR_API HRESULT VarI4FromUI1(BYTE in, LONG* out);
VKR_API HRESULT VarI4FromI2(SHORT in, LONG* out);
VKR_API HRESULT VarI4FromI8(LONG64 in, LONG* out);
VKR_API HRESULT VarI4FromR4(FLOAT in, LONG* out);
VKR_API HRESULT VarI4FromR8(DOUBLE in, LONG* out);
VKR_API HRESULT VarI4FromCy(CY in, LONG* out);
VKR_API HRESULT VarI4FromDate(DATE in, LONG* out);
VKR_API HRESULT VarI4FromBool(VARIANT_BOOL in, LONG* out);
VKR_API HRESULT VarI4FromI1(CHAR in, LONG* out);
VKR_API HRESULT VarI4FromUI2(USHORT in, LONG* out);
VKR_API HRESULT VarI4FromUI4(ULONG in, LONG* out);
VKR_API HRESULT VarI4FromUI8(ULONG64 in, LONG* out);
VKR_API HRESULT VarI4FromDec(const DECIMAL* in, LONG* out);
VKR_API HRESULT VarI4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, LONG* out);
VKR_API HRESULT VarI4FromDisp(IDispatch* in, LCID lcid, LONG* out);

VKR_API HRESULT VarI8FromUI1(BYTE in, LONG64* out);
VKR_API HRESULT VarI8FromI2(SHORT in, LONG64* out);
VKR_API HRESULT VarI8FromI4(LONG in, LONG64* out);
VKR_API HRESULT VarI8FromR4(FLOAT in, LONG64* out);
VKR_API HRESULT VarI8FromR8(DOUBLE in, LONG64* out);
VKR_API HRESULT VarI8FromCy(CY in, LONG64* out);
VKR_API HRESULT VarI8FromDate(DATE in, LONG64* out);
VKR_API HRESULT VarI8FromBool(VARIANT_BOOL in, LONG64* out);
VKR_API HRESULT VarI8FromI1(CHAR in, LONG64* out);
VKR_API HRESULT VarI8FromUI2(USHORT in, LONG64* out);
VKR_API HRESULT VarI8FromUI4(ULONG in, LONG64* out);
VKR_API HRESULT VarI8FromUI8(ULONG64 in, LONG64* out);
VKR_API HRESULT VarI8FromDec(const DECIMAL* in, LONG64* out);
VKR_API HRESULT VarI8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, LONG64* out);
VKR_API HRESULT VarI8FromDisp(IDispatch* in, LCID lcid, LONG64* out);

VKR_API HRESULT VarR4FromUI1(BYTE in, FLOAT* out);
VKR_API HRESULT VarR4FromI2(SHORT in, FLOAT* out);
VKR_API HRESULT VarR4FromI4(LONG in, FLOAT* out);
VKR_API HRESULT VarR4FromI8(LONG64 in, FLOAT* out);
VKR_API HRESULT VarR4FromR8(DOUBLE in, FLOAT* out);
VKR_API HRESULT VarR4FromCy(CY in, FLOAT* out);
VKR_API HRESULT VarR4FromDate(DATE in, FLOAT* out);
VKR_API HRESULT VarR4FromBool(VARIANT_BOOL in, FLOAT* out);
VKR_API HRESULT VarR4FromI1(CHAR in, FLOAT* out);
VKR_API HRESULT VarR4FromUI2(USHORT in, FLOAT* out);
VKR_API HRESULT VarR4FromUI4(ULONG in, FLOAT* out);
VKR_API HRESULT VarR4FromUI8(ULONG64 in, FLOAT* out);
VKR_API HRESULT VarR4FromDec(const DECIMAL* in, FLOAT* out);
VKR_API HRESULT VarR4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, FLOAT* out);
VKR_API HRESULT VarR4FromDisp(IDispatch* in, LCID lcid, FLOAT* out);

VKR_API HRESULT VarR8FromUI1(BYTE in, DOUBLE* out);
VKR_API HRESULT VarR8FromI2(SHORT in, DOUBLE* out);
VKR_API HRESULT VarR8FromI4(LONG in, DOUBLE* out);
VKR_API HRESULT VarR8FromI8(LONG64 in, DOUBLE* out);
VKR_API HRESULT VarR8FromR4(FLOAT in, DOUBLE* out);
VKR_API HRESULT VarR8FromCy(CY in, DOUBLE* out);
VKR_API HRESULT VarR8FromDate(DATE in, DOUBLE* out);
VKR_API HRESULT VarR8FromBool(VARIANT_BOOL in, DOUBLE* out);
VKR_API HRESULT VarR8FromI1(CHAR in, DOUBLE* out);
VKR_API HRESULT VarR8FromUI2(USHORT in, DOUBLE* out);
VKR_API HRESULT VarR8FromUI4(ULONG in, DOUBLE* out);
VKR_API HRESULT VarR8FromUI8(ULONG64 in, DOUBLE* out);
VKR_API HRESULT VarR8FromDec(const DECIMAL* in, DOUBLE* out);
VKR_API HRESULT VarR8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, DOUBLE* out);
VKR_API HRESULT VarR8FromDisp(IDispatch* in, LCID lcid, DOUBLE* out);

VKR_API HRESULT VarCyFromUI1(BYTE in, CY* out);
VKR_API HRESULT VarCyFromI2(SHORT in, CY* out);
VKR_API HRESULT VarCyFromI4(LONG in, CY* out);
VKR_API HRESULT VarCyFromI8(LONG64 in, CY* out);
VKR_API HRESULT VarCyFromR4(FLOAT in, CY* out);
VKR_API HRESULT VarCyFromR8(DOUBLE in, CY* out);
VKR_API HRESULT VarCyFromDate(DATE in, CY* out);
VKR_API HRESULT VarCyFromBool(VARIANT_BOOL in, CY* out);
VKR_API HRESULT VarCyFromI1(CHAR in, CY* out);
VKR_API HRESULT VarCyFromUI2(USHORT in, CY* out);
VKR_API HRESULT VarCyFromUI4(ULONG in, CY* out);
VKR_API HRESULT VarCyFromUI8(ULONG64 in, CY* out);
VKR_API HRESULT VarCyFromDec(const DECIMAL* in, CY* out);
VKR_API HRESULT VarCyFromStr(LPCOLESTR in, LCID lcid, ULONG flags, CY* out);
VKR_API HRESULT VarCyFromDisp(IDispatch* in, LCID lcid, CY* out);

VKR_API HRESULT VarDateFromUI1(BYTE in, DATE* out);
VKR_API HRESULT VarDateFromI2(SHORT in, DATE* out);
VKR_API HRESULT VarDateFromI4(LONG in, DATE* out);
VKR_API HRESULT VarDateFromI8(LONG64 in, DATE* out);
VKR_API HRESULT VarDateFromR4(FLOAT in, DATE* out);
VKR_API HRESULT VarDateFromR8(DOUBLE in, DATE* out);
VKR_API HRESULT VarDateFromCy(CY in, DATE* out);
VKR_API HRESULT VarDateFromBool(VARIANT_BOOL in, DATE* out);
VKR_API HRESULT VarDateFromI1(CHAR in, DATE* out);
VKR_API HRESULT VarDateFromUI2(USHORT in, DATE* out);
VKR_API HRESULT VarDateFromUI4(ULONG in, DATE* out);
VKR_API HRESULT VarDateFromUI8(ULONG64 in, DATE* out);
VKR_API HRESULT VarDateFromDec(const DECIMAL* in, DATE* out);
VKR_API HRESULT VarDateFromStr(LPCOLESTR in, LCID lcid, ULONG flags, DATE* out);
VKR_API HRESULT VarDateFromDisp(IDispatch* in, LCID lcid, DATE* out);

VKR_API HRESULT VarBoolFromUI1(BYTE in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromI2(SHORT in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromI4(LONG in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromI8(LONG64 in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromR4(FLOAT in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromR8(DOUBLE in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromCy(CY in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromDate(DATE in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromI1(CHAR in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromUI2(USHORT in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromUI4(ULONG in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromUI8(ULONG64 in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromDec(const DECIMAL* in, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromStr(LPCOLESTR in, LCID lcid, ULONG flags, VARIANT_BOOL* out);
VKR_API HRESULT VarBoolFromDisp(IDispatch* in, LCID lcid, VARIANT_BOOL* out);

VKR_API HRESULT VarI1FromUI1(BYTE in, CHAR* out);
VKR_API HRESULT VarI1FromI2(SHORT in, CHAR* out);
VKR_API HRESULT VarI1FromI4(LONG in, CHAR* out);
VKR_API HRESULT VarI1FromI8(LONG64 in, CHAR* out);
VKR_API HRESULT VarI1FromR4(FLOAT in, CHAR* out);
VKR_API HRESULT VarI1FromR8(DOUBLE in, CHAR* out);
VKR_API HRESULT VarI1FromCy(CY in, CHAR* out);
VKR_API HRESULT VarI1FromDate(DATE in, CHAR* out);
VKR_API HRESULT VarI1FromBool(VARIANT_BOOL in, CHAR* out);
VKR_API HRESULT VarI1FromUI2(USHORT in, CHAR* out);
VKR_API HRESULT VarI1FromUI4(ULONG in, CHAR* out);
VKR_API HRESULT VarI1FromUI8(ULONG64 in, CHAR* out);
VKR_API HRESULT VarI1FromDec(const DECIMAL* in, CHAR* out);
VKR_API HRESULT VarI1FromStr(LPCOLESTR in, LCID lcid, ULONG flags, CHAR* out);
VKR_API HRESULT VarI1FromDisp(IDispatch* in, LCID lcid, CHAR* out);

VKR_API HRESULT VarUI2FromUI1(BYTE in, USHORT* out);
VKR_API HRESULT VarUI2FromI2(SHORT in, USHORT* out);
VKR_API HRESULT VarUI2FromI4(LONG in, USHORT* out);
VKR_API HRESULT VarUI2FromI8(LONG64 in, USHORT* out);
VKR_API HRESULT VarUI2FromR4(FLOAT in, USHORT* out);
VKR_API HRESULT VarUI2FromR8(DOUBLE in, USHORT* out);
VKR_API HRESULT VarUI2FromCy(CY in, USHORT* out);
VKR_API HRESULT VarUI2FromDate(DATE in, USHORT* out);
VKR_API HRESULT VarUI2FromBool(VARIANT_BOOL in, USHORT* out);
VKR_API HRESULT VarUI2FromI1(CHAR in, USHORT* out);
VKR_API HRESULT VarUI2FromUI4(ULONG in, USHORT* out);
VKR_API HRESULT VarUI2FromUI8(ULONG64 in, USHORT* out);
VKR_API HRESULT VarUI2FromDec(const DECIMAL* in, USHORT* out);
VKR_API HRESULT VarUI2FromStr(LPCOLESTR in, LCID lcid, ULONG flags, USHORT* out);
VKR_API HRESULT VarUI2FromDisp(IDispatch* in, LCID lcid, USHORT* out);

VKR_API HRESULT VarUI4FromUI1(BYTE in, ULONG* out);
VKR_API HRESULT VarUI4FromI2(SHORT in, ULONG* out);
VKR_API HRESULT VarUI4FromI4(LONG in, ULONG* out);
VKR_API HRESULT VarUI4FromI8(LONG64 in, ULONG* out);
VKR_API HRESULT VarUI4FromR4(FLOAT in, ULONG* out);
VKR_API HRESULT VarUI4FromR8(DOUBLE in, ULONG* out);
VKR_API HRESULT VarUI4FromCy(CY in, ULONG* out);
VKR_API HRESULT VarUI4FromDate(DATE in, ULONG* out);
VKR_API HRESULT VarUI4FromBool(VARIANT_BOOL in, ULONG* out);
VKR_API HRESULT VarUI4FromI1(CHAR in, ULONG* out);
VKR_API HRESULT VarUI4FromUI2(USHORT in, ULONG* out);
VKR_API HRESULT VarUI4FromUI8(ULONG64 in, ULONG* out);
VKR_API HRESULT VarUI4FromDec(const DECIMAL* in, ULONG* out);
VKR_API HRESULT VarUI4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, ULONG* out);
VKR_API HRESULT VarUI4FromDisp(IDispatch* in, LCID lcid, ULONG* out);

VKR_API HRESULT VarUI8FromUI1(BYTE in, ULONG64* out);
VKR_API HRESULT VarUI8FromI2(SHORT in, ULONG64* out);
VKR_API HRESULT VarUI8FromI4(LONG in, ULONG64* out);
VKR_API HRESULT VarUI8FromI8(LONG64 in, ULONG64* out);
VKR_API HRESULT VarUI8FromR4(FLOAT in, ULONG64* out);
VKR_API HRESULT VarUI8FromR8(DOUBLE in, ULONG64* out);
VKR_API HRESULT VarUI8FromCy(CY in, ULONG64* out);
VKR_API HRESULT VarUI8FromDate(DATE in, ULONG64* out);
VKR_API HRESULT VarUI8FromBool(VARIANT_BOOL in, ULONG64* out);
VKR_API HRESULT VarUI8FromI1(CHAR in, ULONG64* out);
VKR_API HRESULT VarUI8FromUI2(USHORT in, ULONG64* out);
VKR_API HRESULT VarUI8FromUI4(ULONG in, ULONG64* out);
VKR_API HRESULT VarUI8FromDec(const DECIMAL* in, ULONG64* out);
VKR_API HRESULT VarUI8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, ULONG64* out);
VKR_API HRESULT VarUI8FromDisp(IDispatch* in, LCID lcid, ULONG64* out);

VKR_API HRESULT VarDecFromUI1(BYTE in, DECIMAL* out);
VKR_API HRESULT VarDecFromI2(SHORT in, DECIMAL* out);
VKR_API HRESULT VarDecFromI4(LONG in, DECIMAL* out);
VKR_API HRESULT VarDecFromI8(LONG64 in, DECIMAL* out);
VKR_API HRESULT VarDecFromR4(FLOAT in, DECIMAL* out);
VKR_API HRESULT VarDecFromR8(DOUBLE in, DECIMAL* out);
VKR_API HRESULT VarDecFromCy(CY in, DECIMAL* out);
VKR_API HRESULT VarDecFromDate(DATE in, DECIMAL* out);
VKR_API HRESULT VarDecFromBool(VARIANT_BOOL in, DECIMAL* out);
VKR_API HRESULT VarDecFromI1(CHAR in, DECIMAL* out);
VKR_API HRESULT VarDecFromUI2(USHORT in, DECIMAL* out);
VKR_API HRESULT VarDecFromUI4(ULONG in, DECIMAL* out);
VKR_API HRESULT VarDecFromUI8(ULONG64 in, DECIMAL* out);
VKR_API HRESULT VarDecFromStr(LPCOLESTR in, LCID lcid, ULONG flags, DECIMAL* out);
VKR_API HRESULT VarDecFromDisp(IDispatch* in, LCID lcid, DECIMAL* out);

VKR_API HRESULT VarBstrFromUI1(BYTE in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromI2(SHORT in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromI4(LONG in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromI8(LONG64 in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromR4(FLOAT in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromR8(DOUBLE in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromCy(CY in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromDate(DATE in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromBool(VARIANT_BOOL in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromI1(CHAR in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromUI2(USHORT in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromUI4(ULONG in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromUI8(ULONG64 in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromDec(const DECIMAL* in, LCID lcid, ULONG flags, BSTR* out);
VKR_API HRESULT VarBstrFromDisp(IDispatch* in, LCID lcid, ULONG flags, BSTR* out);

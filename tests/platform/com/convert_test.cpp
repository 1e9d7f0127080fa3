// VariantChangeType(Ex): one table of conversions with their expected values or failures, then the
// contracts around it (null pointers, aliasing, untouched destinations, objects, references).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using vkr::Variant;

Variant Of(VARTYPE vt) {
  Variant v;
  v.vt = vt;
  return v;
}
Variant I1(CHAR x) { auto v = Of(VT_I1); v.cVal = x; return v; }
Variant UI1(BYTE x) { auto v = Of(VT_UI1); v.bVal = x; return v; }
Variant I2(SHORT x) { auto v = Of(VT_I2); v.iVal = x; return v; }
Variant UI2(USHORT x) { auto v = Of(VT_UI2); v.uiVal = x; return v; }
Variant I4(LONG x) { auto v = Of(VT_I4); v.lVal = x; return v; }
Variant UI4(ULONG x) { auto v = Of(VT_UI4); v.ulVal = x; return v; }
Variant Int(INT x) { auto v = Of(VT_INT); v.intVal = x; return v; }
Variant Uint(UINT x) { auto v = Of(VT_UINT); v.uintVal = x; return v; }
Variant I8(LONGLONG x) { auto v = Of(VT_I8); v.llVal = x; return v; }
Variant UI8(ULONGLONG x) { auto v = Of(VT_UI8); v.ullVal = x; return v; }
Variant R4(FLOAT x) { auto v = Of(VT_R4); v.fltVal = x; return v; }
Variant R8(DOUBLE x) { auto v = Of(VT_R8); v.dblVal = x; return v; }
Variant Cy(LONGLONG scaled) { auto v = Of(VT_CY); v.cyVal.int64 = scaled; return v; }
Variant Date(DATE x) { auto v = Of(VT_DATE); v.date = x; return v; }
Variant Bool(bool x) { auto v = Of(VT_BOOL); v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
Variant Err(SCODE x) { auto v = Of(VT_ERROR); v.scode = x; return v; }
Variant Str(std::u16string_view s) {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
Variant Dec(ULONGLONG lo, ULONG hi = 0, BYTE scale = 0, bool negative = false) {
  Variant v;
  v.decVal.Lo64 = lo;
  v.decVal.Hi32 = hi;
  v.decVal.scale = scale;
  v.decVal.sign = negative ? DECIMAL_NEG : 0;
  v.vt = VT_DECIMAL;
  return v;
}

std::string Narrow(std::u16string_view s) { return vkr::Utf16ToUtf8(s); }

std::string Describe(const VARIANT& v) {
  char buf[96];
  switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I1: std::snprintf(buf, sizeof buf, "I1 %d", v.cVal); break;
    case VT_UI1: std::snprintf(buf, sizeof buf, "UI1 %u", v.bVal); break;
    case VT_I2: std::snprintf(buf, sizeof buf, "I2 %d", v.iVal); break;
    case VT_UI2: std::snprintf(buf, sizeof buf, "UI2 %u", v.uiVal); break;
    case VT_I4: std::snprintf(buf, sizeof buf, "I4 %d", v.lVal); break;
    case VT_UI4: std::snprintf(buf, sizeof buf, "UI4 %u", v.ulVal); break;
    case VT_INT: std::snprintf(buf, sizeof buf, "INT %d", v.intVal); break;
    case VT_UINT: std::snprintf(buf, sizeof buf, "UINT %u", v.uintVal); break;
    case VT_I8: std::snprintf(buf, sizeof buf, "I8 %lld", static_cast<long long>(v.llVal)); break;
    case VT_UI8: std::snprintf(buf, sizeof buf, "UI8 %llu", static_cast<unsigned long long>(v.ullVal)); break;
    case VT_R4: std::snprintf(buf, sizeof buf, "R4 %.9g", v.fltVal); break;
    case VT_R8: std::snprintf(buf, sizeof buf, "R8 %.17g", v.dblVal); break;
    case VT_DATE: std::snprintf(buf, sizeof buf, "DATE %.17g", v.date); break;
    case VT_CY: std::snprintf(buf, sizeof buf, "CY %lld", static_cast<long long>(v.cyVal.int64)); break;
    case VT_BOOL: std::snprintf(buf, sizeof buf, "BOOL %d", v.boolVal); break;
    case VT_ERROR: std::snprintf(buf, sizeof buf, "ERROR 0x%08X", static_cast<unsigned>(v.scode)); break;
    case VT_BSTR: return "BSTR \"" + Narrow(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal))) + "\"";
    case VT_DECIMAL:
      std::snprintf(buf, sizeof buf, "DEC sign 0x%02X scale %u hi %u lo %llu", v.decVal.sign, v.decVal.scale,
                    v.decVal.Hi32, static_cast<unsigned long long>(v.decVal.Lo64));
      break;
    default: std::snprintf(buf, sizeof buf, "vt 0x%04X", v.vt); break;
  }
  return buf;
}

constexpr LCID kEn = 1033;
constexpr LCID kDe = 1031;

struct Row {
  Variant from;
  VARTYPE to;
  HRESULT hr;
  Variant want;  // the result when hr is S_OK
  LCID lcid = kEn;
  USHORT flags = 0;
};

Row Ok(Variant from, Variant want, LCID lcid = kEn, USHORT flags = 0) {
  const VARTYPE to = want.vt;
  return {std::move(from), to, S_OK, std::move(want), lcid, flags};
}
Row Fails(Variant from, VARTYPE to, HRESULT hr, LCID lcid = kEn, USHORT flags = 0) {
  return {std::move(from), to, hr, Variant(), lcid, flags};
}

constexpr LONGLONG kI8Max = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kI8Min = std::numeric_limits<LONGLONG>::min();
constexpr ULONGLONG kUI8Max = std::numeric_limits<ULONGLONG>::max();

TEST(VariantChangeType, ConvertsByTheTable) {
  const Row rows[] = {
      // Integer ranges: overflow at the edges of every target.
      Ok(I4(255), UI1(255)),
      Fails(I4(256), VT_UI1, DISP_E_OVERFLOW),
      Fails(I4(-1), VT_UI1, DISP_E_OVERFLOW),
      Ok(I4(-128), I1(-128)),
      Fails(I4(-129), VT_I1, DISP_E_OVERFLOW),
      Fails(I4(128), VT_I1, DISP_E_OVERFLOW),
      Ok(I4(-32768), I2(-32768)),
      Fails(I4(32768), VT_I2, DISP_E_OVERFLOW),
      Ok(I4(65535), UI2(65535)),
      Fails(I4(65536), VT_UI2, DISP_E_OVERFLOW),
      Fails(I8(2147483648LL), VT_I4, DISP_E_OVERFLOW),
      Fails(UI4(2147483648u), VT_I4, DISP_E_OVERFLOW),
      Ok(I8(-2147483648LL), I4(-2147483647 - 1)),
      Fails(I4(-1), VT_UI4, DISP_E_OVERFLOW),
      Fails(Int(-1), VT_UINT, DISP_E_OVERFLOW),
      Ok(Uint(5), I2(5)),
      Ok(I4(7), Int(7)),
      Fails(I8(-1), VT_UI8, DISP_E_OVERFLOW),
      Fails(UI8(kUI8Max), VT_I8, DISP_E_OVERFLOW),
      Ok(UI8(kUI8Max), UI8(kUI8Max)),

      // Floating point to integers: half to even, range checked after rounding.
      Ok(R8(0.5), I4(0)),
      Ok(R8(1.5), I4(2)),
      Ok(R8(2.5), I4(2)),
      Ok(R8(3.5), I4(4)),
      Ok(R8(-0.5), I4(0)),
      Ok(R8(-1.5), I4(-2)),
      Ok(R8(-2.5), I4(-2)),
      Ok(R8(2.5000001), I4(3)),
      Ok(R8(-2.4999999), I4(-2)),
      Ok(R4(2.5f), I2(2)),
      Ok(R8(254.5), UI1(254)),
      Fails(R8(255.5), VT_UI1, DISP_E_OVERFLOW),
      Ok(R8(2147483647.4), I4(2147483647)),
      Fails(R8(2147483647.5), VT_I4, DISP_E_OVERFLOW),
      Ok(R8(-2147483648.5), I4(-2147483647 - 1)),
      Fails(R8(2147483648.0), VT_I4, DISP_E_OVERFLOW),
      Fails(R8(NAN), VT_I4, DISP_E_OVERFLOW),
      Fails(R8(INFINITY), VT_I8, DISP_E_OVERFLOW),
      Ok(R8(-9223372036854775808.0), I8(kI8Min)),
      Fails(R8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW),
      Ok(Date(1.5), I4(2)),

      // Number texts.
      Ok(Str(u" 12 "), I4(12)),
      Ok(Str(u"\t-7\t"), I2(-7)),
      Ok(Str(u"1e3"), I4(1000)),
      Ok(Str(u"1.5E1"), I4(15)),
      Ok(Str(u"2.5"), I4(2)),
      Ok(Str(u"3.5"), I4(4)),
      Ok(Str(u"+8"), UI1(8)),
      Ok(Str(u"7-"), I4(-7)),
      Ok(Str(u"(7)"), I4(-7)),
      Ok(Str(u"1,5"), R8(15)),
      Ok(Str(u"1,5"), R8(1.5), kDe),
      Ok(Str(u"1.5"), R8(15), kDe),
      Ok(Str(u"1.234.567,25"), R8(1234567.25), kDe),
      Ok(Str(u"1,234,567.25"), R8(1234567.25)),
      Ok(Str(u".5"), R8(0.5)),
      Ok(Str(u"5."), R8(5)),
      Ok(Str(u"0.1"), R4(0.1f)),
      Ok(Str(u"$12.50"), Cy(125000)),
      Ok(Str(u"-$3"), I4(-3)),
      Ok(Str(u"12,50 \u20AC"), Cy(125000), kDe),
      Ok(Str(u"&HFF"), I4(255)),
      Ok(Str(u"&hFFFF"), I4(-1)),
      Ok(Str(u"&HFFFFFFFF"), I8(-1)),
      Ok(Str(u"&H10000"), I4(65536)),
      Ok(Str(u"&O17"), I4(15)),
      Fails(Str(u"&H100000000"), VT_I8, DISP_E_OVERFLOW),
      Fails(Str(u"&H"), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Str(u"abc"), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Str(u""), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Str(u"  "), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"-"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"--1"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1 2"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1e"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1e+"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Str(u"(7"), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Str(u",5"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1,,5"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1.5.5"), VT_R8, DISP_E_TYPEMISMATCH),
      Fails(Str(u"256"), VT_UI1, DISP_E_OVERFLOW),
      Fails(Str(u"255.5"), VT_UI1, DISP_E_OVERFLOW),
      Ok(Str(u"4294967295"), UI4(4294967295u)),
      Fails(Str(u"4294967296"), VT_UI4, DISP_E_OVERFLOW),
      Ok(Str(u"18446744073709551615"), UI8(kUI8Max)),
      Fails(Str(u"18446744073709551616"), VT_UI8, DISP_E_OVERFLOW),
      Ok(Str(u"-9223372036854775808"), I8(kI8Min)),
      Fails(Str(u"9223372036854775808"), VT_I8, DISP_E_OVERFLOW),
      Fails(Str(u"1" + std::u16string(60, u'0')), VT_I8, DISP_E_OVERFLOW),
      Ok(Str(u"0.000000000000000000000000000000000000000000000000000000000001e60"), I4(1)),
      Fails(Str(u"1e400"), VT_R8, DISP_E_OVERFLOW),
      Ok(Str(u"1e-400"), R8(0)),
      Ok(Str(u"3.4e38"), R4(3.4e38f)),
      Fails(Str(u"3.5e38"), VT_R4, DISP_E_OVERFLOW),
      Ok(Str(u"0.1"), R8(0.1)),
      Ok(Str(u"123456789.123456789"), R8(123456789.123456789)),

      // Numbers to text: integers in full, R4 and R8 in their shortest form at 7 and 15 digits.
      Ok(I4(-5), Str(u"-5")),
      Ok(UI8(kUI8Max), Str(u"18446744073709551615")),
      Ok(I8(kI8Min), Str(u"-9223372036854775808")),
      Ok(R8(1.5), Str(u"1.5")),
      Ok(R8(1.5), Str(u"1,5"), kDe),
      Ok(R4(0.1f), Str(u"0.1")),
      Ok(R8(0.1), Str(u"0.1")),
      Ok(R8(0.1 + 0.2), Str(u"0.3")),
      Ok(R8(1.0 / 3.0), Str(u"0.333333333333333")),
      Ok(R8(2.0 / 3.0), Str(u"0.666666666666667")),
      Ok(R8(1e20), Str(u"1E+20")),
      Ok(R8(1.5e300), Str(u"1.5E+300")),
      Ok(R8(-1.5e-7), Str(u"-1.5E-07")),
      Ok(R8(-1.5e-7), Str(u"-1,5E-07"), kDe),
      Ok(R8(123456789012345.0), Str(u"123456789012345")),
      Ok(R8(1e15), Str(u"1E+15")),
      Ok(R8(999999999999999.4), Str(u"999999999999999")),
      Ok(R8(999999999999999.6), Str(u"1E+15")),
      Ok(R8(0.0001), Str(u"0.0001")),
      Ok(R8(0.00001), Str(u"1E-05")),
      Ok(R8(0), Str(u"0")),
      Ok(R8(-0.0), Str(u"0")),
      Ok(R8(-42), Str(u"-42")),
      Ok(R4(1e7f), Str(u"1E+07")),
      Ok(R4(1234567.0f), Str(u"1234567")),
      Ok(R4(3.14159265f), Str(u"3.141593")),
      Ok(R4(3.4028235e38f), Str(u"3.402823E+38")),
      Fails(R8(INFINITY), VT_BSTR, DISP_E_OVERFLOW),
      Fails(R8(NAN), VT_BSTR, DISP_E_OVERFLOW),
      Ok(Cy(15000), Str(u"1.5")),
      Ok(Cy(-1), Str(u"-0.0001")),
      Ok(Cy(kI8Max), Str(u"922337203685477.5807")),
      Ok(Dec(150, 0, 2), Str(u"1.5")),
      Ok(Dec(kUI8Max, 0xFFFFFFFF), Str(u"79228162514264337593543950335")),
      Ok(Dec(1, 0, 28, true), Str(u"-0.0000000000000000000000000001")),
      Ok(Dec(1, 0, 28), Str(u"0,0000000000000000000000000001"), kDe),

      // Floating point between widths.
      Ok(R8(0.1), R4(0.1f)),
      Ok(R4(0.1f), R8(static_cast<double>(0.1f))),
      Fails(R8(1e39), VT_R4, DISP_E_OVERFLOW),
      Ok(R8(INFINITY), R4(INFINITY)),
      Ok(I8(kI8Max), R8(9223372036854775807.0)),

      // Booleans: 0 / -1, words only with VARIANT_ALPHABOOL.
      Ok(Bool(true), Str(u"-1")),
      Ok(Bool(false), Str(u"0")),
      Ok(Bool(true), Str(u"True"), kEn, VARIANT_ALPHABOOL),
      Ok(Bool(false), Str(u"False"), kDe, VARIANT_ALPHABOOL),
      Ok(Bool(true), Str(u"Wahr"), kDe, VARIANT_LOCALBOOL),
      Ok(Str(u"True"), Bool(true)),
      Ok(Str(u" false "), Bool(false)),
      Ok(Str(u"#TRUE#"), Bool(true)),
      Ok(Str(u"#FALSE#"), Bool(false)),
      Ok(Str(u"Falsch"), Bool(false), kDe),
      Ok(Str(u"1"), Bool(true)),
      Ok(Str(u"-0.0"), Bool(false)),
      Ok(Str(u"0,5"), Bool(true), kDe),
      Fails(Str(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH),
      Fails(Str(u""), VT_BOOL, DISP_E_TYPEMISMATCH),
      Ok(R8(0.4), Bool(true)),
      Ok(I4(0), Bool(false)),
      Ok(Dec(0, 0, 5), Bool(false)),
      Ok(Bool(true), I4(-1)),
      Ok(Bool(true), I1(-1)),
      Ok(Bool(true), UI1(255)),
      // To the 16- and 32-bit unsigned types a boolean goes as its VT_I2 number: TRUE overflows.
      Fails(Bool(true), VT_UI2, DISP_E_OVERFLOW),
      Fails(Bool(true), VT_UI4, DISP_E_OVERFLOW),
      Fails(Bool(true), VT_UINT, DISP_E_OVERFLOW),
      Ok(Bool(false), UI2(0)),
      Ok(Bool(false), UI4(0)),
      Ok(Bool(false), Uint(0)),
      Ok(Bool(true), UI8(kUI8Max)),
      Ok(Bool(false), UI1(0)),
      Ok(Bool(true), R8(-1)),
      Ok(Bool(true), Cy(-10000)),
      Ok(Bool(true), Dec(1, 0, 0, true)),

      // VT_EMPTY, VT_NULL, VT_ERROR.
      Ok(Variant(), I4(0)),
      Ok(Variant(), UI1(0)),
      Ok(Variant(), R8(0)),
      Ok(Variant(), Str(u"")),
      Ok(Variant(), Bool(false)),
      Ok(Variant(), Date(0)),
      Ok(Variant(), Dec(0)),
      Ok(Str(u"x"), Variant()),
      Ok(I4(1), Of(VT_NULL)),
      Ok(Of(VT_NULL), Variant()),
      Fails(Of(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Of(VT_NULL), VT_BSTR, DISP_E_TYPEMISMATCH),
      Fails(Err(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Err(E_FAIL), VT_BSTR, DISP_E_TYPEMISMATCH),
      Fails(I4(5), VT_ERROR, DISP_E_TYPEMISMATCH),
      Fails(I4(5), VT_DISPATCH, DISP_E_TYPEMISMATCH),

      // Currency: four places, half to even.
      Ok(Cy(25000), I4(2)),
      Ok(Cy(35000), I4(4)),
      Ok(Cy(15000), R8(1.5)),
      Ok(R8(0x1p-14), Cy(1)),
      Ok(R8(-2.5), Cy(-25000)),
      Fails(R8(1e15), VT_CY, DISP_E_OVERFLOW),
      Fails(I8(kI8Max), VT_CY, DISP_E_OVERFLOW),
      Ok(Str(u"1.00005"), Cy(10000)),
      Ok(Str(u"1.00015"), Cy(10002)),
      Ok(Str(u"922337203685477.5807"), Cy(kI8Max)),
      Fails(Str(u"922337203685477.5808"), VT_CY, DISP_E_OVERFLOW),
      Ok(Cy(12345), Dec(12345, 0, 4)),

      // DECIMAL: R8 keeps 15 significant digits, R4 7; to integers half to even; 64-bit edges.
      Ok(R8(0.1), Dec(1, 0, 1)),
      Ok(R8(1.0 / 3.0), Dec(333333333333333, 0, 15)),
      Ok(R4(0.1f), Dec(1, 0, 1)),
      Ok(R8(-1234.5), Dec(12345, 0, 1, true)),
      Ok(R8(1e20), Dec(7766279631452241920ULL, 5)),
      Fails(R8(1e29), VT_DECIMAL, DISP_E_OVERFLOW),
      Fails(R8(NAN), VT_DECIMAL, DISP_E_OVERFLOW),
      Ok(Dec(15, 0, 1), I8(2)),
      Ok(Dec(25, 0, 1), I4(2)),
      Ok(Dec(25, 0, 1, true), I4(-2)),
      Ok(Dec(kI8Max), I8(kI8Max)),
      Fails(Dec(static_cast<ULONGLONG>(kI8Max) + 1), VT_I8, DISP_E_OVERFLOW),
      Ok(Dec(static_cast<ULONGLONG>(kI8Max) + 1, 0, 0, true), I8(kI8Min)),
      Fails(Dec(static_cast<ULONGLONG>(kI8Max) + 2, 0, 0, true), VT_I8, DISP_E_OVERFLOW),
      Ok(Dec(kUI8Max), UI8(kUI8Max)),
      Fails(Dec(0, 1), VT_UI8, DISP_E_OVERFLOW),
      Fails(Dec(0, 1), VT_I8, DISP_E_OVERFLOW),
      Fails(Dec(1, 0, 0, true), VT_UI8, DISP_E_OVERFLOW),
      Ok(Dec(184467440737095515ULL, 0, 1), UI8(18446744073709552ULL)),
      Ok(I8(-5), Dec(5, 0, 0, true)),
      Ok(I8(kI8Min), Dec(static_cast<ULONGLONG>(kI8Max) + 1, 0, 0, true)),
      Ok(UI8(kUI8Max), Dec(kUI8Max)),
      Ok(Dec(5, 0, 0, true), R8(-5)),
      Ok(Dec(1, 0, 28), R8(1e-28)),
      Fails(Dec(1, 0, 29), VT_R8, E_INVALIDARG),
      Ok(Str(u"79228162514264337593543950335"), Dec(kUI8Max, 0xFFFFFFFF)),
      Fails(Str(u"79228162514264337593543950336"), VT_DECIMAL, DISP_E_OVERFLOW),
      Ok(Str(u"0.00000000000000000000000000001"), Dec(0)),
      Ok(Str(u"0.00000000000000000000000000005"), Dec(0)),
      Ok(Str(u"0.00000000000000000000000000015"), Dec(2, 0, 28)),
      Ok(Str(u"1.5"), Dec(15, 0, 1)),
      Ok(Str(u"-0"), Dec(0)),

      // Dates: the locale's short date and time forms, both ways.
      Ok(Date(43831.5), Str(u"1/1/2020 12:00:00 PM")),
      Ok(Date(43831.5), Str(u"01.01.2020 12:00:00"), kDe),
      Ok(Date(43831), Str(u"1/1/2020")),
      Ok(Date(43831), Str(u"01.01.2020"), kDe),
      Ok(Date(0.25), Str(u"6:00:00 AM")),
      Ok(Date(0), Str(u"12:00:00 AM")),
      Ok(Date(0), Str(u"00:00:00"), kDe),
      Ok(Date(-1.25), Str(u"12/29/1899 6:00:00 AM")),
      Ok(Date(2), Str(u"1/1/1900")),
      Ok(Date(-657434), Str(u"1/1/0100")),
      Ok(Date(2958465.999988426), Str(u"12/31/9999 11:59:59 PM")),
      Fails(Date(2958466), VT_BSTR, DISP_E_OVERFLOW),
      Fails(Date(-657435), VT_BSTR, DISP_E_OVERFLOW),
      Ok(Str(u"1/1/2020 12:00:00 PM"), Date(43831.5)),
      Ok(Str(u"01.01.2020 12:00:00"), Date(43831.5), kDe),
      Ok(Str(u"1/2/2020 3:04 pm"), Date(43832 + (15 * 3600 + 4 * 60) / 86400.0)),
      Ok(Str(u"2020-01-02"), Date(43832)),
      Ok(Str(u"2024-01-31T12:00:00"), Date(45322.5)),
      Ok(Str(u"January 2, 2020"), Date(43832)),
      Ok(Str(u"2. M\u00E4rz 2020"), Date(43892), kDe),
      Ok(Str(u"13/1/2020"), Date(43843)),
      Ok(Str(u"1/2/20"), Date(43832)),
      Ok(Str(u"1/2/45"), Date(16439)),
      Ok(Str(u"6:00:00 AM"), Date(0.25)),
      Ok(Str(u"12:00 AM"), Date(0)),
      Ok(Str(u"3 PM"), Date(0.625)),
      Fails(Str(u"2/30/2020"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"13/13/2020"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1/1/2020 25:00"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"13:00 PM"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"not a date"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"2020"), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u""), VT_DATE, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1/1/10000"), VT_DATE, DISP_E_TYPEMISMATCH),
      Ok(Date(1.75), R8(1.75)),
      Ok(I4(43831), Date(43831)),
      Fails(R8(3e6), VT_DATE, DISP_E_OVERFLOW),
      Fails(R8(-657435), VT_DATE, DISP_E_OVERFLOW),
      Ok(Date(1.5), Dec(15, 0, 1)),

      // Arrays are refused both ways, so that callers run their own array handling.
      Fails(Of(VT_ARRAY | VT_I4), VT_I4, DISP_E_TYPEMISMATCH),
      Fails(Of(VT_ARRAY | VT_UI1), VT_BSTR, DISP_E_TYPEMISMATCH),
      Fails(Str(u"0C"), VT_ARRAY | VT_UI1, DISP_E_TYPEMISMATCH),
      Fails(I4(7), VT_ARRAY | VT_I2, DISP_E_TYPEMISMATCH),
      Fails(Of(VT_ARRAY | VT_R8), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH),

      // Unknown types and locales.
      Fails(Of(15), VT_I4, DISP_E_BADVARTYPE),
      Fails(I4(1), 15, DISP_E_BADVARTYPE),
      Fails(I4(1), VT_VARIANT, DISP_E_BADVARTYPE),
      Fails(I4(1), VT_VECTOR | VT_I4, DISP_E_BADVARTYPE),
      Fails(I4(1), VT_I4 | VT_BYREF, DISP_E_TYPEMISMATCH),
      Fails(Str(u"1"), VT_I4, E_INVALIDARG, 1036),
      Ok(I4(1), I2(1), 1036),
      Ok(Str(u"1,5"), R8(1.5), 0x0007),
      Ok(Str(u"1,5"), R8(1.5), 0x10407),
  };

  for (const Row& row : rows) {
    Variant out;
    const HRESULT hr = VariantChangeTypeEx(out.Ptr(), row.from.Ptr(), row.lcid, row.flags, row.to);
    const std::string what = Describe(row.from) + " -> vt " + std::to_string(row.to) + " (lcid " +
                             std::to_string(row.lcid) + ", flags " + std::to_string(row.flags) + ")";
    EXPECT_EQ(hr, row.hr) << what;
    if (hr == S_OK && row.hr == S_OK) {
      EXPECT_EQ(Describe(out), Describe(row.want)) << what;
    } else if (FAILED(hr)) {
      EXPECT_EQ(out.vt, VT_EMPTY) << what << ": a failure must leave the destination as it was";
    }
  }
}

TEST(VariantChangeType, NumberTextsReadBackToTheSameValue) {
  // R8 text keeps 15 significant digits and R4 text 7, so the text reads back within that.
  const double doubles[] = {1.5, 0.1, 1.0 / 3.0, 123456.789, 1e-10, 6.02214076e23, -2.5e-300, 1.7e308};
  for (double d : doubles) {
    for (LCID lcid : {kEn, kDe}) {
      Variant v = R8(d);
      ASSERT_EQ(VariantChangeTypeEx(v.Ptr(), v.Ptr(), lcid, 0, VT_BSTR), S_OK) << d;
      ASSERT_EQ(VariantChangeTypeEx(v.Ptr(), v.Ptr(), lcid, 0, VT_R8), S_OK) << d;
      EXPECT_NEAR(v.dblVal, d, std::fabs(d) * 1e-14) << d << " in " << lcid;
    }
  }
  // The largest double's 15 digits round up past it, so its text no longer reads back.
  Variant max = R8(1.7976931348623157e308);
  ASSERT_EQ(VariantChangeType(max.Ptr(), max.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(max), "BSTR \"1.79769313486232E+308\"");
  EXPECT_EQ(VariantChangeType(max.Ptr(), max.Ptr(), 0, VT_R8), DISP_E_OVERFLOW);

  const float floats[] = {0.1f, 3.14159265f, 1e-20f, 16777216.0f, -7.5f};
  for (float f : floats) {
    Variant v = R4(f);
    ASSERT_EQ(VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_BSTR), S_OK) << f;
    ASSERT_EQ(VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_R4), S_OK) << f;
    EXPECT_NEAR(v.fltVal, f, std::fabs(f) * 1e-6f) << f;
  }
}

TEST(VariantChangeType, DatesRoundTripThroughTextInEveryLocale) {
  // Every whole second from 100 to 9999 must come back from its own text.
  for (LCID lcid : {kEn, kDe, LOCALE_INVARIANT}) {
    for (double day = -657434; day <= 2958465; day += 9973.31) {
      const double whole = std::trunc(day);
      const double seconds = std::round((day - whole) * 86400.0);
      const DATE date = whole >= 0 ? whole + seconds / 86400.0 : whole - seconds / 86400.0;
      Variant v = Date(date);
      ASSERT_EQ(VariantChangeTypeEx(v.Ptr(), v.Ptr(), lcid, 0, VT_BSTR), S_OK) << date;
      const std::string text = Describe(v);
      ASSERT_EQ(VariantChangeTypeEx(v.Ptr(), v.Ptr(), lcid, 0, VT_DATE), S_OK) << text;
      EXPECT_NEAR(v.date, date, 0.5 / 86400.0) << text << " in " << lcid;
    }
  }
}

TEST(VariantChangeType, NullPointersAreRefused) {
  Variant v = I4(1);
  EXPECT_EQ(VariantChangeType(nullptr, v.Ptr(), 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(v.Ptr(), nullptr, 0, VT_I2), E_INVALIDARG);
  Variant ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = nullptr;
  EXPECT_EQ(VariantChangeType(v.Ptr(), ref.Ptr(), 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(v.vt, VT_I4);
}

TEST(VariantChangeType, FailureLeavesSourceAndDestinationAsTheyWere) {
  Variant dest = Str(u"keep");
  Variant src = Str(u"abc");
  EXPECT_EQ(VariantChangeType(dest.Ptr(), src.Ptr(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Describe(dest), "BSTR \"keep\"");
  EXPECT_EQ(Describe(src), "BSTR \"abc\"");

  // In place: the source is the destination and stays whole.
  EXPECT_EQ(VariantChangeType(src.Ptr(), src.Ptr(), 0, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Describe(src), "BSTR \"abc\"");
  Variant big = I4(300);
  EXPECT_EQ(VariantChangeType(big.Ptr(), big.Ptr(), 0, VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(Describe(big), "I4 300");
}

TEST(VariantChangeType, ConvertsInPlace) {
  Variant v = Str(u"42");
  ASSERT_EQ(VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(v), "I4 42");
  ASSERT_EQ(VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(v), "BSTR \"42\"");
  ASSERT_EQ(VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(v), "BSTR \"42\"");
}

TEST(VariantChangeType, ReplacesWhatTheDestinationHeld) {
  // The old BSTR in dest is freed (the sanitizer build would report a leak otherwise).
  Variant dest = Str(u"old text");
  Variant src = R8(2.5);
  ASSERT_EQ(VariantChangeType(dest.Ptr(), src.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(dest), "BSTR \"2.5\"");
}

TEST(VariantChangeType, SameTypeIsACopy) {
  Variant src = Str(std::u16string_view(u"a\0b", 3));
  Variant dest;
  ASSERT_EQ(VariantChangeType(dest.Ptr(), src.Ptr(), 0, VT_BSTR), S_OK);
  ASSERT_NE(dest.bstrVal, src.bstrVal);
  EXPECT_EQ(SysStringLen(dest.bstrVal), 3u);
  EXPECT_EQ(std::memcmp(dest.bstrVal, src.bstrVal, 6), 0);

  // An array converts only to its own type, and then it is copied.
  Variant array;
  array.vt = VT_ARRAY | VT_I4;
  array.parray = SafeArrayCreateVector(VT_I4, 0, 2);
  Variant copy;
  ASSERT_EQ(VariantChangeType(copy.Ptr(), array.Ptr(), 0, VT_ARRAY | VT_I4), S_OK);
  EXPECT_NE(copy.parray, array.parray);
}

TEST(VariantChangeType, FollowsReferences) {
  LONG number = 300;
  Variant ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  Variant out;
  ASSERT_EQ(VariantChangeType(out.Ptr(), ref.Ptr(), 0, VT_R8), S_OK);
  EXPECT_EQ(Describe(out), "R8 300");
  EXPECT_EQ(VariantChangeType(out.Ptr(), ref.Ptr(), 0, VT_UI1), DISP_E_OVERFLOW);

  BSTR text = SysAllocString(u"12");
  Variant textRef;
  textRef.vt = VT_BYREF | VT_BSTR;
  textRef.pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(out.Ptr(), textRef.Ptr(), 0, VT_I2), S_OK);
  EXPECT_EQ(Describe(out), "I2 12");
  SysFreeString(text);

  DECIMAL dec{};
  dec.Lo64 = 25;
  dec.scale = 1;
  Variant decRef;
  decRef.vt = VT_BYREF | VT_DECIMAL;
  decRef.pdecVal = &dec;
  ASSERT_EQ(VariantChangeType(out.Ptr(), decRef.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(out), "BSTR \"2.5\"");

  Variant inner = Str(u"7");
  Variant varRef;
  varRef.vt = VT_BYREF | VT_VARIANT;
  varRef.pvarVal = inner.Ptr();
  ASSERT_EQ(VariantChangeType(out.Ptr(), varRef.Ptr(), 0, VT_UI4), S_OK);
  EXPECT_EQ(Describe(out), "UI4 7");
}

// An object whose Value property holds a VARIANT, counting its references.
struct ValueObject : IDispatch {
  LONG refs = 1;
  Variant value;
  int invokes = 0;
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    ++invokes;
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !params || params->cArgs != 0)
      return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, value.Ptr());
  }
};

TEST(VariantChangeType, ObjectsGiveTheirValueProperty) {
  ValueObject object;
  object.value = Str(u"1,5");
  Variant v;
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  object.AddRef();

  Variant out;
  ASSERT_EQ(VariantChangeTypeEx(out.Ptr(), v.Ptr(), kDe, 0, VT_R8), S_OK);
  EXPECT_EQ(Describe(out), "R8 1.5");
  ASSERT_EQ(VariantChangeTypeEx(out.Ptr(), v.Ptr(), kDe, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(out), "BSTR \"1,5\"");
  EXPECT_EQ(VariantChangeType(out.Ptr(), v.Ptr(), VARIANT_NOVALUEPROP, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.invokes, 2);

  object.value = Variant();
  object.value.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(out.Ptr(), v.Ptr(), 0, VT_I4), DISP_E_TYPEMISMATCH);

  Variant unknown;
  unknown.vt = VT_UNKNOWN;
  unknown.punkVal = &object;
  object.AddRef();
  object.value = I4(9);
  ASSERT_EQ(VariantChangeType(out.Ptr(), unknown.Ptr(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(out), "BSTR \"9\"");

  Variant none;
  none.vt = VT_DISPATCH;
  none.pdispVal = nullptr;
  EXPECT_EQ(VariantChangeType(out.Ptr(), none.Ptr(), 0, VT_I4), DISP_E_TYPEMISMATCH);

  v.Clear();
  unknown.Clear();
  EXPECT_EQ(object.refs, 1);
}

TEST(VariantChangeType, UnsupportedCalendarsAreRefused) {
  Variant d = Date(1);
  Variant out;
  EXPECT_EQ(VariantChangeType(out.Ptr(), d.Ptr(), VARIANT_CALENDAR_HIJRI, VT_BSTR), E_NOTIMPL);
  EXPECT_EQ(VariantChangeType(out.Ptr(), d.Ptr(), VARIANT_CALENDAR_THAI, VT_BSTR), E_NOTIMPL);
  EXPECT_EQ(VariantChangeType(out.Ptr(), d.Ptr(), VARIANT_CALENDAR_GREGORIAN, VT_BSTR), S_OK);
}

TEST(VariantChangeType, UsesTheUserDefaultLocale) {
  ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(kDe));
  Variant v = Str(u"1,5");
  const HRESULT hr = VariantChangeType(v.Ptr(), v.Ptr(), 0, VT_R8);
  vkr::platform::SetUserDefaultLocale(kEn);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(v.dblVal, 1.5);
}

TEST(VariantChangeType, OutOfMemoryIsReportedAndLeavesTheDestination) {
  Variant src = R8(1.5);
  Variant dest = I4(3);
  vkr::platform::SetAllocationFault(1);
  const HRESULT hr = VariantChangeType(dest.Ptr(), src.Ptr(), 0, VT_BSTR);
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_EQ(Describe(dest), "I4 3");
}

}  // namespace

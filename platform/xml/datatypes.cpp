// XDR data types: names, value checks and typed values.
#include "platform/xml/datatypes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/win/text.h"

namespace vkr::xml {

namespace {

struct TypeName {
  std::u16string_view name;
  DataType type;
};
constexpr TypeName kTypes[] = {
    {u"string", DataType::String},       {u"number", DataType::Number},
    {u"int", DataType::Int},             {u"float", DataType::Float},
    {u"fixed.14.4", DataType::Fixed14_4}, {u"boolean", DataType::Boolean},
    {u"date", DataType::Date},           {u"dateTime", DataType::DateTime},
    {u"dateTime.tz", DataType::DateTimeTz}, {u"time", DataType::Time},
    {u"time.tz", DataType::TimeTz},      {u"i1", DataType::I1},
    {u"i2", DataType::I2},               {u"i4", DataType::I4},
    {u"i8", DataType::I8},               {u"ui1", DataType::UI1},
    {u"ui2", DataType::UI2},             {u"ui4", DataType::UI4},
    {u"ui8", DataType::UI8},             {u"r4", DataType::R4},
    {u"r8", DataType::R8},               {u"uuid", DataType::Uuid},
    {u"uri", DataType::Uri},             {u"bin.hex", DataType::BinHex},
    {u"bin.base64", DataType::BinBase64}, {u"char", DataType::Char},
    {u"id", DataType::Id},               {u"idref", DataType::Idref},
    {u"idrefs", DataType::Idrefs},       {u"nmtoken", DataType::Nmtoken},
    {u"nmtokens", DataType::Nmtokens},   {u"entity", DataType::Entity},
    {u"entities", DataType::Entities},   {u"notation", DataType::Notation},
    {u"enumeration", DataType::Enumeration},
};

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The ASCII form of a text, or false when it holds anything else (no number or date does).
bool Ascii(std::u16string_view s, std::string* out) {
  out->clear();
  out->reserve(s.size());
  for (char16_t c : s) {
    if (c >= 0x80) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-]digits
bool ParseInteger(std::string_view s, bool allowSign, std::int64_t* sv, std::uint64_t* uv, bool* negative) {
  if (s.empty()) return false;
  *negative = false;
  if (s[0] == '+' || s[0] == '-') {
    if (!allowSign && s[0] == '-') return false;
    *negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !std::all_of(s.begin(), s.end(), IsDigit)) return false;
  std::uint64_t v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  *uv = v;
  if (*negative) {
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) return false;
    *sv = v == static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
              ? std::numeric_limits<std::int64_t>::min()
              : -static_cast<std::int64_t>(v);
  } else {
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) *sv = 0;
    else *sv = static_cast<std::int64_t>(v);
  }
  return true;
}

// [+-]digits[.digits][(e|E)[+-]digits], or .digits
bool IsNumberSyntax(std::string_view s, bool allowExponent) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (allowExponent && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t ed = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++ed;
    if (ed == 0) return false;
  }
  return i == s.size();
}

bool ParseDouble(std::string_view s, double* out) {
  if (!IsNumberSyntax(s, true)) return false;
  if (s[0] == '+') s.remove_prefix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(*out);
}

// Up to 14 digits before the point and 4 after: the value scaled by 10,000.
bool ParseFixed(std::string_view s, std::int64_t* scaled) {
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  auto dot = s.find('.');
  std::string_view ip = s.substr(0, dot), fp = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (ip.size() > 14 || fp.size() > 4 || (ip.empty() && fp.empty())) return false;
  if (!std::all_of(ip.begin(), ip.end(), IsDigit) || !std::all_of(fp.begin(), fp.end(), IsDigit)) return false;
  if (dot != std::string_view::npos && fp.empty() && ip.empty()) return false;
  std::int64_t v = 0;
  for (char c : ip) v = v * 10 + (c - '0');
  for (std::size_t k = 0; k < 4; ++k) v = v * 10 + (k < fp.size() ? fp[k] - '0' : 0);
  *scaled = neg ? -v : v;
  return true;
}

bool TwoDigits(std::string_view s, std::size_t at, int* v) {
  if (at + 2 > s.size() || !IsDigit(s[at]) || !IsDigit(s[at + 1])) return false;
  *v = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  double fraction = 0;
};

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : d[m - 1];
}

// YYYY-MM-DD at the start of s; the rest is returned.
bool ParseDatePart(std::string_view& s, DateParts* p) {
  if (s.size() < 10 || s[4] != '-' || s[7] != '-') return false;
  for (int i : {0, 1, 2, 3})
    if (!IsDigit(s[static_cast<std::size_t>(i)])) return false;
  p->year = (s[0] - '0') * 1000 + (s[1] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0');
  if (!TwoDigits(s, 5, &p->month) || !TwoDigits(s, 8, &p->day)) return false;
  if (p->year < 100 || p->month < 1 || p->month > 12 || p->day < 1 || p->day > DaysInMonth(p->year, p->month))
    return false;
  s.remove_prefix(10);
  return true;
}

// hh:mm[:ss[.fraction]], then an optional zone when allowed.
bool ParseTimePart(std::string_view s, DateParts* p, bool zone) {
  if (!TwoDigits(s, 0, &p->hour) || s.size() < 5 || s[2] != ':' || !TwoDigits(s, 3, &p->minute)) return false;
  std::size_t i = 5;
  if (i < s.size() && s[i] == ':') {
    if (!TwoDigits(s, i + 1, &p->second)) return false;
    i += 3;
    if (i < s.size() && s[i] == '.') {
      std::size_t b = ++i;
      while (i < s.size() && IsDigit(s[i])) ++i;
      if (i == b || i - b > 9) return false;
      double f = 0, scale = 0.1;
      for (std::size_t k = b; k < i; ++k, scale /= 10) f += (s[k] - '0') * scale;
      p->fraction = f;
    }
  }
  if (p->hour > 23 || p->minute > 59 || p->second > 59) return false;
  s.remove_prefix(i);
  if (s.empty()) return true;
  if (!zone) return false;
  if (s == "Z") return true;
  int zh, zm;
  return s.size() == 6 && (s[0] == '+' || s[0] == '-') && TwoDigits(s, 1, &zh) && s[3] == ':' &&
         TwoDigits(s, 4, &zm) && zh <= 14 && zm <= 59;
}

bool ParseDate(DataType type, std::string_view s, DateParts* p) {
  switch (type) {
    case DataType::Date: return ParseDatePart(s, p) && s.empty();
    case DataType::DateTime:
    case DataType::DateTimeTz:
      if (!ParseDatePart(s, p)) return false;
      if (s.empty()) return true;
      if (s[0] != 'T') return false;
      return ParseTimePart(s.substr(1), p, type == DataType::DateTimeTz);
    case DataType::Time:
    case DataType::TimeTz: return ParseTimePart(s, p, type == DataType::TimeTz);
    default: return false;
  }
}

// Days from 1899-12-30 (the OLE date epoch) to the given civil date.
std::int64_t DaysFromEpoch(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 25569 = days from 1899-12-30 to 1970-01-01
}

void CivilFromDays(std::int64_t z, int* y, int* m, int* d) {
  z -= 25569;
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

double OleDate(const DateParts& p) {
  double days = static_cast<double>(DaysFromEpoch(p.year, p.month, p.day));
  double t = (p.hour * 3600 + p.minute * 60 + p.second + p.fraction) / 86400.0;
  // OLE dates before the epoch keep the time as a positive fraction away from zero.
  return days >= 0 ? days + t : days - t;
}

bool IsNameChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' ||
         c == u':' || c == u'-' || c == u'.' || c == 0xB7 || c >= 0xC0;
}
bool IsNmtoken(std::u16string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsNameChar); }

template <class F>
bool ForEachToken(std::u16string_view s, F&& f) {
  bool any = false;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsXmlSpace(s[i])) ++i;
    std::size_t b = i;
    while (i < s.size() && !IsXmlSpace(s[i])) ++i;
    if (i > b) {
      any = true;
      if (!f(s.substr(b, i - b))) return false;
    }
  }
  return any;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(std::string_view s, std::vector<BYTE>* out) {
  if (s.size() % 2) return false;
  out->clear();
  for (std::size_t i = 0; i < s.size(); i += 2) {
    int hi = HexValue(s[i]), lo = HexValue(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<BYTE>(hi * 16 + lo));
  }
  return true;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool DecodeBase64(std::string_view s, std::vector<BYTE>* out) {
  out->clear();
  std::uint32_t acc = 0;
  int bits = 0, pad = 0, chars = 0;
  for (char c : s) {
    if (IsXmlSpace(static_cast<char16_t>(c))) continue;
    if (c == '=') {
      ++pad;
      ++chars;
      continue;
    }
    if (pad) return false;  // data after padding
    const char* p = std::strchr(kBase64, c);
    if (!p || c == 0) return false;
    acc = (acc << 6) | static_cast<std::uint32_t>(p - kBase64);
    bits += 6;
    ++chars;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<BYTE>((acc >> bits) & 0xFF));
    }
  }
  return chars % 4 == 0 && pad <= 2;
}

// Sixteen octets as 32 hex digits; hyphens between digits are allowed anywhere and ignored, so
// the unhyphenated form and the usual 8-4-4-4-12 grouping are the same value. The braced
// registry form is taken too.
bool IsUuid(std::string_view s) {
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
  if (s.empty() || s.front() == '-' || s.back() == '-') return false;
  std::size_t digits = 0;
  for (char c : s) {
    if (c == '-') continue;
    if (HexValue(c) < 0) return false;
    ++digits;
  }
  return digits == 32;
}

bool IntegerRange(DataType type, std::int64_t* lo, std::uint64_t* hi) {
  switch (type) {
    case DataType::I1: *lo = -128; *hi = 127; return true;
    case DataType::I2: *lo = -32768; *hi = 32767; return true;
    case DataType::Int:
    case DataType::I4: *lo = INT32_MIN; *hi = INT32_MAX; return true;
    case DataType::I8: *lo = INT64_MIN; *hi = INT64_MAX; return true;
    case DataType::UI1: *lo = 0; *hi = 0xFF; return true;
    case DataType::UI2: *lo = 0; *hi = 0xFFFF; return true;
    case DataType::UI4: *lo = 0; *hi = 0xFFFFFFFFu; return true;
    case DataType::UI8: *lo = 0; *hi = UINT64_MAX; return true;
    default: return false;
  }
}

bool IsIntegerType(DataType t) {
  std::int64_t lo;
  std::uint64_t hi;
  return IntegerRange(t, &lo, &hi);
}

bool IsTextType(DataType t) {
  switch (t) {
    case DataType::None:
    case DataType::String:
    case DataType::Uri:
      return true;
    default: return false;
  }
}

// Parsed integer within the type's range.
bool CheckInteger(DataType type, std::string_view s, std::int64_t* sv, std::uint64_t* uv, bool* neg) {
  std::int64_t lo;
  std::uint64_t hi;
  if (!IntegerRange(type, &lo, &hi)) return false;
  if (!ParseInteger(s, true, sv, uv, neg)) return false;
  if (*neg) return *uv == 0 || (lo < 0 && *sv >= lo);
  return *uv <= hi;
}

}  // namespace

DataType DataTypeFromName(std::u16string_view name) {
  for (const auto& t : kTypes)
    if (t.name == name) return t.type;
  return DataType::None;
}

std::u16string_view DataTypeName(DataType type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return {};
}

bool CheckValue(DataType type, std::u16string_view text, const std::vector<std::u16string>* values) {
  if (IsTextType(type)) return true;
  std::u16string_view t = Trim(text);
  switch (type) {
    case DataType::Char: return t.size() == 1 || (t.size() == 2 && t[0] >= 0xD800 && t[0] < 0xDC00);
    case DataType::Id:
    case DataType::Idref:
    case DataType::Entity:
    case DataType::Notation: return IsValidName(t) && t.find(u':') == std::u16string_view::npos;
    case DataType::Nmtoken: return IsNmtoken(t);
    case DataType::Idrefs:
    case DataType::Entities:
      return ForEachToken(t, [](std::u16string_view tok) { return IsValidName(tok); });
    case DataType::Nmtokens: return ForEachToken(t, IsNmtoken);
    case DataType::Enumeration:
      if (!values) return false;
      for (const auto& v : *values)
        if (v == t) return true;
      return false;
    default: break;
  }
  std::string a;
  if (!Ascii(t, &a)) return false;
  switch (type) {
    case DataType::Number: return IsNumberSyntax(a, true);
    case DataType::Float:
    case DataType::R8: {
      double d;
      return ParseDouble(a, &d);
    }
    case DataType::R4: {
      double d;
      return ParseDouble(a, &d) && std::fabs(d) <= std::numeric_limits<float>::max();
    }
    case DataType::Fixed14_4: {
      std::int64_t v;
      return ParseFixed(a, &v);
    }
    case DataType::Boolean: return a == "0" || a == "1";
    case DataType::Date:
    case DataType::DateTime:
    case DataType::DateTimeTz:
    case DataType::Time:
    case DataType::TimeTz: {
      DateParts p;
      return ParseDate(type, a, &p);
    }
    case DataType::Uuid: return IsUuid(a);
    case DataType::BinHex: {
      std::vector<BYTE> b;
      return DecodeHex(a, &b);
    }
    case DataType::BinBase64: {
      std::vector<BYTE> b;
      return DecodeBase64(a, &b);
    }
    default: {
      std::int64_t sv;
      std::uint64_t uv;
      bool neg;
      return CheckInteger(type, a, &sv, &uv, &neg);
    }
  }
}

HRESULT TypedValue(DataType type, std::u16string_view text, VARIANT* out) {
  VariantInit(out);
  auto bstr = [&](std::u16string_view s) {
    out->vt = VT_BSTR;
    out->bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return out->bstrVal || s.empty() ? S_OK : E_OUTOFMEMORY;
  };
  switch (type) {
    case DataType::None:
    case DataType::String:
    case DataType::Uri:
      return bstr(text);
    default: break;
  }
  if (!CheckValue(type, text, nullptr) && type != DataType::Enumeration) return XML_E_BAD_VALUE;
  std::u16string_view t = Trim(text);
  switch (type) {
    case DataType::Number:
    case DataType::Uuid:
    case DataType::Id:
    case DataType::Idref:
    case DataType::Idrefs:
    case DataType::Nmtoken:
    case DataType::Nmtokens:
    case DataType::Entity:
    case DataType::Entities:
    case DataType::Notation:
    case DataType::Enumeration:
      return bstr(t);
    case DataType::Char:
      out->vt = VT_UI2;
      out->uiVal = t[0];
      return S_OK;
    default: break;
  }
  std::string a;
  Ascii(t, &a);
  switch (type) {
    case DataType::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = a == "1" ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case DataType::Float:
    case DataType::R8:
      out->vt = VT_R8;
      ParseDouble(a, &out->dblVal);
      return S_OK;
    case DataType::R4: {
      double d = 0;
      ParseDouble(a, &d);
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(d);
      return S_OK;
    }
    case DataType::Fixed14_4:
      out->vt = VT_CY;
      ParseFixed(a, &out->cyVal.int64);
      return S_OK;
    case DataType::Date:
    case DataType::DateTime:
    case DataType::DateTimeTz:
    case DataType::Time:
    case DataType::TimeTz: {
      DateParts p;
      ParseDate(type, a, &p);
      out->vt = VT_DATE;
      out->date = OleDate(p);
      return S_OK;
    }
    case DataType::BinHex:
    case DataType::BinBase64: {
      std::vector<BYTE> bytes;
      if (type == DataType::BinHex) DecodeHex(a, &bytes);
      else DecodeBase64(a, &bytes);
      SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!sa) return E_OUTOFMEMORY;
      if (!bytes.empty()) {
        void* data = nullptr;
        SafeArrayAccessData(sa, &data);
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(sa);
      }
      out->vt = VT_ARRAY | VT_UI1;
      out->parray = sa;
      return S_OK;
    }
    default: break;
  }
  std::int64_t sv = 0;
  std::uint64_t uv = 0;
  bool neg = false;
  CheckInteger(type, a, &sv, &uv, &neg);
  switch (type) {
    case DataType::I1: out->vt = VT_I1; out->cVal = static_cast<CHAR>(sv); break;
    case DataType::I2: out->vt = VT_I2; out->iVal = static_cast<SHORT>(sv); break;
    case DataType::Int:
    case DataType::I4: out->vt = VT_I4; out->lVal = static_cast<LONG>(sv); break;
    case DataType::I8: out->vt = VT_I8; out->llVal = sv; break;
    case DataType::UI1: out->vt = VT_UI1; out->bVal = static_cast<BYTE>(uv); break;
    case DataType::UI2: out->vt = VT_UI2; out->uiVal = static_cast<USHORT>(uv); break;
    case DataType::UI4: out->vt = VT_UI4; out->ulVal = static_cast<ULONG>(uv); break;
    case DataType::UI8: out->vt = VT_UI8; out->ullVal = uv; break;
    default: return bstr(t);
  }
  return S_OK;
}

namespace {

std::u16string FormatDouble(double d) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return Utf8ToUtf16(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

std::u16string FormatInt(std::int64_t v) { return Utf8ToUtf16(std::to_string(v)); }
std::u16string FormatUInt(std::uint64_t v) { return Utf8ToUtf16(std::to_string(v)); }

std::u16string FormatDate(DataType type, double date) {
  double days = std::floor(date);
  double frac = std::fabs(date - days);
  if (date < 0 && frac > 0) {  // before the epoch the fraction counts away from zero
    days = std::ceil(date);
    frac = days - date;
  }
  int y, m, d;
  CivilFromDays(static_cast<std::int64_t>(days), &y, &m, &d);
  long secs = std::lround(frac * 86400.0);
  if (secs >= 86400) secs = 86399;
  char buf[64];
  if (type == DataType::Date) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  } else if (type == DataType::Time || type == DataType::TimeTz) {
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", secs / 3600, secs / 60 % 60, secs % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02ld:%02ld:%02ld", y, m, d, secs / 3600, secs / 60 % 60,
                  secs % 60);
  }
  return Utf8ToUtf16(buf);
}

std::u16string EncodeBytes(DataType type, const BYTE* p, std::size_t n) {
  std::u16string out;
  if (type == DataType::BinBase64) {
    for (std::size_t i = 0; i < n; i += 3) {
      std::uint32_t v = static_cast<std::uint32_t>(p[i]) << 16;
      if (i + 1 < n) v |= static_cast<std::uint32_t>(p[i + 1]) << 8;
      if (i + 2 < n) v |= p[i + 2];
      out += static_cast<char16_t>(kBase64[(v >> 18) & 63]);
      out += static_cast<char16_t>(kBase64[(v >> 12) & 63]);
      out += i + 1 < n ? static_cast<char16_t>(kBase64[(v >> 6) & 63]) : u'=';
      out += i + 2 < n ? static_cast<char16_t>(kBase64[v & 63]) : u'=';
    }
  } else {
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < n; ++i) {
      out += static_cast<char16_t>(hex[p[i] >> 4]);
      out += static_cast<char16_t>(hex[p[i] & 15]);
    }
  }
  return out;
}

}  // namespace

HRESULT TextFromVariant(DataType type, const VARIANT& value, std::u16string* out) {
  out->clear();
  VARTYPE vt = value.vt;
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
  std::u16string text;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL: break;
    case VT_BSTR: text.assign(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal)); break;
    case VT_BOOL:
      text = type == DataType::Boolean || IsIntegerType(type) ? (value.boolVal ? u"1" : u"0")
                                                                                 : (value.boolVal ? u"True" : u"False");
      if (type == DataType::Boolean) {
        *out = text;
        return S_OK;
      }
      break;
    case VT_I1: text = FormatInt(value.cVal); break;
    case VT_I2: text = FormatInt(value.iVal); break;
    case VT_I4:
    case VT_INT: text = FormatInt(value.lVal); break;
    case VT_I8: text = FormatInt(value.llVal); break;
    case VT_UI1: text = FormatUInt(value.bVal); break;
    case VT_UI2: text = type == DataType::Char ? std::u16string(1, static_cast<char16_t>(value.uiVal)) : FormatUInt(value.uiVal); break;
    case VT_UI4:
    case VT_UINT: text = FormatUInt(value.ulVal); break;
    case VT_UI8: text = FormatUInt(value.ullVal); break;
    case VT_R4: text = FormatDouble(static_cast<double>(value.fltVal)); break;
    case VT_R8: text = FormatDouble(value.dblVal); break;
    case VT_CY: {
      std::int64_t v = value.cyVal.int64;
      std::uint64_t a = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
      std::string s = std::to_string(a / 10000);
      if (a % 10000) {
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%04u", static_cast<unsigned>(a % 10000));
        std::string f = frac;
        while (f.back() == '0') f.pop_back();
        s += f;
      }
      text = Utf8ToUtf16((v < 0 ? "-" : "") + s);
      break;
    }
    case VT_DATE: {
      DataType dt = type;
      if (dt != DataType::Date && dt != DataType::Time && dt != DataType::TimeTz) dt = DataType::DateTime;
      text = FormatDate(dt, value.date);
      break;
    }
    case VT_ARRAY | VT_UI1: {
      SAFEARRAY* sa = value.parray;
      if (!sa || SafeArrayGetDim(sa) != 1) return DISP_E_TYPEMISMATCH;
      LONG lo = 0, hi = -1;
      SafeArrayGetLBound(sa, 1, &lo);
      SafeArrayGetUBound(sa, 1, &hi);
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(sa, &data))) return DISP_E_TYPEMISMATCH;
      std::size_t n = hi >= lo ? static_cast<std::size_t>(hi - lo + 1) : 0;
      text = EncodeBytes(type == DataType::BinBase64 ? DataType::BinBase64 : DataType::BinHex,
                         static_cast<const BYTE*>(data), n);
      SafeArrayUnaccessData(sa);
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  if (!IsTextType(type) && type != DataType::Enumeration && !CheckValue(type, text, nullptr)) return XML_E_BAD_VALUE;
  *out = std::move(text);
  return S_OK;
}

}  // namespace vkr::xml

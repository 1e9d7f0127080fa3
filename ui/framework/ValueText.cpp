// Value texts of the user interfaces: typed formats, number, choice, byte-string and date texts.
#include "ui/framework/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vkr::ui {
namespace {

constexpr int kMaxWidth = 64;
constexpr int kMaxPrecision = 40;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads a run of decimal digits as a bounded number; false when there are none.
bool ReadCount(std::string_view text, std::size_t* pos, int limit, int* out) {
  std::size_t start = *pos;
  int n = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    n = std::min(limit, n * 10 + (text[*pos] - '0'));
    ++*pos;
  }
  *out = n;
  return *pos > start;
}

ValueKind KindOf(char conversion, bool* upper) {
  *upper = conversion == 'X' || conversion == 'E' || conversion == 'G';
  switch (conversion) {
    case 'd':
    case 'i':
      return ValueKind::kSigned;
    case 'u':
      return ValueKind::kUnsigned;
    case 'x':
    case 'X':
      return ValueKind::kHex;
    case 'o':
      return ValueKind::kOctal;
    case 'f':
    case 'F':
      return ValueKind::kFixed;
    case 'e':
    case 'E':
      return ValueKind::kExponent;
    case 'g':
    case 'G':
      return ValueKind::kGeneral;
    case 's':
    case 'S':
      return ValueKind::kText;
    default:
      return ValueKind::kInvalid;
  }
}

// Pads to the format's width: blanks on the left, or on the right when left-aligned, or zeros
// after the sign (and a 0x) when zero-padding applies.
std::string Pad(const SValueFormat& f, std::string body, bool zerosAllowed) {
  std::size_t width = static_cast<std::size_t>(f.width);
  if (body.size() >= width) return body;
  std::size_t fill = width - body.size();
  if (f.leftAlign) return body + std::string(fill, ' ');
  if (f.zeroPad && zerosAllowed) {
    std::size_t at = 0;
    if (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) at = 1;
    if (body.size() >= at + 2 && body[at] == '0' && (body[at + 1] == 'x' || body[at + 1] == 'X')) at += 2;
    body.insert(at, fill, '0');
    return body;
  }
  return std::string(fill, ' ') + body;
}

const char* SignOf(const SValueFormat& f, bool negative) {
  if (negative) return "-";
  if (f.plusSign) return "+";
  if (f.spaceSign) return " ";
  return "";
}

// An integer conversion of a number given as sign and magnitude; `pattern` is the unsigned form
// that %u %x %o show.
std::string RenderInteger(const SValueFormat& f, bool negative, std::uint64_t magnitude, std::uint64_t pattern) {
  char digits[72];
  std::to_chars_result r{};
  const char* prefix = "";
  switch (f.kind) {
    case ValueKind::kSigned:
      r = std::to_chars(digits, digits + sizeof digits, magnitude);
      prefix = SignOf(f, negative);
      break;
    case ValueKind::kUnsigned:
      r = std::to_chars(digits, digits + sizeof digits, pattern);
      break;
    case ValueKind::kHex:
      r = std::to_chars(digits, digits + sizeof digits, pattern, 16);
      if (f.alternate && pattern != 0) prefix = f.upper ? "0X" : "0x";
      break;
    default:  // octal
      r = std::to_chars(digits, digits + sizeof digits, pattern, 8);
      break;
  }
  std::string number(digits, r.ptr);
  if (f.upper) std::transform(number.begin(), number.end(), number.begin(), [](char c) { return c >= 'a' && c <= 'f' ? char(c - 32) : c; });
  if (f.precision >= 0) {
    if (f.precision == 0 && number == "0") number.clear();
    if (number.size() < static_cast<std::size_t>(f.precision)) number.insert(0, f.precision - number.size(), '0');
  }
  if (f.kind == ValueKind::kOctal && f.alternate && (number.empty() || number[0] != '0')) prefix = "0";
  std::string text(prefix);
  text += number;
  return Pad(f, text, f.precision < 0);
}

std::string RenderSignedInteger(const SValueFormat& f, std::int64_t value, bool wide) {
  bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::uint64_t pattern = wide ? static_cast<std::uint64_t>(value) : static_cast<std::uint32_t>(value);
  return RenderInteger(f, negative, magnitude, pattern);
}

// A finite double in the C locale with the format's float conversion; empty when it does not fit
// the bound.
std::string RenderFloat(const SValueFormat& f, double value, std::string_view separator) {
  bool negative = std::signbit(value) && value != 0.0;
  if (std::isinf(value)) return Pad(f, negative ? "-1.#INF" : std::string(SignOf(f, false)).append("1.#INF"), false);
  if (std::isnan(value)) return Pad(f, "1.#QNAN", false);
  double magnitude = std::fabs(value);
  char buffer[400];
  std::to_chars_result r{};
  int precision = f.precision < 0 ? 6 : f.precision;
  switch (f.kind) {
    case ValueKind::kExponent:
      r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, precision);
      break;
    case ValueKind::kGeneral:
      r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::general, precision == 0 ? 1 : precision);
      break;
    default:
      r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, precision);
      break;
  }
  std::string number = r.ec == std::errc() ? std::string(buffer, r.ptr) : std::string();
  if (number.empty() || number.size() > kMaxValueText - 8) {
    // A fixed form longer than a field holds: the exponent form of the same precision.
    r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, std::min(precision, 16));
    number.assign(buffer, r.ptr);
  }
  if (f.upper) std::transform(number.begin(), number.end(), number.begin(), [](char c) { return c == 'e' ? 'E' : c; });
  if (f.alternate && number.find('.') == std::string::npos && f.kind != ValueKind::kGeneral) {
    std::size_t e = std::min(number.find_first_of("eE"), number.size());
    number = number.substr(0, e).append(".").append(number, e);
  }
  ApplyDecimalSeparator(&number, separator);
  std::string text(SignOf(f, negative));
  text += number;
  return Pad(f, text, true);
}

// The shortest text that reads back as the same number.
std::string DefaultFloat(double value, bool single, std::string_view separator) {
  if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
  if (std::isnan(value)) return "1.#QNAN";
  char buffer[64];
  std::to_chars_result r = single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                                  : std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, r.ptr);
  ApplyDecimalSeparator(&text, separator);
  return text;
}

std::size_t CodePoints(std::string_view s) {
  return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `n` characters (code points) of a UTF-8 text.
std::string_view FirstCharacters(std::string_view s, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (seen == n) return s.substr(0, i);
      ++seen;
    }
  }
  return s;
}

std::string RenderText(const SValueFormat& f, std::string_view text) {
  if (f.precision >= 0) text = FirstCharacters(text, static_cast<std::size_t>(f.precision));
  std::size_t shown = CodePoints(text);
  std::string out(text);
  if (shown < static_cast<std::size_t>(f.width)) {
    std::string fill(f.width - shown, ' ');
    out = f.leftAlign ? out + fill : fill + out;
  }
  return out;
}

struct IntegerValue {
  bool isSigned = true;
  bool wide = false;  // 64-bit source
  std::int64_t s = 0;
  std::uint64_t u = 0;
};

bool IntegerOf(const VARIANT& v, IntegerValue* out) {
  switch (v.vt) {
    case VT_I1: out->s = static_cast<signed char>(v.cVal); return true;
    case VT_I2: out->s = v.iVal; return true;
    case VT_BOOL: out->s = v.boolVal; return true;
    case VT_I4: out->s = v.lVal; return true;
    case VT_INT: out->s = v.intVal; return true;
    case VT_I8: out->s = v.llVal; out->wide = true; return true;
    case VT_UI1: out->isSigned = false; out->u = v.bVal; return true;
    case VT_UI2: out->isSigned = false; out->u = v.uiVal; return true;
    case VT_UI4: out->isSigned = false; out->u = v.ulVal; return true;
    case VT_UINT: out->isSigned = false; out->u = v.uintVal; return true;
    case VT_UI8: out->isSigned = false; out->u = v.ullVal; out->wide = true; return true;
    default: return false;
  }
}

std::string RenderIntegerValue(const SValueFormat& f, const IntegerValue& n, std::string_view separator) {
  if (f.IsInteger()) {
    if (n.isSigned) return RenderSignedInteger(f, n.s, n.wide);
    return RenderInteger(f, false, n.u, n.wide ? n.u : static_cast<std::uint32_t>(n.u));
  }
  if (f.IsFloat()) return RenderFloat(f, n.isSigned ? static_cast<double>(n.s) : static_cast<double>(n.u), separator);
  return n.isSigned ? std::to_string(n.s) : std::to_string(n.u);
}

std::string RenderFloatValue(const SValueFormat& f, double value, bool single, std::string_view separator) {
  if (f.IsFloat()) return RenderFloat(f, value, separator);
  if (f.IsInteger() && std::isfinite(value) && std::fabs(value) < 9.2e18) {
    std::int64_t whole = std::llround(value);
    return RenderSignedInteger(f, whole, std::fabs(value) > 2147483647.0);
  }
  return DefaultFloat(value, single, separator);
}

bool IsFormatLiteralMatch(std::string_view literal, std::string_view* text, bool atStart) {
  // Blanks of the literal match any run of blanks (also none), as scanf's do.
  std::string_view rest = *text;
  std::size_t i = 0;
  if (atStart) {
    while (i < literal.size()) {
      if (IsBlank(literal[i])) {
        while (i < literal.size() && IsBlank(literal[i])) ++i;
        while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
        continue;
      }
      if (rest.empty() || rest.front() != literal[i]) return false;
      rest.remove_prefix(1);
      ++i;
    }
    *text = rest;
    return true;
  }
  std::size_t j = literal.size();
  while (j > 0) {
    if (IsBlank(literal[j - 1])) {
      while (j > 0 && IsBlank(literal[j - 1])) --j;
      while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
      continue;
    }
    if (rest.empty() || rest.back() != literal[j - 1]) return false;
    rest.remove_suffix(1);
    --j;
  }
  *text = rest;
  return true;
}

// Reads an unsigned run of digits of the radix; false on none, trailing other characters or
// overflow of 64 bits.
bool ReadDigits(std::string_view s, int radix, std::uint64_t* out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), *out, radix);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Sign and magnitude of an integer text read as the conversion says.
bool ReadIntegerParts(ValueKind kind, std::string_view s, bool* negative, std::uint64_t* magnitude) {
  s = TrimBlanks(s);
  *negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    *negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int radix = 10;
  if (kind == ValueKind::kHex) {
    radix = 16;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  } else if (kind == ValueKind::kOctal) {
    radix = 8;
  }
  return ReadDigits(s, radix, magnitude);
}

}  // namespace

SValueFormat ParseValueFormat(std::string_view text) {
  SValueFormat f;
  if (text.empty()) return f;
  f.kind = ValueKind::kLiteral;
  bool seen = false;
  std::string* literal = &f.prefix;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i++];
    if (c != '%') {
      literal->push_back(c);
      continue;
    }
    if (i < text.size() && text[i] == '%') {
      literal->push_back('%');
      ++i;
      continue;
    }
    if (seen) {
      f.kind = ValueKind::kInvalid;
      return f;
    }
    seen = true;
    for (; i < text.size(); ++i) {
      char flag = text[i];
      if (flag == '-') f.leftAlign = true;
      else if (flag == '+') f.plusSign = true;
      else if (flag == ' ') f.spaceSign = true;
      else if (flag == '#') f.alternate = true;
      else if (flag == '0') f.zeroPad = true;
      else break;
    }
    ReadCount(text, &i, kMaxWidth, &f.width);
    if (i < text.size() && text[i] == '.') {
      ++i;
      ReadCount(text, &i, kMaxPrecision, &f.precision);
    }
    // Length modifiers say how wide the argument is; the value's own type says that here.
    while (i < text.size() && std::string_view("hlLqjzt").find(text[i]) != std::string_view::npos) ++i;
    if (text.substr(i, 3) == "I64" || text.substr(i, 3) == "I32") i += 3;
    if (i >= text.size()) {
      f.kind = ValueKind::kInvalid;
      return f;
    }
    f.kind = KindOf(text[i++], &f.upper);
    if (f.kind == ValueKind::kInvalid) return f;
    literal = &f.suffix;
  }
  return f;
}

SValueLocale SValueLocale::Of(LCID lcid) {
  SValueLocale locale;
  locale.lcid = lcid;
  char buffer[16] = {};
  if (GetLocaleInfoA(lcid, LOCALE_SDECIMAL, buffer, static_cast<int>(sizeof buffer)) > 0) locale.decimalSeparator = buffer;
  return locale;
}

void ApplyDecimalSeparator(std::string* text, std::string_view separator) {
  if (separator.empty() || CodePoints(separator) != 1 || separator == ".") return;
  std::size_t point = text->find('.');
  if (point != std::string::npos) text->replace(point, 1, separator);
}

bool FormatValueText(const SValueFormat& format, const VARIANT& value, const SValueLocale& locale, std::string* out) {
  out->clear();
  if (value.vt == VT_EMPTY) return true;
  if (value.vt == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* array = value.parray;
    if (!array || SafeArrayGetDim(array) != 1) return false;
    LONG low = 0, high = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high))) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    *out = BytesToHexText(static_cast<const BYTE*>(data), high >= low ? static_cast<std::size_t>(high - low + 1) : 0);
    SafeArrayUnaccessData(array);
    return true;
  }
  if (format.kind == ValueKind::kInvalid) {
    // No conversion to trust: the value's default text alone.
    SValueFormat plain;
    return FormatValueText(plain, value, locale, out);
  }
  if (format.kind == ValueKind::kLiteral) {
    // A format without a conversion shows its text alone, as printf would.
    *out = format.prefix;
    return true;
  }
  std::string body;
  IntegerValue n;
  if (IntegerOf(value, &n)) {
    body = RenderIntegerValue(format, n, locale.decimalSeparator);
  } else if (value.vt == VT_R4 || value.vt == VT_R8) {
    double d = value.vt == VT_R4 ? static_cast<double>(value.fltVal) : value.dblVal;
    body = RenderFloatValue(format, d, value.vt == VT_R4, locale.decimalSeparator);
  } else if (value.vt == VT_BSTR) {
    std::string text = NarrowText(value.bstrVal);
    body = format.kind == ValueKind::kText ? RenderText(format, text) : text;
  } else if (value.vt == VT_DATE) {
    if (FAILED(DateToText(value.date, locale.lcid, &body))) return false;
  } else {
    return false;
  }
  *out = format.prefix + body + format.suffix;
  return true;
}

std::string_view StripFormatText(const SValueFormat& format, std::string_view text) {
  text = TrimBlanks(text);
  std::string_view rest = text;
  if (!TrimBlanks(format.prefix).empty() && IsFormatLiteralMatch(TrimBlanks(format.prefix), &rest, true)) text = rest;
  rest = text;
  if (!TrimBlanks(format.suffix).empty() && IsFormatLiteralMatch(TrimBlanks(format.suffix), &rest, false)) text = rest;
  return TrimBlanks(text);
}

bool ScanFormattedInteger(const SValueFormat& format, std::string_view text, LONG* out) {
  if (!format.IsInteger()) return false;
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!ReadIntegerParts(format.kind, StripFormatText(format, text), &negative, &magnitude)) return false;
  if (format.kind == ValueKind::kSigned) {
    if (magnitude > (negative ? 2147483648ull : 2147483647ull)) return false;
    *out = static_cast<LONG>(negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude));
    return true;
  }
  if (magnitude > 0xFFFFFFFFull) return false;
  std::uint32_t pattern = static_cast<std::uint32_t>(magnitude);
  if (negative) pattern = 0u - pattern;
  *out = static_cast<LONG>(pattern);
  return true;
}

HRESULT ReadIntegerText(const SValueFormat& format, std::string_view text, VARTYPE vt, VARIANT* out) {
  ValueKind kind = format.IsInteger() ? format.kind : ValueKind::kSigned;
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!ReadIntegerParts(kind, StripFormatText(format, text), &negative, &magnitude)) return DISP_E_TYPEMISMATCH;
  // The widths and ranges of the integer types; a pattern read by %u %x %o may stand for a
  // negative value of a signed type of the same width.
  struct Range { VARTYPE vt; bool isSigned; int bits; };
  static constexpr Range kRanges[] = {{VT_I1, true, 8},   {VT_UI1, false, 8}, {VT_I2, true, 16}, {VT_UI2, false, 16},
                                      {VT_I4, true, 32},  {VT_UI4, false, 32}, {VT_INT, true, 32}, {VT_UINT, false, 32},
                                      {VT_I8, true, 64},  {VT_UI8, false, 64}, {VT_BOOL, true, 16}};
  const Range* range = nullptr;
  for (const Range& r : kRanges)
    if (r.vt == vt) range = &r;
  if (!range) return DISP_E_TYPEMISMATCH;
  std::uint64_t span = range->bits == 64 ? ~0ull : (1ull << range->bits) - 1;
  std::int64_t value = 0;
  std::uint64_t bits = 0;
  if (range->isSigned) {
    std::uint64_t limit = range->bits == 64 ? 0x7FFFFFFFFFFFFFFFull : (span >> 1);
    bool pattern = kind != ValueKind::kSigned && !negative && magnitude > limit;
    if (pattern && magnitude <= span) {
      // The unsigned pattern of the type's width, sign-extended.
      value = static_cast<std::int64_t>(magnitude | ~span);
    } else if (pattern && range->bits < 32 && magnitude <= 0xFFFFFFFFull) {
      // A narrow type shown as an int's pattern ("%u" of -2 is 4294967294).
      value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
      if (value < -static_cast<std::int64_t>(limit) - 1) return DISP_E_OVERFLOW;
    } else {
      if (magnitude > limit + (negative ? 1 : 0)) return DISP_E_OVERFLOW;
      value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    }
    bits = static_cast<std::uint64_t>(value);
  } else {
    if (magnitude > span || (negative && magnitude != 0)) return DISP_E_OVERFLOW;
    bits = magnitude;
  }
  VariantClear(out);
  out->vt = vt;
  switch (vt) {
    case VT_I1: out->cVal = static_cast<CHAR>(value); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(bits); break;
    case VT_I2: out->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(bits); break;
    case VT_I4: out->lVal = static_cast<LONG>(value); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(bits); break;
    case VT_INT: out->intVal = static_cast<INT>(value); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(bits); break;
    case VT_I8: out->llVal = value; break;
    case VT_UI8: out->ullVal = bits; break;
    default: out->boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
  }
  return S_OK;
}

HRESULT ReadFloatText(std::string_view input, const SValueFormat& format, float* out) {
  std::string text(StripFormatText(format, input));
  std::size_t comma = text.find(',');
  if (comma != std::string::npos) text[comma] = '.';
  // "e3" and "-e3": the exponent letter before any digit, at the start or after a blank or sign.
  std::size_t e = text.find_first_of("eE");
  std::size_t digit = text.find_first_of("0123456789");
  if (e != std::string::npos && digit == e + 1) {
    std::size_t before = e;
    if (before > 0 && (text[before - 1] == '-' || text[before - 1] == '+')) --before;
    if (before == 0 || IsBlank(text[before - 1])) text = text.substr(0, e).append("1").append(text, e);
  }
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
  if (upper.rfind("1.#INF", 0) == 0) {
    *out = std::numeric_limits<float>::infinity();
    return S_OK;
  }
  if (upper.rfind("-1.#INF", 0) == 0) {
    *out = -std::numeric_limits<float>::infinity();
    return S_OK;
  }
  std::string_view number = TrimBlanks(text);
  std::string_view digits = number;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  // Only decimal numbers: "inf", "nan" and hexadecimal forms are not what a field shows.
  if (digits.empty() || !((digits.front() >= '0' && digits.front() <= '9') || digits.front() == '.' || digits.front() == '-'))
    return E_FAIL;
  if (digits.front() == '-' && (digits.size() < 2 || !((digits[1] >= '0' && digits[1] <= '9') || digits[1] == '.')))
    return E_FAIL;
  float value = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range && r.ptr == digits.data() + digits.size()) {
    // Too small for a float is zero: 4e-203 is a number within 0 to 66. Below zero it stays below,
    // so that a lower limit of 0 still refuses it. Too large is none a field can hold.
    double wide = 0;
    const auto w = std::from_chars(digits.data(), digits.data() + digits.size(), wide, std::chars_format::general);
    const std::size_t e = digits.find_first_of("eE");
    const bool tiny = w.ec == std::errc() ? std::fabs(wide) < 1.0
                                          : e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    if (!tiny) return E_FAIL;
    value = digits.front() == '-' ? -std::numeric_limits<float>::denorm_min() : 0.0f;
    r.ec = std::errc();
  }
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return E_FAIL;
  // A whole-number field takes whole numbers; a field with decimals takes the number as typed,
  // with every digit the user gave, whatever number of them it shows.
  if (format.IsInteger() && std::isfinite(value) && std::fabs(value) < 9.2e18f)
    value = static_cast<float>(std::llround(value));
  *out = value;
  return S_OK;
}

std::string BytesToHexText(const BYTE* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
    text.push_back(' ');
  }
  return text;
}

HRESULT HexTextToBytes(std::string_view text, std::vector<BYTE>* bytes) {
  bytes->clear();
  std::string digits;
  for (char c : text) {
    if (std::string_view(" .,:;").find(c) != std::string_view::npos) continue;
    digits.push_back(c >= 'a' && c <= 'z' ? char(c - 32) : c);
  }
  if (digits.size() % 2) digits.push_back('0');
  auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    int high = nibble(digits[i]), low = nibble(digits[i + 1]);
    if (high < 0 || low < 0) {
      bytes->clear();
      return E_INVALIDARG;
    }
    bytes->push_back(static_cast<BYTE>(high << 4 | low));
  }
  return S_OK;
}

std::string BitSetText(const std::vector<SChoice>& choices, ULONG value) {
  std::string text;
  for (const SChoice& c : choices) {
    ULONG bits = static_cast<ULONG>(c.value);
    if (bits == 0 || (value & bits) != bits) continue;
    if (!text.empty()) text += " | ";
    text += c.label;
  }
  return text;
}

ULONG BitSetFromText(const std::vector<SChoice>& choices, std::string_view text) {
  ULONG value = 0;
  while (true) {
    std::size_t bar = text.find('|');
    std::string_view part = TrimBlanks(text.substr(0, bar));
    bool whole = false;
    for (const SChoice& c : choices) {
      if (!c.label.empty() && part == c.label) {
        value |= static_cast<ULONG>(c.value);
        whole = true;
      }
    }
    if (!whole) {
      for (const SChoice& c : choices)
        if (!c.label.empty() && part.find(c.label) != std::string_view::npos) value |= static_cast<ULONG>(c.value);
    }
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return value;
}

HRESULT DateToText(DATE date, LCID lcid, std::string* out) {
  Bstr text;
  HRESULT hr = VarBstrFromDate(date, lcid, 0, text.Put());
  if (FAILED(hr)) return hr;
  *out = NarrowText(text);
  return S_OK;
}

HRESULT TextToDate(std::string_view text, LCID lcid, DATE* out) {
  std::u16string wide = WideText(TrimBlanks(text));
  return VarDateFromStr(wide.c_str(), lcid, 0, out);
}

std::string NarrowText(const OLECHAR* text) {
  if (!text || !*text) return {};
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::u16string WideText(std::string_view text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

}  // namespace vkr::ui

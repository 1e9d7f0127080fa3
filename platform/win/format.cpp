// The printf family with the Windows C runtime's rules: one engine over char and char16_t, and thin
// entry points that differ only in how they size, truncate and terminate its output.
#include "platform/win/format.h"

#include <locale.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/win/text.h"

namespace {

// The engine's output: the first `limit` units are kept, every unit is counted, so the bounded
// entry points never build more than they can store and the measuring ones store nothing.
template <class Char>
struct Sink {
  std::basic_string<Char> text;
  std::size_t limit;
  std::size_t total = 0;

  std::size_t Room(std::size_t n) const { return std::min(n, limit - text.size()); }
  template <class From>  // char16_t or char text, or ASCII produced by the engine
  void Put(std::basic_string_view<From> s) {
    text.append(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(Room(s.size())));
    total += s.size();
  }
  void Put(const char* ascii) { Put(std::string_view(ascii)); }
  void Fill(char c, std::size_t n) {
    text.append(Room(n), static_cast<Char>(c));
    total += n;
  }
};

struct Args {
  va_list ap;
};

// One conversion as the format writes it: %[flags][width][.precision][size]type.
struct Conversion {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  std::size_t width = 0;
  int precision = -1;  // none
  int bits = 32;       // integer argument size
  enum { kDefault, kNarrow, kWide } text = kDefault;  // h / l / w on c, C, s, S
  char type = 0;
};

// A width or precision written in the format; false when it is out of int range.
template <class Char>
bool ReadNumber(const Char*& p, std::size_t& value) {
  value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<std::size_t>(*p - '0');
    if (value > static_cast<std::size_t>(INT_MAX)) return false;
  }
  return true;
}

// Reads the size prefix at p (Windows' h hh l ll w I I32 I64 L and C99's j z t).
template <class Char>
void ReadSize(const Char*& p, Conversion& conv) {
  const auto at = [&](const char* s) {
    for (std::size_t i = 0; s[i]; ++i)
      if (p[i] != s[i]) return false;
    return true;
  };
  if (at("I64")) p += 3, conv.bits = 64;
  else if (at("I32")) p += 3, conv.bits = 32;
  else if (at("hh")) p += 2, conv.bits = 8, conv.text = Conversion::kNarrow;
  else if (at("ll")) p += 2, conv.bits = 64;
  else if (*p == 'h') ++p, conv.bits = 16, conv.text = Conversion::kNarrow;
  else if (*p == 'l' || *p == 'w') ++p, conv.text = Conversion::kWide;  // long is 32-bit on Windows
  else if (*p == 'I' || *p == 'j' || *p == 'z' || *p == 't') ++p, conv.bits = 64;
  else if (*p == 'L') ++p;  // long double is double on Windows
}

std::int64_t SignedArg(Args& args, int bits) {
  if (bits == 64) return va_arg(args.ap, long long);
  const int v = va_arg(args.ap, int);
  return bits == 8 ? static_cast<signed char>(v) : bits == 16 ? static_cast<short>(v) : v;
}

std::uint64_t UnsignedArg(Args& args, int bits) {
  if (bits == 64) return va_arg(args.ap, unsigned long long);
  const unsigned v = va_arg(args.ap, unsigned);
  return bits == 8 ? static_cast<unsigned char>(v) : bits == 16 ? static_cast<unsigned short>(v) : v;
}

// Writes one field: padding, prefix (sign, 0x), `zeros` leading zeros, then the body.
template <class Char, class From>
void Field(Sink<Char>& out, const Conversion& conv, std::string_view prefix, std::size_t zeros,
           std::basic_string_view<From> body, bool zeroPad) {
  const std::size_t length = prefix.size() + zeros + body.size();
  const std::size_t pad = conv.width > length ? conv.width - length : 0;
  const bool zeroFill = zeroPad && !conv.left;
  if (!conv.left && !zeroFill) out.Fill(' ', pad);
  out.Put(prefix);
  out.Fill('0', zeros + (zeroFill ? pad : 0));
  out.Put(body);
  if (conv.left) out.Fill(' ', pad);
}

template <class Char>
void Integer(Sink<Char>& out, Conversion conv, std::uint64_t magnitude, bool negative) {
  const int base = conv.type == 'o' ? 8 : (conv.type == 'x' || conv.type == 'X' || conv.type == 'p') ? 16 : 10;
  const char* digitSet = conv.type == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
  char buffer[24];
  char* end = buffer + sizeof buffer;
  char* begin = end;
  for (std::uint64_t v = magnitude; v != 0; v /= base) *--begin = digitSet[v % base];
  std::string_view digits(begin, static_cast<std::size_t>(end - begin));

  const std::size_t precision = conv.precision < 0 ? 1 : static_cast<std::size_t>(conv.precision);
  std::size_t zeros = precision > digits.size() ? precision - digits.size() : 0;
  if (conv.type == 'o' && conv.alt && zeros == 0 && (digits.empty() || digits[0] != '0')) zeros = 1;

  std::string_view prefix;
  const bool isSigned = conv.type == 'd' || conv.type == 'i';
  if (isSigned && negative) prefix = "-";
  else if (isSigned && conv.plus) prefix = "+";
  else if (isSigned && conv.space) prefix = " ";
  else if (conv.alt && magnitude != 0 && conv.type == 'x') prefix = "0x";
  else if (conv.alt && magnitude != 0 && conv.type == 'X') prefix = "0X";
  Field(out, conv, prefix, zeros, digits, conv.zero && conv.precision < 0);
}

// One floating conversion, printed by glibc from a conversion rebuilt here: for finite values
// its output is the modern Windows runtime's (two-digit exponents, correct rounding), and its
// non-finite output ("inf", "nan", signed, upper case for upper-case types) is what that runtime
// prints too. The "C" locale keeps the decimal point a '.', as in the runtime's default locale.
template <class Char>
bool Floating(Sink<Char>& out, const Conversion& conv, double value) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  char format[16] = "%";
  char* f = format + 1;
  if (conv.left) *f++ = '-';
  if (conv.plus) *f++ = '+';
  if (conv.space) *f++ = ' ';
  if (conv.alt) *f++ = '#';
  if (conv.zero) *f++ = '0';
  *f++ = '*', *f++ = '.', *f++ = '*', *f++ = conv.type, *f = 0;
  // Windows prints every hex digit of the mantissa when %a has no precision; glibc the fewest.
  const int precision = conv.precision >= 0 ? conv.precision : (conv.type == 'a' || conv.type == 'A') ? 13 : 6;
  const int width = static_cast<int>(conv.width);

  const locale_t previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(nullptr);
  char small[128];
  int n = std::snprintf(small, sizeof small, format, width, precision, value);
  std::vector<char> large;
  if (n >= static_cast<int>(sizeof small)) {
    large.resize(static_cast<std::size_t>(n) + 1);
    n = std::snprintf(large.data(), large.size(), format, width, precision, value);
  }
  if (previous) uselocale(previous);
  if (n < 0) return false;
  out.Put(std::string_view(large.empty() ? small : large.data(), static_cast<std::size_t>(n)));
  return true;
}

// The first n units of s, or fewer so that no character is cut in two.
std::size_t WholeCharacters(const char* s, std::size_t n) {
  std::size_t start = n;
  while (start > 0 && n - start < 4 && (static_cast<unsigned char>(s[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return n;
  const auto lead = static_cast<unsigned char>(s[start - 1]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return (lead >= 0xC0 && n - (start - 1) < length) ? start - 1 : n;
}

std::size_t WholeCharacters(const char16_t* s, std::size_t n) {
  return (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) ? n - 1 : n;
}

// A %s argument: up to the zero, or at most `precision` units of it (never reading past them).
template <class From>
std::basic_string_view<From> StringArg(const From* s, int precision) {
  if (!s) return {};  // Windows prints "(null)"; the system means an empty text
  if (precision < 0) return std::basic_string_view<From>(s);
  std::size_t n = 0;
  while (n < static_cast<std::size_t>(precision) && s[n]) ++n;
  return std::basic_string_view<From>(s, n < static_cast<std::size_t>(precision) ? n : WholeCharacters(s, n));
}

// Characters and strings are padded with zeros under the '0' flag too, as the runtime and
// wsprintf both do.
template <class Char, class From>
void Text(Sink<Char>& out, const Conversion& conv, std::basic_string_view<From> text) {
  if constexpr (std::is_same_v<Char, From>) {
    Field(out, conv, {}, 0, text, conv.zero);
  } else if constexpr (std::is_same_v<Char, char16_t>) {
    const std::u16string converted = vkr::Utf8ToUtf16(text);
    Field(out, conv, {}, 0, std::u16string_view(converted), conv.zero);
  } else {
    const std::string converted = vkr::Utf16ToUtf8(text);
    Field(out, conv, {}, 0, std::string_view(converted), conv.zero);
  }
}

// Whose rules a format follows: the C runtime's printf family, or user32's wsprintf, which knows
// no floating conversions and prints the letter of a conversion it does not know (taking no
// argument for it).
enum class Dialect { kRuntime, kWsprintf };

bool IsFloating(char type) {
  switch (type) {
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A': return true;
    default: return false;
  }
}

// Formats fmt into out; false for a refused format (%n, a width or precision beyond int).
template <class Char>
bool Run(const Char* fmt, Args& args, Sink<Char>& out, Dialect dialect) {
  for (const Char* p = fmt; *p;) {
    if (*p != '%') {
      const Char* run = p;
      while (*p && *p != '%') ++p;
      out.Put(std::basic_string_view<Char>(run, static_cast<std::size_t>(p - run)));
      continue;
    }
    const Char* start = p++;
    Conversion conv;
    for (;; ++p) {
      if (*p == '-') conv.left = true;
      else if (*p == '+') conv.plus = true;
      else if (*p == ' ') conv.space = true;
      else if (*p == '#') conv.alt = true;
      else if (*p == '0') conv.zero = true;
      else break;
    }
    if (*p == '*') {
      ++p;
      const long long width = va_arg(args.ap, int);
      if (width < 0) conv.left = true;
      conv.width = static_cast<std::size_t>(width < 0 ? -width : width);
      if (conv.width > static_cast<std::size_t>(INT_MAX)) return false;
    } else if (!ReadNumber(p, conv.width)) {
      return false;
    }
    if (*p == '.') {
      ++p;
      std::size_t precision = 0;
      if (*p == '*') {
        ++p;
        const int given = va_arg(args.ap, int);
        conv.precision = given < 0 ? -1 : given;
      } else if (ReadNumber(p, precision)) {
        conv.precision = static_cast<int>(precision);
      } else {
        return false;
      }
    }
    ReadSize(p, conv);
    const auto unit = static_cast<std::make_unsigned_t<Char>>(*p);
    conv.type = unit < 0x80 ? static_cast<char>(unit) : 0;
    if (dialect == Dialect::kWsprintf && IsFloating(conv.type)) conv.type = 0;
    const bool wideFormat = std::is_same_v<Char, char16_t>;
    // %c / %s are the format's own width, %C / %S the other one, unless h, l or w says which.
    const bool wideText = conv.text == Conversion::kDefault ? (wideFormat == (conv.type == 'c' || conv.type == 's'))
                                                       : conv.text == Conversion::kWide;
    switch (conv.type) {
      case 'd':
      case 'i': {
        const std::int64_t v = SignedArg(args, conv.bits);
        Integer(out, conv, v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v), v < 0);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        Integer(out, conv, UnsignedArg(args, conv.bits), false);
        break;
      case 'p': {
        // Windows prints a pointer as all its hex digits, upper case, without 0x.
        Conversion pointer{.left = conv.left, .width = conv.width, .precision = 2 * static_cast<int>(sizeof(void*)), .type = 'p'};
        Integer(out, pointer, reinterpret_cast<std::uintptr_t>(va_arg(args.ap, void*)), false);
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (!Floating(out, conv, va_arg(args.ap, double))) return false;
        break;
      case 'c':
      case 'C': {
        const int v = va_arg(args.ap, int);
        const char16_t wide = static_cast<char16_t>(v);
        const char narrow = static_cast<char>(v);
        if (wideText) Text(out, conv, std::u16string_view(&wide, 1));
        else Text(out, conv, std::string_view(&narrow, 1));
        break;
      }
      case 's':
      case 'S':
        if (wideText) Text(out, conv, StringArg(va_arg(args.ap, const char16_t*), conv.precision));
        else Text(out, conv, StringArg(va_arg(args.ap, const char*), conv.precision));
        break;
      case '%':
        out.Put("%");
        break;
      case 'n':
        return false;  // writing through an argument is refused, as the runtime does by default
      default:
        if (dialect == Dialect::kWsprintf) {
          // Not a conversion: wsprintf prints the character alone.
          if (*p) out.Put(std::basic_string_view<Char>(p++, 1));
          continue;
        }
        // Not a conversion: the conversion text is printed as written (a lone '%' at the end too).
        if (*p) ++p;
        out.Put(std::basic_string_view<Char>(start, static_cast<std::size_t>(p - start)));
        continue;
    }
    ++p;
  }
  return out.total <= static_cast<std::size_t>(INT_MAX);
}

template <class Char>
struct Rendered {
  std::basic_string<Char> text;  // at most the requested limit
  std::size_t length = 0;        // of the whole output
  bool ok = false;
};

template <class Char>
Rendered<Char> Render(const Char* fmt, va_list args, std::size_t limit, Dialect dialect = Dialect::kRuntime) {
  Rendered<Char> result;
  if (!fmt) return result;
  Sink<Char> out{{}, limit};
  Args copy;
  va_copy(copy.ap, args);
  result.ok = Run(fmt, copy, out, dialect);
  va_end(copy.ap);
  if (result.ok) result.text = std::move(out.text), result.length = out.total;
  return result;
}

template <class Char>
void Store(Char* buf, const std::basic_string<Char>& text, bool terminate) {
  std::copy(text.begin(), text.end(), buf);
  if (terminate) buf[text.size()] = 0;
}

// wsprintf: 1024 units with the zero; a refused format leaves an empty text and returns 0.
template <class Char>
int WindowsFormat(Char* buf, const Char* fmt, va_list args) {
  if (!buf) return 0;
  const Rendered<Char> r = Render(fmt, args, 1023, Dialect::kWsprintf);
  Store(buf, r.text, true);
  return static_cast<int>(r.text.size());
}

// _vsnprintf: at most count units; the zero only when there is room for it; -1 when cut short.
// A null buffer with count 0 measures.
template <class Char>
int CountedFormat(Char* buf, std::size_t count, const Char* fmt, va_list args) {
  if (!fmt || (!buf && count != 0)) return -1;
  const Rendered<Char> r = Render(fmt, args, count);
  if (!r.ok) {
    if (count != 0) buf[0] = 0;
    return -1;
  }
  if (!buf) return static_cast<int>(r.length);
  Store(buf, r.text, r.length < count);
  return r.length <= count ? static_cast<int>(r.length) : -1;
}

// _vsnprintf_s: count (or _TRUNCATE) limits what is kept and the result always ends with a
// zero. A cut made by count or _TRUNCATE returns -1 with the text kept; output that overflows
// the buffer otherwise is the runtime's invalid-parameter case: empty text and -1.
template <class Char>
int SecureFormat(Char* buf, std::size_t size, std::size_t count, const Char* fmt, va_list args) {
  if (!buf || size == 0) return -1;
  buf[0] = 0;
  if (!fmt || count == 0) return -1;
  const bool truncates = count == _TRUNCATE || count < size;
  const std::size_t limit = count == _TRUNCATE ? size - 1 : std::min(count, size - 1);
  const Rendered<Char> r = Render(fmt, args, limit);
  if (!r.ok || (r.length > limit && !truncates)) return -1;
  Store(buf, r.text, true);
  return r.length <= limit ? static_cast<int>(r.length) : -1;
}

template <class Char>
int Measure(const Char* fmt, va_list args) {
  const Rendered<Char> r = Render(fmt, args, 0);
  return r.ok ? static_cast<int>(r.length) : -1;
}

}  // namespace

int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args) { return WindowsFormat(buf, fmt, args); }
int wvsprintfA(LPSTR buf, LPCSTR fmt, va_list args) { return WindowsFormat(buf, fmt, args); }
int _vsnwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, va_list args) {
  return CountedFormat(buf, count, fmt, args);
}
int _vsnprintf(char* buf, std::size_t count, const char* fmt, va_list args) {
  return CountedFormat(buf, count, fmt, args);
}
int vsprintf_s(char* buf, std::size_t size, const char* fmt, va_list args) {
  return SecureFormat(buf, size, size, fmt, args);
}
int vswprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, va_list args) {
  return SecureFormat(buf, size, size, fmt, args);
}
int _vsnprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, va_list args) {
  return SecureFormat(buf, size, count, fmt, args);
}
int _vsnwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, va_list args) {
  return SecureFormat(buf, size, count, fmt, args);
}
int _vscwprintf(const char16_t* fmt, va_list args) { return Measure(fmt, args); }
int _vscprintf(const char* fmt, va_list args) { return Measure(fmt, args); }

// The variadic forms, each the v-form above.
#define VKR_VARIADIC(call)   \
  va_list args;              \
  va_start(args, fmt);       \
  auto result = call;        \
  va_end(args);              \
  return result

int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...) { VKR_VARIADIC(wvsprintfW(buf, fmt, args)); }
int wsprintfA(LPSTR buf, LPCSTR fmt, ...) { VKR_VARIADIC(wvsprintfA(buf, fmt, args)); }
int _snwprintf(char16_t* buf, std::size_t count, const char16_t* fmt, ...) {
  VKR_VARIADIC(_vsnwprintf(buf, count, fmt, args));
}
int _snprintf(char* buf, std::size_t count, const char* fmt, ...) { VKR_VARIADIC(_vsnprintf(buf, count, fmt, args)); }
int sprintf_s(char* buf, std::size_t size, const char* fmt, ...) { VKR_VARIADIC(vsprintf_s(buf, size, fmt, args)); }
int swprintf_s(char16_t* buf, std::size_t size, const char16_t* fmt, ...) {
  VKR_VARIADIC(vswprintf_s(buf, size, fmt, args));
}
int _snprintf_s(char* buf, std::size_t size, std::size_t count, const char* fmt, ...) {
  VKR_VARIADIC(_vsnprintf_s(buf, size, count, fmt, args));
}
int _snwprintf_s(char16_t* buf, std::size_t size, std::size_t count, const char16_t* fmt, ...) {
  VKR_VARIADIC(_vsnwprintf_s(buf, size, count, fmt, args));
}
int _scprintf(const char* fmt, ...) { VKR_VARIADIC(_vscprintf(fmt, args)); }
int _scwprintf(const char16_t* fmt, ...) { VKR_VARIADIC(_vscwprintf(fmt, args)); }

namespace vkr {

std::u16string FormatV(const char16_t* fmt, va_list args, bool* ok) {
  Rendered<char16_t> r = Render(fmt, args, SIZE_MAX);
  if (ok) *ok = r.ok;
  return std::move(r.text);
}

std::string FormatV(const char* fmt, va_list args, bool* ok) {
  Rendered<char> r = Render(fmt, args, SIZE_MAX);
  if (ok) *ok = r.ok;
  return std::move(r.text);
}

std::u16string Format(const char16_t* fmt, ...) { VKR_VARIADIC(FormatV(fmt, args)); }
std::string Format(const char* fmt, ...) { VKR_VARIADIC(FormatV(fmt, args)); }

}  // namespace vkr

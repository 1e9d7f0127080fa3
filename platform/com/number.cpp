// Number texts, exact decimal digits and the rounding rules of the OLE Automation conversions.
#include "platform/com/number.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vkr::platform {
namespace {

using u128 = unsigned __int128;

constexpr int kExpLimit = 100000000;

void Normalize(Digits& x) {
  while (x.n > 0 && x.d[x.n - 1] == '0') {
    --x.n;
    ++x.exp;
  }
  if (x.n == 0) {
    x.exp = 0;
    x.neg = false;
  }
}

Digits DigitsFromMagnitude(u128 m, bool neg, int exp) {
  Digits x;
  char rev[kMaxDigits];
  int k = 0;
  while (m != 0 && k < kMaxDigits) {
    rev[k++] = static_cast<char>('0' + static_cast<int>(m % 10));
    m /= 10;
  }
  for (int j = 0; j < k; ++j) x.d[j] = rev[k - 1 - j];
  x.n = k;
  x.exp = exp;
  x.neg = neg;
  Normalize(x);
  return x;
}

Digits DigitsFromInteger(__int128 v) {
  const bool neg = v < 0;
  const u128 m = neg ? static_cast<u128>(0) - static_cast<u128>(v) : static_cast<u128>(v);
  return DigitsFromMagnitude(m, neg, 0);
}

// Rounds half to even so that the last kept digit stands for 10^keepExp.
void RoundAt(Digits& x, int keepExp) {
  const long long k = static_cast<long long>(keepExp) - x.exp;
  if (k <= 0 || x.n == 0) return;
  if (k > x.n) {
    x = Digits();
    return;
  }
  const int keep = x.n - static_cast<int>(k);
  const char round = x.d[keep];
  bool rest = x.sticky;
  for (int j = keep + 1; j < x.n; ++j) rest = rest || x.d[j] != '0';
  const bool odd = keep > 0 && ((x.d[keep - 1] - '0') & 1);
  const bool up = round > '5' || (round == '5' && (rest || odd));
  x.n = keep;
  x.exp = keepExp;
  x.sticky = false;
  if (up) {
    int j = keep - 1;
    while (j >= 0 && x.d[j] == '9') x.d[j--] = '0';
    if (j >= 0) {
      ++x.d[j];
    } else {
      std::memmove(x.d + 1, x.d, static_cast<std::size_t>(keep));
      x.d[0] = '1';
      ++x.n;
    }
  }
  Normalize(x);
}

HRESULT DigitsToInteger(Digits x, __int128* out) {
  RoundAt(x, 0);
  if (x.n + x.exp > 38) return DISP_E_OVERFLOW;
  __int128 v = 0;
  for (int j = 0; j < x.n; ++j) v = v * 10 + (x.d[j] - '0');
  for (int j = 0; j < x.exp; ++j) v *= 10;
  *out = x.neg ? -v : v;
  return S_OK;
}

// Digits and exponent as "ddde±x" for from_chars; a sticky digit keeps the rounding direction.
template <typename Float>
HRESULT DigitsToFloat(const Digits& x, Float* out) {
  if (x.n == 0) {
    *out = 0;
    return S_OK;
  }
  char buf[kMaxDigits + 24];
  std::memcpy(buf, x.d, static_cast<std::size_t>(x.n));
  int len = x.n;
  int exp = x.exp;
  if (x.sticky) {
    buf[len++] = '1';
    --exp;
  }
  buf[len++] = 'e';
  len = static_cast<int>(std::to_chars(buf + len, buf + sizeof buf, exp).ptr - buf);
  Float v = 0;
  const auto res = std::from_chars(buf, buf + len, v);
  if (res.ec == std::errc::result_out_of_range) {
    if (x.n + x.exp > 0) return DISP_E_OVERFLOW;
    v = 0;
  } else if (res.ec != std::errc()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = x.neg ? -v : v;
  return S_OK;
}

HRESULT DigitsToDecimal(Digits x, DECIMAL* out) {
  RoundAt(x, -28);
  if (x.n > 29) RoundAt(x, x.exp + (x.n - 29));
  for (;;) {
    if (x.n == 0) {
      *out = DECIMAL{};
      return S_OK;
    }
    if (x.n + x.exp > 29) return DISP_E_OVERFLOW;
    u128 m = 0;
    for (int j = 0; j < x.n; ++j) m = m * 10 + static_cast<unsigned>(x.d[j] - '0');
    for (int j = 0; j < x.exp; ++j) m *= 10;
    if (m >> 96) {
      // Too many digits for 96 bits: give up one place of the fraction, or overflow.
      if (x.exp >= 0) return DISP_E_OVERFLOW;
      RoundAt(x, x.exp + 1);
      continue;
    }
    DECIMAL d{};
    d.scale = static_cast<BYTE>(x.exp < 0 ? -x.exp : 0);
    d.sign = x.neg ? DECIMAL_NEG : 0;
    d.Hi32 = static_cast<ULONG>(m >> 64);
    d.Lo64 = static_cast<ULONGLONG>(m);
    *out = d;
    return S_OK;
  }
}

// The value rounded to `precision` significant digits.
Digits RealDigits(double r, int precision) {
  Digits x;
  if (r == 0) return x;
  char buf[48];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(r), std::chars_format::scientific, precision - 1);
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9' && x.n < kMaxDigits) x.d[x.n++] = *p;
  int e = 0;
  if (p < res.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, e);
  x.exp = e - (x.n - 1);
  x.neg = r < 0;
  Normalize(x);
  return x;
}

HRESULT BankersRound(double r, double* out) {
  if (!std::isfinite(r)) return DISP_E_OVERFLOW;
  const double fl = std::floor(r);
  const double diff = r - fl;
  double v = fl;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(fl, 2.0) != 0)) v = fl + 1;
  *out = v;
  return S_OK;
}

int CompareDigits(const Digits& a, const Digits& b) {
  const int sa = a.n == 0 ? 0 : (a.neg ? -1 : 1);
  const int sb = b.n == 0 ? 0 : (b.neg ? -1 : 1);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int mag;
  const long long ma = static_cast<long long>(a.n) + a.exp, mb = static_cast<long long>(b.n) + b.exp;
  if (ma != mb) {
    mag = ma < mb ? -1 : 1;
  } else {
    mag = 0;
    const int len = a.n > b.n ? a.n : b.n;
    for (int j = 0; j < len && mag == 0; ++j) {
      const char ca = j < a.n ? a.d[j] : '0', cb = j < b.n ? b.d[j] : '0';
      if (ca != cb) mag = ca < cb ? -1 : 1;
    }
  }
  return sa * mag;
}

int CompareDoubles(double a, double b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return a < b ? -1 : a > b ? 1 : 0;
}

// An exact integer against a double, without rounding the integer to a double first.
int CompareIntegerReal(__int128 i, double r) {
  if (std::isnan(r)) return -1;
  if (r >= 0x1p126) return -1;
  if (r <= -0x1p126) return 1;
  const double fl = std::floor(r);
  const auto whole = static_cast<__int128>(fl);
  if (i != whole) return i < whole ? -1 : 1;
  return r > fl ? -1 : 0;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0xA0; }

struct Cursor {
  std::u16string_view s;
  std::size_t pos = 0;
  bool AtEnd() const { return pos >= s.size(); }
  char16_t Peek(std::size_t ahead = 0) const { return pos + ahead < s.size() ? s[pos + ahead] : 0; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(s[pos])) ++pos;
  }
  bool Matches(const char16_t* token) const {
    const std::u16string_view t(token);
    return !t.empty() && s.substr(pos, t.size()) == t;
  }
  bool Take(const char16_t* token) {
    if (!Matches(token)) return false;
    pos += std::u16string_view(token).size();
    return true;
  }
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

HRESULT ParseRadix(Cursor& c, unsigned radix, __int128* out) {
  unsigned long long v = 0;
  bool any = false;
  for (;; ++c.pos) {
    const char16_t ch = c.Peek();
    int digit = -1;
    if (ch >= u'0' && ch <= u'9') digit = ch - u'0';
    else if (radix == 16 && ch >= u'a' && ch <= u'f') digit = ch - u'a' + 10;
    else if (radix == 16 && ch >= u'A' && ch <= u'F') digit = ch - u'A' + 10;
    if (digit < 0 || digit >= static_cast<int>(radix)) break;
    if (v > (~0ULL - static_cast<unsigned>(digit)) / radix) return DISP_E_OVERFLOW;
    v = v * radix + static_cast<unsigned>(digit);
    any = true;
  }
  if (!any) return DISP_E_TYPEMISMATCH;
  if (v <= 0xFFFF) {
    *out = static_cast<SHORT>(static_cast<USHORT>(v));
  } else if (v <= 0xFFFFFFFFULL) {
    *out = static_cast<LONG>(static_cast<ULONG>(v));
  } else {
    return DISP_E_OVERFLOW;
  }
  return S_OK;
}

}  // namespace

HRESULT DigitsFromDecimal(const DECIMAL& value, Digits* out) {
  if (value.scale > 28 || (value.sign != 0 && value.sign != DECIMAL_NEG)) return E_INVALIDARG;
  const u128 m = (static_cast<u128>(value.Hi32) << 64) | value.Lo64;
  *out = DigitsFromMagnitude(m, value.sign == DECIMAL_NEG, -static_cast<int>(value.scale));
  return S_OK;
}

Digits DigitsFromCurrency(LONGLONG cy) {
  Digits x = DigitsFromInteger(cy);
  if (x.n) x.exp -= 4;
  return x;
}

HRESULT ParseNumber(std::u16string_view text, const LocaleData& locale, Number* out) {
  Cursor c{text};
  bool neg = false, sign = false, paren = false, currency = false;
  for (;;) {
    c.SkipBlanks();
    if (!currency && c.Take(locale.currency)) {
      currency = true;
    } else if (!sign && !paren && (c.Peek() == u'+' || c.Peek() == u'-')) {
      neg = c.Peek() == u'-';
      sign = true;
      ++c.pos;
    } else if (!sign && !paren && c.Peek() == u'(') {
      paren = neg = true;
      ++c.pos;
    } else {
      break;
    }
  }

  Number& result = *out;
  if (c.Peek() == u'&' && (c.Peek(1) == u'H' || c.Peek(1) == u'h' || c.Peek(1) == u'O' || c.Peek(1) == u'o')) {
    const unsigned radix = (c.Peek(1) == u'H' || c.Peek(1) == u'h') ? 16 : 8;
    c.pos += 2;
    __int128 v = 0;
    if (HRESULT hr = ParseRadix(c, radix, &v); FAILED(hr)) return hr;
    result.SetInteger(neg ? -v : v);
  } else {
    Digits x;
    long long exp = 0;
    bool any = false, point = false;
    for (;;) {
      const char16_t ch = c.Peek();
      if (IsDigit(ch)) {
        any = true;
        ++c.pos;
        if (x.n == 0 && ch == u'0') {
          if (point) --exp;
        } else if (x.n < kMaxDigits) {
          x.d[x.n++] = static_cast<char>(ch);
          if (point) --exp;
        } else {
          x.sticky = x.sticky || ch != u'0';
          if (!point) ++exp;
        }
      } else if (!point && c.Take(locale.decimal)) {
        point = true;
      } else if (!point && any && IsDigit(c.s[c.pos - 1]) && c.Matches(locale.thousand) &&
                 IsDigit(c.Peek(std::u16string_view(locale.thousand).size()))) {
        c.pos += std::u16string_view(locale.thousand).size();
      } else {
        break;
      }
    }
    if (!any) return DISP_E_TYPEMISMATCH;
    if (c.Peek() == u'e' || c.Peek() == u'E') {
      ++c.pos;
      bool expNeg = false;
      if (c.Peek() == u'+' || c.Peek() == u'-') {
        expNeg = c.Peek() == u'-';
        ++c.pos;
      }
      if (!IsDigit(c.Peek())) return DISP_E_TYPEMISMATCH;
      long long e = 0;
      while (IsDigit(c.Peek())) {
        if (e < kExpLimit) e = e * 10 + (c.Peek() - u'0');
        ++c.pos;
      }
      exp += expNeg ? -e : e;
    }
    if (exp > kExpLimit) exp = kExpLimit;
    if (exp < -kExpLimit) exp = -kExpLimit;
    x.exp = static_cast<int>(exp);
    Normalize(x);
    result.SetDigits(x);
  }

  for (;;) {
    c.SkipBlanks();
    if (!currency && c.Take(locale.currency)) {
      currency = true;
    } else if (!sign && !paren && (c.Peek() == u'+' || c.Peek() == u'-')) {
      neg = c.Peek() == u'-';
      sign = true;
      ++c.pos;
    } else if (paren && c.Peek() == u')') {
      paren = false;
      sign = true;
      ++c.pos;
    } else {
      break;
    }
  }
  if (!c.AtEnd() || paren) return DISP_E_TYPEMISMATCH;
  if (result.kind == Number::kDecimal) result.dec.neg = neg && result.dec.n != 0;
  return S_OK;
}

HRESULT ToInteger(const Number& n, __int128* out) {
  switch (n.kind) {
    case Number::kInteger:
      *out = n.i;
      return S_OK;
    case Number::kReal: {
      double v;
      if (HRESULT hr = BankersRound(n.r, &v); FAILED(hr)) return hr;
      if (std::fabs(v) >= 0x1p100) return DISP_E_OVERFLOW;
      *out = static_cast<__int128>(v);
      return S_OK;
    }
    case Number::kDecimal:
      return DigitsToInteger(n.dec, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToDouble(const Number& n, double* out) {
  switch (n.kind) {
    case Number::kInteger:
      *out = static_cast<double>(n.i);
      return S_OK;
    case Number::kReal:
      *out = n.r;
      return S_OK;
    case Number::kDecimal:
      return DigitsToFloat(n.dec, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToFloat(const Number& n, float* out) {
  switch (n.kind) {
    case Number::kInteger:
      *out = static_cast<float>(n.i);
      return S_OK;
    case Number::kReal: {
      const auto f = static_cast<float>(n.r);
      if (std::isinf(f) && std::isfinite(n.r)) return DISP_E_OVERFLOW;
      *out = f;
      return S_OK;
    }
    case Number::kDecimal:
      return DigitsToFloat(n.dec, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToCurrency(const Number& n, LONGLONG* out) {
  constexpr __int128 kMax = 0x7FFFFFFFFFFFFFFFLL;
  __int128 v = 0;
  switch (n.kind) {
    case Number::kInteger:
      if (n.i > kMax / 10000 || n.i < (-kMax - 1) / 10000) return DISP_E_OVERFLOW;
      v = n.i * 10000;
      break;
    case Number::kReal: {
      double scaled;
      if (HRESULT hr = BankersRound(n.r * 10000.0, &scaled); FAILED(hr)) return hr;
      if (scaled >= 0x1p63 || scaled < -0x1p63) return DISP_E_OVERFLOW;
      v = static_cast<__int128>(scaled);
      break;
    }
    case Number::kDecimal: {
      Digits x = n.dec;
      if (x.n) x.exp += 4;
      if (HRESULT hr = DigitsToInteger(x, &v); FAILED(hr)) return hr;
      break;
    }
  }
  if (v > kMax || v < -kMax - 1) return DISP_E_OVERFLOW;
  *out = static_cast<LONGLONG>(v);
  return S_OK;
}

HRESULT ToDecimal(const Number& n, DECIMAL* out) {
  switch (n.kind) {
    case Number::kInteger:
      return DigitsToDecimal(DigitsFromInteger(n.i), out);
    case Number::kReal:
      if (!std::isfinite(n.r)) return DISP_E_OVERFLOW;
      return DigitsToDecimal(RealDigits(n.r, n.precision), out);
    case Number::kDecimal:
      return DigitsToDecimal(n.dec, out);
  }
  return E_UNEXPECTED;
}

bool IsZero(const Number& n) {
  switch (n.kind) {
    case Number::kInteger: return n.i == 0;
    case Number::kReal: return n.r == 0;
    case Number::kDecimal: return n.dec.n == 0;
  }
  return false;
}

HRESULT NumberText(const Number& n, const LocaleData& locale, char16_t* out, int* length) {
  int len = 0;
  auto put = [&](char16_t ch) {
    if (len < 127) out[len++] = ch;
  };
  auto putText = [&](const char16_t* s) {
    for (; *s; ++s) put(*s);
  };

  if (n.kind == Number::kInteger) {
    const bool neg = n.i < 0;
    u128 m = neg ? static_cast<u128>(0) - static_cast<u128>(n.i) : static_cast<u128>(n.i);
    char rev[48];
    int k = 0;
    do {
      rev[k++] = static_cast<char>('0' + static_cast<int>(m % 10));
      m /= 10;
    } while (m != 0);
    if (neg) put(u'-');
    while (k > 0) put(static_cast<char16_t>(rev[--k]));
    *length = len;
    return S_OK;
  }

  Digits x;
  bool scientific = false;
  int x10 = 0;  // exponent of the leading digit
  if (n.kind == Number::kReal) {
    if (!std::isfinite(n.r)) return DISP_E_OVERFLOW;
    x = RealDigits(n.r, n.precision);
    x10 = x.n + x.exp - 1;
    scientific = x.n > 0 && (x10 < -4 || x10 >= n.precision);
  } else {
    x = n.dec;
  }
  if (x.n == 0) {
    put(u'0');
    *length = len;
    return S_OK;
  }
  if (x.neg) put(u'-');
  if (scientific) {
    put(static_cast<char16_t>(x.d[0]));
    if (x.n > 1) {
      putText(locale.decimal);
      for (int j = 1; j < x.n; ++j) put(static_cast<char16_t>(x.d[j]));
    }
    put(u'E');
    put(x10 < 0 ? u'-' : u'+');
    const int e = x10 < 0 ? -x10 : x10;
    if (e >= 100) put(static_cast<char16_t>(u'0' + e / 100));
    put(static_cast<char16_t>(u'0' + e / 10 % 10));
    put(static_cast<char16_t>(u'0' + e % 10));
  } else if (x.exp >= 0) {
    for (int j = 0; j < x.n; ++j) put(static_cast<char16_t>(x.d[j]));
    for (int j = 0; j < x.exp && len < 127; ++j) put(u'0');
  } else {
    const int whole = x.n + x.exp;
    if (whole > 0) {
      for (int j = 0; j < whole; ++j) put(static_cast<char16_t>(x.d[j]));
    } else if (locale.leadingZero[0] != u'0') {
      put(u'0');
    }
    putText(locale.decimal);
    for (int j = whole; j < 0 && len < 127; ++j) put(u'0');
    for (int j = whole > 0 ? whole : 0; j < x.n; ++j) put(static_cast<char16_t>(x.d[j]));
  }
  *length = len;
  return S_OK;
}

int CompareNumbers(const Number& a, const Number& b) {
  if (a.kind == Number::kReal || b.kind == Number::kReal) {
    if (a.kind == Number::kInteger) return CompareIntegerReal(a.i, b.r);
    if (b.kind == Number::kInteger) return -CompareIntegerReal(b.i, a.r);
    double x = 0, y = 0;
    if (FAILED(ToDouble(a, &x))) x = a.dec.neg ? -HUGE_VAL : HUGE_VAL;
    if (FAILED(ToDouble(b, &y))) y = b.dec.neg ? -HUGE_VAL : HUGE_VAL;
    return CompareDoubles(x, y);
  }
  const Digits da = a.kind == Number::kInteger ? DigitsFromInteger(a.i) : a.dec;
  const Digits db = b.kind == Number::kInteger ? DigitsFromInteger(b.i) : b.dec;
  return CompareDigits(da, db);
}

}  // namespace vkr::platform

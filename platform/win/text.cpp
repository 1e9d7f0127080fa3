// UTF-8 / UTF-16 conversion with the Windows contract, and the Windows and C runtime string helpers.
#include "platform/win/text.h"

#include <locale.h>
#include <wctype.h>

#include <climits>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point of UTF-8 at s[i], advancing i past it. An ill-formed sequence gives kInvalid
// and is consumed as its maximal subpart (Unicode's rule, which Windows follows): the lead byte
// and the continuation bytes that were still possible, so "\xE2\x82" is one U+FFFD and "\xC0\xAF"
// is two.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = at(i++);
  if (lead < 0x80) return lead;
  int more;
  char32_t c;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, c = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, c = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return kInvalid;
  }
  for (; more > 0; --more, lo = 0x80, hi = 0xBF) {
    if (i == s.size() || at(i) < lo || at(i) > hi) return kInvalid;
    c = (c << 6) | (at(i++) & 0x3F);
  }
  return c;
}

// The code point of UTF-16 at s[i], advancing i past it; a lone surrogate gives kInvalid.
char32_t NextUtf16(std::u16string_view s, std::size_t& i) {
  const char32_t u = s[i++];
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (u <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    return 0x10000 + ((u - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return kInvalid;
}

std::size_t EncodeUtf16(char32_t c, char16_t* out) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  c -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (c >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

std::size_t EncodeUtf8(char32_t c, char* out) {
  const auto put = [&](int k, char32_t v) { out[k] = static_cast<char>(v); };
  if (c < 0x80) return put(0, c), 1;
  if (c < 0x800) return put(0, 0xC0 | (c >> 6)), put(1, 0x80 | (c & 0x3F)), 2;
  if (c < 0x10000) {
    return put(0, 0xE0 | (c >> 12)), put(1, 0x80 | ((c >> 6) & 0x3F)), put(2, 0x80 | (c & 0x3F)), 3;
  }
  put(0, 0xF0 | (c >> 18)), put(1, 0x80 | ((c >> 12) & 0x3F));
  return put(2, 0x80 | ((c >> 6) & 0x3F)), put(3, 0x80 | (c & 0x3F)), 4;
}

// Output that fills dst while the units fit in cap and counts them all, so one pass both
// measures and converts. A unit that does not fit is never written partially.
template <class Char>
struct Output {
  Char* dst;
  std::size_t cap;
  std::size_t need = 0;
  void Put(const Char* units, std::size_t n) {
    if (dst && need + n <= cap) std::memcpy(dst + need, units, n * sizeof(Char));
    need += n;
  }
};

bool IsAnsiPage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP;
}

int Fail(LONG error) {
  SetLastError(static_cast<DWORD>(error));
  return 0;
}

// The common tail of both conversions: the Windows outcome for `need` units into cchDst.
int Finish(std::size_t need, int cchDst) {
  if (need > static_cast<std::size_t>(INT_MAX)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (cchDst != 0 && need > static_cast<std::size_t>(cchDst)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(need);
}

// Simple lower-case mapping of one UTF-16 unit for the case-insensitive Windows comparisons;
// the C.UTF-8 locale is built into glibc, ASCII folding is the fallback without it.
char16_t FoldCase(char16_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (c < 0x80 || !utf8) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const wint_t lower = towlower_l(c, utf8);
  return lower <= 0xFFFF ? static_cast<char16_t>(lower) : c;
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// Compares at most n units, after `fold`; a null pointer is the empty text.
template <class Char, class Fold>
int Compare(const Char* a, const Char* b, std::size_t n, Fold fold) {
  static constexpr Char kEmpty[1] = {};
  if (!a) a = kEmpty;
  if (!b) b = kEmpty;
  for (std::size_t i = 0; i < n; ++i) {
    using Unit = std::make_unsigned_t<Char>;
    const auto x = fold(static_cast<Unit>(a[i])), y = fold(static_cast<Unit>(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) break;
  }
  return 0;
}

const auto kSame = [](auto c) { return c; };

int LinguisticCompare(LPCWSTR a, LPCWSTR b) {
  if (const int folded = Compare(a, b, SIZE_MAX, FoldCase)) return folded;
  return -Compare(a, b, SIZE_MAX, kSame);  // equal but for case: lower case sorts first
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbSrc, LPWSTR dst, int cchDst) {
  const bool ansi = IsAnsiPage(codePage);
  if (!ansi && codePage != CP_UTF8) return Fail(ERROR_INVALID_PARAMETER);
  if (!src || cbSrc == 0 || cbSrc < -1 || cchDst < 0 || (!dst && cchDst != 0) ||
      static_cast<const void*>(src) == static_cast<const void*>(dst)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD allowed =
      ansi ? MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS : MB_ERR_INVALID_CHARS;
  if (flags & ~allowed) return Fail(ERROR_INVALID_FLAGS);

  const std::string_view in(src, cbSrc == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(cbSrc));
  Output<char16_t> out{dst, static_cast<std::size_t>(cchDst)};
  bool invalid = false;
  for (std::size_t i = 0; i < in.size();) {
    char32_t c = NextUtf8(in, i);
    if (c == kInvalid) invalid = true, c = kReplacement;
    char16_t units[2];
    out.Put(units, EncodeUtf16(c, units));
  }
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  return Finish(out.need, cchDst);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchSrc, LPSTR dst, int cbDst,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  const bool ansi = IsAnsiPage(codePage);
  if (!ansi && codePage != CP_UTF8) return Fail(ERROR_INVALID_PARAMETER);
  if (!src || cchSrc == 0 || cchSrc < -1 || cbDst < 0 || (!dst && cbDst != 0) ||
      static_cast<const void*>(src) == static_cast<const void*>(dst) ||
      (!ansi && (defaultChar || usedDefaultChar))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD allowed = ansi ? WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                   WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS
                             : WC_ERR_INVALID_CHARS;
  if (flags & ~allowed) return Fail(ERROR_INVALID_FLAGS);

  // What stands for a lone surrogate: U+FFFD, or on the ANSI pages the caller's default character.
  char replacement[4];
  std::size_t replacementSize = EncodeUtf8(kReplacement, replacement);
  if (defaultChar && *defaultChar) {
    const std::string_view text(defaultChar);
    std::size_t end = 0;
    if (NextUtf8(text, end) != kInvalid) replacementSize = end, std::memcpy(replacement, defaultChar, end);
  }

  const std::u16string_view in(src, cchSrc == -1 ? wcslen(src) + 1 : static_cast<std::size_t>(cchSrc));
  Output<char> out{dst, static_cast<std::size_t>(cbDst)};
  bool invalid = false;
  for (std::size_t i = 0; i < in.size();) {
    const char32_t c = NextUtf16(in, i);
    if (c == kInvalid) {
      invalid = true;
      out.Put(replacement, replacementSize);
      continue;
    }
    char units[4];
    out.Put(units, EncodeUtf8(c, units));
  }
  if (invalid && (flags & WC_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  const int result = Finish(out.need, cbDst);
  if (usedDefaultChar) *usedDefaultChar = (result != 0 && invalid) ? TRUE : FALSE;
  return result;
}

int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(wcslen(s)) : 0; }
int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  std::memmove(dst, src, (wcslen(src) + 1) * sizeof(WCHAR));
  return dst;
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  std::memmove(dst, src, std::strlen(src) + 1);
  return dst;
}

// maxLen counts the terminating zero; 0 or less copies nothing.
template <class Char>
Char* CopyN(Char* dst, const Char* src, int maxLen) {
  if (!dst || !src) return nullptr;
  if (maxLen <= 0) return dst;
  int i = 0;
  for (; i < maxLen - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxLen) { return CopyN(dst, src, maxLen); }
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int maxLen) { return CopyN(dst, src, maxLen); }

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  lstrcpyW(dst + wcslen(dst), src);
  return dst;
}

LPSTR lstrcatA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  lstrcpyA(dst + std::strlen(dst), src);
  return dst;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) { return LinguisticCompare(a, b); }
int lstrcmpiW(LPCWSTR a, LPCWSTR b) { return Compare(a, b, SIZE_MAX, FoldCase); }
int lstrcmpA(LPCSTR a, LPCSTR b) {
  return lstrcmpW(vkr::Utf8ToUtf16(a ? a : "").c_str(), vkr::Utf8ToUtf16(b ? b : "").c_str());
}
int lstrcmpiA(LPCSTR a, LPCSTR b) {
  return lstrcmpiW(vkr::Utf8ToUtf16(a ? a : "").c_str(), vkr::Utf8ToUtf16(b ? b : "").c_str());
}

std::size_t wcslen(const char16_t* s) { return s ? std::char_traits<char16_t>::length(s) : 0; }
int wcscmp(const char16_t* a, const char16_t* b) { return Compare(a, b, SIZE_MAX, kSame); }
int _wcsicmp(const char16_t* a, const char16_t* b) { return Compare(a, b, SIZE_MAX, FoldAscii); }
int _wcsnicmp(const char16_t* a, const char16_t* b, std::size_t n) { return Compare(a, b, n, FoldAscii); }
int _stricmp(const char* a, const char* b) { return _strnicmp(a, b, SIZE_MAX); }
int _strnicmp(const char* a, const char* b, std::size_t n) {
  return Compare(a, b, n, [](unsigned char c) { return static_cast<unsigned char>(FoldAscii(c)); });
}

namespace vkr {

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = NextUtf8(s, i);
    char16_t units[2];
    out.append(units, EncodeUtf16(c == kInvalid ? kReplacement : c, units));
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = NextUtf16(s, i);
    char units[4];
    out.append(units, EncodeUtf8(c == kInvalid ? kReplacement : c, units));
  }
  return out;
}

}  // namespace vkr

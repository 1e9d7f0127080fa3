// UTF-8 / UTF-16 conversion with the Windows contract, and the string helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

const UINT kCodePages[] = {CP_ACP, CP_OEMCP, CP_THREAD_ACP, CP_UTF8};

std::string Hex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) out += vkr::Format("%02X ", c);
  return out;
}

std::string Hex(std::u16string_view units) {
  std::string out;
  for (char16_t c : units) out += vkr::Format("%04X ", c);
  return out;
}

// Converts with an explicit length through the size query, as callers do.
int ToWide(UINT codePage, DWORD flags, std::string_view in, std::u16string& out) {
  const int need = MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (need == 0) return 0;
  out.assign(static_cast<std::size_t>(need), u'#');
  return MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), out.data(), need);
}

int ToNarrow(UINT codePage, DWORD flags, std::u16string_view in, std::string& out) {
  const int need = WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0,
                                       nullptr, nullptr);
  if (need == 0) return 0;
  out.assign(static_cast<std::size_t>(need), '#');
  return WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()), out.data(), need, nullptr,
                             nullptr);
}

struct Utf8Case {
  std::string_view in;
  std::u16string_view out;  // each ill-formed subpart is one U+FFFD
  bool valid;
};

const Utf8Case kUtf8Cases[] = {
    {"abc", u"abc", true},
    {"\xC3\xA4", u"\u00E4", true},
    {"\xE2\x82\xAC", u"\u20AC", true},
    {"\xF0\x9F\x98\x80", u"\U0001F600", true},
    {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
    {"\xEF\xBF\xBF", u"\uFFFF", true},
    {std::string_view("a\0b", 3), std::u16string_view(u"a\0b", 3), true},
    {"\xE2\x82", u"\uFFFD", false},                     // cut short: one replacement
    {"\xE2\x82x", u"\uFFFDx", false},                   // ... and the next byte survives
    {"\xF0\x9F\x98" "A", u"\uFFFDA", false},
    {"\xC0\xAF", u"\uFFFD\uFFFD", false},               // overlong
    {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},     // overlong
    {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},     // an encoded surrogate
    {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},  // above U+10FFFF
    {"\xFF", u"\uFFFD", false},
    {"\x80", u"\uFFFD", false},
    {"a\xE2\x82\xAC" "b\xE2", u"a\u20ACb\uFFFD", false},
};

TEST(MultiByteToWideChar, ConvertsAndReplacesIllFormedInputOnEveryCodePage) {
  for (UINT cp : kCodePages) {
    for (const Utf8Case& c : kUtf8Cases) {
      SCOPED_TRACE(vkr::Format("code page %u, input %s", cp, Hex(c.in).c_str()));
      std::u16string out;
      EXPECT_EQ(ToWide(cp, 0, c.in, out), static_cast<int>(c.out.size()));
      EXPECT_EQ(Hex(out), Hex(c.out));

      SetLastError(0);
      const int strict = ToWide(cp, MB_ERR_INVALID_CHARS, c.in, out);
      if (c.valid) {
        EXPECT_EQ(strict, static_cast<int>(c.out.size()));
      } else {
        EXPECT_EQ(strict, 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
      }
    }
  }
}

TEST(MultiByteToWideChar, ZeroTerminatedSourceConvertsAndCountsTheZero) {
  char16_t out[8];
  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xC3\xA4", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xC3\xA4", -1, out, 8), 3);
  EXPECT_EQ(std::u16string_view(out, 4), std::u16string_view(u"a\u00E4\0#", 4));
}

TEST(MultiByteToWideChar, ExplicitLengthAddsNoZeroAndAShortBufferFails) {
  char16_t out[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 3), 3);
  EXPECT_EQ(out[3], u'#');

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, out, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // A surrogate pair needs both units.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, out, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(MultiByteToWideChar, RefusesBadArguments) {
  char16_t out[4];
  struct Case {
    const char* what;
    UINT cp;
    DWORD flags;
    const char* src;
    int cb;
    LPWSTR dst;
    int cch;
    LONG error;
  };
  const Case cases[] = {
      {"null source", CP_ACP, 0, nullptr, 3, out, 4, ERROR_INVALID_PARAMETER},
      {"empty source", CP_ACP, 0, "abc", 0, out, 4, ERROR_INVALID_PARAMETER},
      {"length below -1", CP_ACP, 0, "abc", -2, out, 4, ERROR_INVALID_PARAMETER},
      {"negative destination", CP_ACP, 0, "abc", 3, out, -1, ERROR_INVALID_PARAMETER},
      {"null destination with a size", CP_ACP, 0, "abc", 3, nullptr, 4, ERROR_INVALID_PARAMETER},
      {"code page 1252", 1252, 0, "abc", 3, out, 4, ERROR_INVALID_PARAMETER},
      {"Mac code page", CP_MACCP, 0, "abc", 3, out, 4, ERROR_INVALID_PARAMETER},
      {"UTF-8 with a legacy flag", CP_UTF8, MB_PRECOMPOSED, "abc", 3, out, 4, ERROR_INVALID_FLAGS},
      {"unknown flag", CP_ACP, 0x100, "abc", 3, out, 4, ERROR_INVALID_FLAGS},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(c.cp, c.flags, c.src, c.cb, c.dst, c.cch), 0) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error)) << c.what;
  }
  // The ANSI page takes the flags legacy callers pass.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abc", 3, out, 4), 3);
}

struct Utf16Case {
  std::u16string_view in;
  std::string_view out;
  bool valid;
};

const Utf16Case kUtf16Cases[] = {
    {u"abc", "abc", true},
    {u"\u00E4\u20AC", "\xC3\xA4\xE2\x82\xAC", true},
    {u"\U0001F600", "\xF0\x9F\x98\x80", true},
    {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
    {std::u16string_view(u"a\0b", 3), std::string_view("a\0b", 3), true},
    {u"\xD800", "\xEF\xBF\xBD", false},                       // lone high surrogate
    {u"\xDC00", "\xEF\xBF\xBD", false},                       // lone low surrogate
    {u"\xD800" "A", "\xEF\xBF\xBD" "A", false},               // high without its low half
    {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD", false},     // the halves reversed
    {u"x\xD83D", "x\xEF\xBF\xBD", false},                     // cut at the end
};

TEST(WideCharToMultiByte, ConvertsAndReplacesLoneSurrogatesOnEveryCodePage) {
  for (UINT cp : kCodePages) {
    for (const Utf16Case& c : kUtf16Cases) {
      SCOPED_TRACE(vkr::Format("code page %u, input %s", cp, Hex(c.in).c_str()));
      std::string out;
      EXPECT_EQ(ToNarrow(cp, 0, c.in, out), static_cast<int>(c.out.size()));
      EXPECT_EQ(Hex(out), Hex(c.out));

      SetLastError(0);
      const int strict = ToNarrow(cp, WC_ERR_INVALID_CHARS, c.in, out);
      if (c.valid) {
        EXPECT_EQ(strict, static_cast<int>(c.out.size()));
      } else {
        EXPECT_EQ(strict, 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
      }
    }
  }
}

TEST(WideCharToMultiByte, ZeroTerminatedSourceShortBufferAndSizeQuery) {
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u20AC", -1, out, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string_view(out, 5), std::string_view("\xE2\x82\xAC\0#", 5));

  // A three-byte character never lands in part.
  SetLastError(0);
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a\u20AC", 2, out, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string_view(out, 3), "a##");
}

TEST(WideCharToMultiByte, DefaultCharacterOnlyOnTheAnsiPages) {
  char out[8] = {};
  BOOL used = -1;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\xD800", 2, out, 8, "?", &used), 2);
  EXPECT_EQ(std::string_view(out, 2), "a?");
  EXPECT_EQ(used, TRUE);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab", 2, out, 8, "?", &used), 2);
  EXPECT_EQ(used, FALSE);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\xDC00", 1, out, 8, nullptr, &used), 3);
  EXPECT_EQ(used, TRUE);

  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", 2, out, 8, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", 2, out, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"ab", 2, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, 2, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Every scalar value survives UTF-16 -> UTF-8 -> UTF-16, through both the helpers and the API.
TEST(Utf, EveryScalarValueRoundTrips) {
  std::u16string all;
  for (char32_t c = 1; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c < 0x10000) {
      all += static_cast<char16_t>(c);
    } else {
      all += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  const std::string utf8 = vkr::Utf16ToUtf8(all);
  // 0x7F one-byte, 0x780 two-byte, 0xF800 three-byte (less 0x800 surrogates), 0x100000 four-byte.
  EXPECT_EQ(utf8.size(), 0x7Fu + 2 * 0x780u + 3 * (0xF800u - 0x800u) + 4 * 0x100000u);
  EXPECT_TRUE(vkr::Utf8ToUtf16(utf8) == all);

  std::string narrow;
  ASSERT_EQ(ToNarrow(CP_UTF8, WC_ERR_INVALID_CHARS, all, narrow), static_cast<int>(utf8.size()));
  EXPECT_TRUE(narrow == utf8);
  std::u16string wide;
  ASSERT_EQ(ToWide(CP_ACP, MB_ERR_INVALID_CHARS, utf8, wide), static_cast<int>(all.size()));
  EXPECT_TRUE(wide == all);
}

TEST(Utf, HelpersReplaceWhatTheyCannotCarry) {
  EXPECT_EQ(vkr::Utf8ToUtf16("a\xC3(b"), u"a\uFFFD(b");
  EXPECT_EQ(vkr::Utf16ToUtf8(u"a\xDE00" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(vkr::Utf8ToUtf16(""), u"");
  EXPECT_EQ(vkr::View(nullptr), u"");
}

TEST(Lstr, NullPointersAreSafe) {
  WCHAR buf[4] = u"ab";
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrcpyW(nullptr, u"x"), nullptr);
  EXPECT_EQ(lstrcpyW(buf, nullptr), nullptr);
  EXPECT_EQ(lstrcatW(buf, nullptr), nullptr);
  EXPECT_EQ(lstrcpynW(buf, nullptr, 4), nullptr);
  EXPECT_EQ(std::u16string_view(buf), u"ab");
  EXPECT_EQ(lstrcmpW(nullptr, u""), 0);
  EXPECT_LT(lstrcmpW(nullptr, u"a"), 0);
  const char16_t* const null = nullptr;  // typed: the runtime's wchar_t overloads exist too
  EXPECT_EQ(wcslen(null), 0u);
  EXPECT_EQ(wcscmp(null, null), 0);
  EXPECT_EQ(_wcsicmp(null, u""), 0);
  EXPECT_EQ(_stricmp(nullptr, ""), 0);
}

TEST(Lstr, CopyConcatenateAndBoundedCopy) {
  WCHAR w[8];
  EXPECT_EQ(lstrcpyW(w, u"abc"), w);
  EXPECT_EQ(lstrcatW(w, u"de"), w);
  EXPECT_EQ(std::u16string_view(w), u"abcde");
  EXPECT_EQ(lstrlenW(w), 5);

  struct Case {
    int maxLen;
    std::u16string_view want;
  };
  // maxLen counts the zero; 0 leaves the buffer as it was.
  for (const Case& c : {Case{4, u"abc"}, Case{1, u""}, Case{8, u"abcdef"}, Case{0, u"zzzzzzz"}}) {
    std::fill(std::begin(w), std::end(w), u'z');
    w[7] = 0;
    EXPECT_EQ(lstrcpynW(w, u"abcdef", c.maxLen), w);
    EXPECT_EQ(std::u16string_view(w), c.want) << "maxLen " << c.maxLen;
  }

  char a[8];
  EXPECT_EQ(std::string_view(lstrcatA(lstrcpyA(a, "\xC3\xA4"), "b")), "\xC3\xA4" "b");
  EXPECT_EQ(std::string_view(lstrcpynA(a, "abcdef", 3)), "ab");
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(Lstr, ComparisonsOrderAsWindows) {
  struct Case {
    std::u16string_view a, b;
    int cmp, cmpi;  // signs of lstrcmpW and lstrcmpiW
  };
  const Case cases[] = {
      {u"abc", u"abc", 0, 0},
      {u"a", u"B", -1, -1},     // letters sort alphabetically first, not by code
      {u"a", u"A", -1, 0},      // at a tie lower case comes first
      {u"Abc", u"abd", -1, -1},
      {u"ab", u"abc", -1, -1},
      {u"\u00C4", u"\u00E4", 1, 0},  // case-insensitive beyond ASCII
      {u"\u0416", u"\u0436", 1, 0},
  };
  for (const Case& c : cases) {
    const std::u16string a(c.a), b(c.b);
    SCOPED_TRACE(Hex(c.a) + "vs " + Hex(c.b));
    EXPECT_EQ(Sign(lstrcmpW(a.c_str(), b.c_str())), c.cmp);
    EXPECT_EQ(Sign(lstrcmpW(b.c_str(), a.c_str())), -c.cmp);
    EXPECT_EQ(Sign(lstrcmpiW(a.c_str(), b.c_str())), c.cmpi);
    const std::string na = vkr::Utf16ToUtf8(c.a), nb = vkr::Utf16ToUtf8(c.b);
    EXPECT_EQ(Sign(lstrcmpA(na.c_str(), nb.c_str())), c.cmp);
    EXPECT_EQ(Sign(lstrcmpiA(na.c_str(), nb.c_str())), c.cmpi);
  }
}

TEST(CrtStrings, CompareByUnitAndFoldOnlyAscii) {
  EXPECT_EQ(wcslen(u"abc"), 3u);
  EXPECT_LT(wcscmp(u"B", u"a"), 0);
  EXPECT_GT(wcscmp(u"\uE000", u"\u00FF"), 0);
  EXPECT_EQ(_wcsicmp(u"ABC", u"abc"), 0);
  EXPECT_NE(_wcsicmp(u"\u00C4", u"\u00E4"), 0);  // the "C" locale folds ASCII only
  EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcy", 3), 0);
  EXPECT_LT(_wcsnicmp(u"ABCx", u"abcy", 4), 0);
  EXPECT_EQ(_wcsnicmp(u"ab", u"ab", 10), 0);
  EXPECT_EQ(_stricmp("Hello", "hELLO"), 0);
  EXPECT_GT(_stricmp("A", "_"), 0);                // compared as lower case
  EXPECT_GT(_stricmp("\xC3\xA4", "z"), 0);         // bytes are unsigned
  EXPECT_EQ(_strnicmp("abcX", "ABCY", 3), 0);
  EXPECT_LT(_strnicmp("ab", "abc", 3), 0);
}

}  // namespace

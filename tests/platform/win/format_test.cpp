// The printf family: Windows C runtime conversions, floating output against glibc, and the
// truncation rules of every entry point.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "platform/platform.h"

namespace {

template <class... A>
void Expect(std::string_view want, const char* fmt, A... args) {
  EXPECT_EQ(vkr::Format(fmt, args...), want) << "format \"" << fmt << "\"";
}

template <class... A>
void ExpectW(std::u16string_view want, const char16_t* fmt, A... args) {
  EXPECT_TRUE(vkr::Format(fmt, args...) == want)
      << "format \"" << vkr::Utf16ToUtf8(fmt) << "\" gave \"" << vkr::Utf16ToUtf8(vkr::Format(fmt, args...))
      << "\", want \"" << vkr::Utf16ToUtf8(want) << "\"";
}

const char* const kNullNarrow = nullptr;
const char16_t* const kNullWide = nullptr;

TEST(Format, StringsFollowTheFormatsWidth) {
  // 8-bit format: %s 8-bit, %S wide; %hs / %ls explicit.
  Expect("abc", "%s", "abc");
  Expect("\xC3\xA4\xE2\x82\xAC", "%S", u"\u00E4\u20AC");
  Expect("x|y", "%hs|%ls", "x", u"y");
  Expect("\xF0\x9F\x98\x80", "%S", u"\U0001F600");
  // Wide format: %s wide, %S 8-bit.
  ExpectW(u"abc", u"%s", u"abc");
  ExpectW(u"\u00E4\u20AC", u"%S", "\xC3\xA4\xE2\x82\xAC");
  ExpectW(u"x|y", u"%hs|%ls", "x", u"y");
  ExpectW(u"\uFFFD", u"%S", "\xC3");  // ill-formed 8-bit text is replaced, not dropped
  // A null string is the empty text, in every form.
  Expect("[]", "[%s]", kNullNarrow);
  Expect("[]", "[%S]", kNullWide);
  Expect("[   ]", "[%3s]", kNullNarrow);
  ExpectW(u"[]", u"[%s]", kNullWide);
  ExpectW(u"[]", u"[%S]", kNullNarrow);
  ExpectW(u"[]", u"[%hs%ls]", kNullNarrow, kNullWide);
}

TEST(Format, StringWidthAndPrecision) {
  Expect("  abc|abc  |", "%5s|%-5s|", "abc", "abc");
  Expect("ab", "%.2s", "abcdef");
  Expect("   ab", "%5.2s", "abcdef");
  Expect("abc", "%.*s", 3, "abcdef");
  Expect("abcdef", "%.*s", -1, "abcdef");
  // Width counts units of the output: "ä" is two bytes here, one unit in a wide format.
  Expect("   \xC3\xA4", "%5S", u"\u00E4");
  ExpectW(u"    \u00E4", u"%5S", "\xC3\xA4");
  // Precision counts units of the argument and never cuts a character in two.
  Expect("\xC3\xA4", "%.2s", "\xC3\xA4" "b");
  Expect("", "%.1s", "\xC3\xA4");
  Expect("a", "%.3s", "a\xE2\x82\xAC");
  ExpectW(u"", u"%.1s", u"\U0001F600");
  ExpectW(u"\U0001F600", u"%.2s", u"\U0001F600x");
  Expect("", "%.1S", u"\U0001F600");
  ExpectW(u"a", u"%.3S", "a\xE2\x82\xAC");
}

TEST(Format, PrecisionNeverReadsPastItsCount) {
  const char bytes[3] = {'a', 'b', 'c'};  // no terminating zero
  const char16_t units[2] = {u'x', u'y'};
  Expect("abc", "%.3s", bytes);
  ExpectW(u"xy", u"%.2s", units);
}

TEST(Format, Characters) {
  Expect("A", "%c", 'A');
  Expect("\xC3\xA4", "%C", u'\u00E4');
  Expect("\xE2\x82\xAC", "%lc", u'\u20AC');
  Expect("  A|A  |", "%3c|%-3c|", 'A', 'A');
  ExpectW(u"\u00E4", u"%c", u'\u00E4');
  ExpectW(u"A", u"%C", 'A');
  ExpectW(u"x", u"%hc", 'x');
  ExpectW(u"\uFFFD", u"%C", 0xC3);        // a lone lead byte
  Expect("\xEF\xBF\xBD", "%C", 0xD800);   // a lone surrogate
  EXPECT_EQ(vkr::Format("a%cb", 0), std::string("a\0b", 3));
}

TEST(Format, LongIsThirtyTwoBits) {
  const LONG minusOne = -1, minimum = std::numeric_limits<LONG>::min();
  const DWORD all = 0xFFFFFFFF;
  Expect("-1 2", "%ld %ld", minusOne, LONG{2});
  Expect("-2147483648", "%ld", minimum);
  Expect("-7", "%li", LONG{-7});
  Expect("4294967295", "%lu", all);
  Expect("ffffffff", "%lx", minusOne);
  Expect("-1|x", "%ld|%s", minusOne, "x");  // the next argument is still found
  ExpectW(u"-1 4294967295", u"%ld %lu", minusOne, all);
  Expect("-12", "%I32d", -12);
}

TEST(Format, SixtyFourBitIntegers) {
  const auto max64 = std::numeric_limits<ULONGLONG>::max();
  const auto min64 = std::numeric_limits<LONGLONG>::min();
  const auto top64 = std::numeric_limits<LONGLONG>::max();
  Expect("18446744073709551615", "%I64u", max64);
  Expect("-9223372036854775808", "%I64d", min64);
  Expect("9223372036854775807", "%I64i", top64);
  Expect("0", "%I64u", ULONGLONG{0});
  Expect("FFFFFFFFFFFFFFFF", "%I64X", max64);
  Expect("-9223372036854775808 9223372036854775807", "%lld %lli", min64, top64);
  Expect("18446744073709551615|y", "%llu|%s", max64, "y");
  ExpectW(u"18446744073709551615 -9223372036854775808", u"%I64u %I64d", max64, min64);
  ExpectW(u"-1", u"%I64i", LONGLONG{-1});
  Expect("18446744073709551615", "%Iu", SIZE_T{max64});
  Expect("18446744073709551615", "%zu", SIZE_T{max64});
}

TEST(Format, ShortAndCharSizes) {
  Expect("4464", "%hd", 70000);
  Expect("65535", "%hu", -1);
  Expect("-1", "%hhd", 255);
  Expect("0", "%hhu", 256);
  Expect("12ff", "%hx", 0x712FF);
}

TEST(Format, HexOfNegativeResults) {
  const HRESULT fail = static_cast<HRESULT>(0x80004005);
  const HRESULT noInterface = static_cast<HRESULT>(0x80004002);
  Expect("80004005", "%08X", fail);
  Expect("0x80004005", "0x%08X", fail);
  Expect("80004002", "%X", noInterface);
  Expect("00000005", "%08x", 5);
  Expect("ffffffff", "%x", -1);
  Expect("0x0000000A", "0x%08X", 10);
  ExpectW(u"0x80004005; text", u"0x%08X; %s", fail, u"text");
}

TEST(Format, IntegerFlagsWidthAndPrecision) {
  struct Case {
    const char* fmt;
    int value;
    const char* want;
  };
  const Case cases[] = {
      {"%+d", 5, "+5"},         {"% d", 5, " 5"},          {"%+ d", 5, "+5"},
      {"% d", -5, "-5"},        {"%05d", -42, "-0042"},    {"%-5d|", -42, "-42  |"},
      {"%-05d|", 42, "42   |"}, {"%.3d", 7, "007"},        {"%8.3d", 7, "     007"},
      {"%08.3d", 7, "     007"}, {"%.0d", 0, ""},          {"%5.0d|", 0, "     |"},
      {"%#x", 255, "0xff"},     {"%#X", 255, "0XFF"},      {"%#x", 0, "0"},
      {"%#010x", 255, "0x000000ff"}, {"%#o", 8, "010"},    {"%#o", 0, "0"},
      {"%#.3o", 8, "010"},      {"%o", 8, "10"},           {"%+u", 5, "5"},
      {"% x", 5, "5"},          {"%+05d", 42, "+0042"},    {"%d", std::numeric_limits<int>::min(), "-2147483648"},
      {"%u", -1, "4294967295"}, {"%i", 0, "0"},
  };
  for (const Case& c : cases) Expect(c.want, c.fmt, c.value);
  Expect("   42", "%*d", 5, 42);
  Expect("42   |", "%*d|", -5, 42);
  Expect("42   |", "%-*d|", 5, 42);
  Expect("007", "%.*d", 3, 7);
  Expect("7", "%.*d", -1, 7);
  Expect("  007", "%*.*d", 5, 3, 7);
  ExpectW(u"-0042|+5", u"%05d|%+d", -42, 5);
}

TEST(Format, PointersShowEveryHexDigit) {
  Expect("0000000000001234", "%p", reinterpret_cast<void*>(0x1234));
  Expect("0000000000000000", "%p", static_cast<void*>(nullptr));
  Expect("    00000000DEADBEEF|", "%20p|", reinterpret_cast<void*>(0xDEADBEEF));
  Expect("00000000DEADBEEF    |", "%-20p|", reinterpret_cast<void*>(0xDEADBEEF));
  ExpectW(u"00000000000000FF", u"%p", reinterpret_cast<void*>(0xFF));
}

TEST(Format, PercentUnknownAndUnfinishedConversions) {
  Expect("100%", "100%%");
  Expect("%y", "%y");
  Expect("50 %", "50 %");
  Expect("a%-5", "a%-5");
  Expect("%5y 3", "%5y %d", 3);
  ExpectW(u"100% %q", u"100%% %q");
}

TEST(Format, PercentNIsRefused) {
  int count = 0;
  EXPECT_EQ(vkr::Format("ab%n", &count), "");
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(sprintf_s(buf, sizeof buf, "ab%ncd", &count), -1);
  EXPECT_EQ(buf[0], 0);
  std::strcpy(buf, "xxxxxxx");
  EXPECT_EQ(_snprintf(buf, sizeof buf, "ab%n", &count), -1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(_scprintf("ab%n", &count), -1);
  char16_t wbuf[8] = u"xxxxxxx";
  EXPECT_EQ(wsprintfW(wbuf, u"ab%n", &count), 0);
  EXPECT_EQ(wbuf[0], 0);
  EXPECT_EQ(count, 0);
}

TEST(Format, HugeWidthOrPrecisionIsRefused) {
  Expect("", "%99999999999d", 1);
  Expect("", "%.99999999999d", 1);
  EXPECT_EQ(_scprintf("%*d", std::numeric_limits<int>::min(), 1), -1);
}

// Each floating conversion against glibc's, which prints what the modern Windows runtime prints
// for finite values; %a without a precision is Windows' 13 hex digits.
TEST(Format, FloatingMatchesTheCRuntime) {
  const char* const formats[] = {
      "%e",    "%E",     "%f",      "%F",         "%g",    "%G",     "%.3f",   "%.1f",   "%.0f",  "%#.0f",
      "%10.4f", "%-12.2e|", "%+.3g", "% .2f",      "%015.3f", "%.10g", "%.17g",  "%.0e",   "%#g",   "%.3a",
      "%+e",   "%-+9.1f|", "%#.0e", "%.20f",       "%lf",   "%.2E",   "%.1g",   "%.0g",   "%#.5g", "%a",
  };
  const double values[] = {0.0,      -0.0,   1.0,      -1.5,     0.1,      2.5,     3.5,     1e-5,     123456.789,
                           1e15,     1e16,   1e-300,   1e300,    DBL_MAX,  DBL_MIN, 4.9e-324, 0.125,   2.675,
                           1.005,    999999.5, -0.000123456, 9.9999999, 0.5,  1.5,     12.5,     100.0,   -2.71828};
  for (const char* f : formats) {
    for (double v : values) {
      std::string want(512, '\0');
      const std::string glibcFormat = std::string(f) == "%a" ? "%.13a" : f;
      want.resize(static_cast<std::size_t>(std::snprintf(want.data(), want.size(), glibcFormat.c_str(), v)));
      EXPECT_EQ(vkr::Format(f, v), want) << "format \"" << f << "\", value " << v;
      EXPECT_EQ(vkr::Utf16ToUtf8(vkr::Format(vkr::Utf8ToUtf16(f).c_str(), v)), want) << "wide \"" << f << "\"";
    }
  }
}

TEST(Format, FloatingExactTexts) {
  Expect("1.000000e+00", "%e", 1.0);
  Expect("1.234568E+04", "%E", 12345.678);
  Expect("1e-05", "%g", 1e-5);
  Expect("1E+20", "%G", 1e20);
  Expect("1.000000e+100", "%e", 1e100);
  Expect("2.718", "%.3f", 2.71828);
  Expect("12.500", "%.3f", 12.5);
  Expect("0x1.0000000000000p+0", "%a", 1.0);
  Expect("-0X1.8000000000000P+1", "%A", -3.0);
  Expect("0x1.800p+1", "%.3a", 3.0);
  Expect("00003", "%05.0f", 3.0);
  Expect("3.142", "%.*f", 3, 3.14159265);
  Expect("1.500000 2", "%Lf %d", 1.5, 2);  // long double is double on Windows
  ExpectW(u"12.500 mA", u"%.3f mA", 12.5);
}

TEST(Format, NonFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Expect("inf", "%f", inf);
  Expect("INF", "%F", inf);
  Expect("-inf", "%e", -inf);
  Expect("+inf", "%+g", inf);
  Expect("  inf", "%05f", inf);  // zeros never pad an infinity
  Expect("-inf  |", "%-6f|", -inf);
  Expect("nan", "%f", nan);
  Expect("-nan", "%f", -nan);
  Expect("NAN", "%E", nan);
  Expect("  nan", "%5.1f", nan);
  Expect("inf", "%a", inf);
  ExpectW(u"-INF", u"%G", -inf);
}

TEST(Format, FormatsTheSystemUses) {
  const HRESULT parseError = static_cast<HRESULT>(0xC00CE558);
  Expect("Error 0xc00ce558\nLine 3, Column 17\n\n", "Error 0x%08x\nLine %ld, Column %ld\n\n", parseError, LONG{3},
         LONG{17});
  Expect(".007: ", ".%03u: ", 7u);
  Expect(".1234: ", ".%03u: ", 1234u);
  ExpectW(u"relation(3,-1)", u"relation(%d,%d)", 3, -1);
  Expect("{6B29FC40-CA47-1067-B31D-00DD010662DA}", "{%s}", "6B29FC40-CA47-1067-B31D-00DD010662DA");
  ExpectW(u"{abc}", u"{%s}", u"abc");
  ExpectW(u"<f xmlns=\"x-schema:FDTDataTypesSchema.xml\"><a/></f>", u"<f xmlns=\"%s\">%s</f>",
          u"x-schema:FDTDataTypesSchema.xml", u"<a/>");
  ExpectW(u"<f xmlns=\"\"></f>", u"<f xmlns=\"%s\">%s</f>", kNullWide, kNullWide);
  Expect("2024-02-09T07:05:00", "%04u-%02u-%02uT%02u:%02u:%02u", WORD{2024}, WORD{2}, WORD{9}, WORD{7}, WORD{5},
         WORD{0});
  Expect("01 AB ", "%02X %02X ", BYTE{0x01}, BYTE{0xAB});
  ExpectW(u"18446744073709551615;-5", u"%I64u;%I64i", ~ULONGLONG{0}, LONGLONG{-5});
}

// _snprintf: terminator only when there is room; -1 when cut.
TEST(EntryPoints, SnprintfCountsAndTerminatesOnlyWithRoom) {
  struct Case {
    std::size_t count;
    const char* arg;
    int result;
    std::string_view buffer;  // the first 8 bytes afterwards (started as "########")
  };
  const Case cases[] = {
      {8, "abc", 3, std::string_view("abc\0####", 8)},
      {5, "abcde", 5, "abcde###"},   // exact fit: no zero
      {5, "abcdef", -1, "abcde###"},  // cut: no zero
      {0, "abc", -1, "########"},
  };
  for (const Case& c : cases) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(_snprintf(buf, c.count, "%s", c.arg), c.result) << "count " << c.count << ", " << c.arg;
    EXPECT_EQ(std::string_view(buf, 8), c.buffer) << "count " << c.count << ", " << c.arg;
  }
  EXPECT_EQ(_snprintf(nullptr, 0, "%s-%d", "abc", 42), 6);
  EXPECT_EQ(_snprintf(nullptr, 4, "x"), -1);

  char16_t wbuf[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(_snwprintf(wbuf, 3, u"%S", "\xC3\xA4xy"), 3);
  EXPECT_EQ(std::u16string_view(wbuf, 4), u"\u00E4xy#");
  EXPECT_EQ(_snwprintf(wbuf, 3, u"%d", 12345), -1);
  EXPECT_EQ(std::u16string_view(wbuf, 4), u"123#");
  EXPECT_EQ(_snwprintf(wbuf, 4, u"%d", 12), 2);
  EXPECT_EQ(std::u16string_view(wbuf, 3), std::u16string_view(u"12\0", 3));
}

// sprintf_s: the text and its zero fit, or the buffer becomes the empty text and -1 comes back.
TEST(EntryPoints, SecureFormatEmptiesTheBufferOnOverflow) {
  char buf[4];
  EXPECT_EQ(sprintf_s(buf, sizeof buf, "%d", 123), 3);
  EXPECT_STREQ(buf, "123");
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(sprintf_s(buf, sizeof buf, "%d", 1234), -1);
  EXPECT_EQ(std::string_view(buf, 4), std::string_view("\0###", 4));
  EXPECT_EQ(sprintf_s(nullptr, 4, "x"), -1);
  EXPECT_EQ(sprintf_s(buf, 0, "x"), -1);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(sprintf_s(buf, sizeof buf, nullptr), -1);
  EXPECT_EQ(buf[0], 0);

  char16_t wbuf[4];
  EXPECT_EQ(swprintf_s(wbuf, 4, u"%s", u"abc"), 3);
  EXPECT_EQ(std::u16string_view(wbuf), u"abc");
  EXPECT_EQ(swprintf_s(wbuf, 4, u"%s", u"abcd"), -1);
  EXPECT_EQ(wbuf[0], 0);
}

// _snprintf_s with the documented example: "<<<%d>>>" into a 10-byte buffer.
TEST(EntryPoints, SnprintfSecureCountAndTruncate) {
  struct Case {
    std::size_t count;
    int value;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {8, 121, -1, "<<<121>>"},        // cut by count: kept, -1
      {9, 121, 9, "<<<121>>>"},
      {10, 121, 9, "<<<121>>>"},
      {10, 1221, -1, ""},               // does not fit the buffer: emptied
      {_TRUNCATE, 1221, -1, "<<<1221>>"},
      {_TRUNCATE, 121, 9, "<<<121>>>"},
      {0, 121, -1, ""},
  };
  for (const Case& c : cases) {
    char buf[10];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(_snprintf_s(buf, sizeof buf, c.count, "<<<%d>>>", c.value), c.result) << "count " << c.count;
    EXPECT_STREQ(buf, c.text) << "count " << c.count;
  }
  char16_t wbuf[6];
  EXPECT_EQ(_snwprintf_s(wbuf, 6, _TRUNCATE, u"%s", u"abcdefgh"), -1);
  EXPECT_EQ(std::u16string_view(wbuf), u"abcde");
  EXPECT_EQ(_snwprintf_s(wbuf, 6, 2, u"%s", u"abc"), -1);
  EXPECT_EQ(std::u16string_view(wbuf), u"ab");
}

TEST(EntryPoints, WsprintfCapsAt1024UnitsWithTheZero) {
  const std::u16string longText(2000, u'w');
  std::u16string buf(1100, u'#');
  EXPECT_EQ(wsprintfW(buf.data(), u"%s", longText.c_str()), 1023);
  EXPECT_EQ(buf[1022], u'w');
  EXPECT_EQ(buf[1023], 0);
  EXPECT_EQ(buf[1024], u'#');

  char small[32];
  EXPECT_EQ(wsprintfA(small, "%s=%lu", "n", DWORD{7}), 3);
  EXPECT_STREQ(small, "n=7");
  EXPECT_EQ(wsprintfA(small, nullptr), 0);
  EXPECT_STREQ(small, "");
}

// wsprintf has no floating conversions: the letter is printed alone and takes no argument, so
// the next conversion reads the argument meant for the float's place. Zero padding of texts is
// shared with the runtime.
TEST(EntryPoints, WsprintfKnowsNoFloatingConversions) {
  struct Case {
    const char16_t* format;
    const char16_t* want;
  } cases[] = {
      {u"[%f]", u"[f]"},         {u"[%5.2f]", u"[f]"},     {u"[%lf]", u"[f]"},
      {u"[%e|%E]", u"[e|E]"},    {u"[%g|%G]", u"[g|G]"},   {u"[%a]", u"[a]"},
      {u"[%y]", u"[y]"},         {u"[%05s]", u"[000ab]"},  {u"[%-5s]", u"[ab   ]"},
      {u"100%%", u"100%"},
  };
  for (const Case& c : cases) {
    char16_t buf[64];
    const int n = wsprintfW(buf, c.format, u"ab");
    EXPECT_EQ(std::u16string_view(buf), c.want) << vkr::Utf16ToUtf8(c.format);
    EXPECT_EQ(n, static_cast<int>(std::u16string_view(c.want).size())) << vkr::Utf16ToUtf8(c.format);
  }
  // The value meant for %f is read by the conversion after it.
  char narrow[32];
  EXPECT_EQ(wsprintfA(narrow, "%f %d", 7), 3);
  EXPECT_STREQ(narrow, "f 7");
  EXPECT_EQ(wsprintfA(narrow, "[%03c]", 'a'), 5);
  EXPECT_STREQ(narrow, "[00a]");
  // The runtime family formats the same floats and pads texts with zeros the same way.
  char16_t wide[32];
  EXPECT_EQ(_snwprintf(wide, 32, u"%.2f|%05s|%-05s|", 2.5, u"ab", u"ab"), 17);
  EXPECT_EQ(std::u16string_view(wide), u"2.50|000ab|ab   |");
  Expect("[00x]", "[%03c]", 'x');
  Expect("0000abc", "%07S", u"abc");
}

TEST(EntryPoints, MeasureAndFormatAnyLength) {
  EXPECT_EQ(_scprintf("%s%d", "abc", 12345), 8);
  EXPECT_EQ(_scwprintf(u"%S", "\xF0\x9F\x98\x80"), 2);  // one pair of UTF-16 units
  EXPECT_EQ(_scprintf("%S", u"\U0001F600"), 4);
  EXPECT_EQ(_scprintf(nullptr), -1);
  const std::string big = vkr::Format("%5000d|%s", 1, std::string(600, 'x').c_str());
  EXPECT_EQ(big.size(), 5601u);
  EXPECT_EQ(big.substr(4995, 6), "    1|");
  EXPECT_EQ(vkr::Format(u"%d", 5), u"5");
}

// The engine copies the caller's va_list, so one list serves a measuring call and a formatting
// call, as a retry loop over growing buffers needs.
int MeasureThenFormat(char16_t* buf, std::size_t count, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int measured = _vscwprintf(fmt, args);
  const int written = _vsnwprintf(buf, count, fmt, args);
  bool ok = false;
  const std::u16string again = vkr::FormatV(fmt, args, &ok);
  va_end(args);
  return measured == written && ok && again == std::u16string_view(buf, static_cast<std::size_t>(written))
             ? written
             : -2;
}

TEST(EntryPoints, AVaListCanBeUsedTwice) {
  char16_t buf[64];
  EXPECT_EQ(MeasureThenFormat(buf, 64, u"%s %ld %I64u %.2f %S", u"a", LONG{-3}, ULONGLONG{1} << 40, 0.5, "z"), 25);
  EXPECT_EQ(std::u16string_view(buf), u"a -3 1099511627776 0.50 z");
}

TEST(EntryPoints, FormatVReportsARefusedFormat) {
  const auto run = [](const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    bool ok = true;
    const std::string text = vkr::FormatV(fmt, args, &ok);
    va_end(args);
    return std::make_pair(text, ok);
  };
  EXPECT_EQ(run("%d", 4), std::make_pair(std::string("4"), true));
  int n = 0;
  EXPECT_EQ(run("x%n", &n), std::make_pair(std::string(), false));
  EXPECT_EQ(run(nullptr), std::make_pair(std::string(), false));
}

}  // namespace

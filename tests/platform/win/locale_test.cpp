// Locales: the information calls, number formatting, the defaults and VKR_LOCALE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

std::u16string Info(LCID lcid, LCTYPE type) {
  const int need = GetLocaleInfoW(lcid, type, nullptr, 0);
  if (need <= 0) return u"<error " + std::u16string(1, static_cast<char16_t>(u'0' + GetLastError() % 10)) + u">";
  std::u16string s(static_cast<std::size_t>(need), u'\0');
  EXPECT_EQ(GetLocaleInfoW(lcid, type, s.data(), need), need);
  s.resize(static_cast<std::size_t>(need - 1));
  return s;
}

TEST(GetLocaleInfo, AnswersTheNumberAndDateSettings) {
  struct Row {
    LCTYPE type;
    const char16_t* en;
    const char16_t* de;
  };
  const Row rows[] = {
      {LOCALE_SDECIMAL, u".", u","},
      {LOCALE_STHOUSAND, u",", u"."},
      {LOCALE_SGROUPING, u"3;0", u"3;0"},
      {LOCALE_IDIGITS, u"2", u"2"},
      {LOCALE_ILZERO, u"1", u"1"},
      {LOCALE_INEGNUMBER, u"1", u"1"},
      {LOCALE_SSHORTDATE, u"M/d/yyyy", u"dd.MM.yyyy"},
      {LOCALE_STIMEFORMAT, u"h:mm:ss tt", u"HH:mm:ss"},
      {LOCALE_SDATE, u"/", u"."},
      {LOCALE_IDATE, u"0", u"1"},
      {LOCALE_S1159, u"AM", u""},
      {LOCALE_SENGLANGUAGE, u"English", u"German"},
      {LOCALE_SNATIVELANGNAME, u"English", u"Deutsch"},
      {LOCALE_SLANGUAGE, u"English (United States)", u"German (Germany)"},
      {LOCALE_SABBREVLANGNAME, u"ENU", u"DEU"},
      {LOCALE_SNAME, u"en-US", u"de-DE"},
      {LOCALE_SISO639LANGNAME, u"en", u"de"},
      {LOCALE_SISO3166CTRYNAME, u"US", u"DE"},
      {LOCALE_ILANGUAGE, u"0409", u"0407"},
      {LOCALE_SCURRENCY, u"$", u"\u20AC"},
      {LOCALE_SMONTHNAME1 + 2, u"March", u"M\u00E4rz"},
      {LOCALE_SABBREVDAYNAME1 + 6, u"Sun", u"So"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Info(1033, r.type), r.en) << "LCTYPE 0x" << std::hex << r.type;
    EXPECT_EQ(Info(1031, r.type), r.de) << "LCTYPE 0x" << std::hex << r.type;
  }
}

TEST(GetLocaleInfo, ResolvesNamedLocales) {
  EXPECT_EQ(Info(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL), SORT_DEFAULT), LOCALE_SNAME), u"de-DE");
  EXPECT_EQ(Info(MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL), LOCALE_SNAME), u"en-US");
  EXPECT_EQ(Info(MAKELCID(0x0407, 1), LOCALE_SNAME), u"de-DE");
  EXPECT_EQ(Info(LOCALE_INVARIANT, LOCALE_SDECIMAL), u".");
  EXPECT_EQ(Info(LOCALE_INVARIANT, LOCALE_SNAME), u"");
  EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SNAME), u"en-US");
  EXPECT_EQ(Info(LOCALE_NEUTRAL, LOCALE_SNAME), u"en-US");
}

TEST(GetLocaleInfo, ReportsErrorsTheWindowsWay) {
  WCHAR buf[8];
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(1036, LOCALE_SDECIMAL, buf, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetLocaleInfoW(1033, 0x7777, buf, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SSHORTDATE, buf, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SDECIMAL, nullptr, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SDECIMAL, buf, -1), 0);
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SDECIMAL | LOCALE_RETURN_NUMBER, buf, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  // The exact size fits, the zero included.
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SDECIMAL, buf, 2), 2);
  EXPECT_EQ(buf[0], u'.');
  EXPECT_EQ(buf[1], 0);
}

TEST(GetLocaleInfo, ReturnsNumbersOnRequest) {
  DWORD value = 0;
  ASSERT_EQ(GetLocaleInfoW(1033, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&value), 2), 2);
  EXPECT_EQ(value, 2u);
  ASSERT_EQ(GetLocaleInfoW(1031, LOCALE_ILANGUAGE | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&value), 2), 2);
  EXPECT_EQ(value, 0x407u);
  ASSERT_EQ(GetLocaleInfoA(1031, LOCALE_ICOUNTRY | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&value), 4), 4);
  EXPECT_EQ(value, 49u);
  EXPECT_EQ(GetLocaleInfoA(1031, LOCALE_ICOUNTRY | LOCALE_RETURN_NUMBER, nullptr, 0), 4);
}

TEST(GetLocaleInfo, NarrowFormIsUtf8) {
  EXPECT_EQ(GetLocaleInfoA(1031, LOCALE_SMONTHNAME1 + 2, nullptr, 0), 6);
  char buf[8];
  ASSERT_EQ(GetLocaleInfoA(1031, LOCALE_SMONTHNAME1 + 2, buf, 8), 6);
  EXPECT_STREQ(buf, "M\xC3\xA4rz");
  EXPECT_EQ(GetLocaleInfoA(1031, LOCALE_SMONTHNAME1 + 2, buf, 5), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(GetLocaleInfoA(1031, LOCALE_SDECIMAL, buf, 8), 2);
  EXPECT_STREQ(buf, ",");
}

std::u16string Format(LCID lcid, const char16_t* value, const NUMBERFMTW* fmt = nullptr, DWORD flags = 0) {
  const int need = GetNumberFormatW(lcid, flags, value, fmt, nullptr, 0);
  if (need <= 0) return u"<error>";
  std::u16string s(static_cast<std::size_t>(need), u'\0');
  EXPECT_EQ(GetNumberFormatW(lcid, flags, value, fmt, s.data(), need), need);
  s.resize(static_cast<std::size_t>(need - 1));
  return s;
}

TEST(GetNumberFormat, FormatsWithTheLocale) {
  struct Row {
    LCID lcid;
    const char16_t* in;
    const char16_t* out;
  };
  const Row rows[] = {
      {1033, u"1234567.891", u"1,234,567.89"},
      {1031, u"1234567.891", u"1.234.567,89"},
      {1033, u"-1.5", u"-1.50"},
      {1033, u"0.005", u"0.01"},
      {1033, u"0.004", u"0.00"},
      {1033, u"-0.001", u"0.00"},
      {1033, u"9.999", u"10.00"},
      {1033, u"999.995", u"1,000.00"},
      {1033, u".5", u"0.50"},
      {1033, u"5.", u"5.00"},
      {1033, u"000123", u"123.00"},
      {1033, u"100", u"100.00"},
      {1031, u"1000", u"1.000,00"},
  };
  for (const Row& r : rows) EXPECT_EQ(Format(r.lcid, r.in), r.out) << vkr::Utf16ToUtf8(r.in) << " in " << r.lcid;
}

TEST(GetNumberFormat, FollowsTheGivenFormat) {
  WCHAR point[] = u".", comma[] = u",", space[] = u" ";
  auto fmt = [&](UINT digits, UINT lead, UINT grouping, UINT neg, WCHAR* dec = nullptr, WCHAR* thou = nullptr) {
    return NUMBERFMTW{digits, lead, grouping, dec ? dec : point, thou ? thou : comma, neg};
  };
  struct Row {
    NUMBERFMTW f;
    const char16_t* in;
    const char16_t* out;
  };
  const Row rows[] = {
      {fmt(2, 1, 3, 0), u"-1234.5", u"(1,234.50)"},
      {fmt(2, 1, 3, 1), u"-1234.5", u"-1,234.50"},
      {fmt(2, 1, 3, 2), u"-1234.5", u"- 1,234.50"},
      {fmt(2, 1, 3, 3), u"-1234.5", u"1,234.50-"},
      {fmt(2, 1, 3, 4), u"-1234.5", u"1,234.50 -"},
      {fmt(0, 1, 3, 1), u"1.5", u"2"},
      {fmt(0, 1, 3, 1), u"2.5", u"3"},
      {fmt(0, 1, 3, 1), u"0.4", u"0"},
      {fmt(2, 0, 3, 1), u"0.5", u".50"},
      {fmt(2, 0, 3, 1), u"-0.5", u"-.50"},
      {fmt(5, 1, 3, 1), u"12.5", u"12.50000"},
      {fmt(2, 1, 0, 1), u"123456789", u"123456789.00"},
      {fmt(2, 1, 32, 1), u"123456789", u"12,34,56,789.00"},
      {fmt(2, 1, 30, 1), u"123456789", u"123456,789.00"},
      {fmt(1, 1, 3, 1, comma, space), u"1234567.25", u"1 234 567,3"},
  };
  for (const Row& r : rows) EXPECT_EQ(Format(1033, r.in, &r.f), r.out) << vkr::Utf16ToUtf8(r.in);
}

TEST(GetNumberFormat, RefusesWhatIsNotANumberText) {
  for (const char16_t* bad : {u"", u"-", u".", u"1e5", u"+1", u" 1", u"1 ", u"1.2.3", u"1,000", u"abc", u"--1"}) {
    SetLastError(0);
    EXPECT_EQ(GetNumberFormatW(1033, 0, bad, nullptr, nullptr, 0), 0) << vkr::Utf16ToUtf8(bad);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << vkr::Utf16ToUtf8(bad);
  }
  WCHAR point[] = u".", comma[] = u",";
  NUMBERFMTW f{2, 1, 3, point, comma, 1};
  EXPECT_EQ(GetNumberFormatW(1033, LOCALE_NOUSEROVERRIDE, u"1", &f, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(GetNumberFormatW(1033, 0x10, u"1", nullptr, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_GT(GetNumberFormatW(1033, LOCALE_NOUSEROVERRIDE, u"1", nullptr, nullptr, 0), 0);
  NUMBERFMTW badOrder{2, 1, 3, point, comma, 5};
  EXPECT_EQ(GetNumberFormatW(1033, 0, u"1", &badOrder, nullptr, 0), 0);
  NUMBERFMTW noSep{2, 1, 3, nullptr, comma, 1};
  EXPECT_EQ(GetNumberFormatW(1033, 0, u"1", &noSep, nullptr, 0), 0);
  EXPECT_EQ(GetNumberFormatW(1033, 0, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(GetNumberFormatW(1036, 0, u"1", nullptr, nullptr, 0), 0);
  WCHAR small[4];
  EXPECT_EQ(GetNumberFormatW(1033, 0, u"1", nullptr, small, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(GetNumberFormat, NarrowFormTakesAndGivesUtf8) {
  // The number-format record the parameter model builds: German separators read as 8-bit texts.
  char dec[5], thou[7];
  ASSERT_GT(GetLocaleInfoA(1031, LOCALE_SDECIMAL, dec, sizeof dec), 0);
  ASSERT_GT(GetLocaleInfoA(1031, LOCALE_STHOUSAND, thou, sizeof thou), 0);
  NUMBERFMTA f{5, 1, 3, dec, thou, 1};
  char out[32];
  ASSERT_EQ(GetNumberFormatA(1031, 0, "-12345.5", &f, out, sizeof out), 14);
  EXPECT_STREQ(out, "-12.345,50000");
  EXPECT_EQ(GetNumberFormatA(0, 0, "1000", nullptr, nullptr, 0), 9);
  char utf8Sep[] = "\xC2\xB7";  // a middle dot: two bytes in UTF-8
  NUMBERFMTA g{1, 1, 3, utf8Sep, thou, 1};
  ASSERT_EQ(GetNumberFormatA(1031, 0, "1.25", &g, out, sizeof out), 5);
  EXPECT_STREQ(out, "1\xC2\xB7" "3");
}

TEST(LocaleDefaults, AreSettableAndResolveNamedLocales) {
  EXPECT_EQ(GetUserDefaultLCID(), 1033u);
  EXPECT_EQ(GetSystemDefaultLCID(), 1033u);
  ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(1031));
  EXPECT_EQ(GetUserDefaultLCID(), 1031u);
  EXPECT_EQ(GetUserDefaultLangID(), 0x407);
  EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL), u",");
  EXPECT_EQ(Info(LOCALE_SYSTEM_DEFAULT, LOCALE_SDECIMAL), u".");
  EXPECT_FALSE(vkr::platform::SetUserDefaultLocale(1036));
  EXPECT_EQ(GetUserDefaultLCID(), 1031u);
  ASSERT_TRUE(vkr::platform::SetSystemDefaultLocale(MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL)));
  EXPECT_EQ(GetSystemDefaultLCID(), 1031u);
  EXPECT_EQ(GetSystemDefaultLangID(), 0x407);
  ASSERT_TRUE(vkr::platform::SetUserDefaultLocale(LOCALE_SYSTEM_DEFAULT));
  EXPECT_EQ(GetUserDefaultLCID(), 1031u);
  vkr::platform::SetUserDefaultLocale(1033);
  vkr::platform::SetSystemDefaultLocale(1033);
}

TEST(LocaleDefaults, ThreadLocaleIsPerThread) {
  EXPECT_EQ(GetThreadLocale(), 1033u);
  ASSERT_TRUE(SetThreadLocale(1031));
  EXPECT_EQ(GetThreadLocale(), 1031u);
  LCID other = 0;
  std::thread([&] { other = GetThreadLocale(); }).join();
  EXPECT_EQ(other, 1033u);
  EXPECT_FALSE(SetThreadLocale(1036));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetThreadLocale(), 1031u);
  SetThreadLocale(1033);
}

TEST(LocaleNames, MapBothWays) {
  WCHAR name[LOCALE_NAME_MAX_LENGTH];
  ASSERT_EQ(LCIDToLocaleName(1031, name, LOCALE_NAME_MAX_LENGTH, 0), 6);
  EXPECT_EQ(std::u16string(name), u"de-DE");
  EXPECT_EQ(LCIDToLocaleName(1033, nullptr, 0, 0), 6);
  EXPECT_EQ(LCIDToLocaleName(1036, name, LOCALE_NAME_MAX_LENGTH, 0), 0);
  EXPECT_EQ(LCIDToLocaleName(1033, name, LOCALE_NAME_MAX_LENGTH, 0x1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(LocaleNameToLCID(u"de-de", 0), 1031u);
  EXPECT_EQ(LocaleNameToLCID(u"EN-US", 0), 1033u);
  EXPECT_EQ(LocaleNameToLCID(u"", 0), LOCALE_INVARIANT);
  EXPECT_EQ(LocaleNameToLCID(nullptr, 0), GetUserDefaultLCID());
  EXPECT_EQ(LocaleNameToLCID(u"fr-FR", 0), 0u);
}

// Checks only in a child process with VKR_LOCALE set, run by the test below; on its own it has
// nothing to check (and is not reported as skipped, which would read as a test that did not run).
TEST(LocaleEnvironment, ChildSeesTheVariable) {
  const char* expected = std::getenv("VKR_LOCALE_EXPECTED");
  if (!expected) return;
  EXPECT_EQ(GetUserDefaultLCID(), static_cast<LCID>(std::atoi(expected)));
  EXPECT_EQ(GetSystemDefaultLCID(), static_cast<LCID>(std::atoi(expected)));
}

int RunChild(const std::string& setting, const char* expected) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = "VKR_LOCALE='" + setting + "' VKR_LOCALE_EXPECTED=" + expected + " '" + self +
                              "' --gtest_filter=LocaleEnvironment.ChildSeesTheVariable >/dev/null 2>&1";
  return std::system(command.c_str());
}

TEST(LocaleEnvironment, DefaultsFollowTheVariable) {
  EXPECT_EQ(RunChild("1031", "1031"), 0);
  EXPECT_EQ(RunChild("0x0407", "1031"), 0);
  EXPECT_EQ(RunChild(" de-DE ", "1031"), 0);
  EXPECT_EQ(RunChild("en-us", "1033"), 0);
  // A setting that names no supported locale keeps 1033 (and says so on stderr).
  EXPECT_EQ(RunChild("fr-FR", "1033"), 0);
  EXPECT_EQ(RunChild("99999999999", "1033"), 0);
  EXPECT_EQ(RunChild("", "1033"), 0);
}

}  // namespace

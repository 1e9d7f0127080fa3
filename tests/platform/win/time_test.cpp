// The wall clock: UTC and local time, and the fixed-time hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace {

SYSTEMTIME At(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
  SYSTEMTIME t{};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  return t;
}

// Sets TZ for the test and restores it.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (m_had) setenv("TZ", m_old.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    vkr::platform::SetFixedSystemTime(nullptr);
  }

 private:
  std::string m_old;
  bool m_had = false;
};

TEST(Clock, FixedTimeGivesUtcAndLocal) {
  TimeZone tz("EST5");
  const SYSTEMTIME fixed = At(2024, 3, 1, 2, 30, 15, 250);
  vkr::platform::SetFixedSystemTime(&fixed);
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  EXPECT_EQ(utc.wYear, 2024);
  EXPECT_EQ(utc.wMonth, 3);
  EXPECT_EQ(utc.wDay, 1);
  EXPECT_EQ(utc.wDayOfWeek, 5);  // a Friday
  EXPECT_EQ(utc.wHour, 2);
  EXPECT_EQ(utc.wMinute, 30);
  EXPECT_EQ(utc.wSecond, 15);
  EXPECT_EQ(utc.wMilliseconds, 250);
  // Five hours west the day before, across the leap day.
  EXPECT_EQ(local.wMonth, 2);
  EXPECT_EQ(local.wDay, 29);
  EXPECT_EQ(local.wDayOfWeek, 4);
  EXPECT_EQ(local.wHour, 21);
  EXPECT_EQ(local.wMinute, 30);
  EXPECT_EQ(local.wMilliseconds, 250);
}

TEST(Clock, RealClockAgreesWithTheCLibrary) {
  TimeZone tz("UTC");
  const std::time_t before = std::time(nullptr);
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  std::tm tm{};
  gmtime_r(&before, &tm);
  EXPECT_EQ(utc.wYear, tm.tm_year + 1900);
  EXPECT_EQ(utc.wMonth, tm.tm_mon + 1);
  EXPECT_EQ(utc.wDayOfWeek, tm.tm_wday);
  SYSTEMTIME local{};
  GetLocalTime(&local);
  EXPECT_EQ(local.wDay, utc.wDay);
  GetSystemTime(nullptr);
  GetLocalTime(nullptr);
}

TEST(Clock, VariantTimeOfTheClockRoundTrips) {
  TimeZone tz("UTC");
  const SYSTEMTIME fixed = At(1999, 12, 31, 23, 59, 59, 999);
  vkr::platform::SetFixedSystemTime(&fixed);
  SYSTEMTIME now{};
  GetSystemTime(&now);
  DATE d = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&now, &d));
  SYSTEMTIME back{};
  ASSERT_TRUE(VariantTimeToSystemTime(d, &back));
  EXPECT_EQ(back.wYear, 1999);
  EXPECT_EQ(back.wSecond, 59);  // milliseconds are dropped, not rounded
}

}  // namespace

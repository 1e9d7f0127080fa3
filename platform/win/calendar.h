// Proleptic Gregorian calendar arithmetic shared by the clock and the OLE date conversions.
// Private to the platform.
#pragma once

#include <cstdint>

namespace vkr::platform {

// Days from 1970-01-01 to the given date (negative before it).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

constexpr CivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

// 0 = Sunday.
constexpr unsigned DayOfWeekFromDays(std::int64_t z) {
  return static_cast<unsigned>((z % 7 + 7 + 4) % 7);
}

constexpr bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr unsigned DaysInMonth(std::int64_t y, unsigned m) {
  constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The OLE date epoch, 1899-12-30, in days from 1970-01-01.
constexpr std::int64_t kOleEpochDays = DaysFromCivil(1899, 12, 30);

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(kOleEpochDays == -25569);
static_assert(DayOfWeekFromDays(0) == 4);  // a Thursday
static_assert(DayOfWeekFromDays(kOleEpochDays) == 6);  // a Saturday

}  // namespace vkr::platform

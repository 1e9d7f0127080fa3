// The wall clock over clock_gettime and the C library's time-zone rules.
#include "platform/win/time.h"

#include <ctime>
#include <mutex>

#include "platform/win/calendar.h"
#include "platform/win/threads.h"

namespace vkr::platform {
namespace {

std::mutex g_fixedMutex;
bool g_fixed = false;
std::int64_t g_fixedMs = 0;  // milliseconds since 1970-01-01 UTC
DWORD g_fixedTick = 0;       // the tick count when the time was fixed

std::int64_t NowMs() {
  {
    std::lock_guard<std::mutex> lock(g_fixedMutex);
    // Under the fake tick count the fixed time moves with it, so a wait on the wall clock ends.
    if (g_fixed) return g_fixedMs + (IsFakeTickCount() ? static_cast<DWORD>(GetTickCount() - g_fixedTick) : 0);
  }
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Fill(std::int64_t ms, SYSTEMTIME* st) {
  std::int64_t days = ms / 86400000;
  std::int64_t rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  st->wYear = static_cast<WORD>(date.year);
  st->wMonth = static_cast<WORD>(date.month);
  st->wDay = static_cast<WORD>(date.day);
  st->wDayOfWeek = static_cast<WORD>(DayOfWeekFromDays(days));
  st->wHour = static_cast<WORD>(rest / 3600000);
  st->wMinute = static_cast<WORD>(rest / 60000 % 60);
  st->wSecond = static_cast<WORD>(rest / 1000 % 60);
  st->wMilliseconds = static_cast<WORD>(rest % 1000);
}

}  // namespace

void SetFixedSystemTime(const SYSTEMTIME* utc) {
  std::lock_guard<std::mutex> lock(g_fixedMutex);
  g_fixed = utc != nullptr;
  g_fixedTick = GetTickCount();
  if (utc) {
    const std::int64_t days = DaysFromCivil(utc->wYear, utc->wMonth, utc->wDay);
    g_fixedMs = days * 86400000 + utc->wHour * 3600000LL + utc->wMinute * 60000LL + utc->wSecond * 1000LL +
                utc->wMilliseconds;
  }
}

}  // namespace vkr::platform

void GetSystemTime(SYSTEMTIME* st) {
  if (st) vkr::platform::Fill(vkr::platform::NowMs(), st);
}

void GetLocalTime(SYSTEMTIME* st) {
  if (!st) return;
  const std::int64_t ms = vkr::platform::NowMs();
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;
  const auto t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&t, &local);
  vkr::platform::Fill(ms + static_cast<std::int64_t>(local.tm_gmtoff) * 1000, st);
}

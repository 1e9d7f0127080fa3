// The wall clock: the current date and time as SYSTEMTIME, in UTC and in the local time zone.
#pragma once

#include "platform/win/types.h"

// Null pointers are ignored. wDayOfWeek counts from Sunday = 0.
VKR_API void GetSystemTime(SYSTEMTIME* st);
VKR_API void GetLocalTime(SYSTEMTIME* st);

namespace vkr::platform {
// Test hook: while set, the clock stands still at this UTC time (local time is derived from it with
// the process's time zone). Null restores the real clock. Under the fake tick count the fixed time
// moves on with the ticks counted since it was fixed (fix it after turning the fake clock on).
VKR_API void SetFixedSystemTime(const SYSTEMTIME* utc);
}  // namespace vkr::platform

// Waiting for the DTM, never for a time: a frame that shows what the device answered looks once
// nothing is left to happen on its own.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vkr::frame {

// How long the frame waits for the DTM at most before it says what it is still waiting for.
inline constexpr DWORD kQuietLimitMs = 120000;

// Serves the calling thread's messages (its windows' and the answers of its channels) until the
// process is quiet: no request of a channel of this thread is still to be answered, no thread has
// a message queued or anything else to do now (a timer that is not yet due does not count). True
// when it is; false when `maxMs` passed first, with *busy naming what was still going on.
// Under the fake clock, while only answers on their way are left (a delayed answer), the wait moves
// the clock on to the next due timer, as time would pass. With `answersOut`, the wait ends as soon
// as nothing is left but answers on their way of which one is a HART request's: the DTM sent what
// it could and waits for the device.
bool WaitUntilQuiet(DWORD maxMs = kQuietLimitMs, std::string* busy = nullptr, bool answersOut = false);

}  // namespace vkr::frame

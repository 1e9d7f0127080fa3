// Waiting until the process is quiet.
#include "frame/Quiet.h"

#include <chrono>

#include "frame/FrameChannel.h"

namespace vkr::frame {

bool WaitUntilQuiet(DWORD maxMs, std::string* busy, bool answersOut) {
  // The limit runs on the real clock: a test's fake tick count must not make the wait endless.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  for (;;) {
    vkr::ui::PumpUntilIdle();
    std::string pending;
    const bool answering = FrameChannel::AnyRequestPending(&pending);
    const bool idle = vkr::platform::ProcessIsIdle();
    if (idle && (!answering || (answersOut && FrameChannel::AnyDataExchangePending()))) return true;
    // On the fake clock an answer due later comes only when the clock moves: to the next timer.
    DWORD next = 0;
    if (idle && vkr::platform::IsFakeTickCount() && vkr::platform::TicksUntilNextTimer(&next) && next <= maxMs) {
      vkr::platform::AdvanceTickCount(next);
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      if (busy) *busy = answering ? pending : "the DTM's threads, which were still at work";
      return false;
    }
    // Whatever comes next wakes the wait: input for this thread, or another thread's turn.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

}  // namespace vkr::frame

// A library whose thread outlives the signal it gives: the thread sets the event, then still runs
// code of this library for a while before it returns.
#include "platform/platform.h"

namespace {

DWORD SignalThenLinger(LPVOID parameter) {
  SetEvent(static_cast<HANDLE>(parameter));
  Sleep(200);
  return 7;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HANDLE StartLingeringThread(HANDLE event) {
  return CreateThread(nullptr, 0, SignalThenLinger, event, 0, nullptr);
}

// Waiting for an event while the calling thread keeps serving its messages.
//
// Every blocking wait of the DTM and the connection goes through here, so that window messages,
// timers and the calls other apartments make into this one keep running while it waits (and may
// re-enter the caller's objects).
#pragma once

#include "platform/platform.h"

// Waits until `event` is signalled or `timeout` milliseconds (INFINITE: no limit) have passed in
// total, dispatching the thread's messages meanwhile. TRUE when the event was signalled, FALSE on
// time-out, on a failed wait (a closed handle) and when a WM_QUIT is taken from the queue: the
// quit is posted again for the thread's own loop and the wait ends. The event is neither reset
// nor closed.
BOOL WaitWithMessageLoop(HANDLE event, DWORD timeout);

// Waiting for an event while dispatching the thread's messages.
#include "xml/WaitWithMessageLoop.h"

BOOL WaitWithMessageLoop(HANDLE event, DWORD timeout) {
  const DWORD start = GetTickCount();
  DWORD wait = timeout;
  for (;;) {
    // Any queued input counts, also input the thread has seen already: a wait that ended right
    // after its own message leaves the rest queued, and the next wait must serve it.
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &event, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return TRUE;
    if (result != WAIT_OBJECT_0 + 1) return FALSE;

    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The quit belongs to the thread's own message loop: leave it there and stop waiting,
        // or the thread would never end.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? TRUE : FALSE;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return TRUE;
    }

    if (timeout != INFINITE) {
      // Each new wait gets only what is left, so the whole wait never exceeds the time-out.
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeout) return FALSE;
      wait = timeout - elapsed;
    }
  }
}

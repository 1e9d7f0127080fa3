// The calling thread's last Win32 error.
#pragma once

#include "platform/win/types.h"

DWORD GetLastError();
void SetLastError(DWORD error);

// The calling thread's last Win32 error.
#pragma once

#include "platform/win/types.h"

VKR_API DWORD GetLastError();
VKR_API void SetLastError(DWORD error);

// Task memory and the one allocation front of the platform.
//
// Every allocation the platform makes for BSTRs, SAFEARRAYs and task memory goes through
// vkr::platform::Allocate, so a test can make the N-th allocation fail and check that the caller
// reports E_OUTOFMEMORY and leaks nothing.
#pragma once

#include "platform/win/types.h"

VKR_API LPVOID CoTaskMemAlloc(SIZE_T size);
VKR_API LPVOID CoTaskMemRealloc(LPVOID p, SIZE_T size);
VKR_API void CoTaskMemFree(LPVOID p);

namespace vkr::platform {
// malloc/realloc/free behind the fault hook. Allocate(0) returns a valid, unique block.
VKR_API void* Allocate(std::size_t size);
VKR_API void* Reallocate(void* p, std::size_t size);
VKR_API void Free(void* p);

// Test hook: the countdown-th allocation from now on fails (1 = the next one), and so does every
// one after it while `sticky` is set. 0 switches the fault off. Returns the allocations counted
// since the hook was armed, so a sweep knows when a scenario no longer reached the fault.
VKR_API void SetAllocationFault(unsigned countdown, bool sticky = false);
VKR_API unsigned AllocationsSinceFaultArmed();
}  // namespace vkr::platform

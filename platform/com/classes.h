// Apartment bookkeeping and object creation: CoInitialize, CoCreateInstance, class registration.
//
// A class is found first among the class objects registered in this process (CoRegisterClassObject:
// the platform's own classes and anything a test or host registers), then through the registry's
// HKCR\CLSID\{clsid}\InprocServer32, whose module is loaded and asked through DllGetClassObject.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/unknown.h"

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;

// S_OK for the first call on a thread, S_FALSE for each further one; RPC_E_CHANGED_MODE when the
// thread already is in the other concurrency model. Every successful call needs a CoUninitialize.
VKR_API HRESULT CoInitialize(LPVOID reserved);
VKR_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
VKR_API void CoUninitialize();

VKR_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid, LPVOID* ppv);
VKR_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsContext, LPVOID serverInfo, REFIID riid, LPVOID* ppv);
// Registers a class object for this process; the cookie revokes it.
VKR_API HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* classObject, DWORD clsContext, DWORD flags,
                                      LPDWORD cookie);
VKR_API HRESULT CoRevokeClassObject(DWORD cookie);

// ProgID look-ups: HKCR\<progid>\CLSID and HKCR\CLSID\{clsid}\ProgID.
VKR_API HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
VKR_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

// Asks every module loaded through the registry whether it can unload, and unloads those that can.
VKR_API void CoFreeUnusedLibraries();

namespace vkr::platform {
// Whether the calling thread has called CoInitialize(Ex) without the matching CoUninitialize.
VKR_API bool IsComInitialized();

// The registry step of the class look-up: the module path of HKCR\CLSID\{clsid}\InprocServer32,
// or false when there is none. Supplied by the registry stand-in.
VKR_API bool FindInprocServer(REFCLSID clsid, std::u16string* modulePath);
// HKCR\<progid>\CLSID and its reverse; supplied by the registry stand-in.
VKR_API bool FindProgIdClass(std::u16string_view progId, CLSID* clsid);
VKR_API bool FindClassProgId(REFCLSID clsid, std::u16string* progId);
}  // namespace vkr::platform

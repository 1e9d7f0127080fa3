// HRESULT, its helpers and the codes the system uses, with their Windows values.
//
// Persisted data, documents and logs carry these numbers, so every value is the Windows one.
#pragma once

#include "platform/win/types.h"

using HRESULT = LONG;
using SCODE = LONG;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool IS_ERROR(HRESULT hr) { return static_cast<ULONG>(hr) >> 31 == 1; }
constexpr WORD HRESULT_CODE(HRESULT hr) { return static_cast<WORD>(hr & 0xFFFF); }
constexpr WORD HRESULT_FACILITY(HRESULT hr) { return static_cast<WORD>((hr >> 16) & 0x1FFF); }
constexpr WORD SCODE_CODE(SCODE sc) { return static_cast<WORD>(sc & 0xFFFF); }

constexpr HRESULT MAKE_HRESULT(ULONG severity, ULONG facility, ULONG code) {
  return static_cast<HRESULT>((severity << 31) | (facility << 16) | code);
}

constexpr ULONG FACILITY_NULL = 0;
constexpr ULONG FACILITY_RPC = 1;
constexpr ULONG FACILITY_DISPATCH = 2;
constexpr ULONG FACILITY_STORAGE = 3;
constexpr ULONG FACILITY_ITF = 4;
constexpr ULONG FACILITY_WIN32 = 7;
constexpr ULONG FACILITY_WINDOWS = 8;
constexpr ULONG FACILITY_INTERNET = 12;

// A Win32 error code as an HRESULT: 0 stays S_OK, values that already are HRESULTs pass unchanged.
constexpr HRESULT HRESULT_FROM_WIN32(ULONG x) {
  return static_cast<HRESULT>(x) <= 0
             ? static_cast<HRESULT>(x)
             : static_cast<HRESULT>((x & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

namespace vkr::detail {
constexpr HRESULT hr(ULONG v) { return static_cast<HRESULT>(v); }
}  // namespace vkr::detail

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT NOERROR = 0;

constexpr HRESULT E_UNEXPECTED = vkr::detail::hr(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = vkr::detail::hr(0x80004001);
constexpr HRESULT E_NOINTERFACE = vkr::detail::hr(0x80004002);
constexpr HRESULT E_POINTER = vkr::detail::hr(0x80004003);
constexpr HRESULT E_HANDLE = vkr::detail::hr(0x80070006);
constexpr HRESULT E_ABORT = vkr::detail::hr(0x80004004);
constexpr HRESULT E_FAIL = vkr::detail::hr(0x80004005);
constexpr HRESULT E_ACCESSDENIED = vkr::detail::hr(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = vkr::detail::hr(0x8007000E);
constexpr HRESULT E_INVALIDARG = vkr::detail::hr(0x80070057);
constexpr HRESULT E_PENDING = vkr::detail::hr(0x8000000A);

constexpr HRESULT CLASS_E_NOAGGREGATION = vkr::detail::hr(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = vkr::detail::hr(0x80040111);
constexpr HRESULT CLASS_E_NOTLICENSED = vkr::detail::hr(0x80040112);
constexpr HRESULT REGDB_E_READREGDB = vkr::detail::hr(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = vkr::detail::hr(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = vkr::detail::hr(0x80040152);
constexpr HRESULT REGDB_E_CLASSNOTREG = vkr::detail::hr(0x80040154);
constexpr HRESULT REGDB_E_IIDNOTREG = vkr::detail::hr(0x80040155);
constexpr HRESULT OLE_E_BLANK = vkr::detail::hr(0x80040007);
constexpr HRESULT CO_E_NOTINITIALIZED = vkr::detail::hr(0x800401F0);
constexpr HRESULT CO_E_ALREADYINITIALIZED = vkr::detail::hr(0x800401F1);
constexpr HRESULT CO_E_CLASSSTRING = vkr::detail::hr(0x800401F3);
constexpr HRESULT CO_E_IIDSTRING = vkr::detail::hr(0x800401F4);
constexpr HRESULT CO_E_DLLNOTFOUND = vkr::detail::hr(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = vkr::detail::hr(0x800401F9);
constexpr HRESULT CO_E_OBJNOTCONNECTED = vkr::detail::hr(0x800401FD);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = vkr::detail::hr(0x80080005);
constexpr HRESULT RPC_E_CHANGED_MODE = vkr::detail::hr(0x80010106);
constexpr HRESULT RPC_E_DISCONNECTED = vkr::detail::hr(0x80010108);
constexpr HRESULT RPC_E_SERVERFAULT = vkr::detail::hr(0x80010105);
constexpr HRESULT RPC_E_WRONG_THREAD = vkr::detail::hr(0x8001010E);
constexpr HRESULT RPC_E_CALL_REJECTED = vkr::detail::hr(0x80010001);
constexpr HRESULT RPC_E_CANTCALLOUT_ININPUTSYNCCALL = vkr::detail::hr(0x8001010D);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = vkr::detail::hr(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = vkr::detail::hr(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = vkr::detail::hr(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = vkr::detail::hr(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = vkr::detail::hr(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = vkr::detail::hr(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = vkr::detail::hr(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = vkr::detail::hr(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = vkr::detail::hr(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = vkr::detail::hr(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = vkr::detail::hr(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = vkr::detail::hr(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = vkr::detail::hr(0x8002000F);
constexpr HRESULT DISP_E_DIVBYZERO = vkr::detail::hr(0x80020012);
constexpr HRESULT TYPE_E_TYPEMISMATCH = vkr::detail::hr(0x80028CA0);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = vkr::detail::hr(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = vkr::detail::hr(0x8002801D);

constexpr HRESULT STG_E_INVALIDFUNCTION = vkr::detail::hr(0x80030001);
constexpr HRESULT STG_E_FILENOTFOUND = vkr::detail::hr(0x80030002);
constexpr HRESULT STG_E_ACCESSDENIED = vkr::detail::hr(0x80030005);
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = vkr::detail::hr(0x80030008);
constexpr HRESULT STG_E_INVALIDPOINTER = vkr::detail::hr(0x80030009);
constexpr HRESULT STG_E_WRITEFAULT = vkr::detail::hr(0x8003001D);
constexpr HRESULT STG_E_READFAULT = vkr::detail::hr(0x8003001E);
constexpr HRESULT STG_E_SEEKERROR = vkr::detail::hr(0x80030019);
constexpr HRESULT STG_E_MEDIUMFULL = vkr::detail::hr(0x80030070);
constexpr HRESULT STG_E_INVALIDPARAMETER = vkr::detail::hr(0x80030057);
constexpr HRESULT STG_E_INVALIDFLAG = vkr::detail::hr(0x800300FF);
constexpr HRESULT STG_E_CANTSAVE = vkr::detail::hr(0x80030103);
constexpr HRESULT STG_S_CONVERTED = vkr::detail::hr(0x00030200);

constexpr HRESULT CONNECT_E_NOCONNECTION = vkr::detail::hr(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = vkr::detail::hr(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = vkr::detail::hr(0x80040202);
constexpr HRESULT SELFREG_E_TYPELIB = vkr::detail::hr(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = vkr::detail::hr(0x80040201);
constexpr HRESULT INET_E_OBJECT_NOT_FOUND = vkr::detail::hr(0x800C0006);

// Win32 error codes (GetLastError, registry and file calls).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_INVALID_FUNCTION = 1;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_NO_MORE_FILES = 18;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_GEN_FAILURE = 31;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_LOCK_VIOLATION = 33;
constexpr LONG ERROR_HANDLE_EOF = 38;
constexpr LONG ERROR_HANDLE_DISK_FULL = 39;
constexpr LONG ERROR_NOT_SUPPORTED = 50;
constexpr LONG ERROR_BAD_NETPATH = 53;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_NEGATIVE_SEEK = 131;
constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
constexpr LONG ERROR_NOT_LOCKED = 158;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_ENVVAR_NOT_FOUND = 203;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_DIRECTORY = 267;
constexpr LONG ERROR_INVALID_FLAGS = 1004;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_IO_DEVICE = 1117;
constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr LONG ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr LONG ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr LONG ERROR_INVALID_THREAD_ID = 1444;
constexpr LONG ERROR_TIMEOUT = 1460;
constexpr LONG ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr LONG ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr LONG ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr LONG RPC_S_OK = 0;
constexpr LONG RPC_S_UUID_LOCAL_ONLY = 1824;
constexpr LONG RPC_S_UUID_NO_ADDRESS = 1739;

// ---- Names and reasons, for messages a person reads ----

#include <string>

namespace vkr {
// The symbolic name of a result ("E_FAIL", "CO_E_DLLNOTFOUND"; a Win32 error carried as a result
// by its Win32 name, "ERROR_BADDB"), or null when it has none here.
VKR_API const char* ResultName(HRESULT hr);
// What a failure means, in a few words ("the class's module could not be loaded"), or null.
VKR_API const char* ResultReason(HRESULT hr);
// "0x00000001 (S_FALSE)", "0x800401F8 (CO_E_DLLNOTFOUND): the class's module could not be
// loaded"; a result without a name is its number alone ("0x12345678").
VKR_API std::string DescribeResult(HRESULT hr);

// The same for Win32 error codes: "ERROR_BADDB", "the registry file is unusable".
VKR_API const char* Win32ErrorName(LONG code);
VKR_API const char* Win32ErrorReason(LONG code);
// "ERROR_BADDB (1009): the registry file is unusable"; "error 4711" without a name.
VKR_API std::string DescribeWin32Error(LONG code);
}  // namespace vkr

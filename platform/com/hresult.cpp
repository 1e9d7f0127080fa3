// The names and reasons of the results and Win32 errors this system meets.
#include "platform/com/hresult.h"

#include <cstdio>

#include "platform/win/native.h"
#include "platform/xml/msxml.h"

namespace vkr {
namespace {

struct Named {
  LONG code;
  const char* name;
  const char* reason;
};

constexpr Named kResults[] = {
    {S_OK, "S_OK", nullptr},
    {S_FALSE, "S_FALSE", nullptr},
    {E_UNEXPECTED, "E_UNEXPECTED", "the call came when it was not expected (wrong state or missing member)"},
    {E_NOTIMPL, "E_NOTIMPL", "not implemented"},
    {E_NOINTERFACE, "E_NOINTERFACE", "the object does not offer the interface"},
    {E_POINTER, "E_POINTER", "a required pointer is null"},
    {E_HANDLE, "E_HANDLE", "the handle is not valid"},
    {E_ABORT, "E_ABORT", "the operation was cancelled"},
    {E_FAIL, "E_FAIL", "unspecified failure"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "access denied"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "an argument is not valid"},
    {E_PENDING, "E_PENDING", "the data is not available yet"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "the class cannot be aggregated"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE", "the module does not provide the class"},
    {CLASS_E_NOTLICENSED, "CLASS_E_NOTLICENSED", "the class is not licensed"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB", "the registry could not be read"},
    {REGDB_E_WRITEREGDB, "REGDB_E_WRITEREGDB", "the registry could not be written"},
    {REGDB_E_KEYMISSING, "REGDB_E_KEYMISSING", "a registry key is missing"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "the class is not registered"},
    {REGDB_E_IIDNOTREG, "REGDB_E_IIDNOTREG", "the interface is not registered"},
    {OLE_E_BLANK, "OLE_E_BLANK", "the object is blank (not initialised)"},
    {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED", "CoInitialize has not been called on this thread"},
    {CO_E_ALREADYINITIALIZED, "CO_E_ALREADYINITIALIZED", "already initialised"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "no class is registered under that name"},
    {CO_E_IIDSTRING, "CO_E_IIDSTRING", "the interface id is malformed"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND", "the class's module could not be loaded"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL", "the class's module has no class object entry point"},
    {CO_E_OBJNOTCONNECTED, "CO_E_OBJNOTCONNECTED", "the object is not connected"},
    {CO_E_SERVER_EXEC_FAILURE, "CO_E_SERVER_EXEC_FAILURE", "the server could not be started"},
    {RPC_E_CHANGED_MODE, "RPC_E_CHANGED_MODE", "the thread is already in another concurrency model"},
    {RPC_E_DISCONNECTED, "RPC_E_DISCONNECTED", "the object's apartment is gone"},
    {RPC_E_SERVERFAULT, "RPC_E_SERVERFAULT", "the called object failed"},
    {RPC_E_WRONG_THREAD, "RPC_E_WRONG_THREAD", "the interface was called from the wrong thread"},
    {RPC_E_CALL_REJECTED, "RPC_E_CALL_REJECTED", "the callee rejected the call"},
    {RPC_E_CANTCALLOUT_ININPUTSYNCCALL, "RPC_E_CANTCALLOUT_ININPUTSYNCCALL",
     "no outgoing call is possible inside an input-synchronous call"},
    {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE", "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "member not found"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND", "parameter not found"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "type mismatch"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "unknown name"},
    {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS", "named arguments are not supported"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "the variant type is not valid"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION", "the call raised an exception"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "the value is out of range"},
    {DISP_E_BADINDEX, "DISP_E_BADINDEX", "the index is out of range"},
    {DISP_E_ARRAYISLOCKED, "DISP_E_ARRAYISLOCKED", "the array is locked"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "wrong number of arguments"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "a required argument is missing"},
    {DISP_E_DIVBYZERO, "DISP_E_DIVBYZERO", "division by zero"},
    {TYPE_E_TYPEMISMATCH, "TYPE_E_TYPEMISMATCH", "type mismatch"},
    {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND", "element not found"},
    {TYPE_E_LIBNOTREGISTERED, "TYPE_E_LIBNOTREGISTERED", "the type library is not registered"},
    {STG_E_INVALIDFUNCTION, "STG_E_INVALIDFUNCTION", "invalid function"},
    {STG_E_FILENOTFOUND, "STG_E_FILENOTFOUND", "file not found"},
    {STG_E_ACCESSDENIED, "STG_E_ACCESSDENIED", "access denied"},
    {STG_E_INSUFFICIENTMEMORY, "STG_E_INSUFFICIENTMEMORY", "out of memory"},
    {STG_E_INVALIDPOINTER, "STG_E_INVALIDPOINTER", "invalid pointer"},
    {STG_E_WRITEFAULT, "STG_E_WRITEFAULT", "the data could not be written"},
    {STG_E_READFAULT, "STG_E_READFAULT", "the data could not be read"},
    {STG_E_SEEKERROR, "STG_E_SEEKERROR", "seek error"},
    {STG_E_MEDIUMFULL, "STG_E_MEDIUMFULL", "the medium is full"},
    {STG_E_INVALIDPARAMETER, "STG_E_INVALIDPARAMETER", "invalid parameter"},
    {STG_E_INVALIDFLAG, "STG_E_INVALIDFLAG", "invalid flag"},
    {STG_E_CANTSAVE, "STG_E_CANTSAVE", "the data cannot be saved"},
    {STG_S_CONVERTED, "STG_S_CONVERTED", nullptr},
    // 0x80040200 and 0x80040201 are also SELFREG_E_TYPELIB and SELFREG_E_CLASS.
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION", "no such connection"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT", "no more connections are possible"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT", "the sink cannot be connected"},
    {INET_E_OBJECT_NOT_FOUND, "INET_E_OBJECT_NOT_FOUND", "the object (a schema file) was not found"},
    {XML_E_NOT_WELL_FORMED, "XML_E_NOT_WELL_FORMED", "the document is not well-formed"},
    {XML_E_TOO_DEEP, "XML_E_TOO_DEEP", "the document nests too deeply"},
    {XML_E_DTD_PROHIBITED, "XML_E_DTD_PROHIBITED", "document type declarations are not allowed"},
    {XML_E_INVALID, "XML_E_INVALID", "the document does not match its schema"},
    {XML_E_BAD_SCHEMA, "XML_E_BAD_SCHEMA", "the schema is not valid"},
    {XML_E_BAD_VALUE, "XML_E_BAD_VALUE", "a value does not match its data type"},
};

constexpr Named kWin32Errors[] = {
    {ERROR_SUCCESS, "ERROR_SUCCESS", nullptr},
    {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION", "invalid function"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "not found"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND", "the path is not found"},
    {ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES", "too many open files"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "access denied"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "the handle is not valid"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "not enough memory"},
    {ERROR_BAD_FORMAT, "ERROR_BAD_FORMAT", "the file has a wrong format"},
    {ERROR_INVALID_DATA, "ERROR_INVALID_DATA", "the data is not valid"},
    {ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY", "out of memory"},
    {ERROR_NO_MORE_FILES, "ERROR_NO_MORE_FILES", "no more files"},
    {ERROR_WRITE_PROTECT, "ERROR_WRITE_PROTECT", "the medium is write-protected"},
    {ERROR_WRITE_FAULT, "ERROR_WRITE_FAULT", "the device cannot be written"},
    {ERROR_READ_FAULT, "ERROR_READ_FAULT", "the device cannot be read"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE", "the device does not work"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION", "the file is in use"},
    {ERROR_LOCK_VIOLATION, "ERROR_LOCK_VIOLATION", "another handle holds a lock on the range"},
    {ERROR_HANDLE_EOF, "ERROR_HANDLE_EOF", "end of file"},
    {ERROR_HANDLE_DISK_FULL, "ERROR_HANDLE_DISK_FULL", "the disk is full"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED", "not supported"},
    {ERROR_BAD_NETPATH, "ERROR_BAD_NETPATH", "network paths are not supported"},
    {ERROR_FILE_EXISTS, "ERROR_FILE_EXISTS", "the file exists"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "a name or an argument is not valid"},
    {ERROR_DISK_FULL, "ERROR_DISK_FULL", "the disk is full"},
    {ERROR_CALL_NOT_IMPLEMENTED, "ERROR_CALL_NOT_IMPLEMENTED", "not implemented"},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER", "the buffer is too small"},
    {ERROR_INVALID_NAME, "ERROR_INVALID_NAME", "the name is not valid"},
    {ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND", "the module cannot be found or loaded"},
    {ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND", "the module lacks the entry point"},
    {ERROR_NEGATIVE_SEEK, "ERROR_NEGATIVE_SEEK", "seek before the start"},
    {ERROR_DIR_NOT_EMPTY, "ERROR_DIR_NOT_EMPTY", "the directory is not empty"},
    {ERROR_NOT_LOCKED, "ERROR_NOT_LOCKED", "the range is not locked"},
    {ERROR_BAD_PATHNAME, "ERROR_BAD_PATHNAME", "the path is not valid"},
    {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS", "it exists already"},
    {ERROR_ENVVAR_NOT_FOUND, "ERROR_ENVVAR_NOT_FOUND", "the environment variable is not set"},
    {ERROR_FILENAME_EXCED_RANGE, "ERROR_FILENAME_EXCED_RANGE", "the name is too long"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA", "more data is available"},
    {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS", "no more items"},
    {ERROR_DIRECTORY, "ERROR_DIRECTORY", "not a directory"},
    {ERROR_INVALID_FLAGS, "ERROR_INVALID_FLAGS", "invalid flags"},
    {ERROR_BADDB, "ERROR_BADDB", "the registry file is unusable"},
    {ERROR_BADKEY, "ERROR_BADKEY", "the registry key is not valid"},
    {ERROR_CANTOPEN, "ERROR_CANTOPEN", "the registry file cannot be opened"},
    {ERROR_CANTREAD, "ERROR_CANTREAD", "the registry file cannot be read"},
    {ERROR_CANTWRITE, "ERROR_CANTWRITE", "the registry file cannot be written"},
    {ERROR_REGISTRY_IO_FAILED, "ERROR_REGISTRY_IO_FAILED", "reading or writing the registry file failed"},
    {ERROR_KEY_DELETED, "ERROR_KEY_DELETED", "the key has been deleted"},
    {ERROR_IO_DEVICE, "ERROR_IO_DEVICE", "input/output error"},
    {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION", "the text is not valid Unicode"},
    {ERROR_CLASS_ALREADY_EXISTS, "ERROR_CLASS_ALREADY_EXISTS", "the window class exists already"},
    {ERROR_INVALID_WINDOW_HANDLE, "ERROR_INVALID_WINDOW_HANDLE", "the window handle is not valid"},
    {ERROR_INVALID_THREAD_ID, "ERROR_INVALID_THREAD_ID", "the thread is not known"},
    {ERROR_TIMEOUT, "ERROR_TIMEOUT", "timed out"},
    {ERROR_CANT_ACCESS_FILE, "ERROR_CANT_ACCESS_FILE", "a link on the way leads out of the drive root"},
    {ERROR_CANT_RESOLVE_FILENAME, "ERROR_CANT_RESOLVE_FILENAME", "the links on the way go round in a circle"},
    {ERROR_RESOURCE_DATA_NOT_FOUND, "ERROR_RESOURCE_DATA_NOT_FOUND", "the module has no resources"},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, "ERROR_RESOURCE_TYPE_NOT_FOUND", "the module has no resource of that type"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, "ERROR_RESOURCE_NAME_NOT_FOUND", "the module has no resource of that name"},
    {RPC_S_UUID_LOCAL_ONLY, "RPC_S_UUID_LOCAL_ONLY", nullptr},
    {RPC_S_UUID_NO_ADDRESS, "RPC_S_UUID_NO_ADDRESS", "no network address for a UUID"},
};

template <std::size_t N>
const Named* Find(const Named (&table)[N], LONG code) {
  for (const Named& n : table)
    if (n.code == code) return &n;
  return nullptr;
}

// The Win32 error a result carries, or -1.
LONG Win32Of(HRESULT hr) {
  return FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<LONG>(HRESULT_CODE(hr)) : -1;
}

}  // namespace

const char* ResultName(HRESULT hr) {
  if (const Named* n = Find(kResults, hr)) return n->name;
  const LONG win32 = Win32Of(hr);
  return win32 >= 0 ? Win32ErrorName(win32) : nullptr;
}

const char* ResultReason(HRESULT hr) {
  if (const Named* n = Find(kResults, hr)) return n->reason;
  const LONG win32 = Win32Of(hr);
  return win32 >= 0 ? Win32ErrorReason(win32) : nullptr;
}

std::string DescribeResult(HRESULT hr) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(hr));
  std::string text = number;
  const char* name = ResultName(hr);
  const LONG win32 = Win32Of(hr);
  if (name) {
    text += std::string(" (") + name + ")";
  } else if (win32 >= 0) {
    text += " (Win32 error " + std::to_string(win32) + ")";
  }
  if (const char* reason = FAILED(hr) ? ResultReason(hr) : nullptr) text += std::string(": ") + reason;
  return text;
}

const char* Win32ErrorName(LONG code) {
  const Named* n = Find(kWin32Errors, code);
  return n ? n->name : nullptr;
}

const char* Win32ErrorReason(LONG code) {
  const Named* n = Find(kWin32Errors, code);
  return n ? n->reason : nullptr;
}

std::string DescribeWin32Error(LONG code) {
  const char* name = Win32ErrorName(code);
  if (!name) return "error " + std::to_string(code);
  std::string text = std::string(name) + " (" + std::to_string(code) + ")";
  if (const char* reason = Win32ErrorReason(code)) text += std::string(": ") + reason;
  return text;
}

}  // namespace vkr

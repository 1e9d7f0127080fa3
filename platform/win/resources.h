// Resources: the data a module carries (string tables, HTML/XML texts, registry scripts, icons,
// bitmaps, dialogs), found by type and numeric id as FindResource and LoadString find them.
//
// A module registers its resources when it is loaded: the CMake function vkr_add_resources
// (platform/cmake/VkrResources.cmake) compiles the files a manifest lists into the module,
// together with a static object that calls RegisterModuleResources on load and
// UnregisterModuleResources on unload. Data is kept as the files hold it: RT_BITMAP is the whole
// .bmp file and RT_ICON the whole .ico file (their readers skip the file headers).
//
// String tables are text, one string a line, compiled in as they are and read at registration:
//
//   # comment (also ';'); blank lines are ignored
//   1011 "UnlockDataSet failed. Please clean up database."
//   2002 "Line one\r\nLine two"
//
// The id is decimal (0 to 65535); escapes are \\ \" \r \n \t; the text is UTF-8.
#pragma once

#include <cstddef>

#include "platform/win/types.h"

using HRSRC = struct HRSRC__*;

inline LPSTR MAKEINTRESOURCEA(WORD id) { return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(id)); }
inline LPWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(id)); }
inline bool IS_INTRESOURCE(const void* p) { return (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0; }

// Resource types by number. The "A" forms; use MAKEINTRESOURCEW(n) with the "W" calls.
constexpr WORD RT_CURSOR_ID = 1;
constexpr WORD RT_BITMAP_ID = 2;
constexpr WORD RT_ICON_ID = 3;
constexpr WORD RT_MENU_ID = 4;
constexpr WORD RT_DIALOG_ID = 5;
constexpr WORD RT_STRING_ID = 6;
constexpr WORD RT_RCDATA_ID = 10;
constexpr WORD RT_GROUP_ICON_ID = 14;
constexpr WORD RT_HTML_ID = 23;
inline const LPSTR RT_CURSOR = MAKEINTRESOURCEA(RT_CURSOR_ID);
inline const LPSTR RT_BITMAP = MAKEINTRESOURCEA(RT_BITMAP_ID);
inline const LPSTR RT_ICON = MAKEINTRESOURCEA(RT_ICON_ID);
inline const LPSTR RT_MENU = MAKEINTRESOURCEA(RT_MENU_ID);
inline const LPSTR RT_DIALOG = MAKEINTRESOURCEA(RT_DIALOG_ID);
inline const LPSTR RT_STRING = MAKEINTRESOURCEA(RT_STRING_ID);
inline const LPSTR RT_RCDATA = MAKEINTRESOURCEA(RT_RCDATA_ID);
inline const LPSTR RT_GROUP_ICON = MAKEINTRESOURCEA(RT_GROUP_ICON_ID);
inline const LPSTR RT_HTML = MAKEINTRESOURCEA(RT_HTML_ID);

// Finds a resource by id (MAKEINTRESOURCE(id) or "#id") and type (a number as above, or a name
// such as "REGISTRY", compared without regard to case). module NULL is the main program.
// NULL with ERROR_RESOURCE_DATA_NOT_FOUND (the module has no resources),
// ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND.
VKR_API HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
VKR_API HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// The data stays valid while the module is loaded; nothing needs freeing.
VKR_API HGLOBAL LoadResource(HMODULE module, HRSRC resource);
VKR_API LPVOID LockResource(HGLOBAL data);
VKR_API DWORD SizeofResource(HMODULE module, HRSRC resource);

// Copies string `id` of the module's string table, cut to bufferMax - 1 characters (an "A" text
// before a whole character) and zero-terminated; returns the characters copied, 0 with
// ERROR_RESOURCE_NAME_NOT_FOUND when there is no such string. LoadStringW with bufferMax 0 stores
// a read-only pointer to the string itself in *(LPCWSTR*)buffer and returns its length.
VKR_API int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
VKR_API int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

namespace vkr::platform {

struct ResourceItem {
  WORD typeId;           // the type's number, or 0 when typeName names it
  const char* typeName;  // e.g. "REGISTRY"; null for numbered types
  WORD id;
  const BYTE* data;
  DWORD size;
};

struct ResourceTable {
  const ResourceItem* items;
  std::size_t count;
  const char* stringTable;  // string table text as above; may be null
  std::size_t stringTableSize;
};

// Adds the table to the resources of `module` (data is not copied: it must outlive the
// registration). Fails, reporting on stderr, when a string table does not parse or an item or
// string id is already registered; nothing is added then.
VKR_API bool RegisterResources(HMODULE module, const ResourceTable& table);
// The same for the module that holds `addressInModule` (the generated code passes one of its own
// objects).
VKR_API bool RegisterModuleResources(const void* addressInModule, const ResourceTable& table);
VKR_API void UnregisterResources(HMODULE module);
VKR_API void UnregisterModuleResources(const void* addressInModule);

}  // namespace vkr::platform

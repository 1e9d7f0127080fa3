// The DTM module: the module object, its object maps and entry points.
//
// The module's classes are listed in two maps, as the class library lists them: fourteen linked
// entries, which the classes push onto one list while the module's static objects are built (so
// the list runs from the last class of the table back to the first), merged behind the module's
// static map when the module is attached; and the automatic map of the ten other classes. The
// module registers, creates and unregisters the classes of both, the merged map first.
#pragma once

#include "platform/platform.h"

// The module object: one per process.
extern vkr::ComModule g_module;

// Counts a live object of the module (objects call these as they are made and destroyed).
void ModuleLock();
void ModuleUnlock();

// The module's entry routine; the module calls it itself when it is loaded (DLL_PROCESS_ATTACH)
// and unloaded (DLL_PROCESS_DETACH). Always TRUE.
BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// An object-map entry linked into the module's list.
struct LinkedObjectMapEntry {
  vkr::ObjectMapEntry entry;
  LinkedObjectMapEntry* next;
};
// The head of the linked list (null before the first class pushes its entry).
extern LinkedObjectMapEntry* g_linkedObjectMapHead;

// The merged map: the static entries, then the linked entries in list order, then an all-zero
// entry; null when it cannot be allocated. Built when the module is attached (the caller owns it;
// new[]).
vkr::ObjectMapEntry* BuildObjectMap(const vkr::ObjectMapEntry* staticMap);

// Runs the registry script with the resource id through the module's registrar.
HRESULT UpdateRegistryFromScript(UINT id, BOOL bRegister);

STDAPI DllCanUnloadNow();
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();

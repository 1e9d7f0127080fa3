// The module support an in-process COM server is built on: object-map entries, the module object
// with its lock count and cached class factories, the standard class factory, registration of
// component categories and of the type library.
//
// A server describes each creatable class by an ObjectMapEntry and hands its entries to a
// ComModule, in two maps: the main map (an array ended by an all-zero entry) and an optional
// second map (a null-ended array of entry pointers), which every operation visits after the main
// one. The module then serves its exports:
//
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, LPVOID* p) { return g_module.GetClassObject(c, i, p); }
//
// The module counts every live object (ComObject calls T::ModuleLock/ModuleUnlock), every
// LockServer(TRUE) and every reference a client holds on a cached class factory; the server may
// unload when the count is 0. All operations are safe from any thread.
#pragma once

#include <atomic>
#include <string>

#include "platform/com/unknown.h"
#include "platform/win/threads.h"

namespace vkr {

using CATID = GUID;

// One entry of a class's category map; the map ends with {0, nullptr}.
constexpr int kCategoryImplemented = 1;
constexpr int kCategoryRequired = 2;
struct CategoryMapEntry {
  int kind;
  const CATID* catid;
};

// Creates an instance of the class (aggregated when outer is given) and hands out riid.
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
// Creates the class object (factory) for an instance creator.
using FactoryCreator = HRESULT (*)(InstanceCreator create, REFIID riid, void** ppv);

struct ObjectMapEntry {
  const CLSID* pclsid;
  HRESULT (*UpdateRegistry)(BOOL bRegister);
  FactoryCreator pfnGetClassObject;
  InstanceCreator pfnCreateInstance;
  IUnknown* pCF;        // the cached class factory; null until first asked for
  DWORD dwRegister;     // the cookie of a class-object registration
  LPCWSTR (*pfnGetObjectDescription)();
  const CategoryMapEntry* (*pfnGetCategoryMap)();
  void (*pfnObjectMain)(bool bStarting);
};

class VKR_API ComModule {
 public:
  ComModule();
  ~ComModule();
  ComModule(const ComModule&) = delete;
  ComModule& operator=(const ComModule&) = delete;

  // Takes the maps (not copied; they must outlive the module), the module's instance handle and
  // the type library's id, and calls ObjectMain(true) of every entry. autoMap may be null.
  HRESULT Init(ObjectMapEntry* map, ObjectMapEntry* const* autoMap, HINSTANCE instance, const GUID* libid);
  // Releases the cached class factories and calls ObjectMain(false) of every entry.
  void Term();

  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const { return m_lockCount.load(); }
  HINSTANCE GetModuleInstance() const { return m_instance; }
  const GUID& GetTypeLibId() const { return m_libid; }
  ObjectMapEntry* GetObjectMap() const { return m_map; }

  // DllGetClassObject: the main map first; a miss, or a hit that produced neither an interface nor
  // an error, continues with the second map. The factory of an entry is created on first use,
  // under the module's lock with a second check inside it, and kept. CLASS_E_CLASSNOTAVAILABLE
  // when no map knows the class; E_POINTER for a null ppv; E_UNEXPECTED before Init.
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv);

  // DllRegisterServer / DllUnregisterServer: for every entry of the main map, then of the second
  // map, UpdateRegistry and the category map (registering: script first, then categories;
  // unregistering: categories first, then script); the first failure stops and is returned. The
  // type library follows the classes when regTypeLib is set. The whole run is one registry batch
  // (BeginRegistryBatch): the registry file is written once, at the end.
  HRESULT RegisterServer(BOOL regTypeLib);
  HRESULT UnregisterServer(BOOL unregTypeLib);

  // Runs registry script `id` (resource type "REGISTRY") of this module with %MODULE% standing
  // for the module's path.
  HRESULT UpdateRegistryFromResource(UINT id, BOOL bRegister);
  // The module's path (GetModuleFileName), as a registry script's %MODULE%.
  HRESULT GetModulePath(std::u16string* path) const;

  // The text the type library is registered with ("<name> 1.0 Type Library" and the like).
  void SetTypeLibDescription(LPCWSTR description, WORD major, WORD minor);

 private:
  HRESULT RegisterEntry(ObjectMapEntry* entry, BOOL bRegister);

  ObjectMapEntry* m_map = nullptr;
  ObjectMapEntry* const* m_autoMap = nullptr;
  HINSTANCE m_instance = nullptr;
  GUID m_libid{};
  std::u16string m_typeLibDescription;
  WORD m_typeLibMajor = 1;
  WORD m_typeLibMinor = 0;
  std::atomic<LONG> m_lockCount{0};
  CRITICAL_SECTION m_cs;
};

// The factory creator of every class: a class factory for the creator that counts on `module`
// while clients hold it (beyond the cache's own reference) and while it is locked.
VKR_API HRESULT CreateCachedClassFactory(ComModule* module, InstanceCreator create, REFIID riid, void** ppv);

// Writes (or removes) the class's categories: HKCR\CLSID\{clsid}\Implemented Categories\{catid}
// and Required Categories. Removing categories that are not there succeeds; the two parent keys
// go when they are empty. A null map does nothing.
VKR_API HRESULT RegisterClassCategories(REFCLSID clsid, const CategoryMapEntry* map, BOOL bRegister);

// The type library's registration: HKCR\TypeLib\{libid}\<major>.<minor> with the description,
// "0\win32" = the module's path, "FLAGS" = "0" and "HELPDIR" = the module's folder. Unregistering
// removes the version key, and the library key when no other version is left.
VKR_API HRESULT RegisterTypeLibraryKeys(const GUID& libid, WORD major, WORD minor, LPCWSTR description,
                                        LPCWSTR modulePath);
VKR_API HRESULT UnregisterTypeLibraryKeys(const GUID& libid, WORD major, WORD minor);

}  // namespace vkr

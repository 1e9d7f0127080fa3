// The DTM module: its object maps, its entry routine and its four exports.
//
// The classes of the user interfaces are registered here with the rest.
#include "module/VornExampleDtmModule.h"

#include <new>

#include "communication/CMyConnection.h"

#include "module/CDtmThread.h"
#include "module/CVornExampleDtm.h"
#include "include/DtmThreadInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/CommandPP.h"
#include "ui/device/DACTrimAdj.h"
#include "ui/device/DevicePP.h"
#include "ui/device/DiagPP.h"
#include "ui/device/EchoPP.h"
#include "ui/device/EchoTrace.h"
#include "ui/device/HartPP.h"
#include "ui/device/InfoPP.h"
#include "ui/device/OfflineOnlineParam.h"
#include "ui/device/OnlineParam.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/OutputLevelSelection.h"
#include "ui/device/ProcessPP.h"
#include "ui/device/SelfTestResults.h"
#include "ui/device/OfflineParam.h"
#include "ui/device/SetupPP.h"
#include "ui/device/StatusPP.h"
#include "ui/device/TrendView.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/RawCommandPP.h"
#include "ui/device/ValuesPP.h"

vkr::ComModule g_module;
LinkedObjectMapEntry* g_linkedObjectMapHead = nullptr;

namespace {
// The merged map, from attaching the module to detaching it. It goes with the module: a frame
// that unloads and loads the module again would otherwise lose one map each time.
vkr::ObjectMapEntry* g_mergedMap = nullptr;
}  // namespace

void ModuleLock() { g_module.Lock(); }
void ModuleUnlock() { g_module.Unlock(); }

HRESULT UpdateRegistryFromScript(UINT id, BOOL bRegister) { return g_module.UpdateRegistryFromResource(id, bRegister); }

namespace {

HRESULT CreateFactory(vkr::InstanceCreator create, REFIID riid, void** ppv) {
  return vkr::CreateCachedClassFactory(&g_module, create, riid, ppv);
}

HRESULT CreateDtm(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<CVornExampleDtm>(outer, riid, ppv);
}

// The connection counts on the module's lock like the module's other classes.
class CMyConnectionObject : public CMyConnection {
 public:
  static void ModuleLock() { ::ModuleLock(); }
  static void ModuleUnlock() { ::ModuleUnlock(); }
};

HRESULT CreateConnection(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<CMyConnectionObject>(outer, riid, ppv);
}

// A user-interface class of the module: its objects count on the module's lock.
template <class T>
class ModuleObject : public T {
 public:
  using T::T;
  static void ModuleLock() { ::ModuleLock(); }
  static void ModuleUnlock() { ::ModuleUnlock(); }
};

HRESULT CreateOnlineParameterization(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<ModuleObject<COnlineParameterization>>(outer, riid, ppv);
}

template <class TPage>
HRESULT CreatePage(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<ModuleObject<TPage>>(outer, riid, ppv);
}

template <UINT kScript>
HRESULT UpdateScript(BOOL bRegister) {
  return UpdateRegistryFromScript(kScript, bRegister);
}

LPCWSTR NoDescription() { return nullptr; }
const vkr::CategoryMapEntry* NoCategories() { return nullptr; }
void NoObjectMain(bool) {}

constexpr vkr::ObjectMapEntry Entry(const CLSID* clsid, HRESULT (*update)(BOOL), vkr::InstanceCreator create,
                                    const vkr::CategoryMapEntry* (*categories)() = NoCategories) {
  return vkr::ObjectMapEntry{clsid, update, CreateFactory, create, nullptr, 0, NoDescription, categories, NoObjectMain};
}

bool Push(LinkedObjectMapEntry* linked) {
  linked->next = g_linkedObjectMapHead;
  g_linkedObjectMapHead = linked;
  return true;
}

// The fourteen linked entries, pushed in the order of the class table as this file's static
// objects are built; the list therefore starts with the last of them.
#define LINKED_ENTRY(name, ...)                                          \
  LinkedObjectMapEntry g_##name##Entry{Entry(__VA_ARGS__), nullptr}; \
  const bool g_##name##Pushed = Push(&g_##name##Entry)

LINKED_ENTRY(AdvancedPP, &CLSID_AdvancedPP, UpdateScript<158>, CreatePage<vkr::dui::CAdvancedPP>);
LINKED_ENTRY(CommandPP, &CLSID_CommandPP, UpdateScript<111>, CreatePage<CCommandPP>);
LINKED_ENTRY(DevicePP, &CLSID_DevicePP, UpdateScript<115>, CreatePage<CDevicePP>);
LINKED_ENTRY(DiagPP, &CLSID_DiagPP, UpdateScript<167>, CreatePage<vkr::dui::CDiagPP>);
LINKED_ENTRY(HartPP, &CLSID_HartPP, UpdateScript<109>, CreatePage<vkr::dui::CHartPP>);
LINKED_ENTRY(VornExampleDtm, &CLSID_VornExampleDtm, CVornExampleDtm::UpdateRegistry, CreateDtm,
             CVornExampleDtm::GetCategoryMap);
LINKED_ENTRY(OnlineParameterization, &CLSID_OnlineParameterization, UpdateScript<104>, CreateOnlineParameterization);
LINKED_ENTRY(OutputLevelSelection, &CLSID_OutputLevelSelection, UpdateScript<118>,
             CreatePage<vkr::dui::COutputLevelSelection>);
LINKED_ENTRY(ProcessPP, &CLSID_ProcessPP, UpdateScript<120>, CreatePage<vkr::dui::CProcessPP>);
LINKED_ENTRY(RawCommandPP, &CLSID_RawCommandPP, UpdateScript<174>, CreatePage<vkr::dui::CRawCommandPP>);
LINKED_ENTRY(SetupPP, &CLSID_SetupPP, UpdateScript<140>, CreatePage<vkr::dui::CSetupPP>);
LINKED_ENTRY(StatusPP, &CLSID_StatusPP, UpdateScript<113>, CreatePage<vkr::dui::CStatusPP>);
LINKED_ENTRY(TrendView, &CLSID_TrendView, UpdateScript<107>, CreatePage<vkr::dui::CTrendView>);
LINKED_ENTRY(ValuesPP, &CLSID_ValuesPP, UpdateScript<122>, CreatePage<vkr::dui::CValuesPP>);

#undef LINKED_ENTRY

// The automatic map of the other ten classes, in the order of the class table.
vkr::ObjectMapEntry g_autoEntries[] = {
    Entry(&CLSID_DACTrimAdj, UpdateScript<730>, CreatePage<vkr::dui::CDACTrimAdj>),
    Entry(&CLSID_DtmThread, CDtmThread::UpdateRegistry, CDtmThread::CreateInstance),
    Entry(&CLSID_EchoPP, UpdateScript<180>, CreatePage<vkr::dui::CEchoPP>),
    Entry(&CLSID_EchoTrace, UpdateScript<183>, CreatePage<vkr::dui::CEchoTrace>),
    Entry(&CLSID_InfoPP, UpdateScript<149>, CreatePage<CInfoPP>),
    Entry(&CLSID_MyConnection, UpdateScript<124>, CreateConnection),
    Entry(&CLSID_OfflineOnlineParam, UpdateScript<133>, CreatePage<vkr::dui::COfflineOnlineParam>),
    Entry(&CLSID_OfflineParam, UpdateScript<127>, CreatePage<vkr::dui::COfflineParam>),
    Entry(&CLSID_OnlineParam, UpdateScript<130>, CreatePage<vkr::dui::COnlineParam>),
    Entry(&CLSID_SelfTestResults, UpdateScript<733>, CreatePage<vkr::dui::CSelfTestResults>),
};
vkr::ObjectMapEntry* const g_autoMap[] = {
    &g_autoEntries[0], &g_autoEntries[1], &g_autoEntries[2], &g_autoEntries[3], &g_autoEntries[4],
    &g_autoEntries[5], &g_autoEntries[6], &g_autoEntries[7], &g_autoEntries[8], &g_autoEntries[9],
    nullptr,
};

// The module's own static map: only its end.
const vkr::ObjectMapEntry g_staticMap[] = {vkr::ObjectMapEntry{}};

// Attaches the module when it is loaded (after the linked entries above, which are built first)
// and detaches it when it is unloaded.
struct ModuleAttachment {
  ModuleAttachment() { DllMain(vkr::platform::ModuleFromAddress(&g_module), DLL_PROCESS_ATTACH, nullptr); }
  ~ModuleAttachment() { DllMain(vkr::platform::ModuleFromAddress(&g_module), DLL_PROCESS_DETACH, nullptr); }
} g_attachment;

}  // namespace

vkr::ObjectMapEntry* BuildObjectMap(const vkr::ObjectMapEntry* staticMap) {
  std::size_t statics = 0;
  while (staticMap && staticMap[statics].pclsid) ++statics;
  std::size_t linked = 0;
  for (LinkedObjectMapEntry* e = g_linkedObjectMapHead; e; e = e->next) ++linked;
  auto* map = new (std::nothrow) vkr::ObjectMapEntry[statics + linked + 1]();
  if (!map) return nullptr;
  std::size_t n = 0;
  for (std::size_t i = 0; i < statics; ++i) map[n++] = staticMap[i];
  for (LinkedObjectMapEntry* e = g_linkedObjectMapHead; e; e = e->next) map[n++] = e->entry;
  return map;
}

BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    // Without its map the module refuses every request (E_UNEXPECTED) instead of failing later.
    if (!g_mergedMap) g_mergedMap = BuildObjectMap(g_staticMap);
    g_module.Init(g_mergedMap, g_mergedMap ? g_autoMap : nullptr, instance, &LIBID_VornExampleDtmLib);
    g_module.SetTypeLibDescription(u"VornExampleDtm 1.0 Type Library", 1, 0);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    UnregisterDtmThreadProxies();
    g_module.Term();
    delete[] g_mergedMap;
    g_mergedMap = nullptr;
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return g_module.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() { return g_module.RegisterServer(TRUE); }

STDAPI DllUnregisterServer() { return g_module.UnregisterServer(TRUE); }

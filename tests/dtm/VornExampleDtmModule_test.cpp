// The module: its merged object map, class objects from both maps, the lock count, and the
// registration of every class with its scripts, categories, type library and catalog marker.
#include <gtest/gtest.h>

#include <algorithm>

#include "module/VornExampleDtmModule.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/registry_view.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::test::KeyExists;
using vkr::test::ScopedRegistry;
using vkr::test::SubkeyNames;
using vkr::test::ValueText;

enum class Form { Plain, Page, Control };
struct ClassRow {
  const char* name;
  const CLSID* clsid;
  const char* progId;
  const char* description;
  Form form;
  int bitmap;
};

// In the order the module registers them: the linked classes from the last of the table back to
// the first, then the automatic map.
const ClassRow kClasses[] = {
    {"ValuesPP", &CLSID_ValuesPP, "Vorn.ExampleDtm_ValuesPP.1", "ValuesPP Ctrl", Form::Page, 0},
    {"TrendView", &CLSID_TrendView, "Vorn.ExampleDtm_TrendView.1", "TrendView Ctrl", Form::Control, 108},
    {"StatusPP", &CLSID_StatusPP, "Vorn.ExampleDtm_StatusPP.1", "StatusPP Ctrl", Form::Page, 0},
    {"SetupPP", &CLSID_SetupPP, "VornExampleDtmProject.SetupPP.1", "SetupPP Class", Form::Plain, 0},
    {"RawCommandPP", &CLSID_RawCommandPP, "VornExampleDtmProject.RawCommandPP.1", "RawCommandPP Class", Form::Plain, 0},
    {"ProcessPP", &CLSID_ProcessPP, "Vorn.ExampleDtm_ProcessPP.1", "ProcessPP Ctrl", Form::Page, 0},
    {"OutputLevelSelection", &CLSID_OutputLevelSelection, "Vorn.ExampleDtm_OutputLevelSel.1",
     "OutputLevelSelection Ctrl", Form::Control, 134},
    {"OnlineParameterization", &CLSID_OnlineParameterization, "Vorn.ExampleDtm_OnlineParam.1",
     "OnlineParameterization Ctrl", Form::Control, 105},
    {"VornExampleDtm", &CLSID_VornExampleDtm, "Vorn.ExampleDtm.1", "VORN VKR Series DTM", Form::Plain, 0},
    {"HartPP", &CLSID_HartPP, "Vorn.ExampleDtm_HartPP.1", "HartPP Ctrl", Form::Page, 0},
    {"DiagPP", &CLSID_DiagPP, "VornExampleDtmProject.DiagPP.1", "DiagPP Class", Form::Plain, 0},
    {"DevicePP", &CLSID_DevicePP, "Vorn.ExampleDtm_DevicePP.1", "DevicePP Ctrl", Form::Page, 0},
    {"CommandPP", &CLSID_CommandPP, "Vorn.ExampleDtm_CommandPP.1", "CommandPP Ctrl", Form::Page, 0},
    {"AdvancedPP", &CLSID_AdvancedPP, "VornExampleDtmProject.AdvancedPP.1", "AdvancedPP Class", Form::Plain, 0},
    {"DACTrimAdj", &CLSID_DACTrimAdj, "VornExampleDtmProject.DACTrimAdj.1", "DACTrimAdj Class", Form::Control, 729},
    {"DtmThread", &CLSID_DtmThread, "Vorn.ExampleDtm_DtmThread.1", "DtmThread Class", Form::Plain, 0},
    {"EchoPP", &CLSID_EchoPP, "VornExampleDtmProject.EchoPP.1", "EchoPP Class", Form::Plain, 0},
    {"EchoTrace", &CLSID_EchoTrace, "VornExampleDtmProject.EchoTrace.1", "EchoTrace Class", Form::Control, 202},
    {"InfoPP", &CLSID_InfoPP, "VornExampleDtmProject.InfoPP.1", "InfoPP Class", Form::Plain, 0},
    {"MyConnection", &CLSID_MyConnection, "Vorn.ExampleDtm_MyConnection.1", "MyConnection Class", Form::Plain, 0},
    {"OfflineOnlineParam", &CLSID_OfflineOnlineParam, "Vorn.ExampleDtm_OfflineOnlinePara.1",
     "OfflineOnlineParam Class", Form::Control, 163},
    {"OfflineParam", &CLSID_OfflineParam, "Vorn.ExampleDtm_OfflineParam.1", "OfflineParam Class", Form::Control, 157},
    {"OnlineParam", &CLSID_OnlineParam, "Vorn.ExampleDtm_OnlineParam2.1", "OnlineParam Class", Form::Control, 160},
    {"SelfTestResults", &CLSID_SelfTestResults, "VornExampleDtmProject.SelfTestResults.1", "SelfTestResults Class",
     Form::Control, 732},
};

std::string Braced(const GUID& g) {
  OLECHAR text[40];
  StringFromGUID2(g, text, 40);
  return vkr::Utf16ToUtf8(text);
}
std::string ClassKey(const GUID& g) { return "CLSID\\" + Braced(g); }
std::string ModulePath() {
  char path[4096];
  const DWORD n = GetModuleFileNameA(vkr::platform::ModuleFromAddress(&g_module), path, sizeof path);
  return std::string(path, n);
}
// "{" + a lower-case UUID text + "}".
bool IsBracedUuid(const std::string& s) {
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const char c = s[i];
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}
std::string CatalogFlag() { return ValueText(HKEY_LOCAL_MACHINE, "SOFTWARE\\FDT\\DTMCatalogUpdates", "ModificationFlag"); }

TEST(ObjectMap, TheLinkedClassesAreMergedFromTheLastBackToTheFirst) {
  vkr::ObjectMapEntry* map = BuildObjectMap(nullptr);
  ASSERT_NE(map, nullptr);
  for (std::size_t i = 0; i < 14; ++i) EXPECT_EQ(*map[i].pclsid, *kClasses[i].clsid) << kClasses[i].name;
  EXPECT_EQ(map[14].pclsid, nullptr);
  delete[] map;
  // Static entries come first.
  const vkr::ObjectMapEntry statics[] = {{&CLSID_ProcessChannel, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
                                         {}};
  map = BuildObjectMap(statics);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(*map[0].pclsid, CLSID_ProcessChannel);
  EXPECT_EQ(*map[1].pclsid, CLSID_ValuesPP);
  EXPECT_EQ(map[15].pclsid, nullptr);
  delete[] map;
}

TEST(ClassObjects, ComeFromBothMapsAndAreKept) {
  vkr::ComPtr<IClassFactory> dtm, again, thread;
  ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, dtm.PutVoid()), S_OK);
  ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, again.PutVoid()), S_OK);
  EXPECT_EQ(dtm.Get(), again.Get());
  // The DTM thread's class is in the automatic map.
  ASSERT_EQ(DllGetClassObject(CLSID_DtmThread, IID_IClassFactory, thread.PutVoid()), S_OK);
  vkr::ComPtr<IovFdtDtmThread> threadObject;
  EXPECT_EQ(thread->CreateInstance(nullptr, IovFdtDtmThread::iid, threadObject.PutVoid()), S_OK);
  EXPECT_TRUE(threadObject);
  // A user-interface class of the automatic map makes its control.
  vkr::ComPtr<IClassFactory> control;
  ASSERT_EQ(DllGetClassObject(CLSID_EchoTrace, IID_IClassFactory, control.PutVoid()), S_OK);
  vkr::ComPtr<IDtmActiveXControl> echoTrace;
  EXPECT_EQ(control->CreateInstance(nullptr, IDtmActiveXControl::iid, echoTrace.PutVoid()), S_OK);
  EXPECT_TRUE(echoTrace);
  echoTrace = nullptr;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_ProcessChannel, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(DllGetClassObject(GUID_NULL, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IDtm::iid, &p), E_NOINTERFACE);
  vkr::ComPtr<IUnknown> object;
  EXPECT_EQ(dtm->CreateInstance(nullptr, IDtm::iid, object.PutVoid()), S_OK);
}

TEST(ClassObjects, TheModuleCanUnloadOnlyWhenNothingIsAlive) {
  ScopedRegistry registry;
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  vkr::ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // a client holds the factory
  vkr::ComPtr<IDtm> dtm;
  ASSERT_EQ(factory->CreateInstance(nullptr, IDtm::iid, dtm.PutVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  dtm = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // still locked
  ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(FALSE);
  factory = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

class Registration : public testing::Test {
 protected:
  ScopedRegistry registry;
};

TEST_F(Registration, RegistersEveryClassWithItsScript) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string module = ModulePath();
  const std::string typeLib = Braced(LIBID_VornExampleDtmLib);
  for (const ClassRow& c : kClasses) {
    SCOPED_TRACE(c.name);
    const std::string key = ClassKey(*c.clsid);
    const std::string progId = c.progId;
    const std::string independent = progId.substr(0, progId.size() - 2);
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key), c.description);
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\InprocServer32"), module);
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Programmable"));
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, progId + "\\CLSID"), Braced(*c.clsid));
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, independent + "\\CLSID"), Braced(*c.clsid));
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, independent + "\\CurVer"), progId);
    if (c.form == Form::Page) {
      EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, key), (std::vector<std::string>{"InprocServer32", "Programmable"}));
      continue;
    }
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\ProgID"), progId);
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID"), independent);
    EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\TypeLib"), typeLib);
    if (c.form == Form::Control) {
      EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Control"));
      EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Insertable"));
      EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\ToolboxBitmap32"), module + ", " + std::to_string(c.bitmap));
      EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\MiscStatus"), "0");
      EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\MiscStatus\\1"), "131473");
      EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, key + "\\Version"), "1.0");
      // The toolbox bitmap is one of the module's resources.
      EXPECT_NE(FindResourceA(vkr::platform::ModuleFromAddress(&g_module), MAKEINTRESOURCEA(c.bitmap), RT_BITMAP),
                nullptr);
    } else {
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Control"));
    }
    const bool isDtm = *c.clsid == CLSID_VornExampleDtm;
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, key + "\\Implemented Categories"), isDtm);
  }
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, ClassKey(CLSID_VornExampleDtm) + "\\Implemented Categories"),
            (std::vector<std::string>{"{036D1490-387B-11D4-86E1-00E0987270B9}",
                                      "{036D1491-387B-11D4-86E1-00E0987270B9}",
                                      "{036D1498-387B-11D4-86E1-00E0987270B9}"}));
  // The process channel has a script but is never registered.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_ProcessChannel)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm_ProcessChannel.1"));
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, "TypeLib\\" + typeLib + "\\1.0\\0\\win32"), module);
  // Every class with an in-process server is one of the table's.
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, "CLSID").size(), std::size(kClasses));
}

TEST_F(Registration, EveryRegistrationAndUnregistrationMarksTheCatalog) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string first = CatalogFlag();
  EXPECT_TRUE(IsBracedUuid(first)) << first;
  EXPECT_EQ(ValueText(HKEY_LOCAL_MACHINE, "SOFTWARE\\FDT\\DTMCatalogUpdates", "ModificationComment"), "");
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string second = CatalogFlag();
  EXPECT_NE(second, first);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  const std::string third = CatalogFlag();
  EXPECT_TRUE(IsBracedUuid(third)) << third;
  EXPECT_NE(third, second);
}

TEST_F(Registration, UnregisteringRemovesTheClassesAndKeepsTheClassList) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  for (const ClassRow& c : kClasses) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(*c.clsid))) << c.name;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.progId)) << c.name;
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + Braced(LIBID_VornExampleDtmLib)));
  // Again, with nothing left to remove.
  EXPECT_EQ(DllUnregisterServer(), S_OK);
}

TEST_F(Registration, ReRegisteringWipesWhatTheDtmsForceRemoveKeysHeld) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  HKEY h = nullptr;
  for (const char* stale : {"Vorn.ExampleDtm\\Stale", "Vorn.ExampleDtm.1\\Stale"}) {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, stale, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (ClassKey(CLSID_VornExampleDtm) + "\\Stale").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm\\Stale"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm.1\\Stale"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_VornExampleDtm) + "\\Stale"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_VornExampleDtm) + "\\Implemented Categories"));
}

TEST_F(Registration, TheProcessChannelScriptIsAResourceNobodyRuns) {
  const HMODULE module = vkr::platform::ModuleFromAddress(&g_module);
  ASSERT_NE(FindResourceA(module, MAKEINTRESOURCEA(136), "REGISTRY"), nullptr);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_ProcessChannel)));
  // The script itself is sound.
  vkr::Registrar registrar;
  registrar.AddReplacement(u"MODULE", u"/m.so");
  ASSERT_EQ(registrar.ResourceRegister(module, 136, "REGISTRY"), S_OK) << registrar.Problem();
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, ClassKey(CLSID_ProcessChannel)), "ProcessChannel Class");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, "Vorn.ExampleDtm_ProcessChannel\\CurVer"), "Vorn.ExampleDtm_ProcessChannel.1");
}

TEST_F(Registration, TheDtmRegistersEvenWhenTheCatalogCannotBeWritten) {
  // The first registry write of the DTM's registration is the catalog key: it fails.
  vkr::platform::SetRegistryWriteFault(1, EACCES);
  EXPECT_EQ(CVornExampleDtm::UpdateRegistry(TRUE), S_OK);
  vkr::platform::SetRegistryWriteFault(0, 0);
  EXPECT_EQ(CatalogFlag(), "<missing>");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, ClassKey(CLSID_VornExampleDtm)), "VORN VKR Series DTM");
}

TEST_F(Registration, ARegistrationIsWrittenWholeOrNotAtAll) {
  // The registration is one write of the registry file. When that write fails the failure is
  // returned and the file keeps what it held: nothing in a fresh registry, an earlier complete
  // registration in this one.
  {
    ScopedRegistry fresh;
    vkr::platform::SetRegistryWriteFault(1, ENOSPC, true);
    const HRESULT hr = DllRegisterServer();
    vkr::platform::SetRegistryWriteFault(0, 0);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    for (const ClassRow& c : kClasses) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.progId)) << c.name;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\FDT\\DTMCatalogUpdates"));
  }
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string before = vkr::test::ReadFileText(registry.file());
  const unsigned long writes = vkr::platform::RegistryWriteCount();
  vkr::platform::SetRegistryWriteFault(1, ENOSPC, true);
  EXPECT_EQ(DllUnregisterServer(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(DllRegisterServer(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));  // a new catalog flag to write
  vkr::platform::SetRegistryWriteFault(0, 0);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes);
  EXPECT_EQ(vkr::test::ReadFileText(registry.file()), before);
  for (const ClassRow& c : kClasses) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(*c.clsid))) << c.name;
  // Each registration, and each unregistration, writes the file once.
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(vkr::platform::RegistryWriteCount(), writes + 2);
}

}  // namespace

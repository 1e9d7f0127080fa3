// A module of user interfaces for the frame host to show as it shows the DTM's own: the tests'
// tree page frame hosting the two test property pages ("Settings" and "Range"), all three
// registered and created as a DTM module's classes are (its four entry points, the registry, the
// class factory). `vkr-frame register <this module>` and then `vkr-frame ui --class
// VornTest.PageFrame` open the frame through the frame's IFdtActiveXHost with the real DTM and
// render it to a PNG; the frame host itself knows nothing of the framework behind it.
#include <atomic>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_page_frame.h"
#include "tests/support/test_property_page.h"

namespace {

namespace t = vkr::test;

constexpr char kFrameProgId[] = "VornTest.PageFrame";

std::string ClassText(const CLSID& clsid) {
  OLECHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return vkr::Utf16ToUtf8(text);
}

LSTATUS SetText(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return r;
  r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return r;
}

struct ModuleClass {
  const CLSID* clsid;
  std::string description;  // the user type name
  const char* progId;       // null: none
};

const ModuleClass kClasses[] = {
    {&t::CLSID_TestPageFrame, "Vorn test page frame", kFrameProgId},
    {&t::kTestSettingsPageClsid, vkr::Utf16ToUtf8(t::kTestSettingsPageUserType), nullptr},
    {&t::kTestRangePageClsid, vkr::Utf16ToUtf8(t::kTestRangePageUserType), nullptr},
};

// The frame lists the two test pages, in this order.
const bool g_pagesListed = [] {
  t::SetTestFramePages({t::kTestSettingsPageClsid, t::kTestRangePageClsid});
  return true;
}();

// Every object of the module counts on its lock while it lives.
std::atomic<LONG> g_locks{0};
template <class T>
class Counted : public T {
 public:
  static void ModuleLock() { ++g_locks; }
  static void ModuleUnlock() { --g_locks; }
};

template <class T>
HRESULT MakeFactory(REFIID riid, void** ppv) {
  return vkr::CreateObject<vkr::ClassFactory<Counted<T>>>(nullptr, riid, ppv);
}

}  // namespace

#define VKR_EXPORT extern "C" __attribute__((visibility("default")))

// The module stays while a frame or a page it made is alive.
VKR_EXPORT HRESULT DllCanUnloadNow() { return g_locks.load() == 0 ? S_OK : S_FALSE; }

VKR_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualGUID(clsid, t::CLSID_TestPageFrame)) return MakeFactory<t::CTestPageFrame>(riid, ppv);
  if (IsEqualGUID(clsid, t::kTestSettingsPageClsid)) return MakeFactory<t::CTestSettingsPage>(riid, ppv);
  if (IsEqualGUID(clsid, t::kTestRangePageClsid)) return MakeFactory<t::CTestRangePage>(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

VKR_EXPORT HRESULT DllRegisterServer() {
  char path[1024] = {};
  if (!GetModuleFileNameA(vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&DllRegisterServer)), path,
                          sizeof path))
    return E_FAIL;
  for (const ModuleClass& c : kClasses) {
    const std::string clsid = ClassText(*c.clsid), key = "CLSID\\" + clsid;
    LSTATUS r = SetText(key, nullptr, c.description);
    if (r == ERROR_SUCCESS) r = SetText(key + "\\InprocServer32", nullptr, path);
    if (r == ERROR_SUCCESS) r = SetText(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    if (r == ERROR_SUCCESS && c.progId) r = SetText(key + "\\ProgID", nullptr, c.progId);
    if (r == ERROR_SUCCESS && c.progId) r = SetText(c.progId, nullptr, c.description);
    if (r == ERROR_SUCCESS && c.progId) r = SetText(std::string(c.progId) + "\\CLSID", nullptr, clsid);
    if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<ULONG>(r));
  }
  return S_OK;
}

VKR_EXPORT HRESULT DllUnregisterServer() {
  for (const ModuleClass& c : kClasses) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + ClassText(*c.clsid)).c_str());
    if (c.progId) RegDeleteTreeA(HKEY_CLASSES_ROOT, c.progId);
  }
  return S_OK;
}

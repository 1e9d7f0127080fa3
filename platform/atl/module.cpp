// The module object, the cached class factory, category and type-library registration.
#include "platform/atl/module.h"

#include <new>

#include "platform/atl/registrar.h"
#include "platform/com/guid.h"
#include "platform/ui/windows.h"
#include "platform/win/module.h"
#include "platform/win/lasterror.h"
#include "platform/win/registry.h"
#include "platform/win/text.h"

namespace vkr {
namespace {

HRESULT FromStatus(LSTATUS s) { return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<ULONG>(s)); }
bool Gone(LSTATUS s) { return s == ERROR_FILE_NOT_FOUND || s == ERROR_KEY_DELETED; }

// Runs a whole (un)registration as one batch of registry changes, so the file is written once,
// not once per key and value. What was done before a failure is kept, as without the batch; the
// write's own failure is the result when the run itself succeeded.
template <class Run>
HRESULT InRegistryBatch(Run run) {
  if (const LSTATUS s = vkr::platform::BeginRegistryBatch(); s != ERROR_SUCCESS) return FromStatus(s);
  const HRESULT hr = run();
  const HRESULT written = FromStatus(vkr::platform::CommitRegistryBatch());
  return FAILED(hr) ? hr : FAILED(written) ? written : hr;
}

std::u16string GuidText(const GUID& g) {
  OLECHAR text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

// A class factory kept in its object-map entry: the entry's reference does not count on the
// module, every further one does, so a client holding the factory keeps the module loaded.
class CachedClassFactory final : public IClassFactory {
 public:
  CachedClassFactory(ComModule* module, InstanceCreator create) : m_module(module), m_create(create) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override {
    const LONG n = ++m_refs;
    if (n == 2) m_module->Lock();
    return static_cast<ULONG>(n);
  }
  ULONG Release() override {
    const LONG n = --m_refs;
    if (n == 1) m_module->Unlock();
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return m_create(outer, riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      m_module->Lock();
    else
      m_module->Unlock();
    return S_OK;
  }

 private:
  std::atomic<LONG> m_refs{0};
  ComModule* m_module;
  InstanceCreator m_create;
};

}  // namespace

ComModule::ComModule() { InitializeCriticalSection(&m_cs); }
ComModule::~ComModule() { DeleteCriticalSection(&m_cs); }

HRESULT ComModule::Init(ObjectMapEntry* map, ObjectMapEntry* const* autoMap, HINSTANCE instance, const GUID* libid) {
  m_map = map;
  m_autoMap = autoMap;
  m_instance = instance;
  m_libid = libid ? *libid : GUID{};
  for (ObjectMapEntry* e = m_map; e && e->pclsid; ++e)
    if (e->pfnObjectMain) e->pfnObjectMain(true);
  for (ObjectMapEntry* const* p = m_autoMap; p && *p; ++p)
    if ((*p)->pfnObjectMain) (*p)->pfnObjectMain(true);
  return S_OK;
}

void ComModule::Term() {
  auto end = [](ObjectMapEntry* e) {
    if (IUnknown* cf = e->pCF) {
      e->pCF = nullptr;
      cf->Release();
    }
    if (e->pfnObjectMain) e->pfnObjectMain(false);
  };
  for (ObjectMapEntry* e = m_map; e && e->pclsid; ++e) end(e);
  for (ObjectMapEntry* const* p = m_autoMap; p && *p; ++p) end(*p);
  m_map = nullptr;
  m_autoMap = nullptr;
  // The window classes the module registered go with it: their procedures are its code.
  vkr::ui::UnregisterModuleClasses(m_instance);
}

LONG ComModule::Lock() { return ++m_lockCount; }
LONG ComModule::Unlock() { return --m_lockCount; }

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!m_map) return E_UNEXPECTED;
  auto serve = [&](ObjectMapEntry* e) -> HRESULT {
    if (!e->pfnGetClassObject || *e->pclsid != clsid) return S_FALSE;
    // The factory is made once, under the module lock; reading it outside the lock would race
    // with the thread that makes it.
    EnterCriticalSection(&m_cs);
    HRESULT hr = S_OK;
    if (!e->pCF) {
      IUnknown* made = nullptr;
      hr = e->pfnGetClassObject(e->pfnCreateInstance, IID_IUnknown, reinterpret_cast<void**>(&made));
      if (SUCCEEDED(hr)) e->pCF = made;
    }
    IUnknown* cf = e->pCF;
    if (cf) cf->AddRef();
    LeaveCriticalSection(&m_cs);
    if (FAILED(hr)) return hr;
    if (!cf) return S_FALSE;
    hr = cf->QueryInterface(riid, ppv);
    cf->Release();
    return hr;
  };
  for (ObjectMapEntry* e = m_map; e->pclsid; ++e) {
    const HRESULT hr = serve(e);
    if (FAILED(hr) || *ppv) return hr;  // else a miss, or a hit that gave nothing: search on
  }
  for (ObjectMapEntry* const* p = m_autoMap; p && *p; ++p) {
    const HRESULT hr = serve(*p);
    if (FAILED(hr) || *ppv) return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModule::RegisterEntry(ObjectMapEntry* e, BOOL bRegister) {
  const CategoryMapEntry* categories = e->pfnGetCategoryMap ? e->pfnGetCategoryMap() : nullptr;
  HRESULT hr = S_OK;
  if (bRegister) {
    if (e->UpdateRegistry) hr = e->UpdateRegistry(TRUE);
    if (SUCCEEDED(hr)) hr = RegisterClassCategories(*e->pclsid, categories, TRUE);
  } else {
    hr = RegisterClassCategories(*e->pclsid, categories, FALSE);
    if (SUCCEEDED(hr) && e->UpdateRegistry) hr = e->UpdateRegistry(FALSE);
  }
  return hr;
}

HRESULT ComModule::RegisterServer(BOOL regTypeLib) {
  if (!m_map) return E_UNEXPECTED;
  return InRegistryBatch([&]() -> HRESULT {
    for (ObjectMapEntry* e = m_map; e->pclsid; ++e)
      if (const HRESULT hr = RegisterEntry(e, TRUE); FAILED(hr)) return hr;
    for (ObjectMapEntry* const* p = m_autoMap; p && *p; ++p)
      if (const HRESULT hr = RegisterEntry(*p, TRUE); FAILED(hr)) return hr;
    if (!regTypeLib) return S_OK;
    std::u16string path;
    if (const HRESULT hr = GetModulePath(&path); FAILED(hr)) return hr;
    return RegisterTypeLibraryKeys(m_libid, m_typeLibMajor, m_typeLibMinor, m_typeLibDescription.c_str(),
                                   path.c_str());
  });
}

HRESULT ComModule::UnregisterServer(BOOL unregTypeLib) {
  if (!m_map) return E_UNEXPECTED;
  return InRegistryBatch([&]() -> HRESULT {
    for (ObjectMapEntry* e = m_map; e->pclsid; ++e)
      if (const HRESULT hr = RegisterEntry(e, FALSE); FAILED(hr)) return hr;
    for (ObjectMapEntry* const* p = m_autoMap; p && *p; ++p)
      if (const HRESULT hr = RegisterEntry(*p, FALSE); FAILED(hr)) return hr;
    return unregTypeLib ? UnregisterTypeLibraryKeys(m_libid, m_typeLibMajor, m_typeLibMinor) : S_OK;
  });
}

HRESULT ComModule::GetModulePath(std::u16string* path) const {
  char16_t buffer[4096];
  const DWORD n = GetModuleFileNameW(m_instance, buffer, 4096);
  if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (n >= 4096) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  path->assign(buffer, n);
  return S_OK;
}

HRESULT ComModule::UpdateRegistryFromResource(UINT id, BOOL bRegister) {
  std::u16string path;
  if (const HRESULT hr = GetModulePath(&path); FAILED(hr)) return hr;
  Registrar registrar;
  registrar.AddReplacement(u"MODULE", path);
  return bRegister ? registrar.ResourceRegister(m_instance, id, "REGISTRY")
                   : registrar.ResourceUnregister(m_instance, id, "REGISTRY");
}

void ComModule::SetTypeLibDescription(LPCWSTR description, WORD major, WORD minor) {
  m_typeLibDescription = description ? description : u"";
  m_typeLibMajor = major;
  m_typeLibMinor = minor;
}

HRESULT CreateCachedClassFactory(ComModule* module, InstanceCreator create, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!module || !create) return E_INVALIDARG;
  auto* factory = new (std::nothrow) CachedClassFactory(module, create);
  if (!factory) return E_OUTOFMEMORY;
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT RegisterClassCategories(REFCLSID clsid, const CategoryMapEntry* map, BOOL bRegister) {
  if (!map) return S_OK;
  const std::u16string classKey = u"CLSID\\" + GuidText(clsid);
  static const char16_t* const kParents[] = {nullptr, u"\\Implemented Categories", u"\\Required Categories"};
  for (const CategoryMapEntry* e = map; e->kind; ++e) {
    if (e->kind != kCategoryImplemented && e->kind != kCategoryRequired) return E_INVALIDARG;
    const std::u16string key = classKey + kParents[e->kind] + u"\\" + GuidText(*e->catid);
    if (bRegister) {
      HKEY h = nullptr;
      const LSTATUS s = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &h, nullptr);
      if (s != ERROR_SUCCESS) return FromStatus(s);
      RegCloseKey(h);
    } else {
      const LSTATUS s = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
      if (s != ERROR_SUCCESS && !Gone(s)) return FromStatus(s);
    }
  }
  if (!bRegister) {
    // The category lists go when nothing is left in them (the delete of a key with subkeys fails).
    for (int kind : {kCategoryImplemented, kCategoryRequired}) {
      const std::u16string parent = classKey + kParents[kind];
      const LSTATUS s = RegDeleteKeyW(HKEY_CLASSES_ROOT, parent.c_str());
      if (s != ERROR_SUCCESS && !Gone(s) && s != ERROR_ACCESS_DENIED) return FromStatus(s);
    }
  }
  return S_OK;
}

namespace {
std::u16string VersionText(WORD major, WORD minor) {
  return Utf8ToUtf16(std::to_string(major) + "." + std::to_string(minor));
}
}  // namespace

HRESULT RegisterTypeLibraryKeys(const GUID& libid, WORD major, WORD minor, LPCWSTR description, LPCWSTR modulePath) {
  if (!modulePath) return E_INVALIDARG;
  const std::u16string key = u"TypeLib\\" + GuidText(libid) + u"\\" + VersionText(major, minor);
  const std::u16string path = modulePath;
  const std::size_t cut = path.find_last_of(u"/\\");
  const std::u16string folder = cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
  struct Item {
    const char16_t* sub;
    std::u16string text;
  };
  const Item items[] = {{nullptr, description ? description : u""}, {u"0\\win32", path}, {u"FLAGS", u"0"},
                        {u"HELPDIR", folder}};
  for (const Item& item : items) {
    const std::u16string k = item.sub ? key + u"\\" + item.sub : key;
    HKEY h = nullptr;
    LSTATUS s = RegCreateKeyExW(HKEY_CLASSES_ROOT, k.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                nullptr, &h, nullptr);
    if (s != ERROR_SUCCESS) return FromStatus(s);
    s = RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(item.text.c_str()),
                       static_cast<DWORD>((item.text.size() + 1) * sizeof(char16_t)));
    RegCloseKey(h);
    if (s != ERROR_SUCCESS) return FromStatus(s);
  }
  return S_OK;
}

HRESULT UnregisterTypeLibraryKeys(const GUID& libid, WORD major, WORD minor) {
  const std::u16string library = u"TypeLib\\" + GuidText(libid);
  LSTATUS s = RegDeleteTreeW(HKEY_CLASSES_ROOT, (library + u"\\" + VersionText(major, minor)).c_str());
  if (s != ERROR_SUCCESS && !Gone(s)) return FromStatus(s);
  s = RegDeleteKeyW(HKEY_CLASSES_ROOT, library.c_str());
  if (s != ERROR_SUCCESS && !Gone(s) && s != ERROR_ACCESS_DENIED) return FromStatus(s);
  return S_OK;
}

}  // namespace vkr

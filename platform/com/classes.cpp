// Class registration and creation, and the per-thread CoInitialize count.
#include "platform/com/classes.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/memory.h"
#include "platform/win/module.h"
#include "platform/win/text.h"

namespace {

struct ThreadCom {
  int count = 0;
  DWORD model = 0;
};
thread_local ThreadCom t_com;

struct Registration {
  CLSID clsid;
  IUnknown* object;
  DWORD context;
  DWORD flags;
};

struct Module {
  void* handle;
  HRESULT (*getClassObject)(REFCLSID, REFIID, LPVOID*);
  HRESULT (*canUnloadNow)();
};

struct ClassTable {
  std::mutex lock;
  std::map<DWORD, Registration> byCookie;
  DWORD nextCookie = 1;
  std::map<std::string, Module> modules;
};

ClassTable& Table() {
  static ClassTable* table = new ClassTable;  // lives until exit: modules may call in at teardown
  return *table;
}

// The class object registered in process for clsid, AddRef'd, or null.
IUnknown* FindRegistered(REFCLSID clsid, DWORD context) {
  ClassTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  for (auto& [cookie, r] : t.byCookie) {
    if (r.clsid == clsid && (r.context & context)) {
      r.object->AddRef();
      return r.object;
    }
  }
  return nullptr;
}

HRESULT LoadModule(const std::string& path, Module* out) {
  ClassTable& t = Table();
  {
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.modules.find(path);
    if (it != t.modules.end()) {
      *out = it->second;
      vkr::platform::SetLastLoadProblem({});
      return S_OK;
    }
  }
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = dlerror();
    vkr::platform::SetLastLoadProblem(why ? why : path + ": cannot be loaded");
    return CO_E_DLLNOTFOUND;
  }
  Module m{h, reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, LPVOID*)>(dlsym(h, "DllGetClassObject")),
           reinterpret_cast<HRESULT (*)()>(dlsym(h, "DllCanUnloadNow"))};
  if (!m.getClassObject) {
    dlclose(h);
    vkr::platform::SetLastLoadProblem(path + ": the module does not export DllGetClassObject");
    return CO_E_ERRORINDLL;
  }
  vkr::platform::SetLastLoadProblem({});
  std::lock_guard<std::mutex> g(t.lock);
  auto [it, inserted] = t.modules.emplace(path, m);
  if (!inserted) dlclose(h);  // another thread loaded it meanwhile
  *out = it->second;
  return S_OK;
}

}  // namespace

namespace vkr::platform {
bool IsComInitialized() { return t_com.count > 0; }
}  // namespace vkr::platform

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
  const DWORD model = coInit & COINIT_APARTMENTTHREADED;
  if (t_com.count > 0) {
    if (t_com.model != model) return RPC_E_CHANGED_MODE;
    ++t_com.count;
    return S_FALSE;
  }
  t_com.model = model;
  t_com.count = 1;
  vkr::platform::EnterApartment(model == COINIT_APARTMENTTHREADED);
  return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_com.count > 0 && --t_com.count == 0) vkr::platform::LeaveApartment();
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* classObject, DWORD clsContext, DWORD flags, LPDWORD cookie) {
  if (!classObject || !cookie) return E_INVALIDARG;
  *cookie = 0;
  ClassTable& t = Table();
  classObject->AddRef();
  std::lock_guard<std::mutex> g(t.lock);
  DWORD c = t.nextCookie++;
  t.byCookie.emplace(c, Registration{rclsid, classObject, clsContext, flags});
  *cookie = c;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  ClassTable& t = Table();
  IUnknown* object = nullptr;
  {
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.byCookie.find(cookie);
    if (it == t.byCookie.end()) return E_INVALIDARG;
    object = it->second.object;
    t.byCookie.erase(it);
  }
  object->Release();  // outside the lock: the release may revoke or register in turn
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsContext, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!vkr::platform::IsComInitialized()) return CO_E_NOTINITIALIZED;
  if (IUnknown* registered = FindRegistered(rclsid, clsContext)) {
    HRESULT hr = registered->QueryInterface(riid, ppv);
    registered->Release();
    return hr;
  }
  if (!(clsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::u16string path;
  if (!vkr::platform::FindInprocServer(rclsid, &path) || path.empty()) return REGDB_E_CLASSNOTREG;
  Module m;
  HRESULT hr = LoadModule(vkr::Utf16ToUtf8(path), &m);
  if (FAILED(hr)) return hr;
  return m.getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregating creator must ask for IUnknown, as the object would refuse anything else anyway.
  if (outer && riid != IID_IUnknown) return E_INVALIDARG;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, clsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  if (vkr::platform::FindProgIdClass(progId, clsid)) return S_OK;
  *clsid = CLSID_NULL;
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (!progId) return E_INVALIDARG;
  *progId = nullptr;
  std::u16string name;
  if (!vkr::platform::FindClassProgId(clsid, &name)) return REGDB_E_CLASSNOTREG;
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
  if (!out) return E_OUTOFMEMORY;
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
  *progId = out;
  return S_OK;
}

void CoFreeUnusedLibraries() {
  ClassTable& t = Table();
  std::vector<Module> candidates;
  {
    std::lock_guard<std::mutex> g(t.lock);
    for (auto& [path, m] : t.modules) candidates.push_back(m);
  }
  for (const Module& m : candidates) {
    if (!m.canUnloadNow || m.canUnloadNow() != S_OK) continue;
    std::lock_guard<std::mutex> g(t.lock);
    for (auto it = t.modules.begin(); it != t.modules.end(); ++it) {
      if (it->second.handle == m.handle) {
        dlclose(m.handle);
        t.modules.erase(it);
        break;
      }
    }
  }
}

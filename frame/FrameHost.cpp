// The frame host's steps, on the platform's registry, loader and class creation only.
#include "frame/FrameHost.h"

#include <cstdio>

#include "dtm/DtmInterfaces.h"

namespace vkr::frame {
namespace {

using EntryPoint = HRESULT (*)();

std::string Text(HKEY root, const std::string& path, const char* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
  char buffer[4096];
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  std::string text;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    buffer[size] = '\0';
    text = buffer;
  }
  RegCloseKey(key);
  return text;
}

std::vector<std::string> Subkeys(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  RegCloseKey(key);
  return names;
}

HRESULT LastError() {
  const DWORD e = GetLastError();
  return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

// DllCanUnloadNow of the module at the path.
HRESULT AskCanUnload(const std::string& module) {
  HMODULE m = LoadLibraryA(module.c_str());
  if (!m) return LastError();
  HRESULT hr = E_FAIL;
  if (auto fn = reinterpret_cast<EntryPoint>(GetProcAddress(m, "DllCanUnloadNow"))) hr = fn();
  FreeLibrary(m);
  return hr;
}

}  // namespace

HRESULT RunModuleRegistration(const std::string& modulePath, bool registering) {
  HMODULE m = LoadLibraryA(modulePath.c_str());
  if (!m) return LastError();
  HRESULT hr;
  if (auto fn = reinterpret_cast<EntryPoint>(GetProcAddress(m, registering ? "DllRegisterServer" : "DllUnregisterServer")))
    hr = fn();
  else
    hr = LastError();
  FreeLibrary(m);
  return hr;
}

std::vector<RegisteredClass> ListRegisteredClasses() {
  std::vector<RegisteredClass> classes;
  for (const std::string& clsid : Subkeys(HKEY_CLASSES_ROOT, "CLSID")) {
    const std::string key = "CLSID\\" + clsid;
    RegisteredClass c;
    c.module = Text(HKEY_CLASSES_ROOT, key + "\\InprocServer32");
    if (c.module.empty()) continue;
    c.clsid = clsid;
    c.progId = Text(HKEY_CLASSES_ROOT, key + "\\ProgID");
    c.description = Text(HKEY_CLASSES_ROOT, key);
    c.threadingModel = Text(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel");
    c.categories = Subkeys(HKEY_CLASSES_ROOT, key + "\\Implemented Categories");
    classes.push_back(std::move(c));
  }
  return classes;
}

HRESULT CreateAndReleaseDtm(LPCOLESTR progId, DtmCreation* out) {
  if (!progId || !out) return E_POINTER;
  *out = DtmCreation();
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  OLECHAR text[40];
  StringFromGUID2(clsid, text, 40);
  out->clsid = Utf16ToUtf8(text);
  out->module = Text(HKEY_CLASSES_ROOT, "CLSID\\" + out->clsid + "\\InprocServer32");

  ComPtr<IUnknown> dtm;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IovFdtBaseDTM> base;
  hr = dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid());
  if (SUCCEEDED(hr)) {
    EDtmState state = dsUNDEFINED;
    hr = base->GetDTMState(&state);
    out->state = state;
  }
  if (SUCCEEDED(hr)) hr = base->GetCurLanguageId(&out->language);
  out->canUnloadWhileAlive = AskCanUnload(out->module);
  base = nullptr;
  dtm = nullptr;
  out->canUnloadAfterRelease = AskCanUnload(out->module);
  return hr;
}

const char* StateName(LONG state) {
  static const char* const kNames[] = {"dsUNDEFINED",        "dsCREATED",        "dsPREPAREDTODELETE",
                                       "dsPREPAREDTORELEASE", "dsINITNEWPERSIST", "dsLOADED",
                                       "dsENVIRONMENTSET",   "dsINITIALIZED",    "dsCONFIGURED",
                                       "dsCOMMUNICATIONSET", "dsGOINGONLINE",    "dsGOINGOFFLINE",
                                       "dsONLINE"};
  return state >= 0 && state <= 12 ? kNames[state] : "?";
}

std::string ResultText(HRESULT hr) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(hr));
  struct Known {
    HRESULT hr;
    const char* name;
  };
  static const Known kKnown[] = {{S_OK, "S_OK"},
                                 {S_FALSE, "S_FALSE"},
                                 {E_NOTIMPL, "E_NOTIMPL"},
                                 {E_FAIL, "E_FAIL"},
                                 {E_UNEXPECTED, "E_UNEXPECTED"},
                                 {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
                                 {E_ACCESSDENIED, "E_ACCESSDENIED"},
                                 {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
                                 {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
                                 {CO_E_CLASSSTRING, "CO_E_CLASSSTRING"},
                                 {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "the module cannot be loaded"},
                                 {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "the module lacks the entry point"}};
  for (const Known& k : kKnown)
    if (k.hr == hr) return std::string(number) + " (" + k.name + ")";
  return number;
}

}  // namespace vkr::frame

// The frame host's steps, on the platform's registry, loader and class creation and the FDT
// interfaces only.
#include "frame/FrameHost.h"

#include "include/FdtInterfaces.h"

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

// The names of the key's subkeys; a missing key has none. Other registry errors are returned.
LONG Subkeys(HKEY root, const std::string& path, std::vector<std::string>* names) {
  names->clear();
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (r != ERROR_SUCCESS) return r;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD size = sizeof name;
    r = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) break;
    names->emplace_back(name, size);
  }
  RegCloseKey(key);
  return r == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : r;
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

HRESULT RunModuleRegistration(const std::string& modulePath, bool registering, std::string* problem) {
  std::string why;
  HRESULT hr;
  if (HMODULE m = LoadLibraryA(modulePath.c_str())) {
    const char* entry = registering ? "DllRegisterServer" : "DllUnregisterServer";
    if (auto fn = reinterpret_cast<EntryPoint>(GetProcAddress(m, entry))) {
      hr = fn();
    } else {
      hr = LastError();
      why = modulePath + " does not export " + entry;
    }
    FreeLibrary(m);
  } else {
    hr = LastError();
    why = vkr::platform::LastLoadProblem();
  }
  if (problem) *problem = FAILED(hr) ? why : std::string();
  return hr;
}

HRESULT ListRegisteredClasses(std::vector<RegisteredClass>* classes) {
  if (!classes) return E_POINTER;
  classes->clear();
  std::vector<std::string> ids;
  if (const LONG r = Subkeys(HKEY_CLASSES_ROOT, "CLSID", &ids)) return HRESULT_FROM_WIN32(static_cast<ULONG>(r));
  for (const std::string& clsid : ids) {
    const std::string key = "CLSID\\" + clsid;
    RegisteredClass c;
    c.module = Text(HKEY_CLASSES_ROOT, key + "\\InprocServer32");
    if (c.module.empty()) continue;
    c.clsid = clsid;
    c.progId = Text(HKEY_CLASSES_ROOT, key + "\\ProgID");
    c.description = Text(HKEY_CLASSES_ROOT, key);
    c.threadingModel = Text(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel");
    if (const LONG r = Subkeys(HKEY_CLASSES_ROOT, key + "\\Implemented Categories", &c.categories)) {
      classes->clear();
      return HRESULT_FROM_WIN32(static_cast<ULONG>(r));
    }
    classes->push_back(std::move(c));
  }
  return S_OK;
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
  // A frame knows a DTM it has just created as created; it has nothing more to ask it yet.
  ComPtr<IDtm> idtm;
  hr = dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  if (SUCCEEDED(hr)) out->state = dtm_state::kCreated;
  out->canUnloadWhileAlive = AskCanUnload(out->module);
  idtm = nullptr;
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

LONG StateOfReport(const std::string& name) {
  if (name == "communicationSet") return dtm_state::kCommunicationSet;
  if (name == "goingOnline") return dtm_state::kGoingOnline;
  if (name == "goingOffline") return dtm_state::kGoingOffline;
  if (name == "online") return dtm_state::kOnline;
  return -1;
}

std::string ResultText(HRESULT hr) { return DescribeResult(hr); }

std::string FailureText(HRESULT hr) {
  std::string text = ResultText(hr);
  if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL || hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) {
    const std::string loader = vkr::platform::LastLoadProblem();
    if (!loader.empty()) text += " (" + loader + ")";
  }
  const std::string registry = vkr::platform::RegistryProblem();
  if (!registry.empty()) text += "; the registry file: " + registry;
  return text;
}

}  // namespace vkr::frame

// The VKR DTM object: construction, registry settings, its function table, its registration and
// its additions to the state machine.
#include "module/CVornExampleDtm.h"

#include <string>

#include "include/DtmMessages.h"
#include "module/VornExampleDtmModule.h"
#include "parameters/TransferLists.h"
#include "xml/Log.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\Vorntec\\VKR Series DTM";
constexpr char kCatalogKey[] = "SOFTWARE\\FDT\\DTMCatalogUpdates";
constexpr OLECHAR kDefaultLogDirectory[] = u"C:\\Logging";
constexpr UINT kDtmScript = 101;
// Registry strings are read into buffers of this size; a longer value counts as absent.
constexpr DWORD kMaxSettingBytes = 4000;


// The FDT component categories of a DTM.
constexpr vkr::CATID kCategoryDtm = vkr::MakeGuid("036D1490-387B-11D4-86E1-00E0987270B9");
constexpr vkr::CATID kCategoryDtmFunctions = vkr::MakeGuid("036D1491-387B-11D4-86E1-00E0987270B9");
constexpr vkr::CATID kCategoryHart = vkr::MakeGuid("036D1498-387B-11D4-86E1-00E0987270B9");
const vkr::CategoryMapEntry kDtmCategories[] = {{vkr::kCategoryImplemented, &kCategoryDtm},
                                                {vkr::kCategoryImplemented, &kCategoryDtmFunctions},
                                                {vkr::kCategoryImplemented, &kCategoryHart},
                                                {0, nullptr}};

// The functions that need communication: 1, 2 and 4 go off again below state 9, 3 stays.
constexpr LONG kCommunicationFunctions[] = {1, 2, 4, 3};
constexpr LONG kOfflineFunctions[] = {1, 2, 4};

// The device status byte of the last HART answer (the connection keeps it there).
constexpr ULONG kParDeviceStatus = 1001;
// The FDT status words and the HART device status bits that make them.
constexpr ULONG kStatusWarning = 1;
constexpr ULONG kStatusError = 2;
constexpr BYTE kHartMalfunction = 0x80;
constexpr BYTE kHartWarnings = 0x10 | 0x08 | 0x04 | 0x02 | 0x01;

// A REG_SZ setting, or false when it is missing, of another type or longer than the buffer.
bool ReadString(HKEY key, const char* name, std::string* out) {
  char buffer[kMaxSettingBytes + 1] = {};
  DWORD size = kMaxSettingBytes;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // A value stored without its terminating zero still ends where its data ends.
  buffer[size < kMaxSettingBytes ? size : kMaxSettingBytes] = '\0';
  *out = buffer;
  return true;
}

// A REG_DWORD setting, or false when it is missing or of another type or size.
bool ReadDword(HKEY key, const char* name, DWORD* out) {
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_DWORD || size != sizeof value) return false;
  *out = value;
  return true;
}

}  // namespace

const SFunctionEntry kVornExampleDtmFunctions[] = {
    {3, 12, 1, u"OnlineParameterization...", u"OnlineParameterization ...", u"Help", u"", 0, 2, 0xFFFFFFFF, 0,
     nullptr, &CLSID_OnlineParameterization, u"Vorn.ExampleDtm_OnlineParam", 1, 1, u"", u"", u""},
    {3, 8, 2, u"Trend View...", u"TrendView ...", u"Help", u"", 0, 2, 0xFFFFFFFF, 0, nullptr, &CLSID_TrendView,
     u"Vorn.ExampleDtm_TrendView", 0, 1, u"", u"", u""},
    {2, 0, 3, u"OnlineParam", u"OnlineParam", u"Help", u"", 3, 1, 0xFFFFFFFF, 0, nullptr, &CLSID_OnlineParam,
     u"Vorn.ExampleDtm_OnlineParam2", 0, 0, u"", u"", u""},
    {2, 0, 4, u"OutputLevelSelection", u"OutputLevelSelection", u"Help", u"", 3, 1, 0xFFFFFFFF, 0, nullptr,
     &CLSID_OutputLevelSelection, u"Vorn.ExampleDtm_OutputLevelSel", 0, 0, u"", u"", u""},
    {3, 10, 5, u"OfflineParam", u"OfflineParam", u"OfflineParam", u"", 1, 2, 0xFFFFFFFF, 0, nullptr,
     &CLSID_OfflineParam, u"Vorn.ExampleDtm_OfflineParam", 0, 0, u"", u"", u""},
    {2, 0, 6, u"Echo Trace", u"Echo Trace", u"Help", u"", 3, 1, 0xFFFFFFFF, 0, nullptr, &CLSID_EchoTrace,
     u"VornExampleDtmProject.EchoTrace.1", 0, 0, u"", u"", u""},
    {2, 0, 7, u"DAC Trim", u"DAC Trim", u"Help", u"", 3, 1, 0xFFFFFFFF, 0, nullptr, &CLSID_DACTrimAdj,
     u"VornExampleDtmProject.DACTrimAdj.1", 0, 0, u"", u"", u""},
    {2, 0, 8, u"Self Test Results", u"Self Test Results", u"Help", u"", 3, 1, 0xFFFFFFFF, 0, nullptr,
     &CLSID_SelfTestResults, u"VornExampleDtmProject.SelfTestResults.1", 0, 0, u"", u"", u""},
    {0, 0, 0, nullptr, nullptr, nullptr, u"", 1, 1, 0xFFFFFFFF, 0, nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr,
     nullptr},
};

// ---- Construction ------------------------------------------------------------------------

CVornExampleDtm::CVornExampleDtm() : CovFDT_FunctionContainerImpl<CVornExampleDtm>(kVornExampleDtmFunctions) {
  RegisterProtocol(&m_protocol);
  m_bGoOnlineOnSetCommunication = false;
  // Every new DTM starts with the log off; its final construction switches it as configured.
  SetLogEnabled(false);
}

CVornExampleDtm::~CVornExampleDtm() = default;

void CVornExampleDtm::ModuleLock() { ::ModuleLock(); }
void CVornExampleDtm::ModuleUnlock() { ::ModuleUnlock(); }
HMODULE CVornExampleDtm::ResourceModule() { return g_module.GetModuleInstance(); }

HRESULT CVornExampleDtm::FinalConstruct() {
  ReadRegistrySettings();
  HRESULT hr = InitDtmObject();
  if (FAILED(hr)) return hr;
  if (vkr::ComPtr<IovFDTParamList> lists = QueryDtm<IovFDTParamList>())
    InitTransferLists(lists.Get());  // a list that cannot be made leaves transfers without it
  return S_OK;
}

void CVornExampleDtm::ReadRegistrySettings() {
  std::string directory = vkr::Utf16ToUtf8(kDefaultLogDirectory);
  bool deleteOldLog = true;
  bool logOn = false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    HKEY files = nullptr;
    if (RegOpenKeyExA(key, "Files", 0, KEY_READ, &files) == ERROR_SUCCESS) {
      std::string text;
      if (ReadString(files, "LoggingPath", &text)) directory = text;
      if (ReadString(files, "IconPath", &text)) m_bstrIconPath = vkr::Bstr(vkr::Utf8ToUtf16(text + "\\"));
      RegCloseKey(files);
    }
    DWORD value = 0;
    if (ReadDword(key, "CommLogging", &value) && value != 0) logOn = true;
    if (ReadDword(key, "DoNotDeleteLoggingFile", &value) && value != 0) deleteOldLog = false;
    RegCloseKey(key);
  }
  SetLogDirectory(vkr::Utf8ToUtf16(directory).c_str());
  if (logOn) SetLogEnabled(true);
  if (!IsLogEnabled()) return;
  // The directory is made level by level; levels that exist already are no error.
  std::string prefix;
  for (std::size_t i = 0; i < directory.size(); ++i) {
    prefix += directory[i];
    if (directory[i] == '\\' || directory[i] == '/' || i + 1 == directory.size()) CreateDirectoryA(prefix.c_str(), nullptr);
  }
  if (deleteOldLog) DeleteFileA((directory + "\\" + kLogFileName).c_str());
}

void CVornExampleDtm::FinalRelease() {
  // A frame may let go of the DTM in any state; the DTM thread then has not been stopped yet.
  ReleaseDtmThread();
  WriteLogA("Vorn VKR Series DTM is destroyed");
}

// ---- Registration ------------------------------------------------------------------------

const vkr::CategoryMapEntry* CVornExampleDtm::GetCategoryMap() { return kDtmCategories; }

HRESULT CVornExampleDtm::UpdateRegistry(BOOL bRegister) {
  // Frames rebuild their DTM catalogue when the marker changes; the marker is best effort.
  UUID uuid{};
  const RPC_STATUS status = UuidCreate(&uuid);
  if (status == 0 || status == 1824) {
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) == 0 && text) {
      const std::string flag = std::string("{") + reinterpret_cast<const char*>(text) + "}";
      RpcStringFreeA(&text);
      HKEY key = nullptr;
      LSTATUS s = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCatalogKey, 0, KEY_WRITE, &key);
      if (s != ERROR_SUCCESS)
        s = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCatalogKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                            nullptr, &key, nullptr);
      if (s == ERROR_SUCCESS) {
        RegSetValueExA(key, "ModificationFlag", 0, REG_SZ, reinterpret_cast<const BYTE*>(flag.c_str()),
                       static_cast<DWORD>(flag.size() + 1));
        RegSetValueExA(key, "ModificationComment", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        RegCloseKey(key);
      }
    }
  }
  if (!bRegister) vkr::RegisterClassCategories(CLSID_VornExampleDtm, kDtmCategories, FALSE);
  return UpdateRegistryFromScript(kDtmScript, bRegister);
}

// ---- Interfaces --------------------------------------------------------------------------

HRESULT CVornExampleDtm::QueryExtraInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  // The parts in the order of the interface map. IDtmImportExport, IDtmSingleDeviceDataAccess and
  // IDtmApplication are implemented but not in the map.
  if (SUCCEEDED(QueryBaseInterface(riid, ppv))) return S_OK;
  if (SUCCEEDED(QueryFunctionContainerInterface(riid, ppv))) return S_OK;
  IUnknown* found = nullptr;
  if (riid == IDtmActiveXInformation::iid)
    found = static_cast<IDtmActiveXInformation*>(this);
  else if (riid == IDtmOnlineParameter::iid)
    found = static_cast<IDtmOnlineParameter*>(this);
  if (found) {
    found->AddRef();
    *ppv = found;
    return S_OK;
  }
  if (SUCCEEDED(QueryCommClientInterface(riid, ppv))) return S_OK;
  if (riid == IDtmDocumentation::iid) {
    found = static_cast<IDtmDocumentation*>(this);
    found->AddRef();
    *ppv = found;
    return S_OK;
  }
  if (SUCCEEDED(QueryTranslationInterface(riid, ppv))) return S_OK;
  return E_NOINTERFACE;
}

HRESULT CVornExampleDtm::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}
HRESULT CVornExampleDtm::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return E_NOTIMPL;
}
HRESULT CVornExampleDtm::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CVornExampleDtm::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

HRESULT CVornExampleDtm::InitializeCommunicationProtocol() { return InitializeCurrentProtocol(); }

HRESULT CVornExampleDtm::GetUserInterfaceInfo(BSTR key, ULONG infoId, VARIANT* value) {
  return SetUserInterfaceInfo(key, infoId, value);
}

HRESULT CVornExampleDtm::FindFunctionHandler(LONG functionId, std::string* name, HRESULT (**handler)(IUnknown*)) {
  if (!name || !handler) return E_POINTER;
  SFunctionEntry entry{};
  const HRESULT hr = FindUserInterfaceEntry(functionId, &entry);
  if (FAILED(hr)) return hr;
  *name = vkr::Utf16ToUtf8(vkr::View(entry.pszName));
  *handler = entry.pfnHandler;
  return S_OK;
}

HRESULT CVornExampleDtm::GetRunningFunctionCount(ULONG* count) {
  if (!count) return E_POINTER;
  *count = static_cast<ULONG>(m_openUserInterfaces.size());
  return S_OK;
}

// ---- State machine -----------------------------------------------------------------------

HRESULT CVornExampleDtm::SetDTMState(EDtmState state) {
  const EDtmState old = m_eDtmState;
  const HRESULT hr = CovFDT_BaseDTMCore::SetDTMState(state);
  if (FAILED(hr)) return hr;
  if (state >= dsCOMMUNICATIONSET && old < dsCOMMUNICATIONSET) {
    for (LONG id : kCommunicationFunctions) SetFunctionEnabled(id, TRUE);
  } else if (state < dsCOMMUNICATIONSET && old >= dsCOMMUNICATIONSET) {
    for (LONG id : kOfflineFunctions) SetFunctionEnabled(id, FALSE);
  }
  return S_OK;
}

HRESULT CVornExampleDtm::DtmMessage(VARIANT id, VARIANT argument) {
  ULONG message = 0;
  if (id.vt == VT_UI4) {
    message = id.ulVal;
  } else {
    vkr::Variant converted;
    const HRESULT hr = VariantChangeType(&converted, &id, 0, VT_UI4);
    if (FAILED(hr)) return hr;
    if (converted.vt != VT_UI4) return E_FAIL;
    message = converted.ulVal;
  }
  if (message == kMsgGoOnline || message == kMsgGoOffline) {
    // The answer does not depend on the thread's: the user interface learns the outcome from the
    // state changes.
    ExecuteJob(message == kMsgGoOnline ? kJobGoOnline : kJobGoOffline, argument);
    return S_OK;
  }
  return CovFDT_BaseDTMCore::DtmMessage(id, argument);
}

HRESULT CVornExampleDtm::Config(BSTR userInformation, VARIANT_BOOL* result) {
  // A refusal of the framework (S_FALSE) is S_OK here; the result says what happened. A refused
  // call changes nothing: function 3 stays as it is and the frame hears of no change.
  const HRESULT hr = CovFDT_BaseDTMCore::Config(userInformation, result);
  if (FAILED(hr)) return hr;
  if (*result == VARIANT_TRUE) SetFunctionEnabled(3, FALSE);
  return S_OK;
}

// ---- Documentation ----------------------------------------------------------------------

HRESULT CVornExampleDtm::GetFunctionDocumentation(LONG, BSTR*) { return S_OK; }

// ---- Device status ----------------------------------------------------------------------

HRESULT CVornExampleDtm::InternalGetDeviceStatus(ULONG* status) {
  const HRESULT hr = CovFDT_BaseDTMCore::InternalGetDeviceStatus(status);
  if (FAILED(hr) || *status != 0) return hr;
  vkr::Variant bits;
  if (FAILED(GetParameterValue(vkr::UI4(kParDeviceStatus), bits.Put())) || bits.vt != VT_UI1) return hr;
  if (bits.bVal & kHartMalfunction)
    *status = kStatusError;
  else if (bits.bVal & kHartWarnings)
    *status = kStatusWarning;
  return hr;
}

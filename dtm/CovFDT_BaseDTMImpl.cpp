// The framework base of the DTM object: construction, the state machine, the DTM messages, the
// subscriptions of the user interfaces, and the admission checks of the FDT calls.
#include "dtm/CovFDT_BaseDTMImpl.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <new>
#include <set>

#include "include/CommunicationInterfaces.h"
#include "include/DtmMessages.h"
#include "include/TranslationInterfaces.h"
#include "parameters/AlternativeParameterLists.h"
#include "parameters/DeviceParameterTable.h"
#include "xml/Conversions.h"
#include "include/DtmVariantArgs.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::EmptyVariant;
using vkr::I4;
using vkr::UI4;



// The framework's messages and the texts that go with them.


// DTM-thread jobs started from here.

constexpr ULONG kInfoUpdateList = 32;
constexpr USHORT kUpdateRateOn = 100;

constexpr std::size_t kMaxErrorText = 4096;

}  // namespace

// ---- Admission ---------------------------------------------------------------------------

bool IsCallAdmitted(DtmCall call, EDtmState state, bool fdt121Frame) {
  switch (call) {
    case DtmCall::Environment:
      return state == dsINITNEWPERSIST || state == dsLOADED;
    case DtmCall::InitNew:
      return state == dsENVIRONMENTSET;
    case DtmCall::Config:
      return state == dsINITIALIZED;
    case DtmCall::SetCommunication:
    case DtmCall::PrepareToDelete:
      return state == dsCONFIGURED;
    case DtmCall::ReleaseCommunication:
      return state == dsCOMMUNICATIONSET;
    case DtmCall::PrepareToReleaseCommunication:
      return state >= dsCOMMUNICATIONSET && state <= dsONLINE;
    case DtmCall::PrepareToRelease:
      return state == dsPREPAREDTODELETE || state == dsENVIRONMENTSET || state == dsCONFIGURED;
    case DtmCall::SetLanguage:
      return (state >= dsINITIALIZED && state <= dsONLINE) || (state == dsENVIRONMENTSET && fdt121Frame);
    case DtmCall::PrivateDialogEnabled:
      return state >= dsCONFIGURED && state <= dsONLINE;
    case DtmCall::SetSystemGuiLabel:
      return true;
    case DtmCall::TryToGoOnlineAndVerifyDevice:
      return state == dsCOMMUNICATIONSET || state == dsGOINGONLINE || state == dsONLINE;
  }
  return false;
}

const char* DtmStateName(LONG state) {
  static const char* const kNames[] = {"dsUNDEFINED",       "dsCREATED",         "dsPREPAREDTODELETE",
                                       "dsPREPAREDTORELEASE", "dsINITNEWPERSIST", "dsLOADED",
                                       "dsENVIRONMENTSET",  "dsINITIALIZED",     "dsCONFIGURED",
                                       "dsCOMMUNICATIONSET", "dsGOINGONLINE",     "dsGOINGOFFLINE",
                                       "dsONLINE"};
  return state >= 0 && state <= dsONLINE ? kNames[state] : "?";
}

bool CovFDT_BaseDTMCore::KeyLess::operator()(const std::u16string& a, const std::u16string& b) const {
  vkr::Bstr x(a), y(b);
  return VarBstrCmp(x.Get(), y.Get(), LOCALE_USER_DEFAULT, 0) == VARCMP_LT;
}

// ---- Construction ------------------------------------------------------------------------

// The handler is built before the site it is given; it does not call the site while it is built.
CovFDT_BaseDTMCore::CovFDT_BaseDTMCore() : CovFDT_ParameterHandlerImpl(&m_site) {
  m_hProgressDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_hVerificationDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_hStateSettled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (m_hProgressDone) SetEvent(m_hProgressDone);
}

CovFDT_BaseDTMCore::~CovFDT_BaseDTMCore() {
  if (m_hStateSettled) CloseHandle(m_hStateSettled);
  if (m_hVerificationDone) CloseHandle(m_hVerificationDone);
  if (m_hProgressDone) CloseHandle(m_hProgressDone);
}

void CovFDT_BaseDTMCore::LogEntry(const char* name) {
  if (!IsLogEnabled()) return;
  WriteLogA((std::string("CovFDT_BaseDTMImpl::") + name + "()").c_str());
}

HRESULT CovFDT_BaseDTMCore::QueryBaseInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* found = nullptr;
  if (riid == IovFdtBaseDTM::iid)
    found = static_cast<IovFdtBaseDTM*>(this);
  else if (riid == IovFdtDtmEvents::iid)
    found = static_cast<IovFdtDtmEvents*>(this);
  else if (riid == IDtm::iid)
    found = static_cast<IDtm*>(this);
  else if (riid == IDtm2::iid)
    found = static_cast<IDtm2*>(this);
  else if (riid == IDtmInformation::iid)
    found = static_cast<IDtmInformation*>(this);
  else if (riid == IDtmInformation2::iid)
    found = static_cast<IDtmInformation2*>(this);
  else if (riid == IDtmParameter::iid)
    found = static_cast<IDtmParameter*>(this);
  else if (riid == IDtmDiagnosis::iid)
    found = static_cast<IDtmDiagnosis*>(this);
  else if (riid == IDtmOnlineDiagnosis::iid)
    found = static_cast<IDtmOnlineDiagnosis*>(this);
  else if (riid == IDtmSingleInstanceDataAccess::iid)
    found = static_cast<IDtmSingleInstanceDataAccess*>(this);
  else if (riid == IFdtEvents::iid)
    found = static_cast<IFdtEvents*>(this);
  else if (riid == IPersistStreamInit::iid)
    found = static_cast<IPersistStreamInit*>(this);
  else if (riid == IPersistPropertyBag::iid)
    found = static_cast<IPersistPropertyBag*>(this);
  else if (riid == IovFdtStorageState::iid)
    found = static_cast<IovFdtStorageState*>(this);
  else if (riid == IovFdtExtDocument::iid)
    found = static_cast<IovFdtExtDocument*>(this);
  else if (riid == IovSdaHandler::iid)
    found = static_cast<IovSdaHandler*>(this);
  if (found) {
    found->AddRef();
    *ppv = found;
    return S_OK;
  }
  if (SUCCEEDED(QueryHandlerInterface(riid, ppv))) return S_OK;
  return QueryListInterface(riid, ppv);
}

HRESULT CovFDT_BaseDTMCore::InitDtmObject() {
  LogEntry("InitDtmObject");
  m_lcid = kDefaultLanguage;
  HRESULT hr = Broadcast(UI4(kBroadcastLanguage), I4(static_cast<LONG>(m_lcid)));
  if (FAILED(hr)) return hr;
  hr = FillParameterTable();
  if (FAILED(hr)) return hr;
  hr = SetDTMState(dsCREATED);
  if (FAILED(hr)) return hr;
  InitUserInterface();
  if (vkr::ComPtr<IovFdtDtmTranslation> translation = QueryDtm<IovFdtDtmTranslation>()) {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    translation->LoadTranslationFile(&loaded);  // texts stay English when there is no file
  }
  QueryDtm<IovFdtExtDocument>();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::InitUserInterface() {
  LogEntry("InitUserInterface");
  // There are no common controls to register here: the user-interface platform knows its
  // control classes from the start.
  WriteLogA("InitCommonControlsEx done");
  return S_OK;
}

// ---- State -------------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::GetDTMState(EDtmState* state) {
  if (!state) return E_INVALIDARG;
  *state = m_eDtmState;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SetDTMState(EDtmState state) {
  LogEntry("SetDTMState");
  const EDtmState old = m_eDtmState;
  if (state == dsCONFIGURED && old < dsCONFIGURED) {
    if (m_bDataSetLoaded) Broadcast(I4(kBroadcastDataSetLoaded), EmptyVariant());
    ExecuteJob(kJobFunctionsChanged, EmptyVariant());
  } else if (state == dsCOMMUNICATIONSET && old == dsCONFIGURED) {
    bool done = false;
    OnStateChangedParameters(&done);
  }
  StartOrStopParameterUpdateOnDtmStateChange(old, state);
  m_eDtmState = state;
  UpdateDTMState();
  InternalSetDtmStateBeforeFrameNotify(old, state);
  NotifyFrameWhenOnlineStateChanged(old, state);
  InternalSetDtmStateAfterFrameNotify(old, state);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::StartOrStopParameterUpdateOnDtmStateChange(EDtmState previous, EDtmState current) {
  LogEntry("StartOrStopParameterUpdateOnDtmStateChange");
  if (previous != dsONLINE && current == dsONLINE) return StartParameterUpdate();
  if (previous == dsONLINE && current != dsONLINE) return StopParameterUpdate();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::StartParameterUpdate() {
  LogEntry("StartParameterUpdate");
  vkr::ComPtr<IovFdtDtmThread> thread = GetDtmThread();
  if (!thread) return E_FAIL;
  return thread->SetUpdateRate(I4(kUpdateRateOn));
}

HRESULT CovFDT_BaseDTMCore::StopParameterUpdate() {
  LogEntry("StopParameterUpdate");
  vkr::ComPtr<IovFdtDtmThread> thread = GetDtmThread();
  if (!thread) return E_FAIL;
  return thread->SetUpdateRate(I4(0));
}

HRESULT CovFDT_BaseDTMCore::UpdateDTMState() {
  LogEntry("UpdateDTMState");
  if (vkr::ComPtr<IovFdtActiveXContainer> functions = QueryDtm<IovFdtActiveXContainer>())
    functions->NotifyStateChanged(static_cast<ULONG>(m_eDtmState));
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::InternalSetDtmStateBeforeFrameNotify(EDtmState, EDtmState current) {
  LogEntry("InternalSetDtmStateBeforeFrameNotify");
  if (current == dsCOMMUNICATIONSET || current == dsONLINE)
    SetEvent(m_hStateSettled);
  else if (current == dsGOINGONLINE || current == dsGOINGOFFLINE)
    ResetEvent(m_hStateSettled);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::NotifyFrameWhenOnlineStateChanged(EDtmState previous, EDtmState current) {
  LogEntry("NotifyFrameWhenOnlineStateChanged");
  if (m_bFdt121Frame && m_pFdt121Events) {
    // The document names the state left as the previous one.
    const HRESULT hr = IfOnlineStateChangeNotifyFrame(previous, current);
    return FAILED(hr) ? hr : S_OK;
  }
  HRESULT hr = S_OK;
  if (previous == dsONLINE && current != dsONLINE)
    hr = ExecuteJob(kJobOnlineState, UI4(0));
  else if (previous != dsONLINE && current == dsONLINE)
    hr = ExecuteJob(kJobOnlineState, UI4(1));
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::InternalSetDtmStateAfterFrameNotify(EDtmState previous, EDtmState current) {
  LogEntry("InternalSetDtmStateAfterFrameNotify");
  ULONG message = 0;
  switch (current) {
    case dsPREPAREDTODELETE: message = kMsgPreparedToDelete; break;
    case dsINITIALIZED:
      StopCollectInitError();
      message = kMsgInitialized;
      break;
    case dsCONFIGURED: message = kMsgConfigured; break;
    case dsCOMMUNICATIONSET: message = kMsgCommunicationSet; break;
    case dsONLINE: message = kMsgOnline; break;
    default: return S_OK;
  }
  StartWorker(new (std::nothrow) CStateReachedWorker(UI4(message), I4(previous)));
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::StartWorker(CWorker* worker) {
  if (!worker) return E_OUTOFMEMORY;
  // The thread manager owns the worker from here, also when it cannot start it.
  return ExecuteWorkerThread(worker);
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgDeviceVerification(ULONG id, VARIANT) {
  if (id < kMsgInitialized || id > kMsgPreparedToDelete) return E_INVALIDARG;
  LogEntry("HandleDtmMsgDeviceVerification");
  if (id == kMsgConfigured) {
    if (vkr::ComPtr<IovFdtDeviceVerification> verification = QueryDtm<IovFdtDeviceVerification>()) {
      VARIANT_BOOL done = VARIANT_FALSE;
      verification->SetDeviceVerificationStatus(I4(0), &done);
    }
    ResetEvent(m_hVerificationDone);
  } else if (id == kMsgOnline) {
    if (vkr::ComPtr<IovFdtDeviceVerification> verification = QueryDtm<IovFdtDeviceVerification>()) {
      VARIANT_BOOL verified = VARIANT_FALSE;
      verification->VerifyDevice(&verified);
    }
  }
  auto* worker = new (std::nothrow) CActiveXMessageWorker(id);
  if (!worker) return E_OUTOFMEMORY;
  ExecuteWorkerThread(worker);  // a worker that cannot start is deleted there
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::OnStateChangedParameters(bool* done) {
  if (!done) return E_POINTER;
  *done = false;
  ULONG count = 0;
  HRESULT hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  const ParInfo cleared;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    hr = SetParInfoFields(record.m_nId, PIF_DEV_VALUE, cleared);
    if (FAILED(hr)) return hr;
  }
  *done = true;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::FillParameterTable() {
  LogEntry("FillParameterTable");
  // The handler keeps no separate "loaded" mark: a fresh collection starts at the default
  // data-set state.
  return InitDeviceParameterTable(*this, &Collection(), nullptr);
}

// ---- Errors ------------------------------------------------------------------------------

void CovFDT_BaseDTMCore::OnError(const char* format, ...) {
  LogEntry("OnError");
  if (!format || !*format) return;
  char text[kMaxErrorText + 1];
  va_list args;
  va_start(args, format);
  _vsnprintf_s(text, sizeof text, _TRUNCATE, format, args);
  va_end(args);
  if (m_bCollectInitErrors) {
    m_vecInitErrors.emplace_back(text);
    return;
  }
  VARIANT message;
  VariantInit(&message);
  message.vt = VT_BSTR;
  message.bstrVal = SysAllocString(vkr::Utf8ToUtf16(text).c_str());
  ExecuteJob(kJobShowError, message);
  VariantClear(&message);
}


HRESULT CovFDT_BaseDTMCore::StopCollectInitError() {
  if (!m_bCollectInitErrors) return S_FALSE;
  LogEntry("StopCollectInitError");
  m_bCollectInitErrors = false;
  // Taken out first: a text reported while the jobs run goes straight to the frame.
  std::vector<std::string> texts;
  texts.swap(m_vecInitErrors);
  for (const std::string& t : texts) {
    VARIANT message;
    VariantInit(&message);
    message.vt = VT_BSTR;
    message.bstrVal = SysAllocString(vkr::Utf8ToUtf16(t).c_str());
    ExecuteJob(kJobShowError, message);
    VariantClear(&message);
  }
  return S_OK;
}

// ---- Messages ----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::VariantToBool(const VARIANT& in, bool* out) {
  vkr::Variant converted;
  const HRESULT hr = VariantChangeType(&converted, &in, 0, VT_BOOL);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_BOOL) return E_FAIL;
  *out = converted.boolVal != VARIANT_FALSE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::DtmMessage(VARIANT idVariant, VARIANT argument) {
  LogEntry("DtmMessage");
  ULONG id = 0;
  const HRESULT hr = ToUI4(idVariant, &id);
  if (FAILED(hr)) return hr;
  switch (id) {
    case kMsgAxInitialized: return HandleDtmMsgAxInitialized(argument);
    case kMsgAxReleased:
    case kMsgUpdateRateChanged: return HandleDtmMsgAxReleasedOrUpdateRateChanged(argument, id);
    case kMsgLockDtm: return HandleDtmMsgLockDTM(argument);
    // Posted, not run as a job the caller waits for: a device answer's values reach the DTM
    // thread in one message, without a round trip per response, and only when one of its cyclic
    // reads waits for them.
    case kMsgResponse: return PostResponseJob(argument);
    case kMsgErrorMessage: return HandleDtmMsgErrorMessage(argument);
    case kMsgApplicationClosed: return HandleDtmMsgApplicationClosed(argument);
    case kMsgProgress: return HandleDtmMsgProgress(argument);
    case kMsgChannelFunctionChanged: return HandleDtmMsgChannelFunctionChanged(argument);
    case kMsgUpDownload: return HandleDtmMsgUpDownload(argument);
    case kMsgUpload: return HandleDtmMsgUpload(argument);
    case kMsgDownload: return HandleDtmMsgDownload(argument);
    case kMsgRefreshOnlineCache: return HandleDtmMsgRefreshOnlineCache(argument);
    case kMsgSwitchAuditTrail: return HandleDtmMsgSwitchAuditTrail(argument);
    case kMsgUploadDeviceParams: return HandleDtmMsgUploadDeviceParams(argument);
    case kMsgInitialized:
    case kMsgConfigured:
    case kMsgCommunicationSet:
    case kMsgOnline:
    case kMsgPreparedToDelete: return HandleDtmMsgDeviceVerification(id, argument);
    case kMsgReportText: {
      if (argument.vt != VT_BSTR) return E_UNEXPECTED;
      // The text is data, never a format.
      OnError("%s", vkr::Utf16ToUtf8(vkr::View(argument.bstrVal)).c_str());
      return S_OK;
    }
    case kMsgProgressMessage: return HandleDtmMsgProgressMessage(argument);
    case kMsgSubscribe:
    case kMsgUnsubscribe: return HandleDtmMsgSubscription(id, argument);
    case kMsgIgnored: return S_OK;
    case kMsgDelaySave: return HandleSetDelaySaveRequest(argument);
    default: return S_FALSE;
  }
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgUpDownload(VARIANT argument) {
  // One flag stops a running transfer and keeps its intermediate progress quiet.
  bool flag = false;
  const HRESULT hr = VariantToBool(argument, &flag);
  if (FAILED(hr)) return hr;
  m_bAbortTransfer = flag;
  // A running list transfer stops at its next transaction.
  if (flag) CancelActiveTransfer();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Broadcast(VARIANT id, VARIANT argument) {
  LogEntry("Broadcast");
  vkr::ComPtr<IovFdtActiveXContainer> functions;
  HRESULT hr = GetDtmUnknown()->QueryInterface(IovFdtActiveXContainer::iid, functions.PutVoid());
  if (FAILED(hr)) return hr;
  hr = functions->BroadcastToActiveX(id, argument);
  return FAILED(hr) ? hr : S_OK;
}

// A parameter event of the handler as the user interfaces take it: without an argument the
// parameter id alone; about the data set as a whole (the id is the event's own number) the
// argument alone; otherwise the pair {parameter id, argument}.
HRESULT CovFDT_BaseDTMCore::ParameterSite::NotifyActiveXContainer(VARIANT event, VARIANT id, VARIANT argument) {
  vkr::ComPtr<IovFdtActiveXContainer> functions = m_dtm->QueryDtm<IovFdtActiveXContainer>();
  if (!functions) return S_OK;
  if (argument.vt == VT_EMPTY) return functions->BroadcastToActiveX(event, id);
  if (id.vt == VT_UI4 && event.vt == VT_UI4 && id.ulVal == event.ulVal) return functions->BroadcastToActiveX(event, argument);
  vkr::Variant pair;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return E_OUTOFMEMORY;
  pair.vt = VT_ARRAY | VT_VARIANT;
  pair.parray = array;
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(array, &index, &id);
  index = 1;
  if (SUCCEEDED(hr)) hr = SafeArrayPutElement(array, &index, &argument);
  if (FAILED(hr)) return hr;
  return functions->BroadcastToActiveX(event, pair);
}

// A failed device access: its text goes to every open user interface (a failure without a text
// has nothing to tell them), and with its parameter to the one that started the access, so that
// it can tell the user what did not happen and why. Each failure has a number of its own: a user
// interface that hears it twice (through its frame and itself) keeps it once.
HRESULT CovFDT_BaseDTMCore::ParameterSite::ReportParameterError(VARIANT id, VARIANT, BSTR errorText) {
  if (SysStringLen(errorText) == 0) return S_OK;
  vkr::ComPtr<IovFdtActiveXContainer> functions = m_dtm->QueryDtm<IovFdtActiveXContainer>();
  if (!functions) return S_OK;
  const HRESULT hr = functions->ReportErrorToActiveX(errorText);
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, &id, 0, VT_UI4))) return hr;
  static std::atomic<ULONG> s_failures{0};
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(errorText, SysStringLen(errorText));
  if (!text.bstrVal) return E_OUTOFMEMORY;
  vkr::Variant triple;
  triple.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  if (!triple.parray) return E_OUTOFMEMORY;
  triple.vt = VT_ARRAY | VT_VARIANT;
  const VARIANT parts[] = {number, text, vkr::UI4(++s_failures)};
  for (LONG i = 0; i < 3; ++i)
    if (const HRESULT put = SafeArrayPutElement(triple.parray, &i, const_cast<VARIANT*>(&parts[i])); FAILED(put))
      return put;
  // A user interface that does not take the broadcast changes nothing of the failure's report.
  functions->BroadcastToActiveX(vkr::UI4(kBroadcastDeviceAccessFailed), triple);
  return hr;
}

HRESULT CovFDT_BaseDTMCore::SendParamUpdateInfo(ULONG job, CovVAPacker& record) {
  vkr::Variant packed;
  if (!record.Pack(&packed)) return E_FAIL;
  return ExecuteJob(job, packed);
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgAxReleasedOrUpdateRateChanged(VARIANT keyVariant, ULONG id) {
  vkr::Variant key;
  HRESULT hr = VariantChangeType(&key, &keyVariant, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (key.vt != VT_BSTR) return E_FAIL;
  LogEntry("HandleDtmMsgAxReleasedOrUpdateRateChanged");
  std::vector<SParamUpdateInfo> list;
  if (id != kMsgAxReleased) {
    vkr::Variant packed;
    hr = GetUserInterfaceInfo(key.bstrVal, kInfoUpdateList, &packed);
    if (FAILED(hr)) return hr;
    hr = UnpackParamUpdateInfos(list, packed);
    if (FAILED(hr)) return hr;
  }
  OnDynamicParamChanged(key.bstrVal, list);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::GetUserInterfaceInfo(BSTR, ULONG, VARIANT*) { return E_FAIL; }

HRESULT CovFDT_BaseDTMCore::OnDynamicParamChanged(BSTR keyText, const std::vector<SParamUpdateInfo>& list) {
  if (IsLogEnabled()) WriteLogA("CovFDT_FunctionContainerImpl::OnDynamicParamChanged()");
  const std::u16string key(vkr::View(keyText));
  // The changes are worked out and stored first and the jobs sent afterwards: each job waits and
  // lets other calls in, which may change the subscriptions of this very user interface.
  struct Job {
    ULONG job;
    SParamUpdateInfo record;
  };
  std::vector<Job> jobs;
  auto found = m_subscriptions.find(key);
  std::vector<SParamUpdateInfo> stored = found != m_subscriptions.end() ? found->second : std::vector<SParamUpdateInfo>();
  if (list.empty()) {
    for (const SParamUpdateInfo& r : stored) jobs.push_back({kJobRemoveCyclicRead, r});
    m_subscriptions.erase(key);
  } else {
    for (const SParamUpdateInfo& r : list) {
      auto same = std::find_if(stored.begin(), stored.end(),
                               [&](const SParamUpdateInfo& s) { return s.nParameterId == r.nParameterId; });
      if (same == stored.end()) {
        stored.push_back(r);
        jobs.push_back({kJobAddCyclicRead, r});
      } else if (same->nUpdateRate != r.nUpdateRate) {
        same->nUpdateRate = r.nUpdateRate;
        jobs.push_back({kJobChangeCyclicRead, *same});
      }
    }
    std::set<ULONG> wanted;
    for (const SParamUpdateInfo& r : list) wanted.insert(r.nParameterId);
    std::vector<SParamUpdateInfo> kept;
    for (const SParamUpdateInfo& s : stored) {
      if (wanted.count(s.nParameterId))
        kept.push_back(s);
      else
        jobs.push_back({kJobRemoveCyclicRead, s});
    }
    m_subscriptions[key] = std::move(kept);
  }
  for (Job& j : jobs) SendParamUpdateInfo(j.job, j.record);
  return S_OK;
}

// ---- Language, tag, hooks ----------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::GetCurLanguageId(LCID* language) {
  LogEntry("GetCurLanguageId");
  if (!language) return E_INVALIDARG;
  *language = m_lcid;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::GetSystemTag(BSTR* tag) {
  LogEntry("GetSystemTag");
  if (!tag) return E_INVALIDARG;
  *tag = nullptr;
  return m_bstrSystemTag.CopyTo(tag);
}

HRESULT CovFDT_BaseDTMCore::CanInitNew(VARIANT_BOOL* proceed) {
  if (!proceed) return E_POINTER;
  *proceed = VARIANT_TRUE;
  return S_OK;
}
HRESULT CovFDT_BaseDTMCore::CanLoadDataSet(VARIANT_BOOL* proceed) { return CanInitNew(proceed); }
HRESULT CovFDT_BaseDTMCore::CanSaveDataSet(VARIANT_BOOL* proceed) { return CanInitNew(proceed); }
HRESULT CovFDT_BaseDTMCore::GetDefaultLanguageId(LCID* language) {
  if (!language) return E_POINTER;
  *language = kDefaultLanguage;
  return S_OK;
}
HRESULT CovFDT_BaseDTMCore::OnInitDeviceType() { return S_OK; }
HRESULT CovFDT_BaseDTMCore::OnUnInitDeviceType() { return S_OK; }
HRESULT CovFDT_BaseDTMCore::InitializeCommunicationProtocol() { return S_FALSE; }

// ---- Device type -------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::InitializeDeviceType(bool loaded) {
  if (m_bstrDeviceType.Empty()) return E_UNEXPECTED;
  LogEntry("InitializeDeviceType");
  m_bstrDecodedDeviceType.Attach(DecodeDeviceTypeString(m_bstrDeviceType));
  HRESULT hr = S_OK;
  if (!loaded && m_bstrDecodedDeviceType.Get()) {
    hr = ReInitDevTypeParamCollection(m_bstrDecodedDeviceType);
    if (FAILED(hr)) return hr;
  }
  if (vkr::ComPtr<IovFDTParamList> lists = QueryDtm<IovFDTParamList>()) {
    hr = PrepareWorkingCopies(lists.Get());
    if (FAILED(hr)) return hr;
  }
  hr = InitializeChannels();
  if (FAILED(hr)) {
    OnError("Could not initialize the channels: 0x%08X!", static_cast<unsigned>(hr));
    m_pContainer = nullptr;
    m_pDtmEvents = nullptr;
    return hr;
  }
  hr = OnInitDeviceType();
  if (FAILED(hr)) return hr;
  const HRESULT protocol = InitializeCommunicationProtocol();
  if (FAILED(protocol)) return protocol;
  if (m_eDtmState >= dsCONFIGURED && m_eDtmState <= dsONLINE) SetDataSetModified(TRUE);
  return protocol;
}

HRESULT CovFDT_BaseDTMCore::PrepareWorkingCopies(IovFDTParamList* lists) {
  static const OLECHAR kWorkingCopy[] = u"WORKING_COPY";
  auto text = [](LPCOLESTR s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  };
  vkr::Variant working;
  static_cast<VARIANT&>(working) = text(kWorkingCopy);
  VARIANT_BOOL exists = VARIANT_FALSE, ok = VARIANT_FALSE;
  HRESULT hr = lists->ListExists(working, &exists, &ok);
  if (FAILED(hr)) return hr;
  if (exists) {
    hr = lists->DeleteList(working, &ok);
    if (FAILED(hr)) return hr;
  }
  vkr::Variant names;
  hr = lists->GetChildLists(EmptyVariant(), &names, &ok);
  if (FAILED(hr)) return hr;
  if (names.vt == VT_EMPTY) return S_OK;  // no lists: nothing to copy
  if (names.vt != (VT_ARRAY | VT_VARIANT) || !names.parray) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(names.parray, 1, &lower);
  SafeArrayGetUBound(names.parray, 1, &upper);
  if (upper < lower) return S_OK;
  hr = lists->CreateList(working, EmptyVariant(), EmptyVariant(), EmptyVariant(), &ok);
  if (FAILED(hr)) return hr;
  for (LONG i = lower; i <= upper; ++i) {
    vkr::Variant element, name;
    hr = SafeArrayGetElement(names.parray, &i, &element);
    if (FAILED(hr)) return hr;
    hr = VariantChangeType(&name, &element, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    const std::u16string copy = std::u16string(vkr::View(name.bstrVal)) + u"_DIALOG_COPY";
    vkr::Bstr parent(kWorkingCopy), target(copy);
    hr = InitAlternativeParamLists(name.bstrVal, parent, target);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::UnInitializeDeviceType() {
  LogEntry("UnInitializeDeviceType");
  const HRESULT hr = UnInitializeChannels();
  if (FAILED(hr)) return hr;
  return OnUnInitDeviceType();
}

// ---- FDT calls: arguments and admission --------------------------------------------------

HRESULT CovFDT_BaseDTMCore::Admit(DtmCall call, VARIANT_BOOL* result, HRESULT errorForNull) {
  if (!result) return errorForNull;
  *result = VARIANT_FALSE;
  return IsCallAdmitted(call, m_eDtmState, m_bFdt121Frame) ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::CheckOperationPhase(VARIANT phase) {
  if (phase.vt != VT_BSTR) return E_INVALIDARG;
  LogEntry("CheckOperationPhase");
  static const struct {
    const char16_t* word;
    ULONG phase;
  } kPhases[] = {{u"notSupported", 0}, {u"engineering", 1}, {u"commissioning", 2}, {u"runtime", 4}, {u"service", 8}};
  const std::u16string_view word = vkr::View(phase.bstrVal);
  for (const auto& p : kPhases)
    if (word == p.word) {
      m_nOperationPhase = p.phase;
      break;
    }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::GetFunctions(BSTR operationPhase, BSTR* functions) {
  LogEntry("GetFunctions");
  if (!functions) return E_INVALIDARG;
  // Every refusal answers an empty text: a frame may read the answer whatever it is told.
  *functions = SysAllocString(u"");
  if (!*functions) return E_OUTOFMEMORY;
  if (!operationPhase) return S_FALSE;
  if (m_eDtmState < dsINITIALIZED || m_eDtmState > dsONLINE) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(operationPhase, document.Put(), &loaded)) || !loaded || !document) return S_FALSE;
  vkr::Variant phase;
  bool found = false;
  if (SUCCEEDED(GetXmlString(&phase.bstrVal, &found, document.Get(), vkr::Bstr(u"FDT/@operationPhase")))) {
    phase.vt = VT_BSTR;
    CheckOperationPhase(phase);
  }
  vkr::Bstr elements;
  if (m_eDtmState >= dsCONFIGURED) {
    vkr::ComPtr<IovFdtActiveXContainer> container = QueryDtm<IovFdtActiveXContainer>();
    if (!container || FAILED(container->GetFunctionList(elements.Put()))) return S_FALSE;
  }
  vkr::Bstr answer;
  const HRESULT hr = BstrFormat(answer.Put(),
                                u"<?xml version=\"1.0\"?> <FDT xmlns          =\"x-schema:DTMFunctionsSchema.xml\" "
                                u"\t xmlns:fdt      =\"x-schema:FDTDataTypesSchema.xml\" "
                                u"\t xmlns:appId =\"x-schema:FDTApplicationIdSchema.xml\"> "
                                u"\t<Functions \t\tlabel    =\"Functions\" "
                                u"\t\tfdt:name =\"\" \t\thelp     =\"\" \t> \t\t%s \t</Functions> </FDT>",
                                elements.Get() ? elements.Get() : u"");
  if (FAILED(hr)) return hr;
  SysFreeString(*functions);
  *functions = answer.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::InvokeFunctionRequest(BSTR invokeId, BSTR functionCall, VARIANT_BOOL* invoked) {
  LogEntry("InvokeFunctionRequest");
  if (!invoked) return E_POINTER;
  *invoked = VARIANT_FALSE;
  if (m_nUserLevel < 2 || m_eDtmState < dsCONFIGURED || m_eDtmState > dsONLINE) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(functionCall, document.Put(), &loaded)) || !loaded || !document) return S_FALSE;
  LONG functionId = 0;
  if (FAILED(GetXmlValueI4(&functionId, document.Get(), vkr::Bstr(u"*/FDTFunctionCall/@func:functionId"))))
    return S_FALSE;
  std::string name;
  HRESULT (*handler)(IUnknown*) = nullptr;
  if (FAILED(FindFunctionHandler(functionId, &name, &handler)) || !handler) return S_FALSE;
  SendFunctionEvent(name.c_str(), nullptr);
  const HRESULT hr = handler(GetDtmUnknown());
  if (m_pContainer) {
    vkr::ComPtr<IFdtContainer> container = m_pContainer;
    container->FunctionFinished(invokeId, SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE);
  }
  *invoked = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::FindFunctionHandler(LONG, std::string*, HRESULT (**)(IUnknown*)) { return E_FAIL; }

// ---- The parameter handler's site --------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::SetDataSetModified(BOOL modified) {
  // Dirty whether or not the frame is asked to save: a frame that saves only dirty DTMs must
  // not lose the change. Only a save or a load makes the data set clean again.
  if (modified) MarkDataSetChanged();
  return m_saveRequest.SetDataSetModified(modified, &m_saveSite);
}

HRESULT CovFDT_BaseDTMCore::RebuildAllRelations() {
  // No user interface is open while the relations are built anew, so they tell nobody.
  constexpr ULONG kNoNotification = 0;
  m_bRebuildingRelations = true;
  const HRESULT hr = BuildRelations(kNoNotification);
  m_bRebuildingRelations = false;
  // With building lowered, closing (no batch is open) applies what the build registered.
  ApplyRelations(FALSE);
  return hr;
}

HRESULT CovFDT_BaseDTMCore::DelaySaveRequest(BOOL begin) { return m_saveRequest.DelaySaveRequest(begin, &m_saveSite); }

HRESULT CovFDT_BaseDTMCore::SaveSite::SaveRequest(BSTR tag) {
  // The state asks only with a container; one that went away meanwhile has nobody to ask.
  if (!m_dtm->m_pContainer) return S_FALSE;
  VARIANT_BOOL accepted = VARIANT_FALSE;
  return m_dtm->m_pContainer->SaveRequest(tag, &accepted);
}

HRESULT CovFDT_BaseDTMCore::SaveSite::PostParameterChanged(BSTR document) {
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = document;  // borrowed: the job copies what it keeps
  return m_dtm->ExecuteJob(kJobParameterChanged, text);
}

// ---- The alternative parameter lists -----------------------------------------------------

HRESULT CovFDT_BaseDTMCore::InitAlternativeParamLists(BSTR source, BSTR parent, BSTR target) {
  LogEntry("InitAlternativeParamLists");
  vkr::ComPtr<IovFDTParamList> lists = QueryDtm<IovFDTParamList>();
  if (!lists) return E_POINTER;
  auto text = [](BSTR s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;  // borrowed for the call
    return v;
  };
  // A parent without text makes the copy a root list.
  VARIANT parentKey = parent ? text(parent) : EmptyVariant();
  // Child lists are copied through the virtual operation, so a device class sees every one.
  auto recurse = [this](VARIANT childSource, VARIANT childParent, VARIANT childTarget) -> HRESULT {
    vkr::Variant s, p, t;
    HRESULT hr = VariantChangeType(&s, &childSource, 0, VT_BSTR);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&p, &childParent, 0, VT_BSTR);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&t, &childTarget, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    return InitAlternativeParamLists(s.bstrVal, p.bstrVal, t.bstrVal);
  };
  return CopyAlternativeParamList(lists.Get(), m_bstrDeviceType.Get(), text(source), parentKey, text(target),
                                  recurse);
}

HRESULT CovFDT_BaseDTMCore::OnChildParameterChanged(BSTR, BSTR) { return E_NOTIMPL; }

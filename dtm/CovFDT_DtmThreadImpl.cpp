// The DTM thread object: jobs, the request queue, cyclic reads and the frame notifications.
#include "dtm/CovFDT_DtmThreadImpl.h"

#include <algorithm>
#include <new>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "include/DtmMessages.h"
#include "include/DtmVariantArgs.h"
#include "include/TranslationInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"

namespace {

using vkr::UI4;



HRESULT ToText(const VARIANT& in, vkr::Bstr* out) {
  vkr::Variant converted;
  const HRESULT hr = VariantChangeType(&converted, &in, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_BSTR) return E_FAIL;
  out->Attach(converted.bstrVal);
  converted.vt = VT_EMPTY;
  return S_OK;
}

bool IsEmptyText(BSTR s) { return !s || SysStringLen(s) == 0; }
bool SameText(BSTR a, BSTR b) { return VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ; }

// The process-wide table of thread timers.
struct TimerTable {
  TimerTable() { InitializeCriticalSection(&cs); }
  CRITICAL_SECTION cs;
  std::map<UINT_PTR, CTimerImpl*> owners;
};
TimerTable& Timers() {
  // Built in place and never destroyed: timers may outlive the statics at process exit. Kept in
  // the module's own storage rather than on the heap, so unloading the module frees it.
  alignas(TimerTable) static unsigned char storage[sizeof(TimerTable)];
  static TimerTable* table = new (storage) TimerTable;
  return *table;
}

constexpr ULONG kToolkitUploadFailed = 1008;
constexpr ULONG kToolkitDownloadFailed = 1007;
constexpr DWORD kReleasePolls = 10;
constexpr DWORD kReleasePollMs = 500;

const char16_t kFunctionsRequest[] =
    u"<?xml version=\"1.0\" ?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\"\t\toperationPhase=\"notSupported\"/>";

}  // namespace

// ---- Timer -------------------------------------------------------------------------------

CTimerImpl::~CTimerImpl() { StopTimer(); }

void CTimerImpl::StopTimer() {
  if (!m_nTimerId) return;
  TimerTable& t = Timers();
  EnterCriticalSection(&t.cs);
  t.owners.erase(m_nTimerId);
  LeaveCriticalSection(&t.cs);
  KillTimer(nullptr, m_nTimerId);
  m_nTimerId = 0;
}

HRESULT CTimerImpl::SetTimerInterval(DWORD milliseconds) {
  if (milliseconds == m_dwInterval && (m_nTimerId || !milliseconds || !m_bWork)) return S_OK;
  StopTimer();
  m_dwInterval = 0;
  if (!milliseconds) return S_OK;
  if (!m_bWork) {
    m_dwInterval = milliseconds;
    return S_OK;
  }
  const UINT_PTR id = SetTimer(nullptr, 0, milliseconds, &CTimerImpl::TimerProc);
  if (!id) return E_FAIL;
  m_dwLastTick = GetTickCount();
  m_dwInterval = milliseconds;
  m_dwDelay = milliseconds;
  TimerTable& t = Timers();
  EnterCriticalSection(&t.cs);
  try {
    t.owners[id] = this;
  } catch (const std::bad_alloc&) {
    LeaveCriticalSection(&t.cs);
    KillTimer(nullptr, id);
    m_dwInterval = 0;
    return E_OUTOFMEMORY;
  }
  m_nTimerId = id;
  LeaveCriticalSection(&t.cs);
  PlanNextEvent();
  return S_OK;
}

void CTimerImpl::PlanNextEvent() {
  if (!m_nTimerId || !m_dwInterval) return;
  const unsigned long long interval = m_dwInterval;
  const DWORD intervals = IntervalsUntilWork();
  const unsigned long long since = static_cast<DWORD>(GetTickCount() - m_dwLastTick);
  DWORD delay = USER_TIMER_MAXIMUM;
  if (intervals) {
    const unsigned long long due = intervals * interval;
    if (due > since + 2 * interval) {
      // Idle intervals ahead: one event an interval before the work, and from there the period
      // again, so that the work comes on the grid of the events as it would without the gap.
      delay = static_cast<DWORD>(std::min<unsigned long long>(due - interval - since, USER_TIMER_MAXIMUM));
    } else if (m_dwDelay == m_dwInterval) {
      return;  // the period runs: its own events keep the grid
    } else {
      delay = static_cast<DWORD>(interval - since % interval);  // the next point of the grid
    }
  }
  // The same id again changes the running timer's period, counted from now.
  if (SetTimer(nullptr, m_nTimerId, delay, &CTimerImpl::TimerProc)) m_dwDelay = delay;
}

HRESULT CTimerImpl::SetTimerWork(bool work) {
  m_bWork = work;
  if (!work) {
    StopTimer();
    return S_OK;
  }
  if (m_nTimerId || !m_dwInterval) return S_OK;
  // Started as SetTimerInterval starts it: the interval is dropped while it is made.
  const DWORD interval = m_dwInterval;
  m_dwInterval = 0;
  return SetTimerInterval(interval);
}

void CTimerImpl::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  // The owner is looked up under the table's lock, and the lock is left before the reads run:
  // they call into other apartments, and the table is shared by every DTM of the process. A
  // timer belongs to the thread that set it, and its object ends only on that thread (which is
  // here, in this call), so the object outlives the call.
  TimerTable& t = Timers();
  CTimerImpl* owner = nullptr;
  EnterCriticalSection(&t.cs);
  auto it = t.owners.find(id);
  if (it != t.owners.end()) owner = it->second;
  LeaveCriticalSection(&t.cs);
  if (!owner || owner->m_bInElapsed) return;
  const DWORD elapsed = GetTickCount() - owner->m_dwLastTick;
  owner->m_dwLastTick += elapsed;
  owner->m_bInElapsed = true;
  try {
    owner->OnElapsed(elapsed);
    owner->PlanNextEvent();
  } catch (...) {
  }
  owner->m_bInElapsed = false;
}

// ---- Construction ------------------------------------------------------------------------

CovFDT_DtmThreadImpl::CovFDT_DtmThreadImpl() {
  // The update timer has work only while a parameter is read cyclically: an online DTM that reads
  // nothing is not woken ten times a second.
  SetTimerWork(false);
  InitializeCriticalSectionAndSpinCount(&m_cs, 0);
  // The object is made on its own thread; Run records it again.
  m_threadId = GetCurrentThreadId();
}

CovFDT_DtmThreadImpl::~CovFDT_DtmThreadImpl() {
  // No timer event may find the object while its members go.
  SetTimerInterval(0);
  DeleteCriticalSection(&m_cs);
}

HRESULT CovFDT_DtmThreadImpl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT CovFDT_DtmThreadImpl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_DtmThreadImpl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CovFDT_DtmThreadImpl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

bool CovFDT_DtmThreadImpl::HasPendingRequest() {
  EnterCriticalSection(&m_cs);
  const bool pending = !IsEmptyText(m_currentRequest.bstrInvokeId);
  LeaveCriticalSection(&m_cs);
  return pending;
}

// ---- Message loop ------------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::Run() {
  m_threadId = GetCurrentThreadId();
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_DTM_JOB && !msg.hwnd) {
      auto* job = reinterpret_cast<CDtmJob*>(msg.lParam);
      if (!job) continue;
      VARIANT number = UI4(job->nJob);
      ExecuteAsync(number, job->vArgument);
      VariantClear(&number);
      VariantClear(&job->vArgument);
      CoTaskMemFree(job);
    } else if (msg.message == WM_DTM_CONTINUE_QUEUE && !msg.hwnd) {
      m_queueBusy = false;
      ProcessJobQueue();
    } else {
      DispatchMessageA(&msg);
    }
  }
  DropPostedJobs();
  return S_OK;
}

void CovFDT_DtmThreadImpl::DropPostedJobs() {
  // Jobs posted after the quit message would leak their blocks and the references inside; the
  // ones somebody waits for are signalled, so that nobody waits for a job that will not run.
  MSG msg;
  while (PeekMessageA(&msg, reinterpret_cast<HWND>(-1), WM_DTM_JOB, WM_DTM_JOB, PM_REMOVE)) {
    auto* job = reinterpret_cast<CDtmJob*>(msg.lParam);
    if (!job) continue;
    SignalJobEvent(job->nJob, job->vArgument);
    VariantClear(&job->vArgument);
    CoTaskMemFree(job);
  }
}

void CovFDT_DtmThreadImpl::SignalJobEvent(ULONG job, const VARIANT& argument) {
  vkr::Variant event;
  if (job == kJobGoOnline) {
    event = vkr::Variant(argument);
  } else if ((job == kJobSetDtm || job == kJobSetFrame) && argument.vt == (VT_ARRAY | VT_VARIANT) && argument.parray) {
    LONG lower = 0;
    if (FAILED(SafeArrayGetLBound(argument.parray, 1, &lower)) ||
        FAILED(SafeArrayGetElement(argument.parray, &lower, event.Ptr())))
      return;
  } else {
    return;
  }
  ULONG handle = 0;
  if (SUCCEEDED(ToUI4(event, &handle)) && handle) SetEvent(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)));
}

HRESULT CovFDT_DtmThreadImpl::PostJob(ULONG number, const VARIANT& argument) {
  auto* job = static_cast<CDtmJob*>(CoTaskMemAlloc(sizeof(CDtmJob)));
  if (!job) return E_OUTOFMEMORY;
  job->nJob = number;
  VariantInit(&job->vArgument);
  HRESULT hr = VariantCopy(&job->vArgument, &argument);
  if (FAILED(hr)) {
    CoTaskMemFree(job);
    return hr;
  }
  if (!PostThreadMessageA(m_threadId, WM_DTM_JOB, 0, reinterpret_cast<LPARAM>(job))) {
    VariantClear(&job->vArgument);
    CoTaskMemFree(job);
    return E_FAIL;
  }
  return S_OK;
}

// ---- Jobs --------------------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::PreExecute(VARIANT, VARIANT, VARIANT*, ULONG) { return S_OK; }

HRESULT CovFDT_DtmThreadImpl::Execute(VARIANT job, VARIANT argument, VARIANT* result) {
  ULONG number = 0;
  HRESULT hr = ToUI4(job, &number);
  if (FAILED(hr)) return hr;
  hr = PreExecute(job, argument, result, number);
  if (FAILED(hr)) return hr;
  return ExecuteJob(number, argument);
}

HRESULT CovFDT_DtmThreadImpl::ExecuteJob(ULONG job, const VARIANT& argument) {
  switch (job) {
    case kJobTakeDtm:
    case kJobTakeFrame: {
      vkr::Variant object;
      HRESULT hr = VariantChangeType(&object, &argument, 0, VT_UNKNOWN);
      if (FAILED(hr)) return hr;
      if (object.vt != VT_UNKNOWN) return E_FAIL;
      return PostJob(job, argument);
    }
    case kJobUpload:
    case kJobDownload: return AcceptTransfer(job, argument);
    case kJobCancel: return CancelTransfer(argument);
    case kJobAddCyclicRead: return RegisterCyclicRead(argument);
    case kJobRemoveCyclicRead: return UnregisterCyclicRead(argument);
    case kJobChangeCyclicRead: return LowerCyclicRead(argument);
    case kJobResponse: return ReadCompleted(argument);
    case kJobGoOnline: {
      if (!m_pDtm) return E_FAIL;
      EDtmState state = dsUNDEFINED;
      HRESULT hr = GetDtmState(&state);
      if (FAILED(hr)) return hr;
      if (state != dsCOMMUNICATIONSET) return E_FAIL;
      SetDtmState(dsGOINGONLINE);
      hr = PostJob(job, argument);
      if (FAILED(hr)) SetDtmState(state);
      return hr;
    }
    case kJobGoOffline: {
      if (HasPendingRequest()) return E_FAIL;
      if (!m_pDtm) return E_FAIL;
      EDtmState state = dsUNDEFINED;
      HRESULT hr = GetDtmState(&state);
      if (FAILED(hr)) return hr;
      if (state == dsGOINGOFFLINE) return S_OK;
      if (state != dsONLINE) return E_FAIL;
      SetDtmState(dsGOINGOFFLINE);
      hr = PostJob(job, argument);
      if (FAILED(hr)) SetDtmState(state);
      return hr;
    }
    case kJobUnused: return S_FALSE;
    case kJobCancelRequest: return CallSdaHandler(job, argument);
    case kJobSetDtm:
    case kJobSetFrame:
      // Checked here, not when the job runs: the caller waits for the event inside the array
      // without a time limit, so an argument that carries none must fail at once.
      if (argument.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
      if (!argument.parray) return E_POINTER;
      return PostJob(job, argument);
    default:
      if (job >= kJobFunctionsChanged && job <= kJobSetFrame) return PostJob(job, argument);
      return S_FALSE;
  }
}

HRESULT CovFDT_DtmThreadImpl::OnThreadEvent(VARIANT, VARIANT, BOOL* handled) {
  if (handled) *handled = FALSE;
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::ExecuteAsync(VARIANT job, VARIANT argument) {
  ULONG number = 0;
  HRESULT hr = ToUI4(job, &number);
  if (FAILED(hr)) return hr;
  BOOL handled = FALSE;
  hr = OnThreadEvent(job, argument, &handled);
  if (FAILED(hr)) return hr;
  if (handled) return S_OK;
  return ExecuteAsyncJob(number, argument);
}

HRESULT CovFDT_DtmThreadImpl::ExecuteAsyncJob(ULONG job, const VARIANT& argument) {
  switch (job) {
    case kJobTakeDtm: return TakeInterface(&m_pDtm, argument, IovFdtBaseDTM::iid);
    case kJobTakeFrame: return TakeInterface(&m_pFrame, argument, IFdtContainer::iid);
    case kJobUpload:
    case kJobDownload: {
      SOnlineParamData request;
      if (!request.Unpack(argument)) return E_FAIL;
      QueueOnlineParamRequest(request.bstrInvokeId, request.bstrParameters, job == kJobUpload);
      return S_OK;
    }
    case kJobGoOnline: {
      ULONG handle = 0;
      const bool haveHandle = SUCCEEDED(ToUI4(argument, &handle));
      GoOnline();
      // Only a real handle is signalled; the argument may come from a user interface.
      if (haveHandle && handle) SetEvent(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)));
      return S_OK;
    }
    case kJobGoOffline: return GoOffline();
    case kJobResponse: return ReadCompleted(argument);
    case kJobFunctionsChanged: return RefreshFunctions();
    case kJobScanRequest: return NotifyFrame([](IDtmEvents* e, BSTR tag) { return e->OnScanRequest(tag); });
    case kJobPreparedToRelease: return NotifyFrame([](IDtmEvents* e, BSTR tag) { return e->OnPreparedToRelease(tag); });
    case kJobReleaseCommunication: return WaitForCommunicationRelease();
    case kJobParameterChanged: {
      EDtmState state = dsUNDEFINED;
      if (!m_pDtm) return E_FAIL;
      HRESULT hr = GetDtmState(&state);
      if (FAILED(hr)) return hr;
      if (state < dsINITIALIZED || state > dsONLINE) return S_FALSE;
      return NotifyFrameText(job, argument);
    }
    case kJobShowError:
    case kJobChannelFunctionChanged:
    case kJobNavigation:
    case kJobApplicationClosed: return NotifyFrameText(job, argument);
    case kJobOnlineState: {
      ULONG online = 0;
      HRESULT hr = ToUI4(argument, &online);
      if (FAILED(hr)) return hr;
      return NotifyFrame([&](IDtmEvents* e, BSTR tag) {
        return e->OnOnlineStateChanged(tag, online ? VARIANT_TRUE : VARIANT_FALSE);
      });
    }
    case kJobItemListRequest:
    case kJobReadRequest:
    case kJobWriteRequest: return CallSdaHandler(job, argument);
    case kJobInitializedReached:
    case kJobConfiguredReached:
    case kJobCommunicationSetReached:
    case kJobOnlineReached:
    case kJobPreparedToDeleteReached: return SendDtmMessage(job + kStateReachedJobToMessage, argument);
    case kJobStateEvent: {
      vkr::Bstr text;
      HRESULT hr = ToText(argument, &text);
      if (FAILED(hr)) return hr;
      vkr::Bstr tag;
      hr = GetSystemTag(&tag);
      if (FAILED(hr)) return hr;
      return m_pFrame.CallAs<IFrameDtmStateEvents>(
          E_NOINTERFACE, [&](IFrameDtmStateEvents* e) { return e->OnStateChanged(tag, text); });
    }
    case kJobSetDtm: return TakeInterfaceAndSignal(&m_pDtm, argument, IovFdtBaseDTM::iid);
    case kJobSetFrame: return TakeInterfaceAndSignal(&m_pFrame, argument, IFdtContainer::iid);
    default: return S_FALSE;  // 5 to 9, 20, 23, 27 and unknown numbers
  }
}

HRESULT CovFDT_DtmThreadImpl::TakeInterface(CApartmentRef* holder, const VARIANT& argument, REFIID required) {
  vkr::Variant object;
  HRESULT hr = VariantChangeType(&object, &argument, 0, VT_UNKNOWN);
  if (FAILED(hr)) return hr;
  if (object.vt != VT_UNKNOWN) return E_FAIL;
  if (!object.punkVal) {
    holder->Reset();
    return S_OK;
  }
  // The object must answer the interface the holder stands for; found and asked in one visit
  // to its thread.
  CApartmentRef taken;
  hr = taken.Set(object.punkVal, required);
  if (FAILED(hr)) return hr;
  holder->Swap(taken);
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::TakeInterfaceAndSignal(CApartmentRef* holder, const VARIANT& argument,
                                                     REFIID required) {
  if (argument.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  if (!argument.parray) return E_POINTER;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(argument.parray, 1, &lower);
  SafeArrayGetUBound(argument.parray, 1, &upper);
  vkr::Variant event, object;
  HRESULT hr = S_OK;
  if (upper - lower + 1 < 2) hr = E_INVALIDARG;
  if (SUCCEEDED(hr)) hr = SafeArrayGetElement(argument.parray, &lower, event.Ptr());
  LONG second = lower + 1;
  if (SUCCEEDED(hr)) hr = SafeArrayGetElement(argument.parray, &second, object.Ptr());
  if (SUCCEEDED(hr)) {
    if (object.vt == VT_EMPTY || ((object.vt == VT_UNKNOWN || object.vt == VT_DISPATCH) && !object.punkVal))
      holder->Reset();
    else
      hr = TakeInterface(holder, object, required);
  }
  // Signalled on every path that found the handle: the caller waits for it without a limit.
  ULONG handle = 0;
  if (event.vt != VT_EMPTY && SUCCEEDED(ToUI4(event, &handle)) && handle)
    SetEvent(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)));
  return hr;
}

// ---- Transfers ---------------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::AcceptTransfer(ULONG job, const VARIANT& argument) {
  SOnlineParamData request;
  // Unpacked apart first: a record that does not unpack leaves nothing pending.
  if (!request.Unpack(argument)) return E_FAIL;
  EnterCriticalSection(&m_cs);
  if (!IsEmptyText(m_currentRequest.bstrInvokeId)) {
    LeaveCriticalSection(&m_cs);
    return E_FAIL;
  }
  m_currentRequest.bstrInvokeId = request.bstrInvokeId;
  m_currentRequest.bstrParameters = request.bstrParameters;
  m_currentRequest.bFlag = request.bFlag;
  LeaveCriticalSection(&m_cs);
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_FALSE;
  SendDtmMessage(kMsgUpDownload, flag);
  if (FAILED(PostJob(job, argument))) {
    ClearPendingIf(request.bstrInvokeId);
    return E_FAIL;
  }
  return S_OK;
}

bool CovFDT_DtmThreadImpl::IsPending(BSTR invokeId) {
  EnterCriticalSection(&m_cs);
  const bool same = !IsEmptyText(m_currentRequest.bstrInvokeId) && SameText(m_currentRequest.bstrInvokeId, invokeId);
  LeaveCriticalSection(&m_cs);
  return same;
}

bool CovFDT_DtmThreadImpl::ClearPendingIf(BSTR invokeId) {
  EnterCriticalSection(&m_cs);
  const bool same = !IsEmptyText(m_currentRequest.bstrInvokeId) && SameText(m_currentRequest.bstrInvokeId, invokeId);
  if (same) m_currentRequest.bstrInvokeId.Reset();
  LeaveCriticalSection(&m_cs);
  return same;
}

HRESULT CovFDT_DtmThreadImpl::CancelTransfer(const VARIANT& argument) {
  vkr::Bstr invokeId;
  HRESULT hr = ToText(argument, &invokeId);
  if (FAILED(hr)) return hr;
  const bool online = m_pDtm.Offers<IovFdtOnlineParameter>();
  if (!online && !m_pDtm.Offers<IovFdtParameterHandler4>()) return E_NOINTERFACE;
  if (!IsPending(invokeId)) return S_OK;
  // The cancel runs without the lock: it calls the DTM, and the request may end meanwhile.
  VARIANT_BOOL done = VARIANT_FALSE;
  if (online)
    hr = m_pDtm.CallAs<IovFdtOnlineParameter>(
        E_NOINTERFACE, [&](IovFdtOnlineParameter* p) { return p->CancelOnlineParameters(invokeId, &done); });
  else
    hr = m_pDtm.CallAs<IovFdtParameterHandler4>(E_NOINTERFACE,
                                                [&](IovFdtParameterHandler4* p) { return p->CancelTransfer(&done); });
  if (SUCCEEDED(hr) && done) ClearPendingIf(invokeId);
  return S_OK;
}

void CovFDT_DtmThreadImpl::QueueOnlineParamRequest(BSTR invokeId, BSTR parameters, bool upload) {
  CDtmQueuedRequest request;
  request.nKind = upload ? 1 : 2;
  request.bstrInvokeId = vkr::Bstr(invokeId);
  request.bstrParameters = vkr::Bstr(parameters);
  auto at = m_queue.begin();
  while (at != m_queue.end() && (at->nKind == 1 || at->nKind == 2)) ++at;
  try {
    m_queue.insert(at, std::move(request));
  } catch (const std::bad_alloc&) {
    ClearPendingIf(invokeId);
    TellDownloadEnd(upload, VARIANT_FALSE);
    return;
  }
  ProcessJobQueue();
}

void CovFDT_DtmThreadImpl::ProcessJobQueue() {
  if (m_queue.empty() || m_queueBusy) return;
  m_queueBusy = true;
  CDtmQueuedRequest request = std::move(m_queue.front());
  m_queue.pop_front();
  if (request.nKind == 1)
    ProcessUploadRequest(request.bstrInvokeId, request.bstrParameters);
  else
    ProcessDownloadRequest(request.bstrInvokeId, request.bstrParameters);
  // A queue that cannot be continued must not stay busy for good.
  if (!PostThreadMessageA(m_threadId, WM_DTM_CONTINUE_QUEUE, 0, 0)) m_queueBusy = false;
}

HRESULT CovFDT_DtmThreadImpl::ProcessUploadRequest(BSTR invokeId, BSTR parameters) {
  return ProcessRequest(invokeId, parameters, true);
}

HRESULT CovFDT_DtmThreadImpl::ProcessDownloadRequest(BSTR invokeId, BSTR parameters) {
  return ProcessRequest(invokeId, parameters, false);
}

void CovFDT_DtmThreadImpl::TellDownloadEnd(bool upload, VARIANT_BOOL success) {
  // A user interface that waits for the download it asked for learns its end on every road, after
  // the DTM's word on it: it never waits for an end that will not come.
  if (upload) return;
  VARIANT done;
  VariantInit(&done);
  done.vt = VT_BOOL;
  done.boolVal = success ? VARIANT_TRUE : VARIANT_FALSE;
  m_pDtm.CallAs<IovFdtActiveXContainer>(E_NOINTERFACE, [&](IovFdtActiveXContainer* c) {
    return c->BroadcastToActiveX(vkr::UI4(kBroadcastDownloadDone), done);
  });
}

HRESULT CovFDT_DtmThreadImpl::ProcessRequest(BSTR invokeId, BSTR parameters, bool upload) {
  if (!m_pFrame.Offers<IDtmEvents>()) {
    // Nobody can be told; the request must not stay pending and block every later one.
    ClearPendingIf(invokeId);
    TellDownloadEnd(upload, VARIANT_FALSE);
    return E_FAIL;
  }
  VARIANT_BOOL success = VARIANT_FALSE;
  HRESULT hr = S_FALSE;
  bool called = false;
  if (m_pDtm.Offers<IovFdtOnlineParameter>()) {
    called = true;
    hr = m_pDtm.CallAs<IovFdtOnlineParameter>(E_NOINTERFACE, [&](IovFdtOnlineParameter* p) {
      return upload ? p->UploadParameterList(parameters, invokeId, &success)
                    : p->DownloadParameterList(parameters, invokeId, &success);
    });
  } else if (m_pDtm.Offers<IovFdtParameterHandler4>()) {
    called = true;
    hr = m_pDtm.CallAs<IovFdtParameterHandler4>(E_NOINTERFACE, [&](IovFdtParameterHandler4* p) {
      return upload ? p->UploadOnlineParameters(parameters, &success) : p->DownloadOnlineParameters(parameters, &success);
    });
  }
  if (hr == E_ABORT) {
    // A cancel through job 5 has cleared the pending id and its caller knows. One raised another
    // way (the cancel flag) leaves the request pending: it ends here as failed, or no transfer
    // could follow and the DTM could never go offline.
    if (ClearPendingIf(invokeId)) {
      vkr::Bstr id(invokeId);
      m_pFrame.CallAs<IDtmEvents>(E_FAIL, [&](IDtmEvents* e) {
        return upload ? e->OnUploadFinished(id, VARIANT_FALSE) : e->OnDownloadFinished(id, VARIANT_FALSE);
      });
    }
    TellDownloadEnd(upload, VARIANT_FALSE);
    return S_OK;
  }
  // A call that failed is a failed transfer, whatever its flag says.
  if (FAILED(hr)) success = VARIANT_FALSE;
  if (called && !success) {
    vkr::Bstr text;
    GetToolkitMessageText(upload ? kToolkitUploadFailed : kToolkitDownloadFailed, text.Put());
    if (IsEmptyText(text)) text = vkr::Bstr(upload ? u"Upload parameters failed" : u"Download parameters failed");
    // Only the request that is still pending speaks: one cancelled meanwhile has ended.
    if (IsPending(invokeId)) {
      NotifyFrame([&](IDtmEvents* e, BSTR tag) { return e->OnErrorMessage(tag, text); });
      // The open user interfaces hear it too: one of them may wait for the transfer it asked for.
      m_pDtm.CallAs<IovFdtActiveXContainer>(
          E_NOINTERFACE, [&](IovFdtActiveXContainer* c) { return c->ReportErrorToActiveX(text.Get()); });
    }
  }
  // The end is reported for this request's own id, and only while it is the pending one: a
  // request accepted after a cancel must not be reported as finished by this one.
  if (ClearPendingIf(invokeId)) {
    vkr::Bstr id(invokeId);
    m_pFrame.CallAs<IDtmEvents>(E_FAIL, [&](IDtmEvents* e) {
      return upload ? e->OnUploadFinished(id, success) : e->OnDownloadFinished(id, success);
    });
  }
  TellDownloadEnd(upload, called ? success : VARIANT_FALSE);
  return S_OK;
}

// ---- Online and offline ------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::GoOnline() {
  if (!m_pDtm) return E_FAIL;
  EDtmState state = dsUNDEFINED;
  HRESULT hr = GetDtmState(&state);
  if (FAILED(hr)) return hr;
  if (state != dsGOINGONLINE) return S_FALSE;
  if (m_pDtm.Offers<IovFdtCommClientOnlineState>()) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = m_pDtm.CallAs<IovFdtCommClientOnlineState>(E_NOINTERFACE,
                                                    [&](IovFdtCommClientOnlineState* c) { return c->GoOnline(&ok); });
    if (FAILED(hr) || !ok) {
      SetDtmState(dsCOMMUNICATIONSET);
      return S_FALSE;
    }
  }
  if (m_pDtm.Offers<IovFDTGenericCommService>()) {
    m_genericRequest.Clear();
    // The sink goes to the DTM's apartment as a proxy of this object.
    vkr::ComPtr<IUnknown> sink;
    if (SUCCEEDED(vkr::platform::WrapInterface(GetControllingUnknown(), IID_IUnknown, sink.PutVoid()))) {
      vkr::Variant handle;
      m_pDtm.CallAs<IovFDTGenericCommService>(E_NOINTERFACE, [&](IovFDTGenericCommService* g) {
        VARIANT_BOOL flag = VARIANT_FALSE;
        vkr::Variant local;
        const HRESULT h = g->SendGenericRequestAsync(sink.Get(), local.Ptr(), &flag);
        vkr::platform::MarshalVariant(handle.Put(), local.Ptr());
        return h;
      });
      m_genericRequest = std::move(handle);
    }
  }
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::GoOffline() {
  if (!m_pDtm) return E_FAIL;
  EDtmState state = dsUNDEFINED;
  HRESULT hr = GetDtmState(&state);
  if (FAILED(hr)) return hr;
  if (state != dsGOINGOFFLINE) return S_FALSE;
  if (m_genericRequest.vt != VT_EMPTY && m_pDtm.Offers<IovFDTGenericCommService>()) {
    vkr::Variant handle = std::move(m_genericRequest);
    m_genericRequest.Clear();
    m_pDtm.CallAs<IovFDTGenericCommService>(E_NOINTERFACE, [&](IovFDTGenericCommService* g) {
      VARIANT_BOOL flag = VARIANT_FALSE;
      return g->CancelGenericRequest(handle, &flag);
    });
  }
  if (m_pDtm.Offers<IovFdtCommClientOnlineState>()) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = m_pDtm.CallAs<IovFdtCommClientOnlineState>(E_NOINTERFACE,
                                                    [&](IovFdtCommClientOnlineState* c) { return c->GoOffline(&ok); });
    if (FAILED(hr)) {
      SetDtmState(dsONLINE);
      return S_FALSE;
    }
  }
  m_queueBusy = false;
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::OnGenericCommServiceEvent(VARIANT, VARIANT, VARIANT) {
  PostThreadMessageA(m_threadId, WM_DTM_CONTINUE_QUEUE, 0, 0);
  return S_OK;
}

// ---- Cyclic reads ------------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::SetUpdateRate(VARIANT milliseconds) {
  ULONG ms = 0;
  const HRESULT hr = ToUI4(milliseconds, &ms);
  if (FAILED(hr)) return hr;
  return SetTimerInterval(ms);
}

HRESULT CovFDT_DtmThreadImpl::RegisterCyclicRead(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.Unpack(argument)) return E_FAIL;
  auto it = m_readRegistrations.find(info.nParameterId);
  if (it == m_readRegistrations.end()) {
    CCyclicRead read;
    read.nParameterId = info.nParameterId;
    read.nInterval = info.nUpdateRate;
    read.nCountdown = info.nUpdateRate;
    read.nRefCount = 1;
    try {
      m_readRegistrations.emplace(info.nParameterId, read);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = SetTimerWork(true);
    PlanNextEvent();
    return hr;
  }
  CCyclicRead& read = it->second;
  if (info.nUpdateRate < read.nInterval) read.nInterval = info.nUpdateRate;
  if (read.nCountdown > read.nInterval) read.nCountdown = read.nInterval;
  ++read.nRefCount;
  PlanNextEvent();
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::UnregisterCyclicRead(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.Unpack(argument)) return E_FAIL;
  auto it = m_readRegistrations.find(info.nParameterId);
  if (it == m_readRegistrations.end()) return E_FAIL;
  if (--it->second.nRefCount == 0) {
    m_readRegistrations.erase(it);
    UpdatePendingReads();
    if (m_readRegistrations.empty()) SetTimerWork(false);
  }
  return S_OK;
}

void CovFDT_DtmThreadImpl::PublishPendingReads(std::shared_ptr<PendingReadCount> counter) {
  m_pendingReads = std::move(counter);
  UpdatePendingReads();
}

HRESULT CovFDT_DtmThreadImpl::TakeStartObject(ULONG job, CApartmentRef* holder) {
  if (!holder || !*holder || (job != kJobSetDtm && job != kJobSetFrame)) return E_INVALIDARG;
  (job == kJobSetDtm ? m_pDtm : m_pFrame).Swap(*holder);
  return S_OK;
}

void CovFDT_DtmThreadImpl::UpdatePendingReads() {
  if (!m_pendingReads) return;
  LONG pending = 0;
  for (const auto& entry : m_readRegistrations)
    if (entry.second.bPending) ++pending;
  m_pendingReads->store(pending, std::memory_order_release);
}

HRESULT CovFDT_DtmThreadImpl::LowerCyclicRead(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.Unpack(argument)) return E_FAIL;
  auto it = m_readRegistrations.find(info.nParameterId);
  if (it == m_readRegistrations.end()) return E_FAIL;
  CCyclicRead& read = it->second;
  if (info.nUpdateRate < read.nInterval) {
    read.nInterval = info.nUpdateRate;
    if (read.nCountdown > read.nInterval) read.nCountdown = read.nInterval;
    PlanNextEvent();
  }
  return S_OK;
}

HRESULT CovFDT_DtmThreadImpl::ReadCompleted(const VARIANT& argument) {
  // The values of one response come as one array of their ids.
  if (argument.vt == (VT_ARRAY | VT_UI4) && argument.parray && SafeArrayGetDim(argument.parray) == 1) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(argument.parray, 1, &lower);
    SafeArrayGetUBound(argument.parray, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
      ULONG id = 0;
      if (FAILED(SafeArrayGetElement(argument.parray, &i, &id))) {
        UpdatePendingReads();
        return E_INVALIDARG;
      }
      auto it = m_readRegistrations.find(id);
      if (it != m_readRegistrations.end()) it->second.bPending = false;
    }
    UpdatePendingReads();
    PlanNextEvent();
    return S_OK;
  }
  ULONG id = 0;
  const HRESULT hr = ToUI4(argument, &id);
  if (FAILED(hr)) return hr;
  auto it = m_readRegistrations.find(id);
  if (it != m_readRegistrations.end()) it->second.bPending = false;
  UpdatePendingReads();
  PlanNextEvent();
  return S_OK;
}

DWORD CovFDT_DtmThreadImpl::IntervalsUntilWork() {
  // An event reads a parameter once its countdown is within the time since the last event; the
  // events before that one would only count down. A read still waiting for its completion at the
  // end of its countdown waits for job 9, which plans again.
  const DWORD interval = TimerInterval();
  if (!interval) return 1;
  DWORD soonest = 0;
  for (const auto& [id, read] : m_readRegistrations) {
    if (read.bPending && read.nCountdown == 0) continue;
    const DWORD n = std::max<DWORD>(1, read.nCountdown / interval + (read.nCountdown % interval ? 1 : 0));
    if (!soonest || n < soonest) soonest = n;
  }
  return soonest;
}

void CovFDT_DtmThreadImpl::OnElapsed(DWORD elapsed) {
  if (!m_pDtm) return;
  // The reads call the DTM, and a nested job may register or remove parameters meanwhile: walk a
  // list of the ids and find each record again after every call.
  std::vector<ULONG> ids;
  ids.reserve(m_readRegistrations.size());
  for (const auto& entry : m_readRegistrations) ids.push_back(entry.first);
  for (ULONG id : ids) {
    auto it = m_readRegistrations.find(id);
    if (it == m_readRegistrations.end()) continue;
    CCyclicRead& read = it->second;
    if (read.nCountdown > elapsed) {
      read.nCountdown -= elapsed;
      continue;
    }
    if (read.bPending) {
      read.nCountdown = 0;  // read again at the first tick after the completion
      continue;
    }
    read.nCountdown = read.nInterval;
    read.bPending = true;
    UpdatePendingReads();  // before the read is asked for: its answer must reach this thread
    VARIANT_BOOL started = VARIANT_FALSE;
    const HRESULT hr = m_pDtm.CallAs<IovFdtParameterHandler4>(E_NOINTERFACE, [&](IovFdtParameterHandler4* h) {
      VARIANT parameter = UI4(id);
      return h->ReadDeviceParameter(parameter, &started);
    });
    if (FAILED(hr) || !started) {
      auto again = m_readRegistrations.find(id);
      if (again != m_readRegistrations.end()) again->second.bPending = false;
      UpdatePendingReads();
    }
  }
}

// ---- Other jobs --------------------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::RefreshFunctions() {
  if (!m_pDtm) return E_POINTER;
  vkr::Bstr functions;
  HRESULT hr = m_pDtm.CallAs<IDtm>(E_NOINTERFACE, [&](IDtm* dtm) {
    vkr::Bstr request(kFunctionsRequest);
    return dtm->GetFunctions(request, functions.Put());
  });
  if (FAILED(hr)) return hr;
  if (SameText(functions, m_functions) && (IsEmptyText(functions) == IsEmptyText(m_functions))) return S_OK;
  m_functions = std::move(functions);
  EDtmState state = dsUNDEFINED;
  hr = GetDtmState(&state);
  if (FAILED(hr)) return hr;
  if (state < dsINITIALIZED) return S_OK;
  return NotifyFrame([](IDtmEvents* e, BSTR tag) { return e->OnFunctionChanged(tag); });
}

HRESULT CovFDT_DtmThreadImpl::WaitForCommunicationRelease() {
  EDtmState state = dsUNDEFINED;
  HRESULT hr = GetDtmState(&state);
  if (FAILED(hr)) return hr;
  for (DWORD i = 0; state != dsCOMMUNICATIONSET && i < kReleasePolls; ++i) {
    Sleep(kReleasePollMs);
    hr = GetDtmState(&state);
    if (FAILED(hr)) return hr;
  }
  if (state != dsCOMMUNICATIONSET) return S_FALSE;
  return NotifyFrame([](IDtmEvents* e, BSTR tag) { return e->OnPreparedToReleaseCommunication(tag); });
}

HRESULT CovFDT_DtmThreadImpl::CallSdaHandler(ULONG job, const VARIANT& argument) {
  if (!m_pDtm || !m_pDtm.Offers<IovSdaHandler>()) return S_OK;
  vkr::Bstr text;
  if (job == kJobItemListRequest || job == kJobCancelRequest) {
    const HRESULT hr = ToText(argument, &text);
    if (FAILED(hr)) return hr;
  }
  return m_pDtm.CallAs<IovSdaHandler>(S_OK, [&](IovSdaHandler* h) -> HRESULT {
    switch (job) {
      case kJobItemListRequest: return h->HandleItemListRequest(text);
      case kJobReadRequest: return h->HandleReadRequest(argument);
      case kJobWriteRequest: return h->HandleWriteRequest(argument);
      default: {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = text;
        return h->HandleCancelRequest(v);
      }
    }
  });
}

// ---- The DTM and the frame ---------------------------------------------------------------

HRESULT CovFDT_DtmThreadImpl::GetDtmState(EDtmState* state) {
  return m_pDtm.CallAs<IovFdtBaseDTM>(E_FAIL, [&](IovFdtBaseDTM* dtm) { return dtm->GetDTMState(state); });
}

HRESULT CovFDT_DtmThreadImpl::SetDtmState(EDtmState state) {
  return m_pDtm.CallAs<IovFdtBaseDTM>(E_FAIL, [&](IovFdtBaseDTM* dtm) { return dtm->SetDTMState(state); });
}

HRESULT CovFDT_DtmThreadImpl::GetSystemTag(vkr::Bstr* tag) {
  if (!m_pDtm) return E_FAIL;
  return m_pDtm.CallAs<IovFdtBaseDTM>(E_FAIL, [&](IovFdtBaseDTM* dtm) { return dtm->GetSystemTag(tag->Put()); });
}

template <class F>
HRESULT CovFDT_DtmThreadImpl::NotifyFrame(F&& fn) {
  vkr::Bstr tag;
  HRESULT hr = GetSystemTag(&tag);
  if (FAILED(hr)) return E_FAIL;
  if (!m_pFrame) return E_FAIL;
  return m_pFrame.CallAs<IDtmEvents>(E_FAIL, [&](IDtmEvents* e) { return fn(e, tag.Get()); });
}

HRESULT CovFDT_DtmThreadImpl::NotifyFrameText(ULONG job, const VARIANT& argument) {
  vkr::Bstr text;
  HRESULT hr = ToText(argument, &text);
  if (FAILED(hr)) return hr;
  if (job == kJobApplicationClosed) {
    // The application's invoke id alone.
    if (!m_pDtm) return E_FAIL;
    return m_pFrame.CallAs<IDtmEvents>(E_FAIL, [&](IDtmEvents* e) { return e->OnApplicationClosed(text); });
  }
  return NotifyFrame([&](IDtmEvents* e, BSTR tag) -> HRESULT {
    switch (job) {
      case kJobParameterChanged: return e->OnParameterChanged(tag, text);
      case kJobShowError: return e->OnErrorMessage(tag, text);
      case kJobChannelFunctionChanged: return e->OnChannelFunctionChanged(tag, text);
      default: return e->OnNavigation(tag, text);
    }
  });
}

HRESULT CovFDT_DtmThreadImpl::SendDtmMessage(ULONG id, const VARIANT& argument) {
  const HRESULT hr = m_pDtm.CallAs<IovFdtDtmEvents>(E_FAIL, [&](IovFdtDtmEvents* events) {
    return events->DtmMessage(UI4(id), argument);
  });
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT CovFDT_DtmThreadImpl::GetToolkitMessageText(ULONG id, BSTR* text) {
  if (!text) return E_UNEXPECTED;
  *text = nullptr;
  if (!m_pDtm.Offers<IovFdtTranslation>()) return S_OK;
  char xpath[96];
  _snprintf_s(xpath, sizeof xpath, _TRUNCATE, "localization/ToolkitMessages/Message[@id=\"%d\"]", static_cast<int>(id));
  vkr::Bstr path(vkr::Utf8ToUtf16(xpath));
  vkr::Bstr found;
  m_pDtm.CallAs<IovFdtTranslation>(S_OK, [&](IovFdtTranslation* t) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    return t->GetTranslation(path, found.Put(), &ok);
  });
  *text = found.Detach();
  return S_OK;
}

// The thread manager: the DTM thread's start and stop, its job calls, and the worker threads.
#include "dtm/CovFDT_ThreadManagerImpl.h"

#include <deque>
#include <mutex>
#include <new>
#include <utility>

#include "dtm/CovFDT_DtmThreadImpl.h"
#include "include/DtmMessages.h"
#include "include/DtmThreadInterfaces.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"

namespace {

// Handed to the DTM thread; the thread deletes it.
struct StartRecord {
  CovFDT_ThreadManagerImpl* manager = nullptr;
  IStream** stream = nullptr;
  HANDLE ready = nullptr;
  CLSID clsid{};
  // Where the thread object publishes its waiting cyclic reads.
  std::shared_ptr<PendingReadCount> pendingReads;
  // The DTM's link and the frame's container, found and asked on the manager's thread already
  // (either may be empty); a container of another apartment travels marshalled instead.
  CApartmentRef dtm;
  CApartmentRef frame;
  IStream* frameStream = nullptr;
};

// Gives the thread object one interface as the hand-over job `job` (34 or 35) does, without an
// event to signal: the thread runs it itself before anybody can reach it. `held` is a pointer the
// calling thread may use (a proxy); null hands nothing over.
void HandOver(IovFdtDtmThread* object, ULONG job, IUnknown* held) {
  if (!held) return;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return;
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_UI4;
  element.ulVal = 0;
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(array, &index, &element);
  element.vt = VT_UNKNOWN;
  element.punkVal = held;  // SafeArrayPutElement takes its own reference
  index = 1;
  if (SUCCEEDED(hr)) hr = SafeArrayPutElement(array, &index, &element);
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_ARRAY | VT_VARIANT;
  argument.parray = array;
  if (SUCCEEDED(hr)) {
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_UI4;
    number.ulVal = job;
    object->ExecuteAsync(number, argument);
  }
  VariantClear(&argument);
}

// The thread's part of a hand-over: the object found already is taken directly by a thread
// object of ours, else handed over as the job would be.
void HandOver(IovFdtDtmThread* object, IDtmThreadStart* starter, ULONG job, CApartmentRef* found) {
  if (!*found) return;
  if (starter && SUCCEEDED(starter->TakeStartObject(job, found))) return;
  HandOver(object, job, found->Held());
}

constexpr DWORD kExitNoContext = 183;
constexpr DWORD kExitTerminated = 1;

ULONG HandleValue(HANDLE h) { return static_cast<ULONG>(reinterpret_cast<UINT_PTR>(h)); }

}  // namespace

// Handed to a worker thread; the thread deletes it.
struct CovFDT_ThreadManagerImpl::WorkerContext {
  IStream* frame = nullptr;
  IStream* dtm = nullptr;
  CWorker* worker = nullptr;
  std::shared_ptr<LONG> deliveries;
};

// The workers that keep their order, in the order they were handed over, and whether a delivery
// thread is taking them: it runs them one by one and ends when none is left.
struct CovFDT_ThreadManagerImpl::OrderedWorkers {
  std::mutex lock;
  std::deque<WorkerContext*> waiting;
  bool delivering = false;
};

HRESULT CDtmLink::QueryExtraInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (!m_dtm) return E_NOINTERFACE;
  return m_dtm->QueryInterface(riid, ppv);
}

CovFDT_ThreadManagerImpl::~CovFDT_ThreadManagerImpl() {
  CompleteDtmThreadStart();
  if (m_pStream) m_pStream->Release();
  ReleaseDtmThread();
  for (HANDLE thread : m_workerThreads) CloseHandle(thread);
}

const CLSID& CovFDT_ThreadManagerImpl::GetDtmThreadClassId() {
  static const CLSID none{};
  return none;
}

// ---- The DTM thread ----------------------------------------------------------------------

bool CovFDT_ThreadManagerImpl::StartDtmThread(IUnknown* frame) {
  if (!BeginDtmThread(frame)) return false;
  return CompleteDtmThreadStart();
}

bool CovFDT_ThreadManagerImpl::BeginDtmThread(IUnknown* frame) {
  if (m_hThread) {
    if (frame) ExecuteMarshalledJob(kJobSetFrame, frame);
    return true;
  }
  RegisterDtmThreadProxies();
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return false;
  auto* start = new (std::nothrow) StartRecord;
  if (start) {
    start->manager = this;
    start->stream = &m_pStream;
    start->ready = ready;
    start->clsid = GetDtmThreadClassId();
  }
  if (!start) {
    CloseHandle(ready);
    return false;
  }
  try {
    start->pendingReads = std::make_shared<PendingReadCount>(-1);
  } catch (const std::bad_alloc&) {
    start->pendingReads = nullptr;  // the thread is then woken for every answer
  }
  std::shared_ptr<PendingReadCount> pendingReads = start->pendingReads;
  // The thread reaches the DTM through a link it does not keep the DTM alive with. The link and
  // the frame are objects of this thread that nobody else holds yet: they are found and asked
  // here and travel with the start, and the thread takes them before it signals that it is
  // ready, with no job and no visit back here for either. An object that does not answer what
  // its holder stands for is not handed over, as the hand-over job would not take it.
  IUnknown* dtm = GetThreadManagerDtm();
  vkr::ComPtr<vkr::ComObject<CDtmLink>> link;
  if (dtm && SUCCEEDED(vkr::MakeObject<CDtmLink>(&link))) {
    link->Attach(dtm);
    start->dtm.SetForOtherThread(static_cast<IApartmentCallObserver*>(link.Get()), IovFdtBaseDTM::iid);
  }
  if (frame && start->frame.SetForOtherThread(frame, IFdtContainer::iid) == E_INVALIDARG &&
      FAILED(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, frame, &start->frameStream)))
    start->frameStream = nullptr;
  m_hThread = CreateThread(nullptr, 0, &DtmThreadMain, start, 0, &m_dwThreadId);
  if (!m_hThread) {
    if (start->frameStream) start->frameStream->Release();
    delete start;
    if (link) link->Detach();
    m_dwThreadId = 0;
    CloseHandle(ready);
    return false;
  }
  // The thread owns the start record from here; it needs nothing of this thread to get ready.
  m_hStartReady = ready;
  m_pStartLink = std::move(link);
  m_pStartReads = std::move(pendingReads);
  return true;
}

bool CovFDT_ThreadManagerImpl::CompleteDtmThreadStart() {
  HANDLE ready = m_hStartReady;
  if (!ready) return m_hThread != nullptr;
  // A call served meanwhile that needs the thread waits for it too and completes the start; the
  // handle it closes then ends this wait.
  const bool waited = WaitWithMessagePump(ready);
  if (m_hStartReady != ready) return m_pDtmThread != nullptr;
  m_hStartReady = nullptr;
  CloseHandle(ready);
  vkr::ComPtr<vkr::ComObject<CDtmLink>> link = std::move(m_pStartLink);
  std::shared_ptr<PendingReadCount> pendingReads = std::move(m_pStartReads);
  if (!waited) {
    if (link) link->Detach();
    return false;
  }
  m_pDtmLink = link;
  m_pendingReads = std::move(pendingReads);
  if (!m_pStream) {
    // The thread could not make its object and ends by itself.
    DetachDtmLink();
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_dwThreadId = 0;
    return false;
  }
  HRESULT hr = CoGetInterfaceAndReleaseStream(std::exchange(m_pStream, nullptr), IovFdtDtmThread::iid,
                                              m_pDtmThread.PutVoid());
  if (FAILED(hr) || !m_pDtmThread) {
    // Without its object the thread is of no use: it is ended again, so no thread is left.
    m_pDtmThread = nullptr;
    StopDtmThread();
    return false;
  }
  return true;
}

void CovFDT_ThreadManagerImpl::DetachDtmLink() {
  if (!m_pDtmLink) return;
  m_pDtmLink->Detach();
  // The thread object's proxy keeps the link itself until the thread lets it go.
  m_pDtmLink = nullptr;
}

DWORD CovFDT_ThreadManagerImpl::DtmThreadMain(LPVOID p) {
  auto* start = static_cast<StartRecord*>(p);
  IStream** stream = start->stream;
  HANDLE ready = start->ready;
  const CLSID clsid = start->clsid;
  std::shared_ptr<PendingReadCount> pendingReads = std::move(start->pendingReads);
  CApartmentRef dtm, frame;
  dtm.Swap(start->dtm);
  frame.Swap(start->frame);
  IStream* frameStream = start->frameStream;
  delete start;
  CoInitialize(nullptr);
  // The queue exists before anybody posts to it.
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  IovFdtDtmThread* object = nullptr;
  if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IovFdtDtmThread::iid,
                                 reinterpret_cast<void**>(&object))) &&
      object) {
    vkr::ComPtr<IDtmThreadStart> starter;
    if (FAILED(object->QueryInterface(IDtmThreadStart::iid, starter.PutVoid()))) starter = nullptr;
    if (starter && pendingReads) starter->PublishPendingReads(std::move(pendingReads));
    // The DTM first, then the frame, as the hand-over jobs would arrive.
    HandOver(object, starter.Get(), kJobSetDtm, &dtm);
    if (frameStream) {
      vkr::ComPtr<IUnknown> held;
      if (SUCCEEDED(CoGetInterfaceAndReleaseStream(std::exchange(frameStream, nullptr), IID_IUnknown,
                                                   held.PutVoid())))
        HandOver(object, kJobSetFrame, held.Get());
    } else {
      HandOver(object, starter.Get(), kJobSetFrame, &frame);
    }
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IovFdtDtmThread::iid, object, stream))) *stream = nullptr;
  }
  // Not taken: given back while the manager still waits for this thread.
  dtm.Reset();
  frame.Reset();
  if (frameStream) frameStream->Release();
  // Also after a failure, which leaves the stream empty; the manager is not touched after this.
  SetEvent(ready);
  if (object) {
    object->Run();
    object->Release();
  }
  CoUninitialize();
  return 0;
}

bool CovFDT_ThreadManagerImpl::StopDtmThread() {
  CompleteDtmThreadStart();
  if (!m_hThread) return true;
  if (vkr::ComPtr<IovFdtDtmThread> thread = m_pDtmThread) {
    VARIANT off;
    VariantInit(&off);
    off.vt = VT_I4;
    off.lVal = 0;
    thread->SetUpdateRate(off);
    ExecuteMarshalledJob(kJobSetDtm, nullptr);
  }
  DetachDtmLink();
  m_pDtmThread = nullptr;
  // A thread that cannot be told or awaited is abandoned, unless it has ended already.
  if (!PostToDtmThread(WM_QUIT, 0, 0, m_hThread) && WaitForSingleObject(m_hThread, 0) != WAIT_OBJECT_0)
    TerminateThread(m_hThread, kExitTerminated);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
  m_dwThreadId = 0;
  return true;
}

void CovFDT_ThreadManagerImpl::ReleaseDtmThread() {
  CompleteDtmThreadStart();
  // A call of the thread into the DTM that runs below this one waits for it to return.
  const bool insideThreadCall = m_pDtmLink && m_pDtmLink->CallsInProgress() > 0;
  DetachDtmLink();
  if (!m_hThread) return;
  if (vkr::ComPtr<IovFdtDtmThread> thread = std::exchange(m_pDtmThread, nullptr)) {
    VARIANT off;
    VariantInit(&off);
    off.vt = VT_I4;
    off.lVal = 0;
    thread->SetUpdateRate(off);
  }
  if (insideThreadCall) {
    // Waiting here would wait for ever: the thread ends by itself once its call has returned.
    PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
  } else if (!PostToDtmThread(WM_QUIT, 0, 0, m_hThread) && WaitForSingleObject(m_hThread, 0) != WAIT_OBJECT_0) {
    TerminateThread(m_hThread, kExitTerminated);
  }
  CloseHandle(m_hThread);
  m_hThread = nullptr;
  m_dwThreadId = 0;
}

HRESULT CovFDT_ThreadManagerImpl::ExecuteJob(ULONG job, VARIANT argument) {
  CompleteDtmThreadStart();
  if (!m_pDtmThread) return E_FAIL;
  // The thread object may be released by a nested call while this one waits.
  vkr::ComPtr<IovFdtDtmThread> thread = m_pDtmThread;
  VARIANT id;
  VariantInit(&id);
  id.vt = VT_UI4;
  id.ulVal = job;
  vkr::Variant result;
  return thread->Execute(id, argument, &result);
}

HRESULT CovFDT_ThreadManagerImpl::ExecuteMarshalledJob(ULONG job, IUnknown* object) {
  // Only the hand-over jobs signal the event; any other would be waited for without end.
  if (job != kJobSetDtm && job != kJobSetFrame) return E_INVALIDARG;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) return E_FAIL;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) {
    CloseHandle(done);
    return E_OUTOFMEMORY;
  }
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_UI4;
  element.ulVal = HandleValue(done);
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(array, &index, &element);
  element.vt = VT_UNKNOWN;
  element.punkVal = object;  // SafeArrayPutElement takes its own reference
  index = 1;
  if (SUCCEEDED(hr)) hr = SafeArrayPutElement(array, &index, &element);
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_ARRAY | VT_VARIANT;
  argument.parray = array;
  if (SUCCEEDED(hr)) {
    hr = ExecuteJob(job, argument);
    if (SUCCEEDED(hr)) WaitWithMessagePump(done);
  }
  VariantClear(&argument);
  CloseHandle(done);
  return hr;
}

HRESULT CovFDT_ThreadManagerImpl::PostJob(ULONG job, const VARIANT& argument) {
  CompleteDtmThreadStart();
  // A thread object that runs on no thread of ours is reached through its interface only.
  if (!m_hThread) return ExecuteJob(job, argument);
  if (!m_pDtmThread) return E_FAIL;
  auto* posted = static_cast<CDtmJob*>(CoTaskMemAlloc(sizeof(CDtmJob)));
  if (!posted) return E_OUTOFMEMORY;
  posted->nJob = job;
  VariantInit(&posted->vArgument);
  HRESULT hr = VariantCopy(&posted->vArgument, &argument);
  if (SUCCEEDED(hr) && !PostThreadMessageA(m_dwThreadId, WM_DTM_JOB, 0, reinterpret_cast<LPARAM>(posted)))
    hr = E_FAIL;
  if (FAILED(hr)) {
    VariantClear(&posted->vArgument);
    CoTaskMemFree(posted);
  }
  return hr;
}

HRESULT CovFDT_ThreadManagerImpl::PostResponseJob(const VARIANT& argument) {
  CompleteDtmThreadStart();
  if (m_hThread && m_pDtmThread && m_pendingReads && m_pendingReads->load(std::memory_order_acquire) == 0)
    return S_OK;
  return PostJob(kJobResponse, argument);
}

bool CovFDT_ThreadManagerImpl::PostToDtmThread(UINT message, WPARAM wParam, LPARAM lParam, HANDLE wait) {
  CompleteDtmThreadStart();
  if (!m_hThread) return false;
  if (!PostThreadMessageA(m_dwThreadId, message, wParam, lParam)) return false;
  if (!wait) return true;
  return WaitWithMessagePump(wait);
}

bool CovFDT_ThreadManagerImpl::WaitWithMessagePump(HANDLE handle) {
  bool quit = false;
  WPARAM quitCode = 0;
  bool signalled = false;
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      const bool unicode = msg.hwnd && IsWindowUnicode(msg.hwnd);
      const BOOL got = unicode ? GetMessageW(&msg, nullptr, 0, 0) : GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) {
        // The outer loop's quit: kept for it, posted again when the wait is over.
        quit = true;
        quitCode = msg.wParam;
      } else if (got > 0) {
        TranslateMessage(&msg);
        if (unicode)
          DispatchMessageW(&msg);
        else
          DispatchMessageA(&msg);
      }
      if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) {
        signalled = true;
        break;
      }
    }
    if (signalled) break;
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return signalled;
}

// ---- Worker threads ----------------------------------------------------------------------

HRESULT CovFDT_ThreadManagerImpl::ExecuteWorkerThread(CWorker* worker) {
  if (!worker) return E_INVALIDARG;
  WriteLogA("CovFDT_BaseDTMImpl::ExecuteWorkerThread()");
  vkr::ComPtr<IFdtContainer> frame;
  vkr::ComPtr<IovFdtBaseDTM> dtm;
  IFdtContainer* container = GetThreadManagerFrame();
  IUnknown* unknown = GetThreadManagerDtm();
  if (!container || FAILED(container->QueryInterface(IFdtContainer::iid, frame.PutVoid())) || !frame || !unknown ||
      FAILED(unknown->QueryInterface(IovFdtBaseDTM::iid, dtm.PutVoid())) || !dtm) {
    delete worker;
    return E_FAIL;
  }
  auto* context = new (std::nothrow) WorkerContext;
  if (!context) {
    delete worker;
    return E_OUTOFMEMORY;
  }
  context->worker = worker;
  context->deliveries = m_deliveries;
  auto discard = [](WorkerContext* c) {
    if (c->frame) c->frame->Release();
    if (c->dtm) c->dtm->Release();
    delete c->worker;
    delete c;
  };
  // Marshalled as IUnknown: the worker's calls are carried back to this apartment as one call,
  // where the pointers come back as they are here (see RunWorker).
  HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, frame.Get(), &context->frame);
  if (SUCCEEDED(hr)) hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, dtm.Get(), &context->dtm);
  if (FAILED(hr)) {
    discard(context);
    return E_FAIL;
  }
  if (!worker->KeepsOrder()) {
    HANDLE thread = CreateThread(nullptr, 0, &ThreadFunc, context, 0, nullptr);
    if (!thread) {
      discard(context);
      return E_FAIL;
    }
    KeepWorkerThread(thread);
    return S_OK;
  }
  // Racing threads could deliver these out of order (a state reached before the one left): they
  // wait for the one delivery thread, which starts when there is none.
  bool start = false;
  try {
    if (!m_orderedWorkers) m_orderedWorkers = std::make_shared<OrderedWorkers>();
    std::lock_guard<std::mutex> hold(m_orderedWorkers->lock);
    m_orderedWorkers->waiting.push_back(context);
    start = !m_orderedWorkers->delivering;
    m_orderedWorkers->delivering = true;
  } catch (const std::bad_alloc&) {
    discard(context);
    return E_OUTOFMEMORY;
  }
  if (!start) return S_OK;
  auto* queue = new (std::nothrow) std::shared_ptr<OrderedWorkers>(m_orderedWorkers);
  HANDLE thread = queue ? CreateThread(nullptr, 0, &OrderedWorkersMain, queue, 0, nullptr) : nullptr;
  if (!thread) {
    delete queue;
    // Without a delivery thread the queue holds only this worker: it is taken back.
    {
      std::lock_guard<std::mutex> hold(m_orderedWorkers->lock);
      m_orderedWorkers->waiting.clear();
      m_orderedWorkers->delivering = false;
    }
    discard(context);
    return E_FAIL;
  }
  KeepWorkerThread(thread);
  return S_OK;
}

void CovFDT_ThreadManagerImpl::KeepWorkerThread(HANDLE thread) {
  std::erase_if(m_workerThreads, [](HANDLE h) {
    if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(h);
    return true;
  });
  try {
    m_workerThreads.push_back(thread);
  } catch (const std::bad_alloc&) {
    CloseHandle(thread);  // not awaited then, as before
  }
}

bool CovFDT_ThreadManagerImpl::AwaitWorkerThreads(DWORD timeout) {
  if (*m_deliveries > 0) return m_workerThreads.empty();
  const DWORD start = GetTickCount();
  // A worker that delivers while this waits may hand over another one: the list is read afresh.
  while (!m_workerThreads.empty()) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeout) return false;
    HANDLE thread = m_workerThreads.front();
    if (!WaitWithMessageLoop(thread, timeout - spent) && WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
    std::erase(m_workerThreads, thread);
    CloseHandle(thread);
  }
  return true;
}

DWORD CovFDT_ThreadManagerImpl::ThreadFunc(LPVOID p) {
  auto* context = static_cast<WorkerContext*>(p);
  if (!context) return kExitNoContext;
  CoInitialize(nullptr);
  RunWorker(context);
  CoUninitialize();
  return 0;
}

DWORD CovFDT_ThreadManagerImpl::OrderedWorkersMain(LPVOID p) {
  // The queue is shared: the manager may be gone before the last worker has run.
  std::shared_ptr<OrderedWorkers> queue = std::move(*static_cast<std::shared_ptr<OrderedWorkers>*>(p));
  delete static_cast<std::shared_ptr<OrderedWorkers>*>(p);
  CoInitialize(nullptr);
  for (;;) {
    WorkerContext* context = nullptr;
    {
      std::lock_guard<std::mutex> hold(queue->lock);
      if (queue->waiting.empty()) {
        queue->delivering = false;
        break;
      }
      context = queue->waiting.front();
      queue->waiting.pop_front();
    }
    RunWorker(context);
  }
  queue = nullptr;
  CoUninitialize();
  return 0;
}

void CovFDT_ThreadManagerImpl::RunWorker(WorkerContext* context) {
  WriteLogA("CovFDT_BaseDTMImpl::ThreadFunc()");
  vkr::ComPtr<IUnknown> dtm;
  HRESULT hr = CoGetInterfaceAndReleaseStream(std::exchange(context->dtm, nullptr), IID_IUnknown, dtm.PutVoid());
  IStream* frameStream = std::exchange(context->frame, nullptr);
  if (SUCCEEDED(hr) && dtm) {
    // The DTM's apartment runs the worker: there the frame's container unmarshals as the DTM
    // holds it and both pointers are valid, so each of the worker's calls runs where it would
    // run through a proxy, with this thread waiting meanwhile.
    const vkr::platform::Apartment owner =
        vkr::platform::IsProxy(dtm.Get()) ? vkr::platform::ProxyOwner(dtm.Get()) : vkr::platform::Apartment::Current();
    vkr::ComPtr<IStream> marshalledDtm;
    hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, dtm.Get(), marshalledDtm.Put());
    if (SUCCEEDED(hr)) {
      owner.Call([&]() -> HRESULT {
        // Counted on the DTM's thread, where the manager reads the count.
        ++*context->deliveries;
        vkr::ComPtr<IFdtContainer> frame;
        vkr::ComPtr<IovFdtBaseDTM> base;
        HRESULT h = CoGetInterfaceAndReleaseStream(std::exchange(frameStream, nullptr), IFdtContainer::iid,
                                                   frame.PutVoid());
        vkr::ComPtr<IUnknown> object;
        if (SUCCEEDED(h))
          h = CoGetInterfaceAndReleaseStream(marshalledDtm.Detach(), IID_IUnknown, object.PutVoid());
        if (SUCCEEDED(h) && object) h = object->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid());
        if (SUCCEEDED(h) && frame && base) h = context->worker->Execute(frame.Get(), base.Get());
        // Let go here, in the object's apartment: from the worker's thread the last reference of
        // a proxy takes one more visit to this thread.
        dtm = nullptr;
        --*context->deliveries;
        return h;
      });
    }
  }
  if (frameStream) frameStream->Release();
  delete context->worker;
  delete context;
}

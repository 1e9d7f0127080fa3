// CovFDT_ThreadManagerImpl: the part of the DTM object that owns the DTM thread, calls its jobs
// by number and runs notifications on worker threads. Everything here runs on the DTM object's
// (the frame's) thread, which keeps serving its messages and incoming calls whenever it waits.
//
// The DTM thread is a single-threaded apartment of its own holding the CDtmThread object; the
// manager holds a proxy of it. A worker thread receives the frame's container and the DTM
// marshalled through streams and runs its notification as one call carried back to the DTM's
// apartment, so the worker's calls run where the DTM and the frame live (see ExecuteWorkerThread).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "dtm/CApartmentRef.h"
#include "dtm/CWorker.h"
#include "include/DtmInterfaces.h"
#include "platform/platform.h"

// What the DTM thread holds of the DTM: a link that answers the DTM's interfaces while the DTM is
// attached and none once it is detached. The thread so never keeps the DTM alive (the DTM holds
// the thread), and a DTM whose frame lets go of it ends whatever state it is in. The link lives
// in the DTM's apartment and is used there only; it counts the DTM thread's calls running on it.
class CDtmLink : public vkr::Implements<IApartmentCallObserver> {
 public:
  CDtmLink() = default;
  void Attach(IUnknown* dtm) { m_dtm = dtm; }
  void Detach() { m_dtm = nullptr; }
  // Calls of the DTM thread into the DTM that have begun and not ended.
  LONG CallsInProgress() const { return m_calls; }

  void OnCallBegin() override { ++m_calls; }
  void OnCallEnd() override { --m_calls; }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;

 private:
  IUnknown* m_dtm = nullptr;  // not owned
  LONG m_calls = 0;
};

class CovFDT_ThreadManagerImpl {
 public:
  CovFDT_ThreadManagerImpl() = default;
  CovFDT_ThreadManagerImpl(const CovFDT_ThreadManagerImpl&) = delete;
  CovFDT_ThreadManagerImpl& operator=(const CovFDT_ThreadManagerImpl&) = delete;
  // A thread still running (the DTM was not released the regular way) is told to quit; nobody
  // waits for it here.
  virtual ~CovFDT_ThreadManagerImpl();

  // Starts the DTM thread, takes its object and hands it the DTM (job 34) and, when given, the
  // frame's container (job 35): the thread takes both before it takes any other job. True when
  // the thread runs (also when it already ran: then only the container is handed over, through
  // ExecuteMarshalledJob); false when the thread or its object could not be made.
  bool StartDtmThread(IUnknown* frame = nullptr);
  // The same, without waiting for the thread to get ready: the thread needs nothing of this one
  // for that, so the wait is left to whatever first needs the thread (every member here that
  // reaches it, and the destructor, complete the start first). False only when the thread could
  // not be started at all.
  bool BeginDtmThread(IUnknown* frame);
  // Waits (pumping) for a begun thread to get ready and takes its object; StartDtmThread's result
  // for that start. Without a start under way: whether a thread runs.
  bool CompleteDtmThreadStart();
  // Stops the cyclic reads, takes the DTM away from the thread object (job 34 with nothing),
  // releases it, posts WM_QUIT and waits (pumping) until the thread has ended; a thread that
  // cannot be told or awaited is abandoned. True; also without a thread.
  bool StopDtmThread();
  // The DTM is going without having stopped its thread (its last reference was released in a
  // state that does not admit the release): the thread can no longer reach the DTM, its cyclic
  // reads stop, and it is told to end and waited for (pumping). When the DTM goes inside one of
  // the thread's own calls, the thread cannot end before that call returns: it is told to end
  // and ends by itself. Nothing without a thread.
  void ReleaseDtmThread();

  // Calls IovFdtDtmThread::Execute with (VT_UI4 job, argument) and returns its result; the
  // result VARIANT is cleared unread. E_FAIL without a thread object.
  HRESULT ExecuteJob(ULONG job, VARIANT argument);
  // Runs job 34 or 35 with {VT_UI4 event, VT_UNKNOWN object (may be null)} and waits, pumping,
  // until the thread has taken the object. The job's result; E_OUTOFMEMORY without the array,
  // E_INVALIDARG for another job (it would never signal).
  HRESULT ExecuteMarshalledJob(ULONG job, IUnknown* object);
  // Posts a thread message to the DTM thread; with a wait handle, true only when it became
  // signalled. False without a thread.
  bool PostToDtmThread(UINT message, WPARAM wParam, LPARAM lParam, HANDLE wait);
  // Queues the job with a copy of its argument for the DTM thread's loop, without waiting for the
  // thread to take it (as the thread's own posted jobs run). A thread object on no thread of ours
  // gets the job through ExecuteJob. E_FAIL without a thread object.
  HRESULT PostJob(ULONG job, const VARIANT& argument);
  // A device answer's values for the thread (job 6): posted as PostJob does, unless the thread
  // has said that none of its cyclic reads waits for an answer, when they would change nothing
  // there and the thread is not woken for them (S_OK).
  HRESULT PostResponseJob(const VARIANT& argument);

  // Runs the worker once on a thread of its own with the frame's container and the DTM, and
  // deletes it there. E_INVALIDARG for null; E_FAIL without the frame's container or the DTM or
  // when marshalling or the thread fails, E_OUTOFMEMORY: the worker is then deleted at once.
  // Workers that keep their order (CWorker::KeepsOrder) run one after another, in the order they
  // were handed over, on one delivery thread of this manager at a time.
  // Virtual so that tests can run the workers where they want them.
  virtual HRESULT ExecuteWorkerThread(CWorker* worker);

  // Waits (pumping) until every worker thread started here has ended, for at most `timeout` ms
  // in all. A worker holds the DTM until it has delivered, and its thread runs the module's code
  // until it ends: a DTM that waits here before it says it is ready for its release is gone with
  // the frame's last reference, module and all. Inside a worker's own delivery nothing is waited
  // for (that worker cannot end before the call returns). True when none is left.
  bool AwaitWorkerThreads(DWORD timeout);

  // Waits without a time limit for the handle while taking and dispatching the thread's messages
  // (a WM_QUIT taken meanwhile is posted again for the outer loop). False when the wait fails.
  static bool WaitWithMessagePump(HANDLE handle);

  IovFdtDtmThread* GetDtmThread() {
    CompleteDtmThreadStart();
    return m_pDtmThread.Get();
  }

 protected:
  // What the DTM object supplies: its controlling unknown, the frame's container it keeps, and
  // the class of its thread object. The defaults have none (nothing can start).
  virtual IUnknown* GetThreadManagerDtm() { return nullptr; }
  virtual IFdtContainer* GetThreadManagerFrame() { return nullptr; }
  virtual const CLSID& GetDtmThreadClassId();

  HANDLE m_hThread = nullptr;
  DWORD m_dwThreadId = 0;
  IStream* m_pStream = nullptr;
  vkr::ComPtr<IovFdtDtmThread> m_pDtmThread;
  // The DTM as the thread holds it.
  vkr::ComPtr<vkr::ComObject<CDtmLink>> m_pDtmLink;
  // The number of the thread's cyclic reads that wait for an answer, as the thread publishes it.
  std::shared_ptr<std::atomic<LONG>> m_pendingReads;
  // A start not waited for yet (BeginDtmThread): the thread's ready event, the link and the
  // published count it is to keep.
  HANDLE m_hStartReady = nullptr;
  vkr::ComPtr<vkr::ComObject<CDtmLink>> m_pStartLink;
  std::shared_ptr<std::atomic<LONG>> m_pStartReads;

 private:
  struct WorkerContext;
  struct OrderedWorkers;

  static DWORD DtmThreadMain(LPVOID start);
  static DWORD ThreadFunc(LPVOID context);
  static DWORD OrderedWorkersMain(LPVOID queue);
  // Runs one worker as its thread received it: unmarshals the DTM and the frame and runs the
  // worker in the DTM's apartment; deletes the worker and the context.
  static void RunWorker(WorkerContext* context);
  // Takes the thread object's link to the DTM away.
  void DetachDtmLink();

  // Keeps the handle of a worker thread for AwaitWorkerThreads, closing those that have ended.
  void KeepWorkerThread(HANDLE thread);

  // The workers that keep their order, waiting for their delivery thread; shared with it.
  std::shared_ptr<OrderedWorkers> m_orderedWorkers;
  // The worker threads started and not seen ended yet.
  std::vector<HANDLE> m_workerThreads;
  // Workers delivering right now, on this apartment's thread (shared with their contexts).
  std::shared_ptr<LONG> m_deliveries = std::make_shared<LONG>(0);
};

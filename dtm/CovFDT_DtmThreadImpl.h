// CovFDT_DtmThreadImpl: the framework body of the DTM thread object. It runs the DTM's numbered
// jobs on the DTM thread, keeps the queue of upload and download requests (one pending at a
// time), reads registered parameters cyclically under a thread timer, and sends the DTM's
// notifications to the frame.
//
// The object lives in the DTM thread's apartment and is called there only: Execute arrives from
// the DTM through a marshalled pointer while the DTM's thread waits; posted jobs (thread message
// 1129), the queue (1130) and the timer run from Run's message loop. The DTM and the frame reach
// it as proxies (jobs 34 and 35); every call into them runs on their own thread, and while such a
// call is out this thread serves incoming calls only, so a nested Execute (a cancel, a finished
// read) may run inside any call out. Nothing here holds a lock or an iterator across a call out.
#pragma once

#include <atomic>
#include <list>
#include <map>
#include <memory>

#include "dtm/CApartmentRef.h"
#include "include/DtmInterfaces.h"
#include "include/DtmThreadInterfaces.h"
#include "parameters/CovVAPacker.h"
#include "platform/platform.h"

// Thread messages of the DTM thread.
constexpr UINT WM_DTM_JOB = 1129;            // lParam: a CDtmJob
constexpr UINT WM_DTM_CONTINUE_QUEUE = 1130;  // the request queue goes on

// A posted job: allocated with CoTaskMemAlloc by the poster, freed by the message loop after the
// job ran (or, when the thread ends first, without running it).
struct CDtmJob {
  ULONG nJob;
  VARIANT vArgument;
};

// How many cyclic reads of a DTM thread wait for the device's answer, published by the thread
// for its manager: while none waits, a device answer's values change nothing on the thread, and
// the manager need not wake it for them. -1 until the thread object publishes the number.
using PendingReadCount = std::atomic<LONG>;

// What the thread manager tells its own thread object as the thread starts, on the thread itself
// before anybody else can reach the object.
struct IDtmThreadStart : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("3E9B27C4-61D8-4A5F-B0E3-7C2A9D14F658");
  using Base = IUnknown;
  // Where to publish the number of waiting cyclic reads.
  virtual void PublishPendingReads(std::shared_ptr<PendingReadCount> counter) = 0;
  // The DTM (job 34) or the frame's container (job 35), already found and asked on its own
  // thread (CApartmentRef::SetForOtherThread): taken as the hand-over job would take it; the
  // holder is left with what was there before. E_INVALIDARG for another job or an empty holder.
  virtual HRESULT TakeStartObject(ULONG job, CApartmentRef* holder) = 0;
};

// One parameter read cyclically.
struct CCyclicRead {
  ULONG nParameterId = 0;
  ULONG nInterval = 0;   // ms, the smallest any registrant asked for
  ULONG nCountdown = 0;  // ms left until the next read
  bool bPending = false;  // a read was started and its completion is not reported yet
  ULONG nRefCount = 0;    // registrations
};

// One queued upload (kind 1) or download (kind 2).
struct CDtmQueuedRequest {
  ULONG nKind = 0;
  vkr::Bstr bstrUnused;
  vkr::Bstr bstrInvokeId;
  vkr::Bstr bstrParameters;
};

// The thread timer of one object, found again by its id through a process-wide table.
class CTimerImpl {
 public:
  CTimerImpl() = default;
  CTimerImpl(const CTimerImpl&) = delete;
  CTimerImpl& operator=(const CTimerImpl&) = delete;
  virtual ~CTimerImpl();

  // Same interval as now: nothing. Otherwise the running timer stops, and a non-zero interval
  // starts a new one on the calling thread. S_OK, or E_FAIL when no timer could be made.
  HRESULT SetTimerInterval(DWORD milliseconds);
  DWORD TimerInterval() const { return m_dwInterval; }
  // Whether the owner has work for the timer. Without work the timer sleeps (no events, its
  // interval kept); work wakes it, counting from then. S_OK, or E_FAIL when no timer could be made.
  HRESULT SetTimerWork(bool work);
  bool TimerRunning() const { return m_nTimerId != 0; }

 protected:
  // The time since the last event (GetTickCount, wrapping); runs on the timer's thread.
  virtual void OnElapsed(DWORD elapsed) = 0;
  // In how many intervals after the last event the owner can next have something to do: 1 wakes
  // it every interval; more lets the events between pass (they would only count down), all but
  // the one an interval before the work, from where the period runs again; 0 waits until the
  // owner plans again. Asked after every event and by PlanNextEvent.
  virtual DWORD IntervalsUntilWork() { return 1; }
  // The owner's work changed: the next event as IntervalsUntilWork asks, on the interval grid
  // of the last event.
  void PlanNextEvent();

 private:
  static void TimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
  void StopTimer();

  DWORD m_dwLastTick = 0;
  UINT_PTR m_nTimerId = 0;
  DWORD m_dwInterval = 0;
  DWORD m_dwDelay = 0;  // the period the thread timer runs with now
  bool m_bInElapsed = false;
  bool m_bWork = true;
};

class CovFDT_DtmThreadImpl
    : public vkr::Implements<IovFdtDtmThread, IovFDTGenericCommServiceEvents, IDtmThread, IDtmThreadStart>,
      public CTimerImpl {
 public:
  CovFDT_DtmThreadImpl();
  ~CovFDT_DtmThreadImpl() override;

  // IDispatch: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override;

  // IovFdtDtmThread
  HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) override;
  HRESULT Run() override;
  HRESULT SetUpdateRate(VARIANT milliseconds) override;
  HRESULT ExecuteAsync(VARIANT job, VARIANT argument) override;
  HRESULT OnThreadEvent(VARIANT job, VARIANT argument, BOOL* handled) override;
  HRESULT ProcessDownloadRequest(BSTR invokeId, BSTR parameters) override;
  HRESULT ProcessUploadRequest(BSTR invokeId, BSTR parameters) override;
  HRESULT GoOnline() override;
  HRESULT GoOffline() override;

  // IovFDTGenericCommServiceEvents: the queue goes on.
  HRESULT OnGenericCommServiceEvent(VARIANT requestId, VARIANT data, VARIANT context) override;

  // IDtmThreadStart
  void PublishPendingReads(std::shared_ptr<PendingReadCount> counter) override;
  HRESULT TakeStartObject(ULONG job, CApartmentRef* holder) override;

  // For tests and diagnostics.
  bool HasPendingRequest();
  std::size_t QueueLength() const { return m_queue.size(); }
  std::size_t ReadRegistrationCount() const { return m_readRegistrations.size(); }

 protected:
  // The concrete class's look at every Execute before it is handled; a failure ends the call.
  virtual HRESULT PreExecute(VARIANT job, VARIANT argument, VARIANT* result, ULONG jobNumber);

  // Sends a numbered DTM message (IovFdtDtmEvents::DtmMessage with a VT_UI4 id).
  HRESULT SendDtmMessage(ULONG id, const VARIANT& argument);
  // The toolkit text of a message id from the DTM's translation; empty when there is none.
  HRESULT GetToolkitMessageText(ULONG id, BSTR* text);

  void OnElapsed(DWORD elapsed) override;
  DWORD IntervalsUntilWork() override;

 private:
  HRESULT ExecuteJob(ULONG job, const VARIANT& argument);
  HRESULT ExecuteAsyncJob(ULONG job, const VARIANT& argument);
  HRESULT PostJob(ULONG job, const VARIANT& argument);
  HRESULT AcceptTransfer(ULONG job, const VARIANT& argument);
  HRESULT CancelTransfer(const VARIANT& argument);
  HRESULT TakeInterface(CApartmentRef* holder, const VARIANT& argument, REFIID required);
  HRESULT TakeInterfaceAndSignal(CApartmentRef* holder, const VARIANT& argument, REFIID required);
  HRESULT RegisterCyclicRead(const VARIANT& argument);
  HRESULT UnregisterCyclicRead(const VARIANT& argument);
  HRESULT LowerCyclicRead(const VARIANT& argument);
  HRESULT ReadCompleted(const VARIANT& argument);
  HRESULT RefreshFunctions();
  HRESULT WaitForCommunicationRelease();
  HRESULT CallSdaHandler(ULONG job, const VARIANT& argument);

  // The DTM's state and system tag (asked on its thread).
  HRESULT GetDtmState(EDtmState* state);
  HRESULT SetDtmState(EDtmState state);
  HRESULT GetSystemTag(vkr::Bstr* tag);
  // Runs fn(IDtmEvents*, system tag) on the frame's thread; E_FAIL without the DTM or the
  // frame's event interface.
  template <class F>
  HRESULT NotifyFrame(F&& fn);
  HRESULT NotifyFrameText(ULONG job, const VARIANT& argument);

  void QueueOnlineParamRequest(BSTR invokeId, BSTR parameters, bool upload);
  void ProcessJobQueue();
  HRESULT ProcessRequest(BSTR invokeId, BSTR parameters, bool upload);
  // The open user interfaces hear that a download request ended (not for an upload).
  void TellDownloadEnd(bool upload, VARIANT_BOOL success);
  // Whether `invokeId` is the pending request's id.
  bool IsPending(BSTR invokeId);
  // Clears the pending invoke id when it is still `invokeId`; true when it was.
  bool ClearPendingIf(BSTR invokeId);
  // Frees the posted jobs left in the queue when the loop ended.
  void DropPostedJobs();
  // Signals the event a posted job carries (jobs 10, 34 and 35), if any.
  static void SignalJobEvent(ULONG job, const VARIANT& argument);

  CApartmentRef m_pDtm;    // the DTM's IovFdtBaseDTM (job 34)
  CApartmentRef m_pFrame;  // the frame's container (job 35)
  SOnlineParamData m_currentRequest;
  CRITICAL_SECTION m_cs;
  DWORD m_threadId = 0;
  std::map<ULONG, CCyclicRead> m_readRegistrations;
  // Where the number of waiting cyclic reads is published (null: nowhere); kept up to date
  // whenever a read starts or completes, before the read's request can be answered.
  std::shared_ptr<PendingReadCount> m_pendingReads;
  void UpdatePendingReads();
  vkr::Bstr m_functions;
  bool m_queueBusy = false;
  vkr::Variant m_genericRequest;
  std::list<CDtmQueuedRequest> m_queue;
};

// CovFDT_ThreadManagerImpl: the part of the DTM object that owns the DTM thread, calls its jobs
// by number and runs notifications on worker threads. Everything here runs on the frame's thread.
//
// Starting and stopping the DTM thread and running workers on threads of their own come with the
// DTM thread object. Until then the manager holds no thread: every job answers E_FAIL, as it does
// before the thread starts, and a worker is refused with E_NOTIMPL (and deleted).
#pragma once

#include "dtm/CWorker.h"
#include "dtm/DtmInterfaces.h"
#include "platform/platform.h"

class CovFDT_ThreadManagerImpl {
 public:
  CovFDT_ThreadManagerImpl() = default;
  CovFDT_ThreadManagerImpl(const CovFDT_ThreadManagerImpl&) = delete;
  CovFDT_ThreadManagerImpl& operator=(const CovFDT_ThreadManagerImpl&) = delete;
  ~CovFDT_ThreadManagerImpl();

  // Calls IovFdtDtmThread::Execute with (VT_UI4 job, argument) and returns its result; the
  // result VARIANT is cleared unread. E_FAIL without a thread object.
  HRESULT ExecuteJob(ULONG job, VARIANT argument);
  // Runs the worker once with the frame's container and the DTM, and deletes it. E_INVALIDARG for
  // null. Virtual so that tests can run the workers where they want them.
  virtual HRESULT ExecuteWorkerThread(CWorker* worker);

  // Starts the DTM thread and connects it with the DTM; false when it could not. Without the
  // thread object this build has no thread to start.
  virtual bool StartDtmThread();
  // Disconnects and ends the DTM thread; true when there is none left.
  virtual bool StopDtmThread();
  // Runs a job whose argument hands the thread an object (job 34 the DTM, 35 the frame's
  // container; null takes it away). E_FAIL without a thread.
  virtual HRESULT ExecuteMarshalledJob(ULONG job, IUnknown* object);

  IovFdtDtmThread* GetDtmThread() const { return m_pDtmThread.Get(); }

 protected:
  HANDLE m_hThread = nullptr;
  DWORD m_dwThreadId = 0;
  IStream* m_pStream = nullptr;
  vkr::ComPtr<IovFdtDtmThread> m_pDtmThread;
};

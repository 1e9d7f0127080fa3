// The short notifications the DTM runs on worker threads: each worker receives the frame's
// container and the DTM's IovFdtBaseDTM, runs once and is deleted by the thread that ran it.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"

class CWorker {
 public:
  CWorker() = default;
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;
  virtual HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) = 0;
  virtual ~CWorker() = default;
  // Whether the worker must run after the workers of its kind handed over before it (nobody
  // waits for it, and what it tells depends on what was told before).
  virtual bool KeepsOrder() const { return false; }
};

// Sends the DTM the message of the state it reached (64 to 68) with its argument (the old state).
class CStateReachedWorker : public CWorker {
 public:
  CStateReachedWorker(const VARIANT& messageId, const VARIANT& argument) : m_vMessageId(messageId), m_vArgument(argument) {}
  // Always S_OK: a DTM without the message interface has nobody to tell.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;
  // The states are reached in order, and their messages arrive in that order.
  bool KeepsOrder() const override { return true; }

  const vkr::Variant& MessageId() const { return m_vMessageId; }
  const vkr::Variant& Argument() const { return m_vArgument; }

 private:
  vkr::Variant m_vMessageId;
  vkr::Variant m_vArgument;
};

// Tells the frame the progress of a transfer (IDtmEvents slot 9) and then signals the done event
// that SendProgress waits for. The event is signalled whatever happens, also when the worker is
// deleted without running: a caller must never wait for a report that cannot come.
class CProgressMessageWorker : public CWorker {
 public:
  CProgressMessageWorker(BSTR text, USHORT percent, USHORT mode, HANDLE done)
      : m_bstrText(text), m_nPercent(percent), m_nMode(mode), m_hDone(done) {}
  ~CProgressMessageWorker() override;
  // E_FAIL without both interfaces or without the frame's IDtmEvents; GetSystemTag's error; the
  // frame's answer.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;

  const vkr::Bstr& Text() const { return m_bstrText; }
  USHORT Percent() const { return m_nPercent; }
  USHORT Mode() const { return m_nMode; }

 private:
  vkr::Bstr m_bstrText;
  USHORT m_nPercent;
  USHORT m_nMode;  // 0: must be shown; 0xFFFF: may be dropped
  HANDLE m_hDone;  // not owned
};

// Hands the frame's state-event interface a DTMStateSchema document and then signals the done
// event (when there is one), also when the frame lacks the interface or the worker never runs.
class COnStateChangedWorker : public CWorker {
 public:
  COnStateChangedWorker(BSTR document, HANDLE done) : m_bstrDocument(document), m_hDone(done) {}
  ~COnStateChangedWorker() override;
  // E_FAIL without both interfaces; GetSystemTag's error; E_NOINTERFACE when the frame has no
  // state-event interface; otherwise S_OK whatever the frame answers.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;

  const vkr::Bstr& Document() const { return m_bstrDocument; }

 private:
  vkr::Bstr m_bstrDocument;
  HANDLE m_hDone;  // not owned; may be null
};

// Broadcasts 0x2713 with a value (the DTM message reached) to the open user interfaces.
class CActiveXMessageWorker : public CWorker {
 public:
  explicit CActiveXMessageWorker(ULONG value) : m_nValue(value) {}
  // E_FAIL without both interfaces; otherwise S_OK.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;
  // The user interfaces learn of the states reached in the order they were reached.
  bool KeepsOrder() const override { return true; }

  ULONG Value() const { return m_nValue; }

 private:
  ULONG m_nValue;
};

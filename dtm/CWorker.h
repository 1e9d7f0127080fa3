// The short notifications the DTM runs on worker threads: each worker receives the frame's
// container and the DTM's IovFdtBaseDTM, runs once and is deleted by the thread that ran it.
#pragma once

#include "dtm/DtmInterfaces.h"
#include "platform/platform.h"

class CWorker {
 public:
  CWorker() = default;
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;
  virtual HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) = 0;
  virtual ~CWorker() = default;
};

// Sends the DTM the message of the state it reached (64 to 68) with its argument (the old state).
class CStateReachedWorker : public CWorker {
 public:
  CStateReachedWorker(const VARIANT& messageId, const VARIANT& argument) : m_vMessageId(messageId), m_vArgument(argument) {}
  // Always S_OK: a DTM without the message interface has nobody to tell.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;

  const vkr::Variant& MessageId() const { return m_vMessageId; }
  const vkr::Variant& Argument() const { return m_vArgument; }

 private:
  vkr::Variant m_vMessageId;
  vkr::Variant m_vArgument;
};

// Broadcasts 0x2713 with a value (the DTM message reached) to the open user interfaces.
class CActiveXMessageWorker : public CWorker {
 public:
  explicit CActiveXMessageWorker(ULONG value) : m_nValue(value) {}
  // E_FAIL without both interfaces; otherwise S_OK.
  HRESULT Execute(IFdtContainer* container, IovFdtBaseDTM* dtm) override;

  ULONG Value() const { return m_nValue; }

 private:
  ULONG m_nValue;
};

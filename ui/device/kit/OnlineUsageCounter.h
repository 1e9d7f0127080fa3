// The online usage counter: DTM parameter 1047 counts the open user interfaces that keep the DTM
// online. The first one opened while the DTM has its channel (state 9 or going offline, 11) sends
// DTM message 10 (go online); the last one closed while the DTM is online or going online (12,
// 10) sends message 11 (go offline).
//
// Each user interface owns one counter. It counts out only what it counted in, and only an
// instance that counted may send message 11, so a user interface that failed to open (or was not
// counted for its dialog type) can neither take another's count nor take the DTM offline under
// it. Counting out twice is harmless.
//
//   Init:              m_usage.CountIn(*this, dtmState);
//   PrepareToRelease:  m_usage.CountOut(*this, dtmState);
#pragma once

#include "platform/platform.h"

class CovFDT_BaseActiveXImpl;

namespace vkr::dui {

class COnlineUsageCounter {
 public:
  // Sends message 10 (VT_I4 0) when the state is 9 or 11, then raises 1047 by one through the
  // user interface's DTM-side value access. The first failure is returned; the instance counts as
  // counted only when 1047 was written.
  HRESULT CountIn(CovFDT_BaseActiveXImpl& ui, ULONG dtmState);
  // When this instance counted: lowers 1047 by one (not below 0) and, when it is then 0 and the
  // state is 12 or 10, sends message 11 (VT_I4 0). S_FALSE and nothing done when it did not count.
  HRESULT CountOut(CovFDT_BaseActiveXImpl& ui, ULONG dtmState);
  bool Counted() const { return m_bCounted; }

 private:
  bool m_bCounted = false;
};

}  // namespace vkr::dui

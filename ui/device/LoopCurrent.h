// The loop current a control fixes on the device (parameter 1021, HART command 40) and gives back.
//
// The trim and loop-test controls fix the analog output for a while; whatever way they end, a
// device they left in fixed-current mode would hold the plant's loop at a constant value. This
// holder remembers whether the device was told to fix the current, releases it (1021 = 0.0) and
// knows whether the device took the release.
#pragma once

#include <string>

#include "include/DtmInterfaces.h"
#include "platform/platform.h"

namespace vkr::dui {

// Texts both loop-current controls show.
inline constexpr UINT kStringNotANumber = 7300;      // a typed current that is not a number
inline constexpr UINT kStringStillFixed = 7301;      // the device did not confirm the release
inline constexpr UINT kStringLostWhileFixed = 7302;  // the DTM went offline with the current fixed
// Posted to the control's own window to tell kStringLostWhileFixed outside the state change.
inline constexpr UINT kLostWhileFixedNotice = WM_APP + 0x113;

// A string resource of the module as text (empty when there is none).
std::u16string LoadText(HINSTANCE module, UINT id);
// The text with its "%.3f" replaced by the current, three decimals.
std::u16string WithMilliamps(std::u16string text, float milliamps);

class CFixedLoopCurrent {
 public:
  // The DTM object the control talks to and its parameter handler (both may be null).
  void Attach(IUnknown* dtm, IovFdtParameterHandler4* handler);
  void Detach();

  // GetDTMState gives online (12).
  bool IsOnline() const;
  // Sends a float write of a device parameter (1021, 1120, 1121) as the dialogue does: true when the
  // DTM took it (the device's answer comes later). A sent 1021 other than 0 marks the current held.
  bool Write(LONG parameterId, float milliamps);
  // Writes 1021 = 0.0 and waits for the device's answer: true when the device left fixed-current
  // mode (nothing is held any more). False offline, without a handler, or when the device did not
  // take it.
  bool Release();
  // On a road out: releases a held current while online. False when a held current could not be
  // given back.
  bool ReleaseOnExit();
  // The same without waiting: for the window going away, where no answer can be awaited.
  void ReleaseWithoutWaiting();
  // The DTM is leaving online (its parameters can no longer be written): a held current is given
  // back with command 40 sent directly over the DTM's connection while it still stands. True when
  // nothing is held afterwards.
  bool ReleaseBeforeOffline();
  // Follows the DTM's state: leaving online with the current held gives it back while the
  // connection stands; back online with it still held (the connection was lost), it is given back
  // then. False when the DTM left online and the current could not be given back.
  bool FollowState(ULONG state);

  // The device was told to fix the current and has not been told to leave it since.
  bool Held() const { return m_held; }

 private:
  vkr::ComPtr<IUnknown> m_dtm;
  vkr::ComPtr<IovFdtParameterHandler4> m_handler;
  bool m_held = false;
  ULONG m_lastState = 0;
};

}  // namespace vkr::dui

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
#include "ui/device/kit/DeviceOutcome.h"

namespace vkr::dui {

// Texts both loop-current controls show.
inline constexpr UINT kStringNotANumber = 7300;      // a typed current that is not a number
inline constexpr UINT kStringStillFixed = 7301;      // the device did not confirm the release
inline constexpr UINT kStringLostWhileFixed = 7302;  // the DTM went offline with the current fixed
inline constexpr UINT kStringLevelNotFixed = 7303;   // the device did not confirm the level (%.3f)
inline constexpr UINT kStringTrimNotTaken = 7304;    // the device did not confirm the trim
inline constexpr UINT kStringLevelOutOfRange = 7305; // a typed level outside what command 40 fixes
inline constexpr UINT kStringImplausibleReading = 7306;  // a meter reading far from the level (%.3f)
inline constexpr UINT kStringProcedureStopped = 7307;    // the DTM left online during the procedure
inline constexpr UINT kStringOfflineNothingFixed = 7308; // offline: no level was written
inline constexpr UINT kStringLevelMayBeFixed = 7309;  // level and give-back both unconfirmed (%.3f)
inline constexpr UINT kStringTrimMayBeFixed = 7310;   // trim and give-back both unconfirmed

// The levels a user may fix the loop current at: 0 would leave fixed-current mode, and a HART
// loop carries nothing outside the alarm currents.
inline constexpr float kLowestFixedLevel = 3.5f;
inline constexpr float kHighestFixedLevel = 23.0f;
// How far a reference meter may read from the fixed level before the reading is taken for a typo
// (a trim corrects a DAC's error of a few per cent, never milliamperes).
inline constexpr float kMeterTolerance = 1.0f;

bool IsFixableLevel(float milliamps);
bool IsPlausibleReading(float reading, float fixedLevel);
// Posted to the control's own window to tell kStringLostWhileFixed outside the state change.
inline constexpr UINT kLostWhileFixedNotice = WM_APP + 0x113;

// A string resource of the module as text (empty when there is none).
std::u16string LoadText(HINSTANCE module, UINT id);
// The text with its "%.3f" replaced by the current, three decimals.
std::u16string WithMilliamps(std::u16string text, float milliamps);
// The text with its "%s" replaced by why (the device's answer, as every user interface says it).
std::u16string WithReason(std::u16string text, const SDeviceOutcome& why, BYTE command);

class CFixedLoopCurrent {
 public:
  // The DTM object the control talks to and its parameter handler (both may be null).
  void Attach(IUnknown* dtm, IovFdtParameterHandler4* handler);
  void Detach();

  // GetDTMState gives online (12).
  bool IsOnline() const;
  // Fixes the loop current (1021 = milliamps) and waits for the device: true only when it
  // confirmed. A level not confirmed may still have reached the device, so the device is told at
  // once to leave fixed-current mode; Held() tells whether that was confirmed.
  bool Fix(float milliamps);
  // Sends a trim (1120 zero, 1121 gain) of the held level and waits for the device: true when it
  // confirmed. Nothing is sent while no confirmed level is held. A trim not confirmed gives the
  // loop back as Fix does.
  bool Trim(LONG parameterId, float milliamps);
  // Writes 1021 = 0.0 and waits for the device's answer: true when the device left fixed-current
  // mode (nothing is held any more). False offline, without a handler, or when the device did not
  // take it.
  bool Release();
  // On a road out: releases a held current while online. False when a held current could not be
  // given back.
  bool ReleaseOnExit();
  // A road out of the control (Abort, "End", the frame's close): a held current is given back
  // while online. Leave: the control may go, as nothing is held any more, or the device did not
  // take it and the user has already heard that the current may still be fixed (this second
  // request leaves it so: nothing gives it back afterwards). Warn: the device did not take it
  // and the user has not heard so: the control tells kStringStillFixed and stays.
  enum class Exit { Leave, Warn };
  Exit RequestExit();
  // The user was told that the current may still be fixed; the next road out leaves it so.
  void ToldMayBeFixed() { m_told = true; }
  // The one text for a level (trim: the trim) the device did not confirm, with why: the current
  // was given back, or, when the device did not confirm that either, it may still be fixed (the
  // user hears it with this text: the next road out leaves it so).
  std::u16string NotConfirmedText(HINSTANCE module, bool trim, float milliamps);
  // kStringStillFixed with why the device did not confirm the give-back.
  std::u16string StillFixedText(HINSTANCE module) const;
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

  // What a DTM state change means for a procedure of a control: FollowState, and whether the
  // procedure (under way while a level is chosen or held) was stopped by the DTM leaving online,
  // and the text the user is to be told afterwards (0: none). `online` is the control's own flag.
  struct ProcedureStep {
    bool stopped = false;
    UINT notice = 0;
  };
  ProcedureStep FollowProcedure(ULONG state, bool underWay, bool* online);

  // The warnings of the writes the device took since the last call, each as a sentence of what
  // was written ("The loop current was fixed at 4.000 mA; the device warns: 0x08 (set to nearest
  // possible value)."), joined; empty when none.
  std::u16string TakeWarnings();

  // The device was told to fix the current and has not confirmed leaving it since.
  bool Held() const { return m_held; }
  // The device confirmed the level and still holds it (as far as this holder knows).
  bool Confirmed() const { return m_confirmed; }

 private:
  // Sends a float write; the request only (the device's answer comes later). A 1021 other than 0
  // marks the current held.
  bool Write(LONG parameterId, float milliamps);
  // Sends a float write and waits for the device's answer; *outcome: what became of it.
  bool WriteAndWait(LONG parameterId, float milliamps, SDeviceOutcome* outcome);

  vkr::ComPtr<IUnknown> m_dtm;
  vkr::ComPtr<IovFdtParameterHandler4> m_handler;
  bool m_held = false;
  bool m_confirmed = false;
  bool m_told = false;  // the user heard that the held current may still be fixed
  SDeviceOutcome m_levelOutcome;    // of the last level or trim written
  LONG m_levelParameter = 0;        // which it was
  SDeviceOutcome m_releaseOutcome;  // of the last give-back
  std::u16string m_warnings;        // TakeWarnings' sentences
  ULONG m_lastState = 0;
};

}  // namespace vkr::dui

// The held loop current (see LoopCurrent.h).
#include "ui/device/LoopCurrent.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "communication/HartResponseTexts.h"
#include "include/CommunicationInterfaces.h"
#include "ui/device/DACTrimAdj.h"
#include "ui/device/DeviceUiIds.h"

namespace vkr::dui {

namespace {

VARIANT Milliamps(float value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

}  // namespace

bool IsFixableLevel(float milliamps) {
  return std::isfinite(milliamps) && milliamps >= kLowestFixedLevel && milliamps <= kHighestFixedLevel;
}

bool IsPlausibleReading(float reading, float fixedLevel) {
  return std::isfinite(reading) && std::fabs(reading - fixedLevel) <= kMeterTolerance;
}

std::u16string LoadText(HINSTANCE module, UINT id) {
  WCHAR text[512] = {};
  const int length = ::LoadStringW(module, id, text, 512);
  return length > 0 ? std::u16string(text, static_cast<std::size_t>(length)) : std::u16string();
}

void CFixedLoopCurrent::Attach(IUnknown* dtm, IovFdtParameterHandler4* handler) {
  m_dtm = dtm;
  m_handler = handler;
  m_lastState = IsOnline() ? kDtmStateOnline : 0;
}

void CFixedLoopCurrent::Detach() {
  m_dtm = nullptr;
  m_handler = nullptr;
}

std::u16string WithMilliamps(std::u16string text, float milliamps) {
  char number[48] = {};
  std::snprintf(number, sizeof number, "%.3f", static_cast<double>(milliamps));
  const std::size_t at = text.find(u"%.3f");
  if (at != std::u16string::npos) text.replace(at, 4, vkr::Utf8ToUtf16(number));
  return text;
}

std::u16string WithReason(std::u16string text, const SDeviceOutcome& why, BYTE command) {
  const std::size_t at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, OutcomeReason(why, command));
  return text;
}

namespace {

// The HART command that writes the parameter (its response codes' meanings).
BYTE CommandOf(LONG parameterId) {
  switch (parameterId) {
    case kParOutputLevel: return 40;
    case kParLoopCurrentZeroTrim: return 45;
    case kParLoopCurrentGainTrim: return 46;
    default: return 0;
  }
}

}  // namespace

bool CFixedLoopCurrent::IsOnline() const {
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_dtm || FAILED(m_dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return false;
  EDtmState state = dsUNDEFINED;
  return SUCCEEDED(base->GetDTMState(&state)) && static_cast<ULONG>(state) == kDtmStateOnline;
}

bool CFixedLoopCurrent::Write(LONG parameterId, float milliamps) {
  if (!m_handler) return false;
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr =
      m_handler->WriteDeviceParameter(vkr::UI4(static_cast<ULONG>(parameterId)), Milliamps(milliamps), &done);
  if (FAILED(hr) || done != VARIANT_TRUE) return false;
  if (parameterId == kParOutputLevel) {
    m_held = milliamps != 0.0f;
    m_confirmed = false;
    m_told = false;
  }
  return true;
}

bool CFixedLoopCurrent::WriteAndWait(LONG parameterId, float milliamps, SDeviceOutcome* outcome) {
  *outcome = SDeviceOutcome{EDeviceOutcome::Offline};
  if (!m_handler || !IsOnline()) return false;
  // Waits for the device: the control must not say the loop is fixed, trimmed or free, or go, on
  // a request that is only on its way.
  vkr::ComPtr<IovFdtParameterHandler4> handler = m_handler;
  *outcome = WriteDeviceValue(handler.Get(), parameterId, Milliamps(milliamps));
  if (outcome->Ok() && outcome->warning != 0) {
    std::u16string what = parameterId == kParLoopCurrentZeroTrim   ? u"The zero trim was written"
                          : parameterId == kParLoopCurrentGainTrim ? u"The gain trim was written"
                          : milliamps == 0.0f                      ? u"The loop current was given back"
                                                                   : WithMilliamps(u"The loop current was fixed at %.3f mA", milliamps);
    m_warnings += (m_warnings.empty() ? u"" : u" ") + what + u"; the device warns: " +
                  vkr::hart::DescribeResponseCode(CommandOf(parameterId), outcome->warning) + u".";
  }
  return outcome->Ok();
}

std::u16string CFixedLoopCurrent::TakeWarnings() { return std::exchange(m_warnings, {}); }

bool CFixedLoopCurrent::Release() {
  if (!WriteAndWait(kParOutputLevel, 0.0f, &m_releaseOutcome)) return false;
  m_held = false;
  m_confirmed = false;
  m_told = false;
  return true;
}

bool CFixedLoopCurrent::Fix(float milliamps) {
  if (!IsFixableLevel(milliamps) || !m_handler || !IsOnline()) return false;
  const bool heldBefore = m_held;
  // From the request on, the device may hold the level, whether or not the answer comes back.
  m_held = true;
  m_confirmed = false;
  m_levelParameter = kParOutputLevel;
  if (WriteAndWait(kParOutputLevel, milliamps, &m_levelOutcome)) {
    m_confirmed = true;
    m_told = false;
    return true;
  }
  // The device answered that it did not run the command (it refused it, or was busy), or the
  // request never left the frame's channel: it holds what it held before, and when that was no
  // fixed level there is nothing to give back.
  if (!heldBefore && (m_levelOutcome.kind == EDeviceOutcome::Refused || m_levelOutcome.kind == EDeviceOutcome::Busy ||
                      m_levelOutcome.kind == EDeviceOutcome::NotTaken)) {
    m_held = false;
    return false;
  }
  Release();
  return false;
}

bool CFixedLoopCurrent::Trim(LONG parameterId, float milliamps) {
  if (!m_confirmed || !IsOnline()) return false;
  m_levelParameter = parameterId;
  if (WriteAndWait(parameterId, milliamps, &m_levelOutcome)) return true;
  // The trim's fate is unknown: the loop is given back rather than left fixed under a procedure
  // that stops here.
  m_confirmed = false;
  Release();
  return false;
}

bool CFixedLoopCurrent::ReleaseOnExit() {
  if (!m_held || !IsOnline()) return true;
  return Release();
}

CFixedLoopCurrent::Exit CFixedLoopCurrent::RequestExit() {
  if (ReleaseOnExit() || m_told) return Exit::Leave;
  m_told = true;
  return Exit::Warn;
}

std::u16string CFixedLoopCurrent::NotConfirmedText(HINSTANCE module, bool trim, float milliamps) {
  if (!m_held)
    return WithReason(WithMilliamps(LoadText(module, trim ? kStringTrimNotTaken : kStringLevelNotFixed), milliamps),
                      m_levelOutcome, CommandOf(m_levelParameter));
  m_told = true;
  // Neither was confirmed: why the give-back was not is what leaves the loop as it is.
  return WithReason(WithMilliamps(LoadText(module, trim ? kStringTrimMayBeFixed : kStringLevelMayBeFixed), milliamps),
                    m_releaseOutcome, CommandOf(kParOutputLevel));
}

std::u16string CFixedLoopCurrent::StillFixedText(HINSTANCE module) const {
  return WithReason(LoadText(module, kStringStillFixed), m_releaseOutcome, CommandOf(kParOutputLevel));
}

void CFixedLoopCurrent::ReleaseWithoutWaiting() {
  if (!m_held || !IsOnline()) return;
  Write(kParOutputLevel, 0.0f);
}

bool CFixedLoopCurrent::ReleaseBeforeOffline() {
  if (!m_held) return true;
  vkr::ComPtr<IovFdtConnectionManagement> connections;
  vkr::ComPtr<IUnknown> connection;
  vkr::ComPtr<IovFdtHartServiceInterface> hart;
  if (!m_dtm || FAILED(m_dtm->QueryInterface(IovFdtConnectionManagement::iid, connections.PutVoid())) || !connections ||
      FAILED(connections->GetConnection(0, connection.Put())) || !connection ||
      FAILED(connection->QueryInterface(IovFdtHartServiceInterface::iid, hart.PutVoid())) || !hart)
    return false;
  // Command 40 with 0.0 mA: leave fixed-current mode.
  vkr::Bstr request(u"00000000"), response, error;
  BYTE deviceStatus = 0, responseCode = 0xFF;
  const HRESULT hr = hart->Transaction(40, request.Get(), &deviceStatus, &responseCode, response.Put(), error.Put());
  // A warning is a give-back the device took.
  if (hr != S_OK || (responseCode != 0 && !vkr::hart::IsWarning(40, responseCode))) return false;
  m_held = false;
  m_confirmed = false;
  m_told = false;
  return true;
}

bool CFixedLoopCurrent::FollowState(ULONG state) {
  const bool wasOnline = m_lastState == kDtmStateOnline;
  m_lastState = state;
  // Whatever happens to the loop now, no procedure goes on with a level confirmed before.
  if (state != kDtmStateOnline) m_confirmed = false;
  if (state == kDtmStateOnline) {
    // Only on coming back: the state told again while online leaves the procedure alone.
    if (!wasOnline && m_held) Write(kParOutputLevel, 0.0f);
    return true;
  }
  return !wasOnline || ReleaseBeforeOffline();
}

CFixedLoopCurrent::ProcedureStep CFixedLoopCurrent::FollowProcedure(ULONG state, bool underWay, bool* online) {
  const bool leaving = *online && state != kDtmStateOnline;
  *online = state == kDtmStateOnline;
  const bool givenBack = FollowState(state);
  ProcedureStep step;
  step.stopped = leaving && underWay;
  if (!givenBack || step.stopped) step.notice = givenBack ? kStringProcedureStopped : kStringLostWhileFixed;
  return step;
}

}  // namespace vkr::dui

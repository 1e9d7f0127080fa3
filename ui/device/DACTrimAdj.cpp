// The loop-current trim: choosing the level, the reference-meter dialogue with the trim writes,
// and the current given back on every road out.
#include "ui/device/DACTrimAdj.h"

#include <cmath>
#include <string>

#include "include/ProgramIds.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr UINT kStringExitQuestion = 138;  // "Exit DAC Trim Process?"
constexpr UINT kStringLoopNote = 150;      // "Loop may be returned to automatic control"
constexpr UINT kStringSetting4mA = 159;    // "Setting field device output to 4.000 mA"
constexpr UINT kStringSetting20mA = 166;   // "Setting field device output to 20.000 mA"
constexpr UINT kStringTitle = 168;         // "DAC Trim"

constexpr const char* kLevelTexts[] = {"4mA", "20mA", "End"};

SCompositeControlClass DacTrimClass() {
  SCompositeControlClass cls;
  cls.dialogId = kDacTrimDialogId;
  return cls;
}

}  // namespace

CDACTrimAdj::CDACTrimAdj()
    : CovFDT_IDtmActiveXControlImpl(CLSID_DACTrimAdj, &CDACTrimAdj::GetParameterMap, DacTrimClass()) {}

CDACTrimAdj::~CDACTrimAdj() = default;

CActXParInfo* CDACTrimAdj::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

void* CDACTrimAdj::FindInterface(REFIID riid) {
  if (riid == IDACTrimAdj::iid) return static_cast<IDACTrimAdj*>(this);
  return CovFDT_IDtmActiveXControlImpl::FindInterface(riid);
}

HRESULT CDACTrimAdj::GetTypeInfoCount(UINT* count) { return CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(count); }
HRESULT CDACTrimAdj::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CDACTrimAdj::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CDACTrimAdj::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXControlImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

// ---- Window --------------------------------------------------------------------------------------

BOOL CDACTrimAdj::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
      FillList();
      m_fTarget = 0.0f;
      if (result) *result = TRUE;
      return TRUE;
    case kLostWhileFixedNotice:
      if (wParam == kStringLostWhileFixed) m_loop.ToldMayBeFixed();
      Ask(LoadText(ResourceInstance(), static_cast<UINT>(wParam)), kMessageError);
      if (result) *result = 0;
      return TRUE;
    case WM_DESTROY:
      // Gone without being asked to release (the frame tearing down): the request is sent, no
      // answer can be awaited here.
      m_loop.ReleaseWithoutWaiting();
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (LOWORD(wParam) == kDacTrimEnter) {
        if (!m_bBusy) RunTrimProcedure();
      } else if (LOWORD(wParam) == kDacTrimAbort) {
        if (!m_bBusy) AbortProcedure();
      } else if (LOWORD(wParam) != kDacTrimReadingEnter) {
        break;  // OK, Cancel, Apply: the control family's
      }
      if (result) *result = 0;
      return TRUE;
    default: break;
  }
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

void CDACTrimAdj::FillList() {
  HWND dialog = DialogWindow();
  if (!dialog) return;
  ::SendDlgItemMessageA(dialog, kDacTrimLevelList, LB_RESETCONTENT, 0, 0);
  for (const char* text : kLevelTexts)
    ::SendDlgItemMessageA(dialog, kDacTrimLevelList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  ::SendDlgItemMessageA(dialog, kDacTrimLevelList, LB_SETCURSEL, 0, 0);
}

void CDACTrimAdj::Show(UINT id, bool shown) {
  if (HWND item = ::GetDlgItem(DialogWindow(), static_cast<int>(id))) ::ShowWindow(item, shown ? SW_SHOW : SW_HIDE);
}

void CDACTrimAdj::ShowReading(const char* prefill) {
  HWND dialog = DialogWindow();
  ::SetDlgItemTextA(dialog, kDacTrimReadingEdit, "");
  for (UINT id : {kDacTrimReadingLabel, kDacTrimReadingEdit, kDacTrimReadingUnit}) Show(id, true);
  ::SetDlgItemTextA(dialog, kDacTrimReadingEdit, prefill);
  for (UINT id : {kDacTrimLevelList, kDacTrimLevelLabel}) {
    ::EnableWindow(::GetDlgItem(dialog, static_cast<int>(id)), FALSE);
    Show(id, false);
  }
}

void CDACTrimAdj::ShowLevels() {
  HWND dialog = DialogWindow();
  ::SetDlgItemTextA(dialog, kDacTrimReadingEdit, "");
  for (UINT id : {kDacTrimReadingLabel, kDacTrimReadingEdit, kDacTrimReadingUnit}) Show(id, false);
  for (UINT id : {kDacTrimLevelList, kDacTrimLevelLabel}) {
    ::EnableWindow(::GetDlgItem(dialog, static_cast<int>(id)), TRUE);
    Show(id, true);
  }
}

LONG CDACTrimAdj::Ask(const std::u16string& text, LONG style) {
  LONG answer = 0;
  if (ShowDeviceMessage(m_spDtmObject.Get(), LoadText(ResourceInstance(), kStringTitle), text, style, &answer) ==
      E_NOINTERFACE)
    return kNoContainer;
  return answer;
}

bool CDACTrimAdj::IsOnline(HRESULT* missing) const {
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtmObject || FAILED(m_spDtmObject->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) {
    *missing = E_NOINTERFACE;
    return false;
  }
  *missing = S_OK;
  return m_loop.IsOnline();
}

void CDACTrimAdj::TellWarnings() {
  if (const std::u16string warnings = m_loop.TakeWarnings(); !warnings.empty()) Ask(warnings, kMessageInformation);
}

LONG CDACTrimAdj::AskMatch() {
  return Ask(WithMilliamps(vkr::Utf8ToUtf16(kDacTrimMatchQuestion), m_fTarget), kMessageYesNoInfo);
}

bool CDACTrimAdj::ReleaseAfterMatch() {
  ShowLevels();
  if (!m_loop.IsOnline()) return true;
  if (m_loop.Release()) {
    TellWarnings();
    return true;
  }
  m_loop.ToldMayBeFixed();
  Ask(m_loop.StillFixedText(ResourceInstance()), kMessageError);
  return false;
}

void CDACTrimAdj::BackToLevels() {
  ShowLevels();
  m_nStage = 1;
}

void CDACTrimAdj::RefuseReading(const std::u16string& text) {
  Ask(text, kMessageError);
  HWND edit = ::GetDlgItem(DialogWindow(), kDacTrimReadingEdit);
  ::SetFocus(edit);
  ::SendMessageA(edit, EM_SETSEL, 0, -1);
}

// ---- Start and end -------------------------------------------------------------------------------

HRESULT CDACTrimAdj::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::InitializeUI(dtm, ok);
  m_loop.Attach(m_spDtmObject.Get(), m_spDtm.Get());
  m_bOnline = m_loop.IsOnline();
  return hr;
}

HRESULT CDACTrimAdj::UninitializeUI(VARIANT_BOOL* ok) {
  m_loop.ReleaseOnExit();
  m_loop.Detach();
  return CovFDT_IDtmActiveXControlImpl::UninitializeUI(ok);
}

HRESULT CDACTrimAdj::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  if (m_loop.RequestExit() == CFixedLoopCurrent::Exit::Warn) {
    *result = VARIANT_FALSE;
    Ask(m_loop.StillFixedText(ResourceInstance()), kMessageError);
    return S_FALSE;
  }
  TellWarnings();
  return CovFDT_IDtmActiveXControlImpl::PrepareToRelease(result);
}

HRESULT CDACTrimAdj::OnDtmStateChanged(ULONG state) {
  // Under way while a level is chosen or held.
  const auto step = m_loop.FollowProcedure(state, m_nStage == 0 || m_loop.Held(), &m_bOnline);
  if (step.stopped) {
    // The trim cannot go on without the device: it starts again from the list.
    ++m_nStops;
    if (DialogWindow()) BackToLevels();
  }
  // Told from inside the DTM's state change: the message waits until that is done.
  if (DialogWindow() && step.notice) ::PostMessageW(DialogWindow(), kLostWhileFixedNotice, step.notice, 0);
  return CovFDT_IDtmActiveXControlImpl::OnDtmStateChanged(state);
}

// ---- The procedure -------------------------------------------------------------------------------

HRESULT CDACTrimAdj::RunTrimProcedure() {
  // The device's answers and the user's come back inside this step (message loops): a second
  // Enter or Abort meanwhile waits for the step to end.
  m_bBusy = true;
  const HRESULT hr = TrimStep();
  m_bBusy = false;
  return hr;
}

HRESULT CDACTrimAdj::TrimStep() {
  HWND dialog = DialogWindow();
  const LRESULT choice = ::SendDlgItemMessageA(dialog, kDacTrimLevelList, LB_GETCURSEL, 0, 0);
  HRESULT missing = S_OK;
  const unsigned stops = m_nStops;
  // The DTM left online while the step waited: the procedure is back at the list, told so.
  auto stopped = [&] { return stops != m_nStops; };

  if (m_nStage == 1) {
    if (choice == kTrimEnd) {
      m_bBusy = false;
      return AbortProcedure();
    }
    if (choice != kTrim4mA && choice != kTrim20mA) return S_OK;
    const bool high = choice == kTrim20mA;
    m_fTarget = high ? 20.0f : 4.0f;
    // Offline nothing reaches the device: no level is announced, no meter reading asked for.
    auto offline = [&] {
      const bool online = IsOnline(&missing);
      if (SUCCEEDED(missing) && !online)
        Ask(LoadText(ResourceInstance(), kStringOfflineNothingFixed), kMessageInformation);
      return !online;
    };
    if (offline()) return missing;
    const LONG go =
        Ask(LoadText(ResourceInstance(), high ? kStringSetting20mA : kStringSetting4mA), kMessageOkCancelInfo);
    if (go == kNoContainer || go == kAnswerCancel || stopped() || offline()) return missing;
    if (!m_loop.Fix(m_fTarget)) {
      if (stopped()) return S_OK;
      Ask(m_loop.NotConfirmedText(ResourceInstance(), false, m_fTarget), kMessageError);
      TellWarnings();
      return S_OK;
    }
    if (stopped()) return S_OK;
    TellWarnings();
    // A new level starts its own count: trims at 4 mA do not use up those at 20 mA.
    m_nAttempts = 0;
    ShowReading(high ? "20.000" : "4.000");
    const LONG match = AskMatch();
    if (match == kNoContainer || stopped()) return S_OK;
    if (match != kAnswerYes) {
      m_nStage = 0;
      return S_OK;
    }
    ReleaseAfterMatch();
    m_nAttempts = 0;
    m_nStage = 1;
    return S_OK;
  }

  // Awaiting the meter reading. One that is not a number, or that no meter in a loop fixed at
  // the level shows, is never sent as a trim.
  float reading = 0.0f;
  if (GetDlgItemFloat(kDacTrimReadingEdit, "%.3f", &reading) != S_OK || !std::isfinite(reading)) {
    RefuseReading(LoadText(ResourceInstance(), kStringNotANumber));
    return S_OK;
  }
  if (!IsPlausibleReading(reading, m_fTarget)) {
    RefuseReading(WithMilliamps(LoadText(ResourceInstance(), kStringImplausibleReading), m_fTarget));
    return S_OK;
  }
  LONG trim = 0;
  if (m_fTarget == 4.0f)
    trim = kParLoopCurrentZeroTrim;
  else if (m_fTarget == 20.0f)
    trim = kParLoopCurrentGainTrim;
  else
    return S_OK;
  if (m_nAttempts == kDacTrimMaxAttempts) {
    Ask(vkr::Utf8ToUtf16(kDacTrimTooManyAttempts), kMessageInformation);
    m_bBusy = false;
    return AbortProcedure();
  }
  const bool online = IsOnline(&missing);
  if (FAILED(missing)) return missing;
  if (online && !m_loop.Confirmed()) {
    // No level the device confirmed (it went online after the reading stage began): nothing to
    // trim against.
    BackToLevels();
    Ask(WithMilliamps(LoadText(ResourceInstance(), kStringLevelNotFixed), m_fTarget), kMessageError);
    return S_OK;
  }
  if (online) {
    if (!m_loop.Trim(trim, reading)) {
      if (stopped()) return S_OK;
      // Not confirmed (or no confirmed level to trim): the loop has been given back, the level
      // has to be chosen again.
      BackToLevels();
      Ask(m_loop.NotConfirmedText(ResourceInstance(), true, reading), kMessageError);
      TellWarnings();
      return S_OK;
    }
    ++m_nAttempts;
    TellWarnings();
  }
  ::SetDlgItemTextA(dialog, kDacTrimReadingEdit, trim == kParLoopCurrentZeroTrim ? "4.000" : "20.000");
  if (AskMatch() != kAnswerYes || stopped()) return S_OK;
  ReleaseAfterMatch();
  m_nStage = 1;
  return S_OK;
}

HRESULT CDACTrimAdj::AbortProcedure() {
  vkr::ComPtr<IovFdtActiveXContainer> container;
  if (!m_spDtmObject || FAILED(m_spDtmObject->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid())) ||
      !container)
    return S_OK;
  if (Ask(LoadText(ResourceInstance(), kStringExitQuestion), kMessageYesNoInfo) != kAnswerYes) return S_OK;
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (FAILED(m_spDtmObject->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  // The loop is given back before the user hears it may return to automatic control.
  m_bBusy = true;
  const CFixedLoopCurrent::Exit exit = m_loop.RequestExit();
  m_bBusy = false;
  if (exit == CFixedLoopCurrent::Exit::Warn) {
    Ask(m_loop.StillFixedText(ResourceInstance()), kMessageError);
    return S_OK;
  }
  TellWarnings();
  // Left with the current in doubt (the user heard it), the loop is not said to be free.
  if (!m_loop.Held()) Ask(LoadText(ResourceInstance(), kStringLoopNote), kMessageInformation);
  PostCloseRequest();
  return S_OK;
}

}  // namespace vkr::dui

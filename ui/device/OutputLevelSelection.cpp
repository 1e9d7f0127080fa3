// The loop test: the list of levels, Enter and Abort, and the output given back on every road out.
#include "ui/device/OutputLevelSelection.h"

#include <cmath>
#include <string>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr UINT kStringLoopTest = 264;     // the messages' title
constexpr UINT kStringLoopNote = 271;     // "NOTE-Loop may be returned to automatic control"
constexpr UINT kStringFixedAt = 278;      // "Field device output is fixed at %.3f mA"
constexpr UINT kStringReturning = 279;    // "Returning field device\n\rto original output"
constexpr UINT kStringChooseLevel = 283;  // "Choose analog output level"
constexpr UINT kStringEnterLevel = 284;   // "Enter analog output level"
constexpr const char* kDefaultOwnLevel = "20.000";

constexpr const char* kLevelTexts[] = {"4mA", "20mA", "Other", "End"};

SCompositeControlClass OutputLevelClass() {
  SCompositeControlClass cls;
  cls.dialogId = kOutputLevelDialogId;
  cls.controlNames = vkr::dui::kOutputLevelSelectionControlNames;
  return cls;
}

}  // namespace

COutputLevelSelection::COutputLevelSelection()
    : CovFDT_IDtmActiveXImplEx(CLSID_OutputLevelSelection, &COutputLevelSelection::GetParameterMap,
                               OutputLevelClass()) {}

COutputLevelSelection::~COutputLevelSelection() = default;

CActXParInfo* COutputLevelSelection::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

void* COutputLevelSelection::FindInterface(REFIID riid) {
  if (riid == IOutputLevelSelection::iid) return static_cast<IOutputLevelSelection*>(this);
  return CovFDT_IDtmActiveXImplEx::FindInterface(riid);
}

HRESULT COutputLevelSelection::GetTypeInfoCount(UINT* count) {
  return CovFDT_IDtmActiveXImplEx::GetTypeInfoCount(count);
}
HRESULT COutputLevelSelection::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXImplEx::GetTypeInfo(index, lcid, info);
}
HRESULT COutputLevelSelection::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXImplEx::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT COutputLevelSelection::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXImplEx::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

// ---- Window --------------------------------------------------------------------------------------

BOOL COutputLevelSelection::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                 LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      // The base keeps the dialog first; then the list.
      CovFDT_IDtmActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
      FillDialog();
      if (result) *result = TRUE;
      return TRUE;
    case kLostWhileFixedNotice:
      if (wParam == kStringLostWhileFixed) m_loop.ToldMayBeFixed();
      Tell(LoadText(ResourceInstance(), static_cast<UINT>(wParam)), kMessageError);
      if (result) *result = 0;
      return TRUE;
    case WM_DESTROY:
      // Gone without being asked to release (the frame tearing down): the request is sent, no
      // answer can be awaited here.
      m_loop.ReleaseWithoutWaiting();
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kOutputLevelEnter) {
        if (!m_bBusy) OnEnter();
        if (result) *result = 0;
        return TRUE;
      }
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kOutputLevelAbort) {
        if (!m_bBusy) OnAbort();
        if (result) *result = 0;
        return TRUE;
      }
      break;
    default: break;
  }
  return CovFDT_IDtmActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
}

void COutputLevelSelection::FillDialog() {
  HWND dialog = DialogWindow();
  if (!dialog) return;
  SetLabel(kStringChooseLevel);
  ::SendDlgItemMessageA(dialog, kOutputLevelList, LB_RESETCONTENT, 0, 0);
  for (const char* text : kLevelTexts)
    ::SendDlgItemMessageA(dialog, kOutputLevelList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  ::SendDlgItemMessageA(dialog, kOutputLevelList, LB_SETCURSEL, 0, 0);
  Show(kOutputLevelEdit, false);
  Show(kOutputLevelUnit, false);
}

void COutputLevelSelection::SetLabel(UINT stringId) {
  char text[256] = {};
  if (::LoadStringA(ResourceInstance(), stringId, text, sizeof text) > 0)
    ::SetDlgItemTextA(DialogWindow(), kOutputLevelLabel, text);
}

void COutputLevelSelection::Show(UINT id, bool shown) {
  if (HWND item = ::GetDlgItem(DialogWindow(), static_cast<int>(id))) ::ShowWindow(item, shown ? SW_SHOW : SW_HIDE);
}

void COutputLevelSelection::ShowList() {
  SetLabel(kStringChooseLevel);
  Show(kOutputLevelEdit, false);
  Show(kOutputLevelUnit, false);
  Show(kOutputLevelList, true);
  ::SendDlgItemMessageA(DialogWindow(), kOutputLevelList, LB_SETCURSEL, 0, 0);
  m_nStage = 1;
}

void COutputLevelSelection::RefuseTyped(UINT textId) {
  Tell(LoadText(ResourceInstance(), textId), kMessageError);
  HWND edit = ::GetDlgItem(DialogWindow(), kOutputLevelEdit);
  ::SetFocus(edit);
  ::SendMessageA(edit, EM_SETSEL, 0, -1);
}

void COutputLevelSelection::TellWarnings() {
  if (const std::u16string warnings = m_loop.TakeWarnings(); !warnings.empty()) Tell(warnings);
}

bool COutputLevelSelection::Tell(const std::u16string& text, LONG style) {
  return ShowDeviceMessage(m_spDtmObject.Get(), LoadText(ResourceInstance(), kStringLoopTest), text, style) !=
         E_NOINTERFACE;
}

// ---- Start and end -------------------------------------------------------------------------------

HRESULT COutputLevelSelection::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  const HRESULT hr = CovFDT_IDtmActiveXImplEx::InitializeUI(dtm, ok);
  m_loop.Attach(m_spDtmObject.Get(), m_spDtm.Get());
  m_bOnline = m_loop.IsOnline();
  return hr;
}

HRESULT COutputLevelSelection::UninitializeUI(VARIANT_BOOL* ok) {
  m_loop.ReleaseOnExit();
  m_loop.Detach();
  return CovFDT_IDtmActiveXImplEx::UninitializeUI(ok);
}

HRESULT COutputLevelSelection::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  if (m_loop.RequestExit() == CFixedLoopCurrent::Exit::Warn) {
    *result = VARIANT_FALSE;
    Tell(m_loop.StillFixedText(ResourceInstance()), kMessageError);
    return S_FALSE;
  }
  TellWarnings();
  if (!m_loop.Held()) m_bOutputFixed = 0;
  return CovFDT_IDtmActiveXImplEx::PrepareToRelease(result);
}

HRESULT COutputLevelSelection::OnDtmStateChanged(ULONG state) {
  // Under way while a level is chosen or held.
  const auto step = m_loop.FollowProcedure(state, m_nStage == 0 || m_loop.Held(), &m_bOnline);
  if (step.stopped) {
    // The test cannot go on without the device: it starts again from the list.
    ++m_nStops;
    if (!m_loop.Held()) m_bOutputFixed = 0;
    if (DialogWindow()) ShowList();
  }
  // Told from inside the DTM's state change: the message waits until that is done.
  if (DialogWindow() && step.notice) ::PostMessageW(DialogWindow(), kLostWhileFixedNotice, step.notice, 0);
  return CovFDT_IDtmActiveXImplEx::OnDtmStateChanged(state);
}

// ---- Enter and Abort -----------------------------------------------------------------------------

HRESULT COutputLevelSelection::OnEnter() {
  HWND dialog = DialogWindow();
  float level = 0.0f;
  if (m_nStage == 1) {
    const LRESULT choice = ::SendDlgItemMessageA(dialog, kOutputLevelList, LB_GETCURSEL, 0, 0);
    switch (choice) {
      case kLevel4mA: level = 4.0f; break;
      case kLevel20mA: level = 20.0f; break;
      case kLevelOther:
        SetLabel(kStringEnterLevel);
        Show(kOutputLevelList, false);
        Show(kOutputLevelEdit, true);
        Show(kOutputLevelUnit, true);
        ::SetDlgItemTextA(dialog, kOutputLevelEdit, kDefaultOwnLevel);
        m_nStage = 0;
        return S_OK;
      case kLevelEnd: return OnAbort();
      default:
        // Nothing chosen: there is no level to fix.
        return S_OK;
    }
  } else {
    // A typed level the device cannot fix is never written: the user is told and types again
    // (0 would leave fixed-current mode and still be announced as fixed).
    if (GetDlgItemFloat(kOutputLevelEdit, "%.3f", &level) != S_OK || !std::isfinite(level)) {
      RefuseTyped(kStringNotANumber);
      return S_OK;
    }
    if (!IsFixableLevel(level)) {
      RefuseTyped(kStringLevelOutOfRange);
      return S_OK;
    }
    ShowList();
  }

  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtmObject || FAILED(m_spDtmObject->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base)
    return E_NOINTERFACE;
  if (!m_loop.IsOnline()) {
    // Nothing reaches the device: nothing is said to be fixed.
    Tell(LoadText(ResourceInstance(), kStringOfflineNothingFixed));
    return S_OK;
  }
  const unsigned stops = m_nStops;
  m_bBusy = true;
  const bool fixed = m_loop.Fix(level);
  m_bBusy = false;
  m_bOutputFixed = m_loop.Held() ? 1 : 0;
  // The DTM left online meanwhile: the user has been told that the test stopped.
  if (stops != m_nStops) return S_OK;
  if (!fixed) {
    Tell(m_loop.NotConfirmedText(ResourceInstance(), false, level), kMessageError);
    TellWarnings();
    return S_OK;
  }
  // The device's warning says what it was fixed at with what it warns of.
  const std::u16string warnings = m_loop.TakeWarnings();
  Tell(warnings.empty() ? WithMilliamps(LoadText(ResourceInstance(), kStringFixedAt), level) : warnings);
  return S_OK;
}

HRESULT COutputLevelSelection::OnAbort() {
  if (m_bOutputFixed == 1 || m_loop.Held()) {
    SetLabel(kStringReturning);
    for (UINT id : {kOutputLevelList, kOutputLevelEdit, kOutputLevelUnit, kOutputLevelEnter, kOutputLevelAbort})
      Show(id, false);
    vkr::ComPtr<IovFdtBaseDTM> base;
    if (!m_spDtmObject || FAILED(m_spDtmObject->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base)
      return E_NOINTERFACE;
    m_bBusy = true;
    const CFixedLoopCurrent::Exit exit = m_loop.RequestExit();
    m_bBusy = false;
    if (exit == CFixedLoopCurrent::Exit::Warn) {
      // The device still holds the level: say so and give the user the buttons back to try again.
      Tell(m_loop.StillFixedText(ResourceInstance()), kMessageError);
      SetLabel(m_nStage == 1 ? kStringChooseLevel : kStringEnterLevel);
      Show(m_nStage == 1 ? kOutputLevelList : kOutputLevelEdit, true);
      if (m_nStage == 0) Show(kOutputLevelUnit, true);
      Show(kOutputLevelEnter, true);
      Show(kOutputLevelAbort, true);
      return S_OK;
    }
    m_bOutputFixed = 0;
    TellWarnings();
  }
  HWND dialog = DialogWindow();
  ::EnableWindow(::GetDlgItem(dialog, kOutputLevelEnter), FALSE);
  ::EnableWindow(::GetDlgItem(dialog, kOutputLevelAbort), FALSE);
  // Left with the output in doubt (the user heard it), the loop is not said to be free.
  if (!m_loop.Held() && !Tell(LoadText(ResourceInstance(), kStringLoopNote))) return S_OK;
  PostCloseRequest();
  return S_OK;
}

}  // namespace vkr::dui

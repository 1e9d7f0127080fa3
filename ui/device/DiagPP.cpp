// The Diagnostics page: its table, the counter and flag display, and the procedures.
#include "ui/device/DiagPP.h"

#include <string>
#include <utility>

#include "communication/HartResponseTexts.h"
#include "include/DtmInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

std::optional<USHORT> DecodeConfigChangeCounter(const std::vector<BYTE>& command0) {
  // The answer's other fields are not this page's: only a whole answer up to the counter counts.
  if (command0.size() < 16) return std::nullopt;
  return CByteReader(command0).U16(14);
}

const char* ConfigChangedFlagText(BYTE deviceStatus) { return (deviceStatus & 0x40) ? "ON" : "OFF"; }

namespace {

// Parameters of the page.
constexpr LONG kResetConfigChangedFlag = 1111;
constexpr LONG kConfigCounter = 1112;

// Strings of the procedures.
constexpr UINT kStringDacTrimWarning = 152;
constexpr UINT kStringConnectMeter = 157;
constexpr UINT kStringDacTrimCaption = 168;
constexpr UINT kStringSelfTestCaption = 262;
constexpr UINT kStringMasterResetCaption = 263;
constexpr UINT kStringLoopTestCaption = 264;
constexpr UINT kStringSelectOk = 267;
constexpr UINT kStringLoopWarning = 268;
constexpr UINT kStringAboutSelfTest = 269;
constexpr UINT kStringSelfTestOffline = 270;
constexpr UINT kStringLoopNote = 271;
constexpr UINT kStringSelfTestError = 272;
constexpr UINT kStringAboutMasterReset = 274;
constexpr UINT kStringMasterResetOffline = 275;
constexpr UINT kStringMasterResetError = 276;

SPropertyPageClass DiagClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_DiagPP;
  c.parameterMap = &CDiagPP::GetParameterMap;
  c.dialogId = kDiagDialogId;
  c.controlNames = vkr::dui::kDiagControlNames;
  c.titleId = kDiagTitleId;
  c.helpFileId = kDiagHelpFileId;
  c.docStringId = kDiagDocStringId;
  return c;
}

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object && FAILED(object->QueryInterface(Interface::iid, found.PutVoid()))) found = nullptr;
  return found;
}

// The low byte of a number of any numeric type; absent for a value that is no number.
std::optional<BYTE> LowByte(const VARIANT& value) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, &value, 0, VT_I4))) return std::nullopt;
  return static_cast<BYTE>(number.lVal & 0xFF);
}

// Clears a flag when the scope ends, however it ends.
struct SClearOnExit {
  bool& flag;
  ~SClearOnExit() { flag = false; }
};

}  // namespace

CDiagPP::CDiagPP() : CDevicePropertyPage(DiagClass()) {
  // The page's "access mode 4" is this dialog type: online reading.
  m_nDialogType = kDialogTypeOnlineReading;
}

CDiagPP::~CDiagPP() = default;

CActXParInfo* CDiagPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[11];
  static const bool filled = [] {
    constexpr ULONG kCommand = 0x80000000;
    struct Row {
      LONG id;
      const char* name;
      ULONG state;
    };
    const Row rows[] = {
        {kResetConfigChangedFlag, "Reset config changed flag", 0},
        {kConfigCounter, "Reset config count", 0},
        {kParCommand0Complete, "Command 0 complete", 0x71},
        {kParDeviceStatus, "DeviceStatus", 0x71},
        {kParSelfTestResponse, "SelftestResponse", 0},
        {kParMasterResetResponse, "MasterresetResponse", 0},
        {kParSelfTest, "Command 41 complete", 0},
        {kParMasterReset, "Command 42 complete", 0},
        {kParButtonRefresh, "Button Refresh", 0},
        {kParButtonSend, "Button Send", 0},
    };
    int i = 0;
    for (const Row& row : rows) entries[i++] = CActXParInfo(row.id, row.name, 0, "", row.state, FALSE, kCommand);
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 10;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

// ---- Values --------------------------------------------------------------------------------------

HRESULT CDiagPP::ReadParameter(LONG) { return S_OK; }

HRESULT CDiagPP::SetControlValueById(LONG id, VARIANT value) {
  CUpdatingControls updating(*this);
  switch (id) {
    case kParDeviceStatus:
      if (auto status = LowByte(value); status && m_hWndDialog)
        ::SetDlgItemTextA(m_hWndDialog, kDiagFlagEdit, ConfigChangedFlagText(*status));
      return S_OK;
    case kParCommand0Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const std::optional<USHORT> counter = DecodeConfigChangeCounter(bytes);
      if (!counter) {
        // An answer too short to hold the counter brought none: a counter still awaited says so.
        if (m_hWndDialog && AwaitsValue(m_hWndDialog, kDiagCounterEdit))
          TellNotRead(kParCommand0Complete, {kDiagCounterEdit}, {}, SDeviceOutcome{EDeviceOutcome::Lost});
        return S_OK;
      }
      if (m_hWndDialog)
        ::SetDlgItemTextA(m_hWndDialog, kDiagCounterEdit, std::to_string(static_cast<unsigned>(*counter)).c_str());
      if (m_spDtm) {
        VARIANT stored = vkr::EmptyVariant();
        stored.vt = VT_UI2;
        stored.uiVal = *counter;
        m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(kConfigCounter)), stored);
      }
      m_abyConfigChangeCounter[0] = static_cast<BYTE>(*counter >> 8);
      m_abyConfigChangeCounter[1] = static_cast<BYTE>(*counter & 0xFF);
      m_bCounterKnown = true;
      return S_OK;
    }
    case kParSelfTestResponse:
      // The read of all entries reports stored outcomes, not a test that just ran.
      if (!m_bBusy) OnSelfTestResponse(value);
      return S_OK;
    case kParMasterResetResponse:
      if (!m_bBusy) OnMasterResetResponse(value);
      return S_OK;
    case kParSelfTest:
    case kParMasterReset:
    case kParButtonRefresh:
    case kParButtonSend:
    case kResetConfigChangedFlag:
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

void CDiagPP::OnSelfTestResponse(const VARIANT& value) {
  if (m_nPendingProcedure == kParSelfTest) m_nPendingProcedure = 0;
  if (!HasContainer()) return;
  const std::optional<BYTE> outcome = LowByte(value);
  if (!outcome) return;
  // A warning is a test the device ran: the results are there, and the warning is told first.
  if (*outcome == 0 || vkr::hart::IsWarning(41, *outcome)) {
    if (*outcome != 0) TellProcedureWarning(kStringSelfTestCaption, 41, *outcome);
    OpenFunction(kFunctionSelfTestResults);
    return;
  }
  if (std::exchange(m_nToldProcedure, 0) == kParSelfTest) return;
  // The device's response code: the test did not run, and the user learns why.
  TellProcedureFailed(
      {kStringSelfTestCaption, kStringAboutSelfTest, kParSelfTest, kStringSelfTestError, kStringSelfTestOffline},
      SDeviceOutcome{*outcome == 32 ? EDeviceOutcome::Busy : EDeviceOutcome::Refused, *outcome});
}

void CDiagPP::OnMasterResetResponse(const VARIANT& value) {
  if (m_nPendingProcedure == kParMasterReset) m_nPendingProcedure = 0;
  if (!HasContainer()) return;
  const std::optional<BYTE> outcome = LowByte(value);
  if (!outcome || *outcome == 0 || std::exchange(m_nToldProcedure, 0) == kParMasterReset) return;
  if (vkr::hart::IsWarning(42, *outcome)) {
    TellProcedureWarning(kStringMasterResetCaption, 42, *outcome);
    return;
  }
  TellProcedureFailed({kStringMasterResetCaption, kStringAboutMasterReset, kParMasterReset, kStringMasterResetError,
                       kStringMasterResetOffline},
                      SDeviceOutcome{*outcome == 32 ? EDeviceOutcome::Busy : EDeviceOutcome::Refused, *outcome});
}

HRESULT CDiagPP::GetControlValueById(LONG id, VARIANT* value) {
  if (id != kResetConfigChangedFlag) return CDevicePropertyPage::GetControlValueById(id, value);
  if (!value) return E_POINTER;
  if (!m_bCounterKnown) return E_FAIL;
  VariantClear(value);
  return MakeByteArray(m_abyConfigChangeCounter, value);
}

HRESULT CDiagPP::SetControlStateById(LONG id, ULONG state) {
  if (FindParameterIndex(id) < 0) return S_OK;
  return CDevicePropertyPage::SetControlStateById(id, state);
}

// ---- Showing and hiding --------------------------------------------------------------------------

HRESULT CDiagPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  if (wParam != 0) {
    m_bPageVisible = true;
    m_bFirstShow = false;
  } else {
    m_bPageVisible = false;
  }
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  // Shown without a device, the values of one that has gone make way too; shown online, the
  // values shown before wait for the reads below (a read that fails at once says so in them).
  ShowPlaceholders(!DeviceMayAnswer() || (wParam != 0 && IsOnline() && m_spDtm));
  EnableDeviceButtons();
  if (!IsOnline() || !m_spDtm) return S_OK;
  for (LONG id : {kParCommand0Complete, kParDeviceStatus}) {
    VARIANT_BOOL asked = VARIANT_FALSE;
    const HRESULT hr = m_spDtm->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), &asked);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void CDiagPP::ShowPlaceholders(bool overValues) {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  for (UINT id : {kDiagCounterEdit, kDiagFlagEdit})
    if (overValues || DialogItemText(m_hWndDialog, id).empty()) SetLoadingText(m_hWndDialog, {id});
  MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(), {kDiagCounterEdit, kDiagFlagEdit});
}

void CDiagPP::UpdatePlaceholders() {
  ShowPlaceholders(false);
  EnableDeviceButtons();
}

// ---- Procedures ----------------------------------------------------------------------------------

bool CDiagPP::HasContainer() const { return Query<IovFdtActiveXContainer>(m_spDtmObject.Get()) != nullptr; }

bool CDiagPP::IsOnline() const {
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  return base && SUCCEEDED(base->GetDTMState(&state)) && static_cast<ULONG>(state) == kDtmStateOnline;
}

LONG CDiagPP::Tell(UINT captionId, UINT textId, LONG style) {
  std::u16string caption, text;
  LoadPageString(captionId, &caption);
  LoadPageString(textId, &text);
  LONG answer = 0;
  ShowDeviceMessage(m_spDtmObject.Get(), caption, text, style, &answer);
  return answer;
}

void CDiagPP::OpenFunction(LONG functionId) {
  auto container = Query<IovFdtActiveXContainer>(m_spDtmObject.Get());
  if (!container) return;
  VARIANT_BOOL opened = VARIANT_FALSE;
  container->OpenUserInterface(functionId, &opened);
}

HRESULT CDiagPP::OnLoopTest() {
  if (m_bRunning || !HasContainer()) return S_OK;
  m_bRunning = true;
  SClearOnExit done{m_bRunning};
  if (Tell(kStringLoopTestCaption, kStringSelectOk, kMessageOkCancelInfo) == kAnswerCancel) return S_OK;
  if (Tell(kStringLoopTestCaption, kStringLoopWarning, kMessageOkCancelWarning) == kAnswerCancel) return S_OK;
  OpenFunction(kFunctionOutputLevelSelection);
  return S_OK;
}

HRESULT CDiagPP::OnDacTrim() {
  if (m_bRunning || !HasContainer()) return S_OK;
  m_bRunning = true;
  SClearOnExit done{m_bRunning};
  if (Tell(kStringDacTrimCaption, kStringDacTrimWarning, kMessageOkCancelInfo) == kAnswerCancel) return S_OK;
  if (Tell(kStringDacTrimCaption, kStringConnectMeter, kMessageOkCancelInfo) == kAnswerCancel) return S_OK;
  OpenFunction(kFunctionDacTrim);
  return S_OK;
}

HRESULT CDiagPP::OnSelfTest() {
  return RunDeviceProcedure(
      {kStringSelfTestCaption, kStringAboutSelfTest, kParSelfTest, kStringSelfTestError, kStringSelfTestOffline});
}

HRESULT CDiagPP::OnMasterReset() {
  return RunDeviceProcedure({kStringMasterResetCaption, kStringAboutMasterReset, kParMasterReset,
                             kStringMasterResetError, kStringMasterResetOffline});
}

void CDiagPP::TellProcedureFailed(const SDeviceProcedure& procedure, const SDeviceOutcome& outcome) {
  m_nToldProcedure = procedure.parameter;
  std::u16string caption;
  LoadPageString(procedure.caption, &caption);
  ShowDeviceMessage(m_spDtmObject.Get(), caption,
                    NotDoneText(caption, outcome, procedure.parameter == kParSelfTest ? 41 : 42), kMessageError);
  Tell(procedure.caption, kStringLoopNote, kMessageInformation);
}

void CDiagPP::TellProcedureWarning(UINT captionId, BYTE command, BYTE code) {
  std::u16string caption;
  LoadPageString(captionId, &caption);
  ShowDeviceMessage(m_spDtmObject.Get(), caption,
                    caption + u" was done; the device warns: " + vkr::hart::DescribeResponseCode(command, code) + u".",
                    kMessageInformation);
}

void CDiagPP::OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) {
  if (id != 0 && id == m_nPendingProcedure) {
    m_nPendingProcedure = 0;
    if (id == kParSelfTest)
      TellProcedureFailed(
          {kStringSelfTestCaption, kStringAboutSelfTest, kParSelfTest, kStringSelfTestError, kStringSelfTestOffline},
          outcome);
    else
      TellProcedureFailed({kStringMasterResetCaption, kStringAboutMasterReset, kParMasterReset, kStringMasterResetError,
                           kStringMasterResetOffline},
                          outcome);
    return;
  }
  if (id == kResetConfigChangedFlag) {
    TellOnMessageLine(NotDoneText(u"Reset Configuration Changed Flag", outcome, 38));
    return;
  }
  // A read that brought nothing: its fields say so instead of waiting for ever. The flag comes
  // with the status byte of an answer, the one to command 0 the page asked for among them: when
  // that failed, no answer is coming for the flag either.
  if (id != kParCommand0Complete && id != kParDeviceStatus) return;
  if (!m_hWndDialog) return;
  std::vector<UINT> fields;
  {
    CUpdatingControls updating(*this);
    for (UINT field : {kDiagCounterEdit, kDiagFlagEdit}) {
      if (id == kParDeviceStatus && field == kDiagCounterEdit) continue;
      fields.push_back(field);
      if (DialogItemText(m_hWndDialog, field).empty()) SetLoadingText(m_hWndDialog, {field});
    }
  }
  // The fields still waiting say "Not read", and the message line names them.
  TellNotRead(id, fields, {}, outcome);
}

void CDiagPP::EnableDeviceButtons() {
  if (!m_hWndDialog) return;
  const BOOL online = IsOnline() ? TRUE : FALSE;
  for (UINT button : {kDiagSelfTestButton, kDiagMasterResetButton, kDiagResetFlagButton})
    ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(button)), online);
}

HRESULT CDiagPP::RunDeviceProcedure(const SDeviceProcedure& procedure) {
  // The questions wait for the user with the messages flowing: a second click meanwhile must
  // not start the procedure again.
  if (m_bRunning || !HasContainer()) return S_OK;
  m_bRunning = true;
  SClearOnExit done{m_bRunning};
  const UINT caption = procedure.caption;
  if (Tell(caption, kStringSelectOk, kMessageOkCancelInfo) == kAnswerCancel) return S_OK;
  if (Tell(caption, kStringLoopWarning, kMessageOkCancelWarning) == kAnswerCancel) return S_OK;
  if (Tell(caption, procedure.announcement, kMessageOkCancelInfo) == kAnswerCancel) {
    Tell(caption, kStringLoopNote, kMessageInformation);
    return S_OK;
  }
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return S_OK;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (static_cast<ULONG>(state) != kDtmStateOnline) {
    Tell(caption, procedure.offlineText, kMessageError);
    Tell(caption, kStringLoopNote, kMessageInformation);
    return S_OK;
  }
  // The answer (1019, 1020) or the DTM's word of a failure arrives later; a request that did not
  // go out is told now.
  m_nPendingProcedure = procedure.parameter;
  m_nToldProcedure = 0;
  const SDeviceOutcome sent = StartDeviceWrite(m_spDtm.Get(), procedure.parameter, vkr::EmptyVariant());
  if (!sent.Ok() && m_nPendingProcedure == procedure.parameter) {
    m_nPendingProcedure = 0;
    TellProcedureFailed(procedure, sent);
  }
  return S_OK;
}

HRESULT CDiagPP::OnResetConfigChangedFlag() {
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  if (!IsOnline()) {
    TellOnMessageLine(NotDoneText(u"Reset Configuration Changed Flag", SDeviceOutcome{EDeviceOutcome::Offline}));
    return S_OK;
  }
  if (!m_bCounterKnown) {
    TellOnMessageLine(u"Reset Configuration Changed Flag was not sent: the configuration change counter was not read.");
    return S_FALSE;
  }
  TellOnMessageLine(u"");
  SetControlStateById(kResetConfigChangedFlag, kStateUsableChanged);
  // The device's answer to this write, not one before it, tells of a warning.
  SetDtmParameterValue(kParCommandResponse, vkr::I4(0));
  const unsigned long long mark = DeviceFailureMark();
  bool refused = false;
  const HRESULT hr = WriteCheckedInput(kResetConfigChangedFlag, &refused);
  // A failure the DTM told is told as it came (OnDeviceAccessFailed); one it did not tell here.
  if ((refused || FAILED(hr)) && !DeviceFailureSince(mark, kResetConfigChangedFlag))
    TellOnMessageLine(
        NotDoneText(u"Reset Configuration Changed Flag", OutcomeAfter(hr, false, mark, kResetConfigChangedFlag), 38));
  // Done with the device's warning: told beside it.
  vkr::Variant answer, code;
  if (hr == S_OK && !refused && SUCCEEDED(GetDtmParameterValue(kParCommandResponse, answer.Put())) &&
      SUCCEEDED(VariantChangeType(&code, &answer, 0, VT_UI1)) && code.bVal != 0 && vkr::hart::IsWarning(38, code.bVal))
    TellOnMessageLine(u"Reset Configuration Changed Flag was done; the device warns: " +
                      vkr::hart::DescribeResponseCode(38, code.bVal) + u".");
  return hr;
}

// ---- Keyboard and messages -----------------------------------------------------------------------

BOOL CDiagPP::HandleNavigationKey(MSG* message, ULONG* state) {
  const BOOL handled = CDevicePropertyPage::HandleNavigationKey(message, state);
  if (!message || message->message != WM_KEYDOWN) return handled;
  HWND focus = ::GetFocus();
  const int id = focus ? ::GetDlgCtrlID(focus) : 0;
  if (message->wParam == VK_RETURN) {
    // Enter never starts the master reset: that one takes a click.
    switch (id) {
      case kDiagSelfTestButton: OnSelfTest(); break;
      case kDiagLoopTestButton: OnLoopTest(); break;
      case kDiagDacTrimButton: OnDacTrim(); break;
      default: break;
    }
    return TRUE;
  }
  if (message->wParam == VK_TAB && handled &&
      (id == kDiagSelfTestButton || id == kDiagMasterResetButton || id == kDiagLoopTestButton ||
       id == kDiagDacTrimButton)) {
    const LONG style = ::GetWindowLongW(focus, GWL_STYLE);
    if ((style & 0x0F) != BS_DEFPUSHBUTTON) {
      ::SendMessageW(focus, BM_SETSTYLE, static_cast<WPARAM>((style & ~0x0FL) | BS_DEFPUSHBUTTON), TRUE);
      ::InvalidateRect(focus, nullptr, TRUE);
    }
  }
  return handled;
}

BOOL CDiagPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                   DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    HRESULT (CDiagPP::*handler)() = nullptr;
    switch (LOWORD(wParam)) {
      case kDiagDacTrimButton: handler = &CDiagPP::OnDacTrim; break;
      case kDiagLoopTestButton: handler = &CDiagPP::OnLoopTest; break;
      case kDiagResetFlagButton: handler = &CDiagPP::OnResetConfigChangedFlag; break;
      case kDiagMasterResetButton: handler = &CDiagPP::OnMasterReset; break;
      case kDiagSelfTestButton: handler = &CDiagPP::OnSelfTest; break;
      default: break;
    }
    if (handler) {
      (this->*handler)();
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

}  // namespace vkr::dui

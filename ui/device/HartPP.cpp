// The HART identity page: its table, its decoders of the command 0 and command 7 answers, the
// polling address and loop current mode it writes, and the frame's default button.
#include "ui/device/HartPP.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kSelectionList = 4;
constexpr BYTE kCommandWritePollingAddress = 6;
constexpr ULONG kNoControl = 0x80000000;
// The Loop Current Mode items and the codes they stand for.
constexpr SComboCode kLoopCurrentItems[] = {{"Disabled", 0}, {"Enabled", 1}};

SPropertyPageClass HartClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_HartPP;
  c.parameterMap = &CHartPP::GetParameterMap;
  c.dialogId = kHartDialogId;
  c.controlNames = vkr::dui::kHartControlNames;
  c.titleId = kHartTitleId;
  c.helpFileId = kHartHelpFileId;
  c.docStringId = kHartDocStringId;
  return c;
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

VARIANT UI2(USHORT value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI2;
  v.uiVal = value;
  return v;
}

// A pressed frame button: a non-zero VT_UI1.
bool IsPressed(const VARIANT& value) { return value.vt == VT_UI1 && value.bVal != 0; }

void SetText(HWND dialog, UINT id, const char* format, unsigned long value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  ::SetDlgItemTextA(dialog, static_cast<int>(id), text);
}

std::u16string WindowTextW(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

}  // namespace

// ---- Decoders -----------------------------------------------------------------------------------

SCommand0Response DecodeCommand0(std::span<const BYTE> data) {
  const CByteReader reader(data);
  SCommand0Response answer;
  answer.manufacturer = reader.U8(1);
  answer.deviceType = reader.U16(1);
  answer.preambles = reader.U8(3);
  answer.hartRevision = reader.U8(4);
  answer.deviceRevision = reader.U8(5);
  answer.softwareRevision = reader.U8(6);
  if (auto hardware = reader.U8(7)) answer.hardwareRevision = static_cast<BYTE>(*hardware >> 3);
  answer.serialNumber = reader.U24(9);
  answer.configCounter = reader.U16(14);
  answer.distributor = reader.U16(19);
  return answer;
}

SCommand7Response DecodeCommand7(std::span<const BYTE> data) {
  const CByteReader reader(data);
  return {reader.U8(0), reader.U8(1)};
}

// ---- Construction -------------------------------------------------------------------------------

CHartPP::CHartPP() : CDevicePropertyPage(HartClass()) {
  // Online reading: Send writes to the device, and the base reads the entries again when the DTM
  // reports it is online.
  m_nDialogType = kDialogTypeOnlineReading;
}

CHartPP::~CHartPP() = default;

CActXParInfo* CHartPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[9];
  static const bool filled = [] {
    entries[0] = CActXParInfo(kParPollingAddress, "Polling address", kHartPollingAddressEdit, "%u", 0, TRUE, 0);
    entries[1] = CActXParInfo(kParLoopCurrentMode, "Loop current", kHartLoopCurrentCombo, "", 0, TRUE, kSelectionList);
    entries[2] = CActXParInfo(kParCommand0Complete, "Command 0 complete", 0, "", 113, FALSE, kNoControl);
    entries[3] = CActXParInfo(kParCommand6Complete, "Polling address", 0, "", 0, FALSE, kNoControl);
    entries[4] = CActXParInfo(kParPollingAddressWrite, "Polling address", 0, "", 0, FALSE, kNoControl);
    entries[5] = CActXParInfo(kParLoopCurrentWrite, "Loop curr", 0, "", 0, FALSE, kNoControl);
    entries[6] = CActXParInfo(kParButtonRefresh, "Button Refresh", 0, "", 0, FALSE, kNoControl);
    entries[7] = CActXParInfo(kParButtonSend, "Button Send", 0, "", 0, FALSE, kNoControl);
    // entries[8]: the end entry (id -1) as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 8;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

HRESULT CHartPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  FillCodeCombo(m_hWndDialog, kHartLoopCurrentCombo, kLoopCurrentItems);
  return CDevicePropertyPage::InitializeUI(dtm, ok);
}

HRESULT CHartPP::UninitializeUI(VARIANT_BOOL* ok) { return CDevicePropertyPage::UninitializeUI(ok); }

HRESULT CHartPP::ReadParameter(LONG index) { return ReadParameterOnline(index); }

// ---- Values from the DTM ------------------------------------------------------------------------

HRESULT CHartPP::SetControlValueById(LONG id, VARIANT value) {
  // A late answer never overwrites what the user typed or chose and has not sent.
  if (IsUserEntry(id)) return S_OK;
  // The page's own writes into its controls are no user input (edit 534 is writable).
  CUpdatingControls updating(*this);
  switch (id) {
    case kParCommand0Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand0Response answer = DecodeCommand0(bytes);
      if (answer.manufacturer) SetText(m_hWndDialog, kHartManufacturerEdit, "%02lX", *answer.manufacturer);
      if (answer.deviceType) SetText(m_hWndDialog, kHartDeviceTypeEdit, "%04lX", *answer.deviceType);
      if (answer.serialNumber) SetText(m_hWndDialog, kHartSerialEdit, "%lu", *answer.serialNumber);
      if (answer.preambles) SetText(m_hWndDialog, kHartPreamblesEdit, "%lu", *answer.preambles);
      if (answer.hartRevision) SetText(m_hWndDialog, kHartRevisionEdit, "%lu", *answer.hartRevision);
      if (answer.deviceRevision) SetText(m_hWndDialog, kHartDeviceRevisionEdit, "%lu", *answer.deviceRevision);
      if (answer.softwareRevision) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", *answer.softwareRevision / 10.0);
        ::SetDlgItemTextA(m_hWndDialog, kHartSoftwareRevisionEdit, text);
      }
      if (answer.hardwareRevision) SetText(m_hWndDialog, kHartHardwareRevisionEdit, "%lu", *answer.hardwareRevision);
      if (answer.configCounter) {
        SetText(m_hWndDialog, kHartCounterEdit, "%lu", *answer.configCounter);
        SetDtmParameterValue(kParConfigCounter, UI2(*answer.configCounter));
      }
      if (answer.distributor) SetText(m_hWndDialog, kHartDistributorEdit, "%04lX", *answer.distributor);
      return S_OK;
    }
    case kParCommand6Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const SCommand7Response answer = DecodeCommand7(bytes);
      // The values come back to the page through their own entries; those are the device's from
      // now on.
      if (answer.loopCurrentMode) m_bSettingsRead = true;
      if (answer.pollingAddress) SetDtmParameterValue(kParPollingAddress, UI1(*answer.pollingAddress));
      if (answer.loopCurrentMode) {
        const BYTE mode = *answer.loopCurrentMode;
        ::SetDlgItemTextA(m_hWndDialog, kHartLoopCurrentText, mode == 0 ? "Disabled" : mode == 1 ? "Enabled" : "");
        SetDtmParameterValue(kParLoopCurrentMode, UI1(mode));
      }
      return S_OK;
    }
    case kParButtonRefresh:
      if (AcceptRefresh(IsPressed(value), m_bPageVisible)) return ReadIdentityAndRefresh();
      return S_OK;
    case kParButtonSend:
      if (AcceptSend(IsPressed(value), m_bPageVisible)) return OnSend();
      return S_OK;
    case kParPollingAddress: {
      // Only what the device's answer gave: the data set's value (offline, or before the answer)
      // is no device's, and the field says why it is empty.
      LONG number = 0;
      if (ShowsDeviceSettings() && ReadNumber(value, &number))
        SetText(m_hWndDialog, kHartPollingAddressEdit, "%lu", number & 0xFF);
      return S_OK;
    }
    case kParLoopCurrentMode: {
      // Likewise: no choice a device never gave.
      LONG number = 0;
      if (ShowsDeviceSettings() && ReadNumber(value, &number) &&
          SelectCode(m_hWndDialog, kHartLoopCurrentCombo, kLoopCurrentItems, static_cast<BYTE>(number & 0xFF)))
        RemoveComboPlaceholder(m_hWndDialog, kHartLoopCurrentCombo);
      return S_OK;
    }
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

// ---- Values from the controls -------------------------------------------------------------------

HRESULT CHartPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  switch (id) {
    case kParPollingAddressWrite:
    case kParPollingAddress: {
      // A text that is not an address is no value: nothing is cut down to one.
      const auto address =
          ParseUnsigned(DialogItemText(m_hWndDialog, kHartPollingAddressEdit), HighestPollingAddress());
      if (!address) return E_INVALIDARG;
      VariantClear(value);
      *value = UI1(static_cast<BYTE>(*address));
      return S_OK;
    }
    case kParLoopCurrentWrite:
    case kParLoopCurrentMode: {
      const auto code = CodeOfComboText(m_hWndDialog, kHartLoopCurrentCombo, kLoopCurrentItems);
      if (!code) return E_FAIL;
      VariantClear(value);
      *value = UI1(*code);
      return S_OK;
    }
    default:
      return CDevicePropertyPage::GetControlValueById(id, value);
  }
}

// ---- The frame's default button -----------------------------------------------------------------

HRESULT CHartPP::OnControlSetFocus(UINT code, UINT controlId, HWND control) {
  // The base remembers the focused entry's value, which the kill-focus commit compares against.
  CDevicePropertyPage::OnControlSetFocus(code, controlId, control);
  std::u16string close, help;
  if (!LoadPageString(kHartCloseTextId, &close) || !LoadPageString(kHartHelpTextId, &help)) return S_OK;
  HWND frame = ::GetParent(::GetParent(m_hWndDialog));
  if (!frame) return S_OK;
  bool closeDone = false, helpDone = false;
  for (HWND child = ::GetWindow(frame, GW_CHILD); child && !(closeDone && helpDone);
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::u16string text = WindowTextW(child);
    const bool isClose = !closeDone && text == close;
    const bool isHelp = !helpDone && !isClose && text == help;
    if (!isClose && !isHelp) continue;
    const LONG style = ::GetWindowLongA(child, GWL_STYLE);
    const LONG wanted = isClose ? (style | BS_DEFPUSHBUTTON) : (style & ~static_cast<LONG>(BS_DEFPUSHBUTTON));
    if (wanted != style) {
      ::SetWindowLongA(child, GWL_STYLE, wanted);
      ::InvalidateRect(child, nullptr, TRUE);
    }
    (isClose ? closeDone : helpDone) = true;
  }
  return S_OK;
}

// ---- Window messages ----------------------------------------------------------------------------

BOOL CHartPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                   DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_SHOWWINDOW) {
    BOOL handled = TRUE;
    OnShowWindow(message, wParam, lParam, &handled);
    result = 0;
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == kFrameRefreshButton) {
      ReleaseUserEntries();
      BeginReadRound();
      ReadIdentityAndRefresh();
      result = 0;
      return TRUE;
    }
    if (LOWORD(wParam) == kFrameSendButton) {
      OnSend();
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

void CHartPP::ShowLoading() {
  PutLoadingText({kHartManufacturerEdit, kHartDeviceTypeEdit, kHartSerialEdit, kHartPreamblesEdit, kHartRevisionEdit,
                  kHartDeviceRevisionEdit, kHartSoftwareRevisionEdit, kHartHardwareRevisionEdit, kHartCounterEdit,
                  kHartDistributorEdit, kHartPollingAddressEdit});
  PutComboPlaceholder(kHartLoopCurrentCombo);
}

bool CHartPP::ShowsDeviceSettings() const { return m_bSettingsRead && CurrentDtmState() == kDtmStateOnline; }

HRESULT CHartPP::SetControlStateById(LONG id, ULONG state) {
  const HRESULT hr = CDevicePropertyPage::SetControlStateById(id, state);
  if (id == kParPollingAddress || id == kParLoopCurrentMode) LockSettings();
  return hr;
}

void CHartPP::LockSettings() {
  if (!m_hWndDialog) return;
  // Only a device takes them: without one that may answer they take no input.
  if (DeviceMayAnswer()) return;
  ::SendDlgItemMessageA(m_hWndDialog, kHartPollingAddressEdit, EM_SETREADONLY, TRUE, 0);
  ::EnableWindow(::GetDlgItem(m_hWndDialog, kHartLoopCurrentCombo), FALSE);
}

void CHartPP::UpdatePlaceholders() {
  if (!DeviceMayAnswer()) m_bSettingsRead = false;
  LockSettings();
  CUpdatingControls updating(*this);
  MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(),
                    {kHartManufacturerEdit, kHartDeviceTypeEdit, kHartSerialEdit, kHartPreamblesEdit, kHartRevisionEdit,
                     kHartDeviceRevisionEdit, kHartSoftwareRevisionEdit, kHartHardwareRevisionEdit, kHartCounterEdit,
                     kHartDistributorEdit, kHartPollingAddressEdit},
                    {kHartLoopCurrentCombo});
}

void CHartPP::OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) {
  if (id == kParPollingAddressWrite || id == kParLoopCurrentWrite) return;
  CDevicePropertyPage::OnDeviceAccessFailed(id, outcome);
  // The settings shown before this read are no answer to it.
  if (id == kParCommand6Complete) m_bSettingsRead = false;
}

std::vector<UINT> CHartPP::LiveFieldsOfRead(LONG id) const {
  // A refresh reads the settings again while they show the last answer: when it fails, that
  // answer is not the device's word now.
  if (id == kParCommand6Complete) return {kHartPollingAddressEdit, kHartLoopCurrentCombo};
  return {};
}

std::optional<std::vector<UINT>> CHartPP::FieldsOfRead(LONG id) const {
  if (id == kParCommand6Complete) return std::vector<UINT>{kHartPollingAddressEdit, kHartLoopCurrentCombo};
  if (id == kParCommand0Complete)
    return std::vector<UINT>{kHartManufacturerEdit,     kHartDeviceTypeEdit,      kHartSerialEdit,
                             kHartPreamblesEdit,        kHartRevisionEdit,        kHartDeviceRevisionEdit,
                             kHartSoftwareRevisionEdit, kHartHardwareRevisionEdit, kHartCounterEdit,
                             kHartDistributorEdit};
  return std::nullopt;
}

void CHartPP::OnDeviceOnline() {
  if (!m_bPageVisible || !m_spDtm) return;
  ShowLoading();
  VARIANT_BOOL read = VARIANT_FALSE;
  ReadFromDevice(kParCommand0Complete, &read);
  OnRefresh();
}

HRESULT CHartPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  const HRESULT result = CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  // The visibility is known before any device read: a failing read must not leave the shown page
  // deaf to the frame's Refresh and Send.
  m_bPageVisible = wParam != 0;
  ShowLoading();
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  // A read of command 0 that fails is told as it fails; the settings are read all the same, so
  // that none of the fields waits for a read nobody made.
  HRESULT identity = S_OK;
  if (state == dsONLINE) {
    VARIANT_BOOL read = VARIANT_FALSE;
    identity = ReadFromDevice(kParCommand0Complete, &read);
  }
  if (m_bPageVisible && m_bFirstShow) {
    // The frame's Refresh, pressed for the page: every shown page reads its values.
    RequestFirstRefresh();
  }
  // Only a showing uses up the first show: a hide before it keeps its refresh.
  if (m_bPageVisible) m_bFirstShow = false;
  OnRefresh();
  return FAILED(identity) ? identity : result;
}

// ---- Refresh and Send ---------------------------------------------------------------------------

HRESULT CHartPP::OnRefresh() {
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!m_spDtm || FAILED(m_spDtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (state == dsONLINE) {
    VARIANT_BOOL read = VARIANT_FALSE;
    ReadFromDevice(kParCommand6Complete, &read);
  } else if (state != dsGOINGONLINE) {
    // No answer is coming until the DTM goes online (then OnDeviceOnline reads).
    UpdatePlaceholders();
  }
  SetDirtyAfterRefresh();
  return S_OK;
}

ULONG CHartPP::HighestPollingAddress() {
  ULONG highest = kMaxPollingAddress;
  for (const LONG id : {static_cast<LONG>(kParPollingAddress), kParDtmShortAddress}) {
    vkr::Variant lowest, most, number;
    if (SUCCEEDED(GetParameterInfoText(id, lowest.Put(), most.Put())) &&
        SUCCEEDED(VariantChangeType(&number, &most, 0, VT_UI4)))
      highest = std::min(highest, number.ulVal);
  }
  return highest;
}

bool CHartPP::GetsBothSettings() {
  vkr::Variant mode;
  const bool address = !ShowsPlaceholder(m_hWndDialog, kHartPollingAddressEdit);
  const bool loop = SUCCEEDED(GetControlValueById(kParLoopCurrentMode, &mode));
  if (address && loop) return true;
  std::vector<std::u16string> written, unread;
  (address ? written : unread).push_back(EntryLabel(kParPollingAddress));
  (loop ? written : unread).push_back(EntryLabel(kParLoopCurrentMode));
  TellSendStopped(CarriesUnreadText(written, unread), {kParPollingAddress, kParLoopCurrentMode});
  return false;
}

HRESULT CHartPP::OnSend() {
  const CSendRun run(*this);
  if (!BeginSend()) return S_FALSE;
  // Command 6 carries both: a setting the device never gave and the user did not enter is not
  // made up.
  if (!GetsBothSettings()) return E_FAIL;
  // An address that is not a number, or one the project could not follow the device to, is
  // refused here: a cut-down value would re-address the device to somewhere the user never typed.
  const ULONG highest = HighestPollingAddress();
  const bool addressInvalid = !ParseUnsigned(DialogItemText(m_hWndDialog, kHartPollingAddressEdit), highest);
  if (addressInvalid) MarkEntryInvalid(kParPollingAddress);
  if (StopsAtInvalidEntries()) {
    if (addressInvalid)
      TellOnMessageLine(EntryLabel(kParPollingAddress) + u" was not written: its entry is not valid: 0 to " +
                        vkr::Utf8ToUtf16(std::to_string(highest)) + u".");
    return S_OK;
  }
  // Both settings go out (no earlier: a Send that stops sends nothing and marks nothing); their
  // entries stay usable so the user can edit again after a send.
  SetControlStateById(kParPollingAddress, kStateUsableChanged);
  SetControlStateById(kParLoopCurrentMode, kStateUsableChanged);

  struct SPair {
    LONG from;
    LONG to;
  };
  vkr::Variant settings[2];
  int n = 0;
  for (const SPair pair : {SPair{kParPollingAddress, kParPollingAddressWrite}, SPair{kParLoopCurrentMode, kParLoopCurrentWrite}}) {
    HRESULT hr = GetControlValueById(pair.from, &settings[n++]);
    if (FAILED(hr)) return hr;
    SetControlStateById(pair.to, kStateUsableChanged);
  }
  // The entries the user changed, named in a warning of either command 6 as the first names them.
  std::vector<std::u16string> changed;
  for (LONG entry : {kParPollingAddress, kParLoopCurrentMode})
    if (IsUserEntry(entry)) changed.push_back(EntryLabel(entry));
  if (changed.empty()) changed = {EntryLabel(kParPollingAddress), EntryLabel(kParLoopCurrentMode)};
  bool written = false;
  for (LONG id : {kParPollingAddressWrite, kParLoopCurrentWrite}) {
    const LONG entry = id == kParPollingAddressWrite ? kParPollingAddress : kParLoopCurrentMode;
    if (written) {
      // The device confirmed a command 6 that carried both settings: it holds them. The write of
      // the second setting repeats that command; whatever becomes of it, nothing the user asked
      // for is left undone.
      StageDtmParameterValue(kParPollingAddressWrite, settings[0]);
      StageDtmParameterValue(kParLoopCurrentWrite, settings[1]);
      // Its warning is the device's word on what it now holds: told, once with the first's.
      SetDtmParameterValue(vkr::dui::kParCommandResponse, vkr::I4(0));
      bool refused = false;
      if (WriteCheckedInput(id, &refused) == S_OK && !refused)
        if (const BYTE warning = LastWriteWarning(kCommandWritePollingAddress))
          TellWarning(changed, kCommandWritePollingAddress, warning);
      continue;
    }
    // Command 6 carries both settings: the data set takes them when the device took the write.
    const HRESULT hr = SendEntry(id, {kParPollingAddress, kParLoopCurrentMode},
                                 {{kParPollingAddressWrite, settings[0]}, {kParLoopCurrentWrite, settings[1]}});
    written = hr == S_OK;
    if (FAILED(hr)) return hr;
    if (hr != S_OK) {
      // The DTM refused the value (outside its limits): the other half of command 6 must not
      // carry it out either, and the user sees which entry it was.
      MarkEntryInvalid(entry);
      SetFocusToControl();
      return hr;
    }
  }
  EndSend();
  SetDirty(FALSE);
  return ReadIdentityAndRefresh();
}

HRESULT CHartPP::ReadIdentityAndRefresh() {
  // Command 0 carries the configuration change counter, which every write moves: the user's
  // Refresh and the page's own Send read it again with the settings.
  vkr::ComPtr<IovFdtBaseDTM> base;
  EDtmState state = dsUNDEFINED;
  if (m_spDtm && SUCCEEDED(m_spDtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) && base)
    base->GetDTMState(&state);
  if (state == dsONLINE) {
    VARIANT_BOOL read = VARIANT_FALSE;
    ReadFromDevice(kParCommand0Complete, &read);
  }
  return OnRefresh();
}

}  // namespace vkr::dui

// The Status page: its table, the lamps of the device status byte and of the command 48 faults,
// and its reads.
#include "ui/device/StatusPP.h"

#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

std::optional<AdditionalStatusFaults> DecodeAdditionalStatus(std::span<const BYTE> data) {
  if (data.size() < kAdditionalStatusMinimumBytes) return std::nullopt;
  AdditionalStatusFaults faults{};
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
    const SAdditionalStatusFault& f = kAdditionalStatusFaults[i];
    faults[i] = (data[f.byteIndex] >> f.bit) & 1;
  }
  return faults;
}

HBITMAP COwnedBitmap::Load(UINT id) {
  Reset();
  m_bitmap = static_cast<HBITMAP>(
      ::LoadImageA(vkr::ui::atl_detail::ThisModule(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
  return m_bitmap;
}

void COwnedBitmap::Reset() {
  if (m_bitmap) ::DeleteObject(m_bitmap);
  m_bitmap = nullptr;
}

void SetLamp(HWND dialog, UINT lampId, HBITMAP bitmap) {
  ::SendDlgItemMessageA(dialog, static_cast<int>(lampId), STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(bitmap));
}

namespace {

constexpr ULONG kNoControl = 0x80000000;
constexpr ULONG kStateFlags = 0x71;

SPropertyPageClass StatusClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_StatusPP;
  c.parameterMap = &CStatusPP::GetParameterMap;
  c.dialogId = kStatusDialogId;
  c.controlNames = vkr::dui::kStatusControlNames;
  c.titleId = kStatusTitleId;
  c.helpFileId = kStatusHelpFileId;
  c.docStringId = kStatusDocStringId;
  return c;
}

// The DTM's state through its base interface; E_NOINTERFACE when the DTM has none.
HRESULT DtmState(IUnknown* dtm, EDtmState* state) {
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return E_NOINTERFACE;
  *state = dsUNDEFINED;
  base->GetDTMState(state);
  return S_OK;
}

}  // namespace

CStatusPP::CStatusPP() : CDevicePropertyPage(StatusClass()) { m_nDialogType = kDialogTypeOnlineReading; }

// The lamps stop showing the bitmaps before the page frees them.
CStatusPP::~CStatusPP() {
  if (m_hWndDialog && ::IsWindow(m_hWndDialog)) {
    for (UINT lamp : kStatusBitLamps) SetLamp(m_hWndDialog, lamp, nullptr);
    for (UINT lamp : kStatusFaultLamps) SetLamp(m_hWndDialog, lamp, nullptr);
  }
}

CActXParInfo* CStatusPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[4];
  static const bool filled = [] {
    entries[0] = CActXParInfo(kParDeviceStatus, "DeviceStatus", 0, "", kStateFlags, FALSE, kNoControl);
    entries[1] = CActXParInfo(kParCommand48Complete, "Command 48 complete", 0, "", kStateFlags, FALSE, kNoControl);
    entries[2] = CActXParInfo(kParButtonRead, "Button Read", 0, "", kStateFlags, FALSE, kNoControl);
    // entries[3]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 3;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

// ---- Start -------------------------------------------------------------------------------------

HRESULT CStatusPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  // Font and bitmaps go with the page; a second start replaces them.
  m_font.Create("Tahoma", 14, 600);
  m_font.SetOn(m_hWndDialog, {kStatusBitsGroup});
  m_set.Load(kLampSetBitmap);
  m_clear.Load(kLampClearBitmap);

  const HRESULT hr = CDevicePropertyPage::InitializeUI(dtm, ok);

  for (UINT edit : kStatusRawEdits) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), "");
  // No lamp shows a state before the device gave one.
  EmptyBitLamps();
  for (UINT lamp : kStatusFaultLamps) SetLamp(m_hWndDialog, lamp, nullptr);
  m_faultImages.fill(nullptr);
  ShowStateText(DeviceMayAnswer() ? kLoadingText : kNotConnectedText);
  m_bInitialized = 1;
  return hr;
}

HRESULT CStatusPP::ReadParameter(LONG) { return S_OK; }

HRESULT CStatusPP::RefreshAllParameters(LONG id) {
  if (!m_bInitialized) return S_OK;
  return CDevicePropertyPage::RefreshAllParameters(id);
}

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT CStatusPP::SetControlValueById(LONG id, VARIANT value) {
  switch (id) {
    case kParDeviceStatus: {
      LONG number = 0;
      if (!ReadNumber(value, &number)) return S_OK;
      const BYTE status = static_cast<BYTE>(number & 0xFF);
      for (int bit = 0; bit < 8; ++bit)
        SetLamp(m_hWndDialog, kStatusBitLamps[bit], (status >> bit) & 1 ? m_set.Get() : m_clear.Get());
      if (!m_bReadFailed) ShowStateText("");
      ::EnableWindow(::GetDlgItem(m_hWndDialog, kStatusReadAdditionalButton),
                     (status & kStatusMoreStatusAvailable) ? TRUE : FALSE);
      return S_OK;
    }
    case kParCommand48Complete: {
      if (value.vt != (VT_ARRAY | VT_UI1)) return S_OK;
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (FAILED(hr)) return hr;
      // A short answer of the device is a lost one: no lamp shows what it did not say.
      const std::optional<AdditionalStatusFaults> faults = DecodeAdditionalStatus(bytes);
      if (!faults) {
        if (!bytes.empty() && !m_bBusy) OnDeviceAccessFailed(id, SDeviceOutcome{EDeviceOutcome::Lost});
        return S_OK;
      }
      for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i)
        m_faultImages[i] = (*faults)[i] ? m_set.Get() : m_clear.Get();
      // The answer to the button's read arrives after the button's handler ended: shown now.
      if (m_bFaultsShown) PaintFaults();
      return S_OK;
    }
    case kParButtonRead:
      if (value.vt == VT_UI1 && value.bVal != 0 && m_bShown) OnRead();
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

// ---- Window messages ---------------------------------------------------------------------------

BOOL CStatusPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                     DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_SHOWWINDOW) {
    BOOL handled = TRUE;
    OnShowWindow(message, wParam, lParam, &handled);
    result = 0;
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == 0 && LOWORD(wParam) == kStatusFrameReadButton) {
    OnRead();
    result = 0;
    return TRUE;
  }
  // The page base takes every button click as a control change: the button is served first, or
  // it would never be.
  if (message == WM_COMMAND && HIWORD(wParam) == 0 && LOWORD(wParam) == kStatusReadAdditionalButton) {
    OnReadAdditionalStatus();
    result = 0;
    return TRUE;
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

HRESULT CStatusPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  const HRESULT hr = CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  m_bShown = wParam == 1 ? 1 : 0;
  ShowFaultSection(false);
  // The fault lamps wait for this showing's answer: a read that fails leaves them empty.
  m_faultImages.fill(nullptr);
  OnRead();
  return hr;
}

// ---- Reads -------------------------------------------------------------------------------------

HRESULT CStatusPP::OnRead() {
  if (!m_spDtm) return E_POINTER;
  EDtmState state = dsUNDEFINED;
  const HRESULT hr = DtmState(m_spDtm.Get(), &state);
  if (FAILED(hr)) return hr;
  if (state != dsONLINE) return S_OK;
  // A request that did not go out is told now; a failure after it when the DTM tells it.
  m_bReadFailed = false;
  BeginReadRound();
  // The status byte comes with every answer, that of command 48 too: a second request the
  // channel does not take beside the first loses nothing.
  if (const SDeviceOutcome sent = StartDeviceRead(m_spDtm.Get(), kParCommand48Complete); !sent.Ok())
    OnDeviceAccessFailed(kParCommand48Complete, sent);
  StartDeviceRead(m_spDtm.Get(), kParDeviceStatus);
  return S_OK;
}

HRESULT CStatusPP::OnReadAdditionalStatus() {
  ::EnableWindow(::GetDlgItem(m_hWndDialog, kStatusReadAdditionalButton), FALSE);
  EDtmState state = dsUNDEFINED;
  const HRESULT hr = DtmState(m_spDtm.Get(), &state);
  if (FAILED(hr)) return hr;
  ShowFaultSection(true);
  if (state == dsONLINE) {
    const SDeviceOutcome sent = StartDeviceRead(m_spDtm.Get(), kParCommand48Complete);
    if (!sent.Ok()) OnDeviceAccessFailed(kParCommand48Complete, sent);
  }
  PaintFaults();
  return S_OK;
}

void CStatusPP::EmptyBitLamps() {
  for (UINT lamp : kStatusBitLamps) SetLamp(m_hWndDialog, lamp, nullptr);
}

void CStatusPP::ShowStateText(const char* text) {
  if (m_hWndDialog) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(kStatusStateText), text);
}

void CStatusPP::OnDeviceOnline() {
  if (m_bShown) OnRead();
}

void CStatusPP::UpdatePlaceholders() {
  if (!m_hWndDialog || !m_bInitialized) return;
  if (DeviceMayAnswer()) {
    if (DialogItemText(m_hWndDialog, kStatusStateText) == kNotConnectedText) ShowStateText(kLoadingText);
    return;
  }
  // The device has gone: what it showed is no longer its state.
  EmptyBitLamps();
  m_faultImages.fill(nullptr);
  PaintFaults();
  ::EnableWindow(::GetDlgItem(m_hWndDialog, kStatusReadAdditionalButton), FALSE);
  ShowStateText(kNotConnectedText);
}

void CStatusPP::OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) {
  if (!m_hWndDialog) return;
  // One read of the page is told once: its first failure names what could not be read.
  const bool told = m_bReadFailed;
  if (id == kParCommand48Complete) {
    m_faultImages.fill(nullptr);
    if (m_bFaultsShown) PaintFaults();
    m_bReadFailed = true;
    ShowStateText(kNotReadText);
    if (!told) TellNotRead(id, {}, u"Additional Device Status", outcome, 48);
  } else if (id == kParDeviceStatus) {
    EmptyBitLamps();
    m_bReadFailed = true;
    ShowStateText(kNotReadText);
    if (!told) TellNotRead(id, {}, u"Device Status", outcome);
  }
}

void CStatusPP::ShowFaultSection(bool show) {
  const int command = show ? SW_SHOW : SW_HIDE;
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
    ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(kStatusFaultLamps[i])), command);
    ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(kStatusFirstFaultLabel + i)), command);
  }
  ::ShowWindow(::GetDlgItem(m_hWndDialog, kStatusFaultGroup), command);
  m_bFaultsShown = show;
}

void CStatusPP::PaintFaults() {
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i)
    SetLamp(m_hWndDialog, kStatusFaultLamps[i], m_faultImages[i]);
}

}  // namespace vkr::dui

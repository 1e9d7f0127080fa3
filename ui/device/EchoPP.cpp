// The Echo curve page: its table, the echo read through the DTM's HART connection, and the chart
// built from the dialog's controls.
#include "ui/device/EchoPP.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr LONG kLowerRange = kParLowerRange;          // 1027: reported, nothing to do
constexpr LONG kButtonRefresh = kParButtonRefresh;    // 1041
constexpr LONG kProbeLength = kParProbeLength;        // 1114
constexpr LONG kParamUnit = kParParamUnit;            // 1115: HART unit code of lengths
constexpr LONG kParamLowerRange = kParParamLowerRange;  // 1117
constexpr UINT kFrameRefresh = kFrameRefreshButton;   // 356
constexpr BYTE kUnitFeet = 44;
constexpr BYTE kEchoCommand = 131;
// Twenty words from device location 0x02E9.
constexpr BYTE kEchoRequest[] = {0x02, 0xE9, 0x00, 0x14};
constexpr UINT kHiddenButtons[] = {651, 652, 653, 654};
constexpr ULONG kLargestPeak = 20000;  // a fourth-echo peak above it is the device's "none"
constexpr int kChartLeft = 45;
constexpr int kChartBase = 205;  // the bars stand on plot height + 205 - 5

SPropertyPageClass EchoClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_EchoPP;
  c.parameterMap = &CEchoPP::GetParameterMap;
  c.dialogId = kEchoDialogId;
  c.controlNames = vkr::dui::kEchoControlNames;
  c.titleId = kEchoTitleId;
  c.helpFileId = kEchoHelpFileId;
  c.docStringId = kEchoDocStringId;
  return c;
}

template <class Q>
vkr::ComPtr<Q> QueryOf(IUnknown* object) {
  vkr::ComPtr<Q> result;
  if (object) object->QueryInterface(Q::iid, result.PutVoid());
  return result;
}

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return Widen(text);
}

}  // namespace

// ===== The echo table and its bars ===============================================================

std::array<std::optional<USHORT>, kEchoWords> DecodeEchoTable(std::span<const BYTE> answer) {
  const CByteReader reader(answer);
  std::array<std::optional<USHORT>, kEchoWords> words{};
  for (std::size_t i = 0; i < kEchoWords; ++i) words[i] = reader.U16(2 * i);
  constexpr std::size_t kFourthPeak = 3 * kEchoValues + kEchoPeak;
  if (words[kFourthPeak] && *words[kFourthPeak] > kLargestPeak) words[kFourthPeak] = 0;
  return words;
}

std::optional<SEchoBar> PlaceEchoBar(ULONG peak, ULONG size, float positionScale, float range, int plotWidth,
                                     int plotHeight, int markerWidth) {
  if (size == 0 || range <= 0.0f || plotWidth <= 0) return std::nullopt;
  const float position = static_cast<float>(peak) * positionScale;
  if (position > range) return std::nullopt;
  // A size beyond the plot would stand above the chart: it is drawn at the plot's top.
  const int height = static_cast<int>(size > static_cast<ULONG>(plotHeight) ? static_cast<ULONG>(plotHeight) : size);
  if (height - 5 <= 0) return std::nullopt;
  SEchoBar bar;
  bar.x = static_cast<int>(std::trunc(position / (range / static_cast<float>(plotWidth)))) - markerWidth / 2 + kChartLeft;
  bar.y = plotHeight - height + kChartBase;
  bar.width = markerWidth;
  bar.height = height - 5;
  return bar;
}

// ===== Construction ==============================================================================

CEchoPP::CEchoPP() : CDevicePropertyPage(EchoClass()) { m_bPageVisible = false; }

CEchoPP::~CEchoPP() = default;

CActXParInfo* CEchoPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[6];
  static const bool filled = [] {
    auto entry = [](LONG id, const char* name) { return CActXParInfo(id, name, 0, "", 0, FALSE, 0x80000000); };
    entries[0] = entry(kLowerRange, "lower range value");
    entries[1] = entry(kButtonRefresh, "Button Refresh");
    entries[2] = entry(kParEchoReadTrigger, "command 131");
    entries[3] = entry(kProbeLength, "Probe Length");
    entries[4] = entry(kParamUnit, "Param unit");
    // entries[5]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 5;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

// ===== Start and end =============================================================================

HRESULT CEchoPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  static const char* const kMetric[] = {"1 meter", "2 meters", "5 meters", "10 meters", "20 meters"};
  static const char* const kFeet[] = {"3 feet", "6 feet", "15 feet", "30 feet", "70 feet"};
  static const float kMetricRanges[] = {1000, 2000, 5000, 10000, 20000};
  static const float kFeetRanges[] = {3000, 6000, 15000, 30000, 70000};
  for (int i = 0; i < 5; ++i) {
    m_afMetricRanges[i] = kMetricRanges[i];
    m_afFeetRanges[i] = kFeetRanges[i];
  }
  if (m_hWndDialog) {
    CUpdatingControls updating(*this);
    SendDlgItemMessageA(m_hWndDialog, kEchoMetricCombo, CB_RESETCONTENT, 0, 0);
    for (const char* text : kMetric)
      SendDlgItemMessageA(m_hWndDialog, kEchoMetricCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(m_hWndDialog, kEchoMetricCombo, CB_SETCURSEL, 4, 0);
    SendDlgItemMessageA(m_hWndDialog, kEchoFeetCombo, CB_RESETCONTENT, 0, 0);
    for (const char* text : kFeet)
      SendDlgItemMessageA(m_hWndDialog, kEchoFeetCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(m_hWndDialog, kEchoFeetCombo, CB_SETCURSEL, 4, 0);
  }
  const HRESULT hr = CDevicePropertyPage::InitializeUI(dtm, ok);
  m_adwEchoData.fill(0);
  m_abEchoPresent.fill(false);
  m_fFeetPerMm = 0.00328084f;
  m_fPositionScale = 1.0f;
  m_nMarkerWidth = 5;
  return hr;
}

HRESULT CEchoPP::UninitializeUI(VARIANT_BOOL* ok) { return CDevicePropertyPage::UninitializeUI(ok); }

HRESULT CEchoPP::ReadParameter(LONG) { return S_OK; }

HRESULT CEchoPP::GetControlValueById(LONG id, VARIANT* value) {
  return CDevicePropertyPage::GetControlValueById(id, value);
}

// ===== Values into the page ======================================================================

HRESULT CEchoPP::SetControlValueById(LONG id, VARIANT value) {
  switch (id) {
    case kParEchoReadTrigger:
      return ReadEchoData();
    case kButtonRefresh:
      if (value.vt == VT_UI1 && value.bVal != 0 && m_bPageVisible) SetDirty(FALSE);
      return S_OK;
    case kLowerRange:
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

USHORT CEchoPP::ReadUnitCode() {
  vkr::Variant value, code;
  if (SUCCEEDED(GetDtmParameterValue(kParamUnit, value.Put())) &&
      SUCCEEDED(VariantChangeType(code.Put(), value.Ptr(), 0, VT_UI2)))
    m_wUnitCode = code.uiVal;
  return m_wUnitCode;
}

// ===== The echo read =============================================================================

HRESULT CEchoPP::OnReadEchoData() {
  ::EnableWindow(Item(kEchoReadButton), FALSE);
  VARIANT zero = vkr::EmptyVariant();
  zero.vt = VT_UI1;
  zero.bVal = 0;
  const HRESULT hr = SetDtmParameterValue(kParEchoReadTrigger, zero);
  // Without the DTM's report nothing would ever enable the button again.
  if (FAILED(hr)) ::EnableWindow(Item(kEchoReadButton), TRUE);
  return hr;
}

HRESULT CEchoPP::ReadEchoData() {
  // The transaction's wait lets a second report in: one read at a time.
  if (m_bReading) return S_OK;
  m_bReading = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_bReading};

  if (m_hWndDialog) {
    CUpdatingControls updating(*this);
    for (const auto& row : kEchoTableEdits)
      for (UINT edit : row) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kLoadingText);
  }
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) {
    ReadFailed(u"the DTM offers no state");
    return E_NOINTERFACE;
  }
  vkr::ComPtr<IovFdtConnectionManagement> connections = QueryOf<IovFdtConnectionManagement>(m_spDtmObject.Get());
  if (!connections) {
    ReadFailed(u"the DTM offers no connection");
    return S_OK;
  }
  EDtmState state = dsUNDEFINED;
  if (FAILED(base->GetDTMState(&state)) || static_cast<ULONG>(state) != kDtmStateOnline) {
    // Offline nothing is read: the table shows what it had, the user learns why, and the button
    // is ready for a read once online.
    ReadFailed(u"the device is not connected");
    return S_OK;
  }
  vkr::ComPtr<IUnknown> connection;
  HRESULT hr = connections->GetConnection(0, connection.Put());
  vkr::ComPtr<IovFdtHartServiceInterface> hart = QueryOf<IovFdtHartServiceInterface>(connection.Get());
  if (FAILED(hr) || !hart) {
    ReadFailed(u"the DTM has no HART connection");
    return S_OK;
  }
  vkr::Bstr request, response, error;
  if (FAILED(hr = HexOfBytes(kEchoRequest, request.Put()))) {
    ReadFailed(HexCode(hr));
    return S_OK;
  }
  BYTE deviceStatus = 0, responseCode = 0;
  hr = hart->Transaction(kEchoCommand, request.Get(), &deviceStatus, &responseCode, response.Put(), error.Put());
  // A refusal (busy, a selection the device does not have), no answer or a lost one carries no
  // table: the user is told which.
  if (error.Length() > 0 || hr != S_OK || responseCode != 0) {
    SDeviceOutcome outcome = ServiceOutcome(hr, responseCode, error.View(), kEchoCommand);
    if (outcome.Ok()) outcome = SDeviceOutcome{EDeviceOutcome::Refused, responseCode};
    ReadFailed(OutcomeReason(outcome, kEchoCommand));
    return S_OK;
  }
  std::vector<BYTE> bytes;
  if (FAILED(hr = BytesOfHex(response.Get(), &bytes))) {
    ReadFailed(HexCode(hr));
    return S_OK;
  }

  // Only words wholly in the answer are taken; the others stay unknown (shown empty, no bar).
  const auto words = DecodeEchoTable(bytes);
  std::size_t present = 0;
  for (std::size_t i = 0; i < kEchoWords; ++i) {
    m_abEchoPresent[i] = words[i].has_value();
    m_adwEchoData[i] = words[i].value_or(0);
    present += words[i].has_value();
  }
  ShowTable(false);
  const float largest = m_wUnitCode == kUnitFeet ? 70000.0f : 20000.0f;
  m_nMarkerWidth = m_fRange == largest ? 2 : 5;
  ReadUnitCode();
  ShowUnitHeaders();
  PlaceBars();
  ::EnableWindow(Item(kEchoReadButton), TRUE);
  if (present < kEchoWords) {
    std::u16string reason = u"the answer holds ";
    reason += Widen(std::to_string(present)) + u" of " + Widen(std::to_string(kEchoWords)) + u" echo words";
    ReadFailed(reason);
  }
  return S_OK;
}

void CEchoPP::ReadFailed(const std::u16string& reason) {
  // "Loading..." would promise a value that is not coming: the table shows what the page has, and
  // what it has not says so.
  ShowTable(true);
  MarkCellsWithoutValue(DeviceMayAnswer() ? kNotReadText : kNotConnectedText);
  ::EnableWindow(Item(kEchoReadButton), TRUE);
  std::u16string caption, text;
  LoadPageString(kEchoTitleId, &caption);
  if (!LoadPageString(kEchoReadFailedId, &text)) text = u"Reading the echo data failed: %s";
  const std::size_t at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, reason);
  ShowDeviceMessage(m_spDtmObject.Get(), caption, text, kMessageError);
}

// ===== The table =================================================================================

void CEchoPP::ShowValue(std::size_t word) {
  const UINT edit = kEchoTableEdits[word / kEchoValues][word % kEchoValues];
  if (!m_abEchoPresent[word]) {
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), "");
    return;
  }
  const ULONG value = m_adwEchoData[word];
  char text[32];
  switch (word % kEchoValues) {
    case kEchoSize:
      std::snprintf(text, sizeof text, "%.1f", static_cast<double>(static_cast<float>(value) / 102.0f));
      break;
    case kEchoGain:
      std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
      break;
    default:
      if (m_wUnitCode == kUnitFeet)
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(static_cast<float>(value) * m_fFeetPerMm));
      else
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
      break;
  }
  ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), text);
}

void CEchoPP::ShowTable(bool emptyWithoutEcho1) {
  if (!m_hWndDialog) return;
  if (emptyWithoutEcho1 && (m_adwEchoData[kEchoStart] == 0 || m_adwEchoData[kEchoPeak] == 0)) {
    EmptyTable();
    return;
  }
  CUpdatingControls updating(*this);
  for (std::size_t i = 0; i < kEchoWords; ++i) ShowValue(i);
}

void CEchoPP::MarkCellsWithoutValue(const char* text) {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  std::vector<UINT> empty;
  for (const auto& row : kEchoTableEdits)
    for (UINT edit : row)
      if (DialogItemText(m_hWndDialog, edit).empty() || ShowsPlaceholder(m_hWndDialog, edit)) empty.push_back(edit);
  for (UINT edit : empty) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kLoadingText);
  // The placeholders' own road gives each cell the words or, where they do not fit, the short form.
  if (text == kNotReadText) {
    for (UINT edit : empty) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kNotReadText);
  } else {
    for (UINT edit : empty) MatchPlaceholders(m_hWndDialog, text == kLoadingText, {edit});
  }
}

void CEchoPP::UpdatePlaceholders() {
  if (!m_hWndDialog) return;
  ::EnableWindow(Item(kEchoReadButton), CurrentDtmState() == kDtmStateOnline ? TRUE : FALSE);
  if (!DeviceMayAnswer()) MarkCellsWithoutValue(kNotConnectedText);
}

void CEchoPP::EmptyTable() {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  for (const auto& row : kEchoTableEdits)
    for (UINT edit : row) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), "");
}

void CEchoPP::ShowUnitHeaders() {
  const bool feet = m_wUnitCode == kUnitFeet;
  if (m_hWndDialog) {
    ::SetDlgItemTextA(m_hWndDialog, kEchoAxisTitle, feet ? "Distance (ft)" : "Distance (mm)");
    ::SetDlgItemTextA(m_hWndDialog, kEchoStartHeader, feet ? "Start (ft)" : "Start (mm)");
    ::SetDlgItemTextA(m_hWndDialog, kEchoPeakHeader, feet ? "Peak dist. (ft)" : "Peak dist. (mm)");
    ::SetDlgItemTextA(m_hWndDialog, kEchoEndHeader, feet ? "End (ft)" : "End (mm)");
  }
  m_fPositionScale = feet ? m_fFeetPerMm * 1000.0f : 1.0f;
}

// ===== The chart =================================================================================

HFONT CEchoPP::ChartFont() {
  // Every label takes the same face and height: one font serves them all for the page's life.
  if (!m_chartFont.Get()) m_chartFont.Create("Tahoma", 12, 0);
  return m_chartFont.Get();
}

void CEchoPP::PlaceBars() {
  for (std::size_t e = 0; e < kEchoCount; ++e) {
    HWND bar = Item(kEchoFirstBar + static_cast<UINT>(e));
    if (!bar) continue;
    const std::size_t peak = e * kEchoValues + kEchoPeak, size = e * kEchoValues + kEchoSize;
    std::optional<SEchoBar> place;
    if (m_abEchoPresent[peak] && m_abEchoPresent[size])
      place = PlaceEchoBar(m_adwEchoData[peak], m_adwEchoData[size], m_fPositionScale, m_fRange, m_nPlotWidth,
                           m_nPlotHeight, m_nMarkerWidth);
    if (!place) {
      ::ShowWindow(bar, SW_HIDE);
      continue;
    }
    ::ShowWindow(bar, SW_SHOW);
    ::SetWindowPos(bar, nullptr, place->x, place->y, place->width, place->height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE);
  }
}

void CEchoPP::HideBars() {
  for (std::size_t e = 0; e < kEchoCount; ++e) ::ShowWindow(Item(kEchoFirstBar + static_cast<UINT>(e)), SW_HIDE);
}

void CEchoPP::LayoutDistanceAxis(bool feet) {
  if (!m_hWndDialog) return;
  HFONT font = ChartFont();
  HWND title = Item(kEchoAxisTitle);
  SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ::ShowWindow(title, SW_SHOW);
  ::MoveWindow(title, 200, 490, 120, 30, TRUE);
  ::SetWindowTextA(title, "Distance (mm)");
  for (int i = 0; i <= 10; ++i) {
    HWND tick = Item(kEchoFirstTick + static_cast<UINT>(i));
    SendMessageA(tick, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::ShowWindow(tick, SW_SHOW);
    ::MoveWindow(tick, 40 + 40 * i, 475, 36, 30, TRUE);
    const float value = static_cast<float>(i) * m_fRange * 40.0f / static_cast<float>(m_nPlotWidth);
    char text[32];
    if (feet)
      std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value / 1000.0f));
    else
      std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(std::trunc(value)));
    ::SetWindowTextA(tick, text);
  }
}

HRESULT CEchoPP::Layout(bool feet) {
  if (!m_hWndDialog) return E_FAIL;
  const UINT comboId = feet ? kEchoFeetCombo : kEchoMetricCombo;
  const std::string text = DialogItemText(m_hWndDialog, comboId);
  const LRESULT index =
      SendDlgItemMessageA(m_hWndDialog, comboId, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
  if (index == CB_ERR || index < 0 || index >= 5) return E_FAIL;
  m_fRange = feet ? m_afFeetRanges[index] : m_afMetricRanges[index];

  const bool unitMatches = (m_wUnitCode == kUnitFeet) == feet;
  HFONT font = ChartFont();
  HWND title = Item(kEchoAxisTitle);
  SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ::ShowWindow(title, SW_SHOW);
  ::MoveWindow(title, 200, 490, 120, 30, TRUE);
  ::SetWindowTextA(title, "Distance (mm)");
  if (unitMatches) LayoutDistanceAxis(feet);
  ShowUnitHeaders();
  for (UINT id : kHiddenButtons) ::ShowWindow(Item(id), SW_HIDE);
  HideBars();
  EmptyTable();
  return S_OK;
}

HRESULT CEchoPP::LayoutMetric() { return Layout(false); }

HRESULT CEchoPP::LayoutFeet() { return Layout(true); }

HRESULT CEchoPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  m_bPageVisible = wParam == 1;
  m_nPlotHeight = 270;
  m_nPlotWidth = 400;
  HFONT font = ChartFont();

  // Read as the page always has; nothing shows them.
  vkr::Variant ignored;
  GetDtmParameterValue(kParamLowerRange, ignored.Put());
  GetDtmParameterValue(kProbeLength, ignored.Put());
  m_fRange = 20000.0f;

  const bool feet = ReadUnitCode() == kUnitFeet;
  if (m_hWndDialog) {
    ::ShowWindow(Item(kEchoFeetCombo), feet ? SW_SHOW : SW_HIDE);
    ::ShowWindow(Item(kEchoMetricCombo), feet ? SW_HIDE : SW_SHOW);

    LayoutDistanceAxis(feet);
    ShowUnitHeaders();
    for (int i = 0; i < 6; ++i) {
      HWND label = Item(kEchoVoltageLabels[i]);
      SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      ::ShowWindow(label, SW_SHOW);
      ::MoveWindow(label, 20, 460 - 50 * i, 20, 30, TRUE);
      char text[16];
      std::snprintf(text, sizeof text, "%.2f", 0.5 * i);
      ::SetWindowTextA(label, text);
    }
    HWND frame = Item(kEchoChartFrame);
    ::ShowWindow(frame, SW_SHOW);
    ::MoveWindow(frame, kChartLeft, 195, m_nPlotWidth, m_nPlotHeight + 8, TRUE);
    ::InvalidateRect(frame, nullptr, TRUE);
    const int bandLevels[5] = {0, 50, 100, 150, 200};
    for (int i = 0; i < 5; ++i) {
      HWND band = Item(kEchoBands[i]);
      ::ShowWindow(band, SW_SHOW);
      ::MoveWindow(band, kChartLeft, m_nPlotHeight - bandLevels[i] + 145, m_nPlotWidth, 58, TRUE);
      ::InvalidateRect(band, nullptr, TRUE);
    }
    Layout(feet);
    ShowTable(true);
    UpdatePlaceholders();
  }
  m_nMarkerWidth = (m_fRange == 20000.0f || m_fRange == 70000.0f) ? 2 : 5;
  ShowUnitHeaders();
  PlaceBars();
  return CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
}

// ===== Message map ===============================================================================

BOOL CEchoPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                   DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_SIZE) {
    result = 0;
    return TRUE;
  }
  if (message == WM_SHOWWINDOW) {
    BOOL handled = TRUE;
    OnShowWindow(message, wParam, lParam, &handled);
    result = 0;
    return TRUE;
  }
  if (message == WM_COMMAND) {
    const UINT code = HIWORD(wParam);
    const UINT id = LOWORD(wParam);
    if (id == kFrameRefresh && code == BN_CLICKED) {
      SetDirty(FALSE);
      result = 0;
      return TRUE;
    }
    // Before the base map: it takes every click and selection change as a change of a value and
    // would keep these from the page.
    if (id == kEchoReadButton && code == BN_CLICKED) {
      OnReadEchoData();
      result = 0;
      return TRUE;
    }
    if (id == kEchoMetricCombo && code == CBN_SELCHANGE) {
      LayoutMetric();
      result = 0;
      return TRUE;
    }
    if (id == kEchoFeetCombo && code == CBN_SELCHANGE) {
      LayoutFeet();
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

}  // namespace vkr::dui

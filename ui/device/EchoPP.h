// CEchoPP: the echo curve page ("EchoPP") of the online parameterization frame. On request (its
// button "Read/Refresh Echo Data") it reads the transmitter's table of four echoes with the
// device-specific command 131 (twenty 16-bit words from device location 0x02E9), shows each echo's
// start, peak distance, echo size, gain and end in a table, and draws the echoes as vertical bars
// over a distance axis whose full scale the user picks (1 to 20 metres, or 3 to 70 feet) and a
// voltage axis of 0 to 2.5 V.
//
// The chart is made of the dialog's own controls, moved at run time in client pixels: a frame and
// five bands (group boxes), the tick and axis labels (statics) and one bitmap static per echo bar.
// The bars stand on the line y = 470 and rise one pixel per size count (1/102 V).
//
// The read is started by setting the DTM-side value 1103 to 0; the DTM reports it back (also when
// it is unchanged) and the report runs the transaction. Everything runs on the frame's thread; the
// transaction waits with the messages flowing, so a report that arrives meanwhile is ignored.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/PageResources.h"

namespace vkr::dui {

// ---- Dialog 181 ---------------------------------------------------------------------------------
inline constexpr UINT kEchoDialogId = 181;
inline constexpr UINT kEchoReadButton = 632;
inline constexpr UINT kEchoMetricCombo = 706;   // full scale in metres
inline constexpr UINT kEchoFeetCombo = 707;     // full scale in feet, same place
inline constexpr UINT kEchoAxisTitle = 705;     // "Distance (mm)" / "Distance (ft)"
inline constexpr UINT kEchoFirstTick = 633;     // 633 to 643: the eleven distance ticks
inline constexpr UINT kEchoStartHeader = 6308;
inline constexpr UINT kEchoPeakHeader = 6309;
inline constexpr UINT kEchoEndHeader = 6310;
inline constexpr UINT kEchoChartFrame = 655;
inline constexpr UINT kEchoFirstBar = 6303;     // 6303 to 6306: the bars of echoes 1 to 4
inline constexpr UINT kEchoBarBitmap = 6307;
// The voltage labels "0.00" to "2.50", bottom up, and the chart's bands, bottom up.
inline constexpr UINT kEchoVoltageLabels[6] = {644, 645, 646, 647, 648, 650};
inline constexpr UINT kEchoBands[5] = {656, 657, 658, 660, 663};
// The table's edits: [echo][value], values in the device's order (start, peak distance, echo
// size, gain, end).
inline constexpr UINT kEchoTableEdits[4][5] = {
    {533, 535, 536, 538, 540}, {541, 543, 683, 684, 685}, {686, 687, 549, 689, 690}, {552, 692, 693, 694, 695}};

inline constexpr UINT kEchoTitleId = 176;
inline constexpr UINT kEchoHelpFileId = 177;
inline constexpr UINT kEchoDocStringId = 178;
inline constexpr UINT kEchoReadFailedId = 6311;  // "Reading the echo data failed: %s"

// The DTM-side value whose report runs an echo read.
inline constexpr LONG kParEchoReadTrigger = 1103;

// ---- The device's echo table --------------------------------------------------------------------
inline constexpr std::size_t kEchoCount = 4;
inline constexpr std::size_t kEchoValues = 5;  // start, peak distance, echo size, gain, end
inline constexpr std::size_t kEchoWords = kEchoCount * kEchoValues;
enum EEchoValue : std::size_t { kEchoStart = 0, kEchoPeak = 1, kEchoSize = 2, kEchoGain = 3, kEchoEnd = 4 };

// The twenty words of a command 131 answer, most significant byte first; a word whose two bytes
// are not both in the answer is absent. A fourth-echo peak above 20000 reads as 0, as the device's
// table has it.
std::array<std::optional<USHORT>, kEchoWords> DecodeEchoTable(std::span<const BYTE> answer);

// Where a bar stands, in client pixels of the page.
struct SEchoBar {
  int x = 0, y = 0, width = 0, height = 0;
};
// The bar of an echo with peak distance `peak` (millimetres) and size `size` (counts of 1/102 V)
// on a chart of `range` (in the unit of position: millimetres, or thousandths of a foot, which
// `positionScale` converts to), `plotWidth` x `plotHeight` pixels, with bars `markerWidth` wide.
// Absent (the bar is hidden) for size 0, a peak beyond the full scale, or a bar with no height;
// a size above the plot's height is drawn at the plot's height.
std::optional<SEchoBar> PlaceEchoBar(ULONG peak, ULONG size, float positionScale, float range, int plotWidth,
                                     int plotHeight, int markerWidth);

class CEchoPP : public CDevicePropertyPage {
 public:
  CEchoPP();
  ~CEchoPP() override;
  CEchoPP(const CEchoPP&) = delete;
  CEchoPP& operator=(const CEchoPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The page has no parameter-group display control.
  HRESULT FinalConstruct() { return S_OK; }

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // ---- The page's own handlers ----
  // Button 632: disabled, then 1103 set to 0; the DTM's report of it runs the read.
  HRESULT OnReadEchoData();
  // Combo 706 / 707: the full scale of the chosen item; the table is emptied and the bars hidden.
  HRESULT LayoutMetric();
  HRESULT LayoutFeet();

  // State for tests.
  const std::array<ULONG, kEchoWords>& EchoData() const { return m_adwEchoData; }
  float Range() const { return m_fRange; }
  int MarkerWidth() const { return m_nMarkerWidth; }
  USHORT UnitCode() const { return m_wUnitCode; }

 private:
  // The echo read run by the report of 1103.
  HRESULT ReadEchoData();
  // The ending of a read that brought no usable echo table: the previous data shown again, the
  // user told why, the button enabled.
  void ReadFailed(const std::u16string& reason);
  HRESULT Layout(bool feet);
  // The tick labels and the axis title for the range, "%.1f" feet or "%u" millimetres.
  void LayoutDistanceAxis(bool feet);
  // The column headers and m_fPositionScale by the unit code.
  void ShowUnitHeaders();
  // The table from m_adwEchoData; with emptyWithoutEcho1 every edit is emptied when echo 1 has no
  // start or no peak distance.
  void ShowTable(bool emptyWithoutEcho1);
  // The cells without an echo value say why: "Not connected" (or its short form) offline, and
  // after a failed read "Not read"; the read button works only online.
  void UpdatePlaceholders() override;
  void MarkCellsWithoutValue(const char* text);
  void ShowValue(std::size_t word);
  void EmptyTable();
  void PlaceBars();
  void HideBars();
  USHORT ReadUnitCode();
  HFONT ChartFont();
  HWND Item(UINT id) const { return m_hWndDialog ? ::GetDlgItem(m_hWndDialog, static_cast<int>(id)) : nullptr; }

  std::array<ULONG, kEchoWords> m_adwEchoData{};
  // Which words the last answer held (a short answer leaves the rest unknown).
  std::array<bool, kEchoWords> m_abEchoPresent{};
  float m_afMetricRanges[5] = {};
  float m_afFeetRanges[5] = {};
  float m_fRange = 20000.0f;
  int m_nPlotHeight = 270;
  int m_nPlotWidth = 400;
  int m_nMarkerWidth = 5;
  USHORT m_wUnitCode = 0;
  float m_fFeetPerMm = 0.00328084f;
  float m_fPositionScale = 1.0f;
  bool m_bPageVisible = false;
  bool m_bReading = false;  // the transaction runs (its wait pumps messages)
  vkr::dui::COwnedFont m_chartFont;  // "Tahoma" 12 of the axis labels, made once, freed with the page
};

}  // namespace vkr::dui

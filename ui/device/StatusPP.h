// CStatusPP: the property page "Status" of the online parameterization frame. Eight lamps show the
// bits of the HART field-device status byte (1001); on the user's request ("Read Additional Device
// Status", enabled while the device reports more status available) sixteen more lamps show the
// device-specific fault flags of the command 48 answer (1036). The page binds no control to a
// parameter: it reads when it is shown and when the frame's Read button is pressed (1043), and
// paints the lamps itself.
//
// The command 48 fault table and its decoder live here; the self-test results control uses them.
//
// Dialog 114; strings 240 (title), 247 (help target), 254 (documentation); dialog type 4 (online
// reading). Everything runs on the frame's thread.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/PageResources.h"

namespace vkr::dui {

// ---- The command 48 fault flags ----------------------------------------------------------------

// One fault flag of the command 48 answer: where its bit is and what it is called.
struct SAdditionalStatusFault {
  BYTE byteIndex;
  BYTE bit;
  const char* label;
};

inline constexpr std::size_t kAdditionalStatusFaultCount = 16;
// Byte 0 bit 0 and byte 3 carry no fault of their own; byte 3 must still be there (an answer of
// fewer bytes is not taken).
inline constexpr std::size_t kAdditionalStatusMinimumBytes = 4;
inline constexpr SAdditionalStatusFault kAdditionalStatusFaults[kAdditionalStatusFaultCount] = {
    {0, 1, "Probe Fault"},
    {0, 2, "Probe Connector Fault"},
    {0, 3, "Bias Fault"},
    {0, 4, "PLL Trim Fault"},
    {0, 5, "Pulse Fault"},
    {0, 6, "Overheat"},
    {0, 7, "3.3 V Fault"},
    {1, 0, "Ref & ADC Fault"},
    {1, 1, "Comp & DAC fault"},
    {1, 2, "Microcontroller Fault"},
    {1, 3, "Info Memory Fault"},
    {1, 4, "FLASH Memory Fault"},
    {1, 5, "ETP Fault"},
    {1, 6, "PLL Shift Fault"},
    {1, 7, "Digital Pot Fault"},
    {2, 0, "RAM Fault"},
};

using AdditionalStatusFaults = std::array<bool, kAdditionalStatusFaultCount>;
// The sixteen fault flags of a command 48 answer in table order; absent when the answer has fewer
// than four bytes.
std::optional<AdditionalStatusFaults> DecodeAdditionalStatus(std::span<const BYTE> data);

// ---- Lamps -------------------------------------------------------------------------------------

// A bitmap of the module's resources that its window owns and frees with it (or when it loads
// another). The static controls showing it must not outlive the holder.
class COwnedBitmap {
 public:
  COwnedBitmap() = default;
  ~COwnedBitmap() { Reset(); }
  COwnedBitmap(const COwnedBitmap&) = delete;
  COwnedBitmap& operator=(const COwnedBitmap&) = delete;

  // Frees the bitmap held and loads resource id of the module; null when it is not there.
  HBITMAP Load(UINT id);
  HBITMAP Get() const { return m_bitmap; }
  void Reset();

 private:
  HBITMAP m_bitmap = nullptr;
};

// Puts a bitmap into a static bitmap control of the dialog (STM_SETIMAGE, IMAGE_BITMAP).
void SetLamp(HWND dialog, UINT lampId, HBITMAP bitmap);

// ---- The page ----------------------------------------------------------------------------------

inline constexpr UINT kStatusDialogId = 114;
inline constexpr UINT kStatusTitleId = 240;
inline constexpr UINT kStatusHelpFileId = 247;
inline constexpr UINT kStatusDocStringId = 254;

inline constexpr UINT kStatusBitsGroup = 500;        // "Additional Device Status" around the bit lamps
inline constexpr UINT kStatusFaultGroup = 501;       // around the fault lamps, shown on request
inline constexpr UINT kStatusRawGroup = 502;         // "Command 48 Info", hidden
inline constexpr UINT kStatusReadAdditionalButton = 6311;
inline constexpr UINT kStatusFrameReadButton = 335;  // not in the dialog; a frame's command id
inline constexpr UINT kStatusFirstFaultLabel = 6359;  // 6359 to 6374 in fault order
// Beside the button: why lamps are empty ("Not connected", "Loading...", "Not read"); empty once
// the device's status shows.
inline constexpr UINT kStatusStateText = 6375;

// The lamp of each status bit, bit 0 first.
inline constexpr UINT kStatusBitLamps[8] = {353, 352, 351, 350, 349, 348, 347, 336};
// The lamp of each fault, in fault order.
inline constexpr UINT kStatusFaultLamps[kAdditionalStatusFaultCount] = {337, 708, 709, 710, 711, 712, 713, 714,
                                                                        715, 716, 717, 718, 719, 720, 721, 722};
// The hidden raw-status edits the page empties.
inline constexpr UINT kStatusRawEdits[21] = {298, 305, 309, 312, 313, 317, 330, 333, 321, 6357, 339,
                                             325, 340, 341, 342, 343, 6355, 344, 345, 346, 354};

inline constexpr BYTE kStatusMoreStatusAvailable = 0x10;
inline constexpr UINT kLampSetBitmap = 190;    // red
inline constexpr UINT kLampClearBitmap = 189;  // neutral

class CStatusPP : public CDevicePropertyPage {
 public:
  CStatusPP();
  ~CStatusPP() override;
  CStatusPP(const CStatusPP&) = delete;
  CStatusPP& operator=(const CStatusPP&) = delete;

  // The page shows no parameter-group display control's texts: nothing to make or release.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  // The page reads its values itself; the base's reading of all parameters reads nothing.
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT RefreshAllParameters(LONG id) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // Online: reads command 48 (1036) and the device status (1001); the status read's failure is
  // the answer. E_POINTER before InitializeUI, E_NOINTERFACE without the DTM's base interface.
  HRESULT OnRead();
  // "Read Additional Device Status": shows the fault section and reads command 48; the lamps
  // follow the answer when it arrives.
  HRESULT OnReadAdditionalStatus();

  // State for tests.
  bool IsShown() const { return m_bShown != 0; }
  bool FaultsShown() const { return m_bFaultsShown; }
  HBITMAP SetImage() const { return m_set.Get(); }
  HBITMAP ClearImage() const { return m_clear.Get(); }
  HFONT GroupFont() const { return m_font.Get(); }

 private:
  void ShowFaultSection(bool show);
  void PaintFaults();
  // Lamps without a device value stay empty (no lamp reads as "all clear" then), and the text
  // beside the button says why.
  void UpdatePlaceholders() override;
  // Shown while the DTM went online: the status is read now.
  void OnDeviceOnline() override;
  void OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) override;
  void EmptyBitLamps();
  void ShowStateText(const char* text);

  COwnedFont m_font;
  COwnedBitmap m_set;
  COwnedBitmap m_clear;
  BYTE m_bInitialized = 0;
  BYTE m_bShown = 0;
  // The fault section is visible (between a press of the button and the next show or hide): an
  // arriving command 48 answer is painted at once.
  bool m_bFaultsShown = false;
  bool m_bReadFailed = false;  // a read of this showing failed: its "Not read" stays
  std::array<HBITMAP, kAdditionalStatusFaultCount> m_faultImages{};
};

}  // namespace vkr::dui

// CDiagPP: the property page "Diagnostics" of the online parameterization frame. It shows the
// device's configuration-changed counter (command 0 bytes 14-15) and configuration-changed flag
// (device status bit 0x40) and offers five procedures: DAC Trim and Loop Test open the DTM's trim
// and loop-test user interfaces after their warnings; Reset Configuration Changed Flag, Master
// Reset and Self Test make the device run the command through the DTM's procedure parameters
// (1111, 1035, 1034) after the user confirmed. The outcomes of self test and master reset arrive
// later as parameters 1019 and 1020.
//
// Dialog 169; strings 162 (title), 163 (help file), 164 (documentation); dialog type 4 (online
// reading). None of its table entries is bound to a control, and the base reads none of them: the
// page reads command 0 and the device status itself on every show and hide while online.
// Everything runs on the frame's thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// Dialog 169 and its controls.
inline constexpr UINT kDiagDialogId = 169;
inline constexpr UINT kDiagDacTrimButton = 601;
inline constexpr UINT kDiagLoopTestButton = 600;
inline constexpr UINT kDiagCounterEdit = 662;      // read-only, the counter as a decimal number
inline constexpr UINT kDiagFlagEdit = 701;         // read-only, "ON" or "OFF"
inline constexpr UINT kDiagResetFlagButton = 682;
inline constexpr UINT kDiagMasterResetButton = 608;
inline constexpr UINT kDiagSelfTestButton = 604;

inline constexpr UINT kDiagTitleId = 162;
inline constexpr UINT kDiagHelpFileId = 163;
inline constexpr UINT kDiagDocStringId = 164;

// The DTM functions the page opens (OpenUserInterface).
inline constexpr LONG kFunctionOutputLevelSelection = 4;
inline constexpr LONG kFunctionDacTrim = 7;
inline constexpr LONG kFunctionSelfTestResults = 8;

// The configuration change counter of a command 0 answer (bytes 14 and 15, most significant
// first); absent with fewer than 16 bytes.
std::optional<USHORT> DecodeConfigChangeCounter(const std::vector<BYTE>& command0);
// The flag text of a device status byte: "ON" when bit 0x40 (configuration changed) is set.
const char* ConfigChangedFlagText(BYTE deviceStatus);

class CDiagPP : public CDevicePropertyPage {
 public:
  CDiagPP();
  ~CDiagPP() override;
  CDiagPP(const CDiagPP&) = delete;
  CDiagPP& operator=(const CDiagPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // ---- IovFdtActiveX4 operations the page replaces ----
  // Reads nothing: the page asks for its values itself when it is shown.
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // 1111: the two counter bytes of the last command 0 answer; E_FAIL before any arrived.
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  // Visibility, then (online) command 0 and the device status read again, on show and on hide.
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  // ---- The procedures (also the buttons' BN_CLICKED handlers) ----
  HRESULT OnDacTrim();
  HRESULT OnLoopTest();
  // Writes the counter bytes of the last command 0 answer to 1111 while online. Before any
  // counter arrived nothing is sent (S_FALSE): the device would be given a counter it never had.
  HRESULT OnResetConfigChangedFlag();
  HRESULT OnMasterReset();
  HRESULT OnSelfTest();

  BOOL HandleNavigationKey(MSG* message, ULONG* state) override;
  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // State for tests.
  bool IsPageVisible() const { return m_bPageVisible; }
  bool IsCounterKnown() const { return m_bCounterKnown; }

 protected:
  void UpdatePlaceholders() override;
  // A procedure, the flag's reset or a read of the page failed: the user is told what did not
  // happen, a field the read should fill says it was not read.
  void OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) override;

 private:
  // The counter and flag fields without a value (all with overValues) show the placeholder that
  // tells whether one is coming.
  void ShowPlaceholders(bool overValues);
  // What differs between the self test and the master reset.
  struct SDeviceProcedure {
    UINT caption;
    UINT announcement;
    LONG parameter;
    UINT errorText;
    UINT offlineText;
  };
  HRESULT RunDeviceProcedure(const SDeviceProcedure& procedure);
  // Shows the string textId under the string captionId; the user's answer (0 when nothing was
  // shown).
  LONG Tell(UINT captionId, UINT textId, LONG style);
  // Opens a DTM function's user interface; the answer is not the page's concern.
  void OpenFunction(LONG functionId);
  bool HasContainer() const;
  bool IsOnline() const;
  // The buttons that write to the device take clicks only while it is online.
  void EnableDeviceButtons();
  // The user is told that the procedure did not run, why, and that the loop may return. A
  // procedure that did not run shows no results: the self-test results would show the device's
  // standing status as if a test had passed.
  void TellProcedureFailed(const SDeviceProcedure& procedure, const SDeviceOutcome& outcome);
  // A procedure the device ran with a warning: "Self Test was done; the device warns: ...".
  void TellProcedureWarning(UINT captionId, BYTE command, BYTE code);
  // 1019 and 1020 arriving from the device.
  void OnSelfTestResponse(const VARIANT& value);
  void OnMasterResetResponse(const VARIANT& value);

  bool m_bFirstShow = true;
  bool m_bPageVisible = false;
  bool m_bCounterKnown = false;   // a command 0 answer brought the counter
  BYTE m_abyConfigChangeCounter[2] = {0, 0};
  bool m_bRunning = false;        // a procedure asks the user or writes: a second start waits
  LONG m_nPendingProcedure = 0;   // the procedure whose write went out, its answer not come (0: none)
  LONG m_nToldProcedure = 0;      // the procedure whose failure was told: its answer tells no more
};

}  // namespace vkr::dui

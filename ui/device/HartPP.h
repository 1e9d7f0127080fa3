// CHartPP: the property page "HART" of the online parameterization frame. It shows the device's
// HART identity from the command 0 answer (manufacturer, device type, serial number, preambles,
// the four revisions, configuration change counter, private-label distributor), and shows and
// writes the two settings of command 6: the polling address and the loop current mode (read back
// with command 7).
//
// Dialog 110; strings 244 (title), 251 (help target), 258 (documentation); dialog type 4 (online
// reading). Refresh and Send arrive as the values of parameters 1041 and 1042 (or WM_COMMAND 356
// and 221) and act only while the page is shown. A control of the page taking the focus makes the
// frame's "Close" button the default button.
#pragma once

#include <optional>
#include <span>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// Dialog 110 and its controls.
inline constexpr UINT kHartDialogId = 110;
inline constexpr UINT kHartManufacturerEdit = 296;   // "%02X"
inline constexpr UINT kHartDeviceTypeEdit = 304;     // "%04X"
inline constexpr UINT kHartSerialEdit = 308;
inline constexpr UINT kHartPreamblesEdit = 311;
inline constexpr UINT kHartCounterEdit = 314;
inline constexpr UINT kHartDistributorEdit = 331;    // "%04X"
inline constexpr UINT kHartPollingAddressEdit = 534;  // the one writable edit
inline constexpr UINT kHartLoopCurrentCombo = 700;   // "Disabled", "Enabled"
inline constexpr UINT kHartLoopCurrentText = 334;    // hidden: the mode as text
inline constexpr UINT kHartRevisionEdit = 315;
inline constexpr UINT kHartDeviceRevisionEdit = 318;
inline constexpr UINT kHartSoftwareRevisionEdit = 323;  // "%.1f"
inline constexpr UINT kHartHardwareRevisionEdit = 326;

inline constexpr UINT kHartTitleId = 244;
inline constexpr UINT kHartHelpFileId = 251;
inline constexpr UINT kHartDocStringId = 258;
// The captions of the frame's buttons the page looks for.
inline constexpr UINT kHartCloseTextId = 281;
inline constexpr UINT kHartHelpTextId = 282;

// Parameters only this page uses.
inline constexpr LONG kParPollingAddressWrite = 1107;  // command 6 byte 0 (read: command 7)
inline constexpr LONG kParLoopCurrentWrite = 1108;     // command 6 byte 1
inline constexpr LONG kParConfigCounter = 1112;        // VT_UI2, from command 0

// The largest polling address a HART device takes (HART 6 and 7: 0 to 63).
inline constexpr ULONG kMaxPollingAddress = 63;
// The DTM's own short address, where it finds the device: a polling address beyond what it holds
// would leave the project unable to follow the device.
inline constexpr LONG kParDtmShortAddress = 121;

// The command 0 answer as the page reads it (byte 0 is the expansion code 254).
struct SCommand0Response {
  std::optional<BYTE> manufacturer;     // b1
  std::optional<USHORT> deviceType;     // b1-2, manufacturer in the high byte
  std::optional<BYTE> preambles;        // b3
  std::optional<BYTE> hartRevision;     // b4
  std::optional<BYTE> deviceRevision;   // b5
  std::optional<BYTE> softwareRevision; // b6, tenths
  std::optional<BYTE> hardwareRevision; // b7, upper five bits
  std::optional<ULONG> serialNumber;    // b9-11
  std::optional<USHORT> configCounter;  // b14-15
  std::optional<USHORT> distributor;    // b19-20
};
// The command 7 answer: polling address and loop current mode (0 disabled, 1 enabled).
struct SCommand7Response {
  std::optional<BYTE> pollingAddress;
  std::optional<BYTE> loopCurrentMode;
};

SCommand0Response DecodeCommand0(std::span<const BYTE> data);
SCommand7Response DecodeCommand7(std::span<const BYTE> data);

class CHartPP : public CDevicePropertyPage {
 public:
  CHartPP();
  ~CHartPP() override;
  CHartPP(const CHartPP&) = delete;
  CHartPP& operator=(const CHartPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The page makes no use of the display control: construction and release do nothing.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT OnControlSetFocus(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  // The framework's state, then the settings locked while no device may answer.
  HRESULT SetControlStateById(LONG id, ULONG state) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // Online: command 7 read again; offline and not going online the fields say that the device is
  // not connected. The page is clean afterwards.
  HRESULT OnRefresh();
  HRESULT ReadIdentityAndRefresh();
  // The polling address and the loop current mode to the device (command 6); an address that is
  // not a number or one the project could not follow is refused on the page with nothing sent,
  // the message line naming the addresses it takes.
  HRESULT OnSend();
  // The highest polling address the page sends: the lowest of the device's, the entry's and the
  // DTM's short address's highest.
  ULONG HighestPollingAddress();

  bool IsShown() const { return m_bPageVisible; }

 protected:
  // Shown while the DTM went online: the values are read now.
  void OnDeviceOnline() override;
  void UpdatePlaceholders() override;
  // A read of the page that failed, as every page tells it; the writes of command 6 are Send's to
  // tell.
  void OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) override;
  // The identity fields (command 0) and the settings (command 7).
  std::optional<std::vector<UINT>> FieldsOfRead(LONG id) const override;
  std::vector<UINT> LiveFieldsOfRead(LONG id) const override;

 private:
  void ShowLoading();
  // Whether the settings' entries show values: only those of a command 7 answer of the device in
  // this connection.
  bool ShowsDeviceSettings() const;
  // Offline the settings take no input: only a device takes them.
  void LockSettings();
  // Whether Send has both settings (the device's or the user's) for command 6; false when not,
  // and the user is told which could not be read.
  bool GetsBothSettings();

  bool m_bFirstShow = true;
  bool m_bSettingsRead = false;  // a command 7 answer of this connection filled the settings
  bool m_bPageVisible = false;
};

}  // namespace vkr::dui

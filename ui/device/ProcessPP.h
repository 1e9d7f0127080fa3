// CProcessPP: the property page "Process / Output" of the online parameterization frame. It shows
// the primary variable with its unit, the loop current and its percent of range, the range values
// with their unit, the damping and the transfer function; the user chooses the PV unit (metres or
// feet) and edits the range values and the damping, which the page writes to the device when the
// frame's Send button is pressed. Commands 1 and 2 are read cyclically every 5000 ms while the page
// is initialised; the page decodes the raw answers of commands 1, 2 and 15 itself.
//
// Dialog 121; strings 242 (title), 249 (help target), 256 (documentation); dialog type 4 (online
// reading). Refresh and Send arrive as the values of parameters 1041 and 1042 (or WM_COMMAND 356
// and 221) and act only while the page is shown.
#pragma once

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// Dialog 121 and its controls.
inline constexpr UINT kProcessDialogId = 121;
inline constexpr UINT kProcessPvEdit = 302;             // read-only, "%.3f"
inline constexpr UINT kProcessPvUnitText = 382;         // static
inline constexpr UINT kProcessUnitCombo = 381;          // drop-down: "Metres (m)", "Feet (ft)"
inline constexpr UINT kProcessLoopCurrentEdit = 392;    // read-only, mA
inline constexpr UINT kProcessPercentEdit = 393;        // read-only, %
inline constexpr UINT kProcessUpperRangeEdit = 395;
inline constexpr UINT kProcessUpperUnitText = 384;
inline constexpr UINT kProcessLowerRangeEdit = 397;
inline constexpr UINT kProcessLowerUnitText = 386;
inline constexpr UINT kProcessDampingEdit = 399;        // seconds
inline constexpr UINT kProcessTransferFunctionEdit = 401;  // read-only
inline constexpr UINT kProcessPicture = 528;            // bitmap 199

inline constexpr UINT kProcessTitleId = 242;
inline constexpr UINT kProcessHelpFileId = 249;
inline constexpr UINT kProcessDocStringId = 256;

class CProcessPP : public CDevicePropertyPage {
 public:
  CProcessPP();
  ~CProcessPP() override;
  CProcessPP(const CProcessPP&) = delete;
  CProcessPP& operator=(const CProcessPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  // The page's own message map, tried before the page base's.
  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // The unit combo lost the focus: a text that is no item gives way to the current unit's item.
  HRESULT OnUnitChange(UINT code, WPARAM wParam, LPARAM lParam, BOOL* handled);
  // Placeholders into the fields, then (online only) commands 15, 1 and 2 read again.
  HRESULT OnRefresh();
  // The changed settings to the device: PV unit (command 44), the range record (command 35) and
  // the damping (command 34); an invalid entry stops the send with the entry focused.
  HRESULT OnSend();

  // State for tests.
  USHORT CurrentPvUnit() const { return m_nPvUnit; }
  BYTE RangeUnit() const { return m_nRangeUnit; }
  bool IsShown() const { return m_bShown != 0; }
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }

 protected:
  // The range values are shown in the range unit of the last command 15 answer.
  std::optional<BYTE> ShownLengthUnit(LONG id) const override;
  bool IsLengthEntry(LONG id) const override;
  // A level typed while the range unit is unread has no unit to judge it in: only a number is
  // asked of it (its Send then says why the range cannot be written).
  HRESULT ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags) override;

  USHORT m_nPvUnit = 0xFFFF;  // the PV unit last seen or chosen; 0xFFFF unknown
  // The device's range unit is now `code` (known before): the levels typed follow it.
  void FollowRangeUnit(BYTE code);
  BYTE m_nRangeUnit = 0;      // the range unit the device gave last (command 15, or stored by a page)
  bool m_bRangeUnitKnown = false;  // a command 15 answer brought one
  BYTE m_bFirstShow = 1;
  BYTE m_bShown = 0;

  void UpdatePlaceholders() override;
  // The fields each read fills.
  std::optional<std::vector<UINT>> FieldsOfRead(LONG id) const override;
  // The PV, the loop current and the percent of range, read again every few seconds.
  std::vector<UINT> LiveFieldsOfRead(LONG id) const override;

 private:
  // Placeholders into the read-only fields (and the range fields), then UpdatePlaceholders.
  void ShowLoading(bool rangeFields);
  // The user chose a unit while the device's was not known (its read failed or is still out).
  bool UnitChosenUnread() const;
  void SelectUnit(BYTE code);
};

}  // namespace vkr::dui

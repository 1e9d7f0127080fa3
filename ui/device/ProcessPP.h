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

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"
#include "ui/framework/PropertyPage.h"

namespace vkr::dui {

// ===== Kit-pending: the shared page bodies (decoders of commands 1, 2 and 15, the display
// control, the busy-flag guard). Replaced by the kit's page bodies once they land. =============
struct SCommand1Answer {
  std::optional<BYTE> pvUnit;
  std::optional<float> pv;
};
struct SCommand2Answer {
  std::optional<float> loopCurrent;
  std::optional<float> percentOfRange;
};
struct SCommand15Answer {
  std::optional<BYTE> transferFunction;
  std::optional<BYTE> rangeUnit;
  std::optional<float> upperRange;
  std::optional<float> lowerRange;
  std::optional<float> damping;
};
SCommand1Answer DecodeCommand1(std::span<const BYTE> bytes);
SCommand2Answer DecodeCommand2(std::span<const BYTE> bytes);
SCommand15Answer DecodeCommand15(std::span<const BYTE> bytes);
// The answer's range unit, range values and damping into the DTM-side parameters 1025, 1026,
// 1027 and 1040 (SetParameterValue), each only when present.
void StoreCommand15Answer(IovFdtParameterHandler4* dtm, const SCommand15Answer& answer);
HRESULT CreateDisplayControl(vkr::ComPtr<IParamGroupDisplay>* display);
void ReleaseDisplayControl(vkr::ComPtr<IParamGroupDisplay>* display);
std::string DisplayUnitText(IParamGroupDisplay* display, BYTE code);
std::string DisplayTransferFunctionText(IParamGroupDisplay* display, BYTE code);
// Sets a busy flag for its lifetime and gives back the value it found.
class UpdatingControls {
 public:
  explicit UpdatingControls(BOOL* flag) : m_flag(flag), m_saved(*flag) { *flag = TRUE; }
  ~UpdatingControls() { *m_flag = m_saved; }
  UpdatingControls(const UpdatingControls&) = delete;
  UpdatingControls& operator=(const UpdatingControls&) = delete;

 private:
  BOOL* m_flag;
  BOOL m_saved;
};
// ===== End of kit-pending ========================================================================

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

// The HART unit codes of the unit combo's items, in item order.
inline constexpr BYTE kUnitCodeMetres = 45;
inline constexpr BYTE kUnitCodeFeet = 44;

class CProcessPP : public CovFDT_PropertyPageImpl {
 public:
  CProcessPP();
  ~CProcessPP() override;
  CProcessPP(const CProcessPP&) = delete;
  CProcessPP& operator=(const CProcessPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The class factory's construction steps: the parameter-group display control.
  HRESULT FinalConstruct();
  void FinalRelease();

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
  using CovFDT_PropertyPageImpl::ProcessWindowMessage;
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
  IParamGroupDisplay* DisplayControl() const { return m_spDisplay.Get(); }
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }

 protected:
  // The display control's text of a unit or transfer-function code ("" when there is none).
  std::string UnitText(BYTE code) const;
  std::string TransferFunctionText(BYTE code) const;

  vkr::ComPtr<IParamGroupDisplay> m_spDisplay;
  USHORT m_nPvUnit = 0xFFFF;  // the PV unit last seen or chosen; 0xFFFF unknown
  BYTE m_nRangeUnit = 0;      // the range unit of the last command 15 answer
  BYTE m_bFirstShow = 1;
  BYTE m_bShown = 0;

 private:
  void ShowLoading(bool rangeFields);
  void SelectUnit(BYTE code);
};

}  // namespace vkr::dui

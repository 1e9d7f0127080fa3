// CValuesPP: the property page "Values" of the online parameterization frame. It shows the
// device's dynamic values as command 3 reports them: the loop current in mA and the primary,
// secondary, third and fourth values, each with its unit text (from the parameter-group display
// control). It edits nothing. While it is shown it has the DTM read command 3 cyclically, at the
// period the registry value "ProcessValueUpdate" sets (default 10000 ms, at least 50 ms); hidden,
// the cyclic reading stops.
//
// Dialog 123; strings 243 (title), 250 (help file), 257 (documentation); dialog type 4.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// Dialog 123 and its controls.
inline constexpr UINT kValuesDialogId = 123;
inline constexpr UINT kValuesCurrentEdit = 408;  // mA, "%.3f"
// Value edits and unit statics of the primary, secondary, third and fourth value.
inline constexpr UINT kValuesValueEdits[4] = {394, 396, 398, 400};
inline constexpr UINT kValuesUnitTexts[4] = {409, 387, 390, 402};

inline constexpr UINT kValuesTitleId = 243;
inline constexpr UINT kValuesHelpFileId = 250;
inline constexpr UINT kValuesDocStringId = 257;

// The registry value of the refresh period and its bounds.
inline constexpr const char* kValuesSettingsKey = "SOFTWARE\\Vorntec\\VKR Series DTM";
inline constexpr const char* kValuesPeriodValue = "ProcessValueUpdate";
inline constexpr ULONG kValuesDefaultPeriod = 10000;
inline constexpr ULONG kValuesShortestPeriod = 50;

// The command 3 answer: loop current, then four pairs of unit code and value.
struct SCommand3Response {
  struct SVariable {
    std::optional<BYTE> unit;
    std::optional<float> value;
  };
  std::optional<float> loopCurrent;  // b0-3
  // Unit at 4 + 5k, value at 5 + 5k to 8 + 5k; the unit only with the value.
  std::array<SVariable, 4> variables;
};

SCommand3Response DecodeCommand3(std::span<const BYTE> data);
// The period "ProcessValueUpdate" (DWORD, ms) under HKLM's settings key gives, `fallback` without
// it, never below 50 ms. The Values page and the trend view read it, each with its own fallback.
ULONG ProcessValueUpdatePeriod(ULONG fallback);
// The Values page's refresh period: ProcessValueUpdatePeriod with 10000 ms as the fallback.
ULONG ValuesRefreshPeriod();

class CValuesPP : public CDevicePropertyPage {
 public:
  CValuesPP();
  ~CValuesPP() override;
  CValuesPP(const CValuesPP&) = delete;
  CValuesPP& operator=(const CValuesPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // The refresh period of command 3 the page has asked for (0: none).
  ULONG RefreshPeriod() const;

 protected:
  // Shown when the DTM reaches the online state: the values are read now, not a period later.
  void OnDeviceOnline() override;
  void UpdatePlaceholders() override;
  // Every value of the page is measured, read again while the page is shown.
  std::vector<UINT> LiveFieldsOfRead(LONG id) const override;
};

}  // namespace vkr::dui

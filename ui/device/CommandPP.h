// CCommandPP: the "Command" page of the online parameterization frame. It shows and changes the
// measurement setup of the transmitter (display unit and mode, high and low level, damping,
// tracking, dielectric class, fail-safe mode and time) and runs the device's auto-digitize
// routine.
//
// Device values arrive as raw answers ("Command n complete", SpCMD1, command 131) through
// SetControlValueById; the page decodes them into its DTM-side values (1039, 1063, ...), which the
// DTM then reports back into the controls. Send copies the controls into the device parameters
// and writes the changed groups (unit: command 44, range: 35, damping: 34, settings: 136).
//
// Refresh and Send reach the page as the DTM-side values 1041 and 1042, acted on only while the
// page is shown. Everything runs on the frame's thread.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/PageResources.h"

namespace vkr::dui {

// The clock of the digitize routine's pause before its success message: milliseconds from any
// start, and a pause of the thread. Tests inject one that moves on its own.
struct DigitizeClock {
  std::function<DWORD()> now;
  std::function<void(DWORD)> sleep;
};
// The real one: GetTickCount and Sleep.
DigitizeClock RealDigitizeClock();

// The page's code tables (combo text and device code), for the controls that show the same
// settings: display mode, tracking and dielectric (the display unit is a length unit).
std::span<const SComboCode> DisplayModeCodes();
std::span<const SComboCode> TrackingCodes();
std::span<const SComboCode> DielectricCodes();

}  // namespace vkr::dui

class CCommandPP : public CDevicePropertyPage {
 public:
  CCommandPP();
  ~CCommandPP() override;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The texts of the page's string resources.
  bool LoadPageString(UINT id, std::u16string* text) override;

  // ---- Overrides of the user-interface base ----
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT GetParameterText(LONG id, VARIANT_BOOL* valid) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  using CovFDT_BaseActiveXImpl::ProcessWindowMessage;

  // ---- The page's own handlers ----
  HRESULT OnRefresh();
  HRESULT OnSend();
  HRESULT OnUnitChange();
  HRESULT OnDigitize();
  HRESULT OnRunDigitize();

  // Replaces the digitize routine's clock (tests).
  void SetDigitizeClock(vkr::dui::DigitizeClock clock) { m_clock = std::move(clock); }

  // State for tests.
  BYTE RangeUnitCode() const { return m_nRangeUnit; }
  ULONG ProbeLength() const { return m_nProbeLength; }
  bool IsVisible() const { return m_bVisible != 0; }
  const CActXParInfo& Entry(LONG index) const { return m_pParInfo[index]; }

 protected:
  const char* TemplateText() const override;
  // The levels are shown in the range unit.
  std::optional<BYTE> ShownLengthUnit(LONG id) const override;
  bool IsLengthEntry(LONG id) const override;
  void UpdatePlaceholders() override;
  // The fields each read fills, and what a read that fills none is to the user.
  std::optional<std::vector<UINT>> FieldsOfRead(LONG id) const override;
  std::u16string NameOfRead(LONG id) const override;

 private:
  // The "Loading..." item of every combo box, added when absent (and selected) or removed when
  // present.
  void ShowLoadingItems();
  std::vector<UINT> AllFields() const;
  void RemoveLoadingItems();
  // "Loading..." into the edits, then UpdatePlaceholders.
  void SetLoadingTexts();
  void ShowDigitizeButton();
  // The entries take input only where the user's input can be written: offline no edit takes
  // typing and no choice list opens, and a choice list showing a placeholder offers nothing (a
  // placeholder is no choice). Digitize runs only online.
  void LockEntries();
  // The user chose a unit while the device's was not read (its read failed): Send writes it.
  bool UnitChosenUnread() const;
  // The level typed lies within its parameter's limits in the unit shown (true when either is
  // unknown: the device then decides).
  bool TypedLevelWithinLimits(LONG id);
  // The float in an edit, rounded to "%.3f"; E_FAIL when it holds no number.
  HRESULT EditFloat(UINT editId, float* value);
  void WriteBack(UINT editId, float value);
  // Float value of a DTM-side parameter (0.0 when it has none).
  float DtmFloat(LONG id);
  bool LimitsInLevelUnit(float* upper, float* lower, float* span);
  HRESULT HighLevel(float* value);
  HRESULT LowLevel(float* value);
  // Why the range rules moved a level: to the sensor's limit, or to the minimum span from the
  // other level.
  enum class ERangeRule { SensorLimit, SpanFromOther };
  // A level the rules moved: its edit shows where to (not under the user's fingers), and a level
  // the user typed is told of on the message line, with why.
  void MovedByRules(UINT editId, float typed, float value, ERangeRule why, float span);
  HRESULT RangeRecord(VARIANT* value);
  // The decoders of the raw answers.
  HRESULT StoreCommand1(const VARIANT& value);
  HRESULT StoreCommand14(const VARIANT& value);
  HRESULT StoreCommand15(const VARIANT& value);
  HRESULT StoreCommand135(const VARIANT& value);
  HRESULT StoreCommand131(const VARIANT& value);
  // The levels' unit labels: the range unit.
  void ShowRangeUnit();
  // The device's range unit is now `code` (one was known): labels and the levels typed follow it.
  void FollowRangeUnit(BYTE code);
  HRESULT SetDtmByte(LONG id, BYTE value);
  HRESULT SetDtmFloat(LONG id, float value);
  // The digitize routine's ending: controls back to the "Digitize" state, then a refresh.
  HRESULT EndDigitize();
  LONG Ask(UINT captionId, UINT textId, LONG style);
  // One transaction of the HART service on connection 0; *outcome (may be null) says what became of it.
  HRESULT Transaction(BYTE command, const std::vector<BYTE>& request, BYTE* deviceStatus, BYTE* responseCode,
                      std::vector<BYTE>* response, vkr::dui::SDeviceOutcome* outcome = nullptr);
  // The digitize routine did not run: the user is told why, once, and that the loop may return.
  void TellDigitizeFailed(const vkr::dui::SDeviceOutcome& outcome, BYTE command);

  BYTE m_nRangeUnit = 0;
  USHORT m_nLastPvUnit = 0xFFFF;
  USHORT m_nLastDisplayMode = 0xFFFF;
  USHORT m_nLastTracking = 0xFFFF;
  USHORT m_nLastDielectric = 0xFFFF;
  USHORT m_nLastFailSafe = 0xFFFF;
  BYTE m_bRefreshOnShow = 1;
  BYTE m_bVisible = 0;
  BYTE m_anDisplayModeCodes[3] = {};
  BYTE m_anTrackingCodes[5] = {};
  BYTE m_anDielectricCodes[7] = {};
  BYTE m_anFailSafeCodes[6] = {};
  ULONG m_nProbeLength = 0;

  vkr::dui::COwnedFont m_groupFont;  // "Tahoma" for the group box
  bool m_bDigitizing = false;    // the routine runs (its transactions pump messages)
  bool m_bTypingLevel = false;   // a level edit's change is being handled
  bool m_bLimitsRead = false;    // the sensor limits came from the device (command 14)
  vkr::dui::DigitizeClock m_clock;
};

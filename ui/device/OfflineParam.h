// COfflineParam: the control in which the user edits the device configuration the DTM's data set
// holds, without the device: setup values, advanced values, identification texts and the date,
// and the last known current, PV and SV (read-only). It keeps its own persisted "offline" copies
// (1124 to 1136) of the setup and advanced values, fills them from the command data the DTM last
// read, and on OK or Apply copies them into the device parameters of the same meaning and lets the
// framework's apply store the changed entries.
//
// Dialog 128. Everything runs on the frame's thread.
//
// Where it differs from a plain reading of its design, on purpose:
//  - A failed start of the control family is returned as it is, not hidden behind the long tag's
//    read (the frame then lets the control go).
//  - Online, OK and Apply ask whether to store the changes in the device right after storing them
//    in the data set (the family's download offer), not only when the control closes: Yes
//    downloads and waits, and a download that does not go through keeps the control open.
//  - Apply with an entry that holds no valid value (not a number, out of the field's range, refused
//    by the DTM) focuses the entry and fails: OK keeps the control open and nothing is lost.
//  - A pair whose source holds no value is passed over: nothing stored, nothing marked changed.
//  - The first copy at opening marks nothing changed (the pairs, the long tag and the range values
//    alike): opening the control stores nothing the user did not edit.
//  - The fail time of the command 135 data is shown in its edit as it arrives.
//  - Sensitivity, fail time and year take only numbers; a sensitivity or fail time the device byte
//    cannot hold is invalid (the year is clamped to 1900..2050 as the device's field wants).
//  - Every distance is shown in the unit its label names, for each HART length unit (the unit list
//    holds m, ft, in, cm and mm): the range in the range's own unit (which may differ from the PV
//    unit), blanking and offset in the PV unit, PV and SV in the units the device read them in.
//    The range values written carry the unit they are in. Choosing another unit converts every
//    distance into it (the range follows the PV unit, as the transmitter's unit change has it); a
//    distance in a unit that is no length unit is left as it is, read-only, and the user is told.
//    The offline copies of the distances are kept in metres, the unit their limits are given in.
//  - A distance the user did not retype stands for the number it was shown from, not for the
//    rounding of its text: an edit of one value never rounds its neighbours.
#pragma once

#include <array>
#include <map>
#include <set>
#include <span>
#include <string>

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/LengthUnits.h"
#include "ui/device/kit/PageResources.h"
#include "ui/framework/ActiveXControl.h"

// The control's own dispatch interface; it has no methods.
struct IOfflineParam : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5B7E2C14-0A9D-4E63-B1F8-92D4C6A3E017");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kOfflineDialogId = 128;
// Group boxes.
inline constexpr UINT kOfflineSetupGroup = 566;
inline constexpr UINT kOfflineAdvancedGroup = 551;
inline constexpr UINT kOfflineStringsGroup = 519;
inline constexpr UINT kOfflineValuesGroup = 459;
// Setup.
inline constexpr UINT kOfflineDisplayModeCombo = 612;
inline constexpr UINT kOfflineDisplayUnitCombo = 613;
inline constexpr UINT kOfflineLowLevelEdit = 614;
inline constexpr UINT kOfflineHiLevelEdit = 615;
inline constexpr UINT kOfflineDampingEdit = 616;
inline constexpr UINT kOfflineTrackingCombo = 617;
inline constexpr UINT kOfflineDielectricCombo = 618;
inline constexpr UINT kOfflineFailModeCombo = 619;
inline constexpr UINT kOfflineFailTimeEdit = 620;
// Advanced.
inline constexpr UINT kOfflineSensitivityEdit = 623;
inline constexpr UINT kOfflineAnalogModeCombo = 624;
inline constexpr UINT kOfflineBlankingEdit = 625;
inline constexpr UINT kOfflineOffsetEdit = 626;
// Strings and date.
inline constexpr UINT kOfflineTagEdit = 205;
inline constexpr UINT kOfflineLongTagEdit = 310;
inline constexpr UINT kOfflineLongTagLabel = 311;
inline constexpr UINT kOfflineDescriptorEdit = 207;
inline constexpr UINT kOfflineMessageEdit = 209;
inline constexpr UINT kOfflineDayEdit = 358;
inline constexpr UINT kOfflineMonthEdit = 360;
inline constexpr UINT kOfflineYearEdit = 631;
// Values (read-only).
inline constexpr UINT kOfflineCurrentEdit = 408;
inline constexpr UINT kOfflinePvEdit = 302;
inline constexpr UINT kOfflineSvEdit = 306;
// The distance unit labels: Hi Level, Low Level, Blanking, Distance Offset, PV, SV.
inline constexpr UINT kOfflineHiUnitLabel = 622;
inline constexpr UINT kOfflineLowUnitLabel = 621;
inline constexpr UINT kOfflineBlankingUnitLabel = 627;
inline constexpr UINT kOfflineOffsetUnitLabel = 597;
inline constexpr UINT kOfflinePvUnitLabel = 628;
inline constexpr UINT kOfflineSvUnitLabel = 630;
inline constexpr std::array<UINT, 6> kOfflineUnitLabels = {kOfflineHiUnitLabel,       kOfflineLowUnitLabel,
                                                           kOfflineBlankingUnitLabel, kOfflineOffsetUnitLabel,
                                                           kOfflinePvUnitLabel,       kOfflineSvUnitLabel};

// Parameters only this control uses.
inline constexpr LONG kParCurrentValue = 1048;
inline constexpr LONG kParPvValue = 1049;
inline constexpr LONG kParSvValue = 1050;
inline constexpr LONG kParMessageText = 1051;
inline constexpr LONG kParTagText = 1054;
inline constexpr LONG kParDescriptorText = 1055;
inline constexpr LONG kParDay = 1056;
inline constexpr LONG kParMonth = 1057;
inline constexpr LONG kParYear = 1058;        // VT_UI1, years after 1900
inline constexpr LONG kParLongTag2 = 1097;    // 32 bytes Latin-1, zero padded
inline constexpr LONG kParPvUnitOffline = 1124;
inline constexpr LONG kParUpperRangeOffline = 1125;
inline constexpr LONG kParLowerRangeOffline = 1126;
inline constexpr LONG kParDampingOffline = 1127;
inline constexpr LONG kParDisplayModeOffline = 1128;
inline constexpr LONG kParTrackingOffline = 1129;
inline constexpr LONG kParDielectricOffline = 1130;
inline constexpr LONG kParFailSafeOffline = 1131;
inline constexpr LONG kParFailTimeOffline = 1132;
inline constexpr LONG kParSensitivityOffline = 1133;
inline constexpr LONG kParAnalogModeOffline = 1134;
inline constexpr LONG kParBlankingOffline = 1135;
inline constexpr LONG kParDistanceOffsetOffline = 1136;

// Texts shown for identification fields the data set leaves empty.
inline constexpr const char* kOfflineDefaultTag = "DEFAULT";
inline constexpr const char* kOfflineDefaultDescriptor = "DEFAULT DESCRIPT";
inline constexpr const char* kOfflineDefaultMessage = "DEFAULT MESSAGE";
inline constexpr const char* kOfflineDefaultLongTag = "DEFAULT LONG TAG";

// The fail-mode combo's items (its texts are this control's own: no blank before "> 20.20 mA").
std::span<const SComboCode> OfflineFailModeCodes();

class COfflineParam : public CovFDT_IDtmActiveXControlImpl, public IOfflineParam {
 public:
  COfflineParam();
  ~COfflineParam() override;
  COfflineParam(const COfflineParam&) = delete;
  COfflineParam& operator=(const COfflineParam&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // IDispatch of both dual interfaces: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // The family's start, the default texts of empty identification fields, the first copy.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // Group font, combo lists, Apply enabled, then the base's start.
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  // Command data into the offline parameters; offline values into the controls.
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // The controls' values as the parameters take them.
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;

  // Copies the values the user changed into the device parameters, then the framework's apply.
  // E_FAIL (the invalid entry focused) when an entry holds no valid value.
  HRESULT ApplyOfflineValues();

  // OK and Apply run this apply; online, the family then offers the download of the data set.
  HRESULT ApplyChanges() override { return ApplyOfflineValues(); }
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // The user's typing, then the day judged again when its month or year changed.
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;

  // The DTM's state as the control learns it: the current, PV and SV fields without a value say why.
  HRESULT OnDtmStateChanged(ULONG state) override;

  // State for tests.
  bool InInit() const { return m_bInInit; }
  HFONT GroupFont() const { return m_groupFont.Get(); }

 protected:
  void* FindInterface(REFIID riid) override;
  // The first value the DTM told was not written during the download (as the DTM names it, a
  // value of the data set before a view of its bytes) and why, else the framework's words; then
  // what the device now holds: every value of the data set the device confirmed during the
  // download (the user's changes or not), and the user's changes it does not hold.
  void TellDownloadFailure(EDownload outcome, const std::u16string& failure, const std::vector<LONG>& changed) override;
  // The DTM's names of the values in a download notice replaced by the labels of their entries.
  std::u16string DownloadWords(const std::u16string& text) override;
  // Notes, while a download runs, each parameter whose write the device confirmed.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;

 private:
  HRESULT WriteParameter(LONG id, const VARIANT& value);
  void ShowFailTime(BYTE seconds);
  HRESULT ReadFloat(UINT edit, const char* format, VARIANT* value);
  HRESULT ReadCombo(UINT combo, std::span<const SComboCode> table, VARIANT* value);
  // ---- Distances and their units
  // The unit an edit's distance is wanted in: the range's for Hi and Low Level, else the display unit.
  BYTE WantedUnit(UINT edit) const;
  // Shows value (in unit) in the edit and its label, converted into the wanted unit when both are
  // length units, else as it is (read-only then: nothing converts it).
  void ShowLength(UINT edit, double value, BYTE unit);
  // The edit's number in unit: the number it was shown from while its text is unchanged, else the
  // text read. E_FAIL when the text is no number or the edit's unit does not convert into unit.
  HRESULT ReadLength(UINT edit, BYTE unit, double* number);
  HRESULT ReadLength(UINT edit, BYTE unit, VARIANT* value);
  // Takes code as the display unit; chosen: the user chose it, and every distance follows it.
  void SetDisplayUnit(BYTE code, bool chosen);
  // Tells the user which distances stay in a unit that converts into no other (none: nothing).
  void TellUnconverted();
  // The PV unit the data set's distances are in: its PV unit when it holds one, else the display unit.
  BYTE DataSetPvUnit();
  // The labels of the PV and SV shown: the units the device read them in (command 3), else the
  // display unit; a field without a value has no unit.
  void ShowValueUnits();
  // The current, PV and SV fields the data set gave no value: the control reads nothing of the
  // device, so online they were not read, and offline no device is connected.
  void ShowValuePlaceholders(ULONG state);
  // Whether the data set holds the device parameter (its value read from the data set).
  bool HoldsDeviceParameter(LONG id);
  // Whether the data set holds the device parameter's value (uploaded, loaded or edited).
  bool HoldsDeviceValue(LONG id, const VARIANT& value);
  // Shows a device parameter's value in its control; false for an id that is none of them.
  bool ShowDeviceValue(LONG id, const VARIANT& value);
  // Takes what the controls show of the device parameters as the values the user starts from.
  void KeepShownValues();
  // The text of an edit as typed (UTF-16).
  std::u16string ItemTextW(UINT edit) const;
  // What an entry holds, in the user's words ("1 to 12", "0 to 66 m" in the unit the entry shows);
  // empty where the entry names no limits.
  std::u16string EntryLimits(LONG id);
  // The labels of the settings a command writes together with the device parameter `device` that
  // the user changed (all of them when none), quoted; none for a parameter of no such record.
  std::vector<std::u16string> RecordLabelsChanged(LONG device) const;
  // The last day the day entry may hold beside the month and year entries.
  ULONG LastDay() const;
  // Whether the date's entries show the date the data set holds (the user did not change it).
  bool DateIsDataSets();
  // Names the entries marked invalid with what each holds; false when none is.
  bool TellInvalidEntries();
  // Whether the entry's field holds another value than the control showed (m_shown).
  bool TypedSinceShown(LONG id);

  COwnedFont m_groupFont;
  USHORT m_wLastPvUnit = 0;       // the PV unit last taken from command 1 data
  USHORT m_wLastAnalogMode = 0;   // the analog mode last taken from the command 137 data
  bool m_bInInit = false;
  bool m_bOpen = false;  // Init is done: the values that come now are the DTM's news
  // The device parameters' values as the controls showed them before the user's work: a value
  // that still reads the same was not changed and is not written.
  std::map<LONG, vkr::Variant> m_shown;
  // The fields the user typed into or chose in since the control opened or last applied: an entry
  // that goes nowhere while another holds the apply back is named, whatever its kind.
  std::set<UINT> m_typedControls;
  // The device parameters the user changed since the control opened, as the applies wrote them.
  std::vector<LONG> m_userChanged;
  // A distance an edit shows: the number in its unit and the text it was shown as.
  struct SShownLength {
    double value = 0.0;
    BYTE unit = 0;
    std::string text;
  };
  std::map<UINT, SShownLength> m_lengths;
  // The parameters the running or last download wrote, in the order the device confirmed them.
  std::vector<LONG> m_downloadWritten;
  // Each parameter a download of this control wrote, with the value the device confirmed: the
  // device still holds the data set's value while the data set holds that one.
  std::map<LONG, vkr::Variant> m_deviceWrote;
  BYTE m_unit = 0;       // the display unit (the PV unit): blanking and offset are in it
  BYTE m_rangeUnit = 0;  // the unit of the range values the data set holds; 0: the display unit
  BYTE m_pvValueUnit = 0, m_svValueUnit = 0;  // the units of the PV and SV shown; 0: not known
};

}  // namespace vkr::dui

// The Command page: its dialog, strings and parameter table, the decoders of the device's answers,
// the range rules, Send and the auto-digitize routine.
#include "ui/device/CommandPP.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "communication/HartResponseTexts.h"
#include "include/CommunicationInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/LengthUnits.h"
#include "ui/device/kit/PageResources.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/device/kit/UserMessage.h"

namespace {

// ---- Dialog 112 --------------------------------------------------------------------------------

constexpr UINT kDialogId = 112;
constexpr UINT kGroupSetup = 566;
constexpr UINT kComboDisplayMode = 383;
constexpr UINT kComboDisplayUnit = 381;
constexpr UINT kComboTracking = 385;
constexpr UINT kComboDielectric = 388;
constexpr UINT kComboFailMode = 391;
constexpr UINT kEditLowLevel = 545;
constexpr UINT kEditHighLevel = 544;
constexpr UINT kEditDamping = 542;
constexpr UINT kEditFailTime = 448;
constexpr UINT kEditDigitizeDistance = 547;
constexpr UINT kButtonDigitize = 702;
constexpr UINT kButtonRunDigitize = 546;
constexpr UINT kLabelDigitizeDistance = 479;
constexpr UINT kLabelDigitizeUnit = 597;
// The controls of the digitize distance, shown instead of the "Digitize" button.
constexpr UINT kDigitizeControls[] = {kLabelDigitizeDistance, kEditDigitizeDistance, kButtonRunDigitize,
                                      kLabelDigitizeUnit};
constexpr UINT kLabelLowUnit = 598;
constexpr UINT kLabelHighUnit = 595;
// The page frame's buttons (dialog 105); no control of this page carries them.
constexpr UINT kFrameRefresh = 356;
constexpr UINT kFrameSend = 221;

// Labels left, values beside them with room for the status icon between, the unit or "Sec" to
// the right; the tank picture in the group's right half. Combo 381 is editable (a typed unit is
// looked up when the combo loses the focus).
constexpr const char kTemplate[] = R"(112 DIALOGEX 0, 0, 300, 214
STYLE DS_CONTROL | WS_CHILD
FONT 8, "MS Sans Serif"
BEGIN
  GROUPBOX "Setup", 566, 5, 3, 290, 206
  LTEXT "Display Mode", 465, 14, 20, 62, 8
  COMBOBOX 383, 96, 18, 80, 90, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "Display Unit", 462, 14, 37, 62, 8
  COMBOBOX 381, 96, 35, 80, 60, CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP
  LTEXT "Low Level", 458, 14, 54, 62, 8
  EDITTEXT 545, 96, 52, 60, 12, ES_AUTOHSCROLL
  LTEXT "", 598, 160, 54, 30, 8
  LTEXT "Hi Level", 460, 14, 71, 62, 8
  EDITTEXT 544, 96, 69, 60, 12, ES_AUTOHSCROLL
  LTEXT "", 595, 160, 71, 30, 8
  LTEXT "Damping", 456, 14, 88, 62, 8
  EDITTEXT 542, 96, 86, 60, 12, ES_AUTOHSCROLL
  LTEXT "Sec", 593, 160, 88, 30, 8
  LTEXT "Tracking", 467, 14, 105, 62, 8
  COMBOBOX 385, 96, 103, 80, 90, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "Dielectric", 473, 14, 122, 62, 8
  COMBOBOX 388, 96, 120, 80, 100, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "Fail Mode", 475, 14, 139, 62, 8
  COMBOBOX 391, 96, 137, 80, 100, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "Fail Time", 477, 14, 156, 62, 8
  EDITTEXT 448, 96, 154, 60, 12, ES_AUTOHSCROLL
  LTEXT "Sec", 592, 160, 156, 30, 8
  PUSHBUTTON "Digitize", 702, 96, 184, 60, 14, WS_TABSTOP
  LTEXT "Digitize distance", 479, 14, 175, 62, 8, NOT WS_VISIBLE
  EDITTEXT 547, 96, 173, 60, 12, ES_AUTOHSCROLL | NOT WS_VISIBLE
  LTEXT "", 597, 160, 175, 30, 8, NOT WS_VISIBLE
  PUSHBUTTON "Run Digitize", 546, 96, 189, 60, 14, WS_TABSTOP | NOT WS_VISIBLE
  CONTROL "#199", 528, "Static", SS_BITMAP, 210, 40, 48, 48
END
)";

// ---- Strings -----------------------------------------------------------------------------------

constexpr UINT kStringTitle = 245;
constexpr UINT kStringHelpFile = 252;
constexpr UINT kStringDoc = 259;
constexpr UINT kStringDigitizeQuestion = 139;
constexpr UINT kStringDigitizeFailed = 141;
constexpr UINT kStringDigitizeDone = 143;
constexpr UINT kStringDigitizeCaption = 148;
constexpr UINT kStringLoopAutomatic = 150;

struct PageString {
  UINT id;
  const char16_t* text;
};
constexpr PageString kStrings[] = {
    {kStringTitle, u"Command"},
    {kStringHelpFile, u"VornExampleDtm.chm::/Command.html#wp1102909"},
    {kStringDoc, u"Your Help String"},
    {kStringDigitizeQuestion, u"About to perfom Auto-Digitization routine. Continue?"},
    {kStringDigitizeFailed, u"Auto-Digitize routine failed"},
    {kStringDigitizeDone, u"Auto-Digitize routine completed successfully"},
    {kStringDigitizeCaption, u"Digitize"},
    {kStringLoopAutomatic, u"Loop may be returned to automatic control"},
};

// ---- Parameters --------------------------------------------------------------------------------

constexpr LONG kPvUnitUser = 1039;
constexpr LONG kUpperRange = 1026;
constexpr LONG kLowerRange = 1027;
constexpr LONG kDampingUser = 1040;
constexpr LONG kRangeValues = 1023;
constexpr LONG kDisplayMode = 1063;
constexpr LONG kTracking = 1065;
constexpr LONG kDielectric = 1067;
constexpr LONG kFailSafe = 1069;
constexpr LONG kFailTime = 1072;
constexpr LONG kRangeUnit = 1025;
constexpr LONG kPvUnit = 1024;
constexpr LONG kDamping = 1022;
constexpr LONG kCommand1 = 1029;
constexpr LONG kCommand2 = 1030;
constexpr LONG kCommand15 = 1033;
constexpr LONG kButtonRefresh = 1041;
constexpr LONG kButtonSend = 1042;
constexpr LONG kDisplayModeDevice = 1064;
constexpr LONG kTrackingDevice = 1066;
constexpr LONG kDielectricDevice = 1068;
constexpr LONG kFailSafeDevice = 1070;
constexpr LONG kFailTimeDevice = 1071;
constexpr LONG kSpCmd1 = 1059;
constexpr LONG kDigitizeCommand = 1082;
constexpr LONG kDigitizeCommandValue = 1088;  // the routine command 136 carries
constexpr LONG kDigitizedDistance = 1090;
constexpr LONG kCommand131 = 1100;
constexpr LONG kProbeLength = 1114;
constexpr LONG kCommand14 = 1032;
constexpr LONG kParamUnit = 1115;
constexpr LONG kParamUpper = 1116;
constexpr LONG kParamLower = 1117;
constexpr LONG kParamSpan = 1118;
constexpr LONG kCurrentReading = 1119;

constexpr ULONG kKindValue = 0;
constexpr ULONG kKindChoice = 4;
constexpr ULONG kKindCommand = 0x80000000;
constexpr int kEntryCount = 34;

using vkr::dui::kStateChanged;
using vkr::dui::kStateUsableChanged;
constexpr ULONG kDtmOnline = vkr::dui::kDtmStateOnline;

constexpr char kFloatFormat[] = "%.3f";
constexpr DWORD kDigitizePause = 10000;

// Combo items, in the order they are added, and where each combo keeps its "Loading..." item.
using ComboItem = vkr::dui::SComboCode;
constexpr ComboItem kDisplayModeItems[] = {{"Level", 3}, {"% Level", 4}, {"Distance", 5}};
constexpr ComboItem kTrackingItems[] = {{"Slow", 0}, {"Medium", 1}, {"Fast", 2}, {"Velomode", 3}, {"Test", 4}};
constexpr ComboItem kDielectricItems[] = {{" < 2", 0},  {" < 5", 1},  {" < 10", 2}, {" < 20", 3},
                                          {" < 40", 4}, {" < 80", 5}, {" > 80", 6}};
constexpr ComboItem kFailModeItems[] = {{"3.80 mA", 1},  {" > 20.20 mA", 2}, {"Last Known", 3},
                                        {"4.00 mA", 4}, {"20.00 mA", 5},    {"> 21.50 mA", 6}};
// Each combo's "Loading..." item goes after its real items (indexes 2, 3, 5, 7 and 6).
constexpr UINT kCombos[] = {kComboDisplayUnit, kComboDisplayMode, kComboTracking, kComboDielectric, kComboFailMode};

SPropertyPageClass CommandClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_CommandPP;
  c.parameterMap = &CCommandPP::GetParameterMap;
  c.dialogId = kDialogId;
  c.controlNames = vkr::dui::kCommandControlNames;
  c.titleId = kStringTitle;
  c.helpFileId = kStringHelpFile;
  c.docStringId = kStringDoc;
  c.templateText = kTemplate;
  return c;
}

template <class Q>
vkr::ComPtr<Q> QueryOf(IUnknown* object) {
  vkr::ComPtr<Q> result;
  if (object) object->QueryInterface(Q::iid, result.PutVoid());
  return result;
}

// ---- Values -------------------------------------------------------------------------------------

VARIANT UI1(BYTE value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

VARIANT R4(float value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

}  // namespace

namespace vkr::dui {

DigitizeClock RealDigitizeClock() {
  return DigitizeClock{[] { return GetTickCount(); }, [](DWORD ms) { Sleep(ms); }};
}

std::span<const SComboCode> DisplayModeCodes() { return kDisplayModeItems; }
std::span<const SComboCode> TrackingCodes() { return kTrackingItems; }
std::span<const SComboCode> DielectricCodes() { return kDielectricItems; }

}  // namespace vkr::dui

// ===== Construction ==============================================================================

CCommandPP::CCommandPP() : CDevicePropertyPage(CommandClass()), m_clock(vkr::dui::RealDigitizeClock()) {
  // The page reads the device's values while the DTM is online.
  m_nDialogType = vkr::dui::kDialogTypeOnlineReading;
  m_bRefreshOnShow = 1;
  m_nRangeUnit = 0;
}

CCommandPP::~CCommandPP() = default;

const char* CCommandPP::TemplateText() const { return kTemplate; }

bool CCommandPP::LoadPageString(UINT id, std::u16string* text) {
  for (const PageString& s : kStrings) {
    if (s.id != id) continue;
    *text = s.text;
    return true;
  }
  return CDevicePropertyPage::LoadPageString(id, text);
}

CActXParInfo* CCommandPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[kEntryCount + 1];
  static const bool filled = [] {
    int i = 0;
    auto add = [&](LONG id, const char* name, UINT control, const char* format, BOOL indicator, ULONG kind) {
      entries[i++] = CActXParInfo(id, name, control, format, 0x71, indicator, kind);
    };
    add(kPvUnitUser, "PV unit", kComboDisplayUnit, "", TRUE, kKindChoice);
    add(kUpperRange, "Upper range", kEditHighLevel, kFloatFormat, TRUE, kKindValue);
    add(kLowerRange, "Lower range", kEditLowLevel, kFloatFormat, TRUE, kKindValue);
    add(kDampingUser, "Damping value user", kEditDamping, kFloatFormat, TRUE, kKindValue);
    add(kRangeValues, "Range values", 0, "", FALSE, kKindCommand);
    add(kDisplayMode, "Display Mode", kComboDisplayMode, "", TRUE, kKindChoice);
    add(kTracking, "Tracking", kComboTracking, "", TRUE, kKindChoice);
    add(kDielectric, "Dielectric", kComboDielectric, "", TRUE, kKindChoice);
    add(kFailSafe, "FailSafe", kComboFailMode, "", TRUE, kKindChoice);
    add(kFailTime, "Fail Time", kEditFailTime, "%u", TRUE, kKindValue);
    add(kRangeUnit, "Range unit", 0, "", FALSE, kKindCommand);
    add(kPvUnit, "PV unit", 0, "", FALSE, kKindCommand);
    add(kDamping, "Damping value", 0, kFloatFormat, FALSE, kKindCommand);
    add(kCommand1, "Command 1 complete", 0, "", FALSE, kKindCommand);
    add(kCommand2, "Command 2 complete", 0, "", FALSE, kKindCommand);
    add(kCommand15, "Command 15 complete", 0, "", FALSE, kKindCommand);
    add(kButtonRefresh, "Button Refresh", 0, "", FALSE, kKindCommand);
    add(kButtonSend, "Button Send", 0, "", FALSE, kKindCommand);
    add(kDisplayModeDevice, "eDispModeID", 0, "", FALSE, kKindCommand);
    add(kTrackingDevice, "eTrackingModeID", 0, "", FALSE, kKindCommand);
    add(kDielectricDevice, "eDielectricID", 0, "", FALSE, kKindCommand);
    add(kFailSafeDevice, "eFailsafeID", 0, "", FALSE, kKindCommand);
    add(kFailTimeDevice, "eFailtimeID", 0, "", FALSE, kKindCommand);
    add(kSpCmd1, "SpCMD1", 0, "", FALSE, kKindCommand);
    add(kDigitizeCommand, "Digitize command", 0, "", FALSE, kKindCommand);
    add(1083, "Button Digitize", 0, "", FALSE, kKindCommand);
    add(kCommand131, "command 131", 0, "", FALSE, kKindCommand);
    add(kProbeLength, "Probe Length", 0, "", FALSE, kKindCommand);
    add(kCommand14, "Command 14 complete", 0, "", FALSE, kKindCommand);
    add(kParamUnit, "Param unit", 0, "", FALSE, kKindCommand);
    add(kParamUpper, "Param Upper range", 0, "", FALSE, kKindCommand);
    add(kParamLower, "Param Lower range", 0, "", FALSE, kKindCommand);
    add(kParamSpan, "Param span", 0, "", FALSE, kKindCommand);
    add(kCurrentReading, "Current reading", 0, "", FALSE, kKindCommand);
    return i == kEntryCount;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = kEntryCount;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

// ===== Start and end =============================================================================

HRESULT CCommandPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  if (m_hWndDialog && m_groupFont.Create("Tahoma", 14, 600)) m_groupFont.SetOn(m_hWndDialog, {kGroupSetup});
  m_nLastPvUnit = m_nLastDisplayMode = m_nLastTracking = m_nLastDielectric = m_nLastFailSafe = 0xFFFF;

  auto fill = [&](UINT combo, const ComboItem* items, size_t count, BYTE* codes) {
    if (m_hWndDialog) vkr::dui::FillCodeCombo(m_hWndDialog, combo, std::span<const ComboItem>(items, count));
    for (size_t i = 0; i < count; ++i) codes[i] = items[i].code;
  };
  if (m_hWndDialog) vkr::dui::FillCodeCombo(m_hWndDialog, kComboDisplayUnit, vkr::dui::LengthUnitItems());
  fill(kComboDisplayMode, kDisplayModeItems, 3, m_anDisplayModeCodes);
  fill(kComboTracking, kTrackingItems, 5, m_anTrackingCodes);
  fill(kComboDielectric, kDielectricItems, 7, m_anDielectricCodes);
  fill(kComboFailMode, kFailModeItems, 6, m_anFailSafeCodes);

  const HRESULT hr = CDevicePropertyPage::InitializeUI(dtm, ok);
  SetLoadingTexts();
  m_nProbeLength = 0;
  return hr;
}

HRESULT CCommandPP::UninitializeUI(VARIANT_BOOL* ok) { return UninitializeStoppingResponses(ok); }

// ===== Reading ===================================================================================

HRESULT CCommandPP::ReadParameter(LONG index) { return ReadParameterOnline(index); }

// ===== Values into the page =====================================================================

HRESULT CCommandPP::SetControlValueById(LONG id, VARIANT value) {
  // A late answer never overwrites what the user typed or chose and has not sent.
  if (IsUserEntry(id)) return S_OK;
  RemoveLoadingItems();
  CUpdatingControls updating(*this);
  switch (id) {
    case kCommand1:
      return StoreCommand1(value);
    case kCommand15:
      return StoreCommand15(value);
    case kCommand14:
      return StoreCommand14(value);
    case kSpCmd1:
      return StoreCommand135(value);
    case kCommand131:
      return StoreCommand131(value);
    case kRangeUnit: {
      // Another page learnt the device's range unit: once this page knows one, the levels follow.
      vkr::Variant code;
      if (m_nRangeUnit != 0 && SUCCEEDED(VariantChangeType(&code, &value, 0, VT_UI1))) FollowRangeUnit(code.bVal);
      return S_OK;
    }
    case kCommand2:
    case kDigitizeCommand:
      return S_OK;
    default:
      break;
  }
  vkr::Variant byte;
  const bool isByte = SUCCEEDED(VariantChangeType(&byte, &value, 0, VT_UI1));
  switch (id) {
    case kPvUnitUser:
      // The levels beside are in the range unit, which their own answer names.
      if (isByte && m_hWndDialog)
        vkr::dui::SelectCode(m_hWndDialog, kComboDisplayUnit, vkr::dui::LengthUnitItems(), byte.bVal);
      return S_OK;
    case kDisplayMode:
      if (isByte && m_hWndDialog) vkr::dui::SelectCode(m_hWndDialog, kComboDisplayMode, kDisplayModeItems, byte.bVal);
      return S_OK;
    case kTracking:
      if (isByte && m_hWndDialog) vkr::dui::SelectCode(m_hWndDialog, kComboTracking, kTrackingItems, byte.bVal);
      return S_OK;
    case kDielectric:
      if (isByte && m_hWndDialog) vkr::dui::SelectCode(m_hWndDialog, kComboDielectric, kDielectricItems, byte.bVal);
      return S_OK;
    case kFailSafe:
      if (isByte && m_hWndDialog) vkr::dui::SelectCode(m_hWndDialog, kComboFailMode, kFailModeItems, byte.bVal);
      return S_OK;
    case kFailTime:
      if (isByte && m_hWndDialog) {
        char text[8];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(byte.bVal));
        SetDlgItemTextA(m_hWndDialog, kEditFailTime, text);
      }
      return S_OK;
    case kButtonRefresh:
      if (AcceptRefresh(isByte && byte.bVal != 0, m_bVisible != 0)) return OnRefresh();
      return S_OK;
    case kButtonSend:
      if (AcceptSend(isByte && byte.bVal != 0, m_bVisible != 0)) return OnSend();
      return S_OK;
    default:
      return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

HRESULT CCommandPP::SetDtmByte(LONG id, BYTE value) {
  if (!m_spDtm) return E_FAIL;
  return m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), UI1(value));
}

HRESULT CCommandPP::SetDtmFloat(LONG id, float value) {
  if (!m_spDtm) return E_FAIL;
  return m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), R4(value));
}

// Command 1: byte 0 the PV unit, passed on only when it changed.
HRESULT CCommandPP::StoreCommand1(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = vkr::dui::ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  const vkr::dui::SCommand1Response answer = vkr::dui::DecodeCommand1(bytes);
  if (!answer.pvUnit || !m_spDtm) return S_OK;
  const HRESULT stored = vkr::dui::StorePvUnitIfChanged(m_spDtm.Get(), *answer.pvUnit, &m_nLastPvUnit);
  return FAILED(stored) ? stored : S_OK;
}

// Command 15: range unit, upper and lower range and damping, each when the answer holds it.
HRESULT CCommandPP::StoreCommand15(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = vkr::dui::ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  if (!m_spDtm) return S_OK;
  const vkr::dui::SCommand15Response answer = vkr::dui::DecodeCommand15(bytes);
  // The levels typed follow a unit that changed before their entries hear of it.
  if (answer.rangeUnit && m_nRangeUnit != 0) FollowRangeUnit(*answer.rangeUnit);
  vkr::dui::StoreCommand15Values(m_spDtm.Get(), answer, &m_nRangeUnit);
  if (answer.rangeUnit) ShowRangeUnit();
  return S_OK;
}

void CCommandPP::ShowRangeUnit() {
  // The levels are the range values: they are shown in the range unit, whatever the PV unit.
  if (!m_hWndDialog || m_nRangeUnit == 0) return;
  const std::string unit = vkr::dui::LengthUnitLabel(m_nRangeUnit);
  for (UINT label : {kLabelLowUnit, kLabelHighUnit}) SetDlgItemTextA(m_hWndDialog, static_cast<int>(label), unit.c_str());
}

void CCommandPP::FollowRangeUnit(BYTE code) {
  if (code == m_nRangeUnit) return;
  const BYTE from = m_nRangeUnit;
  m_nRangeUnit = code;
  ShowRangeUnit();
  // A level the device gave is shown in the new unit before a typed one is held against it: the
  // range rules compare numbers, which must be of one unit. The device's answer in its new unit
  // replaces it as soon as it comes.
  for (LONG id : {kUpperRange, kLowerRange}) {
    const UINT edit = id == kUpperRange ? kEditHighLevel : kEditLowLevel;
    float shown = 0.0f;
    if (IsUserEntry(id) || FAILED(EditFloat(edit, &shown))) continue;
    if (const std::optional<double> converted = vkr::dui::ConvertLength(shown, from, code)) {
      CUpdatingControls updating(*this);
      SetDlgItemDouble(static_cast<LONG>(edit), kFloatFormat, *converted);
    }
  }
  FollowUnitChange({kUpperRange, kLowerRange}, from, code);
}

// Command 14: the limits' unit, upper limit, lower limit and minimum span.
HRESULT CCommandPP::StoreCommand14(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = vkr::dui::ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  const vkr::dui::SCommand14Response answer = vkr::dui::DecodeCommand14(bytes);
  if (answer.limitsUnit) SetDtmByte(kParamUnit, *answer.limitsUnit);
  if (answer.upperLimit) SetDtmFloat(kParamUpper, *answer.upperLimit);
  if (answer.lowerLimit) SetDtmFloat(kParamLower, *answer.lowerLimit);
  if (answer.minimumSpan) SetDtmFloat(kParamSpan, *answer.minimumSpan);
  if (answer.limitsUnit && answer.upperLimit && answer.lowerLimit && answer.minimumSpan) m_bLimitsRead = true;
  return S_OK;
}

// Command 135: display mode, tracking, dielectric and fail-safe go on only when they changed;
// the fail time always.
HRESULT CCommandPP::StoreCommand135(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = vkr::dui::ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  const vkr::dui::CByteReader reader(bytes);
  USHORT* last[4] = {&m_nLastDisplayMode, &m_nLastTracking, &m_nLastDielectric, &m_nLastFailSafe};
  const LONG ids[4] = {kDisplayMode, kTracking, kDielectric, kFailSafe};
  for (size_t i = 0; i < 4; ++i) {
    const std::optional<BYTE> field = reader.U8(i);
    if (!field || *field == *last[i]) continue;
    *last[i] = *field;
    SetDtmByte(ids[i], *field);
  }
  if (const std::optional<BYTE> failTime = reader.U8(4)) SetDtmByte(kFailTime, *failTime);
  return S_OK;
}

// Command 131 (two words from 0x0035): the first word is the probe length.
HRESULT CCommandPP::StoreCommand131(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = vkr::dui::ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  const vkr::dui::CByteReader reader(bytes);
  const std::optional<USHORT> length = reader.U16(0);
  if (!length || !reader.Has(0, 4)) return S_OK;
  m_nProbeLength = *length;
  return SetDtmFloat(kProbeLength, static_cast<float>(m_nProbeLength));
}

// ===== Values out of the page ===================================================================

HRESULT CCommandPP::EditFloat(UINT editId, float* value) {
  return GetDlgItemFloat(static_cast<LONG>(editId), kFloatFormat, value);
}

void CCommandPP::WriteBack(UINT editId, float value) {
  // Not under the user's fingers: the rules' value comes when the edit is left (or at Send).
  if (m_bTypingLevel) return;
  // The program's own write: the edit's change notification is no input.
  CUpdatingControls updating(*this);
  SetDlgItemFloat(static_cast<LONG>(editId), kFloatFormat, value);
}

float CCommandPP::DtmFloat(LONG id) {
  vkr::Variant value, number;
  if (FAILED(GetDtmParameterValue(id, value.Put()))) return 0.0f;
  if (FAILED(VariantChangeType(&number, &value, 0, VT_R4))) return 0.0f;
  return number.fltVal;
}

// The sensor limits and minimum span (command 14) in the unit the levels are shown in; false when
// they cannot be given in it (either unit is no length unit): the rules then leave the levels as
// typed rather than compare numbers of two units.
bool CCommandPP::LimitsInLevelUnit(float* upper, float* lower, float* span) {
  // Limits the device never gave are no limits: the levels go as typed, and the device decides.
  if (!m_bLimitsRead || m_nRangeUnit == 0) return false;
  const float limits[3] = {DtmFloat(kParamUpper), DtmFloat(kParamLower), DtmFloat(kParamSpan)};
  float* const out[3] = {upper, lower, span};
  const BYTE from = static_cast<BYTE>(DtmFloat(kParamUnit));
  for (int i = 0; i < 3; ++i) {
    const std::optional<double> converted = from == m_nRangeUnit
                                                ? std::optional<double>(limits[i])
                                                : vkr::dui::ConvertLength(limits[i], from, m_nRangeUnit);
    if (!converted) return false;
    *out[i] = static_cast<float>(*converted);
  }
  return true;
}

// The high level after the range rules. A text that holds no number is refused: nothing would
// reach the device but a value the user never typed.
HRESULT CCommandPP::HighLevel(float* value) {
  float u = 0.0f, l = 0.0f;
  HRESULT hr = EditFloat(kEditHighLevel, &u);
  if (FAILED(hr)) return hr;
  if (FAILED(EditFloat(kEditLowLevel, &l))) l = 0.0f;
  float pu = 0.0f, pl = 0.0f, ps = 0.0f;
  if (!LimitsInLevelUnit(&pu, &pl, &ps)) {
    *value = u;
    return S_OK;
  }
  const float typed = u;
  ERangeRule why = ERangeRule::SensorLimit;
  if (0.0f <= u && u < pu) u = pu;
  if (u >= pl) u = pl - ps;
  if ((l > 0.0f && l < u) || (l - u > 0.0f && l - u < ps)) {
    u = l - ps;
    why = ERangeRule::SpanFromOther;
  }
  if (u != typed) MovedByRules(kEditHighLevel, typed, u, why, ps);
  *value = u;
  return S_OK;
}

HRESULT CCommandPP::LowLevel(float* value) {
  float u = 0.0f, l = 0.0f;
  HRESULT hr = EditFloat(kEditLowLevel, &l);
  if (FAILED(hr)) return hr;
  if (FAILED(EditFloat(kEditHighLevel, &u))) u = 0.0f;
  float pu = 0.0f, pl = 0.0f, ps = 0.0f;
  if (!LimitsInLevelUnit(&pu, &pl, &ps)) {
    *value = l;
    return S_OK;
  }
  const float typed = l;
  ERangeRule why = ERangeRule::SensorLimit;
  // Each rule that applies writes the level back, also where it stays.
  bool applied = false;
  if (l > pl) {
    l = pl;
    applied = true;
  }
  if (l - u > 0.0f && l - u <= ps) {
    l = u + ps;
    why = ERangeRule::SpanFromOther;
    applied = true;
  } else if (u >= l) {
    if (u + ps > pl) {
      l = pl;
      why = ERangeRule::SensorLimit;
    } else if (l != 0.0f) {
      l = u + ps;
      why = ERangeRule::SpanFromOther;
    }
    applied = true;
  }
  if (l != typed)
    MovedByRules(kEditLowLevel, typed, l, why, ps);
  else if (applied)
    WriteBack(kEditLowLevel, l);
  *value = l;
  return S_OK;
}

void CCommandPP::MovedByRules(UINT editId, float typed, float value, ERangeRule why, float span) {
  WriteBack(editId, value);
  // Only a level the user typed is told of: a device's own range is what the device holds. A move
  // within the shown precision (the other level is shown rounded) moves nothing the user sees.
  const LONG id = editId == kEditHighLevel ? kUpperRange : kLowerRange;
  if (m_bTypingLevel || !IsUserEntry(id)) return;
  if (vkr::dui::FormatLength(value, m_nRangeUnit) == vkr::dui::FormatLength(typed, m_nRangeUnit)) return;
  const std::u16string name = EntryLabel(id);
  const std::u16string other = EntryLabel(editId == kEditHighLevel ? kLowerRange : kUpperRange);
  const std::string to = vkr::dui::FormatLength(value, m_nRangeUnit);
  const std::u16string reason = why == ERangeRule::SensorLimit
                                    ? u"the sensor's limit"
                                    : u"the minimum span of " + vkr::Utf8ToUtf16(vkr::dui::FormatLength(span, m_nRangeUnit)) +
                                          u" from " + other;
  TellNote(name + u" was set to " + vkr::Utf8ToUtf16(to) + u", " + reason + u".");
}

// The "Range values" record: range unit, high level, low level (big-endian singles).
HRESULT CCommandPP::RangeRecord(VARIANT* value) {
  // Without the unit the device gave its range in, the levels are in no known unit: no record.
  if (m_nRangeUnit == 0) return E_FAIL;
  float high = 0.0f, low = 0.0f;
  HRESULT hr = EditFloat(kEditHighLevel, &high);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = EditFloat(kEditLowLevel, &low))) return hr;
  vkr::dui::CByteWriter record;
  record.U8(m_nRangeUnit).Float(high).Float(low);
  return vkr::dui::MakeByteArray(record.Data(), value);
}

HRESULT CCommandPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  std::optional<BYTE> code;
  HRESULT hr = S_OK;
  auto comboCode = [&](UINT combo, std::span<const ComboItem> items) {
    if (m_hWndDialog) code = vkr::dui::CodeOfComboText(m_hWndDialog, combo, items);
  };
  switch (id) {
    case kDamping:
    case kDampingUser: {
      float damping = 0.0f;
      if (FAILED(hr = EditFloat(kEditDamping, &damping))) return hr;
      VariantClear(value);
      *value = R4(damping);
      return S_OK;
    }
    case kPvUnit:
    case kPvUnitUser:
      comboCode(kComboDisplayUnit, vkr::dui::LengthUnitItems());
      break;
    case kDisplayMode:
    case kDisplayModeDevice:
      comboCode(kComboDisplayMode, kDisplayModeItems);
      break;
    case kTracking:
    case kTrackingDevice:
      comboCode(kComboTracking, kTrackingItems);
      break;
    case kDielectric:
    case kDielectricDevice:
      comboCode(kComboDielectric, kDielectricItems);
      break;
    case kFailSafe:
    case kFailSafeDevice:
      comboCode(kComboFailMode, kFailModeItems);
      break;
    case kFailTime:
    case kFailTimeDevice: {
      // The device keeps the fail time in one byte: a larger number or no number is refused
      // rather than cut to its low bits.
      if (!m_hWndDialog) return E_FAIL;
      const std::optional<ULONG> seconds = vkr::dui::ParseUnsigned(vkr::dui::DialogItemText(m_hWndDialog, kEditFailTime), 255);
      if (!seconds) return E_FAIL;
      code = static_cast<BYTE>(*seconds);
      break;
    }
    case kRangeValues:
      VariantClear(value);
      return RangeRecord(value);
    case kCommand131:
      VariantClear(value);
      static constexpr BYTE kProbeLengthRequest[] = {0x00, 0x35, 0x00, 0x02};
      return vkr::dui::MakeByteArray(kProbeLengthRequest, value);
    case kUpperRange:
    case kLowerRange: {
      float level = 0.0f;
      if (FAILED(hr = id == kUpperRange ? HighLevel(&level) : LowLevel(&level))) return hr;
      VariantClear(value);
      *value = R4(level);
      return S_OK;
    }
    default:
      return CDevicePropertyPage::GetControlValueById(id, value);
  }
  if (FAILED(hr)) return hr;
  // A combo text that is none of its items gives no value.
  if (!code) return E_FAIL;
  VariantClear(value);
  *value = UI1(*code);
  return S_OK;
}

bool CCommandPP::IsLengthEntry(LONG id) const { return id == kUpperRange || id == kLowerRange; }

std::optional<BYTE> CCommandPP::ShownLengthUnit(LONG id) const {
  if (!IsLengthEntry(id) || m_nRangeUnit == 0) return std::nullopt;
  return m_nRangeUnit;
}

HRESULT CCommandPP::GetParameterText(LONG id, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (id != kUpperRange && id != kLowerRange) return CDevicePropertyPage::GetParameterText(id, valid);
  // A number beyond the parameter's limits is refused as typed: the range rules move only levels
  // the parameter can hold, else a level no one could enter would be written in its place.
  if (!TypedLevelWithinLimits(id)) return MarkEntryInvalid(id);
  vkr::Variant level;
  if (FAILED(GetControlValueById(id, level.Put()))) {
    // No number: the entry is marked invalid, so Send stops at it and nothing is written.
    return MarkEntryInvalid(id);
  }
  // What the range rules leave must still lie within the level's limits, in the unit shown.
  if (const std::optional<BYTE> unit = ShownLengthUnit(id))
    if (DistanceWithinLimits(id, level.fltVal, *unit) == false) return MarkEntryInvalid(id);
  SetControlStateById(id, kStateUsableChanged);
  *valid = VARIANT_TRUE;
  return S_OK;
}

bool CCommandPP::TypedLevelWithinLimits(LONG id) {
  float typed = 0.0f;
  const std::optional<BYTE> unit = ShownLengthUnit(id);
  if (!unit || FAILED(EditFloat(id == kUpperRange ? kEditHighLevel : kEditLowLevel, &typed))) return true;
  return DistanceWithinLimits(id, typed, *unit) != false;
}

bool CCommandPP::UnitChosenUnread() const {
  // No answer since the last refresh: the DTM weighs the choice against the unit it last stored,
  // which need not be the device's; a unit the user chose then is a change until it is written.
  return m_nLastPvUnit > 0xFF && IsUserEntry(kPvUnitUser);
}

HRESULT CCommandPP::SetControlStateById(LONG id, ULONG state) {
  if (id == kPvUnitUser && UnitChosenUnread()) state |= vkr::dui::kStateUsable | kStateChanged;
  // The range record follows the state of either level: it is changed (or invalid) while either
  // is, so that a check of one level keeps the change of the other.
  if (id == kUpperRange || id == kLowerRange) {
    const LONG other = FindParameterIndex(id == kUpperRange ? kLowerRange : kUpperRange);
    const ULONG kept = other >= 0 ? m_pParInfo[other].m_nState & (kStateChanged | vkr::dui::kStateInvalid) : 0;
    CDevicePropertyPage::SetControlStateById(kRangeValues, state | kept);
  }
  const HRESULT hr = CDevicePropertyPage::SetControlStateById(id, state);
  LockEntries();
  return hr;
}

void CCommandPP::LockEntries() {
  if (!m_hWndDialog) return;
  const bool mayAnswer = DeviceMayAnswer();
  for (UINT combo : kCombos) {
    const std::string text = vkr::dui::DialogItemText(m_hWndDialog, combo);
    // The unit goes to the device on its own: chosen after its read failed it needs no other value
    // the device did not give. The settings go together, so each waits for its read.
    const bool placeholder = text == vkr::dui::kLoadingText || text == vkr::dui::kNotConnectedText ||
                             (text == vkr::dui::kNotReadText && combo != kComboDisplayUnit);
    ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(combo)),
                   mayAnswer && !placeholder && IsUsableControl(combo) ? TRUE : FALSE);
  }
  // Offline read-only; online the entry's own state decides, as the framework set it.
  for (UINT edit : {kEditLowLevel, kEditHighLevel, kEditDamping, kEditFailTime})
    if (!mayAnswer || IsUsableControl(edit))
      ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(edit), EM_SETREADONLY, mayAnswer ? FALSE : TRUE, 0);
  ::EnableWindow(::GetDlgItem(m_hWndDialog, kButtonDigitize),
                 CurrentDtmState() == vkr::dui::kDtmStateOnline && !m_bDigitizing ? TRUE : FALSE);
}

// ===== User input ================================================================================

HRESULT CCommandPP::OnControlChange(UINT code, UINT controlId, HWND control) {
  return OnCommandPageControlChange(code, controlId, control);
}

HRESULT CCommandPP::OnUnitChange() {
  HWND combo = m_hWndDialog ? ::GetDlgItem(m_hWndDialog, kComboDisplayUnit) : nullptr;
  if (!combo) return S_OK;
  const std::span<const ComboItem> units = vkr::dui::LengthUnitItems();
  if (const std::optional<BYTE> typed = vkr::dui::CodeOfComboText(m_hWndDialog, kComboDisplayUnit, units)) {
    vkr::dui::SelectCode(m_hWndDialog, kComboDisplayUnit, units, *typed);
  } else if (m_nLastPvUnit <= 0xFF) {
    // A text that is no unit: back to the unit the device reported, as the display control
    // names it.
    const std::string text = UnitText(static_cast<BYTE>(m_nLastPvUnit));
    for (const ComboItem& item : units)
      if (text == item.text) vkr::dui::SelectCode(m_hWndDialog, kComboDisplayUnit, units, item.code);
  }
  // The entry's marks follow what the combo now shows.
  VARIANT_BOOL valid = VARIANT_FALSE;
  GetParameterText(kPvUnitUser, &valid);
  return S_OK;
}

// ===== Showing and refreshing ===================================================================

void CCommandPP::ShowLoadingItems() {
  for (UINT combo : kCombos) PutComboPlaceholder(combo);
  LockEntries();
}

void CCommandPP::RemoveLoadingItems() {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  for (UINT combo : kCombos) vkr::dui::RemoveComboPlaceholder(m_hWndDialog, combo);
}

void CCommandPP::SetLoadingTexts() {
  PutLoadingText({kEditLowLevel, kEditHighLevel, kEditDamping, kEditFailTime});
  UpdatePlaceholders();
}

void CCommandPP::UpdatePlaceholders() {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  vkr::dui::MatchPlaceholders(m_hWndDialog, DeviceMayAnswer(), {kEditLowLevel, kEditHighLevel, kEditDamping, kEditFailTime},
                              {kComboDisplayUnit, kComboDisplayMode, kComboTracking, kComboDielectric, kComboFailMode});
  LockEntries();
}

void CCommandPP::ShowDigitizeButton() {
  if (!m_hWndDialog) return;
  ::ShowWindow(::GetDlgItem(m_hWndDialog, kButtonDigitize), SW_SHOW);
  for (UINT id : kDigitizeControls) ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), SW_HIDE);
}

HRESULT CCommandPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  ShowDigitizeButton();
  ShowLoadingItems();
  if (wParam == 1) {
    m_bVisible = 1;
    if (m_bRefreshOnShow) {
      // The user interfaces that list 1041 refresh; this page does so below as well.
      RequestFirstRefresh();
      m_nLastPvUnit = 0xFFFF;
      m_bRefreshOnShow = 0;
    }
  } else {
    m_bVisible = 0;
  }
  OnRefresh();
  return CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
}

HRESULT CCommandPP::OnRefresh() {
  // The user's entries stay: only the user's own Refresh gives them up (AcceptRefresh).
  m_nLastPvUnit = m_nLastDisplayMode = m_nLastTracking = m_nLastDielectric = m_nLastFailSafe = 0xFFFF;
  ShowLoadingItems();
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  // The fields wait from here: a read that fails at once says so in them.
  SetLoadingTexts();
  if (static_cast<ULONG>(state) == kDtmOnline && m_spDtm) {
    BeginReadRound();
    // The first reads decide whether the others are made: when one fails nothing more comes.
    auto stopped = [&](LONG id, HRESULT hr, unsigned long long mark) {
      TellNotRead(id, AllFields(), u"the Command page's values", vkr::dui::OutcomeAfter(hr, false, mark, id));
    };
    VARIANT_BOOL done = VARIANT_FALSE;
    unsigned long long mark = vkr::dui::DeviceFailureMark();
    HRESULT hr = ReadFromDevice(kCommand14, &done);
    if (FAILED(hr)) {
      stopped(kCommand14, hr, mark);
      return hr;
    }
    vkr::Variant request;
    if (FAILED(GetControlValueById(kCommand131, request.Put()))) return S_OK;
    mark = vkr::dui::DeviceFailureMark();
    hr = m_spDtm->WriteDeviceParameter(vkr::UI4(kCommand131), request, &done);
    if (FAILED(hr)) {
      stopped(kCommand131, hr, mark);
      return S_OK;
    }
    ReadFromDevice(kSpCmd1, &done);
    ReadFromDevice(kCommand15, &done);
    ReadFromDevice(kCommand1, &done);
    hr = ReadFromDevice(kCommand2, &done);
    if (FAILED(hr)) return hr;
  }
  SetDirtyAfterRefresh();
  return S_OK;
}

std::vector<UINT> CCommandPP::AllFields() const {
  return {kComboDisplayMode, kComboDisplayUnit, kEditLowLevel, kEditHighLevel, kEditDamping,
          kComboTracking,    kComboDielectric,  kComboFailMode, kEditFailTime};
}

std::optional<std::vector<UINT>> CCommandPP::FieldsOfRead(LONG id) const {
  switch (id) {
    case kSpCmd1: return std::vector<UINT>{kComboDisplayMode, kComboTracking, kComboDielectric, kComboFailMode, kEditFailTime};
    case kCommand15: return std::vector<UINT>{kEditLowLevel, kEditHighLevel, kEditDamping};
    case kCommand1: return std::vector<UINT>{kComboDisplayUnit};
    default: return std::vector<UINT>{};
  }
}

std::u16string CCommandPP::NameOfRead(LONG id) const {
  switch (id) {
    case kCommand14: return u"the sensor limits";
    case kCommand131: return u"the probe length";
    case kCommand2: return u"the loop current";
    default: return {};
  }
}

// ===== Send ======================================================================================

HRESULT CCommandPP::OnSend() {
  const CSendRun run(*this);
  if (!BeginSend()) return S_FALSE;
  // The range rules on the levels the user typed, before anything is checked or sent; a level
  // beyond the parameter's limits is refused first, and no level is held against it.
  bool beyond = false;
  for (LONG index : {1L, 2L}) {
    const LONG id = m_pParInfo[index].m_nParamId;
    if ((m_pParInfo[index].m_nState & kStateChanged) && !TypedLevelWithinLimits(id)) {
      MarkEntryInvalid(id);
      beyond = true;
    }
  }
  for (LONG index : {1L, 2L}) {
    if (beyond || !(m_pParInfo[index].m_nState & kStateChanged)) continue;
    VARIANT_BOOL valid = VARIANT_FALSE;
    GetParameterText(m_pParInfo[index].m_nParamId, &valid);
  }
  // Invalid input anywhere on the page: it is focused, named, and nothing goes out.
  if (StopsAtInvalidEntries()) return S_OK;

  HRESULT hr = S_OK;
  bool unitWritten = false;
  // A Send that wrote the unit and stopped later reads the limits, the levels and the unit back, as
  // a whole Send does: the device converted them, and the page follows it (the entries not sent stay).
  const auto stopped = [&](HRESULT failed) {
    if (unitWritten && m_spDtm) {
      BeginReadRound();
      VARIANT_BOOL done = VARIANT_FALSE;
      for (LONG id : {kCommand14, kCommand15, kCommand1}) ReadFromDevice(id, &done);
    }
    return failed;
  };
  if ((m_pParInfo[0].m_nState & kStateChanged) || UnitChosenUnread()) {
    vkr::Variant unit;
    // A unit text that is no item stops the sending: no stale unit reaches the device.
    if (FAILED(hr = GetControlValueById(kPvUnitUser, unit.Put()))) return hr;
    m_nLastPvUnit = unit.bVal;
    if (FAILED(hr = SendPvUnit(unit))) return hr;
    unitWritten = true;
  }
  if (m_pParInfo[4].m_nState & kStateChanged) {
    // The record carries both levels: one the device never gave is not made up.
    if (WriteNeedsUnread({kUpperRange, kLowerRange})) return stopped(E_FAIL);
    SetControlStateById(kRangeValues, kStateUsableChanged);
    if (FAILED(hr = SendEntry(kRangeValues, {kUpperRange, kLowerRange}))) return stopped(hr);
  }
  if (m_pParInfo[3].m_nState & kStateChanged) {
    vkr::Variant damping;
    if (FAILED(hr = GetControlValueById(kDampingUser, damping.Put()))) return stopped(hr);
    SetControlStateById(kDamping, kStateUsableChanged);
    if (FAILED(hr = SendEntry(kDamping, {kDampingUser}, {{kDamping, damping}}))) return stopped(hr);
  }
  // The settings record (command 136) carries all five settings as the page shows them.
  static constexpr LONG kPairs[5][2] = {{kDisplayMode, kDisplayModeDevice},
                                        {kTracking, kTrackingDevice},
                                        {kDielectric, kDielectricDevice},
                                        {kFailSafe, kFailSafeDevice},
                                        {kFailTime, kFailTimeDevice}};
  bool settingsChanged = false;
  for (int k = 0; k < 5; ++k) settingsChanged = settingsChanged || (m_pParInfo[5 + k].m_nState & kStateChanged);
  if (settingsChanged) {
    if (WriteNeedsUnread({kDisplayMode, kTracking, kDielectric, kFailSafe, kFailTime})) return stopped(E_FAIL);
    vkr::Variant values[5];
    for (int k = 0; k < 5; ++k) {
      if (FAILED(hr = GetControlValueById(kPairs[k][0], values[k].Put()))) return stopped(hr);
      SetControlStateById(kPairs[k][1], kStateUsableChanged);
    }
    // Each write carries all five: the first the device takes writes every setting changed, which
    // then needs no write of its own (and a failure of one would tell a written value unwritten).
    for (int k = 0; k < 5; ++k) {
      if (!(m_pParInfo[5 + k].m_nState & kStateChanged)) continue;
      if (FAILED(hr = SendEntry(kPairs[k][1], {kDisplayMode, kTracking, kDielectric, kFailSafe, kFailTime},
                                {{kPairs[0][1], values[0]},
                                 {kPairs[1][1], values[1]},
                                 {kPairs[2][1], values[2]},
                                 {kPairs[3][1], values[3]},
                                 {kPairs[4][1], values[4]}})))
        return stopped(hr);
    }
  }
  EndSend();
  SetDirty(FALSE);
  OnRefresh();
  return S_OK;
}

// ===== Digitize ==================================================================================

HRESULT CCommandPP::OnDigitize() {
  if (!m_hWndDialog) return S_OK;
  ::ShowWindow(::GetDlgItem(m_hWndDialog, kButtonDigitize), SW_HIDE);
  for (UINT id : kDigitizeControls) ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), SW_SHOW);
  float reading = DtmFloat(kCurrentReading);
  if (reading == 0.0f) reading = 1.0f;
  CUpdatingControls updating(*this);
  SetDlgItemFloat(kEditDigitizeDistance, kFloatFormat, reading);
  // The distance proposed is the reading, in the PV unit.
  SetDlgItemTextA(m_hWndDialog, kLabelDigitizeUnit,
                  vkr::dui::LengthUnitLabel(static_cast<BYTE>(DtmFloat(kPvUnitUser))).c_str());
  return S_OK;
}

LONG CCommandPP::Ask(UINT captionId, UINT textId, LONG style) {
  std::u16string caption, text;
  LoadPageString(captionId, &caption);
  LoadPageString(textId, &text);
  LONG answer = 0;
  vkr::dui::ShowDeviceMessage(m_spDtmObject.Get(), caption, text, style, &answer);
  return answer;
}

void CCommandPP::TellDigitizeFailed(const vkr::dui::SDeviceOutcome& outcome, BYTE command) {
  // Told once, with why. Nothing says the loop may go back to automatic control: that word
  // belongs to a routine that ran to its end.
  std::u16string caption, failed;
  LoadPageString(kStringDigitizeCaption, &caption);
  LoadPageString(kStringDigitizeFailed, &failed);
  vkr::dui::ShowDeviceMessage(m_spDtmObject.Get(), caption,
                              failed + u": " + vkr::dui::OutcomeReason(outcome, command) + u".",
                              vkr::dui::kMessageError);
}

HRESULT CCommandPP::Transaction(BYTE command, const std::vector<BYTE>& request, BYTE* deviceStatus, BYTE* responseCode,
                                std::vector<BYTE>* response, vkr::dui::SDeviceOutcome* outcome) {
  if (outcome) *outcome = vkr::dui::SDeviceOutcome{vkr::dui::EDeviceOutcome::NotTaken};
  vkr::ComPtr<IovFdtConnectionManagement> connections = QueryOf<IovFdtConnectionManagement>(m_spDtmObject.Get());
  if (!connections) return E_NOINTERFACE;
  vkr::ComPtr<IUnknown> connection;
  HRESULT hr = connections->GetConnection(0, connection.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtHartServiceInterface> hart = QueryOf<IovFdtHartServiceInterface>(connection.Get());
  if (!hart) return E_NOINTERFACE;
  vkr::Bstr requestHex, responseHex, error;
  if (FAILED(hr = vkr::dui::HexOfBytes(request, requestHex.Put()))) return hr;
  hr = hart->Transaction(command, requestHex.Get(), deviceStatus, responseCode, responseHex.Put(), error.Put());
  if (outcome) *outcome = vkr::dui::ServiceOutcome(hr, *responseCode, error.View(), command);
  if (FAILED(hr)) return hr;
  if (hr != S_OK || error.Length() > 0) return E_FAIL;
  return vkr::dui::BytesOfHex(responseHex.Get(), response);
}

HRESULT CCommandPP::EndDigitize() {
  SetDirty(FALSE);
  if (m_hWndDialog)
    for (UINT id : kDigitizeControls) ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), TRUE);
  ShowDigitizeButton();
  m_bDigitizing = false;
  OnRefresh();
  return S_OK;
}

HRESULT CCommandPP::OnRunDigitize() {
  // Its transactions pump messages: a second click meanwhile must not start it again.
  if (m_bDigitizing) return S_OK;
  vkr::ComPtr<IovFdtActiveXContainer> container = QueryOf<IovFdtActiveXContainer>(m_spDtmObject.Get());
  if (!container) return S_OK;
  // A distance outside its limits (those of the reading it proposes, in the PV unit beside it) is
  // not asked about: the user mends it first.
  const BYTE pvUnit = static_cast<BYTE>(DtmFloat(kPvUnitUser));
  float proposed = 0.0f;
  // No number, or one outside the limits: nothing is asked nor sent, and the user learns why.
  if (FAILED(EditFloat(kEditDigitizeDistance, &proposed)) ||
      DistanceWithinLimits(kCurrentReading, proposed, pvUnit) == false) {
    vkr::Variant minimum, maximum;
    GetParameterInfoText(kCurrentReading, minimum.Put(), maximum.Put());
    vkr::Variant low, high;
    VariantChangeType(&low, &minimum, 0, VT_R8);
    VariantChangeType(&high, &maximum, 0, VT_R8);
    const std::string unit = vkr::dui::LengthUnitLabel(pvUnit);
    char text[160];
    std::snprintf(text, sizeof text, "The digitize distance must lie between %.3f and %.3f %s.",
                  vkr::dui::ConvertLength(low.dblVal, vkr::dui::kLengthUnitMetres, pvUnit).value_or(low.dblVal),
                  vkr::dui::ConvertLength(high.dblVal, vkr::dui::kLengthUnitMetres, pvUnit).value_or(high.dblVal),
                  unit.c_str());
    std::u16string caption;
    LoadPageString(kStringDigitizeCaption, &caption);
    vkr::dui::ShowDeviceMessage(m_spDtmObject.Get(), caption, vkr::Utf8ToUtf16(text), vkr::dui::kMessageError);
    return S_OK;
  }
  if (Ask(kStringDigitizeCaption, kStringDigitizeQuestion, vkr::dui::kMessageOkCancelInfo) == vkr::dui::kAnswerCancel) {
    ShowDigitizeButton();
    return S_OK;
  }
  m_bDigitizing = true;
  if (m_hWndDialog)
    for (UINT id : kDigitizeControls) ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), FALSE);

  // Every ending below restores the controls: none leaves them disabled.
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  if (!base || FAILED(base->GetDTMState(&state)) || static_cast<ULONG>(state) != kDtmOnline) return EndDigitize();

  BYTE deviceStatus = 0, responseCode = 0;
  std::vector<BYTE> settings;
  // The present settings go back unchanged with the digitize command; an answer too short to
  // hold them all ends the routine as a missing one does, told as the routine's failure.
  vkr::dui::SDeviceOutcome outcome;
  HRESULT read = Transaction(135, {}, &deviceStatus, &responseCode, &settings, &outcome);
  if (FAILED(read) || settings.size() < 5) {
    if (outcome.Ok()) outcome.kind = vkr::dui::EDeviceOutcome::Lost;
    TellDigitizeFailed(outcome, 135);
    return EndDigitize();
  }
  float distance = 0.0f;
  if (FAILED(EditFloat(kEditDigitizeDistance, &distance))) return EndDigitize();

  vkr::dui::CByteWriter request;
  request.Bytes(std::span<const BYTE>(settings.data(), 5)).U8(3).Float(distance);
  deviceStatus = responseCode = 0;
  std::vector<BYTE> answer;
  const HRESULT hr = Transaction(136, request.Data(), &deviceStatus, &responseCode, &answer, &outcome);
  // The command's own response decides (a warning is a write the device took); the device status
  // carries "configuration changed" after every successful write.
  const bool taken = SUCCEEDED(hr) && (responseCode == 0 || vkr::hart::IsWarning(136, responseCode));
  if (taken) {
    // What the device took is the data set's too, so that a later download writes it again
    // rather than the distance it held before.
    VARIANT digitize = vkr::EmptyVariant();
    digitize.vt = VT_UI1;
    digitize.bVal = 3;
    SetDtmParameterValue(kDigitizeCommandValue, digitize);
    VARIANT digitized = vkr::EmptyVariant();
    digitized.vt = VT_R4;
    digitized.fltVal = distance;
    SetDtmParameterValue(kDigitizedDistance, digitized);
  }
  if (!taken) {
    if (outcome.Ok()) {
      outcome.kind = vkr::dui::EDeviceOutcome::Refused;
      outcome.responseCode = responseCode;
    }
    TellDigitizeFailed(outcome, 136);
  } else {
    const DWORD start = m_clock.now();
    for (DWORD elapsed = 0; elapsed < kDigitizePause; elapsed = m_clock.now() - start)
      m_clock.sleep(std::min<DWORD>(kDigitizePause - elapsed, 100));
    if (responseCode == 0) {
      Ask(kStringDigitizeCaption, kStringDigitizeDone, vkr::dui::kMessageInformation);
    } else {
      // Done, with the device's warning beside it.
      std::u16string caption, done;
      LoadPageString(kStringDigitizeCaption, &caption);
      LoadPageString(kStringDigitizeDone, &done);
      vkr::dui::ShowDeviceMessage(m_spDtmObject.Get(), caption,
                                  done + u"; the device warns: " + vkr::hart::DescribeResponseCode(136, responseCode) + u".",
                                  vkr::dui::kMessageInformation);
    }
    Ask(kStringDigitizeCaption, kStringLoopAutomatic, vkr::dui::kMessageInformation);
  }
  return EndDigitize();
}

// ===== Message map ===============================================================================

BOOL CCommandPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_SHOWWINDOW) {
    BOOL handled = TRUE;
    OnShowWindow(message, wParam, lParam, &handled);
    result = 0;
    return TRUE;
  }
  if (message == WM_CTLCOLOREDIT) {
    BOOL handled = FALSE;
    const LRESULT answer = OnCtlColorEdit(message, wParam, lParam, &handled);
    if (handled) {
      result = answer;
      return TRUE;
    }
  }
  if (message == WM_COMMAND) {
    const UINT code = HIWORD(wParam);
    const UINT id = LOWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    const bool combo = control && GetControlType(control) == 4;
    const bool level = !combo && (id == kEditHighLevel || id == kEditLowLevel);
    if (code == EN_CHANGE || (combo && (code == CBN_SELCHANGE || code == CBN_EDITCHANGE))) {
      // A level being typed is checked but not rewritten under the caret.
      const bool typing = m_bTypingLevel;
      m_bTypingLevel = level;
      OnControlChange(code, id, control);
      m_bTypingLevel = typing;
      result = 0;
      return TRUE;
    }
    if (code == EN_KILLFOCUS && !combo) {
      BOOL handled = TRUE;
      OnControlKillFocus(code, wParam, lParam, &handled);
      // Leaving a level the user changed: the range rules show their value now.
      const LONG index = FindParameterIndex(id == kEditHighLevel ? kUpperRange : kLowerRange);
      if (level && index >= 0 && (m_pParInfo[index].m_nState & kStateChanged)) {
        VARIANT_BOOL valid = VARIANT_FALSE;
        GetParameterText(m_pParInfo[index].m_nParamId, &valid);
      }
      result = 0;
      return TRUE;
    }
    if (id == kComboDisplayUnit && code == CBN_KILLFOCUS) {
      OnUnitChange();
      BOOL handled = TRUE;
      OnControlKillFocus(code, wParam, lParam, &handled);
      result = 0;
      return TRUE;
    }
    if (code == BN_CLICKED && id == kFrameRefresh) {
      ReleaseUserEntries();
      OnRefresh();
      result = 0;
      return TRUE;
    }
    if (code == BN_CLICKED && id == kFrameSend) {
      OnSend();
      result = 0;
      return TRUE;
    }
    if (code == BN_CLICKED && id == kButtonRunDigitize) {
      OnRunDigitize();
      result = 0;
      return TRUE;
    }
    // Before the base map: it takes every button's click as a change of its value and would
    // keep this one from the page.
    if (code == BN_CLICKED && id == kButtonDigitize) {
      OnDigitize();
      result = 0;
      return TRUE;
    }
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

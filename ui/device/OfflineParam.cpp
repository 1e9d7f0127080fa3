// The offline parameter control: its table, the command data it turns into offline values, the
// values of its controls, and the copy into the device parameters on OK and Apply.
#include "ui/device/OfflineParam.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "communication/HartResponseTexts.h"
#include "include/DtmMessages.h"
#include "include/ParameterHandlerInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/CommandPP.h"
#include "ui/device/DevicePP.h"
#include "ui/device/kit/Kit.h"
#include "ui/framework/DeviceAccessLog.h"

namespace vkr::dui {

namespace {

constexpr ULONG kNoControl = 0x80000000;
constexpr ULONG kSelectionList = 4;
constexpr ULONG kValueFlags = 113;
constexpr const char* kFloat3 = "%.3f";
constexpr const char* kSensitivityFormat = "%.1f";
constexpr std::size_t kLongTagShownFrom = 24;  // fewer bytes are no long tag
constexpr std::size_t kTagCharacters = 8;
constexpr std::size_t kDescriptorCharacters = 16;
constexpr std::size_t kMessageCharacters = 32;

// The entries by the labels the user knows them by here, with the device parameter the download
// writes each with and the record (a command's data) that carries it along with others: the
// words that name an entry refused, and a value written or not. A date's parts are written as
// one, the Date.
struct SEntryWords {
  LONG entry;
  LONG device;
  LONG record;
  const char16_t* label;
  const char16_t* written;  // the name in what the device holds; null: the label
};
constexpr SEntryWords kEntryWords[] = {
    {kParPvUnitOffline, kParPvUnit, 0, u"Display Unit", nullptr},
    {kParLowerRangeOffline, kParRangeValues, 0, u"Low Level", nullptr},
    {kParUpperRangeOffline, kParRangeValues, 0, u"Hi Level", nullptr},
    {kParDampingOffline, kParDamping, 0, u"Damping", nullptr},
    {kParDisplayModeOffline, kParDisplayMode, kParSpCmd1, u"Display Mode", nullptr},
    {kParTrackingOffline, kParTracking, kParSpCmd1, u"Tracking", nullptr},
    {kParDielectricOffline, kParDielectric, kParSpCmd1, u"Dielectric", nullptr},
    {kParFailSafeOffline, kParFailSafe, kParSpCmd1, u"Fail Mode", nullptr},
    {kParFailTimeOffline, kParFailTime, kParSpCmd1, u"Fail Time", nullptr},
    {kParSensitivityOffline, kParSensitivity, kParSpCmd2, u"Sensitivity", nullptr},
    {kParAnalogModeOffline, kParAnalogMode, kParSpCmd2, u"Analog Mode", nullptr},
    {kParBlankingOffline, kParBlanking, kParSpCmd2, u"Blanking", nullptr},
    {kParDistanceOffsetOffline, kParDistanceOffset, kParSpCmd2, u"Distance Offset", nullptr},
    {kParTagText, kParTagText, kParIdentification, u"Tag", nullptr},
    {kParLongTag2, kParLongTag2, 0, u"Long Tag", nullptr},
    {kParDescriptorText, kParDescriptorText, kParIdentification, u"Description", nullptr},
    {kParMessageText, kParMessageText, 0, u"Message", nullptr},
    {kParDay, kParDay, kParIdentification, u"Day", u"Date"},
    {kParMonth, kParMonth, kParIdentification, u"Month", u"Date"},
    {kParYear, kParYear, kParIdentification, u"Year", u"Date"},
};

// The labels of the entries whose values a device parameter (or record) carries, each once, in
// the order the control shows them; none for a parameter no entry of the control stands for.
std::vector<std::u16string> WrittenLabels(LONG id) {
  std::vector<std::u16string> labels;
  for (const SEntryWords& w : kEntryWords) {
    if (w.device != id && w.record != id) continue;
    const std::u16string label = w.written ? w.written : w.label;
    if (std::find(labels.begin(), labels.end(), label) == labels.end()) labels.push_back(label);
  }
  return labels;
}

// The labels in quotes, as a download notice names values ("Low Level", "Hi Level").
std::vector<std::u16string> QuotedLabels(LONG id) {
  std::vector<std::u16string> quoted = WrittenLabels(id);
  // Built by appending: g++ 12 at -O3 warns falsely on a literal + std::u16string.
  for (std::u16string& label : quoted) label = std::u16string(1, u'"').append(label).append(1, u'"');
  return quoted;
}

constexpr SComboCode kFailModes[] = {{"3.80 mA", 1}, {"> 20.20 mA", 2}, {"Last Known", 3},
                                     {"4.00 mA", 4}, {"20.00 mA", 5},   {"> 21.50 mA", 6}};

// The device parameters the control edits, in the order the apply writes them: the settings
// the offline values stand for, the range values (unit, Hi and Low Level) and the long tag.
constexpr LONG kDeviceTargets[] = {
    kParPvUnit,       kParDamping,        kParDisplayMode,    kParTracking, kParDielectric,
    kParFailSafe,     kParFailTime,       kParSensitivity,    kParAnalogMode, kParBlanking,
    kParDistanceOffset, kParRangeValues,  kParLongTag2,
};
// Device parameter -> the offline value in whose control it is shown.
constexpr std::pair<LONG, LONG> kShownAs[] = {
    {kParPvUnit, kParPvUnitOffline},         {kParDamping, kParDampingOffline},
    {kParDisplayMode, kParDisplayModeOffline}, {kParTracking, kParTrackingOffline},
    {kParDielectric, kParDielectricOffline}, {kParFailSafe, kParFailSafeOffline},
    {kParFailTime, kParFailTimeUser},        {kParSensitivity, kParSensitivityOffline},
    {kParAnalogMode, kParAnalogModeOffline},
};
constexpr std::size_t kRangeValueBytes = 9;
// The edits that show distances, their unit labels and the names the user knows them by.
struct SLengthField {
  UINT edit;
  UINT label;
  const char* name;
  LONG offline;  // the offline value the edit shows, whose limits are metres
};
constexpr SLengthField kLengthFields[] = {
    {kOfflineLowLevelEdit, kOfflineLowUnitLabel, "Low Level", kParLowerRangeOffline},
    {kOfflineHiLevelEdit, kOfflineHiUnitLabel, "Hi Level", kParUpperRangeOffline},
    {kOfflineBlankingEdit, kOfflineBlankingUnitLabel, "Blanking", kParBlankingOffline},
    {kOfflineOffsetEdit, kOfflineOffsetUnitLabel, "Distance Offset", kParDistanceOffsetOffline}};
bool IsRangeEdit(UINT edit) { return edit == kOfflineLowLevelEdit || edit == kOfflineHiLevelEdit; }
const SLengthField* LengthField(UINT edit) {
  const auto* field = std::find_if(std::begin(kLengthFields), std::end(kLengthFields),
                                   [edit](const SLengthField& f) { return f.edit == edit; });
  return field == std::end(kLengthFields) ? nullptr : field;
}
std::size_t TextCharacters(LONG id) {
  return id == kParTagText ? kTagCharacters : id == kParDescriptorText ? kDescriptorCharacters : kMessageCharacters;
}

std::u16string WideItemText(HWND dialog, UINT item) {
  char16_t buffer[260] = {};
  const int n = ::GetDlgItemTextW(dialog, static_cast<int>(item), buffer, 260);
  return std::u16string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::u16string NumberWord(ULONG n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

constexpr ULONG kFlagNotHeld = 0x200;
constexpr ULONG kStateHidden = 0x8;

SCompositeControlClass OfflineClass() {
  SCompositeControlClass cls;
  cls.dialogId = kOfflineDialogId;
  return cls;
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

VARIANT R4(float value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

void ShowNumber(HWND dialog, UINT item, const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  ::SetDlgItemTextA(dialog, static_cast<int>(item), text);
}

void ShowUnsigned(HWND dialog, UINT item, ULONG value) {
  char text[32];
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
  ::SetDlgItemTextA(dialog, static_cast<int>(item), text);
}

// The low byte of a numeric value; absent for a value that holds no number.
std::optional<BYTE> LowByte(const VARIANT& value) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_I4))) return std::nullopt;
  return static_cast<BYTE>(number.lVal & 0xFF);
}

// A distance of the command data in metres, the unit the offline copies are kept in (their limits
// are given in it); absent without a number, or in a unit that is no length unit.
std::optional<float> InMetres(std::optional<float> number, std::optional<BYTE> unit) {
  if (!number || !unit) return std::nullopt;
  const std::optional<double> metres = ConvertLength(*number, *unit, kLengthUnitMetres);
  if (!metres) return std::nullopt;
  return static_cast<float>(*metres);
}

std::optional<float> FloatOf(const VARIANT& value) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R4))) return std::nullopt;
  return number.fltVal;
}

// Whether two values the controls gave are the same: byte strings byte for byte.
bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == (VT_ARRAY | VT_UI1)) {
    std::vector<BYTE> x, y;
    return ResponseBytes(a, &x) == S_OK && ResponseBytes(b, &y) == S_OK && x == y;
  }
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), 0, 0) == VARCMP_EQ;
}

// Whether the device, having confirmed `wrote`, holds the data set's value `now`: the same value,
// or the same text but for the spaces its fixed-length field pads it with.
bool HoldsAsWritten(const VARIANT& now, const VARIANT& wrote) {
  if (SameValue(now, wrote)) return true;
  if (now.vt != VT_BSTR || wrote.vt != VT_BSTR) return false;
  auto trimmed = [](BSTR text) {
    std::u16string s(text ? std::u16string_view(text) : std::u16string_view());
    while (!s.empty() && s.back() == u' ') s.pop_back();
    return s;
  };
  return trimmed(now.bstrVal) == trimmed(wrote.bstrVal);
}

// The flag stays set for one call and goes back to what it was on every exit.
class CFlagScope {
 public:
  template <class T>
  explicit CFlagScope(T& flag) : m_restore([&flag, previous = flag] { flag = previous; }) {
    flag = static_cast<T>(1);
  }
  ~CFlagScope() { m_restore(); }
  CFlagScope(const CFlagScope&) = delete;
  CFlagScope& operator=(const CFlagScope&) = delete;

 private:
  std::function<void()> m_restore;
};

}  // namespace

std::span<const SComboCode> OfflineFailModeCodes() { return kFailModes; }

COfflineParam::COfflineParam()
    : CovFDT_IDtmActiveXControlImpl(CLSID_OfflineParam, &COfflineParam::GetParameterMap, OfflineClass()) {}

COfflineParam::~COfflineParam() {
  // The group boxes stop using the font before it goes.
  HWND dialog = DialogWindow();
  if (dialog && ::IsWindow(dialog))
    for (UINT group : {kOfflineSetupGroup, kOfflineAdvancedGroup, kOfflineStringsGroup, kOfflineValuesGroup})
      ::SendDlgItemMessageA(dialog, static_cast<int>(group), WM_SETFONT, 0, FALSE);
}

CActXParInfo* COfflineParam::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[44];
  static const bool filled = [] {
    int i = 0;
    auto add = [&](LONG id, const char* name, UINT control, const char* format, ULONG state, BOOL indicator,
                   ULONG kind) { entries[i++] = CActXParInfo(id, name, control, format, state, indicator, kind); };
    add(kParCurrentValue, "Current value", kOfflineCurrentEdit, kFloat3, kValueFlags, FALSE, kNoControl);
    add(kParPvValue, "PV value", kOfflinePvEdit, kFloat3, kValueFlags, FALSE, kNoControl);
    add(kParSvValue, "SV value", kOfflineSvEdit, kFloat3, kValueFlags, FALSE, kNoControl);
    add(kParTagText, "Tag", kOfflineTagEdit, "%s", 0, TRUE, 0);
    add(kParDescriptorText, "Descriptor", kOfflineDescriptorEdit, "%s", 0, TRUE, 0);
    add(kParMessageText, "Message", kOfflineMessageEdit, "%s", 0, TRUE, 0);
    add(kParDay, "Day", kOfflineDayEdit, "%u", 0, TRUE, 0);
    add(kParMonth, "Month", kOfflineMonthEdit, "%u", 0, TRUE, 0);
    add(kParYear, "Year", kOfflineYearEdit, "%u", 0, TRUE, 0);
    add(kParPvUnitOffline, "PV unit offline", kOfflineDisplayUnitCombo, "", 0, TRUE, kSelectionList);
    add(kParUpperRangeOffline, "Upper range offline", kOfflineHiLevelEdit, kFloat3, 0, TRUE, 0);
    add(kParLowerRangeOffline, "Lower range offline", kOfflineLowLevelEdit, kFloat3, 0, TRUE, 0);
    add(kParDampingOffline, "Damping value offline", kOfflineDampingEdit, kFloat3, 0, TRUE, 0);
    add(kParDisplayModeOffline, "Display Mode offline", kOfflineDisplayModeCombo, "", 0, TRUE, kSelectionList);
    add(kParTrackingOffline, "Tracking offline", kOfflineTrackingCombo, "", 0, TRUE, kSelectionList);
    add(kParDielectricOffline, "Dielectric offline", kOfflineDielectricCombo, "", 0, TRUE, kSelectionList);
    add(kParFailSafeOffline, "FailSafe offline", kOfflineFailModeCombo, "", 0, TRUE, kSelectionList);
    add(kParFailTimeOffline, "Fail Time offline", kOfflineFailTimeEdit, "%u", 0, TRUE, 0);
    add(kParSensitivityOffline, "Sensitivity offline", kOfflineSensitivityEdit, kSensitivityFormat, 0, TRUE, 0);
    add(kParAnalogModeOffline, "Analog Mode", kOfflineAnalogModeCombo, "", 0, TRUE, kSelectionList);
    add(kParBlankingOffline, "Blanking distance", kOfflineBlankingEdit, kFloat3, 0, TRUE, 0);
    add(kParDistanceOffsetOffline, "Distance offset", kOfflineOffsetEdit, kFloat3, 0, TRUE, 0);
    add(kParLongTag2, "Long Tag2", kOfflineLongTagEdit, "%s", 0, TRUE, 0);
    // The long tag is a value the data set keeps and the user edits here: the disabled mark its
    // definition carries (a byte string without limit texts) never hides the entry or its label.
    entries[i - 1].m_nExtraCtrlId = kOfflineLongTagLabel;
    entries[i - 1].m_nStateMask &= ~kStateHidden;
    add(kParRangeValues, "Range values", 0, "", 0, FALSE, kNoControl);
    add(kParRangeUnit, "Range unit", 0, "", 0, FALSE, kNoControl);
    add(kParPvUnit, "PV unit", 0, "", 0, FALSE, kNoControl);
    add(kParDamping, "Damping value", 0, kFloat3, 0, FALSE, kNoControl);
    add(kParCommand1Complete, "Command 1 complete", 0, "", 0, FALSE, kNoControl);
    add(kParCommand2Complete, "Command 2 complete", 0, "", 0, FALSE, kNoControl);
    add(kParCommand15Complete, "Command 15 complete", 0, "", 0, FALSE, kNoControl);
    add(kParButtonRefresh, "Button Refresh", 0, "", 0, FALSE, kNoControl);
    add(kParButtonSend, "Button Send", 0, "", 0, FALSE, kNoControl);
    add(kParSpCmd1, "SpCMD1", 0, "", 0, FALSE, kNoControl);
    add(kParDisplayMode, "eDispModeID", 0, "", 0, FALSE, kNoControl);
    add(kParTracking, "eTrackingModeID", 0, "", 0, FALSE, kNoControl);
    add(kParDielectric, "eDielectricID", 0, "", 0, FALSE, kNoControl);
    add(kParFailSafe, "eFailsafeID", 0, "", 0, FALSE, kNoControl);
    add(kParFailTime, "eFailtimeID", 0, "", 0, FALSE, kNoControl);
    add(kParSpCmd2, "SpCMD2", 0, "", 0, FALSE, 0);
    add(kParSensitivity, "eSensitivityID", 0, "", 0, FALSE, kNoControl);
    add(kParAnalogMode, "eAnalogID", 0, "", 0, FALSE, kNoControl);
    add(kParBlanking, "eBlankingID", 0, "", 0, FALSE, kNoControl);
    add(kParDistanceOffset, "eDistanceOffsetID", 0, "", 0, FALSE, kNoControl);
    // entries[43]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 43;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

void* COfflineParam::FindInterface(REFIID riid) {
  if (riid == IOfflineParam::iid) return static_cast<IOfflineParam*>(this);
  return CovFDT_IDtmActiveXControlImpl::FindInterface(riid);
}

HRESULT COfflineParam::GetTypeInfoCount(UINT* count) { return CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(count); }
HRESULT COfflineParam::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfo(index, lcid, info);
}
HRESULT COfflineParam::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT COfflineParam::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXControlImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

BOOL COfflineParam::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_INITDIALOG) {
    if (result) *result = TRUE;
    return TRUE;
  }
  // A unit the user chose converts every distance into it; the family's map then marks the change.
  if (message == WM_COMMAND && LOWORD(wParam) == kOfflineDisplayUnitCombo && HIWORD(wParam) == CBN_SELCHANGE &&
      !m_bUpdatingControls) {
    if (const std::optional<BYTE> code = SelectedCode(m_hWndDialog, kOfflineDisplayUnitCombo, LengthUnitItems()))
      SetDisplayUnit(*code, true);
  }
  // OK, Cancel and Apply reach OnOK, OnCancel and OnApply through the family's map.
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

// ---- Start -------------------------------------------------------------------------------------

HRESULT COfflineParam::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  if (!dtm) return E_POINTER;
  CFlagScope inInit(m_bInInit);
  // A start the family refused leaves nothing to fill: the frame lets the control go.
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::Init(instanceId, functionCall, dtm, result);
  if (FAILED(hr) || !*result) return FAILED(hr) ? hr : S_FALSE;

  {
    // The defaults are what the control shows, not the user's input, and only for a text the data
    // set does not hold: one it holds empty (emptied and downloaded, or uploaded) is the device's
    // blanks, shown as they are.
    CFlagScope updating(m_bUpdatingControls);
    const std::pair<LONG, const char*> kDefaults[] = {{kParTagText, kOfflineDefaultTag},
                                                      {kParDescriptorText, kOfflineDefaultDescriptor},
                                                      {kParMessageText, kOfflineDefaultMessage}};
    for (const auto& [id, text] : kDefaults) {
      vkr::Variant value;
      if (SUCCEEDED(GetDtmParameterValue(id, value.Put())) && value.vt == VT_BSTR && SysStringLen(value.bstrVal) == 0 &&
          !HoldsDeviceValue(id, value)) {
        const LONG index = FindParameterIndex(id);
        if (index >= 0) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(m_pParInfo[index].m_nCtrlId), text);
      }
    }
    vkr::Variant longTag;
    if (SUCCEEDED(GetDtmParameterValue(kParLongTag2, longTag.Put())) && longTag.vt == (VT_ARRAY | VT_UI1) &&
        longTag.parray) {
      LONG lower = 0, upper = 0;
      if (SUCCEEDED(SafeArrayGetLBound(longTag.parray, 1, &lower)) &&
          SUCCEEDED(SafeArrayGetUBound(longTag.parray, 1, &upper)) && lower == 0 && upper < 0)
        ::SetDlgItemTextA(m_hWndDialog, kOfflineLongTagEdit, kOfflineDefaultLongTag);
    } else if (longTag.vt == VT_EMPTY) {
      ::SetDlgItemTextA(m_hWndDialog, kOfflineLongTagEdit, kOfflineDefaultLongTag);
    }
  }
  // Opening stores nothing: what the controls show now is what the user starts from.
  KeepShownValues();
  ShowValuePlaceholders(m_nDtmState);
  m_bOpen = true;
  TellUnconverted();
  return S_OK;
}

void COfflineParam::KeepShownValues() {
  m_shown.clear();
  m_typedControls.clear();
  for (LONG id : kDeviceTargets) {
    vkr::Variant value;
    if (SUCCEEDED(GetControlValueById(id, value.Put()))) m_shown[id] = std::move(value);
  }
}

HRESULT COfflineParam::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  if (m_hWndDialog && m_groupFont.Create("Tahoma", 14, 600))
    m_groupFont.SetOn(m_hWndDialog, {kOfflineSetupGroup, kOfflineAdvancedGroup, kOfflineStringsGroup, kOfflineValuesGroup});
  m_wLastPvUnit = 0;
  m_wLastAnalogMode = 0;
  m_lengths.clear();
  m_unit = kLengthUnitMetres;
  m_rangeUnit = 0;
  m_pvValueUnit = m_svValueUnit = 0;
  if (m_hWndDialog) {
    FillCodeCombo(m_hWndDialog, kOfflineDisplayUnitCombo, LengthUnitItems());
    FillCodeCombo(m_hWndDialog, kOfflineDisplayModeCombo, DisplayModeCodes());
    FillCodeCombo(m_hWndDialog, kOfflineTrackingCombo, TrackingCodes());
    FillCodeCombo(m_hWndDialog, kOfflineDielectricCombo, DielectricCodes());
    FillCodeCombo(m_hWndDialog, kOfflineFailModeCombo, kFailModes);
    FillCodeCombo(m_hWndDialog, kOfflineAnalogModeCombo, AnalogModeCodes());
    // The text entries take whatever is typed, whole: a text longer than its device field is
    // refused with a word at OK and Apply, never cut unseen.
  }
  EnableApplyButton(TRUE);
  return CovFDT_IDtmActiveXControlImpl::InitializeUI(dtm, ok);
}

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT COfflineParam::WriteParameter(LONG id, const VARIANT& value) {
  if (!m_spDtm) return E_FAIL;
  return m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value);
}

void COfflineParam::ShowFailTime(BYTE seconds) { ShowUnsigned(m_hWndDialog, kOfflineFailTimeEdit, seconds); }

bool COfflineParam::HoldsDeviceValue(LONG id, const VARIANT& value) {
  ULONG flags = 0;
  if (value.vt == VT_EMPTY || FAILED(GetParameterInfoValue(id, &flags)) || (flags & kFlagNotHeld)) return false;
  if (id != kParRangeValues) return true;
  std::vector<BYTE> bytes;
  return ResponseBytes(value, &bytes) == S_OK && bytes.size() >= kRangeValueBytes;
}

bool COfflineParam::ShowDeviceValue(LONG id, const VARIANT& value) {
  // The device parameters the control writes are shown as the data set holds them (an upload
  // brought them, or an earlier edit), in the controls of the offline values they stand for; a
  // value the data set does not hold leaves the offline value shown.
  const auto shownAs = std::find_if(std::begin(kShownAs), std::end(kShownAs),
                                    [id](const std::pair<LONG, LONG>& p) { return p.first == id; });
  const bool distance = id == kParBlanking || id == kParDistanceOffset;
  if (shownAs == std::end(kShownAs) && id != kParRangeValues && !distance) return false;
  if (!HoldsDeviceValue(id, value)) return true;
  if (shownAs != std::end(kShownAs)) {
    SetControlValueById(shownAs->second, value);
    return true;
  }
  if (distance) {
    // The data set holds blanking and offset in its PV unit, as the device takes them.
    if (const auto number = FloatOf(value))
      ShowLength(id == kParBlanking ? kOfflineBlankingEdit : kOfflineOffsetEdit, *number, DataSetPvUnit());
    return true;
  }
  // The range values in the unit they carry, which need not be the PV unit.
  std::vector<BYTE> bytes;
  if (ResponseBytes(value, &bytes) != S_OK) return true;
  const CByteReader reader(bytes);
  const auto unit = reader.U8(0);
  const auto upper = reader.Float(1);
  const auto lower = reader.Float(5);
  if (!unit || !upper || !lower) return true;
  m_rangeUnit = *unit;
  ShowLength(kOfflineHiLevelEdit, *upper, *unit);
  ShowLength(kOfflineLowLevelEdit, *lower, *unit);
  return true;
}

bool COfflineParam::HoldsDeviceParameter(LONG id) {
  vkr::Variant value;
  return SUCCEEDED(GetDtmParameterValue(id, value.Put())) && HoldsDeviceValue(id, value);
}

// ---- Distances ---------------------------------------------------------------------------------

BYTE COfflineParam::WantedUnit(UINT edit) const {
  return IsRangeEdit(edit) && m_rangeUnit ? m_rangeUnit : m_unit;
}

void COfflineParam::ShowLength(UINT edit, double value, BYTE unit) {
  const BYTE wanted = WantedUnit(edit);
  if (const auto converted = ConvertLength(value, unit, wanted)) {
    value = *converted;
    unit = wanted;
  }
  // In the user's number format, as the entries are read back.
  SetDlgItemNumber(static_cast<LONG>(edit), kFloat3, value);
  m_lengths[edit] = SShownLength{value, unit, DialogItemText(m_hWndDialog, edit)};
  if (const SLengthField* field = LengthField(edit))
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(field->label), LengthUnitLabel(unit).c_str());
  // A number in a unit that converts into no other is shown, never edited under another unit.
  ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(edit), EM_SETREADONLY, IsLengthUnit(unit) ? FALSE : TRUE, 0);
}

HRESULT COfflineParam::ReadLength(UINT edit, BYTE unit, double* number) {
  const auto shown = m_lengths.find(edit);
  const BYTE from = shown != m_lengths.end() ? shown->second.unit : WantedUnit(edit);
  double value = 0.0;
  if (shown != m_lengths.end() && DialogItemText(m_hWndDialog, edit) == shown->second.text) {
    value = shown->second.value;
  } else {
    float typed = 0.0f;
    const HRESULT hr = GetDlgItemFloat(static_cast<LONG>(edit), kFloat3, &typed);
    if (FAILED(hr)) return hr;
    value = typed;
  }
  if (from != unit) {
    const auto converted = ConvertLength(value, from, unit);
    if (!converted) return E_FAIL;
    value = *converted;
  }
  *number = value;
  return S_OK;
}

HRESULT COfflineParam::ReadLength(UINT edit, BYTE unit, VARIANT* value) {
  double number = 0.0;
  const HRESULT hr = ReadLength(edit, unit, &number);
  if (FAILED(hr)) return hr;
  VariantClear(value);
  *value = R4(static_cast<float>(number));
  return S_OK;
}

void COfflineParam::SetDisplayUnit(BYTE code, bool chosen) {
  CFlagScope updating(m_bUpdatingControls);
  if (!SelectCode(m_hWndDialog, kOfflineDisplayUnitCombo, LengthUnitItems(), code))
    ::SendDlgItemMessageA(m_hWndDialog, kOfflineDisplayUnitCombo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  const bool changed = code != m_unit;
  m_unit = code;
  // A unit the user chose takes the range along, as the transmitter's own unit change does; a
  // range in a unit that converts into none stays in it.
  if (chosen && (m_rangeUnit == 0 || IsLengthUnit(m_rangeUnit))) m_rangeUnit = 0;
  for (const SLengthField& field : kLengthFields) {
    const auto shown = m_lengths.find(field.edit);
    if (shown == m_lengths.end()) {
      ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(field.label), LengthUnitLabel(WantedUnit(field.edit)).c_str());
      continue;
    }
    const BYTE from = shown->second.unit;
    double number = 0.0;
    // A typed text that is no number stays for the user to mend.
    if (changed && SUCCEEDED(ReadLength(field.edit, from, &number))) ShowLength(field.edit, number, from);
  }
  ShowValueUnits();
  if (chosen) TellUnconverted();
}

void COfflineParam::TellUnconverted() {
  std::string fields;
  for (const SLengthField& field : kLengthFields) {
    const auto shown = m_lengths.find(field.edit);
    if (shown == m_lengths.end() || IsLengthUnit(shown->second.unit)) continue;
    if (!fields.empty()) fields += ", ";
    fields += std::string(field.name) + " (" + LengthUnitLabel(shown->second.unit) + ")";
  }
  if (fields.empty()) return;
  const std::string text = "These values are in a unit that converts into no length unit and are left as they are: " +
                           fields + ".";
  TellUser(u"Display Unit", vkr::Utf8ToUtf16(text));
}

BYTE COfflineParam::DataSetPvUnit() {
  vkr::Variant unit;
  if (SUCCEEDED(GetDtmParameterValue(kParPvUnit, unit.Put())) && HoldsDeviceValue(kParPvUnit, unit))
    if (const auto code = LowByte(unit)) return *code;
  return m_unit;
}

void COfflineParam::ShowValueUnits() {
  auto unitOf = [this](UINT edit, BYTE unit) {
    const bool value = !DialogItemText(m_hWndDialog, edit).empty() && !ShowsPlaceholder(m_hWndDialog, edit);
    return value ? LengthUnitLabel(unit ? unit : m_unit) : std::string();
  };
  ::SetDlgItemTextA(m_hWndDialog, kOfflinePvUnitLabel, unitOf(kOfflinePvEdit, m_pvValueUnit).c_str());
  ::SetDlgItemTextA(m_hWndDialog, kOfflineSvUnitLabel, unitOf(kOfflineSvEdit, m_svValueUnit).c_str());
}

void COfflineParam::ShowValuePlaceholders(ULONG state) {
  if (!m_hWndDialog) return;
  CFlagScope updating(m_bUpdatingControls);
  const bool connected = state == kDtmStateOnline || state == kDtmStateGoingOnline;
  for (UINT edit : {kOfflineCurrentEdit, kOfflinePvEdit, kOfflineSvEdit}) {
    if (!DialogItemText(m_hWndDialog, edit).empty() && !ShowsPlaceholder(m_hWndDialog, edit)) continue;
    if (connected) {
      ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kNotReadText);
    } else {
      SetLoadingText(m_hWndDialog, {edit});
      MatchPlaceholders(m_hWndDialog, false, {edit});
    }
  }
  ShowValueUnits();
}

HRESULT COfflineParam::OnDtmStateChanged(ULONG state) {
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::OnDtmStateChanged(state);
  ShowValuePlaceholders(state);
  return hr;
}

HRESULT COfflineParam::SetControlValueById(LONG id, VARIANT value) {
  CFlagScope updating(m_bUpdatingControls);
  if (ShowDeviceValue(id, value)) return S_OK;
  switch (id) {
    case kParCommand1Complete:
    case kParCommand2Complete:
    case kParCommand15Complete:
    case kParSpCmd1:
    case kParSpCmd2:
    case kParLongTag2: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (FAILED(hr)) return hr;
      if (hr != S_OK) return S_OK;  // not a byte array: ignored
      const CByteReader reader(bytes);
      if (id == kParCommand1Complete) {
        // Only a length unit becomes the offline unit: the data set's placeholder for command 1
        // (one byte, no answer of the device) or another unit would leave the control without a
        // unit, and every later apply without range values.
        const auto unit = reader.U8(0);
        if (unit && IsLengthUnit(*unit) && *unit != m_wLastPvUnit) {
          m_wLastPvUnit = *unit;
          WriteParameter(kParPvUnitOffline, UI1(*unit));
        }
        if (const auto pv = reader.Float(1); pv && unit) {
          ShowNumber(m_hWndDialog, kOfflinePvEdit, kFloat3, *pv);
          m_pvValueUnit = *unit;
          ShowValueUnits();
        }
      } else if (id == kParCommand15Complete) {
        const auto unit = reader.U8(2);
        if (unit) WriteParameter(kParRangeUnit, UI1(*unit));
        if (const auto upper = InMetres(reader.Float(3), unit)) WriteParameter(kParUpperRangeOffline, R4(*upper));
        if (const auto lower = InMetres(reader.Float(7), unit)) WriteParameter(kParLowerRangeOffline, R4(*lower));
        if (const auto damping = reader.Float(11)) WriteParameter(kParDampingOffline, R4(*damping));
      } else if (id == kParSpCmd1) {
        constexpr LONG kTargets[] = {kParDisplayModeOffline, kParTrackingOffline, kParDielectricOffline,
                                     kParFailSafeOffline};
        for (std::size_t i = 0; i < std::size(kTargets); ++i)
          if (const auto code = reader.U8(i)) WriteParameter(kTargets[i], UI1(*code));
        if (const auto seconds = reader.U8(4)) {
          WriteParameter(kParFailTimeUser, UI1(*seconds));
          // The control's table does not hold the fail time's parameter, so its change would
          // never reach the edit: it is shown here.
          ShowFailTime(*seconds);
        }
      } else if (id == kParSpCmd2) {
        if (const auto code = reader.U8(0)) WriteParameter(kParSensitivityOffline, UI1(*code));
        if (const auto mode = reader.U8(1); mode && *mode != m_wLastAnalogMode) {
          m_wLastAnalogMode = *mode;
          WriteParameter(kParAnalogModeOffline, UI1(*mode));
        }
        // Blanking and offset come in the PV unit the device read them in (its command 1 data).
        const BYTE unit = IsLengthUnit(static_cast<BYTE>(m_wLastPvUnit)) ? static_cast<BYTE>(m_wLastPvUnit) : DataSetPvUnit();
        if (const auto blanking = InMetres(reader.Float(2), unit)) WriteParameter(kParBlankingOffline, R4(*blanking));
        if (const auto offset = InMetres(reader.Float(6), unit)) WriteParameter(kParDistanceOffsetOffline, R4(*offset));
      } else if (id == kParLongTag2 && bytes.size() >= kLongTagShownFrom) {
        // Latin-1 bytes, each the character of its code, as the Device page shows them.
        if (const auto text = DecodeLongTag(std::vector<std::uint8_t>(bytes.begin(), bytes.end())))
          ::SetDlgItemTextW(m_hWndDialog, kOfflineLongTagEdit, text->c_str());
      }
      return S_OK;
    }
    case kParPvUnitOffline: {
      if (const auto code = LowByte(value)) SetDisplayUnit(*code, false);
      return S_OK;
    }
    case kParUpperRangeOffline:
    case kParLowerRangeOffline:
    case kParBlankingOffline:
    case kParDistanceOffsetOffline: {
      // The offline copies, in metres, stand in for device values the data set does not hold.
      const bool range = id == kParUpperRangeOffline || id == kParLowerRangeOffline;
      const LONG device = range ? kParRangeValues : id == kParBlankingOffline ? kParBlanking : kParDistanceOffset;
      if (HoldsDeviceParameter(device)) return S_OK;
      const UINT edit = id == kParUpperRangeOffline   ? kOfflineHiLevelEdit
                        : id == kParLowerRangeOffline ? kOfflineLowLevelEdit
                        : id == kParBlankingOffline   ? kOfflineBlankingEdit
                                                      : kOfflineOffsetEdit;
      if (const auto number = FloatOf(value)) ShowLength(edit, *number, kLengthUnitMetres);
      return S_OK;
    }
    case kParCurrentValue:
      // The table binds no control to the values (they are no entries): they are shown here.
      // Only a value the DTM read while the control is open: the data set's, shown at the start,
      // may be its initial one, which no device gave.
      if (const auto number = FloatOf(value); number && m_bOpen)
        ShowNumber(m_hWndDialog, kOfflineCurrentEdit, kFloat3, *number);
      ShowValueUnits();
      return S_OK;
    case kParPvValue:
    case kParSvValue: {
      const HRESULT hr = CovFDT_IDtmActiveXControlImpl::SetControlValueById(id, value);
      if (const auto number = FloatOf(value); number && m_bOpen)
        ShowNumber(m_hWndDialog, id == kParPvValue ? kOfflinePvEdit : kOfflineSvEdit, kFloat3, *number);
      // The units the device read PV and SV in (command 3: the PV unit at 4, the SV unit at 9).
      vkr::Variant answer;
      std::vector<BYTE> bytes;
      if (SUCCEEDED(GetDtmParameterValue(kParCommand3Complete, answer.Put())) && ResponseBytes(answer, &bytes) == S_OK) {
        const CByteReader reader(bytes);
        const std::size_t at = id == kParPvValue ? 4 : 9;
        if (const auto unit = reader.U8(at); unit && reader.Float(at + 1))
          (id == kParPvValue ? m_pvValueUnit : m_svValueUnit) = *unit;
      }
      ShowValueUnits();
      return hr;
    }
    case kParDisplayModeOffline:
    case kParTrackingOffline:
    case kParDielectricOffline:
    case kParFailSafeOffline:
    case kParAnalogModeOffline: {
      const UINT combo = id == kParDisplayModeOffline ? kOfflineDisplayModeCombo
                         : id == kParTrackingOffline  ? kOfflineTrackingCombo
                         : id == kParDielectricOffline ? kOfflineDielectricCombo
                         : id == kParFailSafeOffline  ? kOfflineFailModeCombo
                                                      : kOfflineAnalogModeCombo;
      const std::span<const SComboCode> table = id == kParDisplayModeOffline ? DisplayModeCodes()
                                                : id == kParTrackingOffline  ? TrackingCodes()
                                                : id == kParDielectricOffline ? DielectricCodes()
                                                : id == kParFailSafeOffline  ? OfflineFailModeCodes()
                                                                             : AnalogModeCodes();
      const auto code = LowByte(value);
      // A code outside the table selects nothing: no setting is shown that the data set lacks.
      if (!code || !SelectCode(m_hWndDialog, combo, table, *code))
        ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(combo), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      return S_OK;
    }
    case kParFailTimeUser: {
      if (const auto seconds = LowByte(value)) ShowFailTime(*seconds);
      return S_OK;
    }
    case kParSensitivityOffline: {
      if (const auto code = LowByte(value))
        ShowNumber(m_hWndDialog, kOfflineSensitivityEdit, kSensitivityFormat, static_cast<float>(*code * 0.4f));
      return S_OK;
    }
    case kParYear: {
      if (const auto year = LowByte(value)) ShowUnsigned(m_hWndDialog, kOfflineYearEdit, kDateYearFirst + *year);
      return S_OK;
    }
    case kParRangeUnit:
      return S_OK;
    default:
      return CovFDT_IDtmActiveXControlImpl::SetControlValueById(id, value);
  }
}

// ---- Values of the controls --------------------------------------------------------------------

std::u16string COfflineParam::ItemTextW(UINT edit) const { return WideItemText(m_hWndDialog, edit); }

HRESULT COfflineParam::ReadFloat(UINT edit, const char* format, VARIANT* value) {
  float number = 0.0f;
  // A text that is no number is no value: the entry shows it invalid and nothing is stored.
  const HRESULT hr = GetDlgItemFloat(static_cast<LONG>(edit), format, &number);
  if (FAILED(hr)) return hr;
  VariantClear(value);
  *value = R4(number);
  return S_OK;
}

HRESULT COfflineParam::ReadCombo(UINT combo, std::span<const SComboCode> table, VARIANT* value) {
  const std::optional<BYTE> code = CodeOfComboText(m_hWndDialog, combo, table);
  if (!code) return E_FAIL;
  VariantClear(value);
  *value = UI1(*code);
  return S_OK;
}

HRESULT COfflineParam::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  switch (id) {
    // The offline distances in metres, the device's in the units it takes them in.
    case kParUpperRangeOffline:
      return ReadLength(kOfflineHiLevelEdit, kLengthUnitMetres, value);
    case kParLowerRangeOffline:
      return ReadLength(kOfflineLowLevelEdit, kLengthUnitMetres, value);
    case kParDamping:
    case kParDampingOffline:
      return ReadFloat(kOfflineDampingEdit, kFloat3, value);
    case kParPvUnit:
    case kParPvUnitOffline:
      return ReadCombo(kOfflineDisplayUnitCombo, LengthUnitItems(), value);
    case kParRangeValues: {
      // The data of command 35 (Write Range Values): the unit, and upper and lower in it.
      const BYTE unit = WantedUnit(kOfflineHiLevelEdit);
      double upper = 0.0, lower = 0.0;
      HRESULT hr = ReadLength(kOfflineHiLevelEdit, unit, &upper);
      if (FAILED(hr)) return hr;
      if (FAILED(hr = ReadLength(kOfflineLowLevelEdit, unit, &lower))) return hr;
      CByteWriter record;
      record.U8(unit).Float(static_cast<float>(upper)).Float(static_cast<float>(lower));
      return MakeByteArray(record.Data(), value);
    }
    case kParDisplayMode:
    case kParDisplayModeOffline:
      return ReadCombo(kOfflineDisplayModeCombo, DisplayModeCodes(), value);
    case kParTracking:
    case kParTrackingOffline:
      return ReadCombo(kOfflineTrackingCombo, TrackingCodes(), value);
    case kParDielectric:
    case kParDielectricOffline:
      return ReadCombo(kOfflineDielectricCombo, DielectricCodes(), value);
    case kParFailSafe:
    case kParFailSafeOffline:
      return ReadCombo(kOfflineFailModeCombo, kFailModes, value);
    case kParAnalogMode:
    case kParAnalogModeOffline:
      return ReadCombo(kOfflineAnalogModeCombo, AnalogModeCodes(), value);
    case kParFailTime:
    case kParFailTimeUser: {
      // Seconds the device byte holds; anything else is no value, never its low byte.
      const std::optional<ULONG> seconds = ParseUnsigned(DialogItemText(m_hWndDialog, kOfflineFailTimeEdit), 0xFF);
      if (!seconds) return E_FAIL;
      VariantClear(value);
      *value = UI1(static_cast<BYTE>(*seconds));
      return S_OK;
    }
    case kParSensitivity:
    case kParSensitivityOffline: {
      float percent = 0.0f;
      const HRESULT parsed = GetDlgItemFloat(kOfflineSensitivityEdit, kSensitivityFormat, &percent);
      const std::optional<BYTE> code = SensitivityCodeOfText(parsed, percent);
      if (!code) return E_FAIL;
      VariantClear(value);
      *value = UI1(*code);
      return S_OK;
    }
    case kParBlanking:
      return ReadLength(kOfflineBlankingEdit, m_unit, value);
    case kParBlankingOffline:
      return ReadLength(kOfflineBlankingEdit, kLengthUnitMetres, value);
    case kParDistanceOffset:
      return ReadLength(kOfflineOffsetEdit, m_unit, value);
    case kParDistanceOffsetOffline:
      return ReadLength(kOfflineOffsetEdit, kLengthUnitMetres, value);
    case kParLongTag2: {
      // Only what the device's Latin-1 field holds, never the text's UTF-8 bytes nor a part of it.
      const auto bytes = EncodeLongTag(ItemTextW(kOfflineLongTagEdit));
      if (!bytes) return E_INVALIDARG;
      return MakeByteArray(std::vector<BYTE>(bytes->begin(), bytes->end()), value);
    }
    case kParTagText:
    case kParDescriptorText:
    case kParMessageText: {
      // Packed ASCII, as the device will hold it (a-z as A-Z); anything else is no value.
      const std::u16string text = ItemTextW(id == kParTagText ? kOfflineTagEdit
                                            : id == kParDescriptorText ? kOfflineDescriptorEdit
                                                                       : kOfflineMessageEdit);
      if (!FitsPackedAsciiText(text, TextCharacters(id))) return E_INVALIDARG;
      vkr::Bstr upper(PackedAsciiUpper(text));
      VariantClear(value);
      value->vt = VT_BSTR;
      value->bstrVal = upper.Detach();
      return S_OK;
    }
    case kParDay:
    case kParMonth:
    case kParYear: {
      // The whole text a number within the date's limits: never what is left of it, never clamped.
      // A day beyond its month's last is no date; the data set's own date, untouched, stays as it
      // is, whatever it is (the tag or descriptor written with it is not held back for it).
      const UINT edit = id == kParDay ? kOfflineDayEdit : id == kParMonth ? kOfflineMonthEdit : kOfflineYearEdit;
      const ULONG first = id == kParYear ? kDateYearFirst : 1;
      const ULONG last = id == kParDay ? (DateIsDataSets() ? 31 : LastDay()) : id == kParMonth ? 12 : kDateYearLast;
      const std::optional<ULONG> number = ParseUnsigned(DialogItemText(m_hWndDialog, edit), last);
      if (!number || *number < first) return E_INVALIDARG;
      VariantClear(value);
      *value = UI1(static_cast<BYTE>(id == kParYear ? *number - kDateYearFirst : *number));
      return S_OK;
    }
    default:
      return CovFDT_IDtmActiveXControlImpl::GetControlValueById(id, value);
  }
}

ULONG COfflineParam::LastDay() const {
  return LastDayOfEntries(ItemTextW(kOfflineMonthEdit), ItemTextW(kOfflineYearEdit));
}

bool COfflineParam::DateIsDataSets() {
  // The data set keeps the year as its offset from the first year the byte holds.
  const struct {
    LONG id;
    UINT edit;
    ULONG offset;
  } parts[] = {{kParDay, kOfflineDayEdit, 0},
               {kParMonth, kOfflineMonthEdit, 0},
               {kParYear, kOfflineYearEdit, kDateYearFirst}};
  for (const auto& part : parts) {
    vkr::Variant held;
    LONG number = 0;
    if (FAILED(GetDtmParameterValue(part.id, held.Put())) || !ReadNumber(held, &number)) return false;
    const std::optional<ULONG> shown = ParseUnsigned(DialogItemText(m_hWndDialog, part.edit), kDateYearLast);
    if (!shown || *shown != static_cast<ULONG>(number) + part.offset) return false;
  }
  return true;
}

HRESULT COfflineParam::OnControlChange(UINT code, UINT controlId, HWND control) {
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::OnControlChange(code, controlId, control);
  if (!m_bUpdatingControls && !m_bBusy && !m_bInInit && m_bOpen) m_typedControls.insert(controlId);
  // The month and the year decide which days there are: the day is judged again beside them.
  if (!m_bUpdatingControls && !m_bBusy && (controlId == kOfflineMonthEdit || controlId == kOfflineYearEdit)) {
    VARIANT_BOOL valid = VARIANT_FALSE;
    GetParameterText(kParDay, &valid);
  }
  return hr;
}

// ---- A download that did not go through --------------------------------------------------------

namespace {

// The command that writes a parameter of the download (its response codes' meanings).
BYTE DownloadCommandOf(LONG id) {
  switch (id) {
    case kParRangeValues: return 35;
    case kParDamping: return 34;
    case kParPvUnit: return 44;
    case kParSpCmd1:
    case kParDisplayMode:
    case kParTracking:
    case kParDielectric:
    case kParFailSafe:
    case kParFailTime: return 136;
    case kParSpCmd2:
    case kParSensitivity:
    case kParAnalogMode:
    case kParBlanking:
    case kParDistanceOffset: return 138;
    default: return 0;
  }
}

// IovFdtParameterInfo fields: the data set's value and the device's.
constexpr LONG kFieldPersist = 0x200;

}  // namespace

std::u16string COfflineParam::DownloadWords(const std::u16string& text) {
  // Each value the DTM's texts name in quotes by its data-set name ("Sensititvity", "Command18")
  // by the labels of the entries it carries; a name the control has no entry for stays.
  std::u16string words = text;
  std::vector<LONG> named;
  for (const SEntryWords& w : kEntryWords)
    for (LONG id : {w.device, w.record})
      if (id != 0 && std::find(named.begin(), named.end(), id) == named.end()) named.push_back(id);
  for (LONG id : named) {
    vkr::Bstr name;
    if (!m_spDtm ||
        FAILED(m_spDtm->GetParameterInfo(vkr::UI4(static_cast<ULONG>(id)), nullptr, name.Put(), nullptr, nullptr,
                                         nullptr, nullptr, nullptr)) ||
        name.Empty())
      continue;
    const std::u16string dtm = std::u16string(1, u'"').append(name.View()).append(1, u'"');
    const std::vector<std::u16string> labels = QuotedLabels(id);
    // A warning answers the command that wrote the whole record the setting is in: it is told of
    // the record's settings the user changed, else of them all.
    const std::vector<std::u16string> warnedLabels = RecordLabelsChanged(id);
    for (std::size_t at = words.find(dtm); at != std::u16string::npos;) {
      constexpr std::u16string_view kWarned = u" was written; the device warns: ";
      const bool warned = !warnedLabels.empty() && words.compare(at + dtm.size(), kWarned.size(), kWarned) == 0;
      const std::vector<std::u16string>& named = warned ? warnedLabels : labels;
      const std::u16string shown = JoinNames(named);
      if (shown != dtm) {
        words.replace(at, dtm.size(), shown);
        // Several values named where the DTM named one: the sentence goes on in the plural.
        constexpr std::u16string_view kWas = u" was ";
        if (named.size() > 1 && words.compare(at + shown.size(), kWas.size(), kWas) == 0)
          words.replace(at + shown.size(), kWas.size(), u" were ");
      }
      at = words.find(dtm, at + shown.size());
    }
  }
  // Each warning once, with every write it answered.
  return vkr::hart::GroupWarnedWrites(words);
}

std::vector<std::u16string> COfflineParam::RecordLabelsChanged(LONG device) const {
  const auto entry = std::find_if(std::begin(kEntryWords), std::end(kEntryWords),
                                  [device](const SEntryWords& w) { return w.device == device && w.record != 0; });
  if (entry == std::end(kEntryWords) || entry->record == kParIdentification) return {};
  std::vector<std::u16string> changed;
  for (const SEntryWords& w : kEntryWords)
    if (w.record == entry->record &&
        std::find(m_userChanged.begin(), m_userChanged.end(), w.device) != m_userChanged.end())
      changed.push_back(std::u16string(1, u'"').append(w.written ? w.written : w.label).append(1, u'"'));
  return changed.empty() ? QuotedLabels(entry->record) : changed;
}

HRESULT COfflineParam::ExecuteCommand(VARIANT command, VARIANT argument) {
  // While the download runs, every device value that arrives is one the device confirmed writing.
  vkr::Variant event, value;
  LONG id = -1;
  if (IsDownloading() && SUCCEEDED(VariantChangeType(&event, &command, 0, VT_UI4)) &&
      event.ulVal == kBroadcastDeviceValue && SUCCEEDED(UnpackParameterEvent(argument, &id, &value))) {
    if (std::find(m_downloadWritten.begin(), m_downloadWritten.end(), id) == m_downloadWritten.end())
      m_downloadWritten.push_back(id);
    m_deviceWrote[id] = std::move(value);
  }
  return CovFDT_IDtmActiveXControlImpl::ExecuteCommand(command, argument);
}

void COfflineParam::TellDownloadFailure(EDownload, const std::u16string& failure, const std::vector<LONG>& changed) {
  // Named are the data set's own values, not the views of the same bytes (a command's record, a
  // tag alone) that the device's answer filled or its failure named as well.
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (m_spDtm) m_spDtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
  auto persisted = [&info](LONG id) {
    vkr::Variant persist, flag;
    return info &&
           SUCCEEDED(info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(kFieldPersist), persist.Put())) &&
           SUCCEEDED(VariantChangeType(&flag, &persist, 0, VT_BOOL)) && flag.boolVal != VARIANT_FALSE;
  };
  std::u16string failed = failure;
  const std::vector<vkr::ui::SDeviceAccessFailure> told = vkr::ui::DeviceAccessFailuresSince(DownloadFailureMark());
  bool named = false, namedOwn = false;
  std::vector<std::u16string> failedNames;
  SDeviceOutcome failedOutcome;
  BYTE failedCommand = 0;
  for (const vkr::ui::SDeviceAccessFailure& f : told) {
    // A command that writes a record of settings writes none of them when it fails: each is named.
    const BYTE command = DownloadCommandOf(f.parameterId);
    std::vector<std::u16string> names = QuotedLabels(f.parameterId);
    if (command == 136 || command == 138) {
      names.clear();
      for (const SEntryWords& w : kEntryWords)
        if (DownloadCommandOf(w.device) == command)
          for (const std::u16string& name : QuotedLabels(w.device))
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    const bool own = persisted(f.parameterId);
    if (names.empty() || namedOwn || (named && !own)) continue;
    failedNames = names;
    failedOutcome = ClassifyFailureText(f.text);
    failedCommand = command;
    named = true;
    namedOwn = own;
  }
  // What the device now holds of the data set: each setting the download wrote before it stopped,
  // the user's changes or not; and which of the user's changes it does not hold.
  auto add = [](std::vector<std::u16string>* names, const std::vector<std::u16string>& labels) {
    for (const std::u16string& name : labels)
      if (std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
  };
  std::vector<std::u16string> written, notHeld;
  for (LONG id : m_downloadWritten)
    if (persisted(id)) add(&written, QuotedLabels(id));
  // A change an earlier download wrote is held too, while the data set still holds what it wrote.
  for (const auto& [id, wrote] : m_deviceWrote) {
    vkr::Variant now;
    if (persisted(id) && SUCCEEDED(GetDtmParameterValue(id, now.Put())) && HoldsAsWritten(now, wrote))
      add(&written, QuotedLabels(id));
  }
  // A change is its entry's; a device value marked changed stands for each of its entries only
  // when none of them is marked (the range for Low and Hi Level).
  auto marked = [&changed](LONG id) { return std::find(changed.begin(), changed.end(), id) != changed.end(); };
  for (const SEntryWords& w : kEntryWords) {
    const bool sharedMarked = std::any_of(std::begin(kEntryWords), std::end(kEntryWords), [&](const SEntryWords& o) {
      return o.device == w.device && marked(o.entry);
    });
    if (!marked(w.entry) && !(marked(w.device) && !sharedMarked)) continue;
    const std::u16string name = std::u16string(1, u'"').append(w.written ? w.written : w.label).append(1, u'"');
    if (std::find(written.begin(), written.end(), name) == written.end()) add(&notHeld, {name});
  }
  // What an earlier download wrote and the device still holds is not named as not written by this
  // one: the failing command named alone would deny what the device holds.
  if (named) {
    std::vector<std::u16string> lost;
    for (const std::u16string& name : failedNames)
      if (std::find(written.begin(), written.end(), name) == written.end()) lost.push_back(name);
    failed = lost.empty() ? OutcomeReason(failedOutcome, failedCommand) + u"."
                          : NotWrittenText(lost, failedOutcome, failedCommand);
  }
  std::u16string text = DownloadFailureText(failed, written, notHeld);
  // The writes the device took with a warning before the download stopped: each warning told.
  if (!DownloadWarnings().empty()) text += u" " + DownloadWarnings() + u".";
  TellDownloadWords(text);
}

// ---- Apply -------------------------------------------------------------------------------------

std::u16string COfflineParam::EntryLimits(LONG id) {
  SShownLimits shown;
  switch (id) {
    case kParTagText:
    case kParDescriptorText:
    case kParMessageText: return PackedAsciiHoldsText(TextCharacters(id));
    case kParLongTag2: return Latin1HoldsText(kLongTagCharacters);
    case kParDay: return u"1 to " + NumberWord(LastDay());
    case kParMonth: return u"1 to 12";
    case kParYear: return NumberWord(kDateYearFirst) + u" to " + NumberWord(kDateYearLast);
    case kParDampingOffline:
    case kParFailTimeOffline: shown.sign = "Sec"; break;
    case kParSensitivityOffline: shown = SensitivityShown(); break;
    default: {
      // A distance in the unit its edit shows it in; its limits are metres.
      const auto* field = std::find_if(std::begin(kLengthFields), std::end(kLengthFields),
                                       [id](const SLengthField& f) { return f.offline == id; });
      if (field == std::end(kLengthFields)) return {};
      const auto at = m_lengths.find(field->edit);
      shown.lengthUnit = at != m_lengths.end() ? at->second.unit : WantedUnit(field->edit);
    }
  }
  vkr::Variant minimum, maximum;
  if (FAILED(GetParameterInfoText(id, minimum.Put(), maximum.Put()))) return {};
  return EntryLimitsText(minimum, maximum, shown);
}

bool COfflineParam::TypedSinceShown(LONG id) {
  const auto shown = m_shown.find(id);
  if (shown == m_shown.end()) return false;
  vkr::Variant value;
  return SUCCEEDED(GetControlValueById(id, value.Put())) && !SameValue(shown->second, value);
}

bool COfflineParam::TellInvalidEntries() {
  std::vector<std::u16string> names, limits, others;
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if ((entry.m_nState & 0x8) || entry.m_nCtrlId == 0) continue;
    const auto words = std::find_if(std::begin(kEntryWords), std::end(kEntryWords),
                                    [&](const SEntryWords& w) { return w.entry == entry.m_nParamId; });
    std::u16string name = words != std::end(kEntryWords) ? std::u16string(words->label)
                                                         : vkr::Utf8ToUtf16(entry.m_pszName ? entry.m_pszName : "");
    if ((entry.m_nState & (kStateUsable | kStateInvalid)) != (kStateUsable | kStateInvalid)) {
      // A change the user made that goes nowhere while another entry holds back the whole: marked
      // changed by an Apply before, or typed since the control showed its value.
      if (((entry.m_nState & kStateChanged) || TypedSinceShown(entry.m_nParamId) ||
           m_typedControls.count(entry.m_nCtrlId)) && !name.empty() &&
          std::find(others.begin(), others.end(), name) == others.end())
        others.push_back(std::move(name));
      continue;
    }
    names.push_back(std::move(name));
    limits.push_back(EntryLimits(entry.m_nParamId));
  }
  std::erase_if(others, [&](const std::u16string& o) { return std::find(names.begin(), names.end(), o) != names.end(); });
  if (names.empty()) return false;
  std::u16string text = InvalidEntryText(names);
  if (names.size() == 1 && !limits[0].empty()) {
    text.back() = u':';
    text += u" " + limits[0] + u".";
  } else if (names.size() > 1) {
    std::u16string each;
    for (std::size_t i = 0; i < names.size(); ++i)
      if (!limits[i].empty()) each += (each.empty() ? u"" : u"; ") + names[i] + u": " + limits[i];
    if (!each.empty()) {
      text.pop_back();
      text += u" (" + each + u").";
    }
  }
  if (!others.empty()) {
    text += u' ';
    text += NotSentText(others, HoldsInvalidText(names));
  }
  TellUser(u"Offline Parameterization", text);
  return true;
}

HRESULT COfflineParam::ApplyOfflineValues() {
  m_downloadWritten.clear();
  // An entry holding no valid value is focused and named with what it holds; the control stays
  // as it is.
  if (FAILED(SetFocusToControl())) {
    TellInvalidEntries();
    return E_FAIL;
  }
  // A sensitivity typed between two steps is kept at the step below: the user hears of it, as on
  // the Advanced page, once it is stored.
  std::u16string step;
  if (m_typedControls.count(kOfflineSensitivityEdit) || TypedSinceShown(kParSensitivityOffline)) {
    float percent = 0.0f;
    const HRESULT parsed = GetDlgItemFloat(kOfflineSensitivityEdit, kSensitivityFormat, &percent);
    step = SensitivityStepNote(u"Sensitivity", parsed, percent);
  }
  // Only what the user changed is written and marked for the framework's apply to store: a value
  // that reads as it was shown is left alone, also one the data set does not hold.
  for (LONG id : kDeviceTargets) {
    vkr::Variant value;
    if (FAILED(GetControlValueById(id, value.Put()))) continue;
    const auto shown = m_shown.find(id);
    if (shown != m_shown.end() && SameValue(shown->second, value)) continue;
    if (FAILED(SetDtmParameterValue(id, value))) continue;
    if (std::find(m_userChanged.begin(), m_userChanged.end(), id) == m_userChanged.end()) m_userChanged.push_back(id);
    m_shown[id] = std::move(value);
    if (FindParameterIndex(id) >= 0) SetControlStateById(id, kStateUsableChanged);
  }
  const HRESULT hr = ApplyParameterChanges();
  if (FAILED(hr)) return hr;
  // A value the DTM refused leaves its entry marked invalid: the user sees it, nothing is lost.
  if (FAILED(SetFocusToControl())) {
    TellInvalidEntries();
    return E_FAIL;
  }
  m_typedControls.clear();
  if (!step.empty()) TellUser(u"Offline Parameterization", step, kMessageInformation);
  return hr;
}

}  // namespace vkr::dui

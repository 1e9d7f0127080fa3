// The Command page: its dialog, strings and parameter table, the decoders of the device's answers,
// the range rules, Send and the auto-digitize routine.
#include "ui/device/CommandPP.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/ProgramIds.h"
#include "xml/Conversions.h"

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
constexpr LONG kActivateSend = 1045;
constexpr LONG kDisplayModeDevice = 1064;
constexpr LONG kTrackingDevice = 1066;
constexpr LONG kDielectricDevice = 1068;
constexpr LONG kFailSafeDevice = 1070;
constexpr LONG kFailTimeDevice = 1071;
constexpr LONG kSpCmd1 = 1059;
constexpr LONG kDigitizeCommand = 1082;
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

// Entry state bits.
constexpr ULONG kStateUsable = 0x1;
constexpr ULONG kStateChanged = 0x2;
constexpr ULONG kStateInvalid = 0x4;

constexpr ULONG kDtmOnline = 12;
constexpr ULONG kDialogReadsDevice = 4;

// User-message styles and answers.
constexpr LONG kStyleQuestion = 0x41;
constexpr LONG kStyleError = 0x10;
constexpr LONG kStyleInformation = 0x40;
constexpr LONG kAnswerCancel = 2;

constexpr char kLoading[] = "Loading...";
constexpr char kFloatFormat[] = "%.3f";
constexpr DWORD kDigitizePause = 10000;

// Combo items, in the order they are added, and where each combo keeps its "Loading..." item.
struct ComboItem {
  const char* text;
  BYTE code;
};
constexpr ComboItem kUnitItems[] = {{"Metres (m)", 45}, {"Feet (ft)", 44}};
constexpr ComboItem kDisplayModeItems[] = {{"Level", 3}, {"% Level", 4}, {"Distance", 5}};
constexpr ComboItem kTrackingItems[] = {{"Slow", 0}, {"Medium", 1}, {"Fast", 2}, {"Velomode", 3}, {"Test", 4}};
constexpr ComboItem kDielectricItems[] = {{" < 2", 0},  {" < 5", 1},  {" < 10", 2}, {" < 20", 3},
                                          {" < 40", 4}, {" < 80", 5}, {" > 80", 6}};
constexpr ComboItem kFailModeItems[] = {{"3.80 mA", 1},  {" > 20.20 mA", 2}, {"Last Known", 3},
                                        {"4.00 mA", 4}, {"20.00 mA", 5},    {"> 21.50 mA", 6}};
struct LoadingSlot {
  UINT combo;
  LRESULT index;
};
constexpr LoadingSlot kLoadingSlots[] = {{kComboDisplayUnit, 2},
                                         {kComboDisplayMode, 3},
                                         {kComboTracking, 5},
                                         {kComboDielectric, 7},
                                         {kComboFailMode, 6}};
constexpr UINT kLoadingEdits[] = {kEditLowLevel, kEditHighLevel, kEditDamping, kEditFailTime};

SPropertyPageClass CommandClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_CommandPP;
  c.parameterMap = &CCommandPP::GetParameterMap;
  c.dialogId = kDialogId;
  c.titleId = kStringTitle;
  c.helpFileId = kStringHelpFile;
  c.docStringId = kStringDoc;
  c.templateText = kTemplate;
  return c;
}

// Sets a BOOL flag for a scope and puts back what it held.
class FlagScope {
 public:
  explicit FlagScope(BOOL& flag) : m_flag(flag), m_saved(flag) { m_flag = TRUE; }
  ~FlagScope() { m_flag = m_saved; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  BOOL& m_flag;
  BOOL m_saved;
};

template <class Q>
vkr::ComPtr<Q> QueryOf(IUnknown* object) {
  vkr::ComPtr<Q> result;
  if (object) object->QueryInterface(Q::iid, result.PutVoid());
  return result;
}

// ---- Bytes of a device answer (until the device-UI kit's reader is merged) ----------------------

// The bytes of a VT_ARRAY|VT_UI1, read through their hex text. Another type gives S_FALSE and no
// bytes: it is ignored.
HRESULT AnswerBytes(const VARIANT& value, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (value.vt != (VT_ARRAY | VT_UI1)) return S_FALSE;
  vkr::Bstr hex;
  HRESULT hr = ByteArrayToHexString(&value, hex.Put(), TRUE);
  if (FAILED(hr)) return hr;
  const ULONG count = static_cast<ULONG>(hex.Length() / 2);
  bytes->resize(count);
  if (count > 0 && HexStringToBytes(hex.Get(), bytes->data(), count) != static_cast<LONG>(count)) {
    bytes->clear();
    return E_INVALIDARG;
  }
  return S_OK;
}

float FloatAt(const std::vector<BYTE>& bytes, size_t at) {
  const uint32_t word = static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
                        static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
  float value = 0.0f;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

void PutFloat(std::vector<BYTE>* bytes, float value) {
  uint32_t word = 0;
  std::memcpy(&word, &value, sizeof word);
  for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<BYTE>(word >> shift));
}

// A VT_ARRAY|VT_UI1 of the bytes, made through their hex text.
HRESULT ByteArrayOf(const std::vector<BYTE>& bytes, VARIANT* value) {
  vkr::Bstr hex;
  HRESULT hr = BytesToHexString(bytes.data(), static_cast<ULONG>(bytes.size()), hex.Put());
  if (FAILED(hr)) return hr;
  return HexStringToByteArray(value, hex.Get(), TRUE);
}

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

std::string ComboItemText(HWND combo, LRESULT index) {
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::string WindowText(HWND window) {
  char buffer[256] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// The item of the combo whose text is exactly `text` (case and all); -1 when none is.
LRESULT ExactItem(HWND combo, const std::string& text) {
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i)
    if (ComboItemText(combo, i) == text) return i;
  return -1;
}

// An unsigned whole number of at most `limit`, blanks around allowed; false for anything else.
bool ParseUnsigned(const std::string& text, ULONG limit, ULONG* value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t end = text.size();
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (i == end || end - i > 9) return false;
  ULONG number = 0;
  for (size_t k = i; k < end; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    number = number * 10 + static_cast<ULONG>(text[k] - '0');
  }
  if (number > limit) return false;
  *value = number;
  return true;
}

}  // namespace

namespace vkr::device {

DigitizeClock RealDigitizeClock() {
  return DigitizeClock{[] { return GetTickCount(); }, [](DWORD ms) { Sleep(ms); }};
}

}  // namespace vkr::device

// ===== Construction ==============================================================================

CCommandPP::CCommandPP() : CovFDT_PropertyPageImpl(CommandClass()), m_clock(vkr::device::RealDigitizeClock()) {
  // The page reads the device's values while the DTM is online.
  m_nDialogType = kDialogReadsDevice;
  m_bRefreshOnShow = 1;
  m_nRangeUnit = 0;
}

CCommandPP::~CCommandPP() {
  if (m_hGroupFont) DeleteObject(m_hGroupFont);
}

HRESULT CCommandPP::FinalConstruct() {
  // The display control gives the texts of unit codes; without it the page still works.
  CoCreateInstance(CLSID_ParamGroupDisplay, nullptr, CLSCTX_ALL, IID_IUnknown, m_spDisplayControl.PutVoid());
  return S_OK;
}

void CCommandPP::FinalRelease() { m_spDisplayControl = nullptr; }

const char* CCommandPP::TemplateText() const { return kTemplate; }

bool CCommandPP::LoadPageString(UINT id, std::u16string* text) {
  for (const PageString& s : kStrings) {
    if (s.id != id) continue;
    *text = s.text;
    return true;
  }
  return CovFDT_PropertyPageImpl::LoadPageString(id, text);
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
  if (m_hWndDialog) {
    if (!m_hGroupFont) m_hGroupFont = CreateFontA(14, 0, 0, 0, 600, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    if (m_hGroupFont)
      SendDlgItemMessageA(m_hWndDialog, kGroupSetup, WM_SETFONT, reinterpret_cast<WPARAM>(m_hGroupFont), TRUE);
  }
  m_nLastPvUnit = m_nLastDisplayMode = m_nLastTracking = m_nLastDielectric = m_nLastFailSafe = 0xFFFF;

  auto fill = [&](UINT combo, const ComboItem* items, size_t count, BYTE* codes) {
    HWND window = m_hWndDialog ? ::GetDlgItem(m_hWndDialog, static_cast<int>(combo)) : nullptr;
    if (window) SendMessageA(window, CB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < count; ++i) {
      if (window) SendMessageA(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i].text));
      codes[i] = items[i].code;
    }
  };
  fill(kComboDisplayUnit, kUnitItems, 2, m_anUnitCodes);
  fill(kComboDisplayMode, kDisplayModeItems, 3, m_anDisplayModeCodes);
  fill(kComboTracking, kTrackingItems, 5, m_anTrackingCodes);
  fill(kComboDielectric, kDielectricItems, 7, m_anDielectricCodes);
  fill(kComboFailMode, kFailModeItems, 6, m_anFailSafeCodes);

  const HRESULT hr = CovFDT_PropertyPageImpl::InitializeUI(dtm, ok);
  SetLoadingTexts();
  m_nProbeLength = 0;
  return hr;
}

HRESULT CCommandPP::UninitializeUI(VARIANT_BOOL* ok) {
  // No cyclic reading of commands 1 and 2 outlives the page.
  ChangeUpdateRate(kCommand1, 0);
  ChangeUpdateRate(kCommand2, 0);
  return CovFDT_PropertyPageImpl::UninitializeUI(ok);
}

// ===== Reading ===================================================================================

HRESULT CCommandPP::ReadParameter(LONG index) {
  if (index < 0 || static_cast<ULONG>(index) >= m_nParInfoCount) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info = QueryOf<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  const CActXParInfo& entry = m_pParInfo[index];
  const LONG id = entry.m_nParamId;
  vkr::Variant known;
  HRESULT hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(static_cast<LONG>(0x80000000)), &known);
  if (FAILED(hr)) return hr;
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, &known, 0, VT_I4)) || number.lVal == 0) return E_FAIL;
  vkr::Variant deviceField;
  hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(1), &deviceField);
  if (FAILED(hr)) return hr;
  vkr::Variant device;
  const bool inDevice = SUCCEEDED(VariantChangeType(&device, &deviceField, 0, VT_I4)) && device.lVal == 1;

  vkr::Variant value;
  if (m_nDtmState == kDtmOnline && inDevice &&
      ((m_nDialogType & 4) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & 0x200)))) {
    hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(0x200000), &value);
    if (FAILED(hr)) value.Clear();
  }
  ULONG state = 0;
  if (FAILED(hr = ReadParameterInfo(static_cast<ULONG>(index)))) return hr;
  if (FAILED(hr = GetParameterInfoValue(id, &state))) return hr;
  if (FAILED(hr = FillControlChoices(static_cast<ULONG>(index)))) return hr;
  if (value.vt != VT_EMPTY)
    SetControlValueById(id, value);
  else
    state |= 0x404;
  if ((m_nDialogType & 2) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & 0x100))) state &= ~kStateChanged;
  return SetControlStateById(id, state);
}

// ===== Values into the page =====================================================================

HRESULT CCommandPP::SetControlValueById(LONG id, VARIANT value) {
  RemoveLoadingItems();
  FlagScope updating(m_bUpdatingControls);
  switch (id) {
    case kCommand1:
      return DecodeCommand1(value);
    case kCommand15:
      return DecodeCommand15(value);
    case kCommand14:
      return DecodeCommand14(value);
    case kSpCmd1:
      return DecodeCommand135(value);
    case kCommand131:
      return DecodeCommand131(value);
    case kCommand2:
    case kRangeUnit:
    case kDigitizeCommand:
      return S_OK;
    default:
      break;
  }
  vkr::Variant byte;
  const bool isByte = SUCCEEDED(VariantChangeType(&byte, &value, 0, VT_UI1));
  switch (id) {
    case kPvUnitUser:
      if (!isByte || !m_hWndDialog) return S_OK;
      if (byte.bVal == 45 || byte.bVal == 44) {
        const bool metres = byte.bVal == 45;
        SendDlgItemMessageA(m_hWndDialog, kComboDisplayUnit, CB_SETCURSEL, metres ? 0 : 1, 0);
        SetDlgItemTextA(m_hWndDialog, kLabelLowUnit, metres ? "meters" : "ft");
        SetDlgItemTextA(m_hWndDialog, kLabelHighUnit, metres ? "meters" : "ft");
      }
      return S_OK;
    case kDisplayMode:
      if (isByte) SelectComboCode(kComboDisplayMode, m_anDisplayModeCodes, 3, byte.bVal);
      return S_OK;
    case kTracking:
      if (isByte) SelectComboCode(kComboTracking, m_anTrackingCodes, 5, byte.bVal);
      return S_OK;
    case kDielectric:
      if (isByte) SelectComboCode(kComboDielectric, m_anDielectricCodes, 7, byte.bVal);
      return S_OK;
    case kFailSafe:
      if (isByte) SelectComboCode(kComboFailMode, m_anFailSafeCodes, 6, byte.bVal);
      return S_OK;
    case kFailTime:
      if (isByte && m_hWndDialog) {
        char text[8];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(byte.bVal));
        SetDlgItemTextA(m_hWndDialog, kEditFailTime, text);
      }
      return S_OK;
    case kButtonRefresh:
      if (isByte && byte.bVal != 0 && m_bVisible) return OnRefresh();
      return S_OK;
    case kButtonSend:
      if (isByte && byte.bVal != 0 && m_bVisible) return OnSend();
      return S_OK;
    default:
      return CovFDT_PropertyPageImpl::SetControlValueById(id, value);
  }
}

void CCommandPP::SelectComboCode(UINT comboId, const BYTE* codes, size_t count, BYTE code) {
  if (!m_hWndDialog) return;
  for (size_t i = 0; i < count; ++i) {
    if (codes[i] != code) continue;
    SendDlgItemMessageA(m_hWndDialog, comboId, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    return;
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

// Command 1: byte 0 the PV unit.
HRESULT CCommandPP::DecodeCommand1(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = AnswerBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  if (bytes.empty() || bytes[0] == m_nLastPvUnit) return S_OK;
  m_nLastPvUnit = bytes[0];
  return SetDtmByte(kPvUnitUser, bytes[0]);
}

// Command 15: byte 2 the range unit, then upper range, lower range and damping as floats; each
// field only when the answer holds all of it.
HRESULT CCommandPP::DecodeCommand15(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = AnswerBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  if (bytes.size() >= 3) {
    m_nRangeUnit = bytes[2];
    SetDtmByte(kRangeUnit, bytes[2]);
  }
  if (bytes.size() >= 7) SetDtmFloat(kUpperRange, FloatAt(bytes, 3));
  if (bytes.size() >= 11) SetDtmFloat(kLowerRange, FloatAt(bytes, 7));
  if (bytes.size() >= 15) SetDtmFloat(kDampingUser, FloatAt(bytes, 11));
  return S_OK;
}

// Command 14: byte 3 the limits' unit, then upper limit, lower limit and minimum span.
HRESULT CCommandPP::DecodeCommand14(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = AnswerBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  if (bytes.size() >= 4) SetDtmByte(kParamUnit, bytes[3]);
  if (bytes.size() >= 8) SetDtmFloat(kParamUpper, FloatAt(bytes, 4));
  if (bytes.size() >= 12) SetDtmFloat(kParamLower, FloatAt(bytes, 8));
  if (bytes.size() >= 16) SetDtmFloat(kParamSpan, FloatAt(bytes, 12));
  return S_OK;
}

// Command 135: display mode, tracking, dielectric and fail-safe go on only when they changed;
// the fail time always.
HRESULT CCommandPP::DecodeCommand135(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = AnswerBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  USHORT* last[4] = {&m_nLastDisplayMode, &m_nLastTracking, &m_nLastDielectric, &m_nLastFailSafe};
  const LONG ids[4] = {kDisplayMode, kTracking, kDielectric, kFailSafe};
  for (size_t i = 0; i < 4 && i < bytes.size(); ++i) {
    if (bytes[i] == *last[i]) continue;
    *last[i] = bytes[i];
    SetDtmByte(ids[i], bytes[i]);
  }
  if (bytes.size() >= 5) SetDtmByte(kFailTime, bytes[4]);
  return S_OK;
}

// Command 131 (words from 0x0035): the first word is the probe length.
HRESULT CCommandPP::DecodeCommand131(const VARIANT& value) {
  std::vector<BYTE> bytes;
  const HRESULT hr = AnswerBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  if (bytes.size() < 4) return S_OK;
  m_nProbeLength = static_cast<ULONG>(bytes[0]) << 8 | bytes[1];
  return SetDtmFloat(kProbeLength, static_cast<float>(m_nProbeLength));
}

// ===== Values out of the page ===================================================================

HRESULT CCommandPP::ComboCode(UINT comboId, const BYTE* codes, size_t count, BYTE* code) const {
  HWND combo = m_hWndDialog ? ::GetDlgItem(m_hWndDialog, static_cast<int>(comboId)) : nullptr;
  if (!combo) return E_FAIL;
  const LRESULT item = ExactItem(combo, WindowText(combo));
  if (item < 0 || static_cast<size_t>(item) >= count) return E_FAIL;
  *code = codes[item];
  return S_OK;
}

HRESULT CCommandPP::EditFloat(UINT editId, float* value) {
  return GetDlgItemFloat(static_cast<LONG>(editId), kFloatFormat, value);
}

void CCommandPP::WriteBack(UINT editId, float value) {
  // The program's own write: the edit's change notification is no input.
  FlagScope updating(m_bUpdatingControls);
  SetDlgItemFloat(static_cast<LONG>(editId), kFloatFormat, value);
}

float CCommandPP::DtmFloat(LONG id) {
  vkr::Variant value, number;
  if (FAILED(GetDtmParameterValue(id, value.Put()))) return 0.0f;
  if (FAILED(VariantChangeType(&number, &value, 0, VT_R4))) return 0.0f;
  return number.fltVal;
}

// The high level after the range rules. A text that holds no number is refused: nothing would
// reach the device but a value the user never typed.
HRESULT CCommandPP::HighLevel(float* value) {
  float u = 0.0f, l = 0.0f;
  HRESULT hr = EditFloat(kEditHighLevel, &u);
  if (FAILED(hr)) return hr;
  if (FAILED(EditFloat(kEditLowLevel, &l))) l = 0.0f;
  const float pu = DtmFloat(kParamUpper), pl = DtmFloat(kParamLower), ps = DtmFloat(kParamSpan);
  const float typed = u;
  if (0.0f <= u && u < pu) u = pu;
  if (u >= pl) u = pl - ps;
  if ((l > 0.0f && l < u) || (l - u > 0.0f && l - u < ps)) u = l - ps;
  if (u != typed) WriteBack(kEditHighLevel, u);
  *value = u;
  return S_OK;
}

HRESULT CCommandPP::LowLevel(float* value) {
  float u = 0.0f, l = 0.0f;
  HRESULT hr = EditFloat(kEditLowLevel, &l);
  if (FAILED(hr)) return hr;
  if (FAILED(EditFloat(kEditHighLevel, &u))) u = 0.0f;
  const float pl = DtmFloat(kParamLower), ps = DtmFloat(kParamSpan);
  if (l > pl) {
    l = pl;
    WriteBack(kEditLowLevel, l);
  }
  if (l - u > 0.0f && l - u <= ps) {
    l = u + ps;
    WriteBack(kEditLowLevel, l);
  } else if (u >= l) {
    if (u + ps > pl)
      l = pl;
    else if (l != 0.0f)
      l = u + ps;
    WriteBack(kEditLowLevel, l);
  }
  *value = l;
  return S_OK;
}

// The "Range values" record: range unit, high level, low level (big-endian singles).
HRESULT CCommandPP::RangeRecord(VARIANT* value) {
  float high = 0.0f, low = 0.0f;
  HRESULT hr = EditFloat(kEditHighLevel, &high);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = EditFloat(kEditLowLevel, &low))) return hr;
  std::vector<BYTE> bytes{m_nRangeUnit};
  PutFloat(&bytes, high);
  PutFloat(&bytes, low);
  return ByteArrayOf(bytes, value);
}

HRESULT CCommandPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  BYTE code = 0;
  HRESULT hr = S_OK;
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
      hr = ComboCode(kComboDisplayUnit, m_anUnitCodes, 2, &code);
      break;
    case kDisplayMode:
    case kDisplayModeDevice:
      hr = ComboCode(kComboDisplayMode, m_anDisplayModeCodes, 3, &code);
      break;
    case kTracking:
    case kTrackingDevice:
      hr = ComboCode(kComboTracking, m_anTrackingCodes, 5, &code);
      break;
    case kDielectric:
    case kDielectricDevice:
      hr = ComboCode(kComboDielectric, m_anDielectricCodes, 7, &code);
      break;
    case kFailSafe:
    case kFailSafeDevice:
      hr = ComboCode(kComboFailMode, m_anFailSafeCodes, 6, &code);
      break;
    case kFailTime:
    case kFailTimeDevice: {
      // The device keeps the fail time in one byte: a larger number or no number is refused
      // rather than cut to its low bits.
      ULONG seconds = 0;
      if (!m_hWndDialog) return E_FAIL;
      char text[64] = {};
      GetDlgItemTextA(m_hWndDialog, kEditFailTime, text, sizeof text);
      if (!ParseUnsigned(text, 255, &seconds)) return E_FAIL;
      code = static_cast<BYTE>(seconds);
      break;
    }
    case kRangeValues:
      VariantClear(value);
      return RangeRecord(value);
    case kCommand131:
      VariantClear(value);
      return ByteArrayOf({0x00, 0x35, 0x00, 0x02}, value);
    case kUpperRange:
    case kLowerRange: {
      float level = 0.0f;
      if (FAILED(hr = id == kUpperRange ? HighLevel(&level) : LowLevel(&level))) return hr;
      VariantClear(value);
      *value = R4(level);
      return S_OK;
    }
    default:
      return CovFDT_PropertyPageImpl::GetControlValueById(id, value);
  }
  if (FAILED(hr)) return hr;
  VariantClear(value);
  *value = UI1(code);
  return S_OK;
}

HRESULT CCommandPP::GetParameterText(LONG id, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (id != kUpperRange && id != kLowerRange) return CovFDT_PropertyPageImpl::GetParameterText(id, valid);
  vkr::Variant level;
  if (FAILED(GetControlValueById(id, level.Put()))) {
    // No number: the entry is marked invalid, so Send stops at it and nothing is written.
    const LONG index = FindParameterIndex(id);
    return SetControlStateById(id, kStateUsable | kStateChanged | kStateInvalid | (index >= 0 ? m_pParInfo[index].m_nState & ~0x7u : 0));
  }
  SetControlStateById(id, kStateUsable | kStateChanged);
  *valid = VARIANT_TRUE;
  return S_OK;
}

HRESULT CCommandPP::SetControlStateById(LONG id, ULONG state) {
  // The range record follows the state of either level.
  if (id == kUpperRange || id == kLowerRange) CovFDT_PropertyPageImpl::SetControlStateById(kRangeValues, state);
  return CovFDT_PropertyPageImpl::SetControlStateById(id, state);
}

// ===== User input ================================================================================

HRESULT CCommandPP::OnControlChange(UINT code, UINT controlId, HWND control) {
  if (m_bUpdatingControls || m_bBusy) return S_OK;
  // The range and damping edits of the Process page.
  if (controlId == 395 || controlId == 397 || controlId == 399) SetDtmParameterValue(kActivateSend, vkr::I4(1));
  if (controlId == kComboDisplayUnit && code == CBN_SELCHANGE) {
    SetDtmParameterValue(kActivateSend, vkr::I4(1));
    HWND combo = control ? control : ::GetDlgItem(m_hWndDialog, kComboDisplayUnit);
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected >= 0) SetWindowTextA(combo, ComboItemText(combo, selected).c_str());
  }
  return CovFDT_PropertyPageImpl::OnControlChange(code, controlId, control);
}

HRESULT CCommandPP::OnUnitChange() {
  HWND combo = m_hWndDialog ? ::GetDlgItem(m_hWndDialog, kComboDisplayUnit) : nullptr;
  if (!combo) return S_OK;
  const LRESULT typed = ExactItem(combo, WindowText(combo));
  if (typed >= 0) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(typed), 0);
  } else if (m_nLastPvUnit <= 0xFF) {
    // A text that is no unit: back to the unit the device reported.
    vkr::ComPtr<IParamGroupDisplay> display = QueryOf<IParamGroupDisplay>(m_spDisplayControl.Get());
    vkr::Bstr text;
    if (display && display->GetUnitText(static_cast<BYTE>(m_nLastPvUnit), text.Put()) == S_OK && text.Get()) {
      const LRESULT known = ExactItem(combo, vkr::Utf16ToUtf8(text.View()));
      if (known >= 0) SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(known), 0);
    }
  }
  // The entry's marks follow what the combo now shows.
  VARIANT_BOOL valid = VARIANT_FALSE;
  GetParameterText(kPvUnitUser, &valid);
  return S_OK;
}

// ===== Showing and refreshing ===================================================================

void CCommandPP::ShowLoadingItems() {
  if (!m_hWndDialog) return;
  FlagScope updating(m_bUpdatingControls);
  for (const LoadingSlot& slot : kLoadingSlots) {
    HWND combo = ::GetDlgItem(m_hWndDialog, static_cast<int>(slot.combo));
    if (!combo) continue;
    // Added once: a second show or refresh before the values came must not stack them up.
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) <= slot.index)
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLoading));
    if (ComboItemText(combo, slot.index) == kLoading) SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(slot.index), 0);
  }
}

void CCommandPP::RemoveLoadingItems() {
  if (!m_hWndDialog) return;
  FlagScope updating(m_bUpdatingControls);
  for (const LoadingSlot& slot : kLoadingSlots) {
    HWND combo = ::GetDlgItem(m_hWndDialog, static_cast<int>(slot.combo));
    if (combo && ComboItemText(combo, slot.index) == kLoading)
      SendMessageA(combo, CB_DELETESTRING, static_cast<WPARAM>(slot.index), 0);
  }
}

void CCommandPP::SetLoadingTexts() {
  if (!m_hWndDialog) return;
  FlagScope updating(m_bUpdatingControls);
  for (UINT edit : kLoadingEdits) SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kLoading);
}

void CCommandPP::ShowDigitizeButton() {
  if (!m_hWndDialog) return;
  ::ShowWindow(::GetDlgItem(m_hWndDialog, kButtonDigitize), SW_SHOW);
  for (UINT id : {kLabelDigitizeDistance, kEditDigitizeDistance, kButtonRunDigitize})
    ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), SW_HIDE);
}

HRESULT CCommandPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  ShowDigitizeButton();
  ShowLoadingItems();
  if (wParam == 1) {
    m_bVisible = 1;
    if (m_bRefreshOnShow) {
      // The user interfaces that list 1041 refresh; this page does so below as well.
      SetDtmParameterValue(kButtonRefresh, vkr::I4(1));
      m_nLastPvUnit = 0xFFFF;
      m_bRefreshOnShow = 0;
    }
  } else {
    m_bVisible = 0;
  }
  OnRefresh();
  return CovFDT_PropertyPageImpl::OnShowWindow(message, wParam, lParam, handled);
}

HRESULT CCommandPP::OnRefresh() {
  m_nLastPvUnit = m_nLastDisplayMode = m_nLastTracking = m_nLastDielectric = m_nLastFailSafe = 0xFFFF;
  ShowLoadingItems();
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (static_cast<ULONG>(state) == kDtmOnline && m_spDtm) {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = m_spDtm->ReadDeviceParameter(vkr::UI4(kCommand14), &done);
    if (FAILED(hr)) return hr;
    vkr::Variant request;
    if (FAILED(GetControlValueById(kCommand131, request.Put()))) return S_OK;
    hr = m_spDtm->WriteDeviceParameter(vkr::UI4(kCommand131), request, &done);
    if (FAILED(hr)) return S_OK;
    m_spDtm->ReadDeviceParameter(vkr::UI4(kSpCmd1), &done);
    m_spDtm->ReadDeviceParameter(vkr::UI4(kCommand15), &done);
    m_spDtm->ReadDeviceParameter(vkr::UI4(kCommand1), &done);
    hr = m_spDtm->ReadDeviceParameter(vkr::UI4(kCommand2), &done);
    if (FAILED(hr)) return hr;
  }
  SetLoadingTexts();
  SetDirty(FALSE);
  return S_OK;
}

// ===== Send ======================================================================================

HRESULT CCommandPP::OnSend() {
  // Invalid input anywhere on the page: it is focused and nothing goes out.
  if (FAILED(SetFocusToControl())) return S_OK;

  // The settings record (command 136) takes all five user values.
  static constexpr LONG kPairs[5][2] = {{kDisplayMode, kDisplayModeDevice},
                                        {kTracking, kTrackingDevice},
                                        {kDielectric, kDielectricDevice},
                                        {kFailSafe, kFailSafeDevice},
                                        {kFailTime, kFailTimeDevice}};
  for (const auto& pair : kPairs) {
    vkr::Variant value;
    if (FAILED(GetControlValueById(pair[0], value.Put()))) continue;
    SetDtmParameterValue(pair[1], value);
    SetControlStateById(pair[1], kStateUsable | kStateChanged);
  }

  HRESULT hr = S_OK;
  if (m_pParInfo[0].m_nState & kStateChanged) {
    vkr::Variant unit;
    // A unit text that is no item stops the sending: no stale unit reaches the device.
    if (FAILED(hr = GetControlValueById(kPvUnitUser, unit.Put()))) return hr;
    m_nLastPvUnit = unit.bVal;
    SetDtmParameterValue(kPvUnit, unit);
    SetControlStateById(kPvUnit, kStateUsable | kStateChanged);
    if (FAILED(hr = CheckParameterInput(kPvUnit))) return hr;
  }
  if (m_pParInfo[4].m_nState & kStateChanged) {
    SetControlStateById(kRangeValues, kStateUsable | kStateChanged);
    if (FAILED(hr = CheckParameterInput(kRangeValues))) return hr;
  }
  if (m_pParInfo[3].m_nState & kStateChanged) {
    vkr::Variant damping;
    if (FAILED(hr = GetControlValueById(kDampingUser, damping.Put()))) return hr;
    SetDtmParameterValue(kDamping, damping);
    SetControlStateById(kDamping, kStateUsable | kStateChanged);
    if (FAILED(hr = CheckParameterInput(kDamping))) return hr;
  }
  for (int k = 0; k < 5; ++k) {
    if (!(m_pParInfo[5 + k].m_nState & kStateChanged)) continue;
    if (FAILED(hr = CheckParameterInput(kPairs[k][1]))) return hr;
  }
  SetDirty(FALSE);
  OnRefresh();
  return S_OK;
}

// ===== Digitize ==================================================================================

HRESULT CCommandPP::OnDigitize() {
  if (!m_hWndDialog) return S_OK;
  ::ShowWindow(::GetDlgItem(m_hWndDialog, kButtonDigitize), SW_HIDE);
  for (UINT id : {kLabelDigitizeDistance, kEditDigitizeDistance, kButtonRunDigitize})
    ::ShowWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), SW_SHOW);
  float reading = DtmFloat(kCurrentReading);
  if (reading == 0.0f) reading = 1.0f;
  FlagScope updating(m_bUpdatingControls);
  SetDlgItemFloat(kEditDigitizeDistance, kFloatFormat, reading);
  return S_OK;
}

LONG CCommandPP::Ask(UINT captionId, UINT textId, LONG style) {
  vkr::ComPtr<IovFdtActiveXContainer> container = QueryOf<IovFdtActiveXContainer>(m_spDtmObject.Get());
  if (!container) return 0;
  std::u16string caption, text;
  LoadPageString(captionId, &caption);
  LoadPageString(textId, &text);
  LONG answer = 0;
  container->ShowUserMessage(vkr::Bstr(caption), vkr::Bstr(text), vkr::I4(style), &answer);
  return answer;
}

HRESULT CCommandPP::Transaction(BYTE command, const std::vector<BYTE>& request, BYTE* deviceStatus,
                                BYTE* responseCode, std::vector<BYTE>* response) {
  vkr::ComPtr<IovFdtConnectionManagement> connections = QueryOf<IovFdtConnectionManagement>(m_spDtmObject.Get());
  if (!connections) return E_NOINTERFACE;
  vkr::ComPtr<IUnknown> connection;
  HRESULT hr = connections->GetConnection(0, connection.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtHartServiceInterface> hart = QueryOf<IovFdtHartServiceInterface>(connection.Get());
  if (!hart) return E_NOINTERFACE;
  vkr::Bstr requestHex(u"");
  if (!request.empty() &&
      FAILED(hr = BytesToHexString(request.data(), static_cast<ULONG>(request.size()), requestHex.Put())))
    return hr;
  vkr::Bstr responseHex, error;
  hr = hart->Transaction(command, requestHex.Get(), deviceStatus, responseCode, responseHex.Put(), error.Put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || error.Length() > 0) return E_FAIL;
  response->assign(responseHex.Length() / 2, 0);
  if (!response->empty() &&
      HexStringToBytes(responseHex.Get(), response->data(), static_cast<ULONG>(response->size())) !=
          static_cast<LONG>(response->size()))
    return E_FAIL;
  return S_OK;
}

HRESULT CCommandPP::EndDigitize() {
  SetDirty(FALSE);
  if (m_hWndDialog)
    for (UINT id : {kButtonRunDigitize, kEditDigitizeDistance, kLabelDigitizeDistance})
      ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), TRUE);
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
  if (Ask(kStringDigitizeCaption, kStringDigitizeQuestion, kStyleQuestion) == kAnswerCancel) {
    ShowDigitizeButton();
    return S_OK;
  }
  m_bDigitizing = true;
  if (m_hWndDialog)
    for (UINT id : {kButtonRunDigitize, kEditDigitizeDistance, kLabelDigitizeDistance})
      ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(id)), FALSE);

  // Every ending below restores the controls: none leaves them disabled.
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  if (!base || FAILED(base->GetDTMState(&state)) || static_cast<ULONG>(state) != kDtmOnline) return EndDigitize();

  BYTE deviceStatus = 0, responseCode = 0;
  std::vector<BYTE> settings;
  // The present settings go back unchanged with the digitize command; an answer too short to
  // hold them all ends the routine as a missing one does.
  if (FAILED(Transaction(135, {}, &deviceStatus, &responseCode, &settings)) || settings.size() < 5)
    return EndDigitize();
  float distance = 0.0f;
  if (FAILED(EditFloat(kEditDigitizeDistance, &distance))) return EndDigitize();

  std::vector<BYTE> request(settings.begin(), settings.begin() + 5);
  request.push_back(3);
  PutFloat(&request, distance);
  deviceStatus = responseCode = 0;
  std::vector<BYTE> answer;
  const HRESULT hr = Transaction(136, request, &deviceStatus, &responseCode, &answer);
  // The command's own response decides; the device status carries "configuration changed" after
  // every successful write.
  if (FAILED(hr) || responseCode != 0) {
    Ask(kStringDigitizeCaption, kStringDigitizeFailed, kStyleError);
    Ask(kStringDigitizeCaption, kStringDigitizeFailed, kStyleInformation);
  } else {
    const DWORD start = m_clock.now();
    for (DWORD elapsed = 0; elapsed < kDigitizePause; elapsed = m_clock.now() - start)
      m_clock.sleep(std::min<DWORD>(kDigitizePause - elapsed, 100));
    Ask(kStringDigitizeCaption, kStringDigitizeDone, kStyleInformation);
    Ask(kStringDigitizeCaption, kStringLoopAutomatic, kStyleInformation);
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
    if (code == EN_CHANGE || (combo && (code == CBN_SELCHANGE || code == CBN_EDITCHANGE))) {
      OnControlChange(code, id, control);
      result = 0;
      return TRUE;
    }
    if (code == EN_KILLFOCUS && !combo) {
      BOOL handled = TRUE;
      OnControlKillFocus(code, wParam, lParam, &handled);
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
  }
  if (CovFDT_PropertyPageImpl::ProcessWindowMessage(window, message, wParam, lParam, result, mapId)) return TRUE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kButtonDigitize) {
    OnDigitize();
    result = 0;
    return TRUE;
  }
  return FALSE;
}

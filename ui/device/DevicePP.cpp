// The Device page: its dialog, table, decoders and encoders, the display of the device's answers
// and the send of the user's changes.
#include "ui/device/DevicePP.h"

#include <cstdio>
#include <span>

#include "include/DtmInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/HartResponses.h"
#include "ui/device/kit/Kit.h"

namespace {

std::vector<std::uint8_t> BytesOf(std::span<const BYTE> bytes) {
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// A number typed into a field, when it is one that fits (see vkr::dui::ParseUnsigned).
std::optional<std::uint32_t> ParseUnsigned(const std::u16string& text, std::uint32_t maximum) {
  std::string narrow;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    narrow.push_back(static_cast<char>(c));
  }
  if (auto number = vkr::dui::ParseUnsigned(narrow, maximum)) return static_cast<std::uint32_t>(*number);
  return std::nullopt;
}

}  // namespace

namespace vkr::dui {

std::uint32_t LastDayOfMonth(std::uint32_t month, std::uint32_t year) {
  static constexpr std::uint32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::uint32_t LastDayOfEntries(const std::u16string& month, const std::u16string& year) {
  const auto m = ::ParseUnsigned(month, 12);
  if (!m || *m < 1) return 31;
  const auto y = ::ParseUnsigned(year, kDateYearLast);
  // Without a year February may have its leap day; the year, once typed, decides.
  return LastDayOfMonth(*m, y && *y >= kDateYearFirst ? *y : 2000);
}

std::optional<std::string> DecodeMessage(const std::vector<std::uint8_t>& bytes) {
  return vkr::dui::CByteReader(bytes).PackedAscii(0, 24);
}

std::optional<std::uint32_t> DecodeFinalAssembly(const std::vector<std::uint8_t>& bytes) {
  if (auto number = vkr::dui::CByteReader(bytes).U24(0)) return static_cast<std::uint32_t>(*number);
  return std::nullopt;
}

SCommand13 DecodeCommand13(const std::vector<std::uint8_t>& bytes) {
  const vkr::dui::CByteReader reader(bytes);
  SCommand13 out;
  out.tag = reader.PackedAscii(0, 6);
  out.descriptor = reader.PackedAscii(6, 12);
  out.day = reader.U8(18);
  out.month = reader.U8(19);
  if (auto year = reader.U8(20)) out.year = static_cast<std::uint16_t>(*year + 1900);
  return out;
}

const char* WriteProtectText(std::uint16_t value) {
  switch (value >> 8) {
    case 0: return "No";
    case 1: return "Yes";
    case 250: return "Not used";
    case 251: return "None";
    case 252: return "Unknown";
    case 253: return "Special";
    default: return "";
  }
}

std::string DistributorText(std::uint16_t value) {
  char text[8] = {};
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value & 0xFF));
  return text;
}

std::optional<std::u16string> DecodeLongTag(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 24) return std::nullopt;
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size() && i < 32 && bytes[i] != 0; ++i) text.push_back(bytes[i]);
  return text;
}

std::optional<std::vector<std::uint8_t>> EncodePackedField(const std::u16string& text, std::size_t length) {
  std::string narrow;
  for (char16_t c : text) {
    // Beyond 8 bits no character has a Packed ASCII code.
    if (c > 0xFF) return std::nullopt;
    narrow.push_back(static_cast<char>(c));
  }
  if (!vkr::dui::FitsPackedAscii(narrow, length)) return std::nullopt;
  return BytesOf(vkr::dui::EncodePackedAscii(narrow, length));
}

std::optional<std::vector<std::uint8_t>> EncodeLongTag(const std::u16string& text) {
  // Only characters the device's Latin-1 field holds, the last byte left for the closing zero.
  if (!vkr::dui::FitsLatin1Text(text, kLongTagCharacters)) return std::nullopt;
  std::vector<std::uint8_t> bytes(32, 0);
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = static_cast<std::uint8_t>(text[i]);
  return bytes;
}

}  // namespace vkr::dui

namespace {

using namespace vkr::dui;

// Parameters of the page.
constexpr LONG kMessage = vkr::dui::kParMessage;
constexpr LONG kMessageText = 1010;
constexpr LONG kDescriptor = vkr::dui::kParDescriptor;
constexpr LONG kTag = vkr::dui::kParTag;
constexpr LONG kDay = vkr::dui::kParDateDay;
constexpr LONG kMonth = vkr::dui::kParDateMonth;
constexpr LONG kYear = vkr::dui::kParDateYear;
constexpr LONG kFinalAssembly = vkr::dui::kParFinalAssemblyNumber;
constexpr LONG kTagDescriptorDate = vkr::dui::kParDescriptorTagDate;
constexpr LONG kWriteProtect = vkr::dui::kParWriteProtect;
constexpr LONG kSelfTestResponse = vkr::dui::kParSelfTestResponse;
constexpr LONG kCommand14 = vkr::dui::kParCommand14Complete;
constexpr LONG kButtonRefresh = vkr::dui::kParButtonRefresh;
constexpr LONG kButtonSend = vkr::dui::kParButtonSend;
constexpr LONG kLongTag = vkr::dui::kParLongTag;
// The entries the user edits and Send writes, in the order the page shows them.
constexpr LONG kSentEntries[] = {kMessage, kDescriptor, kTag, kDay, kMonth, kYear, kFinalAssembly, kLongTag};

// Dialog items.
constexpr UINT kTagEdit = 205;
constexpr UINT kLongTagEdit = 307;
constexpr UINT kDescriptorEdit = 357;
constexpr UINT kMessageEdit = 299;
constexpr UINT kDayEdit = 358;
constexpr UINT kMonthEdit = 360;
constexpr UINT kYearEdit = 364;
constexpr UINT kWriteProtectEdit = 365;
constexpr UINT kFinalAssemblyEdit = 359;
constexpr UINT kSensorSerialEdit = 367;
constexpr UINT kDistributorEdit = 366;
constexpr UINT kUpperLimitEdit = 361;
constexpr UINT kLowerLimitEdit = 362;
constexpr UINT kMinimumSpanEdit = 363;
constexpr UINT kUpperUnit = 384;
constexpr UINT kLowerUnit = 386;
constexpr UINT kSpanUnit = 389;

constexpr UINT kDialogId = 116;
constexpr UINT kTitleId = 241;
constexpr UINT kHelpId = 248;
constexpr UINT kDocId = 255;

using vkr::dui::kDialogTypeOnlineReading;
using vkr::dui::kStateChanged;
using vkr::dui::kStateInvalid;
using vkr::dui::kStateUsable;
constexpr ULONG kStateHidden = 0x8;
constexpr std::uint32_t kMaxFinalAssembly = 0xFFFFFF;
// The record's date takes the years every date entry takes.
static_assert(kDateYearFirst == 1900 && kDateYearLast == 2155);

// The fields that show "Loading..." while the identification is read.
constexpr UINT kPlaceholderFields[] = {kTagEdit,          kLongTagEdit,     kDescriptorEdit,   kDayEdit,
                                       kMonthEdit,        kYearEdit,        kWriteProtectEdit, kFinalAssemblyEdit,
                                       kSensorSerialEdit, kDistributorEdit, kMinimumSpanEdit,  kMessageEdit};

SPropertyPageClass DeviceClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_DevicePP;
  c.parameterMap = &CDevicePP::GetParameterMap;
  c.dialogId = kDialogId;
  c.controlNames = vkr::dui::kDeviceControlNames;
  c.titleId = kTitleId;
  c.helpFileId = kHelpId;
  c.docStringId = kDocId;
  return c;
}

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object && FAILED(object->QueryInterface(Interface::iid, found.PutVoid()))) found = nullptr;
  return found;
}

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string FormatFloat(float value) {
  char buffer[64] = {};
  std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(value));
  return buffer;
}

// The control of each editable entry.
UINT EditOf(LONG id) {
  switch (id) {
    case kMessage: return kMessageEdit;
    case kDescriptor: return kDescriptorEdit;
    case kTag: return kTagEdit;
    case kDay: return kDayEdit;
    case kMonth: return kMonthEdit;
    case kYear: return kYearEdit;
    case kFinalAssembly: return kFinalAssemblyEdit;
    case kLongTag: return kLongTagEdit;
    default: return 0;
  }
}

}  // namespace

CDevicePP::CDevicePP() : CDevicePropertyPage(DeviceClass()) {
  // Reads the device's values while online (the page's "access mode 4" is this dialog type).
  m_nDialogType = kDialogTypeOnlineReading;
}

CDevicePP::~CDevicePP() = default;

CActXParInfo* CDevicePP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[15];
  static const bool filled = [] {
    constexpr ULONG kCommand = 0x80000000;
    entries[0] = CActXParInfo(kMessage, "Message", kMessageEdit, "%s", 0, TRUE, 0);
    entries[1] = CActXParInfo(kDescriptor, "Descriptor", kDescriptorEdit, "%s", 0, TRUE, 0);
    entries[2] = CActXParInfo(kTag, "Tag", kTagEdit, "%s", 0, TRUE, 0);
    entries[3] = CActXParInfo(kDay, "Date-day", kDayEdit, "%u", 0, TRUE, 0);
    entries[4] = CActXParInfo(kMonth, "Date-month", kMonthEdit, "%u", 0, TRUE, 0);
    entries[5] = CActXParInfo(kYear, "Date-year", kYearEdit, "%u", 0, TRUE, 0);
    entries[6] = CActXParInfo(kFinalAssembly, "Number", kFinalAssemblyEdit, "%u", 0, TRUE, 0);
    entries[7] = CActXParInfo(kTagDescriptorDate, "Descriptor/Tag/Date", 0, "", 0, FALSE, kCommand);
    entries[8] = CActXParInfo(kLongTag, "Long Tag", kLongTagEdit, "%s", 0, TRUE, 0);
    entries[9] = CActXParInfo(kWriteProtect, "Write protect/Private-label", 0, "", 0, FALSE, kCommand);
    entries[10] = CActXParInfo(kSelfTestResponse, "SelftestResponse", 0, "", 0, FALSE, kCommand);
    entries[11] = CActXParInfo(kCommand14, "Command 14 complete", 0, "", 0, FALSE, kCommand);
    entries[12] = CActXParInfo(kButtonRefresh, "Button Refresh", 0, "", 0, FALSE, kCommand);
    entries[13] = CActXParInfo(kButtonSend, "Button Send", 0, "", 0, FALSE, kCommand);
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 14;
    return entries;
  }
  return CopyParameterTable(entries, count);
}


// ---- Start and the placeholders ------------------------------------------------------------------

void CDevicePP::WritePlaceholders() {
  if (!m_hWndDialog) return;
  ::SendDlgItemMessageA(m_hWndDialog, kFinalAssemblyEdit, EM_LIMITTEXT, 8, 0);
  for (UINT id : kPlaceholderFields) PutLoadingText({id});
  UpdatePlaceholders();
}

HRESULT CDevicePP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  const HRESULT hr = CDevicePropertyPage::InitializeUI(dtm, ok);
  // The editable fields take whatever is typed, whole: a text longer than its device field, or a
  // number with a sign in it, is refused with a word at Send, never cut or stripped unseen.
  WritePlaceholders();
  return hr;
}

// ---- Reading one entry: the device's value online, else the data set's ---------------------------

HRESULT CDevicePP::ReadParameter(LONG index) { return ReadParameterOrDataSet(index); }

// ---- Showing the device's values -----------------------------------------------------------------

std::u16string CDevicePP::ItemTextW(UINT controlId) const {
  char16_t buffer[260] = {};
  const int n = ::GetDlgItemTextW(m_hWndDialog, static_cast<int>(controlId), buffer, 260);
  return std::u16string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void CDevicePP::SetItemTextW(UINT controlId, const std::u16string& text) {
  ::SetDlgItemTextW(m_hWndDialog, static_cast<int>(controlId), text.c_str());
}

HRESULT CDevicePP::SetControlValueById(LONG id, VARIANT value) {
  // A late answer never overwrites what the user typed and has not sent.
  if (IsUserEntry(id)) return S_OK;
  CUpdatingControls updating(*this);
  const bool bytesExpected =
      id == kMessage || id == kFinalAssembly || id == kTagDescriptorDate || id == kCommand14 || id == kLongTag;
  std::vector<std::uint8_t> bytes;
  if (bytesExpected) {
    if (value.vt != (VT_ARRAY | VT_UI1)) return S_OK;
    std::vector<BYTE> raw;
    const HRESULT hr = vkr::dui::ResponseBytes(value, &raw);
    if (FAILED(hr)) return hr;
    bytes = BytesOf(raw);
  }
  switch (id) {
    case kMessage:
      if (auto text = DecodeMessage(bytes)) SetItemTextW(kMessageEdit, Widen(*text));
      return S_OK;
    case kFinalAssembly:
      if (auto number = DecodeFinalAssembly(bytes)) SetItemTextW(kFinalAssemblyEdit, Widen(std::to_string(*number)));
      return S_OK;
    case kTagDescriptorDate: {
      // The parts go to the data set; their entries show them when the DTM reports them.
      const SCommand13 parts = DecodeCommand13(bytes);
      if (!m_spDtm) return S_OK;
      auto store = [&](LONG part, VARIANT v) { m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(part)), v); };
      if (parts.tag) store(kTag, vkr::TextVariant(vkr::Bstr(Widen(*parts.tag)).Get()));
      if (parts.descriptor) store(kDescriptor, vkr::TextVariant(vkr::Bstr(Widen(*parts.descriptor)).Get()));
      VARIANT v = vkr::EmptyVariant();
      if (parts.day) {
        v.vt = VT_UI1, v.bVal = *parts.day;
        store(kDay, v);
      }
      if (parts.month) {
        v.vt = VT_UI1, v.bVal = *parts.month;
        store(kMonth, v);
      }
      if (parts.year) {
        v.vt = VT_UI2, v.uiVal = *parts.year;
        store(kYear, v);
      }
      return S_OK;
    }
    case kWriteProtect:
      if (value.vt == VT_UI2) {
        ::SetDlgItemTextA(m_hWndDialog, kWriteProtectEdit, WriteProtectText(value.uiVal));
        ::SetDlgItemTextA(m_hWndDialog, kDistributorEdit, DistributorText(value.uiVal).c_str());
      }
      return S_OK;
    case kCommand14: {
      const vkr::dui::SCommand14Response answer = vkr::dui::DecodeCommand14(bytes);
      if (answer.sensorSerialNumber) SetItemTextW(kSensorSerialEdit, Widen(std::to_string(*answer.sensorSerialNumber)));
      if (answer.limitsUnit) {
        const std::string unit = UnitText(*answer.limitsUnit);
        for (UINT label : {kUpperUnit, kLowerUnit, kSpanUnit})
          ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(label), unit.c_str());
      }
      if (answer.upperLimit) {
        SetItemTextW(kUpperLimitEdit, Widen(FormatFloat(*answer.upperLimit)));
        m_bUpperLimitShown = true;
      }
      if (answer.lowerLimit) {
        SetItemTextW(kLowerLimitEdit, Widen(FormatFloat(*answer.lowerLimit)));
        m_bLowerLimitShown = true;
      }
      if (answer.minimumSpan) SetItemTextW(kMinimumSpanEdit, Widen(FormatFloat(*answer.minimumSpan)));
      // The answer came: what it does not hold was not read, and no longer on its way.
      vkr::dui::ShowNotRead(m_hWndDialog, {kSensorSerialEdit, kUpperLimitEdit, kLowerLimitEdit, kMinimumSpanEdit});
      return S_OK;
    }
    case kButtonRefresh:
      if (AcceptRefresh(value.vt == VT_UI1 && value.bVal != 0, m_bPageVisible)) RefreshDeviceInfo();
      return S_OK;
    case kButtonSend:
      if (AcceptSend(value.vt == VT_UI1 && value.bVal != 0, m_bPageVisible)) OnSend();
      return S_OK;
    case kLongTag:
      if (auto text = DecodeLongTag(bytes)) SetItemTextW(kLongTagEdit, *text);
      return S_OK;
    default: return CDevicePropertyPage::SetControlValueById(id, value);
  }
}

// ---- Reading the controls ------------------------------------------------------------------------

std::optional<std::vector<std::uint8_t>> CDevicePP::BuildTagDescriptorDate() const {
  auto tag = EncodePackedField(ItemTextW(kTagEdit), 8);
  auto descriptor = EncodePackedField(ItemTextW(kDescriptorEdit), 16);
  auto day = ParseUnsigned(ItemTextW(kDayEdit), 31);
  auto month = ParseUnsigned(ItemTextW(kMonthEdit), 12);
  auto year = ParseUnsigned(ItemTextW(kYearEdit), 2155);
  if (!tag || !descriptor || !day || !month || !year || *year < 1900) return std::nullopt;
  // Only a date of the calendar: a device given 31 February or day 0 holds a date that never was.
  // A date the user did not touch goes back as the device holds it, whatever it is: the tag or
  // descriptor the record carries is not held back for the device's own date.
  if (DateIsUsers() && (*day < 1 || *day > vkr::dui::LastDayOfMonth(*month, *year))) return std::nullopt;
  std::vector<std::uint8_t> bytes = *tag;
  bytes.insert(bytes.end(), descriptor->begin(), descriptor->end());
  bytes.push_back(static_cast<std::uint8_t>(*day));
  bytes.push_back(static_cast<std::uint8_t>(*month));
  bytes.push_back(static_cast<std::uint8_t>(*year - kDateYearFirst));
  return bytes;
}

HRESULT CDevicePP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  std::optional<std::vector<std::uint8_t>> bytes;
  switch (id) {
    case kMessage: bytes = EncodePackedField(ItemTextW(kMessageEdit), 32); break;
    case kFinalAssembly:
      if (auto number = ParseUnsigned(ItemTextW(kFinalAssemblyEdit), kMaxFinalAssembly))
        bytes = std::vector<std::uint8_t>{static_cast<std::uint8_t>(*number >> 16),
                                          static_cast<std::uint8_t>(*number >> 8), static_cast<std::uint8_t>(*number)};
      break;
    case kTagDescriptorDate: bytes = BuildTagDescriptorDate(); break;
    case kLongTag: bytes = EncodeLongTag(ItemTextW(kLongTagEdit)); break;
    case kYear:
    case kDay:
    case kMonth: {
      // Numbers the device field cannot hold make no value.
      const std::uint32_t maximum = id == kYear ? kDateYearLast : id == kDay ? 31 : 12;
      auto number = ParseUnsigned(ItemTextW(EditOf(id)), maximum);
      if (!number || (id == kYear && *number < kDateYearFirst) || (id != kYear && *number == 0)) return E_INVALIDARG;
      return CDevicePropertyPage::GetControlValueById(id, value);
    }
    case kTag:
    case kDescriptor:
      if (!EncodePackedField(ItemTextW(EditOf(id)), id == kTag ? 8 : 16)) return E_INVALIDARG;
      return CDevicePropertyPage::GetControlValueById(id, value);
    default: return CDevicePropertyPage::GetControlValueById(id, value);
  }
  // Text that does not fit its device field makes no value: the entry is then marked invalid.
  if (!bytes) return E_INVALIDARG;
  VariantClear(value);
  const HRESULT hr = vkr::dui::MakeByteArray(*bytes, value);
  if (SUCCEEDED(hr) && id == kMessage) SetControlStateById(kMessage, kStateUsable | kStateChanged);
  return hr;
}

// ---- State fan-out between the combined entry and its parts --------------------------------------

HRESULT CDevicePP::SetControlStateById(LONG id, ULONG state) {
  // The DTM marks the definitions of its byte-string parameters with 0x08 (texts not converted),
  // which the entry state reads as "hidden": the page's fields are always shown.
  state &= ~kStateHidden;
  switch (id) {
    case kMessageText: return CDevicePropertyPage::SetControlStateById(kMessage, state);
    case kDescriptor:
    case kTag:
    case kDay:
    case kMonth:
    case kYear: {
      // An edit of a part marks the combined entry, which is what goes to the device. Each part
      // keeps its own marks, so that the combined entry stays modified while any part is (an edit
      // put back in one field must not drop the change of another), and so that the page can
      // bring the user back to a part that does not fit.
      const LONG index = FindParameterIndex(id);
      if (index >= 0) CDevicePropertyPage::SetControlState(index, state);
      ULONG changed = 0;
      for (LONG part : {kDescriptor, kTag, kDay, kMonth, kYear}) {
        const LONG at = FindParameterIndex(part);
        if (at >= 0) changed |= m_pParInfo[at].m_nState & kStateChanged;
      }
      return CDevicePropertyPage::SetControlStateById(kTagDescriptorDate,
                                                      (state & ~(kStateInvalid | kStateChanged)) | changed);
    }
    case kTagDescriptorDate: {
      // A part the user changed keeps its changed mark (a device answer does not take it), and
      // with it the combined entry, which is what goes to the device.
      ULONG kept = 0;
      for (LONG part : {kDescriptor, kTag, kDay, kMonth, kYear}) {
        const LONG index = FindParameterIndex(part);
        if (index >= 0 && IsUserEntry(part)) kept |= m_pParInfo[index].m_nState & kStateChanged;
      }
      HRESULT result = CDevicePropertyPage::SetControlStateById(kTagDescriptorDate, state | kept);
      // Once the user typed into a part, the combined entry is changed for that part alone: the
      // others keep their own marks rather than take the combined one's.
      const ULONG shared = kept != 0 ? state & ~kStateChanged : state;
      for (LONG part : {kDescriptor, kTag, kDay, kMonth, kYear}) {
        const LONG index = FindParameterIndex(part);
        if (index < 0) continue;
        // A part's invalid mark stays until its own text is fixed.
        ULONG marks = m_pParInfo[index].m_nState & kStateInvalid;
        if (IsUserEntry(part)) marks |= m_pParInfo[index].m_nState & kStateChanged;
        const HRESULT hr = CDevicePropertyPage::SetControlState(index, shared | marks);
        if (FAILED(hr)) result = hr;
      }
      return result;
    }
    default: return CDevicePropertyPage::SetControlStateById(id, state);
  }
}

// ---- Entries that do not fit their device fields -------------------------------------------------

bool CDevicePP::CheckEntry(LONG id) {
  const LONG index = FindParameterIndex(id);
  const UINT edit = EditOf(id);
  if (index < 0 || edit == 0 || !m_hWndDialog) return true;
  const std::u16string text = ItemTextW(edit);
  // A field still waiting for its value has nothing of the user's in it.
  if (vkr::dui::ShowsPlaceholder(m_hWndDialog, edit)) return true;
  bool fits = true;
  // The device's own date, untouched, is the device's business: it goes back as it is.
  if ((id == kDay || id == kMonth || id == kYear) && !DateIsUsers()) id = 0;
  switch (id) {
    case kMessage: fits = EncodePackedField(text, 32).has_value(); break;
    case kTag: fits = EncodePackedField(text, 8).has_value(); break;
    case kDescriptor: fits = EncodePackedField(text, 16).has_value(); break;
    case kDay: {
      // The day against its month (and year, for February) as far as those are numbers.
      auto day = ParseUnsigned(text, 31);
      fits = day && *day >= 1 && *day <= LastDayOfEntries(ItemTextW(kMonthEdit), ItemTextW(kYearEdit));
      break;
    }
    case kMonth: {
      auto month = ParseUnsigned(text, 12);
      fits = month && *month >= 1;
      break;
    }
    case kYear: {
      auto year = ParseUnsigned(text, kDateYearLast);
      fits = year && *year >= kDateYearFirst;
      break;
    }
    case kFinalAssembly: fits = ParseUnsigned(text, kMaxFinalAssembly).has_value(); break;
    case kLongTag: fits = EncodeLongTag(text).has_value(); break;
    default: break;
  }
  const ULONG state = m_pParInfo[index].m_nState;
  if (!fits)
    MarkEntryInvalid(id);
  else if (state & kStateInvalid)
    CDevicePropertyPage::SetControlState(index, state & ~kStateInvalid);
  return fits;
}

bool CDevicePP::CheckAllEntries() {
  bool all = true;
  for (LONG id : kSentEntries)
    if (!CheckEntry(id)) all = false;
  return all;
}

HRESULT CDevicePP::OnControlChange(UINT code, UINT controlId, HWND control) {
  const HRESULT hr = CDevicePropertyPage::OnControlChange(code, controlId, control);
  if (m_bUpdatingControls || m_bBusy) return hr;
  for (LONG id : kSentEntries)
    if (EditOf(id) == controlId) CheckEntry(id);
  // The month and year decide which days there are.
  if (controlId == kMonthEdit || controlId == kYearEdit) CheckEntry(kDay);
  return hr;
}

std::u16string CDevicePP::LimitsText(LONG id) {
  auto number = [](std::uint32_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  };
  switch (id) {
    case kMessage: return PackedAsciiHoldsText(32);
    case kTag: return PackedAsciiHoldsText(8);
    case kDescriptor: return PackedAsciiHoldsText(16);
    case kLongTag: return Latin1HoldsText(kLongTagCharacters);
    case kDay: return u"day 1 to " + number(LastDayOfEntries(ItemTextW(kMonthEdit), ItemTextW(kYearEdit)));
    case kMonth: return u"month 1 to 12";
    case kYear: return u"year " + number(kDateYearFirst) + u" to " + number(kDateYearLast);
    case kFinalAssembly: return u"0 to " + number(kMaxFinalAssembly);
    default: return CDevicePropertyPage::LimitsText(id);
  }
}

// ---- Refresh and send ----------------------------------------------------------------------------

HRESULT CDevicePP::RefreshDeviceInfo() {
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!base) return E_NOINTERFACE;
  WritePlaceholders();
  const HRESULT hr = ReadDeviceInfo();
  if (FAILED(hr)) return hr;
  SetDirtyAfterRefresh();
  return S_OK;
}

HRESULT CDevicePP::ReadDeviceInfo() {
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  if (base) base->GetDTMState(&state);
  if (state != dsONLINE || !m_spDtm) return S_OK;
  BeginReadRound();
  static constexpr LONG kReads[] = {kMessage, kFinalAssembly, kTagDescriptorDate, kWriteProtect, kCommand14, kLongTag};
  for (auto read = std::begin(kReads); read != std::end(kReads); ++read) {
    VARIANT_BOOL asked = VARIANT_FALSE;
    const unsigned long long mark = vkr::dui::DeviceFailureMark();
    const HRESULT hr = ReadFromDevice(*read, &asked);
    if (FAILED(hr)) {
      // Nothing more is read: the fields of this read and of those after it say so, each named.
      // The reads already out bring their own answers, and the limits shown before are not the
      // device's word now.
      std::vector<UINT> unread;
      for (auto next = read; next != std::end(kReads); ++next) {
        const std::vector<UINT> fields = FieldsOfRead(*next).value_or(std::vector<UINT>{});
        unread.insert(unread.end(), fields.begin(), fields.end());
        ShowLiveFieldsWaiting(*next);
      }
      TellNotRead(*read, unread, u"", vkr::dui::OutcomeAfter(hr, false, mark, *read));
      return hr;
    }
  }
  return S_OK;
}

std::vector<UINT> CDevicePP::LiveFieldsOfRead(LONG id) const {
  // Refresh and the page shown again leave the sensor limits as they were until the answer. The
  // minimum span with them: the device keeps all three in the unit last chosen, and a read that
  // fails leaves none of them known in it.
  if (id == kCommand14) return {kUpperLimitEdit, kLowerLimitEdit, kMinimumSpanEdit};
  return {};
}

void CDevicePP::ShowLiveFieldsWaiting(LONG id) {
  CUpdatingControls updating(*this);
  for (UINT control : LiveFieldsOfRead(id)) {
    if (!vkr::dui::ShowsPlaceholder(m_hWndDialog, control)) vkr::dui::SetLoadingText(m_hWndDialog, {control});
    if (control == kUpperLimitEdit) m_bUpperLimitShown = false;
    if (control == kLowerLimitEdit) m_bLowerLimitShown = false;
  }
}

std::optional<std::vector<UINT>> CDevicePP::FieldsOfRead(LONG id) const {
  switch (id) {
    case kMessage: return std::vector<UINT>{kMessageEdit};
    case kFinalAssembly: return std::vector<UINT>{kFinalAssemblyEdit};
    case kTagDescriptorDate: return std::vector<UINT>{kTagEdit, kDescriptorEdit, kDayEdit, kMonthEdit, kYearEdit};
    case kWriteProtect: return std::vector<UINT>{kWriteProtectEdit, kDistributorEdit};
    case kCommand14: return std::vector<UINT>{kSensorSerialEdit, kUpperLimitEdit, kLowerLimitEdit, kMinimumSpanEdit};
    case kLongTag: return std::vector<UINT>{kLongTagEdit};
    default: return std::nullopt;
  }
}

void CDevicePP::OnDeviceOnline() {
  // Shown before while no device answered: the fields still waiting are read now (a first show
  // reads everything anyway).
  if (m_bFirstShow || !m_hWndDialog) return;
  for (UINT id : kPlaceholderFields)
    if (vkr::dui::ShowsPlaceholder(m_hWndDialog, id)) {
      ReadDeviceInfo();
      return;
    }
}

HRESULT CDevicePP::OnSend() {
  // The writes wait for the device with the messages flowing: a second Send meanwhile would send
  // everything again.
  if (m_bSending) return S_FALSE;
  m_bSending = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_bSending};
  const CSendRun run(*this);
  if (!BeginSend()) return S_FALSE;

  // Entries that do not fit their device fields are marked; the first gets the focus and nothing
  // goes out.
  const bool fits = CheckAllEntries();
  if (FAILED(SetFocusToControl()) || !fits) {
    TellHeldBack();
    return S_FALSE;
  }

  auto modified = [this](LONG id) {
    const LONG index = FindParameterIndex(id);
    return index >= 0 && (m_pParInfo[index].m_nState & kStateChanged) != 0;
  };
  // A field still showing the placeholder holds nothing of the user's.
  auto placeholder = [this](UINT edit) { return vkr::dui::ShowsPlaceholder(m_hWndDialog, edit); };

  // Each change goes out as the DTM's write of its parameter (message: command 17, tag,
  // descriptor and date together: 18, final assembly number: 19, long tag: 22), so that the
  // device's confirmation decides and the data set keeps what the device took. The first write
  // the device does not confirm ends the Send, told on the message line; its entries and those
  // not yet sent stay as the user made them.
  HRESULT hr = S_OK;
  if (modified(kMessage) && !placeholder(kMessageEdit) && FAILED(hr = SendEntry(kMessage, {kMessage}))) return hr;
  if (modified(kFinalAssembly) && !placeholder(kFinalAssemblyEdit) &&
      FAILED(hr = SendEntry(kFinalAssembly, {kFinalAssembly})))
    return hr;
  if (modified(kTagDescriptorDate)) {
    // One record carries the five: one the device never gave is not made up.
    if (WriteNeedsUnread({kTag, kDescriptor, kDay, kMonth, kYear})) return E_FAIL;
    if (FAILED(hr = SendEntry(kTagDescriptorDate, {kTag, kDescriptor, kDay, kMonth, kYear}))) return hr;
  }
  if (modified(kLongTag) && !placeholder(kLongTagEdit) && FAILED(hr = SendEntry(kLongTag, {kLongTag}))) return hr;
  EndSend();
  SetDirty(FALSE);
  return RefreshDeviceInfo();
}

void CDevicePP::TellHeldBack() {
  // The entries that are not valid, each with what it holds; then the user's others, which the
  // Send did not write for them.
  std::vector<LONG> invalid;
  std::vector<std::u16string> invalidNames, others;
  auto add = [](std::vector<std::u16string>* names, const std::u16string& name) {
    if (!name.empty() && std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
  };
  for (LONG id : kSentEntries) {
    const LONG index = FindParameterIndex(id);
    if (index < 0) continue;
    const ULONG state = m_pParInfo[index].m_nState;
    if ((state & (kStateUsable | kStateInvalid)) == (kStateUsable | kStateInvalid) && !(state & kStateHidden)) {
      invalid.push_back(id);
      add(&invalidNames, EntryLabel(id));
    }
  }
  for (LONG id : kSentEntries)
    if (IsUserEntry(id) && std::find(invalidNames.begin(), invalidNames.end(), EntryLabel(id)) == invalidNames.end())
      add(&others, EntryLabel(id));
  std::u16string text = InvalidText(invalid);
  if (text.empty()) return;
  if (!others.empty()) {
    // Appended piece by piece: one long temporary chain trips the optimiser's overlap warning.
    text += u' ';
    text += JoinNames(others);
    text += others.size() == 1 ? u" was not sent: " : u" were not sent: ";
    text += JoinNames(invalidNames);
    text += invalidNames.size() == 1 ? u" holds an entry that is not valid." : u" hold entries that are not valid.";
  }
  // Each entry named here has its fate told: the Send's close names none of them again.
  std::vector<LONG> told = invalid;
  for (LONG id : kSentEntries)
    if (IsUserEntry(id)) told.push_back(id);
  NoteSendStop(told, vkr::dui::HoldsInvalidText(invalidNames));
  TellOnMessageLine(text);
}

// ---- Showing and hiding --------------------------------------------------------------------------

HRESULT CDevicePP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  const HRESULT hr = CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  // Before the reads the showing starts: a read that fails at once says so in the limits.
  ShowLimitPlaceholders();
  if (wParam != 0) {
    m_bPageVisible = true;
    if (m_bFirstShow) {
      // The DTM tells every open user interface of the trigger, this page included: the refresh
      // then runs from SetControlValueById.
      RequestFirstRefresh();
      m_bFirstShow = false;
    }
  } else {
    m_bPageVisible = false;
  }
  return hr;
}

void CDevicePP::ShowLimitPlaceholders() {
  // Limits once shown stay: switching pages does not read them again, and "Loading..." over a
  // known value, or over the word that their read failed, would tell the user something that is
  // not happening.
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  for (const auto& [edit, shown] : {std::pair{kUpperLimitEdit, m_bUpperLimitShown}, {kLowerLimitEdit, m_bLowerLimitShown}})
    if (!shown && vkr::dui::DialogItemText(m_hWndDialog, edit) != vkr::dui::kNotReadText)
      vkr::dui::SetLoadingText(m_hWndDialog, {edit});
  UpdatePlaceholders();
}

void CDevicePP::UpdatePlaceholders() {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  const bool mayCome = DeviceMayAnswer();
  for (UINT id : kPlaceholderFields) vkr::dui::MatchPlaceholders(m_hWndDialog, mayCome, {id});
  vkr::dui::MatchPlaceholders(m_hWndDialog, mayCome, {kUpperLimitEdit, kLowerLimitEdit});
  // The identification lives in the device: offline nothing of it can be written.
  LockDeviceEntries({kTagEdit, kLongTagEdit, kDescriptorEdit, kMessageEdit, kDayEdit, kMonthEdit, kYearEdit,
                     kFinalAssemblyEdit});
}

// ---- Keyboard and messages -----------------------------------------------------------------------

BOOL CDevicePP::HandleNavigationKey(MSG* message, ULONG* state) {
  const BOOL handled = CDevicePropertyPage::HandleNavigationKey(message, state);
  if (!message || message->message != WM_KEYDOWN) return handled;
  if (message->wParam == VK_RETURN) return TRUE;
  if (message->wParam == VK_TAB && handled) {
    HWND focus = ::GetFocus();
    const int id = focus ? ::GetDlgCtrlID(focus) : 0;
    if (id >= 368 && id <= 371) {
      const LONG style = ::GetWindowLongW(focus, GWL_STYLE);
      if ((style & 0x0F) != BS_DEFPUSHBUTTON) {
        ::SendMessageW(focus, BM_SETSTYLE, static_cast<WPARAM>((style & ~0x0FL) | BS_DEFPUSHBUTTON), TRUE);
        ::InvalidateRect(focus, nullptr, TRUE);
      }
    }
  }
  return handled;
}

BOOL CDevicePP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                     DWORD mapId) {
  if (mapId != 0) return FALSE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kFrameSendButton) {
    OnSend();
    result = 0;
    return TRUE;
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

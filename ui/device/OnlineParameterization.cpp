// The online parameterization frame.
#include "ui/device/OnlineParameterization.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace {

using namespace vkr::dui;

constexpr int kReadingRate = 10000;  // ms between two distance readings
// The frame's own sources of words on the message line (the pages' are their windows).
constexpr UINT_PTR kMessageIdentity = 1;
constexpr UINT_PTR kMessageFrameReads = 2;
constexpr ULONG kFunctionOnline = 1; // the DTM function greyed while the frame is open

// Layout, in pixels.
constexpr int kHeaderHeight = 105;
constexpr int kStatusHeight = 24;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonPitch = 91;
constexpr int kButtonRowFromBottom = 66;
// The message line: where it starts, and the height of its first two lines.
constexpr int kMessageLeft = 180;
constexpr int kMessageLinesHeight = 30;

constexpr const char kIdentityMessage[] =
    "Connected device is not a VKR device or a comm. problem exists. (Manufactuer ID: %02X[Hex], DeviceType: "
    "%04X[Hex])";

// The right header picture has a number of its own: 202 is the echo trace's toolbox bitmap. Items
// drawn above others come first: the values above their labels' spare width, the reading above its
// label's box.
constexpr const char kFrameTemplate[] = R"(
105 DIALOGEX 0, 0, 450, 360
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "#201", 576, "Static", SS_BITMAP | SS_CENTERIMAGE, 0, 0, 40, 62
  CONTROL "#203", 577, "Static", SS_BITMAP | SS_CENTERIMAGE, 370, 0, 67, 62
  LTEXT "Loading...", 585, 140, 12, 200, 9
  LTEXT "Loading...", 587, 140, 25, 267, 9
  LTEXT "Loading...", 583, 140, 37, 200, 9
  LTEXT "Device Name :", 578, 60, 12, 67, 9
  LTEXT "Device Description :", 579, 60, 25, 107, 9
  LTEXT "Device Tag :", 581, 60, 37, 67, 9
  CONTROL "OFFLINE", 688, "Static", SS_LEFT, 5, 288, 51, 12, WS_EX_CLIENTEDGE
  LTEXT "", 659, 61, 288, 47, 12
  CTEXT "Distance Reading:", 661, 5, 275, 104, 25
  LTEXT "", 6333, 120, 300, 300, 12
  PUSHBUTTON "Refresh", 356, 118, 318, 50, 14, WS_TABSTOP
  PUSHBUTTON "Send", 221, 179, 318, 50, 14, WS_TABSTOP
  PUSHBUTTON "Read", 335, 179, 318, 50, 14, WS_TABSTOP
  DEFPUSHBUTTON "Close", 289, 336, 318, 50, 14, WS_TABSTOP
  PUSHBUTTON "Help", 290, 397, 318, 50, 14, NOT WS_VISIBLE | WS_TABSTOP
  CONTROL "", 217, "VornDlgObjects.HeaderDisplay", 0, 0, 0, 450, 65
  CONTROL "", 218, "VornDlgObjects.StatusDisplay", 0, 0, 345, 450, 15, 0, "c3450000 7b020000 00000000 00000000"
END
)";

// Only the status display takes the DTM's translation.
constexpr UINT kTranslatedDisplays[] = {kOnlineStatusDisplay, 0};

SCompositeControlClass FrameClass() {
  SCompositeControlClass cls;
  cls.dialogId = kOnlineFrameDialogId;
  cls.templateText = kFrameTemplate;
  cls.hostedDisplayControls = kTranslatedDisplays;
  cls.controlNames = kOnlineParameterizationControlNames;
  return cls;
}

VARIANT Id(LONG id) { return vkr::UI4(static_cast<ULONG>(id)); }
VARIANT Byte(BYTE n) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = n;
  return v;
}
VARIANT Word(USHORT n) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI2;
  v.uiVal = n;
  return v;
}
VARIANT Single(float n) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = n;
  return v;
}

template <class I>
vkr::ComPtr<I> Query(IUnknown* object) {
  vkr::ComPtr<I> found;
  if (object && FAILED(object->QueryInterface(I::iid, found.PutVoid()))) found = nullptr;
  return found;
}

// A window is one of the button row's when it may take the focus.
bool IsUsable(HWND button) { return button && ::IsWindowVisible(button) && ::IsWindowEnabled(button); }

}  // namespace

COnlineParameterization::COnlineParameterization()
    : CovFDT_WtlTreePPFrameImpl(CLSID_OnlineParameterization, &COnlineParameterization::GetParameterMap,
                                FrameClass()) {}

COnlineParameterization::~COnlineParameterization() = default;

CActXParInfo* COnlineParameterization::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(kParDevice, "Device", kOnlineHeaderDisplay, "%s", 113),
      CActXParInfo(kParDeviceType, "DeviceType", kOnlineHeaderDisplay, "%s", 113),
      CActXParInfo(kParButtonRefresh, "Button Refresh", 0, "", 0),
      CActXParInfo(kParButtonSend, "Button Send", 0, "", 0),
      CActXParInfo(kParButtonRead, "Button Read", 0, "", 0),
      CActXParInfo(1044, "Activate Button Refresh", 0, "", 0),
      CActXParInfo(kParActivateButtonSend, "Activate Button Send", 0, "", 0),
      CActXParInfo(1046, "Activate Button Read", 0, "", 0),
      CActXParInfo(kParTagOnlyStatic, "Tag only static", kOnlineTag, "%s", 0, FALSE, 1),
      CActXParInfo(kParTagOnly, "Tag only", 0, "", 0),
      CActXParInfo(kParCommand1Complete, "Command 1 complete", 0, "", 0),
      CActXParInfo(kParCurrentReading, "Current reading", 0, "", 0),
      CActXParInfo(kParCommand0Complete, "Command 0 complete", 0, "", 113),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = CountParameterEntries(table);
    return table;
  }
  return CopyParameterTable(table, count);
}

const std::vector<CLSID>& COnlineParameterization::PageClasses() {
  static const std::vector<CLSID> pages = {CLSID_CommandPP, CLSID_ProcessPP, CLSID_ValuesPP,   CLSID_DevicePP,
                                           CLSID_AdvancedPP, CLSID_StatusPP, CLSID_HartPP,     CLSID_DiagPP,
                                           CLSID_InfoPP,     CLSID_EchoPP};
  return pages;
}

std::vector<CLSID> COnlineParameterization::PropertyMap() const { return PageClasses(); }

void* COnlineParameterization::FindInterface(REFIID riid) {
  if (riid == ISomeInterface::iid) return static_cast<ISomeInterface*>(this);
  if (riid == IovFdtTranslationEvent::iid) return static_cast<IovFdtTranslationEvent*>(this);
  return CovFDT_WtlTreePPFrameImpl::FindInterface(riid);
}

HRESULT COnlineParameterization::GetTypeInfoCount(UINT* count) {
  return CovFDT_WtlTreePPFrameImpl::GetTypeInfoCount(count);
}
HRESULT COnlineParameterization::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_WtlTreePPFrameImpl::GetTypeInfo(index, lcid, info);
}
HRESULT COnlineParameterization::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_WtlTreePPFrameImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT COnlineParameterization::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_WtlTreePPFrameImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

HRESULT COnlineParameterization::FinalConstruct() {
  m_anControlIds = {CPageFrameHorSplitter::kPageAreaId, 0, kOnlineClose, 0, kOnlineHelp, kPageTreeId};
  m_bAskApply = 0;
  m_bAutoSize = 0;
  return S_OK;
}

HRESULT COnlineParameterization::OnTranslate(ULONG lcid) {
  const HRESULT hr = TranslationPart() ? TranslationPart()->OnTranslate(lcid) : S_OK;
  // The tree takes its titles from the pages' information, which the pages translate.
  if (lcid != 0 && m_bPagesCreated) RebuildPageSelector();
  return hr;
}

// ===== Start and release ============================================================================

HRESULT COnlineParameterization::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  if (!dtm) return E_POINTER;

  m_headerFont.Create("Ms Sans Serif", 12, 600);
  m_headerFont.SetOn(m_hWnd, {kOnlineNameLabel, kOnlineName, kOnlineDescriptionLabel, kOnlineDescription,
                              kOnlineTagLabel, kOnlineTag});
  SetItemText(kOnlineNameLabel, "Device Name :");
  SetItemText(kOnlineName, "Brevant Guided Radar (VKR)");
  SetItemText(kOnlineDescriptionLabel, "Device Description :");
  SetItemText(kOnlineDescription, "Guided Radar Continous level measurement with 4-20 mA and HART");
  struct Place {
    UINT id;
    int x, y, width, height;
  };
  for (const Place& p : {Place{kOnlineNameLabel, 90, 20, 100, 15}, Place{kOnlineDescriptionLabel, 90, 40, 160, 15},
                         Place{kOnlineTagLabel, 90, 60, 100, 15}, Place{kOnlineName, 210, 20, 300, 15},
                         Place{kOnlineDescription, 210, 40, 400, 15}, Place{kOnlineTag, 210, 60, 300, 15}}) {
    if (HWND item = GetDlgItem(static_cast<int>(p.id))) {
      ::ShowWindow(item, SW_SHOW);
      ::MoveWindow(item, p.x, p.y, p.width, p.height, TRUE);
    }
  }

  vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(dtm);
  if (!base) return E_NOINTERFACE;
  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);

  EnableDeviceButtons(FALSE);
  const HRESULT started = CovFDT_WtlTreePPFrameImpl::Init(instanceId, functionCall, dtm, result);
  // A frame that did not start is let go without PrepareToRelease: it must hold nothing (no
  // count, no greyed function, no online request) that only a release would give back.
  if (started != S_OK || !*result) return started;

  // A message loop inside a call to the DTM below may run a close of this frame: it is released
  // then (its release gives back what the steps before had taken) and the start stops there.
  auto stopped = [&] {
    if (IsStarted()) return false;
    if (m_bFunctionDisabled) {
      CallActiveXContainer(kFunctionOnline, 1);
      m_bFunctionDisabled = false;
    }
    *result = VARIANT_FALSE;
    return true;
  };
  if (static_cast<ULONG>(state) == kDtmStateOnline) {
    EnableDeviceButtons(!m_bIdentityRefused);
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = m_spDtm ? m_spDtm->ReadDeviceParameter(Id(kParTagOnly), &done) : E_POINTER;
    if (stopped()) return S_FALSE;
    if (SUCCEEDED(hr)) hr = m_spDtm->ReadDeviceParameter(Id(kParCommand1Complete), &done);
    if (stopped()) return S_FALSE;
    if (FAILED(hr)) {
      // Nothing of the steps below was done; the frame's own start is undone, so that the
      // container does not keep a user interface the frame application lets go.
      VARIANT_BOOL released = VARIANT_FALSE;
      CovFDT_WtlTreePPFrameImpl::PrepareToRelease(&released);
      *result = VARIANT_FALSE;
      return hr;
    }
  }
  if (SUCCEEDED(CallActiveXContainer(kFunctionOnline, 0))) m_bFunctionDisabled = true;
  if (stopped()) return S_FALSE;

  if (HWND close = GetDlgItem(kOnlineClose)) {
    ::SetFocus(close);
    ::SendMessageA(close, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  }
  // Asks the DTM to go online when it is not, and counts this user interface in.
  m_usage.CountIn(*this, static_cast<ULONG>(state));
  if (stopped()) {
    // Counted in after the release counted out: the count goes back.
    m_usage.CountOut(*this, CurrentDtmState());
    return S_FALSE;
  }

  m_readingFont.Create("Ms Sans Serif", 16, 600);
  m_readingFont.SetOn(m_hWnd, {kOnlineReadingLabel, kOnlineReading, kOnlineReadingUnit});
  SetItemText(kOnlineReadingLabel, "Distance Reading:");
  SetItemText(kOnlineReading, "OFFLINE");
  SetItemText(kOnlineReadingUnit, "");

  ChangeUpdateRate(kParCommand1Complete, kReadingRate);
  UpdateTagPlaceholder();
  return started;
}

HRESULT COnlineParameterization::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  const ULONG state = CurrentDtmState();
  // Only what this frame counted in is counted out; only then may it take the DTM offline.
  m_usage.CountOut(*this, state);
  // The DTM's function 1 comes back when this frame greyed it and the DTM still has its channel
  // (without one the DTM keeps the function greyed itself).
  if (m_bFunctionDisabled && state >= kDtmStateCommunicationSet) {
    CallActiveXContainer(kFunctionOnline, 1);
    m_bFunctionDisabled = false;
  }
  ChangeUpdateRate(kParCommand1Complete, 0);
  return CovFDT_WtlTreePPFrameImpl::PrepareToRelease(result);
}

ULONG COnlineParameterization::CurrentDtmState() const {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  if (vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(dtm)) {
    EDtmState state = dsUNDEFINED;
    if (SUCCEEDED(base->GetDTMState(&state))) return static_cast<ULONG>(state);
  }
  return m_nDtmState;
}

// ===== Values from the DTM ==========================================================================

HRESULT COnlineParameterization::OnDtmStateChanged(ULONG state) {
  const bool wasOnline = m_nDtmState == kDtmStateOnline;
  const HRESULT hr = CovFDT_BaseActiveXImpl::OnDtmStateChanged(state);
  if (FAILED(hr)) return hr;
  const bool isOnline = state == kDtmStateOnline;
  // A device that did not identify as this DTM's stays without device buttons.
  if (wasOnline && !isOnline) {
    EnableDeviceButtons(FALSE);
    // What the device showed is not its state any more: the reading and the tag wait again, and
    // what could not be read of it is over.
    m_bReadingShown = false;
    m_bTagRead = false;
    SetItemText(kOnlineReading, "OFFLINE");
    SetItemText(kOnlineReadingUnit, "");
    SetItemText(kOnlineTag, kLoadingText);
    m_frameReadFailures.clear();
    ShowFrameReadFailures();
  }
  if (!wasOnline && isOnline) EnableDeviceButtons(!m_bIdentityRefused);
  UpdateTagPlaceholder();
  return hr;
}

void COnlineParameterization::UpdateTagPlaceholder() {
  const ULONG state = CurrentDtmState();
  MatchPlaceholders(m_hWnd, state == kDtmStateOnline || state == kDtmStateGoingOnline, {kOnlineTag});
}

HRESULT COnlineParameterization::SetControlValueById(LONG id, VARIANT value) {
  if (id < kParCommand0Complete || id > kParTagOnlyStatic)
    return CovFDT_WtlTreePPFrameImpl::SetControlValueById(id, value);
  // Values that arrive before the start or after the release have no DTM to go to.
  auto store = [&](LONG target, const VARIANT& stored) {
    if (m_spDtm) m_spDtm->SetParameterValue(Id(target), stored);
  };
  switch (id) {
    case kParCommand0Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      // No answer yet (the DTM's value before the device was read): nothing to check. Only a
      // device names a device: not online, the value is the data set's, which no device gave.
      if (bytes.empty() || CurrentDtmState() != kDtmStateOnline) return S_OK;
      // Without manufacturer and device type no device named itself: the answer was lost.
      if (bytes.size() < 3) {
        RetryIdentity(SDeviceOutcome{EDeviceOutcome::Lost});
        return S_OK;
      }
      // An answer after the lost ones: their word goes.
      if (m_nIdentityRetries >= 2) ForgetFrameReadFailure(kParCommand0Complete);
      m_nIdentityRetries = 0;
      const CByteReader answer(bytes);
      if (auto manufacturer = answer.U8(1)) store(kParManufacturerCode, Byte(*manufacturer));
      if (auto type = answer.U16(1)) store(kParDeviceTypeCode, Word(*type));
      if (Query<IovFdtActiveXContainer>(m_spDtm.Get())) CheckIdentity(bytes.data(), bytes.size());
      return S_OK;
    }
    case kParCommand1Complete: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const CByteReader answer(bytes);
      const std::optional<float> reading = answer.Float(1);
      // The unit names the reading beside it: a unit without a reading leaves a reading shown
      // under the unit it came in.
      if (auto unit = answer.U8(0); unit && (reading || !m_bReadingShown))
        SetItemText(kOnlineReadingUnit, *unit == kLengthUnitFeet ? "feet" : LengthUnitLabel(*unit).c_str());
      if (reading) {
        m_bReadingShown = true;
        char text[64] = {};
        std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*reading));
        SetItemText(kOnlineReading, text);
        store(kParCurrentReading, Single(*reading));
      }
      return S_OK;
    }
    case kParActivateButtonSend: {
      // A page's edit brings Send back, but never for a device that is not this DTM's nor while
      // the DTM is not online.
      LONG on = 0;
      if (ReadNumber(value, &on) && on != 0 && !m_bIdentityRefused && CurrentDtmState() == kDtmStateOnline)
        if (HWND send = GetDlgItem(kOnlineSend)) ::EnableWindow(send, TRUE);
      return S_OK;
    }
    case kParTagOnly: {
      std::vector<BYTE> bytes;
      const HRESULT hr = ResponseBytes(value, &bytes);
      if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
      const std::optional<std::string> tag = CByteReader(bytes).PackedAscii(0, 6);
      if (!tag) return S_OK;
      const vkr::Bstr text(vkr::Utf8ToUtf16(*tag));
      m_bTagRead = true;
      store(kParTagOnlyStatic, vkr::TextVariant(text.Get()));
      return S_OK;
    }
    case kParTagOnlyStatic: {
      // Offline the tag is the data set's, not the device's: the field says why it has none. Online
      // it is the device's once its answer came.
      if (value.vt != VT_BSTR || CurrentDtmState() != kDtmStateOnline || !m_bTagRead) return S_OK;
      const int length = static_cast<int>(SysStringLen(value.bstrVal));
      std::string text(static_cast<size_t>(length) * 2 + 1, '\0');
      const int n = length ? ::WideCharToMultiByte(CP_ACP, 0, value.bstrVal, length, text.data(),
                                                   static_cast<int>(text.size()) - 1, nullptr, nullptr)
                           : 0;
      text.resize(n > 0 ? static_cast<size_t>(n) : 0);
      SetItemText(kOnlineTag, text.c_str());
      return S_OK;
    }
    default:
      // The triggers and the other ids of the range need nothing of the frame.
      return S_OK;
  }
}

HRESULT COnlineParameterization::ExecuteCommand(VARIANT command, VARIANT argument) {
  LONG id = -1;
  SDeviceOutcome outcome;
  if (DecodeDeviceFailure(command, argument, &id, &outcome) && CurrentDtmState() == kDtmStateOnline) {
    if (id == kParCommand0Complete) RetryIdentity(outcome);
    if (id == kParCommand1Complete || id == kParTagOnly) TellFrameReadFailed(id, outcome);
    // The reads the channel did not take before the DTM learnt why were lost with the link.
    bool lost = false;
    for (auto& [read, why] : m_frameReadFailures)
      if (outcome.kind == EDeviceOutcome::LinkGone && why.kind == EDeviceOutcome::NotTaken) {
        why = outcome;
        lost = true;
      }
    if (lost) ShowFrameReadFailures();
  }
  return CovFDT_WtlTreePPFrameImpl::ExecuteCommand(command, argument);
}

void COnlineParameterization::RetryIdentity(const SDeviceOutcome& why) {
  if (!m_spDtm || CurrentDtmState() != kDtmStateOnline) return;
  // The first reason the DTM gave says most (a short answer only that something was lost).
  if (m_nIdentityRetries == 0 || (m_identityLoss.kind == EDeviceOutcome::Lost && why.kind != EDeviceOutcome::Lost))
    m_identityLoss = why;
  if (m_nIdentityRetries < 2) {
    ++m_nIdentityRetries;
    // A read that does not even go out is lost at once.
    if (const SDeviceOutcome sent = StartDeviceRead(m_spDtm.Get(), kParCommand0Complete); !sent.Ok())
      RetryIdentity(sent);
    return;
  }
  NoteFrameReadFailure(kParCommand0Complete, m_identityLoss);
}

void COnlineParameterization::CheckIdentity(const BYTE* bytes, size_t count) {
  const CByteReader answer(std::span<const BYTE>(bytes, count));
  const std::optional<BYTE> manufacturer = answer.U8(1), type = answer.U8(2);
  if (!manufacturer || !type) return;
  if (*manufacturer == kExpectedManufacturerCode && *type == kExpectedDeviceTypeCode) {
    // This DTM's device: a device refused before has gone, its message with it.
    if (m_bIdentityRefused) {
      m_bIdentityRefused = false;
      SetMessage("");
      if (CurrentDtmState() == kDtmStateOnline) EnableDeviceButtons(TRUE);
    }
    return;
  }
  // Another device, or an answer too short to tell: no device work with it. The codes shown are
  // those the answer holds (0 where it ends).
  m_bIdentityRefused = true;
  EnableDeviceButtons(FALSE);
  const unsigned deviceType = (static_cast<unsigned>(manufacturer.value_or(0)) << 8) | type.value_or(0);
  char text[256] = {};
  std::snprintf(text, sizeof text, kIdentityMessage, static_cast<unsigned>(manufacturer.value_or(0)), deviceType);
  SetMessage(text);
}

// ===== Buttons, keyboard and layout =================================================================

void COnlineParameterization::EnableDeviceButtons(BOOL enable) {
  for (UINT id : {kOnlineRefresh, kOnlineSend, kOnlineRead})
    if (HWND button = GetDlgItem(static_cast<int>(id))) ::EnableWindow(button, enable);
}

void COnlineParameterization::SetMessage(const char* text) {
  SetMessageOf(kMessageIdentity, vkr::Utf8ToUtf16(text ? text : ""));
}

void COnlineParameterization::SetMessageOf(UINT_PTR source, const std::u16string& text) {
  const auto at = std::find_if(m_messages.begin(), m_messages.end(), [&](const auto& m) { return m.first == source; });
  if (at != m_messages.end()) {
    if (text.empty())
      m_messages.erase(at);
    else
      at->second = text;
  } else if (!text.empty()) {
    m_messages.emplace_back(source, text);
  }
  ShowMessages();
}

void COnlineParameterization::ShowMessages() {
  std::u16string line;
  for (const auto& [from, words] : m_messages) {
    // A device that is not this DTM's: its message alone.
    if (m_bIdentityRefused && from != kMessageIdentity) continue;
    // A page's words while it is shown (they come back with it).
    const bool own = from == kMessageIdentity || from == kMessageFrameReads;
    if (!own && !(::GetWindowLongW(reinterpret_cast<HWND>(from), GWL_STYLE) & WS_VISIBLE)) continue;
    line += (line.empty() ? u"" : u" ") + words;
  }
  HWND item = GetDlgItem(kOnlineMessage);
  if (!item) return;
  ::SetWindowTextW(item, line.c_str());
  PlaceMessageLine();
}

void COnlineParameterization::PlaceMessageLine() {
  HWND item = GetDlgItem(kOnlineMessage);
  if (!m_hWnd || !item) return;
  RECT frame{};
  ::GetWindowRect(m_hWnd, &frame);
  const int width = std::max(0, static_cast<int>(frame.right - frame.left) - 2 - kMessageLeft);
  const int bottom = static_cast<int>(frame.bottom - frame.top) - kButtonRowFromBottom - 1;
  const std::u16string text = vkr::Utf8ToUtf16(vkr::ui::WindowText(item));
  int height = kMessageLinesHeight;
  if (!text.empty() && width > 0) {
    // A message longer than two lines would be cut off: the line grows upwards over the page
    // area's lower edge, where the pages keep nothing.
    HDC dc = ::GetDC(item);
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageW(item, WM_GETFONT, 0, 0));
    const HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
    RECT needed{0, 0, width, 0};
    ::DrawTextW(dc, reinterpret_cast<LPCWSTR>(text.c_str()), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    if (old) ::SelectObject(dc, old);
    ::ReleaseDC(item, dc);
    height = std::clamp(static_cast<int>(needed.bottom) + 2, kMessageLinesHeight, 2 * kMessageLinesHeight);
  }
  ::MoveWindow(item, kMessageLeft, bottom - height, width, height, TRUE);
  ::ShowWindow(item, text.empty() ? SW_HIDE : SW_SHOW);
}

void COnlineParameterization::TellFrameReadFailed(LONG id, const SDeviceOutcome& outcome) {
  if (id == kParTagOnly) {
    // A tag shown before is the device's all the same; only a field still waiting says why.
    if (!m_bTagRead) SetItemText(kOnlineTag, kNotReadText);
  } else {
    // The reading shown last is no longer the device's now.
    m_bReadingShown = false;
    SetItemText(kOnlineReading, kNotReadText);
    SetItemText(kOnlineReadingUnit, "");
  }
  NoteFrameReadFailure(id, outcome);
}

void COnlineParameterization::NoteFrameReadFailure(LONG id, const SDeviceOutcome& outcome) {
  if (std::any_of(m_frameReadFailures.begin(), m_frameReadFailures.end(), [&](const auto& f) { return f.first == id; }) &&
      outcome.kind != EDeviceOutcome::LinkGone)
    return;  // told
  std::erase_if(m_frameReadFailures, [&](const auto& f) { return f.first == id; });
  m_frameReadFailures.emplace_back(id, outcome);
  ShowFrameReadFailures();
}

void COnlineParameterization::ForgetFrameReadFailure(LONG id) {
  std::erase_if(m_frameReadFailures, [&](const auto& f) { return f.first == id; });
  ShowFrameReadFailures();
}

void COnlineParameterization::ShowFrameReadFailures() {
  // One sentence for the frame's reads, with the first reason.
  std::vector<std::u16string> names;
  for (const auto& [id, outcome] : m_frameReadFailures)
    names.push_back(id == kParTagOnly            ? u"the device tag"
                    : id == kParCommand1Complete ? u"the distance reading"
                                                 : u"the device's identity");
  std::u16string text;
  if (!names.empty()) {
    // A lost connection says more than the requests it kept from the device.
    SDeviceOutcome why = m_frameReadFailures.front().second;
    for (const auto& [id, outcome] : m_frameReadFailures)
      if (outcome.kind == EDeviceOutcome::LinkGone) why = outcome;
    text = NotReadText(names, why);
    text[0] = u'T';
  }
  SetMessageOf(kMessageFrameReads, text);
}

HRESULT COnlineParameterization::ReadParameter(LONG index) {
  const CActXParInfo* table = ParameterTable();
  if (!table || index < 0 || static_cast<ULONG>(index) >= ParameterCount()) return E_INVALIDARG;
  const LONG id = table[index].m_nParamId;
  if (id != kParCommand0Complete && id != kParCommand1Complete && id != kParTagOnly)
    return CovFDT_WtlTreePPFrameImpl::ReadParameter(index);
  // The data set holds no answer of the device here, only the length of one: only the device's
  // own answer is shown.
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info || CurrentDtmState() != kDtmStateOnline) return S_OK;
  vkr::Variant answer;
  auto deviceValue = [&] { return SUCCEEDED(info->GetParameterField(Id(id), vkr::I4(0x200000), answer.Put())); };
  if (!deviceValue()) return S_OK;
  // None yet: the device is asked.
  if (answer.vt == VT_EMPTY && table[index].m_bNoDeviceRead == 0) {
    const unsigned long long mark = DeviceFailureMark();
    const HRESULT hr = ReadDeviceParameterEx(id);
    if (FAILED(hr)) {
      // The same words as when the DTM reports the failure; a read the channel did not take it
      // does not report.
      const SDeviceOutcome outcome = OutcomeAfter(hr, false, mark, id);
      if (id == kParCommand0Complete)
        RetryIdentity(outcome);
      else
        TellFrameReadFailed(id, outcome);
      return S_OK;
    }
    if (!deviceValue()) return S_OK;
  }
  return answer.vt == VT_EMPTY ? S_OK : SetControlValueById(id, answer);
}

HRESULT COnlineParameterization::RefreshParameter(LONG id) {
  if (id == kParCommand1Complete || id == kParTagOnly) ForgetFrameReadFailure(id);
  return CovFDT_WtlTreePPFrameImpl::RefreshParameter(id);
}

void COnlineParameterization::SetItemText(UINT id, const char* text) {
  if (HWND item = GetDlgItem(static_cast<int>(id))) ::SetWindowTextA(item, text);
}

int COnlineParameterization::DeviceButtonCount(LONG index) {
  switch (index) {
    case 0:
    case 1:
    case 3:
    case 4:
    case 6:
      return 2;
    case 5:
    case 9:
      return 1;
    default:
      return 0;
  }
}

void COnlineParameterization::UpdateLayout() {
  if (!m_hWnd) return;
  RECT frame{};
  ::GetWindowRect(m_hWnd, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  auto place = [&](UINT id, int x, int y, int w, int h, bool show) {
    HWND item = GetDlgItem(static_cast<int>(id));
    if (!item) return;
    ::MoveWindow(item, x, y, w, h, TRUE);
    ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
  };
  auto hide = [&](UINT id) {
    if (HWND item = GetDlgItem(static_cast<int>(id))) ::ShowWindow(item, SW_HIDE);
  };

  if (m_hStatusCtl) ::MoveWindow(m_hStatusCtl, 0, height - kStatusHeight, width, kStatusHeight, TRUE);
  if (m_hHeaderCtl) ::MoveWindow(m_hHeaderCtl, 0, 0, width, kHeaderHeight, TRUE);
  place(kOnlineLeftPicture, 0, 0, 60, 100, true);
  place(kOnlineRightPicture, width - 120, 0, 100, 100, true);
  for (UINT id : {kOnlineRightPicture, kOnlineNameLabel, kOnlineDescriptionLabel, kOnlineTagLabel, kOnlineName,
                  kOnlineDescription, kOnlineTag})
    if (HWND item = GetDlgItem(static_cast<int>(id))) ::RedrawWindow(item, nullptr, nullptr, RDW_INVALIDATE);

  const LONG page = m_nCurrentIndex;
  const int count = DeviceButtonCount(page);
  const bool read = page == 5;
  const bool refreshAndSend = count == 2;
  const int y = height - kButtonRowFromBottom;
  int x = width - 79;
  if (width < (count + 2) * kButtonPitch - 8) x = (count + 2) * kButtonPitch - 87;
  if (y >= kHeaderHeight) {
    // The start slot stays free (Help is hidden); Close one pitch to its left, the device
    // buttons to the left of Close but never right of the page side's left edge.
    hide(kOnlineHelp);
    const int closeX = x - kButtonPitch;
    place(kOnlineClose, closeX, y, kButtonWidth, kButtonHeight, true);
    const int splitter = m_wndVertSplitter.m_hWnd ? m_wndVertSplitter.GetSplitterPos() : 0;
    const int bound = std::max(count > 0 ? splitter + 7 + (count - 1) * kButtonPitch : splitter + 7, 95);
    const int first = std::min(closeX - kButtonPitch, bound);
    if (read) {
      place(kOnlineRead, first, y, kButtonWidth, kButtonHeight, true);
    } else {
      hide(kOnlineRead);
    }
    if (refreshAndSend) {
      place(kOnlineSend, first, y, kButtonWidth, kButtonHeight, true);
      place(kOnlineRefresh, first - kButtonPitch, y, kButtonWidth, kButtonHeight, true);
    } else {
      hide(kOnlineSend);
      hide(kOnlineRefresh);
    }
  } else {
    for (UINT id : {kOnlineClose, kOnlineHelp, kOnlineRefresh, kOnlineSend, kOnlineRead}) hide(id);
  }

  if (m_wndVertSplitter.m_hWnd)
    ::MoveWindow(m_wndVertSplitter.m_hWnd, 2, 107, std::max(0, width - 4), std::max(0, height - 187), TRUE);
  place(kOnlineReadingLabel, 7, y - 70, 156, 40, true);
  place(kOnlineReading, 7, y - 50, 76, 20, true);
  place(kOnlineReadingUnit, 91, y - 50, 70, 20, true);
  // The message line ends with the page side (it would run past the frame's edge) and has room
  // for a second line at least, so that the identity message shows whole, the codes at its end
  // included. It lies over the page area's lower edge, where a wide page has its scroll bar: it is
  // shown only while it has something to say.
  PlaceMessageLine();
}

HRESULT COnlineParameterization::OnMessageMediatorEvent(MSG* message) {
  if (!message || !m_hWnd || message->message != WM_KEYDOWN || ::GetKeyState(VK_MENU) < 0)
    return CovFDT_WtlTreePPFrameImpl::OnMessageMediatorEvent(message);
  HWND focus = ::GetFocus();
  if (!focus || (focus != m_hWnd && !::IsChild(m_hWnd, focus)))
    return CovFDT_WtlTreePPFrameImpl::OnMessageMediatorEvent(message);
  // The button row: the device buttons, then OK, Cancel (Close), Apply and Help.
  std::array<HWND, 7> row{GetDlgItem(kOnlineRefresh), GetDlgItem(kOnlineSend), GetDlgItem(kOnlineRead),
                          FrameControl(kFrameOk),     FrameControl(kFrameCancel), FrameControl(kFrameApply),
                          FrameControl(kFrameHelp)};
  const WPARAM key = message->wParam;

  if (key == VK_RETURN && !IsInPageArea(focus)) {
    for (HWND button : {row[0], row[1], row[2]}) {
      if (!button || !::IsWindowVisible(button)) continue;
      if ((static_cast<DWORD>(::GetWindowLongW(button, GWL_STYLE)) & BS_TYPEMASK) != BS_DEFPUSHBUTTON) continue;
      ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
      return S_OK;
    }
    return CovFDT_WtlTreePPFrameImpl::OnMessageMediatorEvent(message);
  }
  if (key != VK_TAB || ::GetKeyState(VK_CONTROL) < 0) return CovFDT_WtlTreePPFrameImpl::OnMessageMediatorEvent(message);

  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  HWND forward = nullptr, backward = nullptr;
  for (HWND button : row) {
    if (!IsUsable(button)) continue;
    if (!forward) forward = button;
    backward = button;
  }
  HWND tree = TreeWindow();
  if (!shift && focus == backward && tree) {
    ::SetFocus(tree);
    SetDefaultButton(TRUE);
    return S_OK;
  }
  if (shift && focus == tree && backward) {
    ::SetFocus(backward);
    SetDefaultButton(FALSE);
    return S_OK;
  }
  // Inside the row: the next usable button in the row's order.
  const auto at = std::find(row.begin(), row.end(), focus);
  if (at != row.end() && !(shift && focus == forward)) {
    const std::ptrdiff_t step = shift ? -1 : 1;
    for (std::ptrdiff_t i = (at - row.begin()) + step; i >= 0 && i < static_cast<std::ptrdiff_t>(row.size()); i += step) {
      if (!IsUsable(row[static_cast<size_t>(i)])) continue;
      ::SetFocus(row[static_cast<size_t>(i)]);
      return S_OK;
    }
  }
  if (IsInPageArea(focus) || (!shift && focus == tree) || (shift && focus == forward)) {
    const HRESULT page = m_pCurrentPage ? m_pCurrentPage->TranslateAccelerator(message) : S_FALSE;
    if (page == S_OK) return S_OK;
    if (page == S_FALSE && m_pCurrentPage) {
      SetDefaultButton(TRUE);
      return S_OK;
    }
  }
  return ::IsDialogMessageW(m_hWnd, message) ? S_OK : S_FALSE;
}

BOOL COnlineParameterization::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                   LRESULT* result) {
  if (message == kMessageLineText) {
    // A page's words, kept beside the others' (the source: the page's window).
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    SetMessageOf(static_cast<UINT_PTR>(wParam), text ? std::u16string(text) : std::u16string());
    *result = 1;
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    LONG trigger = 0;
    switch (LOWORD(wParam)) {
      case kOnlineRefresh:
        trigger = kParButtonRefresh;
        break;
      case kOnlineSend:
        trigger = kParButtonSend;
        break;
      case kOnlineRead:
        trigger = kParButtonRead;
        break;
      default:
        break;
    }
    if (trigger) {
      // The pages that show the trigger act when the DTM reports it back; the frame does not
      // pass the click on itself (one device action per click). While they act (a Send waits for
      // the device's answers) the frame is not let go: a close then keeps it open.
      const bool outer = !m_bApplying;
      m_bApplying = true;
      SetDtmParameterValue(trigger, vkr::I4(1));
      if (outer) m_bApplying = false;
      *result = 0;
      return TRUE;
    }
  }
  if (message == WM_NOTIFY && lParam) {
    const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
    if (notify->idFrom == kPageTreeId && notify->code == TVN_SELCHANGEDA) {
      const BOOL handled = CovFDT_WtlTreePPFrameImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
      // The button row depends on the page, and the message line shows the page's words.
      UpdateLayout();
      ShowMessages();
      return handled;
    }
  }
  return CovFDT_WtlTreePPFrameImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

// CDevicePropertyPage: the bodies the device pages share (see DevicePage.h).
#include "ui/device/DevicePage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "communication/HartResponseTexts.h"
#include "include/DtmMessages.h"
#include "include/ParameterHandlerInterfaces.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/EntryLimits.h"
#include "ui/device/kit/LengthUnits.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/device/kit/UserMessage.h"

namespace {

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> result;
  if (object) object->QueryInterface(Interface::iid, result.PutVoid());
  return result;
}

// Information fields of IovFdtParameterInfo.
constexpr LONG kFieldExists = static_cast<LONG>(0x80000000);
constexpr LONG kFieldReadFromDevice = 0x1;
constexpr LONG kFieldValue = 0x200000;
// The status bit of a parameter whose value the data set does not hold.
constexpr ULONG kFlagNotHeld = 0x200;

// The edits and the unit combo whose changes enable the frame's Send (Process page's dialog).
constexpr UINT kUpperRangeEdit = 395;
constexpr UINT kLowerRangeEdit = 397;
constexpr UINT kDampingEdit = 399;
constexpr UINT kUnitCombo = 381;

HRESULT InfoField(IovFdtParameterInfo* info, LONG id, LONG field, VARIANT* answer) {
  VariantClear(answer);
  return info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(field), answer);
}

// The HART command that writes a parameter the pages send (its own response codes' meanings).
std::optional<BYTE> WriteCommandOf(LONG id) {
  switch (id) {
    case 1107:  // polling address
    case 1108:  // loop current mode
      return 6;
    case vkr::dui::kParMessage: return 17;
    case vkr::dui::kParDescriptorTagDate: return 18;
    case vkr::dui::kParFinalAssemblyNumber: return 19;
    case vkr::dui::kParLongTag: return 22;
    case vkr::dui::kParDamping: return 34;
    case vkr::dui::kParUpperRange:
    case vkr::dui::kParLowerRange:
    case vkr::dui::kParRangeValues: return 35;
    case vkr::dui::kParPvUnit: return 44;
    case vkr::dui::kParSpCmd1:
    case vkr::dui::kParDisplayMode:
    case vkr::dui::kParTracking:
    case vkr::dui::kParDielectric:
    case vkr::dui::kParFailSafe:
    case vkr::dui::kParFailTime: return 136;
    case vkr::dui::kParSpCmd2:
    case 1074:  // sensitivity
    case 1076:  // analog mode
    case vkr::dui::kParBlanking:
    case vkr::dui::kParDistanceOffset: return 138;
    default: return std::nullopt;
  }
}

// An answer that names nothing: empty, false or zero.
bool IsNone(const VARIANT& answer) {
  if (answer.vt == VT_EMPTY || answer.vt == VT_NULL) return true;
  if (answer.vt == VT_BOOL) return answer.boolVal == VARIANT_FALSE;
  LONG number = 0;
  return CovFDT_BaseActiveXImpl::ReadNumber(answer, &number) && number == 0;
}

// The window text of a control, whole.
std::u16string WindowTextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

bool IsLabel(HWND window) {
  char name[16] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (std::string(name) != "Static") return false;
  // Pictures and icons name nothing.
  const LONG kind = ::GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK;
  return kind != SS_BITMAP && kind != SS_ICON;
}

// The text as a sentence: its first letter capital.
std::u16string Sentence(std::u16string text) {
  if (!text.empty() && text[0] >= u'a' && text[0] <= u'z') text[0] = static_cast<char16_t>(text[0] - u'a' + u'A');
  return text;
}

std::string Ansi(const vkr::Bstr& text) {
  if (text.Empty()) return {};
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text.Get(), static_cast<int>(text.Length()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.Get(), static_cast<int>(text.Length()), out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

CDevicePropertyPage::CDevicePropertyPage(const SPropertyPageClass& pageClass) : CovFDT_PropertyPageImpl(pageClass) {}

CDevicePropertyPage::~CDevicePropertyPage() {
  StopFollowing();
  m_spParamGroupDisplay = nullptr;
}

HRESULT CDevicePropertyPage::FinalConstruct() {
  CoCreateInstance(CLSID_ParamGroupDisplay, nullptr, CLSCTX_ALL, IParamGroupDisplay::iid,
                   m_spParamGroupDisplay.PutVoid());
  return S_OK;
}

void CDevicePropertyPage::FinalRelease() { m_spParamGroupDisplay = nullptr; }

std::string CDevicePropertyPage::UnitText(BYTE unitCode) const {
  if (!m_spParamGroupDisplay) return {};
  vkr::Bstr text;
  if (FAILED(m_spParamGroupDisplay->GetUnitText(unitCode, text.Put()))) return {};
  return Ansi(text);
}

std::string CDevicePropertyPage::TransferFunctionText(BYTE code) const {
  if (!m_spParamGroupDisplay) return {};
  vkr::Bstr text;
  if (FAILED(m_spParamGroupDisplay->GetTransferFunctionText(code, text.Put()))) return {};
  return Ansi(text);
}

HRESULT CDevicePropertyPage::OnDtmStateChanged(ULONG state) {
  const bool wasOnline = m_nDtmState == vkr::dui::kDtmStateOnline;
  const HRESULT hr = CovFDT_PropertyPageImpl::OnDtmStateChanged(state);
  if (FAILED(hr)) return hr;
  // Away from online no answer comes.
  if (state != vkr::dui::kDtmStateOnline) m_readsOut.clear();
  UpdatePlaceholders();
  if (!wasOnline && state == vkr::dui::kDtmStateOnline) {
    // A page that reads here owes no refresh any more; the default keeps it owed.
    m_bOwedAtOnline = std::exchange(m_bRefreshOwed, false);
    OnDeviceOnline();
  }
  FollowWhileShown();
  return hr;
}

HRESULT CDevicePropertyPage::ExecuteCommand(VARIANT command, VARIANT argument) {
  LONG id = -1;
  vkr::dui::SDeviceOutcome outcome;
  HRESULT hr = S_OK;
  vkr::Variant event, value;
  if (SUCCEEDED(VariantChangeType(&event, &command, 0, VT_UI4)) && event.ulVal == kBroadcastDeviceValue &&
      SUCCEEDED(UnpackParameterEvent(argument, &id, &value)))
    TakeReadOut(id);
  if (vkr::dui::DecodeDeviceFailure(command, argument, &id, &outcome)) {
    TakeReadOut(id);
    // Kept for the blocking accesses, then the page's own concern when the parameter is its and
    // the user sees the page (a hidden page shares parameters with the one shown, not its reads).
    CovFDT_PropertyPageImpl::ExecuteCommand(command, argument);
    if (FindParameterIndex(id) >= 0 && IsShownToUser()) {
      OnDeviceAccessFailed(id, outcome);
    } else if (outcome.kind == vkr::dui::EDeviceOutcome::LinkGone &&
               m_notReadOutcome.kind == vkr::dui::EDeviceOutcome::NotTaken && !m_notReadNames.empty()) {
      // The requests the channel did not take before the DTM learnt why were lost with the link.
      m_notReadOutcome = outcome;
      m_notReadText = Sentence(vkr::dui::NotReadText(m_notReadNames, m_notReadOutcome, m_notReadCommand));
      ShowMessageLine(u"");
    }
  } else {
    hr = CovFDT_PropertyPageImpl::ExecuteCommand(command, argument);
  }
  FollowWhileShown();
  return hr;
}

// ---- Fields awaiting the device -----------------------------------------------------------------

HRESULT CDevicePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL modal) {
  const HRESULT hr = CovFDT_PropertyPageImpl::Activate(parent, rect, modal);
  if (FAILED(hr) || !m_hWndDialog || m_followedDialog == m_hWndDialog) return hr;
  StopFollowing();
  // The page object is found from its dialog while the dialog is followed.
  if (::SetPropA(m_hWndDialog, "vkr.devicePage", reinterpret_cast<HANDLE>(this))) {
    m_followedDialog = m_hWndDialog;
    m_dialogProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hWndDialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDevicePropertyPage::FollowingProc)));
  }
  FollowAwaitedFields();
  return hr;
}

HRESULT CDevicePropertyPage::Deactivate() {
  StopFollowing();
  m_awaitLocked.clear();
  return CovFDT_PropertyPageImpl::Deactivate();
}

void CDevicePropertyPage::StopFollowing() {
  if (!m_followedDialog) return;
  if (::IsWindow(m_followedDialog)) {
    if (::GetWindowLongPtrW(m_followedDialog, GWLP_WNDPROC) ==
        reinterpret_cast<LONG_PTR>(&CDevicePropertyPage::FollowingProc))
      ::SetWindowLongPtrW(m_followedDialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_dialogProc));
    ::RemovePropA(m_followedDialog, "vkr.devicePage");
  }
  m_followedDialog = nullptr;
  m_dialogProc = nullptr;
}

LRESULT CDevicePropertyPage::FollowingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* page = static_cast<CDevicePropertyPage*>(::GetPropA(window, "vkr.devicePage"));
  if (!page || !page->m_dialogProc) return ::DefWindowProcW(window, message, wParam, lParam);
  const WNDPROC own = page->m_dialogProc;
  if (message == WM_NCDESTROY) {
    page->StopFollowing();
    return ::CallWindowProcW(own, window, message, wParam, lParam);
  }
  // The page may be released while it handles the message (a close from inside): it is looked up
  // again afterwards.
  const bool showing = message == WM_SHOWWINDOW && wParam != 0;
  if (showing) page->m_bShowing = true;
  const LRESULT result = ::CallWindowProcW(own, window, message, wParam, lParam);
  if (showing)
    if (auto* still = static_cast<CDevicePropertyPage*>(::GetPropA(window, "vkr.devicePage"))) still->m_bShowing = false;
  if (message != WM_PAINT && message != WM_ERASEBKGND && message != WM_SETCURSOR && message != WM_MOUSEMOVE &&
      message != WM_NCHITTEST && !(message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
    if (auto* still = static_cast<CDevicePropertyPage*>(::GetPropA(window, "vkr.devicePage")))
      showing ? still->FollowAwaitedFields() : still->FollowWhileShown();
  return result;
}

bool CDevicePropertyPage::IsShownToUser() const {
  return m_hWndDialog && (m_bShowing || ::IsWindowVisible(m_hWndDialog));
}

bool CDevicePropertyPage::AwaitsDeviceValues() {
  FollowAwaitedFields();
  return !m_awaitLocked.empty();
}

void CDevicePropertyPage::FollowWhileShown() {
  // A hidden page takes no typing: its fields are followed as it is shown (WM_SHOWWINDOW), not
  // at every value the DTM gives every page.
  if (IsShownToUser()) FollowAwaitedFields();
}

void CDevicePropertyPage::FollowAwaitedFields() {
  if (!m_hWndDialog || m_bFollowing) return;
  m_bFollowing = true;
  for (HWND child = ::GetWindow(m_hWndDialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const UINT control = static_cast<UINT>(::GetDlgCtrlID(child));
    const LONG type = GetControlType(child);
    const bool edit = type == 2 || type == 3, combo = type == 4;
    if (control == 0 || (!edit && !combo)) continue;
    const auto locked = std::find(m_awaitLocked.begin(), m_awaitLocked.end(), control);
    const bool takes = edit ? !(::GetWindowLongW(child, GWL_STYLE) & ES_READONLY) : ::IsWindowEnabled(child) != FALSE;
    // A field that takes no typing and that this walk did not lock has nothing to follow.
    if (!takes && locked == m_awaitLocked.end()) continue;
    const bool awaited = !IsUserControl(control) && vkr::dui::ItemAwaitsValue(child);
    if (awaited) {
      // Whoever made it take typing meanwhile, it takes none until its value is there.
      if (!takes) continue;
      if (edit)
        ::SendMessageW(child, EM_SETREADONLY, TRUE, 0);
      else
        ::EnableWindow(child, FALSE);
      if (locked == m_awaitLocked.end()) m_awaitLocked.push_back(control);
      continue;
    }
    if (locked == m_awaitLocked.end()) continue;
    m_awaitLocked.erase(locked);
    // Offline no device value is coming and the device takes no entry: it stays as it is.
    if (!DeviceMayAnswer()) continue;
    // The entry's state decides again (its page's own rules with it); a field of no entry takes
    // typing as it did.
    bool entry = false;
    for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
      if (m_pParInfo[i].m_nCtrlId != control) continue;
      entry = true;
      SetControlStateById(m_pParInfo[i].m_nParamId, m_pParInfo[i].m_nState);
    }
    if (!entry) {
      if (edit)
        ::SendMessageW(child, EM_SETREADONLY, FALSE, 0);
      else
        ::EnableWindow(child, TRUE);
    }
  }
  m_bFollowing = false;
}

void CDevicePropertyPage::OnDeviceAccessFailed(LONG id, const vkr::dui::SDeviceOutcome& outcome) {
  if (m_bWriting || !m_hWndDialog || !m_pParInfo) return;
  std::optional<std::vector<UINT>> fields = FieldsOfRead(id);
  std::u16string what = NameOfRead(id);
  // The last answer a field kept showing while this read was out is not the device's word now: it
  // waits no more than a field that never had one.
  if (const std::vector<UINT> live = LiveFieldsOfRead(id); !live.empty()) {
    CUpdatingControls updating(*this);
    for (UINT control : live) {
      // A value of before, or the word that the read before failed: this read is told as well.
      const std::string shown = vkr::dui::DialogItemText(m_hWndDialog, control);
      if (IsUserControl(control) ||
          (vkr::dui::ShowsPlaceholder(m_hWndDialog, control) && shown != vkr::dui::kNotReadText))
        continue;
      char kind[16] = {};
      ::GetClassNameA(::GetDlgItem(m_hWndDialog, static_cast<int>(control)), kind, sizeof kind);
      if (std::string(kind) == "ComboBox")
        vkr::dui::ShowComboPlaceholder(m_hWndDialog, control);
      else
        vkr::dui::SetLoadingText(m_hWndDialog, {control});
    }
  }
  if (!fields) {
    // Every field of the page still waiting, the table's and the page's own texts alike, named as
    // the entry that failed, else as the page.
    fields.emplace();
    for (HWND child = ::GetWindow(m_hWndDialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
      if (const UINT control = static_cast<UINT>(::GetDlgCtrlID(child)); control != 0) fields->push_back(control);
    const LONG index = FindParameterIndex(id);
    if (what.empty() && index >= 0 && m_pParInfo[index].m_nCtrlId != 0) what = EntryLabel(id);
    if (what.empty()) {
      std::u16string title;
      LoadPageString(PageClass().titleId, &title);
      what = u"the " + title + u" page's values";
    }
  }
  TellNotRead(id, *fields, what, outcome);
}

void CDevicePropertyPage::TellNotRead(LONG id, const std::vector<UINT>& fields, const std::u16string& what,
                                      const vkr::dui::SDeviceOutcome& outcome, BYTE command) {
  if (!m_hWndDialog) return;
  // What a read stopped before is owed too, also when another read brings the value that failed.
  m_bReadFailed = true;
  std::vector<std::u16string> names;
  {
    CUpdatingControls updating(*this);
    for (UINT control : fields) {
      if (IsUserControl(control)) continue;
      char kind[16] = {};
      ::GetClassNameA(::GetDlgItem(m_hWndDialog, static_cast<int>(control)), kind, sizeof kind);
      const bool combo = std::string(kind) == "ComboBox";
      const std::string before = vkr::dui::DialogItemText(m_hWndDialog, control);
      if (combo)
        vkr::dui::ShowNotRead(m_hWndDialog, {}, {control});
      else
        vkr::dui::ShowNotRead(m_hWndDialog, {control});
      if (vkr::dui::DialogItemText(m_hWndDialog, control) == vkr::dui::kNotReadText &&
          std::find(m_unreadControls.begin(), m_unreadControls.end(), control) == m_unreadControls.end())
        m_unreadControls.push_back(control);
      // A field that could not be read again shows no number of before that it could not show.
      if (vkr::dui::DialogItemText(m_hWndDialog, control) == vkr::dui::kNotReadText) ShowsNonFinite(control, 0.0);
      if (what.empty() && before != vkr::dui::kNotReadText &&
          vkr::dui::DialogItemText(m_hWndDialog, control) == vkr::dui::kNotReadText)
        if (const std::u16string label = ControlLabel(control); !label.empty()) {
          if (std::find(names.begin(), names.end(), label) == names.end()) names.push_back(label);
          m_notReadFields[label].push_back(control);
        }
    }
    // An entry with no value has no invalid mark to show either: nobody entered anything. Nor the
    // mark of a value the device is giving (0x400): none is coming.
    constexpr ULONG kAwaitedMarks = vkr::dui::kStateInvalid | 0x400;
    for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
      const UINT control = m_pParInfo[i].m_nCtrlId;
      if (control != 0 && (m_pParInfo[i].m_nState & kAwaitedMarks) && !IsUserControl(control) &&
          vkr::dui::DialogItemText(m_hWndDialog, control) == vkr::dui::kNotReadText)
        SetControlStateById(m_pParInfo[i].m_nParamId, m_pParInfo[i].m_nState & ~kAwaitedMarks);
    }
  }
  if (!what.empty()) names.push_back(what);
  if (std::find(m_notReadIds.begin(), m_notReadIds.end(), id) == m_notReadIds.end()) m_notReadIds.push_back(id);
  const bool first = m_notReadNames.empty();
  bool added = false;
  for (const std::u16string& name : names) {
    if (std::find(m_notReadNames.begin(), m_notReadNames.end(), name) != m_notReadNames.end()) continue;
    m_notReadNames.push_back(name);
    added = true;
  }
  // The first reason of the round stands for the others: one sentence, told once. A lost
  // connection says more than the requests it kept from the device.
  const bool betterReason = outcome.kind == vkr::dui::EDeviceOutcome::LinkGone &&
                            m_notReadOutcome.kind == vkr::dui::EDeviceOutcome::NotTaken;
  if (m_notReadNames.empty() || (!added && !betterReason)) return;  // nothing to tell, or told already
  if (first || betterReason) {
    m_notReadOutcome = outcome;
    m_notReadCommand = command;
  }
  m_notReadText = Sentence(vkr::dui::NotReadText(m_notReadNames, m_notReadOutcome, m_notReadCommand));
  ShowMessageLine(Sentence(vkr::dui::NotReadText(names, outcome, command)));
}

HRESULT CDevicePropertyPage::ReadFromDevice(LONG id, VARIANT_BOOL* asked) {
  if (!asked) return E_POINTER;
  *asked = VARIANT_FALSE;
  if (!m_spDtm) return E_POINTER;
  // Counted before the call: the answer, or the failure, may come inside it.
  m_readsOut.push_back(id);
  const auto count = [&] { return std::count(m_readsOut.begin(), m_readsOut.end(), id); };
  const auto before = count();
  const HRESULT hr = m_spDtm->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), asked);
  // A read the DTM did not set going has no answer to wait for.
  if ((FAILED(hr) || !*asked) && count() == before) TakeReadOut(id);
  return hr;
}

void CDevicePropertyPage::TakeReadOut(LONG id) {
  const auto it = std::find(m_readsOut.begin(), m_readsOut.end(), id);
  if (it != m_readsOut.end()) m_readsOut.erase(it);
}

void CDevicePropertyPage::BeginReadRound() {
  m_notReadIds.clear();
  m_notReadNames.clear();
  m_notReadFields.clear();
  m_notReadOutcome = {};
  m_notReadCommand = 0;
  if (m_notReadText.empty()) return;
  m_notReadText.clear();
  ShowMessageLine(u"");
}

void CDevicePropertyPage::NoteAnswer(LONG id) {
  const auto it = std::find(m_notReadIds.begin(), m_notReadIds.end(), id);
  if (it != m_notReadIds.end()) m_notReadIds.erase(it);
  if (m_notReadNames.empty() || !m_hWndDialog) return;
  // The answer (to this page's read, or another's of the same parameter coming late) fills its
  // own fields: they are read now. A field named by its label is told while it still says "Not
  // read" (a read that failed stopped the reads after it, whose fields no answer fills); a read
  // named as a whole while a failed read is unanswered.
  std::vector<UINT> own = FieldsOfRead(id).value_or(std::vector<UINT>{});
  if (const LONG index = FindParameterIndex(id); index >= 0) own.push_back(m_pParInfo[index].m_nCtrlId);
  auto unread = [&](UINT control) {
    return std::find(own.begin(), own.end(), control) == own.end() && !IsUserControl(control) &&
           vkr::dui::DialogItemText(m_hWndDialog, control) == vkr::dui::kNotReadText;
  };
  std::vector<std::u16string> kept;
  for (const std::u16string& name : m_notReadNames) {
    const auto fields = m_notReadFields.find(name);
    if (fields == m_notReadFields.end() ? !m_notReadIds.empty()
                                        : std::any_of(fields->second.begin(), fields->second.end(), unread))
      kept.push_back(name);
  }
  if (kept.size() == m_notReadNames.size()) return;
  if (kept.empty()) {
    BeginReadRound();
    return;
  }
  m_notReadNames = kept;
  m_notReadText = Sentence(vkr::dui::NotReadText(m_notReadNames, m_notReadOutcome, m_notReadCommand));
  ShowMessageLine(u"");
}

HRESULT CDevicePropertyPage::SetControlState(LONG index, ULONG state) {
  if (m_hWndDialog && m_pParInfo && index >= 0 && static_cast<ULONG>(index) < m_nParInfoCount && !DeviceMayAnswer()) {
    const LONG type = GetControlType(::GetDlgItem(m_hWndDialog, static_cast<int>(m_pParInfo[index].m_nCtrlId)));
    if (type == 2 || type == 3 || type == 4) state &= ~vkr::dui::kStateUsable;
  }
  return CovFDT_PropertyPageImpl::SetControlState(index, state);
}

bool CDevicePropertyPage::DeviceMayAnswer() const {
  const ULONG state = CurrentDtmState();
  return state == vkr::dui::kDtmStateOnline || state == vkr::dui::kDtmStateGoingOnline;
}

HRESULT CDevicePropertyPage::RefreshAllParameters(LONG id) {
  if (IsUserEntry(id)) return KeepUserEntry(id);
  ForgetUnread(id);
  return CovFDT_PropertyPageImpl::RefreshAllParameters(id);
}

HRESULT CDevicePropertyPage::RefreshParameter(LONG id) {
  // The device answered for the parameter.
  NoteAnswer(id);
  if (IsUserEntry(id)) return KeepUserEntry(id);
  ForgetUnread(id);
  return CovFDT_PropertyPageImpl::RefreshParameter(id);
}

void CDevicePropertyPage::ForgetUnread(LONG id) {
  const LONG index = FindParameterIndex(id);
  if (index < 0) return;
  const auto at = std::find(m_unreadControls.begin(), m_unreadControls.end(), m_pParInfo[index].m_nCtrlId);
  if (at != m_unreadControls.end()) m_unreadControls.erase(at);
}

HRESULT CDevicePropertyPage::KeepUserEntry(LONG id) {
  // The user's entry stands against the value that came: it is a change, also when the user
  // typed it while the page still showed an older value.
  const LONG index = FindParameterIndex(id);
  if (index < 0) return S_OK;
  const ULONG state = m_pParInfo[index].m_nState;
  // A page may hold the changed bit unseen (so that a later edit counts); the mark follows only a
  // change of state, so the bit goes and comes back for the user to see it.
  if (state & vkr::dui::kStateChanged) SetControlStateById(id, state & ~vkr::dui::kStateChanged);
  return SetControlStateById(id, state | vkr::dui::kStateChanged);
}

HRESULT CDevicePropertyPage::OnControlChange(UINT code, UINT controlId, HWND control) {
  // The program's own writes (and a running read of all entries) are no input.
  if (!m_bUpdatingControls && !m_bBusy && controlId != 0 && m_pParInfo) {
    for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
      const LONG id = m_pParInfo[i].m_nParamId;
      if (m_pParInfo[i].m_nCtrlId == controlId && !IsUserEntry(id)) m_userEntries.push_back(id);
    }
  }
  const HRESULT hr = CovFDT_PropertyPageImpl::OnControlChange(code, controlId, control);
  // Against a value the device never gave, any entry is a change: the DTM's value to compare with
  // is not the device's, and an entry equal to it would lose its mark though it was never written.
  if (!m_bUpdatingControls && !m_bBusy && controlId != 0 && m_pParInfo &&
      std::find(m_unreadControls.begin(), m_unreadControls.end(), controlId) != m_unreadControls.end())
    for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i)
      if (m_pParInfo[i].m_nCtrlId == controlId && IsUserEntry(m_pParInfo[i].m_nParamId))
        KeepUserEntry(m_pParInfo[i].m_nParamId);
  return hr;
}

ULONG CDevicePropertyPage::CurrentDtmState() const {
  vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  EDtmState state = dsUNDEFINED;
  if (base) base->GetDTMState(&state);
  return static_cast<ULONG>(state);
}

// ---- Reading one entry --------------------------------------------------------------------------

HRESULT CDevicePropertyPage::ReadDeviceValue(LONG index, bool* fromDevice, VARIANT* value) {
  *fromDevice = false;
  VariantClear(value);
  if (!m_pParInfo || index < 0 || static_cast<ULONG>(index) >= m_nParInfoCount) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  const CActXParInfo& entry = m_pParInfo[index];

  vkr::Variant answer;
  HRESULT hr = InfoField(info.Get(), entry.m_nParamId, kFieldExists, &answer);
  if (FAILED(hr)) return hr;
  if (IsNone(answer)) return E_FAIL;
  if (FAILED(hr = InfoField(info.Get(), entry.m_nParamId, kFieldReadFromDevice, &answer))) return hr;
  LONG device = 0;
  CovFDT_BaseActiveXImpl::ReadNumber(answer, &device);
  *fromDevice = device == 1;

  const bool wanted = (m_nDialogType & 4) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & 0x200));
  if (m_nDtmState == vkr::dui::kDtmStateOnline && device == 1 && wanted) {
    // A device value the DTM cannot give counts as none.
    if (FAILED(InfoField(info.Get(), entry.m_nParamId, kFieldValue, value))) VariantClear(value);
  }
  return S_OK;
}

HRESULT CDevicePropertyPage::ShowEntry(LONG index, const VARIANT& value, bool returnDisplayFailure) {
  const LONG id = m_pParInfo[index].m_nParamId;
  // The user's entry keeps the user's text and marks, also on the first read after opening.
  if (IsUserEntry(id)) return S_OK;
  const ULONG kind = m_pParInfo[index].m_nCtrlKind;
  ULONG state = 0;
  HRESULT hr = ReadParameterInfo(static_cast<ULONG>(index));
  if (SUCCEEDED(hr)) hr = GetParameterInfoValue(id, &state);
  if (SUCCEEDED(hr)) hr = FillControlChoices(static_cast<ULONG>(index));
  if (FAILED(hr)) return hr;
  if (value.vt != VT_EMPTY) {
    hr = SetControlValueById(id, value);
    if (FAILED(hr) && returnDisplayFailure) return hr;
  } else if (DeviceMayAnswer()) {
    // No value (and so invalid) only while the device may answer: offline the entry says "Not
    // connected", and no lamp calls it invalid or waiting.
    state |= 0x404;
  }
  if ((m_nDialogType & 2) || ((m_nDialogType & 1) && (kind & 0x100))) state &= ~vkr::dui::kStateChanged;
  return SetControlStateById(id, state);
}

HRESULT CDevicePropertyPage::ReadParameterOnline(LONG index) {
  bool fromDevice = false;
  vkr::Variant value;
  HRESULT hr = ReadDeviceValue(index, &fromDevice, &value);
  if (FAILED(hr)) return hr;
  // A value the DTM keeps itself has no device answer to wait for: marked "no value" (0x404, which
  // includes the invalid bit) it would stop every Send at it until the user touched it. It shows
  // the data set's value instead.
  if (value.vt == VT_EMPTY && !fromDevice && FAILED(GetDtmParameterValue(m_pParInfo[index].m_nParamId, value.Put())))
    value.Clear();
  return ShowEntry(index, value, false);
}

HRESULT CDevicePropertyPage::ReadParameterOrDataSet(LONG index) {
  bool fromDevice = false;
  vkr::Variant value;
  HRESULT hr = ReadDeviceValue(index, &fromDevice, &value);
  if (FAILED(hr)) return hr;
  if (value.vt == VT_EMPTY) {
    hr = GetDtmParameterValue(m_pParInfo[index].m_nParamId, value.Put());
    if (FAILED(hr)) return hr;
  }
  return ShowEntry(index, value, true);
}

// ---- Input and release --------------------------------------------------------------------------

HRESULT CDevicePropertyPage::OnCommandPageControlChange(UINT code, UINT controlId, HWND control) {
  if (m_bUpdatingControls || m_bBusy) return S_OK;
  if (controlId == kUpperRangeEdit || controlId == kLowerRangeEdit || controlId == kDampingEdit) {
    SetDtmParameterValue(vkr::dui::kParActivateButtonSend, vkr::I4(1));
  } else if (controlId == kUnitCombo && code == CBN_SELCHANGE) {
    SetDtmParameterValue(vkr::dui::kParActivateButtonSend, vkr::I4(1));
    HWND combo = control ? control : ::GetDlgItem(m_hWndDialog, static_cast<int>(kUnitCombo));
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected >= 0) {
      const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
      if (length >= 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text.data()));
        SetWindowTextA(combo, text.c_str());
      }
    }
  }
  return CDevicePropertyPage::OnControlChange(code, controlId, control);
}

HRESULT CDevicePropertyPage::UninitializeStoppingResponses(VARIANT_BOOL* ok) {
  ChangeUpdateRate(vkr::dui::kParCommand1Complete, 0);
  ChangeUpdateRate(vkr::dui::kParCommand2Complete, 0);
  return CovFDT_PropertyPageImpl::UninitializeUI(ok);
}

HRESULT CDevicePropertyPage::SetControlValueById(LONG id, VARIANT value) {
  vkr::Variant number;
  if ((value.vt == VT_R4 || value.vt == VT_R8) && m_hWndDialog && m_pParInfo &&
      SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R8))) {
    bool shown = false;
    for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i)
      if (m_pParInfo[i].m_nParamId == id && m_pParInfo[i].m_nCtrlId != 0)
        shown = ShowsNonFinite(m_pParInfo[i].m_nCtrlId, number.dblVal) || shown;
    if (shown) return S_OK;
  }
  return CovFDT_PropertyPageImpl::SetControlValueById(id, value);
}

HRESULT CDevicePropertyPage::SetDlgItemFloat(LONG control, const char* format, float value) {
  if (ShowsNonFinite(static_cast<UINT>(control), value)) return S_OK;
  return CovFDT_PropertyPageImpl::SetDlgItemFloat(control, format, value);
}

bool CDevicePropertyPage::ShowsNonFinite(UINT control, double value) {
  if (!m_hWndDialog || control == 0) return false;
  const auto at = std::find(m_notShownControls.begin(), m_notShownControls.end(), control);
  const bool finite = std::isfinite(value);
  if (finite && at == m_notShownControls.end()) return false;
  if (finite)
    m_notShownControls.erase(at);
  else if (at == m_notShownControls.end())
    m_notShownControls.push_back(control);
  // The user's entry keeps the user's text.
  if (!finite && !IsUserControl(control)) {
    CUpdatingControls updating(*this);
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(control), vkr::dui::kNotShownText);
  }
  std::vector<std::u16string> names;
  for (UINT shown : m_notShownControls)
    if (const std::u16string label = ControlLabel(shown);
        !label.empty() && std::find(names.begin(), names.end(), label) == names.end())
      names.push_back(label);
  const std::u16string text = names.empty() ? std::u16string() : vkr::dui::NotShownText(names);
  if (text != m_notShownText) {
    m_notShownText = text;
    ShowMessageLine(text);
  }
  return !finite;
}

HRESULT CDevicePropertyPage::ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags) {
  const HRESULT hr = CovFDT_PropertyPageImpl::ValidateEntryValue(id, value, flags);
  const std::optional<BYTE> unit = ShownLengthUnit(id);
  vkr::Variant number;
  if (FAILED(hr) || !unit || FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8))) return hr;
  // The DTM checks the number against limits in metres: in another unit its verdict is replaced.
  if (const std::optional<bool> inside = DistanceWithinLimits(id, number.dblVal, *unit))
    *flags = *inside ? (*flags & ~vkr::dui::kStateInvalid) : (*flags | vkr::dui::kStateInvalid);
  return hr;
}

std::optional<bool> CDevicePropertyPage::DistanceWithinLimits(LONG limitsOf, double value, BYTE unit) {
  vkr::Variant minimum, maximum, low, high;
  if (FAILED(GetParameterInfoText(limitsOf, minimum.Put(), maximum.Put())) ||
      FAILED(VariantChangeType(&low, &minimum, 0, VT_R8)) || FAILED(VariantChangeType(&high, &maximum, 0, VT_R8)) ||
      low.dblVal == high.dblVal)
    return std::nullopt;
  return vkr::dui::WithinMetreLimits(value, unit, low.dblVal, high.dblVal);
}

void CDevicePropertyPage::RecheckDistances() {
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const LONG id = m_pParInfo[i].m_nParamId;
    if (m_pParInfo[i].m_nCtrlId == 0 || !IsUserEntry(id) || !ShownLengthUnit(id)) continue;
    VARIANT_BOOL valid = VARIANT_FALSE;
    GetParameterText(id, &valid);
  }
}

void CDevicePropertyPage::FollowUnitChange(std::initializer_list<LONG> ids, BYTE from, BYTE to) {
  if (from == to || !m_hWndDialog || !m_pParInfo) return;
  for (LONG id : ids) {
    const LONG index = FindParameterIndex(id);
    if (index < 0 || m_pParInfo[index].m_nCtrlId == 0 || !IsUserEntry(id)) continue;
    const LONG control = static_cast<LONG>(m_pParInfo[index].m_nCtrlId);
    const char* format = m_pParInfo[index].m_pszFormat && *m_pParInfo[index].m_pszFormat ? m_pParInfo[index].m_pszFormat
                                                                                         : "%.3f";
    float typed = 0.0f;
    // A text that is no number names no distance: it stays as typed, and Send refuses it.
    if (FAILED(GetDlgItemFloat(control, format, &typed))) continue;
    const std::u16string name = EntryLabel(id);
    const std::optional<double> converted = vkr::dui::ConvertLength(typed, from, to);
    if (!converted) {
      m_userEntries.erase(std::remove(m_userEntries.begin(), m_userEntries.end(), id), m_userEntries.end());
      SetControlStateById(id, m_pParInfo[index].m_nState & ~vkr::dui::kStateChanged);
      ReadParameter(index);
      TellNote(name + u" was given up: its unit changed to " + vkr::Utf8ToUtf16(vkr::dui::LengthUnitSymbol(to)) +
               u", which it cannot be given in.");
      continue;
    }
    // Shown in the field's format, kept exactly: the number written is the distance typed.
    SetDlgItemDouble(control, format, *converted);
    TellNote(name + u" was converted from " + vkr::Utf8ToUtf16(vkr::dui::FormatLength(typed, from)) + u" to " +
             vkr::Utf8ToUtf16(vkr::dui::FormatLength(*converted, to)) + u": the device's unit changed.");
  }
  RecheckDistances();
}

HRESULT CDevicePropertyPage::MarkEntryInvalid(LONG id) {
  const LONG index = FindParameterIndex(id);
  if (index < 0) return E_INVALIDARG;
  return SetControlStateById(id, m_pParInfo[index].m_nState | vkr::dui::kStateUsable | vkr::dui::kStateInvalid);
}

// ---- The user's entries ------------------------------------------------------------------------

bool CDevicePropertyPage::IsUserEntry(LONG id) const {
  return std::find(m_userEntries.begin(), m_userEntries.end(), id) != m_userEntries.end();
}

bool CDevicePropertyPage::IsUserControl(UINT controlId) const {
  for (LONG id : m_userEntries) {
    const LONG index = FindParameterIndex(id);
    if (index >= 0 && m_pParInfo[index].m_nCtrlId == controlId) return true;
  }
  return false;
}

void CDevicePropertyPage::ReleaseUserEntries() {
  const std::vector<LONG> entries = m_userEntries;
  m_userEntries.clear();
  for (LONG id : entries) {
    const LONG index = FindParameterIndex(id);
    if (index >= 0) SetControlStateById(id, m_pParInfo[index].m_nState & ~vkr::dui::kStateChanged);
  }
  const bool said = !m_noteText.empty() || !m_toldText.empty() || !m_warnings.empty();
  m_noteText.clear();
  m_notesBeforeSend.clear();
  m_warnings.clear();
  if (said) TellOnMessageLine(u"");
}

void CDevicePropertyPage::PutLoadingText(std::initializer_list<UINT> itemIds) {
  if (!m_hWndDialog) return;
  CUpdatingControls updating(*this);
  for (UINT item : itemIds)
    if (!IsUserControl(item)) vkr::dui::SetLoadingText(m_hWndDialog, {item});
}

void CDevicePropertyPage::PutComboPlaceholder(UINT comboId) {
  if (!m_hWndDialog || IsUserControl(comboId)) return;
  CUpdatingControls updating(*this);
  vkr::dui::ShowComboPlaceholder(m_hWndDialog, comboId);
}

bool CDevicePropertyPage::IsUsableControl(UINT control) const {
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i)
    if (m_pParInfo[i].m_nCtrlId == control) return (m_pParInfo[i].m_nState & vkr::dui::kStateUsable) != 0;
  return true;
}

void CDevicePropertyPage::LockDeviceEntries(std::initializer_list<UINT> edits, std::initializer_list<UINT> combos) {
  if (!m_hWndDialog) return;
  const bool mayAnswer = DeviceMayAnswer();
  for (UINT edit : edits)
    if (!mayAnswer || IsUsableControl(edit))
      ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(edit), EM_SETREADONLY, mayAnswer ? FALSE : TRUE, 0);
  for (UINT combo : combos)
    ::EnableWindow(::GetDlgItem(m_hWndDialog, static_cast<int>(combo)), mayAnswer && IsUsableControl(combo) ? TRUE : FALSE);
}

void CDevicePropertyPage::RequestFirstRefresh() {
  ++m_nOwnRefreshes;
  if (FAILED(SetDtmParameterValue(vkr::dui::kParButtonRefresh, vkr::I4(1)))) --m_nOwnRefreshes;
}

bool CDevicePropertyPage::AcceptRefresh(bool pressed, bool visible) {
  // Reading all entries (the DTM's word that it is online) shows the trigger's stored value too:
  // nobody pressed anything then. The page reads for it only what it still owes, once the device
  // can answer: the refresh that came while it could not (a first show's), or the values its last
  // read could not read. A page whose values came, or are on their way, reads nothing again.
  if (m_bBusy) {
    const bool owed = m_bRefreshOwed || m_bReadFailed;
    if (!pressed || !visible || !owed || CurrentDtmState() != vkr::dui::kDtmStateOnline) return false;
    m_bRefreshOwed = m_bReadFailed = false;
    return true;
  }
  const bool echo = m_nOwnRefreshes > 0;
  if (echo) --m_nOwnRefreshes;
  if (!pressed || !visible) return false;
  // A refresh while the device cannot answer reads nothing: the page reads once it can.
  m_bRefreshOwed = CurrentDtmState() != vkr::dui::kDtmStateOnline;
  m_bReadFailed = false;
  if (!echo) {
    ReleaseUserEntries();
    // The user has the page read anew: what the last reads could not read is told again if it
    // fails again. (The page's own first refresh belongs to the reads of its showing.)
    BeginReadRound();
  }
  return true;
}

void CDevicePropertyPage::OnDeviceOnline() { m_bRefreshOwed = m_bOwedAtOnline; }

bool CDevicePropertyPage::AcceptSend(bool pressed, bool visible) {
  if (!pressed || !visible || m_bBusy) return false;
  if (!AwaitsDeviceValues() && m_readsOut.empty()) return true;
  TellOnMessageLine(vkr::dui::kNothingWrittenWhileReading);
  return false;
}

void CDevicePropertyPage::SetDirtyAfterRefresh() { SetDirty(HasUserEntries() ? TRUE : FALSE); }

// ---- Send ---------------------------------------------------------------------------------------

bool CDevicePropertyPage::BeginSend() {
  // The words on the entries this Send writes stay; those of a Send before go.
  const bool said = !m_toldText.empty() || !m_notesBeforeSend.empty() || !m_warnings.empty();
  if (!m_notesBeforeSend.empty() && m_noteText.starts_with(m_notesBeforeSend))
    m_noteText.erase(0, std::min(m_noteText.size(), m_notesBeforeSend.size() + 1));
  m_notesBeforeSend = m_noteText;
  m_warnings.clear();
  if (said) TellOnMessageLine(u"");
  if (CurrentDtmState() == vkr::dui::kDtmStateOnline) return true;
  TellNotWritten({}, ENotWritten::NotConnected);
  return false;
}

bool CDevicePropertyPage::DeviceTookWrite(LONG id) {
  vkr::Variant answer, code;
  return CurrentDtmState() == vkr::dui::kDtmStateOnline &&
         SUCCEEDED(GetDtmParameterValue(vkr::dui::kParCommandResponse, answer.Put())) &&
         SUCCEEDED(VariantChangeType(&code, &answer, 0, VT_UI1)) && code.bVal != 0 &&
         vkr::hart::IsWarning(WriteCommandOf(id).value_or(0), code.bVal);
}

HRESULT CDevicePropertyPage::SendEntry(LONG id, std::initializer_list<LONG> carried,
                                       std::initializer_list<SStaged> staged) {
  // The checks on the way recompute the marks from the DTM's values (and a combined entry hands
  // its marks to its parts): a write that does not happen leaves the marks as the user left them,
  // and the entries it carried that the user did not change show no change.
  std::vector<std::pair<LONG, ULONG>> marks;
  for (LONG entry : carried) {
    const LONG index = FindParameterIndex(entry);
    if (index >= 0) marks.emplace_back(entry, m_pParInfo[index].m_nState);
  }
  // The device's answer to this write, not one before it, tells why a write was refused.
  SetDtmParameterValue(vkr::dui::kParCommandResponse, vkr::I4(0));
  bool refused = false;
  const unsigned long long mark = vkr::dui::DeviceFailureMark();
  for (const SStaged& value : staged) StageDtmParameterValue(value.id, value.value);
  m_bWriting = true;
  const HRESULT hr = WriteCheckedInput(id, &refused);
  m_bWriting = false;
  if (hr == S_OK && !refused) {
    // The device may have taken the value with a warning: written, and the warning told.
    const BYTE command = WriteCommandOf(id).value_or(0);
    const BYTE warning = LastWriteWarning(command);
    // The entries the user changed, else all the write carried.
    std::vector<std::u16string> names;
    for (const bool changedOnly : {true, false}) {
      for (LONG entry : carried)
        if (const std::u16string name = EntryLabel(entry); !name.empty() && (!changedOnly || IsUserEntry(entry)))
          names.push_back(name);
      if (!names.empty()) break;
    }
    MarkWritten(carried);
    if (warning != 0) TellWarning(names, command, warning);
    return S_OK;
  }
  if (!refused && !FAILED(hr)) {
    // An entry of the user the DTM's check refused: nothing was written, and the user is told.
    const LONG index = FindParameterIndex(id);
    if (hr == S_FALSE && index >= 0 && (m_pParInfo[index].m_nState & vkr::dui::kStateInvalid) &&
        std::any_of(carried.begin(), carried.end(), [&](LONG entry) { return IsUserEntry(entry); }))
      TellNotWritten(carried, ENotWritten::Invalid);
    return hr;
  }
  for (const auto& [entry, state] : marks)
    SetControlStateById(entry, IsUserEntry(entry) ? state : state & ~vkr::dui::kStateChanged);
  const ENotWritten why = !refused                                         ? ENotWritten::NoValue
                          : CurrentDtmState() == vkr::dui::kDtmStateOnline ? ENotWritten::Unconfirmed
                                                                           : ENotWritten::NotConnected;
  TellNotWritten(carried, why, vkr::dui::OutcomeAfter(hr, false, mark, id), WriteCommandOf(id).value_or(0));
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CDevicePropertyPage::SendPvUnit(const VARIANT& unit) {
  vkr::Variant held, code;
  const bool known = HoldsValue(vkr::dui::kParPvUnit, &held) && SUCCEEDED(VariantChangeType(&code, &held, 0, VT_UI1));
  // The data set takes the unit when the device confirms it (the write keeps what the device took),
  // not before: a unit the device refused would leave the data set's distances under it.
  SetControlStateById(vkr::dui::kParPvUnit, vkr::dui::kStateUsableChanged);
  const HRESULT hr = SendEntry(vkr::dui::kParPvUnit, {vkr::dui::kParPvUnitUser});
  if (hr != S_OK || unit.vt != VT_UI1) return hr;
  const BYTE to = unit.bVal;
  // Blanking and offset are kept in the PV unit.
  for (LONG id : {vkr::dui::kParBlanking, vkr::dui::kParDistanceOffset}) {
    vkr::Variant value, number;
    if (!known || code.bVal == to || !HoldsValue(id, &value) || FAILED(VariantChangeType(&number, &value, 0, VT_R4)))
      continue;
    if (const std::optional<double> converted = vkr::dui::ConvertLength(number.fltVal, code.bVal, to)) {
      VARIANT distance = vkr::EmptyVariant();
      distance.vt = VT_R4;
      distance.fltVal = static_cast<float>(*converted);
      SetDtmParameterValue(id, distance);
    }
  }
  // The range values record carries its own unit, which the device's unit change takes along.
  vkr::Variant record;
  std::vector<BYTE> bytes;
  if (!HoldsValue(vkr::dui::kParRangeValues, &record) || vkr::dui::ResponseBytes(record, &bytes) != S_OK ||
      bytes.size() < 9 || bytes[0] == to)
    return hr;
  const vkr::dui::CByteReader reader(bytes);
  const std::optional<double> upper = vkr::dui::ConvertLength(*reader.Float(1), bytes[0], to);
  const std::optional<double> lower = vkr::dui::ConvertLength(*reader.Float(5), bytes[0], to);
  if (!upper || !lower) return hr;
  vkr::dui::CByteWriter converted;
  converted.U8(to).Float(static_cast<float>(*upper)).Float(static_cast<float>(*lower));
  vkr::Variant value;
  if (SUCCEEDED(vkr::dui::MakeByteArray(converted.Data(), value.Put())))
    SetDtmParameterValue(vkr::dui::kParRangeValues, value);
  return hr;
}

bool CDevicePropertyPage::HoldsValue(LONG id, vkr::Variant* value) {
  ULONG flags = 0;
  return SUCCEEDED(GetDtmParameterValue(id, value->Put())) && value->vt != VT_EMPTY &&
         SUCCEEDED(GetParameterInfoValue(id, &flags)) && !(flags & kFlagNotHeld);
}

void CDevicePropertyPage::EndSend() {
  // An entry this Send told it did not write stays the user's, with its text and its marks.
  std::erase_if(m_userEntries, [&](LONG id) {
    return m_nSendRuns == 0 || std::find(m_sendNamed.begin(), m_sendNamed.end(), id) == m_sendNamed.end();
  });
}

void CDevicePropertyPage::OpenSendRun() {
  m_sendNamed.clear();
  m_sendStop.clear();
  m_sendWritten.clear();
}

void CDevicePropertyPage::NoteSendStop(const std::vector<LONG>& ids, const std::u16string& why) {
  if (m_nSendRuns == 0) return;
  for (LONG id : ids)
    if (std::find(m_sendNamed.begin(), m_sendNamed.end(), id) == m_sendNamed.end()) m_sendNamed.push_back(id);
  if (m_sendStop.empty()) m_sendStop = why;
}

void CDevicePropertyPage::TellSendStopped(const std::u16string& text, const std::vector<LONG>& ids) {
  std::vector<std::u16string> names;
  for (const bool usersOnly : {true, false}) {
    for (LONG id : ids)
      if (const std::u16string name = EntryLabel(id);
          !name.empty() && (!usersOnly || IsUserEntry(id)) && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
    if (!names.empty()) break;
  }
  NoteSendStop(ids, vkr::dui::StoppedAtText(names));
  TellOnMessageLine(text);
}

void CDevicePropertyPage::CloseSendRun() {
  auto has = [](const std::vector<std::u16string>& list, const std::u16string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  // Entries that share a label (a date's day, month and year) have one fate between them.
  std::vector<std::u16string> named, unsent, written;
  for (LONG id : m_sendNamed) named.push_back(EntryLabel(id));
  for (LONG id : m_userEntries) {
    const LONG index = FindParameterIndex(id);
    const std::u16string name = EntryLabel(id);
    // An entry that holds what the device holds is no change that a Send owes.
    if (index < 0 || !(m_pParInfo[index].m_nState & vkr::dui::kStateChanged) || name.empty() || has(named, name) ||
        has(unsent, name))
      continue;
    unsent.push_back(name);
  }
  std::u16string text = m_toldText;
  if (!unsent.empty()) {
    const std::u16string why = !m_sendStop.empty()   ? m_sendStop
                               : unsent.size() == 1 ? u"the Send stopped before it"
                                                    : u"the Send stopped before them";
    text += (text.empty() ? u"" : u" ") + vkr::dui::NotSentText(unsent, why);
  }
  // A Send that did not write all says what it did write; a write the device warned of is told
  // with its warning already.
  for (const std::u16string& name : m_sendWritten) {
    const bool warned = std::any_of(m_warnings.begin(), m_warnings.end(),
                                    [&](const SWarning& warning) { return has(warning.names, name); });
    if (!warned && !has(named, name) && !has(written, name)) written.push_back(name);
  }
  if ((!unsent.empty() || !m_sendNamed.empty()) && !written.empty())
    text = vkr::dui::WrittenText(written) + (text.empty() ? u"" : u" ") + text;
  m_sendNamed.clear();
  m_sendStop.clear();
  m_sendWritten.clear();
  if (text != m_toldText) TellOnMessageLine(text);
  // The notes this Send told (a step the device took) belong to it: the next Send drops them with
  // the notes of the typing before this one.
  m_notesBeforeSend = m_noteText;
}

void CDevicePropertyPage::MarkWritten(std::initializer_list<LONG> ids) {
  for (LONG id : ids) {
    if (m_nSendRuns > 0 && IsUserEntry(id))
      if (const std::u16string name = EntryLabel(id); !name.empty()) m_sendWritten.push_back(name);
    m_userEntries.erase(std::remove(m_userEntries.begin(), m_userEntries.end(), id), m_userEntries.end());
    const LONG index = FindParameterIndex(id);
    if (index >= 0 && (m_pParInfo[index].m_nState & vkr::dui::kStateChanged))
      SetControlStateById(id, m_pParInfo[index].m_nState & ~vkr::dui::kStateChanged);
  }
}

bool CDevicePropertyPage::WriteNeedsUnread(std::initializer_list<LONG> carried) {
  if (!m_hWndDialog) return false;
  std::vector<std::u16string> unread;
  for (LONG id : carried) {
    const LONG index = FindParameterIndex(id);
    const UINT control = index >= 0 ? m_pParInfo[index].m_nCtrlId : 0;
    if (control == 0 || IsUserEntry(id)) continue;
    if (!vkr::dui::ShowsPlaceholder(m_hWndDialog, control) && !vkr::dui::DialogItemText(m_hWndDialog, control).empty())
      continue;
    const std::u16string name = EntryLabel(id);
    if (!name.empty() && std::find(unread.begin(), unread.end(), name) == unread.end()) unread.push_back(name);
  }
  if (unread.empty()) return false;
  // A field of the user's entry under the same label (the day typed, the month unread) is named
  // once, as what was not written; when nothing else is missing, as the entry only partly read.
  std::vector<std::u16string> partly;
  for (LONG id : carried)
    if (IsUserEntry(id) && std::find(unread.begin(), unread.end(), EntryLabel(id)) != unread.end()) {
      partly.push_back(EntryLabel(id));
      std::erase(unread, EntryLabel(id));
    }
  TellNotWritten(carried, ENotWritten::Unread, {}, 0, unread.empty() ? partly : unread, unread.empty());
  return true;
}

void CDevicePropertyPage::TellNotWritten(std::initializer_list<LONG> failed, ENotWritten why,
                                         const vkr::dui::SDeviceOutcome& outcome, BYTE command,
                                         const std::vector<std::u16string>& unread, bool partly) {
  // The entries of the write the user changed, else all it carried; then the user's others.
  std::vector<std::u16string> names, failedNames;
  auto add = [](std::vector<std::u16string>* list, const std::u16string& name) {
    if (!name.empty() && std::find(list->begin(), list->end(), name) == list->end()) list->push_back(name);
  };
  for (LONG id : failed)
    if (IsUserEntry(id)) add(&failedNames, EntryLabel(id));
  if (failedNames.empty())
    for (LONG id : failed) add(&failedNames, EntryLabel(id));
  // Each entry is named for its own fate: the user's others only when no device took any of them
  // (the rest of a Send is named at its end, CSendRun).
  names = failedNames;
  std::vector<LONG> named(failed.begin(), failed.end());
  if (why == ENotWritten::NotConnected) {
    for (LONG id : m_userEntries) add(&names, EntryLabel(id));
    named.insert(named.end(), m_userEntries.begin(), m_userEntries.end());
  }
  NoteSendStop(named, why == ENotWritten::Invalid        ? vkr::dui::HoldsInvalidText(failedNames)
                      : why == ENotWritten::NotConnected ? std::u16string(u"no device is connected")
                                                         : vkr::dui::StoppedAtText(failedNames));
  if (names.empty()) {
    // A Send offline with nothing typed still learns that nothing went to a device.
    if (why == ENotWritten::NotConnected) TellOnMessageLine(vkr::dui::kNothingWrittenOffline);
    return;
  }
  std::u16string text = vkr::dui::JoinNames(names) + (names.size() == 1 ? u" was" : u" were") + u" not written";
  if (why == ENotWritten::Unconfirmed) {
    // The reason names what failed when the user's other entries stand beside it.
    text += u": " + vkr::dui::OutcomeReason(outcome, command, failedNames.size() > 1);
    if (names.size() != failedNames.size()) text += u" (" + vkr::dui::JoinNames(failedNames) + u")";
  } else if (why == ENotWritten::NotConnected) {
    text += u": no device is connected";
  } else if (why == ENotWritten::Invalid) {
    std::vector<LONG> ids(failed.begin(), failed.end());
    std::erase_if(ids, [&](LONG id) { return !IsUserEntry(id); });
    if (ids.empty()) ids.assign(failed.begin(), failed.end());
    if (names.size() == failedNames.size()) {
      TellOnMessageLine(InvalidText(ids));
      return;
    }
    text += names.size() == 1 ? u": its entry is not valid" : u": their entries are not valid";
  } else if (why == ENotWritten::Unread) {
    const bool one = failedNames.size() == 1;
    const std::u16string subject = names.size() == failedNames.size() ? (one ? u"it goes" : u"they go")
                                                                       : vkr::dui::JoinNames(failedNames) + (one ? u" goes" : u" go");
    if (partly && !unread.empty())
      text += u": part of " + vkr::dui::JoinNames(unread) + u" could not be read";
    else if (unread.empty())
      text += one ? u": part of it could not be read" : u": parts of them could not be read";
    else
      text += u": " + subject + u" to the device with " + vkr::dui::JoinNames(unread) + u", which could not be read";
  }
  text += u".";
  TellOnMessageLine(text);
}

bool CDevicePropertyPage::TellInvalidEntries() {
  std::vector<LONG> ids;
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if ((entry.m_nState & 0x5) != 0x5 || (entry.m_nState & 0x8) || entry.m_nCtrlId == 0) continue;
    ids.push_back(entry.m_nParamId);
  }
  const std::u16string text = InvalidText(ids);
  if (text.empty()) return false;
  std::vector<std::u16string> names;
  for (LONG id : ids)
    if (const std::u16string name = EntryLabel(id); !name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  NoteSendStop(ids, vkr::dui::HoldsInvalidText(names));
  TellOnMessageLine(text);
  return true;
}

std::u16string CDevicePropertyPage::InvalidText(const std::vector<LONG>& ids) {
  // Each entry by its label, once; with the limits it must lie within, in the unit it is shown in.
  std::vector<std::u16string> names, limits;
  for (LONG id : ids) {
    const std::u16string name = EntryLabel(id);
    if (name.empty()) continue;
    const std::u16string limit = LimitsText(id);
    // Entries that share a label (a date's day, month and year) are named once, each limit told.
    if (const auto at = std::find(names.begin(), names.end(), name); at != names.end()) {
      std::u16string& told = limits[static_cast<std::size_t>(at - names.begin())];
      if (!limit.empty() && told.find(limit) == std::u16string::npos) told += (told.empty() ? u"" : u", ") + limit;
      continue;
    }
    names.push_back(name);
    limits.push_back(limit);
  }
  if (names.empty()) return {};
  std::u16string text = vkr::dui::InvalidEntryText(names);
  const bool same = std::all_of(limits.begin(), limits.end(), [&](const std::u16string& l) { return l == limits[0]; });
  if (same && !limits[0].empty()) {
    text.back() = u':';
    text += u" " + limits[0] + u".";
  } else if (!same) {
    std::u16string each;
    for (size_t i = 0; i < names.size(); ++i)
      if (!limits[i].empty()) each += (each.empty() ? u"" : u", ") + names[i] + u": " + limits[i];
    text.pop_back();
    text += u" (" + each + u").";
  }
  return text;
}

std::u16string CDevicePropertyPage::LimitsText(LONG id) {
  vkr::Variant minimum, maximum;
  if (FAILED(GetParameterInfoText(id, minimum.Put(), maximum.Put()))) return {};
  // A distance's limits are metres: given in the unit the entry shows it in.
  vkr::dui::SShownLimits shown;
  shown.lengthUnit = ShownLengthUnit(id);
  // The unit not known (not read): the limits as the parameter has them, in metres, said so.
  if (!shown.lengthUnit && IsLengthEntry(id)) shown.lengthUnit = vkr::dui::kLengthUnitMetres;
  // Damping and fail time are seconds, as their fields' labels say (and function 5's limits).
  using namespace vkr::dui;
  if (id == kParDamping || id == kParDampingUser || id == kParFailTime || id == kParFailTimeUser) shown.sign = "Sec";
  return vkr::dui::EntryLimitsText(minimum, maximum, shown);
}

void CDevicePropertyPage::TellOnMessageLine(const std::u16string& text) {
  m_toldText = text;
  ShowMessageLine(text);
}

BYTE CDevicePropertyPage::LastWriteWarning(BYTE command) {
  vkr::Variant answer, code;
  const bool warned = SUCCEEDED(GetDtmParameterValue(vkr::dui::kParCommandResponse, answer.Put())) &&
                      SUCCEEDED(VariantChangeType(&code, &answer, 0, VT_UI1)) && code.bVal != 0 &&
                      vkr::hart::IsWarning(command, code.bVal);
  return warned ? code.bVal : 0;
}

void CDevicePropertyPage::TellWarning(const std::vector<std::u16string>& names, BYTE command, BYTE code) {
  // Each command's warning once a Send; the writes warned of the same are named in one sentence.
  const std::u16string warns = vkr::hart::DescribeResponseCode(command, code);
  auto told = std::find_if(m_warnings.begin(), m_warnings.end(), [&](const SWarning& w) { return w.warns == warns; });
  if (told == m_warnings.end()) told = m_warnings.insert(m_warnings.end(), SWarning{warns, {}, {}, {}});
  if (command != 0 && std::find(told->commands.begin(), told->commands.end(), command) != told->commands.end()) return;
  if (command != 0) told->commands.push_back(command);
  for (const std::u16string& name : names)
    if (std::find(told->names.begin(), told->names.end(), name) == told->names.end()) told->names.push_back(name);
  told->text = vkr::dui::WarnedText(told->names, command, code);
  ShowMessageLine(told->text);
}

void CDevicePropertyPage::TellNote(const std::u16string& text) {
  if (text.empty() || m_noteText.find(text) != std::u16string::npos) return;
  m_noteText += (m_noteText.empty() ? u"" : u" ") + text;
  ShowMessageLine(text);
}

void CDevicePropertyPage::ShowMessageLine(const std::u16string& told) {
  std::u16string line = m_noteText;
  for (const SWarning& warning : m_warnings) line += (line.empty() ? u"" : u" ") + warning.text;
  if (!m_toldText.empty()) line += (line.empty() ? u"" : u" ") + m_toldText;
  if (!m_notReadText.empty()) line += (line.empty() ? u"" : u" ") + m_notReadText;
  if (!m_notShownText.empty()) line += (line.empty() ? u"" : u" ") + m_notShownText;
  // The frame keeps each page's line apart from its own words and the other pages'.
  for (HWND window = m_hWndDialog ? ::GetParent(m_hWndDialog) : nullptr; window; window = ::GetParent(window))
    if (::SendMessageW(window, vkr::dui::kMessageLineText, reinterpret_cast<WPARAM>(m_hWndDialog),
                       reinterpret_cast<LPARAM>(line.c_str())) == 1)
      return;
  // No frame around the page shows the line: the user is told all the same.
  m_toldText.clear();
  m_noteText.clear();
  m_notesBeforeSend.clear();
  m_warnings.clear();
  m_notReadText.clear();
  m_notShownText.clear();
  if (told.empty()) return;
  std::u16string caption;
  LoadPageString(PageClass().titleId, &caption);
  vkr::dui::ShowDeviceMessage(m_spDtmObject.Get(), caption, told, vkr::dui::kMessageError);
}

std::u16string CDevicePropertyPage::EntryLabel(LONG id) const {
  const LONG index = FindParameterIndex(id);
  if (index < 0) return {};
  std::u16string label = ControlLabel(m_pParInfo[index].m_nCtrlId);
  if (label.empty() && m_pParInfo[index].m_pszName) label = vkr::Utf8ToUtf16(m_pParInfo[index].m_pszName);
  return label;
}

std::u16string CDevicePropertyPage::ControlLabel(UINT control) const {
  if (!m_hWndDialog || control == 0) return {};
  // The dialog's controls in their order: the labels since the last other control, and the
  // label of the last other control (a date's month and year share the day's).
  std::vector<HWND> statics;
  std::u16string previousLabel;
  for (HWND child = ::GetWindow(m_hWndDialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (IsLabel(child) && static_cast<UINT>(::GetDlgCtrlID(child)) != control) {
      statics.push_back(child);
      continue;
    }
    // A text in parentheses after the label ("(Hex)") says how the value is shown, not what it is.
    while (!statics.empty()) {
      const std::u16string text = WindowTextOf(statics.back());
      if (text.size() < 2 || text.front() != u'(' || text.back() != u')') break;
      statics.pop_back();
    }
    // A label over two lines is the run of texts that start where the last one starts.
    std::u16string own;
    RECT last{};
    if (!statics.empty()) ::GetWindowRect(statics.back(), &last);
    for (auto it = statics.rbegin(); it != statics.rend(); ++it) {
      RECT r{};
      ::GetWindowRect(*it, &r);
      const std::u16string text = WindowTextOf(*it);
      if (r.left != last.left || text.empty()) break;
      own = own.empty() ? text : text + u" " + own;
    }
    if (own.empty()) own = previousLabel;
    if (static_cast<UINT>(::GetDlgCtrlID(child)) == control) return own;
    previousLabel = own;
    statics.clear();
  }
  return {};
}

// ---- Parameter map without entries --------------------------------------------------------------

CActXParInfo* EmptyParameterMap(int* count, BOOL copy) {
  static CActXParInfo end[1];
  if (!copy) {
    if (count) *count = 0;
    return end;
  }
  return CopyParameterTable(end, count);
}

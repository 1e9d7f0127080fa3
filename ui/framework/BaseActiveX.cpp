// CovFDT_BaseActiveXImpl: construction and destruction, the members' defaults, the command
// dispatcher (pages and controls), errors, the DTM state, control types, the schema source and
// the shared message map.
#include "ui/framework/BaseActiveX.h"

#include <string_view>

#include "include/DtmMessages.h"
#include "include/TranslationInterfaces.h"
#include "ui/framework/ActiveXTranslation.h"
#include "ui/framework/DeviceAccessLog.h"

namespace {

constexpr ULONG kCmdLanguage = 9984;
constexpr ULONG kCmdRefreshAll = 9985;
constexpr ULONG kCmdUserLevel = 9988;
constexpr ULONG kCmdSchemaFolder = 9992;
constexpr ULONG kCmdDataSetEditable = 9993;
constexpr ULONG kCmdParameterState = 9994;
constexpr ULONG kCmdTranslationPath = 9995;
constexpr ULONG kCmdParameterRefresh = 9997;
constexpr ULONG kCmdPrivateDialogs = 9998;
constexpr ULONG kCmdDataSetState = 9999;
constexpr ULONG kCmdLockNotice = 10000;
constexpr ULONG kCmdStatusWord = 10001;
constexpr ULONG kCmdParameterChanged = 10002;
constexpr ULONG kCmdDtmMessage = 10003;
constexpr ULONG kCmdNotifyParameter = 10010;
constexpr ULONG kCmdUploadDone = 10012;
constexpr ULONG kCmdDownloadDone = 10013;

constexpr ULONG kDtmOnline = 12;

// Cuts a UTF-8 text to at most `bytes` bytes without splitting a character.
void CutUtf8(std::string& text, size_t bytes) {
  if (text.size() <= bytes) return;
  size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

constexpr const char* kControlClasses[] = {
    "Static",        "Edit",           "RichEdit",          "ComboBox",        "ListBox",
    "Button",        "ScrollBar",      "SysListView32",     "SysTreeView32",   "SysAnimate32",
    "SysHeader32",   "SysTabControl32", "SysMonthCal32",    "SysDateTimePick32", "SysIPAddress32",
    "ComboBoxEx32",  "msctls_updown32", "msctls_progress32", "msctls_hotkey32", "msctls_trackbar32"};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

constexpr LONG kTypeEdit = 2;
constexpr LONG kTypeRichEdit = 3;
constexpr LONG kTypeComboBox = 4;
constexpr LONG kTypeListBox = 5;
constexpr LONG kTypeButton = 6;

constexpr WORD kStatusIconIds[5] = {664, 667, 671, 673, 669};

}  // namespace

// The command id as VT_UI4: a conversion failure is returned, another resulting type is E_FAIL.
HRESULT CovFDT_BaseActiveXImpl::ReadCommandId(const VARIANT& command, ULONG* id) {
  if (command.vt == VT_UI4) {
    *id = command.ulVal;
    return S_OK;
  }
  vkr::Variant copy;
  HRESULT hr = VariantCopy(&copy, &command);
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(&copy, &copy, 0, VT_UI4);
  if (FAILED(hr)) return hr;
  if (copy.vt != VT_UI4) return E_FAIL;
  *id = copy.ulVal;
  return S_OK;
}

// A number out of a VARIANT of any numeric or text type; false when it has none.
bool CovFDT_BaseActiveXImpl::ReadNumber(const VARIANT& value, LONG* number) {
  vkr::Variant copy;
  if (FAILED(VariantChangeType(&copy, &value, 0, VT_I4)) || copy.vt != VT_I4) return false;
  *number = copy.lVal;
  return true;
}



// ---- Construction -------------------------------------------------------------------------------

CovFDT_BaseActiveXImpl::CovFDT_BaseActiveXImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                               EUiFamily family)
    : m_clsid(clsid), m_eFamily(family) {
  int count = 0;
  if (parameterMap) m_pParInfo = parameterMap(&count, TRUE);
  // The count handed back is trusted only up to the table's own end entry.
  m_nParInfoCount = m_pParInfo ? static_cast<ULONG>(std::min(count < 0 ? 0 : count, CountParameterEntries(m_pParInfo)))
                               : 0;
  m_hBackgroundBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  CovFDT_BaseActiveXImpl::InitializeMembers();
  m_nDialogType = 2;
  for (HBITMAP& bitmap : m_ahCheckBitmaps) bitmap = LoadBitmapA(nullptr, MAKEINTRESOURCEA(OBM_CHECKBOXES));
  BITMAP info{};
  if (m_ahCheckBitmaps[0] && GetObjectA(m_ahCheckBitmaps[0], sizeof info, &info)) {
    m_nCheckCellWidth = info.bmWidth / 4;
    m_nCheckCellHeight = info.bmHeight / 3;
  }
}

CovFDT_BaseActiveXImpl::~CovFDT_BaseActiveXImpl() {
  if (m_hBackgroundBrush) DeleteObject(m_hBackgroundBrush);
  for (HBITMAP bitmap : m_ahCheckBitmaps)
    if (bitmap) DeleteObject(bitmap);
  for (HICON icon : m_ahStatusIcons)
    if (icon) DestroyIcon(icon);
  delete[] m_pParInfo;
}

HRESULT CovFDT_BaseActiveXImpl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImpl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImpl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseActiveXImpl::InitializeMembers() {
  m_nStateCount = 8;
  m_anStateOrder = {0, 4, 2, 6, 1, 5, 3, 7};
  m_apszStateText = {"", "!", "*", "!", "", "!", "*", "!", nullptr, nullptr};
  m_pszUnknownStateText = "?";
  m_anColorTable = {0x10000000, 0x10000000, 0x10000000, 0x10000000, 0x10000000, 255,        0xff0000,
                    255,        0,          0,          0x40a0a0a0, 0x40a0a0a0, 0x40a0a0a0, 0x40a0a0a0,
                    0x30ffffff, 0x30ffffff, 0x30ffffff, 0x30ffffff, 0,          0,          0x209c9c9c,
                    255,        0xff0000,   255,        0x10000000, 255,        0xff0000,   255};
  m_nLimit = 32767;
  return S_OK;
}

// ---- Start-up and tear-down ---------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  if (ok) *ok = VARIANT_FALSE;
  if (!dtm) return E_POINTER;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  HRESULT hr = dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
  if (FAILED(hr) || !handler) return FAILED(hr) ? hr : E_NOINTERFACE;
  m_spDtmObject = dtm;
  m_spDtm = handler;

  const HINSTANCE module = vkr::ui::atl_detail::ThisModule();
  for (size_t i = 0; i < m_ahStatusIcons.size(); ++i)
    if (!m_ahStatusIcons[i])
      m_ahStatusIcons[i] = static_cast<HICON>(
          LoadImageA(module, MAKEINTRESOURCEA(kStatusIconIds[i]), IMAGE_ICON, 16, 16, 0));

  // The DTM's state decides the access mode before anything is shown.
  vkr::ComPtr<IovFdtBaseDTM> base;
  EDtmState state = dsUNDEFINED;
  if (SUCCEEDED(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) && base &&
      SUCCEEDED(base->GetDTMState(&state)))
    StoreDtmState(static_cast<ULONG>(state));

  hr = ExecuteCommand(vkr::UI4(kCmdLanguage), vkr::I4(static_cast<LONG>(m_nLanguage)));
  if (FAILED(hr)) return hr;
  hr = ReadAllParameters();
  if (FAILED(hr)) return hr;
  if (ok) *ok = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::UninitializeUI(VARIANT_BOOL* ok) {
  if (ok) *ok = VARIANT_FALSE;
  DestroyIndicatorWindows();
  ReleaseDisplayControls();
  vkr::ComPtr<IovFdtTranslationEvent> translation;
  if (SUCCEEDED(QueryInterface(IovFdtTranslationEvent::iid, translation.PutVoid())) && translation)
    translation->OnTranslate(0);
  for (HICON& icon : m_ahStatusIcons) {
    if (icon) DestroyIcon(icon);
    icon = nullptr;
  }
  m_spDtm = nullptr;
  m_spDtmObject = nullptr;
  if (ok) *ok = VARIANT_TRUE;
  return S_OK;
}

// ---- Errors -------------------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::ReportError(BSTR) { return E_NOTIMPL; }

HRESULT CovFDT_BaseActiveXImpl::ReportFormatted(size_t capacity, const char* format, va_list args) {
  std::string text;
  if (format) {
    bool ok = true;
    text = vkr::FormatV(format, args, &ok);
    if (!ok) text.clear();
  }
  CutUtf8(text, capacity - 1);
  vkr::Bstr message(vkr::Utf8ToUtf16(text));
  ReportError(message.Get());
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::ErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  HRESULT hr = ReportFormatted(512, format, args);
  va_end(args);
  return hr;
}

void CovFDT_BaseActiveXImpl::OnError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportFormatted(4096, format, args);
  va_end(args);
}

// ---- Commands -----------------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::ExecuteCommand(VARIANT command, VARIANT argument) {
  // A failed device access is kept for whichever user interface started it.
  if (vkr::ui::NoteDeviceAccessFailure(command, argument)) return S_OK;
  return m_eFamily == EUiFamily::Control ? ExecuteControlCommand(command, argument)
                                         : ExecuteBaseCommand(command, argument);
}

HRESULT CovFDT_BaseActiveXImpl::ExecuteBaseCommand(VARIANT command, VARIANT argument) {
  ULONG id = 0;
  HRESULT hr = ReadCommandId(command, &id);
  if (FAILED(hr)) return hr;
  if (GetAccessMode() == 4) return S_FALSE;

  auto forward = [](HRESULT result) { return FAILED(result) ? result : S_OK; };
  switch (id) {
    case kCmdLanguage:
      return forward(OnNotifyAllEvent(argument));
    case kCmdRefreshAll:
      return forward(OnRefreshAllEvent(argument));
    case kCmdUserLevel: {
      LONG level = 0;
      if (!ReadNumber(argument, &level)) level = argument.lVal;
      m_nUserLevel = static_cast<ULONG>(level);
      m_bObserver = level == 1;
      return S_OK;
    }
    case kCmdSchemaFolder: {
      // The folder must be a text: anything else is refused, not read as one.
      if (argument.vt != VT_BSTR) return E_INVALIDARG;
      hr = InitializeSchemaCache(argument.bstrVal);
      if (FAILED(hr)) {
        OnError("InitializeSchemaCache returned 0x%X, maybe thereis a problem with MSXML.", hr);
        return hr;
      }
      return S_OK;
    }
    case kCmdDataSetEditable:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      m_bDataSetLocked = argument.boolVal == VARIANT_FALSE;
      ApplyOnlineAccess(argument.boolVal != VARIANT_FALSE);
      return S_OK;
    case kCmdParameterState:
      return forward(OnParameterStateEvent(argument));
    case kCmdTranslationPath:
      if (argument.vt != VT_BSTR) return S_FALSE;
      m_bstrTranslationPath = vkr::Bstr(argument.bstrVal);
      return S_OK;
    case kCmdParameterRefresh:
      return forward(OnParameterRefreshEvent(argument));
    case kCmdPrivateDialogs:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      SetDisplayOption(argument.boolVal != VARIANT_FALSE);
      return S_OK;
    case kCmdParameterChanged:
      return forward(OnParameterChangedEvent(argument));
    case kCmdDtmMessage:
      return forward(OnDtmMessage(argument));
    case kCmdNotifyParameter:
      if (argument.vt != VT_UI4) return E_INVALIDARG;
      return forward(OnNotifyParameter(static_cast<LONG>(argument.ulVal)));
    case kCmdUploadDone:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      if (argument.boolVal != VARIANT_FALSE) SetDirty(FALSE);
      return S_OK;
    case kCmdDownloadDone:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      if (argument.boolVal != VARIANT_FALSE && (m_nDialogType & 0x5)) SetDirty(FALSE);
      return S_OK;
    default:
      return S_FALSE;
  }
}

HRESULT CovFDT_BaseActiveXImpl::ExecuteControlCommand(VARIANT command, VARIANT argument) {
  ULONG id = 0;
  HRESULT hr = ReadCommandId(command, &id);
  if (FAILED(hr)) return hr;
  switch (id) {
    case kCmdLanguage:
      ExecuteBaseCommand(command, argument);
      return OnLanguageCommand(argument);
    case kCmdUserLevel: {
      LONG level = 0;
      if (!ReadNumber(argument, &level)) level = argument.lVal;
      m_nUserLevel = static_cast<ULONG>(level);
      m_bObserver = level == 1;
      if (m_nStatusSubscription & 0x200) return NotifyStatus(0x200, m_nUserLevel);
      return S_OK;
    }
    case kCmdDataSetEditable:
      ExecuteBaseCommand(command, argument);
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      return SetDialogType(m_nDialogType);
    case kCmdDataSetState:
      if (argument.vt != VT_UI2) return E_INVALIDARG;
      if (argument.uiVal > 3) return S_OK;
      return NotifyStatus(4, argument.uiVal);
    case kCmdLockNotice:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      return NotifyStatus(5, argument.boolVal == VARIANT_TRUE ? 1 : 2);
    case kCmdStatusWord:
      if (argument.vt != VT_UI2) return E_INVALIDARG;
      if (m_nStatusSubscription & 0x100) return NotifyStatus(0x100, argument.uiVal);
      return S_OK;
    case kCmdUploadDone:
    case kCmdDownloadDone:
      if (argument.vt != VT_BOOL) return E_INVALIDARG;
      if (argument.boolVal == VARIANT_TRUE && (id == kCmdUploadDone || (m_nDialogType & 0x5))) {
        EnableApplyButton(FALSE);
        SetDirty(FALSE);
      }
      return S_OK;
    default:
      return ExecuteBaseCommand(command, argument);
  }
}

HRESULT CovFDT_BaseActiveXImpl::QueryExtraInterface(REFIID riid, void** ppv) {
  if (riid == IovFdtTranslation::iid) return CovFDT_ActiveXTranslationImpl::QueryDtmTranslation(DtmObject(), riid, ppv);
  return vkr::ObjectRoot::QueryExtraInterface(riid, ppv);
}

HRESULT CovFDT_BaseActiveXImpl::OnNotifyAllEvent(VARIANT language) {
  LONG lcid = 0;
  vkr::Variant copy;
  HRESULT hr = VariantChangeType(&copy, &language, 0, VT_I4);
  if (FAILED(hr)) return hr;
  if (copy.vt != VT_I4) return E_FAIL;
  lcid = copy.lVal;
  m_nLanguage = static_cast<LCID>(lcid);
  vkr::ComPtr<IovFdtTranslationEvent> translation;
  if (SUCCEEDED(QueryInterface(IovFdtTranslationEvent::iid, translation.PutVoid())) && translation)
    translation->OnTranslate(static_cast<ULONG>(lcid));
  NotifyAllParameters();
  return S_OK;
}

// ---- DTM state, dialog type, access -------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::StoreDtmState(ULONG state) {
  m_nPreviousDtmState = m_nDtmState;
  m_nDtmState = state;
  // A user interface being released stays so: going online must not open it to commands again.
  if (m_nAccessMode != 4) {
    if (state == kDtmOnline)
      m_nAccessMode = 9;
    else if (m_nAccessMode >= 8)
      m_nAccessMode = 8;
  }
  if (m_nDialogType & 0x4) m_bOnline = state == kDtmOnline;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnDtmStateChanged(ULONG state) {
  const bool wasOnline = m_nDtmState == kDtmOnline;
  StoreDtmState(state);
  const bool isOnline = state == kDtmOnline;
  const bool crossed = wasOnline != isOnline;
  if (crossed && (m_nDialogType & 0x4)) ApplyOnlineAccess(isOnline);
  HRESULT hr = SetDialogType(m_nDialogType);
  if (FAILED(hr)) return hr;
  if (crossed)
    for (ULONG i = 0; i < m_nParInfoCount; ++i)
      if (m_pParInfo[i].m_nUpdateRate > 0)
        SetStatusIndicator(i, m_pParInfo[i].m_nState, m_pParInfo[i].m_nState, TRUE);
  if (m_eFamily == EUiFamily::Control) {
    const ULONG kind = state == 10 ? 1 : state == 11 ? 3 : state == kDtmOnline ? 2 : 4;
    hr = NotifyStatus(1, kind);
    if (FAILED(hr)) return hr;
    return CheckCyclicUpdate();
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::StoreDialogType(ULONG type) {
  m_nDialogType = type;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetDialogType(ULONG type) {
  HRESULT hr = StoreDialogType(type);
  if (FAILED(hr) || m_eFamily != EUiFamily::Control) return hr;
  hr = NotifyStatus(6, (type & 0x8) ? 1 : 2);
  if (FAILED(hr)) return hr;
  const bool locked = m_bDataSetLocked != FALSE;
  ULONG value = 11;
  if (type & 0x4)
    value = locked ? 8 : 4;
  else if (type & 0x2)
    value = locked ? 2 : 1;
  else if (type & 0x1)
    value = locked ? 10 : 5;
  return NotifyStatus(3, value);
}

LONG CovFDT_BaseActiveXImpl::GetAccessMode() { return m_nAccessMode; }

HRESULT CovFDT_BaseActiveXImpl::SetAccessMode(LONG mode) {
  m_nAccessMode = mode;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::SetDisplayOption(BOOL privateDialogs) {
  m_bDisplayOption = privateDialogs;
  return S_OK;
}

// ---- Focus snapshot -----------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::OnControlSetFocus(UINT, UINT controlId, HWND control) {
  m_vFocusSnapshot.Clear();
  m_nFocusedEntryState = 0;
  char className[256] = {};
  if (!control || GetClassNameA(control, className, sizeof className) <= 0) return S_OK;
  const std::string_view name(className);
  if (EqualNoCase(name, "Edit")) {
    char16_t text[256] = {};
    GetWindowTextW(control, text, 256);
    m_vFocusSnapshot.vt = VT_BSTR;
    m_vFocusSnapshot.bstrVal = SysAllocString(text);
  } else if (EqualNoCase(name, "ComboBox")) {
    m_vFocusSnapshot = vkr::Variant(vkr::I4(static_cast<LONG>(SendMessageA(control, CB_GETCURSEL, 0, 0))));
  } else if (EqualNoCase(name, "ListBox")) {
    m_vFocusSnapshot = vkr::Variant(vkr::I4(static_cast<LONG>(SendMessageA(control, LB_GETCURSEL, 0, 0))));
  } else if (EqualNoCase(name, "Button")) {
    m_vFocusSnapshot.vt = VT_UI1;
    m_vFocusSnapshot.bVal = SendMessageA(control, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
  } else {
    return S_OK;
  }
  for (ULONG i = 0; i < m_nParInfoCount; ++i)
    if (m_pParInfo[i].m_nCtrlId == controlId) {
      m_nFocusedEntryState = m_pParInfo[i].m_nState;
      break;
    }
  return S_OK;
}

// ---- Control types ------------------------------------------------------------------------------

LONG CovFDT_BaseActiveXImpl::GetControlType(HWND window) {
  if (!window) return 0;
  char className[99] = {};
  if (GetClassNameA(window, className, sizeof className) <= 0) return 0;
  for (size_t i = 0; i < std::size(kControlClasses); ++i)
    if (EqualNoCase(className, kControlClasses[i])) return static_cast<LONG>(i + 1);
  return 0;
}

LONG CovFDT_BaseActiveXImpl::GetControlTypeById(LONG controlId) {
  if (!m_hWndDialog) return 0;
  return GetControlType(GetDlgItem(m_hWndDialog, controlId));
}

// ---- Table lookups and names --------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::OperationPhaseFromName(LPCWSTR name, ULONG* phase) {
  if (!phase) return E_POINTER;
  if (!name) return E_FAIL;
  const std::string text = vkr::Utf16ToUtf8(std::u16string_view(name));
  static constexpr struct {
    const char* name;
    ULONG flag;
  } kPhases[] = {{"notSupported", 0}, {"engineering", 1}, {"commissioning", 2}, {"runtime", 4}, {"service", 8}};
  for (const auto& entry : kPhases)
    if (text == entry.name) {
      *phase = entry.flag;
      return S_OK;
    }
  return E_FAIL;
}

HRESULT CovFDT_BaseActiveXImpl::GetImageFolder(BSTR* folder) {
  if (!folder) return E_POINTER;
  *folder = nullptr;
  if (!m_bstrImageFolder.Get()) return S_OK;
  *folder = SysAllocStringLen(m_bstrImageFolder.Get(), m_bstrImageFolder.Length());
  return *folder ? S_OK : E_OUTOFMEMORY;
}

HRESULT CovFDT_BaseActiveXImpl::SetImageFolder(LPCWSTR folder) {
  m_bstrImageFolder = folder ? vkr::Bstr(std::u16string_view(folder)) : vkr::Bstr();
  return S_OK;
}

// ---- Hosted controls ----------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::GetHostedControl(UINT controlId, REFIID riid, void** control) const {
  if (!control) return E_POINTER;
  *control = nullptr;
  if (!m_hWndDialog || controlId == 0) return E_NOINTERFACE;
  HRESULT hr = ::GetDlgControl(m_hWndDialog, static_cast<int>(controlId), riid, control);
  if (FAILED(hr) || !*control) {
    *control = nullptr;
    return FAILED(hr) ? hr : E_NOINTERFACE;
  }
  return S_OK;
}

bool CovFDT_BaseActiveXImpl::IsHostedControl(UINT controlId, REFIID riid) const {
  vkr::ComPtr<IUnknown> control;
  return SUCCEEDED(GetHostedControl(controlId, riid, control.PutVoid())) && control;
}

// ---- Hooks of the control layer -----------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImpl::EnableApplyButton(BOOL enable) {
  if (!m_hWndDialog || m_nApplyButtonId == 0) return S_OK;
  HWND button = GetDlgItem(m_hWndDialog, static_cast<int>(m_nApplyButtonId));
  if (!button) return S_OK;
  EnableWindow(button, enable);
  if (!enable) {
    // An owner-drawn button keeps its style: the default mark would make it an ordinary button.
    const DWORD style = static_cast<DWORD>(GetWindowLongA(button, GWL_STYLE));
    if ((style & BS_OWNERDRAW) < BS_OWNERDRAW)
      SendMessageA(button, BM_SETSTYLE, (style & 0xFFFFu) & ~static_cast<DWORD>(BS_DEFPUSHBUTTON), TRUE);
    RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (GetFocus() == button) SetFocus(GetNextDlgTabItem(m_hWndDialog, button, FALSE));
  }
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImpl::OnLanguageCommand(VARIANT) { return S_OK; }
HRESULT CovFDT_BaseActiveXImpl::NotifyStatus(ULONG, ULONG) { return S_OK; }

HRESULT CovFDT_BaseActiveXImpl::CheckCyclicUpdate() {
  bool cyclic = false;
  if (m_nDtmState == kDtmOnline && m_nDialogType == 4)
    for (ULONG i = 0; i < m_nParInfoCount && !cyclic; ++i) cyclic = m_pParInfo[i].m_nUpdateRate != 0;
  return NotifyStatus(2, cyclic ? 1 : 2);
}

HRESULT CovFDT_BaseActiveXImpl::IsInfoSupported(VARIANT) { return S_FALSE; }

HRESULT CovFDT_BaseActiveXImpl::SetSchemaSource(IUnknown* container) {
  vkr::ComPtr<IFdtContainer> held;
  if (container) container->QueryInterface(IFdtContainer::iid, held.PutVoid());
  m_spSchemaSource = held;
  if (!m_spSchemaSource) return S_FALSE;
  vkr::Bstr folder;
  HRESULT hr = m_spSchemaSource->GetXmlSchemaPath(folder.Put());
  if (FAILED(hr)) return hr;
  hr = InitializeSchemaCache(folder.Get());
  if (FAILED(hr)) OnError("InitializeSchemaCache returned 0x%X, maybe there isa problem with MSXML.", hr);
  return hr;
}

// ---- The shared message map ---------------------------------------------------------------------

BOOL CovFDT_BaseActiveXImpl::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  LRESULT answer = 0;
  BOOL handled = TRUE;
  switch (message) {
    case WM_SHOWWINDOW:
      OnShowWindow(message, wParam, lParam, &handled);
      break;
    case WM_CTLCOLOREDIT:
      answer = OnCtlColorEdit(message, wParam, lParam, &handled);
      handled = handled && answer != 0;
      break;
    case WM_CTLCOLORLISTBOX:
      answer = OnCtlColorListBox(message, wParam, lParam, &handled);
      handled = handled && answer != 0;
      break;
    case WM_CTLCOLORSTATIC:
      answer = OnCtlColorStatic(message, wParam, lParam, &handled);
      handled = handled && answer != 0;
      break;
    case WM_CTLCOLORDLG:
      answer = OnCtlColorDlg(message, wParam, lParam, &handled);
      handled = handled && answer != 0;
      break;
    case WM_DRAWITEM:
      handled = OnDrawItem(static_cast<UINT>(wParam), reinterpret_cast<DRAWITEMSTRUCT*>(lParam)) == S_OK;
      answer = handled;
      break;
    case WM_COMMAND:
      return DispatchCommandNotification(wParam, lParam, result);
    default:
      return FALSE;
  }
  if (handled && result) *result = answer;
  return handled;
}

// Notification codes mean different things for edits, buttons, combo and list boxes: they are
// read by the sending control's class. Notifications of controls with id 0 (the indicators) and
// of windows that are not controls are not the user's input.
BOOL CovFDT_BaseActiveXImpl::DispatchCommandNotification(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const UINT id = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  HWND control = reinterpret_cast<HWND>(lParam);
  if (id == 0 || !control) return FALSE;
  enum { kNone, kSetFocus, kKillFocus, kChange, kIgnore } what = kNone;
  switch (GetControlType(control)) {
    case kTypeEdit:
    case kTypeRichEdit:
      what = code == EN_SETFOCUS ? kSetFocus : code == EN_KILLFOCUS ? kKillFocus : code == EN_CHANGE ? kChange : kNone;
      break;
    case kTypeComboBox:
      what = code == CBN_SETFOCUS    ? kSetFocus
             : code == CBN_KILLFOCUS ? kKillFocus
             : (code == CBN_SELCHANGE || code == CBN_EDITCHANGE) ? kChange
                                                                 : kNone;
      break;
    case kTypeListBox:
      what = code == LBN_SETFOCUS ? kSetFocus : code == LBN_KILLFOCUS ? kKillFocus : code == LBN_SELCHANGE ? kChange : kNone;
      break;
    case kTypeButton:
      // A button commits through its click; its losing the focus is taken and left alone.
      what = code == BN_SETFOCUS ? kSetFocus : code == BN_KILLFOCUS ? kIgnore : code == BN_CLICKED ? kChange : kNone;
      break;
    default:
      break;
  }
  BOOL handled = TRUE;
  switch (what) {
    case kSetFocus:
      OnControlSetFocus(code, id, control);
      break;
    case kKillFocus:
      OnControlKillFocus(code, wParam, lParam, &handled);
      break;
    case kChange:
      OnControlChange(code, id, control);
      break;
    case kIgnore:
      break;
    case kNone:
      return FALSE;
  }
  if (handled && result) *result = 0;
  return handled;
}

// The property-page layer: construction, the start and release through the DTM, the
// IPropertyPage operations, the page map and the keyboard rules inside a page.
#include "ui/framework/PropertyPage.h"

#include <string_view>

#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr RPC_STATUS kUuidLocalOnly = 1824;  // RPC_S_UUID_LOCAL_ONLY: unique on this machine, still usable

constexpr LONG kFieldDeviceParameter = 0x1;
constexpr ULONG kStateChanged = 0x2;
constexpr ULONG kOptionStoreInDtm = 0x100;
constexpr ULONG kDialogWritesDirectly = 0x8;  // dialog type: every change goes out at once

constexpr UINT kForwardMessage = 0x037F;      // WM_FORWARDMSG: lParam the MSG
constexpr WORD kRestoreFocusNotification = 0x430;

constexpr LONG kTypeEdit = 2;
constexpr LONG kTypeRichEdit = 3;
constexpr LONG kTypeComboBox = 4;
constexpr LONG kTypeListBox = 5;
constexpr LONG kTypeButton = 6;

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object && FAILED(object->QueryInterface(Interface::iid, found.PutVoid()))) found = nullptr;
  return found;
}

bool IsClass(HWND window, std::string_view name) {
  char buffer[64] = {};
  if (!window || ::GetClassNameA(window, buffer, sizeof buffer) <= 0) return false;
  const std::string_view actual(buffer);
  if (actual.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char a = actual[i], b = name[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// Whether the window's text marks `key` as its mnemonic ("&K"; "&&" is a plain ampersand).
bool HasMnemonic(HWND window, char16_t key) {
  char16_t text[256] = {};
  const int length = ::GetWindowTextW(window, text, 256);
  for (int i = 0; i + 1 < length; ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;
      continue;
    }
    return Upper(text[i + 1]) == Upper(key);
  }
  return false;
}

ULONG ButtonKind(HWND button) { return static_cast<ULONG>(::GetWindowLongW(button, GWL_STYLE)) & 0x0F; }

// Replaces a task-memory text of a PROPPAGEINFO with the translated one when the look-up finds it.
void ReplaceTranslated(IovFdtTranslation* translation, const std::u16string& xpath, LPOLESTR* slot) {
  vkr::Bstr text;
  VARIANT_BOOL found = VARIANT_FALSE;
  if (FAILED(translation->GetTranslation(vkr::Bstr(xpath).Get(), text.Put(), &found)) || found != VARIANT_TRUE) return;
  LPOLESTR copy = vkr::CoTaskMemString(text.View());
  if (!copy) return;
  CoTaskMemFree(*slot);
  *slot = copy;
}

}  // namespace

// ---- Construction -------------------------------------------------------------------------------

CovFDT_BasePropertyPageImpl::CovFDT_BasePropertyPageImpl(const SPropertyPageClass& pageClass)
    : CovFDT_BaseActiveXImpl(pageClass.clsid, pageClass.parameterMap, EUiFamily::Page), m_class(pageClass) {
  UUID uuid{};
  const RPC_STATUS status = UuidCreate(&uuid);
  if (status == 0 || status == kUuidLocalOnly) GuidToString(&uuid, m_bstrInstanceId.Put());
  // The page is known to the DTM (message 3, cyclic reading) by this one id.
  m_bstrSystemTag = m_bstrInstanceId;
}

CovFDT_BasePropertyPageImpl::~CovFDT_BasePropertyPageImpl() {
  // The window's last messages must not reach a half-destroyed page.
  AttachDialogWindow(nullptr);
}

HRESULT CovFDT_BasePropertyPageImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BaseActiveXImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_BasePropertyPageImpl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CovFDT_BaseActiveXImpl::GetTypeInfo(index, locale, info);
}
HRESULT CovFDT_BasePropertyPageImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                                   DISPID* ids) {
  return CovFDT_BaseActiveXImpl::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CovFDT_BasePropertyPageImpl::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return CovFDT_BaseActiveXImpl::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

void* CovFDT_BasePropertyPageImpl::FindInterface(REFIID riid) {
  if (riid == IPropertyPage::iid) return static_cast<IPropertyPage*>(this);
  if (riid == IovFdtPropertyPageControl::iid) return static_cast<IovFdtPropertyPageControl*>(this);
  return CovFDT_BaseActiveXImpl::FindInterface(riid);
}
HRESULT CovFDT_BasePropertyPageImpl::QueryExtraInterface(REFIID riid, void** ppv) {
  if (riid == IPPFrameCtrl::iid) return QueryPageFrame(ppv);
  return CovFDT_BaseActiveXImpl::QueryExtraInterface(riid, ppv);
}
IUnknown* CovFDT_BasePropertyPageImpl::IdentityUnknown() { return CovFDT_BaseActiveXImpl::IdentityUnknown(); }
IUnknown* CovFDT_BasePropertyPageImpl::OwnerUnknown() { return GetControllingUnknown(); }

HRESULT CovFDT_BasePropertyPageImpl::QueryPageFrame(void** frame) {
  if (!frame) return E_INVALIDARG;
  *frame = nullptr;
  if (!m_spPageSite) return E_NOINTERFACE;
  const HRESULT hr = m_spPageSite->QueryInterface(IPPFrameCtrl::iid, frame);
  if (FAILED(hr) || !*frame) {
    *frame = nullptr;
    return E_NOINTERFACE;
  }
  return S_OK;
}

// ---- IovFdtPropertyPageControl ------------------------------------------------------------------

HRESULT CovFDT_BasePropertyPageImpl::Announce(IUnknown* dtm) {
  IUnknown* self = GetControllingUnknown();
  if (auto management = Query<IovFdtActiveXManagement>(dtm)) {
    m_bAnnouncedByManagement = true;
    const HRESULT hr = management->StartFunction(m_bstrInstanceId.Get(), self, 0);
    return FAILED(hr) ? hr : S_OK;
  }
  if (auto container = Query<IovFdtActiveXContainer>(dtm)) {
    m_bAnnouncedByManagement = false;
    const HRESULT hr = container->StartOrFinishFunction(m_bstrInstanceId.Get(), self);
    return FAILED(hr) ? hr : S_OK;
  }
  return E_NOINTERFACE;
}

void CovFDT_BasePropertyPageImpl::WithdrawAnnouncement(IUnknown* dtm) {
  if (m_bAnnouncedByManagement) {
    if (auto management = Query<IovFdtActiveXManagement>(dtm)) management->FunctionFinished(m_bstrInstanceId.Get());
  } else if (auto container = Query<IovFdtActiveXContainer>(dtm)) {
    container->StartOrFinishFunction(m_bstrInstanceId.Get(), nullptr);
  }
}

HRESULT CovFDT_BasePropertyPageImpl::Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) {
  if (m_hWnd) ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  if (!dtm || !functionCall || m_bStarted || m_spPageDtm) return S_FALSE;

  vkr::ComPtr<IUnknown> object;
  if (FAILED(dtm->QueryInterface(IID_IUnknown, object.PutVoid())) || !object) return S_FALSE;
  m_spPageDtm = object;
  m_bstrPageSystemTag = vkr::Bstr(systemTag);
  // Kept before the announcement: the function container asks the page for it (information 1).
  m_bstrFunctionCall = vkr::Bstr(functionCall);

  auto forget = [this] {
    m_spPageDtm = nullptr;
    m_bstrPageSystemTag = vkr::Bstr();
    m_bstrFunctionCall = vkr::Bstr();
  };
  if (FAILED(Announce(object.Get()))) {
    // A container may have kept the page before it refused: nothing of it must stay registered.
    WithdrawAnnouncement(object.Get());
    forget();
    return S_FALSE;
  }
  // From here on every refusal takes the registration back.
  auto refuse = [&] {
    WithdrawAnnouncement(object.Get());
    forget();
    return S_FALSE;
  };

  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(functionCall, document.Put(), &loaded)) || !loaded || !document) return refuse();
  vkr::Bstr phase;
  bool found = false;
  if (FAILED(GetXmlString(phase.Put(), &found, document.Get(), vkr::Bstr(u"*/FDTFunctionCall/@ops:operationPhase").Get())))
    return refuse();
  if (found) {
    ULONG flags = 0;
    if (SUCCEEDED(OperationPhaseFromName(phase.Get(), &flags))) m_nOperationPhase = flags;
  }

  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = InitializeUI(object.Get(), &ok);
  if (FAILED(hr) || ok != VARIANT_TRUE) {
    // The base may hold the DTM's interfaces from a start that failed half-way.
    VARIANT_BOOL released = VARIANT_FALSE;
    CovFDT_BaseActiveXImpl::UninitializeUI(&released);
    return refuse();
  }
  if (!Query<IovFdtParameterHandler4>(object.Get())) {
    VARIANT_BOOL released = VARIANT_FALSE;
    CovFDT_BaseActiveXImpl::UninitializeUI(&released);
    return refuse();
  }
  m_bStarted = true;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::PrepareToRelease(VARIANT_BOOL* ready) {
  if (!ready) return E_POINTER;
  *ready = VARIANT_FALSE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = UninitializeUI(&ok);
  if (FAILED(hr) || ok != VARIANT_TRUE) return S_FALSE;
  if (!m_bStarted || !m_spPageDtm) {
    *ready = VARIANT_TRUE;
    return S_OK;
  }
  if (m_bAnnouncedByManagement) {
    auto management = Query<IovFdtActiveXManagement>(m_spPageDtm.Get());
    if (management && FAILED(management->FunctionFinished(m_bstrInstanceId.Get()))) return S_FALSE;
  } else if (auto container = Query<IovFdtActiveXContainer>(m_spPageDtm.Get())) {
    if (FAILED(container->StartOrFinishFunction(m_bstrInstanceId.Get(), nullptr))) return S_FALSE;
  }
  // Finished once: asking again is not a second finish the container would refuse.
  m_bStarted = false;
  *ready = VARIANT_TRUE;
  return S_OK;
}

// ---- IPropertyPage ------------------------------------------------------------------------------

HRESULT CovFDT_BasePropertyPageImpl::SetPageSite(IPropertyPageSite* site) {
  m_spPageSite = site;
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (!rect) return E_POINTER;
  if (!m_hWnd) {
    if (!CreateDialogWindow(m_class.dialogId, parent)) return E_FAIL;
    AttachDialogWindow(m_hWnd);
    // Showing is Show's: a template marked visible must not show the page before the frame does.
    if (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_VISIBLE) ::ShowWindow(m_hWnd, SW_HIDE);
    // The frame's dialog navigation enters the page (Init may have run before the window existed).
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  }
  const HRESULT hr = Move(rect);
  if (FAILED(hr)) return hr;
  m_sizePage = {rect->right - rect->left, rect->bottom - rect->top};
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::Deactivate() {
  DestroyIndicatorWindows();
  DestroyDialogWindow();
  AttachDialogWindow(nullptr);
  m_hWndLastFocus = nullptr;
  return S_OK;
}

bool CovFDT_BasePropertyPageImpl::LoadPageString(UINT id, std::u16string* text) {
  if (id == 0) return false;
  WCHAR buffer[1024] = {};
  const int n = ::LoadStringW(ResourceInstance(), id, buffer, 1024);
  if (n <= 0) return false;
  text->assign(buffer, static_cast<size_t>(n));
  return true;
}

HRESULT CovFDT_BasePropertyPageImpl::GetPageInfo(PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  SIZE pixels{};
  if (!TemplatePixels(m_class.dialogId, &pixels)) return E_UNEXPECTED;
  PROPPAGEINFO out{};
  out.cb = sizeof(PROPPAGEINFO);
  out.size = pixels;
  out.dwHelpContext = m_class.helpContext;
  bool complete = true;
  auto load = [&](UINT id, LPOLESTR* slot) {
    std::u16string text;
    if (!LoadPageString(id, &text)) return;
    *slot = vkr::CoTaskMemString(text);
    if (!*slot) complete = false;
  };
  load(m_class.titleId, &out.pszTitle);
  load(m_class.docStringId, &out.pszDocString);
  load(m_class.helpFileId, &out.pszHelpFile);
  if (!complete) {
    CoTaskMemFree(out.pszTitle);
    CoTaskMemFree(out.pszDocString);
    CoTaskMemFree(out.pszHelpFile);
    return E_OUTOFMEMORY;
  }
  // Without a translation the resource texts stand.
  TranslatePageInfo(&out);
  *info = out;
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::TranslatePageInfo(PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  IUnknown* dtm = m_spDtmObject ? m_spDtmObject.Get() : m_spPageDtm.Get();
  auto translation = Query<IovFdtTranslation>(dtm);
  if (!translation) return S_OK;
  LPOLESTR userType = nullptr;
  const HRESULT hr = OleRegGetUserType(m_clsid, USERCLASSTYPE_FULL, &userType);
  if (FAILED(hr)) return hr;
  std::u16string name = userType ? std::u16string(userType) : std::u16string();
  CoTaskMemFree(userType);
  // A quote would end the XPath literal early: such a name has no entry.
  if (name.find(u'"') != std::u16string::npos) return S_OK;
  const std::u16string base = u"localization/ActiveXList/ActiveX[@classname=\"" + name + u"\"]";
  ReplaceTranslated(translation.Get(), base + u"/Title", &info->pszTitle);
  ReplaceTranslated(translation.Get(), base + u"/HelpFile", &info->pszHelpFile);
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::SetObjects(ULONG count, IUnknown** objects) {
  if (count > 0 && !objects) return E_POINTER;
  std::vector<vkr::ComPtr<IUnknown>> kept;
  kept.reserve(count);
  for (ULONG i = 0; i < count; ++i) kept.emplace_back(objects[i]);
  m_objects.swap(kept);
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::Show(UINT command) {
  if (!m_hWnd) return E_UNEXPECTED;
  ::ShowWindow(m_hWnd, static_cast<int>(command));
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::Move(LPCRECT rect) {
  if (!m_hWnd) return E_UNEXPECTED;
  if (!rect) return E_POINTER;
  ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::IsPageDirty() {
  if (m_nDialogType & kDialogWritesDirectly) return S_FALSE;
  return m_bDirty == 1 ? S_OK : S_FALSE;
}

HRESULT CovFDT_BasePropertyPageImpl::Apply() {
  HRESULT hr = SetFocusToControl();
  if (FAILED(hr)) return hr;
  auto info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  for (ULONG i = 0; i < m_nParInfoCount; ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    if (!(entry.m_nState & kStateChanged)) continue;
    const LONG id = entry.m_nParamId;
    vkr::Variant field;
    hr = info->GetParameterField(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(kFieldDeviceParameter), &field);
    if (FAILED(hr)) return hr;
    vkr::Variant number;
    const bool device = SUCCEEDED(VariantChangeType(&number, &field, 0, VT_UI4)) && number.vt == VT_UI4 &&
                        number.ulVal != 0;
    const bool storeInDtm =
        (m_nDialogType & 2) || ((m_nDialogType & 1) && (entry.m_nCtrlKind & kOptionStoreInDtm));
    hr = device && !storeInDtm ? ApplyDeviceEntry(id) : ValidateControlValue(id);
    if (FAILED(hr)) return hr;
  }
  SetDirty(FALSE);
  return S_OK;
}

HRESULT CovFDT_BasePropertyPageImpl::Help(LPCOLESTR) {
  // There is no help viewer here; the frame shows help through the page's WM_HELP.
  return E_NOTIMPL;
}

HRESULT CovFDT_BasePropertyPageImpl::TranslateAccelerator(MSG* message) {
  if (!message) return E_POINTER;
  ULONG state = 0;
  if (HandleNavigationKey(message, &state)) return S_OK;
  if (state == 1) return S_FALSE;
  if (!m_spPageSite) return S_FALSE;
  return m_spPageSite->TranslateAccelerator(message) == S_OK ? S_OK : S_FALSE;
}

HRESULT CovFDT_BasePropertyPageImpl::SetInfo(VARIANT id, VARIANT* value) {
  ULONG item = 0;
  if (SUCCEEDED(ReadCommandId(id, &item)) && item == 1 && value && m_bstrFunctionCall.Get()) {
    VariantClear(value);
    value->vt = VT_BSTR;
    return m_bstrFunctionCall.CopyTo(&value->bstrVal);
  }
  return CovFDT_BaseActiveXImpl::SetInfo(id, value);
}

HRESULT CovFDT_BasePropertyPageImpl::OnControlSetFocus(UINT code, UINT controlId, HWND control) {
  // The focus notification is the other road to the remembered focus window.
  if (control) m_hWndLastFocus = control;
  return CovFDT_BaseActiveXImpl::OnControlSetFocus(code, controlId, control);
}

// ---- Keyboard -----------------------------------------------------------------------------------

BOOL CovFDT_BasePropertyPageImpl::HandleEnterKey(HWND focus) {
  if (!focus || !IsClass(focus, "Button")) return FALSE;
  if (!Query<IovFdtParameterInfo>(m_spDtm.Get())) return FALSE;
  const LONG controlId = ::GetDlgCtrlID(focus);
  for (ULONG i = 0; i < m_nParInfoCount; ++i)
    if (static_cast<LONG>(m_pParInfo[i].m_nCtrlId) == controlId) {
      CommitControlValue(static_cast<LONG>(i));
      return TRUE;
    }
  return FALSE;
}

BOOL CovFDT_BasePropertyPageImpl::HandleNavigationKey(MSG* message, ULONG* state) {
  ULONG ignored = 0;
  if (!state) state = &ignored;
  *state = 0;
  if (!message || !m_hWnd) return FALSE;
  const UINT kind = message->message;
  const bool keyboard = kind >= WM_KEYFIRST && kind <= 0x109;
  const bool mouse = kind >= 0x200 && kind <= 0x20E;
  if (!keyboard && !mouse) return FALSE;

  HWND page = m_hWnd;
  HWND focus = ::GetFocus();
  const bool inside = focus && (focus == page || ::IsChild(page, focus));
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;

  // Alt with a letter: the control whose label carries it.
  if (kind == WM_SYSCHAR && message->wParam >= 'A' && inside) {
    const char16_t key = static_cast<char16_t>(message->wParam);
    for (HWND child = ::GetWindow(page, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (!::IsWindowEnabled(child) || !HasMnemonic(child, key)) continue;
      // A control that is a tab stop itself takes the key; a label hands it to the control after it.
      const bool tabStop = (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0 && !IsClass(child, "Static");
      HWND target = tabStop ? child : ::GetNextDlgTabItem(page, child, FALSE);
      if (!target) return TRUE;
      ::SetFocus(target);
      if (IsClass(target, "Button")) ::SendMessageW(target, BM_CLICK, 0, 0);
      *state = m_bNavigationFlag ? 1 : 0;
      return TRUE;
    }
  }

  // Tab coming into the page from the frame.
  if (kind == WM_KEYDOWN && message->wParam == VK_TAB) {
    m_bNavigationFlag = FALSE;
    if (focus && focus == ::GetParent(page)) {
      ::SetFocus(page);
      m_bNavigationFlag = TRUE;
      return TRUE;
    }
    if (!inside) {
      m_bNavigationFlag = TRUE;
      if (HWND target = ::GetNextDlgTabItem(page, nullptr, shift ? TRUE : FALSE)) ::SetFocus(target);
      return TRUE;
    }
  }
  // With the focus elsewhere the key is the frame's; on the page window itself, its dialog manager's.
  if (!inside) return FALSE;
  if (focus == page) return ::IsDialogMessageW(page, message);

  // The page's own child that holds the focus.
  HWND control = focus;
  while (control && ::GetParent(control) != page) control = ::GetParent(control);
  if (!control) return FALSE;
  if (::SendMessageW(control, kForwardMessage, 0, reinterpret_cast<LPARAM>(message)) == 1) return TRUE;
  const LRESULT code = ::SendMessageW(control, WM_GETDLGCODE, message->wParam, reinterpret_cast<LPARAM>(message));

  if (kind == WM_KEYDOWN) {
    const WPARAM key = message->wParam;
    if (key == VK_CANCEL || key == VK_ESCAPE) {
      RestoreFocusSnapshot(control);
      return TRUE;
    }
    if (key == VK_TAB) {
      if (code & DLGC_WANTTAB) return ::IsDialogMessageW(page, message);
      HWND next = ::GetNextDlgTabItem(page, control, shift ? TRUE : FALSE);
      if (!next || next == control) return FALSE;
      ::SetFocus(next);
      return TRUE;
    }
    if (key == VK_RETURN) {
      if (!HandleEnterKey(control)) return FALSE;
      ::IsDialogMessageW(page, message);
      return TRUE;
    }
    if (key >= VK_LEFT && key <= VK_DOWN) {
      if (!IsClass(control, "Button")) return FALSE;
      if (ButtonKind(control) != BS_AUTORADIOBUTTON && !(code & DLGC_WANTARROWS)) {
        const bool backward = key == VK_LEFT || key == VK_UP;
        HWND edge = ::GetNextDlgTabItem(page, nullptr, backward ? FALSE : TRUE);
        // The first item's previous and the last item's next lie outside the page.
        if (backward && edge == control) return FALSE;
        if (!backward && edge == control) return FALSE;
      }
      return ::IsDialogMessageW(page, message);
    }
    return FALSE;
  }
  if (kind == WM_CHAR && code == 0) return FALSE;
  return ::IsDialogMessageW(page, message);
}

void CovFDT_BasePropertyPageImpl::RestoreFocusSnapshot(HWND control) {
  const LONG type = GetControlType(control);
  const VARIANT& snapshot = m_vFocusSnapshot;
  const BOOL updating = m_bUpdatingControls;
  m_bUpdatingControls = TRUE;
  if ((type == kTypeEdit || type == kTypeRichEdit) && snapshot.vt == VT_BSTR) {
    ::SetWindowTextW(control, snapshot.bstrVal ? snapshot.bstrVal : u"");
  } else if (type == kTypeComboBox && snapshot.vt == VT_I4) {
    ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(snapshot.lVal), 0);
  } else if (type == kTypeListBox && snapshot.vt == VT_I4) {
    ::SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(snapshot.lVal), 0);
  } else if (type == kTypeButton && snapshot.vt == VT_UI1) {
    ::SendMessageW(control, BM_SETCHECK, snapshot.bVal ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  m_bUpdatingControls = updating;
  // The entry shows again what it showed before the edit.
  const LONG controlId = ::GetDlgCtrlID(control);
  for (ULONG i = 0; i < m_nParInfoCount; ++i)
    if (static_cast<LONG>(m_pParInfo[i].m_nCtrlId) == controlId) {
      SetControlState(static_cast<LONG>(i), m_nFocusedEntryState);
      break;
    }
}

// ---- The page's own operations ------------------------------------------------------------------

HRESULT CovFDT_BasePropertyPageImpl::GetInstanceId(BSTR* text) {
  if (!text) return E_FAIL;
  *text = nullptr;
  if (!m_bstrInstanceId.Get()) return S_OK;
  return m_bstrInstanceId.CopyTo(text);
}

BOOL CovFDT_BasePropertyPageImpl::OnPageCommand(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const WORD code = HIWORD(wParam);
  HWND control = reinterpret_cast<HWND>(lParam);
  if (code == kRestoreFocusNotification) {
    if (m_hWndLastFocus && ::IsWindow(m_hWndLastFocus)) {
      m_bFocusRestored = TRUE;
      ::SetFocus(m_hWndLastFocus);
    }
    *result = 0;
    return TRUE;
  }
  const LONG type = GetControlType(control);
  const bool killFocus = ((type == kTypeEdit || type == kTypeRichEdit) && code == EN_KILLFOCUS) ||
                         (type == kTypeComboBox && code == CBN_KILLFOCUS) ||
                         (type == kTypeListBox && code == LBN_KILLFOCUS);
  if (killFocus) {
    BOOL handled = TRUE;
    const HRESULT hr = OnControlKillFocus(code, wParam, lParam, &handled);
    *result = static_cast<LRESULT>(hr);
    return handled;
  }
  if (type != kTypeButton) return FALSE;
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  if (code == BN_KILLFOCUS) {
    if ((style & 0x0F) != BS_DEFPUSHBUTTON) return FALSE;
    ::SendMessageW(control, BM_SETSTYLE, static_cast<WPARAM>((style & ~0x0FL) | BS_PUSHBUTTON), TRUE);
    ::InvalidateRect(control, nullptr, TRUE);
    *result = 0;
    return TRUE;
  }
  if (code == BN_SETFOCUS) {
    if (!m_bFocusRestored || (style & 0x0F) != BS_PUSHBUTTON) return FALSE;
    ::SendMessageW(control, BM_SETSTYLE, static_cast<WPARAM>((style & ~0x0FL) | BS_DEFPUSHBUTTON), TRUE);
    ::InvalidateRect(control, nullptr, TRUE);
    // The snapshot of the focused control is still taken.
    OnControlSetFocus(code, LOWORD(wParam), control);
    *result = 0;
    return TRUE;
  }
  return FALSE;
}

BOOL CovFDT_BasePropertyPageImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                       LRESULT& result, DWORD mapId) {
  if (mapId != 0) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      AttachDialogWindow(window);
      return FALSE;
    case WM_DESTROY:
      // The frame may destroy the page area with the page in it: nothing may keep its windows.
      DestroyIndicatorWindows();
      AttachDialogWindow(nullptr);
      return FALSE;
    case WM_COMMAND:
      if (OnPageCommand(wParam, lParam, &result)) return TRUE;
      break;
    case WM_SETCURSOR:
      m_hWndLastFocus = ::GetFocus();
      result = 0;
      return TRUE;
    case WM_STYLECHANGING:
      // The new extended style is taken from here: the page always stays a control parent.
      if (static_cast<int>(wParam) == GWL_EXSTYLE && lParam)
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
      return FALSE;
    default:
      break;
  }
  if (CovFDT_BaseActiveXImpl::ProcessWindowMessage(window, message, wParam, lParam, &result)) return TRUE;
  if (message == WM_STYLECHANGED) {
    if (static_cast<int>(wParam) == GWL_EXSTYLE) {
      if (lParam) reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
      result = 0;
    } else {
      result = 1;
    }
    return TRUE;
  }
  return FALSE;
}

// ---- CovFDT_PropertyPageImpl --------------------------------------------------------------------

CovFDT_PropertyPageImpl::CovFDT_PropertyPageImpl(const SPropertyPageClass& pageClass)
    : CovFDT_BasePropertyPageImpl(pageClass), m_translation(*this, pageClass.controlNames) {}
CovFDT_PropertyPageImpl::~CovFDT_PropertyPageImpl() = default;

HRESULT CovFDT_PropertyPageImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BasePropertyPageImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_PropertyPageImpl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CovFDT_BasePropertyPageImpl::GetTypeInfo(index, locale, info);
}
HRESULT CovFDT_PropertyPageImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return CovFDT_BasePropertyPageImpl::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CovFDT_PropertyPageImpl::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return CovFDT_BasePropertyPageImpl::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

// The page information is translated by GetPageInfo.
HRESULT CovFDT_PropertyPageImpl::OnTranslate(ULONG lcid) { return m_translation.OnTranslate(lcid); }

BOOL CovFDT_PropertyPageImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                   LRESULT& result, DWORD mapId) {
  if (mapId != 0) return FALSE;
  return CovFDT_BasePropertyPageImpl::ProcessWindowMessage(window, message, wParam, lParam, result, mapId) ? TRUE
                                                                                                          : FALSE;
}

void* CovFDT_PropertyPageImpl::FindInterface(REFIID riid) {
  if (riid == IovFdtTranslationEvent::iid) return static_cast<IovFdtTranslationEvent*>(this);
  return CovFDT_BasePropertyPageImpl::FindInterface(riid);
}

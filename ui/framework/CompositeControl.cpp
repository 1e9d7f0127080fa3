// The composite-control base: the OLE control on the framework base, its window and close road.
#include "ui/framework/CompositeControl.h"

#include <string>
#include <utility>

#include "include/TranslationInterfaces.h"
#include "parameters/CovVAPacker.h"

namespace {

template <class Itf, class Self>
void* Match(Self* self, REFIID riid) {
  return vkr::detail::MatchInterface<Itf>(static_cast<Itf*>(self), riid);
}

}  // namespace

CovFDT_BaseActiveXImplEx::CovFDT_BaseActiveXImplEx(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                   const SCompositeControlClass& cls)
    : CovFDT_BaseActiveXImpl(clsid, parameterMap, EUiFamily::Control), m_class(cls) {
  for (const UINT* id = cls.hostedDisplayControls; id && *id; ++id) m_anHostedDisplayControls.push_back(*id);
  m_nApplyButtonId = kApplyButtonId;
  if (cls.controlNames)
    m_pTranslation = std::make_unique<CovFDT_ActiveXTranslationPart>(
        *this, cls.controlNames, [this](LONG controlId) { return TranslationItem(controlId); });
}

CovFDT_BaseActiveXImplEx::~CovFDT_BaseActiveXImplEx() {
  DestroyControlWindow();
  if (m_hAmbientBrush) DeleteObject(m_hAmbientBrush);
}

void* CovFDT_BaseActiveXImplEx::FindInterface(REFIID riid) {
  if (void* found = CovFDT_BaseActiveXImpl::FindInterface(riid)) return found;
  if (riid == IovFdtTranslationEvent::iid && m_pTranslation)
    return static_cast<IovFdtTranslationEvent*>(m_pTranslation.get());
  if (void* found = Match<IOleObject>(this, riid)) return found;
  if (void* found = Match<IOleInPlaceObject>(this, riid)) return found;
  if (void* found = Match<IOleInPlaceActiveObject>(this, riid)) return found;
  if (void* found = Match<IOleControl>(this, riid)) return found;
  return Match<IPersistStreamInit>(this, riid);
}

IUnknown* CovFDT_BaseActiveXImplEx::OwnerUnknown() { return GetControllingUnknown(); }

HWND CovFDT_BaseActiveXImplEx::TranslationItem(LONG controlId) {
  HWND dialog = DialogWindow();
  return dialog && controlId != 0 ? ::GetDlgItem(dialog, static_cast<int>(controlId)) : nullptr;
}

// ---- Window -------------------------------------------------------------------------------------

HWND CovFDT_BaseActiveXImplEx::Create(HWND parent, const RECT* rect, LPARAM) {
  HWND window = m_hWnd;
  if (!window) window = CreateDialogWindow(m_class.dialogId, parent);
  if (!window) return nullptr;
  AttachDialogWindow(window);
  if (rect && rect->right > rect->left && rect->bottom > rect->top)
    ::MoveWindow(window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  OnFinalCreate();
  ::ShowWindow(window, SW_SHOWNOACTIVATE);
  // The hosted display controls learn which status kinds the control passes on.
  for (UINT id : m_anHostedDisplayControls) {
    vkr::ComPtr<IHostedControlNotify> notify;
    if (FAILED(GetDlgControl(static_cast<int>(id), IHostedControlNotify::iid, notify.PutVoid())) || !notify) continue;
    notify->SetOption1(m_nStatusSubscription & 0x100);
    notify->SetOption2(m_nStatusSubscription & 0x200);
    notify->SetOption3(m_nStatusSubscription & 0x400);
  }
  return window;
}

BOOL CovFDT_BaseActiveXImplEx::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                    LRESULT& result, DWORD) {
  return DialogProc(window, message, wParam, lParam, &result);
}

BOOL CovFDT_BaseActiveXImplEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      AttachDialogWindow(window);
      break;
    case WM_DESTROY:
      m_bClosePending = false;
      if (DialogWindow() == window) AttachDialogWindow(nullptr);
      break;
    case kCloseRequestMessage:
      // The request is this window's own: the object is the one the window belongs to, whatever
      // the message carries (the window keeps it alive until the message is done).
      m_bClosePending = false;
      RequestCloseFromContainer();
      if (result) *result = 0;
      return TRUE;
    default:
      break;
  }
  return ProcessWindowMessage(window, message, wParam, lParam, result);
}

BOOL CovFDT_BaseActiveXImplEx::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                    LRESULT* result) {
  BOOL handled = TRUE;
  LRESULT answer = 0;
  switch (message) {
    case WM_MOUSEACTIVATE:
      answer = OnMouseActivate(message, wParam, lParam, &handled);
      break;
    case WM_SETCURSOR:
      answer = OnSetCursor(message, wParam, lParam, &handled);
      break;
    case WM_HELP:
      answer = OnHelp(message, wParam, lParam, &handled);
      break;
    default:
      handled = FALSE;
      break;
  }
  if (handled) {
    if (result) *result = answer;
    return TRUE;
  }
  return CovFDT_BaseActiveXImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

// The dialog's background, and its labels', in the ambient colour (a brush of its own, made again
// when the colour changes and freed with the control).
BOOL CovFDT_BaseActiveXImplEx::BaseWindowMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_CTLCOLORDLG && message != WM_CTLCOLORSTATIC && message != WM_ERASEBKGND) return FALSE;
  if (!m_hAmbientBrush || m_clrAmbientBrush != m_clrBackground) {
    if (m_hAmbientBrush) DeleteObject(m_hAmbientBrush);
    m_hAmbientBrush = CreateSolidBrush(m_clrBackground);
    m_clrAmbientBrush = m_clrBackground;
  }
  if (message == WM_ERASEBKGND) {
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    ::FillRect(reinterpret_cast<HDC>(wParam), &client, m_hAmbientBrush);
    *result = 1;
    return TRUE;
  }
  if (message == WM_CTLCOLORSTATIC) ::SetBkColor(reinterpret_cast<HDC>(wParam), m_clrBackground);
  *result = reinterpret_cast<LRESULT>(m_hAmbientBrush);
  return TRUE;
}

HRESULT CovFDT_BaseActiveXImplEx::PostCloseRequest() {
  if (!m_hWnd || !::IsWindow(m_hWnd)) return E_FAIL;
  // Key repeat or OK after Escape: one request closes the control, a second would ask again.
  if (m_bClosePending) return S_OK;
  if (!::PostMessageW(m_hWnd, kCloseRequestMessage, 0, reinterpret_cast<LPARAM>(GetControllingUnknown())))
    return E_FAIL;
  m_bClosePending = true;
  return S_OK;
}

HRESULT CovFDT_BaseActiveXImplEx::RequestCloseFromContainer() {
  vkr::ComPtr<IovFdtActiveXContainer> container;
  if (!m_spDtmUnknown || FAILED(m_spDtmUnknown->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid())) ||
      !container)
    return E_NOINTERFACE;
  const vkr::Bstr id(m_bstrSystemTag);  // the close may release what holds the tag
  VARIANT_BOOL closed = VARIANT_FALSE;
  HRESULT hr = container->CloseUserInterface(id.Get(), &closed);
  if (FAILED(hr)) return hr;
  return closed ? S_OK : S_FALSE;
}

// ---- Keyboard -----------------------------------------------------------------------------------

bool CovFDT_BaseActiveXImplEx::PreTranslateAccelerator(MSG* msg, HRESULT* result) {
  if (!msg || !m_hWnd) return false;
  const bool key = msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
  const bool mouse = msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST;
  if (!key && !mouse) return false;
  if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return false;
  // A hosted control with the focus gets the message first.
  HWND focus = ::GetFocus();
  if (focus && ::IsChild(m_hWnd, focus)) {
    while (::GetParent(focus) && ::GetParent(focus) != m_hWnd) focus = ::GetParent(focus);
    if (::SendMessageW(focus, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(msg)) == 1) {
      *result = S_OK;
      return true;
    }
  }
  const LRESULT code = ::SendMessageW(msg->hwnd, WM_GETDLGCODE, 0, reinterpret_cast<LPARAM>(msg));
  if (msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_ESCAPE) {
      PostCloseRequest();
      *result = S_OK;
      return true;
    }
    if (msg->wParam == VK_CANCEL || msg->wParam == VK_EXECUTE) return false;  // the container's
  }
  if (msg->message == WM_CHAR && code == 0) return false;
  if (::IsDialogMessageW(m_hWnd, msg)) {
    *result = S_OK;
    return true;
  }
  return false;
}

// ---- Handlers of this class's map ---------------------------------------------------------------

LRESULT CovFDT_BaseActiveXImplEx::OnMouseActivate(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = TRUE;
  // In design mode the container keeps the control inactive.
  if (!m_bUIActive && vkr::AmbientUserMode(m_spClientSite.Get())) {
    RECT position{};
    if (m_hWnd) ::GetWindowRect(m_hWnd, &position);
    DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_spClientSite.Get(), 0, m_hWnd ? ::GetParent(m_hWnd) : nullptr, &position);
  }
  if (HWND parent = m_hWnd ? ::GetParent(m_hWnd) : nullptr)
    if (HWND top = ::GetParent(parent)) ::BringWindowToTop(top);
  return MA_ACTIVATE;
}

// The controls keep the window's own cursor.
LRESULT CovFDT_BaseActiveXImplEx::OnSetCursor(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = FALSE;
  return 0;
}

LRESULT CovFDT_BaseActiveXImplEx::OnHelp(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = TRUE;
  vkr::Bstr file;
  if (SUCCEEDED(GetHelpFile(file.Put()))) m_bstrLastHelpFile = std::move(file);
  return TRUE;
}

HRESULT CovFDT_BaseActiveXImplEx::GetHelpFile(BSTR* file) {
  if (!file) return E_POINTER;
  *file = nullptr;
  std::u16string name;
  if (m_class.helpTextId != 0) {
    WCHAR text[256] = {};
    const int length = ::LoadStringW(ResourceInstance(), m_class.helpTextId, text, 256);
    if (length > 0) name.assign(text, static_cast<size_t>(length));
  }
  *file = ::SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  if (!*file) return E_OUTOFMEMORY;
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  return CovFDT_ActiveXTranslationImpl::GetHelpFile(dtm, m_clsid, file);
}

// ---- Control versions of the base's operations --------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::OnControlChange(UINT code, UINT controlId, HWND control) {
  // The base enables Apply for the controls after a user change already.
  return CovFDT_BaseActiveXImpl::OnControlChange(code, controlId, control);
}
HRESULT CovFDT_BaseActiveXImplEx::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  return CovFDT_BaseActiveXImpl::OnShowWindow(message, wParam, lParam, handled);
}
HRESULT CovFDT_BaseActiveXImplEx::OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT extra) {
  return CovFDT_BaseActiveXImpl::OnParamGroupDisplayEvent(controlId, kind, data, extra);
}

HRESULT CovFDT_BaseActiveXImplEx::ChangeUpdateRate(LONG id, ULONG rate) {
  HRESULT hr = CovFDT_BaseActiveXImpl::ChangeUpdateRate(id, rate);
  if (FAILED(hr)) return hr;
  return CheckCyclicUpdate();
}

HRESULT CovFDT_BaseActiveXImplEx::CheckCyclicUpdate() {
  vkr::Variant list;
  HRESULT hr = SetInfo(vkr::I4(32), &list);
  if (FAILED(hr)) return hr;
  if (list.vt != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
  std::vector<SParamUpdateInfo> updates;
  hr = UnpackParamUpdateInfos(updates, list);
  if (FAILED(hr)) return hr;
  const bool running = m_nDtmState == 12 && !updates.empty() && m_nDialogType == 4;
  return NotifyStatus(2, running ? 1 : 2);
}

HRESULT CovFDT_BaseActiveXImplEx::CallActiveXContainer(ULONG functionId, ULONG enabled) {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  vkr::ComPtr<IovFdtActiveXContainer> container;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid())) || !container)
    return E_NOINTERFACE;
  return container->SetFunctionEnabled(static_cast<LONG>(functionId), enabled ? TRUE : FALSE);
}

void CovFDT_BaseActiveXImplEx::DestroyControlWindow() {
  DestroyDialogWindow();
  AttachDialogWindow(nullptr);
}

// ---- IOleObject ---------------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::SetClientSite(IOleClientSite* site) {
  m_spClientSite = site;
  if (site) m_clrBackground = vkr::AmbientBackColor(site, m_clrBackground);
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  return m_spClientSite.CopyTo(site);
}
HRESULT CovFDT_BaseActiveXImplEx::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::Close(DWORD) { return InPlaceDeactivate(); }
HRESULT CovFDT_BaseActiveXImplEx::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImplEx::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImplEx::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImplEx::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImplEx::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT rect) {
  if (!m_spClientSite && activeSite) m_spClientSite = activeSite;
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return InPlaceActivate(verb, rect);
    case OLEIVERB_HIDE:
      if (m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
      return S_OK;
    default:
      return E_NOTIMPL;
  }
}
HRESULT CovFDT_BaseActiveXImplEx::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs) *verbs = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImplEx::Update() { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::IsUpToDate() { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::GetUserType(DWORD form, LPOLESTR* text) {
  return ::OleRegGetUserType(m_clsid, form, text);
}
HRESULT CovFDT_BaseActiveXImplEx::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (!size) return E_POINTER;
  m_sizeExtent = *size;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (!size) return E_POINTER;
  if (m_sizeExtent.cx == 0 && m_sizeExtent.cy == 0) {
    SIZE pixels{};
    if (TemplatePixels(m_class.dialogId, &pixels)) m_sizeExtent = vkr::PixelsToHimetric(pixels);
  }
  *size = m_sizeExtent;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::Advise(IAdviseSink*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImplEx::Unadvise(DWORD) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImplEx::EnumAdvise(IEnumSTATDATA** advises) {
  if (advises) *advises = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseActiveXImplEx::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = vkr::atl::kCompositeControlMiscStatus;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleInPlaceObject --------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = m_hWnd;
  return m_hWnd ? S_OK : E_FAIL;
}
HRESULT CovFDT_BaseActiveXImplEx::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImplEx::InPlaceDeactivate() {
  if (!m_bInPlaceActive) return S_OK;
  UIDeactivate();
  m_bInPlaceActive = false;
  DestroyControlWindow();
  vkr::ComPtr<IOleInPlaceSite> site;
  if (m_spClientSite && SUCCEEDED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) && site)
    site->OnInPlaceDeactivate();
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::UIDeactivate() {
  if (!m_bUIActive) return S_OK;
  m_bUIActive = false;
  vkr::ComPtr<IOleInPlaceSite> site;
  if (m_spClientSite && SUCCEEDED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) && site)
    site->OnUIDeactivate(FALSE);
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (m_hWnd)
    ::MoveWindow(m_hWnd, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::ReactivateAndUndo() { return E_NOTIMPL; }

// ---- IOleInPlaceActiveObject --------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::TranslateAccelerator(LPMSG msg) {
  if (!msg) return E_POINTER;
  HRESULT result = S_FALSE;
  if (PreTranslateAccelerator(msg, &result)) return result;
  // A key the control does not take goes back to its container, with the modifiers held.
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST || !m_spClientSite) return S_FALSE;
  vkr::ComPtr<IOleControlSite> site;
  if (FAILED(m_spClientSite->QueryInterface(IOleControlSite::iid, site.PutVoid())) || !site) return S_FALSE;
  DWORD modifiers = 0;
  if (::GetKeyState(VK_SHIFT) < 0) modifiers |= KEYMOD_SHIFT;
  if (::GetKeyState(VK_CONTROL) < 0) modifiers |= KEYMOD_CONTROL;
  if (::GetKeyState(VK_MENU) < 0) modifiers |= KEYMOD_ALT;
  return site->TranslateAccelerator(msg, modifiers) == S_OK ? S_OK : S_FALSE;
}
HRESULT CovFDT_BaseActiveXImplEx::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::EnableModeless(BOOL) { return S_OK; }

// ---- IOleControl --------------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->cb = sizeof(CONTROLINFO);
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::OnMnemonic(MSG*) { return S_OK; }
HRESULT CovFDT_BaseActiveXImplEx::OnAmbientPropertyChange(DISPID id) {
  if ((id == DISPID_AMBIENT_BACKCOLOR || id == DISPID_UNKNOWN) && m_spClientSite) {
    m_clrBackground = vkr::AmbientBackColor(m_spClientSite.Get(), m_clrBackground);
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
  }
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::FreezeEvents(BOOL freeze) {
  m_nFreezeEvents += freeze ? 1 : (m_nFreezeEvents > 0 ? -1 : 0);
  return S_OK;
}

// ---- IPersistStreamInit -------------------------------------------------------------------------

HRESULT CovFDT_BaseActiveXImplEx::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::IsDirty() { return m_bRequiresSave ? S_OK : S_FALSE; }
HRESULT CovFDT_BaseActiveXImplEx::Load(IStream* stream) { return stream ? S_OK : E_POINTER; }
HRESULT CovFDT_BaseActiveXImplEx::Save(IStream*, BOOL clearDirty) {
  if (clearDirty) m_bRequiresSave = false;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}
HRESULT CovFDT_BaseActiveXImplEx::InitNew() { return S_OK; }

// Activates in place on the site's window (creating the control's window there), and UI-activates
// for OLEIVERB_UIACTIVATE.
HRESULT CovFDT_BaseActiveXImplEx::InPlaceActivate(LONG verb, LPCRECT) {
  if (!m_spClientSite) return E_UNEXPECTED;
  vkr::ComPtr<IOleInPlaceSite> site;
  if (FAILED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) || !site) return E_NOINTERFACE;
  if (!m_bInPlaceActive) {
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    m_bInPlaceActive = true;
    site->OnInPlaceActivate();
  }
  HWND parent = nullptr;
  site->GetWindow(&parent);
  RECT position{}, clip{};
  OLEINPLACEFRAMEINFO info{};
  info.cb = sizeof info;
  vkr::ComPtr<IOleInPlaceFrame> frame;
  vkr::ComPtr<IOleInPlaceUIWindow> document;
  site->GetWindowContext(frame.Put(), document.Put(), &position, &clip, &info);
  if (!m_hWnd) {
    m_clrBackground = vkr::AmbientBackColor(m_spClientSite.Get(), m_clrBackground);
    if (!Create(parent, &position)) {
      m_bInPlaceActive = false;
      site->OnInPlaceDeactivate();
      return E_FAIL;
    }
  } else if (position.right > position.left && position.bottom > position.top) {
    ::MoveWindow(m_hWnd, position.left, position.top, position.right - position.left, position.bottom - position.top,
                 TRUE);
  }
  ::ShowWindow(m_hWnd, SW_SHOW);
  if (verb == OLEIVERB_UIACTIVATE && !m_bUIActive) {
    m_bUIActive = true;
    site->OnUIActivate();
    if (!::IsChild(m_hWnd, ::GetFocus())) ::SetFocus(m_hWnd);
  }
  return S_OK;
}

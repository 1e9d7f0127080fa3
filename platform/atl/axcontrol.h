// The composite control base (ATL's composite control): an OLE control whose window is a dialog
// made from the class's template on the window its in-place site gives.
//
//   class CMyControl : public vkr::atl::CompositeControl<CMyControl, IDtmActiveXControl> {
//    public:
//     static constexpr UINT IDD = 131;              // the dialog template
//     BOOL ProcessWindowMessage(...) override;      // the message map
//   };
//
// It implements IOleObject (client site, Close, DoVerb INPLACEACTIVATE / UIACTIVATE / SHOW /
// HIDE, extents in HIMETRIC starting at the template's size, misc status 0x20191),
// IOleInPlaceObject, IOleInPlaceActiveObject (TranslateAccelerator: the class's own
// PreTranslateAccelerator, then the dialog manager of its dialog, then a key it did not take goes
// to the site's IOleControlSite::TranslateAccelerator with the Shift, Ctrl and Alt modifiers), IOleControl (ambient changes) and
// IPersistStreamInit (InitNew and Load, passed on to OnInitNew / OnLoad). The background follows
// the site's ambient BackColor.
#pragma once

#include "platform/atl/axwindow.h"
#include "platform/com/ole.h"
#include "platform/ui/gdi.h"

namespace vkr::atl {

inline constexpr DWORD kCompositeControlMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                                     OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                                     OLEMISC_SETCLIENTSITEFIRST;
static_assert(kCompositeControlMiscStatus == 0x20191);

template <class T, class... Itfs>
class CompositeControl : public Implements<IOleObject, IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl,
                                           IPersistStreamInit, Itfs...>,
                         public AxDialogWindow {
 public:
  ComPtr<IOleClientSite> m_spClientSite;
  SIZEL m_sizeExtent{0, 0};
  COLORREF m_clrBackground = RGB(0xF0, 0xF0, 0xF0);
  bool m_bInPlaceActive = false;
  bool m_bUIActive = false;
  bool m_bRequiresSave = false;
  int m_nFreezeEvents = 0;

  // ---- Hooks for the class ----
  virtual HRESULT OnInitNew() { return S_OK; }
  virtual HRESULT OnLoad(IStream*) { return S_OK; }
  // A keystroke for the control before its dialog manager sees it: return true with *result to
  // decide it.
  virtual bool PreTranslateAccelerator(MSG*, HRESULT*) { return false; }
  virtual DWORD MiscStatus() const { return kCompositeControlMiscStatus; }
  virtual CLSID ObjectClsid() const { return GUID_NULL; }
  // The window was made (before it is shown).
  virtual void OnWindowCreated() {}

  // ---- IOleObject ----
  HRESULT SetClientSite(IOleClientSite* site) override {
    m_spClientSite = site;
    if (site) m_clrBackground = AmbientBackColor(site, m_clrBackground);
    return S_OK;
  }
  HRESULT GetClientSite(IOleClientSite** site) override {
    if (!site) return E_POINTER;
    return m_spClientSite.CopyTo(site);
  }
  HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT Close(DWORD) override { return InPlaceDeactivate(); }
  HRESULT SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT GetClipboardData(DWORD, IDataObject** data) override {
    if (data) *data = nullptr;
    return E_NOTIMPL;
  }
  HRESULT DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT rect) override {
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
  HRESULT EnumVerbs(IEnumOLEVERB** e) override {
    if (e) *e = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Update() override { return S_OK; }
  HRESULT IsUpToDate() override { return S_OK; }
  HRESULT GetUserClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = ObjectClsid();
    return S_OK;
  }
  HRESULT GetUserType(DWORD form, LPOLESTR* text) override { return ::OleRegGetUserType(ObjectClsid(), form, text); }
  HRESULT SetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    if (!size) return E_POINTER;
    m_sizeExtent = *size;
    return S_OK;
  }
  HRESULT GetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    if (!size) return E_POINTER;
    if (m_sizeExtent.cx == 0 && m_sizeExtent.cy == 0) {
      SIZE px{};
      if (this->TemplatePixels(T::IDD, &px))
        m_sizeExtent = PixelsToHimetric(px);
    }
    *size = m_sizeExtent;
    return S_OK;
  }
  HRESULT Advise(IAdviseSink*, DWORD* cookie) override {
    if (cookie) *cookie = 0;
    return E_NOTIMPL;
  }
  HRESULT Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT EnumAdvise(IEnumSTATDATA** e) override {
    if (e) *e = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetMiscStatus(DWORD, DWORD* status) override {
    if (!status) return E_POINTER;
    *status = MiscStatus();
    return S_OK;
  }
  HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleWindow / IOleInPlaceObject ----
  HRESULT GetWindow(HWND* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT InPlaceDeactivate() override {
    if (!m_bInPlaceActive) return S_OK;
    UIDeactivate();
    m_bInPlaceActive = false;
    DestroyDialogWindow();
    ComPtr<IOleInPlaceSite> site;
    if (m_spClientSite && SUCCEEDED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) && site)
      site->OnInPlaceDeactivate();
    return S_OK;
  }
  HRESULT UIDeactivate() override {
    if (!m_bUIActive) return S_OK;
    m_bUIActive = false;
    ComPtr<IOleInPlaceSite> site;
    if (m_spClientSite && SUCCEEDED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) && site)
      site->OnUIDeactivate(FALSE);
    return S_OK;
  }
  HRESULT SetObjectRects(LPCRECT pos, LPCRECT) override {
    if (!pos) return E_POINTER;
    if (m_hWnd) ::MoveWindow(m_hWnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
    return S_OK;
  }
  HRESULT ReactivateAndUndo() override { return E_NOTIMPL; }

  // ---- IOleInPlaceActiveObject ----
  HRESULT TranslateAccelerator(LPMSG msg) override {
    if (!msg) return E_POINTER;
    HRESULT result = S_FALSE;
    if (PreTranslateAccelerator(msg, &result)) return result;
    if (m_hWnd && (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd)) && ::IsDialogMessageW(m_hWnd, msg))
      return S_OK;
    // A key the control does not take goes back to its container, with the modifiers held.
    if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && m_spClientSite) {
      ComPtr<IOleControlSite> site;
      if (SUCCEEDED(m_spClientSite->QueryInterface(IOleControlSite::iid, site.PutVoid())) && site) {
        DWORD modifiers = 0;
        if (::GetKeyState(VK_SHIFT) < 0) modifiers |= KEYMOD_SHIFT;
        if (::GetKeyState(VK_CONTROL) < 0) modifiers |= KEYMOD_CONTROL;
        if (::GetKeyState(VK_MENU) < 0) modifiers |= KEYMOD_ALT;
        return site->TranslateAccelerator(msg, modifiers) == S_OK ? S_OK : S_FALSE;
      }
    }
    return S_FALSE;
  }
  HRESULT OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT EnableModeless(BOOL) override { return S_OK; }

  // ---- IOleControl ----
  HRESULT GetControlInfo(CONTROLINFO* info) override {
    if (!info) return E_POINTER;
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
  }
  HRESULT OnMnemonic(MSG*) override { return S_OK; }
  HRESULT OnAmbientPropertyChange(DISPID id) override {
    if ((id == DISPID_AMBIENT_BACKCOLOR || id == DISPID_UNKNOWN) && m_spClientSite) {
      m_clrBackground = AmbientBackColor(m_spClientSite.Get(), m_clrBackground);
      if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    return S_OK;
  }
  HRESULT FreezeEvents(BOOL freeze) override {
    m_nFreezeEvents += freeze ? 1 : (m_nFreezeEvents > 0 ? -1 : 0);
    return S_OK;
  }

  // ---- IPersistStreamInit ----
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = ObjectClsid();
    return S_OK;
  }
  HRESULT IsDirty() override { return m_bRequiresSave ? S_OK : S_FALSE; }
  HRESULT Load(IStream* stream) override {
    if (!stream) return E_POINTER;
    return OnLoad(stream);
  }
  HRESULT Save(IStream*, BOOL clearDirty) override {
    if (clearDirty) m_bRequiresSave = false;
    return S_OK;
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
  }
  HRESULT InitNew() override { return OnInitNew(); }

  ~CompositeControl() override {
    if (m_hbrBackground) ::DeleteObject(m_hbrBackground);
  }

  // The ambient user mode of the site (true without a site).
  bool AmbientUserMode() const { return vkr::AmbientUserMode(m_spClientSite.Get()); }

 protected:
  IUnknown* OwnerUnknown() override { return this->GetControllingUnknown(); }

  // The dialog's background, and its labels', in the ambient colour (a brush of its own, made
  // again when the colour changes and freed with the control).
  BOOL BaseWindowMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) override {
    if (message != WM_CTLCOLORDLG && message != WM_CTLCOLORSTATIC && message != WM_ERASEBKGND) return FALSE;
    if (!m_hbrBackground || m_brushColor != m_clrBackground) {
      if (m_hbrBackground) ::DeleteObject(m_hbrBackground);
      m_hbrBackground = ::CreateSolidBrush(m_clrBackground);
      m_brushColor = m_clrBackground;
    }
    if (message == WM_ERASEBKGND) {
      RECT client{};
      ::GetClientRect(m_hWnd, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, m_hbrBackground);
      *result = 1;
      return TRUE;
    }
    // Labels stand on the control's background too.
    if (message == WM_CTLCOLORSTATIC) ::SetBkColor(reinterpret_cast<HDC>(wParam), m_clrBackground);
    *result = reinterpret_cast<LRESULT>(m_hbrBackground);
    return TRUE;
  }
  HBRUSH m_hbrBackground = nullptr;
  COLORREF m_brushColor = CLR_INVALID;

  // Activates in place on the site's window (creating the dialog there), and UI-activates for
  // OLEIVERB_UIACTIVATE.
  HRESULT InPlaceActivate(LONG verb, LPCRECT) {
    if (!m_spClientSite) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> site;
    if (FAILED(m_spClientSite->QueryInterface(IOleInPlaceSite::iid, site.PutVoid())) || !site) return E_NOINTERFACE;
    if (!m_bInPlaceActive) {
      if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
      m_bInPlaceActive = true;
      site->OnInPlaceActivate();
    }
    HWND parent = nullptr;
    site->GetWindow(&parent);
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> doc;
    site->GetWindowContext(frame.Put(), doc.Put(), &pos, &clip, &info);
    if (!m_hWnd) {
      m_clrBackground = AmbientBackColor(m_spClientSite.Get(), m_clrBackground);
      if (!CreateDialogWindow(T::IDD, parent)) {
        m_bInPlaceActive = false;
        site->OnInPlaceDeactivate();
        return E_FAIL;
      }
      OnWindowCreated();
    }
    if (pos.right > pos.left && pos.bottom > pos.top)
      ::MoveWindow(m_hWnd, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, TRUE);
    ::ShowWindow(m_hWnd, SW_SHOW);
    if (verb == OLEIVERB_UIACTIVATE && !m_bUIActive) {
      m_bUIActive = true;
      site->OnUIActivate();
      if (!::IsChild(m_hWnd, ::GetFocus())) ::SetFocus(m_hWnd);
    }
    return S_OK;
  }
};

}  // namespace vkr::atl

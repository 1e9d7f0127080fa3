// The composite-control base: the OLE control on the framework base, its window and close road.
#include "ui/framework/CompositeControl.h"

#include <string>

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
}

CovFDT_BaseActiveXImplEx::~CovFDT_BaseActiveXImplEx() {
  DestroyControlWindow();
  if (m_hAmbientBrush) DeleteObject(m_hAmbientBrush);
}

void* CovFDT_BaseActiveXImplEx::FindInterface(REFIID riid) {
  if (void* found = CovFDT_BaseActiveXImpl::FindInterface(riid)) return found;
  if (void* found = Match<IOleObject>(this, riid)) return found;
  if (void* found = Match<IOleInPlaceObject>(this, riid)) return found;
  if (void* found = Match<IOleInPlaceActiveObject>(this, riid)) return found;
  if (void* found = Match<IOleControl>(this, riid)) return found;
  return Match<IPersistStreamInit>(this, riid);
}

IUnknown* CovFDT_BaseActiveXImplEx::OwnerUnknown() { return GetControllingUnknown(); }

// ---- Window -------------------------------------------------------------------------------------

HWND CovFDT_BaseActiveXImplEx::Create(HWND, const RECT*, LPARAM) { return nullptr; }

BOOL CovFDT_BaseActiveXImplEx::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                    LRESULT& result, DWORD) {
  return DialogProc(window, message, wParam, lParam, &result);
}

BOOL CovFDT_BaseActiveXImplEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return ProcessWindowMessage(window, message, wParam, lParam, result);
}

BOOL CovFDT_BaseActiveXImplEx::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                    LRESULT* result) {
  return CovFDT_BaseActiveXImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

BOOL CovFDT_BaseActiveXImplEx::BaseWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

HRESULT CovFDT_BaseActiveXImplEx::PostCloseRequest() { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImplEx::RequestCloseFromContainer() { return E_NOTIMPL; }
bool CovFDT_BaseActiveXImplEx::PreTranslateAccelerator(MSG*, HRESULT*) { return false; }
LRESULT CovFDT_BaseActiveXImplEx::OnMouseActivate(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = FALSE;
  return 0;
}
LRESULT CovFDT_BaseActiveXImplEx::OnSetCursor(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = FALSE;
  return 0;
}
LRESULT CovFDT_BaseActiveXImplEx::OnHelp(UINT, WPARAM, LPARAM, BOOL* handled) {
  if (handled) *handled = FALSE;
  return 0;
}
HRESULT CovFDT_BaseActiveXImplEx::GetHelpFile(BSTR* file) {
  if (file) *file = nullptr;
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseActiveXImplEx::OnControlChange(UINT code, UINT controlId, HWND control) {
  return CovFDT_BaseActiveXImpl::OnControlChange(code, controlId, control);
}
HRESULT CovFDT_BaseActiveXImplEx::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  return CovFDT_BaseActiveXImpl::OnShowWindow(message, wParam, lParam, handled);
}
HRESULT CovFDT_BaseActiveXImplEx::OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT extra) {
  return CovFDT_BaseActiveXImpl::OnParamGroupDisplayEvent(controlId, kind, data, extra);
}
HRESULT CovFDT_BaseActiveXImplEx::ChangeUpdateRate(LONG id, ULONG rate) {
  return CovFDT_BaseActiveXImpl::ChangeUpdateRate(id, rate);
}
HRESULT CovFDT_BaseActiveXImplEx::CheckCyclicUpdate() { return CovFDT_BaseActiveXImpl::CheckCyclicUpdate(); }
HRESULT CovFDT_BaseActiveXImplEx::CallActiveXContainer(ULONG, ULONG) { return E_NOTIMPL; }

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
  return S_FALSE;
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

HRESULT CovFDT_BaseActiveXImplEx::InPlaceActivate(LONG, LPCRECT) { return E_NOTIMPL; }

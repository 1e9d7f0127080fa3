// The page frame: pages, the page site, OK, Cancel, Apply and Help across pages.
#include "ui/framework/PageFrame.h"

#include <algorithm>
#include <string>

#include "xml/Translation.h"

namespace {

constexpr ULONG kCommandLanguage = 9984;
constexpr ULONG kCommandUserLevel = 9988;
constexpr UINT kRedrawFrame = RDW_INVALIDATE | RDW_ERASE | RDW_FRAME;

VARIANT I2(SHORT n) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_I2;
  v.iVal = n;
  return v;
}

bool IsOwnerDrawn(HWND button) {
  return (static_cast<DWORD>(::GetWindowLongW(button, GWL_STYLE)) & BS_TYPEMASK) == BS_OWNERDRAW;
}

bool HasDefaultLook(HWND button) {
  return (static_cast<DWORD>(::GetWindowLongW(button, GWL_STYLE)) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// The whole subtree below `root`, depth first, for a control by id.
HWND FindDescendant(HWND root, int id) {
  for (HWND child = ::GetWindow(root, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (::GetDlgCtrlID(child) == id) return child;
    if (HWND found = FindDescendant(child, id)) return found;
  }
  return nullptr;
}

void FreePageInfoStrings(PROPPAGEINFO* info) {
  CoTaskMemFree(info->pszTitle);
  CoTaskMemFree(info->pszDocString);
  CoTaskMemFree(info->pszHelpFile);
  info->pszTitle = info->pszDocString = info->pszHelpFile = nullptr;
}

}  // namespace

CovFDT_BasePPFrameImpl::CovFDT_BasePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                               const SCompositeControlClass& cls)
    : CovFDT_IDtmActiveXControlImpl(clsid, parameterMap, cls) {}

CovFDT_BasePPFrameImpl::~CovFDT_BasePPFrameImpl() {
  if (m_pMediator && m_bMediatorStarted) m_pMediator->Stop();
  if (m_pMediator && m_dwMediatorCookie)
    AtlUnadvise(m_pMediator.Get(), _IMessageMediatorEvents::iid, m_dwMediatorCookie);
  FreePages();
  if (m_pClient) m_pClient->Release();
}

// ---- IDispatch --------------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_BasePPFrameImpl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CovFDT_BasePPFrameImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CovFDT_BasePPFrameImpl::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXControlImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

void* CovFDT_BasePPFrameImpl::FindInterface(REFIID riid) {
  if (riid == IPPFrameCtrl::iid) return static_cast<IPPFrameCtrl*>(this);
  if (riid == IPPFrameStyle::iid) return static_cast<IPPFrameStyle*>(this);
  if (riid == _IMessageMediatorEvents::iid) return static_cast<_IMessageMediatorEvents*>(this);
  if (riid == IPropertyPageSite::iid) return static_cast<IPropertyPageSite*>(this);
  if (riid == ISpecifyPropertyPages::iid) return static_cast<ISpecifyPropertyPages*>(this);
  return CovFDT_IDtmActiveXControlImpl::FindInterface(riid);
}

// ---- IPPFrameCtrl -----------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::SetClientObject(IUnknown* object) {
  IUnknown* next = nullptr;
  HRESULT hr = S_OK;
  if (object) {
    hr = object->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&next));
    if (FAILED(hr)) return hr;
  }
  // The object kept before goes: a frame handed a second client must not hold the first.
  if (m_pClient) m_pClient->Release();
  m_pClient = next;
  return hr;
}

HRESULT CovFDT_BasePPFrameImpl::SetFrameOption(LONG value) {
  m_nApplyOption = value;
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::SetCaption(BSTR text) {
  m_bstrCaption = vkr::Bstr(vkr::View(text));
  if (m_hWnd) ::SetWindowTextW(m_hWnd, m_bstrCaption.Get() ? m_bstrCaption.Get() : u"");
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::SetHelpInfo(LONG value, BSTR text) {
  m_bstrHelpText = vkr::Bstr(vkr::View(text));
  m_nHelpValue = value;
  return S_OK;
}

// ---- IPPFrameStyle ----------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::GetButtonWindow(ULONG index, HWND* window) {
  if (!window || index > 3) return E_INVALIDARG;
  *window = FrameControl(static_cast<int>(kFrameOk + index));
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::EnableButton(ULONG index, BOOL enable) {
  HWND button = nullptr;
  HRESULT hr = GetButtonWindow(index, &button);
  if (FAILED(hr)) return hr;
  if (button) ::EnableWindow(button, enable);
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::ShowButton(ULONG index, LONG show) {
  HWND button = nullptr;
  HRESULT hr = GetButtonWindow(index, &button);
  if (FAILED(hr)) return hr;
  if (button) ::ShowWindow(button, show > 0 ? SW_SHOW : SW_HIDE);
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::SetButtonText(ULONG index, LPCWSTR text) {
  HWND button = nullptr;
  HRESULT hr = GetButtonWindow(index, &button);
  if (FAILED(hr)) return hr;
  if (button && text) ::SetWindowTextW(button, text);
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::OnMessageMediatorEvent(MSG*) { return S_FALSE; }

// ---- IPropertyPageSite ------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::OnStatusChange(DWORD flags) {
  if ((flags & PROPPAGESTATUS_DIRTY) && m_nApplyOption) EnableButton(2, TRUE);
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::GetLocaleID(LCID* locale) {
  if (!locale) return E_POINTER;
  *locale = GetUserDefaultLCID();
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::GetPageContainer(IUnknown** container) {
  if (container) *container = nullptr;
  return E_NOTIMPL;
}

HRESULT CovFDT_BasePPFrameImpl::TranslateAccelerator(MSG* message) {
  if (!message) return E_POINTER;
  const UINT m = message->message;
  const bool keyboard = m >= WM_KEYFIRST && m <= 0x109;
  const bool mouse = m >= 0x200 && m <= 0x20E;
  if ((!keyboard && !mouse) || !m_hWnd) return S_FALSE;
  HWND focus = ::GetFocus();
  if (!focus || (focus != m_hWnd && !::IsChild(m_hWnd, focus))) return S_FALSE;
  if (m == WM_KEYDOWN && message->wParam == VK_TAB) {
    SetDefaultButton(TRUE);
    HWND selector = FrameControl(kFrameSelector);
    if (!selector) selector = FrameControl(kFramePageArea);
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    if (::GetKeyState(VK_CONTROL) < 0) {
      // The tab variant: the selection moves one tab, without wrapping round.
      if (selector && vkr::ui::ClassName(selector) == "SysTabControl32") {
        const LRESULT current = ::SendMessageW(selector, TCM_GETCURSEL, 0, 0);
        const LRESULT count = ::SendMessageW(selector, TCM_GETITEMCOUNT, 0, 0);
        if (shift && current > 0) ::SendMessageW(selector, TCM_SETCURFOCUS, static_cast<WPARAM>(current - 1), 0);
        if (!shift && current + 1 < count) ::SendMessageW(selector, TCM_SETCURFOCUS, static_cast<WPARAM>(current + 1), 0);
      }
    } else if (selector) {
      ::SetFocus(shift ? selector : ::GetNextDlgTabItem(m_hWnd, selector, FALSE));
    }
    return S_OK;
  }
  if (m == WM_KEYDOWN && message->wParam == VK_RETURN) {
    for (int index = kFrameOk; index <= kFrameHelp; ++index) {
      HWND button = FrameControl(index);
      if (!button || !::IsWindowVisible(button) || !HasDefaultLook(button)) continue;
      ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(m_anControlIds[static_cast<std::size_t>(index)], BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      return S_OK;
    }
    return S_FALSE;
  }
  return CovFDT_IDtmActiveXControlImpl::TranslateAccelerator(message);
}

// ---- ISpecifyPropertyPages --------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::GetPages(CAUUID* pages) {
  const std::vector<CLSID> map = PropertyMap();
  return vkr::MakeCAUUID(map.data(), static_cast<ULONG>(map.size()), pages);
}

// ---- Pages ------------------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::CreatePages() {
  if (m_bPagesCreated) return S_OK;
  if (!m_pClient) return E_POINTER;
  vkr::ComPtr<ISpecifyPropertyPages> specify;
  HRESULT hr = QueryInterface(ISpecifyPropertyPages::iid, specify.PutVoid());
  if (FAILED(hr)) return hr;
  CAUUID ids{};
  hr = specify->GetPages(&ids);
  if (FAILED(hr)) return hr;
  if (ids.cElems == 0) {
    CoTaskMemFree(ids.pElems);
    return S_FALSE;
  }
  const ULONG count = ids.cElems;
  m_ppPages = new (std::nothrow) IPropertyPage*[count]();
  m_pPageInfo = static_cast<PROPPAGEINFO*>(CoTaskMemAlloc(sizeof(PROPPAGEINFO) * count));
  m_pbPageFlag = new (std::nothrow) BYTE[count]();
  m_pbSiteSet = new (std::nothrow) BYTE[count]();
  m_pbObjectsSet = new (std::nothrow) BYTE[count]();
  if (!m_ppPages || !m_pPageInfo || !m_pbPageFlag || !m_pbSiteSet || !m_pbObjectsSet) {
    CoTaskMemFree(ids.pElems);
    FreePages();
    return E_OUTOFMEMORY;
  }
  m_nPageCount = count;
  m_bPagesCreated = true;
  m_vbPageInitialised.assign(count, false);
  m_vbPageActivated.assign(count, false);
  for (ULONG i = 0; i < count; ++i) {
    m_pPageInfo[i] = PROPPAGEINFO{};
    m_pPageInfo[i].cb = sizeof(PROPPAGEINFO);
  }
  hr = S_OK;
  IPropertyPageSite* site = static_cast<IPropertyPageSite*>(this);
  for (ULONG i = 0; i < count; ++i) {
    IPropertyPage* page = nullptr;
    if (FAILED(CoCreateInstance(ids.pElems[i], nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid,
                                reinterpret_cast<void**>(&page))) ||
        !page) {
      hr = S_FALSE;
      continue;
    }
    m_ppPages[i] = page;
    if (SUCCEEDED(page->SetPageSite(site))) m_pbSiteSet[i] = 1;
    else hr = S_FALSE;
    IUnknown* client = m_pClient;
    if (SUCCEEDED(page->SetObjects(1, &client))) m_pbObjectsSet[i] = 1;
    else hr = S_FALSE;
    if (FAILED(page->GetPageInfo(&m_pPageInfo[i]))) {
      m_pPageInfo[i] = PROPPAGEINFO{};
      m_pPageInfo[i].cb = sizeof(PROPPAGEINFO);
      hr = S_FALSE;
    }
    // A page needs its window before it is started and shown: it is made here, hidden, in the
    // page area, at the size the page asks for.
    if (FAILED(ActivatePage(i))) hr = S_FALSE;
  }
  CoTaskMemFree(ids.pElems);
  return hr;
}

HRESULT CovFDT_BasePPFrameImpl::ActivatePage(ULONG index) {
  IPropertyPage* page = Page(index);
  if (!page) return E_UNEXPECTED;
  if (m_vbPageActivated[index]) return S_OK;
  HWND area = FrameControl(kFramePageArea);
  if (!area) area = m_hWnd;
  if (!area) return E_UNEXPECTED;
  const RECT rect{0, 0, m_pPageInfo[index].size.cx, m_pPageInfo[index].size.cy};
  const HRESULT hr = page->Activate(area, &rect, FALSE);
  if (FAILED(hr)) return hr;
  m_vbPageActivated[index] = true;
  page->Show(SW_HIDE);
  return S_OK;
}

void CovFDT_BasePPFrameImpl::FreePages() {
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    if (m_ppPages && m_ppPages[i]) {
      if (i < m_vbPageActivated.size() && m_vbPageActivated[i]) m_ppPages[i]->Deactivate();
      m_ppPages[i]->Release();
    }
    if (m_pPageInfo) FreePageInfoStrings(&m_pPageInfo[i]);
  }
  delete[] m_ppPages;
  CoTaskMemFree(m_pPageInfo);
  delete[] m_pbPageFlag;
  delete[] m_pbSiteSet;
  delete[] m_pbObjectsSet;
  m_ppPages = nullptr;
  m_pPageInfo = nullptr;
  m_pbPageFlag = m_pbSiteSet = m_pbObjectsSet = nullptr;
  m_pCurrentPage = nullptr;
  m_nPageCount = 0;
  m_vbPageActivated.clear();
  m_vbPageInitialised.clear();
  m_bPagesCreated = false;
}

HRESULT CovFDT_BasePPFrameImpl::LayoutPages() { return S_OK; }

bool CovFDT_BasePPFrameImpl::InitializePage(ULONG index, bool withFunctionCall) {
  IPropertyPage* page = Page(index);
  if (!page) return false;
  if (IsPageInitialised(index)) return true;
  vkr::ComPtr<IovFdtPropertyPageControl> control;
  if (FAILED(page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid())) || !control) return false;
  if (FAILED(ActivatePage(index))) return false;
  vkr::Bstr call;
  if (withFunctionCall) call = vkr::Bstr(m_bstrFunctionCall.Get() ? vkr::View(m_bstrFunctionCall) : u"");
  VARIANT_BOOL started = VARIANT_FALSE;
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  const HRESULT hr = control->Init(m_bstrSystemTag, call, dtm, &started);
  const bool ok = SUCCEEDED(hr) && started != VARIANT_FALSE;
  m_vbPageInitialised[index] = ok;
  return ok;
}

LONG CovFDT_BasePPFrameImpl::CurrentPageIndex() const {
  for (ULONG i = 0; i < m_nPageCount; ++i)
    if (m_ppPages[i] && m_ppPages[i] == m_pCurrentPage) return static_cast<LONG>(i);
  return -1;
}

void CovFDT_BasePPFrameImpl::ShowPage(ULONG index) {
  IPropertyPage* page = Page(index);
  if (!page) return;
  if (m_pCurrentPage && m_pCurrentPage != page) m_pCurrentPage->Show(SW_HIDE);
  m_pCurrentPage = page;
  page->Show(SW_SHOW);
}

void CovFDT_BasePPFrameImpl::SelectPageInSelector(LONG index) {
  HWND selector = FrameControl(kFrameSelector);
  if (!selector) selector = FrameControl(kFramePageArea);
  if (selector && vkr::ui::ClassName(selector) == "SysTabControl32")
    ::SendMessageW(selector, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CovFDT_BasePPFrameImpl::DetachPages() {
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    IPropertyPage* page = m_ppPages[i];
    if (!page) continue;
    if (m_pbSiteSet[i]) {
      page->SetPageSite(nullptr);
      m_pbSiteSet[i] = 0;
    }
    if (m_pbObjectsSet[i]) {
      IUnknown* client = m_pClient;
      page->SetObjects(0, &client);
      m_pbObjectsSet[i] = 0;
    }
  }
}

LONG CovFDT_BasePPFrameImpl::FirstDirtyPage() const {
  for (ULONG i = 0; i < m_nPageCount; ++i)
    if (m_ppPages[i] && m_ppPages[i]->IsPageDirty() == S_OK) return static_cast<LONG>(i);
  return -1;
}

HRESULT CovFDT_BasePPFrameImpl::ApplyPages(LONG* failed) {
  *failed = -1;
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    IPropertyPage* page = m_ppPages[i];
    if (!page || page->IsPageDirty() != S_OK) continue;
    if (page->Apply() == S_OK) continue;
    ShowPage(i);
    SelectPageInSelector(static_cast<LONG>(i));
    *failed = static_cast<LONG>(i);
    return E_FAIL;
  }
  return S_OK;
}

// ---- Buttons ----------------------------------------------------------------------------------

HWND CovFDT_BasePPFrameImpl::GetDlgItem(int id) const {
  if (!m_hWnd || id == 0) return nullptr;
  if (HWND direct = ::GetDlgItem(m_hWnd, id)) return direct;
  // The page area and the selector live inside the frame's splitters.
  return FindDescendant(m_hWnd, id);
}

void CovFDT_BasePPFrameImpl::RefreshPageInfo(ULONG index) {
  IPropertyPage* page = Page(index);
  if (!page || !m_pPageInfo) return;
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  if (FAILED(page->GetPageInfo(&info))) return;
  FreePageInfoStrings(&m_pPageInfo[index]);
  m_pPageInfo[index] = info;
}

HWND CovFDT_BasePPFrameImpl::FrameControl(int index) const {
  if (index < 0 || index >= kFrameControlCount) return nullptr;
  const UINT id = m_anControlIds[static_cast<std::size_t>(index)];
  return id == 0 ? nullptr : GetDlgItem(static_cast<int>(id));
}

bool CovFDT_BasePPFrameImpl::IsUsableButton(HWND button) const {
  return button && ::IsWindowVisible(button) && ::IsWindowEnabled(button);
}

HRESULT CovFDT_BasePPFrameImpl::SetDefaultButton(BOOL forward) {
  std::array<HWND, 4> buttons{};
  for (int i = 0; i < 4; ++i) buttons[static_cast<std::size_t>(i)] = FrameControl(kFrameOk + i);
  if (!forward) std::reverse(buttons.begin(), buttons.end());
  for (HWND button : buttons) {
    if (!button) continue;
    ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE);
    if (IsUsableButton(button) && HasDefaultLook(button) && !IsOwnerDrawn(button))
      ::SendMessageW(button, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  }
  for (HWND button : buttons) {
    if (!IsUsableButton(button) || IsOwnerDrawn(button)) continue;
    ::SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE);
    break;
  }
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::FocusFirstButton() {
  for (int index = kFrameOk; index <= kFrameHelp; ++index) {
    HWND button = FrameControl(index);
    if (!IsUsableButton(button)) continue;
    ::SetFocus(button);
    return S_OK;
  }
  return S_FALSE;
}

// ---- Start and end ----------------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::ExecuteCommand(VARIANT command, VARIANT argument) {
  ULONG id = 0;
  HRESULT hr = ReadCommandId(command, &id);
  if (FAILED(hr)) return hr;
  if (id == kCommandLanguage) {
    RebuildPageSelector();
    if (m_hWnd) ::RedrawWindow(m_hWnd, nullptr, nullptr, kRedrawFrame);
    CheckCyclicUpdate();
  }
  return CovFDT_IDtmActiveXControlImpl::ExecuteCommand(command, argument);
}

HRESULT CovFDT_BasePPFrameImpl::InitializeUI(IUnknown* client, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  HRESULT hr = CovFDT_IDtmActiveXControlImpl::InitializeUI(client, ok);
  if (FAILED(hr)) return hr;
  const bool controlStarted = *ok != VARIANT_FALSE;
  if (controlStarted) {
    if (!m_pMediator)
      CoCreateInstance(CLSID_MessageMediator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                       IMessageMediator::iid, m_pMediator.PutVoid());
    if (client) SetClientObject(client);
  }
  if (HWND area = FrameControl(kFramePageArea))
    ::SetWindowLongW(area, GWL_EXSTYLE, ::GetWindowLongW(area, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);

  bool pageStarted = false;
  const HRESULT chain = controlStarted ? CreatePages() : E_FAIL;
  // A page that could not be made is left out (S_FALSE); the others still appear and work.
  if (SUCCEEDED(chain) && m_nPageCount > 0) {
    LayoutPages();
    bool firstShown = false;
    for (ULONG i = 0; i < m_nPageCount && !ReleasedWhileStarting(); ++i) {
      const bool withCall = !(m_bBareInitAfterFirst && firstShown);
      if (!InitializePage(i, withCall)) continue;
      pageStarted = true;
      if (!firstShown) {
        ShowPage(i);
        firstShown = true;
      }
    }
  }
  if (ReleasedWhileStarting()) {
    // Closed while its pages started: nothing more is made, and what was made goes.
    ReleasePages();
    *ok = VARIANT_FALSE;
    return E_ABORT;
  }
  CheckCyclicUpdate();
  HRESULT listening = S_OK;
  if (m_pMediator) {
    if (!m_dwMediatorCookie)
      listening = AtlAdvise(m_pMediator.Get(), static_cast<_IMessageMediatorEvents*>(this),
                            _IMessageMediatorEvents::iid, &m_dwMediatorCookie);
    if (SUCCEEDED(listening) && !m_bMediatorStarted) {
      listening = m_pMediator->Start(m_hWnd);
      m_bMediatorStarted = SUCCEEDED(listening);
    }
  }
  ExecuteCommand(vkr::UI4(kCommandLanguage), vkr::I4(static_cast<LONG>(m_nLanguage)));
  ExecuteCommand(vkr::UI4(kCommandUserLevel), vkr::UI4(m_nUserLevel));

  *ok = (pageStarted && listening == S_OK) ? VARIANT_TRUE : VARIANT_FALSE;
  SetDefaultButton(TRUE);
  FocusFirstButton();
  EnableButton(2, FALSE);
  if (m_hWnd) ::RedrawWindow(m_hWnd, nullptr, nullptr, kRedrawFrame);
  return hr;
}

HRESULT CovFDT_BasePPFrameImpl::UninitializeUI(VARIANT_BOOL* mayClose) {
  if (!mayClose) return E_INVALIDARG;
  m_bNoClosePost = 1;
  if (!m_bClosing && FrameCancel() == kCancelKeptOpen) {
    // The user keeps the frame, or the changes could not be applied: nothing may go.
    m_bNoClosePost = 0;
    *mayClose = VARIANT_FALSE;
    return S_FALSE;
  }
  ReleasePages();
  return CovFDT_IDtmActiveXControlImpl::UninitializeUI(mayClose);
}

void CovFDT_BasePPFrameImpl::ReleasePages() {
  if (m_pMediator) {
    if (m_bMediatorStarted) m_pMediator->Stop();
    m_bMediatorStarted = false;
    if (m_dwMediatorCookie) AtlUnadvise(m_pMediator.Get(), _IMessageMediatorEvents::iid, m_dwMediatorCookie);
    m_dwMediatorCookie = 0;
  }
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    if (!IsPageInitialised(i)) continue;
    vkr::ComPtr<IovFdtPropertyPageControl> control;
    if (SUCCEEDED(m_ppPages[i]->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid())) && control) {
      VARIANT_BOOL ready = VARIANT_FALSE;
      control->PrepareToRelease(&ready);
    }
    m_vbPageInitialised[i] = false;
  }
  // A frame without a usable Cancel button never detached its pages in Cancel.
  DetachPages();
  m_pCurrentPage = nullptr;
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    if (m_ppPages[i] && m_vbPageActivated[i]) m_ppPages[i]->Deactivate();
    m_vbPageActivated[i] = false;
  }
  m_pMediator = nullptr;
}

void CovFDT_BasePPFrameImpl::AbandonUserInterface() { ReleasePages(); }

HRESULT CovFDT_BasePPFrameImpl::InPlaceDeactivate() {
  // A frame let go without being asked (the host closing everything) must still let go of its
  // pages and the mediator: both hold the frame.
  ReleasePages();
  return CovFDT_IDtmActiveXControlImpl::InPlaceDeactivate();
}

HRESULT CovFDT_BasePPFrameImpl::OnLanguageCommand(VARIANT) {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  vkr::ComPtr<IovFdtTranslation> translation;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtTranslation::iid, translation.PutVoid())) || !translation)
    return S_OK;
  HRESULT hr = S_OK;
  for (UINT id : m_anHostedDisplayControls) {
    vkr::ComPtr<IHostedControlNotify> notify;
    if (FAILED(GetHostedControl(id, IHostedControlNotify::iid, notify.PutVoid())) || !notify) continue;
    VARIANT_BOOL done = VARIANT_FALSE;
    hr = notify->SetTranslation(translation.Get(), &done);
  }
  return hr;
}

HRESULT CovFDT_BasePPFrameImpl::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (!size) return E_POINTER;
  if (!m_bAutoSize) return CovFDT_IDtmActiveXControlImpl::GetExtent(aspect, size);
  SIZE largest{0, 0};
  for (const CLSID& clsid : PropertyMap()) {
    vkr::ComPtr<IPropertyPage> page;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid())) || !page)
      continue;
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    if (FAILED(page->GetPageInfo(&info))) continue;
    largest.cx = std::max(largest.cx, info.size.cx);
    largest.cy = std::max(largest.cy, info.size.cy);
    FreePageInfoStrings(&info);
  }
  *size = vkr::PixelsToHimetric(SIZE{largest.cx + m_nMarginX, largest.cy + m_nMarginY});
  return S_OK;
}

// ---- OK, Cancel, Apply, Help ------------------------------------------------------------------

HRESULT CovFDT_BasePPFrameImpl::FrameOK() {
  // One click writes once: OK, Apply and the close question's Yes wait for a running apply.
  if (m_bApplying) return S_FALSE;
  m_bClosing = 1;
  if (m_nApplyOption) {
    m_bApplying = true;
    HRESULT hr = ApplyParameterChanges();
    LONG failed = -1;
    if (SUCCEEDED(hr)) hr = ApplyPages(&failed);
    m_bApplying = false;
    if (FAILED(hr)) {
      // The frame stays open: a later close must still ask and detach, and the page the device
      // did not take is still changed, so Apply is offered again.
      m_bClosing = 0;
      if (failed >= 0)
        if (HWND apply = FrameControl(kFrameApply)) ::EnableWindow(apply, TRUE);
      return hr;
    }
  }
  DetachPages();
  if (!m_bNoClosePost) PostCloseRequest();
  return S_OK;
}

LRESULT CovFDT_BasePPFrameImpl::FrameCancel() {
  // The pages are not let go while their writes wait for the device.
  if (m_bApplying) return kCancelKeptOpen;
  if (!IsUsableButton(FrameControl(kFrameCancel))) return 0;
  m_bClosing = 1;
  if (m_nApplyOption && m_bAskApply == 1 && FirstDirtyPage() >= 0) {
    vkr::Bstr text, caption;
    GetFrameMessageText(kToolkitApplyChanges, text.Put());
    GetFrameMessageText(kToolkitWarning, caption.Put());
    const int answer = ::MessageBoxW(m_hWnd, text.Get() ? text.Get() : u"", caption.Get() ? caption.Get() : u"",
                                   kApplyQuestionStyle);
    if (answer == IDCANCEL) {
      m_bClosing = 0;
      return kCancelKeptOpen;
    }
    // Yes: the changes are applied and the frame closes, or it stays open on the failing page.
    if (answer == IDYES) return FAILED(FrameOK()) ? kCancelKeptOpen : 0;
  }
  if (HWND cancel = FrameControl(kFrameCancel))
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
  DetachPages();
  if (!m_bNoClosePost) PostCloseRequest();
  return 0;
}

HRESULT CovFDT_BasePPFrameImpl::FrameApply() {
  HWND apply = FrameControl(kFrameApply);
  if (!IsUsableButton(apply) || m_bApplying) return S_OK;
  ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(apply), TRUE);
  if (::GetFocus() != apply) return S_OK;
  if (m_nApplyOption) {
    m_bApplying = true;
    HRESULT hr = ApplyParameterChanges();
    LONG failed = -1;
    if (SUCCEEDED(hr)) {
      SendDtmMessage(kFrameAuditTrailMessage, I2(-1));
      hr = ApplyPages(&failed);
      SendDtmMessage(kFrameAuditTrailMessage, I2(0));
    }
    m_bApplying = false;
    if (FAILED(hr) && failed < 0) return hr;
    if (FAILED(hr)) {
      ::EnableWindow(apply, TRUE);
      return hr;
    }
  }
  if (::GetKeyState(VK_RETURN) >= 0) {
    if (HWND area = FrameControl(kFramePageArea)) {
      const WPARAM focusCommand = MAKEWPARAM(::GetDlgCtrlID(m_hWnd), kPageFocusNotification);
      for (HWND child = ::GetWindow(area, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        ::SendMessageW(child, WM_COMMAND, focusCommand, reinterpret_cast<LPARAM>(m_hWnd));
      if (!::GetFocus()) ::SetFocus(area);
    }
  }
  if (::GetFocus() == apply) ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
  ::EnableWindow(apply, FALSE);
  if (!IsOwnerDrawn(apply)) ::SendMessageW(apply, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::FrameHelp() {
  return BroadcastFocusCommand(static_cast<int>(m_anControlIds[kFramePageArea]));
}

HRESULT CovFDT_BasePPFrameImpl::BroadcastFocusCommand(int childId) {
  HWND child = GetDlgItem(childId);
  if (!child || !::IsWindowVisible(child) || !::IsWindowEnabled(child)) return S_FALSE;
  ::SendMessageW(child, WM_HELP, 0, 0);
  const WPARAM focusCommand = MAKEWPARAM(::GetDlgCtrlID(m_hWnd), kPageFocusNotification);
  for (HWND page = ::GetWindow(child, GW_CHILD); page; page = ::GetWindow(page, GW_HWNDNEXT))
    ::SendMessageW(page, WM_COMMAND, focusCommand, reinterpret_cast<LPARAM>(m_hWnd));
  return S_OK;
}

HRESULT CovFDT_BasePPFrameImpl::GetFrameMessageText(ULONG id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  vkr::Bstr found;
  GetToolkitMessageText(dtm, id, found.Put());
  // The toolkit look-up knows more built-in texts than the frame has: only its own two stay.
  const OLECHAR* builtIn = BuiltInToolkitMessageText(id);
  if (id != kToolkitWarning && id != kToolkitApplyChanges && found.Get() && builtIn && vkr::View(found) == builtIn)
    found.Reset();
  *text = found.Detach();
  return S_OK;
}

// ---- Messages ---------------------------------------------------------------------------------

BOOL CovFDT_BasePPFrameImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                  LRESULT* result) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    const UINT id = LOWORD(wParam);
    if (id != 0) {
      if (id == m_anControlIds[kFrameOk]) {
        FrameOK();
        *result = 0;
        return TRUE;
      }
      if (id == m_anControlIds[kFrameCancel]) {
        *result = FrameCancel();
        return TRUE;
      }
      if (id == m_anControlIds[kFrameApply]) {
        FrameApply();
        *result = 0;
        return TRUE;
      }
      if (id == m_anControlIds[kFrameHelp]) {
        FrameHelp();
        *result = 0;
        return TRUE;
      }
    }
  }
  if (message == WM_HELP) {
    // The frame's own F1 has nothing to show beyond what the pages do.
    *result = TRUE;
    return TRUE;
  }
  if (message == WM_NOTIFY && lParam) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    HWND selector = FrameControl(kFrameSelector);
    if (!selector) selector = FrameControl(kFramePageArea);
    if (selector && header->hwndFrom == selector && vkr::ui::ClassName(selector) == "SysTabControl32") {
      if (header->code == TCN_SELCHANGING) {
        // The page keeps the change from happening when it keeps the focus.
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(selector), TRUE);
        *result = ::GetFocus() == selector ? FALSE : TRUE;
        return TRUE;
      }
      if (header->code == TCN_SELCHANGE) {
        const LRESULT index = ::SendMessageW(selector, TCM_GETCURSEL, 0, 0);
        if (index >= 0 && InitializePage(static_cast<ULONG>(index), true)) {
          ShowPage(static_cast<ULONG>(index));
          SetDefaultButton(TRUE);
          CheckCyclicUpdate();
        }
        *result = 0;
        return TRUE;
      }
    }
  }
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

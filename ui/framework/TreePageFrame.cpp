// The tree page frames: the tree of pages, the window arrangement and the keyboard routing.
#include "ui/framework/TreePageFrame.h"

#include <algorithm>
#include <array>

namespace {

constexpr ULONG kCommandLanguage = 9984;
constexpr DWORD kSplitterStyle = 0x56010000;  // child, visible, clip siblings and children, tab stop
constexpr DWORD kTreeStyle = 0x56010007;      // the same with buttons, lines and lines at the root
constexpr int kTreeTextCapacity = 1000;
constexpr int kVertSplitterPosition = 170;
constexpr int kVertSplitterBar = 5;
constexpr int kHorSplitterBar = -4;
constexpr LONG kMinimumFrameHeight = 24;
constexpr LONG kExtraExtentHeight = 25;
// Generic layout.
constexpr int kStatusHeight = 24;
constexpr int kHeaderHeight = 105;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonPitch = 91;
constexpr int kButtonsFromBottom = 64;

LPARAM ItemData(HWND tree, HTREEITEM item) {
  TVITEMA data{};
  data.mask = TVIF_PARAM | TVIF_HANDLE;
  data.hItem = item;
  if (!::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) return -1;
  return data.lParam;
}

HTREEITEM NextItem(HWND tree, WPARAM relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

void SetBold(HWND tree, HTREEITEM item, bool bold) {
  if (!item) return;
  TVITEMA state{};
  state.mask = TVIF_STATE | TVIF_HANDLE;
  state.hItem = item;
  state.state = bold ? TVIS_BOLD : 0;
  state.stateMask = TVIS_BOLD;
  ::SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&state));
}

HTREEITEM InsertItem(HWND tree, HTREEITEM parent, const std::string& text, LONG data) {
  TVINSERTSTRUCTA insert{};
  insert.hParent = parent ? parent : TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
  insert.item.pszText = const_cast<LPSTR>(text.c_str());
  insert.item.lParam = data;
  insert.item.state = TVIS_EXPANDED;
  insert.item.stateMask = TVIS_EXPANDED;
  return reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::string TitleText(const PROPPAGEINFO& info) { return vkr::Utf16ToUtf8(vkr::View(info.pszTitle)); }

}  // namespace

// ===== Tree layer ==================================================================================

CovFDT_TreePPFrameImpl::CovFDT_TreePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                               const SCompositeControlClass& cls)
    : CovFDT_BasePPFrameImpl(clsid, parameterMap, cls) {
  m_nMarginX = 200;
  m_nMarginY = 60;
}

CovFDT_TreePPFrameImpl::~CovFDT_TreePPFrameImpl() = default;

IUnknown* CovFDT_TreePPFrameImpl::DtmReference() const {
  return m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
}

HRESULT CovFDT_TreePPFrameImpl::ExecuteCommand(VARIANT command, VARIANT argument) {
  ULONG id = 0;
  HRESULT hr = ReadCommandId(command, &id);
  if (FAILED(hr)) return hr;
  if (id == kCommandRebuildTree && (m_nDialogType & 2)) return RebuildPageTree(TreeWindow());
  if (id == kCommandLanguage) m_nFirstItem = nullptr;
  return CovFDT_BasePPFrameImpl::ExecuteCommand(command, argument);
}

HRESULT CovFDT_TreePPFrameImpl::InitializeUI(IUnknown* client, VARIANT_BOOL* ok) {
  HRESULT hr = CovFDT_BasePPFrameImpl::InitializeUI(client, ok);
  if (FAILED(hr)) return hr;
  HWND tree = TreeWindow();
  if (!tree) return E_FAIL;
  if (m_nFirstItem) ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(m_nFirstItem));
  return hr;
}

HRESULT CovFDT_TreePPFrameImpl::LayoutPages() {
  HWND tree = TreeWindow();
  HWND area = FrameControl(kFramePageArea);
  if (m_nPageCount == 0 || !tree || !area) return S_OK;
  SIZE largest{0, 0};
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    if (!m_ppPages[i]) continue;
    HTREEITEM item = InsertItem(tree, TVI_ROOT, TitleText(m_pPageInfo[i]), static_cast<LONG>(i));
    if (!m_nFirstItem) m_nFirstItem = item;
    largest.cx = std::max(largest.cx, m_pPageInfo[i].size.cx);
    largest.cy = std::max(largest.cy, m_pPageInfo[i].size.cy);
  }
  if (m_bAutoSize) {
    RECT frame{};
    ::GetWindowRect(m_hWnd, &frame);
    ::SetWindowPos(area, nullptr, 0, 0, largest.cx, largest.cy, SWP_NOMOVE | SWP_NOZORDER);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, largest.cx + m_nMarginX, largest.cy + m_nMarginY, SWP_NOMOVE | SWP_NOZORDER);
  }
  return S_OK;
}

HRESULT CovFDT_TreePPFrameImpl::RebuildPageSelector() { return RebuildPageTree(TreeWindow()); }

BOOL CovFDT_TreePPFrameImpl::IsPageShown(IUnknown*, int) { return TRUE; }

HRESULT CovFDT_TreePPFrameImpl::RebuildPageTree(HWND tree) {
  IUnknown* dtm = DtmReference();
  if (!dtm || !tree) return S_OK;
  const LONG current = CurrentPageIndex();
  m_bSuppressSelChange = 1;
  ::SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  HTREEITEM currentItem = nullptr;
  for (ULONG i = 0; i < m_nPageCount; ++i) {
    if (!m_ppPages[i] || !IsPageShown(dtm, static_cast<int>(i))) continue;
    RefreshPageInfo(i);
    const std::string title = TitleText(m_pPageInfo[i]);
    HTREEITEM item = InsertTreeItem(tree, TVI_ROOT, title.c_str(), static_cast<LONG>(i));
    if (static_cast<LONG>(i) == current) currentItem = item;
  }
  m_bSuppressSelChange = 0;
  HTREEITEM select = currentItem ? currentItem : NextItem(tree, TVGN_ROOT, nullptr);
  if (!m_nFirstItem) m_nFirstItem = NextItem(tree, TVGN_ROOT, nullptr);
  if (select) ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(select));
  return S_OK;
}

HTREEITEM CovFDT_TreePPFrameImpl::InsertTreeItem(HWND tree, HTREEITEM parent, const char* path, LONG data) {
  if (!tree || !path) return nullptr;
  if (!parent) parent = TVI_ROOT;
  const std::string text(path);
  const std::size_t slash = text.find('\\');
  if (slash != std::string::npos) {
    const std::string group = text.substr(0, slash);
    HTREEITEM groupItem = FindChildItem(tree, parent, group);
    if (!groupItem) groupItem = InsertItem(tree, parent, group, -1);
    if (!groupItem) return nullptr;
    return InsertTreeItem(tree, groupItem, text.c_str() + slash + 1, data);
  }
  if (HTREEITEM existing = FindChildItem(tree, parent, text)) {
    TVITEMA item{};
    item.mask = TVIF_PARAM | TVIF_HANDLE;
    item.hItem = existing;
    item.lParam = data;
    ::SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return existing;
  }
  return InsertItem(tree, parent, text, data);
}

HTREEITEM CovFDT_TreePPFrameImpl::FindChildItem(HWND tree, HTREEITEM parent, const std::string& name) {
  HTREEITEM child = (!parent || parent == TVI_ROOT) ? NextItem(tree, TVGN_ROOT, nullptr)
                                                    : NextItem(tree, TVGN_CHILD, parent);
  for (; child; child = NextItem(tree, TVGN_NEXT, child)) {
    std::array<char, kTreeTextCapacity> text{};
    TVITEMA item{};
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.hItem = child;
    item.pszText = text.data();
    item.cchTextMax = kTreeTextCapacity;
    if (::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) && name == text.data()) return child;
  }
  return nullptr;
}

LONG CovFDT_TreePPFrameImpl::FindTreeItem(HWND tree) {
  HTREEITEM selected = NextItem(tree, TVGN_CARET, nullptr);
  HTREEITEM item = selected;
  while (item) {
    const LPARAM data = ItemData(tree, item);
    if (data >= 0) {
      // The page below a group becomes the selection once the current message is done.
      if (item != selected) ::PostMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
      return static_cast<LONG>(data);
    }
    item = NextItem(tree, TVGN_CHILD, item);
  }
  return -1;
}

HTREEITEM CovFDT_TreePPFrameImpl::FindItemByData(HWND tree, HTREEITEM parent, LONG data) {
  HTREEITEM child = (!parent || parent == TVI_ROOT) ? NextItem(tree, TVGN_ROOT, nullptr)
                                                    : NextItem(tree, TVGN_CHILD, parent);
  for (; child; child = NextItem(tree, TVGN_NEXT, child)) {
    if (ItemData(tree, child) == data) return child;
    if (HTREEITEM found = FindItemByData(tree, child, data)) return found;
  }
  return nullptr;
}

void CovFDT_TreePPFrameImpl::SelectPageInSelector(LONG index) {
  // The tree, not a tab control, shows which page is current.
  HWND tree = TreeWindow();
  if (!tree) return;
  if (HTREEITEM item = FindItemByData(tree, TVI_ROOT, index))
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void CovFDT_TreePPFrameImpl::ChangePage(LONG data) {
  m_nCurrentIndex = data;
  if (data < 0 || static_cast<ULONG>(data) >= m_nPageCount || !m_ppPages[data]) return;
  const ULONG index = static_cast<ULONG>(data);
  // Nothing is shown before the first page change.
  if (m_pCurrentPage) m_pCurrentPage->Show(SW_HIDE);
  if (!InitializePage(index, true)) {
    // Nothing is shown now, so nothing is current.
    m_pCurrentPage = nullptr;
    return;
  }
  m_pCurrentPage = m_ppPages[index];
  m_pCurrentPage->Show(SW_SHOW);
  OnPageShown(index);
}

BOOL CovFDT_TreePPFrameImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                  LRESULT* result) {
  if (message == WM_NOTIFY && lParam) {
    const auto* notify = reinterpret_cast<const NMTREEVIEWA*>(lParam);
    HWND tree = TreeWindow();
    if (tree && notify->hdr.hwndFrom == tree) {
      if (notify->hdr.code == TVN_SELCHANGINGA) {
        SetBold(tree, notify->itemOld.hItem, false);
        *result = FALSE;
        return TRUE;
      }
      if (notify->hdr.code == TVN_SELCHANGEDA) {
        if (!m_bSuppressSelChange) {
          ChangePage(notify->itemNew.hItem ? static_cast<LONG>(ItemData(tree, notify->itemNew.hItem)) : -1);
          SetBold(tree, notify->itemNew.hItem, true);
          for (int index = kFrameOk; index <= kFrameHelp; ++index)
            if (HWND button = FrameControl(index)) ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE);
        }
        *result = 0;
        return TRUE;
      }
    }
  }
  return CovFDT_BasePPFrameImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

// ===== WTL layer ===================================================================================

CovFDT_WtlTreePPFrameImpl::CovFDT_WtlTreePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                     const SCompositeControlClass& cls)
    : CovFDT_TreePPFrameImpl(clsid, parameterMap, cls) {}

CovFDT_WtlTreePPFrameImpl::~CovFDT_WtlTreePPFrameImpl() = default;

HRESULT CovFDT_WtlTreePPFrameImpl::FinalConstruct() {
  SIZEL natural{};
  if (SUCCEEDED(CovFDT_IDtmActiveXControlImpl::GetExtent(DVASPECT_CONTENT, &natural))) {
    natural.cy += vkr::PixelsToHimetric(kExtraExtentHeight);
    m_sizeExtent = natural;
  }
  return S_OK;
}

void CovFDT_WtlTreePPFrameImpl::CreateFrameWindows() {
  RECT frame{};
  ::GetWindowRect(m_hWnd, &frame);
  RECT whole{0, 0, frame.right - frame.left, frame.bottom - frame.top};
  m_wndVertSplitter.Create(m_hWnd, &whole, nullptr, kSplitterStyle, WS_EX_CONTROLPARENT);
  m_wndHorSplitter.Create(m_wndVertSplitter.m_hWnd, &whole, nullptr, kSplitterStyle, WS_EX_CONTROLPARENT);
  m_hTree = ::CreateWindowExA(WS_EX_CLIENTEDGE, "SysTreeView32", "", kTreeStyle, 0, 0, 0, 0, m_wndVertSplitter.m_hWnd,
                            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kPageTreeId)), nullptr, nullptr);
  m_wndVertSplitter.m_cxySplitBar = kVertSplitterBar;
  m_wndVertSplitter.m_bFullDrag = false;
  m_wndVertSplitter.SetSplitterExtendedStyle(0);
  m_wndVertSplitter.SetSplitterPanes(m_hTree, m_wndHorSplitter.m_hWnd, false);
  m_wndVertSplitter.SetSplitterPos(kVertSplitterPosition);
  m_wndHorSplitter.m_cxySplitBar = kHorSplitterBar;
  m_wndHorSplitter.SetSplitterExtendedStyle(SPLIT_NONINTERACTIVE);
  m_hStatusCtl = ::GetDlgItem(m_hWnd, static_cast<int>(kFrameStatusId));
  m_hHeaderCtl = ::GetDlgItem(m_hWnd, static_cast<int>(kFrameHeaderId));
  if (m_hStatusCtl) ::SetWindowLongW(m_hStatusCtl, GWL_ID, static_cast<LONG>(kFrameStatusId));
  if (m_hHeaderCtl) ::SetWindowLongW(m_hHeaderCtl, GWL_ID, static_cast<LONG>(kFrameHeaderId));
  m_anControlIds[kFramePageArea] = CPageFrameHorSplitter::kPageAreaId;
  m_anControlIds[kFrameSelector] = kPageTreeId;
  UpdateLayout();
}

void CovFDT_WtlTreePPFrameImpl::UpdateLayout() {
  if (!m_hWnd) return;
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (m_hStatusCtl) ::MoveWindow(m_hStatusCtl, 0, height - kStatusHeight, width, kStatusHeight, TRUE);
  if (m_hHeaderCtl) ::MoveWindow(m_hHeaderCtl, 0, 0, width, kHeaderHeight, TRUE);
  std::array<HWND, 4> buttons{};
  int count = 0;
  for (int index = kFrameOk; index <= kFrameHelp; ++index)
    if (m_anControlIds[static_cast<std::size_t>(index)] != 0)
      if (HWND button = FrameControl(index)) buttons[static_cast<std::size_t>(count++)] = button;
  const int first = std::max(7, (width - count * kButtonPitch + 9) / 2 + 7);
  for (int i = 0; i < count; ++i) {
    HWND button = buttons[static_cast<std::size_t>(i)];
    ::MoveWindow(button, first + i * kButtonPitch, height - kButtonsFromBottom, kButtonWidth, kButtonHeight, TRUE);
    ::ShowWindow(button, height >= kButtonsFromBottom ? SW_SHOW : SW_HIDE);
  }
  if (m_wndVertSplitter.m_hWnd) {
    // A frame smaller than its header and buttons leaves the splitter no room, never less.
    const RECT splitter = PageFrameSplitterRect(width, height);
    ::MoveWindow(m_wndVertSplitter.m_hWnd, splitter.left, splitter.top, splitter.right - splitter.left,
               splitter.bottom - splitter.top, TRUE);
  }
}

void CovFDT_WtlTreePPFrameImpl::OnPageShown(ULONG index) {
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  if (SUCCEEDED(m_ppPages[index]->GetPageInfo(&info))) {
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
    if (m_wndHorSplitter.m_hWnd) m_wndHorSplitter.SetContentSize(info.size.cx, info.size.cy);
  }
}

bool CovFDT_WtlTreePPFrameImpl::IsInPageArea(HWND window) const {
  HWND area = FrameControl(kFramePageArea);
  return area && window && (window == area || ::IsChild(area, window));
}

HRESULT CovFDT_WtlTreePPFrameImpl::TranslateAccelerator(MSG* message) {
  if (!message) return E_POINTER;
  if (message->message == WM_KEYDOWN && message->wParam == VK_TAB && m_hWnd) {
    HWND focus = ::GetFocus();
    if (!focus || (focus != m_hWnd && !::IsChild(m_hWnd, focus))) return S_FALSE;
    SetDefaultButton(TRUE);
    HWND target = nullptr;
    if (::GetKeyState(VK_SHIFT) < 0) {
      target = TreeWindow();
    } else {
      for (int index = kFrameOk; index <= kFrameHelp && !target; ++index)
        if (IsUsableButton(FrameControl(index))) target = FrameControl(index);
      if (!target) target = ::GetNextDlgTabItem(m_hWnd, FrameControl(kFramePageArea), FALSE);
    }
    if (target) ::SetFocus(target);
    return S_OK;
  }
  return CovFDT_TreePPFrameImpl::TranslateAccelerator(message);
}

HRESULT CovFDT_WtlTreePPFrameImpl::OnMessageMediatorEvent(MSG* message) {
  if (!message || !m_hWnd) return S_FALSE;
  const UINT m = message->message;
  if (m == WM_TIMER) {
    if (m_pCurrentPage && m_pCurrentPage->TranslateAccelerator(message) == S_OK) return S_OK;
    return S_FALSE;
  }
  if (m < WM_KEYFIRST || m > 0x109 || m == WM_KEYUP) return S_FALSE;
  HWND focus = ::GetFocus();
  if (!focus || (focus != m_hWnd && !::IsChild(m_hWnd, focus))) return S_FALSE;
  auto dialogManager = [&]() { return ::IsDialogMessageW(m_hWnd, message) ? S_OK : S_FALSE; };
  auto pageDecides = [&]() { return m_pCurrentPage ? m_pCurrentPage->TranslateAccelerator(message) : S_FALSE; };

  if ((::GetKeyState(VK_MENU) < 0 || m == WM_CHAR) && pageDecides() == S_OK) return S_OK;
  if (m != WM_KEYDOWN) return S_FALSE;
  const WPARAM key = message->wParam;
  if (key < VK_CANCEL || key > VK_DOWN) return dialogManager();
  const bool inPage = IsInPageArea(focus);

  if (key == VK_CANCEL || (key >= VK_LEFT && key <= VK_DOWN)) {
    if (inPage) return pageDecides() == S_OK ? S_OK : S_FALSE;
    return dialogManager();
  }
  if (key == VK_TAB) {
    if (::GetKeyState(VK_CONTROL) < 0 && TranslateAccelerator(message) == S_OK) return S_OK;
    HWND forward = nullptr, backward = nullptr;
    for (int index = kFrameOk; index <= kFrameHelp; ++index) {
      HWND button = FrameControl(index);
      if (!IsUsableButton(button)) continue;
      if (!forward) forward = button;
      backward = button;
    }
    HWND area = FrameControl(kFramePageArea);
    if (!forward) forward = ::GetNextDlgTabItem(m_hWnd, area, FALSE);
    if (!backward) backward = ::GetNextDlgTabItem(m_hWnd, area, TRUE);
    HWND tree = TreeWindow();
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
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
    if (inPage || (!shift && focus == tree) || (shift && focus == forward)) {
      const HRESULT page = pageDecides();
      if (page == S_OK) return S_OK;
      if (page == S_FALSE && m_pCurrentPage) {
        SetDefaultButton(TRUE);
        return S_OK;
      }
    }
    return dialogManager();
  }
  if (key == VK_RETURN) {
    if (inPage) {
      pageDecides();
      return S_OK;
    }
    for (int index = kFrameOk; index <= kFrameHelp; ++index) {
      HWND button = FrameControl(index);
      if (!button || !::IsWindowVisible(button)) continue;
      if ((static_cast<DWORD>(::GetWindowLongW(button, GWL_STYLE)) & BS_TYPEMASK) != BS_DEFPUSHBUTTON) continue;
      ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(m_anControlIds[static_cast<std::size_t>(index)], BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      return S_OK;
    }
    return S_FALSE;
  }
  if (key == VK_ESCAPE) {
    if (pageDecides() != S_OK) FrameCancel();
    return S_OK;
  }
  return S_FALSE;
}

BOOL CovFDT_WtlTreePPFrameImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                     LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      CreateFrameWindows();
      break;
    case WM_SIZE:
      UpdateLayout();
      *result = 0;
      return TRUE;
    case WM_WINDOWPOSCHANGING:
      if (auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
          position && !(position->flags & SWP_NOSIZE) && position->cy < kMinimumFrameHeight)
        position->cy = kMinimumFrameHeight;
      break;
    default:
      break;
  }
  return CovFDT_TreePPFrameImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

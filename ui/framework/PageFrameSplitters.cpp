// The page frame's splitter windows.
#include "ui/framework/PageFrameSplitters.h"

#include <algorithm>

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;  // 0x56000000
const HMENU kNoId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1));

HWND MakeChild(DWORD exStyle, LPCWSTR className, DWORD style, HWND parent, HMENU id) {
  return CreateWindowExW(exStyle, className, nullptr, style, 0, 0, 0, 0, parent, id, nullptr, nullptr);
}

// The splitter settings a WTL splitter takes from the system at creation, for one direction.
template <class Splitter>
void TakeSystemSettings(Splitter& splitter, int frameMetric, int edgeMetric) {
  splitter.m_cxySplitBar = GetSystemMetrics(frameMetric);
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(splitter.m_hWnd, GWL_EXSTYLE));
  if (exStyle & WS_EX_CLIENTEDGE) {
    splitter.m_cxyBarEdge = 2 * GetSystemMetrics(edgeMetric);
    splitter.m_cxyMin = 0;
  } else {
    splitter.m_cxyBarEdge = 0;
    splitter.m_cxyMin = 2 * GetSystemMetrics(edgeMetric);
  }
  BOOL fullDrag = TRUE;
  if (SystemParametersInfoW(SPI_GETDRAGFULLWINDOWS, 0, &fullDrag, 0)) splitter.m_bFullDrag = fullDrag != FALSE;
}

// Tells a window that its neighbourhood changed size, at its own client size (the message's size
// is the receiver's, so a layout that reads it gets its own and not the sender's).
void TellSize(HWND window) {
  if (!window) return;
  RECT rc{};
  ::GetClientRect(window, &rc);
  ::SendMessageW(window, WM_SIZE, SIZE_RESTORED,
               MAKELPARAM(static_cast<WORD>(rc.right - rc.left), static_cast<WORD>(rc.bottom - rc.top)));
}

}  // namespace

// ---- CDottedVertSplitter ----

LRESULT CDottedVertSplitter::OnCreate(UINT, WPARAM, LPARAM, BOOL& handled) {
  TakeSystemSettings(*this, SM_CXSIZEFRAME, SM_CXEDGE);
  for (HWND& dot : m_hDot) dot = MakeChild(WS_EX_STATICEDGE, u"STATIC", kChildStyle, m_hWnd, kNoId);
  handled = FALSE;
  return 0;
}

LRESULT CDottedVertSplitter::UpdateLayout(UINT, WPARAM wParam, LPARAM, BOOL&) {
  if (wParam != SIZE_MINIMIZED) SetSplitterRect();
  PlaceDots();
  return 0;
}

LRESULT CDottedVertSplitter::OnBarMoved(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
  const int before = m_xySplitterPos;
  if (message == WM_MOUSEMOVE)
    OnMouseMove(message, wParam, lParam, handled);
  else
    OnLButtonDoubleClick(message, wParam, lParam, handled);
  handled = TRUE;
  if (m_xySplitterPos != before) PlaceDots();
  return 0;
}

void CDottedVertSplitter::PlaceDots() {
  const int h = m_rcSplitter.bottom - m_rcSplitter.top;
  const int x = m_rcSplitter.left + m_xySplitterPos + 1;
  const int c = m_rcSplitter.top + (h - 58) / 2;
  // Dot i (0 top .. 4 bottom) sits (i - 2) spacings from the centre; the outer pairs need more room.
  const int room = h - 55;
  for (int i = 0; i < 5; ++i) {
    if (!m_hDot[i]) continue;
    const int fromCentre = i - 2;
    const int needed = fromCentre == 0 ? 3 : (fromCentre == 1 || fromCentre == -1) ? 15 : 27;
    ::SetWindowPos(m_hDot[i], nullptr, x, c + fromCentre * kDotSpacing, kDotSize, kDotSize,
                 SWP_NOZORDER | SWP_NOACTIVATE | (room >= needed ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
}

// ---- CPageFrameHorSplitter ----

LRESULT CPageFrameHorSplitter::OnCreate(UINT, WPARAM, LPARAM, BOOL& handled) {
  TakeSystemSettings(*this, SM_CYSIZEFRAME, SM_CYEDGE);
  // The bars first: as earlier siblings they lie above the panes where the two meet.
  m_hHorzScroll = MakeChild(0, u"SCROLLBAR", WS_CHILD | SBS_HORZ | SBS_TOPALIGN, m_hWnd, kNoId);
  m_hVertScroll = MakeChild(0, u"SCROLLBAR", WS_CHILD | SBS_VERT | SBS_LEFTALIGN, m_hWnd, kNoId);
  m_hTopPane = MakeChild(WS_EX_CONTROLPARENT, u"STATIC", kChildStyle, m_hWnd, kNoId);
  m_hBottomPane = MakeChild(WS_EX_CONTROLPARENT, u"STATIC", kChildStyle, m_hWnd, kNoId);
  SetSplitterPanes(m_hTopPane, m_hBottomPane, false);
  m_hPageArea = MakeChild(WS_EX_CLIENTEDGE, u"STATIC", kChildStyle, m_hTopPane,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPageAreaId)));
  handled = FALSE;
  return 0;
}

LRESULT CPageFrameHorSplitter::UpdateLayout(UINT, WPARAM wParam, LPARAM, BOOL&) {
  if (wParam == SIZE_MINIMIZED) return 0;
  SetSplitterRect(nullptr, false);
  HWND parent = ::GetParent(m_hWnd);
  TellSize(parent);
  if (parent && (::GetWindowLongW(parent, GWL_STYLE) & WS_CHILD)) TellSize(::GetParent(parent));
  LayOut(m_rcSplitter.right - m_rcSplitter.left, m_rcSplitter.bottom - m_rcSplitter.top);
  return 0;
}

void CPageFrameHorSplitter::LayOut(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  // The top pane takes the whole height; the bottom pane has none.
  if (m_hTopPane) ::SetWindowPos(m_hTopPane, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  if (m_hBottomPane) ::SetWindowPos(m_hBottomPane, nullptr, 0, height, width, 0, SWP_NOZORDER | SWP_NOACTIVATE);

  // A bar takes room from the other direction, so the first bar needed can make the other needed.
  bool horz = false, vert = false;
  int w = width, h = height;
  if (m_nContentWidth > w - kPageAreaEdge) {
    horz = true;
    h -= kScrollBarSize;
    if (m_nContentHeight > h - kPageAreaEdge) {
      vert = true;
      w -= kScrollBarSize;
    }
  } else if (m_nContentHeight > h - kPageAreaEdge) {
    vert = true;
    w -= kScrollBarSize;
    if (m_nContentWidth > w - kPageAreaEdge) {
      horz = true;
      h -= kScrollBarSize;
    }
  }
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (m_hPageArea) ::SetWindowPos(m_hPageArea, nullptr, 0, 0, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  const bool room = w >= kPageAreaEdge && h >= kPageAreaEdge;
  if (m_hHorzScroll)
    ::SetWindowPos(m_hHorzScroll, nullptr, 0, h, w, kScrollBarSize,
                 SWP_NOZORDER | SWP_NOACTIVATE | (horz && room ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  if (m_hVertScroll)
    ::SetWindowPos(m_hVertScroll, nullptr, w, 0, kScrollBarSize, h,
                 SWP_NOZORDER | SWP_NOACTIVATE | (vert && room ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  RECT area{};
  if (m_hPageArea) ::GetClientRect(m_hPageArea, &area);
  m_nVisibleWidth = std::max<int>(area.right - area.left, 0);
  m_nVisibleHeight = std::max<int>(area.bottom - area.top, 0);
  UpdateScrollInfo();
  ScrollPage();
}

void CPageFrameHorSplitter::UpdateScrollInfo() {
  m_nScrollX = std::clamp(m_nScrollX, 0, std::max(m_nContentWidth - m_nVisibleWidth, 0));
  m_nScrollY = std::clamp(m_nScrollY, 0, std::max(m_nContentHeight - m_nVisibleHeight, 0));
  const struct {
    HWND bar;
    int content, visible, pos;
  } bars[] = {{m_hHorzScroll, m_nContentWidth, m_nVisibleWidth, m_nScrollX},
              {m_hVertScroll, m_nContentHeight, m_nVisibleHeight, m_nScrollY}};
  for (const auto& b : bars) {
    if (!b.bar) continue;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = b.content;
    info.nPage = static_cast<UINT>(b.visible + 1);
    info.nPos = b.pos;
    ::SetScrollInfo(b.bar, SB_CTL, &info, TRUE);
  }
}

void CPageFrameHorSplitter::ScrollPage() {
  const int dx = m_nShownX - m_nScrollX, dy = m_nShownY - m_nScrollY;
  if ((dx || dy) && m_hPageArea) ::ScrollWindow(m_hPageArea, dx, dy, nullptr, nullptr);
  m_nShownX = m_nScrollX;
  m_nShownY = m_nScrollY;
}

LRESULT CPageFrameHorSplitter::OnScroll(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
  const bool horizontal = message == WM_HSCROLL;
  HWND bar = reinterpret_cast<HWND>(lParam);
  if (!bar || bar != (horizontal ? m_hHorzScroll : m_hVertScroll)) {
    handled = FALSE;
    return 0;
  }
  RECT area{};
  if (m_hPageArea) ::GetClientRect(m_hPageArea, &area);
  const int visible = std::max<int>(horizontal ? area.right - area.left : area.bottom - area.top, 0);
  int& pos = horizontal ? m_nScrollX : m_nScrollY;
  const int content = horizontal ? m_nContentWidth : m_nContentHeight;
  // A page step keeps 4 pixels of the last view in sight, but always moves the way asked.
  const int page = std::max(visible - 4, 1);
  int delta = 0;
  switch (LOWORD(wParam)) {
    case SB_LINELEFT: delta = -1; break;
    case SB_LINERIGHT: delta = 1; break;
    case SB_PAGELEFT: delta = -page; break;
    case SB_PAGERIGHT: delta = page; break;
    case SB_THUMBTRACK: delta = static_cast<int>(HIWORD(wParam)) - pos; break;
    default: break;
  }
  const int wanted = std::clamp(pos + delta, 0, std::max(content - visible, 0));
  if (wanted != pos) {
    pos = wanted;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_POS;
    info.nPos = pos;
    ::SetScrollInfo(bar, SB_CTL, &info, TRUE);
    ScrollPage();
  }
  return 0;
}

void CPageFrameHorSplitter::SetContentSize(int width, int height) {
  m_nContentWidth = std::max(width, 0);
  m_nContentHeight = std::max(height, 0);
  if (!m_hWnd) return;
  RECT rc{};
  ::GetClientRect(m_hWnd, &rc);
  SetSplitterRect(&rc, false);
  LayOut(rc.right - rc.left, rc.bottom - rc.top);
}

RECT PageFrameSplitterRect(int frameWidth, int frameHeight) {
  // Header (105 pixels and a gap) above, buttons and status line (80 pixels) below.
  constexpr int kLeft = 2, kTop = 107, kSides = 4, kAboveAndBelow = 187;
  return RECT{kLeft, kTop, kLeft + std::max(frameWidth - kSides, 0), kTop + std::max(frameHeight - kAboveAndBelow, 0)};
}

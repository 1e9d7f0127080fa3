// The splitter window, in the shape of the WTL splitter the page frame derives from: two panes
// side by side (vertical splitter) or one above the other (horizontal), the splitter position,
// the bar width, the extended styles (SPLIT_NONINTERACTIVE: the user cannot move the bar), bar
// dragging with the mouse, and the children's notifications forwarded to the parent.
//
// A class derives from CSplitterWindowImpl<T, vertical> (or uses CSplitterWindowT<vertical>),
// chains its message map to it and creates the window with Create(parent, rect, ...).
#pragma once

#include <algorithm>

#include "platform/ui/atlwin.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"

namespace vkr::ui {

// The notifications a window passes on to its parent unchanged (ATL's FORWARD_NOTIFICATIONS):
// what children tell their parent, and the scroll requests of child scroll bars.
inline LRESULT ForwardNotifications(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_PARENTNOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_DELETEITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      handled = TRUE;
      return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    default:
      handled = FALSE;
      return 0;
  }
}

}  // namespace vkr::ui

#ifndef FORWARD_NOTIFICATIONS
#define FORWARD_NOTIFICATIONS()                                                         \
  {                                                                                     \
    bHandled = TRUE;                                                                    \
    lResult = ::vkr::ui::ForwardNotifications(hWnd, uMsg, wParam, lParam, bHandled);    \
    if (bHandled) return TRUE;                                                          \
  }
#endif

template <class T, bool t_bVertical = true>
class CSplitterImpl {
 public:
  enum { m_nPanesCount = 2, m_nPropMax = 10000 };

  HWND m_hWndPane[m_nPanesCount] = {nullptr, nullptr};
  RECT m_rcSplitter{0, 0, 0, 0};
  int m_xySplitterPos = -1;  // -1: in the middle at the first layout
  int m_nDefActivePane = SPLIT_PANE_NONE;
  int m_cxySplitBar = 4;
  int m_cxyMin = 0;
  int m_cxyBarEdge = 0;
  bool m_bFullDrag = true;
  int m_cxyDragOffset = 0;
  int m_nProportionalPos = 0;
  bool m_bUpdateProportionalPos = true;
  DWORD m_dwExtendedStyle = SPLIT_PROPORTIONAL;
  int m_nSinglePane = SPLIT_PANE_NONE;

  void SetSplitterRect(LPRECT rect = nullptr, bool update = true) {
    if (rect) {
      m_rcSplitter = *rect;
    } else {
      GetClientRect(Self()->m_hWnd, &m_rcSplitter);
    }
    if (IsProportional()) UpdateProportionalPos();
    else if (IsRightAligned()) UpdateRightAlignPos();
    if (update) UpdateSplitterLayout();
  }

  void GetSplitterRect(LPRECT rect) const {
    if (rect) *rect = m_rcSplitter;
  }

  bool SetSplitterPos(int xyPos = -1, bool update = true) {
    if (xyPos == -1) xyPos = (Extent() - m_cxySplitBar - m_cxyBarEdge) / 2;
    // Within the minimum pane sizes at both ends.
    const int most = Extent() - m_cxySplitBar - m_cxyBarEdge - m_cxyMin;
    if (xyPos > most) xyPos = most;
    if (xyPos < m_cxyMin) xyPos = m_cxyMin;
    const bool changed = m_xySplitterPos != xyPos;
    m_xySplitterPos = xyPos;
    if (m_bUpdateProportionalPos) {
      if (IsProportional()) StoreProportionalPos();
      else if (IsRightAligned()) StoreRightAlignPos();
    } else {
      m_bUpdateProportionalPos = true;
    }
    if (update && changed) UpdateSplitterLayout();
    return changed;
  }

  int GetSplitterPos() const { return m_xySplitterPos; }

  bool SetSinglePaneMode(int pane = SPLIT_PANE_NONE) {
    if (pane != SPLIT_PANE_LEFT && pane != SPLIT_PANE_RIGHT && pane != SPLIT_PANE_NONE) return false;
    if (pane != SPLIT_PANE_NONE) {
      if (m_hWndPane[pane]) ShowWindow(m_hWndPane[pane], SW_SHOW);
      const int other = pane == SPLIT_PANE_LEFT ? SPLIT_PANE_RIGHT : SPLIT_PANE_LEFT;
      if (m_hWndPane[other]) ShowWindow(m_hWndPane[other], SW_HIDE);
    } else {
      for (HWND pane_ : m_hWndPane)
        if (pane_) ShowWindow(pane_, SW_SHOW);
    }
    m_nSinglePane = pane;
    UpdateSplitterLayout();
    return true;
  }
  int GetSinglePaneMode() const { return m_nSinglePane; }

  DWORD GetSplitterExtendedStyle() const { return m_dwExtendedStyle; }
  DWORD SetSplitterExtendedStyle(DWORD style, DWORD mask = 0) {
    const DWORD old = m_dwExtendedStyle;
    m_dwExtendedStyle = mask == 0 ? style : ((m_dwExtendedStyle & ~mask) | (style & mask));
    return old;
  }

  void SetSplitterPanes(HWND leftTop, HWND rightBottom, bool update = true) {
    m_hWndPane[SPLIT_PANE_LEFT] = leftTop;
    m_hWndPane[SPLIT_PANE_RIGHT] = rightBottom;
    if (update) UpdateSplitterLayout();
  }
  bool SetSplitterPane(int pane, HWND hwnd, bool update = true) {
    if (pane != SPLIT_PANE_LEFT && pane != SPLIT_PANE_RIGHT) return false;
    m_hWndPane[pane] = hwnd;
    if (update) UpdateSplitterLayout();
    return true;
  }
  HWND GetSplitterPane(int pane) const {
    return (pane == SPLIT_PANE_LEFT || pane == SPLIT_PANE_RIGHT) ? m_hWndPane[pane] : nullptr;
  }

  bool SetActivePane(int pane) {
    if (pane != SPLIT_PANE_LEFT && pane != SPLIT_PANE_RIGHT) return false;
    if (m_nSinglePane != SPLIT_PANE_NONE && pane != m_nSinglePane) return false;
    SetFocus(m_hWndPane[pane]);
    m_nDefActivePane = pane;
    return true;
  }
  int GetActivePane() const {
    HWND focus = GetFocus();
    for (int pane = 0; pane < m_nPanesCount; ++pane)
      if (m_hWndPane[pane] && (focus == m_hWndPane[pane] || IsChild(m_hWndPane[pane], focus))) return pane;
    return SPLIT_PANE_NONE;
  }
  bool ActivateNextPane(bool next = true) {
    if (m_nSinglePane != SPLIT_PANE_NONE) return false;
    const int active = GetActivePane();
    const int pane = active == SPLIT_PANE_LEFT ? SPLIT_PANE_RIGHT
                     : active == SPLIT_PANE_RIGHT ? SPLIT_PANE_LEFT
                                                  : (next ? SPLIT_PANE_LEFT : SPLIT_PANE_RIGHT);
    return SetActivePane(pane);
  }
  bool SetDefaultActivePane(int pane) {
    if (pane != SPLIT_PANE_LEFT && pane != SPLIT_PANE_RIGHT) return false;
    m_nDefActivePane = pane;
    return true;
  }
  bool SetDefaultActivePane(HWND hwnd) {
    for (int pane = 0; pane < m_nPanesCount; ++pane)
      if (hwnd == m_hWndPane[pane]) {
        m_nDefActivePane = pane;
        return true;
      }
    return false;
  }
  int GetDefaultActivePane() const { return m_nDefActivePane; }

  // Places the panes: the first from the splitter rectangle's start to the position, the second
  // from after the bar to the end (or one pane over all in single-pane mode).
  void UpdateSplitterLayout() {
    if (m_nSinglePane == SPLIT_PANE_NONE && m_xySplitterPos == -1) return;
    for (int pane = 0; pane < m_nPanesCount; ++pane) {
      if (!m_hWndPane[pane]) continue;
      RECT rc{};
      if (m_nSinglePane == SPLIT_PANE_NONE) {
        if (!GetSplitterPaneRect(pane, &rc)) continue;
      } else {
        if (pane != m_nSinglePane) continue;
        rc = m_rcSplitter;
      }
      SetWindowPos(m_hWndPane[pane], nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(Self()->m_hWnd, nullptr, TRUE);
  }

  bool GetSplitterBarRect(LPRECT rect) const {
    if (!rect || m_cxySplitBar <= 0 || m_xySplitterPos == -1 || m_nSinglePane != SPLIT_PANE_NONE) return false;
    if (t_bVertical) {
      *rect = RECT{m_rcSplitter.left + m_xySplitterPos, m_rcSplitter.top,
                   m_rcSplitter.left + m_xySplitterPos + m_cxySplitBar + m_cxyBarEdge, m_rcSplitter.bottom};
    } else {
      *rect = RECT{m_rcSplitter.left, m_rcSplitter.top + m_xySplitterPos, m_rcSplitter.right,
                   m_rcSplitter.top + m_xySplitterPos + m_cxySplitBar + m_cxyBarEdge};
    }
    return true;
  }

  bool GetSplitterPaneRect(int pane, LPRECT rect) const {
    if (!rect || m_xySplitterPos == -1) return false;
    const int after = m_xySplitterPos + m_cxySplitBar + m_cxyBarEdge;
    if (pane == SPLIT_PANE_LEFT) {
      *rect = t_bVertical ? RECT{m_rcSplitter.left, m_rcSplitter.top, m_rcSplitter.left + m_xySplitterPos,
                                 m_rcSplitter.bottom}
                          : RECT{m_rcSplitter.left, m_rcSplitter.top, m_rcSplitter.right,
                                 m_rcSplitter.top + m_xySplitterPos};
    } else if (pane == SPLIT_PANE_RIGHT) {
      *rect = t_bVertical ? RECT{m_rcSplitter.left + after, m_rcSplitter.top, m_rcSplitter.right, m_rcSplitter.bottom}
                          : RECT{m_rcSplitter.left, m_rcSplitter.top + after, m_rcSplitter.right,
                                 m_rcSplitter.bottom};
    } else {
      return false;
    }
    return true;
  }

  bool IsOverSplitterRect(int x, int y) const {
    return x >= m_rcSplitter.left && x < m_rcSplitter.right && y >= m_rcSplitter.top && y < m_rcSplitter.bottom;
  }
  bool IsOverSplitterBar(int x, int y) const {
    if (m_nSinglePane != SPLIT_PANE_NONE || m_xySplitterPos == -1 || !IsOverSplitterRect(x, y)) return false;
    const int xy = (t_bVertical ? x : y) - (t_bVertical ? m_rcSplitter.left : m_rcSplitter.top);
    return xy >= m_xySplitterPos && xy < m_xySplitterPos + std::max(m_cxySplitBar, 0) + m_cxyBarEdge;
  }

  // The bar and edge sizes from the system settings.
  void GetSystemSettings(bool update) {
    m_cxySplitBar = 4;
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(Self()->m_hWnd, GWL_EXSTYLE));
    if (exStyle & WS_EX_CLIENTEDGE) {
      m_cxyBarEdge = 4;
      m_cxyMin = 0;
    } else {
      m_cxyBarEdge = 0;
      m_cxyMin = 4;
    }
    m_bFullDrag = true;
    if (update) UpdateSplitterLayout();
  }

  BEGIN_MSG_MAP(CSplitterImpl)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDoubleClick)
    MESSAGE_HANDLER(WM_CAPTURECHANGED, OnCaptureChanged)
    MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
    MESSAGE_HANDLER(WM_MOUSEACTIVATE, OnMouseActivate)
  END_MSG_MAP()

  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& handled) {
    GetSystemSettings(false);
    handled = FALSE;
    return 1;
  }

  LRESULT OnSetCursor(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    // The bar's cursor is the only thing to say; the headless desktop shows none.
    handled = reinterpret_cast<HWND>(wParam) == Self()->m_hWnd && IsInteractive();
    return handled ? TRUE : FALSE;
  }

  LRESULT OnMouseMove(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    if ((wParam & MK_LBUTTON) && GetCapture() == Self()->m_hWnd) {
      const int xy = (t_bVertical ? GET_X_LPARAM(lParam) - m_rcSplitter.left : GET_Y_LPARAM(lParam) - m_rcSplitter.top);
      SetSplitterPos(xy - m_cxyDragOffset);
    }
    return 0;
  }

  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&) {
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    if (IsInteractive() && IsOverSplitterBar(x, y)) {
      SetCapture(Self()->m_hWnd);
      m_cxyDragOffset = (t_bVertical ? x - m_rcSplitter.left : y - m_rcSplitter.top) - m_xySplitterPos;
    }
    return 0;
  }

  LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL&) {
    if (GetCapture() == Self()->m_hWnd) ReleaseCapture();
    return 0;
  }

  LRESULT OnLButtonDoubleClick(UINT, WPARAM, LPARAM, BOOL&) {
    if (IsInteractive()) SetSplitterPos();  // back to the middle
    return 0;
  }

  LRESULT OnCaptureChanged(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

  LRESULT OnSetFocus(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (m_nSinglePane == SPLIT_PANE_NONE) {
      if (m_nDefActivePane == SPLIT_PANE_LEFT || m_nDefActivePane == SPLIT_PANE_RIGHT)
        SetFocus(m_hWndPane[m_nDefActivePane]);
    } else if (m_hWndPane[m_nSinglePane]) {
      SetFocus(m_hWndPane[m_nSinglePane]);
    }
    handled = FALSE;
    return 1;
  }

  LRESULT OnMouseActivate(UINT message, WPARAM wParam, LPARAM lParam, BOOL&) {
    return DefWindowProcW(Self()->m_hWnd, message, wParam, lParam);
  }

 private:
  T* Self() { return static_cast<T*>(this); }
  const T* Self() const { return static_cast<const T*>(this); }
  int Extent() const {
    return t_bVertical ? m_rcSplitter.right - m_rcSplitter.left : m_rcSplitter.bottom - m_rcSplitter.top;
  }
  bool IsInteractive() const { return (m_dwExtendedStyle & SPLIT_NONINTERACTIVE) == 0; }
  bool IsProportional() const { return (m_dwExtendedStyle & SPLIT_PROPORTIONAL) != 0; }
  bool IsRightAligned() const { return (m_dwExtendedStyle & SPLIT_RIGHTALIGNED) != 0; }

  void StoreProportionalPos() {
    const int total = Extent() - m_cxySplitBar - m_cxyBarEdge;
    m_nProportionalPos = total > 0 ? static_cast<int>(static_cast<long long>(m_xySplitterPos) * m_nPropMax / total) : 0;
  }
  void UpdateProportionalPos() {
    const int total = Extent() - m_cxySplitBar - m_cxyBarEdge;
    if (total <= 0 || m_xySplitterPos == -1) return;
    m_bUpdateProportionalPos = false;
    SetSplitterPos(static_cast<int>(static_cast<long long>(m_nProportionalPos) * total / m_nPropMax), false);
  }
  void StoreRightAlignPos() { m_nProportionalPos = Extent() - m_xySplitterPos; }
  void UpdateRightAlignPos() {
    if (Extent() <= 0 || m_xySplitterPos == -1) return;
    m_bUpdateProportionalPos = false;
    SetSplitterPos(Extent() - m_nProportionalPos, false);
  }
};

template <class T, bool t_bVertical = true, class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CSplitterWindowImpl : public CWindowImpl<T, TBase, TWinTraits>, public CSplitterImpl<T, t_bVertical> {
 public:
  using _baseSplitter = CSplitterImpl<T, t_bVertical>;
  using CWindowImpl<T, TBase, TWinTraits>::StartWindowProc;

  DECLARE_WND_CLASS_EX(nullptr, CS_DBLCLKS, COLOR_WINDOW)

  BEGIN_MSG_MAP(CSplitterWindowImpl)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    CHAIN_MSG_MAP(_baseSplitter)
    FORWARD_NOTIFICATIONS()
  END_MSG_MAP()

  // The panes cover the client area: nothing to erase.
  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) { return 1; }

  LRESULT OnSize(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam != SIZE_MINIMIZED) this->SetSplitterRect();
    handled = FALSE;
    return 1;
  }
};

template <bool t_bVertical = true>
class CSplitterWindowT : public CSplitterWindowImpl<CSplitterWindowT<t_bVertical>, t_bVertical> {
 public:
  using CSplitterWindowImpl<CSplitterWindowT<t_bVertical>, t_bVertical>::StartWindowProc;
  DECLARE_WND_CLASS_EX(u"WTL_SplitterWindow", CS_DBLCLKS, COLOR_WINDOW)
};

using CSplitterWindow = CSplitterWindowT<true>;
using CHorSplitterWindow = CSplitterWindowT<false>;

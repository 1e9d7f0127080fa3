// The page frame's two splitter windows: the dotted vertical splitter between the tree of pages and
// the page side, and the horizontal splitter that holds the page area with its scroll bars.
//
// The tree frame creates both (the horizontal one as the right pane of the vertical one), parents
// its property pages to the page area (control id 0xFFF4) and tells the horizontal splitter the
// size of the page it shows (SetContentSize); the splitter then shows the scroll bars the page
// needs and scrolls the page area's children (the pages) when the user scrolls.
//
// Scroll positions stay within 0 .. max(0, content - visible) on every road (layout, line, page
// and thumb scrolling), so a page that fits is never scrolled, and a page that shrinks or an area
// that grows scrolls back into place. Each bar's page is the visible size + 1: with the scroll
// bar's own clamp (pos <= max - (page - 1)) its thumb ends where the content does.
#pragma once

#include "platform/platform.h"

// The vertical splitter of the page frame: the tree on the left, the page side on the right, its
// bar marked by a grip of five small dots.
class CDottedVertSplitter : public CSplitterWindowImpl<CDottedVertSplitter, true> {
 public:
  using Base = CSplitterWindowImpl<CDottedVertSplitter, true>;
  DECLARE_WND_CLASS_EX(u"VornDottedVertSplitter", CS_DBLCLKS, COLOR_WINDOW)

  // Size and spacing of the grip's dots, and the least height that shows any.
  static constexpr int kDotSize = 3;
  static constexpr int kDotSpacing = 6;

  BEGIN_MSG_MAP(CDottedVertSplitter)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SIZE, UpdateLayout)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnBarMoved)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnBarMoved)
    CHAIN_MSG_MAP(Base)
  END_MSG_MAP()

  // Takes the system's splitter settings and makes the dots; the splitter's own creation follows.
  LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // Lays the panes out over the client area and places the dots beside the bar; dots that do not
  // fit the height are hidden.
  LRESULT UpdateLayout(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // The user moved the bar (the splitter's own handling): the grip goes with it.
  LRESULT OnBarMoved(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // Places the dots beside the bar at its present position.
  void PlaceDots();

  HWND m_hDot[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};  // top to bottom
};

// The horizontal splitter of the page frame: its top pane takes the whole height and holds the
// page area; a horizontal and a vertical scroll bar appear beside it when the page is larger.
class CPageFrameHorSplitter : public CSplitterWindowImpl<CPageFrameHorSplitter, false> {
 public:
  using Base = CSplitterWindowImpl<CPageFrameHorSplitter, false>;
  DECLARE_WND_CLASS_EX(u"VornPageFrameHorSplitter", CS_DBLCLKS, COLOR_WINDOW)

  static constexpr UINT kPageAreaId = 0xFFF4;
  static constexpr int kScrollBarSize = 16;
  // The page area's sunken edge takes 2 pixels on each side.
  static constexpr int kPageAreaEdge = 4;

  BEGIN_MSG_MAP(CPageFrameHorSplitter)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SIZE, UpdateLayout)
    MESSAGE_HANDLER(WM_HSCROLL, OnScroll)
    MESSAGE_HANDLER(WM_VSCROLL, OnScroll)
    CHAIN_MSG_MAP(Base)
  END_MSG_MAP()

  // Takes the system's splitter settings and makes the scroll bars, the panes and the page area;
  // the splitter's own creation follows.
  LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // WM_SIZE: lays out the page area and the scroll bars it needs, and tells the parent and the
  // grandparent (each at its own client size) that the page side changed.
  LRESULT UpdateLayout(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // WM_HSCROLL / WM_VSCROLL of the splitter's own bars (others are not handled): line, page and
  // thumb scrolling of the page.
  LRESULT OnScroll(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);

  // Clips the wanted positions to the content and sets both bars (range 0 .. content, page the
  // visible size + 1, position).
  void UpdateScrollInfo();
  // Moves the page area's children from the position last shown to the wanted one.
  void ScrollPage();
  // The size of the page shown (negative sizes count as 0); lays the area out again.
  void SetContentSize(int width, int height);
  // The page area's client size from the last layout.
  int VisibleWidth() const { return m_nVisibleWidth; }
  int VisibleHeight() const { return m_nVisibleHeight; }

  HWND m_hTopPane = nullptr;
  HWND m_hBottomPane = nullptr;
  HWND m_hPageArea = nullptr;
  HWND m_hHorzScroll = nullptr;
  HWND m_hVertScroll = nullptr;
  int m_nContentWidth = 0;
  int m_nContentHeight = 0;
  int m_nScrollX = 0;  // wanted position
  int m_nScrollY = 0;
  int m_nShownX = 0;   // position the page was last scrolled to
  int m_nShownY = 0;

 private:
  void LayOut(int width, int height);
  int m_nVisibleWidth = 0;
  int m_nVisibleHeight = 0;
};

// Where the page frame's generic layout puts the vertical splitter in a frame of the given client
// size: below the header, above the buttons and the status line, 2 pixels in from each side. A
// frame too small for the parts around it gives the splitter no room (size 0), never a negative size.
RECT PageFrameSplitterRect(int frameWidth, int frameHeight);

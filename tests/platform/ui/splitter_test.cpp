// The splitter window the page frame derives from: panes, position, bar width, the non-interactive
// style, and the children's notifications forwarded to the parent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<std::string> g_heard;

LRESULT FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND)
    g_heard.push_back("COMMAND " + std::to_string(LOWORD(wParam)) + "/" + std::to_string(HIWORD(wParam)));
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    g_heard.push_back("NOTIFY " + std::to_string(header->idFrom) + "/" + std::to_string(static_cast<int>(header->code)));
  }
  if (message == WM_HSCROLL) g_heard.push_back("HSCROLL " + std::to_string(LOWORD(wParam)));
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// As the page frame's splitters do: a map of its own chained to the splitter's.
template <bool vertical>
class TestSplitter : public CSplitterWindowImpl<TestSplitter<vertical>, vertical> {
 public:
  using Base = CSplitterWindowImpl<TestSplitter<vertical>, vertical>;
  using Base::StartWindowProc;
  DECLARE_WND_CLASS_EX(vertical ? u"TestVertSplitter" : u"TestHorSplitter", CS_DBLCLKS, COLOR_WINDOW)
  BEGIN_MSG_MAP(TestSplitter)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    CHAIN_MSG_MAP(Base)
  END_MSG_MAP()
  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL& handled) {
    ++sizes;
    handled = FALSE;
    return 0;
  }
  int sizes = 0;
};

std::string Rect(HWND hwnd) {
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  POINT tl{rc.left, rc.top}, br{rc.right, rc.bottom};
  ScreenToClient(GetParent(hwnd), &tl);
  ScreenToClient(GetParent(hwnd), &br);
  return std::to_string(tl.x) + "," + std::to_string(tl.y) + "," + std::to_string(br.x) + "," + std::to_string(br.y);
}

class SplitterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const ATOM atom = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &FrameProc;
      wc.lpszClassName = u"SplitterTestFrame";
      return RegisterClassW(&wc);
    }();
    ASSERT_NE(atom, 0);
    frame_ = CreateWindowExW(0, u"SplitterTestFrame", u"frame", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                             nullptr, nullptr, nullptr);
    ASSERT_NE(frame_, nullptr);
    g_heard.clear();
  }
  void TearDown() override { DestroyWindow(frame_); }
  HWND frame_ = nullptr;
};

TEST_F(SplitterTest, PanesPositionBarAndForwarding) {
  TestSplitter<true> vert;
  TestSplitter<false> hor;
  RECT rc{0, 0, 600, 400};
  ASSERT_NE(vert.Create(frame_, rc, nullptr, 0x56010000, WS_EX_CONTROLPARENT), nullptr);
  ASSERT_NE(hor.Create(vert.m_hWnd, rc, nullptr, 0x56010000, WS_EX_CONTROLPARENT), nullptr);
  HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, "SysTreeView32", "", 0x56010007, 0, 0, 10, 10, vert.m_hWnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(516)), nullptr, nullptr);
  ASSERT_NE(tree, nullptr);
  vert.SetSplitterPanes(tree, hor.m_hWnd);
  vert.SetSplitterPos(170);
  vert.m_cxySplitBar = 5;
  vert.m_bFullDrag = false;
  vert.SetSplitterExtendedStyle(0);
  hor.m_cxySplitBar = -4;
  hor.SetSplitterExtendedStyle(SPLIT_NONINTERACTIVE);
  vert.SetSplitterRect();
  EXPECT_EQ(vert.GetSplitterPos(), 170);
  EXPECT_EQ(vert.GetSplitterPane(SPLIT_PANE_LEFT), tree);
  EXPECT_EQ(Rect(tree), "0,0,170,400");
  EXPECT_EQ(Rect(hor.m_hWnd), "175,0,600,400");

  // The frame's resize keeps the position (no proportional style) and lays the panes out again.
  MoveWindow(vert.m_hWnd, 0, 0, 700, 300, TRUE);
  EXPECT_EQ(vert.GetSplitterPos(), 170);
  EXPECT_EQ(Rect(hor.m_hWnd), "175,0,700,300");
  EXPECT_GE(vert.sizes, 1);

  // The user drags the vertical bar; the horizontal one does not move.
  SendMessageW(vert.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(172, 50));
  SendMessageW(vert.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(222, 50));
  SendMessageW(vert.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(222, 50));
  EXPECT_EQ(vert.GetSplitterPos(), 220);
  EXPECT_EQ(Rect(tree), "0,0,220,300");
  hor.SetSplitterPos(100);
  SendMessageW(hor.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 100));
  SendMessageW(hor.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 150));
  SendMessageW(hor.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(10, 150));
  EXPECT_EQ(hor.GetSplitterPos(), 100);

  // The children's notifications reach the frame through both splitters.
  TVINSERTSTRUCTA ins{};
  ins.hParent = TVI_ROOT;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT;
  ins.item.pszText = const_cast<char*>("Page");
  auto item = SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins));
  HWND button = CreateWindowExA(0, "Button", "Send", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, hor.m_hWnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(7)), nullptr, nullptr);
  HWND bar = CreateWindowExA(0, "ScrollBar", "", WS_CHILD | WS_VISIBLE | SBS_HORZ, 0, 30, 100, 16, hor.m_hWnd,
                             nullptr, nullptr, nullptr);
  g_heard.clear();
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item);
  SendMessageA(button, BM_CLICK, 0, 0);
  vkr::ui::ScrollBy(bar, SB_CTL, SB_LINERIGHT);
  EXPECT_EQ(g_heard, (std::vector<std::string>{"NOTIFY 516/-401", "NOTIFY 516/-402", "COMMAND 7/0", "HSCROLL 1",
                                                "HSCROLL 8"}));
  ::DestroyWindow(vert.m_hWnd);
}

}  // namespace

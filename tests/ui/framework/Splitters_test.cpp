// The page frame's splitters, arranged as the tree frame arranges them (frame, dotted vertical
// splitter with the tree on the left, horizontal splitter with the page area on the right, a page
// in the page area), driven through window sizes and the user's scrolling.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/controls/OutsideControls.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/test_page_frame.h"
#include "tests/support/threading.h"
#include "ui/framework/PageFrameSplitters.h"

namespace {

// The frame: records the sizes it is told.
class FrameWindow : public CWindowImpl<FrameWindow, CWindow, CFrameWinTraits> {
 public:
  DECLARE_WND_CLASS(u"VkrSplitterTestFrame")
  BEGIN_MSG_MAP(FrameWindow)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
  END_MSG_MAP()
  LRESULT OnSize(UINT, WPARAM, LPARAM lParam, BOOL&) {
    sizes.push_back({LOWORD(lParam), HIWORD(lParam)});
    return 0;
  }
  std::vector<SIZE> sizes;
};

constexpr int kTreeWidth = 170;
constexpr int kBar = 5;

class SplittersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT all{0, 0, 600, 400};
    frame_.Create(nullptr, all, u"frame", WS_POPUP | WS_VISIBLE, WS_EX_CONTROLPARENT);
    ASSERT_TRUE(frame_.m_hWnd);
    vert_.Create(frame_.m_hWnd, all, nullptr, 0x56010000, WS_EX_CONTROLPARENT);
    hor_.Create(vert_.m_hWnd, all, nullptr, 0x56010000, WS_EX_CONTROLPARENT);
    ASSERT_TRUE(vert_.m_hWnd && hor_.m_hWnd && hor_.m_hPageArea);
    tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, u"SysTreeView32", nullptr, 0x56010007, 0, 0, 0, 0, vert_.m_hWnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(516)), nullptr, nullptr);
    vert_.SetSplitterExtendedStyle(0);
    vert_.SetSplitterPanes(tree_, hor_.m_hWnd, false);
    vert_.m_cxySplitBar = kBar;
    vert_.m_bFullDrag = false;
    hor_.m_cxySplitBar = -4;
    hor_.SetSplitterExtendedStyle(SPLIT_NONINTERACTIVE);
    page_ = CreateWindowExW(0, u"STATIC", u"page", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hor_.m_hPageArea,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000)), nullptr, nullptr);
  }
  void TearDown() override {
    if (frame_.m_hWnd) frame_.DestroyWindow();
  }

  // The frame's generic layout places the vertical splitter; the tree keeps 170 pixels.
  void PlaceFrame(int width, int height) {
    const RECT r = PageFrameSplitterRect(width, height);
    vert_.SetSplitterPos(kTreeWidth, false);
    ::SetWindowPos(vert_.m_hWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    vert_.SetSplitterPos(kTreeWidth);
  }
  // Gives the page side a size directly (the horizontal splitter's own WM_SIZE).
  void SizePageSide(int width, int height) {
    ::SetWindowPos(hor_.m_hWnd, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
  }
  void ShowPage(int width, int height) {
    ::SetWindowPos(page_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
    hor_.SetContentSize(width, height);
  }
  // The page's top-left corner in the page area's client coordinates.
  POINT PagePosition() const {
    RECT r{};
    GetWindowRect(page_, &r);
    POINT p{r.left, r.top};
    ScreenToClient(hor_.m_hPageArea, &p);
    return p;
  }
  static vkr::ui::ControlState Bar(HWND bar) {
    vkr::ui::ControlState s;
    vkr::ui::GetControlState(bar, &s);
    return s;
  }
  static RECT Rect(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return r;
  }

  FrameWindow frame_;
  CDottedVertSplitter vert_;
  CPageFrameHorSplitter hor_;
  HWND tree_ = nullptr;
  HWND page_ = nullptr;
};

// The scroll bars a page needs, for the page side's size and the page's size. The page area has a
// 2-pixel edge on each side; a bar takes 16 pixels from the other direction.
TEST_F(SplittersTest, PageSideShowsTheBarsThePageNeeds) {
  struct Case {
    const char* what;
    int sideW, sideH, pageW, pageH;
    bool horz, vert;
    int visibleW, visibleH;
  } cases[] = {
      {"fits exactly", 300, 200, 296, 196, false, false, 296, 196},
      {"10 wider: horizontal only", 300, 200, 306, 150, true, false, 296, 180},
      {"higher only: vertical only", 300, 200, 200, 400, false, true, 280, 196},
      {"wider, then too high under the bar", 300, 200, 400, 190, true, true, 280, 180},
      {"higher, then too wide beside the bar", 300, 200, 290, 300, true, true, 280, 180},
      {"both larger", 300, 200, 800, 600, true, true, 280, 180},
      {"no room for a bar", 3, 200, 100, 100, false, false, 0, 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SizePageSide(c.sideW, c.sideH);
    ShowPage(c.pageW, c.pageH);
    EXPECT_EQ(IsWindowVisible(hor_.m_hHorzScroll) != FALSE, c.horz);
    EXPECT_EQ(IsWindowVisible(hor_.m_hVertScroll) != FALSE, c.vert);
    EXPECT_EQ(hor_.VisibleWidth(), c.visibleW);
    EXPECT_EQ(hor_.VisibleHeight(), c.visibleH);
    // The bars sit beside the page area, 16 pixels thick; range the page, page the view + 1.
    const RECT area = Rect(hor_.m_hPageArea), h = Rect(hor_.m_hHorzScroll), v = Rect(hor_.m_hVertScroll);
    if (c.horz) {
      EXPECT_EQ(h.top, area.bottom);
      EXPECT_EQ(h.bottom - h.top, 16);
      EXPECT_EQ(h.right - h.left, area.right - area.left);
    }
    if (c.vert) {
      EXPECT_EQ(v.left, area.right);
      EXPECT_EQ(v.right - v.left, 16);
    }
    const auto hs = Bar(hor_.m_hHorzScroll), vs = Bar(hor_.m_hVertScroll);
    EXPECT_EQ(hs.scrollMax, c.pageW);
    EXPECT_EQ(hs.scrollPage, std::min(c.visibleW + 1, c.pageW + 1));
    EXPECT_EQ(vs.scrollMax, c.pageH);
    EXPECT_EQ(PagePosition().x, 0);
  }
}

// Line, page and thumb scrolling as the user does it on the bars; every position stays within
// 0 .. content - visible, and the page moves by exactly the difference.
TEST_F(SplittersTest, UserScrollingMovesThePageWithinItsRange) {
  SizePageSide(300, 200);
  ShowPage(800, 150);  // visible 296 x 180: the horizontal bar only
  ASSERT_TRUE(IsWindowVisible(hor_.m_hHorzScroll));
  ASSERT_TRUE(vkr::ui::Click(hor_.m_hHorzScroll));
  ASSERT_EQ(GetFocus(), hor_.m_hHorzScroll);
  const int most = 800 - 296;
  struct Step {
    const char* what;
    int key;      // a key on the focused bar, or 0
    int thumb;    // else the thumb dragged here
    int position;
  } steps[] = {
      {"line right", VK_RIGHT, 0, 1},
      {"line right again", VK_RIGHT, 0, 2},
      {"line left", VK_LEFT, 0, 1},
      {"page right: the view less 4", VK_NEXT, 0, 1 + 292},
      {"page right stops at the end", VK_NEXT, 0, most},
      {"line right at the end", VK_RIGHT, 0, most},
      {"thumb to 50", 0, 50, 50},
      {"page left", VK_PRIOR, 0, 0},
      {"line left at the start", VK_LEFT, 0, 0},
      {"to the end (no step of its own)", VK_END, 0, 0},
      {"thumb beyond the end", 0, 60000, most},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.key) {
      ASSERT_TRUE(vkr::ui::PressKey(s.key));
    } else {
      SendMessageW(hor_.m_hWnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, s.thumb),
                   reinterpret_cast<LPARAM>(hor_.m_hHorzScroll));
    }
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(hor_.m_nScrollX, s.position);
    EXPECT_EQ(Bar(hor_.m_hHorzScroll).scrollPos, s.position);
    EXPECT_EQ(PagePosition().x, -s.position);
    EXPECT_EQ(PagePosition().y, 0);
  }
}

// A page that fits is never scrolled, whatever the bar asks (the bound content - visible is
// negative there); a wider area scrolls a scrolled page back into place.
TEST_F(SplittersTest, PageThatFitsNeverScrolls) {
  SizePageSide(300, 200);
  ShowPage(500, 400);
  SendMessageW(hor_.m_hWnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 150), reinterpret_cast<LPARAM>(hor_.m_hHorzScroll));
  SendMessageW(hor_.m_hWnd, WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0), reinterpret_cast<LPARAM>(hor_.m_hVertScroll));
  ASSERT_EQ(PagePosition().x, -150);
  ASSERT_EQ(PagePosition().y, -(180 - 4));

  // Room for most of it: the positions are clipped to the new ranges, and the page follows.
  SizePageSide(600, 300);  // visible 580 x 296 with the vertical bar only
  EXPECT_FALSE(IsWindowVisible(hor_.m_hHorzScroll));
  EXPECT_EQ(hor_.m_nScrollX, 0);
  EXPECT_EQ(hor_.m_nScrollY, 400 - 296);
  EXPECT_EQ(PagePosition().x, 0);
  EXPECT_EQ(PagePosition().y, -(400 - 296));

  // A smaller page: nothing to scroll; requests leave it where it is.
  ShowPage(100, 100);
  struct Request {
    UINT message;
    WORD code;
    int thumb;
  } requests[] = {{WM_HSCROLL, SB_LINERIGHT, 0}, {WM_HSCROLL, SB_PAGERIGHT, 0}, {WM_HSCROLL, SB_THUMBTRACK, 40},
                  {WM_VSCROLL, SB_LINEDOWN, 0},  {WM_VSCROLL, SB_PAGEDOWN, 0},  {WM_VSCROLL, SB_THUMBTRACK, 40}};
  for (const Request& r : requests) {
    SCOPED_TRACE(r.code);
    HWND bar = r.message == WM_HSCROLL ? hor_.m_hHorzScroll : hor_.m_hVertScroll;
    SendMessageW(hor_.m_hWnd, r.message, MAKEWPARAM(r.code, r.thumb), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(hor_.m_nScrollX, 0);
    EXPECT_EQ(hor_.m_nScrollY, 0);
    EXPECT_EQ(PagePosition().x, 0);
    EXPECT_EQ(PagePosition().y, 0);
  }
  EXPECT_FALSE(IsWindowVisible(hor_.m_hVertScroll));
}

// The grip's dots by the splitter's height: centred on (h - 58) / 2, 6 pixels apart, one pixel
// right of the bar's start; the outer ones need more height.
TEST_F(SplittersTest, GripDotsFollowTheHeight) {
  struct Case {
    int height;
    bool shown[5];
  } cases[] = {
      {57, {false, false, false, false, false}}, {58, {false, false, true, false, false}},
      {69, {false, false, true, false, false}},  {70, {false, true, true, true, false}},
      {81, {false, true, true, true, false}},    {82, {true, true, true, true, true}},
      {300, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    ::SetWindowPos(vert_.m_hWnd, nullptr, 0, 0, 500, c.height, SWP_NOZORDER);
    vert_.SetSplitterPos(kTreeWidth);
    SendMessageW(vert_.m_hWnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(500, c.height));
    const RECT splitter = Rect(vert_.m_hWnd);
    const int centre = (c.height - 58) / 2;
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(IsWindowVisible(vert_.m_hDot[i]) != FALSE, c.shown[i]) << "dot " << i + 1;
      const RECT dot = Rect(vert_.m_hDot[i]);
      EXPECT_EQ(dot.left - splitter.left, kTreeWidth + 1);
      EXPECT_EQ(dot.top - splitter.top, centre + (i - 2) * 6);
      EXPECT_EQ(dot.right - dot.left, 3);
      EXPECT_EQ(dot.bottom - dot.top, 3);
    }
  }

  // The user drags the bar 50 pixels to the right: the tree widens and the grip goes along.
  SendMessageW(vert_.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kTreeWidth + 2, 100));
  SendMessageW(vert_.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kTreeWidth + 52, 100));
  SendMessageW(vert_.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(kTreeWidth + 52, 100));
  EXPECT_EQ(vert_.GetSplitterPos(), kTreeWidth + 50);
  EXPECT_EQ(Rect(tree_).right - Rect(tree_).left, kTreeWidth + 50);
  for (HWND dot : vert_.m_hDot) EXPECT_EQ(Rect(dot).left - Rect(vert_.m_hWnd).left, kTreeWidth + 51);
}

// The generic frame layout's splitter rectangle: a frame smaller than the parts around the
// splitter gives it no room, and the page side then shows nothing and scrolls nothing.
TEST_F(SplittersTest, SmallFrameGivesTheSplitterNoRoom) {
  struct Case {
    int width, height;
    RECT expected;
  } cases[] = {{600, 400, {2, 107, 598, 320}}, {600, 187, {2, 107, 598, 107}},
               {600, 100, {2, 107, 598, 107}}, {3, 150, {2, 107, 2, 107}}};
  for (const Case& c : cases) {
    const RECT r = PageFrameSplitterRect(c.width, c.height);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right) << c.width << " x " << c.height;
    EXPECT_EQ(r.bottom, c.expected.bottom) << c.width << " x " << c.height;
  }

  ShowPage(500, 500);
  PlaceFrame(600, 100);
  const RECT side = Rect(hor_.m_hWnd), area = Rect(hor_.m_hPageArea);
  EXPECT_EQ(side.bottom - side.top, 0);
  EXPECT_EQ(area.bottom - area.top, 0);
  EXPECT_FALSE(IsWindowVisible(hor_.m_hHorzScroll));
  EXPECT_FALSE(IsWindowVisible(hor_.m_hVertScroll));
  for (HWND dot : vert_.m_hDot) EXPECT_FALSE(IsWindowVisible(dot));
  // Nothing in view: a page step still moves forward, and the thumb reaches the whole page.
  SendMessageW(hor_.m_hWnd, WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0), reinterpret_cast<LPARAM>(hor_.m_hVertScroll));
  EXPECT_EQ(hor_.m_nScrollY, 1);
  SendMessageW(hor_.m_hWnd, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 450), reinterpret_cast<LPARAM>(hor_.m_hVertScroll));
  EXPECT_EQ(hor_.m_nScrollY, 450);

  // Grown again: the tree keeps its width, the page side gets the rest, the page scrolls back in range.
  PlaceFrame(600, 400);
  const RECT grown = Rect(hor_.m_hWnd);
  EXPECT_EQ(grown.right - grown.left, 596 - kTreeWidth - kBar);
  EXPECT_EQ(grown.bottom - grown.top, 213);
  EXPECT_EQ(hor_.m_nScrollY, 500 - hor_.VisibleHeight());
  EXPECT_EQ(PagePosition().y, -(500 - hor_.VisibleHeight()));
}

// A change of the page side reaches the frame at the frame's own size (a layout that reads the
// message's size lays out at its own, never at the page side's).
TEST_F(SplittersTest, FrameHearsOfThePageSideAtItsOwnSize) {
  PlaceFrame(600, 400);
  frame_.sizes.clear();
  SizePageSide(250, 150);
  ASSERT_FALSE(frame_.sizes.empty());
  EXPECT_EQ(frame_.sizes.back().cx, 600);
  EXPECT_EQ(frame_.sizes.back().cy, 400);
}

// ---- Through the frame host: the tests' tree page frame with pages of two sizes ----------------

// The real DTM, naming the tests' page frame for its functions.
class FrameDtm : public vkr::test::CommDtm {
 public:
  HRESULT GetActiveXGuid(BSTR, BSTR* classId) override {
    OLECHAR text[40] = {};
    StringFromGUID2(vkr::test::CLSID_TestPageFrame, text, 40);
    *classId = SysAllocString(text);
    return S_OK;
  }
};

class PageAreaEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace t = vkr::test;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    ASSERT_EQ(t::RegisterTestPageFrame(), S_OK);
    ASSERT_EQ(t::RegisterScriptedPages(), S_OK);
    t::SetTestFrameAskApply(false);
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory_), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory_.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<t::FakeDtmThread>(&thread_), S_OK);
    thread_->journal = &journal_;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&container_), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameDtm>(&dtm_), S_OK);
    dtm_->SetThread(thread_.Get());
    dtm_->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    ASSERT_EQ(dtm_->InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR))), S_OK);
    dtm_->SetContainer(static_cast<IFdtContainer*>(container_.Get()));
    container_->dtm = static_cast<IDtm*>(dtm_.Get());
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameChannel>(&channel_), S_OK);
    ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm_.Get())->SetCommunication(channel_.Get()), S_OK);
    dtm_->ForceState(dsCONFIGURED);
  }
  void TearDown() override {
    // The frame host's close, as the frame asks for it.
    while (!container_->activeX.OpenControls().empty()) {
      VARIANT_BOOL closed = VARIANT_FALSE;
      const vkr::Bstr id(vkr::Utf8ToUtf16(container_->activeX.OpenControls().back().invokeId));
      if (FAILED(container_->CloseActiveXControl(id, &closed)) || !closed) break;
      vkr::ui::PumpUntilIdle();
    }
    container_->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    dtm_->DropChannel();
    container_->dtm = nullptr;
    dtm_->SetContainer(nullptr);
    dtm_ = nullptr;
    container_ = nullptr;
    channel_ = nullptr;
    CoRevokeClassObject(cookie_);
    vkr::test::RevokeScriptedPages();
    vkr::test::RevokeTestPageFrame();
    vkr::frame::RevokeOutsideControls();
    vkr::test::DrainQueue();
    CoUninitialize();
  }

  vkr::test::CTestPageFrame* Open() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(5));
    EXPECT_EQ(container_->OpenActiveXControl(vkr::Bstr(u"tag"), call, &opened), S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened || container_->activeX.OpenControls().empty()) return nullptr;
    return vkr::test::AsTestPageFrame(container_->activeX.OpenControls().back().control.Get());
  }

  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory_;
  DWORD cookie_ = 0;
  vkr::test::Journal journal_;
  vkr::ComPtr<vkr::ComObject<vkr::test::FakeDtmThread>> thread_;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel_;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> container_;
  vkr::ComPtr<vkr::ComObject<FrameDtm>> dtm_;
};

// A page larger than the page area gets scroll bars and is scrolled by the user's keys on them; a
// page change from the tree to a page that fits hides the bars and brings every page back to the
// area's corner, and the large page starts unscrolled when it is chosen again.
TEST_F(PageAreaEndToEnd, LargePageScrollsAndAPageChangeStartsAtTheCorner) {
  namespace t = vkr::test;
  t::SPageScript large, small;
  large.title = u"Large";
  large.size = SIZE{600, 400};
  small.title = u"Small";
  small.size = SIZE{100, 80};
  t::SetPageScript('A', large);
  t::SetPageScript('B', small);
  t::SetTestFramePages({t::ScriptedPageClass('A'), t::ScriptedPageClass('B')});
  t::CTestPageFrame* frame = Open();
  ASSERT_NE(frame, nullptr);
  CPageFrameHorSplitter& side = frame->HorizontalSplitter();
  // The user makes the frame host's window smaller than the page needs.
  ::MoveWindow(container_->activeX.OpenControls().back().window, 0, 0, 500, 400, TRUE);
  vkr::ui::PumpUntilIdle();
  HWND a = t::ScriptedPageWindow('A'), b = t::ScriptedPageWindow('B');
  auto at = [&](HWND page) {
    RECT r{};
    GetWindowRect(page, &r);
    POINT p{r.left, r.top};
    ScreenToClient(side.m_hPageArea, &p);
    return p;
  };
  ASSERT_TRUE(a && IsWindowVisible(a));
  ASSERT_TRUE(IsWindowVisible(side.m_hHorzScroll));
  ASSERT_TRUE(IsWindowVisible(side.m_hVertScroll));
  EXPECT_EQ(side.m_nContentWidth, 600);
  EXPECT_EQ(side.m_nContentHeight, 400);

  ASSERT_TRUE(vkr::ui::Click(side.m_hVertScroll));
  ASSERT_TRUE(vkr::ui::PressKey(VK_NEXT));
  ASSERT_TRUE(vkr::ui::PressKey(VK_DOWN));
  ASSERT_TRUE(vkr::ui::Click(side.m_hHorzScroll));
  ASSERT_TRUE(vkr::ui::PressKey(VK_RIGHT));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(at(a).y, -(side.VisibleHeight() - 4 + 1));
  EXPECT_EQ(at(a).x, -1);

  ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), "Small"));
  vkr::ui::PumpUntilIdle();
  ASSERT_TRUE(b && IsWindowVisible(b));
  EXPECT_FALSE(IsWindowVisible(a));
  EXPECT_FALSE(IsWindowVisible(side.m_hHorzScroll));
  EXPECT_FALSE(IsWindowVisible(side.m_hVertScroll));
  EXPECT_EQ(at(b).x, 0);
  EXPECT_EQ(at(b).y, 0);
  EXPECT_EQ(at(a).y, 0) << "the hidden page came back with the area";

  ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), "Large"));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(IsWindowVisible(side.m_hVertScroll));
  EXPECT_EQ(side.m_nScrollY, 0);
  EXPECT_EQ(at(a).y, 0);
}

}  // namespace

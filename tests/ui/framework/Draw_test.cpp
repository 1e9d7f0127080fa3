// Owner-drawn check and radio buttons, checked on the pixels of the rendered test dialog. The
// glyphs are the 13 x 13 cells of the system check-box strip (platform/ui/gdi.h): white insides and
// corners (the key colour), black marks, grey frames with a white lit edge.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_ui_dtm.h"
#include "tests/support/test_user_interface.h"

namespace {

namespace t = vkr::test;

// A palette where every colour a token can stand for is told apart.
constexpr COLORREF kWindow = 0xE0F0FF, kFace = 0xC8D0D4, kText = 0x102030, kButtonText = 0x304050,
                   kHighlight = 0x6A240A, kRed = 0x0000FF, kBlue = 0xFF0000, kWhite = 0xFFFFFF, kGrey = 0x808080;
constexpr int kCell = 13;
// Points of a cell: inside the box off the mark, its lit edge, its frame, on the check mark and
// on a dot of the dotted mark, on the check mark between two dots; outside the radio ring (top
// left, below it), its lit part, its dot.
constexpr POINT kInside{4, 4}, kLit{12, 6}, kFrame{0, 0}, kMark{9, 3}, kCheckOnly{9, 4}, kCorner{0, 0},
    kBelow{5, 12}, kRingLit{10, 2}, kDot{6, 6};

class OwnerDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<int, COLORREF> palette[] = {{COLOR_WINDOW, kWindow},        {COLOR_BTNFACE, kFace},
                                                {COLOR_WINDOWTEXT, kText},      {COLOR_BTNTEXT, kButtonText},
                                                {COLOR_HIGHLIGHT, kHighlight}};
    for (auto [index, colour] : palette) vkr::ui::SetSysColorForTest(index, colour);
    host_ = std::make_unique<t::TestUserInterfaceHost>();
  }
  void TearDown() override {
    host_.reset();
    vkr::ui::ResetSysColorsForTest();
  }
  CActXParInfo& Entry(LONG index) { return host_->Ui()->Entry(index); }

  // Gives the entry's button the look, state, check and focus, and renders the host window.
  void Draw(LONG entry, ULONG kind, ULONG state, UINT check, bool focus) {
    Entry(entry).m_nCtrlKind = kind;
    Entry(entry).m_nState = state;
    HWND button = host_->Item(Entry(entry).m_nCtrlId);
    SendMessageW(button, BM_SETCHECK, check, 0);
    SetFocus(focus ? button : host_->Item(t::kTestTagEdit));
    InvalidateRect(button, nullptr, TRUE);
    ASSERT_TRUE(vkr::ui::RenderWindow(host_->Window(), &picture_));
    RECT window{}, rc{};
    GetWindowRect(host_->Window(), &window);
    GetWindowRect(button, &rc);
    OffsetRect(&rc, -window.left, -window.top);
    button_ = rc;
  }
  // The cell sits at the button's left edge, centred in its height.
  COLORREF Cell(POINT p) const {
    return picture_.At(button_.left + p.x, button_.top + (button_.bottom - button_.top - kCell) / 2 + p.y);
  }
  // One column of the button: '#' black, '.' anything else.
  std::string Column(int x) const {
    std::string out;
    for (int y = button_.top; y < button_.bottom; ++y) out += picture_.At(button_.left + x, y) == 0 ? '#' : '.';
    return out;
  }

  std::unique_ptr<t::TestUserInterfaceHost> host_;
  vkr::ui::Picture picture_;
  RECT button_{};
};

// The glyph's white takes the fill colour and its black the mark colour, chosen by the entry's
// state (its low three bits) and resolved by its options; frames keep their greys, lit edges stay
// white, the radio ring keeps no coloured corners; a focused button's text gets a dotted frame.
TEST_F(OwnerDrawTest, TheCellShowsStateOptionsCheckAndFocus) {
  const LONG box = t::kEntryPrimaryMaster, radio = t::kEntryLoopCurrent;
  struct Case {
    const char* what;
    LONG entry;
    ULONG kind, state;
    UINT check;
    bool focus;
    std::vector<std::pair<POINT, COLORREF>> pixels;
  } const cases[] = {
      {"usable", box, 0x20, 0x1, BST_CHECKED, false, {{kInside, kWindow}, {kMark, kText}, {kFrame, kGrey}, {kLit, kWhite}}},
      {"rejected", box, 0x20, 0x5, BST_CHECKED, true, {{kInside, kWindow}, {kMark, kRed}}},
      {"changed", box, 0x20, 0x3, BST_CHECKED, false, {{kMark, kBlue}}},
      {"changed and rejected", box, 0x20, 0x7, BST_CHECKED, false, {{kMark, kRed}}},
      {"not usable", box, 0x20, 0x0, BST_CHECKED, false, {{kInside, kFace}, {kMark, kText}, {kLit, kWhite}}},
      {"not usable, changed", box, 0x20, 0x6, BST_CHECKED, false, {{kInside, kFace}, {kMark, kText}}},
      {"low three bits only", box, 0x20, 0x75, BST_CHECKED, false, {{kInside, kWindow}, {kMark, kRed}}},
      {"face background", box, 0x21, 0x1, BST_CHECKED, false, {{kInside, kFace}}},
      {"button text", box, 0x22, 0x1, BST_CHECKED, false, {{kMark, kButtonText}}},
      {"highlight wins", box, 0x2A, 0x1, BST_CHECKED, false, {{kMark, kHighlight}}},
      {"plain colours ignore options", box, 0x2B, 0x3, BST_CHECKED, false, {{kInside, kFace}, {kMark, kBlue}}},
      {"unchecked", box, 0x20, 0x5, BST_UNCHECKED, false, {{kMark, kWindow}, {kCheckOnly, kWindow}}},
      {"indeterminate", box, 0x20, 0x5, BST_INDETERMINATE, false, {{kMark, kRed}, {kCheckOnly, kWindow}}},
      {"checked", box, 0x20, 0x5, BST_CHECKED, false, {{kCheckOnly, kRed}}},
      {"radio unchecked", radio, 0x10, 0x5, BST_UNCHECKED, false,
       {{kDot, kWindow}, {kCorner, kFace}, {kBelow, kFace}, {{5, 0}, kGrey}, {kRingLit, kWhite}}},
      {"radio checked", radio, 0x10, 0x3, BST_CHECKED, true, {{kDot, kBlue}, {{3, 6}, kWindow}, {kBelow, kFace}}},
      {"radio not usable", radio, 0x10, 0x0, BST_CHECKED, false, {{kDot, kText}, {{3, 6}, kFace}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Draw(c.entry, c.kind, c.state, c.check, c.focus);
    for (auto [point, colour] : c.pixels) EXPECT_EQ(Cell(point), colour) << point.x << "," << point.y;
    const std::string frame = Column(kCell + 4);
    if (c.focus) {
      EXPECT_NE(frame.find('#'), std::string::npos) << frame;
      EXPECT_EQ(frame.find("##"), std::string::npos) << frame;  // dotted
    } else {
      EXPECT_EQ(frame.find('#'), std::string::npos) << frame;
    }
  }
}

// A button whose entry has neither look, or is a command entry, is left to others; drawing leaves
// no GDI object behind.
TEST_F(OwnerDrawTest, OnlyEntriesWithALookAreDrawnAndNothingLeaks) {
  for (ULONG kind : {0x0u, 0x80000020u}) {
    t::TestUserInterfaceHost fresh;
    fresh.Ui()->Entry(t::kEntryPrimaryMaster).m_nCtrlKind = kind;
    HWND button = fresh.Item(t::kTestPrimaryMasterButton);
    DRAWITEMSTRUCT item{};
    item.hwndItem = button;
    item.hDC = GetDC(button);
    EXPECT_EQ(fresh.Ui()->OnDrawItem(t::kTestPrimaryMasterButton, &item), S_FALSE) << kind;
    ReleaseDC(button, item.hDC);
    vkr::ui::Picture picture;
    ASSERT_TRUE(vkr::ui::RenderWindow(button, &picture));
    for (COLORREF p : picture.pixels) ASSERT_EQ(p, picture.pixels.front()) << kind;
  }
  Draw(t::kEntryPrimaryMaster, 0x20, 0x5, BST_CHECKED, true);
  const vkr::ui::GdiCounts before = vkr::ui::GdiObjectCounts();
  for (UINT check : {BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE}) Draw(t::kEntryPrimaryMaster, 0x20, 0x3, check, true);
  Draw(t::kEntryLoopCurrent, 0x10, 0x5, BST_CHECKED, true);
  const vkr::ui::GdiCounts after = vkr::ui::GdiObjectCounts();
  EXPECT_EQ(std::vector<int>({after.dcs, after.pens, after.brushes, after.bitmaps}),
            std::vector<int>({before.dcs, before.pens, before.brushes, before.bitmaps}));
}

// A value reaches an owner-drawn button as its check, never as its caption, and comes back.
TEST_F(OwnerDrawTest, ValuesReachTheCheckAndComeBack) {
  auto dtm = t::ui::FakeUiDtm::Create();
  ASSERT_EQ(host_->Open(dtm->GetControllingUnknown()), S_OK);
  dtm->Deliver();
  for (auto [id, control] : {std::pair{t::kTestPrimaryMasterId, t::kTestPrimaryMasterButton},
                             std::pair{t::kTestLoopCurrentId, t::kTestLoopCurrentButton}}) {
    for (BYTE value : {1, 0}) {
      SCOPED_TRACE(std::to_string(id) + " = " + std::to_string(value));
      HWND button = host_->Item(control);
      char caption[64] = {}, after[64] = {};
      GetWindowTextA(button, caption, sizeof caption);
      VARIANT v = vkr::EmptyVariant();
      v.vt = VT_UI1;
      v.bVal = value;
      ASSERT_EQ(host_->Ui()->SetControlValueById(id, v), S_OK);
      EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), value ? BST_CHECKED : BST_UNCHECKED);
      GetWindowTextA(button, after, sizeof after);
      EXPECT_STREQ(after, caption);
      vkr::Variant back;
      ASSERT_EQ(host_->Ui()->GetControlValueById(id, back.Put()), S_OK);
      EXPECT_EQ(back.vt == VT_UI1 && back.bVal != 0, value != 0);
    }
  }
  host_.reset();
  dtm->DetachAll();
}

}  // namespace

// Owner-drawn check and radio buttons, checked on the pixels of the rendered test dialog.
//
// The glyphs are the cells of the system check-box strip (13 x 13): box interiors and the corners
// around the radio ring are white (the key colour), marks black, frames in 3D shadow greys, the
// lit part of a frame white. The points below are named by what the glyph has there.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_ui_dtm.h"
#include "tests/support/test_user_interface.h"

namespace {

using vkr::test::CTestUserInterface;
using vkr::test::TestUserInterfaceHost;

// A palette where every colour a token can stand for is told apart.
constexpr COLORREF kWindow = 0xE0F0FF;
constexpr COLORREF kFace = 0xC8D0D4;
constexpr COLORREF kWindowText = 0x102030;
constexpr COLORREF kButtonText = 0x304050;
constexpr COLORREF kHighlight = 0x6A240A;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kShadow = 0x808080;

constexpr int kCell = 13;

// Points of a cell (x, y inside the 13 x 13 image).
struct Point {
  int x, y;
};
constexpr Point kBoxFrame{0, 0};       // 3D shadow of the box
constexpr Point kBoxLit{12, 6};        // lit edge of the box: white
constexpr Point kBoxInside{4, 4};      // inside the box, off the check mark
constexpr Point kCheckMark{9, 3};      // on the check mark, and on a dot of the dotted mark
constexpr Point kCheckOnly{9, 4};      // on the check mark, between two dots of the dotted mark
constexpr Point kRadioCorner{0, 0};    // outside the ring, top left
constexpr Point kRadioBelow{5, 12};    // outside the ring, under it
constexpr Point kRadioRing{5, 0};      // the ring's shadow
constexpr Point kRadioLit{10, 2};      // the ring's lit part: white
constexpr Point kRadioInside{3, 6};    // inside the ring, off the dot
constexpr Point kRadioDot{6, 6};       // on the dot

class OwnerDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkr::ui::SetSysColorForTest(COLOR_WINDOW, kWindow);
    vkr::ui::SetSysColorForTest(COLOR_BTNFACE, kFace);
    vkr::ui::SetSysColorForTest(COLOR_WINDOWTEXT, kWindowText);
    vkr::ui::SetSysColorForTest(COLOR_BTNTEXT, kButtonText);
    vkr::ui::SetSysColorForTest(COLOR_HIGHLIGHT, kHighlight);
    host_ = std::make_unique<TestUserInterfaceHost>();
  }
  void TearDown() override {
    host_.reset();
    vkr::ui::ResetSysColorsForTest();
  }

  CTestUserInterface* Ui() { return host_->Ui(); }

  // Sets the entry's look, state and the button's check, and renders the host window.
  void Draw(LONG entry, ULONG kind, ULONG state, UINT check, bool focus = false) {
    CActXParInfo& e = Ui()->Entry(entry);
    e.m_nCtrlKind = kind;
    e.m_nState = state;
    HWND button = host_->Item(e.m_nCtrlId);
    SendMessageW(button, BM_SETCHECK, check, 0);
    if (focus) SetFocus(button);
    else SetFocus(host_->Item(vkr::test::kTestTagEdit));
    InvalidateRect(button, nullptr, TRUE);
    ASSERT_TRUE(vkr::ui::RenderWindow(host_->Window(), &picture_));
    RECT host{}, rc{};
    GetWindowRect(host_->Window(), &host);
    GetWindowRect(button, &rc);
    button_ = RECT{rc.left - host.left, rc.top - host.top, rc.right - host.left, rc.bottom - host.top};
  }
  // A pixel of the drawn cell, which sits at the button's left edge, centred in its height.
  COLORREF Cell(Point p) const {
    const int top = button_.top + (button_.bottom - button_.top - kCell) / 2;
    return picture_.At(button_.left + p.x, top + p.y);
  }
  // The button's pixels in one column (x relative to the button).
  std::string Column(int x) const {
    std::string out;
    for (int y = button_.top; y < button_.bottom; ++y) out += picture_.At(button_.left + x, y) == 0 ? '#' : '.';
    return out;
  }

  std::unique_ptr<TestUserInterfaceHost> host_;
  vkr::ui::Picture picture_;
  RECT button_{};
};

struct ColourCase {
  ULONG state;
  ULONG options;
  COLORREF fill;
  COLORREF mark;
};

// The glyph's white takes the fill colour and its black the mark colour, both chosen by the
// entry's state (the low three bits) and resolved by its options; the 3D frame keeps its greys and
// its lit edge stays white.
TEST_F(OwnerDrawTest, CheckBoxColoursFollowTheEntrysStateAndOptions) {
  const ColourCase cases[] = {
      {0x1, 0, kWindow, kWindowText},      // usable
      {0x5, 0, kWindow, kRed},             // usable, input rejected
      {0x3, 0, kWindow, kBlue},            // usable, changed
      {0x7, 0, kWindow, kRed},             // usable, changed and rejected
      {0x0, 0, kFace, kWindowText},        // not usable
      {0x2, 0, kFace, kWindowText},
      {0x4, 0, kFace, kWindowText},
      {0x6, 0, kFace, kWindowText},
      {0x75, 0, kWindow, kRed},            // only the low three bits count
      {0x1, 0x1, kFace, kWindowText},      // face background
      {0x1, 0x2, kWindow, kButtonText},    // button text
      {0x1, 0x8, kWindow, kHighlight},     // highlighted
      {0x1, 0xA, kWindow, kHighlight},     // highlight wins over button text
      {0x3, 0xB, kFace, kBlue},            // a plain colour ignores the options
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE("state " + std::to_string(c.state) + " options " + std::to_string(c.options));
    Draw(vkr::test::kEntryPrimaryMaster, 0x20 | c.options, c.state, BST_CHECKED);
    EXPECT_EQ(Cell(kBoxInside), c.fill);
    EXPECT_EQ(Cell(kCheckMark), c.mark);
    EXPECT_EQ(Cell(kBoxFrame), kShadow);
    EXPECT_EQ(Cell(kBoxLit), kWhite);
  }
}

// Unchecked, checked and indeterminate boxes come from three different cells.
TEST_F(OwnerDrawTest, CheckStatesPickTheirCells) {
  struct Case {
    UINT check;
    COLORREF onMark, onCheckOnly;
  } const cases[] = {
      {BST_UNCHECKED, kWindow, kWindow},
      {BST_CHECKED, kRed, kRed},
      {BST_INDETERMINATE, kRed, kWindow},  // the dotted mark
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("check " + std::to_string(c.check));
    Draw(vkr::test::kEntryPrimaryMaster, 0x20, 0x5, c.check);
    EXPECT_EQ(Cell(kCheckMark), c.onMark);
    EXPECT_EQ(Cell(kCheckOnly), c.onCheckOnly);
    EXPECT_EQ(Cell(kBoxInside), kWindow);
    EXPECT_EQ(Cell(kBoxLit), kWhite);
  }
}

// A radio button's dot takes the mark colour; outside the ring, above and below it, the dialog's
// background shows, never the fill.
TEST_F(OwnerDrawTest, RadioButtonsKeepNoColouredCorners) {
  struct Case {
    ULONG state;
    UINT check;
    COLORREF inside, dot;
  } const cases[] = {
      {0x5, BST_UNCHECKED, kWindow, kWindow},
      {0x5, BST_CHECKED, kWindow, kRed},
      {0x1, BST_CHECKED, kWindow, kWindowText},
      {0x3, BST_CHECKED, kWindow, kBlue},
      {0x0, BST_CHECKED, kFace, kWindowText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("state " + std::to_string(c.state) + " check " + std::to_string(c.check));
    Draw(vkr::test::kEntryLoopCurrent, 0x10, c.state, c.check);
    EXPECT_EQ(Cell(kRadioInside), c.inside);
    EXPECT_EQ(Cell(kRadioDot), c.dot);
    EXPECT_EQ(Cell(kRadioCorner), kFace);
    EXPECT_EQ(Cell(kRadioBelow), kFace);
    EXPECT_EQ(Cell(kRadioRing), kShadow);
    EXPECT_EQ(Cell(kRadioLit), kWhite);
  }
}

// The text stands right of the cell; a focused button gets a dotted frame around it.
TEST_F(OwnerDrawTest, OnlyAFocusedButtonFramesItsText) {
  const int frameColumn = kCell + 4;
  for (bool focus : {true, false}) {
    SCOPED_TRACE(focus ? "focused" : "not focused");
    Draw(vkr::test::kEntryPrimaryMaster, 0x20, 0x1, BST_CHECKED, focus);
    const std::string column = Column(frameColumn);
    if (focus) {
      EXPECT_NE(column.find('#'), std::string::npos) << column;
      EXPECT_EQ(column.find("##"), std::string::npos) << column;  // dotted
    } else {
      EXPECT_EQ(column, std::string(column.size(), '.'));
    }
    bool text = false;
    for (int x = button_.left + kCell + 5; x < button_.right; ++x)
      for (int y = button_.top; y < button_.bottom; ++y) text = text || picture_.At(x, y) == kWindowText;
    EXPECT_TRUE(text);
  }
}

// A value reaches an owner-drawn button as its check, never as its caption, and comes back from
// it: the cell shows the value.
TEST_F(OwnerDrawTest, ValuesReachTheCheckAndComeBack) {
  auto dtm = vkr::test::ui::FakeUiDtm::Create();
  ASSERT_EQ(host_->Open(dtm->GetControllingUnknown()), S_OK);
  dtm->Deliver();
  struct Case {
    LONG entry;
    LONG id;
    BYTE value;
    UINT check;
  } const cases[] = {
      {vkr::test::kEntryPrimaryMaster, vkr::test::kTestPrimaryMasterId, 1, BST_CHECKED},
      {vkr::test::kEntryPrimaryMaster, vkr::test::kTestPrimaryMasterId, 0, BST_UNCHECKED},
      {vkr::test::kEntryLoopCurrent, vkr::test::kTestLoopCurrentId, 1, BST_CHECKED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.entry) + " value " + std::to_string(c.value));
    HWND button = host_->Item(Ui()->Entry(c.entry).m_nCtrlId);
    char caption[64] = {};
    GetWindowTextA(button, caption, sizeof caption);
    VARIANT value = vkr::EmptyVariant();
    value.vt = VT_UI1;
    value.bVal = c.value;
    ASSERT_EQ(Ui()->SetControlValueById(c.id, value), S_OK);
    EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), static_cast<LRESULT>(c.check));
    char after[64] = {};
    GetWindowTextA(button, after, sizeof after);
    EXPECT_STREQ(after, caption);
    vkr::Variant back;
    ASSERT_EQ(Ui()->GetControlValueById(c.id, back.Put()), S_OK);
    ASSERT_EQ(back.vt, VT_UI1);
    EXPECT_EQ(back.bVal != 0, c.value != 0);
  }
  host_.reset();
  dtm->DetachAll();
}

// A button whose entry has neither look, or is a command entry, is not drawn by the base; the
// drawing leaves no GDI object behind.
TEST_F(OwnerDrawTest, OnlyEntriesWithALookAreDrawnAndNothingLeaks) {
  for (ULONG kind : {0x0u, 0x80000020u, 0x80000010u}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    TestUserInterfaceHost fresh;
    fresh.Ui()->Entry(vkr::test::kEntryPrimaryMaster).m_nCtrlKind = kind;
    HWND button = fresh.Item(vkr::test::kTestPrimaryMasterButton);
    SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);
    InvalidateRect(button, nullptr, TRUE);
    DRAWITEMSTRUCT item{};
    item.hwndItem = button;
    item.hDC = GetDC(button);
    EXPECT_EQ(fresh.Ui()->OnDrawItem(vkr::test::kTestPrimaryMasterButton, &item), S_FALSE);
    ReleaseDC(button, item.hDC);
    vkr::ui::Picture picture;
    ASSERT_TRUE(vkr::ui::RenderWindow(button, &picture));
    for (COLORREF p : picture.pixels) ASSERT_EQ(p, picture.pixels.front());
  }

  Draw(vkr::test::kEntryPrimaryMaster, 0x20, 0x5, BST_CHECKED, true);
  const vkr::ui::GdiCounts before = vkr::ui::GdiObjectCounts();
  for (UINT check : {BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE})
    Draw(vkr::test::kEntryPrimaryMaster, 0x20, 0x3, check, true);
  Draw(vkr::test::kEntryLoopCurrent, 0x10, 0x5, BST_CHECKED, true);
  const vkr::ui::GdiCounts after = vkr::ui::GdiObjectCounts();
  EXPECT_EQ(after.dcs, before.dcs);
  EXPECT_EQ(after.pens, before.pens);
  EXPECT_EQ(after.brushes, before.brushes);
  EXPECT_EQ(after.bitmaps, before.bitmaps);
}

}  // namespace

// The controls' look: a reference dialog with visible, hidden, disabled and read-only controls
// rendered and compared with a picture kept in the tests; WM_CTLCOLOR* to the parent; owner-drawn
// buttons through WM_DRAWITEM with ODS_FOCUS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr int kOwnerDrawn = 120;
constexpr int kRedLabel = 121;

struct DrawItemRecord {
  UINT ctlType, ctlId, itemState, action;
  bool hasDc;
  COLORREF bk;
  RECT rc;
};
std::vector<DrawItemRecord>* g_drawItems = nullptr;
HBRUSH g_yellow = nullptr;

// The dialog's procedure: paints a label's background yellow and its text red through
// WM_CTLCOLORSTATIC, and draws the owner-drawn button as a check-box page would: a face fill,
// the text, and a dotted frame around it when the button has the focus.
LRESULT DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kRedLabel) {
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(255, 0, 0));
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 0));
        return reinterpret_cast<LRESULT>(g_yellow);
      }
      return 0;
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (g_drawItems)
        g_drawItems->push_back(DrawItemRecord{dis->CtlType, dis->CtlID, dis->itemState, dis->itemAction,
                                              dis->hDC != nullptr, GetBkColor(dis->hDC), dis->rcItem});
      HDC dc = dis->hDC;
      HBRUSH face = CreateSolidBrush(GetBkColor(dc));
      FillRect(dc, &dis->rcItem, face);
      DeleteObject(face);
      char text[256] = {};
      GetWindowTextA(dis->hwndItem, text, sizeof(text));
      SIZE sz{};
      GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &sz);
      int h = dis->rcItem.bottom - dis->rcItem.top, d = h - sz.cy;
      if (dis->itemState & ODS_FOCUS) {
        LOGBRUSH lb{BS_SOLID, RGB(0, 0, 0), 0};
        HPEN pen = ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &lb, 0, nullptr);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, 4, d / 2 - 2, sz.cx + 6, sz.cy + d / 2 + 1);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
      }
      TextOutA(dc, 5, d / 2 - 1, text, static_cast<int>(strlen(text)));
      return TRUE;
    }
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

const char* DialogClass() {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &DialogProc;
    wc.lpszClassName = "GdiReferenceDialog";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_BTNFACE + 1));
    RegisterClassA(&wc);
    return "GdiReferenceDialog";
  }();
  return name;
}

struct ReferenceDialog {
  HWND dlg = nullptr;
  HFONT font = nullptr;
  HBITMAP lamp = nullptr;
  HICON icon = nullptr;

  HWND Add(const char* cls, const char* text, DWORD style, DWORD ex, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(ex, cls, text, style | WS_CHILD, x, y, w, h, dlg,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return c;
  }

  ReferenceDialog() {
    g_yellow = CreateSolidBrush(RGB(255, 255, 0));
    font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    dlg = CreateWindowExA(0, DialogClass(), "Setup", WS_POPUP | WS_CAPTION | WS_SYSMENU, 50, 50, 330, 260, nullptr,
                          nullptr, nullptr, nullptr);
    const DWORD V = WS_VISIBLE, T = WS_TABSTOP;
    Add("Button", "Setup", V | BS_GROUPBOX, 0, 6, 4, 190, 118, 100);
    Add("Static", "Low Level", V, 0, 14, 24, 60, 13, 101);
    Add("Edit", "1.50", V | T | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 80, 21, 60, 20, 102);
    Add("Static", "Hi Level", V, 0, 14, 48, 60, 13, 103);
    Add("Edit", "20.00", V | T | ES_READONLY | ES_RIGHT, WS_EX_CLIENTEDGE, 80, 45, 60, 20, 104);
    Add("Static", "Damping", V | WS_DISABLED, 0, 14, 72, 60, 13, 105);
    Add("Edit", "5", V | T | WS_DISABLED, WS_EX_CLIENTEDGE, 80, 69, 60, 20, 106);
    Add("Edit", "hidden", T, WS_EX_CLIENTEDGE, 80, 93, 60, 20, 107);
    Add("Static", "Sec", V, 0, 146, 72, 30, 13, 108);
    Add("Static", "Unit", V, 0, 14, 97, 60, 13, kRedLabel);
    HWND combo = Add("ComboBox", "", V | T | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 80, 94, 100, 80, 109);
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Metres (m)"));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Feet (ft)"));
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    HWND check = Add("Button", "Tracking", V | T | BS_AUTOCHECKBOX, 0, 204, 10, 110, 16, 110);
    SendMessageA(check, BM_SETCHECK, BST_CHECKED, 0);
    Add("Button", "Disabled option", V | WS_DISABLED | BS_AUTOCHECKBOX, 0, 204, 30, 110, 16, 111);
    HWND fast = Add("Button", "Fast", V | T | WS_GROUP | BS_AUTORADIOBUTTON, 0, 204, 50, 60, 16, 112);
    Add("Button", "Slow", V | BS_AUTORADIOBUTTON, 0, 264, 50, 60, 16, 113);
    SendMessageA(fast, BM_SETCHECK, BST_CHECKED, 0);
    Add("Button", "Owner drawn", V | T | BS_OWNERDRAW, 0, 204, 70, 110, 18, kOwnerDrawn);
    HWND list = Add("ListBox", "", V | T | LBS_NOTIFY, WS_EX_CLIENTEDGE, 6, 128, 120, 50, 114);
    for (const char* item : {"Echo 1", "Echo 2", "Echo 3"}) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageA(list, LB_SETCURSEL, 1, 0);
    const std::string root = std::string(VKR_SOURCE_DIR) + "/resources/";
    lamp = static_cast<HBITMAP>(
        LoadImageA(nullptr, (root + "bitmaps/LampRed.bmp").c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    HWND picture = Add("Static", "", V | SS_BITMAP, 0, 140, 130, 16, 16, 115);
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(lamp));
    icon = static_cast<HICON>(
        LoadImageA(nullptr, (root + "icons/status671.ico").c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
    HWND indicator = Add("Static", "", V | SS_ICON, 0, 162, 130, 16, 16, 116);
    SendMessageA(indicator, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    HWND bar = Add("ScrollBar", "", V | SBS_HORZ, 0, 140, 156, 170, 16, 117);
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 100, 20, 40, 0};
    SetScrollInfo(bar, SB_CTL, &si, FALSE);
    Add("Button", "Send", V | T | BS_DEFPUSHBUTTON, 0, 60, 190, 70, 24, 1);
    Add("Button", "Refresh", V | T, 0, 140, 190, 70, 24, 2);
    Add("Button", "Apply", V | T | WS_DISABLED, 0, 220, 190, 70, 24, 3);
    Add("Button", "Hidden", T, 0, 6, 190, 50, 24, 4);
    ShowWindow(dlg, SW_SHOW);
  }
  ~ReferenceDialog() {
    DestroyWindow(dlg);
    DeleteObject(font);
    DeleteObject(lamp);
    DestroyIcon(icon);
    DeleteObject(g_yellow);
  }
};

// A pixel matches when no channel differs by more than kChannelTolerance; the pictures match
// when at most kMismatchPerMille of the pixels do not.
constexpr int kChannelTolerance = 8;
constexpr int kMismatchPerMille = 2;

TEST(PaintControls, ReferenceDialogLooksAsKept) {
  const vkr::ui::GdiCounts baseline = vkr::ui::GdiObjectCounts();
  std::vector<DrawItemRecord> items;
  g_drawItems = &items;
  {
    ReferenceDialog d;
    SetFocus(GetDlgItem(d.dlg, kOwnerDrawn));
    vkr::ui::Picture picture;
    ASSERT_TRUE(vkr::ui::RenderWindow(d.dlg, &picture));
    std::string golden = std::string(VKR_SOURCE_DIR) + "/tests/data/ui/reference_dialog.png";
    if (std::getenv("VKR_UPDATE_PICTURES")) {
      ASSERT_TRUE(vkr::ui::SavePictureToPng(picture, golden.c_str()));
    }
    vkr::ui::Picture kept;
    ASSERT_TRUE(vkr::ui::ReadPng(golden.c_str(), &kept)) << golden;
    ASSERT_EQ(kept.width, picture.width);
    ASSERT_EQ(kept.height, picture.height);
    int mismatches = 0;
    for (std::size_t i = 0; i < kept.pixels.size(); ++i) {
      COLORREF a = kept.pixels[i], b = picture.pixels[i];
      if (std::abs(GetRValue(a) - GetRValue(b)) > kChannelTolerance ||
          std::abs(GetGValue(a) - GetGValue(b)) > kChannelTolerance ||
          std::abs(GetBValue(a) - GetBValue(b)) > kChannelTolerance)
        ++mismatches;
    }
    EXPECT_LE(mismatches * 1000, kMismatchPerMille * static_cast<int>(kept.pixels.size()))
        << mismatches << " pixels differ; the new picture: /tmp/reference_dialog_actual.png";
    if (mismatches) vkr::ui::SavePictureToPng(picture, "/tmp/reference_dialog_actual.png");

    // Where the drawing is the point: hidden controls leave the face, disabled and read-only edits
    // are grey, the parent's WM_CTLCOLORSTATIC colours its label, the lamp and the icon show.
    POINT c{0, 0};
    ClientToScreen(d.dlg, &c);
    RECT wr{};
    GetWindowRect(d.dlg, &wr);
    auto at = [&](int x, int y) { return picture.At(x + c.x - wr.left, y + c.y - wr.top); };
    const COLORREF face = GetSysColor(COLOR_BTNFACE), window = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(at(84, 98), RGB(255, 255, 255)) << "the drop-down list's field, not the hidden edit";
    EXPECT_EQ(at(10, 200), face) << "hidden button";
    EXPECT_EQ(at(84, 26), window) << "writable edit";
    EXPECT_EQ(at(84, 50), face) << "read-only edit";
    EXPECT_EQ(at(84, 74), face) << "disabled edit";
    EXPECT_EQ(at(14 + 59, 97 + 12), RGB(255, 255, 0)) << "label coloured by its parent";
    EXPECT_EQ(at(140 + 8, 130 + 8), RGB(255, 0, 0)) << "lamp bitmap";
    EXPECT_EQ(at(162 + 8, 130 + 8), RGB(0, 0, 255)) << "status icon 2";
  }
  // The owner-drawn button was drawn through its parent, the last time with the focus.
  ASSERT_FALSE(items.empty());
  const DrawItemRecord& last = items.back();
  EXPECT_EQ(last.ctlType, static_cast<UINT>(ODT_BUTTON));
  EXPECT_EQ(last.ctlId, static_cast<UINT>(kOwnerDrawn));
  EXPECT_TRUE(last.itemState & ODS_FOCUS);
  EXPECT_TRUE(last.hasDc);
  EXPECT_EQ(last.bk, GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(last.rc.right, 110);
  EXPECT_EQ(last.rc.bottom, 18);
  g_drawItems = nullptr;
  EXPECT_EQ(vkr::ui::GdiObjectCounts(), baseline);
}

// A list box with WS_VSCROLL shows its vertical bar once its items no longer fit (the items keep
// the width left of it), and none while they all fit.
TEST(PaintControls, AListBoxShowsItsScrollBarWhenItsItemsDoNotFit) {
  HWND parent = CreateWindowExA(0, DialogClass(), "", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                nullptr);
  auto make = [&](int x, int items) {
    HWND list = CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL, x, 10, 100, 60, parent, nullptr,
                                nullptr, nullptr);
    for (int i = 0; i < items; ++i) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("item"));
    return list;
  };
  HWND full = make(10, 12);
  HWND few = make(150, 2);
  const int bar = GetSystemMetrics(SM_CXVSCROLL);
  const COLORREF window = GetSysColor(COLOR_WINDOW), face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(vkr::ui::PixelAt(full, 100 - bar / 2, 2), face) << "the up arrow";
  EXPECT_EQ(vkr::ui::PixelAt(full, 100 - bar / 2, 57), face) << "the down arrow";
  EXPECT_EQ(vkr::ui::PixelAt(full, 100 - bar - 3, 57), window) << "the items' room";
  EXPECT_EQ(vkr::ui::PixelAt(few, 100 - bar / 2, 2), window);
  EXPECT_EQ(vkr::ui::PixelAt(few, 100 - bar / 2, 57), window);
  DestroyWindow(parent);
}

}  // namespace

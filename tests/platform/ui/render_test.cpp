// Painting and pictures of window trees: paint order, clipping and z-order in the rendered
// picture, window DCs, and GDI objects back at their baseline afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

std::vector<std::string>* g_log = nullptr;

// Each window paints its client area in the colour kept in GWLP_USERDATA, with a 1-pixel black
// frame drawn by a pen and a text, so DCs, pens, fonts and brushes are made and freed while
// painting.
LRESULT PaintProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      if (g_log) g_log->push_back(vkr::ui::WindowText(hwnd) + ":erase");
      break;
    case WM_PAINT: {
      std::string name = vkr::ui::WindowText(hwnd);
      PAINTSTRUCT ps{};
      HDC dc = BeginPaint(hwnd, &ps);  // sends WM_ERASEBKGND first
      if (g_log) g_log->push_back(name + ":paint");
      RECT rc{};
      GetClientRect(hwnd, &rc);
      HBRUSH fill = CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
      HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
      HGDIOBJ oldBrush = SelectObject(dc, fill);
      HGDIOBJ oldPen = SelectObject(dc, pen);
      Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
      HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
      HGDIOBJ oldFont = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      TextOutA(dc, 2, 2, name.c_str(), static_cast<int>(name.size()));
      SelectObject(dc, oldFont);
      SelectObject(dc, oldPen);
      SelectObject(dc, oldBrush);
      DeleteObject(font);
      DeleteObject(pen);
      DeleteObject(fill);
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

const char* RegisterPaintClass() {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &PaintProc;
    wc.lpszClassName = "GdiPaintTest";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_BTNFACE + 1));
    RegisterClassA(&wc);
    return "GdiPaintTest";
  }();
  return name;
}

HWND Make(const char* name, DWORD style, DWORD exStyle, int x, int y, int w, int h, HWND parent, COLORREF color) {
  HWND hwnd = CreateWindowExA(exStyle, RegisterPaintClass(), name, style, x, y, w, h, parent, nullptr, nullptr, nullptr);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(color));
  return hwnd;
}

constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kGreen = RGB(0, 160, 0), kYellow = RGB(255, 255, 0);

TEST(Render, PaintOrderClippingAndZOrderAndNothingLeaks) {
  const vkr::ui::GdiCounts baseline = vkr::ui::GdiObjectCounts();
  std::vector<std::string> log;
  g_log = &log;
  // A bordered top-level window (client at (1,1)) with four children: A above B where they
  // overlap (created first), C hidden, D reaching past the parent's right edge.
  HWND top = Make("P", WS_POPUP | WS_BORDER, 0, 100, 100, 102, 82, nullptr, kYellow);
  HWND a = Make("A", WS_CHILD | WS_VISIBLE, 0, 10, 10, 30, 20, top, kRed);
  HWND b = Make("B", WS_CHILD | WS_VISIBLE, 0, 30, 20, 30, 20, top, kBlue);
  HWND c = Make("C", WS_CHILD, 0, 60, 50, 20, 20, top, kGreen);
  HWND d = Make("D", WS_CHILD | WS_VISIBLE, WS_EX_CLIENTEDGE, 80, 50, 40, 20, top, kGreen);
  ASSERT_TRUE(top && a && b && c && d);
  ShowWindow(top, SW_SHOW);

  vkr::ui::Picture p;
  ASSERT_TRUE(vkr::ui::RenderWindow(top, &p));
  ASSERT_EQ(p.width, 102);
  ASSERT_EQ(p.height, 82);
  // Parents first, each window's erase before its paint; the hidden window is not painted.
  EXPECT_EQ(log, (std::vector<std::string>{"P:erase", "P:paint", "A:erase", "A:paint", "B:erase", "B:paint",
                                            "D:erase", "D:paint"}));
  // The border, the parent's frame and fill.
  EXPECT_EQ(p.At(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(p.At(1, 1), RGB(0, 0, 0));
  EXPECT_EQ(p.At(5, 70), kYellow);
  // A (client (10,10)-(40,30), so picture (11,11)-(41,31)) lies above B in their overlap.
  EXPECT_EQ(p.At(12, 28), kRed);
  EXPECT_EQ(p.At(35, 25), kRed);
  EXPECT_EQ(p.At(45, 25), kBlue);
  EXPECT_EQ(p.At(45, 21), RGB(0, 0, 0));  // B's own frame, top row
  // C is hidden: the parent shows through.
  EXPECT_EQ(p.At(70, 60), kYellow);
  // D's sunken edge, its client, and nothing past the parent's client area.
  EXPECT_EQ(p.At(81, 51), RGB(128, 128, 128));
  EXPECT_EQ(p.At(85, 60), kGreen);
  EXPECT_EQ(p.At(101, 60), RGB(0, 0, 0));  // the parent's border, not D
  // Nothing pending: a second picture paints nothing and is the same.
  log.clear();
  vkr::ui::Picture again;
  ASSERT_TRUE(vkr::ui::RenderWindow(top, &again));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(again.pixels, p.pixels);

  // Moving the children by ScrollWindow repaints them in their new places.
  ScrollWindow(top, 0, -5, nullptr, nullptr);
  EXPECT_EQ(vkr::ui::PixelAt(top, 12, 24), kRed);
  EXPECT_EQ(vkr::ui::PixelAt(top, 12, 28), kYellow);

  // A DC from GetDC has the System font, 16 high; it draws into the window's picture.
  HDC dc = GetDC(a);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(dc, &tm));
  EXPECT_EQ(tm.tmHeight, 16);
  EXPECT_EQ(tm.tmHeight / 3, 5);
  SetPixel(dc, 5, 5, kGreen);
  EXPECT_EQ(GetPixel(dc, 5, 5), kGreen);
  EXPECT_EQ(GetPixel(dc, 30, 5), CLR_INVALID);  // outside the client area
  ReleaseDC(a, dc);
  EXPECT_EQ(vkr::ui::PixelAt(top, 1 + 10 + 5, 1 + 5 + 5), kGreen);
  // A stale window gives no DC; a null one gives a DC that draws nothing.
  DestroyWindow(c);
  EXPECT_EQ(GetDC(c), nullptr);
  EXPECT_EQ(GetWindowDC(c), nullptr);
  HDC none = GetWindowDC(nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(Rectangle(none, 0, 0, 10, 10));
  ReleaseDC(nullptr, none);

  DestroyWindow(top);
  g_log = nullptr;
  EXPECT_EQ(vkr::ui::GdiObjectCounts(), baseline);
  EXPECT_FALSE(vkr::ui::RenderWindow(top, &p));
}

TEST(Render, APictureSavedAsPngReadsBackPixelForPixel) {
  // An odd width and every channel varying: a row or channel out of place shows.
  vkr::ui::Picture picture;
  picture.width = 37;
  picture.height = 5;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      picture.pixels.push_back(RGB(x * 7, y * 50, (x * 13 + y * 31) % 256));
  vkr::test::TempDir dir;
  const std::string path = dir.path() + "/p.png";
  ASSERT_TRUE(vkr::ui::SavePictureToPng(picture, path.c_str()));
  vkr::ui::Picture back;
  ASSERT_TRUE(vkr::ui::ReadPng(path.c_str(), &back));
  ASSERT_EQ(back.width, picture.width);
  ASSERT_EQ(back.height, picture.height);
  EXPECT_EQ(back.pixels, picture.pixels);
  EXPECT_FALSE(vkr::ui::SavePictureToPng(picture, (dir.path() + "/missing/p.png").c_str()));
}

}  // namespace

// GDI: exact pixels of the primitives, text metrics, the check-box glyphs, bitmaps and icons.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// A memory DC on a white bitmap of w x h.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  int w, h;
  Canvas(int width, int height) : w(width), h(height) {
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateCompatibleBitmap(dc, w, h);
    old = SelectObject(dc, bitmap);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  // '#' black, '.' white, 'o' any other colour.
  std::string Art() const {
    std::string s;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        COLORREF c = GetPixel(dc, x, y);
        s += c == RGB(0, 0, 0) ? '#' : c == RGB(255, 255, 255) ? '.' : 'o';
      }
      s += '\n';
    }
    return s;
  }
};

std::string Rows(std::initializer_list<const char*> rows) {
  std::string s;
  for (const char* r : rows) (s += r) += '\n';
  return s;
}

struct PrimitiveCase {
  const char* name;
  void (*draw)(HDC dc);
  std::string expected;
};

HPEN FocusPen() {
  LOGBRUSH lb{BS_SOLID, RGB(0, 0, 0), 0};
  return ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &lb, 0, nullptr);
}

TEST(GdiPrimitives, DrawExactPixels) {
  const std::vector<PrimitiveCase> cases = {
      {"FillRect covers left/top, leaves right/bottom",
       [](HDC dc) {
         RECT r{2, 1, 6, 4};
         FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
       },
       Rows({"..........", "..####....", "..####....", "..####....", "..........", ".........."})},
      {"FrameRect is one pixel inside the rectangle",
       [](HDC dc) {
         RECT r{1, 1, 7, 5};
         FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
       },
       Rows({"..........", ".######...", ".#....#...", ".#....#...", ".######...", ".........."})},
      {"Rectangle with NULL_BRUSH is an outline",
       [](HDC dc) {
         SelectObject(dc, GetStockObject(NULL_BRUSH));
         Rectangle(dc, 2, 0, 9, 5);
       },
       Rows({"..#######.", "..#.....#.", "..#.....#.", "..#.....#.", "..#######.", ".........."})},
      {"Rectangle fills with the brush inside the pen",
       [](HDC dc) {
         SelectObject(dc, GetStockObject(GRAY_BRUSH));
         Rectangle(dc, 0, 0, 5, 4);
       },
       Rows({"#####.....", "#ooo#.....", "#ooo#.....", "#####.....", "..........", ".........."})},
      {"Rectangle without a pen fills one pixel less",
       [](HDC dc) {
         SelectObject(dc, GetStockObject(NULL_PEN));
         SelectObject(dc, GetStockObject(BLACK_BRUSH));
         Rectangle(dc, 1, 1, 5, 4);
       },
       Rows({"..........", ".###......", ".###......", "..........", "..........", ".........."})},
      {"dotted focus frame: PS_ALTERNATE clockwise from the top-left, gaps left alone when transparent",
       [](HDC dc) {
         HPEN pen = FocusPen();
         HGDIOBJ old = SelectObject(dc, pen);
         SelectObject(dc, GetStockObject(NULL_BRUSH));
         SetBkMode(dc, TRANSPARENT);
         Rectangle(dc, 1, 0, 8, 5);
         SelectObject(dc, old);
         DeleteObject(pen);
       },
       Rows({".#.#.#.#..", "..........", ".#.....#..", "..........", ".#.#.#.#..", ".........."})},
      {"dotted focus frame in OPAQUE mode paints the gaps with the background colour",
       [](HDC dc) {
         HPEN pen = FocusPen();
         HGDIOBJ old = SelectObject(dc, pen);
         SelectObject(dc, GetStockObject(NULL_BRUSH));
         SetBkColor(dc, RGB(255, 0, 0));
         Rectangle(dc, 0, 0, 4, 3);
         SelectObject(dc, old);
         DeleteObject(pen);
       },
       Rows({"#o#o......", "o..#......", "#o#o......", "..........", "..........", ".........."})},
      {"LineTo leaves out the end point",
       [](HDC dc) {
         MoveToEx(dc, 0, 0, nullptr);
         LineTo(dc, 4, 4);
         LineTo(dc, 9, 4);
       },
       Rows({"#.........", ".#........", "..#.......", "...#......", "....#####.", ".........."})},
      {"Ellipse outline with NULL_BRUSH",
       [](HDC dc) {
         SelectObject(dc, GetStockObject(NULL_BRUSH));
         Ellipse(dc, 0, 0, 8, 6);
       },
       Rows({"..####....", ".#....#...", "#......#..", "#......#..", ".#....#...", "..####...."})},
      {"Chord: the half above the line from the right point to the left one",
       [](HDC dc) {
         SelectObject(dc, GetStockObject(BLACK_BRUSH));
         Chord(dc, 0, 0, 8, 6, 8, 3, 0, 3);
       },
       Rows({"..####....", ".######...", "########..", "..........", "..........", ".........."})},
      {"DrawFocusRect inverts every other pixel of the outline",
       [](HDC dc) {
         RECT r{0, 0, 5, 4};
         DrawFocusRect(dc, &r);
       },
       Rows({"#.#.#.....", "..........", "#...#.....", ".#.#......", "..........", ".........."})},
      {"SetPixel, and BitBlt and StretchBlt copy 1:1",
       [](HDC dc) {
         SetPixel(dc, 0, 0, RGB(0, 0, 0));
         SetPixel(dc, 1, 1, RGB(0, 0, 0));
         BitBlt(dc, 4, 0, 2, 2, dc, 0, 0, SRCCOPY);
         StretchBlt(dc, 7, 3, 2, 2, dc, 0, 0, 2, 2, SRCCOPY);
       },
       Rows({"#...#.....", ".#...#....", "..........", ".......#..", "........#.", ".........."})},
  };
  for (const auto& c : cases) {
    Canvas canvas(10, 6);
    c.draw(canvas.dc);
    EXPECT_EQ(canvas.Art(), c.expected) << c.name;
  }
}

TEST(GdiPrimitives, WindowsColoursAndStockObjects) {
  Canvas canvas(4, 4);
  RECT r{0, 0, 2, 2};
  // A brush may be a system colour index + 1; the palette can be changed by tests.
  FillRect(canvas.dc, &r, reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_BTNFACE + 1)));
  EXPECT_EQ(GetPixel(canvas.dc, 1, 1), RGB(212, 208, 200));
  vkr::ui::SetSysColorForTest(COLOR_BTNFACE, RGB(1, 2, 3));
  FillRect(canvas.dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(GetPixel(canvas.dc, 0, 0), RGB(1, 2, 3));
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(1, 2, 3));
  vkr::ui::ResetSysColorsForTest();
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), RGB(128, 128, 128));
  EXPECT_EQ(GetSystemMetrics(SM_CXEDGE), 2);
  EXPECT_EQ(GetSystemMetrics(SM_CXSIZEFRAME), 4);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16);
  BOOL full = FALSE;
  EXPECT_TRUE(SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full, 0));
  EXPECT_TRUE(full);
  // Pixels outside the bitmap and stale handles fail quietly.
  EXPECT_EQ(GetPixel(canvas.dc, 4, 0), CLR_INVALID);
  EXPECT_EQ(GetPixel(reinterpret_cast<HDC>(static_cast<UINT_PTR>(0x7FFFFFF0)), 0, 0), CLR_INVALID);
  // Stock objects survive DeleteObject; a bitmap in a DC is not deleted from under it.
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN)));
  EXPECT_NE(GetObjectType(GetStockObject(BLACK_PEN)), 0u);
  EXPECT_FALSE(DeleteObject(canvas.bitmap));
  // Absurd sizes fail or are clipped to the bitmap instead of exhausting memory or time.
  EXPECT_EQ(CreateBitmap(100000, 100000, 1, 32, nullptr), nullptr);
  EXPECT_TRUE(Ellipse(canvas.dc, -1000000000, -1000000000, 1000000000, 1000000000));
  EXPECT_TRUE(BitBlt(canvas.dc, -1000000000, -1000000000, 2000000000, 2000000000, canvas.dc, 0, 0, SRCCOPY));
  // SelectObject returns the object it replaces.
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(canvas.dc, pen);
  EXPECT_EQ(old, GetStockObject(BLACK_PEN));
  EXPECT_EQ(SelectObject(canvas.dc, old), pen);
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_FALSE(DeleteObject(pen));
}

TEST(GdiText, SystemFontIsSixteenHighAndExtentsAreFixed) {
  // Every new DC starts with the System font; the screen's DC draws nothing but measures.
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(screen, &tm));
  EXPECT_EQ(tm.tmHeight, 16);
  EXPECT_EQ(tm.tmAscent + tm.tmDescent, 16);
  SIZE sz{};
  ASSERT_TRUE(GetTextExtentPoint32A(screen, "Level 4.50 m", 12, &sz));
  EXPECT_EQ(sz.cy, 16);
  EXPECT_EQ(sz.cx, 86);
  ReleaseDC(nullptr, screen);

  struct FontCase {
    const char* face;
    int height;
    int weight;
    int tmHeight;
    int extent;  // of "Loading..."
  };
  const FontCase fonts[] = {
      {"MS Sans Serif", -11, FW_NORMAL, 13, 47},  // the dialog font, 8 pt
      {"Tahoma", 12, FW_NORMAL, 12, 47},
      {"Tahoma", 14, 600, 14, 63},
      {"Tahoma", 15, FW_NORMAL, 15, 61},
      {"Ms Sans Serif", 16, 0, 16, 61},
      {"Anything", 0, FW_NORMAL, 13, 47},
  };
  Canvas canvas(100, 20);
  for (const auto& f : fonts) {
    HFONT font = CreateFontA(f.height, 0, 0, 0, f.weight, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, f.face);
    HGDIOBJ old = SelectObject(canvas.dc, font);
    ASSERT_TRUE(GetTextMetricsA(canvas.dc, &tm));
    EXPECT_EQ(tm.tmHeight, f.tmHeight) << f.face << " " << f.height;
    ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc, "Loading...", 10, &sz));
    EXPECT_EQ(sz.cx, f.extent) << f.face << " " << f.height;
    EXPECT_EQ(sz.cy, f.tmHeight);
    LOGFONTA lf{};
    EXPECT_EQ(GetObjectA(font, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    EXPECT_STREQ(lf.lfFaceName, f.face);
    SelectObject(canvas.dc, old);
    DeleteObject(font);
  }
}

TEST(GdiText, TextInksInsideItsExtentAndDrawTextAligns) {
  Canvas canvas(80, 20);
  SelectObject(canvas.dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(canvas.dc, TRANSPARENT);
  SIZE sz{};
  GetTextExtentPoint32A(canvas.dc, "Hg\xC3\xA4", 4, &sz);  // UTF-8 "Hgä"
  TextOutA(canvas.dc, 3, 2, "Hg\xC3\xA4", 4);
  int minX = 99, maxX = -1, minY = 99, maxY = -1;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 80; ++x)
      if (GetPixel(canvas.dc, x, y) == RGB(0, 0, 0)) {
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  EXPECT_GE(minX, 3);
  EXPECT_LT(maxX, 3 + sz.cx);
  EXPECT_GE(minY, 2);
  EXPECT_LT(maxY, 2 + sz.cy);

  // DT_CALCRECT measures; DT_RIGHT and DT_CENTER place the same ink further right.
  RECT calc{0, 0, 0, 0};
  EXPECT_EQ(DrawTextA(canvas.dc, "&Save", -1, &calc, DT_CALCRECT | DT_SINGLELINE), 13);
  SIZE save{};
  GetTextExtentPoint32A(canvas.dc, "Save", 4, &save);
  EXPECT_EQ(calc.right, save.cx);
  RECT wide{0, 0, 60, 40};
  EXPECT_EQ(DrawTextA(canvas.dc, "one two three four", -1, &wide, DT_CALCRECT | DT_WORDBREAK), 26);
  EXPECT_LE(wide.right, 60);
}

TEST(GdiBitmaps, CheckBoxGlyphsAreTheFourByThreeGrid) {
  HBITMAP glyphs = LoadBitmapA(nullptr, MAKEINTRESOURCEA(OBM_CHECKBOXES));
  ASSERT_NE(glyphs, nullptr);
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(glyphs, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  const int w = bm.bmWidth / 4, h = bm.bmHeight / 3;
  EXPECT_EQ(w, 13);
  EXPECT_EQ(h, 13);
  vkr::ui::Picture p;
  ASSERT_TRUE(vkr::ui::BitmapPicture(glyphs, &p));
  const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
  auto count = [&](int col, int row, COLORREF c) {
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) n += p.At(col * w + x, row * h + y) == c;
    return n;
  };
  // The key colour at (0, h) is the colour of the box interiors and the radio's corners.
  EXPECT_EQ(p.At(0, h), white);
  EXPECT_EQ(p.At(w / 2, h / 2), white);           // unchecked box interior
  EXPECT_EQ(p.At(w + w / 2, h + h / 2), black);   // the checked radio's dot
  EXPECT_EQ(p.At(w / 2, h + h / 2), white);       // the unchecked radio's interior
  // Marks are the only black pixels: none in the unchecked cells, some in the checked ones.
  EXPECT_EQ(count(0, 0, black), 0);
  EXPECT_EQ(count(0, 1, black), 0);
  EXPECT_GT(count(1, 0, black), 10);
  EXPECT_GT(count(1, 1, black), 8);
  // The indeterminate box (2w, 2h): a dotted mark, black and white.
  EXPECT_GT(count(2, 2, black), 4);
  EXPECT_LT(count(2, 2, black), count(1, 0, black));
  // The overlays: the pushed box (2w, 0) and the radio highlight (0, 2h) are white only where the
  // frame is lit (the bottom-right edge), so copying their white pixels restores the highlight.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool lit = x == w - 1 || y == h - 1;
      EXPECT_EQ(p.At(2 * w + x, y) == white, lit) << x << "," << y;
    }
  EXPECT_EQ(p.At(0, 2 * h), black);
  EXPECT_GT(count(0, 2, white), 6);
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) EXPECT_NE(p.At(x, 2 * h + y), white) << "no light at the top left";
  DeleteObject(glyphs);
}

}  // namespace

namespace {

std::vector<BYTE> ReadSourceFile(const std::string& relative) {
  std::ifstream f(std::string(VKR_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The module's lamp and status icons, registered as the resources of a module of their own.
struct ModuleImages {
  const HMODULE module = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x7A5000));
  std::vector<std::vector<BYTE>> files;
  std::vector<vkr::platform::ResourceItem> items;
  ModuleImages() {
    const std::pair<WORD, const char*> icons[] = {{664, "status664"}, {667, "status667"}, {671, "status671"},
                                                  {673, "status673"}, {669, "status669"}};
    files.push_back(ReadSourceFile("resources/bitmaps/LampRed.bmp"));
    for (const auto& [id, name] : icons) files.push_back(ReadSourceFile(std::string("resources/icons/") + name + ".ico"));
    items.push_back({RT_BITMAP_ID, nullptr, 190, files[0].data(), static_cast<DWORD>(files[0].size())});
    for (std::size_t i = 0; i < 5; ++i)
      items.push_back({RT_ICON_ID, nullptr, icons[i].first, files[i + 1].data(), static_cast<DWORD>(files[i + 1].size())});
    vkr::platform::RegisterResources(module, vkr::platform::ResourceTable{items.data(), items.size(), nullptr, 0});
  }
  ~ModuleImages() { vkr::platform::UnregisterResources(module); }
};

TEST(GdiBitmaps, ResourcesFilesAndTheFiveStatusIconsLoadAndFree) {
  ModuleImages images;
  const HMODULE module = images.module;
  const vkr::ui::GdiCounts baseline = vkr::ui::GdiObjectCounts();
  HBITMAP lamp = LoadBitmapA(module, MAKEINTRESOURCEA(190));
  ASSERT_NE(lamp, nullptr);
  BITMAP bm{};
  ASSERT_TRUE(GetObjectA(lamp, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmWidth, 16);
  EXPECT_EQ(bm.bmHeight, 16);
  vkr::ui::Picture lampPicture;
  ASSERT_TRUE(vkr::ui::BitmapPicture(lamp, &lampPicture));
  EXPECT_EQ(lampPicture.At(8, 8), RGB(255, 0, 0));  // bottom-up rows read the right way round
  EXPECT_EQ(lampPicture.At(0, 0), RGB(212, 208, 200));
  // The same file from disk.
  std::string path = std::string(VKR_SOURCE_DIR) + "/resources/bitmaps/LampRed.bmp";
  auto fromFile = static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  ASSERT_NE(fromFile, nullptr);
  vkr::ui::Picture filePicture;
  ASSERT_TRUE(vkr::ui::BitmapPicture(fromFile, &filePicture));
  EXPECT_EQ(filePicture.pixels, lampPicture.pixels);
  EXPECT_EQ(LoadImageA(nullptr, "/no/such/file.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
  EXPECT_EQ(LoadBitmapA(module, MAKEINTRESOURCEA(4711)), nullptr);

  // The status icons 0 to 4: 16 x 16, transparent corners, five different colours.
  const WORD ids[] = {664, 667, 671, 673, 669};
  std::vector<COLORREF> centres;
  auto canvas = std::make_unique<Canvas>(16 * 5, 16);
  for (int i = 0; i < 5; ++i) {
    HICON icon = LoadIconA(module, MAKEINTRESOURCEA(ids[i]));
    ASSERT_NE(icon, nullptr) << ids[i];
    EXPECT_TRUE(DrawIcon(canvas->dc, 16 * i, 0, icon));
    centres.push_back(GetPixel(canvas->dc, 16 * i + 8, 8));
    EXPECT_EQ(GetPixel(canvas->dc, 16 * i, 0), RGB(255, 255, 255)) << "transparent corner of " << ids[i];
    EXPECT_TRUE(DestroyIcon(icon));
  }
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) EXPECT_NE(centres[i], centres[j]) << ids[i] << " and " << ids[j];
  EXPECT_EQ(centres[4], RGB(255, 0, 0));  // invalid: red

  canvas.reset();
  DeleteObject(lamp);
  DeleteObject(fromFile);
  EXPECT_EQ(vkr::ui::GdiObjectCounts(), baseline);
}

}  // namespace

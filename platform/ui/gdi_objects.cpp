// GDI objects: rasters, handles and their counts, stock objects, pens, brushes, fonts, bitmaps,
// memory DCs, selection and deletion; the system colours and metrics.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>

#include "platform/ui/gdi_internal.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/text.h"

namespace vkr::ui::detail {

// ---- Surface ---------------------------------------------------------------------------------

Surface::Surface(int width, int height, bool alpha)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), alpha_(alpha) {
  surface_ = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, std::max(width_, 1),
                                        std::max(height_, 1));
  if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    // Out of memory or too large: an empty raster that draws nothing.
    cairo_surface_destroy(surface_);
    width_ = height_ = 0;
    surface_ = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, 1, 1);
  }
  data_ = cairo_image_surface_get_data(surface_);
  stride_ = cairo_image_surface_get_stride(surface_);
  // Cairo starts an image with every channel 0, which is transparent black already; an opaque
  // picture is made black.
  if (!alpha) Clear(0xFF000000u);
}

Surface::~Surface() { cairo_surface_destroy(surface_); }

std::uint32_t* Surface::Row(int y) { return reinterpret_cast<std::uint32_t*>(data_ + static_cast<std::ptrdiff_t>(y) * stride_); }

namespace {

// A run of one colour: the C library's wide fill (wchar_t is 32 bits here) is vectorised, where a
// plain loop at -O2 is not, and fills are most of what painting a page costs.
static_assert(sizeof(wchar_t) == sizeof(std::uint32_t));
void FillRun(std::uint32_t* from, std::uint32_t* to, std::uint32_t argb) {
  if (to > from) std::wmemset(reinterpret_cast<wchar_t*>(from), static_cast<wchar_t>(argb), static_cast<std::size_t>(to - from));
}

}  // namespace

std::uint32_t Surface::Get(int x, int y) {
  if (!Contains(x, y)) return 0;
  return Row(y)[x];
}

void Surface::Put(int x, int y, std::uint32_t argb) {
  if (Contains(x, y)) Row(y)[x] = argb;
}

void Surface::Clear(std::uint32_t argb) {
  cairo_surface_flush(surface_);
  for (int y = 0; y < std::max(height_, 1); ++y) {
    std::uint32_t* r = Row(y);
    FillRun(r, r + std::max(width_, 1), argb);
  }
  cairo_surface_mark_dirty(surface_);
}

void Surface::CopyFrom(Surface& other) {
  int w = std::min(width_, other.width_), h = std::min(height_, other.height_);
  for (int y = 0; y < h; ++y) std::memcpy(Row(y), other.Row(y), static_cast<std::size_t>(w) * 4);
  MarkDirty();
}

// ---- System colours ------------------------------------------------------------------------------

namespace {

// The classic Windows palette ("Windows Standard").
constexpr std::array<COLORREF, 31> kClassicColors = {
    RGB(212, 208, 200),  // COLOR_SCROLLBAR
    RGB(58, 110, 165),   // COLOR_BACKGROUND
    RGB(10, 36, 106),    // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(212, 208, 200),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(212, 208, 200),  // COLOR_ACTIVEBORDER
    RGB(212, 208, 200),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(10, 36, 106),    // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(212, 208, 200),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(212, 208, 200),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(64, 64, 64),     // COLOR_3DDKSHADOW
    RGB(212, 208, 200),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(181, 181, 181),  // 25 (unused)
    RGB(0, 0, 128),      // COLOR_HOTLIGHT
    RGB(166, 202, 240),  // COLOR_GRADIENTACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_GRADIENTINACTIVECAPTION
    RGB(10, 36, 106),    // COLOR_MENUHILIGHT
    RGB(212, 208, 200),  // COLOR_MENUBAR
};

std::array<std::atomic<COLORREF>, 31>& Palette() {
  static auto* p = [] {
    auto* a = new std::array<std::atomic<COLORREF>, 31>;
    for (std::size_t i = 0; i < a->size(); ++i) (*a)[i] = kClassicColors[i];
    return a;
  }();
  return *p;
}

}  // namespace

COLORREF Brush::Color() const {
  if (sysColor >= 0) return GetSysColor(sysColor);
  return color;
}

// ---- Handles ---------------------------------------------------------------------------------

namespace {

std::array<std::atomic<int>, 6>& Counts() {
  static std::array<std::atomic<int>, 6> counts{};
  return counts;
}

void Count(const GdiObject& o, int delta) {
  if (!o.stock) Counts()[static_cast<std::size_t>(o.type)] += delta;
}

}  // namespace

HGDIOBJ InsertObject(std::shared_ptr<GdiObject> object) {
  GdiObject& o = *object;
  HANDLE h = platform::InsertHandleObject(object);
  if (!h) return nullptr;
  o.handle = h;
  Count(o, +1);
  return h;
}

std::shared_ptr<GdiObject> LookupObject(HGDIOBJ handle) {
  if (!handle) return nullptr;
  return platform::LookupHandleAs<GdiObject>(handle, platform::HandleKind::Gdi);
}

bool RemoveObject(HGDIOBJ handle) {
  auto o = platform::RemoveHandleObject(handle, platform::HandleKind::Gdi);
  if (!o) return false;
  Count(static_cast<GdiObject&>(*o), -1);
  return true;
}

std::shared_ptr<Dc> LookupDc(HDC hdc) { return Lookup<Dc>(hdc, GdiType::Dc); }

std::shared_ptr<Brush> BrushArg(HBRUSH brush) {
  auto v = reinterpret_cast<std::uintptr_t>(brush);
  if (v >= 1 && v <= 31) {
    auto b = std::make_shared<Brush>();
    b->sysColor = static_cast<int>(v - 1);
    return b;
  }
  return Lookup<Brush>(brush, GdiType::Brush);
}

// ---- Stock objects -------------------------------------------------------------------------------

const BuiltinFace* ChooseFace(LONG lfHeight, LONG lfWeight) {
  int cell = 13;
  if (lfHeight > 0) cell = lfHeight;
  if (lfHeight < 0) cell = static_cast<int>(std::min<long long>((6 * -static_cast<long long>(lfHeight) + 2) / 5, 1000));
  bool bold = lfWeight >= FW_SEMIBOLD;
  std::size_t n = 0;
  const BuiltinFace* faces = BuiltinFaces(&n);
  const BuiltinFace* best = nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    if (faces[i].bold != bold) continue;
    if (!best || std::abs(faces[i].height - cell) < std::abs(best->height - cell)) best = &faces[i];
  }
  return best;
}

namespace {

struct Stock {
  std::vector<std::shared_ptr<GdiObject>> objects;  // by stock index
  std::array<std::shared_ptr<Brush>, 31> sysBrushes;
  std::shared_ptr<Bitmap> defaultBitmap;
};

template <class T>
std::shared_ptr<T> AddStock(std::shared_ptr<T> o) {
  o->stock = true;
  InsertObject(o);
  return o;
}

std::shared_ptr<Brush> SolidStockBrush(COLORREF c, UINT style = BS_SOLID) {
  auto b = std::make_shared<Brush>();
  b->color = c;
  b->style = style;
  return AddStock(b);
}

std::shared_ptr<Pen> StockPenOf(COLORREF c, DWORD style) {
  auto p = std::make_shared<Pen>();
  p->color = c;
  p->style = style;
  return AddStock(p);
}

std::shared_ptr<Font> StockFontOf(const char16_t* face, LONG height, LONG weight, BYTE pitch) {
  auto f = std::make_shared<Font>();
  f->log.lfHeight = height;
  f->log.lfWeight = weight;
  f->log.lfPitchAndFamily = pitch;
  for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) f->log.lfFaceName[i] = face[i];
  f->face = ChooseFace(height, weight);
  return AddStock(f);
}

Stock& TheStock() {
  static Stock* s = [] {
    auto* st = new Stock;
    st->objects.resize(20);
    st->objects[WHITE_BRUSH] = SolidStockBrush(RGB(255, 255, 255));
    st->objects[LTGRAY_BRUSH] = SolidStockBrush(RGB(192, 192, 192));
    st->objects[GRAY_BRUSH] = SolidStockBrush(RGB(128, 128, 128));
    st->objects[DKGRAY_BRUSH] = SolidStockBrush(RGB(64, 64, 64));
    st->objects[BLACK_BRUSH] = SolidStockBrush(RGB(0, 0, 0));
    st->objects[NULL_BRUSH] = SolidStockBrush(0, BS_NULL);
    st->objects[WHITE_PEN] = StockPenOf(RGB(255, 255, 255), PS_SOLID);
    st->objects[BLACK_PEN] = StockPenOf(RGB(0, 0, 0), PS_SOLID);
    st->objects[NULL_PEN] = StockPenOf(0, PS_NULL);
    auto system = StockFontOf(u"System", 16, FW_BOLD, VARIABLE_PITCH | FF_SWISS);
    auto gui = StockFontOf(u"MS Shell Dlg", -11, FW_NORMAL, VARIABLE_PITCH | FF_SWISS);
    auto fixed = StockFontOf(u"Fixedsys", 16, FW_NORMAL, FIXED_PITCH);
    st->objects[OEM_FIXED_FONT] = fixed;
    st->objects[ANSI_FIXED_FONT] = fixed;
    st->objects[ANSI_VAR_FONT] = StockFontOf(u"MS Sans Serif", -11, FW_NORMAL, VARIABLE_PITCH | FF_SWISS);
    st->objects[SYSTEM_FONT] = system;
    st->objects[DEVICE_DEFAULT_FONT] = system;
    st->objects[SYSTEM_FIXED_FONT] = fixed;
    st->objects[DEFAULT_GUI_FONT] = gui;
    for (int i = 0; i < 31; ++i) {
      auto b = std::make_shared<Brush>();
      b->sysColor = i;
      st->sysBrushes[static_cast<std::size_t>(i)] = AddStock(b);
    }
    auto bm = std::make_shared<Bitmap>();
    bm->surface = std::make_shared<Surface>(1, 1, false);
    bm->bitsPerPixel = 1;
    st->defaultBitmap = AddStock(bm);
    return st;
  }();
  return *s;
}

}  // namespace

std::shared_ptr<Pen> StockPen(int index) { return std::static_pointer_cast<Pen>(TheStock().objects[index]); }
std::shared_ptr<Brush> StockBrush(int index) { return std::static_pointer_cast<Brush>(TheStock().objects[index]); }
std::shared_ptr<Font> StockFont(int index) { return std::static_pointer_cast<Font>(TheStock().objects[index]); }
std::shared_ptr<Bitmap> DefaultBitmap() { return TheStock().defaultBitmap; }

// ---- DCs -------------------------------------------------------------------------------------

Surface* Dc::Target() const {
  if (kind == DcKind::Memory) return st.bitmap ? st.bitmap->surface.get() : nullptr;
  return windowSurface.get();
}

RECT Dc::DrawClip() const {
  Surface* s = Target();
  if (!s) return RECT{0, 0, 0, 0};
  RECT r{0, 0, s->Width(), s->Height()};
  auto meet = [&r](const RECT& o) {
    r.left = std::max(r.left, o.left);
    r.top = std::max(r.top, o.top);
    r.right = std::min(r.right, o.right);
    r.bottom = std::min(r.bottom, o.bottom);
  };
  if (kind != DcKind::Memory) meet(limit);
  if (st.hasClip) meet(st.clip);
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

std::shared_ptr<Dc> NewDc(DcKind kind) {
  auto dc = std::make_shared<Dc>();
  dc->kind = kind;
  dc->st.pen = StockPen(BLACK_PEN);
  dc->st.brush = StockBrush(WHITE_BRUSH);
  dc->st.font = StockFont(SYSTEM_FONT);
  if (kind == DcKind::Memory) dc->st.bitmap = DefaultBitmap();
  return dc;
}

HDC InsertDc(std::shared_ptr<Dc> dc) { return static_cast<HDC>(InsertObject(std::move(dc))); }

namespace {
void ReleaseSelections(Dc& dc) {
  if (dc.st.bitmap && !dc.st.bitmap->stock) --dc.st.bitmap->selectedIn;
  for (auto& s : dc.saved)
    if (s.bitmap && !s.bitmap->stock) --s.bitmap->selectedIn;
  dc.saved.clear();
  dc.st = DcState{};
}
}  // namespace

void RemoveDc(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return;
  ReleaseSelections(*dc);
  RemoveObject(hdc);
}

void FillSurfaceRect(Dc& dc, const RECT& logical, COLORREF color) {
  Surface* s = dc.Target();
  if (!s) return;
  POINT a = dc.ToSurface(logical.left, logical.top), b = dc.ToSurface(logical.right, logical.bottom);
  RECT c = dc.DrawClip();
  int x0 = std::max<int>(a.x, c.left), x1 = std::min<int>(b.x, c.right);
  int y0 = std::max<int>(a.y, c.top), y1 = std::min<int>(b.y, c.bottom);
  if (x0 >= x1 || y0 >= y1) return;
  s->Flush();
  std::uint32_t argb = ArgbOf(color);
  for (int y = y0; y < y1; ++y) FillRun(s->Row(y) + x0, s->Row(y) + x1, argb);
  s->MarkDirty();
}

void PutPixel(Dc& dc, int x, int y, COLORREF color) {
  Surface* s = dc.Target();
  if (!s) return;
  POINT p = dc.ToSurface(x, y);
  RECT c = dc.DrawClip();
  if (p.x < c.left || p.y < c.top || p.x >= c.right || p.y >= c.bottom) return;
  s->Row(p.y)[p.x] = ArgbOf(color);
}

}  // namespace vkr::ui::detail

using namespace vkr::ui::detail;

namespace vkr::ui {

GdiCounts GdiObjectCounts() {
  auto& c = Counts();
  GdiCounts r;
  r.dcs = c[static_cast<std::size_t>(GdiType::Dc)];
  r.pens = c[static_cast<std::size_t>(GdiType::Pen)];
  r.brushes = c[static_cast<std::size_t>(GdiType::Brush)];
  r.fonts = c[static_cast<std::size_t>(GdiType::Font)];
  r.bitmaps = c[static_cast<std::size_t>(GdiType::Bitmap)];
  r.icons = c[static_cast<std::size_t>(GdiType::Icon)];
  return r;
}

void SetSysColorForTest(int index, COLORREF color) {
  if (index >= 0 && index < 31) Palette()[static_cast<std::size_t>(index)] = color;
}

void ResetSysColorsForTest() {
  for (std::size_t i = 0; i < kClassicColors.size(); ++i) Palette()[i] = kClassicColors[i];
}

}  // namespace vkr::ui

// ---- The Windows calls -------------------------------------------------------------------------

DWORD GetSysColor(int index) {
  if (index < 0 || index >= 31) return 0;
  return Palette()[static_cast<std::size_t>(index)];
}

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index >= 31) return nullptr;
  return static_cast<HBRUSH>(TheStock().sysBrushes[static_cast<std::size_t>(index)]->handle);
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CXVIRTUALSCREEN: return 1024;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: return 768;
    case SM_CYFULLSCREEN: return 768 - 18 - 30;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CYSMCAPTION: return 15;
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CYMENU: return 19;
    case SM_CXMIN: return 112;
    case SM_CYMIN: return 27;
    case SM_CXSIZE:
    case SM_CYSIZE: return 18;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return 4;
    case SM_CMONITORS: return 1;
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT param, PVOID value, UINT winIni) {
  return SystemParametersInfoW(action, param, value, winIni);
}

BOOL SystemParametersInfoW(UINT action, UINT, PVOID value, UINT) {
  if (action == SPI_GETDRAGFULLWINDOWS && value) {
    *static_cast<BOOL*>(value) = TRUE;
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

HGDIOBJ GetStockObject(int index) {
  auto& objects = TheStock().objects;
  if (index < 0 || index >= static_cast<int>(objects.size()) || !objects[static_cast<std::size_t>(index)])
    return nullptr;
  return objects[static_cast<std::size_t>(index)]->handle;
}

DWORD GetObjectType(HGDIOBJ object) {
  auto o = LookupObject(object);
  if (!o) return 0;
  switch (o->type) {
    case GdiType::Dc: return static_cast<Dc&>(*o).kind == DcKind::Memory ? OBJ_MEMDC : OBJ_DC;
    case GdiType::Pen: return static_cast<Pen&>(*o).extended ? OBJ_EXTPEN : OBJ_PEN;
    case GdiType::Brush: return OBJ_BRUSH;
    case GdiType::Font: return OBJ_FONT;
    case GdiType::Bitmap: return OBJ_BITMAP;
    case GdiType::Icon: return 0;
  }
  return 0;
}

HPEN CreatePen(int style, int width, COLORREF color) {
  auto p = std::make_shared<Pen>();
  p->style = static_cast<DWORD>(style);
  if (p->Style() > PS_INSIDEFRAME) p->style = PS_SOLID;
  p->width = std::max(width, 1);
  p->color = color;
  return static_cast<HPEN>(InsertObject(p));
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD, const DWORD*) {
  if (!brush || ((style & PS_TYPE_MASK) == PS_COSMETIC && width != 1) ||
      ((style & PS_STYLE_MASK) == PS_ALTERNATE && (style & PS_TYPE_MASK) != PS_COSMETIC)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto p = std::make_shared<Pen>();
  p->style = style;
  p->width = static_cast<int>(std::max<DWORD>(width, 1));
  p->color = brush->lbStyle == BS_NULL ? 0 : brush->lbColor;
  if (brush->lbStyle == BS_NULL) p->style = (style & ~PS_STYLE_MASK) | PS_NULL;
  p->extended = true;
  return static_cast<HPEN>(InsertObject(p));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto b = std::make_shared<Brush>();
  b->color = color;
  return static_cast<HBRUSH>(InsertObject(b));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (!brush || (brush->lbStyle != BS_SOLID && brush->lbStyle != BS_NULL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto b = std::make_shared<Brush>();
  b->style = brush->lbStyle;
  b->color = brush->lbColor;
  return static_cast<HBRUSH>(InsertObject(b));
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
  if (!font) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto f = std::make_shared<Font>();
  f->log = *font;
  f->log.lfFaceName[LF_FACESIZE - 1] = 0;
  f->face = ChooseFace(font->lfHeight, font->lfWeight);
  return static_cast<HFONT>(InsertObject(f));
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  if (!font) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LOGFONTW w{};
  std::memcpy(&w, font, offsetof(LOGFONTA, lfFaceName));
  std::u16string face = vkr::Utf8ToUtf16(std::string_view(font->lfFaceName, strnlen(font->lfFaceName, LF_FACESIZE)));
  for (std::size_t i = 0; i < face.size() && i < LF_FACESIZE - 1; ++i) w.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&w);
}

namespace {
LOGFONTW MakeLogFont(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                     DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                     DWORD quality, DWORD pitchAndFamily) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic);
  lf.lfUnderline = static_cast<BYTE>(underline);
  lf.lfStrikeOut = static_cast<BYTE>(strikeOut);
  lf.lfCharSet = static_cast<BYTE>(charSet);
  lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
  lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  return lf;
}
}  // namespace

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR face) {
  LOGFONTW lf = MakeLogFont(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                            outPrecision, clipPrecision, quality, pitchAndFamily);
  for (int i = 0; face && face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&lf);
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCSTR face) {
  std::u16string w = vkr::Utf8ToUtf16(face ? face : "");
  return CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                     outPrecision, clipPrecision, quality, pitchAndFamily, w.c_str());
}

HBITMAP CreateBitmap(int width, int height, UINT, UINT bitsPerPixel, const void* bits) {
  if (width < 0 || height < 0 || width > 16384 || height > 16384 ||
      static_cast<long long>(width) * height > 64LL * 1024 * 1024) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto b = std::make_shared<Bitmap>();
  b->surface = std::make_shared<Surface>(width, height, false);
  b->bitsPerPixel = bitsPerPixel == 1 ? 1 : 32;
  if (bits && bitsPerPixel == 32) {
    const auto* p = static_cast<const std::uint32_t*>(bits);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) b->surface->Put(x, y, 0xFF000000u | p[y * width + x]);
    b->surface->MarkDirty();
  } else if (bits && bitsPerPixel == 1) {
    const auto* p = static_cast<const BYTE*>(bits);
    int stride = ((width + 15) / 16) * 2;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        b->surface->Put(x, y, (p[y * stride + x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFFFFu : 0xFF000000u);
    b->surface->MarkDirty();
  }
  return static_cast<HBITMAP>(InsertObject(b));
}

// Always a colour bitmap, even for a fresh memory DC (Windows would make it monochrome): no
// caller here wants a monochrome one.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  if (!LookupDc(hdc)) return nullptr;
  return CreateBitmap(width, height, 1, 32, nullptr);
}

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc && !LookupDc(hdc)) return nullptr;
  return InsertDc(NewDc(DcKind::Memory));
}

BOOL DeleteDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  // A window DC goes back with ReleaseDC or EndPaint; Windows lets DeleteDC free it too.
  RemoveDc(hdc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  auto dc = LookupDc(hdc);
  auto o = LookupObject(object);
  if (!dc || !o) return nullptr;
  DcState& s = dc->st;
  HGDIOBJ old = nullptr;
  switch (o->type) {
    case GdiType::Pen:
      old = s.pen->handle;
      s.pen = std::static_pointer_cast<Pen>(o);
      return old;
    case GdiType::Brush:
      old = s.brush->handle;
      s.brush = std::static_pointer_cast<Brush>(o);
      return old;
    case GdiType::Font:
      old = s.font->handle;
      s.font = std::static_pointer_cast<Font>(o);
      return old;
    case GdiType::Bitmap: {
      auto bm = std::static_pointer_cast<Bitmap>(o);
      if (dc->kind != DcKind::Memory) return nullptr;
      if (bm == s.bitmap) return object;
      if (!bm->stock && bm->selectedIn > 0) return nullptr;
      old = s.bitmap->handle;
      if (!s.bitmap->stock) --s.bitmap->selectedIn;
      s.bitmap = bm;
      if (!bm->stock) ++bm->selectedIn;
      return old;
    }
    default:
      return nullptr;
  }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  auto dc = LookupDc(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_PEN: return dc->st.pen->handle;
    case OBJ_BRUSH: return dc->st.brush->handle;
    case OBJ_FONT: return dc->st.font->handle;
    case OBJ_BITMAP: return dc->st.bitmap ? dc->st.bitmap->handle : nullptr;
    default: return nullptr;
  }
}

BOOL DeleteObject(HGDIOBJ object) {
  auto o = LookupObject(object);
  if (!o || o->type == GdiType::Dc || o->type == GdiType::Icon) return FALSE;
  if (o->stock) return TRUE;
  // A bitmap in a DC stays until it is selected out; pens, brushes and fonts stay alive for the
  // DC that holds them, so drawing never touches freed memory.
  if (o->type == GdiType::Bitmap && static_cast<Bitmap&>(*o).selectedIn > 0) return FALSE;
  return RemoveObject(object) ? TRUE : FALSE;
}

int SaveDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->st);
  if (dc->st.bitmap && !dc->st.bitmap->stock) ++dc->st.bitmap->selectedIn;
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int savedDc) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int level = savedDc < 0 ? n + savedDc + 1 : savedDc;
  if (level < 1 || level > n) return FALSE;
  while (static_cast<int>(dc->saved.size()) >= level) {
    if (dc->st.bitmap && !dc->st.bitmap->stock) --dc->st.bitmap->selectedIn;
    dc->st = dc->saved.back();
    dc->saved.pop_back();
  }
  return TRUE;
}

namespace {

template <class LF>
int FontObject(const Font& f, int size, LPVOID out, bool wide) {
  if (!out) return static_cast<int>(sizeof(LF));
  if (size < static_cast<int>(sizeof(LF))) return 0;
  if (wide) {
    std::memcpy(out, &f.log, sizeof(LOGFONTW));
  } else {
    LOGFONTA a{};
    std::memcpy(&a, &f.log, offsetof(LOGFONTW, lfFaceName));
    std::string face = vkr::Utf16ToUtf8(vkr::View(f.log.lfFaceName));
    std::strncpy(a.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    std::memcpy(out, &a, sizeof(LOGFONTA));
  }
  return static_cast<int>(sizeof(LF));
}

int GetObjectImpl(HANDLE object, int size, LPVOID out, bool wide) {
  auto o = LookupObject(object);
  if (!o) return 0;
  switch (o->type) {
    case GdiType::Bitmap: {
      auto& b = static_cast<Bitmap&>(*o);
      if (!out) return static_cast<int>(sizeof(BITMAP));
      if (size < static_cast<int>(sizeof(BITMAP))) return 0;
      BITMAP bm{};
      bm.bmWidth = b.surface->Width();
      bm.bmHeight = b.surface->Height();
      bm.bmPlanes = 1;
      bm.bmBitsPixel = static_cast<WORD>(b.bitsPerPixel);
      bm.bmWidthBytes = ((bm.bmWidth * bm.bmBitsPixel + 15) / 16) * 2;
      std::memcpy(out, &bm, sizeof(bm));
      return static_cast<int>(sizeof(BITMAP));
    }
    case GdiType::Pen: {
      auto& p = static_cast<Pen&>(*o);
      if (!out) return static_cast<int>(sizeof(LOGPEN));
      if (size < static_cast<int>(sizeof(LOGPEN))) return 0;
      LOGPEN lp{p.style, POINT{p.width, 0}, p.color};
      std::memcpy(out, &lp, sizeof(lp));
      return static_cast<int>(sizeof(LOGPEN));
    }
    case GdiType::Brush: {
      auto& b = static_cast<Brush&>(*o);
      if (!out) return static_cast<int>(sizeof(LOGBRUSH));
      if (size < static_cast<int>(sizeof(LOGBRUSH))) return 0;
      LOGBRUSH lb{b.style, b.Color(), 0};
      std::memcpy(out, &lb, sizeof(lb));
      return static_cast<int>(sizeof(LOGBRUSH));
    }
    case GdiType::Font:
      return wide ? FontObject<LOGFONTW>(static_cast<Font&>(*o), size, out, true)
                  : FontObject<LOGFONTA>(static_cast<Font&>(*o), size, out, false);
    default:
      return 0;
  }
}

}  // namespace

int GetObjectA(HANDLE object, int size, LPVOID out) { return GetObjectImpl(object, size, out, false); }
int GetObjectW(HANDLE object, int size, LPVOID out) { return GetObjectImpl(object, size, out, true); }

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  auto dc = LookupDc(hdc);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->st.bk, color);
}
COLORREF GetBkColor(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->st.bk : CLR_INVALID;
}
COLORREF SetTextColor(HDC hdc, COLORREF color) {
  auto dc = LookupDc(hdc);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->st.text, color);
}
COLORREF GetTextColor(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->st.text : CLR_INVALID;
}
int SetBkMode(HDC hdc, int mode) {
  auto dc = LookupDc(hdc);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  return std::exchange(dc->st.bkMode, mode);
}
int GetBkMode(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->st.bkMode : 0;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;  // ERROR
  POINT a = dc->ToSurface(left, top), b = dc->ToSurface(right, bottom);
  RECT r{a.x, a.y, b.x, b.y};
  if (dc->st.hasClip) {
    r.left = std::max(r.left, dc->st.clip.left);
    r.top = std::max(r.top, dc->st.clip.top);
    r.right = std::min(r.right, dc->st.clip.right);
    r.bottom = std::min(r.bottom, dc->st.clip.bottom);
  }
  dc->st.clip = r;
  dc->st.hasClip = true;
  return (r.right > r.left && r.bottom > r.top) ? 2 : 1;  // SIMPLEREGION : NULLREGION
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->st.viewport;
  dc->st.viewport = POINT{x, y};
  return TRUE;
}

BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, LPPOINT old) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->st.viewport;
  dc->st.viewport.x += dx;
  dc->st.viewport.y += dy;
  return TRUE;
}

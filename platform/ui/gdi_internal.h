// GDI's objects and rasters (internal to platform/ui; the only place besides the .cpp files that
// sees cairo).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/gdi.h"
#include "platform/ui/gdi_font.h"
#include "platform/win/handles.h"

namespace vkr::ui::detail {

// A raster: a cairo image surface, 32 bits a pixel. Window pictures keep an alpha channel (a
// window that paints nothing shows what lies beneath); bitmaps are opaque.
class Surface {
 public:
  Surface(int width, int height, bool alpha);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool HasAlpha() const { return alpha_; }
  cairo_surface_t* Cairo() const { return surface_; }
  // The pixel as 0xAARRGGBB (premultiplied; every pixel GDI writes is opaque).
  std::uint32_t* Row(int y);
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  std::uint32_t Get(int x, int y);
  void Put(int x, int y, std::uint32_t argb);
  // Copies the overlapping part of another surface to (x, y), keeping its size.
  void CopyFrom(Surface& other);
  void Clear(std::uint32_t argb);
  // Call after writing through Row()/Put(), before cairo reads the surface.
  void MarkDirty() { cairo_surface_mark_dirty(surface_); }
  void Flush() { cairo_surface_flush(surface_); }

 private:
  int width_;
  int height_;
  bool alpha_;
  cairo_surface_t* surface_;
  unsigned char* data_;
  int stride_;
};

inline std::uint32_t ArgbOf(COLORREF c) {
  return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
         (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}
inline COLORREF ColorOf(std::uint32_t argb) {
  return RGB(static_cast<BYTE>((argb >> 16) & 0xFF), static_cast<BYTE>((argb >> 8) & 0xFF),
             static_cast<BYTE>(argb & 0xFF));
}

enum class GdiType { Dc, Pen, Brush, Font, Bitmap, Icon };

struct GdiObject : platform::HandleObject {
  explicit GdiObject(GdiType t) : type(t) {}
  platform::HandleKind Kind() const override { return platform::HandleKind::Gdi; }
  GdiType type;
  HGDIOBJ handle = nullptr;
  bool stock = false;  // stock objects and system-colour brushes: never deleted, never counted
};

struct Pen : GdiObject {
  Pen() : GdiObject(GdiType::Pen) {}
  DWORD style = PS_SOLID;  // the whole style word (type, style)
  int width = 1;
  COLORREF color = 0;
  bool extended = false;
  DWORD Style() const { return style & PS_STYLE_MASK; }
};

struct Brush : GdiObject {
  Brush() : GdiObject(GdiType::Brush) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
  int sysColor = -1;  // a system-colour brush follows the palette
  COLORREF Color() const;
};

struct Font : GdiObject {
  Font() : GdiObject(GdiType::Font) {}
  LOGFONTW log{};
  const BuiltinFace* face = nullptr;
};

struct Bitmap : GdiObject {
  Bitmap() : GdiObject(GdiType::Bitmap) {}
  std::shared_ptr<Surface> surface;
  int bitsPerPixel = 32;
  int selectedIn = 0;  // a bitmap lives in one memory DC at a time
  int resourceId = 0;  // the bitmap resource it was loaded from by number; 0 otherwise
};

struct Icon : GdiObject {
  Icon() : GdiObject(GdiType::Icon) {}
  std::shared_ptr<Surface> image;  // with alpha: transparent where the mask says so
  bool shared = false;
  int resourceId = 0;  // the icon resource it was loaded from by number; 0 otherwise
};

enum class DcKind { Memory, Window, Client, Paint, Desktop };

struct DcState {
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Font> font;
  std::shared_ptr<Bitmap> bitmap;  // memory DCs
  COLORREF bk = RGB(255, 255, 255);
  COLORREF text = RGB(0, 0, 0);
  int bkMode = OPAQUE;
  POINT pos{0, 0};
  POINT viewport{0, 0};
  RECT clip{0, 0, 0, 0};  // in surface pixels, in addition to the DC's own limit
  bool hasClip = false;
};

struct Dc : GdiObject {
  Dc() : GdiObject(GdiType::Dc) {}
  DcKind kind = DcKind::Memory;
  HWND hwnd = nullptr;
  std::shared_ptr<Surface> windowSurface;  // window DCs
  POINT origin{0, 0};                      // the DC's (0, 0) in the surface
  RECT limit{0, 0, 0, 0};                  // what the DC may draw on, in surface pixels
  DcState st;
  std::vector<DcState> saved;

  // The raster the DC draws into (null: draws nothing).
  Surface* Target() const;
  // The drawable rectangle in surface pixels (limit, clip, surface bounds).
  RECT DrawClip() const;
  POINT ToSurface(int x, int y) const {
    return POINT{x + origin.x + st.viewport.x, y + origin.y + st.viewport.y};
  }
};

// Handles.
HGDIOBJ InsertObject(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> LookupObject(HGDIOBJ handle);
// Takes an object out of the table and its count.
bool RemoveObject(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> Lookup(HGDIOBJ handle, GdiType type) {
  auto o = LookupObject(handle);
  if (!o || o->type != type) return nullptr;
  return std::static_pointer_cast<T>(o);
}
std::shared_ptr<Dc> LookupDc(HDC hdc);
// A brush argument: a brush handle or a system colour index + 1.
std::shared_ptr<Brush> BrushArg(HBRUSH brush);
std::shared_ptr<Dc> NewDc(DcKind kind);
HDC InsertDc(std::shared_ptr<Dc> dc);
void RemoveDc(HDC hdc);

std::shared_ptr<Pen> StockPen(int index);
std::shared_ptr<Brush> StockBrush(int index);
std::shared_ptr<Font> StockFont(int index);
std::shared_ptr<Bitmap> DefaultBitmap();
const BuiltinFace* ChooseFace(LONG lfHeight, LONG lfWeight);

// Raw pixel work on a DC, in logical coordinates, clipped.
void FillSurfaceRect(Dc& dc, const RECT& logical, COLORREF color);
void PutPixel(Dc& dc, int x, int y, COLORREF color);

// Bitmaps and icons from bytes (.bmp file, .ico file); null when the data is not one.
std::shared_ptr<Surface> DecodeBmp(const BYTE* data, std::size_t size, int* bitsPerPixel);
std::shared_ptr<Surface> DecodeIco(const BYTE* data, std::size_t size, int wantSize);

// Window pictures (gdi_window.cpp).
std::shared_ptr<Surface> WindowSurface(HWND hwnd, bool create);
void ForgetWindowSurface(HWND hwnd);

}  // namespace vkr::ui::detail

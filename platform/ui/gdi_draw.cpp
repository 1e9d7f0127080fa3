// Drawing: rectangles, lines, ellipses and chords, pixels, block transfers and icons. Every shape
// is rasterised here pixel by pixel (no anti-aliasing), so pictures are exact and the same on
// every machine.
#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/ui/gdi_internal.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"

using namespace vkr::ui::detail;

namespace {

// One pen pixel; styled pens keep a running position so the pattern continues along a path.
struct PenWalker {
  Dc& dc;
  const Pen& pen;
  int step = 0;

  bool On() const {
    switch (pen.Style()) {
      case PS_ALTERNATE: return step % 2 == 0;
      case PS_DOT: return step % 6 < 3;
      case PS_DASH: return step % 24 < 18;
      case PS_DASHDOT: return step % 24 < 9 || (step % 24 >= 15 && step % 24 < 18);
      case PS_DASHDOTDOT: return step % 24 < 9 || (step % 24 >= 12 && step % 24 < 15) || step % 24 >= 18;
      default: return true;
    }
  }
  void Plot(int x, int y) {
    if (pen.Style() == PS_NULL) return;
    bool on = On();
    ++step;
    COLORREF c = pen.color;
    if (!on) {
      if (dc.st.bkMode != OPAQUE) return;
      c = dc.st.bk;
    }
    int w = (pen.Style() == PS_ALTERNATE || pen.Style() >= PS_DOT) ? 1 : pen.width;
    if (w <= 1) {
      PutPixel(dc, x, y, c);
    } else {
      int h = w / 2;
      FillSurfaceRect(dc, RECT{x - h, y - h, x - h + w, y - h + w}, c);
    }
  }
};

// Bresenham from (x0, y0) towards (x1, y1), the end point left out as Windows does.
void Line(PenWalker& w, int x0, int y0, int x1, int y1) {
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (!(x0 == x1 && y0 == y1)) {
    w.Plot(x0, y0);
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void Normalize(int& l, int& t, int& r, int& b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
}

// Fills and outlines a shape given by a pixel test on the box (l, t, r, b): interior pixels take
// the brush, pixels with a neighbour outside the shape take the pen.
void FillShape(Dc& dc, int l, int t, int r, int b, const std::function<bool(int, int)>& inside) {
  const Brush& br = *dc.st.brush;
  const Pen& pen = *dc.st.pen;
  bool outline = pen.Style() != PS_NULL;
  // Only what the clip lets through is visited.
  RECT c = dc.DrawClip();
  POINT o = dc.ToSurface(0, 0);
  int y0 = std::max<long long>(t, static_cast<long long>(c.top) - o.y), y1 = std::min<long long>(b, static_cast<long long>(c.bottom) - o.y);
  int x0 = std::max<long long>(l, static_cast<long long>(c.left) - o.x), x1 = std::min<long long>(r, static_cast<long long>(c.right) - o.x);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (!inside(x, y)) continue;
      bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
      if (edge && outline)
        PutPixel(dc, x, y, pen.color);
      else if (br.style != BS_NULL)
        PutPixel(dc, x, y, br.Color());
    }
  }
}

struct EllipseBox {
  double cx, cy, a, b;
  EllipseBox(int l, int t, int r, int bt) : cx((l + r) / 2.0), cy((t + bt) / 2.0), a((r - l) / 2.0), b((bt - t) / 2.0) {}
  bool Inside(int x, int y) const {
    if (a <= 0 || b <= 0) return false;
    double u = (x + 0.5 - cx) / a, v = (y + 0.5 - cy) / b;
    return u * u + v * v <= 1.0;
  }
};

std::shared_ptr<Dc> DrawingDc(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (dc && dc->Target()) dc->Target()->Flush();
  return dc;
}

void Done(Dc& dc) {
  if (dc.Target()) dc.Target()->MarkDirty();
}

std::uint32_t Rop(DWORD rop, std::uint32_t s, std::uint32_t d, std::uint32_t p) {
  switch (rop) {
    case SRCCOPY: return s;
    case SRCPAINT: return s | d;
    case SRCAND: return s & d;
    case SRCINVERT: return s ^ d;
    case NOTSRCCOPY: return ~s;
    case DSTINVERT: return ~d;
    case PATCOPY: return p;
    case BLACKNESS: return 0;
    case WHITENESS: return 0xFFFFFF;
    default: return s;
  }
}

bool RopUsesSource(DWORD rop) { return rop == SRCCOPY || rop == SRCPAINT || rop == SRCAND || rop == SRCINVERT || rop == NOTSRCCOPY; }
bool KnownRop(DWORD rop) { return RopUsesSource(rop) || rop == DSTINVERT || rop == PATCOPY || rop == BLACKNESS || rop == WHITENESS; }

// Copies (with nearest-pixel scaling) from src to dst; both in logical coordinates of their DCs.
BOOL Blit(HDC hdst, int x, int y, int cx, int cy, HDC hsrc, int x1, int y1, int cx1, int cy1, DWORD rop) {
  auto dst = DrawingDc(hdst);
  if (!dst || !KnownRop(rop)) return FALSE;
  std::shared_ptr<Dc> src;
  if (RopUsesSource(rop)) {
    src = LookupDc(hsrc);
    if (!src) return FALSE;
  }
  if (cx <= 0 || cy <= 0 || (src && (cx1 <= 0 || cy1 <= 0))) return cx == 0 || cy == 0 ? TRUE : FALSE;
  Surface* ds = dst->Target();
  if (!ds) return TRUE;
  // Only the part of the destination inside its clip is worked on.
  RECT clip = dst->DrawClip();
  POINT origin = dst->ToSurface(x, y);
  int i0 = std::max(0, static_cast<int>(clip.left - origin.x)), i1 = std::min(cx, static_cast<int>(clip.right - origin.x));
  int j0 = std::max(0, static_cast<int>(clip.top - origin.y)), j1 = std::min(cy, static_cast<int>(clip.bottom - origin.y));
  if (i0 >= i1 || j0 >= j1) return TRUE;
  if (rop == PATCOPY && dst->st.brush->style == BS_NULL) return TRUE;
  int w = i1 - i0, h = j1 - j0;
  // Read the source first: it may be the same surface.
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0xFF000000u);
  if (src) {
    Surface* ss = src->Target();
    if (ss) {
      ss->Flush();
      for (int j = j0; j < j1; ++j) {
        for (int i = i0; i < i1; ++i) {
          POINT p = src->ToSurface(x1 + static_cast<int>(static_cast<long long>(i) * cx1 / cx),
                                   y1 + static_cast<int>(static_cast<long long>(j) * cy1 / cy));
          if (ss->Contains(p.x, p.y)) pixels[static_cast<std::size_t>((j - j0) * w + (i - i0))] = ss->Get(p.x, p.y);
        }
      }
    }
  }
  std::uint32_t pat = ArgbOf(dst->st.brush->Color());
  for (int j = j0; j < j1; ++j) {
    for (int i = i0; i < i1; ++i) {
      POINT p{origin.x + i, origin.y + j};
      std::uint32_t d = ds->Get(p.x, p.y);
      std::uint32_t v = Rop(rop, pixels[static_cast<std::size_t>((j - j0) * w + (i - i0))], d, pat);
      ds->Put(p.x, p.y, 0xFF000000u | (v & 0xFFFFFF));
    }
  }
  Done(*dst);
  return TRUE;
}

}  // namespace

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  auto dc = DrawingDc(hdc);
  auto br = BrushArg(brush);
  if (!dc || !rect || !br) return 0;
  if (br->style != BS_NULL) FillSurfaceRect(*dc, *rect, br->Color());
  Done(*dc);
  return 1;
}

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  auto dc = DrawingDc(hdc);
  auto br = BrushArg(brush);
  if (!dc || !rect || !br) return 0;
  if (rect->right <= rect->left || rect->bottom <= rect->top || br->style == BS_NULL) return 1;
  COLORREF c = br->Color();
  const RECT& r = *rect;
  FillSurfaceRect(*dc, RECT{r.left, r.top, r.right, r.top + 1}, c);
  FillSurfaceRect(*dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, c);
  FillSurfaceRect(*dc, RECT{r.left, r.top, r.left + 1, r.bottom}, c);
  FillSurfaceRect(*dc, RECT{r.right - 1, r.top, r.right, r.bottom}, c);
  Done(*dc);
  return 1;
}

BOOL InvertRect(HDC hdc, const RECT* rect) {
  if (!rect) return FALSE;
  return PatBlt(hdc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, DSTINVERT);
}

// Windows' focus rectangle: every other pixel of the outline inverted, on the checkerboard that
// has (0, 0) set.
BOOL DrawFocusRect(HDC hdc, const RECT* rect) {
  auto dc = DrawingDc(hdc);
  if (!dc || !rect) return FALSE;
  Surface* s = dc->Target();
  if (!s) return TRUE;
  RECT clip = dc->DrawClip();
  auto flip = [&](int x, int y) {
    if (((x + y) & 1) != 0) return;
    POINT p = dc->ToSurface(x, y);
    if (p.x < clip.left || p.y < clip.top || p.x >= clip.right || p.y >= clip.bottom) return;
    s->Put(p.x, p.y, 0xFF000000u | (~s->Get(p.x, p.y) & 0xFFFFFF));
  };
  const RECT& r = *rect;
  if (r.right <= r.left || r.bottom <= r.top) return TRUE;
  for (int x = r.left; x < r.right; ++x) {
    flip(x, r.top);
    if (r.bottom - 1 != r.top) flip(x, r.bottom - 1);
  }
  for (int y = r.top + 1; y < r.bottom - 1; ++y) {
    flip(r.left, y);
    if (r.right - 1 != r.left) flip(r.right - 1, y);
  }
  Done(*dc);
  return TRUE;
}

BOOL DrawEdge(HDC hdc, LPRECT rect, UINT edge, UINT flags) {
  auto dc = DrawingDc(hdc);
  if (!dc || !rect) return FALSE;
  RECT r = *rect;
  auto ring = [&](COLORREF tl, COLORREF brc) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    if (flags & BF_TOP) FillSurfaceRect(*dc, RECT{r.left, r.top, r.right - 1, r.top + 1}, tl);
    if (flags & BF_LEFT) FillSurfaceRect(*dc, RECT{r.left, r.top, r.left + 1, r.bottom - 1}, tl);
    if (flags & BF_BOTTOM) FillSurfaceRect(*dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, brc);
    if (flags & BF_RIGHT) FillSurfaceRect(*dc, RECT{r.right - 1, r.top, r.right, r.bottom}, brc);
    if (flags & BF_LEFT) ++r.left;
    if (flags & BF_TOP) ++r.top;
    if (flags & BF_RIGHT) --r.right;
    if (flags & BF_BOTTOM) --r.bottom;
  };
  if (edge & BDR_RAISEDOUTER)
    ring(GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW));
  else if (edge & BDR_SUNKENOUTER)
    ring(GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
  if (edge & BDR_RAISEDINNER)
    ring(GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
  else if (edge & BDR_SUNKENINNER)
    ring(GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT));
  if (flags & BF_MIDDLE) FillSurfaceRect(*dc, r, GetSysColor(COLOR_BTNFACE));
  if (flags & BF_ADJUST) *rect = r;
  Done(*dc);
  return TRUE;
}

// The outline runs clockwise from the top-left pixel, so a styled pen's pattern goes round it.
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = DrawingDc(hdc);
  if (!dc) return FALSE;
  Normalize(left, top, right, bottom);
  const Pen& pen = *dc->st.pen;
  const Brush& br = *dc->st.brush;
  if (pen.Style() == PS_NULL) {
    // Without a pen the fill covers the box less its right column and bottom row.
    if (br.style != BS_NULL) FillSurfaceRect(*dc, RECT{left, top, right - 1, bottom - 1}, br.Color());
    Done(*dc);
    return TRUE;
  }
  if (right - left < 1 || bottom - top < 1) return TRUE;
  int w = (pen.Style() == PS_SOLID || pen.Style() == PS_INSIDEFRAME) ? pen.width : 1;
  if (br.style != BS_NULL) FillSurfaceRect(*dc, RECT{left + w, top + w, right - w, bottom - w}, br.Color());
  if (w > 1) {
    FillSurfaceRect(*dc, RECT{left, top, right, top + w}, pen.color);
    FillSurfaceRect(*dc, RECT{left, bottom - w, right, bottom}, pen.color);
    FillSurfaceRect(*dc, RECT{left, top, left + w, bottom}, pen.color);
    FillSurfaceRect(*dc, RECT{right - w, top, right, bottom}, pen.color);
  } else {
    PenWalker walk{*dc, pen};
    int r = right - 1, b = bottom - 1;
    if (r == left || b == top) {
      FillSurfaceRect(*dc, RECT{left, top, right, bottom}, pen.color);
    } else {
      Line(walk, left, top, r, top);
      Line(walk, r, top, r, b);
      Line(walk, r, b, left, b);
      Line(walk, left, b, left, top);
    }
  }
  Done(*dc);
  return TRUE;
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = DrawingDc(hdc);
  if (!dc) return FALSE;
  Normalize(left, top, right, bottom);
  EllipseBox e(left, top, right, bottom);
  FillShape(*dc, left, top, right, bottom, [&](int x, int y) { return e.Inside(x, y); });
  Done(*dc);
  return TRUE;
}

// The part of the ellipse cut off by the line between the two radial points, on the side of the
// arc that runs counter-clockwise from the first to the second.
BOOL Chord(HDC hdc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  auto dc = DrawingDc(hdc);
  if (!dc) return FALSE;
  Normalize(left, top, right, bottom);
  EllipseBox e(left, top, right, bottom);
  const double pi = 3.14159265358979323846;
  double t1 = std::atan2(-(y1 - e.cy), x1 - e.cx), t2 = std::atan2(-(y2 - e.cy), x2 - e.cx);
  double sweep = t2 - t1;
  while (sweep <= 0) sweep += 2 * pi;
  double mid = t1 + sweep / 2;
  double ex1 = e.cx + e.a * std::cos(t1), ey1 = e.cy - e.b * std::sin(t1);
  double ex2 = e.cx + e.a * std::cos(t2), ey2 = e.cy - e.b * std::sin(t2);
  double mx = e.cx + e.a * std::cos(mid), my = e.cy - e.b * std::sin(mid);
  auto side = [&](double px, double py) { return (ex2 - ex1) * (py - ey1) - (ey2 - ey1) * (px - ex1); };
  double want = side(mx, my);
  bool full = std::abs(ex2 - ex1) < 1e-9 && std::abs(ey2 - ey1) < 1e-9;
  FillShape(*dc, left, top, right, bottom, [&](int x, int y) {
    if (!e.Inside(x, y)) return false;
    if (full) return true;
    double s = side(x + 0.5, y + 0.5);
    return s == 0 || (s > 0) == (want > 0);
  });
  Done(*dc);
  return TRUE;
}

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->st.pos;
  dc->st.pos = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  auto dc = DrawingDc(hdc);
  if (!dc) return FALSE;
  PenWalker walk{*dc, *dc->st.pen};
  Line(walk, dc->st.pos.x, dc->st.pos.y, x, y);
  dc->st.pos = POINT{x, y};
  Done(*dc);
  return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto dc = DrawingDc(hdc);
  if (!dc || !dc->Target()) return CLR_INVALID;
  POINT p = dc->ToSurface(x, y);
  RECT c = dc->DrawClip();
  if (p.x < c.left || p.y < c.top || p.x >= c.right || p.y >= c.bottom) return CLR_INVALID;
  PutPixel(*dc, x, y, color & 0xFFFFFF);
  Done(*dc);
  return color & 0xFFFFFF;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto dc = DrawingDc(hdc);
  if (!dc || !dc->Target()) return CLR_INVALID;
  POINT p = dc->ToSurface(x, y);
  RECT c = dc->DrawClip();
  if (p.x < c.left || p.y < c.top || p.x >= c.right || p.y >= c.bottom) return CLR_INVALID;
  return ColorOf(dc->Target()->Get(p.x, p.y));
}

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop) {
  return Blit(dst, x, y, cx, cy, src, x1, y1, cx, cy, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, int cx1, int cy1, DWORD rop) {
  return Blit(dst, x, y, cx, cy, src, x1, y1, cx1, cy1, rop);
}

BOOL PatBlt(HDC hdc, int x, int y, int cx, int cy, DWORD rop) {
  if (RopUsesSource(rop)) return FALSE;
  if (cx < 0) {
    x += cx;
    cx = -cx;
  }
  if (cy < 0) {
    y += cy;
    cy = -cy;
  }
  return Blit(hdc, x, y, cx, cy, nullptr, 0, 0, 0, 0, rop);
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy, UINT, HBRUSH flickerFree, UINT flags) {
  auto dc = DrawingDc(hdc);
  auto ic = Lookup<Icon>(icon, GdiType::Icon);
  if (!dc || !ic) return FALSE;
  Surface& img = *ic->image;
  if (cx == 0) cx = img.Width();
  if (cy == 0) cy = img.Height();
  if (flickerFree) {
    auto br = BrushArg(flickerFree);
    if (br && br->style != BS_NULL) FillSurfaceRect(*dc, RECT{x, y, x + cx, y + cy}, br->Color());
  }
  Surface* s = dc->Target();
  if (!s || (flags & DI_NORMAL) == 0) return TRUE;
  RECT clip = dc->DrawClip();
  img.Flush();
  for (int j = 0; j < cy; ++j) {
    for (int i = 0; i < cx; ++i) {
      POINT p = dc->ToSurface(x + i, y + j);
      if (p.x < clip.left || p.y < clip.top || p.x >= clip.right || p.y >= clip.bottom) continue;
      std::uint32_t src = img.Get(i * img.Width() / cx, j * img.Height() / cy);
      unsigned a = src >> 24;
      if (a == 0) continue;
      std::uint32_t d = s->Get(p.x, p.y), out = 0xFF000000u;
      for (int sh = 0; sh < 24; sh += 8) {
        unsigned sc = (src >> sh) & 0xFF, dcv = (d >> sh) & 0xFF;
        unsigned v = sc + (dcv * (255 - a) + 127) / 255;  // the image is premultiplied
        out |= std::min(v, 255u) << sh;
      }
      s->Put(p.x, p.y, out);
    }
  }
  Done(*dc);
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) {
  auto ic = Lookup<Icon>(icon, GdiType::Icon);
  if (!ic) return FALSE;
  return DrawIconEx(hdc, x, y, icon, ic->image->Width(), ic->image->Height(), 0, nullptr, DI_NORMAL);
}

// Rendering a window tree: pending paints first, then each window's frame and picture, children
// above their parent, each clipped to its parent's client area.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/gdi_internal.h"
#include "platform/ui/render.h"
#include "platform/ui/windows.h"

namespace vkr::ui {
namespace {

using detail::Surface;

bool InTree(HWND root, HWND w) { return w == root || IsChild(root, w); }

// Paints what the tree has pending, as the message loop would before anything else is drawn.
void PaintPending(HWND root) {
  DWORD thread = GetWindowThreadProcessId(root, nullptr);
  for (int round = 0; round < 8; ++round) {
    bool any = false;
    for (HWND w : WindowsNeedingPaint(thread)) {
      if (!InTree(root, w)) continue;
      any = true;
      UpdateWindow(w);
    }
    if (!any) break;
  }
}

// The frame a window's style gives it: border, caption and client edge, outside its client area.
void DrawFrame(HWND hwnd) {
  RECT wr{}, client{};
  GetWindowRect(hwnd, &wr);
  GetClientRect(hwnd, &client);
  POINT c{0, 0};
  ClientToScreen(hwnd, &c);
  int left = c.x - wr.left, top = c.y - wr.top;
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  if (left <= 0 && top <= 0 && client.right == w && client.bottom == h) return;
  auto style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  auto ex = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
  int edge = ((ex & WS_EX_CLIENTEDGE) ? 2 : 0) + ((ex & WS_EX_STATICEDGE) ? 1 : 0);
  int frame = std::max(left - edge, 0);
  bool caption = (style & WS_CAPTION) == WS_CAPTION;
  HDC dc = GetWindowDC(hwnd);
  if (!dc) return;
  RECT r{0, 0, w, h};
  if (frame == 1) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    InflateRect(&r, -1, -1);
  } else if (frame >= 2) {
    DrawEdge(dc, &r, EDGE_RAISED, BF_RECT | BF_ADJUST);
    for (int i = 2; i < frame; ++i) {
      FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      InflateRect(&r, -1, -1);
    }
  }
  if (caption) {
    int ch = GetSystemMetrics(SM_CYCAPTION);
    RECT bar{r.left, r.top, r.right, r.top + ch - 1};
    FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
    RECT line{r.left, r.top + ch - 1, r.right, r.top + ch};
    FillRect(dc, &line, GetSysColorBrush(COLOR_BTNFACE));
    std::string title = WindowText(hwnd);
    HFONT font = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    RECT text{bar.left + 4, bar.top, bar.right - 2, bar.bottom};
    DrawTextA(dc, title.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
    DeleteObject(font);
    r.top += ch;
  }
  if (ex & WS_EX_CLIENTEDGE) DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  if (ex & WS_EX_STATICEDGE) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  ReleaseDC(hwnd, dc);
}

struct Clip {
  int left, top, right, bottom;
  Clip Meet(int l, int t, int r, int b) const {
    return Clip{std::max(left, l), std::max(top, t), std::min(right, r), std::min(bottom, b)};
  }
  bool Empty() const { return left >= right || top >= bottom; }
};

void Compose(Picture& out, HWND hwnd, const RECT& rootRect, Clip clip) {
  RECT wr{};
  if (!GetWindowRect(hwnd, &wr)) return;
  int ox = wr.left - rootRect.left, oy = wr.top - rootRect.top;
  Clip mine = clip.Meet(ox, oy, ox + (wr.right - wr.left), oy + (wr.bottom - wr.top));
  if (mine.Empty()) return;
  DrawFrame(hwnd);
  auto s = detail::WindowSurface(hwnd, true);
  if (s) {
    s->Flush();
    // Only the part the surface covers: a window larger than its picture shows nothing beyond it.
    const Clip drawn = mine.Meet(ox, oy, ox + s->Width(), oy + s->Height());
    for (int y = drawn.top; y < drawn.bottom; ++y) {
      const std::uint32_t* row = s->Row(y - oy);
      COLORREF* line = out.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width);
      for (int x = drawn.left; x < drawn.right; ++x) {
        const std::uint32_t src = row[x - ox];
        unsigned a = src >> 24;
        if (a == 0) continue;
        COLORREF& d = line[x];
        if (a == 255) {
          d = detail::ColorOf(src);
          continue;
        }
        auto blend = [a](unsigned sc, unsigned dc) { return std::min(255u, sc + (dc * (255 - a) + 127) / 255); };
        d = RGB(static_cast<BYTE>(blend((src >> 16) & 0xFF, GetRValue(d))),
                static_cast<BYTE>(blend((src >> 8) & 0xFF, GetGValue(d))), static_cast<BYTE>(blend(src & 0xFF, GetBValue(d))));
      }
    }
  }
  // Children, clipped to the client area; the first child is the top of the z-order, so it is
  // drawn last.
  POINT c{0, 0};
  ClientToScreen(hwnd, &c);
  RECT client{};
  GetClientRect(hwnd, &client);
  int cx = c.x - rootRect.left, cy = c.y - rootRect.top;
  Clip inner = mine.Meet(cx, cy, cx + client.right, cy + client.bottom);
  if (inner.Empty()) return;
  std::vector<HWND> children;
  for (HWND ch = GetWindow(hwnd, GW_CHILD); ch; ch = GetWindow(ch, GW_HWNDNEXT)) children.push_back(ch);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (!(static_cast<DWORD>(GetWindowLongW(*it, GWL_STYLE)) & WS_VISIBLE)) continue;
    Compose(out, *it, rootRect, inner);
  }
}

}  // namespace

bool RenderWindow(HWND hwnd, Picture* out) {
  RECT wr{};
  if (!out || !hwnd || !GetWindowRect(hwnd, &wr)) return false;
  PaintPending(hwnd);
  Picture p;
  p.width = wr.right - wr.left;
  p.height = wr.bottom - wr.top;
  p.pixels.assign(static_cast<std::size_t>(std::max(p.width, 0)) * static_cast<std::size_t>(std::max(p.height, 0)),
                  GetSysColor(COLOR_BTNFACE));
  Compose(p, hwnd, wr, Clip{0, 0, p.width, p.height});
  *out = std::move(p);
  return true;
}

bool RenderWindowToPng(HWND hwnd, const char* path) {
  Picture p;
  return RenderWindow(hwnd, &p) && SavePictureToPng(p, path);
}

COLORREF PixelAt(HWND hwnd, int x, int y) {
  Picture p;
  if (!RenderWindow(hwnd, &p)) return CLR_INVALID;
  return p.At(x, y);
}

}  // namespace vkr::ui

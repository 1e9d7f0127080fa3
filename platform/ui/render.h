// Pictures of windows: a window and its visible children drawn into one raster, saved as PNG or
// read pixel by pixel (tests), and PNG files read back for comparison.
#pragma once

#include <vector>

#include "platform/ui/types.h"

namespace vkr::ui {

// A raster of COLORREF pixels, row by row from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;
  // CLR_INVALID outside.
  COLORREF At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
};

// Paints what is pending in the window's tree (WM_ERASEBKGND, WM_PAINT), then puts together the
// window's frame and client area and those of its visible descendants, each clipped to its
// parent's client area, children above their parent and earlier siblings above later ones. The
// picture is the window's rectangle, (0, 0) its top-left corner; the window itself is drawn even
// when hidden, its children only when visible. Call it on the window's thread (painting sends
// WM_PAINT). False for a stale window.
VKR_API bool RenderWindow(HWND hwnd, Picture* out);
VKR_API bool RenderWindowToPng(HWND hwnd, const char* path);
// One pixel of the rendered window, in window coordinates (CLR_INVALID outside or for a stale
// window).
VKR_API COLORREF PixelAt(HWND hwnd, int x, int y);
inline COLORREF PixelAt(HWND hwnd, POINT p) { return PixelAt(hwnd, p.x, p.y); }

// A bitmap's pixels, and a bitmap saved as PNG.
VKR_API bool BitmapPicture(HBITMAP bitmap, Picture* out);
VKR_API bool SaveBitmapToPng(HBITMAP bitmap, const char* path);
VKR_API bool SavePictureToPng(const Picture& picture, const char* path);
VKR_API bool ReadPng(const char* path, Picture* out);

}  // namespace vkr::ui

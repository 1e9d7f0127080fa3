// Pictures: bitmaps and rendered windows as COLORREF rasters and PNG files.
#include "platform/ui/render.h"

#include "platform/ui/gdi_internal.h"

namespace vkr::ui {
namespace {

Picture FromSurface(detail::Surface& s) {
  s.Flush();
  Picture p;
  p.width = s.Width();
  p.height = s.Height();
  p.pixels.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      p.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x)] =
          detail::ColorOf(s.Get(x, y));
  return p;
}

}  // namespace

bool BitmapPicture(HBITMAP bitmap, Picture* out) {
  auto b = detail::Lookup<detail::Bitmap>(bitmap, detail::GdiType::Bitmap);
  if (!b || !out) return false;
  *out = FromSurface(*b->surface);
  return true;
}

bool SavePictureToPng(const Picture& picture, const char* path) {
  if (!path || picture.width <= 0 || picture.height <= 0) return false;
  detail::Surface s(picture.width, picture.height, false);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) s.Put(x, y, detail::ArgbOf(picture.At(x, y)));
  s.MarkDirty();
  return cairo_surface_write_to_png(s.Cairo(), path) == CAIRO_STATUS_SUCCESS;
}

bool SaveBitmapToPng(HBITMAP bitmap, const char* path) {
  Picture p;
  return BitmapPicture(bitmap, &p) && SavePictureToPng(p, path);
}

bool ReadPng(const char* path, Picture* out) {
  if (!path || !out) return false;
  cairo_surface_t* img = cairo_image_surface_create_from_png(path);
  bool ok = cairo_surface_status(img) == CAIRO_STATUS_SUCCESS;
  if (ok) {
    int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
    detail::Surface s(w, h, false);
    cairo_t* cr = cairo_create(s.Cairo());
    cairo_set_source_surface(cr, img, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    *out = FromSurface(s);
  }
  cairo_surface_destroy(img);
  return ok;
}

}  // namespace vkr::ui

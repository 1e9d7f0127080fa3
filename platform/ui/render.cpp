// Pictures: bitmaps and rendered windows as COLORREF rasters and PNG files.
#include "platform/ui/render.h"

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string_view>

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
  // 8-bit RGB rows, each behind filter byte 0, deflated at the fastest level: every run of the
  // host writes a picture, and its size matters less than its time.
  const std::size_t width = static_cast<std::size_t>(picture.width), height = static_cast<std::size_t>(picture.height);
  std::vector<unsigned char> raw;
  raw.reserve(height * (1 + 3 * width));
  for (std::size_t i = 0; i < height * width; ++i) {
    if (i % width == 0) raw.push_back(0);
    const COLORREF c = picture.pixels[i];
    raw.insert(raw.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED) != Z_OK)
    return false;
  packed.resize(packedSize);

  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto u32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<unsigned char>(v >> shift));
  };
  auto chunk = [&](std::string_view type, const unsigned char* data, std::size_t size) {
    u32(static_cast<std::uint32_t>(size));
    const std::size_t start = file.size();
    file.insert(file.end(), type.begin(), type.end());
    if (size) file.insert(file.end(), data, data + size);
    u32(static_cast<std::uint32_t>(crc32(0, file.data() + start, static_cast<uInt>(file.size() - start))));
  };
  std::vector<unsigned char> header;
  for (const std::uint32_t v : {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<unsigned char>(v >> shift));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter method, no interlace
  chunk("IHDR", header.data(), header.size());
  chunk("IDAT", packed.data(), packed.size());
  chunk("IEND", nullptr, 0);

  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path, "wb"), &std::fclose);
  if (!out) return false;
  const bool written = std::fwrite(file.data(), 1, file.size(), out.get()) == file.size();
  return std::fclose(out.release()) == 0 && written;
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

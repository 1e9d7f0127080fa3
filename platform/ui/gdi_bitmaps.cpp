// Bitmaps and icons: .bmp and .ico decoding, LoadBitmap, LoadImage, LoadIcon, the check-box glyphs.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/ui/gdi_internal.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/resources.h"
#include "platform/win/text.h"

namespace vkr::ui::detail {
namespace {

std::uint32_t U32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }
std::uint16_t U16(const BYTE* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A device-independent bitmap: header, palette, bits. For icons the header's height counts the
// image and its mask, and the mask follows the image. Null when the data does not hold one.
std::shared_ptr<Surface> DecodeDib(const BYTE* dib, std::size_t size, const BYTE* bits, std::size_t bitsSize,
                                   bool icon, int* bitsPerPixel) {
  if (size < 40) return nullptr;
  std::uint32_t headerSize = U32(dib);
  if (headerSize < 40 || headerSize > size) return nullptr;
  auto width = static_cast<std::int32_t>(U32(dib + 4));
  auto height = static_cast<std::int32_t>(U32(dib + 8));
  int bpp = U16(dib + 14);
  std::uint32_t compression = U32(dib + 16);
  std::uint32_t used = U32(dib + 32);
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (icon) height /= 2;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return nullptr;
  if (compression != 0 && !(compression == 3 && (bpp == 16 || bpp == 32))) return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return nullptr;
  std::size_t colors = bpp <= 8 ? (used ? used : (1u << bpp)) : 0;
  if (colors > 256) return nullptr;
  const BYTE* palette = dib + headerSize + (compression == 3 && headerSize == 40 ? 12 : 0);
  if (palette + colors * 4 > dib + size) return nullptr;
  if (!bits) {
    bits = palette + colors * 4;
    bitsSize = static_cast<std::size_t>(dib + size - bits);
  }
  std::size_t stride = ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp) + 31) / 32) * 4;
  std::size_t maskStride = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
  if (stride * static_cast<std::size_t>(height) > bitsSize) return nullptr;
  bool hasMask = icon && stride * height + maskStride * height <= bitsSize;
  auto s = std::make_shared<Surface>(width, height, icon);
  bool anyAlpha = false;
  if (icon && bpp == 32) {
    for (int y = 0; y < height && !anyAlpha; ++y)
      for (int x = 0; x < width; ++x)
        if (bits[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4 + 3]) anyAlpha = true;
  }
  for (int row = 0; row < height; ++row) {
    int y = topDown ? row : height - 1 - row;
    const BYTE* line = bits + static_cast<std::size_t>(row) * stride;
    const BYTE* mask = bits + stride * height + static_cast<std::size_t>(row) * maskStride;
    std::uint32_t* out = s->Row(y);
    for (int x = 0; x < width; ++x) {
      std::uint32_t argb = 0;
      unsigned alpha = 255;
      if (bpp <= 8) {
        unsigned idx = 0;
        std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(bpp);
        BYTE b = line[bit / 8];
        if (bpp == 8) idx = b;
        if (bpp == 4) idx = (x % 2) ? (b & 0x0F) : (b >> 4);
        if (bpp == 1) idx = (b >> (7 - x % 8)) & 1;
        if (idx >= colors) idx = 0;
        const BYTE* q = palette + idx * 4;
        argb = (static_cast<std::uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0];
      } else {
        const BYTE* p = line + static_cast<std::size_t>(x) * static_cast<std::size_t>(bpp / 8);
        argb = (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
        if (bpp == 32 && anyAlpha) alpha = p[3];
      }
      if (icon && !anyAlpha && hasMask && ((mask[x / 8] >> (7 - x % 8)) & 1)) alpha = 0;
      if (icon) {
        // Premultiplied, as cairo keeps it.
        std::uint32_t r = ((argb >> 16) & 0xFF) * alpha / 255, g = ((argb >> 8) & 0xFF) * alpha / 255,
                      b = (argb & 0xFF) * alpha / 255;
        out[x] = (alpha << 24) | (r << 16) | (g << 8) | b;
      } else {
        out[x] = 0xFF000000u | argb;
      }
    }
  }
  s->MarkDirty();
  if (bitsPerPixel) *bitsPerPixel = bpp;
  return s;
}

struct PngReader {
  const BYTE* data;
  std::size_t size;
  std::size_t pos = 0;
  static cairo_status_t Read(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->pos + length > r->size) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
  }
};

std::shared_ptr<Surface> DecodePng(const BYTE* data, std::size_t size) {
  PngReader reader{data, size};
  cairo_surface_t* img = cairo_image_surface_create_from_png_stream(&PngReader::Read, &reader);
  if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    return nullptr;
  }
  int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
  auto s = std::make_shared<Surface>(w, h, true);
  cairo_t* cr = cairo_create(s->Cairo());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, img, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(img);
  s->Flush();
  return s;
}

std::shared_ptr<Surface> Scaled(std::shared_ptr<Surface> s, int w, int h) {
  if (!s || (s->Width() == w && s->Height() == h) || w <= 0 || h <= 0) return s;
  auto out = std::make_shared<Surface>(w, h, s->HasAlpha());
  s->Flush();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out->Put(x, y, s->Get(x * s->Width() / w, y * s->Height() / h));
  out->MarkDirty();
  return out;
}

}  // namespace

std::shared_ptr<Surface> DecodeBmp(const BYTE* data, std::size_t size, int* bitsPerPixel) {
  if (!data || size < 14 + 40 || data[0] != 'B' || data[1] != 'M') return nullptr;
  std::uint32_t offBits = U32(data + 10);
  if (offBits < 14 + 40 || offBits > size) return nullptr;
  auto s = DecodeDib(data + 14, offBits - 14, data + offBits, size - offBits, false, bitsPerPixel);
  return s;
}

std::shared_ptr<Surface> DecodeIco(const BYTE* data, std::size_t size, int wantSize) {
  if (!data || size < 6 || U16(data) != 0 || U16(data + 2) != 1) return nullptr;
  int count = U16(data + 4);
  if (count == 0 || 6 + static_cast<std::size_t>(count) * 16 > size) return nullptr;
  // The entry nearest the wanted size, the larger one on a tie.
  int best = -1, bestDiff = 0;
  for (int i = 0; i < count; ++i) {
    const BYTE* e = data + 6 + i * 16;
    int w = e[0] ? e[0] : 256;
    int diff = std::abs(w - wantSize) * 2 + (w < wantSize ? 1 : 0);
    if (best < 0 || diff < bestDiff) {
      best = i;
      bestDiff = diff;
    }
  }
  const BYTE* e = data + 6 + best * 16;
  std::uint32_t bytes = U32(e + 8), offset = U32(e + 12);
  if (offset > size || bytes > size - offset) return nullptr;
  const BYTE* img = data + offset;
  std::shared_ptr<Surface> s;
  if (bytes >= 8 && std::memcmp(img, "\x89PNG", 4) == 0)
    s = DecodePng(img, bytes);
  else
    s = DecodeDib(img, bytes, nullptr, 0, true, nullptr);
  return Scaled(s, wantSize, wantSize);
}

namespace {

// The check-box glyphs (see LoadBitmapA in gdi.h): 13 x 13 cells drawn from these letters.
//   '.' and 'W' white (the key colour), 'H' white highlight, 'S' 3D shadow, 'D' dark shadow,
//   'L' 3D light, 'F' face, 'B' black mark, 'd' a dotted mark (black on even x + y, else white).
constexpr int kCell = 13;
const char* const kBox[kCell] = {
    "SSSSSSSSSSSSH", "SDDDDDDDDDDLH", "SDWWWWWWWWWLH", "SDWWWWWWWWWLH", "SDWWWWWWWWWLH",
    "SDWWWWWWWWWLH", "SDWWWWWWWWWLH", "SDWWWWWWWWWLH", "SDWWWWWWWWWLH", "SDWWWWWWWWWLH",
    "SDWWWWWWWWWLH", "SDLLLLLLLLLLH", "HHHHHHHHHHHHH"};
const char* const kCheck[7] = {"......#", ".....##", "#...###", "##.###.", "#####..", ".###...", "..#...."};
const char* const kRadio[kCell] = {
    "....SSSS.....", "..SSDDDDSS...", ".SDDWWWWDDH..", ".SDWWWWWWLH..", "SDWWWWWWWWLH.",
    "SDWWWWWWWWLH.", "SDWWWWWWWWLH.", "SDWWWWWWWWLH.", ".SDWWWWWWLH..", ".HLLWWWWLLH..",
    "..HHLLLLHH...", "....HHHH.....", "............."};
const char* const kDot[4] = {".BB.", "BBBB", "BBBB", ".BB."};

std::uint32_t Letter(char c, int x, int y) {
  switch (c) {
    case 'S': return 0xFF808080u;
    case 'D': return 0xFF404040u;
    case 'L': return 0xFFD4D0C8u;
    case 'F': return 0xFFD4D0C8u;
    case 'B': return 0xFF000000u;
    case 'd': return ((x + y) % 2 == 0) ? 0xFF000000u : 0xFFFFFFFFu;
    default: return 0xFFFFFFFFu;
  }
}

enum class Mark { None, Check, Dotted, Dot };

void DrawCell(Surface& s, int col, int row, const char* const* shape, bool pushed, Mark mark) {
  int ox = col * kCell, oy = row * kCell;
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      char c = shape[y][x];
      if (c == 'W' && pushed) c = 'F';
      s.Put(ox + x, oy + y, Letter(c, x, y));
    }
  }
  if (mark == Mark::Check || mark == Mark::Dotted)
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x)
        if (kCheck[y][x] == '#') s.Put(ox + 3 + x, oy + 3 + y, Letter(mark == Mark::Check ? 'B' : 'd', x, y));
  if (mark == Mark::Dot)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        if (kDot[y][x] == 'B') s.Put(ox + 4 + x, oy + 4 + y, 0xFF000000u);
}

std::shared_ptr<Surface> CheckBoxGlyphs() {
  auto s = std::make_shared<Surface>(4 * kCell, 3 * kCell, false);
  s->Clear(0xFFFFFFFFu);
  DrawCell(*s, 0, 0, kBox, false, Mark::None);
  DrawCell(*s, 1, 0, kBox, false, Mark::Check);
  DrawCell(*s, 2, 0, kBox, true, Mark::None);
  DrawCell(*s, 3, 0, kBox, true, Mark::Check);
  DrawCell(*s, 0, 1, kRadio, false, Mark::None);
  DrawCell(*s, 1, 1, kRadio, false, Mark::Dot);
  DrawCell(*s, 2, 1, kRadio, true, Mark::None);
  DrawCell(*s, 3, 1, kRadio, true, Mark::Dot);
  // The radio highlight: white where the ring is lit, black elsewhere; the mask: black inside.
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      char c = kRadio[y][x];
      s->Put(x, 2 * kCell + y, c == 'H' ? 0xFFFFFFFFu : 0xFF000000u);
      s->Put(kCell + x, 2 * kCell + y, c == '.' ? 0xFFFFFFFFu : 0xFF000000u);
    }
  }
  DrawCell(*s, 2, 2, kBox, false, Mark::Dotted);
  DrawCell(*s, 3, 2, kBox, true, Mark::Dotted);
  s->MarkDirty();
  return s;
}

bool ReadFile(const std::string& path, std::vector<BYTE>* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

bool Resource(HINSTANCE instance, LPCSTR name, WORD type, const BYTE** data, std::size_t* size) {
  HRSRC r = FindResourceA(instance, name, MAKEINTRESOURCEA(type));
  if (!r) return false;
  HGLOBAL g = LoadResource(instance, r);
  *data = static_cast<const BYTE*>(LockResource(g));
  *size = SizeofResource(instance, r);
  return *data != nullptr;
}

// Shared images (LR_SHARED) live for the process, one per source, and are never counted.
std::mutex g_sharedLock;
std::vector<std::pair<std::string, HANDLE>>& SharedImages() {
  static auto* v = new std::vector<std::pair<std::string, HANDLE>>;
  return *v;
}

HANDLE LoadImageImpl(HINSTANCE instance, LPCSTR name, bool nameIsId, UINT type, int cx, int cy, UINT flags) {
  if (type != IMAGE_BITMAP && type != IMAGE_ICON) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string key;
  if (flags & LR_SHARED) {
    key = std::to_string(reinterpret_cast<std::uintptr_t>(instance)) + "|" + std::to_string(type) + "|" + std::to_string(cx) +
          "x" + std::to_string(cy) + "|";
    if (nameIsId) {
      key += '#';
      key += std::to_string(reinterpret_cast<std::uintptr_t>(name));
    } else {
      key += name;
    }
    std::lock_guard lk(g_sharedLock);
    for (auto& [k, h] : SharedImages())
      if (k == key) return h;
  }
  std::vector<BYTE> file;
  const BYTE* data = nullptr;
  std::size_t size = 0;
  std::shared_ptr<Surface> surface;
  int bpp = 32;
  if (flags & LR_LOADFROMFILE) {
    if (nameIsId || !ReadFile(name, &file)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    data = file.data();
    size = file.size();
  } else if (type == IMAGE_BITMAP && !instance && nameIsId &&
             reinterpret_cast<std::uintptr_t>(name) == OBM_CHECKBOXES) {
    surface = CheckBoxGlyphs();
  } else if (!Resource(instance, name, type == IMAGE_BITMAP ? RT_BITMAP_ID : RT_ICON_ID, &data, &size)) {
    return nullptr;
  }
  HANDLE result = nullptr;
  if (type == IMAGE_BITMAP) {
    if (!surface) surface = DecodeBmp(data, size, &bpp);
    if (surface && (cx > 0 || cy > 0))
      surface = Scaled(surface, cx > 0 ? cx : surface->Width(), cy > 0 ? cy : surface->Height());
    if (surface && surface->HasAlpha()) surface = nullptr;
    if (!surface) {
      SetLastError(ERROR_INVALID_DATA);
      return nullptr;
    }
    auto b = std::make_shared<Bitmap>();
    b->surface = surface;
    b->bitsPerPixel = bpp == 1 ? 1 : 32;
    b->stock = (flags & LR_SHARED) != 0;
    if (nameIsId && !(flags & LR_LOADFROMFILE) && instance) b->resourceId = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
    result = InsertObject(b);
  } else {
    int want = cx > 0 ? cx : ((flags & LR_DEFAULTSIZE) ? GetSystemMetrics(SM_CXICON) : 16);
    surface = DecodeIco(data, size, want);
    if (!surface) {
      SetLastError(ERROR_INVALID_DATA);
      return nullptr;
    }
    if (cy > 0 && cy != surface->Height()) surface = Scaled(surface, want, cy);
    auto ic = std::make_shared<Icon>();
    ic->image = surface;
    if (nameIsId && !(flags & LR_LOADFROMFILE)) ic->resourceId = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
    ic->shared = ic->stock = (flags & LR_SHARED) != 0;
    result = InsertObject(ic);
  }
  if (result && (flags & LR_SHARED)) {
    std::lock_guard lk(g_sharedLock);
    SharedImages().emplace_back(key, result);
  }
  return result;
}

std::string NarrowName(LPCWSTR name) { return vkr::Utf16ToUtf8(vkr::View(name)); }

}  // namespace
}  // namespace vkr::ui::detail

using namespace vkr::ui::detail;

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadImageImpl(instance, name, IS_INTRESOURCE(name), type, cx, cy, flags);
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (IS_INTRESOURCE(name))
    return LoadImageImpl(instance, reinterpret_cast<LPCSTR>(name), true, type, cx, cy, flags);
  std::string narrow = NarrowName(name);
  return LoadImageImpl(instance, narrow.c_str(), false, type, cx, cy, flags);
}

HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name) {
  return static_cast<HBITMAP>(LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, 0));
}
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  return static_cast<HBITMAP>(LoadImageW(instance, name, IMAGE_BITMAP, 0, 0, 0));
}
HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  return static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, 16, 16, 0));
}
HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  return static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, 16, 16, 0));
}

BOOL DestroyIcon(HICON icon) {
  auto ic = Lookup<Icon>(icon, GdiType::Icon);
  if (!ic) return FALSE;
  if (ic->shared) return TRUE;
  if (!RemoveObject(icon)) return FALSE;
  return TRUE;
}

namespace vkr::ui {

int IconResourceId(HICON icon) {
  const auto object = detail::Lookup<detail::Icon>(icon, detail::GdiType::Icon);
  return object ? object->resourceId : 0;
}

int BitmapResourceId(HBITMAP bitmap) {
  const auto object = detail::Lookup<detail::Bitmap>(bitmap, detail::GdiType::Bitmap);
  return object ? object->resourceId : 0;
}

}  // namespace vkr::ui

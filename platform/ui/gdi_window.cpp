// Window DCs: GetDC, GetWindowDC, BeginPaint and EndPaint, and DefWindowProc's background erase.
// Each window draws into a picture of its own, the size of its window rectangle; the rendering
// puts the pictures of a tree together.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/ui/gdi_internal.h"
#include "platform/ui/windows.h"

namespace vkr::ui::detail {
namespace {

struct Pictures {
  std::mutex lock;
  std::unordered_map<HWND, std::shared_ptr<Surface>> byWindow;
};

Pictures& ThePictures() {
  static auto* p = new Pictures;
  return *p;
}

}  // namespace

std::shared_ptr<Surface> WindowSurface(HWND hwnd, bool create) {
  RECT wr{};
  if (!hwnd || !GetWindowRect(hwnd, &wr)) return nullptr;
  int w = std::max<int>(wr.right - wr.left, 0), h = std::max<int>(wr.bottom - wr.top, 0);
  Pictures& p = ThePictures();
  std::lock_guard lk(p.lock);
  auto it = p.byWindow.find(hwnd);
  if (it == p.byWindow.end()) {
    if (!create) return nullptr;
    // Pictures of destroyed windows go when a new one comes.
    for (auto i = p.byWindow.begin(); i != p.byWindow.end();) i = IsWindow(i->first) ? std::next(i) : p.byWindow.erase(i);
    return p.byWindow[hwnd] = std::make_shared<Surface>(w, h, true);
  }
  if (it->second->Width() != w || it->second->Height() != h) {
    auto resized = std::make_shared<Surface>(w, h, true);
    resized->CopyFrom(*it->second);
    it->second = resized;
  }
  return it->second;
}

void ForgetWindowSurface(HWND hwnd) {
  Pictures& p = ThePictures();
  std::lock_guard lk(p.lock);
  p.byWindow.erase(hwnd);
}

namespace {

// The client area's top-left corner in the window's picture.
POINT ClientOffset(HWND hwnd) {
  RECT wr{};
  GetWindowRect(hwnd, &wr);
  POINT c{0, 0};
  ClientToScreen(hwnd, &c);
  return POINT{c.x - wr.left, c.y - wr.top};
}

HDC WindowDc(HWND hwnd, DcKind kind, const RECT* update) {
  auto dc = NewDc(kind);
  dc->hwnd = hwnd;
  if (!hwnd) {
    dc->kind = DcKind::Desktop;
    return InsertDc(dc);
  }
  if (!IsWindow(hwnd)) return nullptr;
  dc->windowSurface = WindowSurface(hwnd, true);
  if (!dc->windowSurface) return nullptr;
  if (kind == DcKind::Window) {
    dc->limit = RECT{0, 0, dc->windowSurface->Width(), dc->windowSurface->Height()};
  } else {
    POINT off = ClientOffset(hwnd);
    RECT client{};
    GetClientRect(hwnd, &client);
    dc->origin = off;
    dc->limit = RECT{off.x, off.y, off.x + client.right, off.y + client.bottom};
    if (update) {
      dc->limit.left = std::max<LONG>(dc->limit.left, off.x + update->left);
      dc->limit.top = std::max<LONG>(dc->limit.top, off.y + update->top);
      dc->limit.right = std::min<LONG>(dc->limit.right, off.x + update->right);
      dc->limit.bottom = std::min<LONG>(dc->limit.bottom, off.y + update->bottom);
    }
  }
  return InsertDc(dc);
}

HDC HookGetDc(HWND hwnd) { return GetDC(hwnd); }
int HookReleaseDc(HWND hwnd, HDC dc) { return ReleaseDC(hwnd, dc); }
BOOL HookErase(HWND hwnd, HDC dc, HBRUSH brush) {
  if (!brush) return FALSE;
  RECT client{};
  if (!GetClientRect(hwnd, &client)) return FALSE;
  return FillRect(dc, &client, brush) ? TRUE : FALSE;
}

const PaintHooks kHooks{&HookGetDc, &HookReleaseDc, &HookErase};
const bool kHooksSet = (SetPaintHooks(&kHooks), true);

}  // namespace
}  // namespace vkr::ui::detail

using namespace vkr::ui::detail;

HDC GetDC(HWND hwnd) { return WindowDc(hwnd, DcKind::Client, nullptr); }

HDC GetWindowDC(HWND hwnd) { return WindowDc(hwnd, DcKind::Window, nullptr); }

int ReleaseDC(HWND, HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc || (dc->kind != DcKind::Client && dc->kind != DcKind::Window && dc->kind != DcKind::Desktop)) return 0;
  RemoveDc(hdc);
  return 1;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  *paint = PAINTSTRUCT{};
  RECT update{};
  bool erase = false;
  if (!hwnd || !vkr::ui::TakePaintRequest(hwnd, &update, &erase)) return nullptr;
  HDC hdc = WindowDc(hwnd, DcKind::Paint, &update);
  if (!hdc) return nullptr;
  paint->hdc = hdc;
  paint->rcPaint = update;
  // fErase: the background still needs erasing (WM_ERASEBKGND answered 0).
  if (erase) paint->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
  return hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  auto dc = LookupDc(paint->hdc);
  if (!dc || dc->kind != DcKind::Paint) return FALSE;
  RemoveDc(paint->hdc);
  return TRUE;
}

// Windows: geometry, visibility, enabled state, focus, activation, capture, and paint requests.
#include <algorithm>
#include <atomic>

#include "platform/com/hresult.h"
#include "platform/ui/window_internal.h"
#include "platform/win/lasterror.h"
#include "platform/win/threads.h"

namespace vkr::ui::detail {
namespace {

std::mutex g_paintHooksLock;
vkr::ui::PaintHooks g_paintHooks{};

vkr::ui::PaintHooks PaintHooksNow() {
  std::lock_guard lk(g_paintHooksLock);
  return g_paintHooks;
}

bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return Empty(r) ? RECT{} : r;
}

RECT Union(const RECT& a, const RECT& b) {
  if (Empty(a)) return b;
  if (Empty(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

bool Contains(const RECT& outer, const RECT& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

RECT ClientRectLocked(const Window& w) {
  SIZE s = ClientSizeLocked(w);
  return RECT{0, 0, s.cx, s.cy};
}

POINT WindowOriginLocked(const Window& w) {
  POINT base{0, 0};
  if (w.parent)
    if (auto p = FindLocked(w.parent)) base = ClientOriginLocked(*p);
  return {base.x + w.rect.left, base.y + w.rect.top};
}

void ValidateLocked(Window& w, const RECT* rect, bool children) {
  if (!rect || Contains(*rect, w.update)) {
    w.hasUpdate = false;
    w.erase = false;
    w.update = RECT{};
  }
  w.internalPaint = false;
  if (!children) return;
  for (HWND c : w.children)
    if (auto cw = FindLocked(c)) ValidateLocked(*cw, nullptr, true);
}

bool ChildrenIncluded(const Window& w, UINT flags) {
  if (flags & RDW_ALLCHILDREN) return true;
  if (flags & RDW_NOCHILDREN) return false;
  return !(w.style & WS_CLIPCHILDREN);
}

// Sends WM_PAINT to the window (and its children when asked) that need painting.
void PaintNow(HWND hwnd, bool children) {
  bool paint = false;
  std::vector<HWND> kids;
  {
    std::lock_guard lk(WindowLock());
    auto w = FindLocked(hwnd);
    if (!w) return;
    paint = (w->hasUpdate || w->internalPaint) && VisibleLocked(*w);
    if (children) kids = w->children;
  }
  if (paint) SendMessageW(hwnd, WM_PAINT, 0, 0);
  for (HWND c : kids) PaintNow(c, true);
}

bool InSubtreeLocked(HWND h, HWND root) {
  while (h) {
    if (h == root) return true;
    auto w = FindLocked(h);
    if (!w) return false;
    h = w->parent;
  }
  return false;
}

}  // namespace

void InvalidateLocked(Window& w, const RECT* rect, bool erase, bool children) {
  RECT client = ClientRectLocked(w);
  RECT r = rect ? Intersect(*rect, client) : client;
  if (!Empty(r)) {
    w.update = w.hasUpdate ? Union(w.update, r) : r;
    w.hasUpdate = true;
    if (erase) w.erase = true;
  }
  if (!children) return;
  for (HWND c : w.children) {
    auto cw = FindLocked(c);
    if (!cw) continue;
    RECT inChild = Empty(r) ? RECT{} : r;
    if (rect && !Empty(r)) {
      // Into the child's client coordinates.
      Insets in = FrameInsets(cw->style, cw->exStyle);
      LONG dx = cw->rect.left + in.side, dy = cw->rect.top + in.top;
      inChild = RECT{r.left - dx, r.top - dy, r.right - dx, r.bottom - dy};
      if (Empty(Intersect(inChild, ClientRectLocked(*cw)))) continue;
    } else if (Empty(r)) {
      continue;
    }
    InvalidateLocked(*cw, rect ? &inChild : nullptr, erase, ChildrenIncluded(*cw, 0));
  }
}

ThreadUi& CurrentThreadUi() {
  thread_local ThreadUi ui;
  return ui;
}

void SetKeyDown(int vk, bool down) {
  BYTE& k = CurrentThreadUi().keys[vk & 0xFF];
  if (down && !(k & 0x80)) k ^= 1;  // toggled on each press
  k = static_cast<BYTE>(down ? (k | 0x80) : (k & ~0x80));
}

HDC PaintHookDC(HWND hwnd) {
  auto h = PaintHooksNow();
  return h.getDC ? h.getDC(hwnd) : nullptr;
}
void PaintHookReleaseDC(HWND hwnd, HDC dc) {
  auto h = PaintHooksNow();
  if (h.releaseDC) h.releaseDC(hwnd, dc);
}
BOOL PaintHookErase(HWND hwnd, HDC dc, HBRUSH brush) {
  auto h = PaintHooksNow();
  return h.eraseBackground ? h.eraseBackground(hwnd, dc, brush) : FALSE;
}

}  // namespace vkr::ui::detail

using namespace vkr::ui::detail;

// ---- Geometry ----

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  WINDOWPOS pos{hwnd, insertAfter, x, y, cx, cy, flags};
  {
    std::lock_guard lk(WindowLock());
    if (flags & SWP_NOMOVE) {
      pos.x = w->rect.left;
      pos.y = w->rect.top;
    }
    if (flags & SWP_NOSIZE) {
      pos.cx = w->rect.right - w->rect.left;
      pos.cy = w->rect.bottom - w->rect.top;
    }
  }
  if (!(flags & SWP_NOSENDCHANGING)) SendMessageW(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  bool moved = false, sized = false, shown = false, hidden = false;
  {
    std::lock_guard lk(WindowLock());
    if (w->dead) return FALSE;
    // The WINDOWPOS as the window left it holds.
    RECT r = w->rect;
    if (!(pos.flags & SWP_NOMOVE)) {
      long long width = static_cast<long long>(r.right) - r.left, height = static_cast<long long>(r.bottom) - r.top;
      r = RECT{pos.x, pos.y, AddClamped(pos.x, width), AddClamped(pos.y, height)};
    }
    if (!(pos.flags & SWP_NOSIZE)) {
      r.right = AddClamped(r.left, std::max(0, pos.cx));
      r.bottom = AddClamped(r.top, std::max(0, pos.cy));
    }
    moved = r.left != w->rect.left || r.top != w->rect.top;
    sized = (r.right - r.left) != (w->rect.right - w->rect.left) || (r.bottom - r.top) != (w->rect.bottom - w->rect.top);
    w->rect = r;
    if (!(pos.flags & SWP_NOZORDER)) {
      std::vector<HWND>* siblings = &TopLevelLocked();
      if (w->parent)
        if (auto p = FindLocked(w->parent)) siblings = &p->children;
      HWND after = pos.hwndInsertAfter;
      if (after != hwnd && (after == HWND_TOP || after == HWND_BOTTOM || after == HWND_TOPMOST ||
                            after == HWND_NOTOPMOST ||
                            std::find(siblings->begin(), siblings->end(), after) != siblings->end())) {
        std::erase(*siblings, hwnd);
        if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST)
          siblings->insert(siblings->begin(), hwnd);
        else if (after == HWND_BOTTOM)
          siblings->push_back(hwnd);
        else
          siblings->insert(std::find(siblings->begin(), siblings->end(), after) + 1, hwnd);
      }
    }
    if ((pos.flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
      w->style |= WS_VISIBLE;
      shown = true;
    }
    if ((pos.flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
      w->style &= ~WS_VISIBLE;
      hidden = true;
      ValidateLocked(*w, nullptr, true);
    }
    if ((sized || shown) && !(pos.flags & SWP_NOREDRAW)) InvalidateLocked(*w, nullptr, true, true);
  }
  pos.flags |= (moved ? 0 : SWP_NOMOVE) | (sized ? 0 : SWP_NOSIZE);
  if (!(pos.flags & SWP_NOSENDCHANGING) || moved || sized || shown || hidden)
    SendMessageW(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  if (!rect) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  std::lock_guard lk(WindowLock());
  POINT o = WindowOriginLocked(*w);
  *rect = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  if (!rect) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  std::lock_guard lk(WindowLock());
  *rect = ClientRectLocked(*w);
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  POINT a{0, 0}, b{0, 0};
  HWND desktop = GetDesktopWindow();
  {
    std::lock_guard lk(WindowLock());
    if (from && from != desktop) {
      auto w = FindLocked(from);
      if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
      a = ClientOriginLocked(*w);
    }
    if (to && to != desktop) {
      auto w = FindLocked(to);
      if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
      b = ClientOriginLocked(*w);
    }
  }
  LONG dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  SetLastError(0);
  return static_cast<int>(MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  auto w = Find(hwnd);
  if (!w || !point) return FALSE;
  std::lock_guard lk(WindowLock());
  POINT o = ClientOriginLocked(*w);
  point->x += o.x;
  point->y += o.y;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  auto w = Find(hwnd);
  if (!w || !point) return FALSE;
  std::lock_guard lk(WindowLock());
  POINT o = ClientOriginLocked(*w);
  point->x -= o.x;
  point->y -= o.y;
  return TRUE;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL, DWORD exStyle) {
  if (!rect) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  Insets in = FrameInsets(style, exStyle);
  rect->left -= in.side;
  rect->right += in.side;
  rect->top -= in.top;
  rect->bottom += in.side;
  return TRUE;
}

namespace {
HWND HitLocked(HWND hwnd, POINT screen) {
  auto w = FindLocked(hwnd);
  if (!w || !(w->style & WS_VISIBLE)) return nullptr;
  POINT o = WindowOriginLocked(*w);
  if (screen.x < o.x || screen.y < o.y || screen.x >= o.x + (w->rect.right - w->rect.left) ||
      screen.y >= o.y + (w->rect.bottom - w->rect.top))
    return nullptr;
  // The first child in z-order (creation order) that holds the point.
  for (HWND c : w->children)
    if (HWND hit = HitLocked(c, screen)) return hit;
  return hwnd;
}
}  // namespace

HWND WindowFromPoint(POINT point) {
  std::lock_guard lk(WindowLock());
  for (HWND t : TopLevelLocked())
    if (HWND hit = HitLocked(t, point)) return hit;
  return nullptr;
}

BOOL ScrollWindow(HWND hwnd, int dx, int dy, LPCRECT, LPCRECT) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  std::vector<HWND> children;
  {
    std::lock_guard lk(WindowLock());
    children = w->children;
  }
  for (HWND c : children) {
    RECT r;
    {
      std::lock_guard lk(WindowLock());
      auto cw = FindLocked(c);
      if (!cw) continue;
      r = cw->rect;
    }
    SetWindowPos(c, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  std::lock_guard lk(WindowLock());
  if (!w->dead) InvalidateLocked(*w, nullptr, true, false);
  return TRUE;
}

// ---- Visibility and enabled state ----

BOOL ShowWindow(HWND hwnd, int cmd) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool was, topLevel;
  {
    std::lock_guard lk(WindowLock());
    was = (w->style & WS_VISIBLE) != 0;
    topLevel = !(w->style & WS_CHILD);
  }
  bool show = cmd != SW_HIDE;
  if (show != was) {
    SendMessageW(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
  bool activates = cmd == SW_SHOW || cmd == SW_SHOWNORMAL || cmd == SW_RESTORE || cmd == SW_SHOWMAXIMIZED ||
                   cmd == SW_SHOWDEFAULT;
  if (show && topLevel && activates && Alive(hwnd) && w->thread == GetCurrentThreadId()) SetActiveWindow(hwnd);
  if (!show && Alive(hwnd) && GetActiveWindow() == hwnd) CurrentThreadUi().active = nullptr;
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  std::lock_guard lk(WindowLock());
  return VisibleLocked(*w) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool wasDisabled, loseFocus = false;
  const DWORD me = GetCurrentThreadId();
  {
    std::lock_guard lk(WindowLock());
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
      HWND focus = w->thread == me ? CurrentThreadUi().focus : nullptr;
      loseFocus = focus && InSubtreeLocked(focus, hwnd);
    }
    InvalidateLocked(*w, nullptr, true, true);
  }
  if (loseFocus) SetFocus(nullptr);
  SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  std::lock_guard lk(WindowLock());
  return (w->style & WS_DISABLED) ? FALSE : TRUE;
}

// ---- Focus, activation, capture ----

HWND SetFocus(HWND hwnd) {
  ThreadUi& ui = CurrentThreadUi();
  HWND old = ui.focus;
  if (hwnd) {
    auto w = Find(hwnd);
    if (!w) return nullptr;
    const DWORD me = GetCurrentThreadId();
    {
      std::lock_guard lk(WindowLock());
      if (w->thread != me || w->destroying || !EnabledLocked(*w)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
    }
    if (hwnd == old) return old;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (ui.active != root) ui.active = root;
  }
  ui.focus = hwnd;
  if (old && Alive(old)) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  // A WM_KILLFOCUS handler that moved the focus elsewhere has the last word.
  if (hwnd && ui.focus == hwnd && Alive(hwnd)) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() {
  HWND f = CurrentThreadUi().focus;
  return Alive(f) ? f : nullptr;
}

HWND GetActiveWindow() {
  HWND a = CurrentThreadUi().active;
  return Alive(a) ? a : nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  HWND root = GetAncestor(hwnd, GA_ROOT);
  ThreadUi& ui = CurrentThreadUi();
  HWND old = ui.active;
  if (old == root) return old;
  ui.active = root;
  if (old && Alive(old))
    SendMessageW(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(root));
  if (Alive(root)) SendMessageW(root, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), reinterpret_cast<LPARAM>(old));
  return old;
}

HWND SetCapture(HWND hwnd) {
  if (!Find(hwnd)) return nullptr;
  ThreadUi& ui = CurrentThreadUi();
  HWND old = ui.capture;
  ui.capture = hwnd;
  if (old && old != hwnd && Alive(old))
    SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return old;
}

HWND GetCapture() {
  HWND c = CurrentThreadUi().capture;
  return Alive(c) ? c : nullptr;
}

BOOL ReleaseCapture() {
  ThreadUi& ui = CurrentThreadUi();
  HWND old = ui.capture;
  ui.capture = nullptr;
  if (old && Alive(old)) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

namespace {
std::atomic<LONG> g_cursorX{0}, g_cursorY{0};
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  *point = POINT{g_cursorX.load(), g_cursorY.load()};
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  g_cursorX = std::clamp(x, 0, vkr::ui::kDesktopWidth - 1);
  g_cursorY = std::clamp(y, 0, vkr::ui::kDesktopHeight - 1);
  return TRUE;
}

SHORT GetKeyState(int vk) {
  BYTE k = CurrentThreadUi().keys[vk & 0xFF];
  return static_cast<SHORT>(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

SHORT GetAsyncKeyState(int vk) {
  BYTE k = CurrentThreadUi().keys[vk & 0xFF];
  return static_cast<SHORT>((k & 0x80) ? 0x8000 : 0);
}

// ---- Paint requests ----

BOOL InvalidateRect(HWND hwnd, LPCRECT rect, BOOL erase) {
  return RedrawWindow(hwnd, rect, nullptr, RDW_INVALIDATE | (erase ? RDW_ERASE : 0));
}

BOOL ValidateRect(HWND hwnd, LPCRECT rect) { return RedrawWindow(hwnd, rect, nullptr, RDW_VALIDATE | RDW_NOCHILDREN); }

BOOL UpdateWindow(HWND hwnd) {
  if (!Find(hwnd)) return FALSE;
  PaintNow(hwnd, false);
  return TRUE;
}

BOOL RedrawWindow(HWND hwnd, LPCRECT update, HRGN, UINT flags) {
  std::vector<HWND> targets;
  if (!hwnd || hwnd == GetDesktopWindow()) {
    const DWORD me = GetCurrentThreadId();
    std::lock_guard lk(WindowLock());
    for (HWND t : TopLevelLocked())
      if (auto w = FindLocked(t); w && w->thread == me) targets.push_back(t);
    flags |= RDW_ALLCHILDREN;
    update = nullptr;
  } else {
    if (!Find(hwnd)) return FALSE;
    targets.push_back(hwnd);
  }
  bool children = false;
  for (HWND t : targets) {
    std::lock_guard lk(WindowLock());
    auto w = FindLocked(t);
    if (!w) continue;
    children = ChildrenIncluded(*w, flags);
    if (flags & RDW_INVALIDATE) InvalidateLocked(*w, update, (flags & RDW_ERASE) != 0, children);
    if (flags & RDW_INTERNALPAINT) w->internalPaint = true;
    if (flags & RDW_VALIDATE) ValidateLocked(*w, update, children);
    if (flags & RDW_NOINTERNALPAINT) w->internalPaint = false;
    if (flags & RDW_NOERASE) w->erase = false;
  }
  for (HWND t : targets) {
    if (flags & RDW_ERASENOW) {
      bool erase = false;
      {
        std::lock_guard lk(WindowLock());
        auto w = FindLocked(t);
        erase = w && w->erase && VisibleLocked(*w);
        if (erase) w->erase = false;
      }
      if (erase)
        if (HDC dc = PaintHookDC(t)) {
          SendMessageW(t, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
          PaintHookReleaseDC(t, dc);
        }
    }
    if (flags & RDW_UPDATENOW) PaintNow(t, (flags & RDW_ALLCHILDREN) != 0 || children);
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool has, sendErase = false;
  {
    std::lock_guard lk(WindowLock());
    has = w->hasUpdate;
    if (rect) *rect = has ? w->update : RECT{};
    if (erase && w->erase) {
      sendErase = true;
      w->erase = false;
    }
  }
  if (sendErase)
    if (HDC dc = PaintHookDC(hwnd)) {
      SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
      PaintHookReleaseDC(hwnd, dc);
    }
  return has ? TRUE : FALSE;
}

namespace vkr::ui {

std::vector<HWND> WindowsNeedingPaint(DWORD threadId) {
  std::vector<HWND> out;
  std::lock_guard lk(WindowLock());
  auto visit = [&](auto&& self, HWND h) -> void {
    auto w = FindLocked(h);
    if (!w || !(w->style & WS_VISIBLE)) return;
    if (w->thread == threadId && (w->hasUpdate || w->internalPaint)) out.push_back(h);
    for (HWND c : w->children) self(self, c);
  };
  for (HWND t : TopLevelLocked()) visit(visit, t);
  return out;
}

bool TakePaintRequest(HWND hwnd, RECT* update, bool* erase) {
  std::lock_guard lk(WindowLock());
  auto w = FindLocked(hwnd);
  if (!w) return false;
  if (update) *update = w->hasUpdate ? w->update : RECT{};
  if (erase) *erase = w->erase;
  w->hasUpdate = false;
  w->erase = false;
  w->internalPaint = false;
  w->update = RECT{};
  return true;
}

void SetPaintHooks(const PaintHooks* hooks) {
  std::lock_guard lk(g_paintHooksLock);
  g_paintHooks = hooks ? *hooks : PaintHooks{};
}

}  // namespace vkr::ui

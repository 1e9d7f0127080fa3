// Internal: the window table shared by the window core's sources.
//
// One lock (WindowLock) guards every window's fields, the class table and the top-level list. It
// is never held while a window procedure runs or while the queues are touched (the queue lock,
// SyncMutex, may be held when it is taken: the queue asks for paints under its own lock).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/windows.h"
#include "platform/win/handles.h"

namespace vkr::ui::detail {

struct WindowClass {
  ATOM atom = 0;
  std::u16string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  bool unicode = false;
  int clsExtra = 0;
  int wndExtra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HICON iconSmall = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  std::u16string menuName;
  bool builtin = false;
  bool textMessages = false;
  int windows = 0;
  std::vector<BYTE> extra;
};

struct Window final : vkr::platform::HandleObject {
  vkr::platform::HandleKind Kind() const override { return vkr::platform::HandleKind::Window; }

  HWND hwnd = nullptr;
  DWORD thread = 0;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  bool unicode = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  HINSTANCE instance = nullptr;
  std::vector<BYTE> extra;
  std::u16string text;
  HWND parent = nullptr;  // the parent of a child window
  HWND owner = nullptr;   // the owner of a top-level window
  std::vector<HWND> children;
  RECT rect{};            // in the parent's client coordinates; screen coordinates for a top-level one
  bool destroying = false;
  bool dead = false;
  // Paint requests, in client coordinates.
  RECT update{};
  bool hasUpdate = false;
  bool erase = false;
  bool internalPaint = false;
  void* object = nullptr;
  std::vector<std::pair<std::u16string, HANDLE>> props;
};

std::mutex& WindowLock();
// The live window (destroying ones included) or null with ERROR_INVALID_WINDOW_HANDLE.
std::shared_ptr<Window> Find(HWND hwnd);
// Whether hwnd is a live window; touches no error.
bool Alive(HWND hwnd);
// As Find, lock held, setting no error.
std::shared_ptr<Window> FindLocked(HWND hwnd);
std::vector<HWND>& TopLevelLocked();

// a + b kept within LONG: positions come from callers unchecked.
inline LONG AddClamped(long long a, long long b) {
  long long r = a + b;
  return static_cast<LONG>(r > 0x7FFFFFFFLL ? 0x7FFFFFFFLL : (r < -0x7FFFFFFFLL - 1 ? -0x7FFFFFFFLL - 1 : r));
}

// The frame widths (left/right/bottom) and the top inset of a style.
struct Insets {
  int side;
  int top;
};
Insets FrameInsets(DWORD style, DWORD exStyle);
// Client area size of a window. Lock held.
SIZE ClientSizeLocked(const Window& w);
// Screen position of the client origin. Lock held.
POINT ClientOriginLocked(const Window& w);

// Marks the window's whole client area (or rect) for painting. Lock held.
void InvalidateLocked(Window& w, const RECT* rect, bool erase, bool children);
// Whether the window and its ancestors are visible. Lock held.
bool VisibleLocked(const Window& w);
bool EnabledLocked(const Window& w);

// Per-thread state of the window system: focus, active window, capture, key state.
struct ThreadUi {
  HWND focus = nullptr;
  HWND active = nullptr;
  HWND capture = nullptr;
  BYTE keys[256]{};
};
ThreadUi& CurrentThreadUi();
void SetKeyDown(int vk, bool down);

// Runs a window procedure for a message with the caller's width, converting text messages when
// the widths differ.
LRESULT CallProcedure(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam, bool unicode);
// GDI's side of the default procedure (SetPaintHooks); null DC and FALSE while unset.
HDC PaintHookDC(HWND hwnd);
void PaintHookReleaseDC(HWND hwnd, HDC dc);
BOOL PaintHookErase(HWND hwnd, HDC dc, HBRUSH brush);
// Installs the window system's queue hooks (idempotent).
void EnsureHooks();
// Puts hook in the dialog manager's slot unless the slot holds one already.
void InstallDialogHookIfCleared(BOOL (*hook)(MSG* msg));

}  // namespace vkr::ui::detail

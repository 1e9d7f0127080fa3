// Scroll bars: the scroll bar control (SBS_HORZ, SBS_VERT) and the bars of any window
// (WS_HSCROLL, WS_VSCROLL): range, page, position and track position with the Windows clamp, and
// the user's scrolling as WM_HSCROLL / WM_VSCROLL requests.
#include <algorithm>
#include <map>
#include <mutex>

#include "platform/ui/control_internal.h"
#include "platform/win/shell.h"

namespace vkr::ui::controls {
namespace {

struct Bar {
  int min = 0;
  int max = 100;
  UINT page = 0;
  int pos = 0;
  int trackPos = 0;
  bool tracking = false;
  bool shown = true;
  UINT disabledArrows = ESB_ENABLE_BOTH;

  // The page never exceeds the range; the position stays within min .. max - max(page - 1, 0).
  void Clamp() {
    if (max < min) max = min;
    const long long span = static_cast<long long>(max) - min + 1;
    if (page > span) page = static_cast<UINT>(span);
    const int hi = std::max(max - std::max(static_cast<int>(page) - 1, 0), min);
    pos = std::clamp(pos, min, hi);
  }

  int Set(const SCROLLINFO& info) {
    if (info.fMask & SIF_RANGE) {
      min = info.nMin;
      max = info.nMax;
    }
    if (info.fMask & SIF_PAGE) page = info.nPage;
    if (info.fMask & SIF_POS) pos = info.nPos;
    Clamp();
    return pos;
  }

  void Get(SCROLLINFO* info) const {
    if (info->fMask & SIF_RANGE) {
      info->nMin = min;
      info->nMax = max;
    }
    if (info->fMask & SIF_PAGE) info->nPage = page;
    if (info->fMask & SIF_POS) info->nPos = pos;
    if (info->fMask & SIF_TRACKPOS) info->nTrackPos = tracking ? trackPos : pos;
  }
};

// The bars of ordinary windows, by window and bar. Handles are never reused, so an entry of a
// destroyed window is only dead weight until the process ends.
std::mutex& WindowBarsLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::pair<HWND, int>, Bar>& WindowBars() {
  static std::map<std::pair<HWND, int>, Bar> bars;
  return bars;
}

class ScrollBar final : public Control {
 public:
  using Control::Control;
  Bar bar;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case SBM_SETSCROLLINFO: {
        const auto* info = reinterpret_cast<LPCSCROLLINFO>(lParam);
        if (!info) return 0;
        const int pos = bar.Set(*info);
        if (wParam) InvalidateRect(hwnd_, nullptr, TRUE);
        return pos;
      }
      case SBM_GETSCROLLINFO: {
        auto* info = reinterpret_cast<LPSCROLLINFO>(lParam);
        if (!info || !(info->fMask & SIF_ALL)) return FALSE;
        bar.Get(info);
        return TRUE;
      }
      case SBM_SETPOS: {
        const int old = bar.pos;
        bar.pos = static_cast<int>(static_cast<LONG>(wParam));
        bar.Clamp();
        if (lParam) InvalidateRect(hwnd_, nullptr, TRUE);
        return old;
      }
      case SBM_GETPOS:
        return bar.pos;
      case SBM_SETRANGE:
      case SBM_SETRANGEREDRAW: {
        const int old = bar.pos;
        bar.min = static_cast<int>(static_cast<LONG>(wParam));
        bar.max = static_cast<int>(static_cast<LONG>(lParam));
        bar.Clamp();
        if (message == SBM_SETRANGEREDRAW) InvalidateRect(hwnd_, nullptr, TRUE);
        return old;
      }
      case SBM_GETRANGE:
        if (wParam) *reinterpret_cast<int*>(wParam) = bar.min;
        if (lParam) *reinterpret_cast<int*>(lParam) = bar.max;
        return 0;
      case SBM_ENABLE_ARROWS:
        bar.disabledArrows = static_cast<UINT>(wParam);
        return TRUE;
      case WM_KEYDOWN: {
        WORD code;
        switch (wParam) {
          case VK_UP: case VK_LEFT: code = SB_LINEUP; break;
          case VK_DOWN: case VK_RIGHT: code = SB_LINEDOWN; break;
          case VK_PRIOR: code = SB_PAGEUP; break;
          case VK_NEXT: code = SB_PAGEDOWN; break;
          case VK_HOME: code = SB_TOP; break;
          case VK_END: code = SB_BOTTOM; break;
          default: return 0;
        }
        Request(code, 0);
        Request(SB_ENDSCROLL, 0);
        return 0;
      }
      case WM_GETDLGCODE:
        return kDlgcWantArrows;
      default:
        return Default(message, wParam, lParam);
    }
  }

  bool Vertical() const { return (Style() & SBS_VERT) != 0; }

  // A request to the parent, as the user's mouse or keys make it; the parent moves the bar.
  void Request(WORD code, int thumb) {
    HWND parent = GetParent(hwnd_);
    if (!parent) return;
    SendMessageW(parent, Vertical() ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, static_cast<WORD>(thumb)),
                 reinterpret_cast<LPARAM>(hwnd_));
  }

  void Fill(ControlState* state) const override {
    state->scrollMin = bar.min;
    state->scrollMax = bar.max;
    state->scrollPage = static_cast<int>(bar.page);
    state->scrollPos = bar.pos;
    state->scrollTrackPos = bar.tracking ? bar.trackPos : bar.pos;
  }

  std::string Describe() const override {
    return " range=" + std::to_string(bar.min) + ".." + std::to_string(bar.max) + " page=" + std::to_string(bar.page) +
           " pos=" + std::to_string(bar.pos);
  }
};

// The bar a call addresses, under the lock for window bars. create: SetScrollInfo makes a window's
// bar; the getters find one only when it was set or the window has the style.
template <class F>
auto WithBar(HWND hwnd, int which, bool create, F f) -> decltype(f(std::declval<Bar&>())) {
  using R = decltype(f(std::declval<Bar&>()));
  if (!IsWindow(hwnd)) return R{};
  if (which == SB_CTL) {
    auto control = FindAs<ScrollBar>(hwnd);
    if (!control) return R{};
    return f(control->bar);
  }
  if (which != SB_HORZ && which != SB_VERT) return R{};
  std::unique_lock<std::mutex> lock(WindowBarsLock());
  auto key = std::make_pair(hwnd, which);
  auto it = WindowBars().find(key);
  if (it == WindowBars().end()) {
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const bool has = (style & (which == SB_HORZ ? WS_HSCROLL : WS_VSCROLL)) != 0;
    if (!create && !has) return R{};
    it = WindowBars().emplace(key, Bar{}).first;
  }
  Bar copy = it->second;
  lock.unlock();
  auto result = f(copy);
  lock.lock();
  WindowBars()[key] = copy;
  return result;
}

}  // namespace

void RegisterScrollBar() {
  RegisterBuiltinClass({u"ScrollBar", CS_DBLCLKS | CS_PARENTDC | CS_HREDRAW | CS_VREDRAW | CS_GLOBALCLASS,
                        &ControlProc<ScrollBar>, 0, nullptr, nullptr, false});
}

// The user's scrolling of a bar: what a person's click on an arrow (line), in the shaft (page) or
// drag of the thumb to `thumb` sends, ending with SB_ENDSCROLL. A window's own bar talks to the
// window (lParam null), a control to its parent.
bool UserScroll(HWND hwnd, int which, WORD code, int thumb) {
  if (!IsWindow(hwnd) || !IsWindowEnabled(hwnd)) return false;
  HWND target = hwnd;
  LPARAM from = 0;
  UINT message = which == SB_VERT ? WM_VSCROLL : WM_HSCROLL;
  auto control = which == SB_CTL ? FindAs<ScrollBar>(hwnd) : nullptr;
  if (which == SB_CTL) {
    if (!control) return false;
    target = GetParent(hwnd);
    from = reinterpret_cast<LPARAM>(hwnd);
    message = control->Vertical() ? WM_VSCROLL : WM_HSCROLL;
  } else if (!WithBar(hwnd, which, false, [](Bar&) { return true; })) {
    return false;
  }
  if (!target) return false;
  auto send = [&](WORD c, int pos) {
    SendMessageW(target, message, MAKEWPARAM(c, static_cast<WORD>(pos)), from);
  };
  if (code == SB_THUMBTRACK || code == SB_THUMBPOSITION) {
    const int to = WithBar(hwnd, which, false, [thumb](Bar& b) {
      const int hi = std::max(b.max - std::max(static_cast<int>(b.page) - 1, 0), b.min);
      b.tracking = true;
      b.trackPos = std::clamp(thumb, b.min, hi);
      return b.trackPos;
    });
    send(SB_THUMBTRACK, to);
    WithBar(hwnd, which, false, [](Bar& b) { b.tracking = false; return 0; });
    send(SB_THUMBPOSITION, to);
  } else {
    send(code, 0);
  }
  send(SB_ENDSCROLL, 0);
  return true;
}

}  // namespace vkr::ui::controls

using vkr::ui::controls::WithBar;

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw) {
  if (!info) return 0;
  const int pos = WithBar(hwnd, bar, true, [info](vkr::ui::controls::Bar& b) { return b.Set(*info); });
  if (redraw) InvalidateRect(hwnd, nullptr, TRUE);
  return pos;
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info) {
  if (!info || !(info->fMask & SIF_ALL)) return FALSE;
  return WithBar(hwnd, bar, false, [info](vkr::ui::controls::Bar& b) {
    b.Get(info);
    return TRUE;
  });
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
  const int old = WithBar(hwnd, bar, true, [pos](vkr::ui::controls::Bar& b) {
    const int before = b.pos;
    b.pos = pos;
    b.Clamp();
    return before;
  });
  if (redraw) InvalidateRect(hwnd, nullptr, TRUE);
  return old;
}

int GetScrollPos(HWND hwnd, int bar) {
  return WithBar(hwnd, bar, false, [](vkr::ui::controls::Bar& b) { return b.pos; });
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
  const BOOL ok = WithBar(hwnd, bar, true, [minPos, maxPos](vkr::ui::controls::Bar& b) {
    b.min = minPos;
    b.max = maxPos;
    b.Clamp();
    return TRUE;
  });
  if (ok && redraw) InvalidateRect(hwnd, nullptr, TRUE);
  return ok;
}

BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos) {
  return WithBar(hwnd, bar, false, [minPos, maxPos](vkr::ui::controls::Bar& b) {
    if (minPos) *minPos = b.min;
    if (maxPos) *maxPos = b.max;
    return TRUE;
  });
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
  if (bar == SB_CTL) {
    if (!IsWindow(hwnd)) return FALSE;
    ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
    return TRUE;
  }
  if (bar == SB_BOTH) return ShowScrollBar(hwnd, SB_HORZ, show) && ShowScrollBar(hwnd, SB_VERT, show);
  return WithBar(hwnd, bar, true, [show](vkr::ui::controls::Bar& b) {
    b.shown = show != FALSE;
    return TRUE;
  });
}

BOOL EnableScrollBar(HWND hwnd, UINT bar, UINT arrows) {
  return WithBar(hwnd, static_cast<int>(bar), bar != SB_CTL, [arrows](vkr::ui::controls::Bar& b) {
    b.disabledArrows = arrows;
    return TRUE;
  });
}

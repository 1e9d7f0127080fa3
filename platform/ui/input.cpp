// Keyboard translation and the input helpers: a person's clicks and keys as Windows delivers them.
//
// The helpers post each input event to the window's queue and pump it through the host loop's
// handling before the next one, so filters, the dialog manager and TranslateMessage see it as
// they would see real input, and the key state is that of the moment the event happened.
#include <map>
#include <mutex>

#include "platform/ui/window_internal.h"
#include "platform/win/casefold.h"
#include "platform/win/text.h"
#include "platform/win/threads.h"

namespace {

using namespace vkr::ui::detail;

// The character a helper meant is carried above the 32 bits Windows uses in a key message's
// lParam, so characters without a key of their own survive translation.
constexpr int kCharShift = 32;
constexpr LPARAM kCharPresent = static_cast<LPARAM>(1) << 48;

bool Down(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

// The US layout of the character keys.
WCHAR CharOfKey(int vk, bool shift, bool control) {
  if (vk >= 'A' && vk <= 'Z') {
    if (control) return static_cast<WCHAR>(vk - 'A' + 1);
    bool upper = shift != ((GetKeyState(VK_CAPITAL) & 1) != 0);
    return static_cast<WCHAR>(upper ? vk : vk + 32);
  }
  if (control) return 0;
  if (vk >= '0' && vk <= '9') {
    static const char16_t shifted[] = u")!@#$%^&*(";
    return shift ? shifted[vk - '0'] : static_cast<WCHAR>(vk);
  }
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return static_cast<WCHAR>('0' + vk - VK_NUMPAD0);
  switch (vk) {
    case VK_SPACE:
      return u' ';
    case VK_TAB:
      return u'\t';
    case VK_RETURN:
      return u'\r';
    case VK_ESCAPE:
      return 0x1B;
    case VK_BACK:
      return 0x08;
    case VK_OEM_COMMA:
      return shift ? u'<' : u',';
    case VK_OEM_PERIOD:
      return shift ? u'>' : u'.';
    case VK_OEM_MINUS:
      return shift ? u'_' : u'-';
    case VK_OEM_PLUS:
      return shift ? u'+' : u'=';
    case VK_DECIMAL:
      return u'.';
    case VK_ADD:
      return u'+';
    case VK_SUBTRACT:
      return u'-';
    case VK_MULTIPLY:
      return u'*';
    case VK_DIVIDE:
      return u'/';
    default:
      return 0;
  }
}

struct KeyOf {
  int vk;
  bool shift;
};

// The key a character is typed with, or VK_PACKET.
KeyOf KeyOfChar(char16_t c) {
  if (c >= u'a' && c <= u'z') return {c - 32, false};
  if (c >= u'A' && c <= u'Z') return {c, true};
  if (c >= u'0' && c <= u'9') return {c, false};
  switch (c) {
    case u' ':
      return {VK_SPACE, false};
    case u'\t':
      return {VK_TAB, false};
    case u'\r':
    case u'\n':
      return {VK_RETURN, false};
    case u',':
      return {VK_OEM_COMMA, false};
    case u'.':
      return {VK_OEM_PERIOD, false};
    case u'-':
      return {VK_OEM_MINUS, false};
    case u'+':
      return {VK_OEM_PLUS, true};
    case 0x08:
      return {VK_BACK, false};
    default:
      return {VK_PACKET, false};
  }
}

bool OwnedHere(HWND hwnd) {
  auto w = Find(hwnd);
  return w && w->thread == GetCurrentThreadId();
}

// Where keyboard input goes now: the focus window, else the active window, else the fallback.
HWND KeyTarget(HWND fallback) {
  if (HWND f = GetFocus()) return f;
  if (HWND a = GetActiveWindow()) return a;
  return Alive(fallback) ? fallback : nullptr;
}

void PostAndPump(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  if (hwnd && PostMessageW(hwnd, message, wp, lp)) vkr::ui::PumpUntilIdle();
}

LPARAM KeyLParam(bool up, bool alt) {
  LPARAM lp = 1;
  if (alt) lp |= static_cast<LPARAM>(1) << 29;
  if (up) lp |= (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
  return lp;
}

// One key event to the window that has the keyboard at that moment.
void KeyEvent(int vk, bool up, HWND fallback, char16_t ch = 0) {
  SetKeyDown(vk, !up);
  if (vk == VK_SHIFT) SetKeyDown(VK_LSHIFT, !up);
  if (vk == VK_CONTROL) SetKeyDown(VK_LCONTROL, !up);
  if (vk == VK_MENU) SetKeyDown(VK_LMENU, !up);
  bool alt = Down(VK_MENU);
  bool sys = alt && !Down(VK_CONTROL);
  UINT message = up ? (sys || vk == VK_MENU ? WM_SYSKEYUP : WM_KEYUP) : (sys ? WM_SYSKEYDOWN : WM_KEYDOWN);
  if (vk == VK_MENU && up) message = WM_KEYUP;
  LPARAM lp = KeyLParam(up, alt && vk != VK_MENU);
  if (ch) lp |= kCharPresent | (static_cast<LPARAM>(ch) << kCharShift);
  PostAndPump(KeyTarget(fallback), message, static_cast<WPARAM>(vk), lp);
}

// Whether the window and its ancestors are visible and enabled.
bool TakesInput(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return false;
  std::lock_guard lk(WindowLock());
  return VisibleLocked(*w) && EnabledLocked(*w);
}

POINT ClientPoint(HWND hwnd, const POINT* pt) {
  if (pt) return *pt;
  RECT r{};
  GetClientRect(hwnd, &r);
  return POINT{r.right / 2, r.bottom / 2};
}

LPARAM PointParam(POINT p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }

// The steps before a button goes down: the cursor, activation and the focus. False when the
// window eats the click.
bool PrepareClick(HWND hwnd, POINT client, UINT downMessage) {
  POINT screen = client;
  ClientToScreen(hwnd, &screen);
  SetCursorPos(screen.x, screen.y);
  SendMessageW(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(HTCLIENT, downMessage));
  if (!Alive(hwnd)) return false;
  HWND root = GetAncestor(hwnd, GA_ROOT);
  LRESULT ma = SendMessageW(hwnd, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(root), MAKELPARAM(HTCLIENT, downMessage));
  if (!Alive(hwnd)) return false;
  if (ma == MA_ACTIVATE || ma == MA_ACTIVATEANDEAT || ma == 0) {
    if (GetActiveWindow() != root) SetActiveWindow(root);
    // Controls take the focus when clicked; statics and plain containers do not.
    LRESULT code = SendMessageW(hwnd, WM_GETDLGCODE, 0, 0);
    bool takesFocus = !(code & 0x0100) && (code != 0 || (GetWindowLongW(hwnd, GWL_STYLE) & WS_TABSTOP));
    if (takesFocus && Alive(hwnd) && GetFocus() != hwnd) SetFocus(hwnd);
  }
  return Alive(hwnd) && ma != MA_ACTIVATEANDEAT && ma != MA_NOACTIVATEANDEAT;
}

WPARAM MouseKeys() {
  WPARAM k = 0;
  if (Down(VK_SHIFT)) k |= MK_SHIFT;
  if (Down(VK_CONTROL)) k |= MK_CONTROL;
  if (Down(VK_LBUTTON)) k |= MK_LBUTTON;
  if (Down(VK_RBUTTON)) k |= MK_RBUTTON;
  return k;
}

void Button(HWND hwnd, POINT p, int vk, UINT message, bool down) {
  SetKeyDown(vk, down);
  PostAndPump(hwnd, message, MouseKeys(), PointParam(p));
}

std::mutex g_selectLock;
std::map<std::u16string, vkr::ui::SelectItemHandler>& SelectHandlers() {
  static auto* m = new std::map<std::u16string, vkr::ui::SelectItemHandler>;
  return *m;
}

bool SelectImpl(HWND control, int index, const char* text) {
  if (!OwnedHere(control) || !TakesInput(control)) return false;
  std::u16string cls = vkr::Utf8ToUtf16(vkr::ui::ClassName(control));
  for (auto& c : cls) c = vkr::platform::UpperCase(c);
  vkr::ui::SelectItemHandler handler = nullptr;
  {
    std::lock_guard lk(g_selectLock);
    auto it = SelectHandlers().find(cls);
    if (it != SelectHandlers().end()) handler = it->second;
  }
  if (!handler) return false;
  bool ok = handler(control, index, text);
  vkr::ui::PumpUntilIdle();
  return ok;
}

}  // namespace

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  WCHAR ch;
  if (msg->lParam & kCharPresent) {
    ch = static_cast<WCHAR>((msg->lParam >> kCharShift) & 0xFFFF);
  } else {
    ch = CharOfKey(static_cast<int>(msg->wParam), Down(VK_SHIFT), Down(VK_CONTROL));
  }
  if (!ch) return FALSE;
  UINT message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
  LPARAM lp = msg->lParam & 0xFFFFFFFF;
  return PostMessageW(msg->hwnd, message, ch, lp);
}

namespace vkr::ui {

bool Click(HWND hwnd, const POINT* pt) {
  if (!OwnedHere(hwnd) || !TakesInput(hwnd)) return false;
  POINT p = ClientPoint(hwnd, pt);
  if (!PrepareClick(hwnd, p, WM_LBUTTONDOWN)) return Alive(hwnd);
  Button(hwnd, p, VK_LBUTTON, WM_LBUTTONDOWN, true);
  Button(hwnd, p, VK_LBUTTON, WM_LBUTTONUP, false);
  return true;
}

bool DoubleClick(HWND hwnd, const POINT* pt) {
  if (!OwnedHere(hwnd) || !TakesInput(hwnd)) return false;
  POINT p = ClientPoint(hwnd, pt);
  if (!PrepareClick(hwnd, p, WM_LBUTTONDOWN)) return Alive(hwnd);
  Button(hwnd, p, VK_LBUTTON, WM_LBUTTONDOWN, true);
  Button(hwnd, p, VK_LBUTTON, WM_LBUTTONUP, false);
  bool dbl = (GetClassLongPtrW(hwnd, GCL_STYLE) & CS_DBLCLKS) != 0;
  Button(hwnd, p, VK_LBUTTON, dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, true);
  Button(hwnd, p, VK_LBUTTON, WM_LBUTTONUP, false);
  return true;
}

bool RightClick(HWND hwnd, const POINT* pt) {
  if (!OwnedHere(hwnd) || !TakesInput(hwnd)) return false;
  POINT p = ClientPoint(hwnd, pt);
  if (!PrepareClick(hwnd, p, WM_RBUTTONDOWN)) return Alive(hwnd);
  Button(hwnd, p, VK_RBUTTON, WM_RBUTTONDOWN, true);
  Button(hwnd, p, VK_RBUTTON, WM_RBUTTONUP, false);
  return true;
}

bool MoveMouseOver(HWND hwnd, const POINT* pt) {
  if (!OwnedHere(hwnd) || !IsWindowVisible(hwnd)) return false;
  POINT p = ClientPoint(hwnd, pt);
  POINT screen = p;
  ClientToScreen(hwnd, &screen);
  SetCursorPos(screen.x, screen.y);
  SendMessageW(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  PostAndPump(hwnd, WM_MOUSEMOVE, MouseKeys(), PointParam(p));
  return true;
}

bool PressKey(int vk, UINT modifiers, HWND to) {
  if (to && !OwnedHere(to)) return false;
  HWND fallback = to;
  if (to && GetFocus() != to && TakesInput(to)) SetFocus(to);
  if (!KeyTarget(fallback)) return false;
  if (modifiers & kControl) KeyEvent(VK_CONTROL, false, fallback);
  if (modifiers & kAlt) KeyEvent(VK_MENU, false, fallback);
  if (modifiers & kShift) KeyEvent(VK_SHIFT, false, fallback);
  KeyEvent(vk, false, fallback);
  KeyEvent(vk, true, fallback);
  if (modifiers & kShift) KeyEvent(VK_SHIFT, true, fallback);
  if (modifiers & kAlt) KeyEvent(VK_MENU, true, fallback);
  if (modifiers & kControl) KeyEvent(VK_CONTROL, true, fallback);
  return true;
}

bool TypeText(HWND hwnd, std::string_view text) {
  if (!OwnedHere(hwnd) || !TakesInput(hwnd)) return false;
  // Typing goes where the keyboard is; a window that is not yet there gets the focus first,
  // unless the focus is inside it already (a combo box's edit).
  HWND focus = GetFocus();
  if (focus != hwnd && !IsChild(hwnd, focus)) SetFocus(hwnd);
  for (char16_t c : vkr::Utf8ToUtf16(text)) {
    KeyOf k = KeyOfChar(c);
    bool shift = k.shift && !Down(VK_SHIFT);
    if (shift) KeyEvent(VK_SHIFT, false, hwnd);
    KeyEvent(k.vk, false, hwnd, c);
    KeyEvent(k.vk, true, hwnd);
    if (shift) KeyEvent(VK_SHIFT, true, hwnd);
  }
  return true;
}

bool SelectItem(HWND control, int index) { return SelectImpl(control, index, nullptr); }

bool SelectItem(HWND control, std::string_view text) {
  std::string t(text);
  return SelectImpl(control, -1, t.c_str());
}

void SetSelectItemHandler(LPCWSTR className, SelectItemHandler handler) {
  if (!className) return;
  std::u16string cls(className);
  for (auto& c : cls) c = vkr::platform::UpperCase(c);
  std::lock_guard lk(g_selectLock);
  if (handler)
    SelectHandlers()[cls] = handler;
  else
    SelectHandlers().erase(cls);
}

}  // namespace vkr::ui

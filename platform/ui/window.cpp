// Windows: the window table, classes, creation and destruction, the tree, window data, text, the
// queue hooks and DefWindowProc.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include <unistd.h>

#include "platform/com/hresult.h"
#include "platform/ui/gdi_internal.h"
#include "platform/ui/window_internal.h"
#include "platform/win/casefold.h"
#include "platform/win/lasterror.h"
#include "platform/win/module.h"
#include "platform/win/resources.h"
#include "platform/win/text.h"
#include "platform/win/thread_state.h"
#include "platform/win/threads.h"

namespace vkr::ui::detail {
namespace {

using vkr::platform::EqualNoCase;

constexpr int kCaptionHeight = 19;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

struct Tables {
  std::mutex lock;
  std::vector<std::shared_ptr<WindowClass>> classes;
  ATOM nextAtom = 0xC000;
  std::vector<HWND> topLevel;
  std::map<std::u16string, UINT> messages;  // upper-cased name -> number
  UINT nextMessage = 0xC000;
};

// Never destroyed: windows may outlive static destruction in threads that end late.
Tables& T() {
  static Tables* t = new Tables;
  return *t;
}

std::u16string Upper(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = vkr::platform::UpperCase(c);
  return r;
}

std::u16string FromA(LPCSTR s) { return s ? vkr::Utf8ToUtf16(s) : std::u16string(); }
std::u16string FromW(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// A class name argument: an atom or a name.
struct ClassKey {
  ATOM atom = 0;
  std::u16string name;
};
ClassKey KeyA(LPCSTR s) {
  if (s && IS_INTRESOURCE(s)) return {static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(s)), {}};
  return {0, FromA(s)};
}
ClassKey KeyW(LPCWSTR s) {
  if (s && IS_INTRESOURCE(s)) return {static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(s)), {}};
  return {0, FromW(s)};
}

bool KeyMatches(const WindowClass& c, const ClassKey& k) {
  return k.atom ? c.atom == k.atom : EqualNoCase(c.name, k.name);
}

// The module's own class first, then a global one.
std::shared_ptr<WindowClass> FindClassLocked(const ClassKey& k, HINSTANCE instance) {
  std::shared_ptr<WindowClass> global;
  for (auto& c : T().classes) {
    if (!KeyMatches(*c, k)) continue;
    if (c->instance == instance && !c->builtin) return c;
    if (!global || (c->style & CS_GLOBALCLASS) || c->builtin) global = c;
  }
  return global;
}

ATOM AddClass(std::shared_ptr<WindowClass> c) {
  if (!c->proc || (c->name.empty() && !c->atom) || c->clsExtra < 0 || c->wndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  EnsureHooks();
  std::lock_guard lk(T().lock);
  for (auto& e : T().classes) {
    if (!EqualNoCase(e->name, c->name)) continue;
    bool bothGlobal = (e->builtin || (e->style & CS_GLOBALCLASS)) && (c->builtin || (c->style & CS_GLOBALCLASS));
    if (e->instance == c->instance || bothGlobal) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  c->atom = T().nextAtom++;
  c->extra.assign(static_cast<std::size_t>(c->clsExtra), 0);
  T().classes.push_back(c);
  return c->atom;
}

template <class WC>
std::shared_ptr<WindowClass> ClassFrom(const WC& wc, bool unicode) {
  auto c = std::make_shared<WindowClass>();
  c->style = wc.style;
  c->proc = wc.lpfnWndProc;
  c->unicode = unicode;
  c->clsExtra = wc.cbClsExtra;
  c->wndExtra = wc.cbWndExtra;
  c->instance = wc.hInstance;
  c->icon = wc.hIcon;
  c->cursor = wc.hCursor;
  c->background = wc.hbrBackground;
  return c;
}

BOOL UnregisterClassImpl(const ClassKey& k, HINSTANCE instance) {
  std::lock_guard lk(T().lock);
  auto& cs = T().classes;
  for (auto it = cs.begin(); it != cs.end(); ++it) {
    if (!KeyMatches(**it, k) || (*it)->builtin || (*it)->instance != instance) continue;
    if ((*it)->windows > 0) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
    cs.erase(it);
    return TRUE;
  }
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return FALSE;
}

template <class WC, class Conv>
BOOL GetClassInfoImpl(const ClassKey& k, HINSTANCE instance, WC* wc, Conv name) {
  if (!wc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lk(T().lock);
  auto c = FindClassLocked(k, instance);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  wc->style = c->style;
  wc->lpfnWndProc = c->proc;
  wc->cbClsExtra = c->clsExtra;
  wc->cbWndExtra = c->wndExtra;
  wc->hInstance = c->instance;
  wc->hIcon = c->icon;
  wc->hCursor = c->cursor;
  wc->hbrBackground = c->background;
  wc->lpszMenuName = nullptr;
  wc->lpszClassName = name(c);
  return TRUE;
}

// The class name strings handed out by GetClassInfo live as long as the process.
LPCSTR StableNameA(const std::shared_ptr<WindowClass>& c) {
  static std::map<std::u16string, std::string>* names = new std::map<std::u16string, std::string>;
  auto [it, added] = names->try_emplace(c->name, vkr::Utf16ToUtf8(c->name));
  return it->second.c_str();
}

// ---- Text copies ----

int CopyOut(std::u16string_view text, LPWSTR buf, int max) {
  if (!buf || max <= 0) return 0;
  int n = std::min<int>(static_cast<int>(text.size()), max - 1);
  std::memcpy(buf, text.data(), static_cast<std::size_t>(n) * sizeof(WCHAR));
  buf[n] = 0;
  return n;
}

// UTF-8 cut at a character boundary.
int CopyOut(std::string_view text, LPSTR buf, int max) {
  if (!buf || max <= 0) return 0;
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(max - 1));
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buf, text.data(), n);
  buf[n] = 0;
  return static_cast<int>(n);
}

// ---- Calling window procedures with the width they expect ----

bool IsInputText(UINT m, bool lists) {
  if (m == WM_SETTEXT) return true;
  if (!lists) return false;
  switch (m) {
    case 0x0143:  // CB_ADDSTRING
    case 0x014A:  // CB_INSERTSTRING
    case 0x014C:  // CB_FINDSTRING
    case 0x014D:  // CB_SELECTSTRING
    case 0x0158:  // CB_FINDSTRINGEXACT
    case 0x0180:  // LB_ADDSTRING
    case 0x0181:  // LB_INSERTSTRING
    case 0x018C:  // LB_SELECTSTRING
    case 0x018F:  // LB_FINDSTRING
    case 0x01A2:  // LB_FINDSTRINGEXACT
    case 0x00C2:  // EM_REPLACESEL
      return true;
    default:
      return false;
  }
}

// Item texts read into a buffer the caller sized by the matching length message.
bool IsItemTextOut(UINT m, UINT* lengthMessage) {
  if (m == 0x0148) {  // CB_GETLBTEXT
    *lengthMessage = 0x0149;
    return true;
  }
  if (m == 0x0189) {  // LB_GETTEXT
    *lengthMessage = 0x018A;
    return true;
  }
  return false;
}

struct DispatchGuard {
  explicit DispatchGuard(std::shared_ptr<Window> w) : keep(std::move(w)) {}
  std::shared_ptr<Window> keep;  // the object lives until this dispatch unwinds
};

LRESULT Raw(const std::shared_ptr<Window>& w, WNDPROC proc, UINT m, WPARAM wp, LPARAM lp) {
  DispatchGuard guard(w);
  return proc(w->hwnd, m, wp, lp);
}

// The whole text of a window procedure of the other width.
template <class Ch>
std::basic_string<Ch> ReadWhole(const std::shared_ptr<Window>& w, WNDPROC proc, UINT lengthMessage, UINT textMessage,
                                WPARAM index, bool sized) {
  LRESULT n = Raw(w, proc, lengthMessage, index, 0);
  if (n < 0) return {};
  std::basic_string<Ch> buf(static_cast<std::size_t>(n) + 1, Ch{});
  LRESULT got = sized ? Raw(w, proc, textMessage, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(buf.data()))
                      : Raw(w, proc, textMessage, index, reinterpret_cast<LPARAM>(buf.data()));
  if (got < 0) return {};
  buf.resize(std::min<std::size_t>(static_cast<std::size_t>(got), static_cast<std::size_t>(n)));
  return buf;
}

}  // namespace

std::mutex& WindowLock() { return T().lock; }
std::vector<HWND>& TopLevelLocked() { return T().topLevel; }

std::shared_ptr<Window> FindLocked(HWND hwnd) {
  if (!hwnd) return nullptr;
  DWORD saved = GetLastError();
  auto object = vkr::platform::LookupHandleObject(hwnd);
  SetLastError(saved);
  if (!object || object->Kind() != vkr::platform::HandleKind::Window) return nullptr;
  auto w = std::static_pointer_cast<Window>(std::move(object));
  return w->dead ? nullptr : w;
}

bool Alive(HWND hwnd) {
  std::lock_guard lk(WindowLock());
  return FindLocked(hwnd) != nullptr;
}

std::shared_ptr<Window> Find(HWND hwnd) {
  DWORD saved = GetLastError();
  std::shared_ptr<Window> w;
  {
    std::lock_guard lk(WindowLock());
    w = FindLocked(hwnd);
  }
  SetLastError(w ? saved : static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  return w;
}

Insets FrameInsets(DWORD style, DWORD exStyle) {
  int b = 0;
  if (style & WS_THICKFRAME)
    b = 4;
  else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
    b = 3;
  else if (style & WS_BORDER)
    b = 1;
  if (exStyle & WS_EX_CLIENTEDGE) b += 2;
  if (exStyle & WS_EX_STATICEDGE) b += 1;
  int top = b + ((style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0);
  return {b, top};
}

SIZE ClientSizeLocked(const Window& w) {
  Insets in = FrameInsets(w.style, w.exStyle);
  LONG cx = std::max<LONG>(0, w.rect.right - w.rect.left - 2 * in.side);
  LONG cy = std::max<LONG>(0, w.rect.bottom - w.rect.top - in.top - in.side);
  return {cx, cy};
}

POINT ClientOriginLocked(const Window& w) {
  POINT base{0, 0};
  if (w.parent)
    if (auto p = FindLocked(w.parent)) base = ClientOriginLocked(*p);
  Insets in = FrameInsets(w.style, w.exStyle);
  return {base.x + w.rect.left + in.side, base.y + w.rect.top + in.top};
}

bool VisibleLocked(const Window& w) {
  if (!(w.style & WS_VISIBLE)) return false;
  if (!w.parent) return true;
  auto p = FindLocked(w.parent);
  return p && VisibleLocked(*p);
}

bool EnabledLocked(const Window& w) {
  if (w.style & WS_DISABLED) return false;
  if (!w.parent) return true;
  auto p = FindLocked(w.parent);
  return p && EnabledLocked(*p);
}

LRESULT CallProcedure(const std::shared_ptr<Window>& w, UINT m, WPARAM wp, LPARAM lp, bool unicode) {
  WNDPROC proc;
  bool procUnicode;
  bool lists;
  {
    std::lock_guard lk(WindowLock());
    proc = w->proc;
    procUnicode = w->unicode;
    lists = w->cls && w->cls->textMessages;
  }
  if (!proc) return 0;
  if (unicode == procUnicode) return Raw(w, proc, m, wp, lp);

  if (IsInputText(m, lists) && lp) {
    if (unicode) {
      std::string s = vkr::Utf16ToUtf8(reinterpret_cast<LPCWSTR>(lp));
      return Raw(w, proc, m, wp, reinterpret_cast<LPARAM>(s.c_str()));
    }
    std::u16string s = vkr::Utf8ToUtf16(reinterpret_cast<LPCSTR>(lp));
    return Raw(w, proc, m, wp, reinterpret_cast<LPARAM>(s.c_str()));
  }
  if (m == WM_GETTEXT) {
    if (unicode) {
      std::u16string s = vkr::Utf8ToUtf16(ReadWhole<char>(w, proc, WM_GETTEXTLENGTH, WM_GETTEXT, 0, true));
      return CopyOut(s, reinterpret_cast<LPWSTR>(lp), static_cast<int>(wp));
    }
    std::string s = vkr::Utf16ToUtf8(ReadWhole<char16_t>(w, proc, WM_GETTEXTLENGTH, WM_GETTEXT, 0, true));
    return CopyOut(s, reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
  }
  if (m == WM_GETTEXTLENGTH) {
    if (unicode)
      return static_cast<LRESULT>(
          vkr::Utf8ToUtf16(ReadWhole<char>(w, proc, WM_GETTEXTLENGTH, WM_GETTEXT, 0, true)).size());
    return static_cast<LRESULT>(
        vkr::Utf16ToUtf8(ReadWhole<char16_t>(w, proc, WM_GETTEXTLENGTH, WM_GETTEXT, 0, true)).size());
  }
  UINT lengthMessage = 0;
  if (lists && IsItemTextOut(m, &lengthMessage)) {
    if (LRESULT n = Raw(w, proc, lengthMessage, wp, 0); n < 0) return n;  // LB_ERR / CB_ERR: no such item
    if (unicode) {
      std::u16string s = vkr::Utf8ToUtf16(ReadWhole<char>(w, proc, lengthMessage, m, wp, false));
      if (lp) std::memcpy(reinterpret_cast<LPWSTR>(lp), s.c_str(), (s.size() + 1) * sizeof(WCHAR));
      return static_cast<LRESULT>(s.size());
    }
    std::string s = vkr::Utf16ToUtf8(ReadWhole<char16_t>(w, proc, lengthMessage, m, wp, false));
    if (lp) std::memcpy(reinterpret_cast<LPSTR>(lp), s.c_str(), s.size() + 1);
    return static_cast<LRESULT>(s.size());
  }
  if (lists && (m == 0x0149 || m == 0x018A)) {  // CB_GETLBTEXTLEN, LB_GETTEXTLEN
    UINT textMessage = m == 0x0149 ? 0x0148 : 0x0189;
    if (LRESULT n = Raw(w, proc, m, wp, 0); n < 0) return n;  // LB_ERR / CB_ERR: no such item
    if (unicode) return static_cast<LRESULT>(vkr::Utf8ToUtf16(ReadWhole<char>(w, proc, m, textMessage, wp, false)).size());
    return static_cast<LRESULT>(vkr::Utf16ToUtf8(ReadWhole<char16_t>(w, proc, m, textMessage, wp, false)).size());
  }
  if ((m == WM_NCCREATE || m == WM_CREATE) && lp) {
    if (unicode) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      std::string name = vkr::Utf16ToUtf8(vkr::View(cs->lpszName));
      std::string cls = IS_INTRESOURCE(cs->lpszClass) ? std::string() : vkr::Utf16ToUtf8(vkr::View(cs->lpszClass));
      CREATESTRUCTA a;
      std::memcpy(&a, cs, sizeof a);
      a.lpszName = cs->lpszName ? name.c_str() : nullptr;
      a.lpszClass = IS_INTRESOURCE(cs->lpszClass) ? reinterpret_cast<LPCSTR>(cs->lpszClass) : cls.c_str();
      return Raw(w, proc, m, wp, reinterpret_cast<LPARAM>(&a));
    }
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    std::u16string name = FromA(cs->lpszName);
    std::u16string cls = IS_INTRESOURCE(cs->lpszClass) ? std::u16string() : FromA(cs->lpszClass);
    CREATESTRUCTW ws;
    std::memcpy(&ws, cs, sizeof ws);
    ws.lpszName = cs->lpszName ? name.c_str() : nullptr;
    ws.lpszClass = IS_INTRESOURCE(cs->lpszClass) ? reinterpret_cast<LPCWSTR>(cs->lpszClass) : cls.c_str();
    return Raw(w, proc, m, wp, reinterpret_cast<LPARAM>(&ws));
  }
  return Raw(w, proc, m, wp, lp);
}

namespace {

DWORD HookOwner(HWND hwnd) {
  std::lock_guard lk(WindowLock());
  auto w = FindLocked(hwnd);
  return w ? w->thread : 0;
}

bool HookIsUnicode(HWND hwnd) {
  std::lock_guard lk(WindowLock());
  auto w = FindLocked(hwnd);
  return w && w->unicode;
}

void ClearPaint(Window& w) {
  w.hasUpdate = false;
  w.erase = false;
  w.internalPaint = false;
  w.update = RECT{};
}

LRESULT HookDispatch(const MSG& msg, bool unicode) {
  auto w = Find(msg.hwnd);
  if (!w) return 0;
  LRESULT r = CallProcedure(w, msg.message, msg.wParam, msg.lParam, unicode);
  if (msg.message == WM_PAINT) {
    // A procedure that paints without validating would get WM_PAINT forever.
    std::lock_guard lk(WindowLock());
    ClearPaint(*w);
  }
  return r;
}

bool NeedsPaintLocked(const Window& w) { return (w.hasUpdate || w.internalPaint) && VisibleLocked(w); }

bool FindPaintLocked(HWND hwnd, DWORD thread, HWND filter, HWND* out) {
  auto w = FindLocked(hwnd);
  if (!w || !(w->style & WS_VISIBLE)) return false;
  if (w->thread == thread && (!filter || filter == hwnd) && NeedsPaintLocked(*w)) {
    *out = hwnd;
    return true;
  }
  for (HWND c : w->children)
    if (FindPaintLocked(c, thread, filter, out)) return true;
  return false;
}

bool HookNextPaint(DWORD thread, HWND filter, MSG* out) {
  std::lock_guard lk(WindowLock());
  for (HWND top : T().topLevel) {
    HWND found = nullptr;
    if (FindPaintLocked(top, thread, filter, &found)) {
      *out = MSG{found, WM_PAINT, 0, 0, 0, {}};
      return true;
    }
  }
  return false;
}

}  // namespace

void EnsureHooks() {
  static const bool installed = [] {
    vkr::platform::WindowSystemHooks h{&HookOwner, &HookDispatch, &HookIsUnicode, &HookNextPaint};
    vkr::platform::InstallDefaultWindowSystemHooks(h);
    return true;
  }();
  (void)installed;
}

}  // namespace vkr::ui::detail

namespace vkr::ui {

ATOM RegisterBuiltinClass(const BuiltinClass& b) {
  auto c = std::make_shared<detail::WindowClass>();
  c->name = detail::FromW(b.name);
  c->style = b.style | CS_GLOBALCLASS;
  c->proc = b.proc;
  c->unicode = true;
  c->wndExtra = b.cbWndExtra;
  c->cursor = b.cursor;
  c->background = b.background;
  c->builtin = true;
  c->textMessages = b.textMessages;
  return detail::AddClass(std::move(c));
}

void SetWindowObject(HWND hwnd, void* object) {
  std::lock_guard lk(detail::WindowLock());
  if (auto w = detail::FindLocked(hwnd)) w->object = object;
}

void* GetWindowObject(HWND hwnd) {
  std::lock_guard lk(detail::WindowLock());
  auto w = detail::FindLocked(hwnd);
  return w ? w->object : nullptr;
}

std::string WindowText(HWND hwnd) {
  int n = GetWindowTextLengthA(hwnd);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  int got = GetWindowTextA(hwnd, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(0, got)));
  return s;
}

std::string ClassName(HWND hwnd) {
  char buf[256];
  int n = GetClassNameA(hwnd, buf, sizeof buf);
  return std::string(buf, static_cast<std::size_t>(std::max(0, n)));
}

}  // namespace vkr::ui

using namespace vkr::ui::detail;

// ---- Classes ----

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc) return SetLastError(ERROR_INVALID_PARAMETER), ATOM{0};
  auto c = ClassFrom(*wc, false);
  c->name = FromA(wc->lpszClassName);
  return AddClass(std::move(c));
}
ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc) return SetLastError(ERROR_INVALID_PARAMETER), ATOM{0};
  auto c = ClassFrom(*wc, true);
  c->name = FromW(wc->lpszClassName);
  return AddClass(std::move(c));
}
ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) return SetLastError(ERROR_INVALID_PARAMETER), ATOM{0};
  auto c = ClassFrom(*wc, false);
  c->name = FromA(wc->lpszClassName);
  c->iconSmall = wc->hIconSm;
  return AddClass(std::move(c));
}
ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXW)) return SetLastError(ERROR_INVALID_PARAMETER), ATOM{0};
  auto c = ClassFrom(*wc, true);
  c->name = FromW(wc->lpszClassName);
  c->iconSmall = wc->hIconSm;
  return AddClass(std::move(c));
}
namespace vkr::ui {

UINT UnregisterModuleClasses(HMODULE module) {
  if (!module) return 0;
  std::lock_guard lk(T().lock);
  auto& cs = T().classes;
  const auto before = cs.size();
  std::erase_if(cs, [&](const std::shared_ptr<WindowClass>& c) {
    return !c->builtin && !(c->style & CS_GLOBALCLASS) && c->windows == 0 && c->instance == module;
  });
  return static_cast<UINT>(before - cs.size());
}

}  // namespace vkr::ui

BOOL UnregisterClassA(LPCSTR name, HINSTANCE instance) { return UnregisterClassImpl(KeyA(name), instance); }
BOOL UnregisterClassW(LPCWSTR name, HINSTANCE instance) { return UnregisterClassImpl(KeyW(name), instance); }

BOOL GetClassInfoA(HINSTANCE instance, LPCSTR name, LPWNDCLASSA wc) {
  return GetClassInfoImpl(KeyA(name), instance, wc, [](auto& c) { return StableNameA(c); });
}
BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR name, LPWNDCLASSW wc) {
  return GetClassInfoImpl(KeyW(name), instance, wc, [](auto& c) { return c->name.c_str(); });
}
BOOL GetClassInfoExA(HINSTANCE instance, LPCSTR name, LPWNDCLASSEXA wc) {
  if (!wc) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (!GetClassInfoImpl(KeyA(name), instance, wc, [](auto& c) { return StableNameA(c); })) return FALSE;
  wc->hIconSm = nullptr;
  return TRUE;
}
BOOL GetClassInfoExW(HINSTANCE instance, LPCWSTR name, LPWNDCLASSEXW wc) {
  if (!wc) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (!GetClassInfoImpl(KeyW(name), instance, wc, [](auto& c) { return c->name.c_str(); })) return FALSE;
  wc->hIconSm = nullptr;
  return TRUE;
}

int GetClassNameW(HWND hwnd, LPWSTR name, int max) {
  auto w = Find(hwnd);
  if (!w) return 0;
  return CopyOut(w->cls->name, name, max);
}
int GetClassNameA(HWND hwnd, LPSTR name, int max) {
  auto w = Find(hwnd);
  if (!w) return 0;
  return CopyOut(vkr::Utf16ToUtf8(w->cls->name), name, max);
}

namespace {
ULONG_PTR ClassLong(HWND hwnd, int index, bool set, LONG_PTR value) {
  auto w = Find(hwnd);
  if (!w) return 0;
  std::lock_guard lk(WindowLock());
  WindowClass& c = *w->cls;
  auto swap = [&](auto& field) {
    auto old = reinterpret_cast<ULONG_PTR>(field);
    if (set) field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(value);
    return old;
  };
  if (index >= 0) {
    if (index + static_cast<int>(sizeof(ULONG_PTR)) > c.clsExtra) return SetLastError(ERROR_INVALID_INDEX), 0;
    ULONG_PTR old;
    std::memcpy(&old, c.extra.data() + index, sizeof old);
    if (set) std::memcpy(c.extra.data() + index, &value, sizeof value);
    return old;
  }
  switch (index) {
    case GCLP_HBRBACKGROUND:
      return swap(c.background);
    case GCLP_HCURSOR:
      return swap(c.cursor);
    case GCLP_HICON:
      return swap(c.icon);
    case GCLP_HICONSM:
      return swap(c.iconSmall);
    case GCLP_WNDPROC:
      return swap(c.proc);
    case GCLP_HMODULE:
      return swap(c.instance);
    case GCL_STYLE: {
      ULONG_PTR old = c.style;
      if (set) c.style = static_cast<UINT>(value);
      return old;
    }
    case GCL_CBWNDEXTRA:
      return static_cast<ULONG_PTR>(c.wndExtra);
    case GCL_CBCLSEXTRA:
      return static_cast<ULONG_PTR>(c.clsExtra);
    case GCW_ATOM:
      return c.atom;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}
}  // namespace

ULONG_PTR GetClassLongPtrA(HWND hwnd, int index) { return ClassLong(hwnd, index, false, 0); }
ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) { return ClassLong(hwnd, index, false, 0); }
ULONG_PTR SetClassLongPtrA(HWND hwnd, int index, LONG_PTR v) { return ClassLong(hwnd, index, true, v); }
ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR v) { return ClassLong(hwnd, index, true, v); }

// ---- Creation and destruction ----

namespace {

void Unlink(Window& w) {
  std::vector<HWND>* list = &T().topLevel;
  if (w.parent)
    if (auto p = FindLocked(w.parent)) list = &p->children;
  std::erase(*list, w.hwnd);
}

// Ends the window object: out of the tree and the handle table. Its memory stays while a dispatch
// on it is running.
void Release(const std::shared_ptr<Window>& w) {
  {
    std::lock_guard lk(WindowLock());
    Unlink(*w);
    w->dead = true;
    w->cls->windows--;
    ThreadUi& ui = CurrentThreadUi();
    if (ui.focus == w->hwnd) ui.focus = nullptr;
    if (ui.active == w->hwnd) ui.active = nullptr;
    if (ui.capture == w->hwnd) ui.capture = nullptr;
  }
  vkr::platform::KillWindowTimers(w->hwnd);
  // Its picture goes with it (a large window's is megabytes).
  ForgetWindowSurface(w->hwnd);
  vkr::platform::RemoveHandleObject(w->hwnd, vkr::platform::HandleKind::Window);
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

void DestroyTree(const std::shared_ptr<Window>& w) {
  SendMessageW(w->hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    std::lock_guard lk(WindowLock());
    children = w->children;
  }
  for (HWND c : children) {
    auto cw = Find(c);
    if (!cw) continue;
    {
      std::lock_guard lk(WindowLock());
      if (cw->destroying) continue;
      cw->destroying = true;
    }
    DestroyTree(cw);
  }
  SendMessageW(w->hwnd, WM_NCDESTROY, 0, 0);
  Release(w);
}

// A thread's windows end with it, as on Windows: silently, since no procedure can run any more.
struct ThreadWindows {
  DWORD thread = GetCurrentThreadId();
  ~ThreadWindows() {
    std::vector<std::shared_ptr<Window>> gone;
    {
      std::lock_guard lk(WindowLock());
      auto collect = [&](auto&& self, HWND h) -> void {
        auto w = FindLocked(h);
        if (!w) return;
        for (HWND c : w->children) self(self, c);
        if (w->thread == thread) gone.push_back(w);
      };
      for (HWND t : T().topLevel) collect(collect, t);
      for (auto& w : gone) {
        Unlink(*w);
        w->dead = true;
        w->cls->windows--;
      }
    }
    for (auto& w : gone) vkr::platform::RemoveHandleObject(w->hwnd, vkr::platform::HandleKind::Window);
  }
};

HWND CreateImpl(DWORD exStyle, const ClassKey& key, const void* name, bool unicode, DWORD style, int x, int y, int cx,
                int cy, HWND parentArg, HMENU menu, HINSTANCE instance, LPVOID param) {
  EnsureHooks();
  thread_local ThreadWindows threadWindows;
  (void)threadWindows;
  auto w = std::make_shared<Window>();
  HWND parent = nullptr, owner = nullptr;
  {
    std::lock_guard lk(WindowLock());
    auto cls = FindClassLocked(key, instance);
    if (!cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (style & WS_CHILD) {
      if (!parentArg) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
      }
      auto p = FindLocked(parentArg);
      if (!p || p->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      parent = parentArg;
    } else if (parentArg) {
      auto o = FindLocked(parentArg);
      if (!o || o->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      // The owner is always a top-level window.
      while (o->parent) o = FindLocked(o->parent);
      owner = o->hwnd;
    }
    w->cls = cls;
    w->proc = cls->proc;
    w->unicode = cls->unicode;
    w->extra.assign(static_cast<std::size_t>(cls->wndExtra), 0);
  }
  if (x == CW_USEDEFAULT) x = y = 0;
  if (cx == CW_USEDEFAULT) {
    cx = parent ? 0 : kDefaultWidth;
    cy = parent ? 0 : kDefaultHeight;
  }
  w->thread = GetCurrentThreadId();
  // WS_VISIBLE is applied by the show after WM_CREATE.
  w->style = (style & ~WS_VISIBLE) | ((style & WS_CHILD) ? 0 : WS_CLIPSIBLINGS);
  if (!(style & (WS_CHILD | WS_POPUP))) w->style |= WS_CAPTION;
  w->exStyle = exStyle;
  w->id = (style & WS_CHILD) ? reinterpret_cast<LONG_PTR>(menu) : 0;
  w->instance = instance;
  w->parent = parent;
  w->owner = owner;
  w->rect = RECT{x, y, AddClamped(x, std::max(0, cx)), AddClamped(y, std::max(0, cy))};
  HWND hwnd = reinterpret_cast<HWND>(vkr::platform::InsertHandleObject(w));
  if (!hwnd) return nullptr;
  {
    std::lock_guard lk(WindowLock());
    w->hwnd = hwnd;
    w->cls->windows++;
    if (parent) {
      if (auto p = FindLocked(parent)) p->children.push_back(hwnd);
    } else {
      T().topLevel.push_back(hwnd);
    }
  }

  auto fail = [&]() -> HWND {
    if (Alive(hwnd)) DestroyWindow(hwnd);
    return nullptr;
  };
  LRESULT ok;
  if (unicode) {
    CREATESTRUCTW cs{param, instance, menu, parentArg, cy, cx, y, x, static_cast<LONG>(style),
                     static_cast<LPCWSTR>(name), key.atom ? MAKEINTATOMW(key.atom) : w->cls->name.c_str(), exStyle};
    ok = SendMessageW(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs));
    if (!ok || !Alive(hwnd)) return fail();
    if (SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1 || !Alive(hwnd)) return fail();
  } else {
    std::string clsName = vkr::Utf16ToUtf8(w->cls->name);
    CREATESTRUCTA cs{param, instance, menu, parentArg, cy, cx, y, x, static_cast<LONG>(style),
                     static_cast<LPCSTR>(name), key.atom ? MAKEINTATOMA(key.atom) : clsName.c_str(), exStyle};
    ok = SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs));
    if (!ok || !Alive(hwnd)) return fail();
    if (SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1 || !Alive(hwnd)) return fail();
  }
  SIZE size;
  POINT origin;
  {
    std::lock_guard lk(WindowLock());
    size = ClientSizeLocked(*w);
    Insets in = FrameInsets(w->style, w->exStyle);
    origin = POINT{w->rect.left + in.side, w->rect.top + in.top};
  }
  SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(size.cx), static_cast<WORD>(size.cy)));
  SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(origin.x), static_cast<WORD>(origin.y)));
  if ((style & WS_VISIBLE) && Alive(hwnd)) ShowWindow(hwnd, SW_SHOW);
  return Alive(hwnd) ? hwnd : nullptr;
}

}  // namespace

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND hwndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID param) {
  return CreateImpl(exStyle, KeyA(className), windowName, false, style, x, y, width, height, hwndParent, hMenu,
                    hInstance, param);
}
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND hwndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID param) {
  return CreateImpl(exStyle, KeyW(className), windowName, true, style, x, y, width, height, hwndParent, hMenu,
                    hInstance, param);
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  if (w->thread != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::vector<HWND> owned;
  {
    std::lock_guard lk(WindowLock());
    if (w->destroying) return TRUE;
    w->destroying = true;
    // The focus leaves the dying subtree without messages: a control being destroyed must not
    // act on losing it.
    ThreadUi& ui = CurrentThreadUi();
    if (ui.focus && InSubtreeLocked(ui.focus, hwnd)) ui.focus = nullptr;
    if (ui.capture && InSubtreeLocked(ui.capture, hwnd)) ui.capture = nullptr;
    for (HWND t : T().topLevel)
      if (auto o = FindLocked(t); o && o->owner == hwnd) owned.push_back(t);
  }
  for (HWND o : owned) DestroyWindow(o);
  DestroyTree(w);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) ? TRUE : FALSE; }

// ---- The tree ----

HWND GetWindow(HWND hwnd, UINT cmd) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  std::lock_guard lk(WindowLock());
  if (cmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
  if (cmd == GW_OWNER) return w->owner;
  if (cmd == GW_ENABLEDPOPUP) return nullptr;
  const std::vector<HWND>* siblings = &T().topLevel;
  if (w->parent)
    if (auto p = FindLocked(w->parent)) siblings = &p->children;
  if (siblings->empty()) return nullptr;
  auto it = std::find(siblings->begin(), siblings->end(), hwnd);
  switch (cmd) {
    case GW_HWNDFIRST:
      return siblings->front();
    case GW_HWNDLAST:
      return siblings->back();
    case GW_HWNDNEXT:
      return (it == siblings->end() || it + 1 == siblings->end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV:
      return (it == siblings->end() || it == siblings->begin()) ? nullptr : *(it - 1);
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND GetParent(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  std::lock_guard lk(WindowLock());
  if (w->style & WS_CHILD) return w->parent;
  if (w->style & WS_POPUP) return w->owner;
  return nullptr;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  std::lock_guard lk(WindowLock());
  switch (flags) {
    case GA_PARENT:
      return w->parent ? w->parent : GetDesktopWindow();
    case GA_ROOT:
    case GA_ROOTOWNER: {
      while (w->parent) w = FindLocked(w->parent);
      if (flags == GA_ROOTOWNER)
        while (w->owner) w = FindLocked(w->owner);
      return w->hwnd;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND SetParent(HWND child, HWND newParent) {
  auto w = Find(child);
  if (!w) return nullptr;
  if (newParent && !Find(newParent)) return nullptr;
  HWND old;
  {
    std::lock_guard lk(WindowLock());
    if (newParent && InSubtreeLocked(newParent, child)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    old = w->parent;
    Unlink(*w);
    w->parent = newParent;
    if (newParent) {
      FindLocked(newParent)->children.push_back(child);
    } else {
      T().topLevel.push_back(child);
    }
  }
  return old ? old : GetDesktopWindow();
}

BOOL IsChild(HWND parent, HWND hwnd) {
  std::lock_guard lk(WindowLock());
  auto w = FindLocked(hwnd);
  if (!w || !FindLocked(parent)) return FALSE;
  while (w && (w->style & WS_CHILD) && w->parent) {
    if (w->parent == parent) return TRUE;
    w = FindLocked(w->parent);
  }
  return FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
  auto w = Find(dialog);
  if (!w) return nullptr;
  std::lock_guard lk(WindowLock());
  for (HWND c : w->children)
    if (auto cw = FindLocked(c); cw && static_cast<int>(cw->id) == id) return c;
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return 0;
  std::lock_guard lk(WindowLock());
  return static_cast<int>(w->id);
}

namespace {
bool EnumTree(HWND parent, WNDENUMPROC proc, LPARAM lp) {
  std::vector<HWND> children;
  {
    std::lock_guard lk(WindowLock());
    auto w = FindLocked(parent);
    if (!w) return true;
    children = w->children;
  }
  for (HWND c : children) {
    if (!Alive(c)) continue;
    if (!proc(c, lp)) return false;
    if (!EnumTree(c, proc, lp)) return false;
  }
  return true;
}
}  // namespace

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
  if (!proc) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (!parent || parent == GetDesktopWindow()) {
    std::vector<HWND> tops;
    {
      std::lock_guard lk(WindowLock());
      tops = T().topLevel;
    }
    for (HWND t : tops) {
      if (!Alive(t)) continue;
      if (!proc(t, lParam) || !EnumTree(t, proc, lParam)) return FALSE;
    }
    return TRUE;
  }
  if (!Find(parent)) return FALSE;
  return EnumTree(parent, proc, lParam) ? TRUE : FALSE;
}

HWND GetDesktopWindow() {
  // A window of its own, of no thread's: it takes no messages.
  static HWND desktop = [] {
    auto w = std::make_shared<Window>();
    w->cls = std::make_shared<WindowClass>();
    w->cls->name = u"#32769";
    w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
    w->rect = RECT{0, 0, vkr::ui::kDesktopWidth, vkr::ui::kDesktopHeight};
    HWND h = reinterpret_cast<HWND>(vkr::platform::InsertHandleObject(w));
    w->hwnd = h;
    return h;
  }();
  return desktop;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  auto w = Find(hwnd);
  if (!w) return 0;
  if (processId) *processId = static_cast<DWORD>(getpid());
  return w->thread;
}

// ---- Window data ----

namespace {

LONG_PTR WindowData(HWND hwnd, int index, std::size_t width) {
  auto w = Find(hwnd);
  if (!w) return 0;
  std::lock_guard lk(WindowLock());
  if (index >= 0) {
    if (static_cast<std::size_t>(index) + width > w->extra.size()) return SetLastError(ERROR_INVALID_INDEX), 0;
    LONG_PTR v = 0;
    if (width == sizeof(LONG)) {
      LONG l;
      std::memcpy(&l, w->extra.data() + index, sizeof l);
      v = l;
    } else {
      std::memcpy(&v, w->extra.data() + index, sizeof v);
    }
    return v;
  }
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->exStyle);
    case GWLP_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>((w->style & WS_CHILD) ? w->parent : w->owner);
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR SetStyle(const std::shared_ptr<Window>& w, int index, DWORD value) {
  STYLESTRUCT ss;
  {
    std::lock_guard lk(WindowLock());
    ss.styleOld = index == GWL_STYLE ? w->style : w->exStyle;
  }
  ss.styleNew = value;
  SendMessageW(w->hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
  {
    // The change the window made in WM_STYLECHANGING is the one that holds.
    std::lock_guard lk(WindowLock());
    if (w->dead) return 0;
    (index == GWL_STYLE ? w->style : w->exStyle) = ss.styleNew;
  }
  SendMessageW(w->hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
  return static_cast<LONG>(ss.styleOld);
}

LONG_PTR SetWindowData(HWND hwnd, int index, LONG_PTR value, std::size_t width, bool unicode) {
  auto w = Find(hwnd);
  if (!w) return 0;
  if (w->destroying && index == GWLP_WNDPROC) {
    // Still allowed: ATL puts the original procedure back in WM_NCDESTROY.
  }
  if (index == GWL_STYLE || index == GWL_EXSTYLE) return SetStyle(w, index, static_cast<DWORD>(value));
  std::lock_guard lk(WindowLock());
  LONG_PTR old = 0;
  if (index >= 0) {
    if (static_cast<std::size_t>(index) + width > w->extra.size()) return SetLastError(ERROR_INVALID_INDEX), 0;
    if (width == sizeof(LONG)) {
      LONG l, nv = static_cast<LONG>(value);
      std::memcpy(&l, w->extra.data() + index, sizeof l);
      std::memcpy(w->extra.data() + index, &nv, sizeof nv);
      old = l;
    } else {
      std::memcpy(&old, w->extra.data() + index, sizeof old);
      std::memcpy(w->extra.data() + index, &value, sizeof value);
    }
    return old;
  }
  switch (index) {
    case GWLP_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWLP_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    case GWLP_WNDPROC:
      if (!value) return SetLastError(ERROR_INVALID_PARAMETER), 0;
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      w->unicode = unicode;
      return old;
    case GWLP_HINSTANCE:
      old = reinterpret_cast<LONG_PTR>(w->instance);
      w->instance = reinterpret_cast<HINSTANCE>(value);
      return old;
    case GWLP_HWNDPARENT:
      if (w->style & WS_CHILD) return SetLastError(ERROR_INVALID_PARAMETER), 0;
      old = reinterpret_cast<LONG_PTR>(w->owner);
      w->owner = reinterpret_cast<HWND>(value);
      return old;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

}  // namespace

LONG GetWindowLongA(HWND hwnd, int index) { return static_cast<LONG>(WindowData(hwnd, index, sizeof(LONG))); }
LONG GetWindowLongW(HWND hwnd, int index) { return static_cast<LONG>(WindowData(hwnd, index, sizeof(LONG))); }
LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
  return static_cast<LONG>(SetWindowData(hwnd, index, value, sizeof(LONG), false));
}
LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
  return static_cast<LONG>(SetWindowData(hwnd, index, value, sizeof(LONG), true));
}
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) { return WindowData(hwnd, index, sizeof(LONG_PTR)); }
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) { return WindowData(hwnd, index, sizeof(LONG_PTR)); }
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  return SetWindowData(hwnd, index, value, sizeof(LONG_PTR), false);
}
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  return SetWindowData(hwnd, index, value, sizeof(LONG_PTR), true);
}

namespace {
BOOL SetPropImpl(HWND hwnd, std::u16string name, HANDLE data) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  std::lock_guard lk(WindowLock());
  for (auto& [n, d] : w->props)
    if (EqualNoCase(n, name)) return d = data, TRUE;
  w->props.emplace_back(std::move(name), data);
  return TRUE;
}
HANDLE GetPropImpl(HWND hwnd, const std::u16string& name, bool remove) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  std::lock_guard lk(WindowLock());
  for (auto it = w->props.begin(); it != w->props.end(); ++it) {
    if (!EqualNoCase(it->first, name)) continue;
    HANDLE d = it->second;
    if (remove) w->props.erase(it);
    return d;
  }
  return nullptr;
}
}  // namespace

BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data) { return SetPropImpl(hwnd, FromA(name), data); }
BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data) { return SetPropImpl(hwnd, FromW(name), data); }
HANDLE GetPropA(HWND hwnd, LPCSTR name) { return GetPropImpl(hwnd, FromA(name), false); }
HANDLE GetPropW(HWND hwnd, LPCWSTR name) { return GetPropImpl(hwnd, FromW(name), false); }
HANDLE RemovePropA(HWND hwnd, LPCSTR name) { return GetPropImpl(hwnd, FromA(name), true); }
HANDLE RemovePropW(HWND hwnd, LPCWSTR name) { return GetPropImpl(hwnd, FromW(name), true); }

// ---- Text ----

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!Find(hwnd)) return FALSE;
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (!Find(hwnd)) return FALSE;
  return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE : FALSE;
}
int GetWindowTextA(HWND hwnd, LPSTR text, int max) {
  if (text && max > 0) text[0] = 0;
  if (!Find(hwnd) || !text || max <= 0) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(text)));
}
int GetWindowTextW(HWND hwnd, LPWSTR text, int max) {
  if (text && max > 0) text[0] = 0;
  if (!Find(hwnd) || !text || max <= 0) return 0;
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(text)));
}
int GetWindowTextLengthA(HWND hwnd) {
  if (!Find(hwnd)) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}
int GetWindowTextLengthW(HWND hwnd) {
  if (!Find(hwnd)) return 0;
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextA(item, text) : FALSE;
}
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max) {
  if (text && max > 0) text[0] = 0;
  HWND item = GetDlgItem(dialog, id);
  return item ? static_cast<UINT>(GetWindowTextA(item, text, max)) : 0;
}
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int max) {
  if (text && max > 0) text[0] = 0;
  HWND item = GetDlgItem(dialog, id);
  return item ? static_cast<UINT>(GetWindowTextW(item, text, max)) : 0;
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  HWND item = GetDlgItem(dialog, id);
  if (!item) return 0;
  std::string s = vkr::ui::WindowText(item);
  std::size_t i = 0, n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  bool negative = false;
  if (i < n && isSigned && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == n) return 0;
  unsigned long long v = 0;
  for (std::size_t k = i; k < n; ++k) {
    if (s[k] < '0' || s[k] > '9') return 0;
    v = v * 10 + static_cast<unsigned>(s[k] - '0');
    if (v > 0xFFFFFFFFull) return 0;
  }
  if (isSigned) {
    if ((!negative && v > 0x7FFFFFFFull) || (negative && v > 0x80000000ull)) return 0;
    if (translated) *translated = TRUE;
    return negative ? static_cast<UINT>(-static_cast<long long>(v)) : static_cast<UINT>(v);
  }
  if (translated) *translated = TRUE;
  return static_cast<UINT>(v);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string s = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  return SetDlgItemTextA(dialog, id, s.c_str());
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, message, wParam, lParam) : 0;
}
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, message, wParam, lParam) : 0;
}

// ---- Registered messages ----

namespace {
UINT RegisterMessage(const std::u16string& name) {
  if (name.empty()) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  std::lock_guard lk(T().lock);
  auto key = Upper(name);
  auto it = T().messages.find(key);
  if (it != T().messages.end()) return it->second;
  if (T().nextMessage == vkr::platform::kApartmentCallMessage) ++T().nextMessage;
  if (T().nextMessage > 0xFFFF) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 0;
  UINT m = T().nextMessage++;
  T().messages.emplace(key, m);
  return m;
}
}  // namespace

UINT RegisterWindowMessageA(LPCSTR name) { return RegisterMessage(FromA(name)); }
UINT RegisterWindowMessageW(LPCWSTR name) { return RegisterMessage(FromW(name)); }

// ---- Calling procedures and the default procedure ----

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!proc) return 0;
  auto w = Find(hwnd);
  if (!w) return proc(hwnd, message, wParam, lParam);
  return Raw(w, proc, message, wParam, lParam);
}
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(proc, hwnd, message, wParam, lParam);
}

namespace {

LRESULT ToParent(HWND hwnd, UINT m, WPARAM wp, LPARAM lp) {
  HWND parent = nullptr;
  {
    std::lock_guard lk(WindowLock());
    auto w = FindLocked(hwnd);
    if (w && (w->style & WS_CHILD)) parent = w->parent;
  }
  return parent ? SendMessageW(parent, m, wp, lp) : 0;
}

LRESULT DefProc(HWND hwnd, UINT m, WPARAM wp, LPARAM lp, bool unicode) {
  auto w = Find(hwnd);
  if (!w) return 0;
  switch (m) {
    case WM_NCCREATE: {
      if (lp) {
        std::u16string text = unicode ? FromW(reinterpret_cast<CREATESTRUCTW*>(lp)->lpszName)
                                      : FromA(reinterpret_cast<CREATESTRUCTA*>(lp)->lpszName);
        // A resource reference (0xFFFF, id) is no text.
        if (!text.empty() && text[0] == 0xFFFF) text.clear();
        std::lock_guard lk(WindowLock());
        w->text = std::move(text);
      }
      return TRUE;
    }
    case WM_SETTEXT: {
      std::u16string text = unicode ? FromW(reinterpret_cast<LPCWSTR>(lp)) : FromA(reinterpret_cast<LPCSTR>(lp));
      std::lock_guard lk(WindowLock());
      w->text = std::move(text);
      InvalidateLocked(*w, nullptr, true, false);
      return TRUE;
    }
    case WM_GETTEXT: {
      std::u16string text;
      {
        std::lock_guard lk(WindowLock());
        text = w->text;
      }
      if (unicode) return CopyOut(text, reinterpret_cast<LPWSTR>(lp), static_cast<int>(wp));
      return CopyOut(vkr::Utf16ToUtf8(text), reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard lk(WindowLock());
      return unicode ? static_cast<LRESULT>(w->text.size()) : static_cast<LRESULT>(vkr::Utf16ToUtf8(w->text).size());
    }
    case WM_WINDOWPOSCHANGED: {
      const auto* wp2 = reinterpret_cast<const WINDOWPOS*>(lp);
      if (!wp2) return 0;
      SIZE size;
      POINT origin;
      {
        std::lock_guard lk(WindowLock());
        size = ClientSizeLocked(*w);
        Insets in = FrameInsets(w->style, w->exStyle);
        origin = POINT{w->rect.left + in.side, w->rect.top + in.top};
      }
      if (!(wp2->flags & SWP_NOMOVE))
        SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(origin.x), static_cast<WORD>(origin.y)));
      if (!(wp2->flags & SWP_NOSIZE))
        SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED,
                     MAKELPARAM(static_cast<WORD>(size.cx), static_cast<WORD>(size.cy)));
      return 0;
    }
    case WM_SETCURSOR:
    case WM_MOUSEACTIVATE: {
      LRESULT r = ToParent(hwnd, m, wp, lp);
      if (r) return r;
      return m == WM_MOUSEACTIVATE ? MA_ACTIVATE : FALSE;
    }
    case WM_HELP:
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      return ToParent(hwnd, m, wp, lp);
    case WM_RBUTTONUP: {
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      ClientToScreen(hwnd, &pt);
      SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd),
                   MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
      return 0;
    }
    case WM_ACTIVATE: {
      if (LOWORD(wp) == WA_INACTIVE) return 0;
      HWND focus = GetFocus();
      if (!focus || (focus != hwnd && !IsChild(hwnd, focus))) SetFocus(hwnd);
      return 0;
    }
    case WM_PAINT: {
      RECT r;
      bool erase = false;
      vkr::ui::TakePaintRequest(hwnd, &r, &erase);
      if (erase) {
        if (HDC dc = PaintHookDC(hwnd)) {
          SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
          PaintHookReleaseDC(hwnd, dc);
        }
      }
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush;
      {
        std::lock_guard lk(WindowLock());
        brush = w->cls->background;
      }
      return brush && wp ? PaintHookErase(hwnd, reinterpret_cast<HDC>(wp), brush) : 0;
    }
    case WM_NCHITTEST: {
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      RECT client;
      ScreenToClient(hwnd, &pt);
      GetClientRect(hwnd, &client);
      return (pt.x >= 0 && pt.y >= 0 && pt.x < client.right && pt.y < client.bottom) ? HTCLIENT : HTBORDER;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == 0xF060) SendMessageW(hwnd, WM_CLOSE, 0, 0);  // SC_CLOSE
      return 0;
    case WM_NOTIFYFORMAT:
      return unicode ? 2 : 1;  // NFR_UNICODE, NFR_ANSI
    case WM_QUERYENDSESSION:
      return TRUE;
    default:
      return 0;
  }
}

}  // namespace

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefProc(hwnd, message, wParam, lParam, false);
}
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefProc(hwnd, message, wParam, lParam, true);
}

// ATL-style window classes: CWindow (a handle with the member calls), message maps
// (BEGIN_MSG_MAP ... END_MSG_MAP, handlers with bHandled, alternate maps, chaining),
// CWindowImplRoot (the part a dialog class reuses), and CWindowImpl with its class registration.
//
// The window procedure finds its object in the window system's object slot for the window
// (vkr::ui::SetWindowObject): no thunks, and GWLP_USERDATA stays the program's. The first message
// of a window being created binds the object that Create put in AtlCreatingObject().
//
// Destruction inside a handler: the object's OnFinalMessage runs when the outermost message being
// handled for the window unwinds, after WM_NCDESTROY, so `delete this` there is safe.
//
// CWindow's text members take UTF-8 (char) or UTF-16 (WCHAR); SendMessage and PostMessage are the
// "A" forms, as the system's code sends UTF-8 texts.
#pragma once

#include <cstdio>

#include "platform/ui/windows.h"
#include "platform/win/module.h"

namespace vkr::ui::atl_detail {

// An address inside the module that compiles this header (internal linkage: one per module).
namespace {
inline const char kModuleMarker = 0;
inline HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       &kModuleMarker, &module);
  return module;
}
}  // namespace

}  // namespace vkr::ui::atl_detail

// ---- Argument helpers as ATL has them ----

class _U_RECT {
 public:
  _U_RECT(LPRECT rc) : m_lpRect(rc) {}
  _U_RECT(RECT& rc) : m_lpRect(&rc) {}
  LPRECT m_lpRect;
};

class _U_MENUorID {
 public:
  _U_MENUorID(HMENU menu) : m_hMenu(menu) {}
  _U_MENUorID(UINT id) : m_hMenu(reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id))) {}
  HMENU m_hMenu;
};

// ---- CWindow ----

class CWindow {
 public:
  static inline RECT rcDefault{CW_USEDEFAULT, CW_USEDEFAULT, 0, 0};
  HWND m_hWnd = nullptr;

  CWindow(HWND hWnd = nullptr) noexcept : m_hWnd(hWnd) {}
  CWindow& operator=(HWND hWnd) noexcept {
    m_hWnd = hWnd;
    return *this;
  }
  operator HWND() const noexcept { return m_hWnd; }

  void Attach(HWND hWnd) noexcept { m_hWnd = hWnd; }
  HWND Detach() noexcept {
    HWND h = m_hWnd;
    m_hWnd = nullptr;
    return h;
  }

  HWND Create(LPCWSTR className, HWND parent, _U_RECT rect = nullptr, LPCWSTR windowName = nullptr,
              DWORD style = 0, DWORD exStyle = 0, _U_MENUorID menuOrId = 0U, LPVOID createParam = nullptr) {
    RECT pos = Placement(rect.m_lpRect);
    m_hWnd = ::CreateWindowExW(exStyle, className, windowName, style, pos.left, pos.top, pos.right, pos.bottom, parent,
                               menuOrId.m_hMenu, nullptr, createParam);
    return m_hWnd;
  }
  // x, y, width and height for CreateWindowEx; rcDefault stands for the default place and size.
  static RECT Placement(const RECT* rc) {
    if (!rc || rc->left == CW_USEDEFAULT) return RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT};
    return RECT{rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top};
  }
  BOOL DestroyWindow() {
    if (!::DestroyWindow(m_hWnd)) return FALSE;
    m_hWnd = nullptr;
    return TRUE;
  }

  BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }

  // ---- The tree ----
  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND SetParent(HWND newParent) { return ::SetParent(m_hWnd, newParent); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
  int SetDlgCtrlID(int id) { return static_cast<int>(::SetWindowLongPtrW(m_hWnd, GWLP_ID, id)); }
  HWND GetWindow(UINT cmd) const { return ::GetWindow(m_hWnd, cmd); }
  HWND GetTopLevelParent() const { return ::GetAncestor(m_hWnd, GA_ROOT); }
  BOOL IsChild(HWND hWnd) const { return ::IsChild(m_hWnd, hWnd); }

  // ---- Data and style ----
  LONG GetWindowLong(int index) const { return ::GetWindowLongW(m_hWnd, index); }
  LONG SetWindowLong(int index, LONG value) { return ::SetWindowLongW(m_hWnd, index, value); }
  LONG_PTR GetWindowLongPtr(int index) const { return ::GetWindowLongPtrW(m_hWnd, index); }
  LONG_PTR SetWindowLongPtr(int index, LONG_PTR value) { return ::SetWindowLongPtrW(m_hWnd, index, value); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0) { return Modify(GWL_STYLE, remove, add, swpFlags); }
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0) {
    return Modify(GWL_EXSTYLE, remove, add, swpFlags);
  }

  // ---- Text ----
  BOOL SetWindowText(LPCSTR text) { return ::SetWindowTextA(m_hWnd, text); }
  BOOL SetWindowText(LPCWSTR text) { return ::SetWindowTextW(m_hWnd, text); }
  int GetWindowText(LPSTR text, int maxCount) const { return ::GetWindowTextA(m_hWnd, text, maxCount); }
  int GetWindowText(LPWSTR text, int maxCount) const { return ::GetWindowTextW(m_hWnd, text, maxCount); }
  int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
  BOOL SetDlgItemText(int id, LPCSTR text) { return ::SetDlgItemTextA(m_hWnd, id, text); }
  BOOL SetDlgItemText(int id, LPCWSTR text) { return ::SetDlgItemTextW(m_hWnd, id, text); }
  UINT GetDlgItemText(int id, LPSTR text, int maxCount) const { return ::GetDlgItemTextA(m_hWnd, id, text, maxCount); }
  UINT GetDlgItemText(int id, LPWSTR text, int maxCount) const {
    return ::GetDlgItemTextW(m_hWnd, id, text, maxCount);
  }
  UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const {
    return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
  }
  BOOL SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE) { return ::SetDlgItemInt(m_hWnd, id, value, isSigned); }
  // BM_SETCHECK / BM_GETCHECK of a button item.
  BOOL CheckDlgButton(int id, UINT check) {
    return static_cast<BOOL>(::SendDlgItemMessageA(m_hWnd, id, 0x00F1, check, 0) == 0);
  }
  UINT IsDlgButtonChecked(int id) const { return static_cast<UINT>(::SendDlgItemMessageA(m_hWnd, id, 0x00F0, 0, 0)); }

  // ---- Messages ----
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendDlgItemMessageA(m_hWnd, id, message, wParam, lParam);
  }
  void SetFont(HFONT font, BOOL redraw = TRUE) {
    ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  }
  HFONT GetFont() const { return reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)); }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
  }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

  // ---- Focus ----
  HWND SetFocus() { return ::SetFocus(m_hWnd); }
  static HWND GetFocus() { return ::GetFocus(); }
  HWND SetCapture() { return ::SetCapture(m_hWnd); }

  // ---- Geometry ----
  BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
    return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
  }
  BOOL MoveWindow(LPCRECT rc, BOOL repaint = TRUE) {
    return ::MoveWindow(m_hWnd, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top, repaint);
  }
  BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
  }
  BOOL SetWindowPos(HWND insertAfter, LPCRECT rc, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top, flags);
  }
  BOOL BringWindowToTop() { return ::BringWindowToTop(m_hWnd); }
  BOOL GetWindowRect(LPRECT rc) const { return ::GetWindowRect(m_hWnd, rc); }
  BOOL GetClientRect(LPRECT rc) const { return ::GetClientRect(m_hWnd, rc); }
  BOOL ClientToScreen(LPPOINT pt) const { return ::ClientToScreen(m_hWnd, pt); }
  BOOL ClientToScreen(LPRECT rc) const {
    return ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(rc)) &&
           ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(rc) + 1);
  }
  BOOL ScreenToClient(LPPOINT pt) const { return ::ScreenToClient(m_hWnd, pt); }
  BOOL ScreenToClient(LPRECT rc) const {
    return ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(rc)) &&
           ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(rc) + 1);
  }
  int MapWindowPoints(HWND to, LPPOINT pts, UINT count) const { return ::MapWindowPoints(m_hWnd, to, pts, count); }
  int MapWindowPoints(HWND to, LPRECT rc) const {
    return ::MapWindowPoints(m_hWnd, to, reinterpret_cast<LPPOINT>(rc), 2);
  }
  BOOL ScrollWindow(int dx, int dy, LPCRECT scroll = nullptr, LPCRECT clip = nullptr) {
    return ::ScrollWindow(m_hWnd, dx, dy, scroll, clip);
  }
  // Centres the window on another (its owner or parent by default, else the desktop).
  BOOL CenterWindow(HWND center = nullptr) {
    if (!center) center = ::GetParent(m_hWnd);
    RECT outer, self;
    if (!center || !::GetWindowRect(center, &outer)) outer = RECT{0, 0, vkr::ui::kDesktopWidth, vkr::ui::kDesktopHeight};
    if (!::GetWindowRect(m_hWnd, &self)) return FALSE;
    int w = self.right - self.left, h = self.bottom - self.top;
    POINT p{outer.left + ((outer.right - outer.left) - w) / 2, outer.top + ((outer.bottom - outer.top) - h) / 2};
    if (HWND parent = (GetStyle() & WS_CHILD) ? ::GetParent(m_hWnd) : nullptr) ::ScreenToClient(parent, &p);
    return ::SetWindowPos(m_hWnd, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // ---- Painting ----
  BOOL Invalidate(BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL InvalidateRect(LPCRECT rc, BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, rc, erase); }
  BOOL ValidateRect(LPCRECT rc) { return ::ValidateRect(m_hWnd, rc); }
  BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
  BOOL RedrawWindow(LPCRECT update = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
    return ::RedrawWindow(m_hWnd, update, region, flags);
  }

 private:
  BOOL Modify(int index, DWORD remove, DWORD add, UINT swpFlags) {
    DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, index));
    DWORD next = (style & ~remove) | add;
    if (style == next) return FALSE;
    ::SetWindowLongW(m_hWnd, index, static_cast<LONG>(next));
    if (swpFlags)
      ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
  }
};

// ---- Message maps ----

class CMessageMap {
 public:
  virtual ~CMessageMap() = default;
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD dwMsgMapID) = 0;
};

#define BEGIN_MSG_MAP(theClass)                                                                          \
 public:                                                                                                 \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,       \
                            DWORD dwMsgMapID = 0) {                                                      \
    BOOL bHandled = TRUE;                                                                                \
    (void)hWnd;                                                                                          \
    (void)uMsg;                                                                                          \
    (void)wParam;                                                                                        \
    (void)lParam;                                                                                        \
    (void)lResult;                                                                                       \
    (void)bHandled;                                                                                      \
    switch (dwMsgMapID) {                                                                                \
      case 0:

#define ALT_MSG_MAP(msgMapID) \
  break;                      \
  case msgMapID:

#define MESSAGE_HANDLER(msg, func)                     \
  if (uMsg == (msg)) {                                 \
    bHandled = TRUE;                                   \
    lResult = func(uMsg, wParam, lParam, bHandled);    \
    if (bHandled) return TRUE;                         \
  }

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func) \
  if (uMsg >= (msgFirst) && uMsg <= (msgLast)) {       \
    bHandled = TRUE;                                   \
    lResult = func(uMsg, wParam, lParam, bHandled);    \
    if (bHandled) return TRUE;                         \
  }

#define COMMAND_HANDLER(id, code, func)                                                                  \
  if (uMsg == WM_COMMAND && (id) == LOWORD(wParam) && (code) == HIWORD(wParam)) {                        \
    bHandled = TRUE;                                                                                     \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);            \
    if (bHandled) return TRUE;                                                                           \
  }

#define COMMAND_ID_HANDLER(id, func)                                                          \
  if (uMsg == WM_COMMAND && (id) == LOWORD(wParam)) {                                         \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled) return TRUE;                                                                \
  }

#define COMMAND_CODE_HANDLER(code, func)                                                      \
  if (uMsg == WM_COMMAND && (code) == HIWORD(wParam)) {                                       \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled) return TRUE;                                                                \
  }

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                          \
  if (uMsg == WM_COMMAND && LOWORD(wParam) >= (idFirst) && LOWORD(wParam) <= (idLast)) {      \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled) return TRUE;                                                                \
  }

#define NOTIFY_HANDLER(id, cd, func)                                                                     \
  if (uMsg == WM_NOTIFY && static_cast<UINT_PTR>(id) == reinterpret_cast<LPNMHDR>(lParam)->idFrom &&     \
      static_cast<UINT>(cd) == reinterpret_cast<LPNMHDR>(lParam)->code) {                                \
    bHandled = TRUE;                                                                                     \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);               \
    if (bHandled) return TRUE;                                                                           \
  }

#define NOTIFY_ID_HANDLER(id, func)                                                            \
  if (uMsg == WM_NOTIFY && static_cast<UINT_PTR>(id) == reinterpret_cast<LPNMHDR>(lParam)->idFrom) { \
    bHandled = TRUE;                                                                           \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);     \
    if (bHandled) return TRUE;                                                                 \
  }

#define NOTIFY_CODE_HANDLER(cd, func)                                                          \
  if (uMsg == WM_NOTIFY && static_cast<UINT>(cd) == reinterpret_cast<LPNMHDR>(lParam)->code) { \
    bHandled = TRUE;                                                                           \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);     \
    if (bHandled) return TRUE;                                                                 \
  }

#define NOTIFY_RANGE_HANDLER(idFirst, idLast, func)                                            \
  if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom >= (idFirst) &&           \
      reinterpret_cast<LPNMHDR>(lParam)->idFrom <= (idLast)) {                                 \
    bHandled = TRUE;                                                                           \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);     \
    if (bHandled) return TRUE;                                                                 \
  }

#define CHAIN_MSG_MAP(theChainClass)                                                          \
  {                                                                                           \
    if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) return TRUE; \
  }

#define CHAIN_MSG_MAP_ALT(theChainClass, msgMapID)                                                    \
  {                                                                                                   \
    if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, msgMapID)) return TRUE; \
  }

#define CHAIN_MSG_MAP_MEMBER(theChainMember)                                                          \
  {                                                                                                   \
    if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) return TRUE;   \
  }

#define CHAIN_MSG_MAP_ALT_MEMBER(theChainMember, msgMapID)                                                \
  {                                                                                                       \
    if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, msgMapID)) return TRUE; \
  }

// Sends WM_COMMAND, WM_NOTIFY and the other child notifications back to the child that sent them,
// as OCM__BASE + message.
#define REFLECT_NOTIFICATIONS()                                  \
  {                                                              \
    bHandled = TRUE;                                             \
    lResult = this->ReflectNotifications(uMsg, wParam, lParam, bHandled); \
    if (bHandled) return TRUE;                                   \
  }

#define DEFAULT_REFLECTION_HANDLER()                                 \
  if (this->DefaultReflectionHandler(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define END_MSG_MAP() \
  break;              \
  default:            \
    break;            \
    }                 \
    return FALSE;     \
    }

// The reflected message numbers.
constexpr UINT OCM__BASE = WM_USER + 0x1C00;
constexpr UINT OCM_COMMAND = OCM__BASE + WM_COMMAND;
constexpr UINT OCM_NOTIFY = OCM__BASE + WM_NOTIFY;
constexpr UINT OCM_DRAWITEM = OCM__BASE + WM_DRAWITEM;
constexpr UINT OCM_CTLCOLORSTATIC = OCM__BASE + WM_CTLCOLORSTATIC;
constexpr UINT OCM_CTLCOLOREDIT = OCM__BASE + WM_CTLCOLOREDIT;
constexpr UINT OCM_HSCROLL = OCM__BASE + WM_HSCROLL;
constexpr UINT OCM_VSCROLL = OCM__BASE + WM_VSCROLL;

// The message being handled, as the window procedure received it.
struct _ATL_MSG : public MSG {
  BOOL bHandled;
  _ATL_MSG(HWND h, UINT m, WPARAM w, LPARAM l, BOOL handled = TRUE) : MSG{h, m, w, l, 0, {0, 0}}, bHandled(handled) {}
};

// The object that Create hands to the first message of the window it is creating (per thread).
inline void*& AtlCreatingObject() {
  thread_local void* object = nullptr;
  return object;
}

// ---- The part of a window class that dialogs reuse ----

template <class TBase = CWindow>
class CWindowImplRoot : public TBase, public CMessageMap {
 public:
  enum { WINSTATE_DESTROYED = 0x00000001 };

  const _ATL_MSG* m_pCurrentMsg = nullptr;
  DWORD m_dwState = 0;

  ~CWindowImplRoot() override = default;

  const _ATL_MSG* GetCurrentMessage() const { return m_pCurrentMsg; }
  // Called once, after the window's last message (WM_NCDESTROY) has been handled and every
  // message being handled for it has unwound.
  virtual void OnFinalMessage(HWND /*hWnd*/) {}

  LRESULT ReflectNotifications(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    HWND child = nullptr;
    switch (uMsg) {
      case WM_COMMAND:
        if (lParam) child = reinterpret_cast<HWND>(lParam);
        break;
      case WM_NOTIFY:
        child = reinterpret_cast<LPNMHDR>(lParam)->hwndFrom;
        break;
      case WM_DRAWITEM:
      case WM_MEASUREITEM:
      case WM_COMPAREITEM:
      case WM_DELETEITEM:
        if (wParam) child = ::GetDlgItem(this->m_hWnd, static_cast<int>(wParam));
        break;
      case WM_HSCROLL:
      case WM_VSCROLL:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
        child = reinterpret_cast<HWND>(lParam);
        break;
      default:
        break;
    }
    if (!child || !::IsWindow(child)) {
      bHandled = FALSE;
      return 1;
    }
    return ::SendMessageW(child, OCM__BASE + uMsg, wParam, lParam);
  }

  static BOOL DefaultReflectionHandler(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    if (uMsg < OCM__BASE + WM_COMMAND || uMsg > OCM__BASE + WM_CTLCOLORSTATIC) return FALSE;
    lResult = ::DefWindowProcW(hWnd, uMsg - OCM__BASE, wParam, lParam);
    return TRUE;
  }

 protected:
  // The common end of every window procedure built on this class: runs the map, then the default
  // for what it left, and OnFinalMessage once the outermost message after WM_NCDESTROY unwinds.
  template <class Default>
  static LRESULT RouteMessage(CWindowImplRoot* self, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                              Default defaultProc) {
    _ATL_MSG msg(hWnd, uMsg, wParam, lParam);
    const _ATL_MSG* old = self->m_pCurrentMsg;
    self->m_pCurrentMsg = &msg;
    LRESULT result = 0;
    BOOL handled = self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0);
    self->m_pCurrentMsg = old;
    if (!handled) result = defaultProc(uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) self->m_dwState |= WINSTATE_DESTROYED;
    if ((self->m_dwState & WINSTATE_DESTROYED) && old == nullptr) {
      HWND gone = self->m_hWnd;
      self->m_hWnd = nullptr;
      self->m_dwState &= ~static_cast<DWORD>(WINSTATE_DESTROYED);
      self->OnFinalMessage(gone);
    }
    return result;
  }
};

// ---- Window traits ----

template <DWORD t_dwStyle = 0, DWORD t_dwExStyle = 0>
class CWinTraits {
 public:
  static DWORD GetWndStyle(DWORD style) { return style == 0 ? t_dwStyle : style; }
  static DWORD GetWndExStyle(DWORD exStyle) { return exStyle == 0 ? t_dwExStyle : exStyle; }
};
using CControlWinTraits = CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0>;
using CFrameWinTraits = CWinTraits<WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                   WS_EX_APPWINDOW | WS_EX_WINDOWEDGE>;
using CNullTraits = CWinTraits<0, 0>;

// ---- Window class registration ----

struct CWndClassInfo {
  WNDCLASSEXW m_wc;
  LPCWSTR m_lpszOrigName;  // a superclass's base class, or null
  WNDPROC pWndProc;        // the base class's procedure (superclass)
  ATOM m_atom = 0;
  WCHAR m_szAutoName[32] = {};

  // Registers the class once; *superProc gets the procedure the default handling calls.
  ATOM Register(WNDPROC* superProc) {
    if (m_atom) {
      // The module's end unregisters its classes; one that lives on (or is loaded again) registers anew.
      WNDCLASSEXW still{};
      still.cbSize = sizeof still;
      if (!::GetClassInfoExW(m_wc.hInstance, m_wc.lpszClassName, &still)) m_atom = 0;
    }
    if (!m_atom) {
      if (m_lpszOrigName) {
        WNDCLASSEXW base{};
        base.cbSize = sizeof base;
        if (!::GetClassInfoExW(nullptr, m_lpszOrigName, &base)) return 0;
        pWndProc = base.lpfnWndProc;
        WNDPROC ours = m_wc.lpfnWndProc;
        LPCWSTR name = m_wc.lpszClassName;
        m_wc = base;
        m_wc.lpfnWndProc = ours;
        m_wc.lpszClassName = name;
      }
      // The class is the module's own (its instance): two modules with the same classes never
      // share a window procedure, and a module's classes go with it.
      m_wc.hInstance = vkr::ui::atl_detail::ThisModule();
      if (!m_wc.lpszClassName) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "ATL:%p", static_cast<void*>(this));
        for (int i = 0; i < 31 && buf[i]; ++i) m_szAutoName[i] = static_cast<WCHAR>(buf[i]);
        m_wc.lpszClassName = m_szAutoName;
      }
      m_atom = ::RegisterClassExW(&m_wc);
      if (!m_atom) {
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof existing;
        // Registered already (by an earlier module instance): created by name from then on.
        if (::GetClassInfoExW(nullptr, m_wc.lpszClassName, &existing)) m_atom = 0xFFFF;
      }
    }
    if (m_lpszOrigName) *superProc = pWndProc;
    return m_atom;
  }
};

#define DECLARE_WND_CLASS_EX(WndClassName, style, bkgnd)                                                  \
  static CWndClassInfo& GetWndClassInfo() {                                                              \
    static CWndClassInfo wc = {{sizeof(WNDCLASSEXW), style, StartWindowProc, 0, 0, nullptr, nullptr,      \
                                nullptr, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>((bkgnd) + 1)),    \
                                nullptr, WndClassName, nullptr},                                         \
                               nullptr, nullptr};                                                        \
    return wc;                                                                                           \
  }

// The background is the window colour (COLOR_WINDOW = 5).
#define DECLARE_WND_CLASS(WndClassName) DECLARE_WND_CLASS_EX(WndClassName, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, 5)

#define DECLARE_WND_SUPERCLASS(WndClassName, OrigWndClassName)                                       \
  static CWndClassInfo& GetWndClassInfo() {                                                         \
    static CWndClassInfo wc = {{sizeof(WNDCLASSEXW), 0, StartWindowProc, 0, 0, nullptr, nullptr,     \
                                nullptr, nullptr, nullptr, WndClassName, nullptr},                   \
                               OrigWndClassName, nullptr};                                          \
    return wc;                                                                                      \
  }

// ---- CWindowImpl ----

template <class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImplBaseT : public CWindowImplRoot<TBase> {
 public:
  WNDPROC m_pfnSuperWindowProc = ::DefWindowProcW;

  // An object that goes before its window leaves it to the default procedure, never dangling.
  ~CWindowImplBaseT() override {
    if (this->m_hWnd && vkr::ui::GetWindowObject(this->m_hWnd) == this) {
      if (m_pfnSuperWindowProc != ::DefWindowProcW)
        ::SetWindowLongPtrW(this->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
      vkr::ui::SetWindowObject(this->m_hWnd, nullptr);
    }
  }

  static DWORD GetWndStyle(DWORD style) { return TWinTraits::GetWndStyle(style); }
  static DWORD GetWndExStyle(DWORD exStyle) { return TWinTraits::GetWndExStyle(exStyle); }

  // The procedure every window of the class has; finds its object in the window's slot.
  static LRESULT StartWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return WindowProc(hWnd, uMsg, wParam, lParam);
  }
  static LRESULT WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CWindowImplBaseT*>(vkr::ui::GetWindowObject(hWnd));
    if (!self) {
      self = static_cast<CWindowImplBaseT*>(AtlCreatingObject());
      if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
      AtlCreatingObject() = nullptr;
      self->m_hWnd = hWnd;
      vkr::ui::SetWindowObject(hWnd, self);
    }
    return CWindowImplRoot<TBase>::RouteMessage(self, hWnd, uMsg, wParam, lParam,
                                                [self, hWnd](UINT m, WPARAM w, LPARAM l) -> LRESULT {
                                                  if (m == WM_NCDESTROY) {
                                                    LRESULT r = self->DefWindowProc(m, w, l);
                                                    self->Unbind(hWnd);
                                                    return r;
                                                  }
                                                  return self->DefWindowProc(m, w, l);
                                                });
  }

  LRESULT DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(m_pfnSuperWindowProc, this->m_hWnd, uMsg, wParam, lParam);
  }
  LRESULT DefWindowProc() {
    const _ATL_MSG* m = this->m_pCurrentMsg;
    return m ? DefWindowProc(m->message, m->wParam, m->lParam) : 0;
  }

  HWND Create(HWND hWndParent, _U_RECT rect, LPCWSTR windowName, DWORD style, DWORD exStyle, _U_MENUorID menuOrId,
              ATOM atom, LPVOID createParam, LPCWSTR className) {
    if (!atom) return nullptr;
    RECT pos = CWindow::Placement(rect.m_lpRect);
    AtlCreatingObject() = this;
    HWND h = ::CreateWindowExW(exStyle, className, windowName, style, pos.left, pos.top, pos.right, pos.bottom,
                               hWndParent, menuOrId.m_hMenu, vkr::ui::atl_detail::ThisModule(), createParam);
    AtlCreatingObject() = nullptr;
    return h;
  }

  // Takes over an existing window: its procedure becomes the class's, the old one the default.
  BOOL SubclassWindow(HWND hWnd) {
    if (this->m_hWnd || !::IsWindow(hWnd)) return FALSE;
    vkr::ui::SetWindowObject(hWnd, this);
    m_pfnSuperWindowProc =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc)));
    this->m_hWnd = hWnd;
    return TRUE;
  }
  HWND UnsubclassWindow() {
    HWND h = this->m_hWnd;
    if (!h) return nullptr;
    ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
    vkr::ui::SetWindowObject(h, nullptr);
    m_pfnSuperWindowProc = ::DefWindowProcW;
    this->m_hWnd = nullptr;
    return h;
  }

 private:
  // After WM_NCDESTROY: a subclassed window gets its own procedure back, and the slot is freed.
  void Unbind(HWND hWnd) {
    if (m_pfnSuperWindowProc != ::DefWindowProcW &&
        ::GetWindowLongPtrW(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&WindowProc))
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
    vkr::ui::SetWindowObject(hWnd, nullptr);
  }
};

using CWindowImplBase = CWindowImplBaseT<CWindow>;

template <class T, class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImpl : public CWindowImplBaseT<TBase, TWinTraits> {
 public:
  using Base = CWindowImplBaseT<TBase, TWinTraits>;
  using Base::StartWindowProc;
  DECLARE_WND_CLASS(nullptr)

  HWND Create(HWND hWndParent, _U_RECT rect = nullptr, LPCWSTR windowName = nullptr, DWORD style = 0,
              DWORD exStyle = 0, _U_MENUorID menuOrId = 0U, LPVOID createParam = nullptr) {
    CWndClassInfo& info = T::GetWndClassInfo();
    ATOM atom = info.Register(&this->m_pfnSuperWindowProc);
    style = T::GetWndStyle(style);
    exStyle = T::GetWndExStyle(exStyle);
    return Base::Create(hWndParent, rect, windowName, style, exStyle, menuOrId, atom, createParam,
                        info.m_wc.lpszClassName);
  }
};

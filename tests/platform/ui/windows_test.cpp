// The window core: stale handles, creation and destruction order, destruction inside the window's
// own dispatch, geometry and show messages only on a change, style changes, focus order, text
// round trips between the A and W forms, message maps, the host loop's filter chain and the input
// helpers.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/threading.h"

namespace {

// ---- A recording window class ----

using Behaviour = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

struct Recorder {
  static inline std::vector<std::string> log;
  static inline std::map<HWND, std::string> names;
  static inline std::map<std::string, Behaviour> behaviour;  // by window name
  static inline std::string creating;
  static inline std::set<UINT> watched;

  static std::string Name(HWND h) {
    auto it = names.find(h);
    return it == names.end() ? "?" : it->second;
  }
};

std::string MessageName(UINT m) {
  static const std::map<UINT, std::string> names = {
      {WM_NCCREATE, "NCCREATE"},   {WM_CREATE, "CREATE"},         {WM_DESTROY, "DESTROY"},
      {WM_NCDESTROY, "NCDESTROY"}, {WM_MOVE, "MOVE"},             {WM_SIZE, "SIZE"},
      {WM_SHOWWINDOW, "SHOW"},     {WM_SETFOCUS, "SETFOCUS"},     {WM_KILLFOCUS, "KILLFOCUS"},
      {WM_ENABLE, "ENABLE"},       {WM_STYLECHANGING, "STYLECHANGING"}, {WM_STYLECHANGED, "STYLECHANGED"},
      {WM_SETCURSOR, "SETCURSOR"}, {WM_MOUSEACTIVATE, "MOUSEACTIVATE"}, {WM_LBUTTONDOWN, "LBUTTONDOWN"},
      {WM_LBUTTONUP, "LBUTTONUP"}, {WM_KEYDOWN, "KEYDOWN"},       {WM_KEYUP, "KEYUP"},
      {WM_CHAR, "CHAR"},           {WM_PAINT, "PAINT"},           {WM_WINDOWPOSCHANGING, "POSCHANGING"},
      {WM_WINDOWPOSCHANGED, "POSCHANGED"}, {WM_SYSKEYDOWN, "SYSKEYDOWN"}, {WM_SYSCHAR, "SYSCHAR"}};
  auto it = names.find(m);
  return it == names.end() ? std::to_string(m) : it->second;
}

LRESULT RecorderProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) Recorder::names[h] = Recorder::creating;
  std::string name = Recorder::Name(h);
  if (Recorder::watched.count(m)) Recorder::log.push_back(name + ":" + MessageName(m));
  auto it = Recorder::behaviour.find(name);
  if (it != Recorder::behaviour.end())
    if (auto r = it->second(h, m, w, l)) return *r;
  return DefWindowProcW(h, m, w, l);
}

LRESULT RecorderProcA(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) Recorder::names[h] = Recorder::creating;
  return DefWindowProcA(h, m, w, l);
}

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &RecorderProc;
    wc.lpszClassName = u"UiCoreRecorder";
    RegisterClassW(&wc);
    WNDCLASSA wa{};
    wa.lpfnWndProc = &RecorderProcA;
    wa.lpszClassName = "UiCoreRecorderA";
    RegisterClassA(&wa);
  }

  void SetUp() override {
    Recorder::log.clear();
    Recorder::names.clear();
    Recorder::behaviour.clear();
    Recorder::watched.clear();
  }

  void TearDown() override {
    for (HWND h : m_made)
      if (IsWindow(h)) DestroyWindow(h);
    vkr::ui::PumpUntilIdle();
    SetFocus(nullptr);
  }

  HWND Make(const std::string& name, HWND parent = nullptr, DWORD style = 0, RECT r = {0, 0, 100, 50}, int id = 0,
            DWORD exStyle = 0) {
    Recorder::creating = name;
    if (parent) style |= WS_CHILD;
    HWND h = CreateWindowExW(exStyle, u"UiCoreRecorder", nullptr, style, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                             nullptr);
    m_made.push_back(h);
    return h;
  }

  void Watch(std::initializer_list<UINT> messages) {
    Recorder::watched = messages;
    Recorder::log.clear();
  }

  std::vector<HWND> m_made;
};

using Log = std::vector<std::string>;

// ---- Stale and null handles fail quietly ----

TEST_F(Windows, NullAndStaleHandlesFailQuietlyEverywhere) {
  HWND stale = Make("stale");
  ASSERT_TRUE(DestroyWindow(stale));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  RECT r{};
  POINT p{};
  char text[8] = "x";
  struct Call {
    const char* name;
    std::function<LONG_PTR(HWND)> call;
    bool nullAllowed;  // the call means something else for a null window
  };
  const std::vector<Call> calls = {
      {"IsWindow", [](HWND h) { return IsWindow(h); }, false},
      {"DestroyWindow", [](HWND h) { return DestroyWindow(h); }, false},
      {"GetParent", [](HWND h) { return reinterpret_cast<LONG_PTR>(GetParent(h)); }, false},
      {"GetWindow", [](HWND h) { return reinterpret_cast<LONG_PTR>(GetWindow(h, GW_CHILD)); }, false},
      {"GetDlgItem", [](HWND h) { return reinterpret_cast<LONG_PTR>(GetDlgItem(h, 1)); }, false},
      {"GetDlgCtrlID", [](HWND h) { return GetDlgCtrlID(h); }, false},
      {"GetWindowLongPtr", [](HWND h) { return GetWindowLongPtrW(h, GWL_STYLE); }, false},
      {"SetWindowLongPtr", [](HWND h) { return SetWindowLongPtrW(h, GWLP_USERDATA, 5); }, false},
      {"SetWindowText", [](HWND h) { return SetWindowTextA(h, "a"); }, false},
      {"GetWindowText", [&](HWND h) { return GetWindowTextA(h, text, 8) + (text[0] ? 100 : 0); }, false},
      {"GetWindowTextLength", [](HWND h) { return GetWindowTextLengthW(h); }, false},
      {"GetClassName", [&](HWND h) { return GetClassNameA(h, text, 8); }, false},
      {"SetDlgItemText", [](HWND h) { return SetDlgItemTextA(h, 1, "a"); }, false},
      {"GetDlgItemInt", [](HWND h) { return GetDlgItemInt(h, 1, nullptr, TRUE); }, false},
      {"ShowWindow", [](HWND h) { return ShowWindow(h, SW_SHOW); }, false},
      {"IsWindowVisible", [](HWND h) { return IsWindowVisible(h); }, false},
      {"EnableWindow", [](HWND h) { return EnableWindow(h, FALSE); }, false},
      {"IsWindowEnabled", [](HWND h) { return IsWindowEnabled(h); }, false},
      {"MoveWindow", [](HWND h) { return MoveWindow(h, 1, 1, 5, 5, TRUE); }, false},
      {"SetWindowPos", [](HWND h) { return SetWindowPos(h, nullptr, 1, 1, 5, 5, SWP_NOZORDER); }, false},
      {"GetWindowRect", [&](HWND h) { return GetWindowRect(h, &r); }, false},
      {"GetClientRect", [&](HWND h) { return GetClientRect(h, &r); }, false},
      {"ClientToScreen", [&](HWND h) { return ClientToScreen(h, &p); }, false},
      {"UpdateWindow", [](HWND h) { return UpdateWindow(h); }, false},
      {"InvalidateRect", [](HWND h) { return InvalidateRect(h, nullptr, TRUE); }, true},
      {"SetFocus", [](HWND h) { return reinterpret_cast<LONG_PTR>(SetFocus(h)); }, true},
      {"SendMessage", [](HWND h) { return SendMessageW(h, WM_USER, 0, 0); }, false},
      {"PostMessage", [](HWND h) { return PostMessageW(h, WM_USER, 0, 0); }, true},
      {"SetParent", [](HWND h) { return reinterpret_cast<LONG_PTR>(SetParent(h, nullptr)); }, false},
  };
  for (HWND h : {static_cast<HWND>(nullptr), stale, reinterpret_cast<HWND>(event),
                 reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xFFFFFF0))}) {
    for (const auto& c : calls) {
      if (!h && c.nullAllowed) continue;
      SetLastError(0);
      text[0] = 'x';
      EXPECT_EQ(c.call(h), 0) << c.name << " with " << h;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)) << c.name << " with " << h;
    }
  }
  // A window handle is no kernel handle.
  HWND live = Make("live");
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(live)));
  EXPECT_TRUE(IsWindow(live));
  CloseHandle(event);
}

// ---- Creation, the tree and destruction ----

TEST_F(Windows, CreationSendsItsMessagesAndCreateCanRefuse) {
  Watch({WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, WM_SHOWWINDOW, WM_DESTROY, WM_NCDESTROY});
  HWND top = Make("top", nullptr, WS_VISIBLE | WS_POPUP);
  EXPECT_EQ(Recorder::log, (Log{"top:NCCREATE", "top:CREATE", "top:SIZE", "top:MOVE", "top:SHOW"}));
  EXPECT_TRUE(IsWindowVisible(top));

  Recorder::log.clear();
  Recorder::behaviour["refuses"] = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_CREATE) return -1;
    return std::nullopt;
  };
  EXPECT_EQ(Make("refuses", top), nullptr);
  EXPECT_EQ(Recorder::log, (Log{"refuses:NCCREATE", "refuses:CREATE", "refuses:DESTROY", "refuses:NCDESTROY"}));
  EXPECT_EQ(GetWindow(top, GW_CHILD), nullptr);

  // Children keep creation order: z-order and tab order alike.
  HWND a = Make("a", top, 0, {0, 0, 10, 10}, 11);
  HWND b = Make("b", top, 0, {0, 0, 10, 10}, 12);
  HWND c = Make("c", top, 0, {0, 0, 10, 10}, 13);
  EXPECT_EQ(GetWindow(top, GW_CHILD), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
  EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), c);
  EXPECT_EQ(GetWindow(c, GW_HWNDNEXT), nullptr);
  EXPECT_EQ(GetWindow(c, GW_HWNDPREV), b);
  EXPECT_EQ(GetDlgItem(top, 12), b);
  EXPECT_EQ(GetParent(b), top);
  EXPECT_TRUE(IsChild(top, b));
  SetWindowLongPtrW(b, GWL_ID, 218);
  EXPECT_EQ(GetDlgItem(top, 218), b);
  EXPECT_EQ(GetDlgCtrlID(b), 218);
  EXPECT_EQ(vkr::ui::ClassName(b), "UiCoreRecorder");
  // Class names are looked up without regard to case; the registered spelling is kept.
  Recorder::creating = "d";
  HWND d = CreateWindowExA(0, "uicorerecorder", "", WS_CHILD, 0, 0, 1, 1, top, nullptr, nullptr, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(vkr::ui::ClassName(d), "UiCoreRecorder");
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

  // A handle is never given again.
  DestroyWindow(d);
  HWND again = Make("again", top);
  EXPECT_NE(again, d);
  EXPECT_FALSE(IsWindow(d));
}

TEST_F(Windows, DestroyGoesDownTheTreeAndUpAgain) {
  HWND p = Make("p");
  HWND c1 = Make("c1", p);
  Make("g", c1);
  Make("c2", p);
  HWND owned = Make("owned", nullptr, WS_POPUP);
  SetWindowLongPtrW(owned, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(p));
  Watch({WM_DESTROY, WM_NCDESTROY});
  EXPECT_TRUE(DestroyWindow(p));
  EXPECT_EQ(Recorder::log, (Log{"owned:DESTROY", "owned:NCDESTROY", "p:DESTROY", "c1:DESTROY", "g:DESTROY",
                                "g:NCDESTROY", "c1:NCDESTROY", "c2:DESTROY", "c2:NCDESTROY", "p:NCDESTROY"}));
  EXPECT_FALSE(IsWindow(c1));
  EXPECT_FALSE(IsWindow(owned));
}

// A window that closes itself from its own handler, as a control does on its close request.
class SelfClosing : public CWindowImpl<SelfClosing> {
 public:
  static inline std::vector<std::string> events;
  int handled = 0;

  BEGIN_MSG_MAP(SelfClosing)
    MESSAGE_HANDLER(WM_USER + 0x1200, OnClose)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
  END_MSG_MAP()

  LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    events.push_back("close");
    HWND self = m_hWnd;
    // Nested: the procedure of the dying window runs again while this one is on the stack.
    SendMessageW(self, WM_USER + 1, 0, 0);
    ::DestroyWindow(self);
    events.push_back(::IsWindow(self) ? "alive" : "dead");
    ++handled;  // the object is still there
    events.push_back("handled " + std::to_string(handled));
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    events.push_back("destroy");
    bHandled = FALSE;
    return 0;
  }
  void OnFinalMessage(HWND) override {
    events.push_back("final");
    delete this;
  }
};

TEST_F(Windows, DestroyInsideTheWindowsOwnDispatchIsSafe) {
  SelfClosing::events.clear();
  HWND parent = Make("parent");
  auto* w = new SelfClosing;
  RECT rc{0, 0, 20, 20};
  HWND h = w->Create(parent, rc);
  ASSERT_NE(h, nullptr);
  PostMessageW(h, WM_USER + 0x1200, 0, 0);
  PostMessageW(h, WM_USER + 0x1200, 0, 0);  // queued for a window that will be gone: dropped
  EXPECT_TRUE(vkr::ui::PumpUntilIdle());
  EXPECT_EQ(SelfClosing::events, (Log{"close", "destroy", "dead", "handled 1", "final"}));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
}

TEST_F(Windows, PostedMessagesComeInOrderAndThoseOfADestroyedWindowAreDropped) {
  HWND h = Make("h");
  HWND gone = Make("gone");
  Watch({WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 9});
  Recorder::behaviour["h"] = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    // A send nests inside the handler, before the next posted message.
    if (m == WM_USER + 1) SendMessageW(gone, WM_USER + 9, 0, 0);
    return std::nullopt;
  };
  PostMessageW(h, WM_USER + 1, 0, 0);
  PostMessageW(gone, WM_USER + 2, 0, 0);
  PostMessageW(h, WM_USER + 2, 0, 0);
  PostMessageW(h, WM_USER + 3, 0, 0);
  PostMessageW(gone, WM_USER + 3, 0, 0);
  Recorder::behaviour["gone"] = [&](HWND self, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_USER + 9) DestroyWindow(self);
    return std::nullopt;
  };
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Recorder::log, (Log{"h:1025", "gone:1033", "h:1026", "h:1027"}));
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(gone, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// ---- Geometry and visibility ----

TEST_F(Windows, WindowPosChangingEditsAreHonoured) {
  HWND parent = Make("parent", nullptr, WS_POPUP, {100, 50, 500, 450});
  HWND child = Make("child", parent, 0, {10, 10, 60, 40});
  Recorder::behaviour["child"] = [](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
    if (m != WM_WINDOWPOSCHANGING) return std::nullopt;
    auto* pos = reinterpret_cast<WINDOWPOS*>(l);
    pos->cy = std::max(pos->cy, 24);  // a minimum height
    if (pos->x < 0) pos->x = 0;       // never left of the parent
    return 0;
  };
  struct Row {
    RECT request;
    RECT expected;  // in the parent's client coordinates
  };
  const Row rows[] = {{{5, 5, 105, 15}, {5, 5, 105, 29}},
                      {{-20, 7, 30, 57}, {0, 7, 50, 57}},
                      {{1, 2, 3, 4}, {1, 2, 3, 26}}};
  for (const auto& row : rows) {
    MoveWindow(child, row.request.left, row.request.top, row.request.right - row.request.left,
               row.request.bottom - row.request.top, TRUE);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, row.expected.left);
    EXPECT_EQ(r.top, row.expected.top);
    EXPECT_EQ(r.right, row.expected.right);
    EXPECT_EQ(r.bottom, row.expected.bottom);
  }
  // Screen coordinates of a child follow its parent exactly.
  RECT screen;
  GetWindowRect(child, &screen);
  EXPECT_EQ(screen.left, 100 + 1);
  EXPECT_EQ(screen.top, 50 + 2);
  POINT pt{0, 0};
  ClientToScreen(child, &pt);
  EXPECT_EQ(pt.x, 101);
  ScreenToClient(parent, &pt);
  EXPECT_EQ(pt.x, 1);
  EXPECT_EQ(pt.y, 2);
}

TEST_F(Windows, SizeMoveAndShowComeOnlyOnARealChange) {
  HWND parent = Make("parent", nullptr, WS_POPUP | WS_VISIBLE, {0, 0, 400, 300});
  HWND w = Make("w", parent, 0, {10, 10, 110, 60}, 0, WS_EX_CLIENTEDGE);
  std::vector<LPARAM> sizes;
  Recorder::behaviour["w"] = [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_SIZE) sizes.push_back(l);
    return std::nullopt;
  };
  struct Row {
    const char* what;
    std::function<void()> act;
    Log expected;
  };
  const std::vector<Row> rows = {
      {"same place and size", [&] { MoveWindow(w, 10, 10, 100, 50, TRUE); }, {}},
      {"move only", [&] { MoveWindow(w, 20, 10, 100, 50, TRUE); }, {"w:MOVE"}},
      {"size only", [&] { SetWindowPos(w, nullptr, 0, 0, 120, 50, SWP_NOMOVE | SWP_NOZORDER); }, {"w:SIZE"}},
      {"both", [&] { MoveWindow(w, 0, 0, 10, 10, TRUE); }, {"w:MOVE", "w:SIZE"}},
      {"show", [&] { ShowWindow(w, SW_SHOW); }, {"w:SHOW"}},
      {"show again", [&] { ShowWindow(w, SW_SHOWNOACTIVATE); }, {}},
      {"hide the parent", [&] { ShowWindow(parent, SW_HIDE); }, {"parent:SHOW"}},
      {"show the parent", [&] { ShowWindow(parent, SW_SHOWNA); }, {"parent:SHOW"}},
      {"hide", [&] { ShowWindow(w, SW_HIDE); }, {"w:SHOW"}},
      {"hide again", [&] { ShowWindow(w, SW_HIDE); }, {}},
  };
  for (const auto& row : rows) {
    Watch({WM_SIZE, WM_MOVE, WM_SHOWWINDOW});
    row.act();
    EXPECT_EQ(Recorder::log, row.expected) << row.what;
  }
  // The client area is inside the 2-pixel edge.
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes.back(), MAKELPARAM(6, 6));

  // Visibility includes the ancestors; hiding a parent leaves the child's own style alone.
  ShowWindow(w, SW_SHOW);
  ShowWindow(parent, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE);

  // A parent that answers a child's WM_SIZE by sizing it again to the same size ends there.
  int forwarded = 0;
  Recorder::behaviour["w"] = [&](HWND self, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_SIZE && ++forwarded < 50) MoveWindow(self, 0, 0, 30, 30, TRUE);
    return std::nullopt;
  };
  MoveWindow(w, 0, 0, 30, 30, TRUE);
  EXPECT_EQ(forwarded, 1);
}

TEST_F(Windows, StyleChangesGoThroughChangingAndChanged) {
  HWND w = Make("w", nullptr, WS_POPUP);
  std::vector<std::pair<DWORD, DWORD>> seen;
  Recorder::behaviour["w"] = [&](HWND, UINT m, WPARAM wp, LPARAM l) -> std::optional<LRESULT> {
    if (m != WM_STYLECHANGING && m != WM_STYLECHANGED) return std::nullopt;
    auto* ss = reinterpret_cast<STYLESTRUCT*>(l);
    seen.push_back({ss->styleOld, ss->styleNew});
    // The window adds a bit of its own while the change is pending; a change made afterwards
    // has no effect.
    if (m == WM_STYLECHANGING) ss->styleNew |= (static_cast<int>(wp) == GWL_STYLE ? WS_TABSTOP : WS_EX_CONTROLPARENT);
    if (m == WM_STYLECHANGED) ss->styleNew |= WS_GROUP;
    return 0;
  };
  struct Row {
    int index;
    DWORD add;
    DWORD added;
  };
  for (const Row& row : {Row{GWL_STYLE, WS_BORDER, WS_TABSTOP}, Row{GWL_EXSTYLE, WS_EX_CLIENTEDGE, WS_EX_CONTROLPARENT}}) {
    seen.clear();
    Watch({WM_STYLECHANGING, WM_STYLECHANGED});
    DWORD before = static_cast<DWORD>(GetWindowLongW(w, row.index));
    EXPECT_EQ(static_cast<DWORD>(SetWindowLongW(w, row.index, static_cast<LONG>(before | row.add))), before);
    EXPECT_EQ(Recorder::log, (Log{"w:STYLECHANGING", "w:STYLECHANGED"}));
    DWORD after = static_cast<DWORD>(GetWindowLongW(w, row.index));
    EXPECT_EQ(after, before | row.add | row.added);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(before, before | row.add));
    EXPECT_EQ(seen[1], std::make_pair(before, after));
  }
  // Through ATL's ModifyStyle as well.
  CWindow wnd(w);
  Watch({WM_STYLECHANGING, WM_STYLECHANGED});
  EXPECT_TRUE(wnd.ModifyStyle(WS_BORDER, 0));
  EXPECT_EQ(Recorder::log, (Log{"w:STYLECHANGING", "w:STYLECHANGED"}));
  EXPECT_FALSE(wnd.GetStyle() & WS_BORDER);
}

// ---- Focus and enabled state ----

TEST_F(Windows, FocusMovesWithKillBeforeSetAndDisabledWindowsLoseIt) {
  HWND top = Make("top", nullptr, WS_POPUP | WS_VISIBLE);
  HWND a = Make("a", top);
  HWND b = Make("b", top);
  std::vector<HWND> focusDuringKill;
  Recorder::behaviour["a"] = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_KILLFOCUS) focusDuringKill.push_back(GetFocus());
    return std::nullopt;
  };
  SetFocus(a);
  Watch({WM_SETFOCUS, WM_KILLFOCUS, WM_ENABLE});
  EXPECT_EQ(SetFocus(b), a);
  EXPECT_EQ(SetFocus(b), b);  // no change, no messages
  EXPECT_EQ(SetFocus(a), b);
  EXPECT_EQ(Recorder::log, (Log{"a:KILLFOCUS", "b:SETFOCUS", "b:KILLFOCUS", "a:SETFOCUS"}));
  EXPECT_EQ(focusDuringKill, (std::vector<HWND>{b}));

  Watch({WM_SETFOCUS, WM_KILLFOCUS, WM_ENABLE});
  EXPECT_FALSE(EnableWindow(top, FALSE));  // was enabled
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(SetFocus(b), nullptr);  // refused inside a disabled parent
  EXPECT_TRUE(EnableWindow(top, FALSE));  // already disabled: nothing sent
  EXPECT_TRUE(EnableWindow(top, TRUE));
  EXPECT_EQ(Recorder::log, (Log{"a:KILLFOCUS", "top:ENABLE", "top:ENABLE"}));
  EXPECT_EQ(SetFocus(b), nullptr);
  EXPECT_EQ(GetFocus(), b);
  // Destroying the focus window leaves no focus behind.
  DestroyWindow(b);
  EXPECT_EQ(GetFocus(), nullptr);
}

// ---- Text ----

TEST_F(Windows, TextRoundTripsBetweenUtf8AndUtf16) {
  HWND wide = Make("wide");
  Recorder::creating = "narrow";
  HWND narrow = CreateWindowExA(0, "UiCoreRecorderA", "start", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  m_made.push_back(narrow);
  EXPECT_EQ(vkr::ui::WindowText(narrow), "start");
  const std::vector<std::string> texts = {"", "Level", "Füllstand 5,5 m", "Grad °C", "日本語", "a😀b"};
  for (HWND h : {wide, narrow}) {
    for (const auto& t : texts) {
      std::u16string w = vkr::Utf8ToUtf16(t);
      ASSERT_TRUE(SetWindowTextA(h, t.c_str()));
      WCHAR wbuf[64];
      EXPECT_EQ(GetWindowTextW(h, wbuf, 64), static_cast<int>(w.size()));
      EXPECT_EQ(std::u16string(wbuf), w);
      EXPECT_EQ(GetWindowTextLengthW(h), static_cast<int>(w.size()));
      EXPECT_EQ(GetWindowTextLengthA(h), static_cast<int>(t.size()));
      ASSERT_TRUE(SetWindowTextW(h, w.c_str()));
      char buf[64];
      EXPECT_EQ(GetWindowTextA(h, buf, 64), static_cast<int>(t.size()));
      EXPECT_EQ(std::string(buf), t);
    }
    // A short buffer cuts before a whole character, never inside one.
    SetWindowTextA(h, "Grad °C");
    char small[7];
    EXPECT_EQ(GetWindowTextA(h, small, 7), 5);
    EXPECT_EQ(std::string(small), "Grad ");
  }
}

// A built-in list-like class keeps UTF-16 items; "A" callers give and get UTF-8.
std::vector<std::u16string> g_listLikeItems;

LRESULT ListLikeProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto& items = g_listLikeItems;
  switch (m) {
    case 0x0143:  // CB_ADDSTRING
      items.emplace_back(reinterpret_cast<LPCWSTR>(l));
      return static_cast<LRESULT>(items.size() - 1);
    case 0x0149:  // CB_GETLBTEXTLEN
      return w < items.size() ? static_cast<LRESULT>(items[w].size()) : -1;
    case 0x0148:  // CB_GETLBTEXT
      if (w >= items.size()) return -1;
      std::copy(items[w].c_str(), items[w].c_str() + items[w].size() + 1, reinterpret_cast<LPWSTR>(l));
      return static_cast<LRESULT>(items[w].size());
    default:
      return DefWindowProcW(h, m, w, l);
  }
}

TEST_F(Windows, ItemTextsOfBuiltinListsAreConvertedForUtf8Callers) {
  vkr::ui::BuiltinClass cls{u"UiCoreListLike", 0, &ListLikeProc, 0, nullptr, nullptr, true};
  // A built-in class stays for the process: registered in the first round of a repeated run.
  static const ATOM atom = vkr::ui::RegisterBuiltinClass(cls);
  ASSERT_NE(atom, 0);
  EXPECT_EQ(vkr::ui::RegisterBuiltinClass(cls), 0);  // once
  g_listLikeItems.clear();
  HWND list = CreateWindowExA(0, "uicorelistlike", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  m_made.push_back(list);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(SendMessageA(list, 0x0143, 0, reinterpret_cast<LPARAM>("Metres (m)")), 0);
  EXPECT_EQ(SendMessageA(list, 0x0143, 0, reinterpret_cast<LPARAM>("Grad °C")), 1);
  EXPECT_EQ(SendMessageA(list, 0x0149, 1, 0), 8);  // bytes for the UTF-8 caller
  EXPECT_EQ(SendMessageW(list, 0x0149, 1, 0), 7);
  char buf[16];
  EXPECT_EQ(SendMessageA(list, 0x0148, 1, reinterpret_cast<LPARAM>(buf)), 8);
  EXPECT_EQ(std::string(buf), "Grad °C");
  WCHAR wbuf[16];
  SendMessageW(list, 0x0148, 0, reinterpret_cast<LPARAM>(wbuf));
  EXPECT_EQ(std::u16string(wbuf), u"Metres (m)");
}

// A window taken over by an ATL-style class: the class sees its messages first, the old
// procedure gets the rest, and gets the window back.
class Takeover : public CWindowImpl<Takeover> {
 public:
  int seen = 0;
  BEGIN_MSG_MAP(Takeover)
    MESSAGE_HANDLER(WM_USER + 1, OnOne)
  END_MSG_MAP()
  LRESULT OnOne(UINT, WPARAM, LPARAM, BOOL&) { return ++seen + 100; }
};

TEST_F(Windows, SubclassedWindowsGetTheirOwnProcedureBack) {
  HWND h = Make("h");
  Watch({WM_USER + 1, WM_USER + 2});
  Takeover t;
  ASSERT_TRUE(t.SubclassWindow(h));
  EXPECT_EQ(SendMessageW(h, WM_USER + 1, 0, 0), 101);
  SendMessageW(h, WM_USER + 2, 0, 0);
  EXPECT_EQ(Recorder::log, (Log{"h:1026"}));
  EXPECT_EQ(t.UnsubclassWindow(), h);
  SendMessageW(h, WM_USER + 1, 0, 0);
  EXPECT_EQ(Recorder::log, (Log{"h:1026", "h:1025"}));
  EXPECT_EQ(t.seen, 1);

  // An object deleted before its window leaves the window working on its own procedure.
  auto* early = new Takeover;
  ASSERT_TRUE(early->SubclassWindow(h));
  delete early;
  EXPECT_EQ(SendMessageW(h, WM_USER + 1, 0, 0), 0);
  EXPECT_EQ(Recorder::log, (Log{"h:1026", "h:1025", "h:1025"}));
  auto* created = new Takeover;
  HWND own = created->Create(h);
  ASSERT_NE(own, nullptr);
  delete created;
  EXPECT_EQ(SendMessageW(own, WM_USER + 1, 0, 0), 0);
  EXPECT_TRUE(DestroyWindow(own));
}

TEST_F(Windows, DialogItemNumbers) {
  HWND dlg = Make("dlg");
  Make("item", dlg, 0, {0, 0, 10, 10}, 7);
  struct Row {
    const char* text;
    BOOL isSigned;
    UINT value;
    BOOL translated;
  };
  const Row rows[] = {{" 42 ", TRUE, 42, TRUE},       {"-5", TRUE, static_cast<UINT>(-5), TRUE},
                      {"-5", FALSE, 0, FALSE},         {"5,5", TRUE, 0, FALSE},
                      {"abc", TRUE, 0, FALSE},         {"", TRUE, 0, FALSE},
                      {"4294967295", FALSE, 4294967295u, TRUE}, {"4294967296", FALSE, 0, FALSE},
                      {"2147483648", TRUE, 0, FALSE}};
  for (const auto& row : rows) {
    SetDlgItemTextA(dlg, 7, row.text);
    BOOL ok = 2;
    EXPECT_EQ(GetDlgItemInt(dlg, 7, &ok, row.isSigned), row.value) << row.text;
    EXPECT_EQ(ok, row.translated) << row.text;
  }
  SetDlgItemInt(dlg, 7, static_cast<UINT>(-12), TRUE);
  EXPECT_EQ(vkr::ui::WindowText(GetDlgItem(dlg, 7)), "-12");
}

TEST_F(Windows, RegisteredMessagesAreSharedByNameAndAvoidTheApartmentMessage) {
  UINT a = RegisterWindowMessageA("VKR_TestMessage");
  EXPECT_EQ(RegisterWindowMessageW(u"vkr_testmessage"), a);
  EXPECT_GE(a, 0xC000u);
  UINT b = RegisterWindowMessageA("VKR_Other");
  EXPECT_NE(b, a);
  EXPECT_LE(b, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

// ---- Message maps ----

class ChainBase : public CMessageMap {
 public:
  std::vector<std::string>* log = nullptr;
  BEGIN_MSG_MAP(ChainBase)
    MESSAGE_HANDLER(WM_USER + 2, OnBase)
  END_MSG_MAP()
  LRESULT OnBase(UINT, WPARAM, LPARAM, BOOL&) {
    log->push_back("base");
    return 2;
  }
};

class ChainMember : public CMessageMap {
 public:
  std::vector<std::string>* log = nullptr;
  BEGIN_MSG_MAP(ChainMember)
    MESSAGE_HANDLER(WM_USER + 3, OnMember)
  ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_USER + 4, OnMember)
  END_MSG_MAP()
  LRESULT OnMember(UINT m, WPARAM, LPARAM, BOOL&) {
    log->push_back("member " + std::to_string(m - WM_USER));
    return 3;
  }
};

class Mapped : public ChainBase {
 public:
  std::vector<std::string> calls;
  ChainMember member;
  Mapped() {
    log = &calls;
    member.log = &calls;
  }
  BEGIN_MSG_MAP(Mapped)
    MESSAGE_HANDLER(WM_USER + 1, OnOne)
    MESSAGE_RANGE_HANDLER(WM_USER + 10, WM_USER + 19, OnRange)
    COMMAND_HANDLER(101, 5, OnCommand)
    COMMAND_ID_HANDLER(100, OnCommand)
    COMMAND_CODE_HANDLER(0x300, OnCommand)
    NOTIFY_HANDLER(7, 0x99u, OnNotify)
    NOTIFY_CODE_HANDLER(0x98u, OnNotify)
    CHAIN_MSG_MAP(ChainBase)
    CHAIN_MSG_MAP_MEMBER(member)
  ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_USER + 1, OnAlt)
    CHAIN_MSG_MAP_ALT_MEMBER(member, 1)
  END_MSG_MAP()

  LRESULT OnOne(UINT, WPARAM wp, LPARAM, BOOL& bHandled) {
    calls.push_back("one");
    if (wp == 1) bHandled = FALSE;  // declines: the next entry or the default gets it
    return 1;
  }
  LRESULT OnRange(UINT m, WPARAM, LPARAM, BOOL&) {
    calls.push_back("range " + std::to_string(m - WM_USER));
    return 10;
  }
  LRESULT OnCommand(WORD code, WORD id, HWND, BOOL&) {
    calls.push_back("command " + std::to_string(id) + "/" + std::to_string(code));
    return 4;
  }
  LRESULT OnNotify(int id, LPNMHDR nm, BOOL&) {
    calls.push_back("notify " + std::to_string(id) + "/" + std::to_string(nm->code));
    return 5;
  }
  LRESULT OnAlt(UINT, WPARAM, LPARAM, BOOL&) {
    calls.push_back("alt");
    return 6;
  }
};

TEST(MessageMaps, HandlersChainsAndAlternateMaps) {
  NMHDR nm7{nullptr, 7, 0x99};
  NMHDR nm8{nullptr, 8, 0x98};
  NMHDR nm9{nullptr, 9, 0x97};
  struct Row {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    DWORD map;
    BOOL handled;
    LRESULT result;
    std::vector<std::string> calls;
  };
  const std::vector<Row> rows = {
      {WM_USER + 1, 0, 0, 0, TRUE, 1, {"one"}},
      {WM_USER + 1, 1, 0, 0, FALSE, 1, {"one"}},
      {WM_USER + 12, 0, 0, 0, TRUE, 10, {"range 12"}},
      {WM_USER + 20, 0, 0, 0, FALSE, 0, {}},
      {WM_COMMAND, MAKEWPARAM(101, 5), 0, 0, TRUE, 4, {"command 101/5"}},
      {WM_COMMAND, MAKEWPARAM(101, 6), 0, 0, FALSE, 0, {}},
      {WM_COMMAND, MAKEWPARAM(100, 9), 0, 0, TRUE, 4, {"command 100/9"}},
      {WM_COMMAND, MAKEWPARAM(555, 0x300), 0, 0, TRUE, 4, {"command 555/768"}},
      {WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&nm7), 0, TRUE, 5, {"notify 7/153"}},
      {WM_NOTIFY, 8, reinterpret_cast<LPARAM>(&nm8), 0, TRUE, 5, {"notify 8/152"}},
      {WM_NOTIFY, 9, reinterpret_cast<LPARAM>(&nm9), 0, FALSE, 0, {}},
      {WM_USER + 2, 0, 0, 0, TRUE, 2, {"base"}},
      {WM_USER + 3, 0, 0, 0, TRUE, 3, {"member 3"}},
      {WM_USER + 4, 0, 0, 0, FALSE, 0, {}},
      {WM_USER + 1, 0, 0, 1, TRUE, 6, {"alt"}},
      {WM_USER + 4, 0, 0, 1, TRUE, 3, {"member 4"}},
      {WM_USER + 2, 0, 0, 1, FALSE, 0, {}},
  };
  for (const auto& row : rows) {
    Mapped m;
    LRESULT result = 0;
    BOOL handled = m.ProcessWindowMessage(nullptr, row.msg, row.wp, row.lp, result, row.map);
    EXPECT_EQ(handled, row.handled) << row.msg << " map " << row.map;
    if (handled) {
      EXPECT_EQ(result, row.result) << row.msg;
    }
    EXPECT_EQ(m.calls, row.calls) << row.msg << " map " << row.map;
  }
}

// ---- The host loop's filter chain ----

TEST_F(Windows, TheFilterChainRunsInTheHostLoopOnlyNotInModalPumps) {
  HWND h = Make("h");
  std::vector<UINT> filtered;
  UINT_PTR cookie = vkr::ui::AddMessageFilter([&](MSG* m) {
    filtered.push_back(m->message);
    return m->message == WM_USER + 5;  // consumed
  });
  static std::vector<UINT> dialogSaw;
  dialogSaw.clear();
  vkr::ui::SetDialogMessageHook([](MSG* m) -> BOOL {
    dialogSaw.push_back(m->message);
    return m->message == WM_USER + 6;
  });
  Watch({WM_USER + 4, WM_USER + 5, WM_USER + 6, WM_USER + 7});

  // The host loop: filters, then the dialog manager, then dispatch.
  PostMessageW(h, WM_USER + 4, 0, 0);
  PostMessageW(h, WM_USER + 5, 0, 0);
  PostMessageW(h, WM_USER + 6, 0, 0);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(filtered, (std::vector<UINT>{WM_USER + 4, WM_USER + 5, WM_USER + 6}));
  EXPECT_EQ(dialogSaw, (std::vector<UINT>{WM_USER + 4, WM_USER + 6}));
  EXPECT_EQ(Recorder::log, (Log{"h:1028"}));

  // An apartment wait (this thread calls into another apartment) dispatches the posted message
  // without any filter.
  filtered.clear();
  dialogSaw.clear();
  Recorder::log.clear();
  CoInitialize(nullptr);
  {
    HANDLE handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Recorder::behaviour["h"] = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (m == WM_USER + 7) SetEvent(handled);
      return std::nullopt;
    };
    vkr::test::ApartmentThread other;
    HRESULT hr = other.Run([&]() -> HRESULT {
      PostMessageW(h, WM_USER + 7, 0, 0);
      return WaitForSingleObject(handled, 10000) == WAIT_OBJECT_0 ? S_OK : E_FAIL;
    });
    EXPECT_EQ(hr, S_OK);
    other.Stop();
    Recorder::behaviour.erase("h");
    CloseHandle(handled);
  }
  CoUninitialize();
  EXPECT_EQ(Recorder::log, (Log{"h:1031"}));
  EXPECT_TRUE(filtered.empty());
  EXPECT_TRUE(dialogSaw.empty());

  vkr::ui::RemoveMessageFilter(cookie);
  vkr::ui::SetDialogMessageHook(nullptr);
  PostMessageW(h, WM_USER + 5, 0, 0);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Recorder::log, (Log{"h:1031", "h:1029"}));
}

// ---- Painting requests ----

TEST_F(Windows, PaintComesWhenTheQueueIsEmptyAndOnlyForVisibleWindows) {
  HWND top = Make("top", nullptr, WS_POPUP | WS_VISIBLE, {0, 0, 200, 100});
  HWND hidden = Make("hidden", top, 0, {0, 0, 50, 50});
  vkr::ui::PumpUntilIdle();
  Watch({WM_PAINT, WM_USER + 1});
  PostMessageW(top, WM_USER + 1, 0, 0);
  InvalidateRect(top, nullptr, TRUE);
  InvalidateRect(hidden, nullptr, TRUE);
  EXPECT_EQ(vkr::ui::WindowsNeedingPaint(GetCurrentThreadId()), (std::vector<HWND>{top}));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Recorder::log, (Log{"top:1025", "top:PAINT"}));  // after the posted message, once

  // UpdateWindow and RedrawWindow(RDW_UPDATENOW) paint at once; the request reports the erase.
  std::vector<std::pair<RECT, bool>> requests;
  Recorder::behaviour["top"] = [&](HWND self, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_PAINT) return std::nullopt;
    RECT r;
    bool erase;
    vkr::ui::TakePaintRequest(self, &r, &erase);
    requests.push_back({r, erase});
    return 0;
  };
  Watch({WM_PAINT});
  RECT part{10, 10, 20, 20};
  InvalidateRect(top, &part, FALSE);
  UpdateWindow(top);
  RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  UpdateWindow(top);  // nothing left to paint
  EXPECT_EQ(Recorder::log, (Log{"top:PAINT", "top:PAINT"}));
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].first.right, 20);
  EXPECT_FALSE(requests[0].second);
  EXPECT_EQ(requests[1].first.right, 200);
  EXPECT_TRUE(requests[1].second);
  EXPECT_TRUE(vkr::ui::WindowsNeedingPaint(GetCurrentThreadId()).empty());
}

// ---- Input helpers ----

TEST_F(Windows, ClickAndKeysArriveAsWindowsSendsThem) {
  HWND top = Make("top", nullptr, WS_POPUP | WS_VISIBLE, {0, 0, 200, 100});
  HWND edit = Make("edit", top, WS_VISIBLE | WS_TABSTOP, {10, 10, 110, 30});
  HWND button = Make("button", top, WS_VISIBLE, {10, 40, 110, 60});
  HWND label = Make("label", top, WS_VISIBLE, {10, 70, 110, 90});
  HWND off = Make("off", top, WS_VISIBLE | WS_DISABLED, {120, 10, 190, 30});
  Recorder::behaviour["button"] = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_GETDLGCODE) return 0x2000;  // DLGC_BUTTON
    return std::nullopt;
  };
  Recorder::behaviour["label"] = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_GETDLGCODE) return 0x0100;  // DLGC_STATIC
    return std::nullopt;
  };
  POINT where{};
  Recorder::behaviour["edit"] = [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_LBUTTONDOWN) where = POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
    return std::nullopt;
  };
  vkr::ui::PumpUntilIdle();
  SetFocus(edit);
  Watch({WM_SETCURSOR, WM_MOUSEACTIVATE, WM_SETFOCUS, WM_KILLFOCUS, WM_LBUTTONDOWN, WM_LBUTTONUP});
  EXPECT_TRUE(vkr::ui::Click(button));
  EXPECT_EQ(Recorder::log, (Log{"button:SETCURSOR", "top:SETCURSOR", "button:MOUSEACTIVATE", "top:MOUSEACTIVATE",
                                "edit:KILLFOCUS", "button:SETFOCUS", "button:LBUTTONDOWN", "button:LBUTTONUP"}));

  // A static takes no focus; a disabled window gets nothing at all.
  Watch({WM_SETFOCUS, WM_KILLFOCUS, WM_LBUTTONDOWN});
  EXPECT_TRUE(vkr::ui::Click(label));
  EXPECT_FALSE(vkr::ui::Click(off));
  EXPECT_EQ(Recorder::log, (Log{"label:LBUTTONDOWN"}));
  EXPECT_EQ(GetFocus(), button);

  // A click at a point arrives in client coordinates.
  POINT at{7, 3};
  vkr::ui::Click(edit, &at);
  EXPECT_EQ(where.x, 7);
  EXPECT_EQ(where.y, 3);

  // Keys: the filter chain sees them, the key state is that of the moment, WM_CHAR comes from
  // translation.
  std::vector<std::string> keys;
  UINT_PTR cookie = vkr::ui::AddMessageFilter([&](MSG* m) {
    if (m->message == WM_KEYDOWN)
      keys.push_back("down " + std::to_string(m->wParam) + ((GetKeyState(VK_SHIFT) & 0x8000) ? " shift" : ""));
    return false;
  });
  std::u16string chars;
  Recorder::behaviour["edit"] = [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_CHAR) chars.push_back(static_cast<char16_t>(w));
    return std::nullopt;
  };
  EXPECT_TRUE(vkr::ui::TypeText(edit, "aB,ä"));
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(chars, u"aB,ä");
  EXPECT_EQ(keys, (Log{"down 65", "down 16 shift", "down 66 shift", "down 188", "down 231"}));
  EXPECT_FALSE(GetKeyState(VK_SHIFT) & 0x8000);

  keys.clear();
  EXPECT_TRUE(vkr::ui::PressKey(VK_TAB, vkr::ui::kShift));
  EXPECT_EQ(keys, (Log{"down 16 shift", "down 9 shift"}));
  EXPECT_EQ(chars.back(), u'\t');
  vkr::ui::RemoveMessageFilter(cookie);

  // Alt+letter comes as a system key and character (mnemonics).
  Watch({WM_SYSKEYDOWN, WM_SYSCHAR});
  vkr::ui::PressKey('O', vkr::ui::kAlt);
  EXPECT_EQ(Recorder::log, (Log{"edit:SYSKEYDOWN", "edit:SYSKEYDOWN", "edit:SYSCHAR"}));
}

// ---- Windows of other threads ----

TEST(WindowThreads, CallsFromAnotherThreadRunOnTheOwnersThread) {
  static DWORD procThread = 0;
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_SETTEXT) procThread = GetCurrentThreadId();
    if (m == WM_USER + 1) PostQuitMessage(0);
    return DefWindowProcW(h, m, w, l);
  };
  wc.lpszClassName = u"UiCoreThreaded";
  RegisterClassW(&wc);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND hwnd = nullptr;
  DWORD owner = 0;
  std::thread t([&] {
    owner = GetCurrentThreadId();
    hwnd = CreateWindowExW(0, u"UiCoreThreaded", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetEvent(ready);
    vkr::ui::RunHostMessageLoop();
    DestroyWindow(hwnd);
  });
  WaitForSingleObject(ready, INFINITE);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), owner);
  for (int i = 0; i < 50; ++i) {
    std::string text = "value " + std::to_string(i);
    ASSERT_TRUE(SetWindowTextA(hwnd, text.c_str()));
    EXPECT_EQ(vkr::ui::WindowText(hwnd), text);
  }
  EXPECT_EQ(procThread, owner);
  EXPECT_FALSE(DestroyWindow(hwnd));  // only its own thread may
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  PostMessageW(hwnd, WM_USER + 1, 0, 0);
  t.join();
  EXPECT_FALSE(IsWindow(hwnd));
  CloseHandle(ready);

  // A thread that ends leaves no window behind.
  HWND left = nullptr;
  std::thread([&] {
    left = CreateWindowExW(0, u"UiCoreThreaded", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  }).join();
  ASSERT_NE(left, nullptr);
  EXPECT_FALSE(IsWindow(left));
  EXPECT_EQ(SendMessageW(left, WM_GETTEXTLENGTH, 0, 0), 0);
}

}  // namespace

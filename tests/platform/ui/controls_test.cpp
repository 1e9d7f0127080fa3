// The standard and common controls: one table per control (message, arguments, result, new state,
// and the notifications the parent received), the focus-move order, and the input helpers'
// message sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using Log = std::vector<std::string>;

// Everything the test parent and the watched controls receive, in order.
Log g_log;
// The parent's answer to TVN_SELCHANGINGA and TCN_SELCHANGING (non-zero vetoes).
LRESULT g_veto = 0;
// Run inside the parent's handling of a notification (re-entrancy checks).
std::function<void(const std::string&)> g_onNotify;

std::string Hex(unsigned v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%X", v);
  return buffer;
}

// Notification names by the sending control's class: the same code means different things.
std::string CommandName(HWND from, WORD code) {
  const std::string cls = vkr::ui::ClassName(from);
  if (cls == "Edit") {
    switch (code) {
      case EN_SETFOCUS: return "EN_SETFOCUS";
      case EN_KILLFOCUS: return "EN_KILLFOCUS";
      case EN_CHANGE: return "EN_CHANGE";
      case EN_UPDATE: return "EN_UPDATE";
      case EN_MAXTEXT: return "EN_MAXTEXT";
    }
  } else if (cls == "Button") {
    switch (code) {
      case BN_CLICKED: return "BN_CLICKED";
      case BN_DBLCLK: return "BN_DBLCLK";
      case BN_SETFOCUS: return "BN_SETFOCUS";
      case BN_KILLFOCUS: return "BN_KILLFOCUS";
    }
  } else if (cls == "ComboBox") {
    switch (code) {
      case CBN_SELCHANGE: return "CBN_SELCHANGE";
      case CBN_SETFOCUS: return "CBN_SETFOCUS";
      case CBN_KILLFOCUS: return "CBN_KILLFOCUS";
      case CBN_EDITCHANGE: return "CBN_EDITCHANGE";
      case CBN_EDITUPDATE: return "CBN_EDITUPDATE";
      case CBN_DROPDOWN: return "CBN_DROPDOWN";
      case CBN_CLOSEUP: return "CBN_CLOSEUP";
      case CBN_SELENDOK: return "CBN_SELENDOK";
    }
  } else if (cls == "ListBox") {
    switch (code) {
      case LBN_SELCHANGE: return "LBN_SELCHANGE";
      case LBN_DBLCLK: return "LBN_DBLCLK";
      case LBN_SETFOCUS: return "LBN_SETFOCUS";
      case LBN_KILLFOCUS: return "LBN_KILLFOCUS";
    }
  } else if (cls == "Static") {
    if (code == STN_CLICKED) return "STN_CLICKED";
  }
  return cls + ":" + Hex(code);
}

std::string NotifyName(UINT code) {
  switch (code) {
    case TVN_SELCHANGINGA: return "TVN_SELCHANGING";
    case TVN_SELCHANGEDA: return "TVN_SELCHANGED";
    case TVN_DELETEITEMA: return "TVN_DELETEITEM";
    case TCN_SELCHANGING: return "TCN_SELCHANGING";
    case TCN_SELCHANGE: return "TCN_SELCHANGE";
    case NM_SETFOCUS: return "NM_SETFOCUS";
    case NM_KILLFOCUS: return "NM_KILLFOCUS";
    case NM_CLICK: return "NM_CLICK";
  }
  return "NM:" + std::to_string(static_cast<int>(code));
}

std::string ItemText(HWND tree, HTREEITEM item) {
  if (!item) return "-";
  char text[64] = {};
  TVITEMA tv{};
  tv.mask = TVIF_TEXT;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = sizeof text;
  if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) return "?";
  return text;
}

LRESULT ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::string entry;
  LRESULT answer = 0;
  switch (message) {
    case WM_COMMAND:
      entry = CommandName(reinterpret_cast<HWND>(lParam), HIWORD(wParam)) + "(" + std::to_string(LOWORD(wParam)) + ")";
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      entry = NotifyName(header->code) + "(" + std::to_string(header->idFrom) + ")";
      if (header->code == TVN_SELCHANGINGA || header->code == TVN_SELCHANGEDA) {
        const auto* nm = reinterpret_cast<const NMTREEVIEWA*>(lParam);
        entry += " " + ItemText(header->hwndFrom, nm->itemOld.hItem) + ">" + ItemText(header->hwndFrom, nm->itemNew.hItem);
      }
      if (header->code == TVN_SELCHANGINGA || header->code == TCN_SELCHANGING) answer = g_veto;
      break;
    }
    case WM_DRAWITEM: {
      const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      entry = "DRAWITEM(" + std::to_string(dis->CtlID) + " action=" + Hex(dis->itemAction) +
              " state=" + Hex(dis->itemState) + (dis->hDC ? " dc" : "") + ")";
      answer = TRUE;
      break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      entry = std::string(message == WM_HSCROLL ? "HSCROLL(" : "VSCROLL(") + std::to_string(LOWORD(wParam)) + "," +
              std::to_string(HIWORD(wParam)) + (lParam ? ",ctl" : "") + ")";
      break;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  g_log.push_back(entry);
  if (g_onNotify) g_onNotify(entry);
  return answer;
}

// Messages a watched control receives, by name; the rest are not logged.
std::string WatchedName(UINT message) {
  switch (message) {
    case WM_SETCURSOR: return "WM_SETCURSOR";
    case WM_MOUSEACTIVATE: return "WM_MOUSEACTIVATE";
    case WM_SETFOCUS: return "WM_SETFOCUS";
    case WM_KILLFOCUS: return "WM_KILLFOCUS";
    case WM_LBUTTONDOWN: return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case WM_KEYDOWN: return "WM_KEYDOWN";
    case WM_KEYUP: return "WM_KEYUP";
    case WM_CHAR: return "WM_CHAR";
    case BM_CLICK: return "BM_CLICK";
    case WM_VSCROLL: return "WM_VSCROLL";
  }
  return {};
}

struct Watch {
  HWND hwnd;
  WNDPROC original;
  std::string name;
};
std::vector<Watch> g_watched;

LRESULT WatchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  for (const Watch& w : g_watched) {
    if (w.hwnd != hwnd) continue;
    const std::string name = WatchedName(message);
    if (!name.empty()) {
      std::string entry = w.name + ":" + name;
      if (message == WM_CHAR || message == WM_KEYDOWN || message == WM_KEYUP || message == WM_VSCROLL)
        entry.append(" ").append(Hex(static_cast<unsigned>(wParam)));
      if (message == WM_VSCROLL && lParam) entry += " ctl";
      g_log.push_back(entry);
    }
    return CallWindowProcW(w.original, hwnd, message, wParam, lParam);
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const ATOM atom = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &ParentProc;
      wc.lpszClassName = u"ControlsTestParent";
      return RegisterClassW(&wc);
    }();
    ASSERT_NE(atom, 0);
    parent_ = CreateWindowExW(0, u"ControlsTestParent", u"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 600, 400,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    g_log.clear();
    g_veto = 0;
    g_onNotify = nullptr;
  }
  void TearDown() override {
    g_onNotify = nullptr;
    g_watched.clear();
    DestroyWindow(parent_);
    vkr::ui::PumpUntilIdle();
  }

  HWND Make(const char* cls, DWORD style, int id, const char* text = "", int x = 10, int y = 10, int w = 120,
            int h = 24) {
    HWND hwnd = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    EXPECT_NE(hwnd, nullptr) << cls;
    return hwnd;
  }

  void WatchControl(HWND hwnd, const std::string& name) {
    const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    g_watched.push_back({hwnd, original, name});
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchProc));
  }

  Log Take() {
    Log out;
    out.swap(g_log);
    return out;
  }

  HWND parent_ = nullptr;
};

LPARAM Str(const char* s) { return reinterpret_cast<LPARAM>(s); }

// One row of a control's table: the message and its arguments, the result, the control's state
// afterwards (as the row's state function writes it), and the notifications.
struct Row {
  const char* what;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result;
  std::string state;
  Log log;
};

void RunTable(HWND hwnd, const std::vector<Row>& rows, const std::function<std::string()>& state) {
  for (const Row& row : rows) {
    g_log.clear();
    const LRESULT result = SendMessageA(hwnd, row.message, row.wParam, row.lParam);
    EXPECT_EQ(result, row.result) << row.what << " " << Hex(row.message) << " " << row.wParam;
    EXPECT_EQ(state(), row.state) << row.what;
    EXPECT_EQ(g_log, row.log) << row.what;
  }
}

std::string EditState(HWND edit) {
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  std::string s = std::string("\"").append(vkr::ui::WindowText(edit)) + "\" sel=" + std::to_string(start) + "-" + std::to_string(end);
  if (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) s += " ro";
  return s;
}

TEST_F(ControlsTest, EditTable) {
  HWND edit = Make("Edit", ES_AUTOHSCROLL | WS_TABSTOP, 10);
  HWND number = Make("Edit", ES_NUMBER | ES_RIGHT, 11, "", 10, 40);
  const Log changed = {"EN_UPDATE(10)", "EN_CHANGE(10)"};
  RunTable(edit,
           {
               {"program text notifies", WM_SETTEXT, 0, Str("12.5"), TRUE, "\"12.5\" sel=0-0", changed},
               {"same text notifies again", WM_SETTEXT, 0, Str("12.5"), TRUE, "\"12.5\" sel=0-0", changed},
               {"select all", EM_SETSEL, 0, -1, 1, "\"12.5\" sel=0-4", {}},
               {"select beyond the end", EM_SETSEL, 2, 99, 1, "\"12.5\" sel=2-4", {}},
               {"deselect keeps the caret", EM_SETSEL, static_cast<WPARAM>(-1), 0, 1, "\"12.5\" sel=4-4", {}},
               {"typing appends", WM_CHAR, '0', 0, 0, "\"12.50\" sel=5-5", changed},
               {"backspace", WM_CHAR, VK_BACK, 0, 0, "\"12.5\" sel=4-4", changed},
               {"backspace at the start does nothing", EM_SETSEL, 0, 0, 1, "\"12.5\" sel=0-0", {}},
               {"", WM_CHAR, VK_BACK, 0, 0, "\"12.5\" sel=0-0", {}},
               {"replace the selection", EM_SETSEL, 1, 3, 1, "\"12.5\" sel=1-3", {}},
               {"", EM_REPLACESEL, FALSE, Str("xy"), 0, "\"1xy5\" sel=3-3", changed},
               {"delete key", WM_KEYDOWN, VK_DELETE, 0, 0, "\"1xy\" sel=3-3", changed},
               {"read-only by message", EM_SETREADONLY, TRUE, 0, 1, "\"1xy\" sel=3-3 ro", {}},
               {"read-only refuses typing", WM_CHAR, 'a', 0, 0, "\"1xy\" sel=3-3 ro", {}},
               {"read-only refuses backspace", WM_CHAR, VK_BACK, 0, 0, "\"1xy\" sel=3-3 ro", {}},
               {"program text still goes in", WM_SETTEXT, 0, Str("ro"), TRUE, "\"ro\" sel=0-0 ro", changed},
               {"writable again", EM_SETREADONLY, FALSE, 0, 1, "\"ro\" sel=0-0", {}},
               {"limit", EM_LIMITTEXT, 3, 0, 0, "\"ro\" sel=0-0", {}},
               {"", EM_GETLIMITTEXT, 0, 0, 3, "\"ro\" sel=0-0", {}},
               {"the limit does not hold the program", WM_SETTEXT, 0, Str("12345"), TRUE, "\"12345\" sel=0-0", changed},
               {"but holds typing", WM_CHAR, '6', 0, 0, "\"12345\" sel=0-0", {"EN_MAXTEXT(10)"}},
               {"typing over a selection within the limit", EM_SETSEL, 0, 4, 1, "\"12345\" sel=0-4", {}},
               {"", WM_CHAR, 'a', 0, 0, "\"a5\" sel=1-1", changed},
               {"dialog code", WM_GETDLGCODE, 0, 0, 0x89, "\"a5\" sel=1-1", {}},
           },
           [&] { return EditState(edit); });
  RunTable(number,
           {
               {"digits only when typed", WM_CHAR, 'a', 0, 0, "\"\" sel=0-0", {}},
               {"", WM_CHAR, '7', 0, 0, "\"7\" sel=1-1", {"EN_UPDATE(11)", "EN_CHANGE(11)"}},
               {"any text by program", WM_SETTEXT, 0, Str("x1"), TRUE, "\"x1\" sel=0-0",
                {"EN_UPDATE(11)", "EN_CHANGE(11)"}},
           },
           [&] { return EditState(number); });
}

TEST_F(ControlsTest, EditNotificationsNestInsideTheWrite) {
  // The parent's EN_CHANGE handler reads the new text and writes the control again, as pages do.
  HWND edit = Make("Edit", 0, 12);
  int depth = 0;
  g_onNotify = [&](const std::string& entry) {
    if (entry != "EN_CHANGE(12)" || depth > 0) return;
    ++depth;
    EXPECT_EQ(vkr::ui::WindowText(edit), "5");
    SetWindowTextA(edit, "5.0");
    --depth;
  };
  SetWindowTextA(edit, "5");
  EXPECT_EQ(vkr::ui::WindowText(edit), "5.0");
  EXPECT_EQ(Take(), (Log{"EN_UPDATE(12)", "EN_CHANGE(12)", "EN_UPDATE(12)", "EN_CHANGE(12)"}));
}

std::string ButtonState(HWND button) {
  const LRESULT state = SendMessageA(button, BM_GETSTATE, 0, 0);
  return "check=" + std::to_string(SendMessageA(button, BM_GETCHECK, 0, 0)) + (state & BST_PUSHED ? " pushed" : "") +
         (state & BST_FOCUS ? " focus" : "") + " kind=" + std::to_string(GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK);
}

TEST_F(ControlsTest, ButtonTable) {
  struct Kind {
    DWORD style;
    LRESULT dlgCode;
    std::vector<int> checksAfterClicks;  // BM_GETCHECK after each of three BM_CLICKs
  };
  const Kind kinds[] = {
      {BS_PUSHBUTTON, 0x2020, {0, 0, 0}},       {BS_DEFPUSHBUTTON, 0x2010, {0, 0, 0}},
      {BS_CHECKBOX, 0x2000, {0, 0, 0}},         {BS_AUTOCHECKBOX, 0x2000, {1, 0, 1}},
      {BS_RADIOBUTTON, 0x2040, {0, 0, 0}},      {BS_3STATE, 0x2000, {0, 0, 0}},
      {BS_AUTO3STATE, 0x2000, {1, 2, 0}},       {BS_AUTORADIOBUTTON, 0x2040, {1, 1, 1}},
      {BS_OWNERDRAW, 0x2000, {0, 0, 0}},
  };
  int id = 100;
  for (const Kind& kind : kinds) {
    HWND button = Make("Button", kind.style | BS_NOTIFY, ++id, "b");
    const std::string name = "kind " + std::to_string(kind.style);
    EXPECT_EQ(SendMessageA(button, WM_GETDLGCODE, 0, 0), kind.dlgCode) << name;
    // The check state is kept for every kind, owner-drawn and push buttons included.
    for (int check : {2, 1, 0}) {
      g_log.clear();
      EXPECT_EQ(SendMessageA(button, BM_SETCHECK, static_cast<WPARAM>(check), 0), 0) << name;
      EXPECT_EQ(SendMessageA(button, BM_GETCHECK, 0, 0), check) << name;
      const bool ownerDrawn = kind.style == BS_OWNERDRAW;
      EXPECT_EQ(g_log.size(), ownerDrawn ? 1u : 0u) << name << " BM_SETCHECK notifies nothing but the drawing";
    }
    for (int i = 0; i < 3; ++i) {
      SendMessageA(button, BM_CLICK, 0, 0);
      EXPECT_EQ(SendMessageA(button, BM_GETCHECK, 0, 0), kind.checksAfterClicks[static_cast<std::size_t>(i)])
          << name << " click " << i;
    }
    SetFocus(nullptr);
  }
  // The click's order: the focus comes first (the edit being left says so), then BN_CLICKED after
  // the automatic check box has toggled.
  HWND edit = Make("Edit", 0, 200);
  HWND check = Make("Button", BS_AUTOCHECKBOX | BS_NOTIFY, 201, "c");
  SetFocus(edit);
  g_log.clear();
  g_onNotify = [&](const std::string& entry) {
    if (entry == "BN_CLICKED(201)") g_log.push_back("check=" + std::to_string(SendMessageA(check, BM_GETCHECK, 0, 0)));
  };
  SendMessageA(check, BM_CLICK, 0, 0);
  EXPECT_EQ(Take(), (Log{"EN_KILLFOCUS(200)", "BN_SETFOCUS(201)", "BN_CLICKED(201)", "check=1"}));
  g_onNotify = nullptr;
  // A disabled button takes no click; disabling the focus window takes the focus away.
  EnableWindow(check, FALSE);
  EXPECT_EQ(Take(), (Log{"BN_KILLFOCUS(201)"}));
  SendMessageA(check, BM_CLICK, 0, 0);
  EXPECT_EQ(Take(), Log{});
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), 1);

  HWND push = Make("Button", BS_PUSHBUTTON, 202, "p");
  RunTable(push,
           {
               {"default style", BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE, 0, "check=0 kind=1", {}},
               {"pushed", BM_SETSTATE, TRUE, 0, 0, "check=0 pushed kind=1", {}},
               {"released", BM_SETSTATE, FALSE, 0, 0, "check=0 kind=1", {}},
               {"plain again", BM_SETSTYLE, BS_PUSHBUTTON, TRUE, 0, "check=0 kind=0", {}},
           },
           [&] { return ButtonState(push); });
}

TEST_F(ControlsTest, AutoRadioButtonsUncheckTheirGroupOnly) {
  HWND a = Make("Button", BS_AUTORADIOBUTTON | WS_GROUP, 1, "a");
  HWND b = Make("Button", BS_AUTORADIOBUTTON, 2, "b");
  HWND c = Make("Button", BS_AUTORADIOBUTTON, 3, "c");
  HWND d = Make("Button", BS_AUTORADIOBUTTON | WS_GROUP, 4, "d");  // the next group
  SendMessageA(a, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(d, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(c, BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageA(a, BM_GETCHECK, 0, 0), 0);
  EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), 0);
  EXPECT_EQ(SendMessageA(c, BM_GETCHECK, 0, 0), 1);
  EXPECT_EQ(SendMessageA(d, BM_GETCHECK, 0, 0), 1);
}

TEST_F(ControlsTest, OwnerDrawnButtonIsDrawnByItsParentWithItsFocus) {
  HWND cell = Make("Button", BS_OWNERDRAW, 30, "");
  HWND other = Make("Button", BS_PUSHBUTTON, 31, "o");
  SendMessageA(cell, BM_SETCHECK, BST_INDETERMINATE, 0);
  EXPECT_EQ(Take(), (Log{"DRAWITEM(30 action=0x2 state=0x0 dc)"}));
  EXPECT_EQ(SendMessageA(cell, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
  SetFocus(cell);
  SetFocus(other);
  EXPECT_EQ(Take(), (Log{"DRAWITEM(30 action=0x4 state=0x10 dc)", "DRAWITEM(30 action=0x4 state=0x0 dc)"}));
  InvalidateRect(cell, nullptr, TRUE);
  UpdateWindow(cell);
  EXPECT_EQ(Take(), (Log{"DRAWITEM(30 action=0x1 state=0x0 dc)"}));
}

std::string ComboState(HWND combo) {
  std::string s = std::string("\"").append(vkr::ui::WindowText(combo)) + "\" sel=" + std::to_string(SendMessageA(combo, CB_GETCURSEL, 0, 0)) +
                  " n=" + std::to_string(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  if (SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0)) s += " dropped";
  return s;
}

TEST_F(ControlsTest, DropDownListTable) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL, 700, "", 10, 10, 120, 200);
  EXPECT_EQ(GetWindow(combo, GW_CHILD), nullptr);
  char buffer[32] = {};
  RunTable(combo,
           {
               {"add", CB_ADDSTRING, 0, Str("Metres (m)"), 0, "\"\" sel=-1 n=1", {}},
               {"", CB_ADDSTRING, 0, Str("Feet (ft)"), 1, "\"\" sel=-1 n=2", {}},
               {"", CB_ADDSTRING, 0, Str("Inches (in)"), 2, "\"\" sel=-1 n=3", {}},
               {"program selection is quiet", CB_SETCURSEL, 1, 0, 1, "\"Feet (ft)\" sel=1 n=3", {}},
               {"the text is the item's; WM_SETTEXT fails", WM_SETTEXT, 0, Str("x"), CB_ERR,
                "\"Feet (ft)\" sel=1 n=3", {}},
               {"item data", CB_SETITEMDATA, 2, 44, CB_OKAY, "\"Feet (ft)\" sel=1 n=3", {}},
               {"", CB_GETITEMDATA, 2, 0, 44, "\"Feet (ft)\" sel=1 n=3", {}},
               {"", CB_GETITEMDATA, 3, 0, CB_ERR, "\"Feet (ft)\" sel=1 n=3", {}},
               {"whole text without regard to case", CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                Str("feet (FT)"), 1, "\"Feet (ft)\" sel=1 n=3", {}},
               {"a prefix is no exact match", CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), Str("Feet"), CB_ERR,
                "\"Feet (ft)\" sel=1 n=3", {}},
               {"the search starts after the start index and wraps", CB_FINDSTRINGEXACT, 1, Str("Feet (ft)"), 1,
                "\"Feet (ft)\" sel=1 n=3", {}},
               {"", CB_FINDSTRING, static_cast<WPARAM>(-1), Str("inch"), 2, "\"Feet (ft)\" sel=1 n=3", {}},
               {"text of an item", CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(buffer), 10, "\"Feet (ft)\" sel=1 n=3", {}},
               {"", CB_GETLBTEXTLEN, 2, 0, 11, "\"Feet (ft)\" sel=1 n=3", {}},
               {"", CB_GETLBTEXTLEN, 3, 0, CB_ERR, "\"Feet (ft)\" sel=1 n=3", {}},
               {"deleting an earlier item moves the selection", CB_DELETESTRING, 0, 0, 2, "\"Feet (ft)\" sel=0 n=2", {}},
               {"deleting the selected item leaves none", CB_DELETESTRING, 0, 0, 1, "\"\" sel=-1 n=1", {}},
               {"past the end", CB_DELETESTRING, 5, 0, CB_ERR, "\"\" sel=-1 n=1", {}},
               {"", CB_SETCURSEL, 0, 0, 0, "\"Inches (in)\" sel=0 n=1", {}},
               {"-1 clears", CB_SETCURSEL, static_cast<WPARAM>(-1), 0, CB_ERR, "\"\" sel=-1 n=1", {}},
               {"past the end clears too", CB_SETCURSEL, 0, 0, 0, "\"Inches (in)\" sel=0 n=1", {}},
               {"", CB_SETCURSEL, 4, 0, CB_ERR, "\"\" sel=-1 n=1", {}},
               {"drop down by message", CB_SHOWDROPDOWN, TRUE, 0, TRUE, "\"\" sel=-1 n=1 dropped", {"CBN_DROPDOWN(700)"}},
               {"", CB_SHOWDROPDOWN, FALSE, 0, TRUE, "\"\" sel=-1 n=1", {"CBN_CLOSEUP(700)"}},
               {"reset", CB_RESETCONTENT, 0, 0, CB_OKAY, "\"\" sel=-1 n=0", {}},
           },
           [&] { return ComboState(combo); });
  EXPECT_STREQ(buffer, "Metres (m)");
}

TEST_F(ControlsTest, DropDownTable) {
  HWND combo = Make("ComboBox", CBS_DROPDOWN | WS_TABSTOP, 381, "", 10, 10, 120, 200);
  HWND edit = GetWindow(combo, GW_CHILD);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(vkr::ui::ClassName(edit), "Edit");
  SendMessageA(combo, CB_ADDSTRING, 0, Str("Metres (m)"));
  SendMessageA(combo, CB_ADDSTRING, 0, Str("Feet (ft)"));
  RunTable(combo,
           {
               {"text goes to the edit, quietly", WM_SETTEXT, 0, Str("12"), TRUE, "\"12\" sel=-1 n=2", {}},
               {"selection shows the item in the edit", CB_SETCURSEL, 1, 0, 1, "\"Feet (ft)\" sel=1 n=2", {}},
               {"deleting the selected item keeps the edit's text", CB_DELETESTRING, 1, 0, 1, "\"Feet (ft)\" sel=-1 n=1", {}},
               {"-1 clears the edit", CB_SETCURSEL, static_cast<WPARAM>(-1), 0, CB_ERR, "\"\" sel=-1 n=1", {}},
           },
           [&] { return ComboState(combo); });
  EXPECT_EQ(vkr::ui::WindowText(edit), "");
  // The focus goes on to the edit and the codes come from the combo box, once for the pair.
  SetFocus(combo);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(Take(), (Log{"CBN_SETFOCUS(381)"}));
  // Typing in the edit speaks through the combo box.
  SendMessageA(edit, WM_CHAR, '4', 0);
  EXPECT_EQ(Take(), (Log{"CBN_EDITUPDATE(381)", "CBN_EDITCHANGE(381)"}));
  EXPECT_EQ(vkr::ui::WindowText(combo), "4");
  SetFocus(nullptr);
  EXPECT_EQ(Take(), (Log{"CBN_KILLFOCUS(381)"}));
}

std::string ListState(HWND list) {
  std::string s = "cur=" + std::to_string(SendMessageA(list, LB_GETCURSEL, 0, 0)) + " sel=[";
  const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  bool first = true;
  for (int i = 0; i < n; ++i)
    if (SendMessageA(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0) {
      s.append(first ? "" : ",").append(std::to_string(i));
      first = false;
    }
  return s + "] n=" + std::to_string(n);
}

TEST_F(ControlsTest, ListBoxTables) {
  HWND single = Make("ListBox", LBS_NOTIFY, 375, "", 10, 10, 120, 100);
  HWND multi = Make("ListBox", LBS_NOTIFY | LBS_MULTIPLESEL, 376, "", 140, 10, 120, 100);
  HWND extended = Make("ListBox", LBS_NOTIFY | LBS_EXTENDEDSEL, 377, "", 270, 10, 120, 100);
  for (HWND list : {single, multi, extended})
    for (const char* text : {"a", "b", "c", "d"}) SendMessageA(list, LB_ADDSTRING, 0, Str(text));
  RunTable(single,
           {
               {"program selection is quiet", LB_SETCURSEL, 2, 0, 2, "cur=2 sel=[2] n=4", {}},
               {"LB_SETSEL is for multiple selection only", LB_SETSEL, TRUE, 1, LB_ERR, "cur=2 sel=[2] n=4", {}},
               {"item data", LB_SETITEMDATA, 3, 0x40, LB_OKAY, "cur=2 sel=[2] n=4", {}},
               {"", LB_GETITEMDATA, 3, 0, 0x40, "cur=2 sel=[2] n=4", {}},
               {"text length", LB_GETTEXTLEN, 1, 0, 1, "cur=2 sel=[2] n=4", {}},
               {"deleting the selected item leaves none", LB_DELETESTRING, 2, 0, 3, "cur=-1 sel=[] n=3", {}},
               {"-1 clears", LB_SETCURSEL, 0, 0, 0, "cur=0 sel=[0] n=3", {}},
               {"", LB_SETCURSEL, static_cast<WPARAM>(-1), 0, LB_ERR, "cur=-1 sel=[] n=3", {}},
               {"reset", LB_RESETCONTENT, 0, 0, LB_OKAY, "cur=-1 sel=[] n=0", {}},
           },
           [&] { return ListState(single); });
  RunTable(multi,
           {
               {"LB_SETCURSEL is for single selection only", LB_SETCURSEL, 1, 0, LB_ERR, "cur=0 sel=[] n=4", {}},
               {"select one", LB_SETSEL, TRUE, 1, LB_OKAY, "cur=1 sel=[1] n=4", {}},
               {"and another", LB_SETSEL, TRUE, 3, LB_OKAY, "cur=3 sel=[1,3] n=4", {}},
               {"all", LB_SETSEL, TRUE, -1, LB_OKAY, "cur=3 sel=[0,1,2,3] n=4", {}},
               {"(FALSE, -1) clears all", LB_SETSEL, FALSE, -1, LB_OKAY, "cur=3 sel=[] n=4", {}},
               {"past the end", LB_SETSEL, TRUE, 9, LB_ERR, "cur=3 sel=[] n=4", {}},
               {"count of the selection", LB_GETSELCOUNT, 0, 0, 0, "cur=3 sel=[] n=4", {}},
           },
           [&] { return ListState(multi); });
  // The user's clicks: toggling in a multiple-selection list, ranges and Ctrl in an extended one.
  ASSERT_TRUE(vkr::ui::SelectItem(multi, 0));
  ASSERT_TRUE(vkr::ui::SelectItem(multi, 2));
  ASSERT_TRUE(vkr::ui::SelectItem(multi, 0));
  EXPECT_EQ(ListState(multi), "cur=0 sel=[2] n=4");
  EXPECT_EQ(Take(), (Log{"LBN_SETFOCUS(376)", "LBN_SELCHANGE(376)", "LBN_SELCHANGE(376)", "LBN_SELCHANGE(376)"}));
  ASSERT_TRUE(vkr::ui::SelectItem(extended, "b"));
  EXPECT_EQ(ListState(extended), "cur=1 sel=[1] n=4");
  ASSERT_TRUE(vkr::ui::SelectItem(extended, 3));
  EXPECT_EQ(ListState(extended), "cur=3 sel=[3] n=4");
  EXPECT_EQ(Take(), (Log{"LBN_KILLFOCUS(376)", "LBN_SETFOCUS(377)", "LBN_SELCHANGE(377)", "LBN_SELCHANGE(377)"}));
  EXPECT_FALSE(vkr::ui::SelectItem(extended, 9));
  EXPECT_FALSE(vkr::ui::SelectItem(extended, "zz"));
}

std::string ScrollState(HWND hwnd, int bar) {
  SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(hwnd, bar, &si)) return "none";
  return std::to_string(si.nMin) + ".." + std::to_string(si.nMax) + " page=" + std::to_string(si.nPage) +
         " pos=" + std::to_string(si.nPos) + " track=" + std::to_string(si.nTrackPos);
}

TEST_F(ControlsTest, ScrollBarClampTable) {
  HWND bar = Make("ScrollBar", SBS_HORZ, 0xFFFF, "", 10, 300, 200, 16);
  struct ScrollRow {
    const char* what;
    UINT mask;
    int min, max;
    UINT page;
    int pos;
    int result;
    std::string state;
  };
  // A page of visible + 1 lets the position reach content - visible: 0..500, page 301 gives 200.
  const ScrollRow rows[] = {
      {"range, page and position", SIF_ALL, 0, 500, 301, 50, 50, "0..500 page=301 pos=50 track=50"},
      {"the position stops at max - (page - 1)", SIF_POS, 0, 0, 0, 400, 200, "0..500 page=301 pos=200 track=200"},
      {"a larger page pulls it back", SIF_PAGE, 0, 0, 451, 0, 50, "0..500 page=451 pos=50 track=50"},
      {"the page is at most the range", SIF_PAGE, 0, 0, 900, 0, 0, "0..500 page=501 pos=0 track=0"},
      {"no page: up to max", SIF_PAGE | SIF_POS, 0, 0, 0, 900, 500, "0..500 page=0 pos=500 track=500"},
      {"below min", SIF_POS, 0, 0, 0, -5, 0, "0..500 page=0 pos=0 track=0"},
      {"a new range clamps the position", SIF_RANGE | SIF_POS, 10, 20, 0, 15, 15, "10..20 page=0 pos=15 track=15"},
      {"", SIF_RANGE, 0, 5, 0, 0, 5, "0..5 page=0 pos=5 track=5"},
  };
  for (const ScrollRow& row : rows) {
    SCROLLINFO si{sizeof si, row.mask, row.min, row.max, row.page, row.pos, 0};
    EXPECT_EQ(SetScrollInfo(bar, SB_CTL, &si, TRUE), row.result) << row.what;
    EXPECT_EQ(ScrollState(bar, SB_CTL), row.state) << row.what;
  }
  EXPECT_EQ(SetScrollPos(bar, SB_CTL, 3, FALSE), 5);
  EXPECT_EQ(GetScrollPos(bar, SB_CTL), 3);
  EXPECT_EQ(SendMessageA(bar, SBM_GETPOS, 0, 0), 3);
  // A window's own bars: none until the window has the style or a bar is set.
  EXPECT_EQ(ScrollState(parent_, SB_VERT), "none");
  HWND pane = Make("Static", WS_VSCROLL, 5);
  EXPECT_EQ(ScrollState(pane, SB_VERT), "0..100 page=0 pos=0 track=0");
  EXPECT_TRUE(SetScrollRange(pane, SB_VERT, 0, 50, FALSE));
  EXPECT_EQ(SetScrollPos(pane, SB_VERT, 70, FALSE), 0);
  EXPECT_EQ(ScrollState(pane, SB_VERT), "0..50 page=0 pos=50 track=50");
  EXPECT_EQ(g_log, Log{});
  EXPECT_FALSE(GetScrollInfo(nullptr, SB_CTL, nullptr));
}

TEST_F(ControlsTest, ScrollByTellsTheParentAndTheParentMovesTheBar) {
  HWND bar = Make("ScrollBar", SBS_VERT, 0xFFFF, "", 10, 10, 16, 200);
  SCROLLINFO si{sizeof si, SIF_ALL, 0, 300, 101, 20, 0};
  SetScrollInfo(bar, SB_CTL, &si, FALSE);
  // The track position is the thumb's while the thumb is dragged.
  g_onNotify = [&](const std::string& entry) {
    if (entry.rfind("VSCROLL(5,", 0) == 0) g_log.push_back("track " + ScrollState(bar, SB_CTL));
  };
  ASSERT_TRUE(vkr::ui::ScrollBy(bar, SB_CTL, SB_LINEDOWN));
  ASSERT_TRUE(vkr::ui::ScrollBy(bar, SB_CTL, SB_PAGEUP));
  ASSERT_TRUE(vkr::ui::ScrollBy(bar, SB_CTL, SB_THUMBTRACK, 999));
  EXPECT_EQ(Take(), (Log{"VSCROLL(1,0,ctl)", "VSCROLL(8,0,ctl)", "VSCROLL(2,0,ctl)", "VSCROLL(8,0,ctl)",
                         "VSCROLL(5,200,ctl)", "track 0..300 page=101 pos=20 track=200", "VSCROLL(4,200,ctl)",
                         "VSCROLL(8,0,ctl)"}));
  // Nobody moved it.
  EXPECT_EQ(ScrollState(bar, SB_CTL), "0..300 page=101 pos=20 track=20");
  EXPECT_FALSE(vkr::ui::ScrollBy(parent_, SB_HORZ, SB_LINEDOWN));
  // A window's own bar talks to the window itself, with no control in lParam.
  HWND pane = Make("Static", WS_VSCROLL, 6, "", 40, 10, 100, 100);
  WatchControl(pane, "pane");
  g_log.clear();
  ASSERT_TRUE(vkr::ui::ScrollBy(pane, SB_VERT, SB_PAGEDOWN));
  EXPECT_EQ(g_log, (Log{"pane:WM_VSCROLL 0x3", "pane:WM_VSCROLL 0x8"}));  // the parent hears nothing
}

std::string TreeState(HWND tree) {
  std::string s;
  std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
      s.append(s.empty() ? "" : " ").append(static_cast<std::size_t>(depth), '>').append(ItemText(tree, item));
      if (SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_BOLD)) s += "(b)";
      walk(reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))),
           depth + 1);
    }
  };
  walk(reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0);
  return s + " caret=" +
         ItemText(tree, reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)));
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, const char* text, LPARAM data) {
  TVINSERTSTRUCTA ins{};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
  ins.item.pszText = const_cast<char*>(text);
  ins.item.lParam = data;
  ins.item.state = ins.item.stateMask = TVIS_EXPANDED;
  return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

TEST_F(ControlsTest, TreeTable) {
  HWND tree = Make("SysTreeView32", 0x56010007 & ~(WS_CHILD | WS_VISIBLE), 516, "", 10, 10, 170, 200);
  HTREEITEM group = Insert(tree, TVI_ROOT, "G", -1);
  HTREEITEM p = Insert(tree, group, "P", 0);
  HTREEITEM q = Insert(tree, group, "Q", 1);
  HTREEITEM r = Insert(tree, TVI_ROOT, "R", 2);
  ASSERT_TRUE(group && p && q && r);
  EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), 4);
  EXPECT_EQ(TreeState(tree), "G >P >Q R caret=-");
  EXPECT_EQ(Take(), Log{});
  const auto item = [](HTREEITEM h) { return reinterpret_cast<LPARAM>(h); };
  TVITEMA bold{};
  bold.mask = TVIF_STATE;
  bold.hItem = q;
  bold.state = bold.stateMask = TVIS_BOLD;
  RunTable(tree,
           {
               {"select", TVM_SELECTITEM, TVGN_CARET, item(p), TRUE, "G >P >Q R caret=P",
                {"TVN_SELCHANGING(516) ->P", "TVN_SELCHANGED(516) ->P"}},
               {"selecting the selected item says nothing", TVM_SELECTITEM, TVGN_CARET, item(p), TRUE,
                "G >P >Q R caret=P", {}},
               {"bold", TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&bold), TRUE, "G >P >Q(b) R caret=P", {}},
               {"parent", TVM_GETNEXTITEM, TVGN_PARENT, item(q), item(group), "G >P >Q(b) R caret=P", {}},
               {"next of the last", TVM_GETNEXTITEM, TVGN_NEXT, item(r), 0, "G >P >Q(b) R caret=P", {}},
               {"deleting the selected item moves the selection", TVM_DELETEITEM, 0, item(p), TRUE,
                "G >Q(b) R caret=Q",
                {"TVN_SELCHANGING(516) P>Q", "TVN_SELCHANGED(516) P>Q", "TVN_DELETEITEM(516)"}},
               {"deleting a branch holding the selection", TVM_DELETEITEM, 0, item(group), TRUE, "R caret=R",
                {"TVN_SELCHANGING(516) Q>R", "TVN_SELCHANGED(516) Q>R", "TVN_DELETEITEM(516)", "TVN_DELETEITEM(516)"}},
               {"a deleted item is gone", TVM_SELECTITEM, TVGN_CARET, item(q), FALSE, "R caret=R", {}},
               {"TVI_ROOT deletes all", TVM_DELETEITEM, 0, item(TVI_ROOT), TRUE, " caret=-",
                {"TVN_SELCHANGING(516) R>-", "TVN_SELCHANGED(516) R>-", "TVN_DELETEITEM(516)"}},
           },
           [&] { return TreeState(tree); });
  // The parent may veto a selection.
  HTREEITEM a = Insert(tree, TVI_ROOT, "A", 0);
  HTREEITEM b = Insert(tree, TVI_ROOT, "B", 1);
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item(a));
  g_veto = TRUE;
  g_log.clear();
  EXPECT_EQ(SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item(b)), FALSE);
  EXPECT_EQ(TreeState(tree), "A B caret=A");
  EXPECT_EQ(Take(), (Log{"TVN_SELCHANGING(516) A>B"}));
  // The parameter and the state come back through TVM_GETITEMA.
  TVITEMA got{};
  got.mask = TVIF_PARAM | TVIF_STATE;
  got.hItem = b;
  got.stateMask = TVIS_SELECTED | TVIS_EXPANDED;
  ASSERT_TRUE(SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&got)));
  EXPECT_EQ(got.lParam, 1);
  EXPECT_EQ(got.state, TVIS_EXPANDED);
}

TEST_F(ControlsTest, TreeSelectionByTheUserCanBeVetoed) {
  HWND tree = Make("SysTreeView32", WS_TABSTOP, 516, "", 10, 10, 170, 200);
  Insert(tree, TVI_ROOT, "A", 0);
  Insert(tree, TVI_ROOT, "B", 1);
  ASSERT_TRUE(vkr::ui::SelectItem(tree, "B"));
  EXPECT_EQ(Take(), (Log{"NM_SETFOCUS(516)", "TVN_SELCHANGING(516) ->B", "TVN_SELCHANGED(516) ->B", "NM_CLICK(516)"}));
  g_veto = TRUE;
  ASSERT_TRUE(vkr::ui::SelectItem(tree, 0));
  EXPECT_EQ(TreeState(tree), "A B caret=B");
  EXPECT_EQ(Take(), (Log{"TVN_SELCHANGING(516) B>A", "NM_CLICK(516)"}));
}

TEST_F(ControlsTest, TabTable) {
  HWND tab = Make("SysTabControl32", 0, 12, "", 10, 10, 300, 200);
  const auto insert = [&](int at, const char* text) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text);
    return SendMessageA(tab, TCM_INSERTITEMA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
  };
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), -1);
  EXPECT_EQ(insert(0, "One"), 0);
  EXPECT_EQ(insert(1, "Two"), 1);
  EXPECT_EQ(insert(9, "Three"), 2);
  const auto state = [&] {
    return "sel=" + std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0)) +
           " n=" + std::to_string(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
  };
  RunTable(tab,
           {
               {"program selection is quiet and answers the old one", TCM_SETCURSEL, 2, 0, 0, "sel=2 n=3", {}},
               {"out of range", TCM_SETCURSEL, 5, 0, -1, "sel=2 n=3", {}},
               {"the focus moves the selection with notifications", TCM_SETCURFOCUS, 1, 0, 0, "sel=1 n=3",
                {"TCN_SELCHANGING(12)", "TCN_SELCHANGE(12)"}},
           },
           state);
  g_veto = TRUE;
  g_log.clear();
  EXPECT_TRUE(vkr::ui::SelectItem(tab, "One"));
  EXPECT_EQ(state(), "sel=1 n=3");
  g_veto = FALSE;
  EXPECT_TRUE(vkr::ui::SelectItem(tab, "One"));
  EXPECT_EQ(state(), "sel=0 n=3");
  EXPECT_EQ(Take(), (Log{"TCN_SELCHANGING(12)", "TCN_SELCHANGING(12)", "TCN_SELCHANGE(12)"}));
}

TEST_F(ControlsTest, StaticAndToolTips) {
  HWND lamp = Make("Static", SS_BITMAP | SS_NOTIFY, 0, "", 30, 30, 5, 5);
  HBITMAP bar = CreateBitmap(40, 7, 1, 32, nullptr);
  const auto size = [](HWND hwnd) {
    RECT rc{};
    GetClientRect(hwnd, &rc);
    return std::to_string(rc.right) + "x" + std::to_string(rc.bottom);
  };
  // The static takes the bitmap's size when it is set, and keeps a later move's size.
  EXPECT_EQ(SendMessageA(lamp, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bar)), 0);
  EXPECT_EQ(size(lamp), "40x7");
  MoveWindow(lamp, 30, 30, 2, 300, TRUE);
  EXPECT_EQ(size(lamp), "2x300");
  EXPECT_EQ(SendMessageA(lamp, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(bar));
  EXPECT_EQ(SendMessageA(lamp, STM_GETIMAGE, IMAGE_ICON, 0), 0);
  EXPECT_EQ(SendMessageA(lamp, STM_SETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(bar));
  EXPECT_EQ(size(lamp), "2x300");
  DeleteObject(bar);
  // An icon static takes the icon's size.
  HWND indicator = Make("Static", SS_ICON | SS_NOTIFY, 0, "", 60, 30, 3, 3);
  HICON icon = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0x4321));
  EXPECT_EQ(SendMessageA(indicator, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon)), 0);
  EXPECT_EQ(size(indicator), "16x16");
  EXPECT_EQ(SendMessageA(indicator, STM_GETICON, 0, 0), reinterpret_cast<LRESULT>(icon));
  EXPECT_EQ(SendMessageA(lamp, WM_GETDLGCODE, 0, 0), 0x100);
  // A click on a static with SS_NOTIFY says STN_CLICKED (with id 0 for the indicators).
  ASSERT_TRUE(vkr::ui::Click(lamp));
  EXPECT_EQ(Take(), (Log{"STN_CLICKED(0)"}));
  HFONT font = reinterpret_cast<HFONT>(static_cast<ULONG_PTR>(0x55));
  SendMessageA(lamp, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  EXPECT_EQ(SendMessageA(lamp, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));

  HWND tip = CreateWindowExA(WS_EX_TOPMOST, "tooltips_class32", nullptr, 0x80000003, 0, 0, 0, 0, parent_, nullptr,
                             nullptr, nullptr);
  ASSERT_NE(tip, nullptr);
  TOOLINFOA ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = parent_;
  ti.uId = reinterpret_cast<UINT_PTR>(lamp);
  ti.lpszText = const_cast<char*>("Device status");
  EXPECT_EQ(SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)), TRUE);
  EXPECT_EQ(vkr::ui::GetToolTipText(tip, parent_, ti.uId), "Device status");
  ti.lpszText = const_cast<char*>("Gerätestatus");
  SendMessageA(tip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(vkr::ui::GetToolTipText(tip, parent_, ti.uId), "Gerätestatus");
  EXPECT_EQ(SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, 300), -1);
  EXPECT_EQ(vkr::ui::GetToolTipMaxWidth(tip), 300);
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  SendMessageA(tip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 0);
  EXPECT_EQ(vkr::ui::GetToolTipText(tip, parent_, ti.uId), "");
}

TEST_F(ControlsTest, ClassOnlyControlsAreWindows) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&icc));
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
  for (const char* cls : {"RichEdit20A", "SysListView32", "msctls_trackbar32", "msctls_progress32", "msctls_updown32",
                          "SysHeader32", "SysDateTimePick32", "SysIPAddress32", "ComboBoxEx32", "msctls_hotkey32",
                          "SysAnimate32"}) {
    HWND hwnd = Make(cls, 0, 50);
    EXPECT_EQ(vkr::ui::ClassName(hwnd), cls);
    DestroyWindow(hwnd);
  }
  char name[32] = {};
  GetClassNameA(Make("BUTTON", 0, 51), name, sizeof name);
  EXPECT_STREQ(name, "Button");  // looked up without regard to case, named as registered
}

TEST_F(ControlsTest, AClickOnAComboBoxDropsAndClosesItsList) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST | WS_TABSTOP, 7, "", 10, 10, 120, 100);
  HWND plain = Make("ListBox", 0, 8, "", 10, 40, 120, 60);  // no LBS_NOTIFY: focus codes only
  SendMessageA(plain, LB_ADDSTRING, 0, Str("x"));
  ASSERT_TRUE(vkr::ui::Click(combo));
  EXPECT_EQ(ComboState(combo), "\"\" sel=-1 n=0 dropped");
  ASSERT_TRUE(vkr::ui::Click(combo));
  EXPECT_EQ(ComboState(combo), "\"\" sel=-1 n=0");
  ASSERT_TRUE(vkr::ui::SelectItem(plain, 0));
  EXPECT_EQ(Take(), (Log{"CBN_SETFOCUS(7)", "CBN_DROPDOWN(7)", "CBN_CLOSEUP(7)", "CBN_KILLFOCUS(7)",
                         "LBN_SETFOCUS(8)"}));
  EXPECT_EQ(ListState(plain), "cur=0 sel=[0] n=1");
}

// A drop-down combo box's window is its closed field; the height it was made or sized with is the
// dropped list's room (a dialog template's height too), taken while the list is open. A simple
// combo box keeps its list in its window.
TEST_F(ControlsTest, ADropDownComboBoxIsAsTallAsItsFieldAndItsListTakesTheGivenHeight) {
  auto height = [](HWND hwnd) {
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return static_cast<int>(rc.bottom - rc.top);
  };
  auto dropped = [](HWND hwnd) {
    RECT rc{};
    EXPECT_EQ(SendMessageA(hwnd, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&rc)), CB_OKAY);
    return static_cast<int>(rc.bottom - rc.top);
  };
  HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
  for (DWORD kind : {DWORD{CBS_DROPDOWNLIST}, DWORD{CBS_DROPDOWN}}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    HWND combo = Make("ComboBox", kind | WS_VSCROLL, 710, "", 10, 10, 120, 150);
    const int field = height(combo);
    EXPECT_GT(field, 10);
    EXPECT_LT(field, 40);
    EXPECT_EQ(dropped(combo), 150);
    if (HWND edit = GetWindow(combo, GW_CHILD)) {
      RECT rc{};
      GetClientRect(edit, &rc);
      EXPECT_LE(rc.bottom, field);
    }
    // The font sets the field; a new size sets the list's room.
    SendMessageA(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    EXPECT_LT(height(combo), field);
    MoveWindow(combo, 10, 10, 120, 90, TRUE);
    EXPECT_LT(height(combo), field);
    EXPECT_EQ(dropped(combo), 90);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_EQ(height(combo), 90);
    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_LT(height(combo), field);
    DestroyWindow(combo);
  }
  HWND simple = Make("ComboBox", CBS_SIMPLE, 711, "", 10, 10, 120, 150);
  EXPECT_EQ(height(simple), 150);

  // From a dialog template: the template's height is the list's.
  constexpr char kTemplate[] = "1 DIALOGEX 0, 0, 200, 100\nSTYLE WS_POPUP\nFONT 8, \"MS Sans Serif\"\nBEGIN\n"
                               " COMBOBOX 5, 10, 10, 80, 60, CBS_DROPDOWNLIST | WS_VSCROLL\nEND\n";
  HWND dialog = CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(kTemplate), nullptr, nullptr, 0);
  ASSERT_NE(dialog, nullptr);
  RECT units{0, 0, 4, 60};
  MapDialogRect(dialog, &units);
  HWND combo = GetDlgItem(dialog, 5);
  EXPECT_LT(height(combo), 30);
  EXPECT_EQ(dropped(combo), units.bottom);
  DestroyWindow(dialog);
  DeleteObject(font);
}

TEST_F(ControlsTest, FocusMoveSaysKillBeforeSet) {
  HWND edit = Make("Edit", WS_TABSTOP, 1);
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST | WS_TABSTOP, 2, "", 10, 40, 120, 100);
  HWND list = Make("ListBox", LBS_NOTIFY | WS_TABSTOP, 3, "", 10, 70, 120, 60);
  HWND button = Make("Button", BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP, 4, "ok", 10, 140);
  HWND dropDown = Make("ComboBox", CBS_DROPDOWN | WS_TABSTOP, 5, "", 10, 170, 120, 100);
  SetFocus(edit);
  SetFocus(combo);
  SetFocus(list);
  SetFocus(button);
  SetFocus(dropDown);
  SetFocus(edit);
  EXPECT_EQ(Take(), (Log{"EN_SETFOCUS(1)", "EN_KILLFOCUS(1)", "CBN_SETFOCUS(2)", "CBN_KILLFOCUS(2)",
                         "LBN_SETFOCUS(3)", "LBN_KILLFOCUS(3)", "BN_SETFOCUS(4)", "BN_KILLFOCUS(4)",
                         "CBN_SETFOCUS(5)", "CBN_KILLFOCUS(5)", "EN_SETFOCUS(1)"}));
}

TEST_F(ControlsTest, InputHelpersSendWhatAPersonSends) {
  HWND edit = Make("Edit", WS_TABSTOP, 1);
  HWND button = Make("Button", BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP, 2, "Send", 10, 40);
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST | WS_TABSTOP, 3, "", 10, 70, 120, 100);
  for (const char* text : {"a", "b", "c"}) SendMessageA(combo, CB_ADDSTRING, 0, Str(text));
  WatchControl(edit, "edit");
  WatchControl(button, "button");
  struct Step {
    const char* what;
    std::function<bool()> act;
    Log expected;
  };
  const std::vector<Step> steps = {
      {"click in the edit", [&] { return vkr::ui::Click(edit); },
       {"edit:WM_SETCURSOR", "edit:WM_MOUSEACTIVATE", "edit:WM_SETFOCUS", "EN_SETFOCUS(1)", "edit:WM_LBUTTONDOWN",
        "edit:WM_LBUTTONUP"}},
      {"type", [&] { return vkr::ui::TypeText(edit, "5,"); },
       {"edit:WM_KEYDOWN 0x35", "edit:WM_CHAR 0x35", "EN_UPDATE(1)", "EN_CHANGE(1)", "edit:WM_KEYUP 0x35",
        "edit:WM_KEYDOWN 0xBC", "edit:WM_CHAR 0x2C", "EN_UPDATE(1)", "EN_CHANGE(1)", "edit:WM_KEYUP 0xBC"}},
      {"backspace", [&] { return vkr::ui::PressKey(VK_BACK); },
       {"edit:WM_KEYDOWN 0x8", "edit:WM_CHAR 0x8", "EN_UPDATE(1)", "EN_CHANGE(1)", "edit:WM_KEYUP 0x8"}},
      {"click the button: the edit is left first", [&] { return vkr::ui::Click(button); },
       {"button:WM_SETCURSOR", "button:WM_MOUSEACTIVATE", "edit:WM_KILLFOCUS", "EN_KILLFOCUS(1)",
        "button:WM_SETFOCUS", "BN_SETFOCUS(2)", "button:WM_LBUTTONDOWN", "button:WM_LBUTTONUP", "BN_CLICKED(2)"}},
      {"pick a combo item", [&] { return vkr::ui::SelectItem(combo, "b"); },
       {"button:WM_KILLFOCUS", "BN_KILLFOCUS(2)", "CBN_SETFOCUS(3)", "CBN_DROPDOWN(3)", "CBN_SELCHANGE(3)",
        "CBN_SELENDOK(3)", "CBN_CLOSEUP(3)"}},
      {"arrow in the combo", [&] { return vkr::ui::PressKey(VK_DOWN); }, {"CBN_SELCHANGE(3)"}},
      {"space on the button", [&] {
         SetFocus(button);
         g_log.clear();
         return vkr::ui::PressKey(VK_SPACE);
       },
       {"button:WM_KEYDOWN 0x20", "button:WM_CHAR 0x20", "button:WM_KEYUP 0x20", "BN_CLICKED(2)"}},
  };
  for (const Step& step : steps) {
    g_log.clear();
    ASSERT_TRUE(step.act()) << step.what;
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(g_log, step.expected) << step.what;
  }
  EXPECT_EQ(vkr::ui::WindowText(edit), "5");
  EXPECT_EQ(vkr::ui::WindowText(combo), "c");
}

TEST_F(ControlsTest, AParentMayDestroyTheControlInsideItsNotification) {
  HWND combo = Make("ComboBox", CBS_DROPDOWN, 3, "", 10, 10, 120, 100);
  HWND tree = Make("SysTreeView32", 0, 4, "", 10, 40, 120, 100);
  HWND edit = Make("Edit", 0, 5, "", 10, 150);
  SendMessageA(combo, CB_ADDSTRING, 0, Str("a"));
  Insert(tree, TVI_ROOT, "A", 0);
  g_onNotify = [&](const std::string& entry) {
    if (entry == "CBN_SELCHANGE(3)") DestroyWindow(combo);
    if (entry.rfind("TVN_SELCHANGING(4)", 0) == 0) DestroyWindow(tree);
    if (entry == "EN_UPDATE(5)") DestroyWindow(edit);
  };
  EXPECT_TRUE(vkr::ui::SelectItem(combo, 0));
  EXPECT_TRUE(vkr::ui::SelectItem(tree, 0));
  SendMessageA(edit, WM_CHAR, 'x', 0);
  EXPECT_FALSE(IsWindow(combo));
  EXPECT_FALSE(IsWindow(tree));
  EXPECT_FALSE(IsWindow(edit));
  const Log log = Take();
  EXPECT_EQ(std::count(log.begin(), log.end(), "CBN_CLOSEUP(3)"), 0);
  EXPECT_EQ(std::count(log.begin(), log.end(), "EN_CHANGE(5)"), 0);
  vkr::ui::PumpUntilIdle();
}

TEST_F(ControlsTest, DumpWindowTreeShowsClassIdTextStyleStateAndRectangle) {
  HWND check = Make("Button", BS_AUTOCHECKBOX, 415, "Pen 1", 10, 10, 80, 20);
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST, 703, "", 10, 40, 100, 100);
  SendMessageA(combo, CB_ADDSTRING, 0, Str("x"));
  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  SendMessageA(check, BM_SETCHECK, BST_CHECKED, 0);
  EnableWindow(check, FALSE);
  const std::string dump = vkr::ui::DumpWindowTree(parent_);
  EXPECT_NE(dump.find("ControlsTestParent id=0 \"parent\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n  Button id=415 \"Pen 1\" style=0x58000003 ("), std::string::npos) << dump;
  EXPECT_NE(dump.find(" disabled checked\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n  ComboBox id=703 \"x\" style=0x50000003"), std::string::npos) << dump;
  EXPECT_NE(dump.find(" sel=0 items=[x]\n"), std::string::npos) << dump;
  EXPECT_EQ(vkr::ui::DumpWindowTree(nullptr), "");
}

}  // namespace

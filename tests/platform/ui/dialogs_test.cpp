// Dialogs: the template text, dialog units, creation order, the dialog manager's keys, the modal
// loop and scripted message boxes. The controls here are small classes of the test's own that
// answer WM_GETDLGCODE and the button messages as the standard controls do.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using vkr::ui::DialogTemplate;

// ---- The template text ----

using namespace std::string_view_literals;

struct ParseRow {
  const char* name;
  std::string_view text;
  const char* error;  // null: parses
};

const ParseRow kParseRows[] = {
    {"minimal", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\n", nullptr},
    {"comments and blank lines", "// head\n\n7 DIALOGEX 0,0,1,1 /* size */\nBEGIN // body\nEND\n// tail\n", nullptr},
    {"statement over lines", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n CONTROL \"a\", 5, \"Edit\",\n  WS_TABSTOP |\n  ES_NUMBER, 1, 2, 3, 4\nEND\n",
     nullptr},
    {"no END", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n", "line 3: the dialog has no END"},
    {"no id", "DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\n", "line 1: a dialog starts with its numeric id and DIALOGEX"},
    {"id 0", "0 DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\n", "line 1: the dialog id must be from 1 to 65535"},
    {"negative width", "1 DIALOGEX 0, 0, -10, 10\nBEGIN\nEND\n", "line 1: the width must be from 0 to 32767"},
    {"unknown style", "1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_CHILD | WS_SHINY\nBEGIN\nEND\n", "line 2: unknown style name WS_SHINY"},
    {"unknown statement", "1 DIALOGEX 0, 0, 10, 10\nMENU 5\nBEGIN\nEND\n", "line 2: unknown statement MENU before BEGIN"},
    {"unknown control", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n SLIDER 5, 1, 2, 3, 4\nEND\n", "line 3: unknown control statement SLIDER"},
    {"missing comma", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n CONTROL \"a\" 5, \"Edit\", 0, 1, 2, 3, 4\nEND\n",
     "line 3: expected ',', found number 5"},
    {"open text", "1 DIALOGEX 0, 0, 10, 10\nCAPTION \"abc\nBEGIN\nEND\n", "line 2: a text in double quotes is not closed on its line"},
    {"bad escape", "1 DIALOGEX 0, 0, 10, 10\nCAPTION \"a\\qb\"\nBEGIN\nEND\n", "line 2: unknown escape \\q in a text"},
    {"bad UTF-8", "1 DIALOGEX 0, 0, 10, 10\nCAPTION \"\xC3\x28\"\nBEGIN\nEND\n", "line 2: a text is not valid UTF-8"},
    {"id too large", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n EDITTEXT 70000, 1, 2, 3, 4\nEND\n", "line 3: a control id must be from -1 to 65535"},
    {"number too large", "1 DIALOGEX 0, 0, 10, 10\nSTYLE 0x100000000\nBEGIN\nEND\n", "line 2: the number is larger than 32 bits"},
    {"duplicate id", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n EDITTEXT 5, 1, 2, 3, 4\n PUSHBUTTON \"x\", 5, 1, 2, 3, 4\nEND\n",
     "line 4: control id 5 is used twice (first on line 3)"},
    {"repeated static ids", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n LTEXT \"a\", -1, 1, 2, 3, 4\n LTEXT \"b\", -1, 1, 2, 3, 4\nEND\n",
     nullptr},
    {"bad class id", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n CONTROL \"\", 5, \"{1234}\", 0, 1, 2, 3, 4\nEND\n",
     "line 3: the class id {1234} is not of the form {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"},
    {"odd init bytes",
     "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n CONTROL \"\", 5, \"A.B\", 0, 1, 2, 3, 4, 0, \"123\"\nEND\n",
     "line 3: the initialisation bytes have an odd number of hex digits"},
    {"init bytes on a window class",
     "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n CONTROL \"\", 5, \"Edit\", 0, 1, 2, 3, 4, 0, \"12\"\nEND\n",
     "line 3: only a hosted item (a class id in braces or a ProgID) takes initialisation bytes"},
    {"text after END", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\nBEGIN\n", "line 4: text after the dialog's END"},
    {"zero byte", "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n\0END\n"sv, "line 3: the text holds a zero byte"},
    {"deep parentheses",
     "1 DIALOGEX 0, 0, 10, 10\nSTYLE ((((((((((((((((((((1))))))))))))))))))))\nBEGIN\nEND\n",
     "line 2: parentheses nested too deep"},
    {"trailing junk", "1 DIALOGEX 0, 0, 10, 10 x\nBEGIN\nEND\n", "line 1: unexpected 'x' at the end of a statement"},
};

TEST(DialogTemplateText, ParsesGoodTextsAndRefusesBadOnesWithTheirLine) {
  for (const ParseRow& row : kParseRows) {
    SCOPED_TRACE(row.name);
    DialogTemplate t;
    std::string error = "untouched";
    const bool ok = vkr::ui::ParseDialogTemplate(row.text, &t, &error);
    if (row.error) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, row.error);
    } else {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(error, "");
    }
  }
}

TEST(DialogTemplateText, ReadsEveryFieldOfEveryStatementKind) {
  const char* text =
      "105 DIALOGEX 3, 4, 450, 360, 77\n"
      "STYLE DS_CONTROL | WS_CHILD | 0x4\n"
      "EXSTYLE WS_EX_CONTROLPARENT\n"
      "CAPTION \"Say \"\"hi\"\" \\\\ \xC3\x9C\"\n"
      "FONT 8, \"MS Sans Serif\", 700, 1, 2\n"
      "BEGIN\n"
      "  CONTROL \"Close && &go\", 289, \"Button\", BS_DEFPUSHBUTTON | WS_TABSTOP, 10, -11, 50, 14\n"
      "  CONTROL \"#201\", 356, Static, SS_BITMAP | NOT WS_VISIBLE, 0, 0, 20, 20, WS_EX_CLIENTEDGE\n"
      "  CONTROL \"\", 218, \"{01234567-89ab-CDEF-0123-456789ABCDEF}\", WS_TABSTOP, 0, 340, 450, 20, 0, \"10 0a FF\"\n"
      "  CONTROL \"\", 403, \"Vorn.Chart.1\", 0, 1, 2, 3, 4\n"
      "  LTEXT \"&Name\", IDC_STATIC, 5, 30, 40, 8\n"
      "  EDITTEXT 300, 50, 30, 80, 12, ES_NUMBER | NOT WS_BORDER, WS_EX_STATICEDGE\n"
      "  DEFPUSHBUTTON \"OK\", IDOK, 1, 2, 3, 4\n"
      "  COMBOBOX 381, 1, 2, 3, 4, CBS_DROPDOWN | NOT CBS_SIMPLE\n"
      "  COMBOBOX 382, 1, 2, 3, 4, CBS_DROPDOWN | WS_VSCROLL\n"
      "  COMBOBOX 383, 1, 2, 3, 4\n"
      "END\n";
  DialogTemplate t;
  std::string error;
  ASSERT_TRUE(vkr::ui::ParseDialogTemplate(text, &t, &error)) << error;
  EXPECT_EQ(t.id, 105);
  EXPECT_EQ((std::vector<int>{t.x, t.y, t.cx, t.cy}), (std::vector<int>{3, 4, 450, 360}));
  EXPECT_EQ(t.style, DS_CONTROL | WS_CHILD | DS_3DLOOK | WS_CAPTION | DS_SETFONT);
  EXPECT_EQ(t.exStyle, WS_EX_CONTROLPARENT);
  EXPECT_EQ(t.caption, u"Say \"hi\" \\ \u00DC");
  EXPECT_TRUE(t.hasFont);
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.fontFace, u"MS Sans Serif");
  EXPECT_EQ((std::vector<int>{t.weight, t.italic, t.charset}), (std::vector<int>{700, 1, 2}));
  ASSERT_EQ(t.items.size(), 10u);

  struct Want {
    const char16_t* text;
    LONG id;
    const char16_t* cls;
    DWORD style;
    DWORD exStyle;
    std::vector<int> rect;
    bool hosted;
    std::vector<BYTE> init;
  };
  const Want want[] = {
      {u"Close && &go", 289, u"Button", WS_CHILD | WS_VISIBLE | 0x1 | WS_TABSTOP, 0, {10, -11, 50, 14}, false, {}},
      {u"#201", 356, u"Static", WS_CHILD | 0x0E, WS_EX_CLIENTEDGE, {0, 0, 20, 20}, false, {}},
      {u"", 218, u"{01234567-89ab-CDEF-0123-456789ABCDEF}", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, {0, 340, 450, 20},
       true, {0x10, 0x0A, 0xFF}},
      {u"", 403, u"Vorn.Chart.1", WS_CHILD | WS_VISIBLE, 0, {1, 2, 3, 4}, true, {}},
      {u"&Name", -1, u"Static", WS_CHILD | WS_VISIBLE | WS_GROUP, 0, {5, 30, 40, 8}, false, {}},
      {u"", 300, u"Edit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x2000, WS_EX_STATICEDGE, {50, 30, 80, 12}, false, {}},
      {u"OK", 1, u"Button", WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x1, 0, {1, 2, 3, 4}, false, {}},
      {u"", 381, u"ComboBox", WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x2, 0, {1, 2, 3, 4}, false, {}},
      // The given kind replaces the default simple kind; without a style the default stays.
      {u"", 382, u"ComboBox", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | 0x2, 0, {1, 2, 3, 4}, false, {}},
      {u"", 383, u"ComboBox", WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x1, 0, {1, 2, 3, 4}, false, {}},
  };
  for (std::size_t i = 0; i < t.items.size(); ++i) {
    SCOPED_TRACE(i);
    const vkr::ui::DialogItemTemplate& item = t.items[i];
    EXPECT_EQ(item.text, want[i].text);
    EXPECT_EQ(item.id, want[i].id);
    EXPECT_EQ(item.className, want[i].cls);
    EXPECT_EQ(item.style, want[i].style);
    EXPECT_EQ(item.exStyle, want[i].exStyle);
    EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}), want[i].rect);
    EXPECT_EQ(item.hosted, want[i].hosted);
    EXPECT_EQ(item.initData, want[i].init);
  }
}

// Every dialog text of the tree parses (the module's dialogs and the tests' own).
TEST(DialogTemplateText, EveryDialogFileOfTheTreeParses) {
  namespace fs = std::filesystem;
  int count = 0;
  for (const char* dir : {"resources", "tests"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(VKR_SOURCE_DIR) / dir)) {
      if (entry.path().extension() != ".dlg") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      std::string error;
      EXPECT_TRUE(vkr::ui::ParseDialogTemplate(text.str(), nullptr, &error)) << entry.path() << ": " << error;
      ++count;
    }
  }
  EXPECT_GE(count, 5);
}

// ---- Dialog windows ----

constexpr UINT kBmGetCheck = 0x00F0;
constexpr UINT kBmSetCheck = 0x00F1;
constexpr UINT kBmSetStyle = 0x00F4;
constexpr UINT kBmClick = 0x00F5;
constexpr UINT kEmSetSel = 0x00B1;

std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}
void Note(std::string entry) { Log().push_back(std::move(entry)); }
std::string Id(HWND hwnd) { return std::to_string(GetDlgCtrlID(hwnd)); }

// Stand-ins for the standard controls: they answer WM_GETDLGCODE as Button, Edit and Static do
// and log what the dialog engine sends them.
LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  const DWORD type = style & 0x0F;
  switch (message) {
    case WM_CREATE: Note("create " + Id(hwnd)); return 0;
    case WM_SETFONT: Note("font " + Id(hwnd)); return 0;
    case WM_GETDLGCODE:
      if (type == 1) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == 0) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      if (type == 4 || type == 9) return DLGC_BUTTON | DLGC_RADIOBUTTON;
      if (type == 7) return DLGC_STATIC;
      return DLGC_BUTTON;
    case kBmSetStyle:
      SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>((style & 0xFFFF0000u) | LOWORD(wParam)));
      return 0;
    case kBmGetCheck: return GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    case kBmSetCheck: SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam)); return 0;
    case kBmClick:
      Note("click " + Id(hwnd));
      if (type == 9) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 1);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: Note("create " + Id(hwnd)); return 0;
    case WM_SETFONT: Note("font " + Id(hwnd)); return 0;
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case kEmSetSel: Note("select " + Id(hwnd)); return 0;
    case WM_CHAR: Note("char " + Id(hwnd) + " " + std::string(1, static_cast<char>(wParam))); return 0;
    case WM_KEYDOWN:
      if (wParam >= static_cast<WPARAM>(VK_LEFT) && wParam <= static_cast<WPARAM>(VK_DOWN)) Note("arrow " + Id(hwnd));
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: Note("create " + Id(hwnd)); return 0;
    case WM_SETFONT: Note("font " + Id(hwnd)); return 0;
    case WM_GETDLGCODE: return DLGC_STATIC;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::function<void(HWND dialog)>& IdleAction() {
  static std::function<void(HWND)> action;
  return action;
}

// A frame window: runs the test's action when a modal dialog it owns has nothing to do.
LRESULT OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && IdleAction()) {
    auto action = std::move(IdleAction());
    IdleAction() = nullptr;
    action(reinterpret_cast<HWND>(lParam));
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterTestClasses() {
  static const bool once = [] {
    const struct {
      LPCWSTR name;
      WNDPROC proc;
    } classes[] = {{u"DlgTestButton", ButtonProc}, {u"DlgTestEdit", EditProc}, {u"DlgTestStatic", StaticProc},
                   {u"DlgTestHost", DefWindowProcW}, {u"DlgTestOwner", OwnerProc}};
    for (const auto& c : classes) {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.style = CS_GLOBALCLASS;
      wc.lpfnWndProc = c.proc;
      wc.lpszClassName = c.name;
      EXPECT_NE(RegisterClassExW(&wc), 0);
    }
    return true;
  }();
  (void)once;
}

INT_PTR LoggingDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_SETFONT: Note("dialog font"); return TRUE;
    case WM_INITDIALOG: Note("init, first " + Id(reinterpret_cast<HWND>(wParam))); return TRUE;
    case WM_COMMAND:
      Note("command " + std::to_string(LOWORD(wParam)) + ((GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) ? " to page" : ""));
      return TRUE;
  }
  return FALSE;
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    Log().clear();
    vkr::ui::ClearMessageBoxRecord();
    // The creator the process had (the control host's, once that is set up) comes back afterwards.
    creator_ = vkr::ui::SetHostedItemCreator(nullptr);
  }
  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    vkr::ui::SetHostedItemCreator(std::move(creator_));
    IdleAction() = nullptr;
    vkr::ui::PumpUntilIdle();
  }
  HWND Keep(HWND hwnd) {
    windows_.push_back(hwnd);
    return hwnd;
  }
  HWND Frame() {
    return Keep(CreateWindowExW(0, u"DlgTestOwner", u"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 800, 600,
                                nullptr, nullptr, nullptr, nullptr));
  }
  std::vector<HWND> windows_;
  vkr::ui::HostedItemCreator creator_;
};

TEST_F(Dialogs, SizesFollowTheDialogUnitRule) {
  SIZE size{};
  ASSERT_TRUE(vkr::ui::DialogTemplateSize(nullptr, 300, &size));
  EXPECT_EQ(size.cx, 675);
  EXPECT_EQ(size.cy, 585);
  EXPECT_FALSE(vkr::ui::DialogTemplateSize(nullptr, 999, &size));
  EXPECT_EQ(GetDialogBaseUnits(), MAKELONG(6, 13));

  HWND dialog = Keep(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(300), nullptr, nullptr, 0));
  ASSERT_NE(dialog, nullptr);
  RECT client{}, window{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &window);
  EXPECT_EQ(client.right, 675);
  EXPECT_EQ(client.bottom, 585);
  EXPECT_EQ(window.right - window.left, 675);  // a bare popup has no frame
  RECT units{2, 8, 450, 360};
  ASSERT_TRUE(MapDialogRect(dialog, &units));
  EXPECT_EQ((std::vector<LONG>{units.left, units.top, units.right, units.bottom}),
            (std::vector<LONG>{3, 13, 675, 585}));
  EXPECT_EQ(vkr::ui::ClassName(dialog), "#32770");
}

TEST_F(Dialogs, ChildrenComeInTemplateOrderBeforeInitDialog) {
  HWND frame = Frame();
  std::vector<std::string> hosted;
  vkr::ui::SetHostedItemCreator([&](HWND dialog, HINSTANCE instance, const vkr::ui::DialogItemTemplate& item,
                                    const RECT& rect, HRESULT* failure) -> HWND {
    if (item.className[0] != u'{') {
      *failure = E_NOINTERFACE;
      return nullptr;
    }
    hosted.push_back(vkr::Utf16ToUtf8(item.className) + " " + std::to_string(item.initData.size()) + " bytes at " +
                     std::to_string(rect.left) + "," + std::to_string(rect.top));
    Note("create " + std::to_string(item.id));
    return CreateWindowExW(0, u"DlgTestHost", u"", WS_CHILD | item.style, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)),
                           instance, nullptr);
  });
  HWND dialog = Keep(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(301), frame, LoggingDialogProc, 0));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Log(), (std::vector<std::string>{"dialog font", "create -1", "font -1", "create 11", "font 11",
                                              "create 217", "create 356", "font 356", "create 289",
                                              "font 289", "init, first 11", "select 11"}));
  EXPECT_EQ(hosted, (std::vector<std::string>{"{A1B2C3D4-0000-4000-8000-00AA00BB00CC} 8 bytes at 0,32"}));
  const auto failures = vkr::ui::GetHostedItemFailures(dialog);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].id, 218);
  EXPECT_EQ(failures[0].className, u"Vorn.Missing.1");
  EXPECT_EQ(failures[0].result, E_NOINTERFACE);

  std::vector<int> order;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) order.push_back(GetDlgCtrlID(c));
  EXPECT_EQ(order, (std::vector<int>{-1, 11, 217, 356, 289}));
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 11));
  EXPECT_EQ(vkr::ui::WindowText(GetDlgItem(dialog, 289)), "Cl&ose && go");
  EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELRESULT(289, DC_HASDEFID));
  // A DS_CONTROL child dialog: placed in its parent's client area, a control parent without a caption.
  RECT rect{};
  GetWindowRect(dialog, &rect);
  POINT origin{0, 0};
  ClientToScreen(frame, &origin);
  EXPECT_EQ((std::vector<LONG>{rect.left - origin.x, rect.top - origin.y, rect.right - rect.left, rect.bottom - rect.top}),
            (std::vector<LONG>{15, 32, 300, 162}));
  EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  EXPECT_FALSE(GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION);

  // Without a creator every hosted item is recorded as not registered; the dialog still comes.
  vkr::ui::SetHostedItemCreator(nullptr);
  HWND bare = Keep(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(301), frame, nullptr, 0));
  ASSERT_NE(bare, nullptr);
  const auto bareFailures = vkr::ui::GetHostedItemFailures(bare);
  ASSERT_EQ(bareFailures.size(), 2u);
  EXPECT_EQ(bareFailures[0].result, REGDB_E_CLASSNOTREG);
}

TEST_F(Dialogs, InitDialogAnsweringFalseKeepsTheFocusAndTemplatesThatFailGiveNull) {
  HWND frame = Frame();
  SetFocus(frame);
  HWND dialog = Keep(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(301), frame,
                                        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
                                        0));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetFocus(), frame);
  // A dialog destroyed in WM_INITDIALOG is no dialog.
  EXPECT_EQ(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(301), frame,
                               [](HWND hwnd, UINT message, WPARAM, LPARAM) -> INT_PTR {
                                 if (message == WM_INITDIALOG) DestroyWindow(hwnd);
                                 return FALSE;
                               },
                               0),
            nullptr);
  SetLastError(0);
  EXPECT_EQ(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(999), frame, nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  const char* bad = "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n";
  EXPECT_EQ(CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(bad), frame, nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  // A control of a class nobody registered fails the dialog, as on Windows.
  const char* unknown = "1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_CHILD\nBEGIN\n CONTROL \"\", 5, \"NoSuchClass\", 0, 1, 2, 3, 4\nEND\n";
  EXPECT_EQ(CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(unknown), frame, nullptr, 0),
            nullptr);
  std::vector<int> children;
  for (HWND c = GetWindow(frame, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(GetDlgCtrlID(c));
  EXPECT_EQ(children.size(), 1u);  // only the first dialog is left

  // Stale and null handles fail quietly.
  MSG msg{};
  EXPECT_FALSE(IsDialogMessageW(nullptr, &msg));
  EXPECT_FALSE(IsDialogMessageW(dialog, nullptr));
  EXPECT_FALSE(EndDialog(frame, 1));  // not a dialog
  DestroyWindow(dialog);
  SetLastError(0);
  EXPECT_FALSE(EndDialog(dialog, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(GetNextDlgTabItem(dialog, nullptr, FALSE), nullptr);
  EXPECT_EQ(GetNextDlgGroupItem(dialog, nullptr, FALSE), nullptr);
  EXPECT_EQ(DefDlgProcW(dialog, WM_NEXTDLGCTL, 0, 0), 0);
  EXPECT_EQ(vkr::ui::GetHostedItemFailures(dialog).size(), 0u);
}

// The navigation dialog with a page inside it, the focus on the edit.
class DialogKeys : public Dialogs {
 protected:
  void SetUp() override {
    Dialogs::SetUp();
    dialog_ = Keep(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(310), nullptr, LoggingDialogProc, 0));
    ASSERT_NE(dialog_, nullptr);
    page_ = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(311), dialog_, LoggingDialogProc, 0);
    ASSERT_NE(page_, nullptr);
    ShowWindow(dialog_, SW_SHOWNORMAL);
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(11)), TRUE);
    vkr::ui::PumpUntilIdle();
    Log().clear();
  }
  HWND Item(int id) {
    HWND w = GetDlgItem(dialog_, id);
    return w ? w : GetDlgItem(page_, id);
  }
  int FocusId() { return GetDlgCtrlID(GetFocus()); }
  // The ids of the buttons that look like the default button.
  std::vector<int> DefaultLooks() {
    std::vector<int> ids;
    for (int id : {1, 2, 21, 31, 32})
      if ((GetWindowLongW(Item(id), GWL_STYLE) & 0x0F) == 1) ids.push_back(id);
    return ids;
  }
  HWND dialog_ = nullptr;
  HWND page_ = nullptr;
};

TEST_F(DialogKeys, TabAndShiftTabWalkTheTabStopsIntoThePageAndBack) {
  struct Step {
    int vk;
    UINT modifiers;
    int focus;
    std::vector<int> defaultLooks;
  };
  const Step steps[] = {
      {VK_TAB, 0, 31, {1}},                     // the radio group (nothing checked: its first)
      {VK_TAB, 0, 1, {1}},                      // OK
      {VK_TAB, 0, 2, {2}},                      // Cancel takes the default look
      {VK_TAB, 0, 21, {21}},                    // into the page; the hidden 40 is skipped
      {VK_TAB, 0, 22, {1}},                     // an edit: the page has no default button, the dialog's has it
      {VK_TAB, 0, 11, {1}},                     // the disabled 23 skipped, round to the start
      {VK_TAB, vkr::ui::kShift, 22, {1}},
      {VK_TAB, vkr::ui::kShift, 21, {21}},
      {VK_TAB, vkr::ui::kShift, 2, {2}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.focus);
    ASSERT_TRUE(vkr::ui::PressKey(step.vk, step.modifiers));
    EXPECT_EQ(FocusId(), step.focus);
    EXPECT_EQ(DefaultLooks(), step.defaultLooks);
  }
  EXPECT_EQ(Log(), (std::vector<std::string>{"select 22", "select 11", "select 22"}));
  // Back to a control that is no push button: the default button gets its look again.
  SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(11)), TRUE);
  EXPECT_EQ(DefaultLooks(), (std::vector<int>{1}));
  // WM_NEXTDLGCTL without a handle moves like Tab (wParam 0) and Shift+Tab (non-zero).
  SendMessageW(dialog_, WM_NEXTDLGCTL, 0, FALSE);
  EXPECT_EQ(FocusId(), 31);
  SendMessageW(dialog_, WM_NEXTDLGCTL, 1, FALSE);
  EXPECT_EQ(FocusId(), 11);
  // Tabbing into the radio group lands on its checked button.
  CheckRadioButton(dialog_, 31, 33, 32);
  EXPECT_EQ((std::vector<UINT>{IsDlgButtonChecked(dialog_, 31), IsDlgButtonChecked(dialog_, 32)}),
            (std::vector<UINT>{0, 1}));
  vkr::ui::PressKey(VK_TAB);
  EXPECT_EQ(FocusId(), 32);
}

TEST_F(DialogKeys, ArrowsMoveWithinTheGroupAndEnterEscapeAndMnemonicsAct) {
  struct Row {
    const char* what;
    int startFocus;
    int vk;
    UINT modifiers;
    int focus;
    std::vector<std::string> log;
  };
  const Row rows[] = {
      {"down to the next radio", 31, VK_DOWN, 0, 32, {"click 32"}},
      {"down past the disabled one, round", 32, VK_DOWN, 0, 31, {"click 31"}},
      {"up round to the last enabled", 31, VK_UP, 0, 32, {"click 32"}},
      {"an edit keeps its arrows", 11, VK_RIGHT, 0, 11, {"arrow 11"}},
      {"enter in an edit: the default button", 11, VK_RETURN, 0, 11, {"command 1"}},
      {"enter on a push button: that button", 2, VK_RETURN, 0, 2, {"command 2"}},
      {"enter on a page's button: to the page", 21, VK_RETURN, 0, 21, {"command 21 to page"}},
      {"escape", 11, VK_ESCAPE, 0, 11, {"command 2"}},
      {"alt+letter of a label: the control after it", 2, 'N', vkr::ui::kAlt, 11, {"select 11"}},
      {"alt+letter of a radio button: focus and press", 11, 'T', vkr::ui::kAlt, 32, {"click 32"}},
      {"alt+letter inside the page", 11, 'A', vkr::ui::kAlt, 21, {"click 21"}},
      {"a disabled control's letter does nothing", 11, 'R', vkr::ui::kAlt, 11, {}},
      {"a plain letter on a button is a mnemonic", 1, 'C', 0, 2, {"click 2"}},
      {"a plain letter in an edit is typing", 11, 'C', 0, 11, {"char 11 c"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(row.startFocus)), TRUE);
    Log().clear();
    ASSERT_TRUE(vkr::ui::PressKey(row.vk, row.modifiers));
    EXPECT_EQ(FocusId(), row.focus);
    EXPECT_EQ(Log(), row.log);
  }
  // The default id moves with DM_SETDEFID; a disabled default button makes Enter do nothing.
  SendMessageW(dialog_, DM_SETDEFID, 2, 0);
  SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(11)), TRUE);
  EXPECT_EQ(DefaultLooks(), (std::vector<int>{2}));
  Log().clear();
  vkr::ui::PressKey(VK_RETURN);
  EnableWindow(Item(2), FALSE);
  vkr::ui::PressKey(VK_RETURN);
  EXPECT_EQ(Log(), (std::vector<std::string>{"command 2"}));
}

INT_PTR ModalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Note("init, owner " + std::string(IsWindowEnabled(GetParent(hwnd)) ? "enabled" : "disabled"));
    if (lParam == 7) EndDialog(hwnd, 7);
    return TRUE;
  }
  if (message == WM_COMMAND) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

TEST_F(Dialogs, DialogBoxRunsItsOwnLoopUntilEndDialog) {
  HWND frame = Frame();
  struct Row {
    const char* what;
    std::function<void(HWND dialog)> action;
    LPARAM init;
    INT_PTR result;
  };
  const Row rows[] = {
      {"escape", [](HWND) { vkr::ui::PressKey(VK_ESCAPE); }, 0, IDCANCEL},
      {"enter on the focused OK", [](HWND) { vkr::ui::PressKey(VK_RETURN); }, 0, IDOK},
      {"EndDialog from the outside", [](HWND dialog) { EndDialog(dialog, 42); }, 0, 42},
      {"closing is Cancel", [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }, 0, IDCANCEL},
      {"ended in WM_INITDIALOG", nullptr, 7, 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    HWND seen = nullptr;
    bool ownerEnabled = true;
    if (row.action)
      IdleAction() = [&](HWND dialog) {
        seen = dialog;
        ownerEnabled = IsWindowEnabled(frame) != FALSE;
        row.action(dialog);
      };
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(320), frame, ModalProc, row.init), row.result);
    EXPECT_TRUE(IsWindowEnabled(frame));
    if (row.action) {
      ASSERT_NE(seen, nullptr);
      EXPECT_FALSE(ownerEnabled);
      EXPECT_FALSE(IsWindow(seen));
    }
  }
  EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(999), frame, ModalProc, 0), -1);
}

TEST_F(Dialogs, MessageBoxesAnswerFromTheScriptAndAreRecorded) {
  HWND frame = Frame();
  bool enabledWhileOpen = true;
  int nested = 0;
  vkr::ui::SetMessageBoxScript({
      {IDNO,
       [&](const vkr::ui::MessageBoxQuestion& q) {
         enabledWhileOpen = IsWindowEnabled(frame) != FALSE;
         EXPECT_EQ(q.text, "Save the changes?");
         nested = MessageBoxA(frame, "Nested", nullptr, MB_RETRYCANCEL);  // the next answer in the queue
       }},
      {0, nullptr},
  });
  EXPECT_EQ(MessageBoxA(frame, "Save the changes?", "Vorn", MB_YESNOCANCEL | MB_ICONQUESTION), IDNO);
  EXPECT_FALSE(enabledWhileOpen);
  EXPECT_TRUE(IsWindowEnabled(frame));
  EXPECT_EQ(nested, IDRETRY);
  // With the queue empty each box takes its first button.
  const struct {
    UINT type;
    int answer;
  } firsts[] = {{MB_OK, IDOK}, {MB_OKCANCEL, IDOK}, {MB_ABORTRETRYIGNORE, IDABORT}, {MB_YESNO, IDYES},
                {MB_CANCELTRYCONTINUE, IDCANCEL}};
  for (const auto& f : firsts) EXPECT_EQ(MessageBoxW(nullptr, u"Fehler: \u00dcberlauf", u"\u00dcberschrift", f.type), f.answer);
  const auto record = vkr::ui::MessageBoxRecord();
  ASSERT_EQ(record.size(), 7u);
  EXPECT_EQ(record[0].caption, "Vorn");
  EXPECT_EQ(record[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
  EXPECT_EQ(record[0].owner, frame);
  EXPECT_EQ(record[0].answer, IDNO);
  EXPECT_EQ(record[1].text, "Nested");
  EXPECT_EQ(record[1].caption, "Error");
  EXPECT_EQ(record[2].text, "Fehler: \xC3\x9C" "berlauf");
  EXPECT_EQ(record[2].caption, "\xC3\x9C" "berschrift");
  EXPECT_EQ(record[6].answer, IDCANCEL);
}

// ---- With the standard controls ----

std::vector<std::string> g_commands;
INT_PTR CommandLoggingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    g_commands.push_back(std::to_string(LOWORD(wParam)));
    return TRUE;
  }
  return FALSE;
}

std::vector<BYTE> ReadSourceFile(const std::string& relative) {
  std::ifstream f(std::string(VKR_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A module of its own with a dialog and the pictures it names (the test program's resources have
// no bitmaps or icons).
struct PictureModule {
  const HMODULE module = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x7D1000));
  std::vector<std::vector<BYTE>> files{ReadSourceFile("tests/platform/ui/resources/controls.dlg"),
                                       ReadSourceFile("resources/bitmaps/LampRed.bmp"),
                                       ReadSourceFile("resources/icons/status664.ico")};
  std::vector<vkr::platform::ResourceItem> items{
      {RT_DIALOG_ID, nullptr, 330, files[0].data(), static_cast<DWORD>(files[0].size())},
      {RT_BITMAP_ID, nullptr, 331, files[1].data(), static_cast<DWORD>(files[1].size())},
      {RT_ICON_ID, nullptr, 332, files[2].data(), static_cast<DWORD>(files[2].size())}};
  PictureModule() {
    EXPECT_TRUE(vkr::platform::RegisterResources(module, {items.data(), items.size(), nullptr, 0}));
  }
  ~PictureModule() { vkr::platform::UnregisterResources(module); }
};

TEST_F(Dialogs, StandardControlsGetTheirPicturesFontAndKeys) {
  PictureModule pictures;
  const vkr::ui::GdiCounts before = vkr::ui::GdiObjectCounts();
  g_commands.clear();
  HWND dialog = Keep(CreateDialogParamW(pictures.module, MAKEINTRESOURCEW(330), nullptr, CommandLoggingProc, 0));
  ASSERT_NE(dialog, nullptr);
  ShowWindow(dialog, SW_SHOWNORMAL);
  auto item = [&](int id) { return GetDlgItem(dialog, id); };
  EXPECT_NE(SendMessageW(item(10), STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_NE(SendMessageW(item(11), STM_GETIMAGE, IMAGE_ICON, 0), 0);
  const LRESULT font = SendMessageW(dialog, WM_GETFONT, 0, 0);
  EXPECT_NE(font, 0);
  EXPECT_EQ(SendMessageW(item(12), WM_GETFONT, 0, 0), font);
  EXPECT_EQ(GetFocus(), item(12));

  const auto isDefault = [&](int id) { return (GetWindowLongW(item(id), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON; };
  vkr::ui::TypeText(item(12), "7");
  EXPECT_EQ(vkr::ui::WindowText(item(12)), "7");
  vkr::ui::PressKey(VK_TAB);  // OK
  vkr::ui::PressKey(VK_TAB);  // Apply takes the default look
  EXPECT_EQ(GetFocus(), item(102));
  EXPECT_TRUE(isDefault(102));
  EXPECT_FALSE(isDefault(IDOK));
  vkr::ui::PressKey('C', vkr::ui::kAlt);  // the check box's mnemonic clicks it
  EXPECT_EQ(IsDlgButtonChecked(dialog, 13), BST_CHECKED);
  EXPECT_EQ(GetFocus(), item(13));
  EXPECT_TRUE(isDefault(IDOK));  // a check box is no push button: the default button has it back
  EXPECT_FALSE(isDefault(102));
  vkr::ui::PressKey('L', vkr::ui::kAlt);  // the label's mnemonic: into the edit, its text selected
  EXPECT_EQ(GetFocus(), item(12));
  vkr::ui::PressKey(VK_RETURN);
  vkr::ui::PressKey(VK_ESCAPE);
  EXPECT_EQ(g_commands, (std::vector<std::string>{"13", "1", "2"}));

  DestroyWindow(dialog);
  EXPECT_EQ(vkr::ui::GdiObjectCounts(), before);  // the dialog's font went with it
}

// ---- CDialogImpl and CAxDialogImpl ----

class CQuestion : public CDialogImpl<CQuestion> {
 public:
  enum { IDD = 320 };
  BEGIN_MSG_MAP(CQuestion)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_USER + 5, OnAsk)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam, BOOL&) {
    Note("init " + std::to_string(lParam));
    return TRUE;
  }
  LRESULT OnAsk(UINT, WPARAM, LPARAM, BOOL&) { return 1234; }
  LRESULT OnOk(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDOK);
    Note(m_hWnd ? "ok, window still known" : "ok, window gone");
    return 0;
  }
  LRESULT OnCancel(WORD, WORD, HWND, BOOL& handled) {
    handled = FALSE;  // left to the default handling
    return 0;
  }
  void OnFinalMessage(HWND) override { Note("final"); }
};

class CPage : public CDialogImpl<CPage> {
 public:
  enum { IDD = 311 };
  BEGIN_MSG_MAP(CPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
  END_MSG_MAP()
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Note("page init");
    return FALSE;
  }
};

class CPanel : public CAxDialogImpl<CPanel> {
 public:
  enum { IDD = 302 };
  BEGIN_MSG_MAP(CPanel)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
  END_MSG_MAP()
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Note("panel init");
    return FALSE;
  }
};

TEST_F(Dialogs, DialogClassesRouteThroughTheirMessageMaps) {
  HWND frame = Frame();
  CQuestion modal;
  IdleAction() = [](HWND) { vkr::ui::PressKey(VK_RETURN); };
  EXPECT_EQ(modal.DoModal(frame, 5), IDOK);
  EXPECT_EQ(modal.m_hWnd, nullptr);
  EXPECT_EQ(Log(), (std::vector<std::string>{"create 1", "create 2", "init 5", "ok, window still known", "final"}));

  // Modeless: answers through DWLP_MSGRESULT, defaults for what the map leaves, EndDialog destroys.
  Log().clear();
  CQuestion modeless;
  HWND dialog = Keep(modeless.Create(frame, 6));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(modeless.m_hWnd, dialog);
  EXPECT_EQ(SendMessageW(dialog, WM_USER + 5, 0, 0), 1234);
  EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
  SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(IsWindow(dialog));
  SendMessageW(dialog, WM_COMMAND, IDOK, 0);  // destroyed inside its own handler
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(modeless.m_hWnd, nullptr);
  EXPECT_EQ(Log(), (std::vector<std::string>{"create 1", "create 2", "init 6", "ok, window still known", "final"}));

  // A dialog whose hosted item is a dialog made while the outer one waits for its first message.
  Log().clear();
  std::vector<std::unique_ptr<CPage>> pages;
  vkr::ui::SetHostedItemCreator([&](HWND parent, HINSTANCE, const vkr::ui::DialogItemTemplate& item, const RECT&,
                                    HRESULT*) -> HWND {
    pages.push_back(std::make_unique<CPage>());
    HWND page = pages.back()->Create(parent);
    SetWindowLongW(page, GWL_ID, item.id);
    return page;
  });
  CPanel panel;
  ASSERT_NE(Keep(panel.Create(frame)), nullptr);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0]->m_hWnd, GetDlgItem(panel.m_hWnd, 217));
  EXPECT_EQ(GetParent(pages[0]->m_hWnd), panel.m_hWnd);
  EXPECT_EQ(Log(), (std::vector<std::string>{"create 21", "create 22", "create 23", "page init", "create 1",
                                              "panel init"}));
  EXPECT_TRUE(panel.GetHostedItemFailures().empty());
  DestroyWindow(panel.m_hWnd);
  EXPECT_EQ(pages[0]->m_hWnd, nullptr);
}

}  // namespace

// Dialogs: the template text, dialog units, creation order, the dialog manager's keys, the modal
// loop and scripted message boxes. The controls here are small classes of the test's own that
// answer WM_GETDLGCODE and the button messages as the standard controls do.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
  ASSERT_EQ(t.items.size(), 8u);

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

}  // namespace

// The dialog template text: a subset of the resource compiler's DIALOGEX, read into a
// DialogTemplate. Resources keep the text itself (the resource compiler adds a trailing zero), so
// a template is parsed whenever a dialog is made from it; it is small and that is cheap.
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/dialogs.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/native.h"
#include "platform/win/resources.h"

namespace vkr::ui {
namespace {

struct Name {
  const char* name;
  DWORD value;
};

// The style names a template may use, with their Windows values.
constexpr Name kStyleNames[] = {
    // Window styles.
    {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000}, {"WS_CHILD", 0x40000000},
    {"WS_MINIMIZE", 0x20000000}, {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000}, {"WS_MAXIMIZE", 0x01000000},
    {"WS_CAPTION", 0x00C00000}, {"WS_BORDER", 0x00800000}, {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000}, {"WS_HSCROLL", 0x00100000}, {"WS_SYSMENU", 0x00080000},
    {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000}, {"WS_TABSTOP", 0x00010000},
    {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
    // Extended window styles.
    {"WS_EX_DLGMODALFRAME", 0x00000001}, {"WS_EX_NOPARENTNOTIFY", 0x00000004}, {"WS_EX_TOPMOST", 0x00000008},
    {"WS_EX_ACCEPTFILES", 0x00000010}, {"WS_EX_TRANSPARENT", 0x00000020}, {"WS_EX_MDICHILD", 0x00000040},
    {"WS_EX_TOOLWINDOW", 0x00000080}, {"WS_EX_WINDOWEDGE", 0x00000100}, {"WS_EX_CLIENTEDGE", 0x00000200},
    {"WS_EX_CONTEXTHELP", 0x00000400}, {"WS_EX_RIGHT", 0x00001000}, {"WS_EX_RTLREADING", 0x00002000},
    {"WS_EX_LEFTSCROLLBAR", 0x00004000}, {"WS_EX_CONTROLPARENT", 0x00010000}, {"WS_EX_STATICEDGE", 0x00020000},
    {"WS_EX_APPWINDOW", 0x00040000},
    // Dialog styles.
    {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80}, {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200}, {"DS_3DLOOK", 0x0004},
    {"DS_FIXEDSYS", 0x0008}, {"DS_NOFAILCREATE", 0x0010}, {"DS_CONTROL", 0x0400}, {"DS_CENTER", 0x0800},
    {"DS_CENTERMOUSE", 0x1000}, {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x0048},
    // Static styles.
    {"SS_LEFT", 0x00}, {"SS_CENTER", 0x01}, {"SS_RIGHT", 0x02}, {"SS_ICON", 0x03}, {"SS_BLACKRECT", 0x04},
    {"SS_GRAYRECT", 0x05}, {"SS_WHITERECT", 0x06}, {"SS_BLACKFRAME", 0x07}, {"SS_GRAYFRAME", 0x08},
    {"SS_WHITEFRAME", 0x09}, {"SS_SIMPLE", 0x0B}, {"SS_LEFTNOWORDWRAP", 0x0C}, {"SS_OWNERDRAW", 0x0D},
    {"SS_BITMAP", 0x0E}, {"SS_ETCHEDHORZ", 0x10}, {"SS_ETCHEDVERT", 0x11}, {"SS_ETCHEDFRAME", 0x12},
    {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200}, {"SS_RIGHTJUST", 0x400},
    {"SS_REALSIZEIMAGE", 0x800}, {"SS_SUNKEN", 0x1000}, {"SS_ENDELLIPSIS", 0x4000},
    // Button styles.
    {"BS_PUSHBUTTON", 0x00}, {"BS_DEFPUSHBUTTON", 0x01}, {"BS_CHECKBOX", 0x02}, {"BS_AUTOCHECKBOX", 0x03},
    {"BS_RADIOBUTTON", 0x04}, {"BS_3STATE", 0x05}, {"BS_AUTO3STATE", 0x06}, {"BS_GROUPBOX", 0x07},
    {"BS_USERBUTTON", 0x08}, {"BS_AUTORADIOBUTTON", 0x09}, {"BS_PUSHBOX", 0x0A}, {"BS_OWNERDRAW", 0x0B},
    {"BS_LEFTTEXT", 0x20}, {"BS_TEXT", 0x00}, {"BS_ICON", 0x40}, {"BS_BITMAP", 0x80}, {"BS_LEFT", 0x100},
    {"BS_RIGHT", 0x200}, {"BS_CENTER", 0x300}, {"BS_TOP", 0x400}, {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00},
    {"BS_PUSHLIKE", 0x1000}, {"BS_MULTILINE", 0x2000}, {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
    // Edit styles.
    {"ES_LEFT", 0x00}, {"ES_CENTER", 0x01}, {"ES_RIGHT", 0x02}, {"ES_MULTILINE", 0x04}, {"ES_UPPERCASE", 0x08},
    {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20}, {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100}, {"ES_OEMCONVERT", 0x400}, {"ES_READONLY", 0x800}, {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    // Combo box styles.
    {"CBS_SIMPLE", 0x01}, {"CBS_DROPDOWN", 0x02}, {"CBS_DROPDOWNLIST", 0x03}, {"CBS_OWNERDRAWFIXED", 0x10},
    {"CBS_OWNERDRAWVARIABLE", 0x20}, {"CBS_AUTOHSCROLL", 0x40}, {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", 0x100},
    {"CBS_HASSTRINGS", 0x200}, {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800},
    {"CBS_UPPERCASE", 0x2000}, {"CBS_LOWERCASE", 0x4000},
    // List box styles.
    {"LBS_NOTIFY", 0x01}, {"LBS_SORT", 0x02}, {"LBS_NOREDRAW", 0x04}, {"LBS_MULTIPLESEL", 0x08},
    {"LBS_OWNERDRAWFIXED", 0x10}, {"LBS_OWNERDRAWVARIABLE", 0x20}, {"LBS_HASSTRINGS", 0x40},
    {"LBS_USETABSTOPS", 0x80}, {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_MULTICOLUMN", 0x200},
    {"LBS_WANTKEYBOARDINPUT", 0x400}, {"LBS_EXTENDEDSEL", 0x800}, {"LBS_DISABLENOSCROLL", 0x1000},
    {"LBS_NODATA", 0x2000}, {"LBS_NOSEL", 0x4000}, {"LBS_STANDARD", 0x00A00003},
    // Scroll bar styles.
    {"SBS_HORZ", 0x00}, {"SBS_VERT", 0x01}, {"SBS_TOPALIGN", 0x02}, {"SBS_LEFTALIGN", 0x02},
    {"SBS_BOTTOMALIGN", 0x04}, {"SBS_RIGHTALIGN", 0x04}, {"SBS_SIZEBOX", 0x08}, {"SBS_SIZEGRIP", 0x10},
    // Tree view styles.
    {"TVS_HASBUTTONS", 0x01}, {"TVS_HASLINES", 0x02}, {"TVS_LINESATROOT", 0x04}, {"TVS_EDITLABELS", 0x08},
    {"TVS_DISABLEDRAGDROP", 0x10}, {"TVS_SHOWSELALWAYS", 0x20}, {"TVS_NOTOOLTIPS", 0x80},
    {"TVS_CHECKBOXES", 0x100}, {"TVS_TRACKSELECT", 0x200}, {"TVS_SINGLEEXPAND", 0x400},
    {"TVS_FULLROWSELECT", 0x1000},
    // Track bar styles.
    {"TBS_AUTOTICKS", 0x01}, {"TBS_VERT", 0x02}, {"TBS_HORZ", 0x00}, {"TBS_TOP", 0x04}, {"TBS_BOTTOM", 0x00},
    {"TBS_LEFT", 0x04}, {"TBS_RIGHT", 0x00}, {"TBS_BOTH", 0x08}, {"TBS_NOTICKS", 0x10},
    // Tab control styles.
    {"TCS_TABS", 0x00}, {"TCS_BUTTONS", 0x100}, {"TCS_MULTILINE", 0x200}, {"TCS_FIXEDWIDTH", 0x400},
    {"TCS_FOCUSNEVER", 0x8000},
};

// Control ids a template may name.
constexpr Name kIdNames[] = {
    {"IDOK", 1},  {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4},
    {"IDIGNORE", 5}, {"IDYES", 6}, {"IDNO", 7},   {"IDCLOSE", 8}, {"IDHELP", 9},
};

constexpr DWORD kWsChild = 0x40000000;
constexpr DWORD kWsVisible = 0x10000000;
constexpr DWORD kWsTabstop = 0x00010000;
constexpr DWORD kWsGroup = 0x00020000;
constexpr DWORD kWsBorder = 0x00800000;
constexpr DWORD kWsCaption = 0x00C00000;
constexpr DWORD kWsPopup = 0x80000000;
constexpr DWORD kWsSysmenu = 0x00080000;
constexpr DWORD kDsSetFont = 0x40;
constexpr int kMaxNesting = 16;
constexpr std::size_t kMaxItems = 4096;

enum class Tok { kEnd, kNewline, kWord, kNumber, kString, kComma, kBar, kOpen, kClose };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // words; strings decoded (UTF-8)
  long long number = 0;
  int line = 0;
};

struct Failure {
  std::string message;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  // Every token of the text, newlines included; throws Failure on bad input.
  std::vector<Token> All() {
    std::vector<Token> out;
    for (;;) {
      Token t = Next();
      const bool end = t.kind == Tok::kEnd;
      out.push_back(std::move(t));
      if (end) return out;
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const { throw Failure{"line " + std::to_string(line_) + ": " + why}; }

  Token Make(Tok kind) const {
    Token t;
    t.kind = kind;
    t.line = line_;
    return t;
  }

  Token Next() {
    for (;;) {
      if (pos_ >= text_.size()) return Make(Tok::kEnd);
      const char c = text_[pos_];
      if (c == '\0') Fail("the text holds a zero byte");
      if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
        continue;
      }
      if (c == '\n') {
        Token t = Make(Tok::kNewline);
        ++pos_;
        ++line_;
        return t;
      }
      if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
        const std::size_t end = text_.find("*/", pos_ + 2);
        if (end == text_.npos) Fail("a comment is not closed");
        for (std::size_t i = pos_; i < end; ++i)
          if (text_[i] == '\n') ++line_;
        pos_ = end + 2;
        continue;
      }
      break;
    }
    const char c = text_[pos_];
    if (c == ',') return ++pos_, Make(Tok::kComma);
    if (c == '|') return ++pos_, Make(Tok::kBar);
    if (c == '(') return ++pos_, Make(Tok::kOpen);
    if (c == ')') return ++pos_, Make(Tok::kClose);
    if (c == '"') return String();
    if ((c >= '0' && c <= '9') || c == '-') return Number();
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
      Token t = Make(Tok::kWord);
      const std::size_t start = pos_;
      while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        ++pos_;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      Fail("unexpected character " + std::to_string(static_cast<unsigned char>(c)) + " outside a text");
    Fail(std::string("unexpected '") + c + "'");
  }

  Token Number() {
    Token t = Make(Tok::kNumber);
    bool negative = false;
    if (text_[pos_] == '-') {
      negative = true;
      ++pos_;
      if (pos_ >= text_.size() || text_[pos_] < '0' || text_[pos_] > '9') Fail("a '-' must be followed by a number");
    }
    unsigned long long value = 0;
    int digits = 0;
    if (text_[pos_] == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
      pos_ += 2;
      for (; pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_])); ++pos_, ++digits) {
        const char h = text_[pos_];
        value = value * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
        if (value > 0xFFFFFFFFull) Fail("the number is larger than 32 bits");
      }
    } else {
      for (; pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; ++pos_, ++digits) {
        value = value * 10 + static_cast<unsigned>(text_[pos_] - '0');
        if (value > 0xFFFFFFFFull) Fail("the number is larger than 32 bits");
      }
    }
    if (digits == 0) Fail("a hexadecimal number needs digits after 0x");
    if (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'l')) ++pos_;
    if (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      Fail("a number runs into letters");
    t.number = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    return t;
  }

  Token String() {
    Token t = Make(Tok::kString);
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') Fail("a text in double quotes is not closed on its line");
      const char c = text_[pos_++];
      if (c == '\0') Fail("the text holds a zero byte");
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {  // "" is one quote, as the resource compiler has it
          t.text += '"';
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\\') {
        if (pos_ >= text_.size()) Fail("a text ends in a lone backslash");
        const char e = text_[pos_++];
        switch (e) {
          case '\\': t.text += '\\'; break;
          case '"': t.text += '"'; break;
          case 'n': t.text += '\n'; break;
          case 'r': t.text += '\r'; break;
          case 't': t.text += '\t'; break;
          default: Fail(std::string("unknown escape \\") + e + " in a text");
        }
        continue;
      }
      t.text += c;
    }
    std::u16string check;
    if (!vkr::platform::DecodeUtf8(t.text, &check)) Fail("a text is not valid UTF-8");
    return t;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  void Run(DialogTemplate* out) {
    SkipNewlines();
    const Token& id = Peek();
    if (id.kind != Tok::kNumber) Fail(id, "a dialog starts with its numeric id and DIALOGEX");
    if (id.number < 1 || id.number > 0xFFFF) Fail(id, "the dialog id must be from 1 to 65535");
    out->id = static_cast<WORD>(id.number);
    Take();
    ExpectWord("DIALOGEX");
    out->x = Coordinate("x");
    ExpectComma();
    out->y = Coordinate("y");
    ExpectComma();
    out->cx = Extent("width");
    ExpectComma();
    out->cy = Extent("height");
    if (Peek().kind == Tok::kComma) {  // the help id
      Take();
      Integer("help id");
    }
    EndOfStatement();

    bool hasStyle = false;
    bool hasCaption = false;
    for (;;) {
      SkipNewlines();
      const Token& w = Peek();
      if (w.kind != Tok::kWord) Fail(w, "expected STYLE, EXSTYLE, CAPTION, FONT or BEGIN");
      if (w.text == "BEGIN") break;
      Take();
      if (w.text == "STYLE") {
        out->style = Style(0);
        hasStyle = true;
      } else if (w.text == "EXSTYLE") {
        out->exStyle = Style(0);
      } else if (w.text == "CAPTION") {
        out->caption = Wide(ExpectString("the caption"));
        hasCaption = true;
      } else if (w.text == "FONT") {
        const long long size = Integer("point size");
        if (size < 1 || size > 0x7FFF) Fail(w, "the point size must be from 1 to 32767");
        out->pointSize = static_cast<WORD>(size);
        ExpectComma();
        out->fontFace = Wide(ExpectString("the font name"));
        if (Peek().kind == Tok::kComma) {
          Take();
          out->weight = static_cast<WORD>(Bounded("font weight", 0, 1000));
          if (Peek().kind == Tok::kComma) {
            Take();
            out->italic = static_cast<BYTE>(Bounded("italic flag", 0, 1));
            if (Peek().kind == Tok::kComma) {
              Take();
              out->charset = static_cast<BYTE>(Bounded("character set", 0, 255));
            }
          }
        }
        out->hasFont = true;
      } else {
        Fail(w, "unknown statement " + w.text + " before BEGIN");
      }
      EndOfStatement();
    }
    // The resource compiler's defaults: a bordered popup with a system menu unless STYLE says
    // otherwise; a caption implies WS_CAPTION and a font DS_SETFONT.
    if (!hasStyle) out->style = kWsPopup | kWsBorder | kWsSysmenu;
    if (hasCaption) out->style |= kWsCaption;
    if (out->hasFont) out->style |= kDsSetFont;
    Take();  // BEGIN
    EndOfStatement();

    for (;;) {
      SkipNewlines();
      const Token& w = Peek();
      if (w.kind == Tok::kEnd) Fail(w, "the dialog has no END");
      if (w.kind != Tok::kWord) Fail(w, "expected a control statement or END");
      if (w.text == "END") {
        Take();
        EndOfStatement();
        break;
      }
      if (out->items.size() >= kMaxItems) Fail(w, "a dialog holds at most 4096 controls");
      out->items.push_back(Item());
      const DialogItemTemplate& added = out->items.back();
      for (std::size_t i = 0; i + 1 < out->items.size(); ++i) {
        const DialogItemTemplate& other = out->items[i];
        if (added.id > 0 && added.id != 0xFFFF && other.id == added.id)
          Fail(w, "control id " + std::to_string(added.id) + " is used twice (first on line " +
                      std::to_string(other.line) + ")");
      }
    }
    SkipNewlines();
    if (Peek().kind != Tok::kEnd) Fail(Peek(), "text after the dialog's END");
  }

 private:
  [[noreturn]] static void Fail(const Token& at, const std::string& why) {
    throw Failure{"line " + std::to_string(at.line) + ": " + why};
  }

  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Take() {
    const Token& t = tokens_[pos_];
    if (t.kind != Tok::kEnd) ++pos_;
    return t;
  }

  void SkipNewlines() {
    while (Peek().kind == Tok::kNewline) Take();
  }
  // Inside a statement a line break may follow a comma or a bar (a statement on several lines).
  void SkipContinuation() {
    if (pos_ > 0 && (tokens_[pos_ - 1].kind == Tok::kComma || tokens_[pos_ - 1].kind == Tok::kBar)) SkipNewlines();
  }

  void EndOfStatement() {
    const Token& t = Peek();
    if (t.kind != Tok::kNewline && t.kind != Tok::kEnd) Fail(t, "unexpected " + Describe(t) + " at the end of a statement");
  }

  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd: return "end of the text";
      case Tok::kNewline: return "end of the line";
      case Tok::kWord: return "'" + t.text + "'";
      case Tok::kNumber: return "number " + std::to_string(t.number);
      case Tok::kString: return "text \"" + t.text + "\"";
      case Tok::kComma: return "','";
      case Tok::kBar: return "'|'";
      case Tok::kOpen: return "'('";
      case Tok::kClose: return "')'";
    }
    return "?";
  }

  void ExpectWord(const char* word) {
    const Token& t = Take();
    if (t.kind != Tok::kWord || t.text != word) Fail(t, std::string("expected ") + word + ", found " + Describe(t));
  }
  void ExpectComma() {
    const Token& t = Take();
    if (t.kind != Tok::kComma) Fail(t, "expected ',', found " + Describe(t));
    SkipContinuation();
  }
  std::string ExpectString(const char* what) {
    const Token& t = Take();
    if (t.kind != Tok::kString) Fail(t, std::string("expected ") + what + " in double quotes, found " + Describe(t));
    return t.text;
  }
  long long Integer(const char* what) {
    const Token& t = Take();
    if (t.kind != Tok::kNumber) Fail(t, std::string("expected the ") + what + ", found " + Describe(t));
    return t.number;
  }
  long long Bounded(const char* what, long long lo, long long hi) {
    const Token& t = Peek();
    const long long v = Integer(what);
    if (v < lo || v > hi)
      Fail(t, std::string("the ") + what + " must be from " + std::to_string(lo) + " to " + std::to_string(hi));
    return v;
  }
  SHORT Coordinate(const char* what) { return static_cast<SHORT>(Bounded(what, -32768, 32767)); }
  SHORT Extent(const char* what) { return static_cast<SHORT>(Bounded(what, 0, 32767)); }

  static std::u16string Wide(const std::string& utf8) {
    std::u16string out;
    vkr::platform::DecodeUtf8(utf8, &out);  // checked by the lexer
    return out;
  }

  // A style: terms joined by '|', each a number, a style name, NOT term or (style); NOT clears
  // its bits from what the terms before it (and the defaults) set, as the resource compiler does.
  DWORD Style(DWORD defaults) {
    DWORD value = defaults;
    for (;;) {
      bool negate = false;
      if (Peek().kind == Tok::kWord && Peek().text == "NOT") {
        Take();
        negate = true;
      }
      const DWORD term = Term(0);
      value = negate ? (value & ~term) : (value | term);
      if (Peek().kind != Tok::kBar) return value;
      Take();
      SkipContinuation();
    }
  }

  DWORD Term(int depth) {
    const Token& t = Take();
    if (t.kind == Tok::kNumber) {
      if (t.number < -0x80000000ll) Fail(t, "a style number is below -2147483648");
      return static_cast<DWORD>(t.number);
    }
    if (t.kind == Tok::kWord) {
      for (const Name& n : kStyleNames)
        if (t.text == n.name) return n.value;
      Fail(t, "unknown style name " + t.text);
    }
    if (t.kind == Tok::kOpen) {
      if (depth >= kMaxNesting) Fail(t, "parentheses nested too deep");
      DWORD value = 0;
      for (;;) {
        value |= Term(depth + 1);
        if (Peek().kind != Tok::kBar) break;
        Take();
      }
      const Token& close = Take();
      if (close.kind != Tok::kClose) Fail(close, "expected ')', found " + Describe(close));
      return value;
    }
    Fail(t, "expected a style, found " + Describe(t));
  }

  LONG ControlId() {
    const Token& t = Take();
    if (t.kind == Tok::kWord) {
      if (t.text == "IDC_STATIC") return -1;
      for (const Name& n : kIdNames)
        if (t.text == n.name) return static_cast<LONG>(n.value);
      Fail(t, "unknown control id " + t.text);
    }
    if (t.kind != Tok::kNumber) Fail(t, "expected the control id, found " + Describe(t));
    if (t.number < -1 || t.number > 0xFFFF) Fail(t, "a control id must be from -1 to 65535");
    return static_cast<LONG>(t.number);
  }

  void Rect(DialogItemTemplate* item) {
    item->x = Coordinate("x");
    ExpectComma();
    item->y = Coordinate("y");
    ExpectComma();
    item->cx = Extent("width");
    ExpectComma();
    item->cy = Extent("height");
  }

  // A CLSID in braces, or a ProgID (a name with a dot): a hosted item rather than a window class.
  static bool IsHostedClass(const std::string& cls, const Token& at) {
    if (!cls.empty() && cls.front() == '{') {
      static constexpr int kGroups[] = {8, 4, 4, 4, 12};
      std::size_t p = 1;
      for (int g = 0; g < 5; ++g) {
        for (int i = 0; i < kGroups[g]; ++i, ++p)
          if (p >= cls.size() || !std::isxdigit(static_cast<unsigned char>(cls[p])))
            Fail(at, "the class id " + cls + " is not of the form {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}");
        const char want = g < 4 ? '-' : '}';
        if (p >= cls.size() || cls[p] != want)
          Fail(at, "the class id " + cls + " is not of the form {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}");
        ++p;
      }
      if (p != cls.size()) Fail(at, "the class id " + cls + " has text after its closing brace");
      return true;
    }
    return cls.find('.') != std::string::npos;
  }

  static std::vector<BYTE> HexBytes(const std::string& hex, const Token& at) {
    std::vector<BYTE> out;
    std::string digits;
    for (char c : hex)
      if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) Fail(at, "the initialisation bytes have an odd number of hex digits");
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      int v = 0;
      for (int k = 0; k < 2; ++k) {
        const char h = digits[i + k];
        if (!std::isxdigit(static_cast<unsigned char>(h))) Fail(at, "the initialisation bytes must be hex digits");
        v = v * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
      }
      out.push_back(static_cast<BYTE>(v));
    }
    return out;
  }

  struct ShortForm {
    const char* keyword;
    const char* cls;
    DWORD style;
    bool hasText;
  };

  DialogItemTemplate Item() {
    static constexpr ShortForm kShort[] = {
        {"LTEXT", "Static", 0x00 | kWsGroup, true},
        {"RTEXT", "Static", 0x02 | kWsGroup, true},
        {"CTEXT", "Static", 0x01 | kWsGroup, true},
        {"PUSHBUTTON", "Button", 0x00 | kWsTabstop, true},
        {"DEFPUSHBUTTON", "Button", 0x01 | kWsTabstop, true},
        {"CHECKBOX", "Button", 0x02 | kWsTabstop, true},
        {"AUTOCHECKBOX", "Button", 0x03 | kWsTabstop, true},
        {"RADIOBUTTON", "Button", 0x04, true},
        {"AUTORADIOBUTTON", "Button", 0x09, true},
        {"STATE3", "Button", 0x05 | kWsTabstop, true},
        {"AUTO3STATE", "Button", 0x06 | kWsTabstop, true},
        {"GROUPBOX", "Button", 0x07, true},
        {"EDITTEXT", "Edit", 0x00 | kWsBorder | kWsTabstop, false},
        {"COMBOBOX", "ComboBox", 0x01 | kWsTabstop, false},
        {"LISTBOX", "ListBox", 0x01 | kWsBorder, false},
        {"SCROLLBAR", "ScrollBar", 0x00, false},
    };
    const Token& keyword = Take();
    DialogItemTemplate item;
    item.line = keyword.line;
    if (keyword.text == "CONTROL") {
      item.text = Wide(ExpectString("the control text"));
      ExpectComma();
      item.id = ControlId();
      ExpectComma();
      const Token& clsToken = Take();
      std::string cls;
      if (clsToken.kind == Tok::kString || clsToken.kind == Tok::kWord)
        cls = clsToken.text;
      else
        Fail(clsToken, "expected the control class, found " + Describe(clsToken));
      if (cls.empty()) Fail(clsToken, "the control class is empty");
      item.hosted = IsHostedClass(cls, clsToken);
      item.className = Wide(cls);
      ExpectComma();
      item.style = Style(kWsChild | kWsVisible);
      ExpectComma();
      Rect(&item);
      if (Peek().kind == Tok::kComma) {
        Take();
        SkipContinuation();
        if (Peek().kind != Tok::kString) item.exStyle = Style(0);
        if (Peek().kind == Tok::kComma) {
          Take();
          SkipContinuation();
        }
        if (Peek().kind == Tok::kString) {
          const Token& hex = Take();
          if (!item.hosted)
            Fail(hex, "only a hosted item (a class id in braces or a ProgID) takes initialisation bytes");
          item.initData = HexBytes(hex.text, hex);
        }
      }
      EndOfStatement();
      return item;
    }
    for (const ShortForm& form : kShort) {
      if (keyword.text != form.keyword) continue;
      if (form.hasText) {
        item.text = Wide(ExpectString("the control text"));
        ExpectComma();
      }
      item.id = ControlId();
      ExpectComma();
      Rect(&item);
      item.className = Wide(form.cls);
      item.style = kWsChild | kWsVisible | form.style;
      if (Peek().kind == Tok::kComma) {
        Take();
        SkipContinuation();
        // A combo box's kind (simple, drop-down, drop-down list) is one two-bit value: the default
        // kind applies only when the given style names none, as the resource compiler does.
        const std::size_t start = pos_;
        const DWORD given = Style(0);
        pos_ = start;
        item.style = Style(item.style);
        if (keyword.text == "COMBOBOX" && (given & 0x03) != 0) item.style = (item.style & ~DWORD{0x03}) | (given & 0x03);
        if (Peek().kind == Tok::kComma) {
          Take();
          SkipContinuation();
          item.exStyle = Style(0);
        }
      }
      EndOfStatement();
      return item;
    }
    Fail(keyword, "unknown control statement " + keyword.text);
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

}  // namespace

bool ParseDialogTemplate(std::string_view text, DialogTemplate* out, std::string* error) {
  DialogTemplate result;
  std::string message;
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
  try {
    Parser parser(Lexer(text).All());
    parser.Run(&result);
  } catch (const Failure& f) {
    if (error) *error = f.message;
    return false;
  }
  if (out) *out = std::move(result);
  if (error) error->clear();
  return true;
}

namespace {

// Templates parsed before, by their text: a dialog made again (a page opened again) is not parsed
// again. The text is the key, so a module loaded again with other texts gets its own.
struct ParsedTemplates {
  std::mutex lock;
  std::map<std::string, DialogTemplate, std::less<>> byText;
};
ParsedTemplates& TheParsedTemplates() {
  static auto* p = new ParsedTemplates;
  return *p;
}
constexpr std::size_t kMaxParsedTemplates = 256;

bool ParseOnce(std::string_view text, DialogTemplate* out, std::string* error) {
  ParsedTemplates& p = TheParsedTemplates();
  {
    std::lock_guard lk(p.lock);
    auto it = p.byText.find(text);
    if (it != p.byText.end()) {
      *out = it->second;
      return true;
    }
  }
  if (!ParseDialogTemplate(text, out, error)) return false;
  std::lock_guard lk(p.lock);
  if (p.byText.size() < kMaxParsedTemplates) p.byText.emplace(std::string(text), *out);
  return true;
}

}  // namespace

bool LoadDialogTemplate(HINSTANCE module, LPCSTR name, DialogTemplate* out, std::string* error) {
  HRSRC found = FindResourceA(module, name, RT_DIALOG);
  const void* data = found ? LockResource(LoadResource(module, found)) : nullptr;
  if (!data) {
    if (error) *error = "no such dialog resource";
    return false;
  }
  const DWORD size = SizeofResource(module, found);
  DialogTemplate parsed;
  if (!ParseOnce(std::string_view(static_cast<const char*>(data), size), &parsed, error)) return false;
  if (IS_INTRESOURCE(name) && parsed.id != static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))) {
    if (error)
      *error = "the text is dialog " + std::to_string(parsed.id) + " but is stored as resource " +
               std::to_string(reinterpret_cast<ULONG_PTR>(name));
    return false;
  }
  if (out) *out = std::move(parsed);
  return true;
}

SIZE DialogUnitsToPixels(LONG cx, LONG cy) { return SIZE{cx * kDialogBaseUnitX / 4, cy * kDialogBaseUnitY / 8}; }

BOOL DialogTemplateSize(HINSTANCE module, WORD id, SIZE* pixels) {
  DialogTemplate t;
  if (!pixels || !LoadDialogTemplate(module, MAKEINTRESOURCEA(id), &t, nullptr)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return FALSE;
  }
  *pixels = DialogUnitsToPixels(t.cx, t.cy);
  return TRUE;
}

}  // namespace vkr::ui

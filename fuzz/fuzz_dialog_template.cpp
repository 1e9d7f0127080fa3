// Fuzzes the dialog template text parser. No input may crash or hang; a refusal names its line; a
// template that parses keeps the limits the parser promises (sizes, ids, initialisation bytes only
// on hosted items), and written out again in the plainest form (numbers, CONTROL lines) it parses
// to the same template. A template that parses then makes a dialog, as a program makes one from
// its resource: created, painted, tabbed through with the keyboard, and destroyed.
//
// Input: the template text itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/ui/render.h"
#include "tests/support/fuzz_input.h"

namespace {

using vkr::fuzz::Check;

constexpr std::size_t kMaxText = 16384;

std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char c : vkr::Utf16ToUtf8(text)) {
    switch (c) {
      case '"': out += "\"\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string Number(long long v) { return std::to_string(v); }

// The template in the plainest form: every style a number, every control a CONTROL line. The
// dialog style is written whole, so the defaults the parser adds are already in it.
std::string Write(const vkr::ui::DialogTemplate& t) {
  std::string s = Number(t.id) + " DIALOGEX " + Number(t.x) + ", " + Number(t.y) + ", " + Number(t.cx) + ", " +
                  Number(t.cy) + "\nSTYLE " + Number(t.style) + "\nEXSTYLE " + Number(t.exStyle) + "\n";
  if (!t.caption.empty()) s += "CAPTION " + Quoted(t.caption) + "\n";
  if (t.hasFont)
    s += "FONT " + Number(t.pointSize) + ", " + Quoted(t.fontFace) + ", " + Number(t.weight) + ", " +
         Number(t.italic) + ", " + Number(t.charset) + "\n";
  s += "BEGIN\n";
  for (const auto& item : t.items) {
    char hex[4];
    std::string bytes;
    for (BYTE b : item.initData) {
      std::snprintf(hex, sizeof hex, "%02x", b);
      bytes += hex;
    }
    // NOT clears the bits the parser adds when the item has none of its own.
    s += "CONTROL " + Quoted(item.text) + ", " + Number(item.id) + ", " + Quoted(item.className) + ", " +
         Number(item.style) + ((item.style & WS_VISIBLE) ? "" : " | NOT WS_VISIBLE") +
         ((item.style & WS_CHILD) ? "" : " | NOT WS_CHILD") + ", " + Number(item.x) +
         ", " + Number(item.y) + ", " + Number(item.cx) + ", " + Number(item.cy) + ", " + Number(item.exStyle);
    if (!item.initData.empty()) s += ", \"" + bytes + "\"";
    s += "\n";
  }
  return s + "END\n";
}

bool Same(const vkr::ui::DialogTemplate& a, const vkr::ui::DialogTemplate& b) {
  if (a.id != b.id || a.style != b.style || a.exStyle != b.exStyle || a.x != b.x || a.y != b.y || a.cx != b.cx ||
      a.cy != b.cy || a.caption != b.caption || a.hasFont != b.hasFont || a.pointSize != b.pointSize ||
      a.weight != b.weight || a.italic != b.italic || a.charset != b.charset || a.fontFace != b.fontFace ||
      a.items.size() != b.items.size())
    return false;
  for (std::size_t i = 0; i < a.items.size(); ++i) {
    const auto& x = a.items[i];
    const auto& y = b.items[i];
    if (x.text != y.text || x.className != y.className || x.id != y.id || x.style != y.style ||
        x.exStyle != y.exStyle || x.x != y.x || x.y != y.y || x.cx != y.cx || x.cy != y.cy || x.hosted != y.hosted ||
        x.initData != y.initData)
      return false;
  }
  return true;
}

INT_PTR DialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The dialog of a parsed template: made, painted, tabbed through, destroyed. Whatever it holds,
// the focus stays with it (or the window holding it) and it goes entirely.
void MakeDialog(const std::string& text, const vkr::ui::DialogTemplate& t) {
  const SIZE pixels = vkr::ui::DialogUnitsToPixels(t.cx, t.cy);
  if (pixels.cx > 2048 || pixels.cy > 2048 || t.items.size() > 256) return;  // a picture that size says nothing more
  // A window to hold the dialogs made as children (DS_CONTROL pages) and to own the others.
  static HWND host = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 2100, 2100, nullptr, nullptr,
                                     nullptr, nullptr);
  Check(host != nullptr);
  HWND dialog = CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(text.c_str()), host,
                                           &DialogProc, 0);
  if (!dialog) return;  // an item of a class nobody knows: refused whole
  ShowWindow(dialog, SW_SHOW);
  vkr::ui::Picture picture;
  if (pixels.cx > 0 && pixels.cy > 0) Check(vkr::ui::RenderWindow(dialog, &picture));
  for (std::size_t i = 0; i < t.items.size() + 2 && i < 16; ++i) {
    HWND focus = GetFocus();
    MSG msg{};
    msg.hwnd = focus ? focus : dialog;
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_TAB;
    IsDialogMessageW(dialog, &msg);
    focus = GetFocus();
    // A DS_CONTROL dialog hands the Tab on to the window holding it.
    Check(!focus || focus == dialog || IsChild(dialog, focus) || focus == host || IsChild(host, focus));
  }
  vkr::ui::PumpUntilIdle();
  Check(DestroyWindow(dialog));
  Check(!IsWindow(dialog));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxText) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vkr::ui::DialogTemplate t;
  std::string error;
  if (!vkr::ui::ParseDialogTemplate(text, &t, &error)) {
    Check(error.rfind("line ", 0) == 0);
    return 0;
  }
  Check(error.empty());
  Check(t.id >= 1 && t.cx >= 0 && t.cy >= 0);
  for (std::size_t i = 0; i < t.items.size(); ++i) {
    const auto& item = t.items[i];
    Check(item.cx >= 0 && item.cy >= 0 && item.id >= -1 && item.id <= 0xFFFF && !item.className.empty());
    Check(item.initData.empty() || item.hosted);
    for (std::size_t j = 0; j < i; ++j)
      Check(item.id <= 0 || item.id == 0xFFFF || t.items[j].id != item.id);
  }
  // The ids keep their numbers, but the plain form cannot name a dialog by anything but a number.
  vkr::ui::DialogTemplate again;
  const std::string written = Write(t);
  Check(vkr::ui::ParseDialogTemplate(written, &again, &error));
  Check(Same(t, again));
  MakeDialog(std::string(text), t);
  return 0;
}

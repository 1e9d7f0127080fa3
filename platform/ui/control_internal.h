// The controls' shared machinery (private to the platform): each control's state object attached
// to its window, the notifications to the parent, and the user actions the input helpers drive.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/windows.h"

namespace vkr::ui::controls {

// GDI's painter of the standard controls (platform/ui/paint_controls.cpp): WM_PAINT goes to it.
extern bool (*g_paintControl)(HWND hwnd);
// GDI's set-up of an owner-drawn item's DC: the control's font and the parent's colours
// (WM_CTLCOLORBTN), as a button prepares it before WM_DRAWITEM.
void PrepareItemDc(HWND hwnd, HDC dc);

// The state of one control window. The object lives while its window does, and until the
// dispatch that destroyed the window unwinds (the procedure holds a reference).
class Control {
 public:
  explicit Control(HWND hwnd) : hwnd_(hwnd) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  virtual LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // For GetControlState and the tree dump.
  virtual void Fill(ControlState* /*state*/) const {}
  // Extra words for the tree dump (" checked", " sel=2 items=[a|b]").
  virtual std::string Describe() const { return {}; }

  HWND hwnd() const { return hwnd_; }

 protected:
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT && g_paintControl && g_paintControl(hwnd_)) return 0;
    return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
  DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)); }
  // Sets the style as the control's own doing: the control sees WM_STYLECHANGING/CHANGED.
  void SetStyle(DWORD style) { SetWindowLongW(hwnd_, GWL_STYLE, static_cast<LONG>(style)); }
  int Id() const { return GetDlgCtrlID(hwnd_); }
  // WM_COMMAND to the parent: MAKEWPARAM(id, code), lParam the control.
  void Command(WORD code) const;
  // WM_NOTIFY to the parent with the header filled in; returns the parent's answer.
  LRESULT Notify(NMHDR* header, UINT code) const;
  std::u16string Text() const;
  void StoreText(std::u16string_view text);

  HWND hwnd_;
  HFONT font_ = nullptr;
};

std::shared_ptr<Control> Find(HWND hwnd);
template <class T>
std::shared_ptr<T> FindAs(HWND hwnd) {
  return std::dynamic_pointer_cast<T>(Find(hwnd));
}

// The window procedure of a control class: makes the state object on the first message,
// forwards every message to it, and lets the object go after WM_NCDESTROY.
using Factory = std::shared_ptr<Control> (*)(HWND hwnd);
LRESULT Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Factory factory);
template <class T>
LRESULT ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Dispatch(hwnd, message, wParam, lParam,
                  [](HWND h) -> std::shared_ptr<Control> { return std::make_shared<T>(h); });
}

// WM_GETDLGCODE answers, as Windows numbers them.
constexpr LRESULT kDlgcWantArrows = 0x0001;
constexpr LRESULT kDlgcWantTab = 0x0002;
constexpr LRESULT kDlgcWantAllKeys = 0x0004;
constexpr LRESULT kDlgcHasSetSel = 0x0008;
constexpr LRESULT kDlgcDefPushButton = 0x0010;
constexpr LRESULT kDlgcUndefPushButton = 0x0020;
constexpr LRESULT kDlgcRadioButton = 0x0040;
constexpr LRESULT kDlgcWantChars = 0x0080;
constexpr LRESULT kDlgcStatic = 0x0100;
constexpr LRESULT kDlgcButton = 0x2000;

// Image kinds of STM_SETIMAGE / BM_SETIMAGE.
constexpr UINT kImageBitmap = 0;
constexpr UINT kImageIcon = 1;

// Case-insensitive comparisons of item texts (CB_FINDSTRING(EXACT), LB_ likewise).
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
// Copies text and a terminator to a caller's UTF-16 buffer (message results count units).
void CopyOut(std::u16string_view text, LPWSTR out);

bool KeyDown(int vk);

// The class procedures and their registration (one per file).
void RegisterStatic();
void RegisterButton();
void RegisterEdit();
void RegisterCombo();
void RegisterListBox();
void RegisterScrollBar();
void RegisterTree();
void RegisterTab();
void RegisterToolTip();
void RegisterClassOnly();
void RegisterSelectHandlers();

// Edit hooks for the combo box that owns an edit: whether notifications are held back (the combo
// sets the text itself) and where the focus went on WM_KILLFOCUS.
void SetEditQuiet(HWND edit, bool quiet);
HWND EditFocusGoesTo(HWND edit);

// The user's selection in the list-like controls (the input helpers call these on the window's
// thread): what a person's click or keys on the item send.
bool UserSelectCombo(HWND combo, int index);
bool UserSelectList(HWND list, int index, UINT modifiers);
bool UserSelectTree(HWND tree, HTREEITEM item);
// The index-th item in display order (depth first), or the first of that text when text is set.
bool SelectTreeItem(HWND tree, int index, const char* text);
bool UserSelectTab(HWND tab, int index);
int FindTab(HWND tab, const char* text);
// which: SB_HORZ/SB_VERT (the window's own bar) or SB_CTL (a scroll bar control); code SB_LINE*,
// SB_PAGE*, SB_TOP/BOTTOM, or SB_THUMBTRACK to drag the thumb to `thumb`.
bool UserScroll(HWND hwnd, int which, WORD code, int thumb);

}  // namespace vkr::ui::controls

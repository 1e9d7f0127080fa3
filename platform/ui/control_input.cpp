// The controls' side of the input helpers: SelectItem for the list-like controls and ScrollBy for
// scroll bars, each sending what a person's action sends.
#include "platform/ui/control_internal.h"
#include "platform/win/text.h"

namespace vkr::ui::controls {
namespace {

// The index of an item by its text, through the control's own search (whole text, any case).
int IndexOf(HWND control, UINT findMessage, const char* text) {
  const std::u16string wide = Utf8ToUtf16(text);
  const LRESULT index = SendMessageW(control, findMessage, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide.c_str()));
  return index < 0 ? -1 : static_cast<int>(index);
}

bool SelectCombo(HWND control, int index, const char* text) {
  if (text) index = IndexOf(control, CB_FINDSTRINGEXACT, text);
  return index >= 0 && UserSelectCombo(control, index);
}

// A click on the item, with the Shift and Ctrl keys as the thread's key state holds them.
bool SelectList(HWND control, int index, const char* text) {
  if (text) index = IndexOf(control, LB_FINDSTRINGEXACT, text);
  if (index < 0 || index >= SendMessageW(control, LB_GETCOUNT, 0, 0)) return false;
  if (GetFocus() != control) SetFocus(control);
  if (!IsWindow(control)) return true;
  return UserSelectList(control, index, (KeyDown(VK_SHIFT) ? kShift : 0) | (KeyDown(VK_CONTROL) ? kControl : 0));
}

bool SelectTree(HWND control, int index, const char* text) { return SelectTreeItem(control, index, text); }

bool SelectTab(HWND control, int index, const char* text) {
  if (text) index = FindTab(control, text);
  return index >= 0 && UserSelectTab(control, index);
}

}  // namespace

void RegisterSelectHandlers() {
  SetSelectItemHandler(u"ComboBox", &SelectCombo);
  SetSelectItemHandler(u"ListBox", &SelectList);
  SetSelectItemHandler(u"SysTreeView32", &SelectTree);
  SetSelectItemHandler(u"SysTabControl32", &SelectTab);
}

}  // namespace vkr::ui::controls

namespace vkr::ui {

bool ScrollBy(HWND hwnd, int bar, WORD code, int thumb) {
  if (!IsWindowVisible(hwnd)) return false;
  return controls::UserScroll(hwnd, bar, code, thumb);
}

}  // namespace vkr::ui

// The classes the system names only by class (rich edit, list view, track bar, progress bar,
// up-down, hot key, animation, header, date/time, IP address, extended combo box, status bar,
// toolbar, link): plain windows, so that creating them and asking their class works.
#include "platform/ui/control_internal.h"

namespace vkr::ui::controls {
namespace {

LRESULT PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

void RegisterClassOnly() {
  static const LPCWSTR kNames[] = {
      u"RICHEDIT",          u"RichEdit20A",       u"RichEdit20W",       u"RICHEDIT50W",
      u"SysListView32",     u"SysHeader32",       u"msctls_trackbar32", u"msctls_progress32",
      u"msctls_updown32",   u"msctls_hotkey32",   u"SysAnimate32",      u"SysDateTimePick32",
      u"SysMonthCal32",     u"SysIPAddress32",    u"ComboBoxEx32",      u"msctls_statusbar32",
      u"ToolbarWindow32",   u"SysLink",           u"ReBarWindow32",     u"SysPager"};
  for (LPCWSTR name : kNames)
    RegisterBuiltinClass({name, CS_DBLCLKS | CS_GLOBALCLASS, &PlainProc, 0, nullptr, nullptr, false});
}

}  // namespace vkr::ui::controls

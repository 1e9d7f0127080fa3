// The controls' shared machinery: state objects per window, notifications, class registration,
// the common-controls entry points, control state for painters and the window-tree dump.
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "platform/ui/control_internal.h"
#include "platform/win/casefold.h"
#include "platform/win/text.h"

namespace vkr::ui::controls {
namespace {

// Windows of several threads may hold controls; each window's object is used on its own thread.
std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_map<HWND, std::shared_ptr<Control>>& Table() {
  static std::unordered_map<HWND, std::shared_ptr<Control>> table;
  return table;
}

}  // namespace

std::shared_ptr<Control> Find(HWND hwnd) {
  std::lock_guard<std::mutex> guard(TableLock());
  auto it = Table().find(hwnd);
  return it == Table().end() ? nullptr : it->second;
}

LRESULT Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Factory factory) {
  std::shared_ptr<Control> control = Find(hwnd);
  if (!control) {
    if (message == WM_NCDESTROY || !IsWindow(hwnd)) return DefWindowProcW(hwnd, message, wParam, lParam);
    control = factory(hwnd);
    std::lock_guard<std::mutex> guard(TableLock());
    Table()[hwnd] = control;
  }
  const LRESULT result = control->Proc(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    std::lock_guard<std::mutex> guard(TableLock());
    Table().erase(hwnd);
  }
  return result;
}

void Control::Command(WORD code) const {
  HWND parent = GetParent(hwnd_);
  if (!parent) return;
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd_)), code),
               reinterpret_cast<LPARAM>(hwnd_));
}

LRESULT Control::Notify(NMHDR* header, UINT code) const {
  header->hwndFrom = hwnd_;
  header->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd_));
  header->code = code;
  HWND parent = GetParent(hwnd_);
  if (!parent) return 0;
  return SendMessageW(parent, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

std::u16string Control::Text() const {
  const LRESULT length = DefWindowProcW(hwnd_, WM_GETTEXTLENGTH, 0, 0);
  std::u16string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, u'\0');
  const LRESULT copied =
      DefWindowProcW(hwnd_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

void Control::StoreText(std::u16string_view text) {
  const std::u16string copy(text);
  DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) { return vkr::platform::EqualNoCase(a, b); }

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && vkr::platform::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

void CopyOut(std::u16string_view text, LPWSTR out) {
  if (!out) return;
  text.copy(out, text.size());
  out[text.size()] = u'\0';
}

bool KeyDown(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

namespace {

void RegisterAll() {
  RegisterStatic();
  RegisterButton();
  RegisterEdit();
  RegisterCombo();
  RegisterListBox();
  RegisterScrollBar();
  RegisterTree();
  RegisterTab();
  RegisterToolTip();
  RegisterClassOnly();
  RegisterSelectHandlers();
}

// The classes are there before any code of the process creates a window.
const bool registered = (RegisterAll(), true);

}  // namespace
}  // namespace vkr::ui::controls

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
  return icc && icc->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

namespace vkr::ui {

bool GetControlState(HWND hwnd, ControlState* state) {
  if (!state) return false;
  auto control = controls::Find(hwnd);
  if (!control) return false;
  *state = ControlState{};
  control->Fill(state);
  return true;
}

namespace {

void DumpOne(HWND hwnd, int depth, std::string* out) {
  char line[160];
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  out->append(static_cast<std::size_t>(depth) * 2, ' ');
  out->append(ClassName(hwnd));
  std::snprintf(line, sizeof line, " id=%d \"", GetDlgCtrlID(hwnd));
  out->append(line);
  for (char c : WindowText(hwnd)) {
    if (c == '\n') out->append("\\n");
    else if (c == '"' || c == '\\') out->append(1, '\\').append(1, c);
    else out->append(1, c);
  }
  std::snprintf(line, sizeof line, "\" style=0x%08X (%d,%d,%d,%d)", style, static_cast<int>(rc.left),
                static_cast<int>(rc.top), static_cast<int>(rc.right), static_cast<int>(rc.bottom));
  out->append(line);
  if (!(style & WS_VISIBLE)) out->append(" hidden");
  if (style & WS_DISABLED) out->append(" disabled");
  if (GetFocus() == hwnd) out->append(" focus");
  if (auto control = controls::Find(hwnd)) out->append(control->Describe());
  out->append("\n");
  for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    DumpOne(child, depth + 1, out);
}

}  // namespace

std::string DumpWindowTree(HWND hwnd) {
  std::string out;
  if (IsWindow(hwnd)) DumpOne(hwnd, 0, &out);
  return out;
}

}  // namespace vkr::ui

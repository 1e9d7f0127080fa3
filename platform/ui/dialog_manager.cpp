// The dialog manager: keyboard navigation inside dialogs (IsDialogMessage), the tab and group
// order, the default-button look, and the button helpers.
//
// The tab order is the dialog's window tree walked depth first in creation order, descending into
// visible, enabled children with WS_EX_CONTROLPARENT (which are containers, never items
// themselves). Visibility and the enabled state are the items' own styles, so the order is the
// same before the dialog is first shown.
//
// The default-button look follows the focus as on Windows: when the dialog manager moves the focus
// to a push button (Tab, arrows, mnemonics, WM_NEXTDLGCTL, the first focus), that button gets
// BS_DEFPUSHBUTTON and the button that had it loses it (the default buttons of the dialogs around
// it too); when the focus moves on to a control that is no push button, the default button that
// Enter would press gets it back (DM_GETDEFID of the nearest dialog that has one, else of the outer
// dialog). A focus change made with SetFocus alone moves nothing.
#include <string>
#include <vector>

#include "platform/ui/dialog_internal.h"
#include "platform/ui/dialogs.h"
#include "platform/win/casefold.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"

namespace vkr::ui::internal {
namespace {

DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
DWORD ExStyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)); }

bool ShownAndEnabled(HWND hwnd) {
  const DWORD style = StyleOf(hwnd);
  return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

void Collect(HWND parent, std::vector<HWND>* out) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ExStyleOf(c) & WS_EX_CONTROLPARENT) {
      if (ShownAndEnabled(c)) Collect(c, out);
    } else {
      out->push_back(c);
    }
  }
}

// The dialog's items in tab order.
std::vector<HWND> Items(HWND dialog) {
  std::vector<HWND> items;
  Collect(dialog, &items);
  return items;
}

// The index of the item that is `hwnd` or holds it (a combo box's edit); -1 when none does.
int IndexOf(const std::vector<HWND>& items, HWND hwnd) {
  for (HWND w = hwnd; w; w = (StyleOf(w) & WS_CHILD) ? GetParent(w) : nullptr)
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i] == w) return static_cast<int>(i);
  return -1;
}

UINT DialogCode(HWND hwnd, const MSG* msg = nullptr) {
  return static_cast<UINT>(SendMessageW(hwnd, WM_GETDLGCODE, msg ? msg->wParam : 0, reinterpret_cast<LPARAM>(msg)));
}

bool IsPushButton(UINT code) { return (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0; }

// The nearest dialog that holds hwnd (hwnd itself included), or `fallback`.
HWND DialogOf(HWND hwnd, HWND fallback) {
  for (HWND w = hwnd; w; w = (StyleOf(w) & WS_CHILD) ? GetParent(w) : nullptr)
    if (w != hwnd && StateOf(w)) return w;
  return fallback;
}

void SetLook(HWND button, bool defaultLook) {
  if (!button || !IsWindow(button)) return;
  const UINT code = DialogCode(button);
  if (defaultLook && (code & DLGC_UNDEFPUSHBUTTON))
    SendMessageW(button, kBmSetStyle, kBsDefPushButton, TRUE);
  else if (!defaultLook && (code & DLGC_DEFPUSHBUTTON))
    SendMessageW(button, kBmSetStyle, kBsPushButton, TRUE);
}

HWND DefaultButtonOf(HWND dialog) {
  const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
  if (HIWORD(static_cast<DWORD>(def)) != DC_HASDEFID) return nullptr;
  return GetDlgItem(dialog, LOWORD(static_cast<DWORD>(def)));
}

void CheckDefPushButton(HWND dialog, HWND oldFocus, HWND newFocus) {
  if (oldFocus == newFocus) return;
  // The default button that Enter would press: the nearest dialog's, else the outer dialog's.
  HWND inner = DialogOf(newFocus, dialog);
  HWND innerDefault = DefaultButtonOf(inner);
  HWND outerDefault = inner == dialog ? innerDefault : DefaultButtonOf(dialog);
  HWND defaultButton = innerDefault ? innerDefault : outerDefault;
  const bool oldHadLook = oldFocus && IsWindow(oldFocus) && (DialogCode(oldFocus) & DLGC_DEFPUSHBUTTON);
  if (IsPushButton(DialogCode(newFocus))) {
    if (oldHadLook) SetLook(oldFocus, false);
    for (HWND b : {innerDefault, outerDefault})
      if (b && b != newFocus) SetLook(b, false);
    SetLook(newFocus, true);
  } else {
    if (oldHadLook && oldFocus != defaultButton) SetLook(oldFocus, false);
    if (defaultButton) SetLook(defaultButton, true);
  }
}

bool SameLetter(char16_t a, char16_t b) { return vkr::platform::UpperCase(a) == vkr::platform::UpperCase(b); }

// Whether the text marks `ch` with '&' ("&&" is a literal ampersand).
bool HasMnemonic(const std::u16string& text, char16_t ch) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;
      continue;
    }
    return SameLetter(text[i + 1], ch);
  }
  return false;
}

std::u16string TextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

bool IsTabStop(HWND hwnd) { return (StyleOf(hwnd) & WS_TABSTOP) && ShownAndEnabled(hwnd); }

// The next tab stop after item `index`, wrapping; null when there is none.
HWND NextTabStop(const std::vector<HWND>& items, int index, bool previous) {
  const int n = static_cast<int>(items.size());
  if (n == 0) return nullptr;
  for (int k = 1; k <= n; ++k) {
    int i;
    if (index < 0)
      i = previous ? n - k : k - 1;
    else
      i = ((previous ? index - k : index + k) % n + n) % n;
    if (IsTabStop(items[i])) return items[i];
  }
  return nullptr;
}

// Tabbing into a group of radio buttons lands on the checked one.
HWND CheckedRadioOfGroup(HWND dialog, HWND target) {
  if (!(DialogCode(target) & DLGC_RADIOBUTTON)) return target;
  if (SendMessageW(target, kBmGetCheck, 0, 0)) return target;
  for (HWND w = GetNextDlgGroupItem(dialog, target, FALSE); w && w != target;
       w = GetNextDlgGroupItem(dialog, w, FALSE)) {
    if ((DialogCode(w) & DLGC_RADIOBUTTON) && SendMessageW(w, kBmGetCheck, 0, 0)) return w;
  }
  return target;
}

bool TryMnemonic(HWND dialog, HWND from, char16_t ch) {
  const std::vector<HWND> items = Items(dialog);
  const int n = static_cast<int>(items.size());
  const int start = IndexOf(items, from);
  for (int k = 1; k <= n; ++k) {
    const int i = start < 0 ? k - 1 : (start + k) % n;
    HWND item = items[i];
    if (!ShownAndEnabled(item)) continue;
    const UINT code = DialogCode(item);
    if ((code & DLGC_STATIC) && (StyleOf(item) & kSsNoPrefix) && !(code & DLGC_BUTTON)) continue;
    if (!HasMnemonic(TextOf(item), ch)) continue;
    const bool groupBox = (code & DLGC_BUTTON) == 0 && (code & DLGC_STATIC) != 0;
    if ((code & DLGC_STATIC) || groupBox) {
      // A label: the focus goes to the control it labels, the next tab stop.
      HWND target = NextTabStop(items, i, false);
      if (target) DialogSetFocus(dialog, target);
      return true;
    }
    if (code & (DLGC_BUTTON | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON | DLGC_RADIOBUTTON)) {
      // A button's mnemonic presses it: the focus first, through the dialog manager so that the
      // default-button look follows, then the click.
      DialogSetFocus(dialog, item);
      if (IsWindow(item)) SendMessageW(item, kBmClick, 0, 0);
      return true;
    }
    DialogSetFocus(dialog, item);
    return true;
  }
  return false;
}

// Enter: the focused push button, else the default button, else IDOK.
void PressEnter(HWND dialog, HWND focus) {
  if (focus && IsChild(dialog, focus) && IsPushButton(DialogCode(focus))) {
    SendMessageW(GetParent(focus), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(focus)), kBnClicked),
                 reinterpret_cast<LPARAM>(focus));
    return;
  }
  const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
  const int id = HIWORD(static_cast<DWORD>(def)) == DC_HASDEFID ? LOWORD(static_cast<DWORD>(def)) : IDOK;
  HWND button = GetDlgItem(dialog, id);
  if (button && !IsWindowEnabled(button)) return;  // a disabled default button does nothing
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), kBnClicked), reinterpret_cast<LPARAM>(button));
}

void PressEscape(HWND dialog) {
  HWND button = GetDlgItem(dialog, IDCANCEL);
  if (button && !IsWindowEnabled(button)) return;
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, kBnClicked), reinterpret_cast<LPARAM>(button));
}

BOOL IsDialogMessageImpl(HWND dialog, LPMSG msg, bool unicode) {
  if (!msg || !dialog || !IsWindow(dialog)) return FALSE;
  if (!msg->hwnd || (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd))) return FALSE;
  HWND target = msg->hwnd;
  const auto dispatch = [&]() -> BOOL {
    TranslateMessage(msg);
    if (unicode)
      DispatchMessageW(msg);
    else
      DispatchMessageA(msg);
    return TRUE;
  };
  switch (msg->message) {
    case WM_KEYDOWN: {
      const UINT code = DialogCode(target, msg);
      if (code & DLGC_WANTMESSAGE) return dispatch();
      switch (static_cast<int>(msg->wParam)) {
        case VK_TAB: {
          if (code & DLGC_WANTTAB) return dispatch();
          HWND from = GetFocus();
          if (!from || (from != dialog && !IsChild(dialog, from))) from = target;
          HWND next = GetNextDlgTabItem(dialog, from == dialog ? nullptr : from, GetKeyState(VK_SHIFT) < 0);
          if (next) DialogSetFocus(dialog, CheckedRadioOfGroup(dialog, next));
          return TRUE;
        }
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
          if (code & DLGC_WANTARROWS) return dispatch();
          if (target == dialog) return TRUE;
          const bool previous = msg->wParam == static_cast<WPARAM>(VK_LEFT) || msg->wParam == static_cast<WPARAM>(VK_UP);
          HWND next = GetNextDlgGroupItem(dialog, target, previous);
          if (next && next != target) {
            DialogSetFocus(dialog, next);
            // Arrowing onto an automatic radio button selects it.
            if ((DialogCode(next) & DLGC_RADIOBUTTON) && (StyleOf(next) & kButtonTypeMask) == kBsAutoRadioButton)
              SendMessageW(next, kBmClick, 0, 0);
          }
          return TRUE;
        }
        case VK_RETURN:
        case VK_EXECUTE:
          if (code & DLGC_WANTALLKEYS) return dispatch();
          PressEnter(dialog, GetFocus());
          return TRUE;
        case VK_ESCAPE:
        case VK_CANCEL:
          if (code & DLGC_WANTALLKEYS) return dispatch();
          PressEscape(dialog);
          return TRUE;
        default:
          return dispatch();
      }
    }
    case WM_CHAR: {
      const UINT code = DialogCode(target, msg);
      if (code & DLGC_WANTMESSAGE) return dispatch();
      const WPARAM ch = msg->wParam;
      if (ch == u'\t' && !(code & DLGC_WANTTAB)) return TRUE;  // the key did its work
      if ((ch == u'\r' || ch == 0x1B) && !(code & DLGC_WANTALLKEYS)) return TRUE;
      if (ch > 0x20 && ch < 0x10000 && !(code & DLGC_WANTCHARS) &&
          TryMnemonic(dialog, target, static_cast<char16_t>(ch)))
        return TRUE;
      return dispatch();
    }
    case WM_SYSCHAR: {
      const WPARAM ch = msg->wParam;
      if (ch > 0x20 && ch < 0x10000 && TryMnemonic(dialog, target, static_cast<char16_t>(ch))) return TRUE;
      return dispatch();
    }
    default:
      return dispatch();
  }
}

}  // namespace

void DialogSetFocus(HWND dialog, HWND control) {
  if (!control || !IsWindow(control)) return;
  HWND old = GetFocus();
  if (DialogCode(control) & DLGC_HASSETSEL) SendMessageW(control, kEmSetSel, 0, -1);
  SetFocus(control);
  if (!IsWindow(control)) return;
  CheckDefPushButton(dialog, old, control);
  // Every dialog on the way up remembers where its focus was.
  for (HWND w = control; w; w = (StyleOf(w) & WS_CHILD) ? GetParent(w) : nullptr) {
    if (w == control) continue;
    if (auto state = StateOf(w)) state->savedFocus = control;
  }
}

BOOL DialogMessageHook(MSG* msg) {
  if (!msg || !msg->hwnd || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  HWND outer = nullptr;
  for (HWND w = msg->hwnd; w && IsWindow(w); w = (StyleOf(w) & WS_CHILD) ? GetParent(w) : nullptr)
    if (StateOf(w)) outer = w;
  if (!outer) return FALSE;
  return IsDialogMessageW(outer, msg);
}

}  // namespace vkr::ui::internal

namespace internal = vkr::ui::internal;

BOOL IsDialogMessageA(HWND dialog, LPMSG msg) { return internal::IsDialogMessageImpl(dialog, msg, false); }
BOOL IsDialogMessageW(HWND dialog, LPMSG msg) { return internal::IsDialogMessageImpl(dialog, msg, true); }

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  const std::vector<HWND> items = internal::Items(dialog);
  const int index = control && IsChild(dialog, control) ? internal::IndexOf(items, control) : -1;
  return internal::NextTabStop(items, index, previous != FALSE);
}

HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
  if (!IsWindow(dialog) || !control || !IsChild(dialog, control)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  // The group is a run of siblings that starts at a WS_GROUP item and ends before the next one.
  HWND parent = GetParent(control);
  std::vector<HWND> siblings;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) siblings.push_back(c);
  int at = -1;
  for (std::size_t i = 0; i < siblings.size(); ++i)
    if (siblings[i] == control) at = static_cast<int>(i);
  if (at < 0) return control;
  int first = at;
  while (first > 0 && !(internal::StyleOf(siblings[first]) & WS_GROUP)) --first;
  int end = at + 1;
  while (end < static_cast<int>(siblings.size()) && !(internal::StyleOf(siblings[end]) & WS_GROUP)) ++end;
  const int n = end - first;
  for (int k = 1; k < n; ++k) {
    const int i = first + ((at - first + (previous ? -k : k)) % n + n) % n;
    if (internal::ShownAndEnabled(siblings[i])) return siblings[i];
  }
  return control;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return FALSE;
  SendMessageW(button, internal::kBmSetCheck, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button ? static_cast<UINT>(SendMessageW(button, internal::kBmGetCheck, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId) {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(c);
    if (id >= firstId && id <= lastId) SendMessageW(c, internal::kBmSetCheck, id == checkId ? 1 : 0, 0);
  }
  return TRUE;
}

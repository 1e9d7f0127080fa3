// Dialog windows: the "#32770" class, creation from a template, DefDlgProc, the modal loop of
// DialogBoxParam and EndDialog.
#include <cstring>
#include <map>
#include <mutex>

#include "platform/com/hresult.h"
#include "platform/ui/dialog_internal.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/gdi.h"
#include "platform/ui/window_internal.h"
#include "platform/win/lasterror.h"
#include "platform/win/shell.h"
#include "platform/win/text.h"

namespace vkr::ui {
namespace internal {
namespace {

constexpr LONG kErrorWindowNotDialog = 1420;
constexpr WCHAR kDialogClass[] = u"#32770";

struct Dialogs {
  std::mutex mutex;
  std::map<HWND, std::shared_ptr<DialogState>> states;
  HostedItemCreator creator;
};

Dialogs& TheDialogs() {
  static Dialogs* d = new Dialogs;  // never destroyed: windows may die during exit
  return *d;
}

void Forget(HWND dialog) {
  std::shared_ptr<DialogState> state;
  {
    Dialogs& d = TheDialogs();
    std::lock_guard<std::mutex> lock(d.mutex);
    auto it = d.states.find(dialog);
    if (it == d.states.end()) return;
    state = std::move(it->second);
    d.states.erase(it);
  }
  // The dialog's font goes with it, as on Windows.
  if (state->font) {
    DeleteObject(state->font);
    state->font = nullptr;
  }
}

LRESULT DialogClassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefDlgProcW(hwnd, message, wParam, lParam);
}

// The dialog class, and the dialog manager in the host loop's filter chain, exist from the first
// dialog on; a slot someone cleared gets the dialog manager back with the next dialog, or its
// dialogs would never see Tab, Enter or Escape.
void EnsureDialogClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    BuiltinClass cls{};
    cls.name = kDialogClass;
    cls.style = CS_DBLCLKS | CS_SAVEBITS;
    cls.proc = DialogClassProc;
    cls.cbWndExtra = DLGWINDOWEXTRA;
    RegisterBuiltinClass(cls);
  });
  detail::InstallDialogHookIfCleared(DialogMessageHook);
}

// The font the template names, in pixels at 96 dots per inch; the dialog owns it.
HFONT CreateDialogFont(const DialogTemplate& t) {
  const int height = -static_cast<int>((t.pointSize * 96 + 36) / 72);
  return CreateFontW(height, 0, 0, 0, t.weight ? t.weight : FW_NORMAL, t.italic, 0, 0, t.charset, 0, 0, 0, 0,
                     t.fontFace.c_str());
}

// The image a "#nnn" text names on an SS_BITMAP or SS_ICON static, from the dialog's module. Shared
// images: every dialog that shows the picture uses the same one, and nobody deletes it.
HANDLE LoadStaticImage(HINSTANCE instance, WORD id, bool icon) {
  return LoadImageW(instance, MAKEINTRESOURCEW(id), icon ? IMAGE_ICON : IMAGE_BITMAP, 0, 0, LR_SHARED);
}

void SetStaticImage(HINSTANCE instance, const DialogItemTemplate& item, HWND child) {
  if (_wcsicmp(item.className.c_str(), u"Static") != 0) return;
  const DWORD type = item.style & kStaticTypeMask;
  if (type != kSsBitmap && type != kSsIcon) return;
  if (item.text.size() < 2 || item.text[0] != u'#') return;
  unsigned long id = 0;
  for (std::size_t i = 1; i < item.text.size(); ++i) {
    const char16_t c = item.text[i];
    if (c < u'0' || c > u'9') return;
    id = id * 10 + (c - u'0');
    if (id > 0xFFFF) return;
  }
  const bool icon = type == kSsIcon;
  if (HANDLE image = LoadStaticImage(instance, static_cast<WORD>(id), icon))
    SendMessageW(child, kStmSetImage, icon ? kImageIcon : kImageBitmap, reinterpret_cast<LPARAM>(image));
}

RECT ItemRect(const DialogItemTemplate& item) {
  const SIZE origin = DialogUnitsToPixels(item.x, item.y);
  const SIZE size = DialogUnitsToPixels(item.cx, item.cy);
  return RECT{origin.cx, origin.cy, origin.cx + size.cx, origin.cy + size.cy};
}

}  // namespace

std::shared_ptr<DialogState> StateOf(HWND dialog) {
  if (!dialog) return nullptr;
  Dialogs& d = TheDialogs();
  std::lock_guard<std::mutex> lock(d.mutex);
  auto it = d.states.find(dialog);
  return it == d.states.end() ? nullptr : it->second;
}

bool IsDialogWindow(HWND hwnd) {
  if (!hwnd) return false;
  WCHAR name[16] = {};
  return GetClassNameW(hwnd, name, 16) > 0 && _wcsicmp(name, kDialogClass) == 0;
}

HWND TopLevelOf(HWND hwnd) {
  if (!hwnd || !IsWindow(hwnd)) return nullptr;
  HWND root = GetAncestor(hwnd, GA_ROOT);
  return root ? root : hwnd;
}

// Makes the dialog window, its children in template order and sends WM_INITDIALOG. Null when the
// dialog could not be made or was destroyed on the way.
HWND CreateFromTemplate(HINSTANCE instance, const DialogTemplate& t, HWND parent, DLGPROC proc, LPARAM init,
                        bool modal) {
  EnsureDialogClass();
  DWORD style = t.style;
  DWORD exStyle = t.exStyle;
  if (style & DS_CONTROL) {
    // A dialog inside another one: no caption of its own, and the dialog manager tabs into it.
    style &= ~(WS_CAPTION | WS_SYSMENU);
    exStyle |= WS_EX_CONTROLPARENT;
  }
  if (style & DS_MODALFRAME) exStyle |= WS_EX_DLGMODALFRAME;
  if (modal) style &= ~WS_CHILD;

  const SIZE client = DialogUnitsToPixels(t.cx, t.cy);
  RECT frame{0, 0, client.cx, client.cy};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const SIZE at = DialogUnitsToPixels(t.x, t.y);
  POINT pos{at.cx, at.cy};
  if (style & DS_CENTER) {
    RECT area{0, 0, kDesktopWidth, kDesktopHeight};
    if (style & WS_CHILD) {
      if (parent) GetClientRect(parent, &area);
    } else if (parent) {
      GetWindowRect(parent, &area);
    }
    pos.x = area.left + (area.right - area.left - width) / 2;
    pos.y = area.top + (area.bottom - area.top - height) / 2;
  } else if (!(style & WS_CHILD) && parent && !(style & DS_ABSALIGN)) {
    // A popup dialog is placed relative to its owner's client area.
    ClientToScreen(parent, &pos);
  }

  HWND dialog = CreateWindowExW(exStyle, kDialogClass, t.caption.c_str(), style & ~WS_VISIBLE, pos.x, pos.y, width,
                                height, parent, nullptr, instance, nullptr);
  if (!dialog) return nullptr;
  auto state = std::make_shared<DialogState>();
  state->instance = instance;
  state->modal = modal;
  {
    Dialogs& d = TheDialogs();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.states[dialog] = state;
  }
  SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));

  if (t.hasFont) {
    state->font = CreateDialogFont(t);
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
    if (!IsWindow(dialog)) return nullptr;
  }

  HostedItemCreator creator;
  {
    Dialogs& d = TheDialogs();
    std::lock_guard<std::mutex> lock(d.mutex);
    creator = d.creator;
  }
  for (const DialogItemTemplate& item : t.items) {
    const RECT rect = ItemRect(item);
    HWND child = nullptr;
    if (item.hosted) {
      HRESULT failure = REGDB_E_CLASSNOTREG;
      if (creator) {
        failure = S_OK;
        child = creator(dialog, instance, item, rect, &failure);
        if (!child && SUCCEEDED(failure)) failure = E_FAIL;
      }
      if (!IsWindow(dialog)) return nullptr;
      if (!child) state->hostedFailures.push_back(HostedItemFailure{item.id, item.className, failure});
    } else {
      child = CreateWindowExW(item.exStyle | WS_EX_NOPARENTNOTIFY, item.className.c_str(), item.text.c_str(),
                              item.style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, dialog,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), instance, nullptr);
      if (!IsWindow(dialog)) return nullptr;
      if (!child && !(t.style & DS_NOFAILCREATE)) {
        // As on Windows, a control that cannot be made fails the dialog.
        const DWORD error = GetLastError();
        DestroyWindow(dialog);
        SetLastError(error);
        return nullptr;
      }
    }
    if (!child) continue;
    if (t.hasFont) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
    SetStaticImage(instance, item, child);
    // The first button that presents itself as the default one gives the default id.
    if (state->defaultId == 0 && item.id > 0 && item.id <= 0xFFFF &&
        (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON))
      state->defaultId = static_cast<WORD>(item.id);
    if (!IsWindow(dialog)) return nullptr;
  }

  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  const LRESULT setFocus = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), init);
  if (!IsWindow(dialog)) return nullptr;
  if (setFocus) {
    first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    if (first) DialogSetFocus(dialog, first);
  }
  if ((t.style & WS_VISIBLE) && !state->ended && IsWindow(dialog)) ShowWindow(dialog, SW_SHOWNORMAL);
  return IsWindow(dialog) ? dialog : nullptr;
}

namespace {

bool ParseIndirect(LPCDLGTEMPLATE dialogTemplate, DialogTemplate* out) {
  if (!dialogTemplate) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const char* text = reinterpret_cast<const char*>(dialogTemplate);
  std::string error;
  if (!ParseDialogTemplate(std::string_view(text, std::strlen(text)), out, &error)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

bool LoadNamed(HINSTANCE instance, LPCSTR name, DialogTemplate* out) {
  std::string error;
  HRSRC found = FindResourceA(instance, name, RT_DIALOG);
  if (!found) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  if (!LoadDialogTemplate(instance, name, out, &error)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

bool LoadNamedW(HINSTANCE instance, LPCWSTR name, DialogTemplate* out) {
  if (IS_INTRESOURCE(name))
    return LoadNamed(instance, reinterpret_cast<LPCSTR>(const_cast<LPWSTR>(name)), out);
  const std::string narrow = Utf16ToUtf8(View(name));
  return LoadNamed(instance, narrow.c_str(), out);
}

INT_PTR RunModal(HINSTANCE instance, const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM init) {
  HWND top = TopLevelOf(owner);
  HWND dialog = CreateFromTemplate(instance, t, top, proc, init, true);
  if (!dialog) return -1;
  std::shared_ptr<DialogState> state = StateOf(dialog);
  if (!state) return -1;
  if (top && !state->ended && IsWindowEnabled(top)) {
    EnableWindow(top, FALSE);
    state->disabledOwner = top;
  }
  if (!state->ended && IsWindow(dialog)) ShowWindow(dialog, SW_SHOWNORMAL);
  for (;;) {
    if (state->ended || !IsWindow(dialog)) break;
    MSG msg{};
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      // Nothing to do: the owner hears of it (a host or test acts for the user here).
      if (top && !(t.style & DS_NOIDLEMSG))
        SendMessageW(top, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(dialog));
      if (state->ended || !IsWindow(dialog)) break;
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == -1) break;
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // the outer loop ends too
        break;
      }
    } else if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (state->disabledOwner) {
    if (IsWindow(state->disabledOwner)) EnableWindow(state->disabledOwner, TRUE);
    state->disabledOwner = nullptr;
  }
  const INT_PTR result = state->result;
  if (IsWindow(dialog)) DestroyWindow(dialog);
  return result;
}

// The messages whose answer is the dialog procedure's return value itself, not DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

bool IsLiveDescendant(HWND dialog, HWND hwnd) {
  return hwnd && IsWindow(hwnd) && IsChild(dialog, hwnd) && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd);
}

// Gives the default-button look to the button of `id` (or takes it when `on` is false).
void SetButtonLook(HWND dialog, WORD id, bool on) {
  if (!id) return;
  HWND button = GetDlgItem(dialog, id);
  if (!button) return;
  const UINT code = static_cast<UINT>(SendMessageW(button, WM_GETDLGCODE, 0, 0));
  if (on && (code & DLGC_UNDEFPUSHBUTTON))
    SendMessageW(button, kBmSetStyle, kBsDefPushButton, TRUE);
  else if (!on && (code & DLGC_DEFPUSHBUTTON))
    SendMessageW(button, kBmSetStyle, kBsPushButton, TRUE);
}

LRESULT DefaultHandling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode, bool hasProc) {
  switch (message) {
    case WM_INITDIALOG:
      return hasProc ? FALSE : TRUE;
    case WM_NEXTDLGCTL: {
      HWND target = nullptr;
      if (LOWORD(static_cast<DWORD>(lParam)))
        target = reinterpret_cast<HWND>(wParam);
      else
        target = GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0);
      if (target && IsWindow(target)) DialogSetFocus(hwnd, target);
      return 0;
    }
    case DM_GETDEFID: {
      auto state = StateOf(hwnd);
      if (!state || !state->defaultId) return 0;
      return MAKELRESULT(state->defaultId, DC_HASDEFID);
    }
    case DM_SETDEFID: {
      auto state = StateOf(hwnd);
      if (!state) return FALSE;
      const WORD old = state->defaultId;
      const WORD id = static_cast<WORD>(wParam);
      state->defaultId = id;
      // The look moves with the id unless a push button holds the focus (it keeps the look).
      HWND focus = GetFocus();
      const bool focusOnPushButton =
          focus && IsChild(hwnd, focus) &&
          (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON));
      if (!focusOnPushButton) {
        if (old != id) SetButtonLook(hwnd, old, false);
        SetButtonLook(hwnd, id, true);
      }
      return TRUE;
    }
    case WM_CLOSE: {
      // Closing is Cancel, unless the Cancel button is there and disabled.
      HWND cancel = GetDlgItem(hwnd, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, kBnClicked), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case WM_GETFONT: {
      auto state = StateOf(hwnd);
      return state ? reinterpret_cast<LRESULT>(state->font) : 0;
    }
    case WM_SETFOCUS: {
      auto state = StateOf(hwnd);
      HWND target = state && IsLiveDescendant(hwnd, state->savedFocus) ? state->savedFocus : nullptr;
      if (!target) target = GetNextDlgTabItem(hwnd, nullptr, FALSE);
      if (target) DialogSetFocus(hwnd, target);
      return 0;
    }
    default:
      return unicode ? DefWindowProcW(hwnd, message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

LRESULT DefDlgProcImpl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  const auto proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hwnd, DWLP_DLGPROC));
  if (proc) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
    const INT_PTR handled = proc(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) Forget(hwnd);
    if (handled || message == WM_INITDIALOG) {
      if (AnswersDirectly(message)) return handled;
      return IsWindow(hwnd) ? GetWindowLongPtrW(hwnd, DWLP_MSGRESULT) : 0;
    }
    if (!IsWindow(hwnd)) return 0;
  }
  const LRESULT result = DefaultHandling(hwnd, message, wParam, lParam, unicode, proc != nullptr);
  if (message == WM_NCDESTROY) Forget(hwnd);
  return result;
}

}  // namespace
}  // namespace internal

HostedItemCreator SetHostedItemCreator(HostedItemCreator creator) {
  internal::Dialogs& d = internal::TheDialogs();
  std::lock_guard<std::mutex> lock(d.mutex);
  std::swap(d.creator, creator);
  return creator;
}

std::vector<HostedItemFailure> GetHostedItemFailures(HWND dialog) {
  auto state = internal::StateOf(dialog);
  return state ? state->hostedFailures : std::vector<HostedItemFailure>{};
}

}  // namespace vkr::ui

using vkr::ui::DialogTemplate;
namespace internal = vkr::ui::internal;

HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND parent, DLGPROC dialogProc,
                                LPARAM init) {
  return CreateDialogIndirectParamW(instance, dialogTemplate, parent, dialogProc, init);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC dialogProc,
                                LPARAM init) {
  DialogTemplate t;
  if (!internal::ParseIndirect(dialogTemplate, &t)) return nullptr;
  return internal::CreateFromTemplate(instance, t, parent, dialogProc, init, false);
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM init) {
  DialogTemplate t;
  if (!internal::LoadNamed(instance, templateName, &t)) return nullptr;
  return internal::CreateFromTemplate(instance, t, parent, dialogProc, init, false);
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM init) {
  DialogTemplate t;
  if (!internal::LoadNamedW(instance, templateName, &t)) return nullptr;
  return internal::CreateFromTemplate(instance, t, parent, dialogProc, init, false);
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM init) {
  DialogTemplate t;
  if (!internal::LoadNamed(instance, templateName, &t)) return -1;
  return internal::RunModal(instance, t, owner, dialogProc, init);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM init) {
  DialogTemplate t;
  if (!internal::LoadNamedW(instance, templateName, &t)) return -1;
  return internal::RunModal(instance, t, owner, dialogProc, init);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM init) {
  return DialogBoxIndirectParamW(instance, dialogTemplate, owner, dialogProc, init);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM init) {
  DialogTemplate t;
  if (!internal::ParseIndirect(dialogTemplate, &t)) return -1;
  return internal::RunModal(instance, t, owner, dialogProc, init);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  auto state = internal::StateOf(dialog);
  if (!state || !IsWindow(dialog)) {
    SetLastError(IsWindow(dialog) ? internal::kErrorWindowNotDialog : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  state->ended = true;
  state->result = result;
  // The owner is usable again at once, before the dialog goes.
  if (state->disabledOwner) {
    if (IsWindow(state->disabledOwner)) EnableWindow(state->disabledOwner, TRUE);
    state->disabledOwner = nullptr;
  }
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return internal::DefDlgProcImpl(dialog, message, wParam, lParam, false);
}

LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return internal::DefDlgProcImpl(dialog, message, wParam, lParam, true);
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
  if (!rect || !internal::StateOf(dialog)) {
    SetLastError(rect ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SIZE topLeft = vkr::ui::DialogUnitsToPixels(rect->left, rect->top);
  const SIZE bottomRight = vkr::ui::DialogUnitsToPixels(rect->right, rect->bottom);
  *rect = RECT{topLeft.cx, topLeft.cy, bottomRight.cx, bottomRight.cy};
  return TRUE;
}

LONG GetDialogBaseUnits() { return MAKELONG(vkr::ui::kDialogBaseUnitX, vkr::ui::kDialogBaseUnitY); }

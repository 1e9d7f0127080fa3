// Dialogs: the dialog template text, dialog units, dialog windows (CreateDialog*, DialogBoxParam,
// EndDialog, DefDlgProc), the dialog manager (IsDialogMessage: tab order, default button,
// mnemonics) and scripted message boxes.
//
// A dialog template is text, a subset of the resource compiler's DIALOGEX, kept as an RT_DIALOG
// resource (manifest type DIALOG) and parsed when a dialog is made from it:
//
//   // comments run to the end of the line (also /* ... */)
//   105 DIALOGEX 0, 0, 450, 360
//   STYLE DS_CONTROL | WS_CHILD
//   EXSTYLE WS_EX_CONTROLPARENT
//   CAPTION "Title"
//   FONT 8, "MS Sans Serif"
//   BEGIN
//     CONTROL "Close", 289, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 10, 50, 14
//     CONTROL "#201", 356, "Static", SS_BITMAP, 0, 0, 20, 20, WS_EX_CLIENTEDGE
//     CONTROL "", 218, "{01234567-89AB-CDEF-0123-456789ABCDEF}", WS_TABSTOP, 0, 340, 450, 20, 0, "10000000 0a000000"
//     CONTROL "", 403, "Vorn.Chart.1", 0, 0, 0, 100, 100
//     LTEXT "&Name", -1, 5, 30, 40, 8
//     EDITTEXT 300, 50, 30, 80, 12, ES_NUMBER
//   END
//
// - One dialog a text; its id must be the resource id it is stored under.
// - Styles are numbers (decimal or 0x hex) or Windows names joined by '|'; "NOT name" clears bits.
//   Every control gets WS_CHILD | WS_VISIBLE (write NOT WS_VISIBLE for a hidden one); without a
//   STYLE line a dialog is WS_POPUP | WS_BORDER | WS_SYSMENU; CAPTION adds WS_CAPTION, FONT
//   DS_SETFONT.
// - Short forms, with the resource compiler's classes and default styles: LTEXT RTEXT CTEXT
//   PUSHBUTTON DEFPUSHBUTTON CHECKBOX AUTOCHECKBOX RADIOBUTTON AUTORADIOBUTTON STATE3 AUTO3STATE
//   GROUPBOX ("text", id, x, y, w, h[, style[, exstyle]]) and EDITTEXT COMBOBOX LISTBOX SCROLLBAR
//   (id, x, y, w, h[, style[, exstyle]]).
// - Texts are UTF-8 in double quotes ("" or \" is a quote; \\ \n \r \t); "&&" stays as written.
//   "#nnn" on an SS_BITMAP or SS_ICON static loads that bitmap or icon of the dialog's module.
// - A class in braces (a CLSID) or with a dot (a ProgID) is a hosted item: the OLE layer makes it
//   through the hosted-item creator, and the optional last text holds its initialisation bytes in
//   hex (blanks allowed) for IPersistStreamInit::Load.
// - Ids are -1 to 65535 or IDOK, IDCANCEL, ..., IDC_STATIC; an id above 0 other than 65535 may
//   appear once. A statement may go on over lines that end in ',' or '|'.
//
// Dialog units: base units 6 x 13 for every dialog, x = dlu * 6 / 4 and y = dlu * 13 / 8, so a
// 450 x 360 dialog is 675 x 585 pixels.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/ui/types.h"
#include "platform/ui/windows.h"
#include "platform/win/messages.h"
#include "platform/win/resources.h"

// The template a dialog is made from: its text, zero-terminated (as a DIALOG resource holds it).
struct DLGTEMPLATE;
using LPCDLGTEMPLATEA = const DLGTEMPLATE*;
using LPCDLGTEMPLATEW = const DLGTEMPLATE*;
using LPCDLGTEMPLATE = const DLGTEMPLATE*;

// The dialog class is "#32770"; its window extra bytes (DLGWINDOWEXTRA, DWLP_*) are in windows.h.
// The modal loop's code in WM_ENTERIDLE, which the owner gets whenever the loop has nothing to do.
constexpr WPARAM MSGF_DIALOGBOX = 0;

// Dialog styles.
constexpr DWORD DS_ABSALIGN = 0x01;
constexpr DWORD DS_SYSMODAL = 0x02;
constexpr DWORD DS_3DLOOK = 0x04;
constexpr DWORD DS_FIXEDSYS = 0x08;
constexpr DWORD DS_NOFAILCREATE = 0x10;
constexpr DWORD DS_LOCALEDIT = 0x20;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_NOIDLEMSG = 0x100;
constexpr DWORD DS_SETFOREGROUND = 0x200;
constexpr DWORD DS_CONTROL = 0x400;
constexpr DWORD DS_CENTER = 0x800;
constexpr DWORD DS_CENTERMOUSE = 0x1000;
constexpr DWORD DS_CONTEXTHELP = 0x2000;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// Dialog messages.
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr UINT DM_REPOSITION = WM_USER + 2;
constexpr WORD DC_HASDEFID = 0x534B;  // HIWORD of DM_GETDEFID's answer when there is a default id

// WM_GETDLGCODE answers.
constexpr UINT DLGC_WANTARROWS = 0x0001;
constexpr UINT DLGC_WANTTAB = 0x0002;
constexpr UINT DLGC_WANTALLKEYS = 0x0004;
constexpr UINT DLGC_WANTMESSAGE = 0x0004;
constexpr UINT DLGC_HASSETSEL = 0x0008;
constexpr UINT DLGC_DEFPUSHBUTTON = 0x0010;
constexpr UINT DLGC_UNDEFPUSHBUTTON = 0x0020;
constexpr UINT DLGC_RADIOBUTTON = 0x0040;
constexpr UINT DLGC_WANTCHARS = 0x0080;
constexpr UINT DLGC_STATIC = 0x0100;
constexpr UINT DLGC_BUTTON = 0x2000;

// Dialog box command ids and message box answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDHELP = 9;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// Message box styles.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_CANCELTRYCONTINUE = 0x6;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFBUTTON4 = 0x300;
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_HELP = 0x4000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr UINT MB_TYPEMASK = 0x0F;
constexpr UINT MB_ICONMASK = 0xF0;
constexpr UINT MB_DEFMASK = 0xF00;

// Creates a modeless dialog from a template (a DIALOG resource of `instance`, or its text in
// memory). The children are made in template order (each gets WM_SETFONT when the template names a
// font), then the dialog procedure gets WM_INITDIALOG with `init`; unless it answers FALSE the
// focus goes to the first tab stop. NULL when the template is missing or does not parse
// (ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_INVALID_DATA), or when WM_INITDIALOG destroyed it.
VKR_API HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND parent,
                                        DLGPROC dialogProc, LPARAM init);
VKR_API HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                        DLGPROC dialogProc, LPARAM init);
VKR_API HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                                LPARAM init);
VKR_API HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC dialogProc,
                                LPARAM init);
// A modal dialog: disables the owner, runs the dialog's own message loop (with IsDialogMessage)
// until EndDialog, destroys the dialog, enables the owner again and returns EndDialog's result;
// -1 when the dialog could not be made.
VKR_API INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                                LPARAM init);
VKR_API INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                                LPARAM init);
VKR_API INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner,
                                        DLGPROC dialogProc, LPARAM init);
VKR_API INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                        DLGPROC dialogProc, LPARAM init);
// Ends a modal dialog with `result` (the loop ends when the current message is done). On a
// modeless dialog it only hides the window, as on Windows. FALSE for a window that is no dialog.
VKR_API BOOL EndDialog(HWND dialog, INT_PTR result);
// The dialog class's procedure: calls the dialog procedure, answers from DWLP_MSGRESULT where the
// message has an answer, and otherwise does the dialog's defaults (DM_GETDEFID/DM_SETDEFID,
// WM_NEXTDLGCTL, IDCANCEL on WM_CLOSE, the focus given back on WM_SETFOCUS, WM_GETFONT). The
// dialog class is a Unicode one whatever the call that made the dialog: a dialog procedure gets
// the "W" form of text messages.
VKR_API LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog manager. Handles keyboard messages for windows inside `dialog`: Tab and Shift+Tab
// over the visible, enabled WS_TABSTOP items (descending into WS_EX_CONTROLPARENT children; into
// a radio group at its checked button), arrows within a WS_GROUP (an automatic radio button
// arrowed onto is pressed), Enter (the focused push button's WM_COMMAND to its own parent, else
// the default button's (DM_GETDEFID), else IDOK's to `dialog`), Escape (IDCANCEL to `dialog`) and
// mnemonics (Alt+letter, or a plain letter when the focused control takes no characters): a
// label's moves the focus to the next tab stop, a button's focuses and presses it (BM_CLICK).
// Enter and Escape do nothing when their button is there and disabled. A control keeps the keys
// its WM_GETDLGCODE asks for. Every other message for the dialog's windows is dispatched. TRUE
// when the message was for a window inside the dialog (dispatched or consumed). The default-button
// look follows the focus the dialog manager moves (see dialog_manager.cpp). The host loop runs
// this for the outermost dialog holding a key message's window; the modal loops do not.
VKR_API BOOL IsDialogMessageA(HWND dialog, LPMSG msg);
VKR_API BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
// The next (or previous) visible, enabled WS_TABSTOP item after `control` in the dialog's tab
// order, wrapping; control NULL starts at the beginning (or the end). NULL when there is none.
VKR_API HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
// The next (or previous) visible, enabled item in `control`'s WS_GROUP, wrapping within the group.
VKR_API HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);
// Dialog units of `dialog` to pixels (the rule above for every dialog).
VKR_API BOOL MapDialogRect(HWND dialog, LPRECT rect);
// MAKELONG(6, 13).
VKR_API LONG GetDialogBaseUnits();
// BM_SETCHECK / BM_GETCHECK on dialog items; CheckRadioButton checks `check` and clears the other
// ids of first..last.
VKR_API BOOL CheckDlgButton(HWND dialog, int id, UINT check);
VKR_API UINT IsDlgButtonChecked(HWND dialog, int id);
VKR_API BOOL CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId);

// Asks the user: answered from the message box script (vkr::ui::SetMessageBoxScript), or with the
// first button of the style when the script is empty. The question is recorded.
VKR_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
VKR_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace vkr::ui {

constexpr int kDialogBaseUnitX = 6;
constexpr int kDialogBaseUnitY = 13;

// One control line of a template.
struct DialogItemTemplate {
  std::u16string text;       // as written: "&&" kept, "#201" for an image
  std::u16string className;  // a window class, or a hosted item's "{CLSID}" or ProgID
  LONG id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  SHORT x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  bool hosted = false;                 // className is a CLSID or a ProgID
  std::vector<BYTE> initData;          // a hosted item's bytes for IPersistStreamInit::Load
  int line = 0;                        // where the template declares it
};

struct DialogTemplate {
  WORD id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  SHORT x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::u16string caption;
  bool hasFont = false;
  WORD pointSize = 0;
  WORD weight = 0;
  BYTE italic = 0;
  BYTE charset = 0;
  std::u16string fontFace;
  std::vector<DialogItemTemplate> items;  // in template order
};

// Parses a template text. false with "line N: why" in *error for anything it does not take.
VKR_API bool ParseDialogTemplate(std::string_view text, DialogTemplate* out, std::string* error);
// Finds, loads and parses dialog `name` (MAKEINTRESOURCE(id)) of `module`.
VKR_API bool LoadDialogTemplate(HINSTANCE module, LPCSTR name, DialogTemplate* out, std::string* error);
// Dialog units to pixels.
VKR_API SIZE DialogUnitsToPixels(LONG cx, LONG cy);
// The size in pixels of dialog `id` of `module`, so that code sizing itself from a dialog never
// reads the template. FALSE when there is no such dialog or it does not parse.
VKR_API BOOL DialogTemplateSize(HINSTANCE module, WORD id, SIZE* pixels);

// Hosted items. The OLE layer installs the creator; the dialog engine calls it for each hosted
// item, in template order, with the item's rectangle in the dialog's client pixels. It makes the
// item's window as a child of `dialog` with the item's id and styles and returns it, or returns
// NULL and sets *failure. A failed item is recorded on the dialog and the dialog goes on.
using HostedItemCreator =
    std::function<HWND(HWND dialog, HINSTANCE instance, const DialogItemTemplate& item, const RECT& rect,
                       HRESULT* failure)>;
// Installs the creator for the process (an empty function removes it; then every hosted item
// fails with REGDB_E_CLASSNOTREG). Returns the one it replaces.
VKR_API HostedItemCreator SetHostedItemCreator(HostedItemCreator creator);

struct HostedItemFailure {
  LONG id = 0;
  std::u16string className;
  HRESULT result = S_OK;
};
// The hosted items of `dialog` that could not be made.
VKR_API std::vector<HostedItemFailure> GetHostedItemFailures(HWND dialog);

// Message boxes. A question as MessageBox got it (texts in UTF-8).
struct MessageBoxQuestion {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
  int answer = 0;
};
// One scripted answer: the button (IDOK, IDYES, ...; 0 takes the first button of the style), and
// an action that runs while the question is open, before MessageBox returns (the owner is
// disabled meanwhile, as under a real message box).
struct MessageBoxAnswer {
  int button = 0;
  std::function<void(const MessageBoxQuestion&)> action;
};
// Replaces the queue of answers; each MessageBox takes the next one.
VKR_API void SetMessageBoxScript(std::vector<MessageBoxAnswer> answers);
// Appends one answer to the queue.
VKR_API void AddMessageBoxAnswer(MessageBoxAnswer answer);
// Every question asked since the last ClearMessageBoxRecord, in order.
VKR_API std::vector<MessageBoxQuestion> MessageBoxRecord();
// Empties the record and the queue.
VKR_API void ClearMessageBoxRecord();
// The first button of a message box style (IDOK for MB_OK, IDYES for MB_YESNO, ...).
VKR_API int FirstMessageBoxButton(UINT type);
// Who answers a question the script has no answer for (its button; 0 takes the first button of
// the style): a frame that asks its own user. Empty: the first button. Runs on the asking thread.
VKR_API void SetMessageBoxResponder(std::function<int(const MessageBoxQuestion&)> responder);

}  // namespace vkr::ui

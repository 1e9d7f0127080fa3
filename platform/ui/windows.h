// Windows: classes, creation and destruction, the window tree, text, geometry on a virtual
// desktop, visibility, enabled state, styles, focus and key state, messages to windows, paint
// requests, and the host loop's filter chain.
//
// A window handle is a 32-bit id of the platform's handle table, never reused: a destroyed or
// unknown handle fails every call quietly (0 or FALSE, ERROR_INVALID_WINDOW_HANDLE). A window
// belongs to the thread that created it; messages to it from other threads travel through that
// thread's queue (messages.h). Children are kept in creation order, which is their z-order and
// their tab order.
//
// Text is UTF-16; the "A" calls take and give UTF-8. Text messages (WM_SETTEXT, WM_GETTEXT,
// WM_GETTEXTLENGTH, the names in CREATESTRUCT, and the item texts of the standard list and edit
// controls) are converted when the width of the call and of the window procedure differ. WM_CHAR
// carries one UTF-16 unit for both widths.
//
// Geometry: top-level windows sit on a virtual desktop of kDesktopWidth x kDesktopHeight pixels;
// a child's window rectangle is kept in its parent's client coordinates. The non-client frame
// is fixed: 1 pixel for WS_BORDER, 3 for WS_DLGFRAME or WS_EX_DLGMODALFRAME, 4 for WS_THICKFRAME,
// plus 2 for WS_EX_CLIENTEDGE and 1 for WS_EX_STATICEDGE on each side, and a caption of 19 pixels
// for WS_CAPTION (AdjustWindowRectEx computes the same).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"
#include "platform/win/messages.h"
#include "platform/win/shell.h"

using ATOM = WORD;

// The window calls' own errors (the others are in hresult.h).
constexpr LONG ERROR_TLW_WITH_WSCHILD = 1406;
constexpr LONG ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr LONG ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr LONG ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr LONG ERROR_INVALID_INDEX = 1413;
constexpr LONG ERROR_CONTROL_ID_NOT_FOUND = 1421;
inline LPCSTR MAKEINTATOMA(ATOM a) { return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(a)); }
inline LPCWSTR MAKEINTATOMW(ATOM a) { return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(a)); }

// ---- Window styles ----
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_TILED = WS_OVERLAPPED;
constexpr DWORD WS_ICONIC = WS_MINIMIZE;
constexpr DWORD WS_SIZEBOX = WS_THICKFRAME;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_TILEDWINDOW = WS_OVERLAPPEDWINDOW;
constexpr DWORD WS_POPUPWINDOW = WS_POPUP | WS_BORDER | WS_SYSMENU;
constexpr DWORD WS_CHILDWINDOW = WS_CHILD;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_ACCEPTFILES = 0x00000010;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_MDICHILD = 0x00000040;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;
constexpr DWORD WS_EX_RIGHT = 0x00001000;
constexpr DWORD WS_EX_LEFT = 0x00000000;
constexpr DWORD WS_EX_RTLREADING = 0x00002000;
constexpr DWORD WS_EX_LTRREADING = 0x00000000;
constexpr DWORD WS_EX_LEFTSCROLLBAR = 0x00004000;
constexpr DWORD WS_EX_RIGHTSCROLLBAR = 0x00000000;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD WS_EX_LAYERED = 0x00080000;
constexpr DWORD WS_EX_NOINHERITLAYOUT = 0x00100000;
constexpr DWORD WS_EX_LAYOUTRTL = 0x00400000;
constexpr DWORD WS_EX_COMPOSITED = 0x02000000;
constexpr DWORD WS_EX_NOACTIVATE = 0x08000000;
constexpr DWORD WS_EX_OVERLAPPEDWINDOW = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
constexpr DWORD WS_EX_PALETTEWINDOW = WS_EX_WINDOWEDGE | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;

// ---- Class styles and class/window data offsets ----
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_OWNDC = 0x0020;
constexpr UINT CS_CLASSDC = 0x0040;
constexpr UINT CS_PARENTDC = 0x0080;
constexpr UINT CS_NOCLOSE = 0x0200;
constexpr UINT CS_SAVEBITS = 0x0800;
constexpr UINT CS_BYTEALIGNCLIENT = 0x1000;
constexpr UINT CS_BYTEALIGNWINDOW = 0x2000;
constexpr UINT CS_GLOBALCLASS = 0x4000;
constexpr UINT CS_DROPSHADOW = 0x00020000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

constexpr int GWL_WNDPROC = -4;
constexpr int GWL_HINSTANCE = -6;
constexpr int GWL_HWNDPARENT = -8;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;
constexpr int GWL_ID = -12;
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_USERDATA = -21;
constexpr int GWLP_ID = -12;

// Dialog data in the window's extra bytes (cbWndExtra = DLGWINDOWEXTRA), pointer-sized slots.
constexpr int DWLP_MSGRESULT = 0;
constexpr int DWLP_DLGPROC = DWLP_MSGRESULT + static_cast<int>(sizeof(LRESULT));
constexpr int DWLP_USER = DWLP_DLGPROC + static_cast<int>(sizeof(DLGPROC));
constexpr int DLGWINDOWEXTRA = 30;
static_assert(DWLP_USER + static_cast<int>(sizeof(LONG_PTR)) <= DLGWINDOWEXTRA);

constexpr int GCL_MENUNAME = -8;
constexpr int GCLP_MENUNAME = -8;
constexpr int GCLP_HBRBACKGROUND = -10;
constexpr int GCLP_HCURSOR = -12;
constexpr int GCLP_HICON = -14;
constexpr int GCLP_HMODULE = -16;
constexpr int GCL_CBWNDEXTRA = -18;
constexpr int GCL_CBCLSEXTRA = -20;
constexpr int GCLP_WNDPROC = -24;
constexpr int GCL_STYLE = -26;
constexpr int GCW_ATOM = -32;
constexpr int GCLP_HICONSM = -34;

// ---- Window messages (the queue's own ones, WM_NULL, WM_QUIT, WM_TIMER, WM_USER, WM_APP, are
// in messages.h) ----
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SYSCOLORCHANGE = 0x0015;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_CANCELMODE = 0x001F;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_MOUSEACTIVATE = 0x0021;
constexpr UINT WM_CHILDACTIVATE = 0x0022;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_MEASUREITEM = 0x002C;
constexpr UINT WM_DELETEITEM = 0x002D;
constexpr UINT WM_VKEYTOITEM = 0x002E;
constexpr UINT WM_CHARTOITEM = 0x002F;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_COMPAREITEM = 0x0039;
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_HELP = 0x0053;
constexpr UINT WM_NOTIFYFORMAT = 0x0055;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_STYLECHANGING = 0x007C;
constexpr UINT WM_STYLECHANGED = 0x007D;
constexpr UINT WM_GETICON = 0x007F;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCCALCSIZE = 0x0083;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_NCPAINT = 0x0085;
constexpr UINT WM_NCACTIVATE = 0x0086;
constexpr UINT WM_GETDLGCODE = 0x0087;
constexpr UINT WM_NCMOUSEMOVE = 0x00A0;
constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
constexpr UINT WM_NCLBUTTONUP = 0x00A2;
constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_DEADCHAR = 0x0103;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_SYSDEADCHAR = 0x0107;
constexpr UINT WM_UNICHAR = 0x0109;
constexpr UINT WM_KEYLAST = 0x0109;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_INITMENU = 0x0116;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_ENTERIDLE = 0x0121;
constexpr UINT WM_CTLCOLORMSGBOX = 0x0132;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSCROLLBAR = 0x0137;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEFIRST = 0x0200;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_XBUTTONDOWN = 0x020B;
constexpr UINT WM_XBUTTONUP = 0x020C;
constexpr UINT WM_XBUTTONDBLCLK = 0x020D;
constexpr UINT WM_MOUSEHWHEEL = 0x020E;
constexpr UINT WM_MOUSELAST = 0x020E;
constexpr UINT WM_PARENTNOTIFY = 0x0210;
constexpr UINT WM_SIZING = 0x0214;
constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_MOVING = 0x0216;
constexpr UINT WM_ENTERSIZEMOVE = 0x0231;
constexpr UINT WM_EXITSIZEMOVE = 0x0232;
constexpr UINT WM_MOUSEHOVER = 0x02A1;
constexpr UINT WM_MOUSELEAVE = 0x02A3;
constexpr UINT WM_CUT = 0x0300;
constexpr UINT WM_COPY = 0x0301;
constexpr UINT WM_PASTE = 0x0302;
constexpr UINT WM_CLEAR = 0x0303;
constexpr UINT WM_UNDO = 0x0304;
constexpr UINT WM_PRINT = 0x0317;
constexpr UINT WM_PRINTCLIENT = 0x0318;
// ATL: a message forwarded to a hosted control for translation (lParam is the MSG*).
constexpr UINT WM_FORWARDMSG = 0x037F;

// WM_SIZE kinds.
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;
constexpr WPARAM SIZE_MAXSHOW = 3;
constexpr WPARAM SIZE_MAXHIDE = 4;

// WM_ACTIVATE, WM_MOUSEACTIVATE, WM_NCHITTEST answers.
constexpr WORD WA_INACTIVE = 0;
constexpr WORD WA_ACTIVE = 1;
constexpr WORD WA_CLICKACTIVE = 2;
constexpr LRESULT MA_ACTIVATE = 1;
constexpr LRESULT MA_ACTIVATEANDEAT = 2;
constexpr LRESULT MA_NOACTIVATE = 3;
constexpr LRESULT MA_NOACTIVATEANDEAT = 4;
constexpr LRESULT HTERROR = -2;
constexpr LRESULT HTTRANSPARENT = -1;
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTBORDER = 18;

// Mouse-message key flags (wParam).
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

// ---- Virtual keys ----
constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_CANCEL = 0x03;
constexpr int VK_MBUTTON = 0x04;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_CLEAR = 0x0C;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_SELECT = 0x29;
constexpr int VK_PRINT = 0x2A;
constexpr int VK_EXECUTE = 0x2B;
constexpr int VK_SNAPSHOT = 0x2C;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_HELP = 0x2F;
constexpr int VK_LWIN = 0x5B;
constexpr int VK_RWIN = 0x5C;
constexpr int VK_APPS = 0x5D;
constexpr int VK_NUMPAD0 = 0x60;
constexpr int VK_NUMPAD9 = 0x69;
constexpr int VK_MULTIPLY = 0x6A;
constexpr int VK_ADD = 0x6B;
constexpr int VK_SEPARATOR = 0x6C;
constexpr int VK_SUBTRACT = 0x6D;
constexpr int VK_DECIMAL = 0x6E;
constexpr int VK_DIVIDE = 0x6F;
constexpr int VK_F1 = 0x70;
constexpr int VK_F10 = 0x79;
constexpr int VK_F12 = 0x7B;
constexpr int VK_NUMLOCK = 0x90;
constexpr int VK_SCROLL = 0x91;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;
constexpr int VK_OEM_1 = 0xBA;
constexpr int VK_OEM_PLUS = 0xBB;
constexpr int VK_OEM_COMMA = 0xBC;
constexpr int VK_OEM_MINUS = 0xBD;
constexpr int VK_OEM_PERIOD = 0xBE;
constexpr int VK_OEM_2 = 0xBF;
constexpr int VK_OEM_3 = 0xC0;
constexpr int VK_OEM_4 = 0xDB;
constexpr int VK_OEM_5 = 0xDC;
constexpr int VK_OEM_6 = 0xDD;
constexpr int VK_OEM_7 = 0xDE;
constexpr int VK_PACKET = 0xE7;

// ---- GetWindow, GetAncestor ----
constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;
constexpr UINT GW_ENABLEDPOPUP = 6;
constexpr UINT GA_PARENT = 1;
constexpr UINT GA_ROOT = 2;
constexpr UINT GA_ROOTOWNER = 3;

// ---- SetWindowPos ----
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT SWP_NOCOPYBITS = 0x0100;
constexpr UINT SWP_NOOWNERZORDER = 0x0200;
constexpr UINT SWP_NOSENDCHANGING = 0x0400;
constexpr UINT SWP_DRAWFRAME = SWP_FRAMECHANGED;
constexpr UINT SWP_NOREPOSITION = SWP_NOOWNERZORDER;
constexpr UINT SWP_DEFERERASE = 0x2000;
constexpr UINT SWP_ASYNCWINDOWPOS = 0x4000;
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(static_cast<LONG_PTR>(1));
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2));

// ---- ShowWindow: the SW_ commands are in shell.h (ShellExecute takes them too) ----

// ---- RedrawWindow ----
constexpr UINT RDW_INVALIDATE = 0x0001;
constexpr UINT RDW_INTERNALPAINT = 0x0002;
constexpr UINT RDW_ERASE = 0x0004;
constexpr UINT RDW_VALIDATE = 0x0008;
constexpr UINT RDW_NOINTERNALPAINT = 0x0010;
constexpr UINT RDW_NOERASE = 0x0020;
constexpr UINT RDW_NOCHILDREN = 0x0040;
constexpr UINT RDW_ALLCHILDREN = 0x0080;
constexpr UINT RDW_UPDATENOW = 0x0100;
constexpr UINT RDW_ERASENOW = 0x0200;
constexpr UINT RDW_FRAME = 0x0400;
constexpr UINT RDW_NOFRAME = 0x0800;

// ---- Structures ----
struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};
struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};
struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};
using LPWNDCLASSA = WNDCLASSA*;
using LPWNDCLASSW = WNDCLASSW*;
using LPWNDCLASSEXA = WNDCLASSEXA*;
using LPWNDCLASSEXW = WNDCLASSEXW*;

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};
using LPCREATESTRUCTA = CREATESTRUCTA*;
using LPCREATESTRUCTW = CREATESTRUCTW*;

struct WINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
};
using LPWINDOWPOS = WINDOWPOS*;

struct STYLESTRUCT {
  DWORD styleOld;
  DWORD styleNew;
};
using LPSTYLESTRUCT = STYLESTRUCT*;

using WNDENUMPROC = BOOL (*)(HWND hwnd, LPARAM lParam);

// ---- Classes ----
// Class names compare without regard to case; GetClassName gives the spelling registered. A
// class is per module (hInstance) unless CS_GLOBALCLASS; the built-in classes are global.
VKR_API ATOM RegisterClassA(const WNDCLASSA* wc);
VKR_API ATOM RegisterClassW(const WNDCLASSW* wc);
VKR_API ATOM RegisterClassExA(const WNDCLASSEXA* wc);
VKR_API ATOM RegisterClassExW(const WNDCLASSEXW* wc);
// FALSE (ERROR_CLASS_HAS_WINDOWS) while windows of the class exist.
VKR_API BOOL UnregisterClassA(LPCSTR className, HINSTANCE hInstance);
VKR_API BOOL UnregisterClassW(LPCWSTR className, HINSTANCE hInstance);
VKR_API BOOL GetClassInfoA(HINSTANCE hInstance, LPCSTR className, LPWNDCLASSA wc);
VKR_API BOOL GetClassInfoW(HINSTANCE hInstance, LPCWSTR className, LPWNDCLASSW wc);
VKR_API BOOL GetClassInfoExA(HINSTANCE hInstance, LPCSTR className, LPWNDCLASSEXA wc);
VKR_API BOOL GetClassInfoExW(HINSTANCE hInstance, LPCWSTR className, LPWNDCLASSEXW wc);
VKR_API int GetClassNameA(HWND hwnd, LPSTR name, int maxCount);
VKR_API int GetClassNameW(HWND hwnd, LPWSTR name, int maxCount);
VKR_API ULONG_PTR GetClassLongPtrA(HWND hwnd, int index);
VKR_API ULONG_PTR GetClassLongPtrW(HWND hwnd, int index);
VKR_API ULONG_PTR SetClassLongPtrA(HWND hwnd, int index, LONG_PTR value);
VKR_API ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR value);

// ---- Creation and the tree ----
// WM_NCCREATE (FALSE fails the creation), then WM_CREATE (-1 fails it; the window is destroyed
// and null returned), then WM_SIZE and WM_MOVE, then the show of WS_VISIBLE. A child needs a
// live parent; hMenu is its control id. hwndParent of a window without WS_CHILD is its owner.
VKR_API HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                             int width, int height, HWND hwndParent, HMENU hMenu, HINSTANCE hInstance,
                             LPVOID param);
VKR_API HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                             int width, int height, HWND hwndParent, HMENU hMenu, HINSTANCE hInstance,
                             LPVOID param);
inline HWND CreateWindowA(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                          HWND hwndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID param) {
  return CreateWindowExA(0, className, windowName, style, x, y, width, height, hwndParent, hMenu, hInstance, param);
}
inline HWND CreateWindowW(LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width, int height,
                          HWND hwndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID param) {
  return CreateWindowExW(0, className, windowName, style, x, y, width, height, hwndParent, hMenu, hInstance, param);
}
// A window ends with its thread too (silently, no message then).
// Owned windows and children go too: WM_DESTROY to the window and then down the tree, WM_NCDESTROY
// from the leaves up. The handle is dead when DestroyWindow returns, also when called inside the
// window's own dispatch, whose procedure still runs to its end safely.
VKR_API BOOL DestroyWindow(HWND hwnd);
VKR_API BOOL IsWindow(HWND hwnd);
VKR_API LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the procedure as it is (no text conversion), keeping the window's object alive meanwhile.
VKR_API LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API HWND GetWindow(HWND hwnd, UINT cmd);
// The parent of a child, the owner of a WS_POPUP window, else null.
VKR_API HWND GetParent(HWND hwnd);
VKR_API HWND SetParent(HWND child, HWND newParent);
VKR_API HWND GetAncestor(HWND hwnd, UINT flags);
VKR_API BOOL IsChild(HWND parent, HWND hwnd);
// The first direct child with the id.
VKR_API HWND GetDlgItem(HWND dialog, int id);
VKR_API int GetDlgCtrlID(HWND hwnd);
// Every descendant, depth first in creation order, until the procedure answers FALSE.
VKR_API BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
VKR_API HWND GetDesktopWindow();
VKR_API DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId);

// ---- Window data ----
// Negative indices as GWL_*/GWLP_*; a non-negative one is a byte offset into the cbWndExtra
// bytes (ERROR_INVALID_INDEX beyond them). GWL_STYLE and GWL_EXSTYLE send WM_STYLECHANGING, whose
// STYLESTRUCT the window may change, then WM_STYLECHANGED. GWLP_WNDPROC of the W form makes the
// window's procedure a Unicode one, of the A form an ANSI one.
VKR_API LONG GetWindowLongA(HWND hwnd, int index);
VKR_API LONG GetWindowLongW(HWND hwnd, int index);
VKR_API LONG SetWindowLongA(HWND hwnd, int index, LONG value);
VKR_API LONG SetWindowLongW(HWND hwnd, int index, LONG value);
VKR_API LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
VKR_API LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
VKR_API LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
VKR_API LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
VKR_API BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data);
VKR_API BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data);
VKR_API HANDLE GetPropA(HWND hwnd, LPCSTR name);
VKR_API HANDLE GetPropW(HWND hwnd, LPCWSTR name);
VKR_API HANDLE RemovePropA(HWND hwnd, LPCSTR name);
VKR_API HANDLE RemovePropW(HWND hwnd, LPCWSTR name);

// ---- Text (through WM_SETTEXT / WM_GETTEXT / WM_GETTEXTLENGTH) ----
VKR_API BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
VKR_API BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
// Copies at most maxCount - 1 units and a terminator; returns the units copied.
VKR_API int GetWindowTextA(HWND hwnd, LPSTR text, int maxCount);
VKR_API int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount);
VKR_API int GetWindowTextLengthA(HWND hwnd);
VKR_API int GetWindowTextLengthW(HWND hwnd);
VKR_API BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
VKR_API BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
VKR_API UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount);
VKR_API UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount);
// Leading and trailing blanks are skipped; a text that is not a whole number (or overflows) gives
// 0 with *translated FALSE.
VKR_API UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
VKR_API BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
VKR_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
VKR_API LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Geometry ----
VKR_API BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// WM_WINDOWPOSCHANGING (the window may change the WINDOWPOS), the change, WM_WINDOWPOSCHANGED
// (DefWindowProc sends WM_MOVE and WM_SIZE, each only when that really changed). SWP_SHOWWINDOW
// and SWP_HIDEWINDOW show and hide as ShowWindow does. A size change invalidates the window.
VKR_API BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
VKR_API BOOL BringWindowToTop(HWND hwnd);
// Screen coordinates.
VKR_API BOOL GetWindowRect(HWND hwnd, LPRECT rect);
// Always (0, 0, width, height) of the client area.
VKR_API BOOL GetClientRect(HWND hwnd, LPRECT rect);
// A null window stands for the screen. Returns the offset, x in the low word and y in the high
// word; 0 with ERROR_INVALID_WINDOW_HANDLE for a stale window (check GetLastError).
VKR_API int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count);
VKR_API BOOL ClientToScreen(HWND hwnd, LPPOINT point);
VKR_API BOOL ScreenToClient(HWND hwnd, LPPOINT point);
VKR_API BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle);
// The deepest visible window at a screen point (disabled ones included), or null.
VKR_API HWND WindowFromPoint(POINT point);
// Moves the children by (dx, dy) (ScrollWindow always) and invalidates the client area.
VKR_API BOOL ScrollWindow(HWND hwnd, int dx, int dy, LPCRECT scroll, LPCRECT clip);

// ---- Visibility, enabled state, focus, capture, keys ----
// Returns whether the window was visible before. WM_SHOWWINDOW only on a change; hiding or showing
// a parent sends nothing to its children.
VKR_API BOOL ShowWindow(HWND hwnd, int cmd);
// The window and all its ancestors have WS_VISIBLE.
VKR_API BOOL IsWindowVisible(HWND hwnd);
// Returns whether the window was disabled before; WM_ENABLE only on a change. Disabling the focus
// window (or its ancestor) takes the focus away.
VKR_API BOOL EnableWindow(HWND hwnd, BOOL enable);
VKR_API BOOL IsWindowEnabled(HWND hwnd);
// One focus window per thread: WM_KILLFOCUS (wParam the new one) to the old window, then
// WM_SETFOCUS (wParam the old one) to the new. Returns the old focus window. A disabled window or
// a window of another thread is refused (null).
VKR_API HWND SetFocus(HWND hwnd);
VKR_API HWND GetFocus();
VKR_API HWND GetActiveWindow();
VKR_API HWND SetActiveWindow(HWND hwnd);
VKR_API HWND SetCapture(HWND hwnd);
VKR_API HWND GetCapture();
VKR_API BOOL ReleaseCapture();
VKR_API BOOL GetCursorPos(LPPOINT point);
VKR_API BOOL SetCursorPos(int x, int y);
// The calling thread's key state as the input helpers left it: bit 15 down, bit 0 toggled.
VKR_API SHORT GetKeyState(int virtKey);
VKR_API SHORT GetAsyncKeyState(int virtKey);

// ---- Messages ----
// 0xC000..0xFFFF, the same number for the same name without regard to case; never
// vkr::platform::kApartmentCallMessage.
VKR_API UINT RegisterWindowMessageA(LPCSTR name);
VKR_API UINT RegisterWindowMessageW(LPCWSTR name);

// ---- Paint requests (the drawing itself, BeginPaint and the DCs, is GDI's: gdi.h) ----
// The update area is one rectangle per window (the union of what was invalidated). A window with
// an update area gets WM_PAINT from its thread's queue when nothing else is queued; after its
// procedure has handled a WM_PAINT the area is valid.
VKR_API BOOL InvalidateRect(HWND hwnd, LPCRECT rect, BOOL erase);
VKR_API BOOL ValidateRect(HWND hwnd, LPCRECT rect);
// Sends WM_PAINT now when the window has an update area.
VKR_API BOOL UpdateWindow(HWND hwnd);
VKR_API BOOL RedrawWindow(HWND hwnd, LPCRECT update, HRGN region, UINT flags);
VKR_API BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase);

namespace vkr::ui {

// Unregisters every local class registered with the instance `module` that has no window left; the
// number unregistered. A module does so when it is unloaded, so that the module loaded again
// registers its classes anew and runs its own procedures.
VKR_API UINT UnregisterModuleClasses(HMODULE module);

constexpr int kDesktopWidth = 1920;
constexpr int kDesktopHeight = 1080;

// ---- Built-in classes (registered by the platform's controls) ----
// A global class of the platform, whose procedure is a Unicode one. textMessages: the class's
// item texts (CB_/LB_ strings, EM_REPLACESEL) are converted for "A" callers as its window texts
// are.
struct BuiltinClass {
  LPCWSTR name;
  UINT style;
  WNDPROC proc;
  int cbWndExtra;
  HCURSOR cursor;
  HBRUSH background;
  bool textMessages;
};
VKR_API ATOM RegisterBuiltinClass(const BuiltinClass& cls);

// ---- Per-window object slot for the ATL-style classes (not GWLP_USERDATA) ----
VKR_API void SetWindowObject(HWND hwnd, void* object);
VKR_API void* GetWindowObject(HWND hwnd);

// ---- The host loop and its filter chain ----
// A filter sees each message the host loop takes before it is translated and dispatched; true
// consumes it. Filters are per thread and run in the order they were added, then the dialog
// manager (IsDialogMessage for the dialog that holds the message's window). The modal pumps (the
// apartment waits, WaitWithMessageLoop, PeekMessage loops of their own) run no filter.
using MessageFilter = std::function<bool(MSG* msg)>;
VKR_API UINT_PTR AddMessageFilter(MessageFilter filter);
VKR_API void RemoveMessageFilter(UINT_PTR cookie);
// The dialog manager's slot: answers whether it handled the message. Installed by the dialogs.
VKR_API void SetDialogMessageHook(BOOL (*isDialogMessage)(MSG* msg));
// Runs the filter chain on msg; true when a filter or the dialog manager consumed it.
VKR_API bool RunMessageFilters(MSG* msg);
// The host loop's handling of one taken message: the filters, else TranslateMessage and
// DispatchMessage.
VKR_API void ProcessHostMessage(MSG* msg);
// GetMessage until WM_QUIT, each message through ProcessHostMessage; returns WM_QUIT's code.
VKR_API int RunHostMessageLoop();
// Handles everything queued for the calling thread through the host loop's handling (posted
// messages, paints, due timers, also those that handling makes) until nothing is left. False when
// maxMessages were handled and more remain, or a WM_QUIT was taken (it is posted again).
VKR_API bool PumpUntilIdle(std::size_t maxMessages = 100000);
// Pumps as PumpUntilIdle does, waiting for more, until done() is true (true) or timeoutMs passes.
VKR_API bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// ---- Paint support for GDI ----
// The windows of the thread that need painting (visible, with an update area), parents first.
VKR_API std::vector<HWND> WindowsNeedingPaint(DWORD threadId);
// For BeginPaint: the update rectangle (client coordinates) and whether the background is to be
// erased; the window becomes valid and the erase request is taken. False for a stale window.
VKR_API bool TakePaintRequest(HWND hwnd, RECT* update, bool* erase);
// GDI's side of DefWindowProc: a DC for WM_ERASEBKGND and the background fill. Unset, WM_PAINT's
// default validates without erasing and WM_ERASEBKGND answers 0.
struct PaintHooks {
  HDC (*getDC)(HWND hwnd);
  int (*releaseDC)(HWND hwnd, HDC dc);
  BOOL (*eraseBackground)(HWND hwnd, HDC dc, HBRUSH brush);
};
VKR_API void SetPaintHooks(const PaintHooks* hooks);

// ---- Input helpers (tests and the host) ----
// Each helper must run on the thread that owns the window. Input is posted to the window's queue
// and pumped through the host loop's handling (PumpUntilIdle: filters, dialog manager,
// TranslateMessage, dispatch), one event at a time, as a person's input arrives; GetKeyState is
// updated before each key event is posted.
//
// Click: WM_SETCURSOR (sent), WM_MOUSEACTIVATE (sent; an answer of MA_NOACTIVATE* keeps the focus,
// *ANDEAT drops the button messages), the focus to the window unless it answers DLGC_STATIC to
// WM_GETDLGCODE, then WM_LBUTTONDOWN and WM_LBUTTONUP (posted) at the client point (the centre
// when pt is null). A hidden or disabled window (or ancestor) gets nothing: false.
VKR_API bool Click(HWND hwnd, const POINT* pt = nullptr);
VKR_API bool DoubleClick(HWND hwnd, const POINT* pt = nullptr);
VKR_API bool RightClick(HWND hwnd, const POINT* pt = nullptr);
// WM_SETCURSOR and WM_MOUSEMOVE at the client point.
VKR_API bool MoveMouseOver(HWND hwnd, const POINT* pt = nullptr);
// Modifier bits for PressKey.
constexpr UINT kShift = 1;
constexpr UINT kControl = 2;
constexpr UINT kAlt = 4;
// Key down and up to the focus window (the thread's focus, or `to` when given), with the
// modifiers held around it; with kAlt the key messages are WM_SYSKEYDOWN/WM_SYSKEYUP.
// TranslateMessage makes WM_CHAR/WM_SYSCHAR of character keys. False without a focus window.
VKR_API bool PressKey(int vk, UINT modifiers = 0, HWND to = nullptr);
// Each character of the UTF-8 text as a key press (Shift for capitals); characters without a key
// of their own come as VK_PACKET with the character.
VKR_API bool TypeText(HWND hwnd, std::string_view text);
// Selects an item of a list-like control as a person does (the control class's own handler, set
// by the controls); false when the class has none or the item is not there.
VKR_API bool SelectItem(HWND control, int index);
VKR_API bool SelectItem(HWND control, std::string_view text);
using SelectItemHandler = bool (*)(HWND control, int index, const char* text);
VKR_API void SetSelectItemHandler(LPCWSTR className, SelectItemHandler handler);

// ---- Reading the tree in tests ----
VKR_API std::string WindowText(HWND hwnd);
VKR_API std::string ClassName(HWND hwnd);

}  // namespace vkr::ui

// The standard and common controls: static, button, edit, combo box, list box, scroll bar, tree
// view, tab control, tooltips, the splitter window, and the classes the system names only by class.
//
// Every control keeps its state in memory and answers its messages with the Windows numbers; its
// notifications reach the parent as WM_COMMAND (MAKEWPARAM(id, code), lParam = the control) or
// WM_NOTIFY, synchronously, nested inside the message that caused them. A program's change
// (BM_SETCHECK, CB_SETCURSEL, LB_SETSEL, TCM_SETCURSEL ...) notifies nothing, except where Windows
// does: WM_SETTEXT on an edit sends EN_UPDATE then EN_CHANGE, TVM_SELECTITEM sends
// TVN_SELCHANGING (which may veto) then TVN_SELCHANGED. The user's actions (the input helpers of
// windows.h) send what the user's action sends on Windows, in its order.
//
// The classes are system classes, there from the start in every process: "Static", "Button",
// "Edit", "ComboBox", "ListBox", "ScrollBar", "SysTreeView32", "SysTabControl32",
// "tooltips_class32", and the plain windows of the classes named only by class. Their window
// procedures are Unicode; string messages of the list-holding controls (CB_ADDSTRING, LB_GETTEXT,
// ...) carry UTF-8 when sent with the "A" calls, as WM_SETTEXT does. Tree, tab and tooltip messages
// are used in their "A" forms (UTF-8 text).
//
// Drawing is GDI's: a control answers its messages and keeps the state a painter needs; the
// accessors in vkr::ui below hand that state out.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/types.h"
#include "platform/win/messages.h"

// ---- Class names ---------------------------------------------------------------------------

inline constexpr char WC_STATICA[] = "Static";
inline constexpr char WC_BUTTONA[] = "Button";
inline constexpr char WC_EDITA[] = "Edit";
inline constexpr char WC_COMBOBOXA[] = "ComboBox";
inline constexpr char WC_LISTBOXA[] = "ListBox";
inline constexpr char WC_SCROLLBARA[] = "ScrollBar";
inline constexpr char WC_TREEVIEWA[] = "SysTreeView32";
inline constexpr char WC_TABCONTROLA[] = "SysTabControl32";
inline constexpr char TOOLTIPS_CLASSA[] = "tooltips_class32";
inline constexpr char WC_LISTVIEWA[] = "SysListView32";
inline constexpr char WC_HEADERA[] = "SysHeader32";
inline constexpr char WC_COMBOBOXEXA[] = "ComboBoxEx32";
inline constexpr char WC_IPADDRESSA[] = "SysIPAddress32";
inline constexpr char WC_LINK[] = "SysLink";
inline constexpr char TRACKBAR_CLASSA[] = "msctls_trackbar32";
inline constexpr char PROGRESS_CLASSA[] = "msctls_progress32";
inline constexpr char UPDOWN_CLASSA[] = "msctls_updown32";
inline constexpr char HOTKEY_CLASSA[] = "msctls_hotkey32";
inline constexpr char STATUSCLASSNAMEA[] = "msctls_statusbar32";
inline constexpr char TOOLBARCLASSNAMEA[] = "ToolbarWindow32";
inline constexpr char ANIMATE_CLASSA[] = "SysAnimate32";
inline constexpr char DATETIMEPICK_CLASSA[] = "SysDateTimePick32";
inline constexpr char MONTHCAL_CLASSA[] = "SysMonthCal32";
inline constexpr char RICHEDIT_CLASS10A[] = "RICHEDIT";
inline constexpr char RICHEDIT_CLASSA[] = "RichEdit20A";
inline constexpr char MSFTEDIT_CLASSA[] = "RICHEDIT50W";

inline constexpr char16_t WC_STATICW[] = u"Static";
inline constexpr char16_t WC_BUTTONW[] = u"Button";
inline constexpr char16_t WC_EDITW[] = u"Edit";
inline constexpr char16_t WC_COMBOBOXW[] = u"ComboBox";
inline constexpr char16_t WC_LISTBOXW[] = u"ListBox";
inline constexpr char16_t WC_SCROLLBARW[] = u"ScrollBar";
inline constexpr char16_t WC_TREEVIEWW[] = u"SysTreeView32";
inline constexpr char16_t WC_TABCONTROLW[] = u"SysTabControl32";
inline constexpr char16_t TOOLTIPS_CLASSW[] = u"tooltips_class32";

// The system's code is built with the "A" forms: the plain names are theirs.
inline constexpr const char* WC_STATIC = WC_STATICA;
inline constexpr const char* WC_BUTTON = WC_BUTTONA;
inline constexpr const char* WC_EDIT = WC_EDITA;
inline constexpr const char* WC_COMBOBOX = WC_COMBOBOXA;
inline constexpr const char* WC_LISTBOX = WC_LISTBOXA;
inline constexpr const char* WC_SCROLLBAR = WC_SCROLLBARA;
inline constexpr const char* WC_TREEVIEW = WC_TREEVIEWA;
inline constexpr const char* WC_TABCONTROL = WC_TABCONTROLA;
inline constexpr const char* TOOLTIPS_CLASS = TOOLTIPS_CLASSA;
inline constexpr const char* WC_LISTVIEW = WC_LISTVIEWA;
inline constexpr const char* TRACKBAR_CLASS = TRACKBAR_CLASSA;
inline constexpr const char* PROGRESS_CLASS = PROGRESS_CLASSA;
inline constexpr const char* UPDOWN_CLASS = UPDOWN_CLASSA;

// ---- Common controls initialisation ------------------------------------------------------------

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;
constexpr DWORD ICC_LISTVIEW_CLASSES = 0x00000001;
constexpr DWORD ICC_TREEVIEW_CLASSES = 0x00000002;
constexpr DWORD ICC_BAR_CLASSES = 0x00000004;
constexpr DWORD ICC_TAB_CLASSES = 0x00000008;
constexpr DWORD ICC_UPDOWN_CLASS = 0x00000010;
constexpr DWORD ICC_PROGRESS_CLASS = 0x00000020;
constexpr DWORD ICC_HOTKEY_CLASS = 0x00000040;
constexpr DWORD ICC_ANIMATE_CLASS = 0x00000080;
constexpr DWORD ICC_WIN95_CLASSES = 0x000000FF;
constexpr DWORD ICC_DATE_CLASSES = 0x00000100;
constexpr DWORD ICC_USEREX_CLASSES = 0x00000200;
constexpr DWORD ICC_COOL_CLASSES = 0x00000400;
constexpr DWORD ICC_INTERNET_CLASSES = 0x00000800;
constexpr DWORD ICC_PAGESCROLLER_CLASS = 0x00001000;
constexpr DWORD ICC_NATIVEFNTCTL_CLASS = 0x00002000;
constexpr DWORD ICC_STANDARD_CLASSES = 0x00004000;
constexpr DWORD ICC_LINK_CLASS = 0x00008000;

// The classes exist from the start; these only check their argument.
VKR_API void InitCommonControls();
// FALSE for a null argument or a wrong dwSize.
VKR_API BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);

// ---- Notifications through WM_NOTIFY common to the common controls ---------------------------

constexpr UINT NM_FIRST = 0U;
constexpr UINT NM_OUTOFMEMORY = NM_FIRST - 1;
constexpr UINT NM_CLICK = NM_FIRST - 2;
constexpr UINT NM_DBLCLK = NM_FIRST - 3;
constexpr UINT NM_RETURN = NM_FIRST - 4;
constexpr UINT NM_RCLICK = NM_FIRST - 5;
constexpr UINT NM_RDBLCLK = NM_FIRST - 6;
constexpr UINT NM_SETFOCUS = NM_FIRST - 7;
constexpr UINT NM_KILLFOCUS = NM_FIRST - 8;

// ---- Owner drawing -----------------------------------------------------------------------------

constexpr UINT ODT_MENU = 1;
constexpr UINT ODT_LISTBOX = 2;
constexpr UINT ODT_COMBOBOX = 3;
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODT_STATIC = 5;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODA_FOCUS = 0x0004;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_CHECKED = 0x0008;
constexpr UINT ODS_FOCUS = 0x0010;
constexpr UINT ODS_DEFAULT = 0x0020;
constexpr UINT ODS_HOTLIGHT = 0x0040;
constexpr UINT ODS_INACTIVE = 0x0080;
constexpr UINT ODS_NOACCEL = 0x0100;
constexpr UINT ODS_NOFOCUSRECT = 0x0200;
constexpr UINT ODS_COMBOBOXEDIT = 0x1000;

// WM_DRAWITEM's lParam.
struct DRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  ULONG_PTR itemData;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

// ---- Static ------------------------------------------------------------------------------------

constexpr DWORD SS_LEFT = 0x00000000;
constexpr DWORD SS_CENTER = 0x00000001;
constexpr DWORD SS_RIGHT = 0x00000002;
constexpr DWORD SS_ICON = 0x00000003;
constexpr DWORD SS_BLACKRECT = 0x00000004;
constexpr DWORD SS_GRAYRECT = 0x00000005;
constexpr DWORD SS_WHITERECT = 0x00000006;
constexpr DWORD SS_BLACKFRAME = 0x00000007;
constexpr DWORD SS_GRAYFRAME = 0x00000008;
constexpr DWORD SS_WHITEFRAME = 0x00000009;
constexpr DWORD SS_USERITEM = 0x0000000A;
constexpr DWORD SS_SIMPLE = 0x0000000B;
constexpr DWORD SS_LEFTNOWORDWRAP = 0x0000000C;
constexpr DWORD SS_OWNERDRAW = 0x0000000D;
constexpr DWORD SS_BITMAP = 0x0000000E;
constexpr DWORD SS_ENHMETAFILE = 0x0000000F;
constexpr DWORD SS_ETCHEDHORZ = 0x00000010;
constexpr DWORD SS_ETCHEDVERT = 0x00000011;
constexpr DWORD SS_ETCHEDFRAME = 0x00000012;
constexpr DWORD SS_TYPEMASK = 0x0000001F;
constexpr DWORD SS_REALSIZECONTROL = 0x00000040;
constexpr DWORD SS_NOPREFIX = 0x00000080;
constexpr DWORD SS_NOTIFY = 0x00000100;
constexpr DWORD SS_CENTERIMAGE = 0x00000200;
constexpr DWORD SS_RIGHTJUST = 0x00000400;
constexpr DWORD SS_REALSIZEIMAGE = 0x00000800;
constexpr DWORD SS_SUNKEN = 0x00001000;
constexpr DWORD SS_EDITCONTROL = 0x00002000;
constexpr DWORD SS_ENDELLIPSIS = 0x00004000;
constexpr DWORD SS_PATHELLIPSIS = 0x00008000;
constexpr DWORD SS_WORDELLIPSIS = 0x0000C000;
constexpr DWORD SS_ELLIPSISMASK = 0x0000C000;

constexpr UINT STM_SETICON = 0x0170;
constexpr UINT STM_GETICON = 0x0171;
constexpr UINT STM_SETIMAGE = 0x0172;
constexpr UINT STM_GETIMAGE = 0x0173;

constexpr WORD STN_CLICKED = 0;
constexpr WORD STN_DBLCLK = 1;
constexpr WORD STN_ENABLE = 2;
constexpr WORD STN_DISABLE = 3;

// ---- Button ------------------------------------------------------------------------------------

constexpr DWORD BS_PUSHBUTTON = 0x00000000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001;
constexpr DWORD BS_CHECKBOX = 0x00000002;
constexpr DWORD BS_AUTOCHECKBOX = 0x00000003;
constexpr DWORD BS_RADIOBUTTON = 0x00000004;
constexpr DWORD BS_3STATE = 0x00000005;
constexpr DWORD BS_AUTO3STATE = 0x00000006;
constexpr DWORD BS_GROUPBOX = 0x00000007;
constexpr DWORD BS_USERBUTTON = 0x00000008;
constexpr DWORD BS_AUTORADIOBUTTON = 0x00000009;
constexpr DWORD BS_PUSHBOX = 0x0000000A;
constexpr DWORD BS_OWNERDRAW = 0x0000000B;
constexpr DWORD BS_TYPEMASK = 0x0000000F;
constexpr DWORD BS_LEFTTEXT = 0x00000020;
constexpr DWORD BS_TEXT = 0x00000000;
constexpr DWORD BS_ICON = 0x00000040;
constexpr DWORD BS_BITMAP = 0x00000080;
constexpr DWORD BS_LEFT = 0x00000100;
constexpr DWORD BS_RIGHT = 0x00000200;
constexpr DWORD BS_CENTER = 0x00000300;
constexpr DWORD BS_TOP = 0x00000400;
constexpr DWORD BS_BOTTOM = 0x00000800;
constexpr DWORD BS_VCENTER = 0x00000C00;
constexpr DWORD BS_PUSHLIKE = 0x00001000;
constexpr DWORD BS_MULTILINE = 0x00002000;
constexpr DWORD BS_NOTIFY = 0x00004000;
constexpr DWORD BS_FLAT = 0x00008000;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT BM_GETIMAGE = 0x00F6;
constexpr UINT BM_SETIMAGE = 0x00F7;
constexpr UINT BM_SETDONTCLICK = 0x00F8;

constexpr UINT BST_UNCHECKED = 0x0000;
constexpr UINT BST_CHECKED = 0x0001;
constexpr UINT BST_INDETERMINATE = 0x0002;
constexpr UINT BST_PUSHED = 0x0004;
constexpr UINT BST_FOCUS = 0x0008;

constexpr WORD BN_CLICKED = 0;
constexpr WORD BN_PAINT = 1;
constexpr WORD BN_HILITE = 2;
constexpr WORD BN_UNHILITE = 3;
constexpr WORD BN_DISABLE = 4;
constexpr WORD BN_DOUBLECLICKED = 5;
constexpr WORD BN_PUSHED = BN_HILITE;
constexpr WORD BN_UNPUSHED = BN_UNHILITE;
constexpr WORD BN_DBLCLK = BN_DOUBLECLICKED;
constexpr WORD BN_SETFOCUS = 6;
constexpr WORD BN_KILLFOCUS = 7;

// ---- Edit --------------------------------------------------------------------------------------

constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_UPPERCASE = 0x0008;
constexpr DWORD ES_LOWERCASE = 0x0010;
constexpr DWORD ES_PASSWORD = 0x0020;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_NOHIDESEL = 0x0100;
constexpr DWORD ES_OEMCONVERT = 0x0400;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_WANTRETURN = 0x1000;
constexpr DWORD ES_NUMBER = 0x2000;

constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_GETRECT = 0x00B2;
constexpr UINT EM_SETRECT = 0x00B3;
constexpr UINT EM_SETRECTNP = 0x00B4;
constexpr UINT EM_SCROLL = 0x00B5;
constexpr UINT EM_LINESCROLL = 0x00B6;
constexpr UINT EM_SCROLLCARET = 0x00B7;
constexpr UINT EM_GETMODIFY = 0x00B8;
constexpr UINT EM_SETMODIFY = 0x00B9;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
constexpr UINT EM_LINEINDEX = 0x00BB;
constexpr UINT EM_LINELENGTH = 0x00C1;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_GETLINE = 0x00C4;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETLIMITTEXT = EM_LIMITTEXT;
constexpr UINT EM_CANUNDO = 0x00C6;
constexpr UINT EM_UNDO = 0x00C7;
constexpr UINT EM_LINEFROMCHAR = 0x00C9;
constexpr UINT EM_SETPASSWORDCHAR = 0x00CC;
constexpr UINT EM_EMPTYUNDOBUFFER = 0x00CD;
constexpr UINT EM_GETFIRSTVISIBLELINE = 0x00CE;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EM_GETPASSWORDCHAR = 0x00D2;
constexpr UINT EM_SETMARGINS = 0x00D3;
constexpr UINT EM_GETMARGINS = 0x00D4;
constexpr UINT EM_GETLIMITTEXT = 0x00D5;

constexpr WORD EN_SETFOCUS = 0x0100;
constexpr WORD EN_KILLFOCUS = 0x0200;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD EN_UPDATE = 0x0400;
constexpr WORD EN_ERRSPACE = 0x0500;
constexpr WORD EN_MAXTEXT = 0x0501;
constexpr WORD EN_HSCROLL = 0x0601;
constexpr WORD EN_VSCROLL = 0x0602;

// ---- Combo box ---------------------------------------------------------------------------------

constexpr DWORD CBS_SIMPLE = 0x0001;
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr DWORD CBS_OWNERDRAWFIXED = 0x0010;
constexpr DWORD CBS_OWNERDRAWVARIABLE = 0x0020;
constexpr DWORD CBS_AUTOHSCROLL = 0x0040;
constexpr DWORD CBS_OEMCONVERT = 0x0080;
constexpr DWORD CBS_SORT = 0x0100;
constexpr DWORD CBS_HASSTRINGS = 0x0200;
constexpr DWORD CBS_NOINTEGRALHEIGHT = 0x0400;
constexpr DWORD CBS_DISABLENOSCROLL = 0x0800;
constexpr DWORD CBS_UPPERCASE = 0x2000;
constexpr DWORD CBS_LOWERCASE = 0x4000;

constexpr UINT CB_GETEDITSEL = 0x0140;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_SETEDITSEL = 0x0142;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_DIR = 0x0145;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SHOWDROPDOWN = 0x014F;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_GETDROPPEDCONTROLRECT = 0x0152;
constexpr UINT CB_SETITEMHEIGHT = 0x0153;
constexpr UINT CB_GETITEMHEIGHT = 0x0154;
constexpr UINT CB_SETEXTENDEDUI = 0x0155;
constexpr UINT CB_GETEXTENDEDUI = 0x0156;
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr UINT CB_GETTOPINDEX = 0x015B;
constexpr UINT CB_SETTOPINDEX = 0x015C;
constexpr UINT CB_GETDROPPEDWIDTH = 0x015F;
constexpr UINT CB_SETDROPPEDWIDTH = 0x0160;
constexpr UINT CB_INITSTORAGE = 0x0161;

constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;
constexpr LRESULT CB_ERRSPACE = -2;

constexpr WORD CBN_ERRSPACE = static_cast<WORD>(-1);
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD CBN_DBLCLK = 2;
constexpr WORD CBN_SETFOCUS = 3;
constexpr WORD CBN_KILLFOCUS = 4;
constexpr WORD CBN_EDITCHANGE = 5;
constexpr WORD CBN_EDITUPDATE = 6;
constexpr WORD CBN_DROPDOWN = 7;
constexpr WORD CBN_CLOSEUP = 8;
constexpr WORD CBN_SELENDOK = 9;
constexpr WORD CBN_SELENDCANCEL = 10;

// ---- List box ----------------------------------------------------------------------------------

constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_SORT = 0x0002;
constexpr DWORD LBS_NOREDRAW = 0x0004;
constexpr DWORD LBS_MULTIPLESEL = 0x0008;
constexpr DWORD LBS_OWNERDRAWFIXED = 0x0010;
constexpr DWORD LBS_OWNERDRAWVARIABLE = 0x0020;
constexpr DWORD LBS_HASSTRINGS = 0x0040;
constexpr DWORD LBS_USETABSTOPS = 0x0080;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr DWORD LBS_MULTICOLUMN = 0x0200;
constexpr DWORD LBS_WANTKEYBOARDINPUT = 0x0400;
constexpr DWORD LBS_EXTENDEDSEL = 0x0800;
constexpr DWORD LBS_DISABLENOSCROLL = 0x1000;
constexpr DWORD LBS_NODATA = 0x2000;
constexpr DWORD LBS_NOSEL = 0x4000;
constexpr DWORD LBS_COMBOBOX = 0x8000;

constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_SELITEMRANGEEX = 0x0183;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETSEL = 0x0185;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETSEL = 0x0187;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_SELECTSTRING = 0x018C;
constexpr UINT LB_GETTOPINDEX = 0x018E;
constexpr UINT LB_FINDSTRING = 0x018F;
constexpr UINT LB_GETSELCOUNT = 0x0190;
constexpr UINT LB_GETSELITEMS = 0x0191;
constexpr UINT LB_SETTOPINDEX = 0x0197;
constexpr UINT LB_GETITEMRECT = 0x0198;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr UINT LB_SELITEMRANGE = 0x019B;
constexpr UINT LB_SETANCHORINDEX = 0x019C;
constexpr UINT LB_GETANCHORINDEX = 0x019D;
constexpr UINT LB_SETCARETINDEX = 0x019E;
constexpr UINT LB_GETCARETINDEX = 0x019F;
constexpr UINT LB_SETITEMHEIGHT = 0x01A0;
constexpr UINT LB_GETITEMHEIGHT = 0x01A1;
constexpr UINT LB_FINDSTRINGEXACT = 0x01A2;

constexpr LRESULT LB_OKAY = 0;
constexpr LRESULT LB_ERR = -1;
constexpr LRESULT LB_ERRSPACE = -2;

constexpr WORD LBN_ERRSPACE = static_cast<WORD>(-2);
constexpr WORD LBN_SELCHANGE = 1;
constexpr WORD LBN_DBLCLK = 2;
constexpr WORD LBN_SELCANCEL = 3;
constexpr WORD LBN_SETFOCUS = 4;
constexpr WORD LBN_KILLFOCUS = 5;

// ---- Scroll bar --------------------------------------------------------------------------------

constexpr DWORD SBS_HORZ = 0x0000;
constexpr DWORD SBS_VERT = 0x0001;
constexpr DWORD SBS_TOPALIGN = 0x0002;
constexpr DWORD SBS_LEFTALIGN = 0x0002;
constexpr DWORD SBS_BOTTOMALIGN = 0x0004;
constexpr DWORD SBS_RIGHTALIGN = 0x0004;
constexpr DWORD SBS_SIZEBOXTOPLEFTALIGN = 0x0002;
constexpr DWORD SBS_SIZEBOXBOTTOMRIGHTALIGN = 0x0004;
constexpr DWORD SBS_SIZEBOX = 0x0008;
constexpr DWORD SBS_SIZEGRIP = 0x0010;

// Which bar: the window's own (WS_HSCROLL, WS_VSCROLL) or a scroll bar control.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_CTL = 2;
constexpr int SB_BOTH = 3;

// WM_HSCROLL / WM_VSCROLL request codes (LOWORD(wParam)).
constexpr WORD SB_LINEUP = 0;
constexpr WORD SB_LINELEFT = 0;
constexpr WORD SB_LINEDOWN = 1;
constexpr WORD SB_LINERIGHT = 1;
constexpr WORD SB_PAGEUP = 2;
constexpr WORD SB_PAGELEFT = 2;
constexpr WORD SB_PAGEDOWN = 3;
constexpr WORD SB_PAGERIGHT = 3;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_THUMBTRACK = 5;
constexpr WORD SB_TOP = 6;
constexpr WORD SB_LEFT = 6;
constexpr WORD SB_BOTTOM = 7;
constexpr WORD SB_RIGHT = 7;
constexpr WORD SB_ENDSCROLL = 8;

constexpr UINT SBM_SETPOS = 0x00E0;
constexpr UINT SBM_GETPOS = 0x00E1;
constexpr UINT SBM_SETRANGE = 0x00E2;
constexpr UINT SBM_GETRANGE = 0x00E3;
constexpr UINT SBM_ENABLE_ARROWS = 0x00E4;
constexpr UINT SBM_SETRANGEREDRAW = 0x00E6;
constexpr UINT SBM_SETSCROLLINFO = 0x00E9;
constexpr UINT SBM_GETSCROLLINFO = 0x00EA;

constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_DISABLENOSCROLL = 0x0008;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

constexpr UINT ESB_ENABLE_BOTH = 0x0000;
constexpr UINT ESB_DISABLE_LTUP = 0x0001;
constexpr UINT ESB_DISABLE_RTDN = 0x0002;
constexpr UINT ESB_DISABLE_BOTH = 0x0003;

struct SCROLLINFO {
  UINT cbSize;
  UINT fMask;
  int nMin;
  int nMax;
  UINT nPage;
  int nPos;
  int nTrackPos;
};
using LPSCROLLINFO = SCROLLINFO*;
using LPCSCROLLINFO = const SCROLLINFO*;

// The bar's page is clamped to the range's size (nMax - nMin + 1), the position to
// nMin .. nMax - max(nPage - 1, 0). SB_HORZ/SB_VERT address the bars of any window (WS_HSCROLL,
// WS_VSCROLL); SB_CTL a scroll bar control. A failure answers 0 / FALSE.
VKR_API int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw);
VKR_API BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info);
// Returns the previous position.
VKR_API int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw);
VKR_API int GetScrollPos(HWND hwnd, int bar);
VKR_API BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw);
VKR_API BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos);
VKR_API BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show);
VKR_API BOOL EnableScrollBar(HWND hwnd, UINT bar, UINT arrows);

// ---- Tree view ---------------------------------------------------------------------------------

using HTREEITEM = struct TREEITEM__*;

constexpr DWORD TVS_HASBUTTONS = 0x0001;
constexpr DWORD TVS_HASLINES = 0x0002;
constexpr DWORD TVS_LINESATROOT = 0x0004;
constexpr DWORD TVS_EDITLABELS = 0x0008;
constexpr DWORD TVS_DISABLEDRAGDROP = 0x0010;
constexpr DWORD TVS_SHOWSELALWAYS = 0x0020;
constexpr DWORD TVS_RTLREADING = 0x0040;
constexpr DWORD TVS_NOTOOLTIPS = 0x0080;
constexpr DWORD TVS_CHECKBOXES = 0x0100;
constexpr DWORD TVS_TRACKSELECT = 0x0200;
constexpr DWORD TVS_SINGLEEXPAND = 0x0400;
constexpr DWORD TVS_INFOTIP = 0x0800;
constexpr DWORD TVS_FULLROWSELECT = 0x1000;
constexpr DWORD TVS_NOSCROLL = 0x2000;
constexpr DWORD TVS_NONEVENHEIGHT = 0x4000;
constexpr DWORD TVS_NOHSCROLL = 0x8000;

constexpr UINT TV_FIRST = 0x1100;
constexpr UINT TVM_INSERTITEMA = TV_FIRST + 0;
constexpr UINT TVM_DELETEITEM = TV_FIRST + 1;
constexpr UINT TVM_EXPAND = TV_FIRST + 2;
constexpr UINT TVM_GETITEMRECT = TV_FIRST + 4;
constexpr UINT TVM_GETCOUNT = TV_FIRST + 5;
constexpr UINT TVM_GETINDENT = TV_FIRST + 6;
constexpr UINT TVM_SETINDENT = TV_FIRST + 7;
constexpr UINT TVM_GETIMAGELIST = TV_FIRST + 8;
constexpr UINT TVM_SETIMAGELIST = TV_FIRST + 9;
constexpr UINT TVM_GETNEXTITEM = TV_FIRST + 10;
constexpr UINT TVM_SELECTITEM = TV_FIRST + 11;
constexpr UINT TVM_GETITEMA = TV_FIRST + 12;
constexpr UINT TVM_SETITEMA = TV_FIRST + 13;
constexpr UINT TVM_GETVISIBLECOUNT = TV_FIRST + 16;
constexpr UINT TVM_ENSUREVISIBLE = TV_FIRST + 20;
constexpr UINT TVM_GETITEMSTATE = TV_FIRST + 39;

constexpr WPARAM TVGN_ROOT = 0x0000;
constexpr WPARAM TVGN_NEXT = 0x0001;
constexpr WPARAM TVGN_PREVIOUS = 0x0002;
constexpr WPARAM TVGN_PARENT = 0x0003;
constexpr WPARAM TVGN_CHILD = 0x0004;
constexpr WPARAM TVGN_FIRSTVISIBLE = 0x0005;
constexpr WPARAM TVGN_NEXTVISIBLE = 0x0006;
constexpr WPARAM TVGN_PREVIOUSVISIBLE = 0x0007;
constexpr WPARAM TVGN_DROPHILITE = 0x0008;
constexpr WPARAM TVGN_CARET = 0x0009;
constexpr WPARAM TVGN_LASTVISIBLE = 0x000A;

constexpr WPARAM TVE_COLLAPSE = 0x0001;
constexpr WPARAM TVE_EXPAND = 0x0002;
constexpr WPARAM TVE_TOGGLE = 0x0003;
constexpr WPARAM TVE_EXPANDPARTIAL = 0x4000;
constexpr WPARAM TVE_COLLAPSERESET = 0x8000;

constexpr UINT TVIF_TEXT = 0x0001;
constexpr UINT TVIF_IMAGE = 0x0002;
constexpr UINT TVIF_PARAM = 0x0004;
constexpr UINT TVIF_STATE = 0x0008;
constexpr UINT TVIF_HANDLE = 0x0010;
constexpr UINT TVIF_SELECTEDIMAGE = 0x0020;
constexpr UINT TVIF_CHILDREN = 0x0040;
constexpr UINT TVIF_INTEGRAL = 0x0080;

constexpr UINT TVIS_SELECTED = 0x0002;
constexpr UINT TVIS_CUT = 0x0004;
constexpr UINT TVIS_DROPHILITED = 0x0008;
constexpr UINT TVIS_BOLD = 0x0010;
constexpr UINT TVIS_EXPANDED = 0x0020;
constexpr UINT TVIS_EXPANDEDONCE = 0x0040;
constexpr UINT TVIS_EXPANDPARTIAL = 0x0080;
constexpr UINT TVIS_OVERLAYMASK = 0x0F00;
constexpr UINT TVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT TVIS_USERMASK = 0xF000;

inline const HTREEITEM TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x10000));
inline const HTREEITEM TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFF));
inline const HTREEITEM TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFE));
inline const HTREEITEM TVI_SORT = reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFD));
inline const LPSTR LPSTR_TEXTCALLBACKA = reinterpret_cast<LPSTR>(static_cast<LONG_PTR>(-1));

constexpr UINT TVN_FIRST = 0U - 400U;
constexpr UINT TVN_SELCHANGINGA = TVN_FIRST - 1;
constexpr UINT TVN_SELCHANGEDA = TVN_FIRST - 2;
constexpr UINT TVN_GETDISPINFOA = TVN_FIRST - 3;
constexpr UINT TVN_SETDISPINFOA = TVN_FIRST - 4;
constexpr UINT TVN_ITEMEXPANDINGA = TVN_FIRST - 5;
constexpr UINT TVN_ITEMEXPANDEDA = TVN_FIRST - 6;
constexpr UINT TVN_BEGINDRAGA = TVN_FIRST - 7;
constexpr UINT TVN_DELETEITEMA = TVN_FIRST - 9;
constexpr UINT TVN_KEYDOWN = TVN_FIRST - 12;

constexpr UINT TVC_UNKNOWN = 0x0000;
constexpr UINT TVC_BYMOUSE = 0x0001;
constexpr UINT TVC_BYKEYBOARD = 0x0002;

struct TVITEMA {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
};
using LPTVITEMA = TVITEMA*;
using TV_ITEMA = TVITEMA;

struct TVITEMEXA {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
  int iIntegral;
  UINT uStateEx;
  HWND hwnd;
  int iExpandedImage;
  int iReserved;
};

struct TVINSERTSTRUCTA {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  union {
    TVITEMEXA itemex;
    TVITEMA item;
  };
};
using LPTVINSERTSTRUCTA = TVINSERTSTRUCTA*;
using TV_INSERTSTRUCTA = TVINSERTSTRUCTA;

struct NMTREEVIEWA {
  NMHDR hdr;
  UINT action;
  TVITEMA itemOld;
  TVITEMA itemNew;
  POINT ptDrag;
};
using LPNMTREEVIEWA = NMTREEVIEWA*;
using NM_TREEVIEWA = NMTREEVIEWA;

struct NMTVDISPINFOA {
  NMHDR hdr;
  TVITEMA item;
};

// ---- Tab control -------------------------------------------------------------------------------

constexpr DWORD TCS_SCROLLOPPOSITE = 0x0001;
constexpr DWORD TCS_BOTTOM = 0x0002;
constexpr DWORD TCS_RIGHT = 0x0002;
constexpr DWORD TCS_MULTISELECT = 0x0004;
constexpr DWORD TCS_FLATBUTTONS = 0x0008;
constexpr DWORD TCS_FORCEICONLEFT = 0x0010;
constexpr DWORD TCS_FORCELABELLEFT = 0x0020;
constexpr DWORD TCS_HOTTRACK = 0x0040;
constexpr DWORD TCS_VERTICAL = 0x0080;
constexpr DWORD TCS_TABS = 0x0000;
constexpr DWORD TCS_BUTTONS = 0x0100;
constexpr DWORD TCS_SINGLELINE = 0x0000;
constexpr DWORD TCS_MULTILINE = 0x0200;
constexpr DWORD TCS_FOCUSONBUTTONDOWN = 0x1000;
constexpr DWORD TCS_FOCUSNEVER = 0x8000;

constexpr UINT TCM_FIRST = 0x1300;
constexpr UINT TCM_GETITEMCOUNT = TCM_FIRST + 4;
constexpr UINT TCM_GETITEMA = TCM_FIRST + 5;
constexpr UINT TCM_SETITEMA = TCM_FIRST + 6;
constexpr UINT TCM_INSERTITEMA = TCM_FIRST + 7;
constexpr UINT TCM_DELETEITEM = TCM_FIRST + 8;
constexpr UINT TCM_DELETEALLITEMS = TCM_FIRST + 9;
constexpr UINT TCM_GETCURSEL = TCM_FIRST + 11;
constexpr UINT TCM_SETCURSEL = TCM_FIRST + 12;
constexpr UINT TCM_GETCURFOCUS = TCM_FIRST + 47;
constexpr UINT TCM_SETCURFOCUS = TCM_FIRST + 48;

constexpr UINT TCIF_TEXT = 0x0001;
constexpr UINT TCIF_IMAGE = 0x0002;
constexpr UINT TCIF_RTLREADING = 0x0004;
constexpr UINT TCIF_PARAM = 0x0008;
constexpr UINT TCIF_STATE = 0x0010;

constexpr UINT TCN_FIRST = 0U - 550U;
constexpr UINT TCN_KEYDOWN = TCN_FIRST - 0;
constexpr UINT TCN_SELCHANGE = TCN_FIRST - 1;
constexpr UINT TCN_SELCHANGING = TCN_FIRST - 2;

struct TCITEMA {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
using LPTCITEMA = TCITEMA*;
using TC_ITEMA = TCITEMA;

// ---- Tooltips ----------------------------------------------------------------------------------

constexpr DWORD TTS_ALWAYSTIP = 0x01;
constexpr DWORD TTS_NOPREFIX = 0x02;
constexpr DWORD TTS_NOANIMATE = 0x10;
constexpr DWORD TTS_NOFADE = 0x20;
constexpr DWORD TTS_BALLOON = 0x40;
constexpr DWORD TTS_CLOSE = 0x80;

constexpr UINT TTF_IDISHWND = 0x0001;
constexpr UINT TTF_CENTERTIP = 0x0002;
constexpr UINT TTF_RTLREADING = 0x0004;
constexpr UINT TTF_SUBCLASS = 0x0010;
constexpr UINT TTF_TRACK = 0x0020;
constexpr UINT TTF_ABSOLUTE = 0x0080;
constexpr UINT TTF_TRANSPARENT = 0x0100;
constexpr UINT TTF_PARSELINKS = 0x1000;
constexpr UINT TTF_DI_SETITEM = 0x8000;

constexpr UINT TTM_ACTIVATE = WM_USER + 1;
constexpr UINT TTM_SETDELAYTIME = WM_USER + 3;
constexpr UINT TTM_ADDTOOLA = WM_USER + 4;
constexpr UINT TTM_DELTOOLA = WM_USER + 5;
constexpr UINT TTM_NEWTOOLRECTA = WM_USER + 6;
constexpr UINT TTM_RELAYEVENT = WM_USER + 7;
constexpr UINT TTM_GETTOOLINFOA = WM_USER + 8;
constexpr UINT TTM_SETTOOLINFOA = WM_USER + 9;
constexpr UINT TTM_GETTEXTA = WM_USER + 11;
constexpr UINT TTM_UPDATETIPTEXTA = WM_USER + 12;
constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;
constexpr UINT TTM_SETMAXTIPWIDTH = WM_USER + 24;
constexpr UINT TTM_GETMAXTIPWIDTH = WM_USER + 25;
constexpr UINT TTM_POP = WM_USER + 28;

constexpr UINT TTN_FIRST = 0U - 520U;
constexpr UINT TTN_GETDISPINFOA = TTN_FIRST - 0;
constexpr UINT TTN_SHOW = TTN_FIRST - 1;
constexpr UINT TTN_POP = TTN_FIRST - 2;

struct TOOLINFOA {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
};
using LPTOOLINFOA = TOOLINFOA*;
using TTTOOLINFOA = TOOLINFOA;

// ---- Splitter window ---------------------------------------------------------------------------
// The ATL-style splitter template lives in control_splitter.h (it needs the window classes of
// atlwin.h); its extended styles and pane numbers are here.

constexpr DWORD SPLIT_PROPORTIONAL = 0x00000001;
constexpr DWORD SPLIT_NONINTERACTIVE = 0x00000002;
constexpr DWORD SPLIT_RIGHTALIGNED = 0x00000004;
constexpr DWORD SPLIT_BOTTOMALIGNED = SPLIT_RIGHTALIGNED;
constexpr DWORD SPLIT_GRADIENTBAR = 0x00000008;
constexpr DWORD SPLIT_FIXEDBARSIZE = 0x00000010;
constexpr int SPLIT_PANE_LEFT = 0;
constexpr int SPLIT_PANE_RIGHT = 1;
constexpr int SPLIT_PANE_TOP = SPLIT_PANE_LEFT;
constexpr int SPLIT_PANE_BOTTOM = SPLIT_PANE_RIGHT;
constexpr int SPLIT_PANE_NONE = -1;

// ---- State for painters, tests and the host ----------------------------------------------------

namespace vkr::ui {

// What a painter needs of a control beyond its window's text, style and rectangle. Fields that
// do not apply to the control's class stay at their defaults.
struct ControlState {
  UINT check = 0;         // button: BST_UNCHECKED / CHECKED / INDETERMINATE
  UINT buttonState = 0;   // button: BST_PUSHED | BST_FOCUS, as BM_GETSTATE without the check
  HANDLE image = nullptr; // static (SS_ICON, SS_BITMAP) or button image
  UINT imageType = 0;     // IMAGE_BITMAP 0, IMAGE_ICON 1
  HFONT font = nullptr;   // WM_SETFONT
  int selStart = 0;       // edit selection, in UTF-16 units
  int selEnd = 0;
  int curSel = -1;        // combo, list box (single selection), tab
  bool dropped = false;   // combo: the list is shown
  int count = 0;          // items of a combo, list box, tree or tab control
  std::vector<std::string> items;       // combo, list box, tab texts (UTF-8)
  std::vector<int> selected;            // list box: the selected indexes, ascending
  int scrollMin = 0, scrollMax = 0, scrollPage = 0, scrollPos = 0, scrollTrackPos = 0;
};

// False when hwnd is no control of these classes.
VKR_API bool GetControlState(HWND hwnd, ControlState* state);

// The text of a tooltip's tool (UTF-8); empty when the tool is not there.
VKR_API std::string GetToolTipText(HWND tooltip, HWND toolWindow, UINT_PTR toolId);
// The tooltip's max width as TTM_SETMAXTIPWIDTH set it (-1 until then).
VKR_API int GetToolTipMaxWidth(HWND tooltip);

// The user's scrolling, as a person's click on an arrow (SB_LINEUP/DOWN), in the shaft
// (SB_PAGEUP/DOWN) or drag of the thumb to `thumb` (SB_THUMBTRACK: SB_THUMBTRACK, SB_THUMBPOSITION)
// sends it, then SB_ENDSCROLL: WM_HSCROLL/WM_VSCROLL to the window for its own bar (bar SB_HORZ or
// SB_VERT, lParam null), to the parent for a scroll bar control (bar SB_CTL, lParam the control),
// the thumb position in HIWORD(wParam). The bar itself moves only when the receiver sets it. Runs
// on the window's thread; false for a hidden or disabled window or one without that bar.
VKR_API bool ScrollBy(HWND hwnd, int bar, WORD code, int thumb = 0);

// One line per window of the tree under hwnd (hwnd included), depth-first in child order, indented
// two spaces per level:  class id=N "text" style=0xXXXXXXXX (l,t,r,b) [hidden] [disabled] [focus]
// and the control's state (checked, sel=..., items=[a|b] ...); the rectangle is in screen
// coordinates. For tests and the host.
VKR_API std::string DumpWindowTree(HWND hwnd);

}  // namespace vkr::ui

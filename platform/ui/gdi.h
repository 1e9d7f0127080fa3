// GDI: device contexts, pens, brushes, fonts, bitmaps and icons, drawing, text metrics, the system
// colours and metrics, and the painting of windows.
//
// Drawing goes into in-memory rasters (cairo image surfaces): a memory DC draws into the bitmap
// selected into it, a window DC into the window's own backing picture, which RenderWindowToPng
// puts together with those of the visible children. Everything is pixel-exact and the same on
// every machine: no anti-aliasing, no machine fonts.
//
// Text metrics rule. Text is drawn with bitmap fonts compiled into the platform (made once from
// DejaVu Sans, cell heights 10 to 16 and 20, normal and bold); the machine's font configuration is
// never asked. A font is chosen by its cell height only:
//   - lfHeight > 0 is the cell height; lfHeight < 0 is the character height, and the cell height
//     is (6 * |lfHeight| + 2) / 5 ("MS Sans Serif" 8 pt, lfHeight -11, gives 13);
//     lfHeight 0 gives 13;
//   - the nearest built-in cell height is used (the smaller one on a tie); tmHeight is that
//     height, so layouts never depend on the face name, which is kept only for GetObject;
//   - lfWeight >= 600 chooses the bold table;
//   - the stock SYSTEM_FONT (the font of every new DC) is bold with tmHeight 16; DEFAULT_GUI_FONT
//     and ANSI_VAR_FONT are normal with tmHeight 13.
// A text's extent is the sum of its characters' advances by tmHeight. The "A" calls take UTF-8;
// characters beyond Latin-1 draw as '?'.
//
// GDI objects are handles of the platform's handle table (never reused; a stale handle fails
// quietly). vkr::ui::GdiObjectCounts gives the live objects per type, so tests can show that a
// window tree leaves nothing behind.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/types.h"

// ---- Objects ---------------------------------------------------------------------------------

// GetStockObject.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int OEM_FIXED_FONT = 10;
constexpr int ANSI_FIXED_FONT = 11;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int DEVICE_DEFAULT_FONT = 14;
constexpr int SYSTEM_FIXED_FONT = 16;
constexpr int DEFAULT_GUI_FONT = 17;

// GetObjectType / GetCurrentObject.
constexpr DWORD OBJ_PEN = 1;
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_FONT = 6;
constexpr DWORD OBJ_BITMAP = 7;
constexpr DWORD OBJ_MEMDC = 10;
constexpr DWORD OBJ_EXTPEN = 11;

// Pens.
constexpr DWORD PS_SOLID = 0;
constexpr DWORD PS_DASH = 1;
constexpr DWORD PS_DOT = 2;
constexpr DWORD PS_DASHDOT = 3;
constexpr DWORD PS_DASHDOTDOT = 4;
constexpr DWORD PS_NULL = 5;
constexpr DWORD PS_INSIDEFRAME = 6;
constexpr DWORD PS_USERSTYLE = 7;
constexpr DWORD PS_ALTERNATE = 8;
constexpr DWORD PS_STYLE_MASK = 0x0000000F;
constexpr DWORD PS_COSMETIC = 0x00000000;
constexpr DWORD PS_GEOMETRIC = 0x00010000;
constexpr DWORD PS_TYPE_MASK = 0x000F0000;

// Brushes.
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr UINT BS_HOLLOW = BS_NULL;

struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  ULONG_PTR lbHatch;
};
struct LOGPEN {
  UINT lopnStyle;
  POINT lopnWidth;
  COLORREF lopnColor;
};

// Fonts.
constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_THIN = 100;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_SWISS = 0x20;
constexpr int LF_FACESIZE = 32;

struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};
struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};
struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

// Bitmaps and icons.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};
constexpr WORD OBM_CHECKBOXES = 32759;
constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT IMAGE_CURSOR = 2;
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_MONOCHROME = 0x0001;
constexpr UINT LR_LOADFROMFILE = 0x0010;
constexpr UINT LR_LOADTRANSPARENT = 0x0020;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;
constexpr UINT LR_SHARED = 0x8000;
constexpr UINT DI_MASK = 0x0001;
constexpr UINT DI_IMAGE = 0x0002;
constexpr UINT DI_NORMAL = 0x0003;

// Paint.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

// ---- Drawing -----------------------------------------------------------------------------------

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Raster operations.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// DrawText.
constexpr UINT DT_TOP = 0x00000000;
constexpr UINT DT_LEFT = 0x00000000;
constexpr UINT DT_CENTER = 0x00000001;
constexpr UINT DT_RIGHT = 0x00000002;
constexpr UINT DT_VCENTER = 0x00000004;
constexpr UINT DT_BOTTOM = 0x00000008;
constexpr UINT DT_WORDBREAK = 0x00000010;
constexpr UINT DT_SINGLELINE = 0x00000020;
constexpr UINT DT_EXPANDTABS = 0x00000040;
constexpr UINT DT_NOCLIP = 0x00000100;
constexpr UINT DT_CALCRECT = 0x00000400;
constexpr UINT DT_NOPREFIX = 0x00000800;
constexpr UINT DT_EDITCONTROL = 0x00002000;
constexpr UINT DT_PATH_ELLIPSIS = 0x00004000;
constexpr UINT DT_END_ELLIPSIS = 0x00008000;
constexpr UINT DT_HIDEPREFIX = 0x00100000;

// DrawEdge.
constexpr UINT BDR_RAISEDOUTER = 0x0001;
constexpr UINT BDR_SUNKENOUTER = 0x0002;
constexpr UINT BDR_RAISEDINNER = 0x0004;
constexpr UINT BDR_SUNKENINNER = 0x0008;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr UINT EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr UINT BF_LEFT = 0x0001;
constexpr UINT BF_TOP = 0x0002;
constexpr UINT BF_RIGHT = 0x0004;
constexpr UINT BF_BOTTOM = 0x0008;
constexpr UINT BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
constexpr UINT BF_MIDDLE = 0x0800;
constexpr UINT BF_ADJUST = 0x2000;

// ---- System colours and metrics ----------------------------------------------------------------

constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_INACTIVECAPTION = 3;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_ACTIVEBORDER = 10;
constexpr int COLOR_INACTIVEBORDER = 11;
constexpr int COLOR_APPWORKSPACE = 12;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_INACTIVECAPTIONTEXT = 19;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_HOTLIGHT = 26;
constexpr int COLOR_GRADIENTACTIVECAPTION = 27;
constexpr int COLOR_GRADIENTINACTIVECAPTION = 28;
constexpr int COLOR_MENUHILIGHT = 29;
constexpr int COLOR_MENUBAR = 30;
constexpr int COLOR_DESKTOP = COLOR_BACKGROUND;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_3DSHADOW = COLOR_BTNSHADOW;
constexpr int COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_3DHILIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_BTNHILIGHT = COLOR_BTNHIGHLIGHT;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CYVTHUMB = 9;
constexpr int SM_CXHTHUMB = 10;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXCURSOR = 13;
constexpr int SM_CYCURSOR = 14;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;
constexpr int SM_CYVSCROLL = 20;
constexpr int SM_CXHSCROLL = 21;
constexpr int SM_CXMIN = 28;
constexpr int SM_CYMIN = 29;
constexpr int SM_CXSIZE = 30;
constexpr int SM_CYSIZE = 31;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CXSIZEFRAME = SM_CXFRAME;
constexpr int SM_CYSIZEFRAME = SM_CYFRAME;
constexpr int SM_CXDOUBLECLK = 36;
constexpr int SM_CYDOUBLECLK = 37;
constexpr int SM_CXFIXEDFRAME = SM_CXDLGFRAME;
constexpr int SM_CYFIXEDFRAME = SM_CYDLGFRAME;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
constexpr int SM_CYSMCAPTION = 51;
constexpr int SM_CXVIRTUALSCREEN = 78;
constexpr int SM_CYVIRTUALSCREEN = 79;
constexpr int SM_CMONITORS = 80;

constexpr UINT SPI_GETDRAGFULLWINDOWS = 0x0026;

// ---- Rectangles ------------------------------------------------------------------------------

inline BOOL SetRect(LPRECT r, int left, int top, int right, int bottom) {
  if (!r) return FALSE;
  *r = RECT{left, top, right, bottom};
  return TRUE;
}
inline BOOL SetRectEmpty(LPRECT r) { return SetRect(r, 0, 0, 0, 0); }
inline BOOL CopyRect(LPRECT dst, const RECT* src) {
  if (!dst || !src) return FALSE;
  *dst = *src;
  return TRUE;
}
inline BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
inline BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
inline BOOL InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->top -= dy;
  r->right += dx;
  r->bottom += dy;
  return TRUE;
}
inline BOOL OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->top += dy;
  r->right += dx;
  r->bottom += dy;
  return TRUE;
}
inline BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
// Empty results are set to (0, 0, 0, 0) and answer FALSE.
inline BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  RECT r{a->left > b->left ? a->left : b->left, a->top > b->top ? a->top : b->top,
         a->right < b->right ? a->right : b->right, a->bottom < b->bottom ? a->bottom : b->bottom};
  if (IsRectEmpty(&r)) {
    SetRectEmpty(out);
    return FALSE;
  }
  *out = r;
  return TRUE;
}
inline BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  if (IsRectEmpty(a)) return CopyRect(out, b) && !IsRectEmpty(b);
  if (IsRectEmpty(b)) return CopyRect(out, a);
  *out = RECT{a->left < b->left ? a->left : b->left, a->top < b->top ? a->top : b->top,
              a->right > b->right ? a->right : b->right, a->bottom > b->bottom ? a->bottom : b->bottom};
  return TRUE;
}

// ---- Calls -----------------------------------------------------------------------------------

// Device contexts. GetDC(NULL) and GetWindowDC(NULL) give a DC on the desktop, which draws into
// nothing that is kept; a stale window handle gives NULL.
VKR_API HDC GetDC(HWND hwnd);
VKR_API HDC GetWindowDC(HWND hwnd);
VKR_API int ReleaseDC(HWND hwnd, HDC hdc);
VKR_API HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);
VKR_API BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
VKR_API HDC CreateCompatibleDC(HDC hdc);
VKR_API BOOL DeleteDC(HDC hdc);
VKR_API int SaveDC(HDC hdc);
VKR_API BOOL RestoreDC(HDC hdc, int savedDc);
VKR_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
VKR_API HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
// Fails (FALSE) for a stock object's handle without harm, and for an object selected into a DC.
VKR_API BOOL DeleteObject(HGDIOBJ object);
VKR_API HGDIOBJ GetStockObject(int index);
VKR_API DWORD GetObjectType(HGDIOBJ object);
VKR_API int GetObjectA(HANDLE object, int size, LPVOID out);
VKR_API int GetObjectW(HANDLE object, int size, LPVOID out);

VKR_API HPEN CreatePen(int style, int width, COLORREF color);
VKR_API HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles);
VKR_API HBRUSH CreateSolidBrush(COLORREF color);
VKR_API HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
// The brush of a system colour; shared, never deleted (DeleteObject on it does nothing).
VKR_API HBRUSH GetSysColorBrush(int index);

VKR_API HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                          DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                          DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR face);
VKR_API HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                          DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                          DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCWSTR face);
VKR_API HFONT CreateFontIndirectA(const LOGFONTA* font);
VKR_API HFONT CreateFontIndirectW(const LOGFONTW* font);

VKR_API HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
VKR_API HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// From the module's RT_BITMAP resources; LoadBitmap(NULL, MAKEINTRESOURCE(OBM_CHECKBOXES)) gives
// the check-box glyphs: a 4 x 3 grid of 13 x 13 cells.
//   row 0, check boxes: unchecked, checked, pushed (its white pixels are the frame's highlight
//          only), pushed and checked;
//   row 1, radio buttons: unchecked, checked, pushed, pushed and checked;
//   row 2: the radio highlight (white where the ring is lit, black elsewhere), the radio mask,
//          the indeterminate box (a dotted mark), the pushed indeterminate box.
// Box interiors and the corners around the radio ring are white, the key colour; marks are black;
// the frames use the 3D shadow colours, never pure black or white except the highlight.
VKR_API HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name);
VKR_API HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
// IMAGE_BITMAP and IMAGE_ICON from resources, or with LR_LOADFROMFILE from a .bmp / .ico file
// (UTF-8 path for the "A" call). LR_SHARED images are kept for the process and never counted.
VKR_API HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
VKR_API HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
// Icons load at 16 x 16 (the small-icon image of the file, or the first one scaled).
VKR_API HICON LoadIconA(HINSTANCE instance, LPCSTR name);
VKR_API HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
VKR_API BOOL DestroyIcon(HICON icon);
VKR_API BOOL DrawIcon(HDC hdc, int x, int y, HICON icon);
VKR_API BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH flickerFree,
                        UINT flags);

// Drawing. A brush argument may also be a system colour index + 1, as Windows allows.
VKR_API int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
VKR_API int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush);
VKR_API BOOL InvertRect(HDC hdc, const RECT* rect);
VKR_API BOOL DrawFocusRect(HDC hdc, const RECT* rect);
VKR_API BOOL DrawEdge(HDC hdc, LPRECT rect, UINT edge, UINT flags);
VKR_API BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
VKR_API BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom);
VKR_API BOOL Chord(HDC hdc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
VKR_API BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT old);
VKR_API BOOL LineTo(HDC hdc, int x, int y);
VKR_API COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
VKR_API COLORREF GetPixel(HDC hdc, int x, int y);
VKR_API BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop);
VKR_API BOOL StretchBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, int cx1, int cy1,
                        DWORD rop);
VKR_API BOOL PatBlt(HDC hdc, int x, int y, int cx, int cy, DWORD rop);
VKR_API int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
VKR_API BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old);
VKR_API BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, LPPOINT old);

VKR_API COLORREF SetBkColor(HDC hdc, COLORREF color);
VKR_API COLORREF GetBkColor(HDC hdc);
VKR_API COLORREF SetTextColor(HDC hdc, COLORREF color);
VKR_API COLORREF GetTextColor(HDC hdc);
VKR_API int SetBkMode(HDC hdc, int mode);
VKR_API int GetBkMode(HDC hdc);

// Text ("A": UTF-8). A length of -1 in DrawText means the text is zero-terminated.
VKR_API BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int length);
VKR_API BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int length);
VKR_API int DrawTextA(HDC hdc, LPCSTR text, int length, LPRECT rect, UINT format);
VKR_API int DrawTextW(HDC hdc, LPCWSTR text, int length, LPRECT rect, UINT format);
VKR_API BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR text, int length, LPSIZE size);
VKR_API BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int length, LPSIZE size);
VKR_API BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* metrics);
VKR_API BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);

// The system colours: the classic Windows palette (tests may change it), and metrics of a
// 1024 x 768 screen at 96 DPI.
VKR_API DWORD GetSysColor(int index);
VKR_API int GetSystemMetrics(int index);
VKR_API BOOL SystemParametersInfoA(UINT action, UINT param, PVOID value, UINT winIni);
VKR_API BOOL SystemParametersInfoW(UINT action, UINT param, PVOID value, UINT winIni);

namespace vkr::ui {

// Live GDI objects per type, stock objects and system-colour brushes not counted.
struct GdiCounts {
  int dcs = 0;
  int pens = 0;
  int brushes = 0;
  int fonts = 0;
  int bitmaps = 0;
  int icons = 0;
  int Total() const { return dcs + pens + brushes + fonts + bitmaps + icons; }
  bool operator==(const GdiCounts&) const = default;
};
VKR_API GdiCounts GdiObjectCounts();
// The number of the icon resource an icon was loaded from (LoadImage, LoadIcon by number); 0 for
// another icon or no icon. For a frame that tells what a status icon shows.
VKR_API int IconResourceId(HICON icon);
// The same for a bitmap a module's resource gave (LoadImage by number): a lamp's state.
VKR_API int BitmapResourceId(HBITMAP bitmap);

// Changes one system colour for the rest of the process (its brush follows);
// ResetSysColorsForTest restores the classic palette.
VKR_API void SetSysColorForTest(int index, COLORREF color);
VKR_API void ResetSysColorsForTest();

}  // namespace vkr::ui

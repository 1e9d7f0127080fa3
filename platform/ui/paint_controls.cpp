// The standard controls' look, classic Windows style: static texts and pictures, buttons, check
// boxes and radio buttons, group boxes, edits, combo boxes, list boxes, scroll bars, trees and
// tabs, with the grey look of disabled and read-only fields. Each control asks its parent for its
// colours (WM_CTLCOLOR*) as Windows controls do.
#include <algorithm>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/gdi_internal.h"
#include "platform/ui/paint_controls.h"
#include "platform/ui/windows.h"
#include "platform/win/resources.h"
#include "platform/win/text.h"

namespace vkr::ui::detail {
namespace {

enum class Kind { None, Static, Button, Edit, Combo, List, ScrollBar, Tree, Tab };

Kind KindOf(HWND hwnd) {
  std::string c = ClassName(hwnd);
  auto is = [&c](const char* n) { return _stricmp(c.c_str(), n) == 0; };
  if (is(WC_STATICA)) return Kind::Static;
  if (is(WC_BUTTONA)) return Kind::Button;
  if (is(WC_EDITA)) return Kind::Edit;
  if (is(WC_COMBOBOXA)) return Kind::Combo;
  if (is(WC_LISTBOXA)) return Kind::List;
  if (is(WC_SCROLLBARA)) return Kind::ScrollBar;
  if (is(WC_TREEVIEWA)) return Kind::Tree;
  if (is(WC_TABCONTROLA)) return Kind::Tab;
  return Kind::None;
}

DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

// The parent's answer to WM_CTLCOLOR*, with Windows' defaults set on the DC first; a parent that
// answers 0 leaves the defaults.
HBRUSH AskColors(HWND hwnd, HDC dc, UINT message) {
  bool window = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(window ? COLOR_WINDOW : COLOR_BTNFACE));
  HWND parent = GetParent(hwnd);
  HBRUSH brush = nullptr;
  if (parent)
    brush = reinterpret_cast<HBRUSH>(SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
  if (!brush) brush = GetSysColorBrush(window ? COLOR_WINDOW : COLOR_BTNFACE);
  return brush;
}

// The control's WM_SETFONT font; the System font until it has one.
// Without a font of their own, the standard controls draw in the DC's System font and the common
// controls (tree, tab) in the GUI font, as Windows' do.
HFONT FontOf(HWND hwnd, const ControlState& st, int fallback = SYSTEM_FONT) {
  if (st.font) return st.font;
  if (auto f = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0))) return f;
  return static_cast<HFONT>(GetStockObject(fallback));
}

// Text in the disabled look: embossed, a highlight copy one pixel down and right under the shadow.
void DisabledText(HDC dc, const std::string& text, RECT r, UINT format) {
  int mode = SetBkMode(dc, TRANSPARENT);
  COLORREF old = SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
  RECT shifted = r;
  OffsetRect(&shifted, 1, 1);
  DrawTextA(dc, text.c_str(), -1, &shifted, format);
  SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
  DrawTextA(dc, text.c_str(), -1, &r, format);
  SetTextColor(dc, old);
  SetBkMode(dc, mode);
}

void DrawImage(HDC dc, HANDLE image, UINT type, int x, int y) {
  if (!image) return;
  if (type == IMAGE_ICON) {
    DrawIconEx(dc, x, y, static_cast<HICON>(image), 0, 0, 0, nullptr, DI_NORMAL);
    return;
  }
  BITMAP bm{};
  if (!GetObjectA(image, sizeof(bm), &bm)) return;
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, image);
  BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void PaintStatic(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  DWORD style = StyleOf(hwnd);
  DWORD type = style & SS_TYPEMASK;
  bool enabled = IsWindowEnabled(hwnd);
  HBRUSH brush = AskColors(hwnd, dc, WM_CTLCOLORSTATIC);
  switch (type) {
    case SS_BLACKRECT: FillRect(dc, &rc, GetSysColorBrush(COLOR_3DDKSHADOW)); return;
    case SS_GRAYRECT: FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNSHADOW)); return;
    case SS_WHITERECT: FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNHIGHLIGHT)); return;
    case SS_BLACKFRAME: FrameRect(dc, &rc, GetSysColorBrush(COLOR_3DDKSHADOW)); return;
    case SS_GRAYFRAME: FrameRect(dc, &rc, GetSysColorBrush(COLOR_BTNSHADOW)); return;
    case SS_WHITEFRAME: FrameRect(dc, &rc, GetSysColorBrush(COLOR_BTNHIGHLIGHT)); return;
    case SS_ETCHEDHORZ: {
      RECT r = rc;
      DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP | BF_BOTTOM);
      return;
    }
    case SS_ETCHEDVERT: {
      RECT r = rc;
      DrawEdge(dc, &r, EDGE_ETCHED, BF_LEFT | BF_RIGHT);
      return;
    }
    case SS_ETCHEDFRAME: {
      RECT r = rc;
      DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
      return;
    }
    case SS_OWNERDRAW: return;
    default: break;
  }
  FillRect(dc, &rc, brush);
  RECT r = rc;
  if (style & SS_SUNKEN) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  if (type == SS_ICON || type == SS_BITMAP) {
    // Unscaled from the top-left corner (centred with SS_CENTERIMAGE), clipped to the control.
    int x = r.left, y = r.top;
    if (style & SS_CENTERIMAGE) {
      int w = 16, h = 16;
      BITMAP bm{};
      if (st.imageType == IMAGE_BITMAP && GetObjectA(st.image, sizeof(bm), &bm)) w = bm.bmWidth, h = bm.bmHeight;
      x = (r.left + r.right - w) / 2;
      y = (r.top + r.bottom - h) / 2;
    }
    DrawImage(dc, st.image, st.imageType, x, y);
    return;
  }
  std::string text = WindowText(hwnd);
  UINT format = DT_EXPANDTABS;
  if (type == SS_CENTER) format |= DT_CENTER;
  if (type == SS_RIGHT) format |= DT_RIGHT;
  if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) format |= DT_SINGLELINE;
  else format |= DT_WORDBREAK;
  if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  if (style & SS_CENTERIMAGE) format |= DT_SINGLELINE | DT_VCENTER;
  if (style & SS_ELLIPSISMASK) format |= DT_END_ELLIPSIS | DT_SINGLELINE;
  HGDIOBJ old = SelectObject(dc, FontOf(hwnd, st));
  if (enabled) {
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.c_str(), -1, &r, format);
  } else {
    DisabledText(dc, text, r, format);
  }
  SelectObject(dc, old);
}

// One cell of the check-box glyphs.
void DrawGlyph(HDC dc, int x, int y, int col, int row) {
  // Shared: kept for the process, outside the object counts.
  static auto glyphs = static_cast<HBITMAP>(
      LoadImageA(nullptr, MAKEINTRESOURCEA(OBM_CHECKBOXES), IMAGE_BITMAP, 0, 0, LR_SHARED));
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, glyphs);
  BitBlt(dc, x, y, 13, 13, mem, col * 13, row * 13, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void PaintButton(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  DWORD style = StyleOf(hwnd);
  DWORD type = style & BS_TYPEMASK;
  if (type == BS_OWNERDRAW) return;  // the parent draws it on WM_DRAWITEM
  bool enabled = IsWindowEnabled(hwnd);
  bool focus = GetFocus() == hwnd;
  bool pushed = (st.buttonState & BST_PUSHED) != 0;
  std::string text = WindowText(hwnd);
  HGDIOBJ oldFont = SelectObject(dc, FontOf(hwnd, st));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  if (type == BS_GROUPBOX) {
    // Only the frame and the caption: the inside stays as the parent drew it.
    HBRUSH brush = AskColors(hwnd, dc, WM_CTLCOLORSTATIC);
    RECT frame = rc;
    frame.top += tm.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    if (!text.empty()) {
      RECT t{rc.left + 8, rc.top, rc.right - 8, rc.top + tm.tmHeight};
      DrawTextA(dc, text.c_str(), -1, &t, DT_CALCRECT | DT_SINGLELINE);
      RECT back{t.left - 2, t.top, t.right + 2, t.bottom};
      FillRect(dc, &back, brush);
      SetBkMode(dc, TRANSPARENT);
      if (enabled) DrawTextA(dc, text.c_str(), -1, &t, DT_SINGLELINE);
      else DisabledText(dc, text, t, DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);
    return;
  }
  bool check = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
  bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
  if ((check || radio) && !(style & BS_PUSHLIKE)) {
    HBRUSH brush = AskColors(hwnd, dc, WM_CTLCOLORSTATIC);
    FillRect(dc, &rc, brush);
    int boxY = (rc.top + rc.bottom - 13) / 2;
    bool left = !(style & BS_LEFTTEXT);
    int boxX = left ? rc.left : rc.right - 13;
    int col = st.check == BST_CHECKED ? 1 : 0, row = radio ? 1 : 0;
    if (check && st.check == BST_INDETERMINATE) col = 2, row = 2;
    // Pushed or disabled: the cells with the face-coloured inside.
    if (pushed || !enabled) col += (row == 2) ? 1 : 2;
    DrawGlyph(dc, boxX, boxY, col, row);
    RECT t = left ? RECT{rc.left + 13 + 4, rc.top, rc.right, rc.bottom} : RECT{rc.left, rc.top, rc.right - 13 - 4, rc.bottom};
    UINT format = DT_SINGLELINE | DT_VCENTER | ((style & BS_MULTILINE) ? 0 : 0);
    if ((style & BS_CENTER) == BS_CENTER) format |= DT_CENTER;
    else if (style & BS_RIGHT) format |= DT_RIGHT;
    SetBkMode(dc, TRANSPARENT);
    if (enabled) DrawTextA(dc, text.c_str(), -1, &t, format);
    else DisabledText(dc, text, t, format);
    if (focus && !text.empty()) {
      RECT m = t;
      DrawTextA(dc, text.c_str(), -1, &m, DT_CALCRECT | DT_SINGLELINE);
      int h = m.bottom - m.top;
      m.top = (t.top + t.bottom - h) / 2;
      m.bottom = m.top + h;
      InflateRect(&m, 1, 0);
      DrawFocusRect(dc, &m);
    }
    SelectObject(dc, oldFont);
    return;
  }
  // Push buttons.
  HBRUSH brush = AskColors(hwnd, dc, WM_CTLCOLORBTN);
  (void)brush;
  RECT r = rc;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  bool isDefault = type == BS_DEFPUSHBUTTON;
  if (isDefault) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    InflateRect(&r, -1, -1);
  }
  if (pushed) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    RECT e = r;
    DrawEdge(dc, &e, EDGE_RAISED, BF_RECT);
  }
  RECT t = r;
  if (pushed) OffsetRect(&t, 1, 1);
  if (st.image && (style & (BS_BITMAP | BS_ICON))) {
    int w = 16, h = 16;
    BITMAP bm{};
    if (st.imageType == IMAGE_BITMAP && GetObjectA(st.image, sizeof(bm), &bm)) w = bm.bmWidth, h = bm.bmHeight;
    DrawImage(dc, st.image, st.imageType, (t.left + t.right - w) / 2, (t.top + t.bottom - h) / 2);
  } else {
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    if ((style & BS_CENTER) == BS_LEFT) format = DT_SINGLELINE | DT_VCENTER | DT_LEFT, t.left += 4;
    if ((style & BS_CENTER) == BS_RIGHT) format = DT_SINGLELINE | DT_VCENTER | DT_RIGHT, t.right -= 4;
    if (style & BS_MULTILINE) format = (format & ~DT_SINGLELINE) | DT_WORDBREAK;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    if (enabled) DrawTextA(dc, text.c_str(), -1, &t, format);
    else DisabledText(dc, text, t, format);
  }
  if (focus) {
    RECT f = r;
    InflateRect(&f, -3, -3);
    DrawFocusRect(dc, &f);
  }
  SelectObject(dc, oldFont);
}

void PaintEdit(HWND hwnd, HDC dc, const RECT& area, const ControlState& st) {
  DWORD style = StyleOf(hwnd);
  // A combo box's edit fills only the combo's field; below it is the list's room.
  RECT rc = area;
  if (HWND parent = GetParent(hwnd); parent && _stricmp(ClassName(parent).c_str(), WC_COMBOBOXA) == 0) {
    HGDIOBJ f = SelectObject(dc, FontOf(hwnd, st));
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, f);
    rc.bottom = std::min<LONG>(rc.bottom, rc.top + tm.tmHeight + 2);
  }
  bool enabled = IsWindowEnabled(hwnd);
  bool readOnly = (style & ES_READONLY) != 0;
  // Read-only and disabled edits take the static colours: the grey face.
  HBRUSH brush = AskColors(hwnd, dc, (readOnly || !enabled) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  FillRect(dc, &rc, brush);
  std::string text = WindowText(hwnd);
  if (style & ES_PASSWORD) text.assign(std::u16string(vkr::Utf8ToUtf16(text)).size(), '*');
  HGDIOBJ old = SelectObject(dc, FontOf(hwnd, st));
  RECT t{rc.left + 1, rc.top + 1, rc.right - 1, rc.bottom};
  UINT format = DT_NOPREFIX | DT_EXPANDTABS;
  if (style & ES_MULTILINE) format |= DT_WORDBREAK;
  else format |= DT_SINGLELINE;
  if (style & ES_CENTER) format |= DT_CENTER;
  else if (style & ES_RIGHT) format |= DT_RIGHT;
  if (!enabled) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, text.c_str(), -1, &t, format);
  // The selection of the focused edit, over the text (single-line, whole text or a part).
  if (enabled && GetFocus() == hwnd && st.selEnd > st.selStart && !(style & ES_MULTILINE)) {
    std::u16string w = vkr::Utf8ToUtf16(text);
    int a = std::clamp(st.selStart, 0, static_cast<int>(w.size())), b = std::clamp(st.selEnd, 0, static_cast<int>(w.size()));
    SIZE whole{}, before{}, upto{};
    GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &whole);
    GetTextExtentPoint32W(dc, w.c_str(), a, &before);
    GetTextExtentPoint32W(dc, w.c_str(), b, &upto);
    int x0 = t.left;
    if (style & ES_CENTER) x0 = t.left + (t.right - t.left - whole.cx) / 2;
    else if (style & ES_RIGHT) x0 = t.right - whole.cx;
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    TextOutW(dc, x0 + before.cx, t.top, w.c_str() + a, b - a);
  }
  SelectObject(dc, old);
}

// A small black triangle pointing down (or another way), centred in r.
void Arrow(HDC dc, const RECT& r, int dir, COLORREF color) {
  int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  for (int i = 0; i < 4; ++i) {
    RECT line{};
    switch (dir) {
      case 0: line = RECT{cx - 3 + i, cy - 2 + i, cx + 4 - i, cy - 1 + i}; break;  // down
      case 1: line = RECT{cx - 3 + i, cy + 1 - i, cx + 4 - i, cy + 2 - i}; break;  // up
      case 2: line = RECT{cx + 1 - i, cy - 3 + i, cx + 2 - i, cy + 4 - i}; break;  // left
      default: line = RECT{cx - 2 + i, cy - 3 + i, cx - 1 + i, cy + 4 - i}; break; // right
    }
    HBRUSH b = CreateSolidBrush(color);
    FillRect(dc, &line, b);
    DeleteObject(b);
  }
}

void ArrowButton(HDC dc, RECT r, int dir, bool enabled) {
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  RECT e = r;
  DrawEdge(dc, &e, EDGE_RAISED, BF_RECT);
  Arrow(dc, r, dir, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
}

void PaintCombo(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  DWORD style = StyleOf(hwnd);
  DWORD type = style & 3;
  bool enabled = IsWindowEnabled(hwnd);
  HGDIOBJ old = SelectObject(dc, FontOf(hwnd, st));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  // The field: the closed combo's height; the rest of the window is the list's room.
  int fieldH = std::min<int>(rc.bottom - rc.top, tm.tmHeight + 8);
  RECT field{rc.left, rc.top, rc.right, rc.top + fieldH};
  HBRUSH brush = AskColors(hwnd, dc, enabled ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC);
  FillRect(dc, &field, brush);
  RECT e = field;
  DrawEdge(dc, &e, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  if (type != CBS_SIMPLE) {
    int bw = GetSystemMetrics(SM_CXVSCROLL);
    RECT button{e.right - bw, e.top, e.right, e.bottom};
    ArrowButton(dc, button, 0, enabled);
    e.right -= bw;
  }
  if (type == CBS_DROPDOWNLIST && st.curSel >= 0 && st.curSel < static_cast<int>(st.items.size())) {
    RECT t{e.left + 1, e.top + 1, e.right - 1, e.bottom - 1};
    bool focus = GetFocus() == hwnd && enabled;
    if (focus) {
      FillRect(dc, &t, GetSysColorBrush(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else if (!enabled) {
      SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    }
    SetBkMode(dc, TRANSPARENT);
    RECT tt = t;
    tt.left += 2;
    DrawTextA(dc, st.items[static_cast<std::size_t>(st.curSel)].c_str(), -1, &tt,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (focus) DrawFocusRect(dc, &t);
  }
  if (st.dropped && rc.bottom - rc.top > fieldH) {
    RECT list{rc.left, rc.top + fieldH, rc.right, rc.bottom};
    int rows = std::max<int>(1, static_cast<int>(st.items.size()));
    list.bottom = std::min<LONG>(list.bottom, list.top + rows * tm.tmHeight + 2);
    FillRect(dc, &list, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &list, GetSysColorBrush(COLOR_WINDOWFRAME));
    SetBkMode(dc, TRANSPARENT);
    for (std::size_t i = 0; i < st.items.size(); ++i) {
      RECT item{list.left + 1, list.top + 1 + static_cast<int>(i) * tm.tmHeight, list.right - 1,
                list.top + 1 + static_cast<int>(i + 1) * tm.tmHeight};
      if (item.bottom > list.bottom - 1) break;
      bool sel = static_cast<int>(i) == st.curSel;
      if (sel) FillRect(dc, &item, GetSysColorBrush(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(sel ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
      item.left += 2;
      DrawTextA(dc, st.items[i].c_str(), -1, &item, DT_SINGLELINE | DT_NOPREFIX);
    }
  }
  SelectObject(dc, old);
}

void PaintList(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  bool enabled = IsWindowEnabled(hwnd);
  HBRUSH brush = AskColors(hwnd, dc, WM_CTLCOLORLISTBOX);
  FillRect(dc, &rc, brush);
  HGDIOBJ old = SelectObject(dc, FontOf(hwnd, st));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  int itemH = static_cast<int>(SendMessageW(hwnd, LB_GETITEMHEIGHT, 0, 0));
  if (itemH <= 0) itemH = tm.tmHeight;
  int top = static_cast<int>(SendMessageW(hwnd, LB_GETTOPINDEX, 0, 0));
  if (top < 0) top = 0;
  DWORD style = StyleOf(hwnd);
  bool multi = (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
  SetBkMode(dc, TRANSPARENT);
  for (int i = top; i < static_cast<int>(st.items.size()); ++i) {
    RECT item{rc.left, rc.top + (i - top) * itemH, rc.right, rc.top + (i - top + 1) * itemH};
    if (item.top >= rc.bottom) break;
    bool sel = multi ? std::find(st.selected.begin(), st.selected.end(), i) != st.selected.end() : i == st.curSel;
    if (sel && enabled) FillRect(dc, &item, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(!enabled ? COLOR_GRAYTEXT : sel ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT t = item;
    t.left += 2;
    DrawTextA(dc, st.items[static_cast<std::size_t>(i)].c_str(), -1, &t, DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
  }
  SelectObject(dc, old);
}

// Checkered track, as the classic scroll bar shaft.
void Shaft(HDC dc, const RECT& r) {
  COLORREF a = GetSysColor(COLOR_BTNHIGHLIGHT), b = GetSysColor(COLOR_BTNFACE);
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) SetPixel(dc, x, y, ((x + y) & 1) ? b : a);
}

void PaintScrollBar(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  bool vert = (StyleOf(hwnd) & SBS_VERT) != 0;
  bool enabled = IsWindowEnabled(hwnd);
  AskColors(hwnd, dc, WM_CTLCOLORSCROLLBAR);
  int len = vert ? rc.bottom - rc.top : rc.right - rc.left;
  int thick = vert ? rc.right - rc.left : rc.bottom - rc.top;
  int arrow = std::min(thick, len / 2);
  RECT a1 = vert ? RECT{rc.left, rc.top, rc.right, rc.top + arrow} : RECT{rc.left, rc.top, rc.left + arrow, rc.bottom};
  RECT a2 = vert ? RECT{rc.left, rc.bottom - arrow, rc.right, rc.bottom} : RECT{rc.right - arrow, rc.top, rc.right, rc.bottom};
  ArrowButton(dc, a1, vert ? 1 : 2, enabled);
  ArrowButton(dc, a2, vert ? 0 : 3, enabled);
  RECT track = vert ? RECT{rc.left, a1.bottom, rc.right, a2.top} : RECT{a1.right, rc.top, a2.left, rc.bottom};
  Shaft(dc, track);
  int range = st.scrollMax - st.scrollMin + 1;
  int tlen = vert ? track.bottom - track.top : track.right - track.left;
  if (!enabled || range <= 0 || tlen < 8 || (st.scrollPage > 0 && st.scrollPage >= range)) return;
  int thumb = st.scrollPage > 0 ? std::max(8, static_cast<int>(static_cast<long long>(tlen) * st.scrollPage / range)) : thick;
  thumb = std::min(thumb, tlen);
  int span = range - std::max(st.scrollPage, 1);
  int pos = span > 0 ? static_cast<int>(static_cast<long long>(tlen - thumb) * (st.scrollPos - st.scrollMin) / span) : 0;
  pos = std::clamp(pos, 0, tlen - thumb);
  RECT t = vert ? RECT{track.left, track.top + pos, track.right, track.top + pos + thumb}
                : RECT{track.left + pos, track.top, track.left + pos + thumb, track.bottom};
  FillRect(dc, &t, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &t, EDGE_RAISED, BF_RECT);
}

void PaintTree(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  bool enabled = IsWindowEnabled(hwnd);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  DWORD style = StyleOf(hwnd);
  HFONT base = FontOf(hwnd, st, DEFAULT_GUI_FONT);
  LOGFONTA lf{};
  GetObjectA(base, sizeof(lf), &lf);
  lf.lfWeight = FW_BOLD;
  HFONT bold = CreateFontIndirectA(&lf);
  HGDIOBJ old = SelectObject(dc, base);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  int rowH = tm.tmHeight + 2;
  const int indent = 19;
  int y = rc.top;
  SetBkMode(dc, TRANSPARENT);
  auto next = [hwnd](HTREEITEM item, WPARAM code) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(hwnd, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
  };
  bool rootLines = (style & TVS_LINESATROOT) != 0;
  std::vector<std::pair<HTREEITEM, int>> stack;
  for (HTREEITEM it = next(nullptr, TVGN_ROOT); it; it = next(it, TVGN_NEXT)) stack.emplace_back(it, 0);
  std::reverse(stack.begin(), stack.end());
  while (!stack.empty() && y < rc.bottom) {
    auto [item, level] = stack.back();
    stack.pop_back();
    char buf[260] = {};
    TVITEMA tv{};
    tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE | TVIF_CHILDREN;
    tv.hItem = item;
    tv.stateMask = 0xFFFF;
    tv.pszText = buf;
    tv.cchTextMax = sizeof(buf);
    if (!SendMessageW(hwnd, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) continue;
    HTREEITEM child = next(item, TVGN_CHILD);
    int x = rc.left + 2 + (level + (rootLines ? 1 : 0)) * indent;
    if ((style & TVS_HASBUTTONS) && child && (level > 0 || rootLines)) {
      RECT box{x - indent + 5, y + rowH / 2 - 4, x - indent + 14, y + rowH / 2 + 5};
      FrameRect(dc, &box, GetSysColorBrush(COLOR_BTNSHADOW));
      RECT h{box.left + 2, box.top + 4, box.right - 2, box.top + 5};
      FillRect(dc, &h, GetSysColorBrush(COLOR_WINDOWTEXT));
      if (!(tv.state & TVIS_EXPANDED)) {
        RECT v{box.left + 4, box.top + 2, box.left + 5, box.bottom - 2};
        FillRect(dc, &v, GetSysColorBrush(COLOR_WINDOWTEXT));
      }
    }
    SelectObject(dc, (tv.state & TVIS_BOLD) ? bold : base);
    RECT t{x, y, rc.right, y + rowH};
    RECT m = t;
    DrawTextA(dc, buf, -1, &m, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    RECT label{t.left, t.top, m.right + 4, t.bottom};
    bool sel = (tv.state & TVIS_SELECTED) != 0;
    bool focus = GetFocus() == hwnd;
    if (sel && enabled && (focus || (style & TVS_SHOWSELALWAYS))) {
      FillRect(dc, &label, GetSysColorBrush(focus ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(focus ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    } else {
      SetTextColor(dc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    }
    RECT tt{label.left + 2, label.top, label.right, label.bottom};
    DrawTextA(dc, buf, -1, &tt, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    y += rowH;
    if (child && (tv.state & TVIS_EXPANDED)) {
      std::vector<std::pair<HTREEITEM, int>> kids;
      for (HTREEITEM c = child; c; c = next(c, TVGN_NEXT)) kids.emplace_back(c, level + 1);
      for (auto k = kids.rbegin(); k != kids.rend(); ++k) stack.push_back(*k);
    }
  }
  SelectObject(dc, old);
  DeleteObject(bold);
}

void PaintTab(HWND hwnd, HDC dc, const RECT& rc, const ControlState& st) {
  AskColors(hwnd, dc, WM_CTLCOLORDLG);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = SelectObject(dc, FontOf(hwnd, st, DEFAULT_GUI_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  int tabH = tm.tmHeight + 6;
  RECT body{rc.left, rc.top + tabH, rc.right, rc.bottom};
  DrawEdge(dc, &body, EDGE_RAISED, BF_RECT);
  int x = rc.left + 2;
  SetBkMode(dc, TRANSPARENT);
  for (std::size_t i = 0; i < st.items.size(); ++i) {
    SIZE sz{};
    GetTextExtentPoint32A(dc, st.items[i].c_str(), static_cast<int>(st.items[i].size()), &sz);
    bool sel = static_cast<int>(i) == st.curSel;
    RECT tab{x, rc.top + (sel ? 0 : 2), x + sz.cx + 12, body.top + (sel ? 1 : 0)};
    FillRect(dc, &tab, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &tab, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
    RECT t = tab;
    DrawTextA(dc, st.items[i].c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    x = tab.right;
  }
  SelectObject(dc, old);
}

}  // namespace

bool PaintControl(HWND hwnd, HDC dc) {
  Kind kind = KindOf(hwnd);
  ControlState st;
  if (kind == Kind::None || !GetControlState(hwnd, &st)) return false;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  int saved = SaveDC(dc);
  switch (kind) {
    case Kind::Static: PaintStatic(hwnd, dc, rc, st); break;
    case Kind::Button: PaintButton(hwnd, dc, rc, st); break;
    case Kind::Edit: PaintEdit(hwnd, dc, rc, st); break;
    case Kind::Combo: PaintCombo(hwnd, dc, rc, st); break;
    case Kind::List: PaintList(hwnd, dc, rc, st); break;
    case Kind::ScrollBar: PaintScrollBar(hwnd, dc, rc, st); break;
    case Kind::Tree: PaintTree(hwnd, dc, rc, st); break;
    case Kind::Tab: PaintTab(hwnd, dc, rc, st); break;
    default: break;
  }
  RestoreDC(dc, saved);
  return true;
}

bool PaintControlWindow(HWND hwnd) {
  if (KindOf(hwnd) == Kind::None) return false;
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return false;
  PaintControl(hwnd, dc);
  EndPaint(hwnd, &ps);
  return true;
}

// The item's font selected and the parent's colours, as a button prepares its DC before it asks
// its parent to draw it.
void PrepareItemDc(HWND hwnd, HDC dc) {
  ControlState st;
  GetControlState(hwnd, &st);
  SelectObject(dc, FontOf(hwnd, st));
  AskColors(hwnd, dc, WM_CTLCOLORBTN);
}

}  // namespace vkr::ui::detail

namespace vkr::ui::controls {
bool (*g_paintControl)(HWND hwnd) = &vkr::ui::detail::PaintControlWindow;
void PrepareItemDc(HWND hwnd, HDC dc) { vkr::ui::detail::PrepareItemDc(hwnd, dc); }
}  // namespace vkr::ui::controls

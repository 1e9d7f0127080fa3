// Owner-drawn check and radio buttons of the user-interface base, and the colour handlers: the
// glyph is a cell of the system check-box strip recoloured by the entry's state, so the user sees
// at a glance whether an entry is usable, changed by him, or rejected.
#include "ui/framework/BaseActiveX.h"

namespace {

// Colour tokens of the state-colour table; any other value is a plain COLORREF.
constexpr COLORREF kTokenText = 0x10000000;
constexpr COLORREF kTokenGrayText = 0x209C9C9C;
constexpr COLORREF kTokenWindow = 0x30FFFFFF;
constexpr COLORREF kTokenFace = 0x40A0A0A0;

constexpr ULONG kOptionFaceBackground = 0x1;
constexpr ULONG kOptionButtonText = 0x2;
constexpr ULONG kOptionHighlight = 0x8;
constexpr ULONG kOptionRadioLook = 0x10;
constexpr ULONG kOptionCheckLook = 0x20;
constexpr ULONG kOptionCommand = 0x80000000;

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kBlack = 0x000000;

// What one button needs drawn: the strips and their cell size, the look and the two colours.
struct CheckCell {
  HBITMAP glyphs = nullptr;
  HBITMAP work = nullptr;
  int w = 0;
  int h = 0;
  bool radio = false;
  COLORREF fill = 0;
  COLORREF mark = 0;
};

// Recolours the button's cell in the work strip and draws it with the button's text.
void DrawCheckCell(const DRAWITEMSTRUCT& item, const CheckCell& cell) {
  HDC dc = item.hDC;
  const int w = cell.w, h = cell.h;
  HDC glyphDc = CreateCompatibleDC(dc);
  HDC workDc = CreateCompatibleDC(dc);
  HGDIOBJ oldGlyph = SelectObject(glyphDc, cell.glyphs);
  HGDIOBJ oldWork = SelectObject(workDc, cell.work);

  const auto check = static_cast<UINT>(SendMessageA(item.hwndItem, BM_GETCHECK, 0, 0));
  int x0 = 0, y0 = 0;
  if (cell.radio) {
    x0 = check == BST_CHECKED ? w : 0;
    y0 = h;
  } else if (check == BST_CHECKED) {
    x0 = w;
  } else if (check == BST_INDETERMINATE) {
    x0 = 2 * w;
    y0 = 2 * h;
  }

  const COLORREF key = GetPixel(glyphDc, 0, h);
  const COLORREF background = GetBkColor(dc);

  for (int x = x0; x < x0 + w; ++x) {
    for (int y = y0; y < y0 + h; ++y) {
      const COLORREF p = GetPixel(glyphDc, x, y);
      const COLORREF fillFrom = check == BST_INDETERMINATE ? kWhite : key;
      if (p == fillFrom)
        SetPixel(workDc, x, y, cell.fill);
      else if (p == kBlack)
        SetPixel(workDc, x, y, cell.mark);
    }
  }

  // The round glyph keeps no coloured corners: the key colour above and below the ring takes the
  // dialog's background, from each end of the column towards its middle.
  if (cell.radio) {
    const int middle = y0 + h / 2;
    for (int x = x0; x < x0 + w; ++x) {
      for (int y = y0; y <= middle && GetPixel(glyphDc, x, y) == key; ++y) SetPixel(workDc, x, y, background);
      for (int y = y0 + h - 1; y >= middle && GetPixel(glyphDc, x, y) == key; --y) SetPixel(workDc, x, y, background);
    }
  }

  // The highlight of the 3D frame stays white whatever the fill.
  const int ox = cell.radio ? 0 : 2 * w;
  const int oy = cell.radio ? 2 * h : 0;
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y)
      if (GetPixel(glyphDc, ox + x, oy + y) == kWhite) SetPixel(workDc, x0 + x, y0 + y, kWhite);

  const int itemHeight = item.rcItem.bottom - item.rcItem.top;
  StretchBlt(dc, 0, (itemHeight - h) / 2, w, h, workDc, x0, y0, w, h, SRCCOPY);

  char text[256] = {};
  const int length = GetWindowTextA(item.hwndItem, text, static_cast<int>(sizeof text));
  SIZE extent{};
  GetTextExtentPoint32A(dc, text, length, &extent);
  const int d = itemHeight - extent.cy;
  const RECT box{w + 4, d / 2 - 2, extent.cx + w + 6, extent.cy + d / 2 + 1};
  HBRUSH brush = CreateSolidBrush(GetBkColor(dc));
  FillRect(dc, &box, brush);
  HPEN pen = nullptr;
  if (item.itemState & ODS_FOCUS) {
    const LOGBRUSH black{BS_SOLID, kBlack, 0};
    pen = ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &black, 0, nullptr);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
  }
  TextOutA(dc, w + 5, d / 2 - 1, text, length);

  if (pen) DeleteObject(pen);
  DeleteObject(brush);
  SelectObject(workDc, oldWork);
  SelectObject(glyphDc, oldGlyph);
  DeleteDC(workDc);
  DeleteDC(glyphDc);
}

}  // namespace

COLORREF CovFDT_BaseActiveXImpl::ResolveColor(LONG index, ULONG value) {
  const ULONG options = (index >= 0 && static_cast<ULONG>(index) < m_nParInfoCount && m_pParInfo)
                            ? m_pParInfo[index].m_nCtrlKind
                            : 0;
  switch (value) {
    case kTokenText:
      if (options & kOptionHighlight) return GetSysColor(COLOR_HIGHLIGHT);
      return GetSysColor((options & kOptionButtonText) ? COLOR_BTNTEXT : COLOR_WINDOWTEXT);
    case kTokenGrayText:
      return GetSysColor(COLOR_GRAYTEXT);
    case kTokenWindow:
      return GetSysColor((options & kOptionFaceBackground) ? COLOR_BTNFACE : COLOR_WINDOW);
    case kTokenFace:
      return GetSysColor(COLOR_BTNFACE);
    default:
      return value;
  }
}

HRESULT CovFDT_BaseActiveXImpl::OnDrawItem(UINT controlId, DRAWITEMSTRUCT* item) {
  if (!item) return E_POINTER;
  if (!m_pParInfo) return S_FALSE;
  if (!m_ahCheckBitmaps[0] || !m_ahCheckBitmaps[1] || m_nCheckCellWidth <= 0 || m_nCheckCellHeight <= 0)
    return E_UNEXPECTED;
  HRESULT hr = S_FALSE;
  for (ULONG i = 0; i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i) {
    const CActXParInfo& entry = m_pParInfo[i];
    const ULONG options = entry.m_nCtrlKind;
    if (entry.m_nCtrlId != controlId || !(options & (kOptionRadioLook | kOptionCheckLook)) || (options & kOptionCommand))
      continue;
    // The row of the entry's state code; the last one when several match, the first when none.
    const ULONG code = entry.m_nState & 7;
    size_t row = 0;
    for (size_t r = 0; r < m_nStateCount && r < m_anStateOrder.size(); ++r)
      if (m_anStateOrder[r] == code) row = r;
    CheckCell cell;
    cell.glyphs = m_ahCheckBitmaps[0];
    cell.work = m_ahCheckBitmaps[1];
    cell.w = m_nCheckCellWidth;
    cell.h = m_nCheckCellHeight;
    cell.radio = (options & kOptionRadioLook) != 0;
    cell.mark = ResolveColor(static_cast<LONG>(i), m_anColorTable[row]);
    cell.fill = ResolveColor(static_cast<LONG>(i), m_anColorTable[10 + row]);
    DRAWITEMSTRUCT target = *item;
    if (!target.hwndItem) target.hwndItem = GetDlgItem(m_hWndDialog, static_cast<int>(controlId));
    DrawCheckCell(target, cell);
    hr = S_OK;
  }
  return hr;
}

// The colour messages keep the system's colours: a user interface that wants others overrides them.
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorEdit(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorListBox(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorStatic(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorDlg(UINT, WPARAM, LPARAM, BOOL*) { return 0; }

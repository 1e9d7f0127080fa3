// Text: the built-in bitmap fonts, TextOut, DrawText, extents and metrics (the rule is in gdi.h).
#include <algorithm>
#include <string>

#include "platform/ui/gdi_internal.h"
#include "platform/win/text.h"

using namespace vkr::ui::detail;

namespace {

using Text = std::u32string;

Text FromUtf16(std::u16string_view s) {
  Text out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

Text FromA(LPCSTR text, int length) {
  if (!text) return {};
  std::string_view v = length < 0 ? std::string_view(text) : std::string_view(text, static_cast<std::size_t>(length));
  return FromUtf16(vkr::Utf8ToUtf16(v));
}

Text FromW(LPCWSTR text, int length) {
  if (!text) return {};
  std::u16string_view v = length < 0 ? std::u16string_view(text) : std::u16string_view(text, static_cast<std::size_t>(length));
  return FromUtf16(v);
}

const BuiltinFace& FaceOf(const Dc& dc) { return *dc.st.font->face; }

unsigned GlyphOf(char32_t c) {
  if (c == '\t') return ' ';
  if (c < kFirstGlyph || c > kLastGlyph || (c >= 0x7F && c < 0xA0)) return '?';
  return static_cast<unsigned>(c);
}

int Advance(const BuiltinFace& f, char32_t c) { return f.advances[GlyphOf(c) - kFirstGlyph]; }

int Width(const BuiltinFace& f, const Text& t) {
  int w = 0;
  for (char32_t c : t) w += Advance(f, c);
  return w;
}

// Draws the glyphs with their top-left at (x, y), logical; the background first when opaque.
void DrawRun(Dc& dc, int x, int y, const Text& t, int underline) {
  const BuiltinFace& f = FaceOf(dc);
  const LOGFONTW& lf = dc.st.font->log;
  int w = Width(f, t);
  if (dc.st.bkMode == OPAQUE) FillSurfaceRect(dc, RECT{x, y, x + w, y + f.height}, dc.st.bk);
  Surface* s = dc.Target();
  if (!s) return;
  int cx = x;
  for (std::size_t k = 0; k < t.size(); ++k) {
    unsigned g = GlyphOf(t[k]);
    int adv = f.advances[g - kFirstGlyph];
    const std::uint32_t* rows = f.rows + static_cast<std::size_t>(g - kFirstGlyph) * static_cast<std::size_t>(f.height);
    for (int r = 0; r < f.height; ++r) {
      std::uint32_t bits = rows[r];
      for (int c = 0; bits && c < 32; ++c, bits <<= 1)
        if (bits & 0x80000000u) PutPixel(dc, cx + c, y + r, dc.st.text);
    }
    int uy = y + std::min(f.ascent + 1, f.height - 1);
    if (lf.lfUnderline || static_cast<int>(k) == underline) FillSurfaceRect(dc, RECT{cx, uy, cx + adv, uy + 1}, dc.st.text);
    if (lf.lfStrikeOut) {
      int sy = y + f.ascent * 2 / 3;
      FillSurfaceRect(dc, RECT{cx, sy, cx + adv, sy + 1}, dc.st.text);
    }
    cx += adv;
  }
}

BOOL TextOutImpl(HDC hdc, int x, int y, const Text& t) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  if (dc->Target()) dc->Target()->Flush();
  DrawRun(*dc, x, y, t, -1);
  if (dc->Target()) dc->Target()->MarkDirty();
  return TRUE;
}

BOOL ExtentImpl(HDC hdc, const Text& t, LPSIZE size) {
  auto dc = LookupDc(hdc);
  if (!dc || !size) return FALSE;
  size->cx = Width(FaceOf(*dc), t);
  size->cy = FaceOf(*dc).height;
  return TRUE;
}

template <class TM>
BOOL MetricsImpl(HDC hdc, TM* tm) {
  auto dc = LookupDc(hdc);
  if (!dc || !tm) return FALSE;
  const BuiltinFace& f = FaceOf(*dc);
  *tm = TM{};
  tm->tmHeight = f.height;
  tm->tmAscent = f.ascent;
  tm->tmDescent = f.height - f.ascent;
  tm->tmInternalLeading = f.height - (f.height * 5 + 3) / 6;
  tm->tmExternalLeading = 0;
  tm->tmAveCharWidth = Advance(f, 'x');
  int maxw = 0;
  for (unsigned c = kFirstGlyph; c <= kLastGlyph; ++c) maxw = std::max<int>(maxw, f.advances[c - kFirstGlyph]);
  tm->tmMaxCharWidth = maxw;
  tm->tmWeight = f.bold ? FW_BOLD : FW_NORMAL;
  tm->tmDigitizedAspectX = 96;
  tm->tmDigitizedAspectY = 96;
  tm->tmFirstChar = static_cast<decltype(tm->tmFirstChar)>(kFirstGlyph);
  tm->tmLastChar = static_cast<decltype(tm->tmLastChar)>(kLastGlyph);
  tm->tmDefaultChar = '?';
  tm->tmBreakChar = ' ';
  tm->tmItalic = dc->st.font->log.lfItalic;
  tm->tmUnderlined = dc->st.font->log.lfUnderline;
  tm->tmStruckOut = dc->st.font->log.lfStrikeOut;
  // TMPF_FIXED_PITCH (1) set means a variable-pitch font, as Windows has it.
  tm->tmPitchAndFamily = static_cast<BYTE>(0x01 | FF_SWISS);
  tm->tmCharSet = ANSI_CHARSET;
  return TRUE;
}

struct Line {
  Text text;
  int underline = -1;
};

int DrawTextImpl(HDC hdc, Text t, LPRECT rect, UINT format) {
  auto dc = LookupDc(hdc);
  if (!dc || !rect) return 0;
  const BuiltinFace& f = FaceOf(*dc);
  // Prefixes: "&&" is "&", "&x" underlines x.
  int underline = -1;
  if (!(format & DT_NOPREFIX)) {
    Text out;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '&') {
        if (i + 1 < t.size() && t[i + 1] == '&') {
          out.push_back('&');
          ++i;
        } else if (i + 1 < t.size()) {
          if (underline < 0 && !(format & DT_HIDEPREFIX)) underline = static_cast<int>(out.size());
        }
        continue;
      }
      out.push_back(t[i]);
    }
    t = std::move(out);
  }
  if (format & DT_EXPANDTABS) {
    Text out;
    int tab = 8 * Advance(f, 'x');
    int w = 0;
    for (char32_t c : t) {
      if (c == '\n' || c == '\r') w = 0;
      if (c == '\t' && tab > 0) {
        do {
          out.push_back(' ');
          w += Advance(f, ' ');
        } while (w % tab != 0 && Advance(f, ' ') > 0 && w < 10000);
        continue;
      }
      out.push_back(c);
      w += Advance(f, c);
    }
    t = std::move(out);
  }
  int width = rect->right - rect->left;
  std::vector<Line> lines;
  // Split into lines, remembering where the underlined character went.
  {
    Line cur;
    int pos = 0;
    for (std::size_t i = 0; i < t.size(); ++i, ++pos) {
      char32_t c = t[i];
      if (!(format & DT_SINGLELINE) && (c == '\r' || c == '\n')) {
        if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') {
          ++i;
          ++pos;
        }
        lines.push_back(std::move(cur));
        cur = Line{};
        continue;
      }
      if (c == '\r' || c == '\n') continue;
      if (pos == underline) cur.underline = static_cast<int>(cur.text.size());
      cur.text.push_back(c);
    }
    lines.push_back(std::move(cur));
  }
  if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) {
    std::vector<Line> wrapped;
    for (Line& l : lines) {
      std::size_t start = 0;
      while (true) {
        Text rest = l.text.substr(start);
        if (Width(f, rest) <= width || rest.empty()) {
          Line w{rest, l.underline >= static_cast<int>(start) ? l.underline - static_cast<int>(start) : -1};
          wrapped.push_back(w);
          break;
        }
        // The last space that keeps the line within the width; a long word stays whole.
        std::size_t cut = Text::npos;
        int acc = 0;
        for (std::size_t i = 0; i < rest.size(); ++i) {
          if (rest[i] == ' ' && acc <= width) cut = i;
          acc += Advance(f, rest[i]);
          if (acc > width && cut != Text::npos) break;
        }
        if (cut == Text::npos) {
          cut = rest.find(' ');
          if (cut == Text::npos) {
            wrapped.push_back(Line{rest, l.underline >= static_cast<int>(start) ? l.underline - static_cast<int>(start) : -1});
            break;
          }
        }
        Line w{rest.substr(0, cut), -1};
        if (l.underline >= static_cast<int>(start) && l.underline < static_cast<int>(start + cut))
          w.underline = l.underline - static_cast<int>(start);
        wrapped.push_back(w);
        start += cut;
        while (start < l.text.size() && l.text[start] == ' ') ++start;
        if (start >= l.text.size()) break;
      }
    }
    lines = std::move(wrapped);
  }
  if ((format & DT_END_ELLIPSIS)) {
    for (Line& l : lines) {
      if (Width(f, l.text) <= width) continue;
      Text dots = U"...";
      while (!l.text.empty() && Width(f, l.text) + Width(f, dots) > width) l.text.pop_back();
      l.text += dots;
      if (l.underline >= static_cast<int>(l.text.size()) - 3) l.underline = -1;
    }
  }
  int total = static_cast<int>(lines.size()) * f.height;
  if (format & DT_CALCRECT) {
    int maxw = 0;
    for (const Line& l : lines) maxw = std::max(maxw, Width(f, l.text));
    rect->right = rect->left + maxw;
    rect->bottom = rect->top + total;
    return total;
  }
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - f.height) / 2;
    else if (format & DT_BOTTOM) y = rect->bottom - f.height;
  }
  if (dc->Target()) dc->Target()->Flush();
  DcState keep = dc->st;
  if (!(format & DT_NOCLIP)) {
    POINT a = dc->ToSurface(rect->left, rect->top), b = dc->ToSurface(rect->right, rect->bottom);
    RECT r{a.x, a.y, b.x, b.y};
    if (dc->st.hasClip) {
      r.left = std::max(r.left, dc->st.clip.left);
      r.top = std::max(r.top, dc->st.clip.top);
      r.right = std::min(r.right, dc->st.clip.right);
      r.bottom = std::min(r.bottom, dc->st.clip.bottom);
    }
    dc->st.clip = r;
    dc->st.hasClip = true;
  }
  int top = y;
  for (const Line& l : lines) {
    int lw = Width(f, l.text);
    int x = rect->left;
    if (format & DT_CENTER) x = rect->left + (width - lw) / 2;
    else if (format & DT_RIGHT) x = rect->right - lw;
    DrawRun(*dc, x, y, l.text, l.underline);
    y += f.height;
  }
  dc->st.clip = keep.clip;
  dc->st.hasClip = keep.hasClip;
  if (dc->Target()) dc->Target()->MarkDirty();
  return (format & (DT_VCENTER | DT_BOTTOM)) && (format & DT_SINGLELINE) ? top - rect->top + total : total;
}

}  // namespace

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int length) {
  if (length < 0) return FALSE;
  return TextOutImpl(hdc, x, y, FromA(text, length));
}
BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int length) {
  if (length < 0) return FALSE;
  return TextOutImpl(hdc, x, y, FromW(text, length));
}
int DrawTextA(HDC hdc, LPCSTR text, int length, LPRECT rect, UINT format) {
  return DrawTextImpl(hdc, FromA(text, length), rect, format);
}
int DrawTextW(HDC hdc, LPCWSTR text, int length, LPRECT rect, UINT format) {
  return DrawTextImpl(hdc, FromW(text, length), rect, format);
}
BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR text, int length, LPSIZE size) {
  if (length < 0) return FALSE;
  return ExtentImpl(hdc, FromA(text, length), size);
}
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int length, LPSIZE size) {
  if (length < 0) return FALSE;
  return ExtentImpl(hdc, FromW(text, length), size);
}
BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* metrics) { return MetricsImpl(hdc, metrics); }
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics) { return MetricsImpl(hdc, metrics); }

// Owned fonts and checked numbers of the device pages (see PageResources.h).
#include "ui/device/kit/PageResources.h"

namespace vkr::dui {

HFONT COwnedFont::Create(const char* face, int height, int weight) {
  Reset();
  m_font = CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  return m_font;
}

void COwnedFont::Reset() {
  if (m_font) DeleteObject(m_font);
  m_font = nullptr;
}

void COwnedFont::SetOn(HWND dialog, std::initializer_list<UINT> itemIds) const {
  for (UINT id : itemIds)
    SendDlgItemMessageA(dialog, static_cast<int>(id), WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
}

std::optional<ULONG> ParseUnsigned(std::string_view text, ULONG maximum) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  // A plus sign says what the number says without it, as the integer fields read it.
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > maximum) return std::nullopt;
  }
  return static_cast<ULONG>(value);
}

}  // namespace vkr::dui

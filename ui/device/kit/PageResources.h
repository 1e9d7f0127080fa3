// What a device page owns and reads besides its parameters: fonts it makes at run time (freed with
// the page, however often it makes them) and user input that must fit a device field.
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace vkr::dui {

// A font the page makes ("Tahoma", height 14, weight 600) and frees when the holder ends or makes
// another. Give Get() to WM_SETFONT; the controls must not outlive the holder with it.
class COwnedFont {
 public:
  COwnedFont() = default;
  ~COwnedFont() { Reset(); }
  COwnedFont(const COwnedFont&) = delete;
  COwnedFont& operator=(const COwnedFont&) = delete;

  // Frees the font held and makes the new one (default attributes otherwise); null on failure.
  HFONT Create(const char* face, int height, int weight);
  HFONT Get() const { return m_font; }
  void Reset();
  // WM_SETFONT with redraw to each of the dialog's items.
  void SetOn(HWND dialog, std::initializer_list<UINT> itemIds) const;

 private:
  HFONT m_font = nullptr;
};

// An unsigned decimal number typed by the user, when it is one and at most maximum: digits only
// (blanks around and a leading plus are allowed), no minus, no fraction. Absent otherwise, so the page can refuse the
// entry instead of sending a cut-down value.
std::optional<ULONG> ParseUnsigned(std::string_view text, ULONG maximum);

}  // namespace vkr::dui

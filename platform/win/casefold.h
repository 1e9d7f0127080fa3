// Case-insensitive comparison of names, as the registry and the file system of Windows compare them.
//
// Windows compares names by upper-casing each UTF-16 unit. We fold the scripts the system's names
// can plausibly use (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic); other characters compare
// exactly.
#pragma once

#include <string_view>

namespace vkr::platform {

constexpr char16_t UpperCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs upper/lower as even/odd, except the dotless i and the three
  // odd-paired runs around it.
  if (c >= 0x100 && c <= 0x137 && c != 0x131) return static_cast<char16_t>(c & ~1u);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1u) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c & ~1u);
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

inline int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = UpperCase(a[i]), y = UpperCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return CompareNoCase(a, b) < 0; }
};

}  // namespace vkr::platform

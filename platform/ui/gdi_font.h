// The built-in bitmap fonts (internal): one table per cell height and weight, glyphs 0x20-0xFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vkr::ui::detail {

struct BuiltinFace {
  int height;  // the cell height, tmHeight
  int ascent;  // rows above the base line
  bool bold;
  const unsigned char* advances;  // per character from 0x20
  const std::uint32_t* rows;      // height rows per character, bit 31 is the leftmost pixel
};

constexpr unsigned kFirstGlyph = 0x20;
constexpr unsigned kLastGlyph = 0xFF;

const BuiltinFace* BuiltinFaces(std::size_t* count);

}  // namespace vkr::ui::detail

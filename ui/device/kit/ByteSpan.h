// Reading and building HART data bytes: big-endian integers and IEEE singles, and HART Packed
// ASCII, each field read only when it is wholly present.
//
// A device answer may be shorter than its layout (an older device, a cut-off frame): the reader
// answers "absent" (std::nullopt) for every field that does not fit, so a decoder writes
//   if (auto unit = reader.U8(2)) ...;   if (auto upper = reader.Float(3)) ...;
// and never reads past the received bytes. Offsets are those of the command's layout.
//
// Packed ASCII: four 6-bit characters in three bytes. Encoding pads with blanks to the field's
// length, upper-cases a-z and keeps the low 6 bits; decoding sets bit 6 where bit 5 is clear
// (0x00-0x1F become '@'..'_', 0x20-0x3F stay). Texts are 8-bit (the pages' ANSI texts).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vkr::dui {

class CByteReader {
 public:
  CByteReader() = default;
  explicit CByteReader(std::span<const BYTE> bytes) : m_bytes(bytes) {}

  std::size_t Size() const { return m_bytes.size(); }
  // Whether count bytes from offset are all present.
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
  }

  std::optional<BYTE> U8(std::size_t offset) const;
  std::optional<USHORT> U16(std::size_t offset) const;
  std::optional<ULONG> U24(std::size_t offset) const;
  std::optional<ULONG> U32(std::size_t offset) const;
  std::optional<float> Float(std::size_t offset) const;
  // byteCount bytes of Packed ASCII as text (byteCount / 3 * 4 characters; a byteCount that is
  // no multiple of 3 is absent).
  std::optional<std::string> PackedAscii(std::size_t offset, std::size_t byteCount) const;
  std::optional<std::span<const BYTE>> Bytes(std::size_t offset, std::size_t count) const;

 private:
  std::span<const BYTE> m_bytes;
};

// Builds request or record bytes in order. A value that does not fit its field (a number above
// 0xFFFFFF for U24, a text longer than its field or with a character Packed ASCII cannot carry)
// appends nothing and makes Ok() false: nothing is silently cut.
class CByteWriter {
 public:
  CByteWriter& U8(BYTE value);
  CByteWriter& U16(USHORT value);
  CByteWriter& U24(ULONG value);
  CByteWriter& U32(ULONG value);
  CByteWriter& Float(float value);
  // The text as characters Packed ASCII bytes (characters a multiple of 4).
  CByteWriter& PackedAscii(std::string_view text, std::size_t characters);
  CByteWriter& Bytes(std::span<const BYTE> bytes);

  bool Ok() const { return m_ok; }
  const std::vector<BYTE>& Data() const { return m_bytes; }
  std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<BYTE> m_bytes;
  bool m_ok = true;
};

// Whether the text fits a Packed ASCII field of that many characters: not longer, and every
// character (after upper-casing a-z) one of 0x20 to 0x5F.
bool FitsPackedAscii(std::string_view text, std::size_t characters);
// The text padded with blanks to characters (a multiple of 4), upper-cased, packed: characters /
// 4 * 3 bytes. Characters past the field are dropped and others keep their low 6 bits; callers
// that take user input check FitsPackedAscii first.
std::vector<BYTE> EncodePackedAscii(std::string_view text, std::size_t characters);
// The text fields of the device as the user types them (UTF-16): a Packed ASCII field takes up to
// `characters` of blank, '!' to '_' and a-z (sent as A-Z); the long tag takes up to `characters`
// ISO Latin-1 characters that print (0x20-0x7E, 0xA0-0xFF).
bool FitsPackedAsciiText(std::u16string_view text, std::size_t characters);
bool FitsLatin1Text(std::u16string_view text, std::size_t characters);
// The text as the device will hold it: a-z upper-cased.
std::u16string PackedAsciiUpper(std::u16string_view text);
// What such a field holds, in the words an entry's refusal names it with.
std::u16string PackedAsciiHoldsText(std::size_t characters);
std::u16string Latin1HoldsText(std::size_t characters);

// Every whole group of three bytes as four characters (trailing blanks kept).
std::string DecodePackedAscii(std::span<const BYTE> bytes);

// IEEE single, most significant byte first.
float FloatFromBigEndian(const BYTE* bytes);
void FloatToBigEndian(float value, BYTE* bytes);

}  // namespace vkr::dui

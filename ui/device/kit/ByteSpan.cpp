// Big-endian fields and HART Packed ASCII over byte spans (see ByteSpan.h).
#include "ui/device/kit/ByteSpan.h"

#include <bit>
#include <cstdint>

namespace vkr::dui {

namespace {

ULONG BigEndian(std::span<const BYTE> bytes) {
  ULONG value = 0;
  for (BYTE b : bytes) value = (value << 8) | b;
  return value;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::u16string NumberText(std::size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

float FloatFromBigEndian(const BYTE* bytes) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(BigEndian({bytes, 4})));
}

void FloatToBigEndian(float value, BYTE* bytes) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(bits >> (24 - 8 * i));
}

// ---- Reader -----------------------------------------------------------------------------------

std::optional<std::span<const BYTE>> CByteReader::Bytes(std::size_t offset, std::size_t count) const {
  if (!Has(offset, count)) return std::nullopt;
  return m_bytes.subspan(offset, count);
}

std::optional<BYTE> CByteReader::U8(std::size_t offset) const {
  if (!Has(offset, 1)) return std::nullopt;
  return m_bytes[offset];
}

std::optional<USHORT> CByteReader::U16(std::size_t offset) const {
  if (!Has(offset, 2)) return std::nullopt;
  return static_cast<USHORT>(BigEndian(m_bytes.subspan(offset, 2)));
}

std::optional<ULONG> CByteReader::U24(std::size_t offset) const {
  if (!Has(offset, 3)) return std::nullopt;
  return BigEndian(m_bytes.subspan(offset, 3));
}

std::optional<ULONG> CByteReader::U32(std::size_t offset) const {
  if (!Has(offset, 4)) return std::nullopt;
  return BigEndian(m_bytes.subspan(offset, 4));
}

std::optional<float> CByteReader::Float(std::size_t offset) const {
  if (!Has(offset, 4)) return std::nullopt;
  return FloatFromBigEndian(m_bytes.data() + offset);
}

std::optional<std::string> CByteReader::PackedAscii(std::size_t offset, std::size_t byteCount) const {
  if (byteCount % 3 != 0 || !Has(offset, byteCount)) return std::nullopt;
  return DecodePackedAscii(m_bytes.subspan(offset, byteCount));
}

// ---- Writer -----------------------------------------------------------------------------------

CByteWriter& CByteWriter::U8(BYTE value) {
  m_bytes.push_back(value);
  return *this;
}

CByteWriter& CByteWriter::U16(USHORT value) {
  m_bytes.push_back(static_cast<BYTE>(value >> 8));
  m_bytes.push_back(static_cast<BYTE>(value));
  return *this;
}

CByteWriter& CByteWriter::U24(ULONG value) {
  if (value > 0xFFFFFF) {
    m_ok = false;
    return *this;
  }
  for (int shift = 16; shift >= 0; shift -= 8) m_bytes.push_back(static_cast<BYTE>(value >> shift));
  return *this;
}

CByteWriter& CByteWriter::U32(ULONG value) {
  for (int shift = 24; shift >= 0; shift -= 8) m_bytes.push_back(static_cast<BYTE>(value >> shift));
  return *this;
}

CByteWriter& CByteWriter::Float(float value) {
  BYTE bytes[4];
  FloatToBigEndian(value, bytes);
  m_bytes.insert(m_bytes.end(), bytes, bytes + 4);
  return *this;
}

CByteWriter& CByteWriter::PackedAscii(std::string_view text, std::size_t characters) {
  if (characters % 4 != 0 || !FitsPackedAscii(text, characters)) {
    m_ok = false;
    return *this;
  }
  const std::vector<BYTE> packed = EncodePackedAscii(text, characters);
  m_bytes.insert(m_bytes.end(), packed.begin(), packed.end());
  return *this;
}

CByteWriter& CByteWriter::Bytes(std::span<const BYTE> bytes) {
  m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
  return *this;
}

// ---- Packed ASCII -----------------------------------------------------------------------------

bool FitsPackedAscii(std::string_view text, std::size_t characters) {
  if (text.size() > characters) return false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(Upper(c));
    if (u < 0x20 || u > 0x5F) return false;
  }
  return true;
}

bool FitsPackedAsciiText(std::u16string_view text, std::size_t characters) {
  if (text.size() > characters) return false;
  for (char16_t c : text)
    if (c < 0x20 || c > 0x7F || static_cast<unsigned char>(Upper(static_cast<char>(c))) > 0x5F) return false;
  return true;
}

bool FitsLatin1Text(std::u16string_view text, std::size_t characters) {
  if (text.size() > characters) return false;
  // Control characters (C0, DEL, C1) are no text a tag shows; beyond 0xFF Latin-1 has no byte.
  for (char16_t c : text)
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0xFF) return false;
  return true;
}

std::u16string PackedAsciiUpper(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return upper;
}

std::u16string PackedAsciiHoldsText(std::size_t characters) {
  return u"up to " + NumberText(characters) +
         u" characters of HART packed ASCII (A-Z, 0-9, blank and !\"#$%&'()*+,-./:;<=>?@[\\]^_; a-z are taken as A-Z)";
}

std::u16string Latin1HoldsText(std::size_t characters) {
  return u"up to " + NumberText(characters) + u" characters of ISO Latin-1";
}

std::vector<BYTE> EncodePackedAscii(std::string_view text, std::size_t characters) {
  characters -= characters % 4;
  std::string field(characters, ' ');
  for (std::size_t i = 0; i < characters && i < text.size(); ++i) field[i] = Upper(text[i]);
  std::vector<BYTE> packed;
  packed.reserve(characters / 4 * 3);
  for (std::size_t i = 0; i < characters; i += 4) {
    const unsigned c0 = static_cast<unsigned char>(field[i]) & 0x3F;
    const unsigned c1 = static_cast<unsigned char>(field[i + 1]) & 0x3F;
    const unsigned c2 = static_cast<unsigned char>(field[i + 2]) & 0x3F;
    const unsigned c3 = static_cast<unsigned char>(field[i + 3]) & 0x3F;
    packed.push_back(static_cast<BYTE>((c0 << 2) | (c1 >> 4)));
    packed.push_back(static_cast<BYTE>((c1 << 4) | (c2 >> 2)));
    packed.push_back(static_cast<BYTE>((c2 << 6) | c3));
  }
  return packed;
}

std::string DecodePackedAscii(std::span<const BYTE> bytes) {
  std::string text;
  text.reserve(bytes.size() / 3 * 4);
  for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
    const unsigned codes[4] = {b0 >> 2, ((b0 & 0x03) << 4) | (b1 >> 4), ((b1 & 0x0F) << 2) | (b2 >> 6), b2 & 0x3F};
    for (unsigned code : codes) text.push_back(static_cast<char>((code & 0x20) ? code : (code | 0x40)));
  }
  return text;
}

}  // namespace vkr::dui

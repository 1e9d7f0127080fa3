// HART values as raw bytes: the hex text between VARIANTs and bytes (two upper-case digits per
// byte, most significant byte first unless a codec flag says otherwise), bit fields, HART Packed
// ASCII, and the FDT data-type words. Bit n of a buffer is bit (n mod 8), counted from the least
// significant, of byte n div 8.
#pragma once

#include <vector>

#include "parameters/DataAccessDocuments.h"  // VarTypeToFdtDataType
#include "platform/platform.h"

struct SovFDT_ParameterEntry;

// Codec flags.
inline constexpr ULONG kCodecLowByteFirst = 0x1;
inline constexpr ULONG kCodecSwapWords = 0x2;

// One owned block of bytes.
class CByteBuffer {
 public:
  CByteBuffer() = default;
  explicit CByteBuffer(ULONG size) : m_bytes(size, 0) {}
  BYTE* Data() { return m_bytes.empty() ? nullptr : m_bytes.data(); }
  const BYTE* Data() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
  ULONG Size() const { return static_cast<ULONG>(m_bytes.size()); }
  void Resize(ULONG size) { m_bytes.assign(size, 0); }

 private:
  std::vector<BYTE> m_bytes;
};

// At most 256 bytes; *count in: room, out: bytes written (or needed, with E_OUTOFMEMORY).
HRESULT HexTextToBytes(BYTE* bytes, ULONG* count, BSTR text);
// The XML conversions' own (xml/Conversions.h): E_POINTER for null pointers, E_INVALIDARG for 0.
HRESULT BytesToHexString(const BYTE* bytes, ULONG count, BSTR* text);
HRESULT CopyBitField(BYTE* destination, ULONG destinationSize, ULONG destinationBitOffset, ULONG bitLength,
                     const BYTE* source, ULONG sourceSize, ULONG sourceBitOffset);
HRESULT VariantToHexText(const VARIANT& value, BSTR* text, ULONG flags);
HRESULT PduBytesToVariant(BSTR text, VARTYPE type, VARIANT* value, ULONG flags);
// The value at the entry's write bit offset / from its read bit offset; `type` is the VARTYPE to
// decode into. A date is written in the layout its field is read in (4 bytes: the time of day;
// 6: with the days since 1984; 7: the seven-byte date); a date the field cannot hold, or a field of
// another size, is refused (E_INVALIDARG).
HRESULT EncodeValueIntoBuffer(const VARIANT& value, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                              BYTE* buffer, ULONG flags);
HRESULT DecodeValueFromBuffer(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes,
                              VARTYPE type, VARIANT* value, ULONG flags);
// Packed ASCII: the framework's encoder, the device class's encoder (which refuses a text with a
// character outside the 6-bit set, E_INVALIDARG, or longer than its field), and the decoder.
HRESULT EncodePackedAscii(const VARIANT& text, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                          BYTE* buffer);
HRESULT EncodePackedAsciiDevice(const VARIANT& text, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                                BYTE* buffer);
// Whether the device class's encoder takes the text for the entry's field: every character of the
// 6-bit set (a-z taken as A-Z), no more characters than the field's bits hold.
bool PackedAsciiFitsField(BSTR text, const SovFDT_ParameterEntry* entry);
HRESULT DecodePackedAscii(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes, VARIANT* value);

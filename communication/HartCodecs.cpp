// The HART value codecs: hex text, bit fields, VARIANT <-> bytes, Packed ASCII, FDT data-type words.
//
// Every value travels through hex text (two upper-case digits per byte), so what the protocol
// object logs and what it sends are the same bytes. BytesToHexString is the XML conversions' own
// (xml/Conversions.cpp), declared again in HartCodecs.h for the codecs' callers.
#include "communication/HartCodecs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "communication/CovFDT_BaseProtocolImpl.h"

namespace {

constexpr ULONG kMaxHexBytes = 256;

// Bytes needed to hold `bits` bits from bit 0; 64-bit so that offset + length cannot wrap.
std::uint64_t BytesFor(std::uint64_t bits) { return (bits + 7) / 8; }

int HexDigit(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

HRESULT NewText(const std::u16string& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

void AppendHexByte(std::u16string& text, BYTE b) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  text.push_back(kDigits[b >> 4]);
  text.push_back(kDigits[b & 0xF]);
}

// The value's bytes most significant first, then reversed for the low-byte-first flag.
void AppendOrdered(std::u16string& text, std::uint64_t value, int byteCount, ULONG flags) {
  for (int i = 0; i < byteCount; ++i) {
    const int shift = (flags & kCodecLowByteFirst) ? 8 * i : 8 * (byteCount - 1 - i);
    AppendHexByte(text, static_cast<BYTE>(value >> shift));
  }
}

std::uint32_t SwapHalves(std::uint32_t v) { return (v << 16) | (v >> 16); }

std::uint64_t ReadOrdered(const BYTE* bytes, int byteCount, ULONG flags) {
  std::uint64_t v = 0;
  for (int i = 0; i < byteCount; ++i) {
    const BYTE b = (flags & kCodecLowByteFirst) ? bytes[byteCount - 1 - i] : bytes[i];
    v = (v << 8) | b;
  }
  return v;
}

// The one byte a character becomes in the 8-bit code page. The code page is UTF-8, where only
// ASCII is a single byte; anything else becomes '?', as a code-page conversion's default
// character does.
BYTE CodePageByte(OLECHAR c) { return c < 0x80 ? static_cast<BYTE>(c) : static_cast<BYTE>('?'); }

// The date of 1 January 1984, the origin of the HART date forms.
DATE Date1984() {
  SYSTEMTIME st{};
  st.wYear = 1984;
  st.wMonth = 1;
  st.wDay = 1;
  DOUBLE d = 0;
  SystemTimeToVariantTime(&st, &d);
  return d;
}

HRESULT DecodeDate(const BYTE* b, ULONG n, DATE* out) {
  if (n == 4 || n == 6) {
    const ULONG ms = (ULONG{b[0]} << 24) | (ULONG{b[1]} << 16) | (ULONG{b[2]} << 8) | b[3];
    const ULONG hour = ms / 3600000 % 24, minute = ms / 60000 % 60, second = ms / 1000 % 60;
    const ULONG days = n == 6 ? (ULONG{b[4]} << 8) | b[5] : 0;
    // Positive dates: the day count and the time of day simply add.
    *out = Date1984() + days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return S_OK;
  }
  if (n == 7) {
    SYSTEMTIME st{};
    st.wSecond = static_cast<WORD>(((ULONG{b[0]} << 8) | b[1]) / 1000);
    st.wMinute = static_cast<WORD>(b[2] & 63);
    st.wHour = static_cast<WORD>(b[3] & 31);
    st.wDay = static_cast<WORD>(b[4] & 31);
    st.wMonth = static_cast<WORD>(b[5] & 63);
    const WORD year = static_cast<WORD>(b[6] & 127);
    st.wYear = static_cast<WORD>(year < 70 ? year + 2000 : year + 1900);
    // Fields out of their ranges (a 61st second, month 0) make no date: refused, not guessed.
    DOUBLE d = 0;
    if (!SystemTimeToVariantTime(&st, &d)) return E_INVALIDARG;
    *out = d;
    return S_OK;
  }
  return E_INVALIDARG;
}

// The bytes of a date in the layout DecodeDate reads from a field of that many bytes: 6 the time
// of day and the days since 1 January 1984, 7 the seven-byte date (milliseconds of the minute,
// minute, hour, day, month, year from 1970 to 2069). A date the layout cannot hold is refused.
HRESULT DateFieldBytes(DATE date, ULONG n, std::array<BYTE, 7>* out) {
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(date, &st)) return E_INVALIDARG;
  if (n == 6) {
    SYSTEMTIME day{};
    day.wYear = st.wYear;
    day.wMonth = st.wMonth;
    day.wDay = st.wDay;
    DOUBLE whole = 0;
    if (!SystemTimeToVariantTime(&day, &whole)) return E_INVALIDARG;
    const double days = whole - Date1984();
    if (days < 0 || days > 0xFFFF) return E_INVALIDARG;
    const auto count = static_cast<std::uint32_t>(days);
    const std::uint32_t ms = ((st.wHour * 60u + st.wMinute) * 60u + st.wSecond) * 1000u;
    *out = {static_cast<BYTE>(ms >> 24), static_cast<BYTE>(ms >> 16), static_cast<BYTE>(ms >> 8),
            static_cast<BYTE>(ms), static_cast<BYTE>(count >> 8), static_cast<BYTE>(count), 0};
    return S_OK;
  }
  if (n == 7) {
    if (st.wYear < 1970 || st.wYear > 2069) return E_INVALIDARG;
    const unsigned ms = st.wSecond * 1000u;
    *out = {static_cast<BYTE>(ms >> 8), static_cast<BYTE>(ms), static_cast<BYTE>(st.wMinute),
            static_cast<BYTE>(st.wHour), static_cast<BYTE>(st.wDay), static_cast<BYTE>(st.wMonth),
            static_cast<BYTE>(st.wYear < 2000 ? st.wYear - 1900 : st.wYear - 2000)};
    return S_OK;
  }
  return E_INVALIDARG;
}

// Packs text as HART Packed ASCII: upper-cased, padded with blanks to a multiple of four
// characters and, when blockBytes is a multiple of three, to the characters blockBytes holds.
std::string PackAscii(BSTR text, std::size_t blockBytes) {
  std::string s;
  const UINT len = SysStringLen(text);
  s.reserve(len + 4);
  for (UINT i = 0; i < len; ++i) {
    BYTE c = CodePageByte(text[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<BYTE>(c - 'a' + 'A');
    s.push_back(static_cast<char>(c));
  }
  while (s.size() % 4 != 0) s.push_back(' ');
  if (blockBytes % 3 == 0)
    while (s.size() < blockBytes / 3 * 4) s.push_back(' ');
  std::string packed;
  packed.reserve(s.size() / 4 * 3);
  for (std::size_t i = 0; i < s.size(); i += 4) {
    const unsigned c0 = s[i] & 63, c1 = s[i + 1] & 63, c2 = s[i + 2] & 63, c3 = s[i + 3] & 63;
    packed.push_back(static_cast<char>((c0 << 2) + (c1 >> 4)));
    packed.push_back(static_cast<char>(((c1 << 4) & 255) + (c2 >> 2)));
    packed.push_back(static_cast<char>(((c2 << 6) & 255) + c3));
  }
  return packed;
}

// Whether every character has a Packed ASCII code: a blank, '!' to '_', or a-z (taken as A-Z).
bool HasPackedAsciiCodes(BSTR text) {
  const UINT len = SysStringLen(text);
  for (UINT i = 0; i < len; ++i) {
    OLECHAR c = text[i];
    if (c >= u'a' && c <= u'z') c = static_cast<OLECHAR>(c - u'a' + u'A');
    if (c < 0x20 || c > 0x5F) return false;
  }
  return true;
}

bool FitsWriteField(const SovFDT_ParameterEntry* entry, ULONG bufferSize) {
  return BytesFor(std::uint64_t{entry->nWriteBitOffset} + entry->nBitLength) <= bufferSize;
}

bool FitsReadField(const SovFDT_ParameterEntry* entry, ULONG byteCount) {
  return BytesFor(std::uint64_t{entry->nReadBitOffset} + entry->nBitLength) <= byteCount;
}

}  // namespace

HRESULT HexTextToBytes(BYTE* bytes, ULONG* count, BSTR text) {
  if (!bytes || !count || !text) return E_INVALIDARG;
  const UINT len = SysStringLen(text);
  if (len % 2 != 0 || len / 2 > kMaxHexBytes) return E_INVALIDARG;
  for (UINT i = 0; i < len; ++i)
    if (HexDigit(text[i]) < 0) return E_INVALIDARG;
  const ULONG needed = len / 2;
  if (*count < needed) {
    *count = needed;
    return E_OUTOFMEMORY;
  }
  for (ULONG i = 0; i < needed; ++i)
    bytes[i] = static_cast<BYTE>((HexDigit(text[2 * i]) << 4) | HexDigit(text[2 * i + 1]));
  *count = needed;
  return S_OK;
}

HRESULT CopyBitField(BYTE* destination, ULONG destinationSize, ULONG destinationBitOffset, ULONG bitLength,
                     const BYTE* source, ULONG sourceSize, ULONG sourceBitOffset) {
  if (!destination || !source) return E_INVALIDARG;
  // Never read past the source: the bits from the source offset up to its end are all there is.
  const std::uint64_t sourceBits = std::uint64_t{sourceSize} * 8;
  const std::uint64_t available = sourceBitOffset < sourceBits ? sourceBits - sourceBitOffset : 0;
  const std::uint64_t length = std::min<std::uint64_t>(bitLength, available);
  // Callers check the room first; a field beyond the destination is refused, not written.
  if (BytesFor(std::uint64_t{destinationBitOffset} + length) > destinationSize) return E_INVALIDARG;
  if (length == 0) return S_OK;
  if (destinationBitOffset % 8 == 0 && length % 8 == 0 && sourceBitOffset % 8 == 0) {
    std::memmove(destination + destinationBitOffset / 8, source + sourceBitOffset / 8, length / 8);
    return S_OK;
  }
  for (std::uint64_t i = 0; i < length; ++i) {
    const std::uint64_t s = sourceBitOffset + i, d = destinationBitOffset + i;
    const BYTE mask = static_cast<BYTE>(1u << (d % 8));
    if (source[s / 8] & (1u << (s % 8)))
      destination[d / 8] |= mask;
    else
      destination[d / 8] &= static_cast<BYTE>(~mask);
  }
  return S_OK;
}

HRESULT VariantToHexText(const VARIANT& value, BSTR* text, ULONG flags) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  std::u16string hex;
  switch (value.vt) {
    case VT_ARRAY | VT_UI1: {
      SAFEARRAY* psa = value.parray;
      if (!psa || SafeArrayGetDim(psa) != 1) return E_INVALIDARG;
      const ULONG n = psa->rgsabound[0].cElements;
      if (n > 0) {
        void* data = nullptr;
        HRESULT hr = SafeArrayAccessData(psa, &data);
        if (FAILED(hr)) return hr;
        for (ULONG i = 0; i < n; ++i) AppendHexByte(hex, static_cast<const BYTE*>(data)[i]);
        SafeArrayUnaccessData(psa);
      }
      break;
    }
    case VT_I1: AppendHexByte(hex, static_cast<BYTE>(value.cVal)); break;
    case VT_UI1: AppendHexByte(hex, value.bVal); break;
    case VT_BOOL: AppendHexByte(hex, value.boolVal == VARIANT_TRUE ? 1 : 0); break;
    case VT_I2:
    case VT_UI2: AppendOrdered(hex, value.uiVal, 2, flags); break;
    case VT_I4:
    case VT_UI4:
    case VT_R4: {
      std::uint32_t v = 0;
      if (value.vt == VT_R4)
        std::memcpy(&v, &value.fltVal, 4);
      else
        v = value.ulVal;
      if (flags & kCodecSwapWords) v = SwapHalves(v);
      AppendOrdered(hex, v, 4, flags);
      break;
    }
    case VT_R8:
    case VT_I8:
    case VT_UI8: {
      std::uint64_t v = 0;
      if (value.vt == VT_R8)
        std::memcpy(&v, &value.dblVal, 8);
      else
        v = value.ullVal;
      AppendOrdered(hex, v, 8, flags);
      break;
    }
    case VT_DATE: {
      SYSTEMTIME st{};
      if (!VariantTimeToSystemTime(value.date, &st)) return E_INVALIDARG;
      const std::uint32_t ms = ((st.wHour * 60u + st.wMinute) * 60u + st.wSecond) * 1000u;
      AppendOrdered(hex, ms, 4, flags);
      break;
    }
    case VT_BSTR: {
      const UINT len = SysStringLen(value.bstrVal);
      for (UINT i = 0; i < len; ++i) AppendHexByte(hex, CodePageByte(value.bstrVal[i]));
      break;
    }
    default: return S_FALSE;
  }
  return NewText(hex, text);
}

HRESULT PduBytesToVariant(BSTR text, VARTYPE type, VARIANT* value, ULONG flags) {
  if (!text || SysStringLen(text) == 0 || !value) return E_INVALIDARG;
  std::array<BYTE, kMaxHexBytes> bytes{};
  ULONG n = kMaxHexBytes;
  HRESULT hr = HexTextToBytes(bytes.data(), &n, text);
  if (FAILED(hr)) return hr;
  const BYTE* b = bytes.data();

  VARIANT out;
  VariantInit(&out);
  switch (type) {
    case VT_ARRAY | VT_UI1: {
      SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, n);
      if (!psa) return E_OUTOFMEMORY;
      void* data = nullptr;
      if (n > 0) {
        hr = SafeArrayAccessData(psa, &data);
        if (FAILED(hr)) {
          SafeArrayDestroy(psa);
          return hr;
        }
        std::memcpy(data, b, n);
        SafeArrayUnaccessData(psa);
      }
      out.vt = VT_ARRAY | VT_UI1;
      out.parray = psa;
      break;
    }
    case VT_I1:
    case VT_UI1:
    case VT_BOOL:
      if (n < 1) return E_INVALIDARG;
      out.vt = type;
      if (type == VT_BOOL)
        out.boolVal = b[0] ? VARIANT_TRUE : VARIANT_FALSE;
      else
        out.bVal = b[0];
      break;
    case VT_I2:
    case VT_UI2:
      if (n < 2) return E_INVALIDARG;
      out.vt = type;
      out.uiVal = static_cast<USHORT>(ReadOrdered(b, 2, flags));
      break;
    case VT_I4:
    case VT_R4: {
      if (n < 4) return E_INVALIDARG;
      std::uint32_t v = static_cast<std::uint32_t>(ReadOrdered(b, 4, flags));
      if (flags & kCodecSwapWords) v = SwapHalves(v);
      out.vt = type;
      if (type == VT_R4)
        std::memcpy(&out.fltVal, &v, 4);
      else
        out.ulVal = v;
      break;
    }
    case VT_UI4: {
      std::uint32_t v = 0;
      if (flags & kCodecLowByteFirst) {
        if (n < 4) return E_INVALIDARG;
        v = static_cast<std::uint32_t>(ReadOrdered(b, 4, flags));
      } else {
        // A shorter number (a 24-bit HART value) is taken with as many bytes as it has.
        if (n == 0 || n > 4) return E_INVALIDARG;
        v = static_cast<std::uint32_t>(ReadOrdered(b, static_cast<int>(n), flags));
      }
      if (flags & kCodecSwapWords) v = SwapHalves(v);
      out.vt = VT_UI4;
      out.ulVal = v;
      break;
    }
    case VT_R8:
    case VT_I8:
    case VT_UI8: {
      if (n < 8) return E_INVALIDARG;
      const std::uint64_t v = ReadOrdered(b, 8, flags);
      out.vt = type;
      if (type == VT_R8)
        std::memcpy(&out.dblVal, &v, 8);
      else
        out.ullVal = v;
      break;
    }
    case VT_DATE: {
      DATE d = 0;
      hr = DecodeDate(b, n, &d);
      if (FAILED(hr)) return hr;
      out.vt = VT_DATE;
      out.date = d;
      break;
    }
    case VT_BSTR: {
      std::u16string s;
      s.reserve(n);
      for (ULONG i = 0; i < n; ++i) {
        const BYTE c = b[i];
        s.push_back((c < 32 || c > 127) && c != 10 && c != 13 ? u' ' : static_cast<char16_t>(c));
      }
      BSTR t = nullptr;
      hr = NewText(s, &t);
      if (FAILED(hr)) return hr;
      out.vt = VT_BSTR;
      out.bstrVal = t;
      break;
    }
    default: return E_UNEXPECTED;
  }
  VariantClear(value);
  *value = out;
  return S_OK;
}

HRESULT EncodeValueIntoBuffer(const VARIANT& value, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                              BYTE* buffer, ULONG flags) {
  if (!entry || !buffer || !FitsWriteField(entry, bufferSize)) return E_INVALIDARG;
  const std::uint64_t fieldBytes = BytesFor(entry->nBitLength);
  std::array<BYTE, kMaxHexBytes> bytes{};
  ULONG n = static_cast<ULONG>(std::min<std::uint64_t>(fieldBytes, kMaxHexBytes));
  if (value.vt == VT_DATE && fieldBytes != 4) {
    // The hex text of a date is its time of day alone; the longer fields the decoder reads as
    // dates get their own layout, so that the date written is the date read back. A field of
    // another size holds no date.
    std::array<BYTE, 7> date{};
    const HRESULT made = DateFieldBytes(value.date, n, &date);
    if (FAILED(made)) return made;
    std::copy(date.begin(), date.begin() + n, bytes.begin());
  } else {
    vkr::Bstr hex;
    HRESULT hr = VariantToHexText(value, hex.Put(), flags);
    if (FAILED(hr)) return hr;
    if (hex.Empty()) return S_OK;
    hr = HexTextToBytes(bytes.data(), &n, hex);
    if (FAILED(hr)) return hr;
  }
  // A field that ends inside its last byte holds only that byte's low bits: a date that needs the
  // others would be cut into another date.
  if (value.vt == VT_DATE && entry->nBitLength % 8 != 0 && (bytes[n - 1] >> (entry->nBitLength % 8)) != 0)
    return E_INVALIDARG;
  return CopyBitField(buffer, bufferSize, entry->nWriteBitOffset, entry->nBitLength, bytes.data(), n, 0);
}

HRESULT DecodeValueFromBuffer(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes,
                              VARTYPE type, VARIANT* value, ULONG flags) {
  if (!entry || !bytes || !value || !FitsReadField(entry, byteCount)) return E_INVALIDARG;
  if (entry->nBitLength == 0) return E_OUTOFMEMORY;
  CByteBuffer field(static_cast<ULONG>(BytesFor(entry->nBitLength)));
  HRESULT hr = CopyBitField(field.Data(), field.Size(), 0, entry->nBitLength, bytes, byteCount, entry->nReadBitOffset);
  if (FAILED(hr)) return hr;
  vkr::Bstr hex;
  hr = BytesToHexString(field.Data(), field.Size(), hex.Put());
  if (FAILED(hr)) return hr;
  return PduBytesToVariant(hex, type, value, flags);
}

HRESULT EncodePackedAscii(const VARIANT& text, const SovFDT_ParameterEntry* entry, ULONG bufferSize, BYTE* buffer) {
  if (text.vt != VT_BSTR || !entry || !buffer || !FitsWriteField(entry, bufferSize)) return E_INVALIDARG;
  const std::string packed = PackAscii(text.bstrVal, bufferSize);
  if (packed.empty()) return S_OK;
  // A text longer than the field is cut to the field's bits.
  return CopyBitField(buffer, bufferSize, entry->nWriteBitOffset, entry->nBitLength,
                      reinterpret_cast<const BYTE*>(packed.data()), static_cast<ULONG>(packed.size()), 0);
}

bool PackedAsciiFitsField(BSTR text, const SovFDT_ParameterEntry* entry) {
  return entry && HasPackedAsciiCodes(text) && std::uint64_t{SysStringLen(text)} * 6 <= entry->nBitLength;
}

HRESULT EncodePackedAsciiDevice(const VARIANT& text, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                                BYTE* buffer) {
  if (text.vt != VT_BSTR || !entry || !buffer || !FitsWriteField(entry, bufferSize)) return E_INVALIDARG;
  // A character without a code is refused, never sent as another ('?' or its low six bits).
  if (!HasPackedAsciiCodes(text.bstrVal)) return E_INVALIDARG;
  // An empty text is the device's blank (all spaces), never what other members left in the bits.
  const std::uint64_t fieldBytes = BytesFor(entry->nBitLength);
  const std::string packed = PackAscii(text.bstrVal, static_cast<std::size_t>(fieldBytes));
  // A text that does not fit is refused whole, never cut.
  if (packed.size() > fieldBytes) return E_OUTOFMEMORY;
  return CopyBitField(buffer, bufferSize, entry->nWriteBitOffset, entry->nBitLength,
                      reinterpret_cast<const BYTE*>(packed.data()), static_cast<ULONG>(packed.size()), 0);
}

HRESULT DecodePackedAscii(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes, VARIANT* value) {
  if (!value || !entry || !bytes || !FitsReadField(entry, byteCount)) return E_INVALIDARG;
  if (entry->nBitLength == 0) return E_OUTOFMEMORY;
  CByteBuffer field(static_cast<ULONG>(BytesFor(entry->nBitLength)));
  HRESULT hr = CopyBitField(field.Data(), field.Size(), 0, entry->nBitLength, bytes, byteCount, entry->nReadBitOffset);
  if (FAILED(hr)) return hr;
  // Every whole 6-bit code, most significant bits first, in the order the encoder packs them.
  const std::uint64_t codes = std::uint64_t{field.Size()} * 8 / 6;
  std::u16string s;
  s.reserve(static_cast<std::size_t>(codes));
  const BYTE* f = field.Data();
  for (std::uint64_t i = 0; i < codes; ++i) {
    unsigned code = 0;
    for (int bit = 0; bit < 6; ++bit) {
      const std::uint64_t n = i * 6 + bit;  // counted from the first byte's most significant bit
      code = (code << 1) | ((f[n / 8] >> (7 - n % 8)) & 1u);
    }
    s.push_back(static_cast<char16_t>(code < 32 ? code + 64 : code));
  }
  BSTR t = nullptr;
  hr = NewText(s, &t);
  if (FAILED(hr)) return hr;
  VariantClear(value);
  value->vt = VT_BSTR;
  value->bstrVal = t;
  return S_OK;
}


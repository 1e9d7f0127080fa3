// The HART codecs and the TypeInformation reordering on arbitrary input: hex texts decoded into
// every type, PDU bytes taken apart at arbitrary positions, and layouts applied to arbitrary
// bytes. No crash, no hang, no read or write outside the buffers, and a value decoded from bytes
// must come back from its own encoding: from its hex text, and from the field it is written into.
//
// The first byte chooses the road: 0 hex text, 1 PDU bytes, 2 TypeInformation layout.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "communication/HartCodecs.h"
#include "communication/MyHartProtocol.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr std::size_t kMaxText = 600;
constexpr std::size_t kMaxPdu = 300;
constexpr std::size_t kMaxLayout = 4096;

void Check(bool ok) {
  if (!ok) std::abort();
}

const VARTYPE kTypes[] = {VT_I1, VT_UI1, VT_BOOL, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_R4, VT_R8,
                          VT_I8, VT_UI8, VT_DATE, VT_BSTR, VT_ARRAY | VT_UI1, VT_INT};

// The time of day of a date, to the second.
DWORD TimeOfDay(DATE date) {
  SYSTEMTIME st{};
  Check(VariantTimeToSystemTime(date, &st));
  return (st.wHour * 60u + st.wMinute) * 60u + st.wSecond;
}

// The same value: every bit of a number, every character of a text, every byte of an array, a
// date to the second.
bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_DATE: return std::abs(a.date - b.date) < 0.5 / 86400;
    case VT_BSTR: return vkr::View(a.bstrVal) == vkr::View(b.bstrVal);
    case VT_ARRAY | VT_UI1: {
      vkr::Bstr x, y;
      Check(VariantToHexText(a, x.Put(), 0) == S_OK && VariantToHexText(b, y.Put(), 0) == S_OK);
      return x.View() == y.View();
    }
    case VT_I1:
    case VT_UI1: return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2: return a.uiVal == b.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_R4: return std::memcmp(&a.ulVal, &b.ulVal, 4) == 0;
    case VT_R8:
    case VT_I8:
    case VT_UI8: return std::memcmp(&a.ullVal, &b.ullVal, 8) == 0;
    default: return false;
  }
}

void HexRoad(const std::uint8_t* data, std::size_t size) {
  const ULONG flags = size > 0 ? data[0] & 3 : 0;
  if (size > 0) {
    ++data;
    --size;
  }
  std::u16string text(data, data + std::min(size, kMaxText));
  vkr::Bstr hex(text);
  std::vector<BYTE> bytes(256);
  ULONG count = static_cast<ULONG>(bytes.size());
  const HRESULT hr = HexTextToBytes(bytes.data(), &count, hex);
  Check(FAILED(hr) || count <= 256);
  for (VARTYPE vt : kTypes) {
    vkr::Variant value;
    if (FAILED(PduBytesToVariant(hex, vt, value.Ptr(), flags))) continue;
    Check(value.vt == vt);
    // Every type that decodes encodes; only an empty text or array encodes to nothing.
    vkr::Bstr again;
    Check(VariantToHexText(value, again.Put(), flags) == S_OK);
    if (again.Empty()) {
      Check(vt == VT_BSTR || vt == (VT_ARRAY | VT_UI1));
      continue;
    }
    vkr::Variant back;
    Check(SUCCEEDED(PduBytesToVariant(again, vt, back.Ptr(), flags)));
    if (vt == VT_DATE) {
      // The text of a date is its time of day alone, written as the flags order it and read
      // high byte first.
      if (!(flags & kCodecLowByteFirst)) Check(TimeOfDay(back.date) == TimeOfDay(value.date));
      continue;
    }
    Check(SameValue(value, back));
  }
}

void PduRoad(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return;
  SovFDT_ParameterEntry entry;
  entry.nReadBitOffset = (data[0] << 8 | data[1]) % 4096;
  entry.nWriteBitOffset = (data[2] << 8 | data[3]) % 4096;
  entry.nBitLength = (data[4] << 8 | data[5]) % 4096;
  const ULONG flags = data[6] & 3;
  std::vector<BYTE> pdu(data + 7, data + 7 + std::min(size - 7, kMaxPdu));
  const ULONG n = static_cast<ULONG>(pdu.size());
  const BYTE* bytes = pdu.empty() ? reinterpret_cast<const BYTE*>("") : pdu.data();
  std::vector<BYTE> buffer(n + 1, 0x5A);

  // The field as it is written, in a request just large enough for it, and read back from there.
  SovFDT_ParameterEntry written = entry;
  written.nReadBitOffset = written.nWriteBitOffset;
  const ULONG fieldBytes = (entry.nBitLength + 7) / 8;
  std::vector<BYTE> request((entry.nWriteBitOffset + entry.nBitLength + 7) / 8 + 1, 0xA5);
  for (VARTYPE vt : kTypes) {
    vkr::Variant value;
    if (FAILED(DecodeValueFromBuffer(&entry, n, bytes, vt, value.Ptr(), flags))) continue;
    Check(value.vt == vt);
    EncodeValueIntoBuffer(value, &entry, static_cast<ULONG>(buffer.size()), buffer.data(), flags);
    const HRESULT hr = EncodeValueIntoBuffer(value, &entry, static_cast<ULONG>(request.size()), request.data(), flags);
    // A number narrower than four bytes is taken as a VT_UI4 but written as four; a date read from
    // a field that ends inside a byte may need the bits the field leaves out.
    if (hr == E_OUTOFMEMORY && vt == VT_UI4 && fieldBytes < 4) continue;
    if (hr == E_INVALIDARG && vt == VT_DATE && entry.nBitLength % 8 != 0) continue;
    Check(hr == S_OK);
    // A date's text is its time of day: written low byte first, it is not the field read back.
    if (vt == VT_DATE && fieldBytes == 4 && (flags & kCodecLowByteFirst)) continue;
    vkr::Variant back;
    Check(SUCCEEDED(DecodeValueFromBuffer(&written, static_cast<ULONG>(request.size()), request.data(), vt, back.Ptr(),
                                          flags)));
    Check(SameValue(value, back));
  }
  vkr::Variant text;
  if (SUCCEEDED(DecodePackedAscii(&entry, n, bytes, text.Ptr()))) {
    Check(text.vt == VT_BSTR);
    EncodePackedAscii(text, &entry, static_cast<ULONG>(buffer.size()), buffer.data());
    // What the device encoder accepts decodes to the same characters (padded with blanks).
    SovFDT_ParameterEntry same = entry;
    same.nReadBitOffset = same.nWriteBitOffset;
    if (EncodePackedAsciiDevice(text, &same, static_cast<ULONG>(buffer.size()), buffer.data()) == S_OK &&
        SysStringLen(text.bstrVal) > 0 && same.nBitLength % 24 == 0 && same.nWriteBitOffset % 8 == 0) {
      vkr::Variant back;
      Check(SUCCEEDED(DecodePackedAscii(&same, static_cast<ULONG>(buffer.size()), buffer.data(), back.Ptr())));
      Check(std::u16string(vkr::View(back.bstrVal)).substr(0, SysStringLen(text.bstrVal)) ==
            std::u16string(vkr::View(text.bstrVal)));
    }
  }
  CopyBitField(buffer.data(), static_cast<ULONG>(buffer.size()), entry.nWriteBitOffset, entry.nBitLength, bytes, n,
               entry.nReadBitOffset);
}

void LayoutRoad(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const std::size_t n = std::min<std::size_t>(data[0], size - 1);
  std::vector<BYTE> bytes(data + 1, data + 1 + n);
  bytes.push_back(0);  // never empty, so the operations see a real buffer
  const std::string layout(reinterpret_cast<const char*>(data + 1 + n), std::min(size - 1 - n, kMaxLayout));
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(vkr::Bstr(vkr::Utf8ToUtf16(layout)), document.Put(), &loaded)) || !loaded) return;
  MyHartProtocol protocol;
  const ULONG count = static_cast<ULONG>(bytes.size() - 1);
  for (const char16_t* path : {u"TypeInformation/Struct", u"TypeInformation/Array", u"TypeInformation/Simple"}) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(document->selectSingleNode(vkr::Bstr(path), node.Put())) || !node) continue;
    protocol.ReorderStructElements(node.Get(), bytes.data(), count, 0);
    protocol.ReorderArrayElements(node.Get(), bytes.data(), count, 0);
    protocol.ReorderSimpleElement(node.Get(), bytes.data(), count, 8, true);
  }
  Check(bytes.back() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = SUCCEEDED(CoInitialize(nullptr));
  if (!initialised || size < 1) return 0;
  switch (data[0] % 3) {
    case 0: HexRoad(data + 1, size - 1); break;
    case 1: PduRoad(data + 1, size - 1); break;
    default: LayoutRoad(data + 1, size - 1); break;
  }
  return 0;
}

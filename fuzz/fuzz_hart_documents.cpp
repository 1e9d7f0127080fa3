// HART documents and packed records from outside: arbitrary text into every document reader, and
// arbitrary VARIANT arrays into the unpacking of every record. No crash, no hang, and what was read
// or unpacked must pack and unpack to the same elements again.
//
// The first byte chooses the input: even, the rest is a document (UTF-8); odd, the rest describes
// an array of VARIANTs, one element per tag byte (see BuildArray).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "communication/HartRecords.h"
#include "platform/platform.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxElements = 64;
constexpr int kMaxDepth = 4;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Every element's type and value, nested arrays in brackets.
std::string Dump(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "E";
    case VT_UI1: return std::string("b").append(std::to_string(v.bVal));
    case VT_BOOL: return v.boolVal ? "T" : "F";
    case VT_I4: return std::string("l").append(std::to_string(v.lVal));
    case VT_UI4: return std::string("u").append(std::to_string(v.ulVal));
    case VT_I2: return std::string("i").append(std::to_string(v.iVal));
    case VT_BSTR:
      return std::string("s").append(
          v.bstrVal ? vkr::Utf16ToUtf8(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))) : "null");
    case VT_ARRAY | VT_VARIANT: {
      std::string out = "[";
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(v.parray, 1, &lower);
      SafeArrayGetUBound(v.parray, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        vkr::Variant e;
        LONG index = i;
        SafeArrayGetElement(v.parray, &index, e.Put());
        out.append(Dump(e)).append(",");
      }
      return out + "]";
    }
    default: return std::string("?").append(std::to_string(v.vt));
  }
}

// A record that unpacked must pack, and its packing must unpack into a fresh record that packs to
// the same elements.
template <class R>
void RoundTrip(R& record) {
  vkr::Variant packed;
  Check(record.Pack(packed.Put()));
  R again;
  Check(again.Unpack(packed));
  vkr::Variant repacked;
  Check(again.Pack(repacked.Put()));
  Check(Dump(packed) == Dump(repacked));
}

template <class R>
void UnpackEvery(const VARIANT& input) {
  R record;
  if (record.Unpack(input)) RoundTrip(record);
}

struct Reader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool More() const { return p < end; }
  std::uint8_t Byte() { return p < end ? *p++ : 0; }
};

// Tags: 0 empty, 1 byte, 2 flag, 3 text (length byte, then as many bytes), 4 I4, 5 UI4, 6 I2,
// 7 nested array (count byte, then its elements), 8 a VT_BOOL with a value other than -1 or 0.
vkr::Variant BuildArray(Reader& in, std::size_t count, int depth);

vkr::Variant BuildElement(Reader& in, int depth) {
  vkr::Variant v;
  switch (in.Byte() % 9) {
    case 0: break;
    case 1: v.vt = VT_UI1; v.bVal = in.Byte(); break;
    case 2: v.vt = VT_BOOL; v.boolVal = (in.Byte() & 1) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 3: {
      std::size_t length = in.Byte() % 32;
      std::u16string text;
      while (length-- && in.More()) text += static_cast<char16_t>(u'0' + in.Byte() % 75);
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!v.bstrVal) v.vt = VT_EMPTY;
      break;
    }
    case 4: {
      ULONG n = 0;
      for (int i = 0; i < 4; ++i) n = (n << 8) | in.Byte();
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(n);
      // Kinds are the interesting numbers: steer small values onto them.
      if ((n >> 8) == 0) v.lVal = 0x1004 + static_cast<LONG>(n % 12);
      break;
    }
    case 5: v.vt = VT_UI4; v.ulVal = in.Byte(); break;
    case 6: v.vt = VT_I2; v.iVal = static_cast<SHORT>(in.Byte()); break;
    case 7:
      if (depth < kMaxDepth) return BuildArray(in, in.Byte() % 16, depth + 1);
      break;
    case 8: v.vt = VT_BOOL; v.boolVal = static_cast<VARIANT_BOOL>(1 + in.Byte()); break;
  }
  return v;
}

vkr::Variant BuildArray(Reader& in, std::size_t count, int depth) {
  vkr::Variant out;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  if (!psa) return out;
  for (std::size_t i = 0; i < count; ++i) {
    vkr::Variant e = BuildElement(in, depth);
    LONG index = static_cast<LONG>(i);
    SafeArrayPutElement(psa, &index, &e);
  }
  out.vt = VT_ARRAY | VT_VARIANT;
  out.parray = psa;
  return out;
}

void FuzzRecords(Reader in) {
  const std::size_t count = std::min<std::size_t>(in.Byte(), kMaxElements);
  vkr::Variant input = BuildArray(in, count, 0);
  UnpackEvery<SovFDT_HART_Status>(input);
  UnpackEvery<SovFDT_HART_LongAddress>(input);
  UnpackEvery<SovFDT_HART_DataExchangeRequest>(input);
  UnpackEvery<SovFDT_HART_DataExchangeResponse>(input);
  UnpackEvery<SovFDT_HART_SubscribeResponse>(input);
  UnpackEvery<SovFDT_HART_UnsubscribeResponse>(input);
  UnpackEvery<FDT::SovFDT_FDT_CommunicationError>(input);
  UnpackEvery<HartProcessChannelData>(input);
  UnpackEvery<HARTConnectRequestInfo>(input);
  UnpackEvery<HARTDisconnectRequestInfo>(input);
  UnpackEvery<HARTTransactRequestInfo>(input);
  UnpackEvery<HARTConnectResponseInfo>(input);
  UnpackEvery<HARTDisconnectResponseInfo>(input);
  UnpackEvery<HARTTransactResponseInfo>(input);
  // Unpacking twice into one record replaces what it held.
  HARTTransactResponseInfo twice;
  if (twice.Unpack(input)) Check(twice.Unpack(input));
}

// A request read from a document writes a document that reads back to the same record.
template <class R>
void ReadWriteRead(IXMLDOMDocument* document) {
  R record;
  if (FAILED(record.ReadXml(document))) return;
  RoundTrip(record);
  vkr::Bstr written;
  Check(SUCCEEDED(record.WriteXml(written.Put())));
  vkr::ComPtr<IXMLDOMDocument2> again;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  Check(SUCCEEDED(LoadXmlFromString(written, again.Put(), &loaded)));
  // Every text came out of a document, so the escaped writing must parse again.
  Check(loaded == VARIANT_TRUE);
  R back;
  Check(SUCCEEDED(back.ReadXml(again.Get())));
  vkr::Variant first, second;
  Check(record.Pack(first.Put()) && back.Pack(second.Put()));
  Check(Dump(first) == Dump(second));
}

template <class R>
void ReadOnly(IXMLDOMDocument* document) {
  R record;
  if (SUCCEEDED(record.ReadXml(document))) RoundTrip(record);
}

void FuzzDocument(const std::uint8_t* data, std::size_t size) {
  const std::string utf8(reinterpret_cast<const char*>(data), std::min(size, kMaxText));
  vkr::Bstr text(vkr::Utf8ToUtf16(utf8));
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(text, document.Put(), &loaded)) || loaded != VARIANT_TRUE) return;
  ReadOnly<HARTConnectResponseInfo>(document.Get());
  ReadOnly<HARTDisconnectResponseInfo>(document.Get());
  ReadOnly<HARTTransactResponseInfo>(document.Get());
  ReadWriteRead<HARTConnectRequestInfo>(document.Get());
  ReadWriteRead<HARTDisconnectRequestInfo>(document.Get());
  ReadWriteRead<HARTTransactRequestInfo>(document.Get());
  FDT::SovFDT_FDT_CommunicationError error;
  bool isError = false;
  if (SUCCEEDED(ParseCommunicationError(document.Get(), &error, &isError)) && isError) RoundTrip(error);
  // The error word of any attribute text maps to a known number.
  vkr::Bstr word;
  bool found = false;
  if (SUCCEEDED(GetXmlString(word.Put(), &found, document.Get(), vkr::Bstr(u"//@communicationError"))) && found) {
    const LONG n = CommunicationErrorFromText(word);
    Check(n >= 0 && n <= 10);
  }
}

struct Apartment {
  Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Apartment apartment;
  if (size < 1) return 0;
  if (data[0] & 1)
    FuzzRecords(Reader{data + 1, data + size});
  else
    FuzzDocument(data + 1, size - 1);
  return 0;
}

// The HART value codecs: hex text, bit fields, VARIANT <-> bytes in both byte orders, the date
// forms, Packed ASCII in both encoders, and the FDT data-type words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "communication/CovFDT_BaseProtocolImpl.h"
#include "communication/HartCodecs.h"
#include "parameters/CFdtVariant.h"
#include "parameters/ParameterDocuments.h"

namespace {

std::string Narrow(BSTR b) { return vkr::Utf16ToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b))); }

std::string Hex(const std::vector<BYTE>& bytes) {
  std::string s;
  char buf[4];
  for (BYTE b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
  }
  return s;
}

std::string Number(double d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", d);
  return buf;
}

vkr::Bstr Text(const char* s) { return vkr::Bstr(vkr::Utf8ToUtf16(s)); }

vkr::Variant BytesValue(const std::vector<BYTE>& bytes) {
  vkr::Variant v;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  if (!bytes.empty()) {
    SafeArrayAccessData(psa, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(psa);
  }
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = psa;
  return v;
}

vkr::Variant TextValue(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

SovFDT_ParameterEntry Entry(ULONG readOffset, ULONG writeOffset, ULONG bitLength) {
  SovFDT_ParameterEntry e;
  e.nReadBitOffset = readOffset;
  e.nWriteBitOffset = writeOffset;
  e.nBitLength = bitLength;
  return e;
}

DATE DateOf(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  DOUBLE out = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&st, &out));
  return out;
}

// ---- Hex text. ----

TEST(HexTextToBytes, ConvertsEitherCaseAndRefusesBadText) {
  struct Case {
    std::string text;
    HRESULT hr;
    std::string bytes;
  } cases[] = {
      {"0aFf", S_OK, "0AFF"},
      {"", S_OK, ""},
      {std::string(512, '7'), S_OK, std::string(512, '7')},
      {std::string(514, '7'), E_INVALIDARG, ""},
      {"ABC", E_INVALIDARG, ""},
      {"0G", E_INVALIDARG, ""},
      {"0 ", E_INVALIDARG, ""},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> out(300, 0xEE);
    ULONG count = static_cast<ULONG>(out.size());
    EXPECT_EQ(HexTextToBytes(out.data(), &count, Text(c.text.c_str())), c.hr) << c.text;
    if (c.hr == S_OK) {
      out.resize(count);
      EXPECT_EQ(Hex(out), c.bytes) << c.text;
    }
  }
}

TEST(HexTextToBytes, TooSmallRoomGivesTheNeededCount) {
  BYTE out[2] = {0xEE, 0xEE};
  ULONG count = 1;
  EXPECT_EQ(HexTextToBytes(out, &count, Text("010203")), E_OUTOFMEMORY);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(out[0], 0xEE) << "nothing is written when the room is short";
  EXPECT_EQ(HexTextToBytes(nullptr, &count, Text("01")), E_INVALIDARG);
  EXPECT_EQ(HexTextToBytes(out, nullptr, Text("01")), E_INVALIDARG);
  EXPECT_EQ(HexTextToBytes(out, &count, nullptr), E_INVALIDARG);
}

// ---- Bit fields. ----

TEST(CopyBitField, CopiesBlocksAndSingleBits) {
  struct Case {
    const char* what;
    std::vector<BYTE> destination;
    ULONG destinationOffset, length;
    std::vector<BYTE> source;
    ULONG sourceOffset;
    std::string expected;
  } cases[] = {
      {"byte block", {0, 0, 0, 0}, 8, 16, {0xAB, 0xCD}, 0, "00ABCD00"},
      {"low nibble into high nibble", {0x05}, 4, 4, {0x0A}, 0, "A5"},
      {"clears bits too", {0xFF}, 2, 3, {0x00}, 0, "E3"},
      {"across a byte boundary", {0, 0}, 6, 4, {0x0F}, 0, "C003"},
      {"from a source offset", {0}, 0, 4, {0xA0}, 4, "0A"},
      {"limited to the source's bytes", {0, 0, 0}, 0, 24, {0x11}, 0, "110000"},
      {"never past the source's end", {0, 0}, 0, 16, {0xF0}, 4, "0F00"},
      {"source offset beyond the source", {0x77}, 0, 8, {0xFF}, 9, "77"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(CopyBitField(c.destination.data(), static_cast<ULONG>(c.destination.size()), c.destinationOffset,
                           c.length, c.source.data(), static_cast<ULONG>(c.source.size()), c.sourceOffset),
              S_OK)
        << c.what;
    EXPECT_EQ(Hex(c.destination), c.expected) << c.what;
  }
}

TEST(CopyBitField, RefusesNullBuffersAndFieldsBeyondTheDestination) {
  BYTE destination[2] = {0x11, 0x22};
  const BYTE source[4] = {1, 2, 3, 4};
  EXPECT_EQ(CopyBitField(destination, 2, 8, 16, source, 4, 0), E_INVALIDARG);
  EXPECT_EQ(destination[1], 0x22) << "a refused copy writes nothing";
  EXPECT_EQ(CopyBitField(nullptr, 2, 0, 8, source, 4, 0), E_INVALIDARG);
  EXPECT_EQ(CopyBitField(destination, 2, 0, 8, nullptr, 4, 0), E_INVALIDARG);
}

// ---- VARIANT to hex text. ----

TEST(VariantToHexText, EncodesEveryTypeInBothByteOrders) {
  struct Case {
    const char* what;
    vkr::Variant value;
    ULONG flags;
    HRESULT hr;
    const char* hex;
  };
  auto v = [](VARTYPE vt, auto set) {
    vkr::Variant x;
    x.vt = vt;
    set(x);
    return x;
  };
  std::vector<Case> cases = {
      {"I4", v(VT_I4, [](VARIANT& x) { x.lVal = 0x01020304; }), 0, S_OK, "01020304"},
      {"I4 low first", v(VT_I4, [](VARIANT& x) { x.lVal = 0x01020304; }), 1, S_OK, "04030201"},
      {"I4 halves exchanged", v(VT_I4, [](VARIANT& x) { x.lVal = 0x01020304; }), 2, S_OK, "03040102"},
      {"I4 both flags", v(VT_I4, [](VARIANT& x) { x.lVal = 0x01020304; }), 3, S_OK, "02010403"},
      {"UI4", v(VT_UI4, [](VARIANT& x) { x.ulVal = 0xFFFFFFFE; }), 0, S_OK, "FFFFFFFE"},
      {"UI2", v(VT_UI2, [](VARIANT& x) { x.uiVal = 0xA1B2; }), 0, S_OK, "A1B2"},
      {"I2 low first", v(VT_I2, [](VARIANT& x) { x.iVal = -2; }), 1, S_OK, "FEFF"},
      {"UI2 ignores the word flag", v(VT_UI2, [](VARIANT& x) { x.uiVal = 0xA1B2; }), 2, S_OK, "A1B2"},
      {"UI1", v(VT_UI1, [](VARIANT& x) { x.bVal = 0x7F; }), 0, S_OK, "7F"},
      {"I1", v(VT_I1, [](VARIANT& x) { x.cVal = -1; }), 0, S_OK, "FF"},
      {"BOOL true", v(VT_BOOL, [](VARIANT& x) { x.boolVal = VARIANT_TRUE; }), 0, S_OK, "01"},
      {"BOOL false", v(VT_BOOL, [](VARIANT& x) { x.boolVal = VARIANT_FALSE; }), 0, S_OK, "00"},
      {"BOOL other than true", v(VT_BOOL, [](VARIANT& x) { x.boolVal = 1; }), 0, S_OK, "00"},
      {"R4", v(VT_R4, [](VARIANT& x) { x.fltVal = 1.0f; }), 0, S_OK, "3F800000"},
      {"R4 low first", v(VT_R4, [](VARIANT& x) { x.fltVal = -2.5f; }), 1, S_OK, "000020C0"},
      {"R8", v(VT_R8, [](VARIANT& x) { x.dblVal = 1.0; }), 0, S_OK, "3FF0000000000000"},
      {"UI8 low first", v(VT_UI8, [](VARIANT& x) { x.ullVal = 0x0102030405060708ULL; }), 1, S_OK,
       "0807060504030201"},
      {"DATE keeps the time of day", v(VT_DATE, [](VARIANT& x) { x.date = DateOf(1999, 5, 6, 13, 14, 15); }), 0,
       S_OK, "02D72858"},
      {"text", TextValue(u"Ab\n"), 0, S_OK, "41620A"},
      {"text beyond ASCII", TextValue(u"\u00e9\u20ac"), 0, S_OK, "3F3F"},
      {"empty text", TextValue(u""), 0, S_OK, ""},
      {"bytes", BytesValue({1, 2, 0xFF}), 0, S_OK, "0102FF"},
      {"no bytes", BytesValue({}), 0, S_OK, ""},
      {"empty", vkr::Variant(), 0, S_FALSE, nullptr},
      {"INT has no encoding", v(VT_INT, [](VARIANT& x) { x.intVal = 1; }), 0, S_FALSE, nullptr},
  };
  for (Case& c : cases) {
    vkr::Bstr hex;
    EXPECT_EQ(VariantToHexText(c.value, hex.Put(), c.flags), c.hr) << c.what;
    if (c.hex)
      EXPECT_EQ(Narrow(hex), c.hex) << c.what;
    else
      EXPECT_EQ(hex.Get(), nullptr) << c.what;
  }
  EXPECT_EQ(VariantToHexText(vkr::Variant(), nullptr, 0), E_INVALIDARG);
}

// ---- Hex text to VARIANT. ----

TEST(PduBytesToVariant, DecodesByTypeAndRefusesShortData) {
  struct Case {
    const char* hex;
    VARTYPE vt;
    ULONG flags;
    HRESULT hr;
    std::string expected;  // the value as text, "" when refused
  } cases[] = {
      {"010203", VT_UI4, 0, S_OK, "UI4 66051"},
      {"01", VT_UI4, 0, S_OK, "UI4 1"},
      {"0102030405", VT_UI4, 0, E_INVALIDARG, ""},
      {"01020304", VT_UI4, 1, S_OK, "UI4 67305985"},
      {"0102030405", VT_UI4, 1, S_OK, "UI4 67305985"},
      {"010203", VT_UI4, 1, E_INVALIDARG, ""},
      {"01020304", VT_UI4, 2, S_OK, "UI4 50594050"},
      {"010203", VT_I4, 0, E_INVALIDARG, ""},
      {"FFFFFFFE", VT_I4, 0, S_OK, "I4 -2"},
      {"03040102", VT_I4, 2, S_OK, "I4 16909060"},
      {"FEFF", VT_I2, 1, S_OK, "I2 -2"},
      {"A1", VT_UI2, 0, E_INVALIDARG, ""},
      {"FF", VT_BOOL, 0, S_OK, "BOOL -1"},
      {"00", VT_BOOL, 0, S_OK, "BOOL 0"},
      {"80FF", VT_I1, 0, S_OK, "I1 -128"},
      {"3F800000", VT_R4, 0, S_OK, "R4 1"},
      {"000020C0", VT_R4, 1, S_OK, "R4 -2.5"},
      {"3FF0000000000000", VT_R8, 0, S_OK, "R8 1"},
      {"3FF00000000000", VT_R8, 0, E_INVALIDARG, ""},
      {"41 1F", VT_BSTR, 0, E_INVALIDARG, ""},
      {"411F0A0D7F80", VT_BSTR, 0, S_OK, "BSTR A \n\r\x7f "},
      {"0102", VT_ARRAY | VT_UI1, 0, S_OK, "BYTES 0102"},
      {"0102", VT_INT, 0, E_UNEXPECTED, ""},
      {"ZZ", VT_UI1, 0, E_INVALIDARG, ""},
      {"", VT_UI1, 0, E_INVALIDARG, ""},
  };
  for (const Case& c : cases) {
    vkr::Variant value;
    EXPECT_EQ(PduBytesToVariant(Text(c.hex), c.vt, value.Ptr(), c.flags), c.hr) << c.hex << " vt " << c.vt;
    if (c.hr != S_OK) {
      EXPECT_EQ(value.vt, VT_EMPTY) << c.hex;
      continue;
    }
    ASSERT_EQ(value.vt, c.vt) << c.hex;
    std::string got;
    switch (c.vt) {
      case VT_UI4: got = "UI4 " + std::to_string(value.ulVal); break;
      case VT_I4: got = "I4 " + std::to_string(value.lVal); break;
      case VT_I2: got = "I2 " + std::to_string(value.iVal); break;
      case VT_I1: got = "I1 " + std::to_string(value.cVal); break;
      case VT_BOOL: got = "BOOL " + std::to_string(value.boolVal); break;
      case VT_R4: got = "R4 " + Number(value.fltVal); break;
      case VT_R8: got = "R8 " + Number(value.dblVal); break;
      case VT_BSTR: got = "BSTR " + Narrow(value.bstrVal); break;
      case VT_ARRAY | VT_UI1: {
        vkr::Bstr hex;
        VariantToHexText(value, hex.Put(), 0);
        got = "BYTES " + Narrow(hex);
        break;
      }
    }
    EXPECT_EQ(got, c.expected) << c.hex;
  }
  vkr::Variant value;
  EXPECT_EQ(PduBytesToVariant(nullptr, VT_UI1, value.Ptr(), 0), E_INVALIDARG);
  EXPECT_EQ(PduBytesToVariant(Text("01"), VT_UI1, nullptr, 0), E_INVALIDARG);
}

TEST(PduBytesToVariant, DecodesTheThreeDateForms) {
  struct Case {
    const char* hex;
    HRESULT hr;
    DATE expected;
  } cases[] = {
      {"02D72858", S_OK, DateOf(1984, 1, 1, 13, 14, 15)},
      {"02D728580001", S_OK, DateOf(1984, 1, 2, 13, 14, 15)},
      {"0000000001F4", S_OK, DateOf(1985, 5, 15, 0, 0, 0)},
      {"3A980E0D060545", S_OK, DateOf(2069, 5, 6, 13, 14, 15)},
      {"3A980E0D060546", S_OK, DateOf(1970, 5, 6, 13, 14, 15)},
      {"3A980E0D060046", E_INVALIDARG, 0},  // month 0
      {"FFFF0E0D060546", E_INVALIDARG, 0},  // 65 seconds
      {"0102030405", E_INVALIDARG, 0},
  };
  for (const Case& c : cases) {
    vkr::Variant value;
    EXPECT_EQ(PduBytesToVariant(Text(c.hex), VT_DATE, value.Ptr(), 0), c.hr) << c.hex;
    if (c.hr == S_OK) {
      EXPECT_EQ(value.vt, VT_DATE) << c.hex;
      EXPECT_NEAR(value.date, c.expected, 1e-7) << c.hex;
    }
  }
}

TEST(HexCodecs, EveryEncodableValueComesBack) {
  struct Case {
    VARTYPE vt;
    std::uint64_t bits;
  } cases[] = {{VT_UI1, 0xA5}, {VT_I2, 0x8001}, {VT_UI2, 0x1234}, {VT_I4, 0x80000001},
               {VT_UI4, 0xDEADBEEF}, {VT_R4, 0x3E200000}, {VT_R8, 0x400921FB54442D18ULL},
               {VT_I8, 0x8000000000000001ULL}, {VT_UI8, 0x0102030405060708ULL}};
  for (const Case& c : cases)
    for (ULONG flags = 0; flags < 4; ++flags) {
      vkr::Variant value;
      value.vt = c.vt;
      value.ullVal = c.bits;
      vkr::Bstr hex;
      ASSERT_EQ(VariantToHexText(value, hex.Put(), flags), S_OK) << c.vt;
      vkr::Variant back;
      ASSERT_EQ(PduBytesToVariant(hex, c.vt, back.Ptr(), flags), S_OK) << c.vt << " flags " << flags;
      const int size = c.vt == VT_UI1 ? 1 : (c.vt == VT_I2 || c.vt == VT_UI2) ? 2 : (c.vt == VT_R8 || c.vt == VT_I8 || c.vt == VT_UI8) ? 8 : 4;
      const std::uint64_t mask = size == 8 ? ~0ULL : (1ULL << (8 * size)) - 1;
      EXPECT_EQ(back.ullVal & mask, c.bits & mask) << c.vt << " flags " << flags;
    }
}

// ---- Values in request and response data. ----

TEST(EncodeValueIntoBuffer, PacksAtTheWriteOffset) {
  auto ui1 = [](BYTE b) {
    vkr::Variant v;
    v.vt = VT_UI1;
    v.bVal = b;
    return v;
  };
  vkr::Variant ui4;
  ui4.vt = VT_UI4;
  ui4.ulVal = 0x01020304;
  struct Case {
    const char* what;
    vkr::Variant value;
    SovFDT_ParameterEntry entry;
    std::vector<BYTE> buffer;
    HRESULT hr;
    std::string expected;
  } cases[] = {
      {"one byte lands in the first byte of a 16-bit field", ui1(0xAB), Entry(0, 8, 16), {0, 0, 0, 0}, S_OK,
       "00AB0000"},
      {"4-bit field keeps its neighbours", ui1(0x0F), Entry(0, 4, 4), {0x05, 0x66}, S_OK, "F566"},
      {"four bytes at offset 16", ui4, Entry(0, 16, 32), {0, 0, 0, 0, 0, 0}, S_OK, "000001020304"},
      {"value longer than the field", ui4, Entry(0, 0, 16), {0, 0, 0, 0}, E_OUTOFMEMORY, "00000000"},
      {"field beyond the buffer", ui1(1), Entry(0, 24, 16), {0, 0, 0, 0}, E_INVALIDARG, "00000000"},
      {"empty value writes nothing", vkr::Variant(), Entry(0, 0, 8), {0x99}, S_OK, "99"},
      {"empty text writes nothing", TextValue(u""), Entry(0, 0, 8), {0x99}, S_OK, "99"},
      {"zero-length field takes no value", ui1(1), Entry(0, 0, 0), {0x99}, E_OUTOFMEMORY, "99"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(EncodeValueIntoBuffer(c.value, &c.entry, static_cast<ULONG>(c.buffer.size()), c.buffer.data(), 0), c.hr)
        << c.what;
    EXPECT_EQ(Hex(c.buffer), c.expected) << c.what;
  }
  BYTE b = 0;
  EXPECT_EQ(EncodeValueIntoBuffer(ui1(1), nullptr, 1, &b, 0), E_INVALIDARG);
}

// A date goes into a field in the layout the field is read in, so that what is written is what
// is read back: the time of day alone in 4 bytes, with the days since 1984 in 6, the whole date in
// 7. A date a layout cannot hold, and a field of another size, are refused and write nothing.
TEST(EncodeValueIntoBuffer, ADateComesBackFromItsField) {
  struct Case {
    DATE date;
    ULONG bytes;
    HRESULT hr;
    const char* written;
    DATE read;
  } cases[] = {
      {DateOf(2024, 2, 29, 13, 14, 15), 4, S_OK, "02D72858", DateOf(1984, 1, 1, 13, 14, 15)},
      {DateOf(1985, 5, 15, 23, 59, 59), 6, S_OK, "0526581801F4", DateOf(1985, 5, 15, 23, 59, 59)},
      {DateOf(2024, 2, 29, 13, 14, 15), 7, S_OK, "3A980E0D1D0218", DateOf(2024, 2, 29, 13, 14, 15)},
      {DateOf(1970, 1, 1, 0, 0, 0), 7, S_OK, "00000000010146", DateOf(1970, 1, 1, 0, 0, 0)},
      {DateOf(1983, 12, 31, 12, 0, 0), 6, E_INVALIDARG, "", 0},  // before the days are counted
      {DateOf(2070, 1, 1, 0, 0, 0), 7, E_INVALIDARG, "", 0},     // beyond the year byte
      {DateOf(2024, 2, 29, 13, 14, 15), 5, E_INVALIDARG, "", 0},
  };
  // A field that ends inside its last byte takes a date only when the bits it leaves out are 0.
  vkr::Variant newYear;
  newYear.vt = VT_DATE;
  newYear.date = DateOf(2063, 1, 1, 0, 0, 0);
  std::vector<BYTE> narrow(8, 0);
  const SovFDT_ParameterEntry year6 = Entry(8, 8, 54);
  EXPECT_EQ(EncodeValueIntoBuffer(newYear, &year6, 8, narrow.data(), 0), S_OK);
  newYear.date = DateOf(1999, 12, 31, 0, 0, 0);
  EXPECT_EQ(EncodeValueIntoBuffer(newYear, &year6, 8, narrow.data(), 0), E_INVALIDARG);
  for (const Case& c : cases) {
    vkr::Variant value;
    value.vt = VT_DATE;
    value.date = c.date;
    const SovFDT_ParameterEntry entry = Entry(8, 8, c.bytes * 8);
    std::vector<BYTE> buffer(c.bytes + 1, 0x5A);
    EXPECT_EQ(EncodeValueIntoBuffer(value, &entry, static_cast<ULONG>(buffer.size()), buffer.data(), 0), c.hr)
        << c.bytes << " " << c.written;
    if (c.hr != S_OK) {
      EXPECT_EQ(buffer, std::vector<BYTE>(c.bytes + 1, 0x5A)) << c.bytes;
      continue;
    }
    EXPECT_EQ(Hex(buffer).substr(2), c.written);
    vkr::Variant back;
    ASSERT_EQ(DecodeValueFromBuffer(&entry, static_cast<ULONG>(buffer.size()), buffer.data(), VT_DATE, back.Ptr(), 0),
              S_OK);
    EXPECT_NEAR(back.date, c.read, 1e-7) << c.written;
  }
}

TEST(DecodeValueFromBuffer, TakesTheFieldAtTheReadOffset) {
  const std::vector<BYTE> command3 = {0x41, 0x80, 0x00, 0x00, 0x20, 0x42, 0xF6, 0xE6, 0x66, 0x00};
  struct Case {
    const char* what;
    SovFDT_ParameterEntry entry;
    VARTYPE vt;
    HRESULT hr;
    std::string expected;
  } cases[] = {
      {"R4 at offset 40", Entry(40, 0, 32), VT_R4, S_OK, "123.45"},
      {"R4 at offset 0", Entry(0, 0, 32), VT_R4, S_OK, "16.00"},
      {"high nibble lands in the low bits", Entry(4, 0, 4), VT_UI1, S_OK, "4"},
      {"one unit byte", Entry(32, 0, 8), VT_UI1, S_OK, "32"},
      {"24-bit number", Entry(8, 0, 24), VT_UI4, S_OK, "8388608"},
      {"field beyond the data", Entry(72, 0, 16), VT_UI2, E_INVALIDARG, ""},
      {"zero length", Entry(8, 0, 0), VT_UI1, E_OUTOFMEMORY, ""},
      {"too short for the type", Entry(0, 0, 16), VT_UI4, S_OK, "16768"},
      {"too short for I4", Entry(0, 0, 16), VT_I4, E_INVALIDARG, ""},
  };
  for (Case& c : cases) {
    vkr::Variant value;
    EXPECT_EQ(DecodeValueFromBuffer(&c.entry, static_cast<ULONG>(command3.size()), command3.data(), c.vt, value.Ptr(), 0),
              c.hr)
        << c.what;
    if (c.hr != S_OK) continue;
    char buf[32];
    if (value.vt == VT_R4)
      std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(value.fltVal));
    else if (value.vt == VT_UI1)
      std::snprintf(buf, sizeof buf, "%u", value.bVal);
    else
      std::snprintf(buf, sizeof buf, "%lu", static_cast<unsigned long>(value.ulVal));
    EXPECT_EQ(std::string(buf), c.expected) << c.what;
  }
  vkr::Variant value;
  EXPECT_EQ(DecodeValueFromBuffer(nullptr, 1, command3.data(), VT_UI1, value.Ptr(), 0), E_INVALIDARG);
}

// ---- Packed ASCII. ----

TEST(PackedAscii, ToolkitEncoderPadsToTheBufferAndCutsLongTexts) {
  struct Case {
    const char* what;
    const char16_t* text;
    SovFDT_ParameterEntry entry;
    std::vector<BYTE> buffer;
    std::string expected;
  } cases[] = {
      {"four characters", u"ABCD", Entry(0, 0, 24), {0, 0, 0}, "0420C4"},
      {"upper-cased first", u"abcd", Entry(0, 0, 24), {0, 0, 0}, "0420C4"},
      {"padded to the whole buffer", u"AB", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), "042820820820"},
      {"buffer not a multiple of three: one block only", u"AB", Entry(0, 0, 48), std::vector<BYTE>(7, 0xEE),
       "042820EEEEEEEE"},
      {"cut to the field", u"ABCDEFGH", Entry(0, 0, 24), {0, 0, 0}, "0420C4"},
      {"at a write offset", u"ABCD", Entry(0, 8, 24), {0x11, 0, 0, 0, 0x22}, "110420C422"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(EncodePackedAscii(TextValue(c.text), &c.entry, static_cast<ULONG>(c.buffer.size()), c.buffer.data()), S_OK)
        << c.what;
    EXPECT_EQ(Hex(c.buffer), c.expected) << c.what;
  }
}

TEST(PackedAscii, DeviceEncoderPadsToTheFieldAndRefusesLongTexts) {
  struct Case {
    const char* what;
    const char16_t* text;
    SovFDT_ParameterEntry entry;
    std::vector<BYTE> buffer;
    HRESULT hr;
    std::string expected;
  } cases[] = {
      {"AB in a 6-byte field", u"AB", Entry(0, 0, 48), std::vector<BYTE>(7, 0xEE), S_OK, "042820820820EE"},
      {"empty text is the device's blank", u"", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), S_OK, "820820820820"},
      {"nine characters in six bytes", u"ABCDEFGHI", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), E_OUTOFMEMORY,
       "EEEEEEEEEEEE"},
      {"eight characters fill six bytes", u"HELLO", Entry(0, 0, 48), std::vector<BYTE>(6, 0), S_OK, "20530C3E0820"},
      {"field beyond the buffer", u"AB", Entry(0, 8, 48), std::vector<BYTE>(6, 0), E_INVALIDARG, "000000000000"},
      // A character without a 6-bit code is refused, never sent as '?' or as its low bits.
      {"a letter beyond ASCII", u"T\u00C4G", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), E_INVALIDARG,
       "EEEEEEEEEEEE"},
      {"a sign beyond '_'", u"A~{}", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), E_INVALIDARG, "EEEEEEEEEEEE"},
      {"a control character", u"A\tB", Entry(0, 0, 48), std::vector<BYTE>(6, 0xEE), E_INVALIDARG, "EEEEEEEEEEEE"},
      {"every sign of the set", u" !\"#$%&'", Entry(0, 0, 48), std::vector<BYTE>(6, 0), S_OK, "8218A39259A7"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(EncodePackedAsciiDevice(TextValue(c.text), &c.entry, static_cast<ULONG>(c.buffer.size()),
                                      c.buffer.data()),
              c.hr)
        << c.what;
    EXPECT_EQ(Hex(c.buffer), c.expected) << c.what;
  }
  SovFDT_ParameterEntry e = Entry(0, 0, 24);
  BYTE b[3] = {};
  vkr::Variant number;
  number.vt = VT_UI4;
  EXPECT_EQ(EncodePackedAsciiDevice(number, &e, 3, b), E_INVALIDARG);
  EXPECT_EQ(EncodePackedAscii(number, &e, 3, b), E_INVALIDARG);
  EXPECT_EQ(EncodePackedAscii(TextValue(u"A"), nullptr, 3, b), E_INVALIDARG);
}

TEST(PackedAscii, DecodesAndKeepsTrailingBlanks) {
  struct Case {
    std::vector<BYTE> bytes;
    SovFDT_ParameterEntry entry;
    HRESULT hr;
    std::string text;
  } cases[] = {
      {{0x04, 0x20, 0xC4}, Entry(0, 0, 24), S_OK, "ABCD"},
      {{0x20, 0x53, 0x0C, 0x3E, 0x08, 0x20}, Entry(0, 0, 48), S_OK, "HELLO   "},
      {{0xFF, 0x04, 0x20, 0xC4}, Entry(8, 0, 24), S_OK, "ABCD"},
      {{0x04, 0x20}, Entry(0, 0, 24), E_INVALIDARG, ""},
      {{0x04, 0x20, 0xC4}, Entry(0, 0, 0), E_OUTOFMEMORY, ""},
  };
  for (Case& c : cases) {
    vkr::Variant value;
    EXPECT_EQ(DecodePackedAscii(&c.entry, static_cast<ULONG>(c.bytes.size()), c.bytes.data(), value.Ptr()), c.hr)
        << c.text;
    if (c.hr == S_OK) {
      ASSERT_EQ(value.vt, VT_BSTR);
      EXPECT_EQ(Narrow(value.bstrVal), c.text);
    }
  }
  SovFDT_ParameterEntry e = Entry(0, 0, 24);
  const BYTE b[3] = {};
  EXPECT_EQ(DecodePackedAscii(&e, 3, b, nullptr), E_INVALIDARG);
}

TEST(PackedAscii, TagsRoundTripThroughBothCodecs) {
  for (const char16_t* tag : {u"LT-101", u"A", u"TANK 4B", u"@[\\]^_ ?"}) {
    SovFDT_ParameterEntry e = Entry(0, 0, 48);
    std::vector<BYTE> buffer(6, 0);
    ASSERT_EQ(EncodePackedAsciiDevice(TextValue(tag), &e, 6, buffer.data()), S_OK);
    vkr::Variant back;
    ASSERT_EQ(DecodePackedAscii(&e, 6, buffer.data(), back.Ptr()), S_OK);
    std::u16string expected(tag);
    expected.resize(8, u' ');
    EXPECT_EQ(std::u16string(vkr::View(back.bstrVal)), expected);
  }
}

// ---- FDT data-type words. ----

TEST(VarTypeToFdtDataType, NamesTheWordOfEveryType) {
  struct Case {
    VARTYPE vt;
    HRESULT hr;
    const char* word;
  } cases[] = {
      {VT_I1, S_OK, "int"},        {VT_I2, S_OK, "int"},          {VT_I4, S_OK, "int"},
      {VT_R4, S_OK, "float"},      {VT_R8, S_OK, "double"},       {VT_UI1, S_OK, "byte"},
      {VT_UI2, S_OK, "unsigned"},  {VT_UI4, S_OK, "unsigned"},    {VT_BSTR, S_OK, "ascii"},
      {VT_BOOL, S_OK, "int"},      {VT_DATE, S_OK, "dateAndTime"},
      {VT_ARRAY | VT_UI1, S_FALSE, "hexString"}, {VT_CY, S_FALSE, "hexString"}, {VT_EMPTY, E_FAIL, nullptr},
  };
  for (const Case& c : cases) {
    vkr::Bstr word;
    EXPECT_EQ(VarTypeToFdtDataType(c.vt, word.Put()), c.hr) << c.vt;
    if (c.word) {
      EXPECT_EQ(Narrow(word), c.word) << c.vt;
    }
  }
  EXPECT_EQ(VarTypeToFdtDataType(VT_I4, nullptr), E_INVALIDARG);
}

// What is announced for a type is what its values travel as: for every value the FDT variant
// writer writes, the word of the value's type is the writer's dataType, and that word reads back
// as a type the value converts to.
TEST(VarTypeToFdtDataType, AgreesWithTheValueWriter) {
  // The text escaping uses a DOM document: this thread is an apartment for the test's length.
  struct Apartment {
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
  } apartment;
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"TAG");
  vkr::Variant date;
  date.vt = VT_DATE;
  date.date = 45000.5;
  vkr::Variant flag;
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  vkr::Variant small;
  small.vt = VT_I2;
  small.iVal = -3;
  vkr::Variant level;
  level.vt = VT_R4;
  level.fltVal = 1.5f;
  vkr::Variant count;
  count.vt = VT_UI2;
  count.uiVal = 7;
  vkr::Variant raw = BytesValue({0x01, 0xAB});
  for (const vkr::Variant* value : {&text, &date, &flag, &small, &level, &count, &raw}) {
    vkr::Bstr xml, word;
    ASSERT_EQ(WriteFdtVariantXml(value->Ptr(), xml.Put()), S_OK) << value->vt;
    ASSERT_TRUE(SUCCEEDED(VarTypeToFdtDataType(value->vt, word.Put()))) << value->vt;
    const std::string written = Narrow(xml.Get());
    EXPECT_NE(written.find("dataType=\"" + Narrow(word.Get()) + "\""), std::string::npos)
        << value->vt << ": " << written;
    VARTYPE back = VT_EMPTY;
    ASSERT_TRUE(DataTypeToVarType(word.Get(), &back)) << Narrow(word.Get());
    vkr::Variant converted;
    EXPECT_EQ(ChangeVariantType(converted.Ptr(), value->Ptr(), back, 0, 0), S_OK) << value->vt;
  }
}

}  // namespace

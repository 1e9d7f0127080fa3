// The device-UI kit: fields read only when wholly present, Packed ASCII and floats both ways,
// answer bytes out of VARIANTs.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "tests/support/fake_ui_dtm.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {
namespace {

using Bytes = std::vector<BYTE>;

// Every field of a 16-byte answer against every length from 0 to 16: present exactly when its
// last byte arrived, with the big-endian value then.
TEST(ByteReader, FieldsArePresentOnlyWhenWhole) {
  const Bytes answer = {0x2D, 0x01, 0x02, 0x03, 0x3F, 0x80, 0x00, 0x00, 0xC0, 0x20, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
  for (size_t n = 0; n <= answer.size(); ++n) {
    const CByteReader r(std::span<const BYTE>(answer.data(), n));
    SCOPED_TRACE("length " + std::to_string(n));
    EXPECT_EQ(r.U8(0).has_value(), n >= 1);
    EXPECT_EQ(r.U16(1).has_value(), n >= 3);
    EXPECT_EQ(r.U24(1).has_value(), n >= 4);
    EXPECT_EQ(r.Float(4).has_value(), n >= 8);
    EXPECT_EQ(r.Float(8).has_value(), n >= 12);
    EXPECT_EQ(r.U32(12).has_value(), n >= 16);
    EXPECT_EQ(r.Bytes(12, 4).has_value(), n >= 16);
    EXPECT_EQ(r.PackedAscii(1, 6).has_value(), n >= 7);
    if (n == answer.size()) {
      EXPECT_EQ(*r.U8(0), 0x2D);
      EXPECT_EQ(*r.U16(1), 0x0102);
      EXPECT_EQ(*r.U24(1), 0x010203u);
      EXPECT_EQ(*r.Float(4), 1.0f);
      EXPECT_EQ(*r.Float(8), -2.5f);
      EXPECT_EQ(*r.U32(12), 0x12345678u);
    }
  }
  // Offsets past the end and lengths that would wrap are absent, not read.
  const CByteReader r(answer);
  EXPECT_FALSE(r.U8(16));
  EXPECT_FALSE(r.Bytes(1, std::numeric_limits<size_t>::max()));
  EXPECT_FALSE(r.PackedAscii(0, 4));  // not whole groups of three
}

struct PackedCase {
  const char* text;
  size_t characters;
  Bytes packed;
  const char* decoded;  // what the device's bytes read back as
};

TEST(PackedAscii, KnownFieldsBothWays) {
  const PackedCase cases[] = {
      {"ABCD", 4, {0x04, 0x20, 0xC4}, "ABCD"},
      {"", 4, {0x82, 0x08, 0x20}, "    "},
      {"tag1", 8, {0x50, 0x11, 0xF1, 0x82, 0x08, 0x20}, "TAG1    "},
      {"@_ ?", 4, {0x01, 0xF8, 0x3F}, "@_ ?"},
  };
  for (const PackedCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EncodePackedAscii(c.text, c.characters), c.packed);
    EXPECT_EQ(DecodePackedAscii(c.packed), c.decoded);
  }
  // Code 0 reads as '@', code 0x20 as a blank; a trailing partial group is not read.
  EXPECT_EQ(DecodePackedAscii(Bytes{0x00, 0x00, 0x00, 0x82}), "@@@@");
}

TEST(PackedAscii, EveryCharacterRoundTripsInEveryPosition) {
  // 64 characters (0x20 to 0x5F) in a 32-character message, shifted through all positions.
  for (int shift = 0; shift < 64; ++shift) {
    std::string text;
    for (int i = 0; i < 32; ++i) text.push_back(static_cast<char>(0x20 + (i + shift) % 64));
    ASSERT_TRUE(FitsPackedAscii(text, 32));
    const Bytes packed = EncodePackedAscii(text, 32);
    ASSERT_EQ(packed.size(), 24u);
    EXPECT_EQ(DecodePackedAscii(packed), text) << "shift " << shift;
  }
  EXPECT_FALSE(FitsPackedAscii("lower~", 8));       // '~' has no packed code
  EXPECT_FALSE(FitsPackedAscii("NINECHARS", 8));    // longer than the field
  EXPECT_TRUE(FitsPackedAscii("lower", 8));         // lower case is sent upper-cased
}

TEST(ByteWriter, BuildsRecordsAndRefusesWhatDoesNotFit) {
  CByteWriter w;
  w.U8(45).Float(1.5f).Float(-0.25f).U16(0x0035).U24(0xFFFFFF).U32(0x01020304).PackedAscii("ab", 4);
  EXPECT_TRUE(w.Ok());
  EXPECT_EQ(w.Data(), (Bytes{45, 0x3F, 0xC0, 0, 0, 0xBE, 0x80, 0, 0, 0x00, 0x35, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4,
                             0x04, 0x28, 0x20}));
  for (auto refuse : {+[](CByteWriter& x) { x.U24(0x1000000); }, +[](CByteWriter& x) { x.PackedAscii("TOOLONGTAG", 8); },
                      +[](CByteWriter& x) { x.PackedAscii("a{", 4); }}) {
    CByteWriter bad;
    bad.U8(1);
    refuse(bad);
    EXPECT_FALSE(bad.Ok());
    EXPECT_EQ(bad.Size(), 1u);  // nothing of the refused field was appended
  }
}

TEST(ByteWriter, FloatsRoundTripBitExactly) {
  using Limits = std::numeric_limits<float>;
  const float values[] = {
      0.0f, -0.0f, 1.0f, 3.14159f, -1e-38f, 1e38f, Limits::denorm_min(), Limits::infinity(), Limits::quiet_NaN()};
  for (float v : values) {
    CByteWriter w;
    w.Float(v);
    const auto back = CByteReader(w.Data()).Float(0);
    ASSERT_TRUE(back) << v;
    // The bits, so that -0 and NaN count too.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*back), std::bit_cast<std::uint32_t>(v)) << v;
  }
}

TEST(ResponseBytes, ByteArraysOnlyOtherTypesIgnored) {
  std::vector<BYTE> bytes{9};
  const Bytes sent = {0x00, 0x35, 0xAB, 0xFF};
  vkr::Variant value;
  ASSERT_EQ(MakeByteArray(sent, &value), S_OK);
  EXPECT_EQ(ResponseBytes(value, &bytes), S_OK);
  EXPECT_EQ(bytes, sent);

  ASSERT_EQ(MakeByteArray({}, &value), S_OK);
  EXPECT_EQ(ResponseBytes(value, &bytes), S_OK);
  EXPECT_TRUE(bytes.empty());

  bytes = {1};
  EXPECT_EQ(ResponseBytes(vkr::UI4(5), &bytes), S_FALSE);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ResponseBytes(vkr::EmptyVariant(), &bytes), S_FALSE);

  vkr::Bstr hex;
  ASSERT_EQ(HexOfBytes(sent, hex.Put()), S_OK);
  EXPECT_EQ(hex.Str(), u"0035ABFF");
  ASSERT_EQ(HexOfBytes({}, hex.Put()), S_OK);
  EXPECT_EQ(hex.Get(), nullptr);
  EXPECT_EQ(BytesOfHex(vkr::Bstr(u"0a1"), &bytes), E_INVALIDARG);
  EXPECT_EQ(BytesOfHex(vkr::Bstr(u"0a1B"), &bytes), S_OK);
  EXPECT_EQ(bytes, (Bytes{0x0A, 0x1B}));
}

TEST(ParseUnsigned, OnlyWholeNumbersThatFitTheField) {
  struct Case {
    const char* text;
    ULONG maximum;
    std::optional<ULONG> value;
  };
  const Case cases[] = {
      {"255", 255, 255},      {"256", 255, std::nullopt}, {" 42 ", 255, 42},      {"0", 0, 0},
      {"", 255, std::nullopt}, {"-1", 255, std::nullopt}, {"+2", 255, 2}, {"+", 255, std::nullopt}, {"+-2", 255, std::nullopt}, {"1.5", 255, std::nullopt}, {"12a", 255, std::nullopt},
      {"16777215", 0xFFFFFF, 0xFFFFFF}, {"16777216", 0xFFFFFF, std::nullopt},
      {"99999999999999999999", 0xFFFFFFFF, std::nullopt},  // no overflow into a small number
  };
  for (const Case& c : cases) EXPECT_EQ(ParseUnsigned(c.text, c.maximum), c.value) << '"' << c.text << '"';
}


// An entry's limits as a refusal names them: metres into the unit the entry shows, a code into
// what it stands for, nothing where they cannot be told.
TEST(EntryLimitsText, LimitsInTheUnitTheEntryShows) {
  auto number = [](double value) {
    VARIANT v = vkr::EmptyVariant();
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
  };
  auto in = [](BYTE unit) {
    SShownLimits shown;
    shown.lengthUnit = unit;
    return shown;
  };
  SShownLimits seconds;
  seconds.sign = "Sec";
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"none");
  const struct {
    VARIANT low, high;
    SShownLimits shown;
    const char16_t* want;
  } rows[] = {
      {number(0), number(66), in(kLengthUnitMetres), u"0 to 66 m"},
      {number(0), number(66), in(kLengthUnitFeet), u"0 to 216.535 ft"},
      {number(-0.5), number(0.5), in(kLengthUnitFeet), u"-1.64 to 1.64 ft"},
      {number(-0.5), number(0.5), in(kLengthUnitMillimetres), u"-500 to 500 mm"},
      {number(0), number(66), in(kLengthUnitInches), u"0 to 2598.425 in"},
      {number(0), number(250), SensitivityShown(), u"0 to 100 %"},
      {number(0), number(255), seconds, u"0 to 255 Sec"},
      {number(0), number(16777215), SShownLimits{}, u"0 to 16777215"},
      // A unit no length converts into, limits that are none, or no number: nothing is told.
      {number(0), number(66), in(57), u""},
      {number(0), number(0), SShownLimits{}, u""},
      {number(0), text, SShownLimits{}, u""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(EntryLimitsText(row.low, row.high, row.shown), std::u16string(row.want))
        << vkr::Utf16ToUtf8(row.want);
}

}  // namespace
}  // namespace vkr::dui

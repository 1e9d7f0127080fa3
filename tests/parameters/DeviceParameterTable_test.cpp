// The generated device parameter rows against the table they were generated from, and the address
// and type texts built from them.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "parameters/DeviceParameterTable.h"

namespace {

#include "tests/parameters/DeviceParameterTableExpected.inc"

using vkr::DeviceParameterRow;

std::string Narrow(const char* s) { return s ? s : ""; }

std::string TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_R4: return "R4";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "BOOL";
    case VT_UI1: return "UI1";
    case VT_UI2: return "UI2";
    case VT_UI4: return "UI4";
    case VT_ARRAY | VT_UI1: return "ARRAY UI1";
  }
  return std::string("?").append(std::to_string(vt));
}

// The shortest decimal that reads back as the same double: the table's own spelling of a number.
std::string Number(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, end) : "?";
}

std::string Value(const vkr::DefinitionValue& v) {
  if (!v.text) return Number(v.number);
  if (!*v.text) return "empty";
  std::string quoted = "\"";
  quoted += Narrow(v.text);
  quoted += '"';
  return quoted;
}

std::string Hex(ULONG v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
  return buf;
}

// A row written back in the table's own form.
std::string Render(const DeviceParameterRow& r) {
  // Appended piece by piece: a literal before a temporary string ("x" + std::to_string(n)) trips
  // a false -Wrestrict of GCC 12 at -O3.
  std::string s = "| ";
  s.append(std::to_string(r.position)).append(" | ").append(std::to_string(r.id));
  s.append(" | \"").append(Narrow(r.name)).append("\" | ").append(TypeName(r.vt));
  for (const auto& v : r.values) s.append(" | ").append(Value(v));
  s.append(" | ").append(std::to_string(r.persist)).append(" | ").append(Hex(r.flags));
  s.append(" | ").append(std::to_string(r.kind));
  if (r.addressed) {
    const auto& a = r.address;
    s.append(" | ").append(std::to_string(a.readCommand)).append(": ").append(std::to_string(a.readBitOffset));
    s.append("+").append(std::to_string(a.readBitLength));
    s.append(" | ").append(std::to_string(a.writeCommand)).append(" (");
    s.append(std::to_string(a.writeCommandBitLength)).append("): ").append(std::to_string(a.writeBitOffset));
    s.append("+").append(std::to_string(a.writeBitLength));
  } else {
    s += " | none | none";
  }
  s.append(" | ").append(r.stringId ? std::string("`").append(Narrow(r.stringId)).append("`") : std::string("name"));
  switch (r.typeInformationForm) {
    case vkr::TypeInformationForm::None: s += " | none"; break;
    case vkr::TypeInformationForm::Empty: s += " | empty"; break;
    case vkr::TypeInformationForm::BitString:
      s.append(" | \"").append(Narrow(r.typeInformationName)).append("\", ");
      s.append(std::to_string(r.typeInformationElementCount));
      break;
  }
  return s + " |";
}

unsigned long long Fnv1a64(const std::string& data) {
  unsigned long long h = 0xcbf29ce484222325ULL;
  for (unsigned char c : data) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

const DeviceParameterRow* Rows(std::size_t* count) { return vkr::GetDeviceParameterRows(count); }

const DeviceParameterRow& RowOf(ULONG id) {
  std::size_t n = 0;
  const DeviceParameterRow* rows = Rows(&n);
  for (std::size_t i = 0; i < n; ++i)
    if (rows[i].id == id) return rows[i];
  ADD_FAILURE() << "no row for id " << id;
  return rows[0];
}

TEST(DeviceParameterTable, EveryRowReadsBackAsTheTableWritesIt) {
  std::size_t n = 0;
  const DeviceParameterRow* rows = Rows(&n);
  const std::size_t expected = sizeof(kExpectedTableLines) / sizeof(kExpectedTableLines[0]);
  ASSERT_EQ(n, expected);
  ASSERT_EQ(n, 139u);
  std::string all;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string line = Render(rows[i]);
    EXPECT_EQ(line, kExpectedTableLines[i]) << "row " << i + 1;
    if (i) all += '\n';
    all += line;
  }
  EXPECT_EQ(Fnv1a64(all), kExpectedTableChecksum) << "the rows differ from the table they were made from";
}

TEST(DeviceParameterTable, NumbersAreTheNearestDoublesOfTheirDecimals) {
  // R4 limits such as 0.3 reach the helper as doubles; the float the record keeps is the nearest
  // float of that double.
  const DeviceParameterRow& upper = RowOf(1026);
  EXPECT_EQ(upper.values[2].number, 0.3);
  EXPECT_EQ(upper.values[3].number, 0.5);
  EXPECT_EQ(RowOf(1081).values[0].number, -0.5);
  EXPECT_EQ(RowOf(1118).values[3].number, 0.1);
  EXPECT_EQ(static_cast<float>(RowOf(1027).values[2].number), 0.4f);
}

TEST(DeviceParameterTable, CountsOfHelpersTypesAndFlags) {
  std::size_t n = 0;
  const DeviceParameterRow* rows = Rows(&n);
  std::map<vkr::DefinitionHelper, int> helpers;
  std::map<ULONG, int> flags;
  std::set<ULONG> ids;
  std::map<VARTYPE, int> typesOfRecords;
  int persisted = 0, addressedRecords = 0, bitStrings = 0, emptyTypeInfo = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const DeviceParameterRow& r = rows[i];
    ++helpers[vkr::DefinitionHelperOf(r)];
    ++flags[r.flags];
    if (!ids.insert(r.id).second) {
      EXPECT_EQ(r.id, 1113u) << "row " << r.position << " repeats an id";
      continue;
    }
    ++typesOfRecords[r.vt];
    persisted += r.persist ? 1 : 0;
    addressedRecords += r.addressed ? 1 : 0;
    bitStrings += r.typeInformationForm == vkr::TypeInformationForm::BitString;
    emptyTypeInfo += r.typeInformationForm == vkr::TypeInformationForm::Empty;
  }
  EXPECT_EQ(ids.size(), 138u);
  EXPECT_EQ(helpers[vkr::DefinitionHelper::Numeric], 73);
  EXPECT_EQ(helpers[vkr::DefinitionHelper::Array], 12);
  EXPECT_EQ(helpers[vkr::DefinitionHelper::Enum], 1);
  EXPECT_EQ(helpers[vkr::DefinitionHelper::AddressedNumeric], 25);
  EXPECT_EQ(helpers[vkr::DefinitionHelper::AddressedArray], 28);
  // The values a download writes start as not held (0x200) and are persisted.
  EXPECT_EQ(flags[0x71], 97);
  EXPECT_EQ(flags[0x271], 21);
  EXPECT_EQ(flags[0x51], 7);
  EXPECT_EQ(flags[0x50], 5);
  EXPECT_EQ(flags[0x60], 3);
  EXPECT_EQ(flags[0x10], 6);
  EXPECT_EQ(typesOfRecords[VT_UI1], 65);
  EXPECT_EQ(typesOfRecords[VT_ARRAY | VT_UI1], 27);
  EXPECT_EQ(typesOfRecords[VT_R4], 23);
  EXPECT_EQ(typesOfRecords[VT_BSTR], 13);
  EXPECT_EQ(typesOfRecords[VT_UI4], 6);
  EXPECT_EQ(typesOfRecords[VT_UI2], 3);
  EXPECT_EQ(typesOfRecords[VT_BOOL], 1);
  EXPECT_EQ(persisted, 35);
  EXPECT_EQ(addressedRecords, 53);
  EXPECT_EQ(bitStrings, 25);
  EXPECT_EQ(emptyTypeInfo, 19);
}

TEST(DeviceParameterTable, TheRepeatedIdRepeatsTheSameDefinition) {
  std::size_t n = 0;
  const DeviceParameterRow* rows = Rows(&n);
  ASSERT_GE(n, 129u);
  EXPECT_EQ(rows[127].id, 1113u);
  EXPECT_EQ(Render(rows[127]).substr(6), Render(rows[128]).substr(6));  // all but the position
}

TEST(DeviceParameterTable, AddressInformationOfMessage) {
  EXPECT_EQ(vkr::MakeHartAddressInformation(RowOf(1009).address),
            "<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
            "service=\"read\" command=\"12\"><PduPosition bitOffset=\"0\" wBitLength=\"192\"/></HARTAddress>"
            "<HARTAddress service=\"write\" command=\"17\" commandBitLength=\"192\"><PduPosition "
            "bitOffset=\"0\" wBitLength=\"192\"/></HARTAddress></Protocol></AddressInformation>");
}

TEST(DeviceParameterTable, AddressInformationPlacesEachOfTheSevenNumbers) {
  // Distinct numbers, so that a swapped pair shows.
  const vkr::HartAddress a{15, 120, 16, 115, 17, 3, 65535};
  EXPECT_EQ(vkr::MakeHartAddressInformation(a),
            "<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
            "service=\"read\" command=\"15\"><PduPosition bitOffset=\"120\" wBitLength=\"16\"/></HARTAddress>"
            "<HARTAddress service=\"write\" command=\"115\" commandBitLength=\"17\"><PduPosition "
            "bitOffset=\"3\" wBitLength=\"65535\"/></HARTAddress></Protocol></AddressInformation>");
}

TEST(DeviceParameterTable, WriteProtectIsReadAndWrittenAtDifferentPlaces) {
  // Write protection, damping and the range values are read from the answer of command 15 and
  // written with commands of their own.
  struct Expected {
    ULONG id;
    ULONG readOffset, length, writeCommand;
  };
  const Expected expected[] = {{1018, 120, 16, 15}, {1022, 88, 32, 34}, {1023, 16, 72, 35}};
  for (const Expected& e : expected) {
    const DeviceParameterRow& r = RowOf(e.id);
    ASSERT_TRUE(r.addressed) << e.id;
    EXPECT_EQ(r.address.readCommand, 15u) << e.id;
    EXPECT_EQ(r.address.readBitOffset, e.readOffset) << e.id;
    EXPECT_EQ(r.address.readBitLength, e.length) << e.id;
    EXPECT_EQ(r.address.writeCommand, e.writeCommand) << e.id;
    EXPECT_EQ(r.address.writeCommandBitLength, e.length) << e.id;
    EXPECT_EQ(r.address.writeBitOffset, 0u) << e.id;
    EXPECT_EQ(r.address.writeBitLength, e.length) << e.id;
  }
  // Every other addressed row reads and writes the same field.
  std::size_t n = 0;
  const DeviceParameterRow* rows = Rows(&n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!rows[i].addressed || rows[i].id == 1018 || rows[i].id == 1022 || rows[i].id == 1023) continue;
    EXPECT_EQ(rows[i].address.readBitOffset, rows[i].address.writeBitOffset) << "id " << rows[i].id;
    EXPECT_EQ(rows[i].address.readBitLength, rows[i].address.writeBitLength) << "id " << rows[i].id;
  }
}

TEST(DeviceParameterTable, TypeInformationTexts) {
  EXPECT_EQ(vkr::MakeTypeInformation(RowOf(1009)),
            "<TypeInformation><Array iecType=\"BITSTRING\" name=\"Command12 complete\" startIndex=\"0\" "
            "elementCount=\"192\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\" "
            "iecType=\"BOOL\"/></Array></TypeInformation>");
  EXPECT_EQ(vkr::MakeTypeInformation(RowOf(1082)),
            "<TypeInformation><Array iecType=\"BITSTRING\" name=\"Digitize only\" startIndex=\"0\" "
            "elementCount=\"40\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\" "
            "iecType=\"BOOL\"/></Array></TypeInformation>");
  EXPECT_EQ(vkr::MakeTypeInformation(RowOf(1048)), "<TypeInformation/>");
  EXPECT_EQ(vkr::MakeTypeInformation(RowOf(1018)), "");
}

TEST(DeviceParameterTable, TypeInformationEscapesItsName) {
  DeviceParameterRow r = RowOf(1009);
  r.typeInformationName = "a<b & \"c\">";
  const std::string text = vkr::MakeTypeInformation(r);
  EXPECT_NE(text.find("name=\"a&lt;b &amp; &quot;c&quot;&gt;\""), std::string::npos);
}

TEST(DeviceParameterTable, DeviceTypeEnumerationEndsWithAnEmptyText) {
  EXPECT_EQ(std::string(vkr::kDeviceTypeEnumTexts[0]),
            "0;Guided Radar continous level measurement with 4-20 mA and HART");
  EXPECT_EQ(std::string(vkr::kDeviceTypeEnumTexts[1]), "");
  EXPECT_EQ(vkr::DefinitionHelperOf(RowOf(991)), vkr::DefinitionHelper::Enum);
}

TEST(DeviceParameterTable, StringIdsKeepTheirTrailingCommas) {
  EXPECT_EQ(std::string(RowOf(1120).stringId), "eCommand45ID,");
  EXPECT_EQ(std::string(RowOf(1121).stringId), "eCommand46ID,");
  EXPECT_EQ(RowOf(1010).stringId, nullptr);
}

}  // namespace

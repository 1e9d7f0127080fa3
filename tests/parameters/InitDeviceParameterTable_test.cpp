// The device parameter table loaded through the definition helpers: every record against its row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "parameters/DeviceParameterTable.h"
#include "parameters/EnumList.h"
#include "tests/support/definition_fixture.h"

namespace {

using vkr::DeviceParameterRow;
using vkr::test::Bytes;
using vkr::test::Text;

class DeviceTable : public ::testing::Test {
 protected:
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
  CParamCollection collection;
  ULONG count = 0;

  void SetUp() override { ASSERT_EQ(InitDeviceParameterTable(handler, &collection, &count), S_OK); }
};

std::vector<int> HexBytes(const char* hex) {
  std::vector<int> out;
  for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    unsigned b = 0;
    std::sscanf(hex + i, "%2x", &b);
    out.push_back(static_cast<int>(b));
  }
  return out;
}

// What a numeric cell becomes in the record's type, written out for the comparison.
std::string NumberIn(VARTYPE vt, double d) {
  char buf[64];
  switch (vt) {
    case VT_R4: std::snprintf(buf, sizeof buf, "R4 %.9g", static_cast<double>(static_cast<float>(d))); break;
    case VT_BOOL: return d != 0 ? "BOOL -1" : "BOOL 0";
    case VT_UI1: std::snprintf(buf, sizeof buf, "UI1 %u", static_cast<unsigned>(d)); break;
    case VT_UI2: std::snprintf(buf, sizeof buf, "UI2 %u", static_cast<unsigned>(d)); break;
    case VT_UI4: std::snprintf(buf, sizeof buf, "UI4 %u", static_cast<unsigned>(d)); break;
    default: return "?";
  }
  return buf;
}

std::string Show(const VARIANT& v) {
  char buf[64];
  switch (v.vt) {
    case VT_R4: std::snprintf(buf, sizeof buf, "R4 %.9g", static_cast<double>(v.fltVal)); break;
    case VT_BOOL: return v.boolVal ? "BOOL -1" : "BOOL 0";
    case VT_UI1: std::snprintf(buf, sizeof buf, "UI1 %u", v.bVal); break;
    case VT_UI2: std::snprintf(buf, sizeof buf, "UI2 %u", v.uiVal); break;
    case VT_UI4: std::snprintf(buf, sizeof buf, "UI4 %u", v.ulVal); break;
    case VT_BSTR: return "BSTR \"" + Text(v) + "\"";
    case VT_EMPTY: return "EMPTY";
    default: std::snprintf(buf, sizeof buf, "vt %u", v.vt);
  }
  return buf;
}

std::string ExpectedAddress(const vkr::HartAddress& a) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
                "service=\"read\" command=\"%u\"><PduPosition bitOffset=\"%u\" wBitLength=\"%u\"/></HARTAddress>"
                "<HARTAddress service=\"write\" command=\"%u\" commandBitLength=\"%u\"><PduPosition bitOffset=\"%u\" "
                "wBitLength=\"%u\"/></HARTAddress></Protocol></AddressInformation>",
                a.readCommand, a.readBitOffset, a.readBitLength, a.writeCommand, a.writeCommandBitLength,
                a.writeBitOffset, a.writeBitLength);
  return buf;
}

std::string ExpectedTypeInformation(const DeviceParameterRow& r) {
  switch (r.typeInformationForm) {
    case vkr::TypeInformationForm::None: return "<vt 0>";
    case vkr::TypeInformationForm::Empty: return "<TypeInformation/>";
    case vkr::TypeInformationForm::BitString: break;
  }
  return std::string("<TypeInformation><Array iecType=\"BITSTRING\" name=\"") + r.typeInformationName +
         "\" startIndex=\"0\" elementCount=\"" + std::to_string(r.typeInformationElementCount) +
         "\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\" iecType=\"BOOL\"/></Array></TypeInformation>";
}

TEST_F(DeviceTable, HoldsOneRecordPerDistinctId) {
  EXPECT_EQ(count, 138u);
  EXPECT_EQ(collection.Count(), 138u);
}

TEST_F(DeviceTable, NoDefinitionIsReported) {
  // 86 rows have no address; that is not an error.
  EXPECT_TRUE(site.errors.empty()) << site.errors.size() << " reports, first: " << site.errors[0];
}

TEST_F(DeviceTable, EveryRecordEqualsItsRow) {
  std::size_t n = 0;
  const DeviceParameterRow* rows = vkr::GetDeviceParameterRows(&n);
  std::set<ULONG> seen;
  for (std::size_t i = 0; i < n; ++i) {
    const DeviceParameterRow& row = rows[i];
    if (!seen.insert(row.id).second) continue;  // a repeated id keeps its first row
    SCOPED_TRACE("row " + std::to_string(row.position) + ", id " + std::to_string(row.id));
    const ParInfo* r = collection.FindById(row.id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_vt, row.vt);
    EXPECT_EQ(Text(r->m_bstrName.Get()), row.name);
    EXPECT_EQ(Text(r->m_bstrStrId.Get()), row.stringId ? row.stringId : row.name);
    EXPECT_EQ(r->m_bPersist, row.persist);
    EXPECT_EQ(r->m_nKind, row.kind);
    EXPECT_EQ(r->m_dwAddressed, row.addressed ? 1u : 0u);

    // Byte strings have empty limit texts, which are no element counts: 0x08. Addressed records get
    // 0x400 from the collection. Nothing else is added: every numeric row holds together.
    const bool byteString = row.vt == (VT_ARRAY | VT_UI1);
    const ULONG flags = row.flags | (byteString ? 0x08u : 0u) | (row.addressed ? 0x400u : 0u);
    EXPECT_EQ(r->m_dwFlags, flags) << std::hex << r->m_dwFlags;

    const VARIANT* stored[4] = {&r->m_vMin, &r->m_vMax, &r->m_vDefault, &r->m_vValue};
    const char* cell[4] = {"minimum", "maximum", "default", "value"};
    for (int k = 0; k < 4; ++k) {
      const vkr::DefinitionValue& v = row.values[k];
      if (byteString) {
        EXPECT_EQ(Bytes(*stored[k]), HexBytes(v.text)) << cell[k];
      } else if (row.vt == VT_BSTR) {
        EXPECT_EQ(Show(*stored[k]), "BSTR \"" + std::string(v.text) + "\"") << cell[k];
      } else if (v.text) {
        // The enumerated row's limits are empty; held in the type they are 0.
        EXPECT_EQ(Show(*stored[k]), NumberIn(row.vt, 0)) << cell[k];
      } else {
        EXPECT_EQ(Show(*stored[k]), NumberIn(row.vt, v.number)) << cell[k];
      }
    }
    if (byteString)
      EXPECT_EQ(Bytes(r->m_vDevValue), Bytes(r->m_vDefault));
    else
      EXPECT_EQ(Show(r->m_vDevValue), Show(r->m_vDefault));

    EXPECT_EQ(Text(r->m_vAddress), row.addressed ? ExpectedAddress(row.address) : "<vt 0>");
    EXPECT_EQ(Text(r->m_vTypeInformation), ExpectedTypeInformation(row));

    // What every row passes alike.
    EXPECT_EQ(r->m_nStringResId, 0u);
    EXPECT_EQ(r->m_dwFlagWord1, 2u);
    EXPECT_EQ(r->m_dwFlagWord2, 0u);
    EXPECT_EQ(r->m_dwExportKind, 0u);
    EXPECT_EQ(r->m_dwItemKinds, 0u);
    EXPECT_TRUE(r->m_bstrUnit.Empty());
    EXPECT_TRUE(r->m_bstrDescription.Empty());
    EXPECT_EQ(r->m_vFurther.vt, VT_EMPTY);
    EXPECT_EQ(r->m_vRelation.vt, VT_EMPTY);
    EXPECT_EQ(r->m_vPrivateProperties.vt, VT_EMPTY);
    EXPECT_EQ(r->m_vEnumList.vt, row.kind == 1 ? (VT_ARRAY | VT_BSTR) : VT_EMPTY);
    for (auto kind : {PCK_BEFORE_READ, PCK_AFTER_READ, PCK_BEFORE_WRITE, PCK_AFTER_WRITE, PCK_BEFORE_CHANGE,
                      PCK_AFTER_CHANGE})
      EXPECT_EQ(r->Callback(kind), nullptr);
  }
  EXPECT_EQ(seen.size(), 138u);
}

TEST_F(DeviceTable, StoredFlagWordsOfByteStrings) {
  const struct {
    ULONG id;
    ULONG flags;
  } cases[] = {{1003, 0x79}, {1005, 0x18}, {1009, 0x479}, {1028, 0x459}, {1031, 0x458}, {1036, 0x459}};
  for (const auto& c : cases) {
    const ParInfo* r = collection.FindById(c.id);
    ASSERT_NE(r, nullptr) << c.id;
    EXPECT_EQ(r->m_dwFlags, c.flags) << c.id;
  }
}

TEST_F(DeviceTable, SpotValues) {
  const ParInfo* tag = collection.FindById(1);
  const ParInfo* label = collection.FindById(2);
  ASSERT_TRUE(tag && label);
  EXPECT_EQ(Text(tag->m_vDefault), "VKR Series DTM");
  EXPECT_EQ(Text(tag->m_vValue), "VKR Series DTM");
  EXPECT_EQ(Text(label->m_vDefault), "");
  EXPECT_EQ(Text(label->m_vValue), "VKR Series DTM");

  const ParInfo* offset = collection.FindById(1081);
  ASSERT_TRUE(offset);
  EXPECT_EQ(offset->m_vMin.fltVal, -0.5f);
  EXPECT_EQ(offset->m_vMax.fltVal, 0.5f);
  const ParInfo* year = collection.FindById(1015);
  ASSERT_TRUE(year);
  EXPECT_EQ(year->m_vMin.uiVal, 1900);
  EXPECT_EQ(year->m_vMax.uiVal, 2155);
  EXPECT_EQ(year->m_vValue.uiVal, 1900);
  EXPECT_EQ(collection.FindById(1058)->m_vValue.bVal, 115);

  const ParInfo* writeProtect = collection.FindById(1018);
  ASSERT_TRUE(writeProtect);
  EXPECT_EQ(Text(writeProtect->m_vAddress),
            "<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"read\" "
            "command=\"15\"><PduPosition bitOffset=\"120\" wBitLength=\"16\"/></HARTAddress><HARTAddress "
            "service=\"write\" command=\"15\" commandBitLength=\"16\"><PduPosition bitOffset=\"0\" "
            "wBitLength=\"16\"/></HARTAddress></Protocol></AddressInformation>");

  const ParInfo* deviceType = collection.FindById(991);
  ASSERT_TRUE(deviceType);
  LONG value = -1;
  vkr::Bstr label0;
  ASSERT_EQ(GetEnumListEntry(deviceType->m_vEnumList, 0, &value, label0.Put()), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Text(label0.Get()), "Guided Radar continous level measurement with 4-20 mA and HART");
  EXPECT_EQ(Text(collection.FindById(1120)->m_bstrStrId.Get()), "eCommand45ID,");
}

TEST_F(DeviceTable, LoadingAgainChangesNothing) {
  ParInfo before;
  ASSERT_EQ(collection.GetAt(10, &before), S_OK);
  ULONG again = 0;
  EXPECT_EQ(InitDeviceParameterTable(handler, &collection, &again), S_OK);
  EXPECT_EQ(again, 138u);
  ParInfo after;
  ASSERT_EQ(collection.GetAt(10, &after), S_OK);
  EXPECT_EQ(after.m_nId, before.m_nId);
  EXPECT_EQ(after.m_dwFlags, before.m_dwFlags);
}

TEST(DeviceTableArguments, CountIsOptionalAndACollectionIsRequired) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
  CParamCollection collection;
  EXPECT_EQ(InitDeviceParameterTable(handler, &collection, nullptr), S_OK);
  EXPECT_EQ(collection.Count(), 138u);
  ULONG count = 7;
  EXPECT_EQ(InitDeviceParameterTable(handler, nullptr, &count), E_POINTER);
  EXPECT_EQ(count, 7u);
}

TEST(DeviceTableArguments, OutOfMemoryStopsTheTableAndSaysSo) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
  for (unsigned n : {1u, 50u, 500u, 1000u}) {
    CParamCollection collection;
    ULONG count = 0;
    vkr::platform::SetAllocationFault(n, true);
    const HRESULT hr = InitDeviceParameterTable(handler, &collection, &count);
    vkr::platform::SetAllocationFault(0);
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
    EXPECT_EQ(count, collection.Count()) << "allocation " << n;
    EXPECT_LT(count, 138u) << "allocation " << n;
  }
}

// Every field of every record, as text: two tables that print alike hold the same records.
std::string Print(CParamCollection& table) {
  auto value = [](const VARIANT& v) {
    vkr::Variant text;
    if (v.vt & VT_ARRAY) {
      LONG lower = 0, upper = -1;
      if (v.parray) {
        SafeArrayGetLBound(v.parray, 1, &lower);
        SafeArrayGetUBound(v.parray, 1, &upper);
      }
      return "array " + std::to_string(v.vt) + " of " + std::to_string(upper - lower + 1);
    }
    if (FAILED(VariantChangeType(text.Ptr(), &v, 0, VT_BSTR))) return "vt " + std::to_string(v.vt);
    return std::to_string(v.vt) + ":" + Text(text);
  };
  std::string out;
  for (LONG i = 0; i < static_cast<LONG>(table.Count()); ++i) {
    ParInfo r;
    if (FAILED(table.GetAt(i, &r))) return out + "unreadable";
    out += std::to_string(r.m_nId) + " " + std::to_string(r.m_dwAddressed) + " " + Text(r.m_bstrStrId.Get()) + "|" +
           value(r.m_vAddress) + "|" + Text(r.m_bstrName.Get()) + "|" + Text(r.m_bstrDescription.Get()) + "|" +
           std::to_string(r.m_vt) + " " + std::to_string(r.m_nKind) + "|" + value(r.m_vMin) + "|" + value(r.m_vMax) +
           "|" + value(r.m_vDefault) + "|" + value(r.m_vValue) + "|" + value(r.m_vDevValue) + "|" +
           value(r.m_vEnumList) + "|" + std::to_string(r.m_bPersist) + " " + std::to_string(r.m_dwFlags) + " " +
           std::to_string(r.m_dwFlagWord1) + " " + std::to_string(r.m_dwFlagWord2) + "|" + Text(r.m_bstrUnit.Get()) +
           "|" + std::to_string(r.m_dwExportKind) + "|" + value(r.m_vFurther) + "|" + value(r.m_vRelation) + "|" +
           std::to_string(r.m_dwItemKinds) + "|" + value(r.m_vTypeInformation) + "|" +
           value(r.m_vPrivateProperties) + "\n";
  }
  return out;
}

// While one handler keeps the table it defined, the next one copies it: the copy holds what a
// definition of its own would, and a change to either table stays in that table.
TEST(DeviceTableSharing, ATableMadeWhileAnotherLivesIsAFreshDefinitionAndStaysApart) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  std::string fresh;
  {
    vkr::test::StackParameterHandler alone{&site};
    CParamCollection table;
    ASSERT_EQ(InitDeviceParameterTable(alone, &table, nullptr), S_OK);
    fresh = Print(table);
  }
  ASSERT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 138);

  vkr::test::StackParameterHandler first{&site}, second{&site};
  CParamCollection a, b;
  ASSERT_EQ(InitDeviceParameterTable(first, &a, nullptr), S_OK);
  vkr::Variant changed;
  changed.vt = VT_R4;
  changed.fltVal = 42.0f;
  ASSERT_EQ(a.SetValue(1049, changed), S_OK);
  ParInfo renamed;
  renamed.m_bstrName = vkr::Bstr(u"renamed");
  ASSERT_EQ(a.SetParInfoFields(990, PIF_NAME, renamed), S_OK);
  ULONG count = 0;
  ASSERT_EQ(InitDeviceParameterTable(second, &b, &count), S_OK);
  EXPECT_EQ(count, 138u);
  EXPECT_EQ(Print(b), fresh);
  ASSERT_EQ(b.SetValue(1048, changed), S_OK);
  CParamCollection c;
  ASSERT_EQ(InitDeviceParameterTable(first, &c, nullptr), S_OK);
  EXPECT_EQ(Print(c), fresh);
  EXPECT_NE(Print(a), fresh);
  EXPECT_TRUE(site.errors.empty()) << "nothing reported on the way";
}

}  // namespace

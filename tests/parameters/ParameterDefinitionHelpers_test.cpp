// The parameter handler's definition helpers: the checks that flag a definition, the address
// step, the byte-string rules and what reaches the record.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "parameters/EnumList.h"
#include "parameters/ParameterDefinitionHelpers.h"
#include "tests/support/definition_fixture.h"

namespace {

using vkr::test::Bytes;
using vkr::test::Text;

constexpr ULONG kId = 500;

class DefinitionHelpers : public ::testing::Test {
 protected:
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
  CParamCollection collection;

  void Numeric(ULONG vt, double lo, double hi, double def, double val, ULONG flags = 0x71, LONG address = -1,
               ULONG id = kId, ULONG kind = 0) {
    handler.AddNumericParameter(&collection, 0, id, address, "Numeric", 0, vt, lo, hi, def, val, 0, flags, 2, 0,
                                nullptr, 0, nullptr, kind, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, 0, nullptr, nullptr);
  }
  void Array(ULONG vt, LPCSTR lo, LPCSTR hi, LPCSTR def, LPCSTR val, ULONG flags = 0x71, ULONG id = kId) {
    handler.AddArrayParameter(&collection, 0, id, -1, "Array", 0, vt, lo, hi, def, val, 0, flags, 2, 0, nullptr, 0,
                              nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, 0, nullptr, nullptr);
  }
  void AddressedArray(LPCSTR def, LPCSTR val, LPCSTR typeInformation) {
    handler.AddAddressedArrayParameter(&collection, 1, kId, "<AddressInformation/>", "Bytes", 0, VT_ARRAY | VT_UI1,
                                       "", "", def, val, 0, 0x71, 2, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                       typeInformation, nullptr);
  }
  const ParInfo& Record(ULONG id = kId) {
    const ParInfo* r = collection.FindById(id);
    EXPECT_NE(r, nullptr) << "no record " << id;
    static const ParInfo none;
    return r ? *r : none;
  }
};

// ---- Numeric definitions -----------------------------------------------------------------------

struct NumericCase {
  const char* what;
  VARTYPE vt;
  double lo, hi, def, val;
  bool bad;
};

TEST_F(DefinitionHelpers, NumericDefinitionsAreFlaggedWhenTheyDoNotHoldTogether) {
  const NumericCase cases[] = {
      {"equal limits skip the range check", VT_UI1, 0, 0, 5, 5, false},
      {"value above the maximum", VT_UI1, 0, 10, 5, 11, true},
      {"default below the minimum", VT_UI1, 1, 10, 0, 5, true},
      {"the bounds themselves", VT_UI1, 1, 10, 1, 10, false},
      {"minimum above maximum", VT_UI1, 10, 1, 5, 5, true},
      {"maximum 255 fits a byte", VT_UI1, 0, 255, 0, 0, false},
      {"maximum 256 does not", VT_UI1, 0, 256, 0, 0, true},
      {"negative for an unsigned type", VT_UI2, 0, 0, -1, 0, true},
      {"BOOL 0..1 (VARIANT_TRUE is -1)", VT_BOOL, 0, 1, 0, 1, false},
      {"R4 decimals", VT_R4, -0.5, 0.5, 0, 0.3, false},
      {"R4 beyond float", VT_R4, 0, 1e300, 0, 0, true},
      {"UI4 near its top", VT_UI4, 0, 4294967295.0, 0, 0, false},
      {"not a number", VT_R4, 0, 1, std::numeric_limits<double>::quiet_NaN(), 0, true},
  };
  for (const NumericCase& c : cases) {
    collection.RemoveAll();
    Numeric(c.vt, c.lo, c.hi, c.def, c.val, 0x71);
    EXPECT_EQ(Record().m_dwFlags, c.bad ? 0x75u : 0x71u) << c.what;
    EXPECT_EQ(Record().m_vt, c.vt) << c.what;
  }
}

TEST_F(DefinitionHelpers, NumericValuesAreHeldInTheParameterType) {
  Numeric(VT_R4, 0, 66, 0.3, 0.5);
  const ParInfo& r = Record();
  ASSERT_EQ(r.m_vDefault.vt, VT_R4);
  EXPECT_EQ(r.m_vDefault.fltVal, 0.3f);
  EXPECT_EQ(r.m_vValue.fltVal, 0.5f);
  EXPECT_EQ(r.m_vDevValue.fltVal, 0.3f);  // the device value starts as the default
  EXPECT_EQ(r.m_vMin.vt, VT_R4);
  EXPECT_EQ(r.m_vMax.fltVal, 66.0f);
}

TEST_F(DefinitionHelpers, CheckNumericDefinitionConvertsEveryNumber) {
  vkr::Variant out[4];
  EXPECT_FALSE(CheckNumericDefinition(VT_UI1, 0, 300, 1, 2, out));
  EXPECT_EQ(out[0].vt, VT_UI1);
  EXPECT_EQ(out[1].vt, VT_EMPTY);  // 300 is no byte
  EXPECT_EQ(out[2].bVal, 1);
  EXPECT_EQ(out[3].bVal, 2);
}

// ---- The address -------------------------------------------------------------------------------

TEST_F(DefinitionHelpers, AddressMinusOneMeansNoAddressAndIsNotReported) {
  Numeric(VT_UI1, 0, 0, 0, 0, 0x71, -1);
  EXPECT_EQ(Record().m_vAddress.vt, VT_EMPTY);
  EXPECT_TRUE(site.errors.empty());
}

TEST_F(DefinitionHelpers, AnotherAddressThatDoesNotConvertIsReportedAndDropped) {
  Numeric(VT_UI1, 0, 0, 0, 0, 0x71, -2);
  EXPECT_EQ(Record().m_vAddress.vt, VT_EMPTY);
  ASSERT_EQ(site.errors.size(), 1u);
  EXPECT_EQ(site.errors[0], "Init parameter Numeric: address change type returns -2147352566");
  EXPECT_EQ(collection.Count(), 1u);  // still defined
}

TEST_F(DefinitionHelpers, NumberAddressIsKeptAsUI4) {
  Numeric(VT_UI1, 0, 0, 0, 0, 0x71, 12);
  ASSERT_EQ(Record().m_vAddress.vt, VT_UI4);
  EXPECT_EQ(Record().m_vAddress.ulVal, 12u);
  EXPECT_TRUE(site.errors.empty());
}

TEST_F(DefinitionHelpers, AddressTextAndAddressedWord) {
  handler.AddAddressedNumericParameter(&collection, 1, kId, "<AddressInformation>x</AddressInformation>", "Level", 0,
                                       VT_R4, 0, 0, 0, 0, 0, 0x50, 2, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "eLevel", 0, nullptr,
                                       nullptr);
  const ParInfo& r = Record();
  EXPECT_EQ(Text(r.m_vAddress), "<AddressInformation>x</AddressInformation>");
  EXPECT_EQ(r.m_dwAddressed, 1u);
  EXPECT_EQ(r.m_dwFlags, 0x450u);  // the collection marks an addressed parameter
  EXPECT_EQ(Text(r.m_bstrStrId.Get()), "eLevel");
  EXPECT_TRUE(site.errors.empty());
}

// ---- Text and byte-string definitions ----------------------------------------------------------

TEST_F(DefinitionHelpers, ByteStringWithEmptyLimitsIsFlaggedAndKeepsItsValues) {
  Array(VT_ARRAY | VT_UI1, "", "", "03", "FFFF");
  const ParInfo& r = Record();
  EXPECT_EQ(r.m_dwFlags, 0x79u);
  EXPECT_EQ(Bytes(r.m_vDefault), (std::vector<int>{0x03}));
  EXPECT_EQ(Bytes(r.m_vValue), (std::vector<int>{0xFF, 0xFF}));
  EXPECT_EQ(Bytes(r.m_vMin), std::vector<int>{});
  EXPECT_EQ(Bytes(r.m_vMax), std::vector<int>{});
}

TEST_F(DefinitionHelpers, EqualCountingLimitsFillShortValuesWithZeroBytes) {
  Array(VT_ARRAY | VT_UI1, "4", "4", "01", "01");
  const ParInfo& r = Record();
  EXPECT_EQ(r.m_dwFlags, 0x71u);
  EXPECT_EQ(Bytes(r.m_vDefault), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(Bytes(r.m_vValue), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(DefinitionHelpers, TheValueIsCutOrGrownToTheMinimumCount) {
  Array(VT_ARRAY | VT_UI1, "3", "5", "0102", "AABBCCDD");
  const ParInfo& r = Record();
  EXPECT_EQ(r.m_dwFlags, 0x71u);
  EXPECT_EQ(Bytes(r.m_vValue), (std::vector<int>{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(Bytes(r.m_vDefault), (std::vector<int>{0x01, 0x02}));  // only the value is sized
  collection.RemoveAll();
  Array(VT_ARRAY | VT_UI1, "3", "5", "", "AA");
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0xAA, 0, 0}));
}

TEST_F(DefinitionHelpers, ByteStringTextsThatAreNoHexAreFlagged) {
  const char* const bad[] = {"ABC", "0G", "0C 0D", "-1"};
  for (const char* text : bad) {
    collection.RemoveAll();
    Array(VT_ARRAY | VT_UI1, "", "", "0C", text);
    EXPECT_EQ(Record().m_dwFlags, 0x79u) << text;
    EXPECT_EQ(Bytes(Record().m_vDefault), (std::vector<int>{0x0C})) << text;
  }
  collection.RemoveAll();
  Array(VT_ARRAY | VT_UI1, "1", "1", "0C", "zz");
  EXPECT_EQ(Record().m_dwFlags, 0x79u);
}

TEST_F(DefinitionHelpers, PackedTextLimitsStayTexts) {
  Array(VT_BSTR, "24", "32", "", "");
  const ParInfo& r = Record();
  EXPECT_EQ(r.m_dwFlags, 0x71u);
  EXPECT_EQ(Text(r.m_vMin), "24");
  EXPECT_EQ(Text(r.m_vMax), "32");
  EXPECT_EQ(r.m_vValue.vt, VT_BSTR);
  EXPECT_EQ(Text(r.m_vValue), "");
}

TEST_F(DefinitionHelpers, ZeroFillReadsTheLimitAsTheCLibraryDoes) {
  struct Case {
    const char *lo, *hi, *def, *val;
    bool filled;
    size_t length;
  } cases[] = {
      {"2", "2", "01", "0102", true, 4},   // one short text is enough
      {"2", "2", "0102", "0304", false, 4},
      {" 2x", " 2x", "", "", true, 4},      // blanks, then digits; the rest ends the number
      {"2", "3", "", "", false, 0},         // limits differ
      {"0", "0", "", "", false, 0},
      {"-2", "-2", "", "", false, 0},
      {"", "", "", "", false, 0},
  };
  for (const Case& c : cases) {
    std::string def = c.def, val = c.val;
    EXPECT_EQ(ApplyEqualLimitZeroFill(c.lo, c.hi, &def, &val), c.filled) << c.lo << "/" << c.hi;
    if (c.filled) {
      EXPECT_EQ(def, std::string(c.length, '0'));
      EXPECT_EQ(val, def);
    }
  }
}

TEST_F(DefinitionHelpers, CheckTextDefinitionTriesElementCountsFirst) {
  vkr::Variant out[4];
  EXPECT_TRUE(CheckTextDefinition(VT_ARRAY | VT_UI1, "2", "8", "0A0B", nullptr, out));
  EXPECT_EQ(out[0].vt, VT_UI4);
  EXPECT_EQ(out[1].ulVal, 8u);
  EXPECT_EQ(Bytes(out[3]), std::vector<int>{});
  // One limit that is no count: both limits are read as bytes instead.
  EXPECT_FALSE(CheckTextDefinition(VT_ARRAY | VT_UI1, "2", "", "", "", out));
  EXPECT_EQ(out[0].vt, VT_EMPTY);  // "2" is an odd number of hex digits
  EXPECT_EQ(Bytes(out[1]), std::vector<int>{});
}

// ---- Initial values from the TypeInformation ---------------------------------------------------

TEST_F(DefinitionHelpers, WithoutInitialValuesTheValueStays) {
  AddressedArray("0C", "0C", "<TypeInformation/>");
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0x0C}));
}

TEST_F(DefinitionHelpers, RebuiltByteStringReplacesTheValue) {
  handler.scriptTypeInformation = true;
  handler.typeInformationResult = S_OK;
  EXPECT_TRUE(TextToVariant("0005", VT_ARRAY | VT_UI1, handler.typeInformationValue.Put()));
  AddressedArray("0000", "0000", "<TypeInformation>t</TypeInformation>");
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0x00, 0x05}));
  EXPECT_EQ(Bytes(Record().m_vDefault), (std::vector<int>{0x00, 0x00}));
  ASSERT_EQ(handler.typeInformationTexts.size(), 1u);
  EXPECT_EQ(handler.typeInformationTexts[0], u"<TypeInformation>t</TypeInformation>");
}

TEST_F(DefinitionHelpers, AnAnswerWithoutAByteStringLeavesTheValue) {
  // An empty byte string comes back as "done" without a value; that must not wipe the value.
  handler.scriptTypeInformation = true;
  handler.typeInformationResult = S_OK;
  AddressedArray("0C", "0C", "<TypeInformation/>");
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0x0C}));
  collection.RemoveAll();
  handler.typeInformationResult = E_FAIL;
  AddressedArray("0C", "0D", "<TypeInformation/>");
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0x0D}));
}

// ---- Enumerations ------------------------------------------------------------------------------

TEST_F(DefinitionHelpers, EnumerationDefinition) {
  const LPCSTR texts[] = {"0;Off", "1;On", "", "2;Never read"};
  handler.AddEnumParameter(&collection, 0, kId, -1, "Switch", 0, VT_UI1, 1, texts, 1, 7, 0, 0x71, 2, 0, nullptr, 0,
                           nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                           nullptr, nullptr);
  const ParInfo& r = Record();
  EXPECT_EQ(r.m_dwFlags, 0x71u);  // no check: 7 is no entry, yet not flagged
  EXPECT_EQ(r.m_nKind, 1);
  ASSERT_EQ(r.m_vValue.vt, VT_UI1);
  EXPECT_EQ(r.m_vValue.bVal, 7);
  EXPECT_EQ(r.m_vDefault.bVal, 1);
  ULONG count = 0;
  EXPECT_EQ(GetEnumListCount(r.m_vEnumList, &count), S_OK);
  EXPECT_EQ(count, 2u);  // up to the first empty text
}

TEST_F(DefinitionHelpers, NoEnumerationTexts) {
  const LPCSTR empty[] = {""};
  Numeric(VT_UI1, 0, 0, 0, 0);
  EXPECT_EQ(Record().m_vEnumList.vt, VT_EMPTY);
  collection.RemoveAll();
  handler.AddEnumParameter(&collection, 0, kId, -1, "E", 0, VT_UI1, 1, empty, 0, 0, 0, 0x71, 2, 0, nullptr, 0,
                           nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                           nullptr, nullptr);
  EXPECT_EQ(Record().m_vEnumList.vt, VT_EMPTY);
}

// ---- The record and the collection -------------------------------------------------------------

HRESULT Callback(ULONG_PTR, ULONG) { return S_OK; }
HRESULT OtherCallback(ULONG_PTR, ULONG) { return S_FALSE; }

TEST_F(DefinitionHelpers, PassedThroughFieldsReachTheRecord) {
  handler.AddNumericParameter(&collection, 0, kId, -1, "Full", 0, VT_UI2, 0, 100, 1, 2, 1, 0x171, 2, 9, "mm", 3,
                              "A description", 0, nullptr, 42, "relation(2,1005)", Callback, OtherCallback, nullptr,
                              nullptr, nullptr, Callback, "eFull", 0x2000, "<TypeInformation/>",
                              "<PrivateProperties> </PrivateProperties>");
  const ParInfo& r = Record();
  EXPECT_EQ(Text(r.m_bstrName.Get()), "Full");
  EXPECT_EQ(r.m_bPersist, 1u);
  EXPECT_EQ(r.m_dwFlags, 0x171u);
  EXPECT_EQ(r.m_dwFlagWord1, 2u);
  EXPECT_EQ(r.m_dwFlagWord2, 9u);
  EXPECT_EQ(Text(r.m_bstrUnit.Get()), "mm");
  EXPECT_EQ(r.m_dwExportKind, 3u);
  EXPECT_EQ(Text(r.m_bstrDescription.Get()), "A description");
  ASSERT_EQ(r.m_vFurther.vt, VT_UI4);
  EXPECT_EQ(r.m_vFurther.ulVal, 42u);
  EXPECT_EQ(Text(r.m_vRelation), "relation(2,1005)");
  EXPECT_EQ(r.m_pfnBeforeChange, &Callback);
  EXPECT_EQ(r.m_pfnBeforeRead, &OtherCallback);
  EXPECT_EQ(r.m_pfnBeforeWrite, nullptr);
  EXPECT_EQ(r.m_pfnAfterWrite, &Callback);
  EXPECT_EQ(Text(r.m_bstrStrId.Get()), "eFull");
  EXPECT_EQ(r.m_dwItemKinds, 0x2000u);
  EXPECT_EQ(Text(r.m_vTypeInformation), "<TypeInformation/>");
  EXPECT_EQ(Text(r.m_vPrivateProperties), "<PrivateProperties> </PrivateProperties>");
}

TEST_F(DefinitionHelpers, AbsentTextsLeaveTheirFieldsEmpty) {
  Numeric(VT_UI1, 0, 0, 0, 0);
  const ParInfo& r = Record();
  EXPECT_EQ(Text(r.m_bstrStrId.Get()), "Numeric");  // the name stands in for the string id
  EXPECT_EQ(r.m_vFurther.vt, VT_EMPTY);              // 0: no further number
  EXPECT_EQ(r.m_vRelation.vt, VT_EMPTY);
  EXPECT_EQ(r.m_vTypeInformation.vt, VT_EMPTY);
  EXPECT_EQ(r.m_vPrivateProperties.vt, VT_EMPTY);
  EXPECT_TRUE(r.m_bstrUnit.Empty());
}

TEST_F(DefinitionHelpers, AnIdAlreadyDefinedKeepsItsFirstDefinition) {
  Numeric(VT_UI1, 0, 10, 1, 1);
  Numeric(VT_UI2, 0, 10, 5, 5, 0x10, -3);
  EXPECT_EQ(collection.Count(), 1u);
  EXPECT_EQ(Record().m_vt, VT_UI1);
  EXPECT_EQ(Record().m_dwFlags, 0x71u);
  EXPECT_EQ(site.errors.size(), 1u);  // the second definition's address is still reported
}

TEST_F(DefinitionHelpers, WithoutACollectionNothingIsAdded) {
  handler.AddNumericParameter(nullptr, 0, kId, -2, "Loose", 0, VT_UI1, 0, 0, 0, 0, 0, 0x71, 2, 0, nullptr, 0, nullptr,
                              0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                              nullptr, nullptr);
  EXPECT_EQ(collection.Count(), 0u);
  EXPECT_EQ(site.errors.size(), 1u);
}

TEST_F(DefinitionHelpers, AnAliasIsRegisteredWithTheIdItStandsFor) {
  Numeric(VT_UI4, 0, 0, 0, 0, 0x71, -1, 1000);
  Numeric(VT_UI4, 0, 0, 1000, 1000, 0x71, -1, 2000, 16);
  vkr::Variant linked;
  ASSERT_EQ(handler.GetAliasLink(CFdtVariant(2000u), linked.Put()), S_OK);
  ULONG target = 0;
  ASSERT_EQ(VariantToULong(&linked, &target), S_OK);
  EXPECT_EQ(target, 1000u);
}

TEST_F(DefinitionHelpers, RunningOutOfMemoryAddsNothingAndLeaksNothing) {
  // Fail the n-th allocation for n = 1, 2, ... until a definition gets through. A failure either
  // leaves the operation by the COM error exception with nothing added, or is absorbed where the
  // definition allows (then the record is added).
  bool completed = false;
  for (unsigned n = 1; n < 500 && !completed; ++n) {
    collection.RemoveAll();
    vkr::platform::SetAllocationFault(n);
    bool threw = false;
    try {
      handler.AddArrayParameter(&collection, 0, kId, -1, "Bytes", 0, VT_ARRAY | VT_UI1, "2", "2", "0A0B", "0102", 0,
                                0x71, 2, 0, "unit", 0, "text", 0, nullptr, 0, "relation(2,3)", nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, "eBytes", 0, "<TypeInformation/>", nullptr);
    } catch (const vkr::HResultError& e) {
      threw = true;
      EXPECT_EQ(e.Result(), E_OUTOFMEMORY) << "allocation " << n;
    }
    const unsigned reached = vkr::platform::AllocationsSinceFaultArmed();
    vkr::platform::SetAllocationFault(0);
    if (threw) {
      EXPECT_EQ(collection.Count(), 0u) << "allocation " << n;
    }
    completed = reached < n;
  }
  EXPECT_TRUE(completed);
  ASSERT_EQ(collection.Count(), 1u);
  EXPECT_EQ(Bytes(Record().m_vValue), (std::vector<int>{0x01, 0x02}));
}

}  // namespace

// The parameter record: defaults, construction, copies and field masks.
#include <gtest/gtest.h>

#include "parameters/CFdtVariant.h"
#include "parameters/ParInfo.h"
#include "tests/support/parameter_records.h"

using namespace vkr::test;

namespace {

HRESULT Noop(ULONG_PTR, ULONG) { return S_OK; }

// The full constructor with the fields a definition usually gives.
ParInfo Defined(VARTYPE vt, const VARIANT& min, const VARIANT& max, const VARIANT& def, const VARIANT& value,
                const char16_t* name, const char16_t* stringId) {
  vkr::Variant empty;
  // The record takes over the by-value VARIANTs.
  VARIANT typeInformation;
  Text(u"<TypeInformation/>").Detach(&typeInformation);
  VARIANT none;
  VariantInit(&none);
  return ParInfo(1, 1075, &empty, SysAllocString(name), 0, vt, &min, &max, &def, &value, 1, 0x71, 2, 0,
                 SysAllocString(u"mm"), 0, SysAllocString(u"The distance"), 0, &empty, &empty, &empty, Noop,
                 nullptr, nullptr, nullptr, nullptr, Noop, stringId ? SysAllocString(stringId) : nullptr, 3,
                 typeInformation, none);
}

TEST(ParInfo, DefaultRecord) {
  ParInfo r;
  EXPECT_EQ(r.m_nId, 0xFFFFFFFFu);
  EXPECT_EQ(r.m_dwAddressed, 0u);
  EXPECT_EQ(r.m_bPersist, 1u);
  EXPECT_EQ(r.m_dwFlags, 0x71u);
  EXPECT_EQ(r.m_dwFlagWord1, 1u);
  EXPECT_EQ(r.m_dwFlagWord2, 0u);
  EXPECT_EQ(r.m_vt, VT_EMPTY);
  EXPECT_EQ(r.m_vValue.vt, VT_EMPTY);
  EXPECT_EQ(r.m_bstrName.Get(), nullptr);
  for (ULONG k = PCK_BEFORE_READ; k <= PCK_AFTER_CHANGE; ++k)
    EXPECT_EQ(r.Callback(static_cast<ParameterCallbackKind>(k)), nullptr);
}

TEST(ParInfo, ConstructorConvertsValuesToTheType) {
  ParInfo r = Defined(VT_UI1, Text(u"1"), Text(u"200"), Text(u"7"), Text(u"12"), u"Level", nullptr);
  EXPECT_EQ(r.m_vValue.vt, VT_UI1);
  EXPECT_EQ(r.m_vValue.bVal, 12);
  EXPECT_EQ(r.m_vDefault.bVal, 7);
  EXPECT_EQ(r.m_vDevValue.vt, VT_UI1);  // the device value starts as the default
  EXPECT_EQ(r.m_vDevValue.bVal, 7);
  EXPECT_EQ(r.m_vMin.vt, VT_UI1);
  EXPECT_EQ(r.m_vMax.bVal, 200);
  EXPECT_EQ(r.m_bstrStrId.View(), u"Level");  // the string id takes the name
  EXPECT_EQ(r.m_bstrUnit.View(), u"mm");
  EXPECT_EQ(r.m_dwItemKinds, 3u);
  EXPECT_EQ(r.Callback(PCK_BEFORE_CHANGE), &Noop);
  EXPECT_EQ(r.Callback(PCK_AFTER_WRITE), &Noop);
  EXPECT_EQ(TextOf(r.m_vTypeInformation), u"<TypeInformation/>");
}

TEST(ParInfo, ConstructorDropsValuesButKeepsLimitsThatDoNotConvert) {
  ParInfo r = Defined(VT_UI1, Text(u"low"), I4(300), Text(u"x"), Text(u"-5"), u"Level", u"str_level");
  EXPECT_EQ(r.m_vValue.vt, VT_EMPTY);
  EXPECT_EQ(r.m_vDefault.vt, VT_EMPTY);
  EXPECT_EQ(r.m_vDevValue.vt, VT_EMPTY);
  EXPECT_EQ(TextOf(r.m_vMin), u"low");
  EXPECT_EQ(r.m_vMax.vt, VT_I4);
  EXPECT_EQ(r.m_bstrStrId.View(), u"str_level");
}

TEST(ParInfo, AStringTableIdWithoutItsStringKeepsTheName) {
  vkr::Variant empty;
  VARIANT none1, none2;
  VariantInit(&none1);
  VariantInit(&none2);
  ParInfo r(0, 5, &empty, SysAllocString(u"Given"), 4711, VT_I4, &empty, &empty, &empty, &empty, 1, 0x71, 1, 0,
            nullptr, 0, nullptr, 0, &empty, &empty, &empty, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
            nullptr, 0, none1, none2);
  EXPECT_EQ(r.m_bstrName.View(), u"Given");
  EXPECT_EQ(r.m_bstrStrId.View(), u"Given");
  EXPECT_EQ(r.m_nStringResId, 4711u);
}

TEST(ParInfo, CopiesAreDeepAndAllOrNothing) {
  ParInfo a = Record(5, VT_BSTR, Text(u"value"));
  a.m_vEnumList = EnumListOf({u"0;Off"});
  ParInfo b(a);
  EXPECT_EQ(b.m_nId, 5u);
  EXPECT_EQ(TextOf(b.m_vValue), u"value");
  EXPECT_NE(b.m_vValue.bstrVal, a.m_vValue.bstrVal);
  EXPECT_NE(b.m_vEnumList.parray, a.m_vEnumList.parray);
  ParInfo& same = b;
  b = same;  // self-assignment keeps the record
  EXPECT_EQ(TextOf(b.m_vValue), u"value");

  // A copy that runs out of memory leaves the target as it was, whichever allocation fails.
  for (unsigned n = 1;; ++n) {
    ParInfo target = Record(9, VT_I4, I4(1));
    vkr::platform::SetAllocationFault(n);
    HRESULT hr = target.CopyFrom(a);
    vkr::platform::SetAllocationFault(0);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(target.m_nId, 5u);
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(target.m_nId, 9u) << n;
    EXPECT_EQ(target.m_vValue.lVal, 1) << n;
    ASSERT_LT(n, 40u);
  }
  vkr::platform::SetAllocationFault(1);
  EXPECT_THROW(ParInfo copy(a), vkr::HResultError);
  vkr::platform::SetAllocationFault(0);
}

TEST(ParInfo, CopyFieldsTakesOnlyTheMask) {
  ParInfo src = Record(1, VT_R4, R4(2.5f), nullptr, nullptr, 0x31, 1, u"Source");
  ParInfo dst = Record(2, VT_I4, I4(7), nullptr, nullptr, 0x71, 0, u"Target");
  ASSERT_EQ(dst.CopyFields(src, PIF_VALUE | PIF_FLAGS), S_OK);
  EXPECT_EQ(dst.m_vValue.vt, VT_R4);
  EXPECT_EQ(dst.m_dwFlags, 0x31u);
  EXPECT_EQ(dst.m_vt, VT_I4);
  EXPECT_EQ(dst.m_bstrName.View(), u"Target");
  EXPECT_EQ(dst.m_nId, 2u);  // the id is never a field
  ASSERT_EQ(dst.CopyFields(src, PIF_ALL), S_OK);
  EXPECT_EQ(dst.m_vt, VT_R4);
  EXPECT_EQ(dst.m_nId, 2u);
  EXPECT_EQ(dst.m_dwAddressed, 1u);
}

}  // namespace

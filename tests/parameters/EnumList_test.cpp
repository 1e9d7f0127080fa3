// Enumeration lists: counting, parsing and searching entries.
#include <gtest/gtest.h>

#include "parameters/EnumList.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

TEST(EnumList, EntriesParse) {
  struct Case {
    const char16_t* entry;
    LONG value;
    const char16_t* label;
  };
  const Case cases[] = {
      {u"x1F;Level", 31, u"Level"},
      {u"0x1A;A", 26, u"A"},
      {u"-3;Minus", -3, u"Minus"},
      {u"3-;Trailing sign", -3, u"Trailing sign"},
      {u"7", 0, u""},                   // neither ';' nor x
      {u"12abc;A", 12, u"A"},
      {u"5;a;b", 5, u"a;b"},            // the label is all after the first ';'
      {u"0xFFFFFFFF;All", -1, u"All"},  // a 32-bit pattern
      {u"x1F", 31, u""},
      {u";Nothing", 0, u"Nothing"},
  };
  for (const Case& c : cases) {
    vkr::Variant list = EnumListOf({c.entry});
    LONG value = 99;
    BSTR label = nullptr;
    ASSERT_EQ(GetEnumListEntry(list, 0, &value, &label), S_OK) << Utf8(c.entry);
    EXPECT_EQ(value, c.value) << Utf8(c.entry);
    EXPECT_EQ(vkr::View(label), std::u16string_view(c.label)) << Utf8(c.entry);
    SysFreeString(label);
  }
}

TEST(EnumList, CountAndRefusals) {
  ULONG count = 7;
  vkr::Variant list = EnumListOf({u"0;Off", u"1;On"});
  EXPECT_EQ(GetEnumListCount(list, &count), S_OK);
  EXPECT_EQ(count, 2u);

  count = 7;
  EXPECT_EQ(GetEnumListCount(I4(1), &count), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(GetEnumListCount(Array(VT_VARIANT, {Text(u"0;Off")}), &count), E_INVALIDARG);
  vkr::Variant nullArray;
  nullArray.vt = VT_ARRAY | VT_BSTR;
  EXPECT_EQ(GetEnumListCount(nullArray, &count), E_UNEXPECTED);
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  vkr::Variant twoDims;
  twoDims.vt = VT_ARRAY | VT_BSTR;
  twoDims.parray = SafeArrayCreate(VT_BSTR, 2, bounds);
  EXPECT_EQ(GetEnumListCount(twoDims, &count), E_INVALIDARG);
  EXPECT_EQ(GetEnumListCount(list, nullptr), E_INVALIDARG);

  LONG value = 0;
  BSTR label = nullptr;
  EXPECT_EQ(GetEnumListEntry(list, 2, &value, &label), E_UNEXPECTED);
  EXPECT_EQ(GetEnumListEntry(list, 0, nullptr, &label), E_INVALIDARG);
  EXPECT_EQ(GetEnumListEntry(nullArray, 0, &value, &label), E_UNEXPECTED);
}

TEST(EnumList, IndexCountsFromTheDataWhateverTheLowerBound) {
  // A list whose lower bound is 5 still has entries 0 and 1, and nothing at 2.
  vkr::Variant list = EnumListOf({u"0;Off", u"1;On"}, 5);
  LONG value = 0;
  BSTR label = nullptr;
  ASSERT_EQ(GetEnumListEntry(list, 1, &value, &label), S_OK);
  EXPECT_EQ(vkr::View(label), u"On");
  SysFreeString(label);
  EXPECT_EQ(GetEnumListEntry(list, 2, &value, &label), E_UNEXPECTED);
  EXPECT_EQ(GetEnumListEntry(list, 5, &value, &label), E_UNEXPECTED);
}

TEST(EnumList, FindByValueAndLabel) {
  vkr::Variant list = EnumListOf({u"0;Off", u"1;On", u"x10;High", u"1;Again"});
  ULONG index = 0;
  BSTR label = nullptr;
  ASSERT_TRUE(FindEnumListEntryByValue(list, 1, &index, &label));
  EXPECT_EQ(index, 1u);  // the first entry with the value
  EXPECT_EQ(vkr::View(label), u"On");
  SysFreeString(label);
  EXPECT_TRUE(FindEnumListEntryByValue(list, 16, &index, nullptr));
  EXPECT_EQ(index, 2u);
  EXPECT_FALSE(FindEnumListEntryByValue(list, 2, &index, nullptr));
  EXPECT_FALSE(FindEnumListEntryByValue(EnumListOf({}), 0, nullptr, nullptr));
  EXPECT_FALSE(FindEnumListEntryByValue(I4(0), 0, nullptr, nullptr));

  LONG value = 0;
  vkr::Bstr high(u"High"), lower(u"high"), part(u"Hig");
  ASSERT_TRUE(FindEnumListEntryByLabel(list, high, &index, &value));
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(value, 16);
  EXPECT_FALSE(FindEnumListEntryByLabel(list, lower, &index, &value));
  EXPECT_FALSE(FindEnumListEntryByLabel(list, part, &index, &value));
}

}  // namespace

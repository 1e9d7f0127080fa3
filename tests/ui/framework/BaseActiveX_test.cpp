// The user-interface base: its record, its table copy and its construction.
#include <gtest/gtest.h>

#include "ui/framework/BaseActiveX.h"

namespace {

CActXParInfo* ThreeEntryMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(1001, "Sensitivity", 300, "%.1f", 0x71, TRUE, 0),
      CActXParInfo(1002, "Unit", 301, "", 0x71, TRUE, 4),
      CActXParInfo(1041, "Button Refresh", 0),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = CountParameterEntries(table);
    return table;
  }
  return CopyParameterTable(table, count);
}

TEST(CActXParInfoTest, TableCopyEndsWithDefaultEntryAndOwnsItsNames) {
  int count = -1;
  CActXParInfo* copy = ThreeEntryMap(&count, TRUE);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(copy[3].m_nParamId, -1);
  EXPECT_EQ(copy[3].m_pszName, nullptr);
  EXPECT_EQ(copy[3].m_nState, 0x71u);
  EXPECT_EQ(copy[3].m_nCtrlKind, 0x80000000u);
  EXPECT_EQ(copy[3].m_nStateMask, 0xFFFFFFFFu);

  // An owned name and a text value survive the destruction of the record they were copied from.
  auto* owner = new CActXParInfo(copy[0]);
  owner->SetOwnedName("Level");
  owner->m_vValue.vt = VT_BSTR;
  owner->m_vValue.bstrVal = SysAllocString(u"m");
  CActXParInfo second(*owner);
  delete owner;
  EXPECT_STREQ(second.m_pszName, "Level");
  EXPECT_EQ(std::u16string(second.m_vValue.bstrVal), u"m");
  delete[] copy;
}

}  // namespace

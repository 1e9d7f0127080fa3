// The parameter collection: order, index walks, references and the by-id operations.
#include <gtest/gtest.h>

#include "parameters/CFdtVariant.h"
#include "parameters/CParamCollection.h"
#include "tests/support/parameter_records.h"

using namespace vkr::test;

namespace {

ULONG g_lastContext = 0;
ULONG g_lastId = 0;
HRESULT Remember(ULONG_PTR context, ULONG id) {
  g_lastContext = static_cast<ULONG>(context);
  g_lastId = id;
  return E_ABORT;
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkr::Variant lo = UI1(1), hi = UI1(99);
    ASSERT_EQ(c.Add(Record(1000, VT_UI1, UI1(42), &lo, &hi, 0x31, 0, u"Level")), S_OK);
    ASSERT_EQ(c.Add(Record(20, VT_R4, R4(1.5f))), S_OK);
    ASSERT_EQ(c.Add(Record(300, VT_BSTR, Text(u"tag"), nullptr, nullptr, 0x71, 1)), S_OK);
    ASSERT_EQ(c.Add(Reference(500, 1000)), S_OK);
  }
  CParamCollection c;
};

TEST_F(CollectionTest, AddKeepsTheFirstRecordOfAnId) {
  EXPECT_EQ(c.Add(Record(20, VT_I4, I4(9))), S_OK);
  EXPECT_EQ(c.Count(), 4u);
  EXPECT_EQ(c.FindById(20)->m_vt, VT_R4);
  // An addressed record gets flag 0x400; others do not.
  EXPECT_EQ(c.FindById(300)->m_dwFlags, 0x71u | PFL_ADDRESSED);
  EXPECT_EQ(c.FindById(20)->m_dwFlags, 0x71u);
}

TEST_F(CollectionTest, IndexWalkIsInIdOrder) {
  const ULONG expected[] = {20, 300, 500, 1000};
  for (int pass = 0; pass < 2; ++pass) {
    for (LONG i = 0; i < 4; ++i) {
      ParInfo r;
      ASSERT_EQ(c.GetAt(i, &r), S_OK);
      EXPECT_EQ(r.m_nId, expected[i]);
    }
  }
  // Backwards and repeated requests agree with the forward walk.
  for (LONG i = 3; i >= 0; --i) {
    ParInfo r;
    ASSERT_EQ(c.GetAt(i, &r), S_OK);
    EXPECT_EQ(r.m_nId, expected[i]);
  }
  ParInfo r;
  EXPECT_EQ(c.GetAt(-1, &r), E_INVALIDARG);
  EXPECT_EQ(c.GetAt(4, &r), E_INVALIDARG);
  EXPECT_EQ(c.GetAt(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(c.IndexOf(20), 0);
  EXPECT_EQ(c.IndexOf(1000), 3);
  EXPECT_EQ(c.IndexOf(21), -1);
}

TEST_F(CollectionTest, ReferenceReadsItsTargetEveryTime) {
  // Asked twice at the same index (the cached position), the reference resolves both times.
  for (int twice = 0; twice < 2; ++twice) {
    ParInfo r;
    ASSERT_EQ(c.GetAt(2, &r), S_OK);
    EXPECT_EQ(r.m_nId, 500u);
    EXPECT_EQ(r.m_vt, VT_UI1);
    EXPECT_EQ(r.m_vValue.bVal, 42);
    EXPECT_EQ(r.m_vMax.bVal, 99);
    EXPECT_EQ(r.m_bstrName.View(), u"Level");
    EXPECT_EQ(r.m_dwFlags, 0x31u);
    EXPECT_EQ(r.m_nKind, PK_PLAIN);
  }
  ASSERT_EQ(c.Remove(1000), S_OK);
  ParInfo r;
  EXPECT_EQ(c.GetAt(2, &r), E_INVALIDARG);
}

TEST_F(CollectionTest, ReferencesThatLoopAreRefused) {
  ASSERT_EQ(c.Add(Reference(600, 600)), S_OK);  // itself
  ASSERT_EQ(c.Add(Reference(700, 500)), S_OK);  // a reference to a reference
  ASSERT_EQ(c.Add(Reference(800, 900)), S_OK);  // a cycle 800 -> 900 -> 800
  ASSERT_EQ(c.Add(Reference(900, 800)), S_OK);
  for (ULONG id : {600u, 700u, 800u}) {
    ParInfo r;
    vkr::Variant v;
    EXPECT_EQ(c.CopyParInfo(*c.FindById(id), &r), E_INVALIDARG) << id;
    EXPECT_EQ(c.GetValue(id, &v), E_INVALIDARG) << id;
    EXPECT_EQ(c.SetValue(id, I4(1)), E_INVALIDARG) << id;
    EXPECT_EQ(c.GetParInfoFields(id, PIF_ALL, &r), E_INVALIDARG) << id;
    EXPECT_EQ(c.SetParInfoFields(id, PIF_VALUE, r), E_INVALIDARG) << id;
  }
}

TEST_F(CollectionTest, FieldsOfAReferenceAreSplit) {
  ParInfo out;
  ASSERT_EQ(c.GetParInfoFields(500, PIF_VALUE | PIF_NAME | PIF_VARTYPE | PIF_FLAGS, &out), S_OK);
  EXPECT_EQ(out.m_nId, 500u);
  EXPECT_EQ(out.m_vValue.bVal, 42);             // shared: from the target
  EXPECT_EQ(out.m_vt, VT_UI1);
  EXPECT_EQ(out.m_dwFlags, 0x31u);
  EXPECT_EQ(out.m_bstrName.View(), u"Alias");  // not shared: the reference's own

  ParInfo in;
  in.m_vValue = UI1(77);
  in.m_bstrName = vkr::Bstr(u"Renamed");
  ASSERT_EQ(c.SetParInfoFields(500, PIF_VALUE | PIF_NAME, in), S_OK);
  EXPECT_EQ(c.FindById(1000)->m_vValue.bVal, 77);
  EXPECT_EQ(c.FindById(1000)->m_bstrName.View(), u"Level");
  EXPECT_EQ(c.FindById(500)->m_bstrName.View(), u"Renamed");
  EXPECT_EQ(c.FindById(500)->m_vValue.ulVal, 1000u);  // the reference keeps pointing

  ASSERT_EQ(c.SetValue(500, Text(u"unconverted")), S_OK);
  EXPECT_EQ(TextOf(c.FindById(1000)->m_vValue), u"unconverted");  // stored as given
  vkr::Variant v;
  ASSERT_EQ(c.GetValue(500, &v), S_OK);
  EXPECT_EQ(TextOf(v), u"unconverted");
  EXPECT_EQ(c.GetValue(501, &v), E_INVALIDARG);
  EXPECT_EQ(c.GetParInfoFields(1000, PIF_ALL, nullptr), E_INVALIDARG);
}

TEST_F(CollectionTest, Callbacks) {
  ParInfo* r = nullptr;
  ASSERT_EQ(c.FindOrInsert(20, &r), S_OK);
  r->SetCallback(PCK_AFTER_READ, Remember);
  EXPECT_EQ(c.InvokeCallback(20, PCK_AFTER_READ, 1234), E_ABORT);
  EXPECT_EQ(g_lastContext, 1234u);
  EXPECT_EQ(g_lastId, 20u);
  EXPECT_EQ(c.InvokeCallback(20, PCK_BEFORE_READ, 0), S_FALSE);
  EXPECT_EQ(c.InvokeCallback(20, static_cast<ParameterCallbackKind>(0), 0), E_INVALIDARG);
  EXPECT_EQ(c.InvokeCallback(20, static_cast<ParameterCallbackKind>(7), 0), E_INVALIDARG);
  EXPECT_EQ(c.InvokeCallback(21, PCK_AFTER_READ, 0), E_INVALIDARG);
}

TEST_F(CollectionTest, RemovalRestartsTheWalk) {
  ParInfo r;
  ASSERT_EQ(c.GetAt(1, &r), S_OK);
  ASSERT_EQ(c.Remove(20), S_OK);
  ASSERT_EQ(c.GetAt(1, &r), S_OK);
  EXPECT_EQ(r.m_nId, 500u);
  EXPECT_EQ(c.Remove(20), E_INVALIDARG);
  ParInfo* inserted = nullptr;
  ASSERT_EQ(c.FindOrInsert(1, &inserted), S_OK);
  EXPECT_EQ(inserted->m_dwFlags, 0x71u);
  ASSERT_EQ(c.GetAt(0, &r), S_OK);
  EXPECT_EQ(r.m_nId, 1u);
  c.RemoveAll();
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(c.GetAt(0, &r), E_INVALIDARG);
  vkr::Variant v;
  EXPECT_EQ(c.GetValue(1, &v), E_INVALIDARG);
}

}  // namespace

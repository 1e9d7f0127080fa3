// Packed records and the VARIANT array helpers.
#include <gtest/gtest.h>

#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovVAPacker.h"
#include "parameters/VariantArray.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

// The elements of a packed record, for checking the format.
std::vector<vkr::Variant> Elements(const VARIANT& packed) {
  std::vector<vkr::Variant> out;
  if (packed.vt != (VT_ARRAY | VT_VARIANT)) return out;
  LONG lb = 0, ub = -1;
  SafeArrayGetLBound(packed.parray, 1, &lb);
  SafeArrayGetUBound(packed.parray, 1, &ub);
  for (LONG i = lb; i <= ub; ++i) {
    vkr::Variant e;
    SafeArrayGetElement(packed.parray, &i, e.Ptr());
    out.push_back(std::move(e));
  }
  return out;
}

vkr::Variant Packed(std::initializer_list<vkr::Variant> items) { return Array(VT_VARIANT, items); }

struct EmptyRecord : CovVAPacker {
  bool Serialize() override { return true; }
};

// A record with every exchange, a nested record among them.
struct Everything : CovVAPacker {
  ULONG u = 0;
  LONG l = 0;
  bool b = false;
  vkr::Bstr s;
  SProgressEvent nested;
  BYTE byte = 0;
  vkr::Variant v;

 protected:
  bool Serialize() override {
    return ExchangeULong(u) && ExchangeLong(l) && ExchangeBool(b) && ExchangeBstr(s) && ExchangeRecord(nested) &&
           ExchangeByte(byte) && ExchangeVariant(v);
  }
};

TEST(CovVAPacker, EmptyRecordPacksToAnEmptyArray) {
  EmptyRecord r;
  vkr::Variant packed;
  ASSERT_TRUE(r.Pack(&packed));
  EXPECT_EQ(packed.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_TRUE(Elements(packed).empty());
  EXPECT_TRUE(r.Unpack(packed));
  EXPECT_FALSE(r.Pack(nullptr));
}

TEST(CovVAPacker, RecordFormats) {
  SParamUpdateInfo info(1075, 10000);
  vkr::Variant packed;
  ASSERT_TRUE(info.Pack(&packed));
  auto e = Elements(packed);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(IsVariantEqual(e[0], UI4(1075)));
  EXPECT_TRUE(IsVariantEqual(e[1], UI4(10000)));

  SOnlineParamData online;
  online.bstrInvokeId = vkr::Bstr(u"{id}");
  online.bstrParameters = vkr::Bstr(u"/FDT");
  online.bFlag = true;
  ASSERT_TRUE(online.Pack(&packed));
  e = Elements(packed);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(TextOf(e[0]), u"{id}");
  EXPECT_EQ(TextOf(e[1]), u"/FDT");
  EXPECT_EQ(e[2].vt, VT_BOOL);
  EXPECT_EQ(e[2].boolVal, VARIANT_TRUE);

  SProgressEvent progress;
  progress.bstrText = vkr::Bstr(u"Upload");
  progress.nPercent = 40;
  ASSERT_TRUE(progress.Pack(&packed));
  e = Elements(packed);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_TRUE(IsVariantEqual(e[1], I4(40)));  // the percent travels as VT_I4
  EXPECT_TRUE(IsVariantEqual(e[2], Bool(false)));
}

TEST(CovVAPacker, EveryRecordRoundTrips) {
  {
    SParamUpdateInfo a(1, 250), b;
    vkr::Variant p;
    ASSERT_TRUE(a.Pack(&p));
    ASSERT_TRUE(b.Unpack(p));
    EXPECT_EQ(b.nParameterId, 1u);
    EXPECT_EQ(b.nUpdateRate, 250u);
  }
  {
    SOnlineParamData a, b;
    a.bstrInvokeId = vkr::Bstr(u"7E1C");
    a.bFlag = true;  // the parameter text stays null
    vkr::Variant p;
    ASSERT_TRUE(a.Pack(&p));
    ASSERT_TRUE(b.Unpack(p));
    EXPECT_EQ(b.bstrInvokeId.View(), u"7E1C");
    EXPECT_EQ(b.bstrParameters.Get(), nullptr);
    EXPECT_TRUE(b.bFlag);
  }
  {
    SovFDT_InstanceDataRequest a, b;
    a.bstrInvokeId = vkr::Bstr(u"inv");
    a.bstrDocument = vkr::Bstr(u"<ItemList/>");
    vkr::Variant p;
    ASSERT_TRUE(a.Pack(&p));
    ASSERT_TRUE(b.Unpack(p));
    EXPECT_EQ(b.bstrInvokeId.View(), u"inv");
    EXPECT_EQ(b.bstrDocument.View(), u"<ItemList/>");
  }
  {
    SProgressEvent a, b;
    a.bstrText = vkr::Bstr(u"Download");
    a.nPercent = -1;
    a.bFlag = true;
    vkr::Variant p;
    ASSERT_TRUE(a.Pack(&p));
    ASSERT_TRUE(b.Unpack(p));
    EXPECT_EQ(b.bstrText.View(), u"Download");
    EXPECT_EQ(b.nPercent, -1);
    EXPECT_TRUE(b.bFlag);
  }
  {
    Everything a, b;
    a.u = 0xFFFFFFFF;
    a.l = INT32_MIN;
    a.b = true;
    a.s = vkr::Bstr(u"text");
    a.nested.bstrText = vkr::Bstr(u"inner");
    a.nested.nPercent = 77;
    a.byte = 0xA5;
    a.v = Bytes({1, 2, 3});
    vkr::Variant p;
    ASSERT_TRUE(a.Pack(&p));
    EXPECT_EQ(Elements(p).size(), 7u);
    ASSERT_TRUE(b.Unpack(p));
    EXPECT_EQ(b.u, 0xFFFFFFFFu);
    EXPECT_EQ(b.l, INT32_MIN);
    EXPECT_TRUE(b.b);
    EXPECT_EQ(b.s.View(), u"text");
    EXPECT_EQ(b.nested.bstrText.View(), u"inner");
    EXPECT_EQ(b.nested.nPercent, 77);
    EXPECT_EQ(b.byte, 0xA5);
    EXPECT_TRUE(IsVariantEqual(b.v, Bytes({1, 2, 3})));
  }
}

TEST(CovVAPacker, UnpackTakesExactTypesOnly) {
  SParamUpdateInfo info(5, 6);
  // The first element is VT_I4, not VT_UI4: no conversion.
  EXPECT_FALSE(info.Unpack(Packed({I4(1), UI4(2)})));
  EXPECT_EQ(info.nParameterId, 5u);
  // Fields read before the failing one keep their new values.
  EXPECT_FALSE(info.Unpack(Packed({UI4(8), Text(u"2")})));
  EXPECT_EQ(info.nParameterId, 8u);
  EXPECT_EQ(info.nUpdateRate, 6u);
  // Too few elements.
  EXPECT_FALSE(info.Unpack(Packed({UI4(8)})));
  // Not a packed record at all.
  EXPECT_FALSE(info.Unpack(UI4(8)));
  EXPECT_FALSE(info.Unpack(Array(VT_BSTR, {Text(u"a"), Text(u"b")})));
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  vkr::Variant square;
  square.vt = VT_ARRAY | VT_VARIANT;
  square.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  EXPECT_FALSE(info.Unpack(square));
}

TEST(CovVAPacker, MalformedNestedRecordFails) {
  Everything good;
  vkr::Variant p;
  ASSERT_TRUE(good.Pack(&p));
  auto e = Elements(p);
  // A nested element of another type, and a nested record that does not unpack.
  for (vkr::Variant nested : {Text(u"not a record"), Packed({I4(1)})}) {
    e[4] = nested;
    vkr::Variant bad = Packed({e[0], e[1], e[2], e[3], e[4], e[5], e[6]});
    Everything r;
    EXPECT_FALSE(r.Unpack(bad)) << "nested element of type " << nested.vt;
  }
}

TEST(CovVAPacker, FailedPackLeavesOutAlone) {
  SOnlineParamData online;
  online.bstrInvokeId = vkr::Bstr(u"invoke");
  online.bstrParameters = vkr::Bstr(u"path");
  // Every allocation of the pack in turn fails; out keeps its value each time.
  for (unsigned n = 1;; ++n) {
    vkr::Variant out = I4(42);
    vkr::platform::SetAllocationFault(n);
    const bool ok = online.Pack(&out);
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (ok) {
      EXPECT_EQ(Elements(out).size(), 3u);
      break;
    }
    ASSERT_TRUE(reached) << n;
    EXPECT_EQ(out.vt, VT_I4) << n;
    EXPECT_EQ(out.lVal, 42) << n;
    ASSERT_LT(n, 50u);
  }
}

TEST(ParamUpdateInfos, ListsRoundTrip) {
  std::vector<SParamUpdateInfo> infos{{1075, 10000}, {1001, 500}, {3, 0}};
  vkr::Variant list;
  ASSERT_EQ(PackParamUpdateInfos(infos, &list), S_OK);
  std::vector<SParamUpdateInfo> back{{9, 9}};
  ASSERT_EQ(UnpackParamUpdateInfos(back, list), S_OK);
  ASSERT_EQ(back.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back[i].nParameterId, infos[i].nParameterId);
    EXPECT_EQ(back[i].nUpdateRate, infos[i].nUpdateRate);
  }
  ASSERT_EQ(PackParamUpdateInfos({}, &list), S_OK);
  ASSERT_EQ(UnpackParamUpdateInfos(back, list), S_OK);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(PackParamUpdateInfos(infos, nullptr), E_POINTER);
}

TEST(ParamUpdateInfos, BadLists) {
  std::vector<SParamUpdateInfo> infos{{9, 9}};
  EXPECT_EQ(UnpackParamUpdateInfos(infos, vkr::Variant()), S_OK);
  EXPECT_TRUE(infos.empty());
  EXPECT_EQ(UnpackParamUpdateInfos(infos, Array(VT_BSTR, {Text(u"x")})), E_INVALIDARG);

  SParamUpdateInfo first(1, 2);
  vkr::Variant record;
  ASSERT_TRUE(first.Pack(&record));
  // Element 1 is not a packed record: the vector keeps record 0.
  EXPECT_EQ(UnpackParamUpdateInfos(infos, Packed({record, UI4(3)})), E_FAIL);
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0].nParameterId, 1u);
  EXPECT_EQ(UnpackParamUpdateInfos(infos, Packed({record, Packed({I4(1), I4(2)})})), E_FAIL);
}

TEST(VariantArray, AppendGrowsAtTheEnd) {
  vkr::Variant list;
  ASSERT_EQ(AppendToVariantArray(I4(1), &list), S_OK);
  ULONG count = 0;
  LONG lb = -1;
  ASSERT_EQ(GetVariantArrayBounds(&count, &lb, list), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(lb, 0);
  ASSERT_EQ(AppendToVariantArray(I4(2), &list), S_OK);
  ASSERT_EQ(AppendToVariantArray(Text(u"three"), &list), S_OK);
  auto e = Elements(list);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(TextOf(e[2]), u"three");

  vkr::Variant shifted = Packed({I4(1)});
  SafeArrayDestroy(shifted.parray);
  shifted.parray = SafeArrayCreateVector(VT_VARIANT, 5, 1);
  ASSERT_EQ(AppendToVariantArray(I4(9), &shifted), S_OK);
  ASSERT_EQ(GetVariantArrayBounds(&count, &lb, shifted), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(lb, 5);
  vkr::Variant last;
  ASSERT_EQ(GetVariantArrayElement(&last, 6, shifted), S_OK);
  EXPECT_TRUE(IsVariantEqual(last, I4(9)));
  VariantClear(&last);

  // Not a VARIANT array: refused, never taken for one.
  vkr::Variant number = I4(5);
  EXPECT_EQ(AppendToVariantArray(I4(1), &number), E_INVALIDARG);
  EXPECT_EQ(number.lVal, 5);
  EXPECT_EQ(AppendToVariantArray(I4(1), nullptr), E_INVALIDARG);
}

TEST(VariantArray, FailedAppendKeepsTheList) {
  vkr::Variant list = Packed({Text(u"a"), Text(u"b")});
  for (unsigned n = 1;; ++n) {
    vkr::platform::SetAllocationFault(n);
    HRESULT hr = AppendToVariantArray(Text(u"c"), &list);
    vkr::platform::SetAllocationFault(0);
    if (SUCCEEDED(hr)) break;
    auto e = Elements(list);
    ASSERT_EQ(e.size(), 2u) << n;
    EXPECT_EQ(TextOf(e[1]), u"b");
    ASSERT_LT(n, 20u);
  }
  EXPECT_EQ(Elements(list).size(), 3u);
}

TEST(VariantArray, PairsSingletonsAndReads) {
  vkr::Variant pair = I4(0);
  ASSERT_EQ(MakeVariantPair(UI4(1), Text(u"two"), &pair), S_OK);
  auto e = Elements(pair);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(IsVariantEqual(e[0], UI4(1)));
  vkr::Variant one;
  ASSERT_EQ(MakeVariantArray(R8(1.5), &one), S_OK);
  EXPECT_EQ(Elements(one).size(), 1u);
  EXPECT_EQ(MakeVariantArray(R8(1.5), nullptr), E_INVALIDARG);

  vkr::Variant out;
  EXPECT_EQ(GetVariantArrayElement(&out, 0, I4(1)), E_INVALIDARG);
  EXPECT_EQ(GetVariantArrayElement(&out, 2, pair), DISP_E_BADINDEX);
  ULONG count = 9;
  LONG lb = 9;
  EXPECT_EQ(GetVariantArrayBounds(&count, &lb, I4(1)), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(lb, 0);
  vkr::Variant nullArray;
  nullArray.vt = VT_ARRAY | VT_VARIANT;
  EXPECT_EQ(GetVariantArrayBounds(&count, &lb, nullArray), E_INVALIDARG);
}

TEST(MakeEnumList, FromATextTable) {
  const char* table[] = {"0;Off", "1;Ein\xC3\xA4", "", "2;Never"};
  vkr::Variant list;
  static_cast<VARIANT&>(list) = MakeEnumList(table);
  ASSERT_EQ(list.vt, VT_ARRAY | VT_BSTR);
  LONG ub = 0;
  SafeArrayGetUBound(list.parray, 1, &ub);
  EXPECT_EQ(ub, 1);
  LONG i = 1;
  BSTR second = nullptr;
  SafeArrayGetElement(list.parray, &i, &second);
  EXPECT_EQ(vkr::View(second), u"1;Ein\u00E4");
  SysFreeString(second);

  const char* none[] = {""};
  VARIANT empty = MakeEnumList(none);
  EXPECT_EQ(empty.vt, VT_EMPTY);
  EXPECT_EQ(MakeEnumList(nullptr).vt, VT_EMPTY);
}

}  // namespace

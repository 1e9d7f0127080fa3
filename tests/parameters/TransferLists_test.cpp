// The upload and download lists: their members in order, their definition on a list service, and
// their members against the device table's addresses.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "parameters/DeviceParameterTable.h"
#include "parameters/TransferLists.h"
#include "tests/support/definition_fixture.h"
#include "tests/support/stub_dispatch.h"

namespace {

// A list service that keeps root lists by name, as far as defining lists needs it; what defining
// lists does not use answers E_NOTIMPL. Calls to CreateList and AddMembers can be made to fail.
class FakeLists : public IovFDTParamList {
 public:
  std::vector<std::u16string> order;
  std::map<std::u16string, std::vector<vkr::Variant>> lists;
  int createCalls = 0, memberCalls = 0;
  int failMemberCall = 0;  // 1-based; 0: none
  HRESULT failWith = E_OUTOFMEMORY;
  bool refuseMembers = false;

  std::vector<ULONG> Members(const std::u16string& name) const {
    std::vector<ULONG> ids;
    auto it = lists.find(name);
    if (it == lists.end()) return ids;
    for (const vkr::Variant& v : it->second) ids.push_back(v.vt == VT_UI4 ? v.ulVal : 0xDEAD);
    return ids;
  }

  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  VKR_NO_DISPATCH

  HRESULT CreateList(VARIANT key, VARIANT parentKey, VARIANT names, VARIANT values, VARIANT_BOOL* result) override {
    ++createCalls;
    if (!result) return E_INVALIDARG;
    *result = VARIANT_FALSE;
    EXPECT_EQ(key.vt, VT_BSTR);
    EXPECT_EQ(parentKey.vt, VT_EMPTY);
    EXPECT_EQ(names.vt, VT_EMPTY);
    EXPECT_EQ(values.vt, VT_EMPTY);
    const std::u16string name(key.bstrVal ? key.bstrVal : u"");
    if (lists.count(name)) return S_FALSE;
    lists[name];
    order.push_back(name);
    *result = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT AddMembers(VARIANT key, VARIANT members, VARIANT_BOOL* result) override {
    ++memberCalls;
    if (!result) return E_INVALIDARG;
    *result = VARIANT_FALSE;
    if (memberCalls == failMemberCall) return failWith;
    if (members.vt != (VT_ARRAY | VT_VARIANT) || !members.parray) return E_INVALIDARG;
    auto it = lists.find(std::u16string(key.bstrVal ? key.bstrVal : u""));
    if (it == lists.end() || refuseMembers) return S_FALSE;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(members.parray, 1, &lo);
    SafeArrayGetUBound(members.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
      vkr::Variant v;
      HRESULT hr = SafeArrayGetElement(members.parray, &i, v.Put());
      if (FAILED(hr)) return hr;
      it->second.push_back(v);
    }
    *result = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT DeleteList(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ListExists(VARIANT, VARIANT_BOOL*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetChildLists(VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT RemoveMembers(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetMembers(VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetProperties(VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetProperties(VARIANT, VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

// The lists with the HART command that moves each member.
struct Member {
  ULONG id;
  ULONG command;
};
const Member kUpload[] = {{1031, 3},  {1048, 3},  {1049, 3},  {1050, 3},   {1051, 12},  {1052, 13},
                          {1054, 13}, {1055, 13}, {1056, 13}, {1057, 13},  {1058, 13},  {1029, 1},
                          {1030, 2},  {1033, 15}, {1059, 135}, {1061, 137}, {1097, 20}};
const Member kDownload[] = {{1051, 17},  {1053, 18},  {1054, 18},  {1055, 18},  {1056, 18},
                            {1057, 18},  {1058, 18},  {1097, 22},  {1024, 44},  {1064, 136},
                            {1066, 136}, {1068, 136}, {1070, 136}, {1071, 136}, {1074, 138},
                            {1076, 138}, {1078, 138}, {1080, 138}, {1022, 34},  {1023, 35}};

template <std::size_t N>
std::vector<ULONG> Ids(const Member (&members)[N]) {
  std::vector<ULONG> ids;
  for (const Member& m : members) ids.push_back(m.id);
  return ids;
}

TEST(TransferLists, BothListsHoldTheirIdsInOrder) {
  FakeLists lists;
  ASSERT_EQ(InitTransferLists(&lists), S_OK);
  EXPECT_EQ(lists.order, (std::vector<std::u16string>{u"UploadList", u"DownloadList"}));
  EXPECT_EQ(lists.Members(u"UploadList"), Ids(kUpload));
  EXPECT_EQ(lists.Members(u"DownloadList"), Ids(kDownload));
  EXPECT_EQ(lists.memberCalls, 37);  // one call per id
}

TEST(TransferLists, DefiningThemAgainFailsAtOnceAndAddsNothing) {
  FakeLists lists;
  ASSERT_EQ(InitTransferLists(&lists), S_OK);
  const int calls = lists.memberCalls;
  EXPECT_EQ(InitTransferLists(&lists), E_FAIL);
  EXPECT_EQ(lists.createCalls, 3);
  EXPECT_EQ(lists.memberCalls, calls);
  EXPECT_EQ(lists.Members(u"UploadList").size(), 17u);
}

TEST(TransferLists, AFailingMemberStopsTheDefinitionAndKeepsWhatWasAdded) {
  FakeLists lists;
  lists.failMemberCall = 20;  // the third member of the download list
  EXPECT_EQ(InitTransferLists(&lists), E_OUTOFMEMORY);
  EXPECT_EQ(lists.memberCalls, 20);
  EXPECT_EQ(lists.Members(u"UploadList").size(), 17u);
  EXPECT_EQ(lists.Members(u"DownloadList"), (std::vector<ULONG>{1051, 1053}));
}

TEST(TransferLists, AMemberTheServiceDoesNotTakeIsAFailure) {
  FakeLists lists;
  lists.refuseMembers = true;
  EXPECT_EQ(InitTransferLists(&lists), E_FAIL);
  EXPECT_EQ(lists.memberCalls, 1);
  EXPECT_EQ(lists.order.size(), 1u);
}

TEST(TransferLists, WithoutAServiceNothingHappens) {
  EXPECT_EQ(InitTransferLists(nullptr), E_POINTER);
  EXPECT_EQ(AddParameterList(nullptr, u"L", nullptr), E_POINTER);
  EXPECT_EQ(AddParameterListMember(nullptr, u"L", 1), E_POINTER);
}

TEST(TransferLists, MemberOfAnUnknownList) {
  FakeLists lists;
  EXPECT_EQ(AddParameterListMember(&lists, u"Nowhere", 1051), E_FAIL);
}

TEST(MakeSingleIdArray, OneUI4Element) {
  vkr::Variant out;
  out.vt = VT_I4;  // cleared first
  ASSERT_EQ(MakeSingleIdArray(1051, out.Put()), S_OK);
  ASSERT_EQ(out.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(SafeArrayGetDim(out.parray), 1u);
  LONG lo = -1, hi = -1;
  SafeArrayGetLBound(out.parray, 1, &lo);
  SafeArrayGetUBound(out.parray, 1, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 0);
  vkr::Variant element;
  LONG index = 0;
  ASSERT_EQ(SafeArrayGetElement(out.parray, &index, element.Put()), S_OK);
  EXPECT_EQ(element.vt, VT_UI4);
  EXPECT_EQ(element.ulVal, 1051u);
}

TEST(MakeSingleIdArray, Refusals) {
  EXPECT_EQ(MakeSingleIdArray(1, nullptr), E_INVALIDARG);
  vkr::Variant out;
  ASSERT_EQ(MakeSingleIdArray(7, out.Put()), S_OK);
  vkr::platform::SetAllocationFault(1);
  const HRESULT hr = MakeSingleIdArray(8, &out);
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(hr, E_POINTER);
  EXPECT_EQ(out.vt, VT_EMPTY);  // the old array was freed, nothing new stored
}

// Every upload member can be read from the device with the command its list names, every download
// member written with its command.
TEST(TransferLists, MembersMoveWithTheirCommands) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  vkr::test::StackParameterHandler handler{&site};
  CParamCollection collection;
  ASSERT_EQ(InitDeviceParameterTable(handler, &collection, nullptr), S_OK);
  std::size_t n = 0;
  const vkr::DeviceParameterRow* rows = vkr::GetDeviceParameterRows(&n);
  auto rowOf = [&](ULONG id) -> const vkr::DeviceParameterRow* {
    for (std::size_t i = 0; i < n; ++i)
      if (rows[i].id == id) return &rows[i];
    return nullptr;
  };
  for (const Member& m : kUpload) {
    const ParInfo* r = collection.FindById(m.id);
    const vkr::DeviceParameterRow* row = rowOf(m.id);
    ASSERT_TRUE(r && row) << m.id;
    EXPECT_TRUE(r->m_dwFlags & PFL_READABLE) << m.id;
    ASSERT_TRUE(row->addressed) << m.id;
    EXPECT_EQ(row->address.readCommand, m.command) << m.id;
    EXPECT_NE(vkr::test::Text(r->m_vAddress).find("service=\"read\" command=\"" + std::to_string(m.command) + "\""),
              std::string::npos)
        << m.id;
  }
  for (const Member& m : kDownload) {
    const ParInfo* r = collection.FindById(m.id);
    const vkr::DeviceParameterRow* row = rowOf(m.id);
    ASSERT_TRUE(r && row) << m.id;
    EXPECT_TRUE(r->m_dwFlags & PFL_WRITABLE) << m.id;
    ASSERT_TRUE(row->addressed) << m.id;
    EXPECT_EQ(row->address.writeCommand, m.command) << m.id;
    EXPECT_NE(vkr::test::Text(r->m_vAddress).find("service=\"write\" command=\"" + std::to_string(m.command) + "\""),
              std::string::npos)
        << m.id;
  }
}

}  // namespace

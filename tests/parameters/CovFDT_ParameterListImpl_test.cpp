// The named parameter lists: creation, the tree of parents and children, members, properties,
// key equality, refusals, and running out of memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/CovFDT_ParameterListImpl.h"
#include "parameters/TransferLists.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

struct IListHost : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("9E5B3C21-7A0D-4C55-8E61-2B7F0A9C4D13");
  using Base = IUnknown;
};

// Carries the lists the way the DTM object does.
class CListHost : public vkr::Implements<IListHost>, public CovFDT_ParameterListImpl {
 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override { return QueryListInterface(riid, ppv); }
};

vkr::Variant Key(const char16_t* name) { return Text(name); }
vkr::Variant Empty() { return vkr::Variant(); }

// The elements of a VARIANT array as texts of their values ("<empty>" for VT_EMPTY), or the VARIANT's
// own description when it is no array.
std::vector<std::string> Items(const VARIANT& v) {
  if (v.vt == VT_EMPTY) return {"<no array>"};
  std::vector<std::string> out;
  if (v.vt != (VT_ARRAY | VT_VARIANT)) return {"<type " + std::to_string(v.vt) + ">"};
  LONG lb = 0, ub = -1;
  SafeArrayGetLBound(v.parray, 1, &lb);
  SafeArrayGetUBound(v.parray, 1, &ub);
  for (LONG i = lb; i <= ub; ++i) {
    vkr::Variant e;
    SafeArrayGetElement(v.parray, &i, e.Put());
    if (e.vt == VT_EMPTY) {
      out.push_back("<empty>");
      continue;
    }
    vkr::Variant text;
    if (FAILED(VariantChangeType(&text, &e, 0, VT_BSTR))) {
      out.push_back("<?>");
      continue;
    }
    out.push_back(Utf8(text.bstrVal));
  }
  return out;
}

using Strings = std::vector<std::string>;

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vkr::MakeObject<CListHost>(&host), S_OK); }

  bool Create(const VARIANT& key, const VARIANT& parent = Empty()) {
    VARIANT_BOOL done = VARIANT_FALSE;
    const HRESULT hr = host->CreateList(key, parent, Empty(), Empty(), &done);
    EXPECT_EQ(hr, done ? S_OK : S_FALSE);
    return done != VARIANT_FALSE;
  }
  bool Exists(const VARIANT& key) {
    VARIANT_BOOL exists = VARIANT_FALSE, ok = VARIANT_FALSE;
    EXPECT_EQ(host->ListExists(key, &exists, &ok), S_OK);
    EXPECT_TRUE(ok);
    return exists != VARIANT_FALSE;
  }
  Strings Children(const VARIANT& key) {
    vkr::Variant keys;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetChildLists(key, &keys, &ok), S_OK);
    EXPECT_TRUE(ok);
    return Items(keys);
  }
  Strings Members(const VARIANT& key) {
    vkr::Variant members;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetMembers(key, &members, &ok), S_OK);
    EXPECT_TRUE(ok);
    return Items(members);
  }
  Strings Properties(const VARIANT& key, std::initializer_list<vkr::Variant> names) {
    vkr::Variant values;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetProperties(key, Array(VT_VARIANT, names), &values, &ok), S_OK);
    EXPECT_TRUE(ok);
    return Items(values);
  }

  vkr::ComPtr<vkr::ComObject<CListHost>> host;
};

TEST_F(ListTest, TheServiceComesFromTheCarryingObject) {
  vkr::ComPtr<IUnknown> unknown;
  ASSERT_EQ(host->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
  vkr::ComPtr<IovFDTParamList> lists;
  ASSERT_EQ(unknown.As(&lists), S_OK);
  EXPECT_TRUE(lists.IsSameObject(unknown.Get()));
  // The upload and download lists are defined on it as on any list service.
  ASSERT_EQ(InitTransferLists(lists.Get()), S_OK);
  EXPECT_EQ(Children(Empty()), (Strings{"UploadList", "DownloadList"}));
  Strings upload = Members(Key(u"UploadList"));
  ASSERT_EQ(upload.size(), 17u);
  EXPECT_EQ(upload.front(), "1031");
  EXPECT_EQ(upload.back(), "1097");
}

TEST_F(ListTest, AnExistingKeyOrAnUnknownParentCreatesNothing) {
  ASSERT_TRUE(Create(Key(u"A")));
  EXPECT_FALSE(Create(Key(u"A")));
  EXPECT_FALSE(Create(Key(u"B"), Key(u"Nowhere")));
  EXPECT_FALSE(Exists(Key(u"B")));
  EXPECT_EQ(Children(Empty()), (Strings{"A"}));
  // An empty key names no list: it would be the parent of every root list, its own included.
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(host->CreateList(Empty(), Empty(), Empty(), Empty(), &done), E_INVALIDARG);
  EXPECT_FALSE(done);
}

TEST_F(ListTest, KeysCompareByTypeAndValue) {
  struct Case {
    const char* what;
    vkr::Variant stored, asked;
    bool same;
  };
  const Case cases[] = {
      {"same text", Text(u"List"), Text(u"List"), true},
      {"text case differs", Text(u"List"), Text(u"list"), false},
      {"same integer", I4(5), I4(5), true},
      {"I4 and UI4 of one value", I4(5), UI4(5), false},
      {"number and its text", I4(5), Text(u"5"), false},
      {"two nulls", Null(), Null(), true},
      {"null and empty text", Null(), Text(u""), false},
      {"R8 values", R8(0.5), R8(0.5), true},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_TRUE(Create(c.stored)) << c.what;
    EXPECT_EQ(Exists(c.asked), c.same) << c.what;
    // The same rule finds the parent of a new list.
    vkr::Variant child = Text(u"child");
    EXPECT_EQ(Create(child, c.asked), c.same) << c.what;
  }
}

TEST_F(ListTest, ChildListsInOrderAndRootsByAnEmptyKey) {
  ASSERT_TRUE(Create(Key(u"WORKING_COPY")));
  ASSERT_TRUE(Create(Key(u"UploadList"), Key(u"WORKING_COPY")));
  ASSERT_TRUE(Create(Key(u"Other")));
  ASSERT_TRUE(Create(Key(u"DownloadList"), Key(u"WORKING_COPY")));
  ASSERT_TRUE(Create(I4(7), Key(u"DownloadList")));
  EXPECT_EQ(Children(Key(u"WORKING_COPY")), (Strings{"UploadList", "DownloadList"}));
  EXPECT_EQ(Children(Empty()), (Strings{"WORKING_COPY", "Other"}));
  EXPECT_EQ(Children(Key(u"DownloadList")), (Strings{"7"}));
  // No children, or a key no list has: VT_EMPTY, still done.
  EXPECT_EQ(Children(Key(u"UploadList")), (Strings{"<no array>"}));
  EXPECT_EQ(Children(Key(u"Nowhere")), (Strings{"<no array>"}));
}

TEST_F(ListTest, DeletingAListDeletesItsChildrenFirst) {
  ASSERT_TRUE(Create(Key(u"Root")));
  ASSERT_TRUE(Create(Key(u"A"), Key(u"Root")));
  ASSERT_TRUE(Create(Key(u"A1"), Key(u"A")));
  ASSERT_TRUE(Create(Key(u"B"), Key(u"Root")));
  ASSERT_TRUE(Create(Key(u"Keep")));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(host->DeleteList(Key(u"Root"), &done), S_OK);
  EXPECT_TRUE(done);
  for (const char16_t* gone : {u"Root", u"A", u"A1", u"B"}) EXPECT_FALSE(Exists(Key(gone))) << Utf8(gone);
  EXPECT_EQ(Children(Empty()), (Strings{"Keep"}));
  // Deleting a child leaves its parent.
  ASSERT_TRUE(Create(Key(u"C"), Key(u"Keep")));
  ASSERT_EQ(host->DeleteList(Key(u"C"), &done), S_OK);
  EXPECT_TRUE(Exists(Key(u"Keep")));
  // The key is free again.
  EXPECT_TRUE(Create(Key(u"Root")));
}

TEST_F(ListTest, MembersKeepOrderAndDuplicates) {
  ASSERT_TRUE(Create(Key(u"L")));
  EXPECT_EQ(Members(Key(u"L")), (Strings{"<no array>"}));  // empty list: VT_EMPTY, done
  VARIANT_BOOL done = VARIANT_FALSE;
  // Elements are read from the array's own lower bound.
  ASSERT_EQ(host->AddMembers(Key(u"L"), Array(VT_VARIANT, {UI4(3), UI4(1), UI4(3)}, 5), &done), S_OK);
  EXPECT_TRUE(done);
  ASSERT_EQ(host->AddMembers(Key(u"L"), Array(VT_VARIANT, {I4(1), Text(u"x")}), &done), S_OK);
  EXPECT_EQ(Members(Key(u"L")), (Strings{"3", "1", "3", "1", "x"}));
  vkr::Variant members;
  ASSERT_EQ(host->GetMembers(Key(u"L"), &members, &done), S_OK);
  LONG lb = -1;
  SafeArrayGetLBound(members.parray, 1, &lb);
  EXPECT_EQ(lb, 0);
}

TEST_F(ListTest, RemovingMembersTakesEveryEqualOne) {
  ASSERT_TRUE(Create(Key(u"L")));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(host->AddMembers(Key(u"L"), Array(VT_VARIANT, {UI4(3), UI4(1), UI4(3), I4(3), UI4(2)}), &done), S_OK);
  // Nothing equal (I4 2 is not UI4 2): success without a change, done false.
  EXPECT_EQ(host->RemoveMembers(Key(u"L"), Array(VT_VARIANT, {I4(2), UI4(9)}), &done), S_OK);
  EXPECT_FALSE(done);
  EXPECT_EQ(Members(Key(u"L")), (Strings{"3", "1", "3", "3", "2"}));
  EXPECT_EQ(host->RemoveMembers(Key(u"L"), Array(VT_VARIANT, {UI4(3), UI4(9)}), &done), S_OK);
  EXPECT_TRUE(done);
  EXPECT_EQ(Members(Key(u"L")), (Strings{"1", "3", "2"}));  // the I4 3 stays
}

TEST_F(ListTest, PropertiesAreSetReplacedAndRead) {
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(host->CreateList(Key(u"L"), Empty(), Array(VT_VARIANT, {Text(u"name"), Text(u"type")}),
                             Array(VT_VARIANT, {Text(u"Upload"), Text(u"base")}, 1), &done),
            S_OK);
  ASSERT_TRUE(done);
  EXPECT_EQ(Properties(Key(u"L"), {Text(u"type"), Text(u"missing"), Text(u"name")}),
            (Strings{"base", "<empty>", "Upload"}));
  // A name already there takes the new value; the operation still succeeds.
  ASSERT_EQ(host->SetProperties(Key(u"L"), Array(VT_VARIANT, {Text(u"type"), I4(3)}),
                                Array(VT_VARIANT, {Text(u"special"), Text(u"three")}), &done),
            S_OK);
  EXPECT_TRUE(done);
  EXPECT_EQ(Properties(Key(u"L"), {Text(u"type"), I4(3), Text(u"TYPE")}), (Strings{"special", "three", "<empty>"}));
  // No names: an empty array, done.
  vkr::Variant values;
  ASSERT_EQ(host->GetProperties(Key(u"L"), Array(VT_VARIANT, {}), &values, &done), S_OK);
  EXPECT_EQ(values.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_TRUE(Items(values).empty());
}

TEST_F(ListTest, NamesThatAreNoArrayCreateTheListWithoutProperties) {
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(host->CreateList(Key(u"L"), Empty(), Text(u"name"), Text(u"x"), &done), S_OK);
  EXPECT_TRUE(done);
  EXPECT_EQ(Properties(Key(u"L"), {Text(u"name")}), (Strings{"<empty>"}));
}

TEST_F(ListTest, MalformedPropertyArraysAreRefused) {
  VARIANT_BOOL done = VARIANT_TRUE;
  // Different lengths, values no array, or an empty name: the list is not made.
  EXPECT_EQ(host->CreateList(Key(u"L"), Empty(), Array(VT_VARIANT, {Text(u"a"), Text(u"b")}),
                             Array(VT_VARIANT, {Text(u"1")}), &done),
            E_INVALIDARG);
  EXPECT_EQ(host->CreateList(Key(u"L"), Empty(), Array(VT_VARIANT, {Text(u"a")}), Text(u"1"), &done), E_INVALIDARG);
  EXPECT_EQ(host->CreateList(Key(u"L"), Empty(), Array(VT_VARIANT, {Empty()}), Array(VT_VARIANT, {Text(u"1")}), &done),
            E_UNEXPECTED);
  EXPECT_FALSE(done);
  EXPECT_FALSE(Exists(Key(u"L")));
  // On an existing list a failure keeps what was set before it.
  ASSERT_TRUE(Create(Key(u"L")));
  EXPECT_EQ(host->SetProperties(Key(u"L"), Array(VT_VARIANT, {Text(u"a"), Empty(), Text(u"c")}),
                                Array(VT_VARIANT, {Text(u"1"), Text(u"2"), Text(u"3")}), &done),
            E_UNEXPECTED);
  EXPECT_FALSE(done);
  EXPECT_EQ(Properties(Key(u"L"), {Text(u"a"), Text(u"c")}), (Strings{"1", "<empty>"}));
  // Members that are no VARIANT array.
  EXPECT_EQ(host->AddMembers(Key(u"L"), UI4(1), &done), E_INVALIDARG);
  EXPECT_EQ(host->AddMembers(Key(u"L"), Array(VT_UI4, {UI4(1)}), &done), E_INVALIDARG);
  EXPECT_EQ(host->RemoveMembers(Key(u"L"), Text(u"1"), &done), E_INVALIDARG);
  vkr::Variant values;
  EXPECT_EQ(host->GetProperties(Key(u"L"), Text(u"a"), &values, &done), E_INVALIDARG);
  EXPECT_EQ(Members(Key(u"L")), (Strings{"<no array>"}));
}

TEST_F(ListTest, UnknownKeysAreNotDoneWithoutError) {
  const vkr::Variant nowhere = Key(u"Nowhere");
  const vkr::Variant names = Array(VT_VARIANT, {Text(u"a")});
  VARIANT_BOOL done = VARIANT_TRUE;
  vkr::Variant out;
  EXPECT_EQ(host->DeleteList(nowhere, &done), S_FALSE);
  EXPECT_FALSE(done);
  done = VARIANT_TRUE;
  EXPECT_EQ(host->AddMembers(nowhere, names, &done), S_FALSE);
  EXPECT_FALSE(done);
  done = VARIANT_TRUE;
  EXPECT_EQ(host->RemoveMembers(nowhere, names, &done), S_FALSE);
  EXPECT_FALSE(done);
  done = VARIANT_TRUE;
  EXPECT_EQ(host->GetMembers(nowhere, &out, &done), S_FALSE);
  EXPECT_FALSE(done);
  done = VARIANT_TRUE;
  EXPECT_EQ(host->SetProperties(nowhere, names, names, &done), S_FALSE);
  EXPECT_FALSE(done);
  done = VARIANT_TRUE;
  EXPECT_EQ(host->GetProperties(nowhere, names, &out, &done), S_FALSE);
  EXPECT_FALSE(done);
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST_F(ListTest, NullOutPointersAreRefused) {
  ASSERT_TRUE(Create(Key(u"L")));
  const vkr::Variant key = Key(u"L");
  const vkr::Variant names = Array(VT_VARIANT, {Text(u"a")});
  vkr::Variant out;
  VARIANT_BOOL flag = VARIANT_FALSE;
  EXPECT_EQ(host->CreateList(Key(u"M"), Empty(), Empty(), Empty(), nullptr), E_INVALIDARG);
  EXPECT_EQ(host->DeleteList(key, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->ListExists(key, nullptr, &flag), E_INVALIDARG);
  EXPECT_EQ(host->ListExists(key, &flag, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->GetChildLists(key, nullptr, &flag), E_INVALIDARG);
  EXPECT_EQ(host->GetChildLists(key, &out, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->AddMembers(key, names, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->RemoveMembers(key, names, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->GetMembers(key, nullptr, &flag), E_INVALIDARG);
  EXPECT_EQ(host->GetMembers(key, &out, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->SetProperties(key, names, names, nullptr), E_INVALIDARG);
  EXPECT_EQ(host->GetProperties(key, names, nullptr, &flag), E_INVALIDARG);
  EXPECT_EQ(host->GetProperties(key, names, &out, nullptr), E_INVALIDARG);
  EXPECT_FALSE(Exists(Key(u"M")));
  EXPECT_EQ(host->SetListProperty(nullptr, Text(u"a"), Text(u"b")), E_INVALIDARG);
  EXPECT_EQ(host->SetListProperties(nullptr, names, names), E_INVALIDARG);
}

// Every allocation of a scenario fails in turn: each call either succeeds or reports the failure,
// nothing leaks (the sanitizer build checks), and a list that was not made is not there.
TEST_F(ListTest, RunningOutOfMemory) {
  for (unsigned n = 1; n < 200; ++n) {
    SetUp();
    VARIANT_BOOL done = VARIANT_FALSE;
    const vkr::Variant key = Key(u"L"), names = Array(VT_VARIANT, {Text(u"name"), Text(u"path")}),
                       values = Array(VT_VARIANT, {Text(u"N"), Text(u"P")}),
                       members = Array(VT_VARIANT, {UI4(1), Text(u"two")});
    vkr::Variant out;
    vkr::platform::SetAllocationFault(n);
    HRESULT hr = host->CreateList(key, Empty(), names, values, &done);
    if (SUCCEEDED(hr)) hr = host->AddMembers(key, members, &done);
    if (SUCCEEDED(hr)) hr = host->GetMembers(key, &out, &done);
    if (SUCCEEDED(hr)) hr = host->GetProperties(key, names, &out, &done);
    if (SUCCEEDED(hr)) hr = host->GetChildLists(Empty(), &out, &done);
    const unsigned counted = vkr::platform::AllocationsSinceFaultArmed();
    vkr::platform::SetAllocationFault(0);
    if (SUCCEEDED(hr)) {
      EXPECT_LT(counted, n) << "the fault was not reached";
      EXPECT_EQ(Items(out), (Strings{"L"}));
      return;
    }
    EXPECT_FALSE(done) << n;
    EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == E_FAIL) << std::hex << hr << " at " << std::dec << n;
  }
  FAIL() << "the scenario never succeeded";
}

}  // namespace

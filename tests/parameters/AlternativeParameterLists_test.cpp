// The alternative parameter lists: which lists are copied for the device type, what a copy holds,
// and the tree of copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/AlternativeParameterLists.h"
#include "parameters/CovFDT_ParameterListImpl.h"
#include "tests/support/variant_values.h"

using namespace vkr::test;

namespace {

struct IListHost : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("2C4F6D1A-8B3E-4E79-A0C5-7D9E1B2F3A46");
  using Base = IUnknown;
};
class CListHost : public vkr::Implements<IListHost>, public CovFDT_ParameterListImpl {};

using Strings = std::vector<std::string>;

constexpr const char16_t* kDeviceType =
    u"<fdt:DtmDeviceType xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" deviceTypeId=\"VKR-HART\">"
    u"<fdt:VersionInformation name=\"VORN VKR HART DTM\" vendor=\"Vorntec\" version=\"2.1.1\"/></fdt:DtmDeviceType>";
constexpr const char16_t* kUnnamedDeviceType =
    u"<fdt:DtmDeviceType xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:VersionInformation/></fdt:DtmDeviceType>";

class AlternativeLists : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<CListHost>(&host), S_OK);
    Create(u"WORKING_COPY", nullptr, {});
    Create(u"UploadList", u"WORKING_COPY",
           {{u"devicetype", u"VORN VKR HART DTM"}, {u"name", u"Upload"}, {u"path", u"a/b"}, {u"treegroup_id", u"3"},
            {u"other", u"not copied"}});
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(host->AddMembers(Text(u"UploadList"), Array(VT_VARIANT, {UI4(1031), UI4(1048), UI4(1031)}), &done), S_OK);
    Create(u"Base", u"UploadList", {{u"devicetype", u"Other DTM"}, {u"type", u"base"}});
    Create(u"Foreign", u"UploadList", {{u"devicetype", u"Other DTM"}, {u"type", u"special"}});
    Create(u"Untyped", u"UploadList", {});
    Create(u"Inner", u"Base", {{u"devicetype", u"VORN VKR HART DTM"}});
  }
  void TearDown() override {
    host = nullptr;
    CoUninitialize();
  }

  void Create(const char16_t* key, const char16_t* parent, std::vector<std::pair<const char16_t*, const char16_t*>> props) {
    vkr::Variant names, values;
    if (!props.empty()) {
      names.vt = VT_ARRAY | VT_VARIANT;
      names.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(props.size()));
      values.vt = VT_ARRAY | VT_VARIANT;
      values.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(props.size()));
      for (LONG i = 0; i < static_cast<LONG>(props.size()); ++i) {
        vkr::Variant n = Text(props[static_cast<size_t>(i)].first), v = Text(props[static_cast<size_t>(i)].second);
        SafeArrayPutElement(names.parray, &i, &n);
        SafeArrayPutElement(values.parray, &i, &v);
      }
    }
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(host->CreateList(Text(key), parent ? Text(parent) : vkr::Variant(), names, values, &done), S_OK)
        << Utf8(key);
  }
  HRESULT Copy(const char16_t* source, const char16_t* parent, const char16_t* target,
               const char16_t* deviceType = kDeviceType) {
    vkr::Bstr text(deviceType);
    IovFDTParamList* lists = host.Get();
    calls.clear();
    AlternativeParamListRecursion recurse = [&](VARIANT s, VARIANT p, VARIANT t) -> HRESULT {
      calls.push_back(Utf8(TextOf(s)) + " " + Utf8(TextOf(p)) + " " + Utf8(TextOf(t)));
      return CopyAlternativeParamList(lists, text.Get(), s, p, t, recurse);
    };
    return CopyAlternativeParamList(lists, text.Get(), Text(source), parent ? Text(parent) : vkr::Variant(),
                                    target ? Text(target) : vkr::Variant(), recurse);
  }
  bool Exists(const char16_t* key) {
    VARIANT_BOOL exists = VARIANT_FALSE, ok = VARIANT_FALSE;
    EXPECT_EQ(host->ListExists(Text(key), &exists, &ok), S_OK);
    return exists != VARIANT_FALSE;
  }
  static Strings Items(const VARIANT& v) {
    Strings out;
    if (v.vt != (VT_ARRAY | VT_VARIANT)) return out;
    LONG lb = 0, ub = -1;
    SafeArrayGetLBound(v.parray, 1, &lb);
    SafeArrayGetUBound(v.parray, 1, &ub);
    for (LONG i = lb; i <= ub; ++i) {
      vkr::Variant e, t;
      SafeArrayGetElement(v.parray, &i, e.Put());
      if (e.vt == VT_EMPTY) {
        out.push_back("<empty>");
        continue;
      }
      VariantChangeType(&t, &e, 0, VT_BSTR);
      out.push_back(Utf8(TextOf(t)));
    }
    return out;
  }
  Strings Children(const char16_t* key) {
    vkr::Variant keys;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetChildLists(Text(key), &keys, &ok), S_OK);
    return Items(keys);
  }
  Strings Members(const char16_t* key) {
    vkr::Variant members;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetMembers(Text(key), &members, &ok), S_OK);
    return Items(members);
  }
  Strings Properties(const char16_t* key) {
    vkr::Variant values;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(host->GetProperties(Text(key),
                                  Array(VT_VARIANT, {Text(u"name"), Text(u"path"), Text(u"treegroup_id"),
                                                     Text(u"devicetype"), Text(u"other")}),
                                  &values, &ok),
              S_OK);
    return Items(values);
  }

  vkr::ComPtr<vkr::ComObject<CListHost>> host;
  Strings calls;
};

TEST_F(AlternativeLists, ADialogCopyTakesTheListAndTheChildrenThatSuit) {
  ASSERT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY"), S_OK);
  EXPECT_EQ(Children(u"WORKING_COPY"), (Strings{"UploadList", "UploadList_COPY"}));
  // The descriptive properties, not the device type nor anything else; the members in order.
  EXPECT_EQ(Properties(u"UploadList_COPY"), (Strings{"Upload", "a/b", "3", "<empty>", "<empty>"}));
  EXPECT_EQ(Members(u"UploadList_COPY"), (Strings{"1031", "1048", "1031"}));
  // Children: the base list (another device's) yes, the foreign and the untyped ones no; the
  // base list's own child of this device yes.
  EXPECT_EQ(Children(u"UploadList_COPY"), (Strings{"Base_COPY"}));
  EXPECT_EQ(Children(u"Base_COPY"), (Strings{"Inner_COPY"}));
  EXPECT_FALSE(Exists(u"Foreign_COPY"));
  EXPECT_FALSE(Exists(u"Untyped_COPY"));
  // Each child went through the recursion with the copy as its parent.
  EXPECT_EQ(calls, (Strings{"Base UploadList_COPY Base_COPY", "Inner Base_COPY Inner_COPY",
                            "Foreign UploadList_COPY Foreign_COPY", "Untyped UploadList_COPY Untyped_COPY"}));
  // Empty lists make empty copies.
  EXPECT_TRUE(Members(u"Base_COPY").empty());
}

TEST_F(AlternativeLists, AListOfAnotherDeviceTypeIsPassedOverWithItsChildren) {
  Create(u"ForeignChild", u"Foreign", {{u"devicetype", u"VORN VKR HART DTM"}});
  ASSERT_EQ(Copy(u"Foreign", u"WORKING_COPY", u"Foreign_COPY"), S_OK);
  EXPECT_FALSE(Exists(u"Foreign_COPY"));
  EXPECT_FALSE(Exists(u"ForeignChild_COPY"));
  EXPECT_TRUE(calls.empty());
  // A target without "_DIALOG_COPY" (or none at all) judges the list itself.
  ASSERT_EQ(Copy(u"Foreign", u"WORKING_COPY", nullptr), S_OK);
  EXPECT_FALSE(Exists(u"Foreign_COPY"));
  ASSERT_EQ(Copy(u"Base", nullptr, u"Base_COPY"), S_OK);
  EXPECT_TRUE(Exists(u"Base_COPY"));
  EXPECT_EQ(Children(u"Base_COPY"), (Strings{"Inner_COPY"}));
}

TEST_F(AlternativeLists, ADeviceTypeWithoutNameTakesTheListsWithoutOne) {
  ASSERT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY", kUnnamedDeviceType), S_OK);
  EXPECT_EQ(Children(u"UploadList_COPY"), (Strings{"Base_COPY", "Untyped_COPY"}));
  EXPECT_FALSE(Exists(u"Inner_COPY"));  // belongs to a named device type
}

TEST_F(AlternativeLists, AnUnreadableDeviceTypeCopiesNothing) {
  EXPECT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY", u"<fdt:DtmDeviceType"), S_FALSE);
  EXPECT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY", u""), S_FALSE);
  EXPECT_FALSE(Exists(u"UploadList_COPY"));
}

TEST_F(AlternativeLists, CopyingAgainAddsNoMembers) {
  ASSERT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY"), S_OK);
  ASSERT_EQ(Copy(u"UploadList", u"WORKING_COPY", u"UploadList_DIALOG_COPY"), S_OK);
  EXPECT_EQ(Members(u"UploadList_COPY"), (Strings{"1031", "1048", "1031"}));
  EXPECT_EQ(Children(u"UploadList_COPY"), (Strings{"Base_COPY"}));
}

TEST_F(AlternativeLists, Refusals) {
  vkr::Bstr text(kDeviceType);
  EXPECT_EQ(CopyAlternativeParamList(nullptr, text.Get(), Text(u"UploadList"), vkr::Variant(), Text(u"x"), nullptr),
            E_POINTER);
  vkr::Variant unconvertible;
  unconvertible.vt = VT_UNKNOWN;
  unconvertible.punkVal = nullptr;
  EXPECT_TRUE(FAILED(CopyAlternativeParamList(host.Get(), text.Get(), unconvertible, vkr::Variant(), Text(u"x"),
                                              nullptr)));
  EXPECT_TRUE(FAILED(CopyAlternativeParamList(host.Get(), text.Get(), Text(u"UploadList"), vkr::Variant(),
                                              unconvertible, nullptr)));
  EXPECT_FALSE(Exists(u"UploadList_COPY"));
  // An unknown source: nothing to copy, no failure.
  EXPECT_EQ(CopyAlternativeParamList(host.Get(), text.Get(), Text(u"Nowhere"), vkr::Variant(),
                                     Text(u"Nowhere_DIALOG_COPY"), nullptr),
            S_OK);
  EXPECT_FALSE(Exists(u"Nowhere_COPY"));
  // Without a recursion of its own the walk recurses directly.
  EXPECT_EQ(CopyAlternativeParamList(host.Get(), text.Get(), Text(u"UploadList"), Text(u"WORKING_COPY"),
                                     Text(u"UploadList_DIALOG_COPY"), nullptr),
            S_OK);
  EXPECT_TRUE(Exists(u"Inner_COPY"));
}

}  // namespace

// The DTM object's parameter lists, its save requests and its alternative parameter lists: the
// lists are the DTM's own (one identity, one reference count), the transfer lists exist after its
// creation, the dialog copies are made for the device type, and the frame is asked to save or told
// the changed parameters as the modified flag and the save delay say.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/VornExampleDtmModule.h"
#include "frame/FrameContainer.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/temp_files.h"

namespace {

using namespace vkr::test;
using vkr::frame::FrameContainer;

// The device-type XML as InitNew keeps it: the element alone.
constexpr char16_t kDeviceType[] =
    u"<fdt:DtmDeviceType xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<fdt:VersionInformation name=\"VKR 2x\" vendor=\"Vorntec\" version=\"1.0\"/></fdt:DtmDeviceType>";

// The DTM with its device-type hooks quiet, a settable export text and a record of the alternative
// lists it was asked to prepare.
class ListsDtm : public TestDtm {
 public:
  HRESULT exportResult = S_OK;
  std::u16string exportText;
  std::vector<std::string> alternatives;  // "source parent target"

  HRESULT InitializeCommunicationProtocol() override { return S_FALSE; }
  HRESULT BuildParameterChangedText(BSTR* text) override {
    if (!text) return E_POINTER;
    *text = nullptr;
    if (FAILED(exportResult)) return exportResult;
    *text = SysAllocStringLen(exportText.data(), static_cast<UINT>(exportText.size()));
    return S_OK;
  }
  HRESULT InitAlternativeParamLists(BSTR source, BSTR parent, BSTR target) override {
    alternatives.push_back(vkr::Utf16ToUtf8(vkr::View(source)) + " " + vkr::Utf16ToUtf8(vkr::View(parent)) + " " +
                           vkr::Utf16ToUtf8(vkr::View(target)));
    return TestDtm::InitAlternativeParamLists(source, parent, target);
  }
  void SetSystemTag(LPCOLESTR tag) { m_bstrSystemTag = vkr::Bstr(tag); }
};

vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

vkr::Variant Texts(const std::vector<std::u16string>& items) {
  vkr::Variant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    vkr::Variant item = Text(items[static_cast<std::size_t>(i)].c_str());
    SafeArrayPutElement(array, &i, &item);
  }
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = array;
  return v;
}

bool Exists(IovFDTParamList* lists, const char16_t* key) {
  VARIANT_BOOL exists = VARIANT_FALSE, ok = VARIANT_FALSE;
  return SUCCEEDED(lists->ListExists(Text(key), &exists, &ok)) && exists == VARIANT_TRUE;
}

// The number of members of a list; -1 when they cannot be had.
LONG MemberCount(IovFDTParamList* lists, const char16_t* key) {
  vkr::Variant members;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (FAILED(lists->GetMembers(Text(key), &members, &ok)) || !ok) return -1;
  if (members.vt == VT_EMPTY) return 0;
  if (members.vt != (VT_ARRAY | VT_VARIANT)) return -1;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(members.parray, 1, &lower);
  SafeArrayGetUBound(members.parray, 1, &upper);
  return upper - lower + 1;
}

void MakeList(IovFDTParamList* lists, const char16_t* key, const char16_t* parent, std::vector<std::u16string> names,
              std::vector<std::u16string> values) {
  VARIANT_BOOL ok = VARIANT_FALSE;
  vkr::Variant parentKey = parent ? Text(parent) : vkr::Variant();
  ASSERT_EQ(lists->CreateList(Text(key), parentKey, Texts(names), Texts(values), &ok), S_OK);
  ASSERT_EQ(ok, VARIANT_TRUE) << vkr::Utf16ToUtf8(key);
  ASSERT_EQ(lists->AddMembers(Text(key), Texts({u"1", u"2"}), &ok), S_OK);
}

class ParameterLists : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::MakeObject<ListsDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
    dtm->SetThread(thread.Get());
    ASSERT_EQ(dtm->QueryInterface(IovFDTParamList::iid, lists.PutVoid()), S_OK);
  }
  void TearDown() override {
    lists = nullptr;
    dtm = nullptr;
    thread = nullptr;
    frame = nullptr;
    CoUninitialize();
  }
  // The DTM in a state with its frame and system tag; the data set unmodified and undelayed.
  void InState(EDtmState state, bool withFrame = true) {
    dtm->SetContainer(withFrame ? frame.Get() : nullptr);
    dtm->SetSystemTag(u"VKR-1");
    dtm->ForceState(dsCONFIGURED);
    ASSERT_EQ(dtm->SetDataSetModified(FALSE), S_OK);
    dtm->ForceState(state);
    frame->notifications.clear();
    journal.Clear();
  }
  std::vector<std::string> Saves() const {
    std::vector<std::string> out;
    for (const std::string& n : frame->notifications)
      if (n.rfind("save", 0) == 0) out.push_back(n);
    return out;
  }

  Journal journal;
  vkr::ComPtr<vkr::ComObject<ListsDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
  vkr::ComPtr<IovFDTParamList> lists;
};

// ---- The lists are the DTM's ----------------------------------------------------------------

TEST_F(ParameterLists, TheListsShareTheDtmsIdentityAndKeepItAlive) {
  vkr::ComPtr<IUnknown> identity, back;
  ASSERT_EQ(dtm->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  ASSERT_EQ(lists->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
  EXPECT_EQ(back.Get(), identity.Get());
  vkr::ComPtr<IovFdtBaseDTM> base;
  EXPECT_EQ(lists->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid()), S_OK);
  // The lists hold the DTM: they work after every other reference is gone.
  identity = nullptr;
  back = nullptr;
  base = nullptr;
  dtm = nullptr;
  EXPECT_TRUE(Exists(lists.Get(), u"UploadList"));
}

TEST_F(ParameterLists, TheTransferListsExistAfterCreation) {
  const struct {
    const char16_t* key;
    LONG members;
  } cases[] = {{u"UploadList", 17}, {u"DownloadList", 20}};
  for (const auto& c : cases) {
    EXPECT_TRUE(Exists(lists.Get(), c.key)) << vkr::Utf16ToUtf8(c.key);
    EXPECT_EQ(MemberCount(lists.Get(), c.key), c.members) << vkr::Utf16ToUtf8(c.key);
  }
}

TEST_F(ParameterLists, TheDtmCreatedByItsFactoryAnswersTheLists) {
  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  vkr::ComPtr<IClassFactory> factory;
  vkr::ComPtr<IovFDTParamList> own;
  ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, factory.PutVoid()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IovFDTParamList::iid, own.PutVoid()), S_OK);
  EXPECT_EQ(MemberCount(own.Get(), u"UploadList"), 17);
  EXPECT_EQ(MemberCount(own.Get(), u"DownloadList"), 20);
}

// ---- The device type's working copies ---------------------------------------------------------

TEST_F(ParameterLists, TheDeviceTypeGetsWorkingCopiesOfTheListsThatSuitIt) {
  // A dialog tree: the dialog copy is made whatever its device type; below it only the lists of
  // this device type and the base lists are copied.
  MakeList(lists.Get(), u"Dialog", nullptr, {u"devicetype", u"name"}, {u"Other", u"Dialog"});
  MakeList(lists.Get(), u"Mine", u"Dialog", {u"devicetype"}, {u"VKR 2x"});
  MakeList(lists.Get(), u"Theirs", u"Dialog", {u"devicetype"}, {u"Other"});
  MakeList(lists.Get(), u"Base", u"Dialog", {u"type"}, {u"base"});
  MakeList(lists.Get(), u"BelowMine", u"Mine", {u"type"}, {u"base"});
  dtm->SetDeviceType(kDeviceType);
  // S_FALSE: the answer of the protocol's initialisation, which has no protocol here.
  ASSERT_EQ(dtm->InitializeDeviceType(true), S_FALSE);

  EXPECT_TRUE(Exists(lists.Get(), u"WORKING_COPY"));
  const struct {
    const char16_t* key;
    bool copied;
  } cases[] = {{u"UploadList_COPY", true}, {u"DownloadList_COPY", true}, {u"Dialog_COPY", true},
               {u"Mine_COPY", true},       {u"Base_COPY", true},         {u"BelowMine_COPY", true},
               {u"Theirs_COPY", false}};
  for (const auto& c : cases) EXPECT_EQ(Exists(lists.Get(), c.key), c.copied) << vkr::Utf16ToUtf8(c.key);
  EXPECT_EQ(MemberCount(lists.Get(), u"UploadList_COPY"), 17);
  EXPECT_EQ(MemberCount(lists.Get(), u"Mine_COPY"), 2);

  // Every list went through the DTM's own (overridable) operation, the children with their copy
  // as parent.
  auto has = [&](const std::string& call) {
    for (const std::string& a : dtm->alternatives)
      if (a == call) return true;
    return false;
  };
  EXPECT_TRUE(has("UploadList WORKING_COPY UploadList_DIALOG_COPY"));
  EXPECT_TRUE(has("Dialog WORKING_COPY Dialog_DIALOG_COPY"));
  EXPECT_TRUE(has("Mine Dialog_COPY Mine_COPY"));
  EXPECT_TRUE(has("Theirs Dialog_COPY Theirs_COPY"));
  EXPECT_TRUE(has("BelowMine Mine_COPY BelowMine_COPY"));
  // The copies hang below the working copy, which no list of the next round copies.
  vkr::Variant children;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(lists->GetChildLists(Text(u"WORKING_COPY"), &children, &ok), S_OK);
  ASSERT_EQ(children.vt, VT_ARRAY | VT_VARIANT);
  LONG upper = -1;
  SafeArrayGetUBound(children.parray, 1, &upper);
  EXPECT_EQ(upper + 1, 3);  // UploadList_COPY, DownloadList_COPY, Dialog_COPY

  // A second round starts again from a fresh working copy.
  dtm->alternatives.clear();
  ASSERT_EQ(dtm->InitializeDeviceType(true), S_FALSE);
  EXPECT_TRUE(Exists(lists.Get(), u"WORKING_COPY"));
  EXPECT_TRUE(has("UploadList WORKING_COPY UploadList_DIALOG_COPY"));
  EXPECT_FALSE(has("WORKING_COPY WORKING_COPY WORKING_COPY_DIALOG_COPY"));
}

TEST_F(ParameterLists, AnAlternativeListOfADeviceTypeThatDoesNotLoadIsNotCopied) {
  MakeList(lists.Get(), u"Dialog", nullptr, {u"type"}, {u"base"});
  dtm->SetDeviceType(u"<not a document");
  vkr::Bstr source(u"Dialog"), parent(u"WORKING_COPY"), target(u"Dialog_DIALOG_COPY");
  EXPECT_EQ(dtm->InitAlternativeParamLists(source, parent, target), S_FALSE);
  EXPECT_FALSE(Exists(lists.Get(), u"Dialog_COPY"));
}

// ---- Save requests --------------------------------------------------------------------------

TEST_F(ParameterLists, AModifiedDataSetAsksTheFrameToSaveInTheStatesThatHaveOne) {
  const struct {
    EDtmState state;
    bool withFrame;
    bool asked;
  } cases[] = {
      {dsENVIRONMENTSET, true, false}, {dsINITIALIZED, true, false},  // a clear flag stays clear below 8
      {dsCONFIGURED, true, true},      {dsCOMMUNICATIONSET, true, true}, {dsONLINE, true, true},
      {dsCONFIGURED, false, false},
  };
  for (const auto& c : cases) {
    InState(c.state, c.withFrame);
    EXPECT_EQ(dtm->SetDataSetModified(TRUE), S_OK) << DtmStateName(c.state);
    EXPECT_EQ(Saves().size(), c.asked ? 1u : 0u) << DtmStateName(c.state) << " frame " << c.withFrame;
    if (c.asked) {
      EXPECT_EQ(Saves()[0], "save VKR-1");
    }
  }
}

TEST_F(ParameterLists, NestedDelaysEndInOneSaveRequest) {
  InState(dsCONFIGURED);
  IovFdtBaseDTM& base = *dtm;
  ASSERT_EQ(base.DelaySaveRequest(TRUE), S_OK);
  ASSERT_EQ(base.DelaySaveRequest(TRUE), S_OK);
  EXPECT_EQ(dtm->SetDataSetModified(TRUE), S_OK);
  EXPECT_EQ(dtm->SetDataSetModified(TRUE), S_OK);
  EXPECT_EQ(base.DelaySaveRequest(FALSE), S_OK);
  EXPECT_TRUE(Saves().empty());
  EXPECT_EQ(base.DelaySaveRequest(FALSE), S_OK);
  EXPECT_EQ(Saves(), std::vector<std::string>{"save VKR-1"});
  // An unbalanced end neither goes below nothing nor asks again.
  EXPECT_EQ(base.DelaySaveRequest(FALSE), S_OK);
  EXPECT_EQ(Saves().size(), 1u);
  // A delay that ends on an unmodified data set asks nothing.
  InState(dsCONFIGURED);
  base.DelaySaveRequest(TRUE);
  base.DelaySaveRequest(FALSE);
  EXPECT_TRUE(Saves().empty());
}

TEST_F(ParameterLists, TheDelayMessageOfAUserInterfaceBracketsTheSaveRequest) {
  InState(dsCONFIGURED);
  IovFdtDtmEvents& events = *dtm;
  VARIANT on;
  VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  ASSERT_EQ(events.DtmMessage(UI4(0x10017), on), S_OK);
  dtm->SetDataSetModified(TRUE);
  EXPECT_TRUE(Saves().empty());
  on.boolVal = VARIANT_FALSE;
  ASSERT_EQ(events.DtmMessage(UI4(0x10017), on), S_OK);
  EXPECT_EQ(Saves().size(), 1u);
}

TEST_F(ParameterLists, ASavedDataSetTellsTheFrameItsParametersThroughTheDtmThread) {
  InState(dsCONFIGURED);
  dtm->exportText = u"<PARAMETERS><Parameter/></PARAMETERS>";
  ASSERT_EQ(dtm->SetDataSetModified(TRUE), S_OK);
  journal.Clear();
  ASSERT_EQ(dtm->SetDataSetModified(FALSE), S_OK);
  ASSERT_EQ(journal.With("job 16").size(), 1u) << journal.Joined();
  EXPECT_EQ(journal.With("job 16")[0],
            "job 16 bstr:<?xml version=\"1.0\"?> \r\n<OnParameterChangedDocument> \r\n\t<PARAMETERS><Parameter/>"
            "</PARAMETERS> \r\n</OnParameterChangedDocument> \r\n");
}

TEST_F(ParameterLists, TheParameterDocumentIsSentOnlyWhenThereIsOneToSendAndSomebodyToTell) {
  const struct {
    const char* name;
    bool withFrame;
    const char16_t* text;
    HRESULT exportResult;
    HRESULT threadResult;
    HRESULT expected;
    bool sent;
  } cases[] = {
      {"empty text", true, u"", S_OK, S_OK, S_OK, false},
      {"no frame", false, u"<PARAMETERS/>", S_OK, S_OK, S_OK, false},
      {"export fails", true, u"", E_OUTOFMEMORY, S_OK, E_OUTOFMEMORY, false},
      {"thread fails", true, u"<PARAMETERS/>", S_OK, E_FAIL, E_FAIL, true},
  };
  for (const auto& c : cases) {
    InState(dsONLINE, c.withFrame);
    dtm->exportText = c.text;
    dtm->exportResult = c.exportResult;
    thread->jobResult = c.threadResult;
    ASSERT_EQ(dtm->SetDataSetModified(TRUE), S_OK) << c.name;
    journal.Clear();
    EXPECT_EQ(dtm->SetDataSetModified(FALSE), c.expected) << c.name;
    EXPECT_EQ(journal.With("job 16").size(), c.sent ? 1u : 0u) << c.name << ": " << journal.Joined();
    thread->jobResult = S_OK;
    dtm->exportResult = S_OK;
  }
}

}  // namespace

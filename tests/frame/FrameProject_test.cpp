// A frame project of two DTM instances of the module: the partner comparison through the frame's
// topology, another DTM's changed parameters taken over, and the frame's lock of a data set for
// another party, all as a frame drives them through the FDT interfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "frame/FrameHost.h"
#include "frame/FrameProject.h"
#include "include/ParameterHandlerInterfaces.h"
#include "parameters/ParInfo.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"

namespace {

using vkr::frame::FrameProject;
using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

constexpr char16_t kA[] = u"VKR-1";
constexpr char16_t kB[] = u"VKR-2";

class ProjectOfTwo : public testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    project = std::make_unique<FrameProject>();
    ASSERT_EQ(project->Open(kA, u"Vorn.ExampleDtm", ""), S_OK);
    ASSERT_EQ(project->Open(kB, u"Vorn.ExampleDtm", ""), S_OK);
  }
  void TearDown() override {
    if (project) {
      EXPECT_EQ(project->Close(), S_OK);
    }
    project.reset();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  template <class Q>
  vkr::ComPtr<Q> Dtm(const char16_t* tag) {
    vkr::ComPtr<Q> q;
    project->Dtm(tag)->QueryInterface(Q::iid, q.PutVoid());
    EXPECT_TRUE(q) << "the DTM does not answer the interface";
    return q;
  }
  // A persisted text parameter of the data set, whose change the partner comparison sees.
  ULONG PersistedTextParameter() {
    vkr::ComPtr<IovFdtParameterHandler4> handler = Dtm<IovFdtParameterHandler4>(kA);
    vkr::ComPtr<IovFdtParameterInfo> info = Dtm<IovFdtParameterInfo>(kA);
    ULONG count = 0;
    handler->GetParameterCount(&count);
    for (ULONG i = 0; i < count; ++i) {
      ULONG id = 0, status = 0;
      VARTYPE type = VT_EMPTY;
      if (FAILED(handler->GetParameterIdAt(static_cast<LONG>(i), &id))) continue;
      vkr::Variant value, persist, flag;
      handler->GetParameterInfoById(id, value.Put(), nullptr, &type, nullptr, nullptr, nullptr, &status);
      info->GetParameterField(vkr::UI4(id), vkr::UI4(PIF_PERSIST), persist.Put());
      VariantChangeType(flag.Ptr(), persist.Ptr(), 0, VT_I4);
      if (type == VT_BSTR && flag.vt == VT_I4 && flag.lVal != 0 && !(status & PFL_INVALID)) return id;
    }
    return 0;
  }
  static vkr::Variant Text(const char16_t* s) {
    vkr::Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  }
  std::u16string ValueIn(const char16_t* tag, ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(Dtm<IovFdtParameterHandler4>(tag)->GetParameterValue(vkr::UI4(id), v.Put()), S_OK);
    return v.vt == VT_BSTR ? std::u16string(vkr::View(v.bstrVal)) : u"?";
  }

  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  std::unique_ptr<FrameProject> project;
};

TEST_F(ProjectOfTwo, ThePartnerComparisonRunsThroughTheFramesTopology) {
  vkr::ComPtr<IDtmDiagnosis> diagnosis = Dtm<IDtmDiagnosis>(kA);
  VARIANT_BOOL result = VARIANT_FALSE;
  // A tag the project does not hold gives no partner.
  ASSERT_EQ(diagnosis->InitCompare(vkr::Bstr(u"VKR-9"), &result), S_OK);
  EXPECT_FALSE(result);
  ASSERT_EQ(diagnosis->InitCompare(vkr::Bstr(kB), &result), S_OK);
  ASSERT_TRUE(result) << "the frame offers no topology";
  EXPECT_EQ(project->notes, (std::vector<std::string>{"get VKR-9: none", "get VKR-2"}));

  // Two new data sets are the same; a change of one value in the partner is found.
  VARIANT_BOOL equal = VARIANT_FALSE;
  ASSERT_EQ(diagnosis->Compare(&equal), S_OK);
  EXPECT_TRUE(equal);
  const ULONG id = PersistedTextParameter();
  ASSERT_NE(id, 0u);
  ASSERT_EQ(Dtm<IovFdtParameterHandler4>(kB)->SetParameterValue(vkr::UI4(id), Text(u"CHANGED IN THE PARTNER")), S_OK);
  ASSERT_EQ(diagnosis->Compare(&equal), S_OK);
  EXPECT_FALSE(equal) << "parameter " << id << " differs";

  // The partner goes back to the frame, once.
  ASSERT_EQ(diagnosis->ReleaseCompare(&result), S_OK);
  EXPECT_TRUE(result);
  EXPECT_EQ(project->notes.back(), "release VKR-2");
  ASSERT_EQ(diagnosis->Compare(&equal), S_OK);
  EXPECT_FALSE(equal) << "no partner after the release";
}

TEST_F(ProjectOfTwo, AnotherDtmsChangedParametersAreTakenOver) {
  // The values another DTM announces (the parameter-changed document it sent the frame) are
  // taken into the data set.
  const ULONG id = PersistedTextParameter();
  ASSERT_NE(id, 0u);
  const std::u16string changed = u"CHANGED IN THE OTHER";
  ASSERT_NE(ValueIn(kB, id), changed);
  const std::u16string announced = u"<?xml version=\"1.0\"?> <OnParameterChangedDocument> <PARAMETERS> <Parameter id=\"" +
                                   vkr::Utf8ToUtf16(std::to_string(id)) + u"\" type=\"VT_BSTR\" value=\"" + changed +
                                   u"\"/> </PARAMETERS> </OnParameterChangedDocument>";
  ASSERT_EQ(project->SendParameterChanged(kB, kA, vkr::Bstr(announced)), S_OK);
  EXPECT_EQ(ValueIn(kB, id), changed);
  EXPECT_EQ(project->notes.back(), "parameter changed VKR-1 -> VKR-2: 0x00000000 (S_OK)");

  // A document the DTM cannot load, or whose changes it cannot take, is refused.
  vkr::ComPtr<IFdtEvents> events = Dtm<IFdtEvents>(kB);
  const struct {
    const char16_t* document;
    HRESULT expected;
  } cases[] = {
      {u"<OnParameterChangedDocument><PARAMETERS", S_FALSE},
      {u"<OnParameterChangedDocument/>", S_OK},
      // This DTM keeps no channels: their changes have no receiver.
      {u"<OnParameterChangedDocument><ChannelCollection/></OnParameterChangedDocument>", S_FALSE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(events->OnParameterChanged(vkr::Bstr(kA), vkr::Bstr(c.document)), c.expected)
        << vkr::Utf16ToUtf8(c.document);
  EXPECT_EQ(ValueIn(kB, id), changed);
}

TEST_F(ProjectOfTwo, TheFramesLockForAnotherPartyHoldsOffTheDtmsChanges) {
  vkr::ComPtr<IDtmParameter> parameters = Dtm<IDtmParameter>(kA);
  vkr::Bstr document;
  ASSERT_EQ(parameters->GetParameters(nullptr, document.Put()), S_OK);
  vkr::frame::FrameContainer* frame = project->Container(kA);

  ASSERT_EQ(project->LockDataSet(kA), S_OK);
  VARIANT_BOOL done = VARIANT_TRUE;
  // The DTM does not ask the frame for a lock it knows another party holds, and changes nothing.
  EXPECT_EQ(parameters->SetParameters(nullptr, document, &done), S_FALSE);
  EXPECT_FALSE(done);
  EXPECT_EQ(frame->lockRequests, 0);

  bool unlocked = false;
  ASSERT_EQ(project->UnlockDataSet(kA, &unlocked), S_OK);
  EXPECT_TRUE(unlocked);
  EXPECT_EQ(frame->lockRequests, 0) << "nothing of the DTM's own held the data set";
  EXPECT_EQ(parameters->SetParameters(nullptr, document, &done), S_OK);
  EXPECT_TRUE(done);
  EXPECT_EQ(frame->lockRequests, 1);
}

// What a frame does with the function list: for each function it asks which user interface opens
// it, and that class is registered under the ProgID the DTM names.
TEST_F(ProjectOfTwo, EveryListedFunctionNamesARegisteredUserInterface) {
  vkr::ComPtr<IDtm> dtm = Dtm<IDtm>(kA);
  vkr::Bstr functions;
  ASSERT_EQ(dtm->GetFunctions(vkr::Bstr(u"<FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" "
                                        u"operationPhase=\"engineering\"/>"),
                              functions.Put()),
            S_OK);
  const std::string list = vkr::Utf16ToUtf8(functions.View());
  vkr::ComPtr<IDtmActiveXInformation> info = Dtm<IDtmActiveXInformation>(kA);
  vkr::ComPtr<IDtmDocumentation> documentation = Dtm<IDtmDocumentation>(kA);
  int asked = 0;
  const std::string key = "functionId =\"";
  for (std::size_t at = list.find(key); at != std::string::npos; at = list.find(key, at + 1), ++asked) {
    const LONG id = std::stol(list.substr(at + key.size()));
    SCOPED_TRACE("function " + std::to_string(id));
    vkr::Bstr classId, progId, document;
    const vkr::Bstr call(u"<FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" xmlns:func=\"x-schema:DTMFunctionsSchema.xml\">"
                         u"<FDTFunctionCall func:functionId=\"" + vkr::Utf8ToUtf16(std::to_string(id)) + u"\"/></FDT>");
    ASSERT_EQ(info->GetActiveXGuid(call, classId.Put()), S_OK);
    ASSERT_EQ(info->GetActiveXProgId(call, progId.Put()), S_OK);
    CLSID byGuid{}, byProgId{};
    ASSERT_EQ(CLSIDFromString(classId, &byGuid), S_OK) << vkr::Utf16ToUtf8(classId.View());
    ASSERT_EQ(CLSIDFromProgID(progId, &byProgId), S_OK) << vkr::Utf16ToUtf8(progId.View());
    EXPECT_TRUE(byGuid == byProgId);
    EXPECT_EQ(documentation->GetDocumentation(call, document.Put()), S_OK);
  }
  EXPECT_GE(asked, 5) << list;
}

}  // namespace

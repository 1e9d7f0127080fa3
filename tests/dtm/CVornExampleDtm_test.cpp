// The DTM object as its class factory makes it: its interfaces, its final construction (registry
// settings, log, language, parameters, state), its function table, and failing constructions.
#include <gtest/gtest.h>

#include <filesystem>

#include "module/VornExampleDtmModule.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/temp_files.h"
#include "xml/Log.h"

namespace {

using namespace vkr::test;

constexpr char kSettings[] = "SOFTWARE\\Vorntec\\VKR Series DTM";

void SetString(const char* path, const char* name, const std::string& text) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
  RegCloseKey(h);
}
void SetDword(const char* path, const char* name, DWORD value) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
  RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(h);
}

std::string LogDirectory() {
  BSTR dir = nullptr;
  GetLogDirectory(&dir);
  std::string text = vkr::Utf16ToUtf8(vkr::View(dir));
  SysFreeString(dir);
  return text;
}

vkr::ComPtr<IUnknown> CreateDtm(HRESULT* result = nullptr) {
  vkr::ComPtr<IClassFactory> factory;
  vkr::ComPtr<IUnknown> dtm;
  HRESULT hr = DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, factory.PutVoid());
  if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IUnknown, dtm.PutVoid());
  if (result) *result = hr;
  return dtm;
}

// Every test starts from an empty registry and drive root, with the log off.
class DtmObject : public testing::Test {
 protected:
  void SetUp() override { SetLogEnabled(false); }
  void TearDown() override {
    SetLogEnabled(false);
    SetLogDirectory(nullptr);
  }
  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
};

TEST_F(DtmObject, IsCreatedInStateOneWithLanguage1033AndItsParameters) {
  HRESULT hr = E_FAIL;
  vkr::ComPtr<IUnknown> dtm = CreateDtm(&hr);
  ASSERT_EQ(hr, S_OK);
  vkr::ComPtr<IovFdtBaseDTM> base;
  ASSERT_EQ(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid()), S_OK);
  EDtmState state = dsUNDEFINED;
  ASSERT_EQ(base->GetDTMState(&state), S_OK);
  EXPECT_EQ(state, dsCREATED);
  LCID language = 0;
  ASSERT_EQ(base->GetCurLanguageId(&language), S_OK);
  EXPECT_EQ(language, 1033u);
  EXPECT_EQ(base->GetCurLanguageId(nullptr), E_INVALIDARG);
  BSTR tag = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(base->GetSystemTag(&tag), S_OK);
  EXPECT_EQ(tag, nullptr);
  EXPECT_EQ(base->GetSystemTag(nullptr), E_INVALIDARG);
  LCID fallback = 0;
  EXPECT_EQ(base->GetDefaultLanguageId(&fallback), S_OK);
  EXPECT_EQ(fallback, 1033u);
  for (auto hook : {&IovFdtBaseDTM::CanInitNew, &IovFdtBaseDTM::CanLoadDataSet, &IovFdtBaseDTM::CanSaveDataSet}) {
    VARIANT_BOOL proceed = VARIANT_FALSE;
    EXPECT_EQ((base.Get()->*hook)(&proceed), S_OK);
    EXPECT_EQ(proceed, VARIANT_TRUE);
  }
  // The parameters of the device table are in the handler.
  vkr::ComPtr<IovFdtParameterInfo> info;
  ASSERT_EQ(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
  vkr::Variant count;
  ASSERT_EQ(info->GetParameterCount(&count), S_OK);
  EXPECT_EQ(count.vt, VT_UI4);
  EXPECT_EQ(count.ulVal, 138u);
}

TEST_F(DtmObject, AnswersItsInterfaceMapWithOneIdentity) {
  vkr::ComPtr<IUnknown> dtm = CreateDtm();
  ASSERT_TRUE(dtm);
  struct Named {
    const char* name;
    IID iid;
  };
  const Named answered[] = {
      {"ISomeInterface", ISomeInterface::iid},
      {"IDispatch", IID_IDispatch},
      {"IovFdtBaseDTM", IovFdtBaseDTM::iid},
      {"IovFdtDtmEvents", IovFdtDtmEvents::iid},
      {"IDtm", IDtm::iid},
      {"IDtm2", IDtm2::iid},
      {"IDtmInformation", IDtmInformation::iid},
      {"IDtmInformation2", IDtmInformation2::iid},
      {"IDtmParameter", IDtmParameter::iid},
      {"IDtmDiagnosis", IDtmDiagnosis::iid},
      {"IDtmOnlineDiagnosis", IDtmOnlineDiagnosis::iid},
      {"IDtmSingleInstanceDataAccess", IDtmSingleInstanceDataAccess::iid},
      {"IFdtEvents", IFdtEvents::iid},
      {"IovFdtParameterHandler4", IovFdtParameterHandler4::iid},
      {"IovFdtParameterInfo", IovFdtParameterInfo::iid},
      {"IovFdtParameterValidation", IovFdtParameterValidation::iid},
      {"IovFdtParametersImportExport", IovFdtParametersImportExport::iid},
      {"IovFdtOnlineParameter", IovFdtOnlineParameter::iid},
      {"IPersistStreamInit", IID_IPersistStreamInit},
      {"IPersistPropertyBag", IID_IPersistPropertyBag},
      {"IovFdtStorageState", IovFdtStorageState::iid},
      {"IovFdtExtDocument", IovFdtExtDocument::iid},
      {"IovSdaHandler", IovSdaHandler::iid},
      {"IovFDTParamList", IovFDTParamList::iid},
      {"IovFdtActiveXContainer", IovFdtActiveXContainer::iid},
      {"IovFdtActiveXManagement", IovFdtActiveXManagement::iid},
      {"IDtmActiveXInformation", IDtmActiveXInformation::iid},
      {"IDtmOnlineParameter", IDtmOnlineParameter::iid},
      {"IovFdtCommunicationClient4", IovFdtCommunicationClient4::iid},
      {"IovFdtCommClientOnlineState", IovFdtCommClientOnlineState::iid},
      {"IovFdtConnectionObjectCallback", IovFdtConnectionObjectCallback::iid},
      {"IovFdtDeviceVerification", IovFdtDeviceVerification::iid},
      {"IovFdtSubscriptions", IovFdtSubscriptions::iid},
      {"IovFDTGenericCommService", IovFDTGenericCommService::iid},
      {"IovFDTCommClientTransferParamList2", IovFDTCommClientTransferParamList2::iid},
      {"IovFdtDirectParameterAccess", IovFdtDirectParameterAccess::iid},
      {"IovFdtCommClientParameterProtocol", IovFdtCommClientParameterProtocol::iid},
      {"IDtmDocumentation", IDtmDocumentation::iid},
      {"IovFdtTranslation", IovFdtTranslation::iid},
      {"IovFdtDtmTranslation", IovFdtDtmTranslation::iid},
      {"IovFdtTranslationEvent", IovFdtTranslationEvent::iid},
      {"IovFDT_AboutInformations", IovFDT_AboutInformations::iid},
  };
  vkr::ComPtr<IUnknown> identity;
  ASSERT_EQ(dtm->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  for (const Named& n : answered) {
    vkr::ComPtr<IUnknown> p;
    ASSERT_EQ(dtm->QueryInterface(n.iid, p.PutVoid()), S_OK) << n.name;
    vkr::ComPtr<IUnknown> back;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK) << n.name;
    EXPECT_EQ(back.Get(), identity.Get()) << n.name;
  }
  // Implemented, but a frame cannot reach them in this DTM.
  const Named unanswered[] = {{"IDtmImportExport", IDtmImportExport::iid},
                              {"IDtmSingleDeviceDataAccess", IDtmSingleDeviceDataAccess::iid},
                              {"IDtmApplication", IDtmApplication::iid},
                              {"IovFdtActiveX4", IovFdtActiveX4::iid}};
  for (const Named& n : unanswered) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(dtm->QueryInterface(n.iid, &p), E_NOINTERFACE) << n.name;
    EXPECT_EQ(p, nullptr) << n.name;
  }
  vkr::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(dtm->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()), S_OK);
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_VornExampleDtm);
}

TEST_F(DtmObject, KeepsItsFunctionTable) {
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
  for (LONG id = 1; id <= 8; ++id) {
    SFunctionEntry entry{};
    ASSERT_EQ(dtm->FindUserInterfaceEntry(id, &entry), S_OK) << id;
    EXPECT_EQ(entry.nFunctionId, id);
    EXPECT_EQ(entry.nOperationPhases, 0xFFFFFFFFu);
    EXPECT_EQ(vkr::Utf16ToUtf8(vkr::View(entry.pszIconName)), "");
  }
  for (LONG id : {0, 9, -1}) {
    SFunctionEntry entry{};
    EXPECT_EQ(dtm->FindUserInterfaceEntry(id, &entry), E_FAIL) << id;
  }
  SFunctionEntry trend{};
  ASSERT_EQ(dtm->FindUserInterfaceEntry(2, &trend), S_OK);
  EXPECT_EQ(vkr::Utf16ToUtf8(vkr::View(trend.pszProgId)), "Vorn.ExampleDtm_TrendView");
  EXPECT_EQ(*trend.pClassId, CLSID_TrendView);
  EXPECT_EQ(trend.nType, 3u);
  EXPECT_EQ(trend.nApplicationId, 8u);
  // This DTM goes online on demand, not when it is given its channel.
  EXPECT_FALSE(dtm->GoOnlineOnSetCommunication());
  EXPECT_TRUE(IsSignalled(dtm->ProgressEvent()));
  EXPECT_FALSE(IsSignalled(dtm->StateSettledEvent()));
  EXPECT_FALSE(IsSignalled(dtm->VerificationEvent()));
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(dtm->ExitApplication(nullptr, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(dtm->GetProtocolCount(), 1u);
}

TEST_F(DtmObject, WithoutSettingsTheLogStaysOffAndNothingIsCreated) {
  SetLogEnabled(true);  // a DTM made before switched it on
  vkr::ComPtr<IUnknown> dtm = CreateDtm();
  ASSERT_TRUE(dtm);
  EXPECT_FALSE(IsLogEnabled());
  EXPECT_EQ(LogDirectory(), "C:\\Logging");
  EXPECT_FALSE(std::filesystem::exists(drives / "c/Logging"));
}

struct LogCase {
  const char* name;
  DWORD commLogging;
  bool keepOldLog;
  bool expectLog;
  bool expectOldLine;
};

TEST_F(DtmObject, TheLogSettingsDecideOnTheLogAndItsFile) {
  const LogCase cases[] = {
      {"log on, old log removed", 1, false, true, false},
      {"log on, old log kept", 7, true, true, true},
      {"log off", 0, false, false, true},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedRegistry fresh;
    TempDir dir;
    ScopedEnv where{"VKR_DRIVE_ROOT", dir.path()};
    SetString((std::string(kSettings) + "\\Files").c_str(), "LoggingPath", "D:\\A\\B");
    SetDword(kSettings, "CommLogging", c.commLogging);
    if (c.keepOldLog) SetDword(kSettings, "DoNotDeleteLoggingFile", 1);
    std::filesystem::create_directories(dir / "d/A/B");
    WriteFileText(dir / "d/A/B/VornExampleDevDTM_Log.txt", "an old line\r\n");
    {
      vkr::ComPtr<IUnknown> dtm = CreateDtm();
      ASSERT_TRUE(dtm);
      EXPECT_EQ(IsLogEnabled(), c.expectLog);
      EXPECT_EQ(LogDirectory(), "D:\\A\\B");
    }
    const std::string log = ReadFileText(dir / "d/A/B/VornExampleDevDTM_Log.txt");
    EXPECT_EQ(log.find("an old line") != std::string::npos, c.expectOldLine) << log;
    EXPECT_EQ(log.find("CovFDT_BaseDTMImpl::SetDTMState()") != std::string::npos, c.expectLog) << log;
    EXPECT_EQ(log.find("Vorn VKR Series DTM is destroyed") != std::string::npos, c.expectLog) << log;
    SetLogEnabled(false);
  }
}

TEST_F(DtmObject, TheLogDirectoryIsMadeLevelByLevel) {
  SetString((std::string(kSettings) + "\\Files").c_str(), "LoggingPath", "D:\\A\\B/C");
  SetDword(kSettings, "CommLogging", 1);
  vkr::ComPtr<IUnknown> dtm = CreateDtm();
  ASSERT_TRUE(dtm);
  EXPECT_TRUE(std::filesystem::is_directory(drives / "d/A/B/C"));
  EXPECT_TRUE(std::filesystem::exists(drives / "d/A/B/C/VornExampleDevDTM_Log.txt"));
}

TEST_F(DtmObject, SettingsOfTheWrongKindOrSizeAreIgnored) {
  SetString((std::string(kSettings) + "\\Files").c_str(), "LoggingPath", "D:\\" + std::string(4100, 'x'));
  SetString((std::string(kSettings) + "\\Files").c_str(), "IconPath", "E:\\Icons");
  SetString(kSettings, "CommLogging", "1");
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
  EXPECT_FALSE(IsLogEnabled());
  EXPECT_EQ(LogDirectory(), "C:\\Logging");
  EXPECT_EQ(vkr::Utf16ToUtf8(dtm->IconPath().View()), "E:\\Icons\\");
}

TEST_F(DtmObject, TwoDtmsShareTheLogSwitch) {
  SetDword(kSettings, "CommLogging", 1);
  vkr::ComPtr<IUnknown> first = CreateDtm();
  ASSERT_TRUE(first);
  EXPECT_TRUE(IsLogEnabled());
  SetDword(kSettings, "CommLogging", 0);
  vkr::ComPtr<IUnknown> second = CreateDtm();
  ASSERT_TRUE(second);
  EXPECT_FALSE(IsLogEnabled());
}

// A DTM whose parameter table cannot be filled.
class BrokenDtm : public TestDtm {
 public:
  static inline int destroyed = 0;
  ~BrokenDtm() override { ++destroyed; }

 protected:
  HRESULT FillParameterTable() override { return E_OUTOFMEMORY; }
};

TEST_F(DtmObject, AFailedFinalConstructionFailsTheCreationAndLeavesNothing) {
  const LONG locks = g_module.GetLockCount();
  BrokenDtm::destroyed = 0;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(vkr::CreateObject<BrokenDtm>(nullptr, IID_IUnknown, &p), E_OUTOFMEMORY);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(BrokenDtm::destroyed, 1);
  EXPECT_EQ(g_module.GetLockCount(), locks);
}

TEST_F(DtmObject, DeviceTypeNeedsADeviceType) {
  vkr::ComPtr<vkr::ComObject<TestDtm>> dtm;
  ASSERT_EQ(vkr::MakeObject<TestDtm>(&dtm), S_OK);
  EXPECT_EQ(dtm->InitializeDeviceType(false), E_UNEXPECTED);
  EXPECT_EQ(dtm->UnInitializeDeviceType(), S_OK);
  bool done = true;
  EXPECT_EQ(dtm->OnStateChangedParameters(nullptr), E_POINTER);
  EXPECT_EQ(dtm->OnStateChangedParameters(&done), S_OK);
  EXPECT_TRUE(done);
}

}  // namespace

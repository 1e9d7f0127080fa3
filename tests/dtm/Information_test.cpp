// The DTM information documents and the device-type identification: their content for FDT 1.2 and
// FDT 1.2.1 frames, the language list, the device icon, the template look-up, and validation of
// every document against the frame's schemas.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>

#include "tests/support/dtm_fakes.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "tests/support/schema_validator.h"
#include "tests/support/source_tree.h"

namespace {

using namespace vkr::test;
namespace fs = std::filesystem;

const fs::path kFrameSchemas = vkr::test::FrameSchemas();

using Validator = SchemaValidator;

class InfoDtm : public TestDtm {
 public:
  // The schema cache the environment would set up from the frame's schema directory.
  HRESULT InitSchemas() { return InitializeDtmSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(kFrameSchemas.string()))); }
  std::vector<ULONG> languages;  // empty: the translation answers as it does without a file
  HRESULT GetLanguageCount(LONG* count) override {
    if (!count) return E_POINTER;
    // Not the shipped file's languages, which the test program finds beside itself.
    if (languages.empty()) {
      *count = 0;
      return S_FALSE;
    }
    *count = static_cast<LONG>(languages.size());
    return S_OK;
  }
  HRESULT GetLanguageId(LONG index, ULONG* lcid) override {
    if (languages.empty()) return TestDtm::GetLanguageId(index, lcid);
    *lcid = languages.at(static_cast<std::size_t>(index));
    return S_OK;
  }
};

class Information : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<InfoDtm>(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeStateEvents>(&events), S_OK);
    ASSERT_EQ(validator.InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(kFrameSchemas.string()))), S_OK);
    ASSERT_EQ(dtm->InitSchemas(), S_OK);
    SetIconPath(nullptr);
  }
  void TearDown() override { CoUninitialize(); }

  static void SetIconPath(const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM\\Files", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (path)
      RegSetValueExA(key, "IconPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                     static_cast<DWORD>(strlen(path) + 1));
    else
      RegDeleteValueA(key, "IconPath");
    RegCloseKey(key);
  }

  // Loads the text validating; fails the test when it does not validate.
  vkr::ComPtr<IXMLDOMDocument2> Validated(BSTR text) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    validator.errors.clear();
    EXPECT_EQ(validator.LoadXMLDocument(text, document.Put(), &loaded), S_OK) << validator.errors;
    EXPECT_EQ(loaded, VARIANT_TRUE) << validator.errors << vkr::Utf16ToUtf8(vkr::View(text));
    return document;
  }
  static std::string At(IXMLDOMNode* node, const char16_t* path) {
    vkr::Bstr text;
    if (SelectNodeText(node, vkr::Bstr(path), text.Put()) != S_OK) return "(none)";
    return vkr::Utf16ToUtf8(text.View());
  }
  static LONG Count(IXMLDOMNode* node, const char16_t* path) {
    vkr::ComPtr<IXMLDOMNodeList> list;
    LONG n = 0;
    if (node->selectNodes(vkr::Bstr(path), list.Put()) == S_OK && list) list->get_length(&n);
    return n;
  }
  vkr::Bstr Info() {
    vkr::Bstr text;
    EXPECT_EQ(dtm->GetInformation(nullptr, text.Put()), S_OK);
    return text;
  }

  Validator validator;
  vkr::ComPtr<vkr::ComObject<InfoDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeStateEvents>> events;
};

TEST_F(Information, NotAnsweredBeforeTheEnvironment) {
  for (EDtmState state : {dsCREATED, dsINITNEWPERSIST, dsLOADED, dsPREPAREDTORELEASE}) {
    dtm->ForceState(state);
    BSTR untouched = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(dtm->GetInformation(nullptr, &untouched), S_FALSE) << state;
    EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1));
    EXPECT_EQ(dtm->GetInformation(nullptr, nullptr), S_FALSE) << state;
  }
  dtm->ForceState(dsENVIRONMENTSET);
  EXPECT_EQ(dtm->GetInformation(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(Information, Fdt12DocumentHasNoFdt121Items) {
  dtm->ForceState(dsENVIRONMENTSET);
  vkr::Bstr text = Info();
  auto doc = Validated(text);
  ASSERT_TRUE(doc);
  // The FDT version without its release.
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/FDTVersion/@major"), "1");
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/FDTVersion/@minor"), "2");
  EXPECT_EQ(Count(doc.Get(), u"FDT/DtmInfo/FDTVersion/@release"), 0);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DtmDeviceType[@dtmDevTypeID]"), 0);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DtmDeviceType[@dtmDevTypeIDVersion]"), 0);
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/fdt:VersionInformation/@name"), "Brevant Guided Radar (VKR)");
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/fdt:VersionInformation/@version"), "2.1.1");
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/fdt:VersionInformation/@date"), "2016-06-21");
  EXPECT_EQ(At(doc.Get(), u"//fdt:DtmDeviceType/fdt:VersionInformation/@name"), "VORN VKR HART DTM");
  EXPECT_EQ(At(doc.Get(), u"//fdt:BusCategory/@busCategory"), "036D1498-387B-11D4-86E1-00E0987270B9");
  EXPECT_EQ(At(doc.Get(), u"//fdt:CommunicationTypeEntry/@communicationType"), "required");
  // Without a translation the template's languages stand.
  EXPECT_EQ(Count(doc.Get(), u"//fdt:SupportedLanguages/fdt:LanguageId"), 2);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DeviceIcon"), 0);
}

TEST_F(Information, Fdt121DocumentCarriesTheFdtVersionAndDeviceTypeId) {
  dtm->SetFdt121(events.Get());
  dtm->ForceState(dsCONFIGURED);
  auto doc = Validated(Info());
  ASSERT_TRUE(doc);
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/FDTVersion/@release"), "1");
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/FDTVersion/@minor"), "2");
  EXPECT_EQ(At(doc.Get(), u"//fdt:DtmDeviceType/@dtmDevTypeIDVersion"), "1");
  EXPECT_EQ(At(doc.Get(), u"//fdt:DtmDeviceType/@dtmDevTypeID").size(), 36u);
}

TEST_F(Information, LanguagesAreThoseOfTheTranslationInItsOrder) {
  dtm->languages = {1033, 1031, 1036};
  dtm->ForceState(dsONLINE);
  auto doc = Validated(Info());
  ASSERT_TRUE(doc);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:SupportedLanguages"), 1);
  EXPECT_EQ(Count(doc.Get(), u"//fdt:SupportedLanguages/fdt:LanguageId"), 3);
  EXPECT_EQ(At(doc.Get(), u"//fdt:SupportedLanguages/fdt:LanguageId[1]/@languageId"), "1033");
  EXPECT_EQ(At(doc.Get(), u"//fdt:SupportedLanguages/fdt:LanguageId[2]/@languageId"), "1031");
  EXPECT_EQ(At(doc.Get(), u"//fdt:SupportedLanguages/fdt:LanguageId[3]/@languageId"), "1036");
}

TEST_F(Information, TheDeviceIconPathIsEscaped) {
  SetIconPath("C:\\Icons & \"Pictures\" <x>");
  dtm->ForceState(dsENVIRONMENTSET);
  auto doc = Validated(Info());
  ASSERT_TRUE(doc);
  EXPECT_EQ(At(doc.Get(), u"//fdt:DtmDeviceType/fdt:DeviceIcon/@path"),
            "C:\\Icons & \"Pictures\" <x>\\VornExampleDtm.ico");
}

TEST_F(Information, TheFrameworksDefaultDocumentIsValidToo) {
  SetIconPath("C:\\Icons");
  dtm->SetFdt121(events.Get());
  dtm->ForceState(dsCONFIGURED);
  vkr::Bstr text;
  ASSERT_EQ(dtm->CovFDT_BaseDTMCore::GetInformation(nullptr, text.Put()), S_OK);
  auto doc = Validated(text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(At(doc.Get(), u"FDT/DtmInfo/fdt:VersionInformation/@version"), "2.1.1");
  // The framework's document has no icon of its own.
  EXPECT_EQ(Count(doc.Get(), u"//fdt:DeviceIcon"), 0);
  dtm->ForceState(dsCREATED);
  EXPECT_EQ(dtm->CovFDT_BaseDTMCore::GetInformation(nullptr, text.Put()), S_FALSE);
  EXPECT_EQ(dtm->CovFDT_BaseDTMCore::GetInformation(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(Information, VerifySupportedLanguagesArguments) {
  vkr::Bstr in(u"<FDT/>");
  EXPECT_EQ(dtm->VerifySupportedLanguages(in, nullptr), E_POINTER);
  vkr::Bstr out;
  EXPECT_EQ(dtm->VerifySupportedLanguages(in, out.Put()), S_OK);
  EXPECT_EQ(out.Str(), u"<FDT/>");
  // A document whose device type has no language list cannot take the new one.
  dtm->languages = {1033};
  vkr::Bstr bare(u"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DtmInfo><DtmDeviceTypes>"
                 u"<fdt:DtmDeviceType/></DtmDeviceTypes></DtmInfo></FDT>");
  EXPECT_EQ(dtm->VerifySupportedLanguages(bare, out.Put()), E_FAIL);
}

// ---- Device-type identification -------------------------------------------------------------

vkr::Bstr DeviceType(const char16_t* attributes, const char16_t* name, const char16_t* vendor = u"Vorntec",
                     const char16_t* version = u"2.1.1") {
  std::u16string text = u"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType ";
  text += attributes;
  text += u"><fdt:VersionInformation name=\"";
  text += name;
  text += u"\" vendor=\"";
  text += vendor;
  text += u"\" version=\"";
  text += version;
  text += u"\"/></fdt:DtmDeviceType></FDT>";
  return vkr::Bstr(text);
}

constexpr char16_t kHart[] = u"036D1498-387B-11D4-86E1-00E0987270B9";

TEST_F(Information, IdentificationOfTheTemplatesDeviceType) {
  dtm->SetFdt121(events.Get());
  dtm->ForceState(dsENVIRONMENTSET);
  vkr::Bstr result;
  ASSERT_EQ(dtm->GetDeviceIdentificationInformation(DeviceType(u"", u"Brevant Guided Radar (VKR)"),
                                                    vkr::Bstr(kHart), result.Put()),
            S_OK);
  auto doc = Validated(result);
  ASSERT_TRUE(doc);
  EXPECT_EQ(At(doc.Get(), u"FDT/DeviceIdentifications/@fdt:busCategory"), "036D1498-387B-11D4-86E1-00E0987270B9");
  EXPECT_EQ(At(doc.Get(), u"//DeviceIdentification/@hartident:idDTMSupportLevel"), "specificSupport");
  EXPECT_EQ(At(doc.Get(), u"//IdBusProtocol/@hartident:busProtocol"), "HART");
  EXPECT_EQ(At(doc.Get(), u"//IdBusProtocolVersion/@hartident:universalCommandRevisionLevel"), "7");
  EXPECT_EQ(At(doc.Get(), u"//DeviceFlag/@hartident:deviceFlag"), "0");
}

TEST_F(Information, IdentificationLookUp) {
  dtm->ForceState(dsCONFIGURED);
  // A path that selects nothing answers E_FAIL; no path at all (nothing usable to look for) S_OK
  // with no text.
  struct Case {
    const char* what;
    vkr::Bstr deviceType;
    const char16_t* protocol;
    HRESULT expected;
    bool found;
  };
  Case cases[] = {
      {"nodeId with another name", DeviceType(u"nodeId=\"ID_0\"", u"Other"), kHart, S_OK, true},
      {"deviceTypeId", DeviceType(u"deviceTypeId=\"ID_0\"", u""), kHart, S_OK, true},
      {"name only", DeviceType(u"", u"Brevant Guided Radar (VKR)", u"", u""), kHart, S_OK, true},
      {"another version", DeviceType(u"", u"Brevant Guided Radar (VKR)", u"Vorntec", u"9.9"), kHart, E_FAIL, false},
      {"unknown device", DeviceType(u"nodeId=\"ID_7\"", u"Other"), kHart, E_FAIL, false},
      {"a quote in the name", DeviceType(u"", u"x&quot;] | //*[&quot;", u"", u""), kHart, S_OK, false},
      {"protocol with braces", DeviceType(u"nodeId=\"ID_0\"", u"x"), u"{036D1498-387B-11D4-86E1-00E0987270B9}",
       E_INVALIDARG, false},
      {"protocol no GUID", DeviceType(u"nodeId=\"ID_0\"", u"x"), u"HART", E_INVALIDARG, false},
      {"another protocol", DeviceType(u"nodeId=\"ID_0\"", u"x"), u"036D1499-387B-11D4-86E1-00E0987270B9", E_FAIL,
       false},
  };
  for (Case& c : cases) {
    BSTR result = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(dtm->GetDeviceIdentificationInformation(c.deviceType, vkr::Bstr(c.protocol), &result), c.expected)
        << c.what;
    if (c.expected != E_INVALIDARG) {
      EXPECT_EQ(result != nullptr, c.found) << c.what;
    }
    if (result != reinterpret_cast<BSTR>(0x1)) SysFreeString(result);
  }
  dtm->ForceState(dsLOADED);
  vkr::Bstr result;
  EXPECT_EQ(dtm->GetDeviceIdentificationInformation(DeviceType(u"nodeId=\"ID_0\"", u"x"), vkr::Bstr(kHart),
                                                    result.Put()),
            S_FALSE);
  EXPECT_EQ(dtm->GetDeviceIdentificationInformation(nullptr, vkr::Bstr(kHart), result.Put()), E_INVALIDARG);
}

TEST_F(Information, CheckDeviceTypeMatchesByName) {
  dtm->ForceState(dsCONFIGURED);
  auto check = [&](const char16_t* name) {
    vkr::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    LoadXmlFromString(DeviceType(u"", name), doc.Put(), &loaded);
    vkr::ComPtr<IXMLDOMNode> node;
    doc->selectSingleNode(vkr::Bstr(u"//fdt:DtmDeviceType"), node.Put());
    return dtm->CheckDeviceType(node.Get());
  };
  EXPECT_TRUE(check(u"VORN VKR HART DTM"));
  EXPECT_FALSE(check(u"Brevant Guided Radar (VKR)"));
  EXPECT_FALSE(check(u"a &quot; quote"));
  EXPECT_FALSE(dtm->CheckDeviceType(nullptr));
}

}  // namespace

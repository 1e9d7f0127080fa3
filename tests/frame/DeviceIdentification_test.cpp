// The HART identification of the DTM's device type as a frame asks for it: the frame hands back a
// device type the DTM announced in its information document and gets the identification
// document, whatever the case of the GUIDs it writes; it gets nothing for a device type the DTM
// does not serve, and a device-type document its schemas refuse is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "frame/FrameDocuments.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::FrameContainer;

using vkr::frame::kFrameVersion;
using vkr::frame::kDeviceType;
using vkr::frame::kUserInformation;
using vkr::frame::dtm_state::kConfigured;
using vkr::frame::dtm_state::kEnvironmentSet;
using vkr::frame::dtm_state::kInitialized;
constexpr char kHart[] = "036D1498-387B-11D4-86E1-00E0987270B9";
constexpr char16_t kHead[] =
    u"<FDT xmlns=\"x-schema:DTMDeviceTypeSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Text(IXMLDOMNode* node, const char16_t* path) {
  vkr::Bstr text;
  vkr::ComPtr<IXMLDOMNode> found;
  if (node->selectSingleNode(vkr::Bstr(path), found.Put()) != S_OK || !found) return "(none)";
  found->get_text(text.Put());
  return vkr::Utf16ToUtf8(text.View());
}

class DeviceIdentification : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    ASSERT_EQ(vkr::frame::CreateFrameSchemaCache(&schemas), S_OK);
  }
  void TearDown() override {
    schemas = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  // A DTM of the module in an FDT 1.2 or 1.2.1 frame, taken to its environment, initialised or
  // configured state.
  struct Dtm {
    vkr::ComPtr<IUnknown> unknown;
    vkr::ComPtr<IDtmInformation> information;
    vkr::ComPtr<IDtmInformation2> identification;
    vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
  };
  void Make(bool fdt121, LONG state, Dtm* d) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, d->unknown.PutVoid()), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&d->frame), S_OK);
    d->frame->offerStateEvents = fdt121;
    vkr::ComPtr<IPersistStreamInit> persist;
    vkr::ComPtr<IDtm> dtm;
    vkr::ComPtr<IDtm2> dtm2;
    d->unknown->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
    d->unknown->QueryInterface(IDtm::iid, dtm.PutVoid());
    d->unknown->QueryInterface(IDtm2::iid, dtm2.PutVoid());
    d->unknown->QueryInterface(IDtmInformation::iid, d->information.PutVoid());
    d->unknown->QueryInterface(IDtmInformation2::iid, d->identification.PutVoid());
    ASSERT_TRUE(persist && dtm && dtm2 && d->information && d->identification);
    ASSERT_EQ(persist->InitNew(), S_OK);
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr tag(u"VKR-1");
    const HRESULT environment = fdt121 ? dtm2->Environment2(tag, d->frame.Get(), vkr::Bstr(kFrameVersion), &result)
                                       : dtm->Environment(tag, d->frame.Get(), &result);
    ASSERT_EQ(environment, S_OK);
    if (state >= kInitialized) {
      ASSERT_EQ(dtm->InitNew(vkr::Bstr(kDeviceType), &result), S_OK);
    }
    if (state >= kConfigured) {
      ASSERT_EQ(dtm->Config(vkr::Bstr(kUserInformation), &result), S_OK);
    }
    ASSERT_EQ(result, VARIANT_TRUE);
  }
  // The device type of the DTM's information document, as the frame keeps it.
  std::u16string AnnouncedDeviceType(Dtm& d) {
    vkr::Bstr text;
    EXPECT_EQ(d.information->GetInformation(nullptr, text.Put()), S_OK);
    vkr::ComPtr<IXMLDOMDocument2> document;
    std::string reason;
    EXPECT_EQ(vkr::frame::LoadWithSchemaCache(text, schemas.Get(), &document, &reason), S_OK) << reason;
    if (!document) return {};
    vkr::ComPtr<IXMLDOMNode> type;
    document->selectSingleNode(vkr::Bstr(u"FDT/DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType"), type.Put());
    if (!type) return {};
    vkr::Bstr xml;
    type->get_xml(xml.Put());
    return std::u16string(kHead) + std::u16string(xml.View()) + u"</FDT>";
  }
  // Asks for the identification; a document that comes must validate with the frame's schemas.
  HRESULT Identify(Dtm& d, const std::u16string& deviceType, const std::string& protocol, std::string* busProtocol) {
    BSTR result = nullptr;
    const HRESULT hr = d.identification->GetDeviceIdentificationInformation(
        vkr::Bstr(deviceType), vkr::Bstr(vkr::Utf8ToUtf16(protocol)), &result);
    vkr::Bstr answer;
    answer.Attach(result);
    *busProtocol = "(nothing)";
    if (answer.Get()) {
      vkr::ComPtr<IXMLDOMDocument2> document;
      std::string reason;
      EXPECT_EQ(vkr::frame::LoadWithSchemaCache(answer, schemas.Get(), &document, &reason), S_OK) << reason;
      if (document) *busProtocol = Text(document.Get(), u"//IdBusProtocol/@hartident:busProtocol");
    }
    return hr;
  }

  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  vkr::ComPtr<IXMLDOMSchemaCollection> schemas;
};

TEST_F(DeviceIdentification, TheDeviceTypeTheDtmAnnouncedIsIdentified) {
  for (const bool fdt121 : {false, true}) {
    for (const LONG state : {kEnvironmentSet, kInitialized, kConfigured}) {
      SCOPED_TRACE(testing::Message() << (fdt121 ? "FDT 1.2.1" : "FDT 1.2") << " frame, state " << state);
      Dtm d;
      ASSERT_NO_FATAL_FAILURE(Make(fdt121, state, &d));
      const std::u16string announced = AnnouncedDeviceType(d);
      ASSERT_FALSE(announced.empty());
      std::string bus;
      // The protocol as the DTM names it, and in lower case.
      EXPECT_EQ(Identify(d, announced, kHart, &bus), S_OK);
      EXPECT_EQ(bus, "HART");
      EXPECT_EQ(Identify(d, announced, Lower(kHart), &bus), S_OK);
      EXPECT_EQ(bus, "HART");
      // A frame that writes the device type's GUID in lower case.
      if (fdt121) {
        std::string relaxed = vkr::Utf16ToUtf8(announced);
        const std::size_t at = relaxed.find("dtmDevTypeID=\"");
        ASSERT_NE(at, std::string::npos);
        for (std::size_t i = at + 14; relaxed[i] != '"'; ++i)
          relaxed[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(relaxed[i])));
        EXPECT_EQ(Identify(d, vkr::Utf8ToUtf16(relaxed), kHart, &bus), S_OK);
        EXPECT_EQ(bus, "HART");
      }
    }
  }
}

TEST_F(DeviceIdentification, OtherDeviceTypesAndRefusedDocumentsGetNothing) {
  Dtm d;
  ASSERT_NO_FATAL_FAILURE(Make(true, kConfigured, &d));
  std::string bus;
  struct Case {
    const char* what;
    std::u16string deviceType;
    HRESULT expected;
  };
  const Case cases[] = {
      {"a device type of another DTM",
       std::u16string(kHead) + u"<fdt:DtmDeviceType><fdt:VersionInformation name=\"Other\" vendor=\"Vorntec\" "
                               u"version=\"2.1.1\"/></fdt:DtmDeviceType></FDT>",
       E_FAIL},
      {"another device-type GUID",
       std::u16string(kHead) + u"<fdt:DtmDeviceType dtmDevTypeID=\"00000000-7B9D-4F16-A3C8-2D4E6F80B1C7\">"
                               u"<fdt:VersionInformation name=\"VORN VKR HART DTM\" vendor=\"Vorntec\" "
                               u"version=\"2.1.1\"/></fdt:DtmDeviceType></FDT>",
       E_FAIL},
      // Refused by the frame's schemas: a read-access flag that is no boolean.
      {"a document the schemas refuse",
       std::u16string(kHead) + u"<fdt:DtmDeviceType readAccess=\"maybe\"><fdt:VersionInformation "
                               u"name=\"VORN VKR HART DTM\"/></fdt:DtmDeviceType></FDT>",
       E_INVALIDARG},
      {"no document at all", u"<FDT", E_INVALIDARG},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Identify(d, c.deviceType, kHart, &bus), c.expected) << c.what;
    EXPECT_EQ(bus, "(nothing)") << c.what;
  }
  // Another protocol than HART.
  EXPECT_EQ(Identify(d, AnnouncedDeviceType(d), "036D1499-387B-11D4-86E1-00E0987270B9", &bus), E_FAIL);
  EXPECT_EQ(bus, "(nothing)");
}

}  // namespace

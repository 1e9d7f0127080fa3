// The frame's road to the DTM's parameters by name: the parameter document it reads
// (GetParameters) and hands back edited (SetParameters), against the real module. The VKR table
// exports no variable, so the test marks a few parameters for export first, as a DTM that exports
// them would have them.
#include <gtest/gtest.h>

#include <functional>

#include "frame/FrameHost.h"
#include "frame/ParameterDocument.h"
#include "include/ParameterHandlerInterfaces.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::ParameterDocument;
using vkr::frame::SimulatedDevice;
using vkr::frame::TransferSession;

constexpr ULONG kExportKindField = 0x2000;

class ParameterDocumentRoad : public testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    session = std::make_unique<TransferSession>();
    ASSERT_EQ(session->Open(u"Vorn.ExampleDtm", std::make_shared<SimulatedDevice>(), ""), S_OK);
    session->Dtm()->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
    session->Dtm()->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
    ASSERT_TRUE(handler && info);
  }
  void TearDown() override {
    handler = nullptr;
    info = nullptr;
    session.reset();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  void Export(ULONG id, ULONG kind) {
    ASSERT_EQ(info->SetParameterField(vkr::UI4(id), vkr::UI4(kExportKindField), vkr::UI4(kind)), S_OK) << id;
  }
  std::string Text(ULONG id) {
    vkr::Variant v, text;
    handler->GetParameterValue(vkr::UI4(id), v.Put());
    VariantChangeType(text.Put(), v.Ptr(), 0, VT_BSTR);
    return text.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(text.bstrVal)) : "";
  }

  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  std::unique_ptr<TransferSession> session;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IovFdtParameterInfo> info;
};

TEST_F(ParameterDocumentRoad, TheDeviceTableExportsNothingButTheTag) {
  ParameterDocument document;
  std::string why;
  ASSERT_EQ(vkr::frame::GetParameterDocument(session->Dtm(), &document, &why), S_OK) << why;
  ASSERT_EQ(document.parameters.size(), 1u);
  EXPECT_EQ(document.parameters[0].name, "Tag");
  EXPECT_EQ(document.parameters[0].value, "VKR Series DTM");
  EXPECT_EQ(vkr::frame::SetDocumentParameters(*session, {{"Damping Value", "2.5"}}, &why), S_FALSE);
  EXPECT_EQ(why,
            "there is no parameter Damping Value in the DTM's parameter document (the DTM exports no parameter there "
            "but the tag)");
}

// Values set by name or descriptor, all of them or none: what the data set holds afterwards, and
// what the frame is told when the document or the DTM refuses.
TEST_F(ParameterDocumentRoad, ValuesAreSetByNameAllOrNothing) {
  Export(1022, 2);  // "Damping Value": an FDT variant and its display
  Export(1051, 1);  // "Message": the display only
  Export(1049, 2);  // "PV value": read from the device only
  ParameterDocument document;
  std::string why;
  ASSERT_EQ(vkr::frame::GetParameterDocument(session->Dtm(), &document, &why), S_OK) << why;
  ASSERT_EQ(document.parameters.size(), 4u);
  const vkr::frame::DocumentParameter* damping = document.Find("Damping Value");
  ASSERT_TRUE(damping);
  EXPECT_EQ(damping->name, "eDampingValueID");
  EXPECT_TRUE(damping->writable);
  ASSERT_TRUE(document.Find("ePV_ID"));
  EXPECT_FALSE(document.Find("PV value")->writable);

  struct Cell {
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    HRESULT result;
    std::string why;                                  // S_FALSE: the reason
    std::vector<std::pair<ULONG, std::string>> held;  // what the data set holds afterwards
  };
  const std::string tooLong(40, 'M');
  const Cell cells[] = {
      {"by descriptor and by name",
       {{"Damping Value", "2.5"}, {"eMessage_ID", "SET THROUGH THE DOCUMENT"}, {"Tag", "LT-9"}},
       S_OK,
       "",
       {{1022, "2.5"}, {1051, "SET THROUGH THE DOCUMENT"}, {1, "LT-9"}}},
      {"a value the DTM refuses sets nothing",
       {{"Damping Value", "7.5"}, {"Message", tooLong}},
       S_FALSE,
       "An error occurred during IDtmParameter::SetParameters",
       {{1022, "2.5"}, {1051, "SET THROUGH THE DOCUMENT"}}},
      {"a name the document does not hold",
       {{"Damping Value", "7.5"}, {"Dampening", "1"}},
       S_FALSE,
       "there is no parameter Dampening in the DTM's parameter document",
       {{1022, "2.5"}}},
      {"a parameter offered for reading only",
       {{"PV value", "1"}},
       S_FALSE,
       "the DTM offers PV value for reading only",
       {{1049, "0"}}},
      // The device tag, not the exported HART tag of the same descriptor.
      {"the tag is the device's", {{"Tag", "LT-10"}}, S_OK, "", {{1, "LT-10"}}},
  };
  for (const Cell& cell : cells) {
    SCOPED_TRACE(cell.name);
    why.clear();
    EXPECT_EQ(vkr::frame::SetDocumentParameters(*session, cell.values, &why), cell.result);
    if (cell.result == S_FALSE) {
      EXPECT_EQ(why, cell.why);
    }
    for (const auto& [id, text] : cell.held) EXPECT_EQ(Text(id), text) << id;
  }
  EXPECT_TRUE(session->Frame()->invalidDocuments.empty());
}

}  // namespace

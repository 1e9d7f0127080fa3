// The documents whose structure is fixed, as the frame's schema set checks them: each sample
// validates, and the same sample with a nested root, a foreign element or a child in the wrong
// place is refused for the element that does not belong.
#include <gtest/gtest.h>

#include <string>

#include "frame/FrameContainer.h"

namespace {

struct Shape {
  const char* schema;
  std::u16string valid;
  // Each a variant of `valid`, with the element that does not belong.
  std::u16string nestedRoot, foreign, misplaced;
  const char* nestedName;
  const char* misplacedName;
};

const std::u16string kFunctionsHead =
    u"<FDT xmlns=\"x-schema:DTMFunctionsSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" "
    u"xmlns:appId=\"x-schema:FDTApplicationIdSchema.xml\"><Functions label=\"F\" fdt:name=\"\" help=\"\">"
    u"<StandardFunctions fdt:name=\"S\" help=\"\">";
const std::u16string kStandardFunction =
    u"<StandardFunction fdt:name=\"Diag\" help=\"\" functionId=\"9\" printableStandardFunction=\"0\" "
    u"resizableStandardFunction=\"1\"><Status toggle=\"0\" checked=\"0\" enabled=\"1\" hidden=\"0\" "
    u"separator=\"0\"/><appId:ApplicationId applicationId=\"fdtDiagnosis\"/></StandardFunction>";
const std::u16string kGroupId = u"<appId:ApplicationId applicationId=\"fdtDiagnosis\"/>";
const std::u16string kFunctionsTail = u"</StandardFunctions></Functions></FDT>";

const std::u16string kCallHead =
    u"<FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" xmlns:func=\"x-schema:DTMFunctionsSchema.xml\" "
    u"xmlns:appId=\"x-schema:FDTApplicationIdSchema.xml\" xmlns:ops=\"x-schema:FDTOperationPhaseSchema.xml\">";

const std::u16string kMessageHead =
    u"<FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<FDTUserMessage messageType=\"messageQuestion\" messageButtons=\"buttonsYesNo\" messageDefault=\"buttonYes\" "
    u"title=\"Release\"><TextLine fdt:string=\"Close?\"/>";

const std::u16string kParameterHead =
    u"<FDT xmlns=\"x-schema:DTMParameterSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" "
    u"fdt:storageState=\"persistent\" fdt:dataSetState=\"default\"><DtmDevice fdt:tag=\"LT-101\">";
const std::u16string kBus = u"<BusInformation><SlaveAddress slaveAddress=\"0\"/></BusInformation>";
const std::u16string kExported =
    u"<ExportedVariables><fdt:DtmVariables name=\"ExportedVariables\"><fdt:DtmVariable name=\"Tag\">"
    u"<fdt:Value readAccess=\"1\" writeAccess=\"1\"><fdt:Display string=\"LT-101\"/></fdt:Value>"
    u"</fdt:DtmVariable></fdt:DtmVariables></ExportedVariables>";

const std::u16string kStateHead =
    u"<FDT xmlns=\"x-schema:DTMStateSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DtmStateTransition>"
    u"<PreviousState fdt:dtmStateMachine=\"goingOnline\"/><CurrentState fdt:dtmStateMachine=\"communicationSet\"/>"
    u"<fdt:CommunicationError communicationError=\"noConnection\" tag=\"LT-101\"";

const std::u16string kPhaseHead = u"<FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" operationPhase=\"runtime\"";

const std::u16string kForeign = u"<x:note xmlns:x=\"urn:example:notes\">why</x:note>";

std::string Text(const std::u16string& s) { return vkr::Utf16ToUtf8(s); }

TEST(ClosedSchemas, EachShapeValidatesAndRefusesWhatDoesNotBelong) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const Shape shapes[] = {
      {"function call",
       kCallHead + u"<FDTFunctionCall func:functionId=\"6\" ops:operationPhase=\"runtime\">" +
           u"<appId:ApplicationId applicationId=\"fdtObserve\"/></FDTFunctionCall></FDT>",
       kCallHead + u"<FDTFunctionCall func:functionId=\"6\"><FDT><FDTFunctionCall func:functionId=\"7\"/></FDT>" +
           u"</FDTFunctionCall></FDT>",
       kCallHead + u"<FDTFunctionCall func:functionId=\"6\"/>" + kForeign + u"</FDT>",
       kCallHead + u"<FDTFunctionCall func:functionId=\"6\"/><appId:ApplicationId applicationId=\"fdtObserve\"/></FDT>",
       "FDT", "appId:ApplicationId"},
      {"user message", kMessageHead + u"</FDTUserMessage></FDT>",
       kMessageHead + kMessageHead + u"</FDTUserMessage></FDT></FDTUserMessage></FDT>",
       kMessageHead + kForeign + u"</FDTUserMessage></FDT>",
       kMessageHead + u"</FDTUserMessage><TextLine fdt:string=\"Really?\"/></FDT>", "FDT", "TextLine"},
      {"parameter document", kParameterHead + kBus + kExported + u"</DtmDevice></FDT>",
       kParameterHead + kBus +
           u"<FDT fdt:storageState=\"persistent\" fdt:dataSetState=\"default\">"
           u"<DtmDevice fdt:tag=\"T\"/></FDT></DtmDevice></FDT>",
       kParameterHead + kBus + kForeign + u"</DtmDevice></FDT>",
       kParameterHead + kExported + kBus + u"</DtmDevice></FDT>", "FDT", "BusInformation"},
      {"standard functions", kFunctionsHead + kGroupId + kStandardFunction + kFunctionsTail,
       kFunctionsHead + kGroupId + kStandardFunction + u"<FDT><Functions label=\"\" fdt:name=\"\" help=\"\"/></FDT>" +
           kFunctionsTail,
       kFunctionsHead + kGroupId + kForeign + kStandardFunction + kFunctionsTail,
       kFunctionsHead + kStandardFunction + kGroupId + kFunctionsTail, "FDT", "appId:ApplicationId"},
      {"communication error", kStateHead + u"/></DtmStateTransition></FDT>",
       kStateHead + u">" + kStateHead +
           u"/></DtmStateTransition></FDT></fdt:CommunicationError></DtmStateTransition></FDT>",
       kStateHead + u">" + kForeign + u"</fdt:CommunicationError></DtmStateTransition></FDT>",
       kStateHead + u"><fdt:Display string=\"x\"/></fdt:CommunicationError></DtmStateTransition></FDT>", "FDT",
       "fdt:Display"},
      {"operation phase", kPhaseHead + u"/>", kPhaseHead + u"><FDT operationPhase=\"runtime\"/></FDT>",
       kPhaseHead + u">" + kForeign + u"</FDT>", u"", "FDT", ""},
  };
  for (const Shape& s : shapes) {
    std::string reason;
    EXPECT_EQ(vkr::frame::FrameContainer::Validate(vkr::Bstr(s.valid), &reason), S_OK)
        << s.schema << ": " << reason << "\n"
        << Text(s.valid);
    const struct {
      const char* what;
      const std::u16string& document;
      std::string offender;
    } refused[] = {{"a nested root", s.nestedRoot, s.nestedName},
                   {"a foreign element", s.foreign, "x:note"},
                   {"a misplaced child", s.misplaced, s.misplacedName}};
    for (const auto& r : refused) {
      if (r.document.empty()) continue;
      reason.clear();
      EXPECT_EQ(vkr::frame::FrameContainer::Validate(vkr::Bstr(r.document), &reason), S_FALSE)
          << s.schema << " with " << r.what << ":\n"
          << Text(r.document);
      EXPECT_NE(reason.find("'" + r.offender + "'"), std::string::npos)
          << s.schema << " with " << r.what << ": " << reason;
    }
  }
  CoUninitialize();
}

}  // namespace

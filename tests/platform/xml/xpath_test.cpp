// Selection paths: the paths the system uses, on documents shaped as the system reads them, with
// names matched as written (default namespaces ignored, prefixes unregistered).
#include "tests/support/dom_helpers.h"

#include <atomic>
#include <thread>
#include <vector>

namespace vkr::xmltest {
namespace {

constexpr const char* kDeviceDocument = R"(<?xml version="1.0"?>
<FDT xmlns="x-schema:DTMParameterSchema.xml" xmlns:fdt="x-schema:FDTDataTypesSchema.xml"
     xmlns:fdtvers="x-schema:FDTVersionSchema.xml" xmlns:appId="x-schema:FDTApplicationIdSchema.xml"
     xmlns:func="x-schema:DTMFunctionCallSchema.xml" xmlns:ops="x-schema:FDTOperationPhaseSchema.xml"
     fdt:storageState="persistent" operationPhase="engineering">
  <DtmDevice fdt:tag="LT-101" fdt:dataSetState="allDataLoaded">
    <ExportedVariables><fdt:DtmVariables name="PV"/><fdt:DtmVariables name="SV"/></ExportedVariables>
  </DtmDevice>
  <FrameVersion><fdtvers:FDTVersion major="1" minor="2" release="1"/></FrameVersion>
  <ParentVersion><fdtvers:FDTVersion major="1" minor="2" release="0"/></ParentVersion>
  <fdt:DtmDeviceType nodeId="n1" deviceTypeId="dt1" deviceTypeInformation="info">
    <fdt:VersionInformation name="VKR 100" vendor="Vorntec" version="2.1"/>
  </fdt:DtmDeviceType>
  <DtmInfo><DtmDeviceTypes><fdt:DtmDeviceType nodeId="n2"/></DtmDeviceTypes></DtmInfo>
  <PARAMETERS>
    <Parameter id="101" type="3" value="5"/>
    <Parameter id="102" type="8" value="abc"/>
    <Parameter id="103" type="5" value="1.5"/>
  </PARAMETERS>
  <DtmItemList>
    <DtmItem fdt:id="1"><fdt:Variant dataType="float"><fdt:NumberData number="1.5"/></fdt:Variant>
      <TimeStamp fdt:time="2024-01-02T03:04:05"/></DtmItem>
    <DtmItem fdt:id="2"><fdt:Variant dataType="ascii"><fdt:StringData string="text"/></fdt:Variant></DtmItem>
    <DtmItem fdt:id="3"><fdt:Variant dataType="dateAndTime"><fdt:TimeData time="2024-05-06T07:08:09"/></fdt:Variant></DtmItem>
  </DtmItemList>
  <DtmItemSelection fdt:id="2"/>
  <Labels><SystemGuiLabel fdt:systemGuiLabel="Level"/></Labels>
  <FDTUserInformation userLevel="maintenance"/>
  <FDTFunctionCall func:functionId="7" ops:operationPhase="engineering"/>
  <Functions>
    <Function functionId="3" fdt:name="Diagnosis"><appId:ApplicationId applicationId="fdtDiagnosis"/></Function>
    <StandardFunction functionId="7" fdt:name="Standard"/>
  </Functions>
  <Result resultMessage="done"><Inner resultMessage="inner"/></Result>
  <ov_FdtDevTypeIdentTemplates>
    <ov_FdtDevTypeIdentTemplate devTypeId="dt1" busProtocolId="hart" name="VKR 100" vendor="Vorntec" version="2.1"><A/><B/></ov_FdtDevTypeIdentTemplate>
    <ov_FdtDevTypeIdentTemplate devTypeId="dt2" busProtocolId="hart" name="VKR 200" vendor="Vorntec" version="1.0"><C/></ov_FdtDevTypeIdentTemplate>
  </ov_FdtDevTypeIdentTemplates>
  <AddressInformation>
    <Protocol id="036D1498-387B-11D4-86E1-00E0987270B9">
      <HARTAddress service="read" command="3" requestData="01"/><HARTAddress service="write" command="35"/>
    </Protocol>
  </AddressInformation>
  <TypeInformation><Simple iecType="REAL"/></TypeInformation>
  <PrivateProperties><Property name="PrivateProperties"><Property name="varType" value="inputVar"/></Property></PrivateProperties>
  <OnParameterChangedDocument><PARAMETERS/><ChannelCollection/></OnParameterChangedDocument>
  <x:Variant xmlns:x="x-schema:FDTDataTypesSchema.xml" dataType="other-prefix"/>
</FDT>)";

constexpr const char* kCommunicationDocument = R"(<FDT xmlns="x-schema:FDTHARTCommunicationSchema.xml"
     xmlns:fdt="x-schema:FDTDataTypesSchema.xml">
  <ConnectRequest fdt:tag="LT-101" preambleCount="5" primaryMaster="1" longFrameRequired="1" fdt:systemTag="S1">
    <LongAddress manufacturerId="96" deviceTypeId="200" deviceId="12345"/><ShortAddress shortAddress="0"/>
  </ConnectRequest>
  <ConnectResponse fdt:tag="LT-101" preambleCount="5" primaryMaster="1" communicationReference="ref-1">
    <ShortAddress shortAddress="0"/><LongAddress manufacturerId="96"/>
  </ConnectResponse>
  <DisconnectResponse communicationReference="ref-1"/>
  <DataExchangeResponse communicationReference="ref-1">
    <fdt:CommunicationData byteArray="0102"/>
    <Status deviceStatus="64"><CommunicationStatus value="0"/><CommandResponse value="0"/></Status>
  </DataExchangeResponse>
  <fdt:CommunicationError communicationReference="ref-1" description="timeout"/>
  <FDTChannel fdt:id="ch1" protectedByChannelAssignment="0"/>
  <fdt:BusCategories><fdt:BusCategory busCategory="hart"/><fdt:BusCategory busCategory="other"/></fdt:BusCategories>
  <PduPosition bitOffset="8" wBitLength="16"/>
</FDT>)";

constexpr const char* kTranslationDocument = R"(<localization>
  <general><languages>
    <language><locale code="de">Deutsch</locale><locale code="en">English</locale></language>
  </languages></general>
  <StringList><AboutFile>about.htm</AboutFile><Communication_Progress>Busy</Communication_Progress>
    <GsdFiles>g</GsdFiles><EdsFiles>e</EdsFiles></StringList>
  <ToolkitMessages><Message id="1007">Download parameters failed</Message><Message id="2002">Bad value</Message></ToolkitMessages>
  <DTM>
    <EnumerationList>
      <Enumeration id="5"><Description>Units</Description><Label>Unit</Label>
        <EnumerationEntry id="1"><Label>m</Label><Description>metre</Description></EnumerationEntry>
        <EnumerationEntry id="2"><Label>ft</Label></EnumerationEntry>
      </Enumeration>
    </EnumerationList>
    <FunctionList><Function id="3"><Name>Diagnosis</Name></Function></FunctionList>
    <ParameterList><Parameter parId="101"><Name>PV</Name><Description>Primary value</Description></Parameter></ParameterList>
  </DTM>
  <ActiveXList>
    <ActiveX classname="HartPP Ctrl"><Title>HART</Title><HelpFile>h.chm</HelpFile>
      <Control resId="1001"><Text>Tag</Text><Tooltip>The tag</Tooltip></Control>
      <Control name="IDC_STATIC_PV"><Text>PV</Text></Control>
    </ActiveX>
  </ActiveXList>
</localization>)";

struct PathCase {
  const char* context;  // a path from the document to the context node; "" for the document
  const char* path;
  std::vector<std::string> expected;
};

void RunCases(const char* text, const std::vector<PathCase>& cases) {
  ComScope com;
  auto doc = NewDocument();
  ASSERT_TRUE(Load(doc.Get(), text));
  for (const auto& c : cases) {
    ComPtr<IXMLDOMNode> ctx = doc.Get();
    if (*c.context) ctx = Select1(doc.Get(), c.context);
    ASSERT_TRUE(ctx) << c.context;
    HRESULT hr;
    auto got = SelectAll(ctx.Get(), c.path, &hr);
    EXPECT_EQ(hr, S_OK) << c.path << ": " << N(vkr::platform::LastSelectionError());
    EXPECT_EQ(got, c.expected) << "path " << c.path << " from '" << c.context << "'";
    ComPtr<IXMLDOMNode> single;
    EXPECT_EQ(ctx->selectSingleNode(Bstr(U(c.path)), single.Put()), c.expected.empty() ? S_FALSE : S_OK) << c.path;
  }
}

TEST(XPath, DeviceAndParameterDocumentPaths) {
  RunCases(kDeviceDocument,
           {
               {"", "/FDT", {"FDT"}},
               {"", "FDT/DtmDevice", {"DtmDevice"}},
               {"", "FDT/DtmDevice/@fdt:tag", {"fdt:tag=LT-101"}},
               {"", "FDT/DtmDevice/ExportedVariables/fdt:DtmVariables[@name = \"SV\"]", {"fdt:DtmVariables"}},
               {"FDT/DtmDevice/ExportedVariables", "fdt:DtmVariables[@name = \"PV\"]", {"fdt:DtmVariables"}},
               {"", "FDT/fdt:DtmDeviceType", {"fdt:DtmDeviceType"}},
               {"", "*/FDTUserInformation/@userLevel", {"userLevel=maintenance"}},
               {"", "FDT/FrameVersion/fdtvers:FDTVersion/@major", {"major=1"}},
               {"", "FDT/FrameVersion/fdtvers:FDTVersion/@minor", {"minor=2"}},
               {"", "FDT/FrameVersion/fdtvers:FDTVersion/@release", {"release=1"}},
               {"", "FDT/ParentVersion/fdtvers:FDTVersion/@release", {"release=0"}},
               {"", "//SystemGuiLabel/@fdt:systemGuiLabel", {"fdt:systemGuiLabel=Level"}},
               {"", "FDT/DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType", {"fdt:DtmDeviceType"}},
               {"", "//DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType/@nodeId", {"nodeId=n2"}},
               {"", "//fdt:DtmDeviceType[@deviceTypeInformation]/@nodeId", {"nodeId=n1"}},
               {"", "//FDT/fdt:DtmDeviceType/@nodeId", {"nodeId=n1"}},
               {"", "//FDT/fdt:DtmDeviceType/@deviceTypeId", {"deviceTypeId=dt1"}},
               {"", "//FDT/fdt:DtmDeviceType/fdt:VersionInformation/@vendor", {"vendor=Vorntec"}},
               {"FDT/fdt:DtmDeviceType", "./fdt:VersionInformation/@name", {"name=VKR 100"}},
               {"", "//fdt:DtmDeviceType[ fdt:VersionInformation/@name=\"VKR 100\" ]", {"fdt:DtmDeviceType"}},
               {"", "//fdt:DtmDeviceType[ fdt:VersionInformation/@name=\"VKR 999\" ]", {}},
               {"",
                "//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@devTypeId=\"dt1\"][@busProtocolId=\"hart\"]/*",
                {"A", "B"}},
               {"",
                "//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@name=\"VKR 200\"][@vendor=\"Vorntec\"]"
                "[@version=\"1.0\"][@busProtocolId=\"hart\"]/*",
                {"C"}},
               {"", "//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@name=\"VKR 100\"][@busProtocolId=\"x\"]/*", {}},
               {"", "PARAMETERS/Parameter[@id=\"102\"]", {}},
               {"FDT", "PARAMETERS/Parameter[@id=\"102\"]/@value", {"value=abc"}},
               {"FDT", "PARAMETERS/Parameter[@id=\"102\"]/@type", {"type=8"}},
               {"", "//DtmItem", {"DtmItem", "DtmItem", "DtmItem"}},
               {"", "//DtmItem[2]/@fdt:id", {"fdt:id=2"}},
               {"", "//DtmItem[last()]/@fdt:id", {"fdt:id=3"}},
               {"", "//DtmItemSelection", {"DtmItemSelection"}},
               {"FDT/DtmItemList/DtmItem", "./fdt:Variant", {"fdt:Variant"}},
               {"FDT/DtmItemList/DtmItem", "./TimeStamp/@fdt:time", {"fdt:time=2024-01-02T03:04:05"}},
               {"FDT/DtmItemList/DtmItem/fdt:Variant", "fdt:NumberData/@number", {"number=1.5"}},
               {"FDT/DtmItemList/DtmItem[2]/fdt:Variant", "fdt:StringData/@string", {"string=text"}},
               {"FDT/DtmItemList/DtmItem[3]/fdt:Variant", "fdt:TimeData/@time", {"time=2024-05-06T07:08:09"}},
               {"", "FDT/@operationPhase", {"operationPhase=engineering"}},
               {"", "FDT/FDTFunctionCall/@func:functionId", {"func:functionId=7"}},
               {"", "*/FDTFunctionCall/@func:functionId", {"func:functionId=7"}},
               {"", "*/FDTFunctionCall/@ops:operationPhase", {"ops:operationPhase=engineering"}},
               {"", "//StandardFunction[@functionId=7]", {"StandardFunction"}},
               {"", "//Function[@functionId=3]", {"Function"}},
               {"", "//*[@functionId=7]/@fdt:name", {"fdt:name=Standard"}},
               {"", "//*[@functionId=3]/@fdt:name", {"fdt:name=Diagnosis"}},
               {"FDT/Functions/Function", "appId:ApplicationId/@applicationId", {"applicationId=fdtDiagnosis"}},
               {"FDT/Result", ".//@resultMessage", {"resultMessage=done", "resultMessage=inner"}},
               {"FDT", "AddressInformation/Protocol", {"Protocol"}},
               {"FDT/AddressInformation",
                "Protocol[@id=\"036D1498-387B-11D4-86E1-00E0987270B9\"]/HARTAddress[@service = \"read\"]/@command",
                {"command=3"}},
               {"FDT", "TypeInformation/Simple/@iecType", {"iecType=REAL"}},
               {"FDT", "TypeInformation/Array", {}},
               {"FDT", "TypeInformation/Struct", {}},
               {"FDT",
                "PrivateProperties/Property[@name=\"PrivateProperties\"]/Property[@name=\"varType\"]/@value",
                {"value=inputVar"}},
               {"", "OnParameterChangedDocument/PARAMETERS", {}},
               {"FDT", "OnParameterChangedDocument/PARAMETERS", {"PARAMETERS"}},
               {"FDT", "OnParameterChangedDocument/ChannelCollection", {"ChannelCollection"}},
           });
}

TEST(XPath, CommunicationDocumentPaths) {
  RunCases(kCommunicationDocument,
           {
               {"", "FDT/ConnectRequest/@fdt:tag", {"fdt:tag=LT-101"}},
               {"", "FDT/ConnectRequest/@preambleCount", {"preambleCount=5"}},
               {"", "FDT/ConnectRequest/@primaryMaster", {"primaryMaster=1"}},
               {"", "FDT/ConnectRequest/@longFrameRequired", {"longFrameRequired=1"}},
               {"", "FDT/ConnectRequest/LongAddress", {"LongAddress"}},
               {"", "FDT/ConnectRequest/LongAddress/@manufacturerId", {"manufacturerId=96"}},
               {"", "FDT/ConnectRequest/ShortAddress/@shortAddress", {"shortAddress=0"}},
               {"", "//FDT/ConnectRequest/@fdt:systemTag", {"fdt:systemTag=S1"}},
               {"", "FDT/ConnectResponse/@communicationReference", {"communicationReference=ref-1"}},
               {"", "FDT/ConnectResponse/@fdt:tag", {"fdt:tag=LT-101"}},
               {"", "FDT/ConnectResponse/LongAddress", {"LongAddress"}},
               {"", "FDT/DisconnectResponse/@communicationReference", {"communicationReference=ref-1"}},
               {"", "FDT/DataExchangeResponse", {"DataExchangeResponse"}},
               {"FDT/DataExchangeResponse", "fdt:CommunicationData/@byteArray", {"byteArray=0102"}},
               {"FDT/DataExchangeResponse", "Status/@deviceStatus", {"deviceStatus=64"}},
               {"FDT/DataExchangeResponse", "Status/CommunicationStatus/@value", {"value=0"}},
               {"FDT/DataExchangeResponse", "Status/CommandResponse/@value", {"value=0"}},
               {"", "FDT/fdt:CommunicationError", {"fdt:CommunicationError"}},
               {"", "FDT/SubscribeResponse", {}},
               {"", "FDT/FDTChannel/@fdt:id", {"fdt:id=ch1"}},
               {"", "FDT/FDTChannel/@protectedByChannelAssignment", {"protectedByChannelAssignment=0"}},
               {"", "FDT/fdt:BusCategories/fdt:BusCategory", {"fdt:BusCategory", "fdt:BusCategory"}},
               {"", "//PduPosition/@bitOffset", {"bitOffset=8"}},
               {"", "//PduPosition/@wBitLength", {"wBitLength=16"}},
           });
}

TEST(XPath, TranslationDocumentPaths) {
  RunCases(kTranslationDocument,
           {
               {"", "localization/general/languages/language", {"language"}},
               {"", "localization/general/languages/language/locale[@code = \"de\"]", {"locale"}},
               {"", "localization/StringList/AboutFile", {"AboutFile"}},
               {"", "localization/StringList/Communication_Progress", {"Communication_Progress"}},
               {"", "localization/StringList/GsdFiles", {"GsdFiles"}},
               {"", "localization/StringList/EdsFiles", {"EdsFiles"}},
               {"", "localization/ToolkitMessages/Message[@id=\"1007\"]", {"Message"}},
               {"", "localization/ToolkitMessages/Message[@id=2002]", {"Message"}},
               {"", "localization/DTM/EnumerationList/Enumeration[@id=\"5\"]/EnumerationEntry[@id=\"1\"]/Label", {"Label"}},
               {"", "localization/DTM/EnumerationList/Enumeration[@id=\"5\"]/EnumerationEntry[@id=\"2\"]/Description", {}},
               {"", "localization/DTM/EnumerationList/Enumeration[@id=\"5\"]/Label", {"Label"}},
               {"", "localization/DTM/FunctionList/Function[@id=\"3\"]/Name", {"Name"}},
               {"", "localization/DTM/FunctionList/Function[@id=3]/Name", {"Name"}},
               {"", "localization/DTM/ParameterList/Parameter[@parId=\"101\"]/Name", {"Name"}},
               {"", "localization/DTM/ParameterList/Parameter[@parId=\"101\"]/Description", {"Description"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"HartPP Ctrl\"]/Title", {"Title"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"HartPP Ctrl\"]/HelpFile", {"HelpFile"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"HartPP Ctrl\"]/Control[@resId = \"1001\"]/Text", {"Text"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"HartPP Ctrl\"]/Control[@resId = \"1001\"]/Tooltip", {"Tooltip"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"HartPP Ctrl\"]/Control[@name = \"IDC_STATIC_PV\"]/Text", {"Text"}},
               {"", "localization/ActiveXList/ActiveX[@classname=\"Other Ctrl\"]/Title", {}},
           });
}

// Names compare as written: the prefix is part of the name, a default namespace is not.
TEST(XPath, NamesMatchAsWritten) {
  RunCases(kDeviceDocument,
           {
               {"", "//fdt:Variant/@dataType", {"dataType=float", "dataType=ascii", "dataType=dateAndTime"}},
               {"", "//x:Variant/@dataType", {"dataType=other-prefix"}},
               {"", "//Variant", {}},
               {"", "//fdt:*[@dataType='ascii']", {"fdt:Variant"}},
               {"FDT/DtmDevice", "@*", {"fdt:tag=LT-101", "fdt:dataSetState=allDataLoaded"}},
           });
}

TEST(XPath, PathLanguage) {
  constexpr const char* doc = R"(<r a="1"><i n="1">one</i><i n="2"><![CDATA[two]]></i><!--c--><j/><i n="3">three</i></r>)";
  RunCases(doc,
           {
               {"", "r/i", {"i", "i", "i"}},
               {"", "r/i[1]", {"i"}},
               {"", "r/i[position() = 2]/@n", {"n=2"}},
               {"", "r/i[last()]/@n", {"n=3"}},
               {"", "r/i[@n != '2']/@n", {"n=1", "n=3"}},
               {"", "r/i[@n = '1' or @n = '3']/@n", {"n=1", "n=3"}},
               {"", "r/i[@n > 1 and @n < 3]/@n", {"n=2"}},
               {"", "r/i[@n >= 2][1]/@n", {"n=2"}},
               {"", "r/i[. = 'three']/@n", {"n=3"}},
               {"", "r[i = 'two']/@a", {"a=1"}},
               {"", "r[i = 'none']", {}},
               {"", "r/i/text()", {"#text=one", "#cdata-section=two", "#text=three"}},
               {"", "r/node()", {"i", "i", "#comment=c", "j", "i"}},
               {"", "r/comment()", {"#comment=c"}},
               {"r/j", "..", {"r"}},
               {"r/j", ".", {"j"}},
               {"r/j", "../@a", {"a=1"}},
               {"r/j", "/r/@a", {"a=1"}},
               {"r/j", "preceding-sibling::i/@n", {"n=1", "n=2"}},
               {"r/j", "preceding-sibling::i[1]/@n", {"n=2"}},
               {"r/j", "following-sibling::*", {"i"}},
               {"r/j", "ancestor::*", {"r"}},
               {"", "//i[not(@n = 2)]/@n", {"n=1", "n=3"}},
               {"", "//i[contains(., 'hr')]/@n", {"n=3"}},
               {"", "//i[starts-with(@n, '2')]/@n", {"n=2"}},
               {"", "r[count(i) = 3]/@a", {"a=1"}},
               {"", "//*[name() = 'j']", {"j"}},
               {"", "r/j | r/i[1]", {"i", "j"}},
               {"", "r/@*", {"a=1"}},
               {"", "r/missing/deeper", {}},
           });
}

TEST(XPath, NamespaceDeclarationsAreNotAttributes) {
  RunCases("<r xmlns='u' xmlns:p='v' a='1'/>", {{"", "r/@*", {"a=1"}}, {"", "r/@xmlns", {}}});
}

TEST(XPath, PathsThatDoNotParseFailWithAReason) {
  ComScope com;
  auto doc = NewDocument();
  ASSERT_TRUE(Load(doc.Get(), "<r/>"));
  std::string nested(200, '(');
  const std::string bad[] = {"",         "r[",        "r]",          "@",         "r/",         "//",
                             "r[@a='x]", "r[foo()]",  "unknown::x",  "r[@a=]",    "'literal'",  "1 + 2",
                             "count(r)", "r[last(1)]", "#x",         nested + "r", "r[" + nested + "1]",
                             "r/i[@n = 1 or]"};
  for (const auto& p : bad) {
    HRESULT hr;
    SelectAll(doc.Get(), p, &hr);
    EXPECT_EQ(hr, E_FAIL) << "'" << p << "'";
    EXPECT_FALSE(vkr::platform::LastSelectionError().empty()) << "'" << p << "'";
    ComPtr<IXMLDOMNode> one;
    EXPECT_EQ(doc->selectSingleNode(Bstr(U(p)), one.Put()), E_FAIL) << p;
    EXPECT_FALSE(one);
  }
}

// Compiled paths are kept for the process and shared by threads (run under ThreadSanitizer): the
// same paths, and paths each thread makes anew, select the same on every thread; a path that does
// not parse keeps failing with its reason.
TEST(XPath, KeptPathsSelectTheSameOnEveryThread) {
  std::atomic<int> wrong{0};
  auto run = [&](int thread) {
    ComScope com;
    auto doc = NewDocument();
    if (!Load(doc.Get(), "<r><i n='1'>a</i><i n='2'>b</i><i n='3'>c</i></r>")) {
      ++wrong;
      return;
    }
    for (int k = 0; k < 200; ++k) {
      const int n = 1 + (k + thread) % 3;
      const std::string own = "r/i[@n = '" + std::to_string(n) + "' and " + std::to_string(thread * 1000 + k + 1) + " > 0]";
      const std::vector<std::string> expected{"i"};
      if (SelectAll(doc.Get(), "r/i[@n = " + std::to_string(n) + "]") != expected) ++wrong;
      if (SelectAll(doc.Get(), own) != expected) ++wrong;
      if (SelectAll(doc.Get(), "r/i").size() != 3u) ++wrong;
      HRESULT hr = S_OK;
      SelectAll(doc.Get(), "r[", &hr);
      if (hr != E_FAIL || vkr::platform::LastSelectionError().empty()) ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(run, t);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vkr::xmltest

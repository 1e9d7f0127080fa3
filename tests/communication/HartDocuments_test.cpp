// The FDT HART communication documents: the exact request texts, their read-back, every response
// kind, missing required values, unknown documents, the error words, and validation of what the
// DTM writes against the frame's schemas.
#include <gtest/gtest.h>

#include <functional>

#include "communication/HartRecords.h"
#include "tests/support/communication_helpers.h"

namespace {

using namespace vkr::test;
using vkr::Bstr;
using vkr::ComPtr;

class HartDocuments : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

std::string Written(HARTConnectRequestInfo& info) {
  Bstr text;
  HRESULT hr = info.WriteXml(text.Put());
  return SUCCEEDED(hr) ? U8(text) : "failed " + std::to_string(hr);
}
std::string Written(HARTDisconnectRequestInfo& info) {
  Bstr text;
  HRESULT hr = info.WriteXml(text.Put());
  return SUCCEEDED(hr) ? U8(text) : "failed " + std::to_string(hr);
}
std::string Written(HARTTransactRequestInfo& info) {
  Bstr text;
  HRESULT hr = info.WriteXml(text.Put());
  return SUCCEEDED(hr) ? U8(text) : "failed " + std::to_string(hr);
}

const std::string kConnectHead =
    "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" \n"
    "     xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n";
const std::string kTransactHead =
    "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n";

std::unique_ptr<SovFDT_HART_DataExchangeRequest> Payload(BYTE command, const char16_t* data) {
  auto p = std::make_unique<SovFDT_HART_DataExchangeRequest>();
  p->byCommandNumber = command;
  if (data) {
    p->bHasRequestData = true;
    p->bstrRequestData = Bstr(data);
  }
  return p;
}

// ---- Request texts ----

TEST_F(HartDocuments, ConnectRequestKeepsABlankForEveryAbsentPart) {
  HARTConnectRequestInfo info;
  info.bstrTag = Bstr(u"VKR 6");
  info.byShortAddress = 0;
  EXPECT_EQ(Written(info), kConnectHead +
                               "    <ConnectRequest fdt:tag=\"VKR 6\"    >\n"
                               "         \n"
                               "        <ShortAddress shortAddress=\"0\" />\n</ConnectRequest>\n</FDT>");
}

TEST_F(HartDocuments, ConnectRequestWritesOptionalsInTheirOrderAndShortAddressAfterLongAddress) {
  HARTConnectRequestInfo info;
  info.bstrTag = Bstr(u"LT1");
  info.bPreambleCountPresent = true;
  info.byPreambleCount = 5;
  info.bPrimaryMasterPresent = true;
  info.bPrimaryMaster = false;
  info.bLongFrameRequiredPresent = true;
  info.bLongFrameRequired = true;
  info.bSystemTagPresent = true;
  info.bstrSystemTag = Bstr(u"SYS");
  info.bLongAddressPresent = true;
  info.longAddress.byManufacturerId = 0x26;
  info.longAddress.byDeviceTypeId = 200;
  info.longAddress.byAddress1 = 0;
  info.longAddress.byAddress2 = 17;
  info.longAddress.byAddress3 = 255;
  info.byShortAddress = 15;
  EXPECT_EQ(Written(info),
            kConnectHead +
                "    <ConnectRequest fdt:tag=\"LT1\" preambleCount=\"5\" primaryMaster=\"0\" longFrameRequired=\"1\" "
                "fdt:systemTag=\"SYS\">\n"
                "        <LongAddress manufacturerId=\"38\" deviceTypeId=\"200\" address1=\"0\" address2=\"17\" "
                "address3=\"255\" />\n"
                "        <ShortAddress shortAddress=\"15\" />\n</ConnectRequest>\n</FDT>");
  info.bPrimaryMaster = true;
  info.bLongFrameRequired = false;
  const std::string text = Written(info);
  EXPECT_NE(text.find(" primaryMaster=\"1\" longFrameRequired=\"0\" "), std::string::npos) << text;
}

TEST_F(HartDocuments, DisconnectAndAbortTexts) {
  HARTDisconnectRequestInfo info;
  info.SetCommunicationReference(Bstr(u"3F2504E0-4F89-11D3-9A0C-0305E82C3301"));
  EXPECT_EQ(Written(info), kConnectHead +
                               "    <DisconnectRequest communicationReference =\""
                               "3F2504E0-4F89-11D3-9A0C-0305E82C3301\" />\n</FDT>");
  Bstr abort;
  ASSERT_EQ(WriteAbortXml(Bstr(u"R1"), abort.Put()), S_OK);
  EXPECT_EQ(U8(abort),
            "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\">\n<Abort communicationReference=\"R1\" />\n</FDT>");
  EXPECT_EQ(WriteAbortXml(Bstr(u"R1"), nullptr), E_INVALIDARG);
}

TEST_F(HartDocuments, TransactionRequestTextsByKind) {
  struct Case {
    const char* name;
    LONG kind;
    BYTE command;
    const char16_t* data;  // null: no request data
    bool payload;
    std::string expected;
  } cases[] = {
      {"read without data", kHartDataExchangeRequest, 3, nullptr, true,
       kTransactHead + "<DataExchangeRequest commandNumber=\"3\" communicationReference=\"R\">\n \n"
                       "</DataExchangeRequest>\n</FDT>"},
      {"with data", kHartDataExchangeRequest, 255, u"0102", true,
       kTransactHead + "<DataExchangeRequest commandNumber=\"255\" communicationReference=\"R\">\n"
                       "<fdt:CommunicationData byteArray=\"0102\" />\n\n</DataExchangeRequest>\n</FDT>"},
      {"subscribe", kHartSubscribeRequest, 0, nullptr, false,
       kTransactHead + "<SubscribeRequest communicationReference=\"R\" />\n</FDT>"},
      {"unsubscribe", kHartUnsubscribeRequest, 0, nullptr, false,
       kTransactHead + "<UnsubscribeRequest communicationReference=\"R\" />\n</FDT>"},
      {"data exchange without payload", kHartDataExchangeRequest, 0, nullptr, false,
       "failed " + std::to_string(E_POINTER)},
      {"a response kind", kHartDataExchangeResponse, 0, nullptr, true, "failed " + std::to_string(E_FAIL)},
      {"unknown kind", 0, 0, nullptr, false, "failed " + std::to_string(E_FAIL)},
  };
  for (const Case& c : cases) {
    HARTTransactRequestInfo info;
    info.SetCommunicationReference(Bstr(u"R"));
    info.nKind = c.kind;
    if (c.payload) info.pPayload = Payload(c.command, c.data);
    EXPECT_EQ(Written(info), c.expected) << c.name;
  }
}

TEST_F(HartDocuments, WritersRefuseANullOutPointer) {
  HARTConnectRequestInfo connect;
  HARTDisconnectRequestInfo disconnect;
  HARTTransactRequestInfo transact;
  transact.pPayload = Payload(1, nullptr);
  EXPECT_EQ(connect.WriteXml(nullptr), E_INVALIDARG);
  EXPECT_EQ(disconnect.WriteXml(nullptr), E_INVALIDARG);
  EXPECT_EQ(transact.WriteXml(nullptr), E_INVALIDARG);
}

// Markup in a tag or a reference must not break the document or add to it.
TEST_F(HartDocuments, TextsInAttributesAreEscaped) {
  const char16_t* const hostile[] = {u"A\"B", u"x<y>&z", u"it's", u"\"/><Abort communicationReference=\"1",
                                     u"tab\there"};
  for (const char16_t* text : hostile) {
    const std::string shown = vkr::Utf16ToUtf8(text);
    HARTConnectRequestInfo connect;
    connect.bstrTag = Bstr(text);
    connect.bSystemTagPresent = true;
    connect.bstrSystemTag = Bstr(text);
    Bstr written;
    ASSERT_EQ(connect.WriteXml(written.Put()), S_OK);
    ComPtr<IXMLDOMDocument2> document = Load(written.View());
    ASSERT_TRUE(document) << shown << ": " << U8(written);
    HARTConnectRequestInfo back;
    ASSERT_EQ(back.ReadXml(document.Get()), S_OK) << shown;
    EXPECT_EQ(U8(back.bstrTag), shown);
    EXPECT_EQ(U8(back.bstrSystemTag), shown);

    HARTTransactRequestInfo transact;
    transact.SetCommunicationReference(Bstr(text));
    transact.pPayload = Payload(1, text);
    ASSERT_EQ(transact.WriteXml(written.Put()), S_OK);
    document = Load(written.View());
    ASSERT_TRUE(document) << shown << ": " << U8(written);
    HARTTransactRequestInfo transactBack;
    ASSERT_EQ(transactBack.ReadXml(document.Get()), S_OK) << shown;
    EXPECT_EQ(U8(transactBack.m_bstrCommunicationReference), shown);
    EXPECT_EQ(U8(transactBack.pPayload->bstrRequestData), shown);

    HARTDisconnectRequestInfo disconnect;
    disconnect.SetCommunicationReference(Bstr(text));
    ASSERT_EQ(disconnect.WriteXml(written.Put()), S_OK);
    document = Load(written.View());
    ASSERT_TRUE(document) << shown;
    HARTDisconnectRequestInfo disconnectBack;
    ASSERT_EQ(disconnectBack.ReadXml(document.Get()), S_OK);
    EXPECT_EQ(U8(disconnectBack.m_bstrCommunicationReference), shown);

    ASSERT_EQ(WriteAbortXml(Bstr(text), written.Put()), S_OK);
    ASSERT_TRUE(Load(written.View())) << shown;
  }
}

// ---- Read-back of the request documents ----

TEST_F(HartDocuments, ConnectRequestReadsBackWhatWasWritten) {
  for (int variant = 0; variant < 2; ++variant) {
    HARTConnectRequestInfo in;
    in.bstrTag = Bstr(u"T");
    in.byShortAddress = 9;
    if (variant == 1) {
      in.bPreambleCountPresent = true;
      in.byPreambleCount = 20;
      in.bPrimaryMasterPresent = true;
      in.bPrimaryMaster = true;
      in.bLongFrameRequiredPresent = true;
      in.bLongFrameRequired = true;
      in.bLongAddressPresent = true;
      in.longAddress.byManufacturerId = 1;
      in.longAddress.byDeviceTypeId = 2;
      in.longAddress.byAddress1 = 3;
      in.longAddress.byAddress2 = 4;
      in.longAddress.byAddress3 = 5;
      in.bSystemTagPresent = true;
      in.bstrSystemTag = Bstr(u"S");
    }
    Bstr written;
    ASSERT_EQ(in.WriteXml(written.Put()), S_OK);
    ComPtr<IXMLDOMDocument2> document = Load(written.View());
    ASSERT_TRUE(document);
    HARTConnectRequestInfo out;
    out.bPrimaryMasterPresent = true;  // stale values must go
    out.bLongAddressPresent = true;
    ASSERT_EQ(out.ReadXml(document.Get()), S_OK) << variant;
    EXPECT_EQ(U8(out.bstrTag), "T");
    EXPECT_EQ(out.byShortAddress, 9);
    EXPECT_EQ(out.bPreambleCountPresent, in.bPreambleCountPresent);
    EXPECT_EQ(out.byPreambleCount, in.byPreambleCount);
    EXPECT_EQ(out.bPrimaryMasterPresent, in.bPrimaryMasterPresent);
    EXPECT_EQ(out.bPrimaryMaster, in.bPrimaryMaster);
    EXPECT_EQ(out.bLongFrameRequiredPresent, in.bLongFrameRequiredPresent);
    EXPECT_EQ(out.bLongFrameRequired, in.bLongFrameRequired);
    EXPECT_EQ(out.bLongAddressPresent, in.bLongAddressPresent);
    EXPECT_EQ(out.longAddress.byAddress3, in.longAddress.byAddress3);
    EXPECT_EQ(out.bSystemTagPresent, in.bSystemTagPresent);
    EXPECT_EQ(U8(out.bstrSystemTag), U8(in.bstrSystemTag));
  }
}

TEST_F(HartDocuments, TransactionRequestsReadBackTheirKind) {
  const LONG kinds[] = {kHartDataExchangeRequest, kHartSubscribeRequest, kHartUnsubscribeRequest};
  for (LONG kind : kinds) {
    HARTTransactRequestInfo in;
    in.SetCommunicationReference(Bstr(u"REF"));
    in.nKind = kind;
    if (kind == kHartDataExchangeRequest) in.pPayload = Payload(48, u"AB");
    Bstr written;
    ASSERT_EQ(in.WriteXml(written.Put()), S_OK);
    ComPtr<IXMLDOMDocument2> document = Load(written.View());
    ASSERT_TRUE(document) << kind;
    HARTTransactRequestInfo out;
    out.pPayload = Payload(1, u"FF");  // replaced or dropped
    ASSERT_EQ(out.ReadXml(document.Get()), S_OK) << kind;
    EXPECT_EQ(out.nKind, kind);
    EXPECT_EQ(U8(out.m_bstrCommunicationReference), "REF");
    if (kind == kHartDataExchangeRequest) {
      ASSERT_TRUE(out.pPayload);
      EXPECT_EQ(out.pPayload->byCommandNumber, 48);
      EXPECT_TRUE(out.pPayload->bHasRequestData);
      EXPECT_EQ(U8(out.pPayload->bstrRequestData), "AB");
    } else {
      EXPECT_FALSE(out.pPayload) << kind;
    }
  }
  // A read without request data reads back without data.
  HARTTransactRequestInfo in;
  in.pPayload = Payload(3, nullptr);
  Bstr written;
  ASSERT_EQ(in.WriteXml(written.Put()), S_OK);
  HARTTransactRequestInfo out;
  ASSERT_EQ(out.ReadXml(Load(written.View()).Get()), S_OK);
  ASSERT_TRUE(out.pPayload);
  EXPECT_FALSE(out.pPayload->bHasRequestData);
}

TEST_F(HartDocuments, RequestReadersRefuseIncompleteOrForeignDocuments) {
  struct Case {
    const char* name;
    const char16_t* xml;
    HRESULT connect, disconnect, transact;
  } cases[] = {
      {"connect without tag", u"<FDT><ConnectRequest><ShortAddress shortAddress=\"1\"/></ConnectRequest></FDT>", E_FAIL,
       E_FAIL, E_INVALIDARG},
      {"connect without short address", u"<FDT><ConnectRequest fdt:tag=\"T\" xmlns:fdt=\"x\"/></FDT>", E_FAIL, E_FAIL,
       E_INVALIDARG},
      {"long address missing a byte",
       u"<FDT xmlns:fdt=\"x\"><ConnectRequest fdt:tag=\"T\"><LongAddress manufacturerId=\"1\" deviceTypeId=\"2\" "
       u"address1=\"3\" address2=\"4\"/><ShortAddress shortAddress=\"1\"/></ConnectRequest></FDT>",
       E_FAIL, E_FAIL, E_INVALIDARG},
      {"preamble count not a byte",
       u"<FDT xmlns:fdt=\"x\"><ConnectRequest fdt:tag=\"T\" preambleCount=\"300\"><ShortAddress shortAddress=\"1\"/>"
       u"</ConnectRequest></FDT>",
       DISP_E_OVERFLOW, E_FAIL, E_INVALIDARG},
      {"disconnect without reference", u"<FDT><DisconnectRequest/></FDT>", E_FAIL, E_FAIL, E_INVALIDARG},
      {"data exchange without command", u"<FDT><DataExchangeRequest communicationReference=\"R\"/></FDT>", E_FAIL,
       E_FAIL, E_FAIL},
      {"subscribe without reference", u"<FDT><SubscribeRequest/></FDT>", E_FAIL, E_FAIL, E_FAIL},
      {"a response", u"<FDT><DataExchangeResponse communicationReference=\"R\"/></FDT>", E_FAIL, E_FAIL,
       E_INVALIDARG},
  };
  for (const Case& c : cases) {
    ComPtr<IXMLDOMDocument2> document = Load(c.xml);
    ASSERT_TRUE(document) << c.name;
    HARTConnectRequestInfo connect;
    connect.bstrTag = Bstr(u"kept");
    HARTDisconnectRequestInfo disconnect;
    HARTTransactRequestInfo transact;
    transact.nKind = kHartSubscribeRequest;
    EXPECT_EQ(connect.ReadXml(document.Get()), c.connect) << c.name;
    EXPECT_EQ(U8(connect.bstrTag), "kept") << c.name << ": a failed read changed the record";
    EXPECT_EQ(disconnect.ReadXml(document.Get()), c.disconnect) << c.name;
    EXPECT_EQ(transact.ReadXml(document.Get()), c.transact) << c.name;
    EXPECT_EQ(transact.nKind, kHartSubscribeRequest) << c.name;
  }
  HARTConnectRequestInfo connect;
  EXPECT_EQ(connect.ReadXml(nullptr), E_INVALIDARG);
}

// ---- Responses ----

TEST_F(HartDocuments, ConnectResponseReadsEveryFieldWithOrWithoutLongAddress) {
  ComPtr<IXMLDOMDocument2> document = Load(
      u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      u"<ConnectResponse fdt:tag=\"LT\" preambleCount=\"5\" primaryMaster=\"1\" communicationReference=\"CR\">"
      u"<LongAddress manufacturerId=\"38\" deviceTypeId=\"225\" address1=\"1\" address2=\"2\" address3=\"3\"/>"
      u"<ShortAddress shortAddress=\"4\"/></ConnectResponse></FDT>");
  ASSERT_TRUE(document);
  HARTConnectResponseInfo info;
  ASSERT_EQ(info.ReadXml(document.Get()), S_OK);
  EXPECT_EQ(U8(info.bstrTag), "LT");
  EXPECT_EQ(info.byPreambleCount, 5);
  EXPECT_TRUE(info.bPrimaryMaster);
  EXPECT_EQ(U8(info.bstrCommunicationReference), "CR");
  EXPECT_TRUE(info.bLongAddressPresent);
  EXPECT_EQ(info.longAddress.byManufacturerId, 38);
  EXPECT_EQ(info.longAddress.byDeviceTypeId, 225);
  EXPECT_EQ(info.longAddress.byAddress3, 3);
  EXPECT_EQ(info.byShortAddress, 4);

  document = Load(u"<FDT xmlns:fdt=\"x\"><ConnectResponse fdt:tag=\"LT\" preambleCount=\"5\" primaryMaster=\"false\" "
                  u"communicationReference=\"CR\"><ShortAddress shortAddress=\"0\"/></ConnectResponse></FDT>");
  ASSERT_EQ(info.ReadXml(document.Get()), S_OK);
  EXPECT_FALSE(info.bLongAddressPresent);
  EXPECT_FALSE(info.bPrimaryMaster);
}

TEST_F(HartDocuments, ConnectResponseRefusesAMissingRequiredValue) {
  const std::u16string full[] = {u"fdt:tag=\"LT\" ", u"preambleCount=\"5\" ", u"primaryMaster=\"1\" ",
                                 u"communicationReference=\"CR\" "};
  for (int missing = 0; missing < 6; ++missing) {
    std::u16string attributes;
    for (int i = 0; i < 4; ++i)
      if (i != missing) attributes += full[i];
    std::u16string children = missing == 4 ? u"" : u"<ShortAddress shortAddress=\"4\"/>";
    if (missing == 5)
      children += u"<LongAddress manufacturerId=\"1\" deviceTypeId=\"2\" address1=\"3\" address3=\"5\"/>";
    ComPtr<IXMLDOMDocument2> document =
        Load(u"<FDT xmlns:fdt=\"x\"><ConnectResponse " + attributes + u">" + children + u"</ConnectResponse></FDT>");
    ASSERT_TRUE(document) << missing;
    HARTConnectResponseInfo info;
    info.byShortAddress = 77;
    EXPECT_EQ(info.ReadXml(document.Get()), E_FAIL) << "missing part " << missing;
    EXPECT_EQ(info.byShortAddress, 77) << missing;
  }
}

TEST_F(HartDocuments, DisconnectResponseNeedsItsReference) {
  HARTDisconnectResponseInfo info;
  ASSERT_EQ(info.ReadXml(Load(u"<FDT><DisconnectResponse communicationReference=\"CR\"/></FDT>").Get()), S_OK);
  EXPECT_EQ(U8(info.bstrCommunicationReference), "CR");
  EXPECT_EQ(info.ReadXml(Load(u"<FDT><DisconnectResponse/></FDT>").Get()), E_FAIL);
  EXPECT_EQ(U8(info.bstrCommunicationReference), "CR");
  EXPECT_EQ(info.ReadXml(nullptr), E_INVALIDARG);
}

TEST_F(HartDocuments, DataExchangeResponseReadsStatusAndData) {
  struct Case {
    const char* name;
    const char16_t* xml;
    bool burstPresent, burst, hasData;
    const char* data;
    BYTE device;
    bool commPresent;
    BYTE comm;
    bool cmdPresent;
    BYTE cmd;
  } cases[] = {
      {"full",
       u"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DataExchangeResponse communicationReference=\"R\" "
       u"commandNumber=\"3\" burstFrame=\"1\"><fdt:CommunicationData byteArray=\"0A0B\"/><Status deviceStatus=\"64\">"
       u"<CommunicationStatus value=\"130\"/><CommandResponse value=\"7\"/></Status></DataExchangeResponse></FDT>",
       true, true, true, "0A0B", 64, true, 130, true, 7},
      {"status only: counts as success",
       u"<FDT><DataExchangeResponse communicationReference=\"R\" commandNumber=\"3\"><Status deviceStatus=\"0\"/>"
       u"</DataExchangeResponse></FDT>",
       false, false, false, "", 0, false, 0, false, 0},
      {"burst frame false",
       u"<FDT><DataExchangeResponse communicationReference=\"R\" commandNumber=\"3\" burstFrame=\"false\">"
       u"<Status deviceStatus=\"0\"><CommandResponse value=\"0\"/></Status></DataExchangeResponse></FDT>",
       true, false, false, "", 0, false, 0, true, 0},
  };
  for (const Case& c : cases) {
    ComPtr<IXMLDOMDocument2> document = Load(c.xml);
    ASSERT_TRUE(document) << c.name;
    HARTTransactResponseInfo info;
    ASSERT_EQ(info.ReadXml(document.Get()), S_OK) << c.name;
    EXPECT_EQ(info.nKind, kHartDataExchangeResponse);
    EXPECT_EQ(U8(info.bstrCommunicationReference), "R");
    EXPECT_EQ(info.reserved.vt, VT_EMPTY);
    ASSERT_TRUE(info.pDataExchange) << c.name;
    const SovFDT_HART_DataExchangeResponse& d = *info.pDataExchange;
    EXPECT_EQ(d.byCommandNumber, 3) << c.name;
    EXPECT_EQ(d.bBurstFramePresent, c.burstPresent) << c.name;
    EXPECT_EQ(d.bBurstFrame, c.burst) << c.name;
    EXPECT_EQ(d.bHasResponseData, c.hasData) << c.name;
    EXPECT_EQ(U8(d.bstrResponseData), c.data) << c.name;
    EXPECT_EQ(d.status.byDeviceStatus, c.device) << c.name;
    EXPECT_EQ(d.status.bCommunicationStatusPresent, c.commPresent) << c.name;
    EXPECT_EQ(d.status.byCommunicationStatus, c.comm) << c.name;
    EXPECT_EQ(d.status.bCommandResponsePresent, c.cmdPresent) << c.name;
    EXPECT_EQ(d.status.byCommandResponse, c.cmd) << c.name;
  }
}

TEST_F(HartDocuments, SubscribeAndUnsubscribeResponsesMapTheirErrorWord) {
  struct Case {
    const char16_t* xml;
    LONG kind;
    bool burst, errorPresent;
    LONG error;
  } cases[] = {
      {u"<FDT><SubscribeResponse communicationReference=\"R\" burstModeDetected=\"1\"/></FDT>", kHartSubscribeResponse,
       true, false, 0},
      {u"<FDT><SubscribeResponse communicationReference=\"R\" burstModeDetected=\"0\" communicationError=\"timeout\"/>"
       u"</FDT>",
       kHartSubscribeResponse, false, true, 7},
      // One letter's case makes it an unknown word.
      {u"<FDT><SubscribeResponse communicationReference=\"R\" burstModeDetected=\"0\" communicationError=\"Timeout\"/>"
       u"</FDT>",
       kHartSubscribeResponse, false, true, 8},
      {u"<FDT><UnsubscribeResponse communicationReference=\"R\"/></FDT>", kHartUnsubscribeResponse, false, false, 0},
      {u"<FDT><UnsubscribeResponse communicationReference=\"R\" communicationError=\"noConnection\"/></FDT>",
       kHartUnsubscribeResponse, false, true, 3},
  };
  for (const Case& c : cases) {
    const std::string shown = vkr::Utf16ToUtf8(c.xml);
    HARTTransactResponseInfo info;
    ASSERT_EQ(info.ReadXml(Load(c.xml).Get()), S_OK) << shown;
    EXPECT_EQ(info.nKind, c.kind) << shown;
    EXPECT_EQ(U8(info.bstrCommunicationReference), "R");
    EXPECT_FALSE(info.pDataExchange);
    if (c.kind == kHartSubscribeResponse) {
      ASSERT_TRUE(info.pSubscribe) << shown;
      EXPECT_FALSE(info.pUnsubscribe);
      EXPECT_EQ(info.pSubscribe->bBurstModeDetected, c.burst) << shown;
      EXPECT_EQ(info.pSubscribe->bCommunicationErrorPresent, c.errorPresent) << shown;
      EXPECT_EQ(info.pSubscribe->nCommunicationError, c.error) << shown;
    } else {
      ASSERT_TRUE(info.pUnsubscribe) << shown;
      EXPECT_FALSE(info.pSubscribe);
      EXPECT_EQ(info.pUnsubscribe->bCommunicationErrorPresent, c.errorPresent) << shown;
      EXPECT_EQ(info.pUnsubscribe->nCommunicationError, c.error) << shown;
    }
  }
}

TEST_F(HartDocuments, CommunicationErrorResponseAndItsReaders) {
  const char16_t* xml =
      u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      u"<fdt:CommunicationError communicationError=\"busy\" tag=\"LT\" errorCode=\"12\" descriptor=\"later\"/></FDT>";
  HARTTransactResponseInfo info;
  info.bstrCommunicationReference = Bstr(u"old");
  info.pDataExchange = std::make_unique<SovFDT_HART_DataExchangeResponse>();
  ASSERT_EQ(info.ReadXml(Load(xml).Get()), S_OK);
  EXPECT_EQ(info.nKind, kHartCommunicationError);
  EXPECT_FALSE(info.pDataExchange);
  EXPECT_EQ(info.bstrCommunicationReference.Get(), nullptr);
  EXPECT_EQ(U8(info.communicationError.bstrCommunicationError), "busy");
  EXPECT_EQ(U8(info.communicationError.bstrTag), "LT");
  EXPECT_TRUE(info.communicationError.bErrorCodePresent);
  EXPECT_EQ(U8(info.communicationError.bstrErrorCode), "12");
  EXPECT_TRUE(info.communicationError.bDescriptorPresent);
  EXPECT_EQ(U8(info.communicationError.bstrDescriptor), "later");

  FDT::SovFDT_FDT_CommunicationError error;
  bool isError = false;
  ASSERT_EQ(ParseCommunicationError(Load(xml).Get(), &error, &isError), S_OK);
  EXPECT_TRUE(isError);
  EXPECT_EQ(U8(error.bstrTag), "LT");

  // Optional parts absent.
  ASSERT_EQ(ParseCommunicationError(
                Load(u"<FDT><fdt:CommunicationError xmlns:fdt=\"x\" communicationError=\"abort\" tag=\"\"/></FDT>").Get(),
                &error, &isError),
            S_OK);
  EXPECT_TRUE(isError);
  EXPECT_FALSE(error.bErrorCodePresent);
  EXPECT_FALSE(error.bDescriptorPresent);
  EXPECT_EQ(U8(error.bstrCommunicationError), "abort");

  // Not an error document.
  ASSERT_EQ(ParseCommunicationError(Load(u"<FDT><ConnectResponse/></FDT>").Get(), &error, &isError), S_OK);
  EXPECT_FALSE(isError);
  // An error without its tag does not read.
  EXPECT_EQ(ParseCommunicationError(
                Load(u"<FDT><fdt:CommunicationError xmlns:fdt=\"x\" communicationError=\"abort\"/></FDT>").Get(),
                &error, &isError),
            E_FAIL);
  EXPECT_FALSE(isError);
  EXPECT_EQ(ParseCommunicationError(nullptr, &error, &isError), E_INVALIDARG);
  EXPECT_EQ(ParseCommunicationError(Load(xml).Get(), nullptr, &isError), E_INVALIDARG);
  EXPECT_EQ(ParseCommunicationError(Load(xml).Get(), &error, nullptr), E_INVALIDARG);
}

TEST_F(HartDocuments, TransactionResponseReaderKindsAndRefusals) {
  struct Case {
    const char* name;
    const char16_t* xml;
    HRESULT hr;
    LONG kind;
  } cases[] = {
      // The data exchange is tried first.
      {"data exchange and error",
       u"<FDT xmlns:fdt=\"x\"><fdt:CommunicationError communicationError=\"busy\" tag=\"T\"/><DataExchangeResponse "
       u"communicationReference=\"R\" commandNumber=\"1\"><Status deviceStatus=\"0\"/></DataExchangeResponse></FDT>",
       S_OK, kHartDataExchangeResponse},
      {"no known element", u"<FDT><ConnectResponse/></FDT>", E_INVALIDARG, -1},
      {"another root", u"<Other><DataExchangeResponse/></Other>", E_INVALIDARG, -1},
      {"data exchange without device status",
       u"<FDT><DataExchangeResponse communicationReference=\"R\" commandNumber=\"1\"><Status/></DataExchangeResponse>"
       u"</FDT>",
       E_FAIL, -1},
      {"data exchange without command",
       u"<FDT><DataExchangeResponse communicationReference=\"R\"><Status deviceStatus=\"0\"/></DataExchangeResponse>"
       u"</FDT>",
       E_FAIL, -1},
      {"data exchange without reference",
       u"<FDT><DataExchangeResponse commandNumber=\"1\"><Status deviceStatus=\"0\"/></DataExchangeResponse></FDT>",
       E_FAIL, -1},
      {"subscribe without burst mode", u"<FDT><SubscribeResponse communicationReference=\"R\"/></FDT>", E_FAIL, -1},
      {"unsubscribe without reference", u"<FDT><UnsubscribeResponse/></FDT>", E_FAIL, -1},
      {"error without word", u"<FDT xmlns:fdt=\"x\"><fdt:CommunicationError tag=\"T\"/></FDT>", E_FAIL, -1},
      {"command number out of range",
       u"<FDT><DataExchangeResponse communicationReference=\"R\" commandNumber=\"256\"><Status deviceStatus=\"0\"/>"
       u"</DataExchangeResponse></FDT>",
       DISP_E_OVERFLOW, -1},
      {"status not a number",
       u"<FDT><DataExchangeResponse communicationReference=\"R\" commandNumber=\"1\"><Status deviceStatus=\"x\"/>"
       u"</DataExchangeResponse></FDT>",
       DISP_E_TYPEMISMATCH, -1},
  };
  for (const Case& c : cases) {
    ComPtr<IXMLDOMDocument2> document = Load(c.xml);
    ASSERT_TRUE(document) << c.name;
    HARTTransactResponseInfo info;
    info.nKind = -1;
    EXPECT_EQ(info.ReadXml(document.Get()), c.hr) << c.name;
    EXPECT_EQ(info.nKind, c.kind) << c.name;
  }
  HARTTransactResponseInfo info;
  EXPECT_EQ(info.ReadXml(nullptr), E_INVALIDARG);
}

TEST(HartErrorWords, EveryWordHasItsNumberAndTheRestAreDtmSpecific) {
  const char16_t* const words[] = {u"abort",        u"busy",         u"invalidCommunicationReference",
                                   u"noConnection", u"noParallelServices", u"noPendingRequest",
                                   u"unknownError", u"timeout",      u"dtmSpecific",
                                   u"notSupportedFeature", u"sequenceTimeExpired"};
  for (LONG i = 0; i < 11; ++i) EXPECT_EQ(CommunicationErrorFromText(Bstr(words[i])), i) << vkr::Utf16ToUtf8(words[i]);
  const char16_t* const others[] = {u"", u"ABORT", u"Busy", u"timeout ", u" timeout", u"time", u"abortx"};
  for (const char16_t* w : others) EXPECT_EQ(CommunicationErrorFromText(Bstr(w)), 8) << vkr::Utf16ToUtf8(w);
  EXPECT_EQ(CommunicationErrorFromText(nullptr), 8);
  // A word with an embedded zero is not the word before the zero.
  EXPECT_EQ(CommunicationErrorFromText(Bstr(std::u16string_view(u"busy\0x", 6))), 8);
}

// ---- The frame's schemas ----

class HartDocumentSchemas : public HartDocuments {
 protected:
  void SetUp() override {
    HartDocuments::SetUp();
    ASSERT_EQ(validator.Initialize(), S_OK) << validator.errors;
  }
  SchemaValidator validator;
};

TEST_F(HartDocumentSchemas, EveryRequestTheDtmWritesValidates) {
  std::vector<std::pair<std::string, Bstr>> documents;
  // Each writer's text, written before it is stored.
  auto add = [&](const std::string& name, const std::function<HRESULT(BSTR*)>& write) {
    Bstr text;
    EXPECT_EQ(write(text.Put()), S_OK) << name;
    documents.emplace_back(name, std::move(text));
  };
  {
    HARTConnectRequestInfo info;
    info.bstrTag = Bstr(u"VKR");
    add("connect, bare", [&](BSTR* text) { return info.WriteXml(text); });
    info.bPreambleCountPresent = info.bPrimaryMasterPresent = info.bLongFrameRequiredPresent = true;
    info.bPrimaryMaster = true;
    info.bLongAddressPresent = true;
    info.bSystemTagPresent = true;
    info.bstrSystemTag = Bstr(u"S & T");
    info.byPreambleCount = 5;
    info.byShortAddress = 63;
    add("connect, full", [&](BSTR* text) { return info.WriteXml(text); });
  }
  {
    HARTDisconnectRequestInfo info;
    info.SetCommunicationReference(Bstr(u"REF"));
    add("disconnect", [&](BSTR* text) { return info.WriteXml(text); });
  }
  const LONG kinds[] = {kHartDataExchangeRequest, kHartSubscribeRequest, kHartUnsubscribeRequest};
  for (LONG kind : kinds) {
    for (int withData = 0; withData < 2; ++withData) {
      HARTTransactRequestInfo info;
      info.SetCommunicationReference(Bstr(u"REF"));
      info.nKind = kind;
      info.pPayload = Payload(3, withData ? u"0102A0" : nullptr);
      add("transaction " + std::to_string(kind) + (withData ? " with data" : ""),
          [&](BSTR* text) { return info.WriteXml(text); });
    }
  }
  {
    add("abort", [](BSTR* text) { return WriteAbortXml(Bstr(u"REF"), text); });
  }
  for (auto& [name, text] : documents)
    EXPECT_TRUE(validator.Validates(text)) << name << ":\n" << U8(text) << "\n" << validator.errors;
}

// What a frame answers, in the forms the stand-in frame writes them: valid against its schemas and
// read by the DTM.
TEST_F(HartDocumentSchemas, ValidResponsesReadBack) {
  const std::u16string head =
      u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
  const std::u16string responses[] = {
      head + u"<DataExchangeResponse communicationReference=\"R\" commandNumber=\"3\" burstFrame=\"0\">"
             u"<fdt:CommunicationData byteArray=\"0A0B\"/><Status deviceStatus=\"0\"><CommunicationStatus value=\"0\"/>"
             u"<CommandResponse value=\"0\"/></Status></DataExchangeResponse></FDT>",
      head + u"<SubscribeResponse communicationReference=\"R\" burstModeDetected=\"1\" communicationError=\"busy\"/>"
             u"</FDT>",
      head + u"<UnsubscribeResponse communicationReference=\"R\"/></FDT>",
      head + u"<fdt:CommunicationError communicationError=\"timeout\" tag=\"T\" errorCode=\"1\" descriptor=\"d\"/></FDT>",
  };
  const LONG kinds[] = {kHartDataExchangeResponse, kHartSubscribeResponse, kHartUnsubscribeResponse,
                        kHartCommunicationError};
  for (int i = 0; i < 4; ++i) {
    Bstr text(responses[i]);
    EXPECT_TRUE(validator.Validates(text)) << U8(text) << "\n" << validator.errors;
    HARTTransactResponseInfo info;
    EXPECT_EQ(info.ReadXml(Load(responses[i]).Get()), S_OK) << U8(text);
    EXPECT_EQ(info.nKind, kinds[i]);
  }
  Bstr connect(head + u"<ConnectResponse fdt:tag=\"T\" preambleCount=\"5\" primaryMaster=\"1\" "
                      u"communicationReference=\"R\"><ShortAddress shortAddress=\"0\"/><LongAddress "
                      u"manufacturerId=\"1\" deviceTypeId=\"2\" address1=\"3\" address2=\"4\" address3=\"5\"/>"
                      u"</ConnectResponse></FDT>");
  EXPECT_TRUE(validator.Validates(connect)) << validator.errors;
  HARTConnectResponseInfo connectInfo;
  EXPECT_EQ(connectInfo.ReadXml(Load(connect.View()).Get()), S_OK);
  EXPECT_TRUE(connectInfo.bLongAddressPresent);
  EXPECT_EQ(connectInfo.longAddress.byAddress3, 5);
  Bstr disconnect(head + u"<DisconnectResponse communicationReference=\"R\"/></FDT>");
  EXPECT_TRUE(validator.Validates(disconnect)) << validator.errors;
  HARTDisconnectResponseInfo disconnectInfo;
  EXPECT_EQ(disconnectInfo.ReadXml(Load(disconnect.View()).Get()), S_OK);
}

}  // namespace

// The HART records: their packed element layouts, round trips, refused arrays, and the payload a
// transaction info makes or drops by its kind.
#include <gtest/gtest.h>

#include "communication/HartRecords.h"
#include "tests/support/communication_helpers.h"

namespace {

using namespace vkr::test;
using vkr::Bstr;
using vkr::Variant;

std::string Packed(CovVAPacker& record) {
  Variant packed;
  if (!record.Pack(packed.Put())) return "pack failed";
  return DescribePacked(packed);
}

void Fill(SovFDT_HART_Status& s) {
  s.byDeviceStatus = 0x40;
  s.bCommunicationStatusPresent = true;
  s.byCommunicationStatus = 0x82;
  s.bCommandResponsePresent = true;
  s.byCommandResponse = 0x07;
}

void Fill(SovFDT_HART_LongAddress& a) {
  a.byManufacturerId = 0x26;
  a.byDeviceTypeId = 0xE1;
  a.byAddress1 = 1;
  a.byAddress2 = 2;
  a.byAddress3 = 0xFF;
}

TEST(HartRecordLayout, EveryRecordPacksItsFieldsInOrderWithTheirTypes) {
  SovFDT_HART_Status status;
  SovFDT_HART_LongAddress longAddress;
  SovFDT_HART_DataExchangeRequest request;
  SovFDT_HART_DataExchangeResponse response;
  SovFDT_HART_SubscribeResponse subscribe;
  SovFDT_HART_UnsubscribeResponse unsubscribe;
  FDT::SovFDT_FDT_CommunicationError error;
  HartProcessChannelData channel;
  HARTConnectRequestInfo connect;
  HARTDisconnectRequestInfo disconnect;
  HARTConnectResponseInfo connectResponse;
  HARTDisconnectResponseInfo disconnectResponse;
  struct Case {
    const char* name;
    CovVAPacker* record;
    const char* layout;
  } cases[] = {
      {"status", &status, "[UI1 BOOL UI1 BOOL UI1]"},
      {"long address", &longAddress, "[UI1 UI1 UI1 UI1 UI1]"},
      {"data exchange request", &request, "[UI1 BOOL BSTR]"},
      {"data exchange response", &response, "[UI1 BOOL BOOL BOOL BSTR [UI1 BOOL UI1 BOOL UI1]]"},
      {"subscribe response", &subscribe, "[BOOL BOOL I4]"},
      {"unsubscribe response", &unsubscribe, "[BOOL I4]"},
      {"communication error", &error, "[BSTR BSTR BOOL BSTR BOOL BSTR]"},
      {"channel data", &channel, "[I4 BSTR BSTR]"},
      {"connect request", &connect, "[BSTR BOOL UI1 BOOL BOOL BOOL BOOL BOOL [UI1 UI1 UI1 UI1 UI1] UI1 BOOL BSTR]"},
      {"disconnect request", &disconnect, "[BSTR]"},
      {"connect response", &connectResponse, "[BSTR BSTR UI1 BOOL BOOL [UI1 UI1 UI1 UI1 UI1] UI1]"},
      {"disconnect response", &disconnectResponse, "[BSTR]"},
  };
  for (Case& c : cases) EXPECT_EQ(Packed(*c.record), c.layout) << c.name;
}

TEST(HartRecordLayout, TrueFlagsAreMinusOne) {
  SovFDT_HART_Status status;
  Fill(status);
  Variant packed;
  ASSERT_TRUE(status.Pack(packed.Put()));
  Variant flag;
  LONG index = 1;
  ASSERT_EQ(SafeArrayGetElement(packed.parray, &index, flag.Put()), S_OK);
  EXPECT_EQ(flag.vt, VT_BOOL);
  EXPECT_EQ(flag.boolVal, -1);
}

TEST(HartRecordLayout, TransactionInfosCarryThePayloadOfTheirKind) {
  struct Case {
    LONG kind;
    bool payload;
    const char* layout;
  } requests[] = {
      {kHartDataExchangeRequest, true, "[BSTR UI4 EMPTY I4 [UI1 BOOL BSTR]]"},
      {kHartSubscribeRequest, false, "[BSTR UI4 EMPTY I4]"},
      {kHartUnsubscribeRequest, false, "[BSTR UI4 EMPTY I4]"},
      // A data exchange without its command has nothing to carry: the packing fails.
      {kHartDataExchangeRequest, false, "pack failed"},
  };
  for (const Case& c : requests) {
    HARTTransactRequestInfo info;
    info.nKind = c.kind;
    info.parameterId = UI4(1031);
    if (c.payload) info.pPayload = std::make_unique<SovFDT_HART_DataExchangeRequest>();
    EXPECT_EQ(Packed(info), c.layout) << std::hex << c.kind << " payload " << c.payload;
  }

  Case responses[] = {
      {kHartDataExchangeResponse, true, "[BSTR EMPTY I4 [UI1 BOOL BOOL BOOL BSTR [UI1 BOOL UI1 BOOL UI1]]]"},
      {kHartSubscribeResponse, true, "[BSTR EMPTY I4 [BOOL BOOL I4]]"},
      {kHartUnsubscribeResponse, true, "[BSTR EMPTY I4 [BOOL I4]]"},
      {kHartCommunicationError, false, "[BSTR EMPTY I4 [BSTR BSTR BOOL BSTR BOOL BSTR]]"},
      {0x1234, false, "[BSTR EMPTY I4]"},
      {kHartDataExchangeResponse, false, "pack failed"},
      {kHartSubscribeResponse, false, "pack failed"},
      {kHartUnsubscribeResponse, false, "pack failed"},
  };
  for (const Case& c : responses) {
    HARTTransactResponseInfo info;
    info.nKind = c.kind;
    if (c.payload) {
      info.pDataExchange = std::make_unique<SovFDT_HART_DataExchangeResponse>();
      info.pSubscribe = std::make_unique<SovFDT_HART_SubscribeResponse>();
      info.pUnsubscribe = std::make_unique<SovFDT_HART_UnsubscribeResponse>();
    }
    EXPECT_EQ(Packed(info), c.layout) << std::hex << c.kind << " payload " << c.payload;
  }
}

// ---- Round trips ----

TEST(HartRecordRoundTrip, ConnectRequestKeepsEveryField) {
  HARTConnectRequestInfo in;
  in.bstrTag = Bstr(u"LT-101");
  in.bPreambleCountPresent = true;
  in.byPreambleCount = 5;
  in.bPrimaryMasterPresent = true;
  in.bPrimaryMaster = true;
  in.bLongFrameRequiredPresent = true;
  in.bLongFrameRequired = false;
  in.bLongAddressPresent = true;
  Fill(in.longAddress);
  in.byShortAddress = 15;
  in.bSystemTagPresent = true;
  in.bstrSystemTag = Bstr(u"Plant A");
  Variant packed;
  ASSERT_TRUE(in.Pack(packed.Put()));
  HARTConnectRequestInfo out;
  ASSERT_TRUE(out.Unpack(packed));
  EXPECT_EQ(U8(out.bstrTag), "LT-101");
  EXPECT_TRUE(out.bPreambleCountPresent);
  EXPECT_EQ(out.byPreambleCount, 5);
  EXPECT_TRUE(out.bPrimaryMasterPresent && out.bPrimaryMaster);
  EXPECT_TRUE(out.bLongFrameRequiredPresent);
  EXPECT_FALSE(out.bLongFrameRequired);
  EXPECT_TRUE(out.bLongAddressPresent);
  EXPECT_EQ(out.longAddress.byManufacturerId, 0x26);
  EXPECT_EQ(out.longAddress.byDeviceTypeId, 0xE1);
  EXPECT_EQ(out.longAddress.byAddress3, 0xFF);
  EXPECT_EQ(out.byShortAddress, 15);
  EXPECT_TRUE(out.bSystemTagPresent);
  EXPECT_EQ(U8(out.bstrSystemTag), "Plant A");
}

TEST(HartRecordRoundTrip, ConnectResponseAndDisconnectInfosKeepTheirFields) {
  HARTConnectResponseInfo in;
  in.bstrCommunicationReference = Bstr(u"ref-1");
  in.bstrTag = Bstr(u"TAG");
  in.byPreambleCount = 7;
  in.bPrimaryMaster = true;
  in.bLongAddressPresent = true;
  Fill(in.longAddress);
  in.byShortAddress = 3;
  Variant packed;
  ASSERT_TRUE(in.Pack(packed.Put()));
  HARTConnectResponseInfo out;
  ASSERT_TRUE(out.Unpack(packed));
  EXPECT_EQ(U8(out.bstrCommunicationReference), "ref-1");
  EXPECT_EQ(U8(out.bstrTag), "TAG");
  EXPECT_EQ(out.byPreambleCount, 7);
  EXPECT_TRUE(out.bPrimaryMaster);
  EXPECT_TRUE(out.bLongAddressPresent);
  EXPECT_EQ(out.longAddress.byAddress1, 1);
  EXPECT_EQ(out.byShortAddress, 3);

  HARTDisconnectRequestInfo request;
  request.SetCommunicationReference(Bstr(u"ref-2"));
  ASSERT_TRUE(request.Pack(packed.Put()));
  HARTDisconnectRequestInfo requestOut;
  ASSERT_TRUE(requestOut.Unpack(packed));
  EXPECT_EQ(U8(requestOut.m_bstrCommunicationReference), "ref-2");
  HARTDisconnectResponseInfo responseOut;
  ASSERT_TRUE(responseOut.Unpack(packed));  // the same layout: one text
  EXPECT_EQ(U8(responseOut.bstrCommunicationReference), "ref-2");
}

TEST(HartRecordRoundTrip, DataExchangeRequestAndResponseKeepPayloadAndValues) {
  HARTTransactRequestInfo request;
  request.SetCommunicationReference(Bstr(u"R"));
  request.parameterId = UI4(1031);
  request.value = I4(-5);
  request.pPayload = std::make_unique<SovFDT_HART_DataExchangeRequest>();
  request.pPayload->byCommandNumber = 33;
  request.pPayload->bHasRequestData = true;
  request.pPayload->bstrRequestData = Bstr(u"0102");
  Variant packed;
  ASSERT_TRUE(request.Pack(packed.Put()));
  HARTTransactRequestInfo requestOut;
  ASSERT_TRUE(requestOut.Unpack(packed));
  EXPECT_EQ(U8(requestOut.m_bstrCommunicationReference), "R");
  EXPECT_EQ(requestOut.parameterId.vt, VT_UI4);
  EXPECT_EQ(requestOut.parameterId.ulVal, 1031u);
  EXPECT_EQ(requestOut.value.vt, VT_I4);
  EXPECT_EQ(requestOut.value.lVal, -5);
  ASSERT_TRUE(requestOut.pPayload);
  EXPECT_EQ(requestOut.pPayload->byCommandNumber, 33);
  EXPECT_TRUE(requestOut.pPayload->bHasRequestData);
  EXPECT_EQ(U8(requestOut.pPayload->bstrRequestData), "0102");

  HARTTransactResponseInfo response;
  response.bstrCommunicationReference = Bstr(u"R");
  response.nKind = kHartDataExchangeResponse;
  response.pDataExchange = std::make_unique<SovFDT_HART_DataExchangeResponse>();
  response.pDataExchange->byCommandNumber = 3;
  response.pDataExchange->bBurstFramePresent = true;
  response.pDataExchange->bBurstFrame = true;
  response.pDataExchange->bHasResponseData = true;
  response.pDataExchange->bstrResponseData = Bstr(u"00FF");
  Fill(response.pDataExchange->status);
  ASSERT_TRUE(response.Pack(packed.Put()));
  HARTTransactResponseInfo responseOut;
  ASSERT_TRUE(responseOut.Unpack(packed));
  EXPECT_EQ(responseOut.nKind, kHartDataExchangeResponse);
  ASSERT_TRUE(responseOut.pDataExchange);
  const SovFDT_HART_DataExchangeResponse& d = *responseOut.pDataExchange;
  EXPECT_EQ(d.byCommandNumber, 3);
  EXPECT_TRUE(d.bBurstFramePresent && d.bBurstFrame && d.bHasResponseData);
  EXPECT_EQ(U8(d.bstrResponseData), "00FF");
  EXPECT_EQ(d.status.byDeviceStatus, 0x40);
  EXPECT_TRUE(d.status.bCommunicationStatusPresent);
  EXPECT_EQ(d.status.byCommunicationStatus, 0x82);
  EXPECT_TRUE(d.status.bCommandResponsePresent);
  EXPECT_EQ(d.status.byCommandResponse, 0x07);
}

TEST(HartRecordRoundTrip, CommunicationErrorSurvivesPackingOfItsResponse) {
  HARTTransactResponseInfo response;
  response.nKind = kHartCommunicationError;
  response.communicationError.bstrCommunicationError = Bstr(u"timeout");
  response.communicationError.bstrTag = Bstr(u"T");
  response.communicationError.bErrorCodePresent = true;
  response.communicationError.bstrErrorCode = Bstr(u"17");
  Variant packed;
  ASSERT_TRUE(response.Pack(packed.Put()));
  HARTTransactResponseInfo out;
  ASSERT_TRUE(out.Unpack(packed));
  EXPECT_EQ(out.nKind, kHartCommunicationError);
  EXPECT_EQ(U8(out.communicationError.bstrCommunicationError), "timeout");
  EXPECT_EQ(U8(out.communicationError.bstrTag), "T");
  EXPECT_TRUE(out.communicationError.bErrorCodePresent);
  EXPECT_EQ(U8(out.communicationError.bstrErrorCode), "17");
  EXPECT_FALSE(out.communicationError.bDescriptorPresent);
}

TEST(HartRecordRoundTrip, UnpackingAgainReplacesThePayloadByTheNewKind) {
  HARTTransactRequestInfo read;
  read.pPayload = std::make_unique<SovFDT_HART_DataExchangeRequest>();
  read.pPayload->byCommandNumber = 1;
  HARTTransactRequestInfo subscribe;
  subscribe.nKind = kHartSubscribeRequest;
  Variant packedRead, packedSubscribe;
  ASSERT_TRUE(read.Pack(packedRead.Put()));
  ASSERT_TRUE(subscribe.Pack(packedSubscribe.Put()));
  HARTTransactRequestInfo target;
  ASSERT_TRUE(target.Unpack(packedRead));
  ASSERT_TRUE(target.pPayload);
  ASSERT_TRUE(target.Unpack(packedSubscribe));
  EXPECT_EQ(target.nKind, kHartSubscribeRequest);
  EXPECT_FALSE(target.pPayload);

  HARTTransactResponseInfo data, sub, error;
  data.nKind = kHartDataExchangeResponse;
  data.pDataExchange = std::make_unique<SovFDT_HART_DataExchangeResponse>();
  sub.nKind = kHartSubscribeResponse;
  sub.pSubscribe = std::make_unique<SovFDT_HART_SubscribeResponse>();
  sub.pSubscribe->bBurstModeDetected = true;
  error.nKind = kHartCommunicationError;
  error.communicationError.bstrCommunicationError = Bstr(u"busy");
  Variant packedData, packedSub, packedError;
  ASSERT_TRUE(data.Pack(packedData.Put()));
  ASSERT_TRUE(sub.Pack(packedSub.Put()));
  ASSERT_TRUE(error.Pack(packedError.Put()));
  HARTTransactResponseInfo response;
  ASSERT_TRUE(response.Unpack(packedError));
  EXPECT_EQ(U8(response.communicationError.bstrCommunicationError), "busy");
  ASSERT_TRUE(response.Unpack(packedData));
  EXPECT_TRUE(response.pDataExchange);
  EXPECT_EQ(response.communicationError.bstrCommunicationError.Get(), nullptr) << "the old error stayed";
  ASSERT_TRUE(response.Unpack(packedSub));
  EXPECT_FALSE(response.pDataExchange);
  ASSERT_TRUE(response.pSubscribe);
  EXPECT_TRUE(response.pSubscribe->bBurstModeDetected);
  EXPECT_FALSE(response.pUnsubscribe);
}

// ---- Refused arrays ----

TEST(HartRecordUnpack, RefusesArraysThatDoNotFitTheFields) {
  Variant bstrArray;
  bstrArray.vt = VT_ARRAY | VT_BSTR;
  bstrArray.parray = SafeArrayCreateVector(VT_BSTR, 0, 5);
  Variant notArray = UI1(1);
  Variant twoDimensions;
  SAFEARRAYBOUND bounds[2] = {{5, 0}, {1, 0}};
  twoDimensions.vt = VT_ARRAY | VT_VARIANT;
  twoDimensions.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  struct Case {
    const char* name;
    Variant packed;
  } statusCases[] = {
      {"array of texts", bstrArray},
      {"no array", notArray},
      {"two dimensions", twoDimensions},
      {"one element short", MakeArray({UI1(1), Bool(true), UI1(2), Bool(true)})},
      {"I4 for a byte", MakeArray({I4(1), Bool(true), UI1(2), Bool(true), UI1(3)})},
      {"byte for a flag", MakeArray({UI1(1), UI1(1), UI1(2), Bool(true), UI1(3)})},
      {"empty array", MakeArray({})},
  };
  for (Case& c : statusCases) {
    SovFDT_HART_Status status;
    EXPECT_FALSE(status.Unpack(c.packed)) << c.name;
  }

  // Wrong types inside nested records and kind-selected payloads.
  struct Nested {
    const char* name;
    Variant packed;
  } responses[] = {
      {"payload is a text", MakeArray({TextVar(u"R"), Variant(), I4(kHartDataExchangeResponse), TextVar(u"x")})},
      {"payload missing", MakeArray({TextVar(u"R"), Variant(), I4(kHartSubscribeResponse)})},
      {"byte for the kind", MakeArray({TextVar(u"R"), Variant(), UI1(5)})},
      {"nested status short",
       MakeArray({TextVar(u"R"), Variant(), I4(kHartDataExchangeResponse),
                  MakeArray({UI1(3), Bool(false), Bool(false), Bool(false), TextVar(u""), MakeArray({UI1(0)})})})},
  };
  for (Nested& c : responses) {
    HARTTransactResponseInfo info;
    EXPECT_FALSE(info.Unpack(c.packed)) << c.name;
  }
  HARTTransactRequestInfo request;
  EXPECT_FALSE(request.Unpack(MakeArray({TextVar(u"R"), UI4(1), Variant(), I4(kHartDataExchangeRequest)})))
      << "a data exchange request without its payload";
  EXPECT_FALSE(request.pPayload);
}

TEST(HartRecordUnpack, KindsWithoutPayloadUnpackFromFourElements) {
  HARTTransactRequestInfo request;
  ASSERT_TRUE(request.Unpack(MakeArray({TextVar(u"R"), UI4(1), Variant(), I4(kHartUnsubscribeRequest)})));
  EXPECT_EQ(request.nKind, kHartUnsubscribeRequest);
  EXPECT_FALSE(request.pPayload);
  HARTTransactResponseInfo response;
  ASSERT_TRUE(response.Unpack(MakeArray({TextVar(u"R"), Variant(), I4(0x4711)})));
  EXPECT_EQ(response.nKind, 0x4711);
  EXPECT_FALSE(response.pDataExchange || response.pSubscribe || response.pUnsubscribe);
}

// ---- The request-info base ----

TEST(HartRequestInfoBase, ReferenceAndValueNeedBothArguments) {
  HARTTransactRequestInfo info;
  ULONG value = 7;
  EXPECT_EQ(info.SetCommunicationReference(nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(info.SetCommunicationReference(Bstr(u"R"), nullptr), E_INVALIDARG);
  EXPECT_EQ(info.m_bstrCommunicationReference.Get(), nullptr);
  ASSERT_EQ(info.SetCommunicationReference(Bstr(u"R"), &value), S_OK);
  EXPECT_EQ(U8(info.m_bstrCommunicationReference), "R");
  EXPECT_EQ(info.m_nValue, 7u);
  info.Clear();
  EXPECT_EQ(info.m_bstrCommunicationReference.Get(), nullptr);
  EXPECT_EQ(info.m_nValue, 0u);
}

}  // namespace
